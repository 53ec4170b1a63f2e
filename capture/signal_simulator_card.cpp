// The simulator's card model: the pulse's terms, the card's filter and the resampler, and the
// frames they give (see signal_simulator_card.h).
#include "capture/signal_simulator_card.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <utility>

#include "common/trig.h"

namespace qv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr long double kPiL = std::numbers::pi_v<long double>;
constexpr double kCardCutoff = 0.475;         // [of R] the card filter's cut-off, mid-transition
constexpr double kResamplerCutoffHz = 3800;   // [Hz] the resampler's, mid-transition
constexpr double kKaiserBeta = 11.16;         // Kaiser's 0.1102 (110 dB - 8.7): 110 dB stop band
constexpr double kNegligible = 1e-6 / 32767;  // [full scale] smaller terms are left out
constexpr double kRateApart = 1e-6;           // rates closer than this (relative) are moved apart
constexpr int kCepstrumLength = 1 << 17;      // [points] > 14 times the filter: no aliasing
constexpr double kCepstrumFloor = 1e-10;      // [of the pass band] magnitudes below count as this
constexpr int kFilterNodes = kCardFilterSpan * kNodesPerSample + 1;
constexpr long long kRefreshFrames = 4096;  // [frames] a carried value is computed afresh
constexpr int kNoiseTaps = 96;  // [values] joined into one frame of the radio's noise (4 n)

// ---------------------------------------------------------------------------------------------
// Functions that give the same bits everywhere

// sin(pi x), reduced by the exact remainder of x / 2 first.
double SinPi(double x) {
    long double s = 0, c = 1;
    ExtendedSinCos(kPiL * std::fmod(x, 2.0), &s, &c);
    return static_cast<double>(s);
}

double Sinc(double x) { return x == 0 ? 1 : SinPi(x) / (kPi * x); }

