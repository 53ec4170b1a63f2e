// Signal status: once a second, what the chain's results say about the signal (is there a PPS
// edge, has the clock loop settled, is the click there, has the lock settled), as a state with a
// short name for logs and a line for the user; and the full-precision values of the last
// seconds, for a run's closing summary. Fed once a second, never per sample.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace qv {

// From worst to best: each state is checked only when the ones before it do not hold.
enum class SignalState {
    NoPps,          // no PPS edge for two seconds or more (or since the start): read-outs held
    PpsUnsteady,    // edges found, but they jump about: noise or the radio on the PPS channel
    ClockSettling,  // edges found, the timing error still large
    NoClick,        // clock settled, nothing steady at the click position
    LockSettling,   // the click is there, its phase still swinging
    Locked,         // PPS and click locked: the read-outs measure
};

// Measured with simulator scenarios (a clean signal at 0, 50 and -120 ppm from cold; no PPS;
// silent or noise-only radio; swapped channels; a PPS of the wrong polarity):
constexpr int kStatusWindowSeconds = 10;  // [s] of steady readings that make a state settled
constexpr int kNoPpsAfterSeconds = 2;     // [s] the second after Start misses its edge anyway
// A settled clock loop holds the edge within about 20 us (the sub-sample estimate's bias);
// from cold it falls through 100 .. 300 us.
constexpr long double kSettledTimingErrorUs = 30;  // [us] largest |timing error| in the window
// Edges of noise or of the radio's tone burst jump hundreds of microseconds from second to
// second; a settling loop's timing error moves by tens.
constexpr long double kUnsteadyStepUs = 150;  // [us] mean |change| of the timing error
// The click vector's length before smoothing, second by second: steady for a tone (the click,
// or a carrier), Rayleigh-spread for noise alone (standard deviation 0.52 of the mean).
// Judged over a longer window than the clock: ten noise readings can look steady by chance.
constexpr int kClickWindowSeconds = 20;           // [s]
constexpr long double kClickSteadySpread = 0.25;  // largest standard deviation / mean
constexpr long double kLockedPhaseDeg = 60;       // [deg] largest |click phase| in the window
// Audio level above which a channel without an edge most likely carries a pulse of the other
// polarity (or one that rises too slowly): 5 % of full scale.
constexpr int kPpsPresentPeak = 1638;  // [0..32768]

// The state and what the user should read about it.
struct SignalStatus {
    SignalState State = SignalState::ClockSettling;
    std::string Text;  // e.g. "Measuring: PPS and click locked"
};

// The short name of a state for logs and CSV ("locked", "no-pps", ...).
const char* SignalStateName(SignalState state);
// The text of a STATUS line in the read-out log: "no-pps: No PPS edge on ...".
std::string StatusLogText(const SignalStatus& status);

// One second's results, as the chain has them at the end of the second, in full precision.
struct StatusSecond {
    bool EdgeFound = false;
    long double TimingErrorUs = 0;  // [us]
    long double FreqErrorPpm = 0;   // [ppm]
    int AudioPeak = 0;              // [0..32768]
    long double LockFrequencyHz = 0;
    // The click reading of this second, if one came (the lock is read once a second).
    bool ClickRead = false;
    long double ClickPhaseDeg = 0;   // [deg] of the smoothed click vector
    long double ClickLevel = 0;      // [full scale] of the smoothed click vector
    long double ClickMagnitude = 0;  // [full scale] of the click vector before smoothing
    SignalState State = SignalState::ClockSettling;  // filled in by WatchSecond
};

// How the program that shows the texts names what mends a fault they diagnose: quorvelle-batch
// its options (the defaults), the window its "Inverted" box and the command line it restarts
// with.
struct MendingNames {
    std::string Invert = "--invert";       // turns a falling PPS pulse over
    std::string Swap = "--swap-channels";  // takes the PPS from the left, the radio from the right
    bool SwapAtRestart = false;            // the swap is given only when the program starts
};

struct SignalWatch {
    // parameters
    int ClickPosition = 0;    // [output samples] for the user's text
    bool InvertedOn = false;  // the pulse is turned over ("Inverted", --invert)
    bool SwappedOn = false;   // the PPS is taken from the left channel (--swap-channels)
    MendingNames Mending;
    // state
    StatusSecond Pending;             // the second being gathered: the click reading comes first
    std::deque<StatusSecond> Recent;  // the last kSummarySeconds seconds, oldest first
    int64_t SecondsWithoutEdge = 0;   // [s] in a row
    bool EdgeSeen = false;            // some second since the start has found an edge
    int64_t SecondsInState = 0;       // [s] since the state last changed
    bool Reported = false;            // a state has been handed to the host
    SignalStatus Current;
};

constexpr size_t kSummarySeconds = 60;  // [s] kept for the closing summary

// The click reading of the second being gathered (before its end).
void WatchClick(SignalWatch& w, long double phaseRad, long double level, long double magnitude);
// The end of a second: the state worked out anew; true when it changed (or is the first).
bool WatchSecond(SignalWatch& w, StatusSecond second);

}  // namespace qv
