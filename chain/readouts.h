// The read-out labels the measurement writes, and every read-out's text: the one place that
// says how a measured value is shown.
#pragma once

#include <string>

namespace qv {

// The read-out labels, with their control ids.
enum class Readout {
    LockFreqOut = 1000,  // IDLOCKFREQOUT
    ClickPhase = 1100,   // IDCLICKPHASE
    ClickLevel = 1200,   // IDCLICKLEVEL
    ClickPeak = 1400,    // IDCLICKPEAK
    AudioLevel = 700,    // IDAUDIOLEVEL
    FreqError = 800,     // IDFREQERROR
    TimingError = 900,   // IDTIMINGERROR
};

// The label's id name as the read-out log writes it ("IDFREQERROR", ...).
const char* ReadoutName(Readout id);

// The values the read-outs show, before their masks round them: the texts below are made from
// these, so a file that writes them agrees with the read-outs.
long double TimingErrorMicroseconds(long double samples);  // 125 us per sample
long double AudioLevelPercent(int audioPeak);              // peak / 327.68 (single precision)
long double ClickPhaseDegrees(long double radians);
long double ClickLevelPercent(long double level);

// Once a second, from the clock loop.
std::string FreqErrorText(long double ppm);        // "Freq error = 37.29ppm"
std::string TimingErrorText(long double samples);  // "Timing error = -1.25uS"
std::string AudioLevelText(int audioPeak);         // "Audio level = 50.0%"

// Once a second, from the click lock.
std::string ClickPhaseText(long double radians);  // "ClickPhase degrees = -19.300"
std::string ClickLevelText(long double level);    // "Click Level % = 23.965"
std::string LockFrequencyText(long double hz);    // "Lock frequency = 1700.000"
std::string ClickPeakText(int clickPosition);     // "Click Peak = 31"

}  // namespace qv
