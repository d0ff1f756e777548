#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "EventLines.h"
#include "LogData.h"
#include "LogSetOrder.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::EventLine;
using test::LogOf;
using test::TTempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// --- the order alone -------------------------------------------------------------------------

// Every record of the order as "file:line", in set order.
std::vector<std::string> Walk(const TLogSetOrder& AOrder) {
  std::vector<std::string> places;
  for (int64_t record = 0; record < AOrder.Count(); ++record) {
    const TLogSetOrder::TPlace place = AOrder.Locate(record);
    places.push_back(std::to_string(place.Part) + ":" + std::to_string(place.Local));
  }
  return places;
}

TEST(LogSetOrderTest, ConcatenationNumbersFilesOneAfterAnother) {
  const TLogSetOrder order = TLogSetOrder::Concatenated({2, 0, 3});
  EXPECT_EQ(order.Count(), 5);
  EXPECT_THAT(Walk(order), ElementsAre("0:0", "0:1", "2:0", "2:1", "2:2"));
  EXPECT_EQ(order.Locate(7).Part, 2) << "records past the count belong to the growing last file";
  EXPECT_EQ(order.LocalBefore(2, 4), 2);
  EXPECT_EQ(order.LocalBefore(0, 4), 2);
  EXPECT_THAT(order.ToSet({{1}, {}, {0, 2}}), ElementsAre(1, 2, 4));
}

TEST(LogSetOrderTest, MergeIsStableAndMatchesASortedReference) {
  // Keys per file; equal keys across files keep the files' order, a file's own records never
  // move even when its keys go backwards.
  const std::vector<std::vector<int64_t>> keys = {{1, 3, 3, 9}, {}, {0, 3, 4}, {3, 2, 10}};
  std::vector<int64_t> counts;
  for (const auto& file : keys) counts.push_back(static_cast<int64_t>(file.size()));
  TLogSetOrder order;
  ASSERT_TRUE(TLogSetOrder::Merged(
      counts, [&](int APart, int64_t ALine) { return keys[static_cast<size_t>(APart)][static_cast<size_t>(ALine)]; }, order));
  EXPECT_THAT(Walk(order), ElementsAre("2:0", "0:0", "0:1", "0:2", "2:1", "3:0", "3:1", "2:2", "0:3", "3:2"));
  EXPECT_THAT(order.ToSet({{0, 3}, {}, {1}, {2}}), ElementsAre(1, 4, 8, 9));
  EXPECT_EQ(order.LocalBefore(0, 4), 3);
  EXPECT_LE(order.ExtraBytes(), static_cast<size_t>(4 * order.Count()) + 64);
}

TEST(LogSetOrderTest, ManyFilesLocateAndMapBackExactly) {
  // More files than a checkpoint spacing of 1024 records covers at 1 byte per record: the
  // spacing grows, and every record is still found.
  std::mt19937 random(11);
  const int files = 600;
  std::vector<std::vector<int64_t>> keys(files);
  for (auto& file : keys) {
    int64_t key = 0;
    file.resize(random() % 12);
    for (int64_t& k : file) k = key += static_cast<int64_t>(random() % 50);
  }
  std::vector<int64_t> counts;
  for (const auto& file : keys) counts.push_back(static_cast<int64_t>(file.size()));
  TLogSetOrder order;
  ASSERT_TRUE(TLogSetOrder::Merged(
      counts, [&](int APart, int64_t ALine) { return keys[static_cast<size_t>(APart)][static_cast<size_t>(ALine)]; }, order));
  std::vector<std::tuple<int64_t, int, int64_t>> reference;
  for (int file = 0; file < files; ++file) {
    for (size_t line = 0; line < keys[static_cast<size_t>(file)].size(); ++line)
      reference.emplace_back(keys[static_cast<size_t>(file)][line], file, static_cast<int64_t>(line));
  }
  std::sort(reference.begin(), reference.end());
  ASSERT_EQ(order.Count(), static_cast<int64_t>(reference.size()));
  std::vector<std::vector<uint32_t>> everyLine(files);
  for (int64_t record = 0; record < order.Count(); ++record) {
    const auto [key, file, line] = reference[static_cast<size_t>(record)];
    const TLogSetOrder::TPlace place = order.Locate(record);
    ASSERT_EQ(place.Part, file) << record;
    ASSERT_EQ(place.Local, line) << record;
    everyLine[static_cast<size_t>(file)].push_back(static_cast<uint32_t>(line));
  }
  const std::vector<uint32_t> all = order.ToSet(everyLine);
  ASSERT_EQ(static_cast<int64_t>(all.size()), order.Count());
  for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], i);
  EXPECT_LE(order.ExtraBytes(), static_cast<size_t>(4 * order.Count()) + 4 * files);
}

