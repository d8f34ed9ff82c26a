#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <set>
#include <sstream>

#include "TestNets.h"
#include "TestSupport.h"

using namespace testnets;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using testsupport::ScratchDir;

namespace {

// Whether `r`, started as stream number `index` (from 0) after the package
// seed `seed`, has drawn exactly `n` numbers. Uses up one number of `r`.
bool drewExactly(RandomWrapper& r, unsigned long seed, int index, int n) {
    packageSeed(seed);
    std::vector<std::unique_ptr<RandomWrapper>> streams;
    for (int i = 0; i <= index; ++i) streams.emplace_back(new RandomWrapper);
    RandomWrapper& twin = *streams.back();
    for (int i = 0; i < n; ++i) twin.randu01();
    return r.randu01() == twin.randu01();
}

long valueOf(const Ptr<Token>& t) { return Dynamic_Cast<Token_int>(t)->getValue(); }

std::set<long> boundValues(Transition* t) {
    std::set<long> values;
    for (Binding* b : t->getEvents())
        for (const Ptr<Token>& h : *b->getBoundTokens()) values.insert(valueOf(h));
    return values;
}

class SingleStepSimulation : public TestSimulation {
public:
    using TestSimulation::TestSimulation;
    bool isSingleStep() const override { return true; }
};

}  // namespace

TEST(Transition, ConstructionFlagsAndTextForm) {
    ScratchDir dir("transition-attributes");
    TestNet net;
    TestTransition plain(7, "T", &net, traits().withWeight(2.5).withPriority(3));
    EXPECT_EQ(plain.getType(), "Transition");
    EXPECT_EQ(plain.getID(), 7);
    EXPECT_EQ(plain.getPriority(), 3);
    EXPECT_EQ(plain.getFiringWeight(), 2.5);
    EXPECT_FALSE(plain.isImmediate());
    EXPECT_FALSE(plain.isLogging());
    EXPECT_FALSE(plain.getInEventList());
    EXPECT_TRUE(plain.getNextEvent() == nullptr);
    std::ostringstream s;
    s << plain;
    EXPECT_EQ(s.str(), "T, weight:2.5, priority:3\n");

    MainClass::getLog()->setLogFolder(dir.path());
    class Attributed : public Transition {
    public:
        Attributed(const PlaceIdentMap& attributes, NetClass* net)
            : Transition(1, "A", net, attributes, PlaceIdentMap{{"x", "P"}}, "page", 1.0, 0, true, false, false,
                         true) {}
        TempBindingList* generateBindingList() override { return new TempBindingList; }
        void moveTokens(TokenList&) override {}
    };
    Attributed on({{"display_expr", "x+1"}, {"watch", "true"}, {"timed_trans", "false"},
                   {"logfile_name", "a.log"}, {"logfile_desc", "my header"}},
                  &net);
    EXPECT_TRUE(on.isDisplaying());
    EXPECT_TRUE(on.isWatched());
    EXPECT_TRUE(on.isImmediate());
    EXPECT_TRUE(on.isLogging());
    EXPECT_TRUE(on.hasLocalGuard());
    EXPECT_EQ(on.getPagePath(), "page");
    EXPECT_EQ(on.getPlaceMap().at("x"), "P");
    EXPECT_EQ(on.getLogfilePath(), dir.file("a.log"));
    EXPECT_EQ(dir.read("a.log"), "my header\n");
    Attributed off({{"watch", "TRUE"}, {"timed_trans", "true"}}, &net);
    EXPECT_FALSE(off.isDisplaying());
    EXPECT_FALSE(off.isWatched());
    EXPECT_FALSE(off.isImmediate());
    EXPECT_FALSE(off.isLogging());
    MainClass::getLog()->setLogFolder(".");
}

