// Fuzz target of the index file loader: the header and the page table of any bytes open
// without a crash, a division by zero or a read outside a buffer. What opens must be a
// structure the store can use: whole items in each page, as many pages per dimension as its
// count needs, every item where the table says it is, appends that read back.
//
// The input is page 0 of a file (padded with zeros when it holds a header); the data pages
// after it hold a fixed pattern. Reads come from memory through the pread seam and writes
// are discarded through the write seam, so no run touches the disk after the first.
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "PlatformFile.h"
#include "ItemStore.h"

namespace {

using namespace velloran;

constexpr int64_t kPage = kDataHolderPageSize;
constexpr int64_t kFullFileSize = kPage * (kIndexPageTableEntries + 1);

const uint8_t* gInput = nullptr;
size_t gInputSize = 0;

uint8_t PatternByte(int64_t AOffset) {
  const auto o = static_cast<uint64_t>(AOffset);
  return static_cast<uint8_t>((o * 2654435761u) >> 11 ^ o >> 14);
}

// A file of only the input when it is too short for a header, else page 0 from the input
// and every data page the table can name.
int64_t VirtualSize() { return gInputSize < kIndexHeaderSize ? static_cast<int64_t>(gInputSize) : kFullFileSize; }

uint8_t VirtualByte(int64_t AOffset) {
  if (AOffset < kPage) return static_cast<size_t>(AOffset) < gInputSize ? gInput[AOffset] : 0;
  return PatternByte(AOffset);
}

ssize_t MemoryPread(int /*AHandle*/, void* ABuffer, size_t ALength, off_t AOffset) {
  const int64_t end = VirtualSize();
  if (AOffset >= end) return 0;
  const auto length = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(ALength), end - AOffset));
  auto* out = static_cast<uint8_t*>(ABuffer);
  for (size_t i = 0; i < length; ++i) out[i] = VirtualByte(AOffset + static_cast<int64_t>(i));
  return static_cast<ssize_t>(length);
}

ssize_t DiscardingWrite(int /*AHandle*/, const void* /*ABuffer*/, size_t ALength) { return static_cast<ssize_t>(ALength); }

const std::string& IndexFileName() {
  static const std::string name = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "velloran-index-fuzz-XXXXXX").string();
    const int handle = ::mkstemp(pattern.data());
    if (handle < 0) std::abort();
    ::close(handle);
    return pattern;
  }();
  return name;
}

void Check(bool ACondition) {
  if (!ACondition) std::abort();
}

// Item n of dimension d as the file holds it: in the page of the (n div itemsInPage)-th
// table entry of value d + 1.
std::vector<uint8_t> ExpectedItem(const TrclFileDataHolder& AStore, int ADim, uint32_t AIndex) {
  const TrclDataHolderDimension& dim = AStore.Dimensions(ADim);
  uint32_t wanted = AIndex / static_cast<uint32_t>(dim.ItemsInPage());
  int page = -1;
  for (int i = 0; i < kIndexPageTableEntries && page < 0; ++i) {
    if (AStore.PageTableEntry(i) == ADim + 1 && wanted-- == 0) page = i;
  }
  Check(page >= 0);
  const int64_t start =
      (page + 1) * kPage + static_cast<int64_t>(AIndex % static_cast<uint32_t>(dim.ItemsInPage())) * dim.ItemSize();
  std::vector<uint8_t> item(static_cast<size_t>(dim.ItemSize()));
  for (size_t i = 0; i < item.size(); ++i) item[i] = PatternByte(start + static_cast<int64_t>(i));
  return item;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  gInput = AData;
  gInputSize = ASize;
  const auto previousRead = platform::SetPreadFunction(MemoryPread);
  const auto previousWrite = platform::SetWriteFunction(DiscardingWrite);
  {
    TrclFileDataHolder store;
    store.SetOnError([](TrclDataHolder*, uint32_t, const std::string&) {});
    store.SetFileName(IndexFileName());
    store.SetActive(true);
    Check(store.Active());

    for (int d = 0; d < store.DimensionsCount(); ++d) {
      const TrclDataHolderDimension& dim = store.Dimensions(d);
      Check(dim.ItemSize() >= 1 && dim.ItemSize() <= kDataHolderPageSize);
      Check(dim.ItemsInPage() == kDataHolderPageSize / dim.ItemSize());
      int owned = 0;
      for (int i = 0; i < kIndexPageTableEntries; ++i) owned += store.PageTableEntry(i) == d + 1 ? 1 : 0;
      Check(static_cast<int64_t>(owned) * dim.ItemsInPage() >= dim.ItemsCount());
      Check(owned == 0 || static_cast<int64_t>(owned - 1) * dim.ItemsInPage() < dim.ItemsCount());

      const uint32_t count = store.ItemsCount(d);
      std::vector<uint8_t> item(static_cast<size_t>(dim.ItemSize()));
      std::array<uint32_t, 4> probes = {0, count / 2, count > 0 ? count - 1 : 0, static_cast<uint32_t>(dim.ItemsInPage())};
      for (uint32_t index : probes) {
        if (index >= count) continue;
        Check(store.ItemGet(d, index, item.data()));
        Check(item == ExpectedItem(store, d, index));
      }
      Check(!store.ItemGet(d, count, item.data()));

      std::vector<uint8_t> added(item.size(), 0xA5);
      const uint32_t index = store.ItemAdd(d, added.data());
      if (index != kInvalidItemIndex) {
        Check(index == count && store.ItemsCount(d) == count + 1);
        Check(store.ItemGet(d, index, item.data()) && item == added);
      } else {
        Check(store.ItemsCount(d) == count);  // only a full page table refuses an append
      }
    }
    store.SetActive(false);
  }
  platform::SetPreadFunction(previousRead);
  platform::SetWriteFunction(previousWrite);
  return 0;
}
