#include "stats/GroupedBatches.h"

void GroupedBatches::add(double integral, double duration) {
    ++count;
    // Plain sums in batch order: with batches of length 1 the mean is
    // exactly the sum of the batch values over their number.
    totalIntegral += integral;
    totalDuration += duration;
    if (totalIntegral != 0.0) allZero = false;

    pending.first += integral;
    pending.second += duration;
    if (++pendingCount < cellSize) return;
    cells.push_back(pending);
    pending = Cell(0.0, 0.0);
    pendingCount = 0;
    if (cells.size() < MAX_CELLS) return;
    // All cells full: pairs of neighbours become one cell of twice the size.
    for (std::size_t i = 0; i < MAX_CELLS / 2; ++i)
        cells[i] = Cell(cells[2 * i].first + cells[2 * i + 1].first, cells[2 * i].second + cells[2 * i + 1].second);
    cells.resize(MAX_CELLS / 2);
    cellSize *= 2;
}

bool GroupedBatches::atCheckpoint() const {
    if (count < GROUPS || count % GROUPS != 0) return false;
    std::size_t g = count / GROUPS;
    if (g % 3 == 0) g /= 3;
    return (g & (g - 1)) == 0;
}

std::size_t GroupedBatches::groupCount() const { return count < GROUPS ? count : GROUPS; }

std::size_t GroupedBatches::groupSize() const {
    if (count < GROUPS) return 1;
    return cells.size() / GROUPS * cellSize;
}

double GroupedBatches::batchVariance() const {
    const std::size_t groups = groupCount();
    if (groups < 2 || totalDuration == 0.0) return 0.0;
    const std::size_t cellsPerGroup = count < GROUPS ? 1 : cells.size() / GROUPS;
    // The groups are made of the newest cells.
    const std::size_t first = cells.size() - groups * cellsPerGroup;

    std::vector<Cell> sums(groups, Cell(0.0, 0.0));
    double integral = 0.0, duration = 0.0;
    for (std::size_t i = first; i < cells.size(); ++i) {
        Cell& g = sums[(i - first) / cellsPerGroup];
        g.first += cells[i].first;
        g.second += cells[i].second;
        integral += cells[i].first;
        duration += cells[i].second;
    }
    if (duration == 0.0) return 0.0;

    // Ratio estimator: the groups' deviations from the grouped batches' own
    // time average, integral minus average times duration.
    const double ratio = integral / duration;
    double squares = 0.0;
    for (const Cell& g : sums) {
        const double d = g.first - ratio * g.second;
        squares += d * d;
    }
    const double perGroup = squares / static_cast<double>(groups - 1);
    // Scaled to one batch of the average length.
    const double batches = static_cast<double>(count);
    const double meanDuration = totalDuration / batches;
    return perGroup / static_cast<double>(groupSize()) / (meanDuration * meanDuration);
}
