// Synthetic sound-card stream: a GPS PPS pulse on the right channel and a radio carrier with a
// once-per-second tone burst ("RF click") and noise on the left, as a sound card with a given
// clock error would record them. Pure computation, no audio device.
//
// Time base. GPS seconds are exact. The simulated card samples at
// R * (1 + ppm * 1e-6) frames per GPS second, R = DeviceRate (8000 by default, or any card rate
// a recording may have), its first frame taken startOffsetSeconds after a whole GPS second, so
// device frame k is taken at GPS time
//   t_k = startOffsetSeconds + k / (R * (1 + ppm * 1e-6))
// computed afresh from the 64-bit frame counter (long double), never by accumulating steps.
//
// The signal at GPS time t, with dt the time since the latest whole GPS second:
// - PPS (right): p(x) = A * (1 - exp(-x / rise)) * exp(-x / decay) for x >= 0 after each whole
//   GPS second, else 0: the step response of a first-order low-pass (finite rise time) into an
//   AC-coupled input (exponential decay). A makes the peak of one pulse equal ppsLevel. The
//   pulses of all earlier seconds are summed too (in closed form), so the channel is the same
//   every second from the first frame on and a long decay carries over without a jump; with
//   the default 30 ms decay their remains are far below one LSB.
// - RF (left): the sum of
//   - a carrier carrierLevel * sin(2 pi (lockFreqHz + carrierOffsetHz) t + w(t)), where the
//     phase wander w(t) is a sum of three sines with periods of 37, 61 and 97 s, amplitudes in
//     the ratio 3 : 2 : 1 adding up to carrierWanderRad, and starting phases drawn from the
//     seed: smooth, deterministic and bounded;
//   - the click clickLevel * e(u) * sin(2 pi lockFreqHz u), u = dt - clickDelay, for
//     0 <= u < clickLength: the burst starts at phase 0 every second; its envelope e rises and
//     falls with raised-cosine edges of clickEdgeMs (shortened to half the burst if longer);
//   - white Gaussian noise of RMS noiseLevel (splitmix64 + Box-Muller, seeded by seed, so the
//     same seed gives the same stream on every machine and standard library): one value per
//     frame at 8000; at any other rate those same values, one per 1/8000 card second, joined
//     by a band-limited interpolation (signal_simulator_card.h), so that every rate records
//     the same noise, white up to 4 kHz, as a receiver's audio is.
// Levels are in full scale; each sample becomes round(v * 32767), clipped to int16.
// InvertPps negates the PPS channel; SwapChannels puts each channel on the other side.
//
// What a real card and GPS receiver add, each off by default (then the time base above holds
// exactly, and every stream is what it always was):
// - PPS jitter: the pulse of GPS second s starts at s + j_s instead of s, j_s Gaussian of RMS
//   ppsJitterSeconds, independent per second, drawn from the seed on a stream of its own (a hash
//   of seed and s), so the RF noise stays the same and j_s does not depend on how the stream is
//   read. The click stays on the whole GPS second: the radio's time is not the receiver's.
// - A card whose frequency error changes: with tau the GPS time since the first frame,
//     ppm(tau) = ppm + driftPpmPerHour * tau / 3600 + wanderPpm * sin(2 pi tau / wanderPeriod)
//   (a slow ageing drift and a temperature-like wander). The card's frame count then grows as
//     N(tau) = R * integral from 0 to tau of (1 + ppm(u) * 1e-6) du,
//   which has a closed form, and device frame k is taken at the GPS time where N reaches k
//   (solved by Newton's method in long double every 64 frames, a cubic in between).
// - The pulse's own shape and the card's recording of it (signal_simulator_card.h): a
//   rectangular pulse of PpsWidthMs through the rise, a first-order AC coupling of corner
//   PpsAcHz, and a card sampling at CardRate (1 + ppm 1e-6) per GPS second through its
//   anti-alias filter (linear or minimum phase) and, unless CardRate is 8000, a resampler to
//   8000 frames per card second, as a desktop's sound server has. At a DeviceRate other than
//   8000 the card always runs at DeviceRate (CardRate is 0 or the same): the frames are the
//   card's own samples through its anti-alias filter, with no resampler. The frames keep the
//   time base above, so SimulatorPpsStartFrame stays the truth of every pulse's start.
// - On the PPS channel, white Gaussian noise of RMS PpsNoiseLevel and mains hum
//   PpsHumLevel * sin(2 pi HumHz t + phase from the seed), added to the frames' values; and on
//   both channels TPDF dither (Dither): the sum of two uniform draws, +-1 LSB, added before the
//   rounding. Noise and dither come from generators of their own, so no other sample changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "common/frame.h"

