#include "IniFile.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include "PlatformText.h"

namespace velloran {

namespace {

constexpr std::string_view kBody = "%BODY%\r\n";
constexpr std::string_view kLineEnd = "\r\n";
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsDigit(char AChar) { return AChar >= '0' && AChar <= '9'; }

int HexValue(char AChar) {
  if (AChar >= '0' && AChar <= '9') return AChar - '0';
  if (AChar >= 'a' && AChar <= 'f') return AChar - 'a' + 10;
  if (AChar >= 'A' && AChar <= 'F') return AChar - 'A' + 10;
  return -1;
}

// Characters up to and including space count as blanks at both ends of a line. Bytes of
// multi-byte UTF-8 characters are all above space.
bool IsBlank(char AChar) { return static_cast<unsigned char>(AChar) <= ' '; }

std::string_view TrimBlanks(std::string_view AText) {
  while (!AText.empty() && IsBlank(AText.front())) AText.remove_prefix(1);
  while (!AText.empty() && IsBlank(AText.back())) AText.remove_suffix(1);
  return AText;
}

std::string_view TrimBlanksRight(std::string_view AText) {
  while (!AText.empty() && IsBlank(AText.back())) AText.remove_suffix(1);
  return AText;
}

// Length in UTF-16 code units, the unit in which a line's column is counted.
size_t Utf16Length(std::string_view AText) {
  size_t units = 0;
  for (char c : AText) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;  // a character's first byte
    if (byte >= 0xF0) ++units;           // beyond the BMP: a surrogate pair
  }
  return units;
}

// --- value texts, writing -------------------------------------------------------------------------

bool HasControlCharacter(std::string_view AText) {
  return std::any_of(AText.begin(), AText.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

void AppendEscapedText(std::string& ALine, std::string_view AText) {
  ALine += "text:\"";
  for (char c : AText) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '$') {
      ALine += "$$";
    } else if (code < 32) {
      ALine += '$';
      ALine += kHexDigits[code >> 4];
      ALine += kHexDigits[code & 15];
    } else {
      ALine += c;
    }
  }
  ALine += '"';
}

void AppendStringValue(std::string& ALine, std::string_view AText) {
  if (HasControlCharacter(AText)) {
    AppendEscapedText(ALine, AText);
  } else if (AText.size() >= 2 && AText.front() == '"' && AText.back() == '"') {
    // Written as is, the reader would take the quotes for the writer's own and drop them;
    // the escaped form keeps them (and reads back the same in every older reader).
    AppendEscapedText(ALine, AText);
  } else if (AText.empty() || AText == "\"") {
    ALine += AText;
  } else {
    ALine += '"';
    ALine += AText;
    ALine += '"';
  }
}

// "%g" with up to 15 significant digits in the locale's form, and a separator always present,
// so that the reader takes it for a float. Where that text would not read back as the same
// number (it needs an exponent, which the reader does not know, or 15 digits are too few),
// the shortest plain decimal that does.
std::string DoubleText(double AValue) {
  const std::string separator = LocaleDecimalSeparator();
  std::string text = FloatToText(AValue);
  if (std::isfinite(AValue)) {
    bool exact = text.find('E') == std::string::npos;
    if (exact) {
      try {
        const double readBack = TextToFloat(text);
        exact = readBack == AValue && std::signbit(readBack) == std::signbit(AValue);
      } catch (const EConvertError&) {
        exact = false;
      }
    }
    if (!exact) {
      char digits[400];
      const auto written = std::to_chars(std::begin(digits), std::end(digits), AValue, std::chars_format::fixed);
      text.assign(digits, written.ptr);
      const size_t point = text.find('.');
      if (point != std::string::npos) text.replace(point, 1, separator);
    }
  }
  if (std::isfinite(AValue) && text.find(separator) == std::string::npos) text += separator + "0";
  return text;
}

std::string FixedDateTimeText(double AValue) {
  const TrsDateTimeParts parts = DecodeDateTime(AValue);
  return fmt::format("fxdate:{:04d}-{:02d}-{:02d}T{:02d}:{:02d}:{:02d}.{}", parts.Year, parts.Month, parts.Day, parts.Hour,
                     parts.Minute, parts.Second, parts.Millisecond);
}

template <typename T>
T ValueOr(const TrsKeyValue& AKey, T ADefault) {
  const T* value = std::get_if<T>(&AKey.Value);
  return value != nullptr ? *value : ADefault;
}

// --- value texts, reading -------------------------------------------------------------------------

// A whole number or a float as the reader recognises it; nothing when the text is neither.
// ALocalSeparator: the locale's decimal separator.
std::optional<TrsKeyValue> ParseNumber(std::string_view AValue, char ALocalSeparator) {
  const char localSeparator = ALocalSeparator;
  size_t digits = 0;
  size_t separators = 0;
  for (size_t i = 0; i < AValue.size(); ++i) {
    const char c = AValue[i];
    if (c == '+' || c == '-') {
      if (i != 0) return std::nullopt;
    } else if (IsDigit(c)) {
      ++digits;
    } else if (c == localSeparator || c == '.' || c == ',') {
      if (++separators > 1) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0) return std::nullopt;
  if (separators == 1) {
    std::string copy(AValue);
    if (localSeparator == '.') std::replace(copy.begin(), copy.end(), ',', '.');
    if (localSeparator == ',') std::replace(copy.begin(), copy.end(), '.', ',');
    return TrsKeyValue{0, kvDouble, TextToFloat(copy)};
  }
  const bool negative = AValue.front() == '-';
  const std::string_view number = (AValue.front() == '+' || negative) ? AValue.substr(1) : AValue;
  // Equal-length digit strings compare as numbers do.
  const auto notAbove = [&](std::string_view ALimit) { return number.size() < ALimit.size() || number <= ALimit; };
  uint64_t magnitude = 0;
  for (char c : number) magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
  if (digits >= 20 || (digits == 19 && !notAbove(negative ? "9223372036854775808" : "9223372036854775807"))) return std::nullopt;
  const int64_t value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  if (digits <= 9 || (digits == 10 && notAbove(negative ? "2147483648" : "2147483647"))) {
    return TrsKeyValue{0, kvInteger, static_cast<int32_t>(value)};
  }
  return TrsKeyValue{0, kvInt64, value};
}

// Digits only, no sign and no spaces; nothing for anything else.
std::optional<int> FixedPart(std::string_view AText) {
  if (AText.empty() || !std::all_of(AText.begin(), AText.end(), IsDigit)) return std::nullopt;
  while (AText.size() > 1 && AText.front() == '0') AText.remove_prefix(1);
  // Beyond every valid part, so the encoding refuses it as an impossible date or time.
  if (AText.size() > 9) return 1000000000;
  int value = 0;
  for (char c : AText) value = value * 10 + (c - '0');
  return value;
}

// "YYYY-MM-DDTHH:MM:SS.mmm..."; nothing for a wrong separator or a part that is no number.
// An impossible date or time throws EConvertError.
std::optional<double> ParseFixedDateTime(std::string_view AText) {
  if (AText.size() < 21) return std::nullopt;
  constexpr std::pair<size_t, char> kSeparators[] = {{4, '-'}, {7, '-'}, {10, 'T'}, {13, ':'}, {16, ':'}, {19, '.'}};
  for (const auto& [at, separator] : kSeparators) {
    if (AText[at] != separator) return std::nullopt;
  }
  const std::optional<int> year = FixedPart(AText.substr(0, 4));
  const std::optional<int> month = FixedPart(AText.substr(5, 2));
  const std::optional<int> day = FixedPart(AText.substr(8, 2));
  const std::optional<int> hour = FixedPart(AText.substr(11, 2));
  const std::optional<int> minute = FixedPart(AText.substr(14, 2));
  const std::optional<int> second = FixedPart(AText.substr(17, 2));
  const std::optional<int> millisecond = FixedPart(AText.substr(20));
  if (!year || !month || !day || !hour || !minute || !second || !millisecond) return std::nullopt;
  return EncodeDateTime(*year, *month, *day, *hour, *minute, *second, *millisecond);
}

// Pairs of hex digits, with any number of CR, LF, space, "," and "\" between them; anything
// else (or half a pair) gives no bytes at all.
std::vector<uint8_t> ParseHexBytes(std::string_view AText) {
  std::vector<uint8_t> bytes;
  bytes.reserve(AText.size() / 3 + 1);
  for (size_t i = 0; i < AText.size();) {
    const char c = AText[i];
    if (c == '\r' || c == '\n' || c == ' ' || c == ',' || c == '\\') {
      ++i;
      continue;
    }
    const int high = HexValue(c);
    const int low = i + 1 < AText.size() ? HexValue(AText[i + 1]) : -1;
    if (high < 0 || low < 0) return {};
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    i += 2;
  }
  return bytes;
}

// Bytes of the UTF-8 character that begins with ALead (the text is well-formed).
size_t Utf8CharLength(char ALead) {
  const auto lead = static_cast<unsigned char>(ALead);
  return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// The text of a "text:" value: "$$" is "$", "$" and two hex digits the character of that code,
// a double quote ending the line ends the value.
std::string UnescapeText(std::string_view AText) {
  std::string text;
  text.reserve(AText.size());
  size_t i = (!AText.empty() && AText.front() == '"') ? 1 : 0;
  while (i < AText.size()) {
    const char c = AText[i];
    if (c == '"' && i + 1 == AText.size()) break;
    if (c != '$') {
      text += c;
      ++i;
    } else if (i + 1 < AText.size() && AText[i + 1] == '$') {
      text += '$';
      i += 2;
    } else {
      // The two characters after "$" (whole characters: a multi-byte one is no hex digit).
      const size_t first = i + 1;
      const size_t second = first < AText.size() ? first + Utf8CharLength(AText[first]) : AText.size();
      if (second >= AText.size()) {
        text += c;  // a "$" with no room for two characters stays itself
        ++i;
        continue;
      }
      // A first character that is no hex digit counts as 0; a second one adds nothing.
      const int high = std::max(second - first == 1 ? HexValue(AText[first]) : -1, 0);
      const int low = std::max(Utf8CharLength(AText[second]) == 1 ? HexValue(AText[second]) : -1, 0);
      platform::AppendLatin1(text, static_cast<unsigned>(high * 16 + low));
      i = std::min(second + Utf8CharLength(AText[second]), AText.size());
    }
  }
  return text;
}

TrsPoint ParsePoint(std::string_view AText) {
  const size_t comma = AText.find(',');
  const std::string_view x = AText.substr(0, comma);
  const std::string_view y = comma == std::string_view::npos ? std::string_view() : AText.substr(comma + 1, 255);
  return TrsPoint{TextToInteger(x), TextToInteger(y)};
}

}  // namespace

// --- the writer ---------------------------------------------------------------------------------

class TrsIniData::TWriter {
 public:
  TWriter(TrsIniData& AOwner, TrsStorage& AStorage) : FOwner(AOwner), FStorage(AStorage) {
    const TrsCodePage codePage = AOwner.CodePage();
    if (AOwner.Unicode() || codePage == cpUTF16le || codePage == cpUTF16be) {
      FEncoding = codePage == cpUTF16be ? TEncoding::Utf16be : TEncoding::Utf16le;
    } else if (codePage == cpUTF8 || AnsiCodePageIsUtf8()) {
      FEncoding = TEncoding::Utf8;
    } else {
      FEncoding = TEncoding::Ansi;
    }
  }

  void Run() {
    WriteByteOrderMark();
    std::string templateText;
    for (const std::string& line : FOwner.FTemplate) {
      templateText += line;
      templateText += kLineEnd;
    }
    const size_t body = templateText.find(kBody);
    Emit(std::string_view(templateText).substr(0, body));

    FOwner.ProgressItemCount = FStorage.KeyItemCount();
    FOwner.DoProgress();
    const bool saveEmpty = (FStorage.Options() & soSaveEmptySection) != 0;
    for (int section = -1; section < FStorage.SectionItemCount(); ++section) WriteSection(section, saveEmpty);

    if (body != std::string::npos) {
      const std::string_view tail = std::string_view(templateText).substr(body + kBody.size());
      if (tail != kLineEnd) Emit(tail);
    }
    FOwner.FlushBuffer();
  }

 private:
  enum class TEncoding { Utf8, Ansi, Utf16le, Utf16be };

  void WriteByteOrderMark() {
    if (FOwner.CodePage() == cpUTF16le) {
      FOwner.WriteToBuffer("\xFF\xFE");
    } else if (FOwner.CodePage() == cpUTF16be) {
      FOwner.WriteToBuffer("\xFE\xFF");
    } else if (FOwner.CodePage() == cpUTF8) {
      FOwner.WriteToBuffer("\xEF\xBB\xBF");
    }
  }

  void WriteSection(int ASection, bool ASaveEmpty) {
    const auto [begin, end] = FStorage.SectionKeyRun(ASection);
    if (begin == end && !ASaveEmpty) return;
    FLine = '[';
    FLine += FStorage.SectionFullPath(ASection);
    FLine += ']';
    FLine += kLineEnd;
    Emit(FLine);
    if (begin == end) return;
    for (int key = begin; key < end; ++key) {
      WriteKey(FStorage.KeyItem(key), key);
      ++FOwner.ProgressItemCurrent;
      FOwner.DoProgress();
    }
    Emit(kLineEnd);
  }

  void WriteKey(const TrsKeyItem& AKey, int AIndex) {
    FLine = AKey.Name;
    FLine += '=';
    try {
      AppendValue(AKey);
    } catch (const EConvertError& error) {
      RaiseStorageError(sekGetValue, "The value of \"" + FStorage.KeyFullName(AIndex) + "\" cannot be written: " + error.what());
    }
    FLine += kLineEnd;
    Emit(FLine);
  }

  void AppendValue(const TrsKeyItem& AKey) {
    const TrsKeyValue& value = AKey.Value;
    switch (value.kvType) {
      case kvString:
        AppendStringValue(FLine, ValueOr<std::string>(value, {}));
        break;
      case kvBuffer:
        AppendBuffer(AKey.Name, ValueOr<std::vector<uint8_t>>(value, {}));
        break;
      case kvInteger:
        FLine += std::to_string(ValueOr<int32_t>(value, 0));
        break;
      case kvPointer:
        FLine += std::to_string(
            static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ValueOr<const void*>(value, nullptr)))));
        break;
      case kvDouble:
        FLine += DoubleText(ValueOr<double>(value, 0.0));
        break;
      case kvCurrency:
        FLine += "curr:";
        FLine += CurrencyToText(TrsCurrency{ValueOr<int64_t>(value, 0)});
        break;
      case kvDateTime:
        if (FOwner.FFixedDTFormat) {
          FLine += FixedDateTimeText(ValueOr<double>(value, 0.0));
        } else {
          FLine += "date:";
          FLine += DateTimeToText(ValueOr<double>(value, 0.0));
        }
        break;
      case kvBoolean:
        FLine += ValueOr<int32_t>(value, 0) != 0 ? "True" : "False";
        break;
      case kvPoint: {
        const TrsPoint point = ValueOr<TrsPoint>(value, {});
        FLine += "point:";
        FLine += std::to_string(point.X);
        FLine += ',';
        FLine += std::to_string(point.Y);
        break;
      }
      case kvInt64: {
        const int64_t number = ValueOr<int64_t>(value, 0);
        if (number >= INT32_MIN && number <= INT32_MAX) FLine += "int64:";
        FLine += std::to_string(number);
        break;
      }
      default:
        break;  // kvUnknown: no value
    }
  }

  // Two hex digits a byte, separated by ","; a line grows to 76 to 78 characters, then
  // continues after "\" on the next line, indented by two spaces. The last byte never
  // starts a line alone.
  void AppendBuffer(const std::string& AName, const std::vector<uint8_t>& ABytes) {
    FLine += "hex:";
    const bool compact = (FOwner.FCompactOptions & coHexStr) != 0;
    size_t column = Utf16Length(AName) + 7;
    for (size_t i = 0; i < ABytes.size(); ++i) {
      FLine += kHexDigits[ABytes[i] >> 4];
      FLine += kHexDigits[ABytes[i] & 15];
      if (compact || i + 1 == ABytes.size()) continue;
      FLine += ',';
      column += 3;
      if (column > 76 && ABytes.size() - (i + 1) >= 2) {
        FLine += "\\\r\n  ";
        column = 3;
      }
    }
  }

  void Emit(std::string_view AText) {
    if (AText.empty()) return;
    switch (FEncoding) {
      case TEncoding::Utf8:
        FOwner.WriteToBuffer(AText);
        break;
      case TEncoding::Ansi:
        FOwner.WriteToBuffer(Utf8ToAnsi(AText));
        break;
      case TEncoding::Utf16le:
      case TEncoding::Utf16be: {
        const std::u16string units = Utf8ToUtf16(AText);
        FBytes.resize(units.size() * 2);
        const bool bigEndian = FEncoding == TEncoding::Utf16be;
        for (size_t i = 0; i < units.size(); ++i) {
          FBytes[2 * i + (bigEndian ? 1 : 0)] = static_cast<char>(units[i] & 0xFF);
          FBytes[2 * i + (bigEndian ? 0 : 1)] = static_cast<char>(units[i] >> 8);
        }
        FOwner.WriteToBuffer(FBytes);
        break;
      }
    }
  }

  TrsIniData& FOwner;
  TrsStorage& FStorage;
  TEncoding FEncoding = TEncoding::Utf8;
  std::string FLine;   // the line being built, reused
  std::string FBytes;  // a line in UTF-16, reused
};

