// The in-memory model of parsed log records. A row is an ordered list of items, each the raw
// text of one value and the column (a tag name with a data type) it belongs to. Columns are
// discovered while parsing and only ever appended; the row source owns them, so a column
// reference stays valid for the row source's lifetime.
//
// Threading: everything here runs on the thread that uses the row source; no locks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "PlatformText.h"

namespace velloran {

// Presentation type of a column, taken from the data_type of the tag that created it.
enum class TrdlDataType : uint8_t {
  rdtBoolean = 0,
  rdtInteger = 1,
  rdtEnum = 2,
  rdtIPv4 = 3,
  rdtString = 4,
  rdtOctetString = 5,
  rdtTimeStamp = 6,
  rdtInt64 = 7,
  rdtIPv6 = 8,
};

// "rdtInteger" and so on.
std::string_view DataTypeName(TrdlDataType AType);

// Name comparison of tags and columns: ASCII letters without regard to case, every other
// byte exactly (no locale rules).
inline bool SameNameIgnoringAsciiCase(std::string_view A, std::string_view B) {
  return platform::SameTextIgnoringAsciiCase(A, B);
}

class TrdlDataColumn {
 public:
  TrdlDataColumn(std::string AName, TrdlDataType ADataType) : FName(std::move(AName)), FDataType(ADataType) {}

  // A column's name never changes once it is discovered: the parser's lookups rely on it.
  const std::string& ColumnName() const { return FName; }
  TrdlDataType DataType() const { return FDataType; }
  void SetDataType(TrdlDataType AValue) { FDataType = AValue; }

 private:
  std::string FName;  // as first written in the log, in its letter case
  TrdlDataType FDataType;
};

class TrdlDataColumns {
 public:
  // Appends a column; it does not look for an existing one of that name (the parser does).
  TrdlDataColumn* AddColumn(std::string_view AName, TrdlDataType ADataType);
  // The first column whose name equals AColumnName ignoring ASCII case, or -1.
  int IndexOfName(std::string_view AColumnName) const;
  TrdlDataColumn* ColumnByName(std::string_view AName) const;
  int Count() const { return static_cast<int>(FList.size()); }
  // Throws std::out_of_range outside 0..Count-1.
  TrdlDataColumn* Columns(int AIndex) const { return FList.at(static_cast<size_t>(AIndex)).get(); }
  // "A|B|C"; empty text without columns.
  std::string GetAsString() const;

 private:
  std::vector<std::unique_ptr<TrdlDataColumn>> FList;
};

class TrdlDataRowItem {
 public:
  void Assign(const TrdlDataRowItem& ASource);
  const std::string& RawText() const { return FText; }
  // The value's storage, for filling in place (keeps its capacity between records).
  std::string& RawTextRef() { return FText; }
  void SetRawText(std::string_view AValue) { FText.assign(AValue); }
  TrdlDataColumn* Column() const { return FColumn; }
  void SetColumn(TrdlDataColumn* AValue) { FColumn = AValue; }

 private:
  std::string FText;  // verbatim: references and entities are not decoded
  TrdlDataColumn* FColumn = nullptr;
};

// One record. Items beyond Count() stay allocated for reuse: a row refilled for every request
// allocates only when a line has more values than any line before it.
class TrdlDataRow {
 public:
  TrdlDataRow() = default;
  TrdlDataRow(const TrdlDataRow&) = delete;
  TrdlDataRow& operator=(const TrdlDataRow&) = delete;

  // The next item slot (a reused item keeps its old column and text: the caller sets both).
  TrdlDataRowItem* Add();
  void Clear() { FCount = 0; }
  // Deep copy: takes ASource's capacity, count and items.
  void Assign(const TrdlDataRow& ASource);
  TrdlDataRowItem* Items(int AIndex) const;
  void SetItems(int AIndex, const TrdlDataRowItem& AValue);
  int Count() const { return FCount; }
  int Capacity() const { return static_cast<int>(FItems.size()); }
  // The first item whose column name equals AColumnName ignoring ASCII case, or null.
  TrdlDataRowItem* ItemByName(std::string_view AColumnName) const;
  // Its raw text, or empty text when the row has no such item.
  std::string ValueByName(std::string_view AColumnName) const;

 private:
  static constexpr int kGrowth = 32;
  void SetCapacity(int ANewCapacity);

  std::vector<std::unique_ptr<TrdlDataRowItem>> FItems;  // a slot may be empty (null)
  int FCount = 0;
};

// A walk over one row: in the row's own order, or in the order of a list of column names
// (one position per name, none where the row lacks the column).
class TrdlDataRowEnumerator {
 public:
  // Names separated by ",", ";" or "|", taken exactly as written (empty names included).
  void SetColumns(std::string_view AValue);
  std::string Columns() const;
  const std::vector<std::string>& ColumnNames() const { return FColumns; }
  int Index() const { return FCurrentIndex; }

  TrdlDataRowItem* GetFirst(const TrdlDataRow* ARow);
  TrdlDataRowItem* GetNext();
  bool IsEOF() const;

 private:
  std::vector<std::string> FColumns;
  const TrdlDataRow* FRow = nullptr;
  int FCurrentIndex = 2147483647;  // IsEOF holds until the first GetFirst
};

class TrdlDataRowsCache {
 public:
  TrdlDataRow* Find(int AIndex) { return AIndex == FIndex ? &FItem : nullptr; }
  void Add(int AIndex, const TrdlDataRow& AItem);
  void Clear();

 private:
  TrdlDataRow FItem;
  int FIndex = -1;
};

class TrdlDataRows;
using TrdlEventDataOnGetCount = std::function<void(TrdlDataRows* Sender, int& ACount)>;
using TrdlEventDataOnParse = std::function<void(TrdlDataRows* Sender, int AIndex, TrdlDataRow& AItem)>;

// The row source: asks its owner for the number of rows and for the parse of one row, and
// answers repeated requests for the same row from its one-row cache.
class TrdlDataRows {
 public:
  int Count();
  TrdlDataColumns& Columns() { return FColumns; }
  const TrdlDataColumns& Columns() const { return FColumns; }
  void SetOnDataGetCount(TrdlEventDataOnGetCount AValue) { FOnDataGetCount = std::move(AValue); }
  void SetOnDataParse(TrdlEventDataOnParse AValue) { FOnDataParse = std::move(AValue); }

  // Empties the cache: the next RowGet of any row parses again.
  void Refresh() { FCache.Clear(); }
  // Copies row AIndex into ARow (from the cache, or parsed); false only without a parser.
  bool RowGet(int AIndex, TrdlDataRow& ARow);

 private:
  TrdlDataRowsCache FCache;
  TrdlDataColumns FColumns;
  TrdlEventDataOnGetCount FOnDataGetCount;
  TrdlEventDataOnParse FOnDataParse;
};

}  // namespace velloran
