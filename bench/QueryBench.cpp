// Find and filter against ripgrep on the same warm log, side by side in one run: the command
// (`velloran grep --count`, which indexes the log first) and the scan alone (the viewer's case:
// the log is open), with ripgrep's count of the literal each query stands for.
//   velloran-query-bench LOG RUNS VELLORAN USER
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CompiledQuery.h"
#include "LogData.h"
#include "Scanner.h"

using namespace velloran;
using namespace velloran::bench;

namespace {

struct TCase {
  std::string Name;
  std::string Query;
  std::vector<std::string> Ripgrep;  // the anchor's command
};

double MedianOf(int ARuns, const std::vector<std::string>& ACommand, long* APeakKiB = nullptr) {
  std::vector<double> times;
  for (int i = 0; i < ARuns; ++i) {
    const TRun run = RunProcess(ACommand);
    times.push_back(run.Seconds);
    if (APeakKiB != nullptr) *APeakKiB = std::max(*APeakKiB, run.PeakKiB);
  }
  return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: velloran-query-bench LOG RUNS VELLORAN USER\n");
    return 2;
  }
  const std::string log = argv[1];
  const int runs = std::stoi(argv[2]);
  const std::string velloran = argv[3];
  const std::string user = argv[4];
  const std::vector<TCase> cases = {
      {"user", "User-Name = " + QuotedQueryValue(user), {"rg", "-c", "-F", user, log}},
      {"refusals", "Packet-Type = Access-Reject", {"rg", "-c", "-F", "<Packet-Type data_type=\"0\">3<", log}},
      {"station prefix", "Calling-Station-Id ~ \"^7F-61\"", {"rg", "-c", "<Calling-Station-Id data_type=\"1\">7F-61", log}},
      {"word", "alice", {"rg", "-c", "-i", "-F", "alice", log}},
      {"user's refusals",
       "User-Name = " + QuotedQueryValue(user) + " and Packet-Type = Access-Reject",
       {"rg", "-c", "-F", user, log}},
  };
  TData data;
  data.Open(log);
  const TScanTarget target = TScanTarget::Of(data);
  std::printf("%s: %lld records\n", log.c_str(), static_cast<long long>(target.Records));
  std::printf("%-18s %9s %9s %7s %9s %7s %10s %9s\n", "query", "matches", "rg s", "", "grep s", "ratio", "scan s", "peak MiB");
  for (const TCase& c : cases) {
    const double ripgrep = MedianOf(runs, c.Ripgrep);
    long peakKiB = 0;
    const double grep = MedianOf(runs, {velloran, "grep", "--count", log, c.Query}, &peakKiB);
    std::vector<double> scans;
    size_t matches = 0;
    for (int i = 0; i < runs; ++i) {
      TScanOutcome outcome;
      const auto start = Clock::now();
      matches = ScanAll(TCompiledQuery::Compile(c.Query), target, outcome).size();
      scans.push_back(Seconds(start));
    }
    const double scan = Median(scans);
    std::printf("%-18s %9zu %9.3f %7s %9.3f %6.2fx %10.3f %9.1f   (scan alone %.2fx rg)\n", c.Name.c_str(), matches, ripgrep, "",
                grep, grep / ripgrep, scan, static_cast<double>(peakKiB) / 1024.0, scan / ripgrep);
  }
  return 0;
}
