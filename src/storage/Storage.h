// TrsStorage keeps an application's settings in memory as a tree of named sections holding
// named, typed keys; every key has a path such as "\Main\FileName" ("/" works as well).
//
// The tree is two flat arrays: sections sorted by (ParentId, Name) and keys sorted by
// (SectionId, Name), so the subsections and the keys of any section are one contiguous run
// and lookups are binary searches. Names compare case-insensitively under the user locale's
// collation (ICU, secondary strength); every item keeps its name's collation sort key, so
// sorting, lookup and both caches use one and the same comparison.
//
// Threading: not thread-safe. Lock/Unlock offer a re-entrant lock to callers who share a
// storage between threads; no operation takes it by itself.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "PlatformSystem.h"
#include "StorageUtils.h"
#include "Variant.h"

// OpenSSL's EVP_CIPHER, kept out of this header.
struct evp_cipher_st;

namespace velloran {

// Value kinds; the numbers are stored in section streams and returned by GetKeyType.
enum TrsKeyValueKind : uint16_t {
  kvUnknown = 0,
  kvString = 1,
  kvBuffer = 2,
  kvInteger = 3,
  kvDouble = 4,
  kvCurrency = 5,
  kvDateTime = 6,
  kvBoolean = 7,
  kvPoint = 8,
  kvInt64 = 9,
  kvPointer = 10,
};

struct TrsPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TrsPoint&, const TrsPoint&) = default;
};

// One key's value: the caller's options word, the kind, and the value the kind names.
// Integer and Boolean live in the int32 alternative, Double and DateTime in double,
// Currency (1/10,000 units) and Int64 in int64.
struct TrsKeyValue {
  using TValue = std::variant<std::monostate, int32_t, int64_t, double, TrsPoint, const void*, std::string, std::vector<uint8_t>>;

  uint16_t Options = 0;
  uint16_t kvType = kvUnknown;
  TValue Value;

  // Releases the value, keeping the kind word.
  void Clear() { Value = std::monostate{}; }
};

struct TrsSectionItem {
  std::string Name;      // never empty, never holding a delimiter
  std::string SortKey;   // collation key of Name: what sorting and lookups compare
  int32_t Id = 0;        // unique, at least 1
  int32_t ParentId = 0;  // 0: directly under the top
};

struct TrsKeyItem {
  std::string Name;
  std::string SortKey;
  int32_t SectionId = 0;  // 0: a key of the top
  TrsKeyValue Value;
};

// The keys of a store in one global order, by (SectionId, Name), addressed by a global index,
// but kept as one sorted run per section: adding or removing a key moves only the keys of its
// own section. A Fenwick tree over the sections' key counts turns a global index into
// (section, position) and back in O(log sections).
class TrsKeyArray {
 public:
  int Count() const { return FCount; }
  TrsKeyItem& operator[](int AIndex);
  const TrsKeyItem& operator[](int AIndex) const;
  // The global index range [begin, end) of the keys of ASectionId.
  std::pair<int, int> Run(int32_t ASectionId) const;
  // The global index of the first key of ASectionId whose sort key is not below ASortKey
  // (the end of the run when there is none).
  int LowerBound(int32_t ASectionId, const std::string& ASortKey) const;
  // Inserts AItem at its sorted place in its section; returns its global index.
  int Insert(TrsKeyItem AItem);
  // Removes [ABegin, AEnd), which lie in one section.
  void Erase(int ABegin, int AEnd);
  void Clear();

 private:
  std::vector<TrsKeyItem>& SectionKeys(int32_t AId);
  int CountBefore(int32_t AId) const;  // keys of the sections with a smaller id
  void AddToCount(int32_t AId, int ADelta);
  std::pair<int32_t, int> Locate(int AIndex) const;  // (section id, position in it)

  std::vector<std::vector<TrsKeyItem>> FBySection;  // index: section id (0: the top)
  std::vector<int> FTree;                           // Fenwick tree of the run lengths, 1-based
  int FCount = 0;
};

enum TrsStorageOption : unsigned { soSaveOnClose = 1u << 0, soSaveEmptySection = 1u << 1 };
using TrsStorageOptions = unsigned;

enum TrsStorageState : unsigned {
  ssClearing = 1u << 0,
  ssLoading = 1u << 1,
  ssMerging = 1u << 2,
  ssSaving = 1u << 3,
  ssSavingChanges = 1u << 4,
};
using TrsStorageStates = unsigned;

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
class TrsStorageData;
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

