#pragma once
#include <ctime>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

#include "engine/SimSavedState.h"
#include "engine/StopSignal.h"
#include "net/Binding.h"
#include "net/FirstEventTree.h"
#include "random/RandomWrapper.h"
#include "time/DateTime.h"

class NetClass;
class MeasureObj;
class Transition;
class DefaultGM;
class socket_t;

// The events collected for one step of the run, in the order of the
// transitions in the net's map.
typedef std::vector<Binding*> EventList;

// The engine of one run: the simulation clock, the random stream that
// resolves conflicts, the connection to the front end's result port and the
// run parameters. Every run mode is built from four steps: collect the
// earliest events (getFirstBindingsOfAllTransitions), pick one
// (resolve_conflicts), advance the clock (updateSimulationTime) and fire it
// (executeEvent); nextEvent does the first two. Exactly one engine exists at
// a time (Simulation::sim).
class Simulation {
public:
    static Simulation* sim;

    Simulation(NetClass* net, const std::string& netname, const std::string& displayaddress, const DateTime& start,
               const DateTime& stop, int nofSampling, int mode, bool startIsModelTime, bool percentRule,
               double epsMax, double samplingInterval, unsigned secmax);
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;
    virtual ~Simulation();

    virtual void init();
    virtual bool isSingleStep() const { return false; }
    virtual Binding* resolve_conflicts(EventList& events);
    virtual void run_transient(double& alpha);
    virtual void run_stationary(double& alpha);
    virtual void run_restart(double& alpha, int repeats, double thrmin, double thrmax, int thrnumber);
    bool run_restart_iterative(int repeats, double thrmin, double thrmax, int thrnumber);
    // The RESTART level of an importance value: 0 below thrmin, one more per
    // threshold reached, thrnumber + 2 at thrmax and above.
    static int level(double thrmin, double thrmax, double value, int thrnumber);
    virtual void shutdown();
    virtual void initMeasureSocket();

    void initTransitions();
    void initMeasureList(bool first);
    void getFirstBindingsOfAllTransitions(EventList* events, bool all);
    // The event to fire next, as resolve_conflicts picks it from the events
    // getFirstBindingsOfAllTransitions collects into `events` (null: none).
    // An event alone at the earliest time, and not a placeholder, is taken
    // without either step (and `events` is left as it is), unless the
    // simulation log, where both write their lines, is open.
    Binding* nextEvent(EventList& events);
    // Inline: every event sets the clock.
    void updateSimulationTime(const DateTime& t) {
        if (t == currentSimulationTime) return;
        currentSimulationTime = t;
        if (!initialised) noteTimeNotSent();
    }
    void resetCurrentTime() { currentSimulationTime = startTime; }
    void executeEvent(Binding* b);
    std::string printEventList(EventList& events);

    // The stack of saved states of a RESTART run: push the current state,
    // restore the newest one (which stays on the stack), drop the newest.
    void save_simulation_state(int level);
    void load_last_simulation_state();
    void delete_last_simulation_state();
    const std::vector<SimSavedState>& getSavedStates() const { return savedStates; }
    double getRestartTime() const { return restartTime; }
    double getRestartWeight() const { return restartWeight; }

    // Measure bookkeeping shared by the run modes.
    // A run (or replication) starts on the net built afresh: clock at the
    // start, initial marking, first events, measures ready for sampling
    // (their storage created in the first run).
    void startFromInitialMarking(bool firstRun);
    void updateAllMeasures(Binding* b, bool accumulate, bool samplingOnly);
    bool updateSamplingPoints(bool analyse);

    // Messages to the front end (or, without one, to the simulation log).
    void measureOut(DefaultGM* element, MeasureObj* m);
    void measureOut(DefaultGM* element, double value);
    void displayOut(DefaultGM* element, double value);

    const DateTime& getCurrentSimulationTime() const { return currentSimulationTime; }
    socket_t* getMeasureSocket() { return measureSocket; }
    bool hasMeasureSocket() const { return measureSocket != nullptr; }
    // The name of the transition chosen or fired last; empty before any, and
    // when that transition is gone with a rebuild of the net that did not
    // start a run.
    const std::string& getLastFiredTransition() const;
    int getAnalysisState() const { return analysisState; }
    int getMode() const { return mode; }
    bool isInitialised() const { return initialised; }
    unsigned getSecmax() const { return secmax; }
    NetClass* getNet() const { return net; }
    const DateTime& getSampleTime() const { return sampleTime; }
    double getSamplingInterval() const { return samplingInterval; }
    int getLoopCount() const { return loopCount; }
    // False when the last shutdown could not write "results.log".
    bool resultFileWritten() const { return resultsWritten; }

