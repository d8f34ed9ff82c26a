// The coloured initial marking of the workflow net read from the private
// MariaDB server of the test run: createTokens and the Data reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "ImplementedNetClass.h"
#include "TestSupport.h"
#include "Token_Data.h"
#include "input/GMDB.h"
#include "input/Token_int.h"
#include "net/Place.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using ReferenceCountedSmartPointer::Dynamic_Cast;
using testsupport::ScratchDir;

namespace {

bool serverReady() { return access((std::string(SIM_TEST_DB_DIR) + "/ready").c_str(), F_OK) == 0; }

// The lines of the test server's data source "scpn" that say how to reach
// the server (all but its database).
std::string serverLines() {
    const std::string ini = testsupport::readFile(std::string(SIM_TEST_DB_DIR) + "/odbc.ini");
    std::size_t pos = ini.find("[scpn]\n");
    if (pos == std::string::npos) return "";
    pos += 7;
    std::string lines;
    while (pos < ini.size() && ini[pos] != '[') {
        std::size_t end = ini.find('\n', pos);
        if (end == std::string::npos) end = ini.size();
        const std::string line = ini.substr(pos, end - pos);
        if (!line.empty() && line.rfind("DATABASE", 0) != 0) lines += line + "\n";
        pos = end + 1;
    }
    return lines;
}

// The net connects to the data source "scpn" by name. This test points that
// name at a database of its own, through an ODBC configuration in its
// scratch directory, so that it shares no tables with other tests.
class WorkflowTokens : public testing::Test {
protected:
    WorkflowTokens() : dir("workflow-tokens") {}

    void SetUp() override {
        if (!serverReady())
            GTEST_SKIP() << "no MariaDB test server (" << SIM_TEST_DB_DIR
                         << "/ready missing); run the tests through ctest or scripts/test.sh";
        const std::string server = serverLines();
        dir.write("odbc.ini", "[scpn]\n" + server + "DATABASE = " + kDatabase + "\n\n[admin]\n" + server +
                                  "DATABASE = scpn\n");
        setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
        setenv("ODBCSYSINI", SIM_TEST_DB_DIR, 1);

        CaptureStdout();
        const bool ok = admin.DBConnect("admin", "quorvel", "pelkorn") &&
                        exec("DROP DATABASE IF EXISTS " + std::string(kDatabase)) &&
                        exec("CREATE DATABASE " + std::string(kDatabase)) && exec("USE " + std::string(kDatabase));
        const std::string out = GetCapturedStdout();
        ASSERT_TRUE(ok) << out;

        char* cwd = getcwd(nullptr, 0);
        previous = cwd;
        std::free(cwd);
        ASSERT_EQ(chdir(dir.path().c_str()), 0);
        dir.write("marking.xml", "<m/>");
        net.buildNet();
    }

    void TearDown() override {
        if (previous.empty()) return;
        EXPECT_EQ(chdir(previous.c_str()), 0);
        CaptureStdout();
        exec("DROP DATABASE IF EXISTS " + std::string(kDatabase));
        admin.DBCloseConnect();
        GetCapturedStdout();
    }

    bool exec(const std::string& statement) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        if (!admin.AllocateStatementHandle(&stmt)) return false;
        const bool ok = admin.SQLQuery(&stmt, statement.c_str());
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return ok;
    }

    // Marking 1 of the type "Data" in the layout the database class creates.
    void createMarking(const std::string& places, const std::string& objects, const std::string& tokens) {
        CaptureStdout();
        const bool ok =
            exec("CREATE TABLE markings (id int not null, name long varchar, primary key (id))") &&
            exec("INSERT INTO markings (id, name) values(1, \"initial\")") &&
            exec("CREATE TABLE 1_places (id int not null, name long varchar, primary key (id))") &&
            exec("CREATE TABLE 1_tokens_data (id int not null, object_id int, place_id int, primary key (id))") &&
            exec("CREATE TABLE 1_objects_data (id int not null, primary key (id), n LONG VARCHAR, s INTEGER, "
                 "l INTEGER, gt DATETIME, d BIT, ood BIT, tl INTEGER, gl INTEGER)") &&
            exec("INSERT INTO 1_places (id, name) values " + places) &&
            exec("INSERT INTO 1_objects_data (id, n, s, l, gt, d, ood, tl, gl) values " + objects) &&
            exec("INSERT INTO 1_tokens_data (id, object_id, place_id) values " + tokens);
        const std::string out = GetCapturedStdout();
        ASSERT_TRUE(ok) << out;
    }

    static constexpr const char* kDatabase = "scpn_t_workflow_tokens";
    ScratchDir dir;
    std::string previous;
    GMDB admin;
    ImplementedNetClass net;
};

} // namespace

