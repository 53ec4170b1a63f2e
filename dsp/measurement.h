// The whole measurement: every subsystem's state in one struct, and the operations that set it
// up as the window does (initialisation, Start, Reset All, the entry fields' conversions).
#pragma once

#include <string>

#include "dsp/chain_host.h"
#include "dsp/click_lock.h"
#include "dsp/front_end.h"
#include "dsp/integration.h"
#include "display/display.h"

namespace qv {

// The entry texts as typed, the option flags and the numbers derived from them.
struct Parameters {
    // parameters
    std::string LockFreqText = "1700.0";                  // Hz
    std::string OffsetText = "0.0000000000000000000";     // Hz
    std::string IntegrationText = "3";                    // s
    int BlankRfClickFlag = 1;  // 1 on, -1 off: blank the samples around the RF click
    int InvertFlag = -1;       // 1: both channels negated after re-sampling
    int SaveIqFlag = -1;       // 1: append a record per period to IqText
    int SaveScreenFlag = -1;   // 1: capture and clear the chart every 739 periods

    // state
    int SampleRate = 0;            // [samples/s] of the corrected stream, 8000 once initialised
    int IntegrationSeconds = 0;    // [s] T, 1 .. kMaxIntegrationSeconds
    long double LockFrequency = 0; // [Hz] read at Start and by Reset All
};

struct Measurement {
    Parameters Params;
    FrontEnd Front;
    ClickLock Lock;
    Integration Integ;
    Display Screen;
    std::string IqText;  // header lines plus one record per period while saving
    ChainHost* Host = nullptr;

    std::string Now() const;  // hh:mm:ss of the frame being processed, from the host
};

// The window's initialisation, in its order (surfaces, rates, offset, integration time,
// filter, trace pen, I/Q header, capture surface). `host` must outlive the measurement's use.
void InitialiseMeasurement(Measurement& m, ChainHost& host);
// What Start does to the chain: start time of the chart, rates and steps, lock frequency.
void StartMeasurement(Measurement& m);
// "Reset All".
void ResetAll(Measurement& m);
// "Fix offset": OffsetStep from the offset text.
void FixOffset(Measurement& m);

// The integration-time field: stores the text, derives IntegrationSeconds (INT of its number)
// and returns the text the field must show. A number below 1 makes it "1"; one above
// kMaxIntegrationSeconds makes it that limit, since the period length 8000 * T is a 32-bit count.
std::string ReadIntegrationTime(Measurement& m, const std::string& fieldText);

// A click at panel x on the click scope: new ClickPosition, background redrawn with the marker.
void SetClickPositionFromScope(Measurement& m, int panelX);

// A vectorscope magnification option: divisor M (1, 10, 100 or 1000), and always a fresh
// I/Q panel, even when M was already chosen (sums, dots and the chart column restart).
void SetVectorMagnification(Measurement& m, int magnification);
// "Capture screen": the chart composed onto CaptureSurface with the current time; the caller
// writes it (CaptureBitmapName, WriteCaptureBitmap). The chart itself is left as it is.
void CaptureScreen(Measurement& m);
// "Clear display".
void ClearChart(Measurement& m);

}  // namespace qv
