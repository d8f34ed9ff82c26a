#include "net/Binding.h"

#include <ostream>

#include "net/Transition.h"

long Binding::idCounter = 0;

namespace {
// The handles of an owned list, which is deleted; an empty list for null.
TokenList adopt(TokenList* owned) {
    if (owned == nullptr) return TokenList();
    TokenList taken(std::move(*owned));
    delete owned;
    return taken;
}
}  // namespace

Binding::Binding(TokenList* owned, Transition* t, const DateTime& now)
    : tokens(adopt(owned)), holdsTokens(owned != nullptr) {
    init(t, now);
}

Binding::Binding(Transition* t, const DateTime& now) : holdsTokens(false) { init(t, now); }

Binding::Binding(const DateTime& t)
    : holdsTokens(false), boundTransition(nullptr), time(t), priority(0), ID(idCounter++), weight(1.0),
      fireEvent(false) {}

Binding::Binding(long id, Transition* t, DateTime when, int prio, double w, bool fire, TokenList* owned)
    : tokens(adopt(owned)),
      holdsTokens(owned != nullptr),
      boundTransition(t),
      time(when),
      priority(prio),
      ID(id),
      weight(w),
      fireEvent(fire) {}

void Binding::convertTempBinding(TokenList* owned) {
    tokens = adopt(owned);
    holdsTokens = owned != nullptr;
}

Binding& Binding::operator=(const Binding& other) {
    tokens = other.tokens;
    holdsTokens = other.holdsTokens;
    boundTransition = other.boundTransition;
    time = other.time;
    priority = other.priority;
    ID = other.ID;
    weight = other.weight;
    fireEvent = other.fireEvent;
    return *this;
}

std::ostream& operator<<(std::ostream& out, const Binding& b) {
    if (b.isTempBinding()) out << "Temp";
    out << "Binding[" << (b.isFireEvent() ? "FIRE, " : "TIMEGUARD, ") << b.getBoundTransition()->getName()
        << ", ID: " << b.getID() << ", time: ";
    out.precision(16);
    out << b.getTime().FullDateTime() << ", prio: " << b.getPriority() << ", weight: " << b.getWeight() << "]";
    return out;
}
