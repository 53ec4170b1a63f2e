// The WAV back end on Windows: stereo recordings at 8000 Hz or a card's rate whose RIFF chunks
// are found through mmio, whose samples are moved with 64-bit file offsets, and whose RF64 headers
// (which mmio does not know) are walked and written by our own code (files/wav_riff.h). Messages
// and written bytes are those of the Linux build for the same files and frames.

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "files/wav_file_backend.h"
#include "files/wav_riff.h"
#include "files/whole_file.h"

namespace qv {

namespace {

static_assert(offsetof(Frame, Rf) == 0 && offsetof(Frame, Pps) == sizeof(int16_t),
              "a Frame array must be laid out as interleaved 16-bit stereo samples");

constexpr long long kConvertChunkFrames = 4096;    // [frames] read at once when converting
constexpr long long kDirectChunkFrames = 1 << 24;  // [frames] read at once otherwise (64 MiB)

std::string SystemReason(int errorNumber) { return std::strerror(errorNumber); }

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

// Where a WAVE file's chunk headers and bodies are read from: mmio for RIFF files, the file
// itself for RF64, which mmio does not know, and whose offsets go beyond 32 bits.
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
        size = Le32(head + 4);
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

class MmioReader : public WavReaderFile {
public:
    MmioReader(int fd, int tag, int bytesPerSample, long long dataOffset)
        : fd_(fd), tag_(tag), bytesPerSample_(bytesPerSample), dataOffset_(dataOffset) {}
    ~MmioReader() override { _close(fd_); }

    long long Read(Frame* out, long long maxFrames, long long framesRead, long long frames,
                   std::string& reason) override {
        const long long frameBytes = 2LL * bytesPerSample_;
        // Never past the frames counted at the open: what follows the data chunk is not samples.
        const long long wanted = std::min(maxFrames, std::max(0LL, frames - framesRead));
        long long done = 0;
        if (_lseeki64(fd_, dataOffset_ + framesRead * frameBytes, SEEK_SET) < 0) {
            reason = SystemReason(errno);
            return -1;
        }
        // 16-bit PCM is the frames' own layout: read straight into `out`, in large pieces.
        const bool direct = tag_ == kWavPcmTag && bytesPerSample_ == 2;
        while (done < wanted) {
            const long long want =
                std::min(direct ? kDirectChunkFrames : kConvertChunkFrames, wanted - done);
            unsigned char* target = reinterpret_cast<unsigned char*>(out + done);
            if (!direct) {
                buffer_.resize(static_cast<size_t>(kConvertChunkFrames * frameBytes));
                target = buffer_.data();
            }
            long long gotBytes = 0;
            while (gotBytes < want * frameBytes) {
                const int n = _read(fd_, target + gotBytes,
                                    static_cast<unsigned>(want * frameBytes - gotBytes));
                if (n < 0) {
                    reason = SystemReason(errno);
                    return -1;
                }
                if (n == 0) break;
                gotBytes += n;
            }
            const long long got = gotBytes / frameBytes;
            if (!direct) {
                for (long long n = 0; n < got; ++n) {
                    const unsigned char* p = target + n * frameBytes;
                    out[done + n].Rf = ConvertWavSample(p, tag_, bytesPerSample_);
                    out[done + n].Pps =
                        ConvertWavSample(p + bytesPerSample_, tag_, bytesPerSample_);
                }
            }
            done += got;
            if (got < want) break;
        }
        return done;
    }

private:
    int fd_;
    int tag_;                            // kWavPcmTag or kWavFloatTag
    int bytesPerSample_;                 // [bytes]
    long long dataOffset_;               // [bytes] where the first sample is
    std::vector<unsigned char> buffer_;  // the file's bytes of the frames being converted
};

// The file goes through the states the Linux build's sound library gives it, byte for byte:
// - at the open, a 104-byte RF64 placeholder header (sizes unknown);
// - at the first frames, unless a header was written before, a 112-byte plain WAV header with
//   a RIFF size of 8 and no frames, the frames following it;
// - at every header update and at the close, the header for the frames so far (WavHeader),
//   the RIFF size taken from the file's length before the rewrite.
class MmioWriter : public WavWriterFile {
public:
    MmioWriter(int fd, uint64_t length, int rate) : fd_(fd), length_(length), rate_(rate) {}
    ~MmioWriter() override {
        if (fd_ >= 0) _close(fd_);
    }

