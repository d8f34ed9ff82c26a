// Which measures an event updates: every measure of the net's list that is
// neither the importance function nor done with. The engine keeps that
// selection between events, so every change of the list or of a measure's
// precision decision must show at the very next event.
#include <gtest/gtest.h>

#include "TestNets.h"

using namespace testnets;

namespace {

// An engine of the given run mode whose reset request a test may set.
class MeasureEngine : public Simulation {
public:
    MeasureEngine(NetClass* net, const DateTime& start, int runMode)
        : Simulation(net, "measures", "NULL", start, DateTime(100.0), 1, runMode, true, false, 0.1, 1.0, 15) {}
    void requestReset() { resetMeasures = true; }
};

// The estimates of `m` with the precision decision and the settled flag set.
MeasureObj::TransientEstimates decided(const MeasureObj& m, bool precise, bool settled) {
    MeasureObj::TransientEstimates e = m.saveTransientEstimates();
    e.precisionReached = precise;
    e.settled = settled;
    return e;
}

struct Measures {
    Measures() {
        net.addMeasure(&average);
        net.addMeasure(&importance);
        net.addMeasure(&instant);
    }
    // One event; answers the calls each measure received, in list order.
    std::vector<int> event(MeasureEngine& engine, bool samplingOnly = false) {
        const int before[] = {average.accumCalls, importance.accumCalls, instant.accumCalls, extra.accumCalls};
        Binding at(DateTime(1.0));
        engine.updateAllMeasures(&at, true, samplingOnly);
        return {average.accumCalls - before[0], importance.accumCalls - before[1], instant.accumCalls - before[2],
                extra.accumCalls - before[3]};
    }
    TestNet net;
    CountingMeasure average{"Average", &net, false, true};
    CountingMeasure importance{"ImportanceFunction", &net, false, true};
    CountingMeasure instant{"Instant", &net, false, false};
    CountingMeasure extra{"Extra", &net, true, false};
};

}  // namespace

TEST(MeasureUpdate, StationaryDecisionsAndListChangesShowAtTheNextEvent) {
    Measures m;
    DateTime start(0.0);
    MeasureEngine engine(&m.net, start, 1);
    EXPECT_EQ(m.event(engine), (std::vector<int>{1, 0, 1, 0}));
    EXPECT_FALSE(m.average.getFirstValue());

    // A precise measure is done with; it comes back when the decision is
    // taken back.
    m.average.restoreTransientEstimates(decided(m.average, true, false));
    EXPECT_EQ(m.event(engine), (std::vector<int>{0, 0, 1, 0}));
    m.average.restoreTransientEstimates(decided(m.average, false, false));
    EXPECT_EQ(m.event(engine), (std::vector<int>{1, 0, 1, 0}));

    // A measure added to the list is updated from the next event on, and
    // starts from its reset.
    m.net.addMeasure(&m.extra);
    EXPECT_EQ(m.event(engine), (std::vector<int>{1, 0, 1, 1}));
    EXPECT_FALSE(m.extra.getFirstValue());

    // A reloaded list keeps only the time averages in a stationary run.
    m.net.storeMeasureList();
    testing::internal::CaptureStdout();
    m.net.loadMeasureList(1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(m.event(engine), (std::vector<int>{1, 0, 0, 0}));
}

TEST(MeasureUpdate, ResetsAndSamplingPointsWalkTheWholeList) {
    Measures m;
    DateTime start(0.0);
    MeasureEngine engine(&m.net, start, 1);
    m.event(engine);
    // A reset marks every measure, a done one too: it starts afresh once
    // it is at work again.
    m.instant.restoreTransientEstimates(decided(m.instant, true, false));
    engine.requestReset();
    EXPECT_EQ(m.event(engine), (std::vector<int>{1, 0, 0, 0}));
    EXPECT_FALSE(m.average.getFirstValue());
    EXPECT_TRUE(m.instant.getFirstValue());
    m.instant.restoreTransientEstimates(decided(m.instant, false, false));
    // A sampling point between events resets the instantaneous measure but
    // gives it no value.
    EXPECT_EQ(m.event(engine, true), (std::vector<int>{1, 0, 0, 0}));
    EXPECT_FALSE(m.instant.getFirstValue());
    EXPECT_EQ(m.event(engine), (std::vector<int>{1, 0, 1, 0}));
}

// A transient run leaves alone the measures settled at the start of a
// replication, precise or not.
TEST(MeasureUpdate, TransientRunsFollowTheSettledFlag) {
    Measures m;
    DateTime start(0.0);
    MeasureEngine engine(&m.net, start, 0);
    EXPECT_EQ(m.event(engine), (std::vector<int>{1, 0, 1, 0}));
    m.average.restoreTransientEstimates(decided(m.average, true, false));
    EXPECT_EQ(m.event(engine), (std::vector<int>{1, 0, 1, 0}));
    m.average.setSettled(true);
    EXPECT_EQ(m.event(engine), (std::vector<int>{0, 0, 1, 0}));
    m.average.setSettled(false);
    EXPECT_EQ(m.event(engine), (std::vector<int>{1, 0, 1, 0}));
}
