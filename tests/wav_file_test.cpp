// Tests of WAV reading and writing: round trip, sample conversion, refusals and damaged files.
#include "files/wav_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "files/wav_riff.h"
#include "tests/test_files.h"

namespace qv {

namespace {

namespace fs = std::filesystem;

// Windows reads WAV files only; Linux reads every container its sound library knows, AU too.
#ifdef _WIN32
constexpr bool kReadsOtherContainers = false;
#else
constexpr bool kReadsOtherContainers = true;
#endif

class WavFileTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return folder_.Path(name); }

    TestFolder folder_;
};

std::vector<Frame> Ramp(size_t count) {
    std::vector<Frame> frames(count);
    for (size_t k = 0; k < count; ++k) {
        frames[k] = {static_cast<int16_t>(k * 37 - 20000), static_cast<int16_t>(5 - 11 * int(k))};
    }
    return frames;
}

// Whether `back` holds the first `count` frames of `frames`, both channels.
bool SameFrames(const std::vector<Frame>& back, const std::vector<Frame>& frames, size_t count) {
    return count <= frames.size() &&
           SameFrames(back, std::vector<Frame>(frames.begin(), frames.begin() + count));
}

// Reads to the end in blocks of `block` frames; a read error fails the test.
std::vector<Frame> ReadAll(WavReader& reader, long long block = 1000) {
    std::vector<Frame> all, buffer(block);
    std::string error;
    long long n = 0;
    while ((n = ReadWavFrames(reader, buffer.data(), block, error)) > 0) {
        all.insert(all.end(), buffer.begin(), buffer.begin() + n);
    }
    EXPECT_EQ(n, 0) << error;
    return all;
}

// The sample encodings a test file can be written in.
enum class Encoding { Pcm8, Pcm16, Pcm24, Pcm32, Float, Double, ULaw };

// Little-endian bytes of the low `bytes` bytes of `v`.
std::string Le(uint64_t v, int bytes) {
    std::string s;
    for (int k = 0; k < bytes; ++k) s += static_cast<char>((v >> (8 * k)) & 0xFF);
    return s;
}

// A plain RIFF WAVE file whose 16-byte fmt chunk holds the given fields, then `data` (by default
// 100 silent frames of stereo 16-bit PCM).
std::string WavWithFormat(int tag, int channels, uint32_t rate, int bits,
                          const std::string& data = std::string(400, '\0')) {
    const uint32_t align = static_cast<uint32_t>(channels * bits / 8);
    const std::string body = "WAVEfmt " + Le(16, 4) + Le(tag, 2) + Le(channels, 2) + Le(rate, 4) +
                             Le(rate * align, 4) + Le(align, 2) + Le(bits, 2) + "data" +
                             Le(data.size(), 4) + data;
    return "RIFF" + Le(body.size(), 4) + body;
}

// A plain RIFF WAVE file written byte by byte, from doubles (not clipped on the way in) or from
// left-justified 32-bit ints, as a sound library would write them.
template <typename T>
void WriteWavBytes(const std::string& path, Encoding encoding, int channels, int rate,
                   const std::vector<T>& samples) {
    int tag = 1, bits = 16;
    std::string data;
    for (const T& value : samples) {
        const double real = static_cast<double>(value);
        const int32_t left = static_cast<int32_t>(value);  // ints: left-justified in 32 bits
        switch (encoding) {
            case Encoding::Pcm8:
                bits = 8;
                data += Le(static_cast<uint8_t>((left >> 24) + 128), 1);
                break;
            case Encoding::Pcm16:
                data += Le(static_cast<uint16_t>(std::lround(real * 32767)), 2);
                break;
            case Encoding::Pcm24:
                bits = 24;
                data += Le(static_cast<uint32_t>(left) >> 8, 3);
                break;
            case Encoding::Pcm32:
                bits = 32;
                data += Le(static_cast<uint32_t>(left), 4);
                break;
            case Encoding::Float: {
                tag = 3, bits = 32;
                const float f = static_cast<float>(real);
                uint32_t u;
                std::memcpy(&u, &f, sizeof(u));
                data += Le(u, 4);
                break;
            }
            case Encoding::Double: {
                tag = 3, bits = 64;
                uint64_t u;
                std::memcpy(&u, &real, sizeof(u));
                data += Le(u, 8);
                break;
            }
            case Encoding::ULaw:
                tag = 7, bits = 8;
                data += '\xFF';
                break;
        }
    }
    WriteText(path, WavWithFormat(tag, channels, static_cast<uint32_t>(rate), bits, data));
}

