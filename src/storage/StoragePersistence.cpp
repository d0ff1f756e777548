// The persistence cycle of TrsStorage and its back-end contract, and the section stream.
#include <algorithm>
#include <array>
#include <cstring>
#include <istream>
#include <ostream>
#include <sstream>

#include "BinaryIO.h"
#include "ScopeGuards.h"
#include "Storage.h"

namespace velloran {

namespace {

// A stream block nests one level per subsection; a stream that nests deeper than any real
// settings tree is taken as damaged rather than allowed to exhaust the stack.
constexpr int kMaxSectionDepth = 256;
// Values are read in pieces of this size, so a damaged count cannot demand a huge allocation
// before the stream proves to hold the bytes.
constexpr size_t kReadPiece = 65536;

bool ReadBytes(std::istream& AStream, size_t ACount, std::string& ABytes) {
  ABytes.clear();
  while (ABytes.size() < ACount) {
    const size_t piece = std::min(kReadPiece, ACount - ABytes.size());
    const size_t at = ABytes.size();
    ABytes.resize(at + piece);
    AStream.read(ABytes.data() + at, static_cast<std::streamsize>(piece));
    if (AStream.gcount() != static_cast<std::streamsize>(piece)) return false;
  }
  return true;
}

// A name with its one-byte length of UTF-16 code units.
void WriteName(std::ostream& AStream, std::string_view AName, const std::string& AWhose) {
  const std::string bytes = Utf16LeBytes(AName);
  if (bytes.size() / 2 > 255) {
    // The length byte would keep only the low 8 bits and the stream would read back wrong.
    RaiseStorageError(sekSetValue,
                      "The name of " + AWhose + " is longer than 255 characters and cannot be written to a section stream.");
  }
  WriteRaw(AStream, static_cast<uint8_t>(bytes.size() / 2));
  AStream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool ReadName(std::istream& AStream, std::string& AName) {
  uint8_t length = 0;
  std::string bytes;
  if (!ReadRaw(AStream, length) || !ReadBytes(AStream, size_t{length} * 2, bytes)) return false;
  AName = TextOfUtf16LeBytes(bytes);
  return true;
}

void WriteValue(std::ostream& AStream, const TrsKeyValue& AValue, const std::string& AWhose) {
  WriteRaw(AStream, AValue.kvType);
  const TrsKeyValue::TValue& value = AValue.Value;
  switch (AValue.kvType) {
    case kvString: {
      const std::string* text = std::get_if<std::string>(&value);
      const std::string bytes = Utf16LeBytes(text != nullptr ? *text : std::string());
      WriteRaw(AStream, static_cast<int32_t>(bytes.size()));
      AStream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      break;
    }
    case kvBuffer: {
      const auto* buffer = std::get_if<std::vector<uint8_t>>(&value);
      const size_t size = buffer != nullptr ? buffer->size() : 0;
      if (size > 0x7FFFFFFF) RaiseStorageError(sekSetValue, "The value of " + AWhose + " is too large for a section stream.");
      WriteRaw(AStream, static_cast<int32_t>(size));
      if (size > 0) AStream.write(reinterpret_cast<const char*>(buffer->data()), static_cast<std::streamsize>(size));
      break;
    }
    case kvInteger:
    case kvBoolean: {
      const int32_t* number = std::get_if<int32_t>(&value);
      WriteRaw(AStream, number != nullptr ? *number : int32_t{0});
      break;
    }
    case kvDouble:
    case kvDateTime: {
      const double* number = std::get_if<double>(&value);
      WriteRaw(AStream, number != nullptr ? *number : 0.0);
      break;
    }
    case kvCurrency:
    case kvInt64: {
      const int64_t* number = std::get_if<int64_t>(&value);
      WriteRaw(AStream, number != nullptr ? *number : int64_t{0});
      break;
    }
    case kvPointer: {
      const void* const* pointer = std::get_if<const void*>(&value);
      WriteRaw(AStream, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer != nullptr ? *pointer : nullptr)));
      break;
    }
    case kvPoint: {
      const TrsPoint* point = std::get_if<TrsPoint>(&value);
      WriteRaw(AStream, point != nullptr ? point->X : 0);
      WriteRaw(AStream, point != nullptr ? point->Y : 0);
      break;
    }
    default:
      break;  // kvUnknown and unknown codes carry no data
  }
}

bool ReadValue(std::istream& AStream, TrsKeyValue& AValue) {
  uint16_t kind = 0;
  if (!ReadRaw(AStream, kind)) return false;
  AValue.kvType = kind;
  AValue.Value = std::monostate{};
  switch (kind) {
    case kvString:
    case kvBuffer: {
      int32_t count = 0;
      std::string bytes;
      if (!ReadRaw(AStream, count) || count < 0 || !ReadBytes(AStream, static_cast<size_t>(count), bytes)) return false;
      if (kind == kvString) {
        AValue.Value = TextOfUtf16LeBytes(bytes);
      } else {
        AValue.Value = std::vector<uint8_t>(bytes.begin(), bytes.end());
      }
      return true;
    }
    case kvInteger:
    case kvBoolean: {
      int32_t number = 0;
      if (!ReadRaw(AStream, number)) return false;
      AValue.Value = number;
      return true;
    }
    case kvDouble:
    case kvDateTime: {
      double number = 0;
      if (!ReadRaw(AStream, number)) return false;
      AValue.Value = number;
      return true;
    }
    case kvCurrency:
    case kvInt64: {
      int64_t number = 0;
      if (!ReadRaw(AStream, number)) return false;
      AValue.Value = number;
      return true;
    }
    case kvPointer: {
      uint64_t bits = 0;
      if (!ReadRaw(AStream, bits)) return false;
      AValue.Value = reinterpret_cast<const void*>(static_cast<uintptr_t>(bits));
      return true;
    }
    case kvPoint: {
      TrsPoint point;
      if (!ReadRaw(AStream, point.X) || !ReadRaw(AStream, point.Y)) return false;
      AValue.Value = point;
      return true;
    }
    default:
      return true;
  }
}

}  // namespace

