#pragma once
#include <list>
#include <map>
#include <string>
#include <vector>

#include "Ptr.h"
#include "net/TokenList.h"

class Place;
class Transition;
class MeasureObj;
class Simulation;
class Token;
class DateTime;

// The registry of a net: its places and transitions by name, and its
// performance measures. The generated model derives ImplementedNetClass and
// fills the net in buildNet() and createTokens().
class NetClass {
public:
    NetClass();
    NetClass(const NetClass&) = delete;
    NetClass& operator=(const NetClass&) = delete;
    virtual ~NetClass();

    virtual void buildNet() = 0;
    virtual void createTokens() = 0;
    // A new, independent copy of a token of the net's colour types.
    virtual Ptr<Token> copyToken(Ptr<Token> t) = 0;
    // The same token re-typed to its colour class.
    virtual Ptr<Token> upcastToken(Ptr<Token> t) = 0;
    // A generated net may do the measure updates of an event in one pass
    // without virtual calls. measurePassFor answers which of its passes
    // updates exactly the measures `selected`, in that order (each measure of
    // the class the pass expects in its place), or -1 when none does;
    // runMeasurePass then does for each what accum does at the event's time
    // t. A net without passes answers -1.
    virtual int measurePassFor(const std::vector<MeasureObj*>&) const { return -1; }
    virtual void runMeasurePass(int, MeasureObj* const*, double, double) {}

    void addPlace(Place* p);
    void addTransition(Transition* t);
    void addMeasure(MeasureObj* m);

    void linkPlaceToTransition(const char* place, const char* transition, int multiplicity);
    void linkTransitionToPlace(const char* transition, const char* place, int multiplicity);
    void linkIntoTransition(Place* p, Transition* t, int multiplicity);
    void linkOutOfTransition(Transition* t, Place* p, int multiplicity);

    Place* getPlace(const char* name);
    // The whole text is the name (a NUL byte in it does not end it); the
    // message shows control characters escaped.
    Place* getPlace(const std::string& name);
    Place* getPlace(const PlaceIdentMap& places, const char* key);
    Place* getPlace(const PlaceIdentMap* places, const char* key) { return getPlace(*places, key); }
    Place* getPlace(int id);
    Transition* getTransition(const char* name);
    Transition* getTransition(const std::string& name);
    Transition* getTransition(int id);

    // A by-name place look-up for code that reads the same place at every
    // event (the generated measures): it answers exactly what getPlace(name)
    // answers, but remembers the result until the place map changes (a
    // missing place too: adding it changes the map).
    struct PlaceCache {
        unsigned long generation = 0;
        Place* place = nullptr;
    };
    Place* getPlaceCached(const char* name, PlaceCache& cache) {
        if (cache.generation == placesGeneration) return cache.place;
        cache.place = getPlace(name);
        cache.generation = placesGeneration;
        return cache.place;
    }

    const std::map<std::string, Place*>& getPlaces() const { return places; }
    const std::map<std::string, Transition*>& getTransitions() const { return transitions; }
    // Changes whenever the transition map changes, so that the engine can keep
    // the transitions in map order without walking the map at every event.
    unsigned long getTransitionsGeneration() const { return transitionsGeneration; }
    const std::list<MeasureObj*>& getMeasureList() const { return measureList; }
    // Changes whenever the measure list changes, so that the engine can keep
    // the measures it updates at every event without walking the list.
    unsigned long getMeasuresGeneration() const { return measuresGeneration; }

    void setSimulation(Simulation* s);
    Simulation* getSimulation() const { return simulation; }
    // The engine's clock; null without an engine. Every search reads it.
    const DateTime* getClock() const { return clock; }

    std::string writeMaps() const;
    void storeMeasureList();
    void clearMaps();
    void loadMeasureList(int mode);
    void restoreNet(int mode);

private:
    std::map<std::string, Place*> places;
    std::map<std::string, Transition*> transitions;
    std::list<MeasureObj*> measureList;
    std::list<MeasureObj*> storedMeasureList;
    Simulation* simulation = nullptr;
    const DateTime* clock = nullptr;
    // Takes the current generation out of the maps: it is kept while its
    // places count a measure of storedMeasureList (that measure is evaluated
    // again after the rebuild, and its last place deletes it), else deleted
    // at once.
    void retireGeneration();
    bool countsStoredMeasure() const;

    // The earlier generations that are kept: unreachable through the maps,
    // but alive until the net goes. A run of many replications keeps only
    // the first build here, whatever its length.
    std::vector<Place*> retiredPlaces;
    std::vector<Transition*> retiredTransitions;
    // Starts at 1 so that a fresh PlaceCache never matches.
    unsigned long placesGeneration = 1;
    unsigned long transitionsGeneration = 1;
    unsigned long measuresGeneration = 1;
};
