#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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
                         const std::string& workdir, const std::string& argv0, const Environment& env) {
    ProgramResult result;
    std::string outPath = workdir + "/.stdout";
    std::string errPath = workdir + "/.stderr";
    pid_t pid = fork();
    if (pid == 0) {
        for (const auto& var : env)
            if (setenv(var.first.c_str(), var.second.c_str(), 1) != 0) _exit(127);
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

} // namespace testsupport
