#include "input/GMDB.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

static_assert(sizeof(std::int16_t) == sizeof(SQLSMALLINT), "C type codes are 16-bit");

namespace {

constexpr SQLLEN kBufferSize = 512;
// DBReadStr doubles its buffer while the value does not fit, up to this size.
constexpr std::size_t kMaxTextSize = std::size_t(64) << 20;
// Column buffer of the text codes of DBReadRow ("s" is VARCHAR(199)).
constexpr SQLLEN kRowTextSize = 200;

std::string& iniPath() {
    static std::string path = "/etc/odbc.ini";
    return path;
}

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

std::string formatFloat(double value) {
    char buf[512];   // "%f" of the largest double needs 317 characters
    std::snprintf(buf, sizeof buf, "%f", value);
    return buf;
}

// A text as a MariaDB string literal between double quotes: a backslash
// inside is escaped and a double quote doubled, so that any text is stored
// as given and never ends the literal early.
std::string quotedText(const std::string& text) {
    std::string literal = "\"";
    for (char c : text) {
        if (c == '\\') literal += "\\\\";
        else if (c == '"') literal += "\"\"";
        else literal += c;
    }
    return literal + "\"";
}

std::string quoted(const char* text) { return text == nullptr ? "NULL" : quotedText(text); }

// A value in an ODBC connection string: as it is, or braced with every
// closing brace doubled when it holds a character that would end or
// change it. (The MariaDB driver reads the keys after a braced value
// unreliably, so plain values stay plain and the time-outs come first.)
std::string connectionValue(const char* text) {
    const std::string plain = orEmpty(text);
    if (plain.find_first_of(";{}=") == std::string::npos && (plain.empty() || (plain.front() != ' ' && plain.back() != ' ')))
        return plain;
    std::string value = "{";
    for (char c : plain) {
        value += c;
        if (c == '}') value += '}';
    }
    return value + "}";
}

// Seconds a connection attempt may wait for the server: for the TCP
// connection and the server's greeting (a server that accepts and never
// answers costs this long), and for each later read or write.
constexpr int kConnectTimeoutSeconds = 5;
constexpr int kReadTimeoutSeconds = 10;

std::string boolText(bool value) { return value ? "\"True\"" : "\"False\""; }

void freeStatement(SQLHSTMT& stmt) {
    if (stmt != SQL_NULL_HSTMT) {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        stmt = SQL_NULL_HSTMT;
    }
}

// Splits a type text at '%': "%s%i%t" gives "s", "i", "t". Empty pieces
// (the one before the first '%') are dropped.
std::vector<std::string> splitTypes(const char* types) {
    std::vector<std::string> codes;
    std::string piece;
    for (const char* p = orEmpty(types);; ++p) {
        if (*p == '%' || *p == '\0') {
            if (!piece.empty()) codes.push_back(piece);
            piece.clear();
            if (*p == '\0') break;
        } else {
            piece += *p;
        }
    }
    return codes;
}

// The code letter of a piece, '?' for anything unknown.
char codeOf(const std::string& piece) {
    if (piece.size() != 1) return '?';
    switch (piece[0]) {
    case 's': case 'i': case 'f': case 'd': case 'b': case 'a': case 'm': case 't':
        return piece[0];
    default:
        return '?';
    }
}

// Takes the value argument of `code` from the list and gives its text for a
// statement, as the typed updates write it.
std::string takeValue(char code, va_list* ap) {
    switch (code) {
    case 'i': {
        const int* v = va_arg(*ap, const int*);
        return v == nullptr ? "NULL" : std::to_string(*v);
    }
    case 'f': {
        const float* v = va_arg(*ap, const float*);
        return v == nullptr ? "NULL" : formatFloat(*v);
    }
    case 'd': {
        const double* v = va_arg(*ap, const double*);
        return v == nullptr ? "NULL" : formatFloat(*v);
    }
    case 'b':
        return boolText(va_arg(*ap, int) != 0);   // bool is promoted to int
    default:   // s, a, m, t
        return quoted(va_arg(*ap, const char*));
    }
}

const char* columnType(char code) {
    switch (code) {
    case 's': return "VARCHAR(199) NOT NULL";
    case 'i': return "INT NOT NULL";
    case 'f': return "FLOAT NOT NULL";
    case 'd': return "DOUBLE NOT NULL";
    case 'b': return "ENUM('False','True') NOT NULL";
    case 'a': return "DATE NOT NULL";
    case 'm': return "TIME NOT NULL";
    default: return "DATETIME NOT NULL";   // t
    }
}

bool readFile(const std::string& path, std::string& content) {
    content.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
    std::fclose(f);
    return true;
}

// Writes `content` to `path`; prints `openMessage` when the file cannot be
// opened for writing and "Error in writing the file" on a short write.
void writeFile(const std::string& path, const std::string& content, const char* openMessage) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::cout << openMessage << std::endl;
        return;
    }
    std::size_t written = std::fwrite(content.data(), 1, content.size(), f);
    if (std::fclose(f) != 0 || written < content.size()) std::cout << "Error in writing the file" << std::endl;
}