namespace qv {

// The phase response of the card's anti-alias filter: linear (its delay removed) or minimum
// (its delay kept, see SimulatorCardDelayFrames).
enum class CardFilterPhase { Linear, Minimum };

struct SimulatorSettings {
    double Seconds = 60;                 // [GPS s] length of the recording
    double Ppm = 0;                      // [ppm] sound-card clock error, + means the card runs fast
    double StartOffsetSeconds = 0.3172;  // [s] first frame after a whole GPS second
    double LockFreqHz = 1700;            // [Hz] tone of the click
    double CarrierOffsetHz = 0.1;        // [Hz] carrier frequency minus LockFreqHz
    double CarrierLevel = 0.08;          // [full scale] carrier amplitude
    double CarrierWanderRad = 0.3;       // [rad] peak of the carrier's phase wander
    double ClickDelayMs = 3.2;           // [ms] click start after the whole GPS second
    double ClickLengthMs = 6;            // [ms] click duration
    double ClickEdgeMs = 0.5;            // [ms] raised-cosine rise and fall of the click
    double ClickLevel = 0.5;             // [full scale] click amplitude
    double PpsLevel = 0.6;               // [full scale] peak of one PPS pulse
    double PpsRiseMs = 0.15;             // [ms] PPS rise time constant
    double PpsDecayMs = 30;              // [ms] PPS decay time constant
    double NoiseLevel = 0.01;            // [full scale] RMS of the noise on the RF channel
    uint64_t Seed = 1;                   // noise and phase-wander generator seed
    // Wiring faults a station meets: a PPS pulse of the other polarity, and the two channels
    // exchanged (the PPS on the left, the radio on the right).
    bool InvertPps = false;
    bool SwapChannels = false;
    // What the card and the GPS receiver do to the edge times (see the top of this file).
    double PpsJitterSeconds = 0;        // [s] RMS of each PPS pulse's displacement
    double DriftPpmPerHour = 0;         // [ppm per GPS hour] change of the card's error
    double WanderPpm = 0;               // [ppm] amplitude of the card error's sinusoid
    double WanderPeriodSeconds = 3600;  // [s] its period (used only when WanderPpm != 0)
    // The PPS pulse as a GPS receiver gives it and a sound card records it (see the top of this
    // file and signal_simulator_card.h); each off at its default.
    double PpsWidthMs = 0;  // [ms] a rectangular pulse of this width through the rise; 0: the
                            // rise-and-decay pulse
    double PpsAcHz = 0;     // [Hz] corner of a first-order AC coupling after it; 0: none
    int CardRate = 0;       // [Hz] the card's own rate, with its anti-alias filter and, unless
                            // 8000, a resampler to 8000; 0: frames take the analog value (at
                            // a DeviceRate other than 8000: 0 or DeviceRate, see below)
    CardFilterPhase CardFilter = CardFilterPhase::Linear;
    bool Dither = false;       // TPDF dither of +-1 LSB before the rounding, on both channels
    double PpsNoiseLevel = 0;  // [full scale] RMS of white Gaussian noise on the PPS channel
    double PpsHumLevel = 0;    // [full scale] amplitude of mains hum on the PPS channel
    int HumHz = 50;            // [Hz] its frequency, 50 or 60
    // [frames/s] the frames' rate, one of the rates a card may have: other than 8000, the card
    // runs at it, with its anti-alias filter on the PPS (CardRate is then 0 or the same)
    int DeviceRate = kFramesPerSecond;
};

// The card's frequency error as a function of time, in the units the computation uses.
struct CardClock {
    bool Varies = false;           // drift or wander: frame times come from N(tau), not a product
    long double Fraction = 0;      // [1] ppm * 1e-6
    long double Drift = 0;         // [1/s] change of the fractional error per GPS second
    long double Wander = 0;        // [1] wander amplitude * 1e-6
    long double WanderPeriod = 1;  // [s]
    long double Nominal = kFramesPerSecond;  // [device frames per card second] the device rate
};

struct PpsChain;           // the PPS through a card (signal_simulator_card.h)
struct NoiseInterpolator;  // the radio's noise at a card rate other than 8000 (likewise)

// What the card model keeps from frame to frame (see signal_simulator_card.cpp).
struct PpsChainState {
    bool Started = false;
    long long Second = 0;                        // GPS second of the pulse that acts on the frame
    long double NextStart = 0;                   // [device frames] where the next one starts
    std::vector<long double> Positions;          // [device frames] of that pulse's start and end
    std::vector<double> Samples;                 // card samples near an edge, a ring by index
    long long SamplesSecond = 0;                 // the pulse they belong to
    long long SamplesFirst = 0, SamplesEnd = 0;  // [card samples] the range held
    // The settled terms' values at frame HeldFrame of pulse HeldSecond, carried to the next
    // frame by one factor each (a card at its own rate other than 8000), and which of them
    // were the earlier pulses' remains.
    std::vector<double> Held;
    std::vector<char> HeldEarly;
    long long HeldFrame = -2, HeldSecond = 0;
};

constexpr int kSimulatorSegmentFrames = 64;  // [frames] computed together (see SignalSimulator)
constexpr long long kNoSecond = std::numeric_limits<long long>::min();

struct SignalSimulator {
    // parameters
    SimulatorSettings Settings;
    long double FramesPerSecond = kFramesPerSecond;  // [device frames per GPS s]
    double PpsDecayRate = 0;                         // [1/s] 1/decay
    double PpsDecayGain = 0;         // [full scale] of e^(-dt/decay), with earlier pulses
    double PpsDecayCutoff = -1;      // exponent beyond which that term is below 1e-6 LSB
    double PpsRiseRate = 0;          // [1/s] 1/rise + 1/decay
    double PpsRiseGain = 0;          // [full scale] of e^(-dt * PpsRiseRate), likewise
    double PpsRiseCutoff = -1;       // likewise
    double WanderAmplitude[3] = {};  // [rad]
    double WanderPhase[3] = {};      // [rad]
    CardClock Card;
    uint64_t JitterKey = 0;  // start of the PPS jitter's generator, a hash of the seed
    std::shared_ptr<const PpsChain> Chain;  // null: the rise-and-decay pulse, as it always was
    double HumPhase = 0;                    // [cycles] of the hum at GPS time 0, from the seed
    // state
    long double CardTime = 0;  // [GPS s since the first frame] of the next segment's first frame
    long double CardRate = kFramesPerSecond;  // [device frames per GPS s] there
    // GPS seconds whose jitter is kept (slot s & 3; the smallest long long marks an empty slot)
    long long JitterSeconds[4] = {kNoSecond, kNoSecond, kNoSecond, kNoSecond};
    double JitterValues[4] = {};  // [s] their displacements
    uint64_t NoiseState = 0;      // splitmix64 counter
    bool HaveSpareNoise = false;  // Box-Muller gives pairs; the second waits here
    double SpareNoise = 0;        // [standard deviations]
    PpsChainState ChainState;
    // The radio's noise at a device rate other than 8000 (null at 8000: one value per frame):
    // the values per 1/8000 card second, a ring by index held twice over (a window of them is
    // then always in one piece), and the index of the next to draw.
    std::shared_ptr<const NoiseInterpolator> NoiseFilter;
    std::vector<double> NoiseRing;
    long long NoiseNext = 0;
    // The PPS channel's noise and the dither: generators of their own, so that switching them on
    // changes nothing else.
    uint64_t PpsNoiseState = 0;
    bool HavePpsSpare = false;
    double PpsSpare = 0;  // [standard deviations]
    uint64_t DitherState = 0;
    // Frames are computed in segments of kSimulatorSegmentFrames aligned to multiples of that
    // size in the frame counter, so the output never depends on how callers split their reads.
    long long SegmentStart = -kSimulatorSegmentFrames;  // [device frames] counter of Segment[0]
    int SegmentUsed = kSimulatorSegmentFrames;          // [frames] of Segment already handed out
    Frame Segment[kSimulatorSegmentFrames] = {};
};

void StartSimulator(SignalSimulator& sim, const SimulatorSettings& settings);

// Delivers the next `count` frames of the stream.
void NextSimulatorFrames(SignalSimulator& sim, Frame* out, size_t count);

// The device frames that cover settings.Seconds GPS seconds from the first frame:
// round(Seconds * DeviceRate * (1 + Ppm * 1e-6)) for a steady card, round(N(Seconds)) in
// general.
long long SimulatorTotalFrames(const SimulatorSettings& settings);

// ---------------------------------------------------------------------------------------------
// The truth behind the stream, for checking what the chain measures. GPS time t is the
// simulator's: t = 0 at the whole GPS second before the first frame, which is taken at
// t = StartOffsetSeconds. A device frame position is fractional: frame k (0-based from the
// first frame) is taken exactly at position k. All are pure functions of the settings.

// [s] The displacement j_s of GPS second `second`'s PPS pulse (0 without jitter).
double SimulatorPpsJitter(const SimulatorSettings& settings, long long second);

// [device frames] The position at GPS time t (negative before the first frame).
long double SimulatorFrameAt(const SimulatorSettings& settings, long double gpsTime);

// [GPS s] The time at a device frame position: the inverse of SimulatorFrameAt.
long double SimulatorTimeAtFrame(const SimulatorSettings& settings, long double frame);

// [device frames] Where the PPS pulse of GPS second `second` starts (its first rise from 0, at
// t = second + jitter), with the card's drift and wander: SimulatorFrameAt(second + j_second).
// The pulse of GPS second 1 is the first one after the first frame without jitter. From there
// the pulse follows its shape (see the top of this file): with the default 0.15 ms rise and
// 30 ms decay it reaches half its peak 0.0998616 ms (0.798893 frames at 8000) later; at any
// other device rate the card's linear-phase filter moves the half height a little (the pulse's
// shape is smoothed), not its start.
long double SimulatorPpsStartFrame(const SimulatorSettings& settings, long long second);

// [device frames] The card's anti-alias filter's delay at low frequencies, the centroid of its
// impulse response (the resampler, of linear phase, adds none): 0 without a card and for the
// linear-phase filter, whose delay is removed, so that an ideal step is at half its height at
// its own time; for the minimum-phase filter the delay it keeps: 3.329 of the card's own
// samples at any rate, which at a device rate of 8000 are 3.329 frames for a card at 8000 Hz,
// 0.555 at 48000, 0.139 at 192000. An ideal step through it reaches half its height 3.584 card
// samples after its start where the frames are the card's samples; through the resampler to
// 8000, 0.556 frames for a card at 48000 and 0.139 for one at 192000.
long double SimulatorCardDelayFrames(const SimulatorSettings& settings);

// [ppm] The card's frequency error at GPS time t (+ = card runs fast).
long double SimulatorCardPpm(const SimulatorSettings& settings, long double gpsTime);

// [ppm] Its mean over the GPS times t0 .. t1 (t1 != t0): the device frames between them per
// GPS second, against DeviceRate. Between two PPS starts without jitter it is what the card's frame
// count shows over that span.
long double SimulatorMeanCardPpm(const SimulatorSettings& settings, long double t0, long double t1);

}  // namespace qv
