// Item stores: up to eight independent arrays ("dimensions") of fixed-size items, addressed
// by dimension number and a 32-bit index, copied in and out by value. The log monitor keeps
// its line index in dimension 0 of such a store. Also the small file and folder helpers that
// the stores' users share.
//
// Threading: the base class and the memory store take no locks; one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "PlatformFile.h"
#include "PlatformSystem.h"

namespace velloran {

class TrclDataHolder;

// Raised by a store whose OnError is not assigned.
class ErclDataHolderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TrclDataHolderErrorEvent = std::function<void(TrclDataHolder* Sender, uint32_t AErrorCode, const std::string& AErrorText)>;
using TrclDataHolderDebugEvent = std::function<void(TrclDataHolder* Sender, const std::string& AText)>;

inline constexpr int kDataHolderMaxDimensions = 8;
inline constexpr int kDataHolderPageSize = 16384;
// The high four bits of an error code classify the failure. Class 0x1 (and 0x9, which is 0x1
// with the "while opening" bit 0x80000000) means a system call failed, and DoError appends
// the last system error; 0x3 and 0x5 share bit 0x10000000 but carry no system error.
inline constexpr uint32_t kDataHolderErrorSystem = 0x10000000;
inline constexpr uint32_t kDataHolderErrorClassMask = 0x70000000;
// A memory dimension cannot grow: its byte size would pass the 32-bit limit.
inline constexpr uint32_t kDataHolderErrorFull = 0x60000000;
// No such dimension, a ninth one, or an item size outside 1..16,384 bytes.
inline constexpr uint32_t kDataHolderErrorDimension = 0x70000000;
// ItemAdd's result when nothing was added (no index can reach it: counts stay below it).
inline constexpr uint32_t kInvalidItemIndex = 0xFFFFFFFF;

// One slot of a dimension's two-page cache (used by the paged file store).
struct TrclDataHolderPage {
  std::unique_ptr<uint8_t[]> fBuf;  // kDataHolderPageSize bytes
  int fBufItemsCount = 0;
  int fPageIndex = -1;  // page-table position of the page in the slot; -1 = empty
  bool fModified = false;
  uint32_t fAccessIndex = 0;
  uint32_t fUsingCount = 0;
};

// The index file's header, field by field (the file holds it little-endian, without
// padding: see EncodeIndexHeader).
struct TrclDataHolderHeaderDimension {
  int32_t itemSize = 0;
  int32_t itemsInPage = 0;
  int32_t itemsCount = 0;
};

struct TrclDataHolderHeader {
  std::array<char, 4> prefix{};
  uint8_t structVersion = 0;
  int32_t pageSize = 0;
  int32_t indexesZeroPageOffset = 0;
  uint8_t dimCount = 0;
  std::array<TrclDataHolderHeaderDimension, kDataHolderMaxDimensions> dims{};
  std::array<uint32_t, kDataHolderMaxDimensions> reserved{};
};

inline constexpr size_t kIndexHeaderSize = 142;
// Page 0 holds the header and then one table entry per data page.
inline constexpr int kIndexPageTableEntries = kDataHolderPageSize - static_cast<int>(kIndexHeaderSize);  // 16,242
inline constexpr uint8_t kIndexStructVersion = 6;

void EncodeIndexHeader(const TrclDataHolderHeader& AHeader, uint8_t* AOut);
TrclDataHolderHeader DecodeIndexHeader(const uint8_t* AIn);

class TrclDataHolderDimension {
 public:
  explicit TrclDataHolderDimension(TrclDataHolder* AOwner);
  TrclDataHolderDimension(const TrclDataHolderDimension&) = delete;
  TrclDataHolderDimension& operator=(const TrclDataHolderDimension&) = delete;

  // Copies item size, item count and items-per-page.
  void Assign(const TrclDataHolderDimension& ASource);
  // Empties both page slots and forgets the page being filled and the item count.
  void Clear();

  TrclDataHolder* Owner() const { return FOwner; }
  int ItemsCount() const { return FItemsCount; }
  int ItemSize() const { return FItemSize; }
  void SetItemSize(int AValue);
  int ItemsInPage() const { return FItemsInPage; }
  int DimensionIndex() const { return FDimensionIndex; }
  void SetDimensionIndex(int AValue) { FDimensionIndex = AValue; }

