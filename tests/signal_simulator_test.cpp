// Tests of the signal simulator: stream continuity, determinism, timing of PPS and click, levels.
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

// [frames] from an edge to where the default pulse shape (1 - e^(-x / 0.15 ms)) e^(-x / 30 ms)
// first reaches half its peak, 0.0998616 ms (solved numerically).
constexpr double kHalfLevelDelayFrames = 0.798893;

// The stream does not depend on how it is read, the seed changes only the noise, and the frame
// count covers the GPS seconds at the card's rate.
TEST(SignalSimulatorStream, SameFramesInAnyBlocksForASeedCoveringTheGpsSeconds) {
    const SimulatorSettings settings;  // every component on, noise included
    const std::vector<Frame> whole = Simulate(settings, 20000);
    EXPECT_EQ(FirstDifference(whole, Simulate(settings, 20000)), -1);
    // 64 frames are computed together; a zero-length call in between delivers nothing
    for (const std::vector<size_t>& blocks :
         std::vector<std::vector<size_t>>{{1}, {7, 0, 13}, {63, 64, 65}, {8001, 3}}) {
        EXPECT_EQ(FirstDifference(whole, Simulate(settings, 20000, blocks)), -1)
            << "first block " << blocks[0];
    }
    // RF is noise alone here (RMS 328 LSB): another seed changes nearly every sample
    SimulatorSettings s = Only(0, 0, 0.6, 0.01);
    const std::vector<Frame> a = Simulate(s, 16000);
    s.Seed = 2;
    const std::vector<Frame> b = Simulate(s, 16000);
    size_t rfDifferences = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        ASSERT_EQ(a[k].Pps, b[k].Pps) << "the seed must not touch the PPS channel";
        rfDifferences += a[k].Rf != b[k].Rf;
    }
    EXPECT_GT(rfDifferences, 0.95 * static_cast<double>(a.size()));

    EXPECT_EQ(SimulatorTotalFrames({.Seconds = 3600, .Ppm = 50}), 28801440);    // 3600 * 8000.4
    EXPECT_EQ(SimulatorTotalFrames({.Seconds = 3600, .Ppm = -125}), 28796400);  // 3600 * 7999
    EXPECT_EQ(SimulatorTotalFrames({.Seconds = 0.0001}), 1);  // 0.8 frames round up
    EXPECT_EQ(SimulatorTotalFrames({.Seconds = 30 * 86400.0, .Ppm = 10000}), 20943360000LL);
}

// Each pulse is zero before its edge, passes half level (less the shape's own half-level delay)
// at the device frame of the whole GPS second, (n - startOffset) * 8000 (1 + ppm 1e-6), peaks at
// the set level and falls by e in 30 ms. Interpolating across the 1.2-frame rise misjudges a
// crossing by up to 0.11 frame; sampling the broad peak loses well under 0.1 %.
TEST(SignalSimulatorPps, PulsesAtWholeGpsSecondsWithTheSetShape) {
    // first edge at device frame 5462.4; 8000.4, 7999.2 and 7920 frames per GPS second
    for (const auto& [ppm, startOffset] : std::vector<std::pair<double, double>>{
             {0, 0.3172}, {0, 0.99}, {50, 0.3172}, {-100, 0.5}, {-10000, 0.7}}) {
        SCOPED_TRACE("ppm " + std::to_string(ppm) + ", start offset " +
                     std::to_string(startOffset));
        SimulatorSettings s = Only(0, 0, 0.6, 0);
        s.Ppm = ppm;
        s.StartOffsetSeconds = startOffset;
        const double framesPerSecond = kFramesPerSecond * (1 + ppm * 1e-6);
        const std::vector<Frame> frames = Simulate(s, static_cast<size_t>(12 * framesPerSecond));
        std::vector<double> edges;  // half-level crossings, interpolated, less the delay
        const double half = 0.5 * 0.6 * 32767;
        for (size_t k = 1; k < frames.size(); ++k) {
            const double before = frames[k - 1].Pps, after = frames[k].Pps;
            if (before < half && after >= half)
                edges.push_back(static_cast<double>(k - 1) + (half - before) / (after - before) -
                                kHalfLevelDelayFrames);
        }
        ASSERT_GE(edges.size(), 11u);
        for (size_t n = 0; n < 11; ++n) {
            EXPECT_NEAR(edges[n], (static_cast<double>(n + 1) - startOffset) * framesPerSecond,
                        0.15)
                << "edge of GPS second " << n + 1;
        }
        EXPECT_NEAR((edges[10] - edges[0]) / 10, framesPerSecond, 0.02);

        const auto edge = frames.begin() + static_cast<long>((1 - startOffset) * framesPerSecond);
        EXPECT_EQ(edge->Pps, 0) << "nothing before the edge";
        const auto highest =
            std::max_element(edge, edge + 100, [](Frame a, Frame b) { return a.Pps < b.Pps; });
        EXPECT_NEAR(highest->Pps, 0.6 * 32767, 0.001 * 0.6 * 32767);
        EXPECT_NEAR((highest + 240)->Pps / double(highest->Pps), std::exp(-1.0), 0.01);
    }
}

