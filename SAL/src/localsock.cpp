#include "localsock.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

using sal::shm_channel;
using sal::wait_result;

namespace {

// A listener renews its offer when the connector that took it has not
// answered within this time.
constexpr time_t offer_interval = 30;
// How often a connector looks again for a listener that is not there yet.
constexpr auto listener_retry = std::chrono::milliseconds(100);
// The longest private channel name a listener passes on.
constexpr size_t channel_name_limit = 128;

// Words of the connection set-up, written into a buffer's data area outside
// the ring (the ring is not in use yet): the connector's process id, then
// whether it joined the private channel.
enum setup_word { connector_pid = 0, connector_joined = 1 };

int32_t load_word(const socket_buf& buf, setup_word index) {
    int32_t value;
    std::memcpy(&value, buf.Data + sizeof value * index, sizeof value);
    return value;
}

void store_word(socket_buf& buf, setup_word index, int32_t value) {
    std::memcpy(buf.Data + sizeof value * index, &value, sizeof value);
}

bool in_ring(int32_t index) {
    return index >= 0 && index < sal::ring_data_size;
}

} // namespace

local_win_socket::local_win_socket(const char* name) {
    if (name != nullptr) {
        Name = new char[std::strlen(name) + 1];
        std::strcpy(Name, name);
    }
}

local_win_socket::local_win_socket(shm_channel channel, sal::peer_watch watchdog)
    : Mutex(std::move(watchdog)), BufHnd(std::move(channel)) {
    attach(shm_channel::creator);
    Error = ok;
    state = ss_open;
}

local_win_socket::~local_win_socket() {
    close();
    delete[] Name;
}

void local_win_socket::attach(shm_channel::side_t own_side) {
    sal::channel_section& section = BufHnd.get();
    side = own_side;
    RcvBuf = &section.buf[side == shm_channel::creator ? 0 : 1];
    SndBuf = &section.buf[side == shm_channel::creator ? 1 : 0];
    // Event i of the creator is event (i + 2) mod 4 of the joiner.
    for (int i = 0; i < 4; ++i)
        Signal[i] = &section.control.event[side == shm_channel::creator ? i : (i + 2) % 4];
}

// 0 and the name of the listening section, or an error number.
int local_win_socket::listening_section_name(std::string& section) const {
    if (Name == nullptr || *Name == '\0' || std::strchr(Name, '/') != nullptr) return EINVAL;
    section = std::string("/") + Name + ".shr";
    return section.size() > NAME_MAX ? ENAMETOOLONG : 0;
}

bool local_win_socket::open() {
    std::string section;
    int error = listening_section_name(section);
    if (error == 0) error = BufHnd.create(section);
    if (error != 0) {
        Error = error;
        return false;
    }
    attach(shm_channel::creator);
    listening = true;
    Error = ok;
    state = ss_open;
    return true;
}

socket_t* local_win_socket::accept() {
    if (state != ss_open || !listening) {
        Error = state != ss_open ? not_opened : invalid_access_mode;
        return nullptr;
    }
    Error = ok;
    sal::channel_control& control = BufHnd.get().control;
    control.pid[shm_channel::creator] = getpid();
    // Offer the connection (RTR) and wait for a connector's request (RD).
    // The offer is taken by one connector only; it is renewed when that
    // connector did not answer in time.
    for (;;) {
        signal(RTR);
        wait_result woken = wait(RD, sal::deadline(offer_interval));
        if (state != ss_open) {
            Error = not_opened;
            return nullptr;
        }
        if (woken == wait_result::signalled) break;
    }
    pid_t peer = load_word(*RcvBuf, connector_pid);
    sal::peer_watch watchdog;
    if (watchdog.watch(peer, nullptr) != 0) {
        Error = broken_pipe;
        return nullptr;
    }
    // The connection gets a section of its own under a fresh name; the
    // connector maps it and tells whether it could.
    shm_channel channel;
    int error = channel.create_unique(peer);
    std::string name = error == 0 ? channel.name() : std::string();
    std::memcpy(SndBuf->Data, name.c_str(), name.size() + 1);
    signal(TD);
    if (error != 0) {
        Error = error;
        return nullptr;
    }
    wait_result answer = sal::wait_event(*Signal[RD], sal::deadline::never(), &watchdog);
    channel.unlink_name();  // both sides have it mapped, or it is of no use
    if (answer == wait_result::peer_gone) {
        Error = broken_pipe;
        return nullptr;
    }
    if (state != ss_open) {
        Error = not_opened;
        return nullptr;
    }
    if (load_word(*RcvBuf, connector_joined) != 1) {
        Error = ECONNABORTED;
        return nullptr;
    }
    if (watchdog.watch(peer, &channel.get().control.closed[shm_channel::joiner]) != 0) {
        Error = broken_pipe;
        return nullptr;
    }
    return new local_win_socket(std::move(channel), std::move(watchdog));
}

