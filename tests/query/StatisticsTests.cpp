// The statistics of a log are checked two ways: against what the log generator says it wrote
// (its --tally), and against a reference built one record at a time from parsed rows, where a
// refusal takes the fields it lacks from the request the exchange finder gives it. Stretches
// far smaller than a log and several threads put requests and their refusals into different
// workers' hands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "CodeNames.h"
#include "CompiledQuery.h"
#include "DecodedText.h"
#include "EventLines.h"
#include "Exchange.h"
#include "LogData.h"
#include "LogTime.h"
#include "QueryParser.h"
#include "Scanner.h"
#include "Statistics.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::EventLine;
using test::LogOf;
using test::TTempDir;
using ::testing::HasSubstr;

constexpr size_t kEveryValue = 1000000;  // a TopCount that lists every value
constexpr size_t kUser = 0;              // User-Name in kRankedFields
static_assert(kRankedFields[kUser] == "User-Name");

int64_t FloorDiv(int64_t A, int64_t B) { return A >= 0 ? A / B : -((-A + B - 1) / B); }

void Generate(const std::string& AOptions, const std::string& ALog) {
  const std::string command = std::string(VELLORAN_GENLOG) + " " + AOptions + " -o " + ALog;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

TLogStatistics Compute(TData& AData, TStatisticsOptions AOptions) {
  TLogStatistics statistics = ComputeStatistics(TScanTarget::Of(AData), AOptions);
  EXPECT_EQ(statistics.Error, "");
  EXPECT_FALSE(statistics.Cancelled);
  return statistics;
}

std::string TrafficText(const TTraffic& ATraffic) {
  std::ostringstream text;
  text << ATraffic.Requests << '/' << ATraffic.Accepts << '/' << ATraffic.Refusals << '/' << ATraffic.Challenges << '/'
       << ATraffic.Accounting << '/' << ATraffic.Other;
  return text.str();
}

// Every figure of the statistics, to compare two passes whole.
std::string Dump(const TLogStatistics& AStatistics) {
  std::ostringstream text;
  text << "records " << AStatistics.Records << " without-type " << AStatistics.WithoutPacketType << " requests "
       << AStatistics.Requests << " refusals " << AStatistics.Refusals << " without-reason " << AStatistics.RefusalsWithoutReason
       << " without-time " << AStatistics.WithoutTime << "\n";
  for (const TCodeCount& type : AStatistics.PacketTypes)
    text << "type " << type.Code << ' ' << type.Name << ' ' << type.Count << '\n';
  for (const TCodeCount& reason : AStatistics.RefusalReasons) text << "reason " << reason.Code << ' ' << reason.Count << '\n';
  for (const TRankedValues& ranked : AStatistics.Ranked) {
    text << ranked.Field << ' ' << ranked.DistinctRequests << ' ' << ranked.DistinctRefusals << '\n';
    for (const TValueCount& value : ranked.Requests)
      text << "  request " << value.Value << ' ' << value.Name << ' ' << value.Count << '\n';
    for (const TValueCount& value : ranked.Refusals)
      text << "  refusal " << value.Value << ' ' << value.Name << ' ' << value.Count << '\n';
  }
  text << "interval " << AStatistics.IntervalSeconds << (AStatistics.IntervalWidened ? " widened" : "") << '\n';
  for (const TTimeInterval& interval : AStatistics.Series) text << interval.Start << ' ' << TrafficText(interval.Traffic) << '\n';
  return text.str();
}

std::map<std::string, int64_t> ByValue(const std::vector<TValueCount>& AValues) {
  std::map<std::string, int64_t> counts;
  for (const TValueCount& value : AValues) counts[value.Value] += value.Count;
  return counts;
}

std::map<uint32_t, int64_t> ByCode(const std::vector<TCodeCount>& ACodes) {
  std::map<uint32_t, int64_t> counts;
  for (const TCodeCount& code : ACodes) counts[code.Code] += code.Count;
  return counts;
}

// A top list comes by count, descending, then by text, ascending, each value once.
void ExpectRanked(const std::vector<TValueCount>& AValues, const std::string& AWhat) {
  for (size_t i = 1; i < AValues.size(); ++i) {
    const TValueCount& before = AValues[i - 1];
    const TValueCount& after = AValues[i];
    EXPECT_TRUE(before.Count > after.Count || (before.Count == after.Count && before.Value < after.Value))
        << AWhat << ": " << before.Value << " (" << before.Count << ") before " << after.Value << " (" << after.Count << ")";
  }
}

// ---------------------------------------------------------------------------------------------
// The reference: one record at a time.

struct TReference {
  int64_t Records = 0, WithoutPacketType = 0, WithoutTime = 0, RefusalsWithoutReason = 0;
  std::map<uint32_t, int64_t> PacketTypes, Reasons;
  std::array<std::map<std::string, int64_t>, kRankedFields.size()> Requests, Refusals;
  std::map<int64_t, TTraffic> Series;  // non-empty intervals by start
};

// Adds the records ALocal of AFile (one file, opened alone: an exchange never reaches into
// another file) with intervals of AInterval seconds.
void AddToReference(TData& AFile, const std::vector<uint32_t>& ALocal, int64_t AInterval, TReference& AOut) {
  TExchangeFinder finder(AFile);
  TrdlDataRow row, request;
  const auto code = [](const TrdlDataRow& ARow, std::string_view AField) -> std::optional<uint32_t> {
    const TrdlDataRowItem* item = ARow.ItemByName(AField);
    return item != nullptr ? CodeNumber(item->RawText()) : std::nullopt;
  };
  for (const uint32_t record : ALocal) {
    ++AOut.Records;
    AFile.ParseRecord(record, row);
    const std::optional<uint32_t> type = code(row, "Packet-Type");
    if (type) {
      ++AOut.PacketTypes[*type];
    } else {
      ++AOut.WithoutPacketType;
    }
    const TrdlDataRowItem* stamp = row.ItemByName("Timestamp");
    const std::optional<TTimePoint> time = stamp != nullptr ? ParseTime(stamp->RawText()) : std::nullopt;
    if (time) {
      TTraffic& traffic = AOut.Series[FloorDiv(FloorDiv(*time, 1000), AInterval) * AInterval];
      switch (type.value_or(0)) {
        case 1:
          ++traffic.Requests;
          break;
        case 2:
          ++traffic.Accepts;
          break;
        case 3:
          ++traffic.Refusals;
          break;
        case 11:
          ++traffic.Challenges;
          break;
        case 4:
        case 5:
          ++traffic.Accounting;
          break;
        default:
          ++traffic.Other;
      }
    } else {
      ++AOut.WithoutTime;
    }
    if (type == ptAccessRequest) {
      for (size_t i = 0; i < kRankedFields.size(); ++i) {
        if (const TrdlDataRowItem* item = row.ItemByName(kRankedFields[i])) ++AOut.Requests[i][DecodedText(item->RawText())];
      }
    }
    if (type != ptAccessReject) continue;
    if (const std::optional<uint32_t> reason = code(row, "Reason-Code")) {
      ++AOut.Reasons[*reason];
    } else {
      ++AOut.RefusalsWithoutReason;
    }
    const int64_t requestRecord = finder.RequestOfReply(record, row);
    if (requestRecord >= 0) AFile.ParseRecord(requestRecord, request);
    for (size_t i = 0; i < kRankedFields.size(); ++i) {
      const TrdlDataRowItem* item = row.ItemByName(kRankedFields[i]);
      if (item == nullptr && requestRecord >= 0) item = request.ItemByName(kRankedFields[i]);
      if (item != nullptr) ++AOut.Refusals[i][DecodedText(item->RawText())];
    }
  }
}

std::vector<uint32_t> EveryRecord(const TData& AData) {
  std::vector<uint32_t> records(static_cast<size_t>(AData.Count()));
  for (size_t i = 0; i < records.size(); ++i) records[i] = static_cast<uint32_t>(i);
  return records;
}

// AStatistics (computed with a TopCount that lists every value) against the reference.
void ExpectEqualsReference(const TLogStatistics& AStatistics, const TReference& AReference) {
  EXPECT_EQ(AStatistics.Records, AReference.Records);
  EXPECT_EQ(ByCode(AStatistics.PacketTypes), AReference.PacketTypes);
  EXPECT_EQ(AStatistics.WithoutPacketType, AReference.WithoutPacketType);
  EXPECT_EQ(ByCode(AStatistics.RefusalReasons), AReference.Reasons);
  EXPECT_EQ(AStatistics.RefusalsWithoutReason, AReference.RefusalsWithoutReason);
  EXPECT_EQ(AStatistics.WithoutTime, AReference.WithoutTime);
  ASSERT_EQ(AStatistics.Ranked.size(), kRankedFields.size());
  for (size_t i = 0; i < kRankedFields.size(); ++i) {
    const TRankedValues& ranked = AStatistics.Ranked[i];
    EXPECT_EQ(ranked.Field, kRankedFields[i]);
    EXPECT_EQ(ByValue(ranked.Requests), AReference.Requests[i]) << ranked.Field << " among requests";
    EXPECT_EQ(ByValue(ranked.Refusals), AReference.Refusals[i]) << ranked.Field << " among refusals";
    EXPECT_EQ(ranked.DistinctRequests, static_cast<int64_t>(AReference.Requests[i].size())) << ranked.Field;
    EXPECT_EQ(ranked.DistinctRefusals, static_cast<int64_t>(AReference.Refusals[i].size())) << ranked.Field;
    ExpectRanked(ranked.Requests, ranked.Field);
    ExpectRanked(ranked.Refusals, ranked.Field);
  }
  // Every interval from the first record's to the last's, those without records empty.
  ASSERT_EQ(AStatistics.Series.empty(), AReference.Series.empty());
  if (AReference.Series.empty()) return;
  ASSERT_GT(AStatistics.IntervalSeconds, 0);
  EXPECT_EQ(AStatistics.Series.front().Start, AReference.Series.begin()->first);
  EXPECT_EQ(AStatistics.Series.back().Start, AReference.Series.rbegin()->first);
  for (size_t i = 0; i < AStatistics.Series.size(); ++i) {
    const TTimeInterval& interval = AStatistics.Series[i];
    EXPECT_EQ(interval.Start, AStatistics.Series.front().Start + static_cast<int64_t>(i) * AStatistics.IntervalSeconds);
    const auto found = AReference.Series.find(interval.Start);
    EXPECT_EQ(TrafficText(interval.Traffic), TrafficText(found != AReference.Series.end() ? found->second : TTraffic()))
        << "interval " << IsoTimeText(interval.Start * 1000);
  }
}

// ---------------------------------------------------------------------------------------------
// The generator's tally

struct TTally {
  int64_t Records = 0;
  std::map<uint32_t, int64_t> PacketTypes, Reasons;
  std::map<std::string, int64_t> Users, RefusedUsers;
  std::map<std::string, std::string> Intervals;  // start (ISO) -> requests/accepts/rejects/challenges/accounting/other
};

TTally ReadTally(const std::string& APath) {
  TTally tally;
  std::ifstream in(APath);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::istringstream row(line);
    for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
    const std::string& section = fields.at(0);
    if (section == "records") {
      tally.Records = std::stoll(fields.at(1));
    } else if (section == "packet-type") {
      tally.PacketTypes[static_cast<uint32_t>(std::stoul(fields.at(1)))] = std::stoll(fields.at(2));
    } else if (section == "reason") {
      tally.Reasons[static_cast<uint32_t>(std::stoul(fields.at(1)))] = std::stoll(fields.at(2));
    } else if (section == "user") {
      tally.Users[fields.at(1)] = std::stoll(fields.at(2));
    } else if (section == "refused-user") {
      tally.RefusedUsers[fields.at(1)] = std::stoll(fields.at(2));
    } else if (section == "interval") {
      // The generator writes only these five kinds: nothing of its counts as Other.
      tally.Intervals[fields.at(1)] =
          fields.at(2) + "/" + fields.at(3) + "/" + fields.at(4) + "/" + fields.at(5) + "/" + fields.at(6) + "/0";
    } else {
      ADD_FAILURE() << "unknown tally row " << line;
    }
  }
  return tally;
}

