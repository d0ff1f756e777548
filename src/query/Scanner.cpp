#include "Scanner.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include "CodeNames.h"
#include "Exchange.h"
#include "LiteralSearch.h"
#include "LogData.h"
#include "PlatformFile.h"
#include "PlatformMapping.h"
#include "PlatformSystem.h"
#include "PlatformText.h"

namespace velloran {

namespace {

constexpr int64_t kStretchBytes = int64_t{16} << 20;  // a worker's window
constexpr size_t kSliceBytes = size_t{256} << 10;     // searched for every needle while in cache
constexpr int64_t kMaxGroupRead = int64_t{512} << 20;

// Records of one log read by number with pread, a group of kGroupRecords lines at a time:
// what the exchange of a candidate needs beyond the worker's window.
class TGroupReader : public TRecordSource {
 public:
  TGroupReader(const TScanTarget& ATarget, TData& AParser) : FTarget(ATarget), FParser(AParser) {}
  bool Open() { return FFile.Open(FTarget.Path); }
  int64_t RecordCount() const override { return FTarget.Records; }
  std::string_view RawRecord(int64_t AIndex) override {
    // Before the target's first group lies nothing a scan of its records may reach.
    if (AIndex < FTarget.BaseRecord) return {};
    const TGroup& group = GroupOf(AIndex / TScanTarget::kGroupRecords);
    const auto& span = group.Lines[static_cast<size_t>(AIndex - group.First)];
    if (static_cast<int64_t>(span.second - span.first) > TrdlLogMonitor::kMaxLineLength)
      throw ErdlLogMonitorError("line too long to read in " + FTarget.Path);
    return std::string_view(group.Bytes).substr(span.first, span.second - span.first);
  }
  // The records in [AFirst, ALast] whose line holds AFinder's literal or is a hex line, in
  // order: one search per group's bytes instead of one per line.
  template <typename TOnRecord>
  bool ForEachHolding(int64_t AFirst, int64_t ALast, const TLiteralFinder& AFinder, const TOnRecord& AOnRecord) {
    for (int64_t record = AFirst; record <= ALast;) {
      const TGroup& group = GroupOf(record / TScanTarget::kGroupRecords);
      const int64_t groupLast = std::min(ALast, group.First + static_cast<int64_t>(group.Lines.size()) - 1);
      const auto* bytes = reinterpret_cast<const uint8_t*>(group.Bytes.data());
      const size_t end = group.Lines[static_cast<size_t>(groupLast - group.First)].second;
      size_t hit = AFinder.Find(bytes, end, group.Lines[static_cast<size_t>(record - group.First)].first);
      for (; record <= groupLast; ++record) {
        const auto& line = group.Lines[static_cast<size_t>(record - group.First)];
        while (hit < line.first) hit = AFinder.Find(bytes, end, hit + 1);
        const bool holds =
            hit < line.second || TData::IsHexLine(std::string_view(group.Bytes).substr(line.first, line.second - line.first));
        if (holds && !AOnRecord(record)) return false;
      }
    }
    return true;
  }
  bool ParseRecord(int64_t AIndex, TrdlDataRow& ARow) override {
    if (AIndex < 0 || AIndex >= FTarget.Records) return false;
    FParser.ParseRaw(RawRecord(AIndex), ARow);
    return true;
  }

 private:
  struct TGroup {
    int64_t Index = -1;
    int64_t First = 0;
    std::string Bytes;
    std::vector<std::pair<size_t, size_t>> Lines;
  };

  const TGroup& GroupOf(int64_t AGroup) {
    for (TGroup& group : FGroups) {
      if (group.Index == AGroup) return group;
    }
    TGroup& group = FGroups[FNextSlot];
    FNextSlot = (FNextSlot + 1) % FGroups.size();
    group.Index = -1;
    const auto groups = static_cast<int64_t>(FTarget.GroupOffsets.size());
    const int64_t slot = AGroup - FTarget.BaseRecord / TScanTarget::kGroupRecords;
    const int64_t begin = FTarget.GroupOffsets[static_cast<size_t>(slot)];
    const int64_t end = slot + 1 < groups ? FTarget.GroupOffsets[static_cast<size_t>(slot + 1)] : FTarget.EndOffset;
    if (end - begin > kMaxGroupRead) throw ErdlLogMonitorError("lines too long to read in " + FTarget.Path);
    group.Bytes.resize(static_cast<size_t>(end - begin));
    const int64_t read = FFile.ReadAt(begin, group.Bytes.data(), group.Bytes.size());
    if (read < 0)
      throw ErdlLogMonitorError("cannot read " + FTarget.Path + ": " + platform::SystemErrorText(platform::LastSystemError()));
    if (read < end - begin) throw ErdlLogMonitorShrank(FTarget.Path + " shrank while it was being searched");
    group.First = AGroup * TScanTarget::kGroupRecords;
    const int64_t last = std::min(FTarget.Records, group.First + TScanTarget::kGroupRecords);
    group.Lines.clear();
    const auto* bytes = reinterpret_cast<const uint8_t*>(group.Bytes.data());
    size_t at = 0;
    for (int64_t record = group.First; record < last; ++record) {
      const TrdlLineSpan line = LineSpanAt(bytes, group.Bytes.size(), at, FTarget.Break);
      group.Lines.emplace_back(line.Begin, line.End);
      at = line.Next;
    }
    group.Index = AGroup;
    return group;
  }

