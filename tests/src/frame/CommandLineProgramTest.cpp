#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::ProgramResult;
using testsupport::ScratchDir;

namespace {

const std::string program = SIM_WORKFLOW_PROGRAM;

// The program builds its net in every mode that gets past the checks, and the
// net reads "marking.xml": an empty marking keeps those runs short.
const char* const kEmptyMarking = "<marking/>\n";

ProgramResult run(const std::vector<std::string>& args, const std::string& argv0 = "") {
    ScratchDir dir("cmdline");
    dir.write("marking.xml", kEmptyMarking);
    return testsupport::runProgram(program, args, dir.path(), argv0);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Blanks, tabs and line ends folded to one blank, so that texts wrapped by
// the usage printer can be searched.
std::string folded(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (!blank) {
            out += c;
        } else if (out.empty() || out.back() != ' ') {
            out += ' ';
        }
    }
    return out;
}

bool isDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// `line` is `prefix` followed by a non-negative integer.
bool isCounterLine(const std::string& line, const std::string& prefix) {
    return line.compare(0, prefix.size(), prefix) == 0 && isDigits(line.substr(prefix.size()));
}

// "hh:mm:ss@mm/dd/yyyy"
bool isDateText(const std::string& text) {
    const std::string pattern = "dd:dd:dd@dd/dd/dddd";
    if (text.size() != pattern.size()) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) return false;
    }
    return true;
}

// Copies the program to `relPath` inside `dir`, keeping it executable.
std::string copyProgram(const ScratchDir& dir, const std::string& relPath) {
    const std::filesystem::path target = dir.file(relPath);
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(program, target);
    std::filesystem::permissions(target, std::filesystem::perms::owner_all);
    return target.string();
}

const char* const namedFailureForm = "PARSE ERROR:";

} // namespace

TEST(CommandLineProgram, HelpListsEveryOption) {
    ProgramResult r = run({"--help"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string help = folded(r.out);
    EXPECT_TRUE(contains(help, "RIRA Simulation"));
    const std::vector<std::string> texts = {
        "-t", "--tokengame", "Tokengame mode",
        "-S", "--stat_simulation", "Stationary Simulation mode",
        "-T", "--trans_simulation", "Transient Simulation mode",
        "-R", "--restart_simulation", "RESTART Simulation mode",
        "-p", "--performance", "Profiling mode",
        "--resport", "Result port", "NULL or xxx.xxx.xxx.xxx (IP)",
        "--start", "--stop", "hh:mm:ss@mm/dd/yyyy", "Start time", "Stop time",
        "--mstart", "Value >= 0", "--mstop",
        "--fcount", "Number of transitions to fire before stop.",
        "--lcount", "How many times to repeat each profiling run.",
        "-l", "--log", "Enable logging",
        "--logdir", "Directory for logging output.", "Path to directory",
        "--seed", "Random seed",
        "--confidence", "Confidence Interval.", "80.0 <= double <= 99.8",
        "--epsmax", "Max. relative fault.", "1.0 < double < 100.0",
        "--secmax", "Max. runtime in seconds.", "integer>0",
        "--nofsampling", "Number of sampling points.",
        "--percentage", "Per cent rule on or off.", "true-on or false-off",
        "--inittrans", "Ignore InitTrans on or off.",
        "--thrmin", "Thresholds min value", "--thrmax", "Thresholds max value",
        "--thrnumber", "Thresholds number",
        "--repeats", "Number of RESTART repeats",
        "--version", "--help"};
    for (const auto& text : texts) EXPECT_TRUE(contains(help, text)) << text;

    ProgramResult v = run({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_TRUE(contains(v.out, "version: none"));
}

TEST(CommandLineProgram, ExactlyOneModeSwitch) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--mstart", "0", "--mstop", "10"},
             {"-S", "-T", "--mstart", "0", "--mstop", "10"},
             {"-t", "-p", "--mstart", "0", "--fcount", "1", "--lcount", "1"}}) {
        ProgramResult r = run(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_TRUE(contains(r.err, "PARSE ERROR")) << r.err;
        EXPECT_FALSE(contains(r.out, "Running")) << r.out;
    }
}

TEST(CommandLineProgram, BadValuesEndInParseError) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-p", "--fcount", "abc", "--lcount", "1"},
             {"-p", "--fcount", "99999999999", "--lcount", "1"},
             {"-S", "--mstart", "0", "--mstop", "1", "--seed", "4294967296"},
             {"-S", "--mstart", "0", "--mstop", "1", "--percentage", "maybe"},
             {"-S", "--mstart", "0", "--mstop", "1", "--unknown"},
             {"-S", "--mstart"},
             // Negative or empty values of unsigned options, which the
             // library's own reading takes as 4294967295 or the default.
             {"-S", "--mstart", "0", "--mstop", "1", "--secmax", "-1"},
             {"-S", "--mstart", "0", "--mstop", "1", "--seed", "-1"},
             {"-T", "--mstart", "0", "--mstop", "1", "--nofsampling", "-1"},
             {"-S", "--mstart", "0", "--mstop", "1", "--secmax", ""},
             {"-S", "--mstart", "0", "--mstop", "1", "--seed", " "},
             {"-S", "--mstart", "0", "--mstop", "", "--secmax", "1"},
             {"-p", "--fcount", "", "--lcount", "1"},
             {"-S", "--mstart", "0", "--mstop", "1", "--confidence", "95x"},
             {"-T", "--mstart", "0", "--mstop", "1", "--nofsampling", "4294967296"}}) {
        ProgramResult r = run(args);
        EXPECT_EQ(r.status, 1) << folded(r.err);
        EXPECT_TRUE(contains(r.err, "PARSE ERROR")) << r.err;
        EXPECT_FALSE(contains(r.out, "Running")) << r.out;
    }
}

