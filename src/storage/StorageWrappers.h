// The key wrapper and the section wrapper: accessors of the one key or section a storage's
// last lookup or iteration step found, through which its typed reads and writes go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "StorageKeyValue.h"
#include "StorageTree.h"
#include "StorageUtils.h"
#include "Variant.h"

namespace velloran {

class TrsStorage;

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

}  // namespace velloran
