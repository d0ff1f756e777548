#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FileWatch.h"
#include "LogMonitor.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using namespace std::chrono_literals;
using test::TTempDir;

void Append(const std::string& APath, const std::string& ABytes) {
  std::FILE* file = std::fopen(APath.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  std::fwrite(ABytes.data(), 1, ABytes.size(), file);
  std::fclose(file);
}

// A watched monitor on a log of a fresh folder, its growth steps recorded; the test thread
// is the owner thread and runs the dispatcher's loop.
class LogGrowthTest : public ::testing::Test {
 protected:
  struct TStep {
    int Start;
    int Count;
  };

  void Open(const std::string& AContent) {
    FPath = FDir.Write("IN261209.log", AContent);
    FMonitor.SetDispatcher(FDispatcher);
    FMonitor.SetOnLogGrow([this](TrdlLogMonitor*, int AStart, int ACount) { FSteps.push_back({AStart, ACount}); });
    FMonitor.SetMonitorChanges(true);
    FMonitor.SetFileName(FPath);
    FMonitor.SetActive(true);
    ASSERT_TRUE(FMonitor.Active());
  }
  bool WaitForSteps(size_t ACount) {
    return FDispatcher->ProcessUntil([&] { return FSteps.size() >= ACount; }, 5s);
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (int i = 0; i < FMonitor.Count(); ++i) lines.push_back(FMonitor.Get(i));
    return lines;
  }

  TTempDir FDir;
  std::string FPath;
  std::shared_ptr<TLoopDispatcher> FDispatcher = std::make_shared<TLoopDispatcher>();
  std::vector<TStep> FSteps;  // declared before the monitor: its destructor may still report
  TrdlLogMonitor FMonitor;
};

TEST_F(LogGrowthTest, TwoAppendedLinesAreOneGrowthStep) {
  Open("a\r\nb\r\nc\r\n");
  Append(FPath, "d\r\ne\r\n");
  ASSERT_TRUE(WaitForSteps(1));
  FDispatcher->ProcessPending(300ms);  // a second signal of the same write may follow
  ASSERT_GE(FSteps.size(), 1u);
  EXPECT_EQ(FSteps[0].Start, 3);
  EXPECT_EQ(FSteps[0].Count, 2);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
}

TEST_F(LogGrowthTest, AnotherFileInTheFolderChangesNothing) {
  Open("a\r\n");
  FDir.Write("other.log", "x\r\n");
  Append(FDir.File("other.log"), "y\r\n");
  FDispatcher->ProcessUntil([&] { return !FSteps.empty(); }, 800ms);
  EXPECT_TRUE(FSteps.empty());
  EXPECT_EQ(FMonitor.Count(), 1);
}

TEST_F(LogGrowthTest, ALineWrittenInTwoPiecesStaysOneRecord) {
  Open("a\r\n<Event>first half");
  EXPECT_TRUE(FMonitor.LastLineOpen());
  Append(FPath, " second half</Event>\r\nnext\r\n");
  ASSERT_TRUE(FDispatcher->ProcessUntil([&] { return FMonitor.Count() == 3 && !FMonitor.LastLineOpen(); }, 5s));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "<Event>first half second half</Event>", "next"}));
  EXPECT_EQ(FSteps.back().Start, 1);  // the replaced line is reported again
}

TEST_F(LogGrowthTest, AnLfLogGrowsByLfLines) {
  Open("a\nb\n");
  EXPECT_EQ(FMonitor.LineBreak(), TrdlLineBreak::lbLF);
  Append(FPath, "\nc\nd");  // the break before c goes on in the new bytes; d is still open
  ASSERT_TRUE(FDispatcher->ProcessUntil([&] { return FMonitor.Count() == 4; }, 5s));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_TRUE(FMonitor.LastLineOpen());
}

TEST_F(LogGrowthTest, ASmallLogWhoseHeadGainsItsFirstCrIsIndexedAnew) {
  Open("a\nb\n");
  Append(FPath, "c\r\n");  // now the head holds a CR: the CR rules hold for the whole log
  ASSERT_TRUE(FDispatcher->ProcessUntil([&] { return FMonitor.LineBreak() == TrdlLineBreak::lbCR && !FSteps.empty(); }, 5s));
  EXPECT_EQ(Lines(), std::vector<std::string>{"a\nb\nc"});
  EXPECT_EQ(FSteps.back().Start, 0);
}

TEST_F(LogGrowthTest, ALogThatShrankIsIndexedAnewAsOneStepFromZero) {
  Open("a\r\nb\r\nc\r\n");
  FDir.Write("IN261209.log", "x\r\n");  // truncated and rewritten
  ASSERT_TRUE(FDispatcher->ProcessUntil([&] { return FMonitor.Count() == 1; }, 5s));
  EXPECT_EQ(Lines(), std::vector<std::string>{"x"});
  EXPECT_EQ(FSteps.back().Start, 0);
  EXPECT_EQ(FSteps.back().Count, 1);
  EXPECT_TRUE(FMonitor.IndexedAnew());
}