struct TTallyCase {
  std::string Options;  // of the generator
  int64_t Interval;     // seconds, of the tally and the series
  int64_t WindowBytes;  // of a worker's read
};

// The generator's records, oddities and all, counted exactly as it wrote them: by type and
// reason, users of requests and of the requests that refusals answer, traffic per interval.
// Stretches of one group (256 records) leave many refusals whose request lies in an earlier
// stretch; the passes with one and with three threads agree to the last figure.
TEST(StatisticsTest, GeneratedLogsAgreeWithTheGeneratorsTallyAndTheReference) {
  const TTallyCase cases[] = {
      {"--seed 11 --records 6000 --concurrency 50", 60, 1},
      {"--seed 12 --records 5000 --concurrency 300 --hex-lines 0.05 --empty-lines 0.05", 3600, 64 << 10},
      {"--seed 13 --size 3M --concurrency 20 --split-breaks --long-lines 0.002 --bom", 60, 1},
      // Cut by --records wherever the count falls; one stream of exchanges; days.
      {"--seed 14 --records 4321", 86400, 1},
      {"--seed 15 --records 3000 --concurrency 100 --users 40 --hex-lines 0.3", 300, int64_t{4} << 20},
  };
  for (const TTallyCase& c : cases) {
    SCOPED_TRACE(c.Options);
    TTempDir dir;
    const std::string log = dir.File("generated.log");
    const std::string tallyFile = dir.File("tally.txt");
    Generate(c.Options + " --tally " + tallyFile + " --tally-interval " + std::to_string(c.Interval), log);
    const TTally tally = ReadTally(tallyFile);
    TData data;
    data.Open(log);
    ASSERT_GE(data.Count(), tally.Records);

    TStatisticsOptions options;
    options.TopCount = kEveryValue;
    options.IntervalSeconds = c.Interval;
    options.WindowBytes = c.WindowBytes;
    options.Threads = 1;
    const TLogStatistics one = Compute(data, options);
    options.Threads = 3;
    const TLogStatistics three = Compute(data, options);
    EXPECT_EQ(Dump(three), Dump(one));

    // Empty lines are records of the log without a type or a time; the generator counts none.
    EXPECT_EQ(one.Records, data.Count());
    EXPECT_EQ(one.WithoutPacketType, data.Count() - tally.Records);
    EXPECT_EQ(one.WithoutTime, data.Count() - tally.Records);
    EXPECT_EQ(ByCode(one.PacketTypes), tally.PacketTypes);
    EXPECT_EQ(one.Requests, tally.PacketTypes.at(ptAccessRequest));
    EXPECT_EQ(one.Refusals, tally.PacketTypes.at(ptAccessReject));
    EXPECT_EQ(ByCode(one.RefusalReasons), tally.Reasons);
    EXPECT_EQ(one.RefusalsWithoutReason, 0);
    for (size_t i = 1; i < one.RefusalReasons.size(); ++i) {
      const TCodeCount& before = one.RefusalReasons[i - 1];
      const TCodeCount& after = one.RefusalReasons[i];
      EXPECT_TRUE(before.Count > after.Count || (before.Count == after.Count && before.Code < after.Code));
    }
    const TRankedValues& users = one.Ranked.at(kUser);
    EXPECT_EQ(ByValue(users.Requests), tally.Users);
    EXPECT_EQ(users.DistinctRequests, static_cast<int64_t>(tally.Users.size()));
    EXPECT_EQ(ByValue(users.Refusals), tally.RefusedUsers);
    EXPECT_EQ(users.DistinctRefusals, static_cast<int64_t>(tally.RefusedUsers.size()));

    EXPECT_EQ(one.IntervalSeconds, c.Interval);
    EXPECT_FALSE(one.IntervalWidened);
    ASSERT_FALSE(one.Series.empty());
    EXPECT_EQ(IsoTimeText(one.Series.front().Start * 1000), tally.Intervals.begin()->first);
    EXPECT_EQ(IsoTimeText(one.Series.back().Start * 1000), tally.Intervals.rbegin()->first);
    size_t withRecords = 0;
    for (const TTimeInterval& interval : one.Series) {
      const std::string start = IsoTimeText(interval.Start * 1000);
      const auto found = tally.Intervals.find(start);
      if (found == tally.Intervals.end()) {
        EXPECT_EQ(interval.Traffic.Total(), 0) << start;
        continue;
      }
      ++withRecords;
      EXPECT_EQ(TrafficText(interval.Traffic), found->second) << start;
    }
    EXPECT_EQ(withRecords, tally.Intervals.size());

    // Every ranked field, not only the users the tally lists.
    TReference reference;
    AddToReference(data, EveryRecord(data), c.Interval, reference);
    ExpectEqualsReference(one, reference);

    // The width chosen for about 200 intervals still counts every timed record once.
    options.IntervalSeconds = 0;
    const TLogStatistics chosen = Compute(data, options);
    EXPECT_GT(chosen.IntervalSeconds, 0);
    EXPECT_LE(static_cast<int64_t>(chosen.Series.size()), kMaxIntervals);
    int64_t timed = 0;
    for (const TTimeInterval& interval : chosen.Series) timed += interval.Traffic.Total();
    EXPECT_EQ(timed, tally.Records);
  }
}

