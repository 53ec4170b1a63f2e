// Synthetic sound-card stream (PPS pulse, RF carrier, click and noise) computed sample by sample.
#include "capture/signal_simulator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "capture/signal_simulator_card.h"
#include "common/trig.h"

namespace qv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr long double kTwoPiL = 2 * std::numbers::pi_v<long double>;
constexpr double kWanderPeriods[3] = {37.0, 61.0, 97.0};          // [s]
constexpr double kWanderShares[3] = {3.0 / 6, 2.0 / 6, 1.0 / 6};  // of carrierWanderRad
constexpr uint64_t kWanderStream = 0xD1B54A32D192ED03ull;         // keeps wander and noise apart
constexpr uint64_t kJitterStream = 0x8CB92BA72F3D8DD7ull;         // and the PPS jitter apart
constexpr uint64_t kPpsNoiseStream = 0x2545F4914F6CDD1Dull;       // the PPS channel's noise,
constexpr uint64_t kDitherStream = 0xA0761D6478BD642Full;         // the dither
constexpr uint64_t kHumStream = 0xE7037ED1A0B428DBull;            // and the hum's phase
constexpr uint64_t kEarlyNoiseStream = 0x1D8E4E27C47D124Full;     // noise before the first frame
constexpr int kNoiseRing = 256;  // [values] of the radio's noise held (twice), > its taps
constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;  // splitmix64's increment
constexpr double kNegligibleLsb = 1e-6;  // [LSB] pulse contributions below this are skipped

