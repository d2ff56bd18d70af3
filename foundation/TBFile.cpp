#include "foundation/TBFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>

#include "foundation/SystemInterface.h"
#include "foundation/TBFolder.h"
#include "foundation/TBResult.h"

namespace terbin {

namespace {

// O_NONBLOCK: a FIFO put in place of a file must not hang the backup.
// O_NOATIME: reading for a backup should not count as use of the file (it is
// refused with EPERM on files of other owners, which are then opened without).
constexpr int ReadFlags = O_RDONLY | O_NONBLOCK | O_NOATIME;

}  // namespace

uint32_t TBFile::fail(int error) {
    errno = error;
    lastError_ = tb_status_fail(tb_result_fromErrno(error));
    return lastError_;
}

uint32_t TBFile::open(const TBString& path, int mode) {
    close();
    SystemInterface& sys = tb_system();
    const std::string bytes = path.narrow();
    position_ = 0;
    if (mode == ReadMode) {
        int fd = sys.open(bytes.c_str(), ReadFlags, 0);
        if (fd < 0 && errno == EPERM)
            fd = sys.open(bytes.c_str(), ReadFlags & ~O_NOATIME, 0);
        return adoptForReading(fd, false);
    }
    if (mode != WriteMode)
        return fail(EINVAL);
    const int fd = sys.open(bytes.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return fail(errno == ELOOP ? EACCES : errno);
    struct stat st {};
    if (sys.fstat(fd, &st) != 0) {
        const int error = errno;
        sys.close(fd);
        return fail(error);
    }
    // The owner-write bit plays the part of a read-only attribute, which
    // protects a file even from an administrator.
    if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0) {
        sys.close(fd);
        return fail(EACCES);
    }
    if (st.st_size > 0 && sys.ftruncate(fd, 0) != 0) {
        const int error = errno;
        sys.close(fd);
        return fail(error);
    }
    fd_ = fd;
    lastError_ = 0;
    return 0;
}

uint32_t TBFile::adoptForReading(int fd, bool realFileSystemOnly) {
    SystemInterface& sys = tb_system();
    if (fd < 0)
        return fail(errno);
    struct stat st {};
    int error = 0;
    if (sys.fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    else if (realFileSystemOnly && tb_file_isPseudoFileSystem(st.st_dev))
        error = EACCES;
    if (error != 0) {
        sys.close(fd);
        return fail(error);
    }
    sparse_ = static_cast<int64_t>(st.st_blocks) * 512 < static_cast<int64_t>(st.st_size);
    fd_ = fd;
    lastError_ = 0;
    return 0;
}

uint32_t TBFile::openIn(const TBFolder& folder, const TBString& name, bool followLink) {
    close();
    position_ = 0;
    if (folder.handle() < 0)
        return fail(EBADF);
    SystemInterface& sys = tb_system();
    const std::string bytes = name.narrow();
    const int flags = followLink ? ReadFlags : ReadFlags | O_NOFOLLOW;
    int fd = sys.openat(folder.handle(), bytes.c_str(), flags, 0);
    if (fd < 0 && errno == EPERM)
        fd = sys.openat(folder.handle(), bytes.c_str(), flags & ~O_NOATIME, 0);
    // A link where a file was listed has been swapped in since: refused.
    if (fd < 0 && errno == ELOOP)
        return fail(EACCES);
    // What a link leads to may lie anywhere, /proc and /sys included.
    return adoptForReading(fd, followLink);
}

uint32_t TBFile::createIn(const TBFolder& folder, const TBString& name) {
    close();
    position_ = 0;
    if (folder.handle() < 0)
        return fail(EBADF);
    const int fd = tb_system().openat(folder.handle(), name.narrow().c_str(),
                                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return fail(errno);
    fd_ = fd;
    lastError_ = 0;
    return 0;
}

uint32_t TBFile::read(void* buffer, int64_t size, int64_t& count) {
    count = 0;
    if (fd_ < 0)
        return fail(EBADF);
    SystemInterface& sys = tb_system();
    auto* out = static_cast<char*>(buffer);
    // A short read is taken as the end of the file by callers, so keep reading
    // until the buffer is full or the file really ends.
    while (count < size) {
        const ssize_t n = sys.read(fd_, out + count, static_cast<size_t>(size - count));
        if (n < 0) {
            if (errno == EAGAIN)
                continue;
            return fail(errno);
        }
        if (n == 0)
            break;
        count += n;
    }
    return 0;
}

uint32_t TBFile::write(const void* buffer, int64_t count, int64_t& written) {
    written = 0;
    if (fd_ < 0)
        return fail(EBADF);
    SystemInterface& sys = tb_system();
    const auto* in = static_cast<const char*>(buffer);
    while (written < count) {
        const ssize_t n = sys.write(fd_, in + written, static_cast<size_t>(count - written));
        if (n < 0) {
            const int error = errno;
            if (written > 0) {
                // Undo the partial write so that a retry of the same bytes
                // (after a full disk, say) cannot duplicate them.
                sys.ftruncate(fd_, position_);
                sys.lseek(fd_, position_, SEEK_SET);
                written = 0;
            }
            return fail(error);
        }
        if (n == 0) {
            errno = EIO;
            break;
        }
        written += n;
    }
    position_ += written;
    lastError_ = 0;
    return 0;
}

uint32_t TBFile::transferFrom(TBFile& source, int64_t count, int64_t& copied) {
    copied = 0;
    if (fd_ < 0 || source.fd_ < 0)
        return fail(EBADF);
    SystemInterface& sys = tb_system();
    while (copied < count) {
        const ssize_t n = sys.copyFileRange(source.fd_, fd_, static_cast<size_t>(count - copied));
        if (n < 0) {
            const int error = errno;
            if (copied > 0) {
                // Put both files back so the same bytes can be copied again.
                sys.ftruncate(fd_, position_);
                sys.lseek(fd_, position_, SEEK_SET);
                sys.lseek(source.fd_, -copied, SEEK_CUR);
                copied = 0;
            }
            return fail(error);
        }
        if (n == 0)
            break;
        copied += n;
    }
    position_ += copied;
    lastError_ = 0;
    return 0;
}

uint32_t TBFile::seek(int64_t offset) {
    if (fd_ < 0)
        return fail(EBADF);
    if (tb_system().lseek(fd_, offset, SEEK_SET) < 0)
        return fail(errno);
    position_ = offset;
    return 0;
}

uint32_t TBFile::setSize(int64_t size) {
    if (fd_ < 0)
        return fail(EBADF);
    if (tb_system().ftruncate(fd_, size) != 0)
        return fail(errno);
    return 0;
}

uint32_t TBFile::findData(int64_t offset, int64_t& start, int64_t& end) {
    start = -1;
    end = -1;
    if (fd_ < 0)
        return fail(EBADF);
    SystemInterface& sys = tb_system();
    const off_t data = sys.lseek(fd_, offset, SEEK_DATA);
    if (data < 0) {
        if (errno == ENXIO)
            return 0;
        if (errno != EINVAL)
            return fail(errno);
        start = offset;
        end = std::numeric_limits<int64_t>::max();
        return 0;
    }
    const off_t hole = sys.lseek(fd_, data, SEEK_HOLE);
    if (hole < 0 && errno != EINVAL)
        return fail(errno);
    start = data;
    end = hole < 0 ? std::numeric_limits<int64_t>::max() : hole;
    return 0;
}

uint32_t TBFile::sync() {
    if (fd_ < 0)
        return fail(EBADF);
    if (tb_system().fsync(fd_) != 0)
        return fail(errno);
    return 0;
}

uint32_t TBFile::getInfo(TBFileInfo& info) const {
    if (fd_ < 0)
        return TB_INVALID_PARAMETER;
    if (!info.query(fd_, "", TBString()))
        return tb_status_getLastError();
    return info.getError();
}

uint32_t TBFile::setTimes(const TBTime& accessed, const TBTime& modified) {
    const struct timespec times[2] = {accessed.toTimespec(), modified.toTimespec()};
    if (tb_system().futimens(fd_, times) != 0)
        return fail(errno);
    return 0;
}

uint32_t TBFile::setOwnerAndMode(mode_t mode, uid_t owner, gid_t group) {
    SystemInterface& sys = tb_system();
    mode &= 07777;
    struct stat st {};
    const bool ownerKept = (sys.fchown(fd_, owner, group) == 0) ||
                           (sys.fstat(fd_, &st) == 0 && st.st_uid == owner && st.st_gid == group);
    if (!ownerKept)
        mode &= 0700;
    if (sys.fchmod(fd_, mode) != 0)
        return fail(errno);
    return 0;
}

uint32_t TBFile::close() {
    if (fd_ < 0)
        return 0;
    // The descriptor is gone whatever close() says, so it is never retried.
    const int closed = tb_system().close(fd_);
    fd_ = -1;
    return closed == 0 ? 0 : fail(errno);
}

uint32_t TBFile::readAll(const TBString& path, std::string& bytes, int64_t maxBytes) {
    bytes.clear();
    TBFile file;
    if (const uint32_t result = file.open(path, ReadMode); result != 0)
        return result;
    TBFileInfo info;
    if (file.getInfo(info) == 0) {
        if (info.getSize() > maxBytes)
            return TB_FILE_TOO_LARGE;
        bytes.reserve(static_cast<size_t>(info.getSize()));
    }
    // The size is only a hint: the file may grow meanwhile, and pseudo files
    // report 0. Reading goes on to the real end.
    constexpr int64_t ChunkSize = 64 * 1024;
    for (;;) {
        const size_t used = bytes.size();
        bytes.resize(used + ChunkSize);
        int64_t count = 0;
        if (const uint32_t result = file.read(bytes.data() + used, ChunkSize, count); result != 0) {
            bytes.resize(used);
            return result;
        }
        bytes.resize(used + static_cast<size_t>(count));
        if (static_cast<int64_t>(bytes.size()) > maxBytes)
            return TB_FILE_TOO_LARGE;
        if (count < ChunkSize)
            return 0;
    }
}

uint32_t TBFile::remove(const TBString& path) {
    if (tb_system().unlink(path.narrow().c_str()) != 0) {
        return tb_status_fail(tb_result_fromErrno(errno));
    }
    return 0;
}

namespace {

uint32_t renameWithin(const TBFolder& folder, const TBString& from, const TBString& to,
                      unsigned flags) {
    if (folder.handle() < 0)
        return tb_status_fail(TB_INVALID_PARAMETER);
    if (tb_system().renameat2(folder.handle(), from.narrow().c_str(), folder.handle(),
                              to.narrow().c_str(), flags) != 0) {
        return tb_status_fail(tb_result_fromErrno(errno));
    }
    return 0;
}

}  // namespace

uint32_t TBFile::renameNewIn(const TBFolder& folder, const TBString& from, const TBString& to) {
    return renameWithin(folder, from, to, RENAME_NOREPLACE);
}

uint32_t TBFile::renameIn(const TBFolder& folder, const TBString& from, const TBString& to) {
    return renameWithin(folder, from, to, 0);
}

}  // namespace terbin
