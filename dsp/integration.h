// Period integration: sums the baseband vector over T whole seconds and, when a period closes,
// gives its sums, phase and level. Only maths: the caller plots and records the period.
#pragma once

#include "common/frame.h"

namespace qv {

constexpr int kMaxIntegrationSeconds = 268435;  // 8000 * T must fit a 32-bit count

struct Integration {
    // state
    long double PeriodI = 0, PeriodQ = 0;  // sums since the last period close
    int PeriodSample = 0;                  // [samples] in the current period, 0 .. 8000*T - 1
};

// A period that has just closed, filled by IntegrateVector.
struct ClosedPeriod {
    long double PeriodI, PeriodQ;  // the period's sums, as they stood at the close
    long double Phase;             // [rad, (-pi, pi]] of the sum vector
    long double Level;             // [dB] of the period's mean vector
};

// The period's close: its sums, phase and level into `closed`, the sums restarted.
[[gnu::noinline]] void ClosePeriod(Integration& g, int periodLength, int integrationSeconds,
                                   ClosedPeriod& closed);

// One baseband vector (i, q) into the period of `integrationSeconds` [s] seconds. True when it
// closed the period, which is then in `closed` (left untouched otherwise: this runs for every
// sample, a close once in 8000 * T).
// Inline, so that the sums stay in registers; the close, once a period, is not.
inline bool IntegrateVector(Integration& g, long double i, long double q, int integrationSeconds,
                            ClosedPeriod& closed) {
    g.PeriodI = g.PeriodI + i;
    g.PeriodQ = g.PeriodQ + q;
    const int periodLength = kSamplesPerSecond * integrationSeconds;
    // Modulo the period length, dividing only when the count reaches it: at the period's end,
    // or after a shorter integration time has been set.
    g.PeriodSample = g.PeriodSample + 1;
    if (g.PeriodSample >= periodLength) g.PeriodSample %= periodLength;
    if (g.PeriodSample != periodLength - 1) return false;
    ClosePeriod(g, periodLength, integrationSeconds, closed);
    return true;
}

// True when the next vector through IntegrateVector with the same `integrationSeconds` [s]
// closes the period.
inline bool PeriodClosesNext(const Integration& g, int integrationSeconds) {
    const int periodLength = kSamplesPerSecond * integrationSeconds;
    int next = g.PeriodSample + 1;
    if (next >= periodLength) next %= periodLength;
    return next == periodLength - 1;
}

}  // namespace qv
