// Decimating resampler from a card's rate to 8000 frames per second: stage design and streaming.
#include "dsp/rate_converter.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <iterator>
#include <numeric>

#include "common/trig.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define QV_WIDE_VECTORS 1
#endif

// Where the target has fused multiply-adds, a * b + c must still round twice, as everywhere else.
#if defined(__FMA__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace qv {

namespace {

// Both channels in one SSE2 register: each lane is computed as the scalar code would, with the
// same IEEE double operations in the same order, so the bits are those of plain C++.
typedef double Pair __attribute__((vector_size(16)));

inline Pair Load(const StereoSample& s) {
    Pair p;
    std::memcpy(&p, &s, sizeof(p));
    return p;
}
inline StereoSample Store(Pair p) { return {p[0], p[1]}; }
// A coefficient, held twice in a row: the same for both lanes.
inline Pair Twice(const double* c) {
    Pair p;
    std::memcpy(&p, c, sizeof(p));
    return p;
}

constexpr int kOutputRate = kFramesPerSecond;    // [frames/s]
constexpr int kLastStageRate = 2 * kOutputRate;  // [frames/s] input of the final halving
constexpr int kPassEdgeHz = 3400;                // [Hz] flat to here
constexpr int kStopEdgeHz = 4000;  // [Hz] rejected from here (the output's Nyquist frequency)
// [Hz] what the earlier stages keep; they reject only what would fold onto it, from their
// output rate minus this up.
constexpr int kKeptBandHz = kStopEdgeHz;
// [dB] Kaiser design target of the earlier stages (short ones): 10 dB above the 110 dB asked.
// The windowed sinc's ripple is the same in the pass and stop bands, so their passband is far
// flatter than asked.
constexpr long double kEarlierStageDb = 120;
// The last stage alone rejects 4 kHz up to its images and has the narrow transition, so it is
// equiripple, with a passband ripple `kLastStagePassRipple` times its stopband's: 70 taps a side
// give +-0.0039 dB to 3.4 kHz and 113.9 dB from 4 kHz (69 give 111.9 dB; a Kaiser window needs
// 98 for 113 dB).
constexpr int kLastStageHalfLength = 70;
constexpr long double kLastStagePassRipple = 223;  // 0.0005 (0.004 dB) over 113 dB's 2.24e-6
constexpr int kGridPerTap = 16;                    // points of the design's frequency grid
constexpr int kAccumulators = 4;        // partial sums per channel, so the additions overlap
constexpr size_t kSilenceBlock = 4096;  // [input frames] fed at a time to flush the filters

constexpr long double kPiExtended = 0xc90fdaa22168c235p-62L;  // pi to the last bit of 64

// ================================================================================================
// Design: Kaiser-windowed sinc
// ================================================================================================

// The Bessel function I0 at x from y = (x / 2)^2: the sum of y^k / (k!)^2, to the last place.
long double BesselI0(long double y) {
    long double term = 1, sum = 1;
    for (int k = 1; term > sum * 0x1p-66L; ++k) {
        term = term * y / (static_cast<long double>(k) * k);
        sum += term;
    }
    return sum;
}

// Kaiser's estimates of the shape and the half length (taps -D .. D) of a window that rejects
// by `db` with a transition `transitionHz` wide at `rateHz`.
long double KaiserBeta(long double db) { return 0.1102L * (db - 8.7L); }
int KaiserHalfLength(long double db, long double transitionHz, long double rateHz) {
    const long double taps = (db - 7.95L) / (2.285L * 2 * kPiExtended * transitionHz / rateHz);
    return static_cast<int>(std::ceil(taps / 2));
}

// Taps h[0 .. D] of the symmetric low-pass at `rateHz` (h[-n] = h[n]) whose cutoff lies halfway
// between `passHz` and `stopHz`, scaled to a gain of `gain` at 0 Hz. The sinc's angle
// pi n (pass + stop) / rate is reduced in integers to [0, 2 pi), so its sine is exact to the
// last place and exactly 0 on the sinc's zeros (every other tap of a halfband stage).
std::vector<long double> LowPassHalf(long double db, int halfLength, int64_t rateHz, int passHz,
                                     int stopHz, long double gain) {
    const long double beta = KaiserBeta(db);
    const int64_t edges = passHz + stopHz;  // [Hz] twice the cutoff
    const long double windowScale = 1 / BesselI0(beta * beta / 4);
    const long double d2 = static_cast<long double>(halfLength) * halfLength;
    std::vector<long double> h(static_cast<size_t>(halfLength) + 1);
    h[0] = static_cast<long double>(edges) / static_cast<long double>(rateHz);
    long double sum = h[0];
    for (int n = 1; n <= halfLength; ++n) {
        const int64_t turns = (n * edges) % (2 * rateHz);  // [pi / rate]
        long double sine = 0, cosine = 0;
        if (turns % rateHz != 0)
            ExtendedSinCos(
                kPiExtended * static_cast<long double>(turns) / static_cast<long double>(rateHz),
                &sine, &cosine);
        const long double y = beta * beta * (d2 - static_cast<long double>(n) * n) / (4 * d2);
        h[static_cast<size_t>(n)] = sine / (kPiExtended * n) * BesselI0(y) * windowScale;
        sum += 2 * h[static_cast<size_t>(n)];
    }
    for (long double& v : h) v = v * gain / sum;
    return h;
}

// ================================================================================================
// Design: equiripple low-pass
// ================================================================================================

// The equiripple low-pass with taps h[0 .. D] (h[-n] = h[n]): passband 0 .. passFraction and
// stopband stopFraction .. 1/2 of the rate, the passband's ripple `passRipple` times the
// stopband's. Remez's exchange on the response A(w) = h0 + 2 sum h[n] cos(n w) as a polynomial
// in x = cos w: interpolate with ripple of alternating sign at D + 2 reference frequencies,
// move them to the extremes of the error, until those are the reference itself; then h from A
// at the frequencies 2 pi k / (2 D + 1). All in extended precision, on a fixed grid, so the
// same every time and everywhere.
std::vector<long double> EquirippleLowPassHalf(int halfLength, long double passFraction,
                                               long double stopFraction, long double passRipple) {
    const auto cos2Pi = [](long double turns) {
        long double s = 0, c = 0;
        ExtendedSinCos(2 * kPiExtended * turns, &s, &c);
        return c;
    };
    // The grid: each band in proportion to its width, both ends included.
    const int points = kGridPerTap * (halfLength + 1);
    const long double stopWidth = 0.5L - stopFraction;
    const int passPoints = static_cast<int>(points * passFraction / (passFraction + stopWidth));
    const int stopPoints = points - passPoints;
    std::vector<long double> x, wanted, weight;  // x = cos w
    for (int i = 0; i < passPoints; ++i) {
        x.push_back(cos2Pi(passFraction * i / (passPoints - 1)));
        wanted.push_back(1), weight.push_back(1);
    }
    for (int i = 0; i < stopPoints; ++i) {
        x.push_back(cos2Pi(stopFraction + stopWidth * i / (stopPoints - 1)));
        wanted.push_back(0), weight.push_back(passRipple);
    }

    // The first reference: evenly spread over each band in proportion to its width.
    const int r = halfLength + 2;
    std::vector<int> ref(static_cast<size_t>(r));
    const int passRefs = static_cast<int>(r * passFraction / (passFraction + stopWidth) + 0.5L);
    for (int i = 0; i < passRefs; ++i) ref[i] = i * (passPoints - 1) / (passRefs - 1);
    for (int i = 0; i < r - passRefs; ++i)
        ref[passRefs + i] = passPoints + i * (stopPoints - 1) / (r - passRefs - 1);

    std::vector<long double> value(static_cast<size_t>(r)), barycentric(static_cast<size_t>(r)),
        error(x.size());
    // Barycentric weights of the first `count` reference points (the factor 2 keeps the product
    // of 70 differences well inside the exponent's range).
    const auto weigh = [&](int count) {
        for (int i = 0; i < count; ++i) {
            long double product = 1;
            for (int j = 0; j < count; ++j)
                if (j != i) product *= 2 * (x[ref[i]] - x[ref[j]]);
            barycentric[i] = 1 / product;
        }
    };
    // A at x through the values at the first r - 1 reference points (degree D).
    const auto response = [&](long double at) {
        long double num = 0, den = 0;
        for (int i = 0; i < r - 1; ++i) {
            if (at == x[ref[i]]) return value[i];
            const long double t = barycentric[i] / (at - x[ref[i]]);
            num += t * value[i];
            den += t;
        }
        return num / den;
    };
    // It settles within 15 exchanges for the last stage (checked by its response in the tests).
    for (int exchange = 0; exchange < 100; ++exchange) {
        weigh(r);
        long double num = 0, den = 0;
        for (int i = 0; i < r; ++i) {
            num += barycentric[i] * wanted[ref[i]];
            den += barycentric[i] * (i % 2 ? -1 : 1) / weight[ref[i]];
        }
        const long double delta = num / den;
        for (int i = 0; i < r; ++i)
            value[i] = wanted[ref[i]] - (i % 2 ? -1 : 1) * delta / weight[ref[i]];
        weigh(r - 1);
        for (size_t g = 0; g < x.size(); ++g) error[g] = weight[g] * (wanted[g] - response(x[g]));

        // The error's peaks of its own sign (the bands' ends count), alternating in sign (of two
        // alike the larger stays), then cut to r from whichever end is smaller.
        std::vector<int> peaks;
        const int last = static_cast<int>(x.size()) - 1;
        for (int g = 0; g <= last; ++g) {
            const long double sign = error[g] > 0 ? 1 : -1, e = sign * error[g];
            const bool first = g == 0 || g == passPoints, end = g == passPoints - 1 || g == last;
            if ((first || e >= sign * error[g - 1]) && (end || e > sign * error[g + 1]) &&
                e >= std::fabs(delta) * (1 - 1e-9L)) {
                if (!peaks.empty() && (error[peaks.back()] > 0) == (error[g] > 0)) {
                    if (e > std::fabs(error[peaks.back()])) peaks.back() = g;
                } else {
                    peaks.push_back(g);
                }
            }
        }
        while (static_cast<int>(peaks.size()) > r) {
            if (std::fabs(error[peaks.front()]) < std::fabs(error[peaks.back()]))
                peaks.erase(peaks.begin());
            else
                peaks.pop_back();
        }
        assert(static_cast<int>(peaks.size()) == r);
        if (static_cast<int>(peaks.size()) != r || peaks == ref) break;
        ref = peaks;
    }

    const int taps = 2 * halfLength + 1;
    std::vector<long double> a(static_cast<size_t>(halfLength) + 1);
    for (int k = 0; k <= halfLength; ++k)
        a[k] = response(cos2Pi(static_cast<long double>(k) / taps));
    std::vector<long double> h(a.size());
    for (int n = 0; n <= halfLength; ++n) {
        long double sum = a[0];
        for (int k = 1; k <= halfLength; ++k)
            sum += 2 * a[k] * cos2Pi(static_cast<long double>(k * n % taps) / taps);
        h[n] = sum / taps;
    }
    return h;
}

// ================================================================================================
// Stages
// ================================================================================================

// An integer stage down by `factor` with the symmetric taps h[0 .. D]; every tapStep-th tap but
// the centre is 0 and skipped (tapStep 1: none).
RateStage IntegerStage(int factor, int tapStep, const std::vector<long double>& h) {
    RateStage s;
    s.Factor = factor;
    s.HalfLength = static_cast<int>(h.size()) - 1;
    s.Centre = static_cast<double>(h[0]);
    s.TapStep = tapStep;
    for (int first = 1; first < std::max(tapStep, 2); ++first) {
        s.RunPairs.push_back((s.HalfLength - first) / tapStep + 1);
        for (int n = first; n <= s.HalfLength; n += tapStep)
            s.Coefs.insert(s.Coefs.end(), 2, static_cast<double>(h[static_cast<size_t>(n)]));
    }
    s.History.assign(static_cast<size_t>(s.HalfLength), StereoSample{0, 0});
    return s;
}

// An earlier stage from `rateHz` down by `factor`: it keeps 0 .. 4 kHz and rejects from its
// output rate minus 4 kHz up, what would fold onto that. Its cutoff lies at half its output
// rate, so every factor-th tap is 0 (every other one at a halving).
RateStage EarlierStage(int rateHz, int factor) {
    const int stopHz = rateHz / factor - kKeptBandHz;
    const int halfLength = KaiserHalfLength(kEarlierStageDb, stopHz - kKeptBandHz, rateHz);
    return IntegerStage(factor, factor,
                        LowPassHalf(kEarlierStageDb, halfLength, rateHz, kKeptBandHz, stopHz, 1));
}

// A rational stage from `rateHz` to `outRateHz`: up by L, low-pass at L * rateHz, down by M,
// computing only the kept outputs from the input samples themselves.
RateStage RationalStage(int rateHz, int outRateHz, int passHz, int stopHz) {
    const int common = std::gcd(rateHz, outRateHz);
    RateStage s;
    s.Interpolation = outRateHz / common;
    s.Factor = rateHz / common;
    const int64_t highRate = static_cast<int64_t>(rateHz) * s.Interpolation;
    s.HalfLength =
        KaiserHalfLength(kEarlierStageDb, stopHz - passHz, static_cast<long double>(highRate));
    const std::vector<long double> h =
        LowPassHalf(kEarlierStageDb, s.HalfLength, highRate, passHz, stopHz, s.Interpolation);
    const int L = s.Interpolation, D = s.HalfLength;
    s.PhaseTaps = (2 * D / L + 1 + kAccumulators - 1) / kAccumulators * kAccumulators;
    // Output j lies at j M + D in 1/L input samples from the start of the filter's span; with
    // that written k L + phase, row `phase` takes input k - T + 1 .. k, tap m times input
    // k - T + 1 + m with the low-pass tap phase + (T - 1 - m) L (counted from -D; 0 past D).
    const int T = s.PhaseTaps;
    s.Coefs.assign(2 * static_cast<size_t>(L) * static_cast<size_t>(T), 0);
    for (int phase = 0; phase < L; ++phase) {
        for (int m = 0; m < T; ++m) {
            const int n = phase + (T - 1 - m) * L - D;
            if (n > D) continue;
            const size_t at = 2 * static_cast<size_t>(phase * T + m);
            s.Coefs[at] = s.Coefs[at + 1] =
                static_cast<double>(h[static_cast<size_t>(std::abs(n))]);
        }
    }
    // The silence before input 0: T - 1 samples, so the first window starts at index k.
    s.History.assign(static_cast<size_t>(T - 1), StereoSample{0, 0});
    s.NextStart = static_cast<size_t>(D / L);
    s.Phase = D % L;
    return s;
}

// ================================================================================================
// Streaming
// ================================================================================================

// Drops the input a stage has used up, `start` being the first sample of its next output's
// window: past the end only when that window starts beyond the input so far.
void DropUsedInput(RateStage& s, size_t start) {
    const size_t used = std::min(start, s.History.size());
    s.History.erase(s.History.begin(), s.History.begin() + static_cast<ptrdiff_t>(used));
    s.NextStart = start - used;
}

// Each stage computes the outputs that its History now allows, appends them to `out` (the next
// stage's History, or the converter's output) and drops the input it no longer needs.
void RunIntegerStage(RateStage& s, std::vector<StereoSample>& out) {
    const size_t span = 2 * static_cast<size_t>(s.HalfLength) + 1;
    const ptrdiff_t step = s.TapStep;
    size_t start = s.NextStart;
    for (; start + span <= s.History.size(); start += static_cast<size_t>(s.Factor)) {
        const StereoSample* mid = s.History.data() + start + s.HalfLength;
        const double* coefs = s.Coefs.data();
        // Four partial sums: within each run of offsets first, first + step, ..., pair k goes
        // into sum k % 4; then they are added as (0 + 1) + (2 + 3).
        Pair sum0 = {}, sum1 = {}, sum2 = {}, sum3 = {};
        for (size_t run = 0; run < s.RunPairs.size(); ++run) {
            const ptrdiff_t first = static_cast<ptrdiff_t>(run) + 1;
            const size_t pairs = static_cast<size_t>(s.RunPairs[run]);
            const StereoSample* before = mid - first;  // the pair's earlier sample
            const StereoSample* after = mid + first;   // and its later one
            size_t k = 0;
            for (; k + kAccumulators <= pairs; k += kAccumulators) {
                sum0 += Twice(coefs + 2 * k) * (Load(before[0]) + Load(after[0]));
                sum1 += Twice(coefs + 2 * (k + 1)) * (Load(before[-step]) + Load(after[step]));
                sum2 +=
                    Twice(coefs + 2 * (k + 2)) * (Load(before[-2 * step]) + Load(after[2 * step]));
                sum3 +=
                    Twice(coefs + 2 * (k + 3)) * (Load(before[-3 * step]) + Load(after[3 * step]));
                before -= kAccumulators * step;
                after += kAccumulators * step;
            }
            if (k < pairs) sum0 += Twice(coefs + 2 * k) * (Load(before[0]) + Load(after[0]));
            if (k + 1 < pairs)
                sum1 += Twice(coefs + 2 * (k + 1)) * (Load(before[-step]) + Load(after[step]));
            if (k + 2 < pairs)
                sum2 +=
                    Twice(coefs + 2 * (k + 2)) * (Load(before[-2 * step]) + Load(after[2 * step]));
            coefs += 2 * pairs;
        }
        out.push_back(Store(s.Centre * Load(*mid) + ((sum0 + sum1) + (sum2 + sum3))));
    }
    DropUsedInput(s, start);
}

void RunRationalStage(RateStage& s, std::vector<StereoSample>& out) {
    const size_t taps = static_cast<size_t>(s.PhaseTaps);
    size_t start = s.NextStart;
    int phase = s.Phase;
    while (start + taps <= s.History.size()) {
        const StereoSample* x = s.History.data() + start;
        const double* row = s.Coefs.data() + 2 * static_cast<size_t>(phase) * taps;
        Pair sum0 = {}, sum1 = {}, sum2 = {}, sum3 = {};
        for (size_t m = 0; m < taps; m += kAccumulators) {
            sum0 += Twice(row + 2 * m) * Load(x[m]);
            sum1 += Twice(row + 2 * (m + 1)) * Load(x[m + 1]);
            sum2 += Twice(row + 2 * (m + 2)) * Load(x[m + 2]);
            sum3 += Twice(row + 2 * (m + 3)) * Load(x[m + 3]);
        }
        out.push_back(Store((sum0 + sum1) + (sum2 + sum3)));
        for (phase += s.Factor; phase >= s.Interpolation; phase -= s.Interpolation) ++start;
    }
    DropUsedInput(s, start);
    s.Phase = phase;
}

#ifdef QV_WIDE_VECTORS
// ================================================================================================
// Streaming in 256-bit registers
// ================================================================================================

// Lanes 0-1 hold the sums 0 (or 2) of both channels, lanes 2-3 the sums 1 (or 3): each pair is
// added into the lanes of the sum the plain code adds it to, with the same operations in the
// same order, so every lane's bits are the plain code's. Two outputs are computed side by side,
// so that their additions overlap.
typedef double Quad __attribute__((vector_size(32)));

[[gnu::target("avx")]] inline Quad LoadQuad(const void* p) {
    Quad q;
    std::memcpy(&q, p, sizeof(q));
    return q;
}
// The samples at `low` and `high`, in the lower and upper half.
[[gnu::target("avx")]] inline Quad LoadHalves(const StereoSample* low, const StereoSample* high) {
    return _mm256_set_m128d(_mm_load_pd(&high->Rf), _mm_load_pd(&low->Rf));
}
[[gnu::target("avx")]] inline Pair Low(Quad q) { return _mm256_castpd256_pd128(q); }
[[gnu::target("avx")]] inline Pair High(Quad q) { return _mm256_extractf128_pd(q, 1); }
[[gnu::target("avx")]] inline Quad WithLow(Quad q, Pair p) { return _mm256_insertf128_pd(q, p, 0); }

// The samples at p and p - 1, in the lower and upper half.
[[gnu::target("avx")]] inline Quad LoadReversed(const StereoSample* p) {
    const Quad q = LoadQuad(p - 1);
    return _mm256_permute2f128_pd(q, q, 1);
}

// Pairs k and k + 1 of a run, `before` and `after` at pair k's samples and pair k + 1's `step`
// further out; each half of the result is a pair's coefficient times its two samples' sum.
template <bool kAdjacent>
[[gnu::target("avx")]] inline Quad TwoPairs(const StereoSample* before, const StereoSample* after,
                                            ptrdiff_t step, const double* coefs) {
    Quad b, a;
    if constexpr (kAdjacent) {
        // One load each, the earlier samples' halves swapped.
        b = LoadReversed(before);
        a = LoadQuad(after);
    } else {
        b = LoadHalves(before, before - step);
        a = LoadHalves(after, after + step);
    }
    return LoadQuad(coefs) * (b + a);
}

// Pair k of a run alone, into the lower half of a sum.
[[gnu::target("avx")]] inline void AddOnePair(const StereoSample* before, const StereoSample* after,
                                              const double* coefs, Quad& sum) {
    sum = WithLow(sum, Low(sum) + Twice(coefs) * (Load(*before) + Load(*after)));
}

// The last pairs of a run, fewer than kAccumulators from `before` and `after` on: pairs 0 and 1
// into the sums (0, 1), pair 2 into sum 2, of both outputs.
template <bool kAdjacent>
[[gnu::target("avx")]] inline void AddRunEnd(const StereoSample* before, const StereoSample* after,
                                             ptrdiff_t apart, ptrdiff_t step, const double* coefs,
                                             size_t pairs, Quad* sums) {
    if (pairs >= 2) {
        sums[0] += TwoPairs<kAdjacent>(before, after, step, coefs);
        sums[2] += TwoPairs<kAdjacent>(before + apart, after + apart, step, coefs);
        if (pairs == 3) {
            AddOnePair(before - 2 * step, after + 2 * step, coefs + 4, sums[1]);
            AddOnePair(before + apart - 2 * step, after + apart + 2 * step, coefs + 4, sums[3]);
        }
    } else if (pairs == 1) {
        AddOnePair(before, after, coefs, sums[0]);
        AddOnePair(before + apart, after + apart, coefs, sums[2]);
    }
}

// Adds the pairs of one run of offsets first, first + step, ... into the sums (0, 1) and (2, 3)
// of two outputs, the second `apart` samples after the first: sums[0], sums[1] the first's,
// sums[2], sums[3] the second's.
template <bool kAdjacent>
[[gnu::target("avx")]] void AddRun(const StereoSample* mid, ptrdiff_t apart, ptrdiff_t first,
                                   ptrdiff_t step, const double* coefs, size_t pairs, Quad* sums) {
    const StereoSample* before = mid - first;
    const StereoSample* after = mid + first;
    size_t k = 0;
    for (; k + kAccumulators <= pairs; k += kAccumulators) {
        sums[0] += TwoPairs<kAdjacent>(before, after, step, coefs);
        sums[1] += TwoPairs<kAdjacent>(before - 2 * step, after + 2 * step, step, coefs + 4);
        sums[2] += TwoPairs<kAdjacent>(before + apart, after + apart, step, coefs);
        sums[3] += TwoPairs<kAdjacent>(before + apart - 2 * step, after + apart + 2 * step, step,
                                       coefs + 4);
        before -= kAccumulators * step;
        after += kAccumulators * step;
        coefs += 2 * kAccumulators;
    }
    AddRunEnd<kAdjacent>(before, after, apart, step, coefs, pairs - k, sums);
}

// The same for the only run of a halving without zero taps (offsets 1, 2, 3, ...), its two
// outputs two samples apart: the second output's pairs are the first's two further out, so each
// sample is loaded, and each pair of earlier samples swapped, once for both.
[[gnu::target("avx")]] void AddRunTwoApart(const StereoSample* mid, const double* coefs,
                                           size_t pairs, Quad* sums) {
    const StereoSample* before = mid - 1;
    const StereoSample* after = mid + 1;
    Quad beforeBack = LoadReversed(before + 2);  // the second output's pairs k, k + 1
    Quad afterHere = LoadQuad(after);            // the first output's pairs k, k + 1
    size_t k = 0;
    for (; k + kAccumulators <= pairs; k += kAccumulators) {
        const Quad before0 = LoadReversed(before), before2 = LoadReversed(before - 2);
        const Quad after2 = LoadQuad(after + 2), after4 = LoadQuad(after + 4);
        const Quad coefs0 = LoadQuad(coefs), coefs2 = LoadQuad(coefs + 4);
        sums[0] += coefs0 * (before0 + afterHere);
        sums[1] += coefs2 * (before2 + after2);
        sums[2] += coefs0 * (beforeBack + after2);
        sums[3] += coefs2 * (before0 + after4);
        beforeBack = before2;
        afterHere = after4;
        before -= kAccumulators;
        after += kAccumulators;
        coefs += 2 * kAccumulators;
    }
    AddRunEnd<true>(before, after, 2, 1, coefs, pairs - k, sums);
}

[[gnu::target("avx")]] inline StereoSample IntegerOutput(const RateStage& s,
                                                         const StereoSample* mid, Quad sum01,
                                                         Quad sum23) {
    return Store(s.Centre * Load(*mid) + ((Low(sum01) + High(sum01)) + (Low(sum23) + High(sum23))));
}

[[gnu::target("avx")]] void RunIntegerStageWide(RateStage& s, std::vector<StereoSample>& out) {
    const size_t span = 2 * static_cast<size_t>(s.HalfLength) + 1;
    const size_t factor = static_cast<size_t>(s.Factor);
    const ptrdiff_t step = s.TapStep;
    size_t start = s.NextStart;
    for (; start + span <= s.History.size(); start += factor) {
        const StereoSample* mid = s.History.data() + start + s.HalfLength;
        // A second output beside it where the input reaches that far; else the first twice.
        const bool two = start + factor + span <= s.History.size();
        const ptrdiff_t apart = two ? s.Factor : 0;
        const double* coefs = s.Coefs.data();
        Quad sums[4] = {};  // the first output's (0, 1) and (2, 3), then the second's
        for (size_t run = 0; run < s.RunPairs.size(); ++run) {
            const ptrdiff_t first = static_cast<ptrdiff_t>(run) + 1;
            const size_t pairs = static_cast<size_t>(s.RunPairs[run]);
            if (step == 1 && apart == 2)
                AddRunTwoApart(mid, coefs, pairs, sums);
            else if (step == 1)
                AddRun<true>(mid, apart, first, step, coefs, pairs, sums);
            else
                AddRun<false>(mid, apart, first, step, coefs, pairs, sums);
            coefs += 2 * pairs;
        }
        out.push_back(IntegerOutput(s, mid, sums[0], sums[1]));
        if (!two) continue;
        out.push_back(IntegerOutput(s, mid + apart, sums[2], sums[3]));
        start += factor;
    }
    DropUsedInput(s, start);
}

[[gnu::target("avx")]] void RunRationalStageWide(RateStage& s, std::vector<StereoSample>& out) {
    const size_t taps = static_cast<size_t>(s.PhaseTaps);
    size_t start = s.NextStart;
    int phase = s.Phase;
    while (start + taps <= s.History.size()) {
        const StereoSample* x = s.History.data() + start;
        const double* row = s.Coefs.data() + 2 * static_cast<size_t>(phase) * taps;
        Quad sum01 = {}, sum23 = {};
        for (size_t m = 0; m < taps; m += kAccumulators) {
            sum01 += LoadQuad(row + 2 * m) * LoadQuad(x + m);
            sum23 += LoadQuad(row + 2 * (m + 2)) * LoadQuad(x + m + 2);
        }
        out.push_back(Store((Low(sum01) + High(sum01)) + (Low(sum23) + High(sum23))));
        for (phase += s.Factor; phase >= s.Interpolation; phase -= s.Interpolation) ++start;
    }
    DropUsedInput(s, start);
    s.Phase = phase;
}

// Frames as stereo values, four 16-bit samples at a time (exact: every integer of 16 bits is a
// double).
[[gnu::target("avx")]] void WidenFramesWide(const Frame* in, size_t count, StereoSample* to) {
    size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        int64_t four;
        std::memcpy(&four, in + i, sizeof(four));
        const Quad q = _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(_mm_cvtsi64_si128(four)));
        std::memcpy(to + i, &q, sizeof(q));
    }
    if (i < count) to[i] = {static_cast<double>(in[i].Rf), static_cast<double>(in[i].Pps)};
}

