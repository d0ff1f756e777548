// The order of the records of a set of logs read as one: which file's which line record n of
// the set is, and back. Files read one after another need only where each begins; files
// merged by time keep a file number per record (2 bytes) and, every checkpoint, how many
// records of each file came before it.
//
// Threading: immutable once built; any thread may read it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace velloran {

class TLogSetOrder {
 public:
  struct TPlace {
    int Part = -1;       // the file, as numbered in the set
    int64_t Local = -1;  // its line in that file
  };

  // One file, or none.
  TLogSetOrder() = default;
  // The files one after another, of ACounts records each. The last file may grow: records
  // past its count belong to it.
  static TLogSetOrder Concatenated(const std::vector<int64_t>& ACounts);
  // The records of every file in the order of their keys, ascending; equal keys keep the
  // order of their files (a file's own records never change order, whatever their keys).
  // AKeyOf(part, local) is called once per record, for each file in ascending local order.
  // Returns false (and leaves the order empty) when AStop answers true between records.
  static bool Merged(const std::vector<int64_t>& ACounts, const std::function<int64_t(int APart, int64_t ALocal)>& AKeyOf,
                     TLogSetOrder& AOrder, const std::function<bool()>& AStop = nullptr);

  bool IsMerged() const { return FMerged; }
  int Parts() const { return static_cast<int>(FCounts.size()); }
  // Records in the set as built (a growing last file of a concatenation adds to it).
  int64_t Count() const { return FCount; }
  // Where a concatenated file's records begin in the set (0 for merged sets).
  int64_t BaseOf(int APart) const { return FMerged ? 0 : FBases[static_cast<size_t>(APart)]; }
  // Record ARecord of the set (0 <= ARecord; below Count() for a merged set).
  TPlace Locate(int64_t ARecord) const;
  // The file of record ARecord (what Locate says, without counting its line); -1 outside.
  int PartOf(int64_t ARecord) const;
  // How many records of file APart come before record ARecord of the set.
  int64_t LocalBefore(int APart, int64_t ARecord) const;
  // The set's numbers of records given by file: AByPart[p] holds ascending line numbers of
  // file p. The result is ascending. One pass over the merged order; a concatenation adds
  // each file's base.
  std::vector<uint32_t> ToSet(const std::vector<std::vector<uint32_t>>& AByPart) const;
  // The inverse of ToSet: ascending set numbers split by file into ascending line numbers
  // (one list per file). One pass over the merged order up to the last number.
  std::vector<std::vector<uint32_t>> ToParts(const std::vector<uint32_t>& ASet) const;
  // Bytes kept for the merged order beyond what the files' own indexes hold.
  size_t ExtraBytes() const;

 private:
  int64_t CheckpointOf(int64_t ARecord) const { return ARecord / FCheckpointRecords; }
  int64_t CountBefore(int APart, int64_t ARecord) const;

  std::vector<int64_t> FCounts;
  std::vector<int64_t> FBases;  // concatenation: where each file begins
  int64_t FCount = 0;
  bool FMerged = false;
  std::vector<uint16_t> FPartOf;  // merged: the file of each record
  int64_t FCheckpointRecords = 1024;
  std::vector<uint32_t> FCheckpoints;  // merged: Parts() counts every FCheckpointRecords records
};

}  // namespace velloran
