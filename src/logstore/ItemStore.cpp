#include "ItemStore.h"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>

#include "FileHelpers.h"
#include "PlatformSystem.h"

namespace velloran {

// --- TrclDataHolderDimension -------------------------------------------------------------

TrclDataHolderDimension::TrclDataHolderDimension(TrclDataHolder* AOwner) : FOwner(AOwner) {
  for (auto& page : FPages) page.fBuf = std::make_unique<uint8_t[]>(kDataHolderPageSize);
  Clear();
}

void TrclDataHolderDimension::Assign(const TrclDataHolderDimension& ASource) {
  FItemSize = ASource.FItemSize;
  FItemsCount = ASource.FItemsCount;
  FItemsInPage = ASource.FItemsInPage;
}

void TrclDataHolderDimension::Clear() {
  for (auto& page : FPages) {
    std::memset(page.fBuf.get(), 0, kDataHolderPageSize);
    page.fBufItemsCount = 0;
    page.fModified = false;
    page.fPageIndex = -1;
    page.fAccessIndex = 0;
    page.fUsingCount = 0;
  }
  FPageIndexForAdding = -1;
  FItemsCount = 0;
}

void TrclDataHolderDimension::SetItemSize(int AValue) {
  FItemSize = AValue;
  FItemsInPage = AValue > 0 ? kDataHolderPageSize / AValue : 0;
}

TrclDataHolderPage* TrclDataHolderDimension::Page_FindByPageIndex(int APageIndex) {
  for (auto& page : FPages) {
    if (page.fPageIndex == APageIndex) return &page;
  }
  return nullptr;
}

TrclDataHolderPage& TrclDataHolderDimension::Page_FindForUsing() {
  for (auto& page : FPages) {
    if (page.fPageIndex < 0) return page;
  }
  TrclDataHolderPage* best = nullptr;
  for (auto& page : FPages) {
    if (page.fAccessIndex < 0xFFFFFFFFu && (best == nullptr || page.fAccessIndex < best->fAccessIndex)) best = &page;
  }
  if (best != nullptr) return *best;
  for (auto& page : FPages) {
    if (page.fUsingCount < 0xFFFFFFFFu && (best == nullptr || page.fUsingCount < best->fUsingCount)) best = &page;
  }
  return best != nullptr ? *best : FPages[0];
}

void TrclDataHolderDimension::Page_IncAccessIndex(TrclDataHolderPage& APage) {
  // On wrap-around both slots restart as equals, below the stamp given now.
  if (FPagesAccessIndex == 0xFFFFFFFFu) {
    FPagesAccessIndex = 2;
    for (auto& page : FPages) page.fAccessIndex = 1;
  } else {
    ++FPagesAccessIndex;
  }
  APage.fAccessIndex = FPagesAccessIndex;
}

void TrclDataHolderDimension::Page_IncUsingCount(TrclDataHolderPage& APage) {
  APage.fUsingCount = APage.fUsingCount == 0xFFFFFFFFu ? 0 : APage.fUsingCount + 1;
}

void TrclDataHolderDimension::LoadFromHeaderDim(const TrclDataHolderHeaderDimension& AHeaderDim) {
  FItemSize = AHeaderDim.itemSize;
  FItemsCount = AHeaderDim.itemsCount;
  FItemsInPage = AHeaderDim.itemsInPage;
}

void TrclDataHolderDimension::SaveToHeaderDim(TrclDataHolderHeaderDimension& AHeaderDim) const {
  AHeaderDim.itemSize = FItemSize;
  AHeaderDim.itemsInPage = FItemsInPage;
  AHeaderDim.itemsCount = FItemsCount;
}

// --- TrclDataHolder ----------------------------------------------------------------------

TrclDataHolder::~TrclDataHolder() = default;

void TrclDataHolder::SetActive(bool AValue) {
  if (AValue == FActive) return;
  if (AValue) {
    FActive = DoOpen();
  } else {
    DoClose();
    FActive = false;
  }
}

int TrclDataHolder::DimensionAdd(int ADataSize) {
  // Both stores keep eight dimension places, and an item must fit a page: anything else
  // would index past those arrays or divide by zero later.
  if (DimensionsCount() >= kDataHolderMaxDimensions) {
    DoError(kDataHolderErrorDimension, fmt::format("An item store holds at most {} dimensions", kDataHolderMaxDimensions));
    return -1;
  }
  if (ADataSize < 1 || ADataSize > kDataHolderPageSize) {
    DoError(kDataHolderErrorDimension, fmt::format("Item size {} is outside 1..{} bytes", ADataSize, kDataHolderPageSize));
    return -1;
  }
  auto dimension = std::make_unique<TrclDataHolderDimension>(this);
  dimension->SetItemSize(ADataSize);
  const int index = DimensionsCount();
  dimension->SetDimensionIndex(index);
  FDimensions.push_back(std::move(dimension));
  return index;
}

void TrclDataHolder::DimensionsClear() {
  DoDebug(fmt::format("[{}] index.DimensionsClear", platform::CurrentThreadId()));
  FDimensions.clear();
}

void TrclDataHolder::Clear() { DimensionsClear(); }

uint32_t TrclDataHolder::DoError(uint32_t AErrorCode, std::string_view AText) {
  std::string message;
  if ((AErrorCode & kDataHolderErrorClassMask) == kDataHolderErrorSystem) {
    const uint32_t system = platform::LastSystemError();
    message = fmt::format("{:X}: {}", system, platform::SystemErrorText(system));
  }
  if (!AText.empty()) {
    message = message.empty() ? fmt::format("{}.", AText) : fmt::format("{}. {}", AText, message);
  }
  if (FOnError) {
    FOnError(this, AErrorCode, message);
    return AErrorCode;
  }
  throw ErclDataHolderError(fmt::format("({:X}) {}", AErrorCode, message));
}

void TrclDataHolder::DoDebug(const std::string& AText) {
  if (FOnDebug) FOnDebug(this, AText);
}

// --- TrclMemoryDataHolder ----------------------------------------------------------------

TrclMemoryDataHolder::TrclMemoryDataHolder(uint32_t AMaxDimensionBytes) : FMaxDimensionBytes(AMaxDimensionBytes) {}

TrclMemoryDataHolder::~TrclMemoryDataHolder() { TrclMemoryDataHolder::Clear(); }

void TrclMemoryDataHolder::Clear() {
  for (size_t d = 0; d < FItemsData.size(); ++d) {
    std::free(FItemsData[d]);
    FItemsData[d] = nullptr;
    FItemsCapacity[d] = 0;
    FItemsCount[d] = 0;
  }
  DimensionsClear();
}

uint32_t TrclMemoryDataHolder::ItemsCount(int ADim) { return IsDimension(ADim) ? FItemsCount[static_cast<size_t>(ADim)] : 0; }

void TrclMemoryDataHolder::ItemsClear(int ADim) {
  if (IsDimension(ADim) && FItemsCount[static_cast<size_t>(ADim)] > 0) SetCapacity(ADim, 0);
}

uint8_t* TrclMemoryDataHolder::ItemPtr(int ADim, uint32_t AIndex) const {
  return FItemsData[static_cast<size_t>(ADim)] + static_cast<size_t>(AIndex) * ItemBytes(ADim);
}

bool TrclMemoryDataHolder::ItemGet(int ADim, uint32_t AIndex, void* AData) {
  if (!IsDimension(ADim) || AIndex >= FItemsCount[static_cast<size_t>(ADim)]) return false;
  std::memcpy(AData, ItemPtr(ADim, AIndex), ItemBytes(ADim));
  return true;
}

bool TrclMemoryDataHolder::ItemSet(int ADim, uint32_t AIndex, const void* AData) {
  if (!IsDimension(ADim) || AIndex >= FItemsCount[static_cast<size_t>(ADim)]) return false;
  std::memcpy(ItemPtr(ADim, AIndex), AData, ItemBytes(ADim));
  return true;
}

uint32_t TrclMemoryDataHolder::ItemAdd(int ADim, const void* AData) {
  if (!IsDimension(ADim)) {
    DoError(kDataHolderErrorDimension, fmt::format("No dimension {} in the item store", ADim));
    return kInvalidItemIndex;
  }
  const auto d = static_cast<size_t>(ADim);
  if (FItemsCount[d] >= FItemsCapacity[d]) {
    // The byte size is a 32-bit quantity: rather than let it wrap and write past the block,
    // stop at the last capacity that fits and refuse the append after it.
    const uint64_t maxItems = FMaxDimensionBytes / ItemBytes(ADim);
    const uint64_t wanted = static_cast<uint64_t>(FItemsCapacity[d]) + kGrowthItems;
    const uint64_t capacity = wanted < maxItems ? wanted : maxItems;
    if (capacity <= FItemsCount[d]) {
      DoError(kDataHolderErrorFull,
              fmt::format("Item store full: dimension {} holds {} items of {} bytes, the most that fit in {} bytes", ADim,
                          FItemsCount[d], ItemBytes(ADim), FMaxDimensionBytes));
      return kInvalidItemIndex;
    }
    SetCapacity(ADim, static_cast<uint32_t>(capacity));
  }
  const uint32_t index = FItemsCount[d];
  uint8_t* target = ItemPtr(ADim, index);
  if (AData != nullptr) {
    std::memcpy(target, AData, ItemBytes(ADim));
  } else {
    std::memset(target, 0, ItemBytes(ADim));
  }
  FItemsCount[d] = index + 1;
  return index;
}

bool TrclMemoryDataHolder::ItemMove(int ADim, uint32_t ASourceIndex, uint32_t ADestIndex) {
  if (!IsDimension(ADim)) return false;
  const uint32_t count = FItemsCount[static_cast<size_t>(ADim)];
  if (ASourceIndex >= count || ADestIndex >= count) return false;
  if (ASourceIndex == ADestIndex) return true;
  const size_t size = ItemBytes(ADim);
  std::vector<uint8_t> moving(ItemPtr(ADim, ASourceIndex), ItemPtr(ADim, ASourceIndex) + size);
  if (ASourceIndex < ADestIndex) {
    std::memmove(ItemPtr(ADim, ASourceIndex), ItemPtr(ADim, ASourceIndex + 1), (ADestIndex - ASourceIndex) * size);
  } else {
    std::memmove(ItemPtr(ADim, ADestIndex + 1), ItemPtr(ADim, ADestIndex), (ASourceIndex - ADestIndex) * size);
  }
  std::memcpy(ItemPtr(ADim, ADestIndex), moving.data(), size);
  return true;
}

// One contiguous block per dimension: no pages or slots to describe.
std::string TrclMemoryDataHolder::StructInfo(int /*ADim*/) { return {}; }

void TrclMemoryDataHolder::SetCapacity(int ADim, uint32_t ANewCapacity) {
  const auto d = static_cast<size_t>(ADim);
  const uint32_t oldCapacity = FItemsCapacity[d];
  if (ANewCapacity == oldCapacity) return;
  const size_t size = ItemBytes(ADim);
  if (ANewCapacity == 0) {
    std::free(FItemsData[d]);
    FItemsData[d] = nullptr;
    FItemsCount[d] = 0;
  } else {
    // realloc: large blocks move by remapping pages, so linear growth stays cheap.
    void* block = std::realloc(FItemsData[d], static_cast<size_t>(ANewCapacity) * size);
    if (block == nullptr) throw std::bad_alloc();
    FItemsData[d] = static_cast<uint8_t*>(block);
    if (ANewCapacity > oldCapacity) {
      std::memset(FItemsData[d] + static_cast<size_t>(oldCapacity) * size, 0,
                  static_cast<size_t>(ANewCapacity - oldCapacity) * size);
    }
    if (FItemsCount[d] > ANewCapacity) FItemsCount[d] = ANewCapacity;
  }
  FItemsCapacity[d] = ANewCapacity;
}

// --- the index file header ---------------------------------------------------------------

namespace {

void PutLE32(uint8_t* AOut, uint32_t AValue) {
  for (int i = 0; i < 4; ++i) AOut[i] = static_cast<uint8_t>(AValue >> (8 * i));
}

uint32_t GetLE32(const uint8_t* AIn) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | AIn[i];
  return value;
}

constexpr size_t kHeaderDimsOffset = 14;
constexpr size_t kHeaderDimSize = 12;
constexpr size_t kHeaderReservedOffset = 110;
constexpr char kIndexPrefix[4] = {'x', 'q', 'z', 'h'};
constexpr char kTrailerMarker[4] = {'x', 'q', 'z', 'c'};

}  // namespace

