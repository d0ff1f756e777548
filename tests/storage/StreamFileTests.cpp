#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "IniFile.h"
#include "IniFileTest.h"
#include "PlatformFile.h"
#include "PlatformFolders.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::TTempDir;

std::string ExecutableFolder() {
  const std::string path = platform::ExecutablePath();
  return path.substr(0, path.rfind('/') + 1);
}

std::string ExecutableName() {
  const std::string path = platform::ExecutablePath();
  return path.substr(path.rfind('/') + 1);
}

TEST(StreamDataTest, FullFileNameFollowsTheFolderTheNameAndTheAutoNameOption) {
  TTempDir config;
  const char* previous = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
  const std::string exe = ExecutableName();  // the test program has no extension
  struct TCase {
    TrsStreamFileDir Dir;
    const char* FileName;
    TrsStreamDataOptions Options;
    std::string Expected;
  };
  const std::vector<TCase> cases = {
      {fdCustom, "/data/set.cfg", 0, "/data/set.cfg"},
      {fdCustom, "/data/set", 0, "/data/set.ini"},
      {fdCustom, "/data/Velloran Viewer/anything.ini", doAutoName, "/data/Velloran Viewer/" + exe + ".ini"},
      {fdCustom, "", doAutoName, exe + ".ini"},
      {fdApplication, "", doAutoName, ExecutableFolder() + exe + ".ini"},
      {fdApplication, "sub/name.cfg", 0, ExecutableFolder() + "sub/name.cfg"},
      {fdApplication, "sub/name.cfg", doAutoName, ExecutableFolder() + "sub/" + exe + ".cfg"},
      {fdApplication, "/abs/name.cfg", 0, ExecutableFolder() + "name.cfg"},
      {fdWindows, "x.ini", 0, "/etc/x.ini"},
      {fdUserProfile, "Velloran Viewer/a.ini", 0, config.Path().string() + "/Velloran Viewer/a.ini"},
      {fdUserProfile, "", doAutoName | doAutoCreateDir, config.Path().string() + "/" + exe + ".ini"},
  };
  for (const TCase& one : cases) {
    TrsIniData ini;
    ini.SetFileDir(one.Dir);
    ini.SetFileName(one.FileName);
    ini.SetOptions(one.Options);
    EXPECT_EQ(ini.FullFileName(), one.Expected) << one.FileName;
  }
  TrsStreamData plain;  // no default extension
  plain.SetFileDir(fdCustom);
  plain.SetFileName("/data/set");
  plain.SetOptions(0);
  EXPECT_EQ(plain.FullFileName(), "/data/set");
  if (previous != nullptr) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

TEST(StreamDataTest, CodePageAndUnicodeSetEachOther) {
  TrsIniData ini;
  EXPECT_EQ(ini.CodePage(), cpAnsi);
  ini.SetCodePage(cpUTF16be);
  EXPECT_TRUE(ini.Unicode());
  ini.SetUnicode(true);  // unchanged: stays big-endian
  EXPECT_EQ(ini.CodePage(), cpUTF16be);
  ini.SetUnicode(false);
  EXPECT_EQ(ini.CodePage(), cpAnsi);
  ini.SetUnicode(true);
  EXPECT_EQ(ini.CodePage(), cpUTF16le);
  ini.SetCodePage(cpUTF8);
  EXPECT_FALSE(ini.Unicode());
}

using StreamFileTest = test::TIniFileTest;

ssize_t DiskFull(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}

TEST_F(StreamFileTest, AFailedSaveLeavesTheOldSettingsFileWhole) {
  const std::string old = "[Main]\r\nFileName=\"/logs/a.log\"\r\n\r\n";
  const std::string path = Dir.Write("settings.ini", old);
  Storage.WriteString("\\Main\\FileName", "/logs/b.log");
  const platform::TWriteFunction previous = platform::SetWriteFunction(DiskFull);
  try {
    Storage.Save();
    ADD_FAILURE() << "a save onto a full disk was reported as success";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
  }
  platform::SetWriteFunction(previous);
  EXPECT_EQ(platform::ReadWholeFile(path), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), std::filesystem::directory_iterator()), 1);
  EXPECT_EQ(Storage.ReadString("\\Main\\FileName", ""), "/logs/b.log");  // nothing lost in memory either
}

TEST_F(StreamFileTest, MissingFoldersAreCreatedOnlyWithAutoCreateDir) {
  const std::string path = Dir.File("a/b/settings.ini");
  Ini.SetFileName(path);
  Storage.WriteInteger("\\A\\B", 1);
  try {
    Storage.Save();
    ADD_FAILURE() << "saved into a missing folder";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), ENOENT);
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
  }
  Ini.SetOptions(doAutoCreateDir);
  Storage.Save();
  EXPECT_EQ(platform::ReadWholeFile(path), "[A]\r\nB=1\r\n\r\n");
}

TEST_F(StreamFileTest, StreamEventsReplaceTheFile) {
  Dir.Write("settings.ini", "[File]\r\nK=1\r\n");
  Ini.SetOnLoadFromStream([](TrsStreamData*, TrsMemoryStream& AStream, bool& ADoStandard) {
    const std::string_view text = "[Event]\r\nK=2\r\n";
    AStream.Write(text.data(), text.size());
    ADoStandard = false;
  });
  Storage.Load();
  EXPECT_FALSE(Storage.KeyExist("\\File\\K"));
  EXPECT_EQ(Storage.ReadInteger("\\Event\\K", 0), 2);

  std::string seen;
  Ini.SetOnSaveToStream([&](TrsStreamData*, TrsMemoryStream& AStream, bool& ADoStandard) {
    EXPECT_EQ(AStream.Position(), 0u);
    seen = AStream.Data();
    ADoStandard = false;
  });
  Storage.Save();
  EXPECT_EQ(seen, "[Event]\r\nK=2\r\n\r\n");
  EXPECT_EQ(Ini.Stream().Data(), seen);
  EXPECT_EQ(platform::ReadWholeFile(Dir.File("settings.ini")), "[File]\r\nK=1\r\n");
}