// Encrypts chosen keys, chosen sections or the whole store of a storage just before it is
// saved, and decrypts them right after it is loaded or saved, so that the medium only ever
// holds the encrypted form. The cipher is a subclass's: the four buffer hooks, which the base
// class leaves missing (-1). A storage refuses to link an encryptor whose cipher does not
// give back what it encrypted.
//
// Encrypted forms. A key: Base64 text (unpadded) of the cipher's output over the value's kind
// as a 16-bit little-endian word followed by the value's bytes (the UTF-16LE code units of a
// text, the bytes of a buffer, 8 bytes for any other kind); a buffer key keeps being a
// buffer, every other key becomes a text. A section, or the whole store: the cipher's output
// over its section stream, held as a kvBuffer by the key with the empty name in that section
// (in the top). A value that does not decrypt (not Base64, refused by the cipher, a kind word
// above 10, bytes that do not fit the kind) is left as it is.
//
// Threading: runs on the thread of its storage, like the storage itself.
class TrsEncryptor {
 public:
  TrsEncryptor() = default;
  virtual ~TrsEncryptor();
  TrsEncryptor(const TrsEncryptor&) = delete;
  TrsEncryptor& operator=(const TrsEncryptor&) = delete;

  bool Active() const { return FActive; }
  void SetActive(bool AValue) { FActive = AValue; }
  // The whole store instead of EncryptKeys.
  bool EncryptAll() const { return FEncryptAll; }
  void SetEncryptAll(bool AValue) { FEncryptAll = AValue; }
  // Key paths and section paths, taken from the top ("Main\Secret" is "\Main\Secret"). A path
  // ending in a delimiter names a section only; any other names the key of that path when
  // there is one, else the section. Paths that name nothing are skipped.
  const std::vector<std::string>& EncryptKeys() const { return FEncryptKeys; }
  void SetEncryptKeys(std::vector<std::string> AValue) { FEncryptKeys = std::move(AValue); }
  // The storage served: set by the storage when it links the encryptor and before each use.
  TrsStorage* Storage() const { return FStorage; }
  // The value kind found in the last key encrypted or decrypted.
  uint16_t TempKeyType() const { return FTempKeyType; }

 public:  // run by the storage: encrypt before a save, decrypt after a load or save
  virtual void DoDecrypt();
  virtual void DoDecryptAll();
  virtual void DoDecryptKey(std::string_view AKey);
  virtual void DoDecryptSection(std::string_view ASection);
  // The decrypted bytes of an encrypted key (its kind into TempKeyType), or empty.
  virtual std::string GetDecryptedKey(std::string_view AKey);
  // The text GetEncryptedValue encrypted, or empty.
  virtual std::string GetDecryptedValue(std::string_view AValue);
  virtual void DoEncrypt();
  virtual void DoEncryptAll();
  virtual void DoEncryptKey(std::string_view AKey);
  virtual void DoEncryptSection(std::string_view ASection);
  // The encrypted form of a key as Base64 text (its kind into TempKeyType); empty for a
  // missing key.
  virtual std::string GetEncryptedKey(std::string_view AKey);
  // A text outside the store encrypted as a text key would be, as Base64 text.
  virtual std::string GetEncryptedValue(std::string_view AValue);
  // Whether the key holds the encrypted form of AValue: a way to check a plain value against
  // a stored encrypted one, which needs a deterministic cipher.
  virtual bool IsSameEncryptedKey(std::string_view AKey, std::string_view AValue);

  // Base64 without padding: 4 characters per 3 bytes, 2 or 3 for a last group of 1 or 2.
  static std::string Base64Encode(std::string_view ABytes);
  // The bytes of unpadded Base64 text; empty for text holding anything outside the alphabet
  // ("=" included) or ending in a single character.
  static std::string Base64Decode(std::string_view AText);

 protected:  // the cipher: ASize bytes at AData, in a buffer of at least the announced size
  // Decrypts in place; returns the decrypted size, or -1 when the data is refused.
  virtual int32_t DecryptBuffer(uint8_t* /*AData*/, int32_t /*ASize*/) { return -1; }
  // Encrypts in place; returns the encrypted size, or -1 on failure.
  virtual int32_t EncryptBuffer(uint8_t* /*AData*/, int32_t /*ASize*/) { return -1; }
  // The buffer size the hooks need for ASize bytes of input.
  virtual int32_t DecryptBufferSize(int32_t /*ASize*/) { return -1; }
  virtual int32_t EncryptBufferSize(int32_t /*ASize*/) { return -1; }

  // The hooks with the buffer handling around them. Encrypting throws TrsException when the
  // cipher fails (storing the plain value instead would leak it); decrypting gives empty
  // bytes for data the cipher refuses.
  std::string EncryptBytes(std::string ABytes);
  std::string DecryptBytes(std::string ABytes);

