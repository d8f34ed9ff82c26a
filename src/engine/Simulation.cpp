#include "engine/Simulation.h"

#include <algorithm>
#include <climits>
#include <iostream>
#include <limits>
#include <sstream>

#include "base/KernelAssert.h"
#include "frame/MainClass.h"
#include "net/NetClass.h"
#include "net/Place.h"
#include "net/Transition.h"
#include "sockio.h"
#include "stats/MeasureObj.h"

namespace {
// Seconds a message to the result port may take to be written.
const std::time_t kResultWriteTimeout = 10;
}  // namespace

Simulation* Simulation::sim = nullptr;

Simulation::Simulation(NetClass* theNet, const std::string& name, const std::string& address, const DateTime& start,
                       const DateTime& stop, int points, int runMode, bool modelTimeStart, bool percent,
                       double eps, double interval, unsigned maxSeconds)
    : nofSampling(points),
      startIsModelTime(modelTimeStart),
      percentRule(percent),
      secmax(maxSeconds),
      mode(runMode),
      epsMax(eps),
      samplingInterval(interval),
      net(theNet),
      netname(name),
      displayaddress(address),
      currentSimulationTime(start),
      sampleTime(start),
      startTime(start),
      stopTime(stop) {
    KERNEL_ASSERT(sim == NULL, "src/Simulation", 34);
    sim = this;
}

Simulation::~Simulation() {
    detachFirstEvents();
    if (measureSocket != nullptr) {
        sendMessage("EXIT;0\n");
        measureSocket->close();
        delete measureSocket;
        measureSocket = nullptr;
    }
    sim = nullptr;
}

void Simulation::initMeasureSocket() {
    if (displayaddress == "NULL") return;
    std::cout << "Try to connect to: " << displayaddress << std::endl;
    // A TCP address is tried up to 100 times while the front end refuses
    // the connection, 1 second apart; a local one waits up to 100 seconds.
    measureSocket = socket_t::connect(displayaddress.c_str(), sock_any_domain, 100, 1);
    if (measureSocket == nullptr) {
        std::cout << "Sim::init Failed to connect to server " << displayaddress << std::endl;
        return;
    }
    if (!measureSocket->is_ok()) {
        char text[256];
        measureSocket->get_error_text(text, sizeof text);
        std::cout << "Sim::init Connection to server " << displayaddress << " failed: " << text << std::endl;
    } else {
        std::cout << "connection established.." << std::endl;
    }
    // A front end that stops reading must not hold the run for ever: a
    // message that cannot be written within this time fails like any failed
    // write, the connection is given up and the run goes on.
    measureSocket->set_write_timeout(kResultWriteTimeout);
}

void Simulation::init() {
    initMeasureSocket();
    if (measureSocket != nullptr) {
        std::ostringstream head;
        head.precision(16);
        head << "NETNAME;" << netname << "\n" << "XTICKFORMAT;" << (startIsModelTime ? 0 : 3) << "\n";
        sendMessage(head.str());
        if (mode == 0) {
            std::ostringstream s, e;
            s.precision(16);
            e.precision(16);
            s << "STARTTIME;" << startTime.FullDateTime() << "\n";
            sendMessage(s.str());
            e << "ENDTIME;" << stopTime.FullDateTime() << "\n";
            sendMessage(e.str());
        }
        std::ostringstream t;
        t.precision(16);
        t << "TIME;" << currentSimulationTime.FullDateTime() << "\n";
        sendMessage(t.str());
    }
    net->setSimulation(this);
    initTransitions();
    initialised = true;
}

void Simulation::initTransitions() {
    Logging* log = MainClass::getLog();
    if (log->isSimLogging()) log->getSimLog() << "************** starting init()... *****************" << "\n";
    for (Transition* t : transitionsInOrder()) t->startup();
}

// Every event asks (inline: the net changes its transitions rarely).
inline const std::vector<Transition*>& Simulation::transitionsInOrder() {
    if (orderedGeneration != net->getTransitionsGeneration()) orderTransitions();
    return orderedTransitions;
}

void Simulation::orderTransitions() {
    detachFirstEvents();
    orderedTransitions.clear();
    for (const auto& entry : net->getTransitions()) orderedTransitions.push_back(entry.second);
    firstEvents.reset(orderedTransitions.size());
    for (std::size_t i = 0; i < orderedTransitions.size(); ++i) {
        firstEvents.setOwner(i, orderedTransitions[i]);
        orderedTransitions[i]->setFirstEventTree(&firstEvents, i);
    }
    orderedGeneration = net->getTransitionsGeneration();
}

// Transitions that are gone have cleared their place in the tree.
void Simulation::detachFirstEvents() {
    for (std::size_t i = 0; i < firstEvents.size(); ++i)
        if (Transition* t = firstEvents.owner(i)) t->setFirstEventTree(nullptr, 0);
    firstEvents.reset(0);
}

