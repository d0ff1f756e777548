#include "Statistics.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "CodeNames.h"
#include "LogData.h"
#include "LogTime.h"
#include "PlatformFile.h"
#include "PlatformSystem.h"

namespace velloran {

TTraffic& TTraffic::operator+=(const TTraffic& AOther) {
  Requests += AOther.Requests;
  Accepts += AOther.Accepts;
  Refusals += AOther.Refusals;
  Challenges += AOther.Challenges;
  Accounting += AOther.Accounting;
  Other += AOther.Other;
  return *this;
}

namespace {

constexpr size_t kRanked = kRankedFields.size();
constexpr int64_t kWindow = TExchangeFinder::kDefaultWindow;

// ---------------------------------------------------------------------------------------------
// The fields of a line the statistics read, found by walking its tags once (no row is built).

enum TPick : int { pkTimestamp, pkComputer, pkClass, pkPacketType, pkReasonCode, pkRanked };
constexpr int kPicks = pkRanked + static_cast<int>(kRanked);

constexpr std::array<std::string_view, kPicks> kPickNames = {
    "Timestamp",      "Computer-Name",  "Class",          "Packet-Type",    "Reason-Code",    kRankedFields[0],
    kRankedFields[1], kRankedFields[2], kRankedFields[3], kRankedFields[4], kRankedFields[5], kRankedFields[6]};

struct TPicked {
  std::array<std::string_view, kPicks> Value;
  uint32_t Present = 0;
  bool Has(int APick) const { return (Present >> APick & 1) != 0; }
};

bool SameNameIgnoringCase(const char* AName, std::string_view AWanted) {
  for (size_t i = 0; i < AWanted.size(); ++i) {
    if ((AName[i] | 0x20) != (AWanted[i] | 0x20)) return false;
  }
  return true;
}

// The picks by a name's length and first letter (at most two share both; 0 for none, else
// the pick + 1): most tags are told apart from the picked names with one look-up.
struct TPickTable {
  std::array<std::array<std::array<uint8_t, 2>, 32>, 64> Slots{};
};
constexpr TPickTable kPickTable = [] {
  TPickTable table;
  for (int pick = 0; pick < kPicks; ++pick) {
    const std::string_view name = kPickNames[static_cast<size_t>(pick)];
    auto& slot = table.Slots[name.size()][static_cast<size_t>(name[0] & 31)];
    slot[slot[0] == 0 ? 0 : 1] = static_cast<uint8_t>(pick + 1);
  }
  return table;
}();

// The pick a tag name stands for; -1 for a name the statistics do not read.
int PickOf(const char* AName, size_t ALength) {
  if (ALength >= kPickTable.Slots.size() || ALength == 0) return -1;
  for (const uint8_t slot : kPickTable.Slots[ALength][static_cast<size_t>(AName[0] & 31)]) {
    if (slot != 0 && SameNameIgnoringCase(AName, kPickNames[slot - 1u])) return slot - 1;
  }
  return -1;
}

// Lines are read from buffers with kPadding bytes after their end, so that the searches below
// may read 16 bytes at a time past a line's last byte (what they find there is ignored).
constexpr size_t kPadding = 16;

// The first byte in [AFrom, AEnd) equal to one of ABytes (1 to 3 of them), else AEnd.
template <char... ABytes>
const char* FindAny(const char* AFrom, const char* AEnd) {
#if defined(__SSE2__)
  for (const char* at = AFrom; at < AEnd; at += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    __m128i hits = _mm_setzero_si128();
    ((hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_set1_epi8(ABytes)))), ...);
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return std::min(AEnd, at + __builtin_ctz(mask));
  }
  return AEnd;
#else
  for (const char* at = AFrom; at < AEnd; ++at) {
    if (((*at == ABytes) || ...)) return at;
  }
  return AEnd;
#endif
}

