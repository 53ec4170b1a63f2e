// quorvelle-batch --capture and --list-devices: device choice, the live run until its end or
// a stop signal, and the close-time work.
#include "tools/batch_capture.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "capture/block_sources.h"
#include "capture/capture_engine.h"
#include "capture/device_list.h"
#include "capture/live_chain.h"
#include "capture/recorder.h"
#include "capture/reopening_source.h"
#include "capture/sound_system.h"
#include "capture/stop_signals.h"
#include "chain/measurement.h"
#include "common/command_line.h"
#include "common/os.h"
#include "common/time_of_day.h"
#include "dsp/rate_converter.h"
#include "files/iq_file.h"
#include "files/wav_file.h"
#include "report/report_run.h"
#include "serve/status_snapshot.h"
#include "tools/batch_daily.h"

namespace qv {

const char* const kCaptureUsage =
    "  --capture              measure the live sound input instead of a recording; times of\n"
    "                         day are the local wall clock\n"
    "  --list-devices         print the numbered input devices and exit\n"
    "  --device N|NAME        the input device by number or (part of its) name (default: the\n"
    "                         first listed)\n"
#ifdef _WIN32
    "  --seconds S            stop after S seconds of capture (default: run until Ctrl-C,\n"
    "                         Ctrl-Break or closing the console, which end the run\n"
    "                         cleanly); give it before --simulate\n"
#else
    "  --seconds S            stop after S seconds of capture (default: run until SIGINT,\n"
    "                         SIGTERM or SIGHUP, which end the run cleanly); give it before\n"
    "                         --simulate\n"
#endif
    "  --record FILE.wav      write every captured frame to FILE.wav while capturing, as\n"
    "                         the card delivered it (also with --swap-channels: measure the\n"
    "                         recording with --swap-channels to repeat the live run)\n"
    "  --give-up S            end the run (status 1) when the device has been gone for S\n"
    "                         seconds; until then it is reopened by name every 2 s, and the\n"
    "                         frames missed count as dropped (default 0: never give up)\n"
    "  --min-free MB          stop --record when less than MB megabytes are free on its\n"
    "                         disk, so the read-outs, I/Q records and CSV rows keep the room\n"
    "                         (default 500; 0: no floor)\n"
    "  --play FILE.wav        capture a recording played at real-time pace instead of a device\n"
    "  --serve [ADDR:]PORT    serve a read-only status page at http://ADDR:PORT/ while\n"
    "                         capturing: the panels, read-outs and state each second, the\n"
    "                         numbers as /status.json, the day's report (/report.png) and\n"
    "                         CSV files (/seconds.csv, /periods.csv). ADDR is 127.0.0.1\n"
    "                         (this machine only) unless given; 0.0.0.0 opens the page to\n"
    "                         the network. PORT 0 picks a free port, said on stderr\n"
    "  --rate N               capture at N frames per second: 8000, 11025, 16000, 22050, 32000,\n"
    "                         44100, 48000, 88200, 96000, 176400 or 192000 (default: 8000\n"
    "                         where the device offers it, else its own default rate); the\n"
    "                         fine PPS timing runs at N, the rest is converted to 8000\n"
    "With --capture, --simulate SECONDS makes the simulator the input, at real-time pace.\n";

namespace {

constexpr double kMaxCaptureSeconds = 1e9;             // [s] beyond any station's uptime
constexpr std::chrono::milliseconds kSignalPoll{100};  // longest wait before a signal is seen
constexpr std::chrono::seconds kOncePerSecond{1};      // between looks at the disk and the clock
constexpr int64_t kMegabyte = 1000000;                 // [bytes]

// ---------------------------------------------------------------------------------------------
// Devices

void PrintWarning(std::ostream& err, const std::string& caption, const std::string& text) {
    err << "quorvelle-batch: " << caption << ": " << text << "\n";
}

std::string DescribeEntry(const DeviceEntry& entry) {
    if (entry.Kind != EntryKind::SoundCard) return "\"" + entry.Name + "\"";
    return "device " + std::to_string(entry.DeviceNumber) + " \"" + entry.Name + "\"";
}

int ListDevices(SoundSystem& system, std::ostream& out, std::ostream& err) {
    DeviceList list;
    ListInputDevices(
        list, system, ExtraSources{},
        [&err](const std::string& c, const std::string& t) { PrintWarning(err, c, t); });
    if (!list.EnumerationError.empty()) err << "quorvelle-batch: " << list.EnumerationError << "\n";
    out << "Input devices:" << (list.Entries.empty() ? " none\n" : "\n");
    for (const DeviceEntry& entry : list.Entries) out << DeviceListingLine(entry) << "\n";
    return 0;
}

// The source the options ask for and its description; false with one line in `error`.
bool ChooseSource(const CaptureOptions& o, const SimulatorSettings* simulator, SoundSystem& system,
                  const std::shared_ptr<DeviceOutage>& outage, std::ostream& err,
                  std::unique_ptr<BlockSource>& source, std::string& description,
                  std::string& error) {
    if (simulator != nullptr) {
        SimulatorSettings settings = *simulator;
        if (o.Rate > 0) settings.DeviceRate = o.Rate;
        source = std::make_unique<SimulatorSource>(settings, SimulatorTotalFrames(settings));
        description = std::string("\"") + kSimulatorEntryName + "\"";
        return true;
    }
    if (!o.PlayPath.empty()) {
        // Checked here so that a bad file is its own clear line, not a device failure.
        WavReader check;
        if (!OpenWavReader(check, o.PlayPath, error)) return false;
        if (!check.Warning.empty()) err << "quorvelle-batch: warning: " << check.Warning << "\n";
        source = std::make_unique<WavPlaybackSource>(o.PlayPath);
        description = "\"" + PlaybackEntryName(o.PlayPath) + "\"";
        return true;
    }
    // With --device the warning about an empty list would be a second line for one fault.
    DeviceList list;
    ListInputDevices(list, system, ExtraSources{},
                     [&](const std::string& caption, const std::string& text) {
                         if (o.Device.empty()) PrintWarning(err, caption, text);
                     });
    if (!o.Device.empty()) {
        int index = -1;
        if (list.Entries.empty()) {
            error = "--device " + o.Device + ": " + kNoInputDevicesText;
        } else if (FindDevice(list, o.Device, index, error)) {
            list.Selected = index;
        }
        if (index < 0) {
            if (!list.EnumerationError.empty()) error += " (" + list.EnumerationError + ")";
            return false;
        }
    }
    const DeviceEntry* entry = SelectedEntry(list);
    description = entry != nullptr ? DescribeEntry(*entry) : "the default input";
    auto reopen = [&system, name = entry != nullptr ? entry->Name : std::string()](
                      int framesPerSecond, std::string& why) -> std::unique_ptr<BlockSource> {
        if (name.empty()) return system.CreateInput(-1, framesPerSecond);
        // A card plugged in again may have another number: it is found by its name.
        system.ForgetDevices();
        DeviceList now;
        ListInputDevices(now, system, ExtraSources{},
                         [](const std::string&, const std::string&) {});
        for (const DeviceEntry& e : now.Entries) {
            if (e.Kind == EntryKind::SoundCard && e.Name == name)
                return system.CreateInput(e.DeviceNumber, framesPerSecond);
        }
        why = "\"" + name + "\" is not among the input devices";
        return nullptr;
    };
    auto reopening = std::make_unique<ReopeningSource>(
        system.CreateInput(SelectedDeviceNumber(list), o.Rate), reopen, outage);
    reopening->GiveUpSeconds = o.GiveUp;
    source = std::move(reopening);
    return true;
}

// ---------------------------------------------------------------------------------------------
// The live run

// The live clock: the local time of day for the log and the captures' names, as in the window;
// the date and time in UTC in the CSV rows, as a station's files span days and time zones.
const RunClock kWallClock{LocalMillisecondsOfDay,
                          [] { return FormatIsoUtc(UnixMillisecondsNow()); }};

// The source chosen and its capture started, after the outputs have been checked without
// changing them; false after one error line. `description` names the source.
bool StartLiveSource(const CaptureOptions& o, const ChainSettings& chain,
                     const SimulatorSettings* simulator, SoundSystem& system,
                     const std::shared_ptr<DeviceOutage>& outage, CaptureEngine& engine,
                     BlockQueue& queue, std::string& description, std::ostream& err) {
    std::unique_ptr<BlockSource> source;
    std::string error;
    if (!ChooseSource(o, simulator, system, outage, err, source, description, error)) {
        err << "quorvelle-batch: " << error << "\n";
        return false;
    }
    // The outputs are checked, without changing them, before the device is opened; the device
    // is opened before any output is created: one that cannot be opened leaves them as they
    // were. Creating the outputs afterwards loses nothing; the blocks hold 2 s.
    if (!CheckOutputs(chain, o.RecordPath, err)) return false;
    // The first time of day can be slow: under Wine it starts the desktop process (for the
    // time zone's names). Asked here, before the blocks flow, it cannot hold up their handling.
    LocalMillisecondsOfDay();
    std::string message;
    if (StartCapture(engine, std::move(source), queue, message)) return true;
    err << "quorvelle-batch: " << message;
    if (!engine.ErrorDetail.empty()) err << " (" << engine.ErrorDetail << ")";
    err << "\n";
    return false;
}

// The log (line by line, so that a station's log can be followed while it grows), the I/Q
// file, the recording (at the device's rate) and the CSV files, in that order; false after one
// error line.
// With `daily`, its first day's log, I/Q and CSV files, then the recording.
bool OpenLiveOutputs(const CaptureOptions& o, const ChainSettings& chain, int framesPerSecond,
                     RunOutputs& outputs, Recorder& recorder, DailyRun* daily, std::ostream& err) {
    if (daily != nullptr ? !daily->Open() : !OpenLogAndIq(chain, true, kWallClock, outputs, err)) {
        return false;
    }
    std::string error;
    if (!o.RecordPath.empty() && !recorder.Open(o.RecordPath, framesPerSecond, error)) {
        err << "quorvelle-batch: " << error << "\n";
        return false;
    }
    return daily != nullptr || OpenCsvOutputs(chain, kWallClock, outputs, err, framesPerSecond);
}

// How a live run ended.
struct LiveRunEnd {
    bool SourceStopped = false;     // the source ended (or failed) by itself
    int StopSignal = 0;             // what ended the run; later ones change nothing
    bool RecordingStopped = false;  // the recording was closed early: its disk was short of room
};

// [bytes] free for this program on the disk that holds `path`'s folder; -1 when unknown.
int64_t FreeBytesFor(const std::string& path) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::absolute(path, error).parent_path();
    const std::filesystem::space_info space = std::filesystem::space(folder, error);
    return error ? -1 : static_cast<int64_t>(space.available);
}

// The recording, some megabytes a minute, stops while its disk has less than the floor free,
// so that the I/Q records and CSV rows, a few bytes a second, keep the room that is left.
// True when it has just been stopped; the recording so far stays a whole WAV file.
bool StopRecordingOnFullDisk(const CaptureOptions& o, Recorder& recorder, LiveChain& consumer) {
    const int floor = o.MinFree < 0 ? kDefaultMinFreeMegabytes : o.MinFree;
    if (floor == 0 || !recorder.IsOpen()) return false;
    const int64_t free = FreeBytesFor(o.RecordPath);
    if (free < 0 || free >= floor * kMegabyte) return false;
    std::string error;
    recorder.Close(error);
    consumer.Report("the recording " + o.RecordPath + " stops: " +
                    std::to_string(free / kMegabyte) + " MB free on its disk, below --min-free " +
                    std::to_string(floor) + " MB; the read-outs, I/Q records and CSV rows go on" +
                    (error.empty() ? "" : " (" + error + ")"));
    return true;
}

// The captured blocks through the chain until --seconds, a stop signal or the source's end; on
// a terminal, one line of the live state, rewritten once a second. The capture is ended.
LiveRunEnd RunLive(const CaptureOptions& o, Measurement& m, CaptureEngine& engine,
                   BlockQueue& queue, LiveChain& consumer, Recorder& recorder,
                   const DeviceOutage& outage, const std::string& retrying,
                   const StopSignals& signals, bool quiet, std::ostream& err) {
    LiveRunEnd end;
    const bool statusLine = !quiet && os::StderrIsTerminal();
    int64_t secondsShown = 0;
    int64_t lossesShown = 0;
    auto nextSecond = std::chrono::steady_clock::now();
    ClockStepWatch clockWatch;
    while (signals.Received() == 0 && !consumer.Done()) {
        if (std::chrono::steady_clock::now() >= nextSecond) {
            nextSecond = std::chrono::steady_clock::now() + kOncePerSecond;
            if (StopRecordingOnFullDisk(o, recorder, consumer)) end.RecordingStopped = true;
            ForgetWrittenIqRecords(m);
            const int64_t step = LookForClockStep(clockWatch, UnixMillisecondsNow(),
                                                  ElapsedClockNanoseconds() / 1000000);
            if (step != 0) consumer.Report(DescribeClockStep(step));
        }
        // A device gone is said once, when it goes; its return is said with the next block.
        std::string reason;
        const int64_t losses = outage.Losses(reason);
        if (losses != lossesShown) {
            lossesShown = losses;
            if (statusLine && secondsShown > 0) err << "\r\x1b[K";
            consumer.Report("the device stopped delivering (" + reason + "); " + retrying);
        }
        CaptureBlock* block = nullptr;
        const BlockQueue::Wait wait = queue.Next(block, kSignalPoll);
        if (wait == BlockQueue::Wait::Block) HandleCaptureBlock(engine, block, consumer);
        if (wait == BlockQueue::Wait::Stopped) {
            end.SourceStopped = true;
            break;
        }
        if (statusLine && m.SecondsEnded != secondsShown) {
            secondsShown = m.SecondsEnded;
            err << "\r" << LiveStatusLine(m, m.Now()) << "  " << m.InputRate << " Hz"
                << "\x1b[K" << std::flush;
        }
    }
    if (statusLine && secondsShown > 0) err << "\r\x1b[K" << std::flush;
    end.StopSignal = signals.Received();
    EndCapture(engine);
    return end;
}

// The live run's close-time work: a failed source, the gaps, the shortfall and the capture's
// CAPTURE line, the recording closed; then the end of every run with the capture's own lines.
// Returns the exit status.
int EndLive(const CaptureOptions& o, const ChainSettings& chain, const LiveRunEnd& run,
            const std::string& description, Measurement& m, CaptureEngine& engine,
            LiveChain& consumer, Recorder& recorder, RunOutputs& outputs, std::ostream& out,
            std::ostream& err) {
    int status = 0;
    const CaptureStatistics stats = ReadCaptureStatistics(engine);
    // What the chain holds back at a rate other than 8000 goes through it, as at a file's end,
    // so that the recording run through the batch tool gives the same numbers.
    consumer.Finish();
    if (run.SourceStopped && CaptureSourceEnd(engine) == SourceEnd::Failed) {
        err << "quorvelle-batch: capture stopped: " << CaptureStopReason(engine) << "\n";
        status = 1;
    }
    consumer.ReportGapsAtEnd(stats);
    const std::string shortfall = ShortfallWarning(m, "the capture");
    if (!shortfall.empty()) consumer.Report("warning: " + shortfall);
    const std::string summary = CaptureEndedSummary(consumer.FramesProcessed(), stats);
    outputs.Log.WriteNow("CAPTURE", summary);

    bool recorded = recorder.IsOpen();
    std::string error;
    if (recorder.IsOpen() && !recorder.Close(error)) {
        if (error != consumer.RecordingProblem()) err << "quorvelle-batch: " << error << "\n";
        status = 1;
        recorded = false;
    }
    RunEnd end;
    end.BeforeSummary = [&](bool) {
        if (chain.Quiet) return;
        char line[200];
        const double cpuShare =
            stats.CaptureSeconds > 0 ? 100 * stats.AudioThreadCpuSeconds / stats.CaptureSeconds : 0;
        std::snprintf(line, sizeof line, "%.1f s captured, audio thread CPU %.2f %%",
                      static_cast<double>(consumer.FramesProcessed()) / consumer.FramesPerSecond(),
                      cpuShare);
        out << "quorvelle-batch: " << summary << " from " << description << "; " << line << "\n";
    };
    end.AfterSummary = [&] {
        if (run.StopSignal != 0)
            err << "quorvelle-batch: " << StopSignalName(run.StopSignal) << ": capture ended\n";
        if (recorded) out << "recording: " << o.RecordPath << "\n";
        if (run.RecordingStopped)
            out << "recording: " << o.RecordPath
                << " (stopped early: its disk was short of room)\n";
    };
    if (!EndRun(m, chain, outputs, end, out, err)) status = 1;
    return status;
}

}  // namespace

