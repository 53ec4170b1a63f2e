// The capture engine's block hand-over: throughput against a consumer that only counts frames
// (paced at 100x and 1000x real time, and unpaced), and the CPU use at real time (the audio
// thread's, and the whole process's: the hand-over on both sides) at 8000 and at 192000 frames
// per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "capture/block_sources.h"
#include "capture/capture_engine.h"
#include "tests/capture_fakes.h"
#include "tests/chain_fixture.h"

namespace qv {

namespace {

using namespace std::chrono_literals;

class CountingConsumer final : public CaptureConsumer {
public:
    int64_t frames = 0;
    int64_t gaps = 0;
    StartedChain* chain = nullptr;  // set: the frames also go through the measurement chain
    void CaptureGap(int64_t, int64_t, int) override { ++gaps; }
    void CaptureFrames(const Frame* f, int count) override {
        frames += count;
        if (chain != nullptr) ProcessDeviceFrames(chain->M, f, count);
    }
};

struct RunResult {
    double WallSeconds = 0;
    double ProcessCpuSeconds = 0;
    int Rate = kFramesPerSecond;
    CaptureStatistics Stats;
    int64_t Consumed = 0;
};

// Captures `seconds` of counting frames at `rate` and `speed` x real time (0: as fast as the
// consumer takes them) through an engine, the calling thread being the consumer.
RunResult Run(double seconds, double speed, int rate = kFramesPerSecond, bool chain = false) {
    auto probe = std::make_shared<SourceProbe>();
    auto source = std::make_unique<CountingSource>(probe);
    source->rate = rate;
    source->totalFrames = static_cast<int64_t>(seconds * rate);
    source->pacer.Speed = speed;
    BlockQueue queue;
    CaptureEngine engine;
    if (speed == 0) {
        // Unpaced, the source waits for a free block instead of dropping frames, so the figure
        // is the hand-over's own rate.
        source->beforeBlock = [&engine](int64_t, const std::atomic<bool>& stop) {
            while (FreeCaptureBlockCount(engine) == 0 && !stop) std::this_thread::yield();
        };
    }
    CountingConsumer consumer;
    StartedChain measurement;
    if (chain) {
        SetDeviceRate(measurement.M, rate);
        consumer.chain = &measurement;
    }
    std::string message;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    if (!StartCapture(engine, std::move(source), queue, message)) return {};
    for (;;) {
        CaptureBlock* block = nullptr;
        const BlockQueue::Wait wait = queue.Next(block, 1s);
        if (wait == BlockQueue::Wait::Block) HandleCaptureBlock(engine, block, consumer);
        if (wait == BlockQueue::Wait::Stopped) break;
    }
    RunResult r;
    r.WallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EndCapture(engine);
    r.ProcessCpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    r.Rate = rate;
    r.Stats = ReadCaptureStatistics(engine);
    r.Consumed = consumer.frames;
    return r;
}

void Report(benchmark::State& state, const RunResult& r) {
    const double audioSeconds = static_cast<double>(r.Consumed) / r.Rate;
    state.counters["x_real_time"] = audioSeconds / r.WallSeconds;
    state.counters["process_cpu_%"] = 100 * r.ProcessCpuSeconds / r.WallSeconds;
    state.counters["frames_dropped"] = static_cast<double>(r.Stats.FramesDropped);
    state.counters["audio_thread_cpu_%"] =
        r.Stats.CaptureSeconds > 0 ? 100 * r.Stats.AudioThreadCpuSeconds / r.Stats.CaptureSeconds
                                   : 0;
    if (r.Stats.FramesDropped != 0 || r.Consumed != r.Stats.FramesCaptured) {
        state.SkipWithError("frames were dropped");
    }
}

// 100 s of sound at 100x (1 s) and at 1000x (0.1 s); every frame must arrive.
void BM_CapturePaced(benchmark::State& state) {
    const double speed = static_cast<double>(state.range(0));
    RunResult r;
    for (auto _ : state) r = Run(100, speed);
    Report(state, r);
}
BENCHMARK(BM_CapturePaced)->Arg(100)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

// As fast as the hand-over goes: the engine's ceiling.
void BM_CaptureUnpaced(benchmark::State& state) {
    RunResult r;
    for (auto _ : state) r = Run(1000, 0);
    Report(state, r);
}
BENCHMARK(BM_CaptureUnpaced)->Iterations(1)->Unit(benchmark::kMillisecond);

// Five seconds at real time: the audio thread's share of one CPU, waiting included, at 8000 and
// at 192000 frames per second (blocks of 3072 frames).
void BM_CaptureRealTimeCpu(benchmark::State& state) {
    RunResult r;
    for (auto _ : state) r = Run(5, 1, static_cast<int>(state.range(0)));
    Report(state, r);
}
BENCHMARK(BM_CaptureRealTimeCpu)
    ->Arg(8000)
    ->Arg(192000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The same with the frames through the whole chain, as a live run takes them: the fine timing
// at the source's rate, the converter and the classic chain.
void BM_LiveChainRealTimeCpu(benchmark::State& state) {
    RunResult r;
    for (auto _ : state) r = Run(5, 1, static_cast<int>(state.range(0)), true);
    Report(state, r);
}
BENCHMARK(BM_LiveChainRealTimeCpu)
    ->Arg(8000)
    ->Arg(192000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace qv
