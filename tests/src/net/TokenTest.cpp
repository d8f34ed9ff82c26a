#include <gtest/gtest.h>

#include <sstream>

#include "TestNets.h"
#include "TestSupport.h"
#include "input/Token_int.h"
#include "net/DBRecords.h"
#include "net/Token.h"
#include "net/TokenList.h"

using namespace testnets;
using testsupport::ScratchDir;

namespace {

// A colour type that keeps the plain Token behaviour.
class PlainToken : public Token {
public:
    std::string getName() const override { return "plain"; }
};

std::string text(const DateTime& t) {
    std::ostringstream s;
    s << t;
    return s.str();
}

}  // namespace

TEST(Token, IdsComeFromTheCounterAndCopiesKeepThem) {
    const long next = Token::tokenCounter;
    Token_int a(1);
    Token_int b(1);
    EXPECT_EQ(a.getID(), next);
    EXPECT_EQ(b.getID(), next + 1);
    EXPECT_EQ(Token::tokenCounter, next + 2);

    Token_int copy(a, false);
    EXPECT_EQ(copy.getID(), a.getID());
    EXPECT_EQ(copy.getValue(), 1);
    EXPECT_EQ(copy.getCreationTime(), a.getCreationTime());
    EXPECT_EQ(Token::tokenCounter, next + 2);

    // Equality is by id only.
    EXPECT_TRUE(copy == a);
    EXPECT_FALSE(a == b);
}

TEST(Token, PopulationCounters) {
    const long created = Token::tokenCounter;
    const long alive = Token::concTokenCounter;
    const long most = Token::maxConcTokenCounter;
    {
        Ptr<Token> a(new Token_int(1));
        Ptr<Token> b(new Token_int(2));
        Ptr<Token> c(new Token_int(3));
        b.ResetPtr();
        Ptr<Token> d(new Token_int(4));
        EXPECT_EQ(Token::concTokenCounter, alive + 3);
        EXPECT_EQ(Token::maxConcTokenCounter, std::max(most, alive + 3));
        EXPECT_EQ(Token::tokenCounter, created + 4);

        // Copies count as live tokens but take no new id.
        Token_int copy(*Dynamic_Cast<Token_int>(a), true);
        EXPECT_EQ(Token::concTokenCounter, alive + 4);
        EXPECT_EQ(Token::tokenCounter, created + 4);
    }
    EXPECT_EQ(Token::concTokenCounter, alive);
    EXPECT_GE(Token::maxConcTokenCounter, alive + 4);
}

TEST(Token, AssignmentCopiesIdAndTimeButNotTransitions) {
    TestNet net;
    TestTransition* t = net.transition("T");
    Token_int a(7);
    Token_int b(8);
    b.addTransition(t);
    a.addTransition(t);
    a.addTransition(t);
    b = a;
    EXPECT_EQ(b.getID(), a.getID());
    EXPECT_EQ(b.getValue(), 7);
    EXPECT_EQ(b.getTransitions().size(), 1u);

    Token& self = a;
    a = static_cast<Token_int&>(self);
    EXPECT_EQ(a.getValue(), 7);

    Token_int copy(a, true);
    EXPECT_EQ(copy.getTransitions().size(), 2u);
    Token_int bare(a, false);
    EXPECT_TRUE(bare.getTransitions().empty());
}

TEST(Token, TransitionListKeepsDuplicatesAndRemovesAllAtOnce) {
    TestNet net;
    TestTransition* t = net.transition("T");
    TestTransition* u = net.transition("U");
    Token_int a(1);
    EXPECT_FALSE(a.containsTransition(t));
    a.addTransition(t);
    a.addTransition(u);
    a.addTransition(t);
    EXPECT_EQ(a.getTransitions(), (std::vector<Transition*>{t, u, t}));
    a.removeTransition(t);
    EXPECT_EQ(a.getTransitions(), (std::vector<Transition*>{u}));
    EXPECT_FALSE(a.containsTransition(t));
    EXPECT_TRUE(a.containsTransition(u));
    a.removeTransition(t);
    EXPECT_EQ(a.getTransitions().size(), 1u);
}

TEST(Token, TextForms) {
    EXPECT_EQ(Token_int(7).content(), "7");
    EXPECT_EQ(Token_int(-12).content(), "-12");
    EXPECT_EQ(Token_int(0).content(), "0");
    EXPECT_EQ(PlainToken().content(), "");
    std::ostringstream s;
    s << Token_int(3);
    EXPECT_EQ(s.str(), "Token name: int");
}

TEST(Token, FindTokenMatchesTypeAndId) {
    token_info a, b, c;
    a.tokentypename = "Data";
    a.id = 4;
    a.token = Ptr<Token>(new Token_int(40));
    b.tokentypename = "int";
    b.id = 4;
    b.token = Ptr<Token>(new Token_int(41));
    c.tokentypename = "int";
    c.id = 4;
    c.token = Ptr<Token>(new Token_int(42));
    std::vector<token_info*> infos{&a, &b, &c};

    Ptr<Token> found = Token::findToken(infos, "int", 4);
    EXPECT_TRUE(found == b.token);
    EXPECT_TRUE(Token::findToken(infos, "Data", 4) == a.token);
    EXPECT_TRUE(Token::findToken(infos, "Dat", 4) == 0);
    EXPECT_TRUE(Token::findToken(infos, "int", 5) == 0);
    std::vector<token_info*> none;
    EXPECT_TRUE(Token::findToken(none, "int", 4) == 0);
}

