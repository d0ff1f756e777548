// The log generator feeds the tests, the benchmarks and the bundled sample: its output for given
// options must not change, and what it writes with --concurrency must still be a log the viewer
// can pair (request and reply by Class and Computer-Name, at most 2,000 records apart). The
// tests run the built program and read its output as the viewer would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "RunProgram.h"
#include "TestFiles.h"

namespace {

using ::testing::HasSubstr;
using velloran::test::TTempDir;

using TResult = velloran::test::TProgramResult;
using velloran::test::ReadAll;

TResult RunGenlog(const std::string& AArguments, const TTempDir& ADir) {
  return velloran::test::RunProgram(VELLORAN_GENLOG, AArguments, ADir);
}

// One record as the viewer sees it, after undoing the oddities: hex lines decoded, empty lines
// and the byte-order mark dropped.
struct TRecord {
  std::size_t Offset = 0;  // of its line in the output
  std::string SortableStamp;
  int PacketType = -1;
  std::optional<std::string> Class;
  std::string ComputerName;
};

std::optional<std::string> Element(std::string_view ALine, std::string_view AName) {
  std::string open = "<";
  open.append(AName).append(" data_type=\"");
  const std::size_t at = ALine.find(open);
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t valueAt = ALine.find('>', at) + 1;
  return std::string(ALine.substr(valueAt, ALine.find("</", valueAt) - valueAt));
}

std::string Unhex(std::string_view AHex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < AHex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(std::string(AHex.substr(i, 2)), nullptr, 16));
  return bytes;
}

// Fails the current test on a line that is not a whole record.
std::vector<TRecord> ParseLog(std::string_view ALog) {
  std::vector<TRecord> records;
  std::size_t pos = ALog.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  while (pos < ALog.size()) {
    const std::size_t end = ALog.find("\r\n", pos);
    if (end == std::string_view::npos) {
      ADD_FAILURE() << "last line without CR LF at " << pos;
      break;
    }
    std::string line(ALog.substr(pos, end - pos));
    const std::size_t offset = pos;
    pos = end + 2;
    if (line.empty()) continue;
    if (line.starts_with("0x")) line = Unhex(std::string_view(line).substr(2));
    if (!line.starts_with("<Event>") || !line.ends_with("</Event>")) {
      ADD_FAILURE() << "not a record at " << offset;
      continue;
    }
    TRecord r;
    r.Offset = offset;
    const std::string stamp = Element(line, "Timestamp").value_or("");  // MM/DD/YYYY HH:MM:SS.mmm
    r.SortableStamp = stamp.substr(6, 4) + stamp.substr(0, 2) + stamp.substr(3, 2) + stamp.substr(10);
    r.PacketType = std::stoi(Element(line, "Packet-Type").value_or("-1"));
    r.Class = Element(line, "Class");
    r.ComputerName = Element(line, "Computer-Name").value_or("");
    records.push_back(std::move(r));
  }
  return records;
}

bool IsRequest(int APacketType) { return APacketType == 1 || APacketType == 4; }

// The request kind a reply answers: Access-Accept, -Reject and -Challenge answer an
// Access-Request, Accounting-Response an Accounting-Request.
int RequestTypeOf(int APacketType) {
  switch (APacketType) {
    case 2:
    case 3:
    case 11:
      return 1;
    case 5:
      return 4;
    default:
      return -1;
  }
}

TEST(GenlogTest, DefaultOutputStillRegeneratesTheBundledSample) {
  TTempDir dir;
  const std::string sample = ReadAll(VELLORAN_SAMPLE);
  ASSERT_FALSE(sample.empty());
  for (const std::string options : {"", " --concurrency 1"}) {
    SCOPED_TRACE(options);
    const TResult result = RunGenlog("--seed 2026 --records 2000" + options, dir);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Err, "");
    EXPECT_TRUE(result.Out == sample) << "output differs from samples/sample.log";
  }
}

TEST(GenlogTest, ConcurrencyOneWritesTheSameBytesAsNoOption) {
  TTempDir dir;
  const std::string cases[] = {
      "",
      "--seed 7 --mix challenge=5,accounting=3,reject=1 --records 3000",
      "--seed 9 --mix accounting=1 --records 2000",
      "--seed 3 --size 3M --bom --empty-lines 0.02 --hex-lines 0.01 --long-lines 0.005 --split-breaks",
  };
  for (const std::string& options : cases) {
    SCOPED_TRACE(options);
    const TResult plain = RunGenlog(options, dir);
    const TResult one = RunGenlog(options + " --concurrency 1", dir);
    ASSERT_EQ(plain.ExitCode, 0);
    ASSERT_EQ(one.ExitCode, 0);
    EXPECT_FALSE(plain.Out.empty());
    EXPECT_TRUE(one.Out == plain.Out) << "sizes " << one.Out.size() << " and " << plain.Out.size();
  }
}

