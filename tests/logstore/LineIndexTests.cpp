#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "LogMonitor.h"
#include "PlatformFile.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::Join;
using test::TTempDir;

// The walk's own value for the file: what a saved index is compared with.
uint32_t WalkCRC(const std::string& APath, bool ASkipEmptyLines) {
  TrdlLogMonitor monitor;
  monitor.SetFileName(APath);
  monitor.SetOptions(ASkipEmptyLines ? TrdlLogMonitorOptions{lmoSkipEmptyLines} : 0u);
  monitor.SetActive(true);
  return monitor.LastFileLineCRC();
}

TEST(FileLastLineCRCTest, AgreesWithTheWalkForEveryEnding) {
  const std::string many = [] {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += Join({"<Event>", std::to_string(i), "</Event>\r\n"});
    return text;
  }();
  struct TCase {
    const char* Name;
    std::string Bytes;
  };
  const std::vector<TCase> cases = {
      {"CR LF at the end", "first\r\nlast\r\n"},
      {"no break at the end", "first\r\nlast"},
      {"lone CRs", "first\rlast\r"},
      {"an empty final line", "first\r\nlast\r\n\r\n"},
      {"LF only", "first\nlast\n"},
      {"LF only, ending in a run of LFs", "first\nlast\n\n\n"},
      {"LF only, a tail inside a long file", Join({std::string(9000, 'x'), "\n", "last"})},
      {"CR CR LF", "first\r\r\nlast\r\r\n"},
      {"breaks only", "\r\n\r\n"},
      {"LF after the break run", "first\r\n\nlast\r\n"},
      {"one line", "only"},
      {"a tail inside a long file", many},
      {"a tail that starts inside a break", Join({std::string(8191, 'x'), "\r\n", "last\r\n"})},
  };
  TTempDir dir;
  for (const TCase& one : cases) {
    const std::string path = dir.Write("log.log", one.Bytes);
    for (const bool skipEmpty : {false, true}) {
      EXPECT_EQ(FileLastLineCRC(path, skipEmpty), WalkCRC(path, skipEmpty))
          << one.Name << (skipEmpty ? ", skipping empty lines" : "");
    }
  }
  // The same final line with and without its break: one value, the CRC of its bytes.
  EXPECT_EQ(FileLastLineCRC(dir.Write("a.log", "x\r\nlast\r\n")), CalcCRC32("last", 4));
  EXPECT_EQ(FileLastLineCRC(dir.Write("b.log", "x\r\nlast")), CalcCRC32("last", 4));
  EXPECT_NE(FileLastLineCRC(dir.Write("c.log", "x\r\nlast\r\nmore")), FileLastLineCRC(dir.File("a.log")));
}

TEST(FileLastLineCRCTest, FilesThatCannotBeReadGiveZero) {
  TTempDir dir;
  EXPECT_EQ(FileLastLineCRC(dir.File("missing.log")), 0u);
  EXPECT_EQ(FileLastLineCRC(dir.Write("empty.log", "")), 0u);
  EXPECT_EQ(FileLastLineCRC(dir.Path().string()), 0u);
  // A final line longer than the tail is hashed over its tail only: unlike the walk.
  const std::string path = dir.Write("long.log", Join({"a\r\n", std::string(10000, 'z'), "\r\n"}));
  EXPECT_NE(FileLastLineCRC(path), WalkCRC(path, false));
}

TEST(IndexFileNameTest, FolderCrcAndBaseName) {
  const auto folderCrc = [](const std::string& AFolder) {
    std::string bytes;
    for (char c : AFolder) {
      bytes += c;
      bytes += '\0';
    }
    char text[16];
    std::snprintf(text, sizeof text, "%X", CalcCRC32(bytes.data(), bytes.size()));
    return std::string(text);
  };
  struct TCase {
    const char* Folder;
    const char* Log;
    std::string Expected;
  };
  const std::vector<TCase> cases = {
      {"/idx", "/logs/IN2201.log", Join({"/idx/", folderCrc("/logs/"), "_IN2201.idx"})},
      {"/idx/", "/logs/IN2201.log", Join({"/idx/", folderCrc("/logs/"), "_IN2201.idx"})},
      {"/idx", "/other/IN2201.log", Join({"/idx/", folderCrc("/other/"), "_IN2201.idx"})},
      {"/idx", "/logs/IN2201", Join({"/idx/", folderCrc("/logs/"), "_IN2201.idx"})},
      {"/idx", "/logs/a.b.log", Join({"/idx/", folderCrc("/logs/"), "_a.b.idx"})},
      {"", "/logs/a.log", Join({"/", folderCrc("/logs/"), "_a.idx"})},
  };
  for (const TCase& one : cases) {
    TrdlLogMonitor monitor;
    monitor.SetIndexDataFolder(one.Folder);
    monitor.SetFileName(one.Log);
    EXPECT_EQ(monitor.IndexFileName(), one.Expected) << one.Folder << " " << one.Log;
  }
  // Non-ASCII folders count in UTF-16 units: "ü" is one unit, two bytes.
  TrdlLogMonitor monitor;
  monitor.SetIndexDataFolder("/idx");
  monitor.SetFileName("/l\xC3\xBC/a.log");
  const std::string bytes("/\0l\0\xFC\0/\0", 8);
  char crc[16];
  std::snprintf(crc, sizeof crc, "%X", CalcCRC32(bytes.data(), bytes.size()));
  EXPECT_EQ(monitor.IndexFileName(), Join({"/idx/", crc, "_a.idx"}));
}

