// The stereo frame of the capture stream: RF (left) then PPS (right), 16-bit little-endian.
#pragma once

#include <cstdint>

namespace qv {

struct Frame {
    int16_t Rf;   // left channel: the radio receiver's audio
    int16_t Pps;  // right channel: the GPS receiver's pulse-per-second click
};
static_assert(sizeof(Frame) == 4, "a frame is exactly two 16-bit samples");

constexpr int kFramesPerSecond = 8000;  // [frames/s] of the capture and of the corrected stream
constexpr int kFramesPerBlock = 128;    // [frames] in one 512-byte capture block

}  // namespace qv
