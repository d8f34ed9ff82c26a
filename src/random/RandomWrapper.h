#pragma once
// The one random stream of its owner (a transition's choices, or the
// engine's). Each object takes the next stream of the package when it is
// created, so the numbers one owner sees do not depend on how often the
// others draw. Streams are never shared or copied.
#include "random/RngStream.h"

class RandomWrapper {
public:
    RandomWrapper() : stream("") {}
    RandomWrapper(const RandomWrapper&) = delete;
    RandomWrapper& operator=(const RandomWrapper&) = delete;

    // Starting state of the streams created from now on; false when the
    // seed is refused (the message is on standard error).
    static bool SetPackageSeed(const unsigned long* seed) { return RngStream::SetPackageSeed(seed); }

    double randu01() {
        catchUp();
        return stream.RandU01();
    }
    // Whole number in [a, b], both ends included. With a == b the number is
    // a whatever is drawn (a single candidate binding is the common case):
    // the draw is only counted, and the stream moves past the counted draws
    // before it gives the next number whose value is read. Nothing else
    // reads the stream, so every number read is the one the eager draw
    // would have given.
    int randint(long a, long b) {
        if (a == b) {
            ++unreadDraws;
            return static_cast<int>(a);
        }
        catchUp();
        return stream.RandInt(static_cast<int>(a), static_cast<int>(b));
    }

private:
    void catchUp() {
        if (unreadDraws != 0) skipUnreadDraws();
    }
    [[gnu::noinline]] void skipUnreadDraws() {
        stream.SkipDraws(unreadDraws);
        unreadDraws = 0;
    }

    RngStream stream;
    // Draws counted but not yet made (see randint).
    unsigned long unreadDraws = 0;
};