// The range of an integer C type; false for the other types.
bool integerRange(SQLSMALLINT cType, long long& low, long long& high) {
    switch (cType) {
    case SQL_C_SLONG: case SQL_C_LONG: low = INT32_MIN; high = INT32_MAX; return true;
    case SQL_C_ULONG: low = 0; high = UINT32_MAX; return true;
    case SQL_C_SSHORT: case SQL_C_SHORT: low = INT16_MIN; high = INT16_MAX; return true;
    case SQL_C_USHORT: low = 0; high = UINT16_MAX; return true;
    case SQL_C_STINYINT: case SQL_C_TINYINT: low = INT8_MIN; high = INT8_MAX; return true;
    case SQL_C_UTINYINT: low = 0; high = UINT8_MAX; return true;
    default: return false;
    }
}

// Reads column `column` of the current row into `buffer` (`size` bytes) as
// `cType`; a NULL leaves the buffer as it was. An integer is read as 64 bits
// and checked against its type, because the driver cuts a wider value
// silently. False with `problem` set when the value cannot be had or does
// not fit.
bool readColumnValue(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType, void* buffer, SQLLEN size,
                     std::string& problem) {
    SQLLEN indicator = 0;
    long long low = 0, high = 0;
    if (!integerRange(cType, low, high)) {
        if (SQL_SUCCEEDED(SQLGetData(stmt, column, cType, buffer, size, &indicator))) return true;
        problem = GMDB::statementDiagnostic(stmt);
        return false;
    }
    SQLBIGINT value = 0;
    if (!SQL_SUCCEEDED(SQLGetData(stmt, column, SQL_C_SBIGINT, &value, sizeof value, &indicator))) {
        problem = GMDB::statementDiagnostic(stmt);
        return false;
    }
    if (indicator == SQL_NULL_DATA) return true;
    if (value < low || value > high) {
        problem = "the value " + std::to_string(value) + " does not fit";
        return false;
    }
    unsigned char* out = static_cast<unsigned char*>(buffer);
    switch (cType) {
    case SQL_C_SLONG: case SQL_C_LONG: { const std::int32_t v = static_cast<std::int32_t>(value); std::memcpy(out, &v, sizeof v); break; }
    case SQL_C_ULONG: { const std::uint32_t v = static_cast<std::uint32_t>(value); std::memcpy(out, &v, sizeof v); break; }
    case SQL_C_SSHORT: case SQL_C_SHORT: { const std::int16_t v = static_cast<std::int16_t>(value); std::memcpy(out, &v, sizeof v); break; }
    case SQL_C_USHORT: { const std::uint16_t v = static_cast<std::uint16_t>(value); std::memcpy(out, &v, sizeof v); break; }
    case SQL_C_STINYINT: case SQL_C_TINYINT: { const std::int8_t v = static_cast<std::int8_t>(value); std::memcpy(out, &v, sizeof v); break; }
    default: { const std::uint8_t v = static_cast<std::uint8_t>(value); std::memcpy(out, &v, sizeof v); break; }
    }
    return true;
}

std::string selectById(const char* table, const char* column, const char* idName, int id) {
    return std::string("SELECT ") + orEmpty(column) + " FROM " + orEmpty(table) + " WHERE " + idName + " = " +
           std::to_string(id);
}

} // namespace

GMDB::GMDB() : V_OD_Env(SQL_NULL_HENV), V_OD_hdbc(SQL_NULL_HDBC) {}

GMDB::~GMDB() {}

void GMDB::setOdbcIniPath(const std::string& path) { iniPath() = path; }

std::string GMDB::odbcIniPath() { return iniPath(); }

std::string GMDB::lcase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string GMDB::statementDiagnostic(SQLHSTMT stmt) {
    SQLCHAR state[6] = {0};
    SQLINTEGER native = 0;
    SQLCHAR message[kBufferSize] = {0};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, kBufferSize, &length)))
        return std::string();
    message[kBufferSize - 1] = 0;
    return std::string(reinterpret_cast<const char*>(message)) + " (" + std::to_string(native) + ")";
}

void GMDB::printDiagnostic(SQLHSTMT stmt) {
    SQLCHAR state[6] = {0};
    SQLINTEGER native = 0;
    SQLCHAR message[kBufferSize] = {0};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQL_NO_DATA;
    // The message of a failed statement is kept on the statement; the
    // connection's own record covers connection-level failures.
    if (stmt != SQL_NULL_HSTMT)
        rc = SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, kBufferSize, &length);
    if (!SQL_SUCCEEDED(rc) && V_OD_hdbc != SQL_NULL_HDBC)
        rc = SQLGetDiagRec(SQL_HANDLE_DBC, V_OD_hdbc, 1, state, &native, message, kBufferSize, &length);
    if (!SQL_SUCCEEDED(rc)) {
        message[0] = 0;
        native = 0;
    }
    message[kBufferSize - 1] = 0;
    std::cout << reinterpret_cast<const char*>(message) << " (" << native << ")" << std::endl;
}