// ---------------------------------------------------------------------------------------------
// The records of a filter

std::vector<uint32_t> Matches(const std::string& AQuery, TData& AData) {
  TScanOutcome outcome;
  std::vector<uint32_t> found = ScanAll(TCompiledQuery::Compile(AQuery), TScanTarget::Of(AData), outcome);
  EXPECT_EQ(outcome.Error, "");
  return found;
}

// The reference over a set's records, each file's taken alone: set numbers are turned into
// the files' own through Locate, not through what the statistics use.
TReference ReferenceOfSet(TData& ASet, const std::vector<uint32_t>& ARecords, int64_t AInterval) {
  std::vector<std::vector<uint32_t>> byFile(static_cast<size_t>(ASet.FileCount()));
  for (const uint32_t record : ARecords) {
    const TLogSetOrder::TPlace place = ASet.Locate(record);
    byFile[static_cast<size_t>(place.Part)].push_back(static_cast<uint32_t>(place.Local));
  }
  TReference reference;
  for (int file = 0; file < ASet.FileCount(); ++file) {
    TData alone;
    alone.Open(ASet.FileNameOf(file));
    AddToReference(alone, byFile[static_cast<size_t>(file)], AInterval, reference);
  }
  return reference;
}

// A refused user's name, written as a query value.
std::string SomeRefusedUser(TData& AData) {
  TStatisticsOptions options;
  options.TopCount = 3;
  const TLogStatistics statistics = Compute(AData, options);
  EXPECT_FALSE(statistics.Ranked.at(kUser).Refusals.empty());
  return statistics.Ranked.at(kUser).Refusals.empty() ? "nobody" : statistics.Ranked.at(kUser).Refusals.back().Value;
}

