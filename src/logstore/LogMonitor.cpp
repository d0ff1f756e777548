#include "LogMonitor.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <vector>

#include "PlatformText.h"
namespace velloran {

namespace {

constexpr uint8_t kCR = 13;
constexpr uint8_t kLF = 10;
constexpr uint8_t kComma = 44;
constexpr int kLineItemSize = 8;
constexpr int64_t kOffsetMask = (int64_t{1} << 48) - 1;

bool IsBreak(uint8_t AByte) { return AByte == kCR || AByte == kLF; }

// First ABreak byte at or after APtr, or AEnd.
const uint8_t* FindBreakByte(const uint8_t* APtr, const uint8_t* AEnd, uint8_t ABreak) {
  if (APtr >= AEnd) return AEnd;
  const void* found = std::memchr(APtr, ABreak, static_cast<size_t>(AEnd - APtr));
  return found != nullptr ? static_cast<const uint8_t*>(found) : AEnd;
}

// First CR or LF at or after APtr, or AEnd.
const uint8_t* FindBreak(const uint8_t* APtr, const uint8_t* AEnd) {
  while (APtr < AEnd && !IsBreak(*APtr)) ++APtr;
  return APtr;
}

}  // namespace

TrdlLineSpan LineSpanAt(const uint8_t* ABytes, size_t ASize, size_t AFrom, TrdlLineBreak ABreak) {
  const auto breakByte = static_cast<uint8_t>(ABreak);
  const uint8_t* const begin = ABytes + AFrom;
  const uint8_t* const end = ABytes + ASize;
  const uint8_t* last = FindBreakByte(begin, end, breakByte);
  const uint8_t* next = last;
  while (next < end && *next == breakByte) ++next;
  if (next < end && *next == kLF) ++next;
  while (last > begin && IsBreak(last[-1])) --last;
  return {AFrom, static_cast<size_t>(last - ABytes), static_cast<size_t>(next - ABytes)};
}

namespace {

// Half of ASize, rounded past the next multiple of AGranularity.
int64_t ShrunkBlockSize(int64_t ASize, int64_t AGranularity) { return ((ASize / 2 + 1) / AGranularity + 1) * AGranularity; }

}  // namespace

TrdlLineBreak DetectLineBreak(const uint8_t* ABytes, size_t ASize) {
  const bool hasCR = std::memchr(ABytes, kCR, ASize) != nullptr;
  const bool hasLF = std::memchr(ABytes, kLF, ASize) != nullptr;
  return hasLF && !hasCR ? TrdlLineBreak::lbLF : TrdlLineBreak::lbCR;
}

TrdlLineBreak FileLineBreak(platform::TReadOnlyFile& AFile) {
  std::vector<uint8_t> head(kLineBreakProbeSize);
  const int64_t got = AFile.ReadAt(0, head.data(), head.size());
  return got > 0 ? DetectLineBreak(head.data(), static_cast<size_t>(got)) : TrdlLineBreak::lbCR;
}

uint32_t FileLastLineCRC(const std::string& APath, bool ASkipEmptyLines) {
  constexpr int64_t kTail = 8192;
  platform::TReadOnlyFile file;
  if (!file.Open(APath)) return 0;
  const int64_t size = FileSizeOf(APath);
  if (size <= 0) return 0;
  const int64_t count = std::min(size, kTail);
  std::vector<uint8_t> tail(static_cast<size_t>(count));
  if (file.ReadAt(size - count, tail.data(), tail.size()) != count) return 0;
  // A tail that is the whole file is its head too.
  const auto breakByte = static_cast<uint8_t>(
      count == size ? DetectLineBreak(tail.data(), std::min(tail.size(), kLineBreakProbeSize)) : FileLineBreak(file));
  const uint8_t* const begin = tail.data();
  const uint8_t* const end = begin + tail.size();
  // The lines of the tail as the walk splits them: a line ends at a run of break bytes (CRs,
  // or LFs in a log without CRs), one LF after the run belongs to the break. In a tail that
  // starts inside the file, the first line known to start is the one after the first break;
  // without one the final line began earlier.
  const auto lineEnd = [end, breakByte](const uint8_t* AStart) {
    const uint8_t* q = AStart;
    while (q < end && *q != breakByte) ++q;
    while (q < end && *q == breakByte) ++q;
    return q;
  };
  const auto afterBreak = [end](const uint8_t* AAt) { return AAt < end && *AAt == kLF ? AAt + 1 : AAt; };
  const uint8_t* start = begin;
  if (count < size) {
    const uint8_t* known = afterBreak(lineEnd(begin));
    if (known < end) start = known;
  }
  for (;;) {
    const uint8_t* q = lineEnd(start);
    const uint8_t* next = afterBreak(q);
    if (next >= end) {
      const uint8_t* last = q;
      while (last > start && IsBreak(last[-1])) --last;
      if (ASkipEmptyLines && last == start) return 0;
      return CalcCRC32(start, static_cast<size_t>(last - start));
    }
    start = next;
  }
}

int PercentOf(int64_t APart, int64_t AWhole) {
  // A double quotient would make 109/200 a hair above or below 54.5.
  const int64_t scaled = APart * 100;
  int64_t quotient = scaled / AWhole;
  const int64_t twiceRemainder = (scaled % AWhole) * 2;
  if (twiceRemainder > AWhole || (twiceRemainder == AWhole && quotient % 2 == 1)) ++quotient;
  return static_cast<int>(quotient);
}

uint64_t TrdlLineItem::Encode(int64_t AOffset, int ALength) {
  // Lengths that do not fit the signed 16-bit field are stored as "not recorded".
  const int length = (ALength < 0 || ALength > 32767) ? kUnknownLength : ALength;
  return (static_cast<uint64_t>(AOffset) & static_cast<uint64_t>(kOffsetMask)) |
         (static_cast<uint64_t>(static_cast<uint16_t>(static_cast<int16_t>(length))) << 48);
}

TrdlLineItem TrdlLineItem::Decode(uint64_t AItem) {
  TrdlLineItem item;
  item.Offset = static_cast<int64_t>(AItem & static_cast<uint64_t>(kOffsetMask));
  item.Length = static_cast<int16_t>(static_cast<uint16_t>(AItem >> 48));
  return item;
}

TrdlLogMonitor::TrdlLogMonitor() = default;

TrdlLogMonitor::~TrdlLogMonitor() {
  try {
    SetActive(false);
  } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor must not throw; nothing is left to save
  }
}

