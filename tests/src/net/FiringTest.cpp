#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "TestNets.h"
#include "TestSupport.h"

using namespace testnets;
using testsupport::ScratchDir;

namespace {

std::vector<long> boundIds(Transition* t) {
    std::vector<long> ids;
    for (Binding* b : t->getEvents())
        for (const Ptr<Token>& h : *b->getBoundTokens()) ids.push_back(h->getID());
    std::sort(ids.begin(), ids.end());
    return ids;
}

void fireNext(Transition* t, double weight = 1.0) {
    ASSERT_NE(t->getNextEvent(), nullptr) << t->getName();
    t->fire(t->getNextEvent(), weight);
}

}  // namespace

TEST(Firing, ATokenTakenByOneTransitionIsReboundByTheOther) {
    int deaths = 0;
    TestNet net;
    Place* p = net.place("P");
    TestTransition* a = net.transition("A", traits().firstCombination());
    TestTransition* b = net.transition("B", traits().firstCombination());
    net.in(p, a);
    net.in(p, b);
    Ptr<Token> x(new CountedToken(1, deaths));
    Ptr<Token> y(new CountedToken(2, deaths));
    p->addToken(x);
    p->addToken(y);
    a->startup();
    b->startup();
    ASSERT_EQ(boundIds(a), std::vector<long>{x->getID()});
    ASSERT_EQ(boundIds(b), std::vector<long>{x->getID()});
    EXPECT_EQ(x->getTransitions(), (std::vector<Transition*>{a, b}));
    const long oldB = b->getNextEvent()->getID();
    const long xId = x->getID();
    x.ResetPtr();

    const long global = Transition::globalFireCount;
    fireNext(a);
    EXPECT_EQ(a->getFireCount(), 1);
    EXPECT_EQ(Transition::globalFireCount, global + 1);
    EXPECT_EQ(a->firings, (std::vector<std::vector<long>>{{xId}}));
    EXPECT_EQ(deaths, 1);  // consumed and no longer held by any binding
    // B lost its binding and found the remaining token; A searched after B.
    EXPECT_GT(b->getNextEvent()->getID(), oldB);
    EXPECT_EQ(boundIds(b), std::vector<long>{y->getID()});
    EXPECT_EQ(boundIds(a), std::vector<long>{y->getID()});
    EXPECT_LT(b->getNextEvent()->getID(), a->getNextEvent()->getID());
    EXPECT_EQ(y->getTransitions(), (std::vector<Transition*>{b, a}));
}

// A transition that binds directly keeps its event's tokens uncounted (they
// lie in their places), and its firing keeps them alive although they leave
// their places and no other handle is left: through the move, the holders'
// notices and the traces, until the event is dropped.
TEST(Firing, ADirectEventBorrowsItsTokensAndKeepsThemThroughItsFiring) {
    int deaths = 0;
    TestNet net;
    Place* p = net.place("P");
    TestTransition* a = net.transition("A", traits().bindingDirectly().withoutGlobalGuard());
    TestTransition* b = net.transition("B", traits().bindingDirectly().withoutGlobalGuard());
    net.in(p, a);
    net.in(p, b);
    Ptr<Token> x(new CountedToken(1, deaths));
    p->addToken(x);
    p->addToken(Ptr<Token>(new CountedToken(2, deaths)));
    a->startup();
    b->startup();
    ASSERT_EQ(boundIds(b), std::vector<long>{x->getID()});
    EXPECT_TRUE(a->getNextEvent()->getBoundTokens()->borrowsTokens());
    EXPECT_EQ(x.GetRefObject()->activeCount(), 2u);  // the marking's and this test's
    const long xId = x->getID();
    x.ResetPtr();

    a->moveFn = [&](TokenList& tokens) {
        p->removeToken(tokens[0]);
        EXPECT_EQ(deaths, 0);
        EXPECT_EQ(tokens[0]->getID(), xId);
    };
    fireNext(a);
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(boundIds(b), std::vector<long>{xId + 1});
    EXPECT_EQ(boundIds(a), std::vector<long>{xId + 1});
    p->getFullMarking().clear();  // as a restore does, before the events go
    EXPECT_EQ(deaths, 2);
    a->removeCurrentBindings();
    b->removeCurrentBindings();
}

