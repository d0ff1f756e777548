#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ValueCounts.h"

namespace velloran {
namespace {

using TPairs = std::vector<std::pair<std::string, int64_t>>;

TPairs PairsOf(const std::vector<TValueCount>& AValues) {
  TPairs pairs;
  for (const TValueCount& value : AValues) pairs.emplace_back(value.Value, value.Count);
  return pairs;
}

// Equal counts come out by their bytes, unsigned ("é" after "z"), the same however the
// values were added; a list cut at N keeps the best N.
TEST(ValueCountsTest, TopBreaksTiesByTheValuesBytes) {
  const TPairs added = {{"zulu", 2}, {"\xC3\xA9t\xC3\xA9", 2}, {"alpha", 2}, {"Zulu", 2}, {"mike", 5}, {"", 2}, {"bravo", 1}};
  const TPairs best = {{"mike", 5}, {"", 2}, {"Zulu", 2}, {"alpha", 2}, {"zulu", 2}, {"\xC3\xA9t\xC3\xA9", 2}, {"bravo", 1}};
  for (const bool reversed : {false, true}) {
    TValueCounts counts;
    for (size_t i = 0; i < added.size(); ++i) {
      const auto& [value, count] = added[reversed ? added.size() - 1 - i : i];
      for (int64_t n = 0; n < count; ++n) counts.Add(value);
    }
    EXPECT_EQ(PairsOf(counts.Top(100)), best);
    EXPECT_EQ(PairsOf(counts.Top(3)), TPairs(best.begin(), best.begin() + 3));
    EXPECT_TRUE(counts.Top(0).empty());
    EXPECT_EQ(counts.Distinct(), 7);
  }
  TValueCounts none;
  EXPECT_TRUE(none.Top(10).empty());
  EXPECT_EQ(none.Distinct(), 0);
}

// A value is its decoded text: every spelling of it is counted as one, with the plain one
// when there is one; a malformed reference is text as written.
TEST(ValueCountsTest, SpellingsThatDecodeAlikeAreOneValue) {
  TValueCounts counts;
  counts.Add("A&amp;B", 2);
  counts.Add("A&#38;B");
  counts.Add("A&#x26;B");
  counts.Add("Caf&#233;");
  counts.Add("Caf\xC3\xA9", 3);
  counts.Add("x&lt;y");
  counts.Add("&bogus;");
  counts.Add("plain", 4);
  EXPECT_EQ(PairsOf(counts.Top(10)), (TPairs{{"A&B", 4}, {"Caf\xC3\xA9", 4}, {"plain", 4}, {"&bogus;", 1}, {"x<y", 1}}));
  EXPECT_EQ(counts.Distinct(), 5);
  // A cut list ranks merged counts, not the spellings' own.
  EXPECT_EQ(PairsOf(counts.Top(1)), (TPairs{{"A&B", 4}}));
}

// Many distinct values added from several threads at once, a long one among them: every count
// exact.
TEST(ValueCountsTest, CountsOfManyValuesFromSeveralThreadsAreExact) {
  constexpr int kValues = 200000;
  constexpr int kThreads = 4;
  // Value i is added (i % 5) + 1 times in all, spread over the threads.
  const auto name = [](int AValue) { return "CORP\\u" + std::to_string(AValue); };
  TValueCounts counts;
  const std::string longValue(100 * 1024, 'L');
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kValues; ++i) {
          for (int n = 0; n <= i % 5; ++n) {
            if ((i + n) % kThreads == t) counts.Add(name(i));
          }
        }
        counts.Add(longValue, 3);
      });
    }
  }
  EXPECT_EQ(counts.Distinct(), kValues + 1);
  const std::vector<TValueCount> all = counts.Top(kValues + 10);
  ASSERT_EQ(all.size(), static_cast<size_t>(kValues + 1));
  std::map<std::string, int64_t> found;
  for (const TValueCount& value : all) found[value.Value] = value.Count;
  EXPECT_EQ(found.at(longValue), 3 * kThreads);
  for (int i = 0; i < kValues; ++i) ASSERT_EQ(found.at(name(i)), i % 5 + 1) << name(i);
  // The best: the long value, then the first of those added five times by their bytes.
  EXPECT_EQ(PairsOf(counts.Top(4)), (TPairs{{longValue, 12}, {name(100004), 5}, {name(100009), 5}, {name(100014), 5}}));
}

}  // namespace
}  // namespace velloran