 public:  // page cache operations of the paged file store
  TrclDataHolderPage* Page_FindByPageIndex(int APageIndex);
  // An empty slot first, else the least recently used, else the least used, else slot 0.
  TrclDataHolderPage& Page_FindForUsing();
  void Page_IncAccessIndex(TrclDataHolderPage& APage);
  static void Page_IncUsingCount(TrclDataHolderPage& APage);
  // Takes the stored items-per-page as it is: the loader has checked it against the size.
  void LoadFromHeaderDim(const TrclDataHolderHeaderDimension& AHeaderDim);
  void SaveToHeaderDim(TrclDataHolderHeaderDimension& AHeaderDim) const;

 public:  // page cache state, kept here for the paged file store
  TrclDataHolder* FOwner;
  int FItemsInPage = 0;
  int FItemSize = 0;
  int FItemsCount = 0;  // kept by the paged store only; the memory store leaves it 0
  int FDimensionIndex = 0;
  int FPageIndexForAdding = -1;
  std::array<TrclDataHolderPage, 2> FPages;
  uint32_t FPagesAccessIndex = 0;
};

// The interface of every item store and the bookkeeping they share.
class TrclDataHolder {
 public:
  TrclDataHolder() = default;
  virtual ~TrclDataHolder();
  TrclDataHolder(const TrclDataHolder&) = delete;
  TrclDataHolder& operator=(const TrclDataHolder&) = delete;

 public:  // lifecycle
  bool Active() const { return FActive; }
  // True stores DoOpen's result; false runs DoClose. Only a change of value acts.
  void SetActive(bool AValue);

 public:  // dimensions
  // Appends a dimension of items of ADataSize bytes; returns its number. Both stores hold
  // at most eight dimensions of 1..16,384-byte items: anything else is reported through
  // DoError (kDataHolderErrorDimension) and gives -1.
  int DimensionAdd(int ADataSize);
  void DimensionsClear();
  int DimensionsCount() const { return static_cast<int>(FDimensions.size()); }
  TrclDataHolderDimension& Dimensions(int AIndex) const { return *FDimensions.at(static_cast<size_t>(AIndex)); }
  void SetDimensions(int AIndex, const TrclDataHolderDimension& AValue) { Dimensions(AIndex).Assign(AValue); }

 public:  // reserved header values 0..7
  uint32_t Reserved(int AIndex) { return GetReserved(AIndex); }
  void SetReserved(int AIndex, uint32_t AValue) { DoSetReserved(AIndex, AValue); }

 public:  // items: the operations every store overrides
  virtual void Clear();
  virtual void FlushChanges() {}
  virtual bool ChangesExist() { return false; }
  virtual uint32_t ItemsCount(int /*ADim*/) { return 0; }
  virtual void ItemsClear(int /*ADim*/) {}
  virtual bool ItemGet(int /*ADim*/, uint32_t /*AIndex*/, void* /*AData*/) { return false; }
  virtual bool ItemSet(int /*ADim*/, uint32_t /*AIndex*/, const void* /*AData*/) { return false; }
  // Appends a copy of AData (zero bytes when null); returns its index, or kInvalidItemIndex
  // when the store reported an error through DoError.
  virtual uint32_t ItemAdd(int /*ADim*/, const void* /*AData*/) { return 0; }
  virtual bool ItemMove(int /*ADim*/, uint32_t /*ASourceIndex*/, uint32_t /*ADestIndex*/) { return false; }
  // A description of a dimension's internal state, for traces.
  virtual std::string StructInfo(int /*ADim*/) { return {}; }

 public:  // callbacks
  void SetOnError(TrclDataHolderErrorEvent AValue) { FOnError = std::move(AValue); }
  void SetOnDebug(TrclDataHolderDebugEvent AValue) { FOnDebug = std::move(AValue); }

  // Reports an error: builds the message (with the last system error for the system class,
  // see kDataHolderErrorClassMask), hands it to OnError and returns the code, or throws ErclDataHolderError
  // "(code) message" when OnError is unset.
  uint32_t DoError(uint32_t AErrorCode, std::string_view AText);
  void DoDebug(const std::string& AText);

