// Command-line options of the signal simulator: strict parsing with range checks, and help text.
#include "capture/simulator_options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <vector>

#include "capture/signal_simulator_card.h"
#include "common/command_line.h"
#include "dsp/rate_converter.h"

namespace qv {

namespace {

// A numeric option and its accepted range; an open end excludes the bound itself.
struct RealOption {
    const char* Name;
    double SimulatorSettings::*Field;
    double Low;
    bool LowOpen;
    double High;
    bool HighOpen;
    const char* ValueName;
    const char* Help;
    double LeastOn = 0;  // > 0: the value is 0 (off) or at least this
};

constexpr double kMaxSeconds = 30 * 86400.0;           // [s] a month of recording is plenty
constexpr double kMaxPpm = 10000;                      // [ppm] 1 %: far beyond any sound card
constexpr double kMaxLevel = 100;                      // [full scale] well into clipping
constexpr double kNyquistHz = kFramesPerSecond / 2.0;  // [Hz]
// [s] Box-Muller's deviates stay within 8.6 sigma, so each PPS pulse stays within 0.09 s of
// its GPS second, never nearer another one.
constexpr double kMaxJitter = 0.01;
constexpr double kMinWidthMs = 0.001;  // [ms] a 1 us pulse, the shortest receivers give
constexpr double kMaxWidthMs = 900;    // [ms] leaves the pulse 100 ms to end before the next
// [ms] A pulse's end and the next one's start stay this far apart with the jitter's largest
// displacement (8.6 RMS each way), so that the card's filters never meet both at once.
constexpr double kPulseGapMs = 50;

const RealOption kRealOptions[] = {
    {"--seconds", &SimulatorSettings::Seconds, 0, true, kMaxSeconds, false, "S",
     "length of the recording [GPS s]"},
    {"--ppm", &SimulatorSettings::Ppm, -kMaxPpm, false, kMaxPpm, false, "P",
     "sound-card clock error [ppm], + = card runs fast"},
    {"--start-offset", &SimulatorSettings::StartOffsetSeconds, 0, false, 1, true, "S",
     "first frame after a whole GPS second [s]"},
    {"--click-delay-ms", &SimulatorSettings::ClickDelayMs, 0, false, 1000, true, "MS",
     "click start after the GPS second [ms]"},
    {"--click-length-ms", &SimulatorSettings::ClickLengthMs, 0, false, 1000, false, "MS",
     "click duration [ms]"},
    {"--lock-freq", &SimulatorSettings::LockFreqHz, 0, true, kNyquistHz, true, "HZ",
     "tone of the click [Hz]"},
    {"--carrier-offset-hz", &SimulatorSettings::CarrierOffsetHz, -1000, false, 1000, false, "HZ",
     "carrier frequency minus the click tone [Hz]"},
    {"--carrier-level", &SimulatorSettings::CarrierLevel, 0, false, kMaxLevel, false, "L",
     "carrier amplitude [full scale]"},
    {"--click-level", &SimulatorSettings::ClickLevel, 0, false, kMaxLevel, false, "L",
     "click amplitude [full scale]"},
    {"--pps-level", &SimulatorSettings::PpsLevel, 0, false, kMaxLevel, false, "L",
     "PPS pulse peak [full scale]"},
    {"--pps-rise-ms", &SimulatorSettings::PpsRiseMs, 0, true, 100, false, "MS",
     "PPS rise time constant [ms]"},
    {"--pps-decay-ms", &SimulatorSettings::PpsDecayMs, 0, true, 10000, false, "MS",
     "PPS decay time constant [ms]"},
    {"--noise-level", &SimulatorSettings::NoiseLevel, 0, false, kMaxLevel, false, "L",
     "RMS of the noise on the RF channel [full scale]"},
    {"--pps-jitter", &SimulatorSettings::PpsJitterSeconds, 0, false, kMaxJitter, false, "S",
     "RMS of each PPS pulse's time jitter [s]"},
    {"--drift-ppm-per-hour", &SimulatorSettings::DriftPpmPerHour, -kMaxPpm, false, kMaxPpm, false,
     "P", "change of the card's clock error [ppm per hour]"},
    {"--wander-ppm", &SimulatorSettings::WanderPpm, -kMaxPpm, false, kMaxPpm, false, "A",
     "amplitude of a sinusoidal wander of that error [ppm]"},
    {"--wander-period", &SimulatorSettings::WanderPeriodSeconds, 1, false, kMaxSeconds, false, "S",
     "period of the wander [s]"},
    {"--pps-width-ms", &SimulatorSettings::PpsWidthMs, 0, false, kMaxWidthMs, false, "W",
     "width of a rectangular PPS pulse [ms], 0: rise and decay", kMinWidthMs},
    {"--pps-ac-hz", &SimulatorSettings::PpsAcHz, 0, false, 50, false, "F",
     "corner of the PPS input's AC coupling [Hz], 0: none", 0.5},
    {"--pps-noise", &SimulatorSettings::PpsNoiseLevel, 0, false, kMaxLevel, false, "L",
     "RMS of white noise on the PPS channel [full scale]"},
    {"--pps-hum", &SimulatorSettings::PpsHumLevel, 0, false, kMaxLevel, false, "L",
     "amplitude of mains hum on the PPS channel [full scale]"},
};

std::vector<int> CardRateValues() {
    std::vector<int> values = {0};
    values.insert(values.end(), std::begin(kInputRates), std::end(kInputRates));
    return values;
}

// Whole-number options that take one of a few values.
struct ChoiceOption {
    const char* Name;
    int SimulatorSettings::*Field;
    std::vector<int> Values;
    const char* ValueName;
    const char* Help;
    const char* After;  // the option the help lists it after
};

const ChoiceOption kChoiceOptions[] = {
    {"--card-rate", &SimulatorSettings::CardRate, CardRateValues(), "R",
     "the card's own rate [Hz], resampled to 8000; 0: none", "--pps-ac-hz"},
    {"--rate", &SimulatorSettings::DeviceRate,
     std::vector<int>(std::begin(kInputRates), std::end(kInputRates)), "N",
     "frames per second recorded: a card at N", "--pps-ac-hz"},
    {"--hum-hz",
     &SimulatorSettings::HumHz,
     {50, 60},
     "HZ",
     "mains frequency of the hum, 50 or 60",
     "--pps-hum"},
};

constexpr const char* kCardFilterOption = "--card-filter";

constexpr const char* kSeedOption = "--seed";

// Options without a value: wiring faults to simulate.
struct FlagOption {
    const char* Name;
    bool SimulatorSettings::*Field;
    const char* Help;
};

const FlagOption kFlagOptions[] = {
    {"--invert-pps", &SimulatorSettings::InvertPps, "PPS pulse of the other polarity"},
    {"--swap-channels", &SimulatorSettings::SwapChannels, "PPS on the left, radio on the right"},
    {"--dither", &SimulatorSettings::Dither, "TPDF dither of +-1 LSB on both channels"},
};

std::string FormatNumber(double v) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.10g", v);
    return text;
}

std::string DescribeRange(const RealOption& o) {
    if (o.LeastOn > 0) {
        return "0, or at least " + FormatNumber(o.LeastOn) + " and at most " + FormatNumber(o.High);
    }
    std::string low = (o.LowOpen ? "more than " : "at least ") + FormatNumber(o.Low);
    std::string high = (o.HighOpen ? "below " : "at most ") + FormatNumber(o.High);
    return low + " and " + high;
}

bool InRange(const RealOption& o, double v) {
    if (o.LeastOn > 0 && v != 0 && v < o.LeastOn) return false;
    const bool aboveLow = o.LowOpen ? v > o.Low : v >= o.Low;
    const bool belowHigh = o.HighOpen ? v < o.High : v <= o.High;
    return aboveLow && belowHigh;
}

}  // namespace

