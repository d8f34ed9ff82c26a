#include "stats/MeasureObj.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <ostream>

#include "random/Quantiles.h"

// ---------------------------------------------------------------------------
// EstimateList

void EstimateList::push_back(double v) {
    if (keepAll || values.empty())
        values.push_back(v);
    else
        values.back() = v;
    ++total;
}

void EstimateList::setKeepAll(bool all) {
    keepAll = all;
    if (!keepAll && values.size() > 1) values.erase(values.begin(), values.end() - 1);
}

// ---------------------------------------------------------------------------
// MeasureObj

unsigned long MeasureObj::decisionChanges = 0;

MeasureObj::MeasureObj(const char* measureName, NetClass* owner, bool w)
    : DefaultGM(measureName, "Result", owner), watch(w), name(measureName) {
    importance = name == "ImportanceFunction";
}

MeasureObj::~MeasureObj() {}

void MeasureObj::reset(const DateTime& t) {
    firstTime = lastTime = t.FullDateTime();
    value = 0.0;
}

void MeasureObj::prepareSampling(int points) {
    const std::size_t count = points > 0 ? static_cast<std::size_t>(points) : 0;
    // Stationary runs append to the first block whatever the number of
    // sampling points, so there is always at least one.
    SampleBlocks.assign(std::max<std::size_t>(count, 1), GroupedBatches());
    mean_transient.assign(count, 0.0);
    m2.assign(count, 0.0);
    s_iter = 0;
    mean_transient_iter = 0;
    m2_iter = 0;
}

void MeasureObj::restartAnalysis(bool keepAllEstimates) {
    s_iter = 0;
    AveragedMean.clear();
    DeltaX.clear();
    Variance.clear();
    Epsilon.clear();
    AveragedMean.setKeepAll(keepAllEstimates);
    DeltaX.setKeepAll(keepAllEstimates);
    Variance.setKeepAll(keepAllEstimates);
    Epsilon.setKeepAll(keepAllEstimates);
    m_iter = d_iter = v_iter = e_iter = 0;
    mean_transient_iter = 0;
    m2_iter = 0;
}

MeasureObj::TransientEstimates MeasureObj::saveTransientEstimates() const {
    TransientEstimates saved;
    saved.averagedMean = AveragedMean;
    saved.variance = Variance;
    saved.deltaX = DeltaX;
    saved.epsilon = Epsilon;
    saved.m_iter = m_iter;
    saved.d_iter = d_iter;
    saved.v_iter = v_iter;
    saved.e_iter = e_iter;
    saved.meanTransient = mean_transient;
    saved.m2 = m2;
    saved.meanTransientIter = mean_transient_iter;
    saved.m2Iter = m2_iter;
    saved.precPortion = PrecPortion;
    saved.precisionReached = precision_reached;
    saved.abovePrecision = above_precision;
    saved.settled = settled;
    return saved;
}

void MeasureObj::restoreTransientEstimates(const TransientEstimates& saved) {
    AveragedMean = saved.averagedMean;
    Variance = saved.variance;
    DeltaX = saved.deltaX;
    Epsilon = saved.epsilon;
    m_iter = saved.m_iter;
    d_iter = saved.d_iter;
    v_iter = saved.v_iter;
    e_iter = saved.e_iter;
    mean_transient = saved.meanTransient;
    m2 = saved.m2;
    mean_transient_iter = saved.meanTransientIter;
    m2_iter = saved.m2Iter;
    PrecPortion = saved.precPortion;
    changeDecision(precision_reached, saved.precisionReached);
    above_precision = saved.abovePrecision;
    changeDecision(settled, saved.settled);
}

