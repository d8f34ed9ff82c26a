#pragma once
// Small helpers shared by the tests: scratch directories, running the
// program, capturing standard output.
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class socket_t;

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

// A program running in the background, with its standard output and error
// read through pipes (so that a file size limit of the child does not touch
// them). For tests that signal a running program or limit its resources.
class ChildProgram {
public:
    struct Options {
        // RLIMIT_FSIZE of the child in bytes (SIGXFSZ ignored, so that a
        // write beyond it fails with EFBIG); 0 for none.
        unsigned long fileSizeLimit = 0;
    };
    ChildProgram(const std::string& program, const std::vector<std::string>& args, const std::string& workdir,
                 const Options& options);
    ChildProgram(const std::string& program, const std::vector<std::string>& args, const std::string& workdir);
    // Kills a child that is still running.
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // Reads the output until standard output holds `text` (`times` times)
    // or the child ends; false after `seconds` without it.
    bool waitForOutput(const std::string& text, double seconds, std::size_t times = 1);
    // Standard output read so far.
    const std::string& outputSoFar() const { return result.out; }
    void signal(int number);
    // Waits for the end, at most `seconds` (then the child is killed and
    // the status is -1), reading all the output.
    ProgramResult wait(double seconds);

private:
    // Reads what the pipes have within `timeoutMs`; false when nothing came.
    bool readAvailable(int timeoutMs);
    int pid = -1;
    int outFd = -1;
    int errFd = -1;
    ProgramResult result;
};

// A front end's result port for one run: listens on 127.0.0.1 at a free
// port, accepts one connection and keeps every byte it receives until the
// simulator closes it (at most `limit` bytes; the rest is dropped).
class ResultListener {
public:
    explicit ResultListener(std::size_t limit = 16u << 20);
    ~ResultListener();
    ResultListener(const ResultListener&) = delete;
    ResultListener& operator=(const ResultListener&) = delete;

    // "127.0.0.1:<port>", the value for --resport.
    std::string address() const;
    // Waits until the connection is closed (or `seconds` passed) and
    // returns what arrived.
    std::string received(double seconds = 60);
    bool connected() const;

private:
    void serve();
    std::unique_ptr<socket_t> listener;
    std::unique_ptr<socket_t> connection;
    std::size_t limit;
    mutable std::mutex lock;
    std::string bytes;
    bool accepted = false;
    bool closed = false;
    std::thread thread;
};

// The whole text of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

// Compares `actual` byte for byte with the reference file tests/golden/<name>
// (a test failure when they differ); with SIM_UPDATE_GOLDEN=1 in the
// environment it writes the file instead.
void compareWithGolden(const std::string& name, const std::string& actual);

} // namespace testsupport
