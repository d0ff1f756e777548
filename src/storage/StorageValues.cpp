// The typed values of TrsStorage: the Read/Write operations, the conversions a read performs
// when the stored kind differs from the requested type, Values[] through TrsVariant, variant
// arrays, string lists and the key wrapper's typed properties.
//
// Every storage operation resolves its key and then works through the key wrapper, so the
// storage's reads and the wrapper's properties share one set of rules. A wrapper that points
// at no key reads as a kvUnknown value and ignores writes.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <istream>
#include <limits>
#include <optional>
#include <ostream>
#include <type_traits>
#include <variant>

#include "PlatformText.h"
#include "Storage.h"

namespace velloran {

namespace {

template <class... Ts>
struct TOverloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
TOverloaded(Ts...) -> TOverloaded<Ts...>;  // clang 14 does not deduce aggregates by itself

// One millisecond in days: date-times closer than this are the same moment.
constexpr double kOneMillisecond = 1.1574074074074074e-8;

const TrsKeyValue& ValueOf(const TrsKeyWrapper& AKey) {
  static const TrsKeyValue none;
  const TrsKeyItem* item = AKey.Item();
  return item != nullptr ? item->Value : none;
}

// The value field read as the alternative T; a cleared value (or one stored under another
// alternative) reads as zero or empty, so a value is never misread.
template <typename T>
T FieldOf(const TrsKeyValue& AValue) {
  const T* field = std::get_if<T>(&AValue.Value);
  return field != nullptr ? *field : T{};
}

const std::string& TextOf(const TrsKeyValue& AValue) {
  static const std::string none;
  const std::string* text = std::get_if<std::string>(&AValue.Value);
  return text != nullptr ? *text : none;
}

const std::vector<uint8_t>& BytesOf(const TrsKeyValue& AValue) {
  static const std::vector<uint8_t> none;
  const std::vector<uint8_t>* bytes = std::get_if<std::vector<uint8_t>>(&AValue.Value);
  return bytes != nullptr ? *bytes : none;
}

// The low 32 bits of a pointer, as the int32 the same value field holds.
int32_t PointerLow32(const void* APointer) { return static_cast<int32_t>(reinterpret_cast<uintptr_t>(APointer)); }

[[noreturn]] void CantRead(const TrsKeyWrapper& AKey, const char* ATypeWord) {
  std::string text = "Can't read value of key \"";
  text += AKey.FullName();
  text += "\" as ";
  text += ATypeWord;
  text += " type.";
  RaiseStorageError(sekGetValue, text);
}

[[noreturn]] void CantWrite(const TrsKeyWrapper& AKey, const char* ATypeWord) {
  std::string text = "Can't write value of key \"";
  text += AKey.FullName();
  text += "\" as ";
  text += ATypeWord;
  text += " type.";
  RaiseStorageError(sekSetValue, text);
}

void Store(const TrsKeyWrapper& AKey, TrsKeyValueKind AKind, TrsKeyValue::TValue AValue) {
  TrsKeyItem* item = AKey.Item();
  if (item == nullptr) return;
  item->Value.kvType = AKind;
  item->Value.Value = std::move(AValue);
}

int32_t ClampedSize(size_t ASize) {
  return static_cast<int32_t>(std::min(ASize, static_cast<size_t>(std::numeric_limits<int32_t>::max())));
}

// --- little-endian bytes --------------------------------------------------------------------

// The unsigned integer of T's size, through which T is written byte by byte.
template <typename T>
using TBitsOf = std::make_unsigned_t<
    std::conditional_t<std::is_floating_point_v<T>, std::conditional_t<sizeof(T) == 4, int32_t, int64_t>, T>>;

template <typename T>
void PutLittleEndian(std::vector<uint8_t>& ABytes, T AValue) {
  using TUnsigned = TBitsOf<T>;
  auto bits = std::bit_cast<TUnsigned>(AValue);
  for (size_t i = 0; i < sizeof(T); ++i) {
    ABytes.push_back(static_cast<uint8_t>(bits & 0xFFu));
    bits = static_cast<TUnsigned>(bits >> 8);
  }
}

template <typename T>
T GetLittleEndian(const uint8_t* ABytes) {
  using TUnsigned = TBitsOf<T>;
  TUnsigned bits = 0;
  for (size_t i = sizeof(T); i-- > 0;) bits = static_cast<TUnsigned>((bits << 8) | ABytes[i]);
  return std::bit_cast<T>(bits);
}

// A buffer of exactly sizeof(T) bytes read as T; nothing for any other size.
template <typename T>
std::optional<T> BufferAs(const TrsKeyValue& AValue) {
  const std::vector<uint8_t>& bytes = BytesOf(AValue);
  if (bytes.size() != sizeof(T)) return std::nullopt;
  return GetLittleEndian<T>(bytes.data());
}

// The UTF-16LE bytes of a text: what a text key gives to byte-oriented reads.
std::vector<uint8_t> Utf16LeByteVector(std::string_view AText) {
  const std::string bytes = Utf16LeBytes(AText);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The texts a boolean reads from; nothing for any other text.
std::optional<bool> TextToBoolean(std::string_view AText) {
  if (platform::SameTextIgnoringAsciiCase(AText, "True") || AText == "1" || AText == "-1") return true;
  if (platform::SameTextIgnoringAsciiCase(AText, "False") || AText == "0" || AText.empty()) return false;
  return std::nullopt;
}

// X and Y of a point written as "X,Y"; each part that is not an integer counts as 0. Y is
// taken from at most 255 characters: counting bytes rather than UTF-16 units gives the same
// number, since a cut that differs would fall inside a non-ASCII character, which makes the
// part no integer either way.
TrsPoint TextToPoint(std::string_view AText, size_t AComma) {
  const auto part = [](std::string_view APart) {
    try {
      return TextToInteger(APart);
    } catch (const EConvertError&) {
      return int32_t{0};
    }
  };
  return TrsPoint{part(AText.substr(0, AComma)), part(AText.substr(AComma + 1, 255))};
}

// --- variants ---------------------------------------------------------------------------------
// A TrsVariant may carry its value in an alternative other than the one its type code uses
// (an integer code with a double, say); the value is then converted, never dropped.

int64_t VarInt64(const TrsVariant& AValue) {
  return std::visit(
      TOverloaded{[](std::monostate) { return int64_t{0}; }, [](int64_t AData) { return AData; },
                  [](double AData) { return RoundHalfEven64(AData); }, [](TrsCurrency AData) { return CurrencyRound(AData); },
                  [](bool AData) { return AData ? int64_t{-1} : int64_t{0}; },
                  [](const std::string& AData) { return TextToInt64(AData); }},
      AValue.Data());
}

double VarDouble(const TrsVariant& AValue) {
  return std::visit(
      TOverloaded{[](std::monostate) { return 0.0; }, [](int64_t AData) { return static_cast<double>(AData); },
                  [](double AData) { return AData; }, [](TrsCurrency AData) { return CurrencyToDouble(AData); },
                  [](bool AData) { return AData ? -1.0 : 0.0; }, [](const std::string& AData) { return TextToFloat(AData); }},
      AValue.Data());
}

TrsCurrency VarCurrency(const TrsVariant& AValue) {
  return std::visit(
      TOverloaded{[](std::monostate) { return TrsCurrency{}; }, [](int64_t AData) { return CurrencyFromInt64(AData); },
                  [](double AData) { return CurrencyFromDouble(AData); }, [](TrsCurrency AData) { return AData; },
                  [](bool AData) { return CurrencyFromInt64(AData ? -1 : 0); },
                  [](const std::string& AData) { return TextToCurrency(AData); }},
      AValue.Data());
}

bool VarBoolean(const TrsVariant& AValue) {
  return std::visit(TOverloaded{[](std::monostate) { return false; }, [](int64_t AData) { return AData != 0; },
                                [](double AData) { return AData != 0.0; }, [](TrsCurrency AData) { return AData.Scaled != 0; },
                                [](bool AData) { return AData; },
                                [](const std::string& AData) {
                                  const std::optional<bool> value = TextToBoolean(AData);
                                  if (!value) {
                                    std::string message = "'";
                                    message += AData;
                                    message += "' is not a valid boolean value";
                                    throw EConvertError(message);
                                  }
                                  return *value;
                                }},
                    AValue.Data());
}

std::string VarText(const TrsVariant& AValue) {
  return std::visit(
      TOverloaded{[](std::monostate) { return std::string(); }, [](int64_t AData) { return std::to_string(AData); },
                  [](double AData) { return FloatToText(AData); }, [](TrsCurrency AData) { return CurrencyToText(AData); },
                  [](bool AData) { return std::string(AData ? "True" : "False"); },
                  [](const std::string& AData) { return AData; }},
      AValue.Data());
}

// --- variant arrays -----------------------------------------------------------------------
// Little-endian: int32 element count, then per element an int32 type code and its data.
// Texts take one of two forms. A text whose characters all lie in 0..255 is written in the
// 8-bit form, whose code page here is Latin-1 (code point n as byte n), so every text of that
// form reads back unchanged; any other text is written as UTF-16 code units, with bit 31 of
// its byte count set.

constexpr uint32_t kUtf16TextFlag = 0x80000000u;

template <typename T>
bool Fits(int64_t AValue) {
  return AValue >= static_cast<int64_t>(std::numeric_limits<T>::min()) &&
         AValue <= static_cast<int64_t>(std::numeric_limits<T>::max());
}

void PutText(std::vector<uint8_t>& ABytes, const std::string& AText) {
  const std::u16string units = Utf8ToUtf16(AText);
  const bool wide = std::any_of(units.begin(), units.end(), [](char16_t AUnit) { return AUnit > 0xFF; });
  const size_t byteCount = units.size() * (wide ? 2 : 1);
  if (byteCount > 0x7FFFFFFFu) throw std::length_error("variant array text too long");
  PutLittleEndian(ABytes, static_cast<uint32_t>(byteCount) | (wide ? kUtf16TextFlag : 0u));
  for (const char16_t unit : units) {
    if (wide) {
      PutLittleEndian(ABytes, static_cast<uint16_t>(unit));
    } else {
      ABytes.push_back(static_cast<uint8_t>(unit));
    }
  }
}

// The serialised array, or nothing when an element has a type the format does not hold.
std::optional<std::vector<uint8_t>> SerialiseArray(const std::vector<TrsVariant>& AValues) {
  std::vector<uint8_t> bytes;
  PutLittleEndian(bytes, static_cast<int32_t>(ClampedSize(AValues.size())));
  for (const TrsVariant& value : AValues) {
    const uint16_t type = value.VarType();
    PutLittleEndian(bytes, static_cast<int32_t>(type));
    switch (type) {
      // A value that does not fit its element's width is refused, never cut to fit.
      case varSmallint:
        if (!Fits<int16_t>(VarInt64(value))) return std::nullopt;
        PutLittleEndian(bytes, static_cast<int16_t>(VarInt64(value)));
        break;
      case varInteger:
        if (!Fits<int32_t>(VarInt64(value))) return std::nullopt;
        PutLittleEndian(bytes, static_cast<int32_t>(VarInt64(value)));
        break;
      case varSingle: {
        const double number = VarDouble(value);
        if (std::isfinite(number) && std::fabs(number) > static_cast<double>(std::numeric_limits<float>::max()))
          return std::nullopt;
        PutLittleEndian(bytes, static_cast<float>(number));
        break;
      }
      case varDouble:
      case varDate:
        PutLittleEndian(bytes, VarDouble(value));
        break;
      case varCurrency:
        PutLittleEndian(bytes, VarCurrency(value).Scaled);
        break;
      case varOleStr:
      case varString:
      case varUString:
        PutText(bytes, VarText(value));
        break;
      case varBoolean:
        bytes.push_back(VarBoolean(value) ? 1 : 0);
        break;
      case varByte:
        if (!Fits<uint8_t>(VarInt64(value))) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(VarInt64(value)));
        break;
      default:
        return std::nullopt;
    }
  }
  return bytes;
}

class TArrayReader {
 public:
  explicit TArrayReader(const std::vector<uint8_t>& ABytes) : FBytes(ABytes) {}