// The first element of each picked name in ALine, as the log holds its text (entities stay):
// what RawFieldText finds, for all the fields at once. Elements are "<Name attributes>text
// </Name>": after an element's text the walk steps over its end tag by the name's length.
// ALine must be followed by kPadding readable bytes.
void PickFields(std::string_view ALine, TPicked& AOut) {
  constexpr uint32_t kAll = (uint32_t{1} << kPicks) - 1;
  AOut.Present = 0;
  const char* at = ALine.data();
  const char* const end = at + ALine.size();
  while (at < end && AOut.Present != kAll) {
    const char* open = *at == '<' ? at : FindAny<'<'>(at, end);
    if (open == end) break;
    const char* name = open + 1;
    if (name < end && *name == '/') {  // an end tag that is not where an element's text ended
      at = name + 1;
      continue;
    }
    const char* nameEnd = FindAny<' ', '>', '/'>(name, end);
    const auto nameLength = static_cast<size_t>(nameEnd - name);
    const int pick = PickOf(name, nameLength);
    const char* close = *nameEnd == '>' ? nameEnd : FindAny<'>'>(nameEnd, end);
    if (close == end) break;
    if (close[-1] == '/') {  // <Name/>: empty, no end tag
      if (pick >= 0 && !AOut.Has(pick)) {
        AOut.Value[static_cast<size_t>(pick)] = {};
        AOut.Present |= uint32_t{1} << pick;
      }
      at = close + 1;
      continue;
    }
    const char* text = close + 1;
    const char* next = FindAny<'<'>(text, end);
    if (next == end) break;
    if (pick >= 0 && !AOut.Has(pick)) {
      AOut.Value[static_cast<size_t>(pick)] = std::string_view(text, static_cast<size_t>(next - text));
      AOut.Present |= uint32_t{1} << pick;
    }
    // "</Name>" of this element: step over it; anything else is looked at as a tag.
    const char* after = next + nameLength + 3;
    at = after <= end && next[1] == '/' && after[-1] == '>' ? after : next;
  }
}

// ---------------------------------------------------------------------------------------------
// The traffic per interval, kept per worker at a resolution that grows coarser when the
// intervals seen pass kMaxKept: every resolution divides the next, so counts move up exactly.

constexpr size_t kMaxKept = 50000;

void CountTraffic(TTraffic& ATraffic, uint32_t AType, bool AHasType) {
  if (!AHasType) {
    ++ATraffic.Other;
    return;
  }
  switch (AType) {
    case ptAccessRequest:
      ++ATraffic.Requests;
      break;
    case ptAccessAccept:
      ++ATraffic.Accepts;
      break;
    case ptAccessReject:
      ++ATraffic.Refusals;
      break;
    case ptAccessChallenge:
      ++ATraffic.Challenges;
      break;
    case ptAccountingRequest:
    case ptAccountingRequest + 1:
      ++ATraffic.Accounting;
      break;  // the Accounting-Response
    default:
      ++ATraffic.Other;
  }
}

int64_t FloorDiv(int64_t A, int64_t B) { return A >= 0 ? A / B : -((-A + B - 1) / B); }

class TSeriesCollector {
 public:
  explicit TSeriesCollector(int64_t AFirstResolution)
      : FAuto(AFirstResolution <= 0), FResolution(std::max<int64_t>(1, AFirstResolution)) {}

  void Add(int64_t ASecond, uint32_t AType, bool AHasType) {
    const int64_t key = FloorDiv(ASecond, FResolution);
    if (FLast == nullptr || key != FLastKey) {
      FLast = &FBuckets[key];
      FLastKey = key;
      if (FBuckets.size() > kMaxKept) {
        Coarsen(NextResolution(FResolution));
        Add(ASecond, AType, AHasType);
        return;
      }
    }
    CountTraffic(*FLast, AType, AHasType);
  }

  void Merge(TSeriesCollector& AOther) {
    const int64_t resolution = std::max(FResolution, AOther.FResolution);
    Coarsen(resolution);
    AOther.Coarsen(resolution);
    for (const auto& [key, traffic] : AOther.FBuckets) FBuckets[key] += traffic;
    FLast = nullptr;
  }

  int64_t Resolution() const { return FResolution; }
  // The first and the last bucket kept (keys, in units of the resolution); false when none.
  bool KeyBounds(int64_t& AFirst, int64_t& ALast) const {
    AFirst = INT64_MAX;
    ALast = INT64_MIN;
    for (const auto& entry : FBuckets) {
      AFirst = std::min(AFirst, entry.first);
      ALast = std::max(ALast, entry.first);
    }
    return !FBuckets.empty();
  }
  const std::unordered_map<int64_t, TTraffic>& Buckets() const { return FBuckets; }

  // Coarsens until at most kMaxKept intervals are kept. After the workers' counts are merged,
  // this is the resolution one worker alone would have reached: the series' width must not
  // depend on how many workers shared the log.
  void Settle() {
    while (FBuckets.size() > kMaxKept) Coarsen(NextResolution(FResolution));
  }

