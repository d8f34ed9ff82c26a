#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "stats/GroupedBatches.h"

namespace {

GroupedBatches unitBatches(const std::vector<double>& values) {
    GroupedBatches b;
    for (double v : values) b.add(v, 1.0);
    return b;
}

}  // namespace

TEST(GroupedBatches, MeanIsTheTimeAverageOfTheWholeRun) {
    // A long slow batch counts as much as it lasts: 10 over 4 time units,
    // not the mean 2 of the batch averages 1 and 3.
    GroupedBatches b;
    b.add(1.0, 1.0);
    b.add(9.0, 3.0);
    EXPECT_EQ(b.mean(), 2.5);

    GroupedBatches none;
    EXPECT_EQ(none.mean(), 0.0);
    none.add(0.0, 0.0);  // no model time passed
    EXPECT_EQ(none.mean(), 0.0);
    EXPECT_TRUE(none.allIntegralsZero());
}

TEST(GroupedBatches, FewBatchesAreGroupsOfTheirOwn) {
    // Equal lengths: the plain sample variance of the batch averages.
    GroupedBatches b = unitBatches({2, 4, 6, 8, 10});
    EXPECT_EQ(b.groupCount(), 5u);
    EXPECT_EQ(b.groupSize(), 1u);
    EXPECT_EQ(b.mean(), 6.0);
    EXPECT_EQ(b.batchVariance(), 10.0);

    // Unequal lengths: the ratio estimator. Average 11/4; deviations
    // -0.75, 0.5, 0.25 give 0.4375 per batch, over the squared mean length
    // (4/3)^2.
    GroupedBatches r;
    r.add(2.0, 1.0);
    r.add(6.0, 2.0);
    r.add(3.0, 1.0);
    EXPECT_DOUBLE_EQ(r.batchVariance(), 0.4375 / (16.0 / 9.0));

    EXPECT_EQ(unitBatches({4}).batchVariance(), 0.0);
}

TEST(GroupedBatches, GroupsAreMadeOfTheNewestBatches) {
    // 65 batches: 30 groups of two, the oldest five left out of the
    // variance but not of the mean. The five are wild, the pairs after them
    // sum to 2 each: no spread between the groups.
    std::vector<double> values(5, 1000.0);
    for (int i = 0; i < 30; ++i) {
        values.push_back(0.0);
        values.push_back(2.0);
    }
    GroupedBatches b = unitBatches(values);
    EXPECT_EQ(b.groupCount(), 30u);
    EXPECT_EQ(b.groupSize(), 2u);
    EXPECT_EQ(b.batchVariance(), 0.0);
    EXPECT_DOUBLE_EQ(b.mean(), 5060.0 / 65.0);
    EXPECT_FALSE(b.atCheckpoint());
}

TEST(GroupedBatches, CheckpointsHoldThirtyWholeGroups) {
    GroupedBatches b;
    std::vector<std::size_t> checkpoints;
    for (std::size_t n = 1; n <= 3000; ++n) {
        // Group j of 32 consecutive batches averages j.
        b.add(static_cast<double>((n - 1) / 32), 1.0);
        if (b.atCheckpoint()) checkpoints.push_back(n);
        if (n == 960) {
            // The cells have merged twice by now; the 30 groups are still
            // exactly 32 batches each: g times the variance of the group
            // averages 0 … 29.
            EXPECT_EQ(b.groupCount(), 30u);
            EXPECT_EQ(b.groupSize(), 32u);
            EXPECT_DOUBLE_EQ(b.batchVariance(), 32.0 * 77.5);
        }
    }
    const std::vector<std::size_t> expected = {30, 60, 90, 120, 180, 240, 360, 480, 720, 960, 1440, 1920, 2880};
    EXPECT_EQ(checkpoints, expected);
}

TEST(GroupedBatches, CorrelatedBatchesWidenTheVariance) {
    // Batches of an autoregressive series with lag-one correlation 0.9 and
    // variance 1: the variance of their mean over n is about 19/n, not 1/n.
    // Fixed seed; 30 groups estimate 19 to within a factor of two.
    std::mt19937_64 rng(2024);
    std::normal_distribution<double> normal(0.0, 1.0);
    const double phi = 0.9;
    GroupedBatches b;
    double x = 0.0, squares = 0.0;
    const std::size_t n = 30 * 4096;
    for (std::size_t i = 0; i < n; ++i) {
        x = phi * x + std::sqrt(1 - phi * phi) * normal(rng);
        b.add(10.0 + x, 1.0);
        squares += x * x;
    }
    ASSERT_TRUE(b.atCheckpoint());
    EXPECT_NEAR(squares / n, 1.0, 0.05);  // the batches alone look like variance 1
    EXPECT_GT(b.batchVariance(), 19.0 / 2);
    EXPECT_LT(b.batchVariance(), 19.0 * 2);
}

TEST(GroupedBatches, AMillionBatchesKeepAnExactMeanAndAlmostAllInTheGroups) {
    GroupedBatches b;
    double sum = 0.0;
    std::uint64_t state = 12345;
    const std::size_t n = 1000000;
    for (std::size_t i = 0; i < n; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const double x = 1000.0 + static_cast<double>(state >> 11) / 9007199254740992.0;
        sum += x;
        b.add(x, 1.0);
    }
    EXPECT_EQ(b.mean(), sum / n);
    EXPECT_EQ(b.size(), n);
    EXPECT_EQ(b.groupCount(), 30u);
    const std::size_t grouped = b.groupCount() * b.groupSize();
    EXPECT_LE(grouped, n);
    EXPECT_GT(grouped, n * 85 / 100);
    // Independent uniform batches: variance 1/12.
    EXPECT_NEAR(b.batchVariance(), 1.0 / 12.0, 0.5 / 12.0);
}
