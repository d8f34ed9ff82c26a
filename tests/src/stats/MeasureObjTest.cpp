#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "stats/MeasureObj.h"
#include "time/DateTime.h"

namespace {

// A measure as the generated model would derive one; the observation side is
// irrelevant here, only the statistics of the base class are exercised.
class TestMeasure : public MeasureObj {
public:
    explicit TestMeasure(const char* name, bool cumulative = false, bool average = true)
        : MeasureObj(name, nullptr, true), cumulative(cumulative), average(average) {}

    double measure(double) override { return value; }
    bool accumulative() override { return cumulative; }
    bool timeaverage() override { return average; }
    void accum(const Binding*, double) override {}

    void sample(double x) { currentSampleBlock().add(x, 1.0); }
    void addEpsilon(double e) { Epsilon.push_back(e); }

private:
    bool cumulative;
    bool average;
};

double alpha05 = 0.05;

// A stationary measure prepared as a run does, with the samples appended.
void stationary(TestMeasure& m, const std::vector<double>& samples) {
    m.prepareSampling(1);
    m.restartAnalysis(false);
    for (double x : samples) m.sample(x);
}

std::string padLeft(const std::string& s, std::size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

struct Texts {
    std::string file, console;
};

Texts write(MeasureObj& m, int mode, double start = 0.0, double interval = 0.0) {
    std::ostringstream file, console;
    const DateTime begin(start);
    m.writeResult(file, console, mode, &begin, &interval);
    return {file.str(), console.str()};
}

const char* notReached(const std::string& name) {
    static std::string text;
    text = "WARNING:\n\tMeasure " + name + ": Has not reached predefined accuracy!\n\tCurrent Values:\n\n";
    return text.c_str();
}

const std::string stationaryFileHeader = "\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n";
const std::string stationaryConsoleHeader =
    "\tMean Value\t" + padLeft("Variance", 30) + "\t\tConf.Interval\t\t\tEpsilon\n\n";
const std::string transientFileHeader = "\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n";
const std::string transientConsoleHeader =
    "\tSim.Time\t" + padLeft("Mean Value", 30) + "\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n";

} // namespace

// ---------------------------------------------------------------------------
// Estimators

TEST(MeasureEstimators, StationaryBatchMeans) {
    TestMeasure m("Throughput");
    stationary(m, {2, 4, 6, 8, 10});
    m.setEpsMax(0.1);
    EXPECT_FALSE(m.makeStationaryAnalysis(alpha05, 0.0, 500.0));
    EXPECT_EQ(m.getAveragedMean().back(), 6.0);
    EXPECT_EQ(m.getVariance().back(), 10.0);
    EXPECT_NEAR(m.getDeltaX().back(), 5.07019, 1e-5);
    EXPECT_NEAR(m.getEpsilon().back(), 0.845032, 1e-6);
    EXPECT_FALSE(m.precisionReached());

    // Every call analyses all samples so far; a stationary run keeps only
    // the newest estimate of each kind. Below 30 batches nothing is decided,
    // however wide the allowed error.
    m.setEpsMax(0.9);
    m.sample(6);
    EXPECT_FALSE(m.makeStationaryAnalysis(alpha05, 0.0, 600.0));
    EXPECT_FALSE(m.precisionReached());
    EXPECT_EQ(m.getAveragedMean().back(), 6.0);
    EXPECT_EQ(m.getVariance().back(), 8.0);
    for (const EstimateList* l : {&m.getAveragedMean(), &m.getVariance(), &m.getDeltaX(), &m.getEpsilon()}) {
        EXPECT_EQ(l->size(), 1u);
        EXPECT_EQ(l->appended(), 2u);
    }
    // The block is not emptied by a new run start.
    m.restartAnalysis(false);
    EXPECT_EQ(m.getSampleBlocks().front().size(), 6u);
    EXPECT_TRUE(m.getAveragedMean().empty());
}

TEST(MeasureEstimators, StationaryDecidesAtCheckpointsWithThirtyGroups) {
    // Batch averages cycling 4, 5, 6 with equal lengths.
    TestMeasure m("Cycle");
    m.prepareSampling(1);
    m.restartAnalysis(false);
    m.setEpsMax(0.5);
    for (int n = 1; n <= 29; ++n) {
        m.sample(4 + (n - 1) % 3);
        if (n >= 2) {
            EXPECT_FALSE(m.makeStationaryAnalysis(alpha05, 0.0, 0.0)) << n;
        }
    }
    EXPECT_FALSE(m.getDeltaX().empty()) << "intervals are reported before any decision";
    m.sample(6);
    // 30 batches: sample variance 30/29 · 2/3, Student at 29 degrees of
    // freedom and level 0.975 (interpolated: 2.39250).
    EXPECT_TRUE(m.makeStationaryAnalysis(alpha05, 0.0, 0.0));
    EXPECT_TRUE(m.precisionReached());
    EXPECT_DOUBLE_EQ(m.getAveragedMean().back(), 5.0);
    EXPECT_DOUBLE_EQ(m.getVariance().back(), 20.0 / 29.0);
    EXPECT_NEAR(m.getDeltaX().back(), 2.3925 * std::sqrt(20.0 / 29.0 / 30.0), 1e-12);

    // Between checkpoints no decision, even with an interval narrow enough.
    TestMeasure late("Late");
    late.prepareSampling(1);
    late.restartAnalysis(false);
    late.setEpsMax(0.5);
    for (int n = 1; n <= 31; ++n) late.sample(4 + (n - 1) % 3);
    EXPECT_FALSE(late.makeStationaryAnalysis(alpha05, 0.0, 0.0));
    EXPECT_LT(late.getEpsilon().back(), 0.5);
}

TEST(MeasureEstimators, StationaryZeroMean) {
    TestMeasure zeros("Idle");
    stationary(zeros, {0, 0, 0, 0, 0});
    zeros.setEpsMax(0.1);
    EXPECT_FALSE(zeros.makeStationaryAnalysis(alpha05, 0.0, 0.0));
    EXPECT_EQ(zeros.getEpsilon().back(), 0.0);
    EXPECT_FALSE(zeros.precisionReached());

    TestMeasure swing("Swing");
    stationary(swing, {-1, 1, -1, 1, 0});
    swing.setEpsMax(0.1);
    EXPECT_FALSE(swing.makeStationaryAnalysis(alpha05, 0.0, 0.0)) << "no decision below 30 batches";
    EXPECT_EQ(swing.getAveragedMean().back(), 0.0);
    EXPECT_EQ(swing.getEpsilon().back(), 0.0);
    for (int i = 0; i < 25; ++i) swing.sample(0);
    EXPECT_TRUE(swing.makeStationaryAnalysis(alpha05, 0.0, 0.0));
    // The zero-mean answer does not change the recorded decision.
    EXPECT_FALSE(swing.precisionReached());
}

TEST(MeasureEstimators, StationaryWithoutEnoughSamples) {
    TestMeasure m("Early");
    m.prepareSampling(1);
    m.restartAnalysis(false);
    EXPECT_FALSE(m.makeStationaryAnalysis(alpha05, 0.0, 0.0));
    EXPECT_TRUE(m.getAveragedMean().empty());
    m.sample(4);
    EXPECT_FALSE(m.makeStationaryAnalysis(alpha05, 0.0, 0.0));
    EXPECT_EQ(m.getAveragedMean().back(), 4.0);
    EXPECT_EQ(m.getVariance().back(), 0.0);
    EXPECT_TRUE(m.getDeltaX().empty());
    EXPECT_TRUE(m.getEpsilon().empty());
}

TEST(MeasureEstimators, TransientReplications) {
    TestMeasure m("Queue");
    m.prepareSampling(1);
    m.setEpsMax(0.05);

    m.restartAnalysis(true);
    EXPECT_FALSE(m.makeTransientAnalysis(alpha05, 1.0, 0, true));
    EXPECT_EQ(m.getAveragedMean().back(), 1.0);
    EXPECT_EQ(m.getVariance().back(), 0.0);
    EXPECT_TRUE(m.getDeltaX().empty());
    EXPECT_TRUE(m.getEpsilon().empty());

    m.restartAnalysis(true);
    EXPECT_FALSE(m.makeTransientAnalysis(alpha05, 3.0, 1, true));
    EXPECT_EQ(m.getAveragedMean().size(), 1u);
    EXPECT_EQ(m.getAveragedMean().back(), 2.0);
    EXPECT_EQ(m.getVariance().back(), 1.0);
    EXPECT_NEAR(m.getDeltaX().back(), 20.24812, 1e-5);
    EXPECT_NEAR(m.getEpsilon().back(), 10.12406, 1e-5);
    EXPECT_EQ(m.getMeanTransient()[0], 2.0);
    EXPECT_EQ(m.getM2()[0], 2.0);

    // A replication delivering more sampling points than prepared changes
    // nothing for the extra one.
    EXPECT_FALSE(m.makeTransientAnalysis(alpha05, 100.0, 1, true));
    EXPECT_EQ(m.getAveragedMean().size(), 1u);
    EXPECT_EQ(m.getMeanTransient().size(), 1u);
}

TEST(MeasureEstimators, TransientDecision) {
    // Three sampling points; the middle one is imprecise. The decision is
    // taken only at the end of a replication, over the points handled.
    TestMeasure m("Load");
    m.prepareSampling(3);
    m.setEpsMax(0.5);
    const double reps[2][3] = {{10, 0, 1}, {10, 8, -1}};
    for (int a = 0; a < 2; ++a) {
        m.restartAnalysis(true);
        for (int p = 0; p < 3; ++p) m.makeTransientAnalysis(alpha05, reps[a][p], a, false);
    }
    EXPECT_FALSE(m.precisionReached()) << "no decision away from the end";
    ASSERT_EQ(m.getEpsilon().size(), 3u);
    EXPECT_EQ(m.getEpsilon()[0], 0.0);        // no spread
    EXPECT_GE(m.getEpsilon()[1], 0.5);        // 0 then 8
    EXPECT_EQ(m.getEpsilon()[2], 0.0);        // mean 0

    EXPECT_FALSE(m.measure_reached_precision(2, 3, false));
    m.setEpsMax(100.0);
    EXPECT_TRUE(m.measure_reached_precision(2, 3, false));

    // With the decision switched on at the last point, whatever the
    // allowed error, no measure is precise before the seventh replication.
    m.setEpsMax(1e6);
    for (int a = 2; a < 7; ++a) {
        m.restartAnalysis(true);
        m.makeTransientAnalysis(alpha05, 10, a, false);
        m.makeTransientAnalysis(alpha05, 4, a, false);
        EXPECT_EQ(m.makeTransientAnalysis(alpha05, 0, a, true), a == 6) << "replication " << a + 1;
    }
    EXPECT_TRUE(m.precisionReached());
}

TEST(MeasureEstimators, EqualReplicationsDoNotFreezeAMeasure) {
    // Two equal replications give variance 0 and epsilon 0.
    TestMeasure m("Same");
    m.prepareSampling(1);
    m.setEpsMax(0.05);
    for (int a = 0; a < 2; ++a) {
        m.restartAnalysis(true);
        EXPECT_FALSE(m.makeTransientAnalysis(alpha05, 1.0, a, true));
    }
    EXPECT_EQ(m.getEpsilon().back(), 0.0);
    EXPECT_FALSE(m.precisionReached());
}

TEST(MeasureEstimators, PercentRule) {
    TestMeasure m("Portion");
    m.setEpsMax(0.1);
    for (int i = 0; i < 10; ++i) m.addEpsilon(i < 5 ? 0.5 : 0.01);
    EXPECT_FALSE(m.measure_reached_precision(5500, 10, false)) << "rule off: every point must be precise";
    EXPECT_EQ(m.getPrecPortion(), 1.0);

    m.setPercentRule(true);
    EXPECT_TRUE(m.measure_reached_precision(5500, 10, false)) << "5 of 10 points may miss";
    EXPECT_EQ(m.getPrecPortion(), 0.5);
    m.addEpsilon(0.5);
    EXPECT_FALSE(m.measure_reached_precision(5500, 11, false)) << "6 misses, floor(5.5) allowed";

    m.setPrecPortion(1.0);
    EXPECT_FALSE(m.measure_reached_precision(999, 10, false)) << "below the limit the portion stays";
    EXPECT_EQ(m.getPrecPortion(), 1.0);
    m.measure_reached_precision(1000, 10, false);
    EXPECT_DOUBLE_EQ(m.getPrecPortion(), 0.9);
    m.measure_reached_precision(25000, 10, false);
    EXPECT_EQ(m.getPrecPortion(), 0.0);
}

TEST(MeasureEstimators, PercentRuleForASingleEstimate) {
    TestMeasure m("Single");
    m.setEpsMax(0.1);
    m.setPercentRule(true);
    m.addEpsilon(0.01);
    m.addEpsilon(0.7);
    // Only the newest entry counts.
    EXPECT_FALSE(m.measure_reached_precision(9999, 1, true));
    EXPECT_TRUE(m.measure_reached_precision(10000, 1, true));
    EXPECT_EQ(m.getPrecPortion(), 0.0);

    // A negative mean gives a negative epsilon; its size decides.
    TestMeasure n("Negative");
    n.setEpsMax(0.1);
    n.addEpsilon(0.7);
    n.addEpsilon(-3.0);
    EXPECT_FALSE(n.measure_reached_precision(5, 1, true));
    n.addEpsilon(-0.05);
    EXPECT_TRUE(n.measure_reached_precision(5, 1, true));
    EXPECT_FALSE(n.measure_reached_precision(5, 3, false)) << "one point of three at -3.0";
    TestMeasure none("None");
    EXPECT_FALSE(none.measure_reached_precision(5, 1, true)) << "no estimate is no precision";
}

// ---------------------------------------------------------------------------
// Result text

TEST(MeasureResultText, StationaryNotReached) {
    TestMeasure m("Throughput");
    stationary(m, {2, 4, 6, 8, 10});
    m.setEpsMax(0.1);
    m.makeStationaryAnalysis(alpha05, 0.0, 0.0);
    std::ostringstream file, console;
    m.writeResult(file, console, 1, nullptr, nullptr);

    const std::string head = std::string("Measure: Throughput\n") + notReached("Throughput");
    EXPECT_EQ(file.str(), head + stationaryFileHeader +
                              "\t6.000000e+00\t1.000000e+01\t[9.298087e-01;1.107019e+01]\t8.450319e-01\n\n\n");
    EXPECT_EQ(console.str(), head + stationaryConsoleHeader + "\t6.000000e+00\t" + padLeft("1.000000e+01", 30) +
                                 "\t\t[9.298087e-01;1.107019e+01]\t8.450319e-01\n\n\n");
    // The number format stays on both streams.
    for (std::ostringstream* s : {&file, &console}) {
        EXPECT_TRUE(s->flags() & std::ios::scientific);
        EXPECT_TRUE(s->flags() & std::ios::right);
        EXPECT_EQ(s->precision(), 6);
    }
}

TEST(MeasureResultText, RestartReachedAndCumulative) {
    // 30 batches cycling 2 … 10: mean 6, variance 240/29, Student 2.3925.
    TestMeasure m("Rare");
    std::vector<double> batches;
    for (int i = 0; i < 30; ++i) batches.push_back(2.0 + 2.0 * (i % 5));
    stationary(m, batches);
    m.setEpsMax(0.9);
    ASSERT_TRUE(m.makeStationaryAnalysis(alpha05, 0.0, 0.0));
    Texts t = write(m, 2);
    EXPECT_EQ(t.file, "Measure: Rare\n" + stationaryFileHeader +
                          "\t6.000000e+00\t8.275862e+00\t[4.743397e+00;7.256603e+00]\t2.094338e-01\n\n\n");

    TestMeasure c("Total", true, false);
    const std::string cumulative = "Measure: Total\nWARNING:\n\tMeasure Total: Was chosen cumulative.\n\n";
    t = write(c, 1);
    EXPECT_EQ(t.file, cumulative);
    EXPECT_EQ(t.console, cumulative);
}

TEST(MeasureResultText, PerCentRuleAcceptanceAboveTheMaximumIsWarned) {
    const std::string warning =
        "WARNING:\n\tMeasure Wide: Accepted by the per-cent rule above the maximum relative error.\n\n";
    // Stationary: from 10000 batches the rule accepts any epsilon, at the
    // first checkpoint after them (11520 batches).
    TestMeasure m("Wide");
    m.prepareSampling(1);
    m.restartAnalysis(false);
    m.setEpsMax(1e-9);
    m.setPercentRule(true);
    std::uint64_t state = 99;
    for (int n = 1; n <= 11520; ++n) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        m.sample(static_cast<double>(state >> 11) / 9007199254740992.0);
        if (n >= 2 && m.makeStationaryAnalysis(alpha05, 0.0, 0.0)) {
            EXPECT_EQ(n, 11520);
            break;
        }
    }
    ASSERT_TRUE(m.precisionReached());
    EXPECT_TRUE(m.acceptedAbovePrecision());
    Texts t = write(m, 1);
    EXPECT_EQ(t.file.rfind("Measure: Wide\n" + warning + stationaryFileHeader, 0), 0u) << t.file;
    EXPECT_EQ(t.console.rfind("Measure: Wide\n" + warning + stationaryConsoleHeader, 0), 0u) << t.console;

