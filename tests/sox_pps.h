// Test helper: PPS recordings made by sox alone, whose filters nobody here wrote, so that the
// simulator is not the only truth, with their truth worked out from first principles.
//
// The signal. At 192 kHz on the card's own clock, `synth` draws a square wave of frequency
// f = 1 / (1 + Ppm 1e-6) Hz, so that a period is exactly 192000 (1 + Ppm 1e-6) samples (one GPS
// second of a card that is Ppm fast), 0 or 1 (an offset of 50 %), high for a fraction
// WidthMs / 1000 of each period (the duty cycle). sox's square is high at sample i when
// frac(i f / 192000 + p) < duty, p its phase as a fraction of a period (checked for many
// periods against sox itself: the test beside this file does it again). So, with p =
// 1 - FirstPulseSeconds, pulse k (k = 1, 2, ...) is high from sample ceil((k - p) 192000 / f)
// to the sample before ceil((k - p + duty) 192000 / f): those are the truth, exact unless
// (k - p) 192000 / f lies within about 1e-7 of a whole number, where sox's double arithmetic may
// take the pulse a sample late (600 s at +43.2 ppm come no nearer than 6e-4). A pulse a few
// samples long (10 us is 1.92) is one sample longer or shorter by where it falls; a width below
// one sample (5.2 us) may vanish.
//
// The recording. sox then scales the pulse to Level (negated when Inverted) on the right
// channel with silence or white noise on the left (`remix`), slows its rise through a
// first-order low-pass (`lowpass -1 RcHz`, a receiver's RC output; its step response starts
// at the step and has the same shape every pulse, so it moves every edge's half height by
// the same time), couples it through a first-order high-pass (`highpass -1 AcHz`, an AC
// coupling), filters and decimates it to the card's rate
// (`rate -v`, linear phase, or `rate -v -M`, minimum phase), resamples that to 8000 (`rate -v`,
// or the cubic `rate -q` of a low-quality resampler; none for a card at 8000), dithers (TPDF,
// `dither`) and writes a stereo 16-bit WAV. `-R` seeds sox's noise and dither the same every run.
//
// A card at its own rate (Resampler None): no resampler to 8000; the file is at CardRate. The
// train is drawn at SynthRate with no clock error (a square of 1 Hz, edges on whole samples),
// and sox's `speed` S = 1 / (1 + Ppm 1e-6) then gives the card's clock error exactly: sox takes
// the samples for ones at SynthRate S and its `rate -v` filters them down to the card's rate, so
// an edge keeps its place between the card's frames. A pulse's first high sample i then lies at
// card frame (i - 0.5) CardRate / (SynthRate S) (CardFrames), every fraction of a frame reached
// as the card walks.
//
// The truth in frames. Sample i at 192 kHz is at 8 kHz frame i / 24. A pulse's step lies
// between its last low sample and its first high one, at (i - 0.5) / 24: sox's linear-phase
// rate filters keep the time line (output sample 0 is input sample 0) and, being symmetric, put
// a step's half height at its middle. An AC coupling shifts the half height by a fraction of the
// rise over its time constant (0.01 frame at 20 Hz). The cubic `rate -q` moves an edge by where
// it falls between the card's samples. sox takes part of the delay out of its minimum-phase
// filters too, an amount of its own choosing: their edges come early (half height 0.53 frame
// early at a card of 8 kHz, 0.16 at 48 kHz; the rise's centroid 1.02 and 0.11): compare such
// edges minus their mean.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "dsp/pps_timing.h"
#include "tests/tool_runner.h"

