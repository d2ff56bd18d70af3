// Linked list that keeps insertion order, with an iterator that can remove
// the element it stands on.
#pragma once

#include <list>

#include "foundation/TBException.h"

namespace terbin {

template <typename T>
class TBList {
public:
    class Iterator;

    int size() const { return static_cast<int>(size_); }
    bool isEmpty() const { return size_ == 0; }
    void add(const T& item) {
        items_.push_back(item);
        ++size_;
    }
    void add(T&& item) {
        items_.push_back(std::move(item));
        ++size_;
    }
    void clear() {
        items_.clear();
        size_ = 0;
    }
    // Throws TBNoSuchElementException on an empty list.
    T& getFirst() {
        if (items_.empty())
            TB_THROW(TBNoSuchElementException, "list is empty");
        return items_.front();
    }
    Iterator iterator() { return Iterator(*this); }

    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    // Java-style iterator: hasNext / next, and remove of the element that the
    // last next returned.
    class Iterator {
    public:
        explicit Iterator(TBList& list) : list_(&list), next_(list.items_.begin()) {}
        bool hasNext() const { return next_ != list_->items_.end(); }
        // Throws TBNoSuchElementException past the end.
        T& next() {
            if (!hasNext())
                TB_THROW(TBNoSuchElementException, "iterator past the end");
            current_ = next_++;
            canRemove_ = true;
            return *current_;
        }
        // Throws TBIllegalStateException unless next has returned an element
        // that has not been removed yet.
        void remove() {
            if (!canRemove_)
                TB_THROW(TBIllegalStateException, "no current element");
            list_->items_.erase(current_);
            --list_->size_;
            canRemove_ = false;
        }

    private:
        TBList* list_;
        typename std::list<T>::iterator next_;
        typename std::list<T>::iterator current_{};
        bool canRemove_ = false;
    };

private:
    std::list<T> items_;
    size_t size_ = 0;
};

}  // namespace terbin
