// A SystemInterface that forwards to the real operating system but fails
// chosen calls on chosen paths, so tests can produce a full disk, a refused
// open, a failed read or a short write on demand, even as root. Installed for
// the lifetime of the object.
#pragma once

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "foundation/SystemInterface.h"

class FaultySystem : public terbin::SystemInterfaceWrapper {
public:
    FaultySystem() : SystemInterfaceWrapper(terbin::tb_realSystem()) {
        previous_ = terbin::tb_setSystem(this);
    }
    ~FaultySystem() override { terbin::tb_setSystem(previous_ == this ? nullptr : previous_); }

    // Opens of paths containing `part` fail with `error`.
    void failOpen(const std::string& part, int error) { arm(openPart_, part, openError_, error); }
    // Writes to files whose path contains `part` fail with `error` until
    // stopFailingWrites().
    void failWrites(const std::string& part, int error) {
        arm(writePart_, part, writeError_, error);
        writesFailing_ = true;
    }
    void stopFailingWrites() { writesFailing_ = false; }
    int failedWrites() const { return failedWrites_; }
    // Writes to `part` make no progress (return 0) after `okWrites` good ones.
    void stallWrites(const std::string& part, int okWrites) {
        arm(stallPart_, part, stallAfter_, okWrites);
    }
    // Called (outside the lock) before every read of a path containing `part`,
    // with the number of earlier such reads; a non-zero result fails the read
    // with that errno.
    void onRead(const std::string& part, std::function<int(int)> hook) {
        std::lock_guard<std::mutex> guard(mutex_);
        readPart_ = part;
        readHook_ = std::move(hook);
    }
    // Listings (opendir) of paths containing `part` fail with `error`.
    void failListing(const std::string& part, int error) {
        arm(listPart_, part, listError_, error);
    }
    // Called (outside the lock, on the caller's thread) before every mkdir of
    // a path containing `part`, with the number of earlier such calls; a
    // non-zero result fails the mkdir with that errno.
    void onMkdir(const std::string& part, std::function<int(int)> hook) {
        std::lock_guard<std::mutex> guard(mutex_);
        mkdirPart_ = part;
        mkdirHook_ = std::move(hook);
    }
    // Makes every kernel copy fail as on a file system that cannot do them.
    void declineKernelCopies() { kernelCopyDeclined_ = true; }
    // Makes every kernel copy report nothing copied, as for a pseudo file
    // whose size reads as 0.
    void emptyKernelCopies() { kernelCopyEmpty_ = true; }
    // Write (or kernel copy) number `index` (from 0) to a path containing
    // `part` moves only its first `bytes` bytes and reports that short count;
    // from then on writes there fail with `error`, as when the disk fills up
    // in the middle of a chunk, until stopFailingWrites().
    void writePartThenFail(const std::string& part, int index, size_t bytes, int error) {
        std::lock_guard<std::mutex> guard(mutex_);
        partialPart_ = part;
        partialIndex_ = index;
        partialBytes_ = bytes;
        partialError_ = error;
    }

    int open(const char* path, int flags, mode_t mode) override {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!openPart_.empty() && std::string(path).find(openPart_) != std::string::npos) {
            errno = openError_;
            return -1;
        }
        const int fd = target_.open(path, flags, mode);
        if (fd >= 0)
            paths_[fd] = path;
        return fd;
    }
    int close(int fd) override {
        std::lock_guard<std::mutex> guard(mutex_);
        paths_.erase(fd);
        return target_.close(fd);
    }
    ssize_t read(int fd, void* buffer, size_t count) override {
        std::function<int(int)> hook;
        int index = 0;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (matches(fd, readPart_)) {
                hook = readHook_;
                index = reads_++;
            }
        }
        if (const int error = hook ? hook(index) : 0) {
            errno = error;
            return -1;
        }
        return target_.read(fd, buffer, count);
    }
    ssize_t write(int fd, const void* buffer, size_t count) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (failsWrite(fd))
                return -1;
            if (matches(fd, stallPart_) && stallAfter_-- <= 0)
                return 0;
            count = cutShort(fd, count);
        }
        return target_.write(fd, buffer, count);
    }
    // A kernel copy meets the same faults: a failing target fails like a
    // write; a stalling target or a source with a read hook is declined, so
    // the copy falls back to reads and writes, where those apply.
    ssize_t copyFileRange(int fdIn, int fdOut, size_t count) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (failsWrite(fdOut))
                return -1;
            if (matches(fdOut, stallPart_) || matches(fdIn, readPart_) || kernelCopyDeclined_) {
                errno = EXDEV;
                return -1;
            }
            count = cutShort(fdOut, count);
        }
        return kernelCopyEmpty_ ? 0 : target_.copyFileRange(fdIn, fdOut, count);
    }

    DIR* opendir(const char* path) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (!listPart_.empty() && std::string(path).find(listPart_) != std::string::npos) {
                errno = listError_;
                return nullptr;
            }
        }
        return target_.opendir(path);
    }
    int mkdir(const char* path, mode_t mode) override {
        std::function<int(int)> hook;
        int index = 0;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (!mkdirPart_.empty() && std::string(path).find(mkdirPart_) != std::string::npos) {
                hook = mkdirHook_;
                index = mkdirs_++;
            }
        }
        if (const int error = hook ? hook(index) : 0) {
            errno = error;
            return -1;
        }
        return target_.mkdir(path, mode);
    }

private:
    void arm(std::string& part, const std::string& value, int& number, int n) {
        std::lock_guard<std::mutex> guard(mutex_);
        part = value;
        number = n;
    }
    bool matches(int fd, const std::string& part) const {
        auto it = paths_.find(fd);
        return !part.empty() && it != paths_.end() && it->second.find(part) != std::string::npos;
    }
    // Under the lock: fails a write to `fd` while writes to its path fail.
    bool failsWrite(int fd) {
        if (!writesFailing_ || !matches(fd, writePart_))
            return false;
        ++failedWrites_;
        errno = writeError_;
        return true;
    }
    // Under the lock: how much of `count` bytes a write to `fd` moves; at the
    // write chosen by writePartThenFail, only part, and the writes after it fail.
    size_t cutShort(int fd, size_t count) {
        if (!matches(fd, partialPart_) || partialIndex_-- != 0)
            return count;
        writePart_ = partialPart_;
        writeError_ = partialError_;
        writesFailing_ = true;
        return std::min(count, partialBytes_);
    }

    terbin::SystemInterface* previous_;
    std::mutex mutex_;
    std::map<int, std::string> paths_;
    std::string openPart_, writePart_, stallPart_, readPart_;
    int openError_ = 0, writeError_ = 0, stallAfter_ = 0, reads_ = 0;
    std::function<int(int)> readHook_;
    std::string listPart_, mkdirPart_;
    int listError_ = 0, mkdirs_ = 0;
    std::function<int(int)> mkdirHook_;
    std::atomic<bool> writesFailing_{false}, kernelCopyDeclined_{false}, kernelCopyEmpty_{false};
    std::atomic<int> failedWrites_{0};
    std::string partialPart_;
    int partialIndex_ = -1, partialError_ = 0;
    size_t partialBytes_ = 0;
};