// Reads of the log itself (not of its index file). Every activation reads the log's tail and
// head (to check a saved index by its final line, which the head's line break decides), sizes
// its blocks with a trial read, maps the first one and notes the CRC of its first 4 KiB (which
// tells a log rewritten in place from a grown one); a walk of this three-block log reads every
// block.
ino_t gLogInode = 0;
int gLogReads = 0;
ssize_t CountingPread(int AHandle, void* ABuffer, size_t ALength, off_t AOffset) {
  struct stat status {};
  if (::fstat(AHandle, &status) == 0 && status.st_ino == gLogInode) ++gLogReads;
  return ::pread(AHandle, ABuffer, ALength, AOffset);
}

class SavedIndexTest : public ::testing::Test {
 protected:
  SavedIndexTest() { FPrevious = platform::SetPreadFunction(CountingPread); }
  ~SavedIndexTest() override { platform::SetPreadFunction(FPrevious); }

  // One run of a monitor on the log with the index kept in the folder: its lines, the
  // progress it reported and whether it read the log's blocks.
  struct TRun {
    std::vector<std::string> Lines;
    std::vector<int> Progress;
    bool Walked = false;
  };
  TRun Run(const std::function<void(TrdlLogMonitor&)>& ASetUp = {}) {
    TRun run;
    TrdlLogMonitor monitor;
    monitor.SetUseFileIndex(true);
    monitor.SetIndexDataFolder(FDir.File("idx"));
    monitor.SetOnProgress([&](void*, int APercents, bool&) { run.Progress.push_back(APercents); });
    if (ASetUp) ASetUp(monitor);
    monitor.SetFileName(FLog);
    struct stat status {};
    ::stat(FLog.c_str(), &status);
    gLogInode = status.st_ino;
    gLogReads = 0;
    monitor.SetActive(true);
    run.Walked = gLogReads > 5;
    for (int i = 0; i < monitor.Count(); ++i) run.Lines.push_back(monitor.Get(i));
    return run;
  }

  TTempDir FDir;
  // Three blocks of 1 MiB: a walk reads more than the first one.
  std::string FLog = FDir.Write("IN261209.log", [] {
    std::string text;
    for (int i = 0; text.size() < 3 * 1048576; ++i)
      text += Join({"<Event>", std::to_string(i), std::string(90, 'x'), "</Event>\r\n"});
    return Join({text, "one\r\ntwo\r\nthree\r\n"});
  }());
  platform::TPreadFunction FPrevious = nullptr;
};

TEST_F(SavedIndexTest, AnUnchangedLogReusesItsIndexWithoutAWalk) {
  std::filesystem::create_directory(FDir.File("idx"));
  const TRun first = Run();
  EXPECT_TRUE(first.Walked);
  const TRun second = Run();
  EXPECT_FALSE(second.Walked);
  EXPECT_EQ(second.Lines, first.Lines);
  EXPECT_EQ(second.Progress, (std::vector<int>{0, 100}));

  // One appended line changes the size and the final line: the index is built again.
  std::FILE* file = std::fopen(FLog.c_str(), "ab");
  std::fputs("four\r\n", file);
  std::fclose(file);
  const TRun third = Run();
  EXPECT_TRUE(third.Walked);
  ASSERT_GE(third.Lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(third.Lines.end() - 4, third.Lines.end()),
            (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_EQ(third.Lines.size(), first.Lines.size() + 1);
  EXPECT_FALSE(Run().Walked);
}

TEST_F(SavedIndexTest, WatchingAFreshStartOrANewVersionNeverReuses) {
  std::filesystem::create_directory(FDir.File("idx"));
  Run();
  const std::vector<std::function<void(TrdlLogMonitor&)>> setUps = {
      [](TrdlLogMonitor& AMonitor) { AMonitor.SetIndexClearOnStart(true); },
      [](TrdlLogMonitor& AMonitor) { AMonitor.SetIndexDataVersion(7); },
      [](TrdlLogMonitor& AMonitor) { AMonitor.SetMonitorChanges(true); },
  };
  for (const auto& setUp : setUps) {
    Run();  // saved again under the default settings
    const TRun run = Run(setUp);
    EXPECT_TRUE(run.Walked);
    EXPECT_GT(run.Lines.size(), 3u);
  }
}

}  // namespace
}  // namespace velloran