TEST(SignalSimulatorPps, LongDecayCarriesOverWithoutJumpsAndRepeatsEverySecond) {
    // With a 2 s decay the pulses pile up: 0.3 * (e^-0.5 + e^-1 + ...) of full scale just
    // before an edge (0.1 % allowed: a pulse's peak is 0.07 % above the bare decay here).
    // Outside the first 2 ms of each pulse the decay moves < 0.4 LSB per frame (2 allowed),
    // and with all earlier pulses included every second repeats the one before (1 LSB).
    SimulatorSettings s = Only(0, 0, 0.3, 0);
    s.PpsDecayMs = 2000;
    const std::vector<Frame> frames = Simulate(s, 4 * 8000);
    EXPECT_NEAR(frames[5462].Pps, 0.3 * 32767 * std::exp(-0.5) / (1 - std::exp(-0.5)),
                0.001 * 32767);
    for (size_t k = 1; k < frames.size(); ++k) {
        if (std::fmod(static_cast<double>(k) + 8000 - 5462.4, 8000.0) >= 16) {
            ASSERT_LE(std::abs(frames[k].Pps - frames[k - 1].Pps), 2) << "frame " << k;
        }
        if (k >= 8000) {
            ASSERT_NEAR(frames[k].Pps, frames[k - 8000].Pps, 1) << "frame " << k;
        }
    }
}

TEST(SignalSimulatorRf, ClickFollowsTheEdgeAtTheSetDelayAndTone) {
    // Edge at frame 5462.4; the click covers 3.2 .. 9.2 ms = 25.6 .. 73.6 frames after it,
    // starting at phase 0 with 0.5 ms raised-cosine edges. 1 LSB: the expectation is computed
    // in double, the simulator rounds once.
    const std::vector<Frame> frames = Simulate(Only(0, 0.5, 0, 0), 8000);
    for (int k = 0; k < 8000; ++k) {
        const double u = (k - 5462.4 - 25.6) / 8000;  // [s] into the click
        if (u < 0 || u >= 6e-3) {
            ASSERT_EQ(frames[k].Rf, 0) << "frame " << k << " is outside the click";
            continue;
        }
        const double fromEdge = std::min(u, 6e-3 - u);
        const double envelope =
            fromEdge < 0.5e-3 ? 0.5 * (1 - std::cos(std::numbers::pi * fromEdge / 0.5e-3)) : 1;
        EXPECT_NEAR(frames[k].Rf, 0.5 * 32767 * envelope * std::sin(kTwoPi * 1700 * u), 1.0)
            << "frame " << k;
    }
}