TEST(CommandLineProgram, BoolOptionsTakeWordsOrDigits) {
    for (const std::string value : {"true", "false", "1", "0"}) {
        ProgramResult r = run({"-S", "--mstart", "0", "--mstop", "1", "--percentage", value,
                               "--inittrans", value});
        EXPECT_EQ(r.status, 0) << value << ": " << r.err;
    }
}

struct TimeCase {
    std::vector<std::string> args;
    int status;
    std::string expected;  // in standard output for status 0, else in either stream
};

TEST(CommandLineProgram, TimeWindowChecks) {
    const std::string early = "12:00:00@01/01/2000";
    const std::string late = "12:00:00@01/02/2000";
    const std::vector<TimeCase> cases = {
        {{"-S", "--mstart", "10", "--mstop", "10"}, 0, "Running simulation from "},
        {{"-T", "--mstart", "10", "--mstop", "10"}, 1, "Stop time < Start time."},
        {{"-S", "--mstart", "10", "--mstop", "9"}, 1, "Stop time < Start time."},
        // Accepted by the command line; the workflow net then has no
        // importance function for the run.
        {{"-R", "--mstart", "10", "--mstop", "5"}, 1, "Running simulation from "},
        {{"-S", "--start", late, "--stop", early}, 0, "Running simulation from "},
        {{"-T", "--start", late, "--stop", early}, 1,
         "Stop time of simulation must be after the start time."},
        {{"-T", "--start", early, "--stop", late}, 0, "Running simulation from "},
        // "-t" with only a start time is accepted: the token game's tests
        // play it (it waits for a front end on port 2020).
        {{"-t"}, 1, "Missing argument starttime."},
        {{"-S", "--mstart", "-1", "--mstop", "10"}, 1, "Start time < 0.0"},
        {{"-S", "--start", "12:00:00@01/01/2039", "--stop", late}, 1,
         "Format of start time invalid."},
        {{"-S", "--start", early, "--stop", "12:00:00-01/02/2000"}, 1,
         "Format of stoptime invalid."},
        {{"-R", "--mstart", "1"}, 1, "Missing argument stop."},
        // A date text wins over seconds.
        {{"-S", "--start", "bad", "--mstart", "1", "--mstop", "2"}, 1,
         "Format of start time invalid."},
        {{"-T", "--mstart", "0", "--mstop", "10", "--nofsampling", "0"}, 1,
         "Number of sampling points must be > 0."},
        {{"-S", "--mstart", "0", "--mstop", "10", "--nofsampling", "0"}, 0,
         "Running simulation from "},
        // More sampling points than a run can hold.
        {{"-T", "--mstart", "0", "--mstop", "10", "--nofsampling", "2147483648"}, 1,
         "Number of sampling points must be <= 1000000."},
        {{"-T", "--mstart", "0", "--mstop", "10", "--nofsampling", "1000001"}, 1,
         "Number of sampling points must be <= 1000000."},
        // Confidence levels without a column in the quantile table.
        {{"-S", "--mstart", "0", "--mstop", "10", "--confidence", "79.9"}, 1,
         "Confidence must be >= 80.0 and <= 99.8."},
        {{"-T", "--mstart", "0", "--mstop", "10", "--confidence", "99.81"}, 1,
         "Confidence must be >= 80.0 and <= 99.8."},
        {{"-S", "--mstart", "0", "--mstop", "10", "--confidence", "-95"}, 1,
         "Confidence must be >= 80.0 and <= 99.8."},
        {{"-S", "--mstart", "0", "--mstop", "10", "--confidence", "80"}, 0, "Running simulation from "},
        {{"-T", "--mstart", "0", "--mstop", "10", "--confidence", "99.8", "--secmax", "1"}, 0,
         "Running simulation from "},
    };
    for (const auto& c : cases) {
        ProgramResult r = run(c.args);
        std::string label;
        for (const auto& a : c.args) label += a + " ";
        EXPECT_EQ(r.status, c.status) << label << "\n" << r.out << r.err;
        if (c.status == 0) {
            EXPECT_TRUE(contains(r.out, c.expected)) << label << "\n" << r.out;
        } else {
            EXPECT_TRUE(contains(r.out + r.err, c.expected)) << label << "\n" << r.out << r.err;
        }
    }
}

