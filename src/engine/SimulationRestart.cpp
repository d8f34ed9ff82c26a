// RESTART: rare-event simulation by importance splitting. Whenever the
// trajectory climbs into a higher level of the importance function, the
// state is saved; a path that falls back below the level where it was born
// is cut off and the next retrial starts from the saved state, R paths in
// all per saved state. Every path carries the weight 1/R per saved state it
// descends from, so the weighted rewards of all paths over the model time of
// the main trajectory (the paths that are never cut off) estimate the
// measures.
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>

#include "engine/Simulation.h"
#include "frame/MainClass.h"
#include "net/NetClass.h"
#include "net/Transition.h"
#include "stats/MeasureObj.h"

namespace {
// The value of --secmax that switches the wall-clock limit off.
const unsigned kNoRunTimeLimit = 4294967295u;
// The sampling interval is the model time of this many events of the main
// trajectory: long against an excursion into the rare region, whatever the
// time scale of the net.
const long kEventsPerSamplingInterval = 1000;
// A run with a model-time limit takes at least this many sampling points.
const double kMinSamplingPoints = 100.0;
// More thresholds than this are refused: levels are ints.
const int kMaxThresholds = 1000000;

// The parameter problem of a RESTART run, or null when they are usable.
const char* restartParameterError(int repeats, double thrmin, double thrmax, int thrnumber) {
    if (repeats < 1) return "Error: the number of RESTART repeats (--repeats) must be at least 1!";
    if (thrnumber < 0 || thrnumber > kMaxThresholds)
        return "Error: the number of thresholds (--thrnumber) must lie between 0 and 1000000!";
    if (!(std::isfinite(thrmin) && std::isfinite(thrmax) && thrmax > thrmin))
        return "Error: the highest threshold (--thrmax) must lie above the lowest (--thrmin)!";
    return nullptr;
}
}  // namespace

// ---------------------------------------------------------------------------
// The stack of saved states

void Simulation::save_simulation_state(int stateLevel) {
    savedStates.emplace_back(net, stateLevel, currentSimulationTime);
}

// The clock is not set here: the next event, taken from the restored event
// lists, carries it back. The measures integrate from the snapshot on.
void Simulation::load_last_simulation_state() {
    if (savedStates.empty()) return;
    SimSavedState& state = savedStates.back();
    state.restoreMarkings(net->getPlaces());
    state.restoreTransitionStates(net->getTransitions());
    for (MeasureObj* m : net->getMeasureList()) m->setLastTime(state.getStateTime());
}

void Simulation::delete_last_simulation_state() {
    if (!savedStates.empty()) savedStates.pop_back();
}

// While a saved state has retrials left, the current path may still be cut
// off and the clock go back; otherwise the clock is the main trajectory's.
bool Simulation::retrialPending() const {
    for (const SimSavedState& s : savedStates)
        if (s.getTrials() > 0) return true;
    return false;
}

// ---------------------------------------------------------------------------
// Levels

int Simulation::level(double thrmin, double thrmax, double value, int thrnumber) {
    const double width = (thrmax - thrmin) / (static_cast<double>(thrnumber) + 1.0);
    if (!(width > 0.0)) return 0;
    const double top = static_cast<double>(thrnumber) + 2.0;
    // thrmax itself is the top threshold, whatever the rounding of width.
    if (value >= thrmax) return static_cast<int>(top);
    const double l = std::floor((value - thrmin) / width + 1.0);
    // Not a number (an importance of NaN) counts as below every threshold.
    if (!(l > 0.0)) return 0;
    return static_cast<int>(std::min(l, top - 1.0));
}

// After a firing: the importance function's level `next` against the
// current level. A climb saves the state (once per up-crossing, however many
// thresholds it passes); a fall restores the newest saved state that has
// retrials left and drops the used-up ones on the way.
void Simulation::moveToLevel(int& current, int next, int repeats) {
    if (next < current) {
        if (savedStates.empty()) restartWeight = std::pow(static_cast<double>(repeats), -next);
        while (next < current && !savedStates.empty()) {
            SimSavedState& newest = savedStates.back();
            if (newest.getTrials() > 0) {
                load_last_simulation_state();
                newest.decrementTrials();
                // One restore per fall: the retrial continues from the
                // state's level.
                next = newest.getStateLevel();
                break;
            }
            delete_last_simulation_state();
            restartWeight *= repeats;
            if (!savedStates.empty()) current = savedStates.back().getStateLevel();
        }
    } else if (next > current) {
        save_simulation_state(next);
        restartWeight /= repeats;
        savedStates.back().setTrials(repeats - 1);
    }
    current = next;
}

// ---------------------------------------------------------------------------
// The run

