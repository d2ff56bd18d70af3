#include "foundation/TBThread.h"

#include <chrono>
#include <functional>
#include <thread>

#include "foundation/TBLockableObject.h"

namespace terbin {

void TBThread::sleep(int64_t milliseconds) {
    if (milliseconds <= 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

TBObject::~TBObject() = default;

size_t TBObject::hash() const {
    return std::hash<const void*>()(this);
}

TBLockableObject::~TBLockableObject() = default;

int TBLockableObject::lock(int64_t timeoutMs) const {
    if (timeoutMs < 0) {
        mutex_.lock();
        return 0;
    }
    if (timeoutMs == 0) {
        return mutex_.try_lock() ? 0 : 1;
    }
    return mutex_.try_lock_for(std::chrono::milliseconds(timeoutMs)) ? 0 : 1;
}

int TBLockableObject::lockForReading(int64_t timeoutMs) const {
    return lock(timeoutMs);
}

int TBLockableObject::lockForWriting(int64_t timeoutMs) const {
    return lock(timeoutMs);
}

void TBLockableObject::unlock() const {
    mutex_.unlock();
}

}  // namespace terbin
