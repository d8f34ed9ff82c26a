// The workflow net driven through the engine core for thousands of events:
// the worker pool and the C1 semaphore are conserved, every enabled
// transition has its event, and the event lists agree with the tokens.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "ImplementedNetClass.h"
#include "TestNets.h"
#include "TestSupport.h"
#include "engine/Simulation.h"
#include "net/Binding.h"
#include "net/Place.h"
#include "net/Transition.h"
#include "random/RandomWrapper.h"

using testsupport::ScratchDir;

namespace {

// The places that hold a worker while an activity runs: the ready
// transitions and the executions take one from the pool, the post
// executions give it back.
const char* const kRunning[] = {"S_executed",  "P_In_executed", "S1_executed", "S2_executed",
                                "S3_executed", "C1_executed",   "A_executed",  "P_Out_executed",
                                "P_executed",  "Act1_executed", "Act2_executed", "A3_executed"};

const int kWorkers = 5;
const int kSlots = 5;

std::string markingWith(int workers, int slots) {
    std::string xml = "<?xml version=\"1.0\"?>\n<marking>\n";
    for (int i = 0; i < workers; ++i) xml += "  <token place=\"P_thread_pool\" value=\"0\"/>\n";
    for (int i = 0; i < slots; ++i) xml += "  <token place=\"C1_sem\" value=\"0\"/>\n";
    return xml + "</marking>\n";
}

unsigned tokens(NetClass& net, const char* place) { return net.getPlace(place)->getMarkingSize(); }

// Whether `t` holds a binding with the token `token`.
bool holds(Transition* t, const Token* token) {
    for (Binding* b : t->getEvents()) {
        if (b->getBoundTokens() == nullptr) continue;
        for (const Ptr<Token>& h : *b->getBoundTokens())
            if (h.GetRawPtr() == token) return true;
    }
    return false;
}

void expectConsistent(NetClass& net, long event) {
    SCOPED_TRACE("after event " + std::to_string(event));
    unsigned running = 0;
    for (const char* p : kRunning) running += tokens(net, p);
    ASSERT_EQ(tokens(net, "P_thread_pool") + running, static_cast<unsigned>(kWorkers));
    ASSERT_EQ(tokens(net, "C1_sem") + tokens(net, "C1_main"), static_cast<unsigned>(kSlots));

    for (const auto& entry : net.getTransitions()) {
        Transition* t = entry.second;
        SCOPED_TRACE(t->getName());
        ASSERT_LE(t->getEvents().size(), 1u);
        for (Binding* b : t->getEvents()) {
            ASSERT_NE(b->getBoundTokens(), nullptr);
            const TokenList& bound = *b->getBoundTokens();
            ASSERT_EQ(bound.size(), t->getInPlaces().size());
            auto place = t->getInPlaces().begin();
            for (const Ptr<Token>& h : bound) {
                EXPECT_TRUE((*place++)->getFullMarking().contains(h.GetRawPtr())) << "bound token left its place";
                EXPECT_TRUE(h->containsTransition(t)) << "bound token does not list its transition";
            }
        }
        if (t->getEvents().empty()) {
            // No enabled transition may lack its event.
            TempBindingList* candidates = t->getAvailableBindingList();
            const bool enabled = candidates != nullptr && !candidates->empty();
            if (candidates != nullptr) {
                Transition::clearTempBindingList(candidates);
                delete candidates;
            }
            ASSERT_FALSE(enabled) << "enabled without an event";
        }
    }
    for (const auto& entry : net.getPlaces()) {
        for (const Ptr<Token>& h : entry.second->getFullMarking()) {
            for (Transition* t : h->getTransitions()) {
                ASSERT_EQ(net.getTransition(t->getID()), t) << "a token lists a transition not in the net";
                ASSERT_TRUE(holds(t, h.GetRawPtr())) << h->content() << " lists " << t->getName()
                                                     << " without a binding there";
            }
        }
    }
}

// Builds the net, runs `events` events through the engine core and checks
// the invariants after each.
void simulate(long events) {
    ImplementedNetClass net;
    net.buildNet();
    const DateTime start;
    const DateTime stop = DateTime::MAX;
    auto engine =
        std::make_unique<Simulation>(&net, "workflow", "NULL", start, stop, 1, 1, true, false, 0.01, 100.0, 0u);
    engine->init();
    expectConsistent(net, 0);

    EventList pending;
    DateTime last = start;
    long fired = 0;
    long immediateFirings = 0;
    while (fired < events && !::testing::Test::HasFatalFailure()) {
        engine->getFirstBindingsOfAllTransitions(&pending, false);
        Binding* b = engine->resolve_conflicts(pending);
        ASSERT_NE(b, nullptr) << "dead marking after " << fired << " events";
        ASSERT_GE(b->getTime(), last);
        last = b->getTime();
        if (b->getBoundTransition()->isImmediate()) ++immediateFirings;
        engine->updateSimulationTime(b->getTime());
        engine->executeEvent(b);
        ++fired;
        expectConsistent(net, fired);
    }
    EXPECT_EQ(fired, events);
    EXPECT_GT(immediateFirings, 0);
    // Work reached the end of every branch.
    for (const char* end : {"A_post_execution", "Act1_post_execution", "Act2_post_execution", "A3_post_execution",
                            "P_Out_post_execution"})
        EXPECT_GT(net.getTransition(end)->getFireCount(), 0) << end;
    EXPECT_GT(tokens(net, "Binary_tp") + tokens(net, "Binary_fn") + tokens(net, "Binary_tn") +
                  tokens(net, "Binary_fp"),
              0u);
    engine.reset();
    EXPECT_EQ(Simulation::sim, nullptr);
}

// The events of a fixed-seed run of `events` events, one line each: the
// transition, its time, the binding's ID and its tokens' ids (both counted
// from the run's start, as the counters are never reset).
std::vector<std::string> firedEvents(long events) {
    const unsigned long seed[6] = {12345, 12345, 12345, 12345, 12345, 12345};
    EXPECT_TRUE(RandomWrapper::SetPackageSeed(seed));
    const long firstToken = Token::tokenCounter;
    const long firstBinding = Binding::idCounter;
    ImplementedNetClass net;
    net.buildNet();
    auto engine = std::make_unique<Simulation>(&net, "workflow", "NULL", DateTime(), DateTime::MAX, 1, 1, true,
                                               false, 0.01, 100.0, 0u);
    engine->init();
    std::vector<std::string> fired;
    EventList pending;
    while (static_cast<long>(fired.size()) < events) {
        engine->getFirstBindingsOfAllTransitions(&pending, false);
        Binding* b = engine->resolve_conflicts(pending);
        if (b == nullptr) break;
        std::ostringstream line;
        line.precision(17);
        line << b->getBoundTransition()->getName() << " " << b->getTime().FullDateTime() << " "
             << b->getID() - firstBinding;
        if (b->getBoundTokens() != nullptr)
            for (const Ptr<Token>& h : *b->getBoundTokens()) line << " " << h->getID() - firstToken;
        fired.push_back(line.str());
        engine->updateSimulationTime(b->getTime());
        engine->executeEvent(b);
    }
    return fired;
}

// A scratch folder holding the workflow marking, the working directory for
// the life of the object.
class WorkflowFolder {
public:
    explicit WorkflowFolder(const std::string& name) : dir(name) {
        char* cwd = getcwd(nullptr, 0);
        previous = cwd;
        std::free(cwd);
        entered = chdir(dir.path().c_str()) == 0;
        dir.write("marking.xml", markingWith(kWorkers, kSlots));
    }
    ~WorkflowFolder() {
        if (entered) {
            EXPECT_EQ(chdir(previous.c_str()), 0);
        }
    }
    ScratchDir dir;
    bool entered = false;

private:
    std::string previous;
};

} // namespace

