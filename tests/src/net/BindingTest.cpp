#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "TestNets.h"
#include "net/Binding.h"
#include "net/BindingDummy.h"

using namespace testnets;

namespace {

std::string text(const Binding& b) {
    std::ostringstream s;
    s << b;
    return s.str();
}

TokenList* tokensOf(std::initializer_list<Ptr<Token>> tokens) {
    TokenList* list = new TokenList;
    for (const auto& t : tokens) list->push_back(t);
    return list;
}

}  // namespace

TEST(Binding, EventOrderIsTimeThenHigherPriorityThenOlder) {
    TestNet net;
    TestTransition* low = net.transition("Low", traits().withPriority(0));
    TestTransition* high = net.transition("High", traits().withPriority(1));
    const DateTime now(10.0);
    Binding a(tokensOf({}), low, now);
    Binding b(tokensOf({}), high, now);
    Binding c(tokensOf({}), low, now);
    EXPECT_LT(a.getID(), c.getID());
    EXPECT_TRUE(b < a);   // same time: the priority-1 binding first
    EXPECT_FALSE(a < b);
    EXPECT_TRUE(a < c);   // same time and priority: the older first
    EXPECT_FALSE(c < a);
    EXPECT_FALSE(a < a);

    Binding later(1, low, DateTime(10.5), 9, 1.0, true, nullptr);
    EXPECT_TRUE(a < later);  // earlier time wins over any priority
    EXPECT_TRUE(b < later);

    std::set<Binding*, DerefLess<Binding*>> events{&c, &later, &a, &b};
    std::vector<Binding*> order(events.begin(), events.end());
    EXPECT_EQ(order, (std::vector<Binding*>{&b, &a, &c, &later}));
    EXPECT_TRUE(a == a);
    EXPECT_FALSE(a == c);
}

TEST(Binding, InitTakesDelayPriorityWeightAndTheNextId) {
    TestNet net;
    TestTransition* t = net.transition("T", traits().withPriority(3).withWeight(2.5).withDelay(0.25));
    const long next = Binding::idCounter;
    Binding b(tokensOf({Ptr<Token>(new Token_int(1))}), t, DateTime(4.0));
    EXPECT_EQ(b.getID(), next);
    EXPECT_EQ(Binding::idCounter, next + 1);
    EXPECT_EQ(b.getTime(), DateTime(4.25));
    EXPECT_EQ(b.getPriority(), 3);
    EXPECT_EQ(b.getWeight(), 2.5);
    EXPECT_TRUE(b.isFireEvent());
    EXPECT_FALSE(b.isTempBinding());
    EXPECT_EQ(b.getBoundTransition(), t);
    EXPECT_EQ(t->delayCalls, 1);
    EXPECT_EQ(t->timeguardCalls, 0);

    // Every time update samples the delay again.
    int calls = 0;
    t->delayFn = [&calls](const TokenList& tokens) {
        EXPECT_EQ(tokens.size(), 1u);
        return 1.0 + ++calls;
    };
    b.updateTime(DateTime(100.0));
    EXPECT_EQ(b.getTime(), DateTime(102.0));
    b.updateTime(DateTime(100.0));
    EXPECT_EQ(b.getTime(), DateTime(103.0));
    EXPECT_EQ(b.getID(), next);
}

TEST(Binding, TimeGuardEventsWaitForTheGuard) {
    TestNet net;
    TestTransition* t = net.transition("Guarded", traits().withDelay(2.0));
    t->timeguarded = true;
    std::vector<double> asked;
    t->timeguardFn = [&asked](const DateTime& now) {
        asked.push_back(now.FullDateTime());
        return 5.0;
    };
    Binding b(tokensOf({Ptr<Token>(new Token_int(1))}), t, DateTime(10.0));
    EXPECT_FALSE(b.isFireEvent());
    EXPECT_EQ(b.getTime(), DateTime(17.0));  // now + delay + guard
    EXPECT_EQ(asked, (std::vector<double>{10.0}));
    EXPECT_EQ(text(b).substr(0, 29), "Binding[TIMEGUARD, Guarded, I");

    // A placeholder asks the delay with an empty token list.
    t->delayFn = [](const TokenList& tokens) { return tokens.empty() ? 1.0 : 100.0; };
    Binding placeholder(t, DateTime(20.0));
    EXPECT_TRUE(placeholder.isTempBinding());
    EXPECT_FALSE(placeholder.isFireEvent());
    EXPECT_EQ(placeholder.getTime(), DateTime(26.0));
    std::ostringstream expected;
    expected << "TempBinding[TIMEGUARD, Guarded, ID: " << placeholder.getID() << ", time: 26, prio: 0, weight: 1]";
    EXPECT_EQ(text(placeholder), expected.str());

    // Converting keeps time, ID and the time-guard flag.
    const long id = placeholder.getID();
    placeholder.convertTempBinding(tokensOf({Ptr<Token>(new Token_int(2))}));
    EXPECT_FALSE(placeholder.isTempBinding());
    EXPECT_FALSE(placeholder.isFireEvent());
    EXPECT_EQ(placeholder.getID(), id);
    EXPECT_EQ(placeholder.getTime(), DateTime(26.0));
    EXPECT_EQ(text(placeholder), expected.str().substr(4));
}

