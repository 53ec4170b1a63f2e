// Period integration: sums the baseband vector over T whole seconds, plots each period's phase
// and level on the chart and appends its I/Q record while saving.
#pragma once

namespace qv {

struct Measurement;

constexpr int kChartColumns = 740;     // periods on the chart
constexpr int kCaptureColumn = 739;    // automatic capture when the column count reaches this
constexpr int kMaxIntegrationSeconds = 268435;  // 8000 * T must fit a 32-bit count

struct Integration {
    // state
    long double PeriodI = 0, PeriodQ = 0;  // sums since the last period close
    int PeriodSample = 0;  // [samples] in the current period, 0 .. 8000*T - 1
    int TickCount = 0;     // closed periods modulo 10, never reset
    int ChartColumn = 0;   // closed periods modulo 740 since the chart was last cleared
};

void IntegrateSample(Measurement& m, long double i, long double q);

}  // namespace qv
