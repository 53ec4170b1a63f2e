// What quorvelle-batch's runs share.
#include "tools/batch_run.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "chain/run_answer.h"
#include "common/numbers.h"
#include "display/text.h"
#include "files/capture_bitmap.h"
#include "files/iq_file.h"
#include "files/output_check.h"
#include "files/whole_file.h"

namespace qv {

namespace {

constexpr const char* kPanelFiles[] = {"scope.png", "iq.png", "chart.png"};

// `name` in folder `dir`, joined with '/' as on Linux (Windows takes it too), so that the
// messages name a file the same way on both systems.
std::string PathInFolder(const std::string& dir, const char* name) {
    if (dir.empty()) return name;
    const char last = dir.back();
    if (last == '/' || last == std::filesystem::path::preferred_separator) return dir + name;
    return dir + "/" + name;
}

}  // namespace

std::vector<OutputPath> OutputFiles(const ChainSettings& s, const std::string& recordPath) {
    std::vector<OutputPath> files;
    auto add = [&files](const char* option, const std::string& path) {
        if (!path.empty()) files.push_back({option, path});
    };
    add("--iq-file", s.IqPath);
    add("--log", s.LogPath);
    add("--csv", s.CsvPath);
    add("--iq-csv", s.IqCsvPath);
    add("--chart", s.ChartPath);
    if (s.Png && !s.ChartPath.empty()) add("--png", PngPathBeside(s.ChartPath));
    add("--record", recordPath);
    if (!s.PanelsDir.empty()) {
        add("--panels", s.PanelsDir);
        for (const char* name : kPanelFiles) {
            add("--panels", PathInFolder(s.PanelsDir, name));
        }
    }
    return files;
}

namespace {

// The three panels as the window shows them, as PNGs in `dir` (created when missing).
void WritePanels(const Display& d, const std::string& dir, ChartPictures& pictures) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) return pictures.Fail(dir + ": cannot create the folder: " + error.message());
    pictures.WritePanel(d.ScopePanel, PathInFolder(dir, kPanelFiles[0]));
    pictures.WritePanel(d.VectorPanel, PathInFolder(dir, kPanelFiles[1]));
    pictures.WritePanel(d.ChartPanel, PathInFolder(dir, kPanelFiles[2]));
}

}  // namespace

bool CheckNoFileTwice(const ChainSettings& s, const std::string& recordPath,
                      const std::string& inputPath, std::string& error) {
    const std::vector<OutputPath> files = OutputFiles(s, recordPath);
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string named = files[i].Option + " " + files[i].Path;
        if (!inputPath.empty() && SameFile(files[i].Path, inputPath)) {
            error = named + " is the input recording";
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (SameFile(files[i].Path, files[j].Path)) {
                error = files[j].Option + " " + files[j].Path + " and " + named + " are one file";
                return false;
            }
        }
    }
    return true;
}

bool CheckOutputs(const ChainSettings& s, const std::string& recordPath, std::ostream& err) {
    std::vector<OutputPath> outputs;
    for (const OutputPath& file : OutputFiles(s, recordPath)) {
        if (file.Option != "--panels") outputs.push_back(file);
    }
    if (!s.PanelsDir.empty()) {
        outputs.push_back(
            {"--panels", s.PanelsDir, true, {std::begin(kPanelFiles), std::end(kPanelFiles)}});
    }
    // The automatic captures' names come from the time of day: the folder is what can be
    // checked.
    if (s.SaveScreen) outputs.push_back({"--save-screen", ".", true, {}});
    if (!s.DailyDir.empty()) outputs.push_back({"--daily", s.DailyDir, true, {}});
    for (const OutputPath& output : outputs) {
        std::string error;
        if (CheckWritable(output, error)) continue;
        err << "quorvelle-batch: " << output.Option << " "
            << (output.Option == "--save-screen" ? "(the current directory)" : output.Path) << ": "
            << error << "\n";
        return false;
    }
    return true;
}

