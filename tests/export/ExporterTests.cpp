#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "Exporter.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::TTempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string ReadFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
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
      {"CSV, every value in line order", Csv(), "A,B\r\nx,5\r\ny,10.0.0.1\r\n7\r\n"},
      {"CSV without header", Csv("", U',', false), "x,5\r\ny,10.0.0.1\r\n7\r\n"},
      {"CSV, listed columns", Csv("B,A"), "B,A\r\n5,x\r\n,y\r\n7,\r\n"},
      {"CSV, a listed column no record has", Csv("A;X"), "A,\r\nx,\r\ny,\r\n,\r\n"},
      {"CSV, other separator", Csv("", U';'), "A;B\r\nx;5\r\ny;10.0.0.1\r\n7\r\n"},
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
  EXPECT_EQ(Export(Csv()), "\"Name,With\",Q,L,Plain\r\n\"a,b\",\"say \"\"hi\"\"\",\"one\ntwo\",&amp;\r\n");
  // With another separator a comma is an ordinary character, and the entity's ";" is not.
  EXPECT_EQ(Export(Csv("", U';')), "Name,With;Q;L;Plain\r\na,b;\"say \"\"hi\"\"\";\"one\ntwo\";\"&amp;\"\r\n");
  // XML is written raw, as the log holds it.
  EXPECT_EQ(Export(Xml()), "<Event><Name,With>a,b</Name,With><Q>say \"hi\"</Q><L>one\ntwo</L><Plain>&amp;</Plain></Event>\r\n");
}

TEST_F(ExportTest, HeaderComesFromRecordZeroAlone) {
  // A line that is no event is an empty record (not a missing one): an empty header line.
  OpenLog({"not an event", kAB});
  EXPECT_EQ(Export(Csv()), "\r\n\r\nx,5\r\n");
  OpenLog({kBOnly, kAB});
  EXPECT_EQ(Export(Csv()), "B\r\n7\r\nx,5\r\n");
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
  Export(Csv());
  std::vector<int> expected = {0};
  for (int p = 2; p <= 98; p += 2) expected.push_back(p);
  expected.push_back(100);  // after record 995
  expected.push_back(100);  // at the end
  EXPECT_EQ(reported, expected);
  EXPECT_EQ(reported.size(), 52u);
}

TEST_F(ExportTest, CancelKeepsWhatWasWritten) {
  OpenLog(std::vector<std::string>(1000, kAB));
  for (int cancelAt : {0, 2}) {
    FOnProgress = [&](void*, int APercents, bool& IsCanceled) { IsCanceled = APercents == cancelAt; };
    bool result = true;
    const std::string bytes = Export(Csv(), &result);
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
  TDataExportParams params = Csv();
  params.FileName = FDir.Write("cancelled.csv", "old");
  TDataExporter exporter(FData);
  exporter.SetOnProgress([](void*, int APercents, bool& ACancel) { ACancel = APercents == 4; });
  EXPECT_FALSE(exporter.Execute(params));
  // 4 is reported after record 35: the header and records 0..35 are in the file.
  EXPECT_EQ(ReadFile(params.FileName).size(), 5u + 36u * 5u);
}

TEST_F(ExportTest, ALogThatShrinksWhileItIsExportedIsAnErrorThatKeepsTheRecordsWritten) {
  FData.LogMonitor().SetPreferredBlockSize(4096);  // the cut reaches blocks not read yet
  OpenLog(std::vector<std::string>(3000, kAB));
  const std::string log = FData.FileName();
  TDataExportParams params = Csv();
  params.FileName = FDir.File("shrunk.csv");
  TDataExporter exporter(FData);
  exporter.SetOnProgress([&](void*, int APercents, bool&) {
    if (APercents == 10) std::filesystem::resize_file(log, 20000);
  });
  try {
    exporter.Execute(params);
    ADD_FAILURE() << "the export claimed success";
  } catch (const ErdlLogMonitorShrank& e) {
    EXPECT_EQ(std::string(e.what()), log + " shrank while it was being read");
  }
  // Whole records only, every one right: no empty or cut record.
  const std::string out = ReadFile(params.FileName);
  ASSERT_GT(out.size(), 5u);
  EXPECT_EQ(out.size() % 5, 0u);
  EXPECT_EQ(out.find("\r\n\r\n"), std::string::npos);
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
