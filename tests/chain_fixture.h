// Shared test scaffolding: a measurement set up as the window sets it up, with a host that
// records every read-out and runs on stream time.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "chain/measurement.h"
#include "common/frame.h"

namespace qv {

struct ReadoutEvent {
    int64_t MillisecondsOfDay;
    Readout Id;
    std::string Text;
};

class RecordingHost final : public ChainHost {
public:
    const Measurement* measurement = nullptr;
    std::vector<ReadoutEvent> readouts;
    std::vector<std::string> warnings;
    std::vector<SecondValues> seconds;  // what SecondEnded and PeriodClosed handed over
    std::vector<PeriodValues> periods;
    std::vector<SignalStatus> statuses;  // every change of the signal's state
    int captures = 0;

    void SetReadout(Readout id, const std::string& text) override {
        readouts.push_back({MillisecondsOfDay(), id, text});
    }
    int64_t MillisecondsOfDay() override {
        return measurement ? measurement->FramesProcessed / 8 : 0;
    }
    void ChartCaptured(const Surface&, int64_t) override { ++captures; }
    void Warn(const std::string& text) override { warnings.push_back(text); }
    void SecondEnded(const Measurement&, const SecondValues& v) override { seconds.push_back(v); }
    void PeriodClosed(const PeriodValues& v) override { periods.push_back(v); }
    void StatusChanged(const SignalStatus& status) override { statuses.push_back(status); }

    // The texts of one label, oldest first.
    std::vector<std::string> Texts(Readout id) const {
        std::vector<std::string> texts;
        for (const ReadoutEvent& e : readouts) {
            if (e.Id == id) texts.push_back(e.Text);
        }
        return texts;
    }
    std::string Last(Readout id) const {
        std::vector<std::string> texts = Texts(id);
        return texts.empty() ? std::string() : texts.back();
    }
};

// A measurement after the window's initialisation and Start, with default entry texts.
struct StartedChain {
    Measurement M;
    RecordingHost Host;

    StartedChain() {
        Host.measurement = &M;
        InitialiseMeasurement(M, Host);
        StartMeasurement(M);
    }

    void Feed(const std::vector<Frame>& frames) {
        ProcessFrames(M, frames.data(), static_cast<int>(frames.size()));
    }
};

// Frames of a steady tone A cos on the RF channel at `hz`, no PPS. The tone is advanced by two
// samples, so that at the default lock frequency it is in phase with the oscillator from the
// start: the oscillator is one advance ahead at the first output sample, and the output lags
// the input by one frame.
inline std::vector<Frame> SteadyTone(long double amplitude, long double hz, int seconds) {
    std::vector<Frame> frames(static_cast<size_t>(seconds) * 8000);
    for (size_t k = 0; k < frames.size(); ++k) {
        const long double cycles = hz * static_cast<long double>(k + 2) / 8000;
        const long double v = amplitude * std::cos(2 * 3.14159265358979323846L * cycles);
        frames[k] = Frame{static_cast<int16_t>(std::lrint(v * 32767)), 0};
    }
    return frames;
}

// The chart's trace as it stands (its surface holds the columns as a ring).
inline Surface ChartTrace(const Display& d) {
    Surface s(kChartWidth, kChartHeight);
    CopyChartTrace(d, s);
    return s;
}

}  // namespace qv