// --- the back end -------------------------------------------------------------------------

TrsStorageData::~TrsStorageData() {
  while (!FStorageList.empty()) DetachStorage(FStorageList.back());
}

TrsStorage* TrsStorageData::Storage() const {
  return FCurrentStorageIdx >= 0 && FCurrentStorageIdx < static_cast<int>(FStorageList.size())
             ? FStorageList[static_cast<size_t>(FCurrentStorageIdx)]
             : nullptr;
}

void TrsStorageData::AttachStorage(TrsStorage* AStorage) {
  if (AStorage == nullptr) {
    FCurrentStorageIdx = -1;
    return;
  }
  auto found = std::find(FStorageList.begin(), FStorageList.end(), AStorage);
  if (found == FStorageList.end()) {
    found = FStorageList.insert(FStorageList.end(), AStorage);
    AStorage->FAttachedTo.push_back(this);
  }
  FCurrentStorageIdx = static_cast<int>(found - FStorageList.begin());
}

void TrsStorageData::DetachStorage(TrsStorage* AStorage) {
  const auto found = std::find(FStorageList.begin(), FStorageList.end(), AStorage);
  if (found == FStorageList.end()) return;
  const TrsStorage* current = Storage();
  FStorageList.erase(found);
  if (AStorage->FStorageData == this) AStorage->FStorageData = nullptr;
  std::erase(AStorage->FAttachedTo, this);
  const auto stillThere = std::find(FStorageList.begin(), FStorageList.end(), current);
  FCurrentStorageIdx = stillThere == FStorageList.end() ? -1 : static_cast<int>(stillThere - FStorageList.begin());
}

