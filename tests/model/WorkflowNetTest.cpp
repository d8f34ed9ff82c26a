// The compiled workflow net: its structure against the model's tables, and
// what its generated transitions, measures and token operations do.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <typeinfo>
#include <utility>
#include <unistd.h>
#include <vector>

#include "ImplementedNetClass.h"
#include "MeasureObj_A3Ready.h"
#include "MeasureObj_AReady.h"
#include "MeasureObj_Act1Ready.h"
#include "MeasureObj_Act2Ready.h"
#include "MeasureObj_Binary__accuracy.h"
#include "MeasureObj_Binary__f1Score.h"
#include "MeasureObj_Binary__precision.h"
#include "MeasureObj_Binary__recall.h"
#include "MeasureObj_Binary__specificity.h"
#include "MeasureObj_C1__in__use.h"
#include "TestSupport.h"
#include "Token_Data.h"
#include "input/Token_int.h"
#include "net/Binding.h"
#include "net/Place.h"
#include "net/Transition.h"
#include "stats/MeasureObj.h"

using ReferenceCountedSmartPointer::Dynamic_Cast;
using testsupport::ScratchDir;

namespace {

// --- the model's tables ----------------------------------------------------------------------

struct PlaceRow {
    int id;
    const char* name;
    std::vector<std::string> measures;
};

const std::vector<PlaceRow> kPlaces = {
    {1, "P_thread_pool", {}},
    {2, "C1_executed", {}},
    {3, "C1_main", {}},
    {4, "C1_sem", {"C1_in_use"}},
    {5, "C1_in_1", {}},
    {6, "C1_out1", {}},
    {7, "C1_out2", {}},
    {8, "S_executed", {}},
    {9, "S_out1", {}},
    {10, "A_executed", {"AReady"}},
    {11, "A_in_1", {}},
    {12, "A_in_1_1", {}},
    {13, "A_in_2_1", {}},
    {14, "P_In_executed", {}},
    {15, "P_In_out1", {}},
    {16, "P_Out_executed", {}},
    {17, "P_Out_in_1", {}},
    {18, "P_executed", {}},
    {19, "P_main", {}},
    {20, "P_in_1", {}},
    {21, "P_in_2", {}},
    {22, "P_out1", {}},
    {23, "P_out2", {}},
    {24, "S1_executed", {}},
    {25, "S1_out1", {}},
    {26, "S2_executed", {}},
    {27, "S2_out1", {}},
    {28, "Act1_executed", {"Act1Ready"}},
    {29, "Act1_in_1", {}},
    {30, "Act2_executed", {"Act2Ready"}},
    {31, "Act2_in_1", {}},
    {32, "S3_executed", {}},
    {33, "S3_out1", {}},
    {34, "A3_executed", {"A3Ready"}},
    {35, "A3_in_1", {}},
    {36, "Binary_executed", {}},
    {37, "Binary_in_1", {}},
    {38, "Binary_out1", {}},
    {39, "Binary_in_data", {}},
    {40, "Binary_data_gen", {}},
    {41, "Binary_ct", {}},
    {42, "Binary_cf", {}},
    {43, "Binary_tp", {"Binary_accuracy", "Binary_recall", "Binary_precision", "Binary_f1Score"}},
    {44, "Binary_fn", {"Binary_accuracy", "Binary_recall", "Binary_f1Score"}},
    {45, "Binary_tn", {"Binary_accuracy", "Binary_specificity"}},
    {46, "Binary_fp", {"Binary_accuracy", "Binary_specificity", "Binary_precision", "Binary_f1Score"}},
};

struct TransitionRow {
    int id;
    const char* name;
    const char* cls;
    bool immediate;
    double weight;
    int priority;
    bool watch;
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
};

const std::vector<TransitionRow> kTransitions = {
    {1, "S_ready", "Transition_S__ready", false, 0.0, 0, true, {"P_thread_pool"}, {"S_executed"}},
    {2, "P_In_ready", "Transition_P__In__ready", false, 0.0, 0, true, {"P_thread_pool"}, {"P_In_executed"}},
    {3, "S1_ready", "Transition_S1__ready", false, 0.0, 0, true, {"P_thread_pool"}, {"S1_executed"}},
    {4, "S2_ready", "Transition_S2__ready", false, 0.0, 0, true, {"P_thread_pool"}, {"S2_executed"}},
    {5, "S3_ready", "Transition_S3__ready", false, 0.0, 0, true, {"P_thread_pool"}, {"S3_executed"}},
    {6, "C1_execution", "Transition_C1__execution", false, 0.0, 0, false, {"C1_main", "P_thread_pool"},
     {"C1_executed", "C1_sem"}},
    {7, "A_execution", "Transition_A__execution", false, 0.0, 0, false, {"A_in_1", "P_thread_pool"},
     {"A_executed"}},
    {8, "P_Out_execution", "Transition_P__Out__execution", false, 0.0, 0, false, {"P_Out_in_1", "P_thread_pool"},
     {"P_Out_executed"}},
    {9, "P_execution", "Transition_P__execution", false, 0.0, 0, false, {"P_main", "P_thread_pool"},
     {"P_executed"}},
    {10, "Act1_execution", "Transition_Act1__execution", false, 0.0, 0, false, {"Act1_in_1", "P_thread_pool"},
     {"Act1_executed"}},
    {11, "Act2_execution", "Transition_Act2__execution", false, 0.0, 0, false, {"Act2_in_1", "P_thread_pool"},
     {"Act2_executed"}},
    {12, "A3_execution", "Transition_A3__execution", false, 0.0, 0, false, {"A3_in_1", "P_thread_pool"},
     {"A3_executed"}},
    {13, "Binary_execution", "Transition_Binary__execution", false, 0.0, 0, false, {"Binary_in_1"},
     {"Binary_executed", "Binary_in_data"}},
    {14, "con_sLc2", "Transition_con__sLc2", false, 0.0, 0, false, {"S_out1"}, {"C1_in_1"}},
    {15, "con_Vxs5", "Transition_con__Vxs5", false, 0.0, 0, false, {"C1_out1"}, {"A_in_1_1"}},
    {16, "con_KSdj", "Transition_con__KSdj", false, 0.0, 0, false, {"C1_out2"}, {"A_in_2_1"}},
    {17, "con_bxwf", "Transition_con__bxwf", false, 0.0, 0, false, {"P_In_out1"}, {"P_Out_in_1"}},
    {18, "con_Q2pv", "Transition_con__Q2pv", false, 0.0, 0, false, {"S2_out1"}, {"P_in_2"}},
    {19, "con_0ogb", "Transition_con__0ogb", false, 0.0, 0, false, {"S1_out1"}, {"P_in_1"}},
    {20, "con_9K4e", "Transition_con__9K4e", false, 0.0, 0, false, {"P_out1"}, {"Act1_in_1"}},
    {21, "con_xgVM", "Transition_con__xgVM", false, 0.0, 0, false, {"P_out2"}, {"Act2_in_1"}},
    {22, "con_WnTU", "Transition_con__WnTU", false, 0.0, 0, false, {"S3_out1"}, {"Binary_in_1"}},
    {23, "con_uOSv", "Transition_con__uOSv", false, 0.0, 0, false, {"Binary_out1"}, {"A3_in_1"}},
    {24, "C1_post_execution", "Transition_C1__post__execution", true, 1.0, 1, false, {"C1_executed"},
     {"P_thread_pool", "C1_out1", "C1_out2"}},
    {25, "C1_ready", "Transition_C1__ready", true, 1.0, 1, false, {"C1_sem", "C1_in_1"}, {"C1_main"}},
    {26, "S_post_execution", "Transition_S__post__execution", true, 1.0, 1, false, {"S_executed"},
     {"P_thread_pool", "S_out1"}},
    {27, "A_post_execution", "Transition_A__post__execution", true, 1.0, 1, false, {"A_executed"},
     {"P_thread_pool"}},
    {28, "A_in_1_merge", "Transition_A__in__1__merge", true, 1.0, 1, false, {"A_in_1_1", "A_in_2_1"}, {"A_in_1"}},
    {29, "P_In_post_execution", "Transition_P__In__post__execution", true, 1.0, 1, false, {"P_In_executed"},
     {"P_thread_pool", "P_In_out1"}},
    {30, "P_Out_post_execution", "Transition_P__Out__post__execution", true, 1.0, 1, false, {"P_Out_executed"},
     {"P_thread_pool"}},
    {31, "P_post_execution", "Transition_P__post__execution", true, 1.0, 1, false, {"P_executed"},
     {"P_thread_pool", "P_out1", "P_out2"}},
    {32, "P_ready", "Transition_P__ready", true, 1.0, 1, false, {"P_in_1", "P_in_2"}, {"P_main"}},
    {33, "S1_post_execution", "Transition_S1__post__execution", true, 1.0, 1, false, {"S1_executed"},
     {"P_thread_pool", "S1_out1"}},
    {34, "S2_post_execution", "Transition_S2__post__execution", true, 1.0, 1, false, {"S2_executed"},
     {"P_thread_pool", "S2_out1"}},
    {35, "Act1_post_execution", "Transition_Act1__post__execution", true, 1.0, 1, false, {"Act1_executed"},
     {"P_thread_pool"}},
    {36, "Act2_post_execution", "Transition_Act2__post__execution", true, 1.0, 1, false, {"Act2_executed"},
     {"P_thread_pool"}},
    {37, "S3_post_execution", "Transition_S3__post__execution", true, 1.0, 1, false, {"S3_executed"},
     {"P_thread_pool", "S3_out1"}},
    {38, "A3_post_execution", "Transition_A3__post__execution", true, 1.0, 1, false, {"A3_executed"},
     {"P_thread_pool"}},
    {39, "Binary_post_execution", "Transition_Binary__post__execution", true, 1.0, 1, false, {"Binary_executed"},
     {"Binary_out1"}},
    {40, "Binary_not_OOD", "Transition_Binary__not__OOD", true, 1.0, 1, false, {"Binary_in_data"},
     {"Binary_data_gen"}},
    {41, "Binary_OOD", "Transition_Binary__OOD", true, 0.0, 1, false, {"Binary_in_data"}, {"Binary_cf"}},
    {42, "Binary_ClassTruth", "Transition_Binary__ClassTruth", true, 404.0 / 417.0, 1, false, {"Binary_data_gen"},
     {"Binary_ct"}},
    {43, "Binary_ClassOther", "Transition_Binary__ClassOther", true, 1.0 - 404.0 / 417.0, 1, false,
     {"Binary_data_gen"}, {"Binary_cf"}},
    {44, "Binary_ct_tp", "Transition_Binary__ct__tp", true, 100.0 / 101.0, 1, false, {"Binary_ct"}, {"Binary_tp"}},
    {45, "Binary_ct_fn", "Transition_Binary__ct__fn", true, 1.0 - 100.0 / 101.0, 1, false, {"Binary_ct"},
     {"Binary_fn"}},
    {46, "Binary__cf_tn", "Transition_Binary____cf__tn", true, 8.0 / 13.0, 1, false, {"Binary_cf"}, {"Binary_tn"}},
    {47, "Binary_cf_fp", "Transition_Binary__cf__fp", true, 1.0 - 8.0 / 13.0, 1, false, {"Binary_cf"},
     {"Binary_fp"}},
};

struct MeasureRow {
    const char* name;
    MeasureObj* (*global)();  // the generated global pointer
    bool accumulative;
    bool timeaverage;
    bool watch;
    int places;
};

const std::vector<MeasureRow> kMeasures = {
    {"C1_in_use", []() -> MeasureObj* { return measure_C1__in__use; }, false, true, true, 1},
    {"AReady", []() -> MeasureObj* { return measure_AReady; }, true, false, true, 1},
    {"Act1Ready", []() -> MeasureObj* { return measure_Act1Ready; }, true, false, true, 1},
    {"Act2Ready", []() -> MeasureObj* { return measure_Act2Ready; }, true, false, true, 1},
    {"A3Ready", []() -> MeasureObj* { return measure_A3Ready; }, true, false, true, 1},
    {"Binary_accuracy", []() -> MeasureObj* { return measure_Binary__accuracy; }, false, false, false, 4},
    {"Binary_specificity", []() -> MeasureObj* { return measure_Binary__specificity; }, false, false, false,
     2},
    {"Binary_recall", []() -> MeasureObj* { return measure_Binary__recall; }, false, false, false, 2},
    {"Binary_precision", []() -> MeasureObj* { return measure_Binary__precision; }, false, false, false, 2},
    {"Binary_f1Score", []() -> MeasureObj* { return measure_Binary__f1Score; }, false, false, false, 3},
};

// --- helpers -----------------------------------------------------------------------------------

std::vector<std::string> names(const std::list<Place*>& places) {
    std::vector<std::string> out;
    for (const Place* p : places) out.push_back(p->getName());
    return out;
}

// The workflow net, built in a scratch directory whose "marking.xml" holds
// `markingXml`.
class WorkflowNet : public ::testing::Test {
protected:
    explicit WorkflowNet(const char* markingXml = "<m/>") : dir("workflow-net") {
        char* cwd = getcwd(nullptr, 0);
        previous = cwd;
        std::free(cwd);
        EXPECT_EQ(chdir(dir.path().c_str()), 0);
        dir.write("marking.xml", markingXml);
        net.buildNet();
    }
    ~WorkflowNet() override { EXPECT_EQ(chdir(previous.c_str()), 0); }

