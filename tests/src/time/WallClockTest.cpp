#include <gtest/gtest.h>

#include <thread>

#include "time/WallClock.h"

namespace {

// WallClock::now() lies between two readings of DateTime::Today() taken
// around it (no daylight-saving switch in between is assumed).
void expectBetweenTodays() {
    DateTime before = DateTime::Today();
    DateTime now = WallClock::now();
    DateTime after = DateTime::Today();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
    EXPECT_EQ(now.Fraction(), 0.0);
}

} // namespace

TEST(WallClock, AgreesWithToday) {
    expectBetweenTodays();
    // Repeated calls within the same second come from the cache and must
    // still follow the clock.
    for (int i = 0; i < 1000; ++i) expectBetweenTodays();
}

TEST(WallClock, EachThreadHasItsOwnCache) {
    std::thread other([] { expectBetweenTodays(); });
    expectBetweenTodays();
    other.join();
}