TEST(Transition, SetLogfileWritesTheHeaderOrReportsTheFailure) {
    ScratchDir dir("transition-logfile");
    TestNet net;
    TestTransition* t = net.transition("Worker");
    MainClass::getLog()->setLogFolder(dir.path());
    t->setLogfile("", "");
    EXPECT_FALSE(t->isLogging());
    t->setLogfile("w.log", "");
    EXPECT_TRUE(t->isLogging());
    EXPECT_EQ(dir.read("w.log"), "\t******** LOGFILE of Transition Worker *********\n");
    t->setLogfile("w.log", "second");
    EXPECT_EQ(dir.read("w.log"), "\t******** LOGFILE of Transition Worker *********\nsecond\n");

    CaptureStdout();
    t->setLogfile("missing/w.log", "");
    EXPECT_EQ(GetCapturedStdout(), dir.file("missing/w.log") + " couldn't be opened!\n");
    EXPECT_FALSE(t->isLogging());
    MainClass::getLog()->setLogFolder(".");
}

TEST(Transition, CheckSpaceWithCapacitiesAndSelfLoops) {
    TestNet net;
    Place* in = net.place("In");
    Place* out = net.place("Out", 2);
    Place* loop = net.place("Loop", 2);
    TestTransition* t = net.transition("T");
    TestTransition* keep = net.transition("Keep");     // takes 1, puts 1 back
    TestTransition* grow = net.transition("Grow");     // takes 1, puts 2 back
    TestTransition* shrink = net.transition("Shrink"); // takes 2, puts 1 back
    TestTransition* sink = net.transition("Sink");
    net.in(in, t);
    net.out(t, out);
    net.in(loop, keep);
    net.out(keep, loop);
    net.in(loop, grow);
    net.out(grow, loop, 2);
    net.in(loop, shrink, 2);
    net.out(shrink, loop);
    net.in(in, sink);

    EXPECT_TRUE(t->checkSpace());
    net.putMany(out, 1);
    EXPECT_TRUE(t->checkSpace());
    net.putMany(out, 1);
    EXPECT_FALSE(t->checkSpace());

    net.putMany(loop, 2);
    EXPECT_TRUE(keep->checkSpace());
    EXPECT_FALSE(grow->checkSpace());
    EXPECT_TRUE(shrink->checkSpace());
    EXPECT_TRUE(sink->checkSpace());  // no output places

    // The guard is asked even without space, and the answer is no list.
    EXPECT_EQ(t->getAvailableBindingList(), nullptr);
    EXPECT_EQ(t->guardCalls, 1);
    out->removeCurrentMarking();
    t->guardFn = [] { return false; };
    EXPECT_EQ(t->getAvailableBindingList(), nullptr);
    EXPECT_EQ(t->guardCalls, 2);
    t->guardFn = nullptr;
    std::unique_ptr<TempBindingList> list(t->getAvailableBindingList());
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->empty());  // space and guard, but no token
    net.putMany(in, 2);
    list.reset(t->getAvailableBindingList());
    EXPECT_EQ(list->size(), 2u);
    Transition::clearTempBindingList(list.get());
    EXPECT_TRUE(list->empty());
}

