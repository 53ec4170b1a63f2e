// Overlapping Allan deviation with gaps, its degrees of freedom and chi-squared interval.
#include "dsp/allan_deviation.h"

#include <cmath>
#include <limits>

namespace qv {

namespace {

// The normal quantile of the one-sigma interval's ends (15.87 % and 84.13 %).
constexpr double kOneSigma = 1.0;

// Whether the deviations fall at least as fast as tau^-3/4 from (t1, d1) to (t2, d2): white
// phase noise falls as tau^-1, white frequency noise as tau^-1/2. Compared without logarithms:
// (d2/d1)^4 < (t1/t2)^3.
bool FallsLikeWhitePhase(double t1, double d1, double t2, double d2) {
    const double r = d2 / d1, t = t1 / t2;
    return r * r * r * r < t * t * t;
}

}  // namespace

std::vector<int64_t> AllanFactors(int64_t span) {
    std::vector<int64_t> factors;
    const int64_t limit = span / 3;
    for (int64_t decade = 1; decade <= limit; decade *= 10) {
        for (const int64_t step : {1, 2, 5}) {
            if (decade * step <= limit) factors.push_back(decade * step);
        }
    }
    return factors;
}

double AllanFreedom(AllanNoise noise, double points, double m) {
    const double n = points;
    double freedom = 0;
    if (noise == AllanNoise::WhitePhase) {
        freedom = (n + 1) * (n - 2 * m) / (2 * (n - m));
    } else {
        freedom = (3 * (n - 1) / (2 * m) - 2 * (n - 2) / n) * (4 * m * m) / (4 * m * m + 5);
    }
    return freedom < 1 ? 1 : freedom;
}

double ChiSquaredQuantile(double freedom, double z) {
    const double a = 2 / (9 * freedom);
    const double base = 1 - a + z * std::sqrt(a);
    return base <= 0 ? 0 : freedom * base * base * base;
}

std::vector<AllanPoint> OverlappingAllanDeviation(const std::vector<double>& x, double tau0) {
    std::vector<AllanPoint> points;
    const int64_t count = static_cast<int64_t>(x.size());
    for (const int64_t m : AllanFactors(count)) {
        // Long double sums: a day of terms adds up without losing the small ones.
        long double sum = 0;
        int64_t terms = 0;
        for (int64_t i = 0; i + 2 * m < count; ++i) {
            const double a = x[static_cast<size_t>(i)], b = x[static_cast<size_t>(i + m)],
                         c = x[static_cast<size_t>(i + 2 * m)];
            if (std::isnan(a) || std::isnan(b) || std::isnan(c)) continue;
            const long double d = static_cast<long double>(c) - 2.0L * b + a;
            sum += d * d;
            ++terms;
        }
        if (terms == 0) continue;
        AllanPoint p;
        p.Factor = m;
        p.Tau = static_cast<double>(m) * tau0;
        const long double tau = p.Tau;
        p.Deviation = static_cast<double>(std::sqrt(sum / (2.0L * tau * tau * terms)));
        p.Terms = terms;
        points.push_back(p);
    }
    // Degrees of freedom, with the points a gap-free run of the same terms would have.
    for (size_t k = 0; k < points.size(); ++k) {
        AllanPoint& p = points[k];
        const size_t from = k > 0 ? k - 1 : k, to = k + 1 < points.size() ? k + 1 : k;
        const bool whitePhase = from != to && points[from].Deviation > 0 &&
                                FallsLikeWhitePhase(points[from].Tau, points[from].Deviation,
                                                    points[to].Tau, points[to].Deviation);
        p.Noise = whitePhase ? AllanNoise::WhitePhase : AllanNoise::WhiteFrequency;
        const double m = static_cast<double>(p.Factor);
        p.Freedom = AllanFreedom(p.Noise, static_cast<double>(p.Terms) + 2 * m, m);
        const double upper = ChiSquaredQuantile(p.Freedom, kOneSigma);
        const double lower = ChiSquaredQuantile(p.Freedom, -kOneSigma);
        p.Low = p.Deviation * std::sqrt(p.Freedom / upper);
        p.High = lower > 0 ? p.Deviation * std::sqrt(p.Freedom / lower)
                           : std::numeric_limits<double>::infinity();
    }
    return points;
}

}  // namespace qv
