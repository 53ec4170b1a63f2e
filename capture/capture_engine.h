// Capture engine: opens a block source (a sound card through PortAudio, the simulator, a WAV
// file), keeps 128 blocks of 16 ms circulating between the audio thread and the thread that
// processes them, and closes it again. A block holds 16 ms at the source's own rate: 128 frames
// (512 bytes) at 8000 frames per second, 768 at 48000, 3072 at 192000; the 128 blocks hold about
// 2 s whatever the rate.
//
// The audio thread takes the oldest free block, fills it with the next block of frames and posts
// it through a CaptureNotifier. The consumer's thread (the one that owns the window, or the batch
// tool's main thread) passes each posted block to HandleCaptureBlock, which copies its frames
// into a buffer of its own, hands them to a CaptureConsumer and gives the block back. Blocks are
// handed over through a lock-free ring in one direction and the notifier in the other; the audio
// side never holds a lock while the consumer processes, never allocates and never waits for
// the consumer.
//
// Never silent loss: when every block is out (the consumer fell about 2 s behind), the audio
// thread keeps reading the device into a scratch block so the device never stalls; the frames
// go into a block handed back meanwhile if there is one (the only copy besides the consumer's),
// else they are dropped and counted. Drops and input overflows that the source reports travel
// with the next posted block and reach the consumer as a CaptureGap before that block's frames,
// so the consumer can say exactly where the stream has a hole.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/audio_thread.h"
#include "capture/spsc_ring.h"
#include "common/frame.h"

