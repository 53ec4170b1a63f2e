// Fine PPS timing: locates each PPS edge on the device frames (before the re-sampling) to a
// small fraction of a frame by a least-squares fit of the pulse's rising edge, and from the
// edges the card's frequency and each edge's residual. A path beside the classic clock loop:
// it reads the same right channel and changes nothing the loop does.
//
// Per frame only a store and one compare; everything else happens at most a few dozen times
// a second, out of line.
//
// Pulse model (the step response of a first-order low-pass into an AC-coupled input), for the
// frame position t [device frames]:
//   p(t) = B + A (1 - e^(-a x)) e^(-l x),  x = t - T0 >= 0;   p(t) = B before the edge
// with the edge time T0, amplitude A, rise rate a [1/frame], decay rate l [1/frame] and
// baseline B all fitted (Gauss-Newton with a little Levenberg-Marquardt damping).
//
// Edge handling:
// - An edge is a rise through kPpsFineThreshold after the channel has stayed below half of it
//   for at least kPpsFitBefore frames (so a run that starts within a pulse waits for the next).
// - For kPpsHoldOffFrames after an edge the channel is watched for a second rise (a double or
//   ringing pulse): both are then rejected and counted. A fit that misses the samples by more
//   than kPpsMaxFitRms of the amplitude (a noisy pulse), or puts the edge outside its window,
//   is rejected and counted too, unless the pulses are steadily of another shape (a card's
//   anti-alias filter): those are timed on their band-limited waveform (see kPpsSteadyMisfit).
// - A good edge becomes final when its hold-off has passed. The gap to the previous final edge,
//   divided by the card's rate (the fit's when there is one, else 8000 +- 2 %), gives the GPS
//   seconds between them; a gap that is not close to a whole number of seconds is rejected.
// - Frames a live capture dropped are counted in the frame index (so the time line stays
//   continuous); a pulse whose fit window holds a gap is dropped (not counted as rejected)
//   and the channel must be seen low again before the next edge.
#pragma once

#include <cstdint>

#include "common/frame.h"

namespace qv {

constexpr int kPpsFineThreshold = 3277;      // [LSB] edge level, 0.1 of full scale
constexpr int kPpsFitBefore = 8;             // [frames] of baseline fitted before the first frame
                                             // at or above the threshold
constexpr int kPpsFitAfter = 24;             // [frames] fitted from that frame on (3 ms: six rise
                                             // times of a slow 0.5 ms edge)
constexpr int kPpsRingFrames = 64;           // [frames] kept; a power of 2 > kPpsFitBefore + After
constexpr int64_t kPpsHoldOffFrames = 2000;  // [frames] after an edge: a rise in it is a double
constexpr double kPpsMaxFitRms = 0.01;       // [of the amplitude] worse fits are rejected
// A card's anti-alias filter turns a fast PPS rise into a band-limited step that rings before
// and after it, which the model cannot follow. Such a pulse is timed instead where the
// band-limited waveform through its samples crosses half its height, once the model misses
// two pulses in a row by a steady amount: within kPpsSteadyMisfit times the previous pulse's
// misfit and below kPpsMaxShapeMisfit. A noisy pulse misses by far more than the one before.
constexpr double kPpsSteadyMisfit = 1.5;
constexpr double kPpsMaxShapeMisfit = 0.3;  // [of the amplitude]
// Back to the model only when it fits clearly better than kPpsMaxFitRms, so that a pulse
// that the model misses by about that much is not timed now one way, now the other.
constexpr double kPpsModelAgainRms = 0.005;  // [of the amplitude]
constexpr int kPpsFineFitSeconds = 60;       // [GPS s] of edges in the running frequency fit
constexpr int kPpsFineFitMinEdges = 5;       // edges the running fit needs to be stated

// What a located edge yields, final once its hold-off has passed.
struct PpsEdge {
    long double Frame = 0;       // [device frames from the run's first, dropped ones counted]
    int64_t Second = 0;          // [GPS s] since the first final edge
    bool RateValid = false;      // the per-second rate below is set (a previous edge exists)
    long double RatePpm = 0;     // [ppm] card frequency from this and the previous edge
    bool FitValid = false;       // the running fit below is set
    long double FitPpm = 0;      // [ppm] card frequency from the fit over the last minute
    long double FitPpmSe = 0;    // [ppm] its standard error
    long double ResidualUs = 0;  // [us] this edge minus the fit
    double Amplitude = 0;        // [LSB] fitted
    double RiseFrames = 0;       // [frames] fitted rise time constant 1/a
};

// How an edge is located: by the pulse-model fit (kept; band-limited pulses of a steady other
// shape fall back to BandLimited), by linear interpolation at half the window's peak (measured
// against it, see the README), or at half height of the band-limited waveform alone.
enum class PpsEdgeMethod { ModelFit, HalfPeak, BandLimited };

struct PpsTiming {
    // parameters
    PpsEdgeMethod Method = PpsEdgeMethod::ModelFit;

