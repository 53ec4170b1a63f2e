// Fine PPS timing: locates each PPS edge on the device frames (before the re-sampling) to a
// small fraction of a frame, and from the edges the card's frequency and each edge's residual.
// A path beside the classic clock loop: it reads the same right channel and changes nothing the
// loop does.
//
// Per frame only a store, a subtraction and one compare; everything else happens a few times a
// second, out of line.
//
// Finding the pulses. An edge is a rise of the channel over kPpsRiseFrames frames that reaches a
// threshold set by the pulses themselves and by the channel's noise: kPpsRiseShare of the last
// pulse's rise, at least kPpsNoiseFactor times the rises of the quiet channel before it, at
// least kPpsMinRise. A rise is what a pulse's edge has and an AC-coupled line's slow recovery
// after the falling edge, mains hum or the falling edge's ringing have not, so every pulse
// width from microseconds to most of a second is found at levels from a few hundredths of full
// scale. Within kPpsHoldOffFrames after an edge a second rise of kPpsSecondRiseShare of the
// pulse's own is a double pulse: both are rejected and counted; a rise far larger than the
// pending one's shows that one to have been a small step before the pulse, and takes its place.
//
// Timing them: one method and one shape per series.
// - The pulse model (ModelFit): the step response of a first-order low-pass into an AC-coupled
//   input, p(t) = B + A (1 - e^(-a x)) e^(-l x), x = t - T0 >= 0, all five fitted. Kept where it
//   fits the pulse to the channel's noise (a receiver's RC edge sampled straight by the card).
// - The learnt shape (ShapeFit, see pps_shape.h): every band-limited pulse (a card's anti-alias
//   filter, a system resampler) is timed by a least-squares fit of the shape of the series' own
//   first pulses, read between frames by band-limited interpolation; its result does not depend
//   on where the edge falls within a frame.
// A pulse that either misses by more than its noise allows is rejected as noisy; kPpsNewShape in
// a row start a new series. A new series restarts the running fit and the residuals, and is
// numbered, so that no fit and no Allan deviation mixes two series.
//
// The time line: the gap to the previous final edge, divided by the card's rate (the fit's
// when there is one, else its nominal rate +- 2 %), gives the GPS seconds between them. With the
// fit, an edge off its prediction by a whole number of frames is a sample slip of the card (dropped
// or repeated samples): counted, said, and carried across (the fit works on the frames less the
// slips); an edge off the seconds otherwise is rejected, and three in a row start a new series.
// Frames a live capture dropped are counted in the frame index (so the time line stays
// continuous); a pulse whose window holds a gap is dropped, not counted as rejected.
//
// The card's rate. Every frame count below that stands for a time (the hold-off, the seconds
// without an edge, the largest slip, the nominal second) is given at 8000 frames per second and
// follows the card's rate (SetPpsTimingRate). The windows do not: a card's anti-alias filter
// spreads an edge over about the same number of its own frames at every rate, so the rise, the
// learnt shape and its kernel keep their sizes in frames, and an edge is timed as finely in
// frames (the finer in time) at a higher rate. A receiver's RC rise, sampled straight, spans
// more frames the faster the card: the pulse model's window, the span and reach over which a
// pulse's rise is judged steep enough for an edge, and how far from the trigger the learnt
// shape's edge may lie widen with the rate (WindowScale: the rate over 8000, at most
// kPpsModelWindowScale, as far as the pulse's window reaches), so that the rises timed at 8000
// (time constants to 0.5 ms) are timed at 48 kHz and up to about 0.2 ms at 192 kHz. Through a
// card's anti-alias filter such a rise's corner is rounded, which the model misses by more than
// the noise: the learnt shape times it, the model only where noise hides its misfit.
#pragma once

#include <climits>
#include <cstdint>

#include "common/frame.h"
#include "dsp/pps_shape.h"

