// Overlapping Allan deviation, modified Allan deviation and time deviation of phase (time-error)
// data, with the number of terms and a chi-squared confidence interval per averaging time.
// Maths only.
//
// Phase points x_i [s] are sampled every tau0 [s]; a missing point is NaN. For tau = m * tau0
// the variance is the mean of the squared second differences x_{i+2m} - 2 x_{i+m} + x_i over
// every i whose three points all exist, divided by 2 tau^2. Gaps are never bridged: a
// difference that touches a missing point is not a term.
//
// The modified variance at the same tau averages n = m consecutive second differences before
// squaring: mod sigma_y^2 = sum_j (sum_{i=j}^{j+n-1} (x_{i+2n} - 2 x_{i+n} + x_i))^2 /
// (2 n^2 tau^2 terms), a term for every j whose 3n points all exist (N - 3n + 1 without gaps).
// The time deviation is sigma_x(tau) = tau / sqrt(3) mod sigma_y(tau) [s].
//
// Only +, -, *, / and sqrt reach the results, so they are the same bits on every system.
#pragma once

#include <cstdint>
#include <limits>
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

    // The modified Allan deviation at the same tau; NaN (and no terms) when gaps leave no run of
    // 3 m points. Its interval's degrees of freedom are ModifiedFreedom's for ModNoise.
    double ModDeviation = std::numeric_limits<double>::quiet_NaN();  // [fractional frequency]
    int64_t ModTerms = 0;  // windows of m second differences used
    double ModFreedom = 0;
    AllanNoise ModNoise = AllanNoise::WhitePhase;  // from the modified deviation's slope
    double ModLow = std::numeric_limits<double>::quiet_NaN();         // [fractional frequency], as
    double ModHigh = std::numeric_limits<double>::quiet_NaN();        // Low and High
    double TimeDeviation = std::numeric_limits<double>::quiet_NaN();  // sigma_x(tau) [s]
};

// The averaging factors 1, 2, 5, 10, 20, 50, ... up to a third of `span` points.
std::vector<int64_t> AllanFactors(int64_t span);

// The overlapping Allan deviation of `x` [s] at every factor of AllanFactors(x.size()) that has
// at least one term; `tau0` [s] is the spacing of the points. The interval is the 68.3 % (one
// sigma) chi-squared interval; its degrees of freedom follow the white phase noise formula
// where the deviations fall at least as fast as tau^-3/4 around that tau, the white frequency
// noise formula elsewhere.
// The modified deviation's noise type follows its own slopes: white phase noise falls as
// tau^-3/2, white frequency noise as tau^-1/2; white phase where it falls at least as fast as
// tau^-1.
std::vector<AllanPoint> OverlappingAllanDeviation(const std::vector<double>& x, double tau0);

// Equivalent degrees of freedom of the overlapping modified Allan variance from `terms` windows
// at factor m, for white phase or white frequency noise, at least 1. A window's sum z_j weighs
// the phase points (white phase noise) or the frequency steps between them (white frequency
// noise) with fixed weights w_u, so the z_j are Gaussian with the autocovariance
// R(k) = sum_u w_u w_{u+k}, zero from k = 3 m on; the estimate, the mean of T = `terms` squares,
// has the mean R(0) and the variance 2 / T^2 sum_{j,j'} R(j - j')^2, and the chi-squared
// distribution of the same mean and variance has T^2 R(0)^2 / sum_{|k|<T} (T - |k|) R(k)^2
// degrees of freedom. The weights are 1, -2, 1 (m each) on the phase; on the frequency steps
// -1 .. -m, -m+2 .. m-2 in steps of 2, then m .. 1. Gaps are taken as T windows of one run.
double ModifiedFreedom(AllanNoise noise, double terms, int64_t m);

// Equivalent degrees of freedom of an overlapping Allan variance from `points` phase points at
// factor m, for white phase and for white frequency noise.
double AllanFreedom(AllanNoise noise, double points, double m);

// The p-quantile of the chi-squared distribution with `freedom` degrees of freedom for the
// normal quantile `z` (Wilson-Hilferty); 0 when the approximation falls below zero.
double ChiSquaredQuantile(double freedom, double z);

}  // namespace qv