TEST(Transition, EnablingDegree) {
    TestNet net;
    Place* in = net.place("In");
    Place* open = net.place("Open");
    Place* small = net.place("Small", 3);
    Place* partly = net.place("Partly", 10);
    Place* loop = net.place("Loop", 5);
    TestTransition* noOut = net.transition("NoOut");
    TestTransition* pairs = net.transition("Pairs");
    TestTransition* capped = net.transition("Capped");
    TestTransition* doubled = net.transition("Doubled");
    TestTransition* same = net.transition("Same");
    TestTransition* eats = net.transition("Eats");
    net.in(in, noOut);
    net.in(in, pairs, 2);
    net.out(pairs, open);
    net.in(in, capped);
    net.out(capped, small);
    net.in(in, doubled);
    net.out(doubled, partly, 2);
    net.in(loop, same);
    net.out(same, loop);
    net.in(loop, eats, 3);
    net.out(eats, loop);
    net.putMany(in, 5);
    net.putMany(partly, 4);
    net.putMany(loop, 5);

    EXPECT_EQ(noOut->getEnablingDegree(), INT_MAX);
    EXPECT_EQ(pairs->getEnablingDegree(), 2);
    EXPECT_EQ(capped->getEnablingDegree(), 3);
    EXPECT_EQ(doubled->getEnablingDegree(), 3);  // (10 - 4) / 2
    // A full self-loop place whose count a firing does not change sets no
    // bound of its own: only its tokens count.
    EXPECT_EQ(same->getEnablingDegree(), 5);
    EXPECT_EQ(eats->getEnablingDegree(), 1);  // min(5 / 3, 5 / 2)
    net.putMany(loop, 2);                      // over the capacity
    EXPECT_EQ(same->getEnablingDegree(), 7);
}

TEST(Transition, SingleServerChoosesOneCombinationAtRandom) {
    std::set<long> chosen;
    for (unsigned long seed = 1; seed <= 40 && chosen.size() < 3; ++seed) {
        TestNet net;
        Place* p = net.place("P");
        net.putMany(p, 3, 10);
        packageSeed(seed);
        TestTransition* t = net.transition("T");
        net.in(p, t);
        t->startup();
        ASSERT_EQ(t->getEvents().size(), 1u);
        EXPECT_TRUE(t->getInEventList());
        const std::set<long> values = boundValues(t);
        ASSERT_EQ(values.size(), 1u);
        chosen.insert(*values.begin());
        EXPECT_TRUE(drewExactly(t->rng(), seed, 1, 1));
    }
    EXPECT_EQ(chosen, (std::set<long>{10, 11, 12}));
}

namespace {

// A transition that answers space, priority and weight itself, or says that
// it keeps the kernel's answers.
class OwnRulesTransition : public TestTransition {
public:
    OwnRulesTransition(int id, NetClass* net, bool keepsDefaults)
        : TestTransition(id, "Own", net, TransitionTraits().withPriority(2).withWeight(3.0)), keeps(keepsDefaults) {}
    bool keepsKernelDefaults() const override { return keeps; }
    bool checkSpace() const override {
        ++spaceCalls;
        return space;
    }
    int getPriority() const override { return 7; }
    double getFiringWeight() const override { return 0.5; }
    bool keeps;
    bool space = true;
    mutable int spaceCalls = 0;
};

}  // namespace

TEST(Transition, OwnSpacePriorityAndWeightAreAskedUnlessTheKernelsAreKept) {
    for (bool keeps : {false, true}) {
        TestNet net;
        Place* p = net.place("P");
        net.putMany(p, 2);
        OwnRulesTransition* t = new OwnRulesTransition(1, &net, keeps);
        net.addTransition(t);
        net.in(p, t);
        t->startup();
        ASSERT_EQ(t->getEvents().size(), 1u) << keeps;
        // A transition that keeps the kernel's rules takes its constructor's
        // priority and weight, and with unlimited outputs it has space.
        EXPECT_EQ(t->getNextEvent()->getPriority(), keeps ? 2 : 7);
        EXPECT_EQ(t->getNextEvent()->getWeight(), keeps ? 3.0 : 0.5);
        EXPECT_EQ(t->spaceCalls, keeps ? 0 : 1);

        // Without space (as the class says) the event goes at the next
        // notice, and no new one comes.
        t->space = false;
        t->couldDisableNotify();
        EXPECT_EQ(t->getEvents().size(), keeps ? 1u : 0u) << keeps;
    }
}

