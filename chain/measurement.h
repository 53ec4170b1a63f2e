// The whole measurement: every block's state in one struct, the chain that runs the blocks in
// order and hands their results to the panels, the read-outs, the I/Q records and the
// automatic capture, and the operations that set it up as the window does (initialisation,
// Start, Reset All, the entry fields' conversions).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "chain/chain_host.h"
#include "chain/signal_status.h"
#include "common/frame.h"
#include "display/display.h"
#include "dsp/click_lock.h"
#include "dsp/front_end.h"
#include "dsp/integration.h"
#include "dsp/pps_timing.h"
#include "dsp/rate_converter.h"

namespace qv {

// What the entry fields hold at start-up: the window's controls, the batch tool's defaults and
// the measurement's own start all come from here.
inline constexpr const char* kStartLockFreqText = "1700.0";               // [Hz]
inline constexpr const char* kStartOffsetText = "0.0000000000000000000";  // [Hz]
inline constexpr const char* kStartIntegrationText = "3";                 // [s]

// The entry texts as typed, the option flags and the numbers derived from them.
struct Parameters {
    // parameters
    std::string LockFreqText = kStartLockFreqText;        // Hz
    std::string OffsetText = kStartOffsetText;            // Hz
    std::string IntegrationText = kStartIntegrationText;  // s
    int BlankRfClickFlag = 1;  // 1 on, -1 off: blank the samples around the RF click
    int InvertFlag = -1;       // 1: both channels negated after re-sampling
    int SaveIqFlag = -1;       // 1: append a record per period to IqText
    int SaveScreenFlag = -1;   // 1: capture and clear the chart every 739 periods

    // state
    int SampleRate = 0;             // [samples/s] of the corrected stream, 8000 once initialised
    int IntegrationSeconds = 0;     // [s] T, 1 .. kMaxIntegrationSeconds
    long double LockFrequency = 0;  // [Hz] read at Start and by Reset All
    // The lock-frequency text last warned about, while each later read finds it unchanged;
    // none after a read that needed no warning.
    std::optional<std::string> LockFreqWarnedText;
};

// The lock and offset frequencies are limited to +-kFrequencyLimit [Hz]. Any frequency beyond
// half the sample rate only aliases, so nothing meaningful lies outside; within the limit the
// oscillator's step (at most 125000 cycles per sample) keeps 47 bits after the binary point,
// so each advance is exact to better than 1e-14 cycle, and the "Lock frequency" read-out is a
// plain number of at most 15 characters. Beyond it a huge step would freeze the phase at 0 and
// the read-out would overflow its format.
constexpr long double kFrequencyLimit = 1e9L;  // [Hz]
// Lock frequencies from 0 to half the sample rate are read without a warning.
constexpr long double kLockFrequencyWarnAbove = kSamplesPerSecond / 2;  // [Hz]

struct Measurement {
    Parameters Params;
    FrontEnd Front;
    ClickLock Lock;
    Integration Integ;
    Display Screen;
    std::string IqText;  // header lines plus one record per period while saving
    ChainHost* Host = nullptr;
    int64_t FramesProcessed = 0;  // [frames] through ProcessFrame so far
    // What the run has found so far, counted once a second or once a period, so that a run
    // that measured nothing can say so at its end.
    int64_t SecondsEnded = 0;     // [s] of the corrected stream closed
    int64_t SecondsWithEdge = 0;  // [s] of them with a valid PPS edge
    int64_t PeriodsClosed = 0;    // I/Q integration periods closed
    std::string LastPeriodTime;   // hh:mm:ss of the last period close (its record's stamp)
    ClickValues LastClick;        // the click lock's last reading, for the host's SecondEnded
    // Frames the live capture dropped within the open period: the live chain adds its gaps
    // here, the period's close hands the count to the host and starts again from 0.
    int64_t PeriodFramesDropped = 0;  // [frames]
    SignalWatch Watch;                // the signal's state and the last minute's results
    // The fine edge timing beside the clock loop, on the device frames; last, so that the
    // classic blocks' state keeps its place in memory.
    PpsTiming Fine;
    // The card's own rate and what brings its frames to the chain's 8000 per second (unused at
    // 8000, where the frames go straight in).
    int InputRate = kFramesPerSecond;  // [device frames/s]
    RateConverter Converter;
    std::vector<Frame> Pending;    // device frames of the chunk not yet complete
    std::vector<Frame> Converted;  // the chain's frames from one chunk, reused
    // The card's wiring: with SwapChannels the PPS comes on the left channel and the radio on
    // the right, and each device frame's two samples are exchanged where the frames enter
    // (ProcessDeviceFrames), so that everything after reads RF left and PPS right.
    bool SwapChannels = false;
    std::vector<Frame> Swapped;  // the device frames of one call, exchanged; reused

