// velloran: the command-line companion of the viewer. Same core, no Qt. Its interface is
// relied upon by scripts: errors name the file and the cause on standard error and exit 1,
// bad usage exits 2, an interrupt exits 130.
#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CompiledQuery.h"
#include "DecodedText.h"
#include "Exchange.h"
#include "Exporter.h"
#include "FileWatch.h"
#include "Informer.h"
#include "LogData.h"
#include "PlatformFile.h"
#include "Progress.h"
#include "Scanner.h"
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

// Opens AFileName in AData; throws std::runtime_error naming the file and the cause, or
// TInterrupted when Ctrl+C cancelled the walk.
void OpenLog(TData& AData, const std::string& AFileName) {
  if (!gIndexDir.empty()) {
    platform::ForceFolders(gIndexDir);
    AData.LogMonitor().SetUseFileIndex(true);
    AData.LogMonitor().SetIndexDataFolder(gIndexDir);
  }
  TCliProgress progress("Indexing " + AFileName);
  AData.SetOnProgress(progress.Callback());
  AData.Open(AFileName);
  AData.SetOnProgress(nullptr);
  progress.Finish();
  if (gInterrupted != 0) throw TInterrupted();
  const TrdlLogMonitor& monitor = AData.LogMonitor();
  if (!monitor.Active() && !monitor.LastErrorText().empty()) throw std::runtime_error(monitor.LastErrorText());
  if (!monitor.IndexWarningText().empty())
    std::cerr << "velloran: warning: " << NamingTheFile(AFileName, monitor.IndexWarningText()) << '\n';
}

