#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FileWatch.h"
#include "PeriodicTimer.h"
#include "PlatformNotify.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using namespace std::chrono_literals;
using test::TTempDir;
using TClock = std::chrono::steady_clock;

// Generous: the checks end as soon as the awaited thing happens.
constexpr auto kDeadline = 5s;

void Append(const std::string& APath, const std::string& ABytes) {
  std::ofstream out(APath, std::ios::binary | std::ios::app);
  out << ABytes;
}

// A count that another thread raises and the test waits for.
class TCounter {
 public:
  void Raise() {
    std::lock_guard lock(FLock);
    ++FValue;
    FChanged.notify_all();
  }
  int Value() {
    std::lock_guard lock(FLock);
    return FValue;
  }
  bool WaitFor(int AValue, std::chrono::milliseconds ATimeout = kDeadline) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, ATimeout, [&] { return FValue >= AValue; });
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  int FValue = 0;
};

// The test thread's loop, with the hand-overs that reach it counted. With the gate closed,
// hand-overs are held back before they reach the loop, as if the owner thread were busy.
class TProbeDispatcher : public TDispatcher {
 public:
  void RunOnOwnerThread(std::function<void()> AWork) override {
    {
      std::unique_lock lock(FLock);
      ++FEntered;
      FChanged.notify_all();
      FChanged.wait(lock, [&] { return !FGateClosed; });
    }
    FLoop.RunOnOwnerThread(std::move(AWork));
    std::lock_guard lock(FLock);
    ++FLeft;
    FChanged.notify_all();
  }
  void ProcessPending(std::chrono::milliseconds AMaxWait) override { FLoop.ProcessPending(AMaxWait); }
  bool ProcessUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout = kDeadline) {
    return FLoop.ProcessUntil(APredicate, ATimeout);
  }

  void SetGateClosed(bool AValue) {
    std::lock_guard lock(FLock);
    FGateClosed = AValue;
    FChanged.notify_all();
  }
  // Waits until ACount hand-overs have begun (or, with ALeft, have returned).
  bool WaitForHandOvers(int ACount, bool ALeft = false) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, kDeadline, [&] { return (ALeft ? FLeft : FEntered) >= ACount; });
  }
  int Entered() {
    std::lock_guard lock(FLock);
    return FEntered;
  }
  int Left() {
    std::lock_guard lock(FLock);
    return FLeft;
  }

 private:
  TLoopDispatcher FLoop;
  std::mutex FLock;
  std::condition_variable FChanged;
  int FEntered = 0;
  int FLeft = 0;
  bool FGateClosed = false;
};

// ---------------------------------------------------------------------------------------------
// The dispatcher

TEST(DispatcherTest, HandsWorkToTheOwnerThreadAndWaitsForIt) {
  TLoopDispatcher dispatcher;
  const auto owner = std::this_thread::get_id();
  std::thread::id ranOn;
  bool ranBeforeReturn = false;
  std::thread worker([&] {
    bool ran = false;
    dispatcher.RunOnOwnerThread([&] {
      ranOn = std::this_thread::get_id();
      ran = true;
    });
    ranBeforeReturn = ran;
  });
  EXPECT_TRUE(dispatcher.ProcessUntil([&] { return ranOn != std::thread::id(); }, kDeadline));
  worker.join();
  EXPECT_EQ(ranOn, owner);
  EXPECT_TRUE(ranBeforeReturn);

  // On the owner thread itself the work runs at once, without a loop.
  bool direct = false;
  dispatcher.RunOnOwnerThread([&] { direct = true; });
  EXPECT_TRUE(direct);
}

TEST(DispatcherTest, FailureReachesTheOwnerAndReleasesTheCaller) {
  TLoopDispatcher dispatcher;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    dispatcher.RunOnOwnerThread([] { throw std::runtime_error("handler failed"); });
    returned = true;
  });
  std::string failure;
  const auto deadline = TClock::now() + kDeadline;
  while (failure.empty() && TClock::now() < deadline) {
    try {
      dispatcher.ProcessPending(100ms);
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
  }
  worker.join();
  EXPECT_EQ(failure, "handler failed");
  EXPECT_TRUE(returned);
}

