// Setting up the measurement as the window does: initialisation, Start, Reset All, entry fields.
#include "chain/measurement.h"

#include <algorithm>
#include <cmath>

#include "common/numbers.h"
#include "common/time_of_day.h"
#include "display/traces.h"
#include "files/iq_file.h"

namespace qv {

std::string Measurement::Now() const { return FormatTimeOfDay(Host->MillisecondsOfDay()); }

namespace {

// Rates, steps and the re-alignment of the clock loop, as Start and Reset All set them.
void StartClockLoop(Measurement& m) {
    m.Front.DeviceRate = kFramesPerSecond;
    m.Front.BaseStep = static_cast<long double>(m.Front.DeviceRate) / m.Params.SampleRate;
    m.Front.ResampleStep = m.Front.BaseStep;
    m.Front.RealignPending = 1;
}

// A frequency entry's value [Hz], limited to +-kFrequencyLimit (within it, unchanged).
long double FrequencyFromText(const std::string& text) {
    return std::clamp(NumberFromText(text), -kFrequencyLimit, kFrequencyLimit);
}

// Why the lock-frequency text will not lock where it seems to, or "" when it will.
std::string LockFrequencyProblem(const std::string& text, long double frequency) {
    const std::string quoted = "lock frequency \"" + text + "\"";
    if (!HasNumber(text)) return quoted + " holds no number: the oscillator starts at 0 Hz";
    if (frequency >= 0 && frequency <= kLockFrequencyWarnAbove) return "";
    // The oscillator turns by whole cycles per second more or less than its alias within
    // +-4000 Hz, which is what it then measures against.
    const long double alias =
        frequency - kSamplesPerSecond * RoundHalfEven(frequency / kSamplesPerSecond);
    std::string problem = quoted + " is outside 0 to 4000 Hz (half the sample rate): ";
    if (std::fabs(NumberFromText(text)) > kFrequencyLimit) {
        problem += "limited to " + FormatMask(frequency, 0) + " Hz, ";
    }
    return problem + "the oscillator turns as at " + FormatMask(alias, 3) + " Hz";
}

void ReadLockFrequency(Measurement& m) {
    Parameters& p = m.Params;
    p.LockFrequency = FrequencyFromText(p.LockFreqText);
    m.Lock.LockStep = p.LockFrequency / p.SampleRate;
    const std::string problem = LockFrequencyProblem(p.LockFreqText, p.LockFrequency);
    if (problem.empty()) {
        p.LockFreqWarnedText.reset();
    } else if (p.LockFreqWarnedText != p.LockFreqText) {
        p.LockFreqWarnedText = p.LockFreqText;
        m.Host->Warn(problem);
    }
}

}  // namespace

void FixOffset(Measurement& m) {
    m.Lock.OffsetStep = FrequencyFromText(m.Params.OffsetText) / m.Params.SampleRate;
}

std::string ReadIntegrationTime(Measurement& m, const std::string& fieldText) {
    const long double value = NumberFromText(fieldText);
    const std::string text = value < 1 ? std::string("1")
                             : value >= kMaxIntegrationSeconds + 1
                                 ? std::to_string(kMaxIntegrationSeconds)
                                 : fieldText;
    m.Params.IntegrationText = text;
    m.Params.IntegrationSeconds = static_cast<int>(IntFloor(NumberFromText(text)));
    return text;
}

void InitialiseMeasurement(Measurement& m, ChainHost& host) {
    m.Host = &host;
    const std::string now = m.Now();
    // The surfaces come first, so the start-up chart frame shows the integration time that is
    // still 0 then; the first period end redraws it.
    CreateDisplaySurfaces(m.Screen, m.Params.IntegrationSeconds, now);
    m.Params.SampleRate = kSamplesPerSecond;
    m.Lock.ClickPosition = kStartClickPosition;
    FixOffset(m);
    ReadIntegrationTime(m, m.Params.IntegrationText);
    m.Screen.VectorMagnification = 1;
    m.Screen.ChartColumn = 0;
    for (auto* ring :
         {&m.Lock.RingIHead, &m.Lock.RingITail, &m.Lock.RingQHead, &m.Lock.RingQTail}) {
        ring->fill(0);
    }
    CompleteDisplaySurfaces(m.Screen);
    m.IqText = IqTextHeader();
}

void StartMeasurement(Measurement& m) {
    ShowChartPanel(m.Screen);  // with the start time it was composed with
    m.Screen.ChartStartTime = m.Now();
    StartClockLoop(m);
    ReadLockFrequency(m);
}

void ResetAll(Measurement& m) {
    m.Params.SampleRate = kSamplesPerSecond;
    StartClockLoop(m);
    FixOffset(m);
    ReadLockFrequency(m);
    m.Lock.VectorI = 0;
    m.Lock.VectorQ = 0;
    RedrawScopeBackground(m.Screen);
    ReadIntegrationTime(m, m.Params.IntegrationText);
    ClearVectorscope(m);
    m.Screen.ChartColumn = 0;
}

void SetClickPositionFromScope(Measurement& m, int panelX) {
    m.Lock.ClickPosition =
        static_cast<int>(IntFloor(panelX / static_cast<long double>(kClickTracePixelsPerSample)));
    RedrawScopeBackground(m.Screen);
    DrawClickMarker(m.Screen, m.Lock.ClickPosition);
}

void SetVectorMagnification(Measurement& m, int magnification) {
    m.Screen.VectorMagnification = magnification;
    ClearVectorscope(m);
}

void CaptureScreen(Measurement& m) {
    ComposeCapture(m.Screen, m.Params.IntegrationSeconds, m.Now());
}

void ClearChart(Measurement& m) { ClearChart(m.Screen, m.Params.IntegrationSeconds, m.Now()); }

void ClearVectorscope(Measurement& m) {
    m.Lock.VectorI = 0;
    m.Lock.VectorQ = 0;
    ClearVectorscope(m.Screen);
}

}  // namespace qv