bool ProcessorHasWideVectors() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx");
}
#else
void WidenFramesWide(const Frame* in, size_t count, StereoSample* to) {
    for (size_t i = 0; i < count; ++i)
        to[i] = {static_cast<double>(in[i].Rf), static_cast<double>(in[i].Pps)};
}
void RunIntegerStageWide(RateStage& s, std::vector<StereoSample>& out) { RunIntegerStage(s, out); }
void RunRationalStageWide(RateStage& s, std::vector<StereoSample>& out) {
    RunRationalStage(s, out);
}
bool ProcessorHasWideVectors() { return false; }
#endif

void RunStages(RateConverter& c, std::vector<StereoSample>& out) {
    const size_t outBefore = out.size();
    for (size_t i = 0; i < c.Stages.size(); ++i) {
        std::vector<StereoSample>& target =
            i + 1 == c.Stages.size() ? out : c.Stages[i + 1].History;
        RateStage& stage = c.Stages[i];
        if (stage.Interpolation == 1)
            c.WideVectors ? RunIntegerStageWide(stage, target) : RunIntegerStage(stage, target);
        else
            c.WideVectors ? RunRationalStageWide(stage, target) : RunRationalStage(stage, target);
    }
    c.OutputFrames += static_cast<int64_t>(out.size() - outBefore);
}

}  // namespace