  const TScanTarget& FTarget;
  TData& FParser;
  platform::TReadOnlyFile FFile;
  std::vector<TGroup> FGroups = std::vector<TGroup>(16);
  size_t FNextSlot = 0;
};

// A hit of a needle in a worker's window, and then the line it lies in.
struct THit {
  size_t At = 0;
  int Anchor = 0;  // index into the anchors; kHexStart, kReference for the odd-line needles
  int64_t Record = -1;
  size_t LineBegin = 0;
  size_t LineEnd = 0;
};
constexpr int kHexStart = -1;
constexpr int kReference = -2;

}  // namespace

// ---------------------------------------------------------------------------------------------

namespace {

int64_t GroupStart(int64_t ARecord) {
  return std::max<int64_t>(0, ARecord) / TScanTarget::kGroupRecords * TScanTarget::kGroupRecords;
}

}  // namespace

int64_t TScanTarget::ScanStartRecord() const {
  return FirstRecord == 0 ? 0 : GroupStart(FirstRecord - TExchangeFinder::kDefaultWindow);
}

namespace {

// The records [AFirstRecord, ARecords) of one log's line store.
TScanTarget FileTarget(TrdlLogMonitor& AMonitor, int64_t ARecords, int64_t AFirstRecord) {
  TScanTarget target;
  target.Path = AMonitor.FileName();
  target.Break = AMonitor.LineBreak();
  target.Records = std::clamp<int64_t>(ARecords, 0, AMonitor.Active() ? AMonitor.Count() : 0);
  target.FirstRecord = std::clamp<int64_t>(AFirstRecord, 0, target.Records);
  target.BaseRecord = target.FirstRecord == 0 ? 0 : GroupStart(target.ScanStartRecord() - TExchangeFinder::kDefaultWindow);
  for (int64_t record = target.BaseRecord; record < target.Records; record += TScanTarget::kGroupRecords)
    target.GroupOffsets.push_back(AMonitor.Item(static_cast<int>(record)).Offset);
  target.EndOffset = AMonitor.FileSize();
  return target;
}

}  // namespace

TScanTarget TScanTarget::Of(TData& AData, int64_t ARecords, int64_t AFirstRecord) {
  const int64_t records = ARecords < 0 ? AData.Count() : std::min(ARecords, AData.Count());
  if (!AData.IsSet()) return FileTarget(AData.LogMonitor(), records, AFirstRecord);
  TScanTarget target;
  target.Path = AData.FileName();
  target.Records = records;
  target.FirstRecord = std::clamp<int64_t>(AFirstRecord, 0, records);
  const TLogSetOrder& order = AData.Order();
  target.Order = std::make_shared<const TLogSetOrder>(order);
  for (int file = 0; file < AData.FileCount(); ++file) {
    TrdlLogMonitor& monitor = AData.MonitorOf(file);
    const int64_t fileRecords = order.LocalBefore(file, records);
    target.Parts.push_back(FileTarget(monitor, fileRecords, order.LocalBefore(file, target.FirstRecord)));
    target.EndOffset += target.Parts.back().EndOffset;
  }
  return target;
}

struct TScanner::TState {
  std::shared_ptr<const TCompiledQuery> Query;
  TScanTarget Target;
  TScanCallbacks Callbacks;
  unsigned Threads = 1;
  std::vector<TLiteralFinder> Finders;  // one per anchor
  std::optional<TLiteralFinder> HexFinder, ReferenceFinder;

  using TStretch = TScanStretch;
  std::vector<TStretch> Stretches;

  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<std::vector<uint32_t>> Results;  // per stretch, unsorted, may reach later stretches
  std::vector<char> Done;
  std::string Error;
  std::atomic<size_t> NextStretch{0};
  std::vector<std::string> SeenFields;  // columns the workers met