    // Transient: sampling points allowed to miss by the rule.
    TestMeasure tr("Wide");
    tr.prepareSampling(1);
    tr.setEpsMax(1e-9);
    tr.setPercentRule(true);
    for (int a = 0; a < 10000 && !tr.precisionReached(); ++a) {
        tr.restartAnalysis(true);
        tr.makeTransientAnalysis(alpha05, a % 2, a, true);
    }
    ASSERT_TRUE(tr.precisionReached());
    EXPECT_TRUE(tr.acceptedAbovePrecision());
    t = write(tr, 0);
    EXPECT_EQ(t.file.rfind("Measure: Wide\n" + warning + transientFileHeader, 0), 0u) << t.file;

    // Precise without the rule's help: no warning.
    TestMeasure ok("Narrow");
    ok.setEpsMax(0.1);
    ok.setPercentRule(true);
    ok.addEpsilon(0.05);
    EXPECT_TRUE(ok.measure_reached_precision(20000, 1, true));
    EXPECT_FALSE(ok.acceptedAbovePrecision());
}

TEST(MeasureResultText, ImportanceFunctionWritesNothing) {
    TestMeasure m("ImportanceFunction");
    stationary(m, {2, 4, 6, 8, 10});
    m.makeStationaryAnalysis(alpha05, 0.0, 0.0);
    for (int mode : {0, 1, 2}) {
        const Texts t = write(m, mode);
        EXPECT_EQ(t.file, "");
        EXPECT_EQ(t.console, "");
    }
}

