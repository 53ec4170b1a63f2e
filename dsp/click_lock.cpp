// Click phase lock, baseband I/Q, offset rotation, blanking and the vectorscope sums.
#include "dsp/click_lock.h"

#include <cmath>

#include "common/numbers.h"
#include "common/trig.h"

namespace qv {

namespace {

// Lock constants held in single precision enter with their single-precision values.
const long double kSmoothOld = static_cast<long double>(0.9f);
const long double kSmoothNew = static_cast<long double>(0.1f);
const long double kFrequencyGain = static_cast<long double>(2e-7f);  // [cycles/sample per rad]
const long double kPhaseGain = static_cast<long double>(0.04f);      // [cycles per rad]

// Stores an extended value into slot `index` (and its twin index + 28) as head + tail.
inline void StoreProduct(std::array<double, 2 * kRingLength>& head,
                         std::array<double, 2 * kRingLength>& tail, int index, long double value) {
    const double h = static_cast<double>(value);
    const double t = static_cast<double>(value - h);  // exact: the 11 bits a double lacks
    head[index] = head[index + kRingLength] = h;
    tail[index] = tail[index + kRingLength] = t;
}

// The slot of the oldest of the 27 products that end `back` products before the last one
// stored: the ring's next slot is the oldest of its 28, hence the + 1.
inline int WindowStart(const ClickLock& c, int back) {
    const int start = c.RingIndex + 1 - back;
    return start >= kRingLength ? start - kRingLength : start;
}

// Once a second at n = ClickPosition: smooth the click vector and pull the oscillator's
// frequency and phase towards it.
void UpdateClickLock(ClickLock& c, LockedSample& s) {
    c.ClickI = kSmoothOld * c.ClickI + kSmoothNew * s.I;
    c.ClickQ = kSmoothOld * c.ClickQ + kSmoothNew * s.Q;
    s.ClickLevel = std::sqrt(c.ClickI * c.ClickI + c.ClickQ * c.ClickQ);
    s.ClickPhase = ArcTan2(c.ClickQ, c.ClickI);
    c.LockStep = c.LockStep - kFrequencyGain * s.ClickPhase;
    // No wrap here: the next advance takes the fractional part.
    c.LockPhase = c.LockPhase - kPhaseGain * s.ClickPhase;
}

}  // namespace

void MixSample(ClickLock& c, long double x) {
    c.LockPhase = Frac(c.LockPhase + c.LockStep);
    long double sinTheta, cosTheta;
    ExtendedSinCos(2 * kPi * c.LockPhase, &sinTheta, &cosTheta);
    const long double mixI = cosTheta * x;
    const long double mixQ = sinTheta * x;
    StoreProduct(c.RingIHead, c.RingITail, c.RingIndex, mixI);
    StoreProduct(c.RingQHead, c.RingQTail, c.RingIndex, mixQ);
    c.RingIndex = c.RingIndex + 1 == kRingLength ? 0 : c.RingIndex + 1;
}

// Tap 0 meets the oldest product. The taps are double values, so multiplying by the double
// gives the same product as by its widened copy, in one instruction fewer.
void FilterLatest(const ClickLock& c, long double& i, long double& q) {
    const int start = WindowStart(c, 0);
    const double* taps = kLowPassTaps;
    const double* iHead = &c.RingIHead[start];
    const double* iTail = &c.RingITail[start];
    const double* qHead = &c.RingQHead[start];
    const double* qTail = &c.RingQTail[start];
    long double si = 0, sq = 0;
#pragma GCC unroll 27
    for (int k = 0; k < kTapCount; ++k) {
        si += taps[k] * (static_cast<long double>(iHead[k]) + iTail[k]);  // the exact product
        sq += taps[k] * (static_cast<long double>(qHead[k]) + qTail[k]);
    }
    i = si;
    q = sq;
}

// The second sample's products are the first's moved on by one slot. Four independent sums,
// each in the order of FilterLatest, so the processor works on them side by side.
void FilterLatestTwo(const ClickLock& c, long double& i0, long double& q0, long double& i1,
                     long double& q1) {
    const int start = WindowStart(c, 1);
    const double* taps = kLowPassTaps;
    const double* iHead = &c.RingIHead[start];
    const double* iTail = &c.RingITail[start];
    const double* qHead = &c.RingQHead[start];
    const double* qTail = &c.RingQTail[start];
    long double si0 = 0, sq0 = 0, si1 = 0, sq1 = 0;
#pragma GCC unroll 27
    for (int k = 0; k < kTapCount; ++k) {
        si0 += taps[k] * (static_cast<long double>(iHead[k]) + iTail[k]);
        si1 += taps[k] * (static_cast<long double>(iHead[k + 1]) + iTail[k + 1]);
        sq0 += taps[k] * (static_cast<long double>(qHead[k]) + qTail[k]);
        sq1 += taps[k] * (static_cast<long double>(qHead[k + 1]) + qTail[k + 1]);
    }
    i0 = si0;
    q0 = sq0;
    i1 = si1;
    q1 = sq1;
}

void LockSample(ClickLock& c, int n, long double x, bool blank, LockedSample& s) {
    MixSample(c, x);
    long double i, q;
    FilterLatest(c, i, q);
    FinishLockSample(c, n, i, q, blank, s);
}

void FinishLockSample(ClickLock& c, int n, long double i, long double q, bool blank,
                      LockedSample& s) {
    s.I = i;
    s.Q = q;

    s.ClickRead = n == c.ClickPosition;
    if (s.ClickRead) UpdateClickLock(c, s);

    RotateAndSum(c, n, i, q, blank, s.RotatedI, s.RotatedQ);
}

}  // namespace qv
