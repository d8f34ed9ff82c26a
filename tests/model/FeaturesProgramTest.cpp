// The net tests/model/nets/features.net.json uses every construct of the
// description language in a deterministic net: its program must end in
// exactly the marking worked out by hand below.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "NetRuns.h"

using testsupport::NetRun;
using testsupport::ScratchDir;

namespace {

const std::string kProgram = std::string(SIM_TEST_NET_DIR) + "/features";
const std::string kMarking =
    testsupport::readFile(std::string(SIM_SOURCE_DIR) + "/tests/model/nets/features.marking.xml");

// Replications of [0, 10] with sampling points 0 and 10; every replication
// is the same, so the estimates are exact after the seventh.
NetRun runFeatures(const ScratchDir& dir) {
    return testsupport::runNetProgram(dir, kProgram, kMarking,
                                      {"-T", "--mstart", "0", "--mstop", "10", "--nofsampling", "2", "--epsmax", "5",
                                       "--secmax", "60", "--seed", "1"});
}

}  // namespace

// Split (Det(x.size), guard on prio and tag) fires for jobs 1, 4, 5, 6 at
// 1.0, 3.5, 4.2 and 5.7; each firing puts two copies into Copies, which Pair
// (two arcs from one place, guard a.prio == b.prio) joins at once, and an int
// id + 100 into Ids, of which Batch takes three at 4.2 and puts #Ids = 3 into
// Batches at 4.45. Drain (global guard #Work >= 2) moves jobs 1, 4, 5 to Done
// at 4.0, 4.7 and 6.2; Tick (time guard window(10, 8, 9)) archives them at 8
// with two int tokens each; Join (infinite server over Paired and Archive)
// makes three jobs at 9.
TEST(FeaturesNet, EveryConstructReachesTheMarkingWorkedOutByHand) {
    ScratchDir dir("features");
    NetRun run = runFeatures(dir);
    ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    EXPECT_NE(run.result.out.find("\nSIMULATION SUCCESSFUL"), std::string::npos) << run.result.out;
    const struct {
        const char* measure;
        double value;
    } expected[] = {
        {"SourceLeft", 2},       // jobs 2 and 3 never pass the guard of Split
        {"CopiesLeft", 0},       // every copy found its partner, never itself
        {"PairedLeft", 1},       // four pairs, three joined
        {"IdsAndBatches", 11},   // one id left, one batch
        {"BatchValue", 3},       // the count #Ids when Batch fired
        {"Stages", 100},         // Work holds job 6, Done and Archive are empty
        {"JoinedPrio", 4},       // prio 0 of a pair plus prio 1, 1, 2 of the archived jobs
        {"JoinedCount", 3},      // one per archived job
        {"TicksMade", 6},        // two per archived job, up to the capacity 6
        {"Mixed", 1005.5},       // max(1, 3) - min(1, 0.5) + abs(1 - 4) + 1000
        {"WorkBorn", 5.7},       // job 6 got born := now when Split fired it
        {"NotDone", 1},          // job 6 has size 1.5, so done := size > 2 is false
        {"PairTags", 1},         // the pair left in Paired
        {"Arith", 6.5},          // 2.5 + 2 + 3 - 1
        {"Functions", 22},       // 6 + 8 + 5 + 1 - 1 + 2 + 1
        {"Gathering", 1232},     // Pool keeps job 14; p = jobs 11, 12 (tag g) and q = 13 gathered; 2 copies
        {"CopiedIds", 23},       // copies of jobs 11 and 12
        {"WorkTime", 10.5},      // the integral of #Work over [0, 10]
        {"WorkMean", 0.15},      // #Work > 1 during 3 × 0.5 of the 10 time units
    };
    for (const auto& e : expected) {
        std::vector<testsupport::Interval> rows = testsupport::intervals(run.resultsLog, e.measure, true);
        ASSERT_EQ(rows.size(), 2u) << e.measure << "\n" << run.resultsLog;
        EXPECT_DOUBLE_EQ(rows[1].time, 10.0);
        EXPECT_NEAR(rows[1].mean, e.value, 1e-9) << e.measure;
    }
}

// The log of Join, in the working folder without -l: one line per firing
// with the time and the four log values (a bool as 1 or 0), after a header
// per build of the net.
TEST(FeaturesNet, LogFileGetsOneLinePerFiringWithItsValues) {
    ScratchDir dir("features-log");
    NetRun run = runFeatures(dir);
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    std::istringstream log(dir.read("joins.log"));
    std::vector<std::string> firings;
    int headers = 0;
    for (std::string line; std::getline(log, line);) {
        if (line == "\t******** LOGFILE of Transition Join *********")
            ++headers;
        else
            firings.push_back(line);
    }
    ASSERT_GE(headers, 8);  // the first build and seven replications
    ASSERT_EQ(firings.size(), 3u * static_cast<std::size_t>(headers - 1));
    EXPECT_EQ(firings[0], "9\tpair\t1\t3\t0");
    EXPECT_EQ(firings[1], "9\tpair\t4\t7.5\t1");
    EXPECT_EQ(firings[2], "9\tpair\t5\t2.1\t0");
}

// The token game and profiling simulate the net of the first build, whose
// marking also comes from marking.xml when the description names no
// database: the net runs dead after its 19 firings.
TEST(FeaturesNet, ProfilingFiresTheFirstBuildUntilItIsDead) {
    ScratchDir dir("features-profile");
    NetRun run =
        testsupport::runNetProgram(dir, kProgram, kMarking, {"-p", "--fcount", "100", "--lcount", "1", "--seed", "3"});
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(run.result.out.find("try to connect to the database"), std::string::npos);
    EXPECT_NE(run.result.out.find("Global fire count: 19\n"), std::string::npos) << run.result.out;
}
