// Writes every record of the open log to a CSV or XML file (UTF-8 without a byte-order mark,
// CR LF line ends), with progress and cancel.
//
// CSV is a table that PostgreSQL's COPY (FORMAT csv), spreadsheets and Python's csv module
// read alike: one row per record and one column per column of the log, each value under its
// column's name. Without a column list the columns are every column of the log in discovery
// order, found by a scan of the raw lines before the rows are written (see ColumnScan.h).
// Fields follow RFC 4180: one holding the separator, a double quote, CR or LF is enclosed in
// double quotes with its double quotes doubled. Values are written decoded (the log's "&amp;"
// is "&"); a present but empty value is "" and a missing one nothing (PostgreSQL: empty text
// and NULL); the values of an attribute that repeats in a record share its field, joined by
// LF; a field that is exactly \. is quoted (unquoted it would end a psql \copy); NUL, which no
// CSV reader takes, becomes U+FFFD.
//
// XML keeps values escaped as the log holds them, one record a line, every line well-formed:
// CR and LF in a value become &#13; and &#10; (so a record stays one line and a reader gets the
// characters back), characters XML 1.0 cannot hold (other C0 controls than TAB, U+FFFE,
// U+FFFF, and references to them) become U+FFFD, an "&" that starts no well-formed reference
// becomes &amp; and "]]>" becomes "]]&gt;".
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "CodeNames.h"
#include "ColumnScan.h"
#include "LogData.h"
#include "LogMonitor.h"
#include "PlatformFile.h"
#include "Rows.h"

namespace velloran {

enum class TDataExportFormat { efCSV, efXML };

// The format an output file's name asks for: CSV when it ends in ".csv" in any letter case,
// XML otherwise. The viewer and the command line both decide by it, so one name gives one
// format everywhere.
TDataExportFormat ExportFormatOfFileName(std::string_view AFileName);

// An export that must not start (its output is the log being read).
class EDataExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TDataExportParams {
  TDataExportFormat Format = TDataExportFormat::efXML;
  std::string FileName;
  // Column names separated by ",", ";" or "|": CSV has these columns under these names, XML
  // the values of these columns. Empty: CSV has every column of the log, XML every value in
  // line order.
  std::string Columns;
  // The CSV separator, written as one byte (the low 8 bits of its code).
  char32_t Separator = U',';
  bool WithHeader = true;
  // Coded values as their names ("Access-Reject" for a Packet-Type of 3); a value the table
  // does not name stays a number.
  bool Names = false;
  // Only these records, ascending (the matches of a filter); null: every record.
  const std::vector<uint32_t>* Records = nullptr;
};

class TDataExporter {
 public:
  // Reads the records of AData, which must outlive the exporter.
  explicit TDataExporter(TData& AData) : FData(AData) {}

  // Writes the file AParams describes: true when every record was processed, false when
  // cancelled (the file keeps what was written). The records are written beside the file and
  // take its place when done or cancelled, so a failed export leaves an existing file as it
  // was. File errors throw std::system_error naming the file; an output that is the log
  // itself throws EDataExportError before anything is written; a log that shrank while it was
  // read throws ErdlLogMonitorShrank, the records written until then kept in the file.
  bool Execute(const TDataExportParams& AParams);

  const TProgressNotifyEvent& OnProgress() const { return FOnProgress; }
  void SetOnProgress(TProgressNotifyEvent AValue) { FOnProgress = std::move(AValue); }

  // After an export that processed every record: the listed columns that no record has, as
  // listed (empty without a column list).
  const std::vector<std::string>& MissingColumns() const { return FMissingColumns; }
  // Characters of the last export that its format cannot hold and that were written as
  // U+FFFD: NUL in CSV; in XML those named at the top of this file.
  int64_t ReplacedCharacters() const { return FReplaced; }

