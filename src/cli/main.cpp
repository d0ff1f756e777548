// velloran: the command-line companion of the viewer. Same core, no Qt. Its interface is
// relied upon by scripts: errors name the file and the cause on standard error and exit 1,
// bad usage exits 2, an interrupt exits 130.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "rdlLogMonitor.h"

#ifndef VELLORAN_VERSION
#define VELLORAN_VERSION "0.0.0"
#endif

namespace {

using velloran::TrdlLogMonitor;

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int) { gInterrupted = 1; }

class TInterrupted {};

// Progress of the walk on standard error, only when it is a terminal; Ctrl+C cancels the
// walk through the same callback.
class TCliProgress {
 public:
  explicit TCliProgress(std::string ACaption) : FCaption(std::move(ACaption)), FShow(::isatty(STDERR_FILENO) != 0) {}
  ~TCliProgress() { Finish(); }
  TCliProgress(const TCliProgress&) = delete;
  TCliProgress& operator=(const TCliProgress&) = delete;

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

// Indexes AFileName; throws std::runtime_error naming the file and the cause, or
// TInterrupted when Ctrl+C cancelled the walk.
void OpenLog(TrdlLogMonitor& AMonitor, const std::string& AFileName) {
  TCliProgress progress("Indexing " + AFileName);
  AMonitor.SetOnProgress([&progress](void*, int APercents, bool& IsCanceled) { progress.Report(APercents, IsCanceled); });
  AMonitor.SetFileName(AFileName);
  AMonitor.SetActive(true);
  AMonitor.SetOnProgress(nullptr);
  progress.Finish();
  if (gInterrupted != 0) throw TInterrupted();
  if (!AMonitor.Active() && !AMonitor.LastErrorText().empty()) throw std::runtime_error(AMonitor.LastErrorText());
}

// An error message on one line that names the file: the log store's read errors carry a
// line break and no file name.
std::string NamingTheFile(const std::string& AFileName, std::string AMessage) {
  for (char& c : AMessage) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  size_t spaces = 0;
  while ((spaces = AMessage.find("  ")) != std::string::npos) AMessage.erase(spaces, 1);
  if (AMessage.find(AFileName) == std::string::npos) AMessage = AFileName + ": " + AMessage;
  return AMessage;
}

int CountCommand(const std::string& AFileName) {
  TrdlLogMonitor monitor;
  OpenLog(monitor, AFileName);
  std::cout << monitor.Count() << '\n';
  return 0;
}

int LineCommand(const std::string& AFileName, long long ALine) {
  TrdlLogMonitor monitor;
  OpenLog(monitor, AFileName);
  if (ALine < 0 || ALine >= monitor.Count()) {
    throw std::runtime_error("no such line " + AFileName + " (line " + std::to_string(ALine) + " asked, the log has " +
                             std::to_string(monitor.Count()) + " lines, numbered from 0)");
  }
  const std::string bytes = monitor.Get(static_cast<int>(ALine));
  std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::cout.put('\n');
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, OnInterrupt);
  std::ios::sync_with_stdio(false);

  CLI::App app{"velloran: read the XML accounting logs of a network policy server from the command line"};
  app.set_version_flag("--version", std::string("velloran ") + VELLORAN_VERSION);
  app.require_subcommand(1);

  std::string fileName;
  long long lineNumber = 0;
  CLI::App* count = app.add_subcommand("count", "Print the number of lines the log store indexes");
  count->add_option("FILE", fileName, "The log file")->required();
  CLI::App* line = app.add_subcommand("line", "Print the raw bytes of line N (0-based), then one LF");
  line->add_option("FILE", fileName, "The log file")->required();
  line->add_option("N", lineNumber, "The line number, from 0")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }

  try {
    if (count->parsed()) return CountCommand(fileName);
    if (line->parsed()) return LineCommand(fileName, lineNumber);
  } catch (const TInterrupted&) {
    std::cerr << "velloran: interrupted\n";
    return kExitInterrupted;
  } catch (const std::exception& e) {
    std::cerr << "velloran: " << NamingTheFile(fileName, e.what()) << '\n';
    return kExitError;
  }
  return kExitUsage;
}
