// The transient and stationary run loops, the measure bookkeeping they share
// and the end of a run ("results.log").
#include <algorithm>
#include <iostream>
#include <sstream>
#include <utility>
#include <vector>

#include "engine/ResultFile.h"
#include "engine/Simulation.h"
#include "engine/StopSignal.h"
#include "frame/MainClass.h"
#include "net/NetClass.h"
#include "net/Transition.h"
#include "stats/MeasureObj.h"

namespace {
// The value of --secmax that switches the wall-clock limit off.
const unsigned kNoRunTimeLimit = 4294967295u;

// Sampling point k of a transient run with `points` points: start +
// k·interval, and the last one exactly at the stop time, which a sum of
// intervals can miss by a rounding step. A single point lies at the start
// time (its interval is infinite). Past the last point the time lies after
// the stop time.
DateTime samplingPoint(const DateTime& start, const DateTime& stop, int points, double interval, int k) {
    if (k == 0) return start;
    if (k == points - 1) return stop;
    return start + static_cast<double>(k) * interval;
}
}  // namespace

bool Simulation::stopConditionMet() {
    if (StopSignal::received() != 0) {
        stopCause = StopCause::Signal;
        return true;
    }
    if (!noRunTimeLimit && static_cast<unsigned>(wallNow() - wallStart) >= secmax) {
        stopCause = StopCause::WallClock;
        return true;
    }
    return false;
}

std::string Simulation::stoppedBySignalLine() const {
    return "ABORTED SIMULATION. STOPPED BY SIGNAL " + std::to_string(StopSignal::received()) + ".";
}

// A measure is done with when it has reached its precision. In a transient
// run that takes effect from the next replication on: the replication in
// which a measure becomes precise still samples it up to its last sampling
// point, so that its results cover the whole time window.
bool Simulation::isMeasureDone(const MeasureObj* m) const {
    return mode == 0 ? m->isSettled() : m->precisionReached();
}

void Simulation::startFromInitialMarking(bool firstRun) {
    resetCurrentTime();
    // The transition fired last goes with the old net; its name stays.
    lastFiredName = getLastFiredTransition();
    lastFired = nullptr;
    net->clearMaps();
    net->buildNet();
    net->loadMeasureList(mode);
    initTransitions();
    initMeasureList(firstRun);
}

// The usual event updates only the measures still at work, and none of them
// has to be told about a reset: that walks the whole list. A first value
// can be pending only in the first walk of a new selection (or after a
// walk of the whole list), so later walks do not ask.
void Simulation::updateAllMeasures(Binding* b, bool accumulate, bool samplingOnly) {
    if (resetMeasures || !accumulate || samplingOnly) {
        updateEveryMeasure(b, accumulate, samplingOnly);
        return;
    }
    if (updatedListGeneration != net->getMeasuresGeneration() ||
        updatedDecisions != MeasureObj::decisionsGeneration())
        selectMeasuresToUpdate();
    if (!firstValuesChecked) {
        for (MeasureObj* m : updatedMeasures) {
            if (m->getFirstValue()) {
                m->reset(startTime);
                m->setFirstValue(false);
            }
        }
        firstValuesChecked = true;
    }
    if (measurePass >= 0) {
        net->runMeasurePass(measurePass, updatedMeasures.data(), b->getTime().FullDateTime(), restartWeight);
        return;
    }
    for (MeasureObj* m : updatedMeasures) m->accum(b, restartWeight);
}

void Simulation::selectMeasuresToUpdate() {
    updatedMeasures.clear();
    for (MeasureObj* m : net->getMeasureList()) {
        if (m->isImportanceFunction() || isMeasureDone(m)) continue;
        if (m->accumulatesOverEvents()) {
            updatedMeasures.push_back(m);
        } else if (m->getFirstValue()) {
            // Reset now, at this event, as the walk of the selection would:
            // the measure is not visited again until the selection changes.
            m->reset(startTime);
            m->setFirstValue(false);
        }
    }
    updatedListGeneration = net->getMeasuresGeneration();
    updatedDecisions = MeasureObj::decisionsGeneration();
    firstValuesChecked = false;
    measurePass = net->measurePassFor(updatedMeasures);
}

void Simulation::updateEveryMeasure(Binding* b, bool accumulate, bool samplingOnly) {
    for (MeasureObj* m : net->getMeasureList()) {
        if (m->isImportanceFunction()) continue;
        if (resetMeasures) m->setFirstValue(true);
        if (isMeasureDone(m)) continue;
        if (m->getFirstValue()) {
            m->reset(startTime);
            m->setFirstValue(false);
        }
        if (accumulate && !(samplingOnly && !m->timeaverage() && !m->accumulative())) m->accum(b, restartWeight);
    }
    resetMeasures = false;
    firstValuesChecked = false;
}

