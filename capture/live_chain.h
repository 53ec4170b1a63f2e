// The measurement chain on a live input, as the window and quorvelle-batch --capture run it:
// each block the capture engine hands over goes to the recording first, then through the
// chain at the device's rate (the fine PPS timing reads the device frames, the classic chain
// their conversion to 8000 frames per second); a gap in the stream becomes a CAPTURE line in
// the read-out log and a line on stderr. Frame numbers and limits count device frames.
//
// With "Save I,Q to file?" on, a gap's line also says which I/Q period holds it. A record is
// stamped with the time of day at which its period closes, which is not known yet when the gap
// is reported, so the line names the period by the time it began (the previous record's
// stamp), and a second CAPTURE line names the record exactly once the period has closed. Both
// give the record's number in the I/Q file (its records counted from 1), since after a stall
// (the process suspended, then catching up) several records carry the same stamp:
//   "... behind; the I/Q period begun at 12:00:03 holds the gap; its record, number 18 in the
//    I/Q file, is named when it closes"
//   "the I/Q record 12:00:06, number 18 in the I/Q file, holds the gap at frame 40960"
//
// Whatever the options, the frames dropped in each gap are added to the open period's count
// (Measurement::PeriodFramesDropped), which the host receives when the period closes.
//
// A recording that cannot be written, or that loses frames, is reported once, as soon as the
// consumer sees it, while the capture goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

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
    int64_t FrameLimit = -1;        // [device frames] through the chain at most; -1: no limit
    // Besides the CAPTURE line and stderr, where a failing recording is shown (the window's
    // title); may be empty.
    std::function<void(const std::string&)> ShowProblem;
    // The I/Q records in the I/Q file so far, held ones counted, for a host that does not keep
    // the chain's whole I/Q text; unset: the records in that text.
    std::function<int64_t()> IqRecordCount;

    // Once the capture has started and before its first block: the device's rate for the chain
    // and the recording. False with one line in `error` when the chain cannot take the rate or
    // the recording cannot be written at it.
    bool Begin(int framesPerSecond, std::string& error);
    // Once the capture has ended: the frames the chain still holds back at a rate other than
    // 8000 (up to the last one captured) through it, as the batch tool does at a file's end.
    void Finish();

    void CaptureGap(int64_t atFrame, int64_t droppedFrames, int overflows) override;
    void CaptureFrames(const Frame* frames, int count) override;
    // The device is back: a CAPTURE line saying how long it was gone, its frames counted as
    // dropped, as a gap's are.
    void DeviceGap(int64_t atFrame, int64_t missedFrames) override;

    // A CAPTURE line in the read-out log, and the same text on stderr.
    void Report(const std::string& text);
    // Drops and overflows after the last block handed over have no block to carry them to a
    // CaptureGap: reported here, once the capture has ended, from its statistics. Gaps whose
    // I/Q period never closed are said to be in no record.
    void ReportGapsAtEnd(const CaptureStatistics& s);
    // A write failure of the recording or the log: a CAPTURE line (where the log still works),
    // stderr, and ShowProblem.
    void ReportProblem(const std::string& text);

    bool Done() const { return FrameLimit >= 0 && processed_ >= FrameLimit; }
    int64_t FramesProcessed() const { return processed_; }  // [device frames] through the chain
    int FramesPerSecond() const { return m_.InputRate; }    // [frames/s] the device's
    // The recording's problem reported last, so that the close need not say it again.
    const std::string& RecordingProblem() const { return recordingProblem_; }

private:
    // A gap's frames counted in the open period and the fine timing, and `text` reported with
    // the I/Q period that holds it.
    void CountGap(std::string text, int64_t atFrame, int64_t frames);
    void CheckRecording();
    void NameGapRecord();
    // The records in the measurement's I/Q text so far, counting only what was added since the
    // last call.
    int64_t IqRecordsSoFar();

    Measurement& m_;
    ReadoutLog& log_;
    std::ostream& err_;
    const char* program_;
    // state
    int64_t processed_ = 0;              // [device frames]
    int64_t droppedReported_ = 0;        // [frames] in the gaps reported so far
    int64_t overflowsReported_ = 0;      // in the gaps reported so far
    std::string startTime_;              // hh:mm:ss of the first frame: when the first period began
    std::vector<int64_t> gapsInPeriod_;  // [frames] where the gaps of the open period are
    int64_t periodsAtGap_ = 0;           // Measurement::PeriodsClosed when they were reported
    std::string recordingProblem_;       // the recording's problem reported last
    size_t iqTextCounted_ = 0;           // [bytes] of the I/Q text whose lines are counted
    int64_t iqTextLines_ = 0;            // lines in them
};

// The closing CAPTURE line: "capture ended: N frames processed, D dropped, O input overflows",
// and ", M missed while the device was gone" after a device came back.
std::string CaptureEndedSummary(int64_t framesProcessed, const CaptureStatistics& s);

}  // namespace qv
