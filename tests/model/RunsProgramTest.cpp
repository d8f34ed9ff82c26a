// End-to-end runs of small test nets through the whole program: the
// stationary and transient estimators against known exact values, the run
// endings, profiling and reproducibility.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "NetRuns.h"

using testsupport::Interval;
using testsupport::intMarking;
using testsupport::intervals;
using testsupport::NetRun;
using testsupport::ProgramResult;
using testsupport::ScratchDir;

namespace {

std::string netProgram(const std::string& name) { return std::string(SIM_TEST_NET_DIR) + "/" + name; }

NetRun runNet(const std::string& net, const std::string& marking, const std::vector<std::string>& args) {
    return testsupport::runNet(netProgram(net), marking, args);
}

const std::string kOnOffMarking = intMarking({{"On", 1}});

// The number of events a run fired.
long fireCount(const std::string& out) {
    std::smatch m;
    const std::regex line(R"(Global fire count: (\d+))");
    return std::regex_search(out, m, line) ? std::stol(m[1]) : -1;
}

// A stationary run of the on/off net without a model-time limit, which
// ends successfully.
NetRun successfulOnOffRun(const char* epsmax) {
    NetRun run = runNet("onoff", kOnOffMarking,
                        {"-S", "--mstart", "0", "--mstop", "0", "--epsmax", epsmax, "--secmax", "120", "--seed", "8"});
    EXPECT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_NE(run.result.out.find("\nSIMULATION SUCCESSFUL"), std::string::npos) << run.result.out;
    return run;
}

}  // namespace

// An on/off net with two exponential delays of mean 1: the token is On half
// of the time, and at time t with probability 0.5 + 0.5·exp(−2t) when it
// starts On. The confidence intervals must cover these values about as often
// as the confidence level says.
TEST(StationaryRun, IntervalsCoverTheExactTimeAverage) {
    int covered = 0;
    const int seeds = 20;
    for (int seed = 1; seed <= seeds; ++seed) {
        NetRun run = runNet("onoff", kOnOffMarking,
                         {"-S", "--mstart", "0", "--mstop", "0", "--confidence", "90", "--epsmax", "3", "--secmax", "60",
                          "--seed", std::to_string(seed * 7919)});
        ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
        EXPECT_NE(run.result.out.find("\nSIMULATION SUCCESSFUL"), std::string::npos) << run.result.out;
        std::vector<Interval> rows = intervals(run.resultsLog, "OnFraction", false);
        ASSERT_EQ(rows.size(), 1u) << run.resultsLog;
        EXPECT_LT((rows[0].high - rows[0].low) / 2 / rows[0].mean, 0.03);
        if (rows[0].low <= 0.5 && 0.5 <= rows[0].high) ++covered;
    }
    // Binomial(20, 0.9): fewer than 15 happens with probability below 1 %.
    EXPECT_GE(covered, 15);
    EXPECT_LE(covered, seeds);
}

TEST(TransientRun, IntervalsCoverTheExactProbabilityAtEverySamplingPoint) {
    int covered = 0, total = 0;
    for (int seed = 1; seed <= 8; ++seed) {
        NetRun run = runNet("onoff", kOnOffMarking,
                         {"-T", "--mstart", "0", "--mstop", "2", "--nofsampling", "5", "--confidence", "90",
                          "--epsmax", "6", "--secmax", "60", "--seed", std::to_string(seed * 104729)});
        ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
        EXPECT_NE(run.result.out.find("\nSIMULATION SUCCESSFUL"), std::string::npos) << run.result.out;
        std::vector<Interval> rows = intervals(run.resultsLog, "OnNow", true);
        ASSERT_EQ(rows.size(), 5u) << run.resultsLog;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_DOUBLE_EQ(rows[i].time, 0.5 * static_cast<double>(i));
            const double exact = 0.5 + 0.5 * std::exp(-2.0 * rows[i].time);
            ++total;
            if (rows[i].low <= exact + 1e-12 && exact - 1e-12 <= rows[i].high) ++covered;
        }
    }
    // 40 intervals at 90 %: fewer than 31 covering is below 1 % likely.
    EXPECT_GE(covered, 31) << covered << " of " << total;
}

