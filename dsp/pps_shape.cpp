// The PPS edge's learnt shape: the fractional-delay kernel, the shape's fit and its learning.
#include "dsp/pps_shape.h"

#include <algorithm>
#include <cmath>

#include "common/trig.h"

namespace qv {

namespace {

constexpr int kTaps = 2 * kShapeLobes;  // kernel weights, for k = -kShapeLobes + 1 .. kShapeLobes
constexpr double kKaiserBeta = 8.0;     // the window's shape: side lobes near -80 dB
constexpr long double kPiL = 3.141592653589793238462643383279502884L;
constexpr double kPi = static_cast<double>(kPiL);
constexpr int kFitFrames = kFitLead + kFitTrail;
constexpr double kDerivativeStep = 1e-3;  // [frames] of the shape's central difference

// The modified Bessel function I0 by its power series, which converges for every argument the
// window gives (0 .. kKaiserBeta) to a relative 1e-17 within 40 terms.
double BesselI0(double z) {
    const double q = 0.25 * z * z;
    double term = 1, sum = 1;
    for (int k = 1; k < 40 && term > 1e-18 * sum; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

// The kernel's weights for reading a lattice at `fraction` (0 <= fraction < 1) past a point:
// weights[k + kShapeLobes - 1] = h(k - fraction), normalised to a sum of 1.
void KernelWeights(double fraction, double* weights) {
    long double sinFraction = 0, cosFraction = 0;
    ExtendedSinCos(kPiL * fraction, &sinFraction, &cosFraction);
    const double s = static_cast<double>(sinFraction);
    static const double i0Beta = BesselI0(kKaiserBeta);
    double sum = 0;
    for (int k = -kShapeLobes + 1; k <= kShapeLobes; ++k) {
        const double x = k - fraction;
        double sinc = 1;
        // sin(pi (k - f)) = -(-1)^k sin(pi f)
        if (std::fabs(x) > 1e-15) sinc = ((k & 1) != 0 ? s : -s) / (kPi * x);
        const double r = x / kShapeLobes;
        const double window = r * r < 1 ? BesselI0(kKaiserBeta * std::sqrt(1 - r * r)) / i0Beta : 0;
        weights[k + kShapeLobes - 1] = sinc * window;
        sum += sinc * window;
    }
    for (int k = 0; k < kTaps; ++k) weights[k] /= sum;
}

// The shape at j - edge for every fitted sample j of the window, into `out` (kFitFrames values).
void ShapeAlong(const PpsShape& shape, double edge, double* out) {
    // Lattice position of sample j: y = j - edge + kShapeLead = n + fraction, the same fraction
    // for every j.
    const double first = kWindowLead - kFitLead - edge + kShapeLead;
    const double whole = std::floor(first);
    double weights[kTaps];
    KernelWeights(first - whole, weights);
    const int n0 = static_cast<int>(whole);
    for (int i = 0; i < kFitFrames; ++i) {
        const int n = n0 + i;
        double sum = 0;
        for (int k = 0; k < kTaps; ++k) {
            const int m = n + k - kShapeLobes + 1;
            sum += shape.Values[std::clamp(m, 0, kShapeFrames - 1)] * weights[k];
        }
        out[i] = sum;
    }
}

constexpr int kUnknowns = 5;  // edge, amplitude, baseline, its slope and its curvature

// The baseline under the pulse at window position j.
double Baseline(const ShapeFit& fit, double j) {
    const double u = j - kWindowLead;
    return fit.Base + fit.Slope * u + fit.Curve * u * u;
}

// The sum of squared residuals of the model with `fit`'s parameters, the shape given.
double Squares(const int* window, const double* s, const ShapeFit& fit) {
    double sum = 0;
    for (int i = 0; i < kFitFrames; ++i) {
        const int j = kWindowLead - kFitLead + i;
        const double r = window[j] - (Baseline(fit, j) + fit.Amplitude * s[i]);
        sum += r * r;
    }
    return sum;
}

}  // namespace

bool RoughEdge(const int* w, ShapeFit& fit) {
    const int from = kWindowLead - kFitLead;
    double base = 0;
    for (int j = from; j < kWindowLead - 1; ++j) base += w[j];
    base /= kWindowLead - 1 - from;
    int peak = w[kWindowLead];
    for (int j = kWindowLead; j < kWindowLead + kFitTrail; ++j) peak = std::max(peak, w[j]);
    const double level = 0.5 * (base + peak);
    for (int j = kWindowLead - 2; j < kWindowLead + kFitTrail; ++j) {
        if (w[j] < level) continue;
        fit.Edge = w[j - 1] < level ? j - 1 + (level - w[j - 1]) / (w[j] - w[j - 1]) : j - 1;
        fit.Amplitude = peak - base;
        fit.Base = base;
        fit.Slope = 0;
        fit.Curve = 0;
        fit.Misfit = 0;
        return peak > base;
    }
    return false;
}

bool FitShape(const PpsShape& shape, const int* w, ShapeFit& fit, double reach) {
    double s[kFitFrames], plus[kFitFrames], minus[kFitFrames];
    ShapeAlong(shape, fit.Edge, s);
    // The linear parameters first, so that Gauss-Newton starts from the best line and scale.
    for (int iteration = 0; iteration < 16; ++iteration) {
        ShapeAlong(shape, fit.Edge + kDerivativeStep, plus);
        ShapeAlong(shape, fit.Edge - kDerivativeStep, minus);
        double a[kUnknowns][kUnknowns + 1] = {};
        for (int i = 0; i < kFitFrames; ++i) {
            const int j = kWindowLead - kFitLead + i;
            const double u = j - kWindowLead;
            const double row[kUnknowns] = {
                iteration == 0 ? 0 : fit.Amplitude * (plus[i] - minus[i]) / (2 * kDerivativeStep),
                s[i], 1, u, u * u};
            const double r = w[j] - (Baseline(fit, j) + fit.Amplitude * s[i]);
            for (int p = 0; p < kUnknowns; ++p) {
                for (int q = 0; q < kUnknowns; ++q) a[p][q] += row[p] * row[q];
                a[p][kUnknowns] += row[p] * r;
            }
        }
        if (iteration == 0) a[0][0] = 1;  // the edge held where it is
        double step[kUnknowns];
        if (!SolveLinear<kUnknowns>(a, step)) return false;
        const double edgeStep = std::clamp(step[0], -0.5, 0.5);
        fit.Edge += edgeStep;
        fit.Amplitude += step[1];
        fit.Base += step[2];
        fit.Slope += step[3];
        fit.Curve += step[4];
        ShapeAlong(shape, fit.Edge, s);
        if (iteration > 0 && std::fabs(edgeStep) < 1e-9) break;
    }
    fit.Misfit = std::sqrt(Squares(w, s, fit) / kFitFrames);
    return fit.Amplitude > 0 && std::fabs(fit.Edge - kWindowLead) < reach;
}

void AddToShape(PpsShape& shape, const int* w, const ShapeFit& fit) {
    // Lattice point m lies at window position y = edge + m - kShapeLead = n + fraction.
    const double first = fit.Edge - kShapeLead;
    const double whole = std::floor(first);
    double weights[kTaps];
    KernelWeights(first - whole, weights);
    const int n0 = static_cast<int>(whole);
    const double share = 1.0 / (shape.Pulses + 1);
    for (int m = 0; m < kShapeFrames; ++m) {
        double sum = 0;
        for (int k = 0; k < kTaps; ++k) {
            // weights[k] = h(k' - fraction) with k' = k - kShapeLobes + 1 = j - n
            const int j = n0 + m + k - kShapeLobes + 1;
            sum += w[std::clamp(j, 0, kWindowFrames - 1)] * weights[k];
        }
        const double position = fit.Edge + m - kShapeLead;
        const double v = (sum - Baseline(fit, position)) / fit.Amplitude;
        shape.Values[m] += (v - shape.Values[m]) * share;
    }
    ++shape.Pulses;
}

}  // namespace qv