// A holder told that a token was consumed may bind the same token again
// where it still lies (here a token lying in two places): its new
// registration stays, the old ones are gone.
TEST(Firing, AHolderThatBindsAConsumedTokenAgainStaysRegistered) {
    TestNet net;
    Place* p = net.place("P");
    Place* r = net.place("R");
    TestTransition* a = net.transition("A", traits().bindingDirectly());
    TestTransition* b = net.transition("B", traits().bindingDirectly());
    TestTransition* c = net.transition("C", traits().firstCombination());
    net.in(p, a);
    net.in(r, b);
    net.in(r, c);
    Ptr<Token> x(new Token_int(1));
    p->addToken(x);
    r->addToken(x);
    a->startup();
    b->startup();
    c->startup();
    ASSERT_EQ(x->getTransitions(), (std::vector<Transition*>{a, b, c}));
    const long oldB = b->getNextEvent()->getID();
    a->moveFn = [&](TokenList& tokens) { p->removeToken(tokens[0]); };
    fireNext(a);
    EXPECT_GT(b->getNextEvent()->getID(), oldB);
    EXPECT_EQ(boundIds(b), std::vector<long>{x->getID()});
    EXPECT_EQ(boundIds(c), std::vector<long>{x->getID()});
    EXPECT_EQ(x->getTransitions(), (std::vector<Transition*>{b, c}));
    EXPECT_TRUE(a->getEvents().empty());
}

TEST(Firing, ANewTokenLeavesASingleServerBindingAloneAndAddsAnInfiniteServerOne) {
    TestNet net;
    Place* p = net.place("P");
    Place* q = net.place("Q");
    TestTransition* source = net.transition("Source");  // no inputs: one empty combination
    TestTransition* single = net.transition("Single");
    TestTransition* infinite = net.transition("Infinite", traits().infiniteServer());
    net.out(source, p);
    net.out(source, q);
    net.in(p, single);
    net.in(q, infinite);
    net.putMany(p, 1);
    net.putMany(q, 1);
    for (auto& entry : net.getTransitions()) entry.second->startup();
    ASSERT_EQ(single->getEvents().size(), 1u);
    ASSERT_EQ(infinite->getEvents().size(), 1u);
    const long id = single->getNextEvent()->getID();

    fireNext(source);
    EXPECT_EQ(source->getFireCount(), 1);  // a firing that consumes nothing counts too
    EXPECT_EQ(source->getEvents().size(), 1u);
    EXPECT_EQ(p->getMarkingSize(), 2u);
    ASSERT_EQ(single->getEvents().size(), 1u);
    EXPECT_EQ(single->getNextEvent()->getID(), id);
    EXPECT_EQ(infinite->getEvents().size(), 2u);
    EXPECT_TRUE(infinite->getNotBoundTokens().empty());
}

// A neighbour reached over several places or arcs is listed once, at its
// first place.
TEST(Firing, NeighbourListsHoldEachTransitionOnceButNeverTheTransitionItself) {
    TestNet net;
    Place* p = net.place("P");
    Place* q = net.place("Q");
    Place* s = net.place("S");
    TestTransition* t = net.transition("T");
    TestTransition* feeder = net.transition("Feeder");
    TestTransition* guarded = net.transition("Guarded", traits().withLocalGuard());
    TestTransition* rival = net.transition("Rival");
    TestTransition* reader = net.transition("Reader");
    net.out(feeder, p);
    net.in(p, t);
    net.in(s, t);
    net.out(t, q);
    net.out(t, s);
    net.out(guarded, s);
    net.out(guarded, q);
    net.out(rival, q);
    net.in(q, reader);
    net.in(q, reader, 1);  // a second arc from the same place
    t->startup();
    EXPECT_EQ(t->getCouldEnableTransitions(), (std::vector<Transition*>{feeder, guarded, reader}));
    EXPECT_EQ(t->getCouldDisableTransitions(), (std::vector<Transition*>{guarded, rival}));
    t->startup();  // a second start-up does not pile the lists up
    EXPECT_EQ(t->getCouldDisableTransitions(), (std::vector<Transition*>{guarded, rival}));
}