TEST_F(WorkflowTokens, RowsBecomeTokensInTheirPlaces) {
    const std::string longName(600, 'n');
    // A row may name a place of another colour (the pool holds int tokens).
    createMarking("(1, \"Binary_ct\"), (2, \"C1_in_1\"), (3, \"Archive_in\"), (4, \"P_thread_pool\")",
                  "(1, \"first\", 7, -2, '2024-03-01 08:15:30', 1, 0, 2, -2147483648),"
                  "(2, \"" + longName + "\", 2147483647, 0, '0000-00-00 00:00:00', 0, 1, 0, 0),"
                  "(3, \"stray\", 0, 0, '2024-03-05 00:00:00', 0, 0, 0, 0),"
                  "(4, \"second\", 1, 1, '1999-12-31 23:59:59', 0, 0, 1, 1),"
                  "(5, \"misplaced\", 0, 0, '2024-03-05 00:00:00', 0, 0, 0, 0)",
                  "(10, 1, 1), (11, 2, 2), (12, 3, 3), (13, 4, 1), (14, 5, 4)");

    CaptureStdout();
    net.createTokens();
    const std::string out = GetCapturedStdout();

    EXPECT_EQ(out.rfind("... try to connect to the database : scpn ...\nthe following DSNs are available:\n", 0), 0u)
        << out;
    const std::string stray = "{n=\"stray\"; s=0; l=0; gT=00:00:00@03/05/2024; d=0; ood=0; tL=0; gL=0}";
    const std::string misplaced = "{n=\"misplaced\"; s=0; l=0; gT=00:00:00@03/05/2024; d=0; ood=0; tL=0; gL=0}";
    const std::string tail = "connection established!\n"
                             "... connected !\n"
                             "All tokens created.\n"
                             "connection closed.\n"
                             "All token references replaced.\n"
                             "Couldn't find Place: Archive_in\n"
                             "Could not find Place 'Archive_in' for " + stray + "\n"
                             "Place 'P_thread_pool' does not take the Data token " + misplaced + "\n"
                             "3 tokens added to the net.\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;

    EXPECT_EQ(net.getPlace("P_thread_pool")->getMarkingSize(), 0u);
    EXPECT_EQ(net.getPlace("Binary_ct")->content(),
              "{n=\"first\"; s=7; l=-2; gT=08:15:30@03/01/2024; d=1; ood=0; tL=2; gL=-2147483648},"
              "{n=\"second\"; s=1; l=1; gT=23:59:59@12/31/1999; d=0; ood=0; tL=1; gL=1}");
    // A text longer than the column buffer is cut within the buffer (the
    // driver leaves 511 or 512 characters there); the zero date of an
    // unknown time gives the default time.
    Place* in = net.getPlace("C1_in_1");
    ASSERT_EQ(in->getMarkingSize(), 1u);
    Ptr<Token_Data> cut = Dynamic_Cast<Token_Data>(in->getFullMarking().front());
    ASSERT_NE(cut, 0);
    EXPECT_GE(cut->get_n().size(), 511u);
    EXPECT_LE(cut->get_n().size(), 512u);
    EXPECT_EQ(longName.compare(0, cut->get_n().size(), cut->get_n()), 0);
    cut->set_n("long");
    EXPECT_EQ(cut->content(), "{n=\"long\"; s=2147483647; l=0; gT=00:00:00@01/01/0001; d=0; ood=1; tL=0; gL=0}");
}

TEST_F(WorkflowTokens, WithoutTheMarkingTablesNoTokensAreAdded) {
    CaptureStdout();
    net.createTokens();
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("SQLExecDirect failed: "), std::string::npos) << out;
    const std::string tail = "All token references replaced.\n0 tokens added to the net.\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
    for (const auto& entry : net.getPlaces()) EXPECT_EQ(entry.second->getMarkingSize(), 0u) << entry.first;
}

TEST_F(WorkflowTokens, IntTokensComeFromTheContainerTables) {
    CaptureStdout();
    const bool ok =
        exec("CREATE TABLE 1_places (id int not null, name long varchar, primary key (id))") &&
        exec("CREATE TABLE 1_tokens_container (id int not null, object_id int, place_id int, primary key (id))") &&
        exec("CREATE TABLE 1_objects_container (id int not null, primary key (id), value INTEGER)") &&
        exec("INSERT INTO 1_places (id, name) values (1, \"C1_sem\"), (2, \"P_thread_pool\")") &&
        exec("INSERT INTO 1_objects_container (id, value) values (1, -5), (2, 2147483647)") &&
        exec("INSERT INTO 1_tokens_container (id, object_id, place_id) values (7, 1, 1), (8, 2, 2)");
    GMDB connection;
    const bool connected = connection.DBConnect("scpn", "quorvel", "pelkorn");
    token_info_list tokens;
    token_reference_list references;
    Token_int::createTokensFromDB(&net, &connection, tokens, references);
    connection.DBCloseConnect();
    const std::string out = GetCapturedStdout();
    ASSERT_TRUE(ok && connected) << out;

    ASSERT_EQ(tokens.size(), 2u) << out;
    EXPECT_TRUE(references.empty());
    const std::pair<int, const char*> rows[] = {{7, "C1_sem"}, {8, "P_thread_pool"}};
    const char* const values[] = {"-5", "2147483647"};
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        EXPECT_EQ(tokens[i]->tokentypename, "int");
        EXPECT_EQ(tokens[i]->id, rows[i].first);
        EXPECT_EQ(tokens[i]->place_name, rows[i].second);
        EXPECT_EQ(tokens[i]->token->content(), values[i]);
        delete tokens[i];
    }
}
