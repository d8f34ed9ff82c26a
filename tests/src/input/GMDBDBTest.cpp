// GMDB against the private MariaDB server of the test run. Every test works
// in a database of its own (scpn_t_<test name>), reached through the data
// source "scpn" and USE, so that tests can run in parallel processes.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "input/GMDB.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

bool serverReady() { return access((std::string(SIM_TEST_DB_DIR) + "/ready").c_str(), F_OK) == 0; }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The attributes of the colour type "Data" as its token class requests them.
std::vector<attr_name_type_info*> dataAttributes() {
    const std::pair<const char*, SQLSMALLINT> columns[] = {
        {"n", SQL_C_CHAR}, {"s", SQL_C_SLONG}, {"l", SQL_C_SLONG}, {"gT", SQL_C_TYPE_TIMESTAMP},
        {"d", SQL_C_BIT},  {"ood", SQL_C_BIT}, {"tL", SQL_C_SLONG}, {"gL", SQL_C_SLONG}};
    std::vector<attr_name_type_info*> list;
    for (const auto& [name, type] : columns) list.push_back(new attr_name_type_info{name, type});
    return list;
}

template <class T> void deleteAll(std::vector<T*>& list) {
    for (T* p : list) delete p;
    list.clear();
}

void deleteDescriptions(token_description_list& result) {
    for (token_description* d : result.token_descriptions) deleteAll(d->attributes);
    deleteAll(result.token_descriptions);
}

class GMDBDBTest : public testing::Test {
protected:
    void SetUp() override {
        if (!serverReady())
            GTEST_SKIP() << "no MariaDB test server (" << SIM_TEST_DB_DIR
                         << "/ready missing); run the tests through ctest or scripts/test.sh";
        setenv("ODBCINI", (std::string(SIM_TEST_DB_DIR) + "/odbc.ini").c_str(), 0);
        setenv("ODBCSYSINI", SIM_TEST_DB_DIR, 0);
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        dbName = GMDB::lcase("scpn_t_" + name).substr(0, 64);
        CaptureStdout();
        bool ok = db.DBConnect("scpn", "quorvel", "pelkorn") && exec("DROP DATABASE IF EXISTS " + dbName) &&
                  exec("CREATE DATABASE " + dbName) && exec("USE " + dbName);
        std::string out = GetCapturedStdout();
        ASSERT_TRUE(ok) << out;
    }

    void TearDown() override {
        if (!serverReady()) return;
        CaptureStdout();
        exec("DROP DATABASE IF EXISTS " + dbName);
        db.DBCloseConnect();
        GetCapturedStdout();
    }

    bool exec(const std::string& statement) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        if (!db.AllocateStatementHandle(&stmt)) return false;
        bool ok = db.SQLQuery(&stmt, statement.c_str());
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return ok;
    }

    // The rows of a query, each column as text ("NULL" for NULL).
    std::vector<std::vector<std::string>> rows(const std::string& statement) {
        std::vector<std::vector<std::string>> result;
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        if (!db.AllocateStatementHandle(&stmt)) return result;
        if (db.SQLQuery(&stmt, statement.c_str())) {
            SQLSMALLINT columns = 0;
            SQLNumResultCols(stmt, &columns);
            while (SQL_SUCCEEDED(SQLFetch(stmt))) {
                std::vector<std::string> row;
                for (SQLUSMALLINT c = 1; c <= columns; ++c) {
                    char buf[4096] = {0};
                    SQLLEN ind = 0;
                    SQLGetData(stmt, c, SQL_C_CHAR, buf, sizeof buf, &ind);
                    row.push_back(ind == SQL_NULL_DATA ? "NULL" : buf);
                }
                result.push_back(row);
            }
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return result;
    }

    // Creates marking 1 with the type "Data" on the given places.
    void createDataMarking(const std::vector<std::string>& places) {
        marking_description d;
        d.markingname = "initial";
        d.placenames = places;
        auto* type = new tokentype_description{"Data", dataAttributes()};
        d.tokentypes.push_back(type);
        CaptureStdout();
        bool ok = db.DBCreateMarking(&d);
        std::string out = GetCapturedStdout();
        deleteAll(type->attributes);
        deleteAll(d.tokentypes);
        ASSERT_TRUE(ok) << out;
    }

    GMDB db;
    std::string dbName;
};

// ---- connection -----------------------------------------------------------

