// The simulator's PPS channel as a GPS receiver's pulse reaches a sound card and the card records
// it: a rectangular pulse through a first-order rise, a first-order AC coupling, the card's
// anti-alias filter at its own rate and a system resampler to 8000 frames per card second, all
// in closed form. Used by signal_simulator.cpp when a width, an AC corner or a card rate is set.
//
// The analog pulse. The pulse of one GPS second, x [s] after its start, is a sum of terms
// g e^(-a (x - s)) for x >= s (0 before) with a gain g [full scale], a rate a [1/s] (0: a step)
// and a shift s [s] (0, or the width W):
// - the rectangle of height L from 0 to W is L at 0 and -L at W, two steps;
// - the rise, a first-order low-pass of rate b = 1 / rise, turns g e^(-a x) into
//   g b / (b - a) (e^(-a x) - e^(-b x));
// - the AC coupling, a first-order high-pass of rate k = 2 pi PpsAcHz, turns it into
//   g (k e^(-k x) - a e^(-a x)) / (k - a): the undershoot after the falling edge and its
//   recovery with time constant 1 / k.
// Without a width the pulse is the simulator's rise-and-decay shape A (e^(-x/d) - e^(-x/r - x/d)).
// A rate within 1e-6 of another is moved 1e-6 away (the two gains would otherwise grow without
// bound; the shape changes by about 1e-6). The pulses of earlier seconds are summed in closed
// form, a geometric series of e^(-a) per second for each term (the steps of a pulse cancel once
// it has ended), placed at whole GPS seconds before the latest pulse: with PPS jitter the latest
// pulse is exact, and the remains of earlier ones are off by their size times the jitter times
// a, below 0.02 LSB for 1 us of jitter at the slowest corner, 0.5 Hz.
//
// Positions. Frame positions [frames] are on the card's time line: position k is the device
// frame k; at a device rate of 8000, card sample n of a card at rate R is at n * 8000 / R (at
// any other device rate the card runs at it, and its samples are the frames), the first at 0. The
// start and the end of each pulse sit where SimulatorFrameAt puts their GPS times; between them
// the rates a are taken per frame at the card's mean rate, D (1 + Ppm 1e-6) frames per GPS
// second, D the device rate (with drift or wander the time constants change by the card's
// deviation from it).
//
// The card's anti-alias filter, as a delta-sigma card's decimation filter: its impulse
// response is the line through nodes kNodesPerSample apart on the card's time line (each node a
// hat, or triangle, two node steps wide: the signal averaged over a node step twice), so its
// convolution with each term has a closed form. Linear phase: a Kaiser-windowed sinc, cut off at
// 0.475 R and kCardFilterSpan card samples long, its delay removed (a step is at half height at
// its own time). Minimum phase: the same magnitude through the real cepstrum, its delay kept
// (SimulatorCardDelayFrames). Pass band to 0.45 R (the hats take 0.0014 dB there), stop band
// from 0.5 R of more than 100 dB up to half the node rate (the images at multiples of 64 R,
// where a pulse has little left, are the hats': below -86 dB). A term's value at a card sample
// is O(1): the nodes the term has wholly passed add up to a running sum kept per rate, the one
// or two it is passing have a closed form of their own.
//
// The system resampler, from R card samples to 8000 frames per card second: a Kaiser-windowed
// sinc cut off at 3800 Hz, about kResamplerSpanSeconds long, linear phase with no delay; pass
// band to 3600 Hz, stop band from 4000 Hz of more than 100 dB. The frame k lies at the card
// sample position k R / 8000 = k p / q; each of the q phases has its own weights, normalised to
// a sum of 1. Frames whose terms are all either not yet begun or wholly past the filters are
// computed in closed form (each term through both filters is its value times a gain); only the
// frames near an edge add up their card samples, which are kept in a cache while a pulse lasts.
//
// All exponentials, logarithms and sines come from common/trig.h, so that the frames are the
// same bits on every system.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "capture/signal_simulator.h"

