// quorvelle-batch --capture and --list-devices: device choice, the live run until its end or
// a stop signal, and the close-time work.
#include "tools/batch_capture.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "capture/block_sources.h"
#include "capture/capture_engine.h"
#include "capture/device_list.h"
#include "capture/live_chain.h"
#include "capture/recorder.h"
#include "capture/sound_system.h"
#include "capture/stop_signals.h"
#include "chain/measurement.h"
#include "common/command_line.h"
#include "common/time_of_day.h"
#include "files/capture_bitmap.h"
#include "files/wav_file.h"
#include "tools/terminal.h"

namespace qv {

const char* const kCaptureUsage =
    "  --capture              measure the live sound input instead of a recording; times of\n"
    "                         day are the local wall clock\n"
    "  --list-devices         print the numbered input devices and exit\n"
    "  --device N|NAME        the input device by number or (part of its) name (default: the\n"
    "                         first listed)\n"
    "  --seconds S            stop after S seconds of capture (default: run until SIGINT,\n"
    "                         SIGTERM or SIGHUP, which end the run cleanly); give it before\n"
    "                         --simulate\n"
    "  --record FILE.wav      write every captured frame to FILE.wav while capturing\n"
    "  --play FILE.wav        capture a recording played at real-time pace instead of a device\n"
    "With --capture, --simulate SECONDS makes the simulator the input, at real-time pace.\n";

namespace {

constexpr double kMaxCaptureSeconds = 1e9;             // [s] beyond any station's uptime
constexpr std::chrono::milliseconds kSignalPoll{100};  // longest wait before a signal is seen

// ---------------------------------------------------------------------------------------------
// The chain's host

// Read-outs to the log, the I/Q file and the automatic captures, on the local wall clock as in
// the window. A failure of the I/Q file or of a capture is a CAPTURE line in the log.
class LiveHost final : public ChainHost {
public:
    LiveHost(ReadoutLog& log, IqOutput& iq, CsvOutputs& csv, ChartPictures& pictures,
             std::ostream& err)
        : log_(log), iq_(iq), csv_(csv), pictures_(pictures), err_(err) {}

