// The desktop sound server's sources without a server: names in the device list, the rate a
// capture takes by default, and a listing or an open that finds no server says nothing or one
// line, at once. (With a server: tests/e2e/pulse_capture_test.cpp.)
#include "capture/pulse_sources.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace qv {

namespace {

TEST(PulseSources, EntryNamesAndDefaultRates) {
    EXPECT_EQ(PulseEntryName({"alsa_input.usb-Codec-00.analog-stereo",
                              "USB Audio CODEC Analog Stereo", 2, 48000}),
              "USB Audio CODEC Analog Stereo (alsa_input.usb-Codec-00.analog-stereo)");
    EXPECT_EQ(PulseEntryName({"quorvelle.monitor", "", 2, 8000}), "quorvelle.monitor");
    EXPECT_EQ(PulseEntryName({"same", "same", 2, 8000}), "same");

    // A rate the measurement takes is kept; any other is raised to the next one it takes (the
    // server converts, losing nothing), and above them all the highest is taken.
    for (const auto& [source, taken] :
         std::initializer_list<std::pair<int, int>>{{8000, 8000},
                                                    {44100, 44100},
                                                    {48000, 48000},
                                                    {192000, 192000},
                                                    {24000, 32000},
                                                    {1, 8000},
                                                    {0, 8000},
                                                    {384000, 192000}}) {
        EXPECT_EQ(PulseCaptureRate(source), taken) << source;
    }
}

// PULSE_SERVER set to a socket that is not there while it lives.
class NoServer {
public:
    NoServer() {
        const char* old = std::getenv("PULSE_SERVER");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("PULSE_SERVER", "unix:/nonexistent/quorvelle-no-server", 1);
    }
    ~NoServer() {
        if (had_) {
            setenv("PULSE_SERVER", old_.c_str(), 1);
        } else {
            unsetenv("PULSE_SERVER");
        }
    }

private:
    bool had_ = false;
    std::string old_;
};

TEST(PulseSources, WithoutAServerTheListIsEmptyAndAnOpenFailsInOneLineAtOnce) {
    NoServer none;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ListPulseSources().empty());

    std::unique_ptr<BlockSource> input = CreatePulseInput("alsa_input.card", 0);
    EXPECT_EQ(input->FramesPerSecond(), kFramesPerSecond);  // nothing is known before Open
    std::string error;
    EXPECT_FALSE(input->Open(error));
    EXPECT_EQ(error.rfind("source \"alsa_input.card\": the sound server cannot be reached (", 0),
              0u)
        << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    input->Close();
    input->Close();  // twice, as after a failed open and at the end
    CreatePulseInput("never.opened", 48000)->Close();
    // Neither waited for the time limits meant for a server that does not answer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace

}  // namespace qv
