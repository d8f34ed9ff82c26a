#pragma once
#include <iosfwd>
#include <string>

class NetClass;

// The common base of places, transitions and measures: a name, a type text
// and the owning net.
class DefaultGM {
public:
    static int defaultCounter;

    DefaultGM(const char* name, const char* type, NetClass* net);
    // An element without a given name: "GMdefault <n>".
    explicit DefaultGM(NetClass* net);
    virtual ~DefaultGM();

    virtual bool operator<(const DefaultGM& other) const { return name.compare(other.name) < 0; }
    virtual bool operator>(const DefaultGM& other) const { return name.compare(other.name) > 0; }
    virtual const std::string& getName() const { return name; }
    virtual const std::string& getType() const { return type; }

    NetClass* getNet() const { return net; }

protected:
    std::string name;
    std::string type;
    NetClass* net;
};

std::ostream& operator<<(std::ostream& out, const DefaultGM& element);
