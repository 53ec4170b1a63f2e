// Tests of the signal simulator: stream continuity, determinism, timing of PPS and click, levels.
#include "capture/signal_simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

std::vector<Frame> Generate(const SimulatorSettings& settings, size_t count) {
    SignalSimulator sim;
    StartSimulator(sim, settings);
    std::vector<Frame> frames(count);
    NextSimulatorFrames(sim, frames.data(), count);
    return frames;
}

// Only the named components switched on, so their samples can be compared with the formulas.
SimulatorSettings Only(double carrier, double click, double pps, double noise) {
    SimulatorSettings s;
    s.carrierLevel = carrier;
    s.clickLevel = click;
    s.ppsLevel = pps;
    s.noiseLevel = noise;
    return s;
}

// Sub-frame positions of the PPS rising edges: where the pulse first passes half its level,
// interpolated linearly between the two frames around the crossing.
std::vector<double> HalfLevelCrossings(const std::vector<Frame>& frames, double level) {
    const double half = 0.5 * level * 32767;
    std::vector<double> crossings;
    for (size_t k = 1; k < frames.size(); ++k) {
        const double before = frames[k - 1].Pps, after = frames[k].Pps;
        if (before < half && after >= half) {
            crossings.push_back(k - 1 + (half - before) / (after - before));
        }
    }
    return crossings;
}

// [frames] from the edge to the half-level point of the documented shape
// (1 - exp(-x/rise)) exp(-x/decay), by bisection on the rising flank.
double HalfLevelDelayFrames(const SimulatorSettings& s) {
    auto shape = [&](double ms) {
        return (1 - std::exp(-ms / s.ppsRiseMs)) * std::exp(-ms / s.ppsDecayMs);
    };
    const double peakMs = s.ppsRiseMs * std::log(1 + s.ppsDecayMs / s.ppsRiseMs);
    double low = 0, high = peakMs;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (low + high);
        (shape(mid) < 0.5 * shape(peakMs) ? low : high) = mid;
    }
    return low * 1e-3 * kFramesPerSecond;
}

// ---- the stream ----------------------------------------------------------------------------

// Reading in blocks of the given sizes (repeated) must give exactly the frames of one call.
void ExpectSameAsOneCall(const std::vector<size_t>& blockSizes) {
    constexpr size_t kCount = 20000;
    const SimulatorSettings settings;  // every component on, noise included
    const std::vector<Frame> whole = Generate(settings, kCount);
    SignalSimulator sim;
    StartSimulator(sim, settings);
    std::vector<Frame> pieces(kCount);
    for (size_t done = 0, b = 0; done < kCount; ++b) {
        const size_t n = std::min(blockSizes[b % blockSizes.size()], kCount - done);
        NextSimulatorFrames(sim, pieces.data() + done, n);
        done += n;
    }
    for (size_t k = 0; k < kCount; ++k) {
        ASSERT_EQ(whole[k].Rf, pieces[k].Rf) << "frame " << k;
        ASSERT_EQ(whole[k].Pps, pieces[k].Pps) << "frame " << k;
    }
}

TEST(SignalSimulatorStream, BlockSizeDoesNotChangeTheFrames) {
    ExpectSameAsOneCall({1});
    ExpectSameAsOneCall({7, 0, 13});  // a zero-length call in between delivers nothing
    ExpectSameAsOneCall({63, 64, 65});
    ExpectSameAsOneCall({8001, 3});
}

TEST(SignalSimulatorStream, SameSeedSameStreamOtherSeedOtherNoise) {
    SimulatorSettings settings;
    const std::vector<Frame> a = Generate(settings, 16000), b = Generate(settings, 16000);
    settings.seed = 2;
    const std::vector<Frame> c = Generate(settings, 16000);
    size_t rfDifferences = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        ASSERT_EQ(a[k].Rf, b[k].Rf);
        ASSERT_EQ(a[k].Pps, c[k].Pps) << "the seed must not touch the PPS channel";
        rfDifferences += a[k].Rf != c[k].Rf;
    }
    EXPECT_GT(rfDifferences, 0.95 * a.size()) << "noise of RMS 328 LSB changes nearly all";
}