  // Moves every count to the coarser AResolution (a multiple of the present one).
  void Coarsen(int64_t AResolution) {
    if (AResolution <= FResolution) return;
    std::unordered_map<int64_t, TTraffic> coarse;
    for (const auto& [key, traffic] : FBuckets) coarse[FloorDiv(key * FResolution, AResolution)] += traffic;
    FBuckets.swap(coarse);
    FResolution = AResolution;
    FLast = nullptr;
  }

 private:
  // Automatic: 1 s, 10 s, 1 min, 10 min, 1 h, 1 day, then tenfold; a width asked for: tenfold.
  int64_t NextResolution(int64_t AResolution) const {
    static constexpr int64_t kChain[] = {1, 10, 60, 600, 3600, 86400};
    if (FAuto) {
      for (const int64_t step : kChain) {
        if (step > AResolution) return step;
      }
    }
    return AResolution * 10;
  }

  bool FAuto;
  int64_t FResolution;
  std::unordered_map<int64_t, TTraffic> FBuckets;
  TTraffic* FLast = nullptr;  // the bucket of the last record (logs are mostly in time order)
  int64_t FLastKey = 0;
};

// ---------------------------------------------------------------------------------------------
// The pass.

// The ranked fields of a request or refusal, as the log holds them.
struct TRankedSeen {
  std::array<std::string, kRanked> Values;
  uint32_t Present = 0;

  // Takes from ARequest the fields this refusal lacks: a reply's own fields win.
  void FillFrom(const TRankedSeen& ARequest) {
    for (size_t i = 0; i < kRanked; ++i) {
      if ((Present >> i & 1) != 0 || (ARequest.Present >> i & 1) == 0) continue;
      Values[i] = ARequest.Values[i];
      Present |= uint32_t{1} << i;
    }
  }

  void Take(const TPicked& APicked) {
    Present = 0;
    for (size_t i = 0; i < kRanked; ++i) {
      if (!APicked.Has(pkRanked + static_cast<int>(i))) continue;
      Values[i].assign(APicked.Value[pkRanked + i]);
      Present |= uint32_t{1} << i;
    }
  }
};

struct TRequestSeen {
  int64_t Record = 0;
  TRankedSeen Fields;
};

// The last Access-Request of each Class and server within the exchange window. Entries that
// fall out of the window are kept aside and used again with their strings' buffers: a busy
// log makes and forgets a request every few records.
class TRecentRequests {
 public:
  using TMap = std::unordered_map<std::string, TRequestSeen>;

  TRequestSeen& Put(const std::string& AKey) {
    const auto found = FMap.find(AKey);
    if (found != FMap.end()) return found->second;
    if (FSpare.empty()) return FMap[AKey];
    TMap::node_type node = std::move(FSpare.back());
    FSpare.pop_back();
    node.key() = AKey;
    return FMap.insert(std::move(node)).position->second;
  }
  const TRequestSeen* Find(const std::string& AKey) const {
    const auto found = FMap.find(AKey);
    return found == FMap.end() ? nullptr : &found->second;
  }
  // Sets aside the requests before record AFirst.
  void ForgetBefore(int64_t AFirst) {
    for (auto entry = FMap.begin(); entry != FMap.end();) {
      const auto next = std::next(entry);
      if (entry->second.Record < AFirst) FSpare.push_back(FMap.extract(entry));
      entry = next;
    }
  }
  // The requests kept, handed over (the spares stay).
  TMap Take() { return std::exchange(FMap, {}); }

 private:
  TMap FMap;
  std::vector<TMap::node_type> FSpare;
};

// A refusal whose request may lie before its stretch: counted once the stretches before it
// are done.
struct TRefusalWaiting {
  int64_t Record = 0;
  std::string Key;
  TRankedSeen Fields;
};

// Counts a worker keeps to itself, added up at the end.
struct TLocalCounts {
  int64_t Records = 0;
  std::map<uint32_t, int64_t> PacketTypes;
  int64_t WithoutPacketType = 0;
  std::map<uint32_t, int64_t> Reasons;
  int64_t RefusalsWithoutReason = 0;
  int64_t WithoutTime = 0;
  TSeriesCollector Series;

  explicit TLocalCounts(int64_t AInterval) : Series(AInterval) {}
};

// One file of the target: its own stretches, the records asked for, and what its finished
// stretches leave for the refusals of the next ones.
struct TPartPass {
  const TScanTarget* Target = nullptr;
  std::vector<uint32_t> Records;  // local numbers asked for; unused when every record counts
  std::vector<TScanStretch> Stretches;
  std::vector<std::unordered_map<std::string, TRequestSeen>> Tails;  // per stretch: requests of its last window
  std::vector<std::vector<TRefusalWaiting>> Waiting;
  std::vector<char> Done;
  size_t Resolved = 0;  // stretches whose waiting refusals are counted
};

