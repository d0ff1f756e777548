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
// the last system error; 0x3 and 0x5 share bit 0x10000000 but DoError appends nothing: the
// file store writes the cause into their texts itself.
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
// Page 0 holds the header and then one table entry per data page: the two fill it exactly.
inline constexpr int kIndexPageTableEntries = kDataHolderPageSize - static_cast<int>(kIndexHeaderSize);  // 16,242
// 7: the checksum trailer (see TrclFileDataHolder). Files of any other version are foreign.
inline constexpr uint8_t kIndexStructVersion = 7;

void EncodeIndexHeader(const TrclDataHolderHeader& AHeader, uint8_t* AOut);
TrclDataHolderHeader DecodeIndexHeader(const uint8_t* AIn);

// The number of table positions up to the last one in use: the data pages a file must hold
// before its trailer (0 when no entry is used).
int IndexUsedPositions(const uint8_t* ATable);
inline constexpr size_t IndexTrailerSize(int APositions) { return 16 + 4 * static_cast<size_t>(APositions); }
// The trailer for page 0 as it is on disk (APageZero: the header and the table, 16,384 bytes)
// and the CRC of each data page by table position; free positions are written as 0 whatever
// APageCrcs holds for them.
std::vector<uint8_t> EncodeIndexTrailer(const uint8_t* APageZero, const uint32_t* APageCrcs);

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

 public:  // page cache state of the paged file store
  int PageIndexForAdding() const { return FPageIndexForAdding; }
  void SetPageIndexForAdding(int AValue) { FPageIndexForAdding = AValue; }
  // The two page slots.
  std::array<TrclDataHolderPage, 2>& Pages() { return FPages; }
  const std::array<TrclDataHolderPage, 2>& Pages() const { return FPages; }
  void SetItemsCount(int AValue) { FItemsCount = AValue; }

 private:
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

 public:  // items: the operations every store implements
  // Empties the store: every dimension goes.
  virtual void Clear();
  // Writes what changed to the medium (nothing to do for a store in memory).
  virtual void FlushChanges() = 0;
  virtual bool ChangesExist() = 0;
  virtual uint32_t ItemsCount(int ADim) = 0;
  virtual void ItemsClear(int ADim) = 0;
  virtual bool ItemGet(int ADim, uint32_t AIndex, void* AData) = 0;
  virtual bool ItemSet(int ADim, uint32_t AIndex, const void* AData) = 0;
  // Appends a copy of AData (zero bytes when null); returns its index, or kInvalidItemIndex
  // when the store reported an error through DoError.
  virtual uint32_t ItemAdd(int ADim, const void* AData) = 0;
  virtual bool ItemMove(int ADim, uint32_t ASourceIndex, uint32_t ADestIndex) = 0;
  // A description of a dimension's internal state, for traces.
  virtual std::string StructInfo(int ADim) = 0;

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
  // Memory is the medium itself: nothing is ever waiting to be written.
  void FlushChanges() override {}
  bool ChangesExist() override { return false; }
  uint32_t ItemsCount(int ADim) override;
  void ItemsClear(int ADim) override;
  bool ItemGet(int ADim, uint32_t AIndex, void* AData) override;
  bool ItemSet(int ADim, uint32_t AIndex, const void* AData) override;
  uint32_t ItemAdd(int ADim, const void* AData) override;
  bool ItemMove(int ADim, uint32_t ASourceIndex, uint32_t ADestIndex) override;
  std::string StructInfo(int ADim) override;

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
// (n div itemsInPage)-th table entry of value d + 1; the data page of table position p starts
// at byte (p + 1) * 16,384. Each dimension caches two pages and writes a changed one back when
// its slot is needed or the store is flushed.
//
// The trailer (version 7) follows the data page of the last table position in use: with n
// positions up to it, at byte (n + 1) * 16,384, right after page 0 when no entry is used. It
// holds 4n + 16 bytes, little-endian: "xqzc", n, the CRC-32 of the data page of each position
// 0 .. n - 1 (0 for a free one), the CRC-32 of page 0 (header and table), and the CRC-32 of
// the trailer's bytes before it. Bytes after the trailer (pages freed since) mean nothing.
// A flush writes the changed pages, syncs them to disk, and only then writes page 0 and the
// trailer: a header that passes its checksum describes pages that were on disk before it.
//
// An index file is input: a header that does not describe pages of whole items, or whose
// counts disagree with the table, a file that ends before the trailer, or a checksum that
// does not match makes the file foreign, and the store opens empty (no error: the caller
// rebuilds the index). Opening reads every page in use once, in reads of up to 1 MiB.
//
// Every failure of the file reaches OnError (DoError), its text naming the file and the cause.
//
// Threading: ItemAdd, ItemGet, ItemSet and ItemsClear may run on several threads; they hold
// FCs_Using, then FCs_Write (page writes) or FCs_Indexes (table entries). ItemMove,
// FlushChanges, InvalidateOnDisk, Clear, TryLock and (de)activation take no lock: call them
// while no item operation runs.
class TrclFileDataHolder : public TrclDataHolder {
 public:
  TrclFileDataHolder();
  ~TrclFileDataHolder() override;

