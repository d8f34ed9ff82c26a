#pragma once
// Text that came from outside (a network peer) made safe for the console:
// control characters (bytes below 0x20, and 0x7F) are written as "\xNN", so
// that a peer can neither end a line early nor send terminal escape
// sequences. Printable ASCII and the bytes of other character sets are kept.
#include <string>

inline std::string printableText(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += hex[u >> 4];
            out += hex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}
