#include <gtest/gtest.h>

#include <sstream>

#include "TestNets.h"
#include "TestSupport.h"
#include "net/DefaultGM.h"

using namespace testnets;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using testsupport::ScratchDir;

TEST(DefaultGM, NamesTypesAndOrder) {
    const int next = DefaultGM::defaultCounter;
    DefaultGM a(nullptr);
    DefaultGM b(nullptr);
    EXPECT_EQ(a.getName(), "GMdefault " + std::to_string(next));
    EXPECT_EQ(b.getName(), "GMdefault " + std::to_string(next + 1));
    EXPECT_EQ(a.getType(), "");
    EXPECT_EQ(DefaultGM::defaultCounter, next + 2);

    TestNet net;
    DefaultGM x("Alpha", "Place", &net);
    DefaultGM y("Beta", "Place", &net);
    EXPECT_TRUE(x < y);
    EXPECT_FALSE(y < x);
    EXPECT_TRUE(y > x);
    EXPECT_FALSE(x > x);
    EXPECT_EQ(x.getNet(), &net);
    std::ostringstream s;
    s << x;
    EXPECT_EQ(s.str(), "Default name: Alpha");
}

TEST(Place, ConstructionAndTextForm) {
    TestNet net;
    Place plain(3, "P", &net, true, 5);
    EXPECT_EQ(plain.getID(), 3);
    EXPECT_EQ(plain.getType(), "Place");
    EXPECT_EQ(plain.getCapacity(), 5u);
    EXPECT_TRUE(plain.hasLimitedView());
    EXPECT_FALSE(plain.getWatch());
    std::ostringstream s;
    s << plain;
    EXPECT_EQ(s.str(), "P (Place)");

    Place watched(4, "W", &net, PlaceIdentMap{{"watch", "true"}}, false, 0);
    EXPECT_TRUE(watched.getWatch());
    Place notWatched(5, "N", &net, PlaceIdentMap{{"watch", "yes"}}, false, 0);
    EXPECT_FALSE(notWatched.getWatch());
    Place unnamed(6, &net);
    EXPECT_EQ(unnamed.getName(), "noname");
    EXPECT_EQ(unnamed.getCapacity(), 0u);
}

TEST(Place, CanTakeAgainstCapacity) {
    TestNet net;
    Place* p = net.place("P", 2);
    Place* open = net.place("Open", 0);
    EXPECT_TRUE(p->canTake(2));
    EXPECT_FALSE(p->canTake(3));
    net.put(p, 1);
    EXPECT_TRUE(p->canTake(1));
    EXPECT_FALSE(p->canTake(2));
    net.put(p, 2);
    EXPECT_FALSE(p->canTake(1));
    EXPECT_TRUE(p->canTake(0));
    net.putMany(open, 50);
    EXPECT_TRUE(open->canTake(1000000));
}

TEST(Place, LimitedViewShowsTheOldestTokens) {
    TestNet net;
    Place* limited = net.place("L", 0, true);
    Place* full = net.place("F");
    std::vector<Ptr<Token>> tokens;
    for (int i = 0; i < 4; ++i) {
        tokens.push_back(net.put(limited, i));
        net.put(full, i);
    }
    MarkingList& view = limited->getMarking(2);
    ASSERT_EQ(view.size(), 2u);
    EXPECT_TRUE(view.front() == tokens[0]);
    EXPECT_TRUE(*++view.begin() == tokens[1]);
    EXPECT_EQ(limited->getMarking(9).size(), 4u);
    EXPECT_EQ(limited->getMarking(0).size(), 0u);
    EXPECT_EQ(limited->getMarkingSize(), 4u);
    EXPECT_EQ(&full->getMarking(2), &full->getFullMarking());
    EXPECT_EQ(full->getMarking(2).size(), 4u);
}

TEST(Place, ContentJoinsTokenTexts) {
    TestNet net;
    Place* p = net.place("P");
    EXPECT_EQ(p->content(), "");
    net.put(p, 3);
    EXPECT_EQ(p->content(), "3");
    net.put(p, 4);
    EXPECT_EQ(p->content(), "3,4");
    Ptr<Token> neg = net.put(p, -5);
    EXPECT_EQ(p->content(), "3,4,-5");
    p->removeToken(neg);
    EXPECT_EQ(p->content(), "3,4");
    p->removeCurrentMarking();
    EXPECT_EQ(p->content(), "");
    p->addRestoredToken(neg);
    EXPECT_EQ(p->content(), "-5");
}

