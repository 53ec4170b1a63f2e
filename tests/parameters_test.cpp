// The entry fields' conversions and the actions that set the chain up: Start, Reset All, Fix
// offset, a click on the scope.
#include <gtest/gtest.h>

#include "tests/chain_fixture.h"

namespace qv {

namespace {

void ExpectIntegrationTime(const std::string& typed, const std::string& shown, int seconds) {
    StartedChain c;
    EXPECT_EQ(ReadIntegrationTime(c.M, typed), shown) << "typed \"" << typed << "\"";
    EXPECT_EQ(c.M.Params.IntegrationText, shown);
    EXPECT_EQ(c.M.Params.IntegrationSeconds, seconds) << "typed \"" << typed << "\"";
}

TEST(IntegrationTime, ConvertsAndLimitsTheEntry) {
    ExpectIntegrationTime("", "1", 1);
    ExpectIntegrationTime("15", "15", 15);
    ExpectIntegrationTime("2.9", "2.9", 2);
    ExpectIntegrationTime("0.5", "1", 1);
    ExpectIntegrationTime("-3", "1", 1);
    ExpectIntegrationTime("abc", "1", 1);
    ExpectIntegrationTime("268435.9", "268435.9", 268435);
    // 8000 * T must stay a 32-bit count: larger entries are limited.
    ExpectIntegrationTime("268436", "268435", 268435);
    ExpectIntegrationTime("1e12", "268435", 268435);
}

TEST(Start, SetsRatesStepsAndTheLockFrequency) {
    Measurement m;
    RecordingHost host;
    host.measurement = &m;
    m.Params.LockFreqText = " 1500.5Hz";
    InitialiseMeasurement(m, host);
    EXPECT_EQ(m.Screen.ChartStartTime, "");
    EXPECT_EQ(m.Lock.LockStep, 0);  // not read before Start
    StartMeasurement(m);
    EXPECT_EQ(m.Screen.ChartStartTime, "00:00:00");
    EXPECT_EQ(m.Front.BaseStep, 1);
    EXPECT_EQ(m.Front.ResampleStep, 1);
    EXPECT_EQ(m.Front.RealignPending, 1);
    EXPECT_EQ(m.Lock.LockStep, 1500.5L / 8000);
}

TEST(ResetAll, BeforeStartSetsStepsAndClearsTheVectorscope) {
    Measurement m;
    RecordingHost host;
    host.measurement = &m;
    InitialiseMeasurement(m, host);
    m.Lock.VectorI = 12;
    m.Screen.ChartColumn = 300;
    m.Params.OffsetText = "1";
    SetPixel(m.Screen.VectorSurface, 10, 10, kBlack);
    ResetAll(m);
    EXPECT_EQ(m.Front.ResampleStep, 1);
    EXPECT_EQ(m.Front.RealignPending, 1);
    EXPECT_EQ(m.Lock.LockStep, 1700.0L / 8000);
    EXPECT_EQ(m.Lock.OffsetStep, 1.0L / 8000);
    EXPECT_EQ(m.Lock.VectorI, 0);
    EXPECT_EQ(m.Screen.ChartColumn, 0);
    EXPECT_EQ(m.Screen.VectorSurface.At(10, 10), kWhite);
}

TEST(FixOffset, TakesEffectOnlyWhenPressed) {
    StartedChain c;
    c.M.Params.OffsetText = "-2.5";
    EXPECT_EQ(c.M.Lock.OffsetStep, 0);
    FixOffset(c.M);
    EXPECT_EQ(c.M.Lock.OffsetStep, -2.5L / 8000);
}

TEST(ClickPosition, HalfThePanelXRoundedDown) {
    for (auto [x, position] : {std::pair{0, 0}, {1, 0}, {125, 62}, {62, 31}}) {
        StartedChain c;
        SetClickPositionFromScope(c.M, x);
        EXPECT_EQ(c.M.Lock.ClickPosition, position) << "x = " << x;
        // The dotted marker stands at an even x, from half height (84) up, the top row excluded.
        const Surface& back = c.M.Screen.ScopeBackSurface;
        EXPECT_EQ(back.At(2 * position, 84), MakeColour(255, 255, 0));
        EXPECT_EQ(back.At(2 * position, 81), kBlack);  // a gap of the dotted pen
        EXPECT_EQ(back.At(2 * position, 0), kBlack);
    }
}

}  // namespace

}  // namespace qv
