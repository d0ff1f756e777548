// One interface suite runs against every item store; store-specific behaviour follows it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FileHelpers.h"
#include "ItemStore.h"
#include "PlatformFile.h"
#include "PlatformSystem.h"
#include "TestFiles.h"

namespace velloran {
namespace {

// One folder for the index files of the interface suite's paged stores; each store has a
// file of its own, missing until the store first writes.
std::string NewIndexFileName() {
  static const test::TTempDir folder;
  static int serial = 0;
  return folder.File("interface-" + std::to_string(++serial) + ".idx");
}

std::unique_ptr<TrclDataHolder> NewFileStore() {
  auto store = std::make_unique<TrclFileDataHolder>();
  store->SetFileName(NewIndexFileName());
  return store;
}

struct TStoreFactory {
  std::string Name;
  std::function<std::unique_ptr<TrclDataHolder>()> Create;
};

void PrintTo(const TStoreFactory& AFactory, std::ostream* AOut) { *AOut << AFactory.Name; }

class ItemStoreInterfaceTest : public ::testing::TestWithParam<TStoreFactory> {
 protected:
  void SetUp() override {
    FStore = GetParam().Create();
    FStore->SetActive(true);
  }

  // Appends one 8-byte item per letter, the letter's code as its value.
  int Letters(const std::string& ALetters) {
    const int dim = FStore->DimensionAdd(8);
    for (char letter : ALetters) {
      const uint64_t value = static_cast<uint64_t>(letter);
      FStore->ItemAdd(dim, &value);
    }
    return dim;
  }
  std::string LettersOf(int ADim) {
    std::string result;
    uint64_t value = 0;
    for (uint32_t i = 0; FStore->ItemGet(ADim, i, &value); ++i) result.push_back(static_cast<char>(value));
    return result;
  }

