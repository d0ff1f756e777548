// The log generator feeds the tests, the benchmarks and the bundled sample: its output for given
// options must not change, and what it writes with --concurrency must still be a log the viewer
// can pair (request and reply by Class and Computer-Name, at most 2,000 records apart). The
// tests run the built program and read its output as the viewer would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <chrono>
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
  std::optional<std::string> UserName;  // escaped, as written
  std::optional<std::string> CallingStation;
  int ReasonCode = -1;
  std::string Line;  // the record's line, hex decoded
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
    r.UserName = Element(line, "User-Name");
    r.CallingStation = Element(line, "Calling-Station-Id");
    r.ReasonCode = std::stoi(Element(line, "Reason-Code").value_or("-1"));
    r.Line = std::move(line);
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

// XML text as it reads: the predefined entities decoded.
std::string DecodeXml(std::string_view AText) {
  static constexpr std::array<std::pair<std::string_view, char>, 5> kEntities = {
      {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}}};
  std::string text;
  while (!AText.empty()) {
    const auto entity =
        std::find_if(kEntities.begin(), kEntities.end(), [&](const auto& e) { return AText.starts_with(e.first); });
    if (entity == kEntities.end()) {
      text += AText.front();
      AText.remove_prefix(1);
    } else {
      text += entity->second;
      AText.remove_prefix(entity->first.size());
    }
  }
  return text;
}