namespace {

// A transition whose delay is exponential with a fixed mean: the kernel
// samples it from the transition's delay stream, without getFiringDelay.
class FixedExpTransition : public TestTransition {
public:
    FixedExpTransition(int id, NetClass* net, double m)
        : TestTransition(id, "Exp", net, testnets::traits().bindingDirectly().withoutGlobalGuard()), mean(m) {}
    DelayForm fixedDelay(double& m) const override {
        m = mean;
        return DelayForm::Exponential;
    }
    double nextDelayDraw() const { return delay.Exp(1.0); }
    double mean;
};

}  // namespace

// A negative mean is no delay and draws nothing, as Exp answers it.
TEST(Transition, TheKernelSamplesAFixedExponentialDelay) {
    for (double mean : {2.0, 0.0, -1.0}) {
        SCOPED_TRACE(mean);
        TestNet net;
        Place* p = net.place("P");
        net.putMany(p, 1);
        packageSeed(91);
        FixedExpTransition* t = new FixedExpTransition(1, &net, mean);
        net.addTransition(t);
        net.in(p, t);
        t->startup();
        ASSERT_EQ(t->getEvents().size(), 1u);
        packageSeed(91);
        Delay twin;  // the first stream of the package, as the transition's sampler
        EXPECT_EQ(t->getNextEvent()->getTime(), DateTime() + twin.Exp(mean));
        EXPECT_EQ(t->delayCalls, 0);
        EXPECT_EQ(t->nextDelayDraw(), twin.Exp(1.0));
    }
}

TEST(Transition, ExtractingFromAOneEntryListStillDraws) {
    TestNet net;
    packageSeed(77);
    TestTransition* t = net.transition("T");
    TempBindingList list;
    list.push_back(new TokenList);
    TokenList* only = list[0];
    std::unique_ptr<TokenList> got(t->extractRandomBinding(&list));
    EXPECT_EQ(got.get(), only);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(drewExactly(t->rng(), 77, 1, 1));
}

