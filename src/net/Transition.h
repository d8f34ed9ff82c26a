#pragma once
#include <fstream>
#include <iosfwd>
#include <limits>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "base/KernelAssert.h"
#include "frame/MainClass.h"
#include "net/Binding.h"
#include "net/DefaultGM.h"
#include "net/EventSet.h"
#include "net/FirstEventTree.h"
#include "net/MarkingList.h"
#include "net/NetClass.h"
#include "net/Place.h"
#include "net/TokenList.h"
#include "random/Delay.h"
#include "random/RandomWrapper.h"
#include "time/DateTime.h"

class MeasureObj;

// The kernel part of every transition. The generated model derives one class
// per transition and supplies which token combinations enable it
// (generateBindingList), how firing moves tokens (moveTokens), the firing
// delay, guards and expressions. The kernel keeps the event list, searches
// bindings, tests output space and enabling degree, handles time-guard
// placeholders, fires and propagates the change to exactly the transitions
// concerned.
class Transition : public DefaultGM {
public:
    static long globalFireCount;

    Transition(int uniqueid, const char* name, NetClass* net, const PlaceIdentMap& places, std::string pagePath,
               double firingWeight, int priority, bool exp, bool takeFirst, bool isInfinite, bool hasLocalGuard);
    Transition(int uniqueid, const char* name, NetClass* net, const PlaceIdentMap& attributes,
               const PlaceIdentMap& places, std::string pagePath, double firingWeight, int priority, bool exp,
               bool takeFirst, bool isInfinite, bool hasLocalGuard);
    ~Transition() override;

    // Virtual slots, in the order the generated code relies on.
    virtual void startup();
    virtual int getPriority() const { return priority; }
    virtual Seconds_T getFiringDelay(TokenList& tokens) const;
    virtual double getFiringWeight() const { return firingWeight; }
    virtual int getFireCount() const { return fireCount; }
    virtual void setDisplaying(bool on) { displaying = on; }
    virtual void setWatch(bool on) { watch = on; }
    virtual void setImmediate(bool on) { immediate = on; }
    virtual void setLogfile(std::string name, std::string description);
    virtual Seconds_T Timeguard(const DateTime& now);
    virtual bool hasTimeguard() const { return false; }
    virtual void updateEventList();
    virtual void log(TokenList& tokens);
    virtual double display(TokenList& tokens);
    virtual bool checkSpace() const;
    virtual TempBindingList* generateBindingList() = 0;
    virtual bool globalGuard() { return true; }
    virtual void initGlobalGuards() {}
    virtual void moveTokens(TokenList& tokens) = 0;
    // A transition whose search takes the first combination it meets (at
    // most one candidate) also offers that search on its own: it fills the
    // empty list `tokens` with the combination's tokens and answers whether
    // it found one (a list it could not complete is left empty).
    virtual bool searchesFirstOnly() const { return false; }
    virtual bool findFirstBinding(TokenList&) { return false; }
    // Whether findFirstBinding takes the first token of each of `places`, in
    // this order, and nothing else (no guard, no place twice): the kernel
    // then binds those tokens itself, without the call (asked once at
    // start-up).
    virtual bool findsHeadsOf(std::vector<Place*>& places) {
        (void)places;
        return false;
    }
    // What getFiringDelay computes, when it is one of the forms the kernel
    // samples itself, without the call: no delay, or an exponential delay of
    // a fixed mean (asked once at start-up).
    enum class DelayForm { General, None, Exponential };
    virtual DelayForm fixedDelay(double& mean) const {
        (void)mean;
        return DelayForm::General;
    }
    // getFiringDelay(tokens), from the form fixedDelay told when it is fixed.
    [[gnu::always_inline]] Seconds_T sampleDelay(TokenList& tokens) const {
        if (delayForm == DelayForm::Exponential) return delay.ExpOfMean(delayMean);
        if (delayForm == DelayForm::None) return 0.0;
        return getFiringDelay(tokens);
    }
    // Whether globalGuard() may answer false; a transition that says no is
    // not asked (asked once at start-up).
    virtual bool hasGlobalGuard() const { return true; }
    // Whether the class leaves checkSpace, getPriority and getFiringWeight as
    // the kernel defines them (generated classes do); the kernel then answers
    // them itself, without a call (asked once at start-up).
    virtual bool keepsKernelDefaults() const { return false; }

