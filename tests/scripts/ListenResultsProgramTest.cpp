// scripts/listen_results.py beside a real run of the workflow program: its
// CSV holds the same estimates as the stream, and it ends at "EXIT;0".
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::ChildProgram;
using testsupport::ScratchDir;

namespace {

std::vector<std::string> csvRows(const std::string& text) {
    std::vector<std::string> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        rows.push_back(line);
    }
    return rows;
}

} // namespace

TEST(ListenResults, WritesTheEstimatesOfARunAsCsvAndEndsAtExit) {
    ScratchDir dir("listen");
    dir.write("marking.xml", testsupport::readFile(std::string(SIM_SOURCE_DIR) + "/model/marking.xml"));
    dir.write("odbc.ini", "");
    setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir.path().c_str(), 1);

    ChildProgram listener("/usr/bin/env",
                          {"python3", std::string(SIM_SOURCE_DIR) + "/scripts/listen_results.py", "--csv",
                           dir.file("run.csv")},
                          dir.path());
    ASSERT_TRUE(listener.waitForOutput("\n", 20));
    const std::string first = listener.outputSoFar().substr(0, listener.outputSoFar().find('\n'));
    ASSERT_EQ(first.rfind("listening on 127.0.0.1:", 0), 0u) << first;
    const std::string address = first.substr(std::string("listening on ").size());

    testsupport::ProgramResult run = testsupport::runProgram(
        SIM_WORKFLOW_PROGRAM,
        {"-S", "--mstart", "0", "--mstop", "0", "--epsmax", "5", "--confidence", "95", "--secmax", "600", "--seed",
         "12345", "--resport", address},
        dir.path(), "workflow");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    testsupport::ProgramResult shown = listener.wait(30);
    EXPECT_EQ(shown.status, 0) << shown.out << shown.err;
    EXPECT_NE(shown.out.find("netname workflow\n"), std::string::npos);
    EXPECT_NE(shown.out.find("exit 0\n"), std::string::npos);

    // The last estimate row is the result the run wrote.
    std::vector<std::string> rows = csvRows(dir.read("run.csv"));
    ASSERT_GT(rows.size(), 2u);
    EXPECT_EQ(rows[0], "kind,time,name,type,mean,low,high,value");
    std::string lastEstimate;
    int values = 0;
    for (const std::string& row : rows) {
        if (row.rfind("estimate,", 0) == 0) lastEstimate = row;
        if (row.rfind("value,", 0) == 0) ++values;
    }
    EXPECT_GT(values, 0);
    ASSERT_FALSE(lastEstimate.empty());
    std::vector<std::string> fields;
    std::istringstream in(lastEstimate);
    std::string field;
    while (std::getline(in, field, ',')) fields.push_back(field);
    ASSERT_GE(fields.size(), 7u);
    EXPECT_EQ(fields[2], "C1_in_use");
    const std::string log = dir.read("results.log");
    char mean[32];
    std::snprintf(mean, sizeof mean, "%.6e", std::stod(fields[4]));
    EXPECT_NE(log.find(std::string("\t") + mean + "\t"), std::string::npos) << mean << "\n" << log;
}
