// TData: the one object through which the program reaches log data. It owns the line store
// of the open log and the row source, opens logs with progress, and parses one event line
// into a row when that row is asked for, discovering columns as it meets new tag names.
// A set of logs opens as one log: its records are numbered across the files, each knows its
// file, and one server's daily files read one after another while several servers' files
// are merged by time (see LogSetOrder.h).
//
// Threading: used from one thread (the GUI's, or the command line's main thread).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LogMonitor.h"
#include "LogSetOrder.h"
#include "LogTime.h"
#include "RecordSource.h"
#include "Rows.h"

namespace velloran {

// How the files of a set are ordered.
enum class TLogSetMerge {
  lsmAuto,    // one after another for one server (by the times of their first records), by time for several
  lsmConcat,  // one after another, whatever their servers
  lsmTime,    // merged by Timestamp, stable
};

struct TLogSetOptions {
  TLogSetMerge Merge = TLogSetMerge::lsmAuto;
  // The time zone of a file's local times (file name as given, zone text as TTimeZone reads
  // it): times are made UTC before they are merged. Files without one keep their times.
  std::vector<std::pair<std::string, std::string>> Zones;
};

// A zone that names no zone ("FILE=ZONE" of a set's options).
class ELogSetError : public ErdlLogMonitorError {
 public:
  using ErdlLogMonitorError::ErdlLogMonitorError;
};

class TData : public TRecordSource {
 public:
  TData();
  ~TData() override;
  TData(const TData&) = delete;
  TData& operator=(const TData&) = delete;

  // Opens (or reopens) a log: indexes it with progress through OnProgress and empties the
  // row cache. Columns of earlier logs stay. Monitor errors reach the caller; a cancelled
  // walk is no error (Count is then 0).
  void Open(const std::string& AFileName);
  // Opens several logs as one. A file that cannot be read or holds no events is skipped, a
  // file listed twice read once, and Notices() says so, naming them; so it says when files of
  // one server overlap in time (they are then merged by time) and when times of several
  // servers are merged without stated zones. Throws when no file can be opened (the first
  // file's error) and ELogSetError for a zone that names no zone. One file opens as Open
  // opens it.
  void OpenSet(const std::vector<std::string>& AFileNames, const TLogSetOptions& AOptions = {});
  // What the last OpenSet had to tell (empty after Open).
  const std::vector<std::string>& Notices() const { return FNotices; }
  // Adds a log after the last file of a set read one after another (a newer daily file): its
  // records follow. Throws what Open throws; false when cancelled or the set is merged.
  bool AppendFile(const std::string& AFileName);

  // The files of the open log or set, in set order (one for a single log).
  int FileCount() const { return static_cast<int>(FParts.size()); }
  const std::string& FileNameOf(int AFile) const { return FParts[static_cast<size_t>(AFile)].Path; }
  const TrdlLogMonitor& MonitorOf(int AFile) const { return *FParts[static_cast<size_t>(AFile)].Monitor; }
  TrdlLogMonitor& MonitorOf(int AFile) { return *FParts[static_cast<size_t>(AFile)].Monitor; }
  // The server a file's records come from (its Computer-Name; empty when it names none).
  const std::string& ServerOf(int AFile) const { return FParts[static_cast<size_t>(AFile)].Server; }
  bool IsSet() const { return FParts.size() > 1; }
  bool IsMerged() const { return FOrder.IsMerged(); }
  const TLogSetOrder& Order() const { return FOrder; }
  // The file and line of record ARecord.
  TLogSetOrder::TPlace Locate(int64_t ARecord) const;
  // The file of record ARecord, -1 outside the records.
  int FileOfRecord(int64_t ARecord) const;

  // Lines of the open log; 0 before the first Open and after a cancelled or failed one.
  int64_t Count() const;
  // The records a reader of a growing log shows: Count, less a last line whose writer has not
  // finished it (no line break after it yet, and the start of an event without its end). A
  // log whose final event lacks only its line break shows it.
  int64_t WholeCount();
  // Row AIndex into ARow; false for an index outside 0..Count-1.
  bool GetRow(int64_t AIndex, TrdlDataRow& ARow);
  TrdlDataColumns& Columns() { return FRows.Columns(); }

