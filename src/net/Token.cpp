#include "net/Token.h"

#include <algorithm>
#include <cstring>
#include <ostream>

#include "frame/MainClass.h"
#include "net/DBRecords.h"
#include "net/Transition.h"
#include "time/WallClock.h"

long Token::tokenCounter = 0;
long Token::concTokenCounter = 0;
long Token::maxConcTokenCounter = 0;

Token::Token() : creationTime(WallClock::now()), id(tokenCounter++) {
    ++concTokenCounter;
    if (concTokenCounter > maxConcTokenCounter) maxConcTokenCounter = concTokenCounter;
}

// Copies are live token objects too: they count in the live population (and
// so in the maximum) but never take a new id.
Token::Token(const Token& other, bool copyTransition)
    : transitions(copyTransition ? other.transitions : TransitionRefs()),
      creationTime(other.creationTime),
      id(other.id) {
    ++concTokenCounter;
    if (concTokenCounter > maxConcTokenCounter) maxConcTokenCounter = concTokenCounter;
}

Token::~Token() { --concTokenCounter; }

void Token::setReferenceAttribute(const char*, Ptr<Token>) {}

Token& Token::operator=(const Token& other) {
    if (this != &other) {
        creationTime = other.creationTime;
        id = other.id;
    }
    return *this;
}

std::string Token::content() const { return std::string(); }

void Token::traceTransition(const char* what, const Transition* t) const {
    MainClass::getLog()->getTransLog() << "Token " << getName() << ", " << creationTime << what << t->getName()
                                       << "\n";
}

bool Token::containsTransition(Transition* t) const {
    return transitions.contains(t);
}

void Token::notifyTransitions(const Ptr<Token>& self) {
    Logging* log = MainClass::getLog();
    const bool tracing = log->isTransLogging();
    if (tracing) {
        std::fstream& out = log->getTransLog();
        out << "Token " << getName() << ", " << creationTime << " notifyTransitions()..: [ ";
        for (Transition* t : transitions) out << t->getName() << " : ";
        out << " ]\n";
    }
    // Every holder drops its event when told, and with it its entries in
    // this list, before it searches again (and perhaps binds this token anew
    // in the place it was moved to). So the list is taken out whole before
    // the first holder is told: what the holders' withdrawals would remove
    // is gone at once, and what their new events add is kept. Most tokens
    // are held by a few transitions: the entries go to a small local buffer,
    // to the heap only when needed.
    const std::size_t n = transitions.size();
    if (n == 0) return;
    Transition* local[16];
    std::vector<Transition*> heap;
    Transition** copy = local;
    if (n > 16) {
        heap.assign(transitions.begin(), transitions.end());
        copy = heap.data();
    } else {
        std::memcpy(local, transitions.data(), n * sizeof(Transition*));
    }
    transitions.clear();
    for (std::size_t i = 0; i < n; ++i) {
        Transition* t = copy[i];
        if (tracing) log->getTransLog() << "Token->notifyTransitions() : " << *t << "\n";
        t->tokenNotify(self);
    }
}

Ptr<Token> Token::findToken(std::vector<token_info*>& infos, const char* typeName, int id) {
    for (token_info* info : infos) {
        if (info->tokentypename == typeName && info->id == id) return info->token;
    }
    return Ptr<Token>();
}

std::ostream& operator<<(std::ostream& out, const Token& token) {
    return out << "Token name: " << token.getName();
}
