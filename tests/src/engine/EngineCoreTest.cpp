#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>

#include "TestNets.h"
#include "TestSupport.h"

using namespace testnets;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using testsupport::ScratchDir;

namespace {

// Package seeds spread over the seed range: streams started from small equal
// seed words begin with small numbers.
unsigned long scattered(unsigned long i) { return 1 + (i * 48271019ul) % 4000000000ul; }

// The first number a stream started right after the package seed `seed`
// draws.
double firstDraw(unsigned long seed) {
    packageSeed(seed);
    RandomWrapper twin;
    return twin.randu01();
}

// Three transitions "A", "B", "C" with one event each at the same time.
struct Conflict {
    Conflict(int priority, double wa, double wb, double wc) {
        a = net.transition("A", traits().withPriority(priority).withWeight(wa));
        b = net.transition("B", traits().withPriority(priority).withWeight(wb));
        c = net.transition("C", traits().withPriority(priority).withWeight(wc));
        for (auto& entry : net.getTransitions()) entry.second->startup();
    }
    TestNet net;
    TestTransition* a;
    TestTransition* b;
    TestTransition* c;
};

std::string text(const Binding& b) {
    std::ostringstream s;
    s << b;
    return s.str();
}

}  // namespace

TEST(EngineCore, ConstructionInitAndDestruction) {
    ScratchDir dir("engine-init");
    TestNet net;
    std::vector<std::string> order;
    for (const char* name : {"b", "a", "C"}) {
        TestTransition* t = net.transition(name);
        t->guardFn = [&order, name] {
            order.push_back(name);
            return true;
        };
    }
    EXPECT_EQ(Simulation::sim, nullptr);
    {
        Engine engine(&net, 5.0);
        EXPECT_EQ(Simulation::sim, &*engine);
        EXPECT_EQ(engine->getCurrentSimulationTime(), DateTime(5.0));
        EXPECT_FALSE(engine->isInitialised());
        EXPECT_FALSE(engine->hasMeasureSocket());
        EXPECT_EQ(engine->getMode(), 1);
        OpenLogs logs(dir.path());
        engine->init();
        EXPECT_TRUE(engine->isInitialised());
        EXPECT_EQ(net.getSimulation(), &*engine);
        EXPECT_EQ(order, (std::vector<std::string>{"C", "a", "b"}));  // byte order of the names
        EXPECT_NE(logs.sim().find("************** starting init()... *****************\n"), std::string::npos);
    }
    EXPECT_EQ(Simulation::sim, nullptr);
}

TEST(EngineCoreDeathTest, OnlyOneEngineAtATime) {
    TestNet net;
    Engine engine(&net);
    DateTime start(0.0);
    EXPECT_DEATH({ TestSimulation second(&net, start); }, "sim == NULL, file src/Simulation, line 34");
}

TEST(EngineCore, CollectsTheEarliestEventsOfHighestPriority) {
    TestNet net;
    TestTransition* low = net.transition("Low", traits().withPriority(0).withDelay(1.0));
    TestTransition* high = net.transition("High", traits().withPriority(2).withDelay(1.0));
    TestTransition* alsoHigh = net.transition("AlsoHigh", traits().withPriority(2).withDelay(1.0));
    TestTransition* later = net.transition("Later", traits().withPriority(5).withDelay(2.0));
    net.transition("Idle");  // an empty input place: no event
    net.in(net.place("Empty"), net.getTransition("Idle"));
    Engine engine(&net);
    engine->init();
    EventList events = engine.events();
    EXPECT_EQ(events, (EventList{alsoHigh->getNextEvent(), high->getNextEvent()}));  // map order

    EventList all = engine.events(true);
    EXPECT_EQ(all, (EventList{alsoHigh->getNextEvent(), high->getNextEvent(), later->getNextEvent(),
                                        low->getNextEvent()}));

    // Firing them in turn: the clock follows the events.
    EXPECT_NE(engine.step(), nullptr);
    EXPECT_EQ(engine->getCurrentSimulationTime(), DateTime(1.0));
}

// More transitions than one step of the search covers, the earliest ones far
// apart in map order, the first of them with a lower priority than the next:
// the collection is the highest-priority events at the earliest time, in map
// order. An event whose time is not a number is never collected.
TEST(EngineCore, EarliestEventsAmongManyTransitions) {
    TestNet net;
    std::vector<TestTransition*> t;
    for (int i = 0; i < 20; ++i) {
        double delay = 5.0 + i;
        int priority = 0;
        if (i == 3 || i == 15) delay = 1.0;
        if (i == 7 || i == 12) {
            delay = 1.0;
            priority = 3;
        }
        if (i == 18) {
            delay = std::nan("");
            priority = 9;
        }
        const std::string name = std::string("T") + char('A' + i);
        t.push_back(net.transition(name.c_str(), traits().withPriority(priority).withDelay(delay)));
    }
    Engine engine(&net);
    engine->init();
    EXPECT_EQ(engine.events(), (EventList{t[7]->getNextEvent(), t[12]->getNextEvent()}));
    EXPECT_EQ(engine.events(true).size(), 20u);

    // The two at priority 3 gone, the two at priority 0 remain at that time.
    t[7]->removeBinding(t[7]->getNextEvent(), false);
    t[12]->removeBinding(t[12]->getNextEvent(), false);
    EXPECT_EQ(engine.events(), (EventList{t[3]->getNextEvent(), t[15]->getNextEvent()}));
}

