// What both systems' WAV readers share: format checks, clipping, truncation warnings.
#include "files/wav_format.h"

#include <cmath>
#include <cstdint>

#include "dsp/rate_converter.h"

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

std::string WavRateProblem(uint32_t rate) {
    if (rate <= INT32_MAX && IsInputRate(static_cast<int>(rate))) return "";
    // The highest listed rate not above the recording's keeps the most of what it holds
    // without making up anything; below them all, 8000.
    int suggested = kInputRates[0];
    for (const int r : kInputRates) {
        if (static_cast<uint32_t>(r) <= rate) suggested = r;
    }
    return std::to_string(rate) + " frames per second: recordings at " + InputRatesText() +
           " are read; convert it first, e.g. sox in.wav -r " + std::to_string(suggested) +
           " out.wav";
}

int16_t ClipToInt16(double rounded) {
    if (std::isnan(rounded)) return 0;
    if (rounded <= -32768.0) return -32768;
    if (rounded >= 32767.0) return 32767;
    return static_cast<int16_t>(rounded);
}

std::string TruncatedWarning(const std::string& path, uint64_t promisedBytes, uint64_t heldBytes,
                             uint64_t frameBytes, long long heldFrames) {
    const std::string start = path + ": truncated: the header promises ";
    const uint64_t promisedFrames = promisedBytes / frameBytes;
    if (promisedFrames != static_cast<uint64_t>(heldFrames)) {
        return start + std::to_string(promisedFrames) + " frames, the file holds " +
               std::to_string(heldFrames);
    }
    auto framesAndBytes = [frameBytes](uint64_t bytes) {
        const uint64_t rest = bytes % frameBytes;
        return std::to_string(bytes / frameBytes) + " frames" +
               (rest == 0 ? "" : " and " + std::to_string(rest) + (rest == 1 ? " byte" : " bytes"));
    };
    return start + framesAndBytes(promisedBytes) + ", the file holds " + framesAndBytes(heldBytes);
}

void NoteLateTruncation(WavReader& reader, long long delivered, long long asked) {
    if (delivered < asked && reader.FramesRead < reader.Frames && reader.LateWarning.empty()) {
        reader.LateWarning = reader.Path + ": truncated while being read: the file held " +
                             std::to_string(reader.Frames) + " frames when it was opened, " +
                             std::to_string(reader.FramesRead) + " could be read";
    }
}

}  // namespace qv
