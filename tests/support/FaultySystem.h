// A SystemInterface that forwards to the real operating system but lets a
// test fail or cut short chosen calls on chosen paths, so a full disk, a
// refused open, a failed read or a short write can be had on demand, even as
// root. Installed for the lifetime of the object.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "foundation/SystemInterface.h"

class FaultySystem : public terbin::SystemInterfaceWrapper {
public:
    // The calls a hook can be set on. A kernel copy is also a write to its
    // target, and is declined (EXDEV) while its source has a read hook, so
    // that the source's reads all go through read(). Calls relative to an
    // open folder see the folder's path joined with the name. Listing is the
    // start of a folder's listing, ListingRead each read of it, Examine a
    // query of an entry's metadata (statx), Remove an unlink or rmdir, Flush
    // a flush of a whole file system (syncfs on a folder in it).
    enum Call {
        Open,
        Read,
        Write,
        KernelCopy,
        Listing,
        ListingRead,
        Examine,
        Mkdir,
        Remove,
        Rename,
        Flush
    };
    // A hook's verdict on one call: fail it with `error`, or let it move at
    // most `limit` bytes (with 0, it moves nothing and reports 0).
    struct Outcome {
        Outcome(int failWith = 0, size_t atMost = SIZE_MAX) : error(failWith), limit(atMost) {}
        int error;
        size_t limit;
    };
    using Hook = std::function<Outcome(int)>;

    FaultySystem() : SystemInterfaceWrapper(terbin::tb_realSystem()) {
        previous_ = terbin::tb_setSystem(this);
    }
    ~FaultySystem() override { terbin::tb_setSystem(previous_ == this ? nullptr : previous_); }

    // Every later `call` on a path containing `part` (any path when empty)
    // first runs `hook`, outside the lock and on the caller's thread, with the
    // number of earlier such calls.
    void on(Call call, std::string part, Hook hook) {
        std::lock_guard<std::mutex> guard(mutex_);
        hooks_[call] = {std::move(part), std::move(hook), 0};
    }
    void fail(Call call, std::string part, int error) {
        on(call, std::move(part), [error](int) { return error; });
    }
    // Every later successful query of an entry whose path contains `part`
    // passes its result through `change` (a device number made up, say).
    void alterExamined(std::string part, std::function<void(struct statx&)> change) {
        std::lock_guard<std::mutex> guard(mutex_);
        alterPart_ = std::move(part);
        alter_ = std::move(change);
    }

