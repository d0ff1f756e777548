#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "MemoryData.h"
#include "RecordingClient.h"
#include "Storage.h"

namespace velloran {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string Hex(const std::string& ABytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (char c : ABytes) {
    if (!hex.empty()) hex += ' ';
    hex += digits[static_cast<unsigned char>(c) >> 4];
    hex += digits[static_cast<unsigned char>(c) & 15];
  }
  return hex;
}

TrsKeyValue Integer(int32_t AValue) { return TrsKeyValue{0, kvInteger, AValue}; }

int32_t IntegerOf(TrsStorage& AStorage, std::string_view AKey) {
  const TrsKeyItem* key = AStorage.FindKeyItem(AKey, false);
  return key == nullptr ? -1 : std::get<int32_t>(key->Value.Value);
}

TEST(SectionStreamTest, BytesOfASmallSection) {
  TrsStorage storage;
  storage.SectionAdd("\\S\\T");
  storage.FindKeyItem("\\S\\K", true)->Value = Integer(1);
  std::ostringstream stream;
  storage.SectionSaveToStream("S", stream);
  EXPECT_EQ(Hex(stream.str()), "01 00 00 00 01 00 00 00 01 54 00 00 00 00 00 00 00 00 00 01 4B 00 03 00 01 00 00 00");

  std::ostringstream empty;
  storage.SectionSaveToStream("\\S\\T", empty);
  EXPECT_EQ(empty.str(), std::string(8, '\0'));
  std::ostringstream missing;
  storage.SectionSaveToStream("\\Nowhere", missing);
  EXPECT_EQ(missing.str(), "");

  // Eight zero bytes read into another section empty it and add nothing.
  storage.FindKeyItem("\\Other\\X", true);
  std::istringstream in(empty.str());
  storage.SectionLoadFromStream("Other", in);
  EXPECT_FALSE(storage.KeyExist("\\Other\\X"));
  EXPECT_TRUE(storage.SectionExist("\\Other"));
}

TEST(SectionStreamTest, EveryKindRoundTrips) {
  TrsStorage storage;
  const std::vector<TrsKeyValue> values = {
      {0, kvUnknown, std::monostate{}},
      {0, kvString,
       std::string("Gr\xC3\xBC\xC3\x9F"
                   "e \xF0\x9F\x98\x80")},  // beyond the BMP too
      {0, kvBuffer, std::vector<uint8_t>{0, 1, 255}},
      {0, kvInteger, int32_t{-7}},
      {0, kvDouble, 2.5},
      {0, kvCurrency, int64_t{123400}},
      {0, kvDateTime, 45000.25},
      {0, kvBoolean, int32_t{-1}},
      {0, kvPoint, TrsPoint{3, -4}},
      {0, kvInt64, int64_t{1} << 40},
      {0, 77, std::monostate{}},  // an unknown code keeps its code and carries no data
  };
  for (size_t i = 0; i < values.size(); ++i) storage.FindKeyItem("\\Deep\\Er\\K" + std::to_string(i), true)->Value = values[i];
  std::ostringstream out;
  storage.SectionSaveToStream("", out);
  TrsStorage copy;
  std::istringstream in(out.str());
  copy.SectionLoadFromStream("", in);
  ASSERT_EQ(copy.KeyItemCount(), static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) {
    const TrsKeyItem* key = copy.FindKeyItem("\\Deep\\Er\\K" + std::to_string(i), false);
    ASSERT_NE(key, nullptr) << i;
    EXPECT_EQ(key->Value.kvType, values[i].kvType) << i;
    EXPECT_EQ(key->Value.Value, values[i].Value) << i;
  }
}

TEST(SectionStreamTest, AStreamCutInsideAKeyKeepsWhatWasRead) {
  TrsStorage storage;
  storage.FindKeyItem("\\S\\A", true)->Value = Integer(1);
  storage.FindKeyItem("\\S\\B", true)->Value = TrsKeyValue{0, kvString, std::string("text")};
  std::ostringstream out;
  storage.SectionSaveToStream("S", out);
  const std::string bytes = out.str();

  TrsStorage target;
  target.SetRootSection("Before");
  std::istringstream cut(bytes.substr(0, bytes.size() - 3));
  try {
    target.SectionLoadFromStream("Into", cut);
    FAIL() << "no error";
  } catch (const TrsException& e) {
    EXPECT_STREQ(e.what(), "Storage library error: Can't load section \"Into\" from stream.");
  }
  EXPECT_EQ(IntegerOf(target, "\\Into\\A"), 1);
  EXPECT_EQ(target.RootSection(), "Before");
}

TEST(SectionStreamTest, DamagedStreamsNeverCrashOrDuplicateKeys) {
  // A key named twice in one block: one key, the later value.
  std::string twice("\x00\x00\x00\x00\x02\x00\x00\x00", 8);
  for (int value : {1, 2}) {
    twice += std::string("\x01K\x00\x03\x00", 5);
    twice += std::string(1, static_cast<char>(value)) + std::string(3, '\0');
  }
  TrsStorage storage;
  std::istringstream in(twice);
  storage.SectionLoadFromStream("S", in);
  EXPECT_EQ(storage.KeyItemCount(), 1);
  EXPECT_EQ(IntegerOf(storage, "\\S\\K"), 2);

  // Sections nested far deeper than any settings tree, and absurd counts.
  std::string deep;
  for (int i = 0; i < 5000; ++i)
    deep += std::string(
        "\x01\x00\x00\x00\x00\x00\x00\x00\x01"
        "A\x00",
        11);
  const std::string hugeCount = std::string("\x00\x00\x00\x00\x01\x00\x00\x00\x01K\x00\x01\x00", 13) + "\xFF\xFF\xFF\x7F";
  for (const std::string& damaged : {deep, hugeCount, std::string("\xFF\xFF\xFF\xFF", 4)}) {
    std::istringstream stream(damaged);
    EXPECT_THROW(storage.SectionLoadFromStream("D", stream), TrsException);
  }
}

TEST(SectionStreamTest, NamesAreNeverTakenAsPaths) {
  const auto block = [](const std::string& ASectionName, const std::string& AKeyName) {
    std::string bytes(ASectionName.empty() ? "\x00\x00\x00\x00" : "\x01\x00\x00\x00", 4);
    bytes += std::string(AKeyName.empty() ? "\x00\x00\x00\x00" : "\x01\x00\x00\x00", 4);
    const auto name = [&](const std::string& AName) {
      bytes += static_cast<char>(AName.size());
      for (char c : AName) bytes += std::string{c, '\0'};
    };
    if (!ASectionName.empty()) {
      name(ASectionName);
      bytes += std::string(8, '\0');
    }
    if (!AKeyName.empty()) {
      name(AKeyName);
      bytes += std::string("\x03\x00\x07\x00\x00\x00", 6);
    }
    return bytes;
  };
  for (const auto& [section, key] :
       std::vector<std::pair<std::string, std::string>>{{"", "\\Main\\Password"}, {"X\\Y", ""}, {"\\", ""}}) {
    TrsStorage storage;
    storage.FindKeyItem("\\Main\\Password", true)->Value = Integer(1);
    std::istringstream stream(block(section, key));
    EXPECT_THROW(storage.SectionLoadFromStream("Import", stream), TrsException) << section << key;
    EXPECT_EQ(IntegerOf(storage, "\\Main\\Password"), 1);
    EXPECT_FALSE(storage.SectionExist("\\X"));
  }
}

TEST(SectionStreamTest, NamesLongerThanTheLengthByteAreRefused) {
  TrsStorage storage;
  const std::string longName(256, 'n');
  storage.FindKeyItem("\\S\\" + longName, true);
  std::ostringstream out;
  try {
    storage.SectionSaveToStream("S", out);
    FAIL() << "no error";
  } catch (const TrsException& e) {
    EXPECT_THAT(e.what(), HasSubstr("\\S\\" + longName));
  }
  EXPECT_EQ(out.str(), "") << "nothing half written";
}

class PersistenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FStorage.SetStorageData(&FData);
    for (const char* name : {"BeforeLoad", "AfterLoad", "BeforeSave", "AfterSave"}) {
      const std::string event = name;
      const auto record = [this, event](void*) { FEvents.push_back(event); };
      if (event == "BeforeLoad") FStorage.SetOnBeforeLoad(record);
      if (event == "AfterLoad") FStorage.SetOnAfterLoad(record);
      if (event == "BeforeSave") FStorage.SetOnBeforeSave(record);
      if (event == "AfterSave") FStorage.SetOnAfterSave(record);
    }
  }

  std::vector<std::string> FEvents;
  TMemoryData FData;
  TrsStorage FStorage;
};

