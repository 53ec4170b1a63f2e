// The batch tool's live status line on the terminal, second by second.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "tests/chain_fixture.h"
#include "tests/readouts.h"
#include "tests/simulated_frames.h"
#include "tests/test_files.h"
#include "tests/tool_runner.h"
#include "tools/batch_run.h"

namespace qv {

namespace {

std::string Format(const char* format, long double value) {
    char text[40];
    std::snprintf(text, sizeof text, format, static_cast<double>(value));
    return text;
}

// The terminal's live line: nothing before the first second, then the last second's values
// and the state.
TEST(BatchSummary, LiveStatusLineShowsTheLastSecond) {
    StartedChain c;
    EXPECT_EQ(LiveStatusLine(c.M, "12:00:00"), "");
    SimulatorSettings settings;
    settings.Seconds = 3;
    settings.PpsLevel = 0;
    c.Feed(Simulate(settings));
    EXPECT_EQ(LiveStatusLine(c.M, "12:00:03"),
              "12:00:03  freq 0.000 ppm  timing 0.00 us  level 0.0 %  lock " +
                  Format("%.4f", c.M.Watch.Recent.back().LockFrequencyHz) + " Hz  no-pps");

    // Once the fine timing's fit has its edges, the line ends with the card frequency it gives.
    StartedChain pulsed;
    settings.PpsLevel = 0.6;
    settings.Ppm = 37;
    settings.Seconds = 12;
    pulsed.Feed(Simulate(settings));
    const std::string line = LiveStatusLine(pulsed.M, "12:00:12");
    EXPECT_TRUE(std::regex_search(line, std::regex(R"(  fine \+37\.0(0\d|10) ppm$)"))) << line;
}

}  // namespace

}  // namespace qv
