// Period integration: period lengths, levels, the chart's dots and ticks and the I/Q records.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "files/iq_file.h"
#include "tests/chain_fixture.h"

namespace qv {

namespace {

const Colour kRed = MakeColour(255, 0, 0);
const Colour kBlue = MakeColour(0, 0, 255);

int RecordCount(const Measurement& m) {
    int lines = 0;
    for (char ch : m.IqText) lines += ch == '\n';
    return lines - 2;  // the two header lines
}

void Integrate(StartedChain& c, long long samples, long double i = 0, long double q = 0) {
    for (long long k = 0; k < samples; ++k) IntegrateSample(c.M, i, q);
}

// The 2 x 2 dot as shown after the scroll: x = 739..740, rows `row` and `row + 1`.
void ExpectDot(const Surface& s, int row, Colour colour) {
    for (int x : {739, 740}) {
        for (int y : {row, row + 1}) {
            EXPECT_EQ(s.At(x, y), colour) << "at " << x << "," << y;
        }
    }
}

TEST(Periods, FirstClosesOneSampleEarlyThenEveryEightThousandT) {
    StartedChain c;
    c.M.Params.SaveIqFlag = 1;
    Integrate(c, 23998);
    EXPECT_EQ(RecordCount(c.M), 0);
    Integrate(c, 1);
    EXPECT_EQ(RecordCount(c.M), 1);
    Integrate(c, 23999);
    EXPECT_EQ(RecordCount(c.M), 1);
    Integrate(c, 1);
    EXPECT_EQ(RecordCount(c.M), 2);
}

TEST(Periods, RecordsOnlyWhileSavingNeverBackFilled) {
    StartedChain c;
    c.M.Params.IntegrationText = "1";
    ReadIntegrationTime(c.M, "1");
    Integrate(c, 7999);
    EXPECT_EQ(RecordCount(c.M), 0);
    c.M.Params.SaveIqFlag = 1;
    Integrate(c, 8000, 0.5L, -0.0000015L);
    ASSERT_EQ(RecordCount(c.M), 1);
    // 8000 x 0.5 and 8000 x -0.0000015, at stream time 0 (no frames were processed).
    EXPECT_EQ(c.M.IqText.substr(IqTextHeader().size()), "00:00:00,4000.0000000,-.0120000\r\n");
}

// A new integration time mid-run takes effect with the next sample without closing the period:
// its count goes on, reduced modulo the new length, and its sums are kept. Each sample adds 1 to
// I and stands for one frame of stream time, so a record's I is the number of samples it sums
// and its time says where it closed.
TEST(Periods, NewIntegrationTimeMidRunKeepsTheOpenPeriodsSums) {
    StartedChain c;
    c.M.Params.SaveIqFlag = 1;
    auto run = [&](long long samples) {
        for (long long k = 0; k < samples; ++k) {
            ++c.M.FramesProcessed;
            IntegrateSample(c.M, 1, 0);
        }
    };
    auto records = [&] {
        std::vector<std::string> lines;
        for (size_t at = IqTextHeader().size(); at < c.M.IqText.size();) {
            const size_t end = c.M.IqText.find("\r\n", at);
            lines.push_back(c.M.IqText.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    };
    run(23999 + 10000);  // the first 3 s period, then 10000 samples (1.25 s) into the next
    EXPECT_EQ(ReadIntegrationTime(c.M, "1"), "1");
    run(6000 + 2 * 8000);  // the count 9999 becomes 2000 of 8000: 6000 more close the period
    ReadIntegrationTime(c.M, "268435");
    run(3 * 8000);  // the count 7999 goes on to 31999 of 268435 x 8000: no record
    ReadIntegrationTime(c.M, "3");
    run(16000);  // 31999 becomes 8000 of 24000: 16000 more close the period
    EXPECT_EQ(records(), (std::vector<std::string>{
                             "00:00:02,23999.0000000,.0000000",  // a sample early, as always
                             "00:00:04,16000.0000000,.0000000",  // 10000 before, 6000 after
                             "00:00:05,8000.0000000,.0000000", "00:00:06,8000.0000000,.0000000",
                             "00:00:11,40000.0000000,.0000000",  // 5 s of sums, T = 3
                         }));
}

TEST(ChartDots, AllZeroInputAtTheDocumentedRows) {
    StartedChain c;
    Integrate(c, 23999);
    const Surface trace = ChartTrace(c.M.Screen);
    ExpectDot(trace, 177, kRed);
    ExpectDot(trace, 242, kRed);
    ExpectDot(trace, 215, kBlue);           // zero power is replaced by 1e-15: about -237.6 dB
    EXPECT_EQ(trace.At(741, 177), kWhite);  // scrolled one pixel to the left
}

TEST(ChartDots, PhasePiJustAboveTheTopGridLine) {
    StartedChain c;
    IntegrateSample(c.M, -1, 0);
    Integrate(c, 23998);
    ExpectDot(ChartTrace(c.M.Screen), 142, kRed);
    ExpectDot(ChartTrace(c.M.Screen), 207, kRed);
}

TEST(ChartDots, TickEveryTenthPeriod) {
    StartedChain c;
    ReadIntegrationTime(c.M, "1");
    Integrate(c, 8000 * 9 - 1);
    EXPECT_EQ(ChartTrace(c.M.Screen).At(739, 335), kWhite);
    Integrate(c, 8000);
    for (int y = 332; y <= 339; ++y) EXPECT_EQ(ChartTrace(c.M.Screen).At(739, y), kRed);
    EXPECT_EQ(ChartTrace(c.M.Screen).At(739, 331), kWhite);
}

TEST(Levels, FullScaleToneInPhaseGivesTheDocumentedSums) {
    StartedChain c;
    c.M.Params.BlankRfClickFlag = -1;
    c.M.Params.SaveIqFlag = 1;
    c.Feed(SteadyTone(1, 1700, 30));
    const std::string last = c.M.IqText.substr(c.M.IqText.rfind("\r\n", c.M.IqText.size() - 3) + 2);
    const size_t comma = last.find(',', 9);
    const long double i = std::stold(last.substr(9, comma - 9));
    const long double q = std::stold(last.substr(comma + 1));
    EXPECT_NEAR(static_cast<double>(i), 11502.6, 15);  // 0.479 per sample over 24000 samples
    EXPECT_NEAR(static_cast<double>(q), 0, 15);
    const long double level = 10 * std::log10((i * i + q * q) / (24000.0L * 24000));
    EXPECT_NEAR(static_cast<double>(level), -6.39, 0.01);
}

}  // namespace

}  // namespace qv