TEST(SignalSimulatorStream, TotalFramesCoverTheGpsSeconds) {
    auto total = [](double seconds, double ppm) {
        SimulatorSettings s;
        s.seconds = seconds;
        s.ppm = ppm;
        return SimulatorTotalFrames(s);
    };
    EXPECT_EQ(total(60, 0), 480000);
    EXPECT_EQ(total(3600, 50), 28801440);                  // 3600 * 8000.4
    EXPECT_EQ(total(3600, -125), 28796400);                // 3600 * 7999
    EXPECT_EQ(total(0.0001, 0), 1);                        // 0.8 frames round up
    EXPECT_EQ(total(30 * 86400.0, 10000), 20943360000LL);  // beyond 32 bits
}

// ---- PPS channel ---------------------------------------------------------------------------

// The half-level crossings, less the shape's own half-level delay, must sit at the device
// frames of the whole GPS seconds, (n - startOffset) * 8000 (1 + ppm 1e-6). Linear
// interpolation across the 1.2-frame rise misjudges a crossing by 0 to 0.11 frame depending
// on its sub-frame phase, hence 0.15 frame for an edge and 0.2 for the gap between two; over
// 10 seconds that error shrinks tenfold.
void ExpectPpsEdgesAtGpsSeconds(double ppm, double startOffset) {
    SCOPED_TRACE("ppm " + std::to_string(ppm) + ", start offset " + std::to_string(startOffset));
    SimulatorSettings s = Only(0, 0, 0.6, 0);
    s.ppm = ppm;
    s.startOffsetSeconds = startOffset;
    const double framesPerSecond = kFramesPerSecond * (1 + ppm * 1e-6);
    const std::vector<double> crossings =
        HalfLevelCrossings(Generate(s, static_cast<size_t>(12 * framesPerSecond)), 0.6);
    ASSERT_GE(crossings.size(), 11u);
    const double delay = HalfLevelDelayFrames(s);
    for (size_t n = 0; n < 11; ++n) {
        const double edge = (n + 1 - startOffset) * framesPerSecond;
        EXPECT_NEAR(crossings[n] - delay, edge, 0.15) << "edge of GPS second " << n + 1;
        if (n > 0) {
            EXPECT_NEAR(crossings[n] - crossings[n - 1], framesPerSecond, 0.2);
        }
    }
    EXPECT_NEAR((crossings[10] - crossings[0]) / 10, framesPerSecond, 0.02);
}

TEST(SignalSimulatorPps, EdgesLandOnWholeGpsSeconds) {
    ExpectPpsEdgesAtGpsSeconds(0, 0.3172);  // first edge at device frame 5462.4
    ExpectPpsEdgesAtGpsSeconds(0, 0.99);
    ExpectPpsEdgesAtGpsSeconds(50, 0.3172);   // 8000.4 frames per GPS second
    ExpectPpsEdgesAtGpsSeconds(-100, 0.5);    // 7999.2
    ExpectPpsEdgesAtGpsSeconds(-10000, 0.7);  // 7920
}

TEST(SignalSimulatorPps, PeakLevelAndDecay) {
    const std::vector<Frame> frames = Generate(Only(0, 0, 0.6, 0), 8000);
    EXPECT_EQ(frames[5462].Pps, 0) << "nothing before the edge at 5462.4";
    const auto highest = std::max_element(frames.begin(), frames.end(),
                                          [](Frame a, Frame b) { return a.Pps < b.Pps; });
    // The peak, 0.8 ms after the edge, is broad: sampling it loses well under 0.1 %.
    EXPECT_NEAR(highest->Pps, 0.6 * 32767, 0.001 * 0.6 * 32767);
    // 30 ms (240 frames) later it has fallen by e, to 1 % (rise remains and rounding are less).
    EXPECT_NEAR((highest + 240)->Pps / double(highest->Pps), std::exp(-1.0), 0.01);
}

