#pragma once
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/BlockPool.h"
#include "net/Token.h"

// The tokens of one binding, in the order of the transition's input arcs.
// Bindings bind one to a few tokens, so the handles are kept inline (no
// allocation up to kInline tokens); longer lists move to the heap.
//
// A list may borrow its tokens: its handles are then uncounted copies, which
// cost nothing to take and to drop, and which stay valid only while each
// token lies in a place. A transition's own event borrows the tokens it
// binds (a token that leaves its place tells the event's transition, which
// drops the event first), and pins them (counts its handles) before a firing
// takes them out of their places.
class TokenList {
public:
    typedef Ptr<Token> value_type;
    typedef Ptr<Token>* iterator;
    typedef const Ptr<Token>* const_iterator;

    TokenList() noexcept : data_(inlineData()), size_(0), capacity_(kInline), borrowing_(false) {}
    // A copy counts its handles, also of a borrowing list.
    TokenList(const TokenList& other) : TokenList() {
        reserve(other.size_);
        for (const auto& t : other) push_back(t);
    }
    TokenList& operator=(const TokenList& other) {
        if (this != &other) {
            clear();
            borrowing_ = false;
            reserve(other.size_);
            for (const auto& t : other) push_back(t);
        }
        return *this;
    }
    // Moving takes the other list's handles over without touching their
    // counters; the other list is left empty.
    TokenList(TokenList&& other) noexcept : TokenList() { takeOver(other); }
    TokenList& operator=(TokenList&& other) noexcept {
        if (this != &other) {
            clear();
            borrowing_ = false;
            takeOver(other);
        }
        return *this;
    }
    // Inline wherever a list dies: the event lists drop one per withdrawal.
    [[gnu::always_inline]] ~TokenList() {
        clear();
        if (data_ != inlineData()) ::operator delete(data_);
    }

    // `t` may be one of this list's own handles, which growing moves away:
    // take it over before the handles move.
    // The growing case is out of line, so that the common one inlines into
    // the generated searches.
    [[gnu::always_inline]] void push_back(const Ptr<Token>& t) {
        if (borrowing_) return borrow(t);
        if (size_ == capacity_) return growAndAppend(Ptr<Token>(t));
        new (data_ + size_) Ptr<Token>(t);
        ++size_;
    }
    // A counted handle given away is kept counted: a borrowing list pins
    // its handles first.
    void push_back(Ptr<Token>&& t) {
        if (borrowing_) pin();
        if (size_ == capacity_) return growAndAppend(std::move(t));
        new (data_ + size_) Ptr<Token>(std::move(t));
        ++size_;
    }
    void pop_back() {
        --size_;
        if (!borrowing_) data_[size_].~Ptr<Token>();
    }
    iterator erase(iterator pos) {
        // Moving handles releases the ones overwritten: count them first.
        pin();
        for (iterator i = pos; i + 1 != end(); ++i) *i = std::move(*(i + 1));
        pop_back();
        return pos;
    }
    // Drops every handle; a borrowing list forgets its handles and goes on
    // borrowing.
    void clear() {
        if (borrowing_) {
            size_ = 0;
            return;
        }
        while (size_ > 0) pop_back();
    }

