// The columns of a log found from its raw lines, without parsing its records: what a CSV
// export needs before its header, cheaply.
//
// The scan walks a line as TData::ParseLine does (the byte-order mark, the hexadecimal form,
// the "<Event>" start, a tag name running to the next space, the end at "</Event"), so it
// finds exactly the columns the parser discovers, in the order a fresh TData discovers them
// when it parses every record in turn: names compare ignoring ASCII case and the first
// spelling wins. A name with ill-formed UTF-8 is repaired as the parser repairs the line
// (one U+FFFD per maximal bad piece): a name is cut at ASCII bytes, so its repair alone is
// its part of the repaired line.
//
// Threading: an object belongs to the thread that uses it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velloran {

// Column names that compare ignoring ASCII case, as the log's tag names do; each keeps the
// spelling it was first added with, in the order of addition.
class TColumnNames {
 public:
  // The index of AName, which is added when no name equals it ignoring ASCII case.
  int Add(std::string_view AName);
  // The index of the name that equals AName ignoring ASCII case, or -1.
  int IndexOf(std::string_view AName) const;
  const std::vector<std::string>& Names() const { return FNames; }
  int Count() const { return static_cast<int>(FNames.size()); }

 private:
  std::vector<std::string> FNames;
  std::unordered_map<std::string, int> FIndexOfLower;  // by the name in ASCII lower case
};

class TColumnScan {
 public:
  // Adds the columns of one line, as the log holds it (not yet repaired or decoded).
  void AddLine(std::string_view ALine);
  // Every column met so far, in discovery order.
  const TColumnNames& Columns() const { return FColumns; }

 private:
  struct TTextHash {
    using is_transparent = void;
    size_t operator()(std::string_view AText) const { return std::hash<std::string_view>{}(AText); }
  };
  int SpellingOf(std::string_view AName);
  // The parser's walk is a chain of "the first X from here" (a space, ">", "<"): answered from
  // the positions of "<" and ">" and one bit per byte for spaces, each is a few instructions,
  // where a search byte by byte mispredicts at the end of every name and value.
  void MarkLine(std::string_view AText);
  // The first space at or after AFrom, or ASize (the line's).
  size_t NextSpace(size_t AFrom, size_t ASize) const;

  TColumnNames FColumns;
  std::vector<std::string> FSpellings;  // every tag name met, exactly as written
  std::unordered_map<std::string, int, TTextHash, std::equal_to<>> FSpellingIndex;
  // By the previous tag's spelling + 1 (0: the line's first tag): the last two spellings that
  // followed it, the latest first, or -1. Lines of one kind list their tags in one order, and
  // a log has few kinds, so most tags are known from a compare, without a search or a hash.
  std::vector<std::array<int, 2>> FSuccessors = std::vector<std::array<int, 2>>(1, {-1, -1});
  std::vector<uint64_t> FSpaces;  // by 64-byte block of the line: bit i for byte i
  std::vector<size_t> FLess;      // the positions of "<" in the line, then its size
  std::vector<size_t> FGreater;   // of ">", then the size
  std::string FHexDecoded;
  std::string FRepaired;
};

}  // namespace velloran
