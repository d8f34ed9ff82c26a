#include "net/Transition.h"

#include <algorithm>
#include <climits>
#include <iostream>
#include <ostream>

#include "engine/Simulation.h"
#include "net/NetClass.h"
#include "net/Place.h"
#include "stats/MeasureObj.h"

long Transition::globalFireCount = 0;

namespace {
const char* truth(bool b) { return b ? "TRUE" : "FALSE"; }
const DateTime kNoEngineTime;
}  // namespace

Transition::Transition(int uniqueid, const char* transitionName, NetClass* owner, const PlaceIdentMap& placeMap,
                       std::string page, double weight, int prio, bool isExp, bool first, bool infinite,
                       bool localGuardFlag)
    : DefaultGM(transitionName, "Transition", owner),
      isInfinite(infinite),
      priority(prio),
      firingWeight(weight),
      places(placeMap),
      exp(isExp),
      takeFirst(first),
      id(uniqueid),
      localGuard(localGuardFlag),
      pagePath(std::move(page)) {}

Transition::Transition(int uniqueid, const char* transitionName, NetClass* owner, const PlaceIdentMap& attributes,
                       const PlaceIdentMap& placeMap, std::string page, double weight, int prio, bool isExp,
                       bool first, bool infinite, bool localGuardFlag)
    : Transition(uniqueid, transitionName, owner, placeMap, std::move(page), weight, prio, isExp, first, infinite,
                 localGuardFlag) {
    auto value = [&attributes](const char* key) {
        auto it = attributes.find(key);
        return it == attributes.end() ? std::string() : it->second;
    };
    displaying = !value("display_expr").empty();
    watch = value("watch") == "true";
    immediate = value("timed_trans") == "false";
    // As setLogfile, but the file is opened for reading and writing.
    const std::string logName = value("logfile_name");
    if (!logName.empty()) openLogfile(logName, value("logfile_desc"), std::ios::in | std::ios::out | std::ios::app);
}

Transition::~Transition() {
    if (logfile && logfile->is_open()) logfile->close();
    if (firstEventTree != nullptr) {
        firstEventTree->set(firstEventLeaf, nullptr);
        firstEventTree->setOwner(firstEventLeaf.index, nullptr);
    }
    for (Binding* b : bindings) dropEvent(b);
    bindings.clear();
}

const DateTime& Transition::noEngineTime() { return kNoEngineTime; }

bool Transition::isSingleStep() const {
    Simulation* s = net->getSimulation();
    return s != nullptr && s->isSingleStep();
}

void Transition::traceLine(const char* text) const { MainClass::getLog()->getTransLog() << name << text << "\n"; }

Seconds_T Transition::getFiringDelay(TokenList&) const { return 0.0; }
Seconds_T Transition::Timeguard(const DateTime&) { return 0.0; }
void Transition::log(TokenList&) {}
double Transition::display(TokenList&) { return 0.0; }

void Transition::startup() {
    inEventList = false;
    timeguardOptimization = true;
    trace(" startup 1 ...");
    cacheArcs();
    hasTimeguardFlag = hasTimeguard();
    timeguardCached = true;
    firstOnly = searchesFirstOnly();
    guardFree = !hasGlobalGuard();
    kernelDefaults = keepsKernelDefaults();
    directSearch = firstOnly && !isInfinite && !hasTimeguardFlag;
    std::vector<Place*> heads;
    takesHeads = firstOnly && !isInfinite && findsHeadsOf(heads);
    headMarkings.clear();
    for (Place* p : heads) headMarkings.push_back(&p->getFullMarking());
    delayForm = fixedDelay(delayMean);
    // An exponential delay of a negative mean is no delay, without a draw.
    if (delayForm == DelayForm::Exponential && delayMean < 0.0) delayForm = DelayForm::None;
    updateAffectedTransitionList();
    trace(" startup 2 ...");
    affectedPlaces.clear();
    affectedPlaces.insert(affectedPlaces.end(), inPlaces.begin(), inPlaces.end());
    affectedPlaces.insert(affectedPlaces.end(), outPlaces.begin(), outPlaces.end());
    trace(" startup 3 ...");
    for (Place* p : affectedPlaces)
        for (MeasureObj* m : p->getMeasures()) insertMeasure(m);
    updateEventList();
}

void Transition::updateEventList() {
    trace(" startup 4 ...");
    initGlobalGuards();
    trace(" startup 5 ...");
    if (isOptimizingTimeguardTransition()) addTimeguardBinding(now());
    else searchConfiguration();
    trace(" startup 6 ...");
    Logging* log = MainClass::getLog();
    if (log->isEventLogging()) {
        std::fstream& out = log->getEventLog();
        out << "\nEventList of transition " << *this << ":\n";
        for (Binding* b : bindings) out << " event " << *b << "\n\n";
    }
}