    bool Write(const Frame* frames, long long count, long long framesBefore, long long& written,
               std::string& reason) override {
        int code = 0;
        if (!headerWritten_ && !WriteHeader(WavHeader(16, 0, rate_), code)) {
            reason = SystemReason(code);
            return false;
        }
        const long long offset = kWavHeaderBytes + 4 * framesBefore;
        // Little-endian 16-bit stereo frames are the file's own layout.
        if (!WriteAt(fd_, offset, frames, static_cast<size_t>(4 * count), code)) {
            // Whole frames that reached the file count, as a partial write would leave them.
            const long long end = _lseeki64(fd_, 0, SEEK_END);
            if (end > offset) {
                written = (end - offset) / 4;
                length_ = std::max<uint64_t>(length_, static_cast<uint64_t>(end));
            }
            reason = SystemReason(code);
            return false;
        }
        written = count;
        length_ = std::max<uint64_t>(length_, static_cast<uint64_t>(offset + 4 * count));
        return true;
    }

    bool UpdateHeader(long long frames, std::string& reason) override {
        int code = 0;
        if (WriteHeader(WavHeader(length_, static_cast<uint64_t>(frames), rate_), code))
            return true;
        reason = SystemReason(code);
        return false;
    }

    bool Finish(long long frames, std::string& reason) override {
        int code = 0;
        bool ok = WriteHeader(WavHeader(length_, static_cast<uint64_t>(frames), rate_), code);
        const int fd = fd_;
        fd_ = -1;
        if (_close(fd) != 0 && ok) {
            ok = false;
            code = errno;
        }
        if (!ok) reason = SystemReason(code);
        return ok;
    }

private:
    bool WriteHeader(const std::string& head, int& code) {
        if (!WriteAt(fd_, 0, head.data(), head.size(), code)) return false;
        headerWritten_ = true;
        length_ = std::max<uint64_t>(length_, head.size());
        return true;
    }

    int fd_;
    bool headerWritten_ = false;  // the plain 112-byte header has replaced the placeholder
    uint64_t length_;             // [bytes] of the file
    int rate_;                    // [frames/s] in the header
};

}  // namespace

bool OpenWavReaderFile(WavReader& reader, std::string& error) {
    const std::string& path = reader.Path;
    if (IsDirectory(path)) {
        error = path + ": cannot open: " + SystemReason(EISDIR);
        return false;
    }
    const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        error = path + ": cannot open: " + SystemReason(errno);
        return false;
    }
    // Closed on every return but the one that hands it to the reader.
    struct Closer {
        int Fd;
        ~Closer() {
            if (Fd >= 0) _close(Fd);
        }
    } closer{fd};
    // A device (CON) or a pipe could keep the reads waiting for ever: only files are read.
    os::FileKind kind{};
    int64_t size = 0;
    if (os::KindOfOpen(fd, kind, size) && NotAFileKind(kind) != nullptr) {
        error = path + ": cannot open: " + NotAFileKind(kind) + ", not a regular file";
        return false;
    }
    const long long fileSize = _filelengthi64(fd);

    WavLayout layout;
    if (!FindChunks(path, fd, fileSize, layout)) {
        error = path + ": not a sound file (" + kWavNotRecognised + ")";
        return false;
    }
    FileSource source(fd);
    const std::string problem = AcceptWavLayout(layout, PlainFormatProblem(source, fileSize), path,
                                                fileSize, reader.Frames, reader.Warning);
    if (!problem.empty()) {
        error = path + ": " + problem;
        return false;
    }
    closer.Fd = -1;
    reader.Rate = static_cast<int>(layout.Rate);
    reader.File =
        std::make_unique<MmioReader>(fd, layout.Tag, (layout.Bits + 7) / 8, layout.Offset);
    return true;
}

bool OpenWavWriterFile(WavWriter& writer, std::string& error) {
    const std::string& path = writer.Path;
    if (IsDirectory(path)) {
        error = path + ": cannot create: " + SystemReason(EISDIR);
        return false;
    }
    const int fd = _open(path.c_str(), _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        error = path + ": cannot create: " + SystemReason(errno);
        return false;
    }
    const std::string head = PlaceholderWavHeader(writer.Rate);
    int code = 0;
    if (!WriteAt(fd, 0, head.data(), head.size(), code)) {
        error = path + ": cannot write a WAV file: " + SystemReason(code);
        _close(fd);
        return false;
    }
    writer.File = std::make_unique<MmioWriter>(fd, head.size(), writer.Rate);
    return true;
}

}  // namespace qv
