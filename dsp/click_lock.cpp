// Click phase lock, baseband I/Q, offset rotation, blanking and the vectorscope.
#include "dsp/click_lock.h"

#include <cmath>

#include "common/numbers.h"
#include "common/trig.h"
#include "dsp/measurement.h"

namespace qv {

namespace {

// Lock constants held in single precision enter with their single-precision values.
const long double kSmoothOld = static_cast<long double>(0.9f);
const long double kSmoothNew = static_cast<long double>(0.1f);
const long double kFrequencyGain = static_cast<long double>(2e-7f);  // [cycles/sample per rad]
const long double kPhaseGain = static_cast<long double>(0.04f);      // [cycles per rad]

constexpr int kBlankBefore = 20;  // blanked: ClickPosition - 20 < n < ClickPosition + 300
constexpr int kBlankAfter = 300;
constexpr int kClickTraceSamples = 64;  // RF scope trace: n = 0 .. 63, x = 2n
constexpr int kLastSampleOfSecond = 7999;

// Stores an extended value into slot `index` (and its twin index + 27) as head + tail.
inline void StoreProduct(std::array<double, 2 * kTapCount>& head,
                         std::array<double, 2 * kTapCount>& tail, int index, long double value) {
    const double h = static_cast<double>(value);
    const double t = static_cast<double>(value - h);  // exact: the 11 bits a double lacks
    head[index] = head[index + kTapCount] = h;
    tail[index] = tail[index + kTapCount] = t;
}

// The click read-outs, once a second at n = ClickPosition.
void UpdateClickLock(Measurement& m, long double i, long double q) {
    ClickLock& c = m.Lock;
    c.ClickI = kSmoothOld * c.ClickI + kSmoothNew * i;
    c.ClickQ = kSmoothOld * c.ClickQ + kSmoothNew * q;
    const long double clickLevel = std::sqrt(c.ClickI * c.ClickI + c.ClickQ * c.ClickQ);
    const long double clickPhase = ArcTan2(c.ClickQ, c.ClickI);  // [rad]
    c.LockStep = c.LockStep - kFrequencyGain * clickPhase;
    // No wrap here: the next advance takes the fractional part.
    c.LockPhase = c.LockPhase - kPhaseGain * clickPhase;

    ChainHost& host = *m.Host;
    host.SetReadout(Readout::ClickPhase,
                    "ClickPhase degrees = " + FormatMask(clickPhase * 180 / kPi, 3));
    host.SetReadout(Readout::ClickLevel, "Click Level % = " + FormatMask(100 * clickLevel, 3));
    host.SetReadout(Readout::LockFreqOut,
                    "Lock frequency = " + FormatMask(m.Params.SampleRate * c.LockStep, 3));
    host.SetReadout(Readout::ClickPeak, "Click Peak = " + std::to_string(c.ClickPosition));
}

}  // namespace

void PhaseLockSample(Measurement& m, int n, long double x) {
    ClickLock& c = m.Lock;

    c.LockPhase = Frac(c.LockPhase + c.LockStep);
    long double sinTheta, cosTheta;
    ExtendedSinCos(2 * kPi * c.LockPhase, &sinTheta, &cosTheta);
    const long double mixI = cosTheta * x;
    const long double mixQ = sinTheta * x;
    StoreProduct(c.RingIHead, c.RingITail, c.RingIndex, mixI);
    StoreProduct(c.RingQHead, c.RingQTail, c.RingIndex, mixQ);
    c.RingIndex = c.RingIndex + 1 == kTapCount ? 0 : c.RingIndex + 1;

    // Tap 0 meets the oldest product, which sits at RingIndex. The taps are double values, so
    // multiplying by the double gives the same product as by its widened copy, in one
    // instruction fewer.
    const double* taps = kLowPassTaps;
    const double* iHead = &c.RingIHead[c.RingIndex];
    const double* iTail = &c.RingITail[c.RingIndex];
    const double* qHead = &c.RingQHead[c.RingIndex];
    const double* qTail = &c.RingQTail[c.RingIndex];
    long double i = 0, q = 0;
#pragma GCC unroll 27
    for (int k = 0; k < kTapCount; ++k) {
        i += taps[k] * (static_cast<long double>(iHead[k]) + iTail[k]);  // the exact product
        q += taps[k] * (static_cast<long double>(qHead[k]) + qTail[k]);
    }

    if (n == c.ClickPosition) UpdateClickLock(m, i, q);

    if (n >= 0 && n < kClickTraceSamples && m.Screen.Drawing) {
        const int x2 = 2 * n;
        const int y = RoundToPixel(50 - 160 * std::sqrt(i * i + q * q));
        TracePoint(m.Screen.ScopeWorkSurface, c.ClickTraceX, c.ClickTraceY, x2, y, n == 0);
    }

    c.OffsetPhase = Frac(c.OffsetPhase + c.OffsetStep);
    // Frac never gives -0, so equal phases have equal bits and equal sines and cosines.
    if (!c.OffsetTrigValid || c.OffsetPhase != c.OffsetTrigPhase) {
        ExtendedSinCos(2 * kPi * c.OffsetPhase, &c.OffsetSin, &c.OffsetCos);
        c.OffsetTrigPhase = c.OffsetPhase;
        c.OffsetTrigValid = true;
    }
    const long double cosPsi = c.OffsetCos, sinPsi = c.OffsetSin;
    long double rotatedI = cosPsi * i - sinPsi * q;
    long double rotatedQ = sinPsi * i + cosPsi * q;

    if (m.Params.BlankRfClickFlag == 1 && c.ClickPosition - kBlankBefore < n &&
        n < c.ClickPosition + kBlankAfter) {
        rotatedI = 0;
        rotatedQ = 0;
    }

    c.VectorI = c.VectorI + rotatedI;
    c.VectorQ = c.VectorQ + rotatedQ;

    IntegrateSample(m, rotatedI, rotatedQ);

    Display& d = m.Screen;
    if (!d.Drawing) return;
    // Dividing by 1 changes nothing, so the default magnification skips the two divisions.
    long double dotI = c.VectorI, dotQ = c.VectorQ;
    if (d.VectorMagnification != 1) {
        const long double magnification = d.VectorMagnification;
        dotI = dotI / magnification;
        dotQ = dotQ / magnification;
    }
    SetPixel(d.VectorSurface, RoundToPixel(dotI + kVectorCentre),
             RoundToPixel(kVectorCentre - dotQ), kBlack);

    if (n == kLastSampleOfSecond) {
        BlockCopy(d.VectorSurface, 0, 0, kVectorSecondCopy, kVectorSecondCopy, d.VectorPanel, 0, 0);
        m.Host->PanelChanged(PanelId::Vector);
    }
}

}  // namespace qv
