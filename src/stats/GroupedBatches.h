#pragma once
#include <cstddef>
#include <utility>
#include <vector>

// The batches of one long run, for the stationary estimator. A batch is the
// reward integrated over a stretch of model time together with the length of
// that stretch (RESTART feeds weighted integrals and the main trajectory's
// time). The point estimate is the time average of the whole run, the sum
// of the integrals over the sum of the durations, so that a batch counts as
// much as it lasts. Its variance is the ratio estimator's over GROUPS groups
// of consecutive batches: the groups grow with the run, so that their means
// become independent even where consecutive batches are correlated.
//
// Below GROUPS batches every batch is a group of its own. From GROUPS
// batches on there are exactly GROUPS groups of equal size, made of the
// newest batches; the oldest few that do not fill a group count in the mean
// but not in the variance. At the checkpoints (GROUPS times g batches, g a
// power of two or three times one: 30, 60, 90, 120, 180, 240, 360, ...) the
// groups hold exactly g batches each and none is left out. Memory stays
// bounded however long the run: the batches are kept in at most MAX_CELLS
// cells of equally many consecutive batches, and when the cells are all
// full, neighbouring cells merge.
class GroupedBatches {
public:
    static const std::size_t GROUPS = 30;
    static const std::size_t MAX_CELLS = 16 * GROUPS;

    void add(double integral, double duration);

    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
    // Time average over all batches; 0 while no model time has passed.
    double mean() const { return totalDuration == 0.0 ? 0.0 : totalIntegral / totalDuration; }
    bool allIntegralsZero() const { return allZero; }
    // The batches form GROUPS complete groups of g batches, g a power of two
    // or three times one. Deciding on the precision only here, about twice
    // per doubling of the run, keeps a stopping rule from picking the many
    // chance lows of a variance estimate that is looked at after every batch.
    bool atCheckpoint() const;

    // Number of groups the variance is taken over (one per batch below
    // GROUPS batches) and the number of batches in each.
    std::size_t groupCount() const;
    std::size_t groupSize() const;
    // The variance of one batch's time average as the groups show it:
    // size() times the estimated variance of mean(), so that the standard
    // error of the mean is sqrt(batchVariance() / size()). With batches of
    // equal length that are each a group, it is the plain sample variance of
    // the batch averages. 0 with fewer than two groups.
    double batchVariance() const;

private:
    using Cell = std::pair<double, double>;  // integral, duration

    std::vector<Cell> cells;  // complete cells, oldest first
    Cell pending{0.0, 0.0};   // the cell being filled
    std::size_t pendingCount = 0;
    std::size_t cellSize = 1;  // batches per cell
    std::size_t count = 0;
    double totalIntegral = 0.0;
    double totalDuration = 0.0;
    bool allZero = true;
};
