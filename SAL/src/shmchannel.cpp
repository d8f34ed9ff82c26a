#include "shmchannel.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <utility>

namespace sal {

namespace {

constexpr uint32_t ready_mark = 0x53414c31;  // "SAL1"
// How often a waiter looks at its peer: a dead peer is noticed within this.
constexpr int watch_interval_ms = 100;
constexpr int create_attempts = 3;

// Futex words of a mapping shared between processes: no private flag.
void futex_wait(std::atomic<uint32_t>& word, uint32_t expected, int timeout_ms) {
    timespec limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT, expected,
            timeout_ms < 0 ? nullptr : &limit, nullptr, 0);
}

void futex_wake_all(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

std::atomic<unsigned> unique_counter{0};

} // namespace

peer_watch::peer_watch(peer_watch&& other) noexcept
    : pidfd(std::exchange(other.pidfd, -1)), pid(std::exchange(other.pid, 0)),
      closed(std::exchange(other.closed, nullptr)) {}

peer_watch& peer_watch::operator=(peer_watch&& other) noexcept {
    if (this != &other) {
        release();
        pidfd = std::exchange(other.pidfd, -1);
        pid = std::exchange(other.pid, 0);
        closed = std::exchange(other.closed, nullptr);
    }
    return *this;
}

int peer_watch::watch(pid_t process, const std::atomic<int32_t>* closed_flag) {
    release();
    if (process <= 0) return ESRCH;
    int fd = static_cast<int>(syscall(SYS_pidfd_open, process, 0));
    if (fd < 0 && errno == ESRCH) return ESRCH;
    // Without pidfds (an old kernel, a filter) the process is asked by signal 0.
    if (fd < 0 && kill(process, 0) != 0 && errno == ESRCH) return ESRCH;
    pidfd = fd;
    pid = process;
    closed = closed_flag;
    return 0;
}

bool peer_watch::gone() const {
    if (closed != nullptr && closed->load() != 0) return true;
    if (pidfd >= 0) {
        pollfd entry{pidfd, POLLIN, 0};
        return poll(&entry, 1, 0) > 0;
    }
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

void peer_watch::release() {
    if (pidfd >= 0) ::close(pidfd);
    pidfd = -1;
    pid = 0;
    closed = nullptr;
}

void set_event(std::atomic<uint32_t>& event) {
    event.store(1);
    futex_wake_all(event);
}

wait_result wait_event(std::atomic<uint32_t>& event, const deadline& until, const peer_watch* watch) {
    for (;;) {
        if (event.exchange(0) != 0) return wait_result::signalled;
        if (watch != nullptr && watch->gone()) return wait_result::peer_gone;
        int left = until.remaining_ms();
        if (left == 0) return wait_result::timed_out;
        int slice = watch == nullptr ? left
                    : left < 0        ? watch_interval_ms
                                      : std::min(left, watch_interval_ms);
        futex_wait(event, 0, slice);
    }
}

shm_channel::shm_channel(shm_channel&& other) noexcept
    : section(std::exchange(other.section, nullptr)), section_name(std::move(other.section_name)),
      device(other.device), inode(other.inode) {}

shm_channel& shm_channel::operator=(shm_channel&& other) noexcept {
    if (this != &other) {
        unmap();
        section = std::exchange(other.section, nullptr);
        section_name = std::move(other.section_name);
        device = other.device;
        inode = other.inode;
    }
    return *this;
}

int shm_channel::create(const std::string& name) {
    for (int attempt = 0; attempt < create_attempts; ++attempt) {
        int error = create_exclusive(name);
        if (error != EEXIST) return error;
        if (!is_stale(name)) return EADDRINUSE;
        shm_unlink(name.c_str());
    }
    return EADDRINUSE;
}

int shm_channel::create_unique(pid_t joiner_pid) {
    // The process id makes the name unique among live processes; a name
    // left by an ended process of the same id is stale and replaced.
    std::string name = "/sal-channel." + std::to_string(getpid()) + "." + std::to_string(++unique_counter);
    int error = create_exclusive(name);
    if (error == EEXIST) {
        shm_unlink(name.c_str());
        error = create_exclusive(name);
    }
    if (error == 0) section->control.pid[joiner] = joiner_pid;
    return error;
}

int shm_channel::create_exclusive(const std::string& name) {
    unmap();
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return errno;
    int error = ftruncate(fd, sizeof(channel_section)) == 0 ? map(fd) : errno;
    ::close(fd);
    if (error != 0) {
        shm_unlink(name.c_str());
        return error;
    }
    // A new section is all zeros: empty buffers, no events set.
    section_name = name;
    section->control.pid[creator] = getpid();
    section->control.ready = ready_mark;
    return 0;
}

int shm_channel::open(const std::string& name) {
    unmap();
    int fd = shm_open(name.c_str(), O_RDWR, 0600);
    if (fd < 0) return errno;
    struct stat info {};
    int error = fstat(fd, &info) != 0 ? errno
                : static_cast<size_t>(info.st_size) < sizeof(channel_section) ? ENOENT
                                                                             : map(fd);
    ::close(fd);
    if (error == 0 && section->control.ready != ready_mark) {
        unmap();
        error = ENOENT;
    }
    if (error == 0) section_name = name;
    return error;
}

int shm_channel::map(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return errno;
    void* address = mmap(nullptr, sizeof(channel_section), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) return errno;
    section = static_cast<channel_section*>(address);
    device = info.st_dev;
    inode = info.st_ino;
    return 0;
}

// A section whose creator has ended, closed it, or never finished setting
// it up blocks nobody.
bool shm_channel::is_stale(const std::string& name) {
    shm_channel existing;
    if (existing.open(name) != 0) return true;
    const channel_control& control = existing.get().control;
    peer_watch creator_watch;
    return creator_watch.watch(control.pid[creator], &control.closed[creator]) != 0
           || creator_watch.gone();
}

void shm_channel::unlink_name() {
    if (!section_name.empty()) shm_unlink(section_name.c_str());
}

void shm_channel::withdraw_name() {
    if (section_name.empty()) return;
    int fd = shm_open(section_name.c_str(), O_RDONLY, 0600);
    if (fd < 0) return;
    struct stat info {};
    bool same = fstat(fd, &info) == 0 && info.st_dev == device && info.st_ino == inode;
    ::close(fd);
    if (same) shm_unlink(section_name.c_str());
}

void shm_channel::unmap() {
    if (section != nullptr) munmap(section, sizeof(channel_section));
    section = nullptr;
    section_name.clear();
}

} // namespace sal
