#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "Rows.h"

namespace velloran {
namespace {

using ::testing::ElementsAre;

TEST(DataColumnsTest, NamesAndLookups) {
  TrdlDataColumns columns;
  EXPECT_EQ(columns.GetAsString(), "");
  EXPECT_EQ(columns.IndexOfName("A"), -1);
  columns.AddColumn("User-Name", TrdlDataType::rdtString);
  columns.AddColumn("\xC3\x84rger", TrdlDataType::rdtInteger);  // "Ärger"
  EXPECT_EQ(columns.GetAsString(), "User-Name|\xC3\x84rger");
  EXPECT_EQ(columns.IndexOfName("user-name"), 0);
  EXPECT_EQ(columns.IndexOfName("USER-NAME"), 0);
  EXPECT_EQ(columns.IndexOfName("\xC3\x84RGER"), 1);
  EXPECT_EQ(columns.IndexOfName("\xC3\xA4rger"), -1) << "only ASCII letters ignore case";
  EXPECT_EQ(columns.ColumnByName("user-nam"), nullptr);
  EXPECT_EQ(columns.ColumnByName("user-name")->ColumnName(), "User-Name");
  EXPECT_THROW(columns.Columns(2), std::out_of_range);
}

TEST(DataRowTest, ItemsAreReusedAndGrowBy32) {
  TrdlDataRow row;
  EXPECT_EQ(row.Capacity(), 0);
  row.Add();
  EXPECT_EQ(row.Capacity(), 32);
  for (int i = 1; i < 32; ++i) row.Add();
  EXPECT_EQ(row.Capacity(), 32);
  row.Add();
  EXPECT_EQ(row.Capacity(), 64);

  std::set<TrdlDataRowItem*> first;
  for (int i = 0; i < 33; ++i) first.insert(row.Items(i));
  row.Clear();
  EXPECT_EQ(row.Count(), 0);
  std::set<TrdlDataRowItem*> second;
  for (int i = 0; i < 33; ++i) second.insert(row.Add());
  EXPECT_EQ(first, second) << "Clear keeps the items for reuse";
  EXPECT_EQ(first.count(row.Add()), 0u) << "the 34th is new";
}

TEST(DataRowTest, AssignCopiesDeeplyAndTakesTheSourceCapacity) {
  TrdlDataColumns columns;
  TrdlDataColumn* a = columns.AddColumn("A", TrdlDataType::rdtString);
  TrdlDataRow source;
  TrdlDataRowItem* item = source.Add();
  item->SetColumn(a);
  item->SetRawText("x");

  TrdlDataRow target;
  for (int i = 0; i < 40; ++i) target.Add();
  EXPECT_EQ(target.Capacity(), 64);
  target.Assign(source);
  EXPECT_EQ(target.Capacity(), 32);
  ASSERT_EQ(target.Count(), 1);
  EXPECT_NE(target.Items(0), source.Items(0));
  source.Items(0)->SetRawText("changed");
  EXPECT_EQ(target.ValueByName("a"), "x");
  EXPECT_EQ(target.Items(0)->Column(), a);
}

TEST(DataRowTest, LookupsByName) {
  TrdlDataColumns columns;
  TrdlDataRow row;
  const auto add = [&](const char* AName, const char* AText) {
    TrdlDataRowItem* item = row.Add();
    item->SetColumn(columns.ColumnByName(AName) ? columns.ColumnByName(AName)
                                                : columns.AddColumn(AName, TrdlDataType::rdtString));
    item->SetRawText(AText);
  };
  add("A", "1");
  add("Empty", "");
  add("A", "2");
  EXPECT_EQ(row.ValueByName("a"), "1") << "the first item of that name";
  EXPECT_EQ(row.ValueByName("Missing"), "");
  EXPECT_EQ(row.ValueByName("Empty"), "");
  EXPECT_EQ(row.Items(3), nullptr);
  EXPECT_EQ(row.Items(-1), nullptr);
  TrdlDataRowItem replacement;
  replacement.SetRawText("3");
  row.SetItems(0, replacement);
  EXPECT_EQ(row.Items(0)->RawText(), "3");
  EXPECT_EQ(row.Items(0)->Column(), nullptr);
  row.SetItems(7, replacement);  // out of range: nothing
}

TEST(DataRowEnumeratorTest, ColumnsSyntax) {
  struct TCase {
    const char* Text;
    std::vector<std::string> Names;
    const char* ReadBack;
  };
  const TCase cases[] = {
      {"", {}, ""},
      {"A;B|C", {"A", "B", "C"}, "A,B,C"},
      {"A,,B", {"A", "", "B"}, "A,,B"},
      {"A,", {"A", ""}, "A,"},
      {" A , B", {" A ", " B"}, " A , B"},
  };
  for (const TCase& c : cases) {
    TrdlDataRowEnumerator enumerator;
    enumerator.SetColumns(c.Text);
    EXPECT_EQ(enumerator.ColumnNames(), c.Names) << c.Text;
    EXPECT_EQ(enumerator.Columns(), c.ReadBack) << c.Text;
  }
}

// Walks ARow and gives each position's text, "-" for a position without an item.
std::vector<std::string> Walk(TrdlDataRowEnumerator& AEnumerator, const TrdlDataRow& ARow) {
  std::vector<std::string> result;
  for (TrdlDataRowItem* item = AEnumerator.GetFirst(&ARow); !AEnumerator.IsEOF(); item = AEnumerator.GetNext()) {
    result.push_back(item != nullptr ? item->RawText() : "-");
  }
  return result;
}

TEST(DataRowEnumeratorTest, WalksInRowOrderOrInListOrder) {
  TrdlDataColumns columns;
  TrdlDataRow row;
  for (const char* name : {"A", "B"}) {
    TrdlDataRowItem* item = row.Add();
    item->SetColumn(columns.AddColumn(name, TrdlDataType::rdtString));
    item->SetRawText(std::string("value of ") + name);
  }
  TrdlDataRowEnumerator enumerator;
  EXPECT_TRUE(enumerator.IsEOF()) << "before the first GetFirst";
  EXPECT_THAT(Walk(enumerator, row), ElementsAre("value of A", "value of B"));
  enumerator.SetColumns("a;X");
  EXPECT_THAT(Walk(enumerator, row), ElementsAre("value of A", "-"));
  EXPECT_EQ(enumerator.Index(), 2);
  enumerator.SetColumns("B,A,B");
  EXPECT_THAT(Walk(enumerator, row), ElementsAre("value of B", "value of A", "value of B"));

  TrdlDataRow empty;
  enumerator.SetColumns("");
  EXPECT_THAT(Walk(enumerator, empty), ElementsAre());

  TrdlDataRowEnumerator unstarted;
  EXPECT_EQ(unstarted.GetNext(), nullptr);
  EXPECT_TRUE(unstarted.IsEOF());
}

class DataRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FRows.SetOnDataGetCount([](TrdlDataRows*, int& ACount) { ACount = 10; });
    FRows.SetOnDataParse([this](TrdlDataRows* Sender, int AIndex, TrdlDataRow& AItem) {
      EXPECT_EQ(Sender, &FRows);
      FParsed.push_back(AIndex);
      AItem.Clear();
      AItem.Add()->SetRawText("row " + std::to_string(AIndex));
    });
  }
  TrdlDataRows FRows;
  std::vector<int> FParsed;
};

