#include "net/NetClass.h"

#include <algorithm>
#include <iostream>

#include "base/PrintableText.h"
#include "engine/Simulation.h"
#include "net/Place.h"
#include "net/Transition.h"
#include "stats/MeasureObj.h"

void NetClass::setSimulation(Simulation* s) {
    simulation = s;
    clock = s != nullptr ? &s->getCurrentSimulationTime() : nullptr;
}

NetClass::NetClass() {}

// Only the newest generation is reachable through the maps; the earlier
// generations that are kept stay alive until the net goes. All transitions
// go before any place, because the places release the tokens and the
// measures.
NetClass::~NetClass() {
    for (auto& entry : transitions) delete entry.second;
    for (Transition* t : retiredTransitions) delete t;
    for (auto& entry : places) delete entry.second;
    for (Place* p : retiredPlaces) delete p;
}

void NetClass::addPlace(Place* p) {
    places.emplace(p->getName(), p);
    ++placesGeneration;
}

void NetClass::addTransition(Transition* t) {
    transitions.emplace(t->getName(), t);
    ++transitionsGeneration;
}

void NetClass::addMeasure(MeasureObj* m) {
    measureList.push_back(m);
    ++measuresGeneration;
}

void NetClass::linkPlaceToTransition(const char* place, const char* transition, int multiplicity) {
    Transition* t = getTransition(transition);
    Place* p = getPlace(place);
    linkIntoTransition(p, t, multiplicity);
}

void NetClass::linkTransitionToPlace(const char* transition, const char* place, int multiplicity) {
    Place* p = getPlace(place);
    Transition* t = getTransition(transition);
    linkOutOfTransition(t, p, multiplicity);
}

void NetClass::linkIntoTransition(Place* p, Transition* t, int multiplicity) {
    p->addOutTransition(t, multiplicity);
    t->addInPlace(p);
}

void NetClass::linkOutOfTransition(Transition* t, Place* p, int multiplicity) {
    t->addOutPlace(p);
    p->addInTransition(t, multiplicity);
}

Place* NetClass::getPlace(const char* name) { return getPlace(std::string(name)); }

// Names may come from a network peer (the token game): the message must not
// carry its control characters to the console.
Place* NetClass::getPlace(const std::string& name) {
    auto it = places.find(name);
    if (it == places.end()) {
        std::cout << "Couldn't find Place: " << printableText(name) << std::endl;
        return nullptr;
    }
    return it->second;
}

Place* NetClass::getPlace(const PlaceIdentMap& map, const char* key) {
    auto it = map.find(key);
    if (it == map.end()) {
        std::cout << "Couldn't find Place: " << key << std::endl;
        return nullptr;
    }
    return getPlace(it->second.c_str());
}

Place* NetClass::getPlace(int id) {
    for (auto& entry : places)
        if (entry.second->getID() == id) return entry.second;
    return nullptr;
}

Transition* NetClass::getTransition(const char* name) { return getTransition(std::string(name)); }

Transition* NetClass::getTransition(const std::string& name) {
    auto it = transitions.find(name);
    if (it == transitions.end()) {
        std::cout << "Couldn't find Transition: " << printableText(name) << std::endl;
        return nullptr;
    }
    return it->second;
}

Transition* NetClass::getTransition(int id) {
    for (auto& entry : transitions)
        if (entry.second->getID() == id) return entry.second;
    return nullptr;
}

std::string NetClass::writeMaps() const {
    std::string text = "Places:\n";
    for (const auto& entry : places) text += "\t" + entry.first + " -> " + entry.second->getName() + "\n";
    text += "Transitions:\n";
    for (const auto& entry : transitions) text += "\t" + entry.first + " -> " + entry.second->getName() + "\n";
    return text;
}

void NetClass::storeMeasureList() { storedMeasureList = measureList; }

bool NetClass::countsStoredMeasure() const {
    for (const auto& entry : places)
        for (MeasureObj* m : entry.second->getMeasures())
            if (std::find(storedMeasureList.begin(), storedMeasureList.end(), m) != storedMeasureList.end())
                return true;
    return false;
}

void NetClass::retireGeneration() {
    if (countsStoredMeasure()) {
        for (auto& entry : places) retiredPlaces.push_back(entry.second);
        for (auto& entry : transitions) retiredTransitions.push_back(entry.second);
        return;
    }
    for (auto& entry : transitions) delete entry.second;
    for (auto& entry : places) delete entry.second;
}

// Ends the current generation; the stored measures stay valid and are
// evaluated again after the rebuild.
void NetClass::clearMaps() {
    storeMeasureList();
    retireGeneration();
    places.clear();
    transitions.clear();
    measureList.clear();
    ++placesGeneration;
    ++transitionsGeneration;
    ++measuresGeneration;
}

void NetClass::loadMeasureList(int mode) {
    measureList.clear();
    ++measuresGeneration;
    for (MeasureObj* m : storedMeasureList) {
        if (mode == 0) {
            measureList.push_back(m);
        } else if (m->accumulative()) {
            std::cout << "Warning: accumulative performance measures are only allowed in transient simulation."
                      << " Ignoring Measure " << m->getName() << std::endl;
        } else if (!m->timeaverage()) {
            std::cout << "Warning: instantaneous performance measures are only allowed in transient simulation."
                      << " Ignoring Measure " << m->getName() << std::endl;
        } else {
            measureList.push_back(m);
        }
    }
}

void NetClass::restoreNet(int mode) {
    buildNet();
    createTokens();
    loadMeasureList(mode);
}