uint64_t SplitMix64(uint64_t& state) {
    uint64_t z = (state += kGolden);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in [0, 1) with 53 random bits.
double UnitInterval(uint64_t& state) {
    return static_cast<double>(SplitMix64(state) >> 11) * 0x1p-53;
}

// One standard normal deviate; Box-Muller, the second value of each pair kept for the next call.
double Gaussian(SignalSimulator& sim) {
    if (sim.HaveSpareNoise) {
        sim.HaveSpareNoise = false;
        return sim.SpareNoise;
    }
    const double u1 = 1.0 - UnitInterval(sim.NoiseState);  // (0, 1]: the logarithm stays finite
    const double u2 = UnitInterval(sim.NoiseState);
    const double radius = std::sqrt(-2.0 * std::log(u1));
    sim.SpareNoise = radius * std::sin(kTwoPi * u2);
    sim.HaveSpareNoise = true;
    return radius * std::cos(kTwoPi * u2);
}

// A standard normal deviate from the same + - * / on every system (the C library's log and sin
// differ in the last place); Box-Muller as above, on its own generator.
double PortableGaussian(uint64_t& state, bool& haveSpare, double& spare) {
    if (haveSpare) {
        haveSpare = false;
        return spare;
    }
    const double u1 = 1.0 - UnitInterval(state);
    const double u2 = UnitInterval(state);
    const double radius = std::sqrt(-2.0 * PortableLog(u1));
    long double sine = 0, cosine = 1;
    ExtendedSinCos(kTwoPiL * u2, &sine, &cosine);
    spare = radius * static_cast<double>(sine);
    haveSpare = true;
    return radius * static_cast<double>(cosine);
}

int16_t ToSample(double fullScale) {
    const double v = std::round(fullScale * 32767.0);
    if (!(v > -32768.0)) return -32768;  // also catches NaN from absurd settings
    if (v >= 32767.0) return 32767;
    return static_cast<int16_t>(v);
}

// With dither: the value in LSB plus the difference of two uniform draws in [0, 1) (triangular
// on (-1, 1) LSB), rounded and clipped.
int16_t DitheredSample(SignalSimulator& sim, double fullScale) {
    const double first = UnitInterval(sim.DitherState);  // drawn in this order on every compiler
    const double dither = first - UnitInterval(sim.DitherState);
    const double v = std::round(fullScale * 32767.0 + dither);
    if (!(v > -32768.0)) return -32768;
    if (v >= 32767.0) return 32767;
    return static_cast<int16_t>(v);
}

// The radio's noise at device frame `frame` of a card at a rate other than 8000: the
// band-limited interpolation of the one Gaussian value per 1/8000 card second that a card at 8000
// takes as its frames (drawn in the same order from the same generator), so that every rate
// records the same noise, white up to 4 kHz with RMS 1.
double InterpolatedNoise(SignalSimulator& sim, long long frame) {
    const NoiseInterpolator& ip = *sim.NoiseFilter;
    const long long scaled = frame * ip.Step;  // the position in 1/8000 s, times Phases
    const long long whole = scaled / ip.Phases;
    const int phase = static_cast<int>(scaled % ip.Phases);
    const long long first = whole - ip.Taps / 2 + 1;
    constexpr long long kMask = kNoiseRing - 1;
    for (; sim.NoiseNext < first + ip.Taps; ++sim.NoiseNext) {
        const double g = Gaussian(sim);
        const size_t at = static_cast<size_t>(sim.NoiseNext & kMask);
        sim.NoiseRing[at] = sim.NoiseRing[at + kNoiseRing] = g;  // every window lies in one piece
    }
    const double* w = ip.Weights.data() + static_cast<size_t>(phase) * ip.Taps;
    const double* g = sim.NoiseRing.data() + (first & kMask);
    // Four sums side by side, always added in this order: the same bits everywhere, and four
    // times the speed of one long chain of additions.
    double v[4] = {};
    for (int t = 0; t < ip.Taps; t += 4) {
        for (int lane = 0; lane < 4; ++lane) v[lane] += w[t + lane] * g[t + lane];
    }
    return (v[0] + v[1]) + (v[2] + v[3]);
}

// The noise interpolator and its values before the first frame (from a generator of their own,
// so that the values from frame 0 on are the 8000 Hz card's).
void SetUpNoise(SignalSimulator& sim) {
    const SimulatorSettings& s = sim.Settings;
    if (s.DeviceRate == kFramesPerSecond || !(s.NoiseLevel > 0)) return;
    sim.NoiseFilter = MakeNoiseInterpolator(s.DeviceRate);
    sim.NoiseRing.assign(2 * kNoiseRing, 0.0);
    uint64_t early = s.Seed ^ kEarlyNoiseStream;
    bool haveSpare = false;
    double spare = 0;
    for (long long k = -1; k > -sim.NoiseFilter->Taps; --k) {
        const size_t at = static_cast<size_t>(k & (kNoiseRing - 1));
        sim.NoiseRing[at] = sim.NoiseRing[at + kNoiseRing] =
            PortableGaussian(early, haveSpare, spare);
    }
    sim.NoiseNext = 0;
}

// ---------------------------------------------------------------------------------------------
// The card's clock and the PPS jitter

CardClock MakeCardClock(const SimulatorSettings& s) {
    CardClock c;
    c.Fraction = static_cast<long double>(s.Ppm) * 1e-6L;
    c.Drift = static_cast<long double>(s.DriftPpmPerHour) * 1e-6L / 3600;
    c.Wander = static_cast<long double>(s.WanderPpm) * 1e-6L;
    c.WanderPeriod = s.WanderPeriodSeconds > 0 ? s.WanderPeriodSeconds : 1;
    c.Varies = c.Drift != 0 || c.Wander != 0;
    c.Nominal = s.DeviceRate;
    return c;
}

// The card's frequency [device frames per GPS s] of a steady card; the frame times of such a card
// are offset + k / this, as they always were.
long double SteadyFramesPerSecond(const SimulatorSettings& s) {
    return static_cast<long double>(s.DeviceRate) *
           (1.0L + static_cast<long double>(s.Ppm) * 1e-6L);
}

// sin and cos of the wander's phase 2 pi tau / period, reduced to one cycle first.
void WanderSinCos(const CardClock& c, long double tau, long double& sine, long double& cosine) {
    const long double cycles = tau / c.WanderPeriod;
    ExtendedSinCos(kTwoPiL * (cycles - std::floor(cycles)), &sine, &cosine);
}

// The card's frame count N(tau) [device frames] since the first frame, tau [GPS s] after it, and
// its rate dN/dtau [device frames per GPS s]:
//   N = R (tau + f tau + d tau^2 / 2 + w P / (2 pi) (1 - cos(2 pi tau / P))), R the device rate.
void CardCount(const CardClock& c, long double tau, long double& frames, long double& rate) {
    long double wanderCount = 0, wanderNow = 0;
    if (c.Wander != 0) {
        long double sine = 0, cosine = 1;
        WanderSinCos(c, tau, sine, cosine);
        wanderCount = c.Wander * c.WanderPeriod / kTwoPiL * (1 - cosine);
        wanderNow = c.Wander * sine;
    }
    frames = c.Nominal * (tau + (c.Fraction * tau + c.Drift * tau * tau / 2 + wanderCount));
    rate = c.Nominal * (1 + (c.Fraction + c.Drift * tau + wanderNow));
}

// [1] The card's fractional frequency error, tau [GPS s] after the first frame.
long double CardFraction(const CardClock& c, long double tau) {
    long double wanderNow = 0;
    if (c.Wander != 0) {
        long double sine = 0, cosine = 1;
        WanderSinCos(c, tau, sine, cosine);
        wanderNow = c.Wander * sine;
    }
    return c.Fraction + c.Drift * tau + wanderNow;
}

// j_s [s] for GPS second s: one Gaussian deviate from two draws at their own place in the jitter
// generator (2 draws per second, so neighbouring seconds never share one). Box-Muller's radius
// is at most sqrt(-2 ln 2^-53) = 8.6, so with the largest RMS the options allow (10 ms) a pulse
// moves less than 0.09 s: it always stays nearer its own second than any other.
double PpsJitter(uint64_t key, double rms, long long second) {
    if (!(rms > 0)) return 0;
    uint64_t state = key + 2 * static_cast<uint64_t>(second) * kGolden;
    const double u1 = 1.0 - UnitInterval(state);  // (0, 1]
    const double u2 = UnitInterval(state);
    long double sine = 0, cosine = 1;
    ExtendedSinCos(kTwoPiL * u2, &sine, &cosine);
    return rms * std::sqrt(-2.0 * PortableLog(u1)) * static_cast<double>(cosine);
}

uint64_t JitterKeyOf(uint64_t seed) {
    uint64_t state = seed ^ kJitterStream;
    return SplitMix64(state);
}

// j_s, kept for the few seconds a segment looks at (a pure function of s: the cache changes no
// value).
double CachedJitter(SignalSimulator& sim, long long second) {
    const int slot = static_cast<int>(second & 3);
    if (sim.JitterSeconds[slot] != second) {
        sim.JitterSeconds[slot] = second;
        sim.JitterValues[slot] = PpsJitter(sim.JitterKey, sim.Settings.PpsJitterSeconds, second);
    }
    return sim.JitterValues[slot];
}

// ---------------------------------------------------------------------------------------------
// The stream

// The PPS channel dt [s] after the latest edge: the pulse train A (e^(-x/d) - e^(-x c)),
// c = 1/r + 1/d, summed over that edge and all earlier ones (x = dt, dt + 1, dt + 2, ...).
// The geometric series collapse into two exponentials with constant factors, so the stream is
// stationary from its first frame and never jumps, however long the decay. An exponential
// whose term is far below one LSB is not evaluated: that saves most of the cost.
// With PPS jitter dt counts from the latest pulse start, and the sum places the earlier pulses
// whole seconds before it instead of at their own jittered starts. That moves pulse k seconds
// back by j_s - j_(s-k), changing its remains by about their value times that over the decay
// constant: with the default 30 ms decay the remains are e^-33 of the peak after one second,
// and even a 2 s decay with 10 us of jitter changes them by < 0.01 LSB.
double PpsTrain(const SignalSimulator& sim, double dt) {
    double v = 0;
    const double decayExponent = dt * sim.PpsDecayRate;
    if (decayExponent < sim.PpsDecayCutoff) v += sim.PpsDecayGain * std::exp(-decayExponent);
    const double riseExponent = dt * sim.PpsRiseRate;
    if (riseExponent < sim.PpsRiseCutoff) v -= sim.PpsRiseGain * std::exp(-riseExponent);
    return v;
}

// The click, u [s] after its start.
double Click(const SimulatorSettings& s, double u) {
    const double length = s.ClickLengthMs * 1e-3;
    if (u < 0 || u >= length) return 0;
    const double edge = std::min(s.ClickEdgeMs * 1e-3, length / 2);
    double envelope = 1;
    if (edge > 0) {
        const double fromEdge = std::min(u, length - u);
        if (fromEdge < edge) envelope = 0.5 * (1 - std::cos(kPi * fromEdge / edge));
    }
    return s.ClickLevel * envelope * std::sin(kTwoPi * s.LockFreqHz * u);
}

long double GpsTime(const SignalSimulator& sim, long long frame) {
    return sim.Settings.StartOffsetSeconds + static_cast<long double>(frame) / sim.FramesPerSecond;
}

// tau [GPS s since the first frame] of device frame position k: Newton's method on N(tau) = k
// from `tau`; also the rate there. The rate stays within 1 % of nominal (the options' limit), so
// each step shrinks the error at least fifty-fold, and quadratically near the root: from a
// start a few frames off two or three steps do, from the steady card's time a few more.
void SolveCardTime(const CardClock& c, long double k, long double& tau, long double& rate) {
    for (int i = 0; i < 100; ++i) {
        long double frames = 0;
        CardCount(c, tau, frames, rate);
        const long double step = (frames - k) / rate;
        tau -= step;
        if (std::fabs(step) <= 1e-17L * (1 + std::fabs(tau))) break;
    }
}

// Cubic Hermite weights for the frames n = 0 .. kSimulatorSegmentFrames of a segment,
// s = n / kSimulatorSegmentFrames: the end's share s^2 (3 - 2s) and the slopes' s (1 - s)^2 and
// s^2 (s - 1) times the segment's length.
struct HermiteWeights {
    long double End[kSimulatorSegmentFrames + 1];
    long double StartSlope[kSimulatorSegmentFrames + 1];
    long double EndSlope[kSimulatorSegmentFrames + 1];
};

constexpr HermiteWeights MakeHermiteWeights() {
    HermiteWeights w{};
    for (int n = 0; n <= kSimulatorSegmentFrames; ++n) {
        const long double s = static_cast<long double>(n) / kSimulatorSegmentFrames;
        w.End[n] = s * s * (3 - 2 * s);
        w.StartSlope[n] = s * (1 - s) * (1 - s) * kSimulatorSegmentFrames;
        w.EndSlope[n] = s * s * (s - 1) * kSimulatorSegmentFrames;
    }
    return w;
}

constexpr HermiteWeights kHermite = MakeHermiteWeights();

// GPS times [s] of the frames first .. first + kSimulatorSegmentFrames (the segment and the next
// one's first frame). A steady card: the exact product, as always. A varying one: N(tau) = k is
// solved exactly (Newton) at the segment's ends, and the frames between lie on the cubic through
// both ends with the slopes 1 / rate there. Its error is about the fourth derivative of tau(k)
// times h^4 / 384 (h = 64 frames), i.e. w (2 pi / P)^3 (8 ms)^4 / 384 for a wander w of period
// P: < 3e-11 s even at the options' extremes (w = 1 %, P = 1 s), < 1e-18 s for a few ppm over
// minutes. One solve per 64 frames keeps a varying card nearly as cheap as a steady one.
void SegmentTimes(SignalSimulator& sim, long long first, long double* times) {
    constexpr int kLast = kSimulatorSegmentFrames;
    if (!sim.Card.Varies) {  // the frames between are computed where they are used
        times[0] = GpsTime(sim, first);
        times[kLast] = GpsTime(sim, first + kLast);
        return;
    }
    const long double tau0 = sim.CardTime, slope0 = 1 / sim.CardRate;  // [s], [s per frame]
    long double tau1 = tau0 + kLast * slope0, rate1 = sim.CardRate;
    SolveCardTime(sim.Card, static_cast<long double>(first + kLast), tau1, rate1);
    const long double span = tau1 - tau0, slope1 = 1 / rate1;
    for (int n = 0; n < kLast; ++n) {
        const long double tau = tau0 + (span * kHermite.End[n] + (slope0 * kHermite.StartSlope[n] +
                                                                  slope1 * kHermite.EndSlope[n]));
        times[n] = sim.Settings.StartOffsetSeconds + tau;
    }
    times[kLast] = sim.Settings.StartOffsetSeconds + tau1;
    sim.CardTime = tau1;
    sim.CardRate = rate1;
}

// With PPS jitter, the starts s + j_s of GPS seconds s = w - 1 .. w + 2, w the whole second of
// the segment's first frame: the jitter keeps each within 0.09 s of its second, and a segment
// lasts 8 ms, so the latest start before any of its frames is among them. Found once per
// segment, so that no frame pays for a rounding to an integer.
void NearbyPpsStarts(SignalSimulator& sim, long double firstTime, long double* starts) {
    const long long whole = static_cast<long long>(std::floor(firstTime));
    for (int i = 0; i < 4; ++i) {
        const long long second = whole - 1 + i;
        starts[i] = static_cast<long double>(second) + CachedJitter(sim, second);
    }
}

// [s] Time since the latest of those starts at GPS time t.
double SinceLatestStart(const long double* starts, long double t) {
    int i = 3;
    while (i > 0 && starts[i] > t) --i;
    return static_cast<double>(t - starts[i]);
}

double Wander(const SignalSimulator& sim, long double t) {
    double w = 0;
    for (int i = 0; i < 3; ++i) {
        const double cycles = static_cast<double>(std::fmod(t / kWanderPeriods[i], 1.0L));
        w += sim.WanderAmplitude[i] * std::sin(kTwoPi * cycles + sim.WanderPhase[i]);
    }
    return w;
}

// Carrier phase [rad] at GPS time t, reduced to one cycle before going to double precision.
double CarrierPhase(const SignalSimulator& sim, long double t) {
    const long double frequency =
        static_cast<long double>(sim.Settings.LockFreqHz) + sim.Settings.CarrierOffsetHz;
    const long double cycles = frequency * t;
    return static_cast<double>(kTwoPiL * (cycles - std::floor(cycles))) + Wander(sim, t);
}

// The mains hum's sine at GPS time t, its phase reduced to cycles before the angle is formed.
double Hum(const SignalSimulator& sim, long double t) {
    const long double cycles = sim.Settings.HumHz * t;
    long double sine = 0, cosine = 1;
    ExtendedSinCos(kTwoPiL * ((cycles - std::floor(cycles)) + sim.HumPhase), &sine, &cosine);
    return static_cast<double>(sine);
}

void ComputeSegment(SignalSimulator& sim, long long first) {
    const SimulatorSettings& s = sim.Settings;
    const double clickDelay = s.ClickDelayMs * 1e-3;

    // The segment's frames and the next segment's first one.
    long double times[kSimulatorSegmentFrames + 1];
    SegmentTimes(sim, first, times);

    // The carrier's phase is computed exactly at both ends of the segment; in between it
    // advances linearly, by a rotation applied frame by frame (64 rotations lose ~1e-14). A
    // varying card's frames are not evenly spaced in GPS time: each rotation is then corrected
    // by its frame's own share d of the phase, to second order (|d| < 4e-4 rad at the options'
    // extremes, so what is left, d^3 / 6, stays below 1e-11 rad).
    const double startPhase = CarrierPhase(sim, times[0]);
    const long double carrierFrequency = static_cast<long double>(s.LockFreqHz) + s.CarrierOffsetHz;
    const long double carrierStep =
        sim.Card.Varies ? kTwoPiL * carrierFrequency * (times[kSimulatorSegmentFrames] - times[0]) /
                              kSimulatorSegmentFrames
                        : kTwoPiL * carrierFrequency / sim.FramesPerSecond;
    const double wanderStep =
        (Wander(sim, times[kSimulatorSegmentFrames]) - Wander(sim, times[0])) /
        kSimulatorSegmentFrames;
    const double step = static_cast<double>(std::fmod(carrierStep, kTwoPiL)) + wanderStep;
    const double stepCos = std::cos(step), stepSin = std::sin(step);
    double carrierCos = std::cos(startPhase), carrierSin = std::sin(startPhase);

    const bool jitter = s.PpsJitterSeconds > 0;
    long double ppsStarts[4] = {};
    if (jitter) NearbyPpsStarts(sim, times[0], ppsStarts);

    for (int n = 0; n < kSimulatorSegmentFrames; ++n) {
        const long double t = sim.Card.Varies ? times[n] : GpsTime(sim, first + n);
        const double dt = static_cast<double>(t - std::floor(t));  // [s] since the GPS second

        double pps = sim.Chain ? PpsChainFrame(*sim.Chain, sim.ChainState, s, first + n)
                               : PpsTrain(sim, jitter ? SinceLatestStart(ppsStarts, t) : dt);
        double rf =
            s.CarrierLevel * carrierSin + Click(s, dt - clickDelay) + Click(s, dt + 1 - clickDelay);
        if (s.NoiseLevel > 0) {
            rf += s.NoiseLevel *
                  (sim.NoiseFilter ? InterpolatedNoise(sim, first + n) : Gaussian(sim));
        }
        if (s.PpsNoiseLevel > 0) {
            pps += s.PpsNoiseLevel *
                   PortableGaussian(sim.PpsNoiseState, sim.HavePpsSpare, sim.PpsSpare);
        }
        if (s.PpsHumLevel > 0) pps += s.PpsHumLevel * Hum(sim, t);
        if (s.InvertPps) pps = -pps;

        const int16_t rfSample = s.Dither ? DitheredSample(sim, rf) : ToSample(rf);
        const int16_t ppsSample = s.Dither ? DitheredSample(sim, pps) : ToSample(pps);
        sim.Segment[n].Rf = s.SwapChannels ? ppsSample : rfSample;
        sim.Segment[n].Pps = s.SwapChannels ? rfSample : ppsSample;

        double rotationCos = stepCos, rotationSin = stepSin;
        if (sim.Card.Varies) {
            const double d = static_cast<double>(
                kTwoPiL * carrierFrequency * (times[n + 1] - times[n]) - carrierStep);
            const double keep = 1 - d * d / 2;
            rotationCos = stepCos * keep - stepSin * d;
            rotationSin = stepSin * keep + stepCos * d;
        }
        const double nextCos = carrierCos * rotationCos - carrierSin * rotationSin;
        carrierSin = carrierSin * rotationCos + carrierCos * rotationSin;
        carrierCos = nextCos;
    }
}

void SetUpPpsTrain(SignalSimulator& sim) {
    const SimulatorSettings& s = sim.Settings;
    if (!(s.PpsDecayMs > 0) || !(s.PpsLevel > 0)) return;          // no pulse: all gains stay 0
    const double r = s.PpsRiseMs * 1e-3, d = s.PpsDecayMs * 1e-3;  // [s]

    // One pulse (1 - e^(-x/r)) e^(-x/d) peaks at x = r ln(1 + d/r) with the value
    // d/(r+d) * (r/(r+d))^(r/d); A makes that peak ppsLevel. (A zero rise time is a step.)
    const double peak = r > 0 ? d / (r + d) * std::pow(r / (r + d), r / d) : 1.0;
    const double scale = s.PpsLevel / peak;

    // Earlier edges add q + q^2 + ... = q / (1 - q) of each exponential, q = e^(-rate * 1 s).
    sim.PpsDecayRate = 1 / d;
    sim.PpsDecayGain = scale / -std::expm1(-sim.PpsDecayRate);
    sim.PpsRiseRate = r > 0 ? 1 / r + 1 / d : 0;
    sim.PpsRiseGain = r > 0 ? scale / -std::expm1(-sim.PpsRiseRate) : 0;

    // gain * e^(-x) * 32767 < kNegligibleLsb beyond these exponents.
    auto cutoff = [](double gain) {
        return gain > 0 ? std::log(gain * 32767 / kNegligibleLsb) : -1.0;
    };
    sim.PpsDecayCutoff = cutoff(sim.PpsDecayGain);
    sim.PpsRiseCutoff = cutoff(sim.PpsRiseGain);
}

}  // namespace

