// Faults of the saved line index and of growth that gave wrong lines while reporting success:
// an index folder that cannot be written, index files of equal names, a rebuild cut short,
// a cancelled walk, two writers, and the growth steps and reads that met a half-written or
// truncated log. Each case here failed before its mend.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "LogMonitor.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using namespace std::chrono_literals;
using test::TTempDir;

// ACount CR LF lines "<prefix><n>" padded to vary their lengths.
std::string Lines(const std::string& APrefix, int ACount, const std::string& AEnd = "\r\n") {
  std::string text;
  for (int i = 0; i < ACount; ++i) text += APrefix + std::to_string(i) + std::string(static_cast<size_t>(i % 7), '.') + AEnd;
  return text;
}

std::vector<std::string> AllLines(TrdlLogMonitor& AMonitor) {
  std::vector<std::string> lines;
  for (int i = 0; i < AMonitor.Count(); ++i) lines.push_back(AMonitor.Get(i));
  return lines;
}

std::vector<std::string> Expected(const std::string& APrefix, int ACount) {
  std::vector<std::string> lines;
  for (int i = 0; i < ACount; ++i) lines.push_back(APrefix + std::to_string(i) + std::string(static_cast<size_t>(i % 7), '.'));
  return lines;
}

void Append(const std::string& APath, const std::string& ABytes) {
  std::ofstream out(APath, std::ios::binary | std::ios::app);
  out.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
}

struct TIndexedMonitor {
  explicit TIndexedMonitor(const std::string& ALog, const std::string& AIndexDir) {
    Monitor.SetFileName(ALog);
    Monitor.SetUseFileIndex(true);
    Monitor.SetIndexDataFolder(AIndexDir);
  }
  TrdlLogMonitor Monitor;
};

TEST(LineIndexTrustTest, AnIndexFolderThatCannotBeWrittenLeavesEveryLineIndexedInMemory) {
  TTempDir dir;
  const std::string log = dir.Write("big.log", Lines("line ", 4000));
  const std::string notAFolder = dir.Write("plain-file", "x");
  for (const std::string& folder : {notAFolder, notAFolder + "/below"}) {
    TIndexedMonitor indexed(log, folder);
    indexed.Monitor.SetActive(true);
    EXPECT_EQ(indexed.Monitor.Count(), 4000) << folder;
    EXPECT_EQ(indexed.Monitor.Get(3999), Expected("line ", 4000).back()) << folder;
    EXPECT_NE(indexed.Monitor.IndexWarningText().find(folder), std::string::npos) << indexed.Monitor.IndexWarningText();
  }
}

TEST(LineIndexTrustTest, LogsOfOneNameInDifferentFoldersNeverShareAnIndex) {
  TTempDir dir;
  std::filesystem::create_directories(dir.Path() / "a");
  std::filesystem::create_directories(dir.Path() / "b");
  // Same size and same final line, different records.
  const std::string first = dir.Write("a/x.log", "alpha 1\r\nalpha 2\r\nend\r\n");
  const std::string second = dir.Write("b/x.log", "bravo 1\r\nbravo 2\r\nend\r\n");
  const std::string index = (dir.Path() / "index").string();
  std::filesystem::create_directories(index);
  const auto oldCwd = std::filesystem::current_path();
  std::vector<std::string> seen;
  for (const char* folder : {"a", "b"}) {
    std::filesystem::current_path(dir.Path() / folder);
    TIndexedMonitor indexed("x.log", index);
    indexed.Monitor.SetActive(true);
    seen.push_back(indexed.Monitor.Get(0));
    indexed.Monitor.SetActive(false);
  }
  std::filesystem::current_path(oldCwd);
  EXPECT_EQ(seen, (std::vector<std::string>{"alpha 1", "bravo 1"}));
  (void)first;
  (void)second;
}

