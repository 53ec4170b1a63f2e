// The signal simulator's card over long streams: the filters' bands and an ideal step landing
// on its truth, and noise, hum and dither on streams of their own for any read sizes.
#include "capture/signal_simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "capture/signal_simulator_card.h"
#include "capture/simulator_options.h"
#include "tests/simulated_frames.h"
#include "tests/simulator_checks.h"

namespace qv {

namespace {

// The card's filter, its nodes on the card's time line, as a function of frequency f [cycles
// per card sample]: the nodes' sum times the hats' sinc^2.
double CardGain(const PpsChain& chain, double f) {
    // e^(-i a j) by rotation: 9217 steps lose about 1e-12, far below the 1e-5 looked for.
    const double a = 2 * std::numbers::pi * f / kNodesPerSample;
    const double stepCos = std::cos(a), stepSin = std::sin(a);
    double re = 0, im = 0, c = 1, sn = 0;
    for (const double h : chain.Nodes) {
        re += h * c, im -= h * sn;
        const double next = c * stepCos - sn * stepSin;
        sn = sn * stepCos + c * stepSin, c = next;
    }
    const double x = std::numbers::pi * f / kNodesPerSample;
    const double hat = x == 0 ? 1 : std::sin(x) / x;
    return std::hypot(re, im) * hat * hat;
}

// The resampler's gain for phase r at f [Hz], the card at `rate`.
double ResamplerGain(const PpsChain& chain, int r, double f, int rate) {
    double re = 0, im = 0;
    const int half = chain.Taps / 2;
    for (int t = 0; t < chain.Taps; ++t) {
        const double v = static_cast<double>(r) / chain.Down + (half - 1 - t);
        const double a = 2 * std::numbers::pi * f / rate * v;
        const double w = chain.Weights[static_cast<size_t>(r * chain.Taps + t)];
        re += w * std::cos(a), im -= w * std::sin(a);
    }
    return std::hypot(re, im);
}

TEST(SignalSimulatorCard, FiltersHaveTheirBandsAndAnIdealStepLandsOnItsTruth) {
    // The filters: card pass band to 0.45 R (within the hats' 0.0015 dB), stop band from 0.5 R
    // to half the node rate 100 dB down, both phases alike; the resampler flat to 3600 Hz and
    // 100 dB down from 4000 Hz at every one of its phases (44100: 80).
    for (const CardFilterPhase phase : {CardFilterPhase::Linear, CardFilterPhase::Minimum}) {
        const std::shared_ptr<const PpsChain> chain =
            MakePpsChain({.CardRate = 44100, .CardFilter = phase});
        for (double f = 0; f <= 0.45; f += 0.01) ASSERT_NEAR(CardGain(*chain, f), 1, 2e-4) << f;
        for (double f = 0.5; f < 32; f += 0.0173) ASSERT_LT(CardGain(*chain, f), 1e-5) << f;
        for (int r = 0; r < chain->Down; r += 7) {
            for (double f = 0; f <= 3600; f += 300) {
                ASSERT_NEAR(ResamplerGain(*chain, r, f, 44100), 1, 1e-5) << r << " " << f;
            }
            for (double f = 4000; f < 22050; f += 97) {
                ASSERT_LT(ResamplerGain(*chain, r, f, 44100), 1e-5) << r << " " << f;
            }
        }
    }

    // An ideal step (rise 1e-13 s) through a linear-phase card, natively at 8000, resampled
    // from 44100 (80 phases) and from 192000, and cards whose frames are their own samples at
    // 48000 and 192000: antisymmetric about the pulse's start, on a frame or half way between
    // two, so at half height there (1e-7 of the height is 0.01 ns at the edge's slope); the
    // plateau is the level and a second's mean the area, in closed form. In the frames of the
    // whole stream the frame on the start is half the level, rounded.
    const std::pair<int, int> cards[] = {
        {8000, 8000}, {44100, 8000}, {192000, 8000}, {48000, 48000}, {0, 192000}};
    for (const auto& [rate, device] : cards) {
        const int second = device, half = device / 2;  // [frames]
        for (const double into : {0.0, 0.5}) {
            SimulatorSettings s = Only(0, 0, 0.6, 0);
            s.CardRate = rate, s.DeviceRate = device, s.PpsWidthMs = 100, s.PpsRiseMs = 1e-10;
            s.StartOffsetSeconds = 0.5 - into / device;
            const std::vector<double> v = ChainValues(s, 2 * second + 100);
            ASSERT_NEAR(Gap(SimulatorPpsStartFrame(s, 1), half + into), 0, 1e-9);
            double worst = 0;
            for (int j = 1; j < 120; ++j) {
                worst = std::max(worst,
                                 std::fabs(v[half + j] + v[half + (into > 0 ? 1 : 0) - j] - 0.6));
            }
            EXPECT_LT(worst, 1e-7 * 0.6) << rate << " " << device << " " << into;
            EXPECT_NEAR(v[half + device / 20], 0.6, 1e-12) << rate << " " << device;
            double sum = 0;
            for (int m = second; m < 2 * second; ++m) sum += v[m];
            EXPECT_NEAR(sum / second, 0.06, 1e-9) << rate << " " << device;
            if (into == 0 && device != 8000) {
                EXPECT_EQ(Simulate(s, half + 1)[half].Pps, 9830) << device;  // 0.3 * 32767
            }
        }
    }

    // With an AC coupling, away from the edges the card changes nothing (its pass band is flat
    // where the coupling's slow exponentials live).
    SimulatorSettings analog = Only(0, 0, 0.6, 0);
    analog.PpsWidthMs = 200, analog.PpsAcHz = 50, analog.Ppm = -20;
    SimulatorSettings card = analog;
    card.CardRate = 48000;
    const std::vector<double> a = ChainValues(analog, 16000), b = ChainValues(card, 16000);
    for (int m = 8000; m < 16000; ++m) {
        const double sinceStart = m - static_cast<double>(SimulatorPpsStartFrame(card, 2));
        if (std::fabs(sinceStart) > 100 && std::fabs(sinceStart - 1600) > 100) {
            ASSERT_NEAR(a[m], b[m], 1e-7) << m;
        }
    }

    // A card at its own 48000, drifting, with jitter: each value of a running stream (which
    // carries its settled terms from frame to frame) is the one a stream started there gives.
    SimulatorSettings own = analog;
    own.DeviceRate = 48000, own.DriftPpmPerHour = 50, own.PpsJitterSeconds = 1e-6;
    const std::shared_ptr<const PpsChain> chain = MakePpsChain(own);
    PpsChainState running;
    for (long long m = 0; m < 3 * 48000; ++m) {
        const double v = PpsChainFrame(*chain, running, own, m);
        PpsChainState fresh;
        if (m % 97 == 0) {
            ASSERT_NEAR(v, PpsChainFrame(*chain, fresh, own, m), 1e-12) << m;
        }
    }

    // Minimum phase: nothing before the pulse, and the step's derivative (the impulse response)
    // has its centroid at the delay the truth states: 0.55 frames at 48000, 3.3 natively at 8000
    // and as many of its own frames for a card at 48000.
    for (const auto& [rate, device] : {std::pair{8000, 8000}, {48000, 8000}, {48000, 48000}}) {
        SimulatorSettings s = Only(0, 0, 0.6, 0);
        s.CardRate = rate, s.DeviceRate = device, s.CardFilter = CardFilterPhase::Minimum;
        s.PpsWidthMs = 100, s.PpsRiseMs = 1e-10, s.StartOffsetSeconds = 0.5 - 0.37 / device;
        const std::vector<double> v = ChainValues(s, device * 3 / 4);
        const double truth = static_cast<double>(SimulatorPpsStartFrame(s, 1));
        double area = 0, moment = 0;
        for (int m = device / 2 - 500; m < device / 2 + 700; ++m) {
            if (rate == device && m <= truth) {
                ASSERT_EQ(v[m], 0) << m;  // no resampler here
            }
            area += v[m] - v[m - 1];
            moment += (v[m] - v[m - 1]) * (m - truth);  // the rise between frames m - 1 and m
        }
        const double delay = static_cast<double>(SimulatorCardDelayFrames(s));
        EXPECT_NEAR(moment / area - 0.5, delay, 1e-4) << rate << " " << device;
        EXPECT_GT(delay, rate == device ? 3.0 : 0.5) << rate << " " << device;
        EXPECT_EQ(SimulatorCardDelayFrames({.CardRate = rate, .DeviceRate = device}), 0);
    }
}

TEST(SignalSimulatorCard, NoiseHumAndDitherOnStreamsOfTheirOwnAndAnyReadSizes) {
    // TPDF dither of a level 0.3 LSB above a whole one, on the pulse's plateau: the samples are
    // that level's neighbours, their mean is the level and their error power 1/4 LSB^2
    // (rounding 1/12 plus the dither's 1/6), 8492 samples (tolerances: 3.7 and 4 sigma). With
    // the radio silent the RF channel is the dither alone: 0 three times in four.
    SimulatorSettings s = Only(0, 0, 10000.3 / 32767, 0);
    s.Seconds = 11, s.PpsWidthMs = 100, s.Dither = true;
    const std::vector<Frame> frames = Simulate(s);
    const std::vector<double> values = ChainValues(s, static_cast<long long>(frames.size()));
    double sum = 0, squares = 0;
    int plateau = 0, zeros = 0;
    for (size_t m = 0; m < frames.size(); ++m) {
        zeros += frames[m].Rf == 0;
        ASSERT_LE(std::abs(frames[m].Rf), 1);
        if (std::fabs(values[m] * 32767 - 10000.3) > 1e-6) continue;
        ASSERT_LE(std::abs(frames[m].Pps - 10000), 1);
        const double e = frames[m].Pps - 10000.3;
        sum += e, squares += e * e, ++plateau;
    }
    EXPECT_GT(plateau, 8400);
    EXPECT_NEAR(sum / plateau, 0, 0.02);
    EXPECT_NEAR(squares / plateau, 0.25, 0.012);
    EXPECT_NEAR(zeros / static_cast<double>(frames.size()), 0.75, 0.01);

    // Noise and hum on the PPS channel: the noise's RMS (1 %) and the hum's amplitude by its
    // projection on 50 Hz (none on 60 Hz), while the RF channel stays as it was.
    SimulatorSettings quiet = Only(0.3, 0.5, 0, 0.01);
    quiet.PpsNoiseLevel = 0.01;
    SimulatorSettings hum = Only(0.3, 0.5, 0, 0.01);
    hum.PpsHumLevel = 0.2;
    const std::vector<Frame> plain = Simulate(Only(0.3, 0.5, 0, 0.01), 80000);
    const std::vector<Frame> noisy = Simulate(quiet, 80000), hummed = Simulate(hum, 80000);
    double noise = 0, at50 = 0, at50q = 0, at60 = 0, at60q = 0;
    for (size_t m = 0; m < plain.size(); ++m) {
        ASSERT_EQ(noisy[m].Rf, plain[m].Rf);
        ASSERT_EQ(hummed[m].Rf, plain[m].Rf);
        noise += double(noisy[m].Pps) * noisy[m].Pps;
        const double t = static_cast<double>(SimulatorTimeAtFrame(hum, m));
        at50 += hummed[m].Pps * std::sin(kTwoPi * 50 * t),
            at50q += hummed[m].Pps * std::cos(kTwoPi * 50 * t);
        at60 += hummed[m].Pps * std::sin(kTwoPi * 60 * t);
        at60q += hummed[m].Pps * std::cos(kTwoPi * 60 * t);
    }
    EXPECT_NEAR(std::sqrt(noise / 80000), 327.67, 3.3);
    EXPECT_NEAR(2 * std::hypot(at50, at50q) / 80000, 0.2 * 32767, 0.001 * 0.2 * 32767);
    EXPECT_NEAR(2 * std::hypot(at60, at60q) / 80000, 0, 0.001 * 0.2 * 32767);

    // Everything at once, a 44100 Hz minimum-phase card with jitter: the same frames whatever
    // the read sizes (the card samples near an edge are kept across reads).
    SimulatorSettings all;
    all.Seconds = 4, all.PpsWidthMs = 0.01, all.PpsRiseMs = 1e-4, all.PpsAcHz = 3;
    all.CardRate = 44100, all.CardFilter = CardFilterPhase::Minimum, all.Dither = true;
    all.PpsNoiseLevel = 0.001, all.PpsHumLevel = 0.01, all.HumHz = 60, all.PpsJitterSeconds = 1e-4;
    const std::vector<Frame> whole = Simulate(all);
    for (const std::vector<size_t>& blocks : std::vector<std::vector<size_t>>{{1}, {63, 64, 65}}) {
        EXPECT_EQ(FirstDifference(whole, Simulate(all, whole.size(), blocks)), -1);
    }
}

}  // namespace

}  // namespace qv