// The modified Bessel function I0 by its series, sum of ((x/2)^k / k!)^2.
double BesselI0(double x) {
    const double quarter = x * x / 4;
    double term = 1, sum = 1;
    for (int k = 1; k < 100 && term > sum * 1e-18; ++k) {
        term *= quarter / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

// The Kaiser window at x in [-1, 1] (0 outside).
double Kaiser(double x) {
    if (!(std::fabs(x) <= 1)) return 0;
    return BesselI0(kKaiserBeta * std::sqrt(1 - x * x)) / BesselI0(kKaiserBeta);
}

// Sum of c_n (-x)^n for n = 0 .. 19, c_n from `coefficient`: the series below, for x < 0.5,
// where it ends below 1e-24.
template <typename Coefficient>
double Series(double x, Coefficient coefficient) {
    double sum = 0;
    for (int n = 19; n >= 0; --n) sum = sum * -x + coefficient(n);
    return sum;
}

double InverseFactorial(int n) {
    double f = 1;
    for (int k = 2; k <= n; ++k) f *= k;
    return 1 / f;
}

// For x >= 0: (1 - e^-x) / x, (x - 1 + e^-x) / x^2 and (1 - (1 + x) e^-x) / x^2, the integrals
// of e^(-x t) against 1, 1 - t and t over t in [0, 1]. Series near 0, where the differences
// cancel.
double Phi1(double x) {
    if (x < 0.5) return Series(x, [](int n) { return InverseFactorial(n + 1); });
    return (1 - PortableExp(-x)) / x;
}

double Phi2(double x) {
    if (x < 0.5) return Series(x, [](int n) { return InverseFactorial(n + 2); });
    return (x - 1 + PortableExp(-x)) / (x * x);
}

double Psi(double x) {
    if (x < 0.5) return Series(x, [](int n) { return (n + 1) * InverseFactorial(n + 2); });
    return (1 - (1 + x) * PortableExp(-x)) / (x * x);
}

// ---------------------------------------------------------------------------------------------
// The analog pulse

struct AnalogTerm {
    double Gain, Rate, Shift;
};

// Terms of the same rate and shift added together; terms of no gain left out.
void Merge(std::vector<AnalogTerm>& terms) {
    std::vector<AnalogTerm> merged;
    for (const AnalogTerm& t : terms) {
        auto same = std::find_if(merged.begin(), merged.end(), [&](const AnalogTerm& m) {
            return m.Rate == t.Rate && m.Shift == t.Shift;
        });
        if (same == merged.end()) {
            merged.push_back(t);
        } else {
            same->Gain += t.Gain;
        }
    }
    std::erase_if(merged, [](const AnalogTerm& t) { return t.Gain == 0; });
    terms = std::move(merged);
}

// A filter's rate, moved kRateApart away from any rate the terms have.
double ApartFrom(const std::vector<AnalogTerm>& terms, double rate) {
    for (const AnalogTerm& t : terms) {
        if (std::fabs(t.Rate - rate) <= kRateApart * rate) rate = t.Rate * (1 + 2 * kRateApart);
    }
    return rate;
}

void LowPass(std::vector<AnalogTerm>& terms, double rate) {
    rate = ApartFrom(terms, rate);
    std::vector<AnalogTerm> out;
    for (const AnalogTerm& t : terms) {
        const double g = t.Gain * rate / (rate - t.Rate);
        out.push_back({g, t.Rate, t.Shift});
        out.push_back({-g, rate, t.Shift});
    }
    terms = std::move(out);
    Merge(terms);
}

void HighPass(std::vector<AnalogTerm>& terms, double rate) {
    rate = ApartFrom(terms, rate);
    std::vector<AnalogTerm> out;
    for (const AnalogTerm& t : terms) {
        out.push_back({-t.Gain * t.Rate / (rate - t.Rate), t.Rate, t.Shift});
        out.push_back({t.Gain * rate / (rate - t.Rate), rate, t.Shift});
    }
    terms = std::move(out);
    Merge(terms);
}

std::vector<AnalogTerm> AnalogPulse(const SimulatorSettings& s) {
    std::vector<AnalogTerm> terms;
    const double rise = s.PpsRiseMs * 1e-3;  // [s]
    if (s.PpsWidthMs > 0) {
        terms = {{s.PpsLevel, 0, 0}, {-s.PpsLevel, 0, s.PpsWidthMs * 1e-3}};
        Merge(terms);
        LowPass(terms, 1 / rise);
    } else if (s.PpsDecayMs > 0) {
        // The rise-and-decay pulse, its peak at the set level (as signal_simulator.cpp has it).
        const double d = s.PpsDecayMs * 1e-3;
        const double peak = d / (rise + d) * PortableExp(rise / d * PortableLog(rise / (rise + d)));
        const double a = s.PpsLevel / peak;
        terms = {{a, 1 / d, 0}, {-a, 1 / rise + 1 / d, 0}};
        Merge(terms);
    }
    if (s.PpsAcHz > 0) HighPass(terms, 2 * kPi * s.PpsAcHz);
    return terms;
}

// ---------------------------------------------------------------------------------------------
// The filters' design

// In-place radix-2 transform of (re, im), n a power of 2: forward e^(-2 pi i k t / n), or the
// inverse without the 1/n.
void Fft(std::vector<double>& re, std::vector<double>& im, bool inverse) {
    const size_t n = re.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(re[i], re[j]), std::swap(im[i], im[j]);
    }
    std::vector<double> cosine(n / 2), sine(n / 2);
    for (size_t k = 0; k < n / 2; ++k) {
        long double s = 0, c = 1;
        ExtendedSinCos(2 * kPiL * k / n, &s, &c);
        cosine[k] = static_cast<double>(c);
        sine[k] = inverse ? static_cast<double>(s) : -static_cast<double>(s);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const size_t half = length / 2, stride = n / length;
        for (size_t start = 0; start < n; start += length) {
            for (size_t k = 0; k < half; ++k) {
                const double wr = cosine[k * stride], wi = sine[k * stride];
                const size_t a = start + k, b = a + half;
                const double vr = re[b] * wr - im[b] * wi, vi = re[b] * wi + im[b] * wr;
                re[b] = re[a] - vr, im[b] = im[a] - vi;
                re[a] += vr, im[a] += vi;
            }
        }
    }
}

void Normalise(std::vector<double>& weights) {
    double sum = 0;
    for (double w : weights) sum += w;
    for (double& w : weights) w /= sum;
}

// The linear-phase card filter's nodes, kNodesPerSample per card sample: the windowed sinc at
// u = (j - centre) / kNodesPerSample card samples.
std::vector<double> LinearNodes() {
    std::vector<double> nodes(kFilterNodes);
    const int centre = kFilterNodes / 2;
    for (int j = 0; j < kFilterNodes; ++j) {
        const double u = static_cast<double>(j - centre) / kNodesPerSample;
        nodes[j] = 2 * kCardCutoff * Sinc(2 * kCardCutoff * u) * Kaiser(u / (kCardFilterSpan / 2));
    }
    Normalise(nodes);
    return nodes;
}

// The minimum-phase filter of the same magnitude: the real cepstrum of the log magnitude, folded
// onto its causal half, exponentiated back.
std::vector<double> MinimumPhaseNodes(const std::vector<double>& linear) {
    const size_t n = kCepstrumLength;
    std::vector<double> re(n, 0.0), im(n, 0.0);
    std::copy(linear.begin(), linear.end(), re.begin());
    Fft(re, im, false);
    for (size_t k = 0; k < n; ++k) {
        const double power =
            std::max(re[k] * re[k] + im[k] * im[k], kCepstrumFloor * kCepstrumFloor);
        re[k] = 0.5 * PortableLog(power);
        im[k] = 0;
    }
    Fft(re, im, true);
    for (size_t k = 0; k < n; ++k) {
        const double scale = k == 0 || k == n / 2 ? 1.0 : k < n / 2 ? 2.0 : 0.0;
        re[k] *= scale / n;
        im[k] = 0;
    }
    Fft(re, im, false);
    for (size_t k = 0; k < n; ++k) {
        const double magnitude = PortableExp(re[k]);
        long double s = 0, c = 1;
        ExtendedSinCos(std::fmod(im[k], 2 * kPi), &s, &c);
        re[k] = magnitude * static_cast<double>(c);
        im[k] = magnitude * static_cast<double>(s);
    }
    Fft(re, im, true);
    std::vector<double> nodes(re.begin(), re.begin() + static_cast<long>(linear.size()));
    Normalise(nodes);
    return nodes;
}

// Both designs depend on nothing but the constants: made once per process.
const std::vector<double>& CardNodes(CardFilterPhase phase) {
    static const std::vector<double> linear = LinearNodes();
    if (phase == CardFilterPhase::Linear) return linear;
    static const std::vector<double> minimum = MinimumPhaseNodes(linear);
    return minimum;
}

void DesignResampler(PpsChain& c, int rate, int deviceRate) {
    const int common = std::gcd(rate, deviceRate);
    c.Up = rate / common;
    c.Down = deviceRate / common;
    c.Spacing = static_cast<double>(c.Down) / c.Up;
    if (rate == deviceRate) {
        c.Taps = 1, c.FirstTap = 0, c.Weights = {1.0};
        return;
    }
    const int half = static_cast<int>(std::ceil(kResamplerSpanSeconds * rate / 2));
    c.Taps = 2 * half;
    c.FirstTap = 1 - half;
    const double cutoff = kResamplerCutoffHz / rate;  // [cycles per card sample]
    c.Weights.assign(static_cast<size_t>(c.Down) * c.Taps, 0.0);
    for (int r = 0; r < c.Down; ++r) {
        std::vector<double> row(c.Taps);
        for (int t = 0; t < c.Taps; ++t) {
            const double v = static_cast<double>(r) / c.Down + (half - 1 - t);  // [card samples]
            row[t] = 2 * cutoff * Sinc(2 * cutoff * v) * Kaiser(v / half);
        }
        Normalise(row);
        std::copy(row.begin(), row.end(), c.Weights.begin() + static_cast<long>(r) * c.Taps);
    }
}

void MakeRateTable(const PpsChain& c, PpsRateTable& t) {
    t.Mu = t.Rate / c.FramesPerSecond;
    t.Step = PortableExp(-t.Mu);
    t.Tail = t.Rate > 0 ? 1 / (1 - PortableExp(-t.Rate)) : 0;
    t.Phased.assign(static_cast<size_t>(c.Down), 1.0);
    if (!c.Card) return;
    t.NodeMu = t.Mu * c.NodeStep;
    t.FullGain = Phi1(t.NodeMu) * Phi1(t.NodeMu);
    const double ratio = PortableExp(-t.NodeMu);
    t.Passed.resize(c.Nodes.size());
    double sum = 0;
    for (size_t j = 0; j < c.Nodes.size(); ++j) t.Passed[j] = sum = c.Nodes[j] + ratio * sum;
    t.Steady = t.FullGain * t.Passed.back();
    for (int r = 0; r < c.Down; ++r) {
        double phased = 0;
        for (int k = 0; k < c.Taps; ++k) {
            phased +=
                c.Weights[static_cast<size_t>(r) * c.Taps + k] * PortableExp(-t.Mu * c.Spacing * k);
        }
        t.Phased[r] = phased;
    }
}

// ---------------------------------------------------------------------------------------------
// The frames

// A term's value through the card's filter, z [frames] after its shift, while it passes the
// nodes: the nodes whose hats it has wholly passed from the running sum, and in closed form the
// two whose hats it is in, node i0 + 1 (w node steps past its centre, w in [0, 1)) and node
// i0 + 2 (w - 1): the integral of the hat over t up to the term's place, against
// e^(-M (place - t)), M the rate per node step.
double Passing(const PpsChain& c, const PpsRateTable& t, double z) {
    const int last = static_cast<int>(c.Nodes.size()) - 1;
    const double zeta = (z + c.Lead) / c.NodeStep;
    const double below = std::floor(zeta - 1);
    const double w = zeta - 1 - below;  // [node steps] past node i0 + 1's centre, in [0, 1)
    const long long i0 = static_cast<long long>(below);
    const double m = t.NodeMu;
    double v = 0;
    if (i0 >= 0) {
        const int i = static_cast<int>(std::min<long long>(i0, last));
        v += t.FullGain * PortableExp(-m * (zeta - 1 - i)) * t.Passed[i];
    }
    if (i0 + 1 >= 0 && i0 + 1 <= last) {
        const double passing =
            PortableExp(-m * w) * Phi2(m) + (1 - w) * w * Phi1(m * w) + w * w * Psi(m * w);
        v += c.Nodes[static_cast<size_t>(i0 + 1)] * passing;
    }
    if (i0 + 2 >= 0 && i0 + 2 <= last)
        v += c.Nodes[static_cast<size_t>(i0 + 2)] * w * w * Phi2(m * w);
    return v;
}

// A term wholly past the filters with the remains of earlier seconds (z >= SteadyFrom), or
// those remains alone (before), z [frames] after the term's shift at the first tap; `phased` the
// resampler's gain for the frame's phase (1 for a card sample).
double Settled(const PpsChain& c, const PpsTerm& term, double z, double phased) {
    const PpsRateTable& t = c.Rates[static_cast<size_t>(term.Table)];
    if (z < c.SteadyFrom) {
        if (!(t.Rate > 0)) return 0;  // a step ends with its pulse
        z += c.FramesPerSecond;
    }
    const double exponent = t.Mu * (z + c.Lead - c.Span);
    if (exponent > term.Cutoff) return 0;
    return term.Far * phased * PortableExp(-exponent);
}

// The settled terms at `frame` of a card whose samples are the frames at a rate other than 8000,
// where the exponentials cost most of the time: a term keeps falling by e^(-Mu) per frame, so
// its value is carried from the frame before while the pulse and the term's branch stay the
// same, and computed afresh after an edge and every kRefreshFrames frames (the carried factor's
// rounding then stays below 1e-12 of the value).
double SteppedSettled(const PpsChain& c, PpsChainState& st, long long frame, long double firstAt) {
    const bool carry =
        st.HeldFrame == frame - 1 && st.HeldSecond == st.Second && frame % kRefreshFrames != 0;
    st.Held.resize(c.Terms.size(), 0.0);
    st.HeldEarly.resize(c.Terms.size(), 0);
    double y = 0;
    for (size_t i = 0; i < c.Terms.size(); ++i) {
        const PpsTerm& term = c.Terms[i];
        const PpsRateTable& t = c.Rates[static_cast<size_t>(term.Table)];
        double z = static_cast<double>(firstAt - st.Positions[static_cast<size_t>(term.Edge)]);
        const char early = z < c.SteadyFrom;  // the remains of earlier pulses alone
        double v = 0;
        if (!early || t.Rate > 0) {
            if (early) z += c.FramesPerSecond;
            const double exponent = t.Mu * (z + c.Lead - c.Span);
            if (exponent <= term.Cutoff) {
                v = carry && st.HeldEarly[i] == early && st.Held[i] != 0
                        ? st.Held[i] * t.Step
                        : term.Far * PortableExp(-exponent);
            }
        }
        st.Held[i] = v, st.HeldEarly[i] = early;
        y += v;
    }
    st.HeldFrame = frame, st.HeldSecond = st.Second;
    return y;
}

// One card sample, z frames after the term's shift.
double CardTermValue(const PpsChain& c, const PpsTerm& term, double z) {
    if (z >= c.SteadyFrom || z <= c.ZeroUntil) return Settled(c, term, z, 1);
    const PpsRateTable& t = c.Rates[static_cast<size_t>(term.Table)];
    return term.Gain * Passing(c, t, z) + Settled(c, term, z, 1);
}

void SetPulse(const PpsChain& c, PpsChainState& st, const SimulatorSettings& s, long long second) {
    st.Second = second;
    const long double start = static_cast<long double>(second) + SimulatorPpsJitter(s, second);
    st.Positions.resize(c.Shifts.size());
    for (size_t e = 0; e < c.Shifts.size(); ++e) {
        st.Positions[e] = SimulatorFrameAt(s, start + static_cast<long double>(c.Shifts[e]));
    }
    st.NextStart = SimulatorFrameAt(
        s, static_cast<long double>(second + 1) + SimulatorPpsJitter(s, second + 1));
}

}  // namespace