// The tally as --tally words it, counted from the records read back: a reply answers the latest
// Access-Request of its Class and Computer-Name.
std::string TallyOf(const std::vector<TRecord>& ARecords, std::int64_t AIntervalSeconds) {
  using namespace std::chrono;
  std::map<int, std::uint64_t> packetTypes, reasons;
  std::map<std::string, std::uint64_t> users, refused;
  std::map<std::int64_t, std::array<std::uint64_t, 5>> intervals;
  std::map<std::pair<std::string, std::string>, std::string> requestUser;
  for (const TRecord& r : ARecords) {
    ++packetTypes[r.PacketType];
    if (r.PacketType == 1) {
      const std::string user = DecodeXml(r.UserName.value_or("(none)"));
      ++users[user];
      if (r.Class) requestUser[{*r.Class, r.ComputerName}] = user;
    }
    if (r.PacketType == 3) {
      ++reasons[r.ReasonCode];
      const auto request = requestUser.find({r.Class.value_or(""), r.ComputerName});
      ++refused[request == requestUser.end() ? "(no request)" : request->second];
    }
    const std::string& s = r.SortableStamp;  // YYYYMMDD HH:MM:SS.mmm
    const year_month_day date{year{std::stoi(s.substr(0, 4))}, month{static_cast<unsigned>(std::stoi(s.substr(4, 2)))},
                              day{static_cast<unsigned>(std::stoi(s.substr(6, 2)))}};
    const std::int64_t seconds = sys_days(date).time_since_epoch().count() * 86400 + std::stoi(s.substr(9, 2)) * 3600 +
                                 std::stoi(s.substr(12, 2)) * 60 + std::stoi(s.substr(15, 2));
    std::array<std::uint64_t, 5>& row = intervals[seconds / AIntervalSeconds * AIntervalSeconds];
    const std::map<int, std::size_t> columns = {{1, 0}, {2, 1}, {3, 2}, {11, 3}, {4, 4}, {5, 4}};
    ++row[columns.at(r.PacketType)];
  }
  std::string text;
  // Appends, not "literal" + std::string, which g++ 12 misreads at -O3.
  const auto row = [&text](std::string_view ASection, std::string_view AKey, std::uint64_t ACount) {
    text.append(ASection).append("\t").append(AKey).append("\t").append(std::to_string(ACount)).append("\n");
  };
  text.append("records\t").append(std::to_string(ARecords.size())).append("\n");
  for (const auto& [type, count] : packetTypes) row("packet-type", std::to_string(type), count);
  for (const auto& [code, count] : reasons) row("reason", std::to_string(code), count);
  for (const auto& [name, count] : users) row("user", name, count);
  for (const auto& [name, count] : refused) row("refused-user", name, count);
  for (const auto& [start, counts] : intervals) {
    const year_month_day date{sys_days{days{start / 86400}}};
    const std::int64_t second = start % 86400;
    std::array<char, 32> iso{};
    std::snprintf(iso.data(), iso.size(), "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(second / 3600),
                  static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
    text.append("interval\t").append(iso.data());
    for (const std::uint64_t count : counts) text.append("\t").append(std::to_string(count));
    text.append("\n");
  }
  return text;
}

// The tally is counted while writing; read back, the log must hold just that, with hex lines,
// fillers and a limit that cuts exchanges short (a request written, its reply not).
TEST(GenlogTest, TallyCountsWhatTheLogHolds) {
  struct TCase {
    std::string Options;
    std::int64_t Interval;  // 0: the option left out, 3600
  };
  const TCase cases[] = {
      {"--seed 7 --records 3000", 0},
      {"--seed 7 --records 3000 --concurrency 50 --mix accept=1,reject=3,challenge=2,accounting=1", 60},
      {"--seed 3 --size 3M --concurrency 20 --bom --empty-lines 0.03 --hex-lines 0.05 --long-lines 0.005 --split-breaks", 7},
      {"--seed 11 --records 2999 --concurrency 200 --mix reject=1 --users 3", 86400},
      {"--seed 5 --size 2M --users 1000 --split-breaks --hex-lines 0.02 --mix reject=2,challenge=1", 600},
  };
  TTempDir dir;
  const std::string log = dir.File("out.log");
  const std::string tally = dir.File("tally.tsv");
  for (const TCase& c : cases) {
    std::string options =
        c.Options + " -o " + velloran::test::ShellQuoted(log) + " --tally " + velloran::test::ShellQuoted(tally);
    if (c.Interval != 0) options += " --tally-interval " + std::to_string(c.Interval);
    SCOPED_TRACE(options);
    const TResult result = RunGenlog(options, dir);
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    const std::vector<TRecord> records = ParseLog(ReadAll(log));
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(ReadAll(tally), TallyOf(records, c.Interval == 0 ? 3600 : c.Interval));
  }
}

// With --users the k-th session is account k mod N (sessions start in Class order), its
// station derived from the number; the same draws are made, so with the identity fields taken
// out the log is the one written without the option.
TEST(GenlogTest, UsersGiveEachSessionItsAccountAndChangeNothingElse) {
  struct TCase {
    std::string Options;
    std::uint64_t Users;
  };
  const TCase cases[] = {
      {"--seed 7 --records 3000", 1},
      {"--seed 7 --records 3000 --concurrency 50 --mix accept=1,reject=3,challenge=2,accounting=3", 7},
      {"--seed 3 --records 3000 --hex-lines 0.05 --empty-lines 0.05", 100000},
  };
  const auto withoutIdentity = [](std::string ALine) {
    for (const std::string_view name : {"User-Name", "SAM-Account-Name", "Fully-Qualifed-User-Name", "Calling-Station-Id"}) {
      const std::string open = std::string("<").append(name).append(" data_type=\"");
      const std::size_t at = ALine.find(open);
      if (at != std::string::npos)
        ALine.erase(at, ALine.find(std::string("</").append(name).append(">"), at) + name.size() + 3 - at);
    }
    return ALine;
  };
  TTempDir dir;
  for (const TCase& c : cases) {
    const std::string options = c.Options + " --users " + std::to_string(c.Users);
    SCOPED_TRACE(options);
    const TResult result = RunGenlog(options, dir);
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    const std::vector<TRecord> records = ParseLog(result.Out);
    const auto classNumber = [](const std::string& AClass) -> std::uint64_t {
      return std::stoull(AClass.substr(AClass.rfind(' ') + 1));
    };
    std::uint64_t firstClass = UINT64_MAX;
    for (const TRecord& r : records) {
      if (r.Class) firstClass = std::min(firstClass, classNumber(*r.Class));
    }
    std::size_t named = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
      const TRecord& r = records[i];
      if (!r.UserName || !r.Class) continue;
      ++named;
      const std::uint64_t account = (classNumber(*r.Class) - firstClass) % c.Users;
      std::array<char, 32> expected{};
      std::snprintf(expected.data(), expected.size(), "CORP\\u%07llu", static_cast<unsigned long long>(account));
      ASSERT_EQ(*r.UserName, expected.data()) << "record " << i;
      // A VPN gateway reports the peer's address, not a MAC.
      if (r.CallingStation && r.Line.find("<NAS-Port-Type data_type=\"0\">5<") == std::string::npos) {
        std::snprintf(expected.data(), expected.size(), "02-00-%02llX-%02llX-%02llX-%02llX",
                      static_cast<unsigned long long>(account >> 24), static_cast<unsigned long long>((account >> 16) & 0xFF),
                      static_cast<unsigned long long>((account >> 8) & 0xFF), static_cast<unsigned long long>(account & 0xFF));
        ASSERT_EQ(*r.CallingStation, expected.data()) << "record " << i;
      }
    }
    EXPECT_GT(named, records.size() / 3);

    const std::vector<TRecord> plain = ParseLog(RunGenlog(c.Options, dir).Out);
    ASSERT_EQ(plain.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      ASSERT_EQ(withoutIdentity(records[i].Line), withoutIdentity(plain[i].Line)) << "record " << i;
    }
  }
}

TEST(GenlogTest, BadUsersAndTallyOptionsAreUsageErrors) {
  TTempDir dir;
  const std::string tally = " --tally " + velloran::test::ShellQuoted(dir.File("tally.tsv"));
  const std::pair<std::string, std::string> cases[] = {
      {"--users 0", "--users"},
      {"--users 4294967297", "--users"},
      {"--tally-interval 60", "--tally"},  // without --tally
      {"--tally-interval 0" + tally, "--tally-interval"},
  };
  for (const auto& [options, named] : cases) {
    SCOPED_TRACE(options);
    const TResult result = RunGenlog("--records 5 " + options, dir);
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_EQ(result.Out, "");
    EXPECT_THAT(result.Err, HasSubstr(named));
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