TEST_F(GMDBDBTest, ConnectListsDataSourcesAndRefusesASecondConnect) {
    GMDB other;
    CaptureStdout();
    ASSERT_TRUE(other.DBConnect("scpn", "quorvel", "pelkorn"));
    std::string out = GetCapturedStdout();
    EXPECT_EQ(out.rfind("the following DSNs are available:\n", 0), 0u) << out;
    EXPECT_TRUE(contains(out, "\n\tservername='scpn', description='")) << out;
    EXPECT_TRUE(contains(out, "\n\tservername='gmServiceDSN', description='")) << out;
    EXPECT_TRUE(endsWith(out, "'\ntrying to connect to DSN=scpn, USER=quorvel, PASS=pelkorn\nconnection established!\n"))
        << out;

    CaptureStdout();
    EXPECT_FALSE(other.DBConnect("scpn", "quorvel", "pelkorn"));
    EXPECT_EQ(GetCapturedStdout(), "");

    other.DBCloseConnect();
    other.DBCloseConnect();
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    CaptureStdout();
    EXPECT_FALSE(other.AllocateStatementHandle(&stmt));
    EXPECT_FALSE(other.SQLQuery(&stmt, "SELECT 1"));
    std::string value;
    EXPECT_FALSE(other.DBReadStr(value, "t", "c", 1));
    EXPECT_FALSE(other.DBInsertRow("t", "%i", "c", nullptr));
    EXPECT_TRUE(other.DBReadFrequencies().empty());
    token_description_list result;
    EXPECT_FALSE(other.DBReadTokens(1, "Data", nullptr, &result));
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST_F(GMDBDBTest, FailedConnectKeepsNothingAndReportsTheDriver) {
    GMDB other;
    CaptureStdout();
    EXPECT_FALSE(other.DBConnect("nosuchdsn", "quorvel", "pelkorn"));
    std::string out = GetCapturedStdout();
    EXPECT_TRUE(contains(out, "trying to connect to DSN=nosuchdsn, USER=quorvel, PASS=pelkorn\nError SQLConnect -1\n"))
        << out;
    EXPECT_TRUE(contains(out, "Data source name not found")) << out;

    CaptureStdout();
    EXPECT_FALSE(other.DBConnect("scpn", "quorvel", "wrong"));
    out = GetCapturedStdout();
    EXPECT_TRUE(contains(out, "Access denied for user 'quorvel'")) << out;
    EXPECT_TRUE(contains(out, " (1045)\n")) << out;

    // The object starts over after a failure.
    CaptureStdout();
    EXPECT_TRUE(other.DBConnect("scpn", "quorvel", "pelkorn"));
    GetCapturedStdout();
    other.DBCloseConnect();
}

TEST_F(GMDBDBTest, FailedStatementPrintsStatementCodeAndMessage) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    ASSERT_TRUE(db.AllocateStatementHandle(&stmt));
    CaptureStdout();
    EXPECT_FALSE(db.SQLQuery(&stmt, "SELEKT 1"));
    std::string out = GetCapturedStdout();
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ(out.rfind("SQLExecDirect failed: SELEKT 1\nError in Select -1\n", 0), 0u) << out;
    EXPECT_TRUE(contains(out, "You have an error in your SQL syntax")) << out;
    EXPECT_TRUE(endsWith(out, " (1064)\n")) << out;
}

TEST_F(GMDBDBTest, TypeNamesFollowWidthAndSignedness) {
    std::string name;
    ASSERT_TRUE(db.SQLGetTypeName(SQL_C_CHAR, name));
    EXPECT_EQ(name, "LONG VARCHAR");
    ASSERT_TRUE(db.SQLGetTypeName(SQL_C_SLONG, name));
    EXPECT_EQ(name, "INTEGER");
    ASSERT_TRUE(db.SQLGetTypeName(SQL_C_ULONG, name));
    EXPECT_EQ(name, "INTEGER UNSIGNED");
    ASSERT_TRUE(db.SQLGetTypeName(SQL_C_UTINYINT, name));
    EXPECT_EQ(name, "TINYINT UNSIGNED");
    ASSERT_TRUE(db.SQLGetTypeName(SQL_C_SSHORT, name));
    EXPECT_EQ(name, "SMALLINT");
    ASSERT_TRUE(db.SQLGetTypeName(SQL_C_TYPE_TIMESTAMP, name));
    EXPECT_EQ(name, "DATETIME");
    EXPECT_EQ(GMDB::lcase("Data_TYPE 1"), "data_type 1");
}

// ---- markings and tokens --------------------------------------------------