bool Simulation::updateSamplingPoints(bool analyse) {
    bool ok = true;
    double maxEps = 0.0;
    for (MeasureObj* m : net->getMeasureList()) {
        if (m->isImportanceFunction() || isMeasureDone(m)) continue;
        m->setPercentRule(percentRule);
        m->setEpsMax(epsMax);
        if (mode == 0) {
            const double v = m->measure(-1.0);
            // The last sampling point of a replication: the stop time, or
            // the start time when it is the only one.
            const bool atEnd = sampleTime >= (nofSampling > 1 ? stopTime : startTime);
            // Every replication enters the running estimates, whatever the
            // other measures answered.
            const bool precise = m->makeTransientAnalysis(alpha, v, loopCount, atEnd);
            ok = ok && precise;
            measureOut(m, m);
        } else {
            if (!m->hasSampleBlock()) m->prepareSampling(1);
            GroupedBatches& block = m->currentSampleBlock();
            // A stationary batch: the reward integrated since the last
            // sampling point and the model time it covers. In RESTART the
            // integral is weighted and the time is the main trajectory's.
            if (mode == 1) block.add(m->rewardIntegral(), m->observedTime());
            else block.add(m->rewardIntegral(), restartTime - restartTimeAtSample);
            m->reset(eventTime);
            if (analyse && analysisState == 1 && block.size() > 4) {
                const bool precise =
                    m->makeStationaryAnalysis(alpha, startTime.FullDateTime(), sampleTime.FullDateTime());
                ok = ok && precise;
                measureOut(m, m);
                if (!m->getEpsilon().empty()) maxEps = std::max(maxEps, m->getEpsilon().back());
            } else {
                ok = false;
            }
        }
    }
    if (mode == 2) restartTimeAtSample = restartTime;
    if (maxEps > 0) {
        const std::time_t now = wallNow();
        if (now - lastProgress > 9) {
            std::cout << "remaining relative error " << maxEps << std::endl;
            lastProgress = now;
        }
    }
    return ok;
}

void Simulation::run_transient(double& runAlpha) {
    alpha = runAlpha;
    loopCount = 0;
    bool done = false;
    samplingInterval = (stopTime - startTime) / static_cast<double>(nofSampling - 1);
    if (samplingInterval <= 0) samplingInterval = stopTime - startTime;
    wallStart = wallNow();
    lastProgress = wallStart;
    noRunTimeLimit = secmax == kNoRunTimeLimit;
    Binding sampling(startTime);
    Logging* log = MainClass::getLog();
    EventList events;
    // The estimates after the last finished replication: a replication cut
    // short by a stop is taken back to them.
    std::vector<std::pair<MeasureObj*, MeasureObj::TransientEstimates>> finished;
    auto saveFinished = [&]() {
        finished.clear();
        for (MeasureObj* m : net->getMeasureList()) finished.emplace_back(m, m->saveTransientEstimates());
    };

    while (!done) {
        startFromInitialMarking(loopCount == 0);
        if (loopCount == 0) saveFinished();
        int point = 0;  // the sampling point at sampleTime
        sampleTime = startTime;
        resetMeasures = true;
        done = true;

        // One sampling point at the current sampleTime.
        auto sampleAt = [&](bool samplingOnly, bool update) {
            if (update) {
                sampling.setTime(sampleTime);
                updateAllMeasures(&sampling, true, samplingOnly);
            }
            const bool precise = updateSamplingPoints(false);
            if (!(loopCount > 5 && precise)) done = false;
            sampleTime = samplingPoint(startTime, stopTime, nofSampling, samplingInterval, ++point);
        };
        const bool hasMeasures = !net->getMeasureList().empty();
        bool stopped = false;
        do {
            if (mustStopNow()) {
                stopped = true;
                break;
            }
            Binding* b = nextEvent(events);
            if (b == nullptr) {
                while (stopTime >= sampleTime) sampleAt(false, true);
                break;
            }
            eventTime = b->getTime();
            updateSimulationTime(eventTime);
            if (!hasMeasures) {
                // Without measures no sampling point ends the replication:
                // it ends at the first event beyond the stop time.
                if (eventTime > stopTime) break;
                if (log->isSimLogging()) log->getSimLog() << "FIRING: " << *b << "\n";
                executeEvent(b);
                continue;
            }
            if (eventTime > stopTime) {
                while (stopTime > sampleTime) sampleAt(true, true);
                if (sampleTime == stopTime) sampleAt(false, true);
                break;
            }
            while (eventTime > sampleTime) sampleAt(true, true);
            const bool atSamplingPoint = eventTime == sampleTime;
            updateAllMeasures(b, true, false);
            if (log->isSimLogging()) log->getSimLog() << "FIRING: " << *b << "\n";
            executeEvent(b);
            if (atSamplingPoint) sampleAt(false, false);
        } while (point < nofSampling);

        if (stopped) {
            for (auto& [m, estimates] : finished) m->restoreTransientEstimates(estimates);
            done = false;
            break;
        }
        if (static_cast<unsigned>(wallNow() - wallStart) < secmax || noRunTimeLimit) {
            ++loopCount;
            if (analysisState != 1 && loopCount > 5) analysisState = 1;
            saveFinished();
        } else {
            done = false;
            break;
        }
    }
    if (loopCount <= 5)
        std::cout << "WARNING NO ANALYSIS DONE: THE NUMBER OF LOOPS IN TRANSIENT SIMULATION LESS THAN TEN."
                  << std::endl;
    if (done) std::cout << "\nSIMULATION SUCCESSFUL";
    else if (stopCause == StopCause::Signal) std::cout << "\n" << stoppedBySignalLine();
    else std::cout << "\nABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.";
    std::cout << std::flush;
}