    Place* place(const char* name) { return net.getPlace(name); }
    Transition* transition(const char* name) { return net.getTransition(name); }

    Ptr<Token_Data> addData(const char* placeName) {
        Ptr<Token_Data> t(new Token_Data());
        place(placeName)->addToken(t);
        return t;
    }
    void addData(const char* placeName, int count) {
        for (int i = 0; i < count; ++i) addData(placeName);
    }

    // The one binding a transition offers now, or an empty list.
    TokenList binding(const char* transitionName) {
        TempBindingList* list = transition(transitionName)->generateBindingList();
        EXPECT_LE(list->size(), 1u);
        TokenList result;
        if (!list->empty()) result = *list->front();
        Transition::clearTempBindingList(list);
        delete list;
        return result;
    }

    // Moves the tokens of the transition's binding as a firing does.
    void move(const char* transitionName) {
        TokenList tokens = binding(transitionName);
        ASSERT_FALSE(tokens.empty()) << transitionName << " is not enabled";
        transition(transitionName)->moveTokens(tokens);
    }

    ScratchDir dir;
    std::string previous;
    ImplementedNetClass net;
};

class WorkflowNetWithMarking : public WorkflowNet {
protected:
    WorkflowNetWithMarking()
        : WorkflowNet("<m><token place=\"C1_sem\" value=\"3\"/><token place=\"P_thread_pool\" value=\"1\"/>"
                      "<token place=\"C1_sem\" value=\"4\"/><token place=\"Binary_tp\" value=\"1\"/></m>") {}
};

} // namespace

