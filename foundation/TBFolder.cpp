#include "foundation/TBFolder.h"

#include <dirent.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>

#include "foundation/SystemInterface.h"
#include "foundation/TBFilename.h"
#include "foundation/TBResult.h"

namespace terbin {

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Device numbers of the mounts in the table, each with whether its type is
// a kernel pseudo file system. Read again when a device is met that the
// table did not have, since mounts come and go.
class MountTable {
public:
    bool isPseudo(uint64_t device) {
        std::lock_guard<std::mutex> guard(mutex_);
        auto known = devices_.find(device);
        if (known == devices_.end() && unknown_.count(device) == 0) {
            read();
            known = devices_.find(device);
            if (known == devices_.end())
                unknown_.insert(device);
        }
        return known != devices_.end() && known->second;
    }

private:
    void read() {
        static const std::set<std::string> pseudo = {
            "proc",    "sysfs",     "devtmpfs",   "devpts",      "cgroup",   "cgroup2",
            "debugfs", "tracefs",   "securityfs", "pstore",      "bpf",      "configfs",
            "fusectl", "mqueue",    "autofs",     "binfmt_misc", "efivarfs", "selinuxfs",
            "nsfs",    "hugetlbfs", "rpc_pipefs", "binder",      "ramfs"};
        std::ifstream table("/proc/self/mountinfo");
        std::string line;
        while (std::getline(table, line)) {
            // id parent major:minor root point options [tags...] - type source ...
            std::istringstream fields(line);
            std::string id, parent, numbers, word;
            fields >> id >> parent >> numbers;
            while (fields >> word && word != "-") {
            }
            std::string type;
            fields >> type;
            unsigned major = 0, minor = 0;
            if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) != 2)
                continue;
            bool& flag = devices_[makedev(major, minor)];
            flag = flag || pseudo.count(type) != 0;
        }
    }

    std::mutex mutex_;
    std::unordered_map<uint64_t, bool> devices_;
    std::set<uint64_t> unknown_;
};

}  // namespace

bool tb_file_isPseudoFileSystem(uint64_t device) {
    static MountTable table;
    return table.isPseudo(device);
}

TBFolder::TBFolder(const TBString& path, Fields fields) : path_(path), fields_(fields) {
    adopt(
        tb_system().openat(AT_FDCWD, path.isEmpty() ? "." : path.narrow().c_str(), FolderFlags, 0),
        nullptr);
}

TBFolder::TBFolder(const TBFolder& parent, const TBFileInfo& entry, Fields fields)
    : path_(TBFilename::concatPaths(parent.path(), entry.getName())), fields_(fields) {
    if (parent.handle() < 0) {
        error_ = TB_INVALID_PARAMETER;
        return;
    }
    // A link the caller chose to follow is followed once, here; anything
    // else must be the folder itself.
    const int flags = entry.isSymbolicLink() ? FolderFlags : FolderFlags | O_NOFOLLOW;
    adopt(tb_system().openat(parent.handle(), entry.getName().narrow().c_str(), flags, 0), &entry);
}

TBFolder::TBFolder(const TBFolder& parent, const TBString& name, Fields fields)
    : path_(TBFilename::concatPaths(parent.path(), name)), fields_(fields) {
    if (parent.handle() < 0) {
        error_ = TB_INVALID_PARAMETER;
        return;
    }
    adopt(tb_system().openat(parent.handle(), name.narrow().c_str(), FolderFlags | O_NOFOLLOW, 0),
          nullptr);
}

