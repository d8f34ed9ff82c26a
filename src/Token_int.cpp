#include "Token_int.h"

Token_int::Token_int(long v) : value(v) {}

Token_int::Token_int(const Token_int& other, bool copyTransition) : Token(other, copyTransition), value(other.value) {}

Token_int& Token_int::operator=(const Token_int& other) {
    Token::operator=(other);
    value = other.value;
    return *this;
}

// Placeholders until the XML and database readers are attached.
void Token_int::addInitialTokens(Place*) {}
void Token_int::createTokensFromDB(NetClass*, GMDB*, token_info_list&, token_reference_list&) {}