bool GMDB::DBConnect(const char* dsn, const char* user, const char* password) {
    if (V_OD_Env != SQL_NULL_HENV && V_OD_hdbc != SQL_NULL_HDBC) return false;
    // A half-open object starts over.
    DBCloseConnect();

    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &V_OD_Env);
    if (!SQL_SUCCEEDED(rc)) {
        std::cout << "Error AllocHandle" << std::endl;
        V_OD_Env = SQL_NULL_HENV;
        return false;
    }
    rc = SQLSetEnvAttr(V_OD_Env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SQL_SUCCEEDED(rc)) {
        std::cout << "Error SetEnv" << std::endl;
        SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
        V_OD_Env = SQL_NULL_HENV;
        return false;
    }
    rc = SQLAllocHandle(SQL_HANDLE_DBC, V_OD_Env, &V_OD_hdbc);
    if (!SQL_SUCCEEDED(rc)) {
        std::cout << "Error AllocHDB " << rc << std::endl;
        V_OD_hdbc = SQL_NULL_HDBC;
        SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
        V_OD_Env = SQL_NULL_HENV;
        return false;
    }
    SQLSetConnectAttr(V_OD_hdbc, SQL_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kConnectTimeoutSeconds), 0);

    std::cout << "the following DSNs are available:" << std::endl;
    SQLCHAR name[kBufferSize];
    SQLCHAR description[kBufferSize];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT descriptionLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        name[0] = 0;
        description[0] = 0;
        rc = SQLDataSources(V_OD_Env, direction, name, kBufferSize, &nameLength, description, kBufferSize,
                            &descriptionLength);
        if (!SQL_SUCCEEDED(rc)) break;
        name[kBufferSize - 1] = 0;
        description[kBufferSize - 1] = 0;
        std::cout << "\tservername='" << reinterpret_cast<const char*>(name) << "', description='"
                  << reinterpret_cast<const char*>(description) << "'" << std::endl;
        direction = SQL_FETCH_NEXT;
    }

    std::cout << "trying to connect to DSN=" << orEmpty(dsn) << ", USER=" << orEmpty(user)
              << ", PASS=" << orEmpty(password) << std::endl;
    // The login time-out does not reach the MariaDB driver's wait for the
    // server's greeting; its own time-outs, which only a connection string
    // can set, bound the connection and every read and write.
    std::string connection = "CONN_TIMEOUT=" + std::to_string(kConnectTimeoutSeconds) +
                             ";READ_TIMEOUT=" + std::to_string(kReadTimeoutSeconds) +
                             ";WRITE_TIMEOUT=" + std::to_string(kReadTimeoutSeconds) + ";DSN=" + connectionValue(dsn) +
                             ";UID=" + connectionValue(user) + ";PWD=" + connectionValue(password);
    SQLSMALLINT completedLength = 0;
    rc = SQLDriverConnect(V_OD_hdbc, nullptr, reinterpret_cast<SQLCHAR*>(&connection[0]), SQL_NTS, nullptr, 0,
                          &completedLength, SQL_DRIVER_NOPROMPT);
    if (SQL_SUCCEEDED(rc)) {
        std::cout << "connection established!" << std::endl;
        return true;
    }
    std::cout << "Error SQLConnect " << rc << std::endl;
    printDiagnostic();
    // Nothing is kept of a failed attempt: the connection handle goes first,
    // since an environment with a connection on it cannot be released.
    SQLFreeHandle(SQL_HANDLE_DBC, V_OD_hdbc);
    V_OD_hdbc = SQL_NULL_HDBC;
    SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
    V_OD_Env = SQL_NULL_HENV;
    return false;
}

void GMDB::DBCloseConnect() {
    if (V_OD_hdbc != SQL_NULL_HDBC) {
        SQLDisconnect(V_OD_hdbc);
        SQLFreeHandle(SQL_HANDLE_DBC, V_OD_hdbc);
        V_OD_hdbc = SQL_NULL_HDBC;
    }
    if (V_OD_Env != SQL_NULL_HENV) {
        SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
        V_OD_Env = SQL_NULL_HENV;
    }
}

bool GMDB::AllocateStatementHandle(SQLHSTMT* stmt) {
    if (!connected() || stmt == nullptr) return false;
    SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, V_OD_hdbc, stmt);
    if (!SQL_SUCCEEDED(rc)) {
        *stmt = SQL_NULL_HSTMT;
        std::cout << "SQLAllocHandle failed" << std::endl;
        std::cout << "Error in AllocStatement " << rc << std::endl;
        printDiagnostic();
        return false;
    }
    return true;
}

bool GMDB::SQLQuery(SQLHSTMT* stmt, const char* statement) {
    if (!connected() || stmt == nullptr || *stmt == SQL_NULL_HSTMT) return false;
    SQLRETURN rc =
        SQLExecDirect(*stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(orEmpty(statement))), SQL_NTS);
    if (!SQL_SUCCEEDED(rc)) {
        std::cout << "SQLExecDirect failed: " << orEmpty(statement) << std::endl;
        std::cout << "Error in Select " << rc << std::endl;
        printDiagnostic(*stmt);
        return false;
    }
    return true;
}

bool GMDB::execute(const std::string& statement) {
    if (!connected()) return false;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!AllocateStatementHandle(&stmt)) return false;
    bool ok = SQLQuery(&stmt, statement.c_str());
    freeStatement(stmt);
    return ok;
}

