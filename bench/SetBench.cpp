// Sets of logs read as one, side by side in one run on warm files: opening 31 daily files of
// one server against walking them one by one (and again from saved indexes), merging two
// servers' logs by time against walking the same bytes, and a filter on the 31-file set
// against the same filter on the one log they were cut from.
//   velloran-set-bench LOG GENLOG RUNS [WORKDIR]
// LOG (about 1 GiB) is cut into 31 daily files in WORKDIR; two servers' logs of 512 MiB are
// generated there once with GENLOG.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CompiledQuery.h"
#include "LogData.h"
#include "Scanner.h"

using namespace velloran;
using namespace velloran::bench;
namespace fs = std::filesystem;

namespace {

// LOG cut at line ends into AFiles pieces of about equal size, named IN2612DD.log.
std::vector<std::string> CutIntoDays(const std::string& ALog, const fs::path& AFolder, int AFiles) {
  std::vector<std::string> days;
  const auto size = static_cast<int64_t>(fs::file_size(ALog));
  std::ifstream in(ALog, std::ios::binary);
  std::string line;
  for (int day = 1; day <= AFiles; ++day) {
    char name[32];
    std::snprintf(name, sizeof name, "IN2612%02d.log", day);
    days.push_back((AFolder / name).string());
    if (fs::exists(days.back()) && day < AFiles) {
      in.seekg(static_cast<std::streamoff>(size / AFiles * day));
      std::getline(in, line);
      continue;
    }
    std::ofstream out(days.back(), std::ios::binary | std::ios::trunc);
    const int64_t end = day == AFiles ? size : size / AFiles * day;
    while (in.tellg() >= 0 && in.tellg() < end && std::getline(in, line)) out << line << '\n';
  }
  return days;
}

double MedianOf(int ARuns, const std::function<void()>& AWork) {
  std::vector<double> times;
  for (int i = 0; i < ARuns; ++i) {
    const auto start = Clock::now();
    AWork();
    times.push_back(Seconds(start));
  }
  return Median(times);
}

void Walk(TData& AData, const std::vector<std::string>& AFiles, const std::string& AIndexFolder = {}) {
  AData.LogMonitor().SetUseFileIndex(!AIndexFolder.empty());
  AData.LogMonitor().SetIndexDataFolder(AIndexFolder);
  AData.OpenSet(AFiles);
}

double WalkOneByOne(const std::vector<std::string>& AFiles) {
  const auto start = Clock::now();
  for (const std::string& file : AFiles) {
    TData data;
    data.Open(file);
  }
  return Seconds(start);
}

size_t Scan(TData& AData, const std::string& AQuery) {
  TScanOutcome outcome;
  return ScanAll(TCompiledQuery::Compile(AQuery), TScanTarget::Of(AData), outcome).size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: velloran-set-bench LOG GENLOG RUNS [WORKDIR]\n");
    return 2;
  }
  const std::string log = argv[1];
  const std::string genlog = argv[2];
  const int runs = std::max(1, std::atoi(argv[3]));
  const fs::path work = argc > 4 ? fs::path(argv[4]) : fs::temp_directory_path() / "velloran-set-bench";
  fs::create_directories(work / "days");
  const std::vector<std::string> days = CutIntoDays(log, work / "days", 31);
  const std::vector<std::string> servers = {(work / "nps-a.log").string(), (work / "nps-b.log").string()};
  for (size_t i = 0; i < servers.size(); ++i) {
    if (fs::exists(servers[i])) continue;
    const std::string command = genlog + " --seed " + std::to_string(11 + i) + " --size 512M --concurrency 50 --server NPS-" +
                                static_cast<char>('A' + i) + " -o " + servers[i];
    if (std::system(command.c_str()) != 0) return 1;
  }
  for (const std::string& file : days) RunProcess({"cat", file});  // warm
  RunProcess({"cat", log});
  RunProcess({"cat", servers[0], servers[1]});

  // 31 daily files of one server.
  const double oneByOne = MedianOf(runs, [&] { WalkOneByOne(days); });
  int64_t records = 0;
  const double set = MedianOf(runs, [&] {
    TData data;
    Walk(data, days);
    records = data.Count();
  });
  const std::string indexes = (work / "index").string();
  fs::remove_all(indexes);
  fs::create_directories(indexes);
  {
    TData data;  // the indexes are saved when the set is closed
    Walk(data, days, indexes);
  }
  const double saved = MedianOf(runs, [&] {
    TData data;
    Walk(data, days, indexes);
  });
  std::printf("31 daily files, %lld records\n", static_cast<long long>(records));
  std::printf("  walk one by one        %7.3f s\n", oneByOne);
  std::printf("  open as a set          %7.3f s   %.2f x the walk (goal <= 1.2)\n", set, set / oneByOne);
  std::printf("  open from saved index  %7.3f s   %.1f %% of the set's open (goal <= 10 %%)\n", saved, 100 * saved / set);

  // Two servers merged by time.
  const double walkServers = MedianOf(runs, [&] { WalkOneByOne(servers); });
  double extraPerRecord = 0;
  int64_t merged = 0;
  const double merge = MedianOf(runs, [&] {
    TData data;
    Walk(data, servers);
    merged = data.Count();
    extraPerRecord = static_cast<double>(data.Order().ExtraBytes()) / static_cast<double>(std::max<int64_t>(1, data.Count()));
  });
  std::printf("two servers of 512 MiB, %lld records\n", static_cast<long long>(merged));
  std::printf("  walk of the same bytes %7.3f s\n", walkServers);
  std::printf("  merged by time         %7.3f s   %.2f x the walk (goal <= 2.0); %.2f bytes per record kept (goal <= 4)\n", merge,
              merge / walkServers, extraPerRecord);

  // A filter on the set against the same filter on the one log.
  TData whole, daily;
  Walk(whole, {log});
  Walk(daily, days);
  for (const std::string query : {"Packet-Type = Access-Reject", "Reason-Code = 16"}) {
    size_t matchesWhole = 0, matchesSet = 0;
    const double one = MedianOf(runs, [&] { matchesWhole = Scan(whole, query); });
    const double many = MedianOf(runs, [&] { matchesSet = Scan(daily, query); });
    std::printf("filter %s: one log %.3f s (%zu), 31 files %.3f s (%zu): %+.1f %% (goal within 10 %%)\n", query.c_str(), one,
                matchesWhole, many, matchesSet, 100 * (many / one - 1));
  }
  return 0;
}
