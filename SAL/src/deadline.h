#pragma once
// A point in time given as "so many seconds from now", for the timed
// waits of both transports: every wait of one call takes what is left.
#include <chrono>
#include <climits>
#include <ctime>

namespace sal {

class deadline {
public:
    // A negative number of seconds means no limit.
    explicit deadline(time_t seconds)
        : unlimited(seconds < 0),
          end(std::chrono::steady_clock::now() + std::chrono::seconds(clamp(seconds))) {}

    static deadline never() { return deadline(-1); }

    bool is_unlimited() const { return unlimited; }

    // Milliseconds left (0 once passed), -1 when there is no limit.
    int remaining_ms() const {
        if (unlimited) return -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return 0;
        return left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }

private:
    // A limit beyond a few decades is as good as none and must not
    // overflow the clock's arithmetic.
    static time_t clamp(time_t seconds) {
        constexpr time_t longest = 1000000000;
        return seconds < 0 ? 0 : seconds > longest ? longest : seconds;
    }

    bool unlimited;
    std::chrono::steady_clock::time_point end;
};

} // namespace sal
