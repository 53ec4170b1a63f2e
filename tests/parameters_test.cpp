// The entry fields' conversions and the actions that set the chain up: Start, Reset All, Fix
// offset, a click on the scope.
#include <gtest/gtest.h>

#include <string>

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
    // Too large even for extended precision: still the limit, never 1.
    ExpectIntegrationTime("1e4933", "268435", 268435);
    ExpectIntegrationTime("-1e4933", "1", 1);
}

// The lock frequency as Start and Reset All read it: the value and step, and the warnings.
struct LockCase {
    const char* Text;
    long double Hz;       // LockFrequency after the read
    const char* Warning;  // the start of the warning, or "" for none
};

TEST(LockFrequency, OutsideHalfTheSampleRateOrWithoutANumberIsWarnedAndHugeIsLimited) {
    const LockCase cases[] = {
        {"1700.0", 1700, ""},
        {"0", 0, ""},
        {"4000", 4000, ""},
        {" 1500.5Hz", 1500.5L, ""},
        {"4000.5", 4000.5L,
         "lock frequency \"4000.5\" is outside 0 to 4000 Hz (half the sample rate): the "
         "oscillator turns as at -3999.500 Hz"},
        {"-1700", -1700, "lock frequency \"-1700\" is outside"},
        {"8000", 8000,
         "lock frequency \"8000\" is outside 0 to 4000 Hz (half the sample rate): "
         "the oscillator turns as at 0.000 Hz"},
        {"1e6", 1e6L, "lock frequency \"1e6\" is outside"},
        {"1e9", 1e9L, "lock frequency \"1e9\" is outside"},
        {"1e400", 1e9L,
         "lock frequency \"1e400\" is outside 0 to 4000 Hz (half the sample rate): limited to "
         "1000000000 Hz, the oscillator turns as at 0.000 Hz"},
        {"-1e5000", -1e9L,
         "lock frequency \"-1e5000\" is outside 0 to 4000 Hz (half the sample "
         "rate): limited to -1000000000 Hz"},
        {"nan", 0, "lock frequency \"nan\" holds no number: the oscillator starts at 0 Hz"},
        {"", 0, "lock frequency \"\" holds no number"},
    };
    for (const LockCase& c : cases) {
        SCOPED_TRACE(std::string("lock frequency text \"") + c.Text + "\"");
        Measurement m;
        RecordingHost host;
        host.measurement = &m;
        m.Params.LockFreqText = c.Text;
        InitialiseMeasurement(m, host);
        StartMeasurement(m);
        EXPECT_EQ(m.Params.LockFrequency, c.Hz);
        EXPECT_EQ(m.Lock.LockStep, c.Hz / 8000);
        const std::string warning = c.Warning;
        if (warning.empty()) {
            EXPECT_TRUE(host.warnings.empty()) << host.warnings[0];
            continue;
        }
        ASSERT_EQ(host.warnings.size(), 1u);
        EXPECT_EQ(host.warnings[0].substr(0, warning.size()), warning) << host.warnings[0];
        // Reset All reads the same text again: not warned twice in a row.
        ResetAll(m);
        EXPECT_EQ(host.warnings.size(), 1u);
    }
}

TEST(LockFrequency, TheSameTextIsWarnedAgainOnlyAfterAnotherText) {
    StartedChain c;
    auto readAs = [&](const char* text) {
        c.M.Params.LockFreqText = text;
        ResetAll(c.M);
        return c.Host.warnings.size();
    };
    EXPECT_EQ(readAs("nan"), 1u);
    EXPECT_EQ(readAs("nan"), 1u);
    EXPECT_EQ(readAs("5000"), 2u);  // another problem text
    EXPECT_EQ(readAs("nan"), 3u);
    EXPECT_EQ(readAs("1700"), 3u);  // no problem: the next problem is news again
    EXPECT_EQ(readAs("nan"), 4u);
    StartMeasurement(c.M);  // Start reads the same text as Reset All did
    EXPECT_EQ(c.Host.warnings.size(), 4u);
}

TEST(FixOffset, HugeOffsetsAreLimitedToTheFrequencyLimit) {
    StartedChain c;
    for (auto [text, hz] : {std::pair{"1e400", 1e9L},
                            {"-1e99999", -1e9L},
                            {"2e9", 1e9L},
                            {"-999999999", -999999999.0L},
                            {"nan", 0.0L}}) {
        c.M.Params.OffsetText = text;
        FixOffset(c.M);
        EXPECT_EQ(c.M.Lock.OffsetStep, hz / 8000) << text;
    }
    EXPECT_TRUE(c.Host.warnings.empty()) << "only the lock frequency is warned about";
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