// --- lifecycle ---------------------------------------------------------------------------

void TrdlLogMonitor::SetFileName(const std::string& AValue) {
  if (AValue == FFileName) return;
  const bool wasActive = FActive;
  SetActive(false);
  FFileName = AValue;
  SetActive(wasActive);
}

void TrdlLogMonitor::SetActive(bool AValue) {
  if (AValue == FActive) return;
  if (AValue) {
    Activate();
  } else {
    Deactivate();
  }
}

std::unique_ptr<TrclDataHolder> TrdlLogMonitor::CreateIndexStore() {
  if (!FUseFileIndex) return std::make_unique<TrclMemoryDataHolder>();
  auto store = std::make_unique<TrclFileDataHolder>();
  store->SetFileName(IndexFileName());
  return store;
}

void TrdlLogMonitor::Activate() {
  FLastErrorText.clear();
  bool indexed = false;
  try {
    indexed = OpenAndIndex();
  } catch (...) {
    // Whatever threw (a read, a full index, a callback), nothing stays half open.
    CloseIndexAndFile();
    throw;
  }
  if (!indexed) {
    CloseIndexAndFile();  // freed at once: a store without lines serves nobody
    return;
  }
  FActive = true;
  FFileIdentity = platform::FileIdentity(FFileName);
  MonitorChangesApply(FMonitorChanges);
  FlushTimerManage(FFlushChangesMS);
}

bool TrdlLogMonitor::OpenAndIndex() {
  FIndexWarningText.clear();
  FIndexComplete = false;
  FIndexData = CreateIndexStore();
  FIndexData->SetOnError([this](TrclDataHolder*, uint32_t ACode, const std::string& AText) { IndexError(ACode, AText); });
  // Another process holding the index file is no fault (debug text only); a folder where the
  // file cannot even be opened is one, and its reason becomes the warning.
  if (!LockIndexStore()) UseMemoryStore(FIndexErrorText);
  IndexOpen();
  if (FIndexErrorCode != 0 && UsesIndexFile()) UseMemoryStore(FIndexErrorText);
  if (!MapFile(true)) return false;
  if (ReportProgress(0)) return false;

  int start = -1;
  int count = 0;
  ScanLines(0, start, count);
  RewalkInMemoryIfTheIndexFileFailed(start, count);
  if (FIndexErrorCode == kDataHolderErrorFull) {
    // Showing the first lines as if they were the whole log would lose the rest silently.
    throw ErdlLogMonitorError(fmt::format("Cannot index {}: {}", FFileName, FIndexErrorText));
  }
  if (count == 0 && start < 0) return false;
  FIndexComplete = true;
  NoteHead();
  ReportProgress(100);
  if (FWholeLogGrowOnActive) {
    if (FOnGrow) FOnGrow(this, 0, Count());
    FWholeLogGrowOnActive = false;
  }
  return true;
}

// The index file could not take the lines (a folder that is read-only, full, or not a folder):
// the whole log again, in memory, reported as one step from line 0, rather than the first
// pages shown as the whole log.
void TrdlLogMonitor::RewalkInMemoryIfTheIndexFileFailed(int& AStartLineIndex, int& ALineCount) {
  if (FIndexErrorCode == 0 || !UsesIndexFile()) return;
  UseMemoryStore(FIndexErrorText);
  ScanLines(0, AStartLineIndex, ALineCount);
}

bool TrdlLogMonitor::UsesIndexFile() const { return dynamic_cast<TrclFileDataHolder*>(FIndexData.get()) != nullptr; }

// The saved index is written by one process at a time: a second one keeps its lines in
// memory for that run instead of mixing its pages with the first one's.
bool TrdlLogMonitor::LockIndexStore() {
  auto* file = dynamic_cast<TrclFileDataHolder*>(FIndexData.get());
  if (file == nullptr || file->TryLock()) return true;
  DebugMessage(fmt::format("TrclLogMonitor: {} is in use by another process; the line index stays in memory", file->FileName()));
  return false;
}

// Replaces the index file by the memory store; AReason (when given) becomes the warning that
// the index could not be kept. Nothing of the old store is saved.
void TrdlLogMonitor::UseMemoryStore(const std::string& AReason) {
  if (!AReason.empty()) {
    FIndexWarningText = fmt::format("Cannot keep the line index of {} in {}: {}; it is kept in memory for this run", FFileName,
                                    FIndexDataFolder, AReason);
  }
  FIndexData->SetOnError(nullptr);
  try {
    FIndexData.reset();
  } catch (...) {  // NOLINT(bugprone-empty-catch): the store failed already; its last words change nothing
  }
  FIndexData = std::make_unique<TrclMemoryDataHolder>();
  FIndexData->SetOnError([this](TrclDataHolder*, uint32_t ACode, const std::string& AText) { IndexError(ACode, AText); });
  FIndexData->DimensionAdd(kLineItemSize);
  FIndexErrorCode = 0;
  FIndexErrorText.clear();
  FSavedIndexKept = false;
  FReplaceLastItem = false;
  FLastLineOpen = false;
  FOpenTailOffset = -1;
}

void TrdlLogMonitor::Deactivate() {
  // First: no notification or flush may reach a store that is being closed.
  MonitorChangesApply(false);
  FlushTimerManage(0);
  CloseIndexAndFile();
  FActive = false;
  FIsFreezed = false;
  FLastLineOpen = false;
  FOpenTailOffset = -1;
}

void TrdlLogMonitor::CloseIndexAndFile() {
  if (FIndexData) {
    IndexSave();
    FIndexData.reset();
  }
  MapFile(false);
}