    // From now on this list, which must be empty, borrows the tokens it is
    // given (`on`), or counts them. Not checked: the kernel's one caller, a
    // search binding into its transition's free event, runs several times
    // per firing.
    void borrowTokens(bool on) { borrowing_ = on; }
    bool borrowsTokens() const { return borrowing_; }
    // Counts the handles of a borrowing list, which then counts what it is
    // given: its tokens now live at least as long as the list holds them.
    void pin() {
        if (!borrowing_) return;
        for (std::size_t i = 0; i < size_; ++i) data_[i].AdjustRefCount();
        borrowing_ = false;
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Ptr<Token>& operator[](std::size_t i) { return data_[i]; }
    const Ptr<Token>& operator[](std::size_t i) const { return data_[i]; }
    Ptr<Token>& front() { return data_[0]; }
    const Ptr<Token>& front() const { return data_[0]; }
    Ptr<Token>& back() { return data_[size_ - 1]; }
    iterator begin() { return data_; }
    iterator end() { return data_ + size_; }
    const_iterator begin() const { return data_; }
    const_iterator end() const { return data_ + size_; }

    USE_BLOCK_POOL(TokenList)

private:
    static constexpr std::size_t kInline = 3;
    Ptr<Token>* inlineData() { return reinterpret_cast<Ptr<Token>*>(&storage_); }
    void reserve(std::size_t n) {
        if (n <= capacity_) return;
        Ptr<Token>* bigger = static_cast<Ptr<Token>*>(::operator new(n * sizeof(Ptr<Token>)));
        for (std::size_t i = 0; i < size_; ++i) {
            new (bigger + i) Ptr<Token>(std::move(data_[i]));
            data_[i].~Ptr<Token>();
        }
        if (data_ != inlineData()) ::operator delete(data_);
        data_ = bigger;
        capacity_ = static_cast<std::uint32_t>(n);
    }

    void borrow(const Ptr<Token>& t) {
        if (size_ == capacity_) return growAndAppend(Ptr<Token>(t, ReferenceCountedSmartPointer::Uncounted()));
        new (data_ + size_) Ptr<Token>(t, ReferenceCountedSmartPointer::Uncounted());
        ++size_;
    }

    [[gnu::noinline]] void growAndAppend(Ptr<Token>&& t) {
        Ptr<Token> keep(std::move(t));
        reserve(capacity_ * 2);
        new (data_ + size_) Ptr<Token>(std::move(keep));
        ++size_;
    }
    // Takes the handles of `other` into this empty list: heap storage is
    // taken as it is, inline handles are moved one by one.
    void takeOver(TokenList& other) noexcept {
        other.pin();
        if (other.data_ != other.inlineData()) {
            if (data_ != inlineData()) ::operator delete(data_);
            data_ = other.data_;
            capacity_ = other.capacity_;
            size_ = other.size_;
            other.data_ = other.inlineData();
            other.capacity_ = kInline;
            other.size_ = 0;
            return;
        }
        // Inline handles fit: this list is empty and holds at least kInline.
        for (std::size_t i = 0; i < other.size_; ++i) {
            new (data_ + size_) Ptr<Token>(std::move(other.data_[i]));
            ++size_;
        }
        other.clear();
    }

    Ptr<Token>* data_;
    std::size_t size_;
    std::uint32_t capacity_;
    bool borrowing_;  // the handles are uncounted copies
    std::aligned_storage_t<sizeof(Ptr<Token>) * kInline, alignof(Ptr<Token>)> storage_;
};

// Candidate token combinations returned by a transition's generateBindingList;
// the caller owns the list and every TokenList in it. A search usually finds
// one or a few combinations: they are kept inline, and the list itself comes
// from the block pool, so a search allocates nothing in the common case.
class TempBindingList {
public:
    typedef TokenList* value_type;
    typedef TokenList** iterator;
    typedef TokenList* const* const_iterator;

    TempBindingList() noexcept : data_(inline_), size_(0), capacity_(kInline) {}
    TempBindingList(const TempBindingList&) = delete;
    TempBindingList& operator=(const TempBindingList&) = delete;
    ~TempBindingList() {
        if (data_ != inline_) ::operator delete(data_);
    }

    void push_back(TokenList* t) {
        if (size_ == capacity_) grow();
        data_[size_++] = t;
    }
    iterator erase(iterator pos) {
        for (iterator i = pos; i + 1 != end(); ++i) *i = *(i + 1);
        --size_;
        return pos;
    }
    void clear() { size_ = 0; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    TokenList*& operator[](std::size_t i) { return data_[i]; }
    TokenList* operator[](std::size_t i) const { return data_[i]; }
    TokenList*& front() { return data_[0]; }
    TokenList*& back() { return data_[size_ - 1]; }
    iterator begin() { return data_; }
    iterator end() { return data_ + size_; }
    const_iterator begin() const { return data_; }
    const_iterator end() const { return data_ + size_; }

    USE_BLOCK_POOL(TempBindingList)

private:
    static constexpr std::size_t kInline = 4;
    void grow() {
        TokenList** bigger = static_cast<TokenList**>(::operator new(capacity_ * 2 * sizeof(TokenList*)));
        for (std::size_t i = 0; i < size_; ++i) bigger[i] = data_[i];
        if (data_ != inline_) ::operator delete(data_);
        data_ = bigger;
        capacity_ *= 2;
    }

    TokenList** data_;
    std::size_t size_;
    std::size_t capacity_;
    TokenList* inline_[kInline];
};

// Place map (and attribute map) handed to transition constructors.
typedef std::map<std::string, std::string> PlaceIdentMap;
