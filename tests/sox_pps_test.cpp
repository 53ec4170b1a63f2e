// The sox-made PPS recordings of tests/sox_pps.h: the truth the helper states is where sox puts
// the pulses, at 192 kHz and after its filters.
#include "tests/sox_pps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/test_files.h"

namespace qv {

namespace {

// The right channel's rises through `level` from below half of it 4 frames before (not the
// dithered wobble of a slow decay through it), interpolated between frames.
std::vector<double> RisingCrossings(const std::vector<Frame>& frames, double level) {
    std::vector<double> crossings;
    for (size_t m = 4; m < frames.size(); ++m) {
        const double before = frames[m - 1].Pps, after = frames[m].Pps;
        if (before < level && after >= level && frames[m - 4].Pps < level / 2) {
            crossings.push_back(static_cast<double>(m - 1) + (level - before) / (after - before));
        }
    }
    return crossings;
}

TEST(SoxPps, TheTruthIsWhereSoxPutsThePulses) {
    TestFolder folder;
    SoxPpsOptions o;
    o.Seconds = 3, o.Ppm = 43.2, o.FirstPulseSeconds = 0.3172, o.WidthMs = 100, o.Dither = false;
    const SoxPps sox = MakeSoxPps(o, folder.Path("pps.wav"));
    ASSERT_EQ(sox.Error, "");
    ASSERT_EQ(sox.FirstSamples.size(), 3u);

    // The pulse train itself, at 192 kHz as 8-bit samples (0 or 127): its edges are the truth.
    std::vector<std::string> train = {"sox", "-D", "-r", "192000", "-n",
                                      "-t",  "s8", "-c", "1",      folder.Path("train.raw")};
    for (const std::string& w : SoxPpsSynth(o)) train.push_back(w);
    ASSERT_EQ(RunProgram(train, {}, folder.Path("out"), folder.Path("err"), std::chrono::minutes(1))
                  .Status,
              0);
    const std::string bytes = FileText(folder.Path("train.raw"));
    ASSERT_EQ(bytes.size(), 3u * 192000);
    std::vector<long long> rises, falls;
    for (size_t i = 1; i < bytes.size(); ++i) {
        if (bytes[i - 1] == 0 && bytes[i] != 0) rises.push_back(static_cast<long long>(i));
        if (bytes[i - 1] != 0 && bytes[i] == 0) falls.push_back(static_cast<long long>(i));
    }
    EXPECT_EQ(rises, sox.FirstSamples);
    EXPECT_EQ(falls, sox.EndSamples);
    EXPECT_NEAR(static_cast<double>(sox.FirstSamples[1] - sox.FirstSamples[0]), 192008.29, 1);

    // Through a linear-phase 48 kHz card and resampler: 8000 frames a second, the left channel
    // silent, the plateau at the level, and each step at half height within 0.05 frame of its
    // start (straight-line interpolation of the band-limited step is off by about 0.01).
    const std::vector<Frame> frames = ReadWavFile(sox.Path);
    ASSERT_EQ(frames.size(), 24000u);
    for (const Frame& f : frames) ASSERT_EQ(f.Rf, 0);
    const double level = 0.6 * 32767;
    EXPECT_NEAR(frames[static_cast<size_t>(sox.StartFrames[0]) + 400].Pps, level, 2);
    const std::vector<double> crossings = RisingCrossings(frames, level / 2);
    ASSERT_EQ(crossings.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(crossings[k], static_cast<double>(sox.StartFrames[k]), 0.05) << k;
    }

    // Inverted, through a minimum-phase card at 8 kHz, dithered, noise on the left: the pulse is
    // at -Level 25 ms after its start (its filter rings for 15) and nothing 4 frames before (sox
    // moves its edge early).
    o.Inverted = true, o.CardRate = 8000, o.Filter = SoxCardFilter::Minimum;
    o.Dither = true, o.LeftNoise = 0.01;
    const SoxPps other = MakeSoxPps(o, folder.Path("other.wav"));
    ASSERT_EQ(other.Error, "");
    const std::vector<Frame> inverted = ReadWavFile(other.Path);
    const size_t start = static_cast<size_t>(other.StartFrames[1]);
    EXPECT_NEAR(inverted[start - 4].Pps, 0, 2);
    EXPECT_NEAR(inverted[start + 200].Pps, -level, 0.002 * level);
    EXPECT_GT(std::count_if(inverted.begin(), inverted.end(), [](Frame f) { return f.Rf != 0; }),
              20000);
}

// The same rises in a card's own samples, a channel alone.
std::vector<double> RisingCrossings(const std::vector<int16_t>& pps, double level) {
    std::vector<Frame> frames;
    for (int16_t v : pps) frames.push_back({0, v});
    return RisingCrossings(frames, level);
}

// A card at its own rate: 96 kHz 500 ppm fast by sox's speed, and one whose seconds sox drew
// one by one with their edges moved by microseconds. The file is at the card's rate, as long as
// the speed makes it, and each step at half height lies within 0.05 frame of its truth (0.08
// frame from the first's, where the edges moved by 2 and 3 frames).
TEST(SoxPps, ACardAtItsOwnRateHasItsEdgesWhereTheTruthSays) {
    TestFolder folder;
    SoxPpsOptions o;
    o.Seconds = 3, o.Ppm = 500, o.FirstPulseSeconds = 0.3172, o.Dither = false;
    o.CardRate = 96000, o.Resampler = SoxResampler::None, o.SynthRate = 768000;
    const SoxPps sox = MakeSoxPps(o, folder.Path("card.wav"));
    ASSERT_EQ(sox.Error, "");
    const std::vector<int16_t> pps = ReadSoxPpsChannel(sox.Path);
    EXPECT_NEAR(static_cast<double>(pps.size()), 3 * 96000 * 1.0005, 2);
    const double level = 0.6 * 32767;
    std::vector<double> crossings = RisingCrossings(pps, level / 2);
    ASSERT_EQ(crossings.size(), 3u);
    ASSERT_EQ(sox.CardFrames.size(), 3u);
    EXPECT_NEAR(static_cast<double>(sox.CardFrames[1] - sox.CardFrames[0]), 96048, 1e-6);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(crossings[k], static_cast<double>(sox.CardFrames[k]), 0.05) << k;
    }

    o.SynthRate = 192000, o.Ppm = 0;
    const std::vector<double> jitter = {0, 20e-6, -30e-6};
    const SoxPps jittered = MakeSoxJitteredPps(o, jitter, folder.Path("jitter.wav"));
    ASSERT_EQ(jittered.Error, "");
    const std::vector<int16_t> moved = ReadSoxPpsChannel(jittered.Path);
    ASSERT_EQ(moved.size(), 3u * 96000);
    crossings = RisingCrossings(moved, level / 2);
    ASSERT_EQ(crossings.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        const double truth = static_cast<double>(jittered.CardFrames[k]);
        EXPECT_NEAR(truth,
                    96000.0 * static_cast<double>(k) + (std::ceil(0.3172 * 192000) - 0.5) / 2 +
                        0.096 * jitter[k] * 1e6,
                    1e-6);
        EXPECT_NEAR(crossings[k] - crossings[0],
                    truth - static_cast<double>(jittered.CardFrames[0]), 0.08);
    }
}

}  // namespace

}  // namespace qv