  // False when the bytes end before the value does.
  template <typename T>
  bool Read(T& AValue) {
    if (FBytes.size() - FPosition < sizeof(T)) return false;
    AValue = GetLittleEndian<T>(FBytes.data() + FPosition);
    FPosition += sizeof(T);
    return true;
  }

  bool ReadText(std::string& AText) {
    uint32_t count = 0;
    if (!Read(count)) return false;
    const bool wide = (count & kUtf16TextFlag) != 0;
    const size_t byteCount = count & ~kUtf16TextFlag;
    if (FBytes.size() - FPosition < byteCount || (wide && byteCount % 2 != 0)) return false;
    std::u16string units;
    units.reserve(wide ? byteCount / 2 : byteCount);
    for (size_t i = 0; i < byteCount; i += wide ? 2 : 1) {
      units.push_back(wide ? static_cast<char16_t>(GetLittleEndian<uint16_t>(FBytes.data() + FPosition + i))
                           : static_cast<char16_t>(FBytes[FPosition + i]));
    }
    FPosition += byteCount;
    AText = Utf16ToUtf8(units);
    return true;
  }

 private:
  const std::vector<uint8_t>& FBytes;
  size_t FPosition = 0;
};

// The elements of a serialised array; nothing when the bytes are not one.
std::optional<std::vector<TrsVariant>> DeserialiseArray(const std::vector<uint8_t>& ABytes) {
  TArrayReader reader(ABytes);
  int32_t count = 0;
  if (!reader.Read(count) || count < 0) return std::nullopt;
  std::vector<TrsVariant> values;
  // Every element takes at least five bytes: a forged count cannot reserve much.
  values.reserve(std::min(static_cast<size_t>(count), ABytes.size() / 5));
  for (int32_t i = 0; i < count; ++i) {
    int32_t code = 0;
    if (!reader.Read(code) || code < 0 || code > 0xFFFF) return std::nullopt;
    const auto type = static_cast<TrsVarType>(code);
    bool read = false;
    switch (type) {
      case varSmallint: {
        int16_t data = 0;
        read = reader.Read(data);
        values.emplace_back(type, int64_t{data});
        break;
      }
      case varInteger: {
        int32_t data = 0;
        read = reader.Read(data);
        values.emplace_back(type, int64_t{data});
        break;
      }
      case varSingle: {
        float data = 0;
        read = reader.Read(data);
        values.emplace_back(type, double{data});
        break;
      }
      case varDouble:
      case varDate: {
        double data = 0;
        read = reader.Read(data);
        values.emplace_back(type, data);
        break;
      }
      case varCurrency: {
        int64_t data = 0;
        read = reader.Read(data);
        values.emplace_back(type, TrsCurrency{data});
        break;
      }
      case varOleStr:
      case varString:
      case varUString: {
        std::string data;
        read = reader.ReadText(data);
        values.emplace_back(type, std::move(data));
        break;
      }
      case varBoolean:
      case varByte: {
        uint8_t data = 0;
        read = reader.Read(data);
        if (type == varBoolean) {
          values.push_back(TrsVariant::Boolean(data != 0));
        } else {
          values.emplace_back(type, int64_t{data});
        }
        break;
      }
      default:
        break;
    }
    if (!read) return std::nullopt;
  }
  return values;
}

// --- string lists -----------------------------------------------------------------------------

// A key path split before its last component: the prefix keeps the path's section part and
// its last delimiter verbatim, so prefix + another name addresses that name in the same
// section, however the path was written.
struct TListPath {
  std::string_view Prefix;
  std::string_view Name;
};

TListPath SplitListPath(std::string_view AKey) {
  size_t last = AKey.size();
  while (last > 0 && AKey[last - 1] != '\\' && AKey[last - 1] != '/') --last;
  return {AKey.substr(0, last), AKey.substr(last)};
}

std::string ItemPath(TListPath APath, size_t AIndex) {
  std::string path(APath.Prefix);
  path += APath.Name;
  path += ".Item";
  path += std::to_string(AIndex);
  return path;
}

// Whether AKeyName is AName + ".Item" + n for some n not below ACount.
bool IsItemFrom(std::string_view AKeyName, std::string_view AName, size_t ACount) {
  size_t digits = AKeyName.size();
  while (digits > 0 && AKeyName[digits - 1] >= '0' && AKeyName[digits - 1] <= '9') --digits;
  const std::string_view number = AKeyName.substr(digits);
  // "Item07" is no index: indexes are written without leading zeros.
  if (number.empty() || (number.size() > 1 && number.front() == '0')) return false;
  uint64_t index = 0;
  const std::from_chars_result parsed = std::from_chars(number.data(), number.data() + number.size(), index);
  if (parsed.ec == std::errc() && index < ACount) return false;  // too many digits: past every count
  std::string head(AName);
  head += ".Item";
  return SameName(AKeyName.substr(0, digits), head);
}

}  // namespace

// --- the key wrapper's typed properties ---------------------------------------------------------

std::string TrsKeyWrapper::AsString() const {
  const TrsKeyValue& value = ValueOf(*this);
  switch (value.kvType) {
    case kvUnknown:
      return {};
    case kvString:
      return TextOf(value);
    case kvBuffer: {
      const std::vector<uint8_t>& bytes = BytesOf(value);
      return BufferToHexText(bytes.data(), bytes.size());
    }
    case kvInteger:
      return std::to_string(FieldOf<int32_t>(value));
    case kvPointer:
      return std::to_string(PointerLow32(FieldOf<const void*>(value)));
    case kvDouble:
      return FloatToText(FieldOf<double>(value));
    case kvCurrency:
      return CurrencyToText(TrsCurrency{FieldOf<int64_t>(value)});
    case kvDateTime:
      return DateTimeToText(FieldOf<double>(value));
    case kvBoolean:
      return FieldOf<int32_t>(value) != 0 ? "True" : "False";
    case kvPoint: {
      const TrsPoint point = FieldOf<TrsPoint>(value);
      std::string text = std::to_string(point.X);
      text += ',';
      text += std::to_string(point.Y);
      return text;
    }
    case kvInt64:
      return std::to_string(FieldOf<int64_t>(value));
    default:
      CantRead(*this, "string");
  }
}

void TrsKeyWrapper::SetAsString(std::string_view AValue) { Store(*this, kvString, std::string(AValue)); }

int32_t TrsKeyWrapper::AsInteger() const {
  const TrsKeyValue& value = ValueOf(*this);
  switch (value.kvType) {
    case kvUnknown:
      return 0;
    case kvInteger:
      return FieldOf<int32_t>(value);
    case kvInt64:
      return static_cast<int32_t>(FieldOf<int64_t>(value));  // the low 32 bits
    case kvString:
      return TextToInteger(TextOf(value));
    case kvDouble:
    case kvDateTime:
      return RoundHalfEven(FieldOf<double>(value));
    case kvCurrency: {
      // Rounded to a whole number; one beyond int32 is refused like a double's, not wrapped.
      const int64_t whole = CurrencyRound(TrsCurrency{FieldOf<int64_t>(value)});
      if (whole < INT32_MIN || whole > INT32_MAX)
        throw EConvertError("'" + std::to_string(whole) + "' is out of the integer range");
      return static_cast<int32_t>(whole);
    }
    case kvBoolean:
      return FieldOf<int32_t>(value) != 0 ? 1 : 0;
    case kvBuffer:
      if (const std::optional<int32_t> number = BufferAs<int32_t>(value)) return *number;
      break;
    default:
      break;
  }
  CantRead(*this, "integer");
}

void TrsKeyWrapper::SetAsInteger(int32_t AValue) { Store(*this, kvInteger, AValue); }

int64_t TrsKeyWrapper::AsInt64() const {
  const TrsKeyValue& value = ValueOf(*this);
  switch (value.kvType) {
    case kvUnknown:
      return 0;
    case kvInt64:
      return FieldOf<int64_t>(value);
    case kvString:
      return TextToInt64(TextOf(value));
    case kvInteger:
      return FieldOf<int32_t>(value);
    case kvDouble:
      return RoundHalfEven64(FieldOf<double>(value));
    case kvCurrency:
      return CurrencyRound(TrsCurrency{FieldOf<int64_t>(value)});
    case kvBuffer:
      if (const std::optional<int64_t> number = BufferAs<int64_t>(value)) return *number;
      break;
    default:
      break;
  }
  CantRead(*this, "Int64");
}

void TrsKeyWrapper::SetAsInt64(int64_t AValue) { Store(*this, kvInt64, AValue); }

double TrsKeyWrapper::AsFloat() const {
  const TrsKeyValue& value = ValueOf(*this);
  switch (value.kvType) {
    case kvUnknown:
      return 0;
    case kvDouble:
      return FieldOf<double>(value);
    case kvString:
      return TextToFloat(TextOf(value));  // it accepts "," and "." as the separator
    case kvInteger:
      return FieldOf<int32_t>(value);
    case kvInt64:
      return static_cast<double>(FieldOf<int64_t>(value));
    case kvCurrency:
      return CurrencyToDouble(TrsCurrency{FieldOf<int64_t>(value)});
    case kvBuffer:
      if (const std::optional<double> number = BufferAs<double>(value)) return *number;
      break;
    default:
      break;
  }
  CantRead(*this, "float");
}

void TrsKeyWrapper::SetAsFloat(double AValue) { Store(*this, kvDouble, AValue); }

TrsCurrency TrsKeyWrapper::AsCurrency() const {
  const TrsKeyValue& value = ValueOf(*this);
  switch (value.kvType) {
    case kvUnknown:
      return {};
    case kvCurrency:
      return TrsCurrency{FieldOf<int64_t>(value)};
    case kvDouble:
      return CurrencyFromDouble(FieldOf<double>(value));
    case kvString:
      return TextToCurrency(TextOf(value));
    case kvInteger:
      return CurrencyFromInt64(FieldOf<int32_t>(value));
    case kvInt64:
      return CurrencyFromInt64(FieldOf<int64_t>(value));
    case kvBuffer:
      if (const std::optional<int64_t> scaled = BufferAs<int64_t>(value)) return TrsCurrency{*scaled};
      break;
    default:
      break;
  }
  CantRead(*this, "currency");
}

void TrsKeyWrapper::SetAsCurrency(TrsCurrency AValue) { Store(*this, kvCurrency, AValue.Scaled); }

double TrsKeyWrapper::AsDateTime() const {
  const TrsKeyValue& value = ValueOf(*this);
  switch (value.kvType) {
    case kvUnknown:
      return 0;
    case kvDateTime:
    case kvDouble:
      return FieldOf<double>(value);
    case kvString:
      return TextToDateTime(TextOf(value));
    case kvInteger:
      return FieldOf<int32_t>(value);
    case kvInt64:
      return static_cast<double>(FieldOf<int64_t>(value));
    case kvBuffer:
      if (const std::optional<double> number = BufferAs<double>(value)) return *number;
      break;
    default:
      break;
  }
  CantRead(*this, "DateTime");
}

void TrsKeyWrapper::SetAsDateTime(double AValue) { Store(*this, kvDateTime, AValue); }

bool TrsKeyWrapper::AsBoolean() const {
  const TrsKeyValue& value = ValueOf(*this);
  switch (value.kvType) {
    case kvUnknown:
      return false;
    case kvBoolean:
    case kvInteger:
      return FieldOf<int32_t>(value) != 0;
    case kvInt64:
    case kvCurrency:
      return FieldOf<int64_t>(value) != 0;
    case kvDouble:
      return FieldOf<double>(value) != 0.0;
    case kvString:
      if (const std::optional<bool> flag = TextToBoolean(TextOf(value))) return *flag;
      break;
    default:
      break;
  }
  CantRead(*this, "boolean");
}

void TrsKeyWrapper::SetAsBoolean(bool AValue) { Store(*this, kvBoolean, AValue ? int32_t{-1} : int32_t{0}); }

TrsPoint TrsKeyWrapper::AsPoint() const {
  const TrsKeyValue& value = ValueOf(*this);
  switch (value.kvType) {
    case kvUnknown:
      return {};
    case kvPoint:
      return FieldOf<TrsPoint>(value);
    case kvString: {
      const std::string& text = TextOf(value);
      const size_t comma = text.find(',');
      if (comma != std::string::npos) return TextToPoint(text, comma);
      break;
    }
    default:
      break;
  }
  CantRead(*this, "point");
}

void TrsKeyWrapper::SetAsPoint(TrsPoint AValue) { Store(*this, kvPoint, AValue); }

const void* TrsKeyWrapper::AsPointer() const {
  const TrsKeyValue& value = ValueOf(*this);
  switch (value.kvType) {
    case kvPointer:
      return FieldOf<const void*>(value);
    // The raw value field of the other kinds that have one: the address of a text's UTF-8 bytes
    // or of a buffer's bytes (valid until the key's value changes; null when empty), and an
    // integer as an address, zero-extended from its 32 bits.
    case kvString: {
      const std::string& text = TextOf(value);
      return text.empty() ? nullptr : text.data();
    }
    case kvBuffer: {
      const std::vector<uint8_t>& bytes = BytesOf(value);
      return bytes.empty() ? nullptr : bytes.data();
    }
    case kvInteger:
      return reinterpret_cast<const void*>(static_cast<uintptr_t>(static_cast<uint32_t>(FieldOf<int32_t>(value))));
    default:
      break;
  }
  if (!Assigned()) return nullptr;
  CantRead(*this, "pointer");
}

void TrsKeyWrapper::SetAsPointer(const void* AValue) { Store(*this, kvPointer, AValue); }

TrsVariant TrsKeyWrapper::AsVariant() const {
  const TrsKeyValue& value = ValueOf(*this);
  switch (value.kvType) {
    case kvString:
      return TrsVariant::Text(TextOf(value));
    case kvBuffer: {
      // An 8-bit string: each byte is the character of that code in the 8-bit code page
      // (Latin-1 here, as in variant arrays), held as UTF-8 like every text.
      const std::vector<uint8_t>& bytes = BytesOf(value);
      return TrsVariant::AnsiText(Utf16ToUtf8(std::u16string(bytes.begin(), bytes.end())));
    }
    case kvInteger:
      return TrsVariant::Integer(FieldOf<int32_t>(value));
    case kvPointer:
      return TrsVariant::Integer(PointerLow32(FieldOf<const void*>(value)));
    case kvDouble:
      return TrsVariant::Double(FieldOf<double>(value));
    case kvCurrency:
      return TrsVariant::Currency(TrsCurrency{FieldOf<int64_t>(value)});
    case kvDateTime:
      return TrsVariant::Date(FieldOf<double>(value));
    case kvBoolean:
      return TrsVariant::Boolean(FieldOf<int32_t>(value) != 0);
    case kvInt64:
      return TrsVariant::Int64(FieldOf<int64_t>(value));
    default:  // kvUnknown, kvPoint and codes we do not know
      return {};
  }
}

void TrsKeyWrapper::SetAsVariant(const TrsVariant& AValue) {
  if (!Assigned()) return;
  // Convert first: a conversion that throws leaves the old value whole.
  switch (AValue.VarType()) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
      Store(*this, kvInteger, static_cast<int32_t>(VarInt64(AValue)));  // a long word keeps its 32 bits
      break;
    case varSingle:
    case varDouble:
      Store(*this, kvDouble, VarDouble(AValue));
      break;
    case varCurrency:
      Store(*this, kvCurrency, VarCurrency(AValue).Scaled);
      break;
    case varDate:
      Store(*this, kvDateTime, VarDouble(AValue));
      break;
    case varOleStr:
    case varString:
    case varUString:
      Store(*this, kvString, VarText(AValue));
      break;
    case varBoolean:
      Store(*this, kvBoolean, int32_t{VarBoolean(AValue) ? 1 : 0});
      break;
    case varInt64:
      Store(*this, kvInt64, VarInt64(AValue));
      break;
    default:
      // Empty, null, and every type the storage has no kind for (arrays, unsigned 64-bit,
      // error codes, interfaces): stored as kvUnknown, so no old value survives.
      Store(*this, kvUnknown, std::monostate{});
      break;
  }
}