// --- structure ---------------------------------------------------------------------------------

TEST_F(WorkflowNet, PlacesAsTheTableSays) {
    ASSERT_EQ(net.getPlaces().size(), kPlaces.size());
    for (const PlaceRow& row : kPlaces) {
        SCOPED_TRACE(row.name);
        Place* p = net.getPlace(row.id);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->getName(), row.name);
        EXPECT_EQ(p->getType(), "Place");
        EXPECT_EQ(p->getCapacity(), 0u);
        EXPECT_FALSE(p->hasLimitedView());
        EXPECT_FALSE(p->getWatch());
        std::vector<std::string> measures;
        for (MeasureObj* m : p->getMeasures()) measures.push_back(m->getName());
        EXPECT_EQ(measures, row.measures);
    }
}

TEST_F(WorkflowNet, TransitionsAndArcsAsTheTableSays) {
    ASSERT_EQ(net.getTransitions().size(), kTransitions.size());
    std::size_t arcs = 0;
    for (const TransitionRow& row : kTransitions) {
        SCOPED_TRACE(row.name);
        Transition* t = net.getTransition(row.id);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->getName(), row.name);
        EXPECT_NE(std::string(typeid(*t).name()).find(row.cls), std::string::npos) << typeid(*t).name();
        EXPECT_EQ(t->getFiringWeight(), row.weight);
        EXPECT_EQ(t->getPriority(), row.priority);
        EXPECT_EQ(t->isImmediate(), row.immediate);
        EXPECT_EQ(t->isWatched(), row.watch);
        EXPECT_FALSE(t->isDisplaying());
        EXPECT_FALSE(t->isLogging());
        EXPECT_FALSE(t->isInfiniteServer());
        EXPECT_FALSE(t->hasLocalGuard());
        EXPECT_FALSE(t->hasTimeguard());
        EXPECT_EQ(t->getPagePath(), "");

        EXPECT_EQ(names(t->getInPlaces()), row.inputs);
        EXPECT_EQ(names(t->getOutPlaces()), row.outputs);
        for (Place* p : t->getInPlaces()) EXPECT_EQ(p->getOutTransitionMultiplicity(t->getID()), 1);
        for (Place* p : t->getOutPlaces()) EXPECT_EQ(p->getInTransitionMultiplicity(t->getID()), 1);
        arcs += t->getInPlaces().size() + t->getOutPlaces().size();

        // The place map names every place on the arcs by itself.
        PlaceIdentMap expected;
        for (const std::string& n : row.inputs) expected[n] = n;
        for (const std::string& n : row.outputs) expected[n] = n;
        EXPECT_EQ(t->getPlaceMap(), expected);

        TokenList none;
        if (row.immediate) {
            EXPECT_EQ(t->getFiringDelay(none), 0.0);
        }
    }
    EXPECT_EQ(arcs, 115u);
    // The conflict partners' weights add up to exactly 1.
    EXPECT_EQ(transition("Binary_ClassTruth")->getFiringWeight() + transition("Binary_ClassOther")->getFiringWeight(),
              1.0);
    EXPECT_EQ(transition("Binary_ct_tp")->getFiringWeight() + transition("Binary_ct_fn")->getFiringWeight(), 1.0);
    EXPECT_EQ(transition("Binary__cf_tn")->getFiringWeight() + transition("Binary_cf_fp")->getFiringWeight(), 1.0);
}