namespace qv {

constexpr int kPpsRiseFrames = 2;      // [frames] a rise is measured over
constexpr int kPpsMinRise = 64;        // [LSB] the smallest rise taken for an edge
constexpr double kPpsRiseShare = 0.4;  // of the last pulse's rise: the next threshold
constexpr double kPpsNoiseFactor = 8;  // an edge's rise against the quiet channel's
// A rise of this share of the pulse's own within the hold-off is a double pulse: well above the
// rebound of a minimum-phase card filter's ringing after the falling edge (0.4 of it).
constexpr double kPpsSecondRiseShare = 0.6;
constexpr int kPpsRiseSearch = 8;    // [frames] after the trigger where the pulse's rise is sought
constexpr double kPpsPrecursor = 2;  // times the pulse's rise: it was only a step before
constexpr double kPpsSteepShare = 0.2;  // of the pulse's height: the least rise of an edge
constexpr int kPpsRingFrames = 256;     // [frames] kept; a power of 2 >= kWindowFrames
// [frames at 8000 per second] after an edge: a rise in it is a double
constexpr int64_t kPpsHoldOffFrames = 2000;
// [frames at 8000 per second] without an edge: the threshold falls back
constexpr int64_t kPpsLostFrames = 24000;
constexpr double kPpsMaxFitRms = 0.01;          // [of the amplitude] worse model fits are rejected
constexpr double kPpsShapeMisfitNoise = 3;      // [noise RMS] a shape fit may miss by, plus
constexpr double kPpsShapeMisfitShare = 0.002;  // [of the amplitude]
constexpr int kPpsShapePulses = 32;        // pulses averaged into a series' shape, then it is kept
constexpr int kPpsNewShape = 3;            // badly fitted pulses in a row that start a new series
constexpr int kPpsModelWindowBefore = 8;   // [frames] of the model's window before the trigger
constexpr int kPpsModelWindowFrames = 32;  // [frames] in the model's window
// The most the model's window and the steepness are widened by at the faster rates: the model's
// window then still lies within the pulse's.
constexpr int kPpsModelWindowScale = 5;
static_assert(kPpsModelWindowBefore * kPpsModelWindowScale <= kWindowLead &&
              (kPpsModelWindowFrames - kPpsModelWindowBefore) * kPpsModelWindowScale <=
                  kWindowFrames - kWindowLead &&
              kFitTrail * kPpsModelWindowScale <= kWindowFrames - kWindowLead &&
              kPpsRiseFrames * kPpsModelWindowScale * 5 <= kWindowFrames - kWindowLead);
constexpr int kPpsMaxSlipFrames = 400;  // [frames at 8000 per second] largest slip taken (50 ms)
constexpr int kPpsFineFitSeconds = 60;  // [GPS s] of edges in the running frequency fit
constexpr int kPpsFineFitMinEdges = 5;  // edges the running fit needs to be stated

enum class PpsMethod { None, ModelFit, ShapeFit };

// What a located edge yields, final once its hold-off has passed.
struct PpsEdge {
    long double Frame = 0;  // [device frames from the run's first, dropped ones counted]
    int64_t Second = 0;     // [GPS s] since the series' first final edge
    int Series = 0;         // the series the edge belongs to (1, 2, ...)
    PpsMethod Method = PpsMethod::None;
    int64_t SlipFrames = 0;      // [frames] a sample slip found just before this edge (+ dropped)
    bool RateValid = false;      // the per-second rate below is set (a previous edge exists)
    long double RatePpm = 0;     // [ppm] card frequency from this and the previous edge
    bool FitValid = false;       // the running fit below is set
    long double FitPpm = 0;      // [ppm] card frequency from the fit over the last minute
    long double FitPpmSe = 0;    // [ppm] its standard error
    long double ResidualUs = 0;  // [us] this edge minus the fit
    double Amplitude = 0;        // [LSB] fitted
    double RiseFrames = 0;       // [frames] fitted rise time constant 1/a (model fit only)
};

struct PpsTiming {
    // parameters: the card's own rate and the frame counts that follow it (SetPpsTimingRate)
    int Rate = kFramesPerSecond;                // [device frames/s]
    int64_t HoldOffFrames = kPpsHoldOffFrames;  // [device frames]
    int64_t LostFrames = kPpsLostFrames;        // [device frames]
    int64_t MaxSlipFrames = kPpsMaxSlipFrames;  // [device frames]
    int WindowScale = 1;  // the model's window and the steepness's span widened by

    // state: the per-frame part
    int64_t FrameIndex = 0;         // [device frames] of the next frame fed
    int Watch = kPpsMinRise;        // [LSB] a rise at or above this goes the slow way
    int Ring[kPpsRingFrames] = {};  // [LSB] the last samples, by FrameIndex modulo the size

    // state: the slow part
    int Stage = 0;                 // what the slow path waits for (see pps_timing.cpp)
    int64_t TriggerFrame = 0;      // [frames] the rise that reached the threshold
    int64_t LastGap = 0;           // [frames] index of the frame a gap (or the run) started at
    int64_t LastPulseFrame = 0;    // [frames] the last pulse's trigger
    int Threshold = kPpsMinRise;   // [LSB] of a rise, for the next edge
    int NoiseFloor = kPpsMinRise;  // [LSB] of a rise, from the quiet channel
    int SecondRise = INT_MAX;      // [LSB] a rise within the hold-off at or above it: a double
    // A pulse waiting for its hold-off to pass: its window, from frame PendingFirst on.
    bool Pending = false;
    int64_t PendingFirst = 0;  // [frames]
    double PendingNoise = 0;   // [LSB] RMS of the quiet channel before it
    int PendingRise = 0;       // [LSB] its rise
    int PendingWindow[kWindowFrames] = {};
    // The series: its method, its shape, the badly fitted pulses in a row.
    int Series = 0;
    PpsMethod Method = PpsMethod::None;
    PpsShape Shape;
    int Misfits = 0;
    bool Confirmed = false;  // a second edge has followed the series' first on the seconds
    // The final edges since the last TakePpsEdge.
    bool HaveNew = false;
    PpsEdge New;

