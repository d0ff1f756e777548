#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CompiledQuery.h"
#include "EventLines.h"
#include "LogData.h"
#include "Scanner.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::EventLine;

std::string HexForm(const std::string& AText) {
  std::string hex = "0x";
  for (const char c : AText) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
    hex.append(pair);
  }
  return hex;
}

std::string Record(const std::string& ATime, const std::string& AType, const std::string& AClass, test::TAttributes AMore,
                   const std::string& AServer = "NPS-1") {
  test::TAttributes attributes{{"Timestamp", ATime}, {"Computer-Name", AServer}};
  for (auto& more : AMore) attributes.push_back(std::move(more));
  attributes.emplace_back("Class", AClass);
  attributes.emplace_back("Packet-Type", AType);
  return EventLine(attributes);
}

// Three exchanges (one request hidden in a hexadecimal line), values with references, odd
// numbers and times around a year's and a month's end, and lines that are no events.
class QueryEvaluationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<std::string> lines = {
        /* 0 */ Record(
            "12/31/2025 23:59:59.500", "1", "A",
            {{"User-Name", "CORP\\alice"}, {"NAS-Port", "07"}, {"Calling-Station-Id", "7F-61-AA"}, {"Framed-MTU", "1300"}}),
        /* 1 */ Record("01/01/2026 00:00:01", "1", "B", {{"User-Name", "bob &amp; co"}}),
        /* 2 */ Record("01/01/2026 00:00:02", "3", "A", {{"Reason-Code", "16"}}),
        /* 3 */ Record("01/01/2026 00:00:03", "2", "B", {}),
        /* 4 */ HexForm(Record("01/31/2026 12:00:00", "1", "C", {{"User-Name", "carol"}})),
        /* 5 */ Record("01/31/2026 12:00:01", "3", "C", {}),
        /* 6 */ Record("02/01/2026 10:00:00", "4", "D", {{"User-Name", "&#100;ave"}}),
        /* 7 */ std::string("\x01\x02<<>>garbage \xFF\xFE Packet-Type = 3"),
        /* 8 */ "",
        /* 9 */ Record("02/29/2028 00:00:00", "01", "E", {{"User-Name", "erin"}, {"NAS-Port", "36"}}),
        /* 10 */ Record("03/01/2028 00:00:00", "3", "A", {}, "NPS-2"),
    };
    // Blocks far smaller than a line: every line crosses a block boundary of the log store.
    FData.LogMonitor().SetPreferredBlockSize(64);
    FData.Open(FDir.Write("evaluation.log", test::LogOf(lines)));
    ASSERT_EQ(FData.Count(), 11);
  }

  test::TTempDir FDir;
  TData FData;
};

struct TEvaluationCase {
  std::string Query;
  std::vector<uint32_t> Records;
};

TEST_F(QueryEvaluationTest, EveryOperatorOnTheFixtureByEvaluationAndByScan) {
  const TEvaluationCase cases[] = {
      {"alice", {0}},  // a word looks at the record's own values: not the refusal
      {"User-Name = \"corp\\ALICE\"", {0, 2}},
      {"User-Name = alice", {}},
      {"User-Name = corp\\alice and Packet-Type = Access-Reject", {2}},
      {"Access-Reject", {2, 5, 10}},
      {"Packet-Type = 3", {2, 5, 10}},
      {"packet-type = access-reject", {2, 5, 10}},
      {"Packet-Type = 1", {0, 1, 4, 9}},  // 01 is 1
      {"Packet-Type != 3", {0, 1, 3, 4, 6, 7, 8, 9}},
      {"Reason-Code = 16", {2}},
      {"User-Name = carol", {4, 5}},  // the request is a hexadecimal line
      {"dave", {6}},                  // &#100;
      {"\"bob & co\"", {1}},
      {"User-Name = \"BOB & CO\"", {1, 3}},
      {"User-Name = *", {0, 1, 2, 3, 4, 5, 6, 9}},
      {"User-Name != *", {7, 8, 10}},  // NPS-2's refusal has no request on its server
      {"NAS-Port = 7", {0, 2}},
      {"NAS-Port > 10", {9}},
      {"NAS-Port <= 7.0", {0, 2}},
      {"Framed-MTU = 1300.00", {0, 2}},
      {"Timestamp < 2026-01-01", {0}},
      {"Timestamp >= \"01/01/2026 00:00\" and Timestamp < 2026-02-01", {1, 2, 3, 4, 5}},
      {"Timestamp > \"12/31/2025 23:59:59.4\" and Timestamp <= 2026-01-01T00:00:01", {0, 1}},
      {"Timestamp >= 2028-02-29T00:00 and Timestamp < 2028-03-01", {9}},
      {"Calling-Station-Id ~ \"^7f-61\"", {0, 2}},
      {"Calling-Station-Id ~ \"(?-i)^7f\"", {}},
      {"Packet-Type ~ reject", {2, 5, 10}},
      {"Packet-Type !~ reject and Class = A", {0}},
      {"not Packet-Type = 3 and not Packet-Type = 1", {3, 6, 7, 8}},
      {"(carol or erin) Packet-Type = 1", {4, 9}},
      {"Foo = 1", {}},
      {"garbage", {}},  // a line that is no event has no values
  };
  for (const TEvaluationCase& c : cases) {
    SCOPED_TRACE(c.Query);
    const auto query = TCompiledQuery::Compile(c.Query);
    EXPECT_THAT(MatchEveryRecord(*query, FData), ::testing::ElementsAreArray(c.Records));
    TScanOutcome outcome;
    EXPECT_THAT(ScanAll(query, TScanTarget::Of(FData), outcome), ::testing::ElementsAreArray(c.Records));
    EXPECT_TRUE(outcome.Error.empty());
  }
}

TEST_F(QueryEvaluationTest, CompileErrorsNameTheValuesColumn) {
  const std::pair<std::string, std::string> cases[] = {
      {"Calling-Station-Id ~ \"(7F\"", "bad regular expression (missing ): (7F) at column 22"},
      {"Timestamp < yesterday", "'yesterday' is no time (write 12/01/2026 08:00 or 2026-12-01T08:00) at column 13"},
      {"Timestamp > \"02/30/2026 08:00\"",
       "'02/30/2026 08:00' is no time (write 12/01/2026 08:00 or 2026-12-01T08:00) at column 13"},
      {"NAS-Port >= ten", "'ten' is no number or time at column 13"},
  };
  for (const auto& [query, error] : cases) {
    try {
      TCompiledQuery::Compile(query);
      ADD_FAILURE() << query;
    } catch (const EQuerySyntax& e) {
      EXPECT_EQ(std::string(e.what()), error);
    }
  }
}

TEST_F(QueryEvaluationTest, MissingFieldsAreReportedNotRefused) {
  TScanOutcome outcome;
  ScanAll(TCompiledQuery::Compile("Fooo = 1 or User-Name = erin"), TScanTarget::Of(FData), outcome);
  EXPECT_THAT(outcome.MissingFields, ::testing::ElementsAre("Fooo"));
}

TEST_F(QueryEvaluationTest, CellsOfPositiveTermsAreMarked) {
  const auto query = TCompiledQuery::Compile("alice or Packet-Type = Access-Reject or User-Name != bob");
  EXPECT_TRUE(query->CellMatches("User-Name", "CORP\\Alice"));
  EXPECT_TRUE(query->CellMatches("packet-type", "3"));
  EXPECT_FALSE(query->CellMatches("Reason-Code", "3"));
  EXPECT_FALSE(query->CellMatches("User-Name", "bob"));
}

}  // namespace
}  // namespace velloran
