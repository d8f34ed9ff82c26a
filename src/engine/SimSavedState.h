#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <utility>
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
    // Records a copy of one of the snapshot's tokens as the restored one.
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
    // The parts of the snapshot are kept in the order of the net's maps (by
    // name), with the element they belong to, so that taking and restoring a
    // snapshot walks them side by side with the net.
    struct PlaceMarking {
        Place* place;
        std::vector<long> ids;  // token ids, in marking order
    };
    struct TransitionState {
        Transition* transition;
        std::vector<BindingDummy> events;  // in event order
        std::vector<long> notBound;        // in list order
        std::vector<Transition*> couldEnable;
        std::vector<Transition*> couldDisable;
        bool inEventList = false;
        // Whether the transition waits for its time guard with a
        // placeholder event: it decides what it does after its next firing.
        bool timeguardOptimization = false;
    };

    TransitionState& stateOf(Transition& t);
    const PlaceMarking* markingOf(const Place& p, std::size_t& hint) const;
    const TransitionState* stateOf(const Transition& t, std::size_t& hint) const;
    // Position of a token id in savedTokens; npos when absent.
    std::size_t indexOf(long id) const;
    Ptr<Token> restoredCopy(std::size_t index);

    void saveTransitionBindings(TransitionState& s);
    void saveTransitionNotBoundTokens(TransitionState& s);
    void saveTransitionAffected(TransitionState& s);
    void restorePlaceMarking(Place& p, const PlaceMarking* saved);
    void restoreTransitionBindings(Transition& t, const TransitionState& saved);
    void restoreTransitionNotBoundTokens(Transition& t, const TransitionState& saved);
    static void restoreTransitionAffected(Transition& t, const TransitionState& saved);

    std::vector<PlaceMarking> savedMarkings;
    std::vector<TransitionState> savedTransitions;
    // The snapshot's private token copies, sorted by id, and the copies the
    // latest restore placed into the net, at the same positions (null where
    // no place holds the token).
    std::vector<std::pair<long, Ptr<Token>>> savedTokens;
    std::vector<Ptr<Token>> restoredTokens;
    int stateLevel;
    DateTime stateTime;
    int trials = 0;
    NetClass* net;
};