  std::unique_ptr<TrclDataHolder> FStore;
};

TEST_P(ItemStoreInterfaceTest, NewStoreIsActiveWithoutDimensionsAndNumbersThemInOrder) {
  EXPECT_TRUE(FStore->Active());
  EXPECT_EQ(FStore->DimensionsCount(), 0);
  EXPECT_EQ(FStore->DimensionAdd(8), 0);
  EXPECT_EQ(FStore->DimensionAdd(16), 1);
  EXPECT_EQ(FStore->Dimensions(1).ItemSize(), 16);
  EXPECT_EQ(FStore->Dimensions(1).DimensionIndex(), 1);
  EXPECT_EQ(FStore->Dimensions(0).ItemsInPage(), 2048);
}

TEST_P(ItemStoreInterfaceTest, AddGetSetRoundTripAndNullAppendsZeros) {
  const int dim = FStore->DimensionAdd(12);
  const char item[12] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l'};
  EXPECT_EQ(FStore->ItemAdd(dim, item), 0u);
  EXPECT_EQ(FStore->ItemAdd(dim, nullptr), 1u);
  EXPECT_EQ(FStore->ItemsCount(dim), 2u);

  char read[12];
  ASSERT_TRUE(FStore->ItemGet(dim, 0, read));
  EXPECT_EQ(std::memcmp(read, item, sizeof item), 0);
  ASSERT_TRUE(FStore->ItemGet(dim, 1, read));
  EXPECT_EQ(std::string(read, 12), std::string(12, '\0'));

  ASSERT_TRUE(FStore->ItemSet(dim, 1, item));
  ASSERT_TRUE(FStore->ItemGet(dim, 1, read));
  EXPECT_EQ(std::memcmp(read, item, sizeof item), 0);
}

TEST_P(ItemStoreInterfaceTest, OutOfRangeAccessFailsAndLeavesTheBufferAlone) {
  const int dim = Letters("AB");
  uint64_t buffer = 0x1122334455667788u;
  EXPECT_FALSE(FStore->ItemGet(dim, 2, &buffer));
  EXPECT_FALSE(FStore->ItemGet(dim, 0xFFFFFFFFu, &buffer));
  EXPECT_EQ(buffer, 0x1122334455667788u);
  EXPECT_FALSE(FStore->ItemSet(dim, 2, &buffer));
  EXPECT_EQ(LettersOf(dim), "AB");
}

TEST_P(ItemStoreInterfaceTest, MoveShiftsTheItemsBetween) {
  struct TCase {
    uint32_t Source, Dest;
    bool Result;
    const char* After;
  };
  const TCase cases[] = {
      {2, 5, true, "ABDEFCG"}, {5, 2, true, "ABFCDEG"},  {3, 3, true, "ABCDEFG"},  {0, 6, true, "BCDEFGA"},
      {6, 0, true, "GABCDEF"}, {7, 0, false, "ABCDEFG"}, {0, 7, false, "ABCDEFG"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Source << " -> " << c.Dest);
    FStore->Clear();
    const int dim = Letters("ABCDEFG");
    EXPECT_EQ(FStore->ItemMove(dim, c.Source, c.Dest), c.Result);
    EXPECT_EQ(LettersOf(dim), c.After);
  }
}

TEST_P(ItemStoreInterfaceTest, ItemsClearKeepsTheDimensionAndClearRemovesAll) {
  const int first = Letters("ABC");
  const int second = Letters("XY");
  FStore->ItemsClear(first);
  EXPECT_EQ(FStore->ItemsCount(first), 0u);
  EXPECT_EQ(LettersOf(second), "XY");
  EXPECT_EQ(FStore->DimensionsCount(), 2);

  FStore->Clear();
  EXPECT_EQ(FStore->DimensionsCount(), 0);
  const int again = FStore->DimensionAdd(8);
  EXPECT_EQ(again, 0);
  EXPECT_EQ(FStore->ItemsCount(again), 0u);
}

TEST_P(ItemStoreInterfaceTest, DimensionsSurviveDeactivation) {
  Letters("AB");
  FStore->SetActive(false);
  EXPECT_FALSE(FStore->Active());
  EXPECT_EQ(FStore->DimensionsCount(), 1);
}

TEST_P(ItemStoreInterfaceTest, ErrorsGoToOnErrorOrBecomeExceptions) {
  struct TCase {
    uint32_t Code;
    std::string Text;
    std::string Message;  // empty: starts with Text, ". ", then the system part
  };
  platform::SetLastSystemError(0x1A);  // must not show in any of these
  const TCase cases[] = {
      {0x50000000, "Can not save page", "Can not save page."},
      {0x30000000, "", ""},
      {0x40000000, "Save index file error: disk full", "Save index file error: disk full."},
  };
  for (const TCase& c : cases) {
    std::string got;
    uint32_t gotCode = 0;
    FStore->SetOnError([&](TrclDataHolder* Sender, uint32_t ACode, const std::string& AText) {
      EXPECT_EQ(Sender, FStore.get());
      gotCode = ACode;
      got = AText;
    });
    EXPECT_EQ(FStore->DoError(c.Code, c.Text), c.Code);
    EXPECT_EQ(gotCode, c.Code);
    EXPECT_EQ(got, c.Message);
  }

  // Bit 0x10000000 appends the last system error: "T. <code in hex>: <system text>".
  platform::SetLastSystemError(2);
  std::string got;
  FStore->SetOnError([&](TrclDataHolder*, uint32_t, const std::string& AText) { got = AText; });
  FStore->DoError(0x10000000, "Can not create index file <x>");
  EXPECT_EQ(got, "Can not create index file <x>. 2: " + platform::SystemErrorText(2));
  platform::SetLastSystemError(0x1A);
  FStore->DoError(0x90000000 | 0x10000000, "");
  EXPECT_EQ(got, "1A: " + platform::SystemErrorText(0x1A));

  FStore->SetOnError(nullptr);
  try {
    FStore->DoError(0xA0000000, "Can not save page");
    FAIL() << "no exception";
  } catch (const ErclDataHolderError& e) {
    EXPECT_STREQ(e.what(), "(A0000000) Can not save page.");
  }
}

TEST_P(ItemStoreInterfaceTest, RefusesDimensionsItCannotHold) {
  std::vector<uint32_t> codes;
  FStore->SetOnError([&](TrclDataHolder*, uint32_t ACode, const std::string&) { codes.push_back(ACode); });
  EXPECT_EQ(FStore->DimensionAdd(0), -1);
  EXPECT_EQ(FStore->DimensionAdd(16385), -1);
  EXPECT_EQ(FStore->DimensionAdd(16384), 0);
  for (int d = 1; d < 8; ++d) EXPECT_EQ(FStore->DimensionAdd(8), d);
  EXPECT_EQ(FStore->DimensionAdd(8), -1);  // a ninth
  EXPECT_EQ(FStore->DimensionsCount(), 8);
  EXPECT_EQ(FStore->ItemAdd(8, nullptr), kInvalidItemIndex);
  EXPECT_EQ(codes, std::vector<uint32_t>(4, kDataHolderErrorDimension));
  uint64_t item = 0;
  EXPECT_FALSE(FStore->ItemGet(8, 0, &item));
  EXPECT_EQ(FStore->ItemsCount(-1), 0u);
}

TEST_P(ItemStoreInterfaceTest, MovesAcrossPagesMatchAPlainVector) {
  // 16-byte items: 1,024 to a 16 KiB page, so 2,500 items span three pages of the paged store.
  struct TItem {
    uint64_t Value, Check;
    bool operator==(const TItem&) const = default;
  };
  const int dim = FStore->DimensionAdd(sizeof(TItem));
  std::vector<TItem> model;
  for (uint64_t i = 0; i < 2500; ++i) {
    model.push_back({i, ~i});
    ASSERT_EQ(FStore->ItemAdd(dim, &model.back()), i);
  }
  const std::pair<uint32_t, uint32_t> moves[] = {{10, 2400}, {2400, 10}, {1023, 1024}, {1024, 1023},
                                                 {0, 2499},  {2499, 0},  {2047, 2048}, {5, 7}};
  for (const auto& [source, dest] : moves) {
    SCOPED_TRACE(testing::Message() << source << " -> " << dest);
    ASSERT_TRUE(FStore->ItemMove(dim, source, dest));
    const TItem moved = model[source];
    model.erase(model.begin() + source);
    model.insert(model.begin() + dest, moved);
    for (uint32_t i = 0; i < model.size(); ++i) {
      TItem item{};
      ASSERT_TRUE(FStore->ItemGet(dim, i, &item));
      ASSERT_EQ(item, model[i]) << "item " << i;
    }
  }
  EXPECT_EQ(FStore->ItemsCount(dim), 2500u);
}

INSTANTIATE_TEST_SUITE_P(AllStores, ItemStoreInterfaceTest,
                         ::testing::Values(TStoreFactory{"Memory", [] { return std::make_unique<TrclMemoryDataHolder>(); }},
                                           TStoreFactory{"File", NewFileStore}),
                         [](const auto& AInfo) { return AInfo.param.Name; });

// --- the memory store --------------------------------------------------------------------

TEST(MemoryDataHolderTest, GrowsByExactly1024Items) {
  TrclMemoryDataHolder store;
  store.SetActive(true);
  const int dim = store.DimensionAdd(8);
  EXPECT_EQ(store.Capacity(dim), 0u);
  for (int i = 0; i < 1024; ++i) store.ItemAdd(dim, nullptr);
  EXPECT_EQ(store.Capacity(dim), 1024u);
  store.ItemAdd(dim, nullptr);
  EXPECT_EQ(store.Capacity(dim), 2048u);
  for (int i = 0; i < 2048; ++i) store.ItemAdd(dim, nullptr);
  EXPECT_EQ(store.Capacity(dim), 4096u);  // linear, not doubling
  store.ItemsClear(dim);
  EXPECT_EQ(store.Capacity(dim), 0u);
  EXPECT_EQ(store.ItemAdd(dim, nullptr), 0u);
}

TEST(MemoryDataHolderTest, KeepsNoHeaderAndNoChanges) {
  TrclMemoryDataHolder store;
  store.SetActive(true);
  store.SetReserved(3, 77);
  EXPECT_EQ(store.Reserved(3), 0u);
  store.DimensionAdd(8);
  store.ItemAdd(0, nullptr);
  EXPECT_FALSE(store.ChangesExist());
  EXPECT_EQ(store.StructInfo(0), "");
}

TEST(MemoryDataHolderTest, RefusesTheAppendThatWouldPassTheByteLimit) {
  // 10,000 bytes hold 1,250 items of 8 bytes: growth stops there instead of wrapping.
  TrclMemoryDataHolder store(10000);
  store.SetActive(true);
  const int dim = store.DimensionAdd(8);
  for (uint64_t i = 0; i < 1250; ++i) ASSERT_EQ(store.ItemAdd(dim, &i), i);
  EXPECT_EQ(store.Capacity(dim), 1250u);

  uint32_t code = 0;
  std::string text;
  store.SetOnError([&](TrclDataHolder*, uint32_t ACode, const std::string& AText) {
    code = ACode;
    text = AText;
  });
  const uint64_t extra = 99;
  EXPECT_EQ(store.ItemAdd(dim, &extra), kInvalidItemIndex);
  EXPECT_EQ(code, kDataHolderErrorFull);
  EXPECT_NE(text.find("10000 bytes"), std::string::npos) << text;
  EXPECT_EQ(store.ItemsCount(dim), 1250u);
  uint64_t last = 0;
  ASSERT_TRUE(store.ItemGet(dim, 1249, &last));
  EXPECT_EQ(last, 1249u);

  store.SetOnError(nullptr);
  EXPECT_THROW(store.ItemAdd(dim, &extra), ErclDataHolderError);
}

TEST(DataHolderDimensionTest, ClearEmptiesThePageSlots) {
  TrclMemoryDataHolder store;
  TrclDataHolderDimension dimension(&store);
  dimension.SetItemSize(24);
  EXPECT_EQ(dimension.ItemsInPage(), 682);
  dimension.Pages()[1].fPageIndex = 5;
  dimension.Pages()[1].fModified = true;
  dimension.Pages()[1].fBuf[7] = 9;
  dimension.SetPageIndexForAdding(3);
  dimension.SetItemsCount(40);
  dimension.Clear();
  EXPECT_EQ(dimension.Pages()[1].fPageIndex, -1);
  EXPECT_FALSE(dimension.Pages()[1].fModified);
  EXPECT_EQ(dimension.Pages()[1].fBuf[7], 0);
  EXPECT_EQ(dimension.PageIndexForAdding(), -1);
  EXPECT_EQ(dimension.ItemsCount(), 0);
  EXPECT_EQ(dimension.ItemSize(), 24);

  TrclDataHolderDimension copy(&store);
  dimension.SetItemsCount(7);
  copy.Assign(dimension);
  EXPECT_EQ(copy.ItemSize(), 24);
  EXPECT_EQ(copy.ItemsInPage(), 682);
  EXPECT_EQ(copy.ItemsCount(), 7);
}

TEST(DataHolderTest, DimensionsClearSendsItsTrace) {
  std::vector<std::string> traces;  // outlives the store, whose destruction traces too
  TrclMemoryDataHolder store;
  store.SetOnDebug([&](TrclDataHolder*, const std::string& AText) { traces.push_back(AText); });
  store.DimensionAdd(8);
  store.DimensionsClear();
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0], "[" + std::to_string(platform::CurrentThreadId()) + "] index.DimensionsClear");
}

// --- the paged file store ----------------------------------------------------------------

constexpr size_t kPage = kDataHolderPageSize;

