// The fine PPS timing against the simulator's truth: where each GPS second's edge lies in the
// device frames, for clean, inverted, missing, double and noisy pulses, cards far off, a run
// that starts within a pulse and a capture that drops frames; the model fit against half-peak.
#include "dsp/pps_timing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/simulated_frames.h"

namespace qv {

namespace {

// The device frame position of the edge of GPS second `second`: the simulator's truth.
long double TruthFrame(const SimulatorSettings& s, long double second) {
    return SimulatorPpsStartFrame(s, static_cast<long long>(second));
}

// The nearest whole GPS second to a device frame position.
long double GpsSecond(const SimulatorSettings& s, long double frame) {
    return std::floor(SimulatorTimeAtFrame(s, frame) + 0.5L);
}

struct Located {
    PpsTiming Timing;
    std::vector<PpsEdge> Edges;
    long double WorstError = 0;   // [frames] largest |edge - truth|
    long double WorstSpread = 0;  // [frames] largest |edge - truth - their mean|
    long double ResidualRms = 0;  // [us] of the edges with a fit
};

// Feeds `frames` frame by frame, taking the final edges twice a second as the chain would, and
// compares each with the truth. `gapAt` >= 0: `gapFrames` frames are dropped before that one.
Located Locate(const SimulatorSettings& s, const std::vector<Frame>& frames, bool inverted,
               size_t gapAt = SIZE_MAX, int64_t gapFrames = 0) {
    Located r;
    long double squares = 0;
    int fitted = 0;
    for (size_t k = 0; k <= frames.size(); ++k) {
        PpsEdge e;
        if ((k % 4000 == 0 || k == frames.size()) && TakePpsEdge(r.Timing, e)) {
            r.Edges.push_back(e);
            const long double truth = TruthFrame(s, GpsSecond(s, e.Frame));
            r.WorstError = std::max(r.WorstError, std::fabs(e.Frame - truth));
            if (e.FitValid) squares += e.ResidualUs * e.ResidualUs, ++fitted;
        }
        if (k == frames.size()) break;
        if (k == gapAt) PpsTimingGap(r.Timing, gapFrames);
        FeedPpsTiming(r.Timing, frames[k].Pps, inverted);
    }
    r.ResidualRms = fitted > 0 ? std::sqrt(squares / fitted) : NAN;
    long double mean = 0;
    for (const PpsEdge& e : r.Edges) mean += e.Frame - TruthFrame(s, GpsSecond(s, e.Frame));
    mean /= std::max<size_t>(1, r.Edges.size());
    for (const PpsEdge& e : r.Edges) {
        const long double error = e.Frame - TruthFrame(s, GpsSecond(s, e.Frame)) - mean;
        r.WorstSpread = std::max(r.WorstSpread, std::fabs(error));
    }
    return r;
}

// The frames of GPS second `second`'s pulse, from its edge for `length` frames.
void EditPulse(const SimulatorSettings& s, std::vector<Frame>& frames, int second, int length,
               void (*edit)(Frame&, int)) {
    const auto first = static_cast<size_t>(std::floor(TruthFrame(s, second)));
    for (int k = 0; k < length && first + k < frames.size(); ++k) edit(frames[first + k], k);
}

}  // namespace

// The simulator's own pulse (an RC rise sampled straight, not band-limited) over rise times of
// 0.05 to 0.5 ms and cards whose edges walk through every fraction of a frame: the series
// chooses the pulse model, which fits it to the rounding and is exact to 0.005 frame (0.6 us)
// everywhere, with the rise time it was given.
TEST(FinePpsTiming, ModelFitLocatesEveryRiseTimeAndFractionOfAnUnfilteredPulse) {
    for (double rise : {0.05, 0.15, 0.5}) {
        for (double ppm : {37.0, -61.0, 123.4}) {
            SimulatorSettings s;
            s.Seconds = 25;
            s.Ppm = ppm;
            s.PpsRiseMs = rise;
            const std::vector<Frame> frames = Simulate(s);
            const Located fit = Locate(s, frames, false);
            EXPECT_EQ(fit.Edges.size(), 24u) << rise << " ms " << ppm << " ppm";
            EXPECT_LT(fit.WorstError, 0.005L) << rise << " ms " << ppm << " ppm";
            EXPECT_EQ(fit.Timing.PulsesRejected, 0);
            EXPECT_NEAR(fit.Edges.back().RiseFrames, rise * 8, rise * 8 * 1e-3);
            EXPECT_EQ(fit.Edges.back().Method, PpsMethod::ModelFit);
        }
    }
}

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

// Inverted pulses with "Inverted" on; a missing pulse every tenth second; a double pulse, a
// noisy pulse and a stray pulse mid-second. Each is said and counted, none is invented, the good
// seconds stay exact. The same inverted pulses with "Inverted" off give no edge at all.
TEST(FinePpsTiming, InvertedMissingDoubleAndNoisyPulsesAreCountedNotInvented) {
    SimulatorSettings s;
    s.Seconds = 120;
    s.Ppm = -61;
    s.InvertPps = true;
    std::vector<Frame> frames = Simulate(s);
    for (int second = 10; second <= 120; second += 10) {
        EditPulse(s, frames, second, 4000, [](Frame& f, int) { f.Pps = 0; });
    }
    // Second 25: a second pulse 50 ms after the first, on its decaying tail.
    EditPulse(s, frames, 25, 2000, [](Frame& f, int k) {
        if (k < 400) return;
        const double v = f.Pps - 15000 * std::exp(-(k - 400) / 240.0);
        f.Pps = static_cast<int16_t>(std::max(-32768.0, std::round(v)));
    });
    // Second 33: the rise buried in noise of 3000 LSB.
    EditPulse(s, frames, 33, 24, [](Frame& f, int k) {
        f.Pps = static_cast<int16_t>(f.Pps + (k % 2 == 0 ? 3000 : -3000));
    });

    // Second 47: a stray pulse half a second after the edge, a copy of it.
    const auto edge47 = static_cast<size_t>(TruthFrame(s, 47)) - 20;
    std::copy(frames.begin() + static_cast<long>(edge47),
              frames.begin() + static_cast<long>(edge47) + 2000,
              frames.begin() + static_cast<long>(edge47) + 4000);

    const Located r = Locate(s, frames, true);
    EXPECT_EQ(r.Timing.PulsesRejected, 3);
    // 12 missing pulses, and the last one past the run's end is not missing: 11 within.
    EXPECT_EQ(r.Timing.SecondsMissing, 11);
    for (const PpsEdge& e : r.Edges) {
        const long double second = GpsSecond(s, e.Frame);
        EXPECT_NE(std::fmod(second, 10.0L), 0) << "an edge where there was no pulse";
        EXPECT_NE(second, 25);
        EXPECT_NE(second, 33);
        EXPECT_EQ(e.Second, second - 1) << "counted from the first edge, gaps included";
    }
    EXPECT_EQ(r.Edges.size(), 120u - 12 - 2 - 1);
    EXPECT_LT(r.WorstError, 0.005L);
    EXPECT_LT(r.ResidualRms, 1.0);
    EXPECT_NEAR(static_cast<double>(r.Edges.back().FitPpm), -61, 0.01);

    const Located wrongWay = Locate(s, frames, false);
    EXPECT_TRUE(wrongWay.Edges.empty());
    EXPECT_EQ(wrongWay.Timing.EdgesFound, 0);
}

// Cards 1 % off either way, a run that starts 1 ms into a pulse, and a live capture that
// drops frames: the seconds are counted right, the time line stays continuous.
TEST(FinePpsTiming, FarOffCardsAStartWithinAPulseAndDroppedFrames) {
    for (double ppm : {9999.0, -9999.0}) {
        SimulatorSettings s;
        s.Seconds = 40;
        s.Ppm = ppm;
        s.StartOffsetSeconds = 0.001;  // the first frame 1 ms after an edge
        const Located r = Locate(s, Simulate(s), false);
        ASSERT_EQ(r.Edges.size(), 38u) << ppm;
        EXPECT_EQ(GpsSecond(s, r.Edges.front().Frame), 2)
            << "the pulse cut by the start skipped, the first whole one confirmed by the next";
        EXPECT_LT(r.WorstError, 0.005L) << ppm;
        EXPECT_EQ(r.Edges.back().Second, 38);
        EXPECT_NEAR(static_cast<double>(r.Edges.back().FitPpm), ppm, 0.01);
        EXPECT_NEAR(static_cast<double>(r.Edges.back().RatePpm), ppm, 0.05);
        EXPECT_EQ(r.Timing.SecondsMissing + r.Timing.PulsesRejected, 0);
    }

    // 1.5 s dropped just before second 10's edge: that edge and the next are gone, the frame
    // index counts the dropped frames, and then the edges go on exact, seconds counted right.
    SimulatorSettings s;
    s.Seconds = 30;
    s.Ppm = 37;
    const std::vector<Frame> all = Simulate(s);
    const auto cut = static_cast<size_t>(TruthFrame(s, 10)) - 100;
    std::vector<Frame> kept(all.begin(), all.begin() + static_cast<long>(cut));
    kept.insert(kept.end(), all.begin() + static_cast<long>(cut) + 12000, all.end());
    const Located r = Locate(s, kept, false, cut, 12000);
    ASSERT_EQ(r.Edges.size(), 27u);
    EXPECT_LT(r.WorstError, 0.005L);
    EXPECT_EQ(r.Timing.SecondsMissing, 2);
    EXPECT_EQ(r.Timing.PulsesRejected, 0);
    EXPECT_EQ(r.Edges[7].Second, 8);
    EXPECT_EQ(r.Edges[8].Second, 11);

    // A gap within a pulse's fit window drops that pulse alone, uncounted as rejected.
    const auto within = static_cast<size_t>(TruthFrame(s, 10)) + 5;
    const Located w = Locate(s, all, false, within, 0);
    EXPECT_EQ(w.Edges.size(), 28u);
    EXPECT_EQ(w.Timing.SecondsMissing, 1);
    EXPECT_EQ(w.Timing.PulsesRejected, 0);
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
}  // namespace qv

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