TEST(SignalSimulatorRf, CarrierFollowsTheExactPhaseForTenMinutes) {
    // Without wander the carrier is sin(2 pi f t_k) at every frame however long the stream
    // runs; a recurrence that drifted would fail here. 1 LSB as above.
    SimulatorSettings s = Only(0.5, 0, 0, 0);
    s.CarrierWanderRad = 0;
    s.Ppm = 37.5;
    const std::vector<Frame> frames = Simulate(s, 600 * 8000);
    for (size_t k = 0; k < frames.size(); k += 997) {
        const long double cycles = 1700.1L * (0.3172L + k / (8000 * (1 + 37.5e-6L)));
        const double phase = kTwoPi * static_cast<double>(cycles - std::floor(cycles));
        ASSERT_NEAR(frames[k].Rf, 0.5 * 32767 * std::sin(phase), 1.0) << "frame " << k;
    }
}

TEST(SignalSimulatorRf, NoiseIsGaussianOfTheSetLevelAndLevelsClipInsteadOfWrapping) {
    // 80000 Gaussian samples: RMS known to 0.25 % (1 % allowed), mean to 1.16 LSB (4.7 allowed),
    // 0.27 % beyond 3 sigma (216 expected, none if the noise were uniform).
    double sum = 0, sumSquares = 0;
    int beyondThreeSigma = 0;
    for (const Frame& f : Simulate(Only(0, 0, 0, 0.01), 80000)) {
        sum += f.Rf;
        sumSquares += double(f.Rf) * f.Rf;
        beyondThreeSigma += std::abs(f.Rf) > 3 * 327.67;
    }
    EXPECT_NEAR(std::sqrt(sumSquares / 80000), 327.67, 3.3);
    EXPECT_NEAR(sum / 80000, 0, 4.7);
    EXPECT_GT(beyondThreeSigma, 150);
    EXPECT_LT(beyondThreeSigma, 290);

    int lowRf = 0, highRf = 0, lowPps = 0, highPps = 0;
    for (const Frame& f : Simulate(Only(0, 3, 3, 0), 8000)) {
        lowRf = std::min<int>(lowRf, f.Rf), highRf = std::max<int>(highRf, f.Rf);
        lowPps = std::min<int>(lowPps, f.Pps), highPps = std::max<int>(highPps, f.Pps);
    }
    EXPECT_EQ(lowRf, -32768);
    EXPECT_EQ(highRf, 32767);
    EXPECT_EQ(highPps, 32767);
    EXPECT_EQ(lowPps, 0) << "a positive pulse must never wrap negative";
}

// A card at its own rate: its frames count at that rate on the same GPS time line, and every
// sixth frame at 48000 is the 8000 Hz card's frame at that instant (carrier, click and the
// radio's noise alike, with the card's clock drifting); between them the noise is band-limited,
// not white at 48000.
TEST(SignalSimulatorRate, ACardAtItsOwnRateRecordsTheSameRadioSignalOnTheSameTimeLine) {
    EXPECT_EQ(SimulatorTotalFrames({.Seconds = 2.5, .Ppm = -80, .DeviceRate = 44100}), 110241);
    EXPECT_EQ(SimulatorTotalFrames({.Seconds = 3600, .Ppm = 50, .DeviceRate = 192000}),
              691234560);  // 3600 * 192009.6

    SimulatorSettings slow = Only(0.3, 0.5, 0, 0.01);
    slow.Ppm = 37.5, slow.DriftPpmPerHour = 400, slow.WanderPpm = 3, slow.WanderPeriodSeconds = 5;
    SimulatorSettings fast = slow;
    fast.DeviceRate = 48000;
    for (const long double t : {0.5L, 1.25L, 9.75L}) {
        const long double frame = SimulatorFrameAt(fast, t);
        EXPECT_NEAR(Gap(frame, 6 * SimulatorFrameAt(slow, t)), 0, 1e-9);
        EXPECT_NEAR(Gap(SimulatorTimeAtFrame(fast, frame), t), 0, 1e-15);
    }
    const std::vector<Frame> a = Simulate(slow, 16000), b = Simulate(fast, 96000, {1000, 7});
    int differ = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        ASSERT_NEAR(b[6 * k].Rf, a[k].Rf, 1) << k;
        differ += b[6 * k].Rf != a[k].Rf;
    }
    EXPECT_LT(differ, 80) << "nearly every frame the very same";

    // Noise alone, RMS 0.1: the same RMS at 48000, and a neighbour's difference
    // sqrt(2 (1 - sinc(1/6))) = 0.300 of it, as noise white to 4 kHz has (white at 48000: 1.41).
    SimulatorSettings noise = Only(0, 0, 0, 0.1);
    noise.DeviceRate = 48000;
    double squares = 0, steps = 0;
    const std::vector<Frame> n = Simulate(noise, 480000);
    for (size_t k = 1; k < n.size(); ++k) {
        squares += double(n[k].Rf) * n[k].Rf;
        steps += double(n[k].Rf - n[k - 1].Rf) * (n[k].Rf - n[k - 1].Rf);
    }
    EXPECT_NEAR(std::sqrt(squares / static_cast<double>(n.size() - 1)), 3276.7, 0.02 * 3276.7);
    EXPECT_NEAR(std::sqrt(steps / squares), 0.300, 0.02);
}

