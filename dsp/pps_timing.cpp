// Fine PPS timing: the slow path of the edge watch, the pulse fit and the running frequency fit.
#include "dsp/pps_timing.h"

#include <algorithm>
#include <cmath>

#include "common/trig.h"

namespace qv {

namespace {

// What the slow path waits for. The per-frame compares against High and Low select it.
enum Stage : int {
    kWaitQuiet = 0,  // the channel to fall to half the threshold (High never reached)
    kArmed = 1,      // a rise through the threshold (Low never reached)
    kCollect = 2,    // the rest of the fit window (every frame comes here)
    kHoldOff = 3,    // a further fall of the pulse (Low) or a second rise (High)
};

constexpr int kNever = 65536;                       // [LSB] beyond any 16-bit sample, either sign
constexpr int kQuiet = kPpsFineThreshold / 2;       // [LSB] the channel is quiet at or below this
constexpr int kFloorStep = kPpsFineThreshold / 4;   // [LSB] the hold-off's floor follows the
                                                    // falling pulse in steps of this
constexpr int kSecondRise = 2 * kPpsFineThreshold;  // [LSB] above the floor: a second pulse
constexpr long double kNominalRate = kFramesPerSecond;  // [frames per GPS s] of an exact card
// Before the running fit exists, a gap must be within 2 % of a whole number of nominal seconds
// (the card may be 1 % off); with the fit, within 0.1 % of the fitted rate.
constexpr long double kGapToleranceNominal = 0.02L;
constexpr long double kGapToleranceFitted = 0.001L;

// The slow path is taken for samples at or below `low` or at or above `high`.
void Watch(PpsTiming& p, int low, int high) {
    p.Low = low;
    p.High = high;
    p.Span = high > low ? static_cast<unsigned>(high - low - 1) : 0;
}

void WaitQuiet(PpsTiming& p) {
    p.Stage = kWaitQuiet;
    Watch(p, kQuiet, kNever);
}

void Arm(PpsTiming& p) {
    p.Stage = kArmed;
    Watch(p, -kNever, kPpsFineThreshold);
}

// The running fit of edge frame against GPS second over the points within the last
// kPpsFineFitSeconds of `latest`; false with fewer than kPpsFineFitMinEdges points. Sums are
// taken about the first point, so that large frame indices do not cancel.
bool FitLine(const PpsTiming& p, int64_t latest, long double& slope, long double& intercept,
             long double& slopeSe, int64_t& origin, long double& frameOrigin) {
    int n = 0;
    origin = 0;
    frameOrigin = 0;
    long double s = 0, f = 0, ss = 0, sf = 0, ff = 0;
    for (int k = 0; k < p.FitCount; ++k) {
        if (p.FitSecond[k] <= latest - kPpsFineFitSeconds) continue;
        if (n == 0) {
            origin = p.FitSecond[k];
            frameOrigin = p.FitFrame[k];
        }
        const long double x = static_cast<long double>(p.FitSecond[k] - origin);
        const long double y = p.FitFrame[k] - frameOrigin;
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
    slopeSe = std::sqrt(ssr / (n - 2) / sxx);
    return true;
}

// The running fit forgets its points: the next edges start it afresh.
void RestartFit(PpsTiming& p) {
    p.FitCount = 0;
    p.FitNext = 0;
}

long double Ppm(long double framesPerSecond) {
    return (framesPerSecond / kNominalRate - 1) * 1000000;
}

// The pending edge's hold-off has passed: it becomes final, or is rejected when it does not
// lie a whole number of seconds after the previous final edge.
[[gnu::noinline]] void FinishEdge(PpsTiming& p) {
    p.Pending = false;
    if (!p.PendingGood) return;
    PpsEdge e = p.PendingEdge;
    long double slope = 0, intercept = 0, slopeSe = 0, frameOrigin = 0;
    int64_t origin = 0;
    if (p.HaveLast) {
        const bool fitted =
            FitLine(p, p.Last.Second, slope, intercept, slopeSe, origin, frameOrigin);
        const long double rate = fitted ? slope : kNominalRate;
        const long double gap = e.Frame - p.Last.Frame;
        const long double seconds = std::floor(gap / rate + 0.5L);
        const long double tolerance =
            (fitted ? kGapToleranceFitted : kGapToleranceNominal) * seconds * rate;
        if (seconds < 1 || std::fabs(gap - seconds * rate) > tolerance) {
            ++p.PulsesRejected;
            ++p.RejectedSinceLast;
            // Three in a row: the earlier edges are the odd ones out; the fit starts afresh
            // from this edge, its second counted from the gap at the nominal rate.
            if (++p.OffSecondRun < 3) return;
            RestartFit(p);
            p.PulsesRejected -= 1;  // this edge is taken after all
            p.RejectedSinceLast -= 1;
            e.Second = p.Last.Second +
                       std::max<int64_t>(1, static_cast<int64_t>(gap / kNominalRate + 0.5L));
        } else {
            const int64_t n = static_cast<int64_t>(seconds);
            e.Second = p.Last.Second + n;
            p.SecondsMissing += std::max<int64_t>(0, n - 1 - p.RejectedSinceLast);
            e.RateValid = true;
            e.RatePpm = Ppm(gap / seconds);
        }
    }
    p.OffSecondRun = 0;
    p.RejectedSinceLast = 0;
    p.FitSecond[p.FitNext] = e.Second;
    p.FitFrame[p.FitNext] = e.Frame;
    p.FitNext = (p.FitNext + 1) % kPpsFineFitSeconds;
    p.FitCount = std::min(p.FitCount + 1, kPpsFineFitSeconds);
    e.FitValid = FitLine(p, e.Second, slope, intercept, slopeSe, origin, frameOrigin);
    if (e.FitValid) {
        e.FitPpm = Ppm(slope);
        e.FitPpmSe = slopeSe / kNominalRate * 1000000;
        const long double expected =
            frameOrigin + intercept + slope * static_cast<long double>(e.Second - origin);
        e.ResidualUs = (e.Frame - expected) / slope * 1000000;
        ++p.ResidualCount;
        p.ResidualSquares += e.ResidualUs * e.ResidualUs;
    }
    ++p.EdgesFound;
    p.HaveLast = true;
    p.Last = e;
    p.HaveNew = true;
    p.New = e;
}

// Pulses the model misses steadily (a card's anti-alias filter) are timed on their
// band-limited waveform from then on, until the model fits clearly again; meanwhile a pulse
// that the model misses far worse than the one before (a noisy one) is rejected. Either switch
// restarts the running fit, since the two ways place the edge apart by a constant.
void TimeUnmodelledShape(PpsTiming& p, const int* window, int count, double misfit, double& edge,
                         double& amplitude, double& rise) {
    const bool steadyShape =
        misfit <= kPpsMaxShapeMisfit && misfit <= kPpsSteadyMisfit * p.LastMisfit;
    const bool bandLimited =
        p.BandLimited ? misfit > kPpsModelAgainRms
                      : misfit > kPpsMaxFitRms && p.LastMisfit > kPpsMaxFitRms && steadyShape;
    p.LastMisfit = misfit;
    if (bandLimited != p.BandLimited) {
        p.BandLimited = bandLimited;
        RestartFit(p);
    }
    if (!bandLimited) return;
    double unused = 0;
    p.PendingGood = steadyShape && LocatePpsEdge(PpsEdgeMethod::BandLimited, window, count,
                                                 kPpsFitBefore, edge, amplitude, rise, unused);
}

// The fit window is complete: locate the edge and start the hold-off.
[[gnu::noinline]] void FitWindow(PpsTiming& p, int v) {
    constexpr int kCount = kPpsFitBefore + kPpsFitAfter;
    int window[kCount];
    const int64_t first = p.TriggerFrame - kPpsFitBefore;
    int peak = v;
    for (int k = 0; k < kCount; ++k) {
        window[k] = p.Ring[(first + k) & (kPpsRingFrames - 1)];
        peak = std::max(peak, window[k]);
    }
    double edge = 0, amplitude = 0, rise = 0, misfit = 0;
    p.Pending = true;
    p.PendingGood =
        LocatePpsEdge(p.Method, window, kCount, kPpsFitBefore, edge, amplitude, rise, misfit);
    if (p.Method == PpsEdgeMethod::ModelFit) {
        TimeUnmodelledShape(p, window, kCount, misfit, edge, amplitude, rise);
    }
    if (!p.PendingGood) ++p.PulsesRejected, ++p.RejectedSinceLast;
    p.PendingEdge = PpsEdge();
    p.PendingEdge.Frame = static_cast<long double>(first) + edge;
    p.PendingEdge.Amplitude = amplitude;
    p.PendingEdge.RiseFrames = rise;
    p.Stage = kHoldOff;
    p.Floor = v;
    Watch(p, v - kFloorStep, std::max(peak, v + kSecondRise));
}

// Hold-off over: the pending edge is final, and the watch goes on as the channel stands.
void EndHoldOff(PpsTiming& p) {
    if (p.Pending) FinishEdge(p);
    if (p.QuietSince >= 0) {
        Arm(p);
    } else {
        WaitQuiet(p);
    }
}

bool HoldOffOver(const PpsTiming& p) { return p.FrameIndex - p.TriggerFrame >= kPpsHoldOffFrames; }

void Rise(PpsTiming& p, int v) {
    const int64_t i = p.FrameIndex;
    if (p.QuietSince < 0 || i - p.QuietSince < kPpsFitBefore || p.LastGap > i - kPpsFitBefore) {
        // Too little quiet channel before it to fit (the run's or a gap's start): skipped.
        WaitQuiet(p);
        p.QuietSince = -1;
        if (v <= kQuiet) p.QuietSince = i;
        return;
    }
    p.TriggerFrame = i;
    p.QuietSince = -1;
    p.Stage = kCollect;
    Watch(p, kNever, -kNever);  // every frame
}

}  // namespace

void PpsTimingSlow(PpsTiming& p, int v) {
    const int64_t i = p.FrameIndex;
    switch (p.Stage) {
        case kWaitQuiet:
            p.QuietSince = i;
            Arm(p);
            return;
        case kArmed:
            Rise(p, v);
            return;
        case kCollect:
            if (i - p.TriggerFrame == kPpsFitAfter - 1) FitWindow(p, v);
            return;
        default:  // kHoldOff
            if (HoldOffOver(p)) {
                EndHoldOff(p);
                if (OutsideWatch(p, v)) PpsTimingSlow(p, v);
                return;
            }
            if (v >= p.High) {
                // A second rise within the hold-off: the pending pulse is not a clean edge.
                if (p.Pending && p.PendingGood) ++p.PulsesRejected, ++p.RejectedSinceLast;
                p.Pending = false;
                p.QuietSince = -1;
                WaitQuiet(p);
                return;
            }
            p.Floor = v;
            if (v <= kQuiet && p.QuietSince < 0) p.QuietSince = i;
            Watch(p, v - kFloorStep, v + kSecondRise);
            return;
    }
}

void PpsTimingGap(PpsTiming& p, int64_t frames) {
    p.FrameIndex += frames;
    p.LastGap = p.FrameIndex;
    if (p.Stage != kHoldOff) {
        p.QuietSince = -1;
        WaitQuiet(p);
    }
}

bool TakePpsEdge(PpsTiming& p, PpsEdge& edge) {
    if (p.Stage == kHoldOff && HoldOffOver(p)) EndHoldOff(p);
    if (!p.HaveNew) return false;
    p.HaveNew = false;
    edge = p.New;
    return true;
}

bool PpsFitNow(const PpsTiming& p, long double& ppm, long double& ppmSe) {
    if (!p.HaveLast || !p.Last.FitValid) return false;
    // A fit whose latest edge is a minute old no longer describes the card.
    if (p.FrameIndex - p.Last.Frame > kPpsFineFitSeconds * kNominalRate) return false;
    ppm = p.Last.FitPpm;
    ppmSe = p.Last.FitPpmSe;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Locating the edge in its window

double PpsExp(double x) {
    if (x < -700) return 0;
    // x = k ln2 + r, |r| <= ln2 / 2, with ln2 split so that k * kLn2High is exact.
    constexpr double kInvLn2 = 1.44269504088896338700e+00;
    constexpr double kLn2High = 6.93147180369123816490e-01;
    constexpr double kLn2Low = 1.90821492927058770002e-10;
    const double k = std::floor(x * kInvLn2 + 0.5);
    const double r = (x - k * kLn2High) - k * kLn2Low;
    // Taylor series to r^14 / 14!: its remainder is below 1e-18 for |r| <= 0.35.
    double sum = 1.0 / 87178291200.0;  // 1/14!
    constexpr double kInverseFactorials[] = {1.0 / 6227020800.0,
                                             1.0 / 479001600.0,
                                             1.0 / 39916800.0,
                                             1.0 / 3628800.0,
                                             1.0 / 362880.0,
                                             1.0 / 40320.0,
                                             1.0 / 5040.0,
                                             1.0 / 720.0,
                                             1.0 / 120.0,
                                             1.0 / 24.0,
                                             1.0 / 6.0,
                                             1.0 / 2.0,
                                             1.0,
                                             1.0};
    for (double c : kInverseFactorials) sum = sum * r + c;
    return std::ldexp(sum, static_cast<int>(k));
}

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
            const double ea = PpsExp(-f.Rise * x), el = PpsExp(-f.Decay * x);
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
    for (int c = 0; c < kParameters; ++c) {
        int pivot = c;
        for (int r = c + 1; r < kParameters; ++r) {
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        }
        if (!(std::fabs(a[pivot][c]) > 0)) return false;
        for (int k = 0; k <= kParameters; ++k) std::swap(a[c][k], a[pivot][k]);
        for (int r = c + 1; r < kParameters; ++r) {
            const double q = a[r][c] / a[c][c];
            for (int k = c; k <= kParameters; ++k) a[r][k] -= q * a[c][k];
        }
    }
    for (int r = kParameters - 1; r >= 0; --r) {
        double v = a[r][kParameters];
        for (int k = r + 1; k < kParameters; ++k) v -= a[r][k] * step[k];
        step[r] = v / a[r][r];
    }
    return true;
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

constexpr int kSincLobes = 8;  // [frames] half-width of the interpolation kernel
constexpr long double kPiL = 3.141592653589793238462643383279502884L;
constexpr double kPi = static_cast<double>(kPiL);
// [frames] either side of the half-height crossing where the waveform's foot and top are read:
// past the steepest ringing, before much of the decay.
constexpr double kShapeSpan = 5;

// The band-limited waveform through the samples at frame position t: the samples weighted by
// a Lanczos-windowed sinc of kSincLobes lobes (samples outside the window count as absent).
// Our own sine, so that the result is the same bits on every system.
double BandLimitedValue(const int* w, int count, double t) {
    const double whole = std::floor(t);
    const double fraction = t - whole;
    const int centre = static_cast<int>(whole);
    long double sinFraction = 0, unusedCos = 0;
    ExtendedSinCos(kPiL * fraction, &sinFraction, &unusedCos);
    double sum = 0;
    for (int j = std::max(0, centre - kSincLobes + 1); j <= centre + kSincLobes && j < count; ++j) {
        const double x = t - j;
        if (std::fabs(x) < 1e-12) {
            sum += w[j];
            continue;
        }
        // sin(pi x) = +-sin(pi fraction), by the parity of the whole frames between them.
        const double sinPiX = ((centre - j) & 1) != 0 ? -static_cast<double>(sinFraction)
                                                      : static_cast<double>(sinFraction);
        long double sinWindow = 0, cosWindow = 0;
        ExtendedSinCos(kPiL * x / kSincLobes, &sinWindow, &cosWindow);
        const double kernel =
            sinPiX / (kPi * x) * static_cast<double>(sinWindow) * kSincLobes / (kPi * x);
        sum += w[j] * kernel;
    }
    return sum;
}

// Where the band-limited waveform crosses `level` between frames lo and hi (it must cross
// upwards there); -1 when it does not.
double BandLimitedCrossing(const int* w, int count, double lo, double hi, double level) {
    if (!(BandLimitedValue(w, count, lo) < level && BandLimitedValue(w, count, hi) >= level)) {
        return -1;
    }
    for (int k = 0; k < 48; ++k) {
        const double mid = 0.5 * (lo + hi);
        (BandLimitedValue(w, count, mid) < level ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

// The half-height crossing of the band-limited waveform: first at half the samples' height,
// then at half-way between the waveform's foot and top kShapeSpan either side of it, which
// follow the pulse's shape rather than whichever samples happen to lie at its peak.
bool BandLimitedEdge(const int* w, int count, int trigger, double base, double height,
                     double& edge) {
    double level = base + 0.5 * height;
    double t = -1;
    for (int k = 0; k < 3; ++k) {
        t = BandLimitedCrossing(w, count, trigger - 2, trigger + 1, level);
        if (t < 0) return false;
        level = 0.5 * (BandLimitedValue(w, count, t - kShapeSpan) +
                       BandLimitedValue(w, count, t + kShapeSpan));
    }
    edge = t;
    return true;
}

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
    if (method == PpsEdgeMethod::BandLimited) {
        amplitude = height;
        riseFrames = 0;
        return BandLimitedEdge(w, count, trigger, base, height, edge);
    }
    if (method == PpsEdgeMethod::HalfPeak) {
        edge = half;
        amplitude = height;
        riseFrames = 0;
        return half >= 0;
    }

    // A start from the half and the 1 - e^-2 points of a pure exponential rise.
    const double high = Crossing(w, count, 1, base + (1 - PpsExp(-2)) * height);
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