// The search starts from the latest representable time with priority 0: an
// event exactly at that time counts with priority 0 or more, never with a
// negative one.
TEST(EngineCore, EventsAtTheLatestTimeNeedPriorityZeroOrMore) {
    const double latest = DateTime::MAX.FullDateTime();
    {
        TestNet net;
        TestTransition* zero = net.transition("Zero", traits().withPriority(0).withDelay(latest));
        net.transition("Negative", traits().withPriority(-1).withDelay(latest));
        Engine engine(&net, 0.0);
        engine->init();
        EXPECT_EQ(engine.events(), (EventList{zero->getNextEvent()}));
    }
    {
        TestNet net;
        net.transition("Negative", traits().withPriority(-1).withDelay(latest));
        Engine engine(&net, 0.0);
        engine->init();
        EXPECT_TRUE(engine.events().empty());
        EXPECT_EQ(engine.events(true).size(), 1u);
    }
}

TEST(EngineCore, WeightedChoiceAmongPositivePriorities) {
    Conflict conflict(1, 1.0, 0.0, 3.0);
    std::set<Transition*> chosen;
    for (unsigned long i = 1; i <= 60; ++i) {
        const unsigned long seed = scattered(i);
        packageSeed(seed);
        Engine engine(&conflict.net);
        EventList events = engine.events();
        ASSERT_EQ(events.size(), 3u);
        Binding* b = engine->resolve_conflicts(events);
        ASSERT_NE(b, nullptr);
        const double u = firstDraw(seed) * 4.0;
        EXPECT_EQ(b->getBoundTransition(), u <= 1.0 ? conflict.a : conflict.c) << "u = " << u;
        EXPECT_EQ(engine->getLastFiredTransition(), b->getBoundTransition()->getName());
        chosen.insert(b->getBoundTransition());
    }
    EXPECT_EQ(chosen, (std::set<Transition*>{conflict.a, conflict.c}));
}

TEST(EngineCore, UniformChoiceAtPriorityZeroIgnoresTheWeights) {
    Conflict conflict(0, 5.0, 0.0, 1.0);
    std::vector<Transition*> order{conflict.a, conflict.b, conflict.c};
    std::set<Transition*> chosen;
    for (unsigned long i = 1; i <= 60; ++i) {
        const unsigned long seed = scattered(i);
        packageSeed(seed);
        Engine engine(&conflict.net);
        EventList events = engine.events();
        Binding* b = engine->resolve_conflicts(events);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->getBoundTransition(), order[static_cast<int>(3 * firstDraw(seed))]);
        chosen.insert(b->getBoundTransition());
    }
    EXPECT_EQ(chosen.size(), 3u);
}

TEST(EngineCore, ASingleEventOrNoneDrawsNothing) {
    ScratchDir dir("engine-single");
    TestNet net;
    TestTransition* only = net.transition("Only", traits().withPriority(1));
    only->startup();
    packageSeed(9);
    Engine engine(&net);
    EventList events = engine.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(engine->resolve_conflicts(events), only->getNextEvent());
    EXPECT_EQ(engine->getLastFiredTransition(), "Only");
    EventList none;
    {
        OpenLogs logs(dir.path());
        EXPECT_EQ(engine->resolve_conflicts(none), nullptr);
        const std::string sim = logs.sim();
        EXPECT_NE(sim.find(" ******* FIRE ****** "), std::string::npos);
        EXPECT_NE(sim.find("can't fire...\n"), std::string::npos);
        EXPECT_EQ(sim.find("select randomly"), std::string::npos);
    }
    EXPECT_EQ(engine->rng().randu01(), firstDraw(9));
}

