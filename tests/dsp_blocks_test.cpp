// The chain's blocks on their own, as pure maths: no display, no font, no host. Fed a simulated
// card, the front end ends a second every 8000 output samples and measures the card, the click
// lock reads the click once a second, and the integration closes a period every 8000 * T.
#include <gtest/gtest.h>

#include <vector>

#include "common/numbers.h"
#include "dsp/click_lock.h"
#include "dsp/front_end.h"
#include "dsp/integration.h"
#include "tests/simulated_frames.h"

namespace qv {

namespace {

TEST(DspBlocks, SimulatedCardThroughTheBlocksAloneGivesTheirResultsOnTheirCadence) {
    SimulatorSettings settings;
    settings.Seconds = 40;
    settings.Ppm = -120;
    const std::vector<Frame> frames = Simulate(settings);

    constexpr int kSeconds = 3;  // integration time
    FrontEnd front;
    front.RealignPending = 1;  // as Start leaves it
    ClickLock lock;
    lock.LockStep = static_cast<long double>(settings.LockFreqHz) / kSamplesPerSecond;
    Integration integration;

    long long samples = 0, clickReads = 0, wrongClickPosition = 0;
    std::vector<long long> secondEnds, periodCloses;
    std::vector<long double> ppm;
    std::vector<int> audioPeaks;
    for (const Frame& frame : frames) {
        LoadFrame(front, frame);
        ResampledSample s;
        while (NextSample(front, false, s)) {
            EXPECT_EQ(s.N, (s.SecondIndex + kPpsEdgeIndex) % kSamplesPerSecond);
            LockedSample locked;
            LockSample(lock, s.N, s.Rf, true, locked);
            if (locked.ClickRead) {
                ++clickReads;
                if (s.N != kStartClickPosition) ++wrongClickPosition;
            }
            ClosedPeriod period;
            if (IntegrateVector(integration, locked.RotatedI, locked.RotatedQ, kSeconds, period)) {
                periodCloses.push_back(samples);
                EXPECT_EQ(integration.PeriodI, 0);  // the sums start again
                EXPECT_GE(period.Phase, -kPi);
                EXPECT_LE(period.Phase, kPi);
            }
            SecondEnd end;
            if (EndSample(front, kSamplesPerSecond, end)) {
                secondEnds.push_back(samples);
                ppm.push_back(end.FreqErrorPpm);
                EXPECT_EQ(front.AudioPeak, 0);  // the peak starts again
                audioPeaks.push_back(end.AudioPeak);
            }
            ++samples;
        }
    }

    // A card 120 ppm slow gives about 120 ppm fewer frames than output samples.
    EXPECT_NEAR(static_cast<double>(samples) / static_cast<double>(frames.size()), 1 + 120e-6,
                1e-5);
    ASSERT_GE(secondEnds.size(), 39u);
    for (size_t k = 2; k < secondEnds.size(); ++k) {
        EXPECT_EQ(secondEnds[k] - secondEnds[k - 1], kSamplesPerSecond) << "second " << k;
    }
    // After settling, the loop holds the card's error (sign: + = card runs fast).
    for (size_t k = 30; k < ppm.size(); ++k) EXPECT_NEAR(static_cast<double>(ppm[k]), -120, 3);
    // The second after the first re-aligns the count is short and holds no pulse.
    for (size_t k = 2; k < audioPeaks.size(); ++k) {
        EXPECT_NEAR(audioPeaks[k], 0.6 * 32767, 200) << "second " << k;  // the PPS peak
    }
    EXPECT_GE(clickReads, 39);
    EXPECT_EQ(wrongClickPosition, 0);
    // The first period closes after 8000 * T - 1 samples, every later one after 8000 * T.
    ASSERT_GE(periodCloses.size(), 13u);
    EXPECT_EQ(periodCloses[0], kSamplesPerSecond * kSeconds - 2);  // index of the closing sample
    for (size_t k = 1; k < periodCloses.size(); ++k) {
        EXPECT_EQ(periodCloses[k] - periodCloses[k - 1], kSamplesPerSecond * kSeconds);
    }
}

}  // namespace

}  // namespace qv
