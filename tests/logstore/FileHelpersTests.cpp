#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "FileHelpers.h"
#include "PlatformFolders.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::TTempDir;

TEST(FileHelpersTest, CalcCRC32IsTheIeeeCrc) {
  EXPECT_EQ(CalcCRC32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(CalcCRC32("", 0), 0u);
  EXPECT_EQ(CalcCRC32("a", 1), 0xE8B7BE43u);
}

TEST(FileHelpersTest, FileSizeOfIsZeroForAnythingNotFound) {
  TTempDir dir;
  EXPECT_EQ(FileSizeOf(dir.Write("a.log", std::string(1234, 'x'))), 1234);
  EXPECT_EQ(FileSizeOf(dir.File("missing.log")), 0);
  EXPECT_EQ(FileSizeOf(""), 0);
}

TEST(FileHelpersTest, FolderTokens) {
  struct TCase {
    const char* Token;
    int Csidl;
  };
  const TCase cases[] = {
      {"userappdata", 26},
      {"UserAppData", 26},
      {"{USERAPPDATA}", 26},
      {"{userappdata}", 26},
      {"commonappdata", 35},
      {"app", 256},
      {"{App}", 256},
      {"localappdata", 28},
      {"commondocuments", 46},
      {"programfiles", 38},
      {"{}", -1},
      {"", -1},
      {"{userappdata", -1},
      {"documents", -1},
      {"{x}", -1},
  };
  for (const TCase& c : cases) EXPECT_EQ(FolderTokenToCSIDL(c.Token), c.Csidl) << c.Token;
}

TEST(FileHelpersTest, FolderFromToken) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("XDG_CONFIG_HOME", "/tmp/velloran-config", 1);
  EXPECT_EQ(FolderFromToken("{userappdata}"), "/tmp/velloran-config");
  if (previous) {
    ::setenv("XDG_CONFIG_HOME", previous->c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }

  // The program's folder keeps its trailing separator; the others have none.
  const std::string app = FolderFromToken("app");
  ASSERT_FALSE(app.empty());
  EXPECT_EQ(app.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(app + "velloran_logstore_tests"));
  EXPECT_EQ(FolderFromToken("programfiles"), "/usr");
  EXPECT_EQ(FolderFromToken("nonsense"), "");
}

TEST(FileHelpersTest, PathWithDelimiter) {
  struct TCase {
    const char* Path;
    const char* Result;
  };
  const TCase cases[] = {
      {"", ""},
      {"  \t ", ""},
      {"/data", "/data/"},
      {"/data/", "/data/"},
      {" /data \r\n", "/data/"},
      {"/", "/"},
      {"/daten/\xC3\xA9", "/daten/\xC3\xA9/"},
  };
  for (const TCase& c : cases) EXPECT_EQ(PathWithDelimiter(c.Path), c.Result) << '"' << c.Path << '"';
}

TEST(FileHelpersTest, FolderIsWritableLeavesNothingBehind) {
  TTempDir dir;
  // Files that look like probes belong to someone else and must survive.
  for (int i = 0; i < 50; ++i) dir.Write("xqz_" + std::to_string(i) + ".tmp", "");
  EXPECT_TRUE(FolderIsWritable(dir.Path().string()));
  EXPECT_TRUE(FolderIsWritable(dir.Path().string() + "/"));
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 50u);

  EXPECT_FALSE(FolderIsWritable(dir.File("missing")));
  EXPECT_FALSE(FolderIsWritable(dir.File("xqz_1.tmp")));  // a file is no folder
}

TEST(FileHelpersTest, FolderIsWritableIsFalseForAReadOnlyFolder) {
  if (test::RunningAsRoot()) GTEST_SKIP() << "root writes into read-only folders";
  TTempDir dir;
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  EXPECT_FALSE(FolderIsWritable(dir.Path().string()));
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all);
}

}  // namespace
}  // namespace velloran
