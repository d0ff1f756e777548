#include "PlatformText.h"

#include <cstdint>

namespace velloran::platform {

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

void AppendUtf16Le(std::string& AOut, uint32_t ACodeUnit) {
  AOut.push_back(static_cast<char>(ACodeUnit & 0xFF));
  AOut.push_back(static_cast<char>((ACodeUnit >> 8) & 0xFF));
}

}  // namespace

std::string Utf8ToUtf16Le(std::string_view AText) {
  std::string out;
  out.reserve(AText.size() * 2);
  size_t i = 0;
  while (i < AText.size()) {
    const auto lead = static_cast<uint8_t>(AText[i]);
    if (lead < 0x80) {
      AppendUtf16Le(out, lead);
      ++i;
      continue;
    }
    int needed = 0;
    uint32_t codePoint = 0;
    // The allowed range of the first continuation byte excludes overlong forms, surrogates
    // and code points past U+10FFFF.
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      needed = 1;
      codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      needed = 2;
      codePoint = lead & 0x0Fu;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      needed = 3;
      codePoint = lead & 0x07u;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      AppendUtf16Le(out, kReplacementCharacter);
      ++i;
      continue;
    }
    size_t next = i + 1;
    int taken = 0;
    while (taken < needed && next < AText.size()) {
      const auto byte = static_cast<uint8_t>(AText[next]);
      if (byte < low || byte > high) break;
      codePoint = (codePoint << 6) | (byte & 0x3Fu);
      low = 0x80;
      high = 0xBF;
      ++taken;
      ++next;
    }
    i = next;
    if (taken < needed) {
      AppendUtf16Le(out, kReplacementCharacter);
    } else if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      AppendUtf16Le(out, 0xD800 + (codePoint >> 10));
      AppendUtf16Le(out, 0xDC00 + (codePoint & 0x3FF));
    } else {
      AppendUtf16Le(out, codePoint);
    }
  }
  return out;
}

}  // namespace velloran::platform
