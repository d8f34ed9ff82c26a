#include "input/XmlMarking.h"

#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <limits>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemoryManager.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

namespace xml = xercesc;

namespace {

const char* const kMarkingFile = "marking.xml";

// Entity expansions allowed in one document: plenty for a marking, far too
// few for a document built to exhaust memory by nested entities.
const XMLSize_t kEntityExpansionLimit = 10000;

// The memory one reading of the file may take, document included. A marking
// of a few MB fits many times over; a small file whose entities expand to
// hundreds of MB (few references, each to a large entity) ends at this
// bound instead of exhausting the machine.
const XMLSize_t kParseMemoryLimit = XMLSize_t(64) << 20;

// Gives the parser memory up to a budget; beyond it, an allocation fails as
// Xerces' own allocations fail when the system has no memory left. The
// blocks still held when the manager goes are released: Xerces loses a block
// when it cannot open the file as a stream (a directory named marking.xml).
class BoundedMemory : public xml::MemoryManager {
public:
    explicit BoundedMemory(XMLSize_t limit) : limit_(limit) {}
    ~BoundedMemory() override {
        while (first_ != nullptr) {
            Block* next = first_->next;
            std::free(first_);
            first_ = next;
        }
    }
    BoundedMemory(const BoundedMemory&) = delete;
    BoundedMemory& operator=(const BoundedMemory&) = delete;

    xml::MemoryManager* getExceptionMemoryManager() override { return xml::XMLPlatformUtils::fgMemoryManager; }

    void* allocate(XMLSize_t size) override {
        if (size > limit_ - used_) {
            exceeded_ = true;
            throw xml::OutOfMemoryException();
        }
        auto* block = static_cast<Block*>(std::malloc(sizeof(Block) + size));
        if (block == nullptr) throw xml::OutOfMemoryException();
        block->size = size;
        block->previous = nullptr;
        block->next = first_;
        if (first_ != nullptr) first_->previous = block;
        first_ = block;
        used_ += size;
        return block + 1;
    }

    void deallocate(void* p) override {
        if (p == nullptr) return;
        Block* block = static_cast<Block*>(p) - 1;
        if (block->previous != nullptr) block->previous->next = block->next;
        else first_ = block->next;
        if (block->next != nullptr) block->next->previous = block->previous;
        used_ -= block->size;
        std::free(block);
    }

    bool exceeded() const { return exceeded_; }

private:
    // In front of every block given out, which stays aligned for every type.
    struct alignas(std::max_align_t) Block {
        Block* previous;
        Block* next;
        XMLSize_t size;
    };
    const XMLSize_t limit_;
    XMLSize_t used_ = 0;
    Block* first_ = nullptr;
    bool exceeded_ = false;
};

// A Xerces text in the local code page.
std::string toLocal(const XMLCh* text) {
    if (text == nullptr) return std::string();
    char* local = xml::XMLString::transcode(text);
    std::string result = local != nullptr ? local : "";
    xml::XMLString::release(&local);
    return result;
}

// The ASCII characters of a text, without the transcoders.
std::string asciiText(const XMLCh* text) {
    std::string message;
    for (const XMLCh* c = text; c != nullptr && *c != 0; ++c) message += *c < 128 ? static_cast<char>(*c) : '?';
    return message;
}

// The text of an exception. Its transcoding may fail like the parse did
// (no memory left): the ASCII characters are kept then.
std::string messageText(const XMLCh* text) {
    try {
        return toLocal(text);
    } catch (...) {
        return asciiText(text);
    }
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
        // The transcoders may be unusable now.
        fail("Error during initialization! :", asciiText(e.getMessage()));
    }
    initialized = true;
}

} // namespace

namespace {

// Parses the file and visits the matching elements. Every exception of the
// library, out of memory included, is turned into the one line that ends
// the program; that line is returned, empty when all went well. The parser
// and its document are gone when this returns.
std::string readTokens(const std::string& placeName, const std::function<void(xml::DOMElement*)>& visit) {
    BoundedMemory memory(kParseMemoryLimit);
    try {
        // The handler and the security manager must outlive the parser.
        xml::HandlerBase errorHandler;
        xml::SecurityManager security;
        security.setEntityExpansionLimit(kEntityExpansionLimit);
        xml::XercesDOMParser parser(nullptr, &memory);
        parser.setErrorHandler(&errorHandler);
        parser.setLoadExternalDTD(false);
        parser.setDisableDefaultEntityResolution(true);
        parser.setSecurityManager(&security);
        parser.parse(kMarkingFile);

        xml::DOMDocument* document = parser.getDocument();
        // An element without a "place" attribute reads as the empty text,
        // which names no place.
        if (document == nullptr || placeName.empty()) return std::string();
        const XmlText tokenTag("token");
        const XmlText placeAttribute("place");
        const XmlText wanted(placeName.c_str());
        xml::DOMNodeList* tokens = document->getElementsByTagName(tokenTag.get());
        const XMLSize_t count = tokens->getLength();
        for (XMLSize_t i = 0; i < count; ++i) {
            auto* element = static_cast<xml::DOMElement*>(tokens->item(i));
            if (xml::XMLString::equals(element->getAttribute(placeAttribute.get()), wanted.get())) visit(element);
        }
        return std::string();
    } catch (const xml::OutOfMemoryException& e) {
        std::string line = "Xerces XML Exception message is: " + messageText(e.getMessage());
        if (memory.exceeded())
            line += " (" + std::string(kMarkingFile) + " needs more than " + std::to_string(kParseMemoryLimit >> 20) +
                    " MB once its entities are expanded)";
        return line;
    } catch (const xml::XMLException& e) {
        return "Xerces XML Exception message is: " + messageText(e.getMessage());
    } catch (const xml::DOMException& e) {
        return "Xerces DOM Exception message is: " + messageText(e.getMessage());
    } catch (const xml::SAXException& e) {
        return "Xerces SAX Exception message is: " + messageText(e.getMessage());
    } catch (...) {
        return "Xerces Unexpected Exception ";
    }
}

} // namespace

void XmlMarking::forEachToken(const std::string& placeName,
                              const std::function<void(xml::DOMElement*)>& visit) {
    initializeXerces();
    std::string failure;
    try {
        failure = readTokens(placeName, visit);
    } catch (...) {
        // No memory left even for the message.
        failure = "Xerces Unexpected Exception ";
    }
    if (!failure.empty()) fail("", failure);
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
