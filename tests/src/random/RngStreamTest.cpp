#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "random/RandomWrapper.h"
#include "random/RngStream.h"

namespace {

using State = std::array<unsigned long, 6>;

// Every test sets the package seed itself: the seed is process-wide and
// each stream created advances it.
void packageSeed(unsigned long v) {
    const unsigned long seed[6] = {v, v, v, v, v, v};
    ASSERT_TRUE(RngStream::SetPackageSeed(seed));
}

State stateOf(const RngStream& g) {
    State s;
    g.GetState(s.data());
    return s;
}

std::vector<double> draws(RngStream& g, int n) {
    std::vector<double> v;
    for (int i = 0; i < n; ++i) v.push_back(g.RandU01());
    return v;
}

} // namespace

TEST(RngStream, DefaultSeedGivesThePublishedFirstNumbers) {
    packageSeed(12345);
    RngStream g;
    EXPECT_NEAR(g.RandU01(), 0.127011122046577, 1e-15);
    EXPECT_NEAR(g.RandU01(), 0.318527565396795, 1e-15);
    EXPECT_NEAR(g.RandU01(), 0.309186015583270, 1e-15);
}

TEST(RngStream, JumpsMatchThePublishedJumpMatrices) {
    // Jumping from a unit state gives one column of the jump matrices of
    // the two components; these are the published ones.
    struct Jump {
        long e;
        State columns[3];
    };
    const Jump jumps[] = {
        {76,
         {{82758667, 3672831523, 3672091415, 1511326704, 4292754251, 3859662829},
          {1871391091, 69195019, 3528743235, 3759209742, 1511326704, 4292754251},
          {4127413238, 1871391091, 69195019, 1610795712, 3889917532, 3708466080}}},
        {127,
         {{2427906178, 226153695, 1988835001, 1464411153, 32183930, 2824425944},
          {3580155704, 1230515664, 986791581, 277697599, 1464411153, 32183930},
          {949770784, 3580155704, 1230515664, 1610723613, 1022607788, 2093834863}}},
    };
    packageSeed(1);
    RngStream g;
    for (const Jump& jump : jumps) {
        for (int j = 0; j < 3; ++j) {
            State unit = {0, 0, 0, 0, 0, 0};
            unit[j] = unit[j + 3] = 1;
            ASSERT_TRUE(g.SetSeed(unit.data()));
            g.AdvanceState(jump.e, 0);
            EXPECT_EQ(stateOf(g), jump.columns[j]) << "2^" << jump.e << ", column " << j;
        }
    }
}

