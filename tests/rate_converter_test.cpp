// The rate converter measured through its streaming interface: passband, rejection and time
// alignment at every card rate, any blocks giving the same frames, and tones that sox made.
#include "dsp/rate_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "common/trig.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

constexpr long double kTwoPi = 2 * 0xc90fdaa22168c235p-62L;
constexpr double kAmplitude = 30000;  // [16-bit sample units] of every test tone
constexpr double kPassbandDb = 0.01;
constexpr double kRejectionDb = 110;

// cos and sin of 2 pi num / den turns, the angle reduced exactly in integers first.
void CosSinOfTurns(int64_t num, int64_t den, double& c, double& s) {
    long double sl = 0, cl = 0;
    ExtendedSinCos(kTwoPi * static_cast<long double>(num % den) / static_cast<long double>(den),
                   &sl, &cl);
    c = static_cast<double>(cl), s = static_cast<double>(sl);
}

// The converted output of a quadrature tone of quarterHz / 4 Hz, A cos on the left and A sin on
// the right. Both channels go through the same filters, so at every output sample
// hypot(Rf, Pps) / A is the response and atan2(Pps, Rf) the phase, with no beat to average out.
// `outputs` samples in all, flushed at the end.
std::vector<StereoSample> ToneThrough(const RateConverter& started, int64_t quarterHz,
                                      int outputs) {
    RateConverter c = started;
    const int64_t frames = static_cast<int64_t>(outputs) * c.InputRate / kFramesPerSecond;
    std::vector<StereoSample> in(static_cast<size_t>(frames)), out;
    for (int64_t i = 0; i < frames; ++i) {
        double cosine, sine;
        CosSinOfTurns(quarterHz * i, 4LL * c.InputRate, cosine, sine);
        in[static_cast<size_t>(i)] = {kAmplitude * cosine, kAmplitude * sine};
    }
    ConvertSamples(c, in.data(), in.size(), out);
    FinishSamples(c, out);
    EXPECT_EQ(out.size(), static_cast<size_t>(outputs));
    return out;
}

// Output samples measured: past the start-up of the longest filter (about 60 output samples on
// either side of a sample) and before the silence after the end.
constexpr int kFirstMeasured = 80, kMeasured = 240, kToneOutputs = kFirstMeasured * 2 + kMeasured;

}  // namespace

// Passband tones to 3.4 kHz: within 0.01 dB and at their own phase at output time k / 8000 s
// (the delay taken out). Tones from 4 kHz to the input's Nyquist frequency, 16 in every 4 kHz
// band from a quarter hertz above its start (the last stage's stop edge, what folds onto the
// output's 0 Hz, 4 kHz and between): at least 110 dB down.
TEST(RateConverter, FlatPassbandDeepStopbandAndNoDelayAtEveryRate) {
    for (const int rate : kConvertibleRates) {
        SCOPED_TRACE("input at " + std::to_string(rate) + " frames/s");
        RateConverter started;
        StartRateConverter(started, rate);
        double worstPassDb = 0, worstPhase = 0, worstStopDb = -1000, worstStopHz = 0;
        for (const int64_t quarterHz : {0, 4, 1601, 4000, 6800, 10002, 12003, 13600}) {
            const std::vector<StereoSample> out = ToneThrough(started, quarterHz, kToneOutputs);
            for (int k = kFirstMeasured; k < kFirstMeasured + kMeasured; ++k) {
                const StereoSample& y = out[static_cast<size_t>(k)];
                double c, s;
                CosSinOfTurns(quarterHz * k, 4 * kFramesPerSecond, c, s);
                const double db = 20 * std::log10(std::hypot(y.Rf, y.Pps) / kAmplitude);
                worstPassDb = std::max(worstPassDb, std::fabs(db));
                worstPhase =
                    std::max(worstPhase, std::fabs(std::atan2(y.Pps * c - y.Rf * s,
                                                              y.Rf * c + y.Pps * s)));
            }
        }
        for (int64_t band = 4000; 2 * band < rate; band += 4000) {
            for (int64_t quarterHz = 4 * band + 1; quarterHz < 4 * (band + 4000) &&
                                                   quarterHz < 2LL * rate;
                 quarterHz += 1000) {
                const std::vector<StereoSample> out =
                    ToneThrough(started, quarterHz, kToneOutputs);
                for (int k = kFirstMeasured; k < kFirstMeasured + kMeasured; ++k) {
                    const StereoSample& y = out[static_cast<size_t>(k)];
                    const double db = 20 * std::log10(std::hypot(y.Rf, y.Pps) / kAmplitude);
                    if (db > worstStopDb) worstStopDb = db, worstStopHz = static_cast<double>(quarterHz) / 4;
                }
            }
        }
        EXPECT_LT(worstPassDb, kPassbandDb);
        EXPECT_LT(worstPhase, 1e-4);  // [rad] 5 ns at 3.4 kHz
        EXPECT_LT(worstStopDb, -kRejectionDb) << "at " << worstStopHz << " Hz";
    }
}

