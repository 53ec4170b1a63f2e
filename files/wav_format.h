// The checks of a WAV header's format fields that both systems' WAV readers make in the same
// words, whichever library reads the rest.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// What makes the fields of a "fmt " chunk unusable ("not a usable WAV header: 0 channels"), or
// "" when nothing does. `tag`: 1 integer PCM, 3 float; the others are not judged here.
std::string WavFormatProblem(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits);

}  // namespace qv
