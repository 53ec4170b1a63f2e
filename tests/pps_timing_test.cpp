// The fine PPS timing against the simulator's truth: where each GPS second's edge lies in the
// device frames, for clean, inverted, missing, double and noisy pulses, cards far off, a run
// that starts within a pulse and a capture that drops frames; the model fit against half-peak.
#include "dsp/pps_timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/pps_truth.h"
#include "tests/simulated_frames.h"

namespace qv {

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

namespace {

// A receiver's RC pulses sampled straight by a card at `rate`, `ppm` fast: edge k (k = 0, 1,
// ...) at frame (0.3 + k) rate (1 + ppm 1e-6), a rise of time constant `riseMs`, 100 ms high,
// 0.6 of full scale, with a triangular dither of +-1 LSB.
std::vector<int16_t> RcPulses(int rate, double ppm, double riseMs, int seconds,
                              std::vector<long double>& truth) {
    std::vector<int16_t> pps(static_cast<size_t>(seconds) * static_cast<size_t>(rate));
    const long double perSecond = rate * (1 + ppm * 1e-6L);
    const double tau = riseMs * 1e-3 * rate, width = 0.1 * rate;
    truth.clear();
    for (int k = 0; (0.3L + k) * perSecond < pps.size(); ++k)
        truth.push_back((0.3L + k) * perSecond);
    uint32_t seed = 12345;
    const auto uniform = [&] { return (seed = seed * 1664525u + 1013904223u) / 4294967296.0; };
    size_t next = 0;
    for (size_t j = 0; j < pps.size(); ++j) {
        while (next + 1 < truth.size() && j >= truth[next + 1]) ++next;
        const double x = static_cast<double>(j - truth[next]);
        double v = 0;
        if (x >= 0) {
            const double high = 1 - std::exp(-std::min(x, width) / tau);
            v = 0.6 * 32767 * high * (x > width ? std::exp(-(x - width) / tau) : 1);
        }
        pps[j] = static_cast<int16_t>(std::lround(v + uniform() - uniform()));
    }
    return pps;
}

}  // namespace

// A card at 22.05, 48 and 192 kHz: the times the timing counts in frames follow its rate, and
// receivers' RC rises of 0.5, 0.5 and 0.2 ms (11, 24 and 38 frames) are timed by the model. The
// edges are exact and the card's frequency is in ppm of its own rate; a second pulse 150 ms
// after an edge (past 2000 frames) is still within the 250 ms hold-off, so both are rejected;
// 1000 frames dropped (under 50 ms) are a sample slip carried across; and the seconds are
// counted at the card's rate.
TEST(FinePpsTiming, TheTimesItCountsInFramesFollowTheCardsRate) {
    for (const auto& [rate, riseMs] :
         {std::pair{22050, 0.5}, std::pair{48000, 0.5}, std::pair{192000, 0.2}}) {
        std::vector<long double> truth;
        std::vector<int16_t> pps = RcPulses(rate, 37, riseMs, 20, truth);
        // Second 6: a double pulse, a copy of the pulse's first 20 ms 150 ms after its edge.
        const auto edge6 = static_cast<long>(truth[6]);
        std::copy_n(pps.begin() + edge6 - 10, rate / 50, pps.begin() + edge6 + rate * 3 / 20);
        // 1000 frames dropped half-way between edges 12 and 13.
        const auto drop = static_cast<long>(truth[12]) + rate / 2;
        pps.erase(pps.begin() + drop, pps.begin() + drop + 1000);
        for (size_t k = 13; k < truth.size(); ++k) truth[k] -= 1000;

        PpsTiming p;
        SetPpsTimingRate(p, rate);
        std::vector<PpsEdge> edges;
        for (size_t j = 0; j <= pps.size(); ++j) {
            PpsEdge e;
            if ((j % 4000 == 0 || j == pps.size()) && TakePpsEdge(p, e)) edges.push_back(e);
            if (j < pps.size()) FeedPpsTiming(p, pps[j], false);
        }
        EXPECT_EQ(p.RejectedDouble, 1) << rate;
        EXPECT_EQ(p.PulsesRejected, 1) << rate;
        EXPECT_EQ(p.Slips, 1) << rate;
        EXPECT_EQ(p.SlippedFrames, 1000) << rate;
        ASSERT_EQ(edges.size(), truth.size() - 2) << rate;  // the first and the double
        long double worst = 0;
        for (const PpsEdge& e : edges) {
            size_t k = 0;
            while (k + 1 < truth.size() && truth[k + 1] - e.Frame < e.Frame - truth[k]) ++k;
            worst = std::max(worst, std::fabs(e.Frame - truth[k]));
            EXPECT_EQ(e.Second, static_cast<int64_t>(k)) << rate;
        }
        EXPECT_LT(worst, 0.005L) << rate;
        EXPECT_EQ(edges.back().Method, PpsMethod::ModelFit) << rate;
        EXPECT_NEAR(static_cast<double>(edges.back().FitPpm), 37, 0.01) << rate;
        EXPECT_NEAR(static_cast<double>(edges.back().RatePpm), 37, 0.05) << rate;
        EXPECT_NEAR(edges.back().RiseFrames, riseMs * 1e-3 * rate, riseMs * rate * 1e-5) << rate;
    }
}

}  // namespace qv
