#include "rclDataFile.h"

#include <fmt/format.h>

#include <cstdlib>
#include <cstring>
#include <new>

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

}  // namespace velloran
