#include "engine/StopSignalWaker.h"

#include <chrono>

#include "engine/StopSignal.h"
#include "sockio.h"

StopSignalWaker::StopSignalWaker() : helper([this] { loop(); }) {}

StopSignalWaker::~StopSignalWaker() {
    {
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
    }
    finishing.notify_one();
    helper.join();
}

void StopSignalWaker::watch(socket_t* s, bool listening) {
    if (s == nullptr) return;
    std::lock_guard<std::mutex> guard(lock);
    watched.push_back(Watched{s, listening});
    if (signalled) wake(watched.back());
}

void StopSignalWaker::loop() {
    std::unique_lock<std::mutex> guard(lock);
    while (!finished) {
        finishing.wait_for(guard, std::chrono::milliseconds(kPollMilliseconds));
        if (finished || signalled || StopSignal::received() == 0) continue;
        signalled = true;
        for (const Watched& w : watched) wake(w);
    }
}

// Both calls are the socket layer's means to end a call blocked in another
// thread.
void StopSignalWaker::wake(const Watched& w) {
    if (w.listening) w.socket->cancel_accept();
    else w.socket->shutdown();
}
