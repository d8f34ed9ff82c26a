#pragma once
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class socket_t;

// Ends the blocking socket calls of an interactive run when a stop signal
// (StopSignal) arrives. The signal handler only records the signal, and the
// socket layer resumes an accept or a read that a signal interrupted, so a
// helper thread looks at the record a few times a second and, once a signal
// came, wakes the calls in the way the socket layer offers to another
// thread: a listener's accept is cancelled, a connection is shut down (its
// read then fails). The watched sockets must outlive the waker.
class StopSignalWaker {
public:
    StopSignalWaker();
    // Stops and joins the helper thread.
    ~StopSignalWaker();
    StopSignalWaker(const StopSignalWaker&) = delete;
    StopSignalWaker& operator=(const StopSignalWaker&) = delete;

    // Watches a listening socket or a connection; when a signal came
    // already, it is woken at once.
    void watchListener(socket_t* s) { watch(s, true); }
    void watchConnection(socket_t* s) { watch(s, false); }

    // How often the helper looks for a signal.
    static constexpr int kPollMilliseconds = 100;

private:
    struct Watched {
        socket_t* socket;
        bool listening;
    };
    void watch(socket_t* s, bool listening);
    void loop();
    static void wake(const Watched& w);

    std::mutex lock;
    std::condition_variable finishing;
    std::vector<Watched> watched;
    bool signalled = false;
    bool finished = false;
    std::thread helper;
};