TEST_F(WavFileTest, SixteenBitRoundTripIsExactAndHeaderUpdatesWhileOpen) {
    std::vector<Frame> frames = Ramp(20000);
    frames[0] = {-32768, 32767};
    frames[1] = {32767, -32768};
    WavWriter writer;
    std::string error;
    ASSERT_TRUE(OpenWavWriter(writer, Path("a.wav"), error)) << error;
    ASSERT_TRUE(WriteWavFrames(writer, frames.data(), 1, error)) << error;
    ASSERT_TRUE(WriteWavFrames(writer, frames.data() + 1, 0, error)) << error;
    ASSERT_TRUE(WriteWavFrames(writer, frames.data() + 1, 1999, error)) << error;
    ASSERT_TRUE(UpdateWavHeader(writer, error)) << error;
    ASSERT_TRUE(WriteWavFrames(writer, frames.data() + 2000, 18000, error)) << error;
    {  // as if the program died now: the file, still open for writing, holds 2000 good frames
        WavReader reader;
        ASSERT_TRUE(OpenWavReader(reader, Path("a.wav"), error)) << error;
        EXPECT_TRUE(SameFrames(ReadAll(reader), frames, 2000));
    }
    ASSERT_TRUE(CloseWavWriter(writer, error)) << error;

    EXPECT_EQ(FileText(Path("a.wav")).substr(0, 4), "RIFF") << "small files are plain WAV";
    WavReader reader;
    ASSERT_TRUE(OpenWavReader(reader, Path("a.wav"), error)) << error;
    EXPECT_EQ(WavFrameCount(reader), 20000);
    EXPECT_TRUE(reader.Warning.empty());
    EXPECT_TRUE(SameFrames(ReadAll(reader, 999), frames, 20000));  // the last block is short
}

// Writes `values` in the given encoding, value k on the left channel of frame k and on the
// right channel of frame k - 1, and expects them read back (in odd blocks) as `expected`.
template <typename T>
void ExpectConversion(const std::string& path, Encoding encoding, const std::vector<T>& values,
                      const std::vector<int16_t>& expected) {
    SCOPED_TRACE(path);
    const size_t n = values.size();
    std::vector<T> interleaved;
    for (size_t k = 0; k < n; ++k)
        interleaved.insert(interleaved.end(), {values[k], values[(k + 1) % n]});
    WriteWavBytes(path, encoding, 2, 8000, interleaved);
    WavReader reader;
    std::string error;
    ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
    const std::vector<Frame> frames = ReadAll(reader, 3);
    ASSERT_EQ(frames.size(), n);
    for (size_t k = 0; k < n; ++k) {
        EXPECT_EQ(frames[k].Rf, expected[k]) << "frame " << k;
        EXPECT_EQ(frames[k].Pps, expected[(k + 1) % n]) << "frame " << k;
    }
}

TEST_F(WavFileTest, OtherEncodingsAreRoundedAndClippedTo16Bits) {
    const double lsb = 1.0 / 32767;  // float full scale 1.0 is 32767
    // Float: full scale, rounding both ways and half away from zero, clipping beyond.
    ExpectConversion<double>(Path("f.wav"), Encoding::Float,
                             {1.0, -1.0, 100.4 * lsb, 100.6 * lsb, -100.6 * lsb, 1.5, -2.0, 0.5},
                             {32767, -32767, 100, 101, -101, 32767, -32768, 16384});
    ExpectConversion<double>(Path("d.wav"), Encoding::Double,
                             {-2.6 * lsb, -32768 * lsb, -32769 * lsb}, {-3, -32768, -32768});
    // 24-bit: the low 8 bits round, halves away from zero; the top clips.
    ExpectConversion<int>(Path("24.wav"), Encoding::Pcm24,
                          {0x7FFFFF << 8, INT32_MIN, 128 << 8, -128 * 256, 127 << 8, 25800 << 8},
                          {32767, -32768, 1, -1, 0, 101});
    ExpectConversion<int>(Path("32.wav"), Encoding::Pcm32,
                          {0x7FFFFFFF, INT32_MIN, 5 * 65536 + 32768, -(5 * 65536 + 32768)},
                          {32767, -32768, 6, -6});
    ExpectConversion<int>(Path("8.wav"), Encoding::Pcm8, {127 << 24, INT32_MIN, 1 << 24},
                          {32512, -32768, 256});
}