 protected:
  virtual bool DoOpen() { return true; }
  virtual void DoClose() {}
  virtual uint32_t GetReserved(int /*AIndex*/) { return 0; }
  virtual void DoSetReserved(int /*AIndex*/, uint32_t /*AValue*/) {}

  bool IsDimension(int ADim) const { return ADim >= 0 && ADim < DimensionsCount(); }

 private:
  bool FActive = false;
  std::vector<std::unique_ptr<TrclDataHolderDimension>> FDimensions;
  TrclDataHolderErrorEvent FOnError;
  TrclDataHolderDebugEvent FOnDebug;
};

// Every dimension is one contiguous block of memory that grows by 1,024 items at a time.
class TrclMemoryDataHolder : public TrclDataHolder {
 public:
  // A dimension's byte size is a 32-bit quantity: it never passes AMaxDimensionBytes
  // (lower it only to test what happens at the limit).
  explicit TrclMemoryDataHolder(uint32_t AMaxDimensionBytes = 0xFFFFFFFFu);
  ~TrclMemoryDataHolder() override;

  void Clear() override;
  uint32_t ItemsCount(int ADim) override;
  void ItemsClear(int ADim) override;
  bool ItemGet(int ADim, uint32_t AIndex, void* AData) override;
  bool ItemSet(int ADim, uint32_t AIndex, const void* AData) override;
  uint32_t ItemAdd(int ADim, const void* AData) override;
  bool ItemMove(int ADim, uint32_t ASourceIndex, uint32_t ADestIndex) override;

  uint32_t Capacity(int ADim) const { return FItemsCapacity.at(static_cast<size_t>(ADim)); }

 private:
  static constexpr uint32_t kGrowthItems = 1024;

  void SetCapacity(int ADim, uint32_t ANewCapacity);
  uint8_t* ItemPtr(int ADim, uint32_t AIndex) const;
  size_t ItemBytes(int ADim) const { return static_cast<size_t>(Dimensions(ADim).ItemSize()); }

  uint32_t FMaxDimensionBytes;
  std::array<uint8_t*, kDataHolderMaxDimensions> FItemsData{};
  std::array<uint32_t, kDataHolderMaxDimensions> FItemsCapacity{};
  std::array<uint32_t, kDataHolderMaxDimensions> FItemsCount{};
};

enum TrclFileDataHolderOption { fdhHoldFileHandle, fdhDeferredFileCreation, fdhReadOnlyWork };

// A small set of TrclFileDataHolderOption.
class TrclFileDataHolderOptions {
 public:
  TrclFileDataHolderOptions() = default;
  TrclFileDataHolderOptions(std::initializer_list<TrclFileDataHolderOption> AOptions) {
    for (auto option : AOptions) FBits |= Bit(option);
  }
  bool Contains(TrclFileDataHolderOption AOption) const { return (FBits & Bit(AOption)) != 0; }
  TrclFileDataHolderOptions& Include(TrclFileDataHolderOption AOption) {
    FBits |= Bit(AOption);
    return *this;
  }
  TrclFileDataHolderOptions& Exclude(TrclFileDataHolderOption AOption) {
    FBits &= ~Bit(AOption);
    return *this;
  }
  bool operator==(const TrclFileDataHolderOptions&) const = default;

 private:
  static unsigned Bit(TrclFileDataHolderOption AOption) { return 1u << static_cast<unsigned>(AOption); }
  unsigned FBits = 0;
};

// The item store kept in an index file of 16,384-byte pages. Page 0 holds the 142-byte header
// (dimensions, item counts, the eight reserved values) and the page table, one byte per data
// page: 0 free, d + 1 owned by dimension d. Item n of dimension d lies in the page of the
// (n div itemsInPage)-th table entry of value d + 1. Each dimension caches two pages and
// writes a changed one back when its slot is needed or the store is flushed.
//
// An index file is input: a header that does not describe pages of whole items, or whose
// counts disagree with the table, is treated as a foreign file, and the store opens empty.
//
// Threading: ItemAdd, ItemGet, ItemSet and ItemsClear may run on several threads; they hold
// FCs_Using, then FCs_Write (page writes) or FCs_Indexes (table entries). ItemMove,
// FlushChanges, Clear and (de)activation take no lock: call them while no item operation runs.
class TrclFileDataHolder : public TrclDataHolder {
 public:
  TrclFileDataHolder();
  ~TrclFileDataHolder() override;

  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& AValue) { FFileName = AValue; }
  TrclFileDataHolderOptions Options() const { return FOptions; }
  // Dropping fdhHoldFileHandle closes the file at once.
  void SetOptions(TrclFileDataHolderOptions AValue);