void Simulation::initMeasureList(bool first) {
    for (MeasureObj* m : net->getMeasureList()) {
        if (first) m->prepareSampling(nofSampling);
        m->setSettled(m->precisionReached());
        if (!m->precisionReached()) m->restartAnalysis(mode == 0);
    }
}

void Simulation::getFirstBindingsOfAllTransitions(EventList* events, bool all) {
    Logging* log = MainClass::getLog();
    for (;;) {
        events->clear();
        blocked.clear();
        transitionsInOrder();
        if (all) {
            for (std::size_t i = 0; i < firstEvents.size(); ++i)
                if (Binding* b = firstEvents.event(i)) events->push_back(b);
        } else {
            firstEvents.collectEarliest(*events, DateTime::MAX.FullDateTime());
        }
        if (events->empty()) return;
        const std::size_t n = events->size();
        for (auto it = events->begin(); it != events->end();) {
            Binding* b = *it;
            if (!b->isTempBinding()) {
                ++it;
                continue;
            }
            if (log->isSimLogging()) {
                std::fstream& out = log->getSimLog();
                out << "***********************" << "\n"
                    << "TempBinding found at " << currentSimulationTime << "\n"
                    << *b << "\n";
            }
            if (!b->getBoundTransition()->convertTimeguardBinding(b)) {
                blocked.push_back(b);
                it = events->erase(it);
            } else {
                ++it;
            }
        }
        if (blocked.size() != n || n == 0) return;
        // Every earliest event waits for a time guard that is still closed:
        // try each of them again one second later. (Each at its own time: when
        // all events are collected, they need not share one.)
        std::size_t moved = 0;
        for (auto it = blocked.rbegin(); it != blocked.rend(); ++it) {
            Transition* owner = (*it)->getBoundTransition();
            const DateTime later = (*it)->getTime() + 1;
            owner->removeBinding(*it, false);
            owner->addTimeguardBinding(later);
            ++moved;
        }
        // Whether a placeholder can convert depends on the marking alone, and
        // only a firing changes the marking. When no transition but those just
        // moved has an event, nothing can ever fire: the marking is dead, and
        // trying again would never end.
        std::size_t withEvents = 0;
        for (Transition* transition : transitionsInOrder())
            if (transition->getNextEvent() != nullptr) ++withEvents;
        if (withEvents == moved) {
            events->clear();
            blocked.clear();
            return;
        }
    }
}

Binding* Simulation::nextEvent(EventList& events) {
    if (!MainClass::getLog()->isSimLogging()) {
        transitionsInOrder();
        Binding* b = firstEvents.earliestAlone(DateTime::MAX.FullDateTime());
        if (b != nullptr && !b->isTempBinding()) {
            recordFired(b->getBoundTransition());
            return b;
        }
    }
    getFirstBindingsOfAllTransitions(&events, false);
    return resolve_conflicts(events);
}

Binding* Simulation::resolve_conflicts(EventList& events) {
    Logging* log = MainClass::getLog();
    const bool logging = log->isSimLogging();
    if (logging) {
        log->getSimLog() << " ******* FIRE ****** " << currentSimulationTime << "\n" << printEventList(events) << "\n";
    }
    if (events.empty()) {
        if (logging) log->getSimLog() << "can't fire..." << "\n";
        return nullptr;
    }
    Binding* chosen = events.front();
    if (events.size() > 1) {
        const std::size_t n = events.size();
        if (logging) {
            log->getSimLog() << "\n\n\n     ----    !! select randomly !!    ---- \n\n"
                             << "\t" << n << "\t transitions in conflict:" << "\n";
        }
        if (events.front()->getPriority() > 0) {
            double total = 0.0;
            for (Binding* b : events) total += b->getWeight();
            if (logging) log->getSimLog() << "\t total amount of weights = " << total << "\n";
            const double u = random.randu01() * total;
            if (logging) log->getSimLog() << "\t randomly selected weight = " << u << "\n";
            double c = 0.0;
            chosen = events.back();
            for (Binding* b : events) {
                if (u <= c + b->getWeight()) {
                    chosen = b;
                    break;
                }
                c += b->getWeight();
            }
        } else {
            const int k = random.randint(0, static_cast<long>(n) - 1);
            if (logging) log->getSimLog() << "\t randomly selected event = " << k << "\n";
            auto it = events.begin();
            std::advance(it, k);
            chosen = *it;
        }
        if (logging) log->getSimLog() << "\n\n     ---- !! END of random select !!  ---- \n\n\n";
    }
    recordFired(chosen->getBoundTransition());
    return chosen;
}

