#pragma once
// Small helpers shared by the tests: scratch directories, running the
// program, capturing standard output.
#include <string>
#include <vector>

namespace testsupport {

// A fresh empty directory under the build tree, removed with the object.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }
    void write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
private:
    std::string dir;
};

struct ProgramResult {
    int status = -1;       // exit status, or -1 when the program did not exit normally
    std::string out;       // standard output
    std::string err;       // standard error
};

// Runs `program` with `args` in `workdir` (argv[0] is `argv0` when given,
// else the program path) and waits for it.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workdir, const std::string& argv0 = "");

// The whole text of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

// A run of a net program in `dir` on the initial marking `marking`, with the
// marking database out of reach (an empty ODBC configuration), so that every
// run sees the same data-source listing.
struct NetRun {
    ProgramResult result;
    std::string resultsLog;
};
NetRun runNetProgram(const ScratchDir& dir, const std::string& program, const std::string& marking,
                     const std::vector<std::string>& args);

// One row of a measure's block in results.log: the sampling time (0 for a
// stationary run), the mean and the confidence interval.
struct Interval {
    double time = 0, mean = 0, low = 0, high = 0;
};
// The rows of one measure's block: one for a stationary run, one per
// sampling point for a transient run.
std::vector<Interval> intervals(const std::string& log, const std::string& measure, bool transient);

} // namespace testsupport