TEST(MeasureResultText, TransientRows) {
    // Two sampling points, two replications: (1, 10) then (3, 14).
    TestMeasure m("Queue", true, false);
    m.prepareSampling(2);
    m.setEpsMax(0.05);
    m.restartAnalysis(true);
    m.makeTransientAnalysis(alpha05, 1, 0, false);
    m.makeTransientAnalysis(alpha05, 10, 0, true);
    m.restartAnalysis(true);
    m.makeTransientAnalysis(alpha05, 3, 1, false);
    m.makeTransientAnalysis(alpha05, 14, 1, true);

    // A cumulative measure is written in full in transient mode.
    const Texts t = write(m, 0, 100.0, 50.0);
    const std::string head = std::string("Measure: Queue\n") + notReached("Queue");
    EXPECT_EQ(t.file, head + transientFileHeader +
                          "\t1.000000e+02\t2.000000e+00\t1.000000e+00\t[-1.824812e+01;2.224812e+01]\t1.012406e+01\n"
                          "\t1.500000e+02\t1.200000e+01\t4.000000e+00\t[-2.849624e+01;5.249624e+01]\t3.374687e+00\n"
                          "\n\n\n");
    EXPECT_EQ(t.console, head + transientConsoleHeader + "\t1.000000e+02\t" + padLeft("2.000000e+00", 30) +
                             "\t1.000000e+00\t\t[-1.824812e+01;2.224812e+01]\t1.012406e+01\n"
                             "\t1.500000e+02\t" + padLeft("1.200000e+01", 30) +
                             "\t4.000000e+00\t\t[-2.849624e+01;5.249624e+01]\t3.374687e+00\n"
                             "\n\n\n");

    // Writing twice gives the same text.
    EXPECT_EQ(write(m, 0, 100.0, 50.0).file, t.file);
}

