#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

ScratchDir::ScratchDir(const std::string& name) {
    std::string base = std::string(SIM_BINARY_DIR) + "/test-scratch";
    std::filesystem::create_directories(base);
    std::string pattern = base + "/" + name + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    dir = buf.data();
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

void ScratchDir::write(const std::string& name, const std::string& text) const {
    std::ofstream out(file(name), std::ios::binary);
    out << text;
}

std::string ScratchDir::read(const std::string& name) const { return readFile(file(name)); }

bool ScratchDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workdir, const std::string& argv0) {
    ProgramResult result;
    std::string outPath = workdir + "/.stdout";
    std::string errPath = workdir + "/.stderr";
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(workdir.c_str()) != 0) _exit(127);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) _exit(127);
        dup2(out, 1);
        dup2(err, 2);
        dup2(in, 0);
        std::vector<std::string> all;
        all.push_back(argv0.empty() ? program : argv0);
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return result;
}

NetRun runNetProgram(const ScratchDir& dir, const std::string& program, const std::string& marking,
                     const std::vector<std::string>& args) {
    dir.write("marking.xml", marking);
    dir.write("odbc.ini", "");
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    NetRun run;
    run.result = runProgram(program, args, dir.path());
    run.resultsLog = dir.read("results.log");
    return run;
}

std::vector<Interval> intervals(const std::string& log, const std::string& measure, bool transient) {
    std::vector<Interval> rows;
    std::size_t at = log.find("Measure: " + measure + "\n");
    if (at == std::string::npos) return rows;
    std::size_t end = log.find("Measure: ", at + 1);
    std::istringstream block(log.substr(at, end == std::string::npos ? std::string::npos : end - at));
    std::string line;
    const std::regex stationary(R"(^\t(\S+)\t(\S+)\t\[(\S+);(\S+)\]\t(\S+)$)");
    const std::regex pointRow(R"(^\t(\S+)\t(\S+)\t(\S+)\t\[(\S+);(\S+)\]\t(\S+)$)");
    std::smatch m;
    while (std::getline(block, line)) {
        Interval iv;
        if (transient && std::regex_match(line, m, pointRow)) {
            iv.time = std::stod(m[1]);
            iv.mean = std::stod(m[2]);
            iv.low = std::stod(m[4]);
            iv.high = std::stod(m[5]);
            rows.push_back(iv);
        } else if (!transient && std::regex_match(line, m, stationary)) {
            iv.mean = std::stod(m[1]);
            iv.low = std::stod(m[3]);
            iv.high = std::stod(m[4]);
            rows.push_back(iv);
        }
    }
    return rows;
}

} // namespace testsupport
