// A simulated stream fed in blocks of any size gives the same numbers.
#include <gtest/gtest.h>

#include <cmath>

#include "capture/signal_simulator.h"
#include "tests/chain_fixture.h"
#include "tests/readouts.h"
#include "tests/simulated_frames.h"

namespace qv {

namespace {

TEST(BlockSizes, AnySplitOfTheStreamGivesTheSameNumbers) {
    SimulatorSettings settings;
    settings.Seconds = 12;
    settings.Ppm = 30;
    const std::vector<Frame> frames = Simulate(settings);
    std::vector<std::string> iqTexts;
    std::vector<std::vector<std::string>> readouts;
    for (size_t block : {size_t{1}, size_t{128}, size_t{1000}, frames.size()}) {
        StartedChain c;
        c.M.Params.SaveIqFlag = 1;
        ReadIntegrationTime(c.M, "1");
        for (size_t at = 0; at < frames.size(); at += block) {
            const size_t n = std::min(block, frames.size() - at);
            ProcessFrames(c.M, frames.data() + at, static_cast<int>(n));
        }
        iqTexts.push_back(c.M.IqText);
        std::vector<std::string> lines;
        for (const ReadoutEvent& e : c.Host.readouts) {
            lines.push_back(std::to_string(e.MillisecondsOfDay) + " " + e.Text);
        }
        readouts.push_back(lines);
    }
    for (size_t k = 1; k < iqTexts.size(); ++k) {
        EXPECT_EQ(iqTexts[k], iqTexts[0]);
        EXPECT_EQ(readouts[k], readouts[0]);
    }
}

}  // namespace

}  // namespace qv