// A timer's handler runs on the timer thread; work it hands over runs on the owner thread.
TEST(DispatcherTest, TimerHandlerHandsItsWorkOver) {
  TLoopDispatcher dispatcher;
  std::vector<std::thread::id> handlerThreads;
  std::vector<std::thread::id> workThreads;
  TrclTimer timer;
  timer.SetInterval(10);
  timer.SetOnTimer([&](TrclTimer*) {
    const auto handlerThread = std::this_thread::get_id();
    dispatcher.RunOnOwnerThread([&, handlerThread] {
      handlerThreads.push_back(handlerThread);
      workThreads.push_back(std::this_thread::get_id());
    });
  });
  timer.SetEnabled(true);
  ASSERT_TRUE(dispatcher.ProcessUntil([&] { return workThreads.size() >= 2; }, kDeadline));
  // Not from the owner thread: the handler may be waiting for the owner, which therefore
  // goes on running handed-over work while the timer stops.
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    timer.SetEnabled(false);
    stopped = true;
  });
  EXPECT_TRUE(dispatcher.ProcessUntil([&] { return stopped.load(); }, kDeadline));
  stopper.join();
  for (const auto id : handlerThreads) EXPECT_NE(id, std::this_thread::get_id());
  for (const auto id : workThreads) EXPECT_EQ(id, std::this_thread::get_id());
}

// ---------------------------------------------------------------------------------------------
// The watchers

// Exposes the protected start and stop of a folder watcher, and counts every notification
// that reaches the file filter.
class TTestFolderNotificator : public TFolderNotificator {
 public:
  using TFolderNotificator::Start;
  using TFolderNotificator::Stop;
  using TFolderNotificator::TFolderNotificator;
};

class TCountingFileNotificator : public TFileNotificator {
 public:
  using TFileNotificator::TFileNotificator;
  int Arrived = 0;  // owner thread only

 protected:
  void DoFileNotification(TFileNotificationOption AAction) override {
    ++Arrived;
    TFileNotificator::DoFileNotification(AAction);
  }
};

class FileNotifyTest : public ::testing::Test {
 protected:
  FileNotifyTest() {
    FLog = FDir.Write("log.log", "line 1\r\n");
    FWatcher = std::make_unique<TCountingFileNotificator>(FDispatcher);
    FWatcher->SetOnFileNotification([this](TFolderNotificator*, TFileNotificationOption AAction) {
      EXPECT_EQ(std::this_thread::get_id(), FOwnerThread);
      FActions.push_back(AAction);
    });
  }

  bool WaitForActions(size_t ACount) {
    return FDispatcher->ProcessUntil([&] { return FActions.size() >= ACount; });
  }
  // Runs the loop for a while in which nothing should arrive: longer than the watcher's
  // 250 ms wake-up, so that a watcher that still ran would deliver.
  void ProcessQuietly() {
    FDispatcher->ProcessUntil([] { return false; }, 400ms);
  }

  TTempDir FDir;
  std::string FLog;
  std::shared_ptr<TProbeDispatcher> FDispatcher = std::make_shared<TProbeDispatcher>();
  std::unique_ptr<TCountingFileNotificator> FWatcher;
  std::vector<TFileNotificationOption> FActions;
  const std::thread::id FOwnerThread = std::this_thread::get_id();
};

TEST_F(FileNotifyTest, ChangeOfTheWatchedFileNotifiesOnTheOwnerThread) {
  struct TCase {
    const char* Name;
    TFileNotificationOptions Options;
    bool FileExists;  // when the watcher records it
    std::function<void(const std::string&)> Change;
    TFileNotificationOption Action;
  };
  const TCase cases[] = {
      {"append", FileNotificationSet({foFile, foSize}), true, [](const std::string& p) { Append(p, "line 2\r\n"); }, foSize},
      {"write time", FileNotificationSet({foTime}), true,
       [](const std::string& p) {
         const utimbuf times{1000000000, 1000000000};
         ::utime(p.c_str(), &times);
       },
       foTime},
      {"made read-only", FileNotificationSet({foAttributes}), true, [](const std::string& p) { ::chmod(p.c_str(), 0444); },
       foAttributes},
      {"deleted", FileNotificationSet({foFile, foSize}), true, [](const std::string& p) { std::filesystem::remove(p); }, foFile},
      {"created", FileNotificationSet({foFile}), false, [](const std::string& p) { Append(p, "x"); }, foFile},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = FDir.File(std::string(c.Name) + ".log");
    if (c.FileExists) Append(path, "line 1\r\n");
    FActions.clear();
    FWatcher->SetActive(false);
    FWatcher->SetOptions(c.Options);
    FWatcher->SetFileName(path);
    FWatcher->SetActive(true);
    c.Change(path);
    ASSERT_TRUE(WaitForActions(1));
    EXPECT_EQ(FActions[0], c.Action);
  }
}

