// Timing helpers shared by the benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace velloran::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point AStart) { return std::chrono::duration<double>(Clock::now() - AStart).count(); }

inline double Median(std::vector<double> AValues) {
  std::sort(AValues.begin(), AValues.end());
  const size_t n = AValues.size();
  return n % 2 == 1 ? AValues[n / 2] : (AValues[n / 2 - 1] + AValues[n / 2]) / 2;
}

}  // namespace velloran::bench