TEST_F(PersistenceTest, LoadOfAnEmptyMediumLeavesAnEmptyStore) {
  FStorage.FindKeyItem("\\Old", true);
  FStorage.SetRootSection("Somewhere");
  FStorage.Load();
  EXPECT_EQ(FStorage.KeyItemCount(), 0);
  EXPECT_EQ(FStorage.RootSection(), "");
  EXPECT_THAT(FEvents, ElementsAre("BeforeLoad", "AfterLoad"));
  EXPECT_EQ(FStorage.CurrentStates(), 0u);
}

TEST_F(PersistenceTest, MergeAddsWhereLoadReplaces) {
  FStorage.FindKeyItem("\\A\\x", true)->Value = Integer(2);
  FStorage.FindKeyItem("\\A\\y", true)->Value = Integer(3);
  FStorage.Save();
  FStorage.ClearAll();
  FStorage.FindKeyItem("\\A\\x", true)->Value = Integer(1);
  FStorage.FindKeyItem("\\A\\z", true)->Value = Integer(9);
  FStorage.Merge();
  EXPECT_EQ(IntegerOf(FStorage, "\\A\\x"), 2);
  EXPECT_EQ(IntegerOf(FStorage, "\\A\\y"), 3);
  EXPECT_EQ(IntegerOf(FStorage, "\\A\\z"), 9);
  FStorage.Load();
  EXPECT_FALSE(FStorage.KeyExist("\\A\\z"));
  EXPECT_EQ(FStorage.KeyItemCount(), 2);
}

