#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "base/BlockPool.h"

class Transition;

// The transitions that hold a binding with one token, in insertion order,
// duplicates allowed. Every binding registers its tokens here and every
// withdrawal unregisters them, and tokens are created by the thousands per
// second, so the first few entries live inside the token and longer lists
// take their storage from the block pool.
//
// The list knows whether it may hold an entry twice: only then does a
// removal have to look at every entry. A caller that knows its entry is new
// (a single-server transition registering its one binding) says so with
// addNew; every other addition, and every copy, counts as a possible repeat
// until the list is empty again.
class TransitionRefs {
public:
    TransitionRefs() noexcept : base_(inline_), data_(inline_), size_(0), capacity_(kInline), mayRepeat_(false) {}
    TransitionRefs(const TransitionRefs& other) : TransitionRefs() { assign(other); }
    TransitionRefs& operator=(const TransitionRefs& other) {
        if (this != &other) {
            data_ = base_;
            size_ = 0;
            assign(other);
        }
        return *this;
    }
    ~TransitionRefs() { release(); }

    void push_back(Transition* t) {
        append(t);
        mayRepeat_ = true;
    }
    // `t` is not in the list.
    void addNew(Transition* t) { append(t); }
    // Removes every occurrence of `t`, keeping the order of the others. The
    // holders of a consumed token withdraw in the order they registered, so
    // the first entry is the usual one: it is dropped by moving the start.
    void removeAll(const Transition* t) {
        if (size_ == 0) return;
        if (!mayRepeat_) {
            removeOnly(t);
            return;
        }
        if (data_[0] == t && !containsFrom(1, t)) {
            dropFirst();
            return;
        }
        std::uint32_t kept = 0;
        for (std::uint32_t i = 0; i < size_; ++i)
            if (data_[i] != t) data_[kept++] = data_[i];
        size_ = kept;
        if (size_ == 0) clear();
    }
    bool contains(const Transition* t) const { return containsFrom(0, t); }
    void clear() {
        data_ = base_;
        size_ = 0;
        mayRepeat_ = false;
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Transition* operator[](std::size_t i) const { return data_[i]; }
    Transition* const* data() const { return data_; }
    Transition* const* begin() const { return data_; }
    Transition* const* end() const { return data_ + size_; }

private:
    static constexpr std::size_t kInline = 8;

    void append(Transition* t) {
        if (data_ + size_ == base_ + capacity_) makeRoom();
        data_[size_++] = t;
    }
    void dropFirst() {
        ++data_;
        if (--size_ == 0) clear();
    }
    // Removes the one occurrence of `t`, if any (no entry repeats).
    void removeOnly(const Transition* t) {
        if (data_[0] == t) {
            dropFirst();
            return;
        }
        std::uint32_t i = 1;
        while (i < size_ && data_[i] != t) ++i;
        if (i == size_) return;
        for (--size_; i < size_; ++i) data_[i] = data_[i + 1];
    }
    bool containsFrom(std::size_t from, const Transition* t) const {
        for (std::size_t i = from; i < size_; ++i)
            if (data_[i] == t) return true;
        return false;
    }
    // The storage is full up to its end: move the entries back to its start
    // when entries at the front were dropped, else grow.
    void makeRoom() {
        if (data_ != base_) {
            std::memmove(base_, data_, size_ * sizeof(Transition*));
            data_ = base_;
        } else {
            grow(capacity_ * 2);
        }
    }
    void assign(const TransitionRefs& other) {
        if (other.size_ > capacity_) grow(other.size_);
        std::memcpy(base_, other.data_, other.size_ * sizeof(Transition*));
        data_ = base_;
        size_ = other.size_;
        mayRepeat_ = size_ > 0;
    }
    void grow(std::size_t n) {
        std::uint32_t cap = capacity_;
        while (cap < n) cap *= 2;
        Transition** bigger = allocate(cap);
        std::memcpy(bigger, data_, size_ * sizeof(Transition*));
        release();
        base_ = data_ = bigger;
        capacity_ = cap;
    }
    static Transition** allocate(std::size_t cap) {
        void* p;
        switch (cap) {
            case 8: p = BlockPool<8 * sizeof(Transition*)>::allocate(); break;
            case 16: p = BlockPool<16 * sizeof(Transition*)>::allocate(); break;
            case 32: p = BlockPool<32 * sizeof(Transition*)>::allocate(); break;
            case 64: p = BlockPool<64 * sizeof(Transition*)>::allocate(); break;
            default: p = ::operator new(cap * sizeof(Transition*)); break;
        }
        return static_cast<Transition**>(p);
    }
    // Frees the storage (not the entries' order: callers copy first).
    void release() {
        if (base_ == inline_) return;
        switch (capacity_) {
            case 8: BlockPool<8 * sizeof(Transition*)>::release(base_); break;
            case 16: BlockPool<16 * sizeof(Transition*)>::release(base_); break;
            case 32: BlockPool<32 * sizeof(Transition*)>::release(base_); break;
            case 64: BlockPool<64 * sizeof(Transition*)>::release(base_); break;
            default: ::operator delete(base_); break;
        }
        base_ = data_ = inline_;
        capacity_ = kInline;
    }

    Transition** base_;  // the storage
    Transition** data_;  // the first entry, within the storage
    // Counts of 32 bits keep the list (and so every token) no larger than a
    // list without a moving start.
    std::uint32_t size_;
    std::uint32_t capacity_;
    bool mayRepeat_;  // an entry may stand twice in the list
    Transition* inline_[kInline];
};
