#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "CompiledQuery.h"
#include "EventLines.h"
#include "LogData.h"
#include "Scanner.h"
#include "TestFiles.h"

namespace velloran {
namespace {

std::vector<uint32_t> Scan(const std::string& AQuery, TData& AData, int64_t AWindow = int64_t{16} << 20,
                           TScanOutcome* AOutcome = nullptr, int64_t AFirstRecord = 0) {
  TScanTarget target = TScanTarget::Of(AData, -1, AFirstRecord);
  target.WindowBytes = AWindow;
  TScanOutcome outcome;
  std::vector<uint32_t> found = ScanAll(TCompiledQuery::Compile(AQuery), target, outcome);
  if (AOutcome != nullptr) *AOutcome = outcome;
  EXPECT_TRUE(outcome.Error.empty()) << outcome.Error;
  return found;
}

std::vector<uint32_t> Brute(const std::string& AQuery, TData& AData) {
  return MatchEveryRecord(*TCompiledQuery::Compile(AQuery), AData);
}

// Queries made of the log's own values: a random record's field, a piece of a value, a prefix
// for a regular expression, its time; combined with and, or, not.
class TQueryMaker {
 public:
  TQueryMaker(TData& AData, uint32_t ASeed) : FData(AData), FRandom(ASeed) {}

  std::string Make() {
    const int terms = Pick(3) + 1;
    std::string query;
    for (int i = 0; i < terms; ++i) {
      if (i > 0) query.append(Pick(3) == 0 ? " or " : Pick(2) == 0 ? " and " : " ");
      if (Pick(6) == 0) query.append("not ");
      query.append(Term());
    }
    return query;
  }

 private:
  int Pick(int AChoices) { return std::uniform_int_distribution<int>(0, AChoices - 1)(FRandom); }

  std::string Term() {
    TrdlDataRow row;
    for (int tries = 0; tries < 20 && row.Count() == 0; ++tries) {
      FData.ParseRecord(std::uniform_int_distribution<int64_t>(0, FData.Count() - 1)(FRandom), row);
    }
    if (row.Count() == 0) return "x";
    const TrdlDataRowItem* item = row.Items(Pick(row.Count()));
    const std::string field = item->Column()->ColumnName();
    std::string value = item->RawText().substr(0, 40);
    if (value.find('&') != std::string::npos || value.find('"') != std::string::npos) value = "abc";
    switch (Pick(12)) {
      case 0:
        return QuotedQueryValue(value.substr(0, 3 + static_cast<size_t>(Pick(6))));
      case 1:
        return field + " = " + QuotedQueryValue(Pick(2) == 0 ? value : Upper(value));
      case 2:
        return field + " != " + QuotedQueryValue(value);
      case 3:
        return field + (Pick(2) == 0 ? " = *" : " != *");
      case 4:
        return field + " ~ \"^" + EscapedForRegex(value.substr(0, 5)) + "\"";
      case 5:
        return std::vector<std::string>{"Packet-Type = Access-Reject",
                                        "Packet-Type = 2",
                                        "Packet-Type = access-challenge",
                                        "reject",
                                        "Access-Accept",
                                        "Reason-Code = 16"}[static_cast<size_t>(Pick(6))];
      case 6: {
        const std::string time = row.ValueByName("Timestamp");
        return time.empty() ? "Timestamp = *"
                            : std::string(Pick(2) == 0 ? "Timestamp < " : "Timestamp >= ") + "\"" + time.substr(0, 16) + "\"";
      }
      case 7:
        return std::string("NAS-Port ") + (Pick(2) == 0 ? "> " : "<= ") + std::to_string(Pick(60));
      case 8:
        return "User-Name = " + QuotedQueryValue(row.ValueByName("User-Name").empty() ? "nobody" : row.ValueByName("User-Name"));
      case 9:
        return "(" + field + " = " + QuotedQueryValue(value) + " or Packet-Type = 3)";
      case 10:
        return "Calling-Station-Id ~ \"" + EscapedForRegex(row.ValueByName("Calling-Station-Id").substr(0, 5)) + "\"";
      default:
        return field + " !~ \"" + EscapedForRegex(value.substr(0, 2)) + "\"";
    }
  }

  static std::string Upper(std::string AText) {
    for (char& c : AText) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    return AText;
  }
  static std::string EscapedForRegex(const std::string& AText) {
    std::string escaped;
    for (char c : AText) {
      if (std::string_view("\\.^$|()[]{}*+?\"").find(c) != std::string_view::npos) escaped.push_back('\\');
      escaped.push_back(c);
    }
    return escaped;
  }

