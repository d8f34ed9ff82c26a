// A few thousand events of a small net full of conflicts, with the event
// lists checked against the marking after every event.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "TestNets.h"

using namespace testnets;

namespace {

// Shared places with capacities, a limited view, single- and
// infinite-server transitions (one of them with two inputs), a self-loop,
// a global guard, immediate transitions in conflict and an immediate
// transition with a time guard.
class ConflictNet {
public:
    explicit ConflictNet(unsigned seed) : rng(seed) {
        p1 = net.place("P1", 6, true);
        p2 = net.place("P2", 4);
        p3 = net.place("P3", 8);
        p4 = net.place("P4", 5);
        p5 = net.place("P5", 3);
        src = timed("Src", 1.0);
        net.out(src, p1);
        a = timed("A", 0.7);
        net.in(p1, a);
        net.out(a, p2);
        b = timed("B", 0.9);
        net.in(p1, b);
        net.in(p3, b);
        net.out(b, p5);
        c = timed("C", 1.3);
        net.in(p3, c, 2);
        net.out(c, p1);
        d = timed("D", 0.8);
        net.in(p2, d);
        net.out(d, p2);
        net.out(d, p4);
        join = timed("Join", 1.1, true);
        net.in(p2, join);
        net.in(p4, join);
        net.out(join, p3);
        e = timed("E", 0.6, true);
        net.in(p3, e);
        net.out(e, p2);
        g = timed("G", 0.5);
        net.in(p1, g);
        net.out(g, p3);
        g->guardPlaces = {p4};
        g->guardFn = [this] { return p4->getMarkingSize() <= 3; };
        imm = net.transition("Imm", traits().withPriority(1).withWeight(2.0));
        net.in(p5, imm);
        net.out(imm, p1);
        imm2 = net.transition("Imm2", traits().withPriority(1).withWeight(1.0));
        net.in(p5, imm2);
        net.out(imm2, p3);
        tg = net.transition("TG", traits().withPriority(1).withWeight(1.0));
        net.in(p3, tg);
        net.out(tg, p2);
        tg->timeguarded = true;
        tg->setImmediate(true);
        // Open during the first half of every second.
        tg->timeguardFn = [](const DateTime& now) {
            const double s = now.FullDateTime();
            const double frac = s - std::floor(s);
            return frac < 0.5 ? 0.0 : 1.0 - frac;
        };
        drain = timed("Drain", 2.0);
        net.in(p3, drain);
        drain1 = timed("Drain1", 3.0);
        net.in(p1, drain1);
        drain2 = timed("Drain2", 1.5);
        net.in(p2, drain2);
        net.putMany(p1, 3);
        net.putMany(p3, 4, 100);
        net.putMany(p2, 2, 200);
    }

    TestTransition* timed(const char* name, double mean, bool infinite = false) {
        TransitionTraits s;
        if (infinite) s.infiniteServer();
        TestTransition* t = net.transition(name, s);
        t->delayFn = [this, mean](const TokenList&) {
            std::uniform_real_distribution<double> u(1e-12, 1.0);
            return -mean * std::log(u(rng));
        };
        return t;
    }

