// Whole runs of the workflow program with fixed seeds, compared byte for byte
// with reference files in tests/golden: the console text (wall-clock lines
// left out) and results.log. To record new references on purpose, run the
// test with SIM_UPDATE_GOLDEN=1 and say in the commit why they changed.
#include <gtest/gtest.h>

#include <cstdlib>
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

std::string withoutWallClock(const std::string& text) {
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line))
        if (!isWallClockLine(line)) out += line + "\n";
    return out;
}

// Runs the workflow program as "workflow" on the bundled marking, with no
// marking database in reach (an empty ODBC configuration).
void runGolden(const std::string& name, const std::vector<std::string>& args) {
    ScratchDir dir("golden-" + name);
    dir.write("marking.xml", testsupport::readFile(std::string(SIM_SOURCE_DIR) + "/model/marking.xml"));
    dir.write("odbc.ini", "");
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    testsupport::ProgramResult r = testsupport::runProgram(SIM_WORKFLOW_PROGRAM, args, dir.path(), "workflow");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    testsupport::compareWithGolden(name + ".console.txt", withoutWallClock(r.out));
    if (dir.exists("results.log")) testsupport::compareWithGolden(name + ".results.log", dir.read("results.log"));
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