void EncodeIndexHeader(const TrclDataHolderHeader& AHeader, uint8_t* AOut) {
  std::memcpy(AOut, AHeader.prefix.data(), 4);
  AOut[4] = AHeader.structVersion;
  PutLE32(AOut + 5, static_cast<uint32_t>(AHeader.pageSize));
  PutLE32(AOut + 9, static_cast<uint32_t>(AHeader.indexesZeroPageOffset));
  AOut[13] = AHeader.dimCount;
  for (size_t d = 0; d < AHeader.dims.size(); ++d) {
    uint8_t* record = AOut + kHeaderDimsOffset + d * kHeaderDimSize;
    PutLE32(record, static_cast<uint32_t>(AHeader.dims[d].itemSize));
    PutLE32(record + 4, static_cast<uint32_t>(AHeader.dims[d].itemsInPage));
    PutLE32(record + 8, static_cast<uint32_t>(AHeader.dims[d].itemsCount));
  }
  for (size_t i = 0; i < AHeader.reserved.size(); ++i) PutLE32(AOut + kHeaderReservedOffset + 4 * i, AHeader.reserved[i]);
}

TrclDataHolderHeader DecodeIndexHeader(const uint8_t* AIn) {
  TrclDataHolderHeader header;
  std::memcpy(header.prefix.data(), AIn, 4);
  header.structVersion = AIn[4];
  header.pageSize = static_cast<int32_t>(GetLE32(AIn + 5));
  header.indexesZeroPageOffset = static_cast<int32_t>(GetLE32(AIn + 9));
  header.dimCount = AIn[13];
  for (size_t d = 0; d < header.dims.size(); ++d) {
    const uint8_t* record = AIn + kHeaderDimsOffset + d * kHeaderDimSize;
    header.dims[d].itemSize = static_cast<int32_t>(GetLE32(record));
    header.dims[d].itemsInPage = static_cast<int32_t>(GetLE32(record + 4));
    header.dims[d].itemsCount = static_cast<int32_t>(GetLE32(record + 8));
  }
  for (size_t i = 0; i < header.reserved.size(); ++i) header.reserved[i] = GetLE32(AIn + kHeaderReservedOffset + 4 * i);
  return header;
}

