// Fuzz target of the index file loader: the header, the page table and the trailer of any
// bytes open without a crash, a division by zero or a read outside a buffer. What opens must
// be a structure the store can use: whole items in each page, as many pages per dimension as
// its count needs, every item where the table says it is, appends that read back; and a
// trailer that disagrees with the pages or with page 0 never lets a file open.
//
// The input is page 0 of a file (padded with zeros when it holds a header). The data pages
// after it, up to the last one the table names, hold a fixed pattern. Then comes the trailer:
// the input's bytes after page 0 when it is longer than a page, else the trailer that
// matches. Reads come from memory through the pread seam, writes and syncs are discarded
// through their seams, so no run touches the disk after the first.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "FileHelpers.h"
#include "ItemStore.h"
#include "PlatformFile.h"

namespace {

using namespace velloran;

constexpr int64_t kPage = kDataHolderPageSize;
// The pattern repeats every kPatternPeriod bytes, a prime: no two data pages of a file are
// alike, and reads are copies.
constexpr size_t kPatternPeriod = 65521;

const std::vector<uint8_t>& Pattern() {
  static const std::vector<uint8_t> pattern = [] {
    std::vector<uint8_t> bytes(kPatternPeriod);
    for (size_t o = 0; o < bytes.size(); ++o) bytes[o] = static_cast<uint8_t>((o * 2654435761u) >> 11 ^ o >> 14);
    return bytes;
  }();
  return pattern;
}

uint8_t PatternByte(int64_t AOffset) { return Pattern()[static_cast<size_t>(AOffset) % kPatternPeriod]; }

void CopyPattern(int64_t AOffset, uint8_t* AOut, size_t ALength) {
  while (ALength > 0) {
    const size_t from = static_cast<size_t>(AOffset) % kPatternPeriod;
    const size_t piece = std::min(ALength, kPatternPeriod - from);
    std::memcpy(AOut, Pattern().data() + from, piece);
    AOut += piece;
    AOffset += static_cast<int64_t>(piece);
    ALength -= piece;
  }
}

// The CRC of the data page at table position APosition, computed once per process.
uint32_t PatternPageCrc(int APosition) {
  static std::vector<uint32_t> crcs(kIndexPageTableEntries);
  static std::vector<bool> known(kIndexPageTableEntries);
  const auto p = static_cast<size_t>(APosition);
  if (!known[p]) {
    std::vector<uint8_t> page(kPage);
    CopyPattern((APosition + 1) * kPage, page.data(), page.size());
    crcs[p] = CalcCRC32(page.data(), page.size());
    known[p] = true;
  }
  return crcs[p];
}

// The file of the current input.
struct TVirtualFile {
  const uint8_t* Input = nullptr;
  size_t InputSize = 0;
  std::vector<uint8_t> PageZero;  // empty when the input is too short for a header
  int64_t TrailerOffset = 0;
  std::vector<uint8_t> Trailer;      // as the file holds it
  std::vector<uint8_t> TrueTrailer;  // what matches page 0 and the pages
  int64_t Size = 0;
};
TVirtualFile gFile;

void BuildVirtualFile(const uint8_t* AData, size_t ASize) {
  gFile = TVirtualFile{};
  gFile.Input = AData;
  gFile.InputSize = ASize;
  if (ASize < kIndexHeaderSize) {
    gFile.Size = static_cast<int64_t>(ASize);
    return;
  }
  gFile.PageZero.assign(kPage, 0);
  std::memcpy(gFile.PageZero.data(), AData, std::min<size_t>(ASize, kPage));
  const int positions = IndexUsedPositions(gFile.PageZero.data() + kIndexHeaderSize);
  std::vector<uint32_t> crcs(kIndexPageTableEntries);
  for (int p = 0; p < positions; ++p) crcs[static_cast<size_t>(p)] = PatternPageCrc(p);
  gFile.TrueTrailer = EncodeIndexTrailer(gFile.PageZero.data(), crcs.data());
  gFile.Trailer = ASize > static_cast<size_t>(kPage) ? std::vector<uint8_t>(AData + kPage, AData + ASize) : gFile.TrueTrailer;
  gFile.TrailerOffset = (positions + 1) * kPage;
  gFile.Size = gFile.TrailerOffset + static_cast<int64_t>(gFile.Trailer.size());
}

ssize_t MemoryPread(int /*AHandle*/, void* ABuffer, size_t ALength, off_t AOffset) {
  if (AOffset >= gFile.Size) return 0;
  const auto length = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(ALength), gFile.Size - AOffset));
  auto* out = static_cast<uint8_t*>(ABuffer);
  int64_t at = AOffset;
  size_t done = 0;
  while (done < length) {
    size_t piece = length - done;
    if (gFile.PageZero.empty()) {
      std::memcpy(out + done, gFile.Input + at, piece);
    } else if (at < kPage) {
      piece = std::min(piece, static_cast<size_t>(kPage - at));
      std::memcpy(out + done, gFile.PageZero.data() + at, piece);
    } else if (at < gFile.TrailerOffset) {
      piece = std::min(piece, static_cast<size_t>(gFile.TrailerOffset - at));
      CopyPattern(at, out + done, piece);
    } else {
      std::memcpy(out + done, gFile.Trailer.data() + (at - gFile.TrailerOffset), piece);
    }
    done += piece;
    at += static_cast<int64_t>(piece);
  }
  return static_cast<ssize_t>(length);
}

ssize_t DiscardingWrite(int /*AHandle*/, const void* /*ABuffer*/, size_t ALength) { return static_cast<ssize_t>(ALength); }
int DiscardingSync(int /*AHandle*/) { return 0; }

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

// A file the store opened with its dimensions: the trailer it took must carry the checksums
// of page 0 and of every page in use (the stored CRCs of free positions and the trailer's own
// CRC may be anything that the store accepts).
void CheckTrailerWasTrue(const TrclFileDataHolder& AStore) {
  const std::vector<uint8_t>& held = gFile.Trailer;
  const std::vector<uint8_t>& truth = gFile.TrueTrailer;
  Check(held.size() >= truth.size());
  Check(std::memcmp(held.data(), truth.data(), 8) == 0);
  for (int p = 0; p < kIndexPageTableEntries; ++p) {
    if (AStore.PageTableEntry(p) == 0) continue;
    const size_t at = 8 + 4 * static_cast<size_t>(p);
    Check(at + 4 <= truth.size() - 8 && std::memcmp(held.data() + at, truth.data() + at, 4) == 0);
  }
  const size_t pageZeroCrc = truth.size() - 8;
  Check(std::memcmp(held.data() + pageZeroCrc, truth.data() + pageZeroCrc, 4) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  BuildVirtualFile(AData, ASize);
  const auto previousRead = platform::SetPreadFunction(MemoryPread);
  const auto previousWrite = platform::SetWriteFunction(DiscardingWrite);
  const auto previousSync = platform::SetSyncFunction(DiscardingSync);
  {
    TrclFileDataHolder store;
    store.SetOnError([](TrclDataHolder*, uint32_t, const std::string&) {});
    store.SetFileName(IndexFileName());
    store.SetActive(true);
    Check(store.Active());
    if (store.DimensionsCount() > 0) CheckTrailerWasTrue(store);

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
  platform::SetSyncFunction(previousSync);
  return 0;
}