TEST(Token, NetCopiesAndRetypesTokens) {
    TestNet net;
    Ptr<Token> t(new Token_int(9));
    Ptr<Token> copy = net.copyToken(t);
    ASSERT_TRUE(copy != 0);
    EXPECT_NE(copy.GetRawPtr(), t.GetRawPtr());
    EXPECT_EQ(copy->getID(), t->getID());
    EXPECT_EQ(copy->content(), "9");
    Ptr<Token> same = net.upcastToken(t);
    EXPECT_TRUE(same == t);
    EXPECT_EQ(same.GetRefObject(), t.GetRefObject());
    EXPECT_TRUE(net.copyToken(Ptr<Token>(new PlainToken)) == 0);
}

TEST(Token, NotifyingTransitionsTracesAndReachesEveryHolder) {
    ScratchDir dir("token-notify");
    TestNet net;
    Place* p = net.place("P");
    TestTransition* t1 = net.transition("T1", traits().firstCombination());
    TestTransition* t2 = net.transition("T2", traits().firstCombination());
    net.in(p, t1);
    net.in(p, t2);
    Ptr<Token> x = net.put(p, 1);
    t1->startup();
    t2->startup();
    ASSERT_EQ(x->getTransitions(), (std::vector<Transition*>{t1, t2}));
    const long before1 = t1->getNextEvent()->getID();
    const long before2 = t2->getNextEvent()->getID();
    {
        OpenLogs logs(dir.path());
        x->notifyTransitions(x);
        const std::string when = text(x->getCreationTime());
        const std::string trace = logs.trans();
        EXPECT_NE(trace.find("Token int, " + when + " notifyTransitions()..: [ T1 : T2 :  ]\n"), std::string::npos)
            << trace;
        EXPECT_NE(trace.find("Token->notifyTransitions() : T1, weight:1, priority:0\n\n"), std::string::npos);
        EXPECT_NE(trace.find("Token->notifyTransitions() : T2, weight:1, priority:0\n\n"), std::string::npos);
        EXPECT_NE(trace.find("Token int, " + when + " removed Transition T1\n"), std::string::npos);
        EXPECT_NE(trace.find("Token int, " + when + " added Transition T1\n"), std::string::npos);
    }
    // Both dropped their binding and bound the token again.
    EXPECT_GT(t1->getNextEvent()->getID(), before1);
    EXPECT_GT(t2->getNextEvent()->getID(), before2);
    EXPECT_EQ(x->getTransitions().size(), 2u);
}

TEST(TokenList, GrowsBeyondItsInlineHandles) {
    int deaths = 0;
    {
        TokenList list;
        for (int i = 0; i < 10; ++i) list.push_back(Ptr<Token>(new CountedToken(i, deaths)));
        EXPECT_EQ(list.size(), 10u);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(Dynamic_Cast<Token_int>(list[i])->getValue(), i);
        TokenList copy(list);
        list.erase(list.begin() + 2);
        EXPECT_EQ(list.size(), 9u);
        EXPECT_EQ(Dynamic_Cast<Token_int>(list[2])->getValue(), 3);
        EXPECT_EQ(deaths, 0);  // the copy still holds the erased one
        copy = list;
        EXPECT_EQ(deaths, 1);
        copy = copy;
        EXPECT_EQ(copy.size(), 9u);
        list.clear();
        EXPECT_TRUE(list.empty());
    }
    EXPECT_EQ(deaths, 10);
}

TEST(TokenList, AppendingOneOfItsOwnHandlesWhileFull) {
    int deaths = 0;
    {
        TokenList list;
        for (int i = 0; i < 3; ++i) list.push_back(Ptr<Token>(new CountedToken(i, deaths)));
        list.push_back(list[0]);  // the inline handles move to the heap on the way
        ASSERT_EQ(list.size(), 4u);
        ASSERT_TRUE(list[3] != 0);
        EXPECT_TRUE(list[3] == list[0]);
        for (int i = 4; i < 6; ++i) list.push_back(Ptr<Token>(new CountedToken(i, deaths)));
        list.push_back(list[1]);  // and again from the heap, which is freed on the way
        ASSERT_EQ(list.size(), 7u);
        ASSERT_TRUE(list[6] != 0);
        EXPECT_TRUE(list[6] == list[1]);
        EXPECT_EQ(list[0].GetRefObject()->activeCount(), 2u);
        EXPECT_EQ(list[1].GetRefObject()->activeCount(), 2u);
        EXPECT_EQ(deaths, 0);
    }
    EXPECT_EQ(deaths, 5);
}