int IndexUsedPositions(const uint8_t* ATable) {
  int positions = kIndexPageTableEntries;
  while (positions > 0 && ATable[positions - 1] == 0) --positions;
  return positions;
}

std::vector<uint8_t> EncodeIndexTrailer(const uint8_t* APageZero, const uint32_t* APageCrcs) {
  const uint8_t* table = APageZero + kIndexHeaderSize;
  const int positions = IndexUsedPositions(table);
  std::vector<uint8_t> trailer(IndexTrailerSize(positions));
  uint8_t* out = trailer.data();
  std::memcpy(out, kTrailerMarker, 4);
  PutLE32(out + 4, static_cast<uint32_t>(positions));
  out += 8;
  for (int p = 0; p < positions; ++p, out += 4) PutLE32(out, table[p] != 0 ? APageCrcs[p] : 0);
  PutLE32(out, CalcCRC32(APageZero, kDataHolderPageSize));
  PutLE32(out + 4, CalcCRC32(trailer.data(), trailer.size() - 4));
  return trailer;
}

// --- TrclFileDataHolder ------------------------------------------------------------------

namespace {

constexpr uint32_t kIndexErrorFile = 0x10000000;      // cannot open or create (system error appended)
constexpr uint32_t kIndexErrorPageRead = 0x30000000;  // reading a data page
constexpr uint32_t kIndexErrorSave = 0x40000000;      // exception while flushing or closing
constexpr uint32_t kIndexErrorWrite = 0x50000000;     // writing the header, the table or a page
constexpr uint32_t kIndexErrorOpen = 0x80000000;      // exception while opening; short table read
constexpr uint32_t kIndexErrorLoad = 0x90000000;      // failed header or table read (system error appended)

constexpr int kHeaderOk = 0;
constexpr int kNoFile = 6;
constexpr int64_t kTableOffset = static_cast<int64_t>(kIndexHeaderSize);
// Opening checks the pages in reads of this many: few system calls, a buffer that stays small.
constexpr int kPagesPerCheckRead = 64;

// Open index-file handles of the process; only the traces read it, unsynchronised reads are
// good enough there.
std::atomic<int> gIndexFileHandles{0};

int64_t PageOffset(int APageIndex) { return (static_cast<int64_t>(APageIndex) + 1) * kDataHolderPageSize; }

uintptr_t Address(const void* APointer) { return reinterpret_cast<uintptr_t>(APointer); }

}  // namespace

TrclFileDataHolder::TrclFileDataHolder() = default;

TrclFileDataHolder::~TrclFileDataHolder() {
  // Deactivation flushes; its failures went to OnError, or are lost here: a destructor must
  // not throw.
  try {
    SetActive(false);
  } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch)
  }
  FileClose();
  Unlock();  // last: the final flush is written under the lock
}

void TrclFileDataHolder::SetFileName(const std::string& AValue) {
  if (AValue != FFileName) Unlock();
  FFileName = AValue;
}

bool TrclFileDataHolder::TryLock() {
  if (FLockFile.IsOpen()) return true;
  if (!FLockFile.Open(FFileName, !ReadOnly(), ReadOnly())) {
    DoError(kIndexErrorFile, fmt::format("Can not create index file <{}>", FFileName));
    return false;
  }
  if (FLockFile.TryLockExclusive()) return true;
  const uint32_t error = platform::LastSystemError();
  FLockFile.Close();
  if (error == EWOULDBLOCK) {
    DoDebug(fmt::format("index.locked file={}: another store holds it", ShortFileName()));
    return false;
  }
  platform::SetLastSystemError(error);
  DoError(kIndexErrorFile, fmt::format("Can not lock index file <{}>", FFileName));
  return false;
}

void TrclFileDataHolder::Unlock() { FLockFile.Close(); }

bool TrclFileDataHolder::InvalidateOnDisk() {
  if (ReadOnly()) return false;
  FileOpen(false);
  if (!FFile.IsOpen()) return !platform::FileExists(FFileName);  // else FileOpen reported a failure
  // Whatever happens below, the next flush must write a valid header again.
  FHeaderModified = true;
  TrclDataHolderHeader invalid;
  std::memcpy(invalid.prefix.data(), kIndexPrefix, 4);
  invalid.structVersion = 0;  // no version this store takes
  uint8_t bytes[kIndexHeaderSize];
  EncodeIndexHeader(invalid, bytes);
  int64_t written = -1;
  if (FFile.Seek(0) == 0) written = FFile.Write(bytes, sizeof bytes);
  bool done = false;
  if (written < 0) {
    FileError(kIndexErrorWrite, "Can not mark as being rewritten");
  } else if (written != static_cast<int64_t>(kIndexHeaderSize)) {
    ShortTransferError(kIndexErrorWrite, "Can not mark as being rewritten", written, kIndexHeaderSize);
  } else if (!FFile.Sync()) {
    FileError(kIndexErrorWrite, "Can not sync the mark of being rewritten");
  } else {
    done = true;
  }
  CloseUnlessHeld();
  return done;
}

uint32_t TrclFileDataHolder::FileError(uint32_t ACode, std::string_view AWhat) {
  if ((ACode & kDataHolderErrorClassMask) == kDataHolderErrorSystem) {
    return DoError(ACode, fmt::format("{} in index file <{}>", AWhat, FFileName));
  }
  const uint32_t system = platform::LastSystemError();
  return DoError(ACode,
                 fmt::format("{} in index file <{}>. {:X}: {}", AWhat, FFileName, system, platform::SystemErrorText(system)));
}

uint32_t TrclFileDataHolder::ShortTransferError(uint32_t ACode, std::string_view AWhat, int64_t ADone, int64_t AWanted) {
  return DoError(ACode, fmt::format("{} in index file <{}>: {} of {} bytes", AWhat, FFileName, ADone, AWanted));
}

void TrclFileDataHolder::SetOptions(TrclFileDataHolderOptions AValue) {
  FOptions = AValue;
  if (!FOptions.Contains(fdhHoldFileHandle)) FileClose();
}