// The wiring faults: from the command line, a PPS of the other polarity is the same stream with
// the right channel negated, and swapped channels the same frames with the sides exchanged.
TEST(SignalSimulatorWiring, InvertedPpsAndSwappedChannelsFromTheOptions) {
    SimulatorSettings plain;
    plain.Seconds = 2;
    std::string pps = "--invert-pps", swap = "--swap-channels", seed = "--seed", two = "2";
    char* args[] = {pps.data(), swap.data(), seed.data(), two.data()};
    SimulatorSettings inverted = plain, swapped = plain;
    std::string error;
    int i = 0;
    ASSERT_EQ(ParseSimulatorOption(4, args, i, inverted, error), 1);
    EXPECT_EQ(i, 1);  // a flag takes no value
    ASSERT_EQ(ParseSimulatorOption(4, args, i, swapped, error), 1);
    EXPECT_EQ(i, 2);
    EXPECT_TRUE(inverted.InvertPps && !inverted.SwapChannels);
    EXPECT_TRUE(swapped.SwapChannels && !swapped.InvertPps);
    EXPECT_NE(SimulatorOptionsHelp().find("--swap-channels"), std::string::npos);

    const std::vector<Frame> a = Simulate(plain), b = Simulate(inverted), c = Simulate(swapped);
    ASSERT_EQ(a.size(), b.size());
    int pulses = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        EXPECT_EQ(b[k].Rf, a[k].Rf);
        EXPECT_EQ(b[k].Pps, -a[k].Pps) << k;
        EXPECT_EQ(c[k].Rf, a[k].Pps);
        EXPECT_EQ(c[k].Pps, a[k].Rf);
        pulses += a[k].Pps > 16000;
    }
    EXPECT_GT(pulses, 0);  // the comparison saw the pulses, not only silence
}

// ---------------------------------------------------------------------------------------------
// What a real card and GPS receiver add: PPS jitter, a drifting and wandering card clock, and
// the truth functions that say where every pulse is.

// FNV-1a over the frames' samples.
uint64_t StreamHash(const std::vector<Frame>& frames) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (const Frame& f : frames) {
        for (const int16_t v : {f.Rf, f.Pps}) h = (h ^ static_cast<uint16_t>(v)) * 0x100000001B3ull;
    }
    return h;
}

// Compares each pulse start seen in the frames (the rising half-level crossing, interpolated,
// less the shape's delay: within 0.11 frame) with the truth, GPS second by second from the
// first pulse wholly in the stream, and checks that nothing precedes a start (the last pulse
// decayed e^33-fold long ago). Returns how many were compared.
int ExpectPulsesWhereTheTruthSays(const SimulatorSettings& s, const std::vector<Frame>& frames) {
    const double half = 0.5 * s.PpsLevel * 32767;
    long long second = 1;
    while (SimulatorPpsStartFrame(s, second) < 1) ++second;  // a pulse cut by the first frame
    int compared = 0;
    for (size_t k = 2; k < frames.size(); ++k) {
        const double before = frames[k - 1].Pps, after = frames[k].Pps;
        if (!(before < half && after >= half)) continue;
        const double seen = static_cast<double>(k - 1) + (half - before) / (after - before);
        const long double truth = SimulatorPpsStartFrame(s, second++);
        EXPECT_NEAR(seen - kHalfLevelDelayFrames, static_cast<double>(truth), 0.15) << k;
        EXPECT_EQ(frames[static_cast<size_t>(std::floor(truth))].Pps, 0) << k;
        ++compared;
    }
    EXPECT_GE(SimulatorPpsStartFrame(s, second), static_cast<long double>(frames.size()) - 2)
        << "a pulse was not seen";
    return compared;
}