TEST(SignalSimulatorPps, LongDecayCarriesOverWithoutJumpsAndRepeatsEverySecond) {
    // With a 2 s decay the pulses pile up: 0.3 * (e^-0.5 + e^-1 + ...) of full scale just
    // before an edge (0.1 % allowed: a pulse's peak is 0.07 % above the bare decay here).
    // Outside the first 2 ms of each pulse the decay moves < 0.4 LSB per frame (2 allowed),
    // and with all earlier pulses included every second repeats the one before (1 LSB).
    SimulatorSettings s = Only(0, 0, 0.3, 0);
    s.ppsDecayMs = 2000;
    const std::vector<Frame> frames = Generate(s, 4 * 8000);
    EXPECT_NEAR(frames[5462].Pps, 0.3 * 32767 * std::exp(-0.5) / (1 - std::exp(-0.5)),
                0.001 * 32767);
    for (size_t k = 1; k < frames.size(); ++k) {
        if (std::fmod(k + 8000 - 5462.4, 8000.0) >= 16) {
            ASSERT_LE(std::abs(frames[k].Pps - frames[k - 1].Pps), 2) << "frame " << k;
        }
        if (k >= 8000) {
            ASSERT_NEAR(frames[k].Pps, frames[k - 8000].Pps, 1) << "frame " << k;
        }
    }
}

// ---- RF channel ----------------------------------------------------------------------------

TEST(SignalSimulatorRf, ClickFollowsTheEdgeAtTheSetDelayAndTone) {
    // Edge at frame 5462.4; the click covers 3.2 .. 9.2 ms = 25.6 .. 73.6 frames after it,
    // starting at phase 0 with 0.5 ms raised-cosine edges. 1 LSB: the expectation is computed
    // in double, the simulator rounds once.
    const SimulatorSettings s = Only(0, 0.5, 0, 0);
    const std::vector<Frame> frames = Generate(s, 8000);
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
    s.carrierWanderRad = 0;
    s.ppm = 37.5;
    SignalSimulator sim;
    StartSimulator(sim, s);
    std::vector<Frame> block(8000);
    for (long long second = 0; second < 600; ++second) {
        NextSimulatorFrames(sim, block.data(), block.size());
        if (second % 60 != 59) continue;
        for (long long n = 0; n < 8000; n += 7) {
            const long long k = second * 8000 + n;
            const long double cycles =
                1700.1L * (0.3172L + static_cast<long double>(k) / (8000 * (1 + 37.5e-6L)));
            const double phase = kTwoPi * static_cast<double>(cycles - std::floor(cycles));
            ASSERT_NEAR(block[n].Rf, 0.5 * 32767 * std::sin(phase), 1.0) << "frame " << k;
        }
    }
}

TEST(SignalSimulatorRf, CarrierAndNoiseLevels) {
    // A sine's RMS is amplitude / sqrt 2; 10 s of 1700.1 Hz average it out to 2 LSB.
    double sum = 0;
    for (const Frame& f : Generate(Only(0.08, 0, 0, 0), 80000)) sum += double(f.Rf) * f.Rf;
    EXPECT_NEAR(std::sqrt(sum / 80000), 0.08 * 32767 / std::sqrt(2.0), 2);

    // 80000 Gaussian samples: RMS known to 0.25 % (1 % allowed), mean to 1.16 LSB (4.7 allowed),
    // 0.27 % beyond 3 sigma (216 expected, none if the noise were uniform).
    sum = 0;
    double sumSquares = 0;
    int beyondThreeSigma = 0;
    for (const Frame& f : Generate(Only(0, 0, 0, 0.01), 80000)) {
        sum += f.Rf;
        sumSquares += double(f.Rf) * f.Rf;
        beyondThreeSigma += std::abs(f.Rf) > 3 * 327.67;
    }
    EXPECT_NEAR(std::sqrt(sumSquares / 80000), 327.67, 3.3);
    EXPECT_NEAR(sum / 80000, 0, 4.7);
    EXPECT_GT(beyondThreeSigma, 150);
    EXPECT_LT(beyondThreeSigma, 290);
}

TEST(SignalSimulatorRf, LevelsBeyondFullScaleClipInsteadOfWrapping) {
    int16_t maxRf = 0, minRf = 0, minPps = 0, maxPps = 0;
    for (const Frame& f : Generate(Only(0, 3, 3, 0), 8000)) {
        maxRf = std::max(maxRf, f.Rf);
        minRf = std::min(minRf, f.Rf);
        maxPps = std::max(maxPps, f.Pps);
        minPps = std::min(minPps, f.Pps);
    }
    EXPECT_EQ(maxRf, 32767);
    EXPECT_EQ(minRf, -32768);
    EXPECT_EQ(maxPps, 32767);
    EXPECT_EQ(minPps, 0) << "a positive pulse must never wrap negative";
}

}  // namespace
