// What quorvelle-batch's runs share, over a recording or live: the chain's settings, the checks
// of the outputs before the run, the read-out log, the I/Q file, the chart pictures and the
// close-time work.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/csv_output.h"
#include "capture/readout_log.h"
#include "chain/measurement.h"
#include "files/held_rows.h"
#include "files/iq_file.h"
#include "files/output_check.h"

namespace qv {

// The window's entries and options as the command line gives them, and the outputs asked for.
struct ChainSettings {
    // The entry texts and the "Blank RF click" and "Inverted" boxes, as the window starts with
    // them unless the command line says otherwise. Saving follows from the paths below.
    Parameters Entries;
    int ClickPosition = kStartClickPosition;  // [output samples after the PPS edge]
    bool SwapChannels = false;                // --swap-channels: PPS left, radio right
    std::string IqPath;                       // "Save I,Q to file?" on, a record per period here
    std::string LogPath;                      // read-out log
    std::string CsvPath;                      // a CSV row per second
    std::string IqCsvPath;                    // a CSV row per integration period
    std::string ChartPath;                    // the chart at the end, as "Capture screen" writes it
    bool SaveScreen = false;
    bool Png = false;       // a PNG beside every bitmap
    std::string PanelsDir;  // the three panels at the end
    std::string DailyDir;   // --daily: the four files above in a folder per day here
    bool Serve = false;     // --serve: the panels drawn each second for the status page
    bool Quiet = false;
};

// The files a run with settings `s` will write whose names are known before it, each with its
// option: the --panels folder and the files in it, the PNG beside --chart, and `recordPath`.
std::vector<OutputPath> OutputFiles(const ChainSettings& s, const std::string& recordPath);

// Before anything is touched: an output that is an input (the recording, --play) or the same
// file as another output. False with one line in `error` naming them (a usage error).
bool CheckNoFileTwice(const ChainSettings& s, const std::string& recordPath,
                      const std::string& inputPath, std::string& error);

// Proves every output of the settings, `recordPath` and, with --save-screen, the current
// directory writable without changing any of them; false after one line on `err` naming the
// option, the path and the reason.
bool CheckOutputs(const ChainSettings& s, const std::string& recordPath, std::ostream& err);

// --iq-file as the run writes it: created with its header before the first frame, a record
// appended as each period closes. A failure is reported at once on `err` and the file is left
// as it is (header and whole records); the run goes on, the records the file lacks are held
// (HeldRows: a bounded number, the oldest given up beyond it) and tried again before each new
// one and at the end, so that they follow those it holds, in order, once the disk has room.
class IqOutput {
public:
    explicit IqOutput(std::ostream& err) : err_(err) {}

    // False when there is something to say, after its line on `err`: the file failed, its
    // records held began to be given up, or it took them all again. LogText() is then the text
    // of the CAPTURE line for the read-out log.
    bool Create(const std::string& path);
    bool Append(const std::string& record);
    // The records held tried once more, then the closing CR LF. False when the file lacks
    // records (held still or given up) or cannot be finished.
    bool Finish();

    const std::string& LogText() const { return logText_; }
    // [records] appended since Create, in the file, held or given up: the number in the file
    // of the last one.
    int64_t Appended() const { return appended_; }
    bool Written() const { return written_; }  // finished, and the records held are in it
    bool Failed() const { return failed_; }    // failed at some time
    // [records] whole in the run's files now: a --daily run's earlier days and today's file
    int64_t Records() const { return earlierRecords_ + file_.Records(); }
    const HeldRows& Held() const { return held_; }
    HeldRows& Held() { return held_; }

private:
    bool Fail(const std::string& error);
    bool Say(const std::string& logText, const std::string& line);
    // HeldRows' writer: the file opened again after a failure, begun again with its header when
    // it was emptied meanwhile, then `rows` appended.
    int WriteRows(std::string_view rows, size_t& written);

    std::ostream& err_;
    IqFileWriter file_;
    HeldRows held_;
    std::string path_;
    bool failed_ = false;
    bool written_ = false;
    bool needsHeader_ = false;  // the file was found emptied: its header goes first
    std::string writeError_;    // the last write's failure
    std::string logText_;
    int64_t earlierRecords_ = 0;  // in the files of the run's earlier days
    int64_t appended_ = 0;
};

// The chain's I/Q text cut back to its header: each record has gone to the I/Q output as it was
// added, which holds those its file lacks, so that a run of weeks (or a month of stream days)
// does not keep them all.
void ForgetWrittenIqRecords(Measurement& m);

// Chart bitmaps and PNGs as they are written; a failure is reported at once and remembered,
// and the run goes on so that the other results are still written.
class ChartPictures {
public:
    ChartPictures(std::ostream& err, bool png) : err_(err), png_(png) {}

    // The bitmap, and its PNG when asked for. False after a failure (LastError() says which).
    bool Write(const Surface& picture, const std::string& path);
    // The same under a name the program makes up ("hhmmss.BMP"): new files that never replace
    // anything, under the next free names when these are taken (said on stderr).
    bool WriteNew(const Surface& picture, const std::string& name);
    bool WritePicture(const Surface& picture, const std::string& path);  // PNG only
    // A PNG of a panel, whose name in the folder the user chose is the program's: it replaces
    // the file of a run before, never writing through a link.
    bool WritePanel(const Surface& picture, const std::string& path);
    void Fail(const std::string& error);

