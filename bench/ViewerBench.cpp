// The viewer on a large warm log, offscreen: the time from LoadLog until the first rows are
// painted against the log store's walk alone (measured in the same run), the repaint time of
// jumps to the last row and back and of paging through 1,000 rows, and the resident memory
// the open log costs beyond its line index. Prints medians; never fails on the figures.
// With VELLORAN (the command-line program) it also times an export of the whole log from the
// viewer against `velloran export` of the same log to the same format.
//   velloran-viewer-bench LOG [ROUNDS [VELLORAN]]
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "LogData.h"
#include "LogMonitor.h"
#include "MainWindow.h"
#include "Storage.h"

using velloran::bench::Clock;
using velloran::bench::Median;
using velloran::bench::RunProcess;
using velloran::bench::Seconds;
using velloran::bench::StatusKiB;

namespace {

double RepaintMs(QTableView& AView) {
  const auto start = Clock::now();
  AView.viewport()->repaint();
  return Seconds(start) * 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velloran-viewer-bench LOG [ROUNDS]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const std::string log = argv[1];
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;

  std::vector<double> walk, open;
  int64_t lines = 0;
  for (int round = 0; round < rounds; ++round) {
    velloran::TrdlLogMonitor monitor;
    monitor.SetFileName(log);
    const auto start = Clock::now();
    monitor.SetActive(true);
    walk.push_back(Seconds(start));
    lines = monitor.Count();
  }

  const long rssBefore = StatusKiB("VmRSS");
  velloran::TData data;
  velloran::TrsStorage settings;  // in memory only: the default layout, nothing saved
  velloran::TfrmMain window({data, settings, {}});
  window.resize(1280, 800);
  window.actKeepLineIndexes->setChecked(false);  // every round walks the log (reopening is the live bench's)
  window.show();
  QApplication::processEvents();
  QTableView& view = *window.lvData;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    window.LoadLog(log);
    view.viewport()->repaint();  // the first rows, parsed and painted
    open.push_back(Seconds(start));
  }
  const long rssAfter = StatusKiB("VmRSS");

  std::vector<double> jumps, paging;
  QScrollBar* bar = view.verticalScrollBar();
  for (int round = 0; round < 20; ++round) {
    bar->setValue(bar->maximum());
    jumps.push_back(RepaintMs(view));
    bar->setValue(0);
    jumps.push_back(RepaintMs(view));
  }
  const int pageRows = std::max(1, view.viewport()->height() / view.verticalHeader()->defaultSectionSize());
  bar->setValue(bar->maximum() / 2);
  for (int shown = 0; shown < 1000; shown += pageRows) {
    bar->setValue(bar->value() + pageRows);
    paging.push_back(RepaintMs(view));
  }

  std::vector<double> viewerExport, cliExport;
  if (argc > 3) {
    const std::string target = "/tmp/velloran-viewer-bench-export.csv";
    window.SelectExportFile = [&](std::string& AFileName, velloran::TDataExportFormat& AFormat) {
      AFileName = target;
      AFormat = velloran::TDataExportFormat::efCSV;
      return true;
    };
    window.ConfirmOverwrite = [](const QString&) { return true; };  // each round replaces the last one's file
    for (int round = 0; round < rounds; ++round) {
      cliExport.push_back(RunProcess({argv[3], "export", log, target}).Seconds);
      const auto start = Clock::now();
      window.UpdateActions();  // as when the event loop idles: Export is enabled for a loaded log
      window.actExport->trigger();
      viewerExport.push_back(Seconds(start));
    }
    std::remove(target.c_str());
  }

  const double indexMiB = static_cast<double>(lines) * 8 / 1048576.0;
  std::printf("log: %s, %lld lines; medians of %d rounds\n", log.c_str(), static_cast<long long>(lines), rounds);
  std::printf("  log store walk alone            %8.3f s\n", Median(walk));
  std::printf("  LoadLog until first rows drawn  %8.3f s   ratio %.2f (goal <= 1.3)\n", Median(open),
              Median(open) / Median(walk));
  std::printf("  repaint after a jump (end/top)  %8.2f ms  (goal <= 16)\n", Median(jumps));
  std::printf("  repaint per page, %4d pages    %8.2f ms  (goal <= 16)\n", static_cast<int>(paging.size()), Median(paging));
  std::printf("  resident memory of the open log %8.1f MiB: line index %.1f MiB + %.1f MiB (goal <= index + 80)\n",
              static_cast<double>(rssAfter - rssBefore) / 1024.0, indexMiB,
              static_cast<double>(rssAfter - rssBefore) / 1024.0 - indexMiB);
  if (!viewerExport.empty()) {
    std::printf("  export to CSV from the viewer     %8.3f s   ratio %.2f to velloran export (%.3f s; goal <= 1.1)\n",
                Median(viewerExport), Median(viewerExport) / Median(cliExport), Median(cliExport));
  }
  return 0;
}
