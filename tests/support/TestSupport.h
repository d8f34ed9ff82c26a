#pragma once
// Small helpers shared by the tests: scratch directories, running the
// program, capturing standard output.
#include <string>
#include <utility>
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

// Environment variables set for a child program only.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs `program` with `args` in `workdir` (argv[0] is `argv0` when given,
// else the program path), with `env` added to its environment, and waits
// for it. Several threads may run programs at once.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workdir, const std::string& argv0 = "", const Environment& env = {});

// The whole text of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

} // namespace testsupport