 private:
  friend class TrsStorage;

  // Whether the hooks give back what they encrypted: false for the base class's.
  bool CipherWorks();
  void Encrypt(const std::string& AEntry);
  void Decrypt(const std::string& AEntry);
  // Puts the section stream ABlock into ASection ("" for the top) beside what it holds.
  bool MergeBlock(const std::string& ASection, const std::string& ABlock);

  bool FActive = true;
  bool FEncryptAll = false;
  TrsStorage* FStorage = nullptr;  // not owned
  std::vector<std::string> FEncryptKeys;
  uint16_t FTempKeyType = 0;
  std::vector<TrsStorage*> FLinkedTo;  // every storage that links this encryptor
};

// AES-256-SIV (RFC 5297) from OpenSSL: deterministic, so IsSameEncryptedKey works, and
// authenticated, so a wrong key or damaged data is refused (DecryptBuffer gives -1) instead
// of decrypting to garbage. The output is the 16-byte synthetic IV followed by the
// ciphertext. The key is wiped from memory when the encryptor goes.
class TrsAesSivEncryptor : public TrsEncryptor {
 public:
  static constexpr size_t kKeySize = 64;  // two AES-256 keys: one for the MAC, one for CTR
  static constexpr int32_t kTagSize = 16;

  // Throws TrsException when the crypto library offers no AES-256-SIV.
  explicit TrsAesSivEncryptor(const std::array<uint8_t, kKeySize>& AKey);
  ~TrsAesSivEncryptor() override;

  // The key derived from a passphrase with PBKDF2-HMAC-SHA256, 100,000 iterations and a
  // fixed application salt: the same passphrase opens the settings on every machine.
  static std::unique_ptr<TrsAesSivEncryptor> FromPassphrase(std::string_view APassphrase);

 protected:
  // Refuses an empty buffer: SIV in OpenSSL cannot encrypt 0 bytes, and the storage never
  // asks for it (every payload holds at least a kind word or a section block).
  int32_t EncryptBuffer(uint8_t* AData, int32_t ASize) override;
  int32_t DecryptBuffer(uint8_t* AData, int32_t ASize) override;
  int32_t EncryptBufferSize(int32_t ASize) override {
    return ASize >= 0 && ASize <= INT32_MAX - kTagSize ? ASize + kTagSize : -1;
  }
  int32_t DecryptBufferSize(int32_t ASize) override { return ASize; }

 private:
  std::array<uint8_t, kKeySize> FKey{};
  evp_cipher_st* FCipher = nullptr;
};

// Accessor of one key: the one found by the last key lookup or iteration step.
class TrsKeyWrapper {
 public:
  explicit TrsKeyWrapper(TrsStorage* AStorage) : FStorage(AStorage) {}

  bool Assigned() const;
  TrsStorage* Storage() const { return FStorage; }
  const std::string& Name() const;
  std::string FullName() const;
  std::string SectionName() const;
  std::string SectionFullName() const;
  int SectionLevel() const;
  uint16_t KeyType() const;
  void SetKeyType(uint16_t AValue);
  uint16_t KeyOptions() const;
  void SetKeyOptions(uint16_t AValue);
  TrsKeyItem* Item() const;

 public:  // the current key's value, read and written with the storage's conversions
  std::string AsString() const;
  void SetAsString(std::string_view AValue);
  int32_t AsInteger() const;
  void SetAsInteger(int32_t AValue);
  int64_t AsInt64() const;
  void SetAsInt64(int64_t AValue);
  double AsFloat() const;
  void SetAsFloat(double AValue);
  TrsCurrency AsCurrency() const;
  void SetAsCurrency(TrsCurrency AValue);
  double AsDateTime() const;
  void SetAsDateTime(double AValue);
  bool AsBoolean() const;
  void SetAsBoolean(bool AValue);
  TrsPoint AsPoint() const;
  void SetAsPoint(TrsPoint AValue);
  const void* AsPointer() const;
  void SetAsPointer(const void* AValue);
  TrsVariant AsVariant() const;
  void SetAsVariant(const TrsVariant& AValue);
  std::vector<uint8_t> GetAsBuffer() const;
  void SetAsBuffer(const void* ABuffer, size_t ACount);
  int32_t GetAsArray(std::vector<TrsVariant>& AValues) const;
  void SetAsArray(const std::vector<TrsVariant>& AValues);
  // Releases the value, keeping the kind word.
  void Clear();
  // Copies options, kind and value from AKey into the current key, and the reverse.
  void AssignValue(const TrsKeyValue& AKey);
  void AssignValueTo(TrsKeyValue& AKey) const;
  bool EqualValue(const TrsKeyValue& AKey) const;

