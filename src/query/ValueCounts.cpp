#include "ValueCounts.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <queue>
#include <set>

#include "DecodedText.h"

namespace velloran {

namespace {

constexpr size_t kChunkBytes = size_t{64} << 10;  // a reference holds the chunk and 16 bits of offset
constexpr uint32_t kEmpty = 0;

size_t HashOf(std::string_view AText) { return std::hash<std::string_view>{}(AText); }

// An entry: its count (4 bytes), its length (LEB128), its bytes.
size_t EntryBytes(size_t ALength) {
  size_t header = 4 + 1;
  for (size_t rest = ALength >> 7; rest != 0; rest >>= 7) ++header;
  return header + ALength;
}

}  // namespace

struct TValueCounts::TShard {
  std::mutex Lock;
  std::vector<uint32_t> Slots = std::vector<uint32_t>(16, kEmpty);  // reference + 1, or kEmpty
  std::vector<std::unique_ptr<char[]>> Chunks;
  std::vector<size_t> ChunkSizes;
  size_t Current = SIZE_MAX;  // the chunk small entries go to
  size_t Used = 0;            // bytes used of it
  size_t Entries = 0;

  static uint32_t Reference(size_t AChunk, size_t AOffset) { return static_cast<uint32_t>((AChunk << 16) | AOffset); }
  char* EntryAt(uint32_t ARef) const { return Chunks[ARef >> 16].get() + (ARef & 0xFFFF); }

  static std::string_view TextOf(const char* AEntry) {
    size_t length = 0;
    int shift = 0;
    const auto* at = reinterpret_cast<const uint8_t*>(AEntry + 4);
    for (;; ++at, shift += 7) {
      length |= static_cast<size_t>(*at & 0x7F) << shift;
      if ((*at & 0x80) == 0) break;
    }
    return {reinterpret_cast<const char*>(at + 1), length};
  }
  static uint32_t CountOf(const char* AEntry) {
    uint32_t count = 0;
    std::memcpy(&count, AEntry, 4);
    return count;
  }
  static void SetCount(char* AEntry, uint32_t ACount) { std::memcpy(AEntry, &ACount, 4); }

  // The slot that holds ARaw, or the empty slot where it belongs.
  size_t SlotOf(std::string_view ARaw, size_t AHash) const {
    const size_t mask = Slots.size() - 1;
    for (size_t slot = AHash & mask;; slot = (slot + 1) & mask) {
      const uint32_t ref = Slots[slot];
      if (ref == kEmpty || TextOf(EntryAt(ref - 1)) == ARaw) return slot;
    }
  }

  uint32_t Store(std::string_view ARaw, uint32_t ACount) {
    const size_t bytes = EntryBytes(ARaw.size());
    size_t chunk = 0, offset = 0;
    if (bytes > kChunkBytes / 4) {  // a long value gets a chunk of its own
      chunk = Chunks.size();
      Chunks.push_back(std::make_unique<char[]>(bytes));
      ChunkSizes.push_back(bytes);
    } else {
      if (Current == SIZE_MAX || Used + bytes > kChunkBytes) {
        Current = Chunks.size();
        Chunks.push_back(std::make_unique<char[]>(kChunkBytes));
        ChunkSizes.push_back(kChunkBytes);
        Used = 0;
      }
      chunk = Current;
      offset = Used;
      Used += bytes;
    }
    char* entry = Chunks[chunk].get() + offset;
    SetCount(entry, ACount);
    auto* at = reinterpret_cast<uint8_t*>(entry + 4);
    size_t length = ARaw.size();
    for (; length >= 0x80; length >>= 7) *at++ = static_cast<uint8_t>((length & 0x7F) | 0x80);
    *at++ = static_cast<uint8_t>(length);
    std::memcpy(at, ARaw.data(), ARaw.size());
    return Reference(chunk, offset);
  }

  void Grow() {
    std::vector<uint32_t> old(Slots.size() * 2, kEmpty);
    old.swap(Slots);
    const size_t mask = Slots.size() - 1;
    for (const uint32_t ref : old) {
      if (ref == kEmpty) continue;
      size_t slot = HashOf(TextOf(EntryAt(ref - 1))) & mask;
      while (Slots[slot] != kEmpty) slot = (slot + 1) & mask;
      Slots[slot] = ref;
    }
  }

