#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "LogMonitor.h"
#include "PlatformFile.h"
#include "PlatformSystem.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::TTempDir;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr int64_t kBlock = 1048576;

std::vector<std::string> AllLines(TrdlLogMonitor& AMonitor) {
  std::vector<std::string> lines;
  for (int i = 0; i < AMonitor.Count(); ++i) lines.push_back(AMonitor.Get(i));
  return lines;
}

// Activation must throw ErdlLogMonitorError with every one of AParts in its text and leave
// the monitor inactive without lines.
void ExpectActivationFails(TrdlLogMonitor& AMonitor, const std::vector<std::string>& AParts) {
  try {
    AMonitor.SetActive(true);
    ADD_FAILURE() << "no exception";
  } catch (const ErdlLogMonitorError& e) {
    for (const std::string& part : AParts) EXPECT_THAT(e.what(), ::testing::HasSubstr(part));
  }
  EXPECT_FALSE(AMonitor.Active());
  EXPECT_EQ(AMonitor.Count(), 0);
}

// ALength bytes of one letter: with kBlock it places what follows at a block boundary.
std::string Filler(int64_t ALength) { return std::string(static_cast<size_t>(ALength), 'a'); }

class LogMonitorTest : public ::testing::Test {
 protected:
  // Indexes ABytes as a log file and returns its lines.
  std::vector<std::string> LinesOf(const std::string& ABytes, TrdlLogMonitorOptions AOptions = 0) {
    FMonitor.SetActive(false);
    FMonitor.SetOptions(AOptions);
    FMonitor.SetFileName(FDir.Write("log" + std::to_string(++FFiles) + ".log", ABytes));
    FMonitor.SetActive(true);
    return AllLines(FMonitor);
  }

  TTempDir FDir;
  TrdlLogMonitor FMonitor;
  int FFiles = 0;
};

TEST_F(LogMonitorTest, LineBreaks) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::vector<std::string> Lines;
    TrdlLogMonitorOptions Options = 0;
  };
  const TCase cases[] = {
      {"CR LF", "A\r\nB\r\n", {"A", "B"}},
      {"lone CR", "A\rB", {"A", "B"}},
      {"LF inside a line", "A\nB\r\n", {"A\nB"}},
      {"CR CR LF is one break", "A\r\r\nB", {"A", "B"}},
      {"empty line kept", "A\r\n\r\nB", {"A", "", "B"}},
      {"empty line skipped", "A\r\n\r\nB", {"A", "B"}, lmoSkipEmptyLines},
      {"second LF starts the next line", "A\r\n\nB", {"A", "\nB"}},
      {"last line without a break", "A\r\nBC", {"A", "BC"}},
      {"leading empty line", "\r\nA\r\n", {"", "A"}},
      {"only breaks", "\r\n\r\n", {"", ""}},
      {"only breaks, skipped", "\r\n\r\n", {}, lmoSkipEmptyLines},
      {"comma without a health test is no join", "a,b\r,c\r\n", {"a,b", ",c"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<std::string> lines = LinesOf(c.Bytes, c.Options);
    EXPECT_EQ(lines, c.Lines);
    EXPECT_EQ(FMonitor.Active(), !c.Lines.empty());
  }
}

// Logs copied through a tool that turned CR LF into LF: when the head holds LF but no CR, LF
// breaks the lines; any CR in the head keeps the CR rules (LFs inside values stay in them).
TEST_F(LogMonitorTest, LogsWithoutCrBreakAtLf) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::vector<std::string> Lines;
    TrdlLineBreak Break;
  };
  const std::string crLine = std::string(kLineBreakProbeSize, 'a');
  const TCase cases[] = {
      {"CR LF", "A\r\nB\r\n", {"A", "B"}, TrdlLineBreak::lbCR},
      {"LF only", "A\nB\nC", {"A", "B", "C"}, TrdlLineBreak::lbLF},
      {"LF only, a run of LFs is one break", "A\n\n\nB\n", {"A", "B"}, TrdlLineBreak::lbLF},
      {"mixed: one CR LF among LFs", "A\nB\r\nC\n", {"A\nB", "C"}, TrdlLineBreak::lbCR},
      {"LF inside a value of a CR LF log", "<a>x\ny</a>\r\n<b/>\r\n", {"<a>x\ny</a>", "<b/>"}, TrdlLineBreak::lbCR},
      {"no break at all", "only", {"only"}, TrdlLineBreak::lbCR},
      {"a CR after the head does not count", "x\n" + crLine + "\nB\r\nC\n", {"x", crLine, "B", "C"}, TrdlLineBreak::lbLF},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_TRUE(LinesOf(c.Bytes) == c.Lines);
    EXPECT_EQ(FMonitor.LineBreak(), c.Break);
    EXPECT_EQ(DetectLineBreak(reinterpret_cast<const uint8_t*>(c.Bytes.data()), std::min(c.Bytes.size(), kLineBreakProbeSize)),
              c.Break);
  }
}

TEST_F(LogMonitorTest, LfLogLinesAcrossBlockBoundaries) {
  // The same LF rules where blocks meet: a run of LFs split by the boundary is one break, and a
  // line over two blocks reads whole.
  const std::string head = "a\n";
  const std::string longLine(kBlock, 'L');
  const std::string bytes = head + Filler(kBlock - 3) + "\n" + "\n" + longLine + "\nlast\n";
  EXPECT_TRUE(LinesOf(bytes) == (std::vector<std::string>{"a", Filler(kBlock - 3), longLine, "last"}));
  EXPECT_EQ(FMonitor.LineBreak(), TrdlLineBreak::lbLF);
  EXPECT_EQ(FMonitor.LastFileLineCRC(), CalcCRC32("last", 4));
}