std::vector<uint8_t> TrsKeyWrapper::GetAsBuffer() const {
  const TrsKeyValue& value = ValueOf(*this);
  if (value.kvType == kvString) return Utf16LeByteVector(TextOf(value));
  if (value.kvType == kvBuffer) return BytesOf(value);
  return {};
}

void TrsKeyWrapper::SetAsBuffer(const void* ABuffer, size_t ACount) {
  const auto* bytes = static_cast<const uint8_t*>(ABuffer);
  Store(*this, kvBuffer, bytes == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(bytes, bytes + ACount));
}

int32_t TrsKeyWrapper::GetAsArray(std::vector<TrsVariant>& AValues) const {
  const TrsKeyValue& value = ValueOf(*this);
  if (value.kvType != kvBuffer || BytesOf(value).empty()) return 0;
  std::optional<std::vector<TrsVariant>> values = DeserialiseArray(BytesOf(value));
  if (!values) CantRead(*this, "array");  // our rule: bytes that are no array are refused
  AValues = std::move(*values);
  return ClampedSize(AValues.size());
}

void TrsKeyWrapper::SetAsArray(const std::vector<TrsVariant>& AValues) {
  if (!Assigned()) return;
  std::optional<std::vector<uint8_t>> bytes = SerialiseArray(AValues);
  // Refused before anything is stored: the key keeps its previous value.
  if (!bytes) CantWrite(*this, "array");
  Store(*this, kvBuffer, std::move(*bytes));
}

