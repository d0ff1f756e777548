#include "ColumnScan.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "LogData.h"
#include "PlatformText.h"

namespace velloran {

namespace {

using platform::StartsWithIgnoringAsciiCase;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";  // U+FEFF
constexpr std::string_view kReversedMark = "\xEF\xBF\xBE";   // U+FFFE
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";    // U+FFFD

std::string AsciiLower(std::string_view AText) {
  std::string lower(AText);
  for (char& c : lower) c = platform::AsciiLower(c);
  return lower;
}

// AText with one U+FFFD for each maximal ill-formed piece, as the parser repairs a line.
void RepairUtf8(std::string_view AText, std::string& AOut) {
  AOut.clear();
  size_t pos = 0;
  while (pos < AText.size()) {
    const size_t length = platform::Utf8SequenceLength(AText, pos);
    if (length > 0) {
      AOut.append(AText.substr(pos, length));
      pos += length;
      continue;
    }
    AOut.append(kReplacement);
    ++pos;
    while (pos < AText.size() && (static_cast<unsigned char>(AText[pos]) & 0xC0) == 0x80) ++pos;
  }
}

}  // namespace

int TColumnNames::Add(std::string_view AName) {
  const auto [entry, added] = FIndexOfLower.try_emplace(AsciiLower(AName), Count());
  if (added) FNames.emplace_back(AName);
  return entry->second;
}

int TColumnNames::IndexOf(std::string_view AName) const {
  const auto entry = FIndexOfLower.find(AsciiLower(AName));
  return entry != FIndexOfLower.end() ? entry->second : -1;
}

int TColumnScan::SpellingOf(std::string_view AName) {
  if (const auto known = FSpellingIndex.find(AName); known != FSpellingIndex.end()) return known->second;
  std::string_view name = AName;
  if (!platform::IsWellFormedUtf8(name)) {
    RepairUtf8(name, FRepaired);
    name = FRepaired;
  }
  const int spelling = static_cast<int>(FSpellings.size());
  FColumns.Add(name);
  FSpellings.emplace_back(AName);
  FSpellingIndex.emplace(std::string(AName), spelling);
  FSuccessors.push_back({-1, -1});
  return spelling;
}

void TColumnScan::MarkLine(std::string_view AText) {
  const size_t size = AText.size();
  const size_t blocks = (size + 63) / 64;
  if (FSpaces.size() < blocks) FSpaces.resize(blocks);
  // Grown only: a line holds at most one mark a byte, and each list ends in the line's size.
  if (FLess.size() < size + 1) {
    FLess.resize(size + 1);
    FGreater.resize(size + 1);
  }
  size_t less = 0;
  size_t greater = 0;
  std::array<char, 64> tail{};  // the last block, padded with NUL (no mark)
  for (size_t block = 0; block < blocks; ++block) {
    const char* bytes = AText.data() + block * 64;
    if (size - block * 64 < 64) {
      std::memcpy(tail.data(), bytes, size - block * 64);
      bytes = tail.data();
    }
    uint64_t lessBits = 0;
    uint64_t greaterBits = 0;
    uint64_t spaceBits = 0;
#if defined(__SSE2__)
    for (int part = 0; part < 4; ++part) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * part));
      const auto mask = [&](char AChar) {
        return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(AChar)))))
               << (16 * part);
      };
      lessBits |= mask('<');
      greaterBits |= mask('>');
      spaceBits |= mask(' ');
    }
#else
    for (int i = 0; i < 64; ++i) {
      lessBits |= static_cast<uint64_t>(bytes[i] == '<') << i;
      greaterBits |= static_cast<uint64_t>(bytes[i] == '>') << i;
      spaceBits |= static_cast<uint64_t>(bytes[i] == ' ') << i;
    }
#endif
    FSpaces[block] = spaceBits;
    for (; lessBits != 0; lessBits &= lessBits - 1) FLess[less++] = block * 64 + static_cast<size_t>(std::countr_zero(lessBits));
    for (; greaterBits != 0; greaterBits &= greaterBits - 1)
      FGreater[greater++] = block * 64 + static_cast<size_t>(std::countr_zero(greaterBits));
  }
  FLess[less] = size;
  FGreater[greater] = size;
}

size_t TColumnScan::NextSpace(size_t AFrom, size_t ASize) const {
  if (AFrom >= ASize) return ASize;
  size_t block = AFrom / 64;
  uint64_t bits = FSpaces[block] & (~uint64_t{0} << (AFrom % 64));
  while (bits == 0) {
    if (++block * 64 >= ASize) return ASize;
    bits = FSpaces[block];
  }
  return block * 64 + static_cast<size_t>(std::countr_zero(bits));  // padding is never marked
}

void TColumnScan::AddLine(std::string_view AText) {
  // The parser's steps, less what cannot change the columns: it undoes the mark and the
  // hexadecimal form only for lines of more than two characters, and no shorter line holds
  // "<Event>" either way.
  if (AText.substr(0, 3) == kByteOrderMark || AText.substr(0, 3) == kReversedMark) AText.remove_prefix(3);
  if (AText.substr(0, 2) == "0x") {
    FHexDecoded = TData::HexToText(AText.substr(2));
    AText = FHexDecoded;
  }
  if (!StartsWithIgnoringAsciiCase(AText, "<Event>")) return;
  MarkLine(AText);
  const size_t end = AText.size();
  // The walk asks for the first "<" or ">" at or after positions that only grow, so each is a
  // step along its list of positions (which ends in the line's size: "none").
  const size_t* less = FLess.data();
  const size_t* greater = FGreater.data();
  const auto nextLess = [&less](size_t AFrom) {
    while (*less < AFrom) ++less;
    return *less;
  };
  const auto nextGreater = [&greater](size_t AFrom) {
    while (*greater < AFrom) ++greater;
    return *greater;
  };
  size_t p = 7;
  int previous = -1;
  while (p < end && AText[p] == '<') {
    const size_t nameStart = p + 1;
    const size_t nameEnd = NextSpace(nameStart, end);
    const std::string_view name = AText.substr(nameStart, nameEnd - nameStart);
    // The tags that followed the previous one before, the latest first. No spelling starts
    // with "/Event": the parser ends the line there, before any column.
    std::array<int, 2>& successors = FSuccessors[static_cast<size_t>(previous + 1)];
    int spelling = -1;
    if (successors[0] >= 0 && FSpellings[static_cast<size_t>(successors[0])] == name) {
      spelling = successors[0];
    } else if (successors[1] >= 0 && FSpellings[static_cast<size_t>(successors[1])] == name) {
      spelling = successors[1];
      std::swap(successors[0], successors[1]);
    } else {
      if (!name.empty() && name[0] == '/' && StartsWithIgnoringAsciiCase(name, "/Event")) return;
      spelling = SpellingOf(name);
      // SpellingOf may have grown FSuccessors: index it again.
      std::array<int, 2>& grown = FSuccessors[static_cast<size_t>(previous + 1)];
      grown = {spelling, grown[0]};
    }
    previous = spelling;
    const size_t tagEnd = nextGreater(nameEnd);
    const size_t valueEnd = nextLess(tagEnd < end ? tagEnd + 1 : end);
    const size_t closeEnd = nextGreater(valueEnd);
    p = closeEnd < end ? closeEnd + 1 : end;
  }
}

}  // namespace velloran
