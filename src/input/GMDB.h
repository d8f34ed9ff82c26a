#pragma once
// Access to a marking database over ODBC: one environment and one connection,
// the tables of a marking (markings, M_places, M_tokens_T, M_objects_T), the
// reading of stored tokens, and general field, row and table operations.
//
// Every operation reports failures on standard output and by its result;
// nothing throws. A statement handle is taken for one operation and released
// by it. Table and column names are put into the statements as given; text
// values are escaped, so that any text is stored as given.
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "net/DBRecords.h"

class GMDB {
public:
    GMDB();
    // Does not disconnect: close a connection with DBCloseConnect.
    ~GMDB();

    GMDB(const GMDB&) = delete;
    GMDB& operator=(const GMDB&) = delete;

    // Connects to a data source. Prints the data sources that the driver
    // manager knows and the connection attempt. False when already connected
    // (without output) or when the connection fails (nothing is kept then).
    // A server that does not answer is given up after a few seconds.
    bool DBConnect(const char* dsn, const char* user, const char* password);
    // Disconnects and releases both handles; does nothing when not connected.
    void DBCloseConnect();

    // A new statement on the connection; the caller releases it.
    bool AllocateStatementHandle(SQLHSTMT* stmt);
    // Executes `statement` on `stmt`; a failure prints the statement, the
    // return code and the driver's message.
    bool SQLQuery(SQLHSTMT* stmt, const char* statement);
    // The data source's name of the SQL type that matches an ODBC C type
    // (SQL_C_CHAR gives the long character type; the integer C types give
    // the integer type of matching width and signedness).
    bool SQLGetTypeName(SQLSMALLINT cType, std::string& name);
    // The driver's first message on a statement: message, " (", native
    // code, ")"; empty when it has none.
    static std::string statementDiagnostic(SQLHSTMT stmt);
    // `text` with every character lower-cased.
    static std::string lcase(std::string text);

    // Adds a marking: a row in markings (created when missing) with the next
    // id, the table of its places and the two tables of each colour type.
    // False when the markings table exists but holds no row.
    bool DBCreateMarking(marking_description* d);
    // Appends to `result` one token_description per stored token of colour
    // type `typeName` in marking `marking`, with one token_attribute per
    // requested attribute (raw column buffer, see token_attribute).
    // The column buffers are reused from row to row: a NULL column keeps the
    // value of the previous row (zero bytes on the first row). A row with a
    // value that does not fit its C type is reported and skipped. False when
    // the statement fails, or when a row cannot be fetched (the rows before
    // it stay in `result`, which the caller deletes in any case).
    bool DBReadTokens(int marking, const char* typeName, std::vector<attr_name_type_info*>* attributes,
                      token_description_list* result);
    // Appends one marking_info per row of markings to `list`.
    bool DBGetMarkings(std::vector<marking_info*>& list);

    // Index -> Frequency of the table Passenger; empty on any failure.
    std::map<int, double> DBReadFrequencies();

    // Typed reads of one field: SELECT column FROM table WHERE id = id.
    // True when a row was fetched; a NULL field leaves the target unchanged
    // (DBReadStr and DBReadDateTime give the empty text).
    // DBReadStr grows its buffer until the whole value fits (up to 64 MiB).
    bool DBReadStr(std::string& out, const char* table, const char* column, int id);
    bool DBReadInt(int* out, const char* table, const char* column, int id);
    bool DBReadFloat(float* out, const char* table, const char* column, int id);
    bool DBReadDouble(double* out, const char* table, const char* column, int id);
    bool DBReadBool(bool* out, const char* table, const char* column, int id);
    bool DBReadDateTime(std::string& out, const char* table, const char* column, int id);

    // Typed updates of one field: UPDATE table SET column = value WHERE Id = id.
    // Texts, dates and times go between double quotes, booleans as "True" or
    // "False" between double quotes, floating-point values as "%f".
    bool DBUpdateStr(const char* value, const char* column, const char* table, int id);
    bool DBUpdateDate(const char* value, const char* column, const char* table, int id);
    bool DBUpdateTime(const char* value, const char* column, const char* table, int id);
    bool DBUpdateDateTime(const char* value, const char* column, const char* table, int id);
    bool DBUpdateInt(int value, const char* column, const char* table, int id);
    bool DBUpdateFloat(float value, const char* column, const char* table, int id);
    bool DBUpdateDouble(double value, const char* column, const char* table, int id);
    bool DBUpdateBool(bool value, const char* column, const char* table, int id);