// Every listed rate is read at its own rate, in both channels, and a writer's rate comes back;
// any other rate is refused with the list and a conversion to the highest listed rate below it.
TEST_F(WavFileTest, CardRatesAreReadAtTheirOwnRateOthersRefusedWithWhatToDo) {
    const std::vector<double> samples = {0.5, -0.25, 0.125, 1.0};
    for (const int rate :
         {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000}) {
        const std::string path = Path("r" + std::to_string(rate) + ".wav");
        WriteWavBytes(path, Encoding::Pcm16, 2, rate, samples);
        WavReader reader;
        std::string error;
        ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
        EXPECT_EQ(reader.Rate, rate);
        EXPECT_TRUE(SameFrames(ReadAll(reader), {{16384, -8192}, {4096, 32767}})) << rate;
    }
    WavWriter writer;
    std::string error;
    const std::vector<Frame> frames = Ramp(300);
    ASSERT_TRUE(OpenWavWriter(writer, Path("w.wav"), 96000, error)) << error;
    ASSERT_TRUE(WriteWavFrames(writer, frames.data(), 300, error)) << error;
    ASSERT_TRUE(CloseWavWriter(writer, error)) << error;
    WavReader back;
    ASSERT_TRUE(OpenWavReader(back, Path("w.wav"), error)) << error;
    EXPECT_EQ(back.Rate, 96000);
    EXPECT_TRUE(SameFrames(ReadAll(back), frames));
    CloseWavReader(back);
    EXPECT_EQ(back.Rate, 8000) << "a closed reader forgets the file's rate";

    const std::string list =
        " frames per second: recordings at 8000, 11025, 16000, 22050, "
        "32000, 44100, 48000, 88200, 96000, 176400 or 192000 are read; "
        "convert it first, e.g. sox in.wav -r ";
    for (const auto& [rate, suggested] : std::vector<std::pair<int, int>>{
             {7999, 8000}, {12000, 11025}, {50000, 48000}, {384000, 192000}}) {
        const std::string path = Path("odd" + std::to_string(rate) + ".wav");
        WriteWavBytes(path, Encoding::Pcm16, 2, rate, samples);
        WavReader reader;
        EXPECT_FALSE(OpenWavReader(reader, path, error));
        EXPECT_EQ(error, path + ": " + std::to_string(rate) + list + std::to_string(suggested) +
                             " out.wav");
    }
}

TEST_F(WavFileTest, EverythingButStereoPcmOrFloatAtAListedRateIsRefused) {
    const std::vector<double> samples(800, 0.25);
    const std::string unknown = "Format not recognised.";
    WriteWavBytes(Path("pps.wav"), Encoding::Pcm16, 1, 8000, samples);
    WriteWavBytes(Path("x.wav"), Encoding::Pcm16, 2, 44000, samples);
    WriteWavBytes(Path("law.wav"), Encoding::ULaw, 2, 8000, samples);
    WriteText(Path("notes.txt"), "Tuesday: 10 MHz, clicks loud and clear.\n");
    WriteText(Path("empty.wav"), "");
    const std::pair<std::string, std::string> cases[] = {
        {Path("pps.wav"), ": 1 channel(s); a stereo recording is needed"},
        {Path("x.wav"),
         ": 44000 frames per second: recordings at 8000, 11025, 16000, 22050, 32000, 44100, "
         "48000, 88200, 96000, 176400 or 192000 are read; convert it first, e.g. sox in.wav -r "
         "32000 out.wav"},
        {Path("law.wav"),
         ": U-Law encoding; PCM (8, 16, 24 or 32-bit) or float samples are needed"},
        {Path("notes.txt"), ": not a sound file (" + unknown + ")"},
        {Path("empty.wav"), ": not a sound file (" + unknown + ")"},
        {Path("missing.wav"), ": cannot open: No such file or directory"},
        {folder_.Dir(), ": cannot open: Is a directory"},
    };
    for (const auto& [path, message] : cases) {
        WavReader reader;
        std::string error;
        EXPECT_FALSE(OpenWavReader(reader, path, error)) << path;
        EXPECT_EQ(error, path + message);
        Frame frame;
        EXPECT_EQ(ReadWavFrames(reader, &frame, 1, error), -1) << "a failed reader stays closed";
    }
}

