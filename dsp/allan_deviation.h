// Overlapping Allan deviation of phase (time-error) data, with the number of terms and a
// chi-squared confidence interval per averaging time. Maths only.
//
// Phase points x_i [s] are sampled every tau0 [s]; a missing point is NaN. For tau = m * tau0
// the variance is the mean of the squared second differences x_{i+2m} - 2 x_{i+m} + x_i over
// every i whose three points all exist, divided by 2 tau^2. Gaps are never bridged: a
// difference that touches a missing point is not a term.
//
// Only +, -, *, / and sqrt reach the results, so they are the same bits on every system.
#pragma once

#include <cstdint>
#include <vector>

namespace qv {

// The noise type that decides the equivalent degrees of freedom of an interval.
enum class AllanNoise { WhitePhase, WhiteFrequency };

struct AllanPoint {
    int64_t Factor = 0;    // m: tau / tau0
    double Tau = 0;        // [s]
    double Deviation = 0;  // sigma_y(tau) [fractional frequency]
    int64_t Terms = 0;     // second differences used
    double Freedom = 0;    // equivalent degrees of freedom of the chi-squared interval
    AllanNoise Noise = AllanNoise::WhitePhase;  // the type Freedom was worked out for
    double Low = 0;   // the interval's ends [fractional frequency]; High is +inf when
    double High = 0;  // too few degrees of freedom bound it
};

// The averaging factors 1, 2, 5, 10, 20, 50, ... up to a third of `span` points.
std::vector<int64_t> AllanFactors(int64_t span);

// The overlapping Allan deviation of `x` [s] at every factor of AllanFactors(x.size()) that has
// at least one term; `tau0` [s] is the spacing of the points. The interval is the 68.3 % (one
// sigma) chi-squared interval; its degrees of freedom follow the white phase noise formula
// where the deviations fall at least as fast as tau^-3/4 around that tau, the white frequency
// noise formula elsewhere.
std::vector<AllanPoint> OverlappingAllanDeviation(const std::vector<double>& x, double tau0);

// Equivalent degrees of freedom of an overlapping Allan variance from `points` phase points at
// factor m, for white phase and for white frequency noise.
double AllanFreedom(AllanNoise noise, double points, double m);

// The p-quantile of the chi-squared distribution with `freedom` degrees of freedom for the
// normal quantile `z` (Wilson-Hilferty); 0 when the approximation falls below zero.
double ChiSquaredQuantile(double freedom, double z);

}  // namespace qv
