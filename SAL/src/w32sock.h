#pragma once
// The TCP transport of socket_t, and its datagram (UDP) sockets.
#include "sockio.h"

#include <cstdint>

class win_socket : public socket_t {
public:
    enum error_codes {
        ok = 0,
        not_opened = -1,
        bad_address = -2,
        connection_failed = -3,
        broken_pipe = -4,
        invalid_access_mode = -5,
        message_truncated = -6
    };

    // A connect attempt to a host that never answers gives up after this
    // many seconds with the platform's ETIMEDOUT.
    static constexpr time_t default_connect_time_limit = 10;

    // `address` is "host:port" (copied); null for an accepted connection.
    explicit win_socket(const char* address = nullptr);
    ~win_socket() override;

    int read(void* buf, size_t min_size, size_t max_size, time_t timeout) override;
    int read(void* buf, size_t size) override;
    int write(const void* buf, size_t size) override;
    int sendto(int ip_addr, int ip_port, const void* buf, size_t size) override;
    int recvfrom(int& ip_addr, int& ip_port, void* buf, size_t size) override;
    int is_ok() override;
    void get_error_text(char* buf, size_t buf_size) override;
    socket_t* accept() override;
    int cancel_accept() override;
    int shutdown() override;
    int close() override;
    void set_write_timeout(time_t seconds) override;
    int get_port() override;

    // Up to max_attempts tries while the connection is refused, `timeout`
    // seconds apart; any other failure ends at once.
    bool connect(int max_attempts, time_t timeout);
    // A TCP socket listening on all interfaces at the address's port (any
    // free port for port 0 or a null address).
    bool open(int listen_queue_size);
    // A UDP socket bound like open(); flags bit 0 allows broadcasts.
    bool open_dgram(int flags);
    void set_connect_time_limit(time_t seconds) { connect_time_limit = seconds; }

    // The IPv4 address of a dotted text or host name, in host byte order.
    static bool lookup_ipv4(const char* host, uint32_t& ip);

private:
    win_socket(int connected_handle);
    void set_stream_error(int platform_error);
    bool connect_once(uint32_t ip, int port);
    bool bind_to_port(int type);
    bool finish_open(bool last_step_done);
    void release_handle();

    int s = -1;
    std::atomic<int> errcode{ok};
    char* address = nullptr;
    time_t write_timeout = -1;
    time_t connect_time_limit = default_connect_time_limit;
};
