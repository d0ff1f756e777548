#include "Rows.h"

#include <algorithm>

namespace velloran {

std::string_view DataTypeName(TrdlDataType AType) {
  switch (AType) {
    case TrdlDataType::rdtBoolean:
      return "rdtBoolean";
    case TrdlDataType::rdtInteger:
      return "rdtInteger";
    case TrdlDataType::rdtEnum:
      return "rdtEnum";
    case TrdlDataType::rdtIPv4:
      return "rdtIPv4";
    case TrdlDataType::rdtString:
      return "rdtString";
    case TrdlDataType::rdtOctetString:
      return "rdtOctetString";
    case TrdlDataType::rdtTimeStamp:
      return "rdtTimeStamp";
    case TrdlDataType::rdtInt64:
      return "rdtInt64";
    case TrdlDataType::rdtIPv6:
      return "rdtIPv6";
  }
  return "rdtString";
}

// --- TrdlDataColumns ---------------------------------------------------------------------

TrdlDataColumn* TrdlDataColumns::AddColumn(std::string_view AName, TrdlDataType ADataType) {
  FList.push_back(std::make_unique<TrdlDataColumn>(std::string(AName), ADataType));
  return FList.back().get();
}

int TrdlDataColumns::IndexOfName(std::string_view AColumnName) const {
  for (size_t i = 0; i < FList.size(); ++i) {
    if (SameNameIgnoringAsciiCase(FList[i]->ColumnName(), AColumnName)) return static_cast<int>(i);
  }
  return -1;
}

TrdlDataColumn* TrdlDataColumns::ColumnByName(std::string_view AName) const {
  const int index = IndexOfName(AName);
  return index < 0 ? nullptr : Columns(index);
}

std::string TrdlDataColumns::GetAsString() const {
  std::string result;
  for (size_t i = 0; i < FList.size(); ++i) {
    if (i > 0) result += '|';
    result += FList[i]->ColumnName();
  }
  return result;
}

// --- TrdlDataRowItem / TrdlDataRow -------------------------------------------------------

void TrdlDataRowItem::Assign(const TrdlDataRowItem& ASource) {
  FColumn = ASource.FColumn;
  FText.assign(ASource.FText);  // assign, not copy-construct: keeps this item's capacity
}

TrdlDataRowItem* TrdlDataRow::Add() {
  if (FCount == Capacity()) SetCapacity(Capacity() + kGrowth);
  auto& slot = FItems[static_cast<size_t>(FCount)];
  if (!slot) slot = std::make_unique<TrdlDataRowItem>();
  ++FCount;
  return slot.get();
}

void TrdlDataRow::Assign(const TrdlDataRow& ASource) {
  if (&ASource == this) return;
  SetCapacity(ASource.Capacity());
  FCount = ASource.FCount;
  for (int i = 0; i < FCount; ++i) {
    auto& slot = FItems[static_cast<size_t>(i)];
    if (!slot) slot = std::make_unique<TrdlDataRowItem>();
    slot->Assign(*ASource.FItems[static_cast<size_t>(i)]);
  }
}

TrdlDataRowItem* TrdlDataRow::Items(int AIndex) const {
  if (AIndex < 0 || AIndex >= FCount) return nullptr;
  return FItems[static_cast<size_t>(AIndex)].get();
}

void TrdlDataRow::SetItems(int AIndex, const TrdlDataRowItem& AValue) {
  if (TrdlDataRowItem* item = Items(AIndex)) item->Assign(AValue);
}

TrdlDataRowItem* TrdlDataRow::ItemByName(std::string_view AColumnName) const {
  for (int i = 0; i < FCount; ++i) {
    TrdlDataRowItem* item = FItems[static_cast<size_t>(i)].get();
    if (item->Column() != nullptr && SameNameIgnoringAsciiCase(item->Column()->ColumnName(), AColumnName)) return item;
  }
  return nullptr;
}

std::string TrdlDataRow::ValueByName(std::string_view AColumnName) const {
  const TrdlDataRowItem* item = ItemByName(AColumnName);
  return item != nullptr ? item->RawText() : std::string();
}

void TrdlDataRow::SetCapacity(int ANewCapacity) {
  if (ANewCapacity == Capacity()) return;
  // Shrinking frees the surplus items, highest slot first; growing adds empty slots.
  while (Capacity() > ANewCapacity) FItems.pop_back();
  FItems.resize(static_cast<size_t>(ANewCapacity));
}

// --- TrdlDataRowEnumerator ---------------------------------------------------------------

void TrdlDataRowEnumerator::SetColumns(std::string_view AValue) {
  FColumns.clear();
  if (AValue.empty()) return;
  std::string current;
  for (char c : AValue) {
    if (c == ',' || c == ';' || c == '|') {
      FColumns.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  FColumns.push_back(std::move(current));
}

std::string TrdlDataRowEnumerator::Columns() const {
  std::string result;
  for (size_t i = 0; i < FColumns.size(); ++i) {
    if (i > 0) result += ',';
    result += FColumns[i];
  }
  return result;
}

TrdlDataRowItem* TrdlDataRowEnumerator::GetFirst(const TrdlDataRow* ARow) {
  FRow = ARow;
  FCurrentIndex = 0;
  if (!FColumns.empty()) return FRow->ItemByName(FColumns.front());
  return FRow->Items(0);
}

TrdlDataRowItem* TrdlDataRowEnumerator::GetNext() {
  if (FRow == nullptr) return nullptr;  // no walk started
  ++FCurrentIndex;
  if (!FColumns.empty()) {
    return FCurrentIndex < static_cast<int>(FColumns.size()) ? FRow->ItemByName(FColumns[static_cast<size_t>(FCurrentIndex)])
                                                             : nullptr;
  }
  return FRow->Items(FCurrentIndex);
}

bool TrdlDataRowEnumerator::IsEOF() const {
  if (!FColumns.empty()) return FCurrentIndex >= static_cast<int>(FColumns.size());
  return FRow == nullptr || FCurrentIndex >= FRow->Count();
}

// --- TrdlDataRowsCache / TrdlDataRows ----------------------------------------------------

void TrdlDataRowsCache::Add(int AIndex, const TrdlDataRow& AItem) {
  FItem.Assign(AItem);
  FIndex = AIndex;
}

void TrdlDataRowsCache::Clear() {
  FItem.Clear();
  FIndex = -1;
}

int TrdlDataRows::Count() {
  int count = 0;
  if (FOnDataGetCount) FOnDataGetCount(this, count);
  return count;
}

bool TrdlDataRows::RowGet(int AIndex, TrdlDataRow& ARow) {
  if (TrdlDataRow* cached = FCache.Find(AIndex)) {
    ARow.Assign(*cached);
    return true;
  }
  if (!FOnDataParse) return false;
  FOnDataParse(this, AIndex, ARow);
  FCache.Add(AIndex, ARow);
  return true;
}

}  // namespace velloran
