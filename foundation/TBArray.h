// Ordered array with bounds-checked access.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/TBException.h"

namespace terbin {

template <typename T>
class TBArray {
public:
    TBArray() = default;
    explicit TBArray(int capacity) { items_.reserve(static_cast<size_t>(std::max(capacity, 0))); }
    TBArray(std::initializer_list<T> items) : items_(items) {}

    int size() const { return static_cast<int>(items_.size()); }
    bool isEmpty() const { return items_.empty(); }
    void add(const T& item) { items_.push_back(item); }
    void add(T&& item) { items_.push_back(std::move(item)); }
    void clear() { items_.clear(); }

    // Throws TBIndexOutOfBoundsException outside 0 .. size()-1.
    T& get(int index) {
        check(index);
        return items_[static_cast<size_t>(index)];
    }
    const T& get(int index) const {
        check(index);
        return items_[static_cast<size_t>(index)];
    }
    T& operator[](int index) { return get(index); }
    const T& operator[](int index) const { return get(index); }

    void insertAt(int index, const T& item) {
        if (index < 0 || index > size())
            outOfBounds(index);
        items_.insert(items_.begin() + index, item);
    }
    void removeAt(int index) {
        check(index);
        items_.erase(items_.begin() + index);
    }
    // Index of the first element equal to `item`, -1 when none.
    int indexOf(const T& item) const {
        auto it = std::find(items_.begin(), items_.end(), item);
        return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
    }

    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    friend bool operator==(const TBArray& a, const TBArray& b) = default;

private:
    void check(int index) const {
        if (index < 0 || index >= size())
            outOfBounds(index);
    }
    [[noreturn]] void outOfBounds(int index) const {
        TB_THROW(TBIndexOutOfBoundsException,
                 "index " + std::to_string(index) + " of " + std::to_string(size()));
    }

    std::vector<T> items_;
};

}  // namespace terbin