namespace qv {

constexpr int kCaptureBlockCount = 128;   // [blocks] circulating: about 2 s of sound
constexpr int kCaptureBlockBytes = 512;   // [bytes] per block at 8000 frames/s: 128 frames, 16 ms
constexpr int kBlockFramesEntries = 257;  // [frames] in the consumer's copy at least
static_assert(kCaptureBlockBytes == kFramesPerBlock * static_cast<int>(sizeof(Frame)));

// The messages the engine returns for the caller to show.
inline constexpr const char* kNoSuitableDevice = "No suitable device found";
inline constexpr const char* kCantAllocBuffers = "Can\u00B4t alloc Buffers";  // acute accent
inline constexpr const char* kCaptureAlreadyStarted =
    "Capture has already been started; it runs once per run of the program";
inline constexpr const char* kUnusableRate = "The input's rate cannot be measured";

// One capture block and its header. The engine sets Number, Data and BufferLength; the audio
// thread sets the rest each time it posts the block.
struct CaptureBlock {
    int Number = 0;             // 1..128
    Frame* Data = nullptr;      // BufferLength bytes from the block allocator
    int BufferLength = 0;       // [bytes] BlockFramesAt(the source's rate) frames: 512 at 8000
    int BytesRecorded = 0;      // [bytes] whole frames; below BufferLength only at a finite end
    int64_t FirstFrame = 0;     // [frames] index in the captured stream of Data[0], drops included
    int64_t DroppedBefore = 0;  // [frames] dropped just before this block: no block was free
    int OverflowsBefore = 0;    // input overflows the source reported since the previous block
    int64_t MissedBefore = 0;   // [frames] the device did not deliver just before: it was gone
    int64_t PostedNanoseconds = 0;  // [ns] CaptureClockNanoseconds when it was posted
};

// [frames] in a block of 16 ms at `framesPerSecond`, rounded: 128 at 8000, 768 at 48000, 706
// at 44100.
constexpr int BlockFramesAt(int framesPerSecond) { return (framesPerSecond * 2 + 62) / 125; }

// The monotonic clock of PostedNanoseconds [ns].
int64_t CaptureClockNanoseconds();
// [ns] A monotonic clock that also counts a suspended machine's sleep where the system has one
// (Linux); elsewhere CaptureClockNanoseconds.
int64_t ElapsedClockNanoseconds();

// Watches the system clock against ElapsedClockNanoseconds: between two looks the two advance
// alike unless someone (NTP, the user) steps the system clock.
struct ClockStepWatch {
    // state
    bool Started = false;
    int64_t Offset = 0;  // [ms] system clock minus elapsed clock at the last look
};
constexpr int64_t kClockStepLimit = 1000;  // [ms] a smaller step is taken for slewing or jitter
// One look: the step [ms] since the last look when it is beyond kClockStepLimit, else 0.
int64_t LookForClockStep(ClockStepWatch& w, int64_t systemMilliseconds,
                         int64_t elapsedMilliseconds);
// "the system clock stepped 2.5 s forward: the times of day from here on are the new clock's"
std::string DescribeClockStep(int64_t stepMilliseconds);

// Where frames come from. Every call is made on the audio thread, in the order Open, Start,
// ReadBlock..., Close; Close alone (after a failed Open, say) must also work.
class BlockSource {
public:
    virtual ~BlockSource() = default;
    // Opens the input, stereo, 16-bit, at its rate; false with the reason.
    virtual bool Open(std::string& error) = 0;
    // [frames/s] the rate the source delivers once open: one of kInputRates.
    virtual int FramesPerSecond() const { return kFramesPerSecond; }
    // Starts the flow of frames; false with the reason.
    virtual bool Start(std::string& error) = 0;
    // Waits for the next block as a sound card delivers it and reads it into `frames`. Returns
    // BlockFramesAt(FramesPerSecond()) (kFramesPerBlock at 8000); fewer only for the last block
    // of a finite source; 0 when the source has
    // ended or `stop` became true while waiting; -1 on failure with the reason in `error`.
    // Sets `overflowed` when the input lost frames just before this block.
    virtual int ReadBlock(Frame* frames, const std::atomic<bool>& stop, bool& overflowed,
                          std::string& error) = 0;
    // Stops and closes whatever Open and Start did.
    virtual void Close() = 0;
    // [frames] the device never delivered just before the block ReadBlock returned last (it was
    // gone and has been reopened); the count is handed over once. Only a reopening source has
    // any.
    virtual int64_t TakeFramesMissed() { return 0; }
};

// Where the blocks' memory comes from: the process heap, or a fake in tests.
class BlockAllocator {
public:
    // `bytes` zero-filled bytes, or nullptr when there are none.
    virtual void* Allocate(size_t bytes) = 0;
    virtual void Free(void* data) = 0;

protected:
    ~BlockAllocator() = default;
};
BlockAllocator& HeapAllocator();

// How filled blocks reach the consumer's thread (FLTK's awake queue in the window, BlockQueue
// in the batch tool). Both calls come from the audio thread and must return promptly.
class CaptureNotifier {
public:
    // `block` is filled: pass it to HandleCaptureBlock on the consumer's thread.
    virtual void BlockFilled(CaptureBlock* block) = 0;
    // The source has ended or failed (CaptureStopReason says why); no block follows.
    // EndCapture still has to be called.
    virtual void CaptureStopped() = 0;

protected:
    ~CaptureNotifier() = default;
};

// What HandleCaptureBlock feeds, on the consumer's thread.
class CaptureConsumer {
public:
    // Frames are missing before the next CaptureFrames: `droppedFrames` (counted at the source's
    // rate, as every frame number here) from stream frame `atFrame` on because no block was free,
    // and/or `overflows` input overflows of the device (which lose an unknown number of frames).
    virtual void CaptureGap(int64_t atFrame, int64_t droppedFrames, int overflows) = 0;
    // The next `count` frames of the stream.
    virtual void CaptureFrames(const Frame* frames, int count) = 0;
    // The device was gone and came back: `missedFrames` from stream frame `atFrame` on never
    // arrived. Counted as dropped frames unless the consumer says more.
    virtual void DeviceGap(int64_t atFrame, int64_t missedFrames) {
        CaptureGap(atFrame, missedFrames, 0);
    }

protected:
    ~CaptureConsumer() = default;
};

enum class CaptureState {
    Idle,        // nothing opened yet
    DeviceOpen,  // the source is open; blocks may be allocated and queued
    Recording,   // frames flow
    Ended,       // EndCapture or a failed start: capture runs once per run of the program
};

enum class SourceEnd { Running, Ended, Failed };

struct CaptureStatistics {
    int FramesPerSecond = 0;           // [frames/s] the source's rate; 0 before it is open
    int64_t FramesCaptured = 0;        // [frames] read from the source, dropped ones included
    int64_t FramesDropped = 0;         // [frames] read while every block was out
    int64_t Overflows = 0;             // input overflows the source reported
    int64_t FramesMissed = 0;          // [frames] not delivered while the device was gone
    double AudioThreadCpuSeconds = 0;  // [s] CPU time of the capture loop, known after End
    double CaptureSeconds = 0;         // [s] wall-clock time of the capture loop, after End
};

struct CaptureEngine {
    // parameters
    BlockAllocator* Allocator = &HeapAllocator();

    // state, consumer side (the thread that calls the functions below)
    CaptureState State = CaptureState::Idle;
    std::string ErrorDetail;  // the reason behind the last message StartCapture returned
    // The thread every call of the source runs on; SoundSystem runs its own calls there.
    AudioThread Audio;