// A producer into an input place without a capacity cannot gain a binding
// from the firing (no space is freed there) unless it has a guard, which may
// read the clock: with the transition log closed it is not told. A producer
// into a place with a capacity, or with a guard, is told; with the log open
// every listed neighbour is told, for its trace line. Each producer is made
// able to bind behind the kernel's back (a token put where the notices
// would not announce it), so that being told shows.
TEST(Firing, NeighboursTheFiringCannotEnableAreToldOnlyWithTheTransitionLog) {
    ScratchDir dir("firing-notices");
    for (const bool tracing : {false, true}) {
        TestNet net;
        Place* open = net.place("Open");  // no capacity
        Place* bounded = net.place("Bounded", 5);
        Place* out = net.place("Out");
        Place* feed = net.place("Feed");  // the producers' input, empty at start-up
        TestTransition* t = net.transition("T");
        TestTransition* plain = net.transition("Plain", traits().withoutGlobalGuard());
        TestTransition* guarded = net.transition("Guarded");
        TestTransition* local = net.transition("Local", traits().withoutGlobalGuard().withLocalGuard());
        TestTransition* filler = net.transition("Filler", traits().withoutGlobalGuard());
        for (TestTransition* producer : {plain, guarded, local}) {
            net.in(feed, producer);
            net.out(producer, open);
        }
        net.in(feed, filler);
        net.out(filler, bounded);
        net.in(open, t);
        net.in(bounded, t);
        net.out(t, out);
        net.putMany(open, 1);
        net.putMany(bounded, 1);
        Engine engine(&net);
        engine->init();
        ASSERT_NE(t->getNextEvent(), nullptr);
        for (TestTransition* producer : {plain, guarded, local, filler}) ASSERT_EQ(producer->getNextEvent(), nullptr);
        std::unique_ptr<OpenLogs> logs;
        if (tracing) logs.reset(new OpenLogs(dir.path()));
        net.put(feed, 7);  // a place tells only its global-guard readers
        fireNext(t);
        EXPECT_EQ(plain->getNextEvent() != nullptr, tracing);
        EXPECT_NE(guarded->getNextEvent(), nullptr);
        EXPECT_NE(local->getNextEvent(), nullptr);
        EXPECT_NE(filler->getNextEvent(), nullptr);
        // The neighbour list itself is the same either way.
        EXPECT_EQ(t->getCouldEnableTransitions(), (std::vector<Transition*>{plain, guarded, local, filler}));
    }
}

TEST(Firing, GlobalGuardsFollowTheirPlacesButNotTheirOwnFiring) {
    TestNet net;
    Place* in = net.place("In");
    Place* r = net.place("R");
    TestTransition* g = net.transition("G");
    TestTransition* h = net.transition("H");  // puts into R from nothing
    TestTransition* c = net.transition("C");  // takes from R
    net.in(in, g);
    net.out(g, r);
    net.out(h, r);
    net.in(r, c);
    g->guardPlaces = {r};
    g->guardFn = [r] { return r->getMarkingSize() < 2; };
    net.putMany(in, 3);
    g->startup();
    h->startup();
    ASSERT_EQ(g->getEvents().size(), 1u);

    // G's own firing adds to R: the place does not disturb it; only its own
    // search after the firing asks the guard.
    const int asked = g->guardCalls;
    fireNext(g);
    EXPECT_EQ(g->guardCalls, asked + 1);
    EXPECT_FALSE(g->isFiring());
    ASSERT_EQ(g->getEvents().size(), 1u);
    EXPECT_EQ(r->getMarkingSize(), 1u);

    // H's firing closes the guard: G withdraws.
    fireNext(h);
    EXPECT_EQ(r->getMarkingSize(), 2u);
    EXPECT_TRUE(g->getEvents().empty());
    EXPECT_FALSE(g->getInEventList());

    // A token leaving R opens it again: G searches at once. (C found its
    // binding when G's firing put the first token into R.)
    fireNext(c);
    EXPECT_EQ(r->getMarkingSize(), 1u);
    EXPECT_EQ(g->getEvents().size(), 1u);
}

