#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "RecordingClient.h"
#include "Storage.h"

namespace velloran {
namespace {

using ::testing::ElementsAre;

// Full paths of the sections in array order.
std::vector<std::string> SectionOrder(const TrsStorage& AStorage) {
  std::vector<std::string> order;
  for (int i = 0; i < AStorage.SectionItemCount(); ++i) order.push_back(AStorage.SectionFullPath(i));
  return order;
}

// Full names of every key, in array order.
std::vector<std::string> KeyNames(TrsStorage& AStorage) {
  std::vector<std::string> names;
  for (int i = AStorage.KeyFirst(); i >= 0; i = AStorage.KeyNext()) names.push_back(AStorage.KeyWrapper().FullName());
  return names;
}

TEST(StorageModelTest, PathForms) {
  TrsStorage storage;
  ASSERT_NE(storage.FindKeyItem("\\Main\\FileName", true), nullptr);
  struct TCase {
    const char* Path;
    bool Exists;
  };
  const TCase cases[] = {
      {"\\Main\\FileName", true}, {"/Main/FileName", true},   {"\\main\\FILENAME", true},   {"Main\\FileName", true},
      {"\\Main/filename", true},  {"//Main\\FileName", true}, {"\\Main\\\\FileName", true},  // "\Main\" is "\Main"
      {"\\Main\\Other", false},   {"FileName", false},        {"\\FileName", false},        {"\\Main\\\\\\FileName", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(storage.KeyExist(c.Path), c.Exists) << c.Path;
  EXPECT_EQ(storage.KeyItemCount(), 1);
}

TEST(StorageModelTest, SectionPaths) {
  TrsStorage storage;
  storage.SectionAdd("\\A\\B");
  struct TCase {
    const char* Path;
    bool Resolves;
  };
  const TCase cases[] = {
      {"A", true},      {"A\\", true}, {"\\A\\B\\", true}, {"/a/b", true},  {"\\", true},
      {"\\\\\\", true}, {"", false},   {"A\\\\B", false},  {"A\\C", false}, {"B", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(storage.SectionExist(c.Path), c.Resolves) << c.Path;
  EXPECT_FALSE(storage.SectionAdd("A\\\\B")) << "two delimiters in a row create nothing";
  EXPECT_EQ(storage.SectionItemCount(), 2);
}

TEST(StorageModelTest, KeysRelativeToTheCurrentSection) {
  TrsStorage storage;
  storage.SetRootSection("Recent");
  storage.FindKeyItem("Item01", true);
  storage.FindKeyItem("\\Item01", true);
  storage.SetRootSection("");
  EXPECT_THAT(KeyNames(storage), ElementsAre("\\\\Item01", "\\Recent\\Item01"));
  // A key of the top reads "\\Item01", which resolves back to the same key.
  EXPECT_TRUE(storage.KeyExist("\\\\Item01"));
  EXPECT_EQ(storage.KeyWrapper().FullName(), "\\\\Item01");
}

TEST(StorageModelTest, WritingADeepKeyCreatesItsSections) {
  TrsStorage storage;
  storage.FindKeyItem("\\A\\B\\C", true);
  ASSERT_EQ(storage.SectionItemCount(), 2);
  EXPECT_EQ(storage.SectionItem(0).Name, "A");
  EXPECT_EQ(storage.SectionItem(0).Id, 1);
  EXPECT_EQ(storage.SectionItem(1).Id, 2);
  EXPECT_EQ(storage.SectionItem(1).ParentId, 1);
  EXPECT_EQ(storage.KeyItem(0).SectionId, 2);
  std::vector<std::string> list;
  storage.SectionList(list);
  EXPECT_THAT(list, ElementsAre("A"));
  EXPECT_EQ(storage.KeyWrapper().SectionFullName(), "A\\B");
  EXPECT_EQ(storage.KeyWrapper().SectionName(), "B");
  EXPECT_EQ(storage.KeyWrapper().SectionLevel(), 2);
}

TEST(StorageModelTest, SectionsSortByParentBeforeName) {
  TrsStorage storage;
  for (const char* path : {"\\B", "\\A", "\\B\\Y", "\\A\\X"}) storage.SectionAdd(path);
  EXPECT_THAT(SectionOrder(storage), ElementsAre("A", "B", "B\\Y", "A\\X"));
}

TEST(StorageModelTest, NamesCompareWithoutCaseInAnyScript) {
  TrsStorage storage;
  storage.FindKeyItem(
      "\\\xC3\x84rger\\Stra\xC3\x9F"
      "e",
      true);  // \Ärger\Straße
  EXPECT_TRUE(
      storage.KeyExist("\\\xC3\xA4RGER\\STRA\xC3\x9F"
                       "E"));  // \äRGER\STRAßE
  EXPECT_FALSE(storage.KeyExist("\\Arger\\Strasse")) << "accents still count";
  EXPECT_TRUE(SameName("Main", "MAIN"));
  EXPECT_FALSE(SameName("Main", "Mains"));
}

TEST(StorageModelTest, CurrentSectionMoves) {
  TrsStorage storage;
  storage.SetRootSection("A\\B");  // created
  EXPECT_TRUE(storage.SectionExist("\\A\\B"));
  EXPECT_EQ(storage.SectionName(), "B");
  EXPECT_FALSE(storage.ChangeDownRootSection("Missing"));
  EXPECT_EQ(storage.SectionName(), "B");
  EXPECT_EQ(storage.RootSection(), "A\\B");
  storage.SectionAdd("C");
  EXPECT_TRUE(storage.ChangeDownRootSection("C"));
  EXPECT_EQ(storage.RootSection(), "A\\B\\C");
  EXPECT_TRUE(storage.ChangeUpRootSection());
  EXPECT_TRUE(storage.ChangeUpRootSection());
  EXPECT_EQ(storage.RootSection(), "A");
  EXPECT_EQ(storage.SectionName(), "A");
  EXPECT_TRUE(storage.ChangeUpRootSection());
  EXPECT_EQ(storage.RootSection(), "");
  EXPECT_FALSE(storage.ChangeUpRootSection());
  // A failed descent leaves no start rule behind for the next path.
  EXPECT_FALSE(storage.ChangeDownRootSection(""));
  storage.SetRootSection("A");
  EXPECT_TRUE(storage.SectionExist("\\A\\B"));
}

TEST(StorageModelTest, ClearEmptiesTheSectionAndIdsComeBack) {
  TrsStorage storage;
  storage.FindKeyItem("\\Other\\K", true);  // id 1
  storage.FindKeyItem("\\S\\K", true);      // id 2
  storage.FindKeyItem("\\S\\T\\K", true);   // id 3
  storage.SetRootSection("S");
  storage.Clear();
  EXPECT_EQ(storage.KeyCount(), 0);
  EXPECT_EQ(storage.SectionCount(), 0);
  EXPECT_TRUE(storage.SectionExist("\\S"));
  EXPECT_TRUE(storage.KeyExist("\\Other\\K"));
  storage.SectionAdd("\\New");
  EXPECT_EQ(storage.SectionItem(0).Name, "New");
  EXPECT_EQ(storage.SectionItem(0).Id, 3) << "T's id, given again: the largest id left is 2";
}

TEST(StorageModelTest, DeletingTheCurrentSectionOrItsParentMakesTheTopCurrent) {
  for (const char* removed : {"\\P\\C", "\\P"}) {
    TrsStorage storage;
    storage.FindKeyItem("\\P\\C\\K", true);
    storage.FindKeyItem("\\Top", true);
    storage.SetRootSection("P\\C");
    storage.SectionDelete(removed);
    EXPECT_EQ(storage.RootSection(), "") << removed;
    EXPECT_EQ(storage.SectionName(), "") << removed;
    EXPECT_EQ(storage.KeyCount(), 1) << "the top's own key";
    EXPECT_TRUE(storage.KeyExist("Top"));
  }
  TrsStorage storage;
  storage.SectionDelete("\\");  // the top cannot go
  storage.SectionDelete("\\Missing");
  EXPECT_EQ(storage.SectionItemCount(), 0);
}

TEST(StorageModelTest, KeyRename) {
  TrsStorage storage;
  storage.FindKeyItem("\\S\\Old", true)->Value = TrsKeyValue{7, kvInteger, int32_t{42}};
  storage.FindKeyItem("\\S\\Existing", true);
  storage.KeyRename("\\S\\Missing", "\\S\\Existing");
  EXPECT_EQ(storage.KeyItemCount(), 2) << "a missing key changes nothing";

  storage.KeyRename("\\S\\Old", "\\T\\New");
  EXPECT_FALSE(storage.KeyExist("\\S\\Old"));
  const TrsKeyItem* renamed = storage.FindKeyItem("\\T\\New", false);
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(renamed->Value.Options, 7);
  EXPECT_EQ(renamed->Value.kvType, kvInteger);
  EXPECT_EQ(std::get<int32_t>(renamed->Value.Value), 42);

  storage.KeyRename("\\T\\New", "\\T\\NEW");  // the same key: it keeps its value
  ASSERT_NE(storage.FindKeyItem("\\t\\new", false), nullptr);
  EXPECT_EQ(storage.FindKeyItem("\\t\\new", false)->Name, "NEW");
  EXPECT_EQ(std::get<int32_t>(storage.FindKeyItem("\\t\\new", false)->Value.Value), 42);
}

TEST(StorageModelTest, KeyIterationCoversTheStoreOrTheCurrentSection) {
  TrsStorage storage;
  for (const char* key : {"\\Top", "\\A\\K1", "\\A\\K2", "\\B\\K"}) storage.FindKeyItem(key, true);
  EXPECT_THAT(KeyNames(storage), ElementsAre("\\\\Top", "\\A\\K1", "\\A\\K2", "\\B\\K"));
  storage.SetRootSection("A");
  EXPECT_THAT(KeyNames(storage), ElementsAre("\\A\\K1", "\\A\\K2"));
  EXPECT_EQ(storage.KeyLast(), 2);
  EXPECT_EQ(storage.KeyPrior(), 1);
  EXPECT_EQ(storage.KeyPrior(), -1);
  EXPECT_EQ(storage.KeyPrior(), -1);
  std::vector<std::string> sections;
  for (int i = storage.SectionFirst(); i >= 0; i = storage.SectionNext()) sections.push_back(storage.SectionWrapper().FullName());
  EXPECT_THAT(sections, ElementsAre("A", "B"));
  EXPECT_FALSE(storage.SectionWrapper().Assigned());
}

TEST(StorageModelTest, TypeAndOptionsOfMissingKeys) {
  TrsStorage storage;
  EXPECT_EQ(storage.GetKeyType("\\Missing"), -1);
  EXPECT_EQ(storage.GetKeyOptions("\\Missing"), 0);
  storage.SetKeyOptions("\\Missing", 3);
  storage.SetKeyType("\\Missing", kvInteger);
  EXPECT_EQ(storage.KeyItemCount(), 0);
  storage.FindKeyItem("\\K", true)->Value = TrsKeyValue{0, kvString, std::string("text")};
  storage.SetKeyType("\\K", kvInteger);
  EXPECT_EQ(storage.GetKeyType("\\K"), kvInteger);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(storage.FindKeyItem("\\K", false)->Value.Value))
      << "a text is never read as an integer";
}

TEST(StorageModelTest, NotificationsAndKeyEvents) {
  std::vector<std::string> events;  // outlives the storage, whose destruction reports too
  TrsStorage storage;
  TRecordingClient client;
  client.SetStorage(&storage);
  storage.SetOnKeyAdd([&](TrsStorage*, const std::string& AKey) { events.push_back("+" + AKey); });
  storage.SetOnKeyDeletion([&](TrsStorage*, const std::string& AKey) { events.push_back("-" + AKey); });

  storage.SectionAdd("\\A\\B");
  storage.FindKeyItem("\\A\\K", true);
  storage.SetRootSection("A");
  storage.Clear();
  storage.SectionAdd("\\D");
  storage.SectionDelete("\\D");
  storage.FindKeyItem("\\Z", true);
  storage.ClearAll();
  EXPECT_THAT(client.Heard, ElementsAre("3:A\\B", "8:K", "7:A", "6:A", "3:D", "4:D", "8:Z", "1:"));
  EXPECT_THAT(events, ElementsAre("+K", "-K", "+Z", "-Z")) << "events fire also while notifications are muted";
}

TEST(StorageModelTest, KeyAddHandlerThatAddsKeysDoesNotMisplaceTheNewKey) {
  TrsStorage storage;
  storage.FindKeyItem("\\S\\M", true);
  bool adding = false;
  storage.SetOnKeyAdd([&](TrsStorage* Sender, const std::string&) {
    if (adding) return;
    adding = true;
    Sender->FindKeyItem("\\S\\A", true);  // sorts before the key being added
    adding = false;
  });
  TrsKeyItem* added = storage.FindKeyItem("\\S\\Z", true);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Name, "Z");
  EXPECT_EQ(storage.KeyWrapper().Name(), "Z");
}

TEST(StorageModelTest, SectionRenameMovesTheContent) {
  TrsStorage storage;
  storage.FindKeyItem("\\Old\\K", true)->Value = TrsKeyValue{0, kvInteger, int32_t{1}};
  storage.FindKeyItem("\\Old\\Sub\\L", true);
  storage.SectionAdd("\\Old\\Empty");
  storage.FindKeyItem("\\New\\Stale", true);
  storage.SectionRename("\\Old", "\\New");
  EXPECT_FALSE(storage.SectionExist("\\Old"));
  EXPECT_FALSE(storage.KeyExist("\\New\\Stale")) << "the target is emptied first";
  EXPECT_TRUE(storage.SectionExist("\\New\\Empty"));
  EXPECT_TRUE(storage.KeyExist("\\New\\Sub\\L"));
  ASSERT_NE(storage.FindKeyItem("\\New\\K", false), nullptr);
  EXPECT_EQ(std::get<int32_t>(storage.FindKeyItem("\\New\\K", false)->Value.Value), 1);
  storage.SectionRename("\\Missing", "\\Other");
  EXPECT_FALSE(storage.SectionExist("\\Other"));
}

// Random structural work, checked after every step against what the arrays themselves say:
// both stay sorted, the current section's ranges match its runs, and every key is found by
// its full name (through the caches, which must never change a result).
TEST(StorageModelTest, RandomWorkKeepsTheInvariants) {
  TrsStorage storage;
  std::mt19937 random(11);
  const char* names[] = {"a", "B", "c", "D", "e"};
  const auto pick = [&] { return std::string(names[random() % 5]); };
  // Built with +=: g++ 12 at -O3 warns falsely about "text" + std::string temporaries.
  const auto somePath = [&] {
    std::string path;
    for (auto depth = random() % 3 + 1; depth > 0; --depth) {
      path += '\\';
      path += pick();
    }
    return path;
  };
  const auto keyIn = [&](std::string APath) {
    APath += '\\';
    APath += pick();
    return APath;
  };
  for (int step = 0; step < 3000; ++step) {
    switch (random() % 8) {
      case 0:
      case 1:
      case 2:
        storage.FindKeyItem(keyIn(somePath()), true);
        break;
      case 3:
        storage.KeyDelete(keyIn(somePath()));
        break;
      case 4:
        storage.SectionDelete(somePath());
        break;
      case 5:
        storage.SetRootSection(random() % 3 == 0 ? std::string() : somePath().substr(1));
        break;
      case 6:
        storage.FindKeyItem(pick(), true);  // relative to the current section
        break;
      default:
        if (random() % 10 == 0) storage.Clear();
        break;
    }
    SCOPED_TRACE(step);
    for (int i = 1; i < storage.SectionItemCount(); ++i) {
      const TrsSectionItem& a = storage.SectionItem(i - 1);
      const TrsSectionItem& b = storage.SectionItem(i);
      ASSERT_TRUE(a.ParentId < b.ParentId || (a.ParentId == b.ParentId && a.SortKey < b.SortKey));
    }
    for (int i = 1; i < storage.KeyItemCount(); ++i) {
      const TrsKeyItem& a = storage.KeyItem(i - 1);
      const TrsKeyItem& b = storage.KeyItem(i);
      ASSERT_TRUE(a.SectionId < b.SectionId || (a.SectionId == b.SectionId && a.SortKey < b.SortKey));
    }
    const int current = storage.CurrentSectionIndex();
    const int32_t currentId = current < 0 ? 0 : storage.SectionItem(current).Id;
    std::vector<std::string> keys, expectedKeys, sections, expectedSections;
    storage.KeyList(keys);
    storage.SectionList(sections);
    for (int i = 0; i < storage.KeyItemCount(); ++i) {
      if (storage.KeyItem(i).SectionId == currentId) expectedKeys.push_back(storage.KeyItem(i).Name);
    }
    for (int i = 0; i < storage.SectionItemCount(); ++i) {
      if (storage.SectionItem(i).ParentId == currentId) expectedSections.push_back(storage.SectionItem(i).Name);
    }
    ASSERT_EQ(keys, expectedKeys);
    ASSERT_EQ(sections, expectedSections);
    ASSERT_EQ(storage.KeyCount(), static_cast<int>(keys.size()));
    ASSERT_EQ(storage.SectionCount(), static_cast<int>(sections.size()));
    for (int i = 0; i < storage.KeyItemCount(); ++i) {
      const std::string fullName = storage.KeyFullName(i);
      TrsKeyItem* key = storage.FindKeyItem(fullName, false);
      ASSERT_EQ(key, &storage.KeyItem(i));
    }
  }
}

// Every section and key with its value's kind, as one text: "no change" means equal dumps.
std::string Dump(TrsStorage& AStorage) {
  std::string dump = AStorage.RootSection() + "|";
  for (int i = 0; i < AStorage.SectionItemCount(); ++i) dump += AStorage.SectionFullPath(i) + ";";
  for (int i = 0; i < AStorage.KeyItemCount(); ++i)
    dump += std::to_string(AStorage.KeyItem(i).SectionId) + ":" + AStorage.KeyItem(i).Name + ";";
  return dump;
}

TEST(StorageBadInputTest, PathsThatDoNotResolveChangeNothing) {
  const std::vector<std::pair<const char*, std::function<void(TrsStorage&)>>> operations = {
      {"SectionAdd", [](TrsStorage& S) { S.SectionAdd("X\\\\Y"); }},
      {"SectionAdd absolute", [](TrsStorage& S) { S.SectionAdd("\\P\\\\Q"); }},
      {"SetRootSection", [](TrsStorage& S) { S.SetRootSection("X\\\\Y"); }},
      {"SectionClear", [](TrsStorage& S) { S.SectionClear("X\\\\Y"); }},
      {"SectionLoadFromStream",
       [](TrsStorage& S) {
         std::istringstream empty(std::string(8, '\0'));
         S.SectionLoadFromStream("X\\\\Y", empty);
       }},
      {"FindKeyItem", [](TrsStorage& S) { S.FindKeyItem("\\P\\\\Q\\K", true); }},
      {"KeyRename", [](TrsStorage& S) { S.KeyRename("\\A\\K", "\\X\\\\Y\\K"); }},
      {"SectionRename", [](TrsStorage& S) { S.SectionRename("\\A", "X\\\\Y"); }},
      {"SectionDelete", [](TrsStorage& S) { S.SectionDelete("A\\\\K"); }},
      {"KeyDelete", [](TrsStorage& S) { S.KeyDelete("\\A\\\\\\K"); }},
  };
  for (const auto& [name, operation] : operations) {
    TrsStorage storage;
    storage.FindKeyItem("\\A\\K", true);
    storage.FindKeyItem("\\Top", true);
    const std::string before = Dump(storage);
    operation(storage);
    EXPECT_EQ(Dump(storage), before) << name;
  }
}

TEST(StorageBadInputTest, ArgumentsThatPointIntoTheStoreSurviveItsGrowth) {
  TrsStorage storage;
  for (int i = 0; i < 8; ++i) storage.SectionAdd("\\S" + std::to_string(i));  // the array is full now
  storage.SectionFirst();
  storage.SetRootSection(storage.SectionWrapper().Name() + std::string("\\New"));
  EXPECT_EQ(storage.RootSection(), "S0\\New");
  storage.FindKeyItem("\\K", true);
  storage.SectionAdd(storage.KeyWrapper().Name());  // a view into the key array
  EXPECT_TRUE(storage.SectionExist("\\S0\\New\\K"));
}

TEST(StorageCacheTest, CachedPathsNeverChangeAResult) {
  // Whole paths that collate equal without naming the same sections: a soft hyphen is
  // ignorable in collation, so only the per-name comparison may decide.
  TrsStorage storage;
  storage.FindKeyItem("\\A\\K", true)->Value = TrsKeyValue{0, kvInteger, int32_t{1}};
  storage.FindKeyItem("\\R\\\xC2\xAD\\A\\K", true)->Value = TrsKeyValue{0, kvInteger, int32_t{2}};
  storage.SetRootSection("R");
  const TrsKeyItem* relative = storage.FindKeyItem("\xC2\xAD\\A\\K", false);
  const TrsKeyItem* absolute = storage.FindKeyItem("\\A\\K", false);
  ASSERT_NE(relative, nullptr);
  ASSERT_NE(absolute, nullptr);
  EXPECT_EQ(std::get<int32_t>(absolute->Value.Value), 1);
  EXPECT_EQ(std::get<int32_t>(relative->Value.Value), 2);
}

TEST(StorageHandlerTest, DeletionHandlersThatChangeKeysDoNotMisplaceTheRemoval) {
  TrsStorage storage;
  storage.FindKeyItem("\\S\\B", true);
  storage.FindKeyItem("\\S\\C", true);
  bool once = false;
  storage.SetOnKeyDeletion([&](TrsStorage* Sender, const std::string&) {
    if (once) return;
    once = true;
    Sender->FindKeyItem("\\S\\A", true);  // sorts before the key being removed
  });
  storage.KeyDelete("\\S\\C");
  EXPECT_TRUE(storage.KeyExist("\\S\\A"));
  EXPECT_TRUE(storage.KeyExist("\\S\\B"));
  EXPECT_FALSE(storage.KeyExist("\\S\\C"));
}

TEST(StorageHandlerTest, AThrowingHandlerLeavesNoStateBehind) {
  TrsStorage storage;
  storage.FindKeyItem("\\S\\K", true);
  storage.SetOnKeyDeletion([](TrsStorage*, const std::string&) { throw std::runtime_error("handler failed"); });
  EXPECT_THROW(storage.ClearAll(), std::runtime_error);
  EXPECT_EQ(storage.CurrentStates(), 0u);
  EXPECT_TRUE(storage.ClientList().Active());
  storage.SetRootSection("S");
  EXPECT_THROW(storage.Clear(), std::runtime_error);
  EXPECT_TRUE(storage.ClientList().Active());
  storage.SetOnKeyDeletion(nullptr);
}

TEST(StorageModelTest, SectionRenameOfTheTopCopiesEverything) {
  TrsStorage storage;
  storage.FindKeyItem("\\K", true);
  storage.FindKeyItem("\\A\\L", true);
  storage.SectionRename("\\", "\\Copy");
  EXPECT_TRUE(storage.KeyExist("\\Copy\\K"));
  EXPECT_TRUE(storage.KeyExist("\\Copy\\A\\L"));
  EXPECT_TRUE(storage.KeyExist("\\A\\L")) << "the top itself cannot go";
}

TEST(StorageModelTest, SectionRenameNeverRemovesAnUnrelatedSection) {
  TrsStorage storage;
  storage.FindKeyItem("\\T\\C\\Src\\K", true);
  storage.FindKeyItem("\\Src\\Unrelated", true);
  storage.SetRootSection("T\\C");
  storage.SectionRename("Src", "\\T");  // emptying \T removes the current section and the source
  EXPECT_TRUE(storage.KeyExist("\\Src\\Unrelated"));
  EXPECT_TRUE(storage.KeyExist("\\T\\K"));
}

}  // namespace
}  // namespace velloran
