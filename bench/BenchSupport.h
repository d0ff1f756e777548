// Timing helpers shared by the benchmarks.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// The value below which AShare (0..1) of the values lie (nearest rank).
inline double Percentile(std::vector<double> AValues, double AShare) {
  if (AValues.empty()) return 0;
  std::sort(AValues.begin(), AValues.end());
  const auto rank = static_cast<size_t>(AShare * static_cast<double>(AValues.size() - 1) + 0.5);
  return AValues[std::min(rank, AValues.size() - 1)];
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

struct TRun {
  double Seconds = 0;
  long PeakKiB = 0;
};

// Runs AArguments as a child process with its output thrown away; wall time and peak memory.
inline TRun RunProcess(const std::vector<std::string>& AArguments) {
  std::fflush(stdout);  // the child must not print the parent's buffered lines again
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::_Exit(126);
    std::vector<char*> argv;
    for (const std::string& argument : AArguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    std::_Exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  TRun run;
  run.Seconds = Seconds(start);
  run.PeakKiB = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "%s failed\n", AArguments[0].c_str());
  return run;
}

}  // namespace velloran::bench
