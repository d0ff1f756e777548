#include "Exporter.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "DecodedText.h"
#include "PlatformFile.h"
#include "PlatformText.h"
#include "Progress.h"

namespace velloran {

namespace {
constexpr size_t kBufferSize = 32768;
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
// The column scan takes the first part of the progress range, as much as its share of the
// time (about a quarter on the bench log), the rows the rest; both report by the same rule,
// and a cancel ends either.
constexpr int64_t kScanShare = 1;
constexpr int64_t kRowsShare = 3;

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
  FCsv = FParams.Format == TDataExportFormat::efCSV;
  FEveryColumn = FParams.Columns.empty();
  FScan = FCsv && FEveryColumn;
  FSeparator = static_cast<char>(static_cast<unsigned char>(FParams.Separator & 0xFF));
  FCsvSpecial.fill(false);
  for (const char c : {FSeparator, '"', '\r', '\n', '\0', '&'}) FCsvSpecial[static_cast<unsigned char>(c)] = true;
  FXmlSpecial.fill(false);
  for (unsigned c = 0; c < 0x20; ++c) FXmlSpecial[c] = c != '\t';
  for (const char c : {'&', ']', '\xEF'})
    FXmlSpecial[static_cast<unsigned char>(c)] = true;  // references, "]]>", U+FFFE and U+FFFF
  FMissingColumns.clear();
  FReplaced = 0;
  PrepareSlots();

