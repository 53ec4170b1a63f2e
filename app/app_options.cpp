// The window program's command line.
#include "app/app_options.h"

#include "capture/simulator_options.h"
#include "common/command_line.h"

namespace qv {

bool ParseAppOptions(int argc, char** argv, AppOptions& options, bool& help, std::string& error) {
    help = false;
    bool simulatorOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--simulate") {
            options.Simulate = true;
        } else if (arg == "--play") {
            if (!TakeOptionValue(argc, argv, i, options.PlayPath, error, false)) return false;
        } else if (arg == "--record") {
            if (!TakeOptionValue(argc, argv, i, options.RecordPath, error, false)) return false;
        } else if (arg == "--log-readouts") {
            if (!TakeOptionValue(argc, argv, i, options.LogPath, error, false)) return false;
        } else if (arg == "--csv") {
            if (!TakeOptionValue(argc, argv, i, options.CsvPath, error, false)) return false;
        } else if (arg == "--iq-csv") {
            if (!TakeOptionValue(argc, argv, i, options.IqCsvPath, error, false)) return false;
        } else {
            // The window's simulator runs until End: a length would be ignored in silence.
            if (arg == "--seconds" || arg.rfind("--seconds=", 0) == 0) {
                error = "--seconds does not apply to the window: the simulator runs until End";
                return false;
            }
            const int taken = ParseSimulatorOption(argc, argv, i, options.Simulator, error);
            if (taken < 0) return false;
            if (taken == 0) {
                error = "unknown option \"" + arg + "\" (--help lists them)";
                return false;
            }
            --i;  // ParseSimulatorOption moved past the value
            simulatorOptions = true;
        }
    }
    if (simulatorOptions && !options.Simulate) {
        error = "simulator settings need --simulate";
        return false;
    }
    return true;
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
           "system's sound inputs.\n"
           "\n"
           "  --simulate             add \"Simulated GPS receiver and radio\" to the top of the\n"
           "                         device list: Start then measures the built-in simulator\n"
           "                         in real time (settings below)\n"
           "  --play FILE.wav        add a recording to the device list, played in real time\n"
           "  --record FILE.wav      record every captured frame to FILE.wav\n"
           "  --log-readouts FILE    append every read-out and title change to FILE\n"
           "  --csv FILE             append a CSV row per second to FILE: time (UTC), t_s and\n"
           "                         the numbers behind the read-outs, for plotting\n"
           "  --iq-csv FILE          append a CSV row per integration period to FILE: time,\n"
           "                         t_s, I, Q, phase, level and the frames dropped in it\n"
           "  --help                 show this text\n"
           "\n"
           "Simulator settings (with --simulate):\n" +
           simulator;
}

}  // namespace qv