void TrsKeyWrapper::Clear() {
  if (TrsKeyItem* item = Item()) item->Value.Clear();
}

void TrsKeyWrapper::AssignValue(const TrsKeyValue& AKey) {
  if (TrsKeyItem* item = Item()) item->Value = AKey;
}

void TrsKeyWrapper::AssignValueTo(TrsKeyValue& AKey) const {
  if (const TrsKeyItem* item = Item()) AKey = item->Value;
}

bool TrsKeyWrapper::EqualValue(const TrsKeyValue& AKey) const {
  const TrsKeyValue& value = ValueOf(*this);
  if (value.kvType != AKey.kvType) return false;
  switch (value.kvType) {
    case kvString:
      return TextOf(value) == TextOf(AKey);
    case kvBuffer:
      return BytesOf(value) == BytesOf(AKey);
    case kvInteger:
      return FieldOf<int32_t>(value) == FieldOf<int32_t>(AKey);
    case kvDouble:
      return FieldOf<double>(value) == FieldOf<double>(AKey);
    case kvCurrency:
    case kvInt64:
      return FieldOf<int64_t>(value) == FieldOf<int64_t>(AKey);
    case kvPointer:
      return FieldOf<const void*>(value) == FieldOf<const void*>(AKey);
    case kvDateTime:
      return std::abs(FieldOf<double>(value) - FieldOf<double>(AKey)) < kOneMillisecond;
    case kvBoolean:
      return (FieldOf<int32_t>(value) != 0) == (FieldOf<int32_t>(AKey) != 0);
    case kvPoint:
      return FieldOf<TrsPoint>(value) == FieldOf<TrsPoint>(AKey);
    default:  // kvUnknown and codes we do not know
      return true;
  }
}