// ToParts undoes ToSet: every subset of the records, split by file, maps back to itself, on
// concatenations with empty files and on merges; a file's lines agree with Locate.
TEST(LogSetOrderTest, ToPartsIsTheInverseOfToSet) {
  std::mt19937 random(17);
  std::vector<TLogSetOrder> orders = {TLogSetOrder::Concatenated({3, 0, 0, 4, 1}), TLogSetOrder::Concatenated({5}),
                                      TLogSetOrder::Concatenated({0, 2})};
  for (const size_t files : {size_t{2}, size_t{5}, size_t{300}}) {
    std::vector<std::vector<int64_t>> keys(files);
    for (auto& file : keys) {
      int64_t key = 0;
      file.resize(random() % 3000 / files + (files > 2 ? 0 : 1500));
      for (int64_t& k : file) k = key += static_cast<int64_t>(random() % 20);
    }
    std::vector<int64_t> counts;
    for (const auto& file : keys) counts.push_back(static_cast<int64_t>(file.size()));
    TLogSetOrder merged;
    ASSERT_TRUE(TLogSetOrder::Merged(
        counts, [&](int APart, int64_t ALine) { return keys[static_cast<size_t>(APart)][static_cast<size_t>(ALine)]; }, merged));
    orders.push_back(std::move(merged));
  }
  for (const TLogSetOrder& order : orders) {
    SCOPED_TRACE(std::to_string(order.Parts()) + (order.IsMerged() ? " files merged" : " files one after another"));
    for (const int keep : {0, 1, 3, 10}) {  // of 10 records: none, a few, a third, all
      std::vector<uint32_t> set;
      for (int64_t record = 0; record < order.Count(); ++record) {
        if (static_cast<int>(random() % 10) < keep) set.push_back(static_cast<uint32_t>(record));
      }
      const std::vector<std::vector<uint32_t>> byPart = order.ToParts(set);
      ASSERT_EQ(byPart.size(), static_cast<size_t>(order.Parts()));
      EXPECT_EQ(order.ToSet(byPart), set) << keep;
      std::vector<size_t> next(byPart.size(), 0);
      for (const uint32_t record : set) {
        const TLogSetOrder::TPlace place = order.Locate(record);
        const auto& lines = byPart[static_cast<size_t>(place.Part)];
        ASSERT_LT(next[static_cast<size_t>(place.Part)], lines.size()) << record;
        EXPECT_EQ(lines[next[static_cast<size_t>(place.Part)]++], place.Local) << record;
      }
    }
  }
  // One file, no order: the numbers are the file's own.
  EXPECT_THAT(TLogSetOrder().ToParts({0, 4, 9}), ElementsAre(ElementsAre(0, 4, 9)));
}

// --- sets of files ---------------------------------------------------------------------------

std::string Event(std::string_view ATime, std::string_view AServer, std::string_view ATag) {
  test::TAttributes attributes;
  if (!ATime.empty()) attributes.emplace_back("Timestamp", std::string(ATime));
  if (!AServer.empty()) attributes.emplace_back("Computer-Name", std::string(AServer));
  attributes.emplace_back("Tag", std::string(ATag));
  return EventLine(attributes);
}

