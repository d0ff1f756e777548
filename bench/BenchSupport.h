// Timing helpers shared by the benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

namespace velloran::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point AStart) { return std::chrono::duration<double>(Clock::now() - AStart).count(); }

inline double Median(std::vector<double> AValues) {
  std::sort(AValues.begin(), AValues.end());
  const size_t n = AValues.size();
  return n % 2 == 1 ? AValues[n / 2] : (AValues[n / 2 - 1] + AValues[n / 2]) / 2;
}

// A kibibyte figure from /proc/self/status ("VmHWM", "VmRSS"); -1 when absent.
inline long StatusKiB(const std::string& AKey) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(AKey + ":", 0) == 0) return std::stol(line.substr(AKey.size() + 1));
  }
  return -1;
}

}  // namespace velloran::bench
