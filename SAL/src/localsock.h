#pragma once
// The shared-memory transport of socket_t between two processes of one
// machine: each direction is a ring buffer in a section both map, with
// auto-reset events to wake a waiting reader or writer and a watchdog on the
// peer process.
#include "shmchannel.h"
#include "sockio.h"

class local_win_socket : public socket_t {
public:
    enum error_codes {
        ok = 0,
        not_opened = -1,
        broken_pipe = -2,
        timeout_expired = -3,
        invalid_access_mode = -5,
        message_truncated = -6
    };
    // The events of one side: data arrived to read, the peer is ready to
    // receive, data was transmitted, ready to transmit. The peer's RD is
    // this side's TD, its RTR this side's RTT, and the other way round.
    enum socket_signals { RD = 0, RTR = 1, TD = 2, RTT = 3 };

    // `name` (copied) is the listening side's address; the section is
    // "/<name>.shr".
    explicit local_win_socket(const char* name);
    ~local_win_socket() override;

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
    int get_port() override { return -1; }

    // The listening side.
    bool open();
    // Waits at most max_attempts * timeout seconds for a listener.
    bool connect(int max_attempts, time_t timeout);

private:
    // An accepted connection over its private channel.
    local_win_socket(sal::shm_channel channel, sal::peer_watch watchdog);

    void attach(sal::shm_channel::side_t side);
    int listening_section_name(std::string& section) const;
    bool wait_for_listener(const std::string& section, const sal::deadline& until);
    bool join_private_channel();
    int receive(char* buf, size_t min_size, size_t max_size, const sal::deadline& until);
    sal::wait_result wait(socket_signals signal, const sal::deadline& until);
    void signal(socket_signals which) { sal::set_event(*Signal[which]); }
    void stop();

    socket_buf* RcvBuf = nullptr;
    socket_buf* SndBuf = nullptr;
    std::atomic<uint32_t>* Signal[4] = {};
    sal::peer_watch Mutex;         // the peer's watchdog: its process and closed flag
    sal::shm_channel BufHnd;       // the mapped section
    sal::shm_channel::side_t side = sal::shm_channel::creator;
    bool listening = false;
    std::atomic<int> Error{not_opened};
    char* Name = nullptr;
    time_t write_timeout = -1;
};
