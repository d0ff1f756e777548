#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogData.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::Join;
using test::TTempDir;
using ::testing::ElementsAre;

// "Name=Value" for each item, joined by " | ".
std::string Describe(const TrdlDataRow& ARow) {
  std::string text;
  for (int i = 0; i < ARow.Count(); ++i) {
    if (i > 0) text += " | ";
    const TrdlDataRowItem* item = ARow.Items(i);
    text += (item->Column() != nullptr ? item->Column()->ColumnName() : "?") + "=" + item->RawText();
  }
  return text;
}

std::string ToHex(std::string_view AText, std::string_view ASeparator = "") {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (size_t i = 0; i < AText.size(); ++i) {
    if (i > 0) hex += ASeparator;
    const auto byte = static_cast<unsigned char>(AText[i]);
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

const std::string kEvent = R"(<Event><A data_type="1">x</A><B data_type="0">5</B></Event>)";

TEST(EventParserTest, LineForms) {
  struct TCase {
    const char* Name;
    std::string Line;
    bool Result;
    std::string Items;
  };
  const TCase cases[] = {
      {"empty line", "", true, ""},
      {"empty event", "<Event></Event>", true, ""},
      {"tags in any case", "<event><A data_type=\"1\">x</A></EVENT>", true, "A=x"},
      {"plain", kEvent, true, "A=x | B=5"},
      {"rest after the end is ignored", kEvent + "garbage<", true, "A=x | B=5"},
      {"end tag with a longer name", "<Event><A data_type=\"1\">x</A></EventsX", true, "A=x"},
      {"end tag cut short", "<Event><A data_type=\"1\">x</A></Eve", false, "A=x | /Eve="},
      {"hexadecimal bytes are characters, not UTF-8", "0x" + ToHex("<Event><A data_type=\"1\">\xE9</A></Event>"), true,
       "A=\xC3\xA9"},
      {"space before the event", " " + kEvent, false, ""},
      {"text before the event", "x" + kEvent, false, ""},
      {"not an event", "hello world", false, ""},
      {"byte-order mark", "\xEF\xBB\xBF" + kEvent, true, "A=x | B=5"},
      {"reversed mark", "\xEF\xBF\xBE" + kEvent, true, "A=x | B=5"},
      {"hexadecimal", "0x" + ToHex(kEvent), true, "A=x | B=5"},
      {"hexadecimal with separators", "0x" + ToHex(kEvent, ","), true, "A=x | B=5"},
      {"hexadecimal after a mark",
       "\xEF\xBB\xBF"
       "0x" +
           ToHex(kEvent),
       true, "A=x | B=5"},
      {"capital X is no hexadecimal", "0X" + ToHex(kEvent), false, ""},
      {"hexadecimal garbage", "0x" + ToHex(kEvent) + "G0", false, ""},
      {"entities are kept", "<Event><A data_type=\"1\">R&amp;D</A></Event>", true, "A=R&amp;D"},
      {"value not trimmed", "<Event><A data_type=\"1\"> x </A></Event>", true, "A= x "},
      {"space between elements", "<Event><A data_type=\"1\">x</A> <B data_type=\"0\">5</B></Event>", false, "A=x"},
      {"cut inside a value", "<Event><A data_type=\"1\">x</A><B data_type=\"0\">12", false, "A=x | B=12"},
      {"cut inside a start tag", "<Event><A data_type=\"1\">x</A><C data_type=", false, "A=x | C="},
      {"no end tag", "<Event><A data_type=\"1\">x</A>", false, "A=x"},
      // The name runs on to the next space: here the whole "N>x</N><B".
      {"element without attributes", "<Event><N>x</N><B data_type=\"0\">5</B></Event>", true, "N>x</N><B=5"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TData data;
    TrdlDataRow row;
    row.Add()->SetRawText("left over");
    EXPECT_EQ(data.ParseLine(c.Line, row), c.Result);
    EXPECT_EQ(Describe(row), c.Items);
  }
}

TEST(EventParserTest, ColumnTypesComeFromTheFirstOccurrence) {
  TData data;
  TrdlDataRow row;
  const std::string line =
      "<Event><I data_type=\"0\">1</I><S data_type=\"1\">s</S><O data_type=\"2\">0A</O><P data_type=\"3\">10.0.0.1</P>"
      "<T data_type=\"4\">12/09/2026 08:00:00.000</T><Ten data_type=\"10\">1</Ten><FortyTwo data_type=\"42\">1</FortyTwo>"
      "<Other other=\"1\" data_type=\"0\">1</Other><Short x=\"0\">1</Short><Quote data_type='0'>1</Quote>"
      "<Upper DATA_TYPE=\"0\">1</Upper><Spaced   data_type=\"0\">1</Spaced></Event>";
  ASSERT_TRUE(data.ParseLine(line, row));
  // A later line with other types and other letter cases changes nothing.
  ASSERT_TRUE(data.ParseLine("<Event><i data_type=\"1\">x</i><S data_type=\"0\">2</S><New data_type=\"3\">1</New></Event>", row));
  EXPECT_EQ(Describe(row), "I=x | S=2 | New=1");

  std::vector<std::string> columns;
  for (int i = 0; i < data.Columns().Count(); ++i) {
    const TrdlDataColumn* column = data.Columns().Columns(i);
    columns.push_back(column->ColumnName() + ":" + std::string(DataTypeName(column->DataType())));
  }
  EXPECT_THAT(columns, ElementsAre("I:rdtInteger", "S:rdtString", "O:rdtOctetString", "P:rdtIPv4", "T:rdtTimeStamp",
                                   "Ten:rdtString", "FortyTwo:rdtTimeStamp", "Other:rdtString", "Short:rdtString",
                                   "Quote:rdtString", "Upper:rdtInteger", "Spaced:rdtInteger", "New:rdtIPv4"));
}

TEST(EventParserTest, ColumnLookupAgreesWithTheColumnList) {
  // Tags after different tags, case variants after the same tag, and enough spellings to
  // make the lookup tables grow: every item's column is the one the list itself finds.
  std::vector<std::string> lines = {
      "<Event><A data_type=\"1\">1</A><b data_type=\"1\">2</b></Event>",
      "<Event><A data_type=\"1\">1</A><B data_type=\"1\">2</B><c data_type=\"1\">3</c></Event>",
      "<Event><C data_type=\"1\">3</C><a data_type=\"1\">1</a><B data_type=\"1\">2</B></Event>",
  };
  for (int i = 0; i < 80; ++i) {
    const std::string name = "Tag" + std::to_string(i % 40) + (i >= 40 ? "x" : "");
    const std::string upper = "TAG" + std::to_string(i % 40) + (i >= 40 ? "X" : "");
    lines.push_back("<Event><" + name + " data_type=\"0\">1</" + name + "><A data_type=\"1\">x</A><" + upper +
                    " data_type=\"0\">2</" + upper + "></Event>");
  }
  TData data;
  TrdlDataRow row;
  for (int round = 0; round < 2; ++round) {
    for (const std::string& line : lines) {
      ASSERT_TRUE(data.ParseLine(line, row)) << line;
      for (int i = 0; i < row.Count(); ++i) {
        const TrdlDataColumn* column = row.Items(i)->Column();
        EXPECT_EQ(column, data.Columns().ColumnByName(column->ColumnName())) << line;
      }
    }
  }
  EXPECT_EQ(data.Columns().Count(), 3 + 80);
}

TEST(EventParserTest, DetectDataType) {
  struct TCase {
    const char* Attributes;
    TrdlDataType Type;
  };
  const TCase cases[] = {
      {" data_type=\"0\"", TrdlDataType::rdtInteger}, {" data_type=\"", TrdlDataType::rdtString},  // 12 characters: too short
      {"  data_type=\"", TrdlDataType::rdtString},  // 13, but nothing after the quote
      {"data_type=\"3\"", TrdlDataType::rdtIPv4},   // no leading space, 13 characters
      {" data_type=\"5\"", TrdlDataType::rdtString},  {" data_type=3 ", TrdlDataType::rdtString}, {"", TrdlDataType::rdtString},
  };
  for (const TCase& c : cases) EXPECT_EQ(TData::DetectDataType(c.Attributes), c.Type) << '"' << c.Attributes << '"';
}

TEST(EventParserTest, HexToText) {
  struct TCase {
    const char* Chars;
    std::string Text;
  };
  const TCase cases[] = {
      {"3C45", "<E"},     {"3c45", "<E"},
      {"3C,45", "<E"},    {"3C 45\r\n46\\47", "<EFG"},
      {"1", "\x01"},      {"123", std::string("\x01\x23")},  // odd without separators: the first digit alone
      {"3C,4", "<\x04"},                                     // a lone last digit is the byte's value
      {"", ""},           {"3G", ""},
      {"G3", ""},         {"3C-45", ""},
      {"E9", "\xC3\xA9"},  // byte 0xE9 is the character U+00E9
  };
  for (const TCase& c : cases) EXPECT_EQ(TData::HexToText(c.Chars), c.Text) << c.Chars;
}

class DataFacadeTest : public ::testing::Test {
 protected:
  TTempDir FDir;
  TData FData;
  TrdlDataRow FRow;
};

TEST_F(DataFacadeTest, RowsOfAnOpenLog) {
  EXPECT_EQ(FData.Count(), 0) << "before the first Open";
  EXPECT_FALSE(FData.GetRow(0, FRow));
  const std::string path = FDir.Write("a.log", kEvent + "\r\n" + R"(<Event><C data_type="3">10.0.0.1</C></Event>)" + "\r\n");
  std::vector<int> progress;
  FData.SetOnProgress([&](void* Sender, int APercents, bool&) {
    EXPECT_EQ(Sender, &FData);
    progress.push_back(APercents);
  });
  FData.Open(path);
  EXPECT_EQ(FData.FileName(), path);
  EXPECT_THAT(progress, ElementsAre(0, 57, 100));  // the second line starts at 57 % of the file
  ASSERT_EQ(FData.Count(), 2);
  ASSERT_TRUE(FData.GetRow(1, FRow));
  EXPECT_EQ(Describe(FRow), "C=10.0.0.1");
  ASSERT_TRUE(FData.GetRow(0, FRow));
  EXPECT_EQ(Describe(FRow), "A=x | B=5");
  EXPECT_FALSE(FData.GetRow(-1, FRow));
  EXPECT_FALSE(FData.GetRow(2, FRow));
}

// A reader of a growing log holds back only a last line that is the start of an unfinished
// event; a final event without its break, and other text, show.
TEST_F(DataFacadeTest, WholeCountHoldsBackOnlyAnUnfinishedLastEvent) {
  struct TCase {
    std::string Tail;  // after one whole event line
    int64_t Whole;
  };
  const std::string hexEvent = "0x3C4576656E743E3C2F4576656E743E";  // <Event></Event>
  const TCase cases[] = {
      {"", 1},
      {kEvent, 2},                                    // whole, only its break is missing
      {kEvent + "  ", 2},                             // trailing blanks
      {"<Event><A data_type=\"1\">x</A>", 1},         // half an event
      {"<Ev", 1},                                     // the first bytes of one
      {"\xEF\xBB\xBF<Event><A data_type=\"1\">", 1},  // with a byte-order mark
      {hexEvent, 2},
      {hexEvent.substr(0, 20), 1},
      {"some text", 2},  // no event: shown as it always was
      {"\n\n\n", 2},
  };
  for (const TCase& c : cases) {
    FData.Open(FDir.Write("tail.log", kEvent + "\r\n" + c.Tail));
    EXPECT_EQ(FData.WholeCount(), c.Whole) << c.Tail;
  }
}

TEST_F(DataFacadeTest, ColumnsOfEarlierLogsStayAhead) {
  FData.Open(FDir.Write("first.log", R"(<Event><Z data_type="1">z</Z><A data_type="1">a</A></Event>)"));
  FData.GetRow(0, FRow);
  FData.Open(FDir.Write("second.log", R"(<Event><B data_type="1">b</B><a data_type="0">1</a></Event>)"));
  ASSERT_TRUE(FData.GetRow(0, FRow));
  EXPECT_EQ(Describe(FRow), "B=b | A=1");
  EXPECT_EQ(FData.Columns().GetAsString(), "Z|A|B");
}

TEST_F(DataFacadeTest, ReopeningNeverAnswersWithARowOfThePreviousLog) {
  FData.Open(FDir.Write("first.log", R"(<Event><A data_type="1">old</A></Event>)"));
  FData.GetRow(0, FRow);
  FData.Open(FDir.Write("second.log", R"(<Event><A data_type="1">new</A></Event>)"));
  FData.GetRow(0, FRow);
  EXPECT_EQ(Describe(FRow), "A=new");
}

TEST_F(DataFacadeTest, CancelledOpenHasNoRows) {
  FData.SetOnProgress([](void*, int, bool& IsCanceled) { IsCanceled = true; });
  FData.Open(FDir.Write("a.log", kEvent));
  EXPECT_EQ(FData.Count(), 0);
  EXPECT_FALSE(FData.GetRow(0, FRow));
}

// Whether a file is a log at all is decided by its first 1,000 lines.
TEST_F(DataFacadeTest, HoldsEventsLooksAtTheFirstThousandLines) {
  const auto lines = [](int ACount, std::string_view ALine) {
    std::string text;
    for (int i = 0; i < ACount; ++i) text += Join({ALine, "\r\n"});
    return text;
  };
  struct TCase {
    const char* Name;
    std::string Bytes;
    bool Holds;
  };
  const TCase cases[] = {
      {"a log", Join({kEvent, "\r\n"}), true},
      {"a password file", "root:x:0:0:root:/root:/bin/bash\nuser:x:1000:1000::/home/user:/bin/sh\n", false},
      {"binary bytes",
       std::string("\x7f"
                   "ELF\x02\x01\x01\0\0\0\r\x89PNG\r\n\x1a",
                   17),
       false},
      {"the event is line 1,000", Join({lines(999, "noise"), kEvent, "\r\n"}), true},
      {"the event is line 1,001", Join({lines(1000, "noise"), kEvent, "\r\n"}), false},
      {"a hexadecimal event", "0x3C4576656E743E3C413E783C2F413E3C2F4576656E743E\r\n", true},
  };
  for (const TCase& c : cases) {
    FData.Open(FDir.Write(Join({c.Name, ".log"}), c.Bytes));
    EXPECT_EQ(FData.HoldsEvents(), c.Holds) << c.Name;
  }
}

TEST_F(DataFacadeTest, BadLinesGiveRowsAndNeverCrash) {
  const std::string huge = "<Event><Big data_type=\"1\">" + std::string(10 * 1024 * 1024, 'v') + "</Big></Event>";
  const std::vector<std::string> lines = {
      "not an event",
      R"(<Event><A data_type="1">cut)",
      "<Event><A data_type=\"1\">\xFF\xC3(\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80"
      "end</A></Event>",
      "0x3C4576656E74G",
      huge,
      kEvent,
  };
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  FData.Open(FDir.Write("bad.log", bytes));
  // The 10 MB line spans many blocks and still reads as one record.
  ASSERT_EQ(FData.Count(), static_cast<int64_t>(lines.size()));
  std::vector<std::string> described;
  for (int64_t i = 0; i < FData.Count(); ++i) {
    ASSERT_TRUE(FData.GetRow(i, FRow)) << i;
    described.push_back(Describe(FRow).substr(0, 40));
  }
  EXPECT_EQ(described[0], "");
  EXPECT_EQ(described[1], "A=cut");
  // Each ill-formed piece (a bad lead byte with the continuation bytes after it) becomes one
  // U+FFFD; well-formed bytes stay.
  EXPECT_EQ(described[2],
            "A=\xEF\xBF\xBD\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
            "end");
  EXPECT_EQ(described[3], "");
  EXPECT_EQ(described[4].substr(0, 8), "Big=vvvv");
  ASSERT_TRUE(FData.GetRow(4, FRow));
  EXPECT_EQ(FRow.Items(0)->RawText().size(), 10u * 1024 * 1024) << "a line over many blocks is read whole";
  EXPECT_EQ(described.back(), "A=x | B=5");
}

}  // namespace
}  // namespace velloran
