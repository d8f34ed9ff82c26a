#pragma once
// Runs of the test-net programs (tests/model/nets) in scratch directories,
// and the result rows of their results.log.
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"

namespace testsupport {

// A marking.xml with the given number of int tokens (value 0) per place.
std::string intMarking(const std::vector<std::pair<std::string, int>>& tokens);

struct NetRun {
    ProgramResult result;
    std::string resultsLog;
};

// Runs `program` in a fresh directory holding `marking`; the marking
// database is out of reach (an empty ODBC configuration), so every run sees
// the same data-source listing. Safe to call from several threads at once.
NetRun runNet(const std::string& program, const std::string& marking, const std::vector<std::string>& args);
// The same in `dir`, which the caller keeps to look at the other files the
// run wrote.
NetRun runNetProgram(const ScratchDir& dir, const std::string& program, const std::string& marking,
                     const std::vector<std::string>& args);

// The same run once per seed ("--seed" appended), `threads` at a time;
// the runs in the order of the seeds.
std::vector<NetRun> runNetSeeds(const std::string& program, const std::string& marking,
                                const std::vector<std::string>& args, const std::vector<unsigned>& seeds,
                                unsigned threads);

struct Interval {
    double time = 0, mean = 0, low = 0, high = 0;
    bool covers(double exact) const { return low <= exact + 1e-12 && exact - 1e-12 <= high; }
};

// The rows of one measure's block in results.log: one for a stationary run,
// one per sampling point for a transient run.
std::vector<Interval> intervals(const std::string& log, const std::string& measure, bool transient);

}  // namespace testsupport