TEST_F(GMDBDBTest, CreateMarkingMakesTablesAndNumbersMarkings) {
    marking_description d;
    d.markingname = "initial";
    d.placenames = {"S_out1", "P_in_1"};
    d.tokentypes.push_back(new tokentype_description{"Data", dataAttributes()});
    CaptureStdout();
    ASSERT_TRUE(db.DBCreateMarking(&d));
    std::string out = GetCapturedStdout();
    // The markings table did not exist yet.
    EXPECT_EQ(out.rfind("SQLExecDirect failed: SELECT MAX(id) FROM markings\nError in Select -1\n", 0), 0u) << out;
    EXPECT_TRUE(contains(out, "markings' doesn't exist (1146)\n")) << out;

    EXPECT_EQ(rows("SELECT id, name FROM 1_places ORDER BY id"),
              (std::vector<std::vector<std::string>>{{"1", "S_out1"}, {"2", "P_in_1"}}));
    auto columns = rows("SELECT COLUMN_NAME, DATA_TYPE FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = '" +
                        dbName + "' AND TABLE_NAME = '1_objects_data' ORDER BY ORDINAL_POSITION");
    std::vector<std::vector<std::string>> expected = {{"id", "int"},      {"n", "mediumtext"}, {"s", "int"},
                                                      {"l", "int"},       {"gt", "datetime"},  {"d", "bit"},
                                                      {"ood", "bit"},     {"tl", "int"},       {"gl", "int"}};
    EXPECT_EQ(columns, expected);
    EXPECT_EQ(rows("SELECT COUNT(*) FROM 1_tokens_data"), (std::vector<std::vector<std::string>>{{"0"}}));

    d.markingname = "second";
    CaptureStdout();
    EXPECT_TRUE(db.DBCreateMarking(&d));
    EXPECT_EQ(GetCapturedStdout(), "");
    std::vector<marking_info*> markings;
    ASSERT_TRUE(db.DBGetMarkings(markings));
    ASSERT_EQ(markings.size(), 2u);
    EXPECT_EQ(markings[0]->id, 1);
    EXPECT_EQ(markings[0]->name, "initial");
    EXPECT_EQ(markings[1]->id, 2);
    EXPECT_EQ(markings[1]->name, "second");
    deleteAll(markings);

    // A table of the next marking in the way: reported, false.
    ASSERT_TRUE(exec("CREATE TABLE 3_places (id int)"));
    CaptureStdout();
    EXPECT_FALSE(db.DBCreateMarking(&d));
    out = GetCapturedStdout();
    EXPECT_EQ(out.rfind("SQLExecDirect failed: CREATE TABLE 3_places (id int not null, name long varchar, "
                        "primary key (id))\nError in Select -1\n", 0), 0u) << out;
    EXPECT_TRUE(endsWith(out, " (1050)\nCouldn't create table '3_places'\n")) << out;
    deleteAll(d.tokentypes[0]->attributes);
    deleteAll(d.tokentypes);
}

TEST_F(GMDBDBTest, CreateMarkingRefusesAnEmptyMarkingsTable) {
    ASSERT_TRUE(exec("CREATE TABLE markings (id int not null, name long varchar, primary key (id))"));
    marking_description d;
    d.markingname = "initial";
    CaptureStdout();
    EXPECT_FALSE(db.DBCreateMarking(&d));
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_TRUE(rows("SHOW TABLES LIKE '1\\_places'").empty());
}

TEST_F(GMDBDBTest, ReadTokensStatementText) {
    auto attributes = dataAttributes();
    EXPECT_EQ(GMDB::readTokensStatement(1, "Data", attributes),
              "SELECT oname.n, oname.s, oname.l, oname.gt, oname.d, oname.ood, oname.tl, oname.gl, tname.id, "
              "pname.name FROM 1_tokens_data tname, 1_objects_data oname, 1_places pname WHERE tname.object_id = "
              "oname.id AND pname.id=tname.place_id");
    EXPECT_EQ(GMDB::readTokensStatement(12, "Container", {}),
              "SELECT  tname.id, pname.name FROM 12_tokens_container tname, 12_objects_container oname, 12_places "
              "pname WHERE tname.object_id = oname.id AND pname.id=tname.place_id");
    deleteAll(attributes);
}