TEST(CommandLineProgram, NamedFailuresUseTheParseErrorFormBeforeAnyRun) {
    ProgramResult r = run({"-T", "--mstart", "10", "--mstop", "10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, namedFailureForm)) << r.err;
    EXPECT_TRUE(contains(r.err, "Stop time < Start time.")) << r.err;
    EXPECT_TRUE(contains(r.err, "USAGE")) << r.err;
    EXPECT_FALSE(contains(r.out, "Running")) << r.out;
    EXPECT_FALSE(contains(r.out, "total simulation time")) << r.out;

    // The late check of the transient window comes after the announcement.
    ProgramResult late = run({"-T", "--start", "12:00:00@01/01/2000", "--stop",
                              "12:00:00@01/01/2000"});
    EXPECT_EQ(late.status, 1);
    EXPECT_TRUE(contains(late.out, "Running simulation from 12:00:00@01/01/2000 to "
                                   "12:00:00@01/01/2000 :: displayaddress=NULL\n"
                                   "Stop time of simulation must be after the start time.\n"))
        << late.out;
}

TEST(CommandLineProgram, Profiling) {
    ProgramResult noFire = run({"-p", "--lcount", "2"});
    EXPECT_EQ(noFire.status, 1);
    EXPECT_TRUE(contains(noFire.err, "Missing argument firecount.")) << noFire.err;
    EXPECT_FALSE(contains(noFire.out, "Running")) << noFire.out;

    ProgramResult noLoop = run({"-p", "--fcount", "2"});
    EXPECT_EQ(noLoop.status, 1);
    EXPECT_TRUE(contains(noLoop.err, "Missing argument loopcount.")) << noLoop.err;

    // No start time is needed for profiling.
    ProgramResult ok = run({"-p", "--fcount", "5", "--lcount", "3"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_TRUE(contains(ok.out, "Running in profiling mode 5*3\n")) << ok.out;
}

TEST(CommandLineProgram, SeedWords) {
    ProgramResult r = run({"-S", "--mstart", "0", "--mstop", "1", "--seed", "4294967295"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out,
                         "Random seed set to 4294967295\n"
                         "Setting individual seed number 0 to 1023\n"
                         "Setting individual seed number 1 to 1023\n"
                         "Setting individual seed number 2 to 4095\n"
                         "Setting individual seed number 3 to 1023\n"
                         "Setting individual seed number 4 to 1023\n"
                         "Setting individual seed number 5 to 4095\n"
                         "Was the seed accepted? true\n"))
        << r.out;

    ProgramResult mixed = run({"-S", "--mstart", "0", "--mstop", "1", "--seed", "305419896"});
    // 0x12345678: 0x048, 0x345, 0x678
    EXPECT_TRUE(contains(mixed.out, "Setting individual seed number 0 to 72\n"
                                    "Setting individual seed number 1 to 837\n"
                                    "Setting individual seed number 2 to 1656\n"))
        << mixed.out;

    ProgramResult zero = run({"-S", "--mstart", "0", "--mstop", "1", "--seed", "0"});
    EXPECT_EQ(zero.status, 0) << zero.err;
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(contains(zero.out, "Setting individual seed number " + std::to_string(i) +
                                           " to 0\n"));
    }
    EXPECT_TRUE(contains(zero.err, "ERROR: First 3 seeds = 0.")) << zero.err;
    EXPECT_TRUE(contains(zero.out, "Was the seed accepted? false\n")) << zero.out;
    EXPECT_TRUE(contains(zero.out, "Running simulation from ")) << zero.out;
}

TEST(CommandLineProgram, NetNameFromProgramPath) {
    ScratchDir dir("netname");
    dir.write("marking.xml", kEmptyMarking);
    const std::vector<std::string> args = {"-p", "--fcount", "1", "--lcount", "1"};
    struct Case {
        std::string file;   // copy of the program inside the scratch dir, or empty
        std::string argv0;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"sim", "./sim", "sim"},
        {"sim.exe", "sim.exe", "sim.exe"},
        {"dir.old/sim", "dir.old/sim", "sim"},
        {"", "C:\\models\\net.exe", "net"},
        {"", "/opt/a.b/c\\d.e.f", "d.e"},
    };
    for (const auto& c : cases) {
        const std::string exe = c.file.empty() ? program : copyProgram(dir, c.file);
        ProgramResult r = testsupport::runProgram(exe, args, dir.path(), c.argv0);
        EXPECT_EQ(r.status, 0) << c.argv0 << ": " << r.err;
        EXPECT_TRUE(contains(r.out, "\nnetname: " + c.name + "\n")) << c.argv0 << "\n" << r.out;
        EXPECT_TRUE(contains(r.out, "Simulation called with arguments\n" + c.argv0 +
                                        " -p --fcount 1 --lcount 1 \n"))
            << r.out;
    }
}

TEST(CommandLineProgram, LoggingSwitch) {
    ProgramResult off = run({"-p", "--fcount", "1", "--lcount", "1"});
    EXPECT_TRUE(contains(off.out, "\nlogging off\n")) << off.out;

    ScratchDir dir("logging");

    dir.write("marking.xml", kEmptyMarking);
    ProgramResult missing =
        testsupport::runProgram(program, {"-l", "--logdir", "missing", "-p", "--fcount", "1", "--lcount", "1"},
                                dir.path());
    EXPECT_EQ(missing.status, 0) << missing.err;
    EXPECT_TRUE(contains(missing.out,
                         "logging on (folder: missing)\n"
                         "missing/sim.log*********** sim: could not open!!\n"
                         "missing/trans.log*********** trans: could not open!!\n"
                         "missing/server.log*********** server: could not open!!\n"))
        << missing.out;
    EXPECT_TRUE(contains(missing.out, "Running in profiling mode 1*1\n")) << missing.out;

    std::filesystem::create_directory(dir.file("Log"));
    ProgramResult on = testsupport::runProgram(
        program, {"-l", "-S", "--mstart", "0", "--mstop", "1"}, dir.path());
    EXPECT_EQ(on.status, 0) << on.err;
    EXPECT_TRUE(contains(on.out, "logging on (folder: Log)\n")) << on.out;
    EXPECT_FALSE(contains(on.out, "could not open")) << on.out;
    EXPECT_TRUE(dir.exists("Log/sim.log"));
    EXPECT_TRUE(dir.exists("Log/trans.log"));
    EXPECT_TRUE(dir.exists("Log/server.log"));
    EXPECT_FALSE(dir.exists("Log/event.log"));
}

TEST(CommandLineProgram, FrameLinesAndSummary) {
    ProgramResult r = run({"-S", "--start", "08:30:00@03/07/2001", "--stop", "09:05:03@03/07/2001",
                           "--resport", "127.0.0.1:x"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 10u) << r.out;

    EXPECT_EQ(lines[0], "MainClass::main() beginning...");
    EXPECT_EQ(lines[1], "Simulation called with arguments");
    EXPECT_EQ(lines[2], program + " -S --start 08:30:00@03/07/2001 --stop 09:05:03@03/07/2001 "
                                  "--resport 127.0.0.1:x ");
    const std::string startPrefix = "starting simulation at ";
    EXPECT_EQ(lines[3].compare(0, startPrefix.size(), startPrefix), 0) << lines[3];
    EXPECT_TRUE(isDateText(lines[3].substr(std::min(lines[3].size(), startPrefix.size()))))
        << lines[3];
    EXPECT_EQ(lines[4], "netname: workflow");
    EXPECT_EQ(lines[5], "logging off");
    // The net is built (and the marking database asked) between the two lines.
    EXPECT_TRUE(contains(r.out, "\nResult port set to 127.0.0.1:x\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nRunning simulation from 08:30:00@03/07/2001 to "
                                "09:05:03@03/07/2001 :: displayaddress=127.0.0.1:x\n"))
        << r.out;
    EXPECT_LT(r.out.find("Result port set to"), r.out.find("Running simulation from"));

    const std::size_t n = lines.size();
    // The run takes well under a minute, so only the seconds field is non-zero.
    const std::string totalPrefix = "total simulation time: ";
    const std::string total = lines[n - 4];
    ASSERT_EQ(total.compare(0, totalPrefix.size(), totalPrefix), 0) << total;
    const std::string secs = total.substr(totalPrefix.size(), total.find(' ', totalPrefix.size()) -
                                                                  totalPrefix.size());
    ASSERT_TRUE(isDigits(secs)) << total;
    EXPECT_EQ(total, totalPrefix + secs + " seconds (0 days, 0 hours, 0 minutes, " + secs +
                         " seconds)");
    EXPECT_TRUE(isCounterLine(lines[n - 3], "Total # tokens allocated: ")) << lines[n - 3];
    EXPECT_TRUE(isCounterLine(lines[n - 2], "Max # tokens at the same time: ")) << lines[n - 2];
    EXPECT_TRUE(isCounterLine(lines[n - 1], "Global fire count: ")) << lines[n - 1];
}