  void Clear() override;
  void FlushChanges() override;
  bool ChangesExist() override;
  uint32_t ItemsCount(int ADim) override;
  void ItemsClear(int ADim) override;
  bool ItemGet(int ADim, uint32_t AIndex, void* AData) override;
  bool ItemSet(int ADim, uint32_t AIndex, const void* AData) override;
  // Reports kDataHolderErrorFull and adds nothing when no page-table entry after the
  // dimension's last page is free.
  uint32_t ItemAdd(int ADim, const void* AData) override;
  bool ItemMove(int ADim, uint32_t ASourceIndex, uint32_t ADestIndex) override;
  std::string StructInfo(int ADim) override;

  bool FileIsOpen() const { return FFile.IsOpen(); }
  // The page-table entry of a data page (0 free, d + 1 owned by dimension d); 0 when inactive.
  uint8_t PageTableEntry(int APageIndex) const;

 protected:
  bool DoOpen() override;
  void DoClose() override;
  uint32_t GetReserved(int AIndex) override;
  void DoSetReserved(int AIndex, uint32_t AValue) override;

 private:
  bool ReadOnly() const { return FOptions.Contains(fdhReadOnlyWork); }
  std::string ShortFileName() const;
  void FileOpen(bool ACanCreate);
  void FileClose();
  void CloseUnlessHeld();
  int HeaderLoad();
  int HeaderSave();
  int PageIndexesLoad();
  int PageIndexesSave();
  // Whether the loaded header and table describe pages this store can use; the reason
  // when not.
  bool LoadedStructureFits(std::string& AReason) const;
  void InitPagesForAdding();
  int PageRead(int APageIndex, uint8_t* ABuffer);
  int PageWrite(int ADim, int APageIndex, const uint8_t* ABuffer);
  // A free table entry after the last page of ADim, given to APage; -1 when none is left.
  int PageIndexAlloc(int ADim, TrclDataHolderPage& APage);
  uint32_t ReportFull(int ADim);
  int PageFlush(int ADim, TrclDataHolderPage& APage);
  int PageIndexOfItem(int ADim, uint32_t AIndex) const;
  int PageIndexNext(int ADim, int APosition, int AStep) const;
  int PageSwitch(int ADim, int APageIndex, TrclDataHolderPage& APage);
  // The slot that holds page APageIndex of ADim, brought in when needed; null on failure.
  TrclDataHolderPage* PageForUsing(int ADim, int APageIndex);
  void ResetHeaderAndTable();

  platform::TReadWriteFile FFile;
  std::string FFileName;
  TrclFileDataHolderOptions FOptions{fdhHoldFileHandle};
  std::unique_ptr<uint8_t[]> FPageIndexes;  // kDataHolderPageSize entries while active
  TrclDataHolderHeader FHeader;
  bool FHeaderModified = false;
  bool FIndexesModified = false;
  platform::TReentrantLock FCs_Indexes;
  platform::TReentrantLock FCs_Write;
  platform::TReentrantLock FCs_Using;
};

// File and folder helpers.

// CRC-32 of IEEE 802.3 (reflected 0xEDB88320, initial 0xFFFFFFFF, final complement); 0 for
// no bytes.
uint32_t CalcCRC32(const void* ABytes, size_t ALength);
// The size a directory lookup reports for APath; 0 when nothing is found.
int64_t FileSizeOf(const std::string& APath);
// The CSIDL number of a folder token ("userappdata", "{app}", ...), case-insensitive; -1 when
// the token names no folder.
int FolderTokenToCSIDL(std::string_view AToken);
// The folder a token names: "app" with a trailing separator, the others without; empty text
// for an unknown token or a folder that cannot be named.
std::string FolderFromToken(std::string_view AToken);
// APath without leading and trailing blanks and control characters, with one trailing
// separator when not empty.
std::string PathWithDelimiter(std::string_view APath);
// Whether a file can be created in AFolder (false when the folder does not exist). Leaves no
// file behind.
bool FolderIsWritable(const std::string& AFolder);

}  // namespace velloran
