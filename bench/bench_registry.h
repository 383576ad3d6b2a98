// SPDX-License-Identifier: MIT
// The benchmarks, registered with the settings the command line gave.
#pragma once

#include "bench_support.h"

namespace tq::bench {

void registerExchangeBenchmarks(const Settings& settings);
void registerRunBenchmark(const Settings& settings);

}  // namespace tq::bench
