#include "time/WallClock.h"

#include <ctime>

DateTime WallClock::now() {
    // Each thread keeps its own last second and its local time, so no
    // locking is needed.
    thread_local time_t lastSecond = static_cast<time_t>(-1);
    thread_local DateTime lastValue;
    time_t second = time(nullptr);
    if (second != lastSecond) {
        tm local;
        lastValue = localtime_r(&second, &local) != nullptr ? DateTime(&local) : DateTime();
        lastSecond = second;
    }
    return lastValue;
}
