// Sample front end: re-samples the captured frames to 8000 output samples per GPS second with a
// sample-clock loop that holds the PPS edge at index 4000, and shows the clock read-outs.
#pragma once

#include <cstdint>

#include "common/frame.h"

namespace qv {

struct Measurement;

constexpr int kSamplesPerSecond = 8000;  // [output samples] in one corrected second
constexpr int kPpsEdgeIndex = 4000;      // [output samples] where the PPS edge is held

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
    long double PrevRf = 0, CurRf = 0;    // [full scale] RF of the previous / current frame
    long double PrevPps = 0, CurPps = 0;  // [full scale] PPS of the previous / current frame
    long double PpsOut = 0, PrevPpsOut = 0;  // [full scale] re-sampled PPS, current / previous
    long double Rise = 0, PrevRise = 0;      // [full scale] PpsOut - PrevPpsOut, current / previous
    long double PeakRise = 0;   // [full scale] largest two-sample rise this second
    long double PeakCurve = 0;  // [full scale] Rise - PrevRise where PeakRise was set
    int PeakIndex = 0;          // [output samples] SecondIndex of the centre of PeakRise
    int ScopeLastX = 0, ScopeLastY = 0;  // [pixels] previous point of the PPS scope trace
    int64_t FramesProcessed = 0;  // [frames] handed to ProcessFrame so far
};

// One captured frame through the front end (and, per output sample, the rest of the chain).
void ProcessFrame(Measurement& m, Frame frame);
// A capture block's frames, in order.
void ProcessFrames(Measurement& m, const Frame* frames, int count);

}  // namespace qv
