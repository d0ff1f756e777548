// A search for one literal in raw bytes, ignoring ASCII case, at the speed of the memory bus:
// a vector compare of the two rarest bytes of the literal over 16 or 32 bytes at a time, then a
// check of each place both are found.
//
// Threading: a finder is immutable after construction; any thread may search with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velloran {

class TLiteralFinder {
 public:
  // ANeedle: lower-case ASCII letters match either case; other bytes match exactly.
  explicit TLiteralFinder(std::string_view ANeedle);
  const std::string& Needle() const { return FNeedle; }
  // The first place at or after AFrom where the literal begins and ends within ABytes, or
  // ASize.
  size_t Find(const uint8_t* ABytes, size_t ASize, size_t AFrom) const;

 private:
  bool MatchesAt(const uint8_t* AAt) const;
  size_t FindScalar(const uint8_t* ABytes, size_t ASize, size_t AFrom) const;
  size_t FindVector(const uint8_t* ABytes, size_t ASize, size_t AFrom) const;
#if defined(__x86_64__)
  // The vector searches: the first match in whole vectors, else ASize with ATail where the
  // scalar search takes over.
  __attribute__((target("avx2"))) size_t FindAvx2(const uint8_t* ABytes, size_t ASize, size_t AFrom, size_t& ATail) const;
  size_t FindSse2(const uint8_t* ABytes, size_t ASize, size_t AFrom, size_t& ATail) const;
#endif

  std::string FNeedle;
  size_t FRare1 = 0, FRare2 = 0;   // places in the needle of its two rarest bytes
  uint8_t FByte1 = 0, FByte2 = 0;  // those bytes, lower case
  uint8_t FFold1 = 0, FFold2 = 0;  // 0x20 where the byte is a letter: OR-ing it folds case
  bool FAvx2 = false;
};

}  // namespace velloran
