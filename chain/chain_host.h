// What the measurement chain needs from the program around it: the read-out labels, the time
// of day, notice of panel updates and automatic chart captures, and a place for warnings.
#pragma once

#include <cstdint>
#include <string>

#include "chain/readouts.h"
#include "chain/signal_status.h"

namespace qv {

struct Surface;

enum class PanelId { Scope, Vector, Chart };

class ChainHost {
public:
    // A read-out label's whole new text.
    virtual void SetReadout(Readout id, const std::string& text) = 0;
    // The time of day of the frame being processed [ms since midnight]: the wall clock in the
    // window, stream time in the batch tool.
    virtual int64_t MillisecondsOfDay() = 0;
    // A panel buffer was written and should be shown.
    virtual void PanelChanged(PanelId) {}
    // The chart has filled with "Save screen to file?" on: `capture` holds the composed chart.
    virtual void ChartCaptured(const Surface& /*capture*/, int64_t /*millisecondsOfDay*/) {}
    // A record was appended to the I/Q text ("Save I,Q to file?" on); `iqText` holds it already.
    virtual void IqRecordAdded(const std::string& /*iqText*/, const std::string& /*record*/) {}
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
};

}  // namespace qv