void TBFolder::adopt(int fd, const TBFileInfo* expected) {
    SystemInterface& sys = tb_system();
    if (fd < 0) {
        // A link where a folder was listed is refused by O_NOFOLLOW: there
        // is no folder on that path.
        error_ = tb_status_fail(tb_result_fromErrno(errno == ELOOP ? ENOTDIR : errno));
        return;
    }
    TBFileInfo self;
    if (!self.query(fd, "", TBString(), Fields::ChangeTest) || self.getError() != 0 ||
        !self.isDirectory()) {
        sys.close(fd);
        error_ = tb_status_fail(self.getError() ? self.getError() : TB_ACCESS_DENIED);
        return;
    }
    if (expected &&
        (self.getDevice() != expected->getDevice() || self.getInode() != expected->getInode())) {
        // Replaced since it was listed: not the folder the walk decided on.
        sys.close(fd);
        error_ = tb_status_fail(TB_ACCESS_DENIED);
        return;
    }
    device_ = self.getDevice();
    inode_ = self.getInode();
    fd_ = fd;
}

TBFolder::~TBFolder() {
    if (fd_ >= 0)
        tb_system().close(fd_);
}

uint32_t TBFolder::read(TBFileInfo& info) {
    return readNext(info);
}

uint32_t TBFolder::readNext(TBFileInfo& info) {
    if (error_ != 0)
        return error_;
    if (fd_ < 0)
        return TB_INVALID_PARAMETER;
    SystemInterface& sys = tb_system();
    for (;;) {
        if (used_ == filled_) {
            if (ended_)
                return tb_status_fail(TB_FILE_NOT_FOUND);
            if (!buffer_)
                buffer_ = std::make_unique<char[]>(BufferSize);
            const ssize_t n = sys.getdents64(fd_, buffer_.get(), BufferSize);
            if (n <= 0) {
                buffer_.reset();
                ended_ = true;
                used_ = filled_ = 0;
                if (n == 0)
                    return tb_status_fail(TB_FILE_NOT_FOUND);
                // The rest of the listing is unknown: the folder has failed.
                error_ = tb_status_fail(tb_result_fromErrno(errno));
                return error_;
            }
            used_ = 0;
            filled_ = static_cast<size_t>(n);
        }
        // struct linux_dirent64: inode, offset, record length, type, name.
        const char* record = buffer_.get() + used_;
        uint16_t length = 0;
        std::memcpy(&length, record + 16, sizeof length);
        const unsigned char type = static_cast<unsigned char>(record[18]);
        const char* name = record + 19;
        used_ += length;
        if (passOverFolders_ && type == DT_DIR)
            continue;
        if (info.query(fd_, name, TBString::fromBytes(std::string_view(name)), fields_)) {
            info.setListedIn(device_, type == DT_DIR);
            return 0;
        }
    }
}

uint32_t TBFolder::create(const TBString& path, bool parents) {
    SystemInterface& sys = tb_system();
    // The path is taken as it is: a folder name may hold a backslash here.
    const TBString& clean = path;
    std::string bytes = clean.narrow();
    while (bytes.size() > 1 && bytes.back() == '/') bytes.pop_back();
    if (sys.mkdir(bytes.c_str(), 0700) == 0)
        return 0;
    int error = errno;
    if (error == EEXIST)
        return TBFileInfo::isFolder(clean) ? 0 : TB_ALREADY_EXISTS;
    if (error != ENOENT || !parents)
        return tb_result_fromErrno(error);
    // Create the missing ancestors from the top down.
    for (size_t i = 1; i < bytes.size(); ++i) {
        if (bytes[i] != '/')
            continue;
        const std::string prefix = bytes.substr(0, i);
        if (sys.mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            error = errno;
            return tb_result_fromErrno(error);
        }
    }
    if (sys.mkdir(bytes.c_str(), 0700) == 0)
        return 0;
    error = errno;
    if (error == EEXIST && TBFileInfo::isFolder(clean))
        return 0;
    return tb_result_fromErrno(error);
}

uint32_t TBFolder::flushFileSystem() const {
    if (fd_ < 0)
        return error_ != 0 ? error_ : TB_INVALID_PARAMETER;
    if (tb_system().syncfs(fd_) != 0)
        return tb_status_fail(tb_result_fromErrno(errno));
    return 0;
}