void Simulation::recordFired(Transition* t) {
    lastFired = t;
    lastFiredGeneration = net->getTransitionsGeneration();
}

void Simulation::forgetLastFired() {
    lastFired = nullptr;
    lastFiredName.clear();
}

const std::string& Simulation::getLastFiredTransition() const {
    static const std::string gone;
    if (lastFired == nullptr) return lastFiredName;
    // A transition of an earlier generation may be deleted: never read it.
    return lastFiredGeneration == net->getTransitionsGeneration() ? lastFired->getName() : gone;
}

void Simulation::noteTimeNotSent() {
    Logging* log = MainClass::getLog();
    if (log->isSimLogging())
        log->getSimLog() << "measureOut not initialized, couldn't send Time: " << currentSimulationTime << "\n";
}

void Simulation::executeEvent(Binding* b) {
    Logging* log = MainClass::getLog();
    if (log->isEventLogging()) {
        log->getEventLog() << "************** EVENT BEGIN *********************" << "\n"
                           << currentSimulationTime.FullDateTime() << "\n"
                           << *b << "\n\n";
    }
    b->getBoundTransition()->fire(b, restartWeight);
}

std::string Simulation::printEventList(EventList& events) {
    std::ostringstream text;
    text << " ******** ---- EventList ---- ********" << "\n";
    const std::string* runName = nullptr;  // transition name of the current run
    int more = 0;                          // events of the run written after its first
    bool cut = false;
    for (Binding* b : events) {
        const std::string& name = b->getBoundTransition()->getName();
        if (runName == nullptr || *runName != name) {
            runName = &name;
            more = 0;
            cut = false;
            text << *b << "\n";
        } else if (cut) {
            continue;
        } else if (more < MAXCOUNT) {
            ++more;
            text << *b << "\n";
        } else {
            cut = true;
            std::cout << "Binding[..., " << name << ",  ...  ]" << std::endl;
        }
    }
    text << "---- --------- ----" << "\n";
    return text.str();
}

void Simulation::sendMessage(const std::string& text) {
    if (measureSocket == nullptr) {
        Logging* log = MainClass::getLog();
        if (log->isSimLogging()) log->getSimLog() << "NO_SOCK: " << text << "\n";
        return;
    }
    // One write per message; a failed write is not examined: the run goes on.
    measureSocket->write(text.data(), text.size());
}

void Simulation::measureOut(DefaultGM*, MeasureObj* m) {
    if (analysisState == 0) return;
    Logging* log = MainClass::getLog();
    // Without a front end and without a simulation log the message would go
    // nowhere: compose nothing.
    if (measureSocket == nullptr && !log->isSimLogging()) return;
    const double mean = m->getAveragedMean().empty() ? 0.0 : m->getAveragedMean().back();
    const double half = m->getDeltaX().empty() ? 0.0 : m->getDeltaX().back();
    if (!initialised) {
        if (log->isSimLogging()) {
            std::fstream& out = log->getSimLog();
            std::streamsize old = out.precision(16);
            out << "meassureOut not initialized for measure object: " << mean << "\n";
            out.precision(old);
        }
        return;
    }
    std::ostringstream text;
    text.precision(16);
    double t = mode == 2 ? restartTime : (mode == 0 ? sampleTime.FullDateTime() : currentSimulationTime.FullDateTime());
    text << "TIME;" << t << "\n";
    if (m->getWatch() && (mode == 0 || !m->accumulative())) {
        text << m->getName() << "<" << m->getType() << ":Mean>,<-ConfMin>,<+ConfMax>;" << mean << "," << mean - half
             << "," << mean + half << "\n";
    }
    sendMessage(text.str());
}

void Simulation::measureOut(DefaultGM* element, double value) {
    elementMessage(element, value, ">;", "meassureOut not initialized: ");
}

void Simulation::displayOut(DefaultGM* element, double value) {
    elementMessage(element, value, ":Display>;", "displayOut not initialized: ");
}

// "TIME;" and the clock, then the element's name, "<", its type, `tail` and
// the value; before initialisation only `notReady` and the value go to the
// simulation log.
void Simulation::elementMessage(DefaultGM* element, double value, const char* tail, const char* notReady) {
    Logging* log = MainClass::getLog();
    if (measureSocket == nullptr && !log->isSimLogging()) return;
    if (!initialised) {
        if (log->isSimLogging()) {
            std::fstream& out = log->getSimLog();
            std::streamsize old = out.precision(16);
            out << notReady << value << "\n";
            out.precision(old);
        }
        return;
    }
    std::ostringstream text;
    text.precision(16);
    text << "TIME;" << currentSimulationTime.FullDateTime() << "\n"
         << element->getName() << "<" << element->getType() << tail << value << "\n";
    sendMessage(text.str());
}