struct TJob {
  size_t Part = 0;
  size_t Stretch = 0;
};

class TStatisticsPass {
 public:
  TStatisticsPass(const TScanTarget& ATarget, const TStatisticsOptions& AOptions) : FOptions(AOptions) {
    const std::vector<std::vector<uint32_t>> byPart = AOptions.Records != nullptr && ATarget.Order
                                                          ? ATarget.Order->ToParts(*AOptions.Records)
                                                          : std::vector<std::vector<uint32_t>>();
    const auto addPart = [&](const TScanTarget& APart, size_t AIndex) {
      TPartPass& part = FParts.emplace_back();
      part.Target = &APart;
      if (AOptions.Records != nullptr) part.Records = ATarget.Order ? byPart[AIndex] : *AOptions.Records;
      TScanTarget sized = APart;
      sized.WindowBytes = AOptions.WindowBytes;
      part.Stretches = PlanStretches(sized);
      part.Tails.resize(part.Stretches.size());
      part.Waiting.resize(part.Stretches.size());
      part.Done.assign(part.Stretches.size(), 0);
      for (size_t i = 0; i < part.Stretches.size(); ++i) FJobs.push_back({FParts.size() - 1, i});
      FTotalBytes += APart.EndOffset;
    };
    if (ATarget.Parts.empty()) {
      addPart(ATarget, 0);
    } else {
      for (size_t i = 0; i < ATarget.Parts.size(); ++i) addPart(ATarget.Parts[i], i);
    }
  }

  TLogStatistics Run(const std::stop_token& AStop);

 private:
  struct TWorker {
    TLocalCounts Counts;
    std::string Line;
    TRecentRequests Requests;
    std::string Key;
    TRankedSeen Refusal;
    size_t OpenPart = SIZE_MAX;
    platform::TReadOnlyFile File;
    std::string Bytes;  // the stretch, read with pread: a copy into a buffer of our own scans
                        // faster here than the page cache's mapping, page by page
    TPicked Picked;
    explicit TWorker(int64_t AInterval) : Counts(AInterval) {}
  };

  void Work(TWorker& AWorker, std::stop_source& AStop);
  bool RunStretch(TWorker& AWorker, const TJob& AJob, const std::stop_token& AStop, std::string& AError);
  const TPicked* PickLine(TWorker& AWorker, std::string_view ALine);
  void CountRecord(TWorker& AWorker, const TPicked* APicked, int64_t ARecord, bool ACounted, int64_t AStretchFirst,
                   std::vector<TRefusalWaiting>& AWaiting);
  void CountRefusalFields(TWorker& AWorker, int64_t ARecord, int64_t AStretchFirst, std::vector<TRefusalWaiting>& AWaiting);
  void CountRanked(std::array<TValueCounts, kRanked>& ACounts, const TRankedSeen& AFields);
  void ResolveFinished(TPartPass& APart);
  TLogStatistics Assemble(std::vector<std::unique_ptr<TWorker>>& AWorkers);

  const TStatisticsOptions& FOptions;
  std::vector<TPartPass> FParts;
  std::vector<TJob> FJobs;
  int64_t FTotalBytes = 0;
  std::atomic<size_t> FNextJob{0};
  std::mutex FLock;  // guards the parts' Tails, Waiting, Done and Resolved, FDoneBytes and FError
  int64_t FDoneBytes = 0;
  std::string FError;
  std::array<TValueCounts, kRanked> FRequestValues, FRefusalValues;
};

void TStatisticsPass::CountRanked(std::array<TValueCounts, kRanked>& ACounts, const TRankedSeen& AFields) {
  for (size_t i = 0; i < kRanked; ++i) {
    if ((AFields.Present >> i & 1) != 0) ACounts[i].Add(AFields.Values[i]);
  }
}