  const std::string& FileName() const { return FFileName; }
  // Another name gives up the lock of the old file (see TryLock).
  void SetFileName(const std::string& AValue);
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

  // Takes the index file for this store alone: opens it (creating it empty when missing, unless
  // fdhReadOnlyWork) and locks it, advisory and exclusive, until Unlock, another file name or
  // the store's destruction, whatever the options do to the file between operations. False
  // when another store holds it, in this process or another (a debug text only), or when the
  // file cannot be opened or locked (reported through DoError). Stores that never ask are
  // not stopped: every writer of a file must take its lock.
  bool TryLock();
  void Unlock();
  bool Locked() const { return FLockFile.IsOpen(); }
  // Before pages that a valid header on disk describes are rewritten: writes a header no
  // store opens (struct version 0, no dimensions) and syncs it, so that a process that dies
  // before its next flush leaves a foreign file, not an old header over new pages. The next
  // flush writes a valid header again. True when the file on disk can no longer pass for an
  // index (also when there is none); false after a failure reported through DoError, or for
  // a read-only store, which leaves the file alone.
  bool InvalidateOnDisk();

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
  int TrailerSave();
  // Page 0 as the current header and table make it.
  std::vector<uint8_t> PageZeroBytes() const;
  // Whether the loaded header and table describe pages this store can use; the reason
  // when not.
  bool LoadedStructureFits(std::string& AReason) const;
  // Whether the file holds every page the table names and a trailer whose checksums match
  // them and page 0; the reason when not. Keeps the pages' CRCs for the next trailer.
  bool ChecksumsFit(std::string& AReason);
  // Reports a failed file operation: AWhat, the file, and the last system error (DoError
  // appends the latter itself for the system class).
  uint32_t FileError(uint32_t ACode, std::string_view AWhat);
  // Reports a read or write that moved fewer bytes than asked, with no system error.
  uint32_t ShortTransferError(uint32_t ACode, std::string_view AWhat, int64_t ADone, int64_t AWanted);
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
  // A descriptor of its own: FFile may close between operations, the lock must not go.
  platform::TReadWriteFile FLockFile;
  std::string FFileName;
  TrclFileDataHolderOptions FOptions{fdhHoldFileHandle};
  std::unique_ptr<uint8_t[]> FPageIndexes;  // kDataHolderPageSize entries while active
  // The CRC-32 of each data page as last read at opening or handed to a write (also a write
  // that failed: the file then fails its check), by table position; while active.
  std::vector<uint32_t> FPageCrcs;
  TrclDataHolderHeader FHeader;
  bool FHeaderModified = false;
  bool FIndexesModified = false;
  platform::TReentrantLock FCs_Indexes;
  platform::TReentrantLock FCs_Write;
  platform::TReentrantLock FCs_Using;
};

}  // namespace velloran
