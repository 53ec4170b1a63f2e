// Overlapping Allan deviation: the known slopes of white phase and white frequency noise, a
// ramp that gives nothing, gaps counted as missing terms, and the chi-squared intervals; the
// modified Allan and time deviation against their definition and their known slopes.
#include "dsp/allan_deviation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tests/gaussian_numbers.h"

namespace qv {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const AllanPoint* AtFactor(const std::vector<AllanPoint>& ps, int64_t m) {
    for (const AllanPoint& p : ps) {
        if (p.Factor == m) return &p;
    }
    return nullptr;
}

}  // namespace

TEST(AllanDeviation, FactorsStepOneTwoFiveUpToAThirdOfTheRun) {
    EXPECT_TRUE(AllanFactors(2).empty());
    EXPECT_EQ(AllanFactors(3), (std::vector<int64_t>{1}));
    EXPECT_EQ(AllanFactors(30), (std::vector<int64_t>{1, 2, 5, 10}));
    EXPECT_EQ(AllanFactors(86400), (std::vector<int64_t>{1, 2, 5, 10, 20, 50, 100, 200, 500, 1000,
                                                         2000, 5000, 10000, 20000}));
}

// Independent per-second jitter sigma_x: sigma_y(tau) = sqrt(3) sigma_x / tau, falling as 1/tau;
// the interval holds the truth and the noise is recognised. Tolerance: with 20000 terms the
// estimate's own spread at tau = 1 s is under 1 %, at 100 s (edf about 6000) about 1 %.
TEST(AllanDeviation, WhitePhaseNoiseFallsAsOneOverTau) {
    const double sigmaX = 2e-6;  // [s]
    Gaussian g(7);
    std::vector<double> x(20000);
    for (double& v : x) v = 5e-3 + sigmaX * g.Next();
    const std::vector<AllanPoint> ps = OverlappingAllanDeviation(x, 1.0);
    ASSERT_EQ(ps.size(), AllanFactors(20000).size());
    for (const int64_t m : {1, 2, 10, 100}) {
        const AllanPoint* p = AtFactor(ps, m);
        ASSERT_NE(p, nullptr);
        const double truth = std::sqrt(3.0) * sigmaX / static_cast<double>(m);
        EXPECT_NEAR(p->Deviation / truth, 1.0, 0.04) << "m = " << m;
        EXPECT_EQ(p->Terms, 20000 - 2 * m);
        EXPECT_EQ(p->Tau, static_cast<double>(m));
        EXPECT_EQ(p->Noise, AllanNoise::WhitePhase) << "m = " << m;
        EXPECT_LT(p->Low, p->Deviation);
        EXPECT_GT(p->High, p->Deviation);
        EXPECT_LT(p->Low, truth * 1.04);
        EXPECT_GT(p->High, truth * 0.96);
    }
    // White phase noise: the degrees of freedom are about half the points at tau0.
    EXPECT_NEAR(AtFactor(ps, 1)->Freedom, 10000, 10);
}

// White frequency noise: x is the running sum of independent y_i, sigma_y(tau) =
// sigma_y / sqrt(tau). Tolerance: 6 % at tau = 1 s; 15 % at 1000 s, where the edf is about 40.
TEST(AllanDeviation, WhiteFrequencyNoiseFallsAsOneOverRootTau) {
    const double sigmaY = 1e-9, tau0 = 3.0;
    Gaussian g(11);
    std::vector<double> x(30000);
    double sum = 0;
    for (double& v : x) {
        v = sum;
        sum += sigmaY * tau0 * g.Next();
    }
    const std::vector<AllanPoint> ps = OverlappingAllanDeviation(x, tau0);
    const AllanPoint* first = AtFactor(ps, 1);
    const AllanPoint* late = AtFactor(ps, 1000);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(late, nullptr);
    EXPECT_EQ(first->Tau, 3.0);
    EXPECT_NEAR(first->Deviation / sigmaY, 1.0, 0.06);
    EXPECT_NEAR(late->Deviation / (sigmaY / std::sqrt(1000.0)), 1.0, 0.15);
    for (const int64_t m : {2, 10, 100}) {
        EXPECT_EQ(AtFactor(ps, m)->Noise, AllanNoise::WhiteFrequency) << "m = " << m;
    }
    // Fewer degrees of freedom for long tau: a wider interval, relative to the deviation.
    EXPECT_GT(late->High / late->Deviation, first->High / first->Deviation);
    EXPECT_LT(late->Freedom, 100);
}