TEST(SignalSimulatorTruth, ZeroJitterDriftAndWanderChangeNoFrameAndTheTruthIsTheSteadyCard) {
    // Hashes of streams made before these options existed: the options at zero (and the
    // wander's period, the card's filter and the hum's frequency, unused then) must give the
    // same samples, and the truth the steady card.
    SimulatorSettings faulty = Only(0.2, 0.4, 0.5, 0.03);
    faulty.Ppm = -61, faulty.InvertPps = true, faulty.PpsDecayMs = 2000, faulty.Seed = 5;
    const std::pair<SimulatorSettings, uint64_t> cases[] = {
        {SimulatorSettings{}, 1277630290945355665ull},
        {SimulatorSettings{.Ppm = 123, .StartOffsetSeconds = 0.99}, 16840153804076513555ull},
        {faulty, 5206380183805989158ull},
    };
    for (const auto& [settings, hash] : cases) {
        SimulatorSettings zeros = settings;
        zeros.PpsJitterSeconds = 0, zeros.DriftPpmPerHour = 0, zeros.WanderPpm = 0;
        zeros.WanderPeriodSeconds = 17;
        // and the card model's options that take effect only with others
        zeros.CardFilter = CardFilterPhase::Minimum, zeros.HumHz = 60;
        EXPECT_EQ(StreamHash(Simulate(zeros, 30000, {777})), hash) << "ppm " << settings.Ppm;

        const long double framesPerSecond = 8000 * (1 + settings.Ppm * 1e-6L);
        for (const int second : {0, 1, 2, 86400}) {
            const long double start = (second - settings.StartOffsetSeconds) * framesPerSecond;
            EXPECT_NEAR(Gap(SimulatorPpsStartFrame(zeros, second), start), 0, 1e-12 * (1 + second));
            EXPECT_EQ(SimulatorPpsJitter(zeros, second), 0);
        }
        EXPECT_NEAR(Gap(SimulatorMeanCardPpm(zeros, 3, 4), settings.Ppm), 0, 1e-12);
    }
}

TEST(SignalSimulatorTruth, JitterHasTheSetRmsPerSecondMovesEachPulseAndLeavesTheRfAlone) {
    // 20000 seconds of 2 us jitter: their RMS is known to 0.5 % (3 % allowed), the correlation
    // of neighbours to 0.007 (0.03 allowed).
    SimulatorSettings s;
    s.PpsJitterSeconds = 2e-6;
    double sumSquares = 0, sumProducts = 0, previous = SimulatorPpsJitter(s, 0);
    for (long long second = 1; second <= 20000; ++second) {
        const double j = SimulatorPpsJitter(s, second);
        sumSquares += j * j, sumProducts += j * previous, previous = j;
    }
    EXPECT_NEAR(std::sqrt(sumSquares / 20000), 2e-6, 0.03 * 2e-6);
    EXPECT_NEAR(sumProducts / sumSquares, 0, 0.03);

    // In the stream: 1 ms of jitter (8 frames), so that the pulses visibly move and about half
    // of them start before their whole second (the first one, 1 ms after the first frame,
    // before the stream). Any read sizes give the same frames; the RF channel (noise included)
    // is the one without jitter.
    SimulatorSettings wide;
    wide.PpsJitterSeconds = 1e-3, wide.Seconds = 40, wide.Ppm = 50, wide.StartOffsetSeconds = 0.999;
    const std::vector<Frame> frames = Simulate(wide);
    for (const std::vector<size_t>& blocks : std::vector<std::vector<size_t>>{{1}, {63, 64, 65}}) {
        EXPECT_EQ(FirstDifference(frames, Simulate(wide, frames.size(), blocks)), -1);
    }
    SimulatorSettings steady = wide;
    steady.PpsJitterSeconds = 0;
    std::vector<Frame> plain = Simulate(steady);
    for (size_t k = 0; k < frames.size(); ++k) plain[k].Pps = frames[k].Pps;
    EXPECT_EQ(FirstDifference(frames, plain), -1) << "the RF channel changed";
    EXPECT_EQ(ExpectPulsesWhereTheTruthSays(wide, frames), 40);
}