    // Event list.
    void addBinding(Binding* b);
    void removeBinding(Binding* b, bool notify);
    Binding* getNextEvent() const { return bindings.empty() ? nullptr : bindings.front(); }
    EventSet& getEvents() { return bindings; }
    // Gives the pending event `b` a new time, now plus a fresh delay sample
    // (Binding::updateTime), and puts it back in order. The token game uses
    // it for events that a jump of the clock has left in the past.
    void retimeEvent(Binding* b, const DateTime& now) {
        bindings.erase(b);
        b->updateTime(now);
        bindings.insert(b);
        publishFirstEvent();
    }
    void addTimeguardBinding(const DateTime& time);
    bool convertTimeguardBinding(Binding* b);
    // hasTimeguard() is a fixed property of the generated class, asked once
    // at start-up.
    bool timeguarded() const { return timeguardCached ? hasTimeguardFlag : hasTimeguard(); }
    // Whether time guards are handled by placeholders now. The cheap flags
    // come first: most transitions are timed or have no time guard.
    bool isOptimizingTimeguardTransition() const {
        if (!timeguarded()) return false;
        return immediate && !isInfinite && timeguardOptimization && !isSingleStep();
    }

    // Binding search.
    void searchConfiguration() {
        if (directSearch && !MainClass::getLog()->isTransLogging()) {
            searchDirect();
            return;
        }
        searchGeneral();
    }
    TempBindingList* getAvailableBindingList();
    int getEnablingDegree();
    TokenList* extractRandomBinding(TempBindingList* list);
    static void clearTempBindingList(TempBindingList* list) {
        if (list == nullptr) return;
        for (TokenList* tokens : *list) delete tokens;
        list->clear();
    }
    MarkingList& getPlaceMarking(Place& p) const {
        if (isInfinite) return const_cast<MarkingList&>(notBoundTokens);
        // Only a limited view needs the arc's multiplicity.
        return p.hasLimitedView() ? p.getMarking(inputMultiplicity(p)) : p.getFullMarking();
    }
    MarkingList& getPlaceMarking(Place* p) const { return getPlaceMarking(*p); }

    // Not-bound tokens of an infinite-server transition.
    void addNotBoundToken(const Ptr<Token>& t);
    void removeNotBoundToken(const Ptr<Token>& t) {
        if (isInfinite) notBoundTokens.removeAll(t.GetRawPtr());
    }
    MarkingList& getNotBoundTokens() { return notBoundTokens; }

    // Linking and measures.
    void addInPlace(Place* p);
    void addOutPlace(Place* p);
    std::list<Place*>& getInPlaces() { return inPlaces; }
    std::list<Place*>& getOutPlaces() { return outPlaces; }
    void addMeasure(MeasureObj* m);
    // In address order, each once (as an ordered set of pointers would hold
    // them); a vector, because every firing walks it twice.
    const std::vector<MeasureObj*>& getMeasures() const { return measures; }

    // Firing and change propagation.
    void fire(Binding* b, double weight);
    void updateAffectedTransitionList();
    void notifyTransitions();
    void couldEnableNotify();
    void couldDisableNotify();
    void tokenNotify(const Ptr<Token>& t);
    void placeNotify();
    void removeAllBindingsFromEventList();
    void removeRandomBindingFromEventList();
    // `tracing`: whether the transition log is open.
    void accumMeasures(const Binding* b, double weight, bool tracing);
    void notifyMeasures(bool tracing);
    void notifyPlaceWatch();
    void printPlaces();

    // Restore hooks of saved states: no notifications, no registration.
    std::vector<Transition*> getCouldEnableTransitions() const { return couldEnableTransitions; }
    std::vector<Transition*> getCouldDisableTransitions() const { return couldDisableTransitions; }
    void setCouldEnableTransitions(const std::vector<Transition*>& l) {
        couldEnableTransitions = l;
        selectEnableNotices();
    }
    void setCouldDisableTransitions(const std::vector<Transition*>& l) { couldDisableTransitions = l; }
    bool getInEventList() const { return inEventList; }
    void setInEventList(bool on) { inEventList = on; }
    // The events are deleted (the restore brings new ones).
    void removeCurrentBindings() {
        for (Binding* b : bindings) dropEvent(b);
        bindings.clear();
        publishFirstEvent();
    }
    void addRestoredBinding(Binding* b) {
        bindings.insert(b);
        publishFirstEvent();
    }

