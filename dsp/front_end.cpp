// Sample front end and sample-clock loop.
#include "dsp/front_end.h"

#include <algorithm>
#include <cassert>

#include "common/numbers.h"
#include "dsp/measurement.h"

namespace qv {

namespace {

constexpr long double kFullScale = 32767;  // samples are divided by this, not 32768
// Constants the loop holds in single precision enter with their single-precision values.
const long double kEdgeThreshold = static_cast<long double>(0.1f);      // [full scale]
const long double kIntegralGain = static_cast<long double>(0.000004f);  // per output sample
const long double kProportionalGain = static_cast<long double>(0.00004f);
const long double kAudioLevelDivisor = static_cast<long double>(327.68f);  // per cent of 32768
constexpr long double kMicrosecondsPerSample = 125;
constexpr int kScopeFirstIndex = 3994;  // PPS scope window, inclusive
constexpr int kScopeLastIndex = 4010;
constexpr int kSecondEndIndex = kSamplesPerSecond - 1;

// Once a second: show the scope, correct the sample clock, rewrite the three read-outs.
void EndOfSecond(Measurement& m) {
    FrontEnd& f = m.Front;
    Display& d = m.Screen;
    if (d.Drawing) {
        BlockCopy(d.ScopeWorkSurface, 0, 0, kScopeSurfaceSize, kScopeSurfaceSize, d.ScopePanel, 0,
                  0);
        BlockCopy(d.ScopeBackSurface, 0, 0, kScopeSurfaceSize, kScopeSurfaceSize,
                  d.ScopeWorkSurface, 0, 0);
        m.Host->PanelChanged(PanelId::Scope);
    }

    f.TimingError = 0;
    if (f.PeakRise > kEdgeThreshold) {
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

    const int sampleRate = m.Params.SampleRate;
    const long double freqError = 1000000 * (f.BaseStep * sampleRate / f.DeviceRate - 1);
    m.Host->SetReadout(Readout::FreqError, "Freq error = " + FormatMask(freqError, 2) + "ppm");
    m.Host->SetReadout(Readout::TimingError,
                       "Timing error = " + FormatMask(kMicrosecondsPerSample * f.TimingError, 2) +
                           "uS");
    f.PeakRise = 0;
    m.Host->SetReadout(Readout::AudioLevel,
                       "Audio level = " + FormatMask(f.AudioPeak / kAudioLevelDivisor, 1) + "%");
    f.AudioPeak = 0;
}

}  // namespace

void ProcessFrame(Measurement& m, Frame frame) {
    FrontEnd& f = m.Front;
    // Start or Reset All sets the step; the clock loop keeps it within its bounds after that.
    assert(f.ResampleStep >= 1 - kResampleStepLimit && f.ResampleStep <= 1 + kResampleStepLimit);
    const int ppsMagnitude = frame.Pps < 0 ? -static_cast<int>(frame.Pps) : frame.Pps;
    if (ppsMagnitude > f.AudioPeak) f.AudioPeak = ppsMagnitude;
    f.CurRf = frame.Rf / kFullScale;
    f.CurPps = frame.Pps / kFullScale;

    while (f.ResamplePos < 1.0L) {
        const long double p = f.ResamplePos;
        f.PpsOut = f.PrevPps * (1 - p) + f.CurPps * p;
        long double rf = f.PrevRf * (1 - p) + f.CurRf * p;
        if (m.Params.InvertFlag == 1) {
            f.PpsOut = -f.PpsOut;
            rf = -rf;
        }

        PhaseLockSample(m, (f.SecondIndex + kPpsEdgeIndex) % kSamplesPerSecond, rf);

        // Rise + PrevRise spans the last two output samples and is centred on the previous
        // one, hence (SecondIndex + 7999) % 8000. Strictly greater: the earlier peak wins ties.
        f.Rise = f.PpsOut - f.PrevPpsOut;
        if (f.Rise + f.PrevRise > f.PeakRise) {
            f.PeakRise = f.Rise + f.PrevRise;
            f.PeakCurve = f.Rise - f.PrevRise;
            f.PeakIndex = (f.SecondIndex + kSecondEndIndex) % kSamplesPerSecond;
        }

        if (f.SecondIndex >= kScopeFirstIndex && f.SecondIndex <= kScopeLastIndex &&
            m.Screen.Drawing) {
            const int x = 8 * (f.SecondIndex - kScopeFirstIndex);
            const int y = RoundToPixel(130 - 32 * f.PpsOut);
            TracePoint(m.Screen.ScopeWorkSurface, f.ScopeLastX, f.ScopeLastY, x, y,
                       f.SecondIndex == kScopeFirstIndex);
        }

        if (f.SecondIndex == kSecondEndIndex) EndOfSecond(m);

        f.SecondIndex = (f.SecondIndex + 1) % kSamplesPerSecond;
        f.PrevRise = f.Rise;
        f.PrevPpsOut = f.PpsOut;
        f.ResamplePos = f.ResamplePos + f.ResampleStep;
    }
    f.PrevPps = f.CurPps;
    f.PrevRf = f.CurRf;
    f.ResamplePos = f.ResamplePos - 1.0L;
    ++f.FramesProcessed;
}

void ProcessFrames(Measurement& m, const Frame* frames, int count) {
    for (int i = 0; i < count; ++i) ProcessFrame(m, frames[i]);
}

}  // namespace qv
