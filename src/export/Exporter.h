// Writes every record of the open log to a CSV or XML file (UTF-8 without a byte-order mark,
// CR LF line ends), with progress and cancel.
//
// CSV fields follow RFC 4180: a name or value holding the separator, a double quote, CR or LF
// is enclosed in double quotes with its double quotes doubled, so every record stays one row
// and every value one column. Other fields are written unchanged.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

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
  // Column names separated by ",", ";" or "|"; empty: every value in line order.
  std::string Columns;
  // The CSV separator, written as one byte (the low 8 bits of its code).
  char32_t Separator = U',';
  bool WithHeader = true;
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

 private:
  bool ExportDirectly();
  bool ExportWithProgress(platform::TOutputFile& AStream);
  bool ExportRows(platform::TOutputFile& AStream);
  void WriteCsvLine(platform::TOutputFile& AStream, bool AHeader);
  void WriteCsvField(platform::TOutputFile& AStream, const std::string& AText) const;
  void WriteXmlLine(platform::TOutputFile& AStream);
  bool DoProgress(int APercents, bool& ACancel);

  TData& FData;
  TrdlDataRow FRow;
  TDataExportParams FParams;
  TProgressNotifyEvent FOnProgress;
  TrdlDataRowEnumerator FEnumerator;
  char FSeparator = ',';
  std::array<bool, 256> FQuoteTriggers{};  // bytes that make a CSV field need quotes
};

}  // namespace velloran