bool TrdlLogMonitor::ReportProgress(int APercents) {
  bool canceled = false;
  if (FOnProgress) FOnProgress(this, APercents, canceled);
  return canceled;
}

// --- growth watching -----------------------------------------------------------------------

std::shared_ptr<TDispatcher> TrdlLogMonitor::Dispatcher() {
  if (!FDispatcher) FDispatcher = std::make_shared<TLoopDispatcher>();
  return FDispatcher;
}

void TrdlLogMonitor::SetMonitorChanges(bool AValue) {
  if (AValue == FMonitorChanges) return;
  FMonitorChanges = AValue;
  if (FActive) MonitorChangesApply(AValue);
}

void TrdlLogMonitor::SetFlushFileChangesDelayMS(int AValue) {
  if (AValue == FFlushChangesMS) return;
  FFlushChangesMS = AValue;
  if (FActive) FlushTimerManage(AValue);
}

void TrdlLogMonitor::MonitorChangesApply(bool AValue) {
  if (!AValue) {
    if (FWatcher) {
      FWatcher->SetOnFileNotification(nullptr);
      FWatcher->SetActive(false);
      FWatcher.reset();
    }
    return;
  }
  if (!FWatcher) {
    FWatcher = std::make_unique<TFileNotificator>(Dispatcher());
    FWatcher->SetOptions(FileNotificationSet({foFile, foSize}));
    FWatcher->SetOnDebugLogMessage([this](void*, const std::string& AText) { DebugMessage(AText); });
  }
  if (FWatcher->Active()) FWatcher->SetActive(false);
  FWatcher->SetFileName(FFileName);
  FWatcher->SetOnFileNotification([this](TFolderNotificator*, TFileNotificationOption) { DoLogGrow(); });
  FWatcher->SetActive(true);
  // The watcher compares with the file as it found it just now; what was written between the
  // walk and that moment would never be signalled: index it at once.
  if (FActive && platform::LookupFile(FFileName).Size != FFileSize) DoLogGrow();
}

void TrdlLogMonitor::FlushTimerManage(int AMilliseconds) {
  if (AMilliseconds != 0) {
    DebugMessage(fmt::format("TrclLogMonitor.FlushTimerManage({})", AMilliseconds));
    if (!FFlushTimer) {
      FFlushTimer = std::make_unique<TrclTimer>();
      FFlushTimer->SetOnTimer([this](TrclTimer*) { DoFlushChanges(); });
    }
    FFlushTimer->SetEnabled(false);
    FFlushTimer->SetInterval(AMilliseconds);
    FFlushTimer->SetEnabled(true);
  } else if (FFlushTimer) {
    DebugMessage("TrclLogMonitor.FlushTimerManage(0)");
    FFlushTimer->SetEnabled(false);  // synchronous: no flush runs after this
    FFlushTimer.reset();
  }
}

// Timer thread: touches only the log by name. The periodic timer runs one call at a time, so
// it is not stopped around the work.
void TrdlLogMonitor::DoFlushChanges() {
  DebugMessage("DoFlushChanges: " + FFileName);
  platform::TReadOnlyFile file;
  if (!file.Open(FFileName)) DebugMessage("DoFlushChanges error: " + platform::SystemErrorText(platform::LastSystemError()));
}

int64_t TrdlLogMonitor::GrowthStart(int64_t AOldSize) {
  if (FOpenTailOffset >= 0) {
    FReplaceLastItem = FLastLineOpen && Count() > 0;
    return FOpenTailOffset;
  }
  // The old end in a break byte: the break may go on in the new bytes (more of them, then one
  // LF), which belong to it, not to a line of their own.
  uint8_t last = 0;
  if (AOldSize <= 0 || HFile.ReadAt(AOldSize - 1, &last, 1) != 1 || last != FBreak) return AOldSize;
  int64_t at = AOldSize;
  uint8_t chunk[4096];
  for (;;) {
    const int64_t got = HFile.ReadAt(at, chunk, sizeof chunk);
    if (got <= 0) return at;
    int64_t i = 0;
    while (i < got && chunk[i] == FBreak) ++i;
    if (i < got) return at + i + (chunk[i] == kLF ? 1 : 0);
    at += got;
  }
}

void TrdlLogMonitor::DoLogGrow() {
  FInNotificationState = true;
  const struct TStepEnd {
    bool& Flag;
    ~TStepEnd() { Flag = false; }
  } stepEnd{FInNotificationState};
  if (FIsFreezed) {
    FNeedGrowAfterUnfreeze = true;
    return;
  }
  // A deleted log keeps its lines: the open file still serves them (on POSIX its bytes live
  // until it is closed), and its readers keep what they show. A log of the name that appears
  // later is another file, indexed anew by the step that finds it.
  FFileGone = HFile.IsOpen() && !platform::LookupFile(FFileName).Found;
  if (FFileGone) {
    DebugMessage(fmt::format("TrclLogMonitor.DoLogGrow: {} was deleted; its lines stay", FFileName));
    if (FOnGrow) FOnGrow(this, -1, 0);
    return;
  }
  const int64_t oldSize = FFileSize;
  const int oldCount = Count();
  const uint8_t oldBreak = FBreak;
  const bool unmapped = !HFile.IsOpen();
  MapFile(false);
  MapFile(true);
  int start = -1;
  int count = 0;
  FIndexComplete = false;
  FIndexedAnew = false;
  const platform::TFileIdentity identity = platform::FileIdentity(FFileName);
  // A small log whose head gained its first CR (or first LF) now breaks its lines otherwise.
  const bool breakChanged = FBreak != oldBreak && oldSize > 0;
  if (FFileSize < oldSize || !(identity == FFileIdentity) || breakChanged || !HeadStayed()) {
    // Shrunk or replaced: the old items describe another file. The store stays open (it is
    // never used after being closed); it is emptied and the whole file indexed as one step.
    DebugMessage(
        fmt::format("TrclLogMonitor.DoLogGrow: {} shrank, was replaced or changed its line breaks; indexing it anew", FFileName));
    FFileIdentity = identity;
    FIndexedAnew = oldCount > 0;
    FIndexData->ItemsClear(0);
    FLastLineOpen = false;
    FOpenTailOffset = -1;
    FReplaceLastItem = false;
    ScanLines(0, start, count);
  } else if (unmapped) {
    ScanLines(0, start, count);
  } else {
    const int64_t from = GrowthStart(oldSize);
    ScanLines(from, start, count);
    FReplaceLastItem = false;
  }
  RewalkInMemoryIfTheIndexFileFailed(start, count);
  FIndexComplete = true;
  NoteHead();
  if (FOnGrow) FOnGrow(this, start, count);
}

