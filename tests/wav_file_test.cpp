// Tests of WAV reading and writing: round trip, sample conversion, refusals and damaged files.
#include "files/wav_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class WavFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("quorvelle_wav_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

std::vector<Frame> Ramp(size_t count) {
    std::vector<Frame> frames(count);
    for (size_t k = 0; k < count; ++k) {
        frames[k].Rf = static_cast<int16_t>(k * 37 - 20000);
        frames[k].Pps = static_cast<int16_t>(-static_cast<int>(k) * 11 + 5);
    }
    return frames;
}

void WriteFrames(const std::string& path, const std::vector<Frame>& frames) {
    WavWriter writer;
    std::string error;
    ASSERT_TRUE(OpenWavWriter(writer, path, error)) << error;
    ASSERT_TRUE(WriteWavFrames(writer, frames.data(), frames.size(), error)) << error;
    ASSERT_TRUE(CloseWavWriter(writer, error)) << error;
}

// Reads the whole file in blocks of `block` frames; fails the test on a read error.
std::vector<Frame> ReadAll(WavReader& reader, long long block = 1000) {
    std::vector<Frame> all, buffer(block);
    std::string error;
    for (;;) {
        const long long n = ReadWavFrames(reader, buffer.data(), block, error);
        EXPECT_GE(n, 0) << error;
        if (n <= 0) break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + n);
    }
    return all;
}

// A file written by libsndfile directly, in any format; samples interleaved L, R.
void WriteWithLibsndfile(const std::string& path, int format, int channels, int rate,
                         const std::vector<double>& realSamples,
                         const std::vector<int>& intSamples = {}) {
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    if (!intSamples.empty()) {
        sf_writef_int(file, intSamples.data(), intSamples.size() / channels);
    } else {
        // Written as they are: no clipping on the way in, so out-of-range floats reach the file.
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_FALSE);
        sf_writef_double(file, realSamples.data(), realSamples.size() / channels);
    }
    ASSERT_EQ(sf_close(file), 0);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- round trip ----------------------------------------------------------------------------

TEST_F(WavFileTest, SixteenBitRoundTripIsExactInAnyBlockSize) {
    std::vector<Frame> frames = Ramp(20000);
    frames[0] = {-32768, 32767};
    frames[1] = {32767, -32768};
    {
        WavWriter writer;
        std::string error;
        ASSERT_TRUE(OpenWavWriter(writer, Path("a.wav"), error)) << error;
        // Written in uneven pieces, including an empty one.
        ASSERT_TRUE(WriteWavFrames(writer, frames.data(), 1, error)) << error;
        ASSERT_TRUE(WriteWavFrames(writer, frames.data() + 1, 0, error)) << error;
        ASSERT_TRUE(WriteWavFrames(writer, frames.data() + 1, 12344, error)) << error;
        ASSERT_TRUE(WriteWavFrames(writer, frames.data() + 12345, 7655, error)) << error;
        EXPECT_EQ(writer.framesWritten, 20000);
        ASSERT_TRUE(CloseWavWriter(writer, error)) << error;
    }
    EXPECT_EQ(ReadBytes(Path("a.wav")).substr(0, 4), "RIFF") << "small files are plain WAV";

    for (long long block : {1LL, 999LL, 20000LL, 50000LL}) {
        WavReader reader;
        std::string error;
        ASSERT_TRUE(OpenWavReader(reader, Path("a.wav"), error)) << error;
        EXPECT_EQ(WavFrameCount(reader), 20000);
        EXPECT_TRUE(reader.warning.empty());
        const std::vector<Frame> back = ReadAll(reader, block);
        ASSERT_EQ(back.size(), frames.size()) << "block " << block;
        for (size_t k = 0; k < frames.size(); ++k) {
            ASSERT_EQ(back[k].Rf, frames[k].Rf) << "frame " << k;
            ASSERT_EQ(back[k].Pps, frames[k].Pps) << "frame " << k;
        }
        Frame extra;
        EXPECT_EQ(ReadWavFrames(reader, &extra, 1, error), 0) << "the end stays the end";
    }
}

