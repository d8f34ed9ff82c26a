// RESTART runs of whole programs: M/M/1 queues (arrival rate 0.5, service
// rate 1) whose rare probabilities P(#Queue >= k) = 0.5^k are known, the
// finite queue of examples/overflow, the result stream and results.log of a
// run, and the workflow program, which has no importance function.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "NetRuns.h"

using testsupport::Interval;
using testsupport::intervals;
using testsupport::NetRun;
using testsupport::ResultListener;
using testsupport::ScratchDir;

namespace {

const std::string kEmptyMarking = "<marking/>\n";

// Thresholds every three customers up to k, 8 paths per threshold (about
// one over the chance of climbing three more), no model-time limit.
std::vector<std::string> restartArgs(int k, const char* epsmax) {
    const int thrmin = k % 3 == 0 ? 3 : k % 3;
    return {"-R",        "--mstart", "0", "--mstop", "0", "--thrmin", std::to_string(thrmin), "--thrmax",
            std::to_string(k), "--thrnumber", std::to_string((k - thrmin) / 3 - 1), "--repeats", "8",
            "--confidence", "95", "--epsmax", epsmax, "--secmax", "600"};
}

std::string queueProgram(int k) { return std::string(SIM_TEST_NET_DIR) + "/mm1rare" + std::to_string(k); }

std::vector<unsigned> seeds(unsigned first, int n) {
    std::vector<unsigned> s;
    for (int i = 0; i < n; ++i) s.push_back(first + 7919u * static_cast<unsigned>(i));
    return s;
}

// Of 8 sound intervals at the 97.5 % level, 6 or more cover with
// probability 0.999.
void expectCoverage(const std::vector<NetRun>& runs, const std::string& measure, double exact) {
    int covered = 0;
    for (const NetRun& run : runs) {
        ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
        EXPECT_NE(run.result.out.find("\nRESTART simulation finished."), std::string::npos) << run.result.out;
        const std::vector<Interval> rows = intervals(run.resultsLog, measure, false);
        ASSERT_EQ(rows.size(), 1u) << run.resultsLog;
        EXPECT_LT(rows[0].high - rows[0].mean, 0.1 * rows[0].mean) << run.resultsLog;
        if (rows[0].covers(exact)) ++covered;
    }
    EXPECT_GE(covered, 6) << measure;
}

double number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

}  // namespace

TEST(RestartProgram, QueueOfTenCoversOneThousandth) {
    expectCoverage(testsupport::runNetSeeds(queueProgram(10), kEmptyMarking, restartArgs(10, "10"), seeds(31, 8), 2),
                   "Rare", std::pow(0.5, 10));
}

TEST(RestartProgram, FiniteQueueOfTheOverflowExample) {
    const double rho = 0.5;
    const double exact = (std::pow(rho, 12) - std::pow(rho, 16)) / (1 - std::pow(rho, 16));
    const std::vector<std::string> args = {"-R", "--mstart", "0", "--mstop", "0", "--thrmin", "2", "--thrmax", "11",
                                           "--thrnumber", "2", "--repeats", "8", "--confidence", "95", "--epsmax",
                                           "10", "--secmax", "600"};
    expectCoverage(testsupport::runNetSeeds(std::string(SIM_EXAMPLE_DIR) + "/overflow", kEmptyMarking, args,
                                            seeds(57, 8), 2),
                   "Overflow", exact);
}

// A probability of 2^-30, about 1e-9, to 10 % relative precision: out of
// reach of a plain simulation, a few million events here.
TEST(RestartProgram, QueueOfThirtyReachesABillionthToTenPerCent) {
    std::vector<std::string> args = restartArgs(30, "10");
    args.insert(args.end(), {"--seed", "4711"});
    const NetRun run = testsupport::runNet(queueProgram(30), kEmptyMarking, args);
    ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    EXPECT_NE(run.result.out.find("\nRESTART simulation finished."), std::string::npos) << run.result.out;
    const std::vector<Interval> rows = intervals(run.resultsLog, "Rare", false);
    ASSERT_EQ(rows.size(), 1u) << run.resultsLog;
    EXPECT_TRUE(rows[0].covers(std::pow(0.5, 30))) << run.resultsLog;
    EXPECT_LT(rows[0].high - rows[0].mean, 0.1 * rows[0].mean);
}