TEST_F(FileNotifyTest, ChangeOfAnotherFileInTheFolderChangesNothing) {
  FWatcher->SetOptions(FileNotificationSet({foFile, foAttributes, foSize, foTime}));
  FWatcher->SetFileName(FLog);
  FWatcher->SetActive(true);
  const std::string other = FDir.Write("other.log", "a\r\n");
  Append(other, "b\r\n");
  ::chmod(other.c_str(), 0444);
  // The other file's changes reached the filter and were dropped there.
  ASSERT_TRUE(FDispatcher->ProcessUntil([&] { return FWatcher->Arrived >= 1; }));
  EXPECT_TRUE(FActions.empty());
  // The watcher still works: the log's own change passes.
  Append(FLog, "line 2\r\n");
  ASSERT_TRUE(WaitForActions(1));
}

TEST_F(FileNotifyTest, ReconfiguringAnActiveWatcherWatchesAnew) {
  TTempDir otherDir;
  const std::string otherLog = otherDir.Write("moved.log", "line 1\r\n");
  FWatcher->SetOptions(FileNotificationSet({foFile, foSize}));
  FWatcher->SetFileName(FLog);
  FWatcher->SetActive(true);

  // New options: a change that only the new options cover must be seen.
  FWatcher->SetOptions(FileNotificationSet({foAttributes}));
  ::chmod(FLog.c_str(), 0444);
  ASSERT_TRUE(WaitForActions(1));
  EXPECT_EQ(FActions.back(), foAttributes);

  // A file in another folder: the thread must watch that folder now.
  FWatcher->SetOptions(FileNotificationSet({foSize}));
  FWatcher->SetFileName(otherLog);
  EXPECT_TRUE(FWatcher->Active());
  EXPECT_EQ(FWatcher->Folder(), otherDir.Path().string());
  Append(otherLog, "line 2\r\n");
  ASSERT_TRUE(WaitForActions(2));
  EXPECT_EQ(FActions.back(), foSize);
}