TEST(MeasureResultText, AnAbandonedReplicationIsTakenBack) {
    // Two finished replications, then a third cut short after one of its
    // two points: put back, the results are those of the two finished ones.
    TestMeasure m("Queue", true, false);
    m.prepareSampling(2);
    m.setEpsMax(0.05);
    m.restartAnalysis(true);
    m.makeTransientAnalysis(alpha05, 1, 0, false);
    m.makeTransientAnalysis(alpha05, 10, 0, true);
    m.restartAnalysis(true);
    m.makeTransientAnalysis(alpha05, 3, 1, false);
    m.makeTransientAnalysis(alpha05, 14, 1, true);
    const std::string finished = write(m, 0, 100.0, 50.0).file;
    const MeasureObj::TransientEstimates saved = m.saveTransientEstimates();

    m.restartAnalysis(true);
    m.makeTransientAnalysis(alpha05, 1000, 2, false);
    EXPECT_NE(write(m, 0, 100.0, 50.0).file, finished);
    m.restoreTransientEstimates(saved);
    EXPECT_EQ(write(m, 0, 100.0, 50.0).file, finished);

    // The next replication goes on from the finished ones as if the
    // abandoned one had never run.
    m.restartAnalysis(true);
    m.makeTransientAnalysis(alpha05, 2, 2, false);
    EXPECT_DOUBLE_EQ(m.getAveragedMean().back(), 2.0);
}

