#include "w32sock.h"

#include "deadline.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

namespace {

// The layer's one assertion, in the format of the kernel's assertions.
[[noreturn]] void assertion_failed(const char* expression, const char* source, int line) {
    std::cout.flush();
    std::fflush(stdout);
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, source, line);
    std::fflush(stderr);
    std::abort();
}

constexpr size_t max_host_length = 255;

// Splits "host:port" at the first ':'. The port is 1 to 65535, or 0 ("any
// free port") where binding allows it; the host is shorter than 256
// characters.
bool split_address(const char* address, std::string& host, int& port, bool any_port_allowed) {
    const char* colon = std::strchr(address, ':');
    if (colon == nullptr || static_cast<size_t>(colon - address) > max_host_length) return false;
    const char* digits = colon + 1;
    size_t count = std::strlen(digits);
    if (count == 0 || count > 5 || std::strspn(digits, "0123456789") != count) return false;
    port = std::atoi(digits);
    if (port > 65535 || (port == 0 && !any_port_allowed)) return false;
    host.assign(address, colon);
    return true;
}

sockaddr_in ipv4_endpoint(uint32_t ip, int port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr.s_addr = htonl(ip);
    endpoint.sin_port = htons(static_cast<uint16_t>(port));
    return endpoint;
}

bool set_int_option(int handle, int level, int option, int value) {
    return setsockopt(handle, level, option, &value, sizeof value) == 0;
}

// Waits until the handle is ready for `events` or the deadline passes:
// 1 ready, 0 timed out, -1 failed (errno).
int wait_ready(int handle, short events, const sal::deadline& until) {
    for (;;) {
        pollfd entry{handle, events, 0};
        int rc = poll(&entry, 1, until.remaining_ms());
        if (rc >= 0) return rc > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
    }
}

void sleep_seconds(time_t seconds) {
    if (seconds > 0) std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

} // namespace

win_socket::win_socket(const char* address) {
    if (address != nullptr) {
        this->address = new char[std::strlen(address) + 1];
        std::strcpy(this->address, address);
    }
}

win_socket::win_socket(int connected_handle) : s(connected_handle) {
    state = ss_open;
}

win_socket::~win_socket() {
    close();
    delete[] address;
}

bool win_socket::lookup_ipv4(const char* host, uint32_t& ip) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    ip = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

bool win_socket::connect(int max_attempts, time_t timeout) {
    if (address == nullptr) assertion_failed("address != NULL", "src/w32sock", 202);
    std::string host;
    int port = 0;
    uint32_t ip = 0;
    if (!split_address(address, host, port, false) || !lookup_ipv4(host.c_str(), ip)) {
        errcode = bad_address;
        return false;
    }
    bool connected = false;
    for (int attempt = 1; attempt <= max_attempts && !connected; ++attempt) {
        connected = connect_once(ip, port);
        if (!connected) {
            if (errcode != ECONNREFUSED) return false;
            if (attempt < max_attempts) sleep_seconds(timeout);
        }
    }
    if (!connected) {
        errcode = connection_failed;
        return false;
    }
    return finish_open(set_int_option(s, IPPROTO_TCP, TCP_NODELAY, 1));
}

// One attempt, bounded by the connect time limit: a host that never
// answers must not hold the caller for the system's minutes-long default.
bool win_socket::connect_once(uint32_t ip, int port) {
    int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (handle < 0) {
        errcode = errno;
        return false;
    }
    sockaddr_in peer = ipv4_endpoint(ip, port);
    int error = 0;
    if (::connect(handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            int ready = wait_ready(handle, POLLOUT, sal::deadline(connect_time_limit));
            socklen_t length = sizeof error;
            if (ready < 0) error = errno;
            else if (ready == 0) error = ETIMEDOUT;
            else if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        }
    }
    if (error == 0 && fcntl(handle, F_SETFL, fcntl(handle, F_GETFL) & ~O_NONBLOCK) != 0) error = errno;
    if (error != 0) {
        ::close(handle);
        errcode = error;
        return false;
    }
    s = handle;
    return true;
}

