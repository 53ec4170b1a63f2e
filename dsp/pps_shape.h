// The PPS edge's shape, learned from the run's own pulses at sub-frame resolution, and each
// pulse timed by a least-squares fit of that shape: whatever a card's anti-alias filter, an AC
// coupling or a system resampler made of the receiver's pulse, the shape is the same every
// second, so the fit's result does not depend on where the edge falls within a frame.
//
// The shape is kept on the frame lattice, relative to the edge, and read between its points by
// a fractional-delay kernel (a Kaiser-windowed sinc of kShapeLobes lobes either side, its
// weights normalised to a sum of 1 so that a level passes unchanged); the same kernel aligns a
// new pulse onto the lattice when it is added to the shape. The pulse model, for the window's
// sample j [frames]:
//   w_j = B + C u + D u^2 + A S(j - e),  u = j - trigger
// with the edge e, amplitude A and a baseline of level B, slope C and curvature D (mains hum
// as large as the pulse, an AC-coupled line still recovering) fitted by Gauss-Newton. Everything
// here runs a few times a second, out of the per-frame path, in double precision from +, -, *, /
// and sqrt alone (and our own sine), so that the edges are the same bits on every system.
#pragma once

#include <cmath>
#include <cstdint>
#include <utility>

namespace qv {

constexpr int kShapeLobes = 48;  // [frames] half-width of the fractional-delay kernel
// The fit's samples, about the trigger (the first frame whose rise reached the threshold).
constexpr int kFitLead = 12;   // [frames] fitted before the trigger
constexpr int kFitTrail = 20;  // [frames] fitted from the trigger on
// The shape's lattice reaches a kernel's width beyond the fit (with a margin for the edge's
// place, which lies within a few frames of the trigger), and a pulse's window a kernel's width
// beyond the shape, so that the pulse can be aligned onto every lattice point. (An edge further
// after the trigger, a slow rise's, reads the lattice's first point for the kernel's farthest
// taps: the flat channel long before the edge, which that point holds too.)
constexpr int kShapeMargin = kShapeLobes + 4;        // [frames]
constexpr int kShapeLead = kFitLead + kShapeMargin;  // [frames] lattice before the edge
constexpr int kShapeFrames = kFitLead + kFitTrail + 2 * kShapeMargin;
constexpr int kWindowLead = kShapeLead + kShapeMargin;  // [frames] window before the trigger
constexpr int kWindowFrames = kShapeFrames + 2 * kShapeMargin;

struct PpsShape {
    // state
    int Pulses = 0;                    // pulses averaged into the shape (0: none learnt yet)
    double Values[kShapeFrames] = {};  // [of the amplitude] S at lattice point m - kShapeLead
};

// What the fit of one pulse gives.
struct ShapeFit {
    double Edge = 0;       // [frames] within the window (window[0] at 0)
    double Amplitude = 0;  // [LSB] A
    double Base = 0;       // [LSB] B
    double Slope = 0;      // [LSB per frame] C
    double Curve = 0;      // [LSB per frame^2] D
    double Misfit = 0;     // [LSB] RMS of the fit's residuals over its samples
};

// Solves the N x N equations a x = b, b in a's last column, by Gaussian elimination with partial
// pivoting (a is overwritten); false when they are singular. For the fits' normal equations.
template <int N>
bool SolveLinear(double (*a)[N + 1], double* x) {
    for (int c = 0; c < N; ++c) {
        int pivot = c;
        for (int r = c + 1; r < N; ++r) {
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        }
        if (!(std::fabs(a[pivot][c]) > 0)) return false;
        for (int k = 0; k <= N; ++k) std::swap(a[c][k], a[pivot][k]);
        for (int r = c + 1; r < N; ++r) {
            const double q = a[r][c] / a[c][c];
            for (int k = c; k <= N; ++k) a[r][k] -= q * a[c][k];
        }
    }
    for (int r = N - 1; r >= 0; --r) {
        double v = a[r][N];
        for (int k = r + 1; k < N; ++k) v -= a[r][k] * x[k];
        x[r] = v / a[r][r];
    }
    return true;
}

// A first guess of the edge in `window` (kWindowFrames samples, the trigger at kWindowLead):
// where the samples cross half-way from the baseline before the trigger to the peak after it,
// by linear interpolation. False when there is no rise.
bool RoughEdge(const int* window, ShapeFit& fit);

// [frames] the farthest from the trigger a fitted edge may lie, for an edge a card's anti-alias
// filter spreads over a few frames; a receiver's RC rise sampled straight puts the rough edge
// (and with it the shape's origin) the more frames after the trigger the faster the card, and
// is given this times the windows' scale.
constexpr double kShapeEdgeReach = 3;

// The least-squares fit of `shape` to the pulse in `window`, from `fit` (a rough edge or a
// previous fit) as its start. False when the fit does not converge or puts the edge `reach`
// frames or more from the trigger.
bool FitShape(const PpsShape& shape, const int* window, ShapeFit& fit,
              double reach = kShapeEdgeReach);

// The pulse, aligned by `fit` onto the lattice and scaled to amplitude 1 over its baseline,
// averaged into the shape. The first pulse makes the shape, and its edge the shape's origin.
void AddToShape(PpsShape& shape, const int* window, const ShapeFit& fit);

}  // namespace qv