TEST(LineIndexTrustTest, ARebuildCutShortNeverLeavesAnIndexThatPassesForTheOldLog) {
  TTempDir dir;
  const std::string index = (dir.Path() / "index").string();
  std::filesystem::create_directories(index);
  const std::string oldBytes = Lines("old record ", 7000);
  const std::string log = dir.Write("x.log", oldBytes);
  {
    TIndexedMonitor indexed(log, index);
    indexed.Monitor.SetActive(true);
  }  // saved: a valid index of the old log
  dir.Write("x.log", Lines("new ", 9000));
  // The rebuild dies (as kill -9 would) after its first pages were written over the old ones.
  EXPECT_EXIT(
      {
        TIndexedMonitor indexed(log, index);
        int seen = 0;
        indexed.Monitor.SetOnCheckRecord([&](const uint8_t*, int) {
          if (++seen == 8500) ::_exit(7);
          return true;
        });
        indexed.Monitor.SetActive(true);
        ::_exit(0);
      },
      testing::ExitedWithCode(7), "");
  dir.Write("x.log", oldBytes);  // the old log is back: same size, same final line
  TIndexedMonitor reopened(log, index);
  reopened.Monitor.SetActive(true);
  EXPECT_EQ(AllLines(reopened.Monitor), Expected("old record ", 7000));
}

TEST(LineIndexTrustTest, ACancelledWalkIsNeverReusedAsTheWholeIndex) {
  TTempDir dir;
  const std::string index = (dir.Path() / "index").string();
  std::filesystem::create_directories(index);
  // The final line is empty: its CRC is 0, the value an unfinished walk leaves behind.
  const std::string log = dir.Write("x.log", Lines("record ", 20000) + "\r\n");
  {
    TIndexedMonitor indexed(log, index);
    indexed.Monitor.SetOnProgress([](void*, int APercents, bool& ACancel) { ACancel = APercents >= 50; });
    indexed.Monitor.SetActive(true);
    EXPECT_FALSE(indexed.Monitor.Active());
  }
  TIndexedMonitor reopened(log, index);
  reopened.Monitor.SetActive(true);
  EXPECT_EQ(reopened.Monitor.Count(), 20001);
}

TEST(LineIndexTrustTest, ASecondWriterOfOneIndexKeepsItsLinesInMemory) {
  TTempDir dir;
  const std::string index = (dir.Path() / "index").string();
  std::filesystem::create_directories(index);
  const std::string log = dir.Write("x.log", Lines("record ", 5000));
  TIndexedMonitor first(log, index);
  TIndexedMonitor second(log, index);
  first.Monitor.SetActive(true);
  second.Monitor.SetActive(true);
  EXPECT_EQ(AllLines(second.Monitor), Expected("record ", 5000));
  second.Monitor.SetActive(false);
  first.Monitor.SetActive(false);
  TIndexedMonitor third(log, index);
  third.Monitor.SetActive(true);
  EXPECT_EQ(AllLines(third.Monitor), Expected("record ", 5000));
}

// Growth steps on a log written in pieces: AFirst, then each of ANext with a step after it.
std::vector<std::string> LinesAfterPieces(const std::string& AFirst, const std::vector<std::string>& ANext) {
  TTempDir dir;
  const std::string log = dir.Write("grow.log", AFirst);
  TrdlLogMonitor monitor;
  monitor.SetDispatcher(std::make_shared<TLoopDispatcher>());
  monitor.SetFileName(log);
  monitor.SetActive(true);
  for (const std::string& piece : ANext) {
    Append(log, piece);
    if (!monitor.Active()) {
      monitor.SetActive(true);
    } else {
      monitor.ForcedGrow();
    }
  }
  return AllLines(monitor);
}