bool win_socket::bind_to_port(int type) {
    std::string host;
    int port = 0;
    if (address != nullptr && !split_address(address, host, port, true)) {
        errcode = bad_address;
        return false;
    }
    int handle = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (handle < 0) {
        errcode = errno;
        return false;
    }
    // The host part is ignored: the socket takes the port on every interface.
    sockaddr_in local = ipv4_endpoint(INADDR_ANY, port);
    if (!set_int_option(handle, SOL_SOCKET, SO_REUSEADDR, 1)
        || (address != nullptr
            && bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)) {
        errcode = errno;
        ::close(handle);
        return false;
    }
    s = handle;
    return true;
}

bool win_socket::open(int listen_queue_size) {
    return bind_to_port(SOCK_STREAM) && finish_open(listen(s, listen_queue_size) == 0);
}

bool win_socket::open_dgram(int flags) {
    return bind_to_port(SOCK_DGRAM)
           && finish_open((flags & 1) == 0 || set_int_option(s, SOL_SOCKET, SO_BROADCAST, 1));
}

// The last step of making a socket: on success it is open, else the handle
// goes with the platform's error.
bool win_socket::finish_open(bool last_step_done) {
    if (!last_step_done) {
        errcode = errno;
        release_handle();
        return false;
    }
    errcode = ok;
    state = ss_open;
    return true;
}

// A peer that closed or reset the connection is a broken pipe; anything
// else keeps the platform's number.
void win_socket::set_stream_error(int platform_error) {
    errcode = (platform_error == EPIPE || platform_error == ECONNRESET) ? broken_pipe
                                                                          : platform_error;
}

int win_socket::read(void* buf, size_t min_size, size_t max_size, time_t timeout) {
    if (state != ss_open) {
        errcode = not_opened;
        return -1;
    }
    if (max_size == 0) return 0;
    min_size = std::min(min_size, max_size);
    // Every wait takes only what is left of the one limit of the call.
    sal::deadline until(timeout);
    char* into = static_cast<char*>(buf);
    size_t received = 0;
    for (;;) {
        if (!until.is_unlimited()) {
            int ready = wait_ready(s, POLLIN, until);
            if (ready < 0) {
                errcode = errno;
                return -1;
            }
            if (ready == 0) return static_cast<int>(received);
        }
        ssize_t n = recv(s, into + received, max_size - received, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            set_stream_error(errno);
            return -1;
        }
        if (n == 0) {
            errcode = broken_pipe;
            return -1;
        }
        received += static_cast<size_t>(n);
        if (received >= min_size) return static_cast<int>(received);
    }
}

int win_socket::read(void* buf, size_t size) {
    if (state != ss_open) {
        errcode = not_opened;
        return 0;
    }
    char* into = static_cast<char*>(buf);
    for (size_t received = 0; received < size;) {
        ssize_t n = recv(s, into + received, size - received, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errcode = broken_pipe;
            else set_stream_error(errno);
            return 0;
        }
        received += static_cast<size_t>(n);
    }
    return 1;
}

int win_socket::write(const void* buf, size_t size) {
    if (state != ss_open) {
        errcode = not_opened;
        return 0;
    }
    // Without a write limit send() blocks until everything is queued; with
    // one, each send takes what fits now and the waits share the limit.
    // MSG_NOSIGNAL: a closed peer fails the call instead of raising SIGPIPE.
    sal::deadline until(write_timeout);
    int flags = MSG_NOSIGNAL | (until.is_unlimited() ? 0 : MSG_DONTWAIT);
    const char* from = static_cast<const char*>(buf);
    for (size_t sent = 0; sent < size;) {
        ssize_t n = send(s, from + sent, size - sent, flags);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && !until.is_unlimited()) {
            int ready = wait_ready(s, POLLOUT, until);
            if (ready > 0) continue;
            int error = ready == 0 ? ETIMEDOUT : errno;
            shutdown();
            errcode = error;
            return 0;
        }
        if (n <= 0) {
            if (n == 0) errcode = broken_pipe;
            else set_stream_error(errno);
            return 0;
        }
        sent += static_cast<size_t>(n);
    }
    return 1;
}

