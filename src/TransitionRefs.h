#pragma once
#include <cstddef>
#include <cstring>
#include <new>

#include "BlockPool.h"

class Transition;

// The transitions that hold a binding with one token, in insertion order,
// duplicates allowed. Every binding registers its tokens here and every
// withdrawal unregisters them, and tokens are created by the thousands per
// second, so the first few entries live inside the token and longer lists
// take their storage from the block pool.
class TransitionRefs {
public:
    TransitionRefs() noexcept : data_(inline_), size_(0), capacity_(kInline) {}
    TransitionRefs(const TransitionRefs& other) : TransitionRefs() { assign(other); }
    TransitionRefs& operator=(const TransitionRefs& other) {
        if (this != &other) {
            size_ = 0;
            assign(other);
        }
        return *this;
    }
    ~TransitionRefs() { release(); }

    void push_back(Transition* t) {
        if (size_ == capacity_) grow(capacity_ * 2);
        data_[size_++] = t;
    }
    // Removes every occurrence of `t`, keeping the order of the others.
    void removeAll(const Transition* t) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < size_; ++i)
            if (data_[i] != t) data_[kept++] = data_[i];
        size_ = kept;
    }
    bool contains(const Transition* t) const {
        for (std::size_t i = 0; i < size_; ++i)
            if (data_[i] == t) return true;
        return false;
    }
    void clear() { size_ = 0; }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Transition* operator[](std::size_t i) const { return data_[i]; }
    Transition* const* data() const { return data_; }
    Transition* const* begin() const { return data_; }
    Transition* const* end() const { return data_ + size_; }

private:
    static constexpr std::size_t kInline = 4;
    static constexpr std::size_t kPooledUpTo = 64;

    void assign(const TransitionRefs& other) {
        if (other.size_ > capacity_) grow(other.size_);
        std::memcpy(data_, other.data_, other.size_ * sizeof(Transition*));
        size_ = other.size_;
    }
    void grow(std::size_t n) {
        std::size_t cap = capacity_;
        while (cap < n) cap *= 2;
        Transition** bigger = allocate(cap);
        std::memcpy(bigger, data_, size_ * sizeof(Transition*));
        release();
        data_ = bigger;
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
    void release() {
        if (data_ == inline_) return;
        switch (capacity_) {
            case 8: BlockPool<8 * sizeof(Transition*)>::release(data_); break;
            case 16: BlockPool<16 * sizeof(Transition*)>::release(data_); break;
            case 32: BlockPool<32 * sizeof(Transition*)>::release(data_); break;
            case 64: BlockPool<64 * sizeof(Transition*)>::release(data_); break;
            default: ::operator delete(data_); break;
        }
        data_ = inline_;
        capacity_ = kInline;
    }

    Transition** data_;
    std::size_t size_;
    std::size_t capacity_;
    Transition* inline_[kInline];
};
