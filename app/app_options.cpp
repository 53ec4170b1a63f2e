// The window program's command line.
#include "app/app_options.h"

#include "capture/simulator_options.h"
#include "common/command_line.h"
#include "dsp/rate_converter.h"

namespace qv {

namespace {

constexpr int kLargestScale = 8;  // --scale: 8 times 785 pixels is wider than any screen

#ifdef _WIN32
constexpr const char* kDefaultFolderHelp = "Documents\\GPS QuorVelle";
#else
constexpr const char* kDefaultFolderHelp = "the current directory";
#endif

// A preset of the window's controls at argv[i], as the batch tool spells it: 1 when taken (i on
// its last argument), 0 when argv[i] is none, -1 with one line in `error`. After --simulate,
// --lock-freq is the simulator's (the simulated click's frequency) and --swap-channels the
// simulator's wiring, as in the batch tool.
int ParsePresetOption(int argc, char** argv, int& i, const bool simulate, WindowPresets& p,
                      std::string& error) {
    const std::string arg = argv[i];
    auto text = [&](std::string& target, bool& given) {
        given = true;
        return TakeOptionValue(argc, argv, i, target, error) ? 1 : -1;
    };
    if (arg == "--lock-freq" && !simulate) return text(p.LockFreqText, p.LockFreqGiven);
    if (arg == "--offset") return text(p.OffsetText, p.OffsetGiven);
    if (arg == "--integration") return text(p.IntegrationText, p.IntegrationGiven);
    if (arg == "--click-position") {
        std::string number;
        if (!TakeOptionValue(argc, argv, i, number, error)) return -1;
        if (!ParseWholeNumber(number, 0, kLastSampleOfSecond, p.ClickPosition)) {
            error = "--click-position: \"" + number + "\" is not a whole number from 0 to " +
                    std::to_string(kLastSampleOfSecond);
            return -1;
        }
        return 1;
    }
    if (arg == "--device") return TakeOptionValue(argc, argv, i, p.Device, error, false) ? 1 : -1;
    if (arg == "--rate") {
        std::string number;
        if (!TakeOptionValue(argc, argv, i, number, error)) return -1;
        if (!ParseWholeNumber(number, 1, 1000000, p.Rate) || !IsInputRate(p.Rate)) {
            error = "--rate: \"" + number + "\" is not a rate measured: give " + InputRatesText();
            return -1;
        }
        return 1;
    }
    bool* flag = arg == "--no-blank"                     ? &p.NoBlank
                 : arg == "--invert"                     ? &p.Invert
                 : arg == "--swap-channels" && !simulate ? &p.SwapChannels
                 : arg == "--save-iq"                    ? &p.SaveIq
                 : arg == "--save-screen"                ? &p.SaveScreen
                                                         : nullptr;
    if (flag == nullptr) return 0;
    *flag = true;
    return 1;
}

}  // namespace

bool ParseAppOptions(int argc, char** argv, AppOptions& options, bool& help, bool& version,
                     std::string& error) {
    help = false;
    version = false;
    bool simulatorOptions = false, optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (EndsOptions(arg, optionsEnded)) continue;
        if (optionsEnded) {
            error = "unexpected argument " + arg + ": the window takes no file names";
            return false;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else if (arg == "--simulate") {
            options.Simulate = true;
        } else if (arg == "--play") {
            if (!TakeOptionValue(argc, argv, i, options.PlayPath, error, false)) return false;
        } else if (arg == "--record") {
            if (!TakeOptionValue(argc, argv, i, options.RecordPath, error, false)) return false;
        } else if (arg == "--log-readouts") {
            if (!TakeOptionValue(argc, argv, i, options.LogPath, error, false)) return false;
        } else if (const int preset =
                       ParsePresetOption(argc, argv, i, options.Simulate, options.Presets, error)) {
            if (preset < 0) return false;
        } else if (arg == "--csv") {
            if (!TakeOptionValue(argc, argv, i, options.CsvPath, error, false)) return false;
        } else if (arg == "--iq-csv") {
            if (!TakeOptionValue(argc, argv, i, options.IqCsvPath, error, false)) return false;
        } else if (arg == "--daily") {
            if (!TakeOptionValue(argc, argv, i, options.DailyDir, error, false)) return false;
        } else if (arg == "--serve") {
            std::string text;
            if (!TakeOptionValue(argc, argv, i, text, error, false)) return false;
            if (!ParseServeAddress(text, options.ServeAt, error)) return false;
            options.Serve = true;
        } else if (arg == "--folder") {
            if (!TakeOptionValue(argc, argv, i, options.Folder, error, false)) return false;
        } else if (arg == "--scale") {
            std::string number;
            if (!TakeOptionValue(argc, argv, i, number, error)) return false;
            if (!ParseWholeNumber(number, 1, kLargestScale, options.Scale)) {
                error = "--scale: \"" + number + "\" is not a whole number from 1 to " +
                        std::to_string(kLargestScale);
                return false;
            }
        } else {
            // The window's simulator runs until End: a length would be ignored in silence.
            if (arg == "--seconds" || arg.rfind("--seconds=", 0) == 0) {
                error = "--seconds does not apply to the window: the simulator runs until End";
                return false;
            }
            const int taken = ParseSimulatorOption(argc, argv, i, options.Simulator, error);
            if (taken < 0) return false;
            if (taken == 0) {
                error = "unknown option " + arg;
                return false;
            }
            --i;  // ParseSimulatorOption moved past the value
            simulatorOptions = true;
        }
    }
    // --daily names the log and the CSV files itself.
    const char* named = options.DailyDir.empty()     ? nullptr
                        : !options.CsvPath.empty()   ? "--csv"
                        : !options.IqCsvPath.empty() ? "--iq-csv"
                        : !options.LogPath.empty()   ? "--log-readouts"
                                                     : nullptr;
    if (named != nullptr) {
        error = std::string("--daily names its files itself: leave out ") + named;
        return false;
    }
    if (simulatorOptions && !options.Simulate) {
        error = "simulator settings need --simulate";
        return false;
    }
    return !options.Simulate || CheckSimulatorCard(options.Simulator, true, error);
}

std::string AppUsage() {
    // The window's simulator runs until End: its length is no setting here.
    std::string simulator = SimulatorOptionsHelp();
    const size_t seconds = simulator.find("  --seconds ");
    if (seconds != std::string::npos) {
        simulator.erase(seconds, simulator.find('\n', seconds) + 1 - seconds);
    }
    return "Usage: quorvelle [options]\n"
           "GPS QuorVelle: times a radio receiver's click (left input channel) against a GPS\n"
           "receiver's pulse per second (right channel). With no options the window offers the\n"
           "system's sound inputs, or the built-in simulator when it has none.\n"
           "\n"
           "  --simulate             add \"Simulated GPS receiver and radio\" to the top of the\n"
           "                         device list: Start then measures the built-in simulator\n"
           "                         in real time (settings below)\n"
           "  --play FILE.wav        add a recording to the device list, played in real time\n"
           "  --record FILE.wav      record every captured frame to FILE.wav, as the card\n"
           "                         delivered it (also with --swap-channels)\n"
           "  --log-readouts FILE    append every read-out and title change to FILE\n"
           "  --csv FILE             append a CSV row per second to FILE: time (UTC), t_s and\n"
           "                         the numbers behind the read-outs, for plotting\n"
           "  --iq-csv FILE          append a CSV row per integration period to FILE: time,\n"
           "                         t_s, I, Q, phase, level and the frames dropped in it\n"
           "  --daily DIR            the read-out log and the CSV files in DIR/YYYY/MM/DD by the\n"
           "                         UTC date (readouts.tsv, seconds.csv, periods.csv), appended\n"
           "                         to, and continued in the next day's folder at midnight;\n"
           "                         each day gets report.png and report.txt at its end;\n"
           "                         instead of --log-readouts, --csv and --iq-csv\n"
           "  --folder DIR           write the I/Q files, chart captures and the I/Q journal\n"
           "                         into DIR, made if missing (default: " +
           std::string(kDefaultFolderHelp) +
           ")\n"
           "  --serve [ADDR:]PORT    serve a read-only status page at http://ADDR:PORT/: the\n"
           "                         panels, read-outs and state each second, the numbers as\n"
           "                         /status.json, the CSV files of --csv and --iq-csv or of\n"
           "                         --daily's day (/seconds.csv, /periods.csv) and their\n"
           "                         report (/report.png). ADDR is 127.0.0.1 (this machine\n"
           "                         only) unless given; 0.0.0.0 opens the page to the\n"
           "                         network. PORT 0 picks a free port, said on stderr\n"
           "  --scale N              show the window N times its size (1.." +
           std::to_string(kLargestScale) +
           "), panels magnified;\n"
           "                         default: the screen's dots per inch / 96, rounded\n"
           "  --help                 show this text\n"
           "  --version              show the program's version\n"
           "\n"
           "The window's controls at start (as quorvelle-batch spells them; with none, as\n"
           "always):\n"
           "  --lock-freq TEXT       text of \"Initial lock freq\" (before --simulate: after it,\n"
           "                         --lock-freq is the simulated click's frequency)\n"
           "  --offset TEXT          text of \"Offset frequency\"\n"
           "  --integration TEXT     text of \"Integration time\"\n"
           "  --click-position N     the click position, as a click on the scope sets it\n"
           "                         (0.." +
           std::to_string(kLastSampleOfSecond) +
           ")\n"
           "  --no-blank             \"Blank RF click\" cleared\n"
           "  --invert               \"Inverted\" ticked\n"
           "  --swap-channels        the PPS on the left channel and the radio on the right\n"
           "                         (before --simulate: after it, the simulator's wiring);\n"
           "                         quorvelle-batch --swap-channels measures a recording of\n"
           "                         this input as the window does\n"
           "  --save-iq              \"Save I,Q to file?\" checked\n"
           "  --save-screen          \"Save screen to file?\" checked\n"
           "  --device N|NAME        the device list's entry, by number or (part of its) name\n"
           "  --rate N               the sound card's (and the simulator's) frames per second:\n"
           "                         8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200,\n"
           "                         96000, 176400 or 192000 (default: 8000 where the device\n"
           "                         offers it, else its own default rate); a recording plays\n"
           "                         at its own rate\n"
           "\n"
           "Simulator settings (with --simulate):\n" +
           simulator;
}

}  // namespace qv