TEST(Firing, MeasuresWatchAndTraces) {
    ScratchDir dir("firing-traces");
    TestNet net;
    Place* p = net.place("P");
    Place* q = net.place("Q");
    TestTransition* t = net.transition("T");
    net.in(p, t);
    net.out(t, q);
    CountingMeasure* m = new CountingMeasure("M", &net, false, true);
    p->addMeasure(m);
    q->addMeasure(m);
    t->setWatch(true);
    net.putMany(p, 2);
    Engine engine(&net);
    engine->init();
    EXPECT_EQ(t->getMeasures().size(), 1u);  // one measure of two affected places
    {
        OpenLogs logs(dir.path());
        ASSERT_NE(engine.step(), nullptr);
        EXPECT_EQ(m->accumCalls, 1);
        EXPECT_EQ(m->lastWeight, 1.0);
        const std::string trace = logs.trans();
        for (const std::string& line : std::vector<std::string>{
                 "T->accumMeasures() BEGIN\nT->accumMeasures() END\n",
                 "\n#####################################################################\nT -> fire...\n",
                 "T... firecounter increased...\n", " token->notifyTransition() \nT now deleting event...\n",
                 "T... event deleted...\n", "T... searched configuration ...\n\t fire ende\n",
                 "T->notifyMeasures() BEGIN\nT->notifyMeasures() END\n"}) {
            EXPECT_NE(trace.find(line), std::string::npos) << line << " in\n" << trace;
        }
        EXPECT_NE(logs.sim().find("T<Transition>;1\n"), std::string::npos) << logs.sim();
        t->fire(t->getNextEvent(), 0.25);
        EXPECT_EQ(m->lastWeight, 0.25);
        EXPECT_NE(logs.sim().find("T<Transition>;2\n"), std::string::npos);
    }
    EXPECT_EQ(t->getFireCount(), 2);
}

TEST(Firing, LimitedViewBindsTheOldestTokensInTurn) {
    TestNet net;
    Place* l = net.place("L", 0, true);
    TestTransition* one = net.transition("One");
    TestTransition* two = net.transition("Two");
    net.in(l, one);
    net.in(l, two, 2);
    std::vector<Ptr<Token>> t;
    for (int i = 0; i < 5; ++i) t.push_back(net.put(l, i));
    one->startup();
    two->startup();
    EXPECT_EQ(boundIds(one), std::vector<long>{t[0]->getID()});
    EXPECT_EQ(boundIds(two), (std::vector<long>{t[0]->getID(), t[1]->getID()}));
    fireNext(one);
    EXPECT_EQ(boundIds(one), std::vector<long>{t[1]->getID()});
    EXPECT_EQ(boundIds(two), (std::vector<long>{t[1]->getID(), t[2]->getID()}));
    fireNext(two);
    EXPECT_EQ(boundIds(one), std::vector<long>{t[3]->getID()});
    EXPECT_EQ(boundIds(two), (std::vector<long>{t[3]->getID(), t[4]->getID()}));
}

TEST(Firing, AnInfiniteServerTransitionLosingOneTokenOfABindingKeepsTheOthers) {
    TestNet net;
    Place* p = net.place("P");
    Place* q = net.place("Q");
    TestTransition* join = net.transition("Join", traits().infiniteServer());
    TestTransition* take = net.transition("Take", traits().firstCombination());
    net.in(p, join);
    net.in(q, join);
    net.in(q, take);
    Ptr<Token> x = net.put(p, 1);
    Ptr<Token> y1 = net.put(q, 2);
    join->startup();
    ASSERT_EQ(boundIds(join), (std::vector<long>{x->getID(), y1->getID()}));
    Ptr<Token> y2 = net.put(q, 3);
    take->startup();
    ASSERT_EQ(boundIds(take), std::vector<long>{y1->getID()});

    fireNext(take);  // takes y1 away from Join's binding
    // x still lies in P and y2 in Q: Join binds them.
    EXPECT_EQ(boundIds(join), (std::vector<long>{x->getID(), y2->getID()}));
    EXPECT_TRUE(join->getNotBoundTokens().empty());
}

TEST(Firing, TokensGivenBackByAGuardAreOnlyThoseStillInPlace) {
    TestNet net;
    Place* p = net.place("P");
    Place* r = net.place("R");
    TestTransition* g = net.transition("G", traits().infiniteServer());
    TestTransition* a = net.transition("A", traits().firstCombination());
    net.in(p, g);
    net.in(p, a);
    net.out(a, r);
    g->guardPlaces = {r};
    g->guardFn = [r] { return r->getMarkingSize() == 0; };
    Ptr<Token> x = net.put(p, 1);
    g->startup();
    a->startup();
    ASSERT_EQ(boundIds(g), std::vector<long>{x->getID()});

    // A takes x out of P and then puts a token into R, which closes G's guard
    // while x is already gone: x must not come back as free.
    fireNext(a);
    EXPECT_TRUE(g->getEvents().empty());
    EXPECT_FALSE(g->getNotBoundTokens().contains(x.GetRawPtr()));
    r->removeToken(r->getFullMarking().front());
    EXPECT_TRUE(g->getEvents().empty());
}