// Only the records asked for are counted, yet a request left out still lends its fields to
// the refusals after it: the refusals alone rank their users as the whole log does.
TEST(StatisticsTest, TheRecordsOfAFilterAreCountedAsTheReferenceCountsThem) {
  TTempDir dir;
  const std::string log = dir.File("filter.log");
  Generate("--seed 21 --records 5000 --concurrency 50 --hex-lines 0.05 --empty-lines 0.01", log);
  TData data;
  data.Open(log);
  const std::string user = SomeRefusedUser(data);
  const std::string userQuery = "User-Name = " + QuotedQueryValue(user);  // requests and, through the exchange, replies
  const std::string queries[] = {
      "Packet-Type = Access-Reject", userQuery, "Reason-Code = 16 or Packet-Type = 1", "not Packet-Type = 1",
      "User-Name = nobody-at-all",
  };
  TStatisticsOptions options;
  options.TopCount = kEveryValue;
  options.IntervalSeconds = 60;
  options.WindowBytes = 1;
  options.Threads = 3;
  const TLogStatistics whole = Compute(data, options);
  for (const std::string& query : queries) {
    SCOPED_TRACE(query);
    const std::vector<uint32_t> records = Matches(query, data);
    options.Records = &records;
    const TLogStatistics filtered = Compute(data, options);
    TReference reference;
    AddToReference(data, records, 60, reference);
    ExpectEqualsReference(filtered, reference);
    if (query == "Packet-Type = Access-Reject") {
      EXPECT_EQ(filtered.Records, whole.Refusals);
      for (size_t i = 0; i < kRankedFields.size(); ++i) {
        EXPECT_EQ(ByValue(filtered.Ranked[i].Refusals), ByValue(whole.Ranked[i].Refusals)) << kRankedFields[i];
        EXPECT_TRUE(filtered.Ranked[i].Requests.empty()) << kRankedFields[i];
      }
    }
    if (query == userQuery) {
      EXPECT_EQ(ByValue(filtered.Ranked[kUser].Refusals).at(user), filtered.Refusals)
          << "every refusal of the filter is the user's";
      EXPECT_GT(filtered.Refusals, 0);
    }
  }
}

