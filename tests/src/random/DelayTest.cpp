#include <gtest/gtest.h>

#include <cmath>

#include "random/Delay.h"
#include "random/RandomWrapper.h"
#include "random/RngStream.h"

namespace {

struct PackageSeed {
    explicit PackageSeed(unsigned long v) {
        const unsigned long seed[6] = {v, v, v, v, v, v};
        EXPECT_TRUE(RandomWrapper::SetPackageSeed(seed));
    }
};

// A sampler and a stream that starts where the sampler's stream starts:
// the stream tells which numbers the sampler drew and how many.
struct Twin {
    explicit Twin(unsigned long v) : seed1(v), seed2(v) {}
    PackageSeed seed1;
    Delay delay;
    PackageSeed seed2;
    RngStream stream;

    // The sampler's next number is the stream's next number.
    bool inStep() { return delay.Uni(0.0, 1.0) == stream.RandU01(); }
};

// Leaves the process-wide spare of the normal sampler empty, whatever other
// tests left behind.
void drainNormalSpare() {
    Twin t(1);
    t.delay.Norm(0.0, 1.0);
    if (t.inStep()) return;     // that call used the spare up
    t.delay.Norm(0.0, 1.0);     // use up the one it made
}

} // namespace

TEST(Delay, SimpleSamplersDrawOnceOrNotAtAll) {
    Twin t(4711);
    double u = t.stream.RandU01();
    EXPECT_DOUBLE_EQ(t.delay.Exp(2.5), -std::log(1.0 - u) * 2.5);

    EXPECT_EQ(t.delay.Exp(-1.0), 0.0);
    EXPECT_EQ(t.delay.Det(3.5), 3.5);
    EXPECT_TRUE(t.inStep());

    u = t.stream.RandU01();
    EXPECT_DOUBLE_EQ(t.delay.Wei(2.0, 3.0), 2.0 * std::pow(-std::log(1.0 - u), 1.0 / 3.0));

    u = t.stream.RandU01();
    EXPECT_DOUBLE_EQ(t.delay.Uni(5.0, 2.0), 2.0 + 3.0 * u);

    u = t.stream.RandU01();
    EXPECT_EQ(t.delay.DUni(9, 4), 4.0 + static_cast<int>(6.0 * u));
    t.stream.RandU01();
    EXPECT_EQ(t.delay.DUni(3, 3), 3.0);
    EXPECT_TRUE(t.inStep());
}

TEST(Delay, TriangularRejectsPairsUntilOneFits) {
    Twin t(99);
    int rejected = 0;
    for (int i = 0; i < 200; ++i) {
        double u1, v;
        for (;;) {
            u1 = t.stream.RandU01();
            v = t.stream.RandU01() / 2.0;
            if ((u1 < 0.5 && u1 > v) || (u1 >= 0.5 && v > u1 - 0.5)) break;
            ++rejected;
        }
        const double x = t.delay.Triang(4.0, 1.0);
        ASSERT_DOUBLE_EQ(x, 1.0 + 3.0 * u1);
        ASSERT_GT(x, 1.0);
        ASSERT_LT(x, 4.0);
    }
    EXPECT_GT(rejected, 0);
    EXPECT_TRUE(t.inStep());
}

TEST(Delay, NormalSpareIsSharedByAllSamplers) {
    drainNormalSpare();
    Twin a(314), b(2718);

    // The polar method on a's numbers.
    double x, y, s;
    do {
        x = 2.0 * a.stream.RandU01() - 1.0;
        y = 2.0 * a.stream.RandU01() - 1.0;
        s = x * x + y * y;
    } while (!(s > 0.0 && s < 1.0));
    const double r = std::sqrt(-2.0 * std::log(s) / s);

    EXPECT_DOUBLE_EQ(a.delay.Norm(2.0, 3.0), y * r * 3.0 + 2.0);
    // b gets a's spare, scaled by its own parameters, and draws nothing.
    EXPECT_DOUBLE_EQ(b.delay.LogNorm(10.0, 0.5), std::exp(x * r * 0.5 + 10.0));
    EXPECT_TRUE(b.inStep());
    EXPECT_TRUE(a.inStep());

    // The spare is gone: the next call draws again.
    b.delay.Norm(0.0, 1.0);
    EXPECT_FALSE(b.inStep());
    drainNormalSpare();
}
