// Firing a transition and propagating the change to exactly the transitions
// it can concern: the holders of the consumed tokens, the neighbours computed
// at start-up, and (through the places) the readers of global guards.
#include <algorithm>
#include <iostream>
#include <ostream>

#include "engine/Simulation.h"
#include "net/NetClass.h"
#include "net/Place.h"
#include "net/Transition.h"
#include "stats/MeasureObj.h"

namespace {
const char* truth(bool b) { return b ? "TRUE" : "FALSE"; }

// Gives a token of a withdrawn binding back to an infinite-server
// transition's not-bound list. Withdrawals happen while a firing moves tokens
// (global guards) or right after it (lost tokens), so the token may already
// have left the input places, or have arrived in another one and be listed
// again: only a token that still lies in an input place and is not listed yet
// is free.
void giveBack(Transition& t, const Ptr<Token>& token) {
    if (t.getNotBoundTokens().contains(token.GetRawPtr())) return;
    for (Place* p : t.getInPlaces()) {
        if (p->getFullMarking().contains(token.GetRawPtr())) {
            t.addNotBoundToken(token);
            return;
        }
    }
}

// Removes every repeated entry of `list`, keeping the first of each in order.
void keepFirstOfEach(std::vector<Transition*>& list) {
    std::vector<Transition*> seen;
    auto kept = list.begin();
    for (Transition* t : list) {
        if (std::find(seen.begin(), seen.end(), t) != seen.end()) continue;
        seen.push_back(t);
        *kept++ = t;
    }
    list.erase(kept, list.end());
}
}  // namespace

// No log opens or closes during a firing, so whether the transition log is
// open is asked once, for every trace line of the firing itself.
void Transition::fire(Binding* b, double weight) {
    const DateTime firedAt = b->getTime();
    Logging* lg = MainClass::getLog();
    const bool tracing = lg->isTransLogging();
    accumMeasures(b, weight, tracing);
    firing = true;
    if (tracing) {
        lg->getTransLog() << "\n"
                           << "#####################################################################" << "\n";
        traceLine(" -> fire...");
    }
    TokenList* tokens = b->getBoundTokens();
    // The tokens leave their places now, and may be destroyed there: a list
    // that borrowed them keeps them alive from here on, through the
    // notices that follow, until the event is dropped.
    if (tokens != nullptr) tokens->pin();
    ++fireCount;
    ++globalFireCount;
    if (tracing) traceLine("... firecounter increased...");
    TokenList none;
    TokenList& bound = tokens != nullptr ? *tokens : none;
    moveTokens(bound);
    if (logging) {
        if (tracing) traceLine("... now i log ...");
        log(bound);
    }
    if (displaying) {
        if (tracing) traceLine("... display expression ...");
        const double v = display(bound);
        net->getSimulation()->displayOut(this, v);
    }
    if (tracing) {
        lg->getTransLog() << " token->notifyTransition() " << "\n";
        traceLine(" now deleting event...");
    }
    // The engine's tree learns of this event list once the next event is
    // searched: a single-server transition that finds one publishes it
    // then, otherwise the list is published here.
    withdrawEvent<true>(b);
    notifyTransitions();
    if (tracing) traceLine("... event deleted...");
    if (isOptimizingTimeguardTransition()) addTimeguardBinding(firedAt);
    else searchConfiguration();
    if (isInfinite || bindings.empty()) publishFirstEvent();
    if (tracing) {
        traceLine("... searched configuration ...");
        lg->getTransLog() << "\t fire ende" << "\n";
    }
    firing = false;
    if (watch) net->getSimulation()->measureOut(this, static_cast<double>(fireCount));
    notifyMeasures(tracing);
    notifyPlaceWatch();
}

// Takes `b` out of the event list without telling the engine's tree (the
// caller publishes the list once it is complete again). With `tellHolders`
// (the fired event: its tokens are consumed) every token tells the other
// transitions whose events hold it, right after this transition has left
// the token's list; otherwise the tokens stay where they are and nobody is
// told. One body for both, without a test per token.
template <bool tellHolders>
inline void Transition::withdrawEvent(Binding* b) {
    Logging* log = MainClass::getLog();
    const bool tracing = log->isTransLogging();
    if (tracing) log->getTransLog() << "removeFromEventList()... " << *this << "\n";
    if (TokenList* tokens = b->getBoundTokens()) {
        // A binding's handles are never empty: read without the check. No
        // log opens or closes during a firing: `tracing` holds for every token.
        for (Ptr<Token>& h : *tokens) {
            h.GetRawPtr()->removeTransition(this, tracing);
            if (tellHolders) h.GetRawPtr()->notifyTransitions(h);
        }
    }
    bindings.erase(b);
    dropEvent(b);
    inEventList = !bindings.empty();
}

