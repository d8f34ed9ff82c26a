#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "TestNets.h"

using namespace testnets;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// A customer arrives every second and leaves half a second later: the
// queue length alternates between 0 and 1, in lock step.
class BlinkNet : public TestNet {
public:
    void buildNet() override {
        Place* queue = place("Queue");
        TestTransition* up = transition("Up", traits().withDelay(1.0));
        out(up, queue);
        TestTransition* down = transition("Down", traits().withDelay(0.5));
        in(queue, down);
    }
};

// One customer arrives, two more join it, one leaves, the last two leave
// together: the queue length goes 0, 1, 3, 2, 0, one step per second.
class JumpNet : public TestNet {
public:
    void buildNet() override {
        Place* queue = place("Queue");
        Place* start = place("Start");
        Place* c1 = place("C1");
        Place* c2 = place("C2");
        Place* c3 = place("C3");
        TestTransition* a = transition("A", traits().withDelay(1.0));
        in(start, a);
        out(a, queue);
        out(a, c1);
        TestTransition* b = transition("B", traits().withDelay(1.0));
        in(c1, b);
        out(b, queue, 2);
        out(b, c2);
        TestTransition* d = transition("D", traits().withDelay(1.0));
        in(c2, d);
        in(queue, d);
        out(d, c3);
        TestTransition* e = transition("E", traits().withDelay(1.0));
        in(c3, e);
        in(queue, e, 2);
        put(start, 1);
    }
};

// The queue length, as RESTART's importance function.
class QueueLength : public MeasureObj {
public:
    explicit QueueLength(NetClass* net) : MeasureObj("ImportanceFunction", net, false) {}
    double measure(double) override { return net->getPlace("Queue")->getMarkingSize(); }
    bool accumulative() override { return false; }
    bool timeaverage() override { return true; }
    void accum(const Binding*, double) override {}
};

// Busy = queue not empty; records the time and weight of every update.
class Busy : public MeasureObj {
public:
    explicit Busy(NetClass* net) : MeasureObj("Busy", net, true) {}
    double measure(double dt) override { return dt > 0 ? value / dt : 0.0; }
    bool accumulative() override { return false; }
    bool timeaverage() override { return true; }
    void accum(const Binding* b, double weight) override {
        const double t = b->getTime().FullDateTime();
        value += weight * (t - lastTime) * (net->getPlace("Queue")->getMarkingSize() > 0 ? 1.0 : 0.0);
        lastTime = t;
        updates.emplace_back(t, weight);
    }
    std::vector<std::pair<double, double>> updates;
};

template <class Net = BlinkNet>
struct RestartRun {
    // epsMax 0: never precise.
    explicit RestartRun(double stop, double epsMax = 0.05, bool withImportance = true) : busy(&net), importance(&net) {
        if (withImportance) net.addMeasure(&importance);
        net.addMeasure(&busy);
        net.buildNet();
        engine.reset(
            new Simulation(&net, "blink", "NULL", start, DateTime(stop), 1, 2, true, false, epsMax, 0.0, 0));
        engine->init();
    }
    ~RestartRun() {
        engine.reset();
        net.setSimulation(nullptr);
    }
    std::string run(int repeats, double thrmin, double thrmax, int thrnumber) {
        double alpha = 0.05;
        CaptureStdout();
        engine->run_restart(alpha, repeats, thrmin, thrmax, thrnumber);
        return GetCapturedStdout();
    }
    Net net;
    Busy busy;
    QueueLength importance;
    DateTime start{0.0};
    std::unique_ptr<Simulation> engine;
};

}  // namespace

TEST(Restart, LevelsOfTheImportanceValues) {
    // Thresholds 1, 2, 3, 4, 5.
    const std::vector<std::pair<double, int>> cases = {
        {-3.0, 0}, {0.99, 0}, {1.0, 1}, {1.5, 1}, {2.0, 2}, {3.99, 3}, {4.0, 4}, {4.999, 4}, {5.0, 5}, {1e300, 5}};
    for (const auto& c : cases) EXPECT_EQ(Simulation::level(1.0, 5.0, c.first, 3), c.second) << c.first;
    EXPECT_EQ(Simulation::level(1.0, 5.0, std::nan(""), 3), 0);
    // Two thresholds only: thrmin and thrmax.
    EXPECT_EQ(Simulation::level(2.0, 11.0, 5.0, 0), 1);
    EXPECT_EQ(Simulation::level(2.0, 11.0, 11.0, 0), 2);
    // The highest threshold counts however the width rounds.
    EXPECT_EQ(Simulation::level(0.1, 0.7, 0.7, 5), 7);
}