TEST(Transition, InfiniteServerBindsEveryFreeTokenUpToTheDegree) {
    TestNet net;
    Place* p = net.place("P");
    Place* o = net.place("O");
    Place* q = net.place("Q");
    Place* capped = net.place("C", 3);
    TestTransition* all = net.transition("All", traits().infiniteServer());
    TestTransition* three = net.transition("Three", traits().infiniteServer());
    net.in(p, all);
    net.out(all, o);
    net.in(q, three);
    net.out(three, capped);
    net.putMany(p, 5);
    net.putMany(q, 5, 20);
    all->startup();
    three->startup();

    ASSERT_EQ(all->getEvents().size(), 5u);
    EXPECT_EQ(boundValues(all), (std::set<long>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(all->getNotBoundTokens().empty());
    for (const Ptr<Token>& t : p->getFullMarking()) EXPECT_EQ(t->getTransitions(), (std::vector<Transition*>{all}));

    ASSERT_EQ(three->getEvents().size(), 3u);
    EXPECT_EQ(three->getNotBoundTokens().size(), 2u);
    std::set<long> free;
    for (const Ptr<Token>& t : three->getNotBoundTokens()) free.insert(valueOf(t));
    std::set<long> bound = boundValues(three);
    EXPECT_EQ(bound.size(), 3u);
    for (long v : free) EXPECT_EQ(bound.count(v), 0u);

    // A new token tops the bindings up only while the degree allows it.
    net.put(p, 5);
    all->couldEnableNotify();
    EXPECT_EQ(all->getEvents().size(), 6u);
    net.put(q, 25);
    three->couldEnableNotify();
    EXPECT_EQ(three->getEvents().size(), 3u);
    EXPECT_EQ(three->getNotBoundTokens().size(), 3u);
}

TEST(Transition, CouldDisableWithdrawsTheExcessAndReturnsItsTokens) {
    TestNet net;
    Place* p = net.place("P");
    Place* o = net.place("O", 4);
    TestTransition* t = net.transition("T", traits().infiniteServer());
    net.in(p, t);
    net.out(t, o);
    net.putMany(p, 4);
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 4u);
    net.putMany(o, 2);
    EXPECT_EQ(t->getEnablingDegree(), 2);
    t->couldDisableNotify();

    ASSERT_EQ(t->getEvents().size(), 2u);
    ASSERT_EQ(t->getNotBoundTokens().size(), 2u);
    const std::set<long> bound = boundValues(t);
    for (const Ptr<Token>& free : t->getNotBoundTokens()) {
        EXPECT_EQ(bound.count(valueOf(free)), 0u);
        EXPECT_FALSE(free->containsTransition(t));
    }
    for (Binding* b : t->getEvents()) EXPECT_TRUE(b->getBoundTokens()->front()->containsTransition(t));

    // Without space every binding goes, and its tokens come back.
    net.putMany(o, 2);
    t->couldDisableNotify();
    EXPECT_TRUE(t->getEvents().empty());
    EXPECT_FALSE(t->getInEventList());
    EXPECT_EQ(t->getNotBoundTokens().size(), 4u);
}

TEST(Transition, TracesOnlyWithTheTransitionLogOpen) {
    ScratchDir dir("transition-trace");
    TestNet net;
    Place* p = net.place("P");
    Place* o = net.place("O", 1);
    TestTransition* t = net.transition("T");
    net.in(p, t);
    net.out(t, o);
    net.putMany(p, 1);
    t->startup();  // no log: nothing may be written anywhere
    t->removeAllBindingsFromEventList();
    {
        OpenLogs logs(dir.path());
        EXPECT_EQ(logs.trans(), "");
        t->startup();
        const std::string trace = logs.trans();
        std::ostringstream binding;
        binding << *t->getNextEvent();
        for (const std::string& line : std::vector<std::string>{"T startup 1 ...\n", "T startup 2 ...\n", "T startup 3 ...\n", "T startup 4 ...\n",
              "T startup 5 ...\n", "T startup 6 ...\n", "T search configuration...\n", "T is IS: FALSE\n",
              "T so we check()...  GlobalGuard(): TRUE ==> Space()&&GlobalGuard() TRUE\n", "choose binding of 1\n",
              std::string("Binding extracted and checked into Eventlist: ") + binding.str() + "\n"}) {
            EXPECT_NE(trace.find(line), std::string::npos) << line << " in\n" << trace;
        }
        net.putMany(o, 1);
        t->removeAllBindingsFromEventList();
        t->searchConfiguration();
        const std::string after = logs.trans();
        EXPECT_NE(after.find("removeFromEventList()... T, weight:1, priority:0\n"), std::string::npos);
        EXPECT_NE(after.find("T checkSpace(): O (Place) can't take token...\n"), std::string::npos);
        EXPECT_NE(after.find("T so we check()...  GlobalGuard(): TRUE ==> Space()&&GlobalGuard() FALSE\n"),
                  std::string::npos);
        o->removeCurrentMarking();
        p->removeCurrentMarking();
        t->searchConfiguration();
        EXPECT_NE(logs.trans().find("T found no configuration ;-(\n"), std::string::npos);
    }
}

TEST(Transition, TimeGuardPlaceholders) {
    TestNet net;
    Place* p = net.place("P");
    TestTransition* t = net.transition("T", traits().withDelay(0.5));
    net.in(p, t);
    t->timeguarded = true;
    t->setImmediate(true);
    double guard = 3.0;
    t->timeguardFn = [&guard](const DateTime&) { return guard; };
    t->startup();
    EXPECT_TRUE(t->isOptimizingTimeguardTransition());
    ASSERT_EQ(t->getEvents().size(), 1u);
    Binding* placeholder = t->getNextEvent();
    EXPECT_TRUE(placeholder->isTempBinding());
    EXPECT_FALSE(placeholder->isFireEvent());
    EXPECT_EQ(placeholder->getTime(), DateTime(86400.0 + 3.5));  // no engine: the start of time
    EXPECT_TRUE(t->getInEventList());

    // The placeholder brings the transition back; searching does nothing.
    net.putMany(p, 2);
    t->searchConfiguration();
    t->couldEnableNotify();
    t->placeNotify();
    EXPECT_EQ(t->getEvents().size(), 1u);
    EXPECT_EQ(t->searches, 0);

    // Converting needs a combination; the placeholder keeps time and ID.
    const long id = placeholder->getID();
    p->removeCurrentMarking();
    EXPECT_FALSE(t->convertTimeguardBinding(placeholder));
    EXPECT_TRUE(placeholder->isTempBinding());
    EXPECT_TRUE(t->isOptimizingTimeguardTransition());
    net.putMany(p, 1);
    ASSERT_TRUE(t->convertTimeguardBinding(placeholder));
    EXPECT_FALSE(placeholder->isTempBinding());
    EXPECT_EQ(placeholder->getID(), id);
    EXPECT_EQ(placeholder->getTime(), DateTime(86400.0 + 3.5));
    EXPECT_FALSE(t->isOptimizingTimeguardTransition());
    EXPECT_EQ(t->getEvents().size(), 1u);

    // Only immediate single-server transitions use placeholders.
    TestTransition* timed = net.transition("Timed");
    timed->timeguarded = true;
    timed->startup();
    EXPECT_FALSE(timed->isOptimizingTimeguardTransition());
    TestTransition* is = net.transition("IS", traits().infiniteServer());
    net.in(net.place("Empty"), is);
    is->timeguarded = true;
    is->setImmediate(true);
    is->startup();
    EXPECT_FALSE(is->isOptimizingTimeguardTransition());
}

TEST(Transition, NoPlaceholdersWhileTheEngineSingleSteps) {
    TestNet net;
    DateTime start(0.0);
    {
        SingleStepSimulation sim(&net, start);
        net.setSimulation(&sim);
        TestTransition* t = net.transition("T");
        Place* p = net.place("P");
        net.in(p, t);
        net.put(p, 1);
        t->timeguarded = true;
        t->setImmediate(true);
        t->startup();
        EXPECT_FALSE(t->isOptimizingTimeguardTransition());
        // A real search, not a placeholder: the binding carries the token.
        ASSERT_EQ(t->getEvents().size(), 1u);
        EXPECT_FALSE((*t->getEvents().begin())->isTempBinding());
        EXPECT_EQ(t->searches, 1);
    }
    net.setSimulation(nullptr);
}

TEST(TransitionDeathTest, EventListAssertions) {
    TestNet net;
    Place* p = net.place("P");
    TestTransition* t = net.transition("T");
    net.in(p, t);
    net.putMany(p, 2);
    t->startup();
    ASSERT_EQ(t->getEvents().size(), 1u);
    EXPECT_DEATH(t->addBinding(new Binding(new TokenList, t, DateTime(0.0))),
                 "isInfinite \\|\\| bindings.empty\\(\\), file src/Transition, line 368");
    EXPECT_DEATH(t->addBinding(new Binding(t, DateTime(0.0))),
                 "binding->getBoundTokens\\(\\) != NULL, file src/Transition, line 367");
    EXPECT_DEATH(t->addTimeguardBinding(DateTime(0.0)), "bindings.empty\\(\\), file src/Transition, line 385");
    t->removeAllBindingsFromEventList();
    EXPECT_DEATH(t->tokenNotify(p->getFullMarking().front()), "!bindings.empty\\(\\), file src/Transition, line 484");
    // A single-server event list with two bindings can only come from a restore.
    t->addRestoredBinding(new Binding(new TokenList, t, DateTime(0.0)));
    t->addRestoredBinding(new Binding(new TokenList, t, DateTime(0.0)));
    EXPECT_DEATH(t->tokenNotify(p->getFullMarking().front()), "bindings.size\\(\\) == 1, file src/Transition, line 514");
}
