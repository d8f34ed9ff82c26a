#include "engine/TokenGame.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "base/PrintableText.h"
#include "engine/StopSignalWaker.h"
#include "frame/MainClass.h"
#include "net/NetClass.h"
#include "net/Place.h"
#include "net/Transition.h"
#include "sockio.h"
#include "stats/MeasureObj.h"

namespace {

bool startsWith(const std::string& text, const char* keyword) { return text.rfind(keyword, 0) == 0; }

// A command's argument: everything after the keyword and one separator
// character (usually a blank); empty when the text ends before.
std::string argument(const std::string& command, const char* keyword) {
    const std::size_t at = std::char_traits<char>::length(keyword) + 1;
    return command.size() > at ? command.substr(at) : std::string();
}

std::string join(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) text += separator;
        text += parts[i];
    }
    return text;
}

// Seconds as whole milliseconds, truncated toward zero; a distance beyond
// the range of an int is cut to the range, and one that is not a number is 0
// (the conversion would otherwise be undefined).
int wholeMilliseconds(double seconds) {
    const double ms = seconds * 1000.0;
    if (std::isnan(ms)) return 0;
    if (ms >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (ms <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(ms);
}

}  // namespace

TokenGame::TokenGame(NetClass* theNet, const std::string& name, const std::string& address, const DateTime& start)
    : Simulation(theNet, name, address, start, start + 10000.0, 3, 1, false, true, 5.0, 50.0, 0) {
    // The game waits for its front end as long as it likes; only a stop
    // signal ends it early.
    noRunTimeLimit = true;
}

TokenGame::~TokenGame() {}

void TokenGame::shutdown() { std::cout << "\nTOKENGAME COMPLETE.\n" << std::endl; }

void TokenGame::run() {
    static const std::string address = "localhost:2020";
    init();
    if (hasMeasureSocket()) {
        std::cout << "writing StartTime to measure socket.." << std::endl;
        sendMessage("STARTTIME;" + std::to_string(static_cast<long>(currentSimulationTime)) + "\n");
    }
    // A stop signal must end the game also while it waits in accept or read.
    StopSignalWaker waker;
    listener.reset(socket_t::create_global(address.c_str(), 5));
    if (!usable(listener.get(), address, "Can't create socket!", "Socket is not okay! ")) return;
    waker.watchListener(listener.get());
    std::cout << "waiting for socket connection from GUI.." << std::endl;
    connection.reset(listener->accept());
    if (mustStopNow()) {
        std::cout << stoppedBySignalLine() << std::endl;
        return;
    }
    if (!usable(connection.get(), address, "Can't accept socket!", "Socket accept is not okay! ")) return;
    connection->set_write_timeout(kReplyWriteTimeout);
    waker.watchConnection(connection.get());
    serve(connection.get());
    if (mustStopNow()) std::cout << stoppedBySignalLine() << std::endl;
}

// Prints why a socket cannot be used: `missing` when there is none,
// `notOkay` and the socket's error text when it failed.
bool TokenGame::usable(socket_t* s, const std::string& address, const char* missing, const char* notOkay) {
    if (s == nullptr) {
        std::cout << "Failed to connect to server " << address << ". " << missing << std::endl;
    } else if (!s->is_ok()) {
        char text[256];
        s->get_error_text(text, sizeof text);
        std::cout << "Connection to server " << address << "failed. " << notOkay << text << std::endl;
    } else {
        return true;
    }
    noConnection = true;
    return false;
}

void TokenGame::serve(socket_t* s) {
    for (;;) {
        if (mustStopNow()) return;
        std::string command;
        if (readCommand(s, command) != Received::Command) return;
        if (!handle(s, command)) return;
    }
}

// One read of at most kMaxMessage bytes, taken by its length: a NUL byte
// inside is part of the text.
TokenGame::Received TokenGame::readCommand(socket_t* s, std::string& command) {
    std::cout << "reading from GUI socket.." << std::endl;
    char buffer[kMaxMessage];
    const int n = s->read(buffer, 0, sizeof buffer, -1);
    if (n <= 0) return Received::Failed;
    const std::string text(buffer, static_cast<std::size_t>(n));
    const std::size_t hash = text.rfind('#');
    if (hash == std::string::npos) return Received::NoHash;
    command = text.substr(0, hash);
    std::cout << "received: <" << printableText(command) << ">" << std::endl;
    return Received::Command;
}

// The keywords are tested in this order and the first one the command
// starts with decides, so "FIRELIST" is found before "FIRE", "AUTOFIRE"
// before "AUTOTRANS" and "SETBREAKS" before "BREAKS". Anything else is
// ignored without a reply.
bool TokenGame::handle(socket_t* s, const std::string& c) {
    if (startsWith(c, "SINGLESTEP")) return singleStep(s);
    if (startsWith(c, "PLACE")) {
        writePlaceContent(s, argument(c, "PLACE"));
    } else if (startsWith(c, "FIRELIST")) {
        writeFireList(s, false);
    } else if (startsWith(c, "AUTOFIRE")) {
        autoFire(s);
    } else if (startsWith(c, "AUTOTRANS")) {
        autoTrans(s);
    } else if (startsWith(c, "FIRE")) {
        fire(argument(c, "FIRE"));
        std::cout << " TOKEN fired..." << std::endl;
        const std::string reply = changeMessage();
        send(s, reply);
        std::cout << "answer <FIRE:...> -> " << reply << std::flush;
    } else if (startsWith(c, "NET")) {
        send(s, net->writeMaps() + "\n");
    } else if (startsWith(c, "TIME")) {
        send(s, currentSimulationTime.toString() + "\n");
    } else if (startsWith(c, "REPLICATION")) {
        send(s, "0");
    } else if (startsWith(c, "SETBREAKS")) {
        applyBreakpoints(argument(c, "SETBREAKS"));
        writeBreakpoints(s);
    } else if (startsWith(c, "BREAKS")) {
        writeBreakpoints(s);
    } else if (startsWith(c, "EXIT")) {
        return false;
    }
    return true;
}

// Fires one event after the other, any transition's next event whatever its
// time, each confirmed by the front end, until none is left or the front end
// says EXIT. The clock may move backwards here.
bool TokenGame::singleStep(socket_t* s) {
    for (;;) {
        Binding* b = chooseNext(true);
        if (b == nullptr) break;
        fireChosen(b);
        send(s, "Fired: " + getLastFiredTransition() + "#\n");
        std::string reply;
        const Received r = readCommand(s, reply);
        if (r == Received::Failed) return false;
        if (r == Received::NoHash) continue;
        if (startsWith(reply, "PLACE")) {
            writePlaceContent(s, argument(reply, "PLACE"));
        } else if (startsWith(reply, "FIRELIST")) {
            writeFireList(s, true);
        } else if (startsWith(reply, "EXIT")) {
            break;
        }
    }
    send(s, "Thanx!\n");
    return true;
}

void TokenGame::autoFire(socket_t* s) {
    Binding* b = chooseNext(false);
    if (b == nullptr) return;
    fireChosen(b);
    std::cout << " TOKEN fired..." << std::endl;
    writeChangedPlacesAndTransitions(s);
}

void TokenGame::autoTrans(socket_t* s) {
    Binding* b = chooseNext(false);
    const std::string reply = bindingMessage(b);
    send(s, reply);
    std::cout << "answer <AUTOTRANS#> -> " << reply << std::flush;
}

Binding* TokenGame::chooseNext(bool all) {
    EventList events;
    getFirstBindingsOfAllTransitions(&events, all);
    return resolve_conflicts(events);
}

void TokenGame::fireChosen(Binding* b) {
    updateSimulationTime(b->getTime());
    updateAllMeasures(b, true, false);
    executeEvent(b);
}

void TokenGame::fire(const std::string& name) {
    Logging* log = MainClass::getLog();
    if (log->isSimLogging()) log->getSimLog() << " *********** FIRE( " << name << " ) ****************" << "\n";
    Transition* t = net->getTransition(name);
    if (t == nullptr) {
        // Nothing fires, and the change message names no places.
        forgetLastFired();
        return;
    }
    Binding* b = t->getNextEvent();
    if (b == nullptr) {
        if (log->isSimLogging()) {
            log->getSimLog() << "ATTENTION: binding of Transition " << name
                             << "couldn't be fired because the eventlist is empty!" << "\n";
        }
        return;
    }
    updateSimulationTime(b->getTime());
    executeEvent(b);
    recordFired(t);
    if (log->isSimLogging()) log->getSimLog() << " eventlist after FIRE at " << currentSimulationTime << " : " << "\n";
    repairPast();
}

// The clock may have jumped past events of other transitions: each of them
// gets a new time drawn from the new clock. Transitions in name order, each
// list in event order, so that the delay samples are drawn in a fixed order.
void TokenGame::repairPast() {
    Logging* log = MainClass::getLog();
    for (const auto& entry : net->getTransitions()) {
        Transition* t = entry.second;
        std::vector<Binding*> past;
        for (Binding* b : t->getEvents()) {
            if (!(b->getTime() < currentSimulationTime)) break;
            past.push_back(b);
        }
        for (Binding* b : past) {
            t->retimeEvent(b, currentSimulationTime);
            if (log->isSimLogging()) log->getSimLog() << *b << "\n";
        }
    }
}

std::vector<std::string> TokenGame::couldFire() {
    EventList events;
    getFirstBindingsOfAllTransitions(&events, true);
    int highest = 0;
    for (Binding* b : events) highest = std::max(highest, b->getPriority());
    std::vector<std::string> names;
    for (Binding* b : events)
        if (b->getPriority() == highest) names.push_back(b->getBoundTransition()->getName());
    return names;
}

std::string TokenGame::placeContent(const std::string& name) {
    Place* p = net->getPlace(name);
    return (p != nullptr ? p->content() : std::string()) + "\n";
}

std::string TokenGame::fireList(bool perLine) {
    const std::vector<std::string> names = couldFire();
    if (!perLine) return join(names, ";") + "\n";
    std::string text;
    for (const std::string& n : names) text += n + "\n";
    return text + "\n";
}

// Built from the transition chosen or fired last: its input and output
// places, what could fire now and the breakpoints that hold now. Before any
// transition was recorded (or after FIRE of a name not in the net) the
// places section is empty.
std::string TokenGame::changeMessage() {
    std::vector<std::string> places;
    const auto& transitions = net->getTransitions();
    const auto it = transitions.find(getLastFiredTransition());
    if (it != transitions.end()) {
        for (Place* p : it->second->getInPlaces()) places.push_back(p->getName());
        for (Place* p : it->second->getOutPlaces()) places.push_back(p->getName());
    }
    std::string text = "PLACES:" + join(places, ";");
    std::cout << "PLACES added." << std::endl;
    text += "#TRANSITIONS:" + join(couldFire(), ";");
    text += "#BREAKPOINTS:" + triggeredBreakpoints();
    return text + "#\n";
}

std::string TokenGame::bindingMessage(const Binding* b) const {
    if (b == nullptr) return "\n";
    return "TRANSITION:" + b->getBoundTransition()->getName() + "#DELAY:" +
           std::to_string(wholeMilliseconds(b->getTime() - currentSimulationTime)) + "#\n";
}

std::string TokenGame::breakpointMessage() const { return triggeredBreakpoints() + "\n"; }

std::string TokenGame::triggeredBreakpoints() const {
    std::vector<std::string> positions;
    for (std::size_t i = 0; i < breakpoints.size(); ++i)
        if (breakpoints[i].isTriggered()) positions.push_back(std::to_string(i));
    return join(positions, ";");
}

void TokenGame::writePlaceContent(socket_t* s, const std::string& name) { send(s, placeContent(name)); }

void TokenGame::writeFireList(socket_t* s, bool perLine) { send(s, fireList(perLine)); }

void TokenGame::writeChangedPlacesAndTransitions(socket_t* s) { send(s, changeMessage()); }

void TokenGame::writeBinding(socket_t* s, Binding* b) { send(s, bindingMessage(b)); }

void TokenGame::writeBreakpoints(socket_t* s) { send(s, breakpointMessage()); }

// One write per reply. A failed write is not examined here: a connection
// that broke or timed out is shut down, and the next read ends the game.
void TokenGame::send(socket_t* s, const std::string& text) { s->write(text.data(), text.size()); }

// An entry with fewer than three fields, or naming no measure of the net,
// keeps its position as a breakpoint that never holds.
void TokenGame::applyBreakpoints(const std::string& list) {
    breakpoints.clear();
    std::vector<std::string> entries;
    split(list, entries, ";");
    for (const std::string& entry : entries) {
        std::vector<std::string> fields;
        split(entry, fields, ":");
        if (fields.size() >= 3) {
            breakpoints.emplace_back(findMeasure(fields[0]), Breakpoint::stringToRelation(fields[1]),
                                     std::atof(fields[2].c_str()));
        } else {
            breakpoints.emplace_back();
        }
    }
}

void TokenGame::split(const std::string& text, std::vector<std::string>& pieces, const std::string& delimiter) {
    pieces.clear();
    if (text.empty()) return;
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = delimiter.empty() ? std::string::npos : text.find(delimiter, start);
        if (pos == std::string::npos) {
            pieces.push_back(text.substr(start));
            return;
        }
        pieces.push_back(text.substr(start, pos - start));
        start = pos + delimiter.size();
    }
}

MeasureObj* TokenGame::findMeasure(const std::string& name) {
    for (MeasureObj* m : net->getMeasureList())
        if (m->getName() == name) return m;
    return nullptr;
}