  TData& FData;
  std::mt19937 FRandom;
};

// The scan equals the evaluation of every record, on interleaved logs with every oddity of the
// generator, in windows far smaller than a log so that requests and replies fall into
// different windows.
TEST(ScannerTest, EqualsEveryRecordsEvaluationOnGeneratedLogs) {
  test::TTempDir dir;
  const std::string log = (dir.Path() / "generated.log").string();
  std::string command = VELLORAN_GENLOG;
  command
      .append(
          " --seed 21 --records 4000 --concurrency 50 --bom --empty-lines 0.01 --hex-lines 0.02 --long-lines 0.002 "
          "--split-breaks -o ")
      .append(log);
  ASSERT_EQ(std::system(command.c_str()), 0);
  TData data;
  data.Open(log);
  ASSERT_GT(data.Count(), 3000);
  TQueryMaker maker(data, 5);
  std::mt19937 random(9);
#if defined(__SANITIZE_ADDRESS__)
  constexpr int kRounds = 25;  // the evaluation of every record is slow under the sanitizer
#else
  constexpr int kRounds = 100;
#endif
  for (int round = 0; round < kRounds; ++round) {
    const std::string query = maker.Make();
    SCOPED_TRACE(query);
    const std::vector<uint32_t> truth = Brute(query, data);
    EXPECT_EQ(Scan(query, data, 64 << 10), truth);
    if (round % 10 == 0) {
      EXPECT_EQ(Scan(query, data), truth);
    }
    // What a growing log added is scanned alone: exactly the full scan's matches from there,
    // replies whose requests lie before the first new record included.
    const int64_t first = std::uniform_int_distribution<int64_t>(1, data.Count())(random);
    std::vector<uint32_t> tail(std::lower_bound(truth.begin(), truth.end(), static_cast<uint32_t>(first)), truth.end());
    EXPECT_EQ(Scan(query, data, 64 << 10, nullptr, first), tail) << "from record " << first;
  }
}

class ScannerFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FLog = (FDir.Path() / "big.log").string();
    std::string command = VELLORAN_GENLOG;
    command.append(" --seed 3 --records 30000 --concurrency 20 -o ").append(FLog);
    ASSERT_EQ(std::system(command.c_str()), 0);
    FData.Open(FLog);
  }
  test::TTempDir FDir;
  std::string FLog;
  TData FData;
};

// A log cut short by another program while it is searched: the matches before the cut, then
// an error that says so; never a crash (the windows are mapped).
TEST_F(ScannerFileTest, ATruncatedLogEndsTheScanWithAnError) {
  const auto query = TCompiledQuery::Compile("Packet-Type = Access-Reject or Packet-Type = 1");
  const std::vector<uint32_t> truth = MatchEveryRecord(*query, FData);
  TScanTarget target = TScanTarget::Of(FData);
  target.WindowBytes = 256 << 10;
  std::vector<uint32_t> found;
  TScanOutcome outcome;
  bool cut = false;
  TScanCallbacks callbacks;
  callbacks.OnMatches = [&](std::vector<uint32_t>&& AChunk) {
    found.insert(found.end(), AChunk.begin(), AChunk.end());
    if (!cut) std::filesystem::resize_file(FLog, static_cast<uintmax_t>(target.EndOffset / 3));
    cut = true;
  };
  callbacks.OnFinished = [&](const TScanOutcome& AOutcome) { outcome = AOutcome; };
  TScanner scanner(query, target, callbacks, 2);
  scanner.Start();
  scanner.Wait();
  EXPECT_THAT(outcome.Error, ::testing::HasSubstr("shrank while it was being searched"));
  ASSERT_LT(found.size(), truth.size());
  EXPECT_TRUE(std::equal(found.begin(), found.end(), truth.begin()));
}

TEST_F(ScannerFileTest, CancelStopsTheScanAndAnotherScanFollows) {
  TScanTarget target = TScanTarget::Of(FData);
  target.WindowBytes = 64 << 10;
  std::atomic<int> finished{0};
  TScanOutcome outcome;
  TScanCallbacks callbacks;
  callbacks.OnFinished = [&](const TScanOutcome& AOutcome) {
    outcome = AOutcome;
    ++finished;
  };
  {
    // "not" leaves no anchor: every line is parsed, the slowest kind of scan.
    TScanner scanner(TCompiledQuery::Compile("not Packet-Type = 3"), target, callbacks, 2);
    scanner.Start();
    scanner.Cancel();
    scanner.Wait();
  }
  EXPECT_EQ(finished, 1);
  EXPECT_TRUE(outcome.Cancelled);
  EXPECT_LT(outcome.RecordsScanned, FData.Count());
  TScanOutcome second;
  EXPECT_EQ(ScanAll(TCompiledQuery::Compile("Packet-Type = 3"), target, second),
            MatchEveryRecord(*TCompiledQuery::Compile("Packet-Type = 3"), FData));
}

}  // namespace
}  // namespace velloran