TEST(RngStream, RejectedSeedsPrintTheReasonAndChangeNothing) {
    struct Case {
        State seed;
        std::string message;
    };
    const std::string stars40(40, '*'), stars41(41, '*'), stars28(28, '*');
    const std::vector<Case> rejected = {
        {{1, 4294967087UL, 1, 1, 1, 1},
         stars40 + "\nERROR: Seed[1] >= 4294967087, Seed is not set.\n" + stars40 + "\n\n"},
        {{1, 1, 1, 1, 1, 4294944443UL},
         stars41 + "\nERROR: Seed[5] >= 4294944443, Seed is not set.\n" + stars41 + "\n\n"},
        {{0, 0, 0, 1, 1, 1}, stars28 + "\nERROR: First 3 seeds = 0.\n" + stars28 + "\n\n"},
        {{1, 1, 1, 0, 0, 0}, stars28 + "\nERROR: Last 3 seeds = 0.\n" + stars28 + "\n\n"},
    };
    for (const Case& c : rejected) {
        packageSeed(99);
        RngStream g;
        const State before = stateOf(g);

        testing::internal::CaptureStderr();
        EXPECT_FALSE(g.SetSeed(c.seed.data()));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        EXPECT_EQ(stateOf(g), before);

        testing::internal::CaptureStderr();
        EXPECT_FALSE(RngStream::SetPackageSeed(c.seed.data()));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        // The package seed still continues from the stream created above.
        RngStream next;
        g.ResetStartStream();
        g.AdvanceState(127, 0);
        EXPECT_EQ(stateOf(next), stateOf(g));
    }

    // The largest values of each component are valid.
    const State largest = {4294967086UL, 0, 0, 4294944442UL, 0, 0};
    RngStream g;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(g.SetSeed(largest.data()));
    EXPECT_TRUE(RngStream::SetPackageSeed(largest.data()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    RngStream fromPackage;
    EXPECT_EQ(stateOf(g), largest);
    EXPECT_EQ(stateOf(fromPackage), largest);
}

TEST(RngStream, SubstreamsResetAndAdvanceByTwoToThe76) {
    packageSeed(31337);
    RngStream g;
    const State start = stateOf(g);

    const auto firstRun = draws(g, 5);
    g.ResetStartSubstream();
    EXPECT_EQ(draws(g, 5), firstRun);

    g.ResetNextSubstream();
    RngStream jumped;
    jumped.SetSeed(start.data());
    jumped.AdvanceState(76, 0);
    EXPECT_EQ(stateOf(g), stateOf(jumped));
    const auto secondRun = draws(g, 5);
    g.ResetStartSubstream();
    EXPECT_EQ(draws(g, 5), secondRun);

    g.ResetStartStream();
    EXPECT_EQ(stateOf(g), start);
    EXPECT_EQ(draws(g, 5), firstRun);
}

TEST(RngStream, AdvanceStateMatchesDrawingAndGoesBack) {
    packageSeed(2024);
    RngStream g, stepper;
    const State start = stateOf(g);
    stepper.SetSeed(start.data());

    g.AdvanceState(0, 37);
    draws(stepper, 37);
    EXPECT_EQ(stateOf(g), stateOf(stepper));

    g.AdvanceState(3, 2);  // 2^3 + 2 steps
    draws(stepper, 10);
    EXPECT_EQ(stateOf(g), stateOf(stepper));

    g.AdvanceState(0, -47);
    EXPECT_EQ(stateOf(g), start);

    g.AdvanceState(100, 12345);
    EXPECT_NE(stateOf(g), start);
    g.AdvanceState(-100, -12345);
    EXPECT_EQ(stateOf(g), start);
}

TEST(RngStream, AntitheticAndIncreasedPrecision) {
    const State seed = {11, 22, 33, 44, 55, 66};
    packageSeed(5);
    RngStream plain, anti;
    plain.SetSeed(seed.data());
    anti.SetSeed(seed.data());
    anti.SetAntithetic(true);
    for (int i = 0; i < 20; ++i) EXPECT_DOUBLE_EQ(anti.RandU01(), 1.0 - plain.RandU01());

    // Increased precision takes two steps per number, antithetic or not.
    plain.IncreasedPrecis(true);
    anti.IncreasedPrecis(true);
    for (int i = 0; i < 20; ++i) {
        const double u = plain.RandU01();
        EXPECT_GT(u, 0.0);
        EXPECT_LT(u, 1.0);
        EXPECT_NEAR(anti.RandU01() + u, 1.0, 1e-15);
    }
    RngStream stepper;
    stepper.SetSeed(seed.data());
    draws(stepper, 60);
    EXPECT_EQ(stateOf(plain), stateOf(stepper));
}

TEST(RngStream, WritesItsStateInTheFixedFormats) {
    const State seed = {1, 2, 3, 4, 5, 6};
    packageSeed(3);
    RngStream named("g1"), unnamed;
    named.SetSeed(seed.data());
    unnamed.SetSeed(seed.data());
    unnamed.SetAntithetic(true);
    State bg, cg;
    unnamed.ResetNextSubstream();
    unnamed.GetState(bg.data());
    unnamed.RandU01();
    unnamed.GetState(cg.data());
    auto list = [](const State& s) {
        std::string t;
        for (int i = 0; i < 6; ++i) t += (i ? ", " : "") + std::to_string(s[i]);
        return t;
    };

    testing::internal::CaptureStdout();
    named.WriteState();
    unnamed.WriteState();
    named.WriteStateFull();
    unnamed.WriteStateFull();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "The current state of the Rngstream g1:\n   Cg = { 1, 2, 3, 4, 5, 6 }\n\n"
              "The current state of the Rngstream:\n   Cg = { " + list(cg) + " }\n\n"
              "The RngStream g1:\n   anti = false\n   incPrec = false\n"
              "   Ig = { 1, 2, 3, 4, 5, 6 }\n   Bg = { 1, 2, 3, 4, 5, 6 }\n"
              "   Cg = { 1, 2, 3, 4, 5, 6 }\n\n"
              "The RngStream:\n   anti = true\n   incPrec = false\n"
              "   Ig = { 1, 2, 3, 4, 5, 6 }\n   Bg = { " + list(bg) + " }\n"
              "   Cg = { " + list(cg) + " }\n\n");
}

TEST(RngStream, RandIntStaysWithinBothEnds) {
    packageSeed(8);
    RngStream g;
    int seen[5] = {};
    for (int i = 0; i < 1000; ++i) {
        const int k = g.RandInt(0, 4);
        ASSERT_TRUE(k >= 0 && k <= 4) << k;
        ++seen[k];
        ASSERT_EQ(g.RandInt(-3, -3), -3);
    }
    EXPECT_TRUE(seen[0] > 0 && seen[4] > 0);
}

// Wrappers take consecutive streams of the package, 2^127 steps apart, and
// the same seed and creation order reproduce every number.
TEST(RandomWrapper, TakesTheNextStreamOfThePackage) {
    packageSeed(606);
    RandomWrapper w1, w2;
    packageSeed(606);
    RngStream r1, r2;
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(w1.randu01(), r1.RandU01());
        ASSERT_EQ(w2.randint(2, 9), r2.RandInt(2, 9));
    }
    r1.ResetStartStream();
    r1.AdvanceState(127, 0);
    r2.ResetStartStream();
    EXPECT_EQ(stateOf(r1), stateOf(r2));

    const unsigned long bad[6] = {0, 0, 0, 0, 0, 0};
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RandomWrapper::SetPackageSeed(bad));
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
}

