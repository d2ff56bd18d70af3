// The one seam between the foundation and the operating system. Every raw
// system call the foundation makes on files, folders and metadata goes through
// the installed SystemInterface, so a test can wrap it (SystemInterfaceWrapper)
// and produce a full disk, a permission error, a failed read, a short write or
// a vanishing file on demand, even when the tests run as root.
//
// Each operation behaves like the POSIX call of the same name: -1 (or null)
// with errno set on failure.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>

namespace terbin {

class SystemInterface {
public:
    virtual ~SystemInterface() = default;

    virtual int open(const char* path, int flags, mode_t mode) = 0;
    // open relative to the folder open as `dirfd`.
    virtual int openat(int dirfd, const char* name, int flags, mode_t mode) = 0;
    virtual ssize_t read(int fd, void* buffer, size_t count) = 0;
    virtual ssize_t write(int fd, const void* buffer, size_t count) = 0;
    // Copies inside the kernel from the current position of `fdIn` to that of
    // `fdOut`, advancing both (copy_file_range without explicit offsets).
    virtual ssize_t copyFileRange(int fdIn, int fdOut, size_t count) = 0;
    virtual off_t lseek(int fd, off_t offset, int whence) = 0;
    virtual int ftruncate(int fd, off_t length) = 0;
    virtual int close(int fd) = 0;
    virtual int fstat(int fd, struct stat* info) = 0;
    virtual int fstatfs(int fd, struct statfs* info) = 0;
    virtual int fsync(int fd) = 0;
    virtual int syncfs(int fd) = 0;
    // A whole-file advisory lock, owned by the open file description: it
    // stays while any duplicate of the descriptor is open.
    virtual int flock(int fd, int operation) = 0;
    // statx relative to `dirfd` (AT_FDCWD for plain paths).
    virtual int statx(int dirfd, const char* path, int flags, unsigned mask,
                      struct statx* info) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int fchown(int fd, uid_t owner, gid_t group) = 0;
    virtual int futimens(int fd, const struct timespec times[2]) = 0;
    virtual int chmod(const char* path, mode_t mode) = 0;
    virtual int utimensat(int dirfd, const char* path, const struct timespec times[2],
                          int flags) = 0;
    virtual int mkdir(const char* path, mode_t mode) = 0;
    virtual int mkdirat(int dirfd, const char* name, mode_t mode) = 0;
    virtual int unlinkat(int dirfd, const char* name, int flags) = 0;
    virtual int renameat(int fromDirfd, const char* from, int toDirfd, const char* to) = 0;
    virtual int renameat2(int fromDirfd, const char* from, int toDirfd, const char* to,
                          unsigned flags) = 0;
    virtual int rmdir(const char* path) = 0;
    virtual int unlink(const char* path) = 0;
    virtual int rename(const char* from, const char* to) = 0;
    virtual DIR* opendir(const char* path) = 0;
    // Reads the next records of the listing of the folder open as `fd`
    // (struct linux_dirent64); 0 at its end.
    virtual ssize_t getdents64(int fd, void* buffer, size_t size) = 0;
    // Returns null at the end of the listing (errno untouched) or on error (errno set).
    virtual struct dirent* readdir(DIR* dir) = 0;
    virtual int closedir(DIR* dir) = 0;
};

// The interface in force; the real operating system unless a test installed another.
SystemInterface& tb_system();
// The real operating system, for wrappers to forward to.
SystemInterface& tb_realSystem();
// Installs `replacement` (null restores the real system); returns the previous one.
// Install only while no other thread uses the foundation.
SystemInterface* tb_setSystem(SystemInterface* replacement);

// Forwards every call to another interface; tests derive from it and override
// only the calls they want to fail.
class SystemInterfaceWrapper : public SystemInterface {
public:
    explicit SystemInterfaceWrapper(SystemInterface& target) : target_(target) {}

    int open(const char* p, int f, mode_t m) override { return target_.open(p, f, m); }
    int openat(int d, const char* p, int f, mode_t m) override {
        return target_.openat(d, p, f, m);
    }
    ssize_t read(int fd, void* b, size_t n) override { return target_.read(fd, b, n); }
    ssize_t write(int fd, const void* b, size_t n) override { return target_.write(fd, b, n); }
    ssize_t copyFileRange(int in, int out, size_t n) override {
        return target_.copyFileRange(in, out, n);
    }
    off_t lseek(int fd, off_t o, int w) override { return target_.lseek(fd, o, w); }
    int ftruncate(int fd, off_t l) override { return target_.ftruncate(fd, l); }
    int close(int fd) override { return target_.close(fd); }
    int fstat(int fd, struct stat* i) override { return target_.fstat(fd, i); }
    int fstatfs(int fd, struct statfs* i) override { return target_.fstatfs(fd, i); }
    int fsync(int fd) override { return target_.fsync(fd); }
    int syncfs(int fd) override { return target_.syncfs(fd); }
    int flock(int fd, int op) override { return target_.flock(fd, op); }
    int statx(int d, const char* p, int f, unsigned m, struct statx* i) override {
        return target_.statx(d, p, f, m, i);
    }
    int fchmod(int fd, mode_t m) override { return target_.fchmod(fd, m); }
    int fchown(int fd, uid_t o, gid_t g) override { return target_.fchown(fd, o, g); }
    int futimens(int fd, const struct timespec t[2]) override { return target_.futimens(fd, t); }
    int chmod(const char* p, mode_t m) override { return target_.chmod(p, m); }
    int utimensat(int d, const char* p, const struct timespec t[2], int f) override {
        return target_.utimensat(d, p, t, f);
    }
    int mkdir(const char* p, mode_t m) override { return target_.mkdir(p, m); }
    int mkdirat(int d, const char* p, mode_t m) override { return target_.mkdirat(d, p, m); }
    int unlinkat(int d, const char* p, int f) override { return target_.unlinkat(d, p, f); }
    int renameat(int d, const char* a, int e, const char* b) override {
        return target_.renameat(d, a, e, b);
    }
    int renameat2(int d, const char* a, int e, const char* b, unsigned f) override {
        return target_.renameat2(d, a, e, b, f);
    }
    int rmdir(const char* p) override { return target_.rmdir(p); }
    int unlink(const char* p) override { return target_.unlink(p); }
    int rename(const char* a, const char* b) override { return target_.rename(a, b); }
    DIR* opendir(const char* p) override { return target_.opendir(p); }
    ssize_t getdents64(int fd, void* b, size_t n) override { return target_.getdents64(fd, b, n); }
    struct dirent* readdir(DIR* d) override {
        return target_.readdir(d);
    }
    int closedir(DIR* d) override { return target_.closedir(d); }

protected:
    SystemInterface& target_;
};

}  // namespace terbin