// Counts record ARecord from its picked fields (null: a line too long to read); a record not
// counted still leaves its request for the refusals after it.
void TStatisticsPass::CountRecord(TWorker& AWorker, const TPicked* APicked, int64_t ARecord, bool ACounted, int64_t AStretchFirst,
                                  std::vector<TRefusalWaiting>& AWaiting) {
  TLocalCounts& counts = AWorker.Counts;
  if (APicked == nullptr) {  // unreadable, as in a scan
    if (ACounted) {
      ++counts.Records;
      ++counts.WithoutPacketType;
      ++counts.WithoutTime;
    }
    return;
  }
  const TPicked& picked = *APicked;
  const std::optional<uint32_t> type = picked.Has(pkPacketType) ? CodeNumber(picked.Value[pkPacketType]) : std::nullopt;
  const bool request = type == ptAccessRequest;
  const bool refusal = type == ptAccessReject;
  const bool keyed = picked.Has(pkClass) && !picked.Value[pkClass].empty() && (request || refusal);
  if (keyed) {
    // A record without Computer-Name is of the empty server, as the exchange finder has it:
    // the pick's value is then left from an earlier line.
    const std::string_view server = picked.Has(pkComputer) ? picked.Value[pkComputer] : std::string_view();
    AWorker.Key.assign(picked.Value[pkClass]).append(1, '\x1F').append(server);
  }
  if (request && keyed) {
    TRequestSeen& seen = AWorker.Requests.Put(AWorker.Key);
    seen.Record = ARecord;
    seen.Fields.Take(picked);
  }
  if (!ACounted) return;
  ++counts.Records;
  if (type) {
    ++counts.PacketTypes[*type];
  } else {
    ++counts.WithoutPacketType;
  }
  const std::optional<TTimePoint> time = picked.Has(pkTimestamp) ? ParseTime(picked.Value[pkTimestamp]) : std::nullopt;
  if (time) {
    counts.Series.Add(FloorDiv(*time, 1000), type.value_or(0), type.has_value());
  } else {
    ++counts.WithoutTime;
  }
  if (request) {
    for (size_t i = 0; i < kRanked; ++i) {
      if (picked.Has(pkRanked + static_cast<int>(i))) FRequestValues[i].Add(picked.Value[pkRanked + i]);
    }
  }
  if (!refusal) return;
  const std::optional<uint32_t> reason = picked.Has(pkReasonCode) ? CodeNumber(picked.Value[pkReasonCode]) : std::nullopt;
  if (reason) {
    ++counts.Reasons[*reason];
  } else {
    ++counts.RefusalsWithoutReason;
  }
  AWorker.Refusal.Take(picked);
  if (!keyed) {
    CountRanked(FRefusalValues, AWorker.Refusal);
    return;
  }
  CountRefusalFields(AWorker, ARecord, AStretchFirst, AWaiting);
}

// Fills the fields a refusal lacks from its request (the nearest earlier Access-Request of its
// Class and server within the exchange window), then counts them; a refusal whose request may
// lie before the stretch waits for the stretches before it.
void TStatisticsPass::CountRefusalFields(TWorker& AWorker, int64_t ARecord, int64_t AStretchFirst,
                                         std::vector<TRefusalWaiting>& AWaiting) {
  constexpr uint32_t kAllRanked = (uint32_t{1} << kRanked) - 1;
  TRankedSeen& refusal = AWorker.Refusal;
  if (refusal.Present != kAllRanked) {
    const TRequestSeen* found = AWorker.Requests.Find(AWorker.Key);
    if (found == nullptr) {
      if (ARecord - kWindow < AStretchFirst) {
        AWaiting.push_back({ARecord, AWorker.Key, refusal});
        return;
      }
    } else if (found->Record >= ARecord - kWindow) {
      refusal.FillFrom(found->Fields);
    }
  }
  CountRanked(FRefusalValues, refusal);
}

// The fields of a line of the worker's buffer (null when it is too long to read).
const TPicked* TStatisticsPass::PickLine(TWorker& AWorker, std::string_view ALine) {
  if (static_cast<int64_t>(ALine.size()) > TrdlLogMonitor::kMaxLineLength) return nullptr;  // unreadable, as in a scan
  if (TData::IsHexLine(ALine)) {
    std::string& line = AWorker.Line;
    line = TData::HexToText(ALine.substr(ALine.find_first_of("xX") + 1));
    const size_t length = line.size();
    line.append(kPadding, '\0');
    ALine = std::string_view(line).substr(0, length);
  }
  PickFields(ALine, AWorker.Picked);
  return &AWorker.Picked;
}