void CheckLineNumber(const std::string& AFileName, long long ALine, int64_t ACount) {
  if (ALine < 0 || ALine >= ACount) {
    throw std::runtime_error("no such line " + AFileName + " (line " + std::to_string(ALine) + " asked, the log has " +
                             std::to_string(ACount) + " lines, numbered from 0)");
  }
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

// Every line of the log (--from-end: none of those it holds now), then every line as the log
// grows, until Ctrl+C; --where prints only the lines of matching records. A last line still
// without its line break is held back until it is whole; a log that shrank or was replaced
// starts again from its first line.
int FollowCommand(TData& AData, const std::string& AFileName, const TFollowOptions& AOptions) {
  std::shared_ptr<const TCompiledQuery> query = AOptions.Where.empty() ? nullptr : CompileQuery(AOptions.Where);
  // The empty query: every line, unparsed, as grep reports it.
  if (query && query->MatchesAll()) query = nullptr;
  OpenLog(AData, AFileName);
  TrdlLogMonitor& monitor = AData.LogMonitor();
  const auto dispatcher = std::make_shared<TLoopDispatcher>();
  monitor.SetDispatcher(dispatcher);
  // The lines before it were printed or passed over. A log without lines at the start has
  // nothing for --from-end to skip: whatever comes was added afterwards.
  int next = AOptions.FromEnd && monitor.Active() ? WholeLines(monitor) : 0;
  WaitForLines(monitor, *dispatcher);
  TFollowFilter filter(AData, std::move(query));
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

int CountCommand(TData& AData, const std::string& AFileName) {
  OpenLog(AData, AFileName);
  std::cout << AData.Count() << '\n';
  return 0;
}

int LineCommand(TData& AData, const std::string& AFileName, long long ALine) {
  OpenLog(AData, AFileName);
  CheckLineNumber(AFileName, ALine, AData.Count());
  const std::string bytes = AData.LogMonitor().Get(static_cast<int>(ALine));
  std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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

int ShowCommand(TData& AData, const std::string& AFileName, long long ALine, const TShowOptions& AOptions) {
  OpenLog(AData, AFileName);
  CheckLineNumber(AFileName, ALine, AData.Count());
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

int ColumnsCommand(TData& AData, const std::string& AFileName) {
  OpenLog(AData, AFileName);
  TCliProgress progress("Reading " + AFileName);
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
  std::vector<std::string> Arguments;  // the files, then the query
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

int GrepCommand(const TGrepOptions& AOptions) {
  if (AOptions.Arguments.size() < 2) throw EBadQuery("grep needs at least one FILE and a QUERY");
  const std::shared_ptr<const TCompiledQuery> query = CompileQuery(AOptions.Arguments.back());
  const bool prefix = AOptions.Arguments.size() > 2;
  int64_t total = 0;
  std::vector<std::string> missing;
  for (size_t f = 0; f + 1 < AOptions.Arguments.size(); ++f) {
    const std::string& file = AOptions.Arguments[f];
    const std::string head = prefix ? file + ":" : std::string();
    TData data;
    OpenLog(data, file);
    int64_t count = 0;
    TrdlDataRow row;
    const TScanOutcome outcome = RunScan(data, query, [&](const std::vector<uint32_t>& AMatches) {
      count += static_cast<int64_t>(AMatches.size());
      if (AOptions.Count) return;
      for (const uint32_t record : AMatches) {
        if (AOptions.Numbers) {
          std::cout << head << record << '\n';
        } else if (AOptions.Show) {
          data.ParseRecord(record, row);
          PrintRecord(row, false, head);
          std::cout << '\n';
        } else {
          std::cout << head << data.RawRecord(record) << '\n';
        }
      }
    });
    if (outcome.Cancelled) throw TInterrupted();
    if (AOptions.Count) std::cout << head << count << '\n';
    total += count;
    for (const std::string& field : outcome.MissingFields) {
      if (std::find(missing.begin(), missing.end(), field) == missing.end()) missing.push_back(field);
    }
    if (!outcome.Error.empty()) throw std::runtime_error(outcome.Error);
  }
  for (const std::string& field : missing) std::cerr << "velloran: no record so far has the field " << field << '\n';
  return total > 0 ? 0 : 1;
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

int ExportCommand(TData& AData, const std::string& AFileName, const TExportOptions& AOptions) {
  std::shared_ptr<const TCompiledQuery> query;
  if (!AOptions.Where.empty()) query = CompileQuery(AOptions.Where);
  OpenLog(AData, AFileName);
  TDataExportParams params;
  std::vector<uint32_t> records;
  if (query) {
    const TScanOutcome outcome = RunScan(AData, query, [&](const std::vector<uint32_t>& AMatches) {
      records.insert(records.end(), AMatches.begin(), AMatches.end());
    });
    if (outcome.Cancelled) throw TInterrupted();
    if (!outcome.Error.empty()) throw std::runtime_error(outcome.Error);
    for (const std::string& field : outcome.MissingFields)
      std::cerr << "velloran: no record so far has the field " << field << '\n';
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

}  // namespace

int main(int argc, char** argv) {
  // A terminal that closes and a polite kill end a command as Ctrl+C does: an export keeps
  // the records written so far.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, OnInterrupt);
  std::ios::sync_with_stdio(false);

  CLI::App app{"velloran: read the XML accounting logs of a network policy server from the command line"};
  app.set_version_flag("--version", std::string("velloran ") + VELLORAN_VERSION);
  app.require_subcommand(1);

  std::string fileName;
  long long lineNumber = 0;
  TExportOptions exportOptions;
  const auto addFile = [&](CLI::App* ACommand) {
    ACommand->add_option("FILE", fileName, "The log file")->required();
    ACommand->add_option("--index-dir", gIndexDir,
                         "Keep the log's line index in DIR, so a run on an unchanged log skips the walk");
  };
  const auto addLine = [&](CLI::App* ACommand) { ACommand->add_option("N", lineNumber, "The line number, from 0")->required(); };

  CLI::App* count = app.add_subcommand("count", "Print the number of lines the log store indexes");
  addFile(count);
  CLI::App* line = app.add_subcommand("line", "Print the raw bytes of line N (0-based), then one LF");
  addFile(line);
  addLine(line);
  CLI::App* show = app.add_subcommand("show", "Print record N: one Name=Value line per attribute, in line order");
  addFile(show);
  addLine(show);
  TShowOptions showOptions;
  show->add_flag("--decode", showOptions.Decode,
                 "Code names with their numbers (Packet-Type=Access-Reject (3)) and decoded text");
  show->add_flag("--exchange", showOptions.Exchange,
                 "The record's exchange instead: a one-line answer, then its records (number, Timestamp, Packet-Type)");
  CLI::App* columns = app.add_subcommand("columns", "Parse every record; print one Name<TAB>Type line per column");
  addFile(columns);
  TFollowOptions followOptions;
  CLI::App* follow = app.add_subcommand(
      "follow", "Print every line, then each whole line as the log grows, until Ctrl+C (--from-end: only the new lines)");
  addFile(follow);
  follow
      ->add_option("--where", followOptions.Where,
                   "Only the lines of the records QUERY matches; a reply takes the fields it lacks from its request "
                   "(see docs/queries.md)")
      ->type_name("QUERY");
  follow->add_flag("--from-end", followOptions.FromEnd,
                   "Start at the end, as tail -f: only lines added after the start (a replaced log: from its first line)");
  CLI::App* exportCommand = app.add_subcommand("export", "Write every record to OUT as CSV or XML");
  addFile(exportCommand);
  exportCommand->add_option("OUT", exportOptions.Out, "The file to write (replaced when it exists)")->required();
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
      "Print the lines of the records QUERY matches (docs/queries.md). Exit 0: something matched; 1: nothing; 2: an error");
  grep->add_option("FILE... QUERY", grepOptions.Arguments, "The logs, searched in order, then the query")->required();
  grep->add_option("--index-dir", gIndexDir, "Keep the logs' line indexes in DIR, so a run on an unchanged log skips the walk");
  auto* grepCount = grep->add_flag("--count", grepOptions.Count, "Print the number of matching records (per file)");
  auto* grepNumbers = grep->add_flag("--numbers", grepOptions.Numbers, "Print the record numbers (from 0) instead of lines");
  auto* grepShow = grep->add_flag("--show", grepOptions.Show, "Print each record as Name=Value lines, then an empty line");
  grepCount->excludes(grepNumbers)->excludes(grepShow);
  grepNumbers->excludes(grepShow);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }

  // The program's informer (console defaults, then the configuration every program applies)
  // comes before the data and goes after it, as in the viewer.
  TrclInformer informer(TrclInformerProgramKind::ipkConsole);
  ConfigureForProgram(informer);
  TData data;
  int result = kExitUsage;
  bool failed = false;
  try {
    if (count->parsed()) result = CountCommand(data, fileName);
    if (line->parsed()) result = LineCommand(data, fileName, lineNumber);
    if (show->parsed()) result = ShowCommand(data, fileName, lineNumber, showOptions);
    if (columns->parsed()) result = ColumnsCommand(data, fileName);
    if (exportCommand->parsed()) result = ExportCommand(data, fileName, exportOptions);
    if (follow->parsed()) result = FollowCommand(data, fileName, followOptions);
    if (grep->parsed()) result = GrepCommand(grepOptions);
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
  } catch (const EOutputError& e) {
    std::cerr << "velloran: " << e.what() << '\n';
    result = kExitError;
    failed = true;
  } catch (const std::exception& e) {
    std::cerr << "velloran: " << NamingTheFile(fileName, e.what()) << '\n';  // about the log
    result = kExitError;
    failed = true;
  }
  // grep's convention: 1 says "nothing matched", so errors are 2.
  if (grep->parsed() && result == kExitError && failed) result = kExitUsage;
  return result;
}
