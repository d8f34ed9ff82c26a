#include "net/Binding.h"

#include <ostream>

#include "net/Transition.h"

long Binding::idCounter = 0;

Binding::Binding(TokenList* tokens, Transition* t, const DateTime& now) : boundTokens(tokens) { init(t, now); }

Binding::Binding(Transition* t, const DateTime& now) : boundTokens(nullptr) { init(t, now); }

Binding::Binding(const DateTime& t)
    : boundTokens(nullptr), boundTransition(nullptr), time(t), priority(0), ID(idCounter++), weight(1.0),
      fireEvent(false) {}

Binding::Binding(long id, Transition* t, DateTime when, int prio, double w, bool fire, TokenList* tokens)
    : boundTokens(tokens), boundTransition(t), time(when), priority(prio), ID(id), weight(w), fireEvent(fire) {}

Binding& Binding::operator=(const Binding& other) {
    boundTokens = other.boundTokens;
    boundTransition = other.boundTransition;
    time = other.time;
    priority = other.priority;
    ID = other.ID;
    weight = other.weight;
    fireEvent = other.fireEvent;
    return *this;
}

Binding::~Binding() { delete boundTokens; }

void Binding::init(Transition* t, const DateTime& now) {
    boundTransition = t;
    fireEvent = !t->timeguarded();
    updateTime(now);
    priority = t->getPriority();
    weight = t->getFiringWeight();
    ID = idCounter++;
}

// The delay is asked first (it draws new random numbers at every call), also
// for time-guard events, which then wait for the guard as well.
void Binding::updateTime(const DateTime& now) {
    Seconds_T d;
    if (boundTokens != nullptr) {
        d = boundTransition->getFiringDelay(*boundTokens);
    } else {
        TokenList none;
        d = boundTransition->getFiringDelay(none);
    }
    time = now + d;
    if (!fireEvent) time += boundTransition->Timeguard(now);
}

std::ostream& operator<<(std::ostream& out, const Binding& b) {
    if (b.isTempBinding()) out << "Temp";
    out << "Binding[" << (b.isFireEvent() ? "FIRE, " : "TIMEGUARD, ") << b.getBoundTransition()->getName()
        << ", ID: " << b.getID() << ", time: ";
    out.precision(16);
    out << b.getTime().FullDateTime() << ", prio: " << b.getPriority() << ", weight: " << b.getWeight() << "]";
    return out;
}