int SimulatorCardRate(const SimulatorSettings& s) {
    return s.DeviceRate != 8000 ? s.DeviceRate : s.CardRate;
}

std::shared_ptr<const NoiseInterpolator> MakeNoiseInterpolator(int deviceRate) {
    auto ip = std::make_shared<NoiseInterpolator>();
    const int common = std::gcd(deviceRate, 8000);
    ip->Phases = deviceRate / common;
    ip->Step = 8000 / common;
    const int half = kNoiseTaps / 2;
    ip->Taps = kNoiseTaps;
    ip->Weights.resize(static_cast<size_t>(ip->Phases) * ip->Taps);
    for (int r = 0; r < ip->Phases; ++r) {
        for (int t = 0; t < ip->Taps; ++t) {
            const double v = static_cast<double>(r) / ip->Phases + (half - 1 - t);  // [1/8000 s]
            ip->Weights[static_cast<size_t>(r) * ip->Taps + t] = Sinc(v) * Kaiser(v / half);
        }
    }
    return ip;
}

std::shared_ptr<const PpsChain> MakePpsChain(const SimulatorSettings& s) {
    const int cardRate = SimulatorCardRate(s);
    if (!(s.PpsWidthMs > 0) && !(s.PpsAcHz > 0) && cardRate <= 0) return nullptr;
    auto c = std::make_shared<PpsChain>();
    c->FramesPerSecond = s.DeviceRate * (1 + s.Ppm * 1e-6);
    if (cardRate > 0) {
        c->Card = true;
        DesignResampler(*c, cardRate, s.DeviceRate);
        c->Nodes = CardNodes(s.CardFilter);
        c->NodeStep = c->Spacing / kNodesPerSample;
        const double span = c->NodeStep * static_cast<double>(c->Nodes.size());
        // Linear phase: the middle node at delay 0. Minimum phase: the first node's hat begins
        // at delay 0, so that nothing reaches a card sample before the signal does.
        c->Lead = s.CardFilter == CardFilterPhase::Linear
                      ? c->NodeStep * static_cast<double>(c->Nodes.size() - 1) / 2
                      : -c->NodeStep;
        c->Span = span;
        c->ZeroUntil = -(c->NodeStep + c->Lead);
        c->SteadyFrom = span - c->Lead;
        c->Reach = (c->FirstTap + c->Taps - 1) * c->Spacing + c->NodeStep + c->Lead;
        for (size_t j = 0; j < c->Nodes.size(); ++j) {
            c->DelayFrames += c->Nodes[j] * (static_cast<double>(j) * c->NodeStep - c->Lead);
        }
        if (s.CardFilter == CardFilterPhase::Linear) c->DelayFrames = 0;  // by symmetry
        c->Stepwise = cardRate == s.DeviceRate && s.DeviceRate != 8000;
    }

    for (const AnalogTerm& a : AnalogPulse(s)) {
        PpsTerm term;
        term.Gain = a.Gain, term.Rate = a.Rate, term.Shift = a.Shift;
        auto shift = std::find(c->Shifts.begin(), c->Shifts.end(), a.Shift);
        term.Edge = static_cast<int>(shift - c->Shifts.begin());
        if (shift == c->Shifts.end()) c->Shifts.push_back(a.Shift);
        auto rate = std::find_if(c->Rates.begin(), c->Rates.end(),
                                 [&](const PpsRateTable& t) { return t.Rate == a.Rate; });
        term.Table = static_cast<int>(rate - c->Rates.begin());
        if (rate == c->Rates.end()) {
            c->Rates.emplace_back();
            c->Rates.back().Rate = a.Rate;
            MakeRateTable(*c, c->Rates.back());
        }
        c->Terms.push_back(term);
    }
    if (c->Shifts.empty()) c->Shifts.push_back(0);
    for (PpsTerm& term : c->Terms) {
        const PpsRateTable& t = c->Rates[static_cast<size_t>(term.Table)];
        term.Far = term.Gain * t.Steady * (t.Rate > 0 ? t.Tail : 1);
        double largest = 0;
        for (double p : t.Phased) largest = std::max(largest, std::fabs(p));
        const double bound = std::fabs(term.Far) * std::max(largest, 1.0) / kNegligible;
        term.Cutoff = bound > 1 ? PortableLog(bound) : -1;
    }
    return c;
}