    // state: the per-frame part
    int64_t FrameIndex = 0;  // [device frames] of the next frame fed
    int High = 65536;  // [LSB] a sample at or above this goes the slow way (waiting for quiet)
    int Low = kPpsFineThreshold / 2;  // [LSB] a sample at or below this goes the slow way
    unsigned Span = 65536 - kPpsFineThreshold / 2 - 1;  // High - Low - 1, 0 when High <= Low + 1
    int Ring[kPpsRingFrames] = {};  // [LSB] the last samples, by FrameIndex modulo the size

    // state: the slow part
    int Stage = 0;             // what the slow path waits for (see pps_timing.cpp)
    int64_t QuietSince = -1;   // [frames] first of the run of samples below half threshold
    int64_t TriggerFrame = 0;  // [frames] first sample at or above the threshold
    int64_t LastGap = -1;      // [frames] index of the last frame a gap came before
    int Floor = 0;             // [LSB] lowest sample since the last edge's peak
    double LastMisfit = 0;     // [of the amplitude] the model's misfit of the last pulse fitted
    bool BandLimited = false;  // pulses are timed on their band-limited waveform (ModelFit)
    bool Pending = false;      // an edge waits for its hold-off to pass
    bool PendingGood = false;  // and its fit was good
    PpsEdge PendingEdge;
    // The final edges since the last TakePpsEdge.
    bool HaveNew = false;
    PpsEdge New;

    // The run's edges: the last one and the running fit's points (ring of kPpsFineFitSeconds)
    bool HaveLast = false;
    PpsEdge Last;
    int64_t RejectedSinceLast = 0;  // pulses rejected since the last final edge
    int OffSecondRun = 0;           // final edges in a row rejected as off the second
    int64_t FitSecond[kPpsFineFitSeconds] = {};
    long double FitFrame[kPpsFineFitSeconds] = {};
    int FitCount = 0;  // points held (at most kPpsFineFitSeconds)
    int FitNext = 0;   // where the next point goes

    // Counts over the run
    int64_t EdgesFound = 0;      // final good edges
    int64_t SecondsMissing = 0;  // GPS seconds between final edges without any pulse
    int64_t PulsesRejected = 0;  // double, noisy, badly fitted or off-the-second pulses
    // Residuals of the edges that had a fit, for the run's RMS
    int64_t ResidualCount = 0;
    long double ResidualSquares = 0;  // [us^2]
};

// v <= Low or v >= High, in one unsigned compare: v - Low - 1 wraps to a huge value below Low.
inline bool OutsideWatch(const PpsTiming& p, int v) {
    return static_cast<unsigned>(v - p.Low - 1) >= p.Span;
}

void PpsTimingSlow(PpsTiming& p, int v);

// One device frame's PPS sample; `inverted`: the pulse is negative ("Inverted" on).
inline void FeedPpsTiming(PpsTiming& p, int16_t pps, bool inverted) {
    const int v = inverted ? -static_cast<int>(pps) : pps;
    p.Ring[p.FrameIndex & (kPpsRingFrames - 1)] = v;
    if (OutsideWatch(p, v)) PpsTimingSlow(p, v);
    ++p.FrameIndex;
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

// The edge time within a window of samples (window[0] at frame 0), the first sample at or
// above the threshold at `trigger`; exposed for the measurement of the methods. False when the
// fit is poor. `amplitude` and `riseFrames` as fitted (HalfPeak: the peak and 0).
// `misfit` [of the amplitude]: how far the model fit misses the samples (ModelFit only, else 0).
// BandLimited: the half-height crossing of the band-limited waveform through the samples.
bool LocatePpsEdge(PpsEdgeMethod method, const int* window, int count, int trigger, double& edge,
                   double& amplitude, double& riseFrames, double& misfit);

// e^x for x <= 0 to about 1 ulp from +-*/ alone, so the fit gives the same bits wherever it
// runs (the C libraries' exp differ in the last bit).
double PpsExp(double x);

}  // namespace qv
