#include "LogData.h"

#include <algorithm>
#include <cstring>

#include "PlatformText.h"

namespace velloran {

namespace {

using platform::AppendLatin1;
using platform::FirstInvalidUtf8;
using platform::StartsWithIgnoringAsciiCase;
using platform::Utf8SequenceLength;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";  // U+FEFF
constexpr std::string_view kReversedMark = "\xEF\xBF\xBE";   // U+FFFE
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";    // U+FFFD

// Position of AChar at or after AFrom, or the text's size.
size_t FindFrom(std::string_view AText, char AChar, size_t AFrom) {
  if (AFrom >= AText.size()) return AText.size();
  const void* found = std::memchr(AText.data() + AFrom, AChar, AText.size() - AFrom);
  return found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - AText.data()) : AText.size();
}

bool IsContinuation(unsigned char AByte) { return (AByte & 0xC0) == 0x80; }

// AText with every ill-formed sequence replaced by U+FFFD (one per maximal bad piece), as
// decoders that replace rather than fail do.
void RepairUtf8(std::string_view AText, size_t AFirstInvalid, std::string& AOut) {
  AOut.assign(AText.substr(0, AFirstInvalid));
  size_t pos = AFirstInvalid;
  while (pos < AText.size()) {
    const size_t length = Utf8SequenceLength(AText, pos);
    if (length > 0) {
      AOut.append(AText.substr(pos, length));
      pos += length;
      continue;
    }
    AOut.append(kReplacement);
    ++pos;
    while (pos < AText.size() && IsContinuation(static_cast<unsigned char>(AText[pos]))) ++pos;
  }
}

// More than two characters (code points) in AText.
bool LongerThanTwoCharacters(std::string_view AText) {
  int characters = 0;
  for (char c : AText) {
    if (!IsContinuation(static_cast<unsigned char>(c)) && ++characters > 2) return true;
  }
  return false;
}

size_t CharacterCount(std::string_view AText) {
  size_t characters = 0;
  for (char c : AText) characters += IsContinuation(static_cast<unsigned char>(c)) ? 0u : 1u;
  return characters;
}

int HexValue(char AChar) {
  if (AChar >= '0' && AChar <= '9') return AChar - '0';
  if (AChar >= 'A' && AChar <= 'F') return AChar - 'A' + 10;
  if (AChar >= 'a' && AChar <= 'f') return AChar - 'a' + 10;
  return -1;
}

}  // namespace

TData::TData() {
  TPart part;
  part.Monitor = std::make_unique<TrdlLogMonitor>();
  FLogMonitor = part.Monitor.get();
  FParts.push_back(std::move(part));
  FRows.SetOnDataGetCount([this](TrdlDataRows*, int& ACount) { DoDataGetCount(ACount); });
  FRows.SetOnDataParse([this](TrdlDataRows*, int AIndex, TrdlDataRow& AItem) { DoDataParse(AIndex, AItem); });
}

TData::~TData() = default;

void TData::Open(const std::string& AFileName) {
  // One log keeps the monitor the caller configured (index cache, watching).
  if (FParts.size() > 1) {
    TPart last = std::move(FParts.back());
    FParts.clear();
    FParts.push_back(std::move(last));
  }
  FParts.front().Path = AFileName;
  FParts.front().Server.clear();
  FParts.front().ServerGroup = 0;
  FOrder = TLogSetOrder();
  FNotices.clear();
  FFileName = AFileName;
  FLogMonitor->SetActive(false);
  FLogMonitor->SetOnProgress([this](void*, int APercents, bool& IsCanceled) {
    if (FOnProgress) FOnProgress(this, APercents, IsCanceled);
  });
  try {
    FLogMonitor->SetFileName(AFileName);
    FLogMonitor->SetActive(true);
  } catch (...) {
    FLogMonitor->SetOnProgress(nullptr);
    FRows.Refresh();
    throw;
  }
  FLogMonitor->SetOnProgress(nullptr);
  FRows.Refresh();
}

int64_t TData::Count() const {
  if (!FLogMonitor->Active() && FParts.size() == 1) return 0;
  if (FOrder.IsMerged()) return FOrder.Count();
  const int64_t last = FLogMonitor->Active() ? FLogMonitor->Count() : 0;
  return FParts.size() == 1 ? last : FOrder.BaseOf(FOrder.Parts() - 1) + last;
}

bool TData::GetRow(int64_t AIndex, TrdlDataRow& ARow) {
  if (AIndex < 0 || AIndex >= Count()) return false;
  return FRows.RowGet(static_cast<int>(AIndex), ARow);
}

