#pragma once
// A list that owns its elements through pointers: it stores clones of what it is
// given, copying clones every element, destruction deletes them. T needs a virtual
// Clone() returning T*. Iterators are (list, index) pairs that check their use.

#include "support/tbaseerror.h"

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

template <class T>
class ilist {
public:
    template <class List, class Elem>
    class basic_iterator {
    public:
        basic_iterator() = default;
        basic_iterator(List* list, int index) : list_(list), index_(index) {}

        Elem& operator*() const
        {
            static constexpr const char* op = std::is_const_v<Elem>
                ? "ilist::const_iterator::operator*" : "ilist::iterator::operator*";
            if (!list_) throw TBaseError(op, "List=0");
            if (index_ < 0 || index_ >= list_->Count()) throw TBaseError(op, "end");
            return *list_->items_[static_cast<size_t>(index_)];
        }
        Elem* operator->() const { return &**this; }
        basic_iterator& operator++() { ++index_; return *this; }
        basic_iterator& operator--() { --index_; return *this; }
        friend bool operator==(const basic_iterator& a, const basic_iterator& b)
        {
            return a.list_ == b.list_ && a.index_ == b.index_;
        }
        List* Owner() const { return list_; }
        int Index() const { return index_; }

    private:
        List* list_ = nullptr;
        int index_ = 0;
    };
    using iterator = basic_iterator<ilist, T>;
    using const_iterator = basic_iterator<const ilist, const T>;

    ilist() = default;
    ilist(const ilist& other) { CopyFrom(other); }
    ilist& operator=(const ilist& other)
    {
        if (this != &other) {
            items_.clear();
            CopyFrom(other);
        }
        return *this;
    }
    ilist(ilist&&) noexcept = default;
    ilist& operator=(ilist&&) noexcept = default;
    ~ilist() = default;

    int Count() const { return static_cast<int>(items_.size()); }
    // Elements the storage holds before it must grow.
    size_t Capacity() const { return items_.capacity(); }
    bool Empty() const { return items_.empty(); }

    static constexpr size_t MaxCount = 0x7FFFFFE0u;

    // Room for n elements at once (growing one element at a time is amortised anyway).
    void Reserve(size_t n)
    {
        CheckRoom(n);
        items_.reserve(n);
    }

    T& operator[](int i) { return *items_.at(static_cast<size_t>(i)); }
    const T& operator[](int i) const { return *items_.at(static_cast<size_t>(i)); }

    T& front()
    {
        if (items_.empty()) throw TBaseError("ilist::front", "Empty");
        return *items_.front();
    }
    T& back()
    {
        if (items_.empty()) throw TBaseError("ilist::back", "Empty");
        return *items_.back();
    }

    iterator begin() { return iterator(this, 0); }
    iterator end() { return iterator(this, Count()); }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, Count()); }

    // Appends a clone of element; returns its index.
    int push_back(const T& element)
    {
        CheckRoom(items_.size() + 1);
        items_.emplace_back(element.Clone());
        return Count() - 1;
    }
    // Takes ownership of an element made by the caller.
    int Adopt(std::unique_ptr<T> element)
    {
        CheckRoom(items_.size() + 1);
        items_.push_back(std::move(element));
        return Count() - 1;
    }
    // Inserts a clone before it; at or past the end appends.
    iterator insert(iterator it, const T& element)
    {
        int at = it.Index();
        if (at < 0) at = 0;
        if (at >= Count()) {
            push_back(element);
            return iterator(this, Count() - 1);
        }
        CheckRoom(items_.size() + 1);
        items_.insert(items_.begin() + at, std::unique_ptr<T>(element.Clone()));
        return iterator(this, at);
    }
    void erase(iterator it)
    {
        if (it.Owner() != this) throw TBaseError("ilist<T>::erase", "WrongList");
        erase(it.Index());
    }
    void erase(int index)
    {
        if (index < 0 || index >= Count()) throw TBaseError("ilist<T>::erase", "ItOutOffRange");
        items_.erase(items_.begin() + index);
    }
    // Swaps the elements at two iterators of this list.
    void xchng(iterator a, iterator b)
    {
        if (a.Owner() != this || b.Owner() != this || a.Index() < 0 || b.Index() < 0
            || a.Index() >= Count() || b.Index() >= Count())
            throw TBaseError("ilist<T>::xchng", "iterator invalid");
        std::swap(items_[static_cast<size_t>(a.Index())], items_[static_cast<size_t>(b.Index())]);
    }
    void clear() { items_.clear(); }

private:
    // Appending grows the storage geometrically (std::vector), never one slot at a time:
    // n appends cost O(n), so a document with a million elements loads in linear time.
    static void CheckRoom(size_t n)
    {
        if (n > MaxCount) throw TBaseError("ilist<T>::Resize", "ListOverrun");
    }
    void CopyFrom(const ilist& other)
    {
        items_.reserve(other.items_.size());
        for (const auto& p : other.items_) items_.emplace_back(p->Clone());
    }
    std::vector<std::unique_ptr<T>> items_;
};
