// The tree of first events must answer what a walk over every transition's
// first event answers: the events at the earliest time with the highest
// priority there, in row order, whatever the order of the changes.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "net/FirstEventTree.h"
#include "net/Binding.h"

namespace {

const double kLatest = 1000.0;

// The walk the tree replaces: a running best time and priority from the
// latest time with priority 0.
std::vector<Binding*> walk(const std::vector<Binding*>& row) {
    std::vector<Binding*> out;
    double t = kLatest;
    int p = 0;
    for (Binding* b : row) {
        if (b == nullptr) continue;
        const double bt = b->getTime().FullDateTime();
        if (bt < t || (bt == t && p < b->getPriority())) {
            out.assign(1, b);
            t = bt;
            p = b->getPriority();
        } else if (bt == t && b->getPriority() == p) {
            out.push_back(b);
        }
    }
    return out;
}

// Every change goes through the leaf kept since the reset, as transitions
// do.
struct Row {
    explicit Row(std::size_t n) : events(n, nullptr) {
        tree.reset(n);
        for (std::size_t i = 0; i < n; ++i) leaves.push_back(tree.leaf(i));
    }
    void set(std::size_t i, Binding* b) {
        events[i] = b;
        tree.set(leaves[i], b);
    }
    std::vector<Binding*> collect() {
        std::vector<Binding*> out;
        tree.collectEarliest(out, kLatest);
        return out;
    }
    FirstEventTree tree;
    std::vector<Binding*> events;
    std::vector<FirstEventTree::Leaf> leaves;
};

}  // namespace

TEST(FirstEventTree, AgreesWithAWalkOverEveryTransition) {
    std::mt19937 rng(11);
    const double nan = std::nan("");
    const double times[] = {1.0, 2.0, 2.0, 3.0, kLatest, kLatest + 1.0, nan, std::numeric_limits<double>::infinity()};
    std::vector<std::unique_ptr<Binding>> made;
    long aloneAnswers = 0;
    // Leaves on top (up to 8), one level below the top, two and three.
    for (std::size_t n : {1u, 2u, 3u, 7u, 8u, 9u, 47u, 64u, 65u, 130u, 600u}) {
        Row row(n);
        EXPECT_TRUE(row.collect().empty());
        for (int step = 0; step < 3000; ++step) {
            // Several changes between two collections, the same transition
            // now and then changed twice.
            const int changes = 1 + static_cast<int>(rng() % 4);
            for (int c = 0; c < changes; ++c) {
                const std::size_t i = rng() % n;
                if (rng() % 4 == 0) {
                    row.set(i, nullptr);
                    continue;
                }
                const double t = times[rng() % 8];
                const int priority = static_cast<int>(rng() % 4) - 1;
                made.emplace_back(new Binding(step, nullptr, DateTime(t), priority, 1.0, true, nullptr));
                row.set(i, made.back().get());
            }
            // The shortcut for an event alone answers first (it takes in the
            // changes itself), and never differently.
            Binding* alone = row.tree.earliestAlone(kLatest);
            const std::vector<Binding*> expected = walk(row.events);
            if (alone != nullptr) {
                ++aloneAnswers;
                ASSERT_EQ(expected, std::vector<Binding*>{alone}) << n << " transitions, step " << step;
            }
            ASSERT_EQ(row.collect(), expected) << n << " transitions, step " << step;
        }
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(row.tree.event(i), row.events[i]);
            row.set(i, nullptr);
        }
        EXPECT_TRUE(row.collect().empty());
        EXPECT_EQ(row.tree.earliestAlone(kLatest), nullptr);
    }
    EXPECT_GT(aloneAnswers, 1000);
}

// Ties far apart in the row come out in row order, and only those of the
// highest priority at the earliest time.
TEST(FirstEventTree, TiesInRowOrder) {
    Row row(100);
    Binding a(1, nullptr, DateTime(5.0), 1, 1.0, true, nullptr);
    Binding b(2, nullptr, DateTime(5.0), 2, 1.0, true, nullptr);
    Binding c(3, nullptr, DateTime(5.0), 2, 1.0, true, nullptr);
    Binding later(4, nullptr, DateTime(6.0), 9, 1.0, true, nullptr);
    row.set(97, &c);
    row.set(3, &b);
    row.set(50, &a);
    row.set(0, &later);
    EXPECT_EQ(row.collect(), (std::vector<Binding*>{&b, &c}));
    EXPECT_EQ(row.tree.earliestAlone(kLatest), nullptr);
    row.set(3, nullptr);
    EXPECT_EQ(row.collect(), (std::vector<Binding*>{&c}));
    row.set(97, nullptr);
    EXPECT_EQ(row.collect(), (std::vector<Binding*>{&a}));
}

// At the latest time only priorities of 0 or more count; later times and
// times that are not numbers never do.
TEST(FirstEventTree, TheLatestTimeAndBeyond) {
    Row row(4);
    Binding negative(1, nullptr, DateTime(kLatest), -1, 1.0, true, nullptr);
    Binding beyond(2, nullptr, DateTime(kLatest + 1.0), 3, 1.0, true, nullptr);
    Binding notANumber(3, nullptr, DateTime(std::nan("")), 3, 1.0, true, nullptr);
    row.set(0, &negative);
    row.set(1, &beyond);
    row.set(2, &notANumber);
    EXPECT_EQ(row.tree.earliestAlone(kLatest), nullptr);
    EXPECT_TRUE(row.collect().empty());
    Binding zero(4, nullptr, DateTime(kLatest), 0, 1.0, true, nullptr);
    row.set(3, &zero);
    EXPECT_EQ(row.collect(), (std::vector<Binding*>{&zero}));
}