// --- reads ------------------------------------------------------------------------------------

std::string TrsStorage::ReadString(std::string_view AKey, std::string_view ADefValue) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.AsString() : std::string(ADefValue);
}

std::string TrsStorage::ReadText(std::string_view AKey, std::string_view ADefValue) { return ReadString(AKey, ADefValue); }

int32_t TrsStorage::ReadInteger(std::string_view AKey, int32_t ADefValue) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.AsInteger() : ADefValue;
}

int64_t TrsStorage::ReadInt64(std::string_view AKey, int64_t ADefValue) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.AsInt64() : ADefValue;
}

double TrsStorage::ReadFloat(std::string_view AKey, double ADefValue) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.AsFloat() : ADefValue;
}

TrsCurrency TrsStorage::ReadCurrency(std::string_view AKey, TrsCurrency ADefValue) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.AsCurrency() : ADefValue;
}

double TrsStorage::ReadDateTime(std::string_view AKey, double ADefValue) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.AsDateTime() : ADefValue;
}

bool TrsStorage::ReadBoolean(std::string_view AKey, bool ADefValue) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.AsBoolean() : ADefValue;
}

TrsPoint TrsStorage::ReadPoint(std::string_view AKey) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.AsPoint() : TrsPoint{};
}

const void* TrsStorage::ReadPointer(std::string_view AKey, const void* ADefValue) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.AsPointer() : ADefValue;
}