    // The engine's tree of first events and this transition's place in it;
    // null when no engine keeps one.
    void setFirstEventTree(FirstEventTree* tree, std::size_t leaf) {
        firstEventTree = tree;
        firstEventLeaf = tree != nullptr ? tree->leaf(leaf) : FirstEventTree::Leaf();
        publishFirstEvent();
    }
    // Tells the engine's tree this transition's first event. Every change of
    // the event list, or of the time of its first event, calls it; code that
    // rebuilds the event list directly (saved states) calls it when done.
    void publishFirstEvent() {
        if (firstEventTree != nullptr) firstEventTree->set(firstEventLeaf, getNextEvent());
    }
    void removeCurrentNotBoundTokens() { notBoundTokens.clear(); }
    void addRestoredNotBoundToken(Ptr<Token> t) { notBoundTokens.push_back(t); }

    void setTimeguardOptimization(bool on) { timeguardOptimization = on; }
    bool getTimeguardOptimization() const { return timeguardOptimization; }
    int getID() const { return id; }
    // getPriority() and getFiringWeight() as a new event takes them.
    int eventPriority() const { return kernelDefaults ? priority : getPriority(); }
    double eventWeight() const { return kernelDefaults ? firingWeight : getFiringWeight(); }
    bool isInfiniteServer() const { return isInfinite; }
    bool hasLocalGuard() const { return localGuard; }
    bool isImmediate() const { return immediate; }
    bool isWatched() const { return watch; }
    bool isDisplaying() const { return displaying; }
    bool isLogging() const { return logging; }
    bool isFiring() const { return firing; }
    const std::string& getLogfilePath() const { return logfilePath; }
    const std::string& getPagePath() const { return pagePath; }
    const PlaceIdentMap& getPlaceMap() const { return places; }

protected:
    // The engine's clock (the start of time when no engine runs the net).
    const DateTime& now() const {
        const DateTime* clock = net->getClock();
        return clock != nullptr ? *clock : noEngineTime();
    }
    static const DateTime& noEngineTime();
    bool isSingleStep() const;
    // One trace line "<name><text>" in the transition log, when it is open.
    void trace(const char* text) const {
        if (MainClass::getLog()->isTransLogging()) traceLine(text);
    }
    void traceLine(const char* text) const;
    // The candidate list of a first-only search: its one combination, or
    // none.
    TempBindingList* firstBindingAsList();

private:
    // The arc multiplicities of this transition, read from the places once
    // the net is linked (at start-up), so that the searches at every firing
    // do not look them up in the places' maps.
    struct Arc {
        Place* place;
        int multiplicity;
    };
    void cacheArcs();
    int inputMultiplicity(const Place& p) const;
    bool hasSpaceFor(const Place& p, int add) const;
    // globalGuard(), unless the transition has none.
    bool guardPasses() { return guardFree || globalGuard(); }
    // checkSpace(), answered at once when no output place has a capacity.
    bool spaceAvailable() const { return (kernelDefaults && outputsUnlimited) || checkSpace(); }
    int outputMultiplicity(const Place& p) const;
    // A single-server transition with an input place holding fewer tokens
    // than its arc takes has no combination: the search would find nothing
    // and draw no random number. Most searches after a firing are of this
    // kind, so they are answered here (the space test and the global guard
    // are predicates without effects). With the transition log open the full
    // search runs, so that its trace lines appear as always.
    bool cannotBind() const {
        if (isInfinite || !arcsCached || MainClass::getLog()->isTransLogging()) return false;
        for (const Arc& a : inArcs)
            if (a.place->getMarkingSize() < static_cast<unsigned>(a.multiplicity)) return true;
        return false;
    }