  template <typename TVisit>
  void ForEach(const TVisit& AVisit) const {
    for (const uint32_t ref : Slots) {
      if (ref == kEmpty) continue;
      const char* entry = EntryAt(ref - 1);
      AVisit(TextOf(entry), CountOf(entry));
    }
  }
};

TValueCounts::TValueCounts() : FShards(std::make_unique<TShard[]>(kShards)) {}
TValueCounts::~TValueCounts() = default;

void TValueCounts::Add(std::string_view ARaw, uint32_t ACount) {
  const size_t hash = HashOf(ARaw);
  TShard& shard = FShards[(hash >> 58) % kShards];
  std::lock_guard lock(shard.Lock);
  size_t slot = shard.SlotOf(ARaw, hash);
  if (shard.Slots[slot] != kEmpty) {
    char* entry = shard.EntryAt(shard.Slots[slot] - 1);
    TShard::SetCount(entry, TShard::CountOf(entry) + ACount);
    return;
  }
  if ((shard.Entries + 1) * 4 > shard.Slots.size() * 3) {
    shard.Grow();
    slot = shard.SlotOf(ARaw, hash);
  }
  shard.Slots[slot] = shard.Store(ARaw, ACount) + 1;
  ++shard.Entries;
}

// Raw spellings that hold a reference, decoded and summed, with the plain spellings they
// absorbed (a plain value equal to a decoded one is the same value).
struct TValueCounts::TMerged {
  std::map<std::string, int64_t> Decoded;
  std::set<std::string_view> Absorbed;
};

TValueCounts::TMerged TValueCounts::MergedSpellings() const {
  TMerged merged;
  for (size_t i = 0; i < kShards; ++i) {
    FShards[i].ForEach([&](std::string_view AText, uint32_t ACount) {
      if (MayHoldReferences(AText)) merged.Decoded[DecodedText(AText)] += ACount;
    });
  }
  for (auto& [text, count] : merged.Decoded) {
    if (MayHoldReferences(text)) continue;  // a plain spelling holds no "&"
    const size_t hash = HashOf(text);
    const TShard& shard = FShards[(hash >> 58) % kShards];
    const uint32_t ref = shard.Slots[shard.SlotOf(text, hash)];
    if (ref == kEmpty) continue;
    const char* entry = shard.EntryAt(ref - 1);
    count += TShard::CountOf(entry);
    merged.Absorbed.insert(TShard::TextOf(entry));
  }
  return merged;
}

int64_t TValueCounts::Distinct() const {
  int64_t distinct = 0;
  Top(0, &distinct);
  return distinct;
}

std::vector<TValueCount> TValueCounts::Top(size_t ACount, int64_t* ADistinct) const {
  if (ACount == 0 && ADistinct == nullptr) return {};
  const TMerged merged = MergedSpellings();
  using TCandidate = std::pair<int64_t, std::string_view>;
  // Better first: a higher count, then the smaller text.
  const auto better = [](const TCandidate& A, const TCandidate& B) {
    return A.first != B.first ? A.first > B.first : A.second < B.second;
  };
  // The heap's top is the worst of the best ACount seen so far.
  std::priority_queue<TCandidate, std::vector<TCandidate>, decltype(better)> best(better);
  const auto offer = [&](int64_t ACountOf, std::string_view AText) {
    if (ACount == 0) return;
    if (best.size() < ACount) {
      best.emplace(ACountOf, AText);
    } else if (better({ACountOf, AText}, best.top())) {
      best.pop();
      best.emplace(ACountOf, AText);
    }
  };
  int64_t plain = 0;
  for (size_t i = 0; i < kShards; ++i) {
    FShards[i].ForEach([&](std::string_view AText, uint32_t ACountOf) {
      if (MayHoldReferences(AText)) return;
      ++plain;
      if (merged.Absorbed.count(AText) == 0) offer(ACountOf, AText);
    });
  }
  for (const auto& [text, count] : merged.Decoded) offer(count, text);
  if (ADistinct != nullptr)
    *ADistinct = plain + static_cast<int64_t>(merged.Decoded.size()) - static_cast<int64_t>(merged.Absorbed.size());
  std::vector<TValueCount> top(best.size());
  for (size_t i = best.size(); i-- > 0; best.pop()) top[i] = TValueCount{std::string(best.top().second), best.top().first, {}};
  return top;
}

size_t TValueCounts::Bytes() const {
  size_t bytes = 0;
  for (size_t i = 0; i < kShards; ++i) {
    bytes += FShards[i].Slots.capacity() * sizeof(uint32_t);
    for (const size_t size : FShards[i].ChunkSizes) bytes += size;
  }
  return bytes;
}

}  // namespace velloran