// A card that is simply off frequency is a ramp of x: no Allan deviation at all. Gaps leave
// exactly the differences that touch them out; x = i^2 has second differences 2 m^2 wherever
// they are taken, so its deviation is sqrt(2) m / tau0 with or without gaps.
TEST(AllanDeviation, RampGivesZeroAndGapsAreNeverBridged) {
    std::vector<double> ramp(300);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = 0.25 + 37e-6 * static_cast<double>(i);
    for (const AllanPoint& p : OverlappingAllanDeviation(ramp, 1.0)) {
        // Only the rounding of the points themselves (5.6e-17 s apart near 0.26 s) is left.
        EXPECT_LT(p.Deviation, 1e-15) << "tau " << p.Tau;
    }

    std::vector<double> x(10);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i * i);
    x[4] = kNaN;
    const std::vector<AllanPoint> ps = OverlappingAllanDeviation(x, 2.0);
    ASSERT_EQ(ps.size(), 2u);   // factors 1 and 2 of a third of 10 points
    EXPECT_EQ(ps[0].Terms, 5);  // i = 0..7 without 2, 3, 4
    EXPECT_EQ(ps[1].Terms, 3);  // i = 0..5 without 0, 2, 4
    EXPECT_DOUBLE_EQ(ps[0].Deviation, std::sqrt(2.0) * 1 / 2.0);
    EXPECT_DOUBLE_EQ(ps[1].Deviation, std::sqrt(2.0) * 2 / 2.0);

    // Every other point missing: no difference has all three points at an odd factor.
    std::vector<double> sparse(60, 1.0);
    for (size_t i = 1; i < sparse.size(); i += 2) sparse[i] = kNaN;
    const std::vector<AllanPoint> even = OverlappingAllanDeviation(sparse, 1.0);
    ASSERT_FALSE(even.empty());
    for (const AllanPoint& p : even) EXPECT_EQ(p.Factor % 2, 0) << p.Factor;
    EXPECT_TRUE(OverlappingAllanDeviation(std::vector<double>(2, 0.0), 1.0).empty());
}

// The one-sigma chi-squared quantiles approach v -+ sqrt(2 v) for many degrees of freedom, and
// the intervals' ends are the deviation scaled by sqrt(edf / quantile). The Wilson-Hilferty
// values for v = 10 against the exact 15.87 % and 84.13 % quantiles (5.681 and 14.326): within
// 0.3 %.
TEST(AllanDeviation, ChiSquaredIntervalsFromTheEquivalentDegreesOfFreedom) {
    EXPECT_NEAR(ChiSquaredQuantile(10, -1), 5.681, 0.017);
    EXPECT_NEAR(ChiSquaredQuantile(10, 1), 14.326, 0.043);
    const double v = 20000;
    EXPECT_NEAR(ChiSquaredQuantile(v, 1), v + std::sqrt(2 * v), 1.0);
    EXPECT_NEAR(ChiSquaredQuantile(v, -1), v - std::sqrt(2 * v), 1.0);
    EXPECT_EQ(ChiSquaredQuantile(0.2, -1), 0.0);  // the approximation has no lower end here

    // The textbook degrees of freedom for N points at factor m.
    EXPECT_DOUBLE_EQ(AllanFreedom(AllanNoise::WhitePhase, 1000, 10), 1001.0 * 980 / (2 * 990));
    EXPECT_DOUBLE_EQ(AllanFreedom(AllanNoise::WhiteFrequency, 1000, 10),
                     (3.0 * 999 / 20 - 2.0 * 998 / 1000) * 400 / 405);
    EXPECT_EQ(AllanFreedom(AllanNoise::WhitePhase, 10, 5), 1.0);  // never below one

    // Four points, one term: an interval with no upper end.
    const std::vector<AllanPoint> one = OverlappingAllanDeviation({0, 1e-6, -1e-6, 0}, 1.0);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].Terms, 2);
    EXPECT_GT(one[0].High, one[0].Deviation);
    EXPECT_LT(one[0].Low, one[0].Deviation);
}