// Two servers' logs merged by time: the statistics of the set, whole and filtered, are those
// of each file's records, exchanges never reaching from one file into the other.
TEST(StatisticsTest, ASetOfTwoServersMergedByTimeCountsEachFilesRecords) {
  TTempDir dir;
  const std::string a = dir.File("a.log");
  const std::string b = dir.File("b.log");
  Generate("--seed 31 --records 3000 --concurrency 40 --server NPS-A --tally " + dir.File("a.txt"), a);
  Generate("--seed 32 --records 2000 --concurrency 40 --server NPS-B --hex-lines 0.05 --tally " + dir.File("b.txt"), b);
  TData set;
  set.OpenSet({b, a});
  ASSERT_TRUE(set.IsMerged());
  TStatisticsOptions options;
  options.TopCount = kEveryValue;
  options.IntervalSeconds = 60;
  options.WindowBytes = 1;
  options.Threads = 3;
  const TLogStatistics whole = Compute(set, options);
  ExpectEqualsReference(whole, ReferenceOfSet(set, EveryRecord(set), 60));
  // The tallies of the two files add up.
  const TTally tallyA = ReadTally(dir.File("a.txt")), tallyB = ReadTally(dir.File("b.txt"));
  std::map<std::string, int64_t> refused = tallyA.RefusedUsers;
  for (const auto& [name, count] : tallyB.RefusedUsers) refused[name] += count;
  EXPECT_EQ(ByValue(whole.Ranked[kUser].Refusals), refused);

  const std::string user = SomeRefusedUser(set);
  for (const std::string& query : {std::string("Packet-Type = Access-Reject"), "User-Name = " + QuotedQueryValue(user),
                                   std::string("Computer-Name = NPS-B and not Packet-Type = 4")}) {
    SCOPED_TRACE(query);
    const std::vector<uint32_t> records = Matches(query, set);
    ASSERT_FALSE(records.empty());
    options.Records = &records;
    ExpectEqualsReference(Compute(set, options), ReferenceOfSet(set, records, 60));
  }
}

// ---------------------------------------------------------------------------------------------
// Refusals and their requests, on a fixture of known distances

std::string Record(const std::string& AType, const std::string& AClass, const std::string& AServer, const std::string& AUser,
                   const std::string& AStation = {}) {
  test::TAttributes attributes;
  if (!AServer.empty()) attributes.emplace_back("Computer-Name", AServer);
  if (!AUser.empty()) attributes.emplace_back("User-Name", AUser);
  if (!AStation.empty()) attributes.emplace_back("Calling-Station-Id", AStation);
  if (!AClass.empty()) attributes.emplace_back("Class", AClass);
  attributes.emplace_back("Packet-Type", AType);
  if (AType == "3") attributes.emplace_back("Reason-Code", "16");
  return EventLine(attributes);
}

std::string HexLine(const std::string& ALine) {
  std::string hex = "0x";
  for (const char c : ALine) {
    hex.push_back("0123456789ABCDEF"[static_cast<unsigned char>(c) >> 4]);
    hex.push_back("0123456789ABCDEF"[static_cast<unsigned char>(c) & 15]);
  }
  return hex;
}

// A refusal takes what it lacks from the nearest earlier request of its Class and server up
// to 2,000 records back (the exchange window), however many stretches lie between, and from no
// other: not another server's, not one a record too far, not a later one.
TEST(StatisticsTest, RefusalsTakeTheirRequestsFieldsAcrossStretchesWithinTheExchangeWindow) {
  std::vector<std::string> lines(2200, Record("4", "acct", "NPS1", ""));  // accounting between
  const auto put = [&](size_t AAt, std::string ALine) { lines.at(AAt) = std::move(ALine); };
  put(0, Record("1", "K1", "NPS1", "alice", "AA-01"));
  put(1, Record("1", "K2", "NPS1", "bob"));
  put(2, Record("1", "K3", "NPS1", "carol"));
  put(3, Record("1", "K1", "NPS2", "mallory", "FF-FF"));        // same Class, another server
  put(4, HexLine(Record("1", "K4", "NPS1", "dave", "DD-04")));  // a request only hex shows
  put(5, Record("1", "K5", "NPS1", "erin"));
  put(6, Record("1", "K5", "NPS1", "frank", "FR-06"));   // the nearer of two
  put(10, Record("1", "K9", "NPS1", "oscar", "OS-10"));  // an older request of K9, a stretch before
  put(300, Record("1", "K9", "NPS1", "peggy"));          // the nearer one, without a station
  put(600, Record("3", "K1", "NPS1", ""));               // two stretches on: alice, AA-01
  put(650, Record("3", "K9", "NPS1", ""));               // peggy, and no station of oscar's
  put(700, Record("3", "K4", "NPS1", ""));               // dave, from the hex line
  put(800, Record("3", "K5", "NPS1", "", "EE-05"));      // frank; its own station stays
  put(900, Record("3", "K6", "NPS1", ""));               // no request at all
  put(1000, Record("3", "", "NPS1", "grace"));           // no Class: its own fields only
  put(1100, Record("1", "K7", "NPS1", "heidi"));
  put(1101, Record("3", "K7", "NPS2", ""));  // another server's Class K7
  put(2001, Record("3", "K2", "NPS1", ""));  // 2,000 records on: bob still
  put(2003, Record("3", "K3", "NPS1", ""));  // 2,001 on: carol no more
  put(2100, Record("3", "K8", "NPS1", ""));  // its request comes after
  put(2101, Record("1", "K8", "NPS1", "ivan"));
  // Refusals without a Reason-Code (or a Class) in many stretches: counted by whichever worker.
  for (size_t at = 150; at < 2000; at += 300) put(at, EventLine({{"Packet-Type", "3"}}));
  TTempDir dir;
  TData data;
  data.Open(dir.Write("window.log", LogOf(lines)));
  ASSERT_EQ(data.Count(), 2200);

  const std::map<std::string, int64_t> users = {{"alice", 1}, {"bob", 1}, {"dave", 1}, {"frank", 1}, {"grace", 1}, {"peggy", 1}};
  const std::map<std::string, int64_t> stations = {{"AA-01", 1}, {"DD-04", 1}, {"EE-05", 1}};
  TReference reference;
  AddToReference(data, EveryRecord(data), 60, reference);
  ASSERT_EQ(reference.Refusals[kUser], users) << "the fixture is read as the exchange finder reads it";
  for (const int64_t window : {int64_t{1}, int64_t{40} << 10, int64_t{4} << 20}) {
    for (const unsigned threads : {1u, 4u}) {
      SCOPED_TRACE("window " + std::to_string(window) + ", threads " + std::to_string(threads));
      TStatisticsOptions options;
      options.TopCount = kEveryValue;
      options.WindowBytes = window;
      options.Threads = threads;
      const TLogStatistics statistics = Compute(data, options);
      EXPECT_EQ(ByValue(statistics.Ranked[kUser].Refusals), users);
      EXPECT_EQ(ByValue(statistics.Ranked[1].Refusals), stations);
      ExpectEqualsReference(statistics, reference);
    }
  }
}

