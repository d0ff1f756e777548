#include "LiteralSearch.h"

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
namespace {

// Candidate places [AAt, AAt + 32) where both rare bytes sit: bit k for place AAt + k.
__attribute__((target("avx2"))) uint32_t PairMask32(const uint8_t* AAt, size_t ARare1, size_t ARare2, __m256i AByte1,
                                                    __m256i AByte2, __m256i AFold1, __m256i AFold2) {
  const __m256i first = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(AAt + ARare1)), AFold1);
  const __m256i second = _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(AAt + ARare2)), AFold2);
  const __m256i both = _mm256_and_si256(_mm256_cmpeq_epi8(first, AByte1), _mm256_cmpeq_epi8(second, AByte2));
  return static_cast<uint32_t>(_mm256_movemask_epi8(both));
}

}  // namespace

__attribute__((target("avx2"))) static size_t FindAvx2(const TLiteralFinder& AFinder, const uint8_t* ABytes, size_t ASize,
                                                       size_t AFrom, size_t ARare1, size_t ARare2, uint8_t AByte1, uint8_t AByte2,
                                                       uint8_t AFold1, uint8_t AFold2,
                                                       bool (*AMatches)(const TLiteralFinder&, const uint8_t*)) {
  const size_t n = AFinder.Needle().size();
  const size_t reach = ARare1 > ARare2 ? ARare1 : ARare2;
  const __m256i byte1 = _mm256_set1_epi8(static_cast<char>(AByte1));
  const __m256i byte2 = _mm256_set1_epi8(static_cast<char>(AByte2));
  const __m256i fold1 = _mm256_set1_epi8(static_cast<char>(AFold1));
  const __m256i fold2 = _mm256_set1_epi8(static_cast<char>(AFold2));
  size_t at = AFrom;
  // Whole vectors while both loads and the needle stay inside the bytes.
  while (at + reach + 32 <= ASize && at + 32 + n <= ASize + 1) {
    uint32_t mask = PairMask32(ABytes + at, ARare1, ARare2, byte1, byte2, fold1, fold2);
    while (mask != 0) {
      const size_t place = at + static_cast<size_t>(__builtin_ctz(mask));
      if (place + n <= ASize && AMatches(AFinder, ABytes + place)) return place;
      mask &= mask - 1;
    }
    at += 32;
  }
  return at;  // the scalar tail takes over here
}
#endif

namespace {
bool MatchesThunk(const TLiteralFinder& AFinder, const uint8_t* AAt);
}

size_t TLiteralFinder::FindVector(const uint8_t* ABytes, size_t ASize, size_t AFrom) const {
#if defined(__x86_64__)
  if (FAvx2) {
    const size_t at = FindAvx2(*this, ABytes, ASize, AFrom, FRare1, FRare2, FByte1, FByte2, FFold1, FFold2, MatchesThunk);
    return at < ASize && at >= AFrom && at + FNeedle.size() <= ASize && MatchesAt(ABytes + at) ? at
                                                                                               : FindScalar(ABytes, ASize, at);
  }
  const size_t n = FNeedle.size();
  const size_t reach = FRare1 > FRare2 ? FRare1 : FRare2;
  const __m128i byte1 = _mm_set1_epi8(static_cast<char>(FByte1));
  const __m128i byte2 = _mm_set1_epi8(static_cast<char>(FByte2));
  const __m128i fold1 = _mm_set1_epi8(static_cast<char>(FFold1));
  const __m128i fold2 = _mm_set1_epi8(static_cast<char>(FFold2));
  size_t at = AFrom;
  while (at + reach + 16 <= ASize && at + 16 + n <= ASize + 1) {
    const __m128i first = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ABytes + at + FRare1)), fold1);
    const __m128i second = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(ABytes + at + FRare2)), fold2);
    auto mask =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(first, byte1), _mm_cmpeq_epi8(second, byte2))));
    while (mask != 0) {
      const size_t place = at + static_cast<size_t>(__builtin_ctz(mask));
      if (place + n <= ASize && MatchesAt(ABytes + place)) return place;
      mask &= mask - 1;
    }
    at += 16;
  }
  return FindScalar(ABytes, ASize, at);
#else
  return FindScalar(ABytes, ASize, AFrom);
#endif
}

namespace {
bool MatchesThunk(const TLiteralFinder& AFinder, const uint8_t* AAt) {
  const std::string& needle = AFinder.Needle();
  for (size_t i = 0; i < needle.size(); ++i) {
    const uint8_t b = AAt[i] >= 'A' && AAt[i] <= 'Z' ? static_cast<uint8_t>(AAt[i] + 32) : AAt[i];
    if (b != static_cast<uint8_t>(needle[i])) return false;
  }
  return true;
}
}  // namespace

size_t TLiteralFinder::Find(const uint8_t* ABytes, size_t ASize, size_t AFrom) const {
  if (FNeedle.empty()) return AFrom <= ASize ? AFrom : ASize;
  if (AFrom >= ASize || ASize - AFrom < FNeedle.size()) return ASize;
  return FindVector(ABytes, ASize, AFrom);
}

}  // namespace velloran