bool OpenLogAndIq(const ChainSettings& s, bool lineBuffered, const RunClock& clock, RunOutputs& o,
                  std::ostream& err) {
    if (!s.LogPath.empty()) {
        // A failed write is said when it happens, and so is its end; the lines meanwhile are
        // held, these among them. The run goes on, and ends with status 1 when lines are lost.
        o.Log.WriteFailed = [&err, &clock, &o](const std::string& failure) {
            err << "quorvelle-batch: " << failure << "\n" << std::flush;
            o.Log.Write(clock.MillisecondsOfDay(), "CAPTURE",
                        "read-out log not written whole: " + failure);
        };
        o.Log.WriteResumed = [&err, &clock, &o](const std::string& text) {
            err << "quorvelle-batch: " << text << "\n" << std::flush;
            o.Log.Write(clock.MillisecondsOfDay(), "CAPTURE", "read-out log " + text);
        };
        std::string error;
        if (!o.Log.Open(s.LogPath, LogStart::Truncate, lineBuffered, error)) {
            err << "quorvelle-batch: " << error << "\n";
            return false;
        }
    }
    if (!s.IqPath.empty() && !o.Iq.Create(s.IqPath)) {
        o.Log.Write(clock.MillisecondsOfDay(), "CAPTURE", o.Iq.LogText());
    }
    return true;
}

bool OpenCsvOutputs(const ChainSettings& s, const RunClock& clock, RunOutputs& o, std::ostream& err,
                    int deviceRate) {
    auto failed = [&err, &clock, &o](const std::string& failure) {
        err << "quorvelle-batch: " << failure << " (the run goes on)\n" << std::flush;
        o.Log.Write(clock.MillisecondsOfDay(), "CAPTURE", "CSV file not written whole: " + failure);
    };
    std::string error;
    if (o.Csv.Open(s.CsvPath, s.IqCsvPath, CsvStart::Truncate, failed, error, deviceRate)) {
        auto resumed = [&err, &clock, &o](const std::string& text) {
            err << "quorvelle-batch: " << text << "\n" << std::flush;
            o.Log.Write(clock.MillisecondsOfDay(), "CAPTURE", "CSV file " + text);
        };
        o.Csv.Seconds.WriteResumed = resumed;
        o.Csv.Periods.WriteResumed = resumed;
        o.Csv.Unwritten = [&err, &clock, &o](const std::string& text) {
            err << "quorvelle-batch: " << text << "\n" << std::flush;
            o.Log.Write(clock.MillisecondsOfDay(), "CAPTURE",
                        "CSV file not written whole: " + text);
        };
        return true;
    }
    err << "quorvelle-batch: " << error << "\n";
    return false;
}

// ---------------------------------------------------------------------------------------------
// IqOutput

bool IqOutput::Create(const std::string& path) {
    earlierRecords_ += file_.Records();
    path_ = path;
    failed_ = written_ = needsHeader_ = false;  // a --daily run creates a file a day
    logText_.clear();
    held_ = HeldRows(held_.MostBytes);
    appended_ = 0;
    std::string error;
    if (file_.Create(path, error)) return true;
    // The part of the header the file lacks is held first, as a record would be.
    int code = 0;
    held_.Write(
        IqTextHeader().substr(static_cast<size_t>(file_.Size())),
        [](std::string_view, size_t& written) { return written = 0, ENOSPC; }, code);
    return Fail(error);
}

