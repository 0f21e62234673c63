// SPDX-License-Identifier: GPL-3.0-or-later
// The clock and the report the latency benchmarks share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

inline std::uint64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull +
           static_cast<std::uint64_t>(ts.tv_nsec);
}

// One line: how many, the median and the 99th percentile of the microseconds.
inline void Report(const char* what, std::vector<double> us) {
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    const double median = us[us.size() / 2];
    const double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    std::printf("%-52s n=%zu  median %8.1f us  p99 %8.1f us\n", what, us.size(), median, p99);
}