TEST_F(WorkflowNet, MeasuresInTheirOrderWithTheirKinds) {
    const std::list<MeasureObj*>& list = net.getMeasureList();
    ASSERT_EQ(list.size(), kMeasures.size());
    auto it = list.begin();
    for (const MeasureRow& row : kMeasures) {
        SCOPED_TRACE(row.name);
        MeasureObj* m = *it++;
        EXPECT_EQ(m->getName(), row.name);
        EXPECT_EQ(m->getType(), "Result");
        EXPECT_EQ(row.global(), m);
        EXPECT_EQ(m->accumulative(), row.accumulative);
        EXPECT_EQ(m->timeaverage(), row.timeaverage);
        EXPECT_EQ(m->getWatch(), row.watch);
        EXPECT_EQ(m->getRefCount(), row.places);
    }
}

TEST_F(WorkflowNet, TimedTransitionsDrawAFreshExponentialDelay) {
    TokenList none;
    Transition* t = transition("S_ready");
    const double first = t->getFiringDelay(none);
    const double second = t->getFiringDelay(none);
    EXPECT_GT(first, 0.0);
    EXPECT_GT(second, 0.0);
    EXPECT_NE(first, second);
}

// --- bindings and firing -----------------------------------------------------------------------

TEST_F(WorkflowNet, WithoutWorkersOnlyTheTransitionsThatNeedNoneAreEnabled) {
    // One token in every Data place and in the semaphore: everything but the
    // worker pool.
    for (const PlaceRow& row : kPlaces) {
        if (row.id == 1) continue;
        if (row.id == 4) place("C1_sem")->addToken(Ptr<Token>(new Token_int(0)));
        else addData(row.name);
    }
    for (const TransitionRow& row : kTransitions) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(binding(row.name).empty(), row.id <= 12);
    }
}

