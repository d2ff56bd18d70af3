// A SystemInterface that forwards to the real operating system but fails
// chosen calls on chosen paths, so tests can produce a full disk, a refused
// open, a failed read or a short write on demand, even as root. Installed for
// the lifetime of the object.
#pragma once

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

    // Opens of paths containing `part` fail with `error`, `times` times (-1: always).
    void failOpen(const std::string& part, int error, int times = -1) {
        std::lock_guard<std::mutex> guard(mutex_);
        openPart_ = part;
        openError_ = error;
        openTimes_ = times;
    }
    // Writes to files whose path contains `part` fail with `error` while
    // the switch is on.
    void failWrites(const std::string& part, int error) {
        std::lock_guard<std::mutex> guard(mutex_);
        writePart_ = part;
        writeError_ = error;
        writesFailing_ = true;
    }
    void stopFailingWrites() { writesFailing_ = false; }
    // Writes to `part` make no progress (return 0) after `okWrites` good ones.
    void stallWrites(const std::string& part, int okWrites) {
        std::lock_guard<std::mutex> guard(mutex_);
        stallPart_ = part;
        stallAfter_ = okWrites;
    }
    // Reads of `part` fail with `error` after `okReads` good ones.
    void failReads(const std::string& part, int error, int okReads) {
        std::lock_guard<std::mutex> guard(mutex_);
        readPart_ = part;
        readError_ = error;
        readAfter_ = okReads;
    }
    // Called (outside the lock) before every read of a path containing `part`,
    // with the number of earlier such reads.
    void onRead(const std::string& part, std::function<void(int)> hook) {
        std::lock_guard<std::mutex> guard(mutex_);
        hookPart_ = part;
        readHook_ = std::move(hook);
    }
    int failedWrites() const { return failedWrites_; }
    // Number of opens for writing of paths containing `part`.
    int writeOpens(const std::string& part) {
        std::lock_guard<std::mutex> guard(mutex_);
        int n = 0;
        for (const auto& [path, count] : writeOpens_) {
            if (path.find(part) != std::string::npos) n += count;
        }
        return n;
    }

    int open(const char* path, int flags, mode_t mode) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (!openPart_.empty() && std::string(path).find(openPart_) != std::string::npos &&
                openTimes_ != 0) {
                if (openTimes_ > 0) --openTimes_;
                errno = openError_;
                return -1;
            }
        }
        const int fd = target_.open(path, flags, mode);
        if (fd >= 0) {
            std::lock_guard<std::mutex> guard(mutex_);
            paths_[fd] = path;
            if (flags & (O_WRONLY | O_RDWR)) ++writeOpens_[path];
        }
        return fd;
    }
    int close(int fd) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            paths_.erase(fd);
        }
        return target_.close(fd);
    }
    ssize_t read(int fd, void* buffer, size_t count) override {
        std::function<void(int)> hook;
        int index = 0;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (matches(fd, hookPart_)) {
                hook = readHook_;
                index = hookReads_++;
            }
        }
        if (hook) hook(index);
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (matches(fd, readPart_)) {
                if (readAfter_ == 0) {
                    errno = readError_;
                    return -1;
                }
                --readAfter_;
            }
        }
        return target_.read(fd, buffer, count);
    }
    ssize_t write(int fd, const void* buffer, size_t count) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (writesFailing_ && matches(fd, writePart_)) {
                ++failedWrites_;
                errno = writeError_;
                return -1;
            }
            if (matches(fd, stallPart_)) {
                if (stallAfter_ == 0) return 0;
                --stallAfter_;
            }
        }
        return target_.write(fd, buffer, count);
    }

    // A kernel copy meets the same faults: a failing or stalling target fails
    // like a write; a source with read faults or a read hook is declined, so
    // the copy falls back to reads, where those apply.
    ssize_t copyFileRange(int fdIn, int fdOut, size_t count) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (writesFailing_ && matches(fdOut, writePart_)) {
                ++failedWrites_;
                errno = writeError_;
                return -1;
            }
            if (matches(fdOut, stallPart_) || matches(fdIn, readPart_) ||
                matches(fdIn, hookPart_) || kernelCopyDeclined_) {
                errno = EXDEV;
                return -1;
            }
        }
        if (kernelCopyEmpty_) return 0;
        return target_.copyFileRange(fdIn, fdOut, count);
    }
    // Makes every kernel copy fail as on a file system that cannot do them.
    void declineKernelCopies() { kernelCopyDeclined_ = true; }
    // Makes every kernel copy report nothing copied, as for a pseudo file
    // whose size reads as 0.
    void emptyKernelCopies() { kernelCopyEmpty_ = true; }

private:
    bool matches(int fd, const std::string& part) const {
        if (part.empty()) return false;
        auto it = paths_.find(fd);
        return it != paths_.end() && it->second.find(part) != std::string::npos;
    }

    terbin::SystemInterface* previous_;
    std::mutex mutex_;
    std::map<int, std::string> paths_;
    std::map<std::string, int> writeOpens_;
    std::string openPart_;
    int openError_ = 0;
    int openTimes_ = 0;
    std::string writePart_;
    int writeError_ = 0;
    std::atomic<bool> writesFailing_{false};
    std::atomic<int> failedWrites_{0};
    std::string stallPart_;
    int stallAfter_ = 0;
    std::atomic<bool> kernelCopyDeclined_{false};
    std::atomic<bool> kernelCopyEmpty_{false};
    std::string hookPart_;
    std::function<void(int)> readHook_;
    int hookReads_ = 0;
    std::string readPart_;
    int readError_ = 0;
    int readAfter_ = 0;
};