  void Plan();
  void Work(std::stop_token AStop);
  void Deliver(std::stop_token AStop);
  // The empty query: every record, without reading the log.
  void DeliverEveryRecord(const std::stop_token& AStop);
  // A set: each file's scan in turn, its matches numbered as the set numbers them.
  void DeliverParts(const std::stop_token& AStop);
  // The query's fields that no worker met and no line holds.
  std::vector<std::string> MissingFields(const std::stop_token& AStop) const;
};

namespace {

// What one worker keeps between stretches.
struct TWorker {
  TData Parser;
  TrdlDataRow Row, RequestRow;
  std::string Line, Value;
  std::optional<TGroupReader> Reader;
  std::optional<TExchangeFinder> Finder;
};

// Copies [AFrom, AFrom + ALength) of a mapped window into AOut under the guard.
bool CopyGuarded(const uint8_t* AFrom, size_t ALength, std::string& AOut) {
  AOut.resize(ALength);
  char* const to = AOut.data();
  auto copy = [&] { std::memcpy(to, AFrom, ALength); };
  return platform::RunGuarded(copy);
}

}  // namespace

void TScanner::TState::Plan() {
  for (const TQueryAnchor& anchor : Query->Anchors()) Finders.emplace_back(anchor.Needle);
  HexFinder.emplace("0x");
  if (Query->AnchorsSeeValues()) ReferenceFinder.emplace("&#");
  Stretches = PlanStretches(Target);
  Results.resize(Stretches.size());
  Done.assign(Stretches.size(), 0);
}

std::vector<TScanStretch> PlanStretches(const TScanTarget& ATarget) {
  std::vector<TScanStretch> stretches;
  const auto groups = static_cast<int64_t>(ATarget.GroupOffsets.size());
  // group: a slot of GroupOffsets, counted from BaseRecord.
  int64_t group = (ATarget.ScanStartRecord() - ATarget.BaseRecord) / TScanTarget::kGroupRecords;
  while (group < groups) {
    TScanStretch stretch;
    stretch.FirstRecord = ATarget.BaseRecord + group * TScanTarget::kGroupRecords;
    stretch.Begin = ATarget.GroupOffsets[static_cast<size_t>(group)];
    int64_t next = group + 1;
    while (next < groups && ATarget.GroupOffsets[static_cast<size_t>(next)] - stretch.Begin < ATarget.WindowBytes) ++next;
    stretch.EndRecord = std::min(ATarget.Records, ATarget.BaseRecord + next * TScanTarget::kGroupRecords);
    stretch.End = next < groups ? ATarget.GroupOffsets[static_cast<size_t>(next)] : ATarget.EndOffset;
    stretches.push_back(stretch);
    group = next;
  }
  return stretches;
}

namespace {

class TStretchScan {
 public:
  TStretchScan(TScanner::TState& AState, TWorker& AWorker, const uint8_t* ABytes, size_t ASize, int64_t AFirstRecord,
               int64_t AEndRecord, int64_t ABaseOffset, std::vector<uint32_t>& AOut)
      : FState(AState),
        FWorker(AWorker),
        FBytes(ABytes),
        FSize(ASize),
        FFirst(AFirstRecord),
        FEnd(AEndRecord),
        FBase(ABaseOffset),
        FOut(AOut),
        FRecord(AFirstRecord),
        FBreak(AState.Target.Break) {}

  // False when the window could not be read (the file shrank) or the scan was stopped.
  bool Run(const std::stop_token& AStop);

 private:
  bool RunAnchored(const std::stop_token& AStop);
  bool RunEveryLine(const std::stop_token& AStop);
  // Moves the line cursor to the line that holds AAt; false beyond the stretch's records.
  bool LocateLine(size_t AAt, THit& AHit);
  bool CandidateFromHit(const THit& AHit, bool& ARead);
  bool TestLine(int64_t ARecord, size_t ABegin, size_t AEnd);
  void Evaluate(int64_t ARecord, bool AJoin);
  void JoinReplies(int64_t ARequest);

