// The RIFF/RF64 WAVE bytes the Windows WAV back end reads and writes by its own code, with no
// system call: a header's chunks walked up to the samples (through a ChunkSource, the file or
// mmio), a header's faults in the words libsndfile gives them on Linux, the samples converted to
// 16 bits, and the headers libsndfile writes for a stereo 16-bit 8000 Hz recording, byte for
// byte, as plain WAV and as RF64.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/frame.h"

namespace qv {

constexpr int kWavPcmTag = 1, kWavFloatTag = 3, kWavALawTag = 6, kWavULawTag = 7;
constexpr int kWavExtensibleTag = 0xFFFE;
constexpr uint32_t kWavUnknownSize = 0xFFFFFFFF;  // [bytes] data size of a streamed WAV
constexpr long long kWavHeaderBytes = 112;        // [bytes] where the written samples start

// libsndfile's text for a file that is no WAVE at all, passed on as the Linux build does.
extern const char* const kWavNotRecognised;
// What the Linux build says in place of its library's internal texts.
extern const char* const kWavNoLength;

uint32_t Le16(const unsigned char* p);  // little-endian
uint32_t Le32(const unsigned char* p);
uint64_t Le64(const unsigned char* p);

// What a WAV header says: the sample format and where the samples are.
struct WavLayout {
    bool HasFormat = false;  // a "fmt " chunk came before the samples
    std::string Problem;     // why the samples cannot be read, in the Linux build's words
    int RawTag = 0;          // WAVE_FORMAT_... as the chunk states it
    int Tag = 0;             // the same, the sub-format's for WAVE_FORMAT_EXTENSIBLE
    int Channels = 0;
    uint32_t Rate = 0;       // [frames per second]
    int Bits = 0;            // [bits per sample] as the header states them
    bool HasData = false;    // the "data" chunk was found after the format
    long long Offset = 0;    // [bytes] from the start of the file to the first sample
    uint64_t SizeBytes = 0;  // [bytes] the data chunk promises
    bool Streamed = false;   // the size was never filled in: the samples run to the end
};

// Where a WAVE file's chunk headers and bodies are read from.
class ChunkSource {
public:
    virtual ~ChunkSource() = default;
    // The chunk header at `position`: its id and size.
    virtual bool Head(long long position, char id[4], uint32_t& size) = 0;
    // Up to `size` bytes from `position`; the number read.
    virtual size_t Body(long long position, unsigned char* out, size_t size) = 0;
};

// Walks the chunks after the 12-byte "RIFF"/"RF64" size "WAVE" head up to the samples. The
// data size is the ds64 chunk's 64-bit one where an RF64 data chunk says 0xFFFFFFFF; a data
// size of 0 (a recording cut off before its first header update) or a RIFF one of 0xFFFFFFFF
// (a stream) means that the samples run to the end of the file.
WavLayout WalkChunks(ChunkSource& source, long long fileSize, bool rf64);

// What is wrong with the fields of the first "fmt " chunk, found by its chunk sizes alone, in
// the Linux build's words; "" when nothing is. This comes before any other fault of the
// header, as on Linux.
std::string PlainFormatProblem(ChunkSource& source, long long fileSize);

// Why the samples of a file of `fileSize` bytes whose header says `layout` cannot be read as a
// recording (the text after "path: "), `plainProblem` first; "" when they can, with the frames
// present in `frames` and, for a file that holds less than its header promises, the warning
// naming `path` in `warning`.
std::string AcceptWavLayout(const WavLayout& layout, const std::string& plainProblem,
                            const std::string& path, long long fileSize, long long& frames,
                            std::string& warning);

// One sample of a file's encoding (`tag` integer PCM or float, `bytes` wide) as 16 bits: PCM
// wider or narrower than 16 bits rounded to nearest (halves away from zero), float full scale
// 1.0 as 32767.
int16_t ConvertWavSample(const unsigned char* p, int tag, int bytes);

// The header written at the open, before anything is known: RF64 with unknown sizes, 104 bytes.
// `rate` [frames/s] in each.
std::string PlaceholderWavHeader(int rate = kFramesPerSecond);

// The 112-byte header for `frames` frames in a file `length` bytes long: plain WAV below 4 GiB,
// RF64 (ds64 chunk in place of the JUNK chunk, PAD in place of fact) from then on. The RIFF
// size is the length less 8.
std::string WavHeader(uint64_t length, uint64_t frames, int rate = kFramesPerSecond);

}  // namespace qv
