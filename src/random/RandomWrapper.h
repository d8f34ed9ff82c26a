#pragma once
// The one random stream of its owner (a transition, its delay sampler or
// the engine). Each object takes the next stream of the package when it is
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

    double randu01() { return stream.RandU01(); }
    // Whole number in [a, b], both ends included. With a == b the number is
    // a whatever is drawn; the draw still advances the stream, but nothing
    // waits for its value (a single candidate binding is the common case).
    int randint(long a, long b) {
        if (a == b) {
            (void)stream.RandU01();
            return static_cast<int>(a);
        }
        return stream.RandInt(static_cast<int>(a), static_cast<int>(b));
    }

private:
    RngStream stream;
};
