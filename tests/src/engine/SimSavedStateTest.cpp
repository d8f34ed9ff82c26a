#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "TestNets.h"

using namespace testnets;

namespace {

// Everything a restore must bring back, as text: per place the ids and
// contents of its tokens, per transition its events (ID, time, priority,
// weight, placeholder or token ids), its not-bound tokens and its flags.
std::string describe(NetClass& net) {
    std::ostringstream out;
    out.precision(17);
    for (const auto& entry : net.getPlaces()) {
        out << entry.first << ":";
        for (const Ptr<Token>& t : entry.second->getFullMarking()) out << " " << t->getID() << "=" << t->content();
        out << "\n";
    }
    for (const auto& entry : net.getTransitions()) {
        Transition* t = entry.second;
        out << entry.first << (t->getInEventList() ? " listed" : "") << (t->getTimeguardOptimization() ? " tg" : "")
            << ":";
        for (Binding* b : t->getEvents()) {
            out << " [" << b->getID() << " @" << b->getTime().FullDateTime() << " p" << b->getPriority() << " w"
                << b->getWeight() << (b->isFireEvent() ? " fire" : " guard");
            if (b->isTempBinding()) out << " placeholder";
            else
                for (long id : idsOf(*b->getBoundTokens())) out << " " << id;
            out << "]";
        }
        out << " free:";
        for (const Ptr<Token>& token : t->getNotBoundTokens()) out << " " << token->getID();
        out << "\n";
    }
    return out.str();
}

// A source feeding a place that a single-server and an infinite-server
// transition compete for, an immediate transition with a time guard, and a
// place and a transition that stay empty.
struct SmallNet {
    SmallNet() {
        queue = net.place("Queue");
        done = net.place("Done");
        net.place("Empty");
        source = net.transition("Source", traits().withDelay(1.0));
        net.out(source, queue);
        serve = net.transition("Serve", traits().withDelay(2.5));
        net.in(queue, serve);
        net.out(serve, done);
        many = net.transition("Many", traits().infiniteServer().withDelay(3.5));
        net.in(queue, many);
        net.out(many, done);
        TestTransition* idle = net.transition("Idle", traits().withDelay(1.0));
        net.in(net.getPlace("Empty"), idle);
        gate = net.transition("Gate", traits().withPriority(1));
        gate->setImmediate(true);
        gate->timeguarded = true;
        // Open from second 10 on.
        gate->timeguardFn = [](const DateTime& now) { return now.FullDateTime() < 10.0 ? 10.0 - now.FullDateTime() : 0.0; };
        net.in(done, gate);
        net.putMany(queue, 4, 1);
    }
    TestNet net;
    Place* queue;
    Place* done;
    TestTransition* source;
    TestTransition* serve;
    TestTransition* many;
    TestTransition* gate;
};

void steps(Engine& engine, int n) {
    for (int i = 0; i < n; ++i) ASSERT_NE(engine.step(), nullptr) << "dead after " << i;
}

}  // namespace

TEST(SimSavedState, RestoreBringsBackMarkingsEventsAndLists) {
    packageSeed(4242);
    SmallNet model;
    Engine engine(&model.net);
    engine->init();
    steps(engine, 3);
    const std::string atSave = describe(model.net);
    const DateTime saveTime = engine->getCurrentSimulationTime();
    engine->save_simulation_state(2);
    ASSERT_EQ(engine->getSavedStates().size(), 1u);
    const SimSavedState& state = engine->getSavedStates().back();
    EXPECT_EQ(state.getStateLevel(), 2);
    EXPECT_EQ(state.getStateTime(), saveTime);
    EXPECT_EQ(state.getTrials(), 0);
    EXPECT_EQ(state.getSavedTokensID("Empty"), std::vector<long>());

    steps(engine, 6);
    ASSERT_NE(describe(model.net), atSave);
    engine->load_last_simulation_state();
    EXPECT_EQ(describe(model.net), atSave);
    EXPECT_EQ(engine->getSavedStates().size(), 1u) << "a restore keeps the state";

    // The restored net runs on as from the save, and restores again.
    steps(engine, 9);
    ASSERT_NE(describe(model.net), atSave);
    engine->load_last_simulation_state();
    EXPECT_EQ(describe(model.net), atSave);
    engine->delete_last_simulation_state();
    EXPECT_TRUE(engine->getSavedStates().empty());
    engine->delete_last_simulation_state();  // nothing left: no effect
    engine->load_last_simulation_state();
    EXPECT_EQ(describe(model.net), atSave);
}