// A record without Computer-Name has the empty server, whatever the records before it name:
// its refusal finds it, as the exchange finder does.
TEST(StatisticsTest, ARecordWithoutComputerNameIsOfTheEmptyServer) {
  TTempDir dir;
  TData data;
  const std::string withServer = Record("4", "acct", "NPS1", "");
  data.Open(dir.Write("servers.log", LogOf({HexLine(withServer), Record("1", "K1", "", "alice"),
                                            HexLine(Record("4", "acct", "NPS2", "")), Record("3", "K1", "", ""), withServer,
                                            Record("1", "K2", "NPS1", "bob"), Record("3", "K2", "", "")})));
  TReference reference;
  AddToReference(data, EveryRecord(data), 60, reference);
  ASSERT_EQ(reference.Refusals[kUser], (std::map<std::string, int64_t>{{"alice", 1}}));
  TStatisticsOptions options;
  options.TopCount = kEveryValue;
  ExpectEqualsReference(Compute(data, options), reference);
}

// ---------------------------------------------------------------------------------------------
// Odd logs

struct TOddCase {
  std::string Name;
  std::vector<std::string> Lines;
  int64_t Interval;  // asked; 0: chosen
  std::function<void(const TLogStatistics&)> Check;
};

std::string Timed(const std::string& ATime, const std::string& AType = "1", const std::string& AUser = "u") {
  test::TAttributes attributes;
  if (!ATime.empty()) attributes.emplace_back("Timestamp", ATime);
  attributes.emplace_back("User-Name", AUser);
  if (!AType.empty()) attributes.emplace_back("Packet-Type", AType);
  return EventLine(attributes);
}

// The starts of the series' intervals with records, as ISO text.
std::vector<std::string> BusyStarts(const TLogStatistics& AStatistics) {
  std::vector<std::string> starts;
  for (const TTimeInterval& interval : AStatistics.Series) {
    if (interval.Traffic.Total() > 0)
      starts.push_back(IsoTimeText(interval.Start * 1000) + "=" + std::to_string(interval.Traffic.Total()));
  }
  return starts;
}

int64_t SeriesTotal(const TLogStatistics& AStatistics) {
  int64_t total = 0;
  for (const TTimeInterval& interval : AStatistics.Series) total += interval.Traffic.Total();
  return total;
}

