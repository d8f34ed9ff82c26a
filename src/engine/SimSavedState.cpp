#include "engine/SimSavedState.h"

#include "net/Binding.h"
#include "net/NetClass.h"
#include "net/Place.h"
#include "net/Token.h"
#include "net/Transition.h"

SimSavedState::SimSavedState(NetClass* theNet, int level, DateTime time)
    : stateLevel(level), stateTime(time), net(theNet) {
    setSavedMarkings();
    for (const auto& entry : net->getTransitions()) saveTransitionStates(*entry.second);
}

// ---------------------------------------------------------------------------
// Taking the snapshot

void SimSavedState::setSavedMarkings() {
    savedMarkings.clear();
    savedTokens.clear();
    for (const auto& entry : net->getPlaces()) savePlaceMarking(*entry.second);
}

// A token that lies in several places is copied once, so that it stays one
// token after a restore.
void SimSavedState::savePlaceMarking(Place& p) {
    std::vector<long>& ids = savedMarkings[p.getName()];
    for (const Ptr<Token>& t : p.getFullMarking()) {
        const long id = t->getID();
        if (savedTokens.find(id) == savedTokens.end()) savedTokens[id] = net->copyToken(t);
        ids.push_back(id);
    }
}

void SimSavedState::saveTransitionStates(Transition& t) {
    saveTransitionAffected(t);
    saveTransitionBindings(t);
    saveTransitionNotBoundTokens(t);
}

void SimSavedState::saveTransitionAffected(Transition& t) {
    savedCouldEnable[t.getName()] = t.getCouldEnableTransitions();
    savedCouldDisable[t.getName()] = t.getCouldDisableTransitions();
    savedInEventList[t.getName()] = t.getInEventList();
    savedTimeguardOptimization[t.getName()] = t.getTimeguardOptimization();
}

void SimSavedState::saveTransitionBindings(Transition& t) {
    std::set<BindingDummy>& events = savedBindings[t.getName()];
    events.clear();
    for (Binding* b : t.getEvents()) {
        const TokenList* tokens = b->getBoundTokens();
        events.insert(BindingDummy(b->getID(), b->getBoundTransition(), b->getTime(), b->getPriority(),
                                   b->getWeight(), b->isFireEvent(),
                                   tokens != nullptr ? createTokensIDList(*tokens) : std::vector<long>(),
                                   tokens == nullptr));
    }
}

void SimSavedState::saveTransitionNotBoundTokens(Transition& t) {
    std::vector<long>& ids = savedNotBoundTokens[t.getName()];
    ids.clear();
    for (const Ptr<Token>& token : t.getNotBoundTokens()) ids.push_back(token->getID());
}

void SimSavedState::setSavedBindings() {
    for (const auto& entry : net->getTransitions()) saveTransitionBindings(*entry.second);
}

void SimSavedState::setSavedNotBoundTokens() {
    for (const auto& entry : net->getTransitions()) saveTransitionNotBoundTokens(*entry.second);
}

void SimSavedState::setSavedAffectedTransitions() {
    for (const auto& entry : net->getTransitions()) saveTransitionAffected(*entry.second);
}

// ---------------------------------------------------------------------------
// Restoring

void SimSavedState::restoreMarkings(const std::map<std::string, Place*>& places) {
    restoredTokens.clear();
    for (const auto& entry : places) restorePlaceMarking(*entry.second);
}

// Every restore places fresh copies, so the snapshot's own copies stay as
// they were taken whatever the run does to the restored ones.
void SimSavedState::restorePlaceMarking(Place& p) {
    p.removeCurrentMarking();
    auto saved = savedMarkings.find(p.getName());
    if (saved == savedMarkings.end()) return;
    for (long id : saved->second) {
        auto restored = restoredTokens.find(id);
        if (restored != restoredTokens.end()) {
            p.addRestoredToken(restored->second);
            continue;
        }
        Ptr<Token> copy = net->copyToken(getSavedToken(id));
        if (copy == 0) continue;
        p.addRestoredToken(copy);
        addRestoredToken(copy);
    }
}

void SimSavedState::restoreTransitionStates(const std::map<std::string, Transition*>& transitions) {
    for (const auto& entry : transitions) {
        restoreTransitionAffected(*entry.second);
        restoreTransitionBindings(*entry.second);
        restoreTransitionNotBoundTokens(*entry.second);
    }
}

void SimSavedState::restoreTransitionAffected(Transition& t) {
    const std::string& name = t.getName();
    if (savedCouldEnable.count(name)) t.setCouldEnableTransitions(savedCouldEnable[name]);
    if (savedCouldDisable.count(name)) t.setCouldDisableTransitions(savedCouldDisable[name]);
    if (savedInEventList.count(name)) t.setInEventList(savedInEventList[name]);
    if (savedTimeguardOptimization.count(name)) t.setTimeguardOptimization(savedTimeguardOptimization[name]);
}

void SimSavedState::restoreSavedAffectedTransitions(const std::map<std::string, Transition*>& transitions) {
    for (const auto& entry : transitions) restoreTransitionAffected(*entry.second);
}

// The restored tokens carry the transition lists of the moment of the
// snapshot (copies keep them), so the rebuilt events need no registration.
void SimSavedState::restoreTransitionBindings(Transition& t) {
    t.removeCurrentBindings();
    auto saved = savedBindings.find(t.getName());
    if (saved == savedBindings.end()) return;
    for (const BindingDummy& d : saved->second) {
        TokenList* tokens = nullptr;
        if (!d.isTempBinding()) {
            tokens = createTokenList(d.getTokensID());
            if (tokens == nullptr) continue;
        }
        t.addRestoredBinding(new Binding(d.getID(), d.getBoundTransition(), d.getTime(), d.getPriority(),
                                         d.getWeight(), d.isFireEvent(), tokens));
    }
}

void SimSavedState::restoreTransitionNotBoundTokens(Transition& t) {
    t.removeCurrentNotBoundTokens();
    auto saved = savedNotBoundTokens.find(t.getName());
    if (saved == savedNotBoundTokens.end()) return;
    for (long id : saved->second) {
        Ptr<Token> token = getRestoredToken(id);
        if (token != 0) t.addNotBoundToken(token);
    }
}

// ---------------------------------------------------------------------------
// Tokens by id

std::vector<long> SimSavedState::getSavedTokensID(const std::string& place) const {
    auto it = savedMarkings.find(place);
    return it == savedMarkings.end() ? std::vector<long>() : it->second;
}

Ptr<Token> SimSavedState::getSavedToken(long id) const {
    auto it = savedTokens.find(id);
    return it == savedTokens.end() ? Ptr<Token>() : it->second;
}

Ptr<Token> SimSavedState::getRestoredToken(long id) const {
    auto it = restoredTokens.find(id);
    return it == restoredTokens.end() ? Ptr<Token>() : net->upcastToken(it->second);
}

void SimSavedState::addRestoredToken(const Ptr<Token>& t) { restoredTokens[t->getID()] = t; }

std::vector<long> SimSavedState::createTokensIDList(const TokenList& tokens) {
    std::vector<long> ids;
    ids.reserve(tokens.size());
    for (const Ptr<Token>& t : tokens) ids.push_back(t->getID());
    return ids;
}

TokenList* SimSavedState::createTokenList(const std::vector<long>& ids) const {
    TokenList* tokens = new TokenList;
    for (long id : ids) {
        Ptr<Token> t = getRestoredToken(id);
        if (t == 0) {
            delete tokens;
            return nullptr;
        }
        tokens->push_back(t);
    }
    return tokens;
}
