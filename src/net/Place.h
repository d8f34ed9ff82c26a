#pragma once
#include <atomic>
#include <iosfwd>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

#include "net/DefaultGM.h"
#include "net/MarkingList.h"
#include "net/TokenList.h"

class Transition;
class MeasureObj;

// A place: its marking (token handles, oldest first), the transitions on
// either side with their arc multiplicities, and the measures that read it.
// Every token that arrives or leaves is announced to the transitions whose
// global guard reads the place and to the consumers' not-bound lists.
class Place : public DefaultGM {
public:
    Place(int id, const char* name, NetClass* net, bool limitedView, unsigned capacity);
    Place(int id, const char* name, NetClass* net, PlaceIdentMap attributes, bool limitedView, unsigned capacity);
    // A place without a name ("noname"): unlimited, nothing watched.
    Place(int id, NetClass* net);
    ~Place() override;

    int getID() const { return id; }
    unsigned getCapacity() const { return capacity; }
    unsigned getMarkingSize() const { return static_cast<unsigned>(marking.size()); }
    MarkingList& getFullMarking() { return marking; }
    std::list<Transition*>& getInTransitions() { return inTransitions; }
    std::list<Transition*>& getOutTransitions() { return outTransitions; }
    std::vector<MeasureObj*>& getMeasures() { return measures; }
    void setWatch(bool w) {
        watch = w;
        if (w) someWatched.store(true, std::memory_order_relaxed);
    }
    bool getWatch() const { return watch; }
    // Whether any place has been watched so far: until one is, a firing
    // need not ask its places whether they are.
    static bool anyWatched() { return someWatched.load(std::memory_order_relaxed); }
    bool hasLimitedView() const { return limitedView; }

    // Whether `n` more tokens fit (capacity 0 is unlimited).
    bool canTake(unsigned n) const { return capacity == 0 || capacity >= n + getMarkingSize(); }

    void addInTransition(Transition* t, int multiplicity);
    void addOutTransition(Transition* t, int multiplicity);
    int getInTransitionMultiplicity(int transitionId) const;
    int getOutTransitionMultiplicity(int transitionId) const;
    void addGlobalGuardTransition(Transition* t);

    void addToken(Ptr<Token> t);
    // `t` may be one of this place's own handles.
    void removeToken(const Ptr<Token>& t);
    // What a transition may bind from: the whole marking, or with a limited
    // view only its `count` oldest tokens.
    MarkingList& getMarking(int count) { return limitedView ? limitedMarking(count) : marking; }

    std::string content() const;
    // Sends the token count to the front end when the place is watched;
    // every firing asks for the places of its arcs, most of them unwatched.
    void displContent() {
        if (watch) sendContent();
    }
    void addMeasure(MeasureObj* m);

    // Restore hooks of saved states: no notifications.
    void removeCurrentMarking() { marking.clear(); }
    void addRestoredToken(Ptr<Token> t) { marking.push_back(t); }

    void printTrans();

private:
    void sendContent();
    MarkingList& limitedMarking(int count);

    // What every search and firing reads comes first, close together.
    MarkingList marking;
    bool limitedView;
    bool watch;
    unsigned capacity;
    // Set once and kept: a flag that is never cleared cannot miss a place.
    // Atomic: a net may be built on one thread and run on another (the
    // token-game tests do); relaxed, since it guards no other data.
    static inline std::atomic<bool> someWatched{false};
    std::list<Transition*> globalGuardTransitions;
    // Consumers whose not-bound list follows the marking (infinite-server
    // transitions), kept apart so that adding a token to a place read by
    // many single-server transitions costs nothing per transition.
    std::vector<Transition*> notBoundListeners;
    int id;
    std::list<Transition*> inTransitions;
    std::unordered_map<int, int> inMultiplicities;
    std::list<Transition*> outTransitions;
    std::unordered_map<int, int> outMultiplicities;
    MarkingList markingView;
    std::vector<MeasureObj*> measures;
};

std::ostream& operator<<(std::ostream& out, const Place& p);