    // The search of a direct-search transition with the transition log
    // closed: the general steps as they turn out for it. Inline, because
    // most searches end at the token-count test.
    void searchDirect() {
        for (const Arc& a : inArcs)
            if (a.place->getMarkingSize() < static_cast<unsigned>(a.multiplicity)) return;
        bindFirstCombination(now());
    }
    // The search of a single-server, first-only transition without the
    // transition log: the combination goes straight into the new event.
    void bindFirstCombination(const DateTime& current);
    // findFirstBinding of a transition that takes the first token of each of
    // its head places (findsHeadsOf).
    [[gnu::always_inline]] bool bindHeads(TokenList& tokens) const {
        for (const MarkingList* m : headMarkings)
            if (m->empty()) return false;
        for (const MarkingList* m : headMarkings) tokens.push_back(m->front());
        return true;
    }
    // Every other search: time guards, the transition log, infinite servers.
    void searchGeneral();
    // The general search: every candidate the generated search offers, the
    // choices among them, the traces.
    void searchCandidates(const DateTime& current);
    void openLogfile(const std::string& logName, const std::string& description, std::ios::openmode mode);
    void withdraw(Binding* b);
    void enlist(Binding* b);
    // Whether the token at `i` also stands earlier in the list.
    static bool boundEarlier(const TokenList& tokens, std::size_t i) {
        for (std::size_t j = 0; j < i; ++j)
            if (tokens[j].GetRawPtr() == tokens[i].GetRawPtr()) return true;
        return false;
    }
    template <bool tellHolders>
    void withdrawEvent(Binding* b);
    // Ends an event that has left the event list: the transition's own event
    // is emptied for the next one, any other is deleted.
    void dropEvent(Binding* b) {
        if (b != &ownEvent) {
            delete b;
            return;
        }
        ownEvent.tokensToFill().clear();
    }
    void insertMeasure(MeasureObj* m);
    void selectEnableNotices();
    bool mayEnable(const Transition* u) const;
    void notifyMeasuresOf(bool accumulate, const Binding* b, double weight);

    // The fields that every notification, search and firing reads come
    // first, within a cache line or two of the object's start; the sampler
    // and the choice stream follow, and the rest is read rarely.
    bool immediate = false;
    bool isInfinite;
    bool timeguardOptimization = false;
    bool timeguardCached = false;
    bool hasTimeguardFlag = false;
    bool inEventList = false;
    bool firing = false;
    bool arcsCached = false;
    // No output place has a capacity: the space test always passes.
    bool outputsUnlimited = false;
    // searchesFirstOnly(), asked once at start-up.
    bool firstOnly = false;
    // !hasGlobalGuard(), asked once at start-up: the guard always passes.
    bool guardFree = false;
    // keepsKernelDefaults(), asked once at start-up.
    bool kernelDefaults = false;
    // Set at start-up for a single-server, first-only transition without a
    // time guard: with the transition log closed its search is a test of the
    // input places' token counts and, when they suffice, bindFirstCombination.
    // Changing the arcs clears it.
    bool directSearch = false;
    // findsHeadsOf(), asked once at start-up, for a first-only single server:
    // the markings whose first tokens its search binds, in binding order.
    bool takesHeads = false;
    // fixedDelay(), asked once at start-up.
    DelayForm delayForm = DelayForm::General;
    double delayMean = 0.0;
    bool logging = false;
    bool displaying = false;
    bool watch = false;
    int priority;
    double firingWeight;
    int fireCount = 0;
    FirstEventTree* firstEventTree = nullptr;
    FirstEventTree::Leaf firstEventLeaf;
    std::vector<Arc> inArcs;   // inPlaces with the tokens each arc takes
    std::vector<Arc> outArcs;  // outPlaces with the tokens each arc puts
    std::vector<const MarkingList*> headMarkings;
    EventSet bindings;
    std::vector<Transition*> couldEnableTransitions;
    // The could-enable neighbours a firing tells while the transition log is
    // closed: the list without those this firing can never enable (see
    // mayEnable). With the log open every neighbour is told, for its line.
    std::vector<Transition*> enableNotices;
    std::vector<Transition*> couldDisableTransitions;

protected:
    // The delay sampler's stream is created before the choice stream.
    Delay delay;
    RandomWrapper random;

private:
    std::vector<MeasureObj*> measures;
    std::list<Place*> inPlaces;
    std::list<Place*> outPlaces;
    std::vector<Place*> affectedPlaces;
    PlaceIdentMap places;
    MarkingList notBoundTokens;
    bool exp;
    bool takeFirst;
    // The per-transition log file; created only for a transition that logs,
    // so that the transitions stay small and close together in memory.
    std::unique_ptr<std::fstream> logfile;
    std::string logfilePath;
    int id;
    bool localGuard;
    std::string pagePath;
    // The event a direct search makes (a single-server transition has one
    // at a time): kept here, so that making and dropping it allocates
    // nothing. Its binding ID, time and tokens are new every time.
    // It is in use exactly while it is in the (then one-event) event list.
    Binding ownEvent;
};