int ParseCaptureOption(int argc, char** argv, int& i, CaptureOptions& o, std::string& error) {
    const std::string arg = argv[i];
    auto value = [&](std::string& target) {
        return TakeOptionValue(argc, argv, i, target, error, false);
    };
    if (arg == "--capture") return o.Capture = true, 1;
    if (arg == "--list-devices") return o.ListDevices = true, 1;
    if (arg == "--device") return value(o.Device) ? 1 : -1;
    if (arg == "--record") return value(o.RecordPath) ? 1 : -1;
    if (arg == "--play") return value(o.PlayPath) ? 1 : -1;
    if (arg == "--serve") {
        std::string text;
        if (!value(text)) return -1;
        if (!ParseServeAddress(text, o.ServeAt, error)) return -1;
        o.Serve = true;
        return 1;
    }
    if (arg == "--rate") {
        std::string text;
        if (!value(text)) return -1;
        if (!ParseWholeNumber(text, 1, 1000000, o.Rate) || !IsInputRate(o.Rate)) {
            error = "--rate: \"" + text + "\" is not a rate measured: give " + InputRatesText();
            return -1;
        }
        return 1;
    }
    if (arg == "--give-up") {
        std::string text;
        if (!value(text)) return -1;
        if (text != "0" && !ParseSeconds(text, kMaxCaptureSeconds, o.GiveUp)) {
            error = "--give-up: \"" + text + "\" is not a number of seconds from 0 (never) to " +
                    std::to_string(static_cast<long long>(kMaxCaptureSeconds));
            return -1;
        }
        if (text == "0") o.GiveUp = 0;
        return 1;
    }
    if (arg == "--min-free") {
        std::string text;
        if (!value(text)) return -1;
        if (!ParseWholeNumber(text, 0, 100000000, o.MinFree)) {
            error = "--min-free: \"" + text + "\" is not a number of megabytes from 0 to 100000000";
            return -1;
        }
        return 1;
    }
    if (arg == "--seconds") {
        std::string text;
        if (!value(text)) return -1;
        if (!ParseSeconds(text, kMaxCaptureSeconds, o.Seconds)) {
            error = "--seconds: \"" + text + "\" is not a number of seconds above 0 and at most " +
                    std::to_string(static_cast<long long>(kMaxCaptureSeconds));
            return -1;
        }
        return 1;
    }
    return 0;
}

