// The checks of a WAV header's format fields, the same on both systems.
#include "files/wav_format.h"

#include <cstdint>

namespace qv {

std::string WavFormatProblem(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits) {
    constexpr uint32_t kPcmTag = 1, kFloatTag = 3;
    std::string reason;
    if (channels == 0) {
        reason = "0 channels";
    } else if (rate == 0 || rate > INT32_MAX) {
        reason = "sample rate " + std::to_string(rate);
    } else if (bits == 0) {
        reason = "0 bits per sample";
    } else if (tag == kFloatTag && bits != 32 && bits != 64) {
        reason = "float samples of " + std::to_string(bits) + " bits";
    } else if (tag == kPcmTag && bits > 32) {
        reason = std::to_string(bits) + " bits per sample";
    }
    return reason.empty() ? "" : "not a usable WAV header: " + reason;
}

}  // namespace qv
