// Parsing and export figures on one warm log, each next to `wc -l` (and `cp`) of the same
// file measured in the same run. Prints figures only; never fails on them.
//
//   velloran-records-bench FILE VELLORAN [RUNS]
//     FILE      a generated log of at least 1 GiB
//     VELLORAN  the velloran program, timed as a whole process for the exports
#include <fmt/format.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "ColumnScan.h"
#include "LogData.h"

namespace {

using velloran::bench::Clock;
using velloran::bench::Median;
using velloran::bench::RunProcess;
using velloran::bench::Seconds;
using velloran::bench::TRun;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE VELLORAN [RUNS]\n", argv[0]);
    return 2;
  }
  const std::string file = argv[1];
  const std::string velloran = argv[2];
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  const double gb = static_cast<double>(velloran::FileSizeOf(file)) / 1e9;
  const std::filesystem::path outFolder = std::filesystem::path(file).parent_path();
  const std::string copy = (outFolder / "velloran-bench-copy.log").string();
  const std::string csv = (outFolder / "velloran-bench-out.csv").string();
  const std::string xml = (outFolder / "velloran-bench-out.xml").string();
  RunProcess({"cat", file});  // warm

  std::vector<double> open, parse, scan, wc, cp, exportCsv, exportXml;
  long peakCsv = 0, peakXml = 0;
  int64_t records = 0;
  for (int run = 0; run < runs; ++run) {
    velloran::TData data;
    velloran::TrdlDataRow row;
    auto start = Clock::now();
    data.Open(file);
    open.push_back(Seconds(start));
    start = Clock::now();
    records = data.Count();
    size_t items = 0;
    for (int64_t i = 0; i < records; ++i) {
      data.GetRow(i, row);
      items += static_cast<size_t>(row.Count());
    }
    parse.push_back(Seconds(start));
    if (items == 0) std::fprintf(stderr, "no items parsed\n");
    // The pass a CSV export of every column makes before its header.
    start = Clock::now();
    velloran::TColumnScan columns;
    for (int64_t i = 0; i < records; ++i) columns.AddLine(data.RawRecord(i));
    scan.push_back(Seconds(start));
    if (columns.Columns().Count() == 0) std::fprintf(stderr, "no columns found\n");

    wc.push_back(RunProcess({"wc", "-l", file}).Seconds);
    cp.push_back(RunProcess({"cp", file, copy}).Seconds);
    std::filesystem::remove(copy);
    const TRun csvRun = RunProcess({velloran, "export", file, csv});
    const TRun xmlRun = RunProcess({velloran, "export", file, xml});
    exportCsv.push_back(csvRun.Seconds);
    exportXml.push_back(xmlRun.Seconds);
    peakCsv = std::max(peakCsv, csvRun.PeakKiB);
    peakXml = std::max(peakXml, xmlRun.PeakKiB);
    std::filesystem::remove(csv);
    std::filesystem::remove(xml);
  }

  const double parseOnly = Median(parse);
  const double openAndParse = Median(open) + parseOnly;
  const double reference = Median(wc) + Median(cp);
  fmt::print("file              {} ({:.2f} GB, {} records), medians of {} runs\n", file, gb, records, runs);
  fmt::print("wc -l             {:.3f} s\n", Median(wc));
  fmt::print("cp                {:.3f} s\n", Median(cp));
  fmt::print("GetRow, all       {:.3f} s  {:.0f} records/s  {:.2f} GB/s  ({:.1f} x wc -l)\n", parseOnly,
             static_cast<double>(records) / parseOnly, gb / parseOnly, parseOnly / Median(wc));
  fmt::print("Open + GetRow     {:.3f} s  {:.0f} records/s  {:.2f} GB/s\n", openAndParse,
             static_cast<double>(records) / openAndParse, gb / openAndParse);
  fmt::print("column scan       {:.3f} s  {:.2f} GB/s  ({:.1f} x wc -l)\n", Median(scan), gb / Median(scan),
             Median(scan) / Median(wc));
  fmt::print("export CSV        {:.3f} s  = {:.2f} x (wc -l + cp); goal <= 2; peak {} KiB\n", Median(exportCsv),
             Median(exportCsv) / reference, peakCsv);
  fmt::print("export XML        {:.3f} s  = {:.2f} x (wc -l + cp); goal <= 2; peak {} KiB\n", Median(exportXml),
             Median(exportXml) / reference, peakXml);
  return 0;
}
