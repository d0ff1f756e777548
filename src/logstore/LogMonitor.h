// TrdlLogMonitor turns a log file of any size into a numbered list of lines without reading
// the whole file into memory: it reads the file one block (at most 1 MiB) at a time, walks it
// once to record where every line starts, keeps one 8-byte item per line in an item store,
// and afterwards returns the bytes of any line by its number.
//
// Line breaks: a run of CR bytes followed by at most one LF ends a line (CR LF, lone CR and
// CR CR LF alike); an LF that no CR precedes belongs to the line. A log whose first 64 KiB
// hold LF but no CR (copied through a tool that converted its line ends) breaks its lines at
// runs of LF instead: see LineBreak.
//
// Threading: used from its owner's thread. Get and the opening and closing of the file hold
// the re-entrant lock csLive, so a line is never read while the file is being replaced; the
// walk itself runs without it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "FileHelpers.h"
#include "FileWatch.h"
#include "ItemStore.h"
#include "PeriodicTimer.h"
#include "PlatformFile.h"
#include "PlatformSystem.h"
#include "Progress.h"

namespace velloran {

class TrdlLogMonitor;

// Raised for a bad line number, a block that cannot be read, a line too long to read, and a
// line index that is full.
class ErdlLogMonitorError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when lines that the walk found are no longer in the file ("FILE shrank while it was
// being read"): a log truncated or replaced under its reader. Its lines are indexed anew by the
// next growth step; until then none is served.
class ErdlLogMonitorShrank : public ErdlLogMonitorError {
 public:
  using ErdlLogMonitorError::ErdlLogMonitorError;
};

// The CRC-32 of a file's final line as the line walk finds it (its bytes without line-break
// bytes), computed from the file's last 8,192 bytes; 0 for a file that cannot be read, an
// empty file, and an empty final line that ASkipEmptyLines leaves out. A final line longer than
// the tail is hashed over its last 8,192 bytes only.
uint32_t FileLastLineCRC(const std::string& APath, bool ASkipEmptyLines = false);

// The byte that ends a log's lines: CR, unless the head of the log holds LF but no CR.
enum class TrdlLineBreak : uint8_t { lbCR = 13, lbLF = 10 };
// How many bytes of a log's head decide its line break.
inline constexpr size_t kLineBreakProbeSize = 65536;
// The line break of a log whose head is ABytes (its first kLineBreakProbeSize bytes, or all).
TrdlLineBreak DetectLineBreak(const uint8_t* ABytes, size_t ASize);
// The same from an open file's head; CR for a file that cannot be read.
TrdlLineBreak FileLineBreak(platform::TReadOnlyFile& AFile);

// One line of bytes held whole (a window of the log that begins at a line's start), by the
// walk's rules: it ends at the first ABreak byte; that run of breaks and one LF after it are
// its line break; break bytes at its end are not its text. For readers of the file that walk
// lines on their own threads, such as the scanner.
struct TrdlLineSpan {
  size_t Begin = 0;
  size_t End = 0;   // of its text
  size_t Next = 0;  // where the next line begins (ASize for the last)
};
TrdlLineSpan LineSpanAt(const uint8_t* ABytes, size_t ASize, size_t AFrom, TrdlLineBreak ABreak);
using TLogMonitorChangeEvent = std::function<void(TrdlLogMonitor* Sender, int StartLineIndex, int LineCount)>;
using TDebugLogMessageEvent = std::function<void(void* Sender, const std::string& Value)>;
// True: index this line.
using TCheckRecordEvent = std::function<bool(const uint8_t* APtr, int ASize)>;
// True: the bytes form a complete record.
using TCheckLineHealthEvent = std::function<bool(const uint8_t* APtr, int ASize)>;

enum TrdlLogMonitorOption : unsigned {
  lmoSkipEmptyLines = 1u << 0,  // zero-length lines get no item
};
using TrdlLogMonitorOptions = unsigned;

enum class TrdlLogMonitorIndexState { ifsNone, ifsLoading, ifsSaving };

// One line's item: bits 0-47 the file offset of its first byte, bits 48-63 its length as a
// signed 16-bit number. Length -1 means "not recorded" (the line spans two blocks or is longer
// than 32,767 bytes): reading finds the line again.
struct TrdlLineItem {
  int64_t Offset = 0;
  int Length = 0;

  static constexpr int kUnknownLength = -1;
  static uint64_t Encode(int64_t AOffset, int ALength);
  static TrdlLineItem Decode(uint64_t AItem);
};

class TrdlLogMonitor {
 public:
  TrdlLogMonitor();
  virtual ~TrdlLogMonitor();
  TrdlLogMonitor(const TrdlLogMonitor&) = delete;
  TrdlLogMonitor& operator=(const TrdlLogMonitor&) = delete;

 public:  // the log
  const std::string& FileName() const { return FFileName; }
  // A different name (exact comparison) switches an active monitor to the new file in one
  // step: deactivate, store the name, activate again.
  void SetFileName(const std::string& AValue);
  int64_t FileSize() const { return FFileSize; }

  bool Active() const { return FActive; }
  // Activation indexes the whole file (progress and cancel through OnProgress); it ends
  // inactive when the walk is cancelled or finds no line. Throws ErdlLogMonitorError when a
  // block cannot be read or the line index is full.
  void SetActive(bool AValue);

  // Why the last activation could not open the file ("Cannot open ...: reason"), or empty
  // text when it could (an inactive monitor with empty text met a file without lines).
  const std::string& LastErrorText() const { return FLastErrorText; }
  // The line break of the open log, decided when it is opened and again when its head changes.
  TrdlLineBreak LineBreak() const { return static_cast<TrdlLineBreak>(FBreak); }

 public:  // lines
  int Count() const;
  // The bytes of line AIndex (0-based) without line-break bytes. Throws "no such line " +
  // FileName for an index outside 0..Count-1, ErdlLogMonitorShrank when the line's bytes
  // vanished since the walk (the file was truncated), and ErdlLogMonitorError for a line
  // longer than kMaxLineLength.
  std::string Get(int AIndex);
  // The same into ALine, reusing its storage: reading every line allocates nothing.
  void Get(int AIndex, std::string& ALine);
  // The same without a copy: valid until the next call on this monitor. For the owner
  // thread's loops over many lines.
  std::string_view GetView(int AIndex);
  std::string Strings(int AIndex) { return Get(AIndex); }
  // The stored item of line AIndex; throws like Get.
  TrdlLineItem Item(int AIndex) const;
  // Four lines of index statistics, for traces.
  std::string HealthStr() const;

 public:  // walk settings and callbacks
  // A line longer than this (64 MiB) is indexed but cannot be read: a damaged log then shows
  // one bad record, not a run of bogus ones, and no read needs unbounded memory.
  static constexpr int64_t kMaxLineLength = int64_t{64} << 20;
  // Blocks of this many bytes (rounded up to the allocation granularity; a smaller value is
  // taken as it is, for tests of lines across block boundaries). Takes effect at activation.
  void SetPreferredBlockSize(uint32_t AValue) { FPreferredBlockSize = AValue; }
  TrdlLogMonitorOptions Options() const { return FOptions; }
  void SetOptions(TrdlLogMonitorOptions AValue) { FOptions = AValue; }
  void SetOnCheckRecord(TCheckRecordEvent AValue) { FOnCheckRecord = std::move(AValue); }
  void SetOnCheckLineHealth(TCheckLineHealthEvent AValue) { FOnCheckLineHealth = std::move(AValue); }
  void SetOnProgress(TProgressNotifyEvent AValue) { FOnProgress = std::move(AValue); }
  void SetOnDebugLogMessage(TDebugLogMessageEvent AValue) { FOnDebugMessage = std::move(AValue); }
  void* OwnerStructPtr() const { return FOwnerStructPtr; }
  void SetOwnerStructPtr(void* AValue) { FOwnerStructPtr = AValue; }

 public:  // saved line index (kept by the paged index store; the memory store never saves)
  bool UseFileIndex() const { return FUseFileIndex; }
  void SetUseFileIndex(bool AValue) { FUseFileIndex = AValue; }
  const std::string& IndexDataFolder() const { return FIndexDataFolder; }
  // The index file of the current log: IndexDataFolder, then "<CRC>_<name>.idx", where CRC is
  // the upper-case hexadecimal CRC-32 of the UTF-16LE bytes of the log's folder (with its
  // trailing "/") and name the log's file name without its last extension. Logs of one name
  // in different folders get different index files.
  std::string IndexFileName() const;
  void SetIndexDataFolder(const std::string& AValue) { FIndexDataFolder = AValue; }
  uint32_t IndexDataVersion() const { return FIndexDataVersion; }
  void SetIndexDataVersion(uint32_t AValue) { FIndexDataVersion = AValue; }
  bool IndexClearOnStart() const { return FIndexClearOnStart; }
  void SetIndexClearOnStart(bool AValue) { FIndexClearOnStart = AValue; }
  uint32_t LastFileLineCRC() const { return FLastFileLineCRC; }
  // Why the last activation could not keep the line index in IndexDataFolder (the folder and
  // the cause); the lines were then indexed in memory. Empty text when it could.
  const std::string& IndexWarningText() const { return FIndexWarningText; }
  TrdlLogMonitorIndexState IndexState() const { return FIndexState; }

 public:  // growth watching
  // Watch the log while active: every change of the file runs a growth step on the owner
  // thread (through Dispatcher), which indexes the lines after the previous end and reports
  // them through OnLogGrow (-1 and 0 when none came).
  bool MonitorChanges() const { return FMonitorChanges; }
  void SetMonitorChanges(bool AValue);
  // Open and close the log this often (ms; 0: never), from a timer thread, so that the file
  // system publishes a writer's new size.
  int FlushFileChangesDelayMS() const { return FFlushChangesMS; }
  void SetFlushFileChangesDelayMS(int AValue);
  void SetOnLogGrow(TLogMonitorChangeEvent AValue) { FOnGrow = std::move(AValue); }
  // The owner thread's dispatcher, through which change notifications arrive. Without one
  // set, the monitor makes a loop dispatcher owned by the thread that first needs it; that
  // thread must then run its ProcessPending.
  std::shared_ptr<TDispatcher> Dispatcher();
  void SetDispatcher(std::shared_ptr<TDispatcher> AValue) { FDispatcher = std::move(AValue); }
  // Pause growth steps; changes meanwhile are remembered, and Unfreeze runs one step for them.
  void Freeze();
  void Unfreeze();
  // A growth step now, without a change signal; the watcher stays off until MonitorChanges is
  // applied again.
  void ForcedGrow();
  bool IsFreezed() const { return FIsFreezed; }
  // Whether the last line has no line break yet (a writer in the middle of it): the next
  // growth step reads it again from its start and replaces its item.
  bool LastLineOpen() const { return FLastLineOpen; }
  // Whether the last growth step found the log shrunk or replaced and indexed it anew from
  // its first line (the lines it held before are gone), rather than adding lines.
  bool IndexedAnew() const { return FIndexedAnew; }
  // Whether the last growth step found the log's name gone: its lines stay readable and
  // unchanged until a file of that name appears again.
  bool FileGone() const { return FFileGone; }
  bool WholeLogGrowOnActive() const { return FWholeLogGrowOnActive; }
  void SetWholeLogGrowOnActive(bool AValue) { FWholeLogGrowOnActive = AValue; }

 protected:
  // The store that activation fills: the paged index file with UseFileIndex, else the memory
  // store (tests substitute their own).
  virtual std::unique_ptr<TrclDataHolder> CreateIndexStore();

 private:
  // Where a walk stands, as file offsets (-1: none), so that a Get from one of the walk's
  // callbacks can put it back.
  struct TWalkPosition {
    int Block = -1;
    int64_t Cursor = -1;
    int64_t Next = -1;
    std::string BetweenBlocksStr;
    int64_t BetweenBlocksAPtr = 0;
  };
  struct TLine {
    const uint8_t* Bytes = nullptr;
    int64_t Length = 0;
    int64_t Offset = 0;     // of its first byte in the file
    bool Spanning = false;  // its bytes lie in more than one block (joined)
    bool Closed = false;    // a break ended it; a final line without one may still be written
    bool TooLong = false;   // longer than kMaxLineLength: only its start was joined
  };

  void Activate();
  // Activation's work up to the last step; false when it ends without lines.
  bool OpenAndIndex();
  void Deactivate();
  void CloseIndexAndFile();

  // The names say "map", but nothing is memory-mapped: MapFile opens or closes the log and
  // MapBlock reads block ABlock into the one view's buffer (a read survives a file that
  // shrinks under it, where a mapping would raise SIGBUS).
  bool MapFile(bool AOpen);
  void MapBlocksCalculateCount();
  bool MapBlock(int ABlock);
  int BlockOf(int64_t AOffset) const;
  int64_t OffsetOf(const uint8_t* APtr) const { return FMapBlockOffset + (APtr - FMapPtrBegin); }
  bool IsLastBlock() const { return FMapBlockIndex >= FMapBlockEndIndex; }

  bool NextLine(TLine& ALine);
  bool NextJoinedLine(TLine& ALine, bool AAnyBreak);
  const uint8_t* PassBreakFromNextBlock();
  std::string_view LineView(int AIndex);
  [[noreturn]] void ThrowShrank() const;
  TWalkPosition SaveWalkPosition();
  void RestoreWalkPosition(TWalkPosition& APosition);
  bool LineHealth(const uint8_t* APtr, int64_t ASize) const;
  void ScanLines(int64_t AStartOffset, int& AStartLineIndex, int& ALineCount);
  // The steps of ScanLines: put the walk's cursor at AOffset (false when no block holds it),
  // then walk to the end, storing one item per wanted line.
  bool StartWalkAt(int64_t AOffset);
  void WalkLines(int& AStartLineIndex, int& ALineCount);
  bool WantsLine(const TLine& ALine) const;
  int64_t StoreLine(const TLine& ALine);
  bool IsFinalLine() const;
  void NoteFinalLine(const TLine& ALine, bool AStored);
  bool ReportProgress(int APercents);

  void IndexOpen();
  bool UsesIndexFile() const;
  void RewalkInMemoryIfTheIndexFileFailed(int& AStartLineIndex, int& ALineCount);
  bool LockIndexStore();
  void UseMemoryStore(const std::string& AReason);
  bool ItemsLieInside(int64_t ASize);
  void KeepOrClearSavedIndex();
  void IndexSave();
  void IndexVersionCheck();
  void IndexError(uint32_t ACode, const std::string& AText);
  void DebugMessage(const std::string& AText);

  void MonitorChangesApply(bool AValue);
  void FlushTimerManage(int AMilliseconds);
  void DoLogGrow();
  void DoFlushChanges();
  // The log's first bytes as the last walk or step found them, to tell a log rewritten in
  // place from one that grew.
  static constexpr int64_t kHeadCheckBytes = 4096;
  uint32_t HeadCRC(int64_t ALength) const;
  void NoteHead();
  bool HeadStayed() const;
  // Where a growth step starts reading: at the old end, or at the start of a last line that
  // was still open (whose item it then replaces).
  int64_t GrowthStart(int64_t AOldSize);

  std::string FFileName;
  int64_t FFileSize = 0;
  platform::TReadOnlyFile HFile;  // open while the file has bytes and is mapped
  platform::TBlockView FView;     // the one block that is "mapped"
  std::unique_ptr<TrclDataHolder> FIndexData;
  int FMapBlockIndex = -1;
  int64_t FMapBlockOffset = -1;
  int FMapBlockEndIndex = 0;
  uint32_t FMapBlockSize = 0;
  bool FActive = false;
  // The view's bytes are [FMapPtrBegin, FMapPtrEnd): FMapPtrEnd is one past the last byte.
  const uint8_t* FMapPtrBegin = nullptr;
  const uint8_t* FMapPtrEnd = nullptr;
  const uint8_t* FMapPtr = nullptr;      // walk cursor: start of the line being found
  const uint8_t* FMapPtrNext = nullptr;  // start of the following line
  std::string FMapBetweenBlocksStr;      // joined copy of a line that spans two blocks
  int64_t FMapBetweenBlocksAPtr = 0;     // that line's file offset while it is the current one
  std::string FLastErrorText;
  std::string FLineCopy;  // GetView's line while a walk runs

  TLogMonitorChangeEvent FOnGrow;
  TDebugLogMessageEvent FOnDebugMessage;
  TCheckRecordEvent FOnCheckRecord;
  TCheckLineHealthEvent FOnCheckLineHealth;
  TProgressNotifyEvent FOnProgress;
  bool FIsFreezed = false;
  bool FNeedGrowAfterUnfreeze = false;
  bool FWholeLogGrowOnActive = false;
  bool FInNotificationState = false;
  bool FInScan = false;  // ScanLines is running
  bool FMonitorChanges = false;
  void* FOwnerStructPtr = nullptr;
  int FFlushChangesMS = 0;
  bool FUseFileIndex = false;
  std::string FIndexDataFolder;
  uint32_t FIndexErrorCode = 0;
  std::string FIndexErrorText;
  TrdlLogMonitorIndexState FIndexState = TrdlLogMonitorIndexState::ifsNone;
  uint32_t FLastFileLineCRC = 0;
  mutable platform::TReentrantLock csLive;
  TrdlLogMonitorOptions FOptions = 0;
  uint32_t FIndexDataVersion = 0;
  bool FIndexClearOnStart = false;
  std::shared_ptr<TDispatcher> FDispatcher;
  std::unique_ptr<TFileNotificator> FWatcher;
  std::unique_ptr<TrclTimer> FFlushTimer;
  platform::TFileIdentity FFileIdentity;  // of the file the index belongs to
  bool FLastLineOpen = false;
  bool FViewShort = false;                                     // the view holds fewer bytes than its block had at the walk
  int64_t FOpenTailOffset = -1;                                // where a final line without a CR starts (stored or not), else -1
  bool FSavedIndexKept = false;                                // IndexOpen kept a saved index: the next walk reads nothing
  bool FIndexComplete = false;                                 // the store holds a whole walk of the file
  std::string FIndexWarningText;                               // why the index is kept in memory for this run
  uint8_t FBreak = static_cast<uint8_t>(TrdlLineBreak::lbCR);  // the byte that ends lines
  uint32_t FPreferredBlockSize = 1048576;
  bool FReplaceLastItem = false;  // the walk's first line replaces the last item
  bool FIndexedAnew = false;      // the last growth step started again from the first line
  bool FFileGone = false;         // the last growth step found no file of the name
  int64_t FHeadLength = 0;        // how many first bytes FHeadCRC covers
  uint32_t FHeadCRC = 0;
};

}  // namespace velloran