bool local_win_socket::connect(int max_attempts, time_t timeout) {
    std::string section;
    int error = listening_section_name(section);
    if (error != 0) {
        Error = error;
        return false;
    }
    long long limit = static_cast<long long>(max_attempts) * timeout;
    sal::deadline until(limit < 0 ? -1 : static_cast<time_t>(limit));
    if (wait_for_listener(section, until) && join_private_channel()) {
        Error = ok;
        state = ss_open;
        return true;
    }
    Mutex.release();
    BufHnd.unmap();
    RcvBuf = SndBuf = nullptr;
    std::fill(std::begin(Signal), std::end(Signal), nullptr);
    return false;
}

// Maps the listening section once a live listener offers a connection, and
// takes the offer (its RTR, this side's RTT).
bool local_win_socket::wait_for_listener(const std::string& section, const sal::deadline& until) {
    for (;;) {
        int error = BufHnd.open(section);
        if (error == 0) {
            const sal::channel_control& control = BufHnd.get().control;
            int listener = control.pid[shm_channel::creator];
            if (Mutex.watch(listener, &control.closed[shm_channel::creator]) == 0) {
                attach(shm_channel::joiner);
                wait_result offer = wait(RTT, until);
                if (offer == wait_result::signalled) return true;
                if (offer == wait_result::timed_out) break;
            }
            // The listener has ended or closed: a new one may take the name.
        } else if (error != ENOENT) {
            Error = error;
            return false;
        }
        Mutex.release();
        BufHnd.unmap();
        int left = until.remaining_ms();
        if (left == 0) break;
        auto pause = left < 0 ? listener_retry : std::min<std::chrono::milliseconds>(
                                                      listener_retry, std::chrono::milliseconds(left));
        std::this_thread::sleep_for(pause);
    }
    Error = timeout_expired;
    return false;
}

// Sends this process's id, receives the name of the private channel, maps
// it and answers whether that worked.
bool local_win_socket::join_private_channel() {
    // An answer left from a connector that ended during its set-up is not ours.
    *Signal[RD] = 0;
    store_word(*SndBuf, connector_pid, getpid());
    store_word(*SndBuf, connector_joined, 0);
    signal(TD);
    if (wait(RD, sal::deadline::never()) != wait_result::signalled) {
        Error = broken_pipe;
        return false;
    }
    size_t length = strnlen(RcvBuf->Data, channel_name_limit);
    int error = length == 0 || length == channel_name_limit ? ECONNABORTED : 0;
    shm_channel channel;
    if (error == 0) error = channel.open(std::string(RcvBuf->Data, length));
    if (error == 0) {
        channel.unlink_name();
        if (channel.get().control.pid[shm_channel::joiner] != getpid()) error = ECONNABORTED;
    }
    store_word(*SndBuf, connector_joined, error == 0 ? 1 : 0);
    signal(TD);
    if (error != 0) {
        Error = error;
        return false;
    }
    int listener = channel.get().control.pid[shm_channel::creator];
    BufHnd = std::move(channel);
    if (Mutex.watch(listener, &BufHnd.get().control.closed[shm_channel::creator]) != 0) {
        Error = broken_pipe;
        return false;
    }
    attach(shm_channel::joiner);
    return true;
}

wait_result local_win_socket::wait(socket_signals which, const sal::deadline& until) {
    return sal::wait_event(*Signal[which], until, &Mutex);
}

// Reads at least min_size bytes (not 0) and at most max_size: the count, or
// -1 on error. Fewer than min_size when the time ran out.
int local_win_socket::receive(char* buf, size_t min_size, size_t max_size, const sal::deadline& until) {
    size_t received = 0;
    while (state == ss_open) {
        RcvBuf->RcvWaitFlag = 1;
        int32_t begin = RcvBuf->DataBeg;
        int32_t end = RcvBuf->DataEnd;
        if (!in_ring(begin) || !in_ring(end)) {  // a peer that does not keep to the rules
            Error = broken_pipe;
            return -1;
        }
        // Only the contiguous part: a wrapped rest comes on the next turn.
        size_t available = static_cast<size_t>(end >= begin ? end - begin : sal::ring_data_size - begin);
        if (available > 0) {
            RcvBuf->RcvWaitFlag = 0;
            size_t n = std::min(available, max_size - received);
            std::memcpy(buf + received, RcvBuf->Data + begin, n);
            begin += static_cast<int32_t>(n);
            RcvBuf->DataBeg = begin == sal::ring_data_size ? 0 : begin;
            if (RcvBuf->SndWaitFlag != 0) signal(RTR);
            received += n;
            if (received >= min_size) return static_cast<int>(received);
            continue;
        }
        wait_result woken = wait(RD, until);
        if (woken == wait_result::timed_out) {
            RcvBuf->RcvWaitFlag = 0;
            return static_cast<int>(received);
        }
        if (woken == wait_result::peer_gone) {
            Error = broken_pipe;
            return -1;
        }
    }
    Error = not_opened;
    return -1;
}

