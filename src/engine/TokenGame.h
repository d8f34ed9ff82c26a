#pragma once
#include <cstddef>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "engine/Breakpoint.h"
#include "engine/Simulation.h"

class MeasureObj;
class socket_t;

// The interactive token game: instead of running a statistical simulation,
// the engine serves a front end that animates the net. The front end
// connects to TCP port 2020 and sends one command per message (a text ended
// by "#"); the engine fires events on request or chooses them itself, and
// answers with place contents, the transitions that could fire next, the
// clock and the breakpoints that hold. The result port works as in the other
// modes: watched places and transitions report their values after each
// firing.
//
// Time guards are searched directly (isSingleStep), so every event in the
// lists is a real binding the front end can fire.
class TokenGame : public Simulation {
public:
    TokenGame(NetClass* net, const std::string& netname, const std::string& displayaddress, const DateTime& start);
    ~TokenGame() override;

    bool isSingleStep() const override { return true; }
    // Prints the completion line.
    void shutdown() override;

    // The whole game: initialises the engine, announces the start time on the
    // result port, listens on port 2020, accepts one front end and serves it
    // until it ends the game, its connection fails or a stop signal comes.
    void run();
    // Serves the commands of one connected front end (the command loop of
    // run(); on its own for tests over any connection).
    void serve(socket_t* s);

    // Fires the first event of the named transition, moves the clock to its
    // time and re-times the events that the move left in the past.
    void fire(const std::string& name);
    // The transitions that could fire next: those of the highest priority
    // among every transition's next event (all timed ones when no immediate
    // transition has an event), in name order.
    std::vector<std::string> couldFire();

    // Each composes one reply and sends it with one write.
    void writePlaceContent(socket_t* s, const std::string& name);
    void writeFireList(socket_t* s, bool perLine);
    void writeChangedPlacesAndTransitions(socket_t* s);
    void writeBinding(socket_t* s, Binding* b);
    void writeBreakpoints(socket_t* s);

    // The replies' texts.
    std::string placeContent(const std::string& name);
    std::string fireList(bool perLine);
    std::string changeMessage();
    std::string bindingMessage(const Binding* b) const;
    std::string breakpointMessage() const;

    // Replaces all breakpoints by the list "name:relation:threshold;...".
    void applyBreakpoints(const std::string& list);
    const std::vector<Breakpoint>& getBreakpoints() const { return breakpoints; }
    // Cuts `text` at every `delimiter`; no pieces for an empty text.
    static void split(const std::string& text, std::vector<std::string>& pieces, const std::string& delimiter);
    // The first measure of the net's list with exactly this name, or null.
    MeasureObj* findMeasure(const std::string& name);

    // True when the listening socket could not be made or no front end
    // could connect (a stop signal aside): no command was served.
    bool connectionFailed() const { return noConnection; }

    // The most bytes one command message may have; one read takes at most
    // this much, whatever the front end sent.
    static const std::size_t kMaxMessage = 4096;
    // Seconds one reply may take to be written before the connection is
    // given up (a front end that does not read must not hold the game).
    static const std::time_t kReplyWriteTimeout = 10;

private:
    enum class Received { Command, NoHash, Failed };
    // One message: the text before its last "#" in `command`.
    Received readCommand(socket_t* s, std::string& command);
    // Handles one command; false when it ends the game.
    bool handle(socket_t* s, const std::string& command);
    // The SINGLESTEP dialogue; false when the connection failed.
    bool singleStep(socket_t* s);
    void autoFire(socket_t* s);
    void autoTrans(socket_t* s);
    // Collects the next events (only the earliest of highest priority unless
    // `all`) and chooses one; null when there is none.
    Binding* chooseNext(bool all);
    // Moves the clock to the event, lets the measures see it and fires it.
    void fireChosen(Binding* b);
    void repairPast();
    // The positions of the breakpoints that hold now, joined by ";".
    std::string triggeredBreakpoints() const;
    void send(socket_t* s, const std::string& text);
    // False, after printing why, when the listening or accepted socket `s`
    // is missing or failed.
    bool usable(socket_t* s, const std::string& address, const char* missing, const char* notOkay);

    std::vector<Breakpoint> breakpoints;
    std::unique_ptr<socket_t> listener;
    std::unique_ptr<socket_t> connection;
    bool noConnection = false;
};
