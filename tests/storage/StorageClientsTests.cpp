#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MemoryData.h"
#include "RecordingClient.h"
#include "Storage.h"

namespace velloran {
namespace {

using ::testing::ElementsAre;

// A client whose handler the test supplies.
class TCallbackClient : public TrsStorageClient {
 public:
  using THandler = std::function<void(TrsClientNotification AKind, const std::string& AText)>;
  explicit TCallbackClient(THandler AHandler) : FHandler(std::move(AHandler)) { SetNotifications(kAllClientNotifications); }

 protected:
  void StorageNotification(TrsClientNotification AKind, const std::string& AWParam, intptr_t /*ALParam*/) override {
    FHandler(AKind, AWParam);
  }

 private:
  THandler FHandler;
};

TEST(StorageClientTest, AKeyAddClientHearsNewKeysOnlyAndNothingWhileLoading) {
  TMemoryData data;
  TrsStorage storage;
  storage.SetStorageData(&data);
  TRecordingClient client(ClientNotificationBit(scnKeyAdd));
  client.SetStorage(&storage);
  EXPECT_TRUE(storage.ClientList().NotificationExist(scnKeyAdd));
  EXPECT_FALSE(storage.ClientList().NotificationExist(scnSectionAdd));

  storage.SectionAdd("\\A");
  storage.WriteInteger("\\A\\x", 1);
  storage.WriteInteger("\\A\\x", 2);  // an existing key: nothing added
  storage.WriteString("\\A\\y", "t");
  storage.SetRootSection("B");
  storage.SectionDelete("\\A");
  EXPECT_THAT(client.Heard, ElementsAre("8:x", "8:y"));

  storage.WriteInteger("\\C\\z", 3);
  storage.Save();
  client.Heard.clear();
  storage.Load();
  EXPECT_TRUE(storage.KeyExist("\\C\\z"));
  EXPECT_THAT(client.Heard, ElementsAre()) << "loading is muted; scnLoad is not wanted";
}

TEST(StorageClientTest, RemoveThenAddAgainRegistersTheBucketsAnew) {
  TrsStorage storage;
  TRecordingClient keys(ClientNotificationBit(scnKeyAdd));
  TRecordingClient sections(ClientNotificationBit(scnSectionAdd));
  keys.SetStorage(&storage);
  sections.SetStorage(&storage);
  TrsClientList& list = storage.ClientList();
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetClient(0), &keys);
  EXPECT_EQ(list.IndexOf(&sections), 1);
  EXPECT_EQ(list.Add(&sections), 1) << "a listed client is listed once";

  list.Remove(&sections);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(sections.Storage(), nullptr);
  EXPECT_FALSE(list.NotificationExist(scnSectionAdd)) << "its emptied bucket is gone";
  EXPECT_TRUE(list.NotificationExist(scnKeyAdd));
  storage.SectionAdd("\\S");
  EXPECT_THAT(sections.Heard, ElementsAre());

  // The kinds are read when the client joins.
  sections.SetNotifications(ClientNotificationBit(scnSectionAdd) | ClientNotificationBit(scnSectionDelete));
  EXPECT_EQ(list.Add(&sections), 1);
  EXPECT_EQ(sections.Storage(), &storage);
  sections.SetNotifications(0);  // counts from the next link on
  storage.SectionAdd("\\T");
  storage.SectionDelete("\\S");
  EXPECT_THAT(sections.Heard, ElementsAre("3:T", "4:S"));

  list.Delete(-1);
  list.Delete(2);
  EXPECT_EQ(list.Count(), 2) << "indexes outside the list are ignored";
  list.Delete(0);
  EXPECT_EQ(keys.Storage(), nullptr);
  EXPECT_FALSE(list.NotificationExist(scnKeyAdd));
}

TEST(StorageClientTest, ActiveClientsHearInLinkingOrderUnlessMuted) {
  TrsStorage storage;
  std::vector<std::string> heard;
  TCallbackClient first([&](TrsClientNotification, const std::string& AText) { heard.push_back("first " + AText); });
  TCallbackClient second([&](TrsClientNotification, const std::string& AText) { heard.push_back("second " + AText); });
  TCallbackClient third([&](TrsClientNotification, const std::string& AText) { heard.push_back("third " + AText); });
  for (TrsStorageClient* client : std::vector<TrsStorageClient*>{&third, &first, &second}) client->SetStorage(&storage);

  storage.SectionAdd("\\A");
  second.SetActive(false);
  storage.SectionAdd("\\B");
  storage.ClientList().SetActive(false);
  storage.SectionAdd("\\C");
  storage.ClientList().SetActive(true);
  EXPECT_THAT(heard, ElementsAre("third A", "first A", "second A", "third B", "first B"));
  EXPECT_EQ(second.Storage(), &storage) << "an inactive client stays linked";
}

TEST(StorageClientTest, AHandlerMayUnlinkOrDestroyClients) {
  TrsStorage storage;
  std::vector<std::string> heard;
  auto doomed = std::make_unique<TCallbackClient>([&](TrsClientNotification, const std::string&) { heard.push_back("doomed"); });
  TCallbackClient leaving([&](TrsClientNotification, const std::string&) { heard.push_back("leaving"); });
  TCallbackClient killer([&](TrsClientNotification, const std::string&) {
    heard.push_back("killer");
    doomed.reset();               // destroyed while the list runs
    leaving.SetStorage(nullptr);  // unlinked while the list runs
  });
  killer.SetStorage(&storage);
  doomed->SetStorage(&storage);
  leaving.SetStorage(&storage);

  storage.SectionAdd("\\A");
  EXPECT_THAT(heard, ElementsAre("killer"));
  EXPECT_EQ(storage.ClientList().Count(), 1);
}

TEST(StorageClientTest, EitherSideMayGoFirst) {
  auto storage = std::make_unique<TrsStorage>();
  auto client = std::make_unique<TRecordingClient>();
  client->SetStorage(storage.get());
  client.reset();
  EXPECT_EQ(storage->ClientList().Count(), 0);
  storage->SectionAdd("\\A");  // would reach the destroyed client were it still listed

  client = std::make_unique<TRecordingClient>();
  client->SetStorage(storage.get());
  storage.reset();
  EXPECT_EQ(client->Storage(), nullptr);
  EXPECT_EQ(client->Kinds.back(), scnClear) << "a storage that goes clears itself first";
  client->SetStorage(nullptr);
  client.reset();  // must not reach the destroyed storage
}

TEST(StorageClientTest, AClientListensToOneStorageAtATime) {
  TrsStorage a;
  TrsStorage b;
  TRecordingClient client;
  client.SetStorage(&a);
  client.SetStorage(&b);
  EXPECT_EQ(a.ClientList().Count(), 0);
  EXPECT_EQ(b.ClientList().Count(), 1);
  a.SectionAdd("\\FromA");
  b.SectionAdd("\\FromB");
  EXPECT_THAT(client.Heard, ElementsAre("3:FromB"));

  // Joining a list directly moves the link too.
  a.ClientList().Add(&client);
  EXPECT_EQ(client.Storage(), &a);
  EXPECT_EQ(b.ClientList().Count(), 0);
}

}  // namespace
}  // namespace velloran
