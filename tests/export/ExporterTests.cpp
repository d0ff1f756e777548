#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "EventLines.h"
#include "Exporter.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::EventLine;
using test::TTempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string ReadFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string Hex(std::string_view AText) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex = "0x";
  for (const char c : AText) hex.append(1, kDigits[static_cast<unsigned char>(c) >> 4]).append(1, kDigits[c & 15]);
  return hex;
}

struct TCsvField {
  std::string Text;
  bool Quoted = false;  // PostgreSQL: a quoted empty field is empty text, an unquoted one NULL
};
using TCsvRow = std::vector<TCsvField>;

// The rows of ABytes read as RFC 4180 with CR LF record ends, as PostgreSQL's COPY (FORMAT csv)
// reads them; a field that breaks the grammar fails the test.
std::vector<TCsvRow> ReadCsv(std::string_view ABytes) {
  std::vector<TCsvRow> rows;
  TCsvRow row;
  size_t i = 0;
  while (i < ABytes.size()) {
    TCsvField field;
    if (ABytes[i] == '"') {
      field.Quoted = true;
      for (++i;; ++i) {
        if (i >= ABytes.size()) {
          ADD_FAILURE() << "a quoted field is not closed";
          return rows;
        }
        if (ABytes[i] == '"') {
          if (i + 1 < ABytes.size() && ABytes[i + 1] == '"') {
            field.Text += '"';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        field.Text += ABytes[i];
      }
    } else {
      while (i < ABytes.size() && ABytes[i] != ',' && ABytes[i] != '\r') {
        if (ABytes[i] == '"' || ABytes[i] == '\n')
          ADD_FAILURE() << "a bare quote or LF in field " << row.size() << " of row " << rows.size();
        field.Text += ABytes[i++];
      }
    }
    row.push_back(field);
    if (i < ABytes.size() && ABytes[i] == ',') {
      ++i;
      continue;
    }
    if (ABytes.substr(i, 2) != "\r\n") {
      ADD_FAILURE() << "text after field " << row.size() - 1 << " of row " << rows.size();
      return rows;
    }
    i += 2;
    rows.push_back(std::move(row));
    row.clear();
  }
  if (!row.empty()) ADD_FAILURE() << "the last row has no CR LF";
  return rows;
}

class ExportTest : public ::testing::Test {
 protected:
  // Opens a log of the given event lines.
  void OpenLog(const std::vector<std::string>& ALines) {
    std::string bytes;
    for (const std::string& line : ALines) bytes += line + "\r\n";
    FData.Open(FDir.Write("log" + std::to_string(++FLogs) + ".log", bytes));
  }

  // Exports the open log with AParams (FileName set here) and returns the file's bytes.
  std::string Export(TDataExportParams AParams, bool* AResult = nullptr) {
    AParams.FileName = FDir.File("out" + std::to_string(++FOutputs));
    TDataExporter exporter(FData);
    exporter.SetOnProgress(FOnProgress);
    const bool result = exporter.Execute(AParams);
    if (AResult != nullptr) *AResult = result;
    return ReadFile(AParams.FileName);
  }

  static TDataExportParams Csv(std::string AColumns = "", char32_t ASeparator = U',', bool AWithHeader = true) {
    TDataExportParams params;
    params.Format = TDataExportFormat::efCSV;
    params.Columns = std::move(AColumns);
    params.Separator = ASeparator;
    params.WithHeader = AWithHeader;
    return params;
  }
  static TDataExportParams Xml(std::string AColumns = "") {
    TDataExportParams params;
    params.Columns = std::move(AColumns);
    return params;
  }

  TTempDir FDir;
  TData FData;
  TProgressNotifyEvent FOnProgress;
  int FLogs = 0;
  int FOutputs = 0;
};

const std::string kAB = R"(<Event><A data_type="1">x</A><B data_type="0">5</B></Event>)";
const std::string kAC = R"(<Event><A data_type="1">y</A><C data_type="3">10.0.0.1</C></Event>)";
const std::string kBOnly = R"(<Event><B data_type="0">7</B></Event>)";

TEST_F(ExportTest, FilesByteForByte) {
  OpenLog({kAB, kAC, kBOnly});
  struct TCase {
    const char* Name;
    TDataExportParams Params;
    std::string Bytes;
  };
  const TCase cases[] = {
      {"CSV, every column of the log", Csv(), "A,B,C\r\nx,5,\r\ny,,10.0.0.1\r\n,7,\r\n"},
      {"CSV without header", Csv("", U',', false), "x,5,\r\ny,,10.0.0.1\r\n,7,\r\n"},
      {"CSV, listed columns", Csv("B,A"), "B,A\r\n5,x\r\n,y\r\n7,\r\n"},
      {"CSV, listed names as listed, matched ignoring case", Csv("c|b"), "c,b\r\n,5\r\n10.0.0.1,\r\n,7\r\n"},
      {"CSV, a listed column no record has", Csv("A;X"), "A,X\r\nx,\r\ny,\r\n,\r\n"},
      {"CSV, other separator", Csv("", U';'), "A;B;C\r\nx;5;\r\ny;;10.0.0.1\r\n;7;\r\n"},
      {"XML", Xml(), "<Event><A>x</A><B>5</B></Event>\r\n<Event><A>y</A><C>10.0.0.1</C></Event>\r\n<Event><B>7</B></Event>\r\n"},
      {"XML, listed columns", Xml("A|X"), "<Event><A>x</A></Event>\r\n<Event><A>y</A></Event>\r\n<Event></Event>\r\n"},
  };
  for (const TCase& c : cases) {
    bool result = false;
    EXPECT_EQ(Export(c.Params, &result), c.Bytes) << c.Name;
    EXPECT_TRUE(result) << c.Name;
  }
}

TEST_F(ExportTest, CsvFieldsThatNeedQuotesGetThem) {
  OpenLog({R"(<Event><Name,With data_type="1">a,b</Name,With><Q data_type="1">say "hi"</Q><L data_type="1">one)"
           "\n"
           R"(two</L><Plain data_type="1">&amp;</Plain></Event>)"});
  EXPECT_EQ(Export(Csv()), "\"Name,With\",Q,L,Plain\r\n\"a,b\",\"say \"\"hi\"\"\",\"one\ntwo\",&\r\n");
  // With another separator a comma is an ordinary character; the decoded "&" needs nothing.
  EXPECT_EQ(Export(Csv("", U';')), "Name,With;Q;L;Plain\r\na,b;\"say \"\"hi\"\"\";\"one\ntwo\";&\r\n");
  // XML keeps the log's escaped form; the LF becomes a reference so the record stays one line.
  EXPECT_EQ(Export(Xml()),
            "<Event><Name,With>a,b</Name,With><Q>say \"hi\"</Q><L>one&#10;two</L><Plain>&amp;</Plain></Event>\r\n");
}

TEST_F(ExportTest, EveryRecordHasEveryColumnOfTheLogUnderItsOwnName) {
  // A request, the reply with its Class, an accounting record with columns of its own, a line
  // that is no event: as in a real log, record 0 lacks columns that later records have.
  OpenLog({EventLine({{"User-Name", "alice"}, {"Packet-Type", "1"}}),
           EventLine({{"Packet-Type", "3"}, {"Class", "311 1 10.0.0.1"}, {"Reason-Code", "16"}}), "not an event",
           EventLine({{"user-name", "bob"}, {"Acct-Status-Type", "1"}, {"CLASS", "311 2"}})});
  const std::vector<TCsvRow> rows = ReadCsv(Export(Csv()));
  ASSERT_EQ(rows.size(), 5u);
  std::vector<std::string> header;
  for (const TCsvField& field : rows[0]) header.push_back(field.Text);
  // Discovery order; a name the log spells two ways keeps its first spelling.
  EXPECT_THAT(header, ElementsAre("User-Name", "Packet-Type", "Class", "Reason-Code", "Acct-Status-Type"));
  for (const TCsvRow& row : rows) EXPECT_EQ(row.size(), header.size());
  const auto cell = [&](size_t ARow, const std::string& AName) {
    return rows[ARow][static_cast<size_t>(std::find(header.begin(), header.end(), AName) - header.begin())];
  };
  EXPECT_EQ(cell(2, "Class").Text, "311 1 10.0.0.1");
  EXPECT_EQ(cell(2, "Reason-Code").Text, "16");
  EXPECT_EQ(cell(4, "User-Name").Text, "bob");
  EXPECT_EQ(cell(4, "Class").Text, "311 2");
  for (const char* name : {"Class", "Reason-Code", "Acct-Status-Type"}) {
    EXPECT_EQ(cell(1, name).Text, "") << name;
    EXPECT_FALSE(cell(1, name).Quoted) << name << ": missing is NULL";
  }
  for (const TCsvField& field : rows[3]) EXPECT_FALSE(field.Quoted || !field.Text.empty()) << "no event: every field NULL";
}

TEST_F(ExportTest, CsvFieldsHoldTheValuesThatReadersGetBack) {
  struct TCase {
    const char* Name;
    std::string Line;  // beside the cases' A, every record has B="b"
    std::string Row;   // the CSV row written
    int Replaced = 0;  // NUL characters written as U+FFFD
  };
  const std::string nul(1, '\0');
  const TCase cases[] = {
      {"plain", EventLine({{"A", "Guests"}, {"B", "b"}}), "Guests,b"},
      {"entity references decoded", EventLine({{"A", "Guest &amp; Contractors &lt;EU&gt;"}, {"B", "b"}}),
       "Guest & Contractors <EU>,b"},
      {"numeric references decoded", EventLine({{"A", "caf&#233; &#x41;"}, {"B", "b"}}), "caf\xC3\xA9 A,b"},
      {"a malformed reference stays as written", EventLine({{"A", "&amp &#0; &nbsp;"}, {"B", "b"}}), "&amp &#0; &nbsp;,b"},
      {"a decoded CR is quoted", EventLine({{"A", "one&#13;two"}, {"B", "b"}}), "\"one\rtwo\",b"},
      {"a decoded quote is doubled", EventLine({{"A", "say &quot;hi&quot;"}, {"B", "b"}}), "\"say \"\"hi\"\"\",b"},
      {"present but empty: empty text", EventLine({{"A", ""}, {"B", "b"}}), "\"\",b"},
      {"missing: NULL", EventLine({{"B", "b"}}), ",b"},
      {"a repeated attribute keeps every value", EventLine({{"A", "one"}, {"B", "b"}, {"A", "two"}, {"a", "3"}}),
       "\"one\ntwo\n3\",b"},
      {"a repeated empty value still counts", EventLine({{"A", ""}, {"A", "x"}, {"B", "b"}}), "\"\nx\",b"},
      {"exactly \\. is quoted", EventLine({{"A", "\\."}, {"B", "b"}}), "\"\\.\",b"},
      {"\\. within a value is not", EventLine({{"A", "\\.x"}, {"B", "b"}}), "\\.x,b"},
      {"NUL from a hexadecimal line", Hex(EventLine({{"A", "a" + nul + "b" + nul}, {"B", "b"}})),
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD,b",
       2},
      {"NUL in a quoted field", EventLine({{"A", "x," + nul}, {"B", "b"}}), "\"x,\xEF\xBF\xBD\",b", 1},
  };
  for (const TCase& c : cases) {
    OpenLog({EventLine({{"A", "a"}, {"B", "b"}}), c.Line});
    TDataExportParams params = Csv();
    params.FileName = FDir.File("fields.csv");
    TDataExporter exporter(FData);
    ASSERT_TRUE(exporter.Execute(params)) << c.Name;
    const std::string bytes = ReadFile(params.FileName);
    EXPECT_EQ(bytes, "A,B\r\na,b\r\n" + c.Row + "\r\n") << c.Name;
    EXPECT_EQ(exporter.ReplacedCharacters(), c.Replaced) << c.Name;
    EXPECT_EQ(ReadCsv(bytes).size(), 3u) << c.Name;
  }
}

TEST_F(ExportTest, ASpecialByteIsFoundWhereverItStandsInAValue) {
  // Plain values of many lengths, each with one byte or sequence that needs care at each
  // place, first and last included: none may go out bare, in CSV or in XML.
  struct TSpecial {
    std::string Raw;  // as the log holds it
    std::string Csv;  // the text a CSV reader gets back
    std::string Xml;  // as XML writes it
  };
  const std::string nul(1, '\0');
  const std::string replacement = "\xEF\xBF\xBD";
  const TSpecial specials[] = {
      {",", ",", ","},
      {"\"", "\"", "\""},
      {"\n", "\n", "&#10;"},
      {nul, replacement, replacement},
      {"\x01", "\x01", replacement},
      {"&amp;", "&", "&amp;"},
      {"&", "&", "&amp;"},
      {"]]>", "]]>", "]]&gt;"},
      {"\xEF\xBF\xBF", "\xEF\xBF\xBF", replacement},
  };
  std::vector<std::string> lines;
  std::vector<std::string> csv;
  std::string xml;
  for (size_t length = 1; length <= 24; ++length) {
    for (size_t at = 0; at < length; ++at) {
      for (const TSpecial& special : specials) {
        const std::string before(at, 'a');
        const std::string after(length - at - 1, 'b');
        lines.push_back(EventLine({{"A", before + special.Raw + after}}));
        csv.push_back(before + special.Csv + after);
        xml.append("<Event><A>").append(before).append(special.Xml).append(after).append("</A></Event>\r\n");
      }
    }
  }
  OpenLog(lines);
  const std::vector<TCsvRow> rows = ReadCsv(Export(Csv()));
  ASSERT_EQ(rows.size(), csv.size() + 1);
  for (size_t i = 0; i < csv.size(); ++i) {
    ASSERT_EQ(rows[i + 1].size(), 1u) << csv[i];
    EXPECT_EQ(rows[i + 1][0].Text, csv[i]);
  }
  EXPECT_EQ(Export(Xml()), xml);
}

TEST_F(ExportTest, XmlKeepsValuesEscapedAndEveryLineWellFormed) {
  struct TCase {
    const char* Name;
    std::string Value;  // as the log holds it
    std::string Xml;    // as the export writes it
    int Replaced = 0;   // characters written as U+FFFD
  };
  const std::string nul(1, '\0');
  const TCase cases[] = {
      {"references stay as written", "a &amp; b &lt; &#233; &#xE9; &quot;", "a &amp; b &lt; &#233; &#xE9; &quot;"},
      {"TAB stays, LF becomes a reference", "a\tb\nc", "a\tb&#10;c"},
      {"CR and LF references stay", "a&#13;&#10;b&#xD;", "a&#13;&#10;b&#xD;"},
      {"other C0 control characters",
       "a\x01"
       "b\x1F"
       "c" +
           nul,
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"
       "c\xEF\xBF\xBD",
       3},
      {"references to them", "&#1;&#x1f;&#xFFFE;", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", 3},
      {"U+FFFE and U+FFFF",
       "a\xEF\xBF\xBE"
       "b\xEF\xBF\xBF"
       "c\xEF\xBF\xBD\xEF\x80\x80",
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"
       "c\xEF\xBF\xBD\xEF\x80\x80",
       2},
      {"an & that starts no reference", "AT&T &amp &#0; &nbsp; &#xZZ; &",
       "AT&amp;T &amp;amp &amp;#0; &amp;nbsp; &amp;#xZZ; &amp;"},
      {"the end of a CDATA section", "a]]>b ]] > ]]]>", "a]]&gt;b ]] > ]]]&gt;"},
  };
  for (const TCase& c : cases) {
    OpenLog({EventLine({{"A", c.Value}})});
    TDataExportParams params = Xml();
    params.FileName = FDir.File("values.xml");
    TDataExporter exporter(FData);
    ASSERT_TRUE(exporter.Execute(params)) << c.Name;
    EXPECT_EQ(ReadFile(params.FileName), "<Event><A>" + c.Xml + "</A></Event>\r\n") << c.Name;
    EXPECT_EQ(exporter.ReplacedCharacters(), c.Replaced) << c.Name;
  }
  // NUL and CR LF of a hexadecimal line (a log line holds no CR), and a repeated attribute
  // under a column list: every value.
  OpenLog({Hex(EventLine({{"A", "x" + nul + "\r\n"}, {"B", "1"}, {"A", "y"}}))});
  EXPECT_EQ(Export(Xml("a")), "<Event><A>x\xEF\xBF\xBD&#13;&#10;</A><A>y</A></Event>\r\n");
}

TEST_F(ExportTest, ListedColumnsThatNoRecordHasAreReported) {
  OpenLog({kAB, kAC});
  TDataExportParams params = Csv("b,Nope,A,,c");
  params.FileName = FDir.File("listed.csv");
  TDataExporter exporter(FData);
  ASSERT_TRUE(exporter.Execute(params));
  EXPECT_EQ(ReadFile(params.FileName), "b,Nope,A,\"\",c\r\n5,,x,,\r\n,,y,,10.0.0.1\r\n");
  EXPECT_THAT(exporter.MissingColumns(), ElementsAre("Nope", ""));
  params.Format = TDataExportFormat::efXML;
  ASSERT_TRUE(exporter.Execute(params));
  EXPECT_THAT(exporter.MissingColumns(), ElementsAre("Nope", ""));
  params = Csv();
  params.FileName = FDir.File("all.csv");
  ASSERT_TRUE(exporter.Execute(params));
  EXPECT_THAT(exporter.MissingColumns(), IsEmpty());
}

TEST_F(ExportTest, NamesWriteCodedValuesAsTheirNames) {
  OpenLog({EventLine({{"Packet-Type", "3"}, {"Reason-Code", "999999"}, {"Class", "3"}}),
           EventLine({{"packet-type", "2"}, {"Packet-Type", "x"}})});
  TDataExportParams csv = Csv();
  csv.Names = true;
  // Unnamed and non-numeric values stay as they are; an attribute without codes is not looked up.
  EXPECT_EQ(Export(csv), "Packet-Type,Reason-Code,Class\r\nAccess-Reject,999999,3\r\n\"Access-Accept\nx\",,\r\n");
  TDataExportParams xml = Xml();
  xml.Names = true;
  EXPECT_EQ(Export(xml),
            "<Event><Packet-Type>Access-Reject</Packet-Type><Reason-Code>999999</Reason-Code><Class>3</Class></Event>\r\n"
            "<Event><Packet-Type>Access-Accept</Packet-Type><Packet-Type>x</Packet-Type></Event>\r\n");
  EXPECT_EQ(Export(Csv("Packet-Type")), "Packet-Type\r\n3\r\n\"2\nx\"\r\n") << "numbers without Names";
}

TEST_F(ExportTest, EmptyLogGivesAnEmptyFile) {
  FData.Open(FDir.Write("empty.log", ""));
  std::vector<int> reported;
  FOnProgress = [&](void*, int APercents, bool&) { reported.push_back(APercents); };
  bool result = false;
  EXPECT_EQ(Export(Csv(), &result), "");
  EXPECT_TRUE(result);
  EXPECT_THAT(reported, ElementsAre(0, 100));
}

TEST_F(ExportTest, ThousandRecordsReportProgressInStepsOfTwo) {
  OpenLog(std::vector<std::string>(1000, kAB));
  std::vector<int> reported;
  FOnProgress = [&](void* Sender, int APercents, bool&) {
    EXPECT_NE(Sender, nullptr);
    reported.push_back(APercents);
  };
  std::vector<int> expected = {0};
  for (int p = 2; p <= 98; p += 2) expected.push_back(p);
  expected.push_back(100);  // after record 995
  expected.push_back(100);  // at the end
  Export(Csv("A,B"));       // one pass over the records
  EXPECT_EQ(reported, expected);
  EXPECT_EQ(reported.size(), 52u);
  // The scan for every column, then the records: one range, reported by the same rule.
  reported.clear();
  Export(Csv());
  EXPECT_EQ(reported, expected);
}

TEST_F(ExportTest, CancelKeepsWhatWasWritten) {
  OpenLog(std::vector<std::string>(1000, kAB));
  for (int cancelAt : {0, 2}) {
    FOnProgress = [&](void*, int APercents, bool& IsCanceled) { IsCanceled = APercents == cancelAt; };
    bool result = true;
    const std::string bytes = Export(Csv("A,B"), &result);
    EXPECT_FALSE(result);
    if (cancelAt == 0) {
      EXPECT_EQ(bytes, "");
    } else {
      // 2 is reported after record 15: the header and records 0..15.
      std::string expected = "A,B\r\n";
      for (int i = 0; i <= 15; ++i) expected += "x,5\r\n";
      EXPECT_EQ(bytes, expected);
    }
  }
  // Every column: a cancel in the scan ends the export before a byte is written; one in the
  // records keeps the header and the records written.
  for (int cancelAt : {2, 50}) {
    FOnProgress = [&](void*, int APercents, bool& IsCanceled) { IsCanceled = APercents == cancelAt; };
    bool result = true;
    const std::string bytes = Export(Csv(), &result);
    EXPECT_FALSE(result);
    if (cancelAt == 2) {
      EXPECT_EQ(bytes, "");
    } else {
      ASSERT_EQ(bytes.substr(0, 5), "A,B\r\n");
      EXPECT_EQ(bytes.size() % 5, 0u);
      EXPECT_GT(bytes.size(), 5u);
      EXPECT_LT(bytes.size(), 5u + 1000u * 5u);
    }
  }
}

TEST_F(ExportTest, FileErrorsNameTheFile) {
  OpenLog({kAB});
  const std::string blocker = FDir.Write("blocker", "a file, not a folder");
  for (const std::string& path : {FDir.File("missing/out.csv"), blocker + "/out.csv"}) {
    TDataExportParams params = Csv();
    params.FileName = path;
    TDataExporter exporter(FData);
    try {
      exporter.Execute(params);
      ADD_FAILURE() << "no error for " << path;
    } catch (const std::system_error& e) {
      EXPECT_THAT(e.what(), HasSubstr(path));
    }
  }
}

TEST_F(ExportTest, WriteErrorIsReportedNotClaimedAsSuccess) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  OpenLog(std::vector<std::string>(2000, kAB));  // more than the 32 KiB buffer
  TDataExportParams params = Csv();
  params.FileName = "/dev/full";
  TDataExporter exporter(FData);
  try {
    exporter.Execute(params);
    ADD_FAILURE() << "a full disk went unnoticed";
  } catch (const std::system_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("/dev/full"));
    EXPECT_EQ(e.code(), std::errc::no_space_on_device);
  }
}

TEST_F(ExportTest, SeparatorIsWrittenAsTheLowByteOfItsCode) {
  OpenLog({kAB});
  EXPECT_EQ(Export(Csv("", U'\u012C')), "A,B\r\nx,5\r\n");
}

TEST_F(ExportTest, AFailedExportLeavesTheOldFileAsItWas) {
  OpenLog(std::vector<std::string>(1000, kAB));
  FOnProgress = [](void*, int APercents, bool&) {
    if (APercents == 4) throw std::runtime_error("handler failed");
  };
  TDataExportParams params = Csv();
  params.FileName = FDir.Write("thrown.csv", "the previous export\r\n");
  TDataExporter exporter(FData);
  exporter.SetOnProgress(FOnProgress);
  EXPECT_THROW(exporter.Execute(params), std::runtime_error);
  EXPECT_EQ(ReadFile(params.FileName), "the previous export\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FDir.Path()), {}), 2) << "the log and OUT, no part file";

  // The same exporter runs again and replaces the file.
  exporter.SetOnProgress(nullptr);
  EXPECT_TRUE(exporter.Execute(params));
  EXPECT_EQ(ReadFile(params.FileName).size(), 5u + 1000u * 5u);
}

TEST_F(ExportTest, ACancelledExportKeepsTheRecordsWrittenInPlaceOfTheOldFile) {
  OpenLog(std::vector<std::string>(1000, kAB));
  TDataExportParams params = Csv("A,B");
  params.FileName = FDir.Write("cancelled.csv", "old");
  TDataExporter exporter(FData);
  exporter.SetOnProgress([](void*, int APercents, bool& ACancel) { ACancel = APercents == 4; });
  EXPECT_FALSE(exporter.Execute(params));
  // 4 is reported after record 35: the header and records 0..35 are in the file.
  EXPECT_EQ(ReadFile(params.FileName).size(), 5u + 36u * 5u);
}

TEST_F(ExportTest, ALogThatShrinksWhileItIsExportedIsAnErrorThatKeepsTheRecordsWritten) {
  FData.LogMonitor().SetPreferredBlockSize(4096);  // the cut reaches blocks not read yet
  // Cut while the records are written, and while the columns are scanned (nothing written).
  for (const int cutAt : {50, 4}) {
    SCOPED_TRACE(cutAt);
    OpenLog(std::vector<std::string>(3000, kAB));
    const std::string log = FData.FileName();
    TDataExportParams params = Csv();
    params.FileName = FDir.File("shrunk.csv");
    TDataExporter exporter(FData);
    exporter.SetOnProgress([&](void*, int APercents, bool&) {
      if (APercents == cutAt) std::filesystem::resize_file(log, 20000);
    });
    try {
      exporter.Execute(params);
      ADD_FAILURE() << "the export claimed success";
    } catch (const ErdlLogMonitorShrank& e) {
      EXPECT_EQ(std::string(e.what()), log + " shrank while it was being read");
    }
    // Whole records only, every one right: no empty or cut record.
    const std::string out = ReadFile(params.FileName);
    if (cutAt == 4) {
      EXPECT_EQ(out, "");
      continue;
    }
    ASSERT_GT(out.size(), 5u);
    EXPECT_EQ(out.size() % 5, 0u);
    EXPECT_EQ(out.find("\r\n\r\n"), std::string::npos);
  }
}

TEST_F(ExportTest, ExportOntoTheLogItselfIsRefused) {
  OpenLog({kAB, kAC});
  const std::string log = FData.FileName();
  const std::string before = ReadFile(log);
  TDataExportParams params = Csv();
  params.FileName = log;
  TDataExporter exporter(FData);
  EXPECT_THROW(exporter.Execute(params), EDataExportError);
  EXPECT_EQ(ReadFile(log), before);
}

// Every file of a set is a log being read, not only the first; the same file under another
// spelling is still that file.
TEST_F(ExportTest, ExportOntoAnyFileOfASetIsRefused) {
  const std::string first = FDir.Write("IN261201.log", kAB + "\r\n");
  const std::string second = FDir.Write("IN261202.log", kAC + "\r\n" + kBOnly + "\r\n");
  FData.OpenSet({first, second});
  ASSERT_EQ(FData.FileCount(), 2);
  const std::string respelled = (FDir.Path() / "." / "IN261202.log").string();
  for (const std::string& out : {first, second, respelled}) {
    SCOPED_TRACE(out);
    const std::string before = ReadFile(out);
    TDataExportParams params = Xml();
    params.FileName = out;
    TDataExporter exporter(FData);
    try {
      exporter.Execute(params);
      ADD_FAILURE() << "no error";
    } catch (const EDataExportError& e) {
      EXPECT_THAT(e.what(), HasSubstr(out + " is one of the logs being read"));
    }
    EXPECT_EQ(ReadFile(out), before);
  }
}

TEST(ExportFormatTest, OnlyANameEndingInDotCsvGivesCsv) {
  struct TCase {
    const char* FileName;
    TDataExportFormat Format;
  };
  const TCase cases[] = {
      {"/out/records.csv", TDataExportFormat::efCSV},
      {"records.CSV", TDataExportFormat::efCSV},
      {"records.cSv", TDataExportFormat::efCSV},
      {".csv", TDataExportFormat::efCSV},
      {"records.xml", TDataExportFormat::efXML},
      {"records.txt", TDataExportFormat::efXML},
      {"records", TDataExportFormat::efXML},
      {"", TDataExportFormat::efXML},
      {"csv", TDataExportFormat::efXML},                  // no dot: no extension
      {"records.csv.gz", TDataExportFormat::efXML},       // the last extension counts
      {"/out/by.csv/records", TDataExportFormat::efXML},  // a folder's name does not
      {"records.csv ", TDataExportFormat::efXML},         // nothing is trimmed
      {"records.c\u017Fv", TDataExportFormat::efXML},     // only ASCII letters ignore case
  };
  for (const TCase& c : cases) EXPECT_EQ(ExportFormatOfFileName(c.FileName), c.Format) << '"' << c.FileName << '"';
}

}  // namespace
}  // namespace velloran
