#pragma once
// The shared-memory sections of the local transport: two ring buffers, four
// auto-reset events and the two processes' ids, mapped by both sides.
// Sections live in /dev/shm with mode 0600, so only the same user can open
// them. Events are futex words inside the section; a waiter also watches
// the peer process (through a pidfd) so that its death ends the wait.
#include "deadline.h"

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

// The ring buffer one side writes and the other reads. The layout is shared
// with the peer process: 16 bytes of indices and flags, then the data. One
// byte always stays free, so it holds at most 8175 bytes.
struct socket_buf {
    std::atomic<int32_t> RcvWaitFlag;  // 1 while the reader waits for data
    std::atomic<int32_t> SndWaitFlag;  // 1 while the writer waits for space
    std::atomic<int32_t> DataEnd;      // where the writer puts the next byte
    std::atomic<int32_t> DataBeg;      // where the reader takes the next byte
    char Data[8176];
};

static_assert(std::atomic<int32_t>::is_always_lock_free, "shared fields need lock-free atomics");
static_assert(std::is_standard_layout<socket_buf>::value, "socket_buf is shared memory");
static_assert(sizeof(socket_buf) == 8192 && offsetof(socket_buf, SndWaitFlag) == 4
                  && offsetof(socket_buf, DataEnd) == 8 && offsetof(socket_buf, DataBeg) == 12
                  && offsetof(socket_buf, Data) == 16,
              "socket_buf layout");

namespace sal {

constexpr int32_t ring_data_size = sizeof(socket_buf::Data);

// What follows the two buffers in a section.
struct channel_control {
    std::atomic<uint32_t> event[4];  // auto-reset events, indexed as the creator names them
    std::atomic<int32_t> pid[2];     // the process of each side
    std::atomic<int32_t> closed[2];  // 1 once that side has closed its end
    std::atomic<uint32_t> ready;     // set last by the creator
};

struct channel_section {
    socket_buf buf[2];  // the creating side reads buf[0] and writes buf[1]
    channel_control control;
};

static_assert(offsetof(channel_section, control) == 16384, "two buffers come first");

enum class wait_result { signalled, timed_out, peer_gone };

// The peer's watchdog: tells whether the peer process has ended or closed
// its end of the channel.
class peer_watch {
public:
    peer_watch() = default;
    peer_watch(peer_watch&& other) noexcept;
    peer_watch& operator=(peer_watch&& other) noexcept;
    ~peer_watch() { release(); }

    // Starts watching process `pid` and, when given, its closed flag.
    // 0, or ESRCH when there is no such process.
    int watch(pid_t pid, const std::atomic<int32_t>* closed_flag);
    bool gone() const;
    void release();

private:
    int pidfd = -1;   // readable once the process has ended
    pid_t pid = 0;    // for kernels without pidfds
    const std::atomic<int32_t>* closed = nullptr;
};

void set_event(std::atomic<uint32_t>& event);
// Takes the event when it is set, else waits for it until the deadline or
// until the watched peer is gone (checked every tenth of a second).
wait_result wait_event(std::atomic<uint32_t>& event, const deadline& until, const peer_watch* watch);

// One mapping of a section, by one of its two sides.
class shm_channel {
public:
    enum side_t { creator = 0, joiner = 1 };

    shm_channel() = default;
    shm_channel(shm_channel&& other) noexcept;
    shm_channel& operator=(shm_channel&& other) noexcept;
    ~shm_channel() { unmap(); }

    // A new section named `name` ("/..."), replacing a stale one whose
    // creator has ended or closed it. 0 or an error number (EADDRINUSE
    // while a live creator holds the name).
    int create(const std::string& name);
    // A new section under a fresh name of this process, for `joiner_pid`.
    int create_unique(pid_t joiner_pid);
    // The section named `name` once its creator has set it up; ENOENT
    // while there is none.
    int open(const std::string& name);
    // Removes the name (the mapping stays).
    void unlink_name();
    // Removes the name if it still names this section, not a newer one.
    void withdraw_name();
    void unmap();

    bool is_mapped() const { return section != nullptr; }
    channel_section& get() const { return *section; }
    const std::string& name() const { return section_name; }

private:
    int create_exclusive(const std::string& name);
    int map(int fd);
    static bool is_stale(const std::string& name);

    channel_section* section = nullptr;
    std::string section_name;
    dev_t device = 0;
    ino_t inode = 0;
};

} // namespace sal
