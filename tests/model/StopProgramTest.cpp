// How runs end early, through the whole program: stop signals, the
// wall-clock limit inside a transient replication, and "results.log" or the
// log files on a disk that takes no more (a file size limit stands in for a
// full disk).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::ChildProgram;
using testsupport::ProgramResult;
using testsupport::ScratchDir;

namespace {

const char* const kOnOffMarking = "<m><token place=\"On\" value=\"0\"/></m>\n";

std::string onoff() { return std::string(SIM_TEST_NET_DIR) + "/onoff"; }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A directory with the marking and an empty ODBC configuration, so that the
// database is out of reach at once.
struct RunDir {
    ScratchDir dir{"stop"};
    RunDir() {
        dir.write("marking.xml", kOnOffMarking);
        dir.write("odbc.ini", "");
        setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
        setenv("ODBCSYSINI", dir.path().c_str(), 1);
    }
};

// Runs that only a signal ends: no model-time or wall-clock limit, and a
// precision no run reaches.
const std::vector<std::string> kEndlessStationary = {"-S", "--mstart", "0", "--mstop", "0", "--secmax", "0",
                                                     "--epsmax", "1e-9", "--seed", "3"};
const std::vector<std::string> kEndlessTransient = {"-T", "--mstart", "0", "--mstop", "5", "--nofsampling", "3",
                                                    "--secmax", "0", "--epsmax", "1e-9", "--seed", "3"};

ProgramResult stopWith(const RunDir& run, const std::vector<std::string>& args, int signal) {
    ChildProgram child(onoff(), args, run.dir.path());
    EXPECT_TRUE(child.waitForOutput("Running ", 60));
    child.signal(signal);
    return child.wait(60);
}

} // namespace

TEST(StopProgram, ASignalEndsTheRunWithTheResultsSoFar) {
    struct Case {
        std::vector<std::string> args;
        int signal;
        const char* title;
    };
    for (const Case& c : {Case{kEndlessStationary, SIGTERM, "RESULTS OF STATIONARY SIMULATION"},
                          Case{kEndlessTransient, SIGINT, "RESULTS OF TRANSIENT SIMULATION"},
                          Case{kEndlessStationary, SIGHUP, "RESULTS OF STATIONARY SIMULATION"}}) {
        SCOPED_TRACE(c.signal);
        RunDir run;
        ProgramResult r = stopWith(run, c.args, c.signal);
        const std::string stopped = "ABORTED SIMULATION. STOPPED BY SIGNAL " + std::to_string(c.signal) + ".";
        EXPECT_EQ(r.status, 128 + c.signal) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "\n" + stopped + "\n\n")) << r.out;
        EXPECT_TRUE(contains(r.out, std::string(c.title) + "\n" + stopped + "\nSIMULATION TIME: ")) << r.out;
        EXPECT_TRUE(contains(r.out, "Measure: OnFraction")) << r.out;
        // The normal end: engine and log closed, the summary printed.
        EXPECT_TRUE(contains(r.out, "Global fire count: ")) << r.out;
        const std::string log = run.dir.read("results.log");
        EXPECT_EQ(log.rfind(std::string(c.title) + "\n" + stopped + "\nSIMULATION TIME: ", 0), 0u) << log;
        EXPECT_TRUE(contains(log, "Measure: OnFraction")) << log;
    }
}

TEST(StopProgram, ProfilingStopsBetweenEvents) {
    RunDir run;
    ProgramResult r = stopWith(run, {"-p", "--fcount", "2000000000", "--lcount", "3", "--seed", "3"}, SIGTERM);
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "0. loop in ")) << r.out;
    EXPECT_FALSE(contains(r.out, "1. loop in ")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nABORTED SIMULATION. STOPPED BY SIGNAL 15.\n")) << r.out;
}

// The limit is checked before every event: a replication far longer than
// the limit ends with it, and is not counted.
TEST(StopProgram, WallClockLimitEndsAReplicationInTheMiddle) {
    RunDir run;
    ChildProgram child(onoff(), {"-T", "--mstart", "0", "--mstop", "1e9", "--nofsampling", "11", "--secmax", "1", "--seed", "4"},
                       run.dir.path());
    ProgramResult r = child.wait(60);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "WARNING NO ANALYSIS DONE")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.")) << r.out;
    const std::string log = run.dir.read("results.log");
    EXPECT_EQ(log.rfind("RESULTS OF TRANSIENT SIMULATION\nSIMULATION TIME: ", 0), 0u) << log;
    // No row of the unfinished replication.
    EXPECT_FALSE(contains(log, "\t0\t")) << log;
}

TEST(StopProgram, AResultFileThatCannotBeWrittenLeavesTheOldOneAndFails) {
    RunDir run;
    run.dir.write("results.log", "previous results\n");
    ChildProgram::Options tiny;
    tiny.fileSizeLimit = 64;
    ChildProgram child(onoff(), {"-S", "--mstart", "0", "--mstop", "20", "--secmax", "60", "--seed", "5"},
                       run.dir.path(), tiny);
    ProgramResult r = child.wait(60);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "Could not write the result file \"results.log\" (File too large).")) << r.err;
    EXPECT_TRUE(contains(r.out, "RESULTS OF STATIONARY SIMULATION\nSIMULATION TIME: ")) << r.out;
    EXPECT_TRUE(contains(r.out, "Measure: OnFraction")) << r.out;
    EXPECT_EQ(run.dir.read("results.log"), "previous results\n");
    for (const auto& entry : std::filesystem::directory_iterator(run.dir.path()))
        EXPECT_EQ(entry.path().filename().string().find("results.log."), std::string::npos) << entry.path();
}

TEST(StopProgram, LogFilesThatCannotBeWrittenAreReportedAndTheResultsKept) {
    RunDir run;
    std::filesystem::create_directory(run.dir.file("Log"));
    ChildProgram::Options limited;
    limited.fileSizeLimit = 20000;
    ChildProgram child(onoff(), {"-l", "-S", "--mstart", "0", "--mstop", "200", "--secmax", "60", "--seed", "5"},
                       run.dir.path(), limited);
    ProgramResult r = child.wait(60);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, "Could not write the log file \"Log/sim.log\"")) << r.err;
    EXPECT_TRUE(contains(r.err, "; it is incomplete.")) << r.err;
    const std::string log = run.dir.read("results.log");
    EXPECT_EQ(log.rfind("RESULTS OF STATIONARY SIMULATION\n", 0), 0u) << log;
    EXPECT_TRUE(contains(log, "Measure: OnFraction")) << log;
}
