// Find, filter and exchanges on a set of logs read as one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CompiledQuery.h"
#include "Exchange.h"
#include "LogData.h"
#include "Scanner.h"
#include "TestFiles.h"

namespace velloran {
namespace {

std::string ReadFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of a file with their CR LF, split into pieces at the given line numbers.
std::vector<std::string> SplitLines(const std::string& ABytes, const std::vector<size_t>& AAt) {
  std::vector<std::string> pieces(1);
  size_t line = 0, begin = 0;
  for (size_t end = ABytes.find('\n'); end != std::string::npos; end = ABytes.find('\n', begin)) {
    if (pieces.size() <= AAt.size() && line == AAt[pieces.size() - 1]) pieces.emplace_back();
    pieces.back().append(ABytes, begin, end + 1 - begin);
    begin = end + 1;
    ++line;
  }
  return pieces;
}

std::vector<uint32_t> Scan(const std::string& AQuery, TData& AData, int64_t AFirstRecord = 0) {
  TScanOutcome outcome;
  std::vector<uint32_t> found = ScanAll(TCompiledQuery::Compile(AQuery), TScanTarget::Of(AData, -1, AFirstRecord), outcome);
  EXPECT_TRUE(outcome.Error.empty()) << outcome.Error;
  EXPECT_FALSE(outcome.Cancelled);
  return found;
}

const std::vector<std::string> kQueries = {"Packet-Type = Access-Reject", "User-Name ~ \"^a\"", "not Packet-Type = 1",
                                           "Reason-Code = 16 or NAS-Port-Type = Wireless-802.11", "Class = *"};

class LogSetScanTest : public ::testing::Test {
 protected:
  // Two servers' logs of the generator; the first also cut into three daily pieces.
  void SetUp() override {
    const std::string whole = FDir.File("whole.log");
    Generate("--seed 4 --records 3000 --concurrency 30", whole);
    Generate("--seed 5 --records 2000 --concurrency 30 --server NPS-B", FDir.File("b.log"));
    FWhole.Open(whole);
    const std::vector<std::string> pieces = SplitLines(ReadFile(whole), {1000, 2100});
    for (size_t i = 0; i < pieces.size(); ++i) FDays.push_back(FDir.Write("IN26120" + std::to_string(i + 1) + ".log", pieces[i]));
  }

  void Generate(const std::string& AOptions, const std::string& AOut) {
    const std::string command = std::string(VELLORAN_GENLOG) + " " + AOptions + " -o " + AOut;
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  // The scans of each file alone, numbered as the set numbers them.
  std::vector<uint32_t> UnionOfFiles(const std::string& AQuery, const TData& ASet) {
    std::vector<std::vector<uint32_t>> byFile;
    for (int file = 0; file < ASet.FileCount(); ++file) {
      TData one;
      one.Open(ASet.FileNameOf(file));
      byFile.push_back(Scan(AQuery, one));
    }
    return ASet.Order().ToSet(byFile);
  }

  test::TTempDir FDir;
  TData FWhole;
  std::vector<std::string> FDays;
};

TEST_F(LogSetScanTest, FilterOnASetIsTheUnionOfItsFilesInSetOrder) {
  TData days, servers;
  days.OpenSet({FDays[2], FDays[0], FDays[1]});
  servers.OpenSet({FDir.File("b.log"), FDir.File("whole.log")});
  ASSERT_FALSE(days.IsMerged());
  ASSERT_TRUE(servers.IsMerged());
  for (const std::string& query : kQueries) {
    const std::vector<uint32_t> daily = Scan(query, days);
    EXPECT_FALSE(daily.empty()) << query;
    EXPECT_EQ(daily, UnionOfFiles(query, days)) << query;
    EXPECT_EQ(Scan(query, servers), UnionOfFiles(query, servers)) << query;
    // What a growing set adds: the tail of the full scan.
    const std::vector<uint32_t> tail = Scan(query, days, 1500);
    EXPECT_EQ(tail, std::vector<uint32_t>(std::lower_bound(daily.begin(), daily.end(), 1500u), daily.end())) << query;
  }
}

TEST_F(LogSetScanTest, ExchangesCrossAServersFileSwitchButNeverServers) {
  TData days;
  days.OpenSet(FDays);
  ASSERT_EQ(days.Count(), FWhole.Count());
  TExchangeFinder inSet(days), inWhole(FWhole);
  int crossing = 0;
  for (const int64_t cut : {int64_t{1000}, int64_t{2100}}) {
    for (int64_t record = cut - 40; record < cut + 40; ++record) {
      const TExchange expected = inWhole.Find(record);
      const TExchange found = inSet.Find(record);
      ASSERT_EQ(found.Members.size(), expected.Members.size()) << record;
      for (size_t i = 0; i < found.Members.size(); ++i) EXPECT_EQ(found.Members[i].Record, expected.Members[i].Record);
      EXPECT_EQ(found.Partner, expected.Partner) << record;
      if (!found.Members.empty() && found.Members.front().Record < cut && found.Members.back().Record >= cut) ++crossing;
    }
  }
  EXPECT_GT(crossing, 0) << "the fixture has exchanges across a file switch";

  // The same log as two servers that name none: the same Classes interleave, and still no
  // exchange takes a record of the other file.
  std::string bytes = ReadFile(FDir.File("whole.log"));
  for (size_t at = bytes.find("<Computer-Name"); at != std::string::npos; at = bytes.find("<Computer-Name", at))
    bytes.erase(at, bytes.find("</Computer-Name>", at) + 16 - at);
  TData twins;
  twins.OpenSet({FDir.Write("x.log", bytes), FDir.Write("y.log", bytes)}, TLogSetOptions{TLogSetMerge::lsmTime, {}});
  TExchangeFinder inTwins(twins);
  int joined = 0;
  for (int64_t record = 0; record < 400; ++record) {
    const TExchange exchange = inTwins.Find(record);
    for (const TExchangeMember& member : exchange.Members) {
      EXPECT_EQ(twins.FileOfRecord(member.Record), twins.FileOfRecord(record)) << record;
      joined += member.Record != record ? 1 : 0;
    }
  }
  EXPECT_GT(joined, 0);
}

}  // namespace
}  // namespace velloran
