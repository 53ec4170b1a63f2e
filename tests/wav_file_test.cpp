// Tests of WAV reading and writing: round trip, sample conversion, refusals and damaged files.
#include "files/wav_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/test_files.h"

namespace qv {

namespace {

namespace fs = std::filesystem;

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

// A file written by libsndfile itself, from doubles (not clipped on the way in) or from
// left-justified 32-bit ints.
template <typename T>
void WriteWithLibsndfile(const std::string& path, int format, int channels, int rate,
                         const std::vector<T>& samples) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_FALSE);
    if constexpr (std::is_same_v<T, int>) {
        sf_writef_int(file, samples.data(), samples.size() / channels);
    } else {
        sf_writef_double(file, samples.data(), samples.size() / channels);
    }
    ASSERT_EQ(sf_close(file), 0);
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
void ExpectConversion(const std::string& path, int subtype, const std::vector<T>& values,
                      const std::vector<int16_t>& expected) {
    SCOPED_TRACE("subtype " + std::to_string(subtype));
    const size_t n = values.size();
    std::vector<T> interleaved;
    for (size_t k = 0; k < n; ++k)
        interleaved.insert(interleaved.end(), {values[k], values[(k + 1) % n]});
    WriteWithLibsndfile(path, SF_FORMAT_WAV | subtype, 2, 8000, interleaved);
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
    ExpectConversion<double>(Path("f.wav"), SF_FORMAT_FLOAT,
                             {1.0, -1.0, 100.4 * lsb, 100.6 * lsb, -100.6 * lsb, 1.5, -2.0, 0.5},
                             {32767, -32767, 100, 101, -101, 32767, -32768, 16384});
    ExpectConversion<double>(Path("d.wav"), SF_FORMAT_DOUBLE,
                             {-2.6 * lsb, -32768 * lsb, -32769 * lsb}, {-3, -32768, -32768});
    // 24-bit: the low 8 bits round, halves away from zero; the top clips.
    ExpectConversion<int>(Path("24.wav"), SF_FORMAT_PCM_24,
                          {0x7FFFFF << 8, INT32_MIN, 128 << 8, -128 * 256, 127 << 8, 25800 << 8},
                          {32767, -32768, 1, -1, 0, 101});
    ExpectConversion<int>(Path("32.wav"), SF_FORMAT_PCM_32,
                          {0x7FFFFFFF, INT32_MIN, 5 * 65536 + 32768, -(5 * 65536 + 32768)},
                          {32767, -32768, 6, -6});
    ExpectConversion<int>(Path("8.wav"), SF_FORMAT_PCM_U8, {127 << 24, INT32_MIN, 1 << 24},
                          {32512, -32768, 256});
}

TEST_F(WavFileTest, EverythingButStereo8000HzPcmOrFloatIsRefused) {
    const std::vector<double> samples(800, 0.25);
    const std::string unknown = sf_error_number(SF_ERR_UNRECOGNISED_FORMAT);
    WriteWithLibsndfile(Path("pps.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, samples);
    WriteWithLibsndfile(Path("x.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, samples);
    WriteWithLibsndfile(Path("law.wav"), SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 8000, samples);
    WriteText(Path("notes.txt"), "Tuesday: 10 MHz, clicks loud and clear.\n");
    WriteText(Path("empty.wav"), "");
    const std::pair<std::string, std::string> cases[] = {
        {Path("pps.wav"), ": 1 channel(s); a stereo recording is needed"},
        {Path("x.wav"), ": 44100 frames per second; 8000 are needed"},
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

// A RIFF WAVE file of 100 silent frames whose fmt chunk holds the given fields.
std::string WavWithFormat(int tag, int channels, uint32_t rate, int bits) {
    auto le = [](uint32_t v, int bytes) {
        std::string s;
        for (int k = 0; k < bytes; ++k) s += static_cast<char>((v >> (8 * k)) & 0xFF);
        return s;
    };
    const uint32_t align = static_cast<uint32_t>(channels * bits / 8);
    const std::string data(400, '\0');
    const std::string body = "WAVEfmt " + le(16, 4) + le(tag, 2) + le(channels, 2) + le(rate, 4) +
                             le(rate * align, 4) + le(align, 2) + le(bits, 2) + "data" +
                             le(400, 4) + data;
    return "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body;
}

TEST_F(WavFileTest, HeadersLibsndfileCannotUseAreExplainedInPlainWords) {
    // AU: magic, data offset, data size, encoding (3: 16-bit PCM), rate, channels; big-endian.
    const std::string auRate0 = std::string(".snd") + std::string("\0\0\0\x18", 4) +
                                std::string("\0\0\x01\x90\0\0\0\x03", 8) +
                                std::string("\0\0\0\0\0\0\0\x02", 8) + std::string(400, '\0');
    const std::pair<std::string, std::string> cases[] = {
        {WavWithFormat(1, 2, 0, 16), "not a usable WAV header: sample rate 0"},
        {WavWithFormat(1, 2, 0xFFFFFFFF, 16), "not a usable WAV header: sample rate 4294967295"},
        {WavWithFormat(1, 0, 8000, 16), "not a usable WAV header: 0 channels"},
        {WavWithFormat(1, 2, 8000, 0), "not a usable WAV header: 0 bits per sample"},
        {WavWithFormat(1, 2, 8000, 64), "not a usable WAV header: 64 bits per sample"},
        {WavWithFormat(3, 2, 8000, 16), "not a usable WAV header: float samples of 16 bits"},
        {auRate0, "not a usable AU header: sample rate 0"},
    };
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

}  // namespace

}  // namespace qv
