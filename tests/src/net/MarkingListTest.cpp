#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <random>
#include <vector>

#include "TestNets.h"
#include "net/MarkingList.h"

using namespace testnets;

namespace {

std::vector<const Token*> contents(const MarkingList& m) {
    std::vector<const Token*> v;
    for (const Ptr<Token>& t : m) v.push_back(t.GetRawPtr());
    return v;
}

std::vector<const Token*> contents(const std::list<Ptr<Token>>& m) {
    std::vector<const Token*> v;
    for (const Ptr<Token>& t : m) v.push_back(t.GetRawPtr());
    return v;
}

std::vector<Ptr<Token>> makeTokens(int n) {
    std::vector<Ptr<Token>> v;
    for (int i = 0; i < n; ++i) v.push_back(Ptr<Token>(new Token_int(i)));
    return v;
}

}  // namespace

TEST(MarkingList, KeepsOrderAndDuplicatesAndRemovesEveryHandleOfAToken) {
    auto t = makeTokens(4);
    MarkingList m;
    EXPECT_TRUE(m.empty());
    m.push_back(t[0]);
    m.push_back(t[1]);
    m.push_back(t[0]);
    m.push_back(t[2]);
    EXPECT_EQ(m.size(), 4u);
    EXPECT_TRUE(m.front() == t[0]);
    EXPECT_EQ(contents(m), (std::vector<const Token*>{t[0].GetRawPtr(), t[1].GetRawPtr(), t[0].GetRawPtr(),
                                                      t[2].GetRawPtr()}));
    EXPECT_EQ(t[0].GetRefObject()->activeCount(), 3u);
    EXPECT_TRUE(m.contains(t[2].GetRawPtr()));
    EXPECT_FALSE(m.contains(t[3].GetRawPtr()));

    EXPECT_EQ(m.removeAll(t[0].GetRawPtr()), 2u);
    EXPECT_EQ(t[0].GetRefObject()->activeCount(), 1u);
    EXPECT_EQ(contents(m), (std::vector<const Token*>{t[1].GetRawPtr(), t[2].GetRawPtr()}));
    EXPECT_EQ(m.removeAll(t[3].GetRawPtr()), 0u);
    EXPECT_EQ(m.removeAll(t[2].GetRawPtr()), 1u);
    EXPECT_TRUE(m.front() == t[1]);
    EXPECT_EQ(m.removeAll(t[1].GetRawPtr()), 1u);
    EXPECT_TRUE(m.empty());
    EXPECT_TRUE(m.begin() == m.end());
}

TEST(MarkingList, LongListsKeepOrderThroughTheIndex) {
    auto t = makeTokens(200);
    MarkingList m;
    for (int i = 0; i < 200; ++i) {
        m.push_back(t[i]);
        if (i % 3 == 0) m.push_back(t[i / 2]);  // duplicates, older tokens again
    }
    std::list<Ptr<Token>> model(m.begin(), m.end());
    ASSERT_EQ(model.size(), m.size());
    for (int i = 0; i < 200; i += 7) {
        const std::size_t expected = std::count(model.begin(), model.end(), t[i]);
        model.remove(t[i]);
        EXPECT_EQ(m.removeAll(t[i].GetRawPtr()), expected);
        EXPECT_FALSE(m.contains(t[i].GetRawPtr()));
    }
    EXPECT_EQ(contents(m), contents(model));
    EXPECT_TRUE(m.front() == model.front());

    // Copies are independent and indexed too.
    MarkingList copy(m);
    EXPECT_EQ(copy.removeAll(t[1].GetRawPtr()), static_cast<std::size_t>(std::count(model.begin(), model.end(), t[1])));
    EXPECT_TRUE(m.contains(t[1].GetRawPtr()));
    copy = m;
    EXPECT_EQ(contents(copy), contents(m));
    copy = copy;
    EXPECT_EQ(contents(copy), contents(m));

    // Emptied and filled again.
    m.clear();
    EXPECT_TRUE(m.empty());
    EXPECT_FALSE(m.contains(t[1].GetRawPtr()));
    for (int i = 0; i < 40; ++i) m.push_back(t[i]);
    EXPECT_EQ(m.size(), 40u);
    EXPECT_EQ(m.removeAll(t[39].GetRawPtr()), 1u);
    EXPECT_TRUE(m.front() == t[0]);
}

TEST(MarkingList, HandlesAreReleasedWithTheList) {
    int deaths = 0;
    {
        MarkingList m;
        for (int i = 0; i < 30; ++i) {
            Ptr<Token> t(new CountedToken(i, deaths));
            m.push_back(t);
            m.push_back(t);
        }
        EXPECT_EQ(deaths, 0);
        m.removeAll(m.front().GetRawPtr());
        EXPECT_EQ(deaths, 1);
    }
    EXPECT_EQ(deaths, 30);
}

// Random appends and removals, checked against a plain list after every
// step, growing past the index threshold and shrinking to empty again.
TEST(MarkingList, RandomOperationsAgreeWithAPlainList) {
    std::mt19937 rng(12345);
    auto pool = makeTokens(400);
    for (int round = 0; round < 4; ++round) {
        const int distinct = round == 0 ? 10 : (round == 1 ? 40 : 400);
        MarkingList m;
        std::list<Ptr<Token>> model;
        for (int step = 0; step < 3000; ++step) {
            const int grow = step < 2000 ? 65 : 30;  // percent of appends
            if (static_cast<int>(rng() % 100) < grow) {
                const Ptr<Token>& t = pool[rng() % distinct];
                m.push_back(t);
                model.push_back(t);
            } else {
                Ptr<Token> t;
                if (!model.empty() && rng() % 4 != 0) {
                    auto it = model.begin();
                    std::advance(it, rng() % model.size());
                    t = *it;
                } else {
                    t = pool[rng() % distinct];
                }
                const std::size_t expected = std::count(model.begin(), model.end(), t);
                model.remove(t);
                ASSERT_EQ(m.removeAll(t.GetRawPtr()), expected) << "round " << round << " step " << step;
            }
            ASSERT_EQ(m.size(), model.size());
            if (!model.empty()) {
                ASSERT_TRUE(m.front() == model.front());
            }
            if (step % 50 == 0 || m.size() < 20) {
                ASSERT_EQ(contents(m), contents(model)) << "round " << round << " step " << step;
                for (int k = 0; k < distinct; k += 3) {
                    const bool present = std::find(model.begin(), model.end(), pool[k]) != model.end();
                    ASSERT_EQ(m.contains(pool[k].GetRawPtr()), present);
                }
            }
        }
        EXPECT_EQ(contents(m), contents(model));
    }
}