bool MeasureObj::makeTransientAnalysis(double& alpha, double x, int a, bool atEnd) {
    // More sampling points than prepared, or a replication count that cannot
    // be one: nothing to update.
    if (a < 0 || mean_transient_iter >= mean_transient.size() || m2_iter >= m2.size())
        return precision_reached;

    // Running mean and sum of squared deviations of this sampling point over
    // the replications, k of them including the current one.
    const double k = static_cast<double>(a) + 1.0;
    const double mu = mean_transient[mean_transient_iter];
    const double M = m2[m2_iter];
    const double delta = x - mu;
    const double muNew = mu + delta / k;
    const double mNew = M + delta * (x - muNew);
    const double s2 = mNew / k;

    Variance.push_back(s2);
    AveragedMean.push_back(muNew);
    mean_transient[mean_transient_iter++] = muNew;
    m2[m2_iter++] = mNew;

    if (a > 0) {
        const double t = student_distr(a, 1.0 - alpha / 2.0);
        const double h = t * std::sqrt(s2) / std::sqrt(k);
        DeltaX.push_back(h);
        Epsilon.push_back(muNew == 0.0 ? 0.0 : h / muNew);
        // The decision is taken at the replication's last sampling point,
        // over all its points, and only from the seventh replication on.
        if (atEnd && !precision_reached && a + 1 >= MIN_REPLICATIONS)
            changeDecision(precision_reached,
                           measure_reached_precision(static_cast<unsigned>(a) + 1u,
                                                     static_cast<unsigned>(AveragedMean.size()), false));
    }
    return precision_reached;
}

bool MeasureObj::makeStationaryAnalysis(double& alpha, double, double) {
    if (SampleBlocks.empty() || SampleBlocks.front().empty()) return precision_reached;
    const GroupedBatches& batches = SampleBlocks.front();
    const std::size_t n = batches.size();

    const double mean = batches.mean();
    AveragedMean.push_back(mean);
    const double variance = batches.batchVariance();
    Variance.push_back(variance);

    // A single batch gives no confidence interval and so no judgement of
    // the precision.
    if (batches.groupCount() < 2) return precision_reached;

    const double t = student_distr(static_cast<int>(batches.groupCount() - 1), 1.0 - alpha / 2.0);
    const double h = t * std::sqrt(variance / static_cast<double>(n));
    DeltaX.push_back(h);

    // The interval is reported from the fifth batch on; the precision is
    // decided only at the checkpoints, with every group complete (never
    // below GROUPS batches, too few and possibly correlated to decide on).
    const bool decisive = batches.atCheckpoint();
    if (mean == 0.0) {
        // A relative half-width means nothing at mean 0: a measure that
        // moves around zero counts as precise, one that never left zero
        // does not.
        Epsilon.push_back(0.0);
        return decisive && !batches.allIntegralsZero();
    }
    Epsilon.push_back(h / mean);
    if (!decisive) return false;
    changeDecision(precision_reached,
                   measure_reached_precision(static_cast<unsigned>(std::min<std::size_t>(n, ~0u)), 1, true));
    return precision_reached;
}

bool MeasureObj::measure_reached_precision(unsigned n, unsigned points, bool single) {
    if (percent_rule && n >= PREC_LIMIT)
        PrecPortion = std::max(0.0, 1.0 - static_cast<double>(n / PREC_LIMIT) / 10.0);

    const double p = static_cast<double>(points);
    const long allowed = static_cast<long>(std::floor(p - p * PrecPortion));

    // A negative mean gives a negative epsilon: its size is what counts.
    long misses = 0;
    if (single) {
        // No estimate yet is no precision.
        misses = (Epsilon.empty() || std::fabs(Epsilon.back()) >= EpsMax) ? 1 : 0;
    } else {
        for (double e : Epsilon)
            if (std::fabs(e) >= EpsMax) ++misses;
    }
    const bool precise = misses <= allowed;
    above_precision = precise && misses > 0;
    return precise;
}

namespace {

void notReachedWarning(std::ostream& out, const std::string& name) {
    out << "WARNING:\n\t"
        << "Measure " << name << ": Has not reached predefined accuracy!\n\tCurrent Values:\n"
        << '\n';
}

void percentRuleWarning(std::ostream& out, const std::string& name) {
    out << "WARNING:\n\t"
        << "Measure " << name << ": Accepted by the per-cent rule above the maximum relative error.\n"
        << '\n';
}

} // namespace

