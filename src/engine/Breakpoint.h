#pragma once
#include <string>

class MeasureObj;

// The comparisons a breakpoint can make, with the texts the front end sends.
enum BreakpointRelation {
    rel_none = 0,           // any other text: never holds
    rel_equal = 1,          // "="  |x - value| <= 1e-8
    rel_greater = 2,        // ">"
    rel_less = 3,           // "<"
    rel_greater_equal = 4,  // ">="
    rel_less_equal = 5      // "<="
};

// A condition on the current value of a performance measure, set by the
// token game's front end. It only reports whether it holds; it never stops
// anything. A breakpoint without a measure (a placeholder) never holds but
// keeps its position in the front end's list.
class Breakpoint {
public:
    // The measure is not owned; it belongs to the net's measure list.
    Breakpoint(MeasureObj* measure, BreakpointRelation relation, double value);
    // A placeholder: no measure, rel_none, 0.0.
    Breakpoint();

    // Whether the measure's current value stands in the relation to the
    // threshold. A value that is not a number never does.
    bool isTriggered() const;

    // "=", "<", ">", "<=", ">=" exactly; rel_none for anything else.
    static BreakpointRelation stringToRelation(const std::string& text);

    MeasureObj* getMeasure() const { return measure; }
    BreakpointRelation getRelation() const { return relation; }
    double getValue() const { return value; }

    // The greatest distance at which "=" still holds.
    static constexpr double kEqualTolerance = 1e-8;

private:
    MeasureObj* measure;
    BreakpointRelation relation;
    double value;
};