TEST_F(WorkflowNet, TheBindingIsTheFirstTokenOfEachInputInArcOrder) {
    EXPECT_TRUE(binding("C1_ready").empty());
    Ptr<Token> sem(new Token_int(0));
    place("C1_sem")->addToken(sem);
    place("C1_sem")->addToken(Ptr<Token>(new Token_int(1)));
    EXPECT_TRUE(binding("C1_ready").empty()) << "C1_in_1 is still empty";
    Ptr<Token_Data> work = addData("C1_in_1");
    addData("C1_in_1");

    TokenList tokens = binding("C1_ready");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0], sem);
    EXPECT_EQ(tokens[1], work);

    Ptr<Token_Data> x = addData("P_in_1");
    EXPECT_TRUE(binding("P_ready").empty());
    Ptr<Token_Data> y = addData("P_in_2");
    tokens = binding("P_ready");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0], x);
    EXPECT_EQ(tokens[1], y);
}

TEST_F(WorkflowNet, OutputArcsMoveTheBoundTokenCopyItOrMakeNewOnes) {
    // The bound token itself travels, with its attributes set on the way.
    Ptr<Token_Data> truth = addData("Binary_data_gen");
    const long id = truth->getID();
    move("Binary_ClassTruth");
    EXPECT_EQ(place("Binary_data_gen")->getMarkingSize(), 0u);
    ASSERT_EQ(place("Binary_ct")->getMarkingSize(), 1u);
    EXPECT_EQ(place("Binary_ct")->getFullMarking().front(), truth);
    EXPECT_EQ(truth->getID(), id);
    EXPECT_EQ(truth->get_tL(), 1);

    Ptr<Token_Data> other = addData("Binary_data_gen");
    move("Binary_ClassOther");
    EXPECT_EQ(place("Binary_cf")->getFullMarking().front(), other);
    EXPECT_EQ(other->get_tL(), 2);

    Ptr<Token_Data> ood = addData("Binary_in_data");
    move("Binary_OOD");
    EXPECT_EQ(place("Binary_cf")->getMarkingSize(), 2u);
    EXPECT_TRUE(ood->get_ood());
    EXPECT_EQ(ood->get_tL(), 0);

    // Binary_execution passes the token on and puts a copy of it aside.
    Ptr<Token_Data> item = addData("Binary_in_1");
    item->set_s(5);
    item->addTransition(transition("Binary_execution"));
    move("Binary_execution");
    EXPECT_EQ(place("Binary_executed")->getFullMarking().front(), item);
    ASSERT_EQ(place("Binary_in_data")->getMarkingSize(), 1u);
    Ptr<Token_Data> copy = Dynamic_Cast<Token_Data>(place("Binary_in_data")->getFullMarking().front());
    ASSERT_NE(copy, 0);
    EXPECT_NE(copy.GetRawPtr(), item.GetRawPtr());
    EXPECT_EQ(copy->getID(), item->getID());
    EXPECT_EQ(copy->content(), item->content());
    EXPECT_TRUE(copy->getTransitions().empty());

    // A_in_1_merge makes a new token; P_ready passes x on and drops y.
    Ptr<Token_Data> left = addData("A_in_1_1");
    addData("A_in_2_1");
    move("A_in_1_merge");
    ASSERT_EQ(place("A_in_1")->getMarkingSize(), 1u);
    EXPECT_NE(place("A_in_1")->getFullMarking().front(), left);
    EXPECT_EQ(place("A_in_1_1")->getMarkingSize() + place("A_in_2_1")->getMarkingSize(), 0u);
    Ptr<Token_Data> x = addData("P_in_1");
    addData("P_in_2");
    move("P_ready");
    EXPECT_EQ(place("P_main")->getFullMarking().front(), x);
    EXPECT_EQ(place("P_in_2")->getMarkingSize(), 0u);

    // C1_execution gives back the semaphore token as a new int 0.
    addData("C1_main");
    place("P_thread_pool")->addToken(Ptr<Token>(new Token_int(9)));
    move("C1_execution");
    EXPECT_EQ(place("P_thread_pool")->getMarkingSize(), 0u);
    EXPECT_EQ(place("C1_executed")->getMarkingSize(), 1u);
    EXPECT_EQ(place("C1_sem")->content(), "0");
    move("C1_post_execution");
    EXPECT_EQ(place("P_thread_pool")->content(), "0");
    EXPECT_EQ(place("C1_out1")->getMarkingSize() + place("C1_out2")->getMarkingSize(), 2u);
}

