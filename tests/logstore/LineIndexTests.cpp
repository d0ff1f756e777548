#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "TestFiles.h"
#include "rdlLogMonitor.h"

namespace velloran {
namespace {

using test::TTempDir;

// Concatenation by appending (g++ 12 misreads "literal" + std::string at -O3).
std::string Join(std::initializer_list<std::string_view> AParts) {
  std::string text;
  for (std::string_view part : AParts) text += part;
  return text;
}

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
      {"LF only: one line", "first\nlast\n"},
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

}  // namespace
}  // namespace velloran
