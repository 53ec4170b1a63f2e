// quorvelle-sim: option parsing and the simulate-and-write loop.
#include "tools/sim_tool.h"

#include <algorithm>
#include <string>
#include <vector>

#include "capture/signal_simulator.h"
#include "capture/simulator_options.h"
#include "common/command_line.h"
#include "files/wav_file.h"

namespace qv {

namespace {

constexpr long long kWriteBlockFrames = 8192;  // [frames] simulated and written at a time

constexpr const char* kUsage =
    "Usage: quorvelle-sim [OPTIONS] OUT.wav\n"
    "\n"
    "Writes a simulated recording as a stereo 16-bit WAV file at 8000 frames per second, or\n"
    "at the card's own rate --rate gives: the radio receiver's audio (carrier, once-per-second\n"
    "click, noise) on the left channel and the GPS receiver's pulse-per-second on the right,\n"
    "as a sound card with the given clock error would record them.\n"
    "\n"
    "  --help                 this text\n"
    "  --version              the program's version\n";

// Parses the command line; -1 to go on, else the exit status (with what to print done).
int ParseOptions(int argc, char** argv, SimulatorSettings& settings, std::string& outputPath,
                 std::ostream& out, std::ostream& err) {
    std::string error;
    bool optionsEnded = false;
    for (int i = 1; i < argc && error.empty();) {
        const std::string arg = argv[i];
        if (EndsOptions(arg, optionsEnded)) {
            ++i;
            continue;
        }
        if (!optionsEnded) {
            if (arg == "--help" || arg == "-h") {
                out << kUsage << SimulatorOptionsHelp();
                return 0;
            }
            if (arg == "--version") {
                out << VersionLine("quorvelle-sim");
                return 0;
            }
            const int parsed = ParseSimulatorOption(argc, argv, i, settings, error);
            if (parsed != 0) continue;  // consumed, or `error` is set
            if (arg.size() > 1 && arg[0] == '-') {
                error = "unknown option " + arg;
                break;
            }
        }
        if (!outputPath.empty()) {
            error = "more than one output file (" + outputPath + ", " + arg + ")";
            break;
        }
        outputPath = arg;
        ++i;
    }
    if (error.empty() && outputPath.empty()) error = "no output file: give OUT.wav";
    if (error.empty()) CheckSimulatorCard(settings, false, error);
    if (error.empty()) return -1;
    err << UsageErrorLine("quorvelle-sim", error);
    return 2;
}

// The simulated recording written to `outputPath` block by block; the exit status.
int WriteRecording(const SimulatorSettings& settings, const std::string& outputPath,
                   std::ostream& out, std::ostream& err) {
    std::string error;
    WavWriter writer;
    if (!OpenWavWriter(writer, outputPath, settings.DeviceRate, error)) {
        err << "quorvelle-sim: " << error << "\n";
        return 1;
    }
    SignalSimulator simulator;
    StartSimulator(simulator, settings);
    const long long total = SimulatorTotalFrames(settings);
    std::vector<Frame> block(kWriteBlockFrames);
    for (long long done = 0; done < total;) {
        const long long count = std::min(kWriteBlockFrames, total - done);
        NextSimulatorFrames(simulator, block.data(), static_cast<size_t>(count));
        if (!WriteWavFrames(writer, block.data(), count, error)) {
            err << "quorvelle-sim: " << error << "\n";
            return 1;
        }
        done += count;
    }
    if (!CloseWavWriter(writer, error)) {
        err << "quorvelle-sim: " << error << "\n";
        return 1;
    }
    out << outputPath << ": " << total << " frames";
    if (settings.DeviceRate != kFramesPerSecond)
        out << " at " << settings.DeviceRate << " per second";
    out << " (" << settings.Seconds << " GPS s at " << settings.Ppm << " ppm)\n";
    return 0;
}

}  // namespace

int RunSimTool(int argc, char** argv, std::ostream& out, std::ostream& err) {
    SimulatorSettings settings;
    std::string outputPath;
    const int parsed = ParseOptions(argc, argv, settings, outputPath, out, err);
    if (parsed >= 0) return parsed;
    return WriteRecording(settings, outputPath, out, err);
}

}  // namespace qv