std::ostream& operator<<(std::ostream& out, const Transition& t);

// The delay is asked first (it draws new random numbers at every call), also
// for time-guard events, which then wait for the guard as well.
[[gnu::always_inline]] inline void Binding::updateTime(const DateTime& now) {
    // A placeholder's list is empty.
    const Seconds_T d = boundTransition->sampleDelay(tokens);
    time = now + d;
    if (!fireEvent) time += boundTransition->Timeguard(now);
}

inline void Binding::init(Transition* t, const DateTime& now) { initAs(t, now, !t->timeguarded()); }

[[gnu::always_inline]] inline void Binding::initAs(Transition* t, const DateTime& now, bool firing) {
    boundTransition = t;
    fireEvent = firing;
    updateTime(now);
    priority = t->eventPriority();
    weight = t->eventWeight();
    ID = idCounter++;
}

// addBinding without its checks, for a caller that has made sure of them.
[[gnu::always_inline]] inline void Transition::enlist(Binding* b) {
    Logging* log = MainClass::getLog();
    if (log->isEventLogging()) log->getEventLog() << "addToEventList()... " << *b << "\n";
    bindings.insert(b);
    publishFirstEvent();
    // A single-server transition registers only through its one event, so a
    // token it binds once is new to it (the token's list then needs no full
    // scan when the event goes).
    // A binding's handles are never empty (they come from markings), so
    // they are read without the handle's check.
    TokenList& tokens = *b->getBoundTokens();
    const bool tracing = log->isTransLogging();
    if (!isInfinite) {
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            if (i == 0 || !boundEarlier(tokens, i)) tokens[i].GetRawPtr()->addNewTransition(this, tracing);
            else tokens[i].GetRawPtr()->addTransition(this, tracing);
        }
    } else {
        for (Ptr<Token>& h : tokens) {
            h.GetRawPtr()->addTransition(this, tracing);
            removeNotBoundToken(h);
        }
    }
    inEventList = true;
}

// The same steps as the general search with its one candidate: space and
// guard are asked (both, as there), the choice among the one candidate draws
// its number, and the event is timed and takes its ID after the search, as
// there; but the search fills the event's own token list, without a
// candidate list or copies of handles. Inline: it is the search of almost
// every notice, and a call would save and restore the registers the delay's
// draw needs at every one.
[[gnu::always_inline]] inline void Transition::bindFirstCombination(const DateTime& current) {
    const bool space = spaceAvailable();
    const bool guard = guardPasses();
    if (!(space && guard)) return;
    // A single-server transition searches only while its list is empty, so
    // its own event is free.
    KERNEL_ASSERT(bindings.empty(), "src/Transition", 368);
    Binding* b = &ownEvent;
    // A direct search's event borrows its tokens: every token it binds lies
    // in a place until the event is withdrawn or fires (a token taken by
    // another firing tells this transition, which drops the event before
    // the token can go), and the firing pins them. A time-guard event keeps
    // counted handles.
    b->tokensToFill().borrowTokens(directSearch);
    if (!(takesHeads ? bindHeads(b->tokensToFill()) : findFirstBinding(b->tokensToFill()))) {
        dropEvent(b);
        return;
    }
    (void)random.randint(0, 0);
    // A direct search's transition has no time guard: the event fires.
    if (directSearch) b->initAs(this, current, true);
    else b->init(this, current);
    enlist(b);
}
