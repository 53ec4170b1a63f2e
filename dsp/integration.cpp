// Period integration, the chart's dots and ticks, the I/Q records and the automatic capture.
#include "dsp/integration.h"

#include <cmath>

#include "common/numbers.h"
#include "dsp/measurement.h"
#include "files/iq_file.h"

namespace qv {

namespace {

constexpr long double kZeroPower = 1e-15L;  // stands in for P = 0 so the logarithm is defined
constexpr int kDotX = 740;                  // drawing column before the scroll
constexpr long double kPhaseScale = 11;     // [pixels per radian]
constexpr int kPhaseCopyOffset = 65;        // [pixels] second copy of the phase band
constexpr int kTickTop = 332, kTickBottom = 339;
constexpr int kTickEvery = 10;              // [periods]

const Colour kPhaseDotColour = MakeColour(255, 0, 0);
const Colour kLevelDotColour = MakeColour(0, 0, 255);
const Colour kTickColour = MakeColour(255, 0, 0);

// A 2 x 2 dot at x = 740..741 covering the rows ROUND(top - offset) and
// ROUND(top + 1 - offset), set in the order (740, lower), (741, upper), (740, upper),
// (741, lower). Each row is rounded from its own difference, as a tie may round either way.
void PlotDot(Surface& s, int top, long double offset, Colour colour) {
    const int lowerRow = RoundToPixel((top + 1) - offset);
    const int upperRow = RoundToPixel(top - offset);
    SetPixel(s, kDotX, lowerRow, colour);
    SetPixel(s, kDotX + 1, upperRow, colour);
    SetPixel(s, kDotX, upperRow, colour);
    SetPixel(s, kDotX + 1, lowerRow, colour);
}

void ClosePeriod(Measurement& m, int periodLength) {
    Integration& g = m.Integ;
    Display& d = m.Screen;
    const int t = m.Params.IntegrationSeconds;

    long double power = g.PeriodI * g.PeriodI + g.PeriodQ * g.PeriodQ;
    const long double periodPhase = ArcTan2(g.PeriodQ, g.PeriodI);
    if (power == 0) power = kZeroPower;
    const long double periodLevel =
        10 * std::log10(power / (static_cast<long double>(periodLength) * t * 8000));

    Surface& trace = d.ChartTraceSurface;
    if (d.Drawing) {
        PlotDot(trace, 177, kPhaseScale * periodPhase, kPhaseDotColour);
        PlotDot(trace, 177 + kPhaseCopyOffset, kPhaseScale * periodPhase, kPhaseDotColour);
        PlotDot(trace, -23, periodLevel, kLevelDotColour);
    }

    g.TickCount = (g.TickCount + 1) % kTickEvery;
    if (g.TickCount == 0 && d.Drawing) {
        for (int y = kTickBottom; y >= kTickTop; --y) SetPixel(trace, kDotX, y, kTickColour);
    }

    const std::string now = m.Now();
    if (m.Params.SaveIqFlag == 1) {
        const std::string record = IqRecord(now, g.PeriodI, g.PeriodQ);
        m.IqText += record;
        m.Host->IqRecordAdded(m.IqText, record);
    }
    g.PeriodI = 0;
    g.PeriodQ = 0;

    if (d.Drawing) {
        BlockCopy(trace, 1, 0, kChartWidth, kChartHeight, trace, 0, 0);
        ComposeChart(d, t, now);
        BlockCopy(d.ChartComposeSurface, 0, 0, kChartWidth, kChartHeight, d.ChartPanel, 0, 0);
        m.Host->PanelChanged(PanelId::Chart);
    }

    g.ChartColumn = (g.ChartColumn + 1) % kChartColumns;
    if (m.Params.SaveScreenFlag == 1 && g.ChartColumn == kCaptureColumn) {
        ComposeCapture(d, t, now);
        m.Host->ChartCaptured(d.CaptureSurface, m.Host->MillisecondsOfDay());
        ClearChart(d, t, now, g.ChartColumn);
    }
}

}  // namespace

void IntegrateSample(Measurement& m, long double i, long double q) {
    Integration& g = m.Integ;
    g.PeriodI = g.PeriodI + i;
    g.PeriodQ = g.PeriodQ + q;
    const int periodLength = kSamplesPerSecond * m.Params.IntegrationSeconds;
    g.PeriodSample = (g.PeriodSample + 1) % periodLength;
    if (g.PeriodSample == periodLength - 1) ClosePeriod(m, periodLength);
}

}  // namespace qv