// A step between input frames i0 - 1 and i0 stays at time (i0 - 0.5) / rate: the centroid of the
// output's differences, a band-limited pulse, lies there (half an output sample later, where the
// differences sit). Steps at several places between the output samples.
TEST(RateConverter, AStepStaysWhereItWasInTime) {
    for (const int rate : kConvertibleRates) {
        SCOPED_TRACE("input at " + std::to_string(rate) + " frames/s");
        RateConverter started;
        StartRateConverter(started, rate);
        for (int shift = 0; shift < 7; ++shift) {
            // 12.5 ms in, and as many frames on as the shift (up to a whole output sample).
            const int64_t firstHigh = rate / 80 + shift;
            RateConverter c = started;
            std::vector<StereoSample> in(static_cast<size_t>(rate / 20), {0, 0}), out;
            for (size_t i = static_cast<size_t>(firstHigh); i < in.size(); ++i)
                in[i] = {kAmplitude, -kAmplitude};
            ConvertSamples(c, in.data(), in.size(), out);
            FinishSamples(c, out);
            const double truth = (static_cast<double>(firstHigh) - 0.5) * kFramesPerSecond / rate;
            double moment = 0, sum = 0;
            // The step's output spans about 60 samples either side; the end's fall is 300 on.
            for (size_t k = 20; k < 180; ++k) {
                moment += (static_cast<double>(k) - 0.5) * (out[k].Rf - out[k - 1].Rf);
                sum += out[k].Rf - out[k - 1].Rf;
            }
            EXPECT_NEAR(moment / sum, truth, 1e-4) << "step at input frame " << firstHigh;
        }
    }
}

// Frames in blocks of any size, down to one frame, give the same frames as one block, and the
// end gives the frames up to the input's end in time. A full-scale square overshoots at its
// edges: the 16-bit output saturates instead of wrapping round.
TEST(RateConverter, AnyBlocksGiveTheSameFramesAndFullScaleSaturates) {
    for (const int rate : kConvertibleRates) {
        SCOPED_TRACE("input at " + std::to_string(rate) + " frames/s");
        const size_t count = static_cast<size_t>(rate) / 5 + 3;  // 0.2 s, not whole output frames
        std::vector<Frame> in(count);
        for (size_t i = 0; i < count; ++i) {
            double c, s;
            CosSinOfTurns(static_cast<int64_t>(i) * 1234, 7LL * rate, c, s);
            const bool high = i * 40 / static_cast<size_t>(rate) % 2 == 1;  // a 20 Hz square
            in[i] = {static_cast<int16_t>(std::lrint(20000 * s)),
                     static_cast<int16_t>(high ? 32767 : -32768)};
        }
        RateConverter whole, pieces;
        StartRateConverter(whole, rate);
        StartRateConverter(pieces, rate);
        std::vector<Frame> once, blocks;
        ConvertFrames(whole, in.data(), count, once);
        FinishFrames(whole, once);
        const size_t sizes[] = {1, 1, 2, 127, 3, 1000, 0, 4099, 5};
        for (size_t done = 0, n = 0; done < count; ++n) {
            const size_t size = std::min(sizes[n % std::size(sizes)], count - done);
            ConvertFrames(pieces, in.data() + done, size, blocks);
            done += size;
        }
        FinishFrames(pieces, blocks);
        ASSERT_EQ(once.size(), (count * kFramesPerSecond + static_cast<size_t>(rate) - 1) /
                                   static_cast<size_t>(rate));
        ASSERT_EQ(blocks.size(), once.size());
        int highest = 0, lowest = 0;
        for (size_t k = 0; k < once.size(); ++k) {
            ASSERT_EQ(blocks[k].Rf, once[k].Rf) << "output frame " << k;
            ASSERT_EQ(blocks[k].Pps, once[k].Pps) << "output frame " << k;
            highest = std::max<int>(highest, once[k].Pps);
            lowest = std::min<int>(lowest, once[k].Pps);
        }
        EXPECT_EQ(highest, 32767);
        EXPECT_EQ(lowest, -32768);
    }
}