int IqOutput::WriteRows(std::string_view rows, size_t& written) {
    written = 0;
    bool afresh = false;
    if (!file_.IsOpen() && !file_.Reopen(writeError_, afresh)) return EIO;
    if (afresh) {
        err_ << "quorvelle-batch: " << path_
             << ": found emptied or removed; begun again with its header\n";
        needsHeader_ = true;
    }
    if (needsHeader_) {
        const std::string header = IqTextHeader();
        const size_t at = std::min(static_cast<size_t>(file_.Size()), header.size());
        if (!file_.Append(header.substr(at), writeError_)) return EIO;
        needsHeader_ = false;
    }
    const int64_t before = file_.Size();
    const bool ok = file_.Append(std::string(rows), writeError_);
    written = static_cast<size_t>(file_.Size() - before);
    return ok ? 0 : EIO;
}

bool IqOutput::Append(const std::string& record) {
    ++appended_;
    int code = 0;
    const auto write = [this](std::string_view rows, size_t& written) {
        return WriteRows(rows, written);
    };
    switch (held_.Write(record, write, code)) {
        case HeldChange::Failed:
            return Fail(writeError_);
        case HeldChange::Dropping: {
            const std::string text = DroppingText(path_, held_, "records");
            return Say("I/Q file not written whole: " + text, text + " (the run goes on)");
        }
        case HeldChange::Resumed: {
            const std::string text = ResumedText(path_, held_, "records");
            return Say("I/Q file " + text, text);
        }
        case HeldChange::None:
            break;
    }
    return true;
}

bool IqOutput::Finish() {
    if (held_.Failing()) {
        // The disk may have room again: the records the file lacks, after those it holds.
        int code = 0;
        const auto write = [this](std::string_view rows, size_t& written) {
            return WriteRows(rows, written);
        };
        if (held_.Retry(write, code) != HeldChange::Resumed) return false;  // said at the failure
        err_ << "quorvelle-batch: " << path_ << ": written whole at the end";
        if (held_.DroppedLines() > 0) {
            err_ << ", without " << held_.DroppedLines() << " records given up earlier";
        }
        err_ << "\n";
    }
    std::string error;
    written_ = file_.Finish(error) || Fail(error);
    return written_ && !held_.EverDropped();
}

bool IqOutput::Fail(const std::string& error) {
    failed_ = true;
    logText_ = "I/Q file not written: " + error;
    err_ << "quorvelle-batch: " << error << " (the run goes on)\n";
    return false;
}

void ForgetWrittenIqRecords(Measurement& m) {
    const size_t header = IqTextHeader().size();
    if (m.IqText.size() > header) m.IqText.resize(header);
}

bool IqOutput::Say(const std::string& logText, const std::string& line) {
    logText_ = logText;
    err_ << "quorvelle-batch: " << line << "\n";
    return false;
}

// ---------------------------------------------------------------------------------------------
// ChartPictures

bool ChartPictures::Write(const Surface& picture, const std::string& path) {
    std::string error;
    if (!WriteCaptureBitmap(picture, path, error)) return Fail(error), false;
    written_.push_back(path);
    return !png_ || WritePicture(picture, PngPathBeside(path));
}

bool ChartPictures::WriteNew(const Surface& picture, const std::string& name) {
    std::string error;
    int number = 1;
    if (!WriteUnderFreeName(name, CaptureBitmapBytes(picture), number, error)) {
        return Fail(error), false;
    }
    const std::string path = NumberedName(name, number);
    if (number > 1)
        err_ << "quorvelle-batch: " << name << " is taken; the chart is in " << path << "\n";
    written_.push_back(path);
    if (!png_) return true;
    // Beside the bitmap under the same number, or the next free one after it.
    const std::string png = PngPathBeside(name), beside = NumberedName(png, number);
    std::string bytes;
    if (!EncodePng(picture, bytes, error)) return Fail(beside + ": " + error), false;
    if (!WriteUnderFreeName(png, bytes, number, error)) return Fail(error), false;
    const std::string pngPath = NumberedName(png, number);
    if (pngPath != beside)
        err_ << "quorvelle-batch: " << beside << " is taken; the PNG is in " << pngPath << "\n";
    written_.push_back(pngPath);
    return true;
}