TEST_F(FileNotifyTest, ForcedNotificationComesAtTheNextWakeUp) {
  struct TCase {
    const char* Name;
    std::string Folder;
    std::string ErrorText;  // empty: every handle could be built
  };
  const TCase cases[] = {
      {"watched folder", FDir.Path().string(), ""},
      {"folder that does not exist", FDir.File("missing"), "Could not allocate notification object\r\nNo such file or directory"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TTestFolderNotificator watcher(FDispatcher);
    std::vector<TFileNotificationOption> actions;
    watcher.SetOnFileNotification([&](TFolderNotificator*, TFileNotificationOption AAction) { actions.push_back(AAction); });
    watcher.SetOptions(FileNotificationSet({foFile, foSize}));
    watcher.SetFolder(c.Folder);
    watcher.Start();
    EXPECT_EQ(watcher.LastErrorText(), c.ErrorText);
    watcher.SetForcedCallNotification(true);
    ASSERT_TRUE(FDispatcher->ProcessUntil([&] { return !actions.empty(); }));
    EXPECT_EQ(actions, std::vector<TFileNotificationOption>{foNone});
    EXPECT_FALSE(watcher.ForcedCallNotification());
    watcher.Stop();
  }
}

TEST_F(FileNotifyTest, SubfoldersAreWatchedOnlyWhenAsked) {
  std::filesystem::create_directory(FDir.Path() / "sub");
  const std::string inner = FDir.Write("sub/inner.log", "a\r\n");
  for (const bool subtree : {true, false}) {
    SCOPED_TRACE(subtree ? "subtree" : "folder only");
    TTestFolderNotificator watcher(FDispatcher);
    std::vector<TFileNotificationOption> actions;
    watcher.SetOnFileNotification([&](TFolderNotificator*, TFileNotificationOption AAction) { actions.push_back(AAction); });
    watcher.SetOptions(subtree ? FileNotificationSet({foSize, foWatchSubFolders}) : FileNotificationSet({foSize}));
    watcher.SetFolder(FDir.Path().string());
    watcher.Start();
    Append(inner, "b\r\n");
    if (subtree) {
      EXPECT_TRUE(FDispatcher->ProcessUntil([&] { return !actions.empty(); }));
    } else {
      ProcessQuietly();
      EXPECT_TRUE(actions.empty());
      // The watcher was awake all the while: its own folder's change comes through.
      Append(FLog, "line 2\r\n");
      EXPECT_TRUE(FDispatcher->ProcessUntil([&] { return !actions.empty(); }));
    }
    watcher.Stop();
  }
}

TEST_F(FileNotifyTest, NotificationWaitsForTheIntervalAndStopCutsItShort) {
  FWatcher->SetOptions(FileNotificationSet({foSize}));
  FWatcher->SetFileName(FLog);
  FWatcher->SetNotifyInterval(1);
  FWatcher->SetActive(true);
  auto changed = TClock::now();
  Append(FLog, "line 2\r\n");
  ASSERT_TRUE(WaitForActions(1));
  EXPECT_GE(TClock::now() - changed, 900ms);

  // A change, and the watcher stops while it waits out the interval.
  const int entered = FDispatcher->Entered();
  Append(FLog, "line 3\r\n");
  FDispatcher->ProcessUntil([] { return false; }, 300ms);
  const auto stopping = TClock::now();
  FWatcher->SetActive(false);
  EXPECT_LT(TClock::now() - stopping, 500ms);
  EXPECT_EQ(FActions.size(), 1u);
  // The thread ended with its end notification, not with a delivery.
  EXPECT_EQ(FDispatcher->Entered(), entered + 1);
}

// ---------------------------------------------------------------------------------------------
// Stopping, and threads that outlive the stop

TEST_F(FileNotifyTest, StopIsSynchronousAndDeliversNothingAfterwards) {
  FWatcher->SetOptions(FileNotificationSet({foSize}));
  FWatcher->SetFileName(FLog);
  FWatcher->SetActive(true);
  // A notification is on its way to the owner thread when the watcher stops.
  Append(FLog, "line 2\r\n");
  ASSERT_TRUE(FDispatcher->WaitForHandOvers(1));
  FWatcher->SetActive(false);
  // Stop ran the queued hand-over without delivering it, then the thread's end.
  EXPECT_TRUE(FDispatcher->WaitForHandOvers(2, true));
  Append(FLog, "line 3\r\n");
  ProcessQuietly();
  EXPECT_TRUE(FActions.empty());
  EXPECT_EQ(FWatcher->Arrived, 0);
  EXPECT_EQ(FDispatcher->Entered(), 2);
}

TEST_F(FileNotifyTest, StopFromInsideTheNotificationReturnsAtOnce) {
  FWatcher->SetOptions(FileNotificationSet({foSize}));
  FWatcher->SetFileName(FLog);
  std::chrono::nanoseconds stopTook{};
  FWatcher->SetOnFileNotification([&](TFolderNotificator*, TFileNotificationOption AAction) {
    FActions.push_back(AAction);
    const auto start = TClock::now();
    FWatcher->SetActive(false);  // the thread waits for this very call to return
    stopTook = TClock::now() - start;
  });
  FWatcher->SetActive(true);
  Append(FLog, "line 2\r\n");
  ASSERT_TRUE(WaitForActions(1));
  EXPECT_LT(stopTook, 300ms);
  // The detached thread still ends, and hands nothing more to the callback.
  EXPECT_TRUE(FDispatcher->ProcessUntil([&] { return FDispatcher->Left() >= 2; }));
  Append(FLog, "line 3\r\n");
  ProcessQuietly();
  EXPECT_EQ(FActions.size(), 1u);
}

// The owner thread is busy elsewhere while the watcher is freed: the thread, held inside its
// hand-over, outlives Stop's 600 ms. When it goes on, it must not reach the freed watcher.
TEST_F(FileNotifyTest, ThreadOutlivingStopDoesNotReachTheFreedWatcher) {
  int calls = 0;
  FWatcher->SetOptions(FileNotificationSet({foSize}));
  FWatcher->SetFileName(FLog);
  FWatcher->SetOnFileNotification([&](TFolderNotificator*, TFileNotificationOption) { ++calls; });
  FWatcher->SetActive(true);
  FDispatcher->SetGateClosed(true);
  Append(FLog, "line 2\r\n");
  ASSERT_TRUE(FDispatcher->WaitForHandOvers(1));
  const auto freeing = TClock::now();
  FWatcher.reset();
  EXPECT_GE(TClock::now() - freeing, 550ms);  // it did wait, and gave up
  FDispatcher->SetGateClosed(false);
  // The held notification and then the thread's end reach the loop; both find no watcher.
  EXPECT_TRUE(FDispatcher->ProcessUntil([&] { return FDispatcher->Left() >= 2; }));
  EXPECT_EQ(FDispatcher->Entered(), 2);
  EXPECT_EQ(calls, 0);
}

// ---------------------------------------------------------------------------------------------
// The timer

TEST(TimerTest, TicksOnItsOwnThreadUntilStopped) {
  TrclTimer timer;
  EXPECT_EQ(timer.Interval(), 1000);
  TCounter ticks;
  std::atomic<bool> onOwnerThread{false};
  const auto owner = std::this_thread::get_id();
  timer.SetInterval(10);
  timer.SetOnTimer([&](TrclTimer*) {
    if (std::this_thread::get_id() == owner) onOwnerThread = true;
    ticks.Raise();
  });
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.Enabled());
  ASSERT_TRUE(ticks.WaitFor(3));
  timer.SetEnabled(false);
  const int stoppedAt = ticks.Value();
  std::this_thread::sleep_for(100ms);  // ten periods in which no tick may come
  EXPECT_EQ(ticks.Value(), stoppedAt);
  EXPECT_FALSE(onOwnerThread);
}

