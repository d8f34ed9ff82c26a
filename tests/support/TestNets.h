#pragma once
// Small nets for the kernel tests and benchmarks: a net class that builds
// nothing by itself, a transition that enumerates the token combinations of
// its input places and moves tokens the plain way, tokens that count their
// deletion, an engine whose random stream is within reach, a measure that
// counts what it is told, and an open transition log in a scratch folder.
//
// Header only, so that the benchmarks can use it without the test library.
#include <fstream>
#include <functional>
#include <list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Simulation.h"
#include "frame/MainClass.h"
#include "input/Token_int.h"
#include "net/Binding.h"
#include "net/NetClass.h"
#include "net/Place.h"
#include "net/Transition.h"
#include "random/RandomWrapper.h"
#include "stats/MeasureObj.h"

namespace testnets {

using ReferenceCountedSmartPointer::Dynamic_Cast;

// An int token that counts its own deletion in `deaths`.
class CountedToken : public Token_int {
public:
    CountedToken(long value, int& deaths) : Token_int(value), deaths(&deaths) {}
    ~CountedToken() override { ++*deaths; }

private:
    int* deaths;
};

// Starting state of the random streams created from now on.
inline void packageSeed(unsigned long v) {
    const unsigned long seed[6] = {v, v, v, v, v, v};
    RandomWrapper::SetPackageSeed(seed);
}

struct TransitionTraits {
    double weight = 1.0;
    int priority = 0;
    bool infinite = false;
    bool localGuard = false;
    double delay = 0.0;
    // Offer only the first combination, as the generated code does.
    bool firstOnly = false;
    // Say that there is no global guard (hasGlobalGuard() false), as a
    // generated transition without one does.
    bool guardless = false;
    // Offer the first combination also on its own (findFirstBinding), as a
    // generated first-only transition does.
    bool direct = false;

    TransitionTraits& withWeight(double w) { weight = w; return *this; }
    TransitionTraits& withPriority(int p) { priority = p; return *this; }
    TransitionTraits& infiniteServer() { infinite = true; return *this; }
    TransitionTraits& withLocalGuard() { localGuard = true; return *this; }
    TransitionTraits& withDelay(double d) { delay = d; return *this; }
    TransitionTraits& firstCombination() { firstOnly = true; return *this; }
    TransitionTraits& withoutGlobalGuard() { guardless = true; return *this; }
    TransitionTraits& bindingDirectly() { firstOnly = direct = true; return *this; }
};

inline TransitionTraits traits() { return TransitionTraits(); }

// A transition whose binding search enumerates every combination of its
// input places: from each input place (in linking order) as many distinct
// tokens as the arc takes, in marking order, the first place outermost.
// Firing removes the bound tokens from their places and puts new int tokens
// into the output places, as many as each arc carries.
class TestTransition : public Transition {
public:
    TestTransition(int id, const char* name, NetClass* net, const TransitionTraits& s = TransitionTraits())
        : Transition(id, name, net, PlaceIdentMap(), "", s.weight, s.priority, false, false, s.infinite,
                     s.localGuard),
          traits(s) {}

    // Hooks a test may set.
    std::function<bool()> guardFn;                        // global guard; true when unset
    std::vector<Place*> guardPlaces;                      // places the global guard reads
    std::function<bool(const TokenList&)> localGuardFn;   // filters combinations
    bool timeguarded = false;                             // hasTimeguard()
    std::function<Seconds_T(const DateTime&)> timeguardFn;
    std::function<Seconds_T(const TokenList&)> delayFn;
    std::function<void(TokenList&)> moveFn;               // replaces the default firing body
    long nextValue = 1000;                                // value of the next output token

    // What the kernel asked.
    mutable int delayCalls = 0;
    int guardCalls = 0;
    int timeguardCalls = 0;
    int searches = 0;
    std::vector<std::vector<long>> firings;  // ids of the bound tokens, per firing

    RandomWrapper& rng() { return random; }
    const TransitionTraits& getTraits() const { return traits; }

    Seconds_T getFiringDelay(TokenList& tokens) const override {
        ++delayCalls;
        return delayFn ? delayFn(tokens) : traits.delay;
    }
    Seconds_T Timeguard(const DateTime& now) override {
        ++timeguardCalls;
        return timeguardFn ? timeguardFn(now) : 0.0;
    }
    bool hasTimeguard() const override { return timeguarded; }
    bool hasGlobalGuard() const override { return !traits.guardless; }
    bool searchesFirstOnly() const override { return traits.direct; }
    bool findFirstBinding(TokenList& found) override {
        ++searches;
        std::vector<TokenList> first = firstCombination();
        if (first.empty()) return false;
        for (const Ptr<Token>& t : first.front()) found.push_back(t);
        return true;
    }
    bool globalGuard() override {
        ++guardCalls;
        return guardFn ? guardFn() : true;
    }
    void initGlobalGuards() override {
        for (Place* p : guardPlaces) p->addGlobalGuardTransition(this);
    }

