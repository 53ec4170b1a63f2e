// Fine PPS timing: the slow path of the edge watch, the pulses' timing and the running
// frequency fit.
#include "dsp/pps_timing.h"

#include <algorithm>
#include <cmath>

#include "common/trig.h"

namespace qv {

namespace {

// What the slow path waits for. The per-frame compare against Watch selects it.
enum Stage : int {
    kSearch = 0,   // a rise through the threshold
    kCollect = 1,  // the rest of the pulse's window (every frame comes here)
    kHoldOff = 2,  // the hold-off's end, or a second rise within it
};

constexpr int kWindowTrail = kWindowFrames - kWindowLead;  // [frames] from the trigger on
// Before the running fit exists, a gap must be within 2 % of a whole number of nominal seconds
// (the card may be 1 % off); with the fit, within kOnTime of its prediction.
constexpr long double kGapToleranceNominal = 0.02L;
// [frames] from the fit's prediction: on the second. In frames at every rate: a sample slip is a
// whole number of frames, told apart from an edge on time by this much.
constexpr long double kOnTime = 0.25L;
// A series' method is the pulse model when it misses the pulse by no more than this many times
// the channel's noise (or the 16-bit rounding's, on a channel without noise).
constexpr double kModelMisfitNoise = 2;
constexpr double kRoundingNoise = 0.5;  // [LSB]
// Newey-West's lags for the slope's standard error: a quarter of the minute's points.
constexpr int kSeLagDivisor = 4;

void Search(PpsTiming& p) {
    p.Stage = kSearch;
    p.Watch = p.Threshold;
}

void HoldOff(PpsTiming& p) {
    p.Stage = kHoldOff;
    p.Watch = p.Threshold;
}

// [frames per GPS s] of an exact card
long double NominalRate(const PpsTiming& p) { return static_cast<long double>(p.Rate); }

long double Ppm(const PpsTiming& p, long double framesPerSecond) {
    return (framesPerSecond / NominalRate(p) - 1) * 1000000;
}

// The running fit of edge frame (less the slips) against GPS second over the points within the
// last kPpsFineFitSeconds of `latest`; false with fewer than kPpsFineFitMinEdges points. Sums
// are taken about the first point, so that large frame indices do not cancel. The slope's
// standard error is Newey-West's: from the residuals as they are, their correlation from one
// second to the next included (a slowly wandering card or receiver leaves residuals that are
// far from white), never below the one that assumes them white.
bool FitLine(const PpsTiming& p, int64_t latest, long double& slope, long double& intercept,
             long double& slopeSe, int64_t& origin, long double& frameOrigin) {
    long double xs[kPpsFineFitSeconds], ys[kPpsFineFitSeconds];
    int n = 0;
    origin = 0;
    frameOrigin = 0;
    long double s = 0, f = 0, ss = 0, sf = 0, ff = 0;
    // Oldest first: the ring's next slot holds the oldest point once it is full.
    const int start = p.FitCount < kPpsFineFitSeconds ? 0 : p.FitNext;
    for (int c = 0; c < p.FitCount; ++c) {
        const int k = (start + c) % kPpsFineFitSeconds;
        if (p.FitSecond[k] <= latest - kPpsFineFitSeconds) continue;
        if (n == 0) {
            origin = p.FitSecond[k];
            frameOrigin = p.FitFrame[k];
        }
        const long double x = static_cast<long double>(p.FitSecond[k] - origin);
        const long double y = p.FitFrame[k] - frameOrigin;
        xs[n] = x;
        ys[n] = y;
        s += x;
        f += y;
        ss += x * x;
        sf += x * y;
        ff += y * y;
        ++n;
    }
    if (n < kPpsFineFitMinEdges) return false;
    const long double sxx = ss - s * s / n;
    if (!(sxx > 0)) return false;
    const long double sxy = sf - s * f / n;
    const long double syy = ff - f * f / n;
    slope = sxy / sxx;
    intercept = (f - slope * s) / n;
    const long double ssr = std::max(0.0L, syy - slope * sxy);
    const long double whiteSe = std::sqrt(ssr / (n - 2) / sxx);
    // u_k = (x_k - mean x) r_k; the slope's variance is sum over k, l of w(|k-l|) u_k u_l / sxx^2
    // with Bartlett's weights w(L) = 1 - L / (lags + 1).
    long double u[kPpsFineFitSeconds];
    const long double meanX = s / n;
    for (int k = 0; k < n; ++k) u[k] = (xs[k] - meanX) * (ys[k] - intercept - slope * xs[k]);
    const int lags = n / kSeLagDivisor;
    long double sum = 0;
    for (int k = 0; k < n; ++k) sum += u[k] * u[k];
    for (int lag = 1; lag <= lags; ++lag) {
        long double c = 0;
        for (int k = lag; k < n; ++k) c += u[k] * u[k - lag];
        sum += 2 * (1 - static_cast<long double>(lag) / (lags + 1)) * c;
    }
    const long double neweyWestSe = std::sqrt(std::max(0.0L, sum) * n / (n - 2)) / sxx;
    slopeSe = std::max(whiteSe, neweyWestSe);
    return true;
}

// The running fit forgets its points: the next edges start it afresh.
void RestartFit(PpsTiming& p) {
    p.FitCount = 0;
    p.FitNext = 0;
}

// A new series: its own method and shape, its own running fit.
void NewSeries(PpsTiming& p) {
    ++p.Series;
    p.Misfits = 0;
    RestartFit(p);
}

void Reject(PpsTiming& p, int64_t& reason) {
    ++reason;
    ++p.PulsesRejected;
    ++p.RejectedSinceLast;
}

// The pulse in `w` (kWindowFrames samples, the trigger at kWindowLead) timed by the series'
// method; a pulse that starts a series chooses it. `noise` [LSB]: the quiet channel's RMS.
// False when the pulse is rejected as noisy.
bool TimePulse(PpsTiming& p, const int* w, double noise, double& edge, double& amplitude,
               double& riseFrames) {
    const int before = kPpsModelWindowBefore * p.WindowScale;
    const int modelFirst = kWindowLead - before;
    double modelEdge = 0, modelMisfit = 0;
    const auto model = [&] {
        return LocatePpsEdge(PpsEdgeMethod::ModelFit, w + modelFirst,
                             kPpsModelWindowFrames * p.WindowScale, before, modelEdge, amplitude,
                             riseFrames, modelMisfit);
    };
    ShapeFit fit;
    const auto shapeFits = [&] {
        return fit.Misfit <= kPpsShapeMisfitNoise * std::max(noise, kRoundingNoise) +
                                 kPpsShapeMisfitShare * fit.Amplitude;
    };
    if (p.Method == PpsMethod::ModelFit) {
        if (model()) {
            p.Misfits = 0;
            edge = modelFirst + modelEdge;
            return true;
        }
    } else if (p.Method == PpsMethod::ShapeFit) {
        if (RoughEdge(w, fit) && FitShape(p.Shape, w, fit, kShapeEdgeReach * p.WindowScale) &&
            shapeFits()) {
            p.Misfits = 0;
            if (p.Shape.Pulses < kPpsShapePulses) AddToShape(p.Shape, w, fit);
            edge = fit.Edge;
            amplitude = fit.Amplitude;
            riseFrames = 0;
            return true;
        }
    }
    // A series not yet confirmed by a second pulse gives way to this one at once.
    if (p.Method != PpsMethod::None && p.Confirmed && ++p.Misfits < kPpsNewShape) {
        Reject(p, p.RejectedNoisy);
        return false;
    }
    // A new series, its method chosen on this pulse: the model where it fits to the noise.
    NewSeries(p);
    if (model() && modelMisfit * amplitude <= kModelMisfitNoise * std::max(noise, kRoundingNoise)) {
        p.Method = PpsMethod::ModelFit;
        edge = modelFirst + modelEdge;
        return true;
    }
    p.Method = PpsMethod::ShapeFit;
    p.Shape = PpsShape();
    if (!RoughEdge(w, fit)) {
        p.Method = PpsMethod::None;
        Reject(p, p.RejectedNoisy);
        return false;
    }
    AddToShape(p.Shape, w, fit);
    edge = fit.Edge;
    amplitude = fit.Amplitude;
    riseFrames = 0;
    return true;
}

// The pending edge's hold-off has passed: it becomes final, or is rejected when it does not
// lie a whole number of seconds (less a sample slip) after the previous final edge.
[[gnu::noinline]] void FinishEdge(PpsTiming& p) {
    p.Pending = false;
    const int seriesBefore = p.Series;
    double edge = 0, amplitude = 0, riseFrames = 0;
    const bool timed = TimePulse(p, p.PendingWindow, p.PendingNoise, edge, amplitude, riseFrames);
    if (!timed) return;
    PpsEdge e;
    e.Frame = static_cast<long double>(p.PendingFirst) + edge;
    e.Amplitude = amplitude;
    e.RiseFrames = riseFrames;
    e.Series = p.Series;
    e.Method = p.Method;
    long double slope = 0, intercept = 0, slopeSe = 0, frameOrigin = 0;
    int64_t origin = 0;
    long double corrected = e.Frame - p.SlipTotal;
    if (p.HaveLast) {
        const bool fitted =
            FitLine(p, p.Last.Second, slope, intercept, slopeSe, origin, frameOrigin);
        const long double rate = fitted ? slope : NominalRate(p);
        // The slips so far were found at or before the last edge: both frames lose the same.
        const long double gap = e.Frame - p.Last.Frame;
        const long double seconds = std::floor(gap / rate + 0.5L);
        bool onTime = false;
        int64_t slip = 0;
        if (seconds >= 1 && fitted) {
            const long double predicted =
                frameOrigin + intercept +
                slope * static_cast<long double>(p.Last.Second + static_cast<int64_t>(seconds) -
                                                 origin);
            const long double off = corrected - predicted;
            const long double whole = std::floor(off + 0.5L);
            onTime = std::fabs(off) <= kOnTime;
            if (!onTime && whole != 0 && std::fabs(whole) <= p.MaxSlipFrames &&
                std::fabs(off - whole) <= kOnTime) {
                slip = static_cast<int64_t>(whole);
                onTime = true;
            }
        } else if (seconds >= 1) {
            onTime = std::fabs(gap - seconds * rate) <= kGapToleranceNominal * seconds * rate;
        }
        if (!onTime && !p.Confirmed) {
            // The last edge was a series' unconfirmed first: this one takes its place.
            NewSeries(p);
            e.Series = p.Series;
            e.Second = p.Last.Second +
                       std::max<int64_t>(1, static_cast<int64_t>(gap / NominalRate(p) + 0.5L));
        } else if (!onTime) {
            Reject(p, p.RejectedOffSecond);
            // Three in a row: the earlier edges are the odd ones out; a new series starts
            // from this edge, its second counted from the gap at the nominal rate.
            if (++p.OffSecondRun < 3) return;
            p.PulsesRejected -= 1;  // this edge is taken after all
            p.RejectedOffSecond -= 1;
            p.RejectedSinceLast -= 1;
            const int shapeMisfits = p.Misfits;
            NewSeries(p);
            p.Misfits = shapeMisfits;
            e.Series = p.Series;
            e.Second = p.Last.Second +
                       std::max<int64_t>(1, static_cast<int64_t>(gap / NominalRate(p) + 0.5L));
        } else {
            if (slip != 0) {
                // The card dropped (+) or repeated (-) samples since the last edge: the series
                // goes on with the frames less the slip.
                // (dropped samples bring the edge early: a slip of -3 frames is 3 dropped)
                e.SlipFrames = -slip;
                p.SlipTotal += slip;
                corrected -= static_cast<long double>(slip);
                ++p.Slips;
                p.SlippedFrames -= slip;
            }
            const int64_t n = static_cast<int64_t>(seconds);
            e.Second = p.Last.Second + n;
            p.SecondsMissing += std::max<int64_t>(0, n - 1 - p.RejectedSinceLast);
            e.RateValid = true;
            e.RatePpm = Ppm(p, (gap - static_cast<long double>(slip)) / seconds);
        }
    }
    p.OffSecondRun = 0;
    p.RejectedSinceLast = 0;
    p.FitSecond[p.FitNext] = e.Second;
    p.FitFrame[p.FitNext] = corrected;
    p.FitNext = (p.FitNext + 1) % kPpsFineFitSeconds;
    p.FitCount = std::min(p.FitCount + 1, kPpsFineFitSeconds);
    if (p.Series != seriesBefore || !p.HaveLast) {
        // A series' first edge is said only once the next pulse, of the same shape, lies a
        // whole number of seconds after it: a lone rise is never taken for an edge.
        p.Confirmed = false;
        p.HaveLast = true;
        p.Last = e;
        return;
    }
    p.Confirmed = true;
    e.FitValid = FitLine(p, e.Second, slope, intercept, slopeSe, origin, frameOrigin);
    if (e.FitValid) {
        e.FitPpm = Ppm(p, slope);
        e.FitPpmSe = slopeSe / NominalRate(p) * 1000000;
        const long double expected =
            frameOrigin + intercept + slope * static_cast<long double>(e.Second - origin);
        e.ResidualUs = (corrected - expected) / slope * 1000000;
        ++p.ResidualCount;
        p.ResidualSquares += e.ResidualUs * e.ResidualUs;
    }
    ++p.EdgesFound;
    p.HaveLast = true;
    p.Last = e;
    p.HaveNew = true;
    p.New = e;
}

// The pulse's window is complete: is it an edge, and where.
[[gnu::noinline]] void LocatePulse(PpsTiming& p) {
    // Read into the pending pulse's place: none is pending while a window is collected (the
    // hold-off that ends before the search has made it final or dropped it).
    int* w = p.PendingWindow;
    const int64_t first = p.TriggerFrame - kWindowLead;
    for (int k = 0; k < kWindowFrames; ++k) w[k] = p.Ring[(first + k) & (kPpsRingFrames - 1)];
    // The quiet channel before the pulse: the RMS of its rises, and of its noise from the
    // second differences (6 times the variance of white noise; hum and slow drifts drop out).
    double riseSquares = 0, curveSquares = 0;
    constexpr int kQuietEnd = kWindowLead - kFitLead;
    for (int j = kPpsRiseFrames; j < kQuietEnd; ++j) {
        const double r = w[j] - w[j - kPpsRiseFrames];
        const double c = w[j] - 2.0 * w[j - 1] + w[j - 2];
        riseSquares += r * r;
        curveSquares += c * c;
    }
    const double quietRise = std::sqrt(riseSquares / (kQuietEnd - kPpsRiseFrames));
    const double noise = std::sqrt(curveSquares / (kQuietEnd - kPpsRiseFrames) / 6);
    int rise = 0;
    // The pulse's rise: its steepest 2 frames, which a slow card filter or a trigger early in
    // the rise (the run's first pulse, at the channel's own threshold) puts several frames on.
    for (int j = kWindowLead - 1; j <= kWindowLead + kPpsRiseSearch; ++j) {
        rise = std::max(rise, w[j] - w[j - kPpsRiseFrames]);
    }
    // Its steepness, over as many more frames as the windows are scaled (a receiver's RC rise
    // spans that many more of a faster card's frames), sought as far after the trigger as
    // four such spans: the same as the rise at 8000.
    const int span = kPpsRiseFrames * p.WindowScale;
    int steep = rise;
    for (int j = kWindowLead - 1; span != kPpsRiseFrames && j <= kWindowLead + span * 4; ++j) {
        steep = std::max(steep, w[j] - w[j - span]);
    }
    // A far larger rise after it: this one was a small step before the pulse; the window
    // moves to the pulse's edge (the first frame of its rise to kPpsRiseShare of its height).
    int later = 0;
    for (int j = kWindowLead + 4; j < kWindowFrames; ++j) {
        later = std::max(later, w[j] - w[j - kPpsRiseFrames]);
    }
    if (later >= kPpsPrecursor * rise) {
        int j = kWindowLead + 4;
        while (w[j] - w[j - kPpsRiseFrames] < kPpsRiseShare * later) ++j;
        p.TriggerFrame = first + j;
        return;  // still collecting
    }
    p.NoiseFloor = std::max(kPpsMinRise, static_cast<int>(std::ceil(kPpsNoiseFactor * quietRise)));
    double base = 0;
    for (int j = kWindowLead - kFitLead; j < kWindowLead - 2; ++j) base += w[j];
    base /= kFitLead - 2;
    const int peak =
        *std::max_element(w + kWindowLead, w + kWindowLead + kFitTrail * p.WindowScale);
    if (rise < kPpsNoiseFactor * quietRise || steep < kPpsSteepShare * (peak - base)) {
        // Not an edge: noise, hum, ringing, a slow recovery. The threshold rises above the
        // quiet channel's rises.
        p.Threshold = std::max(p.Threshold, p.NoiseFloor);
        Search(p);
        return;
    }
    // Timed when its hold-off has passed without a second pulse.
    p.LastPulseFrame = p.TriggerFrame;
    p.Pending = true;
    p.PendingFirst = first;
    p.PendingNoise = noise;
    p.PendingRise = rise;
    p.Threshold = std::max(p.NoiseFloor, static_cast<int>(kPpsRiseShare * rise));
    p.SecondRise = std::max(p.Threshold, static_cast<int>(kPpsSecondRiseShare * rise));
    HoldOff(p);
}

bool HoldOffOver(const PpsTiming& p) { return p.FrameIndex - p.TriggerFrame >= p.HoldOffFrames; }

// Hold-off over: the pending edge is final, and the watch for the next rise begins.
void EndHoldOff(PpsTiming& p) {
    if (p.Pending) FinishEdge(p);
    Search(p);
}

}  // namespace

void PpsTimingSlow(PpsTiming& p, int v) {
    const int64_t i = p.FrameIndex;
    const int rise = v - p.Ring[(i - kPpsRiseFrames) & (kPpsRingFrames - 1)];
    switch (p.Stage) {
        case kSearch:
            p.TriggerFrame = i;
            if (i - p.LastGap < kWindowLead + kPpsRiseFrames) {
                // Too little channel before it (the run's or a gap's start): let it pass.
                p.Pending = false;
                HoldOff(p);
                return;
            }
            p.Stage = kCollect;
            p.Watch = INT_MIN;  // every frame
            return;
        case kCollect:
            if (i - p.TriggerFrame == kWindowTrail - 1) LocatePulse(p);
            return;
        default:  // kHoldOff
            if (HoldOffOver(p)) {
                EndHoldOff(p);
                if (rise >= p.Watch) PpsTimingSlow(p, v);
                return;
            }
            if (rise >= p.SecondRise) {
                if (p.Pending && rise >= kPpsPrecursor * p.PendingRise) {
                    // Far larger: the pending rise was a small step before the pulse, not its
                    // edge (it is forgotten); this one is timed instead.
                    p.Pending = false;
                    p.TriggerFrame = i;
                    p.Stage = kCollect;
                    p.Watch = INT_MIN;
                    return;
                }
                // A second rise within the hold-off: the pending pulse is not a clean edge.
                if (p.Pending) Reject(p, p.RejectedDouble);
                p.Pending = false;
                p.TriggerFrame = i;
            }
            return;
    }
}

void SetPpsTimingRate(PpsTiming& p, int framesPerSecond) {
    p.Rate = framesPerSecond;
    // Times counted in frames at 8000 per second, at the card's rate (to a whole frame, which
    // at 11025 or 22050 is a quarter or a half below the time).
    const auto atRate = [&](int64_t frames) { return frames * framesPerSecond / kFramesPerSecond; };
    p.HoldOffFrames = atRate(kPpsHoldOffFrames);
    p.LostFrames = atRate(kPpsLostFrames);
    p.MaxSlipFrames = atRate(kPpsMaxSlipFrames);
    p.WindowScale = std::clamp(framesPerSecond / kFramesPerSecond, 1, kPpsModelWindowScale);
}

void PpsTimingGap(PpsTiming& p, int64_t frames) {
    p.FrameIndex += frames;
    p.LastGap = p.FrameIndex;
    if (p.Stage == kCollect) Search(p);  // the pulse's window holds the gap: dropped
}

bool TakePpsEdge(PpsTiming& p, PpsEdge& edge) {
    if (p.Stage == kHoldOff && HoldOffOver(p)) EndHoldOff(p);
    // Seconds without a pulse: a pulse grown weaker is found again.
    if (p.Stage == kSearch && p.FrameIndex - p.LastPulseFrame > p.LostFrames) {
        p.Threshold = p.NoiseFloor;
        p.Watch = p.Threshold;
    }
    if (!p.HaveNew) return false;
    p.HaveNew = false;
    edge = p.New;
    return true;
}

bool PpsFitNow(const PpsTiming& p, long double& ppm, long double& ppmSe) {
    if (!p.HaveLast || !p.Last.FitValid) return false;
    // A fit whose latest edge is a minute old no longer describes the card.
    if (p.FrameIndex - p.Last.Frame > kPpsFineFitSeconds * NominalRate(p)) return false;
    ppm = p.Last.FitPpm;
    ppmSe = p.Last.FitPpmSe;
    return true;
}

const char* PpsMethodName(PpsMethod method) {
    switch (method) {
        case PpsMethod::ModelFit:
            return "pulse model";
        case PpsMethod::ShapeFit:
            return "learnt shape";
        default:
            return "none";
    }
}

// ---------------------------------------------------------------------------------------------
// Locating the edge in its window

namespace {

constexpr int kParameters = 5;  // edge time, amplitude, rise rate, decay rate, baseline

struct PulseFit {
    double T0, A, Rise, Decay, Base;  // [frames], [LSB], [1/frame], [1/frame], [LSB]
};

// Sum of squared misfits of `f` over the window; with `normal` and `gradient` also J^T J and
// J^T r of the model's derivatives (parameter order as in PulseFit).
double Misfit(const PulseFit& f, const int* w, int count, double (*normal)[kParameters],
              double* gradient) {
    if (normal != nullptr) {
        for (int r = 0; r < kParameters; ++r) {
            gradient[r] = 0;
            for (int c = 0; c < kParameters; ++c) normal[r][c] = 0;
        }
    }
    double sum = 0;
    for (int j = 0; j < count; ++j) {
        const double x = j - f.T0;
        double model = f.Base;
        double d[kParameters] = {0, 0, 0, 0, 1};
        if (x > 0) {
            const double ea = PortableExp(-f.Rise * x), el = PortableExp(-f.Decay * x);
            const double shape = (1 - ea) * el;
            model += f.A * shape;
            d[0] = -f.A * (f.Rise * ea * el - f.Decay * shape);
            d[1] = shape;
            d[2] = f.A * x * ea * el;
            d[3] = -f.A * x * shape;
        }
        const double misfit = w[j] - model;
        sum += misfit * misfit;
        if (normal == nullptr) continue;
        for (int r = 0; r < kParameters; ++r) {
            gradient[r] += d[r] * misfit;
            for (int c = 0; c < kParameters; ++c) normal[r][c] += d[r] * d[c];
        }
    }
    return sum;
}

// Solves the damped normal equations by Gaussian elimination with partial pivoting; false
// when they are singular.
bool SolveStep(double (*normal)[kParameters], const double* gradient, double damping,
               double* step) {
    double a[kParameters][kParameters + 1];
    for (int r = 0; r < kParameters; ++r) {
        for (int c = 0; c < kParameters; ++c) a[r][c] = normal[r][c];
        a[r][r] += damping * normal[r][r];
        a[r][kParameters] = gradient[r];
    }
    return SolveLinear<kParameters>(a, step);
}

// Where the samples cross `level` first, at or after `from`, by linear interpolation between
// the two samples around it; -1 when they never do.
double Crossing(const int* w, int count, int from, double level) {
    for (int j = std::max(from, 1); j < count; ++j) {
        if (w[j] >= level) {
            if (w[j - 1] >= level) return j - 1;
            return j - 1 + (level - w[j - 1]) / (w[j] - w[j - 1]);
        }
    }
    return -1;
}

constexpr double kLn2 = 0.693147180559945309417;

}  // namespace

bool LocatePpsEdge(PpsEdgeMethod method, const int* w, int count, int trigger, double& edge,
                   double& amplitude, double& riseFrames, double& misfitShare) {
    misfitShare = 0;
    // The baseline from the samples well before the trigger (the one just before it may
    // already be on the edge).
    double base = 0;
    for (int j = 0; j < trigger - 1; ++j) base += w[j];
    base /= trigger - 1;
    int peak = w[0];
    for (int j = 0; j < count; ++j) peak = std::max(peak, w[j]);
    const double height = peak - base;
    if (!(height > 0)) return false;
    const double half = Crossing(w, count, 1, base + 0.5 * height);
    if (method == PpsEdgeMethod::HalfPeak) {
        edge = half;
        amplitude = height;
        riseFrames = 0;
        return half >= 0;
    }

    // A start from the half and the 1 - e^-2 points of a pure exponential rise.
    const double high = Crossing(w, count, 1, base + (1 - PortableExp(-2)) * height);
    PulseFit f;
    f.Rise = high - half > 0.05 ? (2 - kLn2) / (high - half) : 20.0;
    f.T0 = half - kLn2 / f.Rise;
    f.A = height;
    f.Decay = 0;
    f.Base = base;

    double normal[kParameters][kParameters], gradient[kParameters], step[kParameters];
    double misfit = Misfit(f, w, count, normal, gradient);
    double damping = 1e-3;
    for (int iteration = 0; iteration < 40; ++iteration) {
        if (!SolveStep(normal, gradient, damping, step)) return false;
        PulseFit next = f;
        next.T0 += step[0];
        next.A += step[1];
        next.Rise = std::clamp(f.Rise + step[2], 0.01, 50.0);
        next.Decay = std::clamp(f.Decay + step[3], -0.01, 1.0);
        next.Base += step[4];
        const double nextMisfit = Misfit(next, w, count, nullptr, nullptr);
        if (nextMisfit <= misfit) {
            f = next;
            misfit = Misfit(f, w, count, normal, gradient);
            damping = std::max(damping / 10, 1e-9);
            if (std::fabs(step[0]) < 1e-9) break;
        } else {
            damping *= 10;
            if (damping > 1e6) break;
        }
    }
    edge = f.T0;
    amplitude = f.A;
    riseFrames = 1 / f.Rise;
    // A good fit misses the samples by little more than their rounding; the edge lies within
    // the samples before the trigger.
    const double rms = std::sqrt(misfit / count);
    misfitShare = f.A > 0 ? rms / f.A : 1;
    return f.A > 0 && rms <= kPpsMaxFitRms * f.A && f.T0 > 0 && f.T0 <= trigger;
}

}  // namespace qv
