// The fine PPS timing on pulses whose truth comes from outside our code: a receiver's
// rectangular pulses area-sampled at a card's rate (an exact integral, so an edge's place
// within a sample is kept), then sox's own first-order high-pass (an AC-coupled input), its
// rate filters (a card's anti-alias filter, linear or minimum phase, and a sound server's
// resampler down to 8000 frames a second) and its TPDF dither to 16 bits. Every edge's true
// frame is known from the pulse times alone; a minimum-phase filter's delay is one constant,
// so edges are compared with the truth less their mean error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "dsp/allan_deviation.h"
#include "dsp/pps_timing.h"

namespace qv {

namespace {

struct PulseTrain {
    double Seconds = 60;      // [card s] of signal
    int Rate = 192000;        // [frames per card s] of the area sampling
    double Ppm = 43.2;        // [ppm] the card's clock error: + = more frames per GPS second
    double WidthS = 0.1;      // [s] of each pulse
    double Level = 0.6;       // [full scale] of the pulse, negative for a falling one
    double JitterS = 0;       // [s] RMS of each pulse's displacement (Gaussian)
    double HumLevel = 0;      // [full scale] of a 50 Hz hum
    double NoiseLevel = 0;    // [full scale] RMS of white noise
    double FirstEdgeS = 0.3;  // [card s] of the first pulse
    std::string Effects;      // sox's effects after the samples, ending at 8000 frames a second
};

struct Recording {
    std::vector<int16_t> Pps;    // [LSB] at 8000 frames per card second
    std::vector<double> Truth;   // [frames] of each pulse's start
    std::vector<double> Jitter;  // [s] each pulse's displacement
};

// The pulses, area-sampled, through sox; empty when sox fails.
Recording MakeRecording(const PulseTrain& t) {
    Recording r;
    const auto frames = static_cast<size_t>(t.Seconds * t.Rate);
    std::vector<float> samples(frames, 0.0f);
    std::mt19937_64 random(7);
    std::normal_distribution<double> gauss(0, 1);
    const long double period = t.Rate * (1 + t.Ppm * 1e-6L);  // [frames per GPS second]
    for (int n = 0;; ++n) {
        const double jitter = t.JitterS * gauss(random);
        const long double start = (t.FirstEdgeS + jitter) * t.Rate + n * period;
        const long double end = start + t.WidthS * t.Rate;
        if (start >= frames) break;
        r.Truth.push_back(static_cast<double>(start * 8000 / t.Rate));
        r.Jitter.push_back(jitter);
        for (auto k = static_cast<size_t>(std::floor(start)); k < frames && k < end; ++k) {
            const long double covered =
                std::min<long double>(k + 1, end) - std::max<long double>(k, start);
            samples[k] += static_cast<float>(t.Level * covered);
        }
    }
    for (size_t k = 0; k < frames; ++k) {
        samples[k] += static_cast<float>(
            t.HumLevel * std::sin(2 * M_PI * 50 * static_cast<double>(k) / t.Rate + 0.4) +
            t.NoiseLevel * gauss(random));
    }
    char folder[] = "/tmp/quorvelle-sox-XXXXXX";
    if (mkdtemp(folder) == nullptr) return r;
    const std::string in = std::string(folder) + "/in.raw", out = std::string(folder) + "/out.raw";
    FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(samples.data(), sizeof(float), samples.size(), f);
    std::fclose(f);
    // -R: sox's dither the same on every run.
    const std::string command =
        "sox -R -t raw -r " + std::to_string(t.Rate) + " -e floating-point -b 32 -c 1 '" + in +
        "' -t raw -e signed -b 16 '" + out + "' " + t.Effects + " dither 2>/dev/null";
    if (std::system(command.c_str()) == 0 && (f = std::fopen(out.c_str(), "rb")) != nullptr) {
        int16_t v = 0;
        while (std::fread(&v, sizeof v, 1, f) == 1) r.Pps.push_back(v);
        std::fclose(f);
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
    rmdir(folder);
    return r;
}

struct Timed {
    PpsTiming Timing;
    std::vector<PpsEdge> Edges;
    std::vector<double> Error;  // [us] each edge less its truth, less their mean
    double Rms = 0;             // [us] of Error
    double Worst = 0;           // [us] largest |Error|
    double FractionSwing = 0;   // [us] largest minus smallest mean Error of tenths of a frame
    int Series = 0;             // series among the edges
};

Timed TimeRecording(const Recording& r, bool inverted) {
    Timed t;
    std::vector<double> raw, fraction;
    for (size_t k = 0; k <= r.Pps.size(); ++k) {
        PpsEdge e;
        if ((k % 4000 == 0 || k == r.Pps.size()) && TakePpsEdge(t.Timing, e)) {
            t.Edges.push_back(e);
            const double frame = static_cast<double>(e.Frame);
            double truth = r.Truth.front();
            for (double q : r.Truth)
                truth = std::fabs(q - frame) < std::fabs(truth - frame) ? q : truth;
            raw.push_back((frame - truth) * 125);
            fraction.push_back(truth - std::floor(truth));
            if (t.Series != e.Series) ++t.Series;
        }
        if (k < r.Pps.size()) FeedPpsTiming(t.Timing, r.Pps[k], inverted);
    }
    double mean = 0;
    for (double e : raw) mean += e / static_cast<double>(raw.size());
    double bins[10] = {}, counts[10] = {}, squares = 0;
    for (size_t k = 0; k < raw.size(); ++k) {
        t.Error.push_back(raw[k] - mean);
        squares += t.Error[k] * t.Error[k];
        t.Worst = std::max(t.Worst, std::fabs(t.Error[k]));
        bins[static_cast<int>(fraction[k] * 10)] += t.Error[k];
        ++counts[static_cast<int>(fraction[k] * 10)];
    }
    t.Rms = raw.empty() ? NAN : std::sqrt(squares / static_cast<double>(raw.size()));
    double low = 1e9, high = -1e9;
    for (int b = 0; b < 10; ++b) {
        if (counts[b] < 3) continue;
        low = std::min(low, bins[b] / counts[b]);
        high = std::max(high, bins[b] / counts[b]);
    }
    t.FractionSwing = high - low;
    return t;
}

bool HaveSox() { return std::system("sox --version >/dev/null 2>&1") == 0; }

}  // namespace

// Pulse widths from 10 us to 500 ms, DC and AC coupling (0.5 to 20 Hz), both polarities,
// levels down to 0.03 of full scale with hum and noise, a 48 kHz card resampled to 8 kHz and a
// native 8 kHz card, linear and minimum phase: every pulse after the first two is timed, in
// one series, and the edges keep their distance from the truth to hundredths of a microsecond
// whatever their place within a frame (the cards walk through every fraction in 3 s).
TEST(PpsRealPulses, EveryWidthCouplingAndCardFilterIsTimedExactly) {
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
    struct Case {
        const char* Name;
        int Rate;  // [frames per s] of the area sampling: above a pulse's own spectrum
        double WidthS, Level, HumLevel, NoiseLevel;
        const char* Effects;
        double MaxRms;  // [us] the noise limit at that level, with a margin
    };
    const Case cases[] = {
        {"100 ms, AC 3 Hz, 48 kHz linear", 192000, 0.1, 0.6, 0, 0,
         "highpass -1 3 rate -v 48000 rate -v 8000", 0.05},
        {"100 ms, AC 20 Hz, 8 kHz minimum phase", 192000, 0.1, 0.6, 0, 0,
         "highpass -1 20 rate -v -M 8000", 0.05},
        {"1 ms, AC 20 Hz, 48 kHz minimum phase", 192000, 0.001, 0.6, 0, 0,
         "highpass -1 20 rate -v -M 48000 rate -v 8000", 0.05},
        // A 10 us pulse is two samples at 192 kHz, whose aliases alone move it by 0.06 us; at
        // 0.046 of full scale after the filters its noise limit is near 0.03 us.
        {"10 us, DC, 48 kHz linear", 768000, 0.00001, 0.6, 0, 0, "rate -v 48000 rate -v 8000",
         0.06},
        {"500 ms inverted, AC 0.5 Hz, 8 kHz linear", 192000, 0.5, -0.6, 0, 0,
         "highpass -1 0.5 rate -v 8000", 0.05},
        {"200 ms at 0.03, hum and noise, AC 50 Hz", 192000, 0.2, 0.03, 0.05, 0.001,
         "highpass -1 50 rate -v 48000 rate -v 8000", 1.5},
    };
    // QUORVELLE_PPS_SECONDS lengthens the signals for the README's table (40 s by default).
    const char* seconds = std::getenv("QUORVELLE_PPS_SECONDS");
    for (const Case& c : cases) {
        PulseTrain train;
        train.Seconds = seconds != nullptr ? std::atof(seconds) : 40;
        train.Rate = c.Rate;
        train.WidthS = c.WidthS;
        train.Level = c.Level;
        train.HumLevel = c.HumLevel;
        train.NoiseLevel = c.NoiseLevel;
        train.Effects = c.Effects;
        const Recording r = MakeRecording(train);
        ASSERT_FALSE(r.Pps.empty()) << c.Name;
        const Timed t = TimeRecording(r, c.Level < 0);
        std::printf(
            "%-45s %zu of %zu timed (rejected %lld, %lld, %lld), RMS %.4f us, worst %.4f us, "
            "fraction swing %.4f us\n",
            c.Name, t.Edges.size(), r.Truth.size(), static_cast<long long>(t.Timing.RejectedDouble),
            static_cast<long long>(t.Timing.RejectedNoisy),
            static_cast<long long>(t.Timing.RejectedOffSecond), t.Rms, t.Worst, t.FractionSwing);
        EXPECT_GE(t.Edges.size(), r.Truth.size() - 2) << c.Name;
        EXPECT_EQ(t.Timing.PulsesRejected, 0) << c.Name;
        EXPECT_EQ(t.Series, 1) << c.Name;
        EXPECT_EQ(t.Timing.Method, PpsMethod::ShapeFit) << c.Name;
        EXPECT_LT(t.Rms, c.MaxRms) << c.Name;
        EXPECT_LT(t.Worst, std::max(1.0, 5 * c.MaxRms)) << c.Name;
        if (c.MaxRms <= 0.05) {
            EXPECT_LT(t.FractionSwing, 0.05) << c.Name;
        }
        const PpsEdge& last = t.Edges.back();
        EXPECT_LE(std::fabs(static_cast<double>(last.FitPpm) - 43.2),
                  std::max(0.001, 3 * static_cast<double>(last.FitPpmSe)))
            << c.Name;
    }
}

// A USB card that drops 3 samples and later repeats 2: each slip is found, counted and
// carried across, the series and its running fit go on, and no pulse is rejected.
TEST(PpsRealPulses, SampleSlipsAreFoundAndCarriedAcross) {
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
    PulseTrain train;
    train.Seconds = 30;
    train.Effects = "highpass -1 3 rate -v 48000 rate -v 8000";
    Recording r = MakeRecording(train);
    ASSERT_FALSE(r.Pps.empty());
    // Dropped between seconds 12 and 13, repeated between 20 and 21.
    const auto drop = static_cast<long>(r.Truth[12] + 4000);
    r.Pps.erase(r.Pps.begin() + drop, r.Pps.begin() + drop + 3);
    const auto repeat = static_cast<long>(r.Truth[20] + 4000) - 3;
    r.Pps.insert(r.Pps.begin() + repeat, r.Pps.begin() + repeat - 2, r.Pps.begin() + repeat);
    for (size_t n = 13; n < r.Truth.size(); ++n) r.Truth[n] += n > 20 ? -1 : -3;
    const Timed t = TimeRecording(r, false);
    EXPECT_EQ(t.Timing.Slips, 2);
    EXPECT_EQ(t.Timing.SlippedFrames, 1);
    EXPECT_EQ(t.Timing.PulsesRejected, 0);
    EXPECT_EQ(t.Series, 1);
    EXPECT_GE(t.Edges.size(), r.Truth.size() - 2);
    EXPECT_LT(t.Worst, 0.05);
    int slips = 0;
    for (const PpsEdge& e : t.Edges) {
        if (e.SlipFrames != 0) {
            EXPECT_EQ(e.SlipFrames, ++slips == 1 ? 3 : -2);
        }
        if (e.FitValid) {
            EXPECT_LT(std::fabs(static_cast<double>(e.ResidualUs)), 0.05);
        }
    }
    EXPECT_EQ(slips, 2);
    EXPECT_NEAR(static_cast<double>(t.Edges.back().FitPpm), 43.2, 0.001);
}

// Ten minutes of a card 0.8 ppm fast (its edges walk through a frame in 156 s), of one 43.2
// ppm fast with 50 ns of receiver jitter and one 12.5 ppm slow with 1 us: the fine frequency
// within three of its stated standard errors (and 0.001 ppm of the truth without a jitter that
// forbids it); the Allan deviation at 1 s of the jittered edges within 20 % (50 ns) and 10 %
// (1 us) of the jitter's own.
TEST(PpsRealPulses, LongRunsGiveTheTrueFrequencyWithAnHonestErrorAndTheJittersAllan) {
    if (!HaveSox()) GTEST_SKIP() << "sox is not installed";
    for (const double jitter : {0.0, 50e-9, 1e-6}) {
        const double ppm = jitter == 0 ? 0.8 : jitter < 1e-7 ? 43.2 : -12.5;
        PulseTrain train;
        train.Seconds = 600;
        train.Rate = 48000;
        train.Ppm = ppm;
        train.JitterS = jitter;
        train.Effects = "highpass -1 3 rate -v 8000";
        const Recording r = MakeRecording(train);
        ASSERT_FALSE(r.Pps.empty());
        const Timed t = TimeRecording(r, false);
        ASSERT_GE(t.Edges.size(), r.Truth.size() - 2);
        const PpsEdge& last = t.Edges.back();
        std::printf("%.1f ppm: fine %.6f ppm, standard error %.6f ppm\n", ppm,
                    static_cast<double>(last.FitPpm), static_cast<double>(last.FitPpmSe));
        if (jitter < 1e-7) {
            EXPECT_NEAR(static_cast<double>(last.FitPpm), ppm, 0.001);
        }
        EXPECT_LE(std::fabs(static_cast<double>(last.FitPpm) - ppm),
                  3 * static_cast<double>(last.FitPpmSe));
        if (train.JitterS == 0) continue;
        std::vector<double> x;
        for (const PpsEdge& e : t.Edges) x.push_back(static_cast<double>(e.Frame) / 8000);
        const double truthAllan = OverlappingAllanDeviation(r.Jitter, 1.0).front().Deviation;
        const double allan = OverlappingAllanDeviation(x, 1.0).front().Deviation;
        std::printf("Allan deviation at 1 s: %.4g, of the jitter itself %.4g\n", allan, truthAllan);
        EXPECT_NEAR(allan, truthAllan, (jitter < 1e-7 ? 0.2 : 0.1) * truthAllan);
    }
}

}  // namespace qv
