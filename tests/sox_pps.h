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
// channel with silence or white noise on the left (`remix`), couples it through a first-order
// high-pass (`highpass -1 AcHz`, an AC coupling), filters and decimates it to the card's rate
// (`rate -v`, linear phase, or `rate -v -M`, minimum phase), resamples that to 8000 (`rate -v`,
// or the cubic `rate -q` of a low-quality resampler; none for a card at 8000), dithers (TPDF,
// `dither`) and writes a stereo 16-bit WAV. `-R` seeds sox's noise and dither the same every run.
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

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/tool_runner.h"

namespace qv {

enum class SoxCardFilter { Linear, Minimum };      // rate -v, rate -v -M
enum class SoxResampler { VeryHigh, LowQuality };  // rate -v, rate -q

struct SoxPpsOptions {
    double Seconds = 10;             // [card s] length: Seconds * 8000 frames
    double Ppm = 0;                  // [ppm] the card's clock error, + = the card runs fast
    double FirstPulseSeconds = 0.3;  // [GPS s] after the first sample, where pulse 1 starts
    double WidthMs = 100;            // [ms] of each pulse
    double Level = 0.6;              // [full scale] pulse height
    bool Inverted = false;           // a pulse of -Level
    double AcHz = 0;                 // [Hz] corner of the AC coupling; 0: DC coupled
    int CardRate = 48000;            // [Hz] the card's rate; 8000: a card at 8 kHz, no resampler
    SoxCardFilter Filter = SoxCardFilter::Linear;
    SoxResampler Resampler = SoxResampler::VeryHigh;
    bool Dither = true;    // TPDF dither before the 16-bit rounding (else rounding alone)
    double LeftNoise = 0;  // [full scale] amplitude of white noise on the left; 0: silence
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
};

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
    return {1 / (1 + o.Ppm * 1e-6), (1 - o.FirstPulseSeconds) * 100, o.WidthMs / 10};
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
    r.FramesPerSecond = 8000 * (1 + static_cast<long double>(o.Ppm) * 1e-6L);

    std::vector<std::string>& c = r.Command;
    c = {"sox", "-D", "-R", "-r",   "192000", "-n", "-b", "16", "-e", "signed-integer",
         "-c",  "2",  "-r", "8000", path};
    for (const std::string& w : SoxPpsSynth(o)) c.push_back(w);
    const std::string pulse =
        (o.LeftNoise > 0 ? "2v" : "1v") + SoxNumber(o.Inverted ? -o.Level : o.Level);
    c.insert(c.end(), {"remix", o.LeftNoise > 0 ? "1v" + SoxNumber(o.LeftNoise) : "0", pulse});
    if (o.AcHz > 0) c.insert(c.end(), {"highpass", "-1", SoxNumber(o.AcHz)});
    if (o.CardRate != 192000) {
        c.insert(c.end(), {"rate", "-v"});
        if (o.Filter == SoxCardFilter::Minimum) c.push_back("-M");
        c.push_back(std::to_string(o.CardRate));
    }
    if (o.CardRate != 8000) {
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

    // The truth, in long double from the doubles sox reads: periods of 192000 / f samples.
    const SoxSquare q = SoxPpsSquare(o);
    const long double period = 192000.0L / std::stod(SoxNumber(q.Frequency));
    const long double phase = std::stod(SoxNumber(q.PhasePercent)) / 100.0L;
    const long double duty = std::stod(SoxNumber(q.DutyPercent)) / 100.0L;
    const long double samples = static_cast<long double>(o.Seconds) * 192000;
    for (long long k = 1;; ++k) {
        const long double first = std::ceil((k - phase) * period);
        if (first >= samples) break;
        r.FirstSamples.push_back(static_cast<long long>(first));
        r.EndSamples.push_back(static_cast<long long>(std::ceil((k - phase + duty) * period)));
        r.StartFrames.push_back((first - 0.5L) / 24);
    }
    return r;
}

}  // namespace qv
