// The records of the two flat arrays a storage's tree is made of, sections and keys, the
// key array that keeps one sorted run per section, and the collation comparison of names
// that orders both arrays.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "StorageKeyValue.h"

namespace velloran {

struct TrsSectionItem {
  std::string Name;      // never empty, never holding a delimiter
  std::string SortKey;   // collation key of Name: what sorting and lookups compare
  int32_t Id = 0;        // unique, at least 1
  int32_t ParentId = 0;  // 0: directly under the top
};

struct TrsKeyItem {
  std::string Name;
  std::string SortKey;
  int32_t SectionId = 0;  // 0: a key of the top
  TrsKeyValue Value;
};

// The keys of a store in one global order, by (SectionId, Name), addressed by a global index,
// but kept as one sorted run per section: adding or removing a key moves only the keys of its
// own section. A Fenwick tree over the sections' key counts turns a global index into
// (section, position) and back in O(log sections).
class TrsKeyArray {
 public:
  int Count() const { return FCount; }
  TrsKeyItem& operator[](int AIndex);
  const TrsKeyItem& operator[](int AIndex) const;
  // The global index range [begin, end) of the keys of ASectionId.
  std::pair<int, int> Run(int32_t ASectionId) const;
  // The global index of the first key of ASectionId whose sort key is not below ASortKey
  // (the end of the run when there is none).
  int LowerBound(int32_t ASectionId, const std::string& ASortKey) const;
  // Inserts AItem at its sorted place in its section; returns its global index.
  int Insert(TrsKeyItem AItem);
  // Removes [ABegin, AEnd), which lie in one section.
  void Erase(int ABegin, int AEnd);
  void Clear();

 private:
  std::vector<TrsKeyItem>& SectionKeys(int32_t AId);
  int CountBefore(int32_t AId) const;  // keys of the sections with a smaller id
  void AddToCount(int32_t AId, int ADelta);
  std::pair<int32_t, int> Locate(int AIndex) const;  // (section id, position in it)

  std::vector<std::vector<TrsKeyItem>> FBySection;  // index: section id (0: the top)
  std::vector<int> FTree;                           // Fenwick tree of the run lengths, 1-based
  int FCount = 0;
};

// The collation sort key under which names are compared (case-insensitive, user locale).
std::string NameSortKey(std::string_view AName);
// Whether two names are the same name under that comparison.
bool SameName(std::string_view A, std::string_view B);

}  // namespace velloran
