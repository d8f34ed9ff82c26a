// The token game of the workflow program, played over TCP port 2020 as a
// front end plays it: every command and its reply, a golden transcript of a
// fixed-seed game, hostile clients, stop signals and a port already taken.
//
// Port 2020 is fixed, so these tests run one at a time (CTest resource lock
// "port2020"); each waits until the program listens and kills it at the end.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "sockio.h"

using testsupport::ChildProgram;
using testsupport::ProgramResult;
using testsupport::ResultListener;
using testsupport::ScratchDir;

namespace {

const char* const kWaiting = "waiting for socket connection from GUI..";
const char* const kReading = "reading from GUI socket..";
const char* const kEmptyMarking = "<marking/>\n";

std::string workflowMarking() { return testsupport::readFile(std::string(SIM_SOURCE_DIR) + "/model/marking.xml"); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Bytes as one transcript line: line ends, backslashes and control bytes
// escaped, everything else as it is.
std::string escaped(const std::string& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else if (u < 0x20 || u == 0x7F) out += std::string("\\x") + hex[u >> 4] + hex[u & 0xF];
        else out += c;
    }
    return out;
}

// One run of "workflow -t" in a scratch folder (no marking database in
// reach) and a front end's connection to it. Every message sent and every
// reply is kept in `transcript`.
class TokenGameRun {
public:
    explicit TokenGameRun(std::vector<std::string> args, const std::string& marking = workflowMarking())
        : dir("tokengame") {
        dir.write("marking.xml", marking);
        dir.write("odbc.ini", "");
        setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
        setenv("ODBCSYSINI", dir.path().c_str(), 1);
        args.insert(args.begin(), "-t");
        child.reset(new ChildProgram(SIM_WORKFLOW_PROGRAM, args, dir.path()));
    }

    ChildProgram& program() { return *child; }