 private:
  friend class TrsStorage;
  int SectionIndex() const;

  TrsStorage* FStorage;
  int FKeyIndex = -1;  // the key in the storage's array, -1 for none
};

// Accessor of one section, positioned by section iteration.
class TrsSectionWrapper {
 public:
  explicit TrsSectionWrapper(TrsStorage* AStorage) : FStorage(AStorage) {}

  bool Assigned() const { return FSectionIndex >= 0; }
  const std::string& Name() const;
  std::string FullName() const;
  int Level() const;
  int32_t Id() const;
  int32_t ParentId() const;

 private:
  friend class TrsStorage;
  TrsStorage* FStorage;
  int FSectionIndex = -1;
};

using TrsStorageKeyEvent = std::function<void(TrsStorage* Sender, const std::string& AKey)>;
using TrsNotifyEvent = std::function<void(void* Sender)>;
using TrsStorageDataProgressEvent = std::function<void(TrsStorageData* Sender, int APercent)>;

// A back end: moves the content of the storages it serves to and from a medium. Concrete
// back ends override LoadData and SaveData; they read and write the current storage through
// its public operations and report progress through DoProgress.
class TrsStorageData {
 public:
  TrsStorageData() = default;
  virtual ~TrsStorageData();
  TrsStorageData(const TrsStorageData&) = delete;
  TrsStorageData& operator=(const TrsStorageData&) = delete;

  // The storage being loaded or saved, or null.
  TrsStorage* Storage() const;
  // Adds AStorage to the served storages (once) and makes it current; null: no current one.
  void AttachStorage(TrsStorage* AStorage);
  // Unlinks AStorage and drops it from the served storages.
  void DetachStorage(TrsStorage* AStorage);
  void PerformLoad();
  void PerformSave();

  void SetOnBeforeLoad(TrsNotifyEvent AValue) { FOnBeforeLoad = std::move(AValue); }
  void SetOnAfterLoad(TrsNotifyEvent AValue) { FOnAfterLoad = std::move(AValue); }
  void SetOnBeforeSave(TrsNotifyEvent AValue) { FOnBeforeSave = std::move(AValue); }
  void SetOnAfterSave(TrsNotifyEvent AValue) { FOnAfterSave = std::move(AValue); }
  void SetOnProgress(TrsStorageDataProgressEvent AValue) { FOnProgress = std::move(AValue); }

  int ProgressItemCount = 0;
  int ProgressItemCurrent = 0;

 protected:
  // Reports ProgressItemCurrent / ProgressItemCount in whole percent, only when it grew.
  virtual void DoProgress();
  virtual void LoadData() {}
  virtual void SaveData() {}

 private:
  friend class TrsStorage;
  void ResetProgress();

  std::vector<TrsStorage*> FStorageList;
  int FCurrentStorageIdx = -1;
  TrsNotifyEvent FOnBeforeSave, FOnAfterLoad, FOnAfterSave, FOnBeforeLoad;
  TrsStorageDataProgressEvent FOnProgress;
  int FPreviousPercent = -1;
};

class TrsStorage {
 public:
  TrsStorage();
  virtual ~TrsStorage();
  TrsStorage(const TrsStorage&) = delete;
  TrsStorage& operator=(const TrsStorage&) = delete;

  static std::string Version() { return "4.07"; }

 public:  // persistence
  bool Active() const { return FActive; }
  void SetActive(bool AValue);
  void Open();
  void Close();
  // ClearAll, then Merge.
  void Load();
  // Adds the back end's content to the storage's (keys of the same path are overwritten).
  void Merge();
  void Save();
  // Saves through this storage's back end only the keys that differ from, or are missing in,
  // the content of ADefaultData.
  void SaveChanges(TrsStorageData& ADefaultData);
  // Every key of ASource under its full name, and its current section.
  void Assign(const TrsStorage& ASource);
  TrsStorageData* StorageData() const { return FStorageData; }
  void SetStorageData(TrsStorageData* AValue);
  // The encryptor run around Merge and Save while it is active, not owned. Throws
  // TrsException for an encryptor whose cipher hooks are missing.
  TrsEncryptor* Encryptor() const { return FEncryptor; }
  void SetEncryptor(TrsEncryptor* AValue);
  void SetOnBeforeLoad(TrsNotifyEvent AValue) { FOnBeforeLoad = std::move(AValue); }
  void SetOnAfterLoad(TrsNotifyEvent AValue) { FOnAfterLoad = std::move(AValue); }
  void SetOnBeforeSave(TrsNotifyEvent AValue) { FOnBeforeSave = std::move(AValue); }
  void SetOnAfterSave(TrsNotifyEvent AValue) { FOnAfterSave = std::move(AValue); }