TEST(StatisticsTest, OddLogs) {
  using ::testing::ElementsAre;
  const std::string longName(100 * 1024, 'x');
  const std::vector<std::string> outOfOrder = {Timed("06/15/2030 12:00:00"), Timed("03/01/1999 00:00:01"),
                                               Timed("01/01/2001 08:30:00"), Timed("06/15/2030 11:59:59")};
  const auto yearsApart = [](const TLogStatistics& S) {
    EXPECT_LE(static_cast<int64_t>(S.Series.size()), kMaxIntervals);
    EXPECT_EQ(SeriesTotal(S), 4);
    ASSERT_FALSE(S.Series.empty());
    // The first and the last record lie in the first and the last interval.
    EXPECT_LE(S.Series.front().Start, *ParseTime("03/01/1999 00:00:01") / 1000);
    EXPECT_GT(S.Series.front().Start + S.IntervalSeconds, *ParseTime("03/01/1999 00:00:01") / 1000);
    EXPECT_LE(S.Series.back().Start, *ParseTime("06/15/2030 12:00:00") / 1000);
    EXPECT_GT(S.Series.back().Start + S.IntervalSeconds, *ParseTime("06/15/2030 12:00:00") / 1000);
  };
  const TOddCase cases[] = {
      {"no Timestamp at all",
       {Timed(""), Timed("", "3"), Timed("not a time")},
       0,
       [](const TLogStatistics& S) {
         EXPECT_EQ(S.Records, 3);
         EXPECT_EQ(S.WithoutTime, 3);
         EXPECT_TRUE(S.Series.empty());
         EXPECT_EQ(S.IntervalSeconds, 0);
         EXPECT_EQ(S.Refusals, 1);
       }},
      {"out of order and years apart, 1 s asked", outOfOrder, 1,
       [&](const TLogStatistics& S) {
         yearsApart(S);
         EXPECT_TRUE(S.IntervalWidened);
         EXPECT_GE(S.IntervalSeconds, 1);
       }},
      {"out of order and years apart, chosen", outOfOrder, 0,
       [&](const TLogStatistics& S) {
         yearsApart(S);
         EXPECT_FALSE(S.IntervalWidened);
       }},
      {"without Packet-Type, or not a number",
       {Timed("12/01/2026 10:00:00", ""), Timed("12/01/2026 10:00:01", "Access-Reject"), Timed("12/01/2026 10:00:02", "3"), ""},
       60,
       [](const TLogStatistics& S) {
         EXPECT_EQ(S.Records, 4);
         EXPECT_EQ(S.WithoutPacketType, 3);
         EXPECT_EQ(S.WithoutTime, 1);  // the empty line
         EXPECT_EQ(S.Refusals, 1);
         ASSERT_EQ(S.Series.size(), 1u);
         EXPECT_EQ(TrafficText(S.Series[0].Traffic), "0/0/1/0/0/2");
       }},
      {"a User-Name of 100 KB",
       {Timed("12/01/2026 10:00:00", "1", longName), Timed("12/01/2026 10:00:00", "1", longName),
        Timed("12/01/2026 10:00:00", "1", longName + "y")},
       0,
       [&](const TLogStatistics& S) {
         const std::vector<TValueCount>& users = S.Ranked[kUser].Requests;
         ASSERT_EQ(users.size(), 2u);
         EXPECT_EQ(users[0].Value, longName);
         EXPECT_EQ(users[0].Count, 2);
         EXPECT_EQ(users[1].Value, longName + "y");
         EXPECT_EQ(S.Ranked[kUser].DistinctRequests, 2);
       }},
      {"one record",
       {Timed("12/01/2026 10:00:00.500", "2")},
       0,
       [](const TLogStatistics& S) {
         EXPECT_EQ(S.Records, 1);
         ASSERT_EQ(S.Series.size(), 1u);
         EXPECT_EQ(S.Series[0].Traffic.Accepts, 1);
         EXPECT_GT(S.IntervalSeconds, 0);
       }},
      {"a day across the end of February in a leap year",
       {Timed("02/28/2028 23:59:59.999"), Timed("02/29/2028 00:00:00"), Timed("02/29/2028 23:59:59"),
        Timed("03/01/2028 00:00:00")},
       86400,
       [](const TLogStatistics& S) {
         EXPECT_THAT(BusyStarts(S), ElementsAre("2028-02-28T00:00:00=1", "2028-02-29T00:00:00=2", "2028-03-01T00:00:00=1"));
         EXPECT_EQ(S.Series.size(), 3u);
       }},
      {"a day across the end of February in a common year",
       {Timed("02/28/2026 23:59:59"), Timed("03/01/2026 00:00:00")},
       86400,
       [](const TLogStatistics& S) {
         EXPECT_THAT(BusyStarts(S), ElementsAre("2026-02-28T00:00:00=1", "2026-03-01T00:00:00=1"));
       }},
      {"hours across midnight and the year's end",
       {Timed("12/31/2025 22:59:59"), Timed("12/31/2025 23:00:00"), Timed("01/01/2026 00:00:00"), Timed("01/01/2026 01:30:00")},
       3600,
       [](const TLogStatistics& S) {
         EXPECT_THAT(BusyStarts(S), ElementsAre("2025-12-31T22:00:00=1", "2025-12-31T23:00:00=1", "2026-01-01T00:00:00=1",
                                                "2026-01-01T01:00:00=1"));
       }},
      {"five minutes across the end of April",
       {Timed("04/30/2026 23:57:00"), Timed("05/01/2026 00:04:59"), Timed("05/01/2026 00:05:00")},
       300,
       [](const TLogStatistics& S) {
         EXPECT_THAT(BusyStarts(S), ElementsAre("2026-04-30T23:55:00=1", "2026-05-01T00:00:00=1", "2026-05-01T00:05:00=1"));
         EXPECT_EQ(S.Series.size(), 3u);
       }},
  };
  for (const TOddCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    TData data;
    data.Open(dir.Write("odd.log", LogOf(c.Lines)));
    TStatisticsOptions options;
    options.IntervalSeconds = c.Interval;
    options.WindowBytes = 1;
    c.Check(Compute(data, options));
  }
}

// A width asked for that would make more than kMaxIntervals is widened to a multiple that
// fits; one that fits is kept, even far from the 200 a chosen width aims at.
TEST(StatisticsTest, AnIntervalAskedForIsKeptUnlessItMakesTooManyIntervals) {
  std::vector<std::string> lines;
  for (int day = 1; day <= 28; ++day) {
    char time[32];
    std::snprintf(time, sizeof time, "02/%02d/2026 12:00:00", day);
    lines.push_back(Timed(time));
  }
  TTempDir dir;
  TData data;
  data.Open(dir.Write("month.log", LogOf(lines)));
  struct TCase {
    int64_t Asked;
    bool Widened;
  };
  for (const TCase c : {TCase{60, true}, TCase{300, false}, TCase{86400, false}, TCase{1, true}}) {
    SCOPED_TRACE(c.Asked);
    TStatisticsOptions options;
    options.IntervalSeconds = c.Asked;
    const TLogStatistics statistics = Compute(data, options);
    EXPECT_EQ(statistics.IntervalWidened, c.Widened);
    EXPECT_EQ(statistics.IntervalSeconds == c.Asked, !c.Widened);
    EXPECT_LE(static_cast<int64_t>(statistics.Series.size()), kMaxIntervals);
    EXPECT_EQ(statistics.IntervalSeconds % c.Asked, 0);
    EXPECT_EQ(SeriesTotal(statistics), 28);
  }
}

// More distinct seconds than a worker keeps counts for: counts are kept coarser, and the
// series comes out the same whether one worker saw them all or several shared them.
TEST(StatisticsTest, ASeriesKeptCoarserIsTheSameWhateverTheThreads) {
  const TTimePoint start = *ParseTime("12/01/2026 00:00:00");
  std::vector<std::string> lines;
  for (int64_t second = 0; second < 60000; ++second) lines.push_back(Timed(IsoTimeText(start + second * 1000)));
  TTempDir dir;
  TData data;
  data.Open(dir.Write("seconds.log", LogOf(lines)));
  for (const int64_t asked : {int64_t{1}, int64_t{0}}) {
    SCOPED_TRACE(asked);
    TStatisticsOptions options;
    options.IntervalSeconds = asked;
    options.WindowBytes = 1 << 20;
    options.Threads = 1;
    const TLogStatistics one = Compute(data, options);
    EXPECT_EQ(one.IntervalWidened, asked != 0);
    EXPECT_LE(static_cast<int64_t>(one.Series.size()), kMaxIntervals);
    for (size_t i = 0; i + 1 < one.Series.size(); ++i) ASSERT_EQ(one.Series[i].Traffic.Requests, one.IntervalSeconds) << i;
    EXPECT_EQ(SeriesTotal(one), 60000);
    for (const unsigned threads : {3u, 6u}) {
      options.Threads = threads;
      const TLogStatistics several = Compute(data, options);
      EXPECT_EQ(several.IntervalSeconds, one.IntervalSeconds) << threads << " threads";
      EXPECT_TRUE(Dump(several) == Dump(one)) << threads << " threads";
    }
  }
}