std::string TrclFileDataHolder::ShortFileName() const {
  const size_t slash = FFileName.rfind('/');
  return slash == std::string::npos ? FFileName : FFileName.substr(slash + 1);
}

uint8_t TrclFileDataHolder::PageTableEntry(int APageIndex) const {
  if (!FPageIndexes || APageIndex < 0 || APageIndex >= kIndexPageTableEntries) return 0;
  return FPageIndexes[static_cast<size_t>(APageIndex)];
}

void TrclFileDataHolder::FileOpen(bool ACanCreate) {
  if (FFile.IsOpen()) return;
  if (!ACanCreate && !platform::FileExists(FFileName)) return;
  if (FFile.Open(FFileName, ACanCreate, ReadOnly())) {
    DoDebug(fmt::format("inc handles={}", ++gIndexFileHandles));
    return;
  }
  DoError(kIndexErrorFile, fmt::format("Can not create index file <{}>", FFileName));
}

void TrclFileDataHolder::FileClose() {
  if (!FFile.IsOpen()) return;
  FFile.Close();
  DoDebug(fmt::format("dec handles={}", --gIndexFileHandles));
}

void TrclFileDataHolder::CloseUnlessHeld() {
  if (!FOptions.Contains(fdhHoldFileHandle)) FileClose();
}

void TrclFileDataHolder::ResetHeaderAndTable() {
  FHeader = TrclDataHolderHeader{};
  if (FPageIndexes) std::memset(FPageIndexes.get(), 0, kDataHolderPageSize);
  std::fill(FPageCrcs.begin(), FPageCrcs.end(), 0u);
  FHeaderModified = false;
  FIndexesModified = false;
}

int TrclFileDataHolder::HeaderLoad() {
  DimensionsClear();
  FHeader = TrclDataHolderHeader{};
  if (!FFile.IsOpen() && FOptions.Contains(fdhDeferredFileCreation) && !platform::FileExists(FFileName)) return 2;
  FileOpen(false);
  if (!FFile.IsOpen()) return kNoFile;
  uint8_t bytes[kIndexHeaderSize];
  int64_t got = -1;
  if (FFile.Seek(0) == 0) got = FFile.Read(bytes, sizeof bytes);
  if (got < 0) {
    FileError(kIndexErrorLoad, "Header loading  error");
    return 1;
  }
  if (got == 0) return 2;
  if (got < static_cast<int64_t>(kIndexHeaderSize)) return 3;
  const TrclDataHolderHeader header = DecodeIndexHeader(bytes);
  if (std::memcmp(header.prefix.data(), kIndexPrefix, 4) != 0) return 4;
  if (header.structVersion != kIndexStructVersion) return 5;
  // Beyond the original checks: a header is input, and these values size buffers and divide.
  if (header.dimCount > kDataHolderMaxDimensions) return 7;
  for (size_t d = 0; d < header.dimCount; ++d) {
    const TrclDataHolderHeaderDimension& dim = header.dims[d];
    if (dim.itemSize < 1 || dim.itemSize > kDataHolderPageSize) return 7;
    if (dim.itemsInPage != kDataHolderPageSize / dim.itemSize) return 7;
    if (dim.itemsCount < 0) return 7;
  }
  FHeader = header;
  for (size_t d = 0; d < header.dimCount; ++d) {
    const int added = DimensionAdd(header.dims[d].itemSize);
    Dimensions(added).LoadFromHeaderDim(header.dims[d]);
  }
  return kHeaderOk;
}

bool TrclFileDataHolder::LoadedStructureFits(std::string& AReason) const {
  std::array<int64_t, 256> owned{};
  for (int i = 0; i < kIndexPageTableEntries; ++i) ++owned[FPageIndexes[static_cast<size_t>(i)]];
  for (size_t value = static_cast<size_t>(DimensionsCount()) + 1; value < owned.size(); ++value) {
    if (owned[value] > 0) {
      AReason = fmt::format("{} pages of dimension {}, which the header does not have", owned[value], value - 1);
      return false;
    }
  }
  for (int d = 0; d < DimensionsCount(); ++d) {
    const TrclDataHolderDimension& dim = Dimensions(d);
    const int64_t needed = (static_cast<int64_t>(dim.ItemsCount()) + dim.ItemsInPage() - 1) / dim.ItemsInPage();
    if (owned[static_cast<size_t>(d) + 1] != needed) {
      AReason = fmt::format("dimension {} holds {} items of {} in a page, but owns {} pages", d, dim.ItemsCount(),
                            dim.ItemsInPage(), owned[static_cast<size_t>(d) + 1]);
      return false;
    }
  }
  return true;
}

bool TrclFileDataHolder::ChecksumsFit(std::string& AReason) {
  const int positions = IndexUsedPositions(FPageIndexes.get());
  const int run = std::min(positions, kPagesPerCheckRead);
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(run) * kDataHolderPageSize);
  for (int first = 0; first < positions; first += run) {
    const int count = std::min(run, positions - first);
    const int64_t wanted = static_cast<int64_t>(count) * kDataHolderPageSize;
    const int64_t offset = PageOffset(first);
    int64_t got = -1;
    if (FFile.Seek(offset) == offset) got = FFile.Read(buffer.get(), static_cast<size_t>(wanted));
    if (got < 0) {
      FileError(kIndexErrorLoad, fmt::format("Can not check data page {}", first));
      AReason = "a data page cannot be read";
      return false;
    }
    if (got < wanted) {
      AReason = fmt::format("the file ends inside data page {} of the {} the table needs", first + got / kDataHolderPageSize,
                            positions);
      return false;
    }
    for (int i = 0; i < count; ++i) {
      const auto position = static_cast<size_t>(first + i);
      if (FPageIndexes[position] != 0) {
        FPageCrcs[position] = CalcCRC32(buffer.get() + static_cast<size_t>(i) * kDataHolderPageSize, kDataHolderPageSize);
      }
    }
  }

  // What a trailer of these pages holds, byte for byte: the stored one must be the same.
  const std::vector<uint8_t> expected = EncodeIndexTrailer(PageZeroBytes().data(), FPageCrcs.data());
  std::vector<uint8_t> stored(expected.size());
  const int64_t offset = PageOffset(positions);
  int64_t got = -1;
  if (FFile.Seek(offset) == offset) got = FFile.Read(stored.data(), stored.size());
  if (got < 0) {
    FileError(kIndexErrorLoad, "Can not read the checksums");
    AReason = "the trailer cannot be read";
    return false;
  }
  if (got < static_cast<int64_t>(stored.size())) {
    AReason = fmt::format("the file ends {} bytes into the {}-byte trailer", got, stored.size());
    return false;
  }
  if (stored == expected) return true;
  // Only the reason is left to find: the first field that differs.
  const size_t crcs = 8;
  const size_t pageZero = stored.size() - 8;
  const size_t differs =
      static_cast<size_t>(std::mismatch(stored.begin(), stored.end(), expected.begin()).first - stored.begin());
  if (differs < crcs) {
    AReason = "no trailer of this table after the last data page";
  } else if (differs < pageZero) {
    AReason = fmt::format("data page {} does not match its checksum", (differs - crcs) / 4);
  } else if (differs < pageZero + 4) {
    AReason = "the header or the table does not match its checksum";
  } else {
    AReason = "the trailer does not match its checksum";
  }
  return false;
}