// The output read as the viewer pairs it: each reply closes the one open request of its kind
// with its Class and Computer-Name, which must lie within 2,000 records before it.
TEST(GenlogTest, ConcurrentExchangesInterleaveInTimeOrderAndStayPaired) {
  struct TCase {
    std::string Options;
    std::size_t Concurrency;
    std::uint64_t Records;  // 0: limited by --size
    std::uint64_t Size;
    bool Fillers;  // --split-breaks writes unanswered requests without a Class
  };
  const TCase cases[] = {
      {"--seed 7 --records 3000", 1, 3000, 0, false},
      {"--seed 7 --records 3000", 50, 3000, 0, false},
      // Every conversation has several requests with the same Class, one after another.
      {"--seed 11 --records 3000 --mix challenge=1", 50, 3000, 0, false},
      // Interim updates and stops reuse a session's Class: never while another is in flight.
      {"--seed 5 --records 3000 --mix accounting=1", 50, 3000, 0, false},
      {"--seed 3 --records 8000", 500, 8000, 0, false},
      {"--seed 3 --size 3M --bom --empty-lines 0.02 --hex-lines 0.01 --long-lines 0.005 --split-breaks", 50, 0, 3 * 1024 * 1024,
       true},
  };
  TTempDir dir;
  for (const TCase& c : cases) {
    std::string options = c.Options;
    options.append(" --concurrency ").append(std::to_string(c.Concurrency));
    SCOPED_TRACE(options);
    const TResult result = RunGenlog(options, dir);
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    const std::vector<TRecord> records = ParseLog(result.Out);
    ASSERT_FALSE(records.empty());
    if (c.Records != 0) {
      EXPECT_EQ(records.size(), c.Records);
    }
    if (c.Size != 0) {
      EXPECT_GE(result.Out.size(), c.Size);
      EXPECT_LT(records.back().Offset, c.Size) << "went on after reaching the size";
    }

    std::map<std::pair<std::string, std::string>, std::size_t> open;  // Class and Computer-Name: its request
    std::size_t mostOpen = 0;
    std::size_t interleaved = 0;  // requests whose next record belongs to another exchange
    for (std::size_t i = 0; i < records.size(); ++i) {
      const TRecord& r = records[i];
      if (i > 0) {
        ASSERT_LE(records[i - 1].SortableStamp, r.SortableStamp) << "record " << i << " goes back in time";
      }
      if (!r.Class) {
        EXPECT_TRUE(c.Fillers && r.PacketType == 1) << "record " << i << " has no Class";
        continue;
      }
      const auto key = std::make_pair(*r.Class, r.ComputerName);
      if (IsRequest(r.PacketType)) {
        ASSERT_EQ(open.count(key), 0u) << "record " << i << ": two exchanges in flight share Class " << *r.Class;
        open[key] = i;
        if (i + 1 < records.size() && records[i + 1].Class != r.Class) ++interleaved;
        mostOpen = std::max(mostOpen, open.size());
        continue;
      }
      const auto request = open.find(key);
      ASSERT_NE(request, open.end()) << "record " << i << ": a reply without an open request, Class " << *r.Class;
      EXPECT_EQ(records[request->second].PacketType, RequestTypeOf(r.PacketType)) << "record " << i;
      EXPECT_LE(i - request->second, 2000u) << "record " << i << " too far from its request";
      open.erase(request);
    }
    EXPECT_LE(mostOpen, c.Concurrency);
    if (c.Concurrency == 1) {
      EXPECT_EQ(interleaved, 0u);
    } else {
      EXPECT_GT(mostOpen, 1u);
      EXPECT_GT(interleaved, 0u);
    }
  }
}

TEST(GenlogTest, ConcurrencyOutsideOneTo100000IsAUsageError) {
  TTempDir dir;
  for (const std::string value : {"0", "100001", "-1", "abc", "''"}) {
    SCOPED_TRACE(value);
    const TResult result = RunGenlog("--records 5 --concurrency " + value, dir);
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_EQ(result.Out, "");
    EXPECT_THAT(result.Err, HasSubstr("--concurrency"));
  }
  const TResult most = RunGenlog("--records 5 --concurrency 100000", dir);
  EXPECT_EQ(most.ExitCode, 0) << most.Err;
  EXPECT_EQ(ParseLog(most.Out).size(), 5u);
}

}  // namespace
