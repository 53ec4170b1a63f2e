// The status page's snapshots, made on the chain's thread at each second's close.
#include "serve/status_snapshot.h"

#include "chain/measurement.h"
#include "chain/run_answer.h"

namespace qv {

void StatusHost::SetReadout(Readout id, const std::string& text) {
    inner_.SetReadout(id, text);
    const std::string name = ReadoutName(id);
    for (auto& [label, last] : readouts_) {
        if (label == name) {
            last = text;
            return;
        }
    }
    readouts_.emplace_back(name, text);
}

void StatusHost::SecondEnded(const Measurement& m, const SecondValues& values) {
    inner_.SecondEnded(m, values);
    Publish(m, &values);
}

void StatusHost::Publish(const Measurement& m, const SecondValues* values) {
    auto s = std::make_shared<StatusSnapshot>();
    s->Second = m.SecondsEnded;
    s->TimeOfDay = m.Now();
    s->Scope = m.Screen.ScopePanel;
    s->Vector = m.Screen.VectorPanel;
    s->Chart = m.Screen.ChartPanel;
    s->Readouts = readouts_;
    const RunAnswer answer = AnswerOf(m);
    if (answer.StateKnown) {
        s->StateName = answer.StateName;
        s->StateText = answer.StateText;
        s->StateSeconds = answer.StateSeconds;
        s->Brief = AnswerBrief(answer);
    }
    if (answer.Frequency != AnswerSource::None) {
        s->FrequencySource =
            answer.Frequency == AnswerSource::FineEdges ? "fine PPS" : "clock loop";
        s->CardPpm = answer.Ppm;
        s->CardUncertaintyPpm = answer.Uncertainty;
    }
    if (values != nullptr) {
        const SecondValues& v = *values;
        s->FineValid = v.Fine.FitValid;
        s->FineCardPpm = v.Fine.CardPpm;
        s->FineCardPpmSe = v.Fine.CardPpmSe;
        s->FreqErrorPpm = v.FreqErrorPpm;
        s->TimingErrorUs = v.TimingErrorUs;
        s->AudioLevelPct = v.AudioLevelPct;
        s->ClickRead = v.Click.Read;
        s->LockFrequencyHz = v.Click.LockFreqHz;
        s->ClickPhaseDeg = v.Click.PhaseDeg;
        s->ClickLevelPct = v.Click.LevelPct;
    }
    s->PeriodsClosed = m.PeriodsClosed;
    s->FramesProcessed = m.FramesProcessed;
    if (csvFiles_) std::tie(s->SecondsCsv, s->PeriodsCsv) = csvFiles_();
    exchange_.Publish(std::move(s));
}

}  // namespace qv
