// What reading values for a person costs on a large warm log: finding the exchange of
// records picked at random (the details pane and `show --exchange`), and the list's cell
// path with names and decoded text against the raw one (GetRow and the default columns'
// values), in one run on the same records. Prints medians and percentiles; never fails.
//   velloran-meaning-bench LOG [ROUNDS]
// Meant for a log of `velloran-genlog --concurrency 50`: its sessions interleave as on a
// busy server, so an exchange's records lie tens of records apart.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CodeNames.h"
#include "Exchange.h"
#include "LogData.h"
#include "ValueText.h"

using velloran::bench::Clock;
using velloran::bench::Median;
using velloran::bench::Percentile;
using velloran::bench::Seconds;

namespace {

const char* const kDefaultColumns[] = {"Timestamp", "Computer-Name", "User-Name", "Event-Source", "Packet-Type", "Reason-Code"};

// Reads ACount records from AFirst and the default columns' cells of each, raw (as the list
// did before values were named) or named and decoded; the seconds it took.
double CellPass(velloran::TData& AData, int64_t AFirst, int64_t ACount, bool ADecode, size_t& AChecksum) {
  velloran::TrdlDataRow row;
  std::string text;
  std::vector<velloran::TCodedAttribute> codes;
  for (const char* name : kDefaultColumns) codes.push_back(velloran::TCodedAttribute::Of(name));
  const auto start = Clock::now();
  for (int64_t i = AFirst; i < AFirst + ACount; ++i) {
    AData.GetRow(i, row);
    for (size_t c = 0; c < std::size(kDefaultColumns); ++c) {
      const velloran::TrdlDataRowItem* item = row.ItemByName(kDefaultColumns[c]);
      if (item == nullptr) continue;
      if (ADecode) {
        text.clear();
        velloran::AppendCellText(codes[c], item->RawText(), text);
      } else {
        text = item->RawText();
      }
      AChecksum += text.size();
    }
  }
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velloran-meaning-bench LOG [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  velloran::TData data;
  data.Open(argv[1]);
  const int64_t count = data.Count();
  if (count == 0) {
    std::fprintf(stderr, "velloran-meaning-bench: %s holds no lines\n", argv[1]);
    return 1;
  }

  // Exchanges of 2,000 records at random, after a first pass that warms the file's pages.
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int64_t> pick(0, count - 1);
  velloran::TExchangeFinder finder(data);
  std::vector<double> finds;
  size_t members = 0;
  size_t paired = 0;
  for (int i = 0; i < 2000; ++i) {
    const int64_t record = pick(random);
    const auto start = Clock::now();
    const velloran::TExchange exchange = finder.Find(record);
    finds.push_back(Seconds(start) * 1e3);
    members += exchange.Members.size();
    if (exchange.Partner >= 0) ++paired;
  }

  // The list's cell path over the same 200,000 records, raw and decoded in alternate rounds.
  const int64_t span = std::min<int64_t>(count, 200000);
  const int64_t first = (count - span) / 2;
  std::vector<double> raw, decoded;
  size_t checksum = 0;
  CellPass(data, first, span, false, checksum);  // warm
  for (int round = 0; round < rounds; ++round) {
    raw.push_back(CellPass(data, first, span, false, checksum));
    decoded.push_back(CellPass(data, first, span, true, checksum));
  }

  std::printf("log: %s, %lld records\n", argv[1], static_cast<long long>(count));
  std::printf("  exchange of a random record (2,000)  median %.3f ms  p95 %.3f ms  max %.3f ms  (goal: median <= 1, p95 <= 5)\n",
              Median(finds), Percentile(finds, 0.95), Percentile(finds, 1.0));
  std::printf("    %.1f records per exchange on average, %zu of 2000 with a partner\n", static_cast<double>(members) / 2000.0,
              paired);
  std::printf("  GetRow + default cells, raw       %8.3f s for %lld records (%.2f us each)\n", Median(raw),
              static_cast<long long>(span), Median(raw) * 1e6 / static_cast<double>(span));
  std::printf("  GetRow + default cells, decoded   %8.3f s   ratio %.3f (goal <= 1.10)   [%zu]\n", Median(decoded),
              Median(decoded) / Median(raw), checksum % 10);
  return 0;
}
