#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sockio.h"

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

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workdir)
    : ChildProgram(program, args, workdir, Options()) {}

ChildProgram::ChildProgram(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workdir, const Options& options) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
        if (chdir(workdir.c_str()) != 0) _exit(127);
        int in = open("/dev/null", O_RDONLY);
        dup2(out[1], 1);
        dup2(err[1], 2);
        dup2(in, 0);
        close(out[0]);
        close(err[0]);
        if (options.fileSizeLimit != 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = options.fileSizeLimit;
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    outFd = out[0];
    errFd = err[0];
}

ChildProgram::~ChildProgram() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (outFd >= 0) close(outFd);
    if (errFd >= 0) close(errFd);
}

bool ChildProgram::readAvailable(int timeoutMs) {
    struct pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) return false;
    char buf[65536];
    for (int i = 0; i < 2; ++i) {
        if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
        const ssize_t n = read(fds[i].fd, buf, sizeof buf);
        if (n > 0) (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
        if (n == 0) {
            close(fds[i].fd);
            (i == 0 ? outFd : errFd) = -1;
        }
    }
    return true;
}

namespace {
std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}
}  // namespace

bool ChildProgram::waitForOutput(const std::string& text, double seconds, std::size_t times) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (occurrences(result.out, text) < times) {
        if (outFd < 0 || std::chrono::steady_clock::now() > end) return false;
        readAvailable(50);
    }
    return true;
}

void ChildProgram::signal(int number) {
    if (pid > 0) kill(pid, number);
}

ProgramResult ChildProgram::wait(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    for (;;) {
        readAvailable(20);
        if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            break;
        }
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            pid = -1;
            result.status = -1;
            return result;
        }
    }
    // The rest of the output; a grandchild holding the pipes open must not
    // hold the test.
    while ((outFd >= 0 || errFd >= 0) && readAvailable(1000)) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ResultListener::ResultListener(std::size_t maxBytes)
    : listener(socket_t::create_global("127.0.0.1:0", 1)), limit(maxBytes) {
    thread = std::thread([this] { serve(); });
}

ResultListener::~ResultListener() {
    {
        // Wakes an accept that never got its connection, or a read on a
        // connection the simulator left open.
        std::lock_guard<std::mutex> guard(lock);
        if (!accepted) listener->cancel_accept();
        else if (!closed) connection->shutdown();
    }
    if (thread.joinable()) thread.join();
    listener->close();
}

std::string ResultListener::address() const { return "127.0.0.1:" + std::to_string(listener->get_port()); }

bool ResultListener::connected() const {
    std::lock_guard<std::mutex> guard(lock);
    return accepted;
}

void ResultListener::serve() {
    socket_t* peer = listener->accept();
    if (peer == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(lock);
        connection.reset(peer);
        accepted = true;
    }
    char buffer[65536];
    for (;;) {
        const int n = connection->read(buffer, 1, sizeof buffer, -1);
        if (n <= 0) break;
        std::lock_guard<std::mutex> guard(lock);
        const std::size_t room = limit - std::min(limit, bytes.size());
        bytes.append(buffer, std::min(room, static_cast<std::size_t>(n)));
    }
    connection->close();
    std::lock_guard<std::mutex> guard(lock);
    closed = true;
}

std::string ResultListener::received(double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (closed) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard<std::mutex> guard(lock);
    return bytes;
}

void compareWithGolden(const std::string& name, const std::string& actual) {
    const std::string path = std::string(SIM_SOURCE_DIR) + "/tests/golden/" + name;
    const char* update = std::getenv("SIM_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    const std::string expected = readFile(path);
    ASSERT_FALSE(expected.empty()) << "missing reference file " << path;
    EXPECT_EQ(actual, expected) << "differs from " << path;
}

} // namespace testsupport