bool GMDB::SQLGetTypeName(SQLSMALLINT cType, std::string& name) {
    if (!connected()) return false;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!AllocateStatementHandle(&stmt)) return false;

    SQLSMALLINT sqlType = cType;
    int requiredUnsigned = -1;   // -1: the first row will do
    switch (cType) {
    case SQL_C_CHAR:
        sqlType = SQL_LONGVARCHAR;
        break;
    case SQL_C_UTINYINT: case SQL_C_ULONG: case SQL_C_USHORT:
        sqlType = static_cast<SQLSMALLINT>(cType + 22);
        requiredUnsigned = 1;
        break;
    case SQL_C_STINYINT: case SQL_C_SLONG: case SQL_C_SSHORT:
        sqlType = static_cast<SQLSMALLINT>(cType + 20);
        requiredUnsigned = 0;
        break;
    default:
        break;
    }

    SQLRETURN rc = SQLGetTypeInfo(stmt, sqlType);
    if (!SQL_SUCCEEDED(rc)) {
        std::cout << "SQLGetTypeInfo failed: " << "type=" << sqlType << std::endl;
        std::cout << "Error in GetTypeInfo " << rc << std::endl;
        printDiagnostic(stmt);
        freeStatement(stmt);
        return false;
    }

    char typeName[kBufferSize];
    char createParams[kBufferSize];
    SQLSMALLINT unsignedAttribute = 0;
    SQLLEN typeNameInd = 0, createParamsInd = 0, unsignedInd = 0;
    SQLBindCol(stmt, 1, SQL_C_CHAR, typeName, kBufferSize, &typeNameInd);
    SQLBindCol(stmt, 6, SQL_C_CHAR, createParams, kBufferSize, &createParamsInd);
    SQLBindCol(stmt, 10, SQL_C_SSHORT, &unsignedAttribute, sizeof unsignedAttribute, &unsignedInd);

    bool found = false;
    for (;;) {
        typeName[0] = 0;
        unsignedAttribute = -1;
        rc = SQLFetch(stmt);
        if (!SQL_SUCCEEDED(rc)) break;
        if (requiredUnsigned >= 0 && (unsignedInd == SQL_NULL_DATA || unsignedAttribute != requiredUnsigned))
            continue;
        typeName[kBufferSize - 1] = 0;
        name = typeName;
        found = true;
        break;
    }
    freeStatement(stmt);
    return found;
}

bool GMDB::DBCreateMarking(marking_description* d) {
    if (!connected() || d == nullptr) return false;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!AllocateStatementHandle(&stmt)) return false;

    SQLINTEGER highest = -1;
    SQLLEN highestInd = 0;
    SQLBindCol(stmt, 1, SQL_C_SLONG, &highest, sizeof highest, &highestInd);
    if (!SQLQuery(&stmt, "SELECT MAX(id) FROM markings")) {
        if (!SQLQuery(&stmt, "CREATE TABLE markings (id int not null, name long varchar, primary key (id))")) {
            freeStatement(stmt);
            return false;
        }
        highest = 0;
    } else if (!SQL_SUCCEEDED(SQLFetch(stmt))) {
        highest = 0;
    }
    // An existing markings table without rows gives a NULL maximum.
    if (highest == -1) {
        freeStatement(stmt);
        return false;
    }
    freeStatement(stmt);
    if (!AllocateStatementHandle(&stmt)) return false;

    const std::string m = std::to_string(static_cast<long long>(highest) + 1);
    std::string statement = "INSERT INTO markings (id, name) values(" + m + ", " + quotedText(d->markingname) + ")";
    if (!SQLQuery(&stmt, statement.c_str())) {
        std::cout << "Couldn't insert new marking '" << d->markingname << "'" << std::endl;
        freeStatement(stmt);
        return false;
    }
    statement = "CREATE TABLE " + m + "_places (id int not null, name long varchar, primary key (id))";
    if (!SQLQuery(&stmt, statement.c_str())) {
        std::cout << "Couldn't create table '" << m << "_places" << "'" << std::endl;
        freeStatement(stmt);
        return false;
    }
    for (std::size_t k = 0; k < d->placenames.size(); ++k) {
        const std::string& place = d->placenames[k];
        statement =
            "INSERT INTO " + m + "_places (id, name) values(" + std::to_string(k + 1) + ", " + quotedText(place) + ")";
        if (!SQLQuery(&stmt, statement.c_str()))
            std::cout << "Couldn't store place '" << place << "' in table " << m << "_places" << std::endl;
    }
    for (tokentype_description* type : d->tokentypes) {
        if (type == nullptr) continue;
        const std::string t = lcase(type->tokentypename);
        statement = "CREATE TABLE " + m + "_tokens_" + t +
                    " (id int not null, object_id int, place_id int, primary key (id))";
        if (!SQLQuery(&stmt, statement.c_str())) {
            std::cout << "Couldn't create table '" << m << "_tokens_" << t << "'" << std::endl;
            freeStatement(stmt);
            return false;
        }
        statement = "CREATE TABLE " + m + "_objects_" + t + " (id int not null, primary key (id)";
        for (attr_name_type_info* attribute : type->attributes) {
            if (attribute == nullptr) continue;
            const std::string a = lcase(attribute->name);
            std::string typeName;
            if (!SQLGetTypeName(attribute->sql_c_type, typeName)) {
                std::cout << "Couldn't get sqltype name for '" << a << "' type=" << attribute->sql_c_type
                          << std::endl;
                freeStatement(stmt);
                return false;
            }
            statement += ", " + a + " " + typeName;
        }
        statement += ")";
        if (!SQLQuery(&stmt, statement.c_str())) {
            std::cout << "Couldn't create table '" << m << "_objects_" << t << "'" << std::endl;
            freeStatement(stmt);
            return false;
        }
    }
    freeStatement(stmt);
    return true;
}