bool ChartPictures::WritePanel(const Surface& picture, const std::string& path) {
    std::string error, bytes;
    if (!EncodePng(picture, bytes, error)) return Fail(path + ": " + error), false;
    if (!ReplaceWholeFile(path, bytes, error)) return Fail(error), false;
    written_.push_back(path);
    return true;
}

bool ChartPictures::WritePicture(const Surface& picture, const std::string& path) {
    std::string error;
    if (!WritePng(picture, path, error)) return Fail(error), false;
    written_.push_back(path);
    return true;
}

void ChartPictures::Fail(const std::string& error) {
    err_ << "quorvelle-batch: " << error << "\n";
    lastError_ = error;
    failed_ = true;
}

// ---------------------------------------------------------------------------------------------
// The chain's host

void RunHost::Warn(const std::string& text) {
    err_ << "quorvelle-batch: warning: " << text << "\n" << std::flush;
}

void RunHost::ChartCaptured(const Surface& capture, int64_t millisecondsOfDay) {
    if (!o_.Pictures.WriteNew(capture, CaptureBitmapName(millisecondsOfDay))) {
        Log("CAPTURE", "chart not saved: " + o_.Pictures.LastError());
    }
}

void RunHost::IqRecordAdded(const std::string&, const std::string& record) {
    if (!o_.Iq.Append(record)) Log("CAPTURE", o_.Iq.LogText());
}

void RunHost::SetReadout(Readout id, const std::string& text) { Log(ReadoutName(id), text); }

void RunHost::SecondEnded(const Measurement& m, const SecondValues& values) {
    o_.Csv.WriteSecond(clock_.RowTime(), m, values);
    const std::string slip = SampleSlipText(values.Fine);
    if (!slip.empty()) Log("CAPTURE", slip);
}

void RunHost::PeriodClosed(const PeriodValues& values) {
    o_.Csv.WritePeriod(clock_.RowTime(), values);
}

void RunHost::StatusChanged(const SignalStatus& status) { Log("STATUS", StatusLogText(status)); }

void RunHost::Log(const char* label, const std::string& text) {
    o_.Log.Write(clock_.MillisecondsOfDay(), label, text);
}

// ---------------------------------------------------------------------------------------------
// Start and finish

void StartChain(Measurement& m, ChainHost& host, const ChainSettings& s, std::ostream& err) {
    const bool drawsText = s.SaveScreen || !s.ChartPath.empty() || !s.PanelsDir.empty() || s.Serve;
    if (drawsText && !LabelFace().Problem.empty()) {
        err << "quorvelle-batch: warning: " << LabelFace().Problem << "\n";
    }
    m.Params = s.Entries;
    InitialiseMeasurement(m, host);
    m.Lock.ClickPosition = s.ClickPosition;
    m.SwapChannels = s.SwapChannels;
    m.Params.SaveIqFlag = s.IqPath.empty() ? -1 : 1;
    m.Params.SaveScreenFlag = s.SaveScreen ? 1 : -1;
    // The panels' pictures, written at the end or shown on the status page.
    m.Screen.PanelsShown = !s.PanelsDir.empty() || s.Serve;
    // A run that writes no picture never shows a surface: the chain draws nothing, the chart's
    // scrolling (three copies of it a period) included.
    m.Screen.Drawing = drawsText;
    // The window is shown, and so painted, before Start can be pressed.
    RepaintPanels(m.Screen, m.Params.IntegrationSeconds, m.Now());
    StartMeasurement(m);
}