TEST(Place, InfiniteServerConsumersFollowTheMarkingInTheirNotBoundList) {
    TestNet net;
    Place* p = net.place("P");
    Place* q = net.place("Q");
    TestTransition* is = net.transition("IS", traits().infiniteServer());
    TestTransition* ss = net.transition("SS");
    TestTransition* producer = net.transition("Prod", traits().infiniteServer());
    net.in(p, is);
    net.in(p, ss);
    net.out(producer, p);
    net.in(q, is);
    Ptr<Token> a = net.put(p, 1);
    Ptr<Token> b = net.put(q, 2);
    EXPECT_EQ(is->getNotBoundTokens().size(), 2u);
    EXPECT_TRUE(is->getNotBoundTokens().contains(a.GetRawPtr()));
    EXPECT_TRUE(ss->getNotBoundTokens().empty());
    EXPECT_TRUE(producer->getNotBoundTokens().empty());  // a producer, not a consumer
    p->removeToken(a);
    EXPECT_FALSE(is->getNotBoundTokens().contains(a.GetRawPtr()));
    EXPECT_TRUE(is->getNotBoundTokens().contains(b.GetRawPtr()));
    EXPECT_EQ(p->getMarkingSize(), 0u);
    // Removing a token the place does not hold changes nothing else.
    p->removeToken(b);
    EXPECT_EQ(q->getMarkingSize(), 1u);
}

TEST(Place, ArcsAndMultiplicities) {
    TestNet net;
    Place* p = net.place("P");
    TestTransition* in = net.transition("In");
    TestTransition* out = net.transition("Out");
    net.out(in, p, 2);
    net.in(p, out, 3);
    EXPECT_EQ(p->getInTransitionMultiplicity(in->getID()), 2);
    EXPECT_EQ(p->getOutTransitionMultiplicity(out->getID()), 3);
    EXPECT_EQ(p->getInTransitionMultiplicity(out->getID()), 0);
    EXPECT_EQ(p->getOutTransitionMultiplicity(99), 0);
    EXPECT_EQ(p->getInTransitions(), (std::list<Transition*>{in}));
    EXPECT_EQ(p->getOutTransitions(), (std::list<Transition*>{out}));
    EXPECT_EQ(in->getOutPlaces(), (std::list<Place*>{p}));
    EXPECT_EQ(out->getInPlaces(), (std::list<Place*>{p}));

    CaptureStdout();
    p->printTrans();
    EXPECT_EQ(GetCapturedStdout(), "\t<-\n\t\tIn\n\t->\n\t\tOut\n");
    CaptureStdout();
    out->printPlaces();
    EXPECT_EQ(GetCapturedStdout(), "\t<-\n\t\tP\n\t->\n");
}

TEST(NetClass, LookupsAndTheirMessages) {
    TestNet net;
    Place* a = net.place("A");
    Place* b = net.place("B");
    TestTransition* t = net.transition("T");
    EXPECT_EQ(net.getPlace("A"), a);
    EXPECT_EQ(net.getPlace(std::string("B")), b);
    EXPECT_EQ(net.getPlace(b->getID()), b);
    EXPECT_EQ(net.getTransition("T"), t);
    EXPECT_EQ(net.getTransition(t->getID()), t);

    CaptureStdout();
    EXPECT_EQ(net.getPlace("Nope"), nullptr);
    EXPECT_EQ(net.getPlace(std::string("Gone")), nullptr);
    EXPECT_EQ(net.getTransition("Never"), nullptr);
    EXPECT_EQ(net.getPlace(99), nullptr);
    EXPECT_EQ(net.getTransition(99), nullptr);
    EXPECT_EQ(GetCapturedStdout(),
              "Couldn't find Place: Nope\nCouldn't find Place: Gone\nCouldn't find Transition: Never\n");

    // A name from outside: the whole text counts (a NUL byte does not end
    // it), and the message shows its control characters escaped.
    CaptureStdout();
    EXPECT_EQ(net.getPlace(std::string("A\0x", 3)), nullptr);
    EXPECT_EQ(net.getTransition(std::string("T\x1b[2J")), nullptr);
    EXPECT_EQ(GetCapturedStdout(), "Couldn't find Place: A\\x00x\nCouldn't find Transition: T\\x1B[2J\n");

    // A transition's own place map: the key first, then the mapped name.
    PlaceIdentMap map{{"x", "B"}, {"y", "Missing"}};
    CaptureStdout();
    EXPECT_EQ(net.getPlace(map, "x"), b);
    EXPECT_EQ(net.getPlace(&map, "x"), b);
    EXPECT_EQ(net.getPlace(map, "z"), nullptr);
    EXPECT_EQ(net.getPlace(map, "y"), nullptr);
    EXPECT_EQ(GetCapturedStdout(), "Couldn't find Place: z\nCouldn't find Place: Missing\n");

    // The cached look-up answers as the plain one and notices a rebuild.
    NetClass::PlaceCache cache;
    EXPECT_EQ(net.getPlaceCached("A", cache), a);
    EXPECT_EQ(net.getPlaceCached("A", cache), a);
    net.clearMaps();
    Place* a2 = net.place("A");
    EXPECT_EQ(net.getPlaceCached("A", cache), a2);
    // A missing place is asked for once, and found once it is added.
    NetClass::PlaceCache later;
    CaptureStdout();
    EXPECT_EQ(net.getPlaceCached("Later", later), nullptr);
    EXPECT_EQ(net.getPlaceCached("Later", later), nullptr);
    EXPECT_EQ(GetCapturedStdout(), "Couldn't find Place: Later\n");
    Place* added = net.place("Later");
    EXPECT_EQ(net.getPlaceCached("Later", later), added);
}