bool TStatisticsPass::RunStretch(TWorker& AWorker, const TJob& AJob, const std::stop_token& AStop, std::string& AError) {
  TPartPass& part = FParts[AJob.Part];
  const TScanTarget& target = *part.Target;
  const TScanStretch& stretch = part.Stretches[AJob.Stretch];
  if (AWorker.OpenPart != AJob.Part) {
    if (!AWorker.File.Open(target.Path)) {
      AError = "Cannot open " + target.Path + ": " + platform::SystemErrorText(platform::LastSystemError());
      return false;
    }
    AWorker.OpenPart = AJob.Part;
  }
  const auto size = static_cast<size_t>(stretch.End - stretch.Begin);
  AWorker.Bytes.resize(size + kPadding);
  const int64_t read = AWorker.File.ReadAt(stretch.Begin, AWorker.Bytes.data(), size);
  if (read < 0) {
    AError = "Cannot read " + target.Path + ": " + platform::SystemErrorText(platform::LastSystemError());
    return false;
  }
  if (read < static_cast<int64_t>(size)) {
    AError = target.Path + " shrank while it was being read";
    return false;
  }
  AWorker.Requests.ForgetBefore(INT64_MAX);
  std::vector<TRefusalWaiting> waiting;
  const bool every = FOptions.Records == nullptr;
  auto wanted = std::lower_bound(part.Records.begin(), part.Records.end(), static_cast<uint32_t>(stretch.FirstRecord));
  const auto* bytes = reinterpret_cast<const uint8_t*>(AWorker.Bytes.data());
  size_t at = 0;
  for (int64_t record = stretch.FirstRecord; record < stretch.EndRecord && at < size; ++record) {
    if ((record & 1023) == 0) {
      if (AStop.stop_requested()) return false;
      // Requests older than the window answer no later refusal.
      AWorker.Requests.ForgetBefore(record - kWindow);
    }
    const TrdlLineSpan line = LineSpanAt(bytes, size, at, target.Break);
    at = line.Next;
    bool counted = every;
    if (!every && wanted != part.Records.end() && *wanted == record) {
      counted = true;
      ++wanted;
    }
    const TPicked* picked = PickLine(AWorker, std::string_view(AWorker.Bytes).substr(line.Begin, line.End - line.Begin));
    CountRecord(AWorker, picked, record, counted, stretch.FirstRecord, waiting);
  }
  AWorker.Requests.ForgetBefore(stretch.EndRecord - kWindow);
  std::lock_guard lock(FLock);
  part.Tails[AJob.Stretch] = AWorker.Requests.Take();
  part.Waiting[AJob.Stretch] = std::move(waiting);
  part.Done[AJob.Stretch] = 1;
  ResolveFinished(part);
  FDoneBytes += stretch.End - stretch.Begin;
  if (FOptions.OnProgress) FOptions.OnProgress(FDoneBytes, FTotalBytes);
  return true;
}

// Counts the waiting refusals of every stretch whose earlier stretches are all done, and
// lets go of the requests no later stretch can reach. Called under FLock.
void TStatisticsPass::ResolveFinished(TPartPass& APart) {
  while (APart.Resolved < APart.Stretches.size() && APart.Done[APart.Resolved] != 0) {
    const size_t index = APart.Resolved;
    for (TRefusalWaiting& refusal : APart.Waiting[index]) {
      for (size_t earlier = index; earlier-- > 0 && APart.Stretches[earlier].EndRecord > refusal.Record - kWindow;) {
        const auto& tail = APart.Tails[earlier];
        const auto found = tail.find(refusal.Key);
        if (found == tail.end()) continue;
        if (found->second.Record >= refusal.Record - kWindow) refusal.Fields.FillFrom(found->second.Fields);
        break;  // the nearest request of the key: any earlier one is farther
      }
      CountRanked(FRefusalValues, refusal.Fields);
    }
    std::vector<TRefusalWaiting>().swap(APart.Waiting[index]);
    ++APart.Resolved;
    // The next stretch's refusals reach back one window before its first record.
    const int64_t reach =
        APart.Resolved < APart.Stretches.size() ? APart.Stretches[APart.Resolved].FirstRecord - kWindow : INT64_MAX;
    for (size_t i = 0; i < APart.Resolved; ++i) {
      if (APart.Stretches[i].EndRecord <= reach && !APart.Tails[i].empty()) APart.Tails[i] = {};
    }
  }
}

void TStatisticsPass::Work(TWorker& AWorker, std::stop_source& AStop) {
  std::string error;
  const std::stop_token stop = AStop.get_token();
  while (!stop.stop_requested()) {
    const size_t index = FNextJob.fetch_add(1);
    if (index >= FJobs.size()) break;
    if (!RunStretch(AWorker, FJobs[index], stop, error)) break;
  }
  if (error.empty()) return;
  {
    std::lock_guard lock(FLock);
    if (FError.empty()) FError = error;
  }
  // What the others would add is no use without this worker's stretches.
  AStop.request_stop();
}