namespace {

// Close-time work: the chart and panel pictures, the I/Q file finished, the CSV files and the
// log closed. False when anything could not be written (each failure already reported on
// `err`).
bool CloseOutputs(Measurement& m, const ChainSettings& s, RunOutputs& o, std::ostream& err) {
    const bool before = !o.BeforeClose || o.BeforeClose();
    if (!s.ChartPath.empty()) {
        CaptureScreen(m);
        o.Pictures.Write(m.Screen.CaptureSurface, s.ChartPath);
    }
    if (!s.PanelsDir.empty()) {
        ShowChartPanel(m.Screen);
        WritePanels(m.Screen, s.PanelsDir, o.Pictures);
    }
    bool ok = before && !o.Pictures.Failed();
    if (!s.IqPath.empty() && !o.Iq.Finish()) ok = false;
    if (!o.Csv.Close()) ok = false;  // before the log: a failure is also a CAPTURE line
    std::string error;
    o.LogWritten = o.Log.Close(error);
    if (!error.empty()) err << "quorvelle-batch: " << error << "\n";
    if (!o.LogWritten) ok = false;
    return ok;
}

// "I/Q file: ...", "CSV: ...", "I/Q CSV: ...", "read-out log: ..." and "picture: ..." lines for
// what was really written.
void ListWrittenFiles(const ChainSettings& s, const RunOutputs& o, std::ostream& out) {
    if (o.Iq.Written() && !s.IqPath.empty()) out << "I/Q file: " << s.IqPath << "\n";
    if (!s.CsvPath.empty() && !o.Csv.Seconds.HasFailed()) out << "CSV: " << s.CsvPath << "\n";
    if (!s.IqCsvPath.empty() && !o.Csv.Periods.HasFailed()) {
        out << "I/Q CSV: " << s.IqCsvPath << "\n";
    }
    if (o.LogWritten && !s.LogPath.empty()) out << "read-out log: " << s.LogPath << "\n";
    for (const std::string& path : o.Pictures.Written()) out << "picture: " << path << "\n";
}

}  // namespace

bool EndRun(Measurement& m, const ChainSettings& s, RunOutputs& o, const RunEnd& end,
            std::ostream& out, std::ostream& err) {
    const bool finished = CloseOutputs(m, s, o, err);
    if (end.BeforeSummary) end.BeforeSummary(finished);
    if (end.Summary && !s.Quiet) PrintRunSummary(m, o.Iq, out);
    if (end.AfterSummary) end.AfterSummary();
    ListWrittenFiles(s, o, out);
    return finished;
}

// ---------------------------------------------------------------------------------------------
// Summary