    CaptureEngine() = default;
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;
    // Ends a capture still running, so the source is closed on the audio thread.
    ~CaptureEngine();

    // The blocks and what the consumer's thread and the audio thread hand each other. Only
    // the engine's functions touch them; callers read them through the functions below.
    struct Shared {
        // Headers 1..128; header 0 is never used. Created anew by every allocation.
        std::array<CaptureBlock, kCaptureBlockCount + 1> WaveHeaders{};
        int Rate = 0;                // [frames/s] the source's, once open
        int BlockFrames = 0;         // [frames] in a full block at that rate
        std::vector<Frame> Copy;     // the block being processed, as the consumer receives it
        std::vector<Frame> Scratch;  // the audio thread's: frames read while every block is out
        std::unique_ptr<BlockSource> Source;  // touched on the audio thread only while open
        CaptureNotifier* Notifier = nullptr;
        SpscRing<CaptureBlock*> FreeBlocks{kCaptureBlockCount};  // consumer pushes, audio pops
        std::atomic<bool> StopRequested{false};
        std::atomic<SourceEnd> SourceState{SourceEnd::Running};
        std::string StopReason;  // why the source ended or failed; set before CaptureStopped
        std::atomic<int64_t> FramesCaptured{0}, FramesDropped{0}, Overflows{0}, FramesMissed{0};
        std::atomic<int64_t> AudioCpuNanoseconds{0}, AudioWallNanoseconds{0};
    };

private:
    friend struct CaptureInternals;  // capture_engine.cpp's way in
    Shared shared_;
};

// Start: opens the source, allocates and queues the 128 blocks (16 ms each at the source's rate)
// and starts the flow. On failure returns false with the message to show ("No suitable device
// found", "Can´t alloc Buffers", kUnusableRate for a rate not in kInputRates, or the source's own
// text), ErrorDetail holding the reason when there is more to say; whatever
// was opened or allocated is released and the engine has ended. Refused once started.
// `notifier` must stay valid until EndCapture has returned.
bool StartCapture(CaptureEngine& e, std::unique_ptr<BlockSource> source, CaptureNotifier& notifier,
                  std::string& message);

// End: stops and closes the source and frees the blocks; in any other state only marks the
// engine ended. Blocks posted but not yet handled reach no consumer afterwards.
void EndCapture(CaptureEngine& e);

// [frames/s] the rate of the source StartCapture opened (one of kInputRates); 0 before.
int CaptureFramesPerSecond(const CaptureEngine& e);

// On the consumer's thread, for each posted block: copies it, reports a gap
// before it if there is one, hands its frames to `consumer` and gives the block back to the
// audio thread. A block that arrives after EndCapture is ignored. False with the reason in
// `error` when the block cannot be handed back (not one of the engine's, or handed back twice).
bool HandleCaptureBlock(CaptureEngine& e, CaptureBlock* block, CaptureConsumer& consumer,
                        std::string& error);
// The same for callers whose blocks always come from the engine.
void HandleCaptureBlock(CaptureEngine& e, CaptureBlock* block, CaptureConsumer& consumer);

CaptureStatistics ReadCaptureStatistics(const CaptureEngine& e);

// The blocks waiting at this moment for the audio thread to fill them. A source that stands in
// for a sound card with a large buffer waits for one instead of letting frames drop.
size_t FreeCaptureBlockCount(const CaptureEngine& e);
// How the source stopped: Running until CaptureStopped has been posted, then Ended or Failed.
SourceEnd CaptureSourceEnd(const CaptureEngine& e);
// Why the source stopped; meaningful once CaptureSourceEnd is no longer Running.
std::string CaptureStopReason(const CaptureEngine& e);

// One line saying what a CaptureGap lost and where, for the read-out log and the user.
std::string DescribeCaptureGap(int64_t atFrame, int64_t droppedFrames, int overflows);
// "48000 frames per second": a rate as the live line, the status line and messages say it.
std::string DescribeRate(int framesPerSecond);

// The batch tool's notifier: posted blocks wait in a queue that the consumer's thread drains.
class BlockQueue final : public CaptureNotifier {
public:
    void BlockFilled(CaptureBlock* block) override;
    void CaptureStopped() override;

    enum class Wait { Block, Stopped, TimedOut };
    // The oldest posted block, waiting up to `timeout` for one. Stopped once the source has
    // stopped and every block it posted has been taken.
    Wait Next(CaptureBlock*& block, std::chrono::milliseconds timeout);

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::array<CaptureBlock*, kCaptureBlockCount> blocks_{};  // never more are out at once
    size_t first_ = 0, count_ = 0;
    bool stopped_ = false;
};

}  // namespace qv
