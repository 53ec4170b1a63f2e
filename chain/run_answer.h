// The run's answer in three facts: the card's frequency error with its uncertainty and how it
// was measured, the timing's quality, and the signal's state with how long it has held. The
// batch summary, the live line and the window's status line all lead with them, in these
// words.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "chain/measurement.h"

namespace qv {

// Where the answer comes from: the fine PPS edges' fit when it has enough of the last minute's
// edges, else the classic clock loop over its settled seconds of the last minute.
enum class AnswerSource { None, FineEdges, ClockLoop };

struct RunAnswer {
    AnswerSource Frequency = AnswerSource::None;
    long double Ppm = 0;          // [ppm] + = the card runs fast
    long double Uncertainty = 0;  // [ppm] the fit's standard error, or the loop's spread
    int Count = 0;                // edges of the fit, or settled seconds of the loop
    AnswerSource Timing = AnswerSource::None;
    long double TimingRmsUs = 0;  // [us] the edges about the fit, or the loop's timing error
    int64_t TimingCount = 0;      // edges, or settled seconds
    bool StateKnown = false;      // a second has closed
    std::string StateName;        // "locked", ...
    std::string StateText;        // "Measuring: PPS and click locked"
    int64_t StateSeconds = 0;     // [s] the state has held
    // The classic clock loop over the last minute's settled seconds, whichever source answers
    // (the summary's details show it beside the fine timing's).
    bool ClassicSettled = false;
    int ClassicSeconds = 0;              // settled seconds of the last minute
    long double ClassicPpm = 0;          // [ppm] their mean frequency error
    long double ClassicSpreadPpm = 0;    // [ppm] its standard deviation
    long double ClassicTimingRmsUs = 0;  // [us] RMS of their timing error
};

RunAnswer AnswerOf(const Measurement& m);

// The summary's three opening lines, each ending in a newline: "summary: card frequency error
// +37.0001 ppm, standard error 0.000073 ppm, from the fine PPS edges of the last minute (58)",
// "  timing: ...", "  state: ...".
std::string AnswerLines(const RunAnswer& a);
// The same, short, for one line: "+37.0001 ppm +-0.000073 (fine PPS)  timing 0.006 us RMS
// (fine PPS)  locked 97 s". Empty before the first second.
std::string AnswerBrief(const RunAnswer& a);
// Its first two parts: "card +37.0001 ppm +-0.000073 (fine PPS)", "card 36.995 ppm +-0.227
// (clock loop)" or "card frequency not known yet"; "timing 0.006 us RMS (fine PPS)", ... or
// "timing not known yet".
std::string FrequencyBrief(const RunAnswer& a);
std::string TimingBrief(const RunAnswer& a);

// Mean and standard deviation of what `take` picks from the seconds the watch keeps (the last
// minute); false when it picks none.
template <typename Pick>
bool MeanAndSpread(const SignalWatch& w, Pick take, long double& mean, long double& sd,
                   int& count) {
    long double sum = 0, squares = 0;
    count = 0;
    for (const StatusSecond& s : w.Recent) {
        long double v = 0;
        if (!take(s, v)) continue;
        sum += v;
        squares += v * v;
        ++count;
    }
    if (count == 0) return false;
    mean = sum / count;
    sd = std::sqrt(std::max(0.0L, squares / count - mean * mean));
    return true;
}

// The states in which the clock loop has settled.
bool ClockSettledIn(SignalState state);

}  // namespace qv
