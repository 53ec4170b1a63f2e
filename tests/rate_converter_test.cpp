// The rate converter measured through its streaming interface: passband, rejection and time
// alignment at every card rate, any blocks giving the same frames, and tones that sox made.
#include "dsp/rate_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/trig.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"

namespace qv {

namespace {

constexpr double kAmplitude = 30000;  // [16-bit sample units] of the test signals
constexpr double kPassbandDb = 0.01, kRejectionDb = 110;

// cos and sin of 2 pi num / den, the angle reduced exactly in integers first.
void CosSinOfTurns(int64_t num, int64_t den, double& c, double& s) {
    long double sl = 0, cl = 0;
    ExtendedSinCos(2 * 0xc90fdaa22168c235p-62L * static_cast<long double>(num % den) /
                       static_cast<long double>(den),
                   &sl, &cl);
    c = static_cast<double>(cl), s = static_cast<double>(sl);
}

// The `outputs` output samples of a copy of `started` for the input at(i), flushed at the end.
template <typename Input>
std::vector<StereoSample> Through(const RateConverter& started, int outputs, Input at) {
    RateConverter c = started;
    std::vector<StereoSample> in(static_cast<size_t>(outputs) * c.InputRate / kFramesPerSecond);
    for (size_t i = 0; i < in.size(); ++i) in[i] = at(static_cast<int64_t>(i));
    std::vector<StereoSample> out;
    ConvertSamples(c, in.data(), in.size(), out);
    FinishSamples(c, out);
    EXPECT_EQ(out.size(), static_cast<size_t>(outputs));
    return out;
}

}  // namespace

// Quadrature tones, A cos on the left and A sin on the right: both channels go through the same
// filters, so hypot(Rf, Pps) / A at every output sample is the response and atan2 the phase, with
// no beat to average out. Measured past the start-up of the longest filter (about 40 output
// samples either side) and before the silence after the end:
// - to 3.4 kHz, within 0.01 dB and at the tone's phase at output time k / 8000 s (no delay);
// - from 4 kHz to the input's Nyquist frequency, 16 tones in every 4 kHz band from a quarter
//   hertz above its start (the last stage's stop edge, what folds onto 0 Hz, 4 kHz and between),
//   all they leave in the output at least 110 dB down in power;
// - a step between input frames i0 - 1 and i0, at several places between the output samples,
//   stays at input time i0 - 0.5: the centroid of the output's differences (a band-limited pulse,
//   half an output sample after them) lies there.
TEST(RateConverter, FlatPassbandDeepStopbandAndEdgesInPlaceAtEveryRate) {
    constexpr int kFirst = 80, kMeasured = 240, kOutputs = 2 * kFirst + kMeasured;
    for (const int rate : kConvertibleRates) {
        SCOPED_TRACE("input at " + std::to_string(rate) + " frames/s");
        RateConverter started;
        StartRateConverter(started, rate);
        const auto tone = [&](int64_t quarterHz) {
            return Through(started, kOutputs, [&](int64_t i) -> StereoSample {
                double c, s;
                CosSinOfTurns(quarterHz * i, 4LL * rate, c, s);
                return {kAmplitude * c, kAmplitude * s};
            });
        };
        for (const int64_t quarterHz : {0, 4, 1601, 4000, 6800, 10002, 12003, 13600}) {
            const std::vector<StereoSample> out = tone(quarterHz);
            for (int k = kFirst; k < kFirst + kMeasured; ++k) {
                const StereoSample& y = out[static_cast<size_t>(k)];
                double c, s;
                CosSinOfTurns(quarterHz * k, 4 * kFramesPerSecond, c, s);
                const double db = 20 * std::log10(std::hypot(y.Rf, y.Pps) / kAmplitude);
                const double phase = std::atan2(y.Pps * c - y.Rf * s, y.Rf * c + y.Pps * s);
                ASSERT_LT(std::fabs(db), kPassbandDb)
                    << static_cast<double>(quarterHz) / 4 << " Hz";
                ASSERT_LT(std::fabs(phase), 1e-4)
                    << "rad at " << static_cast<double>(quarterHz) / 4;
            }
        }
        // In the stopband the output is several tones: the fold of the input's and those of its
        // images in the rational stage. Their power together is what must be 110 dB down.
        for (int64_t quarterHz = 4 * 4000 + 1; quarterHz < 2LL * rate; quarterHz += 1000) {
            const std::vector<StereoSample> out = tone(quarterHz);
            double power = 0;
            for (int k = kFirst; k < kFirst + kMeasured; ++k) {
                const StereoSample& y = out[static_cast<size_t>(k)];
                power += (y.Rf * y.Rf + y.Pps * y.Pps) / (kAmplitude * kAmplitude) / kMeasured;
            }
            ASSERT_LT(10 * std::log10(power), -kRejectionDb)
                << static_cast<double>(quarterHz) / 4 << " Hz";
        }
        for (int64_t firstHigh = rate / 80; firstHigh < rate / 80 + 7; ++firstHigh) {
            const std::vector<StereoSample> out = Through(started, 400, [&](int64_t i) {
                return i < firstHigh ? StereoSample{0, 0} : StereoSample{kAmplitude, -kAmplitude};
            });
            double moment = 0, sum = 0;  // of the step at 100, away from the end's fall at 400
            for (size_t k = 20; k < 180; ++k) {
                moment += (static_cast<double>(k) - 0.5) * (out[k].Rf - out[k - 1].Rf);
                sum += out[k].Rf - out[k - 1].Rf;
            }
            EXPECT_NEAR(moment / sum, (static_cast<double>(firstHigh) - 0.5) * 8000 / rate, 1e-4)
                << "step at input frame " << firstHigh;
        }
    }
}

// Frames in blocks of any size, down to one frame, give the same frames as one block, and the
// end gives those up to the input's end in time; the plain and the wide-vector computation give
// the same bits, to the last of every double. A full-scale square overshoots at its edges: the
// 16-bit output saturates instead of wrapping round.
TEST(RateConverter, AnyBlocksAndEitherComputationGiveTheSameFramesAndFullScaleSaturates) {
    for (const int rate : kConvertibleRates) {
        SCOPED_TRACE("input at " + std::to_string(rate) + " frames/s");
        const size_t count = static_cast<size_t>(rate) / 5 + 3;  // 0.2 s, not whole output frames
        std::vector<Frame> in(count), once, blocks;
        for (size_t i = 0; i < count; ++i) {
            double c, s;
            CosSinOfTurns(static_cast<int64_t>(i) * 1234, 7LL * rate, c, s);
            const bool high = i * 40 / static_cast<size_t>(rate) % 2 == 1;  // a 20 Hz square
            in[i] = {static_cast<int16_t>(std::lrint(20000 * s)), int16_t(high ? 32767 : -32768)};
        }
        RateConverter whole, pieces;
        StartRateConverter(whole, rate);
        StartRateConverter(pieces, rate);
        pieces.WideVectors = false;  // whole's as the processor allows
        ConvertFrames(whole, in.data(), count, once);
        FinishFrames(whole, once);
        const size_t sizes[] = {1, 1, 2, 127, 3, 1000, 0, 4099, 5};
        for (size_t done = 0, n = 0; done < count; ++n) {
            const size_t size = std::min(sizes[n % std::size(sizes)], count - done);
            ConvertFrames(pieces, in.data() + done, size, blocks);
            done += size;
        }
        FinishFrames(pieces, blocks);
        ASSERT_EQ(once.size(),
                  (count * 8000 + static_cast<size_t>(rate) - 1) / static_cast<size_t>(rate));
        ASSERT_EQ(blocks.size(), once.size());
        for (size_t k = 0; k < once.size(); ++k) {
            ASSERT_EQ(blocks[k].Rf, once[k].Rf) << "output frame " << k;
            ASSERT_EQ(blocks[k].Pps, once[k].Pps) << "output frame " << k;
        }
        const auto [low, high] = std::minmax_element(
            once.begin(), once.end(), [](Frame a, Frame b) { return a.Pps < b.Pps; });
        EXPECT_EQ(low->Pps, -32768);
        EXPECT_EQ(high->Pps, 32767);

        // Values with every bit of a double in use, so that no difference can round away.
        uint64_t state = 12345;
        const auto noise = [&state](int64_t) {
            const auto next = [&state] {
                state = state * 6364136223846793005ULL + 1442695040888963407ULL;
                return static_cast<double>(state >> 11) * 0x1p-53 * 60000 - 30000;
            };
            const double rf = next();
            return StereoSample{rf, next()};
        };
        RateConverter plain;
        StartRateConverter(plain, rate);
        const std::vector<StereoSample> wideOut = Through(plain, 300, noise);
        plain.WideVectors = false;
        state = 12345;
        const std::vector<StereoSample> plainOut = Through(plain, 300, noise);
        EXPECT_EQ(
            std::memcmp(wideOut.data(), plainOut.data(), plainOut.size() * sizeof(plainOut[0])), 0);
    }
}

#ifndef _WIN32  // sox runs here, on Linux
// Tones that sox made (its own sine, 16-bit rounding and dither) at a card rate of each family:
// the passband tone on the left keeps its amplitude and phase, sin(2 pi f k / 8000) at output k
// with sox's 0.5 of full scale being 16384; the tone on the right, which folds into the passband,
// is gone. Fitted over 2 s, so that the dither averages out far below both limits.
TEST(RateConverter, SoxTonesKeepTheirAmplitudeAndPhaseOrVanish) {
    for (const auto& [rate, passHz, stopHz] :
         {std::tuple{48000, 1000, 14007}, {44100, 3000, 12503}}) {
        SCOPED_TRACE("sox at " + std::to_string(rate) + " frames/s");
        TestFolder folder;
        const std::string raw = folder.Path("tones.raw");
        std::istringstream command("sox -R -n -b 16 -e signed-integer -c 2 -t raw -r " +
                                   std::to_string(rate) + " " + raw + " synth 2 sine " +
                                   std::to_string(passHz) + " sine " + std::to_string(stopHz) +
                                   " vol 0.5");
        std::vector<std::string> words;
        for (std::string word; command >> word;) words.push_back(word);
        const ToolRun run =
            RunProgram(words, {}, raw + ".out", raw + ".err", std::chrono::minutes(1));
        ASSERT_EQ(run.Status, 0) << run.Err;
        std::vector<Frame> frames(static_cast<size_t>(2 * rate));
        FILE* file = std::fopen(raw.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fread(frames.data(), sizeof(Frame), frames.size(), file), frames.size());
        std::fclose(file);
        RateConverter started;
        StartRateConverter(started, rate);
        const std::vector<StereoSample> out = Through(started, 16000, [&](int64_t i) {
            const Frame f = frames[static_cast<size_t>(i)];
            return StereoSample{double(f.Rf), double(f.Pps)};
        });

        // Least squares a cos + b sin at a tone's frequency (folded, the very same samples).
        const auto fit = [&](double StereoSample::*channel, int64_t hz) {
            double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
            for (size_t k = 100; k < 15900; ++k) {
                double c, s;
                CosSinOfTurns(hz * static_cast<int64_t>(k), kFramesPerSecond, c, s);
                const double y = out[k].*channel;
                cc += c * c, ss += s * s, cs += c * s, yc += y * c, ys += y * s;
            }
            return std::pair{(yc * ss - ys * cs) / (cc * ss - cs * cs),
                             (ys * cc - yc * cs) / (cc * ss - cs * cs)};
        };
        const auto [a, b] = fit(&StereoSample::Rf, passHz);
        EXPECT_NEAR(20 * std::log10(std::hypot(a, b) / 16384), 0, kPassbandDb);
        EXPECT_NEAR(std::atan2(a, b), 0, 1e-4);  // [rad] no cosine beside the sine
        const auto [a2, b2] = fit(&StereoSample::Pps, stopHz);
        EXPECT_LT(20 * std::log10(std::hypot(a2, b2) / 16384), -kRejectionDb);
    }
}

#endif

}  // namespace qv
