// The WAV back end on Linux: stereo recordings at 8000 Hz or a card's rate, read and written
// with libsndfile.

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "files/wav_file_backend.h"
#include "files/wav_format.h"
#include "files/whole_file.h"

namespace qv {

namespace {

static_assert(offsetof(Frame, Rf) == 0 && offsetof(Frame, Pps) == sizeof(int16_t),
              "a Frame array must be laid out as interleaved 16-bit stereo samples");

constexpr long long kConvertChunkFrames = 4096;    // [frames] per libsndfile call when converting
constexpr int kMaxHeaderChunks = 4096;             // [chunks] walked before giving up on a header
constexpr uint32_t kUnknownDataSize = 0xFFFFFFFF;  // [bytes] data size of a streamed WAV

// The bytes one sample of an accepted encoding takes in the file; 0 for anything else.
int BytesPerSample(int subtype) {
    switch (subtype) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return 1;
        case SF_FORMAT_PCM_16:
            return 2;
        case SF_FORMAT_PCM_24:
            return 3;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
            return 4;
        case SF_FORMAT_DOUBLE:
            return 8;
        default:
            return 0;
    }
}

std::string SubtypeName(int subtype) {
    SF_FORMAT_INFO formatInfo{};
    formatInfo.format = subtype;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &formatInfo, sizeof(formatInfo)) == 0 &&
        formatInfo.name != nullptr) {
        return formatInfo.name;
    }
    return "unknown (subtype " + std::to_string(subtype) + ")";
}

bool ReadAt(int fd, long long offset, unsigned char* buffer, size_t size) {
    return pread(fd, buffer, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

uint32_t Get32(const unsigned char* p, bool bigEndian) {
    if (bigEndian) {
        return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

uint64_t Get64(const unsigned char* p) {  // little-endian, as in the RF64 ds64 chunk
    return (uint64_t{Get32(p + 4, false)} << 32) | Get32(p, false);
}

// What the header of a RIFF/RIFX/RF64 WAVE file says about its sample data. libsndfile quietly
// shortens a data chunk that runs past the end of the file, so the original claim is read here.
struct DataChunkClaim {
    bool Found = false;
    long long Offset = 0;    // [bytes] from the start of the file to the first sample
    uint64_t SizeBytes = 0;  // [bytes] the header promises
};

DataChunkClaim ReadDataChunkClaim(int fd, long long fileSize) {
    DataChunkClaim claim;
    unsigned char head[12];
    if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head + 8, "WAVE", 4) != 0) return claim;
    const bool isRf64 = std::memcmp(head, "RF64", 4) == 0;
    const bool bigEndian = std::memcmp(head, "RIFX", 4) == 0;
    if (!isRf64 && !bigEndian && std::memcmp(head, "RIFF", 4) != 0) return claim;

    uint64_t rf64DataSize = 0;
    long long position = sizeof(head);
    for (int chunk = 0; chunk < kMaxHeaderChunks && position + 8 <= fileSize; ++chunk) {
        unsigned char chunkHead[8];
        if (!ReadAt(fd, position, chunkHead, sizeof(chunkHead))) return claim;
        const uint32_t size = Get32(chunkHead + 4, bigEndian);
        if (isRf64 && std::memcmp(chunkHead, "ds64", 4) == 0) {
            unsigned char sizes[16];  // RIFF size, then data size
            if (!ReadAt(fd, position + 8, sizes, sizeof(sizes))) return claim;
            rf64DataSize = Get64(sizes + 8);
        }
        if (std::memcmp(chunkHead, "data", 4) == 0) {
            claim.Found = true;
            claim.Offset = position + 8;
            claim.SizeBytes = (isRf64 && size == kUnknownDataSize) ? rf64DataSize : size;
            // A streaming writer that never learnt the length claims the maximum: no promise.
            if (!isRf64 && size == kUnknownDataSize) claim.Found = false;
            return claim;
        }
        position += 8 + static_cast<long long>(size) + (size & 1);
    }
    return claim;
}

// Fills reader.warning when the header promises more frames than the file holds.
void CheckTruncation(WavReader& reader, const SF_INFO& info, int subtype, int fd,
                     long long fileSize) {
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX && container != SF_FORMAT_RF64) {
        return;
    }
    const DataChunkClaim claim = ReadDataChunkClaim(fd, fileSize);
    if (!claim.Found) return;
    const long long heldBytes = std::max(0LL, fileSize - claim.Offset);
    if (claim.SizeBytes <= static_cast<uint64_t>(heldBytes)) return;
    const uint64_t frameBytes = static_cast<uint64_t>(info.channels) * BytesPerSample(subtype);
    reader.Warning = TruncatedWarning(reader.Path, claim.SizeBytes,
                                      static_cast<uint64_t>(heldBytes), frameBytes, reader.Frames);
}

// What is wrong with a header that libsndfile refuses, in plain words, for the cases where its
// own text is an internal one ("Internal error : SF_INFO struct incomplete.", "Unspecified
// internal error.") or says too little; "" when the header shows nothing wrong of these kinds.
std::string PlainHeaderProblem(int fd, long long fileSize) {
    unsigned char head[24];
    if (!ReadAt(fd, 0, head, sizeof(head))) return "";
    if (std::memcmp(head, ".snd", 4) == 0) {  // AU: big-endian rate at 16, channels at 20
        const uint32_t rate = Get32(head + 16, true), channels = Get32(head + 20, true);
        if (rate == 0 || rate > INT32_MAX) {
            return "not a usable AU header: sample rate " + std::to_string(rate);
        }
        if (channels == 0) return "not a usable AU header: 0 channels";
        return "";
    }
    const bool bigEndian = std::memcmp(head, "RIFX", 4) == 0;
    const bool riff =
        bigEndian || std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0;
    if (!riff || std::memcmp(head + 8, "WAVE", 4) != 0) return "";
    long long position = 12;
    for (int chunk = 0; chunk < kMaxHeaderChunks && position + 8 <= fileSize; ++chunk) {
        unsigned char chunkHead[8];
        if (!ReadAt(fd, position, chunkHead, sizeof(chunkHead))) return "";
        const uint32_t size = Get32(chunkHead + 4, bigEndian);
        if (std::memcmp(chunkHead, "fmt ", 4) == 0) {
            unsigned char fmt[16];  // tag, channels, rate, bytes/s, block align, bits
            if (size < sizeof(fmt) || !ReadAt(fd, position + 8, fmt, sizeof(fmt))) return "";
            auto get16 = [bigEndian](const unsigned char* p) {
                return bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0];
            };
            return WavFormatProblem(get16(fmt), get16(fmt + 2), Get32(fmt + 4, bigEndian),
                                    get16(fmt + 14));
        }
        position += 8 + static_cast<long long>(size) + (size & 1);
    }
    return "";
}