TEST_F(LogMonitorTest, ItemsHoldOffsetAndLength) {
  LinesOf("A\r\nB\r\n");
  ASSERT_EQ(FMonitor.Count(), 2);
  EXPECT_EQ(FMonitor.Item(0).Offset, 0);
  EXPECT_EQ(FMonitor.Item(0).Length, 1);
  EXPECT_EQ(FMonitor.Item(1).Offset, 3);
  EXPECT_EQ(FMonitor.Item(1).Length, 1);
  EXPECT_EQ(FMonitor.Get(1), "B");
  EXPECT_EQ(FMonitor.Strings(0), "A");
}

TEST(LineItemTest, EncodingKeepsOffsetAndSignedLength) {
  EXPECT_EQ(TrdlLineItem::Encode(3, 1), 0x0001000000000003u);
  EXPECT_EQ(TrdlLineItem::Encode(5, -1), 0xFFFF000000000005u);
  EXPECT_EQ(TrdlLineItem::Encode(5, 40000), 0xFFFF000000000005u);  // too long: found again when read
  const TrdlLineItem item = TrdlLineItem::Decode(TrdlLineItem::Encode(0xFFFFFFFFFFFF, 32767));
  EXPECT_EQ(item.Offset, 0xFFFFFFFFFFFF);
  EXPECT_EQ(item.Length, 32767);
}

// The line rules inside one view, written plainly: a run of break bytes and at most one LF
// ends a line. The break byte is CR, or LF when the head holds LF but no CR.
std::vector<std::string> ReferenceLines(const std::string& ABytes) {
  const std::string head = ABytes.substr(0, kLineBreakProbeSize);
  const char breakByte = head.find('\n') != std::string::npos && head.find('\r') == std::string::npos ? '\n' : '\r';
  const auto trimmed = [](std::string ALine) {
    while (!ALine.empty() && (ALine.back() == '\n' || ALine.back() == '\r')) ALine.pop_back();
    return ALine;
  };
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < ABytes.size()) {
    const size_t end = ABytes.find(breakByte, pos);
    if (end == std::string::npos) {
      lines.push_back(trimmed(ABytes.substr(pos)));
      break;
    }
    lines.push_back(trimmed(ABytes.substr(pos, end - pos)));
    pos = end;
    while (pos < ABytes.size() && ABytes[pos] == breakByte) ++pos;
    if (pos < ABytes.size() && ABytes[pos] == '\n') ++pos;
  }
  return lines;
}

TEST_F(LogMonitorTest, RandomBreaksMatchThePlainRules) {
  std::mt19937 random(7);
  const char alphabet[] = {'a', 'b', '\r', '\n', ','};
  for (int round = 0; round < 300; ++round) {
    std::string bytes(random() % 40, 'a');
    for (char& byte : bytes) byte = alphabet[random() % sizeof alphabet];
    SCOPED_TRACE(::testing::PrintToString(bytes));
    EXPECT_EQ(LinesOf(bytes), ReferenceLines(bytes));
  }
}

TEST_F(LogMonitorTest, CommaContinuationJoinsARecordWithABreakInAValue) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::vector<int> Healthy;  // sizes the health test accepts
    std::vector<std::string> Lines;
    std::vector<int> Asked;
  };
  const TCase cases[] = {
      {"only the longer piece is whole: joined", "a,b\r,c\r\nd\r\n", {6}, {"a,b\r,c", "d"}, {4, 6}},
      {"the first piece is whole: not joined", "a,b\r,c\r\n", {4, 6}, {"a,b", ",c"}, {4, 6}},
      {"neither piece is whole: not joined", "a,b\r,c\r\n", {}, {"a,b", ",c"}, {4, 6}},
      {"one join per line", "a\r,b\r,c\r\n", {4, 7}, {"a\r,b", ",c"}, {2, 4}},
      {"no comma after the break: no question", "a\rb\r\n", {}, {"a", "b"}, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<int> asked;
    FMonitor.SetOnCheckLineHealth([&](const uint8_t*, int ASize) {
      asked.push_back(ASize);
      return std::find(c.Healthy.begin(), c.Healthy.end(), ASize) != c.Healthy.end();
    });
    EXPECT_EQ(LinesOf(c.Bytes), c.Lines);
    EXPECT_EQ(asked, c.Asked);
  }
}

TEST_F(LogMonitorTest, CheckRecordFiltersLines) {
  FMonitor.SetOnCheckRecord([](const uint8_t* APtr, int ASize) { return ASize > 0 && APtr[0] == '<'; });
  EXPECT_THAT(LinesOf("<a>\r\nnoise\r\n<b>\r\n"), ElementsAre("<a>", "<b>"));
  EXPECT_TRUE(FMonitor.Active());

  FMonitor.SetOnCheckRecord([](const uint8_t*, int) { return false; });
  EXPECT_THAT(LinesOf("<a>\r\n<b>\r\n"), ElementsAre());
  EXPECT_FALSE(FMonitor.Active());
  EXPECT_EQ(FMonitor.Count(), 0);
}

