// The token game's parts on small nets: what could fire, firing a chosen
// transition (the clock jumps and events left in the past get new times),
// the reply texts, breakpoint lists, and the command loop over a connection
// on a free port.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestNets.h"
#include "engine/TokenGame.h"
#include "sockio.h"

using namespace testnets;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

typedef std::vector<std::string> Names;

// A net and a token game on it, started at 0 (not yet initialised).
struct Game {
    TestNet net;
    DateTime start{0.0};
    std::unique_ptr<TokenGame> game;

    void begin() {
        game.reset(new TokenGame(&net, "testnet", "NULL", start));
        game->init();
    }
    TokenGame* operator->() { return game.get(); }

    // A new transition `name` from place `from`, which gets `tokens` tokens,
    // to place `to` (places are made on first use).
    TestTransition* link(const std::string& from, const char* name, const std::string& to, int tokens,
                         const TransitionTraits& t) {
        TestTransition* tr = net.transition(name, t);
        net.in(place(from), tr);
        net.out(tr, place(to));
        net.putMany(place(from), tokens);
        return tr;
    }
    // A transition `name` with one token in its own place "<name>In", which
    // puts its tokens into "Sink".
    TestTransition* fed(const char* name, const TransitionTraits& t) {
        return link(std::string(name) + "In", name, "Sink", 1, t);
    }
    Place* place(const std::string& name) {
        const auto it = net.getPlaces().find(name);
        return it != net.getPlaces().end() ? it->second : net.place(name.c_str());
    }
};

// Delays taken from a list, the last one repeated.
std::function<Seconds_T(const TokenList&)> delays(std::vector<double> list) {
    auto next = std::make_shared<std::size_t>(0);
    return [list, next](const TokenList&) {
        const double d = list[std::min(*next, list.size() - 1)];
        ++*next;
        return d;
    };
}

double timeOf(Transition* t) { return t->getNextEvent()->getTime().FullDateTime(); }

}  // namespace

TEST(TokenGame, SplitCutsAtEveryDelimiter) {
    std::vector<std::string> pieces{"stale"};
    TokenGame::split("", pieces, ";");
    EXPECT_TRUE(pieces.empty());
    TokenGame::split("a;b", pieces, ";");
    EXPECT_EQ(pieces, (Names{"a", "b"}));
    TokenGame::split("a;;b", pieces, ";");
    EXPECT_EQ(pieces, (Names{"a", "", "b"}));
    TokenGame::split("a;", pieces, ";");
    EXPECT_EQ(pieces, (Names{"a", ""}));
    TokenGame::split(";", pieces, ";");
    EXPECT_EQ(pieces, (Names{"", ""}));
    TokenGame::split("Queue:>=:2.5", pieces, ":");
    EXPECT_EQ(pieces, (Names{"Queue", ">=", "2.5"}));
    TokenGame::split("a::b:c", pieces, "::");
    EXPECT_EQ(pieces, (Names{"a", "b:c"}));
    // An empty delimiter cuts nowhere (it would match everywhere).
    TokenGame::split("abc", pieces, "");
    EXPECT_EQ(pieces, (Names{"abc"}));
}

TEST(TokenGame, CouldFireOffersOnlyTheHighestPriority) {
    Game g;
    g.fed("T", traits().withDelay(1.0));
    g.fed("I1", traits().withPriority(1));
    TestTransition* i2 = g.fed("I2", traits().withPriority(2));
    g.fed("U", traits().withDelay(7.0));
    g.begin();
    EXPECT_EQ(g->couldFire(), (Names{"I2"}));
    EXPECT_EQ(g->fireList(false), "I2\n");
    EXPECT_EQ(g->fireList(true), "I2\n\n");

    // Without it, the priority-1 transition; without any immediate one,
    // every timed transition with an event, whatever its time.
    g->fire("I2");
    EXPECT_EQ(i2->getFireCount(), 1);
    EXPECT_EQ(g->couldFire(), (Names{"I1"}));
    g->fire("I1");
    EXPECT_EQ(g->fireList(false), "T;U\n");
    EXPECT_EQ(g->fireList(true), "T\nU\n\n");
    g->fire("T");
    g->fire("U");
    EXPECT_EQ(g->fireList(false), "\n");
    EXPECT_EQ(g->fireList(true), "\n");
}

