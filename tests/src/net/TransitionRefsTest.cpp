#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "net/TransitionRefs.h"

namespace {

// Distinct addresses stand in for transitions; the list never dereferences them.
Transition* tr(int i) { return reinterpret_cast<Transition*>(static_cast<std::uintptr_t>(0x1000 + 16 * i)); }

std::vector<Transition*> items(const TransitionRefs& refs) { return {refs.begin(), refs.end()}; }

}  // namespace

// Holders withdrawing in the order they registered, others registering in
// between: the order of the remaining entries is kept throughout, also when
// the list has to move its entries back to the start of its storage or grow.
TEST(TransitionRefs, WithdrawalsInOrderKeepTheOthersInOrder) {
    TransitionRefs refs;
    std::vector<Transition*> expected;
    int next = 0;
    for (int round = 0; round < 50; ++round) {
        for (int k = 0; k < 3; ++k) {
            refs.push_back(tr(next));
            expected.push_back(tr(next));
            ++next;
        }
        for (int k = 0; k < 2; ++k) {
            refs.removeAll(expected.front());
            expected.erase(expected.begin());
        }
        ASSERT_EQ(items(refs), expected) << "round " << round;
    }
    while (!expected.empty()) {
        refs.removeAll(expected.front());
        expected.erase(expected.begin());
        ASSERT_EQ(items(refs), expected);
    }
    EXPECT_TRUE(refs.empty());
}

// Every occurrence goes, wherever it stands, also when the first entry is
// one of them; a copy has the same entries in the same order.
TEST(TransitionRefs, RemovesEveryOccurrenceAndCopiesInOrder) {
    TransitionRefs refs;
    for (int i : {1, 2, 1, 3, 1}) refs.push_back(tr(i));
    refs.removeAll(tr(1));
    EXPECT_EQ(items(refs), (std::vector<Transition*>{tr(2), tr(3)}));
    EXPECT_FALSE(refs.contains(tr(1)));

    for (int i : {4, 5, 6, 7, 8}) refs.push_back(tr(i));
    refs.removeAll(tr(2));
    refs.removeAll(tr(6));
    const TransitionRefs copy(refs);
    EXPECT_EQ(items(copy), (std::vector<Transition*>{tr(3), tr(4), tr(5), tr(7), tr(8)}));
    TransitionRefs assigned;
    assigned.push_back(tr(9));
    assigned = refs;
    EXPECT_EQ(items(assigned), items(refs));
    refs.removeAll(tr(42));
    EXPECT_EQ(refs.size(), 5u);
}

// Entries known to be new are removed one by one wherever they stand; once an
// entry may repeat (a plain addition, or a copy of the list) every removal
// takes all occurrences again, until the list has been empty.
TEST(TransitionRefs, NewEntriesAndPossibleRepeatsAreRemovedAlike) {
    TransitionRefs refs;
    for (int i : {1, 2, 3, 4}) refs.addNew(tr(i));
    refs.removeAll(tr(3));
    refs.removeAll(tr(1));
    refs.removeAll(tr(42));
    EXPECT_EQ(items(refs), (std::vector<Transition*>{tr(2), tr(4)}));

    refs.push_back(tr(2));
    refs.addNew(tr(5));
    refs.removeAll(tr(2));
    EXPECT_EQ(items(refs), (std::vector<Transition*>{tr(4), tr(5)}));

    TransitionRefs copy(refs);
    copy.push_back(tr(4));
    copy.removeAll(tr(4));
    EXPECT_EQ(items(copy), (std::vector<Transition*>{tr(5)}));

    // Emptied, the list counts as one without repeats again.
    refs.removeAll(tr(4));
    refs.removeAll(tr(5));
    EXPECT_TRUE(refs.empty());
    for (int i : {6, 7, 8, 9, 10, 11, 12, 13, 14}) refs.addNew(tr(i));
    refs.removeAll(tr(10));
    refs.removeAll(tr(6));
    EXPECT_EQ(items(refs), (std::vector<Transition*>{tr(7), tr(8), tr(9), tr(11), tr(12), tr(13), tr(14)}));
}