TEST_F(WavFileTest, TruncatedFilesAreReadAsFarAsTheyGoWithAWarning) {
    const std::vector<Frame> frames = Ramp(1000);
    WriteWavFile(Path("full.wav"), frames);
    const std::string bytes = FileText(Path("full.wav"));
    const size_t dataStart = bytes.size() - 4 * frames.size();
    // Cut after 722 frames; after 500 frames and 3 bytes (odd); right after the header.
    for (const auto& [held, extraBytes] :
         std::vector<std::pair<int, int>>{{722, 0}, {500, 3}, {0, 0}}) {
        const std::string path = Path("cut.wav");
        WriteText(path, bytes.substr(0, dataStart + 4 * held + extraBytes));
        WavReader reader;
        std::string error;
        ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
        EXPECT_EQ(reader.Warning, path + ": truncated: the header promises 1000 frames, the " +
                                      "file holds " + std::to_string(held));
        EXPECT_EQ(WavFrameCount(reader), held);
        EXPECT_TRUE(SameFrames(ReadAll(reader), frames, held)) << held;
    }
}

TEST_F(WavFileTest, FileShortenedWhileItIsReadEndsWithAWarningNotSilently) {
    const std::vector<Frame> frames = Ramp(1000);
    const std::string path = Path("rec.wav");
    WriteWavFile(path, frames);
    const uintmax_t headerBytes = fs::file_size(path) - 4 * frames.size();
    WavReader reader;
    std::string error;
    ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
    std::vector<Frame> first(300);
    ASSERT_EQ(ReadWavFrames(reader, first.data(), 300, error), 300) << error;
    EXPECT_EQ(reader.LateWarning, "") << "nothing is missing yet";
    // Another program cuts the file to 640 frames and 2 bytes while it is open here.
    fs::resize_file(path, headerBytes + 4 * 640 + 2);
    std::vector<Frame> back = ReadAll(reader, 128);
    back.insert(back.begin(), first.begin(), first.end());
    EXPECT_TRUE(SameFrames(back, frames, 640)) << back.size();
    EXPECT_EQ(back.size(), 640u);
    EXPECT_EQ(reader.LateWarning, path +
                                      ": truncated while being read: the file held 1000 frames "
                                      "when it was opened, 640 could be read");
    EXPECT_EQ(reader.Warning, "") << "the file was whole when it was opened";

    // A whole file read to its end in blocks that do not divide it: no warning.
    WriteWavFile(path, frames);
    ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
    EXPECT_EQ(ReadAll(reader, 333).size(), 1000u);
    EXPECT_EQ(reader.LateWarning, "");
}

TEST_F(WavFileTest, HeadersLibsndfileCannotUseAreExplainedInPlainWords) {
    // AU: magic, data offset, data size, encoding (3: 16-bit PCM), rate, channels; big-endian.
    const std::string auRate0 = std::string(".snd") + std::string("\0\0\0\x18", 4) +
                                std::string("\0\0\x01\x90\0\0\0\x03", 8) +
                                std::string("\0\0\0\0\0\0\0\x02", 8) + std::string(400, '\0');
    std::vector<std::pair<std::string, std::string>> cases = {
        {WavWithFormat(1, 2, 0, 16), "not a usable WAV header: sample rate 0"},
        {WavWithFormat(1, 2, 0xFFFFFFFF, 16), "not a usable WAV header: sample rate 4294967295"},
        {WavWithFormat(1, 0, 8000, 16), "not a usable WAV header: 0 channels"},
        {WavWithFormat(1, 2, 8000, 0), "not a usable WAV header: 0 bits per sample"},
        {WavWithFormat(1, 2, 8000, 64), "not a usable WAV header: 64 bits per sample"},
        {WavWithFormat(3, 2, 8000, 16), "not a usable WAV header: float samples of 16 bits"},
    };
    if (kReadsOtherContainers) cases.push_back({auRate0, "not a usable AU header: sample rate 0"});
    const std::string path = Path("rec.wav");
    for (const auto& [bytes, reason] : cases) {
        WriteText(path, bytes);
        WavReader reader;
        std::string error;
        EXPECT_FALSE(OpenWavReader(reader, path, error)) << reason;
        EXPECT_EQ(error, path + ": " + reason);
    }
    // The same fields, usable, open; 300 channels are refused by the program, not the header.
    WriteText(path, WavWithFormat(1, 2, 8000, 16));
    WavReader reader;
    std::string error;
    EXPECT_TRUE(OpenWavReader(reader, path, error)) << error;
    EXPECT_EQ(WavFrameCount(reader), 100);
    WriteText(path, WavWithFormat(1, 300, 8000, 16));
    EXPECT_FALSE(OpenWavReader(reader, path, error));
    EXPECT_EQ(error, path + ": 300 channel(s); a stereo recording is needed");
}

