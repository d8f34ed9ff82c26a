// The event list keeps a few events inline and more in a tree: both forms
// must give the same order and the same answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "net/EventSet.h"

namespace {

std::vector<long> idsInOrder(const EventSet& events) {
    std::vector<long> ids;
    for (Binding* b : events) ids.push_back(b->getID());
    return ids;
}

}  // namespace

TEST(EventSet, KeepsEventOrderInlineAndInTheTree) {
    std::mt19937 rng(7);
    std::vector<std::unique_ptr<Binding>> all;
    for (long id = 0; id < 40; ++id) {
        // Few distinct times and priorities, so that ties are decided by ID.
        const double time = static_cast<double>(rng() % 5);
        const int priority = static_cast<int>(rng() % 3);
        all.emplace_back(new Binding(id, nullptr, DateTime(time), priority, 1.0, true, nullptr));
    }
    EventSet events;
    std::vector<Binding*> model;
    auto check = [&]() {
        std::vector<Binding*> sorted = model;
        std::sort(sorted.begin(), sorted.end(), DerefLess<Binding*>());
        std::vector<long> expected;
        for (Binding* b : sorted) expected.push_back(b->getID());
        ASSERT_EQ(idsInOrder(events), expected);
        ASSERT_EQ(events.size(), model.size());
        ASSERT_EQ(events.empty(), model.empty());
        if (!model.empty()) {
            EXPECT_EQ(events.front(), sorted.front());
            EXPECT_EQ(events.back(), sorted.back());
        }
    };
    for (std::size_t i = 0; i < all.size(); ++i) {
        events.insert(all[i].get());
        model.push_back(all[i].get());
        check();
        // Now and then take one out again, from anywhere.
        if (i % 3 == 2) {
            Binding* gone = model[rng() % model.size()];
            events.erase(gone);
            model.erase(std::find(model.begin(), model.end(), gone));
            check();
        }
    }
    while (!model.empty()) {
        Binding* gone = model.back();
        events.erase(gone);
        model.pop_back();
        check();
    }
    // Back to the inline form: a new event is found again.
    events.insert(all[0].get());
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(events.front(), all[0].get());
    events.erase(all[5].get());  // not in the list: nothing happens
    EXPECT_EQ(events.size(), 1u);
    events.clear();
    EXPECT_TRUE(events.empty());
}
