// The result stream of whole runs of the workflow program, received by a
// front end's port on 127.0.0.1: the start-up lines, the estimates at the
// sampling points, the fire counts of watched transitions, the end line, and
// runs that are the same with and without a front end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "TestSupport.h"

using testsupport::ProgramResult;
using testsupport::ResultListener;
using testsupport::ScratchDir;

namespace {

struct StreamRun {
    ProgramResult result;
    std::string resultsLog;
    std::string stream;
};

// Runs the workflow program on the bundled marking, without the marking
// database; with `listener` the run sends its stream there.
StreamRun runWorkflow(std::vector<std::string> args, ResultListener* listener) {
    ScratchDir dir("stream");
    dir.write("marking.xml", testsupport::readFile(std::string(SIM_SOURCE_DIR) + "/model/marking.xml"));
    dir.write("odbc.ini", "");
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    if (listener != nullptr) {
        args.push_back("--resport");
        args.push_back(listener->address());
    }
    StreamRun run;
    run.result = testsupport::runProgram(SIM_WORKFLOW_PROGRAM, args, dir.path(), "workflow");
    run.resultsLog = dir.read("results.log");
    if (listener != nullptr) run.stream = listener->received();
    return run;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

// The console without the lines that name the result port or depend on
// the wall clock.
std::string comparableConsole(const std::string& out) {
    std::string kept;
    for (const std::string& line : lines(out)) {
        if (line.rfind("Result port set to ", 0) == 0 || line.rfind("Try to connect to: ", 0) == 0 ||
            line == "connection established.." || line.rfind("Running ", 0) == 0 ||
            line.rfind("starting simulation at ", 0) == 0 || line.rfind("total simulation time: ", 0) == 0 ||
            line.rfind("workflow ", 0) == 0 ||
            line.rfind("remaining relative error ", 0) == 0)
            continue;
        kept += line + "\n";
    }
    return kept;
}

const std::vector<std::string> kTransient = {"-T", "--mstart", "0", "--mstop", "4", "--nofsampling", "3",
                                             "--epsmax", "40", "--confidence", "90", "--secmax", "600",
                                             "--seed", "31"};
const std::vector<std::string> kStationary = {"-S", "--mstart", "0", "--mstop", "0", "--epsmax", "5",
                                              "--confidence", "95", "--secmax", "600", "--seed", "12345"};

const std::regex kEstimate(R"(^([A-Za-z0-9_]+)<Result:Mean>,<-ConfMin>,<\+ConfMax>;([^,]+),([^,]+),([^,]+)$)");
const std::regex kFireCount(R"(^([A-Za-z0-9_]+)<Transition>;([0-9]+)$)");

} // namespace

TEST(ResultStream, TransientRunSendsStartUpEstimatesFromTheSeventhReplicationAndExit) {
    ResultListener listener;
    StreamRun run = runWorkflow(kTransient, &listener);
    ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    EXPECT_NE(run.result.out.find("connection established..\n"), std::string::npos);
    const std::string head = "NETNAME;workflow\nXTICKFORMAT;0\nSTARTTIME;0\nENDTIME;4\nTIME;0\n";
    ASSERT_EQ(run.stream.substr(0, head.size()), head);
    ASSERT_GE(run.stream.size(), 7u);
    EXPECT_EQ(run.stream.substr(run.stream.size() - 7), "EXIT;0\n");

    // Every estimate comes at a sampling point (0, 2 or 4), right after its
    // TIME line; a measure's estimates come in whole replications.
    std::vector<std::string> all = lines(run.stream);
    std::map<std::string, int> estimates;
    for (std::size_t i = 1; i < all.size(); ++i) {
        std::smatch m;
        if (!std::regex_match(all[i], m, kEstimate)) continue;
        const std::string time = all[i - 1];
        EXPECT_TRUE(time == "TIME;0" || time == "TIME;2" || time == "TIME;4") << time;
        EXPECT_LE(std::stod(m[3]), std::stod(m[2]));
        EXPECT_LE(std::stod(m[2]), std::stod(m[4]));
        ++estimates[m[1]];
    }
    ASSERT_FALSE(estimates.empty());
    for (const auto& e : estimates) EXPECT_EQ(e.second % 3, 0) << e.first;
    // The accumulative measures are estimated too in a transient run.
    EXPECT_EQ(estimates.count("AReady"), 1u);
}

TEST(ResultStream, StationaryRunSendsEstimatesFromTheFifthSamplingPointOnly) {
    ResultListener listener;
    StreamRun run = runWorkflow(kStationary, &listener);
    ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    ASSERT_EQ(run.stream.substr(0, 31), "NETNAME;workflow\nXTICKFORMAT;0\n");
    std::vector<std::string> all = lines(run.stream);
    ASSERT_GE(all.size(), 4u);
    EXPECT_EQ(all[2], "TIME;0");
    EXPECT_EQ(all.back(), "EXIT;0");

    // Fire counts of watched transitions count up by one per firing; the
    // estimate of C1_in_use, the one time-average measure of the net and the
    // only one a stationary run estimates, follows a TIME line.
    std::map<std::string, long> fireCounts;
    int c1Estimates = 0, timeOnly = 0;
    for (std::size_t i = 3; i + 1 < all.size(); ++i) {
        std::smatch m;
        if (std::regex_match(all[i], m, kFireCount)) {
            EXPECT_EQ(std::stol(m[2]), ++fireCounts[m[1]]) << all[i];
        } else if (std::regex_match(all[i], m, kEstimate)) {
            EXPECT_EQ(m[1], "C1_in_use");
            ++c1Estimates;
        } else if (all[i].rfind("TIME;", 0) == 0) {
            if (all[i + 1].rfind("TIME;", 0) == 0 || all[i + 1] == "EXIT;0") ++timeOnly;
        } else {
            ADD_FAILURE() << "unexpected line " << all[i];
        }
    }
    for (const char* watched : {"S_ready", "P_In_ready", "S1_ready", "S2_ready", "S3_ready"})
        EXPECT_GT(fireCounts[watched], 0) << watched;
    EXPECT_EQ(fireCounts.size(), 5u);
    ASSERT_GT(c1Estimates, 0);
    EXPECT_EQ(timeOnly, 0);
}

TEST(ResultStream, RunIsTheSameWithAndWithoutAFrontEnd) {
    ResultListener listener;
    StreamRun with = runWorkflow(kTransient, &listener);
    StreamRun without = runWorkflow(kTransient, nullptr);
    ASSERT_EQ(with.result.status, 0);
    ASSERT_EQ(without.result.status, 0);
    EXPECT_EQ(with.resultsLog, without.resultsLog);
    EXPECT_EQ(comparableConsole(with.result.out), comparableConsole(without.result.out));
    EXPECT_EQ(without.result.out.find("Try to connect"), std::string::npos);
}

TEST(ResultStream, ProfilingRunEndsItsStreamToo) {
    ResultListener listener;
    StreamRun run = runWorkflow({"-p", "--fcount", "2000", "--lcount", "1", "--seed", "3"}, &listener);
    ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    // Profiling starts at the default time (a date), so the axis is a date.
    EXPECT_EQ(run.stream.substr(0, 36), "NETNAME;workflow\nXTICKFORMAT;3\nTIME;");
    ASSERT_GE(run.stream.size(), 7u);
    EXPECT_EQ(run.stream.substr(run.stream.size() - 7), "EXIT;0\n");
}

TEST(ResultStream, UnreachableFrontEndIsReportedAndTheRunGoesOn) {
    // The connection fails at once (an address without a port number); the
    // run goes on without a front end.
    StreamRun run = runWorkflow({"-S", "--mstart", "0", "--mstop", "0", "--epsmax", "20", "--secmax", "600",
                                 "--seed", "1", "--resport", "127.0.0.1:notaport"},
                                nullptr);
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_NE(run.result.out.find("Sim::init Connection to server 127.0.0.1:notaport failed: bad address\n"),
              std::string::npos);
    EXPECT_NE(run.resultsLog.find("RESULTS OF STATIONARY SIMULATION"), std::string::npos);
}

TEST(ResultStream, FrontEndThatStopsReadingDoesNotHoldTheRun) {
    // A front end that accepts and never reads: the socket buffers fill, a
    // message waits at most its write time limit, the stream is given up
    // and the run ends with its complete results.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    socklen_t len = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));

    // About 2·10^6 events, some 12 MB of fire counts: more than the socket
    // buffers hold.
    StreamRun run = runWorkflow({"-S", "--mstart", "0", "--mstop", "50000", "--epsmax", "0.001", "--percentage",
                                 "false", "--secmax", "600", "--seed", "3", "--resport", address},
                                nullptr);
    ::close(fd);
    ASSERT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_NE(run.result.out.find("ABORTED SIMULATION. REACHED MAXIMUM MODEL TIME."), std::string::npos);
    EXPECT_NE(run.resultsLog.find("Measure: C1_in_use\n"), std::string::npos);
}
