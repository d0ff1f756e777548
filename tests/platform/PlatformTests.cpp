#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "PlatformFile.h"
#include "PlatformFolders.h"
#include "PlatformSystem.h"
#include "TestFiles.h"

namespace velloran::platform {
namespace {

using velloran::test::TTempDir;

TEST(PlatformFileTest, LookupReportsFilesFoldersAndMissingEntries) {
  TTempDir dir;
  const std::string file = dir.Write("a.log", "12345");

  const TFileLookup found = LookupFile(file);
  EXPECT_TRUE(found.Found);
  EXPECT_FALSE(found.IsDirectory);
  EXPECT_EQ(found.Size, 5);

  // Directories report size 0, as the Windows directory search does.
  const TFileLookup folder = LookupFile(dir.Path().string());
  EXPECT_TRUE(folder.Found);
  EXPECT_TRUE(folder.IsDirectory);
  EXPECT_EQ(folder.Size, 0);

  const TFileLookup missing = LookupFile(dir.File("missing.log"));
  EXPECT_FALSE(missing.Found);
  EXPECT_EQ(missing.Error, static_cast<uint32_t>(ENOENT));
}

TEST(PlatformFileTest, OpenRefusesFoldersAndMissingFilesWithTheirReason) {
  TTempDir dir;
  TReadOnlyFile file;
  EXPECT_FALSE(file.Open(dir.Path().string()));
  EXPECT_EQ(LastSystemError(), static_cast<uint32_t>(EISDIR));
  EXPECT_FALSE(file.Open(dir.File("missing.log")));
  EXPECT_EQ(LastSystemError(), static_cast<uint32_t>(ENOENT));
  EXPECT_FALSE(file.IsOpen());
}

TEST(PlatformFileTest, ViewOfAFileThatIsNotOpenIsTheInvalidHandle) {
  TReadOnlyFile file;
  TBlockView view;
  EXPECT_EQ(view.Map(file, 0, 16), kErrorInvalidHandle);
  EXPECT_EQ(LastSystemError(), kErrorInvalidHandle);
  EXPECT_FALSE(view.IsMapped());
  EXPECT_EQ(SystemErrorText(kErrorInvalidHandle), "The handle is invalid.");
}

TEST(PlatformFileTest, ViewReadsTheBlockAndComesBackShortAfterTruncation) {
  TTempDir dir;
  const std::string path = dir.Write("a.log", "0123456789");
  TReadOnlyFile file;
  ASSERT_TRUE(file.Open(path));
  TBlockView view;
  ASSERT_EQ(view.Map(file, 2, 4), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.Data()), view.Size()), "2345");

  // Another process truncates the file while it is open: the read is short, never a signal.
  std::filesystem::resize_file(path, 3);
  ASSERT_EQ(view.Map(file, 2, 4), 0u);
  EXPECT_EQ(view.Size(), 1u);
  ASSERT_EQ(view.Map(file, 8, 2), 0u);
  EXPECT_EQ(view.Size(), 0u);
}

TEST(PlatformFileTest, ProbeCreatesAndRemovesItsFile) {
  TTempDir dir;
  const std::string probe = dir.File("probe.tmp");
  EXPECT_TRUE(ProbeCreateDeleteOnClose(probe));
  EXPECT_FALSE(LookupFile(probe).Found);
  // An existing file is never taken over (and so never deleted).
  dir.Write("taken.tmp", "x");
  EXPECT_FALSE(ProbeCreateDeleteOnClose(dir.File("taken.tmp")));
  EXPECT_TRUE(LookupFile(dir.File("taken.tmp")).Found);
}

class PlatformFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Save("HOME");
    Save("XDG_CONFIG_HOME");
    Save("XDG_DATA_HOME");
    Save("XDG_DATA_DIRS");
  }
  void TearDown() override {
    for (const auto& [name, value] : FSaved) {
      if (value.has_value()) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

 private:
  void Save(const std::string& AName) {
    const char* value = std::getenv(AName.c_str());
    FSaved.emplace_back(AName, value ? std::optional<std::string>(value) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

TEST_F(PlatformFoldersTest, XdgVariablesAndTheirDefaults) {
  TTempDir home;
  ::setenv("HOME", home.Path().c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_DATA_HOME");
  ::unsetenv("XDG_DATA_DIRS");
  const std::string h = home.Path().string();
  EXPECT_EQ(SpecialFolderPath(kCsidlAppData), h + "/.config");
  EXPECT_EQ(SpecialFolderPath(kCsidlLocalAppData), h + "/.local/share");
  EXPECT_EQ(SpecialFolderPath(kCsidlCommonAppData), "/usr/local/share");
  EXPECT_EQ(SpecialFolderPath(kCsidlProgramFiles), "/usr");
  EXPECT_EQ(SpecialFolderPath(kCsidlCommonDocuments), h + "/Documents");
  EXPECT_EQ(SpecialFolderPath(12345), "");

  ::setenv("XDG_CONFIG_HOME", "/cfg/", 1);
  ::setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
  ::setenv("XDG_DATA_DIRS", "/opt/share:/usr/share", 1);
  EXPECT_EQ(SpecialFolderPath(kCsidlAppData), "/cfg");
  EXPECT_EQ(SpecialFolderPath(kCsidlLocalAppData), h + "/.local/share");
  EXPECT_EQ(SpecialFolderPath(kCsidlCommonAppData), "/opt/share");
}

TEST_F(PlatformFoldersTest, DocumentsFolderComesFromUserDirs) {
  TTempDir home;
  ::setenv("HOME", home.Path().c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  std::filesystem::create_directories(home.Path() / ".config");
  home.Write(".config/user-dirs.dirs", "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  EXPECT_EQ(SpecialFolderPath(kCsidlCommonDocuments), home.Path().string() + "/Dokumente");
}

TEST(PlatformSystemTest, ExecutablePathIsThisTestProgram) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_NE(path.find("velloran_platform_tests"), std::string::npos);
}

}  // namespace
}  // namespace velloran::platform
