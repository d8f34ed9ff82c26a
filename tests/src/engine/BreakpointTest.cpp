// Breakpoints: the relation texts and when a condition on a measure holds.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "TestNets.h"
#include "engine/Breakpoint.h"

using namespace testnets;

TEST(Breakpoint, RelationTextsAreExact) {
    EXPECT_EQ(Breakpoint::stringToRelation("="), rel_equal);
    EXPECT_EQ(Breakpoint::stringToRelation(">"), rel_greater);
    EXPECT_EQ(Breakpoint::stringToRelation("<"), rel_less);
    EXPECT_EQ(Breakpoint::stringToRelation(">="), rel_greater_equal);
    EXPECT_EQ(Breakpoint::stringToRelation("<="), rel_less_equal);
    for (const char* other : {"", " =", "= ", "==", "=>", "=<", "<>", "!=", "ge", ">=="})
        EXPECT_EQ(Breakpoint::stringToRelation(other), rel_none) << "'" << other << "'";
}

TEST(Breakpoint, EachRelationComparesTheMeasuresCurrentValue) {
    TestNet net;
    ValueMeasure m("Queue", &net);
    struct Case {
        BreakpointRelation relation;
        bool below, equal, above;  // x = 1.5, 2.5, 3.5 against the threshold 2.5
    };
    const Case cases[] = {{rel_equal, false, true, false},        {rel_greater, false, false, true},
                          {rel_less, true, false, false},         {rel_greater_equal, false, true, true},
                          {rel_less_equal, true, true, false},    {rel_none, false, false, false}};
    for (const Case& c : cases) {
        Breakpoint b(&m, c.relation, 2.5);
        m.current = 1.5;
        EXPECT_EQ(b.isTriggered(), c.below) << c.relation;
        m.current = 2.5;
        EXPECT_EQ(b.isTriggered(), c.equal) << c.relation;
        m.current = 3.5;
        EXPECT_EQ(b.isTriggered(), c.above) << c.relation;
    }
}

TEST(Breakpoint, EqualHoldsWithinOneHundredMillionth) {
    TestNet net;
    ValueMeasure m("Queue", &net);
    Breakpoint b(&m, rel_equal, 2.0);
    for (double x : {2.0 + 0.5e-8, 2.0 - 0.9e-8, 2.0 + 0.99e-8}) {
        m.current = x;
        EXPECT_TRUE(b.isTriggered()) << x - 2.0;
    }
    for (double x : {2.0 + 1e-6, 2.0 - 1e-6, 2.0 + 2e-8}) {
        m.current = x;
        EXPECT_FALSE(b.isTriggered()) << x - 2.0;
    }
}

TEST(Breakpoint, NotANumberNeverHolds) {
    TestNet net;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ValueMeasure m("Queue", &net, nan);
    for (BreakpointRelation r : {rel_equal, rel_greater, rel_less, rel_greater_equal, rel_less_equal}) {
        m.current = nan;
        EXPECT_FALSE(Breakpoint(&m, r, 1.0).isTriggered()) << r;
        m.current = 1.0;
        EXPECT_FALSE(Breakpoint(&m, r, nan).isTriggered()) << r;
    }
}

TEST(Breakpoint, PlaceholdersAndBreakpointsWithoutMeasureNeverHold) {
    const Breakpoint placeholder;
    EXPECT_EQ(placeholder.getMeasure(), nullptr);
    EXPECT_EQ(placeholder.getRelation(), rel_none);
    EXPECT_EQ(placeholder.getValue(), 0.0);
    EXPECT_FALSE(placeholder.isTriggered());
    EXPECT_FALSE(Breakpoint(nullptr, rel_less_equal, 1e300).isTriggered());
}