    void SetReadout(Readout id, const std::string& text) override {
        log_.WriteNow(ReadoutName(id), text);
    }
    int64_t MillisecondsOfDay() override { return LocalMillisecondsOfDay(); }
    void ChartCaptured(const Surface& capture, int64_t millisecondsOfDay) override {
        if (!pictures_.WriteNew(capture, CaptureBitmapName(millisecondsOfDay))) {
            log_.WriteNow("CAPTURE", "chart not saved: " + pictures_.LastError());
        }
    }
    void IqRecordAdded(const std::string&, const std::string& record) override {
        if (!iq_.Append(record)) log_.WriteNow("CAPTURE", iq_.LogText());
    }
    void Warn(const std::string& text) override {
        err_ << "quorvelle-batch: warning: " << text << "\n" << std::flush;
    }
    // Live rows carry the date and time in UTC: a station's files span days and time zones.
    void SecondEnded(const Measurement& m, const SecondValues& values) override {
        csv_.WriteSecond(FormatIsoUtc(UnixMillisecondsNow()), m, values);
        const std::string slip = SampleSlipText(values.Fine);
        if (!slip.empty()) log_.WriteNow("CAPTURE", slip);
    }
    void PeriodClosed(const PeriodValues& values) override {
        csv_.WritePeriod(FormatIsoUtc(UnixMillisecondsNow()), values);
    }
    void StatusChanged(const SignalStatus& status) override {
        log_.WriteNow("STATUS", StatusLogText(status));
    }

private:
    ReadoutLog& log_;
    IqOutput& iq_;
    CsvOutputs& csv_;
    ChartPictures& pictures_;
    std::ostream& err_;
};

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
    for (const DeviceEntry& entry : list.Entries) {
        char number[16];
        std::snprintf(number, sizeof number, "%4d  ", entry.DeviceNumber);
        out << number << entry.Name << "\n";
    }
    return 0;
}

// The source the options ask for and its description; false with one line in `error`.
bool ChooseSource(const CaptureOptions& o, const SimulatorSettings* simulator, SoundSystem& system,
                  std::ostream& err, std::unique_ptr<BlockSource>& source, std::string& description,
                  std::string& error) {
    if (simulator != nullptr) {
        source = std::make_unique<SimulatorSource>(*simulator, SimulatorTotalFrames(*simulator));
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
    source = system.CreateInput(SelectedDeviceNumber(list));
    return true;
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
    return true;
}

int RunBatchCapture(const CaptureOptions& o, const ChainSettings& chain,
                    const SimulatorSettings* simulator, std::ostream& out, std::ostream& err) {
    // From here on SIGINT, SIGTERM and SIGHUP only end the run: its close-time work is done
    // whatever arrives, and the status is that work's.
    StopSignals signals;
    BlockQueue queue;  // outlives the engine, which may still post to it until it ends
    CaptureEngine engine;
    SoundSystem system(engine.Audio);  // ends before the engine's audio thread
    if (o.ListDevices) return ListDevices(system, out, err);

    std::unique_ptr<BlockSource> source;
    std::string description, error;
    if (!ChooseSource(o, simulator, system, err, source, description, error)) {
        err << "quorvelle-batch: " << error << "\n";
        return 1;
    }

    // The outputs are checked, without changing them, before the device is opened; the device
    // is opened before any output is created: one that cannot be opened leaves them as they
    // were. Creating the outputs afterwards loses nothing; the blocks hold 2 s.
    if (!CheckOutputs(chain, o.RecordPath, err)) return 1;
    // The first time of day can be slow: under Wine it starts the desktop process (for the
    // time zone's names). Asked here, before the blocks flow, it cannot hold up their handling.
    LocalMillisecondsOfDay();
    std::string message;
    if (!StartCapture(engine, std::move(source), queue, message)) {
        err << "quorvelle-batch: " << message;
        if (!engine.ErrorDetail.empty()) err << " (" << engine.ErrorDetail << ")";
        err << "\n";
        return 1;
    }

    ReadoutLog log;
    // Line by line, so that a station's log can be followed while it grows.
    if (!OpenReadoutLog(chain, true, log, err)) return 1;
    IqOutput iq(err);
    if (!chain.IqPath.empty() && !iq.Create(chain.IqPath)) log.WriteNow("CAPTURE", iq.LogText());
    Recorder recorder;
    if (!o.RecordPath.empty() && !recorder.Open(o.RecordPath, error)) {
        err << "quorvelle-batch: " << error << "\n";
        return 1;
    }

    CsvOutputs csv;
    const auto logLine = [&log](const std::string& text) { log.WriteNow("CAPTURE", text); };
    if (!OpenCsvOutputs(chain, csv, logLine, err)) return 1;

    Measurement m;
    ChartPictures pictures(err, chain.Png);
    LiveHost host(log, iq, csv, pictures, err);
    StartChain(m, host, chain, err);

    if (!chain.Quiet) {
        err << "quorvelle-batch: capturing from " << description;
        if (o.Seconds <= 0) err << "; " << StopSignalsHint() << " ends the run";
        err << "\n" << std::flush;
    }

    const int64_t frameLimit = o.Seconds > 0 ? std::llround(o.Seconds * kFramesPerSecond) : -1;
    LiveChain consumer(m, log, err, "quorvelle-batch");
    consumer.Recording = &recorder;
    consumer.FrameLimit = frameLimit;
    bool sourceStopped = false;
    // On a terminal, one line of the live state, rewritten once a second.
    const bool statusLine = !chain.Quiet && StderrIsTerminal();
    int64_t secondsShown = 0;
    while (signals.Received() == 0 && !consumer.Done()) {
        CaptureBlock* block = nullptr;
        const BlockQueue::Wait wait = queue.Next(block, kSignalPoll);
        if (wait == BlockQueue::Wait::Block) HandleCaptureBlock(engine, block, consumer);
        if (wait == BlockQueue::Wait::Stopped) {
            sourceStopped = true;
            break;
        }
        if (statusLine && m.SecondsEnded != secondsShown) {
            secondsShown = m.SecondsEnded;
            err << "\r" << LiveStatusLine(m, m.Now()) << "\x1b[K" << std::flush;
        }
    }
    if (statusLine && secondsShown > 0) err << "\r\x1b[K" << std::flush;
    const int stopSignal = signals.Received();  // what ended the run; later ones change nothing
    EndCapture(engine);

    // Close-time work.
    int status = 0;
    const CaptureStatistics stats = ReadCaptureStatistics(engine);
    if (sourceStopped && CaptureSourceEnd(engine) == SourceEnd::Failed) {
        err << "quorvelle-batch: capture stopped: " << CaptureStopReason(engine) << "\n";
        status = 1;
    }
    consumer.ReportGapsAtEnd(stats);
    const std::string shortfall = ShortfallWarning(m, "the capture");
    if (!shortfall.empty()) consumer.Report("warning: " + shortfall);
    const std::string summary = CaptureEndedSummary(consumer.FramesProcessed(), stats);
    log.WriteNow("CAPTURE", summary);

    bool recorded = recorder.IsOpen();
    if (recorder.IsOpen() && !recorder.Close(error)) {
        if (error != consumer.RecordingProblem()) err << "quorvelle-batch: " << error << "\n";
        status = 1;
        recorded = false;
    }
    bool logWritten = false;
    if (!FinishChain(m, chain, pictures, iq, csv, log, logWritten, err)) status = 1;

    if (!chain.Quiet) {
        char line[200];
        const double cpuShare =
            stats.CaptureSeconds > 0 ? 100 * stats.AudioThreadCpuSeconds / stats.CaptureSeconds : 0;
        std::snprintf(line, sizeof line, "%.1f s captured, audio thread CPU %.2f %%",
                      static_cast<double>(consumer.FramesProcessed()) / kFramesPerSecond, cpuShare);
        out << "quorvelle-batch: " << summary << " from " << description << "; " << line << "\n";
    }
    if (!chain.Quiet) PrintRunSummary(m, iq, out);
    if (stopSignal != 0)
        err << "quorvelle-batch: " << StopSignalName(stopSignal) << ": capture ended\n";
    if (recorded) out << "recording: " << o.RecordPath << "\n";
    ListWrittenFiles(chain, pictures, iq, csv, logWritten, out);
    return status;
}

}  // namespace qv
