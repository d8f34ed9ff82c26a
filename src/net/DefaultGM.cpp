#include "net/DefaultGM.h"

#include <ostream>

int DefaultGM::defaultCounter = 0;

DefaultGM::DefaultGM(const char* n, const char* t, NetClass* owner) : name(n), type(t), net(owner) {}

DefaultGM::DefaultGM(NetClass* owner)
    : name("GMdefault " + std::to_string(defaultCounter++)), type(), net(owner) {}

DefaultGM::~DefaultGM() {}

std::ostream& operator<<(std::ostream& out, const DefaultGM& element) {
    return out << "Default name: " << element.getName();
}