namespace qv {

enum class SoxCardFilter { Linear, Minimum };  // rate -v, rate -v -M
// rate -v, rate -q to 8000; None: the card's own rate is written
enum class SoxResampler { VeryHigh, LowQuality, None };

struct SoxPpsOptions {
    double Seconds = 10;             // [card s] length: Seconds * 8000 frames
    double Ppm = 0;                  // [ppm] the card's clock error, + = the card runs fast
    double FirstPulseSeconds = 0.3;  // [GPS s] after the first sample, where pulse 1 starts
    double WidthMs = 100;            // [ms] of each pulse
    double Level = 0.6;              // [full scale] pulse height
    bool Inverted = false;           // a pulse of -Level
    double AcHz = 0;                 // [Hz] corner of the AC coupling; 0: DC coupled
    double RcHz = 0;       // [Hz] corner of a receiver's single-pole RC rise (at the train's rate)
    int CardRate = 48000;  // [Hz] the card's rate; 8000: a card at 8 kHz, no resampler
    SoxCardFilter Filter = SoxCardFilter::Linear;
    SoxResampler Resampler = SoxResampler::VeryHigh;
    bool Dither = true;      // TPDF dither before the 16-bit rounding (else rounding alone)
    double LeftNoise = 0;    // [full scale] amplitude of white noise on the left; 0: silence
    int SynthRate = 192000;  // [Hz] the train is drawn at (Resampler None; else 192000)
};

struct SoxPps {
    std::string Path;                  // the WAV written
    std::string Error;                 // empty, or what sox said when it failed
    std::vector<std::string> Command;  // sox's command line
    long double FramesPerSecond = 0;   // [frames per GPS s] 8000 (1 + Ppm 1e-6)
    // Each pulse that starts in the file, pulse 1 first:
    std::vector<long long> FirstSamples;   // [192 kHz samples] its first high sample
    std::vector<long long> EndSamples;     // [192 kHz samples] its first low sample after
    std::vector<long double> StartFrames;  // [8 kHz frames] (FirstSample - 0.5) / 24
    // Resampler None: [card frames] (FirstSample - 0.5) CardRate / (SynthRate S)
    std::vector<long double> CardFrames;
};

// The speed that makes a card at its own rate run Ppm fast, as given to sox.
inline double SoxCardSpeed(double ppm) { return 1 / (1 + ppm * 1e-6); }

// A number as sox reads it back to the same double.
inline std::string SoxNumber(double v) {
    char text[40];
    std::snprintf(text, sizeof(text), "%.17g", v);
    return text;
}

// The square's frequency [Hz] and phase and duty cycle [%], as given to sox and as sox reads
// them (the truth uses the very doubles sox computes with).
struct SoxSquare {
    double Frequency, PhasePercent, DutyPercent;
};

inline SoxSquare SoxPpsSquare(const SoxPpsOptions& o) {
    const double ppm = o.Resampler == SoxResampler::None ? 0 : o.Ppm;  // then sox's speed
    return {1 / (1 + ppm * 1e-6), (1 - o.FirstPulseSeconds) * 100, o.WidthMs / 10};
}

// The `synth` effect's words: the pulse train at 192 kHz, white noise first when LeftNoise > 0.
inline std::vector<std::string> SoxPpsSynth(const SoxPpsOptions& o) {
    const SoxSquare q = SoxPpsSquare(o);
    std::vector<std::string> words = {"synth", SoxNumber(o.Seconds)};
    if (o.LeftNoise > 0) words.push_back("whitenoise");
    for (const std::string& w : {std::string("square"), SoxNumber(q.Frequency), std::string("50"),
                                 SoxNumber(q.PhasePercent), SoxNumber(q.DutyPercent)}) {
        words.push_back(w);
    }
    return words;
}

// Writes the recording to `path` (a .wav) and works out its truth.
inline SoxPps MakeSoxPps(const SoxPpsOptions& o, const std::string& path) {
    SoxPps r;
    r.Path = path;
    const bool atCard = o.Resampler == SoxResampler::None;
    const int synthRate = atCard ? o.SynthRate : 192000;
    const int fileRate = atCard ? o.CardRate : 8000;
    r.FramesPerSecond = fileRate * (1 + static_cast<long double>(o.Ppm) * 1e-6L);

    std::vector<std::string>& c = r.Command;
    c = {"sox",
         "-D",
         "-R",
         "-r",
         std::to_string(synthRate),
         "-n",
         "-b",
         "16",
         "-e",
         "signed-integer",
         "-c",
         "2",
         "-r",
         std::to_string(fileRate),
         path};
    for (const std::string& w : SoxPpsSynth(o)) c.push_back(w);
    const std::string pulse =
        (o.LeftNoise > 0 ? "2v" : "1v") + SoxNumber(o.Inverted ? -o.Level : o.Level);
    c.insert(c.end(), {"remix", o.LeftNoise > 0 ? "1v" + SoxNumber(o.LeftNoise) : "0", pulse});
    if (o.RcHz > 0) c.insert(c.end(), {"lowpass", "-1", SoxNumber(o.RcHz)});
    if (o.AcHz > 0) c.insert(c.end(), {"highpass", "-1", SoxNumber(o.AcHz)});
    if (atCard) c.insert(c.end(), {"speed", SoxNumber(SoxCardSpeed(o.Ppm))});
    if (o.CardRate != synthRate || atCard) {
        c.insert(c.end(), {"rate", "-v"});
        if (o.Filter == SoxCardFilter::Minimum) c.push_back("-M");
        c.push_back(std::to_string(o.CardRate));
    }
    if (o.CardRate != 8000 && !atCard) {
        c.insert(c.end(), {"rate", o.Resampler == SoxResampler::VeryHigh ? "-v" : "-q", "8000"});
    }
    if (o.Dither) c.push_back("dither");

    const ToolRun run = RunProgram(c, {}, path + ".out", path + ".err", std::chrono::minutes(10));
    std::error_code ignored;
    std::filesystem::remove(path + ".out", ignored);
    std::filesystem::remove(path + ".err", ignored);
    if (run.Status != 0) {
        r.Error = "sox failed (status " + std::to_string(run.Status) + "): " + run.Err;
        return r;
    }

    // The truth, in long double from the doubles sox reads: periods of SynthRate / f samples.
    const SoxSquare q = SoxPpsSquare(o);
    const long double period =
        synthRate / static_cast<long double>(std::stod(SoxNumber(q.Frequency)));
    const long double phase = std::stod(SoxNumber(q.PhasePercent)) / 100.0L;
    const long double duty = std::stod(SoxNumber(q.DutyPercent)) / 100.0L;
    const long double samples = static_cast<long double>(o.Seconds) * synthRate;
    const long double speed = std::stod(SoxNumber(SoxCardSpeed(o.Ppm)));
    for (long long k = 1;; ++k) {
        const long double first = std::ceil((k - phase) * period);
        if (first >= samples) break;
        r.FirstSamples.push_back(static_cast<long long>(first));
        r.EndSamples.push_back(static_cast<long long>(std::ceil((k - phase + duty) * period)));
        r.StartFrames.push_back((first - 0.5L) / (synthRate / 8000.0L));
        if (atCard) r.CardFrames.push_back((first - 0.5L) * o.CardRate / (synthRate * speed));
    }
    return r;
}

// The fine timing of a card's own frames against their truth.
struct SoxTimed {
    PpsTiming Timing;
    std::vector<PpsEdge> Edges;
    std::vector<long double> Truth;  // [card frames] each edge's, the nearest
    std::vector<double> Error;       // [us] each edge less its truth, less their mean
    double Rms = 0;                  // [us] of Error
    double Worst = 0;                // [us] largest |Error|
};

// Feeds `pps` at `rate` frames per second to the fine timing, taking its edges twice a second
// as the chain would, and compares each with the nearest of `truth` [card frames, ascending].
inline SoxTimed TimeSoxPps(const std::vector<int16_t>& pps, int rate,
                           const std::vector<long double>& truth, bool inverted) {
    SoxTimed t;
    SetPpsTimingRate(t.Timing, rate);
    std::vector<double> raw;
    for (size_t k = 0; k <= pps.size(); ++k) {
        PpsEdge e;
        if ((k % static_cast<size_t>(rate / 2) == 0 || k == pps.size()) &&
            TakePpsEdge(t.Timing, e) && !truth.empty()) {
            auto at = std::lower_bound(truth.begin(), truth.end(), e.Frame);
            if (at == truth.end() || (at != truth.begin() && e.Frame - at[-1] < *at - e.Frame))
                --at;
            t.Edges.push_back(e);
            t.Truth.push_back(*at);
            raw.push_back(static_cast<double>((e.Frame - *at) / rate * 1000000));
        }
        if (k < pps.size()) FeedPpsTiming(t.Timing, pps[k], inverted);
    }
    double mean = 0, squares = 0;
    for (double e : raw) mean += e / static_cast<double>(raw.size());
    for (double e : raw) {
        t.Error.push_back(e - mean);
        squares += (e - mean) * (e - mean);
        t.Worst = std::max(t.Worst, std::fabs(e - mean));
    }
    t.Rms = raw.empty() ? NAN : std::sqrt(squares / static_cast<double>(raw.size()));
    return t;
}

// The right channel of a stereo 16-bit WAV that sox wrote, at whatever rate (the chunks walked
// to "data"); empty when there is none.
inline std::vector<int16_t> ReadSoxPpsChannel(const std::string& path) {
    std::vector<int16_t> pps;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return pps;
    unsigned char header[12], chunk[8];
    if (std::fread(header, 1, 12, f) == 12) {
        while (std::fread(chunk, 1, 8, f) == 8) {
            const unsigned long size = chunk[4] | chunk[5] << 8 | chunk[6] << 16 |
                                       static_cast<unsigned long>(chunk[7]) << 24;
            if (std::string(reinterpret_cast<char*>(chunk), 4) != "data") {
                std::fseek(f, static_cast<long>(size + (size & 1)), SEEK_CUR);
                continue;
            }
            std::vector<unsigned char> bytes(size);
            bytes.resize(std::fread(bytes.data(), 1, size, f));
            for (size_t k = 0; k + 4 <= bytes.size(); k += 4) {
                pps.push_back(static_cast<int16_t>(bytes[k + 2] | bytes[k + 3] << 8));
            }
            break;
        }
    }
    std::fclose(f);
    return pps;
}

// A card at its own rate whose pulses are jittered: pulse k (k = 0, 1, ...) displaced by
// jitter[k] seconds. Each second is drawn by its own sox run, a pulse at FirstPulseSeconds (the
// train of MakeSoxPps, one second of it, no clock error) through `speed` S_k and the card's
// `rate -v` to 32-bit floats at the card's rate: S_k = 1 / (1 + jitter[k] / T0), T0 the time of
// the edge's half step, moves the edge from T0 to T0 / S_k, later by jitter[k] exactly. Each
// second is cut or padded to CardRate frames where the channel is at rest (zero), the seconds
// are joined, and a last run scales them to Level, couples them (AcHz) and dithers them to a
// stereo 16-bit WAV (the left silent): the filters are linear, so their order does not matter.
// CardFrames holds the truth: pulse k at k CardRate + T0 CardRate / S_k.
inline SoxPps MakeSoxJitteredPps(const SoxPpsOptions& o, const std::vector<double>& jitter,
                                 const std::string& path) {
    SoxPps r;
    r.Path = path;
    r.FramesPerSecond = o.CardRate;
    SoxPpsOptions one = o;
    one.Ppm = 0;
    one.Seconds = 1;
    one.Resampler = SoxResampler::None;
    const SoxSquare q = SoxPpsSquare(one);
    const long double phase = std::stod(SoxNumber(q.PhasePercent)) / 100.0L;
    const long double first = std::ceil((1 - phase) * o.SynthRate);  // q.Frequency is 1
    const long double edge = (first - 0.5L) / o.SynthRate;           // T0 [s]
    std::vector<float> all;
    const std::string segment = path + ".f32";
    for (size_t k = 0; k < jitter.size(); ++k) {
        const double speed = static_cast<double>(1 / (1 + jitter[k] / edge));
        std::vector<std::string> c = {"sox",
                                      "-D",
                                      "-r",
                                      std::to_string(o.SynthRate),
                                      "-n",
                                      "-t",
                                      "raw",
                                      "-e",
                                      "floating-point",
                                      "-b",
                                      "32",
                                      "-c",
                                      "1",
                                      "-r",
                                      std::to_string(o.CardRate),
                                      segment};
        for (const std::string& w : SoxPpsSynth(one)) c.push_back(w);
        c.insert(c.end(), {"speed", SoxNumber(speed), "rate", "-v", std::to_string(o.CardRate)});
        const ToolRun run =
            RunProgram(c, {}, path + ".out", path + ".err", std::chrono::minutes(1));
        if (run.Status != 0) {
            r.Error = "sox failed (status " + std::to_string(run.Status) + "): " + run.Err;
            return r;
        }
        std::vector<float> samples(static_cast<size_t>(o.CardRate), 0.0f);
        if (FILE* f = std::fopen(segment.c_str(), "rb")) {
            const size_t read = std::fread(samples.data(), sizeof(float), samples.size(), f);
            std::fclose(f);
            if (read < samples.size() * 99 / 100) {  // the speed shortens it a little
                r.Error = "sox wrote " + std::to_string(read) + " samples for a second";
                return r;
            }
        }
        all.insert(all.end(), samples.begin(), samples.end());
        const long double truth = static_cast<long double>(k) * o.CardRate +
                                  edge * o.CardRate / static_cast<long double>(speed);
        r.CardFrames.push_back(truth);
    }
    const std::string joined = path + ".joined.f32";
    if (FILE* f = std::fopen(joined.c_str(), "wb")) {
        std::fwrite(all.data(), sizeof(float), all.size(), f);
        std::fclose(f);
    }
    std::vector<std::string>& c = r.Command;
    c = {"sox",
         "-D",
         "-R",
         "-t",
         "raw",
         "-r",
         std::to_string(o.CardRate),
         "-e",
         "floating-point",
         "-b",
         "32",
         "-c",
         "1",
         joined,
         "-b",
         "16",
         "-e",
         "signed-integer",
         "-c",
         "2",
         path,
         "remix",
         "0",
         "1v" + SoxNumber(o.Inverted ? -o.Level : o.Level)};
    if (o.AcHz > 0) c.insert(c.end(), {"highpass", "-1", SoxNumber(o.AcHz)});
    if (o.Dither) c.push_back("dither");
    const ToolRun run = RunProgram(c, {}, path + ".out", path + ".err", std::chrono::minutes(10));
    std::error_code ignored;
    for (const std::string& f : {segment, joined, path + ".out", path + ".err"}) {
        std::filesystem::remove(f, ignored);
    }
    if (run.Status != 0)
        r.Error = "sox failed (status " + std::to_string(run.Status) + "): " + run.Err;
    return r;
}

}  // namespace qv
