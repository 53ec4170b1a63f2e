// The chain: each captured frame through the blocks in order, and each block's results handed
// to the places that act on them (panel traces, read-outs, I/Q records, automatic capture).
//
// Within one output sample the order is: the click lock (its read-outs once a second, the RF
// click trace), the integration (a closed period's dots, record, scroll and capture), the
// vectorscope dot (and once a second its panel), then the PPS edge detector with the PPS trace
// and, at the end of a second, the scope panel and the clock read-outs.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "chain/measurement.h"
#include "display/traces.h"
#include "files/iq_file.h"

namespace qv {

namespace {

// The effects that come once a second or once a period stay out of the per-sample loop, so
// that it keeps its registers and its instruction cache to itself.

[[gnu::noinline]] void ShowPeriod(Measurement& m, const ClosedPeriod& period) {
    const int t = m.Params.IntegrationSeconds;
    Display& d = m.Screen;
    PlotPeriod(d, period.Phase, period.Level);
    const std::string now = m.Now();
    ++m.PeriodsClosed;
    m.LastPeriodTime = now;
    if (m.Params.SaveIqFlag == 1) {
        const std::string record = IqRecord(now, period.PeriodI, period.PeriodQ);
        m.IqText += record;
        m.Host->IqRecordAdded(m.IqText, record);
    }
    m.Host->PeriodClosed({m.FramesProcessed, period.PeriodI, period.PeriodQ,
                          ClickPhaseDegrees(period.Phase), period.Level, m.PeriodFramesDropped});
    m.PeriodFramesDropped = 0;
    if (d.Drawing) {
        ScrollChart(d, t, now, m.Host->ShowsPanels());
        m.Host->PanelChanged(PanelId::Chart);
    }
    if (CountChartColumn(d) && m.Params.SaveScreenFlag == 1) {
        ComposeCapture(d, t, now);
        m.Host->ChartCaptured(d.CaptureSurface, m.Host->MillisecondsOfDay());
        ClearChart(d, t, now);
    }
}

// The reading comes as values, not as the sample's struct: a reference would keep that struct
// in memory on every sample for the sake of one call a second.
[[gnu::noinline]] void ShowClickReading(Measurement& m, long double phase, long double level,
                                        long double clickVectorLength) {
    WatchClick(m.Watch, phase, level, clickVectorLength);
    ChainHost& host = *m.Host;
    const long double lockFrequency = m.Params.SampleRate * m.Lock.LockStep;
    m.LastClick = {true, ClickPhaseDegrees(phase), ClickLevelPercent(level), lockFrequency,
                   m.Lock.ClickPosition};
    host.SetReadout(Readout::ClickPhase, ClickPhaseText(phase));
    host.SetReadout(Readout::ClickLevel, ClickLevelText(level));
    host.SetReadout(Readout::LockFreqOut, LockFrequencyText(lockFrequency));
    host.SetReadout(Readout::ClickPeak, ClickPeakText(m.Lock.ClickPosition));
}

// After the second's read-outs: the signal's state, with its full-precision values.
void WatchStatus(Measurement& m, const SecondEnd& end) {
    StatusSecond second;
    second.EdgeFound = end.EdgeFound;
    second.TimingErrorUs = TimingErrorMicroseconds(end.TimingErrorSamples);
    second.FreqErrorPpm = end.FreqErrorPpm;
    second.AudioPeak = end.AudioPeak;
    second.LockFrequencyHz = m.Params.SampleRate * m.Lock.LockStep;
    m.Watch.ClickPosition = m.Lock.ClickPosition;
    m.Watch.InvertedOn = m.Params.InvertFlag == 1;
    m.Watch.SwappedOn = m.SwapChannels;
    if (WatchSecond(m.Watch, second)) m.Host->StatusChanged(m.Watch.Current);
}

// The fine edge made final since the last second's end, and the running fit as it stands.
FineValues TakeFineValues(Measurement& m) {
    FineValues v;
    PpsEdge edge;
    if (TakePpsEdge(m.Fine, edge)) {
        v.EdgeFound = true;
        v.EdgeFrame = edge.Frame;
        v.ResidualValid = edge.FitValid;
        v.ResidualUs = edge.ResidualUs;
        v.Series = edge.Series;
        v.SlipFrames = edge.SlipFrames;
    }
    v.FitValid = PpsFitNow(m.Fine, v.CardPpm, v.CardPpmSe);
    return v;
}

[[gnu::noinline]] void ShowSecondEnd(Measurement& m, const SecondEnd& end) {
    ++m.SecondsEnded;
    if (end.EdgeFound) ++m.SecondsWithEdge;
    if (m.Screen.Drawing && m.Screen.PanelsShown) {
        ShowScope(m.Screen);
        m.Host->PanelChanged(PanelId::Scope);
    }
    m.Host->SetReadout(Readout::FreqError, FreqErrorText(end.FreqErrorPpm));
    m.Host->SetReadout(Readout::TimingError, TimingErrorText(end.TimingErrorSamples));
    m.Host->SetReadout(Readout::AudioLevel, AudioLevelText(end.AudioPeak));
    WatchStatus(m, end);
    m.Host->SecondEnded(
        m, {m.FramesProcessed, end.FreqErrorPpm, TimingErrorMicroseconds(end.TimingErrorSamples),
            AudioLevelPercent(end.AudioPeak), m.LastClick, TakeFineValues(m)});
}

// Inline in the chain, so that the vector stays in registers.
[[gnu::always_inline]] inline void IntegrateInline(Measurement& m, long double i, long double q) {
    ClosedPeriod period;
    if (IntegrateVector(m.Integ, i, q, m.Params.IntegrationSeconds, period)) ShowPeriod(m, period);
}

}  // namespace

void IntegrateSample(Measurement& m, long double i, long double q) { IntegrateInline(m, i, q); }

namespace {

// A locked sample's effects after its click reading: the click trace of the filtered (i, q),
// the integration of the rotated vector, and the vectorscope's dot.
[[gnu::always_inline]] inline void ShowLockedSample(Measurement& m, int n, long double i,
                                                    long double q, long double rotatedI,
                                                    long double rotatedQ) {
    Display& d = m.Screen;
    const bool panels = d.Drawing && d.PanelsShown;
    if (n >= 0 && n < kClickTraceSamples && panels) DrawClickTrace(d, n, i, q);

    IntegrateInline(m, rotatedI, rotatedQ);

    if (!panels) return;
    PlotVectorPoint(d, m.Lock.VectorI, m.Lock.VectorQ);
    if (n == kLastSampleOfSecond) {
        ShowVectorscope(d);
        m.Host->PanelChanged(PanelId::Vector);
    }
}

// The sample at the click position: LockFiltered with the click reading.
[[gnu::noinline]] void LockFilteredClick(Measurement& m, int n, long double i, long double q) {
    LockedSample s;
    FinishLockSample(m.Lock, n, i, q, m.Params.BlankRfClickFlag == 1, s);
    if (s.ClickRead) {
        ShowClickReading(m, s.ClickPhase, s.ClickLevel, std::sqrt(s.I * s.I + s.Q * s.Q));
    }
    ShowLockedSample(m, n, s.I, s.Q, s.RotatedI, s.RotatedQ);
}

// The rest of PhaseLockSample once the sample's products are filtered into (i, q). Every
// sample but the one at the click position goes through without a LockedSample, whose
// extended values would be stored and read back.
inline void LockFiltered(Measurement& m, int n, long double i, long double q) {
    if (n == m.Lock.ClickPosition) {
        LockFilteredClick(m, n, i, q);
        return;
    }
    long double rotatedI, rotatedQ;
    RotateAndSum(m.Lock, n, i, q, m.Params.BlankRfClickFlag == 1, rotatedI, rotatedQ);
    ShowLockedSample(m, n, i, q, rotatedI, rotatedQ);
}

}  // namespace

void PhaseLockSample(Measurement& m, int n, long double x) {
    MixSample(m.Lock, x);
    long double i, q;
    FilterLatest(m.Lock, i, q);
    LockFiltered(m, n, i, q);
}

namespace {

constexpr int kPpsTraceFirstIndex = kPpsEdgeIndex - kPpsTraceEdgeSample;

// The front end's end of a sample, after the click lock: the PPS edge detector with the PPS
// trace and, at the end of a second, its read-outs.
inline void EndChainSample(Measurement& m, const ResampledSample& sample) {
    FrontEnd& f = m.Front;
    Display& d = m.Screen;
    SecondEnd end;
    const bool secondEnded = EndSample(f, m.Params.SampleRate, end);
    const int k = sample.SecondIndex - kPpsTraceFirstIndex;
    if (k >= 0 && k < kPpsTraceSamples && d.Drawing && d.PanelsShown) {
        DrawPpsTrace(d, k, f.PpsOut);
    }
    if (secondEnded) ShowSecondEnd(m, end);
}

// The rest of the chain on one output sample of the front end: the click lock and what follows
// it, then the PPS edge detector with the PPS trace and, at the end of a second, its read-outs.
inline void ChainSample(Measurement& m, const ResampledSample& sample) {
    PhaseLockSample(m, sample.N, sample.Rf);
    EndChainSample(m, sample);
}

// A sample whose chain touches nothing beyond the lock's sums, the integration's running sums
// and the vectorscope's dot: no click reading (which moves the oscillator), no period close,
// no second end, no scope trace and no panel shown. What comes after it in the stream (the
// front end's next samples, the fine timing's and the frame count's next frames) can then be
// worked out before its click lock is finished, and the next sample's oscillator, mixer and
// filter run beside its own.
inline bool QuietSample(const Measurement& m, const ResampledSample& sample) {
    const Display& d = m.Screen;
    if (sample.N == m.Lock.ClickPosition || sample.SecondIndex == kLastSampleOfSecond) {
        return false;
    }
    if (PeriodClosesNext(m.Integ, m.Params.IntegrationSeconds)) return false;
    if (!(d.Drawing && d.PanelsShown)) return true;
    const int k = sample.SecondIndex - kPpsTraceFirstIndex;
    return sample.N >= kClickTraceSamples && sample.N != kLastSampleOfSecond &&
           (k < 0 || k >= kPpsTraceSamples);
}

// The frames of one call, taken one by one as the front end asks for them, each through the
// fine timing first when `FeedFine` is set.
struct FrameCursor {
    const Frame* Frames;
    int Count;
    bool FeedFine;
    bool Inverted;
    int Next = 0;         // the frame to load next
    bool Loaded = false;  // a frame is loaded that may still give output samples
};

// The next output sample of the front end (true), loading frames as needed; false when the
// call's frames are used up. Each frame is counted once its output samples are all given.
inline bool PullSample(Measurement& m, FrameCursor& c, ResampledSample& sample) {
    for (;;) {
        if (c.Loaded) {
            if (NextSample(m.Front, c.Inverted, sample)) return true;
            c.Loaded = false;
            ++m.FramesProcessed;
        }
        if (c.Next == c.Count) return false;
        const Frame frame = c.Frames[c.Next++];
        if (c.FeedFine) FeedPpsTiming(m.Fine, frame.Pps, c.Inverted);
        LoadFrame(m.Front, frame);
        c.Loaded = true;
    }
}

// Frames at 8000 frames per second, each through the front end and, per output sample, the
// rest of the chain. With `feedFine` each frame goes through the fine timing first (the card's
// own frames); else the fine timing has had the card's frames already.
//
// Two samples in flight: a quiet sample's oscillator and mixer run, its front end moves on to
// the next sample, whose oscillator and mixer run too, and then both filters side by side;
// the quiet sample is finished, then the next one as any other. Every value and every effect
// comes as with one sample at a time, in the same order.
void ProcessChainFrames(Measurement& m, const Frame* frames, int count, bool feedFine) {
    FrameCursor c{frames, count, feedFine, m.Params.InvertFlag == 1};
    ResampledSample a, b;
    if (!PullSample(m, c, a)) return;
    for (;;) {
        if (!QuietSample(m, a)) {
            ChainSample(m, a);
            if (!PullSample(m, c, a)) return;
            continue;
        }
        MixSample(m.Lock, a.Rf);
        SecondEnd end;
        EndSample(m.Front, m.Params.SampleRate, end);  // a quiet sample ends no second
        long double ia, qa;
        if (!PullSample(m, c, b)) {
            FilterLatest(m.Lock, ia, qa);
            LockFiltered(m, a.N, ia, qa);
            return;
        }
        MixSample(m.Lock, b.Rf);
        long double ib, qb;
        FilterLatestTwo(m.Lock, ia, qa, ib, qb);
        LockFiltered(m, a.N, ia, qa);
        LockFiltered(m, b.N, ib, qb);
        EndChainSample(m, b);
        if (!PullSample(m, c, a)) return;
    }
}

}  // namespace

void ProcessFrame(Measurement& m, Frame frame) { ProcessChainFrames(m, &frame, 1, true); }

void ProcessFrames(Measurement& m, const Frame* frames, int count) {
    ProcessChainFrames(m, frames, count, true);
}

void ProcessConvertedChunk(Measurement& m, const Frame* device, int count, const Frame* converted,
                           int convertedCount) {
    FeedPpsTimingFrames(m.Fine, device, count, m.Params.InvertFlag == 1);
    ProcessChainFrames(m, converted, convertedCount, false);
}

namespace {

// One chunk of device frames: all of it through the fine timing, then what the converter makes
// of it through the chain.
void ProcessDeviceChunk(Measurement& m, const Frame* frames, int count) {
    m.Converted.clear();
    ConvertFrames(m.Converter, frames, static_cast<size_t>(count), m.Converted);
    ProcessConvertedChunk(m, frames, count, m.Converted.data(),
                          static_cast<int>(m.Converted.size()));
}

}  // namespace

bool SetDeviceRate(Measurement& m, int framesPerSecond) {
    if (!IsInputRate(framesPerSecond)) return false;
    m.InputRate = framesPerSecond;
    SetPpsTimingRate(m.Fine, framesPerSecond);
    m.Pending.clear();
    if (framesPerSecond != kFramesPerSecond) {
        StartRateConverter(m.Converter, framesPerSecond);
        m.Pending.reserve(kDeviceChunkFrames);
    }
    return true;
}

namespace {

// The device frames as the card delivers them, RF left and PPS right.
void ProcessWiredFrames(Measurement& m, const Frame* frames, int count) {
    if (m.InputRate == kFramesPerSecond) {
        ProcessFrames(m, frames, count);
        return;
    }
    int i = 0;
    if (!m.Pending.empty()) {
        const int take = std::min(count, kDeviceChunkFrames - static_cast<int>(m.Pending.size()));
        m.Pending.insert(m.Pending.end(), frames, frames + take);
        i = take;
        if (static_cast<int>(m.Pending.size()) < kDeviceChunkFrames) return;
        ProcessDeviceChunk(m, m.Pending.data(), kDeviceChunkFrames);
        m.Pending.clear();
    }
    for (; count - i >= kDeviceChunkFrames; i += kDeviceChunkFrames)
        ProcessDeviceChunk(m, frames + i, kDeviceChunkFrames);
    m.Pending.insert(m.Pending.end(), frames + i, frames + count);
}

}  // namespace

void ProcessDeviceFrames(Measurement& m, const Frame* frames, int count) {
    if (!m.SwapChannels) {
        ProcessWiredFrames(m, frames, count);
        return;
    }
    m.Swapped.resize(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) m.Swapped[i] = {frames[i].Pps, frames[i].Rf};
    ProcessWiredFrames(m, m.Swapped.data(), count);
}

namespace {

// The open chunk, however short, through the fine timing and the converter.
void EndPendingChunk(Measurement& m) {
    if (m.Pending.empty()) return;
    ProcessDeviceChunk(m, m.Pending.data(), static_cast<int>(m.Pending.size()));
    m.Pending.clear();
}

}  // namespace

void DeviceFramesLost(Measurement& m, int64_t frames) {
    EndPendingChunk(m);
    PpsTimingGap(m.Fine, frames);
}

void FinishDeviceFrames(Measurement& m) {
    if (m.InputRate == kFramesPerSecond) return;
    EndPendingChunk(m);
    m.Converted.clear();
    FinishFrames(m.Converter, m.Converted);
    ProcessChainFrames(m, m.Converted.data(), static_cast<int>(m.Converted.size()), false);
}

std::string ShortfallWarning(const Measurement& m, const std::string& input) {
    if (m.SecondsEnded == 0) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f",
                      static_cast<double>(m.FramesProcessed) / kFramesPerSecond);
        return input + " (" + seconds + " s) is too short to close one second";
    }
    if (m.SecondsWithEdge == 0) {
        return "no PPS edge found in " + std::to_string(m.SecondsEnded) + " s on the " +
               (m.SwapChannels ? "left" : "right") +
               " channel: check the GPS receiver's pulse and its channel";
    }
    return "";
}

std::string StatusName(const Measurement& m) {
    return m.Watch.Reported ? SignalStateName(m.Watch.Current.State) : "starting";
}

}  // namespace qv
