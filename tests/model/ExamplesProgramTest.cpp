// The examples of examples/, built from their descriptions like any user's
// net, in short runs against the answers their READMEs give. (The workflow
// example is the program build/workflow, whose fixed-seed runs GoldenRun
// compares byte for byte.)
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "NetRuns.h"

using testsupport::NetRun;
using testsupport::ScratchDir;

namespace {

const std::string kExamples = std::string(SIM_SOURCE_DIR) + "/examples/";

NetRun runExample(const ScratchDir& dir, const std::string& name, const std::vector<std::string>& args) {
    return testsupport::runNetProgram(dir, std::string(SIM_EXAMPLE_DIR) + "/" + name,
                                      testsupport::readFile(kExamples + name + "/marking.xml"), args);
}

// Replications of a long window: the time averages over [0, 2000] estimate
// the steady state (the start from the initial marking fades within a few
// time units).
const std::vector<std::string> kSteadyStateArgs = {"-T",    "--mstart",     "0",  "--mstop",  "2000", "--nofsampling",
                                                   "11",    "--confidence", "95", "--epsmax", "5",    "--percentage",
                                                   "false", "--secmax",     "60", "--seed",   "12345"};

struct Answer {
    const char* measure;
    double exact;
};

// The estimate at the end of the window lies within `relative` of the exact
// answer, and its confidence interval, widened by half, covers it.
void expectAnswers(const NetRun& run, const std::vector<Answer>& answers, double relative) {
    ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    for (const Answer& a : answers) {
        std::vector<testsupport::Interval> rows = testsupport::intervals(run.resultsLog, a.measure, true);
        ASSERT_EQ(rows.size(), 11u) << a.measure << "\n" << run.resultsLog;
        const testsupport::Interval& end = rows.back();
        EXPECT_NEAR(end.mean, a.exact, relative * a.exact) << a.measure;
        const double half = (end.high - end.low) / 2;
        EXPECT_LE(end.low - half / 2, a.exact) << a.measure;
        EXPECT_GE(end.high + half / 2, a.exact) << a.measure;
    }
}

}  // namespace

// M/M/1/K with arrival rate 0.5, service rate 1, K = 5: p(n) = ρ^n (1 − ρ) / (1 − ρ^6).
TEST(Examples, MM1KQueueReproducesTheExactSteadyState) {
    ScratchDir dir("example-mm1k");
    expectAnswers(runExample(dir, "mm1k", kSteadyStateArgs),
                  {{"Customers", 0.904762}, {"Busy", 0.492063}, {"Full", 0.015873}}, 0.03);
}

// Coloured machines, guards with priorities, token-dependent delays: the
// Markov chain solved by examples/machine_repair/exact.py.
TEST(Examples, MachineRepairReproducesTheSolvedMarkovChain) {
    ScratchDir dir("example-machine-repair");
    expectAnswers(
        runExample(dir, "machine_repair", kSteadyStateArgs),
        {{"Availability", 0.799823}, {"Kind2Up", 0.693982}, {"RepairmanBusy", 0.448142}, {"Waiting", 0.152389}}, 0.03);
}

// The importance function is a measure like the others for a stationary run,
// which neither estimates nor writes it.
TEST(Examples, OverflowNetRunsWithItsImportanceFunction) {
    ScratchDir dir("example-overflow");
    NetRun run = runExample(dir, "overflow",
                            {"-S", "--mstart", "0", "--mstop", "20000", "--confidence", "95", "--epsmax", "5",
                             "--secmax", "60", "--seed", "12345"});
    ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    EXPECT_EQ(run.resultsLog.find("ImportanceFunction"), std::string::npos) << run.resultsLog;
    std::vector<testsupport::Interval> customers = testsupport::intervals(run.resultsLog, "Customers", false);
    ASSERT_EQ(customers.size(), 1u) << run.resultsLog;
    EXPECT_NEAR(customers[0].mean, 0.999756, 0.1);
    EXPECT_EQ(testsupport::intervals(run.resultsLog, "Overflow", false).size(), 1u);
}
