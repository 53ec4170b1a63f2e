// Click phase lock and baseband I/Q: mixes the RF channel with an oscillator, low-pass filters
// it, locks the oscillator to the RF click once a second, and feeds the vectorscope and the
// period integration.
#pragma once

#include <array>

struct Measurement;

constexpr int kTapCount = 27;  // low-pass filter length and ring length

struct ClickLock {
    // parameters
    int ClickPosition = 31;        // [output samples after the PPS edge] where the click is read
    long double OffsetStep = 0;    // [cycles per sample] offset rotator increment

    // state
    long double LockStep = 0;      // [cycles per sample] oscillator increment
    long double LockPhase = 0;     // [cycles, (-1, 1)]
    long double OffsetPhase = 0;   // [cycles, (-1, 1)]
    // The mixer rings: the last 27 products of the RF value with the oscillator's cosine (I)
    // and sine (Q). Each product is held exactly as a double head plus a double tail (an
    // extended value has 11 bits more than a double, so the tail is exact), which the filter
    // reads back much faster than 80-bit values; and every product is held twice (slots i and
    // i + 27) so the filter reads the 27 products oldest-first as one contiguous run starting
    // at RingIndex.
    std::array<double, 2 * kTapCount> RingIHead{}, RingITail{}, RingQHead{}, RingQTail{};
    int RingIndex = 0;             // slot of the next (and of the oldest) product, 0..26
    long double ClickI = 0, ClickQ = 0;  // smoothed I/Q at ClickPosition
    int ClickTraceX = 0, ClickTraceY = 0;  // [pixels] end of the last click-scope segment
    long double VectorI = 0, VectorQ = 0;  // running sums since the vectorscope was cleared

    // cache: cosine and sine of the offset rotator's last phase; with a fixed offset of 0 the
    // phase never moves and the pair need not be computed again.
    bool OffsetTrigValid = false;
    long double OffsetTrigPhase = 0, OffsetCos = 1, OffsetSin = 0;
};

// The 27 filter taps, tap 0 meeting the oldest product.
const std::array<long double, kTapCount>& LowPassTaps();

// One re-sampled RF value x at position n (0..7999, 0 on the PPS edge) of the second.
void PhaseLockSample(Measurement& m, int n, long double x);