// Stopping, or freeing, the timer while its handler runs waits for the handler to return.
TEST(TimerTest, StopWaitsForTheRunningHandler) {
  for (const bool free : {false, true}) {
    SCOPED_TRACE(free ? "freed" : "stopped");
    auto timer = std::make_unique<TrclTimer>();
    TCounter entered;
    std::atomic<bool> inHandler{false};
    std::atomic<int> afterStop{0};
    std::atomic<bool> stopped{false};
    timer->SetInterval(5);
    timer->SetOnTimer([&](TrclTimer*) {
      if (stopped) ++afterStop;
      inHandler = true;
      entered.Raise();
      std::this_thread::sleep_for(50ms);  // long enough for the owner to be stopping meanwhile
      inHandler = false;
    });
    timer->SetEnabled(true);
    ASSERT_TRUE(entered.WaitFor(1));
    if (free)
      timer.reset();
    else
      timer->SetEnabled(false);
    stopped = true;
    EXPECT_FALSE(inHandler);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(afterStop, 0);
  }
}

// The flush timer's pattern: the handler stops its own timer and starts it again.
TEST(TimerTest, HandlerMayRestartItsOwnTimer) {
  auto timer = std::make_unique<TrclTimer>();
  TCounter ticks;
  std::atomic<bool> freed{false};
  std::atomic<int> afterFree{0};
  timer->SetInterval(5);
  timer->SetOnTimer([&](TrclTimer* ASender) {
    if (freed) ++afterFree;
    ASender->SetEnabled(false);
    ticks.Raise();
    std::this_thread::sleep_for(2ms);
    ASender->SetEnabled(true);
  });
  timer->SetEnabled(true);
  ASSERT_TRUE(ticks.WaitFor(5));
  // Freed while the handler may be between its stop and its start.
  timer.reset();
  freed = true;
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(afterFree, 0);
}

TEST(TimerTest, NewIntervalTakesEffectAtTheNextStart) {
  TrclTimer timer;
  std::mutex lock;
  std::condition_variable ticked;
  std::vector<TClock::time_point> ticks;
  timer.SetOnTimer([&](TrclTimer*) {
    std::lock_guard guard(lock);
    ticks.push_back(TClock::now());
    ticked.notify_all();
  });
  auto waitForTicks = [&](size_t ACount, std::chrono::milliseconds ATimeout) {
    std::unique_lock guard(lock);
    return ticked.wait_for(guard, ATimeout, [&] { return ticks.size() >= ACount; });
  };
  timer.SetInterval(10);
  timer.SetEnabled(true);
  ASSERT_TRUE(waitForTicks(1, kDeadline));
  timer.SetInterval(600);
  EXPECT_EQ(timer.Interval(), 600);
  // Still the old period: three more ticks come well before one new period would pass.
  EXPECT_TRUE(waitForTicks(4, 450ms));
  timer.SetEnabled(false);
  {
    std::lock_guard guard(lock);
    ticks.clear();
  }
  const auto restart = TClock::now();
  timer.SetEnabled(true);
  ASSERT_TRUE(waitForTicks(1, kDeadline));
  std::lock_guard guard(lock);
  EXPECT_GE(ticks[0] - restart, 590ms);
}