void StartSimulator(SignalSimulator& sim, const SimulatorSettings& settings) {
    sim = SignalSimulator{};
    sim.Settings = settings;
    sim.FramesPerSecond = SteadyFramesPerSecond(settings);

    SetUpPpsTrain(sim);

    // The wander's generator starts at a hash of the seed, far from the noise's sequence.
    uint64_t wanderSeed = settings.Seed ^ kWanderStream;
    uint64_t wanderState = SplitMix64(wanderSeed);
    for (int i = 0; i < 3; ++i) {
        sim.WanderAmplitude[i] = settings.CarrierWanderRad * kWanderShares[i];
        sim.WanderPhase[i] = kTwoPi * UnitInterval(wanderState);
    }
    sim.NoiseState = settings.Seed;
    sim.PpsNoiseState = settings.Seed ^ kPpsNoiseStream;
    sim.DitherState = settings.Seed ^ kDitherStream;
    uint64_t humSeed = settings.Seed ^ kHumStream;
    sim.HumPhase = UnitInterval(humSeed);
    sim.Chain = MakePpsChain(settings);
    SetUpNoise(sim);

    sim.Card = MakeCardClock(settings);
    long double countAtStart = 0;
    CardCount(sim.Card, 0, countAtStart, sim.CardRate);  // the first frame: tau = 0
    sim.JitterKey = JitterKeyOf(settings.Seed);
}