TEST(SimSavedState, ConsumedTokensComeBackAndNewOnesGo) {
    packageSeed(77);
    SmallNet model;
    Engine engine(&model.net);
    engine->init();
    engine->save_simulation_state(1);
    const std::vector<long> queued = engine->getSavedStates().back().getSavedTokensID("Queue");
    ASSERT_EQ(queued.size(), 4u);
    steps(engine, 8);
    const long alive = Token::concTokenCounter;
    engine->load_last_simulation_state();
    std::vector<long> now;
    for (const Ptr<Token>& t : model.queue->getFullMarking()) now.push_back(t->getID());
    EXPECT_EQ(now, queued);
    EXPECT_EQ(model.done->getMarkingSize(), 0u);
    // The events of the replaced net went with their tokens.
    EXPECT_LE(Token::concTokenCounter, alive);
}

// Restored tokens are fresh copies: what the run does to them never reaches
// the snapshot, and a token in two places stays one token.
TEST(SimSavedState, RestoredTokensAreDistinctFromTheSnapshot) {
    TestNet net;
    Place* a = net.place("A");
    Place* b = net.place("B");
    Ptr<Token> shared(new Token_int(7));
    a->addToken(shared);
    b->addToken(shared);
    SimSavedState state(&net, 0, DateTime(0.0));
    state.restoreMarkings(net.getPlaces());
    Ptr<Token> restored = a->getFullMarking().front();
    EXPECT_NE(restored.GetRawPtr(), shared.GetRawPtr());
    EXPECT_NE(restored.GetRawPtr(), state.getSavedToken(shared->getID()).GetRawPtr());
    EXPECT_EQ(b->getFullMarking().front().GetRawPtr(), restored.GetRawPtr());
    EXPECT_EQ(state.getRestoredToken(shared->getID()).GetRawPtr(), restored.GetRawPtr());

    *Dynamic_Cast<Token_int>(restored) = Token_int(99);
    state.restoreMarkings(net.getPlaces());
    const Ptr<Token> again = a->getFullMarking().front();
    EXPECT_EQ(again->getID(), shared->getID());
    EXPECT_EQ(again->content(), "7");
    EXPECT_EQ(restored->content(), "99");

    std::unique_ptr<TokenList> list(state.createTokenList({shared->getID(), shared->getID()}));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(SimSavedState::createTokensIDList(*list), (std::vector<long>{shared->getID(), shared->getID()}));
    EXPECT_EQ(state.createTokenList({shared->getID() + 1000}), nullptr) << "an id no marking holds";
}

TEST(SimSavedState, MeasuresIntegrateFromTheSnapshotTime) {
    packageSeed(5);
    SmallNet model;
    ValueMeasure measure("M", &model.net);
    ValueMeasure* m = &measure;
    model.net.addMeasure(m);
    Engine engine(&model.net);
    engine->init();
    steps(engine, 2);
    m->reset(DateTime(0.0));
    const DateTime saved = engine->getCurrentSimulationTime();
    engine->save_simulation_state(1);
    steps(engine, 5);
    m->setLastTime(engine->getCurrentSimulationTime());
    engine->load_last_simulation_state();
    EXPECT_DOUBLE_EQ(m->observedTime(), saved.FullDateTime());
}
