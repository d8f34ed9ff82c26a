#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "Ptr.h"
#include "PtrRefCounter.h"
#include "QuickMutex.h"
#include "TestNets.h"
#include "input/Token_int.h"

using ReferenceCountedSmartPointer::Dynamic_Cast;
using ReferenceCountedSmartPointer::Ptr;
using ReferenceCountedSmartPointer::PtrRefCounter;
using testnets::CountedToken;

namespace {

// A second colour type, to see casts fail.
class OtherToken : public Token {
public:
    std::string getName() const override { return "other"; }
};

unsigned long countOf(const Ptr<Token>& p) { return p.GetRefObject()->activeCount(); }

}  // namespace

TEST(Ptr, HandlesShareOneCounterAndTheLastDeletesOnce) {
    int deaths = 0;
    {
        Ptr<Token> a(new CountedToken(1, deaths));
        EXPECT_EQ(countOf(a), 1u);
        Ptr<Token> b = a;
        Ptr<Token> c;
        c = b;
        EXPECT_EQ(a.GetRefObject(), c.GetRefObject());
        EXPECT_EQ(countOf(a), 3u);
        EXPECT_TRUE(a == c);

        b.ResetPtr();
        EXPECT_TRUE(b == 0);
        EXPECT_EQ(b.GetRefObject(), nullptr);
        EXPECT_EQ(countOf(a), 2u);
        a = Ptr<Token>();
        EXPECT_EQ(deaths, 0);
        EXPECT_EQ(c->getName(), "int");
    }
    EXPECT_EQ(deaths, 1);
}

TEST(Ptr, SelfAssignmentAndEmptyToEmptyChangeNothing) {
    int deaths = 0;
    Ptr<Token> a(new CountedToken(1, deaths));
    Ptr<Token>& alias = a;
    a = alias;
    a = std::move(alias);
    EXPECT_TRUE(a != 0);
    EXPECT_EQ(countOf(a), 1u);

    Ptr<Token> b = a;
    a = b;  // same counter: no release, no registration
    EXPECT_EQ(countOf(a), 2u);
    b = std::move(a);  // same counter: the moved-from handle lets go
    EXPECT_TRUE(a == 0);
    EXPECT_EQ(countOf(b), 1u);
    EXPECT_EQ(deaths, 0);

    Ptr<Token> e1, e2;
    e1 = e2;
    e1 = std::move(e2);
    EXPECT_TRUE(e1 == 0);
    EXPECT_TRUE(e2 == 0);
    b = e1;
    EXPECT_EQ(deaths, 1);
}

TEST(Ptr, AssigningAnotherObjectReleasesTheOld) {
    int deaths = 0;
    Ptr<Token> a(new CountedToken(1, deaths));
    Ptr<Token> b(new CountedToken(2, deaths));
    a = b;
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(countOf(b), 2u);
    a = new CountedToken(3, deaths);  // a raw pointer starts a new counter
    EXPECT_NE(a.GetRefObject(), b.GetRefObject());
    EXPECT_EQ(countOf(a), 1u);
    EXPECT_EQ(countOf(b), 1u);
    Ptr<Token> moved(std::move(a));
    EXPECT_TRUE(a == 0);
    EXPECT_EQ(countOf(moved), 1u);
    a = std::move(b);
    EXPECT_EQ(deaths, 1);
    a = std::move(moved);  // releases the object a held
    EXPECT_EQ(deaths, 2);
}

TEST(Ptr, CastsShareTheCounterOrGiveAnEmptyHandle) {
    int deaths = 0;
    Ptr<Token> t(new CountedToken(5, deaths));
    Ptr<Token> other(new OtherToken);

    Ptr<Token_int> failed = Dynamic_Cast<Token_int>(other);
    EXPECT_TRUE(failed == 0);
    EXPECT_EQ(countOf(other), 1u);
    EXPECT_TRUE(Dynamic_Cast<Token_int>(Ptr<Token>()) == 0);

    Ptr<Token_int> typed = Dynamic_Cast<Token_int>(t);
    ASSERT_TRUE(typed != 0);
    EXPECT_EQ(typed.GetRefObject(), t.GetRefObject());
    EXPECT_EQ(countOf(t), 2u);
    EXPECT_EQ(typed->getValue(), 5);
    EXPECT_TRUE(typed == t);

    Ptr<Token> back(typed);  // up-cast copy
    EXPECT_EQ(countOf(t), 3u);
    t.ResetPtr();
    back.ResetPtr();
    EXPECT_EQ(deaths, 0);  // the cast handle keeps the token alive
    EXPECT_EQ(typed->getValue(), 5);
    typed.ResetPtr();
    EXPECT_EQ(deaths, 1);
}

