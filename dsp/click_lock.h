// Click phase lock and baseband I/Q: mixes the RF channel with an oscillator, low-pass filters
// it, locks the oscillator to the RF click once a second, rotates the baseband vector by the
// offset frequency, blanks it around the click and keeps its running sums. Only maths: the
// caller shows the results.
#pragma once

#include <array>

#include "common/numbers.h"
#include "common/trig.h"

namespace qv {

constexpr int kTapCount = 27;  // low-pass filter length
// [products] the mixer ring: one more than the filter's length, so that two samples' filters
// can read their 27 products after both samples have stored theirs
constexpr int kRingLength = kTapCount + 1;
constexpr int kStartClickPosition = 31;  // [output samples after the PPS edge] at start-up

struct ClickLock {
    // parameters
    int ClickPosition =
        kStartClickPosition;     // [output samples after the PPS edge] where the click is read
    long double OffsetStep = 0;  // [cycles per sample] offset rotator increment

    // state
    long double LockStep = 0;     // [cycles per sample] oscillator increment
    long double LockPhase = 0;    // [cycles, (-1, 1)]
    long double OffsetPhase = 0;  // [cycles, (-1, 1)]
    // The mixer rings: the last 28 products of the RF value with the oscillator's cosine (I)
    // and sine (Q). Each product is held exactly as a double head plus a double tail (an
    // extended value has 11 bits more than a double, so the tail is exact), which the filter
    // reads back much faster than 80-bit values; and every product is held twice (slots i and
    // i + 28) so the filter reads any 27 consecutive products oldest-first as one contiguous
    // run.
    std::array<double, 2 * kRingLength> RingIHead{}, RingITail{}, RingQHead{}, RingQTail{};
    int RingIndex = 0;                     // slot of the next (and of the oldest) product, 0..27
    long double ClickI = 0, ClickQ = 0;    // smoothed I/Q at ClickPosition
    long double VectorI = 0, VectorQ = 0;  // running sums since the vectorscope was cleared

    // cache: cosine and sine of the offset rotator's last phase; with a fixed offset of 0 the
    // phase never moves and the pair need not be computed again.
    bool OffsetTrigValid = false;
    long double OffsetTrigPhase = 0, OffsetCos = 1, OffsetSin = 0;
};

// The low-pass filter's 27 taps, tap 0 meeting the oldest product. Symmetric (tap k = tap
// 26 - k), so linear phase with a delay of 13 samples; they sum to 0.95855, the gain at 0 Hz,
// and remove the mixer's product at twice the lock frequency. Double values, widened exactly
// when they meet the extended products.
inline constexpr double kLowPassTaps[kTapCount] = {
    0.005187542, 0.01350045,  0.01350716,   -0.004402553, -0.0262922,  -0.02131265, 0.01523923,
    0.03742594,  -0.00213425, -0.07183742,  -0.06412266,  0.08639314,  0.2985208,   0.3992049,
    0.2985208,   0.08639314,  -0.06412266,  -0.07183742,  -0.00213425, 0.03742594,  0.01523923,
    -0.02131265, -0.0262922,  -0.004402553, 0.01350716,   0.01350045,  0.005187542};

// What one sample gives. Filled anew by every LockSample, the click reading only when read.
struct LockedSample {
    long double I, Q;                // [full scale] low-pass filtered mixer products
    long double RotatedI, RotatedQ;  // [full scale] after offset rotation and blanking
    bool ClickRead;                  // n was ClickPosition: the lock has been updated
    long double ClickPhase;          // [rad] of the smoothed click vector, when ClickRead
    long double ClickLevel;          // [full scale] its length, when ClickRead
};

// One re-sampled RF value x at position n (0..7999, 0 on the PPS edge) of the second; with
// `blank`, the samples around the click give a zero vector.
void LockSample(ClickLock& c, int n, long double x, bool blank, LockedSample& s);

// LockSample in its three steps, so that two samples can be in flight at once. MixSample
// advances the oscillator and stores the products of x; FilterLatest filters the products up
// to the last one stored, FilterLatestTwo those up to the last but one (the first sample, into
// i0, q0) and up to the last (the second, into i1, q1) side by side; FinishLockSample takes
// the filtered (i, q) of the sample at n through the click lock, the offset rotation, the
// blanking and the sums. Mixing the second sample before the first is finished gives the same
// values as LockSample on each, in order, as long as n of the first is not ClickPosition (the
// click lock moves the oscillator).
void MixSample(ClickLock& c, long double x);
void FilterLatest(const ClickLock& c, long double& i, long double& q);
void FilterLatestTwo(const ClickLock& c, long double& i0, long double& q0, long double& i1,
                     long double& q1);
void FinishLockSample(ClickLock& c, int n, long double i, long double q, bool blank,
                      LockedSample& s);

namespace click_lock_detail {
constexpr int kBlankBefore = 20;  // blanked: ClickPosition - 20 < n < ClickPosition + 300
constexpr int kBlankAfter = 300;
}  // namespace click_lock_detail

// FinishLockSample on a sample at n other than ClickPosition, without the click reading: the
// offset rotation, the blanking and the sums, the rotated vector into (rotatedI, rotatedQ).
// Inline, so that the chain keeps the vector in registers: an extended value costs the
// processor much more to store than to compute.
[[gnu::always_inline]] inline void RotateAndSum(ClickLock& c, int n, long double i, long double q,
                                                bool blank, long double& rotatedI,
                                                long double& rotatedQ) {
    if (c.OffsetStep == 0 && c.OffsetPhase == 0) {
        // No offset: the phase stays +0, whose sine is +0 and cosine 1, and the rotation
        // 1 * i - 0 * q, 0 * i + 1 * q gives i and q to the bit. They are finite, and never -0
        // (sums begun at +0 give +0 for any zero), the one value the rotation would change.
        rotatedI = i;
        rotatedQ = q;
    } else {
        c.OffsetPhase = Frac(c.OffsetPhase + c.OffsetStep);
        // Frac never gives -0, so equal phases have equal bits and equal sines and cosines.
        if (!c.OffsetTrigValid || c.OffsetPhase != c.OffsetTrigPhase) {
            ExtendedSinCos(2 * kPi * c.OffsetPhase, &c.OffsetSin, &c.OffsetCos);
            c.OffsetTrigPhase = c.OffsetPhase;
            c.OffsetTrigValid = true;
        }
        const long double cosPsi = c.OffsetCos, sinPsi = c.OffsetSin;
        rotatedI = cosPsi * i - sinPsi * q;
        rotatedQ = sinPsi * i + cosPsi * q;
    }

    using click_lock_detail::kBlankAfter, click_lock_detail::kBlankBefore;
    if (blank && c.ClickPosition - kBlankBefore < n && n < c.ClickPosition + kBlankAfter) {
        rotatedI = 0;
        rotatedQ = 0;
    }

    c.VectorI = c.VectorI + rotatedI;
    c.VectorQ = c.VectorQ + rotatedQ;
}

}  // namespace qv