  TScanner::TState& FState;
  TWorker& FWorker;
  const uint8_t* FBytes;
  size_t FSize;
  int64_t FFirst, FEnd;
  int64_t FBase;
  std::vector<uint32_t>& FOut;
  int64_t FRecord;  // the line cursor: record FRecord begins at FLineAt
  size_t FLineAt = 0;
  TrdlLineBreak FBreak;
};

bool TStretchScan::Run(const std::stop_token& AStop) {
  return FState.Query->HasAnchors() ? RunAnchored(AStop) : RunEveryLine(AStop);
}

bool TStretchScan::LocateLine(size_t AAt, THit& AHit) {
  // Jump to the group that holds AAt when it lies past the cursor's group.
  const auto& offsets = FState.Target.GroupOffsets;
  const int64_t base = FState.Target.BaseRecord;
  const auto group = static_cast<size_t>((FRecord - base) / TScanTarget::kGroupRecords);
  const int64_t at = FBase + static_cast<int64_t>(AAt);
  if (group + 1 < offsets.size() && offsets[group + 1] <= at) {
    const auto above = std::upper_bound(offsets.begin(), offsets.end(), at);
    const auto target = static_cast<size_t>(above - offsets.begin()) - 1;
    FRecord = base + static_cast<int64_t>(target) * TScanTarget::kGroupRecords;
    FLineAt = static_cast<size_t>(offsets[target] - FBase);
  }
  while (FRecord < FEnd) {
    const TrdlLineSpan line = LineSpanAt(FBytes, FSize, FLineAt, FBreak);
    if (AAt < line.Next || line.Next >= FSize) {
      AHit.Record = FRecord;
      AHit.LineBegin = line.Begin;
      AHit.LineEnd = line.End;
      return AAt < line.Next;
    }
    ++FRecord;
    FLineAt = line.Next;
  }
  return false;
}

bool TStretchScan::RunAnchored(const std::stop_token& AStop) {
  std::vector<THit> hits;
  int64_t lastCandidate = -1;
  for (size_t slice = 0; slice < FSize; slice += kSliceBytes) {
    if (AStop.stop_requested()) return false;
    const size_t sliceEnd = std::min(FSize, slice + kSliceBytes);
    hits.clear();
    auto search = [&] {
      const auto find = [&](const TLiteralFinder& AFinder, int AAnchor) {
        const size_t reach = std::min(FSize, sliceEnd + AFinder.Needle().size() - 1);
        for (size_t at = AFinder.Find(FBytes, reach, slice); at < sliceEnd; at = AFinder.Find(FBytes, reach, at + 1))
          hits.push_back(THit{at, AAnchor});
      };
      for (size_t i = 0; i < FState.Finders.size(); ++i) find(FState.Finders[i], static_cast<int>(i));
      find(*FState.HexFinder, kHexStart);
      if (FState.ReferenceFinder) find(*FState.ReferenceFinder, kReference);
    };
    if (!platform::RunGuarded(search)) return false;
    if (hits.empty()) continue;
    std::sort(hits.begin(), hits.end(), [](const THit& A, const THit& B) { return A.At < B.At; });
    bool beyond = false;
    auto locate = [&] {
      for (THit& hit : hits) {
        if (!LocateLine(hit.At, hit)) {
          hit.Record = -1;
          beyond = beyond || FRecord >= FEnd;
        }
      }
    };
    if (!platform::RunGuarded(locate)) return false;
    for (const THit& hit : hits) {
      if (hit.Record < 0 || hit.Record == lastCandidate) continue;
      bool read = true;
      const bool candidate = CandidateFromHit(hit, read);
      if (!read) return false;
      if (!candidate) continue;
      lastCandidate = hit.Record;
      if (!TestLine(hit.Record, hit.LineBegin, hit.LineEnd)) return false;
    }
    if (beyond) break;
  }
  return true;
}

bool TStretchScan::CandidateFromHit(const THit& AHit, bool& ARead) {
  ARead = true;
  if (AHit.Anchor == kReference) return true;
  const uint8_t* line = FBytes + AHit.LineBegin;
  const size_t length = AHit.LineEnd - AHit.LineBegin;
  if (AHit.Anchor == kHexStart) {
    bool hex = false;
    auto check = [&] { hex = TData::IsHexLine(std::string_view(reinterpret_cast<const char*>(line), length)); };
    ARead = platform::RunGuarded(check);
    return hex;
  }
  const TQueryAnchor& anchor = FState.Query->Anchors()[static_cast<size_t>(AHit.Anchor)];
  TCompiledQuery::TAnchorPlace place = TCompiledQuery::TAnchorPlace::apNo;
  size_t valueBegin = 0, valueEnd = 0;
  auto locate = [&] {
    place = FState.Query->PlaceOfAnchor(anchor, std::string_view(reinterpret_cast<const char*>(line), length),
                                        AHit.At - AHit.LineBegin, valueBegin, valueEnd);
  };
  ARead = platform::RunGuarded(locate);
  if (!ARead || place != TCompiledQuery::TAnchorPlace::apValue) return place == TCompiledQuery::TAnchorPlace::apYes;
  ARead = CopyGuarded(line + valueBegin, valueEnd - valueBegin, FWorker.Value);
  return ARead && FState.Query->AnchorValueHolds(anchor, FWorker.Value);
}

bool TStretchScan::RunEveryLine(const std::stop_token& AStop) {
  std::vector<TrdlLineSpan> lines;
  int64_t record = FFirst;
  size_t at = 0;
  while (record < FEnd && at < FSize) {
    if (AStop.stop_requested()) return false;
    lines.clear();
    const size_t until = std::min(FSize, at + kSliceBytes);
    auto walk = [&] {
      while (record + static_cast<int64_t>(lines.size()) < FEnd && at < FSize && (lines.empty() || at < until)) {
        lines.push_back(LineSpanAt(FBytes, FSize, at, FBreak));
        at = lines.back().Next;
      }
    };
    if (!platform::RunGuarded(walk)) return false;
    for (const TrdlLineSpan& line : lines) {
      if (!TestLine(record++, line.Begin, line.End)) return false;
    }
  }
  return true;
}

// Parses the candidate's line and tests it; false when the line could not be read.
bool TStretchScan::TestLine(int64_t ARecord, size_t ABegin, size_t AEnd) {
  if (static_cast<int64_t>(AEnd - ABegin) > TrdlLogMonitor::kMaxLineLength) return true;  // unreadable: never matches
  if (!CopyGuarded(FBytes + ABegin, AEnd - ABegin, FWorker.Line)) return false;
  FWorker.Parser.ParseRaw(FWorker.Line, FWorker.Row);
  Evaluate(ARecord, FState.Query->JoinsReplies());
  return true;
}

// Tests the row in FWorker.Row (record ARecord); with AJoin, a request's replies too.
void TStretchScan::Evaluate(int64_t ARecord, bool AJoin) {
  TWorker& w = FWorker;
  const TRequestRowFn request = [&]() -> const TrdlDataRow* {
    try {
      const int64_t found = w.Finder->RequestOfReply(ARecord, w.Row);
      if (found >= 0 && w.Reader->ParseRecord(found, w.RequestRow)) return &w.RequestRow;
    } catch (const ErdlLogMonitorError&) {  // NOLINT(bugprone-empty-catch): an unreadable request answers for nothing
    }
    return nullptr;
  };
  if (FState.Query->Matches(w.Row, request)) FOut.push_back(static_cast<uint32_t>(ARecord));
  if (AJoin && PacketTypeOf(w.Row) == ptAccessRequest) JoinReplies(ARecord);
}

// The replies after request ARequest that share its Class and server: they take the fields
// they lack from a request, so they may match through it without holding an anchor.
void TStretchScan::JoinReplies(int64_t ARequest) {
  TWorker& w = FWorker;
  const TrdlDataRowItem* klass = w.Row.ItemByName("Class");
  if (klass == nullptr || klass->RawText().empty()) return;
  std::string needle = ">";
  needle.append(klass->RawText()).append(1, '<');
  const std::string klassText = klass->RawText();
  const std::string computer = w.Row.ValueByName("Computer-Name");
  const TLiteralFinder finder(needle);
  const int64_t last = std::min(FState.Target.Records - 1, ARequest + w.Finder->Window());
  try {
    w.Reader->ForEachHolding(ARequest + 1, last, finder, [&](int64_t ARecord) {
      w.Reader->ParseRecord(ARecord, w.Row);
      const TrdlDataRowItem* other = w.Row.ItemByName("Class");
      if (other == nullptr || other->RawText() != klassText || w.Row.ValueByName("Computer-Name") != computer) return true;
      const uint32_t type = PacketTypeOf(w.Row);
      // Replies after the next request of the exchange answer that one.
      if (type == ptAccessRequest) return false;
      if (IsReplyPacketType(type)) Evaluate(ARecord, false);
      return true;
    });
  } catch (const ErdlLogMonitorError&) {  // NOLINT(bugprone-empty-catch): replies past an unreadable line stay unjoined
  }
}

}  // namespace

void TScanner::TState::Work(std::stop_token AStop) {
  TWorker worker;
  worker.Reader.emplace(Target, worker.Parser);
  worker.Finder.emplace(*worker.Reader);
  platform::TMappedFile file;
  std::string error;
  if (!file.Open(Target.Path) || !worker.Reader->Open()) {
    error = "Cannot open " + Target.Path + ": " + platform::SystemErrorText(platform::LastSystemError());
  }
  while (error.empty() && !AStop.stop_requested()) {
    const size_t index = NextStretch.fetch_add(1);
    if (index >= Stretches.size()) break;
    const TStretch& stretch = Stretches[index];
    std::vector<uint32_t> found;
    bool read = true;
    if (stretch.End > stretch.Begin) {
      const uint8_t* bytes = file.Map(stretch.Begin, static_cast<size_t>(stretch.End - stretch.Begin));
      read = bytes != nullptr;
      if (read) {
        TStretchScan scan(*this, worker, bytes, static_cast<size_t>(stretch.End - stretch.Begin), stretch.FirstRecord,
                          stretch.EndRecord, stretch.Begin, found);
        read = scan.Run(AStop) || AStop.stop_requested();
      }
      file.Unmap();
    }
    if (!read && !AStop.stop_requested()) {
      const int64_t size = file.Size();
      error = size >= 0 && size < stretch.End
                  ? Target.Path + " shrank while it was being searched"
                  : "Cannot read " + Target.Path + ": " + platform::SystemErrorText(platform::LastSystemError());
    }
    std::lock_guard lock(Lock);
    if (error.empty() && !AStop.stop_requested()) {
      Results[index] = std::move(found);
      Done[index] = 1;
    }
    Changed.notify_all();
  }
  std::lock_guard lock(Lock);
  if (!error.empty() && Error.empty()) Error = error;
  for (int i = 0; i < worker.Parser.Columns().Count(); ++i)
    SeenFields.push_back(worker.Parser.Columns().Columns(i)->ColumnName());
  Changed.notify_all();
}

namespace {

// Whether some line of the file holds field AField's start tag: for the notice about fields
// that no record has. Lines hidden as hex are not looked into.
bool FileHoldsField(const TScanTarget& ATarget, std::string_view AField, const std::stop_token& AStop) {
  platform::TMappedFile file;
  if (!file.Open(ATarget.Path)) return true;
  std::string tag = "<";
  tag.append(AField);
  const TLiteralFinder finder(tag);
  bool holds = false;
  for (int64_t begin = 0; begin < ATarget.EndOffset && !holds && !AStop.stop_requested(); begin += kStretchBytes) {
    const auto size = static_cast<size_t>(std::min(kStretchBytes + 256, ATarget.EndOffset - begin));
    const uint8_t* bytes = file.Map(begin, size);
    if (bytes == nullptr) return true;
    auto search = [&] {
      for (size_t at = finder.Find(bytes, size, 0); at < size && !holds; at = finder.Find(bytes, size, at + 1)) {
        const size_t after = at + finder.Needle().size();
        holds = after >= size || bytes[after] == ' ' || bytes[after] == '\r' || bytes[after] == '\n';
      }
    };
    if (!platform::RunGuarded(search)) return true;
  }
  return holds;
}

}  // namespace

void TScanner::TState::Deliver(std::stop_token AStop) {
  TScanOutcome outcome;
  const auto progress = [&](int64_t ADone) {
    if (Callbacks.OnProgress) Callbacks.OnProgress(ADone, Target.EndOffset);
  };
  if (Query->MatchesAll()) {
    DeliverEveryRecord(AStop);
    return;
  }
  if (Target.Order) {
    DeliverParts(AStop);
    return;
  }
  Plan();
  std::vector<std::jthread> workers;
  const unsigned count = std::max(1u, std::min<unsigned>(Threads, static_cast<unsigned>(Stretches.size())));
  for (unsigned i = 0; i < count && !Stretches.empty(); ++i)
    workers.emplace_back([this](std::stop_token AWorkerStop) { Work(AWorkerStop); });
  std::stop_callback stopWorkers(AStop, [&workers] {
    for (std::jthread& worker : workers) worker.request_stop();
  });
  // Matches of finished stretches wait here until every earlier stretch is finished too: a
  // request's replies may lie in the next stretch.
  std::vector<uint32_t> pending;
  size_t delivered = 0;
  for (;;) {
    std::vector<uint32_t> ready;
    bool finished = false;
    {
      std::unique_lock lock(Lock);
      Changed.wait(lock, [&] {
        return AStop.stop_requested() || !Error.empty() || (delivered < Done.size() && Done[delivered] != 0) ||
               delivered == Stretches.size();
      });
      if (AStop.stop_requested() || !Error.empty() || delivered == Stretches.size()) {
        finished = true;
      } else {
        while (delivered < Done.size() && Done[delivered] != 0) {
          pending.insert(pending.end(), Results[delivered].begin(), Results[delivered].end());
          std::vector<uint32_t>().swap(Results[delivered]);
          ++delivered;
        }
      }
    }
    if (finished) break;
    std::sort(pending.begin(), pending.end());
    pending.erase(std::unique(pending.begin(), pending.end()), pending.end());
    // What lies before FirstRecord was scanned only for the exchanges of the records after it.
    pending.erase(pending.begin(), std::lower_bound(pending.begin(), pending.end(), static_cast<uint32_t>(Target.FirstRecord)));
    const int64_t bound = delivered < Stretches.size() ? Stretches[delivered].FirstRecord : Target.Records;
    const auto split =
        std::lower_bound(pending.begin(), pending.end(), static_cast<uint32_t>(std::min<int64_t>(bound, UINT32_MAX)));
    ready.assign(pending.begin(), split);
    pending.erase(pending.begin(), split);
    outcome.RecordsScanned = bound;
    outcome.Matches += static_cast<int64_t>(ready.size());
    if (!ready.empty() && Callbacks.OnMatches) Callbacks.OnMatches(std::move(ready));
    progress(delivered < Stretches.size() ? Stretches[delivered].Begin : Target.EndOffset);
  }
  for (std::jthread& worker : workers) worker.request_stop();
  for (std::jthread& worker : workers) worker.join();
  outcome.Cancelled = AStop.stop_requested();
  outcome.Error = Error;
  if (!outcome.Cancelled && outcome.Error.empty() && Target.FirstRecord == 0) outcome.MissingFields = MissingFields(AStop);
  if (Callbacks.OnFinished) Callbacks.OnFinished(outcome);
}

void TScanner::TState::DeliverEveryRecord(const std::stop_token& AStop) {
  TScanOutcome outcome;
  constexpr int64_t kChunk = int64_t{1} << 20;
  for (int64_t first = Target.FirstRecord; first < Target.Records && !AStop.stop_requested(); first += kChunk) {
    std::vector<uint32_t> chunk(static_cast<size_t>(std::min(kChunk, Target.Records - first)));
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint32_t>(first + static_cast<int64_t>(i));
    outcome.Matches += static_cast<int64_t>(chunk.size());
    outcome.RecordsScanned += static_cast<int64_t>(chunk.size());
    if (Callbacks.OnMatches) Callbacks.OnMatches(std::move(chunk));
  }
  if (Callbacks.OnProgress) Callbacks.OnProgress(Target.EndOffset, Target.EndOffset);
  outcome.Cancelled = AStop.stop_requested();
  if (Callbacks.OnFinished) Callbacks.OnFinished(outcome);
}

std::vector<std::string> TScanner::TState::MissingFields(const std::stop_token& AStop) const {
  std::vector<std::string> missing;
  for (const std::string& field : Query->FieldNames()) {
    const bool seen = std::any_of(SeenFields.begin(), SeenFields.end(),
                                  [&](const std::string& A) { return platform::SameTextIgnoringAsciiCase(A, field); });
    if (!seen && !FileHoldsField(Target, field, AStop)) missing.push_back(field);
  }
  return missing;
}

void TScanner::TState::DeliverParts(const std::stop_token& AStop) {
  TScanOutcome outcome;
  std::vector<std::vector<uint32_t>> byFile(Target.Parts.size());
  std::optional<std::vector<std::string>> missing;
  int64_t bytesBefore = 0;
  for (size_t file = 0; file < Target.Parts.size() && !AStop.stop_requested() && outcome.Error.empty(); ++file) {
    const TScanTarget& part = Target.Parts[file];
    if (part.FirstRecord < part.Records) {
      TState scan;
      scan.Query = Query;
      scan.Target = part;
      scan.Threads = Threads;
      const int64_t base = Target.Order->BaseOf(static_cast<int>(file));
      scan.Callbacks.OnMatches = [&](std::vector<uint32_t>&& AMatches) {
        if (Target.Order->IsMerged()) {
          byFile[file].insert(byFile[file].end(), AMatches.begin(), AMatches.end());
          return;
        }
        for (uint32_t& record : AMatches) record = static_cast<uint32_t>(record + base);
        outcome.Matches += static_cast<int64_t>(AMatches.size());
        if (Callbacks.OnMatches) Callbacks.OnMatches(std::move(AMatches));
      };
      scan.Callbacks.OnProgress = [&](int64_t ADone, int64_t) {
        if (Callbacks.OnProgress) Callbacks.OnProgress(bytesBefore + ADone, Target.EndOffset);
      };
      scan.Callbacks.OnFinished = [&](const TScanOutcome& AOutcome) {
        outcome.RecordsScanned += AOutcome.RecordsScanned - part.FirstRecord;
        outcome.Error = AOutcome.Error;
        if (!missing) {
          missing = AOutcome.MissingFields;
        } else {
          std::erase_if(*missing, [&](const std::string& AField) {
            return std::find(AOutcome.MissingFields.begin(), AOutcome.MissingFields.end(), AField) ==
                   AOutcome.MissingFields.end();
          });
        }
      };
      scan.Deliver(AStop);
    }
    bytesBefore += part.EndOffset;
  }
  if (Target.Order->IsMerged() && !AStop.stop_requested() && outcome.Error.empty()) {
    std::vector<uint32_t> matches = Target.Order->ToSet(byFile);
    outcome.Matches = static_cast<int64_t>(matches.size());
    if (!matches.empty() && Callbacks.OnMatches) Callbacks.OnMatches(std::move(matches));
  }
  if (Callbacks.OnProgress) Callbacks.OnProgress(Target.EndOffset, Target.EndOffset);
  outcome.Cancelled = AStop.stop_requested();
  if (!outcome.Cancelled && outcome.Error.empty() && Target.FirstRecord == 0 && missing) outcome.MissingFields = *missing;
  if (Callbacks.OnFinished) Callbacks.OnFinished(outcome);
}

TScanner::TScanner(std::shared_ptr<const TCompiledQuery> AQuery, TScanTarget ATarget, TScanCallbacks ACallbacks,
                   unsigned AThreads)
    : FState(std::make_shared<TState>()) {
  FState->Query = std::move(AQuery);
  FState->Target = std::move(ATarget);
  FState->Callbacks = std::move(ACallbacks);
  FState->Threads = AThreads != 0 ? AThreads : std::max(1u, std::thread::hardware_concurrency());
}

TScanner::~TScanner() {
  Cancel();
  Wait();
}

void TScanner::Start() {
  if (FThread.joinable()) return;
  FThread = std::jthread([state = FState](std::stop_token AStop) { state->Deliver(AStop); });
}

void TScanner::Cancel() {
  if (FThread.joinable()) {
    FThread.request_stop();
    std::lock_guard lock(FState->Lock);
    FState->Changed.notify_all();
  }
}

void TScanner::Wait() {
  if (FThread.joinable()) FThread.join();
}

std::vector<uint32_t> ScanAll(std::shared_ptr<const TCompiledQuery> AQuery, const TScanTarget& ATarget, TScanOutcome& AOutcome,
                              unsigned AThreads) {
  std::vector<uint32_t> matches;
  TScanCallbacks callbacks;
  callbacks.OnMatches = [&](std::vector<uint32_t>&& AChunk) { matches.insert(matches.end(), AChunk.begin(), AChunk.end()); };
  callbacks.OnFinished = [&](const TScanOutcome& AOutcomeNow) { AOutcome = AOutcomeNow; };
  TScanner scanner(std::move(AQuery), ATarget, std::move(callbacks), AThreads);
  scanner.Start();
  scanner.Wait();
  return matches;
}

bool TRecordTest::Matches(int64_t ARecord, const TrdlDataRow& ARow) {
  const TRequestRowFn request = [&]() -> const TrdlDataRow* {
    try {
      const int64_t found = FFinder.RequestOfReply(ARecord, ARow);
      if (found >= 0 && FSource.ParseRecord(found, FRequestRow)) return &FRequestRow;
    } catch (const ErdlLogMonitorError&) {  // NOLINT(bugprone-empty-catch): an unreadable request answers for nothing
    }
    return nullptr;
  };
  return FQuery.Matches(ARow, request);
}

std::vector<uint32_t> MatchEveryRecord(const TCompiledQuery& AQuery, TRecordSource& ASource) {
  std::vector<uint32_t> matches;
  TRecordTest test(AQuery, ASource);
  TrdlDataRow row;
  for (int64_t i = 0; i < ASource.RecordCount(); ++i) {
    try {
      ASource.ParseRecord(i, row);
    } catch (const ErdlLogMonitorError&) {
      continue;  // an unreadable line never matches
    }
    if (test.Matches(i, row)) matches.push_back(static_cast<uint32_t>(i));
  }
  return matches;
}

}  // namespace velloran
