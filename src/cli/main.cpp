// velloran: the command-line companion of the viewer. Same core, no Qt. Its interface is
// relied upon by scripts: errors name the file and the cause on standard error and exit 1,
// bad usage exits 2, an interrupt exits 130.
#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "CompiledQuery.h"
#include "DecodedText.h"
#include "Exchange.h"
#include "Exporter.h"
#include "FileWatch.h"
#include "Informer.h"
#include "LogData.h"
#include "LogFolder.h"
#include "LogTime.h"
#include "PlatformFile.h"
#include "PlatformText.h"
#include "Progress.h"
#include "Scanner.h"
#include "Statistics.h"
#include "StatisticsReport.h"
#include "ValueText.h"

#ifndef VELLORAN_VERSION
#define VELLORAN_VERSION "0.0.0"
#endif

namespace {

using namespace velloran;

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) { gInterrupted = 1; }

class TInterrupted {};

// An error about the export's output file or standard output; its text says which.
class EOutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A query that cannot be parsed: exit 2 as grep does for a bad pattern.
class EBadQuery : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Bad usage that only shows once the arguments are looked at (a --tz naming no log, an OUT
// that is a log): exit 2, as for what the parser refuses.
class EUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// AText compiled, or EBadQuery with the parser's reason and column.
std::shared_ptr<const TCompiledQuery> CompileQuery(const std::string& AText) {
  try {
    return TCompiledQuery::Compile(AText);
  } catch (const EQuerySyntax& e) {
    throw EBadQuery(std::string("bad query: ") + e.what());
  }
}

// Flushes standard output; EOutputError when something written did not get through (a full
// disk, a closed pipe).
void FlushStandardOutput() {
  std::cout.flush();
  if (!std::cout) {
    const int error = errno;
    throw EOutputError(std::string("Cannot write to standard output: ") + std::strerror(error));
  }
}

// Progress on standard error, only when it is a terminal; Ctrl+C cancels through the same
// callback.
class TCliProgress {
 public:
  explicit TCliProgress(std::string ACaption) : FCaption(std::move(ACaption)), FShow(::isatty(STDERR_FILENO) != 0) {}
  ~TCliProgress() { Finish(); }
  TCliProgress(const TCliProgress&) = delete;
  TCliProgress& operator=(const TCliProgress&) = delete;

  TProgressNotifyEvent Callback() {
    return [this](void*, int APercents, bool& IsCanceled) { Report(APercents, IsCanceled); };
  }
  void Report(int APercents, bool& IsCanceled) {
    if (gInterrupted != 0) IsCanceled = true;
    if (!FShow || APercents == FLast) return;
    FLast = APercents;
    std::fprintf(stderr, "\r%s: %d%%", FCaption.c_str(), APercents);
    std::fflush(stderr);
    FShown = true;
  }
  void Finish() {
    if (!FShown) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(FCaption.size()) + 8, "");
    std::fflush(stderr);
    FShown = false;
  }

 private:
  std::string FCaption;
  bool FShow;
  bool FShown = false;
  int FLast = -1;
};