  // The content of ASection (the top when empty) in the section stream format: int32
  // subsection and key counts, each subsection's name and block, then each key's name, kind
  // and value; names and texts UTF-16LE. A section that does not resolve writes nothing.
  // Throws TrsException for a name longer than 255 UTF-16 code units, which the one-byte
  // length cannot hold.
  void SectionSaveToStream(std::string_view ASection, std::ostream& AStream);
  // Replaces the content of ASection (created when missing) with the block at the stream's
  // position. A block cut short keeps what was read and throws TrsException "Can't load
  // section ... from stream.".
  void SectionLoadFromStream(std::string_view ASection, std::istream& AStream);

 public:  // sections
  bool SectionAdd(std::string_view ASection);
  bool SectionExist(std::string_view ASection);
  void SectionDelete(std::string_view ASection);
  void SectionClear(std::string_view ASection);
  void SectionRename(std::string_view AOldName, std::string_view ANewName);
  std::string SectionName() const;
  int SectionCount() const;
  void SectionList(std::vector<std::string>& AStrings) const;

 public:  // the current section
  const std::string& RootSection() const { return FRootSection; }
  void SetRootSection(std::string_view AValue);
  bool ChangeDownRootSection(std::string_view ASection);
  bool ChangeUpRootSection();

 public:  // keys
  bool KeyExist(std::string_view AKey);
  void KeyDelete(std::string_view AKey);
  void KeyRename(std::string_view AOldName, std::string_view ANewName);
  int KeyCount() const;
  void KeyList(std::vector<std::string>& AStrings) const;
  // Room for ASections more sections in advance, so that a loader that counted its sections
  // grows the section array at most once more. Keys live in per-section runs and need none.
  void ReserveSections(int ASections);
  int GetKeyType(std::string_view AKey);
  void SetKeyType(std::string_view AKey, int AValue);
  uint16_t GetKeyOptions(std::string_view AKey);
  void SetKeyOptions(std::string_view AKey, uint16_t AValue);
  // The key AKey names, created with its sections when missing and ACreate is set; null when
  // the path does not resolve. Points KeyWrapper at the key.
  TrsKeyItem* FindKeyItem(std::string_view AKey, bool ACreate);

 public:  // typed values: reads give the default for a missing key, writes create the key
  std::string ReadString(std::string_view AKey, std::string_view ADefValue);
  std::string ReadText(std::string_view AKey, std::string_view ADefValue);
  int32_t ReadInteger(std::string_view AKey, int32_t ADefValue);
  int64_t ReadInt64(std::string_view AKey, int64_t ADefValue);
  double ReadFloat(std::string_view AKey, double ADefValue);
  TrsCurrency ReadCurrency(std::string_view AKey, TrsCurrency ADefValue);
  double ReadDateTime(std::string_view AKey, double ADefValue);
  bool ReadBoolean(std::string_view AKey, bool ADefValue);
  TrsPoint ReadPoint(std::string_view AKey);
  const void* ReadPointer(std::string_view AKey, const void* ADefValue);
  // With ACount > 0 copies min(ACount, size) bytes and returns that number; with ACount <= 0
  // copies nothing and returns the size. A text gives its UTF-16LE bytes.
  int32_t ReadBuffer(std::string_view AKey, void* ABuffer, int32_t ACount);
  int32_t ReadStream(std::string_view AKey, std::ostream& AStream);
  int32_t ReadArray(std::string_view AKey, std::vector<TrsVariant>& AValues);
  bool ReadStrings(std::string_view AKey, std::vector<std::string>& AStrings);
  TrsVariant Values(std::string_view AKey);

  void WriteString(std::string_view AKey, std::string_view AValue);
  void WriteText(std::string_view AKey, std::string_view AValue);
  void WriteInteger(std::string_view AKey, int32_t AValue);
  void WriteInt64(std::string_view AKey, int64_t AValue);
  void WriteFloat(std::string_view AKey, double AValue);
  void WriteCurrency(std::string_view AKey, TrsCurrency AValue);
  void WriteDateTime(std::string_view AKey, double AValue);
  void WriteBoolean(std::string_view AKey, bool AValue);
  void WritePoint(std::string_view AKey, TrsPoint AValue);
  void WritePointer(std::string_view AKey, const void* AValue);
  void WriteBuffer(std::string_view AKey, const void* ABuffer, int32_t ACount);
  // The stream's whole content, read from position 0.
  void WriteStream(std::string_view AKey, std::istream& AStream);
  void WriteArray(std::string_view AKey, const std::vector<TrsVariant>& AValues);
  void WriteStrings(std::string_view AKey, const std::vector<std::string>& AStrings);
  void SetValues(std::string_view AKey, const TrsVariant& AValue);
  // One "Name=Value" line per key of the current section, in key order.
  void SectionValues(std::vector<std::string>& AStrings);
  // Serialised components and persistent properties are not offered: they need a UI
  // framework's streaming, which the core does not have.

