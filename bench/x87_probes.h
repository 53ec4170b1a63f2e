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

}  // namespace qv