void Transition::searchGeneral() {
    const bool optimizing = isOptimizingTimeguardTransition();
    if (!optimizing && cannotBind()) return;
    const DateTime& current = now();
    if (optimizing && (Timeguard(current) != 0.0 || cannotBind())) return;
    if (firstOnly && !isInfinite && !MainClass::getLog()->isTransLogging()) bindFirstCombination(current);
    else searchCandidates(current);
}

// Kept out of line, so that the common calls above, which end early or bind
// directly, do not pay for the registers this part needs.
[[gnu::noinline]] void Transition::searchCandidates(const DateTime& current) {
    TempBindingList* list = getAvailableBindingList();
    if (list == nullptr) return;
    Logging* log = MainClass::getLog();
    const bool tracing = log->isTransLogging();
    if (tracing) {
        traceLine(" search configuration...");
        log->getTransLog() << name << " is IS: " << truth(isInfinite) << "\n";
    }
    if (!isInfinite) {
        if (!list->empty()) {
            // The candidates not chosen are released with the list below.
            TokenList* tokens = extractRandomBinding(list);
            Binding* b = new Binding(tokens, this, current);
            addBinding(b);
            if (tracing) log->getTransLog() << "Binding extracted and checked into Eventlist: " << *b << "\n";
        } else if (tracing) {
            traceLine(" found no configuration ;-(");
        }
    } else {
        int degree = getEnablingDegree();
        const long n = static_cast<long>(bindings.size());
        while (!list->empty() && degree - n > 0) {
            --degree;
            TokenList* tokens = extractRandomBinding(list);
            clearTempBindingList(list);
            delete list;
            Binding* b = new Binding(tokens, this, current);
            addBinding(b);
            if (tracing) log->getTransLog() << "Binding extracted and checked into Eventlist: " << *b << "\n";
            list = generateBindingList();
        }
    }
    clearTempBindingList(list);
    delete list;
}

TempBindingList* Transition::firstBindingAsList() {
    TempBindingList* result = new TempBindingList();
    TokenList* tokens = new TokenList();
    if (findFirstBinding(*tokens)) result->push_back(tokens);
    else delete tokens;
    return result;
}

TempBindingList* Transition::getAvailableBindingList() {
    const bool space = spaceAvailable();
    const bool guard = guardPasses();
    Logging* log = MainClass::getLog();
    if (log->isTransLogging()) {
        log->getTransLog() << name << " so we check()...  GlobalGuard(): " << truth(guard)
                           << " ==> Space()&&GlobalGuard() " << truth(space && guard) << "\n";
    }
    if (space && guard) return generateBindingList();
    return nullptr;
}

bool Transition::checkSpace() const {
    if (outputsUnlimited) return true;
    if (arcsCached) {
        // The output arcs in the order of the output places, with their
        // multiplicities: no lookup per place.
        for (const Arc& a : outArcs)
            if (!a.place->canTake(static_cast<unsigned>(a.multiplicity < 0 ? 0 : a.multiplicity)) &&
                !hasSpaceFor(*a.place, a.multiplicity))
                return false;
        return true;
    }
    for (Place* p : outPlaces) {
        const int add = outputMultiplicity(*p);
        if (!p->canTake(static_cast<unsigned>(add < 0 ? 0 : add)) && !hasSpaceFor(*p, add)) return false;
    }
    return true;
}

// An output place that cannot take `add` more tokens as it is: there is space
// all the same when it is also an input place and the firing takes tokens
// from it first. Writes the trace line of a place without space.
bool Transition::hasSpaceFor(const Place& p, int add) const {
    bool isInput = false;
    for (Place* q : inPlaces) {
        if (q == &p) {
            isInput = true;
            break;
        }
    }
    if (isInput) {
        const long take = inputMultiplicity(p);
        if (static_cast<long>(p.getCapacity()) >= static_cast<long>(p.getMarkingSize()) + add - take) return true;
    }
    Logging* log = MainClass::getLog();
    if (log->isTransLogging())
        log->getTransLog() << name << " checkSpace(): " << p << " can't take token..." << "\n";
    return false;
}

int Transition::getEnablingDegree() {
    long degree = INT_MAX;
    for (Place* p : outPlaces) {
        const long cap = p->getCapacity();
        const long add = outputMultiplicity(*p);
        const long size = p->getMarkingSize();
        long take = 0;
        for (Place* q : inPlaces) {
            const long m = inputMultiplicity(*q);
            if (m > 0) degree = std::min<long>(degree, static_cast<long>(q->getMarkingSize()) / m);
            if (q == p) {
                take = m;
                break;
            }
        }
        const long change = add - take;
        if (change < 0) degree = std::min(degree, size / -change);
        else if (cap > 0 && change > 0) degree = std::min(degree, (cap - size) / change);
        // A self-loop place whose token count does not change imposes no bound.
    }
    return static_cast<int>(degree);
}