namespace qv {

constexpr int kNodesPerSample = 64;               // [nodes per card sample] of the card's filter
constexpr int kCardFilterSpan = 144;              // [card samples] length of the card's filter
constexpr double kResamplerSpanSeconds = 0.0178;  // [card s] length of the resampler's filter

// One term of the pulse (see above) and what the filters make of it.
struct PpsTerm {
    double Gain = 0;    // [full scale]
    double Rate = 0;    // [1/s]
    double Shift = 0;   // [s] after the pulse's start
    int Table = 0;      // its rate's PpsRateTable
    int Edge = 0;       // its shift's place in PpsChainState::Positions
    double Far = 0;     // [full scale] Gain times the filters' gain and the earlier seconds' sum
    double Cutoff = 0;  // exponent beyond which the term is below 1e-6 LSB
};

// Per distinct rate: the card filter's sums and gains.
struct PpsRateTable {
    double Rate = 0;      // [1/s]
    double Mu = 0;        // [1/frame] the rate per frame
    double Step = 1;      // e^(-Mu): a settled term's fall from one frame to the next
    double Tail = 0;      // 1 / (1 - e^(-Rate * 1 s)): this pulse and every earlier one (0: step)
    double NodeMu = 0;    // Mu times the node step
    double FullGain = 1;  // what one node gives a term it has wholly passed, (1 - e^-M)^2 / M^2
    double Steady = 1;    // a term that has passed every node is Steady e^(-Mu (z + Lead - span))
    std::vector<double> Passed;  // [node i] sum over nodes j <= i of h_j e^(-NodeMu (i - j))
    std::vector<double> Phased;  // [phase] sum over the resampler's taps of w_k e^(-Mu k spacing)
};

// The chain's fixed parts, built once by MakePpsChain.
struct PpsChain {
    std::vector<PpsTerm> Terms;
    std::vector<PpsRateTable> Rates;
    std::vector<double> Shifts;     // [s] the distinct shifts, 0 first
    double FramesPerSecond = 8000;  // [frames per GPS s] the card's mean rate
    bool Card = false;              // false: a frame is the analog pulse's value at its position
    // The card's filter: node j at delay j * NodeStep - Lead, with weight Nodes[j] (sum 1).
    std::vector<double> Nodes;
    double NodeStep = 0;  // [frames]
    double Lead = 0;      // [frames]
    double Span = 0;      // [frames] the nodes' extent, NodeStep times their number
    // The resampler: frame k is sum_t Weights[r][t] x(FirstTap + floor(k p / q) + t), x the card
    // samples, r = k p mod q; at 8000 Hz one tap of weight 1.
    int Up = 1, Down = 1;  // p, q: the card samples per frame in lowest terms
    int Taps = 1;
    int FirstTap = 0;
    double Spacing = 1;           // [frames] between card samples, q / p
    std::vector<double> Weights;  // [r * Taps + t]
    // Where a term stands relative to a card sample z frames after its shift.
    double ZeroUntil = 0;    // z <= this: not yet begun
    double SteadyFrom = 0;   // z >= this: wholly past the filter
    double Reach = 0;        // [frames] a pulse starting this far after a frame already acts on it
    double DelayFrames = 0;  // [frames] the card filter's low-frequency delay (0: linear phase)
    bool Stepwise = false;   // the frames are the card's samples at a rate other than 8000
};

// The chain for these settings, or null when the PPS is the rise-and-decay pulse alone.
std::shared_ptr<const PpsChain> MakePpsChain(const SimulatorSettings& settings);

// The card's rate the chain models: DeviceRate when that is not 8000 (the frames are then the
// card's own samples, no resampler), else CardRate (0: no card).
int SimulatorCardRate(const SimulatorSettings& settings);

// The radio's noise at a device rate R other than 8000: the values g_k, one per 1/8000 card
// second, joined by a Kaiser-windowed sinc cut off at 4000 Hz whose zeros fall on the other
// values, so that a frame taken at a multiple of 1/8000 s is that g_k itself. Device frame m
// lies at m Step / Phases (Phases / Step = R / 8000 in lowest terms) and is
// sum_t Weights[r * Taps + t] g(floor + t - Taps / 2 + 1), r = m Step mod Phases.
struct NoiseInterpolator {
    int Phases = 1, Step = 1;
    int Taps = 0;
    std::vector<double> Weights;
};

std::shared_ptr<const NoiseInterpolator> MakeNoiseInterpolator(int deviceRate);

// The PPS channel's value at `frame` [full scale], before noise, hum, inversion and rounding.
// Frames must come in increasing order.
double PpsChainFrame(const PpsChain& chain, PpsChainState& state, const SimulatorSettings& settings,
                     long long frame);

}  // namespace qv
