// A storage with an INI back end on the file "settings.ini" of a fresh folder.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "IniFile.h"
#include "PlatformFile.h"
#include "TestFiles.h"

namespace velloran::test {

class TIniFileTest : public ::testing::Test {
 protected:
  TIniFileTest() {
    Ini.SetFileDir(fdCustom);
    Ini.SetOptions(0);
    Ini.SetFileName(Dir.File("settings.ini"));
    Storage.SetStorageData(&Ini);
  }

  std::string SaveToText() {
    Storage.Save();
    return platform::ReadWholeFile(Ini.FullFileName());
  }
  void LoadFromText(std::string_view AText) {
    Dir.Write("settings.ini", AText);
    Storage.Load();
  }
  TrsKeyValue Value(std::string_view AKey) {
    const TrsKeyItem* key = Storage.FindKeyItem(AKey, false);
    return key != nullptr ? key->Value : TrsKeyValue{};
  }

  TTempDir Dir;
  TrsIniData Ini;
  TrsStorage Storage;
};

}  // namespace velloran::test