// libsndfile's texts for a header it cannot use that speak of its own internals.
bool IsInternalText(const std::string& reason) {
    return reason.find("nternal error") != std::string::npos ||
           reason.find("SF_INFO") != std::string::npos;
}

std::string SystemReason(int errorNumber) { return std::strerror(errorNumber); }

// libsndfile's text for a failed read or write, as the other reasons read: its "System error :"
// prefix and closing full stop left out ("File too large").
std::string SndfileReason(SNDFILE* file) {
    std::string reason = sf_strerror(file);
    const std::string prefix = "System error : ";
    if (reason.rfind(prefix, 0) == 0) reason.erase(0, prefix.size());
    if (!reason.empty() && reason.back() == '.') reason.pop_back();
    return reason;
}

class SndfileReader : public WavReaderFile {
public:
    SndfileReader(SNDFILE* file, int subtype) : file_(file), subtype_(subtype) {}
    ~SndfileReader() override { sf_close(file_); }

    long long Read(Frame* out, long long maxFrames, long long /*framesRead*/, long long /*frames*/,
                   std::string& reason) override {
        long long done = 0;
        if (subtype_ == SF_FORMAT_PCM_16) {
            done = sf_readf_short(file_, reinterpret_cast<short*>(out), maxFrames);
        } else if (subtype_ == SF_FORMAT_FLOAT || subtype_ == SF_FORMAT_DOUBLE) {
            realBuffer_.resize(2 * kConvertChunkFrames);
            while (done < maxFrames) {
                const long long want = std::min(kConvertChunkFrames, maxFrames - done);
                const long long got = sf_readf_double(file_, realBuffer_.data(), want);
                for (long long n = 0; n < got; ++n) {
                    out[done + n].Rf = ClipToInt16(std::round(realBuffer_[2 * n] * 32767.0));
                    out[done + n].Pps = ClipToInt16(std::round(realBuffer_[2 * n + 1] * 32767.0));
                }
                done += std::max(0LL, got);
                if (got < want) break;
            }
        } else {
            // libsndfile delivers every PCM width left-justified in 32 bits.
            intBuffer_.resize(2 * kConvertChunkFrames);
            while (done < maxFrames) {
                const long long want = std::min(kConvertChunkFrames, maxFrames - done);
                const long long got = sf_readf_int(file_, intBuffer_.data(), want);
                for (long long n = 0; n < got; ++n) {
                    out[done + n].Rf = ClipToInt16(std::round(intBuffer_[2 * n] / 65536.0));
                    out[done + n].Pps = ClipToInt16(std::round(intBuffer_[2 * n + 1] / 65536.0));
                }
                done += std::max(0LL, got);
                if (got < want) break;
            }
        }
        if (sf_error(file_) != SF_ERR_NO_ERROR) {
            reason = SndfileReason(file_);
            return -1;
        }
        return done;
    }

private:
    SNDFILE* file_;
    int subtype_;                     // SF_FORMAT_PCM_16, SF_FORMAT_FLOAT, ...
    std::vector<int> intBuffer_;      // conversion buffer for PCM other than 16-bit
    std::vector<double> realBuffer_;  // conversion buffer for float and double
};