TEST_F(PersistenceTest, SaveWorksFromTheTopAndRestoresTheCurrentSection) {
  FStorage.SetRootSection("Main");
  FStorage.FindKeyItem("Width", true)->Value = Integer(800);
  std::string rootDuringSave = "?";
  FData.SetOnBeforeSave([&](void*) { rootDuringSave = FData.Storage()->RootSection(); });
  FStorage.Save();
  EXPECT_EQ(FStorage.RootSection(), "Main");
  EXPECT_NE(FData.Bytes, "");
  TrsStorage other;
  TMemoryData copy;
  copy.Bytes = FData.Bytes;
  other.SetStorageData(&copy);
  other.Load();
  EXPECT_EQ(IntegerOf(other, "\\Main\\Width"), 800);
}

TEST_F(PersistenceTest, SaveComesBackToTheVerySameCurrentSection) {
  // Texts that would resolve elsewhere: a descent written with a leading delimiter, and a
  // trailing delimiter before a step up.
  FStorage.SectionAdd("\\A\\B");
  FStorage.SetRootSection("A");
  ASSERT_TRUE(FStorage.ChangeDownRootSection("\\B"));
  FStorage.Save();
  EXPECT_EQ(FStorage.SectionName(), "B");
  FStorage.SetRootSection("A\\B\\");
  ASSERT_TRUE(FStorage.ChangeUpRootSection());
  FStorage.Save();
  EXPECT_EQ(FStorage.SectionName(), "A");
}

// A back end whose medium fails halfway: after one key on loading, at once on saving.
class TFailingData : public TrsStorageData {
 public:
  std::vector<std::string> Seen;  // states and notification switch while the work runs

 protected:
  void LoadData() override {
    Remember();
    Storage()->FindKeyItem("\\Read\\First", true);
    throw std::runtime_error("medium failed");
  }
  void SaveData() override {
    Remember();
    throw std::runtime_error("medium failed");
  }

 private:
  void Remember() {
    Seen.push_back(std::to_string(Storage()->CurrentStates()) + (Storage()->ClientList().Active() ? " on" : " muted"));
  }
};

TEST(PersistenceErrorTest, AFailingMediumLeavesAConsistentStorage) {
  std::vector<std::string> events;  // outlive the storage, whose destruction reports too
  TFailingData data;
  TrsStorage storage;
  TRecordingClient client;
  client.SetStorage(&storage);
  storage.SetStorageData(&data);
  storage.SetOnAfterLoad([&](void*) { events.push_back("storage AfterLoad"); });
  storage.SetOnAfterSave([&](void*) { events.push_back("storage AfterSave"); });
  data.SetOnAfterLoad([&](void*) { events.push_back("data AfterLoad"); });
  data.SetOnAfterSave([&](void*) { events.push_back("data AfterSave"); });

  storage.SetRootSection("Here");
  EXPECT_THROW(storage.Load(), std::runtime_error);
  EXPECT_TRUE(storage.KeyExist("\\Read\\First")) << "keys read before the error stay";
  EXPECT_EQ(storage.RootSection(), "") << "loading resets the current section";
  EXPECT_THROW(storage.Merge(), std::runtime_error);
  storage.SetRootSection("Here");
  EXPECT_THROW(storage.Save(), std::runtime_error);
  EXPECT_EQ(storage.RootSection(), "Here") << "saving restores it";

  EXPECT_EQ(storage.CurrentStates(), 0u);
  EXPECT_TRUE(storage.ClientList().Active());
  // Load runs with ssLoading, a Merge of its own with ssMerging, Save with ssSaving; loading
  // is muted, saving is not.
  EXPECT_THAT(data.Seen, ElementsAre(std::to_string(ssLoading) + " muted", std::to_string(ssMerging) + " muted",
                                     std::to_string(ssSaving) + " on"));
  EXPECT_THAT(events, ElementsAre("data AfterLoad", "data AfterLoad", "data AfterSave"))
      << "the storage's after-events do not fire";
  EXPECT_EQ(std::count(client.Kinds.begin(), client.Kinds.end(), scnLoad), 0);
}

