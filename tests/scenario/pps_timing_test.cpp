// The fine PPS timing over simulated minutes against the simulator's truth: a wandering card
// with jittered pulses, every station of the card model in one series, and pulses band-limited
// by a card's filter.
#include "dsp/pps_timing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/pps_truth.h"
#include "tests/simulated_frames.h"

namespace qv {

namespace {

// The sine integral Si(x) by Simpson's rule, for the band-limited step below.
double SineIntegral(double x) {
    constexpr int kSteps = 2000;
    const double h = x / kSteps;
    double sum = 0;
    for (int k = 0; k <= kSteps; ++k) {
        const double t = k * h;
        const double f = t == 0 ? 1 : std::sin(t) / t;
        sum += f * (k == 0 || k == kSteps ? 1 : (k % 2 == 1 ? 4 : 2));
    }
    return sum * h / 3;
}

}  // namespace

// A card that drifts and wanders, with 2 us of PPS jitter: each edge is still where the
// simulator put it, the residuals are the jitter (RMS within 20 % of it), and the fine
// frequency follows the card's mean over the last minute as closely as the jitter allows.
TEST(FinePpsTiming, JitterShowsInTheResidualsAndTheFitFollowsAWanderingCard) {
    SimulatorSettings s;
    s.Seconds = 400;
    s.Ppm = 20;
    s.PpsJitterSeconds = 2e-6;
    s.DriftPpmPerHour = 3;
    s.WanderPpm = 0.5;
    s.WanderPeriodSeconds = 600;
    const Located r = Locate(s, Simulate(s), false);
    ASSERT_GE(r.Edges.size(), 398u);
    EXPECT_LT(r.WorstError, 0.005L);
    EXPECT_NEAR(static_cast<double>(r.ResidualRms), 2.0, 0.4);
    // 2 us of jitter on 60 edges a second apart leave the slope a standard error of
    // 2 us / sqrt(60 (60^2 - 1) / 12) s = 0.015 ppm: the fit is within three of them.
    const PpsEdge& last = r.Edges.back();
    EXPECT_GT(last.FitPpmSe, 0.008L);
    EXPECT_LT(last.FitPpmSe, 0.025L);
    const long double t = SimulatorTimeAtFrame(s, last.Frame);
    EXPECT_LT(std::fabs(last.FitPpm - SimulatorMeanCardPpm(s, t - 59, t)), 3 * last.FitPpmSe);
}

// The simulator's card model through every kind of station at once: pulse widths from 10 us
// to 500 ms, DC and AC coupling (0.5 and 50 Hz), a native 8 kHz minimum-phase card and a 48 kHz
// linear-phase one resampled, falling pulses with "Inverted", a weak pulse under hum and
// noise, all with TPDF dither. Every pulse after the series' first is timed, in one series by
// the learnt shape, and each edge's distance from its truth is one constant to hundredths of
// a microsecond; the card's frequency is the truth within three stated standard errors.
TEST(FinePpsTiming, EveryStationOfTheCardModelIsTimedInOneSeries) {
    struct Station {
        double WidthMs, AcHz;
        int CardRate;
        CardFilterPhase Filter;
        double Level, Hum, Noise;
        double MaxSpreadUs;  // [us] largest |error - mean error|: the noise's limit
    };
    const Station stations[] = {
        {100, 3, 48000, CardFilterPhase::Linear, 0.6, 0, 0, 0.03},
        {100, 20, 8000, CardFilterPhase::Minimum, 0.6, 0, 0, 0.03},
        {1, 50, 48000, CardFilterPhase::Minimum, -0.6, 0, 0, 0.03},
        {0.01, 0, 48000, CardFilterPhase::Linear, 0.6, 0, 0, 0.2},
        {500, 0.5, 8000, CardFilterPhase::Linear, -0.6, 0, 0, 0.03},
        {200, 20, 48000, CardFilterPhase::Linear, 0.03, 0.005, 0.0003, 3.0},
    };
    for (const Station& st : stations) {
        SimulatorSettings s;
        s.Seconds = 20;
        s.Ppm = 43.2;
        s.PpsWidthMs = st.WidthMs;
        s.PpsRiseMs = 1e-7;
        s.PpsAcHz = st.AcHz;
        s.CardRate = st.CardRate;
        s.CardFilter = st.Filter;
        s.PpsLevel = std::fabs(st.Level);
        s.InvertPps = st.Level < 0;
        s.PpsHumLevel = st.Hum;
        s.PpsNoiseLevel = st.Noise;
        s.Dither = true;
        const std::string name = std::to_string(st.WidthMs) + " ms, " + std::to_string(st.AcHz) +
                                 " Hz, card " + std::to_string(st.CardRate);
        const Located r = Locate(s, Simulate(s), st.Level < 0);
        EXPECT_GE(r.Edges.size(), 18u) << name;
        EXPECT_EQ(r.Timing.PulsesRejected, 0) << name;
        EXPECT_EQ(r.Timing.Series, 1) << name;
        EXPECT_EQ(r.Timing.Method, PpsMethod::ShapeFit) << name;
        EXPECT_LT(r.WorstSpread * 125, st.MaxSpreadUs) << name;
        const PpsEdge& last = r.Edges.back();
        EXPECT_LE(std::fabs(last.FitPpm - 43.2L), std::max(0.001L, 3 * last.FitPpmSe)) << name;
    }
}

// A fast PPS rise through a card's anti-alias filter (an ideal low-pass at 0.45 of the frame
// rate, so the step rings before and after the edge) into an AC-coupled input: the model
// cannot follow that shape, so the pulses are timed on their band-limited waveform instead of
// all being rejected. The edges walk through every fraction of a frame and stay within 1 us;
// a noisy pulse among them is still rejected.
TEST(FinePpsTiming, BandLimitedPulsesOfACardFilterAreTimedNotRejected) {
    SimulatorSettings s;
    s.Seconds = 120;
    s.Ppm = 123.4;
    s.PpsLevel = 0;  // the pulses come from below
    std::vector<Frame> frames = Simulate(s);
    constexpr int kRing = 32;  // [frames] the filter's ringing kept either side of the edge
    for (int second = 1; second < 120; ++second) {
        const long double edge = TruthFrame(s, second);
        const auto first = static_cast<int64_t>(std::floor(edge)) - kRing;
        for (int64_t k = std::max<int64_t>(first, 0);
             k < first + 2400 && k < static_cast<int64_t>(frames.size()); ++k) {
            const double x = static_cast<double>(k - edge);
            const double step = x > kRing ? 1 : 0.5 + SineIntegral(2 * M_PI * 0.45 * x) / M_PI;
            const double v = 0.6 * 32767 * step * std::exp(-std::max(x, 0.0) / 240);
            frames[static_cast<size_t>(k)].Pps = static_cast<int16_t>(std::lround(v));
        }
    }
    EditPulse(s, frames, 60, 24, [](Frame& f, int k) {
        f.Pps = static_cast<int16_t>(f.Pps + (k % 2 == 0 ? 3000 : -3000));
    });

    const Located r = Locate(s, frames, false);
    EXPECT_EQ(r.Timing.Method, PpsMethod::ShapeFit);
    // The first pulse shows the shape, the second confirms it; the noisy one is rejected.
    EXPECT_GE(r.Edges.size(), 114u);
    EXPECT_LE(r.Timing.PulsesRejected, 3);
    for (const PpsEdge& e : r.Edges) EXPECT_NE(GpsSecond(s, e.Frame), 60);
    // The shape's origin is the first pulse's half-height, near the step's middle; every edge
    // lies the same distance from the truth to 0.0004 frame (0.05 us).
    EXPECT_LT(r.WorstError, 0.1L);
    EXPECT_LT(r.WorstSpread, 0.0004L);
    EXPECT_LT(r.ResidualRms, 1.0);
    EXPECT_NEAR(static_cast<double>(r.Edges.back().FitPpm), 123.4, 0.01);
}

}  // namespace qv
