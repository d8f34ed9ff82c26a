#pragma once
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "base/BlockPool.h"
#include "net/Token.h"

// The marking of a place (and the not-bound tokens of an infinite-server
// transition): token handles, oldest first, duplicates possible.
//
// Places grow to 10^5..10^6 tokens in long runs, so appending, removing a
// given token wherever it lies, and reading the oldest tokens all cost O(1):
// the handles are kept in a doubly linked list of pooled nodes, and once the
// list is long an index from token to its nodes finds a token without a scan.
class MarkingList {
    struct Node {
        Ptr<Token> token;
        Node* prev;
        Node* next;
        Node* sameNext;  // next node holding the same token (index mode only)
        USE_BLOCK_POOL(Node)
    };

public:
    class const_iterator;
    class iterator {
    public:
        typedef std::forward_iterator_tag iterator_category;
        typedef Ptr<Token> value_type;
        typedef std::ptrdiff_t difference_type;
        typedef Ptr<Token>* pointer;
        typedef Ptr<Token>& reference;
        iterator() : n(nullptr) {}
        reference operator*() const { return n->token; }
        pointer operator->() const { return &n->token; }
        iterator& operator++() { n = n->next; return *this; }
        iterator operator++(int) { iterator old = *this; n = n->next; return old; }
        bool operator==(const iterator& o) const { return n == o.n; }
        bool operator!=(const iterator& o) const { return n != o.n; }
    private:
        friend class MarkingList;
        friend class const_iterator;
        explicit iterator(Node* node) : n(node) {}
        Node* n;
    };
    class const_iterator {
    public:
        typedef std::forward_iterator_tag iterator_category;
        typedef Ptr<Token> value_type;
        typedef std::ptrdiff_t difference_type;
        typedef const Ptr<Token>* pointer;
        typedef const Ptr<Token>& reference;
        const_iterator() : n(nullptr) {}
        const_iterator(iterator it) : n(it.n) {}
        reference operator*() const { return n->token; }
        pointer operator->() const { return &n->token; }
        const_iterator& operator++() { n = n->next; return *this; }
        const_iterator operator++(int) { const_iterator old = *this; n = n->next; return old; }
        bool operator==(const const_iterator& o) const { return n == o.n; }
        bool operator!=(const const_iterator& o) const { return n != o.n; }
    private:
        friend class MarkingList;
        explicit const_iterator(const Node* node) : n(node) {}
        const Node* n;
    };

    MarkingList() = default;
    MarkingList(const MarkingList& other);
    MarkingList& operator=(const MarkingList& other);
    ~MarkingList();

    void push_back(const Ptr<Token>& t);
    void push_back(Ptr<Token>&& t);
    // Removes every handle that refers to the token object `t`; answers how
    // many were removed.
    std::size_t removeAll(const Token* t);
    bool contains(const Token* t) const;
    void clear();

    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    Ptr<Token>& front() { return head->token; }
    Ptr<Token>& back() { return tail->token; }
    const Ptr<Token>& front() const { return head->token; }
    iterator begin() { return iterator(head); }
    iterator end() { return iterator(nullptr); }
    const_iterator begin() const { return const_iterator(head); }
    const_iterator end() const { return const_iterator(nullptr); }

private:
    // Below this length a linear walk is cheaper than keeping the index.
    static constexpr std::size_t kIndexFrom = 16;

    void unlink(Node* n);
    void buildIndex();
    void dropIndex();
    // Open-addressing table from token address to the first node holding it.
    std::size_t slotOf(const Token* t) const;
    Node* indexFind(const Token* t) const;
    void indexInsert(Node* n);
    void indexErase(const Token* t);
    void indexGrow();
    static std::size_t hash(const Token* t) {
        return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(t) >> 4) * 0x9E3779B97F4A7C15ull);
    }

    Node* head = nullptr;
    Node* tail = nullptr;
    std::size_t count = 0;
    std::vector<Node*> table;   // empty when there is no index
    std::size_t indexed = 0;    // distinct tokens in the table
};
