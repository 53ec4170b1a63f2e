// Synthetic sound-card stream (PPS pulse, RF carrier, click and noise) computed sample by sample.
#include "capture/signal_simulator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace qv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr long double kTwoPiL = 2 * std::numbers::pi_v<long double>;
constexpr double kWanderPeriods[3] = {37.0, 61.0, 97.0};          // [s]
constexpr double kWanderShares[3] = {3.0 / 6, 2.0 / 6, 1.0 / 6};  // of carrierWanderRad
constexpr uint64_t kWanderStream = 0xD1B54A32D192ED03ull;         // keeps wander and noise apart
constexpr double kNegligibleLsb = 1e-6;  // [LSB] pulse contributions below this are skipped

uint64_t SplitMix64(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
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

int16_t ToSample(double fullScale) {
    const double v = std::round(fullScale * 32767.0);
    if (!(v > -32768.0)) return -32768;  // also catches NaN from absurd settings
    if (v >= 32767.0) return 32767;
    return static_cast<int16_t>(v);
}

// The PPS channel dt [s] after the latest edge: the pulse train A (e^(-x/d) - e^(-x c)),
// c = 1/r + 1/d, summed over that edge and all earlier ones (x = dt, dt + 1, dt + 2, ...).
// The geometric series collapse into two exponentials with constant factors, so the stream is
// stationary from its first frame and never jumps, however long the decay. An exponential
// whose term is far below one LSB is not evaluated: that saves most of the cost.
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

void ComputeSegment(SignalSimulator& sim, long long first) {
    const SimulatorSettings& s = sim.Settings;
    const double clickDelay = s.ClickDelayMs * 1e-3;

    // The carrier's phase is computed exactly at both ends of the segment; in between it
    // advances linearly, by a rotation applied frame by frame (64 rotations lose ~1e-14).
    const double startPhase = CarrierPhase(sim, GpsTime(sim, first));
    const long double carrierStep = kTwoPiL *
                                    (static_cast<long double>(s.LockFreqHz) + s.CarrierOffsetHz) /
                                    sim.FramesPerSecond;
    const double wanderStep = (Wander(sim, GpsTime(sim, first + kSimulatorSegmentFrames)) -
                               Wander(sim, GpsTime(sim, first))) /
                              kSimulatorSegmentFrames;
    const double step = static_cast<double>(std::fmod(carrierStep, kTwoPiL)) + wanderStep;
    const double stepCos = std::cos(step), stepSin = std::sin(step);
    double carrierCos = std::cos(startPhase), carrierSin = std::sin(startPhase);

    for (int n = 0; n < kSimulatorSegmentFrames; ++n) {
        const long double t = GpsTime(sim, first + n);
        const double dt = static_cast<double>(t - std::floor(t));  // [s] since the GPS second

        const double pps = PpsTrain(sim, dt);
        double rf =
            s.CarrierLevel * carrierSin + Click(s, dt - clickDelay) + Click(s, dt + 1 - clickDelay);
        if (s.NoiseLevel > 0) rf += s.NoiseLevel * Gaussian(sim);

        const int16_t rfSample = ToSample(rf);
        const int16_t ppsSample = ToSample(s.InvertPps ? -pps : pps);
        sim.Segment[n].Rf = s.SwapChannels ? ppsSample : rfSample;
        sim.Segment[n].Pps = s.SwapChannels ? rfSample : ppsSample;

        const double nextCos = carrierCos * stepCos - carrierSin * stepSin;
        carrierSin = carrierSin * stepCos + carrierCos * stepSin;
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
    sim.FramesPerSecond = static_cast<long double>(kFramesPerSecond) *
                          (1.0L + static_cast<long double>(settings.Ppm) * 1e-6L);

    SetUpPpsTrain(sim);

    // The wander's generator starts at a hash of the seed, far from the noise's sequence.
    uint64_t wanderSeed = settings.Seed ^ kWanderStream;
    uint64_t wanderState = SplitMix64(wanderSeed);
    for (int i = 0; i < 3; ++i) {
        sim.WanderAmplitude[i] = settings.CarrierWanderRad * kWanderShares[i];
        sim.WanderPhase[i] = kTwoPi * UnitInterval(wanderState);
    }
    sim.NoiseState = settings.Seed;
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
    return std::llround(static_cast<long double>(settings.Seconds) * kFramesPerSecond *
                        (1.0L + static_cast<long double>(settings.Ppm) * 1e-6L));
}

}  // namespace qv