TEST_F(WavFileTest, UpdatedHeaderMakesTheFileReadableBeforeClosing) {
    const std::vector<Frame> frames = Ramp(3000);
    WavWriter writer;
    std::string error;
    ASSERT_TRUE(OpenWavWriter(writer, Path("live.wav"), error)) << error;
    ASSERT_TRUE(WriteWavFrames(writer, frames.data(), 2000, error)) << error;
    ASSERT_TRUE(UpdateWavHeader(writer, error)) << error;
    ASSERT_TRUE(WriteWavFrames(writer, frames.data() + 2000, 1000, error)) << error;

    // As if the program had died now: the file, still open for writing, reads as 2000 frames.
    WavReader reader;
    ASSERT_TRUE(OpenWavReader(reader, Path("live.wav"), error)) << error;
    EXPECT_EQ(WavFrameCount(reader), 2000);
    const std::vector<Frame> back = ReadAll(reader);
    ASSERT_EQ(back.size(), 2000u);
    EXPECT_EQ(back[1999].Rf, frames[1999].Rf);

    ASSERT_TRUE(CloseWavWriter(writer, error)) << error;
    ASSERT_TRUE(OpenWavReader(reader, Path("live.wav"), error)) << error;
    EXPECT_EQ(WavFrameCount(reader), 3000);
}

// ---- conversion of other encodings ---------------------------------------------------------

struct ConversionCase {
    const char* name;
    int subtype;
    std::vector<double> reals;  // written with sf_writef_double when not empty
    std::vector<int> ints;      // otherwise written with sf_writef_int (left-justified 32-bit)
    std::vector<int16_t> expected;
};

// Frame k carries value k on the left and value k + 1 (cyclically) on the right, so every value
// passes through both channels.
template <typename T>
std::vector<T> OnBothChannels(const std::vector<T>& values) {
    std::vector<T> interleaved;
    for (size_t k = 0; k < values.size(); ++k) {
        interleaved.push_back(values[k]);
        interleaved.push_back(values[(k + 1) % values.size()]);
    }
    return interleaved;
}

void ExpectConversion(const std::string& path, const ConversionCase& c) {
    SCOPED_TRACE(c.name);
    WriteWithLibsndfile(path, SF_FORMAT_WAV | c.subtype, 2, 8000, OnBothChannels(c.reals),
                        OnBothChannels(c.ints));
    WavReader reader;
    std::string error;
    ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
    const std::vector<Frame> frames = ReadAll(reader, 3);  // odd blocks cross the buffer
    const std::vector<int16_t> expected = OnBothChannels(c.expected);
    ASSERT_EQ(frames.size() * 2, expected.size());
    for (size_t k = 0; k < frames.size(); ++k) {
        EXPECT_EQ(frames[k].Rf, expected[2 * k]) << "frame " << k << " left";
        EXPECT_EQ(frames[k].Pps, expected[2 * k + 1]) << "frame " << k << " right";
    }
}

TEST_F(WavFileTest, OtherEncodingsAreRoundedAndClippedTo16Bits) {
    const double lsb = 1.0 / 32767;  // float full scale 1.0 is 32767
    const std::vector<ConversionCase> cases = {
        {"float: full scale, rounding both ways, clipping beyond full scale",
         SF_FORMAT_FLOAT,
         {1.0, -1.0, 100.4 * lsb, 100.6 * lsb, -100.6 * lsb, -100.4 * lsb, 1.5, -2.0, 0, 0.5},
         {},
         {32767, -32767, 100, 101, -101, -100, 32767, -32768, 0, 16384}},
        {"double: the same rules, and -1.00002 still fits at -32768",
         SF_FORMAT_DOUBLE,
         {1.0, -1.0, 2.4 * lsb, -2.6 * lsb, -32768 * lsb, -32769 * lsb},
         {},
         {32767, -32767, 2, -3, -32768, -32768}},
        {"24-bit: the low 8 bits round, halves away from zero, the top clips",
         SF_FORMAT_PCM_24,
         {},
         {0x7FFFFF << 8, -0x800000 * 256, 128 << 8, -128 * 256, 127 << 8, (100 * 256 + 200) << 8},
         {32767, -32768, 1, -1, 0, 101}},
        {"32-bit: likewise with 16 bits below",
         SF_FORMAT_PCM_32,
         {},
         {0x7FFFFFFF, INT32_MIN, 5 * 65536 + 32768, -(5 * 65536 + 32768), 5 * 65536 + 32767, 0},
         {32767, -32768, 6, -6, 5, 0}},
        {"unsigned 8-bit: scaled up exactly",
         SF_FORMAT_PCM_U8,
         {},
         {127 << 24, -128 * (1 << 24), 1 << 24, 0},
         {32512, -32768, 256, 0}},
    };
    for (const ConversionCase& c : cases) ExpectConversion(Path("c.wav"), c);
}