std::string GMDB::readTokensStatement(int marking, const char* typeName,
                                      const std::vector<attr_name_type_info*>& attributes) {
    const std::string t = lcase(orEmpty(typeName));
    const std::string m = std::to_string(marking);
    std::string statement = "SELECT ";
    bool first = true;
    for (const attr_name_type_info* attribute : attributes) {
        if (!first) statement += ", ";
        statement += "oname." + lcase(attribute != nullptr ? attribute->name : std::string());
        first = false;
    }
    if (!attributes.empty()) statement += ",";
    statement += " tname.id, pname.name FROM " + m + "_tokens_" + t + " tname, " + m + "_objects_" + t +
                 " oname, " + m + "_places pname" + " WHERE tname.object_id = oname.id AND pname.id=tname.place_id";
    return statement;
}

bool GMDB::DBReadTokens(int marking, const char* typeName, std::vector<attr_name_type_info*>* attributes,
                        token_description_list* result) {
    if (!connected() || result == nullptr) return false;
    static const std::vector<attr_name_type_info*> none;
    const std::vector<attr_name_type_info*>& requested = attributes != nullptr ? *attributes : none;
    result->tokentypename = orEmpty(typeName);
    const std::size_t n = requested.size();
    if (n + 2 > 0xFFFF) {
        std::cout << "Too many attributes requested: " << n << std::endl;
        return false;
    }

    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!AllocateStatementHandle(&stmt)) return false;

    // One 512-byte buffer per attribute in one block, each aligned for every
    // C type and followed by a few spare bytes: a driver that writes a
    // terminator just past a full text column then writes into the spare
    // bytes, never into the next column or past the block.
    const std::size_t stride = kBufferSize + 8;
    std::vector<unsigned char> buffers(n * stride, 0);
    SQLUINTEGER tokenId = 0;
    char placeName[kBufferSize + 8] = {0};

    const std::string statement = readTokensStatement(marking, typeName, requested);
    if (!SQLQuery(&stmt, statement.c_str())) {
        freeStatement(stmt);
        return false;
    }
    // The columns are read one by one (SQLGetData) rather than bound: a value
    // that does not fit its C type (a BIGINT beyond an int attribute) then
    // fails that one column, and the row is reported and skipped while the
    // reading goes on. The buffers keep the values of the last row taken,
    // so that a NULL column reads as in the row before.
    std::vector<unsigned char> taken = buffers;
    std::size_t row = 0;
    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(stmt))) {
        ++row;
        std::string badColumn;
        std::string problem;
        for (std::size_t k = 0; k < n && badColumn.empty(); ++k) {
            const SQLSMALLINT cType = requested[k] != nullptr ? requested[k]->sql_c_type : SQL_C_CHAR;
            if (!readColumnValue(stmt, static_cast<SQLUSMALLINT>(k + 1), cType, &buffers[k * stride], kBufferSize,
                                 problem))
                badColumn = requested[k] != nullptr ? requested[k]->name : std::string();
        }
        tokenId = 0;
        placeName[0] = 0;
        std::string idProblem;
        const bool idRead = readColumnValue(stmt, static_cast<SQLUSMALLINT>(n + 1), SQL_C_ULONG, &tokenId,
                                            sizeof tokenId, idProblem);
        if (badColumn.empty() && !idRead) {
            badColumn = "id";
            problem = idProblem;
        }
        SQLLEN placeIndicator = 0;
        SQLGetData(stmt, static_cast<SQLUSMALLINT>(n + 2), SQL_C_CHAR, placeName, kBufferSize, &placeIndicator);
        placeName[kBufferSize - 1] = 0;
        if (!badColumn.empty()) {
            std::cout << "Could not read row " << row << " (token " << (idRead ? std::to_string(tokenId) : "?")
                      << " of place '" << placeName << "'): column " << badColumn << ": " << problem
                      << "; the token is skipped." << std::endl;
            buffers = taken;
            continue;
        }
        taken = buffers;
        auto* description = new token_description;
        description->id = static_cast<int>(tokenId);
        description->place_name = placeName;
        description->attributes.reserve(n);
        for (std::size_t k = 0; k < n; ++k) {
            auto* attribute = new token_attribute;
            if (requested[k] != nullptr) {
                attribute->name = requested[k]->name;
                attribute->sql_c_type = requested[k]->sql_c_type;
            }
            std::memcpy(attribute->value, &buffers[k * stride], kBufferSize);
            description->attributes.push_back(attribute);
        }
        result->token_descriptions.push_back(description);
    }
    // A row that cannot be fetched at all ends the reading; the rows before
    // it stay in the result.
    if (rc != SQL_NO_DATA) {
        std::cout << "SQLFetch failed: " << statement << std::endl;
        std::cout << "Error in Fetch " << rc << std::endl;
        printDiagnostic(stmt);
        std::cout << "The rows after row " << row << " were not read." << std::endl;
        freeStatement(stmt);
        return false;
    }
    freeStatement(stmt);
    return true;
}