int32_t TrsStorage::ReadBuffer(std::string_view AKey, void* ABuffer, int32_t ACount) {
  if (FindKeyItem(AKey, false) == nullptr) return 0;
  const TrsKeyValue& value = FKeyWrapper.Item()->Value;
  if (value.kvType != kvString && value.kvType != kvBuffer) return 0;
  // A text is converted for this read only; a buffer is copied from where it lies.
  std::vector<uint8_t> converted;
  if (value.kvType == kvString) converted = Utf16LeByteVector(TextOf(value));
  const std::vector<uint8_t>& bytes = value.kvType == kvString ? converted : BytesOf(value);
  // No buffer to copy into is a request for the size, like a count of zero.
  if (ACount <= 0 || ABuffer == nullptr) return ClampedSize(bytes.size());
  const size_t copied = std::min(bytes.size(), static_cast<size_t>(ACount));
  if (copied > 0) std::memcpy(ABuffer, bytes.data(), copied);
  return static_cast<int32_t>(copied);
}

int32_t TrsStorage::ReadStream(std::string_view AKey, std::ostream& AStream) {
  if (FindKeyItem(AKey, false) == nullptr) return 0;
  const std::vector<uint8_t> bytes = FKeyWrapper.GetAsBuffer();
  AStream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return ClampedSize(bytes.size());
}

