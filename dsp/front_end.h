// Sample front end: re-samples the captured frames to 8000 output samples per GPS second with a
// sample-clock loop that holds the PPS edge at index 4000. Only maths: what it finds is
// returned to the caller, which shows it.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>

#include "common/frame.h"

namespace qv {

constexpr int kLastSampleOfSecond = kSamplesPerSecond - 1;  // [output samples]
constexpr int kPpsEdgeIndex = 4000;  // [output samples] where the PPS edge is held

// The clock loop never leaves these bounds, so a PPS channel full of noise cannot stall the
// output-sample loop (a step <= 0 would never advance) or run the step away.
constexpr long double kBaseStepLimit = 0.01L;      // BaseStep within 1 +- 1 % (10000 ppm)
constexpr long double kResampleStepLimit = 0.05L;  // ResampleStep within 1 +- 5 %

struct FrontEnd {
    // parameters
    // The rate and the steps start with the values Start gives them, so frames that arrive
    // before Start are re-sampled 1:1 instead of never advancing the output-sample loop.
    int DeviceRate = kFramesPerSecond;  // [frames/s] asked of the device

    // state
    long double BaseStep = 1;      // [device frames per output sample] integral term of the loop
    long double ResampleStep = 1;  // [device frames per output sample] step in use
    long double ResamplePos = 0;   // [0 at previous frame .. 1 at current] next output sample
    int RealignPending = 0;        // 1: the next valid edge re-aligns SecondIndex
    int SecondIndex = 0;           // [output samples, 0..7999]
    int AudioPeak = 0;             // [0..32768] largest |PPS sample| since the last read-out
    long double TimingError = 0;   // [output samples] of the last second's PPS edge
    long double PrevRf = 0, CurRf = 0;       // [full scale] RF of the previous / current frame
    long double PrevPps = 0, CurPps = 0;     // [full scale] PPS of the previous / current frame
    long double PpsOut = 0, PrevPpsOut = 0;  // [full scale] re-sampled PPS, current / previous
    long double PrevRise = 0;                // [full scale] PpsOut - PrevPpsOut of the last sample
    long double PeakRise = 0;                // [full scale] largest two-sample rise this second
    long double PeakCurve = 0;               // [full scale] rise - PrevRise where PeakRise was set
    int PeakIndex = 0;  // [output samples] SecondIndex of the centre of PeakRise
};

// One output sample of the corrected stream, filled by NextSample.
struct ResampledSample {
    int SecondIndex;  // [output samples, 0..7999] PPS edge at 4000
    int N;            // [output samples, 0..7999] the same position, 0 on the PPS edge
    long double Rf;   // [full scale] RF value, negated when inverted; the PPS value is PpsOut
};

// What the last sample of a second brings: the clock loop's new state, filled by EndSample.
struct SecondEnd {
    long double FreqErrorPpm;        // [ppm] sound-card clock error, + = card runs fast
    long double TimingErrorSamples;  // [output samples] of this second's PPS edge
    int AudioPeak;                   // [0..32768] largest |PPS sample| of the second
    bool EdgeFound;                  // the second's steepest PPS rise passed the edge threshold
};

// A 16-bit sample in full scale: sample / 32767, to the bit, without a division. 1/32767 is
// 2^-15 + 2^-30 + 2^-45 + ... exactly; the head takes the first three terms, so its product with
// a 16-bit sample is exact, and the tail is the rest, 2^-45 / 32767, rounded. The one rounding
// of head product plus tail product equals the correctly rounded quotient for every 16-bit
// sample (checked for all of them by the tests).
inline long double FullScaleOf(int sample) {
    constexpr long double kInverseHead = 0x1.00020004p-15L;  // 2^-15 + 2^-30 + 2^-45
    constexpr long double kInverseTail = 0x1p-45L / 32767;
    const long double x = sample;
    return x * kInverseHead + x * kInverseTail;
}

// Takes the next captured frame: its PPS magnitude into the audio peak, both channels scaled.
inline void LoadFrame(FrontEnd& f, Frame frame) {
    // Start or Reset All sets the step; the clock loop keeps it within its bounds after that.
    assert(f.ResampleStep >= 1 - kResampleStepLimit && f.ResampleStep <= 1 + kResampleStepLimit);
    const int ppsMagnitude = frame.Pps < 0 ? -static_cast<int>(frame.Pps) : frame.Pps;
    if (ppsMagnitude > f.AudioPeak) f.AudioPeak = ppsMagnitude;
    f.CurRf = FullScaleOf(frame.Rf);  // divided by 32767, not 32768
    f.CurPps = FullScaleOf(frame.Pps);
}

// The next output sample that falls before the frame loaded last (true), or false when there
// is none left: the frame then becomes the previous one. After a true return, EndSample must
// follow before the next call.
inline bool NextSample(FrontEnd& f, bool inverted, ResampledSample& out) {
    if (f.ResamplePos < 1.0L) {
        const long double p = f.ResamplePos;
        f.PpsOut = f.PrevPps * (1 - p) + f.CurPps * p;
        long double rf = f.PrevRf * (1 - p) + f.CurRf * p;
        if (inverted) {
            f.PpsOut = -f.PpsOut;
            rf = -rf;
        }
        out.SecondIndex = f.SecondIndex;
        // (SecondIndex + 4000) modulo 8000, SecondIndex being within 0 .. 7999.
        out.N = f.SecondIndex < kPpsEdgeIndex ? f.SecondIndex + kPpsEdgeIndex
                                              : f.SecondIndex - kPpsEdgeIndex;
        out.Rf = rf;
        return true;
    }
    // Copied as bytes: the processor stores an extended value much more slowly than it moves
    // the 16 bytes that hold it.
    std::memcpy(&f.PrevPps, &f.CurPps, sizeof f.PrevPps);
    std::memcpy(&f.PrevRf, &f.CurRf, sizeof f.PrevRf);
    f.ResamplePos = f.ResamplePos - 1.0L;
    return false;
}

// The PPS edge detector on the sample NextSample returned; at the last sample of a second, the
// clock correction, which is then in `end` (true is returned; `end` is untouched otherwise).
// Then on to the next output sample. `sampleRate` [samples/s] is the rate of the corrected
// stream the frequency error is stated against.
// Once a second, from EndSample: the sample clock corrected from the second's steepest PPS
// rise.
[[gnu::noinline]] void CorrectClock(FrontEnd& f, int sampleRate, SecondEnd& end);

inline bool EndSample(FrontEnd& f, int sampleRate, SecondEnd& end) {
    // rise + PrevRise spans the last two output samples and is centred on the previous one,
    // hence SecondIndex - 1, wrapped. Strictly greater: the earlier peak wins ties.
    const long double rise = f.PpsOut - f.PrevPpsOut;
    if (rise + f.PrevRise > f.PeakRise) {
        f.PeakRise = rise + f.PrevRise;
        f.PeakCurve = rise - f.PrevRise;
        f.PeakIndex = f.SecondIndex == 0 ? kLastSampleOfSecond : f.SecondIndex - 1;
    }

    const bool ended = f.SecondIndex == kLastSampleOfSecond;
    if (ended) CorrectClock(f, sampleRate, end);

    // Modulo 8000 by one subtraction: a re-alignment leaves SecondIndex below 12000.
    f.SecondIndex = f.SecondIndex + 1;
    if (f.SecondIndex >= kSamplesPerSecond) f.SecondIndex -= kSamplesPerSecond;
    f.PrevRise = rise;
    f.PrevPpsOut = f.PpsOut;
    f.ResamplePos = f.ResamplePos + f.ResampleStep;
    return ended;
}

}  // namespace qv