TokenList* Transition::extractRandomBinding(TempBindingList* list) {
    Logging* log = MainClass::getLog();
    if (log->isTransLogging()) log->getTransLog() << "choose binding of " << list->size() << "\n";
    const int k = random.randint(0, static_cast<long>(list->size()) - 1);
    TokenList* chosen = (*list)[k];
    list->erase(list->begin() + k);
    return chosen;
}

void Transition::cacheArcs() {
    inArcs.clear();
    outArcs.clear();
    for (Place* p : inPlaces) inArcs.push_back(Arc{p, p->getOutTransitionMultiplicity(id)});
    for (Place* p : outPlaces) outArcs.push_back(Arc{p, p->getInTransitionMultiplicity(id)});
    arcsCached = true;
    // Capacities are fixed when the places are built.
    outputsUnlimited = true;
    for (const Arc& a : outArcs)
        if (a.place->getCapacity() != 0) outputsUnlimited = false;
}

int Transition::outputMultiplicity(const Place& p) const {
    if (arcsCached) {
        for (const Arc& a : outArcs)
            if (a.place == &p) return a.multiplicity;
    }
    return p.getInTransitionMultiplicity(id);
}

int Transition::inputMultiplicity(const Place& p) const {
    if (arcsCached) {
        for (const Arc& a : inArcs)
            if (a.place == &p) return a.multiplicity;
    }
    return p.getOutTransitionMultiplicity(id);
}

void Transition::addNotBoundToken(const Ptr<Token>& t) {
    if (isInfinite) notBoundTokens.push_back(t);
}

void Transition::addBinding(Binding* b) {
    KERNEL_ASSERT_TEXT(b->getBoundTokens() != nullptr, "binding->getBoundTokens() != NULL", "src/Transition", 367);
    KERNEL_ASSERT(isInfinite || bindings.empty(), "src/Transition", 368);
    enlist(b);
}

void Transition::addTimeguardBinding(const DateTime& time) {
    KERNEL_ASSERT(bindings.empty(), "src/Transition", 385);
    timeguardOptimization = true;
    Binding* b = new Binding(this, time);
    bindings.insert(b);
    publishFirstEvent();
    inEventList = true;
    Logging* log = MainClass::getLog();
    if (log->isEventLogging())
        log->getEventLog() << "Timeguard-Binding extracted and checked into Eventlist: " << *b << "\n";
}

bool Transition::convertTimeguardBinding(Binding* b) {
    TempBindingList* list = getAvailableBindingList();
    if (list == nullptr) return false;
    trace(" convert temporary Timeguard binding...");
    if (list->empty()) {
        trace(" found no configuration ;-(");
        delete list;
        return false;
    }
    TokenList* tokens = extractRandomBinding(list);
    clearTempBindingList(list);
    b->convertTempBinding(tokens);
    // The event now holds tokens: when another firing consumes one of them,
    // the token must tell this transition, or the event would fire with a
    // token that lies in no place.
    for (Ptr<Token>& h : *b->getBoundTokens()) h->addTransition(this);
    timeguardOptimization = false;
    Logging* log = MainClass::getLog();
    if (log->isTransLogging()) log->getTransLog() << "Binding is converted to: " << *b << "\n";
    delete list;
    return true;
}

void Transition::addInPlace(Place* p) {
    inPlaces.push_back(p);
    arcsCached = false;
    directSearch = false;
    Logging* log = MainClass::getLog();
    if (log->isTransLogging()) log->getTransLog() << *this << " <- " << *p << "\n";
}

void Transition::addOutPlace(Place* p) {
    outPlaces.push_back(p);
    arcsCached = false;
    directSearch = false;
    outputsUnlimited = false;
    Logging* log = MainClass::getLog();
    if (log->isTransLogging()) log->getTransLog() << *this << " -> " << *p << "\n";
}

void Transition::addMeasure(MeasureObj* m) {
    m->incrementRefCount();
    insertMeasure(m);
}

void Transition::insertMeasure(MeasureObj* m) {
    auto at = std::lower_bound(measures.begin(), measures.end(), m, std::less<MeasureObj*>());
    if (at == measures.end() || *at != m) measures.insert(at, m);
}

std::ostream& operator<<(std::ostream& out, const Transition& t) {
    return out << t.getName() << ", weight:" << t.getFiringWeight() << ", priority:" << t.getPriority() << "\n";
}