bool IsConvertibleRate(int framesPerSecond) {
    return std::find(std::begin(kConvertibleRates), std::end(kConvertibleRates), framesPerSecond) !=
           std::end(kConvertibleRates);
}

bool IsInputRate(int framesPerSecond) {
    return std::find(std::begin(kInputRates), std::end(kInputRates), framesPerSecond) !=
           std::end(kInputRates);
}

std::string InputRatesText() {
    std::string text;
    const size_t count = std::size(kInputRates);
    for (size_t k = 0; k < count; ++k) {
        if (k > 0) text += k + 1 == count ? " or " : ", ";
        text += std::to_string(kInputRates[k]);
    }
    return text;
}

void StartRateConverter(RateConverter& c, int inputRate) {
    assert(IsConvertibleRate(inputRate));
    c = RateConverter{};
    c.InputRate = inputRate;
    static const bool wide = ProcessorHasWideVectors();
    c.WideVectors = wide;
    int rate = inputRate;
    if (rate % 11025 == 0) {
        for (; rate > 44100; rate /= 2) c.Stages.push_back(EarlierStage(rate, 2));
        c.Stages.push_back(
            RationalStage(rate, kLastStageRate, kKeptBandHz, kLastStageRate - kKeptBandHz));
    } else {
        for (; rate > kLastStageRate && rate % (2 * kLastStageRate) == 0; rate /= 2)
            c.Stages.push_back(EarlierStage(rate, 2));
        if (rate == 3 * kLastStageRate) c.Stages.push_back(EarlierStage(rate, 3));
    }
    // Designed once: the same taps for every converter.
    static const std::vector<long double> lastStage = EquirippleLowPassHalf(
        kLastStageHalfLength, static_cast<long double>(kPassEdgeHz) / kLastStageRate,
        static_cast<long double>(kStopEdgeHz) / kLastStageRate, kLastStagePassRipple);
    c.Stages.push_back(IntegerStage(2, 1, lastStage));
}