 public:  // removing everything
  void Clear();
  void ClearAll();

 public:  // iteration
  int SectionFirst();
  int SectionNext();
  int SectionPrior();
  int SectionLast();
  int KeyFirst();
  int KeyNext();
  int KeyPrior();
  int KeyLast();
  TrsKeyWrapper& KeyWrapper() { return FKeyWrapper; }
  TrsSectionWrapper& SectionWrapper() { return FSectionWrapper; }

 public:  // events, notifications, options, lock
  void SetOnKeyAdd(TrsStorageKeyEvent AValue) { FOnKeyAdd = std::move(AValue); }
  void SetOnKeyDeletion(TrsStorageKeyEvent AValue) { FOnKeyDeletion = std::move(AValue); }
  TrsClientList& ClientList() { return FClientList; }
  TrsStorageOptions Options() const { return FOptions; }
  void SetOptions(TrsStorageOptions AValue) { FOptions = AValue; }
  TrsStorageStates CurrentStates() const { return FCurrentStates; }
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }

 public:  // the arrays, read-only, for back ends and tests
  int SectionItemCount() const { return static_cast<int>(FSectionList.size()); }
  const TrsSectionItem& SectionItem(int AIndex) const { return FSectionList.at(static_cast<size_t>(AIndex)); }
  int KeyItemCount() const { return FKeyList.Count(); }
  const TrsKeyItem& KeyItem(int AIndex) const { return FKeyList[AIndex]; }
  // Full path of the section at AIndex ("Main\Sub"; empty for the top, index -1).
  std::string SectionFullPath(int AIndex) const;
  int SectionLevelOf(int AIndex) const;
  // Full name of the key at AIndex: "\\" + its section's full path + "\\" + its name.
  std::string KeyFullName(int AIndex) const;
  int SectionIndexOfId(int32_t AId) const;
  // The global key index range [begin, end) of the keys of the section at AIndex (-1: the top),
  // in key order.
  std::pair<int, int> SectionKeyRun(int AIndex) const { return KeyRun(SectionIdAt(AIndex)); }
  // Index of the current section; -1 for the top.
  int CurrentSectionIndex() const { return FSectionIdx; }

 protected:
  // Run after a key is inserted and before one is removed: point KeyWrapper at the key,
  // notify the clients, fire the event.
  virtual void DoKeyAdd(int AIndex);
  virtual void DoKeyDeletion(int AIndex);

 private:
  friend class TrsKeyWrapper;
  friend class TrsSectionWrapper;
  friend class TrsStorageData;
  friend class TrsEncryptor;

  enum class TStart { Default, Top, Current };
  struct TKeyPath {
    std::string_view Section;  // empty: the current section, or the top when AtTop
    std::string_view Name;
    bool AtTop = false;
  };

  static TKeyPath SplitKeyPath(std::string_view APath);
  int32_t SectionIdAt(int AIndex) const { return AIndex < 0 ? 0 : FSectionList[static_cast<size_t>(AIndex)].Id; }
  int32_t CurrentSectionId() const { return SectionIdAt(FSectionIdx); }

  // Index of the section APath names (-1: the top), or nothing when it does not resolve.
  std::optional<int> FindSection(std::string_view APath, bool ACreate);
  std::optional<int> FindChild(int32_t AParentId, std::string_view AName, const std::string& ASortKey, bool ACreate);
  int FindKey(std::string_view APath, bool ACreate);
  // The run [begin, end) of sections whose ParentId is AParentId / keys of ASectionId.
  std::pair<int, int> ChildRun(int32_t AParentId) const;
  std::pair<int, int> KeyRun(int32_t ASectionId) const;

  int InsertSection(int AIndex, TrsSectionItem AItem);
  int InsertKey(TrsKeyItem AItem);
  // Announces (DoKeyDeletion) and removes the keys [ABegin, AEnd); handlers may change keys.
  void RemoveKeys(int ABegin, int AEnd);
  int IndexOfKey(int32_t ASectionId, const std::string& ASortKey) const;
  void EraseKeys(int ABegin, int AEnd);
  void RemoveSectionEntry(int AIndex);
  // The current section by what it is (its id) and its RootSection text. Restoring by id
  // comes back to the very section even when the text would resolve elsewhere (a text built
  // by ChangeDownRootSection from a path with leading delimiters, say).
  struct TCurrentSection {
    int32_t Id = 0;
    std::string Text;
  };
  TCurrentSection SaveCurrentSection() const { return {CurrentSectionId(), FRootSection}; }
  void RestoreCurrentSection(const TCurrentSection& ASaved);
  // The linked encryptor when it is to run, with its Storage set to this storage; else null.
  TrsEncryptor* RunningEncryptor();
  // Decrypts after a failed load or save, keeping the first error: what decrypts no more is
  // left as it is.
  void DecryptAfterFailure(TrsEncryptor& AEncryptor) noexcept;
  // Save's work on the medium with AEncryptor around it.
  void SaveEncrypted(TrsEncryptor& AEncryptor);
  // Makes the section of full path APath ("" for the top) current again under the RootSection
  // text AText; the top when it is gone. For sections built anew, whose ids are new.
  void RestoreCurrentSectionByPath(const std::string& APath, const std::string& AText);
  // Makes ASection (created when missing, resolved from the top) current and clears it;
  // returns the section that was current, or nothing when ASection does not resolve.
  std::optional<TCurrentSection> EnterClearedSection(std::string_view ASection);
  void WriteSectionBlock(int AIndex, std::ostream& AStream) const;
  bool ReadSectionBlock(std::istream& AStream, int ADepth);
  void RemoveSectionContent(int AIndex, bool ARemoveSelf);
  void RecomputeRanges();
  void RecomputeSectionMaxId();
  void DropCaches();
  template <typename T>
  static void ShrinkAfterRemoval(std::vector<T>& AList);

  std::vector<TrsSectionItem> FSectionList;
  TrsKeyArray FKeyList;
  uint64_t FKeyGeneration = 0;  // counts insertions and removals of keys
  int32_t FSectionMaxId = 0;
  int FSectionIdx = -1;  // the current section; -1: the top
  std::string FRootSection;
  TStart FPreferStartSection = TStart::Default;
  int FKeyBeginIdx = -1, FKeyEndIdx = -1;
  int FSectionChildBeginIdx = -1, FSectionChildEndIdx = -1;
  int FKeyIndex = -1, FKeyIterationsBegin = -1, FKeyIterationsEnd = -1;
  int FSectionIndex = -1;

  // Section-path cache of key lookups, and the key cache (accelerators only: every use is
  // validated, and section removals drop them, since ids of removed sections come back).
  std::string FCacheSectionName;
  int FCacheSectionIdx = -1;
  int32_t FCacheSectionId = -1;
  int32_t FCacheSectionBase = -1;  // current section id when a relative path was cached
  int FCacheKeyIdx = -1;
  int32_t FCacheKeySectionId = -1;

  TrsKeyWrapper FKeyWrapper{this};
  TrsSectionWrapper FSectionWrapper{this};
  TrsStorageKeyEvent FOnKeyAdd;
  TrsStorageKeyEvent FOnKeyDeletion;
  TrsClientList FClientList{this};
  TrsStorageOptions FOptions = soSaveOnClose;
  bool FActive = false;
  TrsStorageData* FStorageData = nullptr;  // not owned
  TrsEncryptor* FEncryptor = nullptr;      // not owned
  // Every back end that attached this storage (linked or not): each is told when the storage
  // goes, so that none keeps a dangling reference.
  std::vector<TrsStorageData*> FAttachedTo;
  TrsNotifyEvent FOnBeforeLoad, FOnAfterLoad, FOnBeforeSave, FOnAfterSave;
  TrsStorageStates FCurrentStates = 0;
  platform::TReentrantLock FLock;
};

