// The fine PPS timing on a card's own frames at every rate, on pulses sox made as a station's
// card would take them (tests/sox_pps.h): 0.6 of full scale, 100 ms wide, AC-coupled, the
// card's own anti-alias filter, dithered to 16 bits. Every edge's truth is worked out from the
// pulse train alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "dsp/allan_deviation.h"
#include "dsp/pps_timing.h"
#include "tests/sox_pps.h"
#include "tests/test_files.h"

namespace qv {

namespace {

// A realistic station's card at `rate`, its clock `ppm` fast, drawn at 192 kHz for a card up to
// 48 kHz, else at 768 kHz: at least 4 times the card's rate, far above its band.
SoxPpsOptions CardAt(int rate, double ppm, double seconds) {
    SoxPpsOptions o;
    o.Seconds = seconds;
    o.Ppm = ppm;
    o.FirstPulseSeconds = 0.3172;
    o.AcHz = 3;
    o.CardRate = rate;
    o.Resampler = SoxResampler::None;
    o.SynthRate = rate <= 48000 ? 192000 : 768000;
    return o;
}

}  // namespace

// Cards from 44.1 to 192 kHz, linear and minimum phase, their edges walking through every
// fraction of a frame: every pulse after the first is timed, in one series by the learnt shape,
// each within a few nanoseconds of its truth less their mean; the same pulses through a 48 kHz
// card resampled to 8000 time as well as they always have.
TEST(PpsCardRate, EveryRateTimesItsOwnFramesToNanoseconds) {
    struct Case {
        int Rate;
        SoxCardFilter Filter;
        double MaxRmsUs;
    };
    const Case cases[] = {
        {44100, SoxCardFilter::Linear, 0.01},   {48000, SoxCardFilter::Linear, 0.01},
        {96000, SoxCardFilter::Minimum, 0.005}, {176400, SoxCardFilter::Linear, 0.005},
        {192000, SoxCardFilter::Linear, 0.005}, {8000, SoxCardFilter::Linear, 0.05},
    };
    TestFolder folder;
    for (const Case& c : cases) {
        SoxPpsOptions o = CardAt(c.Rate, 43.2, 30);
        o.Filter = c.Filter;
        int rate = c.Rate;
        if (c.Rate == 8000) {  // the card at 48 kHz, a sound server's resampler to 8000
            o.CardRate = 48000;
            o.Resampler = SoxResampler::VeryHigh;
        }
        const SoxPps sox = MakeSoxPps(o, folder.Path("card.wav"));
        ASSERT_EQ(sox.Error, "") << c.Rate;
        const std::vector<int16_t> pps = ReadSoxPpsChannel(sox.Path);
        ASSERT_NEAR(static_cast<double>(pps.size()), 30.0 * rate, 2.0 * rate * 1e-3) << c.Rate;
        const std::vector<long double>& truth = c.Rate == 8000 ? sox.StartFrames : sox.CardFrames;
        const SoxTimed t = TimeSoxPps(pps, rate, truth, false);
        std::printf("%6d Hz: %zu of %zu timed, RMS %.5f us, worst %.5f us, fit %.6f ppm\n", c.Rate,
                    t.Edges.size(), truth.size(), t.Rms, t.Worst,
                    t.Edges.empty() ? 0.0 : static_cast<double>(t.Edges.back().FitPpm));
        ASSERT_GE(t.Edges.size(), truth.size() - 2) << c.Rate;
        EXPECT_EQ(t.Timing.PulsesRejected, 0) << c.Rate;
        EXPECT_EQ(t.Timing.Series, 1) << c.Rate;
        EXPECT_EQ(t.Timing.Method, PpsMethod::ShapeFit) << c.Rate;
        EXPECT_LT(t.Rms, c.MaxRmsUs) << c.Rate;
        EXPECT_LT(t.Worst, 4 * c.MaxRmsUs) << c.Rate;
        // (at 8000 the train's edges lie on its 192 kHz samples, which move its frequency)
        if (c.Rate != 8000) {
            EXPECT_NEAR(static_cast<double>(t.Edges.back().FitPpm), 43.2, 0.0005) << c.Rate;
        }
    }
}

// Five minutes of cards 43.2 ppm fast and 12.5 ppm slow (sox's speed): the fine card frequency
// over the last minute within 0.0005 ppm of the truth, the edges as fine as over half a minute.
TEST(PpsCardRate, FiveMinutesGiveTheCardsFrequencyToHalfAThousandthOfAPpm) {
    TestFolder folder;
    for (const auto& [rate, ppm] : {std::pair{48000, 43.2}, std::pair{192000, -12.5}}) {
        const SoxPps sox = MakeSoxPps(CardAt(rate, ppm, 300), folder.Path("long.wav"));
        ASSERT_EQ(sox.Error, "") << rate;
        const SoxTimed t = TimeSoxPps(ReadSoxPpsChannel(sox.Path), rate, sox.CardFrames, false);
        ASSERT_GE(t.Edges.size(), sox.CardFrames.size() - 2) << rate;
        const PpsEdge& last = t.Edges.back();
        // sox's resampler keeps the speed's ratio to about 1e-10, which over five minutes moves
        // the edges by nanoseconds: about their straight line the errors are the timing's.
        double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
        for (size_t k = 0; k < t.Error.size(); ++k) {
            const double x = static_cast<double>(k), y = t.Error[k];
            n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y, syy += y * y;
        }
        const double slope = (sxy - sx * sy / n) / (sxx - sx * sx / n);
        const double line =
            std::sqrt(std::max(0.0, (syy - sy * sy / n - slope * (sxy - sx * sy / n)) / n));
        std::printf(
            "%6d Hz, %.1f ppm: fine %.7f ppm (standard error %.7f), RMS %.5f us, %.5f us "
            "about a line\n",
            rate, ppm, static_cast<double>(last.FitPpm), static_cast<double>(last.FitPpmSe), t.Rms,
            line);
        EXPECT_NEAR(static_cast<double>(last.FitPpm), ppm, 0.0005) << rate;
        EXPECT_LT(line, rate == 48000 ? 0.01 : 0.005) << rate;
        EXPECT_EQ(t.Timing.PulsesRejected, 0) << rate;
    }
}

// A receiver's slow RC rise (time constant 0.5 ms at 48 kHz, 0.2 ms at 192 kHz: 24 and 38 of the
// card's frames), then the card's own anti-alias filter, which rounds the rise's corner so that
// the pulse model misses it by more than the noise: every pulse after the first is timed in one
// series by the learnt shape, its edge that many more frames after the trigger, to nanoseconds
// about the truth less the RC's constant delay.
TEST(PpsCardRate, SlowRcRisesAreTimedAtTheCardsRate) {
    TestFolder folder;
    for (const auto& [rate, riseMs] : {std::pair{48000, 0.5}, std::pair{192000, 0.2}}) {
        SoxPpsOptions o = CardAt(rate, 43.2, 20);
        o.AcHz = 0;
        o.WidthMs = 20;
        o.RcHz = 1 / (2 * 3.14159265358979 * riseMs * 1e-3);
        const SoxPps sox = MakeSoxPps(o, folder.Path("rc.wav"));
        ASSERT_EQ(sox.Error, "") << rate;
        const SoxTimed t = TimeSoxPps(ReadSoxPpsChannel(sox.Path), rate, sox.CardFrames, false);
        std::printf("%6d Hz, RC %.1f ms: %zu of %zu timed, RMS %.5f us, worst %.5f us\n", rate,
                    riseMs, t.Edges.size(), sox.CardFrames.size(), t.Rms, t.Worst);
        ASSERT_GE(t.Edges.size(), sox.CardFrames.size() - 2) << rate;
        EXPECT_EQ(t.Timing.PulsesRejected, 0) << rate;
        EXPECT_EQ(t.Timing.Series, 1) << rate;
        EXPECT_EQ(t.Timing.Method, PpsMethod::ShapeFit) << rate;
        EXPECT_LT(t.Rms, 0.02) << rate;
        EXPECT_LT(t.Worst, 0.06) << rate;
        EXPECT_NEAR(static_cast<double>(t.Edges.back().FitPpm), 43.2, 0.002) << rate;
    }
}

// 50 ns of receiver jitter on cards at 48 and 192 kHz: the Allan deviation at 1 s of the edges
// within 20 % of the jitter's own.
TEST(PpsCardRate, TheEdgesAllanDeviationIsTheJittersOwn) {
    TestFolder folder;
    std::mt19937_64 random(11);
    std::normal_distribution<double> gauss(0, 50e-9);
    for (const int rate : {48000, 192000}) {
        std::vector<double> jitter(120);
        for (double& j : jitter) j = gauss(random);
        const SoxPps sox =
            MakeSoxJitteredPps(CardAt(rate, 0, 0), jitter, folder.Path("jitter.wav"));
        ASSERT_EQ(sox.Error, "") << rate;
        const SoxTimed t = TimeSoxPps(ReadSoxPpsChannel(sox.Path), rate, sox.CardFrames, false);
        ASSERT_GE(t.Edges.size(), jitter.size() - 2) << rate;
        EXPECT_EQ(t.Timing.PulsesRejected, 0) << rate;
        std::vector<double> x, truth;
        for (size_t k = 0; k < t.Edges.size(); ++k) {
            x.push_back(static_cast<double>(t.Edges[k].Frame) / rate);
            truth.push_back(static_cast<double>(t.Truth[k]) / rate);
        }
        const double allan = OverlappingAllanDeviation(x, 1.0).front().Deviation;
        const double own = OverlappingAllanDeviation(truth, 1.0).front().Deviation;
        std::printf(
            "%6d Hz: Allan deviation at 1 s %.4g, of the jitter itself %.4g, RMS of the "
            "errors %.5f us\n",
            rate, allan, own, t.Rms);
        EXPECT_NEAR(allan, own, 0.2 * own) << rate;
    }
}

}  // namespace qv