int TrclFileDataHolder::HeaderSave() {
  if (ReadOnly()) return 0;
  const int count = std::min(DimensionsCount(), kDataHolderMaxDimensions);
  for (size_t d = 0; d < FHeader.dims.size(); ++d) {
    FHeader.dims[d] = TrclDataHolderHeaderDimension{};
    if (static_cast<int>(d) < count) Dimensions(static_cast<int>(d)).SaveToHeaderDim(FHeader.dims[d]);
  }
  std::memcpy(FHeader.prefix.data(), kIndexPrefix, 4);
  FHeader.structVersion = kIndexStructVersion;
  FHeader.pageSize = kDataHolderPageSize;
  FHeader.dimCount = static_cast<uint8_t>(count);
  FHeader.indexesZeroPageOffset = static_cast<int32_t>(kIndexHeaderSize);
  FileOpen(true);
  if (!FFile.IsOpen()) return kNoFile;
  uint8_t bytes[kIndexHeaderSize];
  EncodeIndexHeader(FHeader, bytes);
  int64_t written = -1;
  if (FFile.Seek(0) == 0) written = FFile.Write(bytes, sizeof bytes);
  if (written < 0) {
    const uint32_t error = platform::LastSystemError();
    FileClose();
    platform::SetLastSystemError(error);
    FileError(kIndexErrorWrite, "Header saving error");
    return 1;
  }
  if (written != static_cast<int64_t>(kIndexHeaderSize)) {
    FileClose();
    ShortTransferError(kIndexErrorWrite, "Header record saving error", written, kIndexHeaderSize);
    return 2;
  }
  return 0;
}

int TrclFileDataHolder::PageIndexesLoad() {
  FileOpen(false);
  if (!FFile.IsOpen()) return kNoFile;
  int64_t got = -1;
  if (FFile.Seek(kTableOffset) == kTableOffset) got = FFile.Read(FPageIndexes.get(), kIndexPageTableEntries);
  if (got == kIndexPageTableEntries) return 0;
  // A table read in part describes nothing: no item of the header's dimensions can be found.
  std::memset(FPageIndexes.get(), 0, kDataHolderPageSize);
  if (got < 0) return static_cast<int>(FileError(kIndexErrorLoad, "Can not load page indexes"));
  return static_cast<int>(DoError(kIndexErrorOpen, fmt::format("Can not load page indexes({}<>{}) in index file <{}>", got,
                                                               kIndexPageTableEntries, FFileName)));
}

int TrclFileDataHolder::PageIndexesSave() {
  if (ReadOnly()) return 0;
  FileOpen(true);
  if (!FFile.IsOpen()) return kNoFile;
  int64_t written = -1;
  if (FFile.Seek(kTableOffset) == kTableOffset) written = FFile.Write(FPageIndexes.get(), kIndexPageTableEntries);
  if (written < 0) {
    FileError(kIndexErrorWrite, "Can not save page indexes\xD1\x8D");  // sic: the text ends in a Cyrillic letter
    return 1;
  }
  if (written != kIndexPageTableEntries) {
    ShortTransferError(kIndexErrorWrite, "Can not save page indexes", written, kIndexPageTableEntries);
    return 2;
  }
  return 0;
}

std::vector<uint8_t> TrclFileDataHolder::PageZeroBytes() const {
  std::vector<uint8_t> page(kDataHolderPageSize);
  EncodeIndexHeader(FHeader, page.data());
  std::memcpy(page.data() + kIndexHeaderSize, FPageIndexes.get(), kIndexPageTableEntries);
  return page;
}

int TrclFileDataHolder::TrailerSave() {
  if (ReadOnly()) return 0;
  FileOpen(true);
  if (!FFile.IsOpen()) return kNoFile;
  const std::vector<uint8_t> trailer = EncodeIndexTrailer(PageZeroBytes().data(), FPageCrcs.data());
  const int64_t offset = PageOffset(IndexUsedPositions(FPageIndexes.get()));
  int64_t written = -1;
  if (FFile.Seek(offset) == offset) written = FFile.Write(trailer.data(), trailer.size());
  if (written < 0) {
    FileError(kIndexErrorWrite, "Can not save the checksums");
    return 1;
  }
  if (written != static_cast<int64_t>(trailer.size())) {
    ShortTransferError(kIndexErrorWrite, "Can not save the checksums", written, static_cast<int64_t>(trailer.size()));
    return 2;
  }
  return 0;
}

void TrclFileDataHolder::InitPagesForAdding() {
  for (int d = 0; d < DimensionsCount(); ++d) {
    TrclDataHolderDimension& dim = Dimensions(d);
    const int count = dim.ItemsCount();
    dim.SetPageIndexForAdding(count > 0 && count % dim.ItemsInPage() != 0 ? PageIndexOfItem(d, static_cast<uint32_t>(count))
                                                                          : -1);
  }
}

int TrclFileDataHolder::PageRead(int APageIndex, uint8_t* ABuffer) {
  DoDebug(fmt::format("[{}] PageRead pageIdx={} buf={:X}", platform::CurrentThreadId(), APageIndex, Address(ABuffer)));
  FileOpen(false);
  if (!FFile.IsOpen()) {
    // FileOpen reports a file it cannot open, but passes over a missing one in silence.
    if (!platform::FileExists(FFileName)) {
      platform::SetLastSystemError(ENOENT);
      FileError(kIndexErrorPageRead, fmt::format("Can not load page {}", APageIndex));
    }
    return kNoFile;
  }
  if (FFile.Seek(PageOffset(APageIndex)) < 0) {
    FileError(kIndexErrorPageRead, "Can not set pointer for data page");
    return 1;
  }
  const int64_t got = FFile.Read(ABuffer, kDataHolderPageSize);
  if (got < 0) {
    FileError(kIndexErrorPageRead, fmt::format("Can not load page {}", APageIndex));
    return 2;
  }
  if (got != kDataHolderPageSize) {
    ShortTransferError(kIndexErrorPageRead, fmt::format("Can not load whole page({})", APageIndex), got, kDataHolderPageSize);
    return 3;
  }
  return 0;
}