// --- the stream back end ----------------------------------------------------------------------

// A growable block of bytes with a position: the work stream of the stream back ends and the
// stream their events receive.
class TrsMemoryStream {
 public:
  std::string& Data() { return FData; }
  const std::string& Data() const { return FData; }
  size_t Size() const { return FData.size(); }
  size_t Position() const { return FPosition; }
  void SetPosition(size_t AValue) { FPosition = AValue; }
  void Clear() {
    FData.clear();
    FPosition = 0;
  }
  // Writes at the position, overwriting and extending; the position moves past the bytes.
  void Write(const void* ABuffer, size_t ACount);
  // Copies up to ACount bytes from the position; returns the number copied.
  size_t Read(void* ABuffer, size_t ACount);

 private:
  std::string FData;
  size_t FPosition = 0;
};

enum TrsStreamDataOption : unsigned { doAutoName = 1u << 0, doAutoCreateDir = 1u << 1 };
using TrsStreamDataOptions = unsigned;
enum TrsStreamFileDir { fdCustom, fdApplication, fdWindows, fdUserProfile };
enum TrsCodePage { cpAnsi, cpUTF8, cpUTF16be, cpUTF16le };
enum TrsInternalFileLoad { iflNone, iflAlways, iflNoRealFile };

class TrsStreamData;
// Called with the work stream; clearing ADoStandard replaces the back end's own file access.
using TrsStreamEvent = std::function<void(TrsStreamData* Sender, TrsMemoryStream& AStream, bool& ADoStandard)>;

