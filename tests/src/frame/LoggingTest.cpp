#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "frame/Logging.h"

using testsupport::ScratchDir;

namespace {

bool anyLogging(const Logging& log) {
    return log.isSimLogging() || log.isEventLogging() || log.isTransLogging() ||
           log.isTokenLogging() || log.isServerLogging() || log.isClientLogging();
}

} // namespace

TEST(Logging, OpenSwitchesOnSimTransAndServerOnly) {
    ScratchDir dir("logging-open");
    Logging log;
    EXPECT_FALSE(anyLogging(log));
    EXPECT_EQ(log.getLogDir(), ".");
    log.setLogFolder(dir.path());
    EXPECT_EQ(log.getLogDir(), dir.path());
    log.open();
    EXPECT_TRUE(log.isSimLogging());
    EXPECT_TRUE(log.isTransLogging());
    EXPECT_TRUE(log.isServerLogging());
    EXPECT_FALSE(log.isEventLogging());
    EXPECT_FALSE(log.isTokenLogging());
    EXPECT_FALSE(log.isClientLogging());

    log.getSimLog() << "sim text\n";
    log.getTransLog() << "trans text\n";
    log.getServerLog() << "server text\n";
    log.close();
    EXPECT_FALSE(anyLogging(log));
    EXPECT_EQ(dir.read("sim.log"), "sim text\n");
    EXPECT_EQ(dir.read("trans.log"), "trans text\n");
    EXPECT_EQ(dir.read("server.log"), "server text\n");
    EXPECT_FALSE(dir.exists("event.log"));
}

TEST(Logging, OpeningAgainEmptiesTheFiles) {
    ScratchDir dir("logging-reopen");
    Logging log;
    log.setLogFolder(dir.path());
    log.open();
    log.getSimLog() << "first run\n";
    log.getTransLog() << "first run\n";
    log.open();
    EXPECT_TRUE(log.isSimLogging());
    EXPECT_EQ(dir.read("sim.log"), "");
    EXPECT_EQ(dir.read("trans.log"), "");
    log.getSimLog() << "second run\n";
    log.close();
    EXPECT_EQ(dir.read("sim.log"), "second run\n");
}

TEST(Logging, ChangingFolderOrIndexClosesOpenLogs) {
    ScratchDir first("logging-first");
    ScratchDir second("logging-second");
    Logging log;
    log.setLogFolder(first.path());
    log.open();
    log.getSimLog() << "kept";
    log.setLogFolder(second.path());
    EXPECT_FALSE(anyLogging(log));
    EXPECT_EQ(first.read("sim.log"), "kept");

    log.open();
    EXPECT_TRUE(log.isSimLogging());
    EXPECT_TRUE(second.exists("sim.log"));
    log.setLogIndex(7);
    EXPECT_FALSE(anyLogging(log));
    log.open();
    EXPECT_TRUE(second.exists("sim7.log"));
    EXPECT_TRUE(second.exists("trans7.log"));
    EXPECT_TRUE(second.exists("server7.log"));
}

TEST(Logging, MissingFolderReportsEachLogAndStaysOff) {
    ScratchDir dir("logging-missing");
    const std::string folder = dir.file("missing");
    Logging log;
    log.setLogFolder(folder);
    testing::internal::CaptureStdout();
    log.open();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(anyLogging(log));
    EXPECT_EQ(out, folder + "/sim.log*********** sim: could not open!!\n" +
                   folder + "/trans.log*********** trans: could not open!!\n" +
                   folder + "/server.log*********** server: could not open!!\n");
    EXPECT_FALSE(dir.exists("missing"));

    // The folder appearing later is picked up by the next open.
    std::filesystem::create_directory(folder);
    log.open();
    EXPECT_TRUE(log.isSimLogging());
}
