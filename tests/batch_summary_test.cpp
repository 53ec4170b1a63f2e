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

// The terminal's live line: nothing before the first second, then the run's answer (card
// frequency, timing, state and its seconds) and the last second's values.
TEST(BatchSummary, LiveStatusLineLeadsWithTheAnswer) {
    StartedChain c;
    EXPECT_EQ(LiveStatusLine(c.M, "12:00:00"), "");
    SimulatorSettings settings;
    settings.Seconds = 3;
    settings.PpsLevel = 0;
    c.Feed(Simulate(settings));
    EXPECT_EQ(LiveStatusLine(c.M, "12:00:03"),
              "12:00:03  card frequency not known yet  timing not known yet  no-pps " +
                  std::to_string(c.M.Watch.SecondsInState) +
                  " s  | last second: freq 0.000 ppm  timing 0.00 us  level 0.0 %  lock " +
                  Format("%.4f", c.M.Watch.Recent.back().LockFrequencyHz) + " Hz");

    // Once the fine timing's fit has its edges, the line opens with the card frequency it
    // gives and the edges' residual.
    StartedChain pulsed;
    settings.PpsLevel = 0.6;
    settings.Ppm = 37;
    settings.Seconds = 12;
    pulsed.Feed(Simulate(settings));
    const std::string line = LiveStatusLine(pulsed.M, "12:00:12");
    EXPECT_TRUE(std::regex_search(
        line, std::regex(R"(^12:00:12  card \+3[67]\.\d{4} ppm \+-0\.0\d{5} \(fine PPS\)  timing )"
                         R"(0\.0\d\d us RMS \(fine PPS\)  \S+ \d+ s  \| last second: freq )")))
        << line;
}

}  // namespace

}  // namespace qv
