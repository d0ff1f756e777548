#include "DecodedText.h"

#include <array>
#include <cstdint>

namespace velloran {

namespace {

// Longer than any well-formed reference ("&#x0010FFFF;" with leading zeros aside): a reference
// is looked for only this far, so a value of thousands of "&" stays linear.
constexpr size_t kLongestReference = 32;

struct TEntity {
  std::string_view Name;
  char Character;
};
constexpr std::array<TEntity, 5> kEntities{{{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}}};

int DigitValue(char AChar, bool AHex) {
  if (AChar >= '0' && AChar <= '9') return AChar - '0';
  if (!AHex) return -1;
  if (AChar >= 'a' && AChar <= 'f') return AChar - 'a' + 10;
  if (AChar >= 'A' && AChar <= 'F') return AChar - 'A' + 10;
  return -1;
}

void AppendUtf8(uint32_t ACode, std::string& AOut) {
  if (ACode < 0x80) {
    AOut.push_back(static_cast<char>(ACode));
  } else if (ACode < 0x800) {
    AOut.push_back(static_cast<char>(0xC0 | (ACode >> 6)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  } else if (ACode < 0x10000) {
    AOut.push_back(static_cast<char>(0xE0 | (ACode >> 12)));
    AOut.push_back(static_cast<char>(0x80 | ((ACode >> 6) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  } else {
    AOut.push_back(static_cast<char>(0xF0 | (ACode >> 18)));
    AOut.push_back(static_cast<char>(0x80 | ((ACode >> 12) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | ((ACode >> 6) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  }
}

// ABody is what lies between "&#" and ";" ("65", "x41"); false when it names no character
// XML allows a reference to.
bool NumericReference(std::string_view ABody, uint32_t& ACode) {
  const bool hex = !ABody.empty() && (ABody.front() == 'x' || ABody.front() == 'X');
  if (hex) ABody.remove_prefix(1);
  if (ABody.empty()) return false;
  uint32_t code = 0;
  for (const char c : ABody) {
    const int digit = DigitValue(c, hex);
    if (digit < 0) return false;
    code = code * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
    if (code > 0x10FFFF) return false;  // also keeps the sum from overflowing
  }
  if (code == 0 || (code >= 0xD800 && code <= 0xDFFF)) return false;
  ACode = code;
  return true;
}

}  // namespace

size_t DecodeReferenceAt(std::string_view ARaw, size_t AAt, std::string& AOut) {
  const std::string_view rest = ARaw.substr(AAt + 1, kLongestReference);
  const size_t semicolon = rest.find(';');
  if (semicolon == std::string_view::npos) return 0;
  const std::string_view body = rest.substr(0, semicolon);
  if (!body.empty() && body.front() == '#') {
    uint32_t code = 0;
    if (!NumericReference(body.substr(1), code)) return 0;
    AppendUtf8(code, AOut);
    return semicolon + 2;
  }
  for (const TEntity& entity : kEntities) {
    if (body == entity.Name) {
      AOut.push_back(entity.Character);
      return semicolon + 2;
    }
  }
  return 0;
}

void AppendDecodedText(std::string_view ARaw, std::string& AOut) {
  size_t copied = 0;
  for (size_t at = ARaw.find('&'); at != std::string_view::npos; at = ARaw.find('&', at)) {
    AOut.append(ARaw.substr(copied, at - copied));
    const size_t taken = DecodeReferenceAt(ARaw, at, AOut);
    if (taken == 0) {
      AOut.push_back('&');
      ++at;
    } else {
      at += taken;
    }
    copied = at;
  }
  AOut.append(ARaw.substr(copied));
}

std::string DecodedText(std::string_view ARaw) {
  std::string result;
  result.reserve(ARaw.size());
  AppendDecodedText(ARaw, result);
  return result;
}

}  // namespace velloran