class SndfileWriter : public WavWriterFile {
public:
    explicit SndfileWriter(SNDFILE* file) : file_(file) {}
    ~SndfileWriter() override {
        if (file_ != nullptr) sf_close(file_);
    }

    bool Write(const Frame* frames, long long count, long long /*framesBefore*/, long long& written,
               std::string& reason) override {
        written = sf_writef_short(file_, reinterpret_cast<const short*>(frames), count);
        if (written == count) return true;
        reason = SndfileReason(file_);
        return false;
    }

    bool UpdateHeader(long long /*frames*/, std::string& reason) override {
        sf_command(file_, SFC_UPDATE_HEADER_NOW, nullptr, 0);
        if (sf_error(file_) == SF_ERR_NO_ERROR) return true;
        reason = SndfileReason(file_);
        return false;
    }

    bool Finish(long long /*frames*/, std::string& reason) override {
        const int code = sf_close(file_);
        file_ = nullptr;
        if (code == SF_ERR_NO_ERROR) return true;
        reason = sf_error_number(code);
        return false;
    }

private:
    SNDFILE* file_;
};

}  // namespace

bool OpenWavReaderFile(WavReader& reader, std::string& error) {
    const std::string& path = reader.Path;
    // The file is opened here rather than by libsndfile so that a failure reports the system's
    // reason, so that its size is known for the truncation check, and so that a FIFO or a
    // device, whose open or reads could wait for ever, is refused.
    std::string notOpened;
    const int fd = OpenInputFile(path, notOpened);
    if (fd < 0) {
        error = path + ": cannot open: " + notOpened;
        return false;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        error = path + ": cannot open: " + SystemReason(errno);
        close(fd);
        return false;
    }

    // Looked at before libsndfile, which closes the descriptor when it refuses the file.
    const std::string headerProblem = PlainHeaderProblem(fd, status.st_size);
    SF_INFO info{};
    // libsndfile reads from the descriptor and closes it in sf_close (or at once on failure).
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (file == nullptr) {
        const int code = sf_error(nullptr);
        const std::string reason = sf_error_number(code);
        if (code == SF_ERR_UNRECOGNISED_FORMAT) {
            error = path + ": not a sound file (" + reason + ")";
        } else if (!headerProblem.empty()) {
            error = path + ": " + headerProblem;
        } else if (IsInternalText(reason)) {
            error = path + ": not a usable sound file header: its sample rate, channel count " +
                    "or length is missing or out of range";
        } else {
            error = path + ": damaged sound file (" + reason + ")";
        }
        return false;
    }

    const int subtype = info.format & SF_FORMAT_SUBMASK;
    if (info.frames < 0) {
        error = path + ": not a usable sound file header: a negative length";
    } else if (info.channels != 2) {
        error = path + ": " + std::to_string(info.channels) +
                " channel(s); a stereo recording is needed";
    } else if (!WavRateProblem(static_cast<uint32_t>(info.samplerate)).empty()) {
        error = path + ": " + WavRateProblem(static_cast<uint32_t>(info.samplerate));
    } else if (BytesPerSample(subtype) == 0) {
        error = path + ": " + SubtypeName(subtype) +
                " encoding; PCM (8, 16, 24 or 32-bit) or float samples are needed";
    } else {
        reader.File = std::make_unique<SndfileReader>(file, subtype);
        reader.Frames = info.frames;
        reader.Rate = info.samplerate;
        CheckTruncation(reader, info, subtype, fd, status.st_size);
        return true;
    }
    sf_close(file);
    return false;
}

bool OpenWavWriterFile(WavWriter& writer, std::string& error) {
    const std::string& path = writer.Path;
    // Created here rather than by libsndfile so that a failure reports the system's reason,
    // and so that a FIFO without a reader is refused rather than waited for.
    const int fd = OpenOutputFile(path, os::kReadWrite | os::kCreate | os::kTruncate);
    if (fd < 0) {
        error = path + ": cannot create: " + os::OpenFailure(path, errno);
        return false;
    }
    SF_INFO info{};
    info.samplerate = writer.Rate;
    info.channels = 2;
    info.format = SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file == nullptr) {
        error = path + ": cannot write a WAV file: " + SndfileReason(nullptr);
        return false;
    }
    // Below 4 GiB the file is finished as a plain WAV that every program reads.
    sf_command(file, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    writer.File = std::make_unique<SndfileWriter>(file);
    return true;
}

}  // namespace qv
