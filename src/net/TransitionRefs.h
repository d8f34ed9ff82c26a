#pragma once
#include <cstddef>
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
    TransitionRefs() noexcept
        : base_(inline_), data_(inline_), end_(inline_), limit_(inline_ + kInline), mayRepeat_(false) {}
    TransitionRefs(const TransitionRefs& other) : TransitionRefs() { assign(other); }
    TransitionRefs& operator=(const TransitionRefs& other) {
        if (this != &other) {
            data_ = end_ = base_;
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
        if (data_ == end_) return;
        if (!mayRepeat_) {
            removeOnly(t);
            return;
        }
        if (*data_ == t && !containsFrom(data_ + 1, t)) {
            dropFirst();
            return;
        }
        Transition** kept = data_;
        for (Transition** i = data_; i != end_; ++i)
            if (*i != t) *kept++ = *i;
        end_ = kept;
        if (data_ == end_) clear();
    }
    bool contains(const Transition* t) const { return containsFrom(data_, t); }
    void clear() {
        data_ = end_ = base_;
        mayRepeat_ = false;
    }

    std::size_t size() const { return static_cast<std::size_t>(end_ - data_); }
    bool empty() const { return data_ == end_; }
    Transition* operator[](std::size_t i) const { return data_[i]; }
    Transition* const* data() const { return data_; }
    Transition* const* begin() const { return data_; }
    Transition* const* end() const { return end_; }

private:
    // Eight. A free token of a shared resource (a worker of a pool) is bound
    // by every transition waiting for one, often more than eight, and takes
    // a pool block then; but every token carries the inline room, and room
    // for twelve or sixteen saved under 1 % of the instructions per event
    // for 32 or 64 more bytes per token (the tokens that collect in sink
    // places make up most of a long run's memory).
    static constexpr std::size_t kInline = 8;

    void append(Transition* t) {
        if (end_ == limit_) makeRoom();
        *end_++ = t;
    }
    void dropFirst() {
        if (++data_ == end_) clear();
    }
    // Removes the one occurrence of `t`, if any (no entry repeats).
    void removeOnly(const Transition* t) {
        if (*data_ == t) {
            dropFirst();
            return;
        }
        Transition** i = data_ + 1;
        while (i != end_ && *i != t) ++i;
        if (i == end_) return;
        for (--end_; i != end_; ++i) *i = *(i + 1);
    }
    bool containsFrom(Transition* const* from, const Transition* t) const {
        for (Transition* const* i = from; i != end_; ++i)
            if (*i == t) return true;
        return false;
    }
    std::size_t capacity() const { return static_cast<std::size_t>(limit_ - base_); }
    // The storage is full up to its end: move the entries back to its start
    // when entries at the front were dropped, else grow.
    void makeRoom() {
        if (data_ != base_) {
            const std::size_t n = size();
            std::memmove(base_, data_, n * sizeof(Transition*));
            data_ = base_;
            end_ = base_ + n;
        } else {
            grow(capacity() * 2);
        }
    }
    void assign(const TransitionRefs& other) {
        const std::size_t n = other.size();
        if (n > capacity()) grow(n);
        std::memcpy(base_, other.data_, n * sizeof(Transition*));
        data_ = base_;
        end_ = base_ + n;
        mayRepeat_ = n > 0;
    }
    void grow(std::size_t n) {
        std::size_t cap = capacity();
        while (cap < n) cap *= 2;
        Transition** bigger = allocate(cap);
        const std::size_t count = size();
        std::memcpy(bigger, data_, count * sizeof(Transition*));
        release();
        base_ = data_ = bigger;
        end_ = bigger + count;
        limit_ = bigger + cap;
    }
    static Transition** allocate(std::size_t cap) {
        void* p;
        switch (cap) {
            case 16: p = BlockPool<16 * sizeof(Transition*)>::allocate(); break;
            case 32: p = BlockPool<32 * sizeof(Transition*)>::allocate(); break;
            case 64: p = BlockPool<64 * sizeof(Transition*)>::allocate(); break;
            default: p = ::operator new(cap * sizeof(Transition*)); break;
        }
        return static_cast<Transition**>(p);
    }
    // Frees the storage and leaves the list empty on its inline storage
    // (callers that keep entries copy them first).
    void release() {
        if (base_ == inline_) return;
        switch (capacity()) {
            case 16: BlockPool<16 * sizeof(Transition*)>::release(base_); break;
            case 32: BlockPool<32 * sizeof(Transition*)>::release(base_); break;
            case 64: BlockPool<64 * sizeof(Transition*)>::release(base_); break;
            default: ::operator delete(base_); break;
        }
        base_ = data_ = end_ = inline_;
        limit_ = inline_ + kInline;
    }

    Transition** base_;   // the storage
    Transition** data_;   // the first entry, within the storage
    Transition** end_;    // one past the last entry
    Transition** limit_;  // the end of the storage
    bool mayRepeat_;      // an entry may stand twice in the list
    Transition* inline_[kInline];
};
