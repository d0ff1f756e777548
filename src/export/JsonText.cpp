#include "JsonText.h"

#include <cstdint>

namespace velloran {

namespace {

// The length of the well-formed UTF-8 sequence at AText[AAt], or 0 (RFC 3629: no overlong
// forms, no surrogates, nothing past U+10FFFF).
size_t Utf8SequenceAt(std::string_view AText, size_t AAt) {
  const auto byte = [&](size_t AIndex) { return static_cast<uint8_t>(AText[AIndex]); };
  const uint8_t lead = byte(AAt);
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (AAt + length > AText.size() || byte(AAt + 1) < low || byte(AAt + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(AAt + i) < 0x80 || byte(AAt + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

void AppendJsonString(std::string& AOut, std::string_view AText) {
  static constexpr char kHex[] = "0123456789abcdef";
  AOut.push_back('"');
  for (size_t at = 0; at < AText.size();) {
    const auto c = static_cast<uint8_t>(AText[at]);
    if (c >= 0x80) {
      const size_t length = Utf8SequenceAt(AText, at);
      if (length == 0) {
        AOut.append("\xEF\xBF\xBD");
        ++at;
      } else {
        AOut.append(AText.substr(at, length));
        at += length;
      }
      continue;
    }
    ++at;
    switch (c) {
      case '"':
        AOut.append("\\\"");
        break;
      case '\\':
        AOut.append("\\\\");
        break;
      case '\n':
        AOut.append("\\n");
        break;
      case '\r':
        AOut.append("\\r");
        break;
      case '\t':
        AOut.append("\\t");
        break;
      case '\b':
        AOut.append("\\b");
        break;
      case '\f':
        AOut.append("\\f");
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          AOut.append("\\u00").push_back(kHex[c >> 4]);
          AOut.push_back(kHex[c & 0xF]);
        } else {
          AOut.push_back(static_cast<char>(c));
        }
    }
  }
  AOut.push_back('"');
}

}  // namespace velloran