TEST_F(StreamFileTest, TheInternalFileStandsInForTheRealOne) {
  const std::string internal = Dir.Write("embedded.ini", "[Internal]\r\nK=1\r\n");
  Ini.SetInternalFileName(internal);
  EXPECT_EQ(Ini.InternalFileName(), internal);
  EXPECT_EQ(Ini.InternalFile().Data(), "[Internal]\r\nK=1\r\n");

  Ini.SetInternalFileLoad(iflNoRealFile);
  Storage.Load();
  EXPECT_TRUE(Storage.KeyExist("\\Internal\\K")) << "no real file: the internal one";
  Dir.Write("settings.ini", "[Real]\r\nK=1\r\n");
  Storage.Load();
  EXPECT_TRUE(Storage.KeyExist("\\Real\\K"));
  Ini.SetInternalFileLoad(iflAlways);
  Storage.Load();
  EXPECT_TRUE(Storage.KeyExist("\\Internal\\K"));
  EXPECT_EQ(Ini.InternalFile().Size(), 17u) << "loading keeps the internal file";

  Ini.SetInternalFileName(Dir.File("missing.ini"));
  EXPECT_EQ(Ini.InternalFileName(), "");
  EXPECT_EQ(Ini.InternalFile().Size(), 0u);
}

std::string RandomBytes(size_t ACount, unsigned ASeed) {
  std::mt19937 random(ASeed);
  std::string bytes(ACount, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

std::string SettingsLikeText(size_t ACount) {
  std::string text;
  for (int i = 0; text.size() < ACount; ++i)
    text += "[Section" + std::to_string(i % 13) + "]\r\nKey" + std::to_string(i) + "=\"value\"\r\n";
  text.resize(ACount);
  return text;
}

TEST(InternalFileTest, StoredFormRoundTripsAndHasItsLayout) {
  const std::vector<std::string> contents = {
      "", "x", std::string(5000, 'a'), SettingsLikeText(100000), RandomBytes(70000, 1), SettingsLikeText(32768),
  };
  for (const std::string& content : contents) {
    TrsIniData source;
    source.InternalFile().Data() = content;
    std::stringstream stored;
    source.WriteInternalFileData(stored);
    const std::string bytes = stored.str();
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(bytes.substr(0, 2), "\x01\x01");
    int32_t length = 0;
    std::memcpy(&length, bytes.data() + 2, 4);
    EXPECT_EQ(static_cast<size_t>(length), bytes.size() - 6);

    TrsIniData target;
    target.ReadInternalFileData(stored);
    EXPECT_EQ(target.InternalFile().Data(), content) << content.size() << " bytes";
  }
}

TEST(InternalFileTest, DamagedStoredFormsThrowOrStopWithoutReadingPastTheData) {
  TrsIniData source;
  source.InternalFile().Data() = SettingsLikeText(40000);
  std::stringstream stored;
  source.WriteInternalFileData(stored);
  const std::string good = stored.str();

  // Cut after the first chunk: reading stops at the incomplete second one.
  int32_t firstChunk = 0;
  std::memcpy(&firstChunk, good.data() + 6, 4);
  std::string cut = good.substr(0, 6 + 4 + static_cast<size_t>(firstChunk) + 2);
  std::istringstream cutStream(cut);
  TrsIniData target;
  target.ReadInternalFileData(cutStream);
  EXPECT_EQ(target.InternalFile().Data(), SettingsLikeText(32768));

  std::string damaged = good;
  damaged[10] = '\x13';  // the first chunk's flag byte: neither compressed nor stored
  std::istringstream damagedStream(damaged);
  EXPECT_THROW(target.ReadInternalFileData(damagedStream), TrsException);
  std::istringstream foreign("not stored");
  EXPECT_THROW(target.ReadInternalFileData(foreign), TrsException);
}

TEST(Lzrw1khTest, ChunksRoundTripAndIncompressibleOnesAreStored) {
  const std::vector<std::string> chunks = {
      "",
      "a",
      "abcabcabcabcabcabcabcabc",
      std::string(16, 'z'),
      std::string(4110, 'r'),
      std::string(32782, 'q'),
      SettingsLikeText(32768),
      RandomBytes(32768, 2),
      std::string(100, 'a') + RandomBytes(30, 3) + std::string(20, 'b'),
  };
  for (const std::string& chunk : chunks) {
    const std::string coded = Lzrw1khCompress(chunk);
    ASSERT_FALSE(coded.empty());
    EXPECT_TRUE(coded[0] == '\x40' || coded[0] == '\x80');
    EXPECT_LE(coded.size(), chunk.size() + 1);
    std::string decoded;
    EXPECT_TRUE(Lzrw1khDecompress(coded, decoded, 32782));
    EXPECT_EQ(decoded, chunk) << chunk.size() << " bytes";
  }
  EXPECT_EQ(Lzrw1khCompress(RandomBytes(1000, 4))[0], '\x80');
  EXPECT_LT(Lzrw1khCompress(SettingsLikeText(32768)).size(), 32768u / 2);

  // A reference before the chunk's start and output beyond the limit are refused.
  std::string decoded;
  EXPECT_FALSE(Lzrw1khDecompress(std::string("\x40\x80\x00\x01\x00", 5), decoded, 100));
  EXPECT_FALSE(Lzrw1khDecompress(Lzrw1khCompress(std::string(5000, 'a')), decoded, 4999));
}

}  // namespace
}  // namespace velloran