int32_t TrsStorage::ReadArray(std::string_view AKey, std::vector<TrsVariant>& AValues) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.GetAsArray(AValues) : 0;
}

bool TrsStorage::ReadStrings(std::string_view AKey, std::vector<std::string>& AStrings) {
  const TListPath path = SplitListPath(AKey);
  AStrings.clear();
  for (size_t i = 0; FindKeyItem(ItemPath(path, i), false) != nullptr; ++i) AStrings.push_back(FKeyWrapper.AsString());
  return !AStrings.empty();
}

TrsVariant TrsStorage::Values(std::string_view AKey) {
  return FindKeyItem(AKey, false) != nullptr ? FKeyWrapper.AsVariant() : TrsVariant();
}

// --- writes -----------------------------------------------------------------------------------
// A path that does not resolve stores nothing; FindKeyItem has then left the wrapper as it was,
// so each write checks the resolution rather than the wrapper.

void TrsStorage::WriteString(std::string_view AKey, std::string_view AValue) {
  const std::string value(AValue);  // AValue may point into the arrays, which creating moves
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsString(value);
}

void TrsStorage::WriteText(std::string_view AKey, std::string_view AValue) { WriteString(AKey, AValue); }

void TrsStorage::WriteInteger(std::string_view AKey, int32_t AValue) {
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsInteger(AValue);
}