namespace {

// The modified deviation's definition evaluated directly: for every j whose points j .. j+3m-1
// all exist, the square of the sum of the m second differences from j on.
void CheckModifiedByDefinition(const std::vector<double>& x, double tau0) {
    const int64_t count = static_cast<int64_t>(x.size());
    const std::vector<AllanPoint> ps = OverlappingAllanDeviation(x, tau0);
    ASSERT_FALSE(ps.empty());
    for (const AllanPoint& p : ps) {
        const int64_t m = p.Factor;
        long double sum = 0;
        int64_t terms = 0;
        for (int64_t j = 0; j + 3 * m <= count; ++j) {
            bool whole = true;
            for (int64_t k = j; k < j + 3 * m; ++k) whole = whole && !std::isnan(x[k]);
            if (!whole) continue;
            long double inner = 0;
            for (int64_t i = j; i < j + m; ++i) {
                inner += static_cast<long double>(x[i + 2 * m]) - 2.0L * x[i + m] + x[i];
            }
            sum += inner * inner;
            ++terms;
        }
        ASSERT_EQ(p.ModTerms, terms) << "m = " << m;
        if (terms == 0) {
            EXPECT_TRUE(std::isnan(p.ModDeviation) && std::isnan(p.TimeDeviation));
            continue;
        }
        const long double tau = static_cast<double>(m) * tau0;
        const double mdev =
            static_cast<double>(std::sqrt(sum / (2.0L * m * m * tau * tau * terms)));
        // The running window sums round differently from the direct ones: 1e-12 relative.
        EXPECT_NEAR(p.ModDeviation / mdev, 1.0, 1e-12) << "m = " << m;
        EXPECT_NEAR(p.TimeDeviation / (p.Tau / std::sqrt(3.0) * mdev), 1.0, 1e-12) << "m = " << m;
        EXPECT_EQ(p.ModFreedom, ModifiedFreedom(p.ModNoise, static_cast<double>(terms), m));
        EXPECT_LT(p.ModLow, p.ModDeviation);
        EXPECT_GT(p.ModHigh, p.ModDeviation);
    }
}

}  // namespace

// Short series with and without gaps (a lone gap, a gap that leaves some factors no window at
// all): every factor's terms, deviation and time deviation as the definition gives them. At
// m = 1 without gaps the modified deviation is the Allan deviation, bit for bit.
TEST(ModifiedAllanDeviation, MatchesTheDefinitionEvaluatedDirectly) {
    Gaussian g(5);
    std::vector<double> x(61);
    double walk = 0;
    for (double& v : x) {
        walk += 3e-7 * g.Next();
        v = 1e-3 + walk + 1e-6 * g.Next();
    }
    CheckModifiedByDefinition(x, 1.0);
    const std::vector<AllanPoint> whole = OverlappingAllanDeviation(x, 1.0);
    EXPECT_EQ(whole[0].ModDeviation, whole[0].Deviation);
    EXPECT_EQ(whole.back().Factor, 20);
    EXPECT_EQ(whole.back().ModTerms, 2);  // 61 - 3 * 20 + 1
    x[17] = kNaN;
    CheckModifiedByDefinition(x, 2.5);
    x[40] = kNaN;  // no run of 30 points is left: m = 10 and 20 have no window
    CheckModifiedByDefinition(x, 1.0);
    EXPECT_EQ(OverlappingAllanDeviation(x, 1.0).back().ModTerms, 0);
}

