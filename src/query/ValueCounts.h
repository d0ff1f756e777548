// Exact counts of the distinct values of one field over a whole log, compact enough for a
// million distinct users: values are kept once, as the log writes them, in chunks of bytes
// with their counts, and found through a table of 4-byte references.
//
// Threading: Add may be called from several threads at once (the table is split into shards,
// each behind its own lock); Distinct and Top only once every Add has returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace velloran {

struct TValueCount {
  std::string Value;  // decoded text (entity references resolved)
  int64_t Count = 0;
  std::string Name;  // the code's name for coded fields ("EAP" for Authentication-Type 5)
};

class TValueCounts {
 public:
  TValueCounts();
  ~TValueCounts();
  TValueCounts(const TValueCounts&) = delete;
  TValueCounts& operator=(const TValueCounts&) = delete;

  // Counts one more occurrence (ACount more) of the raw value ARaw.
  void Add(std::string_view ARaw, uint32_t ACount = 1);
  // Distinct values, counting raw spellings that decode alike once.
  int64_t Distinct() const;
  // The ACount most frequent values: by count, descending, then by text, ascending (bytes),
  // so that ties come out the same on every run. Spellings that decode alike are one value.
  // ADistinct, when given, receives Distinct() from the same pass over the values.
  std::vector<TValueCount> Top(size_t ACount, int64_t* ADistinct = nullptr) const;
  // Bytes held (for the benchmark's memory figure).
  size_t Bytes() const;

 private:
  struct TShard;
  static constexpr size_t kShards = 64;
  struct TMerged;
  TMerged MergedSpellings() const;
  std::unique_ptr<TShard[]> FShards;
};

}  // namespace velloran