// The CRC of the log's first bytes as far as kHeadCheckBytes, read now (0 when unreadable).
uint32_t TrdlLogMonitor::HeadCRC(int64_t ALength) const {
  std::string head(static_cast<size_t>(ALength), '\0');
  if (ALength <= 0 || HFile.ReadAt(0, head.data(), head.size()) != ALength) return 0;
  return CalcCRC32(head.data(), head.size());
}

void TrdlLogMonitor::NoteHead() {
  FHeadLength = std::min<int64_t>(FFileSize, kHeadCheckBytes);
  FHeadCRC = HeadCRC(FHeadLength);
}

// A log cut to nothing and written again between two steps keeps its inode and may have grown
// past its old size: only its bytes tell. The head's are rewritten by then (other times, other
// sessions), so a changed head means another file.
bool TrdlLogMonitor::HeadStayed() const { return FHeadLength <= 0 || HeadCRC(FHeadLength) == FHeadCRC; }

void TrdlLogMonitor::Freeze() {
  if (FIsFreezed) return;
  FIsFreezed = true;
  FNeedGrowAfterUnfreeze = false;
  if (FWatcher) FWatcher->SetActive(false);
}

void TrdlLogMonitor::Unfreeze() {
  if (!FIsFreezed) return;
  FIsFreezed = false;
  DebugMessage(fmt::format("TrclLogMonitor.Unfreeze: {}", FNeedGrowAfterUnfreeze ? "True" : "False"));
  if (FWatcher) {
    FWatcher->SetForcedCallNotification(true);
    FWatcher->SetActive(true);
  }
}

void TrdlLogMonitor::ForcedGrow() {
  if (FInNotificationState) return;
  if (FWatcher) {
    FWatcher->SetOnFileNotification(nullptr);
    FWatcher->SetActive(false);
  }
  DoLogGrow();
}

// --- the saved line index ----------------------------------------------------------------

std::string TrdlLogMonitor::IndexFileName() const {
  std::string folder = FIndexDataFolder;
  if (folder.empty() || folder.back() != '/') folder += '/';
  // The log's absolute, normalised folder: logs of one name opened from different folders
  // (daily logs of several servers) must never share an index file.
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(std::filesystem::path(FFileName), error);
  if (error) path = std::filesystem::path(FFileName);
  path = path.lexically_normal();
  std::string logFolder = path.parent_path().string();
  if (logFolder.empty() || logFolder.back() != '/') logFolder += '/';
  std::string base = path.filename().string();
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.erase(dot);
  const std::string bytes = platform::Utf8ToUtf16Le(logFolder);
  return folder + fmt::format("{:X}_{}.idx", CalcCRC32(bytes.data(), bytes.size()), base);
}

void TrdlLogMonitor::IndexOpen() {
  FIndexState = TrdlLogMonitorIndexState::ifsLoading;
  FLastFileLineCRC = 0;
  FIndexErrorCode = 0;
  FIndexErrorText.clear();
  try {
    FIndexData->SetActive(true);
    if (FIndexErrorCode != 0) {
      FIndexErrorCode = 0;
      FIndexData->Clear();
    }
    KeepOrClearSavedIndex();
    if (FIndexData->DimensionsCount() == 0) {
      FIndexData->DimensionsClear();
      FIndexData->DimensionAdd(kLineItemSize);
      FIndexData->SetReserved(3, FIndexDataVersion);
      // Slot 4 says "complete": it becomes 1 only when a whole walk is saved. Until then the
      // file on disk must never pass for a valid index: a process that dies while the pages
      // are rewritten leaves a file that is rebuilt, not one whose old header describes them.
      FIndexData->SetReserved(4, 0);
      if (auto* file = dynamic_cast<TrclFileDataHolder*>(FIndexData.get())) file->InvalidateOnDisk();
    }
  } catch (...) {
    FIndexState = TrdlLogMonitorIndexState::ifsNone;
    throw;
  }
  FIndexState = TrdlLogMonitorIndexState::ifsNone;
}

// A saved index is kept only when it belongs to the log as it is now: the same final line and
// size, the same index version, written by a monitor, and neither watching nor a fresh start
// asked for. The memory store's reserved values read 0, so it always starts empty.
void TrdlLogMonitor::KeepOrClearSavedIndex() {
  // The cheap checks first: a store that cannot be reused anyway (always the memory store)
  // costs no read of the log's tail.
  const bool reusable =
      FIndexData->Reserved(3) == FIndexDataVersion && FIndexData->Reserved(4) == 1 && !FMonitorChanges && !FIndexClearOnStart;
  if (!reusable) {
    FIndexData->Clear();
    return;
  }
  const uint32_t crc = FileLastLineCRC(FFileName, (FOptions & lmoSkipEmptyLines) != 0);
  const int64_t size = FileSizeOf(FFileName);
  const auto sizeBits = static_cast<uint64_t>(std::max<int64_t>(size, 0));
  DebugMessage(fmt::format("if.open {} crc={:X} real={:X} size={}", FFileName, FIndexData->Reserved(0), crc, size));
  const bool sameLog = FIndexData->Reserved(0) == crc &&
                       FIndexData->Reserved(1) == static_cast<uint32_t>(sizeBits & 0xFFFFFFFFu) &&
                       FIndexData->Reserved(2) == static_cast<uint32_t>(sizeBits >> 32);
  if (!sameLog || !ItemsLieInside(size)) {
    FIndexData->Clear();
    return;
  }
  FLastFileLineCRC = crc;  // what the kept index was saved with; the walk will not recompute it
  FSavedIndexKept = FIndexData->ItemsCount(0) > 0;
}

