#include "engine/Breakpoint.h"

#include <cmath>

#include "stats/MeasureObj.h"

Breakpoint::Breakpoint(MeasureObj* m, BreakpointRelation r, double v) : measure(m), relation(r), value(v) {}

Breakpoint::Breakpoint() : measure(nullptr), relation(rel_none), value(0.0) {}

// Every comparison with a NaN is false, so a value or threshold that is not
// a number never triggers.
bool Breakpoint::isTriggered() const {
    if (measure == nullptr || relation == rel_none) return false;
    const double x = measure->measure(-1.0);
    switch (relation) {
        case rel_equal: return std::fabs(x - value) <= kEqualTolerance;
        case rel_greater: return x > value;
        case rel_less: return x < value;
        case rel_greater_equal: return x >= value;
        case rel_less_equal: return x <= value;
        default: return false;
    }
}

BreakpointRelation Breakpoint::stringToRelation(const std::string& text) {
    if (text == "=") return rel_equal;
    if (text == "<") return rel_less;
    if (text == ">") return rel_greater;
    if (text == "<=") return rel_less_equal;
    if (text == ">=") return rel_greater_equal;
    return rel_none;
}
