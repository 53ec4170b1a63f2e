// RIFF/RF64 WAVE headers read and written by our own code, with no system call, in the bytes and
// words of the Linux build's sound library.
#include "files/wav_riff.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/frame.h"
#include "files/wav_format.h"

namespace qv {

const char* const kWavNotRecognised = "Format not recognised.";
const char* const kWavNoLength =
    "not a usable sound file header: its sample rate, channel count or length is missing or out "
    "of range";

namespace {

constexpr int kMaxHeaderChunks = 4096;              // [chunks] walked before giving up on a header
constexpr uint64_t kRiffLimit = uint64_t{1} << 32;  // [bytes] a file this long needs RF64
constexpr int kMaxChannels = 1024;  // more are refused as a damaged header, as on Linux

// The texts the Linux build passes on from its sound library for the same faults.
const char* const kNoDataChunk = "Error in WAV file. No 'data' chunk marker.";
const char* const kNoRf64DataChunk = "Error in RF64 file. No 'data' chunk marker.";
const char* const kShortFormat = "Error in WAV/W64/RF64 file. Short 'fmt ' chunk.";
const char* const kMalformedFormat = "Error in WAV/W64/RF64 file. Malformed 'fmt ' chunk.";
const char* const kUnimplemented = "File contains data in an unimplemented format.";

// The last 12 bytes of every WAVE_FORMAT_EXTENSIBLE sub-format GUID that names a format tag.
const unsigned char kSubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                          0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void Put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The fields of a "fmt " chunk whose header gives `size` bytes, of which `fmt` holds the first
// 40 or those the file has (the rest zeros); a fault found in them goes to layout.Problem, in
// the Linux build's words and order.
void ReadFormat(const unsigned char* fmt, uint32_t size, WavLayout& layout) {
    layout.HasFormat = true;
    layout.RawTag = static_cast<int>(Le16(fmt));
    layout.Tag = layout.RawTag;
    layout.Channels = static_cast<int>(Le16(fmt + 2));
    layout.Rate = Le32(fmt + 4);
    layout.Bits = static_cast<int>(Le16(fmt + 14));
    // A size beyond 2 GiB is taken as negative, as the Linux build's library does.
    if (static_cast<int32_t>(size) < 16) {
        layout.Problem = kShortFormat;
        return;
    }
    const auto known = [](int tag) {
        return tag == kWavPcmTag || tag == kWavFloatTag || tag == kWavULawTag || tag == kWavALawTag;
    };
    if (layout.Tag == kWavExtensibleTag) {
        if (size < 40) {
            layout.Problem = kMalformedFormat;
            return;
        }
        // (The sample width is looked at once the samples are found.)
        layout.Tag = static_cast<int>(Le16(fmt + 24));  // the GUID's first bytes
        if (Le16(fmt + 26) != 0 || std::memcmp(fmt + 28, kSubFormatTail, 12) != 0 ||
            !known(layout.Tag)) {
            layout.Problem = kUnimplemented;
        }
    } else if (!known(layout.Tag)) {
        layout.Problem = kMalformedFormat;
    }
}

// Chunk ids are four printable characters; anything else ends the header, as on Linux.
bool PrintableId(const char id[4]) {
    for (int k = 0; k < 4; ++k) {
        if (id[k] < 0x20 || id[k] > 0x7E) return false;
    }
    return true;
}

// The extensible "fmt " chunk of stereo 16-bit PCM at `rate` frames per second, both channels
// front.
std::string FormatChunk(int rate) {
    std::string fmt = "fmt ";
    Put(fmt, 40, 4);
    Put(fmt, kWavExtensibleTag, 2);
    Put(fmt, 2, 2);                                // channels
    Put(fmt, static_cast<uint64_t>(rate), 4);      // frames per second
    Put(fmt, 4 * static_cast<uint64_t>(rate), 4);  // bytes per second
    Put(fmt, 4, 2);                                // block align
    Put(fmt, 16, 2);                               // bits per sample
    Put(fmt, 22, 2);                               // extension size
    Put(fmt, 16, 2);                               // valid bits
    Put(fmt, 3, 4);                                // front left, front right
    Put(fmt, kWavPcmTag, 4);                       // the PCM sub-format GUID
    fmt += std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    return fmt;
}

std::string Ds64Chunk(uint64_t riffSize, uint64_t dataSize, uint64_t frames) {
    std::string ds64 = "ds64";
    Put(ds64, 28, 4);
    Put(ds64, riffSize, 8);
    Put(ds64, dataSize, 8);
    Put(ds64, frames, 8);
    Put(ds64, 0, 4);  // no size table
    return ds64;
}

}  // namespace

uint32_t Le16(const unsigned char* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | (Le16(p + 2) << 16); }
uint64_t Le64(const unsigned char* p) { return Le32(p) | (uint64_t{Le32(p + 4)} << 32); }

WavLayout WalkChunks(ChunkSource& source, long long fileSize, bool rf64) {
    WavLayout layout;
    uint64_t dataSize64 = 0;
    bool haveDs64 = false;
    long long position = 12;
    for (int chunk = 0; chunk < kMaxHeaderChunks && position + 4 <= fileSize; ++chunk) {
        char id[4];
        uint32_t size = 0;
        if (position + 8 > fileSize) {
            // Cut off inside the data chunk's size (not right after its id): the data chunk,
            // holding nothing.
            unsigned char last[4];
            if (layout.HasFormat && position + 4 < fileSize &&
                source.Body(position, last, 4) == 4 && std::memcmp(last, "data", 4) == 0) {
                layout.HasData = true;
                layout.Offset = position + 8;
                return layout;
            }
            break;
        }
        if (!source.Head(position, id, size) || !PrintableId(id)) break;
        if (rf64 && std::memcmp(id, "ds64", 4) == 0) {
            // RIFF size, data size, frame count, then the length of a table of 12-byte entries
            // that follows them, and counts beyond the chunk's stated size when it does not fit.
            unsigned char sizes[28];
            if (source.Body(position + 8, sizes, sizeof(sizes)) == sizeof(sizes)) {
                haveDs64 = true;
                dataSize64 = Le64(sizes + 8);
                const long long tableEnd = 28 + 12LL * Le32(sizes + 24);
                if (tableEnd > size) position += tableEnd - size;
            }
        } else if (std::memcmp(id, "fmt ", 4) == 0 && !layout.HasFormat) {
            unsigned char fmt[40] = {};
            source.Body(position + 8, fmt, std::min<size_t>(size, 40));
            ReadFormat(fmt, size, layout);
            if (!layout.Problem.empty()) return layout;
        } else if (std::memcmp(id, "data", 4) == 0) {
            if (rf64 && !layout.HasFormat) {
                layout.Problem = "Channel count is zero.";
                return layout;
            }
            if (!layout.HasFormat) break;
            // RF64 data whose length is left to a ds64 chunk there is not: refused as on Linux.
            if (rf64 && !haveDs64 && size == kWavUnknownSize) {
                layout.Problem = kWavNoLength;
                return layout;
            }
            layout.HasData = true;
            layout.Offset = position + 8;
            layout.SizeBytes = rf64 && size == kWavUnknownSize ? dataSize64 : size;
            layout.Streamed = layout.SizeBytes == 0 || (!rf64 && size == kWavUnknownSize);
            // An extensible format's PCM is at most 32 bits wide, its float 32 or 64 bits.
            const int tag = layout.Tag, bits = layout.Bits;
            if (layout.RawTag == kWavExtensibleTag &&
                ((tag == kWavPcmTag && bits > 32) ||
                 (tag == kWavFloatTag && bits != 32 && bits != 64))) {
                layout.Problem = kUnimplemented;
            }
            return layout;
        }
        position += 8 + static_cast<long long>(size) + (size & 1);
    }
    layout.Problem = rf64 ? kNoRf64DataChunk : kNoDataChunk;
    return layout;
}

std::string PlainFormatProblem(ChunkSource& source, long long fileSize) {
    long long position = 12;
    for (int chunk = 0; chunk < kMaxHeaderChunks && position + 8 <= fileSize; ++chunk) {
        char id[4];
        uint32_t size = 0;
        if (!source.Head(position, id, size)) return "";
        if (std::memcmp(id, "fmt ", 4) == 0) {
            unsigned char fmt[16];  // tag, channels, rate, bytes/s, block align, bits
            if (size < sizeof(fmt) || source.Body(position + 8, fmt, sizeof(fmt)) != sizeof(fmt)) {
                return "";
            }
            return WavFormatProblem(Le16(fmt), Le16(fmt + 2), Le32(fmt + 4), Le16(fmt + 14));
        }
        position += 8 + static_cast<long long>(size) + (size & 1);
    }
    return "";
}

std::string AcceptWavLayout(const WavLayout& layout, const std::string& plainProblem,
                            const std::string& path, long long fileSize, long long& frames,
                            std::string& warning) {
    const bool pcm = layout.Tag == kWavPcmTag, real = layout.Tag == kWavFloatTag;
    if (!plainProblem.empty()) return plainProblem;
    if (layout.Problem == kWavNoLength) return kWavNoLength;
    if (!layout.Problem.empty()) return "damaged sound file (" + layout.Problem + ")";
    if (layout.Channels > kMaxChannels) return "damaged sound file (Too many channels specified.)";
    if (layout.Channels != 2) {
        return std::to_string(layout.Channels) + " channel(s); a stereo recording is needed";
    }
    if (const std::string problem = WavRateProblem(layout.Rate); !problem.empty()) return problem;
    if (!pcm && !real) {
        return std::string(layout.Tag == kWavULawTag ? "U-Law" : "A-Law") +
               " encoding; PCM (8, 16, 24 or 32-bit) or float samples are needed";
    }
    const uint64_t frameBytes = 2 * static_cast<uint64_t>((layout.Bits + 7) / 8);
    const uint64_t held = static_cast<uint64_t>(std::max(0LL, fileSize - layout.Offset));
    const uint64_t present = layout.Streamed ? held : std::min(held, layout.SizeBytes);
    frames = static_cast<long long>(present / frameBytes);
    if (!layout.Streamed && layout.SizeBytes > held) {
        warning = TruncatedWarning(path, layout.SizeBytes, held, frameBytes, frames);
    }
    return "";
}

int16_t ConvertWavSample(const unsigned char* p, int tag, int bytes) {
    if (tag == kWavFloatTag) {
        double value = 0;
        if (bytes == 4) {
            float f;
            std::memcpy(&f, p, sizeof(f));
            value = f;
        } else {
            std::memcpy(&value, p, sizeof(value));
        }
        return ClipToInt16(std::round(value * 32767.0));
    }
    if (bytes == 2) return static_cast<int16_t>(Le16(p));
    // Left-justified in 32 bits, then scaled to 16; 8-bit WAV samples are unsigned.
    int32_t left = 0;
    if (bytes == 1) {
        left = static_cast<int32_t>((uint32_t{p[0]} - 128u) << 24);
    } else {
        uint32_t bits = 0;
        for (int b = 0; b < bytes && b < 4; ++b) bits |= uint32_t{p[bytes - 1 - b]} << (24 - 8 * b);
        left = static_cast<int32_t>(bits);
    }
    return ClipToInt16(std::round(left / 65536.0));
}

std::string PlaceholderWavHeader(int rate) {
    std::string head = "RF64";
    Put(head, kWavUnknownSize, 4);
    head += "WAVE" + Ds64Chunk(~uint64_t{7}, ~uint64_t{0}, 0) + FormatChunk(rate) + "data";
    Put(head, kWavUnknownSize, 4);
    return head;
}

std::string WavHeader(uint64_t length, uint64_t frames, int rate) {
    const uint64_t dataSize = 4 * frames;
    std::string head;
    if (length >= kRiffLimit) {
        head = "RF64";
        Put(head, kWavUnknownSize, 4);
        head += "WAVE" + Ds64Chunk(length - 8, dataSize, frames) + FormatChunk(rate) + "PAD ";
        Put(head, 0, 4);
        head += "data";
        Put(head, kWavUnknownSize, 4);
        return head;
    }
    head = "RIFF";
    Put(head, (length - 8) & 0xFFFFFFFF, 4);
    head += "WAVEJUNK";
    Put(head, 24, 4);
    head.append(24, '\0');
    head += FormatChunk(rate) + "fact";
    Put(head, 4, 4);
    Put(head, frames, 4);
    head += "data";
    Put(head, dataSize, 4);
    return head;
}

}  // namespace qv
