#pragma once
#include <vector>

#include "time/DateTime.h"

class Transition;

// A flattened copy of a binding whose tokens are given by their ids; saved
// simulation states keep their pending events in this form.
class BindingDummy {
public:
    BindingDummy(long ID, Transition* t, DateTime time, int priority, double weight, bool fireEvent,
                 std::vector<int> tokensID);
    BindingDummy(const BindingDummy&) = default;
    BindingDummy& operator=(const BindingDummy&) = default;

    Transition* getBoundTransition() const { return boundTransition; }
    const DateTime& getTime() const { return time; }
    int getPriority() const { return priority; }
    long getID() const { return ID; }
    double getWeight() const { return weight; }
    bool isFireEvent() const { return fireEvent; }
    std::vector<int> getTokensID() const { return tokensID; }

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
    std::vector<int> tokensID;
};
