#include "foundation/TBFileInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

#include "foundation/SystemInterface.h"
#include "foundation/TBFilename.h"
#include "foundation/TBResult.h"

namespace terbin {

namespace {

constexpr unsigned ChangeTestMask = STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_MTIME;
constexpr unsigned AllMask = ChangeTestMask | STATX_ATIME | STATX_BTIME | STATX_UID | STATX_GID;

TBTime fromStatx(const struct statx_timestamp& t) {
    return TBTime(t.tv_sec, static_cast<int32_t>(t.tv_nsec));
}

}  // namespace

TBFileInfo::TBFileInfo(const TBString& path) {
    name_ = TBFilename::basename(path);
    fill(AT_FDCWD, path.narrow().c_str(), Fields::All);
    error_ = 0;
}

bool TBFileInfo::query(int dirfd, const char* name, const TBString& wideName, Fields fields) {
    name_ = wideName;
    return fill(dirfd, name, fields);
}

void TBFileInfo::setListedIn(uint64_t device, bool listedAsFolder) {
    listedAsFolder_ = listedAsFolder;
    reparse_ = kind_ == Kind::Directory && !symlink_ && (mountRoot_ || device_ != device);
}

bool TBFileInfo::fill(int dirfd, const char* path, Fields fields) {
    kind_ = Kind::Other;
    symlink_ = false;
    exists_ = false;
    mountRoot_ = false;
    reparse_ = false;
    error_ = 0;
    struct statx sx {};
    SystemInterface& sys = tb_system();
    const unsigned mask = fields == Fields::All ? AllMask : ChangeTestMask;
    const int emptyPath = path[0] == '\0' ? AT_EMPTY_PATH : 0;
    if (sys.statx(dirfd, path, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | emptyPath, mask, &sx) != 0) {
        const int failure = errno;
        tb_status_setLastError(tb_result_fromErrno(failure));
        if (failure == ENOENT)
            return false;
        // Listed but not examined: a failure of its own, never a silent gap.
        error_ = tb_result_fromErrno(failure);
        return true;
    }
    exists_ = true;
    if (S_ISLNK(sx.stx_mode)) {
        symlink_ = true;
        // A link counts as what it points to; a dangling one is neither.
        struct statx target {};
        if (sys.statx(dirfd, path, AT_NO_AUTOMOUNT, mask, &target) != 0)
            return true;
        sx = target;
    }
    mountRoot_ = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
                 (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    if (S_ISREG(sx.stx_mode)) {
        kind_ = Kind::File;
    } else if (S_ISDIR(sx.stx_mode)) {
        kind_ = Kind::Directory;
    }
    size_ = static_cast<int64_t>(sx.stx_size);
    mode_ = sx.stx_mode & 07777;
    owner_ = sx.stx_uid;
    group_ = sx.stx_gid;
    device_ = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    inode_ = sx.stx_ino;
    accessed_ = fromStatx(sx.stx_atime);
    modified_ = fromStatx(sx.stx_mtime);
    created_ = (sx.stx_mask & STATX_BTIME) ? fromStatx(sx.stx_btime) : modified_;
    return true;
}

bool TBFileInfo::isFile(const TBString& path) {
    struct statx sx {};
    return tb_system().statx(AT_FDCWD, path.narrow().c_str(), AT_NO_AUTOMOUNT, STATX_TYPE, &sx) ==
               0 &&
           S_ISREG(sx.stx_mode);
}

bool TBFileInfo::isFolder(const TBString& path) {
    struct statx sx {};
    return tb_system().statx(AT_FDCWD, path.narrow().c_str(), AT_NO_AUTOMOUNT, STATX_TYPE, &sx) ==
               0 &&
           S_ISDIR(sx.stx_mode);
}

uint32_t TBFileInfo::getFileTimes(const TBString& path, TBTime& created, TBTime& accessed,
                                  TBTime& modified) {
    TBFileInfo info(path);
    if (!info.exists_)
        return tb_status_getLastError();
    created = info.created_;
    accessed = info.accessed_;
    modified = info.modified_;
    return 0;
}

uint32_t TBFileInfo::setFileTimes(const TBString& path, const TBTime& /*created*/,
                                  const TBTime& accessed, const TBTime& modified) {
    const struct timespec times[2] = {accessed.toTimespec(), modified.toTimespec()};
    if (tb_system().utimensat(AT_FDCWD, path.narrow().c_str(), times, 0) != 0) {
        return tb_status_fail(tb_result_fromErrno(errno));
    }
    return 0;
}

}  // namespace terbin