TEST(SignalSimulatorTruth, DriftingAndWanderingCardTakesItsFramesWhereItsCountSays) {
    // +37 ppm, +2 ppm per second, and 400 ppm of wander with a 30 s period: the pulses are tens
    // of frames from where a steady card would put them, and where the truth says.
    SimulatorSettings s = Only(0, 0, 0.6, 0);
    s.Seconds = 90, s.Ppm = 37, s.DriftPpmPerHour = 7200, s.WanderPpm = 400;
    s.WanderPeriodSeconds = 30;
    const std::vector<Frame> frames =
        Simulate(s, static_cast<size_t>(SimulatorTotalFrames(s)), {1000});
    const long double end = SimulatorFrameAt(s, s.StartOffsetSeconds + s.Seconds);
    EXPECT_EQ(static_cast<long double>(frames.size()), std::round(end));
    EXPECT_EQ(ExpectPulsesWhereTheTruthSays(s, frames), 90);
    SimulatorSettings steady = s;
    steady.DriftPpmPerHour = 0, steady.WanderPpm = 0;
    EXPECT_GT(Gap(SimulatorPpsStartFrame(s, 60), SimulatorPpsStartFrame(steady, 60)), 20);

    // The truth functions agree with one another and with the model: the error is Ppm +
    // drift * tau + wander, the inverse holds to 1e-15 s, and the mean over a second is what
    // the frames between its pulse starts show.
    for (const long double t : {0.5L, 1.0L, 17.25L, 45.0L, 89.9L}) {
        const long double tau = t - s.StartOffsetSeconds;
        const long double ppm =
            37 + 2 * tau + 400 * std::sin(2 * std::numbers::pi_v<long double> * tau / 30);
        EXPECT_NEAR(Gap(SimulatorCardPpm(s, t), ppm), 0, 1e-9) << "t " << t;
        EXPECT_NEAR(Gap(SimulatorTimeAtFrame(s, SimulatorFrameAt(s, t)), t), 0, 1e-15) << "t " << t;
    }
    for (long long second = 1; second < 90; ++second) {
        const long double between =
            SimulatorPpsStartFrame(s, second + 1) - SimulatorPpsStartFrame(s, second);
        ASSERT_NEAR(Gap(SimulatorMeanCardPpm(s, second, second + 1), (between / 8000 - 1) * 1e6), 0,
                    1e-6)
            << "second " << second;
    }
}

TEST(SignalSimulatorTruth, CarrierStaysOnGpsTimeWhileTheCardSwingsToTheLimits) {
    // -3000 ppm, 10 ppm more every second and a 5000 ppm wander of period 1 s (9000 ppm at
    // most, within the options' 10000): the card's frames are far from evenly spaced, yet the
    // carrier is sin(2 pi f t_k) at the exact time of every frame (1 LSB: the expectation in
    // double, one rounding in the simulator), whatever the read sizes.
    SimulatorSettings s = Only(0.5, 0, 0, 0);
    s.CarrierWanderRad = 0, s.Seconds = 100, s.Ppm = -3000, s.DriftPpmPerHour = 36000;
    s.WanderPpm = 5000, s.WanderPeriodSeconds = 1;
    std::string error;
    ASSERT_TRUE(CheckSimulatorCard(s, false, error)) << error;
    const std::vector<Frame> frames = Simulate(s);
    EXPECT_EQ(FirstDifference(frames, Simulate(s, frames.size(), {1, 63, 64, 65, 4096})), -1);
    for (size_t k = 0; k < frames.size(); k += 101) {
        const long double cycles = 1700.1L * SimulatorTimeAtFrame(s, static_cast<long double>(k));
        const double phase = kTwoPi * static_cast<double>(cycles - std::floor(cycles));
        ASSERT_NEAR(frames[k].Rf, 0.5 * 32767 * std::sin(phase), 1.0) << "frame " << k;
    }
}

