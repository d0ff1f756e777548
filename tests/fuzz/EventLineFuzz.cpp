// Fuzz target of the event line parser (TData::ParseLine).
//
// The input itself is parsed as a line: no crash, no read outside it, the raw text of every
// item found in the text the parser reads (after the byte-order mark and the hexadecimal
// form are undone) in the row's order, and a second parse with the columns now known gives
// the same row. When that text is a well-formed event, the row must be exactly the one the
// grammar below gives.
//
// Then the input is read as a recipe for well-formed lines (tag names of mixed case, data
// types, values with bytes that look like markup, a byte-order mark, the hexadecimal form
// with and without commas, text after the end tag). Their expected rows come from the recipe,
// not from a parse: names, raw values, and the column each item lands in (the first spelling
// of its name, ignoring ASCII case, with the type of that first tag) across several lines of
// one TData, so that its column caches are crossed too.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "LineReference.h"
#include "LogData.h"
#include "PlatformText.h"
#include "Rows.h"

using namespace velloran;

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kReversedMark = "\xEF\xBF\xBE";

using fuzz::Escaped;

void Expect(bool ACondition, std::string_view ALine, const std::string& AWhat) {
  if (ACondition) return;
  std::fprintf(stderr, "difference on \"%s\": %s\n", Escaped(ALine).c_str(), AWhat.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string AsciiLower(std::string_view AText) {
  std::string lower(AText);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool IsContinuation(char AByte) { return (static_cast<unsigned char>(AByte) & 0xC0) == 0x80; }

size_t CodePoints(std::string_view AText) {
  size_t count = 0;
  for (const char c : AText) count += IsContinuation(c) ? 0u : 1u;
  return count;
}

// Each byte taken as a Latin-1 character, written as UTF-8: what the hexadecimal form of a
// line's bytes decodes to.
std::string Latin1Of(std::string_view ABytes) {
  std::string text;
  for (const char c : ABytes) {
    const auto code = static_cast<unsigned char>(c);
    if (code < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (code >> 6));
      text += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return text;
}

int HexDigit(char AChar) {
  if (AChar >= '0' && AChar <= '9') return AChar - '0';
  if (AChar >= 'A' && AChar <= 'F') return AChar - 'A' + 10;
  if (AChar >= 'a' && AChar <= 'f') return AChar - 'a' + 10;
  return -1;
}

// The two plain hexadecimal layouts: an even number of digits, or groups of two digits with
// one comma between groups. False for any other layout.
bool DecodePlainHex(std::string_view AChars, std::string& ABytes) {
  ABytes.clear();
  const bool commas = AChars.size() > 2 && AChars[2] == ',';
  const size_t stride = commas ? 3 : 2;
  if (commas ? AChars.size() % 3 != 2 : AChars.size() % 2 != 0) return false;
  for (size_t i = 0; i < AChars.size(); i += stride) {
    const int high = HexDigit(AChars[i]);
    const int low = HexDigit(AChars[i + 1]);
    if (high < 0 || low < 0 || (commas && i + 2 < AChars.size() && AChars[i + 2] != ',')) return false;
    ABytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

// The text the parser reads in a line: a line of more than two characters loses a leading
// byte-order mark (either byte order), and then, when it begins with "0x", becomes the
// characters its digits encode.
std::string ReadableText(std::string_view ALine) {
  if (CodePoints(ALine) <= 2) return std::string(ALine);
  if (ALine.substr(0, 3) == kByteOrderMark || ALine.substr(0, 3) == kReversedMark) ALine.remove_prefix(3);
  if (ALine.substr(0, 2) != "0x") return std::string(ALine);
  std::string bytes;
  if (!DecodePlainHex(ALine.substr(2), bytes)) return TData::HexToText(ALine.substr(2));
  const std::string text = Latin1Of(bytes);
  Expect(TData::HexToText(ALine.substr(2)) == text, ALine,
         "HexToText decodes the plain layout to \"" + Escaped(TData::HexToText(ALine.substr(2))) + "\", expected \"" +
             Escaped(text) + "\"");
  return text;
}

// The column type a start tag's attributes give: rdtString unless, after the blanks, they
// begin with data_type=" (any letter case) and the character after the quote is 0 (integer),
// 2 (octets), 3 (IPv4 address) or 4 (time stamp). Fewer than 13 characters never name a type.
TrdlDataType TypeOfAttributes(std::string_view AAttributes) {
  if (CodePoints(AAttributes) < 13) return TrdlDataType::rdtString;
  const size_t first = AAttributes.find_first_not_of(' ');
  if (first == std::string_view::npos) return TrdlDataType::rdtString;
  const std::string_view rest = AAttributes.substr(first);
  if (rest.size() < 12 || AsciiLower(rest.substr(0, 11)) != "data_type=\"") return TrdlDataType::rdtString;
  switch (rest[11]) {
    case '0':
      return TrdlDataType::rdtInteger;
    case '2':
      return TrdlDataType::rdtOctetString;
    case '3':
      return TrdlDataType::rdtIPv4;
    case '4':
      return TrdlDataType::rdtTimeStamp;
    default:
      return TrdlDataType::rdtString;
  }
}

struct TRefItem {
  std::string Name;
  std::string Value;
  TrdlDataType Type = TrdlDataType::rdtString;
};

bool StartsWithLower(std::string_view AText, std::string_view ALowerPrefix) {
  return AText.size() >= ALowerPrefix.size() && AsciiLower(AText.substr(0, ALowerPrefix.size())) == ALowerPrefix;
}

// A well-formed event: "<Event>" (any letter case), then elements
//   "<" name " " attributes ">" value "</" any name ">"
// whose name holds none of "<", ">", "/" and blank, attributes none of "<" and ">", value no
// "<", then "</Event" and anything. False for any other text.
bool ParseWellFormed(std::string_view AText, std::vector<TRefItem>& AItems) {
  AItems.clear();
  if (!StartsWithLower(AText, "<event>")) return false;
  size_t p = 7;
  for (;;) {
    if (p >= AText.size() || AText[p] != '<') return false;
    if (StartsWithLower(AText.substr(p + 1), "/event")) return true;
    const size_t nameEnd = AText.find_first_of("<>/ ", p + 1);
    if (nameEnd == std::string_view::npos || nameEnd == p + 1 || AText[nameEnd] != ' ') return false;
    const size_t tagEnd = AText.find_first_of("<>", nameEnd);
    if (tagEnd == std::string_view::npos || AText[tagEnd] != '>') return false;
    const size_t valueEnd = AText.find('<', tagEnd + 1);
    if (valueEnd == std::string_view::npos || valueEnd + 1 >= AText.size() || AText[valueEnd + 1] != '/') return false;
    const size_t closeEnd = AText.find_first_of("<>", valueEnd + 2);
    if (closeEnd == std::string_view::npos || AText[closeEnd] != '>') return false;
    AItems.push_back({std::string(AText.substr(p + 1, nameEnd - p - 1)),
                      std::string(AText.substr(tagEnd + 1, valueEnd - tagEnd - 1)),
                      TypeOfAttributes(AText.substr(nameEnd, tagEnd - nameEnd))});
    p = closeEnd + 1;
  }
}

// The columns one TData has met: the first spelling of each name (ASCII letters folded) and
// the type its first tag gave.
class TColumnBook {
 public:
  const TRefItem& Column(const TRefItem& AItem) {
    const auto found = FColumns.try_emplace(AsciiLower(AItem.Name), AItem);
    return found.first->second;
  }

 private:
  std::map<std::string, TRefItem> FColumns;
};

void ExpectRow(TData& AData, std::string_view ALine, const std::vector<TRefItem>& AItems, TColumnBook& ABook) {
  TrdlDataRow row;
  const bool ended = AData.ParseLine(ALine, row);
  Expect(ended, ALine, "ParseLine did not reach the end of a well-formed event");
  Expect(row.Count() == static_cast<int>(AItems.size()), ALine,
         std::to_string(row.Count()) + " items, expected " + std::to_string(AItems.size()));
  for (size_t i = 0; i < AItems.size(); ++i) {
    const TrdlDataRowItem* item = row.Items(static_cast<int>(i));
    const TRefItem& column = ABook.Column(AItems[i]);
    const std::string at = "item " + std::to_string(i) + " (" + Escaped(AItems[i].Name) + ")";
    Expect(item->RawText() == AItems[i].Value, ALine,
           at + " has value \"" + Escaped(item->RawText()) + "\", expected \"" + Escaped(AItems[i].Value) + "\"");
    Expect(item->Column() != nullptr, ALine, at + " has no column");
    Expect(item->Column()->ColumnName() == column.Name, ALine,
           at + " in column \"" + Escaped(item->Column()->ColumnName()) + "\", expected \"" + Escaped(column.Name) + "\"");
    Expect(item->Column()->DataType() == column.Type, ALine,
           at + " of type " + std::string(DataTypeName(item->Column()->DataType())) + ", expected " +
               std::string(DataTypeName(column.Type)));
  }
}

// Any bytes: no crash, values in the readable text in order, the same row when parsed again.
void CheckAnyLine(std::string_view ALine) {
  TData data;
  TrdlDataRow row;
  const bool ended = data.ParseLine(ALine, row);
  const std::string text = ReadableText(ALine);
  size_t from = 0;
  for (int i = 0; i < row.Count(); ++i) {
    const TrdlDataRowItem* item = row.Items(i);
    Expect(item->Column() != nullptr, ALine, "item " + std::to_string(i) + " has no column");
    const size_t at = text.find(item->RawText(), from);
    Expect(at != std::string::npos, ALine,
           "value " + std::to_string(i) + " \"" + Escaped(item->RawText()) + "\" is not in what follows the previous one");
    from = at + item->RawText().size();
  }
  TrdlDataRow again;
  Expect(data.ParseLine(ALine, again) == ended && again.Count() == row.Count(), ALine, "a second parse gives another row");
  for (int i = 0; i < row.Count(); ++i) {
    Expect(again.Items(i)->RawText() == row.Items(i)->RawText() && again.Items(i)->Column() == row.Items(i)->Column(), ALine,
           "a second parse gives another item " + std::to_string(i));
  }
  std::vector<TRefItem> items;
  if (!ParseWellFormed(text, items)) return;
  TData fresh;
  TColumnBook book;
  ExpectRow(fresh, ALine, items, book);
}

// Bytes of the input as choices; zeros once it is used up.
class TRecipe {
 public:
  TRecipe(const uint8_t* AData, size_t ASize) : FData(AData), FSize(ASize) {}
  uint8_t Next() { return FPos < FSize ? FData[FPos++] : 0; }
  template <size_t N>
  std::string_view Pick(const std::array<std::string_view, N>& AChoices) {
    return AChoices[Next() % N];
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

constexpr std::array<std::string_view, 4> kEventSpellings = {"Event", "EVENT", "event", "eVeNt"};
constexpr std::array<std::string_view, 14> kNameChars = {"A", "a", "B", "b", "C", "c", "E",
                                                         "e", "_", "-", ".", ":", "9", "\xC3\xA9"};
constexpr std::array<std::string_view, 16> kValueChars = {"a", "Z", "0", "9",  " ",  ">",  "&amp;",        "\"",
                                                          "=", "/", "'", "\t", "\r", "\n", "\xE2\x82\xAC", "\xC3\xA9"};
constexpr std::array<std::string_view, 4> kTrailers = {"", "\r", " <x>y</x>", "</Event>"};

TrdlDataType TypeOfDigit(int ADigit) {
  switch (ADigit) {
    case 0:
      return TrdlDataType::rdtInteger;
    case 2:
      return TrdlDataType::rdtOctetString;
    case 3:
      return TrdlDataType::rdtIPv4;
    case 4:
      return TrdlDataType::rdtTimeStamp;
    default:
      return TrdlDataType::rdtString;
  }
}

std::string NameFrom(TRecipe& ARecipe) {
  std::string name;
  for (int n = 1 + ARecipe.Next() % 3; n > 0; --n) name += ARecipe.Pick(kNameChars);
  return name;
}

// One well-formed line from the recipe, and the items it holds as written.
std::string LineFrom(TRecipe& ARecipe, std::vector<TRefItem>& AItems) {
  AItems.clear();
  const uint8_t form = ARecipe.Next();
  const std::string_view event = kEventSpellings[(form >> 5) & 3];
  std::string line = "<" + std::string(event) + ">";
  for (int n = ARecipe.Next() % 13; n > 0; --n) {
    TRefItem item;
    item.Name = NameFrom(ARecipe);
    const uint8_t kind = ARecipe.Next();
    std::string attributes;
    if (kind % 8 < 6) {
      attributes = " data_type=\"" + std::to_string(kind % 8) + "\"";
      item.Type = TypeOfDigit(kind % 8);
    } else if (kind % 8 == 6) {
      attributes = "  DATA_TYPE=\"" + std::to_string((kind >> 3) % 6) + "\"";
      item.Type = TypeOfDigit((kind >> 3) % 6);
    } else {
      attributes = (kind & 8) != 0 ? " x=\"4\"" : " data_type=4";
    }
    if ((kind & 0x40) != 0) attributes += " y=\"2\"";
    for (int k = ARecipe.Next() % 12; k > 0; --k) item.Value += ARecipe.Pick(kValueChars);
    const std::string close = (kind & 0x80) != 0 ? NameFrom(ARecipe) : item.Name;
    line += "<" + item.Name + attributes + ">" + item.Value + "</" + close + ">";
    AItems.push_back(std::move(item));
  }
  line += "</" + std::string(event) + ">";
  line += kTrailers[(form >> 3) & 3];
  if ((form & 4) != 0) {
    // Every byte in two digits: the parser then reads each byte as a Latin-1 character.
    const char* digits = (form & 0x80) != 0 ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string hex = "0x";
    for (size_t i = 0; i < line.size(); ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      if (i > 0 && (form & 2) != 0) hex += ',';
      hex += digits[byte >> 4];
      hex += digits[byte & 15];
    }
    line = std::move(hex);
    for (TRefItem& item : AItems) {
      item.Name = Latin1Of(item.Name);
      item.Value = Latin1Of(item.Value);
    }
  }
  if ((form & 1) != 0) line.insert(0, (form & 2) != 0 && (form & 4) == 0 ? kReversedMark : kByteOrderMark);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const std::string_view input(reinterpret_cast<const char*>(AData), ASize);
  CheckAnyLine(input);

  TRecipe recipe(AData, ASize);
  TData data;
  TColumnBook book;
  std::vector<TRefItem> items;
  std::vector<TRefItem> parsed;
  for (int n = 1 + recipe.Next() % 4; n > 0; --n) {
    const std::string line = LineFrom(recipe, items);
    // The grammar used for the input above must read these lines as they were written.
    Expect(ParseWellFormed(ReadableText(line), parsed) && parsed.size() == items.size(), line,
           "the reference grammar does not read a line written by the recipe");
    for (size_t i = 0; i < items.size(); ++i) {
      Expect(parsed[i].Name == items[i].Name && parsed[i].Value == items[i].Value && parsed[i].Type == items[i].Type, line,
             "the reference grammar reads item " + std::to_string(i) + " otherwise than it was written");
    }
    ExpectRow(data, line, items, book);
  }
  return 0;
}