void TrsStorageData::ResetProgress() {
  ProgressItemCount = 0;
  ProgressItemCurrent = 0;
  FPreviousPercent = -1;
}

void TrsStorageData::DoProgress() {
  if (!FOnProgress || ProgressItemCount <= 0) return;
  const int percent = static_cast<int>(static_cast<int64_t>(ProgressItemCurrent) * 100 / ProgressItemCount);
  if (percent <= FPreviousPercent) return;
  FPreviousPercent = percent;
  FOnProgress(this, percent);
}

void TrsStorageData::PerformLoad() {
  if (FOnBeforeLoad) FOnBeforeLoad(this);
  TrsStorage* storage = Storage();
  if (storage == nullptr) return;
  ResetProgress();
  try {
    LoadData();
  } catch (...) {
    storage->SetRootSection("");
    if (FOnAfterLoad) FOnAfterLoad(this);
    throw;
  }
  storage->SetRootSection("");
  if (FOnAfterLoad) FOnAfterLoad(this);
}

void TrsStorageData::PerformSave() {
  if (FOnBeforeSave) FOnBeforeSave(this);
  TrsStorage* storage = Storage();
  if (storage == nullptr) return;
  const TrsStorage::TCurrentSection current = storage->SaveCurrentSection();
  storage->SetRootSection("");
  ResetProgress();
  try {
    SaveData();
  } catch (...) {
    storage->RestoreCurrentSection(current);
    if (FOnAfterSave) FOnAfterSave(this);
    throw;
  }
  storage->RestoreCurrentSection(current);
  if (FOnAfterSave) FOnAfterSave(this);
}

// --- the storage's side -------------------------------------------------------------------

void TrsStorage::SetActive(bool AValue) {
  if (AValue == FActive) return;
  if (AValue) {
    Open();
  } else {
    Close();
  }
}

void TrsStorage::Open() {
  if (FActive) return;
  Load();
  FActive = true;
}

void TrsStorage::Close() {
  if (!FActive) return;
  FActive = false;  // first: a failed save must not leave a storage that saves again on exit
  if ((FOptions & soSaveOnClose) != 0) Save();
}

void TrsStorage::SetStorageData(TrsStorageData* AValue) {
  if (AValue == FStorageData) return;
  if (FStorageData != nullptr) FStorageData->DetachStorage(this);
  FStorageData = AValue;
  if (FStorageData != nullptr) FStorageData->AttachStorage(this);
}

void TrsStorage::Load() {
  const TrsStateFlag loading(FCurrentStates, ssLoading);
  ClearAll();
  Merge();
}

void TrsStorage::Merge() {
  const TrsStateFlag merging(FCurrentStates, ssMerging, (FCurrentStates & ssLoading) == 0);
  if (FOnBeforeLoad) FOnBeforeLoad(this);
  if (FStorageData != nullptr) {
    {
      const TrsMutedClients muted(FClientList);
      FStorageData->AttachStorage(this);
      try {
        FStorageData->PerformLoad();
      } catch (...) {
        // The keys read before the error stay, and stay in plain form.
        if (TrsEncryptor* encryptor = RunningEncryptor()) DecryptAfterFailure(*encryptor);
        throw;
      }
      if (TrsEncryptor* encryptor = RunningEncryptor()) encryptor->DoDecrypt();
    }
    FClientList.DoNotification(scnLoad, {});
  }
  DropCaches();
  if (FOnAfterLoad) FOnAfterLoad(this);
}

void TrsStorage::Save() {
  const TrsStateFlag saving(FCurrentStates, ssSaving);
  if (FOnBeforeSave) FOnBeforeSave(this);
  if (FStorageData != nullptr) {
    if (TrsEncryptor* encryptor = RunningEncryptor()) {
      SaveEncrypted(*encryptor);
    } else {
      FStorageData->AttachStorage(this);
      FStorageData->PerformSave();
    }
  }
  if (FOnAfterSave) FOnAfterSave(this);
}