TEST(TimerTest, RefusedStartThrowsAndCanBeRetried) {
  TrclTimer timer;
  TCounter ticks;
  timer.SetOnTimer([&](TrclTimer*) { ticks.Raise(); });
  timer.SetInterval(0);
  try {
    timer.SetEnabled(true);
    ADD_FAILURE() << "no exception";
  } catch (const ErclTimerError& e) {
    EXPECT_STREQ(e.what(), "TrclTimer.SetEnabled error: Invalid argument");
  }
  EXPECT_TRUE(timer.Enabled());
  timer.SetInterval(10);
  timer.SetEnabled(true);  // no change: still nothing runs
  timer.SetEnabled(false);
  timer.SetEnabled(true);
  EXPECT_TRUE(ticks.WaitFor(1));
}

// Setting the watched name again is no change: the state recorded when the name was first set
// stays the filter's base, so a change made in between still passes.
TEST_F(FileNotifyTest, SettingTheSameFileNameKeepsTheRecordedState) {
  FWatcher->SetOptions(FileNotificationSet({foSize}));
  FWatcher->SetFileName(FLog);
  Append(FLog, "line 2\r\n");  // while nothing watches
  FWatcher->SetFileName(FLog);
  EXPECT_EQ(FWatcher->FileName(), FLog);
  FWatcher->SetActive(true);
  FWatcher->SetForcedCallNotification(true);  // passes the filter only if the size differs
  ASSERT_TRUE(WaitForActions(1));
  EXPECT_EQ(FActions, std::vector<TFileNotificationOption>{foNone});
}

// The watchers send no debug texts of their own, not even when a folder cannot be watched;
// the handler is kept for the owner, who reads it back to send its texts the same way.
TEST_F(FileNotifyTest, WatchersSendNoDebugTextsAndKeepTheHandlerForTheOwner) {
  std::vector<std::string> texts;
  EXPECT_FALSE(FWatcher->OnDebugLogMessage());
  FWatcher->SetOnDebugLogMessage([&](void*, const std::string& AText) { texts.push_back(AText); });
  FWatcher->SetOptions(FileNotificationSet({foSize}));
  FWatcher->SetFileName(FLog);
  FWatcher->SetActive(true);
  Append(FLog, "line 2\r\n");
  ASSERT_TRUE(WaitForActions(1));
  FWatcher->SetFileName(FDir.File("missing/log.log"));
  EXPECT_FALSE(FWatcher->LastErrorText().empty());
  FWatcher->SetActive(false);
  EXPECT_TRUE(texts.empty());

  FWatcher->OnDebugLogMessage()(FWatcher.get(), "the owner's own text");
  EXPECT_EQ(texts, std::vector<std::string>{"the owner's own text"});
}

// One handler serving several timers tells them apart by the text their owner gave each.
TEST(TimerTest, OneHandlerTellsItsTimersApartByTheirTags) {
  std::mutex lock;
  std::condition_variable ticked;
  std::vector<std::string> tags;
  const TrclTimerEvent handler = [&](TrclTimer* ASender) {
    std::lock_guard guard(lock);
    tags.push_back(ASender->TagStr());
    ticked.notify_all();
  };
  const auto seen = [&](const std::string& ATag) {
    size_t count = 0;
    for (const std::string& tag : tags) count += tag == ATag ? 1u : 0u;
    return count;
  };
  TrclTimer flush;
  TrclTimer poll;
  EXPECT_EQ(flush.TagStr(), "");
  flush.SetTagStr("flush");
  poll.SetTagStr("poll");
  for (TrclTimer* timer : {&flush, &poll}) {
    timer->SetInterval(5);
    timer->SetOnTimer(handler);
    timer->SetEnabled(true);
  }
  {
    std::unique_lock guard(lock);
    EXPECT_TRUE(ticked.wait_for(guard, kDeadline, [&] { return seen("flush") >= 2 && seen("poll") >= 2; }));
  }
  flush.SetEnabled(false);
  poll.SetEnabled(false);
  std::lock_guard guard(lock);
  EXPECT_EQ(seen("flush") + seen("poll"), tags.size()) << "no tick without its timer's tag";
}

}  // namespace
}  // namespace velloran
