// A list with a lock of its own; callers take the lock around changes
// (lockForWriting) and walks (lockForReading).
#pragma once

#include <list>

#include "foundation/TBLockableObject.h"

namespace terbin {

template <typename T>
class TBLockableList : public TBLockableObject {
public:
    void addFirst(const T& item) { items_.push_front(item); }
    void addLast(const T& item) { items_.push_back(item); }
    int size() const { return static_cast<int>(items_.size()); }
    bool isEmpty() const { return items_.empty(); }
    void clear() { items_.clear(); }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::list<T> items_;
};

}  // namespace terbin
