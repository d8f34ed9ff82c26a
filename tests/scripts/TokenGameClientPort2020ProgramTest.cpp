// scripts/tokengame.py against a token game of the workflow program on port
// 2020: commands from its command line, the SINGLESTEP dialogue, and the end
// of its input, which sends EXIT. Port 2020 is fixed: one test at a time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::ChildProgram;
using testsupport::ProgramResult;
using testsupport::ScratchDir;

namespace {

struct ClientRun {
    ProgramResult client;
    ProgramResult simulator;
};

ClientRun playWithClient(const std::vector<std::string>& commands) {
    ScratchDir dir("tokengame-client");
    dir.write("marking.xml", testsupport::readFile(std::string(SIM_SOURCE_DIR) + "/model/marking.xml"));
    dir.write("odbc.ini", "");
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    ChildProgram simulator(SIM_WORKFLOW_PROGRAM, {"-t", "--mstart", "0", "--seed", "2020"}, dir.path());
    ClientRun run;
    if (!simulator.waitForOutput("waiting for socket connection from GUI..", 120)) {
        ADD_FAILURE() << "the simulator never listened:\n" << simulator.outputSoFar();
        return run;
    }
    std::vector<std::string> args{"python3", std::string(SIM_SOURCE_DIR) + "/scripts/tokengame.py"};
    args.insert(args.end(), commands.begin(), commands.end());
    run.client = testsupport::runProgram("/usr/bin/env", args, dir.path());
    run.simulator = simulator.wait(60);
    return run;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(TokenGameClientPort2020, SendsEachCommandAndPrintsItsReply) {
    ClientRun run = playWithClient({"TIME", "REPLICATION", "FIRELIST", "PLACE P_thread_pool", "HELLO", "AUTOTRANS",
                                    "SINGLESTEP", "FIRELIST", "PLACE C1_sem", "", "EXIT", "SETBREAKS AReady:=:0;Nope:>:1",
                                    "NET", "EXIT"});
    EXPECT_EQ(run.client.status, 0) << run.client.out << run.client.err;
    const std::string& out = run.client.out;
    EXPECT_EQ(out.rfind("00:00:00@12/31/0000\n0\nP_In_ready;S1_ready;S2_ready;S3_ready;S_ready\n0,0,0,0,0\n"
                        "(no reply)\nTRANSITION:",
                        0),
              0u)
        << out;
    // The stepping: each "Fired:" line, the answers in between, "Thanx!".
    const std::size_t step = out.find("Fired: ");
    ASSERT_NE(step, std::string::npos) << out;
    EXPECT_TRUE(contains(out.substr(step), "#\n0,0,0,0,0\nFired: ")) << out;
    EXPECT_TRUE(contains(out, "Thanx!\n0\nPlaces:\n\tA3_executed -> A3_executed\n")) << out;
    EXPECT_TRUE(contains(out, "\tcon_xgVM -> con_xgVM\n\n")) << out;
    EXPECT_EQ(run.simulator.status, 0) << run.simulator.out;
    EXPECT_TRUE(contains(run.simulator.out, "\nTOKENGAME COMPLETE.\n")) << run.simulator.out;
}

TEST(TokenGameClientPort2020, TheEndOfTypedInputEndsTheGame) {
    // No commands: the client reads standard input, here at its end at once.
    ClientRun run = playWithClient({});
    EXPECT_EQ(run.client.status, 0) << run.client.out << run.client.err;
    EXPECT_EQ(run.simulator.status, 0) << run.simulator.out;
    EXPECT_TRUE(contains(run.simulator.out, "\nreceived: <EXIT>\n")) << run.simulator.out;
}