void TrsStorage::WriteInt64(std::string_view AKey, int64_t AValue) {
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsInt64(AValue);
}

void TrsStorage::WriteFloat(std::string_view AKey, double AValue) {
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsFloat(AValue);
}

void TrsStorage::WriteCurrency(std::string_view AKey, TrsCurrency AValue) {
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsCurrency(AValue);
}

void TrsStorage::WriteDateTime(std::string_view AKey, double AValue) {
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsDateTime(AValue);
}

void TrsStorage::WriteBoolean(std::string_view AKey, bool AValue) {
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsBoolean(AValue);
}

void TrsStorage::WritePoint(std::string_view AKey, TrsPoint AValue) {
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsPoint(AValue);
}

void TrsStorage::WritePointer(std::string_view AKey, const void* AValue) {
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsPointer(AValue);
}

void TrsStorage::WriteBuffer(std::string_view AKey, const void* ABuffer, int32_t ACount) {
  // A negative count stores an empty buffer, as does a missing buffer. The bytes are copied
  // first: they may lie in another key's value, which creating the key can move.
  const auto* bytes = static_cast<const uint8_t*>(ABuffer);
  const std::vector<uint8_t> copy =
      bytes == nullptr || ACount <= 0 ? std::vector<uint8_t>() : std::vector<uint8_t>(bytes, bytes + ACount);
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsBuffer(copy.data(), copy.size());
}

void TrsStorage::WriteStream(std::string_view AKey, std::istream& AStream) {
  if (FindKeyItem(AKey, true) == nullptr) return;
  AStream.clear();
  AStream.seekg(0);
  std::string bytes;
  char chunk[4096];
  while (AStream.read(chunk, sizeof chunk) || AStream.gcount() > 0) bytes.append(chunk, static_cast<size_t>(AStream.gcount()));
  FKeyWrapper.SetAsBuffer(bytes.data(), bytes.size());
}

void TrsStorage::WriteArray(std::string_view AKey, const std::vector<TrsVariant>& AValues) {
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsArray(AValues);
}

void TrsStorage::WriteStrings(std::string_view AKeyView, const std::vector<std::string>& AStrings) {
  const std::string AKey(AKeyView);  // it may be a key's own name, which the removals below move
  // Everything goes through paths built on Key's own section part, so the current section is
  // never moved.
  const TListPath path = SplitListPath(AKey);
  // An empty list still creates its section, as writing its items would.
  if (AStrings.empty() && path.Prefix.size() > 1) SectionAdd(path.Prefix.substr(0, path.Prefix.size() - 1));
  std::string exact(path.Prefix);
  exact += path.Name;
  KeyDelete(exact);
  // Items past the new end. Names are gathered from the whole store but removed through the
  // list's own path, so a key of the same name in another section is never touched.
  std::vector<std::string> stale;
  for (int i = 0; i < KeyItemCount(); ++i) {
    const TrsKeyItem& key = KeyItem(i);
    if (!IsItemFrom(key.Name, path.Name, AStrings.size())) continue;
    std::string keyPath(path.Prefix);
    keyPath += key.Name;
    stale.push_back(std::move(keyPath));
  }
  for (const std::string& keyPath : stale) KeyDelete(keyPath);
  for (size_t i = 0; i < AStrings.size(); ++i) WriteString(ItemPath(path, i), AStrings[i]);
}

void TrsStorage::SetValues(std::string_view AKey, const TrsVariant& AValue) {
  if (FindKeyItem(AKey, true) != nullptr) FKeyWrapper.SetAsVariant(AValue);
}

void TrsStorage::SectionValues(std::vector<std::string>& AStrings) {
  std::vector<std::string> names;
  KeyList(names);
  AStrings.clear();
  for (const std::string& name : names) {
    if (FindKeyItem(name, false) == nullptr) continue;
    std::string line = name;
    line += '=';
    line += FKeyWrapper.AsString();
    AStrings.push_back(std::move(line));
  }
}

}  // namespace velloran