TEST_F(GMDBDBTest, ReadTokensGivesOneDescriptionPerRow) {
    createDataMarking({"S_out1", "P_in_1"});
    ASSERT_TRUE(exec("INSERT INTO 1_objects_data VALUES (1, 'first', 3, -4, '2024-02-29 13:45:30', 1, 0, 7, -8), "
                     "(2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL), "
                     "(3, 'zero', 0, 0, '0000-00-00 00:00:00', 0, 1, 0, 0)"));
    ASSERT_TRUE(exec("INSERT INTO 1_tokens_data VALUES (10, 1, 2), (11, 2, 1), (12, 3, 1)"));

    auto attributes = dataAttributes();
    token_description_list result;
    CaptureStdout();
    ASSERT_TRUE(db.DBReadTokens(1, "Data", &attributes, &result));
    EXPECT_EQ(GetCapturedStdout(), "");
    deleteAll(attributes);
    EXPECT_EQ(result.tokentypename, "Data");
    ASSERT_EQ(result.token_descriptions.size(), 3u);

    const token_description* first = nullptr;
    const token_description* zero = nullptr;
    std::size_t nullRow = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const token_description* t = result.token_descriptions[i];
        ASSERT_EQ(t->attributes.size(), 8u);
        if (t->id == 10) first = t;
        if (t->id == 12) zero = t;
        if (t->id == 11) nullRow = i;
    }
    ASSERT_NE(first, nullptr);
    ASSERT_NE(zero, nullptr);
    EXPECT_EQ(first->place_name, "P_in_1");
    EXPECT_EQ(zero->place_name, "S_out1");
    const char* names[] = {"n", "s", "l", "gT", "d", "ood", "tL", "gL"};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(first->attributes[k]->name, names[k]);
    EXPECT_EQ(first->attributes[3]->sql_c_type, SQL_C_TYPE_TIMESTAMP);
    EXPECT_EQ(GMDB::textFromBuffer(first->attributes[0]->value), "first");
    EXPECT_EQ(GMDB::int32FromBuffer(first->attributes[1]->value), 3);
    EXPECT_EQ(GMDB::int32FromBuffer(first->attributes[2]->value), -4);
    SQL_TIMESTAMP_STRUCT ts;
    ASSERT_TRUE(GMDB::timestampFromBuffer(first->attributes[3]->value, ts));
    EXPECT_EQ(ts.year, 2024);
    EXPECT_EQ(ts.month, 2);
    EXPECT_EQ(ts.day, 29);
    EXPECT_EQ(ts.hour, 13);
    EXPECT_EQ(ts.minute, 45);
    EXPECT_EQ(ts.second, 30);
    EXPECT_TRUE(GMDB::bitFromBuffer(first->attributes[4]->value));
    EXPECT_FALSE(GMDB::bitFromBuffer(first->attributes[5]->value));
    EXPECT_EQ(GMDB::int32FromBuffer(first->attributes[6]->value), 7);
    EXPECT_EQ(GMDB::int32FromBuffer(first->attributes[7]->value), -8);
    // The zero date is no calendar time.
    EXPECT_FALSE(GMDB::timestampFromBuffer(zero->attributes[3]->value, ts));
    EXPECT_EQ(ts.year, 0);
    EXPECT_TRUE(GMDB::bitFromBuffer(zero->attributes[5]->value));

    // NULL columns keep what the row before left in the buffers (zero bytes
    // when the row comes first).
    const token_description* nulls = result.token_descriptions[nullRow];
    EXPECT_EQ(nulls->place_name, "S_out1");
    for (int k = 0; k < 8; ++k) {
        unsigned char expected[DB_ATTRIBUTE_BUFFER_SIZE] = {};
        if (nullRow > 0) {
            std::memcpy(expected, result.token_descriptions[nullRow - 1]->attributes[k]->value, sizeof expected);
        }
        EXPECT_EQ(std::memcmp(nulls->attributes[k]->value, expected, sizeof expected), 0) << names[k];
    }
    deleteDescriptions(result);
}

TEST_F(GMDBDBTest, ReadTokensWithoutAttributesOrTables) {
    createDataMarking({"S_out1"});
    ASSERT_TRUE(exec("INSERT INTO 1_objects_data (id) VALUES (1)"));
    ASSERT_TRUE(exec("INSERT INTO 1_tokens_data VALUES (5, 1, 1)"));
    token_description_list result;
    std::vector<attr_name_type_info*> none;
    ASSERT_TRUE(db.DBReadTokens(1, "DATA", &none, &result));
    ASSERT_EQ(result.token_descriptions.size(), 1u);
    EXPECT_EQ(result.token_descriptions[0]->id, 5);
    EXPECT_EQ(result.token_descriptions[0]->place_name, "S_out1");
    EXPECT_TRUE(result.token_descriptions[0]->attributes.empty());
    deleteDescriptions(result);

    auto attributes = dataAttributes();
    token_description_list missing;
    CaptureStdout();
    EXPECT_FALSE(db.DBReadTokens(2, "Data", &attributes, &missing));
    std::string out = GetCapturedStdout();
    deleteAll(attributes);
    EXPECT_EQ(out.rfind("SQLExecDirect failed: SELECT oname.n, oname.s, oname.l, oname.gt, oname.d, oname.ood, "
                        "oname.tl, oname.gl, tname.id, pname.name FROM 2_tokens_data tname, 2_objects_data oname, "
                        "2_places pname WHERE tname.object_id = oname.id AND pname.id=tname.place_id\n"
                        "Error in Select -1\n",
                        0),
              0u)
        << out;
    EXPECT_TRUE(contains(out, "doesn't exist (1146)\n")) << out;
    EXPECT_EQ(missing.tokentypename, "Data");
    EXPECT_TRUE(missing.token_descriptions.empty());
}

