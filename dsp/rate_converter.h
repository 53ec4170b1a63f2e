// Decimating resampler: stereo frames from a sound card's own rate down to the 8000 frames per
// second the classic chain reads. Maths only; streaming, block by block.
//
// Linear phase with its delay taken out: output frame k is the filtered input at time k / 8000 s,
// input frame 0 being at time 0 (the input before frame 0 counts as silence), so a PPS edge stays
// where it was in time. The response is flat within +-0.01 dB to 3.4 kHz and rejects by at least
// 110 dB everything from 4 kHz up, which is all that would fold into the output's 0..4 kHz.
//
// Stages, each computing only the outputs it keeps:
// - the 8 kHz family (16, 32, 48, 96, 192 kHz) halves the rate while it is a multiple of 32 kHz,
//   divides by 3 once at 48 kHz, down to 16 kHz: exact integer factors;
// - the 44.1 kHz family (11.025 .. 176.4 kHz) halves the rate down to 44.1 kHz, then reaches
//   16 kHz by one polyphase rational step (44100 * 160 / 441, 22050 * 320 / 441, ...);
// - both end with one halving from 16 to 8 kHz, the only stage with the narrow 3.4..4 kHz
//   transition: an equiripple filter (Remez's exchange), 141 taps. The earlier ones keep 0..4 kHz
//   and reject only what would fold onto it, so they are short Kaiser-windowed sincs.
// Integer stages use the symmetry of their taps (one product per pair) and skip the taps that are
// zero (every other one at a halving, every third at the division by 3).
//
// The same bits on every x86-64 processor and system: double precision with a fixed order of
// operations (no contracted multiply-adds, no reassociation), coefficients worked out at start
// from + - * / and the extended sine of common/trig.h.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/frame.h"

namespace qv {

// [frames/s] the card rates converted; 8000 itself needs no conversion.
constexpr int kConvertibleRates[] = {11025, 16000, 22050, 32000,  44100,
                                     48000, 88200, 96000, 176400, 192000};

bool IsConvertibleRate(int framesPerSecond);

// [frames/s] every rate a recording or a device may have: 8000 and the convertible ones.
constexpr int kInputRates[] = {8000,  11025, 16000, 22050,  32000, 44100,
                               48000, 88200, 96000, 176400, 192000};
bool IsInputRate(int framesPerSecond);
// "8000, 11025, ..., 176400 or 192000", for messages.
std::string InputRatesText();

// One stereo value as the converter computes it; 16-byte aligned, so both channels load as one.
struct alignas(16) StereoSample {
    double Rf;   // [16-bit sample units] left channel
    double Pps;  // [16-bit sample units] right channel
};

// One FIR stage: an integer decimator (Interpolation 1) or a polyphase rational one.
struct RateStage {
    // parameters
    int Factor = 1;         // M [input samples per output sample, in 1/L input samples when L > 1]
    int Interpolation = 1;  // L: 1 for an integer stage
    int HalfLength = 0;     // D [input samples; 1/L input samples when L > 1] taps -D .. D
    // Every coefficient is held twice in a row, once per channel, to be loaded with the pair.
    // Integer stage: Centre times the middle sample, plus each of Coefs times the two samples
    // n before and after it, for n = 1, 1 + TapStep, 1 + 2 TapStep, ... up to HalfLength, then
    // n = 2, 2 + TapStep, ... and so on up to TapStep - 1. TapStep is the factor in a stage whose
    // cutoff lies at half its output rate (every factor-th tap 0 but the centre), else 1.
    double Centre = 0;
    int TapStep = 1;
    std::vector<int> RunPairs;  // how many pairs have offsets 1, 1 + TapStep, ...; 2, ...; ...
    std::vector<double> Coefs;
    // Rational stage: PhaseTaps coefficients for each of the L phases, phase after phase, oldest
    // input sample first.
    int PhaseTaps = 0;

    // state
    std::vector<StereoSample> History;  // input not yet used up, after the silence before frame 0
    size_t NextStart = 0;  // [History index] first input sample of the next output's window
    int Phase = 0;         // rational: which coefficient row the next output takes (0 .. L-1)
};

struct RateConverter {
    // parameters
    int InputRate = 0;  // [frames/s] the card's
    // Two pairs per instruction in 256-bit registers, where the processor has AVX: each lane
    // still takes the same operations in the same order, so the bits are the same either way.
    bool WideVectors = false;
    std::vector<RateStage> Stages;

    // state
    int64_t InputFrames = 0;              // [input frames] taken since the start
    int64_t OutputFrames = 0;             // [output frames] given since the start
    std::vector<StereoSample> Converted;  // a block of output before rounding, reused
};

// Designs the stages for `inputRate` (one of kConvertibleRates) and empties the state; wide
// vectors where the processor has them.
void StartRateConverter(RateConverter& c, int inputRate);

// Appends to `out` every output frame that the input so far determines.
void ConvertSamples(RateConverter& c, const StereoSample* in, size_t count,
                    std::vector<StereoSample>& out);
void ConvertFrames(RateConverter& c, const Frame* in, size_t count, std::vector<Frame>& out);

// At the end of the input: appends the output frames still held back by the filters, up to the
// last one before the input's end in time (ceil(InputFrames * 8000 / InputRate) in all), as if
// silence followed. The converter then needs a new start.
void FinishSamples(RateConverter& c, std::vector<StereoSample>& out);
void FinishFrames(RateConverter& c, std::vector<Frame>& out);

// An output value as a 16-bit frame: rounded to the nearest integer (a half to even), limited to
// -32768 .. 32767.
inline Frame RoundedFrame(StereoSample s) {
    // Adding and taking away 1.5 * 2^52 leaves v rounded to an integer, a half to even, as
    // IEEE addition rounds (|v| <= 32768 here); a call of nearbyint costs as much as a stage.
    constexpr double kRounder = 0x1.8p52;
    const auto round = [](double v) {
        return static_cast<int16_t>((std::clamp(v, -32768.0, 32767.0) + kRounder) - kRounder);
    };
    return {round(s.Rf), round(s.Pps)};
}

}  // namespace qv
