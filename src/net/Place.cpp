#include "net/Place.h"

#include <iostream>

#include "engine/Simulation.h"
#include "net/NetClass.h"
#include "net/Transition.h"
#include "stats/MeasureObj.h"

Place::Place(int placeId, const char* placeName, NetClass* owner, bool limited, unsigned cap)
    : DefaultGM(placeName, "Place", owner), limitedView(limited), watch(false), capacity(cap), id(placeId) {}

Place::Place(int placeId, const char* placeName, NetClass* owner, PlaceIdentMap attributes, bool limited,
             unsigned cap)
    : Place(placeId, placeName, owner, limited, cap) {
    auto it = attributes.find("watch");
    setWatch(it != attributes.end() && it->second == "true");
}

Place::Place(int placeId, NetClass* owner) : Place(placeId, "noname", owner, false, 0) {}

Place::~Place() {
    marking.clear();
    markingView.clear();
    for (MeasureObj* m : measures) {
        m->decrementRefCount();
        if (m->getRefCount() <= 0) delete m;
    }
}

void Place::addInTransition(Transition* t, int multiplicity) {
    inTransitions.push_back(t);
    inMultiplicities[t->getID()] = multiplicity;
}

void Place::addOutTransition(Transition* t, int multiplicity) {
    outTransitions.push_back(t);
    outMultiplicities[t->getID()] = multiplicity;
    if (t->isInfiniteServer()) notBoundListeners.push_back(t);
}

int Place::getInTransitionMultiplicity(int transitionId) const {
    auto it = inMultiplicities.find(transitionId);
    return it == inMultiplicities.end() ? 0 : it->second;
}

int Place::getOutTransitionMultiplicity(int transitionId) const {
    auto it = outMultiplicities.find(transitionId);
    return it == outMultiplicities.end() ? 0 : it->second;
}

void Place::addGlobalGuardTransition(Transition* t) { globalGuardTransitions.push_back(t); }

// Transitions that read the place through an ordinary input arc are not told
// here: a new token reaches them through the could-enable notification after
// the firing that produced it, a lost token through its own transition list.
void Place::addToken(Ptr<Token> t) {
    marking.push_back(std::move(t));
    // The notifications never take a token out of this place, so the
    // marking's own handle stays valid while they run.
    const Ptr<Token>& added = marking.back();
    for (Transition* g : globalGuardTransitions) g->placeNotify();
    for (Transition* c : notBoundListeners) c->addNotBoundToken(added);
}

void Place::removeToken(const Ptr<Token>& t) {
    if (globalGuardTransitions.empty() && notBoundListeners.empty()) {
        marking.removeAll(t.GetRawPtr());
        return;
    }
    // `t` may be the marking's own handle, gone with the removal, while the
    // listeners still need the token.
    const Ptr<Token> kept(t);
    marking.removeAll(kept.GetRawPtr());
    for (Transition* g : globalGuardTransitions) g->placeNotify();
    for (Transition* c : notBoundListeners) c->removeNotBoundToken(kept);
}

MarkingList& Place::limitedMarking(int count) {
    markingView.clear();
    int n = 0;
    for (auto it = marking.begin(); it != marking.end() && n < count; ++it, ++n) markingView.push_back(*it);
    return markingView;
}

std::string Place::content() const {
    std::string text;
    bool first = true;
    for (const auto& t : marking) {
        if (!first) text += ",";
        text += t->content();
        first = false;
    }
    return text;
}

void Place::sendContent() { net->getSimulation()->measureOut(this, static_cast<double>(getMarkingSize())); }

void Place::addMeasure(MeasureObj* m) {
    m->incrementRefCount();
    measures.push_back(m);
}

void Place::printTrans() {
    std::cout << "\t<-\n";
    for (Transition* t : inTransitions) std::cout << "\t\t" << t->getName() << "\n";
    std::cout << "\t->\n";
    for (Transition* t : outTransitions) std::cout << "\t\t" << t->getName() << "\n";
    std::cout.flush();
}

std::ostream& operator<<(std::ostream& out, const Place& p) { return out << p.getName() << " (Place)"; }