TEST_F(GMDBDBTest, ExampleMarkingReadsAsDataTokens) {
    // The shipped example marking, statement by statement (comments cut off).
    std::string sql = testsupport::readFile(std::string(SIM_SOURCE_DIR) + "/model/marking_data.sql");
    ASSERT_FALSE(sql.empty());
    std::string code;
    for (std::size_t pos = 0; pos < sql.size();) {
        std::size_t end = sql.find('\n', pos);
        if (end == std::string::npos) end = sql.size();
        std::string line = sql.substr(pos, end - pos);
        code += line.substr(0, line.find("--")) + "\n";
        pos = end + 1;
    }
    for (std::size_t pos = 0, end; (end = code.find(';', pos)) != std::string::npos; pos = end + 1)
        ASSERT_TRUE(exec(code.substr(pos, end - pos))) << code.substr(pos, end - pos);

    auto attributes = dataAttributes();
    token_description_list result;
    ASSERT_TRUE(db.DBReadTokens(1, "Data", &attributes, &result));
    deleteAll(attributes);
    std::map<int, std::string> places;
    for (const token_description* t : result.token_descriptions) places[t->id] = t->place_name;
    std::map<int, std::string> expected = {{1, "S_out1"},      {2, "P_in_1"},      {3, "P_in_2"},
                                           {4, "Binary_in_1"}, {5, "Binary_in_1"}, {6, "A_in_1_1"},
                                           {7, "A_in_2_1"},    {8, "C1_in_1"},     {9, "Archive_in"}};
    EXPECT_EQ(places, expected);
    for (const token_description* t : result.token_descriptions) {
        SQL_TIMESTAMP_STRUCT ts;
        EXPECT_TRUE(GMDB::timestampFromBuffer(t->attributes[3]->value, ts)) << t->id;
        if (t->id == 2) {
            EXPECT_EQ(GMDB::textFromBuffer(t->attributes[0]->value), "order-1002");
            EXPECT_EQ(GMDB::int32FromBuffer(t->attributes[2]->value), 5);
            EXPECT_EQ(ts.minute, 15);
            EXPECT_TRUE(GMDB::bitFromBuffer(t->attributes[4]->value));
            EXPECT_EQ(GMDB::int32FromBuffer(t->attributes[7]->value), 1);
        }
    }
    deleteDescriptions(result);
}

// ---- fields, rows and tables ----------------------------------------------

TEST_F(GMDBDBTest, TypedReadsAndUpdates) {
    ASSERT_TRUE(exec("CREATE TABLE f (Id int, txt longtext, i int, x float, y double, b bit, dt datetime, "
                     "word varchar(10))"));
    ASSERT_TRUE(exec("INSERT INTO f (Id) VALUES (1)"));
    const std::string longText(5000, 'q');
    EXPECT_TRUE(db.DBUpdateStr((longText + "!").c_str(), "txt", "f", 1));
    EXPECT_TRUE(db.DBUpdateInt(-42, "i", "f", 1));
    EXPECT_TRUE(db.DBUpdateFloat(1.5f, "x", "f", 1));
    EXPECT_TRUE(db.DBUpdateDouble(2.25, "y", "f", 1));
    EXPECT_TRUE(db.DBUpdateInt(1, "b", "f", 1));
    EXPECT_TRUE(db.DBUpdateDateTime("2023-05-06 07:08:09", "dt", "f", 1));
    EXPECT_TRUE(db.DBUpdateBool(false, "word", "f", 1));
    EXPECT_EQ(rows("SELECT word FROM f"), (std::vector<std::vector<std::string>>{{"False"}}));

    std::string text;
    ASSERT_TRUE(db.DBReadStr(text, "f", "txt", 1));
    EXPECT_EQ(text, longText + "!");
    int i = 0;
    EXPECT_TRUE(db.DBReadInt(&i, "f", "i", 1));
    EXPECT_EQ(i, -42);
    float x = 0;
    EXPECT_TRUE(db.DBReadFloat(&x, "f", "x", 1));
    EXPECT_EQ(x, 1.5f);
    double y = 0;
    EXPECT_TRUE(db.DBReadDouble(&y, "f", "y", 1));
    EXPECT_EQ(y, 2.25);
    bool b = false;
    EXPECT_TRUE(db.DBReadBool(&b, "f", "b", 1));
    EXPECT_TRUE(b);
    EXPECT_TRUE(db.DBReadDateTime(text, "f", "dt", 1));
    EXPECT_EQ(text, "2023-05-06 07:08:09");

    // No row: false, target unchanged; a failing statement is reported.
    i = 7;
    EXPECT_FALSE(db.DBReadInt(&i, "f", "i", 2));
    EXPECT_EQ(i, 7);
    text = "kept";
    EXPECT_FALSE(db.DBReadStr(text, "f", "txt", 2));
    EXPECT_EQ(text, "kept");
    CaptureStdout();
    EXPECT_FALSE(db.DBUpdateStr("v", "nosuchcolumn", "f", 1));
    std::string out = GetCapturedStdout();
    EXPECT_EQ(out.rfind("SQLExecDirect failed: UPDATE f SET nosuchcolumn = \"v\" WHERE Id = 1\n", 0), 0u) << out;
}

