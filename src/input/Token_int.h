#pragma once
#include <string>

#include "base/BlockPool.h"
#include "net/DBRecords.h"
#include "net/Token.h"

class Place;
class NetClass;
class GMDB;

// The kernel's integer colour type "int".
class Token_int : public Token {
public:
    explicit Token_int(long value);
    Token_int(const Token_int& other, bool copyTransition);
    Token_int(const Token_int&) = delete;
    Token_int& operator=(const Token_int& other);

    std::string getName() const override { return "int"; }
    std::string content() const override { return std::to_string(value); }
    long getValue() const { return value; }

    // Adds to `place` one token per "token" element of "marking.xml" that
    // names it, in file order, with the value of its "value" attribute.
    static void addInitialTokens(Place* place);
    // Reads the "int" tokens of marking 1 from the marking database.
    static void createTokensFromDB(NetClass* net, GMDB* connection, token_info_list& tokens,
                                   token_reference_list& refs);

    // Firings create and drop tokens all the time: they come from the block pool.
    USE_BLOCK_POOL(Token_int)

private:
    long value;
};
