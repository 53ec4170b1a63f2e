// The measurement chain on a live input.
#include "capture/live_chain.h"

#include <algorithm>

namespace qv {

void LiveChain::CaptureGap(int64_t atFrame, int64_t droppedFrames, int overflows) {
    Report(DescribeCaptureGap(atFrame, droppedFrames, overflows));
    droppedReported_ += droppedFrames;
    overflowsReported_ += overflows;
}

void LiveChain::CaptureFrames(const Frame* frames, int count) {
    int n = count;
    if (FrameLimit >= 0) n = static_cast<int>(std::min<int64_t>(n, FrameLimit - processed_));
    if (n <= 0) return;
    if (Recording != nullptr && Recording->IsOpen()) Recording->Write(frames, n);
    ProcessFrames(m_, frames, n);
    processed_ += n;
}

void LiveChain::Report(const std::string& text) {
    log_.WriteNow("CAPTURE", text);
    err_ << program_ << ": " << text << "\n" << std::flush;
}

void LiveChain::ReportGapsAtEnd(const CaptureStatistics& s) {
    const int64_t droppedAtEnd = s.FramesDropped - droppedReported_;
    const int overflowsAtEnd = static_cast<int>(s.Overflows - overflowsReported_);
    if (droppedAtEnd > 0 || overflowsAtEnd > 0) {
        CaptureGap(s.FramesCaptured - droppedAtEnd, droppedAtEnd, overflowsAtEnd);
    }
}

std::string CaptureEndedSummary(int64_t framesProcessed, const CaptureStatistics& s) {
    return "capture ended: " + std::to_string(framesProcessed) + " frames processed, " +
           std::to_string(s.FramesDropped) + " dropped, " + std::to_string(s.Overflows) +
           " input overflows";
}

}  // namespace qv