// Every replication rebuilds the net. The measures evaluated after a rebuild
// are those of the first build, counted by its places: that generation is
// kept until the net goes, every later one is deleted at the next rebuild,
// so that a run does not grow with its replications.
TEST(NetClass, ARebuildKeepsOnlyTheGenerationOfTheEvaluatedMeasures) {
    int deaths = 0;
    {
        TestNet net;
        // The first build: its measure is the one evaluated from now on.
        CountingMeasure* evaluated = new CountingMeasure("M", &net, false, true, &deaths);
        net.place("A")->addMeasure(evaluated);
        net.place("B");
        net.transition("T");
        net.addMeasure(evaluated);
        for (int build = 2; build <= 4; ++build) {
            net.clearMaps();
            // A rebuild makes its own measure, which only its places count.
            CountingMeasure* own = new CountingMeasure("M", &net, false, true, &deaths);
            net.place("A")->addMeasure(own);
            net.place("B");
            net.transition("T");
            net.addMeasure(own);
            net.loadMeasureList(0);
            EXPECT_EQ(net.getMeasureList(), (std::list<MeasureObj*>{evaluated}));
            // The build before this one is gone, with its measure.
            EXPECT_EQ(deaths, build - 2);
            EXPECT_EQ(evaluated->getRefCount(), 1);
        }
    }
    // The first and the last build went with the net.
    EXPECT_EQ(deaths, 4);
}

TEST(NetClass, AFirstRegisteredNameIsKept) {
    TestNet net;
    Place* first = net.place("P");
    Place* second = new Place(50, "P", &net, false, 0);
    net.addPlace(second);
    EXPECT_EQ(net.getPlace("P"), first);
    EXPECT_EQ(net.getPlaces().size(), 1u);
    delete second;
    TestTransition* t = net.transition("T");
    TestTransition* other = new TestTransition(60, "T", &net);
    net.addTransition(other);
    EXPECT_EQ(net.getTransition("T"), t);
    delete other;
}

TEST(NetClass, WriteMapsListsBothMaps) {
    TestNet net;
    net.place("B");
    net.place("A");
    net.transition("T");
    EXPECT_EQ(net.writeMaps(), "Places:\n\tA -> A\n\tB -> B\nTransitions:\n\tT -> T\n");
    TestNet empty;
    EXPECT_EQ(empty.writeMaps(), "Places:\nTransitions:\n");
}

TEST(NetClass, LoadMeasureListKeepsOnlyTimeAveragesOutsideTransientRuns) {
    TestNet net;
    CountingMeasure average("Avg", &net, false, true);
    CountingMeasure accumulated("Acc", &net, true, false);
    CountingMeasure instant("Inst", &net, false, false);
    net.addMeasure(&average);
    net.addMeasure(&accumulated);
    net.addMeasure(&instant);
    net.clearMaps();
    EXPECT_TRUE(net.getMeasureList().empty());

    CaptureStdout();
    net.loadMeasureList(1);
    EXPECT_EQ(GetCapturedStdout(),
              "Warning: accumulative performance measures are only allowed in transient simulation."
              " Ignoring Measure Acc\n"
              "Warning: instantaneous performance measures are only allowed in transient simulation."
              " Ignoring Measure Inst\n");
    EXPECT_EQ(net.getMeasureList(), (std::list<MeasureObj*>{&average}));

    CaptureStdout();
    net.loadMeasureList(2);
    GetCapturedStdout();
    EXPECT_EQ(net.getMeasureList().size(), 1u);

    CaptureStdout();
    net.loadMeasureList(0);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(net.getMeasureList(), (std::list<MeasureObj*>{&average, &accumulated, &instant}));
}

TEST(Place, ReleasingTheLastReferenceDeletesAMeasure) {
    int deaths = 0;
    TestNet net;
    CountingMeasure* shared = new CountingMeasure("Shared", &net, false, true, &deaths);
    CountingMeasure* kept = new CountingMeasure("Kept", &net, false, true, &deaths);
    kept->incrementRefCount();  // someone else holds it too
    {
        Place p(1, "P", &net, false, 0);
        Place q(2, "Q", &net, false, 0);
        p.addMeasure(shared);
        q.addMeasure(shared);
        p.addMeasure(kept);
        EXPECT_EQ(shared->getRefCount(), 2);
        EXPECT_EQ(p.getMeasures(), (std::vector<MeasureObj*>{shared, kept}));
    }
    EXPECT_EQ(deaths, 1);
    EXPECT_EQ(kept->getRefCount(), 1);
    delete kept;
}