    std::string Now() const;  // hh:mm:ss of the frame being processed, from the host
};

// ---------------------------------------------------------------------------------------------
// The chain

// One captured frame through the front end and, per output sample, the rest of the chain.
// These two take the frames as the chain reads them, RF left: SwapChannels is not applied.
void ProcessFrame(Measurement& m, Frame frame);
// A capture block's frames, in order.
void ProcessFrames(Measurement& m, const Frame* frames, int count);

// The card's frames at its own rate. At 8000 frames per second they go straight through
// ProcessFrames. At any other rate the fine PPS timing reads each device frame as it is and the
// rate converter brings them to the 8000 frames per second the rest of the chain reads; both
// take the device frames in chunks of kDeviceChunkFrames counted from the first, each chunk
// wholly through the fine timing, then its converted frames through the chain, so that how a
// caller splits the stream (a file's reads, a card's blocks) changes no result. The frames of an
// incomplete chunk wait in Pending for the next call. With SwapChannels each frame's channels
// are exchanged first, at every rate, before the fine timing and the converter see them.
constexpr int kDeviceChunkFrames = 128;
// Sets the rate before the first frame: false, changing nothing, unless it is one of
// kInputRates.
bool SetDeviceRate(Measurement& m, int framesPerSecond);
void ProcessDeviceFrames(Measurement& m, const Frame* frames, int count);
// `frames` device frames were lost (a live capture's gap) before the next ProcessDeviceFrames:
// the frames before the gap go through first, the open chunk ending there, then the fine timing
// counts the lost frames.
void DeviceFramesLost(Measurement& m, int64_t frames);
// One chunk as ProcessDeviceFrames takes it, its conversion done elsewhere (a recording's
// reader converts on a thread of its own, ahead of the chain): the chunk's `count` device frames
// through the fine timing, then the `convertedCount` frames a converter started at the same
// rate made of them (and of the chunks before) through the chain. The converter's last frames
// at the input's end come as a chunk of no device frames.
void ProcessConvertedChunk(Measurement& m, const Frame* device, int count, const Frame* converted,
                           int convertedCount);
// At the end of a finite input: the chunk still open and the frames the converter holds back
// (up to the input's end in time, as if silence followed) through the chain.
void FinishDeviceFrames(Measurement& m);
// One re-sampled RF value x at position n (0..7999, 0 on the PPS edge) of the second through
// the click lock, the vectorscope and the integration.
void PhaseLockSample(Measurement& m, int n, long double x);
// One rotated, possibly blanked baseband vector into the period integration.
void IntegrateSample(Measurement& m, long double i, long double q);

// A one-line warning when the run ended without measuring: no second of the corrected stream
// closed ("<input> (0.4 s) is too short to close one second"), or none found a PPS edge.
// Empty otherwise. `input` says what ran, e.g. "the recording".
std::string ShortfallWarning(const Measurement& m, const std::string& input);

// The short name of the signal's current state ("locked", "no-pps", ...), "starting" before
// the first second has closed; for CSV rows and summaries.
std::string StatusName(const Measurement& m);

// ---------------------------------------------------------------------------------------------
// Setting up

// The window's initialisation, in its order (surfaces, rates, offset, integration time,
// filter, trace pen, I/Q header, capture surface). `host` must outlive the measurement's use.
void InitialiseMeasurement(Measurement& m, ChainHost& host);
// What Start does to the chain: start time of the chart, rates and steps, lock frequency.
// A lock-frequency text without a number, or one outside 0 to 4000 Hz, is warned about through
// the host, once while the same text is read again.
void StartMeasurement(Measurement& m);
// "Reset All"; reads the lock frequency as Start does.
void ResetAll(Measurement& m);
// "Fix offset": OffsetStep from the offset text, limited to +-kFrequencyLimit.
void FixOffset(Measurement& m);

// The integration-time field: stores the text, derives IntegrationSeconds (INT of its number,
// limited to 1 .. kMaxIntegrationSeconds, since the period length 8000 * T is a 32-bit count)
// and returns the text the field should show once the user is done with it: "1" for a number
// below 1 or none, the limit for one above it, else the text as typed. A new T takes effect with
// the next sample: the period's count goes on, reduced modulo the new length, and its sums are
// kept, so the first record after a change holds the sums since the record before it.
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
// "Clear V-scope": the sums zeroed, an empty I/Q panel and the chart column restarted.
void ClearVectorscope(Measurement& m);

}  // namespace qv