namespace {

std::string Counted(int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The fine PPS timing's lines: its counts (rejections by reason), its series and sample slips,
// the card frequency from the fit of the last minute's edges with its standard error, and the
// RMS of the edges' residuals over the run.
void PrintFineSummary(const PpsTiming& p, std::ostream& out) {
    if (p.Series > 0) {
        out << "  fine PPS timing: " << Counted(p.Series, "series", "series")
            << ", the last by the " << PpsMethodName(p.Method) << "; "
            << Counted(p.Slips, "sample slip", "sample slips");
        if (p.Slips > 0) out << " (" << p.SlippedFrames << " frames net)";
        out << "\n";
    }
    long double ppm = 0, se = 0;
    if (!PpsFitNow(p, ppm, se)) {
        out << "  fine card frequency: not known (too few edges in the last minute)\n";
        return;
    }
    out << "  fine card frequency: " << FormatSignedForText("%.4f", ppm) << " ppm, standard error "
        << FormatForText("%.6f", se) << " ppm (fit of the last minute's edges); edge residual "
        << "RMS " << FormatForText("%.3f", std::sqrt(p.ResidualSquares / p.ResidualCount))
        << " us over " << p.ResidualCount << " edges\n";
}

}  // namespace

void PrintRunSummary(const Measurement& m, const IqOutput& iq, std::ostream& out) {
    const SignalWatch& w = m.Watch;
    const RunAnswer answer = AnswerOf(m);
    out << AnswerLines(answer);
    out << "  length: "
        << FormatForText("%.1f", static_cast<long double>(m.FramesProcessed) / kFramesPerSecond)
        << " s processed\n";
    // At 8000 the frames went straight in, and the summary says nothing of it.
    if (m.InputRate != kFramesPerSecond) {
        out << "  input: " << m.InputRate << " frames per second, resampled to " << kFramesPerSecond
            << " for the classic chain\n";
    }
    // What each of the two timings counts: the classic loop its seconds, the fine timing the
    // pulses it timed (not one too near the input's start, nor one whose hold-off the input's
    // end cut short).
    const PpsTiming& p = m.Fine;
    out << "  PPS edges: the classic clock loop found one in " << m.SecondsWithEdge << " of the "
        << m.SecondsEnded << " s it closed; the fine timing timed " << p.EdgesFound
        << " pulses, with " << p.SecondsMissing << " s without a pulse between them, and rejected "
        << p.PulsesRejected;
    if (p.PulsesRejected > 0) {
        out << " (" << Counted(p.RejectedDouble, "double pulse", "double pulses") << ", "
            << p.RejectedNoisy << " noisy, " << p.RejectedOffSecond << " off the second)";
    }
    out << "\n";
    if (w.Recent.empty()) return;
    const StatusSecond& last = w.Recent.back();
    long double mean = 0, sd = 0;
    int count = 0;
    out << "  classic frequency error: last " << FormatForText("%.3f", last.FreqErrorPpm) << " ppm"
        << (last.EdgeFound ? "" : " (held: no PPS edge in the last second)") << "\n";
    if (answer.ClassicSettled) {
        out << "  over the last settled " << answer.ClassicSeconds << " s: mean "
            << FormatForText("%.3f", answer.ClassicPpm) << " ppm, standard deviation "
            << FormatForText("%.3f", answer.ClassicSpreadPpm) << " ppm\n";
        out << "  classic timing error: RMS " << FormatForText("%.2f", answer.ClassicTimingRmsUs)
            << " us over the same seconds\n";
    } else {
        out << "  the clock loop did not settle in the last " << w.Recent.size() << " s\n";
    }
    out << "  audio level: " << FormatForText("%.1f", AudioLevelPercent(last.AudioPeak)) << " %\n";
    out << "  lock frequency: " << FormatForText("%.4f", last.LockFrequencyHz) << " Hz\n";
    const bool clickKept = MeanAndSpread(
        w,
        [](const StatusSecond& s, long double& v) {
            v = s.ClickPhaseDeg;
            return s.ClickRead && s.State == SignalState::Locked;
        },
        mean, sd, count);
    if (clickKept) {
        out << "  click phase: spread " << FormatForText("%.2f", sd)
            << " deg (standard deviation over " << count << " locked s), level "
            << FormatForText("%.3f", 100 * last.ClickLevel) << " %\n";
    } else {
        out << "  click phase: not locked in the last " << w.Recent.size() << " s\n";
    }
    PrintFineSummary(m.Fine, out);
    // What the file holds: after a failure, the records that reached it whole.
    out << "  I/Q records written: " << iq.Records();
    if (iq.Failed() && iq.Records() < m.PeriodsClosed) out << " of " << m.PeriodsClosed;
    out << "\n";
}

std::string RunKeyFigure(const Measurement& m) {
    const std::string brief = AnswerBrief(AnswerOf(m));
    return brief.empty() ? "no second closed" : brief;
}

std::string LiveStatusLine(const Measurement& m, const std::string& timeOfDay) {
    if (m.Watch.Recent.empty()) return "";
    const StatusSecond& s = m.Watch.Recent.back();
    return timeOfDay + "  " + AnswerBrief(AnswerOf(m)) + "  | last second: freq " +
           FormatForText("%.3f", s.FreqErrorPpm) + " ppm  timing " +
           FormatForText("%.2f", s.TimingErrorUs) + " us  level " +
           FormatForText("%.1f", AudioLevelPercent(s.AudioPeak)) + " %  lock " +
           FormatForText("%.4f", s.LockFrequencyHz) + " Hz";
}

}  // namespace qv