void Transition::removeBinding(Binding* b, bool notify) {
    if (notify) withdrawEvent<true>(b);
    else withdrawEvent<false>(b);
    publishFirstEvent();
}

void Transition::updateAffectedTransitionList() {
    couldEnableTransitions.clear();
    couldDisableTransitions.clear();
    for (Place* p : inPlaces)
        for (Transition* t : p->getInTransitions()) couldEnableTransitions.push_back(t);
    for (Place* p : outPlaces) {
        for (Transition* u : p->getInTransitions()) {
            couldDisableTransitions.push_back(u);
            if (u->hasLocalGuard()) couldEnableTransitions.push_back(u);
        }
        for (Transition* t : p->getOutTransitions()) couldEnableTransitions.push_back(t);
    }
    couldDisableTransitions.erase(std::remove(couldDisableTransitions.begin(), couldDisableTransitions.end(), this),
                                  couldDisableTransitions.end());
    couldEnableTransitions.erase(std::remove(couldEnableTransitions.begin(), couldEnableTransitions.end(), this),
                                 couldEnableTransitions.end());
    // A transition reached over several places is told once, at its first
    // place: between two notices nothing changes the marking, so a second
    // notice would search again and find what the first one found.
    keepFirstOfEach(couldEnableTransitions);
    keepFirstOfEach(couldDisableTransitions);
    selectEnableNotices();
}

void Transition::selectEnableNotices() {
    enableNotices.clear();
    for (Transition* u : couldEnableTransitions)
        if (mayEnable(u)) enableNotices.push_back(u);
}

// A producer into an input place of this transition is listed because the
// firing frees space there. In a place without a capacity there is no space
// to free, and a producer linked to this transition only that way cannot gain
// a binding from the firing when what it can bind depends on the markings
// alone (no guard of any kind: guards may read the clock): its inputs did not
// gain tokens, its outputs have room as before, and it had no binding to gain
// before the firing (every change that could give it one told it), so its
// search would find nothing and draw nothing. Any other listed transition may
// gain one.
bool Transition::mayEnable(const Transition* u) const {
    if (u->hasLocalGuard() || u->hasGlobalGuard() || u->hasTimeguard()) return true;
    auto lists = [u](std::list<Transition*>& l) { return std::find(l.begin(), l.end(), u) != l.end(); };
    for (Place* p : outPlaces)
        if (lists(p->getOutTransitions())) return true;
    bool producer = false;
    for (Place* p : inPlaces) {
        if (!lists(p->getInTransitions())) continue;
        if (p->getCapacity() != 0) return true;
        producer = true;
    }
    // A transition listed for no reason the arcs show (a list set by hand)
    // is told as listed.
    return !producer;
}

void Transition::notifyTransitions() {
    // A single-server neighbour that holds its event ignores the notice;
    // without the transition log (where the notice writes its line first)
    // it is not even called.
    const bool tracing = MainClass::getLog()->isTransLogging();
    for (Transition* t : tracing ? couldEnableTransitions : enableNotices) {
        if (tracing) t->couldEnableNotify();
        else if (t->inEventList && !t->isInfinite) continue;
        // What couldEnableNotify would do: a direct search has no time guard
        // (and the log is closed here).
        else if (t->directSearch) t->searchDirect();
        else t->couldEnableNotify();
    }
    // Likewise a neighbour without events has nothing to withdraw.
    for (Transition* t : couldDisableTransitions)
        if (tracing || t->inEventList) t->couldDisableNotify();
}

void Transition::couldEnableNotify() {
    Logging* log = MainClass::getLog();
    if (log->isTransLogging()) {
        log->getTransLog() << name << " couldEnableNF() isInf: " << truth(isInfinite)
                           << " inEventList: " << truth(inEventList) << "\n";
    }
    // Most transitions told are single-server ones that already hold their
    // event: that is answered before anything else is read.
    if (inEventList && !isInfinite) return;
    if (!isOptimizingTimeguardTransition()) searchConfiguration();
}

void Transition::couldDisableNotify() {
    trace("couldDisableNF()");
    if (isOptimizingTimeguardTransition() || !inEventList) return;
    if (!(spaceAvailable() && guardPasses())) removeAllBindingsFromEventList();
    if (isInfinite) {
        const long count = static_cast<long>(bindings.size());
        const long excess = count - getEnablingDegree();
        for (long i = 0; i < excess; ++i) removeRandomBindingFromEventList();
    }
}