TEST_F(PersistenceTest, LoadNotifiesAndReportsProgress) {
  FStorage.FindKeyItem("\\A\\x", true)->Value = Integer(1);
  FStorage.FindKeyItem("\\A\\y", true)->Value = Integer(2);
  FStorage.Save();
  TRecordingClient client;
  client.SetStorage(&FStorage);
  std::vector<int> percents;
  FData.SetOnProgress([&](TrsStorageData*, int APercent) { percents.push_back(APercent); });
  FStorage.Load();
  EXPECT_THAT(percents, ElementsAre(0, 50, 100));
  EXPECT_EQ(client.Kinds.back(), scnLoad);
  EXPECT_EQ(std::count(client.Kinds.begin(), client.Kinds.end(), scnKeyAdd), 0) << "loading is muted";
  FData.SetOnProgress(nullptr);
}

TEST_F(PersistenceTest, SaveChangesWritesOnlyWhatDiffersFromTheDefaults) {
  TrsStorage defaults;
  TMemoryData defaultData;
  defaults.SetStorageData(&defaultData);
  defaults.FindKeyItem("\\Main\\A", true)->Value = Integer(1);
  defaults.FindKeyItem("\\Main\\B", true)->Value = Integer(2);
  defaults.Save();

  FStorage.FindKeyItem("\\Main\\A", true)->Value = Integer(1);
  FStorage.FindKeyItem("\\Main\\B", true)->Value = Integer(5);
  FStorage.FindKeyItem("\\Main\\C", true)->Value = Integer(7);
  FEvents.clear();
  FStorage.SaveChanges(defaultData);
  EXPECT_THAT(FEvents, ElementsAre()) << "the storage's own events do not fire";

  TrsStorage written;
  TMemoryData writtenData;
  writtenData.Bytes = FData.Bytes;
  written.SetStorageData(&writtenData);
  written.Load();
  EXPECT_EQ(written.KeyItemCount(), 2);
  EXPECT_EQ(IntegerOf(written, "\\Main\\B"), 5);
  EXPECT_EQ(IntegerOf(written, "\\Main\\C"), 7);
}

TEST_F(PersistenceTest, ActiveLoadsAndSavesOnClose) {
  FStorage.FindKeyItem("\\K", true)->Value = Integer(4);
  FStorage.Save();
  TrsStorage reader;
  reader.SetStorageData(&FData);
  reader.SetActive(true);
  EXPECT_EQ(IntegerOf(reader, "\\K"), 4);
  reader.FindKeyItem("\\K", false)->Value = Integer(5);
  reader.SetActive(false);  // soSaveOnClose
  TrsStorage again;
  again.SetStorageData(&FData);
  again.Load();
  EXPECT_EQ(IntegerOf(again, "\\K"), 5);
}

TEST(StorageAssignTest, CopiesKeysAndTheCurrentSection) {
  TrsStorage source;
  source.FindKeyItem("\\A\\K", true)->Value = Integer(1);
  source.SectionAdd("\\Empty");
  source.SetRootSection("A");
  TrsStorage target;
  target.FindKeyItem("\\Gone", true);
  target.Assign(source);
  EXPECT_EQ(IntegerOf(target, "\\A\\K"), 1);
  EXPECT_FALSE(target.KeyExist("\\Gone"));
  EXPECT_FALSE(target.SectionExist("\\Empty")) << "sections without keys are not copied";
  EXPECT_EQ(target.RootSection(), "A");
}

TEST(StorageLinkTest, EitherSideMayGoFirst) {
  auto data = std::make_unique<TMemoryData>();
  auto storage = std::make_unique<TrsStorage>();
  storage->SetStorageData(data.get());
  EXPECT_EQ(data->Storage(), storage.get());
  data.reset();
  EXPECT_EQ(storage->StorageData(), nullptr);

  data = std::make_unique<TMemoryData>();
  storage->SetStorageData(data.get());
  storage.reset();
  EXPECT_EQ(data->Storage(), nullptr);

  // Attached without being linked: the back end still forgets a storage that goes.
  storage = std::make_unique<TrsStorage>();
  data->AttachStorage(storage.get());
  storage.reset();
  EXPECT_EQ(data->Storage(), nullptr);
}

}  // namespace
}  // namespace velloran
