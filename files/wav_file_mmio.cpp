// Streaming WAV reading and writing of stereo 8000 Hz recordings on Windows: the RIFF chunks
// found through mmio, the samples moved with 64-bit file offsets, and RF64 (which mmio does not
// know) walked and written by our own code. Messages and written bytes are those of the Linux
// build for the same files and frames.
#include "files/wav_file.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "files/wav_format.h"
#include "files/whole_file.h"

namespace qv {

namespace {

static_assert(offsetof(Frame, Rf) == 0 && offsetof(Frame, Pps) == sizeof(int16_t),
              "a Frame array must be laid out as interleaved 16-bit stereo samples");

constexpr int kPcmTag = 1, kFloatTag = 3, kALawTag = 6, kULawTag = 7;
constexpr int kExtensibleTag = 0xFFFE;
constexpr uint32_t kUnknownDataSize = 0xFFFFFFFF;   // [bytes] data size of a streamed WAV
constexpr int kMaxHeaderChunks = 4096;              // [chunks] walked before giving up on a header
constexpr long long kConvertChunkFrames = 4096;     // [frames] read at once when converting
constexpr long long kDirectChunkFrames = 1 << 24;   // [frames] read at once otherwise (64 MiB)
constexpr uint64_t kRiffLimit = uint64_t{1} << 32;  // [bytes] a file this long needs RF64

// The texts the Linux build passes on from its sound library for the same faults.
const char* const kNotRecognised = "Format not recognised.";
const char* const kNoDataChunk = "Error in WAV file. No 'data' chunk marker.";
const char* const kNoRf64DataChunk = "Error in RF64 file. No 'data' chunk marker.";
// What the Linux build says in place of its library's internal texts.
const char* const kNoLength =
    "not a usable sound file header: its sample rate, channel count or length is missing or out "
    "of range";
const char* const kShortFormat = "Error in WAV/W64/RF64 file. Short 'fmt ' chunk.";
const char* const kMalformedFormat = "Error in WAV/W64/RF64 file. Malformed 'fmt ' chunk.";
const char* const kUnimplemented = "File contains data in an unimplemented format.";

// The last 12 bytes of every WAVE_FORMAT_EXTENSIBLE sub-format GUID that names a format tag.
const unsigned char kSubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                          0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::string SystemReason(int errorNumber) { return std::strerror(errorNumber); }

uint32_t Get16(const unsigned char* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8); }
uint32_t Get32(const unsigned char* p) { return Get16(p) | (Get16(p + 2) << 16); }
uint64_t Get64(const unsigned char* p) { return Get32(p) | (uint64_t{Get32(p + 4)} << 32); }

void Put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

bool ReadAt(int fd, long long offset, void* buffer, size_t size) {
    if (_lseeki64(fd, offset, SEEK_SET) < 0) return false;
    return _read(fd, buffer, static_cast<unsigned>(size)) == static_cast<int>(size);
}

bool WriteAt(int fd, long long offset, const void* data, size_t size, int& code) {
    if (_lseeki64(fd, offset, SEEK_SET) < 0) {
        code = errno;
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const unsigned part = static_cast<unsigned>(std::min<size_t>(size, size_t{1} << 30));
        const int n = _write(fd, bytes, part);
        if (n <= 0) {
            code = n < 0 ? errno : ENOSPC;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool IsDirectory(const std::string& path) {
    struct _stati64 status {};
    return _stati64(path.c_str(), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFDIR;
}

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

constexpr int kMaxChannels = 1024;  // more are refused as a damaged header, as on Linux

// The fields of a "fmt " chunk whose header gives `size` bytes, of which `fmt` holds the first
// 40 or those the file has (the rest zeros); a fault found in them goes to layout.Problem, in
// the Linux build's words and order.
void ReadFormat(const unsigned char* fmt, uint32_t size, WavLayout& layout) {
    layout.HasFormat = true;
    layout.RawTag = static_cast<int>(Get16(fmt));
    layout.Tag = layout.RawTag;
    layout.Channels = static_cast<int>(Get16(fmt + 2));
    layout.Rate = Get32(fmt + 4);
    layout.Bits = static_cast<int>(Get16(fmt + 14));
    // A size beyond 2 GiB is taken as negative, as the Linux build's library does.
    if (static_cast<int32_t>(size) < 16) {
        layout.Problem = kShortFormat;
        return;
    }
    const auto known = [](int tag) {
        return tag == kPcmTag || tag == kFloatTag || tag == kULawTag || tag == kALawTag;
    };
    if (layout.Tag == kExtensibleTag) {
        if (size < 40) {
            layout.Problem = kMalformedFormat;
            return;
        }
        // (The sample width is looked at once the samples are found.)
        layout.Tag = static_cast<int>(Get16(fmt + 24));  // the GUID's first bytes
        if (Get16(fmt + 26) != 0 || std::memcmp(fmt + 28, kSubFormatTail, 12) != 0 ||
            !known(layout.Tag)) {
            layout.Problem = kUnimplemented;
        }
    } else if (!known(layout.Tag)) {
        layout.Problem = kMalformedFormat;
    }
}

// Where a WAVE file's chunk headers and bodies are read from: mmio for RIFF files, the file
// itself for RF64, which mmio does not know, and whose offsets go beyond 32 bits.
class ChunkSource {
public:
    virtual ~ChunkSource() = default;
    // The chunk header at `position`: its id and size.
    virtual bool Head(long long position, char id[4], uint32_t& size) = 0;
    // Up to `size` bytes from `position`; the number read.
    virtual size_t Body(long long position, unsigned char* out, size_t size) = 0;
};

class MmioSource : public ChunkSource {
public:
    explicit MmioSource(HMMIO file) : file_(file) {}
    bool Head(long long position, char id[4], uint32_t& size) override {
        if (position > INT32_MAX || mmioSeek(file_, static_cast<LONG>(position), SEEK_SET) < 0) {
            return false;
        }
        // Without a parent chunk: RIFF sizes are not trusted (a recording cut off before its
        // first header update says 8), the chunks are followed to the end of the file.
        MMCKINFO chunk{};
        if (mmioDescend(file_, &chunk, nullptr, 0) != MMSYSERR_NOERROR) return false;
        std::memcpy(id, &chunk.ckid, 4);
        size = chunk.cksize;
        return true;
    }
    size_t Body(long long position, unsigned char* out, size_t size) override {
        if (position > INT32_MAX || mmioSeek(file_, static_cast<LONG>(position), SEEK_SET) < 0) {
            return 0;
        }
        const LONG got = mmioRead(file_, reinterpret_cast<HPSTR>(out), static_cast<LONG>(size));
        return got > 0 ? static_cast<size_t>(got) : 0;
    }

private:
    HMMIO file_;
};

class FileSource : public ChunkSource {
public:
    explicit FileSource(int fd) : fd_(fd) {}
    bool Head(long long position, char id[4], uint32_t& size) override {
        unsigned char head[8];
        if (!ReadAt(fd_, position, head, sizeof(head))) return false;
        std::memcpy(id, head, 4);
        size = Get32(head + 4);
        return true;
    }
    size_t Body(long long position, unsigned char* out, size_t size) override {
        if (_lseeki64(fd_, position, SEEK_SET) < 0) return 0;
        const int got = _read(fd_, out, static_cast<unsigned>(size));
        return got > 0 ? static_cast<size_t>(got) : 0;
    }

private:
    int fd_;
};

// Chunk ids are four printable characters; anything else ends the header, as on Linux.
bool PrintableId(const char id[4]) {
    for (int k = 0; k < 4; ++k) {
        if (id[k] < 0x20 || id[k] > 0x7E) return false;
    }
    return true;
}

// Walks the chunks after the 12-byte "RIFF"/"RF64" size "WAVE" head up to the samples. The
// data size is the ds64 chunk's 64-bit one where an RF64 data chunk says 0xFFFFFFFF; a data
// size of 0 (a recording cut off before its first header update) or a RIFF one of 0xFFFFFFFF
// (a stream) means that the samples run to the end of the file.
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
                dataSize64 = Get64(sizes + 8);
                const long long tableEnd = 28 + 12LL * Get32(sizes + 24);
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
            if (rf64 && !haveDs64 && size == kUnknownDataSize) {
                layout.Problem = kNoLength;
                return layout;
            }
            layout.HasData = true;
            layout.Offset = position + 8;
            layout.SizeBytes = rf64 && size == kUnknownDataSize ? dataSize64 : size;
            layout.Streamed = layout.SizeBytes == 0 || (!rf64 && size == kUnknownDataSize);
            // An extensible format's PCM is at most 32 bits wide, its float 32 or 64 bits.
            const int tag = layout.Tag, bits = layout.Bits;
            if (layout.RawTag == kExtensibleTag &&
                ((tag == kPcmTag && bits > 32) || (tag == kFloatTag && bits != 32 && bits != 64))) {
                layout.Problem = kUnimplemented;
            }
            return layout;
        }
        position += 8 + static_cast<long long>(size) + (size & 1);
    }
    layout.Problem = rf64 ? kNoRf64DataChunk : kNoDataChunk;
    return layout;
}

// The chunks of `path` (open as `fd`): an RF64 file walked directly, a RIFF one through mmio.
// False when the file is neither RIFF nor RF64 WAVE.
bool FindChunks(const std::string& path, int fd, long long fileSize, WavLayout& layout) {
    unsigned char head[12];
    if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head + 8, "WAVE", 4) != 0) return false;
    if (std::memcmp(head, "RF64", 4) == 0) {
        FileSource source(fd);
        layout = WalkChunks(source, fileSize, true);
        return true;
    }
    HMMIO file = mmioOpenA(const_cast<char*>(path.c_str()), nullptr, MMIO_READ | MMIO_DENYNONE);
    if (file == nullptr) return false;
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    const bool wave = mmioDescend(file, &riff, nullptr, MMIO_FINDRIFF) == MMSYSERR_NOERROR;
    if (wave) {
        MmioSource source(file);
        layout = WalkChunks(source, fileSize, false);
    }
    mmioClose(file, 0);
    return wave;
}

