#include "net/MarkingList.h"

MarkingList::MarkingList(const MarkingList& other) {
    for (const auto& t : other) push_back(t);
}

MarkingList& MarkingList::operator=(const MarkingList& other) {
    if (this != &other) {
        clear();
        for (const auto& t : other) push_back(t);
    }
    return *this;
}

MarkingList::~MarkingList() { clear(); }

void MarkingList::push_back(const Ptr<Token>& t) { push_back(Ptr<Token>(t)); }

void MarkingList::push_back(Ptr<Token>&& t) {
    Node* n = new Node{std::move(t), tail, nullptr, nullptr};
    if (tail != nullptr) tail->next = n; else head = n;
    tail = n;
    ++count;
    if (Token* raw = n->token.GetRawPtr()) ++raw->markingEntries;
    if (!table.empty()) indexInsert(n);
}

void MarkingList::unlink(Node* n) {
    if (n->prev != nullptr) n->prev->next = n->next; else head = n->next;
    if (n->next != nullptr) n->next->prev = n->prev; else tail = n->prev;
    --count;
    if (Token* raw = n->token.GetRawPtr()) --raw->markingEntries;
    delete n;
}

// Tokens usually leave from the front (bindings take the oldest tokens) and
// lie in one list only: that case is answered at once. Otherwise a long
// list is searched through its index, which is built the first time it is
// needed, so that lists that only grow (sink places) never pay for one.
std::size_t MarkingList::removeAll(const Token* t) {
    if (head != nullptr && head->token.GetRawPtr() == t && t->markingEntries == 1) {
        if (!table.empty()) indexErase(t);
        unlink(head);
        if (count == 0 && !table.empty()) dropIndex();
        return 1;
    }
    if (table.empty() && count > kIndexFrom) buildIndex();
    std::size_t removed = 0;
    if (table.empty()) {
        for (Node* n = head; n != nullptr;) {
            Node* next = n->next;
            if (n->token.GetRawPtr() == t) {
                unlink(n);
                ++removed;
            }
            n = next;
        }
        return removed;
    }
    Node* n = indexFind(t);
    if (n == nullptr) return 0;
    indexErase(t);
    while (n != nullptr) {
        Node* same = n->sameNext;
        unlink(n);
        ++removed;
        n = same;
    }
    if (count == 0) dropIndex();
    return removed;
}

bool MarkingList::contains(const Token* t) const {
    if (t == nullptr || t->markingEntries == 0) return false;
    if (!table.empty()) return indexFind(t) != nullptr;
    for (const Node* n = head; n != nullptr; n = n->next)
        if (n->token.GetRawPtr() == t) return true;
    return false;
}

void MarkingList::clear() {
    Node* n = head;
    while (n != nullptr) {
        Node* next = n->next;
        if (Token* raw = n->token.GetRawPtr()) --raw->markingEntries;
        delete n;
        n = next;
    }
    head = tail = nullptr;
    count = 0;
    dropIndex();
}

void MarkingList::buildIndex() {
    table.assign(64, nullptr);
    indexed = 0;
    while (table.size() < count * 2) table.resize(table.size() * 2);
    for (Node* n = head; n != nullptr; n = n->next) indexInsert(n);
}

void MarkingList::dropIndex() {
    table.clear();
    table.shrink_to_fit();
    indexed = 0;
}

std::size_t MarkingList::slotOf(const Token* t) const {
    const std::size_t mask = table.size() - 1;
    std::size_t i = hash(t) & mask;
    while (table[i] != nullptr && table[i]->token.GetRawPtr() != t) i = (i + 1) & mask;
    return i;
}

MarkingList::Node* MarkingList::indexFind(const Token* t) const { return table[slotOf(t)]; }

void MarkingList::indexInsert(Node* n) {
    if ((indexed + 1) * 2 > table.size()) indexGrow();
    std::size_t i = slotOf(n->token.GetRawPtr());
    if (table[i] != nullptr) {
        n->sameNext = table[i];
    } else {
        n->sameNext = nullptr;
        ++indexed;
    }
    table[i] = n;
}

void MarkingList::indexGrow() {
    std::vector<Node*> old;
    old.swap(table);
    table.assign(old.size() * 2, nullptr);
    for (Node* chain : old) {
        if (chain == nullptr) continue;
        table[slotOf(chain->token.GetRawPtr())] = chain;
    }
}

// Linear probing with backward-shift deletion keeps lookups short without
// tombstones.
void MarkingList::indexErase(const Token* t) {
    const std::size_t mask = table.size() - 1;
    std::size_t i = slotOf(t);
    if (table[i] == nullptr) return;
    table[i] = nullptr;
    --indexed;
    std::size_t j = i;
    for (;;) {
        j = (j + 1) & mask;
        if (table[j] == nullptr) break;
        std::size_t home = hash(table[j]->token.GetRawPtr()) & mask;
        // Move table[j] into the hole when its home slot does not lie in (i, j].
        bool between = (i <= j) ? (i < home && home <= j) : (i < home || home <= j);
        if (!between) {
            table[i] = table[j];
            table[j] = nullptr;
            i = j;
        }
    }
}