TEST(TokenGame, FireMovesTheClockAndRetimesEventsLeftInThePast) {
    Game g;
    TestTransition* t1 = g.fed("T1", traits().withDelay(6.0));
    TestTransition* u = g.fed("U", traits());
    u->delayFn = delays({1.0, 2.0});
    TestTransition* v = g.fed("V", traits().withDelay(10.0));
    g.begin();
    ASSERT_EQ(timeOf(u), 1.0);

    g->fire("T1");
    EXPECT_EQ(t1->getFireCount(), 1);
    EXPECT_EQ(g->getCurrentSimulationTime(), DateTime(6.0));
    EXPECT_EQ(g->getLastFiredTransition(), "T1");
    // U's event at 1 lay in the past: a new delay from the new clock.
    EXPECT_EQ(u->delayCalls, 2);
    EXPECT_EQ(timeOf(u), 8.0);
    // V's event at 10 lies ahead and keeps its time and its sample.
    EXPECT_EQ(v->delayCalls, 1);
    EXPECT_EQ(timeOf(v), 10.0);
    // The engine sees the new order: U is next.
    EventList events;
    g->getFirstBindingsOfAllTransitions(&events, false);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events.front()->getBoundTransition(), u);
}

TEST(TokenGame, FireRetimesEveryPastEventOfAnInfiniteServer) {
    Game g;
    TestTransition* is = g.link("P", "IS", "Sink", 2, traits().infiniteServer());
    is->delayFn = delays({1.0, 2.0, 5.0, 4.0});
    TestTransition* later = g.fed("Later", traits().withDelay(3.0));
    g.begin();
    ASSERT_EQ(is->getEvents().size(), 2u);

    g->fire("Later");
    std::vector<double> times;
    for (Binding* b : is->getEvents()) times.push_back(b->getTime().FullDateTime());
    EXPECT_EQ(times, (std::vector<double>{7.0, 8.0}));  // 3 + 4, 3 + 5, in order again
    EXPECT_EQ(later->getFireCount(), 1);
}

TEST(TokenGame, FireWithoutEventOrUnknownNameFiresNothing) {
    Game g;
    TestTransition* self = g.link("P", "Loop", "P", 1, traits().withDelay(2.0));
    g.net.out(self, g.place("Sink"));
    TestTransition* idle = g.link("IdleIn", "Idle", "Sink", 0, traits());
    g.begin();

    // Before anything was recorded the change message names no places.
    EXPECT_EQ(g->changeMessage(), "PLACES:#TRANSITIONS:Loop#BREAKPOINTS:#\n");

    g->fire("Loop");
    EXPECT_EQ(g->getCurrentSimulationTime(), DateTime(2.0));
    // A place on both sides appears twice.
    EXPECT_EQ(g->changeMessage(), "PLACES:P;P;Sink#TRANSITIONS:Loop#BREAKPOINTS:#\n");

    g->fire("Idle");
    EXPECT_EQ(idle->getFireCount(), 0);
    EXPECT_EQ(g->getLastFiredTransition(), "Loop");
    EXPECT_EQ(g->getCurrentSimulationTime(), DateTime(2.0));

    CaptureStdout();
    g->fire("Nope\x1b[2J");
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(out, "Couldn't find Transition: Nope\\x1B[2J\n");
    EXPECT_EQ(g->changeMessage(), "PLACES:#TRANSITIONS:Loop#BREAKPOINTS:#\n");
    EXPECT_EQ(self->getFireCount(), 1);
}

TEST(TokenGame, PlaceContentUsesTheWholeName) {
    Game g;
    Place* a = g.net.place("A");
    g.net.put(a, 3);
    g.net.put(a, 4);
    g.net.place("Empty");
    g.begin();
    EXPECT_EQ(g->placeContent("A"), "3,4\n");
    EXPECT_EQ(g->placeContent("Empty"), "\n");
    CaptureStdout();
    EXPECT_EQ(g->placeContent("Nope"), "\n");
    EXPECT_EQ(g->placeContent(std::string("A\0x", 3)), "\n");  // a NUL does not end the name
    EXPECT_EQ(GetCapturedStdout(), "Couldn't find Place: Nope\nCouldn't find Place: A\\x00x\n");
}

