// The Summary's figures, one run on the same warm log:
//  - `velloran stats LOG` against `velloran grep --count LOG 'Packet-Type = Access-Reject'`
//    (one pass at about the scanner's speed), each round both in turn;
//  - the peak memory of `velloran stats` on a log of a million distinct users (generated once
//    beside the log: one accepted session per user);
//  - the viewer, offscreen: the time from View > Summary to the Summary on screen, and the
//    longest the list's event loop waited meanwhile (responsiveness).
// Prints the figures; never fails on them.
//   velloran-summary-bench LOG VELLORAN GENLOG [ROUNDS]
#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "LogData.h"
#include "MainWindow.h"
#include "Storage.h"
#include "SummaryView.h"

using velloran::bench::Clock;
using velloran::bench::Median;
using velloran::bench::RunProcess;
using velloran::bench::Seconds;

namespace {

void CommandFigures(const std::string& ALog, const std::string& AVelloran, int ARounds) {
  RunProcess({"cat", ALog});  // warm
  std::vector<double> stats, grep, ratios;
  long peak = 0;
  for (int round = 0; round < ARounds; ++round) {
    const auto statsRun = RunProcess({AVelloran, "stats", ALog});
    const auto grepRun = RunProcess({AVelloran, "grep", "--count", ALog, "Packet-Type = Access-Reject"});
    stats.push_back(statsRun.Seconds);
    grep.push_back(grepRun.Seconds);
    ratios.push_back(statsRun.Seconds / grepRun.Seconds);
    peak = std::max(peak, statsRun.PeakKiB);
  }
  std::printf("velloran stats: %.3f s median; grep --count Access-Reject: %.3f s; ratio %.2f (median of pairs; goal <= 1.5)\n",
              Median(stats), Median(grep), Median(ratios));
  std::printf("velloran stats peak memory on this log: %.1f MiB\n", static_cast<double>(peak) / 1024);
}

void MemoryFigure(const std::string& ALog, const std::string& AVelloran, const std::string& AGenlog) {
  const std::string users = (std::filesystem::path(ALog).parent_path() / "velloran-bench-users-1M.log").string();
  if (!std::filesystem::exists(users)) {
    std::printf("Generating %s\n", users.c_str());
    RunProcess({AGenlog, "--seed", "7", "--users", "1000000", "--mix", "accept=1", "--records", "2000000", "-o", users});
  }
  RunProcess({"cat", users});
  const auto run = RunProcess({AVelloran, "stats", "--top", "20", users});
  std::printf("velloran stats with 1,000,000 distinct users and stations (%.2f GB): %.2f s, peak memory %.1f MiB (goal <= 64)\n",
              static_cast<double>(std::filesystem::file_size(users)) / 1e9, run.Seconds, static_cast<double>(run.PeakKiB) / 1024);
}

void ViewerFigures(const std::string& ALog, int ARounds) {
  velloran::TData data;
  velloran::TrsStorage settings;  // in memory only
  velloran::TfrmMain window(velloran::TMainWindowContext{data, settings, {}});
  window.resize(1600, 900);
  window.show();
  QApplication::processEvents();
  window.LoadLog(ALog);
  window.lvData->viewport()->repaint();
  std::vector<double> shown, stalls;
  for (int round = 0; round < ARounds; ++round) {
    window.SetSummaryVisible(false);
    if (round > 0) window.LoadLog(ALog);  // the Summary of what it counted last is not counted again
    QApplication::processEvents();
    // The event loop's longest wait while the Summary is counted: a timer due every 10 ms.
    double longest = 0;
    QElapsedTimer tick;
    tick.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      longest = std::max(longest, static_cast<double>(tick.restart()) / 1000);
      window.lvData->viewport()->repaint();
    });
    QEventLoop loop;
    bool done = false;
    QObject::connect(window.Summary(), &velloran::TSummaryPanel::Computed, &loop, [&] {
      window.dckSummary->repaint();
      done = true;
      loop.quit();
    });
    const auto start = Clock::now();
    ticker.start(10);
    window.actSummary->trigger();
    if (!done) loop.exec();
    shown.push_back(Seconds(start));
    stalls.push_back(longest);
    QObject::disconnect(window.Summary(), &velloran::TSummaryPanel::Computed, &loop, nullptr);
  }
  std::printf(
      "viewer: Summary on screen %.3f s after View > Summary (median of %d; goal <= 2 s); the list's event loop "
      "waited at most %.3f s meanwhile\n",
      Median(shown), ARounds, Median(stalls));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s LOG VELLORAN GENLOG [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string log = argv[1];
  const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as soon as it is known
  if (std::getenv("VELLORAN_BENCH_VIEWER_ONLY") == nullptr) {
    CommandFigures(log, argv[2], rounds);
    MemoryFigure(log, argv[2], argv[3]);
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  ViewerFigures(log, rounds);
  return 0;
}