    TempBindingList* generateBindingList() override {
        ++searches;
        TempBindingList* list = new TempBindingList;
        for (TokenList& c : combinations(traits.firstOnly)) list->push_back(new TokenList(c));
        return list;
    }

    // The combinations the marking offers now (through getPlaceMarking, so an
    // infinite-server transition sees only its not-bound tokens, each taken
    // for the place it lies in).
    std::vector<TokenList> combinations(bool firstOnly = false) {
        if (firstOnly && !localGuardFn) return firstCombination();
        std::vector<std::vector<std::vector<Ptr<Token>>>> perPlace;
        for (Place* p : getInPlaces()) {
            const int m = p->getOutTransitionMultiplicity(getID());
            std::vector<Ptr<Token>> offered;
            for (const Ptr<Token>& t : getPlaceMarking(*p)) {
                if (isInfiniteServer() && !p->getFullMarking().contains(t.GetRawPtr())) continue;
                offered.push_back(t);
            }
            perPlace.push_back(subsets(offered, m));
        }
        std::vector<TokenList> result;
        TokenList current;
        product(perPlace, 0, current, result, firstOnly);
        return result;
    }

    void moveTokens(TokenList& tokens) override {
        std::vector<long> ids;
        for (const Ptr<Token>& t : tokens) ids.push_back(t->getID());
        firings.push_back(ids);
        if (moveFn) {
            moveFn(tokens);
            return;
        }
        std::size_t k = 0;
        for (Place* p : getInPlaces()) {
            const int m = p->getOutTransitionMultiplicity(getID());
            for (int j = 0; j < m && k < tokens.size(); ++j) p->removeToken(tokens[k++]);
        }
        for (Place* p : getOutPlaces()) {
            const int m = p->getInTransitionMultiplicity(getID());
            for (int j = 0; j < m; ++j) p->addToken(Ptr<Token>(new Token_int(nextValue++)));
        }
    }

private:
    // The first combination without enumerating the others: the first tokens
    // of every place (what the generated code offers, at the cost of a few
    // steps however long the markings are).
    std::vector<TokenList> firstCombination() {
        TokenList first;
        for (Place* p : getInPlaces()) {
            const int m = p->getOutTransitionMultiplicity(getID());
            int taken = 0;
            for (const Ptr<Token>& t : getPlaceMarking(*p)) {
                if (taken == m) break;
                if (isInfiniteServer() && !p->getFullMarking().contains(t.GetRawPtr())) continue;
                first.push_back(t);
                ++taken;
            }
            if (taken < m) return {};
        }
        return {first};
    }

    // Every choice of `m` distinct entries of `from`, in order.
    static std::vector<std::vector<Ptr<Token>>> subsets(const std::vector<Ptr<Token>>& from, int m) {
        std::vector<std::vector<Ptr<Token>>> out;
        std::vector<Ptr<Token>> pick;
        choose(from, 0, m, pick, out);
        return out;
    }
    static void choose(const std::vector<Ptr<Token>>& from, std::size_t start, int m,
                       std::vector<Ptr<Token>>& pick, std::vector<std::vector<Ptr<Token>>>& out) {
        if (m <= 0) {
            out.push_back(pick);
            return;
        }
        for (std::size_t i = start; i + m <= from.size(); ++i) {
            pick.push_back(from[i]);
            choose(from, i + 1, m - 1, pick, out);
            pick.pop_back();
        }
    }
    bool product(const std::vector<std::vector<std::vector<Ptr<Token>>>>& perPlace, std::size_t i,
                 TokenList& current, std::vector<TokenList>& result, bool firstOnly) {
        if (i == perPlace.size()) {
            if (localGuardFn && !localGuardFn(current)) return false;
            result.push_back(current);
            return firstOnly;
        }
        for (const auto& choice : perPlace[i]) {
            for (const Ptr<Token>& t : choice) current.push_back(t);
            const bool done = product(perPlace, i + 1, current, result, firstOnly);
            for (std::size_t j = 0; j < choice.size(); ++j) current.pop_back();
            if (done) return true;
        }
        return false;
    }

    TransitionTraits traits;
};

// A net built by the test itself.
class TestNet : public NetClass {
public:
    ~TestNet() override {
        // The engine may be gone already; nothing may ask it for the time.
        setSimulation(nullptr);
    }
    void buildNet() override {}
    void createTokens() override {}
    Ptr<Token> copyToken(Ptr<Token> t) override {
        if (t != 0 && t->getName() == "int") {
            Ptr<Token_int> i = Dynamic_Cast<Token_int>(t);
            if (i != 0) return Ptr<Token>(new Token_int(*i, true));
        }
        return Ptr<Token>();
    }
    Ptr<Token> upcastToken(Ptr<Token> t) override {
        if (t != 0 && t->getName() == "int") return Ptr<Token>(Dynamic_Cast<Token_int>(t));
        return Ptr<Token>();
    }

