#include "Exporter.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "PlatformFile.h"
#include "PlatformText.h"
#include "Progress.h"

namespace velloran {

namespace {
constexpr size_t kBufferSize = 32768;
constexpr std::string_view kLineEnd = "\r\n";

// ".NAME.PID.part" in OUT's folder: the same file system, so the rename is atomic.
std::string PartFileName(const std::string& AOut) {
  const std::filesystem::path out(AOut);
  std::string name(1, '.');  // appends: g++ 12 misreads "literal" + std::string at -O3
  name.append(out.filename().string()).append(1, '.').append(std::to_string(::getpid())).append(".part");
  return (out.parent_path() / name).string();
}

void CloseQuietly(platform::TOutputFile& AStream) {
  try {
    AStream.Close();
  } catch (...) {  // NOLINT(bugprone-empty-catch): the first error is the one to report
  }
}

// The stream's error names the part file; the user knows only OUT.
[[noreturn]] void ThrowNamingOut(const std::system_error& AError, const std::string& APart, const std::string& AOut) {
  std::string text = AError.what();
  std::string reason(": ");
  reason.append(AError.code().message());
  if (text.size() >= reason.size() && text.compare(text.size() - reason.size(), reason.size(), reason) == 0) {
    text.erase(text.size() - reason.size());
  }
  for (size_t at = text.find(APart); at != std::string::npos; at = text.find(APart, at + AOut.size()))
    text.replace(at, APart.size(), AOut);
  throw std::system_error(AError.code(), text);
}

void PutInPlace(const std::string& APart, const std::string& AOut) {
  std::error_code error;
  std::filesystem::rename(APart, AOut, error);
  if (error) {
    std::filesystem::remove(APart, error);
    throw std::system_error(error, "Cannot write " + AOut);
  }
}

}  // namespace

TDataExportFormat ExportFormatOfFileName(std::string_view AFileName) {
  return platform::EndsWithIgnoringAsciiCase(AFileName, ".csv") ? TDataExportFormat::efCSV : TDataExportFormat::efXML;
}

bool TDataExporter::Execute(const TDataExportParams& AParams) {
  FParams = AParams;
  FEnumerator.SetColumns(FParams.Columns);
  FSeparator = static_cast<char>(static_cast<unsigned char>(FParams.Separator & 0xFF));
  FQuoteTriggers.fill(false);
  for (const char c : {FSeparator, '"', '\r', '\n'}) FQuoteTriggers[static_cast<unsigned char>(c)] = true;

  // Creating the output empties it: were it the log being read, the log would be lost and
  // the export would read the emptied file.
  if (platform::SameFile(FParams.FileName, FData.FileName())) {
    throw EDataExportError("Cannot export " + FData.FileName() + " onto itself: " + FParams.FileName + " is the log being read");
  }
  // The records go to a file beside OUT that takes OUT's place only when it is done: an export
  // that fails (a full disk, a log that shrank) must not have destroyed the previous OUT.
  // A device or a pipe (/dev/stdout, a FIFO) is written as it is: it has no place to take.
  std::error_code statusError;
  const auto status = std::filesystem::status(FParams.FileName, statusError);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return ExportDirectly();
  const std::string part = PartFileName(FParams.FileName);
  platform::TOutputFile stream(kBufferSize);
  try {
    stream.Create(part);
  } catch (const std::system_error& e) {
    ThrowNamingOut(e, part, FParams.FileName);
  }
  bool result = false;
  try {
    result = ExportWithProgress(stream);
    stream.Close();
  } catch (const ErdlLogMonitorShrank&) {
    // The records written so far are right, only the rest is gone: they are kept, as after a
    // cancel, and the error names the log.
    CloseQuietly(stream);
    PutInPlace(part, FParams.FileName);
    throw;
  } catch (const std::system_error& e) {
    CloseQuietly(stream);
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
    ThrowNamingOut(e, part, FParams.FileName);
  } catch (...) {
    CloseQuietly(stream);
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
    throw;
  }
  // Cancelled or complete: what was written takes OUT's place (a cancel keeps its records).
  PutInPlace(part, FParams.FileName);
  return result;
}

bool TDataExporter::ExportDirectly() {
  platform::TOutputFile stream(kBufferSize);
  stream.Create(FParams.FileName);
  bool result = false;
  try {
    result = ExportWithProgress(stream);
  } catch (...) {
    CloseQuietly(stream);
    throw;
  }
  stream.Close();
  return result;
}

// 0 %, the records, 100 %: false when cancelled.
bool TDataExporter::ExportWithProgress(platform::TOutputFile& AStream) {
  bool cancel = false;
  if (DoProgress(0, cancel)) return false;
  const bool result = ExportRows(AStream);
  if (result) DoProgress(100, cancel);
  return result;
}

bool TDataExporter::ExportRows(platform::TOutputFile& AStream) {
  const int64_t count = FData.Count();
  TProgressSteps steps;
  bool cancel = false;
  for (int64_t i = 0; i < count; ++i) {
    if (!FData.GetRow(i, FRow)) continue;
    if (FParams.Format == TDataExportFormat::efCSV) {
      if (i == 0 && FParams.WithHeader) WriteCsvLine(AStream, true);
      WriteCsvLine(AStream, false);
    } else {
      WriteXmlLine(AStream);
    }
    if (const int percents = steps.Due(i, count); percents >= 0) DoProgress(percents, cancel);
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