TEST(Ptr, JoiningACounter) {
    int deaths = 0;
    CountedToken* raw = new CountedToken(1, deaths);
    Ptr<Token> a(raw);
    Ptr<Token> joined(raw, a.GetRefObject());
    EXPECT_EQ(countOf(a), 2u);
    Ptr<Token> none(nullptr, a.GetRefObject());
    EXPECT_TRUE(none == 0);
    EXPECT_EQ(none.GetRefObject(), nullptr);
    EXPECT_EQ(countOf(a), 2u);

    // A counter whose object is already released cannot be joined.
    PtrRefCounter* dead = new PtrRefCounter;
    EXPECT_EQ(dead->SubtractActiveRef(), 22);
    EXPECT_FALSE(dead->IsActive());
    EXPECT_TRUE(dead->ShouldThisObjectBeDeleted());
    Token_int stack(3);
    Ptr<Token> late(&stack, dead);
    EXPECT_TRUE(late == 0);
    EXPECT_EQ(late.GetRefObject(), nullptr);
    delete dead;

    // With no counter given, the handle starts one of its own.
    Ptr<Token> fresh(new CountedToken(2, deaths), nullptr);
    ASSERT_NE(fresh.GetRefObject(), nullptr);
    EXPECT_EQ(countOf(fresh), 1u);
    fresh.ResetPtr();
    EXPECT_EQ(deaths, 1);
}

TEST(PtrRefCounter, InactiveReferencesKeepTheCounterButNotTheObject) {
    PtrRefCounter* c = new PtrRefCounter;
    EXPECT_TRUE(c->AddInactiveRef());
    EXPECT_TRUE(c->AddActiveRef());
    EXPECT_EQ(c->SubtractActiveRef(), 0);
    EXPECT_EQ(c->SubtractActiveRef(), -1);
    EXPECT_FALSE(c->AddActiveRef());
    EXPECT_FALSE(c->AddInactiveRef());  // nothing left to refer to
    EXPECT_FALSE(c->ShouldThisObjectBeDeleted());
    EXPECT_TRUE(c->SubtractInactiveRef());
    EXPECT_FALSE(c->SubtractInactiveRef());
    EXPECT_TRUE(c->ShouldThisObjectBeDeleted());
    delete c;
}

TEST(Ptr, CopiesFromSeveralThreadsKeepTheCountExact) {
    int deaths = 0;
    Ptr<Token> shared(new CountedToken(1, deaths));
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&shared] {
            for (int k = 0; k < 20000; ++k) {
                Ptr<Token> copy(shared);
                Ptr<Token> second;
                second = copy;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(countOf(shared), 1u);
    EXPECT_EQ(deaths, 0);
    shared.ResetPtr();
    EXPECT_EQ(deaths, 1);
}

// Counts changed without locked instructions while the process had one
// thread stay exact once a second thread shares the handle, and from then on
// the counter knows the process is no longer single-threaded.
TEST(Ptr, CountsKeptBeforeASecondThreadStaysExactAfterIt) {
    int deaths = 0;
    Ptr<Token> shared(new CountedToken(1, deaths));
    Ptr<Token> early(shared);
    std::thread worker([&shared] {
        for (int k = 0; k < 1000; ++k) {
            Ptr<Token> copy(shared);
        }
    });
    worker.join();
    EXPECT_FALSE(ReferenceCountedSmartPointer::PtrRefCounter::singleThreaded());
    EXPECT_EQ(countOf(shared), 2u);
    early.ResetPtr();
    EXPECT_EQ(countOf(shared), 1u);
    shared.ResetPtr();
    EXPECT_EQ(deaths, 1);
}

TEST(QuickMutex, IsRecursiveAndReportsWhetherHeld) {
    ThreadSafe::QuickMutex m;
    EXPECT_FALSE(m.IsLocked());
    m.Lock();
    m.Lock();
    EXPECT_TRUE(m.IsLocked());
    m.Unlock();
    EXPECT_TRUE(m.IsLocked());
    m.Unlock();
    EXPECT_FALSE(m.IsLocked());

    int inside = 0;
    int most = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&] {
            for (int k = 0; k < 2000; ++k) {
                m.Lock();
                ++inside;
                if (inside > most) most = inside;
                --inside;
                m.Unlock();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(most, 1);
}

TEST(PtrDeathTest, DereferencingAnEmptyHandle) {
    Ptr<Token> empty;
    EXPECT_DEATH((void)*empty, "m_pRawPtr != 0, file SmartPointers/Ptr, line 286");
    EXPECT_DEATH((void)empty->getID(), "m_pRawPtr != 0, file SmartPointers/Ptr, line 306");
}

TEST(PtrDeathTest, ComparingWithANonZeroNumber) {
    Ptr<Token> empty;
    EXPECT_DEATH((void)(empty == 1), "iShouldBeNull == 0, file SmartPointers/Ptr, line 327");
}

TEST(PtrDeathTest, ReleasingMoreOftenThanRegistered) {
    EXPECT_DEATH(
        {
            PtrRefCounter c;
            c.SubtractActiveRef();
            c.SubtractActiveRef();
        },
        "m_uActiveCount > 0, file SmartPointers/PtrRefCounter, line 159");
}
