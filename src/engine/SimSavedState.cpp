#include "engine/SimSavedState.h"

#include <algorithm>

#include "net/Binding.h"
#include "net/NetClass.h"
#include "net/Place.h"
#include "net/Token.h"
#include "net/Transition.h"

namespace {
const std::size_t npos = static_cast<std::size_t>(-1);
}  // namespace

SimSavedState::SimSavedState(NetClass* theNet, int level, DateTime time)
    : stateLevel(level), stateTime(time), net(theNet) {
    setSavedMarkings();
    savedTransitions.reserve(net->getTransitions().size());
    for (const auto& entry : net->getTransitions()) {
        TransitionState& s = stateOf(*entry.second);
        saveTransitionAffected(s);
        saveTransitionBindings(s);
        saveTransitionNotBoundTokens(s);
    }
}

// ---------------------------------------------------------------------------
// Taking the snapshot

// Every token is copied once, however many places hold it, so that it stays
// one token after a restore.
void SimSavedState::setSavedMarkings() {
    savedMarkings.clear();
    savedMarkings.reserve(net->getPlaces().size());
    std::vector<std::pair<long, Ptr<Token>>> originals;
    for (const auto& entry : net->getPlaces()) {
        savedMarkings.push_back(PlaceMarking{entry.second, {}});
        std::vector<long>& ids = savedMarkings.back().ids;
        ids.reserve(entry.second->getMarkingSize());
        for (const Ptr<Token>& t : entry.second->getFullMarking()) {
            ids.push_back(t->getID());
            originals.emplace_back(t->getID(), t);
        }
    }
    std::stable_sort(originals.begin(), originals.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    originals.erase(std::unique(originals.begin(), originals.end(),
                                [](const auto& a, const auto& b) { return a.first == b.first; }),
                    originals.end());
    savedTokens.clear();
    savedTokens.reserve(originals.size());
    for (const auto& original : originals) savedTokens.emplace_back(original.first, net->copyToken(original.second));
    restoredTokens.assign(savedTokens.size(), Ptr<Token>());
}

SimSavedState::TransitionState& SimSavedState::stateOf(Transition& t) {
    for (TransitionState& s : savedTransitions)
        if (s.transition == &t) return s;
    savedTransitions.push_back(TransitionState());
    savedTransitions.back().transition = &t;
    return savedTransitions.back();
}

void SimSavedState::saveTransitionAffected(TransitionState& s) {
    const Transition& t = *s.transition;
    s.couldEnable = t.getCouldEnableTransitions();
    s.couldDisable = t.getCouldDisableTransitions();
    s.inEventList = t.getInEventList();
    s.timeguardOptimization = t.getTimeguardOptimization();
}

void SimSavedState::saveTransitionBindings(TransitionState& s) {
    s.events.clear();
    for (Binding* b : s.transition->getEvents()) {
        const TokenList* tokens = b->getBoundTokens();
        s.events.emplace_back(b->getID(), b->getBoundTransition(), b->getTime(), b->getPriority(), b->getWeight(),
                              b->isFireEvent(), tokens != nullptr ? createTokensIDList(*tokens) : std::vector<long>(),
                              tokens == nullptr);
    }
}

void SimSavedState::saveTransitionNotBoundTokens(TransitionState& s) {
    s.notBound.clear();
    for (const Ptr<Token>& token : s.transition->getNotBoundTokens()) s.notBound.push_back(token->getID());
}

void SimSavedState::setSavedBindings() {
    for (const auto& entry : net->getTransitions()) saveTransitionBindings(stateOf(*entry.second));
}

void SimSavedState::setSavedNotBoundTokens() {
    for (const auto& entry : net->getTransitions()) saveTransitionNotBoundTokens(stateOf(*entry.second));
}

void SimSavedState::setSavedAffectedTransitions() {
    for (const auto& entry : net->getTransitions()) saveTransitionAffected(stateOf(*entry.second));
}

// ---------------------------------------------------------------------------
// Restoring

// The saved part of an element, looked for from `hint` on: the maps are
// walked in the order they were saved in, so it is usually the next one.
const SimSavedState::PlaceMarking* SimSavedState::markingOf(const Place& p, std::size_t& hint) const {
    for (std::size_t n = 0; n < savedMarkings.size(); ++n, ++hint) {
        if (hint >= savedMarkings.size()) hint = 0;
        if (savedMarkings[hint].place == &p) return &savedMarkings[hint++];
    }
    return nullptr;
}

const SimSavedState::TransitionState* SimSavedState::stateOf(const Transition& t, std::size_t& hint) const {
    for (std::size_t n = 0; n < savedTransitions.size(); ++n, ++hint) {
        if (hint >= savedTransitions.size()) hint = 0;
        if (savedTransitions[hint].transition == &t) return &savedTransitions[hint++];
    }
    return nullptr;
}

void SimSavedState::restoreMarkings(const std::map<std::string, Place*>& places) {
    restoredTokens.assign(savedTokens.size(), Ptr<Token>());
    std::size_t hint = 0;
    for (const auto& entry : places) restorePlaceMarking(*entry.second, markingOf(*entry.second, hint));
}

void SimSavedState::restorePlaceMarking(Place& p, const PlaceMarking* saved) {
    p.removeCurrentMarking();
    if (saved == nullptr) return;
    for (long id : saved->ids) {
        Ptr<Token> token = restoredCopy(indexOf(id));
        if (token != 0) p.addRestoredToken(token);
    }
}

// Every restore places fresh copies, so the snapshot's own copies stay as
// they were taken whatever the run does to the restored ones.
Ptr<Token> SimSavedState::restoredCopy(std::size_t index) {
    if (index == npos) return Ptr<Token>();
    if (restoredTokens[index] == 0) restoredTokens[index] = net->copyToken(savedTokens[index].second);
    return restoredTokens[index];
}

void SimSavedState::restoreTransitionStates(const std::map<std::string, Transition*>& transitions) {
    std::size_t hint = 0;
    for (const auto& entry : transitions) {
        Transition& t = *entry.second;
        const TransitionState* saved = stateOf(t, hint);
        if (saved == nullptr) {
            t.removeCurrentBindings();
            t.removeCurrentNotBoundTokens();
            continue;
        }
        restoreTransitionAffected(t, *saved);
        restoreTransitionBindings(t, *saved);
        restoreTransitionNotBoundTokens(t, *saved);
    }
}

void SimSavedState::restoreTransitionAffected(Transition& t, const TransitionState& saved) {
    t.setCouldEnableTransitions(saved.couldEnable);
    t.setCouldDisableTransitions(saved.couldDisable);
    t.setInEventList(saved.inEventList);
    t.setTimeguardOptimization(saved.timeguardOptimization);
}

void SimSavedState::restoreSavedAffectedTransitions(const std::map<std::string, Transition*>& transitions) {
    std::size_t hint = 0;
    for (const auto& entry : transitions)
        if (const TransitionState* saved = stateOf(*entry.second, hint))
            restoreTransitionAffected(*entry.second, *saved);
}

// The restored tokens carry the transition lists of the moment of the
// snapshot (copies keep them), so the rebuilt events need no registration.
void SimSavedState::restoreTransitionBindings(Transition& t, const TransitionState& saved) {
    t.removeCurrentBindings();
    for (const BindingDummy& d : saved.events) {
        TokenList* tokens = nullptr;
        if (!d.isTempBinding()) {
            tokens = createTokenList(d.getTokensID());
            if (tokens == nullptr) continue;
        }
        t.addRestoredBinding(new Binding(d.getID(), d.getBoundTransition(), d.getTime(), d.getPriority(),
                                         d.getWeight(), d.isFireEvent(), tokens));
    }
}

void SimSavedState::restoreTransitionNotBoundTokens(Transition& t, const TransitionState& saved) {
    t.removeCurrentNotBoundTokens();
    for (long id : saved.notBound) {
        Ptr<Token> token = getRestoredToken(id);
        if (token != 0) t.addNotBoundToken(token);
    }
}

// ---------------------------------------------------------------------------
// Tokens by id

std::size_t SimSavedState::indexOf(long id) const {
    auto it = std::lower_bound(savedTokens.begin(), savedTokens.end(), id,
                               [](const std::pair<long, Ptr<Token>>& entry, long key) { return entry.first < key; });
    return it != savedTokens.end() && it->first == id ? static_cast<std::size_t>(it - savedTokens.begin()) : npos;
}

std::vector<long> SimSavedState::getSavedTokensID(const std::string& place) const {
    for (const PlaceMarking& m : savedMarkings)
        if (m.place->getName() == place) return m.ids;
    return std::vector<long>();
}

Ptr<Token> SimSavedState::getSavedToken(long id) const {
    const std::size_t index = indexOf(id);
    return index == npos ? Ptr<Token>() : savedTokens[index].second;
}

Ptr<Token> SimSavedState::getRestoredToken(long id) const {
    const std::size_t index = indexOf(id);
    if (index == npos || restoredTokens[index] == 0) return Ptr<Token>();
    return net->upcastToken(restoredTokens[index]);
}

// A token of another origin (not copied from this snapshot) is not kept.
void SimSavedState::addRestoredToken(const Ptr<Token>& t) {
    const std::size_t index = t == 0 ? npos : indexOf(t->getID());
    if (index != npos) restoredTokens[index] = t;
}

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
