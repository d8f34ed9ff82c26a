#pragma once
#include <cmath>
// Firing-delay sampler of one transition. It owns its own random stream,
// taken from the package when the sampler is created; the generated delay
// functions call the samplers with the parameters of the model, e.g.
// Exp(1.0). Every uniform number is strictly between 0 and 1.
#include "random/RngStream.h"

class Delay {
public:
    Delay() = default;
    Delay(const Delay&) = delete;
    Delay& operator=(const Delay&) = delete;

    // Exponential with the given mean; 0 without a draw for a negative mean.
    double Exp(double mean) const {
        if (mean < 0.0) return 0.0;
        return ExpOfMean(mean);
    }
    // Exp for a mean that is known not to be negative (a fixed mean, checked
    // once).
    double ExpOfMean(double mean) const { return -std::log(1.0 - stream.RandU01()) * mean; }
    // Always x; draws nothing.
    double Det(double x) const;
    // Uniform between a and b (in either order).
    double Uni(double a, double b) const;
    // Uniform whole number in [a, b] (in either order).
    double DUni(long a, long b) const;
    // Symmetric triangular on [a, b] (in either order).
    double Triang(double a, double b) const;
    // Normal; one draw yields two values, and the spare one is kept for the
    // next Norm or LogNorm call of any sampler in the process.
    double Norm(double mean, double sd) const;
    // Log-normal: mean and sd are those of the logarithm.
    double LogNorm(double mean, double sd) const;
    // Weibull with the given scale and shape.
    double Wei(double scale, double shape) const;

private:
    // Sampling does not change what the sampler is, only where its stream is.
    // Every number drawn is read, so the sampler draws straight from the
    // stream (a choice stream counts the numbers nobody reads).
    mutable RngStream stream;
};