  // Creating the output empties it: were it the log being read, or any file of the set being
  // read, that log would be lost and the export would read the emptied file.
  for (int file = 0; file < FData.FileCount(); ++file) {
    const std::string& log = FData.FileNameOf(file);
    if (!platform::SameFile(FParams.FileName, log)) continue;
    if (!FData.IsSet())
      throw EDataExportError("Cannot export " + log + " onto itself: " + FParams.FileName + " is the log being read");
    throw EDataExportError("Cannot export the set of " + std::to_string(FData.FileCount()) + " logs onto " + log + ": " +
                           FParams.FileName + " is one of the logs being read");
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

// 0 %, the column scan when there is one, the records, 100 %: false when cancelled.
bool TDataExporter::ExportWithProgress(platform::TOutputFile& AStream) {
  bool cancel = false;
  FSteps = TProgressSteps();
  // Both passes take the records there are now: a log that grows meanwhile (the viewer's
  // progress lets its growth in) must not bring rows with columns the scan did not see.
  FCount = FData.Count();
  if (FParams.Records != nullptr) {
    const auto& records = *FParams.Records;
    FCount = std::lower_bound(records.begin(), records.end(), static_cast<uint32_t>(std::min<int64_t>(FCount, UINT32_MAX))) -
             records.begin();
  }
  if (DoProgress(0, cancel)) return false;
  if (FScan && !ScanColumns(cancel)) return false;
  if (!ExportRows(AStream, cancel)) return false;
  if (!FEveryColumn) {
    for (size_t position = 0; position < FPositions.size(); ++position) {
      if (!FSlots[static_cast<size_t>(FPositions[position])].Met) FMissingColumns.push_back(FHeaderNames[position]);
    }
  }
  DoProgress(100, cancel);
  return true;
}

void TDataExporter::PrepareSlots() {
  FSlotNames = TColumnNames();
  FSlots.clear();
  FPositions.clear();
  FHeaderNames.clear();
  std::fill(FColumnSlots.begin(), FColumnSlots.end(), TColumnSlot());
  FColumnSlotCount = 0;
  FItemSlots.clear();
  FRecord = 0;
  if (FEveryColumn) return;
  TrdlDataRowEnumerator listed;
  listed.SetColumns(FParams.Columns);
  for (const std::string& name : listed.ColumnNames()) {
    FPositions.push_back(AddSlot(name));
    FHeaderNames.push_back(name);
  }
}

int TDataExporter::AddSlot(std::string_view AName) {
  const int slot = FSlotNames.Add(AName);
  if (slot == static_cast<int>(FSlots.size())) {
    FSlots.emplace_back();
    FSlots.back().Codes = TCodedAttribute::Of(AName);
  }
  return slot;
}

bool TDataExporter::Progress(int64_t APart, int64_t AWhole, bool& ACancel) {
  if (const int percents = FSteps.Due(APart, AWhole); percents >= 0) DoProgress(percents, ACancel);
  return ACancel;
}

bool TDataExporter::ScanColumns(bool& ACancel) {
  const int64_t count = FCount;
  TColumnScan scan;
  for (int64_t i = 0; i < count; ++i) {
    scan.AddLine(FData.RawRecord(RecordAt(i)));
    if (Progress(i * kScanShare, count * (kScanShare + kRowsShare), ACancel)) return false;
  }
  for (const std::string& name : scan.Columns().Names()) {
    FPositions.push_back(AddSlot(name));
    FHeaderNames.push_back(name);
  }
  return true;
}

bool TDataExporter::ExportRows(platform::TOutputFile& AStream, bool& ACancel) {
  const int64_t count = FCount;
  const int64_t whole = FScan ? count * (kScanShare + kRowsShare) : count;
  // No columns (a log without events): no header and no rows of nothing.
  const bool csvRows = FCsv && !FPositions.empty();
  if (csvRows && FParams.WithHeader) WriteCsvHeader(AStream);
  for (int64_t i = 0; i < count; ++i) {
    const int64_t record = RecordAt(i);
    if (FCsv) {
      if (csvRows && FData.ParseRecord(record, FRow)) {
        CollectSlots();
        WriteCsvLine(AStream);
      }
    } else if (FData.ParseRecord(record, FRow)) {
      if (!FEveryColumn) CollectSlots();
      WriteXmlLine(AStream);
    }
    if (Progress(FScan ? count * kScanShare + i * kRowsShare : i, whole, ACancel)) return false;
  }
  return true;
}

int TDataExporter::SlotOf(const TrdlDataColumn* AColumn) {
  if (AColumn == nullptr) return -1;
  // Columns are few and live as long as the data: their slots are found once, by name, and
  // then by address.
  size_t mask = FColumnSlots.size() - 1;
  size_t at = (reinterpret_cast<uintptr_t>(AColumn) >> 4) & mask;
  for (; FColumnSlots[at].Column != nullptr; at = (at + 1) & mask) {
    if (FColumnSlots[at].Column == AColumn) return FColumnSlots[at].Slot;
  }
  int slot = FSlotNames.IndexOf(AColumn->ColumnName());
  if (slot < 0 && FEveryColumn && !FScan) slot = AddSlot(AColumn->ColumnName());
  if ((FColumnSlotCount + 1) * 2 > FColumnSlots.size()) {
    // At most half full, so that probes stay short and always end.
    std::vector<TColumnSlot> old(FColumnSlots.size() * 2);
    old.swap(FColumnSlots);
    mask = FColumnSlots.size() - 1;
    for (const TColumnSlot& entry : old) {
      if (entry.Column == nullptr) continue;
      size_t free = (reinterpret_cast<uintptr_t>(entry.Column) >> 4) & mask;
      while (FColumnSlots[free].Column != nullptr) free = (free + 1) & mask;
      FColumnSlots[free] = entry;
    }
    at = (reinterpret_cast<uintptr_t>(AColumn) >> 4) & mask;
    while (FColumnSlots[at].Column != nullptr) at = (at + 1) & mask;
  }
  FColumnSlots[at] = TColumnSlot{AColumn, slot};
  ++FColumnSlotCount;
  return slot;
}

// Gathers the items of the row by slot, in line order, without clearing anything: a slot's
// items belong to the current record only while its Record says so.
void TDataExporter::CollectSlots() {
  ++FRecord;
  const int count = FRow.Count();
  if (FNextItem.size() < static_cast<size_t>(count)) FNextItem.resize(static_cast<size_t>(count));
  if (FItemSlots.size() < static_cast<size_t>(count)) FItemSlots.resize(static_cast<size_t>(count));
  for (int k = 0; k < count; ++k) {
    // Records of one kind list their columns in one order: the column the item at k had last
    // time is the first guess.
    const TrdlDataColumn* column = FRow.Items(k)->Column();
    TColumnSlot& guess = FItemSlots[static_cast<size_t>(k)];
    if (guess.Column != column || column == nullptr) guess = TColumnSlot{column, SlotOf(column)};
    const int s = guess.Slot;
    if (s < 0) continue;
    TSlot& slot = FSlots[static_cast<size_t>(s)];
    FNextItem[static_cast<size_t>(k)] = -1;
    if (slot.Record != FRecord) {
      slot.Record = FRecord;
      slot.First = k;
      slot.Met = true;
    } else {
      FNextItem[static_cast<size_t>(slot.Last)] = k;
    }
    slot.Last = k;
  }
}

void TDataExporter::WriteCsvHeader(platform::TOutputFile& AStream) {
  for (size_t position = 0; position < FHeaderNames.size(); ++position) {
    if (position > 0) AStream.Write(FSeparator);
    WriteCsvField(AStream, FHeaderNames[position], FirstCsvSpecial(FHeaderNames[position]));
  }
  AStream.Write(kLineEnd);
}

void TDataExporter::WriteCsvLine(platform::TOutputFile& AStream) {
  bool first = true;
  for (const int s : FPositions) {
    if (!first) AStream.Write(FSeparator);
    first = false;
    const TSlot& slot = FSlots[static_cast<size_t>(s)];
    if (slot.Record != FRecord) continue;  // the record lacks the column: nothing (NULL)
    if (slot.First == slot.Last && !(FParams.Names && slot.Codes.HasNames())) {
      // The common case, one value that holds no reference: its own text, without a copy.
      const std::string& raw = FRow.Items(slot.First)->RawText();
      const size_t special = FirstCsvSpecial(raw);
      if (raw.find('&', special) == std::string::npos) {
        WriteCsvField(AStream, raw, special);
        continue;
      }
    }
    FField.clear();
    for (int k = slot.First; k >= 0; k = FNextItem[static_cast<size_t>(k)]) {
      if (k != slot.First) FField.push_back('\n');
      AppendCsvText(FRow.Items(k)->RawText(), slot, FField);
    }
    WriteCsvField(AStream, FField, FirstCsvSpecial(FField));
  }
  AStream.Write(kLineEnd);
}

void TDataExporter::AppendCsvText(std::string_view ARaw, const TSlot& ASlot, std::string& AOut) {
  if (FParams.Names && ASlot.Codes.HasNames()) {
    if (const std::string_view name = ASlot.Codes.NameOfText(ARaw); !name.empty()) {
      AOut.append(name);
      return;
    }
  }
  AppendDecodedText(ARaw, AOut);
}

// One pass with a table: fields are short, and a search per special byte would cost more than
// the writing (as would vector compares, whose setup a short value does not repay).
size_t TDataExporter::FirstCsvSpecial(std::string_view AText) const {
  return static_cast<size_t>(
      std::find_if(AText.begin(), AText.end(), [this](char c) { return FCsvSpecial[static_cast<unsigned char>(c)]; }) -
      AText.begin());
}

size_t TDataExporter::FirstXmlSpecial(std::string_view AText) const {
  return static_cast<size_t>(
      std::find_if(AText.begin(), AText.end(), [this](char c) { return FXmlSpecial[static_cast<unsigned char>(c)]; }) -
      AText.begin());
}

void TDataExporter::WriteCsvField(platform::TOutputFile& AStream, std::string_view AText, size_t AFirstSpecial) {
  if (AText.empty()) {
    AStream.Write(std::string_view{"\"\""});  // present but empty: not the nothing of a missing value
  } else if (AFirstSpecial == AText.size() && AText != "\\.") {
    AStream.Write(AText);
  } else {
    WriteCsvQuoted(AStream, AText);
  }
}

void TDataExporter::WriteCsvQuoted(platform::TOutputFile& AStream, std::string_view AText) {
  // "\." alone on a line ends the data of a psql \copy; quoted it is a value.
  bool quote = AText == "\\.";
  for (const char c : AText) quote = quote || c == FSeparator || c == '"' || c == '\r' || c == '\n';
  if (quote) AStream.Write('"');
  size_t start = 0;
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == '"') {
      AStream.Write(AText.substr(start, i + 1 - start));
      AStream.Write('"');
      start = i + 1;
    } else if (AText[i] == '\0') {
      AStream.Write(AText.substr(start, i - start));
      AStream.Write(kReplacement);
      ++FReplaced;
      start = i + 1;
    }
  }
  AStream.Write(AText.substr(start));
  if (quote) AStream.Write('"');
}

void TDataExporter::WriteXmlLine(platform::TOutputFile& AStream) {
  AStream.Write(std::string_view{"<Event>"});
  if (FEveryColumn) {
    for (int k = 0; k < FRow.Count(); ++k) {
      const TrdlDataRowItem& item = *FRow.Items(k);
      const int s = FParams.Names ? SlotOf(item.Column()) : -1;
      WriteXmlElement(AStream, item, s >= 0 ? &FSlots[static_cast<size_t>(s)] : nullptr);
    }
  } else {
    for (const int s : FPositions) {
      const TSlot& slot = FSlots[static_cast<size_t>(s)];
      if (slot.Record != FRecord) continue;
      for (int k = slot.First; k >= 0; k = FNextItem[static_cast<size_t>(k)]) WriteXmlElement(AStream, *FRow.Items(k), &slot);
    }
  }
  AStream.Write(std::string_view{"</Event>\r\n"});
}

void TDataExporter::WriteXmlElement(platform::TOutputFile& AStream, const TrdlDataRowItem& AItem, const TSlot* ASlot) {
  if (AItem.Column() == nullptr) return;
  const std::string& name = AItem.Column()->ColumnName();
  AStream.Write('<');
  AStream.Write(name);
  AStream.Write('>');
  std::string_view codeName;
  if (ASlot != nullptr && FParams.Names && ASlot->Codes.HasNames()) codeName = ASlot->Codes.NameOfText(AItem.RawText());
  if (codeName.empty()) {
    WriteXmlValue(AStream, AItem.RawText());
  } else {
    WriteXmlText(AStream, codeName);
  }
  AStream.Write(std::string_view{"</"});
  AStream.Write(name);
  AStream.Write('>');
}

void TDataExporter::WriteXmlValue(platform::TOutputFile& AStream, std::string_view ARaw) {
  const auto isSpecial = [this](char c) { return FXmlSpecial[static_cast<unsigned char>(c)]; };
  size_t i = FirstXmlSpecial(ARaw);
  if (i == ARaw.size()) {
    AStream.Write(ARaw);  // the common case: as the log holds it
    return;
  }
  size_t start = 0;
  while (i < ARaw.size()) {
    const char c = ARaw[i];
    if (!isSpecial(c)) {
      ++i;
      continue;
    }
    AStream.Write(ARaw.substr(start, i - start));
    if (c == '&') {
      i += WriteXmlReference(AStream, ARaw, i);
    } else if (c == '\r' || c == '\n') {
      // As references, so that the record stays one line and a reader still gets the character.
      AStream.Write(c == '\r' ? std::string_view{"&#13;"} : std::string_view{"&#10;"});
      ++i;
    } else if (c == ']') {
      const bool sectionEnd = ARaw.substr(i, 3) == "]]>";  // not allowed in content
      AStream.Write(sectionEnd ? std::string_view{"]]&gt;"} : std::string_view{"]"});
      i += sectionEnd ? 3 : 1;
    } else if (c == '\xEF') {
      const std::string_view three = ARaw.substr(i, 3);
      const bool nonCharacter = three == "\xEF\xBF\xBE" || three == "\xEF\xBF\xBF";  // U+FFFE, U+FFFF
      AStream.Write(nonCharacter ? kReplacement : std::string_view{"\xEF"});
      FReplaced += nonCharacter ? 1 : 0;
      i += nonCharacter ? 3 : 1;
    } else {
      AStream.Write(kReplacement);  // a C0 control character other than TAB, CR and LF
      ++FReplaced;
      ++i;
    }
    start = i;
  }
  AStream.Write(ARaw.substr(start));
}

namespace {

// A character a reference may stand for in XML 1.0 (ADecoded: one character in UTF-8).
bool XmlHolds(std::string_view ADecoded) {
  if (ADecoded.size() == 1) {
    const auto c = static_cast<unsigned char>(ADecoded[0]);
    return c >= 0x20 || c == '\t' || c == '\n' || c == '\r';
  }
  return ADecoded != "\xEF\xBF\xBE" && ADecoded != "\xEF\xBF\xBF";
}

}  // namespace

size_t TDataExporter::WriteXmlReference(platform::TOutputFile& AStream, std::string_view ARaw, size_t AAt) {
  // A reference is whatever the decoder takes for one, so that XML keeps the references the
  // CSV decodes.
  FReference.clear();
  const size_t taken = DecodeReferenceAt(ARaw, AAt, FReference);
  if (taken == 0) {
    AStream.Write(std::string_view{"&amp;"});  // a malformed reference is text, as the CSV shows it
    return 1;
  }
  if (XmlHolds(FReference)) {
    AStream.Write(ARaw.substr(AAt, taken));
  } else {
    AStream.Write(kReplacement);
    ++FReplaced;
  }
  return taken;
}

void TDataExporter::WriteXmlText(platform::TOutputFile& AStream, std::string_view AText) {
  for (const char c : AText) {
    if (c == '&') {
      AStream.Write(std::string_view{"&amp;"});
    } else if (c == '<') {
      AStream.Write(std::string_view{"&lt;"});
    } else if (c == '>') {
      AStream.Write(std::string_view{"&gt;"});
    } else {
      AStream.Write(c);
    }
  }
}

bool TDataExporter::DoProgress(int APercents, bool& ACancel) {
  if (FOnProgress) FOnProgress(this, APercents, ACancel);
  return ACancel;
}

}  // namespace velloran