    Place* place(const char* name, unsigned capacity = 0, bool limitedView = false) {
        Place* p = new Place(nextPlaceId++, name, this, limitedView, capacity);
        addPlace(p);
        return p;
    }
    TestTransition* transition(const char* name, const TransitionTraits& traits = TransitionTraits()) {
        TestTransition* t = new TestTransition(nextTransitionId++, name, this, traits);
        addTransition(t);
        return t;
    }
    void in(Place* p, Transition* t, int multiplicity = 1) { linkIntoTransition(p, t, multiplicity); }
    void out(Transition* t, Place* p, int multiplicity = 1) { linkOutOfTransition(t, p, multiplicity); }

    // Adds a new int token to `p` (with the place's notifications).
    Ptr<Token> put(Place* p, long value) {
        Ptr<Token> t(new Token_int(value));
        p->addToken(t);
        return t;
    }
    void putMany(Place* p, int n, long firstValue = 0) {
        for (int i = 0; i < n; ++i) put(p, firstValue + i);
    }

private:
    int nextPlaceId = 1;
    int nextTransitionId = 1;
};

// The engine with its conflict-resolution stream within reach.
class TestSimulation : public Simulation {
public:
    TestSimulation(NetClass* net, const DateTime& start)
        : Simulation(net, "testnet", "NULL", start, DateTime(1e12), 1, 1, true, false, 0.1, 1.0, 15) {}
    RandomWrapper& rng() { return random; }
};

// One engine over a net, with the start time it refers to. Destroying it
// unlinks the net from the engine.
class Engine {
public:
    explicit Engine(NetClass* n, double startSeconds = 0.0)
        : net(n), start(startSeconds), sim(new TestSimulation(n, start)) {}
    ~Engine() {
        sim.reset();
        net->setSimulation(nullptr);
    }
    TestSimulation& operator*() { return *sim; }
    TestSimulation* operator->() { return sim.get(); }

    // The earliest events of highest priority.
    EventList events(bool all = false) {
        EventList list;
        sim->getFirstBindingsOfAllTransitions(&list, all);
        return list;
    }
    // One engine step: collect, choose, advance the clock, fire. Answers the
    // transition that fired, or null at a dead marking.
    Transition* step() {
        EventList list = events();
        Binding* b = sim->resolve_conflicts(list);
        if (b == nullptr) return nullptr;
        Transition* t = b->getBoundTransition();
        sim->updateSimulationTime(b->getTime());
        sim->executeEvent(b);
        return t;
    }

private:
    NetClass* net;
    DateTime start;
    std::unique_ptr<TestSimulation> sim;
};

// A measure that only counts what the transitions tell it.
class CountingMeasure : public MeasureObj {
public:
    CountingMeasure(const char* name, NetClass* net, bool isAccumulative, bool isTimeAverage, int* deaths = nullptr)
        : MeasureObj(name, net, false), acc(isAccumulative), avg(isTimeAverage), deaths(deaths) {}
    ~CountingMeasure() override {
        if (deaths != nullptr) ++*deaths;
    }
    double measure(double) override { return 0.0; }
    bool accumulative() override { return acc; }
    bool timeaverage() override { return avg; }
    void accum(const Binding*, double weight) override {
        ++accumCalls;
        lastWeight = weight;
    }
    int accumCalls = 0;
    double lastWeight = 0.0;

private:
    bool acc;
    bool avg;
    int* deaths;
};

// A measure whose current value the test sets.
class ValueMeasure : public MeasureObj {
public:
    ValueMeasure(const char* name, NetClass* net, double v = 0.0) : MeasureObj(name, net, false), current(v) {}
    double measure(double) override { return current; }
    bool accumulative() override { return false; }
    bool timeaverage() override { return false; }
    void accum(const Binding*, double) override {}
    double current;
};

// The process log opened in `folder` for the life of the object.
class OpenLogs {
public:
    explicit OpenLogs(const std::string& dir) : folder(dir) {
        MainClass::getLog()->setLogFolder(folder);
        MainClass::getLog()->open();
    }
    ~OpenLogs() {
        MainClass::getLog()->close();
        MainClass::getLog()->setLogFolder(".");
    }
    std::string trans() { return read("trans", MainClass::getLog()->getTransLog()); }
    std::string sim() { return read("sim", MainClass::getLog()->getSimLog()); }

private:
    std::string read(const std::string& name, std::fstream& stream) {
        stream.flush();
        std::ifstream in(folder + "/" + name + ".log", std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string folder;
};

// The ids of a token list, in order.
inline std::vector<long> idsOf(const TokenList& tokens) {
    std::vector<long> ids;
    for (const Ptr<Token>& t : tokens) ids.push_back(t->getID());
    return ids;
}

}  // namespace testnets