TEST_F(DataRowsTest, OneRowCacheAnswersRepeatedRequests) {
  TrdlDataRow row;
  EXPECT_EQ(FRows.Count(), 10);
  for (int index : {5, 5, 6, 5, 5}) {
    ASSERT_TRUE(FRows.RowGet(index, row));
    EXPECT_EQ(row.Items(0)->RawText(), "row " + std::to_string(index));
  }
  EXPECT_THAT(FParsed, ElementsAre(5, 6, 5));

  // The caller's row and the cache never share items.
  row.Items(0)->SetRawText("scribbled");
  TrdlDataRow again;
  FRows.RowGet(5, again);
  EXPECT_EQ(again.Items(0)->RawText(), "row 5");

  FRows.Refresh();
  FRows.RowGet(5, row);
  EXPECT_THAT(FParsed, ElementsAre(5, 6, 5, 5));
}

TEST(DataRowsWithoutCallbacksTest, NoParserMeansNoRow) {
  TrdlDataRows rows;
  EXPECT_EQ(rows.Count(), 0);
  TrdlDataRow row;
  row.Add()->SetRawText("kept");
  EXPECT_FALSE(rows.RowGet(0, row));
  ASSERT_EQ(row.Count(), 1);
  EXPECT_EQ(row.Items(0)->RawText(), "kept");
}

// Rows refer to the list's columns, never to copies of them: a type given to a column later
// is what every row holding it sees, copied rows included, and its name stays as discovered.
TEST(DataColumnsTest, ATypeSetLaterReachesEveryRowOfTheColumn) {
  TrdlDataColumns columns;
  TrdlDataColumn* column = columns.AddColumn("Acct-Session-Time", TrdlDataType::rdtString);
  TrdlDataRow first;
  TrdlDataRow second;
  for (TrdlDataRow* row : {&first, &second}) {
    TrdlDataRowItem* item = row->Add();
    item->SetColumn(column);
    item->SetRawText("42");
  }
  TrdlDataRow copy;
  copy.Assign(first);

  columns.ColumnByName("acct-session-time")->SetDataType(TrdlDataType::rdtInteger);
  for (const TrdlDataRow* row : {&first, &second, &copy}) {
    const TrdlDataRowItem* item = row->ItemByName("Acct-Session-Time");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Column()->DataType(), TrdlDataType::rdtInteger);
    EXPECT_EQ(item->RawText(), "42");
  }
  EXPECT_EQ(DataTypeName(columns.Columns(0)->DataType()), "rdtInteger");
  EXPECT_EQ(column->ColumnName(), "Acct-Session-Time");
}

}  // namespace
}  // namespace velloran
