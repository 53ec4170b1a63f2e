// Overlapping Allan deviation: the known slopes of white phase and white frequency noise, a
// ramp that gives nothing, gaps counted as missing terms, and the chi-squared intervals.
#include "dsp/allan_deviation.h"

#include <gtest/gtest.h>

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

}  // namespace qv