bool GMDB::DBGetMarkings(std::vector<marking_info*>& list) {
    if (!connected()) return false;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!AllocateStatementHandle(&stmt)) return false;
    SQLUINTEGER id = 0;
    char name[kBufferSize];
    SQLLEN idInd = 0, nameInd = 0;
    SQLBindCol(stmt, 1, SQL_C_ULONG, &id, sizeof id, &idInd);
    SQLBindCol(stmt, 2, SQL_C_CHAR, name, kBufferSize, &nameInd);
    if (!SQLQuery(&stmt, "SELECT id, name FROM markings")) {
        freeStatement(stmt);
        return false;
    }
    for (;;) {
        id = 0;
        name[0] = 0;
        if (!SQL_SUCCEEDED(SQLFetch(stmt))) break;
        name[kBufferSize - 1] = 0;
        auto* info = new marking_info;
        info->id = static_cast<int>(id);
        info->name = nameInd == SQL_NULL_DATA ? std::string() : std::string(name);
        list.push_back(info);
    }
    freeStatement(stmt);
    return true;
}

std::map<int, double> GMDB::DBReadFrequencies() {
    std::map<int, double> frequencies;
    if (!connected()) return frequencies;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!AllocateStatementHandle(&stmt)) return frequencies;
    SQLUINTEGER index = 0;
    SQLDOUBLE frequency = 0.0;
    SQLLEN indexInd = 0, frequencyInd = 0;
    SQLBindCol(stmt, 1, SQL_C_ULONG, &index, sizeof index, &indexInd);
    SQLBindCol(stmt, 2, SQL_C_DOUBLE, &frequency, sizeof frequency, &frequencyInd);
    if (SQLQuery(&stmt, "SELECT Index, Frequency FROM Passenger")) {
        while (SQL_SUCCEEDED(SQLFetch(stmt))) frequencies[static_cast<int>(index)] = frequency;
    }
    freeStatement(stmt);
    return frequencies;
}

GMDB::ReadResult GMDB::readColumn(const std::string& statement, SQLSMALLINT cType, void* target, SQLLEN size) {
    if (!connected()) return ReadResult::Failed;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!AllocateStatementHandle(&stmt)) return ReadResult::Failed;
    SQLLEN indicator = 0;
    SQLBindCol(stmt, 1, cType, target, size, &indicator);
    ReadResult result = ReadResult::Failed;
    if (SQLQuery(&stmt, statement.c_str())) {
        if (!SQL_SUCCEEDED(SQLFetch(stmt)))
            result = ReadResult::NoRow;
        else
            result = indicator == SQL_NULL_DATA ? ReadResult::Null : ReadResult::Row;
    }
    freeStatement(stmt);
    return result;
}

// Reads column 1 of the first row as text into a buffer of `size` bytes
// (longer values are cut). False when the statement failed; `gotRow` tells
// whether a row came.
bool GMDB::readText(const std::string& statement, std::size_t size, std::string& out, bool& gotRow) {
    std::vector<char> buffer(size, 0);
    ReadResult r = readColumn(statement, SQL_C_CHAR, buffer.data(), static_cast<SQLLEN>(size));
    gotRow = r == ReadResult::Row || r == ReadResult::Null;
    if (r == ReadResult::Row) out.assign(buffer.data(), strnlen(buffer.data(), size));
    else if (r == ReadResult::Null) out.clear();
    return r != ReadResult::Failed;
}

bool GMDB::DBReadStr(std::string& out, const char* table, const char* column, int id) {
    if (!connected()) return false;
    const std::string statement = selectById(table, column, "id", id);
    for (std::size_t size = kBufferSize;; size *= 2) {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        if (!AllocateStatementHandle(&stmt)) return false;
        std::vector<char> buffer(size, 0);
        SQLLEN indicator = 0;
        SQLBindCol(stmt, 1, SQL_C_CHAR, buffer.data(), static_cast<SQLLEN>(size), &indicator);
        if (!SQLQuery(&stmt, statement.c_str())) {
            freeStatement(stmt);
            return false;
        }
        SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_SUCCESS_WITH_INFO) {
            SQLCHAR state[6] = {0};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            SQLCHAR message[kBufferSize];
            if (SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, kBufferSize,
                                            &length)) &&
                std::strcmp(reinterpret_cast<const char*>(state), "01004") == 0) {
                // Truncated: read again with twice the room.
                freeStatement(stmt);
                if (size >= kMaxTextSize) {
                    std::cout << "Value of " << orEmpty(table) << "." << orEmpty(column) << " longer than "
                              << kMaxTextSize << " bytes" << std::endl;
                    return false;
                }
                continue;
            }
        }
        const bool ok = SQL_SUCCEEDED(rc);
        if (ok)
            out = indicator == SQL_NULL_DATA ? std::string() : std::string(buffer.data(), strnlen(buffer.data(), size));
        freeStatement(stmt);
        return ok;
    }
}

bool GMDB::DBReadInt(int* out, const char* table, const char* column, int id) {
    SQLUINTEGER value = 0;
    ReadResult r = readColumn(selectById(table, column, "id", id), SQL_C_ULONG, &value, sizeof value);
    if (r == ReadResult::Row && out != nullptr) *out = static_cast<int>(value);
    return r == ReadResult::Row || r == ReadResult::Null;
}

bool GMDB::DBReadFloat(float* out, const char* table, const char* column, int id) {
    SQLREAL value = 0;
    ReadResult r = readColumn(selectById(table, column, "id", id), SQL_C_FLOAT, &value, sizeof value);
    if (r == ReadResult::Row && out != nullptr) *out = value;
    return r == ReadResult::Row || r == ReadResult::Null;
}

