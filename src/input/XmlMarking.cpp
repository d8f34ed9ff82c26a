#include "input/XmlMarking.h"

#include <cstdlib>
#include <iostream>
#include <limits>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

namespace xml = xercesc;

namespace {

const char* const kMarkingFile = "marking.xml";

// Entity expansions allowed in one document: plenty for a marking, far too
// few for a document built to exhaust memory by nested entities.
const XMLSize_t kEntityExpansionLimit = 10000;

// A Xerces text in the local code page.
std::string toLocal(const XMLCh* text) {
    if (text == nullptr) return std::string();
    char* local = xml::XMLString::transcode(text);
    std::string result = local != nullptr ? local : "";
    xml::XMLString::release(&local);
    return result;
}

// A Xerces copy of a local text, released with the object.
class XmlText {
public:
    explicit XmlText(const char* text) : text_(xml::XMLString::transcode(text)) {}
    ~XmlText() { xml::XMLString::release(&text_); }
    XmlText(const XmlText&) = delete;
    XmlText& operator=(const XmlText&) = delete;
    const XMLCh* get() const { return text_; }

private:
    XMLCh* text_;
};

[[noreturn]] void fail(const char* prefix, const std::string& message) {
    std::cout << prefix << message << "\n" << std::flush;
    std::exit(1);
}

// The library keeps a reference count of initialisations; one per process
// is enough, since it is never terminated.
void initializeXerces() {
    static bool initialized = false;
    if (initialized) return;
    try {
        xml::XMLPlatformUtils::Initialize("en_US");
    } catch (const xml::XMLException& e) {
        // The transcoders may be unusable now: keep the message's ASCII.
        std::string message;
        for (const XMLCh* c = e.getMessage(); c != nullptr && *c != 0; ++c)
            message += *c < 128 ? static_cast<char>(*c) : '?';
        fail("Error during initialization! :", message);
    }
    initialized = true;
}

} // namespace

void XmlMarking::forEachToken(const std::string& placeName,
                              const std::function<void(xml::DOMElement*)>& visit) {
    initializeXerces();

    // The handler and the security manager must outlive the parser.
    xml::HandlerBase errorHandler;
    xml::SecurityManager security;
    security.setEntityExpansionLimit(kEntityExpansionLimit);
    xml::XercesDOMParser parser;
    parser.setErrorHandler(&errorHandler);
    parser.setLoadExternalDTD(false);
    parser.setDisableDefaultEntityResolution(true);
    parser.setSecurityManager(&security);

    try {
        parser.parse(kMarkingFile);
    } catch (const xml::XMLException& e) {
        fail("Xerces XML Exception message is: ", toLocal(e.getMessage()));
    } catch (const xml::DOMException& e) {
        fail("Xerces DOM Exception message is: ", toLocal(e.getMessage()));
    } catch (const xml::SAXException& e) {
        fail("Xerces SAX Exception message is: ", toLocal(e.getMessage()));
    } catch (...) {
        std::cout << "Xerces Unexpected Exception \n" << std::flush;
        std::exit(1);
    }

    xml::DOMDocument* document = parser.getDocument();
    // An element without a "place" attribute reads as the empty text, which
    // names no place.
    if (document == nullptr || placeName.empty()) return;
    const XmlText tokenTag("token");
    const XmlText placeAttribute("place");
    const XmlText wanted(placeName.c_str());
    xml::DOMNodeList* tokens = document->getElementsByTagName(tokenTag.get());
    const XMLSize_t count = tokens->getLength();
    for (XMLSize_t i = 0; i < count; ++i) {
        auto* element = static_cast<xml::DOMElement*>(tokens->item(i));
        if (xml::XMLString::equals(element->getAttribute(placeAttribute.get()), wanted.get())) visit(element);
    }
}

std::string XmlMarking::attribute(const xml::DOMElement* element, const char* name) {
    const XmlText attributeName(name);
    return toLocal(element->getAttribute(attributeName.get()));
}

long XmlMarking::toLong(const std::string& text) {
    // strtol reads exactly what atol reads, but saturates instead of
    // overflowing.
    return std::strtol(text.c_str(), nullptr, 10);
}

std::int32_t XmlMarking::toInt32(const std::string& text) {
    const long value = toLong(text);
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

DateTime XmlMarking::toDateTime(const std::string& text) {
    return DateTime::Check(text) ? DateTime(text) : DateTime();
}