    bool Failed() const { return failed_; }
    const std::string& LastError() const { return lastError_; }
    const std::vector<std::string>& Written() const { return written_; }

private:
    std::ostream& err_;
    bool png_;
    bool failed_ = false;
    std::string lastError_;
    std::vector<std::string> written_;
};

// The clock a run's files are written on: stream time over a recording or the simulator; live,
// the local wall clock, and the date and time in UTC in the CSV rows.
struct RunClock {
    std::function<int64_t()> MillisecondsOfDay;  // the log's times and the captures' names
    std::function<std::string()> RowTime;        // the CSV rows' time cell
};

// The files a run writes as it goes, and what became of them.
struct RunOutputs {
    RunOutputs(std::ostream& err, bool png) : Iq(err), Pictures(err, png) {}

    ReadoutLog Log;
    IqOutput Iq;
    CsvOutputs Csv;
    ChartPictures Pictures;
    bool LogWritten = false;  // closed whole at the end
    // At the end, before the files are closed: a --daily run closes its last day itself. False
    // when anything could not be written.
    std::function<bool()> BeforeClose;
};

// Opens the read-out log of the settings, if they name one, as a new file (false after one
// error line), then creates --iq-file; a failed I/Q file is a CAPTURE line in the log and the
// run goes on.
bool OpenLogAndIq(const ChainSettings& s, bool lineBuffered, const RunClock& clock, RunOutputs& o,
                  std::ostream& err);

// Opens --csv and --iq-csv of the settings as new files, --csv with the columns for an input at
// `deviceRate` [frames/s]; false after one error line. A write
// failure later is said at once on `err` and is a CAPTURE line in the read-out log; the run
// goes on and ends with status 1.
bool OpenCsvOutputs(const ChainSettings& s, const RunClock& clock, RunOutputs& o, std::ostream& err,
                    int deviceRate = kFramesPerSecond);

// The chain's host in quorvelle-batch: read-outs, status changes and sample slips to the log,
// rows to the CSV files, records to the I/Q file and the automatic captures, all on `clock`. A
// failure of the I/Q file or of a capture is a CAPTURE line in the log.
class RunHost final : public ChainHost {
public:
    RunHost(RunClock clock, RunOutputs& o, std::ostream& err)
        : clock_(std::move(clock)), o_(o), err_(err) {}

    void Warn(const std::string& text) override;
    void ChartCaptured(const Surface& capture, int64_t millisecondsOfDay) override;
    void IqRecordAdded(const std::string& iqText, const std::string& record) override;
    void SetReadout(Readout id, const std::string& text) override;
    void SecondEnded(const Measurement& m, const SecondValues& values) override;
    void PeriodClosed(const PeriodValues& values) override;
    void StatusChanged(const SignalStatus& status) override;
    int64_t MillisecondsOfDay() override { return clock_.MillisecondsOfDay(); }
    bool ShowsPanels() const override { return false; }  // written at the end

private:
    void Log(const char* label, const std::string& text);

    RunClock clock_;
    RunOutputs& o_;
    std::ostream& err_;
};

// The window's initialisation with the settings' entries and options, its first repaint, and
// Start. Warns once when the label font is not the one asked for and pictures are drawn.
void StartChain(Measurement& m, ChainHost& host, const ChainSettings& s, std::ostream& err);

// What a run says at its end besides what every run says.
struct RunEnd {
    bool Summary = true;  // the run's summary (unless --quiet); none after a failed read
    std::function<void(bool finished)> BeforeSummary;  // the run's own lines
    std::function<void()> AfterSummary;
};

// The end of every run: the close-time work (the chart and panel pictures, the I/Q file
// finished, the CSV files and the log closed; each failure reported on `err`), then
// end.BeforeSummary, the run's summary, end.AfterSummary and the files really written. False
// when anything could not be written.
bool EndRun(Measurement& m, const ChainSettings& s, RunOutputs& o, const RunEnd& end,
            std::ostream& out, std::ostream& err);

// The run's answer on `out`: first its three facts (the card's frequency error with its
// uncertainty and source, the timing's quality, the state and how long it has held: see
// chain/run_answer.h); then the details: its length and the input's rate when it is not 8000
// frames per second, what each timing counted (the classic loop's seconds with an edge, the
// fine timing's pulses timed, missed and rejected), the classic frequency error (the last, and
// mean and standard deviation over the settled seconds of the last minute) and timing error,
// the audio level, the lock frequency, the click phase's spread, the fine timing's series and
// card frequency, and the I/Q records written (those in the file; after a failure, "N of M"
// closed periods). From the chain's full-precision values, not from the read-out texts.
void PrintRunSummary(const Measurement& m, const IqOutput& iq, std::ostream& out);

// The run's answer in a few words, for a line among others: the three facts the summary opens
// with, short ("card +37.0001 ppm +-0.000073 (fine PPS)  timing 0.006 us RMS (fine PPS)  locked
// 97 s"); "no second closed" before the first.
std::string RunKeyFigure(const Measurement& m);

// One line of the live state for a terminal: time, the run's answer as the summary opens with
// it (card frequency, timing, state), then the last second's classic frequency and timing
// error, audio level and lock frequency. Empty before the first second has closed.
std::string LiveStatusLine(const Measurement& m, const std::string& timeOfDay);

}  // namespace qv