  // The record source of the open log (its rows bypass the row cache).
  int64_t RecordCount() const override { return Count(); }
  std::string_view RawRecord(int64_t AIndex) override;
  bool ParseRecord(int64_t AIndex, TrdlDataRow& ARow) override;
  int ServerGroupOf(int64_t AIndex) const override;
  // The open log; for a set, its first file.
  const std::string& FileName() const { return FFileName; }
  const TProgressNotifyEvent& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TProgressNotifyEvent AValue) { FOnProgress = std::move(AValue); }
  // The line store, for what only it knows (why a file could not be opened); for a set, its
  // last file's, the one that grows.
  const TrdlLogMonitor& LogMonitor() const { return *FLogMonitor; }
  TrdlLogMonitor& LogMonitor() { return *FLogMonitor; }

  // Whether one of the first AFirstLines lines is an accounting event (a line that parses into
  // at least one attribute): false for a file that is no log, such as /etc/passwd.
  bool HoldsEvents(int64_t AFirstLines = 1000);

  // Parses one event line (UTF-8) into ARow; true when the parse reached the event's end or
  // the line was empty. Items read before a fault stay in the row.
  bool ParseLine(std::string_view AText, TrdlDataRow& ARow);
  // A raw line of the log into ARow, as a record is parsed: ill-formed UTF-8 replaced first.
  // Needs no open log, so a TData can serve another thread as a parser of its own.
  bool ParseRaw(std::string_view ALine, TrdlDataRow& ARow);

  // The type of a new column from the text between its tag name and the ">" of its start
  // tag, beginning with the space after the name.
  static TrdlDataType DetectDataType(std::string_view AAttributes);
  // The characters after "0x" of a hexadecimal line, one character per decoded byte (its code
  // being the byte's value, written here as UTF-8); empty text for a bad character.
  static std::string HexToText(std::string_view AChars);
  // Whether ALine (after a byte-order mark) is in the hexadecimal form, which hides its text
  // from a search of the raw bytes.
  static bool IsHexLine(std::string_view ALine);

 private:
  void DoDataGetCount(int& ACount) const;
  void DoDataParse(int AIndex, TrdlDataRow& AItem);
  TrdlDataColumn* ColumnOf(const TrdlDataColumn* APrevious, std::string_view AName, std::string_view AAttributes);

  struct TPart {
    std::unique_ptr<TrdlLogMonitor> Monitor;
    std::string Path;
    std::string Server;
    int ServerGroup = 0;                            // files of one server share it; a file naming no server has its own
    std::optional<TTimePoint> FirstTime, LastTime;  // in UTC when a zone is stated
    std::optional<TTimeZone> Zone;
  };
  std::unique_ptr<TrdlLogMonitor> NewMonitor() const;
  bool WalkPart(TPart& APart, int64_t ADoneBytes, int64_t ATotalBytes);
  std::string_view PartLine(const TPart& APart, int64_t ALine) const;
  bool PartHoldsEvents(const TPart& APart);
  void NoteTimesAndServer(TPart& APart);
  void OrderParts(TLogSetMerge AMerge);
  void MergeByTime();
  void GroupServers();

  std::vector<TPart> FParts;
  TrdlLogMonitor* FLogMonitor = nullptr;  // the last part's
  TLogSetOrder FOrder;
  std::vector<std::string> FNotices;
  TrdlDataRows FRows;
  std::string FFileName;
  TProgressNotifyEvent FOnProgress;

  // Reused between rows so that parsing allocates nothing once the buffers have grown.
  std::string FRepaired;
  std::string FHexDecoded;
  // Column lookup without scanning the column list. First guess: the column that followed
  // the previous one the last time it was met (lines of one kind list their attributes in
  // the same order). Then every spelling met so far, exactly as written, in a small open
  // hash table. Only the parser adds columns, and only for names the list lacks, so no two
  // columns are equal ignoring case: whatever these find is what ColumnByName would find.
  struct TSuccessor {
    const TrdlDataColumn* Previous = nullptr;
    TrdlDataColumn* Next = nullptr;
  };
  struct TSpelling {
    uint64_t Hash = 0;
    std::string Name;
    TrdlDataColumn* Column = nullptr;
  };
  TrdlDataColumn* FindSpelling(std::string_view AName, uint64_t AHash) const;
  void AddSpelling(std::string_view AName, uint64_t AHash, TrdlDataColumn* AColumn);
  std::array<TSuccessor, 256> FSuccessors{};
  std::vector<TSpelling> FSpellings = std::vector<TSpelling>(64);  // size a power of two
  size_t FSpellingCount = 0;
};

}  // namespace velloran
