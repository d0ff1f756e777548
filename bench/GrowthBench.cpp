// Line index persistence and growth watching on a large warm log:
//   - reopening an unchanged log with its saved line index, against a fresh walk of the same
//     file (medians, and the ratio);
//   - growth steps: 1,000 lines (1 MiB and 10 MiB) appended to a watched copy of the log,
//     each indexed by one step whose time is printed;
//   - the latency from an append to OnLogGrow with the default settings (median of 30).
// Never fails on the figures.
//   velloran-growth-bench LOG [ROUNDS]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "FileWatch.h"
#include "LogMonitor.h"

using velloran::bench::Clock;
using velloran::bench::Median;
using velloran::bench::Seconds;

namespace {

void Append(const std::string& APath, const std::string& ABytes) {
  std::FILE* file = std::fopen(APath.c_str(), "ab");
  if (file == nullptr) return;
  std::fwrite(ABytes.data(), 1, ABytes.size(), file);
  std::fclose(file);
}

// ACount lines of about ABytes / ACount bytes each, in the log's own form.
std::string Lines(int ACount, size_t ABytes) {
  const size_t each = ABytes / static_cast<size_t>(ACount);
  std::string text;
  for (int i = 0; i < ACount; ++i) {
    std::string line = "<Event><Timestamp data_type=\"4\">12/09/2026 10:00:00.000</Timestamp><Class data_type=\"1\">";
    line.append(each > line.size() + 40 ? each - line.size() - 40 : 1, 'x');
    line += "</Class></Event>\r\n";
    text += line;
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velloran-growth-bench LOG [ROUNDS]\n");
    return 2;
  }
  const std::string log = argv[1];
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::string folder = "/tmp/velloran-growth-bench";
  std::filesystem::create_directories(folder);

  // Reopening with the saved index.
  std::vector<double> fresh, reopen;
  int walkedLines = 0, reopenedLines = 0;
  for (int round = 0; round < rounds; ++round) {
    velloran::TrdlLogMonitor walk;
    walk.SetFileName(log);
    auto start = Clock::now();
    walk.SetActive(true);
    fresh.push_back(Seconds(start));
    walkedLines = walk.Count();
    velloran::TrdlLogMonitor indexed;
    indexed.SetUseFileIndex(true);
    indexed.SetIndexDataFolder(folder);
    indexed.SetFileName(log);
    if (round == 0) {
      indexed.SetActive(true);  // writes the index when it closes
      indexed.SetActive(false);
    }
    start = Clock::now();
    indexed.SetActive(true);
    reopen.push_back(Seconds(start));
    reopenedLines = indexed.Count();
  }
  std::printf("log: %s; medians of %d rounds\n", log.c_str(), rounds);
  std::printf("  fresh walk                          %8.3f s   (%d lines)\n", Median(fresh), walkedLines);
  std::printf("  reopen with the saved line index    %8.3f s   (%d lines) %.1f %% of the walk (goal <= 5 %%)\n", Median(reopen),
              reopenedLines, 100.0 * Median(reopen) / Median(fresh));

  // Growth steps on a watched copy.
  const std::string copy = folder + "/watched.log";
  std::filesystem::copy_file(log, copy, std::filesystem::copy_options::overwrite_existing);
  auto dispatcher = std::make_shared<velloran::TLoopDispatcher>();
  velloran::TrdlLogMonitor monitor;
  monitor.SetDispatcher(dispatcher);
  int steps = 0;
  monitor.SetOnLogGrow([&](velloran::TrdlLogMonitor*, int, int) { ++steps; });
  monitor.SetFileName(copy);
  monitor.SetActive(true);
  for (const size_t bytes : {size_t{1} << 20, size_t{10} << 20}) {
    Append(copy, Lines(1000, bytes));
    const int before = monitor.Count();
    const auto start = Clock::now();
    monitor.ForcedGrow();
    std::printf("  growth step, 1000 lines, %3zu MiB    %8.1f ms   (%d lines indexed)\n", bytes >> 20, Seconds(start) * 1e3,
                monitor.Count() - before);
  }

  // Latency from an append to OnLogGrow, watched with the default settings.
  monitor.SetMonitorChanges(true);
  std::vector<double> latency;
  for (int i = 0; i < 30; ++i) {
    const int seen = steps;
    const auto start = Clock::now();
    Append(copy, Lines(1, 1200));
    dispatcher->ProcessUntil([&] { return steps > seen; }, std::chrono::seconds(5));
    latency.push_back(Seconds(start) * 1e3);
    dispatcher->ProcessPending(std::chrono::milliseconds(20));  // a second signal of the same write
  }
  std::printf("  append to OnLogGrow                 %8.1f ms median (goal <= 300)\n", Median(latency));
  monitor.SetActive(false);
  std::filesystem::remove_all(folder);
  return 0;
}