void NextSimulatorFrames(SignalSimulator& sim, Frame* out, size_t count) {
    while (count > 0) {
        if (sim.SegmentUsed == kSimulatorSegmentFrames) {
            sim.SegmentStart += kSimulatorSegmentFrames;
            ComputeSegment(sim, sim.SegmentStart);
            sim.SegmentUsed = 0;
        }
        const size_t take =
            std::min(count, static_cast<size_t>(kSimulatorSegmentFrames - sim.SegmentUsed));
        std::memcpy(out, sim.Segment + sim.SegmentUsed, take * sizeof(Frame));
        sim.SegmentUsed += static_cast<int>(take);
        out += take;
        count -= take;
    }
}

long long SimulatorTotalFrames(const SimulatorSettings& settings) {
    const CardClock card = MakeCardClock(settings);
    if (card.Varies) {
        long double frames = 0, rate = 0;
        CardCount(card, settings.Seconds, frames, rate);
        return std::llround(frames);
    }
    return std::llround(static_cast<long double>(settings.Seconds) *
                        static_cast<long double>(settings.DeviceRate) *
                        (1.0L + static_cast<long double>(settings.Ppm) * 1e-6L));
}

// ---------------------------------------------------------------------------------------------
// The truth

double SimulatorPpsJitter(const SimulatorSettings& settings, long long second) {
    return PpsJitter(JitterKeyOf(settings.Seed), settings.PpsJitterSeconds, second);
}