TLogStatistics TStatisticsPass::Run(const std::stop_token& AStop) {
  const unsigned cores = FOptions.Threads != 0 ? FOptions.Threads : std::max(1u, std::thread::hardware_concurrency());
  const unsigned count = std::max<unsigned>(1, std::min<unsigned>(cores, static_cast<unsigned>(FJobs.size())));
  std::vector<std::unique_ptr<TWorker>> workers;
  for (unsigned i = 0; i < count; ++i) workers.push_back(std::make_unique<TWorker>(FOptions.IntervalSeconds));
  std::stop_source stopAll;
  {
    std::stop_callback forward(AStop, [&] { stopAll.request_stop(); });
    std::vector<std::jthread> threads;
    for (unsigned i = 1; i < count; ++i) threads.emplace_back([&, i] { Work(*workers[i], stopAll); });
    Work(*workers[0], stopAll);
    for (std::jthread& thread : threads) thread.join();
  }
  TLogStatistics statistics = Assemble(workers);
  statistics.Error = FError;
  statistics.Cancelled = AStop.stop_requested();
  return statistics;
}

// The series from the collected buckets: every interval of width AWidth from the first
// record's to the last's, whose buckets' keys run from AFirst to ALast.
std::vector<TTimeInterval> SeriesOf(const TSeriesCollector& ACollector, int64_t AWidth, int64_t AFirst, int64_t ALast) {
  const int64_t resolution = ACollector.Resolution();
  const int64_t firstInterval = FloorDiv(AFirst * resolution, AWidth);
  const int64_t lastInterval = FloorDiv(ALast * resolution, AWidth);
  std::vector<TTimeInterval> series(static_cast<size_t>(lastInterval - firstInterval + 1));
  for (size_t i = 0; i < series.size(); ++i) series[i].Start = (firstInterval + static_cast<int64_t>(i)) * AWidth;
  for (const auto& [key, traffic] : ACollector.Buckets())
    series[static_cast<size_t>(FloorDiv(key * resolution, AWidth) - firstInterval)].Traffic += traffic;
  return series;
}

// The width for the series: the one asked for unless it would give too many intervals (or the
// counts had to be kept coarser), else a round one for about kWantedIntervals.
int64_t SeriesWidth(int64_t AResolution, int64_t AFirst, int64_t ALast, int64_t AAsked, bool& AWidened) {
  AWidened = false;
  const int64_t firstSecond = AFirst * AResolution, lastSecond = ALast * AResolution + AResolution - 1;
  if (AAsked <= 0) return ChooseIntervalSeconds(firstSecond, lastSecond, AResolution);
  int64_t width = AAsked;
  if (AResolution > width || FloorDiv(lastSecond, width) - FloorDiv(firstSecond, width) + 1 > kMaxIntervals) {
    AWidened = true;
    // The smallest multiple of the resolution kept that both fits and is no finer than asked.
    width = AResolution;
    while (width < AAsked || FloorDiv(lastSecond, width) - FloorDiv(firstSecond, width) + 1 > kMaxIntervals) width += AResolution;
  }
  return width;
}

