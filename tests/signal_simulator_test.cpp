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

// Only the named component switched on, so its samples can be compared with the formula.
SimulatorSettings Only(double carrier, double click, double pps, double noise) {
    SimulatorSettings s;
    s.carrierLevel = carrier;
    s.clickLevel = click;
    s.ppsLevel = pps;
    s.noiseLevel = noise;
    return s;
}

// The GPS time of device frame k, as the simulator's header defines it.
double GpsTimeOf(const SimulatorSettings& s, long long k) {
    return s.startOffsetSeconds + k / (kFramesPerSecond * (1 + s.ppm * 1e-6));
}

// Sub-sample positions [frames] of the PPS rising edges: where the pulse first passes half its
// level, interpolated linearly between the two frames around the crossing.
std::vector<double> PpsHalfLevelCrossings(const std::vector<Frame>& frames, double level) {
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

// The time [frames] from the edge to the half-level point of the documented pulse shape
// A (1 - exp(-x/rise)) exp(-x/decay), found by bisection on the rising flank.
double HalfLevelDelayFrames(const SimulatorSettings& s) {
    const double r = s.ppsRiseMs, d = s.ppsDecayMs;
    auto shape = [&](double ms) { return (1 - std::exp(-ms / r)) * std::exp(-ms / d); };
    const double peakMs = r * std::log(1 + d / r);
    const double half = 0.5 * shape(peakMs);
    double low = 0, high = peakMs;
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (low + high);
        (shape(mid) < half ? low : high) = mid;
    }
    return low * 1e-3 * kFramesPerSecond;
}

double Rms(const std::vector<Frame>& frames, int16_t Frame::*channel) {
    double sum = 0;
    for (const Frame& f : frames) sum += double(f.*channel) * (f.*channel);
    return std::sqrt(sum / frames.size());
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
    ExpectSameAsOneCall({kFramesPerBlock});
    ExpectSameAsOneCall({8001, 3});
}

TEST(SignalSimulatorStream, SameSeedSameStreamOtherSeedOtherNoise) {
    SimulatorSettings settings;
    const std::vector<Frame> a = Generate(settings, 16000);
    const std::vector<Frame> b = Generate(settings, 16000);
    settings.seed = 2;
    const std::vector<Frame> c = Generate(settings, 16000);

    int rfDifferences = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        ASSERT_EQ(a[k].Rf, b[k].Rf);
        ASSERT_EQ(a[k].Pps, b[k].Pps);
        EXPECT_EQ(a[k].Pps, c[k].Pps) << "the seed must not touch the PPS channel";
        rfDifferences += a[k].Rf != c[k].Rf;
    }
    // The noise (RMS 328 LSB) makes nearly every RF sample differ.
    EXPECT_GT(rfDifferences, 0.95 * a.size());
}

TEST(SignalSimulatorStream, RestartingGivesTheSameStreamAgain) {
    const SimulatorSettings settings;
    SignalSimulator sim;
    StartSimulator(sim, settings);
    std::vector<Frame> first(5000), second(5000);
    NextSimulatorFrames(sim, first.data(), first.size());
    StartSimulator(sim, settings);
    NextSimulatorFrames(sim, second.data(), second.size());
    for (size_t k = 0; k < first.size(); ++k) ASSERT_EQ(first[k].Rf, second[k].Rf) << k;
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
    EXPECT_EQ(total(1.00006, 0), 8000);                    // 8000.48 frames
    EXPECT_EQ(total(0.0001, 0), 1);                        // 0.8 frames
    EXPECT_EQ(total(30 * 86400.0, 10000), 20943360000LL);  // beyond 32 bits
}

// ---- PPS channel ---------------------------------------------------------------------------