// Whether the kept items describe lines of a file of ASize bytes: the last one starts inside it.
// (The store's checksums catch damaged pages; this catches an index of another file.)
bool TrdlLogMonitor::ItemsLieInside(int64_t ASize) {
  const uint32_t count = FIndexData->ItemsCount(0);
  if (count == 0) return true;
  uint64_t raw = 0;
  if (!FIndexData->ItemGet(0, count - 1, &raw)) return false;
  const TrdlLineItem last = TrdlLineItem::Decode(raw);
  return last.Offset < ASize && (last.Length < 0 || last.Offset + last.Length <= ASize) && count <= static_cast<uint64_t>(ASize);
}

// Saves the index only when a whole walk is in it: a cancelled or failed walk leaves the file
// marked incomplete (slot 4 = 0), so that it is never reused as the log's index.
void TrdlLogMonitor::IndexSave() {
  if (!FIndexData->ChangesExist()) return;
  FIndexState = TrdlLogMonitorIndexState::ifsSaving;
  FIndexErrorCode = 0;
  try {
    FIndexData->SetReserved(4, FIndexComplete ? 1 : 0);
    FIndexData->SetReserved(0, FLastFileLineCRC);
    // The size the walk indexed, not the size now: lines appended since are not in the index.
    const int64_t size = FFileSize;
    FIndexData->SetReserved(1, static_cast<uint32_t>(static_cast<uint64_t>(size) & 0xFFFFFFFFu));
    FIndexData->SetReserved(2, static_cast<uint32_t>(static_cast<uint64_t>(size) >> 32));
    DebugMessage(fmt::format("if.flush {} crc={:X} size={}", FFileName, FIndexData->Reserved(0), size));
    FIndexData->FlushChanges();
    FIndexData->SetActive(false);
  } catch (...) {
    FIndexState = TrdlLogMonitorIndexState::ifsNone;
    throw;
  }
  FIndexState = TrdlLogMonitorIndexState::ifsNone;
}

void TrdlLogMonitor::IndexVersionCheck() {
  if (FIndexData->Reserved(3) != FIndexDataVersion) FIndexData->SetReserved(3, 0);
}

void TrdlLogMonitor::IndexError(uint32_t ACode, const std::string& AText) {
  FIndexErrorCode = ACode;
  FIndexErrorText = AText;
  DebugMessage(fmt::format("Index error ({:X}) {}", ACode, AText));
}

void TrdlLogMonitor::DebugMessage(const std::string& AText) {
  if (FOnDebugMessage) FOnDebugMessage(this, AText);
}

// --- reading the file --------------------------------------------------------------------

bool TrdlLogMonitor::MapFile(bool AOpen) {
  std::lock_guard<platform::TReentrantLock> guard(csLive);
  if (!AOpen) {
    MapBlock(-1);
    FMapBlockIndex = -1;
    FView.Release();
    HFile.Close();
    return true;
  }
  const platform::TFileLookup lookup = platform::LookupFile(FFileName);
  FFileSize = lookup.Found ? lookup.Size : 0;
  if (!lookup.Found) {
    FLastErrorText = fmt::format("Cannot open {}: {}", FFileName, platform::SystemErrorText(lookup.Error));
  } else if (lookup.IsDirectory) {
    FLastErrorText = fmt::format("Cannot open {}: it is a folder, not a log file", FFileName);
  } else if (std::error_code error; !std::filesystem::is_regular_file(FFileName, error)) {
    // A pipe, a FIFO or a device has no size to index and cannot be read twice: refuse it
    // rather than show it as an empty log.
    FLastErrorText = fmt::format("Cannot open {}: not a regular file", FFileName);
    FFileSize = 0;
  }
  FBreak = static_cast<uint8_t>(TrdlLineBreak::lbCR);
  if (FFileSize == 0) return true;
  if (!HFile.Open(FFileName)) {
    FLastErrorText = fmt::format("Cannot open {}: {}", FFileName, platform::SystemErrorText(platform::LastSystemError()));
  }
  FMapBlockOffset = -1;
  FMapBlockIndex = -1;
  MapBlocksCalculateCount();
  if (!MapBlock(0)) return false;
  // The head is usually all in block 0: no read of its own.
  const auto probe = static_cast<int64_t>(std::min<uint64_t>(kLineBreakProbeSize, static_cast<uint64_t>(FFileSize)));
  FBreak = static_cast<uint8_t>(FMapPtrEnd - FMapPtrBegin >= probe ? DetectLineBreak(FMapPtrBegin, static_cast<size_t>(probe))
                                                                   : FileLineBreak(HFile));
  return true;
}

void TrdlLogMonitor::MapBlocksCalculateCount() {
  const uint32_t g = platform::AllocationGranularity();
  // Blocks are whole granularities; a smaller preferred size (tests of block boundaries) is
  // taken as it is.
  int64_t b = FPreferredBlockSize < g          ? FPreferredBlockSize
              : (FPreferredBlockSize % g == 0) ? FPreferredBlockSize
                                               : (FPreferredBlockSize / g + 1) * g;
  int64_t d = 1;
  int tries = 0;
  if (b > FFileSize) {
    b = 0;
  } else {
    d = FFileSize / b + ((FFileSize % b) != 0 ? 1 : 0);
    tries = 1;
  }
  for (;;) {
    const int64_t length = (b == 0) ? FFileSize : b;
    const uint32_t error = FView.Map(HFile, 0, static_cast<size_t>(length));
    FView.Unmap();
    if (error == 0) {
      if (d <= 1 || tries >= 1) break;
      ++tries;
    } else if (error == platform::kErrorInvalidHandle) {
      break;
    } else {
      const std::string text = platform::SystemErrorText(error);
      DebugMessage(fmt::format("TrclLogMonitor.MapBlocksCalculateCount: {:X}, {}", error, text));
      // The rounding keeps at least two granularities, so halving stops shrinking there;
      // retrying the same size would loop for as long as the reads fail.
      if (b != 0 && ShrunkBlockSize(b, g) >= b) {
        throw ErdlLogMonitorError(fmt::format("Cannot read {}: not even {} bytes can be read at once: {}", FFileName, b, text));
      }
    }
    b = ShrunkBlockSize(b == 0 ? FFileSize : b, g);
    d *= 2;
  }
  FMapBlockIndex = -1;
  if (d == 1) {
    FMapBlockSize = 0;
    FMapBlockEndIndex = 0;
  } else {
    FMapBlockSize = static_cast<uint32_t>(b);
    FMapBlockEndIndex = static_cast<int>((FFileSize - 1) / b);
  }
}