    // The most events printEventList writes for one transition in a row.
    static const int MAXCOUNT = 10;

protected:
    // Why a run loop ended before its natural end.
    enum class StopCause { None, WallClock, Signal };
    // Asked by the run loops before every event: true when the run must end
    // now, because a stop signal came or the wall-clock limit is used up
    // (unless noRunTimeLimit). Records the cause in stopCause.
    bool mustStopNow() {
        if (StopSignal::received() == 0 && noRunTimeLimit) return false;
        return stopConditionMet();
    }
    bool stopConditionMet();
    // The end line of a run stopped by a signal.
    std::string stoppedBySignalLine() const;

    bool isMeasureDone(const MeasureObj* m) const;
    void elementMessage(DefaultGM* element, double value, const char* tail, const char* notReady);
    // Sends one complete message to the result port, or logs it as "NO_SOCK".
    void sendMessage(const std::string& text);
    // Wall-clock seconds, as the run-time limit counts them.
    static std::time_t wallNow() { return std::time(nullptr); }

    int nofSampling;
    int loopCount = 0;
    int analysisState = 0;
    std::time_t wallStart = 0;
    std::time_t lastProgress = 0;
    double alpha = 0.0;
    bool startIsModelTime;
    bool percentRule;
    bool noModelTimeLimit = false;
    bool resetMeasures = false;
    bool noRunTimeLimit = false;
    unsigned secmax;
    const int mode;
    double restartTime = 0.0;
    double epsMax;
    double samplingInterval;
    NetClass* net;
    std::string netname;
    std::string displayaddress;
    DateTime currentSimulationTime;
    DateTime sampleTime;
    DateTime eventTime;
    const DateTime& startTime;
    DateTime stopTime;
    // The transition chosen or fired last (null: none) and the generation of
    // the net's transition map it belongs to: kept at every event, while its
    // name is asked for rarely. A run that rebuilds the net keeps the name.
    void recordFired(Transition* t);
    void forgetLastFired();
    Transition* lastFired = nullptr;
    unsigned long lastFiredGeneration = 0;
    std::string lastFiredName;
    bool initialised = false;
    // The simulation log's line for a clock change before the front end's
    // stream is set up.
    void noteTimeNotSent();
    StopCause stopCause = StopCause::None;
    bool resultsWritten = true;
    socket_t* measureSocket = nullptr;
    RandomWrapper random;
    MeasureObj* importanceFunction = nullptr;
    double restartWeight = 1.0;
    std::vector<SimSavedState> savedStates;
    // restartTime at the last RESTART sampling point: a sample covers the
    // main trajectory's time since then.
    double restartTimeAtSample = 0.0;

private:
    // RESTART: whether a saved state still has retrials to make, and the
    // saves and restores after a firing moved the importance function from
    // level `current` to `next`.
    bool retrialPending() const;
    void moveToLevel(int& current, int next, int repeats);

    // The measures an event updates: those of the net's list that are
    // neither the importance function nor done with, in list order. Whether
    // a measure is done with depends only on its own decisions (and on the
    // fixed run mode), so the selection is made again only when the list or
    // a decision of any measure has changed since.
    void selectMeasuresToUpdate();
    // Every measure of the list, with the bookkeeping of a reset (resetMeasures)
    // and of a sampling point that takes no instantaneous values.
    void updateEveryMeasure(Binding* b, bool accumulate, bool samplingOnly);
    std::vector<MeasureObj*> updatedMeasures;
    unsigned long updatedListGeneration = 0;
    unsigned long updatedDecisions = 0;
    // Whether the selection's pending first values have been taken care of.
    bool firstValuesChecked = false;
    // The net's generated pass over exactly this selection, or -1.
    int measurePass = -1;

    // The transitions in map order, refreshed when the net's map changes,
    // and the tree of their first events.
    const std::vector<Transition*>& transitionsInOrder();
    void orderTransitions();
    void detachFirstEvents();
    std::vector<Transition*> orderedTransitions;
    FirstEventTree firstEvents;
    unsigned long orderedGeneration = 0;
    EventList blocked;
};
