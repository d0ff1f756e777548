// TData: the one object through which the program reaches log data. It owns the line store
// of the open log and the row source, opens logs with progress, and parses one event line
// into a row when that row is asked for, discovering columns as it meets new tag names.
//
// Threading: used from one thread (the GUI's, or the command line's main thread).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "LogMonitor.h"
#include "RecordSource.h"
#include "Rows.h"

namespace velloran {

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
  const std::string& FileName() const { return FFileName; }
  const TProgressNotifyEvent& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TProgressNotifyEvent AValue) { FOnProgress = std::move(AValue); }
  // The line store, for what only it knows (why a file could not be opened).
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

  std::unique_ptr<TrdlLogMonitor> FLogMonitor;
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
