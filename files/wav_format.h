// What both systems' WAV readers do in the same way and the same words, whichever library
// reads the rest: the checks of a header's format fields, the conversion to 16 bits' range and
// the truncation warnings.
#pragma once

#include <cstdint>
#include <string>

#include "files/wav_file.h"

namespace qv {

// What makes the fields of a "fmt " chunk unusable ("not a usable WAV header: 0 channels"), or
// "" when nothing does. `tag`: 1 integer PCM, 3 float; the others are not judged here.
std::string WavFormatProblem(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits);

// Why a recording at `rate` frames per second cannot be read, with what can be done ("50000
// frames per second: recordings at 8000, 11025, ... or 192000 are read; convert it first, e.g.
// sox in.wav -r 48000 out.wav", the highest listed rate below the recording's), or "" for one of
// kInputRates.
std::string WavRateProblem(uint32_t rate);

// Clips a rounded sample into int16; NaN (possible in a damaged float file) becomes silence.
int16_t ClipToInt16(double rounded);

// The warning for a file whose data chunk promises more bytes than it holds, in frames of
// `frameBytes`: "cut.wav: truncated: the header promises 1000 frames, the file holds 722". When
// the whole frames are the same (an odd data size, one byte short), the bytes beyond them are
// counted too: "the header promises 40000 frames and 1 byte, the file holds 40000 frames".
std::string TruncatedWarning(const std::string& path, uint64_t promisedBytes, uint64_t heldBytes,
                             uint64_t frameBytes, long long heldFrames);

// After a read that delivered `delivered` of the `asked` frames: a short read before the frames
// counted at the open means another program has shortened the file, said once in LateWarning.
void NoteLateTruncation(WavReader& reader, long long delivered, long long asked);

}  // namespace qv