// Skipped numbers move the stream exactly as drawn ones, by steps or by one
// jump, one step per number or two with increased precision.
TEST(RngStream, SkippingNumbersMatchesDrawingThem) {
    packageSeed(77);
    for (bool precise : {false, true}) {
        for (unsigned long n : {0ul, 1ul, 9ul, 1024ul, 1025ul, 4000ul}) {
            SCOPED_TRACE(n);
            RngStream skipper, drawer;
            drawer.SetSeed(stateOf(skipper).data());
            skipper.IncreasedPrecis(precise);
            drawer.IncreasedPrecis(precise);
            skipper.SkipDraws(n);
            draws(drawer, static_cast<int>(n));
            EXPECT_EQ(stateOf(skipper), stateOf(drawer));
        }
    }
}

// A number nobody reads (a choice among one) is only counted: the next
// number read, of either kind, is the one that drawing every time gives.
TEST(RandomWrapper, NumbersReadAfterUnreadOnesAreTheEagerOnes) {
    for (int unread : {1, 6, 3000}) {
        SCOPED_TRACE(unread);
        packageSeed(31);
        RandomWrapper lazy;
        packageSeed(31);
        RngStream eager;
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < unread; ++i) {
                ASSERT_EQ(lazy.randint(4, 4), 4);
                (void)eager.RandU01();
            }
            ASSERT_EQ(lazy.randu01(), eager.RandU01());
            for (int i = 0; i < unread; ++i) {
                (void)lazy.randint(0, 0);
                (void)eager.RandU01();
            }
            ASSERT_EQ(lazy.randint(1, 6), eager.RandInt(1, 6));
        }
    }
}

// The generator's step written with plain divisions, as the recurrence is
// usually stated; the stream must follow it number for number, also from
// states at the ends of the range (zeros, the largest values below the
// moduli), where a remainder is zero or the subtracted term is largest.
TEST(RngStream, FollowsTheRecurrenceWithDivisionsForMillionsOfSteps) {
    const unsigned long seeds[][6] = {
        {1234567, 2345678, 3456789, 4567890, 5678901, 678901},
        {0, 0, 1, 0, 0, 1},
        {4294967086, 0, 4294967086, 4294944442, 0, 4294944442},
        {0, 4294967086, 0, 0, 4294944442, 0},
        {4294967086, 4294967086, 4294967086, 4294944442, 4294944442, 4294944442}};
    for (const auto& seed : seeds) {
        SCOPED_TRACE(seed[0]);
        const int steps = &seed == &seeds[0] ? 2000000 : 1000;
        RngStream stream;
        ASSERT_TRUE(stream.SetSeed(seed));
        double s[6];
        for (int i = 0; i < 6; ++i) s[i] = static_cast<double>(seed[i]);
        const double m1 = 4294967087.0, m2 = 4294944443.0, norm = 2.328306549295728e-10;
        for (int n = 0; n < steps; ++n) {
            double p1 = 1403580.0 * s[1] - 810728.0 * s[0];
            long k = static_cast<long>(p1 / m1);
            p1 -= k * m1;
            if (p1 < 0.0) p1 += m1;
            s[0] = s[1]; s[1] = s[2]; s[2] = p1;
            double p2 = 527612.0 * s[5] - 1370589.0 * s[3];
            k = static_cast<long>(p2 / m2);
            p2 -= k * m2;
            if (p2 < 0.0) p2 += m2;
            s[3] = s[4]; s[4] = s[5]; s[5] = p2;
            const double expected = p1 > p2 ? (p1 - p2) * norm : (p1 - p2 + m1) * norm;
            const double got = stream.RandU01();
            if (got != expected) {
                FAIL() << "step " << n << ": " << got << " instead of " << expected;
            }
        }
    }
}