int local_win_socket::read(void* buf, size_t min_size, size_t max_size, time_t timeout) {
    if (state != ss_open) {
        Error = not_opened;
        return -1;
    }
    Error = ok;
    if (min_size == 0 || max_size == 0) return 0;
    return receive(static_cast<char*>(buf), std::min(min_size, max_size), max_size,
                   sal::deadline(timeout));
}

int local_win_socket::read(void* buf, size_t size) {
    if (state != ss_open) {
        Error = not_opened;
        return 0;
    }
    Error = ok;
    if (size == 0) return 1;
    return receive(static_cast<char*>(buf), size, size, sal::deadline::never())
           == static_cast<int>(size);
}

int local_win_socket::write(const void* buf, size_t size) {
    // A closed socket keeps the error that closed it.
    if (state != ss_open) return 0;
    Error = ok;
    sal::deadline until(write_timeout);
    const char* from = static_cast<const char*>(buf);
    for (size_t sent = 0; sent < size;) {
        if (state != ss_open) {
            Error = not_opened;
            return 0;
        }
        SndBuf->SndWaitFlag = 1;
        int32_t begin = SndBuf->DataBeg;
        int32_t end = SndBuf->DataEnd;
        if (!in_ring(begin) || !in_ring(end)) {
            Error = broken_pipe;
            return 0;
        }
        // Up to the end of the data area; one byte stays free so that a
        // full buffer differs from an empty one.
        int32_t space = end < begin ? begin - end - 1 : sal::ring_data_size - end - (begin == 0 ? 1 : 0);
        if (space == 0) {
            wait_result woken = wait(RTT, until);
            SndBuf->SndWaitFlag = 0;
            if (woken == wait_result::timed_out) {
                // Part of the message may have gone: nothing more can follow it.
                shutdown();
                Error = ETIMEDOUT;
                return 0;
            }
            if (woken == wait_result::peer_gone) {
                Error = broken_pipe;
                return 0;
            }
            continue;
        }
        SndBuf->SndWaitFlag = 0;
        size_t n = std::min(static_cast<size_t>(space), size - sent);
        std::memcpy(SndBuf->Data + end, from + sent, n);
        end += static_cast<int32_t>(n);
        SndBuf->DataEnd = end == sal::ring_data_size ? 0 : end;
        if (SndBuf->RcvWaitFlag != 0) signal(TD);
        sent += n;
    }
    return 1;
}

int local_win_socket::sendto(int, int, const void*, size_t) {
    Error = invalid_access_mode;
    return 0;
}

int local_win_socket::recvfrom(int&, int&, void*, size_t) {
    Error = invalid_access_mode;
    return -1;
}

int local_win_socket::is_ok() {
    return Error == ok;
}

void local_win_socket::get_error_text(char* buf, size_t buf_size) {
    static const sal::error_text_entry texts[] = {
        {ok, "ok"},
        {not_opened, "socket not opened"},
        {broken_pipe, "connection is broken"},
        {timeout_expired, "connection timeout expired"},
        {invalid_access_mode, "invalid access mode"},
        {message_truncated, "sent message was truncated"}};
    sal::error_text(Error, texts, sizeof texts / sizeof *texts, buf, buf_size);
}

int local_win_socket::shutdown() {
    if (state == ss_open) stop();
    return 1;
}

int local_win_socket::cancel_accept() {
    if (state != ss_close) stop();
    return 1;
}

// Wakes the calls of this process blocked on this socket; they find it no
// longer open.
void local_win_socket::stop() {
    state = ss_shutdown;
    signal(RD);
    signal(RTT);
}

int local_win_socket::close() {
    if (state != ss_close) {
        state = ss_close;
        sal::channel_control& control = BufHnd.get().control;
        control.closed[side] = 1;
        if (listening) {
            BufHnd.withdraw_name();
        } else {
            // Wake the peer's blocked reader or writer: it finds the end closed.
            signal(TD);
            signal(RTR);
        }
        Mutex.release();
        BufHnd.unmap();
        RcvBuf = SndBuf = nullptr;
        std::fill(std::begin(Signal), std::end(Signal), nullptr);
        Error = not_opened;
    }
    return 1;
}

void local_win_socket::set_write_timeout(time_t seconds) {
    write_timeout = seconds;
}
