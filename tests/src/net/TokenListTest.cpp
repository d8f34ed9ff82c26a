#include <gtest/gtest.h>

#include <utility>

#include "TestNets.h"
#include "net/TokenList.h"

using namespace testnets;

namespace {
unsigned long countOf(const Ptr<Token>& t) { return t.GetRefObject()->activeCount(); }
}  // namespace

// A borrowing list holds uncounted handles: taking, growing, forgetting and
// destroying them leave the counts alone; pinning counts them, and from then
// on the list counts like any other.
TEST(TokenList, ABorrowingListLeavesTheCountsAloneUntilItIsPinned) {
    int deaths = 0;
    Ptr<Token> x(new CountedToken(1, deaths));
    Ptr<Token> y(new CountedToken(2, deaths));
    {
        TokenList l;
        l.borrowTokens(true);
        for (int i = 0; i < 5; ++i) l.push_back(i % 2 == 0 ? x : y);  // beyond the inline room
        EXPECT_EQ(countOf(x), 1u);
        EXPECT_EQ(countOf(y), 1u);
        l.clear();
        EXPECT_TRUE(l.borrowsTokens());
        EXPECT_EQ(countOf(x), 1u);
        l.push_back(x);
        l.push_back(y);
        l.pin();
        EXPECT_FALSE(l.borrowsTokens());
        EXPECT_EQ(countOf(x), 2u);
        EXPECT_EQ(countOf(y), 2u);
        l.push_back(x);
        EXPECT_EQ(countOf(x), 3u);
    }
    EXPECT_EQ(countOf(x), 1u);
    EXPECT_EQ(countOf(y), 1u);
    {
        TokenList l;
        l.borrowTokens(true);
        l.push_back(x);
    }
    EXPECT_EQ(countOf(x), 1u);
    EXPECT_EQ(deaths, 0);
}

// Whatever takes handles out of a borrowing list gets counted ones: a copy,
// a move, a handle given away into it, an erase that moves its handles.
TEST(TokenList, CopiesMovesAndEditsOfABorrowingListCountTheirHandles) {
    int deaths = 0;
    Ptr<Token> x(new CountedToken(1, deaths));
    Ptr<Token> y(new CountedToken(2, deaths));
    TokenList l;
    l.borrowTokens(true);
    l.push_back(x);
    l.push_back(y);
    {
        TokenList copy(l);
        EXPECT_EQ(countOf(x), 2u);
        TokenList assigned;
        assigned = l;
        EXPECT_EQ(countOf(x), 3u);
    }
    EXPECT_EQ(countOf(x), 1u);
    EXPECT_TRUE(l.borrowsTokens());

    {
        TokenList moved(std::move(l));
        EXPECT_EQ(countOf(x), 2u);
        EXPECT_EQ(countOf(y), 2u);
        EXPECT_TRUE(l.empty());
        EXPECT_FALSE(l.borrowsTokens());
    }
    EXPECT_EQ(countOf(x), 1u);

    l.borrowTokens(true);
    l.push_back(x);
    l.push_back(Ptr<Token>(new CountedToken(3, deaths)));
    EXPECT_FALSE(l.borrowsTokens());
    EXPECT_EQ(countOf(x), 2u);
    l.clear();
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(countOf(x), 1u);

    l.borrowTokens(true);
    l.push_back(x);
    l.push_back(y);
    l.push_back(x);
    l.erase(l.begin());
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].GetRawPtr(), y.GetRawPtr());
    EXPECT_EQ(countOf(x), 2u);
    EXPECT_EQ(countOf(y), 2u);
    l.clear();
    EXPECT_EQ(countOf(x), 1u);
    EXPECT_EQ(countOf(y), 1u);
    EXPECT_EQ(deaths, 1);
}
