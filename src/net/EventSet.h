#pragma once
#include <cstddef>
#include <iterator>
#include <set>

#include "base/BlockPool.h"
#include "net/Binding.h"

// The pending events of one transition, in event order (time, then higher
// priority, then older binding). A single-server transition holds at most
// one event and an infinite-server one usually a few: up to kInline events
// are kept sorted inside the transition; beyond that the list moves into an
// ordered tree, so that large infinite-server lists stay logarithmic.
class EventSet {
    typedef std::set<Binding*, DerefLess<Binding*>, PoolAllocator<Binding*>> Tree;

public:
    class const_iterator {
    public:
        typedef std::forward_iterator_tag iterator_category;
        typedef Binding* value_type;
        typedef std::ptrdiff_t difference_type;
        typedef Binding* const* pointer;
        typedef Binding* const& reference;
        const_iterator() = default;
        reference operator*() const { return inTree ? *node : *slot; }
        const_iterator& operator++() {
            if (inTree) ++node;
            else ++slot;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator old = *this;
            ++*this;
            return old;
        }
        bool operator==(const const_iterator& o) const { return inTree ? node == o.node : slot == o.slot; }
        bool operator!=(const const_iterator& o) const { return !(*this == o); }

    private:
        friend class EventSet;
        bool inTree = false;
        Binding* const* slot = nullptr;
        Tree::const_iterator node;
    };
    typedef const_iterator iterator;

    EventSet() = default;
    EventSet(const EventSet&) = delete;
    EventSet& operator=(const EventSet&) = delete;

    // The tree is in use exactly while it holds events; `count` is the
    // number of events wherever they are, so that the frequent emptiness
    // test reads one field.
    bool empty() const { return count == 0; }
    std::size_t size() const { return count; }
    Binding* front() const { return inTree ? *tree.begin() : inline_[0]; }
    Binding* back() const { return inTree ? *tree.rbegin() : inline_[count - 1]; }

    const_iterator begin() const {
        const_iterator it;
        it.inTree = inTree;
        if (inTree) it.node = tree.begin();
        else it.slot = inline_;
        return it;
    }
    const_iterator end() const {
        const_iterator it;
        it.inTree = inTree;
        if (inTree) it.node = tree.end();
        else it.slot = inline_ + count;
        return it;
    }

    // The first event of a list (the usual case: a single-server
    // transition) is placed inline; the rest is out of line.
    void insert(Binding* b) {
        if (count == 0) {
            inline_[0] = b;
            count = 1;
            return;
        }
        insertMore(b);
    }

    // Removes `b` (the same binding object) when it is in the list.
    void erase(Binding* b) {
        if (count == 1 && !inTree && inline_[0] == b) {
            count = 0;
            return;
        }
        eraseMore(b);
    }

    void clear() {
        tree.clear();
        inTree = false;
        count = 0;
    }

private:
    static constexpr std::size_t kInline = 4;

    [[gnu::noinline]] void insertMore(Binding* b) {
        if (inTree) {
            tree.insert(b);
            count = tree.size();
            return;
        }
        if (count == kInline) {
            tree.insert(inline_, inline_ + count);
            tree.insert(b);
            count = tree.size();
            inTree = true;
            return;
        }
        std::size_t at = count;
        while (at > 0 && *b < *inline_[at - 1]) {
            inline_[at] = inline_[at - 1];
            --at;
        }
        inline_[at] = b;
        ++count;
    }

    [[gnu::noinline]] void eraseMore(Binding* b) {
        if (inTree) {
            auto it = tree.find(b);
            if (it != tree.end()) tree.erase(it);
            count = tree.size();
            if (count == 0) inTree = false;
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (inline_[i] == b) {
                for (std::size_t j = i + 1; j < count; ++j) inline_[j - 1] = inline_[j];
                --count;
                return;
            }
        }
    }

    Binding* inline_[kInline] = {};
    std::size_t count = 0;
    bool inTree = false;
    Tree tree;
};
