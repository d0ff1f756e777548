// `velloran stats` as scripts read it: the CSV and JSON forms are read back by Python's csv and
// json modules and must agree with each other and with what `velloran grep --count` finds;
// the text form is read as a person reads it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CliRun.h"
#include "EventLines.h"
#include "RunProgram.h"
#include "TestFiles.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using velloran::test::TTempDir;

using TResult = velloran::test::TProgramResult;

constexpr const char* kPython = "/usr/bin/python3";

using velloran::test::Quote;
using velloran::test::RunCli;

std::string Generate(const TTempDir& ADir, const std::string& AName, const std::string& AOptions) {
  const std::string path = ADir.File(AName);
  const TResult result = velloran::test::RunProgram(VELLORAN_GENLOG, AOptions + " -o " + Quote(path), ADir);
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  return path;
}

// What `velloran grep --count` says of AQuery, as a number.
long long GrepCount(const std::string& ALogs, const std::string& AQuery, const TTempDir& ADir) {
  const TResult result = RunCli("grep --count " + ALogs + " " + Quote(AQuery), ADir);
  EXPECT_LE(result.ExitCode, 1) << AQuery << ": " << result.Err;
  return std::stoll(result.Out);
}

// The CSV and the JSON of one log's statistics as Python reads them, one fact a line:
// "records N", "without-time N", "type CODE N", "reason CODE N" ("-" for none),
// "user LENGTH N" (User-Name among requests, by length: names may be long), "refused NAME N"
// (User-Name among refusals), "series KIND N" (summed over the intervals), "intervals N".
// The interval's width comes apart: "width TEXT" from the CSV, "width-seconds N" from the JSON.
const char* const kReader = R"(import csv, json, sys
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    rows = list(csv.reader(f))
assert rows[0] == ['section', 'field', 'value', 'name', 'count', 'share'], rows[0]
series, starts, widths = {}, set(), set()
for section, field, value, name, count, share in rows[1:]:
    if section in ('records', 'without-time'):
        print('csv', section, count)
    elif section == 'packet-type':
        print('csv type', value, count)
    elif section == 'refusal-reason':
        print('csv reason', value or '-', count)
    elif section == 'top-requests' and field == 'User-Name':
        print('csv user', len(value), count)
    elif section == 'top-refusals' and field == 'User-Name':
        print('csv refused', value, count)
    elif section == 'interval':
        series[field.lower()] = series.get(field.lower(), 0) + int(count)
        starts.add(value)
        widths.add(name)
for kind in sorted(series):
    print('csv series', kind, series[kind])
print('csv intervals', len(starts))
print('width', ' '.join(sorted(widths)))
with open(sys.argv[2], encoding='utf-8') as f:
    j = json.load(f)
print('json records', j['records'])
print('json without-time', j['without_time'])
for t in j['packet_types']:
    print('json type', t['code'], t['count'])
for r in j['refusal_reasons']:
    print('json reason', r['code'], r['count'])
if j['refusals_without_reason']:
    print('json reason -', j['refusals_without_reason'])
users = [t for t in j['top'] if t['field'] == 'User-Name'][0]
for v in users['requests']['values']:
    print('json user', len(v['value']), v['count'])
for v in users['refusals']['values']:
    print('json refused', v['value'], v['count'])
totals = {}
for interval in j['series']:
    for kind in ('requests', 'accepts', 'refusals', 'challenges', 'accounting', 'other'):
        totals[kind] = totals.get(kind, 0) + interval[kind]
for kind in sorted(totals):
    print('json series', kind, totals[kind])
print('json intervals', len(j['series']))
print('width-seconds', j['interval_seconds'])
)";

struct TReadBack {
  std::vector<std::string> Csv, Json;  // the facts without their "csv " or "json "
  std::string Width, WidthSeconds;
};

// Runs stats on ALogs with AOptions in CSV and in JSON, and reads both back with Python.
TReadBack ReadBack(const std::string& ALogs, const std::string& AOptions, const TTempDir& ADir) {
  TReadBack read;
  const TResult csv = RunCli("stats " + ALogs + " " + AOptions + " --format csv", ADir);
  const TResult json = RunCli("stats " + ALogs + " " + AOptions + " --format json", ADir);
  EXPECT_EQ(csv.ExitCode, 0) << csv.Err;
  EXPECT_EQ(json.ExitCode, 0) << json.Err;
  const std::string script = ADir.Write("read.py", kReader);
  const std::string csvFile = ADir.Write("stats.csv", csv.Out);
  const std::string jsonFile = ADir.Write("stats.json", json.Out);
  const TResult python = velloran::test::RunProgram(kPython, Quote(script) + " " + Quote(csvFile) + " " + Quote(jsonFile), ADir);
  EXPECT_EQ(python.ExitCode, 0) << python.Err;
  std::istringstream lines(python.Out);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("csv ")) read.Csv.push_back(line.substr(4));
    if (line.starts_with("json ")) read.Json.push_back(line.substr(5));
    if (line.starts_with("width ")) read.Width = line.substr(6);
    if (line.starts_with("width-seconds ")) read.WidthSeconds = line.substr(14);
  }
  return read;
}