TEST_F(LogMonitorTest, GetOutsideTheLinesNamesTheFile) {
  LinesOf("A\r\nB\r\n");
  const std::string expected = "no such line " + FMonitor.FileName();
  for (int index : {-1, 2, 1000}) {
    try {
      FMonitor.Get(index);
      ADD_FAILURE() << "no exception for " << index;
    } catch (const ErdlLogMonitorError& e) {
      EXPECT_EQ(e.what(), expected);
    }
  }
}

TEST_F(LogMonitorTest, FilesThatCannotBeReadLeaveTheMonitorInactiveWithTheReason) {
  struct TCase {
    const char* Name;
    std::string Path;
    std::string Reason;  // empty: a log without lines, no error
  };
  const std::string empty = FDir.Write("empty.log", "");
  const TCase cases[] = {
      {"missing", FDir.File("missing.log"), "No such file or directory"},
      {"folder", FDir.Path().string(), "folder"},
      {"0 bytes", empty, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TrdlLogMonitor monitor;
    monitor.SetFileName(c.Path);
    monitor.SetActive(true);
    EXPECT_FALSE(monitor.Active());
    EXPECT_EQ(monitor.Count(), 0);
    if (c.Reason.empty()) {
      EXPECT_EQ(monitor.LastErrorText(), "");
    } else {
      EXPECT_THAT(monitor.LastErrorText(), ::testing::HasSubstr(c.Path));
      EXPECT_THAT(monitor.LastErrorText(), ::testing::HasSubstr(c.Reason));
    }
  }
}

TEST_F(LogMonitorTest, UnreadableFileLeavesTheMonitorInactiveWithTheReason) {
  if (test::RunningAsRoot()) GTEST_SKIP() << "root reads files without read permission";
  const std::string path = FDir.Write("secret.log", "A\r\n");
  std::filesystem::permissions(path, std::filesystem::perms::none);
  FMonitor.SetFileName(path);
  FMonitor.SetActive(true);
  EXPECT_FALSE(FMonitor.Active());
  EXPECT_THAT(FMonitor.LastErrorText(), ::testing::HasSubstr("Permission denied"));
}

TEST_F(LogMonitorTest, ProgressStepsByAtLeastTwoFromZeroToHundred) {
  std::string bytes;
  while (bytes.size() < 10 * kBlock) bytes += std::string(1000, 'x') + "\r\n";
  std::vector<int> reported;
  FMonitor.SetOnProgress([&](void* Sender, int APercents, bool&) {
    EXPECT_EQ(Sender, &FMonitor);
    reported.push_back(APercents);
  });
  LinesOf(bytes);
  ASSERT_GE(reported.size(), 3u);
  EXPECT_EQ(reported.front(), 0);
  EXPECT_EQ(reported.back(), 100);
  for (size_t i = 1; i + 1 < reported.size(); ++i) EXPECT_GE(reported[i], reported[i - 1] + 2) << i;
  EXPECT_LE(reported[reported.size() - 2], 100);
}

TEST_F(LogMonitorTest, ProgressRoundsLineStartsTiesToEven) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::vector<int> Reported;
  };
  std::string twoByteLines;
  for (int i = 0; i < 100; ++i) twoByteLines += "a\r";
  std::vector<int> evens;
  for (int p = 0; p <= 100; p += 2) evens.push_back(p);
  const TCase cases[] = {
      {"a line every half point", twoByteLines, evens},
      // Lines start at 105 and 109 of 200 bytes: 52.5 and 54.5 round to 52 and 54.
      {"exact halves", std::string(104, 'a') + "\rbbb\r" + std::string(91, 'c'), {0, 52, 54, 100}},
      {"a spanning line reports nothing of its own", Filler(kBlock - 5) + "\r\n" + Filler(100), {0, 100}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<int> reported;
    FMonitor.SetOnProgress([&](void*, int APercents, bool&) { reported.push_back(APercents); });
    LinesOf(c.Bytes);
    EXPECT_EQ(reported, c.Reported);
  }
}

TEST_F(LogMonitorTest, CancelStopsTheWalkAndLeavesNoIndex) {
  std::string bytes;
  while (bytes.size() < 3 * kBlock) bytes += std::string(500, 'x') + "\r\n";
  for (int cancelAt : {0, 50}) {
    SCOPED_TRACE(cancelAt);
    FMonitor.SetOnProgress([&](void*, int APercents, bool& IsCanceled) { IsCanceled = APercents >= cancelAt; });
    EXPECT_THAT(LinesOf(bytes), ElementsAre());
    EXPECT_FALSE(FMonitor.Active());
    EXPECT_EQ(FMonitor.Count(), 0);
    EXPECT_EQ(FMonitor.HealthStr(), "raw.line.size 8\r\nraw.line.count 0\r\nraw.line.DataSize 0\r\nitm.latest 0 (0)");
  }
}

TEST_F(LogMonitorTest, LineAcrossABlockBoundaryIsJoined) {
  // Line 1 starts 10 bytes before the boundary and ends 20 bytes after it.
  const std::string first(kBlock - 12, 'a');
  const std::string spanning = std::string(10, 'b') + std::string(20, 'c');
  const std::string bytes = first + "\r\n" + spanning + "\r\nlast\r\n";
  const std::vector<std::string> lines = LinesOf(bytes);
  EXPECT_THAT(lines, ElementsAre(first, spanning, "last"));
  EXPECT_EQ(FMonitor.Item(1).Offset, kBlock - 10);
  EXPECT_EQ(FMonitor.Item(1).Length, TrdlLineItem::kUnknownLength);
  EXPECT_EQ(FMonitor.Item(2).Length, 4);
}