class LogSetTest : public ::testing::Test {
 protected:
  // The Tag of every record with its file's name, in set order.
  std::vector<std::string> Tags() {
    std::vector<std::string> tags;
    TrdlDataRow row;
    for (int64_t record = 0; record < FData.Count(); ++record) {
      EXPECT_TRUE(FData.ParseRecord(record, row));
      const std::string& file = FData.FileNameOf(FData.FileOfRecord(record));
      tags.push_back(file.substr(file.find_last_of('/') + 1) + ":" + row.ValueByName("Tag"));
    }
    return tags;
  }

  TTempDir FDir;
  TData FData;
};

TEST_F(LogSetTest, OneServersDailyFilesReadOneAfterAnotherInTimeOrder) {
  const std::string day2 = FDir.Write("IN261202.log", LogOf({Event("12/02/2026 00:00:05", "NPS1", "c")}));
  const std::string empty = FDir.Write("IN261203.log", "");
  // A last line without its line break is still the day's last record.
  const std::string day1 =
      FDir.Write("IN261201.log", LogOf({Event("12/01/2026 08:00:00", "NPS1", "a")}) + Event("12/01/2026 23:59:59", "NPS1", "b"));
  FData.OpenSet({day2, empty, day1});
  EXPECT_FALSE(FData.IsMerged());
  EXPECT_THAT(Tags(), ElementsAre("IN261201.log:a", "IN261201.log:b", "IN261202.log:c"));
  EXPECT_EQ(FData.FileCount(), 3);
  EXPECT_EQ(FData.FileName(), day1);
  EXPECT_EQ(FData.ServerOf(0), "NPS1");
  EXPECT_TRUE(FData.Notices().empty());
  EXPECT_EQ(FData.ServerGroupOf(0), FData.ServerGroupOf(2)) << "one server: exchanges may cross midnight";
}

TEST_F(LogSetTest, SeveralServersMergeByTimeKeepingEachFilesOrderForEqualTimes) {
  const std::string a =
      FDir.Write("a.log", LogOf({Event("12/01/2026 10:00:00", "NPS1", "a1"), Event("12/01/2026 10:00:02", "NPS1", "a2"),
                                 Event("12/01/2026 10:00:02", "NPS1", "a3"), Event("", "NPS1", "a4-no-time"),  // stays after a3
                                 Event("12/01/2026 10:00:09", "NPS1", "a5")}));
  const std::string b =
      FDir.Write("b.log", LogOf({Event("12/01/2026 10:00:01", "NPS2", "b1"), Event("12/01/2026 10:00:02", "NPS2", "b2"),
                                 Event("12/01/2026 10:00:03", "NPS2", "b3")}));
  FData.OpenSet({b, a});
  EXPECT_TRUE(FData.IsMerged());
  EXPECT_THAT(Tags(), ElementsAre("a.log:a1", "b.log:b1", "a.log:a2", "a.log:a3", "a.log:a4-no-time", "b.log:b2", "b.log:b3",
                                  "a.log:a5"));
  EXPECT_NE(FData.ServerGroupOf(0), FData.ServerGroupOf(1));
  EXPECT_THAT(FData.Notices(), ElementsAre(HasSubstr("as they stand")));
}

TEST_F(LogSetTest, StatedZonesPutServersOfDifferentZonesInTrueOrder) {
  // 10:30 in Berlin (+01:00 in December) is 09:30 UTC, before London's 10:00.
  const std::string berlin = FDir.Write("berlin.log", LogOf({Event("12/01/2026 10:30:00", "NPS-DE", "de")}));
  const std::string london = FDir.Write("london.log", LogOf({Event("12/01/2026 10:00:00", "NPS-UK", "uk")}));
  for (const std::string zone : {"+01:00", "UTC+1", "Europe/Berlin"}) {
    FData.OpenSet({london, berlin}, TLogSetOptions{TLogSetMerge::lsmAuto, {{berlin, zone}, {london, "UTC"}}});
    EXPECT_THAT(Tags(), ElementsAre("berlin.log:de", "london.log:uk")) << zone;
    EXPECT_TRUE(FData.Notices().empty()) << zone;
  }
  FData.OpenSet({london, berlin});
  EXPECT_THAT(Tags(), ElementsAre("london.log:uk", "berlin.log:de")) << "without zones, times as they stand";
  EXPECT_THROW(FData.OpenSet({london, berlin}, TLogSetOptions{TLogSetMerge::lsmAuto, {{berlin, "Mars/Olympus"}}}), ELogSetError);
}