void Simulation::run_stationary(double& runAlpha) {
    alpha = runAlpha;
    bool success = false;
    int k = 0;
    startFromInitialMarking(true);
    analysisState = -2;
    resetMeasures = true;
    sampleTime = startTime;
    wallStart = wallNow();
    lastProgress = wallStart;
    noModelTimeLimit = false;
    noRunTimeLimit = secmax == kNoRunTimeLimit;
    if (stopTime - startTime <= 0) noModelTimeLimit = true;
    Logging* log = MainClass::getLog();
    EventList events;

    while (!success && (currentSimulationTime <= stopTime || noModelTimeLimit) && !mustStopNow()) {
        Binding* b = nextEvent(events);
        if (b == nullptr) {
            std::cout << "WARNING: Stationary simulation stops at a dead marking." << std::endl;
            break;
        }
        eventTime = b->getTime();
        updateSimulationTime(eventTime);
        updateAllMeasures(b, true, false);
        ++k;
        if ((eventTime > stopTime && !noModelTimeLimit) || k >= 100) {
            success = updateSamplingPoints(true);
            k = 0;
            if (analysisState != 1) ++analysisState;
        }
        if (log->isSimLogging()) log->getSimLog() << "FIRING: " << *b << "\n";
        executeEvent(b);
    }
    if (analysisState != 1)
        std::cout << "\nNUMBER OF EVENTS LESS THAN 3. NO MEASURE HAS REACHED THE PREDEFINED ACCURACY." << std::endl;
    if (success) std::cout << "\nSIMULATION SUCCESSFUL";
    else if (stopCause == StopCause::Signal) std::cout << "\n" << stoppedBySignalLine();
    else if (!noModelTimeLimit && currentSimulationTime >= stopTime)
        std::cout << "\nABORTED SIMULATION. REACHED MAXIMUM MODEL TIME.";
    else std::cout << "\nABORTED SIMULATION. REACHED MAXIMUM RUN TIME.";
    std::cout << std::flush;
}

void Simulation::shutdown() {
    std::cout << std::endl << std::endl;
    // The file is composed in memory and replaces "results.log" only when
    // complete; the console gets the same text as it goes.
    std::ostringstream file;
    const char* title = mode == 0 ? "RESULTS OF TRANSIENT SIMULATION" : "RESULTS OF STATIONARY SIMULATION";
    file << title << "\n";
    std::cout << title << std::endl;
    if (stopCause == StopCause::Signal) {
        file << stoppedBySignalLine() << "\n";
        std::cout << stoppedBySignalLine() << std::endl;
    }
    // A stationary run without a model-time limit reports the model time it
    // reached: its sampling time never moves, so that time would always be
    // the start (0 for the usual runs), whatever the run simulated.
    double t;
    if (mode == 1 && noModelTimeLimit) {
        t = currentSimulationTime.FullDateTime();
    } else if (mode == 2 && noModelTimeLimit) {
        // The main trajectory's time at the last sampling point.
        t = startTime.FullDateTime() + restartTimeAtSample;
    } else {
        t = stopTime.FullDateTime();
    }
    file.precision(3);
    std::cout.precision(3);
    file << "SIMULATION TIME: " << t << "\n\n";
    std::cout << "SIMULATION TIME: " << t << "\n\n";
    for (MeasureObj* m : net->getMeasureList()) m->writeResult(file, std::cout, mode, &startTime, &samplingInterval);
    std::cout.flush();
    resultsWritten = ResultFile::replace("results.log", file.str());
}