int TrclFileDataHolder::PageWrite(int ADim, int APageIndex, const uint8_t* ABuffer) {
  const std::lock_guard lock(FCs_Write);
  if (ReadOnly()) return 0;
  DoDebug(
      fmt::format("[{}] PageWrite dim={} pageIdx={} buf={:X}", platform::CurrentThreadId(), ADim, APageIndex, Address(ABuffer)));
  // The checksum of what the page must hold, also when the write below fails: a trailer
  // written later then fails the check of this page, and the file is foreign.
  FPageCrcs[static_cast<size_t>(APageIndex)] = CalcCRC32(ABuffer, kDataHolderPageSize);
  FileOpen(true);
  if (!FFile.IsOpen()) return kNoFile;
  const int64_t offset = PageOffset(APageIndex);
  const int64_t reached = FFile.Seek(offset);
  if (reached < 0) {
    FileError(kIndexErrorWrite, fmt::format("Can not set pointer for data page {}", APageIndex));
    return 1;
  }
  if (reached != offset) {
    DoError(kIndexErrorWrite,
            fmt::format("Can not correctly set pointer for data page {} in index file <{}>: at {} instead of {}", APageIndex,
                        FFileName, reached, offset));
    return 2;
  }
  const int64_t written = FFile.Write(ABuffer, kDataHolderPageSize);
  if (written < 0) {
    FileError(kIndexErrorWrite, fmt::format("Can not save page {}", APageIndex));
    return 3;
  }
  if (written != kDataHolderPageSize) {
    ShortTransferError(kIndexErrorWrite, fmt::format("Can not save whole page {}", APageIndex), written, kDataHolderPageSize);
    return 4;
  }
  FHeaderModified = true;  // the item counts on disk have changed with the page
  return 0;
}

uint32_t TrclFileDataHolder::ReportFull(int ADim) {
  return DoError(kDataHolderErrorFull, fmt::format("Index file {} full: no free page after those of dimension {} among {}",
                                                   ShortFileName(), ADim, kIndexPageTableEntries));
}

int TrclFileDataHolder::PageIndexAlloc(int ADim, TrclDataHolderPage& APage) {
  const std::lock_guard lock(FCs_Indexes);
  // Table order is item order: a dimension's new page must come after its last one. A free
  // entry before it (left by ItemsClear of another dimension) would make the new page the
  // home of items of an earlier page.
  const uint8_t* table = FPageIndexes.get();
  const uint8_t* end = table + kIndexPageTableEntries;
  const auto owner = static_cast<uint8_t>(ADim + 1);
  const uint8_t* from = table;
  for (const uint8_t* entry = end; entry != table; --entry) {
    if (entry[-1] == owner) {
      from = entry;
      break;
    }
  }
  const uint8_t* free = std::find(from, end, uint8_t{0});
  if (free == end) return -1;
  APage.fPageIndex = static_cast<int>(free - table);
  FIndexesModified = true;
  return APage.fPageIndex;
}

int TrclFileDataHolder::PageFlush(int ADim, TrclDataHolderPage& APage) {
  if (ReadOnly()) return 0;
  if (APage.fPageIndex < 0) {
    const int position = PageIndexAlloc(ADim, APage);
    if (position < 0) {
      return static_cast<int>(ReportFull(ADim));
    }
    FPageIndexes[static_cast<size_t>(position)] = static_cast<uint8_t>(ADim + 1);
  }
  const uint8_t* t = FPageIndexes.get();
  DoDebug(fmt::format("[{}] PageIndexes [{},{},{},{},{},{},{},{},{},{}]", platform::CurrentThreadId(), t[0], t[1], t[2], t[3],
                      t[4], t[5], t[6], t[7], t[8], t[9]));
  const int result = PageWrite(ADim, APage.fPageIndex, APage.fBuf.get());
  APage.fModified = false;  // also after a failed write: the failure has been reported
  return result;
}

int TrclFileDataHolder::PageIndexOfItem(int ADim, uint32_t AIndex) const {
  const int perPage = Dimensions(ADim).ItemsInPage();
  if (perPage <= 0 || !FPageIndexes) return -1;
  const auto owner = static_cast<uint8_t>(ADim + 1);
  uint32_t wanted = AIndex / static_cast<uint32_t>(perPage);
  for (int i = 0; i < kIndexPageTableEntries; ++i) {
    if (FPageIndexes[static_cast<size_t>(i)] != owner) continue;
    if (wanted == 0) return i;
    --wanted;
  }
  return -1;
}

int TrclFileDataHolder::PageIndexNext(int ADim, int APosition, int AStep) const {
  if (Dimensions(ADim).ItemsInPage() <= 0 || !FPageIndexes) return -1;
  const auto owner = static_cast<uint8_t>(ADim + 1);
  const int direction = AStep > 0 ? 1 : -1;
  int remaining = AStep > 0 ? AStep : -AStep;
  int position = APosition;
  while (remaining > 0) {
    position += direction;
    if (position < 0 || position >= kIndexPageTableEntries) return -1;
    if (FPageIndexes[static_cast<size_t>(position)] == owner) --remaining;
  }
  return position;
}

int TrclFileDataHolder::PageSwitch(int ADim, int APageIndex, TrclDataHolderPage& APage) {
  if (APage.fPageIndex == APageIndex) return 0;
  const uint32_t thread = platform::CurrentThreadId();
  DoDebug(fmt::format("[{}] PageSwitch({})", thread, APageIndex));
  if (APage.fPageIndex >= 0 && APage.fModified && PageFlush(ADim, APage) != 0) return 1;
  const int read = PageRead(APageIndex, APage.fBuf.get());
  if (read != 0) {
    APage.fPageIndex = -1;
    APage.fBufItemsCount = 0;
    APage.fModified = false;
    return read;
  }
  uint64_t first = 0;
  std::memcpy(&first, APage.fBuf.get(), sizeof first);
  DoDebug(fmt::format("[{}] PageSwitch1({}) {:X}", thread, APageIndex, first));
  APage.fPageIndex = APageIndex;
  APage.fAccessIndex = 0;
  APage.fUsingCount = 0;
  APage.fModified = false;  // the buffer now is the file's page
  const TrclDataHolderDimension& dim = Dimensions(ADim);
  const int perPage = dim.ItemsInPage();
  int count = 0;
  if (PageIndexNext(ADim, APageIndex, 1) >= 0) {
    count = perPage;
  } else if (PageIndexNext(ADim, APageIndex, -1) < 0) {
    count = dim.ItemsCount();
  } else {
    count = dim.ItemsCount() % perPage;
    if (count == 0 && dim.ItemsCount() > 0) count = perPage;
  }
  // Counts that disagree with the table (a table that could not be read) must not let an
  // append write past the page.
  APage.fBufItemsCount = std::clamp(count, 0, perPage);
  DoDebug(fmt::format("[{}] PageSwitch2({}) {:X}", thread, APageIndex, first));
  return 0;
}

TrclDataHolderPage* TrclFileDataHolder::PageForUsing(int ADim, int APageIndex) {
  TrclDataHolderDimension& dim = Dimensions(ADim);
  if (TrclDataHolderPage* held = dim.Page_FindByPageIndex(APageIndex)) return held;
  TrclDataHolderPage& slot = dim.Page_FindForUsing();
  return PageSwitch(ADim, APageIndex, slot) == 0 ? &slot : nullptr;
}

