#pragma once
// Helpers of the socket tests: connected pairs, child processes, clocks and
// the shared-memory names a test leaves behind.
#include "sockio.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace sockettest {

using socket_ptr = std::unique_ptr<socket_t>;

// A name no other test process uses.
inline std::string unique_name(const char* what) {
    static std::atomic<int> counter{0};
    return std::string("saltest-") + what + "-" + std::to_string(getpid()) + "-"
           + std::to_string(++counter);
}

inline std::string error_text(socket_t& sock) {
    char text[256];
    sock.get_error_text(text, sizeof text);
    return text;
}

// Whether the last error is the platform's error `code`.
inline bool has_platform_error(socket_t& sock, int code) {
    char expected[256];
    sal::platform_error_text(code, expected, sizeof expected);
    return error_text(sock) == expected;
}

class stopwatch {
public:
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
private:
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// The entries of /dev/shm whose name contains `part`.
inline std::vector<std::string> shm_names_with(const std::string& part) {
    std::vector<std::string> names;
    if (DIR* dir = opendir("/dev/shm")) {
        while (dirent* entry = readdir(dir))
            if (std::strstr(entry->d_name, part.c_str()) != nullptr) names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

// Runs `body` in a child process, whose exit status is what it returns. An
// alarm ends a child that hangs, so that no test waits for ever.
template <class Body>
pid_t run_child(Body body) {
    pid_t child = fork();
    if (child == 0) {
        alarm(9);
        _exit(body());
    }
    return child;
}

// The exit status of a child, -1 when it did not exit normally.
inline int wait_child(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

struct socket_pair {
    socket_ptr listener, server, client;
};

// A TCP connection on a free port of this machine.
inline socket_pair tcp_pair() {
    socket_pair pair;
    pair.listener.reset(socket_t::create_global("localhost:0", 5));
    std::string address = "127.0.0.1:" + std::to_string(pair.listener->get_port());
    pair.client.reset(socket_t::connect(address.c_str(), sock_global_domain, 1, 0));
    pair.server.reset(pair.listener->accept());
    return pair;
}

// A shared-memory connection within this process: accept runs in a thread
// while the client connects.
inline socket_pair local_pair() {
    socket_pair pair;
    std::string name = unique_name("pair");
    pair.listener.reset(socket_t::create_local(name.c_str()));
    std::thread acceptor([&] { pair.server.reset(pair.listener->accept()); });
    pair.client.reset(socket_t::connect(name.c_str(), sock_local_domain, 5, 1));
    acceptor.join();
    return pair;
}

// A port of this machine where connections are refused: bound, not
// listening. Listening on it later makes connections succeed.
class refusing_port {
public:
    refusing_port() : handle(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(handle, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t length = sizeof local;
        getsockname(handle, reinterpret_cast<sockaddr*>(&local), &length);
        port = ntohs(local.sin_port);
    }
    ~refusing_port() { close(handle); }
    std::string address() const { return "127.0.0.1:" + std::to_string(port); }
    void start_listening() { listen(handle, 5); }
    int handle;
    int port = 0;
};

} // namespace sockettest
