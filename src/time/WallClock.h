#pragma once
// Local wall-clock time to the second, cheap enough to stamp every token.
#include "time/DateTime.h"

class WallClock {
public:
    // The same value as DateTime::Today(). The conversion to local calendar
    // time runs only when the second has changed since the last call on this
    // thread; otherwise the cached value is returned.
    static DateTime now();
};
