#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "LogFolder.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::TTempDir;
namespace fs = std::filesystem;

TEST(LogFolderTest, ContinuesLogFollowsTheServersNamingSchemes) {
  struct TCase {
    const char* Current;
    const char* Candidate;
    bool Continues;
  };
  const TCase cases[] = {
      {"IN261209.log", "IN261210.log", true},   // the next day
      {"IN261231.log", "IN270101.log", true},   // across a year
      {"IN261210.log", "IN261209.log", false},  // an older day
      {"IN261209.log", "IN261209.log", false},  // itself
      {"in261209.LOG", "IN261210.log", true},   // letter case of the scheme
      {"IN2612.log", "IN2701.log", true},       // monthly
      {"IN2612.log", "IN261209.log", false},    // a daily log is no month's successor...
      {"IN261209.log", "IN2701.log", false},    // ...nor the other way round
      {"iaslog9.log", "iaslog10.log", true},    // counters compare as numbers
      {"iaslog10.log", "iaslog9.log", false},     {"iaslog1.log", "iaslog2.txt", false},  // another extension
      {"iaslog1.log", "other2.log", false},                                               // other letters
      {"radius.log", "radius1.log", true},                                                // a counter added to a plain name
      {"radius.log", "radiusx.log", false},       {"srv-a-07.log", "srv-a-08.log", true}, {"srv-a-07.log", "srv-b-08.log", false},
      {"IN261209.log", "IN261210.log.gz", false},  // a compressed copy is no log to follow
  };
  for (const TCase& c : cases) EXPECT_EQ(ContinuesLog(c.Current, c.Candidate), c.Continues) << c.Current << " -> " << c.Candidate;
}

// The newest successor among thousands of files of the folder: other schemes, older days,
// and a folder named like a log are passed over.
TEST(LogFolderTest, NewestLogAfterPicksTheLatestOfTheSchemeAmongManyFiles) {
  TTempDir dir;
  const std::string current = dir.Write("IN261209.log", "");
  EXPECT_EQ(NewestLogAfter(current), "");
  for (int i = 0; i < 10000; ++i) dir.Write("other" + std::to_string(i) + ".log", "");
  dir.Write("IN261208.log", "");
  dir.Write("IN2612.log", "");
  dir.Write("IN261211.log", "");
  dir.Write("IN261210.log", "");
  fs::create_directory(dir.Path() / "IN261212.log");
  EXPECT_EQ(NewestLogAfter(current), dir.File("IN261211.log"));
  EXPECT_EQ(NewestLogAfter(dir.File("missing/IN261209.log")), "");
}

TEST(LogFolderTest, LogsInFolderTakesTheServersSchemesElseEveryLog) {
  const auto names = [](const std::vector<std::string>& APaths) {
    std::vector<std::string> result;
    for (const std::string& path : APaths) result.push_back(std::filesystem::path(path).filename().string());
    return result;
  };
  TTempDir dir;
  for (const char* name : {"IN261202.log", "notes.txt", "IN261201.LOG", "iaslog10.log", "iaslog9.log", "other.log", "IN2612.log"})
    dir.Write(name, "x");
  std::filesystem::create_directory(dir.File("IN261203.log"));  // a folder is no log
  EXPECT_EQ(names(LogsInFolder(dir.Path().string())),
            (std::vector<std::string>{"IN2612.log", "IN261201.LOG", "IN261202.log", "iaslog9.log", "iaslog10.log"}));
  TTempDir plain;
  for (const char* name : {"radius-b.log", "radius-a.log", "readme.md"}) plain.Write(name, "x");
  EXPECT_EQ(names(LogsInFolder(plain.Path().string())), (std::vector<std::string>{"radius-a.log", "radius-b.log"}));
  EXPECT_THROW(LogsInFolder(dir.File("missing")), std::filesystem::filesystem_error);
}

TEST(LogFolderTest, TrimIndexCacheRemovesTheOldestIndexFilesBeyondTheBound) {
  TTempDir dir;
  const auto now = fs::file_time_type::clock::now();
  const std::string names[] = {"a.idx", "b.idx", "c.idx", "d.idx"};
  for (int i = 0; i < 4; ++i) {
    const std::string path = dir.Write(names[i], std::string(1000, 'x'));
    fs::last_write_time(path, now - std::chrono::hours(10 - i));  // a oldest, d newest
  }
  dir.Write("notes.txt", std::string(5000, 'x'));  // not an index: neither counted nor removed
  // The oldest, a, is in use: b and c go, d and a stay.
  EXPECT_EQ(TrimIndexCache(dir.Path().string(), 2000, dir.File("a.idx")), 2);
  EXPECT_TRUE(fs::exists(dir.File("a.idx")));
  EXPECT_FALSE(fs::exists(dir.File("b.idx")));
  EXPECT_FALSE(fs::exists(dir.File("c.idx")));
  EXPECT_TRUE(fs::exists(dir.File("d.idx")));
  EXPECT_TRUE(fs::exists(dir.File("notes.txt")));
  EXPECT_EQ(TrimIndexCache(dir.Path().string(), 2000), 0);  // within the bound
  EXPECT_EQ(TrimIndexCache(dir.File("missing"), 0), 0);
}

TEST(LogFolderTest, IndexCacheFolderLiesInTheUsersCacheFolder) {
  const char* saved = std::getenv("XDG_CACHE_HOME");
  const std::string restore = saved != nullptr ? saved : "";
  ::setenv("XDG_CACHE_HOME", "/tmp/cache-home", 1);
  EXPECT_EQ(IndexCacheFolder(), "/tmp/cache-home/velloran-viewer/index");
  EXPECT_EQ(IndexCacheFolder("/elsewhere"), "/elsewhere");
  if (saved != nullptr) {
    ::setenv("XDG_CACHE_HOME", restore.c_str(), 1);
  } else {
    ::unsetenv("XDG_CACHE_HOME");
  }
}

}  // namespace
}  // namespace velloran
