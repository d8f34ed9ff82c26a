// Confidence intervals against exact answers: the test nets are run over
// 40 fixed seeds each (two programs at a time), and the intervals must
// cover the exact value about as often as their level says. --confidence 95
// gives intervals at the 97.5 % level: 36 or more of 40 intervals cover
// with probability 99 % for sound intervals, and with 20 % or less where
// the coverage is 85 %.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "NetRuns.h"

using testsupport::Interval;
using testsupport::intMarking;
using testsupport::intervals;
using testsupport::NetRun;

namespace {

const int kSeeds = 40;
const int kMinCovering = 36;

std::vector<unsigned> seeds(unsigned first) {
    std::vector<unsigned> s;
    for (int i = 0; i < kSeeds; ++i) s.push_back(first + 104729u * static_cast<unsigned>(i));
    return s;
}

std::vector<NetRun> runSeeds(const std::string& net, const std::string& marking, const std::vector<std::string>& args,
                             unsigned firstSeed) {
    return testsupport::runNetSeeds(std::string(SIM_TEST_NET_DIR) + "/" + net, marking, args, seeds(firstSeed), 2);
}

// Mean number in an M/M/1/K system: the birth-death stationary law,
// p(n) proportional to (arrival/service)^n for n = 0 … K.
double queueMean(double arrival, double service, int capacity) {
    double weights = 0.0, weighted = 0.0, p = 1.0;
    for (int n = 0; n <= capacity; ++n) {
        weights += p;
        weighted += n * p;
        p *= arrival / service;
    }
    return weighted / weights;
}

// Stationary runs of an M/M/1/K net (places Free and Queue, measure
// InSystem = #Queue) at the given precision.
void expectStationaryCoverage(const std::string& net, int capacity, double arrival, const char* epsmax,
                              unsigned firstSeed) {
    const double exact = queueMean(arrival, 1.0, capacity);
    const std::vector<NetRun> runs =
        runSeeds(net, intMarking({{"Free", capacity}}),
                 {"-S", "--mstart", "0", "--mstop", "0", "--confidence", "95", "--epsmax", epsmax, "--secmax", "120"},
                 firstSeed);
    int covered = 0;
    double relativeError = 0.0;
    for (const NetRun& run : runs) {
        ASSERT_EQ(run.result.status, 0) << run.result.err;
        EXPECT_NE(run.result.out.find("\nSIMULATION SUCCESSFUL"), std::string::npos) << run.result.out;
        const std::vector<Interval> rows = intervals(run.resultsLog, "InSystem", false);
        ASSERT_EQ(rows.size(), 1u) << run.resultsLog;
        if (rows[0].covers(exact)) ++covered;
        relativeError += (rows[0].mean - exact) / exact;
    }
    EXPECT_GE(covered, kMinCovering) << net << " at --epsmax " << epsmax;
    // Unbiased: the mean error of 40 runs at this precision lies well within
    // the precision (a bias of a per cent, as the mean of batch averages
    // has, does not).
    EXPECT_LT(std::fabs(relativeError / kSeeds), std::atof(epsmax) / 100 / 4) << net;
}

// P(On at t) = 0.5 + 0.5·exp(−2t) from On at 0, at every sampling point.
void expectTransientCoverage(const char* stop, int points, const char* epsmax, unsigned firstSeed) {
    const std::vector<NetRun> runs =
        runSeeds("onoff", intMarking({{"On", 1}}),
                 {"-T", "--mstart", "0", "--mstop", stop, "--nofsampling", std::to_string(points), "--confidence",
                  "95", "--epsmax", epsmax, "--secmax", "120"},
                 firstSeed);
    std::vector<int> covered(static_cast<std::size_t>(points), 0);
    for (const NetRun& run : runs) {
        ASSERT_EQ(run.result.status, 0) << run.result.err;
        const std::vector<Interval> rows = intervals(run.resultsLog, "OnNow", true);
        ASSERT_EQ(rows.size(), covered.size()) << run.resultsLog;
        EXPECT_NEAR(rows.back().time, std::atof(stop), 1e-9);
        for (std::size_t k = 0; k < rows.size(); ++k)
            if (rows[k].covers(0.5 + 0.5 * std::exp(-2.0 * rows[k].time))) ++covered[k];
    }
    for (std::size_t k = 0; k < covered.size(); ++k) EXPECT_GE(covered[k], kMinCovering) << "point " << k;
}

}  // namespace

TEST(Coverage, StationaryQueueOfFive) {
    // Exact mean number in system 1.868332.
    EXPECT_NEAR(queueMean(0.8, 1.0, 5), 1.868332, 1e-6);
    expectStationaryCoverage("mm1k5", 5, 0.8, "2", 7001);
}

TEST(Coverage, StationaryQueueOfTwentyWithCorrelatedBatches) {
    // Consecutive batches of 100 events are strongly correlated here.
    expectStationaryCoverage("mm1k20", 20, 0.95, "5", 7003);
}

TEST(Coverage, TransientOnOffAtSevenPoints) {
    // Points k·7/6; their summed intervals overshoot 7.
    expectTransientCoverage("7", 7, "10", 7005);
}

TEST(Coverage, TransientOnOffWithoutFrozenReplications) {
    // At t = 1 two replications agree half of the time.
    expectTransientCoverage("1", 2, "10", 7007);
}
