// Watching a folder, or one file in it, for changes.
//
// TFolderNotificator owns a TNotificationThread that waits for the folder's change signals
// (and for its stop event, at least every 250 ms) and hands every notification to the owner
// thread through a TDispatcher, waiting until the owner has run it. TFileNotificator narrows
// a folder watcher to one file: a notification passes only when the file's existence, or its
// last-write time, size or attributes as far as the options ask for them, changed.
//
// Threading: the watchers are used from the owner thread, the one whose dispatcher runs the
// handed-over work; OnFileNotification runs there too. The notification thread reads only
// ForcedCallNotification and NotifyInterval of its watcher, both atomic.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "PlatformNotify.h"

namespace velloran {

// Hands work from any thread to the owner thread (the GUI thread in the application) and
// waits for it, the way a synchronous hand-over to the GUI thread works. The application
// implements it on its event loop; TLoopDispatcher is a small loop of the owner's own.
class TDispatcher {
 public:
  virtual ~TDispatcher() = default;
  // Any thread: runs AWork on the owner thread and returns once it has run; on the owner
  // thread itself AWork runs at once. An exception from AWork reaches the owner thread (out
  // of ProcessPending); the caller is released as if the work had ended normally.
  virtual void RunOnOwnerThread(std::function<void()> AWork) = 0;
  // Owner thread only: runs the work handed over so far; when there is none, waits up to
  // AMaxWait for some to arrive and runs it. Like processing pending messages, it may run
  // anybody's work.
  virtual void ProcessPending(std::chrono::milliseconds AMaxWait) = 0;
};

// A dispatcher whose owner is the thread that created it and that runs the work when that
// thread calls ProcessPending or ProcessUntil. For tests and for programs without a GUI.
class TLoopDispatcher : public TDispatcher {
 public:
  TLoopDispatcher() : FOwner(std::this_thread::get_id()) {}

  void RunOnOwnerThread(std::function<void()> AWork) override;
  void ProcessPending(std::chrono::milliseconds AMaxWait) override;
  // Owner thread: processes handed-over work until APredicate holds or ATimeout passes;
  // returns whether APredicate holds. The predicate is checked after each piece of work and
  // at least every 20 ms.
  bool ProcessUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout);

 private:
  struct TItem {
    std::function<void()> Work;
    bool Done = false;
  };

  const std::thread::id FOwner;
  std::mutex FLock;
  std::condition_variable FArrived;  // an item was queued
  std::condition_variable FDone;     // an item has run
  std::deque<std::shared_ptr<TItem>> FQueue;
};

class EFileNotificationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TFileNotificationOption { foNone, foFile, foFolder, foAttributes, foSize, foTime, foWatchSubFolders };
// A set of options: bit (1 << option).
using TFileNotificationOptions = unsigned;
constexpr TFileNotificationOptions FileNotificationSet(std::initializer_list<TFileNotificationOption> AOptions) {
  TFileNotificationOptions result = 0;
  for (const TFileNotificationOption option : AOptions) result |= 1u << option;
  return result;
}
constexpr bool InOptions(TFileNotificationOptions AOptions, TFileNotificationOption AOption) {
  return (AOptions & (1u << AOption)) != 0;
}

class TFolderNotificator;
using TFileNotifyEvent = std::function<void(TFolderNotificator* Sender, TFileNotificationOption AAction)>;
// The same type as the log monitor's debug callback.
using TDebugLogMessageEvent = std::function<void(void* Sender, const std::string& Value)>;

// Waits for the change signals of its watcher's folder. Created by TFolderNotificator::Start;
// the watcher and the running thread share it, and it is freed when both have let go: the
// thread when it ends, the watcher when the thread's end reaches it or when it stops waiting
// for that end (Detach).
class TNotificationThread : public std::enable_shared_from_this<TNotificationThread> {
 public:
  static constexpr int kMaxHandles = 8;
  static constexpr uint32_t kWaitTimeoutMS = 250;

  // Owner thread: builds the handles from the owner's Folder and Options at once and starts
  // the thread.
  static std::shared_ptr<TNotificationThread> Create(TFolderNotificator* AOwner, std::shared_ptr<platform::TEvent> AKillEvent,
                                                     std::shared_ptr<TDispatcher> ADispatcher);
  ~TNotificationThread();
  TNotificationThread(const TNotificationThread&) = delete;
  TNotificationThread& operator=(const TNotificationThread&) = delete;

  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  // Owner thread: the watcher lets go of the thread before it has ended; from now on the
  // thread neither reads the watcher nor delivers to it.
  void Detach();
  // Owner thread: whether the owner thread is inside a notification of this thread, where
  // the thread waits for it and cannot end.
  bool Delivering() const { return FDelivering; }
  // Why a change handle could not be built, empty when all were.
  const std::string& HandleErrorText() const { return FHandleErrorText; }