TEST(TokenGame, BindingMessageGivesTheDelayInWholeMilliseconds) {
    Game g;
    TestTransition* t = g.fed("T", traits());
    t->delayFn = delays({1.2345});
    TestTransition* far = g.fed("Far", traits().withDelay(1e10));
    g.begin();
    EXPECT_EQ(g->bindingMessage(nullptr), "\n");
    EXPECT_EQ(g->bindingMessage(t->getNextEvent()), "TRANSITION:T#DELAY:1234#\n");
    // Beyond the range of an int the distance is cut to it.
    EXPECT_EQ(g->bindingMessage(far->getNextEvent()), "TRANSITION:Far#DELAY:2147483647#\n");
    g->fire("T");
    EXPECT_EQ(g->bindingMessage(far->getNextEvent()), "TRANSITION:Far#DELAY:2147483647#\n");
}

TEST(TokenGame, BreakpointListsKeepPositionsOfPlaceholders) {
    Game g;
    ValueMeasure queue("Queue", &g.net, 3.0);
    ValueMeasure other("Other", &g.net, 0.0);
    ValueMeasure twin("Queue", &g.net, -1.0);
    g.net.addMeasure(&queue);
    g.net.addMeasure(&other);
    g.net.addMeasure(&twin);
    g.begin();
    EXPECT_EQ(g->findMeasure("Queue"), &queue);  // the first of that name
    EXPECT_EQ(g->findMeasure("queue"), nullptr);

    g->applyBreakpoints("Queue:>=:2.5;Nope:>:0;Queue:=:3");
    ASSERT_EQ(g->getBreakpoints().size(), 3u);
    EXPECT_EQ(g->getBreakpoints()[1].getMeasure(), nullptr);
    EXPECT_EQ(g->breakpointMessage(), "0;2\n");

    // Two fields make a placeholder; fields after the third are ignored; an
    // unknown relation never holds; the threshold is read as atof reads it.
    g->applyBreakpoints("Queue:>;Queue:<:4:junk;Queue:=>:3;Other:=: 0abc;Other:=:x;Queue:=:3.000000001");
    ASSERT_EQ(g->getBreakpoints().size(), 6u);
    EXPECT_EQ(g->getBreakpoints()[0].getRelation(), rel_none);
    EXPECT_EQ(g->getBreakpoints()[1].getValue(), 4.0);
    EXPECT_EQ(g->getBreakpoints()[4].getValue(), 0.0);
    EXPECT_EQ(g->breakpointMessage(), "1;3;4;5\n");
    queue.current = 3.000001;
    EXPECT_EQ(g->breakpointMessage(), "1;3;4\n");

    // The change message carries the same list.
    const std::string change = g->changeMessage();
    EXPECT_EQ(change.substr(change.find("#BREAKPOINTS:")), "#BREAKPOINTS:1;3;4#\n");

    g->applyBreakpoints("");
    EXPECT_TRUE(g->getBreakpoints().empty());
    EXPECT_EQ(g->breakpointMessage(), "\n");
    g->applyBreakpoints(";");
    EXPECT_EQ(g->getBreakpoints().size(), 2u);
}

TEST(TokenGame, TimeGuardsAreSearchedDirectly) {
    Game g;
    TestTransition* t = g.fed("Guarded", traits());
    t->timeguarded = true;
    t->setImmediate(true);
    t->timeguardFn = [](const DateTime&) { return 5.0; };
    g.begin();
    EXPECT_TRUE(g->isSingleStep());
    Binding* b = t->getNextEvent();
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->isTempBinding());
    EXPECT_FALSE(b->isFireEvent());
    EXPECT_EQ(b->getTime(), DateTime(5.0));
}

// ---------------------------------------------------------------------------
// The command loop over a TCP connection on a free port.
// ---------------------------------------------------------------------------

