// Fuzz target of the section stream reader: any bytes load into a section without a crash,
// a hang or a read outside the stream; a block cut short raises the storage's own error and
// nothing else. What loads, writes and reads back to the same keys.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "Storage.h"

using namespace velloran;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TrsStorage storage;
  std::istringstream input(std::string(reinterpret_cast<const char*>(AData), ASize));
  try {
    storage.SectionLoadFromStream("Target", input);
  } catch (const TrsException&) {
    return 0;
  }
  std::ostringstream written;
  storage.SectionSaveToStream("Target", written);
  TrsStorage again;
  std::istringstream reread(written.str());
  again.SectionLoadFromStream("Target", reread);  // a stream the writer wrote never fails
  if (again.KeyItemCount() != storage.KeyItemCount()) std::abort();
  for (int i = 0; i < storage.KeyItemCount(); ++i) {
    const TrsKeyItem* key = again.FindKeyItem(storage.KeyFullName(i), false);
    if (key == nullptr || key->Value.kvType != storage.KeyItem(i).Value.kvType) std::abort();
  }
  return 0;
}