TLogStatistics TStatisticsPass::Assemble(std::vector<std::unique_ptr<TWorker>>& AWorkers) {
  TLogStatistics statistics;
  TLocalCounts& all = AWorkers.front()->Counts;
  for (size_t i = 1; i < AWorkers.size(); ++i) {
    TLocalCounts& counts = AWorkers[i]->Counts;
    all.Records += counts.Records;
    all.WithoutPacketType += counts.WithoutPacketType;
    all.RefusalsWithoutReason += counts.RefusalsWithoutReason;
    all.WithoutTime += counts.WithoutTime;
    for (const auto& [type, count] : counts.PacketTypes) all.PacketTypes[type] += count;
    for (const auto& [reason, count] : counts.Reasons) all.Reasons[reason] += count;
    all.Series.Merge(counts.Series);
  }
  all.Series.Settle();
  statistics.Records = all.Records;
  statistics.WithoutPacketType = all.WithoutPacketType;
  statistics.WithoutTime = all.WithoutTime;
  statistics.RefusalsWithoutReason = all.RefusalsWithoutReason;
  const TCodedAttribute packetTypes = TCodedAttribute::Of("Packet-Type");
  for (const auto& [type, count] : all.PacketTypes) statistics.PacketTypes.push_back({type, count, packetTypes.NameOf(type)});
  statistics.Requests = all.PacketTypes.count(ptAccessRequest) != 0 ? all.PacketTypes[ptAccessRequest] : 0;
  statistics.Refusals = all.PacketTypes.count(ptAccessReject) != 0 ? all.PacketTypes[ptAccessReject] : 0;
  const TCodedAttribute reasons = TCodedAttribute::Of("Reason-Code");
  for (const auto& [reason, count] : all.Reasons) statistics.RefusalReasons.push_back({reason, count, reasons.NameOf(reason)});
  std::stable_sort(statistics.RefusalReasons.begin(), statistics.RefusalReasons.end(),
                   [](const TCodeCount& A, const TCodeCount& B) { return A.Count > B.Count; });
  for (size_t i = 0; i < kRanked; ++i) {
    TRankedValues ranked;
    ranked.Field = kRankedFields[i];
    ranked.Requests = FRequestValues[i].Top(FOptions.TopCount, &ranked.DistinctRequests);
    ranked.Refusals = FRefusalValues[i].Top(FOptions.TopCount, &ranked.DistinctRefusals);
    const TCodedAttribute coded = TCodedAttribute::Of(ranked.Field);
    if (coded.HasNames()) {
      for (auto* list : {&ranked.Requests, &ranked.Refusals}) {
        for (TValueCount& value : *list) value.Name = coded.NameOfText(value.Value);
      }
    }
    statistics.Ranked.push_back(std::move(ranked));
  }
  int64_t first = 0, last = 0;
  if (all.Series.KeyBounds(first, last)) {  // else no record has a time: there is no series
    statistics.IntervalSeconds =
        SeriesWidth(all.Series.Resolution(), first, last, FOptions.IntervalSeconds, statistics.IntervalWidened);
    statistics.Series = SeriesOf(all.Series, statistics.IntervalSeconds, first, last);
  }
  return statistics;
}

}  // namespace

TLogStatistics ComputeStatistics(const TScanTarget& ATarget, const TStatisticsOptions& AOptions, std::stop_token AStop) {
  TStatisticsPass pass(ATarget, AOptions);
  return pass.Run(AStop);
}

int64_t ChooseIntervalSeconds(int64_t AFirst, int64_t ALast, int64_t AUnit) {
  AUnit = std::max<int64_t>(1, AUnit);
  const auto intervals = [&](int64_t AWidth) { return FloorDiv(ALast, AWidth) - FloorDiv(AFirst, AWidth) + 1; };
  int64_t best = 0;
  double bestDistance = 0;
  for (const int64_t width : kRoundIntervalSeconds) {
    if (width % AUnit != 0 || intervals(width) > kMaxIntervals) continue;
    const double distance = std::fabs(std::log(static_cast<double>(intervals(width)) / kWantedIntervals));
    if (best == 0 || distance < bestDistance) {
      best = width;
      bestDistance = distance;
    }
  }
  if (best != 0) return best;
  // Times centuries apart, or a unit no round width is a multiple of: the unit's smallest
  // multiple that fits.
  int64_t width = AUnit * std::max<int64_t>(1, (ALast - AFirst) / (AUnit * (kMaxIntervals - 2)));
  while (intervals(width) > kMaxIntervals) width += AUnit;
  return width;
}

std::optional<int64_t> ParseIntervalText(std::string_view AText) {
  size_t digits = 0;
  int64_t value = 0;
  while (digits < AText.size() && digits < 6 && AText[digits] >= '0' && AText[digits] <= '9')
    value = value * 10 + (AText[digits++] - '0');
  if (digits == 0) return std::nullopt;
  const std::string_view unit = AText.substr(digits);
  int64_t scale = 0;
  if (unit.empty() || unit == "s") {
    scale = 1;
  } else if (unit == "m" || unit == "min") {
    scale = 60;
  } else if (unit == "h") {
    scale = 3600;
  } else if (unit == "d") {
    scale = 86400;
  } else {
    return std::nullopt;
  }
  const int64_t seconds = value * scale;
  if (seconds <= 0 || seconds > 86400) return std::nullopt;
  return seconds;
}

std::string IntervalText(int64_t ASeconds) {
  if (ASeconds > 0 && ASeconds % 86400 == 0) return std::to_string(ASeconds / 86400) + "d";
  if (ASeconds > 0 && ASeconds % 3600 == 0) return std::to_string(ASeconds / 3600) + "h";
  if (ASeconds > 0 && ASeconds % 60 == 0) return std::to_string(ASeconds / 60) + "m";
  return std::to_string(ASeconds) + "s";
}

}  // namespace velloran