double PpsChainFrame(const PpsChain& c, PpsChainState& st, const SimulatorSettings& s,
                     long long frame) {
    const long double reach = static_cast<long double>(frame) + c.Reach;
    if (!st.Started) {
        st.Started = true;
        SetPulse(c, st, s, static_cast<long long>(std::floor(SimulatorTimeAtFrame(s, reach))) - 2);
    }
    while (st.NextStart <= reach) SetPulse(c, st, s, st.Second + 1);

    if (!c.Card) {
        double y = 0;
        for (const PpsTerm& term : c.Terms) {
            y += Settled(c, term, static_cast<double>(frame - st.Positions[term.Edge]), 1);
        }
        return y;
    }

    const long long scaled = frame * c.Up;
    const long long first = scaled / c.Down + c.FirstTap;
    const int phase = static_cast<int>(scaled % c.Down);
    const long double firstAt = static_cast<long double>(first) * c.Down / c.Up;
    const double taps = (c.Taps - 1) * c.Spacing;  // [frames] from the first tap to the last
    bool passing = false;
    for (const PpsTerm& term : c.Terms) {
        const double z = static_cast<double>(firstAt - st.Positions[term.Edge]);
        passing = passing || (z < c.SteadyFrom && z + taps > c.ZeroUntil);
    }
    if (!passing && c.Stepwise) return SteppedSettled(c, st, frame, firstAt);
    if (!passing) {
        double y = 0;
        for (const PpsTerm& term : c.Terms) {
            const double z = static_cast<double>(firstAt - st.Positions[term.Edge]);
            y += Settled(c, term, z, c.Rates[static_cast<size_t>(term.Table)].Phased[phase]);
        }
        return y;
    }

    // Near an edge: the card samples the resampler takes, kept while the pulse lasts.
    const size_t ring = st.Samples.size();
    if (ring < static_cast<size_t>(c.Taps)) {
        size_t size = 64;
        while (size < static_cast<size_t>(c.Taps) + 64) size *= 2;
        st.Samples.assign(size, 0.0);
        st.SamplesEnd = st.SamplesFirst = first;
    }
    const long long mask = static_cast<long long>(st.Samples.size()) - 1;
    if (st.SamplesSecond != st.Second || first < st.SamplesFirst || first > st.SamplesEnd) {
        st.SamplesSecond = st.Second;
        st.SamplesFirst = st.SamplesEnd = first;
    }
    for (; st.SamplesEnd < first + c.Taps; ++st.SamplesEnd) {
        const long double at = static_cast<long double>(st.SamplesEnd) * c.Down / c.Up;
        double x = 0;
        for (const PpsTerm& term : c.Terms) {
            x += CardTermValue(c, term, static_cast<double>(at - st.Positions[term.Edge]));
        }
        st.Samples[static_cast<size_t>(st.SamplesEnd & mask)] = x;
    }
    st.SamplesFirst = std::max(st.SamplesFirst, st.SamplesEnd - mask);
    const double* w = c.Weights.data() + static_cast<size_t>(phase) * c.Taps;
    double y = 0;
    for (int t = 0; t < c.Taps; ++t)
        y += w[t] * st.Samples[static_cast<size_t>((first + t) & mask)];
    return y;
}

}  // namespace qv
