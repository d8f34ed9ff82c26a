// The messages the engine sends to the front end's result port: without a
// front end they go, complete, into the simulation log as "NO_SOCK" entries.
#include <gtest/gtest.h>

#include <string>

#include "TestNets.h"
#include "TestSupport.h"

using namespace testnets;

namespace {

// A stationary engine whose analysis state a test may set.
class OutputSimulation : public Simulation {
public:
    OutputSimulation(NetClass* net, const DateTime& start, int runMode)
        : Simulation(net, "outnet", "NULL", start, DateTime(100.0), 1, runMode, true, false, 0.1, 10.0, 15) {}
    void setAnalysisState(int s) { analysisState = s; }
    // Fires the next event as a run does; false when there is none.
    bool fireNext() {
        EventList events;
        getFirstBindingsOfAllTransitions(&events, false);
        Binding* b = resolve_conflicts(events);
        if (b == nullptr) return false;
        updateSimulationTime(b->getTime());
        executeEvent(b);
        return true;
    }
};

// A measure with a fixed estimate.
class FixedMeasure : public MeasureObj {
public:
    FixedMeasure(const char* name, NetClass* net, bool watched, bool isAccumulative)
        : MeasureObj(name, net, watched), acc(isAccumulative) {
        prepareSampling(1);
        restartAnalysis(true);
        for (double x : {0.5, 0.5, 0.5, 0.5, 0.5}) currentSampleBlock().add(x, 1.0);
        double alpha = 0.1;
        makeStationaryAnalysis(alpha, 0.0, 0.0);
    }
    double measure(double) override { return 0.5; }
    bool accumulative() override { return acc; }
    bool timeaverage() override { return !acc; }
    void accum(const Binding*, double) override {}

private:
    bool acc;
};

}  // namespace

TEST(EngineOutput, WatchedFiringIsLoggedAsNoSockEntryOnceInitialised) {
    testsupport::ScratchDir dir("engine-output");
    OpenLogs logs(dir.path());
    TestNet net;
    Place* p = net.place("P");
    TestTransition* t = net.transition("T", traits().withDelay(2.5));
    net.in(p, t);
    net.out(t, p);
    t->setWatch(true);
    net.put(p, 1);
    DateTime start(0.0);
    {
        OutputSimulation sim(&net, start, 1);
        sim.measureOut(t, 7.0);  // before init: not sent
        sim.displayOut(t, 8.0);
        sim.init();
        ASSERT_TRUE(sim.fireNext());
        sim.displayOut(t, 0.25);
        const std::string log = logs.sim();
        EXPECT_NE(log.find("meassureOut not initialized: 7\n"), std::string::npos) << log;
        EXPECT_NE(log.find("displayOut not initialized: 8\n"), std::string::npos) << log;
        EXPECT_NE(log.find("NO_SOCK: TIME;2.5\nT<Transition>;1\n\n"), std::string::npos) << log;
        EXPECT_NE(log.find("NO_SOCK: TIME;2.5\nT<Transition:Display>;0.25\n\n"), std::string::npos) << log;
    }
    net.setSimulation(nullptr);
}

// A place watched after the net is built (the first watched place of the
// process when this test runs alone) sends its token count after every
// firing that touches it; its unwatched neighbour sends nothing.
TEST(EngineOutput, PlaceWatchedAfterBuildSendsItsCountAtEveryFiring) {
    testsupport::ScratchDir dir("engine-place-watch");
    OpenLogs logs(dir.path());
    TestNet net;
    Place* source = net.place("Source");
    Place* sink = net.place("Sink");
    TestTransition* t = net.transition("Move", traits().withDelay(1.5));
    net.in(source, t);
    net.out(t, sink);
    net.putMany(source, 2);
    DateTime start(0.0);
    {
        OutputSimulation sim(&net, start, 1);
        sim.init();
        sink->setWatch(true);
        ASSERT_TRUE(sim.fireNext());
        ASSERT_TRUE(sim.fireNext());
        const std::string log = logs.sim();
        EXPECT_NE(log.find("NO_SOCK: TIME;1.5\nSink<Place>;1\n\n"), std::string::npos) << log;
        EXPECT_NE(log.find("NO_SOCK: TIME;3\nSink<Place>;2\n\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("Source<Place>"), std::string::npos) << log;
    }
    net.setSimulation(nullptr);
}

TEST(EngineOutput, MeasureEstimatesWaitForTheAnalysisAndOmitAccumulativeValues) {
    testsupport::ScratchDir dir("engine-estimates");
    OpenLogs logs(dir.path());
    TestNet net;
    DateTime start(0.0);
    {
        OutputSimulation sim(&net, start, 1);
        sim.init();
        FixedMeasure watched("Load", &net, true, false);
        FixedMeasure cumulative("Count", &net, true, true);
        FixedMeasure hidden("Quiet", &net, false, false);
        sim.measureOut(&watched, &watched);  // analysis state 0: nothing at all
        EXPECT_EQ(logs.sim().find("Load"), std::string::npos);
        sim.setAnalysisState(1);
        sim.measureOut(&watched, &watched);
        sim.measureOut(&cumulative, &cumulative);
        sim.measureOut(&hidden, &hidden);
        const std::string log = logs.sim();
        EXPECT_NE(log.find("NO_SOCK: TIME;0\nLoad<Result:Mean>,<-ConfMin>,<+ConfMax>;0.5,0.5,0.5\n\n"),
                  std::string::npos)
            << log;
        // Accumulative and unwatched measures send only the time line.
        EXPECT_EQ(log.find("Count<"), std::string::npos) << log;
        EXPECT_EQ(log.find("Quiet<"), std::string::npos) << log;
        std::size_t timeLines = 0;
        for (std::size_t at = log.find("NO_SOCK: TIME;0\n"); at != std::string::npos;
             at = log.find("NO_SOCK: TIME;0\n", at + 1))
            ++timeLines;
        EXPECT_EQ(timeLines, 3u);
    }
    net.setSimulation(nullptr);
}
