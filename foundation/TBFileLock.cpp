#include "foundation/TBFileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>
#include <utility>

#include "foundation/SystemInterface.h"
#include "foundation/TBResult.h"

namespace terbin {

namespace {

// O_NONBLOCK: a FIFO put in place of the lock file must not hang the opener.
constexpr int OpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

uint32_t fail(int error) {
    errno = error;
    return tb_status_fail(tb_result_fromErrno(error));
}

uint32_t failClosing(SystemInterface& sys, int fd, int error) {
    sys.close(fd);
    return fail(error);
}

// Opens the lock file, creating it and, when that is what is missing, its folder.
int openLockFile(SystemInterface& sys, const std::string& path) {
    const int fd = sys.open(path.c_str(), O_RDWR | O_CREAT | OpenFlags, 0600);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return fd;
    // EEXIST: another process created the folder first.
    if (sys.mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST)
        return -1;
    return sys.open(path.c_str(), O_RDWR | O_CREAT | OpenFlags, 0600);
}

// The id in a lock file read from its start: decimal digits ended by a
// newline. Anything else (an empty file, a holder halfway through writing)
// gives 0.
pid_t readHolder(SystemInterface& sys, int fd) {
    char text[32];
    size_t size = 0;
    while (size < sizeof text) {
        const ssize_t n = sys.read(fd, text + size, sizeof text - size);
        if (n <= 0)
            break;
        size += static_cast<size_t>(n);
    }
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(text, text + size, pid);
    const bool whole = error == std::errc() && end + 1 == text + size && *end == '\n';
    return whole && pid > 0 ? pid : 0;
}

// Replaces the contents of the lock file, open at its start, by our own id.
// 0 or the errno of the failure.
int writeOwnId(SystemInterface& sys, int fd) {
    if (sys.ftruncate(fd, 0) != 0)
        return errno;
    const std::string text = std::to_string(::getpid()) + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = sys.write(fd, text.data() + done, text.size() - done);
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

TBFileLock::TBFileLock(TBFileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), holder_(std::exchange(other.holder_, 0)) {}

TBFileLock& TBFileLock::operator=(TBFileLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = std::exchange(other.fd_, -1);
        holder_ = std::exchange(other.holder_, 0);
    }
    return *this;
}

uint32_t TBFileLock::acquire(const TBString& path) {
    release();
    holder_ = 0;
    SystemInterface& sys = tb_system();
    const int fd = openLockFile(sys, path.narrow());
    if (fd < 0)
        return fail(errno == ELOOP ? EACCES : errno);
    struct stat st {};
    if (sys.fstat(fd, &st) != 0)
        return failClosing(sys, fd, errno);
    if (!S_ISREG(st.st_mode))
        return failClosing(sys, fd, EINVAL);
    if (sys.flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK)
            return failClosing(sys, fd, error);
        holder_ = readHolder(sys, fd);
        sys.close(fd);
        errno = error;
        return tb_status_fail(TB_LOCK_HELD);
    }
    if (const int error = writeOwnId(sys, fd)) {
        // Leave no half-written id behind for others to read.
        sys.ftruncate(fd, 0);
        return failClosing(sys, fd, error);
    }
    fd_ = fd;
    return TB_OK;
}

void TBFileLock::release() {
    if (fd_ < 0)
        return;
    TBErrnoKeeper keeper;
    SystemInterface& sys = tb_system();
    // Emptied while still held, so nobody reads our id once we are gone.
    sys.ftruncate(fd_, 0);
    sys.close(fd_);
    fd_ = -1;
}

}  // namespace terbin