uint64_t TBFolder::fileSystemId() const {
    struct statfs info {};
    if (fd_ < 0 || tb_system().fstatfs(fd_, &info) != 0)
        return 0;
    uint32_t halves[2];
    static_assert(sizeof(halves) == sizeof(info.f_fsid));
    std::memcpy(halves, &info.f_fsid, sizeof(halves));
    return (static_cast<uint64_t>(halves[0]) << 32) | halves[1];
}

uint32_t TBFolder::createIn(const TBFolder& parent, const TBString& name) {
    if (parent.handle() < 0)
        return TB_INVALID_PARAMETER;
    if (tb_system().mkdirat(parent.handle(), name.narrow().c_str(), 0700) == 0)
        return 0;
    return tb_status_fail(tb_result_fromErrno(errno));
}

uint32_t TBFolder::removeIn(const TBFolder& parent, const TBString& name, bool folder) {
    if (parent.handle() < 0)
        return TB_INVALID_PARAMETER;
    if (tb_system().unlinkat(parent.handle(), name.narrow().c_str(), folder ? AT_REMOVEDIR : 0) ==
        0) {
        return 0;
    }
    return tb_status_fail(tb_result_fromErrno(errno == EEXIST ? ENOTEMPTY : errno));
}

uint32_t TBFolder::remove(const TBString& path) {
    if (tb_system().rmdir(path.narrow().c_str()) == 0)
        return 0;
    return tb_status_fail(tb_result_fromErrno(errno == EEXIST ? ENOTEMPTY : errno));
}

TBFilteredFolder::TBFilteredFolder(const TBString& path, const TBString& pattern)
    : TBFolder(path), pattern_(pattern.foldCase()) {}

TBFilteredFolder::TBFilteredFolder(const TBFolder& parent, const TBFileInfo& entry,
                                   const TBString& pattern)
    : TBFolder(parent, entry), pattern_(pattern.foldCase()) {}

uint32_t TBFilteredFolder::read(TBFileInfo& info) {
    for (;;) {
        const uint32_t result = readNext(info);
        if (result != 0)
            return result;
        if (pattern_.isEmpty() || matches(pattern_, info.getName()))
            return 0;
    }
}

namespace {

// Matches s[si..] against p[pi..]; both already case folded.
bool matchFolded(const std::wstring& p, size_t pi, const std::wstring& s, size_t si) {
    size_t starP = std::wstring::npos, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == L'*') {
            starP = pi++;
            starS = si;
            continue;
        }
        if (pi < p.size() && p[pi] == L'[') {
            size_t j = pi + 1;
            bool negate = false;
            if (j < p.size() && (p[j] == L'!' || p[j] == L'^')) {
                negate = true;
                ++j;
            }
            bool found = false;
            bool first = true;
            while (j < p.size() && (p[j] != L']' || first)) {
                first = false;
                wchar_t lo = p[j];
                wchar_t hi = lo;
                if (j + 2 < p.size() && p[j + 1] == L'-' && p[j + 2] != L']') {
                    hi = p[j + 2];
                    j += 2;
                }
                if (s[si] >= lo && s[si] <= hi)
                    found = true;
                ++j;
            }
            if (j < p.size() && found != negate) {  // well-formed class that matched
                pi = j + 1;
                ++si;
                continue;
            }
            if (j >= p.size() && s[si] == L'[') {  // unterminated: a literal "["
                ++pi;
                ++si;
                continue;
            }
        } else if (pi < p.size() && (p[pi] == L'?' || p[pi] == s[si])) {
            ++pi;
            ++si;
            continue;
        }
        if (starP == std::wstring::npos)
            return false;
        pi = starP + 1;
        si = ++starS;
    }
    while (pi < p.size() && p[pi] == L'*') ++pi;
    return pi == p.size();
}

}  // namespace

bool TBFilteredFolder::matches(const TBString& pattern, const TBString& name) {
    return matchFolded(pattern.foldCase().str(), 0, name.foldCase().str(), 0);
}

}  // namespace terbin