TEST_F(LogGrowthTest, ARotatedLogIsIndexedAnew) {
  Open("a\r\nb\r\n");
  const std::string rotated = FDir.Write("new.log", "n1\r\nn2\r\nn3\r\n");
  ASSERT_EQ(std::rename(rotated.c_str(), FPath.c_str()), 0);
  FMonitor.ForcedGrow();
  EXPECT_EQ(Lines(), (std::vector<std::string>{"n1", "n2", "n3"}));
  EXPECT_TRUE(FMonitor.IndexedAnew());
  Append(FPath, "n4\r\n");
  FMonitor.ForcedGrow();
  EXPECT_FALSE(FMonitor.IndexedAnew());  // an append adds lines
}

// Cut to nothing and written again, longer, before the next step: the same inode and a larger
// size look like growth; the changed head shows it is another log.
TEST_F(LogGrowthTest, ALogRewrittenInPlaceAndLongerIsIndexedAnew) {
  Open("a1\r\nb1\r\n");
  FMonitor.Freeze();
  FDir.Write("IN261209.log", "x1\r\ny1\r\nz1\r\n");  // truncates the same file
  FMonitor.Unfreeze();
  ASSERT_TRUE(FDispatcher->ProcessUntil([&] { return FMonitor.Count() == 3; }, 5s));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"x1", "y1", "z1"}));
  EXPECT_TRUE(FMonitor.IndexedAnew());
}

// A deleted log keeps serving the lines it had (its readers keep what they show); a log of
// the name written later is another file, indexed from its first line.
TEST_F(LogGrowthTest, ADeletedLogKeepsItsLinesUntilANewOneAppears) {
  Open("a\r\nb\r\n");
  ASSERT_EQ(std::remove(FPath.c_str()), 0);
  ASSERT_TRUE(FDispatcher->ProcessUntil([&] { return FMonitor.FileGone(); }, 5s));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(FSteps.back().Start, -1);
  FDir.Write("IN261209.log", "x\r\n");
  ASSERT_TRUE(FDispatcher->ProcessUntil([&] { return !FMonitor.FileGone() && FMonitor.Count() == 1; }, 5s));
  EXPECT_EQ(Lines(), std::vector<std::string>{"x"});
  EXPECT_TRUE(FMonitor.IndexedAnew());
}

TEST_F(LogGrowthTest, FreezeHoldsStepsAndUnfreezeRunsOne) {
  Open("a\r\n");
  FMonitor.Freeze();
  EXPECT_TRUE(FMonitor.IsFreezed());
  Append(FPath, "b\r\n");
  FDispatcher->ProcessPending(400ms);
  EXPECT_EQ(FMonitor.Count(), 1);
  FMonitor.Unfreeze();
  ASSERT_TRUE(FDispatcher->ProcessUntil([&] { return FMonitor.Count() == 2; }, 5s));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(LogGrowthTest, ForcedGrowIndexesWithoutASignalAndLeavesTheWatcherOff) {
  Open("a\r\n");
  Append(FPath, "b\r\n");
  FMonitor.ForcedGrow();
  EXPECT_EQ(FMonitor.Count(), 2);
  ASSERT_FALSE(FSteps.empty());
  EXPECT_EQ(FSteps.back().Start, 1);
  const size_t steps = FSteps.size();
  Append(FPath, "c\r\n");
  FDispatcher->ProcessPending(400ms);
  EXPECT_EQ(FSteps.size(), steps);  // the watcher is off
  EXPECT_EQ(FMonitor.Count(), 2);
}

TEST_F(LogGrowthTest, LinesWrittenBeforeTheWatcherStartsAreIndexedWhenItStarts) {
  Open("a\r\n");
  FMonitor.SetMonitorChanges(false);
  Append(FPath, "b\r\n");  // no watcher to see it
  FMonitor.SetMonitorChanges(true);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(LogGrowthTest, TheFlushTimerOpensTheLogPeriodicallyAndRetriesFailures) {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> messages;
  FMonitor.SetOnDebugLogMessage([&](void*, const std::string& AText) {  // also from the timer thread
    const std::lock_guard<std::mutex> guard(lock);
    messages.push_back(AText);
    changed.notify_all();
  });
  Open("a\r\n");
  const auto count = [&](const std::string& APrefix) {
    return std::count_if(messages.begin(), messages.end(),
                         [&](const std::string& AText) { return AText.rfind(APrefix, 0) == 0; });
  };
  FMonitor.SetFlushFileChangesDelayMS(50);
  {
    std::unique_lock<std::mutex> guard(lock);
    EXPECT_TRUE(changed.wait_for(guard, 5s, [&] { return count("DoFlushChanges: ") >= 2; }));
  }
  std::remove(FPath.c_str());  // opening fails now, and is tried again at every period
  {
    std::unique_lock<std::mutex> guard(lock);
    EXPECT_TRUE(changed.wait_for(guard, 5s, [&] { return count("DoFlushChanges error: ") >= 2; }));
  }
  FMonitor.SetFlushFileChangesDelayMS(0);
}

}  // namespace
}  // namespace velloran
