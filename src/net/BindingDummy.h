#pragma once
#include <vector>

#include "time/DateTime.h"

class Transition;

// A flattened copy of a binding whose tokens are given by their ids; saved
// simulation states keep their pending events in this form.
class BindingDummy {
public:
    // `placeholder`: the event holds no token list at all (a time-guard
    // placeholder), which an empty list of ids cannot tell.
    BindingDummy(long ID, Transition* t, DateTime time, int priority, double weight, bool fireEvent,
                 std::vector<long> tokensID, bool placeholder = false);
    BindingDummy(const BindingDummy&) = default;
    BindingDummy& operator=(const BindingDummy&) = default;

    Transition* getBoundTransition() const { return boundTransition; }
    const DateTime& getTime() const { return time; }
    int getPriority() const { return priority; }
    long getID() const { return ID; }
    double getWeight() const { return weight; }
    bool isFireEvent() const { return fireEvent; }
    const std::vector<long>& getTokensID() const { return tokensID; }
    bool isTempBinding() const { return placeholder; }

    // The same event order as Binding.
    bool operator<(const BindingDummy& b) const {
        if (time != b.time) return time < b.time;
        if (priority != b.priority) return priority > b.priority;
        return ID < b.ID;
    }
    bool operator==(const BindingDummy& b) const { return ID == b.ID; }

private:
    Transition* boundTransition;
    DateTime time;
    int priority;
    long ID;
    double weight;
    bool fireEvent;
    std::vector<long> tokensID;
    bool placeholder;
};
