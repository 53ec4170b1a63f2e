// Sample front end: re-sampling, the PPS edge detector, re-alignment, the clock read-outs.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tests/chain_fixture.h"

namespace qv {

namespace {

std::vector<Frame> PpsFrames(const std::vector<int>& pps) {
    std::vector<Frame> frames;
    for (int v : pps) frames.push_back(Frame{0, static_cast<int16_t>(v)});
    return frames;
}

// Output samples produced by each frame, read from SecondIndex.
std::vector<int> OutputsPerFrame(StartedChain& c, int frames) {
    std::vector<int> counts;
    for (int k = 0; k < frames; ++k) {
        const int before = c.M.Front.SecondIndex;
        ProcessFrame(c.M, Frame{0, 0});
        counts.push_back((c.M.Front.SecondIndex - before + 8000) % 8000);
    }
    return counts;
}

TEST(Resampling, StepOneGivesOneSamplePerFrameDelayedByOneFrame) {
    StartedChain c;
    const std::vector<int> pps = {1000, -2000, 3000, 4000};
    long double previous = 0;  // the sample before the first frame
    for (int v : pps) {
        const int before = c.M.Front.SecondIndex;
        ProcessFrame(c.M, Frame{0, static_cast<int16_t>(v)});
        EXPECT_EQ(c.M.Front.SecondIndex, before + 1);
        EXPECT_EQ(c.M.Front.PpsOut, previous);
        previous = v / 32767.0L;
    }
}

TEST(Resampling, FramesBeforeStartAdvanceOneToOne) {
    Measurement m;
    RecordingHost host;
    host.measurement = &m;
    InitialiseMeasurement(m, host);  // no Start: the steps keep their start-up values
    std::vector<Frame> frames(8000, Frame{0, 0});
    ProcessFrames(m, frames.data(), static_cast<int>(frames.size()));
    EXPECT_EQ(m.Front.SecondIndex, 0);  // 8000 output samples: one whole second
    EXPECT_EQ(host.Last(Readout::FreqError), "Freq error = 0.00ppm");
}

TEST(Resampling, StepsBelowAndAboveOneGiveTwoOrNoSamplesInSomeFrames) {
    for (long double step : {0.999L, 1.001L}) {
        StartedChain c;
        c.M.Front.BaseStep = c.M.Front.ResampleStep = step;
        std::vector<int> counts = OutputsPerFrame(c, 3000);
        int total = 0, twos = 0, zeros = 0;
        for (int n : counts) total += n, twos += n == 2, zeros += n == 0;
        // 3000 frames at 1/step output samples each: about three more or three fewer.
        if (step < 1) {
            EXPECT_EQ(zeros, 0);
            EXPECT_GE(twos, 2);
            EXPECT_LE(twos, 4);
        } else {
            EXPECT_EQ(twos, 0);
            EXPECT_GE(zeros, 2);
            EXPECT_LE(zeros, 4);
        }
        EXPECT_EQ(total, 3000 + twos - zeros);
    }
}

// Full scale without a division is the quotient by 32767 to the bit, for every 16-bit sample.
TEST(FullScale, EverySampleAsDividedBy32767) {
    volatile long double divisor = 32767;  // divided at run time, as the x87 unit rounds it
    int wrong = 0;
    for (int x = -32768; x <= 32767; ++x) {
        if (FullScaleOf(x) != x / divisor && ++wrong <= 5) ADD_FAILURE() << "sample " << x;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(FullScaleOf(32767), 1.0L);
    EXPECT_EQ(FullScaleOf(0), 0.0L);
    EXPECT_FALSE(std::signbit(FullScaleOf(0)));
}

TEST(AudioLevel, FullScaleEitherWayReadsOneHundredPercent) {
    for (int16_t peak : {static_cast<int16_t>(-32768), static_cast<int16_t>(32767)}) {
        StartedChain c;
        c.M.Front.SecondIndex = 7990;
        c.Feed({Frame{0, peak}});
        c.Feed(std::vector<Frame>(20, Frame{0, 0}));
        EXPECT_EQ(c.Host.Texts(Readout::AudioLevel).at(0), "Audio level = 100.0%");
        EXPECT_EQ(c.M.Front.AudioPeak, 0);  // restarted for the next second
    }
}

TEST(EdgeDetector, EqualRisesKeepTheEarlierPeak) {
    StartedChain c;
    c.M.Front.SecondIndex = 100;
    // Output samples (one frame later) counted 100..105: 0 0 10000 10000 20000 20000; each
    // two-sample rise is 10000, the first centred on the sample counted at 101.
    c.Feed(PpsFrames({0, 10000, 10000, 20000, 20000, 20000}));
    EXPECT_EQ(c.M.Front.PeakIndex, 101);
    EXPECT_NEAR(static_cast<double>(c.M.Front.PeakRise), 10000 / 32767.0, 1e-12);
}

TEST(EdgeDetector, ARiseCentredOnTheLastSampleIsFoundInTheNextSecond) {
    StartedChain c;
    c.M.Front.SecondIndex = 7996;
    // Output samples counted 7998, 7999, 0 are 0, 3000, 6000: the rise centred on 7999 stays
    // below the edge threshold until the sample counted at 0 completes it.
    c.Feed(PpsFrames({0, 0, 3000, 6000, 6000}));
    EXPECT_EQ(c.M.Front.PeakIndex, 7999);
}

TEST(ClockLoop, FirstValidEdgeReAlignsWithoutCorrection) {
    StartedChain c;
    FrontEnd& f = c.M.Front;
    f.SecondIndex = 7999;
    f.PeakRise = 0.5L;
    f.PeakIndex = 4100;
    c.Feed({Frame{0, 0}});
    EXPECT_EQ(f.SecondIndex, 7900);  // the next edge, 8000 samples on, is counted at 4000
    EXPECT_EQ(f.RealignPending, 0);
    EXPECT_EQ(f.BaseStep, 1);
    EXPECT_EQ(c.Host.Last(Readout::TimingError), "Timing error = 0.00uS");
    EXPECT_EQ(c.Host.Last(Readout::FreqError), "Freq error = 0.00ppm");
}

TEST(ClockLoop, TrackingCorrectsByTheSubSampleTimingError) {
    StartedChain c;
    FrontEnd& f = c.M.Front;
    f.RealignPending = 0;
    f.SecondIndex = 7999;
    f.PeakRise = 0.5L;
    f.PeakCurve = 0.25L;
    f.PeakIndex = 4002;
    c.Feed({Frame{0, 0}});
    const long double timingError = 2.5L;
    EXPECT_EQ(f.TimingError, timingError);
    EXPECT_EQ(f.BaseStep, 1 + static_cast<long double>(0.000004f) * timingError);
    EXPECT_EQ(f.ResampleStep, f.BaseStep + static_cast<long double>(0.00004f) * timingError);
    EXPECT_EQ(c.Host.Last(Readout::TimingError), "Timing error = 312.50uS");
    EXPECT_EQ(c.Host.Last(Readout::FreqError), "Freq error = 10.00ppm");
}

TEST(ClockLoop, SilentPpsChangesNothingButTheReadouts) {
    StartedChain c;
    c.M.Front.RealignPending = 0;
    c.M.Front.BaseStep = 1.00002L;
    c.Feed(std::vector<Frame>(16001, Frame{0, 0}));
    EXPECT_EQ(c.Host.Texts(Readout::TimingError),
              std::vector<std::string>(2, "Timing error = 0.00uS"));
    EXPECT_EQ(c.M.Front.BaseStep, 1.00002L);
    EXPECT_EQ(c.M.Front.ResampleStep, 1.00002L);
}

TEST(ClockLoop, NoisyPpsStaysBoundedAndProcessingEnds) {
    StartedChain c;
    std::mt19937 random(3);
    std::uniform_int_distribution<int> noise(-32768, 32767);
    std::vector<Frame> frames(8000 * 60);
    for (Frame& f : frames) f = Frame{0, static_cast<int16_t>(noise(random))};
    c.Feed(frames);
    EXPECT_GE(c.M.Front.BaseStep, 1 - kBaseStepLimit);
    EXPECT_LE(c.M.Front.BaseStep, 1 + kBaseStepLimit);
    EXPECT_GE(c.M.Front.ResampleStep, 1 - kResampleStepLimit);
    EXPECT_LE(c.M.Front.ResampleStep, 1 + kResampleStepLimit);
}

TEST(ClockLoop, InvertedInputFollowsTheSteepestFall) {
    StartedChain c;
    c.M.Params.InvertFlag = 1;
    c.M.Front.SecondIndex = 100;
    c.Feed(PpsFrames({0, 20000, 20000, 0, 0, 0}));  // a rise, then a fall centred on 103
    EXPECT_EQ(c.M.Front.PeakIndex, 103);
}

}  // namespace

}  // namespace qv
