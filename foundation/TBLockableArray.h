// An ordered array with a lock of its own, for containers that two threads
// reach. Callers take the lock around changes (lockForWriting) and walks
// (lockForReading); the array itself does not lock.
#pragma once

#include "foundation/TBArray.h"
#include "foundation/TBLockableObject.h"

namespace terbin {

template <typename T>
class TBLockableArray : public TBArray<T>, public TBLockableObject {
public:
    TBLockableArray() = default;
    explicit TBLockableArray(int capacity) : TBArray<T>(capacity) {}
};

}  // namespace terbin