// --- measures ----------------------------------------------------------------------------------

TEST_F(WorkflowNet, InstantaneousMeasuresReadTheCurrentMarking) {
    const std::vector<MeasureObj*> instantaneous = {measure_Binary__accuracy, measure_Binary__specificity,
                                                    measure_Binary__recall, measure_Binary__precision,
                                                    measure_Binary__f1Score};
    for (MeasureObj* m : instantaneous) EXPECT_EQ(m->measure(0.0), 0.0) << m->getName();

    addData("Binary_tp");
    EXPECT_EQ(measure_Binary__recall->measure(0.0), 1.0 / (1.0 + 1e-08));

    addData("Binary_tn", 2);
    addData("Binary_fp", 3);
    addData("Binary_fn", 4);
    const double tp = 1, tn = 2, fp = 3, fn = 4;
    EXPECT_EQ(measure_Binary__accuracy->measure(0.0), (tp + tn) / (tp + 1e-08 + tn + fp + fn));
    EXPECT_EQ(measure_Binary__specificity->measure(0.0), tn / (tn + 1e-08 + fp));
    EXPECT_EQ(measure_Binary__recall->measure(0.0), tp / (tp + 1e-08 + fn));
    EXPECT_EQ(measure_Binary__precision->measure(0.0), tp / (tp + 1e-08 + fp));
    EXPECT_EQ(measure_Binary__f1Score->measure(0.0), tp / (tp + 1e-08 + (fn + fp) / 2.0));

    // accum does not change them.
    Binding at(DateTime(1000.0));
    measure_Binary__recall->accum(&at, 1.0);
    EXPECT_EQ(measure_Binary__recall->measure(0.0), tp / (tp + 1e-08 + fn));
}

