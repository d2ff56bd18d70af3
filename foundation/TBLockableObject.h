// The root of the foundation's object classes, and the object that carries a
// lock of its own for data shared between the user-interface thread and the
// workers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace terbin {

class TBObject {
public:
    TBObject() = default;
    TBObject(const TBObject&) = default;
    TBObject& operator=(const TBObject&) = default;
    virtual ~TBObject();

    // A hash for containers keyed by object; by default the object's identity.
    virtual size_t hash() const;
};

// An object with a recursive lock: a thread that holds it may take it again
// and must release it as often as it took it. Reading and writing share the
// one lock. The lock exists from construction, so locking an object whose
// constructor has not yet called synchronize() is safe.
//
// Copying an object copies none of its lock state: the copy starts unlocked,
// with a lock of its own, whatever the state of the original.
class TBLockableObject : public TBObject {
public:
    // The time-out that waits without limit.
    static constexpr int64_t WaitForever = -1;

    TBLockableObject() = default;
    TBLockableObject(const TBLockableObject& other) : TBObject(other) {}
    TBLockableObject& operator=(const TBLockableObject& other) {
        TBObject::operator=(other);
        return *this;
    }
    ~TBLockableObject() override;

    // Declares the object shared between threads; derived classes call it
    // once in their constructors. Kept so that they can say so; it has no
    // further effect because the lock always exists.
    void synchronize() {}

    // Takes the lock, waiting at most `timeoutMs` milliseconds (a negative
    // value waits without limit, 0 only tries). Returns 0 when the lock is
    // held, 1 when the time ran out.
    // Const, so that readers of a const object can take the lock too.
    virtual int lock(int64_t timeoutMs) const;
    virtual int lockForReading(int64_t timeoutMs) const;
    virtual int lockForWriting(int64_t timeoutMs) const;
    // Releases one hold of the lock taken by the calling thread.
    virtual void unlock() const;

private:
    mutable std::recursive_timed_mutex mutex_;
};

// Holds an object's lock for reading from construction to destruction,
// waiting without limit.
class TBReadLock {
public:
    explicit TBReadLock(const TBLockableObject& object) : object_(object) {
        object_.lockForReading(TBLockableObject::WaitForever);
    }
    ~TBReadLock() { object_.unlock(); }
    TBReadLock(const TBReadLock&) = delete;
    TBReadLock& operator=(const TBReadLock&) = delete;

private:
    const TBLockableObject& object_;
};

// Holds an object's lock for writing from construction to destruction,
// waiting without limit.
class TBWriteLock {
public:
    explicit TBWriteLock(const TBLockableObject& object) : object_(object) {
        object_.lockForWriting(TBLockableObject::WaitForever);
    }
    ~TBWriteLock() { object_.unlock(); }
    TBWriteLock(const TBWriteLock&) = delete;
    TBWriteLock& operator=(const TBWriteLock&) = delete;

private:
    const TBLockableObject& object_;
};

}  // namespace terbin