long double SimulatorFrameAt(const SimulatorSettings& settings, long double gpsTime) {
    const long double tau = gpsTime - settings.StartOffsetSeconds;
    const CardClock card = MakeCardClock(settings);
    if (!card.Varies) return tau * SteadyFramesPerSecond(settings);
    long double frames = 0, rate = 0;
    CardCount(card, tau, frames, rate);
    return frames;
}

long double SimulatorTimeAtFrame(const SimulatorSettings& settings, long double frame) {
    const CardClock card = MakeCardClock(settings);
    if (!card.Varies) return settings.StartOffsetSeconds + frame / SteadyFramesPerSecond(settings);
    long double tau = frame / (card.Nominal * (1 + card.Fraction)), rate = 0;
    SolveCardTime(card, frame, tau, rate);
    return settings.StartOffsetSeconds + tau;
}

long double SimulatorPpsStartFrame(const SimulatorSettings& settings, long long second) {
    return SimulatorFrameAt(
        settings, static_cast<long double>(second) + SimulatorPpsJitter(settings, second));
}

long double SimulatorCardDelayFrames(const SimulatorSettings& settings) {
    const std::shared_ptr<const PpsChain> chain = MakePpsChain(settings);
    return chain ? chain->DelayFrames : 0;
}

long double SimulatorCardPpm(const SimulatorSettings& settings, long double gpsTime) {
    const CardClock card = MakeCardClock(settings);
    return CardFraction(card, gpsTime - settings.StartOffsetSeconds) * 1e6L;
}

long double SimulatorMeanCardPpm(const SimulatorSettings& settings, long double t0,
                                 long double t1) {
    // The integral of the error over the span, in closed form, over its length: the drift's
    // mean is its value half-way; the wander's integral is P / (2 pi) (cos a0 - cos a1).
    const CardClock card = MakeCardClock(settings);
    const long double tau0 = t0 - settings.StartOffsetSeconds;
    const long double tau1 = t1 - settings.StartOffsetSeconds;
    long double mean = card.Fraction + card.Drift * (tau0 + tau1) / 2;
    if (card.Wander != 0) {
        long double sine0 = 0, cosine0 = 1, sine1 = 0, cosine1 = 1;
        WanderSinCos(card, tau0, sine0, cosine0);
        WanderSinCos(card, tau1, sine1, cosine1);
        mean += card.Wander * card.WanderPeriod / kTwoPiL * (cosine0 - cosine1) / (tau1 - tau0);
    }
    return mean * 1e6L;
}

}  // namespace qv
