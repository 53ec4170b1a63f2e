// Overlapping Allan and modified Allan deviation with gaps, their degrees of freedom and
// chi-squared intervals, and the time deviation.
#include "dsp/allan_deviation.h"

#include <algorithm>
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

// Whether the modified deviations fall at least as fast as tau^-1 from (t1, d1) to (t2, d2):
// d2/d1 < t1/t2, compared as products.
bool FallsFasterThanOneOverTau(double t1, double d1, double t2, double d2) {
    return d2 * t2 < d1 * t1;
}

// The one-sigma interval's ends of a deviation with `freedom` degrees of freedom.
void Interval(double deviation, double freedom, double& low, double& high) {
    const double upper = ChiSquaredQuantile(freedom, kOneSigma);
    const double lower = ChiSquaredQuantile(freedom, -kOneSigma);
    low = deviation * std::sqrt(freedom / upper);
    high = lower > 0 ? deviation * std::sqrt(freedom / lower)
                     : std::numeric_limits<double>::infinity();
}

// The modified Allan and time deviation of point p (factor m) from `x`. The window sums of m
// consecutive second differences run along each gap-free stretch: the newest difference added,
// the one m back taken off; a missing difference starts the stretch again. O(N) per factor.
void AddModified(AllanPoint& p, const std::vector<double>& x) {
    const int64_t count = static_cast<int64_t>(x.size()), m = p.Factor;
    long double window = 0, sum = 0;
    int64_t run = 0, terms = 0;  // run: differences in the current gap-free stretch
    std::vector<long double> last(static_cast<size_t>(m));  // the stretch's last m differences
    for (int64_t i = 0; i + 2 * m < count; ++i) {
        const double a = x[static_cast<size_t>(i)], b = x[static_cast<size_t>(i + m)],
                     c = x[static_cast<size_t>(i + 2 * m)];
        if (std::isnan(a) || std::isnan(b) || std::isnan(c)) {
            run = 0;
            window = 0;
            continue;
        }
        const long double d = static_cast<long double>(c) - 2.0L * b + a;
        long double& slot = last[static_cast<size_t>(i % m)];
        window += d;
        if (run >= m) window -= slot;
        slot = d;
        ++run;
        if (run < m) continue;
        sum += window * window;
        ++terms;
    }
    p.ModTerms = terms;
    if (terms == 0) return;
    const long double tau = p.Tau, n = static_cast<long double>(m);
    p.ModDeviation = static_cast<double>(std::sqrt(sum / (2.0L * n * n * tau * tau * terms)));
    // tau^2 / 3 times the modified variance: tau cancels.
    p.TimeDeviation = static_cast<double>(std::sqrt(sum / (6.0L * n * n * terms)));
}

// A stretch of a window's weights: A + B u for u = From .. To (none when From > To).
struct WeightPiece {
    int64_t From = 0, To = -1;
    long double A = 0, B = 0;
};

// sum_u w_p(u) w_q(u + k) over the u where both pieces have a weight, by the closed sums of 1, u
// and u^2: O(1) whatever the pieces' length. The weights are whole numbers, as are the sums.
long double PieceProducts(const WeightPiece& p, const WeightPiece& q, int64_t k) {
    const int64_t lo = std::max(p.From, q.From - k), hi = std::min(p.To, q.To - k);
    if (lo > hi) return 0;
    auto squares = [](long double a) { return a * (a + 1) * (2 * a + 1) / 6; };  // 0^2 .. a^2
    const long double l = static_cast<long double>(lo), h = static_cast<long double>(hi);
    const long double count = h - l + 1, sum = (l + h) * count / 2;
    const long double sumSquares = squares(h) - squares(l - 1);
    const long double qa = q.A + q.B * static_cast<long double>(k);
    return p.A * qa * count + (p.A * q.B + p.B * qa) * sum + p.B * q.B * sumSquares;
}

}  // namespace

double ModifiedFreedom(AllanNoise noise, double terms, int64_t m) {
    const long double n = static_cast<long double>(m);
    std::vector<WeightPiece> pieces;
    int64_t length = 0;  // of the weights
    if (noise == AllanNoise::WhitePhase) {
        pieces = {{0, m - 1, 1, 0}, {m, 2 * m - 1, -2, 0}, {2 * m, 3 * m - 1, 1, 0}};
        length = 3 * m;
    } else {
        pieces = {{0, m - 1, -1, -1},
                  {m, 2 * m - 2, 2 - 3 * n, 2},
                  {2 * m - 1, 3 * m - 2, 3 * n - 1, -1}};
        length = 3 * m - 1;
    }
    auto covariance = [&](int64_t k) {
        long double r = 0;
        for (const WeightPiece& p : pieces) {
            for (const WeightPiece& q : pieces) r += PieceProducts(p, q, k);
        }
        return r;
    };
    const long double t = terms, r0 = covariance(0);
    long double sum = t * r0 * r0;
    for (int64_t k = 1; k < length && static_cast<long double>(k) < t; ++k) {
        const long double r = covariance(k);
        sum += 2 * (t - static_cast<long double>(k)) * r * r;
    }
    const double freedom = static_cast<double>(t * t * r0 * r0 / sum);
    return freedom < 1 ? 1 : freedom;
}

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
        AddModified(p, x);
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
        Interval(p.Deviation, p.Freedom, p.Low, p.High);
    }
    // The modified deviation's noise, from its neighbours that have one.
    for (size_t k = 0; k < points.size(); ++k) {
        AllanPoint& p = points[k];
        if (p.ModTerms == 0) continue;
        size_t from = k, to = k;
        if (k > 0 && points[k - 1].ModTerms > 0) from = k - 1;
        if (k + 1 < points.size() && points[k + 1].ModTerms > 0) to = k + 1;
        const bool whitePhase =
            from != to && points[from].ModDeviation > 0 &&
            FallsFasterThanOneOverTau(points[from].Tau, points[from].ModDeviation, points[to].Tau,
                                      points[to].ModDeviation);
        p.ModNoise = whitePhase ? AllanNoise::WhitePhase : AllanNoise::WhiteFrequency;
        p.ModFreedom = ModifiedFreedom(p.ModNoise, static_cast<double>(p.ModTerms), p.Factor);
        Interval(p.ModDeviation, p.ModFreedom, p.ModLow, p.ModHigh);
    }
    return points;
}

}  // namespace qv