bool TrdlLogMonitor::MapBlock(int ABlock) {
  if (ABlock == FMapBlockIndex) return true;
  FView.Unmap();
  FMapPtrBegin = FMapPtrEnd = FMapPtr = nullptr;
  // Nothing is mapped from here until a read succeeds: a failed read must not leave the old
  // block number behind, or the next request for that block would find an empty view.
  FMapBlockIndex = -1;
  FMapBlockOffset = -1;
  int64_t offset = 0;
  if (ABlock >= 0 && ABlock <= FMapBlockEndIndex) {
    int64_t length = FFileSize;
    if (FMapBlockSize != 0) {
      offset = static_cast<int64_t>(ABlock) * FMapBlockSize;
      length = (ABlock == FMapBlockEndIndex) ? FFileSize - offset : FMapBlockSize;
    }
    const uint32_t error = FView.Map(HFile, offset, static_cast<size_t>(length));
    if (error == platform::kErrorInvalidHandle) return false;
    if (error != 0) throw ErdlLogMonitorError("Cannot open map view with error: \r\n" + platform::SystemErrorText(error));
    FMapPtrBegin = FView.Data();
    FMapPtrEnd = FMapPtrBegin + FView.Size();
    FMapPtr = FMapPtrBegin;
    FViewShort = static_cast<int64_t>(FView.Size()) < length;
  }
  FMapBlockIndex = ABlock;
  FMapBlockOffset = offset;
  return true;
}

int TrdlLogMonitor::BlockOf(int64_t AOffset) const { return FMapBlockSize == 0 ? 0 : static_cast<int>(AOffset / FMapBlockSize); }

// --- finding lines -----------------------------------------------------------------------

bool TrdlLogMonitor::LineHealth(const uint8_t* APtr, int64_t ASize) const {
  return !FOnCheckLineHealth || FOnCheckLineHealth(APtr, static_cast<int>(ASize));
}

// The next line from the cursor FMapPtr, by the same rules wherever block boundaries fall: a
// line ends at a run of break bytes FBreak (CRs; LFs in a log without CRs), one LF after the
// run belongs to the break, and in a CR log an LF that no CR precedes belongs to the line. A
// line whose bytes continue into later blocks is joined into FMapBetweenBlocksStr (at most
// kMaxLineLength bytes of it); a break that continues into the next block is passed there,
// after the line's bytes were copied out of the view they leave.
bool TrdlLogMonitor::NextLine(TLine& ALine) {
  FMapBetweenBlocksAPtr = 0;
  ALine = TLine{};
  while (FMapPtr == nullptr || FMapPtr >= FMapPtrEnd) {
    if (FMapBlockIndex < 0 || IsLastBlock()) return false;
    if (!MapBlock(FMapBlockIndex + 1) || FMapPtr == nullptr) return false;
  }
  const uint8_t* const start = FMapPtr;
  const uint8_t* const end = FMapPtrEnd;
  ALine.Offset = OffsetOf(start);
  const uint8_t* cr = FindBreakByte(start, end, FBreak);
  if (cr >= end && !IsLastBlock()) return NextJoinedLine(ALine, false);

  const uint8_t* q = cr;
  while (q < end && *q == FBreak) ++q;
  // A break run inside a field value: the record goes on after the comma when only the longer
  // piece is a complete record. One join per line, within the block.
  if (q < end && *q == kComma) {
    const bool firstHealthy = LineHealth(start, q - start);
    const uint8_t* r = FindBreak(q, end);
    const bool joinedHealthy = LineHealth(start, r - start);
    if (joinedHealthy && !firstHealthy) {
      if (r >= end && !IsLastBlock()) return NextJoinedLine(ALine, true);
      cr = r;
      q = r;
      while (q < end && *q == FBreak) ++q;
    }
  }
  const uint8_t* last = cr;
  while (last > start && IsBreak(last[-1])) --last;
  ALine.Bytes = start;
  ALine.Length = last - start;
  ALine.Closed = cr < end;
  if (q < end || IsLastBlock() || cr >= end) {
    if (q < end && *q == kLF) ++q;
    FMapPtrNext = q;
    return true;
  }
  // The break reaches the block's end and may go on in the next block: the line's bytes must
  // outlive this view.
  FMapBetweenBlocksStr.assign(reinterpret_cast<const char*>(start), static_cast<size_t>(ALine.Length));
  ALine.Bytes = reinterpret_cast<const uint8_t*>(FMapBetweenBlocksStr.data());
  FMapPtrNext = PassBreakFromNextBlock();
  return true;
}

