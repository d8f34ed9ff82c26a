#pragma once
// Stream sockets: one interface over two transports, TCP (win_socket) and
// shared memory between two processes of one machine (local_win_socket).
// Failures never throw: each object keeps its last error, asked through
// is_ok() and get_error_text(); the factories return an object also on
// failure so that the caller can ask it.
#include <atomic>
#include <cstddef>
#include <ctime>

enum socket_domain {
    sock_any_domain = 0,    // local transport for "localhost:..." or a name without ":"
    sock_local_domain = 1,  // shared memory
    sock_global_domain = 2  // TCP
};

class socket_t {
public:
    enum socket_state { ss_open = 0, ss_shutdown = 1, ss_close = 2 };

    // At least min_size and at most max_size bytes; timeout in seconds, -1
    // for none. The count read (fewer than min_size when the time ran out)
    // or -1 on error.
    virtual int read(void* buf, size_t min_size, size_t max_size, time_t timeout) = 0;
    // Exactly size bytes: 1 on success, 0 on error.
    virtual int read(void* buf, size_t size) = 0;
    // All size bytes: 1 on success, 0 on error.
    virtual int write(const void* buf, size_t size) = 0;
    // Datagrams; the address and port in host byte order.
    virtual int sendto(int ip_addr, int ip_port, const void* buf, size_t size) = 0;
    virtual int recvfrom(int& ip_addr, int& ip_port, void* buf, size_t size) = 0;
    virtual int is_ok() = 0;
    // The text of the last error, cut to buf_size (terminator included).
    virtual void get_error_text(char* buf, size_t buf_size) = 0;
    virtual socket_t* accept() = 0;
    // Wakes and ends an accept() blocked in another thread.
    virtual int cancel_accept() = 0;
    virtual int shutdown() = 0;
    // Harmless when already closed.
    virtual int close() = 0;
    virtual ~socket_t() = default;

    // A write that cannot complete within `seconds` fails (-1: no limit,
    // the default). The stream is then shut down: part of the message may
    // have gone, so later writes fail at once instead of waiting again.
    virtual void set_write_timeout(time_t seconds) = 0;
    // The local port of a TCP or datagram socket (useful after binding to
    // port 0); -1 when there is none.
    virtual int get_port() = 0;

    static socket_t* connect(const char* address, socket_domain domain = sock_any_domain,
                             int max_attempts = 100, time_t timeout = 1);
    static socket_t* create_global(const char* address, int listen_queue_size = 5);
    static socket_t* create_local(const char* address, int listen_queue_size = 5);
    static socket_t* create_dgram(const char* address, int flags = 0);
    // IPv4 address of a dotted text or host name in host byte order, -1
    // when it cannot be found.
    static int get_ip(const char* address);

    socket_state get_state() const { return state; }

protected:
    socket_t() = default;
    socket_t(const socket_t&) = delete;
    socket_t& operator=(const socket_t&) = delete;

    // Atomic because shutdown() and cancel_accept() may come from another
    // thread to wake a blocked call.
    std::atomic<socket_state> state{ss_close};
};

namespace sal {

struct error_text_entry {
    int code;
    const char* text;
};

// The text of `code` from the socket's own table, else the platform's.
void error_text(int code, const error_text_entry* table, size_t entries, char* buf, size_t buf_size);
// Copies `text` into buf, cut to buf_size with the terminator.
void copy_error_text(const char* text, char* buf, size_t buf_size);
// The platform's text for an error number, or "unknown error code %u".
void platform_error_text(int code, char* buf, size_t buf_size);

} // namespace sal
