// Period integration over twelve simulated minutes: the automatic capture at the 739th period.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "files/iq_file.h"
#include "tests/chain_fixture.h"

namespace qv {

namespace {

void Integrate(StartedChain& c, long long samples, long double i = 0, long double q = 0) {
    for (long long k = 0; k < samples; ++k) IntegrateSample(c.M, i, q);
}

TEST(AutomaticCapture, At739PeriodsAfterAClearAndOnlyWhileOn) {
    StartedChain c;
    ReadIntegrationTime(c.M, "1");
    c.M.Params.SaveScreenFlag = 1;
    Integrate(c, 8000 * 738 - 1);
    EXPECT_EQ(c.Host.captures, 0);
    EXPECT_EQ(c.M.Screen.ChartColumn, 738);
    Integrate(c, 8000);
    EXPECT_EQ(c.Host.captures, 1);
    EXPECT_EQ(c.M.Screen.ChartColumn, 0);  // the capture clears the chart
    EXPECT_EQ(c.M.Screen.ChartTraceSurface.At(739, 215), kWhite);
    c.M.Params.SaveScreenFlag = -1;
    Integrate(c, 8000 * 739);
    EXPECT_EQ(c.Host.captures, 1);
}

}  // namespace

}  // namespace qv