void Transition::tokenNotify(const Ptr<Token>& t) {
    KERNEL_ASSERT(!bindings.empty(), "src/Transition", 484);
    if (isOptimizingTimeguardTransition()) return;
    if (isInfinite) {
        // Collect first: withdrawing changes the set being walked.
        std::vector<Binding*> lost;
        for (Binding* b : bindings) {
            TokenList* tokens = b->getBoundTokens();
            if (tokens == nullptr) continue;
            for (Ptr<Token>& h : *tokens) {
                if (*h == *t) {
                    lost.push_back(b);
                    break;
                }
            }
        }
        // The binding's other tokens are free again.
        for (Binding* b : lost) {
            for (const Ptr<Token>& h : *b->getBoundTokens()) giveBack(*this, h);
            removeBinding(b, false);
        }
    } else {
        KERNEL_ASSERT(bindings.size() == 1, "src/Transition", 514);
        // The search usually brings a new event at once: the engine's tree
        // is told once, about the list as the search leaves it.
        withdrawEvent<false>(bindings.front());
        searchConfiguration();
        if (bindings.empty()) publishFirstEvent();
        return;
    }
    searchConfiguration();
}

void Transition::placeNotify() {
    if (firing || isOptimizingTimeguardTransition()) return;
    trace(" placeNotify()... BEGIN");
    if (!inEventList) searchConfiguration();
    else if (!guardPasses()) removeAllBindingsFromEventList();
    trace(" placeNotify() ...END");
}

// Withdraws a binding; an infinite-server transition first gets its tokens
// back as not bound.
void Transition::withdraw(Binding* b) {
    if (isInfinite && b->getBoundTokens() != nullptr)
        for (Ptr<Token>& h : *b->getBoundTokens()) giveBack(*this, h);
    removeBinding(b, false);
}

void Transition::removeAllBindingsFromEventList() {
    while (!bindings.empty()) withdraw(bindings.back());
}

void Transition::removeRandomBindingFromEventList() {
    const long n = static_cast<long>(bindings.size());
    if (n == 0) return;
    const int k = random.randint(0, n - 1);
    Logging* log = MainClass::getLog();
    if (log->isTransLogging()) log->getTransLog() << "Random number: " << k << "\n";
    auto it = bindings.begin();
    std::advance(it, k);
    withdraw(*it);
}

void Transition::accumMeasures(const Binding* b, double weight, bool tracing) {
    if (tracing) traceLine("->accumMeasures() BEGIN");
    for (MeasureObj* m : measures) m->accum(b, weight);
    if (tracing) traceLine("->accumMeasures() END");
}

void Transition::notifyMeasures(bool tracing) {
    if (tracing) traceLine("->notifyMeasures() BEGIN");
    for (MeasureObj* m : measures) m->notify();
    if (tracing) traceLine("->notifyMeasures() END");
}

void Transition::notifyPlaceWatch() {
    if (!Place::anyWatched()) return;
    for (Place* p : affectedPlaces) p->displContent();
}

void Transition::setLogfile(std::string logName, std::string description) {
    logging = !logName.empty();
    if (logging) openLogfile(logName, description, std::ios::out | std::ios::app);
}

// Opens the per-transition log file in the log folder, writes its header
// (the description, or a standard one) and closes it again; `logging` tells
// whether it could be opened.
void Transition::openLogfile(const std::string& logName, const std::string& description,
                             std::ios::openmode mode) {
    logfilePath = MainClass::getLog()->getLogDir() + "/" + logName;
    Logging* log = MainClass::getLog();
    if (log->isTransLogging()) log->getTransLog() << "Opening " << logfilePath << " ..." << "\n";
    logfile.reset(new std::fstream());
    logfile->open(logfilePath, mode);
    logging = logfile->is_open();
    if (logging) {
        if (!description.empty()) *logfile << description << "\n";
        else *logfile << "\t******** LOGFILE of Transition " << name << " *********" << "\n";
    } else {
        std::cout << logfilePath << " couldn't be opened!" << std::endl;
    }
    logfile->close();
}

void Transition::printPlaces() {
    std::cout << "\t<-\n";
    for (Place* p : inPlaces) std::cout << "\t\t" << p->getName() << "\n";
    std::cout << "\t->\n";
    for (Place* p : outPlaces) std::cout << "\t\t" << p->getName() << "\n";
    std::cout.flush();
}