TEST(TransientRun, SamplingPointsAreEquallySpacedOverTheWindow) {
    NetRun run = runNet("onoff", kOnOffMarking,
                     {"-T", "--mstart", "0", "--mstop", "100", "--nofsampling", "11", "--epsmax", "50", "--secmax", "60",
                      "--seed", "4242"});
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    std::vector<Interval> rows = intervals(run.resultsLog, "OnNow", true);
    ASSERT_EQ(rows.size(), 11u) << run.resultsLog;
    for (int i = 0; i <= 10; ++i) EXPECT_DOUBLE_EQ(rows[i].time, 10.0 * i);
}

TEST(TransientRun, EveryRunSamplesTheStopTime) {
    // Window lengths and point counts whose summed intervals overshoot the
    // stop time by a rounding step.
    const std::pair<int, int> windows[] = {{7, 7}, {1, 10}, {13, 8}};
    for (const auto& w : windows) {
        NetRun run = runNet("onoff", kOnOffMarking,
                            {"-T", "--mstart", "0", "--mstop", std::to_string(w.first), "--nofsampling",
                             std::to_string(w.second), "--epsmax", "50", "--secmax", "60", "--seed", "31"});
        ASSERT_EQ(run.result.status, 0) << run.result.err;
        std::vector<Interval> rows = intervals(run.resultsLog, "OnNow", true);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(w.second)) << run.resultsLog;
        EXPECT_DOUBLE_EQ(rows.back().time, w.first);
    }

    // A single point lies at the start time.
    NetRun run = runNet("onoff", kOnOffMarking,
                        {"-T", "--mstart", "0", "--mstop", "5", "--nofsampling", "1", "--epsmax", "50", "--secmax",
                         "60", "--seed", "31"});
    std::vector<Interval> rows = intervals(run.resultsLog, "OnNow", true);
    ASSERT_EQ(rows.size(), 1u) << run.resultsLog;
    EXPECT_EQ(rows[0].time, 0.0);
    EXPECT_EQ(rows[0].mean, 1.0);
    EXPECT_NE(run.result.out.find("\nSIMULATION SUCCESSFUL"), std::string::npos) << run.result.out;
}

TEST(TransientRun, FewerThanSevenReplicationsWarnAndAbort) {
    // Without --secmax the engine gets 0 seconds: one replication only.
    NetRun run = runNet("onoff", kOnOffMarking, {"-T", "--mstart", "0", "--mstop", "2", "--nofsampling", "3", "--seed", "9"});
    ASSERT_EQ(run.result.status, 0);
    EXPECT_NE(run.result.out.find("WARNING NO ANALYSIS DONE: THE NUMBER OF LOOPS IN TRANSIENT SIMULATION LESS THAN TEN.\n"
                                  "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME."),
              std::string::npos)
        << run.result.out;
    EXPECT_NE(run.resultsLog.find("RESULTS OF TRANSIENT SIMULATION\nSIMULATION TIME: 2\n\n"), std::string::npos)
        << run.resultsLog;
}

TEST(TransientRun, NetWithoutMeasuresEndsEveryReplication) {
    NetRun run = runNet("deadend", intMarking({{"Source", 3}}),
                     {"-T", "--mstart", "0", "--mstop", "5", "--secmax", "0", "--seed", "3"});
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_NE(run.result.out.find("\nSIMULATION SUCCESSFUL"), std::string::npos) << run.result.out;
}

TEST(StationaryRun, NoMeasureIsDecidedBeforeThirtyBatches) {
    // An error of 50 % is met after a few batches already.
    NetRun run = successfulOnOffRun("50");
    EXPECT_GE(fireCount(run.result.out), 3000);
}

TEST(StationaryRun, PerCentRuleAcceptanceIsWarned) {
    // 0.01 % is out of reach: the per-cent rule ends the run at the first
    // checkpoint after 10000 batches (11520 batches of 100 events).
    NetRun run = successfulOnOffRun("0.01");
    EXPECT_EQ(fireCount(run.result.out), 1152000);
    const std::string warning =
        "Measure: OnFraction\nWARNING:\n\tMeasure OnFraction: Accepted by the per-cent rule above the maximum "
        "relative error.\n\n\tMean Value";
    EXPECT_NE(run.resultsLog.find(warning), std::string::npos) << run.resultsLog;
    EXPECT_NE(run.result.out.find(warning), std::string::npos) << run.result.out;
}