// A line without a break byte in its first block: its bytes are joined block after block
// until one or the file's end. Only the first kMaxLineLength bytes are kept; a longer line is
// marked and reading it fails, so that a damaged log shows one bad record instead of many.
// AAnyBreak: the line goes on after a break run and a comma (the health join), and ends at the
// next CR or LF instead.
bool TrdlLogMonitor::NextJoinedLine(TLine& ALine, bool AAnyBreak) {
  FMapBetweenBlocksAPtr = ALine.Offset;
  FMapBetweenBlocksStr.clear();
  const auto append = [&](const uint8_t* AFrom, const uint8_t* ATo) {
    const auto room = static_cast<int64_t>(kMaxLineLength) - static_cast<int64_t>(FMapBetweenBlocksStr.size());
    const int64_t count = ATo - AFrom;
    if (count > room) ALine.TooLong = true;
    if (room > 0) FMapBetweenBlocksStr.append(reinterpret_cast<const char*>(AFrom), static_cast<size_t>(std::min(count, room)));
  };
  append(FMapPtr, FMapPtrEnd);
  const uint8_t* cr = nullptr;
  while (cr == nullptr) {
    if (IsLastBlock() || !MapBlock(FMapBlockIndex + 1) || FMapPtr == nullptr) break;
    const uint8_t* found = AAnyBreak ? FindBreak(FMapPtrBegin, FMapPtrEnd) : FindBreakByte(FMapPtrBegin, FMapPtrEnd, FBreak);
    append(FMapPtrBegin, found);
    if (found < FMapPtrEnd) cr = found;
  }
  // Break bytes before the break (LFs before a CR) are not part of the line, as within a block.
  while (!FMapBetweenBlocksStr.empty() && IsBreak(static_cast<uint8_t>(FMapBetweenBlocksStr.back())))
    FMapBetweenBlocksStr.pop_back();
  ALine.Bytes = reinterpret_cast<const uint8_t*>(FMapBetweenBlocksStr.data());
  ALine.Length = static_cast<int64_t>(FMapBetweenBlocksStr.size());
  ALine.Spanning = true;
  ALine.Closed = cr != nullptr;
  if (cr == nullptr) {
    FMapPtrNext = FMapPtrEnd;  // the file ends inside the line
    return true;
  }
  const uint8_t* q = cr;
  if (*q != FBreak) {  // only the health join ends a line at the other break byte: it is its break
    FMapPtrNext = q + 1;
    return true;
  }
  while (q < FMapPtrEnd && *q == FBreak) ++q;
  if (q < FMapPtrEnd) {
    if (*q == kLF) ++q;
    FMapPtrNext = q;
  } else {
    FMapPtrNext = PassBreakFromNextBlock();
  }
  return true;
}

// The break ended the current block in a break run: passes the rest of that run and one LF
// in the blocks that follow. The position after the break, in the block then mapped.
const uint8_t* TrdlLogMonitor::PassBreakFromNextBlock() {
  while (!IsLastBlock()) {
    if (!MapBlock(FMapBlockIndex + 1) || FMapPtr == nullptr) return FMapPtrEnd;
    const uint8_t* p = FMapPtrBegin;
    while (p < FMapPtrEnd && *p == FBreak) ++p;
    if (p < FMapPtrEnd) return *p == kLF ? p + 1 : p;
  }
  return FMapPtrEnd;
}

// Indexes the lines that start at AStartOffset, to the file's end: AStartLineIndex is the
// number of the first line indexed (-1 when none was) and ALineCount how many were. The first
// walk after IndexOpen kept a saved index reads nothing: the kept items stand.
void TrdlLogMonitor::ScanLines(int64_t AStartOffset, int& AStartLineIndex, int& ALineCount) {
  AStartLineIndex = -1;
  ALineCount = 0;
  if (FSavedIndexKept) {
    FSavedIndexKept = false;
    AStartLineIndex = 0;
    ALineCount = static_cast<int>(FIndexData->ItemsCount(0));
    return;
  }
  FInScan = true;
  const struct TScanEnd {
    bool& Flag;
    ~TScanEnd() { Flag = false; }
  } scanEnd{FInScan};
  if (StartWalkAt(AStartOffset)) WalkLines(AStartLineIndex, ALineCount);
  IndexVersionCheck();
}

bool TrdlLogMonitor::StartWalkAt(int64_t AOffset) {
  if (!MapBlock(BlockOf(AOffset)) || FMapPtrBegin == nullptr) return false;
  FMapPtr = FMapPtrBegin + (AOffset - FMapBlockOffset);
  return true;
}

void TrdlLogMonitor::WalkLines(int& AStartLineIndex, int& ALineCount) {
  const bool skipEmpty = (FOptions & lmoSkipEmptyLines) != 0;
  TProgressSteps progress;
  TLine line;
  while (NextLine(line)) {
    const bool wanted = (!skipEmpty || line.Length != 0) && WantsLine(line);
    if (wanted) {
      const int64_t index = StoreLine(line);
      if (index < 0) break;  // the store reported why through DoError
      if (AStartLineIndex < 0) AStartLineIndex = static_cast<int>(index);
      ++ALineCount;
    }
    if (IsFinalLine()) NoteFinalLine(line, wanted);
    // A line joined across blocks reports nothing of its own (its start is counted as 0).
    const int64_t lineStart = line.Spanning ? 0 : line.Offset;
    FMapPtr = FMapPtrNext;
    if (!FOnProgress) continue;
    const int percents = progress.Due(lineStart, FFileSize);
    if (percents >= 0 && ReportProgress(percents)) {
      AStartLineIndex = -1;
      ALineCount = 0;
      break;
    }
  }
}

bool TrdlLogMonitor::WantsLine(const TLine& ALine) const {
  return !FOnCheckRecord || FOnCheckRecord(ALine.Bytes, static_cast<int>(std::min<int64_t>(ALine.Length, INT32_MAX)));
}

// Adds the line's item, or replaces the last one when that line was still being written when
// the previous step read it. Its index, or -1 when the store could not take it.
int64_t TrdlLogMonitor::StoreLine(const TLine& ALine) {
  const int length = ALine.Spanning ? TrdlLineItem::kUnknownLength : static_cast<int>(std::min<int64_t>(ALine.Length, 32768));
  const uint64_t item = TrdlLineItem::Encode(ALine.Offset, length);
  const uint32_t count = FIndexData->ItemsCount(0);
  uint32_t index = count;
  if (FReplaceLastItem && count > 0) {
    index = count - 1;
    FIndexData->ItemSet(0, index, &item);
  } else if (FIndexData->ItemAdd(0, &item) == kInvalidItemIndex) {
    return -1;
  }
  FReplaceLastItem = false;
  return index;
}

