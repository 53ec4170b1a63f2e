// The measurement chain on a live input, as the window and quorvelle-batch --capture run it:
// each block the capture engine hands over goes to the recording first, then through the
// chain; a gap in the stream becomes a CAPTURE line in the read-out log and a line on stderr.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "capture/capture_engine.h"
#include "capture/readout_log.h"
#include "capture/recorder.h"
#include "chain/measurement.h"

namespace qv {

class LiveChain final : public CaptureConsumer {
public:
    // `program` begins every line on `err` ("quorvelle", "quorvelle-batch").
    LiveChain(Measurement& m, ReadoutLog& log, std::ostream& err, const char* program)
        : m_(m), log_(log), err_(err), program_(program) {}

    // parameters
    Recorder* Recording = nullptr;  // every frame the chain receives, while it is open
    int64_t FrameLimit = -1;        // [frames] through the chain at most; -1: no limit

    void CaptureGap(int64_t atFrame, int64_t droppedFrames, int overflows) override;
    void CaptureFrames(const Frame* frames, int count) override;

    // A CAPTURE line in the read-out log, and the same text on stderr.
    void Report(const std::string& text);
    // Drops and overflows after the last block handed over have no block to carry them to a
    // CaptureGap: reported here, once the capture has ended, from its statistics.
    void ReportGapsAtEnd(const CaptureStatistics& s);

    bool Done() const { return FrameLimit >= 0 && processed_ >= FrameLimit; }
    int64_t FramesProcessed() const { return processed_; }  // [frames] through the chain

private:
    Measurement& m_;
    ReadoutLog& log_;
    std::ostream& err_;
    const char* program_;
    // state
    int64_t processed_ = 0;          // [frames]
    int64_t droppedReported_ = 0;    // [frames] in the gaps reported so far
    int64_t overflowsReported_ = 0;  // in the gaps reported so far
};

// The closing CAPTURE line: "capture ended: N frames processed, D dropped, O input overflows".
std::string CaptureEndedSummary(int64_t framesProcessed, const CaptureStatistics& s);

}  // namespace qv