TEST(StationaryRun, DeadMarkingStopsTheRun) {
    NetRun run = runNet("deadend", intMarking({{"Source", 10}}),
                     {"-S", "--mstart", "0", "--mstop", "0", "--secmax", "0", "--seed", "5"});
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_NE(run.result.out.find("WARNING: Stationary simulation stops at a dead marking.\n"
                                  "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY.\n"
                                  "\nABORTED SIMULATION. REACHED MAXIMUM RUN TIME."),
              std::string::npos)
        << run.result.out;
    EXPECT_NE(run.result.out.find("Global fire count: 10\n"), std::string::npos);
}

TEST(StationaryRun, WallClockLimitEndsARunThatCannotBecomePrecise) {
    NetRun run = runNet("onoff", kOnOffMarking,
                     {"-S", "--mstart", "0", "--mstop", "0", "--epsmax", "0.0001", "--percentage", "false", "--secmax", "1",
                      "--seed", "11"});
    ASSERT_EQ(run.result.status, 0);
    EXPECT_NE(run.result.out.find("\nABORTED SIMULATION. REACHED MAXIMUM RUN TIME."), std::string::npos);
    EXPECT_NE(run.resultsLog.find("Has not reached predefined accuracy!"), std::string::npos) << run.resultsLog;
}

TEST(StationaryRun, SameSeedSameResultsOtherSeedOtherEstimates) {
    const std::vector<std::string> base = {"-S", "--mstart", "0", "--mstop", "500", "--secmax", "60", "--epsmax", "0.5"};
    auto withSeed = [&base](const char* seed) {
        std::vector<std::string> args = base;
        args.push_back("--seed");
        args.push_back(seed);
        return runNet("onoff", kOnOffMarking, args).resultsLog;
    };
    const std::string a = withSeed("77"), b = withSeed("77"), c = withSeed("78");
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(ProfilingRun, DeadNetFiresItsTenEventsInTheFirstRepetition) {
    NetRun run = runNet("deadend", intMarking({{"Source", 10}}), {"-p", "--fcount", "100", "--lcount", "3", "--seed", "1"});
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    const std::string& out = run.result.out;
    EXPECT_NE(out.find("Running in profiling mode 100*3\n"), std::string::npos);
    EXPECT_NE(out.find("firing 3 * 100 times\n"), std::string::npos);
    const std::regex loopLine(R"(\n0\. loop in \d\d:\d\d:\d\d@\d\d/\d\d/\d\d\d\d\n1\. loop in .*\n2\. loop in .*\n)");
    EXPECT_TRUE(std::regex_search(out, loopLine)) << out;
    EXPECT_NE(out.find("Global fire count: 10\n"), std::string::npos) << out;
    EXPECT_EQ(run.resultsLog, "");  // profiling writes no result file
}

TEST(ProfilingRun, ZeroRepetitionsPrintNoLoopLine) {
    NetRun run = runNet("deadend", intMarking({{"Source", 10}}), {"-p", "--fcount", "5", "--lcount", "0", "--seed", "1"});
    ASSERT_EQ(run.result.status, 0);
    EXPECT_NE(run.result.out.find("firing 0 * 5 times\n"), std::string::npos);
    EXPECT_EQ(run.result.out.find("loop in"), std::string::npos);
    EXPECT_NE(run.result.out.find("Global fire count: 0\n"), std::string::npos);
}

TEST(Shutdown, UnwritableResultFileIsReportedAndTheConsoleStillGetsTheResults) {
    ScratchDir dir("runs-unwritable");
    dir.write("marking.xml", kOnOffMarking);
    dir.write("odbc.ini", "");
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    ASSERT_EQ(mkdir(dir.file("results.log").c_str(), 0755), 0);  // a folder where the file should go
    ProgramResult r = testsupport::runProgram(
        netProgram("onoff"), {"-S", "--mstart", "0", "--mstop", "50", "--secmax", "60", "--seed", "2"}, dir.path());
    // The results are lost: the run says so by its status too.
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Could not write the result file \"results.log\" (Is a directory)."), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("RESULTS OF STATIONARY SIMULATION\nSIMULATION TIME: 50\n\nMeasure: OnFraction\n"),
              std::string::npos)
        << r.out;
}
