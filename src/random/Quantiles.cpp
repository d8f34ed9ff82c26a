#include "random/Quantiles.h"

#include <cmath>
#include <iostream>

namespace {

constexpr int tableRows = 30;
constexpr int tableColumns = 6;

// Two-sided levels of the columns of the Student table, and the distance
// from each level to the next.
constexpr double tableLevels[tableColumns] = {0.90, 0.95, 0.98, 0.99, 0.995, 0.999};
constexpr double levelSteps[tableColumns - 1] = {0.05, 0.03, 0.01, 0.005, 0.004};

// t with P(|T| <= t) = level for 1 to 30 degrees of freedom (row df - 1).
constexpr double studentTable[tableRows][tableColumns] = {
    {6.314, 12.706, 31.821, 63.657, 127.321, 636.619},
    {2.92, 4.303, 6.965, 9.925, 14.089, 31.598},
    {2.353, 3.182, 4.541, 5.841, 7.453, 12.924},
    {2.132, 2.776, 3.747, 4.604, 5.598, 8.61},
    {2.015, 2.571, 3.365, 4.032, 4.773, 6.869},
    {1.943, 2.447, 3.143, 3.707, 4.317, 5.959},
    {1.895, 2.365, 2.998, 3.499, 4.029, 5.408},
    {1.86, 2.306, 2.896, 3.355, 3.833, 5.041},
    {1.833, 2.262, 2.821, 3.25, 3.69, 4.781},
    {1.812, 2.228, 2.764, 3.169, 3.581, 4.587},
    {1.796, 2.201, 2.718, 3.106, 3.497, 4.437},
    {1.782, 2.179, 2.681, 3.055, 3.428, 4.318},
    {1.771, 2.16, 2.65, 3.012, 3.372, 4.221},
    {1.761, 2.145, 2.624, 2.977, 3.326, 4.14},
    {1.753, 2.131, 2.602, 2.947, 3.286, 4.073},
    {1.746, 2.12, 2.583, 2.921, 3.252, 4.015},
    {1.74, 2.11, 2.567, 2.898, 3.223, 3.965},
    {1.734, 2.101, 2.552, 2.878, 3.197, 3.922},
    {1.729, 2.093, 2.539, 2.861, 3.174, 3.883},
    {1.725, 2.086, 2.528, 2.845, 3.153, 3.85},
    {1.721, 2.08, 2.518, 2.831, 3.135, 3.819},
    {1.717, 2.074, 2.508, 2.819, 3.119, 3.792},
    {1.714, 2.069, 2.5, 2.807, 3.104, 3.768},
    {1.711, 2.064, 2.492, 2.797, 3.09, 3.745},
    {1.708, 2.06, 2.485, 2.787, 3.078, 3.725},
    {1.706, 2.056, 2.479, 2.779, 3.067, 3.707},
    {1.703, 2.052, 2.473, 2.771, 3.057, 3.69},
    {1.701, 2.048, 2.467, 2.763, 3.047, 3.674},
    {1.699, 2.045, 2.462, 2.756, 3.038, 3.659},
    {1.697, 2.042, 2.457, 2.75, 3.03, 3.646},
};

// Column of a level given in thousandths, truncated: 999 stands for every
// level from 0.999 up to 1.0. -1 when the level is not tabulated.
int tabulatedColumn(double thousandths) {
    constexpr double keys[tableColumns] = {900.0, 950.0, 980.0, 990.0, 995.0, 999.0};
    for (int c = 0; c < tableColumns; ++c)
        if (thousandths == keys[c]) return c;
    return -1;
}

} // namespace

double normal_distr(double p) {
    constexpr double c0 = 2.515517, c1 = 0.802853, c2 = 0.010328;
    constexpr double d0 = 1.0, d1 = 1.432788, d2 = 0.189269, d3 = 0.001308;
    const double t = std::sqrt(std::log(1.0 / (p * p)));
    return t - (c0 + c1 * t + c2 * t * t) / (d0 + d1 * t + d2 * t * t + d3 * t * t * t);
}

double student_distr(int df, double level) {
    if (df <= 0) {
        std::cout << "t_student: invalid degree of freedom." << std::endl;
        return 0.0;
    }
    if (df > tableRows) return normal_distr((1.0 - level) / 2.0);

    const double* row = studentTable[df - 1];

    // The level in whole thousandths, truncated toward zero. A negative
    // level is no confidence level and matches no column.
    const int column = tabulatedColumn(std::trunc(1000.0 * level));
    if (column >= 0) return row[column];

    // Written so that a level that is not a number is refused as well.
    if (!(level >= tableLevels[0] && level <= tableLevels[tableColumns - 1])) {
        std::cout << "student_distr: wrong level " << level << " by degree of freedom " << df
                  << std::endl;
        return 0.0;
    }

    // Linear interpolation between the two neighbouring tabulated levels.
    int lower = 0;
    while (lower < tableColumns - 2 && level > tableLevels[lower + 1]) ++lower;
    const double f = (level - tableLevels[lower]) / levelSteps[lower];
    return row[lower] + (row[lower + 1] - row[lower]) * f;
}