// The trailer of an index file whose page 0 starts ABytes; the data pages the table names are
// the pages that follow it in ABytes, or zeros where ABytes ends.
std::string TrailerOf(const std::string& ABytes) {
  const auto* pageZero = reinterpret_cast<const uint8_t*>(ABytes.data());
  const int positions = IndexUsedPositions(pageZero + kIndexHeaderSize);
  const std::string zeros(kPage, '\0');
  std::vector<uint32_t> crcs(kIndexPageTableEntries);
  for (size_t p = 0; p < static_cast<size_t>(positions); ++p) {
    const size_t at = kPage * (p + 1);
    crcs[p] = at + kPage <= ABytes.size() ? CalcCRC32(ABytes.data() + at, kPage) : CalcCRC32(zeros.data(), kPage);
  }
  const std::vector<uint8_t> trailer = EncodeIndexTrailer(pageZero, crcs.data());
  return {trailer.begin(), trailer.end()};
}

// An index file as bytes: the header, the page table from ATable, zeros to the end of page 0,
// then ADataPages pages whose bytes are the low byte of their file offset plus one, and when
// these are at least the pages the table names, the trailer after the last of those.
std::string IndexFileBytes(const TrclDataHolderHeader& AHeader, const std::vector<uint8_t>& ATable, size_t ADataPages) {
  std::string bytes(kPage * (ADataPages + 1), '\0');
  EncodeIndexHeader(AHeader, reinterpret_cast<uint8_t*>(bytes.data()));
  std::copy(ATable.begin(), ATable.end(), bytes.begin() + static_cast<std::ptrdiff_t>(kIndexHeaderSize));
  for (size_t i = kPage; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i + 1);
  const auto positions =
      static_cast<size_t>(IndexUsedPositions(reinterpret_cast<const uint8_t*>(bytes.data()) + kIndexHeaderSize));
  if (positions <= ADataPages) {
    const std::string trailer = TrailerOf(bytes);
    bytes.resize(kPage * (positions + 1));
    bytes += trailer;
  }
  return bytes;
}

// Writes an index file of zero data pages at APath without writing them: page 0, then the
// trailer after a hole as long as the pages the table names.
void WriteSparseIndexFile(const std::string& APath, const TrclDataHolderHeader& AHeader, const std::vector<uint8_t>& ATable) {
  std::string pageZero(kPage, '\0');
  EncodeIndexHeader(AHeader, reinterpret_cast<uint8_t*>(pageZero.data()));
  std::copy(ATable.begin(), ATable.end(), pageZero.begin() + static_cast<std::ptrdiff_t>(kIndexHeaderSize));
  const auto positions =
      static_cast<size_t>(IndexUsedPositions(reinterpret_cast<const uint8_t*>(pageZero.data()) + kIndexHeaderSize));
  std::FILE* file = std::fopen(APath.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(pageZero.data(), 1, pageZero.size(), file);
  ASSERT_EQ(::fseeko(file, static_cast<off_t>(kPage * (positions + 1)), SEEK_SET), 0);
  const std::string trailer = TrailerOf(pageZero);
  std::fwrite(trailer.data(), 1, trailer.size(), file);
  ASSERT_EQ(std::fclose(file), 0);
}

TrclDataHolderHeader HeaderOf(std::initializer_list<TrclDataHolderHeaderDimension> ADims) {
  TrclDataHolderHeader header;
  std::memcpy(header.prefix.data(), "xqzh", 4);
  header.structVersion = 7;
  header.pageSize = 16384;
  header.indexesZeroPageOffset = 142;
  for (const auto& dim : ADims) header.dims[header.dimCount++] = dim;
  return header;
}

uint32_t LE32(const std::string& ABytes, size_t AOffset) {
  uint32_t value = 0;
  for (size_t i = 4; i-- > 0;) value = (value << 8) | static_cast<uint8_t>(ABytes[AOffset + i]);
  return value;
}

class FileDataHolderTest : public ::testing::Test {
 protected:
  void SetUp() override { FName = FDir.File("lines.idx"); }

  // A store on FName that records its errors; active unless told otherwise.
  std::unique_ptr<TrclFileDataHolder> Store(TrclFileDataHolderOptions AOptions = {fdhHoldFileHandle}, bool AActivate = true) {
    auto store = std::make_unique<TrclFileDataHolder>();
    store->SetFileName(FName);
    store->SetOptions(AOptions);
    store->SetOnError([this](TrclDataHolder*, uint32_t ACode, const std::string& AText) { FErrors.push_back({ACode, AText}); });
    if (AActivate) store->SetActive(true);
    return store;
  }
  std::string FileBytes() const { return platform::ReadWholeFile(FName); }
  int PagesOf(const std::string& ABytes, uint8_t AOwner) const {
    return static_cast<int>(std::count(ABytes.begin() + kIndexHeaderSize, ABytes.begin() + kPage, static_cast<char>(AOwner)));
  }
  static int PagesOf(const TrclFileDataHolder& AStore, uint8_t AOwner) {
    int pages = 0;
    for (int i = 0; i < kIndexPageTableEntries; ++i) pages += AStore.PageTableEntry(i) == AOwner ? 1 : 0;
    return pages;
  }

  struct TError {
    uint32_t Code;
    std::string Text;
  };
  test::TTempDir FDir;
  std::string FName;
  std::vector<TError> FErrors;
};

TEST_F(FileDataHolderTest, MissingFileIsCreatedByTheFirstWriteInTheFileFormat) {
  auto store = Store();
  EXPECT_TRUE(store->Active());
  EXPECT_EQ(store->DimensionsCount(), 0);
  EXPECT_FALSE(platform::FileExists(FName));

  const int dim = store->DimensionAdd(8);
  for (uint64_t i = 0; i < 3; ++i) {
    const uint64_t value = 0x1111111111111111u * (i + 1);
    store->ItemAdd(dim, &value);
  }
  store->SetReserved(2, 0xCAFEF00Du);
  EXPECT_FALSE(platform::FileExists(FName)) << "items stay in the page cache until a flush";
  ASSERT_TRUE(store->ChangesExist());
  store->FlushChanges();
  EXPECT_FALSE(store->ChangesExist());
  EXPECT_TRUE(FErrors.empty());

  const std::string bytes = FileBytes();
  ASSERT_EQ(bytes.size(), 2 * kPage + 20);  // page 0, one data page, the trailer
  EXPECT_EQ(bytes.substr(0, 5), std::string("xqzh\x07", 5));
  EXPECT_EQ(LE32(bytes, 5), 16384u);
  EXPECT_EQ(LE32(bytes, 9), 142u);
  EXPECT_EQ(bytes[13], 1);
  EXPECT_EQ(LE32(bytes, 14), 8u);                          // itemSize
  EXPECT_EQ(LE32(bytes, 18), 2048u);                       // itemsInPage
  EXPECT_EQ(LE32(bytes, 22), 3u);                          // itemsCount
  EXPECT_EQ(bytes.substr(26, 84), std::string(84, '\0'));  // the seven unused records
  EXPECT_EQ(LE32(bytes, 110 + 2 * 4), 0xCAFEF00Du);
  EXPECT_EQ(bytes[142], 1);
  EXPECT_EQ(bytes.substr(143, kPage - 143), std::string(kPage - 143, '\0'));
  EXPECT_EQ(bytes.substr(kPage, 8), std::string(8, '\x11'));
  EXPECT_EQ(bytes.substr(kPage + 16, 8), std::string(8, '\x33'));
  EXPECT_EQ(bytes.substr(kPage + 24, kPage - 24), std::string(kPage - 24, '\0'));
  // The trailer: marker, one position, its page's CRC, page 0's CRC, the trailer's own CRC.
  EXPECT_EQ(bytes.substr(2 * kPage, 4), "xqzc");
  EXPECT_EQ(LE32(bytes, 2 * kPage + 4), 1u);
  EXPECT_EQ(LE32(bytes, 2 * kPage + 8), CalcCRC32(bytes.data() + kPage, kPage));
  EXPECT_EQ(LE32(bytes, 2 * kPage + 12), CalcCRC32(bytes.data(), kPage));
  EXPECT_EQ(LE32(bytes, 2 * kPage + 16), CalcCRC32(bytes.data() + 2 * kPage, 16));
}

TEST_F(FileDataHolderTest, The2049thItemTakesASecondPage) {
  auto store = Store();
  const int dim = store->DimensionAdd(8);
  for (int i = 0; i < 2048; ++i) store->ItemAdd(dim, nullptr);
  EXPECT_EQ(PagesOf(*store, 1), 1);
  EXPECT_EQ(store->ItemAdd(dim, nullptr), 2048u);
  EXPECT_EQ(PagesOf(*store, 1), 2);
  EXPECT_EQ(store->PageTableEntry(1), 1);
}

TEST_F(FileDataHolderTest, AppendsAroundAnEvictingReadContinueInThePageBeingFilled) {
  struct TCase {
    int ItemSize;
    uint32_t ReadBetween[2];
    int Pages;
  };
  // 8-byte items: two pages, both stay cached. 16-byte items: three pages, and reading the
  // first two pushes the page being filled out of the cache.
  const TCase cases[] = {{8, {0, 100}, 2}, {16, {0, 1100}, 3}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.ItemSize);
    std::filesystem::remove(FName);
    auto store = Store();
    const int dim = store->DimensionAdd(c.ItemSize);
    std::vector<uint8_t> item(static_cast<size_t>(c.ItemSize));
    const auto fill = [&](uint32_t AIndex) { std::fill(item.begin(), item.end(), static_cast<uint8_t>(AIndex * 7 + 1)); };
    for (uint32_t i = 0; i < 2500; ++i) {
      fill(i);
      ASSERT_EQ(store->ItemAdd(dim, item.data()), i);
    }
    for (uint32_t index : c.ReadBetween) ASSERT_TRUE(store->ItemGet(dim, index, item.data()));
    const TrclDataHolderDimension& state = store->Dimensions(dim);
    if (c.Pages == 3) {  // the page being filled has left the cache
      EXPECT_NE(state.Pages()[0].fPageIndex, state.PageIndexForAdding());
      EXPECT_NE(state.Pages()[1].fPageIndex, state.PageIndexForAdding());
    }
    for (uint32_t i = 2500; i < 3000; ++i) {
      fill(i);
      ASSERT_EQ(store->ItemAdd(dim, item.data()), i);
    }
    EXPECT_EQ(PagesOf(*store, 1), c.Pages);
    store->SetActive(false);
    EXPECT_EQ(PagesOf(FileBytes(), 1), c.Pages);

    store->SetActive(true);
    ASSERT_EQ(store->ItemsCount(dim), 3000u);
    std::vector<uint8_t> read(item.size());
    for (uint32_t i = 0; i < 3000; ++i) {
      fill(i);
      ASSERT_TRUE(store->ItemGet(dim, i, read.data()));
      ASSERT_EQ(read, item) << "item " << i;
    }
    EXPECT_TRUE(FErrors.empty());
  }
}

