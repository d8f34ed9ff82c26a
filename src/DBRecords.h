#pragma once
// Records exchanged between the marking database reader and the token classes.
#include <string>
#include <vector>

#include "Ptr.h"
#include "Token.h"

// A token created from a database row, waiting to be placed into the net.
struct token_info {
    std::string tokentypename;
    ReferenceCountedSmartPointer::Ptr<Token> token;
    int id = 0;
    std::string place_name;
};

// A reference attribute of a token that names another token by id.
struct token_reference {
    std::string tokentypename;
    ReferenceCountedSmartPointer::Ptr<Token> token;
    std::string attributename;
    int id = 0;
};

typedef std::vector<token_info*> token_info_list;
typedef std::vector<token_reference*> token_reference_list;