TEST_F(LogSetTest, MergeChoiceAndOverlapsOfOneServer) {
  const std::string one =
      FDir.Write("IN2612a.log", LogOf({Event("12/01/2026 10:00:00", "NPS1", "1"), Event("12/01/2026 12:00:00", "NPS1", "3")}));
  const std::string two =
      FDir.Write("IN2612b.log", LogOf({Event("12/01/2026 11:00:00", "NPS1", "2"), Event("12/01/2026 13:00:00", "NPS1", "4")}));
  FData.OpenSet({one, two});
  EXPECT_TRUE(FData.IsMerged()) << "overlapping files of one server are merged, nothing lost";
  EXPECT_THAT(Tags(), ElementsAre("IN2612a.log:1", "IN2612b.log:2", "IN2612a.log:3", "IN2612b.log:4"));
  EXPECT_THAT(FData.Notices(), ElementsAre(HasSubstr("overlap in time")));
  FData.OpenSet({one, two}, TLogSetOptions{TLogSetMerge::lsmConcat, {}});
  EXPECT_THAT(Tags(), ElementsAre("IN2612a.log:1", "IN2612a.log:3", "IN2612b.log:2", "IN2612b.log:4"));
}

TEST_F(LogSetTest, ServersWithoutTimestampsFollowInFileOrder) {
  const std::string timed = FDir.Write("t.log", LogOf({Event("12/01/2026 10:00:00", "NPS1", "t1")}));
  const std::string untimed = FDir.Write("u.log", LogOf({Event("", "NPS2", "u1"), Event("", "NPS2", "u2")}));
  FData.OpenSet({untimed, timed});
  EXPECT_THAT(Tags(), ElementsAre("t.log:t1", "u.log:u1", "u.log:u2"));
  EXPECT_THAT(FData.Notices(), testing::Contains(HasSubstr("u.log holds no Timestamp")));
}

TEST_F(LogSetTest, BadMembersAreSkippedWithANoticeNamingThem) {
  const std::string log = FDir.Write("IN261201.log", LogOf({Event("12/01/2026 10:00:00", "NPS1", "a")}));
  const std::string text = FDir.Write("notes.log", "just some notes\nnothing else\n");
  FData.OpenSet({log, text, FDir.File("gone.log"), FDir.Path().string() + "/./IN261201.log"});
  EXPECT_THAT(Tags(), ElementsAre("IN261201.log:a"));
  EXPECT_THAT(FData.Notices(), ElementsAre(HasSubstr("IN261201.log is listed more than once"), HasSubstr("Skipped notes.log"),
                                           HasSubstr("Skipped gone.log")));
  EXPECT_THROW(FData.OpenSet({text, FDir.File("gone.log")}), ErdlLogMonitorError);
  EXPECT_EQ(FData.Count(), 0);
}

TEST_F(LogSetTest, ANewerFileOfTheServerJoinsTheEnd) {
  const std::string day1 = FDir.Write("IN261201.log", LogOf({Event("12/01/2026 10:00:00", "NPS1", "a")}));
  const std::string day2 = FDir.Write("IN261202.log", LogOf({Event("12/02/2026 10:00:00", "NPS1", "b")}));
  FData.Open(day1);
  ASSERT_TRUE(FData.AppendFile(day2));
  EXPECT_THAT(Tags(), ElementsAre("IN261201.log:a", "IN261202.log:b"));
  EXPECT_EQ(&FData.LogMonitor(), &FData.MonitorOf(1)) << "the newest file is the one that grows";
  FData.Open(day2);
  EXPECT_THAT(Tags(), ElementsAre("IN261202.log:b")) << "one log again";
}

}  // namespace
}  // namespace velloran