bool GMDB::DBReadDouble(double* out, const char* table, const char* column, int id) {
    SQLDOUBLE value = 0;
    ReadResult r = readColumn(selectById(table, column, "id", id), SQL_C_DOUBLE, &value, sizeof value);
    if (r == ReadResult::Row && out != nullptr) *out = value;
    return r == ReadResult::Row || r == ReadResult::Null;
}

bool GMDB::DBReadBool(bool* out, const char* table, const char* column, int id) {
    unsigned char value = 0;
    ReadResult r = readColumn(selectById(table, column, "id", id), SQL_C_BIT, &value, sizeof value);
    if (r == ReadResult::Row && out != nullptr) *out = value != 0;
    return r == ReadResult::Row || r == ReadResult::Null;
}

bool GMDB::DBReadDateTime(std::string& out, const char* table, const char* column, int id) {
    bool gotRow = false;
    return readText(selectById(table, column, "id", id), kBufferSize, out, gotRow) && gotRow;
}

bool GMDB::updateField(const char* table, const char* column, const std::string& value, int id) {
    return execute(std::string("UPDATE ") + orEmpty(table) + " SET " + orEmpty(column) + " = " + value +
                   " WHERE Id = " + std::to_string(id));
}

bool GMDB::DBUpdateStr(const char* value, const char* column, const char* table, int id) {
    return updateField(table, column, quoted(value), id);
}

bool GMDB::DBUpdateDate(const char* value, const char* column, const char* table, int id) {
    return updateField(table, column, quoted(value), id);
}

bool GMDB::DBUpdateTime(const char* value, const char* column, const char* table, int id) {
    return updateField(table, column, quoted(value), id);
}

bool GMDB::DBUpdateDateTime(const char* value, const char* column, const char* table, int id) {
    return updateField(table, column, quoted(value), id);
}

bool GMDB::DBUpdateInt(int value, const char* column, const char* table, int id) {
    return updateField(table, column, std::to_string(value), id);
}

bool GMDB::DBUpdateFloat(float value, const char* column, const char* table, int id) {
    return updateField(table, column, formatFloat(value), id);
}

bool GMDB::DBUpdateDouble(double value, const char* column, const char* table, int id) {
    return updateField(table, column, formatFloat(value), id);
}

bool GMDB::DBUpdateBool(bool value, const char* column, const char* table, int id) {
    return updateField(table, column, boolText(value), id);
}

bool GMDB::DBInsertRow(const char* table, const char* types, ...) {
    if (!connected()) return false;
    std::string names, values;
    va_list ap;
    va_start(ap, types);
    for (const std::string& piece : splitTypes(types)) {
        const char code = codeOf(piece);
        if (code == '?') {
            std::cout << "Wrong types" << std::endl;
            continue;
        }
        const char* name = va_arg(ap, const char*);
        std::string value = takeValue(code, &ap);
        if (!names.empty()) {
            names += ",";
            values += ",";
        }
        names += orEmpty(name);
        values += value;
    }
    va_end(ap);
    return execute(std::string("INSERT INTO ") + orEmpty(table) + " (" + names + ") VALUES (" + values + ")");
}

bool GMDB::DBUpdateRow(const char* table, const char* types, int id, ...) {
    if (!connected()) return false;
    bool ok = true;
    va_list ap;
    va_start(ap, id);
    for (const std::string& piece : splitTypes(types)) {
        const char code = codeOf(piece);
        if (code == '?') {
            std::cout << "Wrong types." << std::endl;
            continue;
        }
        const char* name = va_arg(ap, const char*);
        std::string value = takeValue(code, &ap);
        if (!updateField(table, name, value, id)) {
            ok = false;
            break;
        }
    }
    va_end(ap);
    return ok;
}

bool GMDB::DBReadRow(const char* table, const char* types, int id, ...) {
    if (!connected()) return false;
    bool ok = true;
    va_list ap;
    va_start(ap, id);
    for (const std::string& piece : splitTypes(types)) {
        const char code = codeOf(piece);
        if (code == '?') {
            std::cout << "Wrong types." << std::endl;
            continue;
        }
        const char* name = va_arg(ap, const char*);
        const std::string statement = selectById(table, name, "Id", id);
        ReadResult r = ReadResult::Failed;
        switch (code) {
        case 'i': {
            int* target = va_arg(ap, int*);
            SQLUINTEGER value = 0;
            r = readColumn(statement, SQL_C_ULONG, &value, sizeof value);
            if (r == ReadResult::Row && target != nullptr) *target = static_cast<int>(value);
            break;
        }
        case 'f': {
            float* target = va_arg(ap, float*);
            SQLREAL value = 0;
            r = readColumn(statement, SQL_C_FLOAT, &value, sizeof value);
            if (r == ReadResult::Row && target != nullptr) *target = value;
            break;
        }
        case 'd': {
            double* target = va_arg(ap, double*);
            SQLDOUBLE value = 0;
            r = readColumn(statement, SQL_C_DOUBLE, &value, sizeof value);
            if (r == ReadResult::Row && target != nullptr) *target = value;
            break;
        }
        case 'b': {
            bool* target = va_arg(ap, bool*);
            std::string text;
            bool gotRow = false;
            if (!readText(statement, kRowTextSize, text, gotRow)) break;
            r = gotRow ? ReadResult::Row : ReadResult::NoRow;
            if (!gotRow) break;
            if (text == "True" || text == "1" || text == "T") {
                if (target != nullptr) *target = true;
            } else if (text == "False" || text == "0" || text == "F") {
                if (target != nullptr) *target = false;
            } else {
                std::cout << "No boolean format!" << std::endl;
            }
            break;
        }
        default: {   // s, a, m, t
            std::string* target = va_arg(ap, std::string*);
            std::string text;
            bool gotRow = false;
            if (!readText(statement, code == 's' ? kRowTextSize : kBufferSize, text, gotRow)) break;
            r = gotRow ? ReadResult::Row : ReadResult::NoRow;
            if (gotRow && target != nullptr) *target = text;
            break;
        }
        }
        if (r == ReadResult::Failed) {
            ok = false;
            break;
        }
    }
    va_end(ap);
    return ok;
}

