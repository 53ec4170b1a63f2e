// Sample front end and sample-clock loop.
#include "dsp/front_end.h"

#include <algorithm>
#include <cassert>

namespace qv {

namespace {

// Constants the loop holds in single precision enter with their single-precision values.
const long double kEdgeThreshold = static_cast<long double>(0.1f);      // [full scale]
const long double kIntegralGain = static_cast<long double>(0.000004f);  // per output sample
const long double kProportionalGain = static_cast<long double>(0.00004f);

// Once a second: correct the sample clock from the second's steepest PPS rise.
void CorrectClock(FrontEnd& f, int sampleRate, SecondEnd& end) {
    f.TimingError = 0;
    end.EdgeFound = f.PeakRise > kEdgeThreshold;
    if (end.EdgeFound) {
        if (f.RealignPending != 0) {
            f.RealignPending = 0;
            f.SecondIndex = kPpsEdgeIndex + f.SecondIndex - f.PeakIndex;
        } else {
            f.TimingError = f.PeakCurve / f.PeakRise + f.PeakIndex - kPpsEdgeIndex;
        }
    }
    f.BaseStep = std::clamp(f.BaseStep + kIntegralGain * f.TimingError, 1 - kBaseStepLimit,
                            1 + kBaseStepLimit);
    f.ResampleStep = std::clamp(f.BaseStep + kProportionalGain * f.TimingError,
                                1 - kResampleStepLimit, 1 + kResampleStepLimit);

    end.FreqErrorPpm = 1000000 * (f.BaseStep * sampleRate / f.DeviceRate - 1);
    end.TimingErrorSamples = f.TimingError;
    end.AudioPeak = f.AudioPeak;
    f.PeakRise = 0;
    f.AudioPeak = 0;
}

}  // namespace

void LoadFrame(FrontEnd& f, Frame frame) {
    // Start or Reset All sets the step; the clock loop keeps it within its bounds after that.
    assert(f.ResampleStep >= 1 - kResampleStepLimit && f.ResampleStep <= 1 + kResampleStepLimit);
    const int ppsMagnitude = frame.Pps < 0 ? -static_cast<int>(frame.Pps) : frame.Pps;
    if (ppsMagnitude > f.AudioPeak) f.AudioPeak = ppsMagnitude;
    f.CurRf = FullScaleOf(frame.Rf);  // divided by 32767, not 32768
    f.CurPps = FullScaleOf(frame.Pps);
}

bool EndSample(FrontEnd& f, int sampleRate, SecondEnd& end) {
    // Rise + PrevRise spans the last two output samples and is centred on the previous one,
    // hence SecondIndex - 1, wrapped. Strictly greater: the earlier peak wins ties.
    f.Rise = f.PpsOut - f.PrevPpsOut;
    if (f.Rise + f.PrevRise > f.PeakRise) {
        f.PeakRise = f.Rise + f.PrevRise;
        f.PeakCurve = f.Rise - f.PrevRise;
        f.PeakIndex = f.SecondIndex == 0 ? kLastSampleOfSecond : f.SecondIndex - 1;
    }

    const bool ended = f.SecondIndex == kLastSampleOfSecond;
    if (ended) CorrectClock(f, sampleRate, end);

    // Modulo 8000 by one subtraction: a re-alignment leaves SecondIndex below 12000.
    f.SecondIndex = f.SecondIndex + 1;
    if (f.SecondIndex >= kSamplesPerSecond) f.SecondIndex -= kSamplesPerSecond;
    f.PrevRise = f.Rise;
    f.PrevPpsOut = f.PpsOut;
    f.ResamplePos = f.ResamplePos + f.ResampleStep;
    return ended;
}

}  // namespace qv