    TestNet net;
    std::mt19937 rng;
    Place *p1, *p2, *p3, *p4, *p5;
    TestTransition *src, *a, *b, *c, *d, *join, *e, *g, *imm, *imm2, *tg, *drain, *drain1, *drain2;
};

// Every broken invariant, one line each.
std::string brokenInvariants(TestNet& net) {
    std::ostringstream out;
    std::set<const Token*> placed;
    for (auto& entry : net.getPlaces())
        for (const Ptr<Token>& t : entry.second->getFullMarking()) placed.insert(t.GetRawPtr());

    for (auto& entry : net.getTransitions()) {
        TestTransition* t = static_cast<TestTransition*>(entry.second);
        const std::string name = t->getName();
        EventSet& events = t->getEvents();
        if (t->getInEventList() != !events.empty()) out << name << ": inEventList is stale\n";
        if (t->isOptimizingTimeguardTransition()) {
            if (events.size() != 1 || !(*events.begin())->isTempBinding())
                out << name << ": waits for its time guard without exactly one placeholder\n";
            continue;
        }
        if (!t->isInfiniteServer() && events.size() > 1) out << name << ": single server with several events\n";

        std::set<const Token*> bound;
        for (Binding* b : events) {
            if (b->isTempBinding()) {
                out << name << ": placeholder while searching normally\n";
                continue;
            }
            for (const Ptr<Token>& h : *b->getBoundTokens()) {
                if (!h->containsTransition(t)) out << name << ": token " << h->getID() << " does not list it\n";
                if (placed.count(h.GetRawPtr()) == 0) out << name << ": token " << h->getID() << " lies in no place\n";
                if (!bound.insert(h.GetRawPtr()).second) out << name << ": token " << h->getID() << " bound twice\n";
            }
        }

        std::vector<TokenList> now = t->combinations();
        std::set<std::vector<long>> offered;
        for (const TokenList& c : now) offered.insert(idsOf(c));
        const bool allowed = t->checkSpace() && t->globalGuard();

        if (!t->isInfiniteServer()) {
            if (events.empty() && allowed && !now.empty())
                out << name << ": no event although " << now.size() << " combinations are enabled\n";
            if (!events.empty()) {
                const TokenList& tokens = *(*events.begin())->getBoundTokens();
                if (!allowed) out << name << ": keeps an event without space or guard\n";
                if (offered.count(idsOf(tokens)) == 0)
                    out << name << ": its event is no combination of the marking\n";
            }
            continue;
        }

        // Infinite server: every token of the input places is either free
        // or bound, never both; the bindings respect the enabling degree;
        // while below it, no free combination is left.
        std::set<const Token*> inputs;
        for (Place* p : t->getInPlaces())
            for (const Ptr<Token>& h : p->getFullMarking()) inputs.insert(h.GetRawPtr());
        std::set<const Token*> free;
        for (const Ptr<Token>& h : t->getNotBoundTokens()) {
            if (!free.insert(h.GetRawPtr()).second) out << name << ": token " << h->getID() << " free twice\n";
            if (bound.count(h.GetRawPtr()) != 0) out << name << ": token " << h->getID() << " free and bound\n";
            if (inputs.count(h.GetRawPtr()) == 0) out << name << ": free token " << h->getID() << " lies elsewhere\n";
        }
        for (const Token* h : inputs)
            if (free.count(h) == 0 && bound.count(h) == 0) out << name << ": token " << h->getID() << " forgotten\n";
        const long degree = t->getEnablingDegree();
        if (static_cast<long>(events.size()) > degree)
            out << name << ": " << events.size() << " events above the degree " << degree << "\n";
        if (allowed && static_cast<long>(events.size()) < degree && !now.empty())
            out << name << ": " << events.size() << " events below the degree " << degree << " with "
                << now.size() << " free combinations\n";
    }
    return out.str();
}

}  // namespace

TEST(NetInvariants, HoldAfterEveryEventOfAConflictRichNet) {
    const long alive = Token::concTokenCounter;
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        packageSeed(1000 + seed);
        ConflictNet model(seed);
        Engine engine(&model.net);
        engine->init();
        ASSERT_EQ(brokenInvariants(model.net), "");
        DateTime clock = engine->getCurrentSimulationTime();
        int events = 0;
        for (; events < 2500; ++events) {
            Transition* fired = engine.step();
            ASSERT_NE(fired, nullptr) << "dead marking after " << events << " events";
            ASSERT_GE(engine->getCurrentSimulationTime(), clock);
            clock = engine->getCurrentSimulationTime();
            const std::string broken = brokenInvariants(model.net);
            ASSERT_EQ(broken, "") << "after event " << events << ", fired " << fired->getName();
        }
        // Every part of the net took part.
        for (auto& entry : model.net.getTransitions())
            EXPECT_GT(entry.second->getFireCount(), 5) << entry.second->getName();
    }
    // Nothing outlived the nets.
    EXPECT_EQ(Token::concTokenCounter, alive);
}

// Saved states of the same net: after every restore the event lists fit the
// restored marking again, and the net runs on from there with every
// invariant intact (the restored tokens know the transitions that hold
// them, the infinite servers their free tokens).
TEST(NetInvariants, HoldAfterRestoresOfSavedStates) {
    const long alive = Token::concTokenCounter;
    for (unsigned seed : {4u, 5u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        packageSeed(2000 + seed);
        ConflictNet model(seed);
        Engine engine(&model.net);
        engine->init();
        for (int round = 0; round < 40; ++round) {
            for (int i = 0; i < 25; ++i) ASSERT_NE(engine.step(), nullptr);
            if (round % 4 == 0) engine->save_simulation_state(round);
            for (int i = 0; i < 30; ++i) {
                Transition* fired = engine.step();
                ASSERT_NE(fired, nullptr);
                ASSERT_EQ(brokenInvariants(model.net), "") << "round " << round << ", fired " << fired->getName();
            }
            engine->load_last_simulation_state();
            ASSERT_EQ(brokenInvariants(model.net), "") << "after the restore of round " << round;
            if (round % 4 == 3) engine->delete_last_simulation_state();
        }
        for (auto& entry : model.net.getTransitions())
            EXPECT_GT(entry.second->getFireCount(), 5) << entry.second->getName();
    }
    EXPECT_EQ(Token::concTokenCounter, alive);
}