bool GMDB::DBDeleteRow(const char* table, int id) {
    return execute(std::string("DELETE FROM ") + orEmpty(table) + " WHERE Id = " + std::to_string(id));
}

bool GMDB::DBCreateTbl(const char* table, const char* types, ...) {
    if (!connected()) return false;
    std::string statement = std::string("CREATE TABLE IF NOT EXISTS ") + orEmpty(table) + " (";
    va_list ap;
    va_start(ap, types);
    for (const std::string& piece : splitTypes(types)) {
        const char code = codeOf(piece);
        if (code == '?') {
            std::cout << "Wrong types" << std::endl;
            continue;
        }
        const char* name = va_arg(ap, const char*);
        statement += std::string(" ") + orEmpty(name) + " " + columnType(code) + ",";
    }
    va_end(ap);
    if (statement.back() == ',')
        statement.back() = ')';
    else
        statement += ")";
    return execute(statement);
}

bool GMDB::DBDropTbl(const char* table) { return execute(std::string("DROP TABLE IF EXISTS ") + orEmpty(table)); }

// Runs one statement on a connection of its own to the service data source,
// which is closed again whatever happens.
bool GMDB::runOnServiceSource(const std::string& statement) {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!DBConnect("gmServiceDSN", "", "") || !AllocateStatementHandle(&stmt)) {
        DBCloseConnect();
        return false;
    }
    const bool ok = SQLQuery(&stmt, statement.c_str());
    freeStatement(stmt);
    DBCloseConnect();
    return ok;
}

bool GMDB::DBCreateDB(const char* name, const char* driver) {
    const std::string db = orEmpty(name);
    if (!runOnServiceSource("CREATE DATABASE " + db)) return false;

    const std::string path = iniPath();
    std::string content;
    if (!readFile(path, content)) std::cout << "File could not be opened" << std::endl;
    if (content.find("[" + db + "]\n") != std::string::npos) {
        std::cout << "Entry already exists! Please select new name." << std::endl;
        return true;
    }
    // A last line without line end would run into the new section header.
    if (!content.empty() && content.back() != '\n') content += "\n";
    content += "[" + db + "]\n";
    content += "Description\t\t= myodbc\n";
    content += std::string("Driver\t\t= ") + orEmpty(driver) + "\n";
    content += "Trace\t\t= No\n";
    content += "TraceFile\t\t= \n";
    content += "Server\t\t= \n";
    content += "Port\t\t= \n";
    content += "Socket\t\t= \n";
    content += "Database\t\t= " + db + "\n";
    content += "\n";
    writeFile(path, content, "File could not be opend");
    return true;
}

bool GMDB::DBDropDB(const char* name) {
    const std::string db = orEmpty(name);
    if (!runOnServiceSource("DROP DATABASE IF EXISTS " + db)) return false;

    const std::string path = iniPath();
    std::string content;
    if (!readFile(path, content)) std::cout << "File could not be opened" << std::endl;
    // The section header starts a line; the section ends where the next
    // section header starts a line, or at the end of the file.
    const std::string header = "[" + db + "]";
    std::size_t start = std::string::npos;
    for (std::size_t pos = content.find(header); pos != std::string::npos; pos = content.find(header, pos + 1)) {
        if (pos == 0 || content[pos - 1] == '\n') {
            start = pos;
            break;
        }
    }
    if (start == std::string::npos) {
        std::cout << header << "-entry does not exist in file!" << std::endl;
        return true;
    }
    const std::size_t next = content.find("\n[", start + header.size());
    const std::size_t end = next == std::string::npos ? content.size() : next + 1;
    content.erase(start, end - start);
    writeFile(path, content, "File could not be opened");
    return true;
}

bool GMDB::timestampFromBuffer(const unsigned char* buf, SQL_TIMESTAMP_STRUCT& out) {
    std::memset(&out, 0, sizeof out);
    if (buf == nullptr) return false;
    SQL_TIMESTAMP_STRUCT t;
    std::memcpy(&t, buf, sizeof t);
    static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > monthDays[t.month - 1] || t.hour > 23 ||
        t.minute > 59 || t.second > 61 || t.fraction > 999999999u)
        return false;
    out = t;
    return true;
}

std::int32_t GMDB::int32FromBuffer(const unsigned char* buf) {
    std::int32_t value = 0;
    if (buf != nullptr) std::memcpy(&value, buf, sizeof value);
    return value;
}

std::string GMDB::textFromBuffer(const unsigned char* buf, std::size_t size) {
    if (buf == nullptr) return std::string();
    const char* text = reinterpret_cast<const char*>(buf);
    return std::string(text, strnlen(text, size));
}