TrsEncryptor* TrsStorage::RunningEncryptor() {
  if (FEncryptor == nullptr || !FEncryptor->Active()) return nullptr;
  FEncryptor->FStorage = this;
  return FEncryptor;
}

void TrsStorage::DecryptAfterFailure(TrsEncryptor& AEncryptor) noexcept {
  try {
    const TrsMutedClients muted(FClientList);
    AEncryptor.DoDecrypt();
  } catch (...) {  // NOLINT(bugprone-empty-catch): the first error is the one to report
  }
}

void TrsStorage::SaveEncrypted(TrsEncryptor& AEncryptor) {
  // Encrypting a section clears it and decrypting builds it anew, under new ids: the current
  // section is found again by its path. Clients hear no key or section changes of this round
  // trip, which leaves the store as it was; they do hear where the current section ends up.
  const std::string currentPath = SectionFullPath(FSectionIdx);
  const std::string currentText = FRootSection;
  try {
    {
      const TrsMutedClients muted(FClientList);
      AEncryptor.DoEncrypt();
    }
    FStorageData->AttachStorage(this);
    FStorageData->PerformSave();
  } catch (...) {
    // The in-memory values must never stay encrypted: a failed save (or a failed encryption
    // halfway) decrypts again before the error goes on.
    DecryptAfterFailure(AEncryptor);
    try {
      RestoreCurrentSectionByPath(currentPath, currentText);
    } catch (...) {  // NOLINT(bugprone-empty-catch): a client failed; the first error is the one to report
    }
    throw;
  }
  {
    const TrsMutedClients muted(FClientList);
    AEncryptor.DoDecrypt();
  }
  RestoreCurrentSectionByPath(currentPath, currentText);
}

void TrsStorage::RestoreCurrentSectionByPath(const std::string& APath, const std::string& AText) {
  std::optional<int> section = -1;
  if (!APath.empty()) {
    FPreferStartSection = TStart::Top;
    section = FindSection(APath, false);
  }
  if (!section) {
    SetRootSection("");
    return;
  }
  FSectionIdx = *section;
  FRootSection = AText;
  RecomputeRanges();
  FClientList.DoNotification(scnRootSectionChanged, FRootSection);
}

void TrsStorage::SaveChanges(TrsStorageData& ADefaultData) {
  constexpr uint16_t kChanged = 0x80;
  const TrsStateFlag savingChanges(FCurrentStates, ssSavingChanges);
  TrsStorage changes;
  // The defaults and the changes pass through this storage's encryptor: a medium it encrypts
  // must not receive the changed values in plain form.
  changes.SetEncryptor(FEncryptor);
  changes.SetStorageData(&ADefaultData);
  changes.Load();
  for (int i = 0; i < KeyItemCount(); ++i) {
    const TrsKeyItem& key = FKeyList[i];
    const std::string fullName = KeyFullName(i);
    TrsKeyItem* existing = changes.FindKeyItem(fullName, false);
    if (existing != nullptr && changes.KeyWrapper().EqualValue(key.Value)) continue;
    TrsKeyItem* target = existing != nullptr ? existing : changes.FindKeyItem(fullName, true);
    target->Value = key.Value;
    target->Value.Options = static_cast<uint16_t>(key.Value.Options | kChanged);
  }
  for (int i = changes.KeyItemCount() - 1; i >= 0; --i) {
    if ((changes.KeyItem(i).Value.Options & kChanged) == 0) changes.RemoveKeys(i, i + 1);
  }
  changes.SetStorageData(FStorageData);
  changes.Save();
  changes.SetStorageData(nullptr);
}

void TrsStorage::Assign(const TrsStorage& ASource) {
  if (&ASource == this) return;
  ClearAll();
  for (int i = 0; i < ASource.KeyItemCount(); ++i) {
    const TrsKeyItem& key = ASource.FKeyList[i];
    const std::string fullName = ASource.KeyFullName(i);
    if (TrsKeyItem* target = FindKeyItem(fullName, true)) target->Value = key.Value;
  }
  SetRootSection(ASource.RootSection());
}

