// Sample front end and sample-clock loop.
#include "dsp/front_end.h"

#include <algorithm>

namespace qv {

namespace {

// Constants the loop holds in single precision enter with their single-precision values.
const long double kEdgeThreshold = static_cast<long double>(0.1f);      // [full scale]
const long double kIntegralGain = static_cast<long double>(0.000004f);  // per output sample
const long double kProportionalGain = static_cast<long double>(0.00004f);

}  // namespace

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

}  // namespace qv