 private:
  TNotificationThread(TFolderNotificator* AOwner, std::shared_ptr<platform::TEvent> AKillEvent,
                      std::shared_ptr<TDispatcher> ADispatcher);
  void BuildHandles();
  void CloseHandles();
  void Execute();
  // Thread: the owner's ForcedCallNotification and NotifyInterval, or false and 0 once
  // detached.
  bool OwnerForcedCall();
  void OwnerClearForcedCall();
  int OwnerNotifyInterval();
  void Deliver();
  void DeliverEnd();

  // Written by the owner thread only, under FOwnerLock; the thread reads it under the lock,
  // the owner thread without.
  TFolderNotificator* FOwner;
  std::mutex FOwnerLock;
  std::array<int, kMaxHandles> FHandles{};  // entry 0 the stop event, then the change handles
  std::array<platform::TChangeNotification, kMaxHandles> FChanges;
  std::array<TFileNotificationOption, kMaxHandles> FHandleFilters{};
  int FHandleCount = 0;
  // Written by the thread before a hand-over, read by the owner thread inside it.
  TFileNotificationOption FActiveFilter = foNone;
  std::shared_ptr<platform::TEvent> FKillEvent;
  std::shared_ptr<TDispatcher> FDispatcher;
  std::atomic<bool> FTerminated{false};
  bool FDelivering = false;  // owner thread only
  std::string FHandleErrorText;
};

class TFolderNotificator {
 public:
  // The dispatcher hands notifications to the owner thread; the watcher's threads keep it
  // alive as long as they run.
  explicit TFolderNotificator(std::shared_ptr<TDispatcher> ADispatcher);
  virtual ~TFolderNotificator();
  TFolderNotificator(const TFolderNotificator&) = delete;
  TFolderNotificator& operator=(const TFolderNotificator&) = delete;

 public:  // settings
  const std::string& Folder() const { return FFolder; }
  // A different folder or options while the thread runs restart the thread, so that it is
  // never rebuilding handles it may be waiting on.
  void SetFolder(const std::string& AValue);
  TFileNotificationOptions Options() const { return FOptions; }
  void SetOptions(TFileNotificationOptions AValue);
  void SetOnFileNotification(TFileNotifyEvent AValue) { FOnFileNotification = std::move(AValue); }
  // Kept for the owner, who may forward its own texts; the watchers send none.
  const TDebugLogMessageEvent& OnDebugLogMessage() const { return FOnDebugMessage; }
  void SetOnDebugLogMessage(TDebugLogMessageEvent AValue) { FOnDebugMessage = std::move(AValue); }
  // Deliver one notification at the thread's next wake-up (within 250 ms) even without a
  // change; without a change it comes with foNone.
  bool ForcedCallNotification() const { return FForcedCall; }
  void SetForcedCallNotification(bool AValue) { FForcedCall = AValue; }
  // Seconds to wait between a change and its notification; changes meanwhile join it.
  int NotifyInterval() const { return FNotifyInterval; }
  void SetNotifyInterval(int AValue) { FNotifyInterval = AValue; }
  // Why the running thread could not build a change handle ("Could not allocate notification
  // object" and the system's reason); it then delivers only forced notifications.
  std::string LastErrorText() const { return FThread ? FThread->HandleErrorText() : std::string(); }

 protected:
  // Starts the thread unless it runs.
  void Start();
  // Stops the thread: signals it and runs handed-over work for at most 600 ms until its end
  // has been handed over. A thread that has not ended by then (or that waits for a
  // notification the caller is running) is detached: it ends on its own and reaches this
  // watcher no more. Either way no notification of it is delivered after Stop.
  void Stop();
  // Whether a thread runs and has not been told to stop.
  bool Watching() const { return FThread && !FThread->Terminated(); }
  virtual void DoFileNotification(TFileNotificationOption AAction);

 private:
  friend class TNotificationThread;

  std::shared_ptr<TDispatcher> FDispatcher;
  std::shared_ptr<TNotificationThread> FThread;
  std::string FFolder;
  TFileNotificationOptions FOptions = FileNotificationSet({foFile, foFolder});
  TFileNotifyEvent FOnFileNotification;
  TDebugLogMessageEvent FOnDebugMessage;
  std::atomic<bool> FForcedCall{false};
  std::atomic<int> FNotifyInterval{0};
  // Shared with the threads, which may outlive the watcher.
  std::shared_ptr<platform::TEvent> FKillEv;
};

class TFileNotificator : public TFolderNotificator {
 public:
  explicit TFileNotificator(std::shared_ptr<TDispatcher> ADispatcher);
  ~TFileNotificator() override;

  bool Active() const { return FActive; }
  void SetActive(bool AValue);
  const std::string& FileName() const { return FFileName; }
  // Records the file's state (existence, last-write time, size, attributes) as the base of
  // the filter and watches its folder; an active watcher goes on watching the new file.
  void SetFileName(const std::string& AValue);

 protected:
  void DoFileNotification(TFileNotificationOption AAction) override;

 private:
  bool FFileExist = false;
  double FFileTime = 0;
  int64_t FFileSize = 0;
  uint32_t FFileAttr = 0;
  bool FActive = false;
  std::string FFileName;
};

}  // namespace velloran