TEST_F(GMDBDBTest, RowOperations) {
    CaptureStdout();
    ASSERT_TRUE(db.DBCreateTbl("r", "%i%s%f%d%b%a%m%t", "Id", "name", "x", "y", "flag", "day", "clock", "stamp"));
    EXPECT_EQ(GetCapturedStdout(), "");
    auto columns = rows("SELECT COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE FROM information_schema.COLUMNS WHERE "
                        "TABLE_SCHEMA = '" + dbName + "' AND TABLE_NAME = 'r' ORDER BY ORDINAL_POSITION");
    std::vector<std::vector<std::string>> expected = {
        {"Id", "int(11)", "NO"},  {"name", "varchar(199)", "NO"},          {"x", "float", "NO"},
        {"y", "double", "NO"},    {"flag", "enum('False','True')", "NO"}, {"day", "date", "NO"},
        {"clock", "time", "NO"},  {"stamp", "datetime", "NO"}};
    EXPECT_EQ(columns, expected);

    int id = 3;
    float x = 0.5f;
    double y = -1.25;
    ASSERT_TRUE(db.DBInsertRow("r", "%i%s%f%d%b%a%m%t", "Id", &id, "name", "alpha", "x", &x, "y", &y, "flag", true,
                               "day", "2024-01-31", "clock", "12:34:56", "stamp", "2024-01-31 12:34:56"));
    EXPECT_EQ(rows("SELECT * FROM r"),
              (std::vector<std::vector<std::string>>{
                  {"3", "alpha", "0.5", "-1.25", "True", "2024-01-31", "12:34:56", "2024-01-31 12:34:56"}}));

    x = 2.0f;
    y = 4.5;
    ASSERT_TRUE(db.DBUpdateRow("r", "%s%f%d%b%t", 3, "name", "beta", "x", &x, "y", &y, "flag", false, "stamp",
                               "2025-12-24 18:00:00"));
    std::string name, day, clock, stamp;
    float rx = 0;
    double ry = 0;
    bool flag = true;
    int rid = 0;
    ASSERT_TRUE(db.DBReadRow("r", "%i%s%f%d%b%a%m%t", 3, "Id", &rid, "name", &name, "x", &rx, "y", &ry, "flag", &flag,
                             "day", &day, "clock", &clock, "stamp", &stamp));
    EXPECT_EQ(rid, 3);
    EXPECT_EQ(name, "beta");
    EXPECT_EQ(rx, 2.0f);
    EXPECT_EQ(ry, 4.5);
    EXPECT_FALSE(flag);
    EXPECT_EQ(day, "2024-01-31");
    EXPECT_EQ(clock, "12:34:56");
    EXPECT_EQ(stamp, "2025-12-24 18:00:00");

    // A missing row leaves the targets; a failing column stops the read.
    name = "kept";
    EXPECT_TRUE(db.DBReadRow("r", "%s", 99, "name", &name));
    EXPECT_EQ(name, "kept");
    CaptureStdout();
    EXPECT_FALSE(db.DBReadRow("r", "%s%s", 3, "nosuch", &name, "name", &name));
    EXPECT_TRUE(contains(GetCapturedStdout(), "SQLExecDirect failed: SELECT nosuch FROM r WHERE Id = 3\n"));
    EXPECT_EQ(name, "kept");

    // Text that is no boolean.
    ASSERT_TRUE(exec("CREATE TABLE rb (Id int, flag varchar(10))"));
    ASSERT_TRUE(exec("INSERT INTO rb VALUES (1, 'maybe'), (2, 'T')"));
    flag = true;
    CaptureStdout();
    EXPECT_TRUE(db.DBReadRow("rb", "%b", 1, "flag", &flag));
    EXPECT_EQ(GetCapturedStdout(), "No boolean format!\n");
    EXPECT_TRUE(flag);
    flag = false;
    EXPECT_TRUE(db.DBReadRow("rb", "%b", 2, "flag", &flag));
    EXPECT_TRUE(flag);

    EXPECT_TRUE(db.DBDeleteRow("r", 3));
    EXPECT_TRUE(rows("SELECT * FROM r").empty());
    EXPECT_TRUE(db.DBDropTbl("r"));
    EXPECT_TRUE(db.DBDropTbl("r"));
    EXPECT_TRUE(rows("SHOW TABLES LIKE 'r'").empty());
}

TEST_F(GMDBDBTest, UnknownTypeCodesAreReportedAndTakeNoArgument) {
    CaptureStdout();
    EXPECT_TRUE(db.DBCreateTbl("w", "%i%x%s", "Id", "name"));
    EXPECT_EQ(GetCapturedStdout(), "Wrong types\n");
    EXPECT_EQ(rows("SELECT COUNT(*) FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = '" + dbName +
                   "' AND TABLE_NAME = 'w'"),
              (std::vector<std::vector<std::string>>{{"2"}}));
    int id = 1;
    CaptureStdout();
    EXPECT_TRUE(db.DBInsertRow("w", "%i%q%s", "Id", &id, "name", "n1"));
    EXPECT_EQ(GetCapturedStdout(), "Wrong types\n");
    CaptureStdout();
    EXPECT_TRUE(db.DBUpdateRow("w", "%z%s", 1, "name", "n2"));
    EXPECT_EQ(GetCapturedStdout(), "Wrong types.\n");
    std::string name;
    CaptureStdout();
    EXPECT_TRUE(db.DBReadRow("w", "%s%ss", 1, "name", &name));
    EXPECT_EQ(GetCapturedStdout(), "Wrong types.\n");
    EXPECT_EQ(name, "n2");
}

TEST_F(GMDBDBTest, FrequenciesStatementIsRejectedByMariaDB) {
    // "Index" is a reserved word here, so the fixed statement cannot run.
    CaptureStdout();
    EXPECT_TRUE(db.DBReadFrequencies().empty());
    EXPECT_TRUE(contains(GetCapturedStdout(), "SQLExecDirect failed: SELECT Index, Frequency FROM Passenger\n"));
}