// With the transition log open every search builds its full candidate list
// (so that its trace lines appear); without it a first-only single-server
// transition binds straight into its event. Both must draw the same numbers
// and make the same events.
TEST(WorkflowSimulation, TheDirectSearchMakesTheEventsOfTheFullSearch) {
    WorkflowFolder folder("workflow-direct-search");
    ASSERT_TRUE(folder.entered);
    testing::internal::CaptureStdout();
    const std::vector<std::string> direct = firedEvents(3000);
    std::vector<std::string> full;
    bool tracing = false;
    {
        testnets::OpenLogs logs(folder.dir.path());
        tracing = MainClass::getLog()->isTransLogging();
        full = firedEvents(3000);
    }
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(tracing);
    ASSERT_EQ(direct.size(), 3000u);
    ASSERT_EQ(full.size(), direct.size());
    for (std::size_t i = 0; i < direct.size(); ++i) ASSERT_EQ(full[i], direct[i]) << "event " << i;
}

TEST(WorkflowSimulation, WorkersSlotsAndEventListsStayConsistent) {
    WorkflowFolder folder("workflow-simulation");
    ASSERT_TRUE(folder.entered);
    testing::internal::CaptureStdout();
    simulate(4000);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("Couldn't find"), std::string::npos) << out;
}

// Saved states of the workflow net: after each restore the engine runs on
// with event lists and token lists that agree (the restored tokens carry the
// lists of the snapshot; the transitions' own events are emptied and made
// again).
TEST(WorkflowSimulation, RestoredStatesRunOnConsistently) {
    WorkflowFolder folder("workflow-saved-states");
    ASSERT_TRUE(folder.entered);
    testing::internal::CaptureStdout();
    {
        ImplementedNetClass net;
        net.buildNet();
        auto engine = std::make_unique<Simulation>(&net, "workflow", "NULL", DateTime(), DateTime::MAX, 1, 1, true,
                                                   false, 0.01, 100.0, 0u);
        engine->init();
        long fired = 0;
        auto run = [&](long events) {
            EventList pending;
            for (long i = 0; i < events && !::testing::Test::HasFatalFailure(); ++i) {
                engine->getFirstBindingsOfAllTransitions(&pending, false);
                Binding* b = engine->resolve_conflicts(pending);
                ASSERT_NE(b, nullptr) << "dead marking after " << fired << " events";
                engine->updateSimulationTime(b->getTime());
                engine->executeEvent(b);
                expectConsistent(net, ++fired);
            }
        };
        auto counts = [&net] {
            std::vector<unsigned> sizes;
            for (const auto& entry : net.getPlaces()) sizes.push_back(entry.second->getMarkingSize());
            return sizes;
        };
        run(500);
        engine->save_simulation_state(1);
        const std::vector<unsigned> atSave = counts();
        for (int round = 0; round < 3 && !HasFatalFailure(); ++round) {
            run(300);
            engine->load_last_simulation_state();
            EXPECT_EQ(counts(), atSave) << "round " << round;
            expectConsistent(net, fired);
        }
        run(500);
        EXPECT_EQ(fired, 1900);
    }
    testing::internal::GetCapturedStdout();
}