// The half-level crossings, corrected by the shape's own half-level delay, must sit at the
// device frames of the whole GPS seconds. Linear interpolation across the 1.2-frame rise
// misjudges a crossing by up to about 0.1 frame, depending on where it falls between frames,
// so single edges are checked to 0.15 frame; the interval over 10 seconds, measured between
// crossings at the same sub-frame phase whenever 10 seconds span a whole number of frames, to
// 0.002 frame per second.
void ExpectPpsEdgesAtGpsSeconds(double ppm, double startOffset) {
    SCOPED_TRACE("ppm " + std::to_string(ppm) + ", start offset " + std::to_string(startOffset));
    SimulatorSettings s = Only(0, 0, 0.6, 0);
    s.ppm = ppm;
    s.startOffsetSeconds = startOffset;
    const double framesPerSecond = kFramesPerSecond * (1 + ppm * 1e-6);
    const std::vector<Frame> frames = Generate(s, static_cast<size_t>(12.5 * framesPerSecond));
    const std::vector<double> crossings = PpsHalfLevelCrossings(frames, s.ppsLevel);
    ASSERT_GE(crossings.size(), 12u);

    const double delay = HalfLevelDelayFrames(s);
    for (size_t n = 0; n < 12; ++n) {
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
    ExpectPpsEdgesAtGpsSeconds(0, 0.01234);
    ExpectPpsEdgesAtGpsSeconds(0, 0.99);
    ExpectPpsEdgesAtGpsSeconds(50, 0.3172);    // 8000.4 frames per GPS second
    ExpectPpsEdgesAtGpsSeconds(-100, 0.5);     // 7999.2
    ExpectPpsEdgesAtGpsSeconds(1000, 0.3172);  // 8008
    ExpectPpsEdgesAtGpsSeconds(-10000, 0.7);   // 7920
}

TEST(SignalSimulatorPps, FiftyPpmPutsEdgesTenSecondsApartAt80004Frames) {
    // 10 s at 8000.4 frames/s is a whole number of frames, so both crossings have the same
    // sub-frame phase and the same interpolation error: they must be 80004 frames apart to
    // within the int16 rounding of the samples.
    SimulatorSettings s = Only(0, 0, 0.6, 0);
    s.ppm = 50;
    const std::vector<double> crossings = PpsHalfLevelCrossings(Generate(s, 100000), 0.6);
    ASSERT_GE(crossings.size(), 11u);
    EXPECT_NEAR(crossings[10] - crossings[0], 80004, 1e-3);
}

TEST(SignalSimulatorPps, SteepestRiseIsAtTheFirstFrameAfterTheEdge) {
    // Edge at 5462.4: frame 5463 is 0.6 frame into the pulse and takes the biggest step.
    const std::vector<Frame> frames = Generate(Only(0, 0, 0.6, 0), 8000);
    int steepest = 1;
    for (int k = 1; k < 8000; ++k) {
        if (frames[k].Pps - frames[k - 1].Pps > frames[steepest].Pps - frames[steepest - 1].Pps) {
            steepest = k;
        }
    }
    EXPECT_EQ(steepest, 5463);
    EXPECT_EQ(frames[5462].Pps, 0) << "nothing before the edge (the decay is far below 1 LSB)";
}

TEST(SignalSimulatorPps, PeakLevelAndDecay) {
    const SimulatorSettings s = Only(0, 0, 0.6, 0);
    const std::vector<Frame> frames = Generate(s, 8000);
    const auto highest = std::max_element(frames.begin(), frames.end(),
                                          [](Frame a, Frame b) { return a.Pps < b.Pps; });
    const double peak = highest->Pps;
    // The peak is 0.8 ms after the edge and broad; sampling it costs well under 0.1 %.
    EXPECT_NEAR(peak, 0.6 * 32767, 0.001 * 0.6 * 32767);
    // 30 ms (240 frames) after the peak, the pulse has fallen by e (to 1 % of the peak:
    // the rise's remains and rounding are far smaller).
    EXPECT_NEAR((highest + 240)->Pps / peak, std::exp(-1.0), 0.01);
}

TEST(SignalSimulatorPps, LongDecayCarriesOverWithoutJumpsAndRepeatsEverySecond) {
    // With a 2 s decay the pulses pile up. Apart from the first 2 ms of each pulse (its rise)
    // the channel must change only slowly (the decay moves at most about 0.4 LSB per frame
    // here; 2 LSB allowed), and since all earlier pulses are included the channel is the same
    // in every second, from the first frame on (1 LSB allowed for rounding).
    SimulatorSettings s = Only(0, 0, 0.3, 0);
    s.ppsDecayMs = 2000;
    const std::vector<Frame> frames = Generate(s, 4 * 8000);
    // Just before an edge: 0.3 * (e^-0.5 + e^-1 + ...) = 0.3 * 1.54 of full scale, to 0.1 % of
    // full scale (one pulse's peak differs from the bare decay by 0.07 % for this rise time).
    EXPECT_NEAR(frames[5462].Pps, 0.3 * 32767 * std::exp(-0.5) / (1 - std::exp(-0.5)),
                0.001 * 32767);
    for (size_t k = 1; k < frames.size(); ++k) {
        const double sinceEdge = std::fmod(k + 8000 - 5462.4, 8000.0);  // [frames]
        if (sinceEdge >= 16) {
            ASSERT_LE(std::abs(frames[k].Pps - frames[k - 1].Pps), 2) << "frame " << k;
        }
        if (k >= 8000) {
            ASSERT_NEAR(frames[k].Pps, frames[k - 8000].Pps, 1) << "frame " << k;
        }
    }
}

// ---- RF channel ----------------------------------------------------------------------------

TEST(SignalSimulatorClick, BurstFollowsTheEdgeAtTheSetDelayAndTone) {
    // Edge at frame 5462.4; the click covers 3.2 .. 9.2 ms = 25.6 .. 73.6 frames after it.
    const SimulatorSettings s = Only(0, 0.5, 0, 0);
    const std::vector<Frame> frames = Generate(s, 8000);
    const double edge = 5462.4;
    for (int k = 0; k < 8000; ++k) {
        const double afterEdge = k - edge;
        if (afterEdge < 25.6 || afterEdge >= 73.6) {
            ASSERT_EQ(frames[k].Rf, 0) << "frame " << k << " is outside the click";
            continue;
        }
        // Inside: the documented burst, starting at phase 0, with 0.5 ms (4-frame) edges.
        const double u = GpsTimeOf(s, k) - 1 - s.clickDelayMs * 1e-3;
        const double fromEdge = std::min(u, s.clickLengthMs * 1e-3 - u);
        const double envelope =
            fromEdge < 0.5e-3 ? 0.5 * (1 - std::cos(std::numbers::pi * fromEdge / 0.5e-3)) : 1;
        const double expected = 0.5 * 32767 * envelope * std::sin(kTwoPi * s.lockFreqHz * u);
        // 1 LSB: the expectation is computed in double, the simulator rounds once.
        EXPECT_NEAR(frames[k].Rf, expected, 1.0) << "frame " << k;
    }
}

TEST(SignalSimulatorClick, LevelsBeyondFullScaleClipInsteadOfWrapping) {
    const std::vector<Frame> frames = Generate(Only(0, 3, 3, 0), 8000);
    int16_t maxRf = 0, minRf = 0, maxPps = 0;
    for (const Frame& f : frames) {
        maxRf = std::max(maxRf, f.Rf);
        minRf = std::min(minRf, f.Rf);
        maxPps = std::max(maxPps, f.Pps);
        ASSERT_GE(f.Pps, 0) << "a positive pulse must never wrap negative";
    }
    EXPECT_EQ(maxRf, 32767);
    EXPECT_EQ(minRf, -32768);
    EXPECT_EQ(maxPps, 32767);
}

TEST(SignalSimulatorCarrier, FollowsTheExactPhaseForTenMinutes) {
    // Without wander the carrier must equal sin(2 pi f t_k) for every frame, however long the
    // stream runs: a recurrence that drifted would fail here. 1 LSB allows for the expectation
    // being computed in double precision and rounded separately.
    SimulatorSettings s = Only(0.5, 0, 0, 0);
    s.carrierWanderRad = 0;
    s.ppm = 37.5;
    SignalSimulator sim;
    StartSimulator(sim, s);
    std::vector<Frame> block(8000);
    const double frequency = s.lockFreqHz + s.carrierOffsetHz;
    for (long long second = 0; second < 600; ++second) {
        NextSimulatorFrames(sim, block.data(), block.size());
        if (second % 60 != 59) continue;
        for (long long n = 0; n < 8000; n += 7) {
            const long long k = second * 8000 + n;
            const long double cycles =
                static_cast<long double>(frequency) *
                (s.startOffsetSeconds + static_cast<long double>(k) / (8000 * (1 + 37.5e-6L)));
            const double phase = kTwoPi * static_cast<double>(cycles - std::floor(cycles));
            ASSERT_NEAR(block[n].Rf, 0.5 * 32767 * std::sin(phase), 1.0) << "frame " << k;
        }
    }
}

TEST(SignalSimulatorCarrier, WanderMovesThePhaseWithinItsBound) {
    // The same carrier with and without wander: the difference of two unit sines whose phases
    // differ by w is at most 2 sin(w/2), so with w <= 0.3 rad at most 0.2989 of the amplitude.
    SimulatorSettings plain = Only(0.5, 0, 0, 0);
    plain.carrierWanderRad = 0;
    SimulatorSettings wandering = plain;
    wandering.carrierWanderRad = 0.3;
    const size_t count = 120 * 8000;
    const std::vector<Frame> a = Generate(plain, count), b = Generate(wandering, count);
    const double bound = 2 * std::sin(0.15) * 0.5 * 32767 + 2;  // + rounding of both
    double largest = 0;
    for (size_t k = 0; k < count; ++k)
        largest = std::max(largest, std::abs(a[k].Rf - b[k].Rf + 0.0));
    EXPECT_LE(largest, bound);
    EXPECT_GT(largest, 0.2 * bound) << "over two minutes the phase must move noticeably";
}

TEST(SignalSimulatorLevels, CarrierAndNoiseRms) {
    SimulatorSettings carrierOnly = Only(0.08, 0, 0, 0);
    // A sine's RMS is amplitude / sqrt 2; 10 s of 1700.1 Hz give a near-exact average.
    EXPECT_NEAR(Rms(Generate(carrierOnly, 80000), &Frame::Rf), 0.08 * 32767 / std::sqrt(2.0), 2);

    const std::vector<Frame> noise = Generate(Only(0, 0, 0, 0.01), 80000);
    // 80000 Gaussian samples estimate the RMS to 0.25 % (one standard error); allow 1 %.
    EXPECT_NEAR(Rms(noise, &Frame::Rf), 0.01 * 32767, 0.01 * 0.01 * 32767);
    double sum = 0;
    int beyondThreeSigma = 0;
    for (const Frame& f : noise) {
        sum += f.Rf;
        beyondThreeSigma += std::abs(f.Rf) > 3 * 327.67;
    }
    // Mean within 4 standard errors (327.67 / sqrt(80000) = 1.16 LSB).
    EXPECT_NEAR(sum / noise.size(), 0, 4.7);
    // Gaussian, not uniform: 0.27 % of the samples beyond 3 sigma (216 expected; none for a
    // uniform distribution of the same RMS, which ends at 1.73 sigma).
    EXPECT_GT(beyondThreeSigma, 150);
    EXPECT_LT(beyondThreeSigma, 290);
}

TEST(SignalSimulatorLevels, DefaultsGiveAClickWellAboveCarrierAndNoise) {
    // The defaults are what the program locks to: at 31 frames after each edge the click's
    // flat top (0.5) dominates carrier (0.08) and noise (0.01 RMS).
    const std::vector<Frame> frames = Generate(SimulatorSettings{}, 5 * 8000);
    for (int second = 1; second <= 4; ++second) {
        const double edge = (second - 0.3172) * 8000;
        int largest = 0;
        for (int k = static_cast<int>(edge + 30); k < static_cast<int>(edge + 70); ++k) {
            largest = std::max(largest, std::abs(int{frames[k].Rf}));
        }
        EXPECT_GT(largest, 0.5 * 32767 * 0.8) << "second " << second;
        int quiet = 0;
        for (int k = static_cast<int>(edge + 200); k < static_cast<int>(edge + 1200); ++k) {
            quiet = std::max(quiet, std::abs(int{frames[k].Rf}));
        }
        EXPECT_LT(quiet, (0.08 + 6 * 0.01) * 32767) << "second " << second;
    }
}

}  // namespace
