#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Ptr.h"
#include "net/BindingDummy.h"
#include "net/TokenList.h"
#include "time/DateTime.h"

class NetClass;
class Place;
class Transition;
class Token;

using ReferenceCountedSmartPointer::Ptr;

// A snapshot of a running net that RESTART returns to again and again: the
// marking of every place, the pending events, not-bound tokens and change
// lists of every transition, and the time, threshold level and retrials left
// of the snapshot. It keeps private copies of the tokens (with their ids),
// and events and not-bound lists only as token ids, so a restore puts fresh
// copies into the places and rebuilds everything that refers to them; the
// snapshot itself is never consumed.
class SimSavedState {
public:
    SimSavedState(NetClass* net, int level, DateTime time);

    // The markings first, then the transitions, which refer to the tokens
    // the markings brought back.
    void restoreMarkings(const std::map<std::string, Place*>& places);
    void restoreTransitionStates(const std::map<std::string, Transition*>& transitions);

    const DateTime& getStateTime() const { return stateTime; }
    void setStateTime(const DateTime& t) { stateTime = t; }
    int getStateLevel() const { return stateLevel; }
    void setStateLevel(int level) { stateLevel = level; }
    int getTrials() const { return trials; }
    void setTrials(int n) { trials = n; }
    void decrementTrials() { --trials; }

    std::vector<long> getSavedTokensID(const std::string& place) const;
    Ptr<Token> getSavedToken(long id) const;
    // The token with that id that the latest restore put into the net, as
    // its colour class; null when there is none.
    Ptr<Token> getRestoredToken(long id) const;
    void addRestoredToken(const Ptr<Token>& t);
    static std::vector<long> createTokensIDList(const TokenList& tokens);
    // A new token list of the restored tokens with these ids, in order; the
    // binding built from it owns it. Null when one of them cannot be
    // restored.
    TokenList* createTokenList(const std::vector<long>& ids) const;

    // One part of the snapshot for every element at once (the constructor
    // takes all of them).
    void setSavedMarkings();
    void setSavedBindings();
    void setSavedNotBoundTokens();
    void setSavedAffectedTransitions();
    void restoreSavedAffectedTransitions(const std::map<std::string, Transition*>& transitions);

private:
    void savePlaceMarking(Place& p);
    void saveTransitionStates(Transition& t);
    void saveTransitionBindings(Transition& t);
    void saveTransitionNotBoundTokens(Transition& t);
    void saveTransitionAffected(Transition& t);
    void restorePlaceMarking(Place& p);
    void restoreTransitionBindings(Transition& t);
    void restoreTransitionNotBoundTokens(Transition& t);
    void restoreTransitionAffected(Transition& t);

    std::map<std::string, std::vector<long>> savedMarkings;
    std::map<std::string, std::set<BindingDummy>> savedBindings;
    std::map<std::string, std::vector<long>> savedNotBoundTokens;
    std::map<long, Ptr<Token>> savedTokens;
    std::map<long, Ptr<Token>> restoredTokens;
    std::map<std::string, std::vector<Transition*>> savedCouldEnable;
    std::map<std::string, std::vector<Transition*>> savedCouldDisable;
    std::map<std::string, bool> savedInEventList;
    // Whether the transition waits for its time guard with a placeholder
    // event: it decides what the transition does after its next firing.
    std::map<std::string, bool> savedTimeguardOptimization;
    int stateLevel;
    DateTime stateTime;
    int trials = 0;
    NetClass* net;
};
