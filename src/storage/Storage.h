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
//
// The parts a storage works with (keys and their values, clients, the encryptor, the
// wrappers, the back ends) have headers of their own; this one includes them all, so code
// that uses a storage or one of its back ends needs only this header.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "PlatformSystem.h"
#include "StorageClients.h"
#include "StorageEncryptor.h"
#include "StorageKeyValue.h"
#include "StoragePersistence.h"
#include "StorageTree.h"
#include "StorageUtils.h"
#include "StorageWrappers.h"
#include "StreamFile.h"
#include "Variant.h"

namespace velloran {

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

using TrsStorageKeyEvent = std::function<void(TrsStorage* Sender, const std::string& AKey)>;

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

}  // namespace velloran
