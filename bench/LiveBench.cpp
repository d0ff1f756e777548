// The viewer on a live log, offscreen:
//  - reopen: the time from LoadLog until the first rows are painted when the log's line index
//    was saved by an earlier open, against the fresh open (empty cache folder) of the same log;
//  - latency: a writer appends 1,000 records per second to a log the viewer follows; for each
//    record, the time from its write to its row painted at the end of the list (median, p95);
//  - quiet: the viewer's CPU time while it follows a log that nobody writes, as a share of one
//    core over the same wall time.
// Prints the figures; never fails on them.
//   velloran-live-bench LOG [ROUNDS [SECONDS]]
#include <sys/resource.h>

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QTableView>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "LogData.h"
#include "MainWindow.h"
#include "Rows.h"
#include "Storage.h"

using velloran::bench::Clock;
using velloran::bench::Median;
using velloran::bench::Percentile;
using velloran::bench::Seconds;

namespace {

struct TViewer {
  velloran::TData Data;
  velloran::TrsStorage Settings;  // in memory only
  std::unique_ptr<velloran::TfrmMain> Window;

  TViewer() {
    Window = std::make_unique<velloran::TfrmMain>(velloran::TMainWindowContext{Data, Settings, {}});
    Window->resize(1280, 800);
    Window->show();
    QApplication::processEvents();
  }
  // LoadLog until the first rows are painted.
  double Open(const std::string& ALog) {
    const auto start = Clock::now();
    Window->LoadLog(ALog);
    Window->lvData->viewport()->repaint();
    return Seconds(start);
  }
};

void RunEventLoopFor(double ASeconds) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(ASeconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int64_t NowNs() { return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count(); }

// One request of the log's kind, its write time in Acct-Session-Id.
std::string RecordLine(int64_t ANumber, int64_t AWrittenNs) {
  return "<Event><Timestamp data_type=\"4\">12/10/2026 18:00:00.000</Timestamp><Computer-Name "
         "data_type=\"1\">NPS01</Computer-Name>"
         "<User-Name data_type=\"1\">CORP\\user" +
         std::to_string(ANumber % 500) +
         "</User-Name><Packet-Type data_type=\"0\">1</Packet-Type><Acct-Session-Id data_type=\"1\">" +
         std::to_string(AWrittenNs) + "</Acct-Session-Id></Event>\r\n";
}

// Appends one record per millisecond until stopped, each with one write.
void WriteRecords(const std::string& ALog, const std::atomic<bool>& AStop) {
  std::FILE* file = std::fopen(ALog.c_str(), "ab");
  if (file == nullptr) return;
  std::setvbuf(file, nullptr, _IONBF, 0);
  const auto start = Clock::now();
  for (int64_t i = 0; !AStop; ++i) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
    const std::string line = RecordLine(i, NowNs());
    std::fwrite(line.data(), 1, line.size(), file);
  }
  std::fclose(file);
}

std::vector<double> MeasureLatency(double ASeconds, int64_t& ARecords) {
  const std::string log = (std::filesystem::temp_directory_path() / "velloran-live-bench.log").string();
  {
    std::FILE* file = std::fopen(log.c_str(), "wb");
    for (int i = 0; i < 1000; ++i) std::fputs(RecordLine(i, 0).c_str(), file);
    std::fclose(file);
  }
  TViewer viewer;
  viewer.Window->SetFollowEnd(true);
  viewer.Open(log);
  velloran::TLogTableModel& model = *viewer.Window->Model();
  std::vector<double> latencies;
  velloran::TrdlDataRow row;
  QObject::connect(&model, &QAbstractItemModel::rowsInserted, viewer.Window.get(),
                   [&](const QModelIndex&, int AFirst, int ALast) {
                     viewer.Window->lvData->viewport()->repaint();  // the new rows on screen
                     const int64_t painted = NowNs();
                     for (int r = AFirst; r <= ALast; ++r) {
                       if (!viewer.Data.GetRow(model.RecordOfRow(r), row)) continue;
                       const int64_t written = std::atoll(row.ValueByName("Acct-Session-Id").c_str());
                       if (written > 0) latencies.push_back(static_cast<double>(painted - written) / 1e6);
                     }
                   });
  std::atomic<bool> stop{false};
  std::thread writer(WriteRecords, log, std::cref(stop));
  RunEventLoopFor(ASeconds);
  stop = true;
  writer.join();
  RunEventLoopFor(0.5);
  ARecords = static_cast<int64_t>(latencies.size());
  std::filesystem::remove(log);
  return latencies;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velloran-live-bench LOG [ROUNDS [SECONDS]]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::filesystem::path cache = std::filesystem::temp_directory_path() / "velloran-live-bench-cache";
  qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(cache.string()));
  QApplication application(argc, argv);
  const std::string log = argv[1];
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const double seconds = argc > 3 ? std::atof(argv[3]) : 10;

  std::vector<double> fresh, reopen;
  for (int round = 0; round < rounds; ++round) {
    std::filesystem::remove_all(cache);
    fresh.push_back(TViewer().Open(log));  // saves the index when it goes
    reopen.push_back(TViewer().Open(log));
  }

  double quietCpu = 0;
  {
    TViewer viewer;
    viewer.Window->SetFollowEnd(true);
    viewer.Open(log);
    RunEventLoopFor(1);
    const double cpuStart = ProcessCpuSeconds();
    const auto start = Clock::now();
    RunEventLoopFor(seconds);
    quietCpu = (ProcessCpuSeconds() - cpuStart) / Seconds(start);
  }

  int64_t records = 0;
  const std::vector<double> latencies = MeasureLatency(seconds, records);
  std::filesystem::remove_all(cache);

  std::printf("log: %s; medians of %d rounds\n", log.c_str(), rounds);
  std::printf("  fresh open until first rows drawn   %8.3f s\n", Median(fresh));
  std::printf("  reopen with the saved line index    %8.3f s   ratio %.3f (goal <= 0.10)\n", Median(reopen),
              Median(reopen) / Median(fresh));
  std::printf("  CPU following a quiet log           %8.2f %% of a core (goal <= 1)\n", quietCpu * 100);
  if (latencies.empty()) {
    std::printf("  write-to-screen latency: no record arrived\n");
  } else {
    std::printf("  write-to-screen latency, %lld records at 1,000/s: median %.1f ms (goal <= 300), p95 %.1f ms (goal <= 600)\n",
                static_cast<long long>(records), Median(latencies), Percentile(latencies, 0.95));
  }
  return 0;
}