// What is wrong with the fields of the first "fmt " chunk, found by its chunk sizes alone, in
// the Linux build's words; "" when nothing is. This comes before any other fault of the
// header, as on Linux.
std::string PlainFormatProblem(int fd, long long fileSize) {
    long long position = 12;
    for (int chunk = 0; chunk < kMaxHeaderChunks && position + 8 <= fileSize; ++chunk) {
        unsigned char head[8];
        if (!ReadAt(fd, position, head, sizeof(head))) return "";
        const uint32_t size = Get32(head + 4);
        if (std::memcmp(head, "fmt ", 4) == 0) {
            unsigned char fmt[16];  // tag, channels, rate, bytes/s, block align, bits
            if (size < sizeof(fmt) || !ReadAt(fd, position + 8, fmt, sizeof(fmt))) return "";
            return WavFormatProblem(Get16(fmt), Get16(fmt + 2), Get32(fmt + 4), Get16(fmt + 14));
        }
        position += 8 + static_cast<long long>(size) + (size & 1);
    }
    return "";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Reading

struct WavReaderFile {
    int Fd = -1;
    int Tag = kPcmTag;
    int BytesPerSample = 2;
    long long DataOffset = 0;           // [bytes] where the first sample is
    std::vector<unsigned char> Buffer;  // the file's bytes of the frames being converted

    ~WavReaderFile() {
        if (Fd >= 0) _close(Fd);
    }
};

WavReader::WavReader() = default;
WavReader::~WavReader() { CloseWavReader(*this); }

void CloseWavReader(WavReader& reader) {
    reader.File.reset();
    reader.Frames = 0;
    reader.FramesRead = 0;
    reader.Warning.clear();
    reader.LateWarning.clear();
}

bool OpenWavReader(WavReader& reader, const std::string& path, std::string& error) {
    CloseWavReader(reader);
    reader.Path = path;
    if (IsDirectory(path)) {
        error = path + ": cannot open: " + SystemReason(EISDIR);
        return false;
    }
    auto file = std::make_unique<WavReaderFile>();
    file->Fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (file->Fd < 0) {
        error = path + ": cannot open: " + SystemReason(errno);
        return false;
    }
    // A device (CON) or a pipe could keep the reads waiting for ever: only files are read.
    struct _stat64 status {};
    if (_fstat64(file->Fd, &status) == 0 && NotAFileKind(status.st_mode) != nullptr) {
        error = path + ": cannot open: " + NotAFileKind(status.st_mode) + ", not a regular file";
        return false;
    }
    const long long fileSize = _filelengthi64(file->Fd);

    WavLayout layout;
    if (!FindChunks(path, file->Fd, fileSize, layout)) {
        error = path + ": not a sound file (" + kNotRecognised + ")";
        return false;
    }
    const std::string plain = PlainFormatProblem(file->Fd, fileSize);
    const bool pcm = layout.Tag == kPcmTag, real = layout.Tag == kFloatTag;
    if (!plain.empty()) {
        error = path + ": " + plain;
    } else if (layout.Problem == kNoLength) {
        error = path + ": " + kNoLength;
    } else if (!layout.Problem.empty()) {
        error = path + ": damaged sound file (" + layout.Problem + ")";
    } else if (layout.Channels > kMaxChannels) {
        error = path + ": damaged sound file (Too many channels specified.)";
    } else if (layout.Channels != 2) {
        error = path + ": " + std::to_string(layout.Channels) +
                " channel(s); a stereo recording is needed";
    } else if (layout.Rate != static_cast<uint32_t>(kFramesPerSecond)) {
        error = path + ": " + std::to_string(layout.Rate) + " frames per second; " +
                std::to_string(kFramesPerSecond) + " are needed";
    } else if (!pcm && !real) {
        error = path + ": " + (layout.Tag == kULawTag ? "U-Law" : "A-Law") +
                " encoding; PCM (8, 16, 24 or 32-bit) or float samples are needed";
    } else {
        file->Tag = layout.Tag;
        file->BytesPerSample = (layout.Bits + 7) / 8;
        file->DataOffset = layout.Offset;
        const uint64_t frameBytes = 2 * static_cast<uint64_t>(file->BytesPerSample);
        const uint64_t held = static_cast<uint64_t>(std::max(0LL, fileSize - layout.Offset));
        const uint64_t present = layout.Streamed ? held : std::min(held, layout.SizeBytes);
        reader.Frames = static_cast<long long>(present / frameBytes);
        if (!layout.Streamed && layout.SizeBytes > held) {
            reader.Warning =
                TruncatedWarning(path, layout.SizeBytes, held, frameBytes, reader.Frames);
        }
        reader.File = std::move(file);
        return true;
    }
    return false;
}

long long WavFrameCount(const WavReader& reader) { return reader.Frames; }

namespace {

// One sample of the file's encoding as 16 bits: PCM wider or narrower than 16 bits rounded to
// nearest (halves away from zero), float full scale 1.0 as 32767.
int16_t ConvertSample(const unsigned char* p, int tag, int bytes) {
    if (tag == kFloatTag) {
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
    if (bytes == 2) return static_cast<int16_t>(Get16(p));
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

}  // namespace

long long ReadWavFrames(WavReader& reader, Frame* out, long long maxFrames, std::string& error) {
    if (reader.File == nullptr) {
        error = (reader.Path.empty() ? std::string("WAV reader") : reader.Path) + ": not open";
        return -1;
    }
    if (maxFrames <= 0) return 0;
    WavReaderFile& file = *reader.File;
    const long long frameBytes = 2LL * file.BytesPerSample;
    // Never past the frames counted at the open: what follows the data chunk is not samples.
    const long long wanted = std::min(maxFrames, std::max(0LL, reader.Frames - reader.FramesRead));
    long long done = 0;
    if (_lseeki64(file.Fd, file.DataOffset + reader.FramesRead * frameBytes, SEEK_SET) < 0) {
        error = reader.Path + ": read failed: " + SystemReason(errno);
        return -1;
    }
    // 16-bit PCM is the frames' own layout: read straight into `out`, in large pieces.
    const bool direct = file.Tag == kPcmTag && file.BytesPerSample == 2;
    while (done < wanted) {
        const long long want =
            std::min(direct ? kDirectChunkFrames : kConvertChunkFrames, wanted - done);
        unsigned char* target = reinterpret_cast<unsigned char*>(out + done);
        if (!direct) {
            file.Buffer.resize(static_cast<size_t>(kConvertChunkFrames * frameBytes));
            target = file.Buffer.data();
        }
        long long gotBytes = 0;
        while (gotBytes < want * frameBytes) {
            const int n = _read(file.Fd, target + gotBytes,
                                static_cast<unsigned>(want * frameBytes - gotBytes));
            if (n < 0) {
                error = reader.Path + ": read failed: " + SystemReason(errno);
                return -1;
            }
            if (n == 0) break;
            gotBytes += n;
        }
        const long long got = gotBytes / frameBytes;
        if (!direct) {
            for (long long n = 0; n < got; ++n) {
                const unsigned char* p = target + n * frameBytes;
                out[done + n].Rf = ConvertSample(p, file.Tag, file.BytesPerSample);
                out[done + n].Pps =
                    ConvertSample(p + file.BytesPerSample, file.Tag, file.BytesPerSample);
            }
        }
        done += got;
        if (got < want) break;
    }
    reader.FramesRead += done;
    // A short read is the end of the file; before the frames counted at the open, another
    // program has shortened it.
    NoteLateTruncation(reader, done, maxFrames);
    return done;
}

// ---------------------------------------------------------------------------------------------
// Writing
//
// The file goes through the states the Linux build's sound library gives it, byte for byte:
// - at the open, a 104-byte RF64 placeholder header (sizes unknown);
// - at the first frames, unless a header was written before, a 112-byte plain WAV header with
//   a RIFF size of 8 and no frames, the frames following it;
// - at every header update and at the close, the header for the frames so far: plain WAV while
//   the file is below 4 GiB, RF64 (ds64 chunk in place of the JUNK chunk, PAD in place of fact)
//   from then on. The RIFF size is the file's length before the rewrite, less 8.

namespace {

constexpr long long kHeaderBytes = 112;  // [bytes] where the samples start

// The extensible "fmt " chunk of stereo 16-bit PCM at 8000 Hz, both channels front.
std::string FormatChunk() {
    std::string fmt = "fmt ";
    Put(fmt, 40, 4);
    Put(fmt, kExtensibleTag, 2);
    Put(fmt, 2, 2);                     // channels
    Put(fmt, kFramesPerSecond, 4);      // frames per second
    Put(fmt, 4 * kFramesPerSecond, 4);  // bytes per second
    Put(fmt, 4, 2);                     // block align
    Put(fmt, 16, 2);                    // bits per sample
    Put(fmt, 22, 2);                    // extension size
    Put(fmt, 16, 2);                    // valid bits
    Put(fmt, 3, 4);                     // front left, front right
    Put(fmt, kPcmTag, 4);               // the PCM sub-format GUID
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

// The header written at the open, before anything is known.
std::string PlaceholderHeader() {
    std::string head = "RF64";
    Put(head, kUnknownDataSize, 4);
    head += "WAVE" + Ds64Chunk(~uint64_t{7}, ~uint64_t{0}, 0) + FormatChunk() + "data";
    Put(head, kUnknownDataSize, 4);
    return head;
}

// The header for `frames` frames in a file `length` bytes long.
std::string Header(uint64_t length, uint64_t frames) {
    const uint64_t dataSize = 4 * frames;
    std::string head;
    if (length >= kRiffLimit) {
        head = "RF64";
        Put(head, kUnknownDataSize, 4);
        head += "WAVE" + Ds64Chunk(length - 8, dataSize, frames) + FormatChunk() + "PAD ";
        Put(head, 0, 4);
        head += "data";
        Put(head, kUnknownDataSize, 4);
        return head;
    }
    head = "RIFF";
    Put(head, (length - 8) & 0xFFFFFFFF, 4);
    head += "WAVEJUNK";
    Put(head, 24, 4);
    head.append(24, '\0');
    head += FormatChunk() + "fact";
    Put(head, 4, 4);
    Put(head, frames, 4);
    head += "data";
    Put(head, dataSize, 4);
    return head;
}

}  // namespace

struct WavWriterFile {
    int Fd = -1;
    bool HeaderWritten = false;  // the plain 112-byte header has replaced the placeholder
    uint64_t Length = 0;         // [bytes] of the file

    ~WavWriterFile() {
        if (Fd >= 0) _close(Fd);
    }
};

WavWriter::WavWriter() = default;
WavWriter::~WavWriter() {
    std::string ignored;
    CloseWavWriter(*this, ignored);
}

bool OpenWavWriter(WavWriter& writer, const std::string& path, std::string& error) {
    std::string closeError;
    CloseWavWriter(writer, closeError);
    writer.Path = path;
    writer.FramesWritten = 0;
    if (IsDirectory(path)) {
        error = path + ": cannot create: " + SystemReason(EISDIR);
        return false;
    }
    auto file = std::make_unique<WavWriterFile>();
    file->Fd = _open(path.c_str(), _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                     _S_IREAD | _S_IWRITE);
    if (file->Fd < 0) {
        error = path + ": cannot create: " + SystemReason(errno);
        return false;
    }
    const std::string head = PlaceholderHeader();
    int code = 0;
    if (!WriteAt(file->Fd, 0, head.data(), head.size(), code)) {
        error = path + ": cannot write a WAV file: " + SystemReason(code);
        return false;
    }
    file->Length = head.size();
    writer.File = std::move(file);
    return true;
}

namespace {

bool WriteHeader(WavWriter& writer, const std::string& head, int& code) {
    WavWriterFile& file = *writer.File;
    if (!WriteAt(file.Fd, 0, head.data(), head.size(), code)) return false;
    file.HeaderWritten = true;
    file.Length = std::max<uint64_t>(file.Length, head.size());
    return true;
}

}  // namespace

bool WriteWavFrames(WavWriter& writer, const Frame* frames, long long count, std::string& error) {
    if (writer.File == nullptr) {
        error = (writer.Path.empty() ? std::string("WAV writer") : writer.Path) + ": not open";
        return false;
    }
    if (count <= 0) return true;
    WavWriterFile& file = *writer.File;
    int code = 0;
    if (!file.HeaderWritten && !WriteHeader(writer, Header(16, 0), code)) {
        error = writer.Path + ": cannot write: " + SystemReason(code);
        return false;
    }
    const long long offset = kHeaderBytes + 4 * writer.FramesWritten;
    // Little-endian 16-bit stereo frames are the file's own layout.
    if (!WriteAt(file.Fd, offset, frames, static_cast<size_t>(4 * count), code)) {
        // Whole frames that reached the file count, as a partial write would leave them.
        const long long end = _lseeki64(file.Fd, 0, SEEK_END);
        if (end > offset) {
            writer.FramesWritten += (end - offset) / 4;
            file.Length = std::max<uint64_t>(file.Length, static_cast<uint64_t>(end));
        }
        error = writer.Path + ": cannot write: " + SystemReason(code);
        return false;
    }
    writer.FramesWritten += count;
    file.Length = std::max<uint64_t>(file.Length, static_cast<uint64_t>(offset + 4 * count));
    return true;
}

bool UpdateWavHeader(WavWriter& writer, std::string& error) {
    if (writer.File == nullptr) {
        error = (writer.Path.empty() ? std::string("WAV writer") : writer.Path) + ": not open";
        return false;
    }
    int code = 0;
    const std::string head =
        Header(writer.File->Length, static_cast<uint64_t>(writer.FramesWritten));
    if (!WriteHeader(writer, head, code)) {
        error = writer.Path + ": cannot update the header: " + SystemReason(code);
        return false;
    }
    return true;
}

bool CloseWavWriter(WavWriter& writer, std::string& error) {
    if (writer.File == nullptr) return true;
    int code = 0;
    const std::string head =
        Header(writer.File->Length, static_cast<uint64_t>(writer.FramesWritten));
    bool ok = WriteHeader(writer, head, code);
    const int fd = writer.File->Fd;
    writer.File->Fd = -1;
    if (_close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    writer.File.reset();
    if (!ok) error = writer.Path + ": cannot finish the file: " + SystemReason(code);
    return ok;
}

}  // namespace qv
