#pragma once
#include <iosfwd>

#include "base/BlockPool.h"
#include "net/TokenList.h"
#include "time/DateTime.h"

class Transition;

// One scheduled event of one transition: the tokens it will consume, when it
// fires, with which priority and weight, and whether it is a real firing or
// only the moment a time guard opens. A binding without tokens is a
// time-guard placeholder; one without a transition is a plain time stamp.
class Binding {
public:
    static long idCounter;  // the ID of the next binding; never reset

    // Takes ownership of `tokens`.
    Binding(TokenList* tokens, Transition* t, const DateTime& now);
    // An event whose tokens are filled in place (tokensToFill) before init
    // times it, so that a search can bind straight into its event.
    Binding() : holdsTokens(true), boundTransition(nullptr), priority(0), ID(-1), weight(1.0), fireEvent(true) {}
    // A time-guard placeholder.
    Binding(Transition* t, const DateTime& now);
    // A time stamp for the measures.
    explicit Binding(const DateTime& time);
    // A saved event rebuilt with its own ID (idCounter is left alone).
    Binding(long ID, Transition* t, DateTime time, int priority, double weight, bool fireEvent, TokenList* tokens);
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding& other);
    ~Binding() = default;

    // Takes the transition's event properties and times the event. Inline
    // (defined in net/Transition.h, which it reads): a search makes one
    // event after another.
    inline void init(Transition* t, const DateTime& now);
    // init for a caller that knows whether the transition has a time guard
    // (`firing`: it has none, the event is a firing).
    inline void initAs(Transition* t, const DateTime& now, bool firing);
    // Sets the time: now plus a fresh delay, plus the time guard's wait
    // (inline in net/Transition.h as well).
    inline void updateTime(const DateTime& now);
    // Takes ownership of `tokens`: the placeholder becomes a firing event.
    void convertTempBinding(TokenList* tokens);

    TokenList& tokensToFill() { return tokens; }
    // The bound tokens; null for a placeholder or a time stamp.
    TokenList* getBoundTokens() { return holdsTokens ? &tokens : nullptr; }
    const TokenList* getBoundTokens() const { return holdsTokens ? &tokens : nullptr; }
    Transition* getBoundTransition() const { return boundTransition; }
    const DateTime& getTime() const { return time; }
    void setTime(const DateTime& t) { time = t; }
    int getPriority() const { return priority; }
    long getID() const { return ID; }
    double getWeight() const { return weight; }
    bool isFireEvent() const { return fireEvent; }
    bool isTempBinding() const { return !holdsTokens; }

    // Event order: earlier time, then higher priority, then older binding.
    bool operator<(const Binding& b) const {
        if (time != b.time) return time < b.time;
        if (priority != b.priority) return priority > b.priority;
        return ID < b.ID;
    }
    bool operator==(const Binding& b) const { return ID == b.ID; }

    USE_BLOCK_POOL(Binding)

private:
    // The tokens live inside the binding (a binding binds one to a few), so
    // that making and dropping an event allocates one object, not two.
    TokenList tokens;
    bool holdsTokens;
    Transition* boundTransition;
    DateTime time;
    int priority;
    long ID;
    double weight;
    bool fireEvent;
};

std::ostream& operator<<(std::ostream& out, const Binding& b);

// Comparison object of the event lists: orders binding pointers by the
// bindings' event order.
template <class T>
struct DerefLess {
    bool operator()(const T& a, const T& b) const { return *a < *b; }
};