// The engine keeps the transition fired last, not its name; the name must
// outlive a rebuild of the net by a run, and a transition deleted by any
// other rebuild must never be read.
TEST(EngineCore, TheLastFiredNameOutlivesTheTransition) {
    TestNet net;
    TestTransition* only = net.transition("Only", traits().withPriority(1));
    only->startup();
    Engine engine(&net);
    EXPECT_EQ(engine->getLastFiredTransition(), "");
    EventList events = engine.events();
    engine->resolve_conflicts(events);
    engine->startFromInitialMarking(true);
    EXPECT_TRUE(net.getTransitions().empty());
    EXPECT_EQ(engine->getLastFiredTransition(), "Only");

    TestTransition* again = net.transition("Again", traits().withPriority(1));
    again->startup();
    events = engine.events();
    engine->resolve_conflicts(events);
    EXPECT_EQ(engine->getLastFiredTransition(), "Again");
    net.clearMaps();
    EXPECT_EQ(engine->getLastFiredTransition(), "");
}

TEST(EngineCore, ConflictsAreTracedInTheSimulationLog) {
    ScratchDir dir("engine-conflict-log");
    Conflict conflict(1, 1.0, 0.0, 3.0);
    Engine engine(&conflict.net);
    OpenLogs logs(dir.path());
    EventList events = engine.events();
    engine->resolve_conflicts(events);
    const std::string sim = logs.sim();
    for (const std::string& part : std::vector<std::string>{
             " ******** ---- EventList ---- ********\n", "\n\n\n     ----    !! select randomly !!    ---- \n\n",
             "\t3\t transitions in conflict:\n", "\t total amount of weights = 4\n", "\t randomly selected weight = ",
             "\n\n     ---- !! END of random select !!  ---- \n\n\n"}) {
        EXPECT_NE(sim.find(part), std::string::npos) << part << " in\n" << sim;
    }
}

TEST(EngineCore, ClockUpdates) {
    ScratchDir dir("engine-clock");
    TestNet net;
    Engine engine(&net, 2.0);
    OpenLogs logs(dir.path());
    engine->updateSimulationTime(DateTime(2.0));
    EXPECT_EQ(logs.sim(), "");
    engine->updateSimulationTime(DateTime(86400.0 + 3661.0));
    EXPECT_EQ(engine->getCurrentSimulationTime(), DateTime(86400.0 + 3661.0));
    std::ostringstream clock;
    clock << DateTime(86400.0 + 3661.0);
    EXPECT_EQ(logs.sim(), "measureOut not initialized, couldn't send Time: " + clock.str() + "\n");
    engine->resetCurrentTime();
    EXPECT_EQ(engine->getCurrentSimulationTime(), DateTime(2.0));
    engine->init();
    const std::size_t before = logs.sim().size();
    engine->updateSimulationTime(DateTime(7.0));
    EXPECT_EQ(logs.sim().size(), before);  // initialised: no message
}

TEST(EngineCore, PrintEventListShortensLongRunsOfOneTransition) {
    TestNet net;
    Place* p = net.place("P");
    Place* q = net.place("Q");
    TestTransition* t = net.transition("T", traits().infiniteServer());
    TestTransition* u = net.transition("U", traits().infiniteServer());
    net.in(p, t);
    net.in(q, u);
    net.putMany(p, 15);
    net.putMany(q, 2);
    t->startup();
    u->startup();
    Engine engine(&net);
    EventList events(t->getEvents().begin(), t->getEvents().end());
    ASSERT_EQ(events.size(), 15u);
    events.insert(events.end(), u->getEvents().begin(), u->getEvents().end());

    CaptureStdout();
    const std::string listing = engine->printEventList(events);
    EXPECT_EQ(GetCapturedStdout(), "Binding[..., T,  ...  ]\n");
    std::ostringstream expected;
    expected << " ******** ---- EventList ---- ********\n";
    int written = 0;
    for (Binding* b : t->getEvents())
        if (written++ < 11) expected << text(*b) << "\n";
    for (Binding* b : u->getEvents()) expected << text(*b) << "\n";
    expected << "---- --------- ----\n";
    EXPECT_EQ(listing, expected.str());

    // Another transition in between starts a new run with a fresh count.
    EventList mixed;
    auto it = t->getEvents().begin();
    for (int i = 0; i < 3; ++i) mixed.push_back(*it++);
    mixed.push_back(*u->getEvents().begin());
    while (it != t->getEvents().end()) mixed.push_back(*it++);
    CaptureStdout();
    const std::string second = engine->printEventList(mixed);
    EXPECT_EQ(GetCapturedStdout(), "Binding[..., T,  ...  ]\n");
    std::size_t lines = 0;
    for (std::size_t pos = 0; (pos = second.find("Binding[FIRE, T,", pos)) != std::string::npos; ++pos) ++lines;
    EXPECT_EQ(lines, 3u + 11u);
}