    // The series' edges: the last one and the running fit's points (ring of kPpsFineFitSeconds)
    bool HaveLast = false;
    PpsEdge Last;
    int64_t SlipTotal = 0;  // [frames] edges moved by slips so far (- when dropped), off the fit
    int64_t RejectedSinceLast = 0;  // pulses rejected since the last final edge
    int OffSecondRun = 0;           // final edges in a row rejected as off the second
    int64_t FitSecond[kPpsFineFitSeconds] = {};
    long double FitFrame[kPpsFineFitSeconds] = {};  // [frames] less the slips
    int FitCount = 0;                               // points held (at most kPpsFineFitSeconds)
    int FitNext = 0;                                // where the next point goes

    // Counts over the run
    int64_t EdgesFound = 0;         // final good edges
    int64_t SecondsMissing = 0;     // GPS seconds between final edges without any pulse
    int64_t PulsesRejected = 0;     // all of the below
    int64_t RejectedDouble = 0;     // a second rise within the hold-off
    int64_t RejectedNoisy = 0;      // the pulse missed its model or shape by more than its noise
    int64_t RejectedOffSecond = 0;  // not a whole number of seconds after the last edge
    int64_t Slips = 0;              // sample slips found
    int64_t SlippedFrames = 0;      // [frames] their sizes added up (+ dropped, - repeated)
    // Residuals of the edges that had a fit, for the run's RMS
    int64_t ResidualCount = 0;
    long double ResidualSquares = 0;  // [us^2]
};

// The device frames arrive at `framesPerSecond` (one of kInputRates); before the first frame.
void SetPpsTimingRate(PpsTiming& p, int framesPerSecond);

void PpsTimingSlow(PpsTiming& p, int v);

// One device frame's PPS sample; `inverted`: the pulse is negative ("Inverted" on).
inline void FeedPpsTiming(PpsTiming& p, int16_t pps, bool inverted) {
    const int v = inverted ? -static_cast<int>(pps) : pps;
    const int64_t i = p.FrameIndex;
    p.Ring[i & (kPpsRingFrames - 1)] = v;
    if (v - p.Ring[(i - kPpsRiseFrames) & (kPpsRingFrames - 1)] >= p.Watch) PpsTimingSlow(p, v);
    ++p.FrameIndex;
}

// The PPS samples of `count` device frames, as FeedPpsTiming takes them one by one; the index
// and the watch level kept in registers between the slow ways.
inline void FeedPpsTimingFrames(PpsTiming& p, const Frame* frames, int count, bool inverted) {
    const int sign = inverted ? -1 : 1;
    int64_t i = p.FrameIndex;
    int watch = p.Watch;
    for (int k = 0; k < count; ++k, ++i) {
        const int v = sign * frames[k].Pps;
        p.Ring[i & (kPpsRingFrames - 1)] = v;
        if (v - p.Ring[(i - kPpsRiseFrames) & (kPpsRingFrames - 1)] >= watch) {
            p.FrameIndex = i;
            PpsTimingSlow(p, v);
            watch = p.Watch;
        }
    }
    p.FrameIndex = i;
}

// `frames` frames were lost before the next one fed.
void PpsTimingGap(PpsTiming& p, int64_t frames);

// Makes an edge whose hold-off has passed final. Called at least once a second (the chain does
// at each second's end); returns true with the final edges since the last call's, the latest in
// `edge`.
bool TakePpsEdge(PpsTiming& p, PpsEdge& edge);

// The running fit as it stands: false until it has kPpsFineFitMinEdges edges within the last
// kPpsFineFitSeconds of the latest edge.
bool PpsFitNow(const PpsTiming& p, long double& ppm, long double& ppmSe);

// "model fit" or "learnt shape", for summaries.
const char* PpsMethodName(PpsMethod method);

// How the pulse model places an edge, and by interpolation at half the window's peak (measured
// against it), exposed for the measurement of the methods.
enum class PpsEdgeMethod { ModelFit, HalfPeak };

// The edge time within a window of samples (window[0] at frame 0), the first sample of the
// rise at `trigger`. False when the fit is poor. `amplitude` and `riseFrames` as fitted
// (HalfPeak: the peak and 0); `misfit` [of the amplitude]: how far the model misses the samples
// (ModelFit only, else 0).
bool LocatePpsEdge(PpsEdgeMethod method, const int* window, int count, int trigger, double& edge,
                   double& amplitude, double& riseFrames, double& misfit);

}  // namespace qv
