// Fuzz target of the INI parser: any bytes load without a crash, a hang or a read outside
// the buffer, and the only error is the conversion error of a malformed typed value. What
// loads, saves and loads back to the same keys, kinds and values (keys whose names no INI
// line can hold aside).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "IniFile.h"

namespace {

using namespace velloran;

// Loads ABytes into AStorage; false when a malformed value stopped the load.
bool LoadBytes(TrsStorage& AStorage, TrsIniData& AIni, const std::string& ABytes) {
  AIni.SetOnLoadFromStream([&](TrsStreamData*, TrsMemoryStream& AStream, bool& ADoStandard) {
    AStream.Write(ABytes.data(), ABytes.size());
    ADoStandard = false;
  });
  try {
    AStorage.Load();
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

// INI lines cannot hold every key name: one that begins with a blank loses it to the line's
// trimming, one that begins with ";" or "#" reads back as a comment.
void DropUnwritableNames(TrsStorage& AStorage) {
  std::vector<std::string> unwritable;
  for (int i = 0; i < AStorage.KeyItemCount(); ++i) {
    const std::string& name = AStorage.KeyItem(i).Name;
    if (!name.empty() && (static_cast<unsigned char>(name[0]) <= ' ' || name[0] == ';' || name[0] == '#')) {
      unwritable.push_back(AStorage.KeyFullName(i));
    }
  }
  for (const std::string& key : unwritable) AStorage.KeyDelete(key);
}

std::string SavedText(TrsStorage& AStorage, TrsIniData& AIni) {
  std::string text;
  AIni.SetOnSaveToStream([&](TrsStreamData*, TrsMemoryStream& AStream, bool& ADoStandard) {
    text = AStream.Data();
    ADoStandard = false;
  });
  AStorage.Save();
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const std::string bytes(reinterpret_cast<const char*>(AData), ASize);
  TrsIniData ini;
  ini.SetCodePage(ASize > 0 && (AData[0] & 1) != 0 ? cpUTF16le : cpUTF8);
  ini.SetFixedDateTimeFormat(true);
  TrsStorage first;
  first.SetStorageData(&ini);
  if (!LoadBytes(first, ini, bytes)) return 0;
  DropUnwritableNames(first);

  const std::string saved = SavedText(first, ini);
  TrsStorage second;
  second.SetStorageData(&ini);
  if (!LoadBytes(second, ini, saved)) std::abort();  // the writer wrote what the reader refuses
  if (second.KeyItemCount() != first.KeyItemCount()) std::abort();
  for (int i = 0; i < first.KeyItemCount(); ++i) {
    const TrsKeyItem& key = first.KeyItem(i);
    const TrsKeyItem* again = second.FindKeyItem(first.KeyFullName(i), false);
    if (again == nullptr || again->Value.kvType != key.Value.kvType || again->Value.Value != key.Value.Value) std::abort();
  }
  return 0;
}