 private:
  // An output column: the values of one column of the log in the current record.
  struct TSlot {
    TCodedAttribute Codes;
    uint64_t Record = 0;  // the record whose items First..Last are; another: no value
    int First = -1;       // its first item in the row, the rest chained through FNextItem
    int Last = -1;
    bool Met = false;  // some record had a value
  };
  struct TColumnSlot {
    const TrdlDataColumn* Column = nullptr;
    int Slot = -1;
  };

  // The number of the AIndex-th record to write.
  int64_t RecordAt(int64_t AIndex) const {
    return FParams.Records != nullptr ? static_cast<int64_t>((*FParams.Records)[static_cast<size_t>(AIndex)]) : AIndex;
  }
  bool ExportDirectly();
  bool ExportWithProgress(platform::TOutputFile& AStream);
  void PrepareSlots();
  bool ScanColumns(bool& ACancel);
  bool ExportRows(platform::TOutputFile& AStream, bool& ACancel);
  int SlotOf(const TrdlDataColumn* AColumn);
  int AddSlot(std::string_view AName);
  void CollectSlots();
  void WriteCsvHeader(platform::TOutputFile& AStream);
  void WriteCsvLine(platform::TOutputFile& AStream);
  void AppendCsvText(std::string_view ARaw, const TSlot& ASlot, std::string& AOut);
  size_t FirstCsvSpecial(std::string_view AText) const;
  size_t FirstXmlSpecial(std::string_view AText) const;
  // AText as one field; AFirstSpecial: FirstCsvSpecial(AText).
  void WriteCsvField(platform::TOutputFile& AStream, std::string_view AText, size_t AFirstSpecial);
  void WriteCsvQuoted(platform::TOutputFile& AStream, std::string_view AText);
  void WriteXmlLine(platform::TOutputFile& AStream);
  void WriteXmlElement(platform::TOutputFile& AStream, const TrdlDataRowItem& AItem, const TSlot* ASlot);
  void WriteXmlValue(platform::TOutputFile& AStream, std::string_view ARaw);
  size_t WriteXmlReference(platform::TOutputFile& AStream, std::string_view ARaw, size_t AAt);
  static void WriteXmlText(platform::TOutputFile& AStream, std::string_view AText);
  bool Progress(int64_t APart, int64_t AWhole, bool& ACancel);
  bool DoProgress(int APercents, bool& ACancel);

  TData& FData;
  TrdlDataRow FRow;
  TDataExportParams FParams;
  TProgressNotifyEvent FOnProgress;
  TProgressSteps FSteps;
  int64_t FCount = 0;  // the records exported
  char FSeparator = ',';
  bool FCsv = false;
  // Without a column list a CSV export scans for the log's columns first, and an XML export
  // writes every item under its own column (a slot is then made for each column met).
  bool FScan = false;
  bool FEveryColumn = false;
  // Bytes that need a look in a CSV field: those that make it quoted, NUL, and "&" (in a raw
  // value, perhaps a reference to decode).
  std::array<bool, 256> FCsvSpecial{};
  std::array<bool, 256> FXmlSpecial{};  // bytes that may start something XML cannot hold as it is

  TColumnNames FSlotNames;  // one name per slot, at the slot's index
  std::vector<TSlot> FSlots;
  std::vector<int> FPositions;            // the slot of each output column, in output order
  std::vector<std::string> FHeaderNames;  // the name of each output column, as listed or found
  std::vector<int> FNextItem;             // of each item of the row: the next item of its slot, or -1
  std::vector<TColumnSlot> FColumnSlots = std::vector<TColumnSlot>(64);  // open hash, power of two
  size_t FColumnSlotCount = 0;
  std::vector<TColumnSlot> FItemSlots;  // by item index: the column and slot it had last
  uint64_t FRecord = 0;
  std::string FField;  // a decoded or joined field being built
  std::string FReference;
  std::vector<std::string> FMissingColumns;
  int64_t FReplaced = 0;
};

}  // namespace velloran