// A back end that keeps the settings in one file: it resolves the file's path, reads the
// whole file (or an embedded copy, or what OnLoadFromStream supplies) into a memory stream
// and writes a memory stream back. The text format is a subclass's LoadFromStream and
// SaveToStream.
class TrsStreamData : public TrsStorageData {
 public:
  TrsStreamData();
  ~TrsStreamData() override;

  // The settings file's path: the folder FileDir names, FileName's own subfolder, the base
  // name of FileName (or of the executable, with doAutoName) and FileName's extension (or
  // the default one).
  std::string FullFileName() const;
  const std::string& FileName() const { return FFileName; }
  void SetFileName(std::string_view AValue) { FFileName = AValue; }
  TrsStreamDataOptions Options() const { return FOptions; }
  void SetOptions(TrsStreamDataOptions AValue) { FOptions = AValue; }
  TrsStreamFileDir FileDir() const { return FFileDir; }
  void SetFileDir(TrsStreamFileDir AValue) { FFileDir = AValue; }
  TrsCodePage CodePage() const { return FCodePage; }
  void SetCodePage(TrsCodePage AValue);
  bool Unicode() const { return FUnicode; }
  // true selects cpUTF16le, false cpAnsi; nothing happens when the value is unchanged.
  void SetUnicode(bool AValue);
  TrsInternalFileLoad InternalFileLoad() const { return FInternalFileLoad; }
  void SetInternalFileLoad(TrsInternalFileLoad AValue) { FInternalFileLoad = AValue; }
  const std::string& InternalFileName() const { return FInternalFileName; }
  // Copies the named file into the internal file; a name of no existing file empties it.
  void SetInternalFileName(std::string_view AValue);
  TrsMemoryStream& InternalFile() { return FInternalFile; }
  void SetOnLoadFromStream(TrsStreamEvent AValue) { FOnLoadFromStream = std::move(AValue); }
  void SetOnSaveToStream(TrsStreamEvent AValue) { FOnSaveToStream = std::move(AValue); }
  // The output of the last save (or the bytes of the last load, until it ends).
  const TrsMemoryStream& Stream() const { return FStream; }

  // The internal file in its stored form: 01 01, an int32 length, then chunks of at most
  // 32,768 bytes, each LZRW1-KH coded and preceded by its int32 length. Reading stops at a
  // zero or incomplete chunk length; a chunk that does not decode throws TrsException.
  void WriteInternalFileData(std::ostream& AStream) const;
  void ReadInternalFileData(std::istream& AStream);

 protected:
  void LoadData() override;
  void SaveData() override;
  // The format hooks: the base class only remembers the stream being parsed or written.
  virtual void LoadFromStream(TrsMemoryStream& AStream) { FCurStream = &AStream; }
  virtual void SaveToStream(TrsMemoryStream& AStream) { FCurStream = &AStream; }

  // The writer's output buffer: pieces are collected and written to FCurStream in blocks.
  void ResetBuffer() { FBufferUsed = 0; }
  void WriteToBuffer(const void* AData, size_t ACount);
  void WriteToBuffer(std::string_view AText) { WriteToBuffer(AText.data(), AText.size()); }
  void FlushBuffer();

  std::string FExtension;  // default extension of the file name, with its dot
  TrsMemoryStream* FCurStream = nullptr;

 private:
  void WriteFileReplacing(const std::string& APath) const;

  TrsMemoryStream FInternalFile;
  std::string FFileName;
  TrsStreamDataOptions FOptions = doAutoName;
  TrsStreamEvent FOnLoadFromStream, FOnSaveToStream;
  TrsMemoryStream FStream;
  TrsStreamFileDir FFileDir = fdApplication;
  TrsCodePage FCodePage = cpAnsi;
  std::string FInternalFileName;
  TrsInternalFileLoad FInternalFileLoad = iflNone;
  bool FUnicode = false;
  std::array<char, 4098> FBuffer{};
  size_t FBufferUsed = 0;
};

// The collation sort key under which names are compared (case-insensitive, user locale).
std::string NameSortKey(std::string_view AName);
// Whether two names are the same name under that comparison.
bool SameName(std::string_view A, std::string_view B);

}  // namespace velloran
