#pragma once
#include <iosfwd>
#include <string>
#include <vector>

#include "Ptr.h"
#include "frame/MainClass.h"
#include "net/TransitionRefs.h"
#include "time/DateTime.h"

class Transition;
struct token_info;

using ReferenceCountedSmartPointer::Ptr;

// A coloured token. Every colour type of a net derives from Token; tokens are
// only ever held through Ptr handles and die with the last one.
//
// Besides its colour a token carries a unique id, its wall-clock creation
// time and the transitions that hold an event binding it: when a firing
// consumes the token, exactly those transitions are told (notifyTransitions).
class Token {
public:
    // Class-wide population counters, printed at the end of the program.
    static long tokenCounter;         // id of the next new token = tokens created so far
    static long concTokenCounter;     // tokens alive now
    static long maxConcTokenCounter;  // largest number alive at once

    Token();
    // A copy with the same id and creation time; the transition list is
    // copied only when `copyTransition` is set. The id counter is not moved.
    Token(const Token& other, bool copyTransition);
    // A plain copy would bypass the live-token count that the destructor
    // lowers; copies are made with the constructor above.
    Token(const Token&) = delete;
    virtual ~Token();

    virtual void setReferenceAttribute(const char* attribute, Ptr<Token> target);
    virtual Token& operator=(const Token& other);
    virtual bool operator==(const Token& other) const { return id == other.id; }
    virtual std::string getName() const = 0;
    virtual std::string content() const;

    long getID() const { return id; }
    const DateTime& getCreationTime() const { return creationTime; }

    // Every binding registers and unregisters its tokens: the common case
    // without the transition log is kept inline.
    void addTransition(Transition* t) { addTransition(t, MainClass::getLog()->isTransLogging()); }
    void removeTransition(Transition* t) { removeTransition(t, MainClass::getLog()->isTransLogging()); }
    // The same for a caller that registers or withdraws several tokens and
    // has asked once whether the transition log is open (`tracing`).
    void addTransition(Transition* t, bool tracing) {
        if (tracing) traceTransition(" added Transition ", t);
        transitions.push_back(t);
    }
    void removeTransition(Transition* t, bool tracing) {
        if (tracing) traceTransition(" removed Transition ", t);
        transitions.removeAll(t);
    }
    // As addTransition, for a caller that knows `t` is not registered here.
    void addNewTransition(Transition* t, bool tracing) {
        if (tracing) traceTransition(" added Transition ", t);
        transitions.addNew(t);
    }
    bool containsTransition(Transition* t) const;
    // A copy of the transition list, in insertion order.
    std::vector<Transition*> getTransitions() const {
        return std::vector<Transition*>(transitions.begin(), transitions.end());
    }

    // Tells every transition holding a binding with this token that it is
    // gone; `self` is a handle to this token that stays alive through the
    // call (the fired event's), so that the token outlives the holders'
    // withdrawals without a copy of the handle.
    void notifyTransitions(const Ptr<Token>& self);

    static Ptr<Token> findToken(std::vector<token_info*>& infos, const char* typeName, int id);

private:
    friend class MarkingList;

    // The transition-log line of a registration change.
    void traceTransition(const char* what, const Transition* t) const;

    TransitionRefs transitions;
    DateTime creationTime;
    long id;
    // How many marking-list entries hold this token (a place's marking, the
    // not-bound lists), so that removing a token that lies once, at the
    // front of a marking, needs no search.
    unsigned markingEntries = 0;
};

std::ostream& operator<<(std::ostream& out, const Token& token);
