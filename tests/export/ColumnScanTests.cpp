// The scan must find exactly the columns the parser discovers, in its order and spelling: a
// CSV header made from it puts every value under its own name only then.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ColumnScan.h"
#include "LogData.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::TTempDir;
using ::testing::ElementsAre;

std::string Hex(std::string_view AText) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex = "0x";
  for (const char c : AText) hex.append(1, kDigits[static_cast<unsigned char>(c) >> 4]).append(1, kDigits[c & 15]);
  return hex;
}

// The columns a fresh TData discovers parsing every record of ALog in turn, and the columns
// the scan of its raw records finds.
void ExpectScanFindsTheParsersColumns(const std::string& ALog, const std::string& AWhat) {
  TTempDir dir;
  TData data;
  data.Open(dir.Write("scan.log", ALog));
  TColumnScan scan;
  TrdlDataRow row;
  for (int64_t i = 0; i < data.Count(); ++i) {
    scan.AddLine(data.RawRecord(i));
    data.ParseRecord(i, row);
  }
  std::vector<std::string> parsed;
  for (int i = 0; i < data.Columns().Count(); ++i) parsed.push_back(data.Columns().Columns(i)->ColumnName());
  EXPECT_EQ(scan.Columns().Names(), parsed) << AWhat;
}

TEST(ColumnScanTest, FindsTheParsersColumnsOnLinesOfEveryShape) {
  const std::string ab = R"(<Event><A data_type="1">x</A><B data_type="0">5</B></Event>)";
  struct TCase {
    const char* Name;
    std::vector<std::string> Lines;
  };
  const TCase cases[] = {
      {"first spelling wins, any order", {ab, R"(<EVENT><b data_type="0">1</b><C data_type="3">1</C><a>x</a></EVENT>)"}},
      {"a name that begins as the one before it did", {ab, R"(<Event><AB data_type="1">x</AB><B data_type="0">5</B></Event>)"}},
      {"a line of another kind between", {ab, R"(<Event><C data_type="1">c</C><A data_type="1">x</A></Event>)", ab}},
      {"repeated tag", {R"(<Event><A data_type="1">1</A><A data_type="1">2</A><a data_type="1">3</a></Event>)"}},
      {"byte-order marks", {"\xEF\xBB\xBF" + ab, "\xEF\xBF\xBE<Event><Marked data_type=\"1\">m</Marked></Event>"}},
      {"hexadecimal lines",
       {Hex(R"(<Event><H data_type="1">a)" + std::string(1, '\0') + "b</H></Event>"),
        "0x3C,45,76,65,6E,74,3E,3C,4A,20,3E,3C,2F,4A,3E", Hex("<Event><\xC3\xA9 >v</\xC3\xA9></Event>"),
        "0x3C4576656E743E3C4B203EZZ"}},
      {"ill-formed UTF-8 in names",
       {"<Event><N\xFF\xFE"
        R"(a data_type="1">v</N>)"
        "<\xC3 >v</x><\xE2\x82 >w</x><\xC3\xA9 >ok</x></Event>"}},
      {"names without attributes run to the next space", {"<Event><A>x</A><B>y</B> <C data_type=\"1\">z</C></Event>"}},
      {"empty names and a line that ends in a tag", {"<Event>< data_type=\"1\">e</ ><", "<Event><"}},
      {"end tags", {"<Event></Ev >x</Ev><A >1</A></eVeNtual>", "<Event></EVENT><Never >x</Never>"}},
      {"no events", {"", "x", "0x", "<Even", "<Event>", "<Event>x<A >1</A>", "\xEF\xBB\xBF", "<event ><A >1</A>"}},
      {"values with markup-like bytes", {R"(<Event><A data_type="1">a > b</A><B data_type="1">&lt;c&gt;</B></Event>)"}},
  };
  for (const TCase& c : cases) {
    std::string log;
    for (const std::string& line : c.Lines) log.append(line).append("\r\n");
    ExpectScanFindsTheParsersColumns(log, c.Name);
  }
}

TEST(ColumnScanTest, FindsTheParsersColumnsOnTheEventLineFuzzCorpus) {
  // Inputs that once took the parser down unusual paths, all in one log so that their names
  // meet across lines too.
  std::string log;
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(VELLORAN_EVENT_LINE_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    log.append(bytes.str()).append("\r\n");
    ++inputs;
  }
  ASSERT_GT(inputs, 0);
  ExpectScanFindsTheParsersColumns(log, "the corpus");
}

TEST(ColumnNamesTest, NamesCompareIgnoringAsciiCaseOnly) {
  TColumnNames names;
  EXPECT_EQ(names.Add("User-Name"), 0);
  EXPECT_EQ(names.Add("USER-name"), 0);
  EXPECT_EQ(names.Add("\xC3\xA9"), 1);  // é
  EXPECT_EQ(names.Add("\xC3\x89"), 2);  // É: not ASCII, another name
  EXPECT_EQ(names.IndexOf("user-NAME"), 0);
  EXPECT_EQ(names.IndexOf("User-Nam"), -1);
  EXPECT_THAT(names.Names(), ElementsAre("User-Name", "\xC3\xA9", "\xC3\x89"));
}

}  // namespace
}  // namespace velloran