TEST_F(WavFileTest, DamagedHeadersNeverCrashOrHang) {
    // Random damage to the header, sometimes also a random length: opening either fails with
    // one line naming the file, or succeeds and reading stops within the reported frames.
    WriteWavFile(Path("full.wav"), Ramp(500));
    const std::string original = FileText(Path("full.wav"));
    const std::string path = Path("damaged.wav");
    std::mt19937 random(12345);  // only chooses the damage
    for (int trial = 0; trial < 300; ++trial) {
        std::string bytes = original;
        for (int d = 1 + static_cast<int>(random() % 6); d > 0; --d)
            bytes[random() % 96] = char(random());
        if (trial % 3 == 0) bytes.resize(random() % bytes.size());
        WriteText(path, bytes);
        WavReader reader;
        std::string error;
        if (!OpenWavReader(reader, path, error)) {
            EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << "trial " << trial << ": " << error;
            EXPECT_EQ(error.find('\n'), std::string::npos) << "trial " << trial;
            // libsndfile's texts about its own internals never reach the user.
            EXPECT_EQ(error.find("nternal error"), std::string::npos) << error;
            EXPECT_EQ(error.find("SF_INFO"), std::string::npos) << error;
            continue;
        }
        EXPECT_LE(static_cast<long long>(ReadAll(reader, 256).size()), WavFrameCount(reader));
    }
}

TEST_F(WavFileTest, UnwritableOutputIsAnErrorWithTheSystemsReason) {
    WavWriter writer;
    std::string error;
    EXPECT_FALSE(OpenWavWriter(writer, "/nonexistent/dir/x.wav", error));
    EXPECT_EQ(error, "/nonexistent/dir/x.wav: cannot create: No such file or directory");
    EXPECT_FALSE(OpenWavWriter(writer, folder_.Dir(), error));
    EXPECT_EQ(error, folder_.Dir() + ": cannot create: Is a directory");
    const Frame frame{1, 2};
    EXPECT_FALSE(WriteWavFrames(writer, &frame, 1, error)) << "a failed writer stays closed";
    if (fs::exists("/dev/full")) {  // always full: the header cannot be written
        EXPECT_FALSE(OpenWavWriter(writer, "/dev/full", error));
        EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    }
}

// ---------------------------------------------------------------------------------------------
// The bytes a recording is written as, and WAV layouts beyond the plain one.

// Bytes from hexadecimal text; blanks are ignored.
std::string FromHex(const std::string& hex) {
    std::string bytes, digits;
    for (char c : hex) {
        if (c != ' ') digits += c;
    }
    for (size_t k = 0; k + 1 < digits.size(); k += 2)
        bytes += static_cast<char>(std::stoi(digits.substr(k, 2), nullptr, 16));
    return bytes;
}

// The plain header of a recording written by the program, with its RIFF size, frame count and
// data size; the extensible format chunk of stereo 16-bit PCM at 8000 Hz; ahead of it a JUNK
// chunk that a 64-bit ds64 chunk can replace.
std::string PlainHeader(uint32_t riffSize, uint32_t frames) {
    return "RIFF" + Le(riffSize, 4) + "WAVEJUNK" + Le(24, 4) + std::string(24, '\0') +
           FromHex(
               "666d7420 28000000 feff 0200 401f0000 007d0000 0400 1000 1600 1000 03000000"
               "01000000 00001000 800000aa 00389b71") +
           "fact" + Le(4, 4) + Le(frames, 4) + "data" + Le(4 * frames, 4);
}

std::string FrameBytes(const std::vector<Frame>& frames, size_t from, size_t count) {
    std::string bytes;
    for (size_t k = from; k < from + count; ++k)
        bytes += Le(static_cast<uint16_t>(frames[k].Rf), 2) +
                 Le(static_cast<uint16_t>(frames[k].Pps), 2);
    return bytes;
}