// --- the section stream -------------------------------------------------------------------

void TrsStorage::WriteSectionBlock(int AIndex, std::ostream& AStream) const {
  const int32_t id = SectionIdAt(AIndex);
  const auto [childBegin, childEnd] = ChildRun(id);
  const auto [keyBegin, keyEnd] = KeyRun(id);
  WriteRaw(AStream, static_cast<int32_t>(childEnd - childBegin));
  WriteRaw(AStream, static_cast<int32_t>(keyEnd - keyBegin));
  for (int child = childBegin; child < childEnd; ++child) {
    WriteName(AStream, FSectionList[static_cast<size_t>(child)].Name, "section \"" + SectionFullPath(child) + "\"");
    WriteSectionBlock(child, AStream);
  }
  for (int key = keyBegin; key < keyEnd; ++key) {
    const TrsKeyItem& item = FKeyList[key];
    std::string whose = "key \"\\";
    whose += SectionFullPath(AIndex);
    whose += '\\';
    whose += item.Name;
    whose += '"';
    WriteName(AStream, item.Name, whose);
    WriteValue(AStream, item.Value, whose);
  }
}

void TrsStorage::SectionSaveToStream(std::string_view ASection, std::ostream& AStream) {
  std::optional<int> section = ASection.empty() ? std::optional<int>(-1) : FindSection(ASection, false);
  if (!section) return;
  // Written to a buffer first: a name that cannot be written must not leave half a block.
  std::ostringstream block;
  WriteSectionBlock(*section, block);
  const std::string bytes = block.str();
  AStream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool TrsStorage::ReadSectionBlock(std::istream& AStream, int ADepth) {
  int32_t sections = 0;
  int32_t keys = 0;
  if (ADepth > kMaxSectionDepth || !ReadRaw(AStream, sections) || !ReadRaw(AStream, keys) || sections < 0 || keys < 0)
    return false;
  // Names are taken as names, never as paths: one holding a delimiter marks a damaged block
  // (it would reach sections outside the one being loaded).
  const auto plainName = [](const std::string& AName) { return AName.find_first_of("\\/") == std::string::npos; };
  for (int32_t i = 0; i < sections; ++i) {
    std::string name;
    if (!ReadName(AStream, name) || !plainName(name)) return false;
    SectionAdd(name);
    if (!ChangeDownRootSection(name)) return false;  // a name that is no section name
    const bool complete = ReadSectionBlock(AStream, ADepth + 1);
    ChangeUpRootSection();
    if (!complete) return false;
  }
  for (int32_t i = 0; i < keys; ++i) {
    std::string name;
    TrsKeyValue value;
    if (!ReadName(AStream, name) || !plainName(name)) return false;
    const bool complete = ReadValue(AStream, value);
    // A name met twice in one section overwrites the key: never two keys of one name.
    if (TrsKeyItem* key = FindKeyItem(name, true)) key->Value = std::move(value);
    if (!complete) return false;
  }
  return true;
}

void TrsStorage::SectionLoadFromStream(std::string_view ASection, std::istream& AStream) {
  const std::optional<TCurrentSection> entered = EnterClearedSection(ASection);
  if (!entered) return;
  const TCurrentSection& saved = *entered;
  bool complete = true;
  try {
    if (AStream.peek() != std::char_traits<char>::eof()) complete = ReadSectionBlock(AStream, 0);
  } catch (...) {
    RestoreCurrentSection(saved);
    throw;
  }
  RestoreCurrentSection(saved);
  if (!complete) {
    std::string text = "Can't load section \"";
    text += ASection;
    text += "\" from stream.";
    RaiseStorageError(-1, text);
  }
}

}  // namespace velloran