bool CheckCaptureOptions(const CaptureOptions& o, bool haveInputFile, bool simulate,
                         std::string& error) {
    if (o.ListDevices) return true;
    if (!o.Capture) {
        const char* needsCapture = !o.Device.empty()       ? "--device"
                                   : o.Seconds > 0         ? "--seconds"
                                   : !o.RecordPath.empty() ? "--record"
                                   : !o.PlayPath.empty()   ? "--play"
                                   : o.Rate > 0            ? "--rate"
                                   : o.GiveUp > 0          ? "--give-up"
                                   : o.MinFree >= 0        ? "--min-free"
                                   : o.Serve               ? "--serve"
                                                           : nullptr;
        if (needsCapture == nullptr) return true;
        error = std::string(needsCapture) + " needs --capture";
        return false;
    }
    if (haveInputFile) {
        error = "give either an input file or --capture, not both";
        return false;
    }
    if ((!o.Device.empty()) + (!o.PlayPath.empty()) + simulate > 1) {
        error = "give one input for --capture: --device, --play or --simulate";
        return false;
    }
    if (o.Rate > 0 && !o.PlayPath.empty()) {
        error = "--rate does not apply to --play: a recording plays at its own rate";
        return false;
    }
    return true;
}

int RunBatchCapture(const CaptureOptions& o, const ChainSettings& chain,
                    const SimulatorSettings* simulator, std::ostream& out, std::ostream& err,
                    const StartStatusService& startServer) {
    // From here on SIGINT, SIGTERM and SIGHUP only end the run: its close-time work is done
    // whatever arrives, and the status is that work's.
    StopSignals signals;
    BlockQueue queue;  // outlives the engine, which may still post to it until it ends
    CaptureEngine engine;
    SoundSystem system(engine.Audio);  // ends before the engine's audio thread
    if (o.ListDevices) return ListDevices(system, out, err);

    // The status page listens before the capture starts: an address it cannot have ends the run
    // before anything is touched. It stops before the chain's state goes.
    StatusExchange exchange;
    StatusPages pages(exchange, ReportPng);
    std::unique_ptr<StatusService> server;
    if (o.Serve) {
        std::string error;
        server = startServer(o.ServeAt, pages, error);
        if (!server) {
            err << "quorvelle-batch: " << error << "\n";
            return 1;
        }
        err << "quorvelle-batch: status page: " << ServeUrl(o.ServeAt, server->Port()) << "\n"
            << std::flush;
    }

    std::string description;
    const auto outage = std::make_shared<DeviceOutage>();
    if (!StartLiveSource(o, chain, simulator, system, outage, engine, queue, description, err))
        return 1;
    const int rate = CaptureFramesPerSecond(engine);
    RunOutputs outputs(err, chain.Png);
    Recorder recorder;
    // --daily: the days are the UTC dates, as the CSV rows' times.
    std::unique_ptr<DailyRun> daily;
    if (!chain.DailyDir.empty()) {
        daily = std::make_unique<DailyRun>(chain.DailyDir, UnixMillisecondsNow, kWallClock, outputs,
                                           true, rate, out, err);
        outputs.BeforeClose = [&daily] { return daily->Finish(); };
    }
    if (!OpenLiveOutputs(o, chain, rate, outputs, recorder, daily.get(), err)) return 1;
    Measurement m;
    RunHost host(kWallClock, outputs, err);
    ChainHost& runHost = daily ? static_cast<ChainHost&>(*daily) : host;
    StatusHost statusHost(runHost, exchange, [&chain, &daily] {
        const ChainSettings s = daily ? daily->DaySettings(chain) : chain;
        return std::make_pair(s.CsvPath, s.IqCsvPath);
    });
    StartChain(m, o.Serve ? static_cast<ChainHost&>(statusHost) : runHost,
               daily ? daily->DaySettings(chain) : chain, err);
    if (o.Serve) statusHost.Publish(m);
    LiveChain consumer(m, outputs.Log, err, "quorvelle-batch");
    consumer.Recording = &recorder;
    consumer.IqRecordCount = [&outputs] { return outputs.Iq.Appended(); };
    std::string error;
    if (!consumer.Begin(rate, error)) {
        err << "quorvelle-batch: " << error << "\n";
        return 1;
    }
    if (!chain.Quiet) {
        err << "quorvelle-batch: capturing from " << description;
        if (rate != kFramesPerSecond) {
            err << " at " << DescribeRate(rate) << ", converted to " << kFramesPerSecond
                << " for the classic chain";
        }
        if (chain.SwapChannels) err << "; PPS taken from the left channel (--swap-channels)";
        if (o.Seconds <= 0) err << "; " << StopSignalsHint() << " ends the run";
        err << "\n" << std::flush;
    }

    // --seconds counts the device's own seconds.
    consumer.FrameLimit = o.Seconds > 0 ? std::llround(o.Seconds * rate) : -1;
    std::string retrying = "reopening " + description + " by name every 2 s";
    if (o.GiveUp > 0) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", o.GiveUp);
        retrying += ", for " + std::string(seconds) + " s at most (--give-up)";
    }
    const LiveRunEnd run = RunLive(o, m, engine, queue, consumer, recorder, *outage, retrying,
                                   signals, chain.Quiet, err);
    return EndLive(o, chain, run, description, m, engine, consumer, recorder, outputs, out, err);
}

}  // namespace qv
