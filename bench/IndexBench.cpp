// Indexing and line-reading figures on one warm log, with `wc -l` on the same file in the
// same run as the reference. Prints figures only; never fails on them.
//
//   velloran-index-bench FILE [RUNS]
#include <fmt/format.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "LogMonitor.h"

namespace {

using velloran::bench::Clock;
using velloran::bench::Median;
using velloran::bench::Seconds;
using velloran::bench::StatusKiB;

void WarmUp(const std::string& AFile) {
  std::FILE* file = std::fopen(AFile.c_str(), "rb");
  if (file == nullptr) return;
  std::vector<char> buffer(1 << 20);
  while (std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
  }
  std::fclose(file);
}

double TimeWcLines(const std::string& AFile) {
  const std::string command = "wc -l < '" + AFile + "' > /dev/null";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "wc -l failed\n");
  return Seconds(start);
}

double TimeIndex(const std::string& AFile, int& ALines) {
  velloran::TrdlLogMonitor monitor;
  monitor.SetFileName(AFile);
  const auto start = Clock::now();
  monitor.SetActive(true);
  const double seconds = Seconds(start);
  ALines = monitor.Count();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const int64_t size = velloran::FileSizeOf(file);
  WarmUp(file);

  // Memory first, in a process that has not indexed anything yet.
  const long rssBefore = StatusKiB("VmRSS");
  int lines = 0;
  {
    velloran::TrdlLogMonitor monitor;
    monitor.SetFileName(file);
    monitor.SetActive(true);
    lines = monitor.Count();
  }
  const long peakGrowthKiB = StatusKiB("VmHWM") - rssBefore;
  const double allowedKiB = (8.0 * lines + 4.0 * 1048576) / 1024;

  std::vector<double> index, wc, ratio;
  for (int run = 0; run < runs; ++run) {
    index.push_back(TimeIndex(file, lines));
    wc.push_back(TimeWcLines(file));
    ratio.push_back(index.back() / wc.back());
  }
  const double mib = static_cast<double>(size) / 1048576;
  fmt::print("file            {} ({:.0f} MiB, {} lines, {:.0f} bytes per line)\n", file, mib, lines,
             static_cast<double>(size) / std::max(lines, 1));
  fmt::print("index (median)  {:.3f} s  {:.0f} MiB/s   over {} runs\n", Median(index), mib / Median(index), runs);
  fmt::print("wc -l (median)  {:.3f} s  {:.0f} MiB/s\n", Median(wc), mib / Median(wc));
  fmt::print("index / wc -l   {:.2f} (median of the per-run ratios; goal <= 1.00)\n", Median(ratio));
  fmt::print("peak memory     {} KiB while indexing; 8 bytes per line + 4 MiB = {:.0f} KiB\n", peakGrowthKiB, allowedKiB);

  // Reading: 50 consecutive lines at a random position, as a list page would.
  velloran::TrdlLogMonitor monitor;
  monitor.SetFileName(file);
  monitor.SetActive(true);
  std::mt19937 random(42);
  std::vector<double> pages;
  size_t bytes = 0;
  for (int i = 0; i < 200; ++i) {
    const int first = static_cast<int>(random() % static_cast<unsigned>(std::max(1, monitor.Count() - 50)));
    const auto start = Clock::now();
    for (int line = first; line < std::min(first + 50, monitor.Count()); ++line) bytes += monitor.Get(line).size();
    pages.push_back(Seconds(start) * 1000);
  }
  fmt::print("Get x 50        median {:.3f} ms, max {:.3f} ms over 200 random positions ({} bytes read)\n", Median(pages),
             *std::max_element(pages.begin(), pages.end()), bytes);
  return 0;
}