// White phase noise of RMS sigma_x: the m second differences of a window weigh its 3m points
// by 1, -2 and 1, so their sum has variance 6 m sigma_x^2, and mod sigma_y^2 = 6 m sigma_x^2 /
// (2 m^2 tau^2): MDEV = sqrt(3 / m) sigma_x / tau, falling as tau^-3/2; TDEV = sigma_x /
// sqrt(m). White frequency noise (x the running sum of tau0 y_i): the window's sum weighs the
// y_i by -1 .. -m, then -m+2 .. m-2 in steps of 2, then m .. 1, whose squares add up to
// m (m^2 + 1): MDEV^2 = sigma_y^2 (m^2 + 1) / (2 m^3), tending to tau^-1/2; TDEV^2 =
// tau0^2 sigma_y^2 (m^2 + 1) / (6 m). Tolerance 5 %: with 60000 points the estimates' own
// spread is under 2 % up to m = 50 (more than 400 degrees of freedom); the slopes are fitted
// over a decade and more, 0.05 apart from the truth.
TEST(ModifiedAllanDeviation, WhitePhaseAndWhiteFrequencyNoiseAsTheoryHasThem) {
    const int64_t count = 60000;
    const double sigmaX = 2e-6, sigmaY = 1e-9, tau0 = 2.0;
    Gaussian g(13);
    std::vector<double> pm(count), fm(count);
    double sum = 0;
    for (int64_t i = 0; i < count; ++i) {
        pm[i] = 5e-3 + sigmaX * g.Next();
        fm[i] = sum;
        sum += sigmaY * tau0 * g.Next();
    }
    const std::vector<AllanPoint> white = OverlappingAllanDeviation(pm, 1.0);
    const std::vector<AllanPoint> walk = OverlappingAllanDeviation(fm, tau0);
    for (const int64_t m : {1, 2, 5, 10, 20, 50}) {
        const double n = static_cast<double>(m);
        const AllanPoint* p = AtFactor(white, m);
        const AllanPoint* f = AtFactor(walk, m);
        ASSERT_NE(p, nullptr);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(p->ModTerms, count - 3 * m + 1);
        const double pmMdev = std::sqrt(3 / n) * sigmaX / p->Tau;
        EXPECT_NEAR(p->ModDeviation / pmMdev, 1.0, 0.05) << "m = " << m;
        EXPECT_NEAR(p->TimeDeviation / (sigmaX / std::sqrt(n)), 1.0, 0.05) << "m = " << m;
        // The one-sigma interval: the truth within three of its half-widths.
        EXPECT_LT(std::fabs(p->ModDeviation - pmMdev), 1.5 * (p->ModHigh - p->ModLow)) << m;
        EXPECT_EQ(p->ModNoise, AllanNoise::WhitePhase) << "m = " << m;
        const double fmMdev = sigmaY * std::sqrt((n * n + 1) / (2 * n * n * n));
        EXPECT_NEAR(f->ModDeviation / fmMdev, 1.0, 0.05) << "m = " << m;
        EXPECT_NEAR(f->TimeDeviation / (tau0 * sigmaY * std::sqrt((n * n + 1) / (6 * n))), 1.0,
                    0.05)
            << "m = " << m;
        if (m > 1) {
            EXPECT_EQ(f->ModNoise, AllanNoise::WhiteFrequency) << "m = " << m;
        }
    }
    auto slope = [](const std::vector<AllanPoint>& ps, int64_t m1, int64_t m2) {
        const AllanPoint *a = AtFactor(ps, m1), *b = AtFactor(ps, m2);
        return std::log(b->ModDeviation / a->ModDeviation) / std::log(b->Tau / a->Tau);
    };
    EXPECT_NEAR(slope(white, 2, 50), -1.5, 0.05);
    EXPECT_NEAR(slope(walk, 10, 200), -0.5, 0.05);
}