// The facts of AKey ("type", "reason", …): their values and counts.
std::map<std::string, long long> FactsOf(const std::vector<std::string>& AFacts, const std::string& AKey) {
  std::map<std::string, long long> facts;
  for (const std::string& fact : AFacts) {
    if (!fact.starts_with(AKey + " ")) continue;
    const size_t space = fact.rfind(' ');
    const std::string value = space > AKey.size() ? fact.substr(AKey.size() + 1, space - AKey.size() - 1) : "";
    facts[value] = std::stoll(fact.substr(space + 1));
  }
  return facts;
}

// The rows of the text table under the line AHeading, up to the empty line after it.
std::vector<std::string> TableAfter(const std::string& AText, const std::string& AHeading) {
  std::vector<std::string> rows;
  std::istringstream lines(AText);
  std::string line;
  while (std::getline(lines, line) && line != AHeading) {
  }
  while (std::getline(lines, line) && !line.empty()) rows.push_back(line);
  return rows;
}

// The figures of the three forms are those grep counts: records by Packet-Type, refusals by
// Reason-Code and by the user of their request, the traffic over the intervals; the text form
// writes them as plain digits in aligned columns.
TEST(CliStatsTest, TheThreeFormsAgreeWithEachOtherAndWithGrep) {
  if (!std::filesystem::exists(kPython)) GTEST_SKIP() << "no " << kPython;
  TTempDir dir;
  const std::string log = Quote(Generate(dir, "stats.log", "--seed 7 --records 3000 --concurrency 30 --hex-lines 0.02"));
  const TReadBack read = ReadBack(log, "--top 4 --interval 5m", dir);
  EXPECT_EQ(read.Csv, read.Json);
  EXPECT_EQ(read.Width, "5m");
  EXPECT_EQ(read.WidthSeconds, "300");

  const std::map<std::string, long long> types = FactsOf(read.Csv, "type");
  EXPECT_EQ(FactsOf(read.Csv, "records").at(""), 3000);
  ASSERT_EQ(types.size(), 6u);
  for (const auto& [type, count] : types) EXPECT_EQ(count, GrepCount(log, "Packet-Type = " + type, dir)) << type;
  const std::map<std::string, long long> reasons = FactsOf(read.Csv, "reason");
  ASSERT_FALSE(reasons.empty());
  for (const auto& [reason, count] : reasons)
    EXPECT_EQ(count, GrepCount(log, "Packet-Type = 3 and Reason-Code = " + reason, dir)) << reason;
  const std::map<std::string, long long> refused = FactsOf(read.Csv, "refused");
  EXPECT_EQ(refused.size(), 4u);
  for (const auto& [user, count] : refused) {
    std::string quoted = "\"";  // a quote in a quoted value is doubled; there are no other escapes
    for (const char c : user) quoted.append(c == '"' ? 2 : 1, c);
    EXPECT_EQ(count, GrepCount(log, "Packet-Type = Access-Reject and User-Name = " + quoted + "\"", dir)) << user;
  }
  const std::map<std::string, long long> series = FactsOf(read.Csv, "series");
  EXPECT_EQ(series.at("requests"), types.at("1"));
  EXPECT_EQ(series.at("refusals"), types.at("3"));
  EXPECT_EQ(series.at("accounting"), types.at("4") + types.at("5"));
  EXPECT_EQ(series.at("other"), 0);

  const TResult text = RunCli("stats " + log + " --top 4 --interval 5m", dir);
  EXPECT_EQ(text.ExitCode, 0) << text.Err;
  EXPECT_EQ(text.Err, "");
  EXPECT_THAT(text.Out, ::testing::StartsWith("Records: 3000\n"));
  EXPECT_THAT(text.Out, HasSubstr("Traffic per 5m ("));
  const std::vector<std::string> rows = TableAfter(text.Out, "By Packet-Type");
  ASSERT_EQ(rows.size(), types.size() + 1);
  // Right-aligned counts: each ends where the heading "Count" ends.
  const size_t countEnd = rows[0].find("Count") + 5;
  for (size_t i = 1; i < rows.size(); ++i) {
    std::istringstream row(rows[i]);
    std::string code, name;
    long long count = 0;
    row >> code >> name >> count;
    EXPECT_EQ(count, types.at(code)) << rows[i];
    const std::string digits = std::to_string(count);
    EXPECT_EQ(rows[i].substr(countEnd - digits.size(), digits.size() + 1), digits + " ") << rows[i];
  }
  EXPECT_THAT(text.Out, Not(::testing::ContainsRegex("[0-9],[0-9][0-9][0-9]"))) << "no thousands separators";
}