// A file name as it appears in a message: as it is, or in double quotes with its control
// characters escaped when it holds any (a name with a line break must not split the message).
std::string QuotedName(const std::string& AFileName) {
  const bool plain =
      std::none_of(AFileName.begin(), AFileName.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '"'; });
  if (plain) return AFileName;
  std::string quoted(1, '"');
  for (const char c : AFileName) {
    if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      quoted += fmt::format("\\x{:02X}", static_cast<unsigned>(static_cast<unsigned char>(c)));
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

// An error message on one line that names the file once: the log store's read errors carry a
// line break and no file name, and a name may hold a line break itself.
std::string NamingTheFile(const std::string& AFileName, std::string AMessage) {
  constexpr char kNameMark = '\x01';
  bool named = false;
  if (!AFileName.empty()) {
    for (size_t at = AMessage.find(AFileName); at != std::string::npos; at = AMessage.find(AFileName, at + 1)) {
      AMessage.replace(at, AFileName.size(), 1, kNameMark);
      named = true;
    }
  }
  for (char& c : AMessage) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  size_t spaces = 0;
  while ((spaces = AMessage.find("  ")) != std::string::npos) AMessage.erase(spaces, 1);
  if (!AFileName.empty() && !named) AMessage.insert(0, std::string(1, kNameMark) + ": ");
  const std::string quoted = QuotedName(AFileName);
  for (size_t at = AMessage.find(kNameMark); at != std::string::npos; at = AMessage.find(kNameMark, at + quoted.size())) {
    AMessage.replace(at, 1, quoted);
  }
  return AMessage;
}

// --index-dir: where the line index of the log is kept between runs; empty: not kept.
std::string gIndexDir;

// The file an error about the logs is put to when its text does not name one: the log when a
// command reads one, none when it reads a set (its errors name their files).
std::string gSubject;

void UseIndexDir(TData& AData) {
  if (gIndexDir.empty()) return;
  platform::ForceFolders(gIndexDir);
  AData.LogMonitor().SetUseFileIndex(true);
  AData.LogMonitor().SetIndexDataFolder(gIndexDir);
}

// After an open: throws the store's error for a log it could not read, and warns of every
// file whose line index could not be kept.
void CheckOpened(const TData& AData) {
  const TrdlLogMonitor& monitor = AData.LogMonitor();
  if (!monitor.Active() && !monitor.LastErrorText().empty()) throw std::runtime_error(monitor.LastErrorText());
  for (int file = 0; file < AData.FileCount(); ++file) {
    const std::string& warning = AData.MonitorOf(file).IndexWarningText();
    if (!warning.empty()) std::cerr << "velloran: warning: " << NamingTheFile(AData.FileNameOf(file), warning) << '\n';
  }
}

// Opens AFileName in AData; throws std::runtime_error naming the file and the cause, or
// TInterrupted when Ctrl+C cancelled the walk.
void OpenLog(TData& AData, const std::string& AFileName) {
  UseIndexDir(AData);
  TCliProgress progress("Indexing " + AFileName);
  AData.SetOnProgress(progress.Callback());
  AData.Open(AFileName);
  AData.SetOnProgress(nullptr);
  progress.Finish();
  if (gInterrupted != 0) throw TInterrupted();
  CheckOpened(AData);
}

// ---------------------------------------------------------------------------------------------
// Sets of logs

// The logs a command reads: its FILE arguments (files and folders), and how several are put
// together (--merge, --tz).
struct TLogsOptions {
  std::vector<std::string> Arguments;
  std::string Merge = "auto";
  std::vector<std::string> Zones;  // FILE=ZONE, as typed
};

// The logs the arguments name: a folder stands for its logs, anything else is a file.
struct TLogArguments {
  std::vector<std::string> Files;
  std::vector<std::pair<std::string, std::vector<std::string>>> Folders;  // a folder given, and its logs
};

// The name without its folder, as the set compares names.
std::string BaseNameOf(const std::string& APath) {
  const size_t slash = APath.find_last_of("/\\");
  return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

// The logs AArguments name, in their order; a folder's in LogsInFolder's. What is not a folder
// goes to the log store as a file, which says what is wrong with it (missing, a device). A
// folder that cannot be read or holds no log is skipped with a message naming it while other
// logs remain, and is the error when none does.
TLogArguments ExpandArguments(const std::vector<std::string>& AArguments) {
  TLogArguments logs;
  std::vector<std::pair<std::string, std::string>> skipped;  // the folder, why
  for (const std::string& argument : AArguments) {
    std::error_code typeError;
    if (!std::filesystem::is_directory(argument, typeError)) {
      logs.Files.push_back(argument);
      continue;
    }
    std::vector<std::string> found;
    try {
      found = LogsInFolder(argument);
    } catch (const std::filesystem::filesystem_error& e) {
      skipped.emplace_back(argument, "cannot read the folder: " + e.code().message());
      continue;
    }
    if (found.empty()) {
      skipped.emplace_back(argument, "it is a folder without logs (no *.log file)");
      continue;
    }
    logs.Files.insert(logs.Files.end(), found.begin(), found.end());
    logs.Folders.emplace_back(argument, std::move(found));
  }
  if (logs.Files.empty()) {
    gSubject = skipped.front().first;
    throw std::runtime_error(skipped.front().first + ": " + skipped.front().second);
  }
  for (const auto& [folder, why] : skipped)
    std::cerr << "velloran: " << NamingTheFile(folder, "Skipped " + folder + ": " + why) << '\n';
  return logs;
}

// The --tz pairs as the set takes them. FILE names a log as the set matches it (as given, by
// its name alone, or the same file under another name), or a folder given: then each of its
// logs. A FILE that names none of the logs, or a ZONE that names no zone, is bad usage.
std::vector<std::pair<std::string, std::string>> ZonesOf(const TLogsOptions& AOptions, const TLogArguments& ALogs) {
  std::vector<std::pair<std::string, std::string>> zones;
  for (const std::string& text : AOptions.Zones) {
    // A zone holds no "=", a file name may.
    const size_t equals = text.rfind('=');
    if (equals == std::string::npos || equals == 0) throw EUsage("--tz " + QuotedName(text) + ": expected FILE=ZONE");
    const std::string file = text.substr(0, equals);
    const std::string zone = text.substr(equals + 1);
    if (!TTimeZone::Parse(zone))
      throw EUsage("--tz " + QuotedName(text) + ": unknown time zone \"" + zone + "\" (UTC, +02:00, UTC-5, Europe/Berlin)");
    const auto folder = std::find_if(ALogs.Folders.begin(), ALogs.Folders.end(), [&](const auto& AFolder) {
      return AFolder.first == file || platform::SameFile(AFolder.first, file);
    });
    if (folder != ALogs.Folders.end()) {
      for (const std::string& log : folder->second) zones.emplace_back(log, zone);
      continue;
    }
    const bool named = std::any_of(ALogs.Files.begin(), ALogs.Files.end(), [&](const std::string& ALog) {
      return ALog == file || BaseNameOf(ALog) == BaseNameOf(file) || platform::SameFile(ALog, file);
    });
    if (!named) throw EUsage("--tz " + QuotedName(text) + ": " + QuotedName(file) + " is none of the logs");
    zones.emplace_back(file, zone);
  }
  return zones;
}

TLogSetMerge MergeOf(const std::string& AText) {
  if (AText == "time") return TLogSetMerge::lsmTime;
  if (AText == "concat") return TLogSetMerge::lsmConcat;
  return TLogSetMerge::lsmAuto;
}

// Opens the logs AOptions names as one set in AData (one file exactly as OpenLog opens it)
// and says on standard error what the set had to tell: files skipped, listed twice,
// overlapping. Returns how many files the arguments named, folders expanded (before any was
// skipped). Throws as OpenLog does, and EUsage for a bad --tz.
size_t OpenLogs(TData& AData, const TLogsOptions& AOptions) {
  gSubject = AOptions.Arguments.front();
  const TLogArguments logs = ExpandArguments(AOptions.Arguments);
  TLogSetOptions options;
  options.Merge = MergeOf(AOptions.Merge);
  options.Zones = ZonesOf(AOptions, logs);
  // One file is merged with nothing: its zone would change nothing.
  if (logs.Files.size() == 1) options.Zones.clear();
  gSubject = logs.Files.size() == 1 ? logs.Files.front() : std::string();
  UseIndexDir(AData);
  TCliProgress progress(logs.Files.size() == 1 ? "Indexing " + logs.Files.front()
                                               : "Indexing " + std::to_string(logs.Files.size()) + " logs");
  AData.SetOnProgress(progress.Callback());
  try {
    AData.OpenSet(logs.Files, options);
  } catch (const ELogSetError& e) {
    throw EUsage(e.what());
  }
  AData.SetOnProgress(nullptr);
  progress.Finish();
  if (gInterrupted != 0) throw TInterrupted();
  // One line each: a store's error text may carry line breaks.
  for (const std::string& notice : AData.Notices()) std::cerr << "velloran: " << NamingTheFile({}, notice) << '\n';
  CheckOpened(AData);
  return logs.Files.size();
}

// The open log or set in a progress caption.
std::string LogsCaption(const TData& AData) {
  return AData.IsSet() ? std::to_string(AData.FileCount()) + " logs" : AData.FileName();
}

void CheckLineNumber(const TData& AData, long long ALine) {
  const int64_t count = AData.Count();
  if (ALine >= 0 && ALine < count) return;
  const std::string asked = "line " + std::to_string(ALine) + " asked, ";
  if (!AData.IsSet()) {
    throw std::runtime_error("no such line " + AData.FileName() + " (" + asked + "the log has " + std::to_string(count) +
                             " lines, numbered from 0)");
  }
  throw std::runtime_error("no such line in the " + std::to_string(AData.FileCount()) + " logs (" + asked + "they have " +
                           std::to_string(count) + " lines together, numbered from 0)");
}

struct TFollowOptions {
  std::string Where;     // a query: only the lines of the records it matches
  bool FromEnd = false;  // none of the whole lines the log holds at the start
};

// Which lines follow prints under --where: each record tested as grep tests it, a reply
// taking the fields it lacks from its request. The request lies before the reply, so a line
// is judged once, when it is whole, and no later line changes the verdict.
class TFollowFilter {
 public:
  // AQuery null: every line passes.
  TFollowFilter(TData& AData, std::shared_ptr<const TCompiledQuery> AQuery) : FData(AData), FQuery(std::move(AQuery)) {
    if (FQuery) FTest.emplace(*FQuery, AData);
  }

  bool Filters() const { return FQuery != nullptr; }

  // Whether record ARecord, whose line is ALine, is printed.
  bool Passes(int64_t ARecord, std::string_view ALine) {
    if (!FTest) return true;
    FData.ParseRaw(ALine, FRow);
    return FTest->Matches(ARecord, FRow);
  }

 private:
  TData& FData;
  std::shared_ptr<const TCompiledQuery> FQuery;
  std::optional<TRecordTest> FTest;
  TrdlDataRow FRow;
};

// A log without lines yet leaves the monitor inactive: tries again until lines come.
void WaitForLines(TrdlLogMonitor& AMonitor, TLoopDispatcher& ADispatcher) {
  while (!AMonitor.Active()) {
    if (gInterrupted != 0) throw TInterrupted();
    ADispatcher.ProcessPending(std::chrono::milliseconds(250));
    AMonitor.SetActive(true);
    if (!AMonitor.Active() && !AMonitor.LastErrorText().empty()) throw std::runtime_error(AMonitor.LastErrorText());
  }
}

// The lines a writer has finished: all but a last line still without its line break.
int WholeLines(const TrdlLogMonitor& AMonitor) { return AMonitor.Count() - (AMonitor.LastLineOpen() ? 1 : 0); }

// Follows AData's open log from its line AFirst on (--from-end: from the whole lines it holds
// now), printing each whole line as it comes, until Ctrl+C; AQuery (null: every line) picks
// the lines of matching records. A last line still without its line break is held back until
// it is whole; a log that shrank or was replaced starts again from its first line.
[[noreturn]] void FollowOpenLog(TData& AData, std::shared_ptr<const TCompiledQuery> AQuery, bool AFromEnd, int AFirst) {
  TrdlLogMonitor& monitor = AData.LogMonitor();
  const auto dispatcher = std::make_shared<TLoopDispatcher>();
  monitor.SetDispatcher(dispatcher);
  // The lines before it were printed or passed over. A log without lines at the start has
  // nothing for --from-end to skip: whatever comes was added afterwards.
  int next = AFromEnd && monitor.Active() ? WholeLines(monitor) : AFirst;
  // Fewer lines than were printed from it: replaced since, read again from its first line.
  if (monitor.Active() && WholeLines(monitor) < next) next = 0;
  WaitForLines(monitor, *dispatcher);
  TFollowFilter filter(AData, std::move(AQuery));
  std::string line;
  const auto printWholeLines = [&] {
    for (const int whole = WholeLines(monitor); next < whole; ++next) {
      try {
        monitor.Get(next, line);
      } catch (const ErdlLogMonitorShrank&) {
        // Cut under us: nothing more is printed until the growth step that the cut signals
        // indexes the log anew and starts again from its first line.
        break;
      } catch (const ErdlLogMonitorError&) {
        if (!filter.Filters()) throw;
        continue;  // an unreadable line (too long) never matches, as in grep
      }
      if (!filter.Passes(next, line)) continue;
      std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
      std::cout.put('\n');
    }
    FlushStandardOutput();
  };
  monitor.SetOnLogGrow([&](TrdlLogMonitor*, int AStart, int) {
    if (AStart >= 0 && AStart < next) next = AStart;  // indexed anew from there
    printWholeLines();
  });
  printWholeLines();
  monitor.SetMonitorChanges(true);
  while (gInterrupted == 0) dispatcher->ProcessPending(std::chrono::milliseconds(250));
  monitor.SetMonitorChanges(false);
  monitor.SetOnLogGrow(nullptr);
  throw TInterrupted();
}

// The records of AData's open set in set order, but for the lines of its last file from
// ALastLines on (a last line still being written); AQuery (null: every line) picks them as
// follow does.
void PrintSetRecords(TData& AData, std::shared_ptr<const TCompiledQuery> AQuery, int ALastLines) {
  const int last = AData.FileCount() - 1;
  TFollowFilter filter(AData, std::move(AQuery));
  std::string line;
  const int64_t count = AData.Count();
  for (int64_t record = 0; record < count; ++record) {
    if (gInterrupted != 0) throw TInterrupted();
    const TLogSetOrder::TPlace place = AData.Locate(record);
    if (place.Part == last && place.Local >= ALastLines) continue;
    try {
      // A copy: testing a reply reads its request, which may move the line's bytes.
      line.assign(AData.RawRecord(record));
    } catch (const ErdlLogMonitorError&) {
      if (!filter.Filters()) throw;
      continue;
    }
    if (!filter.Passes(record, line)) continue;
    std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cout.put('\n');
  }
  FlushStandardOutput();
}

// Every line of the log (--from-end: none of those it holds now), then every line as the log
// grows, until Ctrl+C; --where prints only the lines of matching records. Several logs: the
// whole lines of the set in set order, then its last file (the newest) is followed alone.
int FollowCommand(TData& AData, const TLogsOptions& ALogs, const TFollowOptions& AOptions) {
  std::shared_ptr<const TCompiledQuery> query = AOptions.Where.empty() ? nullptr : CompileQuery(AOptions.Where);
  // The empty query: every line, unparsed, as grep reports it.
  if (query && query->MatchesAll()) query = nullptr;
  OpenLogs(AData, ALogs);
  int first = 0;
  if (AData.IsSet()) {
    const int last = AData.FileCount() - 1;
    const TrdlLogMonitor& newest = AData.MonitorOf(last);
    first = newest.Active() ? WholeLines(newest) : 0;
    if (!AOptions.FromEnd) PrintSetRecords(AData, query, first);
    // Opened alone, it grows as one log: line numbers are its own, and an exchange is looked
    // for within it, as a scan of the set looks for one within each file.
    const std::string file = AData.FileNameOf(last);
    gSubject = file;
    OpenLog(AData, file);
  }
  FollowOpenLog(AData, std::move(query), AOptions.FromEnd, first);
}

int CountCommand(TData& AData, const TLogsOptions& ALogs, bool APerFile) {
  OpenLogs(AData, ALogs);
  if (APerFile) {
    for (int file = 0; file < AData.FileCount(); ++file) {
      const TrdlLogMonitor& monitor = AData.MonitorOf(file);
      std::cout << AData.FileNameOf(file) << ": " << (monitor.Active() ? monitor.Count() : 0) << '\n';
    }
  }
  std::cout << AData.Count() << '\n';
  return 0;
}

int LineCommand(TData& AData, const TLogsOptions& ALogs, long long ALine) {
  OpenLogs(AData, ALogs);
  CheckLineNumber(AData, ALine);
  if (AData.IsSet()) {
    const std::string_view bytes = AData.RawRecord(ALine);
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  } else {
    const std::string bytes = AData.LogMonitor().Get(static_cast<int>(ALine));
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::cout.put('\n');
  return 0;
}

// How `show` prints: exactly as the log holds it (scripts rely on that), or with names and
// decoded text, and optionally the record's exchange with its one-line answer first.
struct TShowOptions {
  bool Decode = false;
  bool Exchange = false;
};

void PrintRecord(const TrdlDataRow& ARow, bool ADecode, std::string_view APrefix = {}) {
  for (int i = 0; i < ARow.Count(); ++i) {
    const TrdlDataRowItem* item = ARow.Items(i);
    const std::string name = item->Column() != nullptr ? item->Column()->ColumnName() : std::string();
    std::cout << APrefix << name << '=' << (ADecode ? DetailText(name, item->RawText()) : item->RawText()) << '\n';
  }
}

// The answer, then one line per record of the exchange: number, Timestamp, Packet-Type, and
// "<" at the record asked about.
void PrintExchange(TData& AData, int64_t ARecord) {
  TExchangeFinder finder(AData);
  const TExchange exchange = finder.Find(ARecord);
  std::cout << exchange.Answer << '\n';
  TrdlDataRow row;
  for (const TExchangeMember& member : exchange.Members) {
    AData.ParseRecord(member.Record, row);
    std::cout << member.Record << '\t' << DecodedText(row.ValueByName("Timestamp")) << '\t'
              << DetailText("Packet-Type", row.ValueByName("Packet-Type"));
    if (member.Record == ARecord) std::cout << "\t<";
    std::cout << '\n';
  }
}

int ShowCommand(TData& AData, const TLogsOptions& ALogs, long long ALine, const TShowOptions& AOptions) {
  OpenLogs(AData, ALogs);
  CheckLineNumber(AData, ALine);
  if (AOptions.Exchange) {
    PrintExchange(AData, ALine);
    if (!AOptions.Decode) return 0;
    std::cout << '\n';
  }
  TrdlDataRow row;
  AData.GetRow(ALine, row);
  PrintRecord(row, AOptions.Decode);
  return 0;
}

int ColumnsCommand(TData& AData, const TLogsOptions& ALogs) {
  OpenLogs(AData, ALogs);
  TCliProgress progress("Reading " + LogsCaption(AData));
  TProgressNotifyEvent report = progress.Callback();
  TrdlDataRow row;
  const int64_t count = AData.Count();
  TProgressSteps steps;
  for (int64_t i = 0; i < count; ++i) {
    AData.GetRow(i, row);
    if (const int percents = steps.Due(i, count); percents >= 0) {
      bool cancel = false;
      report(nullptr, percents, cancel);
      if (cancel) throw TInterrupted();
    }
  }
  progress.Finish();
  for (int i = 0; i < AData.Columns().Count(); ++i) {
    const TrdlDataColumn* column = AData.Columns().Columns(i);
    std::cout << column->ColumnName() << '\t' << DataTypeName(column->DataType()) << '\n';
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// grep

struct TGrepOptions {
  TLogsOptions Logs;  // its Arguments: the files, then the query
  bool Count = false;
  bool Numbers = false;
  bool Show = false;
};

// Runs one scan of AData's open log, handing chunks of matches to AOnMatches on this thread
// as they come; Ctrl+C cancels it.
TScanOutcome RunScan(TData& AData, std::shared_ptr<const TCompiledQuery> AQuery,
                     const std::function<void(const std::vector<uint32_t>&)>& AOnMatches) {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::vector<uint32_t>> chunks;
  std::optional<TScanOutcome> outcome;
  TScanCallbacks callbacks;
  callbacks.OnMatches = [&](std::vector<uint32_t>&& AChunk) {
    std::lock_guard guard(lock);
    chunks.push_back(std::move(AChunk));
    changed.notify_one();
  };
  callbacks.OnFinished = [&](const TScanOutcome& AOutcome) {
    std::lock_guard guard(lock);
    outcome = AOutcome;
    changed.notify_one();
  };
  TScanner scanner(std::move(AQuery), TScanTarget::Of(AData), std::move(callbacks));
  scanner.Start();
  for (;;) {
    std::vector<uint32_t> chunk;
    {
      std::unique_lock guard(lock);
      changed.wait_for(guard, std::chrono::milliseconds(100), [&] { return !chunks.empty() || outcome.has_value(); });
      if (chunks.empty() && outcome) break;
      if (gInterrupted != 0) scanner.Cancel();
      if (chunks.empty()) continue;
      chunk = std::move(chunks.front());
      chunks.pop_front();
    }
    AOnMatches(chunk);
  }
  scanner.Wait();
  return *outcome;
}

// Every record AQuery matches, for the commands that take --where; Ctrl+C interrupts.
std::vector<uint32_t> MatchingRecords(TData& AData, std::shared_ptr<const TCompiledQuery> AQuery) {
  std::vector<uint32_t> records;
  const TScanOutcome outcome = RunScan(AData, std::move(AQuery), [&](const std::vector<uint32_t>& AMatches) {
    records.insert(records.end(), AMatches.begin(), AMatches.end());
  });
  if (outcome.Cancelled) throw TInterrupted();
  if (!outcome.Error.empty()) throw std::runtime_error(outcome.Error);
  for (const std::string& field : outcome.MissingFields)
    std::cerr << "velloran: no record so far has the field " << field << '\n';
  return records;
}

// The records of every log named, searched as one set: several servers' files merged by time.
// With several files, a line printed (of a record, or of --show) begins with the name of the
// record's file and ":", and --count prints one FILE:COUNT line per file in set order; the
// numbers --numbers prints are the set's, bare, as line and show take them with the same files.
int GrepCommand(const TGrepOptions& AOptions) {
  if (AOptions.Logs.Arguments.size() < 2) throw EBadQuery("grep needs at least one FILE and a QUERY");
  TLogsOptions logs = AOptions.Logs;
  const std::shared_ptr<const TCompiledQuery> query = CompileQuery(logs.Arguments.back());
  logs.Arguments.pop_back();
  TData data;
  // Whether lines name their file depends on the files named, not on which of them could be
  // read: a script's parsing does not change with a skipped file.
  const bool prefix = OpenLogs(data, logs) > 1;
  std::vector<std::string> heads;
  for (int file = 0; file < data.FileCount(); ++file) heads.push_back(prefix ? data.FileNameOf(file) + ":" : std::string());
  std::vector<int64_t> counts(heads.size());
  TrdlDataRow row;
  const TScanOutcome outcome = RunScan(data, query, [&](const std::vector<uint32_t>& AMatches) {
    for (const uint32_t record : AMatches) {
      const size_t file = static_cast<size_t>(std::max(0, data.FileOfRecord(record)));
      ++counts[file];
      if (AOptions.Count) continue;
      if (AOptions.Numbers) {
        std::cout << record << '\n';
      } else if (AOptions.Show) {
        data.ParseRecord(record, row);
        PrintRecord(row, false, heads[file]);
        std::cout << '\n';
      } else {
        std::cout << heads[file] << data.RawRecord(record) << '\n';
      }
    }
  });
  if (outcome.Cancelled) throw TInterrupted();
  int64_t total = 0;
  for (const int64_t count : counts) total += count;
  if (AOptions.Count && prefix) {
    for (size_t file = 0; file < heads.size(); ++file) std::cout << heads[file] << counts[file] << '\n';
  } else if (AOptions.Count) {
    std::cout << total << '\n';
  }
  if (!outcome.Error.empty()) throw std::runtime_error(outcome.Error);
  for (const std::string& field : outcome.MissingFields)
    std::cerr << "velloran: no record so far has the field " << field << '\n';
  return total > 0 ? 0 : 1;
}

// stats

struct TStatsOptions {
  std::string Where;  // a query: the statistics of the records it matches
  size_t Top = 10;
  std::string Interval;  // empty: chosen for about 200 intervals
  std::string Format = "text";
};

// One pass over the logs (or the records --where matches): counts by Packet-Type and reason,
// the top values of the ranked fields, the traffic per interval.
int StatsCommand(TData& AData, const TLogsOptions& ALogs, const TStatsOptions& AOptions) {
  TStatisticsOptions options;
  options.TopCount = AOptions.Top;
  if (!AOptions.Interval.empty()) {
    const std::optional<int64_t> interval = ParseIntervalText(AOptions.Interval);
    if (!interval) throw EUsage("--interval " + QuotedName(AOptions.Interval) + ": expected 1s to 1d, such as 30s, 5m, 1h or 1d");
    options.IntervalSeconds = *interval;
  }
  std::shared_ptr<const TCompiledQuery> query;
  if (!AOptions.Where.empty()) query = CompileQuery(AOptions.Where);
  OpenLogs(AData, ALogs);
  std::vector<uint32_t> records;
  if (query) {
    records = MatchingRecords(AData, query);
    options.Records = &records;
  }
  TCliProgress progress("Counting");
  std::atomic<int> percents{0};
  std::atomic<bool> finished{false};
  options.OnProgress = [&](int64_t ADone, int64_t ATotal) {
    percents = ATotal > 0 ? static_cast<int>(ADone * 100 / ATotal) : 100;
  };
  const TScanTarget target = TScanTarget::Of(AData);
  TLogStatistics statistics;
  {
    std::jthread pass([&](std::stop_token AStop) {
      statistics = ComputeStatistics(target, options, AStop);
      finished = true;
    });
    while (!finished) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      bool cancel = false;
      progress.Report(percents, cancel);
      if (cancel) pass.request_stop();
    }
  }
  progress.Finish();
  if (statistics.Cancelled) throw TInterrupted();
  if (!statistics.Error.empty()) throw std::runtime_error(statistics.Error);
  const TReportFormat format = AOptions.Format == "csv"    ? TReportFormat::rfCsv
                               : AOptions.Format == "json" ? TReportFormat::rfJson
                                                           : TReportFormat::rfText;
  WriteStatisticsReport(std::cout, statistics, format);
  return 0;
}

struct TExportOptions {
  std::string Out;
  std::string Format;  // "csv", "xml" or empty: from OUT's extension
  std::string Columns;
  std::string Separator = ",";
  bool NoHeader = false;
  bool Names = false;
  std::string Where;  // a query: only the records it matches
};

// --format when given; otherwise by OUT's name, as the viewer decides.
TDataExportFormat FormatOf(const TExportOptions& AOptions) {
  if (!AOptions.Format.empty()) return AOptions.Format == "csv" ? TDataExportFormat::efCSV : TDataExportFormat::efXML;
  return ExportFormatOfFileName(AOptions.Out);
}

// Why AText cannot separate CSV fields, or empty text when it can: the exporter writes the
// separator as one byte, so it must be one ASCII character, and a quote or a line break
// would make the file unreadable.
std::string SeparatorProblem(const std::string& AText) {
  if (AText.size() != 1 || static_cast<unsigned char>(AText[0]) >= 0x80) return "must be one ASCII character";
  if (AText[0] == '"' || AText[0] == '\r' || AText[0] == '\n') return "cannot be a double quote or a line break";
  return {};
}

// An OUT that is an existing *.log other than the logs read is refused: it is most likely a
// log that came last from a wildcard (velloran export IN2612*.log) with OUT forgotten, and
// the export would replace it.
void CheckOutIsNoOtherLog(const TData& AData, const std::string& AOut) {
  std::error_code statusError;
  if (!std::filesystem::is_regular_file(AOut, statusError) || !platform::EndsWithIgnoringAsciiCase(AOut, ".log")) return;
  for (int file = 0; file < AData.FileCount(); ++file) {
    if (platform::SameFile(AData.FileNameOf(file), AOut)) return;  // the exporter says it is the log being read
  }
  throw EUsage("OUT " + QuotedName(AOut) + " is an existing .log file: it is not replaced (OUT comes last, after the logs)");
}

int ExportCommand(TData& AData, const TLogsOptions& ALogs, const TExportOptions& AOptions) {
  std::shared_ptr<const TCompiledQuery> query;
  if (!AOptions.Where.empty()) query = CompileQuery(AOptions.Where);
  OpenLogs(AData, ALogs);
  CheckOutIsNoOtherLog(AData, AOptions.Out);
  TDataExportParams params;
  std::vector<uint32_t> records;
  if (query) {
    records = MatchingRecords(AData, query);
    params.Records = &records;
  }
  params.Format = FormatOf(AOptions);
  params.FileName = AOptions.Out;
  params.Columns = AOptions.Columns;
  params.Separator = static_cast<char32_t>(AOptions.Separator.at(0));
  params.WithHeader = !AOptions.NoHeader;
  params.Names = AOptions.Names;
  TCliProgress progress("Exporting to " + AOptions.Out);
  TDataExporter exporter(AData);
  exporter.SetOnProgress(progress.Callback());
  bool completed = false;
  try {
    completed = exporter.Execute(params);
  } catch (const std::system_error& e) {
    throw EOutputError(e.what());
  } catch (const EDataExportError& e) {
    throw EOutputError(e.what());
  }
  progress.Finish();
  if (!completed) throw TInterrupted();
  for (const std::string& name : exporter.MissingColumns()) {
    // Quoted, its control characters escaped: a listed name is whatever the user typed.
    std::string quoted = QuotedName(name);
    if (quoted == name) quoted.assign(1, '"').append(name).append(1, '"');
    std::cerr << "velloran: warning: no record has column " << quoted << '\n';
  }
  if (const int64_t replaced = exporter.ReplacedCharacters(); replaced > 0) {
    const char* plural = replaced == 1 ? "" : "s";
    std::cerr << "velloran: warning: " << replaced
              << (params.Format == TDataExportFormat::efCSV ? " NUL character" : " character") << plural
              << (params.Format == TDataExportFormat::efCSV ? "" : " XML cannot hold") << " written as U+FFFD\n";
  }
  return 0;
}

// The last of the positional arguments (N, OUT), taken off them: the logs come before it.
std::string TakeLast(std::vector<std::string>& AArguments, const std::string& AName) {
  if (AArguments.size() < 2) throw CLI::RequiredError(AName);
  std::string last = std::move(AArguments.back());
  AArguments.pop_back();
  return last;
}

long long TakeLineNumber(std::vector<std::string>& AArguments) {
  const std::string text = TakeLast(AArguments, "N");
  long long number = 0;
  if (!CLI::detail::lexical_cast(text, number)) throw CLI::ConversionError("N", std::vector<std::string>{text});
  return number;
}

}  // namespace

int main(int argc, char** argv) {
  // A terminal that closes and a polite kill end a command as Ctrl+C does: an export keeps
  // the records written so far.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, OnInterrupt);
  std::ios::sync_with_stdio(false);

  CLI::App app{"velloran: read the XML accounting logs of a network policy server from the command line"};
  app.set_version_flag("--version", std::string("velloran ") + VELLORAN_VERSION);
  app.require_subcommand(1);
  app.footer(
      "FILE... is one log or several, files or folders (a folder: its logs, INyymmdd.log, INyymm.log or iaslogN.log, "
      "else every *.log). Several are read as one set: one server's files one after another, several servers' merged by "
      "Timestamp; records are numbered across the set. A file that cannot be read or holds no events is skipped with a "
      "message; nothing readable at all is an error.");

  // Only one command is parsed: they share these.
  TLogsOptions logs;
  long long lineNumber = 0;
  bool perFile = false;
  TExportOptions exportOptions;
  const auto addLogs = [&](CLI::App* ACommand, const std::string& APositional, const std::string& AHelp) {
    ACommand->add_option(APositional, logs.Arguments, AHelp)->required();
    ACommand
        ->add_option("--index-dir", gIndexDir, "Keep the logs' line indexes in DIR, so a run on an unchanged log skips the walk")
        ->type_name("DIR");
    ACommand
        ->add_option("--merge", logs.Merge,
                     "How several logs are ordered: auto (default: one server's files one after another, merged by time "
                     "when they overlap; several servers' merged by Timestamp), concat (one after another, by the times "
                     "of their first records) or time (merged by Timestamp)")
        ->check(CLI::IsMember({"auto", "concat", "time"}));
    ACommand
        ->add_option("--tz", logs.Zones,
                     "The time zone of FILE's local times (UTC, +02:00, UTC-5, Europe/Berlin), made UTC before logs are "
                     "merged by time; FILE is one of the logs, or a folder given for all of its logs. Repeatable")
        ->type_name("FILE=ZONE")
        ->allow_extra_args(false);
  };
  const std::string logsHelp = "The logs: files and folders";

  CLI::App* count = app.add_subcommand("count", "Print the number of lines the log store indexes (of every log together)");
  addLogs(count, "FILE", logsHelp);
  count->add_flag("--per-file", perFile, "First one \"FILE: COUNT\" line per log, in set order, then the total");
  CLI::App* line = app.add_subcommand("line", "Print the raw bytes of line N (0-based, across the logs), then one LF");
  addLogs(line, "FILE... N", logsHelp + ", then the line number, from 0");
  CLI::App* show = app.add_subcommand("show", "Print record N: one Name=Value line per attribute, in line order");
  addLogs(show, "FILE... N", logsHelp + ", then the record number, from 0 (as line and grep --numbers count)");
  TShowOptions showOptions;
  show->add_flag("--decode", showOptions.Decode,
                 "Code names with their numbers (Packet-Type=Access-Reject (3)) and decoded text");
  show->add_flag("--exchange", showOptions.Exchange,
                 "The record's exchange instead: a one-line answer, then its records (number, Timestamp, Packet-Type)");
  CLI::App* columns = app.add_subcommand("columns", "Parse every record; print one Name<TAB>Type line per column");
  addLogs(columns, "FILE", logsHelp);
  TFollowOptions followOptions;
  CLI::App* follow = app.add_subcommand(
      "follow",
      "Print every line, then each whole line as the log grows, until Ctrl+C (--from-end: only the new lines). Several "
      "logs: every line of the set, then the newest (last) one is followed");
  addLogs(follow, "FILE", logsHelp);
  follow
      ->add_option("--where", followOptions.Where,
                   "Only the lines of the records QUERY matches; a reply takes the fields it lacks from its request "
                   "(see docs/queries.md)")
      ->type_name("QUERY");
  follow->add_flag("--from-end", followOptions.FromEnd,
                   "Start at the end, as tail -f: only lines added after the start (a replaced log: from its first line)");
  CLI::App* exportCommand = app.add_subcommand("export", "Write every record to OUT as CSV or XML, in set order");
  addLogs(exportCommand, "FILE... OUT",
          logsHelp + ", then the file to write (replaced when it exists, unless it is an existing .log file)");
  exportCommand->add_option("--format", exportOptions.Format, "csv or xml; default: CSV when OUT ends in .csv, else XML")
      ->check(CLI::IsMember({"csv", "xml"}));
  exportCommand->add_option("--columns", exportOptions.Columns,
                            "Columns to write, separated by , ; or |; default: every column of the log (CSV), "
                            "every value in line order (XML)");
  exportCommand->add_option("--separator", exportOptions.Separator, "The CSV field separator, one character (default ,)")
      ->check([](const std::string& AValue) { return SeparatorProblem(AValue); });
  exportCommand->add_flag("--no-header", exportOptions.NoHeader, "No header line in a CSV file");
  exportCommand->add_flag("--names", exportOptions.Names,
                          "Coded values as their names (Packet-Type 3: Access-Reject); unnamed values stay numbers");
  exportCommand->add_option("--where", exportOptions.Where, "Only the records QUERY matches (see docs/queries.md)")
      ->type_name("QUERY");
  TGrepOptions grepOptions;
  CLI::App* grep = app.add_subcommand(
      "grep",
      "Print the lines of the records QUERY matches (docs/queries.md), in set order. With several files each line "
      "begins with its file's name and \":\" and --count counts per file; --numbers prints the set's record numbers "
      "alone. Exit 0: something matched; 1: nothing; 2: an error");
  addLogs(grep, "FILE... QUERY", logsHelp + " (read as one set), then the query");
  auto* grepCount = grep->add_flag("--count", grepOptions.Count, "Print the number of matching records (per file)");
  auto* grepNumbers = grep->add_flag("--numbers", grepOptions.Numbers,
                                     "Print the record numbers (from 0, across the files, as line and show take them)");
  auto* grepShow = grep->add_flag("--show", grepOptions.Show, "Print each record as Name=Value lines, then an empty line");
  grepCount->excludes(grepNumbers)->excludes(grepShow);
  grepNumbers->excludes(grepShow);

  TStatsOptions statsOptions;
  CLI::App* stats = app.add_subcommand(
      "stats",
      "Print what happened in the logs: records by Packet-Type, refusals by Reason-Code, the most frequent users, "
      "stations, access points, clients, policies and authentication types among requests and among refusals (a "
      "refusal's user and station come from its request), and the traffic per interval of time");
  addLogs(stats, "FILE", logsHelp);
  stats->add_option("--where", statsOptions.Where, "Only the records QUERY matches (see docs/queries.md)")->type_name("QUERY");
  stats->add_option("--top", statsOptions.Top, "How many values each top list shows (default 10)")->check(CLI::Range(1, 100000));
  stats
      ->add_option("--interval", statsOptions.Interval,
                   "The width of the traffic's intervals, 1s to 1d (30s, 5m, 1h, 1d); default: chosen for about 200 "
                   "intervals. Widened when it would make more than 10000")
      ->type_name("WIDTH");
  stats
      ->add_option("--format", statsOptions.Format,
                   "text (default: aligned columns, plain digits), csv (one table: section,field,value,name,count,share) "
                   "or json")
      ->check(CLI::IsMember({"text", "csv", "json"}));

  try {
    app.parse(argc, argv);
    if (line->parsed() || show->parsed()) lineNumber = TakeLineNumber(logs.Arguments);
    if (exportCommand->parsed()) exportOptions.Out = TakeLast(logs.Arguments, "OUT");
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  grepOptions.Logs = logs;
  if (!logs.Arguments.empty()) gSubject = logs.Arguments.front();

  // The program's informer (console defaults, then the configuration every program applies)
  // comes before the data and goes after it, as in the viewer.
  TrclInformer informer(TrclInformerProgramKind::ipkConsole);
  ConfigureForProgram(informer);
  TData data;
  int result = kExitUsage;
  bool failed = false;
  try {
    if (count->parsed()) result = CountCommand(data, logs, perFile);
    if (line->parsed()) result = LineCommand(data, logs, lineNumber);
    if (show->parsed()) result = ShowCommand(data, logs, lineNumber, showOptions);
    if (columns->parsed()) result = ColumnsCommand(data, logs);
    if (exportCommand->parsed()) result = ExportCommand(data, logs, exportOptions);
    if (follow->parsed()) result = FollowCommand(data, logs, followOptions);
    if (grep->parsed()) result = GrepCommand(grepOptions);
    if (stats->parsed()) result = StatsCommand(data, logs, statsOptions);
    FlushStandardOutput();
    // Ctrl+C after the last progress report still interrupted the command.
    if (gInterrupted != 0) throw TInterrupted();
  } catch (const TInterrupted&) {
    std::cerr << "velloran: interrupted\n";
    result = kExitInterrupted;
    failed = true;
  } catch (const EBadQuery& e) {
    std::cerr << "velloran: " << e.what() << '\n';
    result = kExitUsage;
  } catch (const EUsage& e) {
    std::cerr << "velloran: " << e.what() << '\n';
    result = kExitUsage;
  } catch (const EOutputError& e) {
    std::cerr << "velloran: " << e.what() << '\n';
    result = kExitError;
    failed = true;
  } catch (const std::exception& e) {
    std::cerr << "velloran: " << NamingTheFile(gSubject, e.what()) << '\n';  // about the logs
    result = kExitError;
    failed = true;
  }
  // grep's convention: 1 says "nothing matched", so errors are 2.
  if (grep->parsed() && result == kExitError && failed) result = kExitUsage;
  return result;
}