namespace {

// The degrees of freedom from the weights of a window's sum written out: each the sum, as the
// definition has it, over 3 m points that are a unit impulse (white phase noise) or a unit step
// (a frequency step, white frequency noise) at u; then T^2 R(0)^2 / sum_{|k|<T} (T-|k|) R(k)^2.
double FreedomOfWeights(AllanNoise noise, double terms, int64_t m) {
    std::vector<double> w;
    for (int64_t u = 0; u < 3 * m; ++u) {
        auto x = [&](int64_t i) { return noise == AllanNoise::WhitePhase ? i == u : i > u; };
        double sum = 0;
        for (int64_t i = 0; i < m; ++i) sum += x(i + 2 * m) - 2.0 * x(i + m) + x(i);
        w.push_back(sum);
    }
    auto r = [&](size_t k) {
        double sum = 0;
        for (size_t u = 0; u + k < w.size(); ++u) sum += w[u] * w[u + k];
        return sum;
    };
    double sum = terms * r(0) * r(0);
    for (size_t k = 1; k < w.size() && static_cast<double>(k) < terms; ++k) {
        sum += 2 * (terms - static_cast<double>(k)) * r(k) * r(k);
    }
    return std::max(1.0, terms * terms * r(0) * r(0) / sum);
}

}  // namespace

// The modified variance's degrees of freedom: as the weights written out give them; at m = 1
// (the Allan variance) near the textbook formulas; and the spread of the estimates of 2000 runs
// of simulated noise as they predict it. Tolerance of the last: the spread of 2000 estimates is
// itself known to about 3 % (one sigma), so 10 %.
TEST(ModifiedAllanDeviation, DegreesOfFreedomAsTheEstimatesSpread) {
    for (const AllanNoise noise : {AllanNoise::WhitePhase, AllanNoise::WhiteFrequency}) {
        for (const int64_t m : {1, 2, 3, 7, 40}) {
            for (const double terms : {5.0, 1000.0}) {
                EXPECT_NEAR(ModifiedFreedom(noise, terms, m) / FreedomOfWeights(noise, terms, m),
                            1.0, 1e-12)
                    << "m = " << m;
            }
        }
    }
    // At m = 1 the modified variance is the Allan variance (N - 2 terms of N points).
    EXPECT_NEAR(ModifiedFreedom(AllanNoise::WhitePhase, 998, 1) /
                    AllanFreedom(AllanNoise::WhitePhase, 1000, 1),
                1.0, 0.03);
    EXPECT_NEAR(ModifiedFreedom(AllanNoise::WhiteFrequency, 998, 1) /
                    AllanFreedom(AllanNoise::WhiteFrequency, 1000, 1),
                1.0, 0.01);

    constexpr int kRuns = 2000, kPoints = 300, kFactor = 5;
    for (const AllanNoise noise : {AllanNoise::WhitePhase, AllanNoise::WhiteFrequency}) {
        Gaussian g(noise == AllanNoise::WhitePhase ? 17 : 19);
        long double sum = 0, squares = 0;
        int64_t terms = 0;
        for (int run = 0; run < kRuns; ++run) {
            std::vector<double> x(kPoints);
            double walk = 0;
            for (double& v : x) {
                v = noise == AllanNoise::WhitePhase ? g.Next() : walk;
                walk += g.Next();
            }
            const AllanPoint* p = AtFactor(OverlappingAllanDeviation(x, 1.0), kFactor);
            const double variance = p->ModDeviation * p->ModDeviation;
            sum += variance;
            squares += static_cast<long double>(variance) * variance;
            terms = p->ModTerms;
        }
        const long double mean = sum / kRuns, spread = squares / kRuns - mean * mean;
        const double seen = static_cast<double>(2 * mean * mean / spread);
        EXPECT_NEAR(seen / ModifiedFreedom(noise, static_cast<double>(terms), kFactor), 1.0, 0.1)
            << (noise == AllanNoise::WhitePhase ? "white PM" : "white FM") << ": " << seen;
    }
}

}  // namespace qv
