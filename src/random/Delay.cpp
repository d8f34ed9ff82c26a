#include "random/Delay.h"

#include <cmath>
#include <utility>

namespace {

// The spare value of the polar method, shared by every sampler of the
// process.
bool iset = false;
double gset = 0.0;

} // namespace

double Delay::Det(double x) const { return x; }

double Delay::Uni(double a, double b) const {
    if (a > b) std::swap(a, b);
    return a + (b - a) * stream.RandU01();
}

double Delay::DUni(long a, long b) const {
    if (b < a) std::swap(a, b);
    return static_cast<double>(stream.RandInt(static_cast<int>(a), static_cast<int>(b)));
}

double Delay::Triang(double a, double b) const {
    if (a > b) std::swap(a, b);
    // Rejection from the uniform square: u1 is accepted with probability
    // 2*u1 below the middle and 2 - 2*u1 above it.
    double u1;
    for (;;) {
        u1 = stream.RandU01();
        const double v = stream.RandU01() / 2.0;
        if ((u1 < 0.5 && u1 > v) || (u1 >= 0.5 && v > u1 - 0.5)) break;
    }
    return a + (b - a) * u1;
}

double Delay::Norm(double mean, double sd) const {
    if (iset) {
        iset = false;
        return gset * sd + mean;
    }
    // Polar method of Marsaglia: a point uniform in the unit disc.
    double x, y, s;
    do {
        x = 2.0 * stream.RandU01() - 1.0;
        y = 2.0 * stream.RandU01() - 1.0;
        s = x * x + y * y;
    } while (!(s > 0.0 && s < 1.0));
    const double r = std::sqrt(-2.0 * std::log(s) / s);
    gset = x * r;
    iset = true;
    return y * r * sd + mean;
}

double Delay::LogNorm(double mean, double sd) const { return std::exp(Norm(mean, sd)); }

double Delay::Wei(double scale, double shape) const {
    return scale * std::pow(-std::log(1.0 - stream.RandU01()), 1.0 / shape);
}