TEST(MeasureResultText, IncompleteAnalysis) {
    // Transient run that ended after its first replication: means and
    // variances only.
    TestMeasure tr("First");
    tr.prepareSampling(2);
    tr.restartAnalysis(true);
    tr.makeTransientAnalysis(alpha05, 1.5, 0, false);
    tr.makeTransientAnalysis(alpha05, 2.5, 0, true);
    Texts t = write(tr, 0, 0.0, 10.0);
    const std::string trHead = std::string("Measure: First\n") + notReached("First");
    EXPECT_EQ(t.file, trHead + transientFileHeader +
                          "\t0.000000e+00\t1.500000e+00\t0.000000e+00\n"
                          "\t1.000000e+01\t2.500000e+00\t0.000000e+00\n\n\n\n");
    EXPECT_EQ(t.console, trHead + transientConsoleHeader + "\t0.000000e+00\t" + padLeft("1.500000e+00", 30) +
                             "\t0.000000e+00\n\t1.000000e+01\t" + padLeft("2.500000e+00", 30) +
                             "\t0.000000e+00\n\n\n\n");

    // Stationary run that ended before its first analysis: no row at all.
    TestMeasure st("Never");
    stationary(st, {1, 2});
    t = write(st, 1);
    const std::string stHead = std::string("Measure: Never\n") + notReached("Never");
    EXPECT_EQ(t.file, stHead + stationaryFileHeader + "\n\n\n");
    EXPECT_EQ(t.console, stHead + stationaryConsoleHeader + "\n\n\n");

    // An analysis of a single sample has no half-width and no epsilon.
    TestMeasure one("One");
    one.prepareSampling(1);
    one.restartAnalysis(false);
    one.sample(4);
    one.makeStationaryAnalysis(alpha05, 0.0, 0.0);
    t = write(one, 1);
    EXPECT_EQ(t.file, std::string("Measure: One\n") + notReached("One") + stationaryFileHeader +
                          "\t4.000000e+00\t0.000000e+00\n\n\n");
    EXPECT_EQ(t.console, std::string("Measure: One\n") + notReached("One") + stationaryConsoleHeader + "\t4.000000e+00\t" +
                             padLeft("0.000000e+00", 30) + "\n\n\n");
}