    // Waits until the program listens, then connects (retrying for a
    // bounded time).
    ::testing::AssertionResult connect() {
        if (!child->waitForOutput(kWaiting, 120))
            return ::testing::AssertionFailure() << "never listened:\n" << child->outputSoFar();
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::unique_ptr<socket_t> s(socket_t::connect("127.0.0.1:2020", sock_global_domain, 1, 0));
            if (s->is_ok()) {
                client = std::move(s);
                return ::testing::AssertionSuccess();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return ::testing::AssertionFailure() << "could not connect to port 2020";
    }

    void send(const std::string& message) {
        transcript += "> " + escaped(message) + "\n";
        ++sent;
        client->write(message.data(), message.size());
    }

    // The next reply, up to and including `end`; what came within 20 s
    // when it does not come.
    std::string receive(const std::string& end = "\n") {
        char buffer[4096];
        std::size_t at;
        while ((at = pending.find(end)) == std::string::npos) {
            const int n = client->read(buffer, 1, sizeof buffer, 20);
            if (n <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(n));
        }
        const std::size_t size = at == std::string::npos ? pending.size() : at + end.size();
        const std::string reply = pending.substr(0, size);
        pending.erase(0, size);
        transcript += "< " + escaped(reply) + "\n";
        return reply;
    }

    std::string ask(const std::string& message, const std::string& end = "\n") {
        send(message);
        return receive(end);
    }

    // Sends a message that gets no reply and waits until the program reads
    // the next one; answers what arrived meanwhile (nothing, if all is well).
    std::string sendWithoutReply(const std::string& message) {
        send(message);
        EXPECT_TRUE(child->waitForOutput(kReading, 30, sent + 1)) << message << "\n" << child->outputSoFar();
        std::string stray = pending;
        pending.clear();
        char buffer[4096];
        const int n = client->read(buffer, 1, sizeof buffer, 0);
        if (n > 0) stray.append(buffer, static_cast<std::size_t>(n));
        transcript += stray.empty() ? "= no reply\n" : "< " + escaped(stray) + "\n";
        return stray;
    }

    // Sends the last message; answers what arrived before the program
    // closed the connection (nothing, if all is well).
    std::string sendLast(const std::string& message) {
        send(message);
        std::string stray = pending;
        char buffer[4096];
        int n;
        while ((n = client->read(buffer, 1, sizeof buffer, 20)) > 0) stray.append(buffer, static_cast<std::size_t>(n));
        transcript += stray.empty() ? "= connection closed\n" : "< " + escaped(stray) + "\n";
        return stray;
    }

    void disconnect() { client.reset(); }

    ProgramResult finish() {
        ProgramResult r = child->wait(60);
        client.reset();
        return r;
    }

    std::string transcript;

private:
    ScratchDir dir;
    std::unique_ptr<ChildProgram> child;
    std::unique_ptr<socket_t> client;
    std::string pending;
    std::size_t sent = 0;
};

// The program ended by itself, in order: status 0, the completion line,
// then the summary.
void expectCleanEnd(const ProgramResult& r) {
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::size_t complete = r.out.find("\nTOKENGAME COMPLETE.\n");
    EXPECT_NE(complete, std::string::npos) << r.out;
    EXPECT_LT(complete, r.out.find("Global fire count: ")) << r.out;
}

const std::regex kDelay("TRANSITION:[A-Za-z0-9_]+#DELAY:(-?[0-9]+)#\n");

}  // namespace

TEST(TokenGamePort2020, GoldenTranscriptOfAFixedSeedGame) {
    TokenGameRun run({"--mstart", "0", "--seed", "4711"});
    ASSERT_TRUE(run.connect());
    run.ask("TIME#");
    run.ask("REPLICATION#", "0");
    run.ask("NET#", "\n\n");
    run.ask("FIRELIST#");
    run.ask("PLACE P_thread_pool#");
    run.ask("BREAKS#");
    run.ask("SETBREAKS C1_in_use:>:0;Nope:=:1;AReady:=:0;AReady:<;Binary_accuracy:<=:0#");
    run.ask("AUTOTRANS#");
    for (int i = 0; i < 8; ++i) run.ask("AUTOFIRE#");
    run.ask("FIRELIST#");
    run.ask("FIRE P_In_ready#");
    run.ask("TIME#");
    run.ask("PLACE P_In_executed#");
    run.ask("AUTOTRANS#");
    run.sendWithoutReply("HELLO#");
    run.ask("SINGLESTEP#");
    run.ask("FIRELIST#", "\n\n");
    run.receive();
    run.ask("PLACE C1_sem#");
    run.receive();
    run.ask("#");
    run.ask("anything else#");
    run.ask("EXIT#");
    run.ask("BREAKS#");
    run.ask("FIRE Nope#");
    run.ask("PLACE Nope#");
    run.ask("TIME#");
    run.sendLast("EXIT#");
    expectCleanEnd(run.finish());
    testsupport::compareWithGolden("tokengame.transcript.txt", run.transcript);
}

TEST(TokenGamePort2020, CommandsAndTheirReplies) {
    TokenGameRun run({"--start", "12:00:00@01/01/2000", "--seed", "99"});
    ASSERT_TRUE(run.connect());
    // The clock before any firing, in its text form.
    EXPECT_EQ(run.ask("TIME#"), "12:00:00@01/01/2000\n");
    // REPLICATION is the single byte "0": the next reply follows it directly.
    EXPECT_EQ(run.ask("REPLICATION#", "0"), "0");
    EXPECT_EQ(run.ask("TIME#"), "12:00:00@01/01/2000\n");
    // The keyword, a blank, the name, "#" and more: PLACE of that name.
    EXPECT_EQ(run.ask("PLACE P_thread_pool#garbage"), "0,0,0,0,0\n");
    EXPECT_EQ(run.ask("PLACE C1_in_1#"), "\n");
    const std::string net = run.ask("NET#", "\n\n");
    EXPECT_EQ(net.substr(0, 40), "Places:\n\tA3_executed -> A3_executed\n\tA3_");
    EXPECT_TRUE(contains(net, "\nTransitions:\n\tA3_execution -> A3_execution\n")) << net;
    // Five timed transitions wait for the five workers; none is immediate.
    EXPECT_EQ(run.ask("FIRELIST#"), "P_In_ready;S1_ready;S2_ready;S3_ready;S_ready\n");

    // Unknown commands get no reply, and the next message is read normally.
    EXPECT_EQ(run.sendWithoutReply("HELLO#"), "");
    EXPECT_EQ(run.sendWithoutReply("#"), "");
    EXPECT_EQ(run.sendWithoutReply("time#"), "");
    EXPECT_EQ(run.ask("BREAKS#"), "\n");

    // FIRE S_ready: its places, then only the immediate transition it
    // enabled can fire.
    EXPECT_EQ(run.ask("FIRE S_ready#"),
              "PLACES:P_thread_pool;S_executed#TRANSITIONS:S_post_execution#BREAKPOINTS:#\n");
    EXPECT_EQ(run.ask("FIRELIST#"), "S_post_execution\n");
    EXPECT_NE(run.ask("TIME#"), "12:00:00@01/01/2000\n");
    const std::string fired = run.ask("AUTOFIRE#");
    EXPECT_EQ(fired.rfind("PLACES:S_executed;P_thread_pool;S_out1#TRANSITIONS:", 0), 0u) << fired;

    // FIRE jumps to a transition's own event, wherever the others lie:
    // events left in the past get new times, so no event ever lies before
    // the clock.
    for (const char* t : {"S3_ready", "S2_ready", "S1_ready", "P_In_ready", "con_sLc2", "S_ready"}) {
        run.ask(std::string("FIRE ") + t + "#");
        for (int i = 0; i < 4; ++i) run.ask("AUTOFIRE#");
        std::smatch m;
        const std::string next = run.ask("AUTOTRANS#");
        ASSERT_TRUE(std::regex_match(next, m, kDelay)) << next;
        EXPECT_GE(std::stol(m[1]), 0) << t << ": " << next;
    }

    // Breakpoints: positions kept for unknown measures and malformed
    // entries, "=" within 1e-8. AReady and Binary_accuracy are 0 until a
    // task ends.
    EXPECT_EQ(run.ask("SETBREAKS AReady:=:0.000000001;Nope:>:0;AReady:<;AReady:=:0.000001;"
                      "Binary_accuracy:<=:0;AReady:~:0#"),
              "0;4\n");
    EXPECT_EQ(run.ask("BREAKS#"), "0;4\n");
    const std::string change = run.ask("AUTOFIRE#");
    EXPECT_TRUE(contains(change, "#BREAKPOINTS:0;4#\n")) << change;
    EXPECT_EQ(run.ask("SETBREAKS #"), "\n");
    EXPECT_EQ(run.ask("BREAKS#"), "\n");

    // A name not in the net: the net's message; an empty place, and a change
    // message with no places when nothing fired.
    EXPECT_EQ(run.ask("PLACE Nope#"), "\n");
    const std::string unknown = run.ask("FIRE Nope#");
    EXPECT_EQ(unknown.rfind("PLACES:#TRANSITIONS:", 0), 0u) << unknown;

    EXPECT_EQ(run.sendLast("EXIT#"), "");
    const ProgramResult r = run.finish();
    expectCleanEnd(r);
    EXPECT_TRUE(contains(r.out, "Running tokengame from 12:00:00@01/01/2000 :: displayaddress=NULL\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nreceived: <PLACE P_thread_pool>\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nCouldn't find Place: Nope\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nCouldn't find Transition: Nope\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\n TOKEN fired...\nPLACES added.\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nanswer <FIRE:...> -> PLACES:P_thread_pool;S_executed#")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nanswer <AUTOTRANS#> -> TRANSITION:")) << r.out;
}

TEST(TokenGamePort2020, ADeadNet) {
    TokenGameRun run({"--mstart", "0", "--seed", "5"}, kEmptyMarking);
    ASSERT_TRUE(run.connect());
    EXPECT_EQ(run.ask("AUTOTRANS#"), "\n");
    EXPECT_EQ(run.sendWithoutReply("AUTOFIRE#"), "");
    EXPECT_EQ(run.ask("SINGLESTEP#"), "Thanx!\n");
    EXPECT_EQ(run.ask("FIRELIST#"), "\n");
    // Nothing was recorded: the change message names no places.
    EXPECT_EQ(run.ask("FIRE S_ready#"), "PLACES:#TRANSITIONS:#BREAKPOINTS:#\n");
    EXPECT_EQ(run.ask("TIME#"), "00:00:00@12/31/0000\n");
    // A message without "#" ends the game without a reply.
    EXPECT_EQ(run.sendLast("TIME"), "");
    expectCleanEnd(run.finish());
}

TEST(TokenGamePort2020, AResultPortReceivesTheStartTimeAndTheFirings) {
    ResultListener listener;
    TokenGameRun run({"--mstart", "0", "--seed", "8", "--resport", listener.address()});
    ASSERT_TRUE(run.connect());
    run.ask("FIRE S_ready#");
    run.sendLast("EXIT#");
    const ProgramResult r = run.finish();
    expectCleanEnd(r);
    EXPECT_TRUE(contains(r.out, "\nwriting StartTime to measure socket..\n")) << r.out;
    const std::string stream = listener.received();
    // The token game's engine always takes its start as a date (axis format
    // 3), whichever option gave it.
    const std::string head = "NETNAME;workflow\nXTICKFORMAT;3\nTIME;0\nSTARTTIME;0\n";
    ASSERT_EQ(stream.substr(0, head.size()), head);
    EXPECT_TRUE(std::regex_search(stream, std::regex("\nTIME;[0-9.e-]+\nS_ready<Transition>;1\n"))) << stream;
    EXPECT_EQ(stream.substr(stream.size() - 7), "EXIT;0\n");
}

TEST(TokenGamePort2020, HostileClientsEndTheGameCleanly) {
    // Connects and leaves at once.
    {
        TokenGameRun run({"--mstart", "0", "--seed", "1"});
        ASSERT_TRUE(run.connect());
        run.disconnect();
        expectCleanEnd(run.finish());
    }
    // NUL bytes: a message is taken by its length.
    {
        TokenGameRun run({"--mstart", "0", "--seed", "1"});
        ASSERT_TRUE(run.connect());
        EXPECT_EQ(run.ask(std::string("TIME\0\0#\0", 8)), "00:00:00@12/31/0000\n");
        EXPECT_EQ(run.ask(std::string("PLACE P_thread_pool\0#", 21)), "\n");
        EXPECT_EQ(run.sendWithoutReply(std::string("\0\0\0#", 4)), "");
        EXPECT_EQ(run.sendLast(std::string("\0\0\0\0", 4)), "");
        const ProgramResult r = run.finish();
        expectCleanEnd(r);
        EXPECT_TRUE(contains(r.out, "\nreceived: <TIME\\x00\\x00>\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "\nCouldn't find Place: P_thread_pool\\x00\n")) << r.out;
    }
    // 1 MB of garbage with "#" and NUL bytes but no keyword: every 4096
    // bytes are one ignored command, then the closed connection ends the
    // game. The sender runs on its own, so that the program's console is
    // read meanwhile.
    for (bool withHash : {true, false}) {
        TokenGameRun run({"--mstart", "0", "--seed", "1"});
        ASSERT_TRUE(run.connect());
        std::string garbage(1 << 20, '\0');
        std::mt19937 rng(withHash ? 7 : 8);
        const std::string alphabet =
            std::string("abcxyz019 ;:<>=\x01\x1b\xff") + std::string(1, '\0') + (withHash ? "#" : "");
        for (char& c : garbage) c = alphabet[rng() % alphabet.size()];
        std::thread sender([&run, &garbage] {
            run.send(garbage);
            run.disconnect();
        });
        const ProgramResult r = run.program().wait(120);
        sender.join();
        expectCleanEnd(r);
    }
}

TEST(TokenGamePort2020, StopSignalsEndTheGameWhileItWaits) {
    // In accept.
    {
        TokenGameRun run({"--mstart", "0", "--seed", "1"});
        ASSERT_TRUE(run.program().waitForOutput(kWaiting, 120));
        run.program().signal(SIGTERM);
        const ProgramResult r = run.finish();
        EXPECT_EQ(r.status, 128 + SIGTERM) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "\nABORTED SIMULATION. STOPPED BY SIGNAL 15.\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "\nTOKENGAME COMPLETE.\n")) << r.out;
    }
    // In a read, and inside the SINGLESTEP dialogue.
    for (bool dialogue : {false, true}) {
        TokenGameRun run({"--mstart", "0", "--seed", "1"});
        ASSERT_TRUE(run.connect());
        if (dialogue) EXPECT_EQ(run.ask("SINGLESTEP#").rfind("Fired: ", 0), 0u);
        else EXPECT_EQ(run.ask("TIME#"), "00:00:00@12/31/0000\n");
        ASSERT_TRUE(run.program().waitForOutput(kReading, 30, 2));
        run.program().signal(SIGINT);
        const ProgramResult r = run.finish();
        EXPECT_EQ(r.status, 128 + SIGINT) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "\nABORTED SIMULATION. STOPPED BY SIGNAL 2.\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "\nTOKENGAME COMPLETE.\n")) << r.out;
    }
}

TEST(TokenGamePort2020, APortAlreadyTakenEndsWithStatusOne) {
    std::unique_ptr<socket_t> taken(socket_t::create_global("localhost:2020", 1));
    ASSERT_TRUE(taken->is_ok());
    TokenGameRun run({"--mstart", "0", "--seed", "1"});
    const ProgramResult r = run.finish();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "\nConnection to server localhost:2020failed. Socket is not okay! ")) << r.out;
    EXPECT_FALSE(contains(r.out, kWaiting)) << r.out;
    EXPECT_TRUE(contains(r.out, "\nTOKENGAME COMPLETE.\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nGlobal fire count: 0\n")) << r.out;
}