TEST_F(LogMonitorTest, LinesAndBreaksAtTheBlockBoundary) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::vector<std::string> Lines;
  };
  const std::string L(2 * kBlock + 100, 'L');
  const TCase cases[] = {
      // The same rules as anywhere in a block: an empty line is a line, an LF ends none, a
      // break may begin in one block and end in the next.
      {"CR LF ends block 0, empty line starts block 1", Filler(kBlock - 2) + "\r\n" + "\r\nB", {Filler(kBlock - 2), "", "B"}},
      {"CR is the last byte of block 0, LF the first of block 1", Filler(kBlock - 1) + "\r\nB\r\n", {Filler(kBlock - 1), "B"}},
      {"block 1 holds nothing but the LF of a break", Filler(kBlock - 1) + "\r\n", {Filler(kBlock - 1)}},
      {"LF as the last byte of block 0", Filler(kBlock - 1) + "\nB\r\n", {Filler(kBlock - 1) + "\nB"}},
      {"breaks after a spanning line",
       Filler(kBlock - 10) + "\r\n" + "bbbbbbbbcccc\r\n\r\n\r\nC",
       {Filler(kBlock - 10), "bbbbbbbbcccc", "", "", "C"}},
      {"spanning last line without a break",
       Filler(kBlock - 10) + "\r\n" + "bbbbbbbbcccc",
       {Filler(kBlock - 10), "bbbbbbbbcccc"}},
      // A line over three blocks reads whole, not as two lines.
      {"line over three blocks", "x\r\n" + L + "\r\nZ", {"x", L, "Z"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> checked;
    FMonitor.SetOnCheckRecord([&](const uint8_t* APtr, int ASize) {
      checked.emplace_back(reinterpret_cast<const char*>(APtr), static_cast<size_t>(ASize));
      return true;
    });
    const std::vector<std::string> lines = LinesOf(c.Bytes);
    EXPECT_EQ(lines.size(), c.Lines.size());
    EXPECT_TRUE(lines == c.Lines);  // whole lines of a megabyte: no printing
    EXPECT_TRUE(checked == c.Lines) << "the filter sees each line's joined bytes";
    EXPECT_EQ(FMonitor.LastFileLineCRC(), CalcCRC32(c.Lines.back().data(), c.Lines.back().size()));
  }
}

TEST_F(LogMonitorTest, CommaJoinThatRunsIntoTheNextBlockIsReadWhole) {
  // "a,b CR" is incomplete; with the comma piece that runs across the boundary it is whole.
  FMonitor.SetOnCheckLineHealth([](const uint8_t* APtr, int ASize) { return APtr[ASize - 1] != '\r'; });
  const std::string head = Filler(kBlock - 22) + "\r\n";
  const std::string record = "a,b\r," + std::string(40, 'c');
  const std::vector<std::string> lines = LinesOf(head + record + "\r\nZ\r\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], record);
  EXPECT_EQ(FMonitor.Item(1).Length, TrdlLineItem::kUnknownLength);
  EXPECT_EQ(lines[2], "Z");
}

TEST_F(LogMonitorTest, FileOfExactlyTwoBlocksReadsItsLastLine) {
  std::string bytes;
  int n = 0;
  while (bytes.size() < 2 * kBlock - 2000) bytes += "line " + std::to_string(n++) + std::string(900, '.') + "\r\n";
  bytes += std::string(2 * kBlock - bytes.size() - 2, 'z') + "\r\n";
  ASSERT_EQ(bytes.size(), static_cast<size_t>(2 * kBlock));
  const std::vector<std::string> lines = LinesOf(bytes);
  ASSERT_EQ(lines.size(), static_cast<size_t>(n + 1));
  EXPECT_EQ(lines.back(), std::string(lines.back().size(), 'z'));
  EXPECT_EQ(lines[0].substr(0, 6), "line 0");
  EXPECT_EQ(ReferenceLines(bytes), lines);
}

TEST_F(LogMonitorTest, LinesLongerThanTheLengthFieldAreReadWhole) {
  const std::string longLine(40000, 'L');
  EXPECT_THAT(LinesOf("a\r\n" + longLine + "\r\nb"), ElementsAre("a", longLine, "b"));
  EXPECT_EQ(FMonitor.Item(1).Length, TrdlLineItem::kUnknownLength);
  const std::string exact(32767, 'E');
  EXPECT_THAT(LinesOf(exact + "\r\n"), ElementsAre(exact));
  EXPECT_EQ(FMonitor.Item(0).Length, 32767);
}

TEST_F(LogMonitorTest, ReadingLinesMovesTheViewBetweenBlocks) {
  std::string bytes;
  std::vector<std::string> expected;
  for (int i = 0; bytes.size() < 5 * kBlock; ++i) {
    expected.push_back("record " + std::to_string(i) + std::string(static_cast<size_t>(i % 1700), '#'));
    bytes += expected.back() + "\r\n";
  }
  LinesOf(bytes);
  ASSERT_EQ(FMonitor.Count(), static_cast<int>(expected.size()));
  // Out of order, so that consecutive reads jump between blocks.
  for (size_t i = 0; i < expected.size(); i += 97) {
    EXPECT_EQ(FMonitor.Get(static_cast<int>(expected.size() - 1 - i)), expected[expected.size() - 1 - i]);
    EXPECT_EQ(FMonitor.Get(static_cast<int>(i)), expected[i]);
  }
}

TEST_F(LogMonitorTest, TruncationWhileOpenIsAnErrorForTheLinesThatVanished) {
  std::string bytes;
  while (bytes.size() < 3 * kBlock) bytes += std::string(1200, 'x') + "\r\n";
  LinesOf(bytes);
  const int count = FMonitor.Count();
  std::filesystem::resize_file(FMonitor.FileName(), kBlock + 100);
  // Every line reads whole or not at all: never empty or cut.
  for (int i = count - 1; i >= 0; i -= 50) {
    try {
      EXPECT_EQ(FMonitor.Get(i), std::string(1200, 'x')) << i;
    } catch (const ErdlLogMonitorShrank&) {
      EXPECT_GT(static_cast<int64_t>(i) * 1202 + 1200, kBlock) << i;
    }
  }
  EXPECT_THROW(FMonitor.Get(count - 1), ErdlLogMonitorShrank);
  EXPECT_EQ(FMonitor.Get(0), std::string(1200, 'x'));
}

TEST_F(LogMonitorTest, SwitchingFileNameReindexesAndStaysActive) {
  int reports = 0;
  FMonitor.SetOnProgress([&](void*, int, bool&) { ++reports; });
  LinesOf("A\r\nB\r\n");
  const std::string second = FDir.Write("second.log", "X\r\nY\r\nZ\r\n");
  reports = 0;
  FMonitor.SetFileName(second);
  EXPECT_TRUE(FMonitor.Active());
  EXPECT_THAT(AllLines(FMonitor), ElementsAre("X", "Y", "Z"));
  EXPECT_GT(reports, 0);

  reports = 0;
  FMonitor.SetFileName(second);  // the same name: nothing happens
  EXPECT_EQ(reports, 0);
  EXPECT_EQ(FMonitor.Count(), 3);

  FMonitor.SetActive(false);
  FMonitor.SetFileName(FDir.Write("third.log", "Q\r\n"));
  EXPECT_FALSE(FMonitor.Active());  // an inactive monitor stays inactive
}

TEST_F(LogMonitorTest, HealthStrSummarisesTheIndex) {
  LinesOf("A\r\nBBBBBBBBBBB\r\n");
  EXPECT_EQ(FMonitor.HealthStr(),
            "raw.line.size 8\r\nraw.line.count 2\r\nraw.line.DataSize 16\r\nitm.latest 3096224743817219 (B000000000003)");
}

TEST_F(LogMonitorTest, LastLineCrcIsTheCrcOfTheFinalLine) {
  for (const char* bytes : {"A\r\nlast", "A\r\nlast\r\n", "A\r\nlast\r"}) {
    LinesOf(bytes);
    EXPECT_EQ(FMonitor.LastFileLineCRC(), CalcCRC32("last", 4)) << ::testing::PrintToString(std::string(bytes));
  }
  // A final line that is not indexed leaves no CRC, not the previous file's.
  FMonitor.SetOnCheckRecord([](const uint8_t* APtr, int) { return APtr[0] != 'x'; });
  LinesOf("A\r\nxlast\r\n");
  EXPECT_EQ(FMonitor.LastFileLineCRC(), 0u);
  FMonitor.SetOnCheckRecord(nullptr);
  LinesOf("A\r\n\r\n", lmoSkipEmptyLines);
  EXPECT_EQ(FMonitor.LastFileLineCRC(), 0u);
}

TEST_F(LogMonitorTest, DefaultsOfTheOptionalCapabilities) {
  TrdlLogMonitor monitor;
  EXPECT_FALSE(monitor.Active());
  EXPECT_FALSE(monitor.MonitorChanges());
  EXPECT_EQ(monitor.FlushFileChangesDelayMS(), 0);
  EXPECT_EQ(monitor.IndexDataVersion(), 0u);
  EXPECT_FALSE(monitor.IndexClearOnStart());
  EXPECT_FALSE(monitor.UseFileIndex());
  EXPECT_FALSE(monitor.IsFreezed());
  EXPECT_FALSE(monitor.WholeLogGrowOnActive());
  EXPECT_EQ(monitor.Options(), 0u);

  // With a file index asked for, the memory index still serves.
  const std::string path = FDir.Write("a.log", "A\r\nB\r\n");
  monitor.SetUseFileIndex(true);
  monitor.SetFileName(path);
  monitor.SetActive(true);
  EXPECT_EQ(monitor.Count(), 2);
}

TEST_F(LogMonitorTest, WholeLogGrowOnActiveReportsOnceAfterActivation) {
  std::vector<std::pair<int, int>> grown;
  FMonitor.SetOnLogGrow([&](TrdlLogMonitor*, int AStart, int ACount) { grown.emplace_back(AStart, ACount); });
  FMonitor.SetWholeLogGrowOnActive(true);
  LinesOf("A\r\nB\r\nC\r\n");
  EXPECT_THAT(grown, ElementsAre(std::make_pair(0, 3)));
  EXPECT_FALSE(FMonitor.WholeLogGrowOnActive());
  LinesOf("D\r\n");
  EXPECT_EQ(grown.size(), 1u);
}

// A monitor whose line index holds at most 100 lines.
class TSmallIndexMonitor : public TrdlLogMonitor {
 protected:
  std::unique_ptr<TrclDataHolder> CreateIndexStore() override { return std::make_unique<TrclMemoryDataHolder>(800); }
};

TEST_F(LogMonitorTest, FullIndexStopsTheWalkWithAnErrorNamingTheLimit) {
  std::string bytes;
  for (int i = 0; i < 150; ++i) bytes += "line\r\n";
  const std::string path = FDir.Write("big.log", bytes);
  TSmallIndexMonitor monitor;
  monitor.SetFileName(path);
  ExpectActivationFails(monitor, {path, "800 bytes"});

  // Within the limit the same monitor works.
  monitor.SetFileName(FDir.Write("small.log", "A\r\n"));
  monitor.SetActive(true);
  EXPECT_EQ(monitor.Count(), 1);
}

TEST_F(LogMonitorTest, ThrowingCallbacksLeaveNothingOpen) {
  struct TCase {
    const char* Name;
    int ThrowAtPercents;  // -1: throw from OnLogGrow
  };
  const TCase cases[] = {{"progress 0", 0}, {"progress 100", 100}, {"log grow", -1}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TrdlLogMonitor monitor;
    monitor.SetFileName(FDir.Write("a.log", "A\r\nB\r\n"));
    monitor.SetOnProgress([&](void*, int APercents, bool&) {
      if (APercents == c.ThrowAtPercents) throw std::runtime_error("handler failed");
    });
    monitor.SetWholeLogGrowOnActive(c.ThrowAtPercents < 0);
    monitor.SetOnLogGrow([](TrdlLogMonitor*, int, int) { throw std::runtime_error("handler failed"); });
    EXPECT_THROW(monitor.SetActive(true), std::runtime_error);
    EXPECT_FALSE(monitor.Active());
    EXPECT_EQ(monitor.Count(), 0);

    monitor.SetOnProgress(nullptr);
    monitor.SetOnLogGrow(nullptr);
    monitor.SetActive(true);
    EXPECT_EQ(monitor.Count(), 2);
  }
}

TEST_F(LogMonitorTest, GetFromAProgressHandlerLeavesTheWalkIntact) {
  std::string bytes;
  std::vector<std::string> expected;
  for (int i = 0; i < 3000; ++i) {
    expected.push_back(std::to_string(i) + std::string(1000, 'x'));
    bytes += expected.back() + "\r\n";
  }
  int reads = 0;
  FMonitor.SetOnProgress([&](void*, int, bool&) {
    if (FMonitor.Count() == 0) return;
    // A list repainting while the log loads: the newest line, then the first one, which
    // lies in another block than the walk.
    const auto newest = static_cast<size_t>(FMonitor.Count() - 1);
    ASSERT_LT(newest, expected.size());
    EXPECT_TRUE(FMonitor.Get(static_cast<int>(newest)) == expected[newest]) << newest;
    EXPECT_TRUE(FMonitor.Get(0) == expected[0]);
    ++reads;
  });
  EXPECT_EQ(LinesOf(bytes), expected);
  EXPECT_GT(reads, 10);
}

// --- read failures, reached by substituting the positioned read ---------------------------

struct TReadFailure {
  static inline int64_t FailAtOffset = -1;  // fail reads that start here; -1: none
  static inline size_t FailFromLength = 0;  // fail reads of at least this many bytes; 0: none
  static inline int FailuresLeft = 0;       // how many more reads fail

  static ssize_t Pread(int AHandle, void* ABuffer, size_t ALength, off_t AOffset) {
    const bool matches = (FailAtOffset >= 0 && AOffset == FailAtOffset) || (FailFromLength > 0 && ALength >= FailFromLength);
    if (matches && FailuresLeft > 0) {
      --FailuresLeft;
      errno = EIO;
      return -1;
    }
    return ::pread(AHandle, ABuffer, ALength, AOffset);
  }
};

class LogMonitorReadFailureTest : public LogMonitorTest {
 protected:
  void SetUp() override {
    TReadFailure::FailAtOffset = -1;
    TReadFailure::FailFromLength = 0;
    TReadFailure::FailuresLeft = 0;
    FPrevious = platform::SetPreadFunction(&TReadFailure::Pread);
  }
  void TearDown() override { platform::SetPreadFunction(FPrevious); }

  static std::string ThreeBlocks() {
    std::string bytes;
    while (bytes.size() < 3 * kBlock) bytes += std::to_string(bytes.size()) + std::string(1000, '-') + "\r\n";
    return bytes;
  }

  platform::TPreadFunction FPrevious = nullptr;
};

TEST_F(LogMonitorReadFailureTest, FailedReadThrowsAndLeavesOtherLinesReadable) {
  const std::vector<std::string> lines = LinesOf(ThreeBlocks());
  const std::string first = FMonitor.Get(0);
  TReadFailure::FailAtOffset = 2 * kBlock;
  TReadFailure::FailuresLeft = 1;
  try {
    FMonitor.Get(FMonitor.Count() - 1);
    FAIL() << "no exception";
  } catch (const ErdlLogMonitorError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open map view with error: \r\n" + platform::SystemErrorText(EIO));
  }
  EXPECT_EQ(FMonitor.Get(0), first);
  EXPECT_EQ(FMonitor.Get(1), lines[1]);
  EXPECT_EQ(FMonitor.Get(FMonitor.Count() - 1), lines.back());
}

TEST_F(LogMonitorReadFailureTest, FailedTrialViewShrinksTheBlock) {
  std::vector<std::string> debug;
  FMonitor.SetOnDebugLogMessage([&](void*, const std::string& AText) { debug.push_back(AText); });
  TReadFailure::FailFromLength = kBlock;
  TReadFailure::FailuresLeft = 1;
  const std::string bytes = ThreeBlocks();
  const std::vector<std::string> lines = LinesOf(bytes);
  EXPECT_EQ(lines, ReferenceLines(bytes));
  const std::string failure = "TrclLogMonitor.MapBlocksCalculateCount: 5, " + platform::SystemErrorText(EIO);
  EXPECT_NE(std::find(debug.begin(), debug.end(), failure), debug.end());
  // Half a block, rounded up past the next 64 KiB: 576 KiB blocks, so the line across
  // 589,824 is stored as spanning.
  int spanning = -1;
  for (int i = 0; i < FMonitor.Count(); ++i) {
    const TrdlLineItem item = FMonitor.Item(i);
    if (item.Offset < 589824 && item.Offset + static_cast<int64_t>(lines[static_cast<size_t>(i)].size()) > 589824) spanning = i;
  }
  ASSERT_GE(spanning, 0);
  EXPECT_EQ(FMonitor.Item(spanning).Length, TrdlLineItem::kUnknownLength);
}

TEST_F(LogMonitorReadFailureTest, ReadsThatAlwaysFailEndInAnErrorNamingTheFile) {
  TReadFailure::FailFromLength = 1;
  TReadFailure::FailuresLeft = 1000;
  const std::string path = FDir.Write("broken.log", ThreeBlocks());
  FMonitor.SetFileName(path);
  ExpectActivationFails(FMonitor, {path, "131072 bytes"});
}

// --- what the owner keeps on the monitor, and what the monitor tells it -------------------

// One set of handlers serves several monitors; each handler finds its owner's data through
// the monitor that calls it. The pointer comes back as it was given, whatever the monitor did
// in between (files switched, reactivation).
TEST_F(LogMonitorTest, OwnerStructPtrLeadsSharedHandlersToTheirOwner) {
  struct TOwner {
    int Reports = 0;
    std::vector<std::pair<int, int>> Grown;
  };
  const TProgressNotifyEvent progress = [](void* Sender, int, bool&) {
    ++static_cast<TOwner*>(static_cast<TrdlLogMonitor*>(Sender)->OwnerStructPtr())->Reports;
  };
  const TLogMonitorChangeEvent grown = [](TrdlLogMonitor* Sender, int AStart, int ACount) {
    static_cast<TOwner*>(Sender->OwnerStructPtr())->Grown.emplace_back(AStart, ACount);
  };
  TOwner firstOwner;
  TOwner secondOwner;
  TrdlLogMonitor first;
  TrdlLogMonitor second;
  EXPECT_EQ(first.OwnerStructPtr(), nullptr);
  first.SetOwnerStructPtr(&firstOwner);
  second.SetOwnerStructPtr(&secondOwner);
  for (TrdlLogMonitor* monitor : {&first, &second}) {
    monitor->SetOnProgress(progress);
    monitor->SetOnLogGrow(grown);
    monitor->SetWholeLogGrowOnActive(true);
  }
  first.SetFileName(FDir.Write("first.log", "A\r\nB\r\n"));
  first.SetActive(true);
  second.SetFileName(FDir.Write("second.log", "X\r\n"));
  second.SetActive(true);
  EXPECT_THAT(firstOwner.Grown, ElementsAre(std::make_pair(0, 2)));
  EXPECT_THAT(secondOwner.Grown, ElementsAre(std::make_pair(0, 1)));

  // Another file, and a reactivation: every report still finds its own owner.
  const int firstReports = firstOwner.Reports;
  const int secondReports = secondOwner.Reports;
  first.SetFileName(FDir.Write("third.log", "C\r\n"));
  second.SetActive(false);
  second.SetActive(true);
  EXPECT_EQ(first.OwnerStructPtr(), &firstOwner);
  EXPECT_EQ(second.OwnerStructPtr(), &secondOwner);
  EXPECT_GT(firstOwner.Reports, firstReports);
  EXPECT_GT(secondOwner.Reports, secondReports);
}

// FileSize is the size the log had when it was last opened: bytes written since count only
// once a growth step has opened it again.
TEST_F(LogMonitorTest, FileSizeIsTheSizeAtTheLastOpening) {
  EXPECT_EQ(FMonitor.FileSize(), 0);
  LinesOf("A\r\nB\r\n");
  EXPECT_EQ(FMonitor.FileSize(), 6);
  {
    std::ofstream out(FMonitor.FileName(), std::ios::binary | std::ios::app);
    out << "CC\r\n";
  }
  EXPECT_EQ(FMonitor.FileSize(), 6);
  FMonitor.ForcedGrow();
  EXPECT_EQ(FMonitor.FileSize(), 10);
  EXPECT_THAT(AllLines(FMonitor), ElementsAre("A", "B", "CC"));
}

// The index folder is taken as written: no folder token is expanded in it, and the separator
// belongs to the index file's name only.
TEST_F(LogMonitorTest, IndexDataFolderIsUsedAsWritten) {
  FMonitor.SetIndexDataFolder("{userappdata}/idx");
  FMonitor.SetFileName("/logs/IN2201.log");
  EXPECT_EQ(FMonitor.IndexDataFolder(), "{userappdata}/idx");
  EXPECT_EQ(FMonitor.IndexFileName().rfind("{userappdata}/idx/", 0), 0u) << FMonitor.IndexFileName();
}

const char* StateName(TrdlLogMonitorIndexState AState) {
  switch (AState) {
    case TrdlLogMonitorIndexState::ifsNone:
      return "none";
    case TrdlLogMonitorIndexState::ifsLoading:
      return "loading";
    case TrdlLogMonitorIndexState::ifsSaving:
      return "saving";
  }
  return "?";
}

// What the monitor's IndexState said each time the monitor drove one of its index store's
// steps, as "step state" once per pair; and failures to inject into the next such step.
struct TIndexStateLog {
  std::vector<std::string> Seen;
  bool FailOpen = false;
  bool FailFlush = false;

  std::vector<std::string> Distinct() const {
    std::vector<std::string> distinct = Seen;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    return distinct;
  }
};

// A memory store that claims unsaved changes, as a paged store holding new lines does, so
// that closing the monitor saves it.
class TStateProbeStore : public TrclMemoryDataHolder {
 public:
  TStateProbeStore(const TrdlLogMonitor& AMonitor, TIndexStateLog& ALog) : FMonitor(AMonitor), FLog(ALog) {}

  bool ChangesExist() override { return true; }
  void FlushChanges() override {
    Note("flush");
    if (std::exchange(FLog.FailFlush, false)) throw std::runtime_error("flush failed");
  }
  uint32_t ItemAdd(int ADim, const void* AData) override {
    Note("add");
    return TrclMemoryDataHolder::ItemAdd(ADim, AData);
  }

 protected:
  bool DoOpen() override {
    Note("open");
    if (std::exchange(FLog.FailOpen, false)) throw std::runtime_error("open failed");
    return true;
  }
  void DoClose() override { Note("close"); }

 private:
  void Note(const char* AStep) { FLog.Seen.push_back(std::string(AStep) + " " + StateName(FMonitor.IndexState())); }

  const TrdlLogMonitor& FMonitor;
  TIndexStateLog& FLog;
};

class TStateProbeMonitor : public TrdlLogMonitor {
 public:
  explicit TStateProbeMonitor(TIndexStateLog& ALog) : FLog(ALog) {}

 protected:
  std::unique_ptr<TrclDataHolder> CreateIndexStore() override { return std::make_unique<TStateProbeStore>(*this, FLog); }

 private:
  TIndexStateLog& FLog;  // outlives the monitor, whose destruction may still save
};

TEST_F(LogMonitorTest, IndexStateIsLoadingWhileTheIndexOpensAndSavingWhileItIsWritten) {
  TIndexStateLog log;
  TStateProbeMonitor monitor(log);
  std::vector<std::string> duringWalk;
  monitor.SetOnProgress([&](void*, int, bool&) { duringWalk.push_back(StateName(monitor.IndexState())); });
  EXPECT_EQ(monitor.IndexState(), TrdlLogMonitorIndexState::ifsNone);
  monitor.SetFileName(FDir.Write("a.log", "A\r\nB\r\n"));
  monitor.SetActive(true);
  ASSERT_EQ(monitor.Count(), 2);
  EXPECT_EQ(monitor.IndexState(), TrdlLogMonitorIndexState::ifsNone);
  monitor.SetActive(false);
  EXPECT_EQ(monitor.IndexState(), TrdlLogMonitorIndexState::ifsNone);

  EXPECT_THAT(log.Distinct(), ElementsAre("add none", "close saving", "flush saving", "open loading"));
  EXPECT_THAT(duringWalk, ::testing::Each(std::string("none")));
  EXPECT_FALSE(duringWalk.empty());
}

TEST_F(LogMonitorTest, IndexStateIsNoneAgainAfterTheStoreFailed) {
  struct TCase {
    const char* Name;
    bool FailOpen;  // else the save fails
  };
  const TCase cases[] = {{"opening", true}, {"saving", false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TIndexStateLog log;
    TStateProbeMonitor monitor(log);
    monitor.SetFileName(FDir.Write("a.log", "A\r\n"));
    if (!c.FailOpen) monitor.SetActive(true);
    log.FailOpen = c.FailOpen;
    log.FailFlush = !c.FailOpen;
    try {
      monitor.SetActive(c.FailOpen);
    } catch (const std::runtime_error&) {  // NOLINT(bugprone-empty-catch): whether it reaches the caller is not the question
    }
    EXPECT_FALSE(log.FailOpen || log.FailFlush) << "the failure was not reached";
    EXPECT_EQ(monitor.IndexState(), TrdlLogMonitorIndexState::ifsNone);
  }
}

// The same, seen on a saved index through the monitor's debug texts: the first run writes the
// index ("if.flush"), the second finds it unchanged and opens it ("if.open").
TEST_F(LogMonitorTest, IndexStateDuringTheSavedIndexDebugTexts) {
  const std::string path = FDir.Write("IN2201.log", "A\r\nB\r\n");
  std::vector<std::string> seen;
  for (int run = 0; run < 2; ++run) {
    TrdlLogMonitor monitor;
    monitor.SetUseFileIndex(true);
    monitor.SetIndexDataFolder(FDir.Path().string());
    monitor.SetOnDebugLogMessage([&](void*, const std::string& AText) {
      seen.push_back(AText.substr(0, AText.find(' ')) + " " + StateName(monitor.IndexState()));
    });
    monitor.SetFileName(path);
    monitor.SetActive(true);
    EXPECT_EQ(monitor.Count(), 2);
    monitor.SetActive(false);
  }
  EXPECT_THAT(seen, ::testing::Contains("if.flush saving"));
  EXPECT_THAT(seen, ::testing::Contains("if.open loading"));
  for (const std::string& entry : seen) {
    if (entry.rfind("if.flush ", 0) == 0) {
      EXPECT_EQ(entry, "if.flush saving");
    }
    if (entry.rfind("if.open ", 0) == 0) {
      EXPECT_EQ(entry, "if.open loading");
    }
  }
}

}  // namespace
}  // namespace velloran