// "TIME;" carries the main trajectory's time, which only grows; the result
// text is the stationary one, and its simulation time the main
// trajectory's time at the last sampling point.
TEST(RestartProgram, ResultStreamAndResultsLog) {
    ResultListener listener;
    std::vector<std::string> args = restartArgs(10, "10");
    args.insert(args.end(), {"--seed", "99", "--resport", listener.address()});
    const NetRun run = testsupport::runNet(queueProgram(10), kEmptyMarking, args);
    const std::string stream = listener.received();
    ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;

    EXPECT_EQ(stream.rfind("NETNAME;mm1rare10\nXTICKFORMAT;0\nTIME;0\n", 0), 0u) << stream.substr(0, 200);
    EXPECT_EQ(stream.find("STARTTIME;"), std::string::npos);
    const std::regex estimate(R"(TIME;(\S+)\nRare<Result:Mean>,<-ConfMin>,<\+ConfMax>;(\S+),(\S+),(\S+)\n)");
    double last = 0.0;
    int estimates = 0;
    for (std::sregex_iterator it(stream.begin(), stream.end(), estimate), end; it != end; ++it, ++estimates) {
        const double t = number((*it)[1]);
        EXPECT_GE(t, last);
        last = t;
        EXPECT_LE(number((*it)[3]), number((*it)[2]));
        EXPECT_GE(number((*it)[4]), number((*it)[2]));
    }
    EXPECT_GT(estimates, 25);
    EXPECT_NE(stream.find("EXIT;0"), std::string::npos);
    EXPECT_EQ(stream.find("ImportanceFunction"), std::string::npos);

    EXPECT_EQ(run.resultsLog.rfind("RESULTS OF STATIONARY SIMULATION\nSIMULATION TIME: ", 0), 0u) << run.resultsLog;
    const double simulated = number(run.resultsLog.substr(run.resultsLog.find("TIME: ") + 6));
    EXPECT_NEAR(simulated, last, 0.01 * last);
    EXPECT_EQ(run.resultsLog.find("ImportanceFunction"), std::string::npos);
    EXPECT_EQ(intervals(run.resultsLog, "Rare", false).size(), 1u);
}

TEST(RestartProgram, ModelTimeLimitEndsTheRunWithItsResults) {
    std::vector<std::string> args = restartArgs(10, "1");
    args[4] = "20000";  // --mstop
    args.insert(args.end(), {"--seed", "5"});
    const NetRun run = testsupport::runNet(queueProgram(10), kEmptyMarking, args);
    ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    EXPECT_NE(run.result.out.find("\nABORT SIMULATION. REACHED MAXIMUM MODEL TIME.\n"), std::string::npos)
        << run.result.out;
    EXPECT_NE(run.resultsLog.find("SIMULATION TIME: 2e+04\n"), std::string::npos) << run.resultsLog;
    EXPECT_NE(run.resultsLog.find("Measure Rare: Has not reached predefined accuracy!"), std::string::npos);
    EXPECT_EQ(intervals(run.resultsLog, "Rare", false).size(), 1u) << run.resultsLog;
}

TEST(RestartProgram, WorkflowWithoutImportanceFunctionEndsBeforeAnyEvent) {
    ScratchDir dir("restart-workflow");
    const NetRun run = testsupport::runNetProgram(
        dir, SIM_WORKFLOW_PROGRAM, testsupport::readFile(std::string(SIM_SOURCE_DIR) + "/model/marking.xml"),
        {"-R", "--mstart", "0", "--mstop", "100", "--thrmin", "1", "--thrmax", "5", "--thrnumber", "3", "--repeats",
         "2"});
    EXPECT_EQ(run.result.status, 1);
    EXPECT_NE(run.result.out.find("\nRESTART simulation starts.\n"), std::string::npos) << run.result.out;
    EXPECT_NE(run.result.out.find("\nError: no Importance Function ('ImportanceFunction') measure was defined!\n"),
              std::string::npos)
        << run.result.out;
    EXPECT_EQ(run.result.out.find("Global fire count"), std::string::npos);
    EXPECT_FALSE(dir.exists("results.log"));
}

// Parameters that would divide by zero or weigh paths by infinity.
TEST(RestartProgram, UnusableParametersAreRefused) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--thrmin", "1", "--thrmax", "10", "--thrnumber", "2"}, "--repeats"},
        {{"--thrmin", "1", "--thrmax", "10", "--thrnumber", "2", "--repeats", "0"}, "--repeats"},
        {{"--thrmin", "5", "--thrmax", "5", "--thrnumber", "2", "--repeats", "2"}, "--thrmax"},
        {{"--thrmin", "1", "--thrmax", "10", "--thrnumber", "-1", "--repeats", "2"}, "--thrnumber"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-R", "--mstart", "0", "--mstop", "100"};
        args.insert(args.end(), c.first.begin(), c.first.end());
        const NetRun run = testsupport::runNet(queueProgram(10), kEmptyMarking, args);
        EXPECT_EQ(run.result.status, 1) << c.second;
        EXPECT_NE(run.result.out.find("Error: "), std::string::npos) << run.result.out;
        EXPECT_NE(run.result.out.find(c.second), std::string::npos) << run.result.out;
    }
}
