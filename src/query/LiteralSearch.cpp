#include "LiteralSearch.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velloran {

namespace {

bool IsLetter(uint8_t AByte) { return (AByte >= 'a' && AByte <= 'z') || (AByte >= 'A' && AByte <= 'Z'); }

// How often a byte turns up in these logs' lines, roughly: letters of tag names and the
// markup are common, digits less so, other punctuation rare.
int Frequency(uint8_t AByte) {
  if (AByte == '<' || AByte == '>' || AByte == '"' || AByte == '=' || AByte == '_' || AByte == ' ') return 90;
  if (AByte == 'e' || AByte == 'a' || AByte == 't' || AByte == 'i' || AByte == 'n' || AByte == 'o' || AByte == 's' ||
      AByte == 'r' || AByte == 'd')
    return 80;
  if (AByte == '/' || AByte == '-' || AByte == '.' || AByte == ':') return 70;
  if (IsLetter(AByte)) return 60;
  if (AByte >= '0' && AByte <= '9') return 50;
  return 10;
}

uint8_t Lower(uint8_t AByte) { return AByte >= 'A' && AByte <= 'Z' ? static_cast<uint8_t>(AByte + 32) : AByte; }

}  // namespace

TLiteralFinder::TLiteralFinder(std::string_view ANeedle) : FNeedle(ANeedle) {
  for (char& c : FNeedle) c = static_cast<char>(Lower(static_cast<uint8_t>(c)));
  const size_t n = FNeedle.size();
  if (n == 0) return;
  const auto byteAt = [&](size_t AAt) { return static_cast<uint8_t>(FNeedle[AAt]); };
  for (size_t i = 1; i < n; ++i) {
    if (Frequency(byteAt(i)) < Frequency(byteAt(FRare1))) FRare1 = i;
  }
  FRare2 = FRare1 == 0 && n > 1 ? 1 : 0;
  for (size_t i = 0; i < n; ++i) {
    if (i != FRare1 && Frequency(byteAt(i)) < Frequency(byteAt(FRare2))) FRare2 = i;
  }
  FByte1 = byteAt(FRare1);
  FByte2 = byteAt(FRare2);
  FFold1 = IsLetter(FByte1) ? 0x20 : 0;
  FFold2 = IsLetter(FByte2) ? 0x20 : 0;
#if defined(__x86_64__)
  FAvx2 = __builtin_cpu_supports("avx2");
#endif
}

bool TLiteralFinder::MatchesAt(const uint8_t* AAt) const {
  for (size_t i = 0; i < FNeedle.size(); ++i) {
    if (Lower(AAt[i]) != static_cast<uint8_t>(FNeedle[i])) return false;
  }
  return true;
}

size_t TLiteralFinder::FindScalar(const uint8_t* ABytes, size_t ASize, size_t AFrom) const {
  const size_t n = FNeedle.size();
  for (size_t at = AFrom; at + n <= ASize; ++at) {
    if ((ABytes[at + FRare1] | FFold1) == FByte1 && MatchesAt(ABytes + at)) return at;
  }
  return ASize;
}

#if defined(__x86_64__)
// Both loops keep the two loads and the needle inside the bytes; each candidate place (both
// rare bytes in their places) is then compared whole.
__attribute__((target("avx2"))) size_t TLiteralFinder::FindAvx2(const uint8_t* ABytes, size_t ASize, size_t AFrom,
                                                                size_t& ATail) const {
  const __m256i byte1 = _mm256_set1_epi8(static_cast<char>(FByte1));
  const __m256i byte2 = _mm256_set1_epi8(static_cast<char>(FByte2));
  const __m256i fold1 = _mm256_set1_epi8(static_cast<char>(FFold1));
  const __m256i fold2 = _mm256_set1_epi8(static_cast<char>(FFold2));
  const size_t reach = std::max(FRare1, FRare2);
  size_t at = AFrom;
  for (; at + reach + 32 <= ASize; at += 32) {
    const __m256i first = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(ABytes + at + FRare1)), fold1);
    const __m256i second = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(ABytes + at + FRare2)), fold2);
    auto mask = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(first, byte1), _mm256_cmpeq_epi8(second, byte2))));
    for (; mask != 0; mask &= mask - 1) {
      const size_t place = at + static_cast<size_t>(__builtin_ctz(mask));
      if (place + FNeedle.size() <= ASize && MatchesAt(ABytes + place)) return place;
    }
  }
  ATail = at;
  return ASize;
}

size_t TLiteralFinder::FindSse2(const uint8_t* ABytes, size_t ASize, size_t AFrom, size_t& ATail) const {
  const __m128i byte1 = _mm_set1_epi8(static_cast<char>(FByte1));
  const __m128i byte2 = _mm_set1_epi8(static_cast<char>(FByte2));
  const __m128i fold1 = _mm_set1_epi8(static_cast<char>(FFold1));
  const __m128i fold2 = _mm_set1_epi8(static_cast<char>(FFold2));
  const size_t reach = std::max(FRare1, FRare2);
  size_t at = AFrom;
  for (; at + reach + 16 <= ASize; at += 16) {
    const __m128i first = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ABytes + at + FRare1)), fold1);
    const __m128i second = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ABytes + at + FRare2)), fold2);
    auto mask =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(first, byte1), _mm_cmpeq_epi8(second, byte2))));
    for (; mask != 0; mask &= mask - 1) {
      const size_t place = at + static_cast<size_t>(__builtin_ctz(mask));
      if (place + FNeedle.size() <= ASize && MatchesAt(ABytes + place)) return place;
    }
  }
  ATail = at;
  return ASize;
}
#endif

size_t TLiteralFinder::FindVector(const uint8_t* ABytes, size_t ASize, size_t AFrom) const {
#if defined(__x86_64__)
  size_t tail = AFrom;
  const size_t found = FAvx2 ? FindAvx2(ABytes, ASize, AFrom, tail) : FindSse2(ABytes, ASize, AFrom, tail);
  return found < ASize ? found : FindScalar(ABytes, ASize, tail);
#else
  return FindScalar(ABytes, ASize, AFrom);
#endif
}

size_t TLiteralFinder::Find(const uint8_t* ABytes, size_t ASize, size_t AFrom) const {
  if (FNeedle.empty()) return AFrom <= ASize ? AFrom : ASize;
  if (AFrom >= ASize || ASize - AFrom < FNeedle.size()) return ASize;
  return FindVector(ABytes, ASize, AFrom);
}

}  // namespace velloran
