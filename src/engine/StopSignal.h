#pragma once
#include <csignal>

// The stop signals SIGINT, SIGTERM and SIGHUP. The first one only records
// its number; the run loops ask for it before every event and end the run as
// at the wall-clock limit, so that the results so far are written and the
// logs closed. A second stop signal ends the process at once with exit status
// 128 + its number.
class StopSignal {
public:
    // Installs the handler for the three signals.
    static void install();
    // The number of the first stop signal received; 0 while none came.
    // Inline: the run loops ask before every event.
    static int received() { return pending; }
    // The handler's record of a first signal (one store: async-signal-safe).
    static void record(int number) { pending = number; }

private:
    static volatile std::sig_atomic_t pending;
};
