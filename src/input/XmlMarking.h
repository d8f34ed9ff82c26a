#pragma once
// Reading of the initial marking file "marking.xml", shared by the colour
// classes: every "token" element, at any depth, names its place in the
// attribute "place" and carries the token's attribute values.
#include <cstdint>
#include <functional>
#include <string>

#include <xercesc/util/XercesDefs.hpp>

#include "time/DateTime.h"

XERCES_CPP_NAMESPACE_BEGIN
class DOMElement;
XERCES_CPP_NAMESPACE_END

class XmlMarking {
public:
    // Parses "marking.xml" in the working directory and calls `visit` for
    // every "token" element whose "place" attribute equals `placeName`
    // exactly, in document order. Every call parses the file anew. Any
    // error of the XML library prints one line on standard output and ends
    // the process with exit status 1.
    //
    // The file may come from anywhere: external DTDs and external entities
    // are never read, and entity expansion is limited.
    static void forEachToken(const std::string& placeName,
                             const std::function<void(xercesc::DOMElement*)>& visit);

    // The value of an attribute of `element`; the empty text when it is absent.
    static std::string attribute(const xercesc::DOMElement* element, const char* name);

    // Leading decimal digits with an optional sign, as atol reads them; 0
    // when there are none. Values beyond the range saturate.
    static long toLong(const std::string& text);
    static std::int32_t toInt32(const std::string& text);
    // A time "hh:mm:ss@mm/dd/yyyy"; any other text, the empty one of an
    // absent attribute among them, gives the default time.
    static DateTime toDateTime(const std::string& text);
};