void ConvertSamples(RateConverter& c, const StereoSample* in, size_t count,
                    std::vector<StereoSample>& out) {
    c.InputFrames += static_cast<int64_t>(count);
    c.Stages[0].History.insert(c.Stages[0].History.end(), in, in + count);
    RunStages(c, out);
}

void ConvertFrames(RateConverter& c, const Frame* in, size_t count, std::vector<Frame>& out) {
    c.InputFrames += static_cast<int64_t>(count);
    std::vector<StereoSample>& history = c.Stages[0].History;
    const size_t before = history.size();
    history.resize(before + count);
    StereoSample* to = history.data() + before;
    if (c.WideVectors) {
        WidenFramesWide(in, count, to);
    } else {
        for (size_t i = 0; i < count; ++i)
            to[i] = {static_cast<double>(in[i].Rf), static_cast<double>(in[i].Pps)};
    }
    c.Converted.clear();
    RunStages(c, c.Converted);
    for (const StereoSample& s : c.Converted) out.push_back(RoundedFrame(s));
}

void FinishSamples(RateConverter& c, std::vector<StereoSample>& out) {
    const int64_t total = (c.InputFrames * kOutputRate + c.InputRate - 1) / c.InputRate;
    while (c.OutputFrames < total) {
        c.Stages[0].History.insert(c.Stages[0].History.end(), kSilenceBlock, StereoSample{0, 0});
        RunStages(c, out);
    }
    out.resize(out.size() - static_cast<size_t>(c.OutputFrames - total));
    c.OutputFrames = total;
}

void FinishFrames(RateConverter& c, std::vector<Frame>& out) {
    c.Converted.clear();
    FinishSamples(c, c.Converted);
    for (const StereoSample& s : c.Converted) out.push_back(RoundedFrame(s));
}

}  // namespace qv