// --where counts only the records the query matches; a set of two servers' logs counts every
// record of both.
TEST(CliStatsTest, WhereAndSetsCountTheRecordsGrepAndCountFind) {
  if (!std::filesystem::exists(kPython)) GTEST_SKIP() << "no " << kPython;
  TTempDir dir;
  const std::string a = Quote(Generate(dir, "a.log", "--seed 2 --records 700 --concurrency 10 --server NPS-A"));
  const std::string b = Quote(Generate(dir, "b.log", "--seed 8 --records 500 --concurrency 10 --server NPS-B"));
  const std::string refusals = "Packet-Type = Access-Reject";
  const TReadBack where = ReadBack(a, "--where " + Quote(refusals), dir);
  EXPECT_EQ(where.Csv, where.Json);
  EXPECT_EQ(FactsOf(where.Csv, "records").at(""), GrepCount(a, refusals, dir));
  EXPECT_EQ(FactsOf(where.Csv, "type"), (std::map<std::string, long long>{{"3", GrepCount(a, refusals, dir)}}));
  EXPECT_TRUE(FactsOf(where.Csv, "user").empty()) << "no request among the records";
  EXPECT_FALSE(FactsOf(where.Csv, "refused").empty()) << "refusals still have their requests' users";

  const TReadBack both = ReadBack(a + " " + b, "", dir);
  EXPECT_EQ(both.Csv, both.Json);
  const TResult count = RunCli("count " + a + " " + b, dir);
  EXPECT_EQ(FactsOf(both.Csv, "records").at(""), std::stoll(count.Out));
  for (const auto& [type, n] : FactsOf(both.Csv, "type"))
    EXPECT_EQ(n, GrepCount(a, "Packet-Type = " + type, dir) + GrepCount(b, "Packet-Type = " + type, dir)) << type;
}

// A 100 KB User-Name is counted whole in CSV and JSON; the text form shortens it to a line.
TEST(CliStatsTest, AHugeValueIsWholeForScriptsAndShortenedInTheText) {
  if (!std::filesystem::exists(kPython)) GTEST_SKIP() << "no " << kPython;
  TTempDir dir;
  using velloran::test::EventLine;
  const std::string huge(100 * 1024, 'x');
  const std::string log = Quote(
      dir.Write("huge.log", velloran::test::LogOf({
                                EventLine({{"Timestamp", "12/01/2026 10:00:00"}, {"User-Name", huge}, {"Packet-Type", "1"}}),
                                EventLine({{"Timestamp", "12/01/2026 10:00:01"}, {"User-Name", huge}, {"Packet-Type", "1"}}),
                                EventLine({{"Timestamp", "12/01/2026 10:00:02"}, {"User-Name", "bob"}, {"Packet-Type", "1"}}),
                            })));
  const TReadBack read = ReadBack(log, "", dir);
  EXPECT_EQ(read.Csv, read.Json);
  EXPECT_EQ(FactsOf(read.Csv, "user"), (std::map<std::string, long long>{{"102400", 2}, {"3", 1}}));
  const TResult text = RunCli("stats " + log, dir);
  EXPECT_EQ(text.ExitCode, 0);
  EXPECT_LT(text.Out.size(), size_t{10000});
  const std::vector<std::string> users = TableAfter(text.Out, "User-Name: 2 most frequent of 2 among requests");
  ASSERT_EQ(users.size(), 3u);
  EXPECT_THAT(users[1], ::testing::EndsWith("  " + huge.substr(0, 60) + "\u2026"));
  EXPECT_THAT(users[2], ::testing::EndsWith("  bob"));
}

TEST(CliStatsTest, ErrorsAreUsageOrNameTheFile) {
  TTempDir dir;
  const std::string log = Quote(dir.Write("a.log", velloran::test::LogOf({velloran::test::EventLine({{"Packet-Type", "1"}})})));
  const std::string missing = dir.File("missing.log");
  struct TCase {
    std::string Arguments;
    int ExitCode;
    std::string Message;  // found in standard error
  };
  const TCase cases[] = {
      {"stats " + log + " --interval 5x", 2, "--interval 5x"},
      {"stats " + log + " --interval 0", 2, "--interval 0"},
      {"stats " + log + " --interval 2d", 2, "--interval 2d"},
      {"stats " + log + " --where " + Quote("(a"), 2, "bad query"},
      {"stats " + log + " --format xml", 2, "--format"},
      {"stats " + log + " --top 0", 2, "--top"},
      {"stats " + Quote(missing), 1, missing + ": No such file or directory"},
      {"stats", 2, "FILE"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Arguments);
    const TResult result = RunCli(c.Arguments, dir);
    EXPECT_EQ(result.ExitCode, c.ExitCode);
    EXPECT_EQ(result.Out, "");
    EXPECT_THAT(result.Err, HasSubstr(c.Message));
  }
}

}  // namespace