// ---------------------------------------------------------------------------------------------
// How a pass ends

TEST(StatisticsTest, ProgressReachesTheTotalAStopCancelsAndAShrunkLogIsAnError) {
  TTempDir dir;
  const std::string log = dir.File("end.log");
  Generate("--seed 41 --records 3000 --concurrency 10", log);
  TData data;
  data.Open(log);
  const TScanTarget target = TScanTarget::Of(data);
  TStatisticsOptions options;
  options.WindowBytes = 64 << 10;
  options.Threads = 2;
  int64_t done = 0, total = 0;
  options.OnProgress = [&](int64_t ADone, int64_t ATotal) {
    EXPECT_GT(ADone, done);  // one call at a time, growing
    done = ADone;
    total = ATotal;
  };
  EXPECT_EQ(ComputeStatistics(target, options).Records, 3000);
  EXPECT_EQ(done, total);
  EXPECT_EQ(total, static_cast<int64_t>(std::filesystem::file_size(log)));
  options.OnProgress = nullptr;

  std::stop_source stop;
  stop.request_stop();
  EXPECT_TRUE(ComputeStatistics(target, options, stop.get_token()).Cancelled);

  std::filesystem::resize_file(log, std::filesystem::file_size(log) / 2);
  const TLogStatistics cut = ComputeStatistics(target, options);
  EXPECT_THAT(cut.Error, HasSubstr(log));
  EXPECT_THAT(cut.Error, HasSubstr("shrank"));
  std::filesystem::remove(log);
  EXPECT_THAT(ComputeStatistics(target, options).Error, HasSubstr("Cannot open " + log));
}

// ---------------------------------------------------------------------------------------------
// Widths of intervals

TEST(StatisticsTest, IntervalTextsAndChosenWidths) {
  struct TParse {
    std::string Text;
    std::optional<int64_t> Seconds;
  };
  const TParse parses[] = {{"90", 90},       {"30s", 30},   {"5m", 300}, {"2h", 7200},          {"1d", 86400},
                           {"86400", 86400}, {"86401", {}}, {"2d", {}},  {"25h", {}},           {"0", {}},
                           {"0m", {}},       {"", {}},      {"m", {}},   {"5 m", {}},           {"-5m", {}},
                           {"1.5h", {}},     {"5mm", {}},   {"1w", {}},  {"99999999999999", {}}};
  for (const TParse& p : parses) EXPECT_EQ(ParseIntervalText(p.Text), p.Seconds) << '"' << p.Text << '"';

  struct TText {
    int64_t Seconds;
    std::string Text;
  };
  for (const TText& t : {TText{30, "30s"}, TText{90, "90s"}, TText{300, "5m"}, TText{7200, "2h"}, TText{5400, "90m"},
                         TText{86400, "1d"}, TText{7 * 86400, "7d"}, TText{1, "1s"}}) {
    EXPECT_EQ(IntervalText(t.Seconds), t.Text) << t.Seconds;
    if (t.Seconds <= 86400) {
      EXPECT_EQ(ParseIntervalText(t.Text), t.Seconds) << "read back";
    }
  }

  constexpr int64_t kDay = 86400;
  struct TChoice {
    int64_t First, Last, Unit, Width;
  };
  const TChoice choices[] = {
      {0, 0, 1, 1},                             // one instant
      {0, 199, 1, 1},                           // 200 seconds: one each
      {0, kDay - 1, 1, 600},                    // a day: 144 ten-minute intervals
      {1000 * kDay, 1007 * kDay - 1, 1, 3600},  // a week: 168 hours
      {0, kDay - 1, 3600, 3600},                // counts kept per hour: nothing finer
      {0, kDay - 1, 7000, 7000},                // a unit no round width is a multiple of
  };
  for (const TChoice& c : choices) {
    SCOPED_TRACE(std::to_string(c.First) + ".." + std::to_string(c.Last) + " unit " + std::to_string(c.Unit));
    const int64_t width = ChooseIntervalSeconds(c.First, c.Last, c.Unit);
    EXPECT_EQ(width, c.Width);
    EXPECT_EQ(width % c.Unit, 0);
    EXPECT_LE(FloorDiv(c.Last, width) - FloorDiv(c.First, width) + 1, kMaxIntervals);
  }
  // Centuries apart, before 1970 too: still at most kMaxIntervals.
  for (const auto& [first, last] : {std::pair<int64_t, int64_t>{-62135596800, 253402300799}, {-5, 4}, {0, 3650 * kDay * 3}}) {
    const int64_t width = ChooseIntervalSeconds(first, last);
    EXPECT_GT(width, 0);
    EXPECT_LE(FloorDiv(last, width) - FloorDiv(first, width) + 1, kMaxIntervals) << first << ".." << last;
  }
}

}  // namespace
}  // namespace velloran
