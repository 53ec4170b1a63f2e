// Cost of the rate converter per 8000-frame output frame (both channels) at every card rate, fed
// as capture delivers it: 16 ms blocks of 16-bit frames.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/frame.h"
#include "common/numbers.h"
#include "common/trig.h"
#include "dsp/rate_converter.h"

namespace qv {

namespace {

constexpr int kBlockMs = 16;  // [ms] a capture block, whatever the rate

// One second of a card's frames: a 1 kHz tone on the left, a 100 ms pulse on the right.
std::vector<Frame> OneSecond(int rate) {
    std::vector<Frame> frames(static_cast<size_t>(rate));
    for (int i = 0; i < rate; ++i) {
        long double s, c;
        const int64_t turns = static_cast<int64_t>(i) * 1000 % rate;  // [1 / rate]
        ExtendedSinCos(2 * kPi * static_cast<long double>(turns) / rate, &s, &c);
        frames[static_cast<size_t>(i)] = {static_cast<int16_t>(12000 * s),
                                          static_cast<int16_t>(i < rate / 10 ? 20000 : 0)};
    }
    return frames;
}

void BM_RateConverter(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const std::vector<Frame> second = OneSecond(rate);
    const size_t block = static_cast<size_t>(rate * kBlockMs / 1000);
    RateConverter c;
    StartRateConverter(c, rate);
    std::vector<Frame> out;
    out.reserve(static_cast<size_t>(kFramesPerSecond));
    size_t at = 0;
    int64_t produced = 0;
    for (auto _ : state) {
        const size_t n = std::min(block, second.size() - at);
        out.clear();
        ConvertFrames(c, second.data() + at, n, out);
        at = (at + n) % second.size();
        produced += static_cast<int64_t>(out.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(produced);
    // [ns per output frame] the time per 8000-frame output, both channels
    state.counters["ns_per_output_frame"] = benchmark::Counter(
        static_cast<double>(produced), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RateConverter)
    ->Arg(11025)
    ->Arg(16000)
    ->Arg(22050)
    ->Arg(32000)
    ->Arg(44100)
    ->Arg(48000)
    ->Arg(88200)
    ->Arg(96000)
    ->Arg(176400)
    ->Arg(192000)
    ->MinTime(1);

}  // namespace

}  // namespace qv