// --- the parser ---------------------------------------------------------------------------------

class TrsIniData::TParser {
 public:
  TParser(TrsIniData& AOwner, TrsStorage& AStorage) : FOwner(AOwner), FStorage(AStorage) {
    // A multi-byte separator cannot stand in a number's one separator place: "." and ","
    // still do.
    const std::string separator = LocaleDecimalSeparator();
    FDecimalSeparator = separator.size() == 1 ? separator[0] : '.';
  }

  void Run(std::string& ABytes) {
    const std::string_view text = DecodedText(ABytes);
    FText = text.substr(0, text.find('\0'));  // a zero character ends the text
    FAt = FirstHeader();
    const auto [sections, keys] = CountLines();
    if (sections == 0 && keys == 0) return;
    FStorage.ReserveSections(sections);
    FOwner.ProgressItemCount = keys;
    FOwner.DoProgress();
    FStorage.SetRootSection("");
    while (FAt < FText.size()) ParseLine(NextLine());
  }

 private:
  // The text as UTF-8: the file's own bytes when they are UTF-8 already, else converted.
  std::string_view DecodedText(std::string& ABytes) {
    const auto byteAt = [&](size_t AIndex) { return AIndex < ABytes.size() ? static_cast<unsigned char>(ABytes[AIndex]) : 0u; };
    const unsigned first = byteAt(0) | (byteAt(1) << 8);
    if (ABytes.size() >= 2 && (first == 0x005B || first == 0x5B00 || first == 0xFEFF || first == 0xFFFE)) {
      const bool bigEndian = first == 0x5B00 || first == 0xFFFE;
      const bool marked = first == 0xFEFF || first == 0xFFFE;
      std::u16string units(ABytes.size() / 2, u'\0');
      for (size_t i = 0; i < units.size(); ++i) {
        const unsigned low = byteAt(2 * i + (bigEndian ? 1 : 0));
        const unsigned high = byteAt(2 * i + (bigEndian ? 0 : 1));
        units[i] = static_cast<char16_t>(low | (high << 8));
      }
      FConverted = Utf16ToUtf8(std::u16string_view(units).substr(marked ? 1 : 0));
      return FConverted;
    }
    if (ABytes.size() >= 3 && ABytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return Utf8Text(std::string_view(ABytes).substr(3));
    if (AnsiCodePageIsUtf8()) return Utf8Text(ABytes);
    FConverted = AnsiToUtf8(ABytes);
    return FConverted;
  }

  // UTF-8 text as it stands when it is well-formed (the usual case: no copy); otherwise with
  // every ill-formed sequence replaced by U+FFFD, as a conversion to UTF-16 would do, so that
  // the storage only ever holds text that every encoding can write.
  std::string_view Utf8Text(std::string_view AText) {
    if (platform::IsWellFormedUtf8(AText)) return AText;
    FConverted = Utf16ToUtf8(Utf8ToUtf16(AText));
    return FConverted;
  }

  // Where the first "[" that begins a line stands; everything before it is skipped.
  size_t FirstHeader() const {
    for (size_t at = FText.find('['); at != std::string_view::npos; at = FText.find('[', at + 1)) {
      if (at == 0 || FText[at - 1] == '\r' || FText[at - 1] == '\n') return at;
    }
    return FText.size();
  }

  // Sections and keys, counted ahead to size the storage and the progress.
  std::pair<int, int> CountLines() {
    int sections = 0;
    int keys = 0;
    const size_t start = FAt;
    while (FAt < FText.size()) {
      const std::string_view line = NextLine();
      const size_t first = line.find_first_not_of(' ');
      if (first == std::string_view::npos) continue;
      ++(line[first] == '[' ? sections : keys);
    }
    FAt = start;
    return {sections, keys};
  }

  // The raw line at the parse position, which moves past it and its line break (one CR,
  // then one LF).
  std::string_view NextLine() {
    size_t end = FAt;
    while (end < FText.size() && FText[end] != '\r' && FText[end] != '\n') ++end;
    const std::string_view line = FText.substr(FAt, end - FAt);
    FAt = end;
    if (FAt < FText.size() && FText[FAt] == '\r') ++FAt;
    if (FAt < FText.size() && FText[FAt] == '\n') ++FAt;
    return line;
  }

  void ParseLine(std::string_view ARawLine) {
    const std::string_view line = TrimBlanks(ARawLine);
    if (line.empty()) return;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      FStorage.SetRootSection(line.substr(1, line.size() - 2));
      return;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    const char first = line.front();
    if (first == ';' || first == '#' || first == '/' || first == '\\') return;
    StoreKey(line.substr(0, equals), line.substr(equals + 1));
    ++FOwner.ProgressItemCurrent;
    FOwner.DoProgress();
  }

  void StoreKey(std::string_view AName, std::string_view AValue) {
    std::optional<TrsKeyValue> value = ParseValue(AValue);
    if (!value) return;
    if (TrsKeyItem* key = FStorage.FindKeyItem(AName, true)) key->Value = std::move(*value);
  }

  std::optional<TrsKeyValue> ParseValue(std::string_view AValue) {
    if (AValue.empty()) return Text(std::string());
    if (AValue.size() > 1 && AValue.front() == '"' && AValue.back() == '"')
      return Text(std::string(AValue.substr(1, AValue.size() - 2)));
    const char first = AValue.front();
    if (first == '+' || first == '-' || IsDigit(first)) {
      if (std::optional<TrsKeyValue> number = ParseNumber(AValue, FDecimalSeparator)) return number;
    }
    switch (platform::AsciiLower(first)) {
      case 'c':
        if (platform::StartsWithIgnoringAsciiCase(AValue, "curr:"))
          return TrsKeyValue{0, kvCurrency, TextToCurrency(AValue.substr(5)).Scaled};
        break;
      case 'd':
        if (platform::StartsWithIgnoringAsciiCase(AValue, "date:"))
          return TrsKeyValue{0, kvDateTime, TextToDateTime(AValue.substr(5))};
        break;
      case 'f':
        if (platform::SameTextIgnoringAsciiCase(AValue, "False")) return TrsKeyValue{0, kvBoolean, int32_t{0}};
        if (platform::StartsWithIgnoringAsciiCase(AValue, "fxdate:")) {
          const std::optional<double> date = ParseFixedDateTime(AValue.substr(7));
          if (!date) return std::nullopt;  // a malformed fixed date stores no key at all
          return TrsKeyValue{0, kvDateTime, *date};
        }
        break;
      case 'h':
        if (platform::StartsWithIgnoringAsciiCase(AValue, "hex:"))
          return TrsKeyValue{0, kvBuffer, ParseHexBytes(HexValueText(AValue.substr(4)))};
        break;
      case 'i':
        if (platform::StartsWithIgnoringAsciiCase(AValue, "int64:"))
          return TrsKeyValue{0, kvInt64, TextToInt64(AValue.substr(6))};
        break;
      case 'p':
        if (platform::StartsWithIgnoringAsciiCase(AValue, "point:")) return TrsKeyValue{0, kvPoint, ParsePoint(AValue.substr(6))};
        break;
      case 't':
        if (platform::SameTextIgnoringAsciiCase(AValue, "True")) return TrsKeyValue{0, kvBoolean, int32_t{1}};
        if (platform::StartsWithIgnoringAsciiCase(AValue, "text:")) return Text(UnescapeText(AValue.substr(5)));
        break;
      default:
        break;
    }
    return Text(std::string(AValue));
  }

  static TrsKeyValue Text(std::string AText) { return TrsKeyValue{0, kvString, std::move(AText)}; }

  // A hex value goes on over the following lines while a line ends with "\" or ","; the
  // parse position moves past its last line.
  std::string HexValueText(std::string_view AFirstPart) {
    std::string text(AFirstPart);
    std::string_view line = AFirstPart;
    while (!line.empty() && (line.back() == '\\' || line.back() == ',') && FAt < FText.size()) {
      line = TrimBlanksRight(NextLine());
      text += kLineEnd;
      text += line;
    }
    return text;
  }

  TrsIniData& FOwner;
  TrsStorage& FStorage;
  std::string FConverted;  // the text, when the file's bytes had to be converted
  std::string_view FText;
  size_t FAt = 0;
  char FDecimalSeparator = '.';
};

// --- TrsIniData ------------------------------------------------------------------------------------

TrsIniData::TrsIniData() { FExtension = ".ini"; }

void TrsIniData::LoadFromStream(TrsMemoryStream& AStream) {
  TrsStreamData::LoadFromStream(AStream);
  if (TrsStorage* storage = Storage()) TParser(*this, *storage).Run(AStream.Data());
}

void TrsIniData::SaveToStream(TrsMemoryStream& AStream) {
  TrsStreamData::SaveToStream(AStream);
  ResetBuffer();
  if (TrsStorage* storage = Storage()) TWriter(*this, *storage).Run();
}

}  // namespace velloran