TEST_F(FileDataHolderTest, ReactivationReadsBackCountsItemsAndReservedValues) {
  {
    auto store = Store();
    const int lines = store->DimensionAdd(8);
    const int wide = store->DimensionAdd(100);  // 163 items to a page, 36 bytes unused
    for (uint64_t i = 0; i < 5000; ++i) store->ItemAdd(lines, &i);
    for (int i = 0; i < 200; ++i) {
      const std::string text(100, static_cast<char>('a' + i % 26));
      store->ItemAdd(wide, text.data());
    }
    for (int i = 0; i < 8; ++i) store->SetReserved(i, 0x01010101u * static_cast<uint32_t>(i + 1));
    store->SetReserved(8, 99);  // no such value: ignored
  }                             // destruction deactivates, which flushes
  auto store = Store();
  ASSERT_EQ(store->DimensionsCount(), 2);
  EXPECT_EQ(store->ItemsCount(0), 5000u);
  EXPECT_EQ(store->ItemsCount(1), 200u);
  EXPECT_EQ(store->Dimensions(1).ItemsInPage(), 163);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(store->Reserved(i), 0x01010101u * static_cast<uint32_t>(i + 1));
  EXPECT_EQ(store->Reserved(8), 0u);
  for (uint64_t i = 0; i < 5000; ++i) {
    uint64_t value = 0;
    ASSERT_TRUE(store->ItemGet(0, static_cast<uint32_t>(i), &value));
    ASSERT_EQ(value, i);
  }
  std::string text(100, '\0');
  ASSERT_TRUE(store->ItemGet(1, 199, text.data()));
  EXPECT_EQ(text, std::string(100, static_cast<char>('a' + 199 % 26)));
  EXPECT_FALSE(store->ChangesExist());

  // Appending continues in the partly filled last page of each dimension.
  const uint64_t next = 5000;
  EXPECT_EQ(store->ItemAdd(0, &next), 5000u);
  EXPECT_EQ(store->ItemAdd(1, nullptr), 200u);
  EXPECT_EQ(PagesOf(*store, 1), 3);
  EXPECT_EQ(PagesOf(*store, 2), 2);
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(FileDataHolderTest, ForeignOrMalformedFilesOpenAsAnEmptyStore) {
  const auto valid = [] { return HeaderOf({{8, 2048, 3000}}); };
  struct TCase {
    const char* Name;
    std::function<std::string()> Bytes;
  };
  const auto file = [](TrclDataHolderHeader AHeader, std::vector<uint8_t> ATable = {1, 1}) {
    AHeader.reserved[0] = 42;
    return IndexFileBytes(AHeader, ATable, 2);
  };
  const TCase cases[] = {
      {"empty file", [] { return std::string(); }},
      {"short header", [&] { return file(valid()).substr(0, 100); }},
      {"foreign prefix",
       [&] {
         auto h = valid();
         h.prefix[3] = 'H';
         return file(h);
       }},
      {"version 5",
       [&] {
         auto h = valid();
         h.structVersion = 5;
         return file(h);
       }},
      {"item size 0",
       [&] {
         return file(HeaderOf({{0, 0, 3000}}));
       }},
      {"item size above a page",
       [&] {
         return file(HeaderOf({{16385, 0, 3000}}));
       }},
      {"negative item size",
       [&] {
         return file(HeaderOf({{-8, -2048, 3000}}));
       }},
      {"items per page not the page over the size",
       [&] {
         return file(HeaderOf({{8, 4096, 3000}}));
       }},
      {"nine dimensions",
       [&] {
         auto h = valid();
         h.dimCount = 9;
         return file(h);
       }},
      {"more items than the pages hold",
       [&] {
         return file(HeaderOf({{8, 2048, 4097}}));
       }},
      {"a page more than the items need",
       [&] {
         return file(HeaderOf({{8, 2048, 2048}}));
       }},
      {"negative item count",
       [&] {
         return file(HeaderOf({{8, 2048, -1}}), {});
       }},
      {"a page of a dimension the header lacks",
       [&] {
         return file(valid(), {1, 3, 1});
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    FDir.Write("lines.idx", c.Bytes());
    auto store = Store();
    EXPECT_TRUE(store->Active());
    EXPECT_EQ(store->DimensionsCount(), 0);
    EXPECT_EQ(store->Reserved(0), 0u);
    EXPECT_EQ(PagesOf(*store, 1) + PagesOf(*store, 2) + PagesOf(*store, 4), 0);

    // The owner adds its dimension; the next flush replaces the file's structure.
    const int dim = store->DimensionAdd(8);
    const uint64_t value = 77;
    EXPECT_EQ(store->ItemAdd(dim, &value), 0u);
    store->SetActive(false);
    store->SetActive(true);
    ASSERT_EQ(store->DimensionsCount(), 1);
    uint64_t read = 0;
    EXPECT_TRUE(store->ItemGet(0, 0, &read));
    EXPECT_EQ(read, 77u);
    EXPECT_EQ(store->ItemsCount(0), 1u);
  }
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(FileDataHolderTest, ATableThatCannotBeReadIsReportedAndFindsNoItems) {
  FDir.Write("lines.idx", IndexFileBytes(HeaderOf({{8, 2048, 10}}), {1}, 1).substr(0, kIndexHeaderSize + 100));
  auto store = Store();
  EXPECT_TRUE(store->Active());
  ASSERT_EQ(FErrors.size(), 1u);
  EXPECT_EQ(FErrors[0].Code, 0x80000000u);
  EXPECT_EQ(FErrors[0].Text, "Can not load page indexes(100<>16242) in index file <" + FName + ">.");
  ASSERT_EQ(store->DimensionsCount(), 1);
  uint64_t item = 0;
  EXPECT_FALSE(store->ItemGet(0, 0, &item));
}

TEST_F(FileDataHolderTest, ReadOnlyWorkReadsAndNeverWrites) {
  {
    auto writer = Store();
    const int dim = writer->DimensionAdd(8);
    for (uint64_t i = 0; i < 10; ++i) writer->ItemAdd(dim, &i);
    writer->SetReserved(0, 5);
  }
  const std::string before = FileBytes();
  auto store = Store({fdhHoldFileHandle, fdhReadOnlyWork});
  ASSERT_EQ(store->ItemsCount(0), 10u);
  uint64_t value = 0;
  EXPECT_TRUE(store->ItemGet(0, 9, &value));
  EXPECT_EQ(value, 9u);
  const uint64_t other = 1234;
  EXPECT_FALSE(store->ItemSet(0, 9, &other));
  EXPECT_FALSE(store->ItemMove(0, 0, 9));
  store->ItemsClear(0);
  EXPECT_EQ(store->ItemsCount(0), 10u);
  store->SetReserved(0, 6);
  store->FlushChanges();
  store->SetActive(false);
  EXPECT_EQ(FileBytes(), before);
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(FileDataHolderTest, ItemsClearThenFlushFreesTheDimensionsPagesOnly) {
  {
    auto store = Store();
    store->DimensionAdd(8);
    store->DimensionAdd(8);
    // Interleaved pages: 0 1 0 1 0 in the table.
    for (int page = 0; page < 5; ++page) {
      for (uint64_t i = 0; i < 2048; ++i) store->ItemAdd(page % 2, &i);
    }
  }
  ASSERT_EQ(PagesOf(FileBytes(), 1), 3);
  auto store = Store();
  store->ItemsClear(0);
  EXPECT_EQ(store->ItemsCount(0), 0u);
  EXPECT_TRUE(store->ChangesExist());
  store->FlushChanges();
  const std::string bytes = FileBytes();
  EXPECT_EQ(PagesOf(bytes, 1), 0);
  EXPECT_EQ(PagesOf(bytes, 2), 2);
  EXPECT_EQ(LE32(bytes, 22), 0u);     // dimension 0's count
  EXPECT_EQ(LE32(bytes, 34), 4096u);  // dimension 1's count

  // The freed pages are taken again, first free entry first.
  const uint64_t value = 9;
  EXPECT_EQ(store->ItemAdd(0, &value), 0u);
  EXPECT_EQ(store->PageTableEntry(0), 1);
  uint64_t read = 0;
  EXPECT_TRUE(store->ItemGet(1, 4095, &read));
  EXPECT_EQ(read, 2047u);
}

TEST_F(FileDataHolderTest, ANewPageComesAfterTheDimensionsLastPage) {
  // Table 0 1 0 1 0 after clearing dimension 1 of 0 1 0 1 0: the entries freed before
  // dimension 0's last page must not take its next items, or item 6,144 would be looked for
  // in a page after the one that holds it.
  {
    auto store = Store();
    store->DimensionAdd(8);
    store->DimensionAdd(8);
    for (int page = 0; page < 5; ++page) {
      for (uint64_t i = 0; i < 2048; ++i) store->ItemAdd(page % 2, &i);
    }
    store->ItemsClear(1);
  }
  auto store = Store();
  ASSERT_EQ(store->ItemsCount(0), 3u * 2048u);
  for (uint64_t i = 6144; i < 6144 + 2048 + 10; ++i) ASSERT_EQ(store->ItemAdd(0, &i), i);
  EXPECT_EQ(store->PageTableEntry(1), 0);
  EXPECT_EQ(store->PageTableEntry(5), 1);
  EXPECT_EQ(store->PageTableEntry(6), 1);
  store->SetActive(false);
  store->SetActive(true);
  for (uint32_t i = 0; i < store->ItemsCount(0); ++i) {
    uint64_t value = 0;
    ASSERT_TRUE(store->ItemGet(0, i, &value));
    ASSERT_EQ(value, i < 6144 ? i % 2048 : i) << "item " << i;
  }
  // With the end of the table taken, a free entry before the last page is no help.
  std::vector<uint8_t> table(kIndexPageTableEntries, 2);
  table[0] = 0;
  table[1] = 1;
  table.back() = 1;
  const int second = kIndexPageTableEntries - 3;
  WriteSparseIndexFile(FName, HeaderOf({{16384, 1, 2}, {16384, 1, second}}), table);
  store = Store();
  ASSERT_EQ(store->DimensionsCount(), 2);
  EXPECT_EQ(store->ItemAdd(0, nullptr), kInvalidItemIndex);
  EXPECT_EQ(store->ItemAdd(1, nullptr), kInvalidItemIndex);
  EXPECT_EQ(store->PageTableEntry(0), 0);
  EXPECT_EQ(store->ItemsCount(0), 2u);
  ASSERT_EQ(FErrors.size(), 2u);
  EXPECT_EQ(FErrors[0].Code, kDataHolderErrorFull);
}

TEST_F(FileDataHolderTest, AFullPageTableRefusesTheAppendAndReusesNoPage) {
  // One item of 16,384 bytes in each of the 16,242 pages: no entry is free. The pages are a
  // hole in the file: zeros, and no 266 MB to write.
  WriteSparseIndexFile(FName, HeaderOf({{16384, 1, kIndexPageTableEntries}}), std::vector<uint8_t>(kIndexPageTableEntries, 1));
  auto store = Store();
  ASSERT_EQ(store->ItemsCount(0), static_cast<uint32_t>(kIndexPageTableEntries));
  EXPECT_EQ(store->ItemAdd(0, nullptr), kInvalidItemIndex);
  ASSERT_EQ(FErrors.size(), 1u);
  EXPECT_EQ(FErrors[0].Code, kDataHolderErrorFull);
  EXPECT_EQ(FErrors[0].Text, "Index file lines.idx full: no free page after those of dimension 0 among 16242.");
  EXPECT_EQ(store->ItemsCount(0), static_cast<uint32_t>(kIndexPageTableEntries));
  EXPECT_EQ(PagesOf(*store, 1), kIndexPageTableEntries);
  EXPECT_FALSE(store->ChangesExist());

  // Another dimension finds no page either; without OnError the refusal is an exception.
  const int other = store->DimensionAdd(8);
  store->SetOnError(nullptr);
  EXPECT_THROW(store->ItemAdd(other, nullptr), ErclDataHolderError);
  EXPECT_EQ(store->ItemsCount(other), 0u);
  EXPECT_EQ(PagesOf(*store, 2), 0);
}

ssize_t FailingWrite(int, const void*, size_t) {
  errno = EIO;
  return -1;
}
ssize_t NothingWritten(int, const void*, size_t) { return 0; }

TEST_F(FileDataHolderTest, FailedWritesAreReportedAndTheStoreStaysUsable) {
  struct TCase {
    platform::TWriteFunction Write;
    std::string Text;
  };
  const TCase cases[] = {
      {FailingWrite, "Can not save page 0 in index file <" + FName + ">. 5: " + platform::SystemErrorText(EIO) + "."},
      {NothingWritten, "Can not save whole page 0 in index file <" + FName + ">: 0 of 16384 bytes."}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    std::filesystem::remove(FName);
    FErrors.clear();
    auto store = Store();
    const int dim = store->DimensionAdd(8);
    const uint64_t value = 3;
    store->ItemAdd(dim, &value);
    const auto previous = platform::SetWriteFunction(c.Write);
    store->FlushChanges();
    platform::SetWriteFunction(previous);
    ASSERT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(FErrors[0].Code, 0x50000000u);
    EXPECT_EQ(FErrors[0].Text, c.Text);
    // The flush stopped at the page: no header and no table were written.
    EXPECT_EQ(FileBytes().size(), 0u);
    uint64_t read = 0;
    EXPECT_TRUE(store->ItemGet(dim, 0, &read));
    EXPECT_EQ(store->ItemAdd(dim, &value), 1u);
  }
}

TEST_F(FileDataHolderTest, AFileThatCannotBeCreatedIsReportedWithTheSystemError) {
  FName = FDir.File("missing-folder/lines.idx");
  auto store = Store();
  const int dim = store->DimensionAdd(8);
  store->ItemAdd(dim, nullptr);
  store->FlushChanges();
  ASSERT_FALSE(FErrors.empty());
  EXPECT_EQ(FErrors[0].Code, 0x10000000u);
  EXPECT_EQ(FErrors[0].Text, "Can not create index file <" + FName + ">. 2: " + platform::SystemErrorText(2));
}

TEST_F(FileDataHolderTest, WithoutHoldFileHandleEveryItemOperationClosesTheFile) {
  std::vector<std::string> traces;
  auto store = Store({}, false);
  store->SetOnDebug([&](TrclDataHolder*, const std::string& AText) {
    if (AText.find("handles=") != std::string::npos) traces.push_back(AText.substr(0, 3));
  });
  store->SetActive(true);
  const int dim = store->DimensionAdd(8);
  for (int i = 0; i < 2049; ++i) store->ItemAdd(dim, nullptr);  // the 2,049th writes page 0
  EXPECT_FALSE(store->FileIsOpen());
  EXPECT_EQ(traces, (std::vector<std::string>{"inc", "dec"}));
  store->FlushChanges();
  EXPECT_FALSE(store->FileIsOpen());
  store->SetActive(false);

  store->SetOptions({fdhHoldFileHandle});
  store->SetActive(true);
  EXPECT_TRUE(store->FileIsOpen());
  store->SetOptions({});  // dropping the option closes the file at once
  EXPECT_FALSE(store->FileIsOpen());
  EXPECT_EQ(store->ItemsCount(dim), 2049u);
  EXPECT_TRUE(FErrors.empty());
}

// Writing a dimension gives it another one's shape (item size, items per page, item count)
// while it keeps its place in the store: items stored afterwards have the new size.
TEST(DataHolderTest, SetDimensionsGivesADimensionAnotherOnesShape) {
  TrclMemoryDataHolder store;
  store.SetActive(true);
  const int wide = store.DimensionAdd(8);
  const int narrow = store.DimensionAdd(2);
  store.SetDimensions(narrow, store.Dimensions(wide));
  EXPECT_EQ(store.Dimensions(narrow).ItemSize(), 8);
  EXPECT_EQ(store.Dimensions(narrow).ItemsInPage(), 2048);
  EXPECT_EQ(store.Dimensions(narrow).DimensionIndex(), narrow);
  const uint64_t value = 0x1122334455667788u;
  ASSERT_EQ(store.ItemAdd(narrow, &value), 0u);
  uint64_t back = 0;
  ASSERT_TRUE(store.ItemGet(narrow, 0, &back));
  EXPECT_EQ(back, value) << "with its old size only two bytes would come back";

  // The item count comes along too (the paged store keeps its counts there).
  TrclMemoryDataHolder other;
  other.DimensionAdd(4);
  TrclDataHolderDimension counted(&other);
  counted.SetItemSize(16);
  counted.SetItemsCount(3);
  other.SetDimensions(0, counted);
  EXPECT_EQ(other.Dimensions(0).ItemSize(), 16);
  EXPECT_EQ(other.Dimensions(0).ItemsCount(), 3);
}

// A store that nobody configured keeps its file open from activation on, between operations,
// as its owner wants it while it opens, checks and first fills the index.
TEST_F(FileDataHolderTest, ByDefaultTheFileStaysOpenBetweenOperations) {
  {
    auto writer = Store();
    const int dim = writer->DimensionAdd(8);
    const uint64_t value = 42;
    writer->ItemAdd(dim, &value);
  }  // deactivation writes the file
  TrclFileDataHolder store;
  EXPECT_TRUE(store.Options() == TrclFileDataHolderOptions({fdhHoldFileHandle}));
  store.SetFileName(FName);
  EXPECT_EQ(store.FileName(), FName);
  store.SetActive(true);
  EXPECT_TRUE(store.FileIsOpen());
  uint64_t value = 0;
  ASSERT_TRUE(store.ItemGet(0, 0, &value));
  EXPECT_EQ(value, 42u);
  EXPECT_TRUE(store.FileIsOpen());
  EXPECT_TRUE(FErrors.empty());
}

// --- integrity of the index file: checksums, the rewrite mark, the lock, the reports ------

// Writes and syncs as the index file sees them, through the platform's seams: "w<bytes>" for a
// write, "sync" for a sync.
std::vector<std::string> gFileEvents;
ssize_t RecordingWrite(int AHandle, const void* ABuffer, size_t ALength) {
  gFileEvents.push_back(std::string(1, 'w').append(std::to_string(ALength)));
  return ::write(AHandle, ABuffer, ALength);
}
int RecordingSync(int AHandle) {
  gFileEvents.emplace_back("sync");
  return ::fdatasync(AHandle);
}
int FailingSync(int) {
  errno = EIO;
  return -1;
}
ssize_t DiskFullWrite(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}

class IndexFileIntegrityTest : public FileDataHolderTest {
 protected:
  void TearDown() override {
    platform::SetWriteFunction(nullptr);
    platform::SetSyncFunction(nullptr);
  }

  static constexpr uint32_t kFirstCount = 3 * 2048 + 100;  // in positions 0, 2, 4 and 5
  static constexpr uint32_t kSecondCount = 2 * 2048;       // in positions 1 and 3
  static uint64_t FirstItem(uint32_t AIndex) { return AIndex; }
  static uint64_t SecondItem(uint32_t AIndex) { return 1000000u + AIndex; }

  // FName as a store writes it: two dimensions of 8-byte items whose pages interleave in the
  // table (1 2 1 2 1 1), a reserved value, six data pages and the trailer.
  void WriteTwoDimensions() {
    auto store = Store();
    store->DimensionAdd(8);
    store->DimensionAdd(8);
    uint32_t added[2] = {0, 0};
    const auto add = [&](int ADim, uint32_t ACount) {
      for (uint32_t i = 0; i < ACount; ++i, ++added[ADim]) {
        const uint64_t value = ADim == 0 ? FirstItem(added[ADim]) : SecondItem(added[ADim]);
        ASSERT_EQ(store->ItemAdd(ADim, &value), added[ADim]);
      }
    };
    for (int page = 0; page < 5; ++page) add(page % 2, 2048);
    add(0, 100);
    store->SetReserved(0, 42);
  }
  // Whether AStore holds what WriteTwoDimensions wrote, item by item.
  static testing::AssertionResult HoldsTwoDimensions(TrclFileDataHolder& AStore) {
    if (AStore.DimensionsCount() != 2) return testing::AssertionFailure() << AStore.DimensionsCount() << " dimensions";
    if (AStore.ItemsCount(0) != kFirstCount || AStore.ItemsCount(1) != kSecondCount) {
      return testing::AssertionFailure() << "counts " << AStore.ItemsCount(0) << ", " << AStore.ItemsCount(1);
    }
    for (uint32_t i = 0; i < kFirstCount + kSecondCount; ++i) {
      const int dim = i < kFirstCount ? 0 : 1;
      const uint32_t index = dim == 0 ? i : i - kFirstCount;
      uint64_t value = 0;
      if (!AStore.ItemGet(dim, index, &value) || value != (dim == 0 ? FirstItem(index) : SecondItem(index))) {
        return testing::AssertionFailure() << "item " << index << " of dimension " << dim << " reads " << value;
      }
    }
    return testing::AssertionSuccess();
  }
};

TEST_F(IndexFileIntegrityTest, ADamagedFileOpensEmptyAndIsRebuilt) {
  constexpr size_t kTrailer = 7 * kPage;  // after page 0 and the six data pages
  const auto put32 = [](std::string& ABytes, size_t AOffset, uint32_t AValue) {
    for (size_t i = 0; i < 4; ++i) ABytes[AOffset + i] = static_cast<char>(AValue >> (8 * i));
  };
  struct TCase {
    const char* Name;
    std::function<void(std::string&)> Damage;
  };
  const TCase cases[] = {
      {"truncated inside the last data page", [](std::string& ABytes) { ABytes.resize(6 * kPage + 100); }},
      {"truncated after the last data page", [](std::string& ABytes) { ABytes.resize(kTrailer); }},
      {"truncated inside the trailer", [](std::string& ABytes) { ABytes.pop_back(); }},
      {"an item changed in a data page", [](std::string& ABytes) { ABytes[3 * kPage + 8] ^= 1; }},
      {"an item count lowered in the header",
       [&](std::string& ABytes) { put32(ABytes, 22, kFirstCount - 1); }},  // still four pages' worth
      {"a reserved value changed", [](std::string& ABytes) { ABytes[110] ^= 1; }},
      {"two table entries of different dimensions swapped",
       [](std::string& ABytes) { std::swap(ABytes[kIndexHeaderSize], ABytes[kIndexHeaderSize + 1]); }},
      {"a page's checksum changed in the trailer", [](std::string& ABytes) { ABytes[kTrailer + 8 + 4 * 2] ^= 1; }},
      {"the trailer's own checksum changed", [](std::string& ABytes) { ABytes.back() ^= 1; }},
      {"no trailer marker", [](std::string& ABytes) { ABytes[kTrailer] = 'X'; }},
      {"version 6, written without checksums", [](std::string& ABytes) { ABytes[4] = 6; }},
      {"marked as being rewritten", [](std::string& ABytes) { ABytes[4] = 0; }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove(FName);
    WriteTwoDimensions();
    std::string bytes = FileBytes();
    ASSERT_EQ(bytes.size(), kTrailer + IndexTrailerSize(6));
    {
      auto intact = Store();
      ASSERT_TRUE(HoldsTwoDimensions(*intact));
    }
    c.Damage(bytes);
    FDir.Write("lines.idx", bytes);

    auto store = Store();
    EXPECT_TRUE(store->Active());
    EXPECT_EQ(store->DimensionsCount(), 0);
    EXPECT_EQ(store->Reserved(0), 0u);
    EXPECT_EQ(PagesOf(*store, 1) + PagesOf(*store, 2), 0);
    uint64_t item = 0;
    EXPECT_FALSE(store->ItemGet(0, 0, &item));

    // The owner builds the index again over the damaged file, and it opens.
    const int dim = store->DimensionAdd(8);
    for (uint64_t i = 0; i < 3000; ++i) ASSERT_EQ(store->ItemAdd(dim, &i), i);
    store.reset();
    store = Store();
    ASSERT_EQ(store->ItemsCount(0), 3000u);
    EXPECT_TRUE(store->ItemGet(0, 2999, &item));
    EXPECT_EQ(item, 2999u);
  }
  EXPECT_TRUE(FErrors.empty()) << FErrors.front().Text;
}

TEST_F(IndexFileIntegrityTest, EveryFlushedChangeKeepsTheFileOpenable) {
  WriteTwoDimensions();
  std::vector<uint64_t> model[2];
  for (uint32_t i = 0; i < kFirstCount; ++i) model[0].push_back(FirstItem(i));
  for (uint32_t i = 0; i < kSecondCount; ++i) model[1].push_back(SecondItem(i));
  const auto add = [&](TrclFileDataHolder& AStore, int ADim, uint64_t ACount) {
    for (uint64_t i = 0; i < ACount; ++i) {
      model[ADim].push_back(7000000 + model[ADim].size());
      AStore.ItemAdd(ADim, &model[ADim].back());
    }
  };
  struct TStep {
    const char* Name;
    std::function<void(TrclFileDataHolder&)> Change;
  };
  // Each step runs on the store as it opens the file the step before flushed.
  const TStep steps[] = {
      {"an item set in a page read at opening",
       [&](TrclFileDataHolder& AStore) {
         model[0][5] = 777;
         AStore.ItemSet(0, 5, &model[0][5]);
       }},
      {"items added to the partly filled last page", [&](TrclFileDataHolder& AStore) { add(AStore, 0, 10); }},
      {"a dimension cleared, its pages free between others",
       [&](TrclFileDataHolder& AStore) {
         model[1].clear();
         AStore.ItemsClear(1);
       }},
      {"the free pages taken again", [&](TrclFileDataHolder& AStore) { add(AStore, 1, 3000); }},
      {"an item moved across pages",
       [&](TrclFileDataHolder& AStore) {
         const uint64_t moved = model[0][0];
         model[0].erase(model[0].begin());
         model[0].insert(model[0].begin() + 6000, moved);
         AStore.ItemMove(0, 0, 6000);
       }},
      {"the last pages freed: the trailer moves before stale pages",
       [&](TrclFileDataHolder& AStore) {
         model[0].clear();
         AStore.ItemsClear(0);
       }},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.Name);
    {
      auto store = Store();
      ASSERT_EQ(store->DimensionsCount(), 2);
      step.Change(*store);
      store->FlushChanges();
    }
    auto store = Store();
    ASSERT_EQ(store->DimensionsCount(), 2) << "the flushed file was taken as foreign";
    EXPECT_EQ(store->Reserved(0), 42u);
    for (int d = 0; d < 2; ++d) {
      ASSERT_EQ(store->ItemsCount(d), model[d].size());
      for (uint32_t i = 0; i < model[d].size(); ++i) {
        uint64_t value = 0;
        ASSERT_TRUE(store->ItemGet(d, i, &value));
        ASSERT_EQ(value, model[d][i]) << "item " << i << " of dimension " << d;
      }
    }
  }
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(IndexFileIntegrityTest, OpeningReadsEveryPageOnceInLargeReads) {
  // 130 pages of one dimension: more than two reads' worth of pages.
  {
    auto store = Store();
    const int dim = store->DimensionAdd(8);
    for (uint64_t i = 0; i < 130 * 2048; ++i) store->ItemAdd(dim, &i);
  }
  static ino_t index = 0;
  static int64_t calls = 0;
  static int64_t bytes = 0;
  struct stat status {};
  ASSERT_EQ(::stat(FName.c_str(), &status), 0);
  index = status.st_ino;
  const auto previous = platform::SetPreadFunction([](int AHandle, void* ABuffer, size_t ALength, off_t AOffset) {
    const ssize_t got = ::pread(AHandle, ABuffer, ALength, AOffset);
    struct stat file {};
    if (::fstat(AHandle, &file) == 0 && file.st_ino == index) {
      ++calls;
      bytes += got > 0 ? got : 0;
    }
    return got;
  });
  auto store = Store();
  platform::SetPreadFunction(previous);
  EXPECT_EQ(store->ItemsCount(0), 130u * 2048u);
  EXPECT_EQ(bytes, static_cast<int64_t>(kPage * 131 + IndexTrailerSize(130)));
  EXPECT_LE(calls, 8);
}

TEST_F(IndexFileIntegrityTest, InvalidateOnDiskLeavesAFileNoStoreTakesUntilTheNextFlush) {
  WriteTwoDimensions();
  auto writer = Store({}, true);  // closes the file between operations
  ASSERT_TRUE(HoldsTwoDimensions(*writer));
  EXPECT_TRUE(writer->InvalidateOnDisk());
  EXPECT_FALSE(writer->FileIsOpen());
  EXPECT_EQ(Store()->DimensionsCount(), 0);

  // The rewrite has begun (a page written to make room), the process could die now.
  writer->Clear();
  const int dim = writer->DimensionAdd(8);
  for (uint64_t i = 0; i < 3 * 2048; ++i) writer->ItemAdd(dim, &i);
  EXPECT_EQ(Store()->DimensionsCount(), 0);

  writer->FlushChanges();
  auto reader = Store();
  ASSERT_EQ(reader->DimensionsCount(), 1);
  EXPECT_EQ(reader->ItemsCount(0), 3u * 2048u);
  reader.reset();

  // Without a file nothing is written; a read-only store leaves the file alone.
  writer.reset();
  const std::string before = FileBytes();
  EXPECT_FALSE(Store({fdhHoldFileHandle, fdhReadOnlyWork})->InvalidateOnDisk());
  EXPECT_EQ(FileBytes(), before);
  std::filesystem::remove(FName);
  EXPECT_TRUE(Store()->InvalidateOnDisk());
  EXPECT_FALSE(platform::FileExists(FName));
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(IndexFileIntegrityTest, PagesReachTheDiskBeforeTheHeaderThatDescribesThem) {
  auto store = Store();
  const int dim = store->DimensionAdd(8);
  for (uint64_t i = 0; i < 2049; ++i) store->ItemAdd(dim, &i);
  platform::SetWriteFunction(RecordingWrite);
  platform::SetSyncFunction(RecordingSync);
  gFileEvents.clear();
  store->FlushChanges();
  // The second page (the 2,049th item wrote the first), the sync, then header, table and
  // trailer (two positions).
  EXPECT_EQ(gFileEvents, (std::vector<std::string>{"w16384", "sync", "w142", "w16242", "w24"}));

  gFileEvents.clear();
  store->FlushChanges();
  EXPECT_TRUE(gFileEvents.empty()) << "a flush with nothing to write still wrote or synced";

  store->InvalidateOnDisk();
  EXPECT_EQ(gFileEvents, (std::vector<std::string>{"w142", "sync"}));
  EXPECT_EQ(FileBytes()[4], '\0');
  gFileEvents.clear();
  store->FlushChanges();
  EXPECT_EQ(gFileEvents, (std::vector<std::string>{"sync", "w142", "w16242", "w24"}));
  EXPECT_TRUE(FErrors.empty());
}

TEST_F(IndexFileIntegrityTest, FailuresReachOnErrorWithTheFileAndTheCauseAndNeverYieldWrongItems) {
  struct TCase {
    const char* Name;
    TrclFileDataHolderOptions Options;
    // Makes the failure happen; returns whether the operation that met it succeeded.
    std::function<bool(TrclFileDataHolder&)> Fail;
    uint32_t Code;
    int Cause;
  };
  const auto addPages = [](TrclFileDataHolder& AStore, uint64_t APages) {
    bool added = true;
    for (uint64_t i = 0; i < APages * 2048 && added; ++i) {
      const uint64_t value = i + 1;
      added = AStore.ItemAdd(0, &value) == i;
    }
    return added;
  };
  const TCase cases[] = {
      {"the disk full when a page is written to make room for an append",
       {fdhHoldFileHandle},
       [&](TrclFileDataHolder& AStore) {
         platform::SetWriteFunction(DiskFullWrite);
         return addPages(AStore, 3);  // the third page's slot is page 0's
       },
       0x50000000,
       ENOSPC},
      {"the disk full when a flush writes the pages",
       {fdhHoldFileHandle},
       [&](TrclFileDataHolder& AStore) {
         addPages(AStore, 2);
         platform::SetWriteFunction(DiskFullWrite);
         AStore.FlushChanges();
         return false;
       },
       0x50000000,
       ENOSPC},
      {"the sync failing before the header is written",
       {fdhHoldFileHandle},
       [&](TrclFileDataHolder& AStore) {
         addPages(AStore, 2);
         platform::SetSyncFunction(FailingSync);
         AStore.FlushChanges();
         return false;
       },
       0x50000000,
       EIO},
      {"the file gone when a page is read back",
       {},
       [&](TrclFileDataHolder& AStore) {
         addPages(AStore, 3);
         AStore.FlushChanges();
         std::filesystem::remove(FName);
         uint64_t value = 0;
         return AStore.ItemGet(0, 0, &value);
       },
       0x30000000,
       ENOENT},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove(FName);
    FErrors.clear();
    auto store = Store(c.Options);
    store->DimensionAdd(8);
    EXPECT_FALSE(c.Fail(*store));
    platform::SetWriteFunction(nullptr);
    platform::SetSyncFunction(nullptr);
    ASSERT_FALSE(FErrors.empty());
    EXPECT_EQ(FErrors[0].Code, c.Code);
    EXPECT_NE(FErrors[0].Text.find("<" + FName + ">"), std::string::npos) << FErrors[0].Text;
    EXPECT_NE(FErrors[0].Text.find(platform::SystemErrorText(static_cast<uint32_t>(c.Cause))), std::string::npos)
        << FErrors[0].Text;

    // Whatever the store flushes after the failure, the file never serves other items than
    // those added: it opens with them, or empty.
    store.reset();
    auto reader = Store();
    for (uint32_t i = 0; i < reader->ItemsCount(0); ++i) {
      uint64_t value = 0;
      ASSERT_TRUE(reader->ItemGet(0, i, &value));
      ASSERT_EQ(value, i + 1u) << "item " << i;
    }
  }
}

TEST_F(IndexFileIntegrityTest, OneStoreAtATimeHoldsTheFileForItsWholeLife) {
  auto first = Store({}, false);  // closes the file between operations: the lock must stay
  auto second = Store({}, false);
  ASSERT_TRUE(first->TryLock());
  EXPECT_TRUE(first->TryLock()) << "asking again is no conflict";
  EXPECT_TRUE(first->Locked());
  EXPECT_TRUE(platform::FileExists(FName));
  EXPECT_FALSE(second->TryLock());

  first->SetActive(true);
  const int dim = first->DimensionAdd(8);
  for (uint64_t i = 0; i < 2049; ++i) first->ItemAdd(dim, &i);
  first->FlushChanges();
  first->SetActive(false);
  EXPECT_FALSE(first->FileIsOpen());
  EXPECT_FALSE(second->TryLock());

  // Another process finds it locked as well.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TrclFileDataHolder other;
    other.SetOnError([](TrclDataHolder*, uint32_t, const std::string&) {});
    other.SetFileName(FName);
    ::_exit(other.TryLock() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process took the lock";

  first.reset();  // the lock goes with the store
  EXPECT_TRUE(second->TryLock());
  second->SetFileName(FDir.File("other.idx"));  // and with the name it was taken for
  EXPECT_FALSE(second->Locked());
  EXPECT_TRUE(Store({}, false)->TryLock());
  EXPECT_TRUE(FErrors.empty());

  // A file that cannot even be created is no conflict but a failure, reported.
  FName = FDir.File("missing-folder/lines.idx");
  EXPECT_FALSE(Store({}, false)->TryLock());
  ASSERT_EQ(FErrors.size(), 1u);
  EXPECT_EQ(FErrors[0].Code, 0x10000000u);
  EXPECT_EQ(FErrors[0].Text, "Can not create index file <" + FName + ">. 2: " + platform::SystemErrorText(2));
}

}  // namespace
}  // namespace velloran
