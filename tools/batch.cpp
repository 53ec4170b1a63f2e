// quorvelle-batch: option parsing, the frame sources, the read-out log and the run itself.
#include "tools/batch.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture/signal_simulator.h"
#include "capture/simulator_options.h"
#include "capture/stop_signals.h"
#include "chain/measurement.h"
#include "common/command_line.h"
#include "common/numbers.h"
#include "common/os.h"
#include "common/time_of_day.h"
#include "files/wav_file.h"
#include "tools/batch_capture.h"
#include "tools/batch_daily.h"
#include "tools/batch_files.h"
#include "tools/batch_run.h"
#include "tools/read_ahead.h"

namespace qv {

namespace {

constexpr const char* kUsage =
    "Usage: quorvelle-batch [OPTIONS] INPUT.wav...\n"
    "  or:  quorvelle-batch [OPTIONS] --simulate SECONDS [SIMULATOR OPTIONS]\n"
    "  or:  quorvelle-batch [OPTIONS] --capture [--device N|NAME] [--seconds S]\n"
    "  or:  quorvelle-batch --list-devices\n"
    "\n"
    "Runs the measurement chain over a stereo recording (RF left, PPS right) or over the\n"
    "built-in signal simulator, as fast as the processor allows. Recordings at\n"
    "%RATES%\n"
    "frames per second are read: the fine PPS timing takes them at their own rate, the rest\n"
    "of the chain resampled to 8000. Times of day are stream time: the start time plus the\n"
    "input's seconds.\n"
    "\n"
    "  --lock-freq TEXT       text of the lock-frequency entry (default \"%LOCK%\")\n"
    "  --offset TEXT          text of the offset-frequency entry (default\n"
    "                         \"%OFFSET%\")\n"
    "  --integration TEXT     text of the integration-time entry (default \"%INTEGRATION%\")\n"
    "  --click-position N     sample after the PPS edge where the RF click is read\n"
    "                         (default %CLICK%, 0..%LAST%)\n"
    "  --no-blank             \"Blank RF click\" off (on by default)\n"
    "  --invert               \"Inverted\" on (off by default)\n"
    "  --swap-channels        the PPS on the left channel and the radio on the right: each\n"
    "                         frame's channels are exchanged as it enters the chain\n"
    "  --start-time HH:MM:SS  stream time of the first frame (default 00:00:00)\n"
    "  --iq-file PATH         \"Save I,Q to file?\" on: the I/Q file, written to PATH record by\n"
    "                         record as the periods close\n"
    "  --log PATH             write every read-out as \"time<TAB>label<TAB>text\" to PATH\n"
    "  --csv PATH             a CSV row per second: time, t_s and the numbers behind the\n"
    "                         read-outs at full precision, for plotting\n"
    "  --iq-csv PATH          a CSV row per integration period: time, t_s, I, Q, phase,\n"
    "                         level and the frames the live capture dropped in it\n"
    "  --chart PATH           at the end, write the chart as \"Capture screen\" does, to PATH\n"
    "                         (a 24-bit bitmap)\n"
    "  --save-screen          \"Save screen to file?\" on: every 739 periods the chart is\n"
    "                         written to hhmmss.BMP (stream time) in the current directory\n"
    "                         and cleared\n"
    "  --png                  also write a PNG beside every bitmap\n"
    "  --panels DIR           at the end, write scope.png, iq.png and chart.png to DIR: the\n"
    "                         three panels as the window would show them\n"
    "  --daily DIR            a station's files, a folder a day: DIR/YYYY/MM/DD (the UTC date\n"
    "                         with --capture, else the stream's, which starts on 1970-01-01)\n"
    "                         holds iq.txt (the I/Q file), readouts.tsv (as --log), seconds.csv\n"
    "                         (as --csv) and periods.csv (as --iq-csv). At midnight they are\n"
    "                         closed, synced and continued in the next day's folder, each row\n"
    "                         and record in the day of its time (a period in the day it\n"
    "                         closes), and the finished day gets report.png and report.txt\n"
    "                         (quorvelle-report --text --day); the run's last day at its end.\n"
    "                         Names already taken are never replaced: the day's files are\n"
    "                         then iq-2.txt, readouts-2.tsv, ... Not with --iq-file, --log,\n"
    "                         --csv or --iq-csv, nor with several input files; --record stays\n"
    "                         one recording of the whole run\n"
    "  -j, --jobs N           with several input files, how many run at a time (default: the\n"
    "                         number of processors)\n"
    "  --quiet                no progress output\n"
    "  --help                 this text\n"
    "  --version              the program's version\n"
    "\n"
    "Every output is checked before the first frame is read; an output that is the input or\n"
    "another output is a usage error.\n"
    "\n"
    "Several input files: each is a run of its own with outputs of its own, N at a time. In an\n"
    "output's path {name} stands for the input's file name without its extension (--log\n"
    "logs/{name}.tsv); with several files a path ending in / or naming a folder gets\n"
    "NAME.iq.txt, NAME.readouts.tsv, NAME.csv, NAME.iq.csv or NAME.BMP in it, and --panels DIR\n"
    "writes to DIR/NAME. Two files writing one output is a usage error, and so is\n"
    "--save-screen (its names are the stream time's, the same for every file). A file's lines\n"
    "are printed whole as it ends; at the end a line per file gives its name, status, seconds\n"
    "and frequency error. A file that fails does not stop the others; the exit status is the\n"
    "worst of theirs.\n"
    "\n"
    "Live capture:\n"
    "%CAPTURE%"
    "\n"
    "After --simulate SECONDS the simulator options of quorvelle-sim follow; there\n"
    "--lock-freq is the simulated click's frequency in Hz and --swap-channels makes the\n"
    "simulator's wiring swapped (give the entry text and the chain's --swap-channels before\n"
    "--simulate).\n";

struct BatchOptions {
    ChainSettings Chain;
    int64_t StartMilliseconds = 0;
    bool StartTimeGiven = false;  // --start-time: stream time only, not the live wall clock
    bool Simulate = false;
    SimulatorSettings Simulator;
    std::vector<std::string> Inputs;
    int Jobs = 0;  // files at a time; 0: not given, the number of processors
    CaptureOptions Capture;
};

// The usage text with the capture options and the window's start-up values in their places.
std::string Usage() {
    std::string usage = kUsage;
    const std::pair<const char*, std::string> fills[] = {
        {"%LOCK%", kStartLockFreqText},
        {"%OFFSET%", kStartOffsetText},
        {"%INTEGRATION%", kStartIntegrationText},
        {"%CLICK%", std::to_string(kStartClickPosition)},
        {"%LAST%", std::to_string(kLastSampleOfSecond)},
        {"%CAPTURE%", kCaptureUsage},
        {"%RATES%", InputRatesText()},
    };
    for (const auto& [mark, text] : fills) {
        usage.replace(usage.find(mark), std::string_view(mark).size(), text);
    }
    return usage;
}

enum class ParseResult { Run, Help, Version, Error };

// An input file's name.
ParseResult TakeInput(const std::string& arg, BatchOptions& o) {
    o.Inputs.push_back(arg);
    return ParseResult::Run;
}

// -j N, -jN and --jobs N.
ParseResult TakeJobs(int argc, char** argv, int& i, BatchOptions& o, std::string& error) {
    const std::string arg = argv[i];
    std::string text = arg.substr(std::min<size_t>(arg.size(), 2));
    if ((arg == "-j" || arg == "--jobs") && !TakeOptionValue(argc, argv, i, text, error)) {
        return ParseResult::Error;
    }
    constexpr int kMostJobs = 1024;
    if (!ParseWholeNumber(text, 1, kMostJobs, o.Jobs)) {
        error = "-j/--jobs: \"" + text + "\" is not a whole number from 1 to " +
                std::to_string(kMostJobs);
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

// Batch options; `i` points at the option and is left at its last consumed argument.
ParseResult ParseBatchOption(int argc, char** argv, int& i, BatchOptions& o, std::string& error) {
    const std::string arg = argv[i];
    auto value = [&](std::string& target) { return TakeOptionValue(argc, argv, i, target, error); };
    std::string text;
    if (arg == "--lock-freq")
        return value(o.Chain.Entries.LockFreqText) ? ParseResult::Run : ParseResult::Error;
    if (arg == "--offset")
        return value(o.Chain.Entries.OffsetText) ? ParseResult::Run : ParseResult::Error;
    if (arg == "--integration") {
        return value(o.Chain.Entries.IntegrationText) ? ParseResult::Run : ParseResult::Error;
    }
    if (arg == "--iq-file") return value(o.Chain.IqPath) ? ParseResult::Run : ParseResult::Error;
    if (arg == "--log") return value(o.Chain.LogPath) ? ParseResult::Run : ParseResult::Error;
    if (arg == "--csv") return value(o.Chain.CsvPath) ? ParseResult::Run : ParseResult::Error;
    if (arg == "--iq-csv") return value(o.Chain.IqCsvPath) ? ParseResult::Run : ParseResult::Error;
    if (arg == "--chart") return value(o.Chain.ChartPath) ? ParseResult::Run : ParseResult::Error;
    if (arg == "--panels") return value(o.Chain.PanelsDir) ? ParseResult::Run : ParseResult::Error;
    if (arg == "--daily") return value(o.Chain.DailyDir) ? ParseResult::Run : ParseResult::Error;
    if (arg == "--save-screen") return o.Chain.SaveScreen = true, ParseResult::Run;
    if (arg == "--png") return o.Chain.Png = true, ParseResult::Run;
    if (arg == "--click-position") {
        if (!value(text)) return ParseResult::Error;
        if (!ParseWholeNumber(text, 0, kLastSampleOfSecond, o.Chain.ClickPosition)) {
            error = "--click-position: \"" + text + "\" is not a whole number from 0 to " +
                    std::to_string(kLastSampleOfSecond);
            return ParseResult::Error;
        }
        return ParseResult::Run;
    }
    if (arg == "--start-time") {
        if (!value(text)) return ParseResult::Error;
        if (!ParseTimeOfDay(text, o.StartMilliseconds)) {
            error = "--start-time: \"" + text + "\" is not a time of day HH:MM:SS";
            return ParseResult::Error;
        }
        o.StartTimeGiven = true;
        return ParseResult::Run;
    }
    if (arg == "--no-blank") return o.Chain.Entries.BlankRfClickFlag = -1, ParseResult::Run;
    if (arg == "--invert") return o.Chain.Entries.InvertFlag = 1, ParseResult::Run;
    if (arg == "--swap-channels") return o.Chain.SwapChannels = true, ParseResult::Run;
    if (arg == "--quiet") return o.Chain.Quiet = true, ParseResult::Run;
    if (arg == "--jobs" || arg.starts_with("-j")) return TakeJobs(argc, argv, i, o, error);
    if (arg == "--help" || arg == "-h") return ParseResult::Help;
    if (arg == "--version") return ParseResult::Version;
    if (arg == "--simulate") {
        if (!value(text)) return ParseResult::Error;
        // The seconds are a simulator option of their own; reuse its checks.
        std::string secondsOption = "--seconds";
        char* simArgs[] = {secondsOption.data(), text.data()};
        int j = 0;
        if (ParseSimulatorOption(2, simArgs, j, o.Simulator, error) != 1) {
            error = "--simulate: " + error;
            return ParseResult::Error;
        }
        o.Simulate = true;
        return ParseResult::Run;
    }
    const int captureOption = ParseCaptureOption(argc, argv, i, o.Capture, error);
    if (captureOption != 0) return captureOption > 0 ? ParseResult::Run : ParseResult::Error;
    if (arg.size() > 1 && arg[0] == '-') {
        error = "unknown option " + arg;
        return ParseResult::Error;
    }
    return TakeInput(arg, o);
}

// --daily names the four files itself, and its folders hold one run's days.
bool CheckDailyOptions(const BatchOptions& o, std::string& error) {
    const std::pair<const char*, const std::string&> named[] = {{"--iq-file", o.Chain.IqPath},
                                                                {"--log", o.Chain.LogPath},
                                                                {"--csv", o.Chain.CsvPath},
                                                                {"--iq-csv", o.Chain.IqCsvPath}};
    for (const auto& [option, path] : named) {
        if (path.empty()) continue;
        error = std::string("--daily names its files itself: leave out ") + option;
        return false;
    }
    if (o.Inputs.size() > 1) {
        error = "--daily takes one input: several files' days would share the folders";
        return false;
    }
    return true;
}

ParseResult ParseOptions(int argc, char** argv, BatchOptions& o, std::string& error) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (EndsOptions(argv[i], optionsEnded)) continue;
        if (optionsEnded) {
            TakeInput(argv[i], o);
            continue;
        }
        if (o.Simulate) {
            int r = ParseSimulatorOption(argc, argv, i, o.Simulator, error);
            if (r < 0) return ParseResult::Error;
            if (r > 0) {
                i -= 1;  // the loop steps past the last consumed argument
                continue;
            }
        }
        ParseResult r = ParseBatchOption(argc, argv, i, o, error);
        if (r != ParseResult::Run) return r;
    }
    if (!CheckCaptureOptions(o.Capture, !o.Inputs.empty(), o.Simulate, error)) {
        return ParseResult::Error;
    }
    // Options that the chosen mode would silently ignore are refused.
    if (o.Capture.ListDevices) {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--list-devices" || arg == "--quiet" || arg == "--") continue;
            error = "--list-devices takes no other option (" + arg + ")";
            return ParseResult::Error;
        }
        return ParseResult::Run;
    }
    if ((o.Capture.Capture || o.Simulate) && o.Jobs != 0) {
        error = std::string("-j/--jobs is for input files, not for ") +
                (o.Capture.Capture ? "--capture" : "--simulate");
        return ParseResult::Error;
    }
    if (o.Capture.Capture && o.StartTimeGiven) {
        error = "--start-time does not apply to --capture: live times are the wall clock";
        return ParseResult::Error;
    }
    if (o.Simulate && !CheckSimulatorCard(o.Simulator, false, error)) return ParseResult::Error;
    if (!o.Chain.DailyDir.empty() && !CheckDailyOptions(o, error)) return ParseResult::Error;
    if (o.Capture.Capture) return ParseResult::Run;
    if (o.Simulate && !o.Inputs.empty()) {
        error = "give either an input file or --simulate, not both";
        return ParseResult::Error;
    }
    if (!o.Simulate && o.Inputs.empty()) {
        error = "no input: give INPUT.wav or --simulate SECONDS";
        return ParseResult::Error;
    }
    // The automatic captures' names come from the stream time, the same in every file's run: in
    // the one current directory they would take one another's names in the order the threads
    // came, and no picture would say which recording it shows.
    if (o.Chain.SaveScreen && o.Inputs.size() > 1) {
        error =
            "--save-screen takes one input file: its pictures are named by the stream time "
            "alone";
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

// The progress bar of a single run on a terminal; counts the input's own frames, at its own rate.
class ProgressBar final : public RunProgress {
public:
    ProgressBar(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}

    void Begin(long long totalFrames, int framesPerSecond) override {
        enabled_ = enabled_ && os::StderrIsTerminal() && totalFrames > 0;
        total_ = totalFrames;
        rate_ = framesPerSecond;
        start_ = std::chrono::steady_clock::now();
    }

    void Update(long long done) override {
        if (!enabled_) return;
        int percent = static_cast<int>(100 * done / total_);
        if (percent == lastPercent_) return;
        lastPercent_ = percent;
        constexpr int kWidth = 40;
        int filled = percent * kWidth / 100;
        err_ << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, ' ') << "] "
             << percent << "% of " << total_ / rate_ << " s" << TimeLeft(done) << std::flush;
    }

    void Finish() override {
        if (enabled_ && lastPercent_ >= 0)
            err_ << "\r" << std::string(80, ' ') << "\r" << std::flush;
    }

private:
    // ", 12 s left" at the pace so far; nothing until a percent has passed, as the first
    // blocks include the start-up.
    std::string TimeLeft(long long done) const {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (done <= 0 || done * 100 < total_ || elapsed <= 0) return "    ";
        const double left =
            elapsed * static_cast<double>(total_ - done) / static_cast<double>(done);
        char text[40];
        std::snprintf(text, sizeof text, ", %.0f s left   ", left);
        return text;
    }

    std::ostream& err_;
    bool enabled_;
    long long total_ = 0;
    int rate_ = kFramesPerSecond;  // [frames/s]
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The input of a file run: the recording or the simulator, its rate and its length.
struct BatchInput {
    WavReader Wav;
    SignalSimulator Simulator;
    FrameSource Source;
    int Rate = kFramesPerSecond;  // [frames/s] the input's own
    long long TotalFrames = 0;    // [frames at Rate]
};

// Opens the simulator or the recording `input`; false after one error line. A bad file is
// reported before any output file is touched.
bool OpenInput(const BatchOptions& o, const std::string& input, BatchInput& in, std::ostream& err) {
    if (o.Simulate) {
        StartSimulator(in.Simulator, o.Simulator);
        in.Rate = o.Simulator.DeviceRate;
        in.TotalFrames = SimulatorTotalFrames(o.Simulator);
        long long remaining = in.TotalFrames;
        in.Source = [&simulator = in.Simulator, remaining](Frame* frames, long long count,
                                                           std::string&) mutable {
            long long n = std::min(count, remaining);
            NextSimulatorFrames(simulator, frames, static_cast<size_t>(n));
            remaining -= n;
            return n;
        };
        return true;
    }
    std::string error;
    if (!OpenWavReader(in.Wav, input, error)) {
        err << "quorvelle-batch: " << error << "\n";
        return false;
    }
    if (!in.Wav.Warning.empty()) err << "quorvelle-batch: warning: " << in.Wav.Warning << "\n";
    in.Rate = in.Wav.Rate;
    in.TotalFrames = WavFrameCount(in.Wav);
    in.Source = [&wav = in.Wav](Frame* frames, long long count, std::string& e) {
        return ReadWavFrames(wav, frames, count, e);
    };
    return true;
}

// How a file run ended.
struct FileRunEnd {
    long long Frames = 0;         // [input frames] processed
    int Rate = kFramesPerSecond;  // [frames/s] the input's
    double CpuSeconds = 0;        // of every thread the run used
    double ElapsedSeconds = 0;    // [s] on the clock, when a second thread read ahead; else 0
    int StopSignal = 0;           // what ended the run; later ones change nothing
    bool ReadFailed = false;
};

// A read error's line on `err`; the results of what was read are still written.
void ReadFailed(const std::string& error, FileRunEnd& end, RunProgress& progress,
                std::ostream& err) {
    progress.Finish();
    err << "quorvelle-batch: " << error << "\n";
    end.ReadFailed = true;
}

// The progress bar every 65536 input frames.
void ShowProgress(long long before, long long after, RunProgress& progress) {
    if (before >> 16 != after >> 16) progress.Update(after);
}

// The input through the chain until its end, a stop signal or a read error (said on `err`).
// With `readAhead`, an input that needs converting is read and converted on a second thread
// (ReadAhead) while the chain works: the same results, sooner where a processor is free.
FileRunEnd ProcessInput(Measurement& m, BatchInput& in, bool readAhead, const StopSignals& signals,
                        RunProgress& progress, std::ostream& err) {
    progress.Begin(in.TotalFrames, in.Rate);
    FileRunEnd end;
    end.Rate = in.Rate;
    std::string error;
    const double cpuStart = os::ThreadCpuSeconds();
    if (readAhead && in.Rate != kFramesPerSecond) {
        const auto started = std::chrono::steady_clock::now();
        ReadAhead reader(std::move(in.Source), in.Rate, m.SwapChannels);
        ConvertedBlock b;
        while (signals.Received() == 0 && reader.Next(b)) {
            if (b.Failed) {
                ReadFailed(b.Error, end, progress, err);
                return end;
            }
            // A stop signal ends the run after the block: the converter's last milliseconds,
            // which only the input's end releases, are not waited for.
            const int device = ProcessConvertedBlock(m, b);
            ForgetWrittenIqRecords(m);
            ShowProgress(end.Frames, end.Frames + device, progress);
            end.Frames += device;
            if (b.Last) break;
        }
        end.CpuSeconds = reader.Stop();
        end.ElapsedSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    } else {
        // Read in pieces of 4096 frames (half a second at 8000): one system call per piece
        // rather than per capture block (Windows' file reads cost several times Linux's). The
        // chain takes the input in chunks counted from its first frame, so the piece's size
        // changes no result.
        constexpr long long kReadFrames = 4096;
        std::vector<Frame> block(kReadFrames);
        while (signals.Received() == 0) {
            long long n = in.Source(block.data(), kReadFrames, error);
            if (n < 0) {
                ReadFailed(error, end, progress, err);
                return end;
            }
            if (n == 0) break;
            ProcessDeviceFrames(m, block.data(), static_cast<int>(n));
            ForgetWrittenIqRecords(m);
            ShowProgress(end.Frames, end.Frames + n, progress);
            end.Frames += n;
        }
        // What the converter holds back of the input's last milliseconds, up to its end in time.
        FinishDeviceFrames(m);
    }
    end.CpuSeconds += os::ThreadCpuSeconds() - cpuStart;
    end.StopSignal = signals.Received();
    progress.Finish();
    return end;
}

// The stop signal's line on `err` and, unless --quiet, the pace of a run that wrote all its
// results on `out`.
void PrintFileRunLines(const FileRunEnd& run, bool quiet, bool finished, std::ostream& out,
                       std::ostream& err) {
    const double seconds = static_cast<double>(run.Frames) / run.Rate;
    if (run.StopSignal != 0) {
        char line[120];
        std::snprintf(line, sizeof line, "quorvelle-batch: %s: run ended after %.1f s of input\n",
                      StopSignalName(run.StopSignal), seconds);
        err << line;
    }
    if (quiet || !finished) return;
    char line[160];
    std::snprintf(line, sizeof line,
                  "quorvelle-batch: %.1f s of recording processed in %.2f s of CPU time", seconds,
                  run.CpuSeconds);
    out << line;
    if (run.CpuSeconds > 0) {
        out << " (" << static_cast<long long>(seconds / run.CpuSeconds) << "x real time)";
    }
    if (run.ElapsedSeconds > 0) {
        std::snprintf(line, sizeof line, ", %.2f s elapsed with the input read on a second thread",
                      run.ElapsedSeconds);
        out << line;
    }
    out << "\n";
}

// A run over the recording `input` or the simulator, as fast as the processor allows, with the
// outputs of `chain`: the input, every output (unless `outputsChecked` already), the run and its
// end, stopped by `signals`; with `readAhead` the input is read and converted on a thread of its
// own (a processor to spare).
FileOutcome RunFile(const BatchOptions& o, const ChainSettings& chain, const std::string& input,
                    bool outputsChecked, bool readAhead, const StopSignals& signals,
                    RunProgress& progress, std::ostream& out, std::ostream& err) {
    BatchInput in;
    if (!OpenInput(o, input, in, err)) return {1, 0, ""};

    // Then every output, before it is created: a run that cannot keep its results does not start.
    if (!outputsChecked && !CheckOutputs(chain, "", err)) return {1, 0, ""};
    Measurement m;
    SetDeviceRate(m, in.Rate);  // the reader and the simulator give only rates it takes
    // The chain's frames come at 8000 per second whatever the input's rate: 125 microseconds
    // each, so that the frame index / 8 is exact in milliseconds.
    const auto streamTime = [&m, start = o.StartMilliseconds] {
        return (start + m.FramesProcessed / 8) % kMillisecondsPerDay;
    };
    const RunClock clock{streamTime,
                         [streamTime] { return FormatTimeWithMilliseconds(streamTime()); }};
    RunOutputs outputs(err, o.Chain.Png);
    RunHost host(clock, outputs, err);
    std::unique_ptr<DailyRun> daily;
    if (!chain.DailyDir.empty()) {
        // The stream's date starts on 1970-01-01: its days count from there.
        const auto streamNow = [&m, start = o.StartMilliseconds] {
            return start + m.FramesProcessed / 8;
        };
        daily = std::make_unique<DailyRun>(chain.DailyDir, streamNow, clock, outputs, false,
                                           in.Rate, out, err);
        if (!daily->Open()) return {1, 0, ""};
        outputs.BeforeClose = [&daily] { return daily->Finish(); };
        StartChain(m, *daily, daily->DaySettings(chain), err);
    } else {
        if (!OpenLogAndIq(chain, false, clock, outputs, err)) return {1, 0, ""};
        if (!OpenCsvOutputs(chain, clock, outputs, err, in.Rate)) return {1, 0, ""};
        StartChain(m, host, chain, err);
    }

    const FileRunEnd run = ProcessInput(m, in, readAhead, signals, progress, err);
    if (run.ReadFailed) {
        RunEnd end;
        end.Summary = false;
        EndRun(m, chain, outputs, end, out, err);
        return {1, 0, RunKeyFigure(m)};
    }
    if (!in.Wav.LateWarning.empty()) {
        err << "quorvelle-batch: warning: " << in.Wav.LateWarning << "\n";
    }
    const std::string shortfall =
        ShortfallWarning(m, o.Simulate ? "the simulated recording" : "the recording");
    if (!shortfall.empty()) err << "quorvelle-batch: warning: " << shortfall << "\n";
    RunEnd end;
    end.BeforeSummary = [&](bool finished) {
        PrintFileRunLines(run, chain.Quiet, finished, out, err);
    };
    const bool written = EndRun(m, chain, outputs, end, out, err);
    return {written ? 0 : 1, run.StopSignal, RunKeyFigure(m)};
}

// Every input file's outputs, checked before any runs: false after a usage error line.
bool MapOutputs(const BatchOptions& o, std::vector<ChainSettings>& outputs, std::ostream& err) {
    const bool several = o.Inputs.size() > 1;
    std::string error;
    for (const std::string& input : o.Inputs) {
        outputs.push_back(OutputsForInput(o.Chain, input, several));
        // Two names for one file would destroy a recording or mix two outputs.
        if (!CheckNoFileTwice(outputs.back(), "", input, error)) {
            err << UsageErrorLine("quorvelle-batch", several ? input + ": " + error : error);
            return false;
        }
    }
    if (CheckNoSharedOutputs(o.Inputs, outputs, error)) return true;
    err << UsageErrorLine("quorvelle-batch", error);
    return false;
}

// [processors] the run may use, at least 1.
int Processors() { return os::UsableProcessors(); }

// Several input files, each a run of its own, on threads.
int RunFiles(const BatchOptions& o, std::ostream& out, std::ostream& err) {
    std::vector<ChainSettings> outputs;
    if (!MapOutputs(o, outputs, err)) return 2;
    const int processors = Processors();
    const int jobs = o.Jobs > 0 ? o.Jobs : processors;
    // Each run reads ahead on a thread of its own only while that leaves no run waiting.
    const bool readAhead = 2 * jobs <= processors;
    // Every file's outputs proved writable before any runs, one after the other: the checks make
    // and remove the folders they need, which must not happen beside another file's check or
    // its writing. A file whose outputs fail is not run; the others are.
    std::vector<std::string> failures(outputs.size());
    for (size_t i = 0; i < outputs.size(); ++i) {
        std::ostringstream failure;
        if (!CheckOutputs(outputs[i], "", failure)) failures[i] = failure.str();
    }
    const FileRun run = [&](size_t i, const StopSignals& signals, RunProgress& progress,
                            std::ostream& fileOut, std::ostream& fileErr) {
        if (!failures[i].empty()) {
            fileErr << failures[i];
            return FileOutcome{1, 0, ""};
        }
        return RunFile(o, outputs[i], o.Inputs[i], true, readAhead, signals, progress, fileOut,
                       fileErr);
    };
    return RunFileList(o.Inputs, jobs, o.Chain.Quiet, run, out, err);
}

}  // namespace

int RunBatch(int argc, char** argv, std::ostream& out, std::ostream& err,
             const StartStatusService& startServer) {
    BatchOptions o;
    std::string error;
    ParseResult parsed = ParseOptions(argc, argv, o, error);
    if (parsed == ParseResult::Help) {
        out << Usage() << "\nSimulator options:\n" << SimulatorOptionsHelp();
        return 0;
    }
    if (parsed == ParseResult::Version) {
        out << VersionLine("quorvelle-batch");
        return 0;
    }
    if (parsed == ParseResult::Error) {
        err << UsageErrorLine("quorvelle-batch", error);
        return 2;
    }
    if (o.Capture.Capture || o.Capture.ListDevices) {
        // Two names for one file would destroy a recording or mix two outputs.
        if (!o.Capture.ListDevices &&
            !CheckNoFileTwice(o.Chain, o.Capture.RecordPath, o.Capture.PlayPath, error)) {
            err << UsageErrorLine("quorvelle-batch", error);
            return 2;
        }
        if (o.Capture.Serve && !startServer) {
            err << UsageErrorLine("quorvelle-batch", "--serve is not available in this build");
            return 2;
        }
        o.Chain.Serve = o.Capture.Serve;
        return RunBatchCapture(o.Capture, o.Chain, o.Simulate ? &o.Simulator : nullptr, out, err,
                               startServer);
    }
    if (o.Inputs.size() > 1) return RunFiles(o, out, err);
    std::vector<ChainSettings> outputs;
    if (o.Simulate) {
        if (!CheckNoFileTwice(o.Chain, "", "", error)) {
            err << UsageErrorLine("quorvelle-batch", error);
            return 2;
        }
        outputs.push_back(o.Chain);
    } else if (!MapOutputs(o, outputs, err)) {
        return 2;
    }
    // SIGINT, SIGTERM and SIGHUP stop the reading; what was processed is still written.
    StopSignals signals;
    ProgressBar progress(err, !o.Chain.Quiet);
    const std::string input = o.Simulate ? "" : o.Inputs[0];
    return RunFile(o, outputs[0], input, false, Processors() >= 2, signals, progress, out, err)
        .Status;
}

int RunBatch(int argc, char** argv, std::ostream& out, std::ostream& err) {
    return RunBatch(argc, argv, out, err, {});
}

}  // namespace qv
