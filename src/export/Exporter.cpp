#include "Exporter.h"

#include <system_error>

#include "PlatformFile.h"
#include "Globals.h"

namespace velloran {

namespace {
constexpr size_t kBufferSize = 32768;
constexpr std::string_view kLineEnd = "\r\n";
}  // namespace

bool TDataExporter::Execute(const TDataExportParams& AParams) {
  FParams.Assign(AParams);
  FEnumerator.SetColumns(FParams.Columns);
  FSeparator = static_cast<char>(static_cast<unsigned char>(FParams.Separator & 0xFF));
  FQuoteTriggers.fill(false);
  for (const char c : {FSeparator, '"', '\r', '\n'}) FQuoteTriggers[static_cast<unsigned char>(c)] = true;
  TData* data = FData != nullptr ? FData : GlobalData;

  // Creating the output empties it: were it the log being read, the log would be lost and
  // the export would read the emptied file.
  if (data != nullptr && platform::SameFile(FParams.FileName, data->FileName())) {
    throw EDataExportError("Cannot export " + data->FileName() + " onto itself: " + FParams.FileName + " is the log being read");
  }
  platform::TOutputFile stream(kBufferSize);
  stream.Create(FParams.FileName);
  bool cancel = false;
  if (DoProgress(0, cancel)) {
    stream.Close();
    return false;
  }
  bool result = false;
  try {
    result = data != nullptr && ExportRows(*data, stream);
    if (result) DoProgress(100, cancel);
  } catch (...) {
    try {
      stream.Close();
    } catch (...) {  // NOLINT(bugprone-empty-catch): the first error is the one to report
    }
    throw;
  }
  stream.Close();
  return result;
}

bool TDataExporter::ExportRows(TData& AData, platform::TOutputFile& AStream) {
  const int64_t count = AData.Count();
  int last = 0;
  bool cancel = false;
  for (int64_t i = 0; i < count; ++i) {
    if (!AData.GetRow(i, FRow)) continue;
    if (FParams.Format == TDataExportFormat::efCSV) {
      if (i == 0 && FParams.WithHeader) WriteCsvLine(AStream, true);
      WriteCsvLine(AStream, false);
    } else {
      WriteXmlLine(AStream);
    }
    const int percents = PercentOf(i, count);
    if (percents > last + 1) {
      last = percents;
      DoProgress(percents, cancel);
    }
    if (cancel) return false;
  }
  return true;
}

void TDataExporter::WriteCsvLine(platform::TOutputFile& AStream, bool AHeader) {
  bool first = true;
  for (TrdlDataRowItem* item = FEnumerator.GetFirst(&FRow); !FEnumerator.IsEOF(); item = FEnumerator.GetNext()) {
    if (!first) AStream.Write(FSeparator);
    first = false;
    if (item == nullptr) continue;  // a listed column the record lacks: an empty field
    if (AHeader) {
      if (item->Column() != nullptr) WriteCsvField(AStream, item->Column()->ColumnName());
    } else {
      WriteCsvField(AStream, item->RawText());
    }
  }
  AStream.Write(kLineEnd);
}

void TDataExporter::WriteCsvField(platform::TOutputFile& AStream, const std::string& AText) const {
  // One pass with a table: fields are short, and four searches per field cost more than
  // the writing.
  bool needsQuotes = false;
  for (const char c : AText) {
    if (FQuoteTriggers[static_cast<unsigned char>(c)]) {
      needsQuotes = true;
      break;
    }
  }
  if (!needsQuotes) {
    AStream.Write(AText);
    return;
  }
  AStream.Write('"');
  size_t start = 0;
  for (size_t quote = AText.find('"'); quote != std::string::npos; quote = AText.find('"', start)) {
    AStream.Write(std::string_view(AText).substr(start, quote + 1 - start));
    AStream.Write('"');
    start = quote + 1;
  }
  AStream.Write(std::string_view(AText).substr(start));
  AStream.Write('"');
}

void TDataExporter::WriteXmlLine(platform::TOutputFile& AStream) {
  AStream.Write(std::string_view{"<Event>"});
  for (TrdlDataRowItem* item = FEnumerator.GetFirst(&FRow); !FEnumerator.IsEOF(); item = FEnumerator.GetNext()) {
    if (item == nullptr || item->Column() == nullptr) continue;
    const std::string& name = item->Column()->ColumnName();
    AStream.Write('<');
    AStream.Write(name);
    AStream.Write('>');
    AStream.Write(item->RawText());
    AStream.Write(std::string_view{"</"});
    AStream.Write(name);
    AStream.Write('>');
  }
  AStream.Write(std::string_view{"</Event>\r\n"});
}

bool TDataExporter::DoProgress(int APercents, bool& ACancel) {
  if (FOnProgress) FOnProgress(this, APercents, ACancel);
  return ACancel;
}

}  // namespace velloran
