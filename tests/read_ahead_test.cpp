// A recording read and converted ahead on a thread of its own gives the chain exactly what it
// makes of the recording itself, however the reads split it; a read error arrives after the
// frames before it; a reader stopped mid-input does not hang; the processors a run may use are
// those its affinity allows.
#include "tools/read_ahead.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sched.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include "capture/signal_simulator.h"
#include "common/os.h"
#include "tests/chain_fixture.h"

namespace qv {

namespace {

// A source handing out `frames` in reads of at most `piece` frames, failing with `error` once
// `failAt` frames have gone when failAt >= 0.
FrameSource PiecesOf(const std::vector<Frame>& frames, long long piece, long long failAt = -1) {
    long long next = 0;
    return [&frames, piece, failAt, next](Frame* out, long long count,
                                          std::string& error) mutable -> long long {
        if (failAt >= 0 && next >= failAt) {
            error = "the disk went away";
            return -1;
        }
        long long n = std::min({count, piece, static_cast<long long>(frames.size()) - next});
        if (failAt >= 0) n = std::min(n, failAt - next);
        std::copy_n(frames.begin() + next, n, out);
        next += n;
        return n;
    };
}

// Every block of `reader` through the chain of `c`; the frames taken and whether the last block
// came (or the error of a failed one).
long long ProcessAhead(ReadAhead& reader, StartedChain& c, bool& last, std::string& error) {
    long long frames = 0;
    ConvertedBlock b;
    last = false;
    while (reader.Next(b)) {
        if (b.Failed) {
            error = b.Error;
            break;
        }
        frames += ProcessConvertedBlock(c.M, b);
        last = b.Last;
    }
    return frames;
}

}  // namespace

TEST(ReadAhead, GivesTheChainWhatItMakesOfTheRecordingItself) {
    SimulatorSettings s{
        .Seconds = 6.3, .Ppm = 40, .PpsWidthMs = 100, .PpsAcHz = 3, .DeviceRate = 44100};
    SignalSimulator sim;
    StartSimulator(sim, s);
    std::vector<Frame> frames(static_cast<size_t>(SimulatorTotalFrames(s)));
    NextSimulatorFrames(sim, frames.data(), frames.size());

    StartedChain itself;
    ASSERT_TRUE(SetDeviceRate(itself.M, 44100));
    for (size_t k = 0; k < frames.size(); k += 4096) {
        ProcessDeviceFrames(itself.M, &frames[k],
                            static_cast<int>(std::min<size_t>(4096, frames.size() - k)));
    }
    FinishDeviceFrames(itself.M);
    ASSERT_GE(itself.M.SecondsWithEdge, 4);

    // Reads that fit no chunk, and reads of a few frames.
    for (long long piece : {4096LL, 1000LL, 77LL}) {
        StartedChain ahead;
        ASSERT_TRUE(SetDeviceRate(ahead.M, 44100));
        ReadAhead reader(PiecesOf(frames, piece), 44100);
        bool last = false;
        std::string error;
        EXPECT_EQ(ProcessAhead(reader, ahead, last, error), static_cast<long long>(frames.size()));
        EXPECT_TRUE(last);
        EXPECT_EQ(error, "");
        reader.Stop();
        EXPECT_EQ(ahead.M.FramesProcessed, itself.M.FramesProcessed) << piece;
        EXPECT_EQ(ahead.M.IqText, itself.M.IqText) << piece;
        EXPECT_EQ(ahead.M.Fine.FrameIndex, itself.M.Fine.FrameIndex) << piece;
        ASSERT_EQ(ahead.Host.readouts.size(), itself.Host.readouts.size()) << piece;
        for (size_t k = 0; k < itself.Host.readouts.size(); ++k) {
            EXPECT_EQ(ahead.Host.readouts[k].Text, itself.Host.readouts[k].Text) << piece << k;
        }
    }

    // A read that fails: the frames before it arrive, then the error, and nothing after.
    {
        StartedChain failed;
        ASSERT_TRUE(SetDeviceRate(failed.M, 44100));
        ReadAhead reader(PiecesOf(frames, 4096, 100000), 44100);
        bool last = true;
        std::string error;
        const long long taken = ProcessAhead(reader, failed, last, error);
        EXPECT_EQ(error, "the disk went away");
        EXPECT_FALSE(last);
        EXPECT_EQ(taken, 100000 / kDeviceChunkFrames * kDeviceChunkFrames);
        ConvertedBlock after;
        EXPECT_FALSE(reader.Next(after));
    }

    // Stopped while the reader waits with its blocks ready: no hang, and no block after.
    {
        ReadAhead reader(PiecesOf(frames, 4096), 44100);
        ConvertedBlock first;
        ASSERT_TRUE(reader.Next(first));
        EXPECT_EQ(first.Device.size(), 4096u);
        reader.Stop();
        EXPECT_EQ(reader.Stop(), 0);
    }
}

#ifndef _WIN32
// Whether a run may read ahead follows the processors the run may use: one CPU by affinity (a
// container's limit, `taskset`) counts as one, however many the machine has.
TEST(ReadAhead, ProcessorsCountedAreThoseTheAffinityAllows) {
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const int usable = os::UsableProcessors();
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(usable, 1);
    EXPECT_EQ(os::UsableProcessors(), CPU_COUNT(&all));
}
#endif

}  // namespace qv
