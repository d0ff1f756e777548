#include "QueryValues.h"

#include "PlatformText.h"

namespace velloran {

namespace {

// The lower-case partner of a code point, for the scripts users type names in.
uint32_t LowerCodePoint(uint32_t ACode) {
  if (ACode < 0x80) return ACode >= 'A' && ACode <= 'Z' ? ACode + 32 : ACode;
  if ((ACode >= 0xC0 && ACode <= 0xDE && ACode != 0xD7)) return ACode + 0x20;
  if (ACode >= 0x100 && ACode <= 0x137) return ACode | 1u;
  if (ACode >= 0x139 && ACode <= 0x148) return (ACode & 1u) != 0 ? ACode + 1 : ACode;
  if (ACode >= 0x14A && ACode <= 0x177) return ACode | 1u;
  if (ACode == 0x178) return 0xFF;
  if (ACode >= 0x179 && ACode <= 0x17E) return (ACode & 1u) != 0 ? ACode + 1 : ACode;
  if (ACode >= 0x391 && ACode <= 0x3AB && ACode != 0x3A2) return ACode + 0x20;
  if (ACode == 0x3C2) return 0x3C3;  // final sigma
  if (ACode >= 0x400 && ACode <= 0x40F) return ACode + 0x50;
  if (ACode >= 0x410 && ACode <= 0x42F) return ACode + 0x20;
  if (ACode >= 0x460 && ACode <= 0x4FF) return ACode | 1u;
  return ACode;
}

void AppendCodePoint(uint32_t ACode, std::string& AOut) {
  if (ACode < 0x80) {
    AOut.push_back(static_cast<char>(ACode));
  } else if (ACode < 0x800) {
    AOut.push_back(static_cast<char>(0xC0 | (ACode >> 6)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  } else {
    AOut.push_back(static_cast<char>(0xE0 | (ACode >> 12)));
    AOut.push_back(static_cast<char>(0x80 | ((ACode >> 6) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  }
}

}  // namespace

void AppendFolded(std::string_view AText, std::string& AOut) {
  size_t i = 0;
  while (i < AText.size()) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    if (c < 0x80) {
      AOut.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
      ++i;
      continue;
    }
    const size_t length = platform::Utf8SequenceLength(AText, i);
    if (length == 2 || length == 3) {
      uint32_t code = length == 2 ? (c & 0x1Fu) : (c & 0x0Fu);
      for (size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(AText[i + k]) & 0x3Fu);
      AppendCodePoint(LowerCodePoint(code), AOut);
      i += length;
    } else {
      const size_t take = length == 0 ? 1 : length;
      AOut.append(AText.substr(i, take));
      i += take;
    }
  }
}

std::string Folded(std::string_view AText) {
  std::string text;
  text.reserve(AText.size());
  AppendFolded(AText, text);
  return text;
}

std::string TDecimal::Canonical() const {
  std::string text = Negative && !IsZero() ? "-" : "";
  text.append(Whole.empty() ? "0" : Whole);
  if (!Fraction.empty()) text.append(1, '.').append(Fraction);
  return text;
}

std::optional<TDecimal> ParseDecimal(std::string_view AText) {
  TDecimal number;
  size_t p = 0;
  if (p < AText.size() && (AText[p] == '+' || AText[p] == '-')) number.Negative = AText[p++] == '-';
  const size_t wholeStart = p;
  while (p < AText.size() && AText[p] >= '0' && AText[p] <= '9') ++p;
  const size_t wholeEnd = p;
  size_t fractionStart = p, fractionEnd = p;
  if (p < AText.size() && AText[p] == '.') {
    fractionStart = ++p;
    while (p < AText.size() && AText[p] >= '0' && AText[p] <= '9') ++p;
    fractionEnd = p;
    if (fractionEnd == fractionStart) return std::nullopt;
  }
  if (p != AText.size() || wholeEnd == wholeStart) return std::nullopt;
  size_t first = wholeStart;
  while (first < wholeEnd && AText[first] == '0') ++first;
  number.Whole.assign(AText.substr(first, wholeEnd - first));
  size_t last = fractionEnd;
  while (last > fractionStart && AText[last - 1] == '0') --last;
  number.Fraction.assign(AText.substr(fractionStart, last - fractionStart));
  if (number.IsZero()) number.Negative = false;
  return number;
}

int CompareDecimals(const TDecimal& A, const TDecimal& B) {
  if (A.Negative != B.Negative) return A.Negative ? -1 : 1;
  int magnitude = 0;
  if (A.Whole.size() != B.Whole.size()) {
    magnitude = A.Whole.size() < B.Whole.size() ? -1 : 1;
  } else if (const int whole = A.Whole.compare(B.Whole); whole != 0) {
    magnitude = whole < 0 ? -1 : 1;
  } else if (const int fraction = A.Fraction.compare(B.Fraction); fraction != 0) {
    magnitude = fraction < 0 ? -1 : 1;  // no trailing zeros: text order is value order
  }
  return A.Negative ? -magnitude : magnitude;
}

bool IsTimeField(std::string_view AField) {
  return platform::SameTextIgnoringAsciiCase(AField, "Timestamp") ||
         platform::SameTextIgnoringAsciiCase(AField, "Event-Timestamp");
}

}  // namespace velloran
