// A back end that keeps the whole store as one section stream in memory: the medium of the
// storage tests.
#pragma once

#include <sstream>
#include <string>

#include "Storage.h"

namespace velloran {

class TMemoryData : public TrsStorageData {
 public:
  std::string Bytes;

 protected:
  void SaveData() override {
    std::ostringstream stream;
    Storage()->SectionSaveToStream("", stream);
    Bytes = stream.str();
  }
  // Merging: the stream is read into a scratch store, whose keys then overwrite or join the
  // storage's own (reading it straight into the storage would clear it first).
  void LoadData() override {
    TrsStorage scratch;
    std::istringstream stream(Bytes);
    scratch.SectionLoadFromStream("", stream);
    ProgressItemCount = scratch.KeyItemCount();
    DoProgress();
    for (int i = 0; i < scratch.KeyItemCount(); ++i) {
      const TrsKeyItem& key = scratch.KeyItem(i);
      const std::string name = scratch.KeyFullName(i);
      Storage()->FindKeyItem(name, true)->Value = key.Value;
      ++ProgressItemCurrent;
      DoProgress();
    }
  }
};

}  // namespace velloran
