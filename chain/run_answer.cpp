// The run's answer in three facts, for the summary, the live line and the status line.
#include "chain/run_answer.h"

#include "common/numbers.h"

namespace qv {

bool ClockSettledIn(SignalState state) {
    return state == SignalState::NoClick || state == SignalState::LockSettling ||
           state == SignalState::Locked;
}

RunAnswer AnswerOf(const Measurement& m) {
    RunAnswer a;
    const SignalWatch& w = m.Watch;
    if (w.Recent.empty()) return a;
    a.StateKnown = true;
    a.StateName = StatusName(m);
    a.StateText = w.Current.Text;
    a.StateSeconds = w.SecondsInState;

    long double sd = 0;
    a.ClassicSettled = MeanAndSpread(
        w,
        [](const StatusSecond& s, long double& v) {
            v = s.FreqErrorPpm;
            return ClockSettledIn(s.State);
        },
        a.ClassicPpm, a.ClassicSpreadPpm, a.ClassicSeconds);
    if (a.ClassicSettled) {
        // The same seconds, so the same count.
        long double mean = 0;
        MeanAndSpread(
            w,
            [](const StatusSecond& s, long double& v) {
                v = s.TimingErrorUs;
                return ClockSettledIn(s.State);
            },
            mean, sd, a.ClassicSeconds);
        a.ClassicTimingRmsUs = std::sqrt(mean * mean + sd * sd);
    }

    const PpsTiming& p = m.Fine;
    long double ppm = 0, se = 0;
    if (PpsFitNow(p, ppm, se)) {
        a.Frequency = AnswerSource::FineEdges;
        a.Ppm = ppm;
        a.Uncertainty = se;
        a.Count = p.FitCount;
    } else if (a.ClassicSettled) {
        a.Frequency = AnswerSource::ClockLoop;
        a.Ppm = a.ClassicPpm;
        a.Uncertainty = a.ClassicSpreadPpm;
        a.Count = a.ClassicSeconds;
    }

    if (p.ResidualCount > 0) {
        a.Timing = AnswerSource::FineEdges;
        a.TimingRmsUs = std::sqrt(p.ResidualSquares / p.ResidualCount);
        a.TimingCount = p.ResidualCount;
    } else if (a.ClassicSettled) {
        a.Timing = AnswerSource::ClockLoop;
        a.TimingRmsUs = a.ClassicTimingRmsUs;
        a.TimingCount = a.ClassicSeconds;
    }
    return a;
}

namespace {

std::string Seconds(int64_t n) { return std::to_string(n) + " s"; }

}  // namespace

std::string AnswerLines(const RunAnswer& a) {
    if (!a.StateKnown) return "summary: nothing measured yet (no second closed)\n";
    std::string text = "summary: card frequency error ";
    switch (a.Frequency) {
        case AnswerSource::FineEdges:
            text += FormatSignedForText("%.4f", a.Ppm) + " ppm, standard error " +
                    FormatForText("%.6f", a.Uncertainty) +
                    " ppm, from the fine PPS edges of the last minute (" + std::to_string(a.Count) +
                    " edges)\n";
            break;
        case AnswerSource::ClockLoop:
            text += FormatSignedForText("%.3f", a.Ppm) + " ppm, standard deviation " +
                    FormatForText("%.3f", a.Uncertainty) +
                    " ppm, from the classic clock loop over the last minute's " + Seconds(a.Count) +
                    " settled (too few fine PPS edges)\n";
            break;
        case AnswerSource::None:
            text += "not known: too few fine PPS edges, and the clock loop has not settled\n";
            break;
    }
    text += "  timing: ";
    switch (a.Timing) {
        case AnswerSource::FineEdges:
            text += "PPS edges " + FormatForText("%.3f", a.TimingRmsUs) +
                    " us RMS about the fit, over " + std::to_string(a.TimingCount) +
                    " fine edges\n";
            break;
        case AnswerSource::ClockLoop:
            text += "PPS timing error " + FormatForText("%.2f", a.TimingRmsUs) +
                    " us RMS over the last minute's " + Seconds(a.TimingCount) +
                    " settled (classic clock loop)\n";
            break;
        case AnswerSource::None:
            text += "not known: no fine PPS edge fitted, and the clock loop has not settled\n";
            break;
    }
    text +=
        "  state: " + a.StateName + " for " + Seconds(a.StateSeconds) + " (" + a.StateText + ")\n";
    return text;
}

std::string FrequencyBrief(const RunAnswer& a) {
    switch (a.Frequency) {
        case AnswerSource::FineEdges:
            return "card " + FormatSignedForText("%.4f", a.Ppm) + " ppm +-" +
                   FormatForText("%.6f", a.Uncertainty) + " (fine PPS)";
        case AnswerSource::ClockLoop:
            return "card " + FormatSignedForText("%.3f", a.Ppm) + " ppm +-" +
                   FormatForText("%.3f", a.Uncertainty) + " (clock loop)";
        case AnswerSource::None:
            break;
    }
    return "card frequency not known yet";
}

std::string TimingBrief(const RunAnswer& a) {
    switch (a.Timing) {
        case AnswerSource::FineEdges:
            return "timing " + FormatForText("%.3f", a.TimingRmsUs) + " us RMS (fine PPS)";
        case AnswerSource::ClockLoop:
            return "timing " + FormatForText("%.2f", a.TimingRmsUs) + " us RMS (clock loop)";
        case AnswerSource::None:
            break;
    }
    return "timing not known yet";
}

std::string AnswerBrief(const RunAnswer& a) {
    if (!a.StateKnown) return "";
    return FrequencyBrief(a) + "  " + TimingBrief(a) + "  " + a.StateName + " " +
           Seconds(a.StateSeconds);
}

}  // namespace qv