TEST_F(WorkflowNet, AccumulatedAndTimeAveragedRewards) {
    MeasureObj* ready = measure_AReady;
    addData("A_executed", 2);
    Binding first(DateTime(10.0));
    ready->accum(&first, 1.0);
    EXPECT_EQ(ready->measure(0.0), 20.0);  // 2 tokens for 10 s
    addData("A_executed");
    Binding second(DateTime(14.0));
    ready->accum(&second, 0.5);
    EXPECT_EQ(ready->measure(0.0), 20.0 + 0.5 * 4.0 * 3.0);

    MeasureObj* inUse = measure_C1__in__use;
    EXPECT_EQ(inUse->measure(-1), 0.0) << "no time has passed yet";
    for (int i = 0; i < 7; ++i) place("C1_sem")->addToken(Ptr<Token>(new Token_int(0)));
    Binding later(DateTime(4.0));
    inUse->accum(&later, 1.0);
    EXPECT_EQ(inUse->measure(-1), -2.0) << "more than 5 free slots read as negative use";
    EXPECT_EQ(inUse->measure(2.0), -4.0);
    EXPECT_EQ(inUse->measure(0.0), 0.0);
}

TEST_F(WorkflowNet, MeasurePassesFitTheRunsSelectionsAndAccumulateAsAccumDoes) {
    // The selections a run makes: every accumulating measure (transient,
    // profiling) and the time averages alone (stationary, RESTART).
    std::vector<MeasureObj*> all = {measure_C1__in__use, measure_AReady, measure_Act1Ready, measure_Act2Ready,
                                    measure_A3Ready};
    const int allPass = net.measurePassFor(all);
    const int averagesPass = net.measurePassFor({measure_C1__in__use});
    EXPECT_GE(allPass, 0);
    EXPECT_GE(averagesPass, 0);
    EXPECT_NE(allPass, averagesPass);
    // Any other selection (a measure done with, another order, an
    // instantaneous measure) has no pass.
    EXPECT_EQ(net.measurePassFor({measure_AReady, measure_C1__in__use}), -1);
    EXPECT_EQ(net.measurePassFor({measure_C1__in__use, measure_AReady}), -1);
    EXPECT_EQ(net.measurePassFor({measure_Binary__recall}), -1);
    EXPECT_EQ(net.measurePassFor({}), -1);

    // The pass gives each measure exactly what accum gives it.
    ImplementedNetClass other;
    other.buildNet();
    std::vector<MeasureObj*> twins = {measure_C1__in__use, measure_AReady, measure_Act1Ready, measure_Act2Ready,
                                      measure_A3Ready};
    std::vector<std::pair<double, int>> steps = {{0.7, 2}, {1.9, 0}, {2.35, 5}, {7.125, 1}};
    for (const auto& step : steps) {
        for (int i = 0; i < step.second; ++i) {
            addData("A_executed");
            addData("Act1_executed");
            other.getPlace("A_executed")->addToken(Ptr<Token>(new Token_Data()));
            other.getPlace("Act1_executed")->addToken(Ptr<Token>(new Token_Data()));
        }
        Binding at{DateTime(step.first)};
        for (MeasureObj* m : all) m->accum(&at, 0.3);
        other.runMeasurePass(allPass, twins.data(), step.first, 0.3);
    }
    for (std::size_t k = 0; k < all.size(); ++k) {
        EXPECT_NE(all[k], twins[k]);
        EXPECT_EQ(all[k]->rewardIntegral(), twins[k]->rewardIntegral()) << all[k]->getName();
        EXPECT_EQ(all[k]->observedTime(), twins[k]->observedTime()) << all[k]->getName();
    }
    EXPECT_GT(twins[1]->rewardIntegral(), 0.0);
}