int ParseSimulatorOption(int argc, char** argv, int& i, SimulatorSettings& settings,
                         std::string& error) {
    if (i < 0 || i >= argc || argv[i] == nullptr) return 0;
    const std::string arg = argv[i];
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);

    for (const FlagOption& o : kFlagOptions) {
        if (arg != o.Name) continue;
        settings.*(o.Field) = true;
        i += 1;
        return 1;
    }

    const RealOption* real = nullptr;
    for (const RealOption& o : kRealOptions) {
        if (name == o.Name) real = &o;
    }
    const ChoiceOption* choice = nullptr;
    for (const ChoiceOption& o : kChoiceOptions) {
        if (name == o.Name) choice = &o;
    }
    const bool filter = name == kCardFilterOption;
    if (real == nullptr && choice == nullptr && !filter && name != kSeedOption) return 0;

    std::string text;
    int consumed = 1;
    if (equals != std::string::npos) {
        text = arg.substr(equals + 1);
    } else if (i + 1 < argc && argv[i + 1] != nullptr) {
        text = argv[i + 1];
        consumed = 2;
    } else {
        error = name + " needs a value";
        return -1;
    }

    if (filter) {
        if (text == "linear") {
            settings.CardFilter = CardFilterPhase::Linear;
        } else if (text == "minimum") {
            settings.CardFilter = CardFilterPhase::Minimum;
        } else {
            error = name + ": \"" + text + "\" is neither linear nor minimum";
            return -1;
        }
    } else if (choice != nullptr) {
        double value = 0;
        const auto& values = choice->Values;
        if (!ParsePlainNumber(text, value) ||
            std::find(values.begin(), values.end(), value) == values.end()) {
            std::string list;
            for (size_t k = 0; k < values.size(); ++k) {
                list += (k == 0                   ? ""
                         : k + 1 == values.size() ? " or "
                                                  : ", ") +
                        std::to_string(values[k]);
            }
            error = name + ": \"" + text + "\" is not one of " + list;
            return -1;
        }
        settings.*(choice->Field) = static_cast<int>(value);
    } else if (real == nullptr) {
        uint64_t seed = 0;
        if (!ParseUnsigned64(text, seed)) {
            error = name + ": \"" + text + "\" is not a whole number from 0 to 2^64 - 1";
            return -1;
        }
        settings.Seed = seed;
    } else {
        double value = 0;
        if (!ParsePlainNumber(text, value)) {
            error = name + ": \"" + text + "\" is not a number";
            return -1;
        }
        if (!InRange(*real, value)) {
            error = name + ": " + text + " is out of range (" + DescribeRange(*real) + ")";
            return -1;
        }
        settings.*(real->Field) = value;
    }
    i += consumed;
    return 1;
}