TEST_F(WavFileTest, RecordingBytesAreTheSameAtEveryStageOnEveryPlatform) {
    // What the file holds after the open, the first frames, a header update and the close is
    // pinned to the bytes the Linux build's sound library writes, so that a recording cut off
    // at any moment reads the same everywhere.
    const std::vector<Frame> frames = Ramp(30);
    const std::string path = Path("rec.wav");
    WavWriter writer;
    std::string error;
    ASSERT_TRUE(OpenWavWriter(writer, path, error)) << error;
    const std::string placeholder = "RF64" + Le(0xFFFFFFFF, 4) + "WAVEds64" + Le(28, 4) +
                                    Le(~uint64_t{7}, 8) + Le(~uint64_t{0}, 8) + Le(0, 8) +
                                    Le(0, 4) + PlainHeader(0, 0).substr(44, 48) + "data" +
                                    Le(0xFFFFFFFF, 4);
    EXPECT_EQ(FileText(path), placeholder) << "sizes unknown until frames arrive";

    ASSERT_TRUE(WriteWavFrames(writer, frames.data(), 3, error)) << error;
    EXPECT_EQ(FileText(path), PlainHeader(8, 0) + FrameBytes(frames, 0, 3))
        << "the first frames bring a plain header that does not count them yet";
    ASSERT_TRUE(WriteWavFrames(writer, frames.data() + 3, 7, error)) << error;
    ASSERT_TRUE(UpdateWavHeader(writer, error)) << error;
    EXPECT_EQ(FileText(path), PlainHeader(112 + 40 - 8, 10) + FrameBytes(frames, 0, 10));
    ASSERT_TRUE(WriteWavFrames(writer, frames.data() + 10, 20, error)) << error;
    EXPECT_EQ(FileText(path).substr(0, 112), PlainHeader(112 + 40 - 8, 10))
        << "frames alone leave the header as it was";
    ASSERT_TRUE(CloseWavWriter(writer, error)) << error;
    EXPECT_EQ(FileText(path), PlainHeader(112 + 120 - 8, 30) + FrameBytes(frames, 0, 30));

    // No frames at all: the RIFF size still counts the placeholder's length, as written there.
    ASSERT_TRUE(OpenWavWriter(writer, path, error)) << error;
    ASSERT_TRUE(CloseWavWriter(writer, error)) << error;
    EXPECT_EQ(FileText(path), PlainHeader(96, 0));
    ASSERT_TRUE(OpenWavWriter(writer, path, error)) << error;
    ASSERT_TRUE(UpdateWavHeader(writer, error)) << error;
    EXPECT_EQ(FileText(path), PlainHeader(96, 0));
    ASSERT_TRUE(UpdateWavHeader(writer, error)) << error;
    ASSERT_TRUE(WriteWavFrames(writer, frames.data(), 2, error)) << error;
    EXPECT_EQ(FileText(path), PlainHeader(104, 0) + FrameBytes(frames, 0, 2))
        << "after an update, frames bring no header of their own";
    ASSERT_TRUE(CloseWavWriter(writer, error)) << error;
    EXPECT_EQ(FileText(path), PlainHeader(112 + 8 - 8, 2) + FrameBytes(frames, 0, 2));

    // The headers the Windows build writes by its own code, the same bytes, checked here on
    // both systems; from 4 GiB on an RF64 header of the same length, its ds64 chunk in place of
    // JUNK and PAD in place of fact.
    EXPECT_EQ(PlaceholderWavHeader(), placeholder);
    EXPECT_EQ(WavHeader(112 + 120, 30), PlainHeader(112 + 120 - 8, 30));
    const uint64_t big = uint64_t{1} << 32;
    EXPECT_EQ(WavHeader(big - 1, 5), PlainHeader(0xFFFFFFF7, 5));
    EXPECT_EQ(WavHeader(big, 7), "RF64" + Le(0xFFFFFFFF, 4) + "WAVEds64" + Le(28, 4) +
                                     Le(big - 8, 8) + Le(28, 8) + Le(7, 8) + Le(0, 4) +
                                     PlainHeader(0, 0).substr(44, 48) + "PAD " + Le(0, 4) + "data" +
                                     Le(0xFFFFFFFF, 4));
}