TEST_F(WorkflowNet, MeasuresReadThePlacesOfTheNewestBuild) {
    MeasureObj* recall = measure_Binary__recall;
    addData("Binary_tp");
    EXPECT_GT(recall->measure(0.0), 0.0);
    // A rebuild replaces the places; the measure of the first build reads the new ones.
    net.clearMaps();
    net.buildNet();
    EXPECT_EQ(recall->measure(0.0), 0.0);
    addData("Binary_tp");
    addData("Binary_fn");
    EXPECT_EQ(recall->measure(0.0), 1.0 / (1.0 + 1e-08 + 1.0));
}

// --- the initial marking and the token operations --------------------------------------------------

TEST_F(WorkflowNetWithMarking, IntPlacesGetTheirTokensFromTheFile) {
    EXPECT_EQ(place("C1_sem")->content(), "3,4");
    EXPECT_EQ(place("P_thread_pool")->content(), "1");
    EXPECT_EQ(place("Binary_tp")->getMarkingSize(), 0u) << "a Data place reads nothing from the file";
}

TEST_F(WorkflowNetWithMarking, CopyAndUpcastFollowTheColourType) {
    Ptr<Token> number = place("C1_sem")->getFullMarking().front();
    number->addTransition(transition("C1_ready"));
    Ptr<Token> copy = net.copyToken(number);
    ASSERT_NE(copy, 0);
    EXPECT_NE(copy.GetRawPtr(), number.GetRawPtr());
    EXPECT_EQ(copy->getID(), number->getID());
    EXPECT_EQ(copy->content(), "3");
    EXPECT_EQ(copy->getTransitions(), number->getTransitions());
    EXPECT_EQ(net.upcastToken(number).GetRawPtr(), number.GetRawPtr());
    EXPECT_NE(Dynamic_Cast<Token_int>(net.upcastToken(number)), 0);

    Ptr<Token_Data> data = addData("Binary_ct");
    data->set_n("kept");
    copy = net.copyToken(data);
    ASSERT_NE(Dynamic_Cast<Token_Data>(copy), 0);
    EXPECT_NE(copy.GetRawPtr(), data.GetRawPtr());
    EXPECT_EQ(copy->content(), data->content());
    EXPECT_EQ(net.upcastToken(data).GetRawPtr(), data.GetRawPtr());

    struct Foreign : Token {
        std::string getName() const override { return "Other"; }
    };
    Ptr<Token> foreign(new Foreign());
    EXPECT_EQ(net.copyToken(foreign), 0);
    EXPECT_EQ(net.upcastToken(foreign), 0);
    EXPECT_EQ(net.copyToken(Ptr<Token>()), 0);
}

TEST_F(WorkflowNet, WithoutTheDatabaseTheColouredPlacesStayEmpty) {
    // A configuration without the data source "scpn", neither for the user
    // nor for the system: the connection fails at once.
    dir.write("odbc.ini", "");
    const char* const variables[] = {"ODBCINI", "ODBCSYSINI"};
    std::vector<std::pair<bool, std::string>> saved;
    for (const char* v : variables) {
        const char* value = std::getenv(v);
        saved.emplace_back(value != nullptr, value != nullptr ? value : "");
    }
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    testing::internal::CaptureStdout();
    net.createTokens();
    const std::string out = testing::internal::GetCapturedStdout();
    for (std::size_t i = 0; i < saved.size(); ++i) {
        if (saved[i].first) setenv(variables[i], saved[i].second.c_str(), 1);
        else unsetenv(variables[i]);
    }

    EXPECT_EQ(out.rfind("... try to connect to the database : scpn ...\n", 0), 0u) << out;
    EXPECT_EQ(out.find("connected !"), std::string::npos) << out;
    EXPECT_EQ(out.find("tokens added"), std::string::npos) << out;
    for (const auto& entry : net.getPlaces()) EXPECT_EQ(entry.second->getMarkingSize(), 0u) << entry.first;
}