// A measure that did not reach its precision, or reached it only by the
// per-cent rule, says so before its values.
void MeasureObj::precisionWarnings(std::ostream& file, std::ostream& console) const {
    for (std::ostream* out : {&file, &console}) {
        if (!precision_reached)
            notReachedWarning(*out, name);
        else if (above_precision)
            percentRuleWarning(*out, name);
    }
}

void MeasureObj::writeResult(std::ostream& file, std::ostream& console, int mode, const DateTime* start,
                             double* interval) {
    if (name == "ImportanceFunction") return;

    for (std::ostream* out : {&file, &console}) {
        out->precision(6);
        *out << std::scientific << std::right;
        *out << "Measure: " << name << "\n";
    }

    if (mode != 0) {
        if (accumulative()) {
            for (std::ostream* out : {&file, &console})
                *out << "WARNING:\n\t"
                     << "Measure " << name << ": Was chosen cumulative.\n"
                     << '\n';
            return;
        }
        precisionWarnings(file, console);

        // Only the newest analysis step is written. The half-width and the
        // epsilon belong to it only when they were computed in that same
        // step; an estimate that does not exist is left out of the row.
        const bool haveMean = !AveragedMean.empty() && !Variance.empty();
        const bool haveHalf = haveMean && !DeltaX.empty() && DeltaX.appended() == AveragedMean.appended();
        const bool haveEps = haveMean && !Epsilon.empty() && Epsilon.appended() == AveragedMean.appended();
        const double m = haveMean ? AveragedMean.back() : 0.0;
        const double v = haveMean ? Variance.back() : 0.0;
        const double h = haveHalf ? DeltaX.back() : 0.0;
        const double e = haveEps ? Epsilon.back() : 0.0;

        file << "\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n";
        if (haveMean) {
            file << "\t" << m << "\t" << v;
            if (haveHalf) file << "\t[" << m - h << ";" << m + h << "]";
            if (haveEps) file << "\t" << e;
        }
        file << "\n\n\n";

        console << "\tMean Value\t" << std::setw(30) << "Variance" << "\t\tConf.Interval"
                << "\t\t\tEpsilon\n\n";
        if (haveMean) {
            console << "\t" << m << "\t" << std::setw(30) << v;
            if (haveHalf) console << "\t\t" << "[" << m - h << ";" << m + h << "]";
            if (haveEps) console << "\t" << e;
        }
        console << "\n\n\n";
        return;
    }

    precisionWarnings(file, console);
    file << "\tSim.Time\t\tMean Value\tVariance\t\tConf.Interval\t\t\tEpsilon\n\n";
    console << "\tSim.Time\t" << std::setw(30) << "Mean Value" << "\tVariance" << "\t\tConf.Interval"
            << "\t\t\tEpsilon\n\n";

    // One row per sampling point handled; the half-width and the epsilon are
    // missing after a single replication and are then left out of the row.
    double time = start ? start->FullDateTime() : 0.0;
    const double step = interval ? *interval : 0.0;
    m_iter = v_iter = d_iter = e_iter = 0;
    for (; m_iter < AveragedMean.size(); ++m_iter, ++v_iter, ++d_iter, ++e_iter) {
        const double m = AveragedMean[m_iter];
        const double v = v_iter < Variance.size() ? Variance[v_iter] : 0.0;
        const bool haveHalf = d_iter < DeltaX.size();
        const bool haveEps = e_iter < Epsilon.size();
        const double h = haveHalf ? DeltaX[d_iter] : 0.0;

        file << "\t" << time << "\t" << m << "\t" << v;
        if (haveHalf) file << "\t" << "[" << m - h << ";" << m + h << "]";
        if (haveEps) file << "\t" << Epsilon[e_iter];
        file << "\n";

        console << "\t" << time << "\t" << std::setw(30) << m << "\t" << v;
        if (haveHalf) console << "\t\t[" << m - h << ";" << m + h << "]";
        if (haveEps) console << "\t" << Epsilon[e_iter];
        console << "\n";

        time += step;
    }
    file << "\n\n\n";
    console << "\n\n\n";
}