int win_socket::sendto(int ip_addr, int ip_port, const void* buf, size_t size) {
    if (state != ss_open) {
        errcode = not_opened;
        return 0;
    }
    sockaddr_in peer = ipv4_endpoint(static_cast<uint32_t>(ip_addr), ip_port);
    ssize_t n = ::sendto(s, buf, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&peer),
                         sizeof peer);
    if (n < 0) {
        errcode = errno;
        return 0;
    }
    if (static_cast<size_t>(n) != size) {
        errcode = message_truncated;
        return 0;
    }
    return 1;
}

int win_socket::recvfrom(int& ip_addr, int& ip_port, void* buf, size_t size) {
    if (state != ss_open) {
        errcode = not_opened;
        return -1;
    }
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    ssize_t n = ::recvfrom(s, buf, size, 0, reinterpret_cast<sockaddr*>(&peer), &length);
    if (n < 0) {
        errcode = errno;
        return -1;
    }
    ip_addr = static_cast<int>(ntohl(peer.sin_addr.s_addr));
    ip_port = ntohs(peer.sin_port);
    return static_cast<int>(n);
}

int win_socket::is_ok() {
    return errcode == ok;
}

void win_socket::get_error_text(char* buf, size_t buf_size) {
    static const sal::error_text_entry texts[] = {
        {ok, "ok"},
        {not_opened, "socket not opened"},
        {bad_address, "bad address"},
        {connection_failed, "exceed limit of attempts of connection to server"},
        {broken_pipe, "connection is broken"},
        {invalid_access_mode, "invalid access mode"},
        {message_truncated, "sent message was truncated"}};
    sal::error_text(errcode, texts, sizeof texts / sizeof *texts, buf, buf_size);
}

socket_t* win_socket::accept() {
    if (state != ss_open) {
        errcode = not_opened;
        return nullptr;
    }
    int listener = s;
    int handle;
    do {
        handle = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0) {
        errcode = errno;
        return nullptr;
    }
    if (state != ss_open) {  // woken by cancel_accept()
        ::close(handle);
        errcode = not_opened;
        return nullptr;
    }
    linger lingering{1, 10};
    if (setsockopt(handle, SOL_SOCKET, SO_LINGER, &lingering, sizeof lingering) != 0) {
        errcode = invalid_access_mode;
        ::close(handle);
        return nullptr;
    }
    if (!set_int_option(handle, IPPROTO_TCP, TCP_NODELAY, 1)) {
        errcode = errno;
        ::close(handle);
        return nullptr;
    }
    return new win_socket(handle);
}

int win_socket::cancel_accept() {
    state = ss_shutdown;
    // A throw-away connection wakes an accept() blocked in another thread;
    // the socket listens on every interface, so loopback reaches it.
    int port = get_port();
    if (port > 0) {
        std::string own = "127.0.0.1:" + std::to_string(port);
        win_socket waker(own.c_str());
        waker.connect(1, 0);
    }
    return close();
}

int win_socket::shutdown() {
    if (state == ss_open) {
        state = ss_shutdown;
        if (::shutdown(s, SHUT_RDWR) != 0) {
            errcode = errno;
            return 0;
        }
    }
    return 1;
}

int win_socket::close() {
    if (state != ss_close) {
        state = ss_close;
        if (s >= 0 && ::close(s) != 0) {
            errcode = errno;
            s = -1;
            return 0;
        }
        s = -1;
    }
    return 1;
}

void win_socket::release_handle() {
    if (s >= 0) ::close(s);
    s = -1;
}

void win_socket::set_write_timeout(time_t seconds) {
    write_timeout = seconds;
}

int win_socket::get_port() {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (s < 0 || getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) return -1;
    return ntohs(local.sin_port);
}