// Tones that sox made (its own sine, its own 16-bit rounding with dither) at a card rate of each
// family: the passband tone on the left keeps its amplitude and phase, sin(2 pi f k / 8000) at
// output k; the tone on the right, which folds into the passband, is gone. Fitted over 2 s, so
// that the dither's noise averages out far below both limits.
TEST(RateConverter, SoxTonesKeepTheirAmplitudeAndPhaseOrVanish) {
    struct Case {
        int Rate;
        int PassHz, StopHz;  // the stop tone folds onto 8000 - (StopHz mod 8000) or so
    };
    for (const Case& t : {Case{48000, 1000, 14007}, Case{44100, 3000, 12503}}) {
        SCOPED_TRACE("sox at " + std::to_string(t.Rate) + " frames/s");
        TestFolder folder;
        const std::string raw = folder.Path("tones.raw");
        const ToolRun run = RunProgram(
            {"sox", "-R", "-n", "-r", std::to_string(t.Rate), "-b", "16", "-e", "signed-integer",
             "-c", "2", "-t", "raw", raw, "synth", "2", "sine", std::to_string(t.PassHz), "sine",
             std::to_string(t.StopHz), "vol", "0.5"},
            {}, raw + ".out", raw + ".err", std::chrono::minutes(1));
        ASSERT_EQ(run.Status, 0) << run.Err;
        std::vector<Frame> frames(static_cast<size_t>(2 * t.Rate));
        FILE* file = std::fopen(raw.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fread(frames.data(), sizeof(Frame), frames.size(), file), frames.size());
        std::fclose(file);

        RateConverter c;
        StartRateConverter(c, t.Rate);
        std::vector<StereoSample> in, out;
        for (const Frame& f : frames) in.push_back({double(f.Rf), double(f.Pps)});
        ConvertSamples(c, in.data(), in.size(), out);
        FinishSamples(c, out);
        ASSERT_EQ(out.size(), 16000u);

        // Least squares a cos + b sin at each tone's output frequency, away from both ends.
        const auto fit = [&](double StereoSample::*channel, int64_t hz, double& a, double& b) {
            double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
            for (int64_t k = 100; k < 15900; ++k) {
                double co, si;
                CosSinOfTurns(hz * k, kFramesPerSecond, co, si);
                const double y = out[static_cast<size_t>(k)].*channel;
                cc += co * co, ss += si * si, cs += co * si, yc += y * co, ys += y * si;
            }
            const double det = cc * ss - cs * cs;
            a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
        };
        double a, b;
        fit(&StereoSample::Rf, t.PassHz, a, b);
        // sox's 0.5 of full scale is 16384: within 0.01 dB, and no cosine beside the sine.
        EXPECT_NEAR(20 * std::log10(std::hypot(a, b) / 16384), 0, kPassbandDb);
        EXPECT_NEAR(std::atan2(a, b), 0, 1e-4);  // [rad]
        fit(&StereoSample::Pps, t.StopHz, a, b);  // folded, a tone at StopHz is the same samples
        EXPECT_LT(20 * std::log10(std::hypot(a, b) / 16384), -kRejectionDb);
    }
}

}  // namespace qv