// ---- databases and the ODBC configuration file -----------------------------

TEST_F(GMDBDBTest, CreateAndDropDatabaseEditTheConfigurationFile) {
    testsupport::ScratchDir dir("gmdb-odbcini");
    const std::string before = "[scpn]\nDriver = x\n\n[other]\nDriver = y\n";
    dir.write("odbc.ini", before);
    GMDB::setOdbcIniPath(dir.file("odbc.ini"));
    const std::string name = dbName.substr(0, 40) + "_db";
    ASSERT_TRUE(exec("DROP DATABASE IF EXISTS " + name));
    GMDB service;
    CaptureStdout();
    ASSERT_TRUE(service.DBCreateDB(name.c_str(), "MariaDB"));
    std::string out = GetCapturedStdout();
    EXPECT_TRUE(contains(out, "trying to connect to DSN=gmServiceDSN, USER=, PASS=\nconnection established!\n")) << out;
    const std::string section = "[" + name + "]\nDescription\t\t= myodbc\nDriver\t\t= MariaDB\nTrace\t\t= No\n"
                                "TraceFile\t\t= \nServer\t\t= \nPort\t\t= \nSocket\t\t= \nDatabase\t\t= " + name + "\n\n";
    EXPECT_EQ(dir.read("odbc.ini"), before + section);
    EXPECT_EQ(rows("SHOW DATABASES LIKE '" + name + "'"), (std::vector<std::vector<std::string>>{{name}}));

    // The database exists now: CREATE DATABASE fails, the file stays.
    CaptureStdout();
    EXPECT_FALSE(service.DBCreateDB(name.c_str(), "MariaDB"));
    EXPECT_TRUE(contains(GetCapturedStdout(), "SQLExecDirect failed: CREATE DATABASE " + name + "\n"));
    EXPECT_EQ(dir.read("odbc.ini"), before + section);

    // A section in the middle goes up to the next section.
    dir.write("odbc.ini", "[scpn]\nDriver = x\n\n" + section + "[other]\nDriver = y\n");
    CaptureStdout();
    EXPECT_TRUE(service.DBDropDB(name.c_str()));
    GetCapturedStdout();
    EXPECT_EQ(dir.read("odbc.ini"), "[scpn]\nDriver = x\n\n[other]\nDriver = y\n");
    EXPECT_TRUE(rows("SHOW DATABASES LIKE '" + name + "'").empty());

    CaptureStdout();
    EXPECT_TRUE(service.DBDropDB(name.c_str()));
    out = GetCapturedStdout();
    EXPECT_TRUE(endsWith(out, "connection established!\n[" + name + "]-entry does not exist in file!\n")) << out;
    EXPECT_EQ(dir.read("odbc.ini"), "[scpn]\nDriver = x\n\n[other]\nDriver = y\n");

    // An existing section is kept as it is.
    dir.write("odbc.ini", section);
    CaptureStdout();
    EXPECT_TRUE(service.DBCreateDB(name.c_str(), "Other"));
    out = GetCapturedStdout();
    EXPECT_TRUE(contains(out, "connection established!\nEntry already exists! Please select new name.\n")) << out;
    EXPECT_EQ(dir.read("odbc.ini"), section);
    CaptureStdout();
    EXPECT_TRUE(service.DBDropDB(name.c_str()));
    GetCapturedStdout();
    EXPECT_EQ(dir.read("odbc.ini"), "");

    // A file that cannot be written.
    GMDB::setOdbcIniPath(dir.file("missing/odbc.ini"));
    CaptureStdout();
    EXPECT_TRUE(service.DBCreateDB(name.c_str(), "MariaDB"));
    out = GetCapturedStdout();
    EXPECT_TRUE(contains(out, "connection established!\nFile could not be opened\nFile could not be opend\n")) << out;
    CaptureStdout();
    EXPECT_TRUE(service.DBDropDB(name.c_str()));
    out = GetCapturedStdout();
    EXPECT_TRUE(contains(out, "File could not be opened\n[" + name + "]-entry does not exist in file!\n")) << out;
    GMDB::setOdbcIniPath("/etc/odbc.ini");
}

} // namespace