// A WAVE file's bytes from its chunks, under the given RIFF form ("RIFF" or "RF64").
std::string WaveFile(const std::string& chunks, const std::string& form = "RIFF") {
    return form + Le(form == "RF64" ? 0xFFFFFFFF : chunks.size() + 4, 4) + "WAVE" + chunks;
}

std::string Chunk(const std::string& id, const std::string& body, uint32_t size) {
    return id + Le(size, 4) + body + (size % 2 == 1 ? std::string(1, '\0') : "");
}

// A "fmt " chunk; for WAVE_FORMAT_EXTENSIBLE (0xFFFE) `tag` names the sub-format.
std::string FormatChunk(int tag, int bits, bool extensible = false) {
    const uint32_t align = 2 * static_cast<uint32_t>(bits) / 8;
    std::string body = Le(extensible ? 0xFFFE : tag, 2) + Le(2, 2) + Le(8000, 4) +
                       Le(8000 * align, 4) + Le(align, 2) + Le(bits, 2);
    if (extensible) {
        body +=
            Le(22, 2) + Le(bits, 2) + Le(3, 4) + Le(tag, 4) + FromHex("00001000800000aa00389b71");
    }
    return Chunk("fmt ", body, static_cast<uint32_t>(body.size()));
}

TEST_F(WavFileTest, Rf64ExtensibleStreamedAndPaddedLayoutsAreRead) {
    const std::vector<Frame> frames = Ramp(50);
    const std::string samples = FrameBytes(frames, 0, 50);
    const std::string path = Path("rec.wav");
    struct Case {
        std::string Name, Bytes;
        long long Frames;
        std::string Warning;
    };
    const std::string ds64 = Chunk("ds64", Le(0, 8) + Le(200, 8) + Le(50, 8) + Le(0, 4), 28);
    const std::string ds64Long = Chunk("ds64", Le(0, 8) + Le(400, 8) + Le(100, 8) + Le(0, 4), 28);
    const std::string ds64Odd = Chunk("ds64", Le(0, 8) + Le(203, 8) + Le(50, 8) + Le(0, 4), 28);
    const std::string note = Chunk("note", "abc", 3);  // odd size: a pad byte follows
    const std::vector<Case> cases = {
        {"RF64, data size in ds64",
         WaveFile(ds64 + FormatChunk(1, 16) + "data" + Le(0xFFFFFFFF, 4) + samples, "RF64"), 50,
         ""},
        {"RF64 promising more than it holds",
         WaveFile(ds64Long + FormatChunk(1, 16) + "data" + Le(0xFFFFFFFF, 4) + samples, "RF64"), 50,
         ": truncated: the header promises 100 frames, the file holds 50"},
        {"RF64 of an odd data size cut within its last frame: the bytes say what differs",
         WaveFile(ds64Odd + FormatChunk(1, 16) + "data" + Le(0xFFFFFFFF, 4) + samples + "x",
                  "RF64"),
         50,
         ": truncated: the header promises 50 frames and 3 bytes, the file holds 50 frames "
         "and 1 byte"},
        {"extensible PCM", WaveFile(FormatChunk(1, 16, true) + Chunk("data", samples, 200)), 50,
         ""},
        {"streamed: no data size",
         WaveFile(FormatChunk(1, 16) + "data" + Le(0xFFFFFFFF, 4) + samples), 50, ""},
        {"cut off before its header was first updated: RIFF size 8, data size 0",
         "RIFF" + Le(8, 4) + WaveFile(FormatChunk(1, 16) + "data" + Le(0, 4) + samples).substr(8),
         50, ""},
        {"cut off inside the data chunk's size: no frames, no promise",
         WaveFile(FormatChunk(1, 16) + "data" + Le(400, 4)).substr(0, 42), 0, ""},
        {"odd chunk before the data, chunk after it",
         WaveFile(FormatChunk(1, 16) + note + Chunk("data", samples, 200) +
                  Chunk("LIST", "INFO", 4)),
         50, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteText(path, c.Bytes);
        WavReader reader;
        std::string error;
        ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
        EXPECT_EQ(WavFrameCount(reader), c.Frames);
        EXPECT_EQ(reader.Warning, c.Warning.empty() ? "" : path + c.Warning);
        EXPECT_TRUE(SameFrames(ReadAll(reader, 7), frames, static_cast<size_t>(c.Frames)));
    }

    // Extensible float and 24-bit samples convert as their plain forms do.
    std::string floats, pcm24;
    for (const float f : {0.5f, -1.0f, 2.0f, 100.6f / 32767}) {
        uint32_t u;
        std::memcpy(&u, &f, sizeof(u));
        floats += Le(u, 4);
    }
    for (const int32_t v : {0x7FFFFF, -0x800000, 128, -129})
        pcm24 += Le(static_cast<uint32_t>(v), 3);
    const std::pair<std::string, std::vector<Frame>> converted[] = {
        {WaveFile(FormatChunk(3, 32, true) + Chunk("data", floats, 16)),
         {{16384, -32767}, {32767, 101}}},
        {WaveFile(FormatChunk(1, 24, true) + Chunk("data", pcm24, 12)), {{32767, -32768}, {1, -1}}},
    };
    for (const auto& [bytes, expected] : converted) {
        WriteText(path, bytes);
        WavReader reader;
        std::string error;
        ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
        EXPECT_TRUE(SameFrames(ReadAll(reader), expected));
    }
}

TEST_F(WavFileTest, WavesWithoutUsableChunksAreRefusedInTheSameWords) {
    const std::string samples(400, '\0');
    const std::string damaged = ": damaged sound file (";
    std::string unknownGuid = FormatChunk(1, 16, true);
    unknownGuid[36] = 1;  // the sub-format GUID's second field: not a format tag's GUID
    std::string tooManyChannels = FormatChunk(1, 16);
    tooManyChannels.replace(10, 2, Le(1025, 2));
    const std::string ds64 = Chunk("ds64", Le(0, 8) + Le(400, 8) + Le(100, 8) + Le(0, 4), 28);
    const std::pair<std::string, std::string> cases[] = {
        {WaveFile(FormatChunk(1, 16)), damaged + "Error in WAV file. No 'data' chunk marker.)"},
        {WaveFile(Chunk("data", samples, 400)),
         damaged + "Error in WAV file. No 'data' chunk marker.)"},
        {WaveFile(Chunk("fmt ", std::string(12, '\0'), 12) + Chunk("data", samples, 400)),
         damaged + "Error in WAV/W64/RF64 file. Short 'fmt ' chunk.)"},
        {WaveFile(FormatChunk(6, 8) + Chunk("data", samples, 400)),
         ": A-Law encoding; PCM (8, 16, 24 or 32-bit) or float samples are needed"},
        {WaveFile(FormatChunk(0x99, 16) + Chunk("data", samples, 400)),
         damaged + "Error in WAV/W64/RF64 file. Malformed 'fmt ' chunk.)"},
        {WaveFile(unknownGuid + Chunk("data", samples, 400)),
         damaged + "File contains data in an unimplemented format.)"},
        {WaveFile(FormatChunk(1, 40, true) + Chunk("data", samples, 400)),
         damaged + "File contains data in an unimplemented format.)"},
        // A chunk id that is not four printable characters ends the header.
        {WaveFile(FormatChunk(1, 16) + Chunk("no\tt", "", 0) + Chunk("data", samples, 400)),
         damaged + "Error in WAV file. No 'data' chunk marker.)"},
        {WaveFile(tooManyChannels + Chunk("data", samples, 400)),
         damaged + "Too many channels specified.)"},
        // RF64: samples before any format; no ds64 chunk to give the data's length.
        {WaveFile(ds64 + Chunk("data", samples, 400), "RF64"), damaged + "Channel count is zero.)"},
        {WaveFile(FormatChunk(1, 16) + "data" + Le(0xFFFFFFFF, 4) + samples, "RF64"),
         ": not a usable sound file header: its sample rate, channel count or length is "
         "missing or out of range"},
        {WaveFile(ds64 + FormatChunk(1, 16), "RF64"),
         damaged + "Error in RF64 file. No 'data' chunk marker.)"},
        // The plain words come first, whatever else is wrong.
        {WaveFile(ds64 +
                  Chunk("fmt ",
                        FormatChunk(1, 16).substr(8, 4) + Le(0, 4) + FormatChunk(1, 16).substr(16),
                        16)),
         ": not a usable WAV header: sample rate 0"},
    };
    const std::string path = Path("rec.wav");
    for (const auto& [bytes, message] : cases) {
        WriteText(path, bytes);
        WavReader reader;
        std::string error;
        EXPECT_FALSE(OpenWavReader(reader, path, error)) << message;
        EXPECT_EQ(error, path + message);
    }
}

}  // namespace

}  // namespace qv
