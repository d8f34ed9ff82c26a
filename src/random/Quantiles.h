#pragma once
// Critical values for confidence intervals.

// Upper-tail quantile z of the standard normal distribution, P(Z > z) = p,
// for 0 < p <= 0.5 (rational approximation, absolute error below 4.5e-4).
double normal_distr(double p);

// Two-sided critical value t of Student's t with df degrees of freedom,
// P(|T| <= t) = level. Tabulated for df 1 to 30 and levels 0.90 to 0.999
// (interpolated between the tabulated levels); the normal quantile above
// 30 degrees of freedom. A level outside the table or df <= 0 prints a
// message on standard output and gives 0.
double student_distr(int df, double level);