uint32_t TrclFileDataHolder::ItemsCount(int ADim) {
  return IsDimension(ADim) ? static_cast<uint32_t>(Dimensions(ADim).ItemsCount()) : 0;
}

uint32_t TrclFileDataHolder::ItemAdd(int ADim, const void* AData) {
  const std::lock_guard lock(FCs_Using);
  if (!IsDimension(ADim)) {
    DoError(kDataHolderErrorDimension, fmt::format("No dimension {} in the item store", ADim));
    return kInvalidItemIndex;
  }
  if (!FPageIndexes) {
    DoError(kIndexErrorOpen, fmt::format("Index file {} is not open", ShortFileName()));
    return kInvalidItemIndex;
  }
  TrclDataHolderDimension& dim = Dimensions(ADim);
  TrclDataHolderPage* slot = nullptr;
  if (dim.PageIndexForAdding() >= 0) {
    slot = PageForUsing(ADim, dim.PageIndexForAdding());
    if (slot == nullptr) {
      CloseUnlessHeld();
      return kInvalidItemIndex;
    }
  }
  if (slot == nullptr || slot->fBufItemsCount >= dim.ItemsInPage()) {
    if (slot == nullptr) slot = &dim.Page_FindForUsing();
    if (slot->fPageIndex >= 0 && slot->fModified && PageFlush(ADim, *slot) != 0) {
      CloseUnlessHeld();
      return kInvalidItemIndex;
    }
    // The slot now holds a clean page (or none): failing here loses nothing.
    const int position = PageIndexAlloc(ADim, *slot);
    if (position < 0) {
      ReportFull(ADim);
      CloseUnlessHeld();
      return kInvalidItemIndex;
    }
    FPageIndexes[static_cast<size_t>(position)] = static_cast<uint8_t>(ADim + 1);
    slot->fBufItemsCount = 0;
    std::memset(slot->fBuf.get(), 0, kDataHolderPageSize);
    dim.SetPageIndexForAdding(position);
  }
  const auto size = static_cast<size_t>(dim.ItemSize());
  uint8_t* target = slot->fBuf.get() + static_cast<size_t>(slot->fBufItemsCount) * size;
  if (AData != nullptr) {
    std::memcpy(target, AData, size);
  } else {
    std::memset(target, 0, size);
  }
  ++slot->fBufItemsCount;
  const auto index = static_cast<uint32_t>(dim.ItemsCount());
  dim.SetItemsCount(dim.ItemsCount() + 1);
  slot->fModified = true;
  dim.Page_IncAccessIndex(*slot);
  TrclDataHolderDimension::Page_IncUsingCount(*slot);
  CloseUnlessHeld();
  return index;
}

bool TrclFileDataHolder::ItemGet(int ADim, uint32_t AIndex, void* AData) {
  const std::lock_guard lock(FCs_Using);
  if (!IsDimension(ADim) || AIndex >= ItemsCount(ADim)) return false;
  TrclDataHolderDimension& dim = Dimensions(ADim);
  const int position = PageIndexOfItem(ADim, AIndex);
  TrclDataHolderPage* slot = position >= 0 ? PageForUsing(ADim, position) : nullptr;
  if (slot != nullptr) {
    const auto size = static_cast<size_t>(dim.ItemSize());
    std::memcpy(AData, slot->fBuf.get() + (AIndex % static_cast<uint32_t>(dim.ItemsInPage())) * size, size);
    dim.Page_IncAccessIndex(*slot);
    TrclDataHolderDimension::Page_IncUsingCount(*slot);
  }
  CloseUnlessHeld();
  return slot != nullptr;
}

bool TrclFileDataHolder::ItemSet(int ADim, uint32_t AIndex, const void* AData) {
  if (ReadOnly()) return false;
  const std::lock_guard lock(FCs_Using);
  if (!IsDimension(ADim)) return false;
  DoDebug(fmt::format("[{}] index.itemset dim={} index={} file={}", platform::CurrentThreadId(), ADim, AIndex, ShortFileName()));
  if (AIndex >= ItemsCount(ADim)) return false;
  TrclDataHolderDimension& dim = Dimensions(ADim);
  const int position = PageIndexOfItem(ADim, AIndex);
  TrclDataHolderPage* slot = position >= 0 ? PageForUsing(ADim, position) : nullptr;
  if (slot != nullptr) {
    const auto size = static_cast<size_t>(dim.ItemSize());
    uint8_t* target = slot->fBuf.get() + (AIndex % static_cast<uint32_t>(dim.ItemsInPage())) * size;
    if (std::memcmp(target, AData, size) != 0) {
      std::memcpy(target, AData, size);
      slot->fModified = true;
    }
    dim.Page_IncAccessIndex(*slot);
    TrclDataHolderDimension::Page_IncUsingCount(*slot);
  }
  CloseUnlessHeld();
  return slot != nullptr;
}

void TrclFileDataHolder::ItemsClear(int ADim) {
  if (!IsDimension(ADim) || ItemsCount(ADim) == 0 || ReadOnly() || !FPageIndexes) return;
  const std::lock_guard lock(FCs_Using);
  const auto owner = static_cast<uint8_t>(ADim + 1);
  std::replace(FPageIndexes.get(), FPageIndexes.get() + kIndexPageTableEntries, owner, uint8_t{0});
  FIndexesModified = true;
  FHeaderModified = true;
  Dimensions(ADim).Clear();
  CloseUnlessHeld();
}

bool TrclFileDataHolder::ItemMove(int ADim, uint32_t ASourceIndex, uint32_t ADestIndex) {
  if (ReadOnly() || !IsDimension(ADim)) return false;
  const uint32_t count = ItemsCount(ADim);
  if (ASourceIndex >= count || ADestIndex >= count) return false;
  const int sourcePage = PageIndexOfItem(ADim, ASourceIndex);
  const int destPage = PageIndexOfItem(ADim, ADestIndex);
  if (sourcePage < 0 || destPage < 0) return false;
  if (ASourceIndex == ADestIndex) return true;

  TrclDataHolderDimension& dim = Dimensions(ADim);
  const auto size = static_cast<size_t>(dim.ItemSize());
  const auto perPage = static_cast<uint32_t>(dim.ItemsInPage());
  // carry: the item that enters the page being visited; out: the one it pushes out, which
  // enters the next page. The walk runs from the destination page toward the source page.
  std::array<uint8_t, kDataHolderPageSize> carry;
  std::array<uint8_t, kDataHolderPageSize> out;
  TrclDataHolderPage* slot = PageForUsing(ADim, sourcePage);
  if (slot == nullptr) return false;
  std::memcpy(carry.data(), slot->fBuf.get() + (ASourceIndex % perPage) * size, size);
  const bool forward = ASourceIndex < ADestIndex;
  for (int page = destPage;;) {
    slot = PageForUsing(ADim, page);
    if (slot == nullptr) return false;
    uint8_t* items = slot->fBuf.get();
    if (forward) {
      // Items shift down: the first one leaves toward the previous page.
      const uint32_t lo = page == sourcePage ? ASourceIndex % perPage : 0;
      const uint32_t hi = page == destPage ? ADestIndex % perPage : perPage - 1;
      std::memcpy(out.data(), items + lo * size, size);
      std::memmove(items + lo * size, items + (lo + 1) * size, (hi - lo) * size);
      std::memcpy(items + hi * size, carry.data(), size);
    } else {
      // Items shift up: the last one leaves toward the next page.
      const uint32_t lo = page == destPage ? ADestIndex % perPage : 0;
      const uint32_t hi = page == sourcePage ? ASourceIndex % perPage : perPage - 1;
      std::memcpy(out.data(), items + hi * size, size);
      std::memmove(items + (lo + 1) * size, items + lo * size, (hi - lo) * size);
      std::memcpy(items + lo * size, carry.data(), size);
    }
    slot->fModified = true;
    dim.Page_IncAccessIndex(*slot);
    if (page == sourcePage) break;
    std::swap(carry, out);
    page = PageIndexNext(ADim, page, forward ? -1 : 1);
    if (page < 0) return false;
  }
  CloseUnlessHeld();
  return true;
}

