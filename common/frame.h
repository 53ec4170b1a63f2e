// The stereo frame of the capture stream: RF (left) then PPS (right), 16-bit little-endian.
#pragma once

#include <cstdint>

namespace qv {

struct Frame {
    int16_t Rf;   // left channel: the radio receiver's audio
    int16_t Pps;  // right channel: the GPS receiver's pulse-per-second click
};
static_assert(sizeof(Frame) == 4, "a frame is exactly two 16-bit samples");

constexpr int kFramesPerSecond = 8000;  // [frames/s] asked of the capture device
// [output samples/s] of the corrected stream: one per frame of an exact card, so that a card's
// clock error shows as a step away from 1 frame per sample.
constexpr int kSamplesPerSecond = kFramesPerSecond;
constexpr int kFramesPerBlock = 128;  // [frames] in one 512-byte capture block

}  // namespace qv