    // Row operations. `types` is a sequence of one-letter codes, each after a
    // percent sign; each code takes its arguments from the variable list:
    //   code  column type                   insert/update value   read target
    //   s     VARCHAR(199) NOT NULL          const char*           std::string* (199 characters at most)
    //   i     INT NOT NULL                   const int*            int*
    //   f     FLOAT NOT NULL                 const float*          float*
    //   d     DOUBLE NOT NULL                const double*         double*
    //   b     ENUM('False','True') NOT NULL  bool (by value)       bool*
    //   a     DATE NOT NULL                  const char*           std::string*
    //   m     TIME NOT NULL                  const char*           std::string*
    //   t     DATETIME NOT NULL              const char*           std::string*
    // DBCreateTbl takes a column name per code; the others a column name and
    // then the value or target. An unknown code is reported and takes no
    // argument. A null value pointer is written as NULL.
    bool DBInsertRow(const char* table, const char* types, ...);
    // One UPDATE per column; stops with false at the first failing statement.
    bool DBUpdateRow(const char* table, const char* types, int id, ...);
    // One SELECT per column; a column without row leaves its target unchanged;
    // stops with false at the first failing statement.
    bool DBReadRow(const char* table, const char* types, int id, ...);
    bool DBDeleteRow(const char* table, int id);
    bool DBCreateTbl(const char* table, const char* types, ...);
    bool DBDropTbl(const char* table);

    // Create or drop a database through the data source "gmServiceDSN" (with
    // empty user and password; the object must not be connected) and add or
    // remove its data-source section in the ODBC configuration file.
    bool DBCreateDB(const char* name, const char* driver);
    bool DBDropDB(const char* name);

    // The ODBC configuration file that DBCreateDB and DBDropDB edit
    // ("/etc/odbc.ini" unless replaced).
    static void setOdbcIniPath(const std::string& path);
    static std::string odbcIniPath();

    // The SELECT that DBReadTokens executes.
    static std::string readTokensStatement(int marking, const char* typeName,
                                           const std::vector<attr_name_type_info*>& attributes);

    // Helpers for the readers of token_attribute buffers. The buffers are
    // plain bytes: fixed-size values are copied out, never read in place.
    //
    // A timestamp column (SQL_C_TYPE_TIMESTAMP). False, with `out` zeroed,
    // when the fields are no valid calendar date and time - in particular for
    // the zero date (year 0) that MariaDB stores for unknown dates, and for a
    // buffer that never received a value. Use a default time then.
    static bool timestampFromBuffer(const unsigned char* buf, SQL_TIMESTAMP_STRUCT& out);
    // A 32-bit integer column (SQL_C_SLONG or SQL_C_ULONG).
    static std::int32_t int32FromBuffer(const unsigned char* buf);
    // A character column (SQL_C_CHAR): the text up to the first zero byte,
    // at most the whole buffer.
    static std::string textFromBuffer(const unsigned char* buf, std::size_t size = DB_ATTRIBUTE_BUFFER_SIZE);
    // A bit column (SQL_C_BIT): true when the first byte is not zero.
    static bool bitFromBuffer(const unsigned char* buf) { return buf != nullptr && buf[0] != 0; }

private:
    bool runOnServiceSource(const std::string& statement);
    enum class ReadResult { Failed, NoRow, Null, Row };

    bool connected() const { return V_OD_Env != SQL_NULL_HENV && V_OD_hdbc != SQL_NULL_HDBC; }
    // Prints the driver's first message for a failed call (of the statement
    // when given, else of the connection): message, " (", native code, ")".
    void printDiagnostic(SQLHSTMT stmt = SQL_NULL_HSTMT);
    // Runs `statement` and fetches column 1 of its first row into `target`.
    ReadResult readColumn(const std::string& statement, SQLSMALLINT cType, void* target, SQLLEN size);
    bool execute(const std::string& statement);
    bool updateField(const char* table, const char* column, const std::string& value, int id);
    bool readText(const std::string& statement, std::size_t size, std::string& out, bool& gotRow);

    SQLHENV V_OD_Env;
    SQLHDBC V_OD_hdbc;
};
