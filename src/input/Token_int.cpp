#include "input/Token_int.h"

#include <cstdint>
#include <cstring>

#include <sql.h>
#include <sqlext.h>

#include "input/GMDB.h"
#include "input/XmlMarking.h"
#include "net/Place.h"

Token_int::Token_int(long v) : value(v) {}

Token_int::Token_int(const Token_int& other, bool copyTransition) : Token(other, copyTransition), value(other.value) {}

Token_int& Token_int::operator=(const Token_int& other) {
    Token::operator=(other);
    value = other.value;
    return *this;
}

void Token_int::addInitialTokens(Place* place) {
    if (place == nullptr) return;
    XmlMarking::forEachToken(place->getName(), [place](xercesc::DOMElement* element) {
        place->addToken(Ptr<Token>(new Token_int(XmlMarking::toLong(XmlMarking::attribute(element, "value")))));
    });
}

void Token_int::createTokensFromDB(NetClass*, GMDB* connection, token_info_list& tokens, token_reference_list&) {
    std::vector<attr_name_type_info*> request{new attr_name_type_info{"value", SQL_C_SLONG}};
    token_description_list result;
    connection->DBReadTokens(1, "Container", &request, &result);
    for (attr_name_type_info* attribute : request) delete attribute;

    for (token_description* description : result.token_descriptions) {
        std::int32_t value = 0;
        if (!description->attributes.empty()) std::memcpy(&value, description->attributes[0]->value, sizeof value);
        tokens.push_back(new token_info{"int", Ptr<Token>(new Token_int(value)), description->id,
                                        description->place_name});
        for (token_attribute* attribute : description->attributes) delete attribute;
        delete description;
    }
}
