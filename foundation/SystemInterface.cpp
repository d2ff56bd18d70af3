#include "foundation/SystemInterface.h"

#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace terbin {

namespace {

class PosixSystem final : public SystemInterface {
public:
    int open(const char* path, int flags, mode_t mode) override {
        int fd;
        do {
            fd = ::open(path, flags | O_CLOEXEC, mode);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }
    int openat(int dirfd, const char* name, int flags, mode_t mode) override {
        int fd;
        do {
            fd = ::openat(dirfd, name, flags | O_CLOEXEC, mode);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }
    ssize_t read(int fd, void* buffer, size_t count) override {
        ssize_t n;
        do {
            n = ::read(fd, buffer, count);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    ssize_t write(int fd, const void* buffer, size_t count) override {
        ssize_t n;
        do {
            n = ::write(fd, buffer, count);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    ssize_t copyFileRange(int fdIn, int fdOut, size_t count) override {
        ssize_t n;
        do {
            n = ::copy_file_range(fdIn, nullptr, fdOut, nullptr, count, 0);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    off_t lseek(int fd, off_t offset, int whence) override { return ::lseek(fd, offset, whence); }
    int ftruncate(int fd, off_t length) override { return ::ftruncate(fd, length); }
    int close(int fd) override { return ::close(fd); }
    int fstat(int fd, struct stat* info) override { return ::fstat(fd, info); }
    int fstatfs(int fd, struct statfs* info) override { return ::fstatfs(fd, info); }
    int fsync(int fd) override { return ::fsync(fd); }
    int syncfs(int fd) override { return ::syncfs(fd); }
    int flock(int fd, int operation) override {
        int result;
        do {
            result = ::flock(fd, operation);
        } while (result < 0 && errno == EINTR);
        return result;
    }
    int statx(int dirfd, const char* path, int flags, unsigned mask, struct statx* info) override {
        return ::statx(dirfd, path, flags, mask, info);
    }
    int fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
    int fchown(int fd, uid_t owner, gid_t group) override { return ::fchown(fd, owner, group); }
    int futimens(int fd, const struct timespec times[2]) override { return ::futimens(fd, times); }
    int chmod(const char* path, mode_t mode) override { return ::chmod(path, mode); }
    int utimensat(int dirfd, const char* path, const struct timespec times[2], int flags) override {
        return ::utimensat(dirfd, path, times, flags);
    }
    int mkdir(const char* path, mode_t mode) override { return ::mkdir(path, mode); }
    int mkdirat(int dirfd, const char* name, mode_t mode) override {
        return ::mkdirat(dirfd, name, mode);
    }
    int unlinkat(int dirfd, const char* name, int flags) override {
        return ::unlinkat(dirfd, name, flags);
    }
    int renameat(int fromDirfd, const char* from, int toDirfd, const char* to) override {
        return ::renameat(fromDirfd, from, toDirfd, to);
    }
    int renameat2(int fromDirfd, const char* from, int toDirfd, const char* to,
                  unsigned flags) override {
        return ::renameat2(fromDirfd, from, toDirfd, to, flags);
    }
    int rmdir(const char* path) override { return ::rmdir(path); }
    int unlink(const char* path) override { return ::unlink(path); }
    int rename(const char* from, const char* to) override { return ::rename(from, to); }
    DIR* opendir(const char* path) override { return ::opendir(path); }
    ssize_t getdents64(int fd, void* buffer, size_t size) override {
        ssize_t n;
        do {
            n = ::getdents64(fd, buffer, size);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    struct dirent* readdir(DIR* dir) override {
        return ::readdir(dir);
    }
    int closedir(DIR* dir) override { return ::closedir(dir); }
};

PosixSystem& posix() {
    static PosixSystem instance;
    return instance;
}

std::atomic<SystemInterface*> current{nullptr};

}  // namespace

SystemInterface& tb_system() {
    SystemInterface* s = current.load(std::memory_order_acquire);
    return s ? *s : posix();
}

SystemInterface& tb_realSystem() {
    return posix();
}

SystemInterface* tb_setSystem(SystemInterface* replacement) {
    SystemInterface* previous = current.exchange(replacement, std::memory_order_acq_rel);
    return previous ? previous : &posix();
}

}  // namespace terbin
