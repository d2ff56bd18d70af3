// An exclusive lock on a lock file, shared by every process of the machine:
// the backup engine takes one per backup set so that a set runs in at most
// one process at a time.
//
// The lock is a whole-file flock() on an open file description of its own,
// so a second TBFileLock on the same file conflicts even inside one process,
// and the lock ends with the handle, also when the process dies. Never a
// POSIX record lock: those vanish when the process closes any descriptor of
// the file, whoever opened it.
//
// The holder writes its process id into the file ("1234\n") so that others
// can say who runs the set. The file stays in place when the lock is
// released: removing it would let a process that opened the old file just
// before lock a file nobody else can find any more.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "foundation/TBString.h"

namespace terbin {

// The lock is held by another open file description (Windows'
// ERROR_LOCK_VIOLATION).
constexpr uint32_t TB_LOCK_HELD = 33;

class TBFileLock {
public:
    TBFileLock() = default;
    ~TBFileLock() { release(); }
    TBFileLock(const TBFileLock&) = delete;
    TBFileLock& operator=(const TBFileLock&) = delete;
    TBFileLock(TBFileLock&& other) noexcept;
    TBFileLock& operator=(TBFileLock&& other) noexcept;

    // Takes the lock on the file at `path` without waiting, releasing any lock
    // this object held before. The file is created (readable and writable by
    // its owner alone) when missing, and so is its folder (only that one
    // level, accessible to its owner alone); a symbolic link in its place is
    // refused (access denied), as is anything but a regular file (87).
    // On success the file holds this process's id and the result is 0.
    // TB_LOCK_HELD when someone else holds it (holder() says who); any other
    // failure gives its result code (TBResult.h) with errno set. After any
    // failure nothing is held.
    uint32_t acquire(const TBString& path);
    bool isHeld() const { return fd_ >= 0; }
    // After TB_LOCK_HELD: the id of the process holding the lock, or 0 when
    // the holder has not written its id yet. 0 after any other outcome.
    pid_t holder() const { return holder_; }
    // Empties the file, then lets go of the lock. Does nothing when none is held.
    void release();

private:
    int fd_ = -1;
    pid_t holder_ = 0;
};

}  // namespace terbin