bool TrclFileDataHolder::ChangesExist() {
  if (FHeaderModified || FIndexesModified) return true;
  for (int d = 0; d < DimensionsCount(); ++d) {
    for (const auto& page : Dimensions(d).Pages()) {
      if (page.fModified) return true;
    }
  }
  return false;
}

void TrclFileDataHolder::FlushChanges() {
  if (ReadOnly() || !FPageIndexes) return;
  bool pageWritten = false;
  try {
    for (int d = 0; d < DimensionsCount(); ++d) {
      for (auto& page : Dimensions(d).Pages()) {
        if (!page.fModified) continue;
        const int result = PageFlush(d, page);
        DoDebug(fmt::format("index.pageflush dim={} file={}", d, ShortFileName()));
        if (result != 0) return;
        pageWritten = true;
      }
    }
  } catch (const std::exception& e) {
    DoError(kIndexErrorSave, fmt::format("Save index file error in <{}>: {}", FFileName, e.what()));
    return;
  }
  if (pageWritten || FHeaderModified || FIndexesModified) {
    // The pages reach the disk before the header that describes them; header, table and
    // trailer go together, the trailer's checksum covering both.
    FileOpen(true);
    if (!FFile.IsOpen()) return;
    if (!FFile.Sync()) {
      FileError(kIndexErrorWrite, "Can not sync the data pages");
      return;
    }
    DoDebug(fmt::format("index.headerflush file={}", ShortFileName()));
    if (HeaderSave() != 0) return;
    DoDebug(fmt::format("index.indexflush file={}", ShortFileName()));
    if (PageIndexesSave() != 0) return;
    if (TrailerSave() != 0) return;
    FHeaderModified = false;
    FIndexesModified = false;
  }
  CloseUnlessHeld();
}

bool TrclFileDataHolder::DoOpen() {
  try {
    FileOpen(false);
    FPageIndexes = std::make_unique<uint8_t[]>(kDataHolderPageSize);  // zeroed
    FPageCrcs.assign(kIndexPageTableEntries, 0);
    FHeaderModified = false;
    FIndexesModified = false;
    if (FFile.IsOpen()) {
      std::string reason;
      if (HeaderLoad() != kHeaderOk) {
        FileClose();
      } else if (PageIndexesLoad() != 0) {
        FileClose();
      } else if (!LoadedStructureFits(reason) || !ChecksumsFit(reason)) {
        // A header and table that disagree would send items to pages of other items, and a
        // page or a count that changed since the last flush would give wrong items: treat the
        // file as foreign, its content is replaced at the next flush.
        DoDebug(fmt::format("index.foreign file={}: {}", ShortFileName(), reason));
        DimensionsClear();
        ResetHeaderAndTable();
        FileClose();
      } else {
        InitPagesForAdding();
      }
    } else {
      // No file: the table is empty, so dimensions kept from an earlier activation keep
      // their item sizes only.
      FHeader = TrclDataHolderHeader{};
      for (int d = 0; d < DimensionsCount(); ++d) Dimensions(d).Clear();
    }
    for (int d = 0; d < DimensionsCount(); ++d) DoDebug(fmt::format("OPEN DIM={}\r\n{}", d, StructInfo(d)));
    CloseUnlessHeld();
  } catch (const std::exception& e) {
    DoError(kIndexErrorOpen, fmt::format("Open index file error in <{}>: {}", FFileName, e.what()));
  }
  return true;
}

void TrclFileDataHolder::DoClose() {
  try {
    for (int d = 0; d < DimensionsCount(); ++d) DoDebug(fmt::format("SAVE DIM={}\r\n{}", d, StructInfo(d)));
    if (ChangesExist()) FlushChanges();
  } catch (const std::exception& e) {
    FPageIndexes.reset();
    FPageCrcs.clear();
    FileClose();
    DoError(kIndexErrorSave, fmt::format("Close index file error in <{}>: {}", FFileName, e.what()));
    return;
  }
  FPageIndexes.reset();
  FPageCrcs.clear();
  FileClose();
}

void TrclFileDataHolder::Clear() {
  TrclDataHolder::Clear();
  DoDebug(fmt::format("index.clear file={}", ShortFileName()));
  ResetHeaderAndTable();
  FileClose();
}

uint32_t TrclFileDataHolder::GetReserved(int AIndex) {
  return AIndex >= 0 && AIndex < kDataHolderMaxDimensions ? FHeader.reserved[static_cast<size_t>(AIndex)] : 0;
}

void TrclFileDataHolder::DoSetReserved(int AIndex, uint32_t AValue) {
  if (AIndex < 0 || AIndex >= kDataHolderMaxDimensions) return;
  uint32_t& value = FHeader.reserved[static_cast<size_t>(AIndex)];
  if (value == AValue) return;
  value = AValue;
  FHeaderModified = true;
}

std::string TrclFileDataHolder::StructInfo(int ADim) {
  if (!IsDimension(ADim)) return {};
  const TrclDataHolderDimension& dim = Dimensions(ADim);
  std::string text = fmt::format("dim={} itemsInPage={} itemSize={} itemsCount={} pAddIndex={}\r\n", ADim, dim.ItemsInPage(),
                                 dim.ItemSize(), dim.ItemsCount(), dim.PageIndexForAdding());
  const char* names[2] = {"buf", "buf1"};
  for (size_t i = 0; i < dim.Pages().size(); ++i) {
    const TrclDataHolderPage& page = dim.Pages()[i];
    text += fmt::format("{}={:X} count={} pIndex={} ai={} uc={} modified={}\r\n", names[i], Address(page.fBuf.get()),
                        page.fBufItemsCount, page.fPageIndex, page.fAccessIndex, page.fUsingCount, page.fModified ? 1 : 0);
  }
  return text;
}

}  // namespace velloran