TEST_F(GMDBDBTest, TextsWithQuotesAndBackslashesAreStoredAsGiven) {
    CaptureStdout();
    ASSERT_TRUE(db.DBCreateTbl("esc", "%i%s%s", "Id", "txt", "other"));
    GetCapturedStdout();
    const std::vector<std::string> texts = {
        "say \"hi\"",          "back\\slash",      "x\", other = \"y",  "x\\\", other = \"y",
        "a; DROP TABLE esc; --", "/* c */ # -- ' `", "\\",                "\"\"",
        "trailing\\"};
    int id = 0;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        ++id;
        CaptureStdout();
        EXPECT_TRUE(db.DBInsertRow("esc", "%i%s%s", "Id", &id, "txt", text.c_str(), "other", "untouched"));
        std::string read;
        EXPECT_TRUE(db.DBReadStr(read, "esc", "txt", id));
        EXPECT_EQ(read, text);
        // The field update and the row update write it as given too, and
        // change nothing else.
        const std::string updated = text + "'\"";
        EXPECT_TRUE(db.DBUpdateStr(updated.c_str(), "txt", "esc", id));
        EXPECT_TRUE(db.DBReadStr(read, "esc", "txt", id));
        EXPECT_EQ(read, updated);
        EXPECT_TRUE(db.DBUpdateRow("esc", "%s", id, "txt", text.c_str()));
        std::string txt, other;
        EXPECT_TRUE(db.DBReadRow("esc", "%s%s", id, "txt", &txt, "other", &other));
        const std::string out = GetCapturedStdout();
        EXPECT_EQ(txt, text) << out;
        EXPECT_EQ(other, "untouched") << out;
    }
    EXPECT_EQ(rows("SELECT COUNT(*) FROM esc"), (std::vector<std::vector<std::string>>{{std::to_string(id)}}));

    // Marking and place names are texts as well.
    marking_description d;
    d.markingname = "it's \"mine\"\\";
    d.placenames = {"P \"1\"", "P\\2"};
    CaptureStdout();
    EXPECT_TRUE(db.DBCreateMarking(&d));
    GetCapturedStdout();
    EXPECT_EQ(rows("SELECT name FROM markings"), (std::vector<std::vector<std::string>>{{d.markingname}}));
    EXPECT_EQ(rows("SELECT name FROM 1_places ORDER BY id"),
              (std::vector<std::vector<std::string>>{{"P \"1\""}, {"P\\2"}}));
}

// A value beyond its attribute's C type fails only its own row: the row is
// reported like a token of an unknown place and skipped, the rows after it
// are read.
TEST_F(GMDBDBTest, ReadTokensSkipsARowWhoseValueDoesNotFit) {
    createDataMarking({"P1"});
    ASSERT_TRUE(exec("ALTER TABLE 1_objects_data MODIFY s BIGINT"));
    ASSERT_TRUE(exec("INSERT INTO 1_objects_data VALUES (1, 'one', 1, 0, NULL, 0, 0, 0, 0), "
                     "(2, 'big', 5000000000, 0, NULL, 0, 0, 0, 0), (3, 'three', NULL, 0, NULL, 0, 0, 0, 0)"));
    ASSERT_TRUE(exec("INSERT INTO 1_tokens_data VALUES (10, 1, 1), (11, 2, 1), (12, 3, 1)"));

    auto attributes = dataAttributes();
    token_description_list result;
    CaptureStdout();
    EXPECT_TRUE(db.DBReadTokens(1, "Data", &attributes, &result));
    const std::string out = GetCapturedStdout();
    deleteAll(attributes);
    EXPECT_TRUE(contains(out, "Could not read row 2 (token 11 of place 'P1'): column s: ")) << out;
    EXPECT_TRUE(endsWith(out, "; the token is skipped.\n")) << out;
    std::vector<int> ids;
    for (const token_description* t : result.token_descriptions) ids.push_back(t->id);
    EXPECT_EQ(ids, (std::vector<int>{10, 12}));
    // The NULL of the row after the skipped one reads as in the row taken
    // before it, never as the value that did not fit.
    if (result.token_descriptions.size() == 2u) {
        EXPECT_EQ(GMDB::int32FromBuffer(result.token_descriptions[1]->attributes[1]->value), 1);
        EXPECT_EQ(GMDB::textFromBuffer(result.token_descriptions[1]->attributes[0]->value), "three");
    }
    deleteDescriptions(result);
}

// A server that accepts the connection and never answers: the listening
// socket's backlog completes the TCP handshake, and nothing is ever sent.
TEST_F(GMDBDBTest, ASilentServerIsGivenUpWithinSeconds) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    testsupport::ScratchDir dir("silent-server");
    dir.write("odbc.ini", "[silent]\nDriver = MariaDB\nSERVER = 127.0.0.1\nPORT = " +
                              std::to_string(ntohs(address.sin_port)) + "\nDATABASE = scpn\n");
    // In a child of its own, so that the driver manager reads this
    // configuration and nothing of it stays in this process.
    const std::string outPath = dir.file("child.out");
    std::cout.flush();
    const auto begin = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 1) < 0) _exit(127);
        setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
        GMDB silent;
        const bool connected = silent.DBConnect("silent", "quorvel", "pelkorn");
        std::cout << (connected ? "connected" : "refused") << std::flush;
        _exit(0);
    }
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - begin < std::chrono::seconds(60))
        usleep(50000);
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    close(listener);
    const std::string out = dir.read("child.out");
    EXPECT_NE(done, 0) << "still waiting after 60 s";
    EXPECT_LT(seconds, 30.0);
    EXPECT_TRUE(contains(out, "Error SQLConnect -1\n")) << out;
    EXPECT_TRUE(endsWith(out, "refused")) << out;
}
