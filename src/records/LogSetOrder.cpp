#include "LogSetOrder.h"

#include <algorithm>
#include <queue>
#include <stdexcept>

namespace velloran {

TLogSetOrder TLogSetOrder::Concatenated(const std::vector<int64_t>& ACounts) {
  TLogSetOrder order;
  order.FCounts = ACounts;
  for (const int64_t count : ACounts) {
    order.FBases.push_back(order.FCount);
    order.FCount += count;
  }
  return order;
}

bool TLogSetOrder::Merged(const std::vector<int64_t>& ACounts, const std::function<int64_t(int, int64_t)>& AKeyOf,
                          TLogSetOrder& AOrder, const std::function<bool()>& AStop) {
  if (ACounts.size() > UINT16_MAX) throw std::length_error("too many logs to merge");
  TLogSetOrder order;
  order.FMerged = true;
  order.FCounts = ACounts;
  for (const int64_t count : ACounts) order.FCount += count;
  if (order.FCount > UINT32_MAX) throw std::length_error("too many records to merge");
  // A checkpoint costs 4 bytes per file: space them so that they add at most 1 byte per record.
  while (order.FCheckpointRecords < static_cast<int64_t>(ACounts.size()) * 4) order.FCheckpointRecords *= 2;
  order.FPartOf.reserve(static_cast<size_t>(order.FCount));

  struct THead {
    int64_t Key;
    int Part;
    bool operator>(const THead& AOther) const { return Key != AOther.Key ? Key > AOther.Key : Part > AOther.Part; }
  };
  std::priority_queue<THead, std::vector<THead>, std::greater<>> heads;
  std::vector<int64_t> next(ACounts.size(), 0);
  for (size_t part = 0; part < ACounts.size(); ++part) {
    if (ACounts[part] > 0) heads.push(THead{AKeyOf(static_cast<int>(part), 0), static_cast<int>(part)});
  }
  std::vector<uint32_t> taken(ACounts.size(), 0);
  while (!heads.empty()) {
    if (static_cast<int64_t>(order.FPartOf.size()) % order.FCheckpointRecords == 0) {
      if (AStop && AStop()) return false;
      order.FCheckpoints.insert(order.FCheckpoints.end(), taken.begin(), taken.end());
    }
    const THead head = heads.top();
    heads.pop();
    const auto part = static_cast<size_t>(head.Part);
    order.FPartOf.push_back(static_cast<uint16_t>(part));
    ++taken[part];
    if (++next[part] < ACounts[part]) heads.push(THead{AKeyOf(head.Part, next[part]), head.Part});
  }
  AOrder = std::move(order);
  return true;
}

int64_t TLogSetOrder::CountBefore(int APart, int64_t ARecord) const {
  const int64_t checkpoint = CheckpointOf(ARecord);
  int64_t count = FCheckpoints[static_cast<size_t>(checkpoint * Parts() + APart)];
  const auto part = static_cast<uint16_t>(APart);
  for (int64_t i = checkpoint * FCheckpointRecords; i < ARecord; ++i) count += FPartOf[static_cast<size_t>(i)] == part ? 1 : 0;
  return count;
}

TLogSetOrder::TPlace TLogSetOrder::Locate(int64_t ARecord) const {
  if (ARecord < 0 || FCounts.empty()) return {};
  if (!FMerged) {
    // Empty files share their base with the next: the last of equal bases holds the record.
    const int part = PartOf(ARecord);
    return TPlace{part, ARecord - FBases[static_cast<size_t>(part)]};
  }
  if (ARecord >= FCount) return {};
  const int part = FPartOf[static_cast<size_t>(ARecord)];
  return TPlace{part, CountBefore(part, ARecord)};
}

int TLogSetOrder::PartOf(int64_t ARecord) const {
  if (ARecord < 0 || FCounts.empty()) return -1;
  if (!FMerged) return static_cast<int>(std::upper_bound(FBases.begin(), FBases.end(), ARecord) - FBases.begin()) - 1;
  return ARecord < FCount ? FPartOf[static_cast<size_t>(ARecord)] : -1;
}

int64_t TLogSetOrder::LocalBefore(int APart, int64_t ARecord) const {
  if (!FMerged)
    return std::clamp<int64_t>(ARecord - FBases[static_cast<size_t>(APart)], 0,
                               APart + 1 < Parts() ? FCounts[static_cast<size_t>(APart)] : INT64_MAX);
  if (ARecord >= FCount) return FCounts[static_cast<size_t>(APart)];
  return CountBefore(APart, std::max<int64_t>(0, ARecord));
}

std::vector<uint32_t> TLogSetOrder::ToSet(const std::vector<std::vector<uint32_t>>& AByPart) const {
  std::vector<uint32_t> records;
  size_t total = 0;
  for (const auto& part : AByPart) total += part.size();
  records.reserve(total);
  if (!FMerged) {
    for (size_t part = 0; part < AByPart.size(); ++part) {
      for (const uint32_t local : AByPart[part]) records.push_back(static_cast<uint32_t>(FBases[part] + local));
    }
    return records;
  }
  std::vector<uint32_t> seen(AByPart.size(), 0);  // records of each file met so far
  std::vector<size_t> wanted(AByPart.size(), 0);  // the next of each file's lines to find
  for (size_t record = 0; record < FPartOf.size() && records.size() < total; ++record) {
    const uint16_t part = FPartOf[record];
    if (part < AByPart.size()) {
      const auto& lines = AByPart[part];
      if (wanted[part] < lines.size() && lines[wanted[part]] == seen[part]) {
        records.push_back(static_cast<uint32_t>(record));
        ++wanted[part];
      }
      ++seen[part];
    }
  }
  return records;
}

std::vector<std::vector<uint32_t>> TLogSetOrder::ToParts(const std::vector<uint32_t>& ASet) const {
  if (FCounts.empty()) return {ASet};
  std::vector<std::vector<uint32_t>> byPart(FCounts.size());
  std::vector<uint32_t> seen(FCounts.size(), 0);  // merged: records of each file met so far
  size_t part = 0;                                // concatenated: the file of the last record
  size_t next = 0;
  for (const uint32_t record : ASet) {
    if (FMerged) {
      for (; next < record && next < FPartOf.size(); ++next) ++seen[FPartOf[next]];
      if (next >= FPartOf.size()) break;
      part = FPartOf[next];
      byPart[part].push_back(seen[part]);
    } else {
      while (part + 1 < FBases.size() && FBases[part + 1] <= static_cast<int64_t>(record)) ++part;
      byPart[part].push_back(static_cast<uint32_t>(record - FBases[part]));
    }
  }
  return byPart;
}

size_t TLogSetOrder::ExtraBytes() const {
  return FPartOf.capacity() * sizeof(uint16_t) + FCheckpoints.capacity() * sizeof(uint32_t) + FBases.capacity() * sizeof(int64_t);
}

}  // namespace velloran
