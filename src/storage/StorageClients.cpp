// Storage clients and the encryptor: who hears about a storage's changes, and what keeps
// chosen values encrypted on the medium.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <sstream>

#include "Storage.h"

namespace velloran {

// --- clients ------------------------------------------------------------------------------

TrsStorageClient::~TrsStorageClient() {
  if (FStorage != nullptr) FStorage->ClientList().Remove(this);
}

void TrsStorageClient::SetStorage(TrsStorage* AValue) {
  if (AValue == FStorage) return;
  if (FStorage != nullptr) FStorage->ClientList().Remove(this);
  if (AValue != nullptr) AValue->ClientList().Add(this);
}

void TrsStorageClient::StorageNotification(TrsClientNotification /*AKind*/, const std::string& /*AWParam*/,
                                           intptr_t /*ALParam*/) {}

int32_t TrsClientList::Add(TrsStorageClient* AInstance) {
  if (AInstance == nullptr) return -1;
  if (const int32_t index = IndexOf(AInstance); index >= 0) return index;
  // A client listens to one storage at a time: the link and the lists never disagree.
  if (AInstance->FStorage != nullptr) AInstance->FStorage->ClientList().Remove(AInstance);
  FList.push_back(AInstance);
  for (size_t kind = 0; kind < FItems.size(); ++kind) {
    if ((AInstance->FNotifications & (1u << kind)) == 0) continue;
    FItems[kind].FClients.push_back(AInstance);
    FItems[kind].FPresent = true;
  }
  AInstance->FStorage = FOwner;
  return Count() - 1;
}

void TrsClientList::Delete(int32_t AIndex) {
  if (AIndex < 0 || AIndex >= Count()) return;
  TrsStorageClient* client = FList[static_cast<size_t>(AIndex)];
  for (TBucket& bucket : FItems) {
    std::erase(bucket.FClients, client);
    if (bucket.FClients.empty()) {
      bucket.FPresent = false;
      std::vector<TrsStorageClient*>().swap(bucket.FClients);
    }
  }
  FList.erase(FList.begin() + AIndex);
  if (client->FStorage == FOwner) client->FStorage = nullptr;
}

void TrsClientList::Remove(TrsStorageClient* AInstance) { Delete(IndexOf(AInstance)); }

int32_t TrsClientList::IndexOf(const TrsStorageClient* AInstance) const {
  const auto found = std::find(FList.begin(), FList.end(), AInstance);
  return found == FList.end() ? -1 : static_cast<int32_t>(found - FList.begin());
}

void TrsClientList::Clear() {
  for (TrsStorageClient* client : FList) {
    if (client->FStorage == FOwner) client->FStorage = nullptr;
  }
  std::vector<TrsStorageClient*>().swap(FList);
  for (TBucket& bucket : FItems) {
    bucket.FPresent = false;
    std::vector<TrsStorageClient*>().swap(bucket.FClients);
  }
}

bool TrsClientList::NotificationExist(TrsClientNotification AValue) const {
  return AValue < FItems.size() && FItems[AValue].FPresent;
}

void TrsClientList::DoNotification(TrsClientNotification AValue, const std::string& AWParam, intptr_t ALParam) {
  if (!FActive || !NotificationExist(AValue)) return;
  // Copies: a client may link and unlink clients, or change what the text refers to, from its
  // handler. Every client hears the same text, and each one is called only while it is still
  // in the bucket, so one that left (or was destroyed) meanwhile is never reached.
  const std::string text = AWParam;
  const std::vector<TrsStorageClient*> clients = FItems[AValue].FClients;
  for (TrsStorageClient* client : clients) {
    const std::vector<TrsStorageClient*>& now = FItems[AValue].FClients;
    if (std::find(now.begin(), now.end(), client) == now.end()) continue;
    if (client->Active()) client->StorageNotification(AValue, text, ALParam);
  }
}

// --- the storage's link to an encryptor ---------------------------------------------------

void TrsStorage::SetEncryptor(TrsEncryptor* AValue) {
  if (AValue == FEncryptor) return;
  if (AValue != nullptr && !AValue->CipherWorks()) {
    // Refused here rather than at the first save, where it could only fail halfway.
    RaiseStorageError(-1,
                      "The encryptor cannot be linked to the storage: its cipher hooks are missing or do not give back what "
                      "they encrypt.");
  }
  if (FEncryptor != nullptr) {
    std::vector<TrsStorage*>& linked = FEncryptor->FLinkedTo;
    std::erase(linked, this);
    if (FEncryptor->FStorage == this) FEncryptor->FStorage = linked.empty() ? nullptr : linked.back();
  }
  FEncryptor = AValue;
  if (FEncryptor != nullptr) {
    FEncryptor->FLinkedTo.push_back(this);
    FEncryptor->FStorage = this;
  }
}

// --- the encryptor ------------------------------------------------------------------------

namespace {

constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kValueFieldSize = 8;  // what a key of a fixed-size kind holds

bool IsDelimiter(char AChar) { return AChar == '\\' || AChar == '/'; }

int Base64Digit(char AChar) {
  const size_t at = kBase64Alphabet.find(AChar);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

void PutLittleEndian(std::string& ABytes, uint64_t AValue, size_t ASize) {
  for (size_t i = 0; i < ASize; ++i) ABytes += static_cast<char>((AValue >> (8 * i)) & 0xFF);
}

uint64_t GetLittleEndian(std::string_view ABytes, size_t AAt, size_t ASize) {
  uint64_t value = 0;
  for (size_t i = 0; i < ASize; ++i) value |= uint64_t{static_cast<unsigned char>(ABytes[AAt + i])} << (8 * i);
  return value;
}

// Text from UTF-16LE bytes; nothing for an odd count, which no text gives.
std::optional<std::string> TextOfWholeUtf16LeBytes(std::string_view ABytes) {
  if (ABytes.size() % 2 != 0) return std::nullopt;
  return TextOfUtf16LeBytes(ABytes);
}

template <typename T>
T ValueOr(const TrsKeyValue::TValue& AValue, T ADefault) {
  const T* value = std::get_if<T>(&AValue);
  return value != nullptr ? *value : ADefault;
}

// The bytes of a value as they are encrypted: the UTF-16LE code units of a text, the bytes of
// a buffer, and for every other kind its 8-byte value field, little-endian.
std::string ValueBytes(const TrsKeyValue& AValue) {
  std::string bytes;
  const TrsKeyValue::TValue& value = AValue.Value;
  switch (AValue.kvType) {
    case kvString:
      return Utf16LeBytes(ValueOr(value, std::string()));
    case kvBuffer: {
      const auto* buffer = std::get_if<std::vector<uint8_t>>(&value);
      return buffer != nullptr ? std::string(buffer->begin(), buffer->end()) : std::string();
    }
    case kvInteger:
    case kvBoolean:
      PutLittleEndian(bytes, static_cast<uint32_t>(ValueOr(value, int32_t{0})), 4);
      PutLittleEndian(bytes, 0, 4);
      return bytes;
    case kvDouble:
    case kvDateTime:
      PutLittleEndian(bytes, std::bit_cast<uint64_t>(ValueOr(value, 0.0)), kValueFieldSize);
      return bytes;
    case kvCurrency:
    case kvInt64:
      PutLittleEndian(bytes, static_cast<uint64_t>(ValueOr(value, int64_t{0})), kValueFieldSize);
      return bytes;
    case kvPoint: {
      const TrsPoint point = ValueOr(value, TrsPoint{});
      PutLittleEndian(bytes, static_cast<uint32_t>(point.X), 4);
      PutLittleEndian(bytes, static_cast<uint32_t>(point.Y), 4);
      return bytes;
    }
    case kvPointer:
      PutLittleEndian(bytes, reinterpret_cast<uintptr_t>(ValueOr(value, static_cast<const void*>(nullptr))), kValueFieldSize);
      return bytes;
    default:  // kvUnknown: a zero field
      return std::string(kValueFieldSize, '\0');
  }
}

// The value of AKind that ABytes hold; nothing when they do not fit the kind (a damaged or
// foreign payload must not become a misread value).
std::optional<TrsKeyValue::TValue> ValueOfBytes(uint16_t AKind, std::string_view ABytes) {
  switch (AKind) {
    case kvString:
      if (std::optional<std::string> text = TextOfWholeUtf16LeBytes(ABytes)) return TrsKeyValue::TValue(std::move(*text));
      return std::nullopt;
    case kvBuffer:
      return TrsKeyValue::TValue(std::vector<uint8_t>(ABytes.begin(), ABytes.end()));
    default:
      break;
  }
  if (ABytes.size() != kValueFieldSize) return std::nullopt;
  const uint64_t field = GetLittleEndian(ABytes, 0, kValueFieldSize);
  switch (AKind) {
    case kvInteger:
    case kvBoolean:
      return TrsKeyValue::TValue(static_cast<int32_t>(static_cast<uint32_t>(field)));
    case kvDouble:
    case kvDateTime:
      return TrsKeyValue::TValue(std::bit_cast<double>(field));
    case kvCurrency:
    case kvInt64:
      return TrsKeyValue::TValue(static_cast<int64_t>(field));
    case kvPoint:
      return TrsKeyValue::TValue(
          TrsPoint{static_cast<int32_t>(static_cast<uint32_t>(field)), static_cast<int32_t>(static_cast<uint32_t>(field >> 32))});
    case kvPointer:
      return TrsKeyValue::TValue(reinterpret_cast<const void*>(static_cast<uintptr_t>(field)));
    default:  // kvUnknown
      return TrsKeyValue::TValue(std::monostate{});
  }
}

// A kind word followed by the value's bytes.
std::string Payload(uint16_t AKind, std::string_view AValueBytes) {
  std::string payload;
  PutLittleEndian(payload, AKind, 2);
  payload += AValueBytes;
  return payload;
}

// A section path from the top: "" for the top itself, else "\A\B" (leading delimiters and one
// trailing delimiter dropped), so that "\" + a relative path below it never doubles one.
std::string SectionFromTop(std::string_view APath) {
  while (!APath.empty() && IsDelimiter(APath.front())) APath.remove_prefix(1);
  if (!APath.empty() && IsDelimiter(APath.back())) APath.remove_suffix(1);
  return APath.empty() ? std::string() : std::string("\\").append(APath);
}

[[noreturn]] void EncryptionFailed() { RaiseStorageError(-1, "The encryptor's cipher failed to encrypt a value."); }

// The key with the empty name that holds an encrypted section.
std::string HolderKey(const std::string& ASection) { return ASection + "\\"; }

}  // namespace

TrsEncryptor::~TrsEncryptor() {
  for (TrsStorage* storage : FLinkedTo) storage->FEncryptor = nullptr;
}

std::string TrsEncryptor::Base64Encode(std::string_view ABytes) {
  std::string text;
  text.reserve((ABytes.size() + 2) / 3 * 4);
  const auto byte = [&](size_t AAt) { return uint32_t{static_cast<unsigned char>(ABytes[AAt])}; };
  size_t at = 0;
  for (; at + 3 <= ABytes.size(); at += 3) {
    const uint32_t group = byte(at) << 16 | byte(at + 1) << 8 | byte(at + 2);
    for (int shift = 18; shift >= 0; shift -= 6) text += kBase64Alphabet[(group >> shift) & 63];
  }
  const size_t rest = ABytes.size() - at;  // a last group of 1 or 2 bytes: 2 or 3 characters
  if (rest > 0) {
    const uint32_t group = byte(at) << 16 | (rest == 2 ? byte(at + 1) << 8 : 0);
    for (int shift = 18; shift >= (rest == 2 ? 6 : 12); shift -= 6) text += kBase64Alphabet[(group >> shift) & 63];
  }
  return text;
}

std::string TrsEncryptor::Base64Decode(std::string_view AText) {
  if (AText.size() % 4 == 1) return {};  // a single last character holds no whole byte
  std::string bytes;
  bytes.reserve(AText.size() / 4 * 3 + 2);
  uint32_t group = 0;
  int digits = 0;
  for (char c : AText) {
    const int digit = Base64Digit(c);
    if (digit < 0) return {};
    group = group << 6 | static_cast<uint32_t>(digit);
    if (++digits == 4) {
      PutLittleEndian(bytes, (group >> 16) & 0xFF, 1);
      PutLittleEndian(bytes, (group >> 8) & 0xFF, 1);
      PutLittleEndian(bytes, group & 0xFF, 1);
      group = 0;
      digits = 0;
    }
  }
  if (digits == 2) PutLittleEndian(bytes, (group >> 4) & 0xFF, 1);
  if (digits == 3) {
    PutLittleEndian(bytes, (group >> 10) & 0xFF, 1);
    PutLittleEndian(bytes, (group >> 2) & 0xFF, 1);
  }
  return bytes;
}

std::string TrsEncryptor::EncryptBytes(std::string ABytes) {
  if (ABytes.size() > static_cast<size_t>(INT32_MAX)) EncryptionFailed();
  const int32_t size = static_cast<int32_t>(ABytes.size());
  const int32_t needed = EncryptBufferSize(size);
  if (needed < 0) EncryptionFailed();
  if (needed > size) ABytes.resize(static_cast<size_t>(needed), '\0');
  const int32_t result = EncryptBuffer(reinterpret_cast<uint8_t*>(ABytes.data()), size);
  if (result <= 0 || static_cast<size_t>(result) > ABytes.size()) EncryptionFailed();
  ABytes.resize(static_cast<size_t>(result));
  return ABytes;
}

std::string TrsEncryptor::DecryptBytes(std::string ABytes) {
  if (ABytes.empty() || ABytes.size() > static_cast<size_t>(INT32_MAX)) return {};
  const int32_t size = static_cast<int32_t>(ABytes.size());
  const int32_t needed = DecryptBufferSize(size);
  if (needed < 0) return {};
  if (needed > size) ABytes.resize(static_cast<size_t>(needed), '\0');
  const int32_t result = DecryptBuffer(reinterpret_cast<uint8_t*>(ABytes.data()), size);
  if (result <= 0 || static_cast<size_t>(result) > ABytes.size()) return {};
  ABytes.resize(static_cast<size_t>(result));
  return ABytes;
}

bool TrsEncryptor::CipherWorks() {
  static constexpr std::string_view kProbe = "Velloran Viewer cipher probe";
  try {
    return DecryptBytes(EncryptBytes(std::string(kProbe))) == kProbe;
  } catch (const TrsException&) {
    return false;
  }
}

// --- keys ---

std::string TrsEncryptor::GetEncryptedKey(std::string_view AKey) {
  FTempKeyType = 0;
  const TrsKeyItem* key = FStorage != nullptr ? FStorage->FindKeyItem(AKey, false) : nullptr;
  if (key == nullptr) return {};
  FTempKeyType = key->Value.kvType;
  // A kind word above 10 is what marks a payload that does not decrypt: a key of an unknown
  // kind would never come back, so it stays as it is.
  if (FTempKeyType > kvPointer) return {};
  return Base64Encode(EncryptBytes(Payload(FTempKeyType, ValueBytes(key->Value))));
}

void TrsEncryptor::DoEncryptKey(std::string_view AKey) {
  const std::string text = GetEncryptedKey(AKey);
  if (text.empty()) return;
  TrsKeyItem* key = FStorage->FindKeyItem(AKey, false);
  if (key == nullptr) return;
  if (FTempKeyType == kvBuffer) {
    key->Value.Value = std::vector<uint8_t>(text.begin(), text.end());
  } else {
    // Base64 is ASCII: the same characters as 8-bit text and as UTF-8.
    key->Value.kvType = kvString;
    key->Value.Value = text;
  }
}

std::string TrsEncryptor::GetDecryptedKey(std::string_view AKey) {
  FTempKeyType = 0;
  const TrsKeyItem* key = FStorage != nullptr ? FStorage->FindKeyItem(AKey, false) : nullptr;
  if (key == nullptr) return {};
  std::string text;
  if (key->Value.kvType == kvString) {
    // Taken as 8-bit text: only ASCII can be Base64, and ASCII has the same bytes in UTF-8.
    text = ValueOr(key->Value.Value, std::string());
  } else if (key->Value.kvType == kvBuffer) {
    const auto* buffer = std::get_if<std::vector<uint8_t>>(&key->Value.Value);
    if (buffer != nullptr) text.assign(buffer->begin(), buffer->end());
  } else {
    return {};
  }
  const std::string payload = DecryptBytes(Base64Decode(text));
  if (payload.size() < 2) return {};
  const auto kind = static_cast<uint16_t>(GetLittleEndian(payload, 0, 2));
  if (kind > kvPointer) return {};
  FTempKeyType = kind;
  return payload.substr(2);
}

void TrsEncryptor::DoDecryptKey(std::string_view AKey) {
  const std::string bytes = GetDecryptedKey(AKey);
  if (bytes.empty() && FTempKeyType == kvUnknown) return;  // an empty text has its kind word
  std::optional<TrsKeyValue::TValue> value = ValueOfBytes(FTempKeyType, bytes);
  TrsKeyItem* key = FStorage->FindKeyItem(AKey, false);
  if (!value || key == nullptr) return;
  key->Value.kvType = FTempKeyType;
  key->Value.Value = std::move(*value);
}

std::string TrsEncryptor::GetEncryptedValue(std::string_view AValue) {
  return Base64Encode(EncryptBytes(Payload(kvString, Utf16LeBytes(AValue))));
}

std::string TrsEncryptor::GetDecryptedValue(std::string_view AValue) {
  const std::string payload = DecryptBytes(Base64Decode(AValue));
  if (payload.size() < 2 || GetLittleEndian(payload, 0, 2) > kvPointer) return {};
  return TextOfWholeUtf16LeBytes(std::string_view(payload).substr(2)).value_or(std::string());
}

bool TrsEncryptor::IsSameEncryptedKey(std::string_view AKey, std::string_view AValue) {
  const TrsKeyItem* key = FStorage != nullptr ? FStorage->FindKeyItem(AKey, false) : nullptr;
  if (key == nullptr) return false;
  std::string text;
  if (key->Value.kvType == kvString) {
    text = ValueOr(key->Value.Value, std::string());
  } else if (const auto* buffer = std::get_if<std::vector<uint8_t>>(&key->Value.Value); key->Value.kvType == kvBuffer && buffer) {
    text.assign(buffer->begin(), buffer->end());
  } else {
    return false;
  }
  return text == GetEncryptedValue(AValue);
}

// --- sections and the whole store ---

void TrsEncryptor::DoEncryptSection(std::string_view ASection) {
  if (FStorage == nullptr) return;
  const std::string section = SectionFromTop(ASection);
  if (!section.empty() && !FStorage->SectionExist(section)) return;
  std::ostringstream block;
  FStorage->SectionSaveToStream(section, block);
  const std::string encrypted = EncryptBytes(block.str());  // before anything is cleared
  FStorage->SectionClear(section);
  if (TrsKeyItem* holder = FStorage->FindKeyItem(HolderKey(section), true)) {
    holder->Value.kvType = kvBuffer;
    holder->Value.Value = std::vector<uint8_t>(encrypted.begin(), encrypted.end());
  }
}

void TrsEncryptor::DoDecryptSection(std::string_view ASection) {
  if (FStorage == nullptr) return;
  const std::string section = SectionFromTop(ASection);
  const TrsKeyItem* holder = FStorage->FindKeyItem(HolderKey(section), false);
  const auto* bytes =
      holder != nullptr && holder->Value.kvType == kvBuffer ? std::get_if<std::vector<uint8_t>>(&holder->Value.Value) : nullptr;
  if (bytes == nullptr) return;
  const std::string block = DecryptBytes(std::string(bytes->begin(), bytes->end()));
  if (!block.empty()) MergeBlock(section, block);
}

void TrsEncryptor::DoEncryptAll() {
  if (FStorage == nullptr) return;
  std::ostringstream block;
  FStorage->SectionSaveToStream("", block);
  const std::string encrypted = EncryptBytes(block.str());
  FStorage->ClearAll();
  if (TrsKeyItem* holder = FStorage->FindKeyItem(HolderKey(""), true)) {
    holder->Value.kvType = kvBuffer;
    holder->Value.Value = std::vector<uint8_t>(encrypted.begin(), encrypted.end());
  }
}

void TrsEncryptor::DoDecryptAll() { DoDecryptSection(""); }

bool TrsEncryptor::MergeBlock(const std::string& ASection, const std::string& ABlock) {
  // Read into a scratch store first: a block that does not read leaves the storage untouched,
  // and what the section holds besides the holder key (keys merged from another medium)
  // stays, with the block's keys overwriting those of the same path.
  TrsStorage scratch;
  std::istringstream stream(ABlock);
  try {
    scratch.SectionLoadFromStream("", stream);
  } catch (const TrsException&) {
    return false;
  }
  FStorage->KeyDelete(HolderKey(ASection));
  for (int i = 0; i < scratch.SectionItemCount(); ++i) FStorage->SectionAdd(ASection + "\\" + scratch.SectionFullPath(i));
  for (int i = 0; i < scratch.KeyItemCount(); ++i) {
    const TrsKeyItem& key = scratch.KeyItem(i);
    const int section = scratch.SectionIndexOfId(key.SectionId);
    std::string path = ASection;
    if (section >= 0) path.append("\\").append(scratch.SectionFullPath(section));
    path += '\\';
    path += key.Name;
    if (TrsKeyItem* target = FStorage->FindKeyItem(path, true)) target->Value = key.Value;
  }
  return true;
}

// --- the lists ---

namespace {

enum class TTarget { None, Key, Section };

// What an EncryptKeys entry names in AStorage, and its path from the top.
std::pair<TTarget, std::string> TargetOf(TrsStorage& AStorage, std::string_view AEntry) {
  if (AEntry.empty()) return {TTarget::None, {}};
  // Entries are taken from the top whatever the current section: a save and the next load
  // run from different current sections and must find the same things.
  std::string_view relative = AEntry;
  while (!relative.empty() && IsDelimiter(relative.front())) relative.remove_prefix(1);
  const std::string path = std::string("\\").append(relative);
  // A trailing delimiter names a section: read as a key path it would name the key with the
  // empty name, which is the holder of an encrypted section.
  if (IsDelimiter(AEntry.back())) return {TTarget::Section, path};
  if (AStorage.KeyExist(path)) return {TTarget::Key, path};
  if (AStorage.SectionExist(path)) return {TTarget::Section, path};
  return {TTarget::None, {}};
}

}  // namespace

void TrsEncryptor::Encrypt(const std::string& AEntry) {
  const auto [target, path] = TargetOf(*FStorage, AEntry);
  if (target == TTarget::Key) DoEncryptKey(path);
  if (target == TTarget::Section) DoEncryptSection(path);
}

void TrsEncryptor::Decrypt(const std::string& AEntry) {
  const auto [target, path] = TargetOf(*FStorage, AEntry);
  if (target == TTarget::Key) DoDecryptKey(path);
  if (target == TTarget::Section) DoDecryptSection(path);
}

void TrsEncryptor::DoEncrypt() {
  if (FStorage == nullptr) return;
  if (FEncryptAll) {
    DoEncryptAll();
    return;
  }
  for (const std::string& entry : FEncryptKeys) Encrypt(entry);
}

void TrsEncryptor::DoDecrypt() {
  if (FStorage == nullptr) return;
  if (FEncryptAll) {
    DoDecryptAll();
    return;
  }
  // Last entry first, undoing the encryption in reverse: a key listed before its own section
  // was encrypted first and sits inside the encrypted section, so it is found only after the
  // section is decrypted.
  for (auto entry = FEncryptKeys.rbegin(); entry != FEncryptKeys.rend(); ++entry) Decrypt(*entry);
}

// --- AES-256-SIV --------------------------------------------------------------------------

namespace {

struct TContextFree {
  void operator()(EVP_CIPHER_CTX* AContext) const { EVP_CIPHER_CTX_free(AContext); }
};
using TCipherContext = std::unique_ptr<EVP_CIPHER_CTX, TContextFree>;

// Wipes a buffer when the scope ends, whichever way it ends.
class TWipeOnExit {
 public:
  TWipeOnExit(void* AData, size_t ASize) : FData(AData), FSize(ASize) {}
  ~TWipeOnExit() { OPENSSL_cleanse(FData, FSize); }
  TWipeOnExit(const TWipeOnExit&) = delete;
  TWipeOnExit& operator=(const TWipeOnExit&) = delete;

