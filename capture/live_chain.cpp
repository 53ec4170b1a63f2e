// The measurement chain on a live input.
#include "capture/live_chain.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "dsp/rate_converter.h"

namespace qv {

namespace {

// "the gap at frame 40960", or "the gaps at frames 40960, 52000".
std::string GapFrames(const std::vector<int64_t>& frames) {
    std::string text = frames.size() == 1 ? "the gap at frame " : "the gaps at frames ";
    for (size_t k = 0; k < frames.size(); ++k) {
        text += (k > 0 ? ", " : "") + std::to_string(frames[k]);
    }
    return text;
}

}  // namespace

bool LiveChain::Begin(int framesPerSecond, std::string& error) {
    if (framesPerSecond != m_.InputRate && !SetDeviceRate(m_, framesPerSecond)) {
        error = "the chain cannot take " + DescribeRate(framesPerSecond) + "; it takes " +
                InputRatesText();
        return false;
    }
    return Recording == nullptr || !Recording->IsOpen() ||
           Recording->SetRate(framesPerSecond, error);
}

void LiveChain::Finish() { FinishDeviceFrames(m_); }

void LiveChain::CaptureGap(int64_t atFrame, int64_t droppedFrames, int overflows) {
    CountGap(DescribeCaptureGap(atFrame, droppedFrames, overflows), atFrame, droppedFrames);
    droppedReported_ += droppedFrames;
    overflowsReported_ += overflows;
}

void LiveChain::DeviceGap(int64_t atFrame, int64_t missedFrames) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f",
                  static_cast<double>(missedFrames) / std::max(m_.InputRate, 1));
    CountGap("the device is back after " + std::string(seconds) +
                 " s gone: " + std::to_string(missedFrames) + " frames missing at frame " +
                 std::to_string(atFrame) + " of the capture, counted as dropped",
             atFrame, missedFrames);
}

void LiveChain::CountGap(std::string text, int64_t atFrame, int64_t frames) {
    // The frames were lost before the block that follows: the open period's close counts them,
    // as the classic chain counts frames, 8000 a second.
    const int rate = m_.InputRate;
    m_.PeriodFramesDropped +=
        rate == kFramesPerSecond ? frames : (frames * kFramesPerSecond + rate / 2) / rate;
    DeviceFramesLost(m_, frames);
    if (m_.Params.SaveIqFlag == 1) {
        // The open period began at the last close, or with the capture's first frame.
        const std::string begun = m_.PeriodsClosed > 0 ? m_.LastPeriodTime
                                  : startTime_.empty() ? m_.Now()
                                                       : startTime_;
        text += "; the I/Q period begun at " + begun + " holds the gap; its record, number " +
                std::to_string(IqRecordsSoFar() + 1) + " in the I/Q file, is named when it closes";
        if (gapsInPeriod_.empty()) periodsAtGap_ = m_.PeriodsClosed;
        gapsInPeriod_.push_back(atFrame);
    }
    Report(text);
}

void LiveChain::CaptureFrames(const Frame* frames, int count) {
    int n = count;
    if (FrameLimit >= 0) n = static_cast<int>(std::min<int64_t>(n, FrameLimit - processed_));
    if (n <= 0) return;
    if (Recording != nullptr && Recording->IsOpen()) {
        Recording->Write(frames, n);
        CheckRecording();
    }
    if (startTime_.empty()) startTime_ = m_.Now();
    ProcessDeviceFrames(m_, frames, n);
    processed_ += n;
    // A block is far shorter than a period: at most one close since the gaps were reported.
    if (!gapsInPeriod_.empty() && m_.PeriodsClosed != periodsAtGap_) NameGapRecord();
}

void LiveChain::CheckRecording() {
    std::string problem = Recording->Problem();
    if (problem.empty() || problem == recordingProblem_) return;
    recordingProblem_ = problem;
    ReportProblem(problem);
}

void LiveChain::NameGapRecord() {
    const std::string gaps = GapFrames(gapsInPeriod_);
    if (m_.Params.SaveIqFlag == 1) {
        Report("the I/Q record " + m_.LastPeriodTime + ", number " +
               std::to_string(IqRecordsSoFar()) + " in the I/Q file, holds " + gaps);
    } else {
        Report("the I/Q period holding " + gaps + " closed at " + m_.LastPeriodTime +
               " without a record: \"Save I,Q to file?\" is off");
    }
    gapsInPeriod_.clear();
}

int64_t LiveChain::IqRecordsSoFar() {
    if (IqRecordCount) return IqRecordCount();
    const std::string& text = m_.IqText;
    if (text.size() < iqTextCounted_) iqTextCounted_ = iqTextLines_ = 0;  // begun afresh
    iqTextLines_ +=
        std::count(text.begin() + static_cast<std::ptrdiff_t>(iqTextCounted_), text.end(), '\n');
    iqTextCounted_ = text.size();
    return std::max<int64_t>(0, iqTextLines_ - 2);  // after the header's two lines
}

void LiveChain::ReportProblem(const std::string& text) {
    Report(text);
    if (ShowProblem) ShowProblem(text);
}

void LiveChain::Report(const std::string& text) {
    log_.WriteNow("CAPTURE", text);
    err_ << program_ << ": " << text << "\n" << std::flush;
}

void LiveChain::ReportGapsAtEnd(const CaptureStatistics& s) {
    const int64_t droppedAtEnd = s.FramesDropped - droppedReported_;
    const int overflowsAtEnd = static_cast<int>(s.Overflows - overflowsReported_);
    if (!gapsInPeriod_.empty()) {
        Report("no I/Q record holds " + GapFrames(gapsInPeriod_) +
               ": the capture ended before its period closed");
        gapsInPeriod_.clear();
    }
    // These frames come after the last one processed: no period holds them.
    if (droppedAtEnd > 0 || overflowsAtEnd > 0) {
        Report(DescribeCaptureGap(s.FramesCaptured - droppedAtEnd, droppedAtEnd, overflowsAtEnd));
        droppedReported_ += droppedAtEnd;
        overflowsReported_ += overflowsAtEnd;
    }
}

std::string CaptureEndedSummary(int64_t framesProcessed, const CaptureStatistics& s) {
    return "capture ended: " + std::to_string(framesProcessed) + " frames processed, " +
           std::to_string(s.FramesDropped) + " dropped, " + std::to_string(s.Overflows) +
           " input overflows" +
           (s.FramesMissed > 0
                ? ", " + std::to_string(s.FramesMissed) + " missed while the device was gone"
                : "");
}

}  // namespace qv
