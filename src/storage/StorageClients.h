// Storage clients: the components that hear about the changes of one storage, the kinds of
// change they can ask for, and the client list through which a storage notifies them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velloran {

enum TrsClientNotification : uint8_t {
  scnNone,
  scnClear,
  scnLoad,
  scnSectionAdd,
  scnSectionDelete,
  scnSectionModify,
  scnSectionClear,
  scnRootSectionChanged,
  scnKeyAdd,
  scnKeyDelete,
  scnKeyModify,
  scnKeyValueModify,
};

// A set of notification kinds: bit n for kind n.
using TrsClientNotifications = uint16_t;
constexpr int kClientNotificationCount = 12;
constexpr TrsClientNotifications kAllClientNotifications = (1u << kClientNotificationCount) - 1;
constexpr TrsClientNotifications ClientNotificationBit(TrsClientNotification AKind) {
  return static_cast<TrsClientNotifications>(1u << AKind);
}

class TrsStorage;
class TrsClientList;

// A component that hears about the changes of one storage. A subclass sets the kinds it
// wants before it is linked and overrides StorageNotification.
//
// The link is kept on both sides: a client is in the client list of exactly the storage its
// Storage() names. Destroying the client takes it out of that list; destroying the storage
// clears the client's link.
class TrsStorageClient {
 public:
  TrsStorageClient() = default;
  virtual ~TrsStorageClient();
  TrsStorageClient(const TrsStorageClient&) = delete;
  TrsStorageClient& operator=(const TrsStorageClient&) = delete;

  // An inactive client stays linked but is skipped when notifications are sent.
  bool Active() const { return FActive; }
  virtual void SetActive(bool AValue) { FActive = AValue; }
  TrsStorage* Storage() const { return FStorage; }
  // Leaves the old storage's client list and joins the new one's (null: none).
  virtual void SetStorage(TrsStorage* AValue);
  TrsClientNotifications Notifications() const { return FNotifications; }
  // Read when the client joins a list: a change counts from the next link on.
  void SetNotifications(TrsClientNotifications AValue) { FNotifications = AValue; }

 protected:
  // One notification of a kind the client wants. AWParam is the notification's text (a
  // section path, a key name or empty), valid during the call only; ALParam is 0. The client
  // may unlink itself or other clients from here.
  virtual void StorageNotification(TrsClientNotification AKind, const std::string& AWParam, intptr_t ALParam);

 private:
  friend class TrsClientList;

  bool FActive = true;
  TrsClientNotifications FNotifications = 0;
  TrsStorage* FStorage = nullptr;  // not owned
};

// The clients of one storage, in linking order, and sorted into one bucket per notification
// kind, so that a kind nobody wants costs one flag test. Owned by the storage; its Active
// switch is the storage's mute switch (off while it loads and during bulk removals).
class TrsClientList {
 public:
  explicit TrsClientList(TrsStorage* AOwner) : FOwner(AOwner) {}
  ~TrsClientList() { Clear(); }
  TrsClientList(const TrsClientList&) = delete;
  TrsClientList& operator=(const TrsClientList&) = delete;

  // Links AInstance to the owning storage (taking it from another storage's list first) and
  // files it in the buckets of the kinds it wants now; returns its index. A client already
  // listed keeps its place and its buckets.
  int32_t Add(TrsStorageClient* AInstance);
  // Takes the client at AIndex out of every bucket and the list and clears its link; an
  // index outside the list is ignored.
  void Delete(int32_t AIndex);
  void Remove(TrsStorageClient* AInstance);
  int32_t IndexOf(const TrsStorageClient* AInstance) const;
  int32_t Count() const { return static_cast<int32_t>(FList.size()); }
  TrsStorageClient* GetClient(int32_t AIndex) const { return FList.at(static_cast<size_t>(AIndex)); }
  // Unlinks every client and releases the buckets.
  void Clear();
  // Whether any listed client wants AValue.
  bool NotificationExist(TrsClientNotification AValue) const;
  // Unless muted: StorageNotification on every active client that wants AValue, in the
  // order they were linked. A client that leaves meanwhile is not called; one that joins
  // meanwhile hears from the next notification on.
  void DoNotification(TrsClientNotification AValue, const std::string& AWParam, intptr_t ALParam = 0);

  bool Active() const { return FActive; }
  void SetActive(bool AValue) { FActive = AValue; }

 private:
  struct TBucket {
    bool FPresent = false;  // FClients is not empty
    std::vector<TrsStorageClient*> FClients;
  };

  TrsStorage* FOwner;
  std::vector<TrsStorageClient*> FList;
  std::array<TBucket, kClientNotificationCount> FItems;
  bool FActive = true;
};

}  // namespace velloran