bool CheckSimulatorCard(const SimulatorSettings& settings, bool untilEnd, std::string& error) {
    const double hours = (untilEnd ? kMaxSeconds : settings.Seconds) / 3600;
    const double reach = std::fabs(settings.Ppm) + std::fabs(settings.DriftPpmPerHour) * hours +
                         std::fabs(settings.WanderPpm);
    if (reach > kMaxPpm) {
        error = "--ppm, --drift-ppm-per-hour and --wander-ppm let the card's clock error reach " +
                FormatNumber(reach) + " ppm within " + FormatNumber(hours) + " hours (at most " +
                FormatNumber(kMaxPpm) + ")";
        return false;
    }
    const double jitterMs = settings.PpsJitterSeconds * 1e3;
    if (settings.PpsWidthMs > 0 && settings.PpsWidthMs + 18 * jitterMs > 1000 - kPulseGapMs) {
        error = "--pps-width-ms " + FormatNumber(settings.PpsWidthMs) + " with --pps-jitter " +
                FormatNumber(settings.PpsJitterSeconds) +
                " leaves too little between one pulse's end and the next one's start (the "
                "width plus 18 x the jitter at most " +
                FormatNumber(1000 - kPulseGapMs) + " ms)";
        return false;
    }
    if (settings.DeviceRate != kFramesPerSecond && settings.CardRate != 0 &&
        settings.CardRate != settings.DeviceRate) {
        error = "--card-rate " + std::to_string(settings.CardRate) +
                " is a card resampled to 8000 frames per second, --rate " +
                std::to_string(settings.DeviceRate) + " a card's own frames: give --card-rate " +
                std::to_string(settings.DeviceRate) + " or leave it out";
        return false;
    }
    return true;
}

std::string SimulatorOptionsHelp() {
    const SimulatorSettings defaults;
    std::string help;
    char line[160];
    // A choice option's lines, after the real option they belong with.
    auto choiceLines = [&](const ChoiceOption& o) {
        std::string values;
        for (int v : o.Values) values += (values.empty() ? "" : "|") + std::to_string(v);
        const std::string option = std::string(o.Name) + " " + o.ValueName;
        std::snprintf(line, sizeof(line), "  %-22s %s (%d)\n", option.c_str(), o.Help,
                      defaults.*(o.Field));
        help += line;
        if (o.Values.size() > 2) help += "  " + std::string(23, ' ') + values + "\n";
        if (o.Field == &SimulatorSettings::CardRate) {
            std::snprintf(line, sizeof(line), "  %-22s %s (%s)\n", "--card-filter PHASE",
                          "its anti-alias filter: linear or minimum phase", "linear");
            help += line;
        }
        if (o.Field == &SimulatorSettings::DeviceRate) {
            help += "  " + std::string(23, ' ') +
                    "other than 8000: the card's own samples at N through its anti-alias\n"
                    "  " +
                    std::string(23, ' ') +
                    "filter, no resampler (--card-rate then N or left out)\n";
        }
    };
    for (const RealOption& o : kRealOptions) {
        const std::string option = std::string(o.Name) + " " + o.ValueName;
        std::snprintf(line, sizeof(line), "  %-22s %s (%s)\n", option.c_str(), o.Help,
                      FormatNumber(defaults.*(o.Field)).c_str());
        help += line;
        for (const ChoiceOption& c : kChoiceOptions) {
            if (std::string(c.After) == o.Name) choiceLines(c);
        }
    }
    const std::string seed = std::string(kSeedOption) + " N";
    std::snprintf(line, sizeof(line), "  %-22s %s (%llu)\n", seed.c_str(),
                  "noise and phase-wander seed", static_cast<unsigned long long>(defaults.Seed));
    help += line;
    for (const FlagOption& o : kFlagOptions) {
        std::snprintf(line, sizeof(line), "  %-22s %s\n", o.Name, o.Help);
        help += line;
    }
    help += "  The card's error |P| + |drift| * hours + |A| stays within " + FormatNumber(kMaxPpm) +
            " ppm over the\n  recording (30 days for the window's simulator, which runs until "
            "End).\n";
    return help;
}

}  // namespace qv