// ---- refused and damaged files -------------------------------------------------------------

// Opening must fail with exactly `expected` as its one-line error.
void ExpectOpenError(const std::string& path, const std::string& expected) {
    WavReader reader;
    std::string error;
    EXPECT_FALSE(OpenWavReader(reader, path, error)) << path;
    EXPECT_EQ(error, expected);
    EXPECT_EQ(error.find('\n'), std::string::npos);
    Frame frame;
    EXPECT_EQ(ReadWavFrames(reader, &frame, 1, error), -1) << "a failed reader stays closed";
}

TEST_F(WavFileTest, WrongShapesAreRefusedWithOneClearLine) {
    const std::vector<double> samples(800, 0.25);
    WriteWithLibsndfile(Path("pps.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, samples);
    ExpectOpenError(Path("pps.wav"),
                    Path("pps.wav") + ": 1 channel(s); a stereo recording is needed");

    WriteWithLibsndfile(Path("x.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, samples);
    ExpectOpenError(Path("x.wav"), Path("x.wav") + ": 44100 frames per second; 8000 are needed");

    WriteWithLibsndfile(Path("quad.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4, 8000, samples);
    ExpectOpenError(Path("quad.wav"),
                    Path("quad.wav") + ": 4 channel(s); a stereo recording is needed");

    WriteWithLibsndfile(Path("law.wav"), SF_FORMAT_WAV | SF_FORMAT_ULAW, 2, 8000, samples);
    ExpectOpenError(Path("law.wav"), Path("law.wav") +
                                         ": U-Law encoding; PCM (8, 16, 24 or "
                                         "32-bit) or float samples are needed");
}

TEST_F(WavFileTest, FilesThatAreNotRecordingsAreRefused) {
    WriteBytes(Path("notes.txt"), "Tuesday: 10 MHz, clicks loud and clear.\n");
    ExpectOpenError(Path("notes.txt"), Path("notes.txt") + ": not a sound file (" +
                                           sf_error_number(SF_ERR_UNRECOGNISED_FORMAT) + ")");
    WriteBytes(Path("empty.wav"), "");
    ExpectOpenError(Path("empty.wav"), Path("empty.wav") + ": not a sound file (" +
                                           sf_error_number(SF_ERR_UNRECOGNISED_FORMAT) + ")");
    ExpectOpenError(Path("missing.wav"),
                    Path("missing.wav") + ": cannot open: No such file or directory");
    ExpectOpenError(dir_.string(), dir_.string() + ": cannot open: Is a directory");

    // Cut inside the header, before the data chunk.
    WriteFrames(Path("full.wav"), Ramp(100));
    WriteBytes(Path("head.wav"), ReadBytes(Path("full.wav")).substr(0, 40));
    WavReader reader;
    std::string error;
    EXPECT_FALSE(OpenWavReader(reader, Path("head.wav"), error));
    EXPECT_EQ(error.rfind(Path("head.wav") + ": ", 0), 0u) << error;
}

// A truncated file is read as far as it goes, with the warning line.
void ExpectTruncated(const std::string& path, const std::vector<Frame>& original,
                     long long heldFrames) {
    WavReader reader;
    std::string error;
    ASSERT_TRUE(OpenWavReader(reader, path, error)) << error;
    EXPECT_EQ(reader.warning, path + ": truncated: the header promises " +
                                  std::to_string(original.size()) + " frames, the file holds " +
                                  std::to_string(heldFrames));
    EXPECT_EQ(WavFrameCount(reader), heldFrames);
    const std::vector<Frame> back = ReadAll(reader);
    ASSERT_EQ(static_cast<long long>(back.size()), heldFrames);
    for (size_t k = 0; k < back.size(); ++k) ASSERT_EQ(back[k].Rf, original[k].Rf) << k;
}

TEST_F(WavFileTest, TruncatedFilesAreReadAsFarAsTheyGoWithAWarning) {
    const std::vector<Frame> frames = Ramp(1000);
    WriteFrames(Path("full.wav"), frames);
    const std::string bytes = ReadBytes(Path("full.wav"));
    const size_t dataStart = bytes.size() - 4 * frames.size();

    WriteBytes(Path("cut.wav"), bytes.substr(0, dataStart + 4 * 722));
    ExpectTruncated(Path("cut.wav"), frames, 722);
    // An odd byte count: the half frame at the end is dropped.
    WriteBytes(Path("odd.wav"), bytes.substr(0, dataStart + 4 * 500 + 3));
    ExpectTruncated(Path("odd.wav"), frames, 500);
    // Only the header survived.
    WriteBytes(Path("bare.wav"), bytes.substr(0, dataStart));
    ExpectTruncated(Path("bare.wav"), frames, 0);
}

TEST_F(WavFileTest, DamagedHeadersNeverCrashOrHang) {
    // Random damage to the header of a valid file: opening either fails with one line naming
    // the file, or succeeds and reading ends within the frames the reader reported.
    WriteFrames(Path("full.wav"), Ramp(500));
    const std::string original = ReadBytes(Path("full.wav"));
    std::mt19937 random(12345);  // only picks the damage; any sequence will do
    for (int trial = 0; trial < 300; ++trial) {
        std::string bytes = original;
        const int damaged = 1 + static_cast<int>(random() % 6);
        for (int d = 0; d < damaged; ++d) {
            bytes[random() % 96] = static_cast<char>(random());  // 96 bytes cover the header
        }
        if (trial % 3 == 0) bytes.resize(random() % bytes.size());
        const std::string path = Path("damaged.wav");
        WriteBytes(path, bytes);

        WavReader reader;
        std::string error;
        if (!OpenWavReader(reader, path, error)) {
            EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << "trial " << trial << ": " << error;
            EXPECT_EQ(error.find('\n'), std::string::npos) << "trial " << trial;
            continue;
        }
        const long long reported = WavFrameCount(reader);
        std::vector<Frame> buffer(256);
        long long total = 0, n = 0;
        while ((n = ReadWavFrames(reader, buffer.data(), 256, error)) > 0) {
            total += n;
            ASSERT_LE(total, reported) << "trial " << trial;
        }
    }
    std::string random_bytes(5000, '\0');
    for (char& c : random_bytes) c = static_cast<char>(random());
    WriteBytes(Path("noise.wav"), random_bytes);
    WavReader reader;
    std::string error;
    EXPECT_FALSE(OpenWavReader(reader, Path("noise.wav"), error));
}

// ---- writing errors ------------------------------------------------------------------------

TEST_F(WavFileTest, UnwritableOutputIsAnErrorWithTheSystemsReason) {
    WavWriter writer;
    std::string error;
    EXPECT_FALSE(OpenWavWriter(writer, "/nonexistent/dir/x.wav", error));
    EXPECT_EQ(error, "/nonexistent/dir/x.wav: cannot create: No such file or directory");

    EXPECT_FALSE(OpenWavWriter(writer, dir_.string(), error));
    EXPECT_EQ(error, dir_.string() + ": cannot create: Is a directory");

    const Frame frame{1, 2};
    EXPECT_FALSE(WriteWavFrames(writer, &frame, 1, error)) << "a failed writer stays closed";

    if (fs::exists("/dev/full")) {  // a device that is always full
        EXPECT_FALSE(OpenWavWriter(writer, "/dev/full", error));
        EXPECT_NE(error.find("/dev/full: "), std::string::npos) << error;
        EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    }
}

}  // namespace