 private:
  void* FData;
  size_t FSize;
};

}  // namespace

TrsAesSivEncryptor::TrsAesSivEncryptor(const std::array<uint8_t, kKeySize>& AKey) : FKey(AKey) {
  FCipher = EVP_CIPHER_fetch(nullptr, "AES-256-SIV", nullptr);
  if (FCipher == nullptr) {
    OPENSSL_cleanse(FKey.data(), FKey.size());  // no destructor runs for a throwing constructor
    RaiseStorageError(-1, "The crypto library offers no AES-256-SIV cipher.");
  }
}

TrsAesSivEncryptor::~TrsAesSivEncryptor() {
  OPENSSL_cleanse(FKey.data(), FKey.size());
  EVP_CIPHER_free(FCipher);
}

std::unique_ptr<TrsAesSivEncryptor> TrsAesSivEncryptor::FromPassphrase(std::string_view APassphrase) {
  static constexpr std::string_view kSalt = "Velloran Viewer settings";
  static constexpr int kIterations = 100000;
  if (APassphrase.size() > static_cast<size_t>(INT32_MAX)) RaiseStorageError(-1, "The passphrase is too long.");
  std::array<uint8_t, kKeySize> key{};
  const TWipeOnExit wipe(key.data(), key.size());
  if (PKCS5_PBKDF2_HMAC(APassphrase.data(), static_cast<int>(APassphrase.size()),
                        reinterpret_cast<const unsigned char*>(kSalt.data()), static_cast<int>(kSalt.size()), kIterations,
                        EVP_sha256(), static_cast<int>(key.size()), key.data()) != 1) {
    RaiseStorageError(-1, "The key could not be derived from the passphrase.");
  }
  return std::make_unique<TrsAesSivEncryptor>(key);
}

int32_t TrsAesSivEncryptor::EncryptBuffer(uint8_t* AData, int32_t ASize) {
  if (AData == nullptr || ASize <= 0 || ASize > INT32_MAX - kTagSize) return -1;
  const auto size = static_cast<size_t>(ASize);
  // Worked in a buffer of our own, the tag first (RFC 5297's order), then copied back.
  std::vector<uint8_t> out(size + kTagSize);
  const TWipeOnExit wipe(out.data(), out.size());
  const TCipherContext context(EVP_CIPHER_CTX_new());
  int length = 0;
  int finalLength = 0;
  const bool done = context != nullptr && EVP_EncryptInit_ex2(context.get(), FCipher, FKey.data(), nullptr, nullptr) == 1 &&
                    EVP_EncryptUpdate(context.get(), out.data() + kTagSize, &length, AData, ASize) == 1 && length == ASize &&
                    EVP_EncryptFinal_ex(context.get(), out.data() + kTagSize + length, &finalLength) == 1 && finalLength == 0 &&
                    EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, kTagSize, out.data()) == 1;
  if (!done) return -1;
  std::memcpy(AData, out.data(), out.size());
  return ASize + kTagSize;
}

int32_t TrsAesSivEncryptor::DecryptBuffer(uint8_t* AData, int32_t ASize) {
  if (AData == nullptr || ASize <= kTagSize) return -1;
  const int32_t size = ASize - kTagSize;
  std::vector<uint8_t> out(static_cast<size_t>(size));
  const TWipeOnExit wipe(out.data(), out.size());  // it holds plain text
  const TCipherContext context(EVP_CIPHER_CTX_new());
  int length = 0;
  int finalLength = 0;
  // The tag is checked by the final step: a wrong key or a changed byte fails there.
  const bool done = context != nullptr && EVP_DecryptInit_ex2(context.get(), FCipher, FKey.data(), nullptr, nullptr) == 1 &&
                    EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, kTagSize, AData) == 1 &&
                    EVP_DecryptUpdate(context.get(), out.data(), &length, AData + kTagSize, size) == 1 && length == size &&
                    EVP_DecryptFinal_ex(context.get(), out.data() + length, &finalLength) == 1 && finalLength == 0;
  if (!done) return -1;
  std::memcpy(AData, out.data(), out.size());
  return size;
}

}  // namespace velloran
