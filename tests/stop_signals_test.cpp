// The stop signals in-process: every one of SIGINT, SIGTERM and SIGHUP is caught, as often as
// it comes, the first is the one reported, the wake pipe wakes a loop, and the previous
// handlers come back afterwards.
#include "capture/stop_signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

namespace qv {

namespace {

volatile sig_atomic_t gOwnHandlerCalls = 0;
extern "C" void OwnHandler(int) { gOwnHandlerCalls = gOwnHandlerCalls + 1; }

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

}  // namespace

TEST(StopSignals, EverySignalIsCaughtTheFirstReportedAndTheOldHandlersComeBack) {
    struct sigaction own {
    }, previous{}, pipeBefore{};
    sigaction(SIGPIPE, nullptr, &pipeBefore);
    own.sa_handler = OwnHandler;
    sigemptyset(&own.sa_mask);
    ASSERT_EQ(sigaction(SIGHUP, &own, &previous), 0);
    {
        StopSignals signals({.WakePipe = true});
        ASSERT_GE(signals.WakeFd(), 0);
        EXPECT_EQ(signals.Received(), 0);
        EXPECT_FALSE(Readable(signals.WakeFd()));
        // raise() runs the handler before it returns; a default action would end the test.
        for (int s : {SIGHUP, SIGTERM, SIGTERM, SIGINT, SIGHUP, SIGINT}) ASSERT_EQ(raise(s), 0);
        EXPECT_EQ(signals.Received(), SIGHUP);
        EXPECT_TRUE(Readable(signals.WakeFd()));
        signals.DrainWake();
        EXPECT_FALSE(Readable(signals.WakeFd()));
        EXPECT_EQ(raise(SIGPIPE), 0);  // ignored while installed
        EXPECT_EQ(gOwnHandlerCalls, 0);
    }
    ASSERT_EQ(raise(SIGHUP), 0);
    EXPECT_EQ(gOwnHandlerCalls, 1);
    struct sigaction now {};
    sigaction(SIGPIPE, nullptr, &now);
    EXPECT_EQ(now.sa_handler, pipeBefore.sa_handler);
    sigaction(SIGHUP, &previous, nullptr);

    // A new set starts with nothing received, and works without a pipe.
    StopSignals again;
    EXPECT_EQ(again.Received(), 0);
    EXPECT_EQ(again.WakeFd(), -1);
    ASSERT_EQ(raise(SIGINT), 0);
    EXPECT_EQ(again.Received(), SIGINT);
    EXPECT_STREQ(StopSignalName(SIGINT), "SIGINT");
    EXPECT_STREQ(StopSignalName(SIGTERM), "SIGTERM");
    EXPECT_STREQ(StopSignalName(SIGHUP), "SIGHUP");
}

}  // namespace qv
