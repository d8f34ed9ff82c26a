#pragma once
#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "net/DefaultGM.h"
#include "stats/GroupedBatches.h"
#include "time/DateTime.h"

class Binding;

// A series of estimates, one per analysis step. Transient runs read every
// entry (one per sampling point, cleared at each replication); stationary and
// RESTART runs only ever read the newest, so there the series keeps just
// that one and memory stays flat however long the run.
class EstimateList {
public:
    void push_back(double v);
    void clear() { values.clear(); total = 0; }
    bool empty() const { return values.empty(); }
    std::size_t size() const { return values.size(); }
    double back() const { return values.back(); }
    double operator[](std::size_t i) const { return values[i]; }
    std::vector<double>::const_iterator begin() const { return values.begin(); }
    std::vector<double>::const_iterator end() const { return values.end(); }
    // Entries ever appended since the last clear.
    std::size_t appended() const { return total; }
    // Switching to newest-only drops every older entry.
    void setKeepAll(bool all);
    bool keepsAll() const { return keepAll; }

private:
    std::vector<double> values;
    std::size_t total = 0;
    bool keepAll = true;
};

// The abstract base of every performance measure. The generated model
// supplies how a measure is observed (measure, accumulative, timeaverage,
// accum); this class keeps the statistics of the observed values: point
// estimate, variance, confidence interval, relative half-width, the
// precision decision, and writes the result text.
class MeasureObj : public DefaultGM {
public:
    static const unsigned PREC_LIMIT = 1000;
    // No transient measure is decided precise before this many
    // replications: a few equal replications would give a zero-width
    // interval.
    static const int MIN_REPLICATIONS = 7;

    MeasureObj(const char* name, NetClass* net, bool watch);
    ~MeasureObj() override;

    virtual double measure(double dt) = 0;
    virtual bool accumulative() = 0;
    virtual bool timeaverage() = 0;
    virtual void accum(const Binding* binding, double weight) = 0;
    // Whether accum does anything: a measure of the current marking alone
    // (its accum is empty) answers false, and the engine does not call it at
    // every event.
    virtual bool accumulatesOverEvents() const { return true; }

    void notify() {}
    void reset(const DateTime& t);
    void setLastTime(const DateTime& t) { lastTime = t.FullDateTime(); }
    // The reward integrated since the last reset and the model time that
    // integral covers: one batch of a stationary run.
    double rewardIntegral() const { return value; }
    double observedTime() const { return lastTime - firstTime; }

    int getRefCount() const { return reference_count; }
    void incrementRefCount() { ++reference_count; }
    void decrementRefCount() { --reference_count; }

    void setPercentRule(bool on) { percent_rule = on; }
    bool PercentRule() const { return percent_rule; }
    void setPrecPortion(double p) { PrecPortion = p; }
    double getPrecPortion() const { return PrecPortion; }
    void setEpsMax(double e) { EpsMax = e; }
    double getEpsMax() const { return EpsMax; }
    bool getWatch() const { return watch; }
    bool precisionReached() const { return precision_reached; }
    // The last decision was a per-cent rule acceptance with a relative
    // half-width still at or above the maximum.
    bool acceptedAbovePrecision() const { return above_precision; }
    const std::string& getName() const override { return name; }

    // A measure already precise when a transient replication starts is left
    // alone for the whole replication; one that becomes precise during it is
    // still sampled up to the replication's last sampling point.
    void setSettled(bool on) { changeDecision(settled, on); }
    bool isSettled() const { return settled; }
    // Changes whenever the precision decision or the settled flag of any
    // measure changes: the engine keeps the measures it updates at every
    // event and looks at them again only then.
    static unsigned long decisionsGeneration() { return decisionChanges; }

    // RESTART's importance function, which the engine never samples.
    bool isImportanceFunction() const { return importance; }

    bool getFirstValue() const { return firstValue; }
    void setFirstValue(bool on) { firstValue = on; }

