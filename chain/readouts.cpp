// Every read-out's text.
#include "chain/readouts.h"

#include "common/numbers.h"

namespace qv {

namespace {

// Read-out constants held in single precision enter with their single-precision values.
const long double kAudioLevelDivisor = static_cast<long double>(327.68f);  // per cent of 32768
constexpr long double kMicrosecondsPerSample = 125;  // one output sample at 8000 per second

}  // namespace

const char* ReadoutName(Readout id) {
    switch (id) {
        case Readout::LockFreqOut:
            return "IDLOCKFREQOUT";
        case Readout::ClickPhase:
            return "IDCLICKPHASE";
        case Readout::ClickLevel:
            return "IDCLICKLEVEL";
        case Readout::ClickPeak:
            return "IDCLICKPEAK";
        case Readout::AudioLevel:
            return "IDAUDIOLEVEL";
        case Readout::FreqError:
            return "IDFREQERROR";
        case Readout::TimingError:
            return "IDTIMINGERROR";
    }
    return "IDUNKNOWN";
}

long double TimingErrorMicroseconds(long double samples) {
    return kMicrosecondsPerSample * samples;
}
long double AudioLevelPercent(int audioPeak) { return audioPeak / kAudioLevelDivisor; }
long double ClickPhaseDegrees(long double radians) { return radians * 180 / kPi; }
long double ClickLevelPercent(long double level) { return 100 * level; }

std::string FreqErrorText(long double ppm) { return "Freq error = " + FormatMask(ppm, 2) + "ppm"; }

std::string TimingErrorText(long double samples) {
    return "Timing error = " + FormatMask(TimingErrorMicroseconds(samples), 2) + "uS";
}

std::string AudioLevelText(int audioPeak) {
    return "Audio level = " + FormatMask(AudioLevelPercent(audioPeak), 1) + "%";
}

std::string ClickPhaseText(long double radians) {
    return "ClickPhase degrees = " + FormatMask(ClickPhaseDegrees(radians), 3);
}

std::string ClickLevelText(long double level) {
    return "Click Level % = " + FormatMask(ClickLevelPercent(level), 3);
}

std::string LockFrequencyText(long double hz) { return "Lock frequency = " + FormatMask(hz, 3); }

std::string ClickPeakText(int clickPosition) {
    return "Click Peak = " + std::to_string(clickPosition);
}

}  // namespace qv