int64_t TData::WholeCount() {
  const int64_t count = Count();
  // A merged set is read as it was when merged; a concatenation grows by its last file.
  if (count == 0 || FOrder.IsMerged() || !FLogMonitor->Active() || FLogMonitor->Count() == 0 || !FLogMonitor->LastLineOpen())
    return count;
  std::string_view line;
  try {
    line = FLogMonitor->GetView(FLogMonitor->Count() - 1);
  } catch (const ErdlLogMonitorError&) {
    return count - 1;  // cut or unreadable: it is no whole record either
  }
  if (line.substr(0, 3) == kByteOrderMark) line.remove_prefix(3);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  // Only the start of an event is held back: other text without a break (a file that is no
  // log, padding) is shown as it always was.
  const bool hex = StartsWithIgnoringAsciiCase(line, "0x");
  const bool eventStart = hex || StartsWithIgnoringAsciiCase(line, "<Event") ||
                          (!line.empty() && line.size() < 6 && StartsWithIgnoringAsciiCase("<Event", line));
  if (!eventStart) return count;
  // The hexadecimal form ends in the bytes of "</Event>" written as hex digits.
  const bool whole =
      hex ? platform::EndsWithIgnoringAsciiCase(line, "3C2F4576656E743E") : platform::EndsWithIgnoringAsciiCase(line, "</Event>");
  return whole ? count : count - 1;
}

void TData::DoDataGetCount(int& ACount) const { ACount = static_cast<int>(Count()); }

std::string_view TData::RawRecord(int64_t AIndex) {
  if (FParts.size() == 1) return FLogMonitor->GetView(static_cast<int>(AIndex));
  const TLogSetOrder::TPlace place = Locate(AIndex);
  if (place.Part < 0) throw ErdlLogMonitorError("no such record " + std::to_string(AIndex) + " in the set of " + FFileName);
  return PartLine(FParts[static_cast<size_t>(place.Part)], place.Local);
}

TLogSetOrder::TPlace TData::Locate(int64_t ARecord) const {
  if (ARecord < 0 || ARecord >= Count()) return {};
  if (FParts.size() == 1) return TLogSetOrder::TPlace{0, ARecord};
  return FOrder.Locate(ARecord);
}

int TData::FileOfRecord(int64_t ARecord) const {
  if (ARecord < 0 || ARecord >= Count()) return -1;
  return FParts.size() == 1 ? 0 : FOrder.PartOf(ARecord);
}

int TData::ServerGroupOf(int64_t AIndex) const {
  const int part = FileOfRecord(AIndex);
  return part < 0 ? -1 : FParts[static_cast<size_t>(part)].ServerGroup;
}

bool TData::ParseRecord(int64_t AIndex, TrdlDataRow& ARow) {
  if (AIndex < 0 || AIndex >= Count()) return false;
  DoDataParse(static_cast<int>(AIndex), ARow);
  return true;
}

bool TData::HoldsEvents(int64_t AFirstLines) {
  TrdlDataRow row;
  const int64_t lines = std::min(AFirstLines, Count());
  for (int64_t i = 0; i < lines; ++i) {
    try {
      if (ParseRecord(i, row) && row.Count() > 0) return true;
    } catch (const ErdlLogMonitorError&) {  // NOLINT(bugprone-empty-catch): an unreadable line is no event
    }
  }
  return false;
}

void TData::DoDataParse(int AIndex, TrdlDataRow& AItem) { ParseRaw(RawRecord(AIndex), AItem); }

bool TData::ParseRaw(std::string_view ALine, TrdlDataRow& ARow) {
  const size_t invalid = FirstInvalidUtf8(ALine);
  if (invalid == ALine.size()) return ParseLine(ALine, ARow);
  RepairUtf8(ALine, invalid, FRepaired);
  return ParseLine(FRepaired, ARow);
}

namespace {

// FNV-1a: tag names are short, and this needs no setup.
uint64_t NameHash(std::string_view AName) {
  uint64_t hash = 14695981039346656037u;
  for (char c : AName) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  return hash;
}

size_t SuccessorSlot(const TrdlDataColumn* AColumn) { return (reinterpret_cast<uintptr_t>(AColumn) >> 4) & 255u; }

}  // namespace

TrdlDataColumn* TData::FindSpelling(std::string_view AName, uint64_t AHash) const {
  const size_t mask = FSpellings.size() - 1;
  for (size_t slot = AHash & mask;; slot = (slot + 1) & mask) {
    const TSpelling& entry = FSpellings[slot];
    if (entry.Column == nullptr) return nullptr;
    if (entry.Hash == AHash && entry.Name == AName) return entry.Column;
  }
}

void TData::AddSpelling(std::string_view AName, uint64_t AHash, TrdlDataColumn* AColumn) {
  if ((FSpellingCount + 1) * 2 > FSpellings.size()) {
    // Keep the table at most half full, so that probes stay short and always end.
    std::vector<TSpelling> old(FSpellings.size() * 2);
    old.swap(FSpellings);
    FSpellingCount = 0;
    for (TSpelling& entry : old) {
      if (entry.Column != nullptr) AddSpelling(entry.Name, entry.Hash, entry.Column);
    }
  }
  const size_t mask = FSpellings.size() - 1;
  size_t slot = AHash & mask;
  while (FSpellings[slot].Column != nullptr) slot = (slot + 1) & mask;
  FSpellings[slot] = TSpelling{AHash, std::string(AName), AColumn};
  ++FSpellingCount;
}

