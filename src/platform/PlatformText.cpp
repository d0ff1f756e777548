#include "PlatformText.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velloran::platform {

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

void AppendUtf16Le(std::string& AOut, uint32_t ACodeUnit) {
  AOut.push_back(static_cast<char>(ACodeUnit & 0xFF));
  AOut.push_back(static_cast<char>((ACodeUnit >> 8) & 0xFF));
}

bool IsContinuation(unsigned char AByte) { return (AByte & 0xC0) == 0x80; }

// Whether the 32 bytes at AData are all below 0x80.
bool AllAscii32(const char* AData) {
#if defined(__SSE2__)
  const auto* p = reinterpret_cast<const __m128i*>(AData);
  return _mm_movemask_epi8(_mm_or_si128(_mm_loadu_si128(p), _mm_loadu_si128(p + 1))) == 0;
#else
  uint64_t words[4];
  std::memcpy(words, AData, sizeof words);
  return ((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080u) == 0;
#endif
}

}  // namespace

bool SameTextIgnoringAsciiCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    if (A[i] != B[i] && AsciiLower(A[i]) != AsciiLower(B[i])) return false;
  }
  return true;
}

bool StartsWithIgnoringAsciiCase(std::string_view AText, std::string_view APrefix) {
  return AText.size() >= APrefix.size() && SameTextIgnoringAsciiCase(AText.substr(0, APrefix.size()), APrefix);
}

bool EndsWithIgnoringAsciiCase(std::string_view AText, std::string_view ASuffix) {
  return AText.size() >= ASuffix.size() && SameTextIgnoringAsciiCase(AText.substr(AText.size() - ASuffix.size()), ASuffix);
}

bool LessIgnoringAsciiCase(std::string_view A, std::string_view B) {
  const size_t common = A.size() < B.size() ? A.size() : B.size();
  for (size_t i = 0; i < common; ++i) {
    const auto a = static_cast<unsigned char>(AsciiLower(A[i]));
    const auto b = static_cast<unsigned char>(AsciiLower(B[i]));
    if (a != b) return a < b;
  }
  return A.size() < B.size();
}

size_t Utf8SequenceLength(std::string_view AText, size_t APos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(AText[APos + i]); };
  const size_t left = AText.size() - APos;
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return left >= 2 && IsContinuation(byte(1)) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (left < 3 || !IsContinuation(byte(1)) || !IsContinuation(byte(2))) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
    if (lead == 0xED && byte(1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (left < 4 || !IsContinuation(byte(1)) || !IsContinuation(byte(2)) || !IsContinuation(byte(3))) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;   // overlong
    if (lead == 0xF4 && byte(1) >= 0x90) return 0;  // past U+10FFFF
    return 4;
  }
  return 0;
}

size_t FirstInvalidUtf8(std::string_view AText) {
  size_t pos = 0;
  while (pos < AText.size()) {
    // 32 ASCII bytes at a time: log lines are mostly ASCII.
    if (AText.size() - pos >= 32 && AllAscii32(AText.data() + pos)) {
      pos += 32;
      continue;
    }
    const size_t length = Utf8SequenceLength(AText, pos);
    if (length == 0) return pos;
    pos += length;
  }
  return pos;
}

void AppendLatin1(std::string& AOut, unsigned ACode) {
  if (ACode < 0x80) {
    AOut += static_cast<char>(ACode);
  } else {
    AOut += static_cast<char>(0xC0 | (ACode >> 6));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  }
}

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
