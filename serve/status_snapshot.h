// What the measurement chain hands to the status page once a second: copies of the three panels
// and the numbers, swapped in under a lock held only for the swap, so that the chain never waits
// for the page, and the host that makes them at each second's close.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "chain/chain_host.h"
#include "display/raster.h"

namespace qv {

// The chain's state at the close of a second, as the status page shows it. Immutable once
// handed over: the page's thread reads it while the chain goes on.
struct StatusSnapshot {
    int64_t Second = 0;     // seconds of the corrected stream closed; 0: none yet
    std::string TimeOfDay;  // hh:mm:ss of the run's clock at the handover
    // The panels as the window would show them.
    Surface Scope;
    Surface Vector;
    Surface Chart;
    // The read-outs' last texts, by their label's id name ("IDFREQERROR", ...), in the order
    // they were first set.
    std::vector<std::pair<std::string, std::string>> Readouts;
    // The run's answer: the signal's state and the card's frequency error.
    std::string StateName = "starting";  // "locked", "no-pps", ...
    std::string StateText;               // "Measuring: PPS and click locked"
    int64_t StateSeconds = 0;            // [s] the state has held
    std::string Brief;                   // the live line's answer, empty before a second
    std::string FrequencySource;         // "fine PPS", "clock loop"; empty: not known yet
    long double CardPpm = 0;             // [ppm] + = the card runs fast
    long double CardUncertaintyPpm = 0;  // [ppm]
    // The fine PPS timing's running fit of the last minute's edges.
    bool FineValid = false;
    long double FineCardPpm = 0;    // [ppm]
    long double FineCardPpmSe = 0;  // [ppm] its standard error
    // The last second's numbers behind the read-outs; valid from the first second on.
    long double FreqErrorPpm = 0;
    long double TimingErrorUs = 0;
    long double AudioLevelPct = 0;
    long double LockFrequencyHz = 0;
    bool ClickRead = false;
    long double ClickPhaseDeg = 0;
    long double ClickLevelPct = 0;
    int64_t PeriodsClosed = 0;
    int64_t FramesProcessed = 0;  // [frames at 8000/s]
    // The run's CSV files as they are now (a --daily run's change at midnight); empty: none.
    std::string SecondsCsv;
    std::string PeriodsCsv;
};

// The one place where the chain's thread leaves a snapshot and the page's thread takes the
// latest. The lock guards only the pointer: whichever side drops the last reference frees the
// snapshot, outside the lock.
class StatusExchange {
public:
    void Publish(std::shared_ptr<const StatusSnapshot> snapshot) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            latest_.swap(snapshot);
        }
    }
    std::shared_ptr<const StatusSnapshot> Latest() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return latest_;
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const StatusSnapshot> latest_;
};

// The chain's host with the status page beside it: every call goes on to `inner`, the run's
// own host, first; then the read-outs' texts are kept and, at each second's close, a snapshot
// is handed to `exchange`. What `inner` writes is the same as without the page.
class StatusHost final : public ChainHost {
public:
    // `csvFiles` gives the run's --csv and --iq-csv files (a --daily run's of the day) at the
    // time of the call.
    StatusHost(ChainHost& inner, StatusExchange& exchange,
               std::function<std::pair<std::string, std::string>()> csvFiles)
        : inner_(inner), exchange_(exchange), csvFiles_(std::move(csvFiles)) {}

    // A snapshot of `m` now, with the closing second's `values` (none at the start, before any
    // second has closed).
    void Publish(const Measurement& m, const SecondValues* values = nullptr);

    void SetReadout(Readout id, const std::string& text) override;
    int64_t MillisecondsOfDay() override { return inner_.MillisecondsOfDay(); }
    void PanelChanged(PanelId id) override { inner_.PanelChanged(id); }
    void ChartCaptured(const Surface& capture, int64_t millisecondsOfDay) override {
        inner_.ChartCaptured(capture, millisecondsOfDay);
    }
    void IqRecordAdded(const std::string& iqText, const std::string& record) override {
        inner_.IqRecordAdded(iqText, record);
    }
    void SecondEnded(const Measurement& m, const SecondValues& values) override;
    void PeriodClosed(const PeriodValues& values) override { inner_.PeriodClosed(values); }
    void Warn(const std::string& text) override { inner_.Warn(text); }
    void StatusChanged(const SignalStatus& status) override { inner_.StatusChanged(status); }

private:
    ChainHost& inner_;
    StatusExchange& exchange_;
    std::function<std::pair<std::string, std::string>()> csvFiles_;
    std::vector<std::pair<std::string, std::string>> readouts_;
};

}  // namespace qv