// ---------------------------------------------------------------------------------------------
// The pulse's own shape: width, rise and AC coupling, checked against first principles.

// The analog pulse train by the textbook, at GPS time t: a rectangle of height L from each
// whole second to W after it, through the rise r (first-order low-pass) and an AC coupling of
// time constant c (or none, c = 0), summed over the last 40 seconds' pulses.
double AnalogTrain(double level, double width, double rise, double c, double t) {
    // Step response of the low-pass and of the low-pass into the high-pass.
    auto step = [&](double x) {
        if (x < 0) return 0.0;
        return c > 0 ? c / (c - rise) * (std::exp(-x / c) - std::exp(-x / rise))
                     : 1 - std::exp(-x / rise);
    };
    double v = 0;
    for (int k = 0; k < 40; ++k) {
        const double x = t - std::floor(t) + k;
        v += level * (step(x) - step(x - width));
    }
    return v;
}

TEST(SignalSimulatorCard, RectangularPulseThroughTheRiseAndTheAcCouplingAsTheTextbookHasIt) {
    // No card: each frame is the analog value at its GPS time, earlier seconds included (at a
    // 0.5 Hz corner a pulse's remains last many seconds). 5e-11: terms below 1e-6 LSB are
    // left out.
    for (const double corner : {0.0, 0.5, 20.0}) {
        SimulatorSettings s = Only(0, 0, 0.6, 0);
        s.PpsWidthMs = 100, s.PpsAcHz = corner, s.Ppm = 37, s.StartOffsetSeconds = 0.123456;
        const double c = corner > 0 ? 1 / (2 * std::numbers::pi * corner) : 0;
        const std::vector<double> values = ChainValues(s, 3 * 8000);
        double sum = 0;
        for (size_t m = 0; m < values.size(); ++m) {
            const double t = static_cast<double>(SimulatorTimeAtFrame(s, m));
            ASSERT_NEAR(values[m], AnalogTrain(0.6, 0.1, 0.15e-3, c, t), 5e-11)
                << corner << " " << m;
            if (m >= 8000 && m < 16000) sum += values[m];
        }
        // Over a second the frames keep the pulse's area (DC) or none of it (AC).
        EXPECT_NEAR(sum / 8000, corner > 0 ? 0 : 0.06 * (1 + 37e-6), 1e-5) << corner;
    }

    // The AC coupling's undershoot after the falling edge, -0.6 (1 - e^(-W/c)) c / (c - r) once
    // the rise has settled, recovers with the time constant c: over 10 ms the tail shrinks by
    // e^(-10 ms / c).
    SimulatorSettings s = Only(0, 0, 0.6, 0);
    s.PpsWidthMs = 100, s.PpsAcHz = 20, s.StartOffsetSeconds = 0.5;
    const std::vector<double> values = ChainValues(s, 8000);
    const double c = 1 / (2 * std::numbers::pi * 20), undershoot = 0.6 * c / (c - 0.15e-3);
    const int fall = 4000 + 800 + 40;  // 5 ms after the falling edge
    EXPECT_NEAR(values[fall], -undershoot * (1 - std::exp(-0.1 / c)) * std::exp(-5e-3 / c), 1e-12);
    EXPECT_NEAR(std::log(values[fall] / values[fall + 80]), 10e-3 / c, 1e-9);
    EXPECT_NEAR(values[3999], 0, 1e-12) << "the 20 Hz coupling forgets a second in 125 c";
}

}  // namespace

}  // namespace qv
