// The encryptor a storage runs around its saves and loads so that chosen keys, chosen
// sections or the whole store reach the medium encrypted only, and its AES-256-SIV cipher.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// OpenSSL's EVP_CIPHER, kept out of this header.
struct evp_cipher_st;

namespace velloran {

class TrsStorage;

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

}  // namespace velloran
