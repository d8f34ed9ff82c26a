#pragma once
// Records exchanged between the marking database (GMDB), the token classes
// that read their tokens from it and the generated net code that places the
// tokens. They are plain data: whoever fills a record creates it with new,
// whoever consumes it deletes it (the records do not delete what they point
// to).
#include <cstdint>
#include <string>
#include <vector>

#include "Ptr.h"
#include "net/Token.h"

// One attribute requested from the database: its name and the ODBC C type
// (SQL_C_CHAR, SQL_C_SLONG, ...) into which its column is fetched.
struct attr_name_type_info {
    std::string name;
    std::int16_t sql_c_type = 0;   // an SQLSMALLINT
};

// The size of one fetched column buffer.
constexpr std::size_t DB_ATTRIBUTE_BUFFER_SIZE = 512;

// One fetched attribute value: the raw column buffer as the driver wrote it
// for `sql_c_type`. Character data is zero-terminated within the buffer.
// Read fixed-size values with memcpy (or the GMDB helpers), never through a
// cast pointer.
struct token_attribute {
    std::string name;
    std::int16_t sql_c_type = 0;   // an SQLSMALLINT
    alignas(8) unsigned char value[DB_ATTRIBUTE_BUFFER_SIZE] = {};
};

// One stored token: its id, the name of its place and its attribute values
// in the order they were requested.
struct token_description {
    int id = 0;
    std::string place_name;
    std::vector<token_attribute*> attributes;
};

// All stored tokens of one colour type.
struct token_description_list {
    std::string tokentypename;
    std::vector<token_description*> token_descriptions;
};

// A colour type and its attributes, for creating the tables of a marking.
struct tokentype_description {
    std::string tokentypename;
    std::vector<attr_name_type_info*> attributes;
};

// A marking to create: its name, its places (ids 1, 2, ... in this order)
// and its colour types.
struct marking_description {
    std::string markingname;
    std::vector<std::string> placenames;
    std::vector<tokentype_description*> tokentypes;
};

// One row of the markings table.
struct marking_info {
    int id = 0;
    std::string name;
};

// A token read from the database, waiting to be put into its place.
struct token_info {
    std::string tokentypename;
    ReferenceCountedSmartPointer::Ptr<Token> token;
    int id = 0;
    std::string place_name;
};

// A token attribute that refers to another stored token (by type and id),
// to be resolved once all tokens are read.
struct token_reference {
    std::string tokentypename;
    ReferenceCountedSmartPointer::Ptr<Token> token;
    std::string attributename;
    int id = 0;
};

typedef std::vector<token_info*> token_info_list;
typedef std::vector<token_reference*> token_reference_list;
