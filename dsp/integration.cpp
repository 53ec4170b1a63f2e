// Period integration: the sums, and each closed period's phase and level.
#include "dsp/integration.h"

#include <cmath>

#include "common/frame.h"
#include "common/numbers.h"

namespace qv {

namespace {

constexpr long double kZeroPower = 1e-15L;  // stands in for P = 0 so the logarithm is defined

}  // namespace

void ClosePeriod(Integration& g, int periodLength, int integrationSeconds, ClosedPeriod& c) {
    c.PeriodI = g.PeriodI;
    c.PeriodQ = g.PeriodQ;
    long double power = g.PeriodI * g.PeriodI + g.PeriodQ * g.PeriodQ;
    c.Phase = ArcTan2(g.PeriodQ, g.PeriodI);
    if (power == 0) power = kZeroPower;
    // The mean vector's power relative to full scale: P / (8000 T)^2.
    c.Level = 10 * std::log10(power / (static_cast<long double>(periodLength) * integrationSeconds *
                                       kSamplesPerSecond));
    g.PeriodI = 0;
    g.PeriodQ = 0;
}

}  // namespace qv