void Simulation::run_restart(double& runAlpha, int repeats, double thrmin, double thrmax, int thrnumber) {
    alpha = runAlpha;
    startFromInitialMarking(true);
    resetMeasures = true;
    sampleTime = startTime;
    analysisState = -2;
    wallStart = wallNow();
    lastProgress = wallStart;
    noModelTimeLimit = false;
    noRunTimeLimit = secmax == 0 || secmax == kNoRunTimeLimit;
    if (stopTime == DateTime(0.0)) noModelTimeLimit = true;
    std::cout << "\nRESTART simulation starts." << std::endl;
    std::cout << "\nParameters: " << std::endl;

    importanceFunction = nullptr;
    for (MeasureObj* m : net->getMeasureList()) {
        if (m->isImportanceFunction()) {
            importanceFunction = m;
            break;
        }
    }
    if (importanceFunction == nullptr) {
        std::cout << "Error: no Importance Function ('ImportanceFunction') measure was defined!" << std::endl;
        std::exit(1);
    }
    if (const char* error = restartParameterError(repeats, thrmin, thrmax, thrnumber)) {
        std::cout << error << std::endl;
        std::exit(1);
    }

    restartTime = 0.0;
    restartTimeAtSample = 0.0;
    samplingInterval = 0.0;
    savedStates.clear();
    // One state per level at most: the stack never reallocates.
    savedStates.reserve(static_cast<std::size_t>(thrnumber) + 3);
    const bool ok = run_restart_iterative(repeats, thrmin, thrmax, thrnumber);

    if (analysisState != 1) {
        std::cout << "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY." << std::endl;
        std::cout << "\nRESTART simulation finished.";
    } else if (ok) {
        std::cout << "\nRESTART simulation finished.";
    } else if (stopCause == StopCause::Signal) {
        std::cout << "\n" << stoppedBySignalLine();
    } else if (currentSimulationTime >= stopTime && !noModelTimeLimit) {
        std::cout << "\nABORT SIMULATION. REACHED MAXIMUM MODEL TIME.";
    } else {
        std::cout << "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.";
    }
    std::cout << std::flush;
}

// Samples are taken only on the main trajectory (no retrial pending): each
// is the weighted reward integrated since the previous sampling point over
// the main trajectory's time since then, so a sample holds whole retrial
// trees. The run ends when the main trajectory reaches the stop time; a
// retrial that reaches it ends there and the next one starts.
bool Simulation::run_restart_iterative(int repeats, double thrmin, double thrmax, int thrnumber) {
    bool ok = false;
    DateTime mainMark = startTime;
    currentSimulationTime = startTime;
    int current = level(thrmin, thrmax, importanceFunction->measure(-1.0), thrnumber);
    restartWeight = std::pow(static_cast<double>(repeats), -current);
    const bool limited = !noModelTimeLimit && stopTime > startTime;
    const double longestInterval =
        limited ? (stopTime - startTime) / kMinSamplingPoints : std::numeric_limits<double>::infinity();
    long mainEvents = 0;
    Logging* log = MainClass::getLog();
    EventList events;

    while (!mustStopNow()) {
        const bool onMainPath = !retrialPending();
        if (onMainPath && !noModelTimeLimit && currentSimulationTime > stopTime) break;
        Binding* b = nextEvent(events);
        if (b == nullptr) break;
        eventTime = b->getTime();
        updateSimulationTime(eventTime);
        if (savedStates.empty() || savedStates.back().getTrials() == 0) {
            restartTime += currentSimulationTime - mainMark;
            mainMark = currentSimulationTime;
        }

        if (!noModelTimeLimit && eventTime > stopTime) {
            // A path ends at the stop time: its rewards count up to there.
            const double beyond = eventTime - stopTime;
            eventTime = stopTime;
            updateSimulationTime(stopTime);
            Binding atStop(stopTime);
            updateAllMeasures(&atStop, true, false);
            if (onMainPath) {
                // The last sample covers the main trajectory up to the stop time.
                restartTime -= beyond;
                ok = updateSamplingPoints(true);
                break;
            }
            // A retrial that reaches the stop time is done like one that
            // falls below every threshold: the next retrial starts.
            moveToLevel(current, -1, repeats);
            continue;
        }
        updateAllMeasures(b, true, false);
        if (onMainPath) {
            ++mainEvents;
            if (samplingInterval <= 0.0) {
                if (restartTime >= longestInterval) samplingInterval = longestInterval;
                else if (mainEvents >= kEventsPerSamplingInterval && restartTime > 0.0) samplingInterval = restartTime;
            }
            if (samplingInterval > 0.0 && eventTime >= sampleTime) {
                ok = updateSamplingPoints(true);
                const double passed = std::floor((eventTime - startTime) / samplingInterval) + 1.0;
                sampleTime = startTime + passed * samplingInterval;
                if (ok) break;
            }
        }
        if (log->isSimLogging()) log->getSimLog() << "FIRING: " << *b << "\n";
        executeEvent(b);
        if (analysisState != 1) ++analysisState;
        moveToLevel(current, level(thrmin, thrmax, importanceFunction->measure(-1.0), thrnumber), repeats);
    }
    return ok;
}
