// TrsVariant: the variant values the storage reads and writes through Values[] and in
// variant arrays. It carries an OLE VARENUM type code, which decides how the storage stores
// it, and the value in the alternative that code uses.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "StorageUtils.h"

namespace velloran {

// The type codes the storage knows (OLE VARENUM numbering; 256 an 8-bit string, 258 a UTF-16
// string).
enum TrsVarType : uint16_t {
  varEmpty = 0,
  varNull = 1,
  varSmallint = 2,
  varInteger = 3,
  varSingle = 4,
  varDouble = 5,
  varCurrency = 6,
  varDate = 7,
  varOleStr = 8,
  varBoolean = 11,
  varShortInt = 16,
  varByte = 17,
  varWord = 18,
  varLongWord = 19,
  varInt64 = 20,
  varString = 256,
  varUString = 258,
};

class TrsVariant {
 public:
  // Integers of every width in int64_t, floats and dates in double. Texts are UTF-8; the
  // 8-bit string a byte buffer reads as holds each byte as the character of that code
  // (U+0000..U+00FF), the 8-bit code page being Latin-1.
  using TData = std::variant<std::monostate, int64_t, double, TrsCurrency, bool, std::string>;

  TrsVariant() = default;
  TrsVariant(TrsVarType AType, TData AData) : FType(AType), FData(std::move(AData)) {}

  static TrsVariant Null() { return {varNull, std::monostate{}}; }
  static TrsVariant Integer(int32_t AValue) { return {varInteger, int64_t{AValue}}; }
  static TrsVariant Int64(int64_t AValue) { return {varInt64, AValue}; }
  static TrsVariant Double(double AValue) { return {varDouble, AValue}; }
  static TrsVariant Currency(TrsCurrency AValue) { return {varCurrency, AValue}; }
  static TrsVariant Date(double AValue) { return {varDate, AValue}; }
  static TrsVariant Boolean(bool AValue) { return {varBoolean, AValue}; }
  static TrsVariant Text(std::string AValue) { return {varUString, std::move(AValue)}; }     // UTF-16 string
  static TrsVariant AnsiText(std::string AValue) { return {varString, std::move(AValue)}; }  // 8-bit string

  TrsVarType VarType() const { return FType; }
  bool IsEmpty() const { return FType == varEmpty; }
  const TData& Data() const { return FData; }

  friend bool operator==(const TrsVariant&, const TrsVariant&) = default;

 private:
  TrsVarType FType = varEmpty;
  TData FData;
};

}  // namespace velloran
