// What the measurement chain needs from the program around it: the read-out labels, the time
// of day, notice of panel updates and automatic chart captures, the numbers behind the
// read-outs and the periods for files that plot them, and a place for warnings.
#pragma once

#include <cstdint>
#include <string>

#include "chain/readouts.h"
#include "chain/signal_status.h"

namespace qv {

struct Surface;
struct Measurement;

enum class PanelId { Scope, Vector, Chart };

// The click lock's last reading, in the units its read-outs show, at full precision.
struct ClickValues {
    bool Read = false;           // the lock has read the click: the values below are set
    long double PhaseDeg = 0;    // [degrees] click phase
    long double LevelPct = 0;    // [%] click level
    long double LockFreqHz = 0;  // [Hz] SampleRate x LockStep
    int Position = 0;            // [output samples after the PPS edge] where it was read
};

// The fine PPS timing's values for a second of the corrected stream: the edge it made final
// since the previous second's end (its hold-off ends a quarter second after the edge, well
// before the second's end while the clock loop holds the edge mid-second), and the running fit.
struct FineValues {
    bool EdgeFound = false;      // a good edge became final in this second
    long double EdgeFrame = 0;   // [device frames from the run's first] with its fraction
    bool FitValid = false;       // the running fit over the last minute has enough edges
    long double CardPpm = 0;     // [ppm] from that fit, + = card runs fast
    long double CardPpmSe = 0;   // [ppm] its standard error
    bool ResidualValid = false;  // this second's edge had a fit
    long double ResidualUs = 0;  // [us] the edge minus the fit
    int Series = 0;              // the edge's series: one timing method and pulse shape
    int64_t SlipFrames = 0;      // [frames] a sample slip found before this edge (+ dropped)
};

// A second of the corrected stream has ended: the numbers behind the read-outs as they stand
// then, at the full precision the chain computes them (the read-outs round them).
struct SecondValues {
    int64_t Frame;              // [frames] index of the frame being processed, from 0
    long double FreqErrorPpm;   // [ppm] sound-card clock error, + = card runs fast
    long double TimingErrorUs;  // [us] of this second's PPS edge: 125 us per sample
    long double AudioLevelPct;  // [%] the second's PPS peak / 327.68
    ClickValues Click;          // the last click reading (of this second, or earlier)
    FineValues Fine;            // the fine PPS timing's
};

// An integration period has closed (whether or not "Save I,Q to file?" is on).
struct PeriodValues {
    int64_t Frame;        // [frames] index of the frame being processed, from 0
    long double PeriodI;  // the period's sums, as the I/Q record holds them
    long double PeriodQ;
    long double PhaseDeg;   // [degrees, (-180, 180]] of the sum vector
    long double LevelDb;    // [dB] of the period's mean vector
    int64_t DroppedFrames;  // [frames] the live capture dropped within the period
};

class ChainHost {
public:
    // A read-out label's whole new text.
    virtual void SetReadout(Readout id, const std::string& text) = 0;
    // The time of day of the frame being processed [ms since midnight]: the wall clock in the
    // window, stream time in the batch tool.
    virtual int64_t MillisecondsOfDay() = 0;
    // A panel buffer was written and should be shown.
    virtual void PanelChanged(PanelId) {}
    // False for a host that shows no panel as it changes: the chart panel is then composed only
    // when it is wanted (ShowChartPanel), not at every period.
    virtual bool ShowsPanels() const { return true; }
    // The chart has filled with "Save screen to file?" on: `capture` holds the composed chart.
    virtual void ChartCaptured(const Surface& /*capture*/, int64_t /*millisecondsOfDay*/) {}
    // A record was appended to the I/Q text ("Save I,Q to file?" on); `iqText` holds it already.
    virtual void IqRecordAdded(const std::string& /*iqText*/, const std::string& /*record*/) {}
    // Once a second, after the clock read-outs have been set; `m` is the whole measurement.
    virtual void SecondEnded(const Measurement& /*m*/, const SecondValues& /*values*/) {}
    // Once a period, after its record (if any) has been added.
    virtual void PeriodClosed(const PeriodValues& /*values*/) {}
    // Something the user should know that does not stop the measurement (an entry the chain
    // reads as something else than it looks), as one line without the program's name.
    virtual void Warn(const std::string& /*text*/) {}
    // The signal's state changed (and once at the first second's end): the new state and its
    // line for the user. Called once a second at most.
    virtual void StatusChanged(const SignalStatus& /*status*/) {}

protected:
    ~ChainHost() = default;
};

// A host that ignores everything and stands at midnight; for benchmarks.
class QuietHost final : public ChainHost {
public:
    void SetReadout(Readout, const std::string&) override {}
    int64_t MillisecondsOfDay() override { return 0; }
    bool ShowsPanels() const override { return false; }
};

}  // namespace qv