    // Transient estimator: x is the value at the current sampling point in
    // replication a + 1; `atEnd` marks the replication's last sampling point,
    // where the precision is decided over all points.
    bool makeTransientAnalysis(double& alpha, double x, int a, bool atEnd);
    // Stationary estimator over the batches of the first sample block: the
    // run's time average, and the interval from the grouped batches at the
    // groups' degrees of freedom. Decides only at the checkpoints of
    // GroupedBatches (never before GroupedBatches::GROUPS batches).
    bool makeStationaryAnalysis(double& alpha, double startSeconds, double nowSeconds);
    // The precision decision over the Epsilon entries (the newest alone when
    // `single`); a relative half-width counts by its size.
    bool measure_reached_precision(unsigned n, unsigned points, bool single);
    // Result block of the measure on both streams. Estimates that were never
    // computed (a run that ended before its first analysis, a transient run
    // after a single replication) are left out of the rows; a stationary run
    // without any analysis writes the header without a row.
    void writeResult(std::ostream& file, std::ostream& console, int mode, const DateTime* start, double* interval);

    // Storage of a run: `points` empty sample blocks and per-point transient
    // sums (done once, at the first initialisation of a run).
    void prepareSampling(int points);
    // Start of a replication or run for a measure whose precision is open:
    // samples go to the first block, the estimate lists are emptied and every
    // reading position is set to the beginning. `keepAllEstimates` is false
    // for stationary and RESTART runs, which read only the newest estimate.
    void restartAnalysis(bool keepAllEstimates);
    // The transient estimates as they stand after a replication, so that a
    // replication abandoned before its end can be taken back: it must not
    // count, and the results come from the finished ones.
    struct TransientEstimates {
        EstimateList averagedMean, variance, deltaX, epsilon;
        std::size_t m_iter = 0, d_iter = 0, v_iter = 0, e_iter = 0;
        std::vector<double> meanTransient, m2;
        std::size_t meanTransientIter = 0, m2Iter = 0;
        double precPortion = 1.0;
        bool precisionReached = false;
        bool abovePrecision = false;
        bool settled = false;
    };
    TransientEstimates saveTransientEstimates() const;
    void restoreTransientEstimates(const TransientEstimates& saved);
    // The block that receives new samples.
    GroupedBatches& currentSampleBlock() { return SampleBlocks[s_iter]; }
    bool hasSampleBlock() const { return s_iter < SampleBlocks.size(); }

    const EstimateList& getAveragedMean() const { return AveragedMean; }
    const EstimateList& getVariance() const { return Variance; }
    const EstimateList& getDeltaX() const { return DeltaX; }
    const EstimateList& getEpsilon() const { return Epsilon; }
    const std::vector<double>& getMeanTransient() const { return mean_transient; }
    const std::vector<double>& getM2() const { return m2; }
    const std::vector<GroupedBatches>& getSampleBlocks() const { return SampleBlocks; }

protected:
    void precisionWarnings(std::ostream& file, std::ostream& console) const;

    std::vector<GroupedBatches> SampleBlocks;
    std::size_t s_iter = 0;
    // Reading positions into the estimate lists (indices, which stay valid
    // while the lists grow).
    std::size_t m_iter = 0, d_iter = 0, v_iter = 0, e_iter = 0;
    EstimateList AveragedMean;
    EstimateList Variance;
    EstimateList DeltaX;
    EstimateList Epsilon;
    std::vector<double> mean_transient;
    std::size_t mean_transient_iter = 0;
    std::vector<double> m2;
    std::size_t m2_iter = 0;
    double firstTime = 0.0;
    double lastTime = 0.0;
    double value = 0.0;
    bool firstValue = true;
    int reference_count = 0;
    double EpsMax = 0.0;
    bool watch;
    bool percent_rule = false;
    double PrecPortion = 1.0;
    bool above_precision = false;
    bool importance = false;
    std::string name;

private:
    // Every change of these two goes through changeDecision, which counts it.
    void changeDecision(bool& flag, bool on) {
        if (flag == on) return;
        flag = on;
        ++decisionChanges;
    }
    bool precision_reached = false;
    bool settled = false;
    static unsigned long decisionChanges;
};