TrdlDataColumn* TData::ColumnOf(const TrdlDataColumn* APrevious, std::string_view AName, std::string_view AAttributes) {
  TSuccessor& successor = FSuccessors[SuccessorSlot(APrevious)];
  if (successor.Previous == APrevious && successor.Next != nullptr && successor.Next->ColumnName() == AName)
    return successor.Next;
  const uint64_t hash = NameHash(AName);
  TrdlDataColumn* column = FindSpelling(AName, hash);
  if (column == nullptr) {
    column = FRows.Columns().ColumnByName(AName);
    if (column == nullptr) column = FRows.Columns().AddColumn(AName, DetectDataType(AAttributes));
    AddSpelling(AName, hash, column);
  }
  successor = TSuccessor{APrevious, column};
  return column;
}

bool TData::ParseLine(std::string_view AText, TrdlDataRow& ARow) {
  ARow.Clear();
  if (AText.empty()) return true;
  const bool longer = LongerThanTwoCharacters(AText);
  if (longer && (AText.substr(0, 3) == kByteOrderMark || AText.substr(0, 3) == kReversedMark)) AText.remove_prefix(3);
  if (longer && AText.substr(0, 2) == "0x") {
    FHexDecoded = HexToText(AText.substr(2));
    AText = FHexDecoded;
  }
  if (!StartsWithIgnoringAsciiCase(AText, "<Event>")) return false;

  const size_t end = AText.size();
  size_t p = 7;
  const TrdlDataColumn* previous = nullptr;
  for (;;) {
    if (p >= end || AText[p] != '<') return false;
    const size_t nameStart = p + 1;
    const size_t nameEnd = FindFrom(AText, ' ', nameStart);
    if (nameStart < end && AText[nameStart] == '/' && StartsWithIgnoringAsciiCase(AText.substr(nameStart), "/Event")) return true;
    const std::string_view name = AText.substr(nameStart, nameEnd - nameStart);
    const size_t tagEnd = FindFrom(AText, '>', nameEnd);
    TrdlDataColumn* column = ColumnOf(previous, name, AText.substr(nameEnd, tagEnd - nameEnd));
    previous = column;
    const size_t valueStart = tagEnd < end ? tagEnd + 1 : end;
    const size_t valueEnd = FindFrom(AText, '<', valueStart);
    TrdlDataRowItem* item = ARow.Add();
    item->SetColumn(column);
    item->RawTextRef().assign(AText.substr(valueStart, valueEnd - valueStart));
    const size_t closeEnd = FindFrom(AText, '>', valueEnd);
    p = closeEnd < end ? closeEnd + 1 : end;
  }
}

TrdlDataType TData::DetectDataType(std::string_view AAttributes) {
  if (CharacterCount(AAttributes) < 13) return TrdlDataType::rdtString;
  while (!AAttributes.empty() && AAttributes.front() == ' ') AAttributes.remove_prefix(1);
  if (!StartsWithIgnoringAsciiCase(AAttributes, "data_type=\"") || AAttributes.size() < 12) return TrdlDataType::rdtString;
  switch (AAttributes[11]) {
    case '0':
      return TrdlDataType::rdtInteger;
    case '2':
      return TrdlDataType::rdtOctetString;
    case '3':
      return TrdlDataType::rdtIPv4;
    case '4':
      return TrdlDataType::rdtTimeStamp;
    default:
      return TrdlDataType::rdtString;
  }
}

bool TData::IsHexLine(std::string_view ALine) {
  if (ALine.substr(0, 3) == kByteOrderMark || ALine.substr(0, 3) == kReversedMark) ALine.remove_prefix(3);
  return ALine.substr(0, 2) == "0x";
}

std::string TData::HexToText(std::string_view AChars) {
  const size_t n = AChars.size();
  const bool separated = (n > 1 && AChars[1] == ',') || (n > 2 && AChars[2] == ',');
  std::string result;
  result.reserve(n / 2 + 1);
  size_t i = 0;
  if (!separated && n % 2 == 1) {
    // An odd count without separators: the first digit is a byte of its own.
    const int low = HexValue(AChars[0]);
    if (low < 0) return {};
    AppendLatin1(result, static_cast<unsigned>(low));
    i = 1;
  }
  while (i < n) {
    const char c = AChars[i];
    const int high = HexValue(c);
    if (high < 0) {
      if (c == '\n' || c == '\r' || c == ' ' || c == ',' || c == '\\') {
        ++i;
        continue;
      }
      return {};
    }
    if (++i == n) {
      AppendLatin1(result, static_cast<unsigned>(high));  // a lone last digit is the byte's value
      break;
    }
    const int low = HexValue(AChars[i++]);
    if (low < 0) return {};
    AppendLatin1(result, static_cast<unsigned>(high * 16 + low));
  }
  return result;
}

}  // namespace velloran
