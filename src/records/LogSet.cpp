// TData's sets of logs: opening several files as one, ordering them, and appending a newer
// file of the same server.
#include <algorithm>
#include <map>
#include <set>

#include "FileHelpers.h"
#include "LogData.h"
#include "PlatformFile.h"

namespace velloran {

namespace {

// How many lines at either end of a file are looked at for its server and its time span.
constexpr int64_t kProbeLines = 1000;

std::string BaseName(const std::string& APath) {
  const size_t slash = APath.find_last_of("/\\");
  return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

}  // namespace

std::unique_ptr<TrdlLogMonitor> TData::NewMonitor() const {
  auto monitor = std::make_unique<TrdlLogMonitor>();
  monitor->SetOptions(FLogMonitor->Options());
  monitor->SetUseFileIndex(FLogMonitor->UseFileIndex());
  monitor->SetIndexDataFolder(FLogMonitor->IndexDataFolder());
  monitor->SetIndexClearOnStart(FLogMonitor->IndexClearOnStart());
  return monitor;
}

std::string_view TData::PartLine(const TPart& APart, int64_t ALine) const {
  return APart.Monitor->GetView(static_cast<int>(ALine));
}

// Indexes one file of a set; progress counts the set's bytes. False when cancelled.
bool TData::WalkPart(TPart& APart, int64_t ADoneBytes, int64_t ATotalBytes) {
  const int64_t size = std::max<int64_t>(0, FileSizeOf(APart.Path));
  bool cancelled = false;
  APart.Monitor->SetOnProgress([&](void*, int APercents, bool& ACancel) {
    if (!FOnProgress) return;
    const int64_t done = ADoneBytes + size * APercents / 100;
    FOnProgress(this, ATotalBytes > 0 ? static_cast<int>(done * 100 / ATotalBytes) : 100, ACancel);
    cancelled = cancelled || ACancel;
  });
  try {
    APart.Monitor->SetFileName(APart.Path);
    APart.Monitor->SetActive(true);
  } catch (...) {
    APart.Monitor->SetOnProgress(nullptr);
    throw;
  }
  APart.Monitor->SetOnProgress(nullptr);
  return !cancelled;
}

bool TData::PartHoldsEvents(const TPart& APart) {
  TrdlDataRow row;
  const int64_t lines = std::min<int64_t>(kProbeLines, APart.Monitor->Active() ? APart.Monitor->Count() : 0);
  for (int64_t i = 0; i < lines; ++i) {
    try {
      ParseRaw(PartLine(APart, i), row);
      if (row.Count() > 0) return true;
    } catch (const ErdlLogMonitorError&) {  // NOLINT(bugprone-empty-catch): an unreadable line is no event
    }
  }
  return false;
}

// The server a file names in its first records, and the times of its first and last records.
void TData::NoteTimesAndServer(TPart& APart) {
  const int64_t count = APart.Monitor->Active() ? APart.Monitor->Count() : 0;
  const auto probe = [&](int64_t ALine, auto&& AUse) {
    try {
      AUse(PartLine(APart, ALine));
    } catch (const ErdlLogMonitorError&) {  // NOLINT(bugprone-empty-catch): an unreadable line tells nothing
    }
  };
  for (int64_t i = 0; i < std::min(count, kProbeLines) && APart.Server.empty(); ++i)
    probe(i, [&](std::string_view ALine) {
      std::string decoded;
      APart.Server = RawFieldText(ALine, "Computer-Name", decoded);
    });
  const auto zoned = [&](std::optional<TTimePoint> ATime) {
    if (ATime && APart.Zone) ATime = APart.Zone->ToUtc(*ATime);
    return ATime;
  };
  for (int64_t i = 0; i < std::min(count, kProbeLines) && !APart.FirstTime; ++i)
    probe(i, [&](std::string_view ALine) { APart.FirstTime = zoned(TimestampOfLine(ALine)); });
  for (int64_t i = count - 1; i >= std::max<int64_t>(0, count - kProbeLines) && !APart.LastTime; --i)
    probe(i, [&](std::string_view ALine) { APart.LastTime = zoned(TimestampOfLine(ALine)); });
}

// Files read one after another are one server's. Merged, files of one server share a group,
// and a file that names no server is a group of its own.
void TData::GroupServers() {
  std::map<std::string, int> groups;
  int next = 0;
  for (TPart& part : FParts) {
    if (!FOrder.IsMerged()) {
      part.ServerGroup = 0;
    } else if (part.Server.empty()) {
      part.ServerGroup = next++;
      continue;
    }
    const auto [it, added] = groups.emplace(part.Server, next);
    if (added) ++next;
    part.ServerGroup = it->second;
  }
}

void TData::OpenSet(const std::vector<std::string>& AFileNames, const TLogSetOptions& AOptions) {
  if (AFileNames.size() == 1 && AOptions.Zones.empty()) {
    Open(AFileNames.front());
    return;
  }
  std::vector<std::string> notices;
  std::vector<TPart> parts;
  for (const std::string& name : AFileNames) {
    const bool twice = std::any_of(parts.begin(), parts.end(), [&](const TPart& A) { return platform::SameFile(A.Path, name); });
    if (twice) {
      notices.push_back(BaseName(name) + " is listed more than once; it is read once");
      continue;
    }
    TPart part;
    part.Path = name;
    for (const auto& [file, zone] : AOptions.Zones) {
      if (file != name && BaseName(file) != BaseName(name) && !platform::SameFile(file, name)) continue;
      part.Zone = TTimeZone::Parse(zone);
      if (!part.Zone) throw ELogSetError("Unknown time zone \"" + zone + "\" for " + file);
    }
    parts.push_back(std::move(part));
  }
  int64_t total = 0;
  for (const TPart& part : parts) total += std::max<int64_t>(0, FileSizeOf(part.Path));

  // Walk every file; what cannot be read is skipped with a notice naming it.
  TPart fallback = std::move(FParts.back());
  fallback.Monitor->SetActive(false);
  fallback.Path.clear();
  FParts.clear();
  FOrder = TLogSetOrder();
  FNotices.clear();
  FFileName = parts.empty() ? std::string() : parts.front().Path;
  std::string firstError;
  int64_t done = 0;
  // The caller's monitor: its settings serve every file, and it stays when nothing opens.
  TrdlLogMonitor* configured = fallback.Monitor.get();
  for (TPart& part : parts) {
    FLogMonitor = configured;  // NewMonitor copies the caller's settings from it
    part.Monitor = NewMonitor();
    const int64_t size = std::max<int64_t>(0, FileSizeOf(part.Path));
    std::string error;
    try {
      if (!WalkPart(part, done, total)) {
        FParts.clear();
        FParts.push_back(std::move(fallback));
        FLogMonitor = FParts.back().Monitor.get();
        FRows.Refresh();
        return;
      }
      if (!part.Monitor->Active() && !part.Monitor->LastErrorText().empty()) error = part.Monitor->LastErrorText();
    } catch (const ErdlLogMonitorError& AError) {
      error = AError.what();
    }
    done += size;
    if (error.empty() && part.Monitor->Active() && part.Monitor->Count() > 0 && !PartHoldsEvents(part))
      error = BaseName(part.Path) + " holds no accounting events";
    if (!error.empty()) {
      if (firstError.empty()) firstError = error;
      notices.push_back("Skipped " + BaseName(part.Path) + ": " + error);
      continue;
    }
    NoteTimesAndServer(part);
    FParts.push_back(std::move(part));
  }
  if (FParts.empty()) {
    FParts.push_back(std::move(fallback));
    FLogMonitor = FParts.back().Monitor.get();
    FRows.Refresh();
    throw ErdlLogMonitorError(firstError.empty() ? "No log to open" : firstError);
  }
  FNotices = std::move(notices);
  OrderParts(AOptions.Merge);
  GroupServers();
  FLogMonitor = FParts.back().Monitor.get();
  FFileName = FParts.front().Path;
  FRows.Refresh();
}

void TData::OrderParts(TLogSetMerge AMerge) {
  // Files in the order of their first records' times, by name where that does not decide.
  // Files without a time follow, by name.
  std::stable_sort(FParts.begin(), FParts.end(), [](const TPart& A, const TPart& B) { return A.Path < B.Path; });
  std::stable_sort(FParts.begin(), FParts.end(), [](const TPart& A, const TPart& B) {
    if (A.FirstTime.has_value() != B.FirstTime.has_value()) return A.FirstTime.has_value();
    return A.FirstTime && *A.FirstTime < *B.FirstTime;
  });
  bool byTime = AMerge == TLogSetMerge::lsmTime;
  const bool servers = std::any_of(FParts.begin(), FParts.end(), [&](const TPart& A) {
    return !A.Server.empty() && !FParts.front().Server.empty() && A.Server != FParts.front().Server;
  });
  if (AMerge == TLogSetMerge::lsmAuto && servers) byTime = true;
  if (AMerge == TLogSetMerge::lsmAuto && !servers) {
    for (size_t i = 0; i + 1 < FParts.size() && !byTime; ++i) {
      const TPart& a = FParts[i];
      const TPart& b = FParts[i + 1];
      if (a.LastTime && b.FirstTime && *a.LastTime > *b.FirstTime) {
        byTime = true;
        FNotices.push_back(BaseName(a.Path) + " and " + BaseName(b.Path) + " overlap in time: their records are merged by time");
      }
    }
  }
  if (!byTime) {
    std::vector<int64_t> counts;
    for (const TPart& part : FParts) counts.push_back(part.Monitor->Active() ? part.Monitor->Count() : 0);
    FOrder = TLogSetOrder::Concatenated(counts);
    return;
  }
  MergeByTime();
}

// One pass over every file's Timestamps, each file read in order.
void TData::MergeByTime() {
  std::vector<int64_t> counts;
  for (const TPart& part : FParts) counts.push_back(part.Monitor->Active() ? part.Monitor->Count() : 0);
  // A record without a time keeps its place after the record before it in its file (the
  // first ones take the file's first time); a file without any follows every other.
  std::vector<int64_t> last(FParts.size());
  std::vector<std::string> timeless;
  for (size_t i = 0; i < FParts.size(); ++i) {
    last[i] = FParts[i].FirstTime ? *FParts[i].FirstTime : INT64_MAX;
    if (!FParts[i].FirstTime && counts[i] > 0) timeless.push_back(BaseName(FParts[i].Path));
  }
  const auto keyOf = [&](int APart, int64_t ALine) {
    const TPart& part = FParts[static_cast<size_t>(APart)];
    int64_t& key = last[static_cast<size_t>(APart)];
    if (key == INT64_MAX) return key;
    try {
      if (auto time = TimestampOfLine(PartLine(part, ALine))) key = part.Zone ? part.Zone->ToUtc(*time) : *time;
    } catch (const ErdlLogMonitorError&) {  // NOLINT(bugprone-empty-catch): an unreadable line keeps its place
    }
    return key;
  };
  TLogSetOrder::Merged(counts, keyOf, FOrder);
  for (const std::string& name : timeless) FNotices.push_back(name + " holds no Timestamp: its records follow the others");
  std::set<std::string> servers;
  bool unstated = false;
  for (const TPart& part : FParts) {
    servers.insert(part.Server);
    unstated = unstated || !part.Zone.has_value();
  }
  if (servers.size() > 1 && unstated)
    FNotices.push_back("Times of different servers are merged as they stand: no time zone is stated for some of the logs");
}

bool TData::AppendFile(const std::string& AFileName) {
  if (FOrder.IsMerged()) return false;
  TPart part;
  part.Path = AFileName;
  part.Monitor = NewMonitor();
  if (!WalkPart(part, 0, std::max<int64_t>(1, FileSizeOf(AFileName)))) return false;
  if (!part.Monitor->Active() && !part.Monitor->LastErrorText().empty()) throw ErdlLogMonitorError(part.Monitor->LastErrorText());
  NoteTimesAndServer(part);
  std::vector<int64_t> counts;
  for (const TPart& existing : FParts) counts.push_back(existing.Monitor->Active() ? existing.Monitor->Count() : 0);
  counts.push_back(part.Monitor->Active() ? part.Monitor->Count() : 0);
  FParts.push_back(std::move(part));
  FOrder = TLogSetOrder::Concatenated(counts);
  GroupServers();
  FLogMonitor = FParts.back().Monitor.get();
  FRows.Refresh();
  return true;
}

}  // namespace velloran
