// The desktop sound server's sources without a server: names in the device list, the rate a
// capture takes by default, and a listing or an open that finds no server says nothing or one
// line, at once. (With a server: tests/e2e/pulse_capture_test.cpp.)
#include "capture/pulse_sources.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>

namespace qv {

namespace {

TEST(PulseSources, EntryNamesAndDefaultRates) {
    EXPECT_EQ(PulseEntryName({"alsa_input.usb-C.analog-stereo", "USB Audio Analog Stereo", 2, 0}),
              "USB Audio Analog Stereo (alsa_input.usb-C.analog-stereo)");
    EXPECT_EQ(PulseEntryName({"quorvelle.monitor", "", 2, 8000}), "quorvelle.monitor");
    // A rate the measurement takes is kept; any other is raised to the next one it takes (the
    // server converts, losing nothing), and above them all the highest is taken.
    using Rates = std::initializer_list<std::pair<int, int>>;
    for (const auto& [source, taken] : Rates{{8000, 8000},
                                             {44100, 44100},
                                             {192000, 192000},
                                             {24000, 32000},
                                             {0, 8000},
                                             {384000, 192000}}) {
        EXPECT_EQ(PulseCaptureRate(source), taken) << source;
    }
}

TEST(PulseSources, WithoutAServerTheListIsEmptyAndAnOpenFailsInOneLineAtOnce) {
    const char* old = std::getenv("PULSE_SERVER");
    const std::string saved = old != nullptr ? old : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/quorvelle-no-server", 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(ListPulseSources().empty());
    std::unique_ptr<BlockSource> input = CreatePulseInput("alsa_input.card", 0);
    std::string error;
    EXPECT_FALSE(input->Open(error));
    input->Close();
    input->Close();  // twice, as after a failed open and at the end
    EXPECT_EQ(error.rfind("source \"alsa_input.card\": the sound server cannot be reached (", 0),
              0u)
        << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    // Neither waited for the limits meant for a server that does not answer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    if (old != nullptr) {
        setenv("PULSE_SERVER", saved.c_str(), 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
}

}  // namespace

}  // namespace qv
