// Whole runs of the workflow program with fixed seeds, compared byte for byte
// with reference files in tests/golden: the console text (wall-clock lines
// left out, the listener's port replaced by PORT), results.log and, for the
// runs that send one, the result stream. To record new references on purpose, run the
// test with SIM_UPDATE_GOLDEN=1 and say in the commit why they changed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::ScratchDir;

namespace {

// Lines whose text depends on the wall clock.
bool isWallClockLine(const std::string& line) {
    static const char* const prefixes[] = {"starting simulation at ", "total simulation time: ",
                                           "remaining relative error "};
    for (const char* p : prefixes)
        if (line.rfind(p, 0) == 0) return true;
    return line.find(". loop in ") != std::string::npos;
}

// The console text without wall-clock lines; the result port, which is a free
// one chosen for each run, is written as PORT.
std::string comparableConsole(const std::string& text, const std::string& resultAddress) {
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line)) {
        if (isWallClockLine(line)) continue;
        std::size_t at = resultAddress.empty() ? std::string::npos : line.find(resultAddress);
        if (at != std::string::npos) line.replace(at, resultAddress.size(), "127.0.0.1:PORT");
        out += line + "\n";
    }
    return out;
}

// Runs the workflow program as "workflow" on the bundled marking, with no
// marking database in reach (an empty ODBC configuration).
// With `stream` set, the run sends its result stream to a listener of the
// test, and the stream is compared too.
void runGolden(const std::string& name, std::vector<std::string> args, bool stream = false) {
    ScratchDir dir("golden-" + name);
    dir.write("marking.xml", testsupport::readFile(std::string(SIM_SOURCE_DIR) + "/model/marking.xml"));
    dir.write("odbc.ini", "");
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    std::unique_ptr<testsupport::ResultListener> listener;
    if (stream) {
        listener = std::make_unique<testsupport::ResultListener>();
        args.push_back("--resport");
        args.push_back(listener->address());
    }
    testsupport::ProgramResult r = testsupport::runProgram(SIM_WORKFLOW_PROGRAM, args, dir.path(), "workflow");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    testsupport::compareWithGolden(name + ".console.txt",
                                   comparableConsole(r.out, listener ? listener->address() : std::string()));
    if (dir.exists("results.log")) testsupport::compareWithGolden(name + ".results.log", dir.read("results.log"));
    if (listener) testsupport::compareWithGolden(name + ".stream.txt", listener->received());
}

}  // namespace

TEST(GoldenRun, Stationary) {
    runGolden("stationary", {"-S", "--mstart", "0", "--mstop", "0", "--confidence", "95", "--epsmax", "5",
                             "--secmax", "600", "--seed", "12345"});
}

TEST(GoldenRun, Transient) {
    runGolden("transient", {"-T", "--mstart", "0", "--mstop", "20", "--nofsampling", "5", "--epsmax", "30",
                            "--confidence", "90", "--secmax", "600", "--seed", "777"});
}

TEST(GoldenRun, Profiling) {
    runGolden("profiling", {"-p", "--fcount", "20000", "--lcount", "2", "--seed", "4242"});
}

// Short runs, so that the stream (a line for every firing of a watched
// transition) stays a reference file of a reasonable size.
TEST(GoldenRun, StationaryStream) {
    runGolden("stationary-short", {"-S", "--mstart", "0", "--mstop", "0", "--confidence", "95", "--epsmax", "20",
                                   "--secmax", "600", "--seed", "12345"},
              true);
}

TEST(GoldenRun, TransientStream) {
    runGolden("transient-short", {"-T", "--mstart", "0", "--mstop", "1", "--nofsampling", "2", "--epsmax", "50",
                                  "--confidence", "90", "--secmax", "600", "--seed", "777"},
              true);
}
