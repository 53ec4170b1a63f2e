// The processor's clock and its x87 latencies and issue intervals, measured by timing long runs
// of known instructions (the clock is not read from the system: under a hypervisor, or with
// boost clocks, the nominal figure is not what the core runs at).
#pragma once

#include "bench/chain_floor.h"

namespace qv {

// Whether this build can run the probes (x86-64 with GCC's or Clang's inline assembly).
bool X87ProbesAvailable();

// This thread's CPU time [ns]: time other processes take on a shared machine is not counted.
double ThreadCpuNs();

// The core's clock [GHz]: the time of a chain of dependent integer register additions, each one
// cycle on every x86-64 core, the median of several runs.
double MeasureClockGhz();

// Dependent integer multiplications [cycles at `ghz`]: 3 on every current x86-64 core, so a
// check that the clock was measured right.
double MeasureMultiplyCycles(double ghz);

// The x87 operations' latencies and issue intervals [cycles at `ghz`], medians of several runs.
X87Costs MeasureX87Costs(double ghz);

// The issue probes keep seven operations in flight (the x87 stack's eight registers, one of them
// the operand), so they cannot see an interval shorter than a seventh of the latency: one
// measured within a tenth of that may be shorter in truth.
constexpr int kX87ProbeChains = 7;
constexpr bool AtProbeLimit(double interval, double latency) {
    return interval * kX87ProbeChains <= 1.1 * latency;
}

}  // namespace qv