namespace {

// A connected pair on 127.0.0.1; `game` serves the server end in a thread
// until the game ends or the client closes.
class Connection {
public:
    explicit Connection(TokenGame* game) : listener(socket_t::create_global("localhost:0", 1)) {
        const std::string address = "127.0.0.1:" + std::to_string(listener->get_port());
        client.reset(socket_t::connect(address.c_str(), sock_global_domain, 1, 0));
        server.reset(listener->accept());
        serving = std::thread([this, game] { game->serve(server.get()); });
    }
    ~Connection() {
        client->close();
        if (serving.joinable()) serving.join();
    }
    void send(const std::string& message) { client->write(message.data(), message.size()); }
    // The next reply: what arrives up to and including `end` (or what came
    // within 10 s); the rest stays for the next call.
    std::string receive(const std::string& end = "\n") {
        char buffer[4096];
        std::size_t at;
        while ((at = pending.find(end)) == std::string::npos) {
            const int n = client->read(buffer, 1, sizeof buffer, 10);
            if (n <= 0) {
                std::string rest;
                rest.swap(pending);
                return rest;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
        }
        const std::string reply = pending.substr(0, at + end.size());
        pending.erase(0, at + end.size());
        return reply;
    }
    // Waits until the game stops serving.
    void finished() { serving.join(); }

private:
    std::unique_ptr<socket_t> listener;
    std::unique_ptr<socket_t> client;
    std::unique_ptr<socket_t> server;
    std::thread serving;
    std::string pending;
};

}  // namespace

TEST(TokenGame, SingleStepDialogueAnswersPlaceAndFireListUntilNothingIsLeft) {
    Game g;
    TestTransition* t = g.link("A", "T", "B", 3, traits().withDelay(1.0));
    g.begin();
    CaptureStdout();
    Connection c(g.game.get());

    c.send("SINGLESTEP#");
    EXPECT_EQ(c.receive(), "Fired: T#\n");
    c.send("PLACE B#trailing text");
    EXPECT_EQ(c.receive(), "1000\n");
    EXPECT_EQ(c.receive(), "Fired: T#\n");
    c.send("FIRELIST#");
    EXPECT_EQ(c.receive("\n\n"), "T\n\n");
    EXPECT_EQ(c.receive(), "Fired: T#\n");
    c.send("no hash counts as anything else");
    EXPECT_EQ(c.receive(), "Thanx!\n");  // A is empty: nothing left to fire
    EXPECT_EQ(t->getFireCount(), 3);

    c.send("SINGLESTEP#");
    EXPECT_EQ(c.receive(), "Thanx!\n");
    c.send("TIME#");
    EXPECT_EQ(c.receive(), DateTime(3.0).toString() + "\n");
    c.send("EXIT#");
    c.finished();
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("received: <PLACE B>\n"), std::string::npos) << out;
}

TEST(TokenGame, ExitInsideSingleStepEndsOnlyTheDialogue) {
    Game g;
    g.fed("T", traits().withDelay(1.0));
    g.fed("U", traits().withDelay(2.0));
    g.begin();
    CaptureStdout();
    Connection c(g.game.get());
    c.send("SINGLESTEP#");
    const std::string fired = c.receive();
    EXPECT_TRUE(fired == "Fired: T#\n" || fired == "Fired: U#\n") << fired;
    c.send("EXIT#");
    EXPECT_EQ(c.receive(), "Thanx!\n");
    c.send("FIRELIST#");
    EXPECT_EQ(c.receive(), fired == "Fired: T#\n" ? "U\n" : "T\n");
    c.send("EXIT#");
    c.finished();
    GetCapturedStdout();
}

TEST(TokenGame, AClosedConnectionEndsTheGameAlsoInsideTheDialogue) {
    Game g;
    TestTransition* t = g.link("P", "T", "P", 1, traits().withDelay(1.0));
    g.begin();
    CaptureStdout();
    {
        Connection c(g.game.get());
        c.send("SINGLESTEP#");
        EXPECT_EQ(c.receive(), "Fired: T#\n");
    }  // closing the client ends serve(), or the join would wait for ever
    GetCapturedStdout();
    EXPECT_EQ(t->getFireCount(), 1);
}