TEST(Binding, TextFormWritesTimesAndWeightsWithSixteenDigitsAndLeavesThePrecision) {
    TestNet net;
    TestTransition* t = net.transition("T1", traits().withDelay(0.1).withWeight(1.0 / 3.0).withPriority(2));
    Binding b(tokensOf({}), t, DateTime(0.0));
    std::ostringstream s;
    EXPECT_EQ(s.precision(), 6);
    s << b;
    std::ostringstream expected;
    expected << "Binding[FIRE, T1, ID: " << b.getID() << ", time: 0.1, prio: 2, weight: 0.3333333333333333]";
    EXPECT_EQ(s.str(), expected.str());
    EXPECT_EQ(s.precision(), 16);
    s << " " << 2.0 / 3.0;
    EXPECT_EQ(s.str().substr(s.str().size() - 19), " 0.6666666666666666");

    Binding late(tokensOf({}), t, DateTime(1234567.0));
    EXPECT_NE(text(late).find(", time: 1234567.1, "), std::string::npos) << text(late);
}

TEST(Binding, RebuiltAndTimeStampBindingsLeaveTheCounterAlone) {
    TestNet net;
    TestTransition* t = net.transition("T");
    const long next = Binding::idCounter;
    Binding rebuilt(4711, t, DateTime(3.5), 7, 0.5, false, tokensOf({Ptr<Token>(new Token_int(1))}));
    EXPECT_EQ(Binding::idCounter, next);
    EXPECT_EQ(rebuilt.getID(), 4711);
    EXPECT_EQ(rebuilt.getTime(), DateTime(3.5));
    EXPECT_EQ(rebuilt.getPriority(), 7);
    EXPECT_EQ(rebuilt.getWeight(), 0.5);
    EXPECT_FALSE(rebuilt.isFireEvent());
    EXPECT_EQ(t->delayCalls, 0);

    Binding stamp(DateTime(9.0));
    EXPECT_EQ(stamp.getID(), next);
    EXPECT_EQ(Binding::idCounter, next + 1);
    EXPECT_EQ(stamp.getWeight(), 1.0);
    EXPECT_EQ(stamp.getPriority(), 0);
    EXPECT_FALSE(stamp.isFireEvent());
    EXPECT_TRUE(stamp.isTempBinding());
    EXPECT_EQ(stamp.getBoundTransition(), nullptr);

    // The engine assigns time stamps to one another.
    Binding other(DateTime(12.0));
    stamp = other;
    EXPECT_EQ(stamp.getID(), other.getID());
    EXPECT_EQ(stamp.getTime(), DateTime(12.0));
}

TEST(Binding, DeletingABindingReleasesItsTokens) {
    TestNet net;
    TestTransition* t = net.transition("T");
    int deaths = 0;
    Ptr<Token> kept(new CountedToken(1, deaths));
    Binding* b = new Binding(tokensOf({kept, Ptr<Token>(new CountedToken(2, deaths))}), t, DateTime(0.0));
    EXPECT_EQ(kept.GetRefObject()->activeCount(), 2u);
    delete b;
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(kept.GetRefObject()->activeCount(), 1u);
}

TEST(BindingDummy, KeepsTheFieldsAndTheEventOrder) {
    TestNet net;
    TestTransition* t = net.transition("T");
    BindingDummy a(5, t, DateTime(1.0), 0, 1.0, true, {3, 4});
    BindingDummy b(6, t, DateTime(1.0), 1, 2.0, false, {});
    BindingDummy c(2, t, DateTime(1.0), 0, 1.0, true, {});
    BindingDummy d(1, t, DateTime(2.0), 9, 1.0, true, {});
    EXPECT_TRUE(b < a);
    EXPECT_TRUE(c < a);
    EXPECT_FALSE(a < c);
    EXPECT_TRUE(a < d);
    BindingDummy copy(a);
    EXPECT_TRUE(copy == a);
    EXPECT_FALSE(b == a);
    EXPECT_EQ(copy.getTokensID(), (std::vector<long>{3, 4}));
    EXPECT_EQ(copy.getBoundTransition(), t);
    EXPECT_EQ(copy.getTime(), DateTime(1.0));
    EXPECT_EQ(b.getPriority(), 1);
    EXPECT_EQ(b.getWeight(), 2.0);
    EXPECT_FALSE(b.isFireEvent());
    EXPECT_EQ(b.getID(), 6);
}