TEST(EngineCore, TimeGuardPlaceholdersAreConvertedWhenDue) {
    TestNet net;
    Place* p = net.place("P");
    TestTransition* t = net.transition("T", traits().withPriority(1));
    net.in(p, t);
    t->timeguarded = true;
    t->setImmediate(true);
    net.putMany(p, 2);
    Engine engine(&net);
    engine->init();
    ASSERT_TRUE(t->getNextEvent()->isTempBinding());
    EventList events = engine.events();
    ASSERT_EQ(events.size(), 1u);
    Binding* b = events.front();
    EXPECT_FALSE(b->isTempBinding());
    EXPECT_FALSE(b->isFireEvent());
    EXPECT_EQ(b->getBoundTokens()->size(), 1u);
    EXPECT_EQ(engine->resolve_conflicts(events), b);
    engine->executeEvent(b);
    EXPECT_EQ(t->getFireCount(), 1);
    EXPECT_EQ(p->getMarkingSize(), 1u);
    // After a converted firing the transition searches in the ordinary way.
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_FALSE(t->getNextEvent()->isTempBinding());
    EXPECT_FALSE(t->isOptimizingTimeguardTransition());
}

TEST(EngineCore, PlaceholdersThatCannotConvertWaitASecondAtATime) {
    TestNet net;
    TestTransition* t = net.transition("T", traits().withPriority(1));
    net.in(net.place("P"), t);
    t->timeguarded = true;
    t->setImmediate(true);
    TestTransition* u = net.transition("U", traits().withDelay(3.5));
    Engine engine(&net);
    engine->init();
    EventList events = engine.events();
    EXPECT_EQ(events, EventList{u->getNextEvent()});
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_TRUE(t->getNextEvent()->isTempBinding());
    EXPECT_EQ(t->getNextEvent()->getTime(), DateTime(4.0));

    // A placeholder that is due together with an event that can fire is
    // only left out of this round.
    TestTransition* v = net.transition("V", traits().withPriority(1).withDelay(4.0));
    v->startup();
    events = engine.events();
    EXPECT_EQ(events, EventList{u->getNextEvent()});
    engine->updateSimulationTime(DateTime(3.9));
    u->removeAllBindingsFromEventList();
    const long id = t->getNextEvent()->getID();
    events = engine.events();
    EXPECT_EQ(events, EventList{v->getNextEvent()});
    EXPECT_EQ(t->getNextEvent()->getID(), id);
    EXPECT_EQ(t->getNextEvent()->getTime(), DateTime(4.0));
}

TEST(EngineCore, AConvertedPlaceholderLosesItsTokenToAnotherFiring) {
    TestNet net;
    Place* p = net.place("P");
    TestTransition* a = net.transition("A", traits().withPriority(1).withWeight(1.0));
    TestTransition* t = net.transition("T", traits().withPriority(1).withWeight(0.0));
    net.in(p, a);
    net.in(p, t);
    t->timeguarded = true;
    t->setImmediate(true);
    net.putMany(p, 1);
    Engine engine(&net);
    engine->init();
    EventList events = engine.events();
    ASSERT_EQ(events.size(), 2u);  // A's binding and T's converted placeholder, both on the one token
    EXPECT_FALSE(t->getNextEvent()->isTempBinding());
    EXPECT_EQ(engine.step(), a);  // weight 0 never wins
    EXPECT_EQ(p->getMarkingSize(), 0u);
    // The token is gone, so is T's event.
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_EQ(engine.step(), nullptr);
    EXPECT_TRUE(t->firings.empty());
}

// Thrown by a time guard asked far more often than any test needs.
struct AskedTooOften {};


TEST(EngineCore, OnlyPlaceholdersThatCannotConvertMeanADeadMarking) {
    TestNet net;
    TestTransition* t = net.transition("T", traits().withPriority(1));
    TestTransition* w = net.transition("W", traits().withPriority(1));
    net.in(net.place("P"), t);
    net.in(net.place("Q"), w);
    for (TestTransition* g : {t, w}) {
        g->timeguarded = true;
        g->setImmediate(true);
        g->timeguardFn = [g](const DateTime&) -> Seconds_T {
            if (g->timeguardCalls > 10000) throw AskedTooOften();
            return 0.0;
        };
    }
    Engine engine(&net);
    engine->init();
    try {
        EXPECT_TRUE(engine.events().empty());
        EXPECT_EQ(t->getNextEvent()->getTime(), DateTime(1.0));
        EXPECT_TRUE(engine.events(true).empty());
        EXPECT_EQ(t->getNextEvent()->getTime(), DateTime(2.0));
        EXPECT_EQ(w->getNextEvent()->getTime(), DateTime(2.0));
        EXPECT_EQ(engine.step(), nullptr);
    } catch (const AskedTooOften&) {
        FAIL() << "the engine kept moving the placeholders on";
    }
    // They stay scheduled and still convert once a token comes.
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_TRUE(t->getNextEvent()->isTempBinding());
    net.putMany(net.getPlace("P"), 1);
    EventList events = engine.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events.front()->getBoundTransition(), t);
    EXPECT_FALSE(events.front()->isTempBinding());
}