TEST(LineIndexTrustTest, GrowthStepsGiveTheLinesOfTheWholeFile) {
  struct TCase {
    const char* Name;
    std::string First;
    std::vector<std::string> Next;
    std::vector<std::string> Lines;
  };
  const TCase cases[] = {
      {"a first line still being written", "B", {"\r\nC\r\n"}, {"B", "C"}},
      {"an LF ends no line", "A\r\nB\n", {"C\r\n"}, {"A", "B\nC"}},
      {"CR CR LF in two writes", "A\r", {"\r\nB\r\n"}, {"A", "B"}},
      {"CR, then LF alone", "A\r", {"\n", "B\r\n"}, {"A", "B"}},
      {"a break then an LF that starts the next line", "A\r\n", {"\nB\r\n"}, {"A", "\nB"}},
  };
  for (const TCase& c : cases) EXPECT_EQ(LinesAfterPieces(c.First, c.Next), c.Lines) << c.Name;
}

TEST(LineIndexTrustTest, LinesAreTheSameWhereverBlocksEnd) {
  const std::string text = "first\r\nA\nB\r\r\nC\r\n\r\n" + std::string(300, 'L') + "\r\nlast\nstill last";
  const std::vector<std::string> lines = {"first", "A\nB", "C", "", std::string(300, 'L'), "last\nstill last"};
  TTempDir dir;
  const std::string log = dir.Write("x.log", text);
  for (uint32_t block = 1; block <= 40; ++block) {
    TrdlLogMonitor monitor;
    monitor.SetPreferredBlockSize(block);
    monitor.SetFileName(log);
    monitor.SetActive(true);
    EXPECT_EQ(AllLines(monitor), lines) << "blocks of " << block;
    EXPECT_TRUE(monitor.LastLineOpen()) << "blocks of " << block;
  }
}

TEST(LineIndexTrustTest, ALogTruncatedWhileItIsReadIsAnErrorNotEmptyLines) {
  TTempDir dir;
  const std::string log = dir.Write("x.log", Lines("record ", 3000));
  TrdlLogMonitor monitor;
  monitor.SetPreferredBlockSize(4096);  // the last line lies in a block read again after the cut
  monitor.SetFileName(log);
  monitor.SetActive(true);
  EXPECT_EQ(monitor.Get(0), "record 0");
  ASSERT_EQ(::truncate(log.c_str(), 1000), 0);
  EXPECT_THROW(monitor.Get(2999), ErdlLogMonitorShrank);
  try {
    monitor.Get(2999);
  } catch (const ErdlLogMonitorShrank& e) {
    EXPECT_EQ(std::string(e.what()), log + " shrank while it was being read");
  }
}

TEST(LineIndexTrustTest, APipeOrADeviceIsRefusedAsNoRegularFile) {
  TTempDir dir;
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    TrdlLogMonitor monitor;
    monitor.SetFileName(path);
    monitor.SetActive(true);
    EXPECT_FALSE(monitor.Active()) << path;
    EXPECT_EQ(monitor.LastErrorText(), "Cannot open " + path + ": not a regular file");
  }
}

TEST(LineIndexTrustTest, ALineOfManyBlocksReadsWholeAndOnePastTheLimitIsAnError) {
  TTempDir dir;
  const std::string longLine(5000, 'v');
  const std::string log = dir.Write("x.log", "a\r\n" + longLine + "\r\nb\r\n");
  TrdlLogMonitor monitor;
  monitor.SetPreferredBlockSize(64);
  monitor.SetFileName(log);
  monitor.SetActive(true);
  EXPECT_EQ(AllLines(monitor), (std::vector<std::string>{"a", longLine, "b"}));

  const std::string huge = dir.Write("huge.log", "a\r\n" + std::string(TrdlLogMonitor::kMaxLineLength + 10, 'h') + "\r\nb\r\n");
  TrdlLogMonitor hugeMonitor;
  hugeMonitor.SetFileName(huge);
  hugeMonitor.SetActive(true);
  ASSERT_EQ(hugeMonitor.Count(), 3);
  EXPECT_EQ(hugeMonitor.Get(2), "b");
  try {
    hugeMonitor.Get(1);
    ADD_FAILURE() << "a line past the limit was read";
  } catch (const ErdlLogMonitorError& e) {
    EXPECT_NE(std::string(e.what()).find("line 1 of " + huge), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace velloran