// R = 2: the climb to level 1 at every arrival saves the state (weight 1/2),
// the departure restores it once (the retrial keeps the weight 1/2), the
// retrial's departure drops it (weight 1 again). Both paths end at the stop
// time. The time of the paths that are cut off does not count.
TEST(Restart, OneRetrialPerUpCrossingWithHalfTheWeight) {
    RestartRun<> r(4.2);
    const std::string out = r.run(2, 1.0, 3.0, 1);
    EXPECT_NE(out.find("\nRESTART simulation starts.\n\nParameters: \n"), std::string::npos) << out;
    const std::vector<std::pair<double, double>> expected = {
        {1.0, 1.0}, {1.5, 0.5}, {1.5, 0.5}, {2.0, 1.0}, {2.5, 0.5}, {2.5, 0.5},
        {3.0, 1.0}, {3.5, 0.5}, {3.5, 0.5}, {4.0, 1.0}, {4.2, 0.5}, {4.2, 0.5}};
    EXPECT_EQ(r.busy.updates, expected);
    EXPECT_NEAR(r.engine->getRestartTime(), 4.2, 1e-12);
    // Busy in [1, 1.5], [2, 2.5], [3, 3.5] and [4, 4.2].
    EXPECT_NEAR(r.busy.getSampleBlocks().front().mean(), 1.7 / 4.2, 1e-12);
    EXPECT_NE(out.find("\nABORT SIMULATION. REACHED MAXIMUM MODEL TIME."), std::string::npos) << out;
}

TEST(Restart, NeverReachingTheLowestThresholdIsAPlainWeightedRun) {
    RestartRun<> r(3.7);
    r.run(3, 5.0, 9.0, 1);
    const std::vector<std::pair<double, double>> expected = {{1.0, 1.0}, {1.5, 1.0}, {2.0, 1.0}, {2.5, 1.0},
                                                             {3.0, 1.0}, {3.5, 1.0}, {3.7, 1.0}};
    EXPECT_EQ(r.busy.updates, expected);
    EXPECT_TRUE(r.engine->getSavedStates().empty());
    EXPECT_NEAR(r.engine->getRestartTime(), 3.7, 1e-12);
}

// The command line gives no sampling interval: with a model-time limit a
// run takes at least 100 sampling points, and its last sample ends at the
// stop time.
TEST(Restart, SamplesTheMainTrajectoryUpToTheStopTime) {
    RestartRun<> r(3000.25, 0.0);
    const std::string out = r.run(2, 1.0, 3.0, 1);
    EXPECT_NE(out.find("\nABORT SIMULATION. REACHED MAXIMUM MODEL TIME."), std::string::npos) << out;
    EXPECT_NEAR(r.engine->getSamplingInterval(), 30.0025, 1e-9);
    const GroupedBatches& batches = r.busy.getSampleBlocks().front();
    EXPECT_GE(batches.size(), 99u);
    EXPECT_LE(batches.size(), 101u);
    EXPECT_NEAR(r.engine->getRestartTime(), 3000.25, 1e-6);
    ASSERT_FALSE(r.busy.getAveragedMean().empty());
    EXPECT_NEAR(r.busy.getAveragedMean().back(), 1499.75 / 3000.25, 1e-9);
}

// Without a model-time limit the interval is the time of the main
// trajectory's first 1000 events, and the run ends at the first checkpoint
// of the batches where every measure is precise.
TEST(Restart, WithoutModelTimeLimitTheEventsSetTheInterval) {
    RestartRun<> r(0.0);
    const std::string out = r.run(2, 1.0, 3.0, 1);
    EXPECT_NE(out.find("\nRESTART simulation finished."), std::string::npos) << out;
    // Arrivals and second departures: two main events per second.
    EXPECT_NEAR(r.engine->getSamplingInterval(), 500.5, 1e-9);
    EXPECT_EQ(r.busy.getSampleBlocks().front().size(), std::size_t{GroupedBatches::GROUPS});
    EXPECT_NEAR(r.busy.getAveragedMean().back(), 0.5, 1e-3);
    EXPECT_TRUE(r.busy.precisionReached());
}

// A climb over two thresholds saves one state. When its last path falls
// one level, the state is dropped and the path goes on between the levels;
// its later fall below the lower state restores that state once, and the
// retrial keeps its weight.
TEST(Restart, AFallRestoresOnceAfterAJumpOverThresholds) {
    RestartRun<JumpNet> r(100.0);
    r.run(2, 1.0, 3.0, 1);
    const std::vector<std::pair<double, double>> expected = {{1.0, 1.0},  {2.0, 0.5},  {3.0, 0.25},
                                                             {3.0, 0.25}, {4.0, 0.5},  {2.0, 0.5},
                                                             {3.0, 0.25}, {3.0, 0.25}, {4.0, 0.5}};
    EXPECT_EQ(r.busy.updates, expected);
    EXPECT_TRUE(r.engine->getSavedStates().empty());
    EXPECT_EQ(r.engine->getRestartWeight(), 1.0);
}

TEST(Restart, AnEarlyEndBeforeTheAnalysisIsReported) {
    RestartRun<> r(0.7);
    const std::string out = r.run(2, 1.0, 3.0, 1);
    EXPECT_NE(out.find("\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY.\n"
                       "\nRESTART simulation finished."),
              std::string::npos)
        << out;
}

TEST(RestartDeathTest, MissingImportanceFunctionOrBadParametersEndTheRun) {
    EXPECT_EXIT(
        {
            RestartRun<> r(10.0, 0.05, false);
            r.run(2, 1.0, 3.0, 1);
        },
        testing::ExitedWithCode(1), "");
    EXPECT_EXIT(
        {
            RestartRun<> r(10.0);
            double alpha = 0.05;
            r.engine->run_restart(alpha, 0, 1.0, 3.0, 1);
        },
        testing::ExitedWithCode(1), "");
}