bool TrdlLogMonitor::IsFinalLine() const { return IsLastBlock() && (FMapPtrNext == nullptr || FMapPtrNext >= FMapPtrEnd); }

// The final line as far as the file goes now. Its CRC identifies the log for a saved index
// (0 when the line has no item, as FileLastLineCRC says). Without a break after it its writer
// may not be done with it (in a CR log an LF alone ends no line): the next growth step reads
// it again from its start, replacing its item when it has one.
void TrdlLogMonitor::NoteFinalLine(const TLine& ALine, bool AStored) {
  FLastFileLineCRC = AStored ? CalcCRC32(ALine.Bytes, static_cast<size_t>(ALine.Length)) : 0;
  FLastLineOpen = AStored && !ALine.Closed;
  FOpenTailOffset = ALine.Closed ? -1 : ALine.Offset;
}

// --- reading lines -----------------------------------------------------------------------

int TrdlLogMonitor::Count() const { return FIndexData ? static_cast<int>(FIndexData->ItemsCount(0)) : 0; }

TrdlLineItem TrdlLogMonitor::Item(int AIndex) const {
  uint64_t raw = 0;
  if (AIndex < 0 || AIndex >= Count() || !FIndexData->ItemGet(0, static_cast<uint32_t>(AIndex), &raw)) {
    throw ErdlLogMonitorError("no such line " + FFileName);
  }
  return TrdlLineItem::Decode(raw);
}

std::string TrdlLogMonitor::Get(int AIndex) {
  std::string line;
  Get(AIndex, line);
  return line;
}

void TrdlLogMonitor::Get(int AIndex, std::string& ALine) {
  std::lock_guard<platform::TReentrantLock> guard(csLive);
  if (!FInScan) {
    ALine.assign(LineView(AIndex));
    return;
  }
  // Called from a walk's callback (a progress handler that lets the GUI repaint its list):
  // reading moves the one view, so put the walk back where it was afterwards.
  TWalkPosition saved = SaveWalkPosition();
  try {
    ALine.assign(LineView(AIndex));
  } catch (...) {
    RestoreWalkPosition(saved);
    throw;
  }
  RestoreWalkPosition(saved);
}

std::string_view TrdlLogMonitor::GetView(int AIndex) {
  std::lock_guard<platform::TReentrantLock> guard(csLive);
  if (!FInScan) return LineView(AIndex);
  Get(AIndex, FLineCopy);  // the walk's view comes back: the line must live elsewhere
  return FLineCopy;
}

// Line AIndex in the mapped block, or in the joined copy of a line across two blocks.
std::string_view TrdlLogMonitor::LineView(int AIndex) {
  const TrdlLineItem item = Item(AIndex);
  const int block = BlockOf(item.Offset);
  if (block < 0) throw ErdlLogMonitorError(fmt::format("No block for Get({})!", AIndex));
  if (!MapBlock(block) || FMapPtrBegin == nullptr) return {};
  const int64_t available = FMapPtrEnd - FMapPtrBegin;
  const int64_t position = item.Offset - FMapBlockOffset;
  // Bytes the walk saw are gone: serving the rest as lines would hand out empty or cut records.
  if (position >= available || (item.Length > 0 && FViewShort && position + item.Length > available)) ThrowShrank();
  const uint8_t* ptr = FMapPtrBegin + position;
  if (item.Length >= 0) {
    const int64_t length = std::min<int64_t>(item.Length, FMapPtrEnd - ptr);
    return {reinterpret_cast<const char*>(ptr), static_cast<size_t>(length)};
  }
  FMapPtr = ptr;
  TLine line;
  if (!NextLine(line)) return {};
  if (line.TooLong) {
    throw ErdlLogMonitorError(
        fmt::format("Cannot read line {} of {}: it is longer than {} MiB", AIndex, FFileName, kMaxLineLength >> 20));
  }
  if (FViewShort && !line.Closed && AIndex + 1 < Count()) ThrowShrank();
  return {reinterpret_cast<const char*>(line.Bytes), static_cast<size_t>(line.Length)};
}

void TrdlLogMonitor::ThrowShrank() const { throw ErdlLogMonitorShrank(FFileName + " shrank while it was being read"); }

TrdlLogMonitor::TWalkPosition TrdlLogMonitor::SaveWalkPosition() {
  TWalkPosition position;
  position.Block = FMapBlockIndex;
  position.Cursor = FMapPtr != nullptr ? OffsetOf(FMapPtr) : -1;
  position.Next = FMapPtrNext != nullptr ? OffsetOf(FMapPtrNext) : -1;
  position.BetweenBlocksStr = std::move(FMapBetweenBlocksStr);
  position.BetweenBlocksAPtr = FMapBetweenBlocksAPtr;
  return position;
}

void TrdlLogMonitor::RestoreWalkPosition(TWalkPosition& APosition) {
  // Moving the joined copy back keeps its bytes where the walk's line points; the view keeps
  // its buffer, so the block read again lands where it was.
  FMapBetweenBlocksStr = std::move(APosition.BetweenBlocksStr);
  FMapBetweenBlocksAPtr = APosition.BetweenBlocksAPtr;
  if (APosition.Block < 0 || !MapBlock(APosition.Block) || FMapPtrBegin == nullptr) return;
  FMapPtr = APosition.Cursor >= 0 ? FMapPtrBegin + (APosition.Cursor - FMapBlockOffset) : nullptr;
  FMapPtrNext = APosition.Next >= 0 ? FMapPtrBegin + (APosition.Next - FMapBlockOffset) : nullptr;
}

std::string TrdlLogMonitor::HealthStr() const {
  const int count = Count();
  uint64_t latest = 0;
  if (count > 0) FIndexData->ItemGet(0, static_cast<uint32_t>(count - 1), &latest);
  return fmt::format("raw.line.size {}\r\nraw.line.count {}\r\nraw.line.DataSize {}\r\nitm.latest {} ({:X})", kLineItemSize,
                     count, static_cast<int64_t>(count) * kLineItemSize, latest, latest);
}

}  // namespace velloran
