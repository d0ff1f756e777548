#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <system_error>
#include <vector>

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

std::string ReadAll(const std::string& APath) { return ReadWholeFile(APath); }

std::vector<std::string> FolderEntries(const std::filesystem::path& AFolder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(AFolder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

ssize_t WriteFailsWithDiskFull(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}

// Writes half of what it is given, then the disk is full.
ssize_t WriteHalfThenDiskFull(int AHandle, const void* ABuffer, size_t ALength) {
  static bool wroteHalf = false;
  if (wroteHalf) {
    wroteHalf = false;
    errno = ENOSPC;
    return -1;
  }
  wroteHalf = true;
  return ::write(AHandle, ABuffer, ALength / 2);
}

TEST(PlatformFileTest, ReplacingAFileKeepsTheOldContentWhenWritingFails) {
  for (const TWriteFunction failing : {WriteFailsWithDiskFull, WriteHalfThenDiskFull}) {
    TTempDir dir;
    const std::string path = dir.Write("settings.ini", "old content");
    const TWriteFunction previous = SetWriteFunction(failing);
    try {
      ReplaceFileContents(path, std::string(10000, 'n'));
      ADD_FAILURE() << "a failed write was reported as success";
    } catch (const std::system_error& error) {
      EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
      EXPECT_EQ(error.code().value(), ENOSPC);
    }
    SetWriteFunction(previous);
    EXPECT_EQ(ReadAll(path), "old content");
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"settings.ini"}) << "the temporary file stays behind";
  }
}

TEST(PlatformFileTest, ReplacingAFileKeepsItsPermissionsAndLinks) {
  TTempDir dir;
  const std::string path = dir.Write("settings.ini", "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const std::string link = dir.File("link.ini");
  std::filesystem::create_symlink(path, link);

  ReplaceFileContents(link, "new");

  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"link.ini", "settings.ini"}));

  // A new file: created, with nothing else left in the folder.
  ReplaceFileContents(dir.File("new.ini"), "");
  EXPECT_EQ(ReadAll(dir.File("new.ini")), "");
}

TEST(PlatformFileTest, ReplacingAndReadingNameTheFileAndTheCause) {
  TTempDir dir;
  const std::string missingFolder = dir.File("no/such/folder/settings.ini");
  const auto expectFailure = [](const std::function<void()>& AAction, const std::string& APath, int AError) {
    try {
      AAction();
      ADD_FAILURE() << "no error for " << APath;
    } catch (const std::system_error& error) {
      EXPECT_NE(std::string(error.what()).find(APath), std::string::npos) << error.what();
      EXPECT_EQ(error.code().value(), AError) << error.what();
    }
  };
  expectFailure([&] { ReplaceFileContents(missingFolder, "x"); }, missingFolder, ENOENT);
  expectFailure([&] { (void)ReadWholeFile(missingFolder); }, missingFolder, ENOENT);
  expectFailure([&] { (void)ReadWholeFile(dir.Path().string()); }, dir.Path().string(), EISDIR);

  ForceFolders(dir.File("no/such/folder"));
  ReplaceFileContents(missingFolder, "x");
  EXPECT_EQ(ReadAll(missingFolder), "x");
}

TEST(PlatformFileTest, ReadWriteFileCreatesOnlyWhenAskedAndKeepsItsPosition) {
  TTempDir dir;
  const std::string path = dir.File("index");
  velloran::platform::TReadWriteFile file;
  EXPECT_FALSE(file.Open(path, false, false));
  EXPECT_EQ(velloran::platform::LastSystemError(), static_cast<uint32_t>(ENOENT));
  EXPECT_FALSE(file.Open(dir.Path().string(), true, false));
  EXPECT_EQ(velloran::platform::LastSystemError(), static_cast<uint32_t>(EISDIR));

  ASSERT_TRUE(file.Open(path, true, false));
  EXPECT_EQ(file.Seek(4), 4);
  EXPECT_EQ(file.Write("abc", 3), 3);
  char read[8] = {};
  EXPECT_EQ(file.Seek(0), 0);
  EXPECT_EQ(file.Read(read, sizeof read), 7);  // to the end of the file
  EXPECT_EQ(std::string(read, 7), std::string("\0\0\0\0abc", 7));
  EXPECT_EQ(file.Write("d", 1), 1);  // after what was read
  file.Close();
  EXPECT_EQ(velloran::platform::ReadWholeFile(path), std::string("\0\0\0\0abcd", 8));

  ASSERT_TRUE(file.Open(path, false, true));
  EXPECT_EQ(file.Read(read, 2), 2);
  EXPECT_EQ(file.Write("x", 1), -1);  // opened for reading only
  file.Close();
  EXPECT_EQ(file.Read(read, 1), -1);
  EXPECT_EQ(velloran::platform::LastSystemError(), velloran::platform::kErrorInvalidHandle);
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

TEST(PlatformFileTest, AnExclusiveLockRefusesEveryOtherOpenOfTheFileUntilClosed) {
  TTempDir dir;
  const std::string path = dir.Write("lines.idx", "");
  TReadWriteFile first;
  TReadWriteFile second;
  ASSERT_TRUE(first.Open(path, false, false));
  ASSERT_TRUE(second.Open(path, false, true));  // read-only opens lock as well
  EXPECT_TRUE(first.TryLockExclusive());
  EXPECT_FALSE(second.TryLockExclusive()) << "one process, two opens: the second must be refused";
  EXPECT_EQ(LastSystemError(), static_cast<uint32_t>(EWOULDBLOCK));
  first.Close();
  EXPECT_TRUE(second.TryLockExclusive());

  TReadWriteFile closed;
  EXPECT_FALSE(closed.TryLockExclusive());
  EXPECT_EQ(LastSystemError(), kErrorInvalidHandle);
}

int SyncFailsWithIoError(int) {
  errno = EIO;
  return -1;
}

TEST(PlatformFileTest, SyncReportsWhatTheDiskSays) {
  TTempDir dir;
  TReadWriteFile file;
  EXPECT_FALSE(file.Sync());
  EXPECT_EQ(LastSystemError(), kErrorInvalidHandle);
  ASSERT_TRUE(file.Open(dir.File("lines.idx"), true, false));
  ASSERT_EQ(file.Write("page", 4), 4);
  EXPECT_TRUE(file.Sync());
  const TSyncFunction previous = SetSyncFunction(SyncFailsWithIoError);
  EXPECT_FALSE(file.Sync());
  EXPECT_EQ(LastSystemError(), static_cast<uint32_t>(EIO));
  SetSyncFunction(previous);
}

}  // namespace
}  // namespace velloran::platform