    int open(const char* path, int flags, mode_t mode) override {
        if (const int error = decide(Open, path).error)
            return failed(error);
        const int fd = target_.open(path, flags, mode);
        std::lock_guard<std::mutex> guard(mutex_);
        if (fd >= 0)
            paths_[fd] = path;
        return fd;
    }
    int openat(int dirfd, const char* name, int flags, mode_t mode) override {
        const std::string path = joined(dirfd, name);
        if (const int error = decide(Open, path).error)
            return failed(error);
        const int fd = target_.openat(dirfd, name, flags, mode);
        std::lock_guard<std::mutex> guard(mutex_);
        if (fd >= 0)
            paths_[fd] = path;
        return fd;
    }
    int close(int fd) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            paths_.erase(fd);
            listed_.erase(fd);
        }
        return target_.close(fd);
    }
    ssize_t read(int fd, void* buffer, size_t count) override {
        if (const int error = decide(Read, pathOf(fd)).error)
            return failed(error);
        return target_.read(fd, buffer, count);
    }
    ssize_t write(int fd, const void* buffer, size_t count) override {
        const Outcome outcome = decide(Write, pathOf(fd));
        if (outcome.error)
            return failed(outcome.error);
        count = std::min(count, outcome.limit);
        return count == 0 ? 0 : target_.write(fd, buffer, count);
    }
    ssize_t copyFileRange(int fdIn, int fdOut, size_t count) override {
        const std::string source = pathOf(fdIn);
        if (std::lock_guard<std::mutex> guard(mutex_); find(Read, source))
            return failed(EXDEV);
        for (const Call call : {KernelCopy, Write}) {
            const Outcome outcome = decide(call, pathOf(fdOut));
            if (outcome.error)
                return failed(outcome.error);
            if ((count = std::min(count, outcome.limit)) == 0)
                return 0;
        }
        return target_.copyFileRange(fdIn, fdOut, count);
    }
    DIR* opendir(const char* path) override {
        if (const int error = decide(Listing, path).error) {
            errno = error;
            return nullptr;
        }
        return target_.opendir(path);
    }
    // The first read of a folder's listing is its start (Listing), every
    // read a ListingRead.
    ssize_t getdents64(int fd, void* buffer, size_t size) override {
        const std::string path = pathOf(fd);
        bool first;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            first = listed_.insert(fd).second;
        }
        for (const Call call : {Listing, ListingRead}) {
            if (call == Listing && !first)
                continue;
            if (const int error = decide(call, path).error)
                return failed(error);
        }
        return target_.getdents64(fd, buffer, size);
    }
    int statx(int dirfd, const char* name, int flags, unsigned mask, struct statx* info) override {
        const std::string path = joined(dirfd, name);
        if (const int error = decide(Examine, path).error)
            return failed(error);
        const int result = target_.statx(dirfd, name, flags, mask, info);
        std::function<void(struct statx&)> change;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (alter_ && path.find(alterPart_) != std::string::npos)
                change = alter_;
        }
        if (result == 0 && change)
            change(*info);
        return result;
    }
    int syncfs(int fd) override {
        if (const int error = decide(Flush, pathOf(fd)).error)
            return failed(error);
        return target_.syncfs(fd);
    }
    int mkdir(const char* path, mode_t mode) override {
        if (const int error = decide(Mkdir, path).error)
            return failed(error);
        return target_.mkdir(path, mode);
    }
    int mkdirat(int dirfd, const char* name, mode_t mode) override {
        if (const int error = decide(Mkdir, joined(dirfd, name)).error)
            return failed(error);
        return target_.mkdirat(dirfd, name, mode);
    }
    int unlinkat(int dirfd, const char* name, int flags) override {
        if (const int error = decide(Remove, joined(dirfd, name)).error)
            return failed(error);
        return target_.unlinkat(dirfd, name, flags);
    }
    int renameat(int fromDirfd, const char* from, int toDirfd, const char* to) override {
        if (const int error = decide(Rename, joined(toDirfd, to)).error)
            return failed(error);
        return target_.renameat(fromDirfd, from, toDirfd, to);
    }
    int renameat2(int fromDirfd, const char* from, int toDirfd, const char* to,
                  unsigned flags) override {
        if (const int error = decide(Rename, joined(toDirfd, to)).error)
            return failed(error);
        return target_.renameat2(fromDirfd, from, toDirfd, to, flags);
    }

private:
    struct Hooked {
        std::string part;
        Hook hook;
        int calls = 0;
    };

    static int failed(int error) {
        errno = error;
        return -1;
    }
    std::string pathOf(int fd) {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto it = paths_.find(fd);
        return it == paths_.end() ? std::string() : it->second;
    }
    // The path that `name` relative to the folder open as `dirfd` stands for.
    std::string joined(int dirfd, const char* name) {
        if (dirfd == AT_FDCWD || name[0] == '/')
            return name;
        const std::string folder = pathOf(dirfd);
        return name[0] == '\0' ? folder : folder + "/" + name;
    }
    // The hook on `call` when `path` is one of its paths; under the lock.
    Hooked* find(Call call, const std::string& path) {
        Hooked& entry = hooks_[call];
        return entry.hook && path.find(entry.part) != std::string::npos ? &entry : nullptr;
    }
    Outcome decide(Call call, const std::string& path) {
        std::unique_lock<std::mutex> guard(mutex_);
        Hooked* entry = find(call, path);
        if (!entry)
            return {};
        const Hook hook = entry->hook;
        const int index = entry->calls++;
        guard.unlock();
        return hook(index);
    }

    terbin::SystemInterface* previous_;
    std::mutex mutex_;
    std::map<int, std::string> paths_;
    std::set<int> listed_;
    std::map<Call, Hooked> hooks_;
    std::string alterPart_;
    std::function<void(struct statx&)> alter_;
};
