// One interface suite runs against every item store; store-specific behaviour follows it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PlatformSystem.h"
#include "rclDataFile.h"

namespace velloran {
namespace {

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

INSTANTIATE_TEST_SUITE_P(AllStores, ItemStoreInterfaceTest,
                         ::testing::Values(TStoreFactory{"Memory", [] { return std::make_unique<TrclMemoryDataHolder>(); }}),
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
  dimension.FPages[1].fPageIndex = 5;
  dimension.FPages[1].fModified = true;
  dimension.FPages[1].fBuf[7] = 9;
  dimension.FPageIndexForAdding = 3;
  dimension.FItemsCount = 40;
  dimension.Clear();
  EXPECT_EQ(dimension.FPages[1].fPageIndex, -1);
  EXPECT_FALSE(dimension.FPages[1].fModified);
  EXPECT_EQ(dimension.FPages[1].fBuf[7], 0);
  EXPECT_EQ(dimension.FPageIndexForAdding, -1);
  EXPECT_EQ(dimension.ItemsCount(), 0);
  EXPECT_EQ(dimension.ItemSize(), 24);

  TrclDataHolderDimension copy(&store);
  dimension.FItemsCount = 7;
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

}  // namespace
}  // namespace velloran
