#include "engine/StopSignal.h"

#include <csignal>
#include <unistd.h>

volatile std::sig_atomic_t StopSignal::pending = 0;

namespace {

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Async-signal-safe: one store, or _exit.
extern "C" void onStopSignal(int number) {
    if (StopSignal::received() != 0) _exit(128 + number);
    StopSignal::record(number);
}

} // namespace

void StopSignal::install() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    // Interrupted system calls go on (a read from the database, a write of
    // a log); the loops see the flag at their next event.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    // One handler at a time, so that two signals in quick succession are
    // seen as first and second.
    for (int s : kStopSignals) sigaddset(&action.sa_mask, s);
    for (int s : kStopSignals) sigaction(s, &action, nullptr);
}
