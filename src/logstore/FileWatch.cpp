#include "FileWatch.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "PlatformSystem.h"

namespace velloran {

void TLoopDispatcher::RunOnOwnerThread(std::function<void()> AWork) {
  if (std::this_thread::get_id() == FOwner) {
    AWork();
    return;
  }
  auto item = std::make_shared<TItem>();
  item->Work = std::move(AWork);
  std::unique_lock lock(FLock);
  FQueue.push_back(item);
  FArrived.notify_all();
  FDone.wait(lock, [&] { return item->Done; });
}

void TLoopDispatcher::ProcessPending(std::chrono::milliseconds AMaxWait) {
  std::unique_lock lock(FLock);
  FArrived.wait_for(lock, AMaxWait, [&] { return !FQueue.empty(); });
  while (!FQueue.empty()) {
    const std::shared_ptr<TItem> item = FQueue.front();
    FQueue.pop_front();
    lock.unlock();
    std::exception_ptr failure;
    try {
      item->Work();
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    item->Done = true;
    FDone.notify_all();
    if (failure) std::rethrow_exception(failure);
  }
}

bool TLoopDispatcher::ProcessUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  while (!APredicate()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    // In slices, so that a predicate that another thread makes true is seen soon too.
    ProcessPending(std::min(left, std::chrono::milliseconds(20)));
  }
  return true;
}

namespace {

// The system filter that each watching option asks for, in the order the handles are built.
struct TOptionFilter {
  TFileNotificationOption Option;
  uint32_t Filter;
};
constexpr TOptionFilter kOptionFilters[] = {
    {foFile, platform::kNotifyChangeFileName},         {foFolder, platform::kNotifyChangeDirName},
    {foAttributes, platform::kNotifyChangeAttributes}, {foSize, platform::kNotifyChangeSize},
    {foTime, platform::kNotifyChangeLastWrite},
};

}  // namespace

std::shared_ptr<TNotificationThread> TNotificationThread::Create(TFolderNotificator* AOwner,
                                                                 std::shared_ptr<platform::TEvent> AKillEvent,
                                                                 std::shared_ptr<TDispatcher> ADispatcher) {
  std::shared_ptr<TNotificationThread> thread(new TNotificationThread(AOwner, std::move(AKillEvent), std::move(ADispatcher)));
  thread->BuildHandles();
  // The running thread holds its own reference: the object lives until the thread has ended.
  std::thread([thread] { thread->Execute(); }).detach();
  return thread;
}

TNotificationThread::TNotificationThread(TFolderNotificator* AOwner, std::shared_ptr<platform::TEvent> AKillEvent,
                                         std::shared_ptr<TDispatcher> ADispatcher)
    : FOwner(AOwner), FKillEvent(std::move(AKillEvent)), FDispatcher(std::move(ADispatcher)) {}

TNotificationThread::~TNotificationThread() { CloseHandles(); }

void TNotificationThread::Detach() {
  std::lock_guard lock(FOwnerLock);
  FOwner = nullptr;
}

void TNotificationThread::BuildHandles() {
  FHandles.fill(-1);
  // The stop event is always there, even without options: a thread with nothing else to wait
  // for still wakes for its stop and for forced notifications instead of spinning.
  FHandles[0] = FKillEvent->Handle();
  FHandleFilters[0] = foNone;
  FHandleCount = 1;
  if (FOwner == nullptr) return;
  const TFileNotificationOptions options = FOwner->Options();
  const bool subtree = InOptions(options, foWatchSubFolders);
  try {
    for (const TOptionFilter& entry : kOptionFilters) {
      if (!InOptions(options, entry.Option)) continue;
      const auto position = static_cast<size_t>(FHandleCount);
      FHandleFilters[position] = entry.Option;
      if (!FChanges[position].Open(FOwner->Folder(), subtree, entry.Filter))
        throw EFileNotificationError("Could not allocate notification object\r\n" +
                                     platform::SystemErrorText(platform::LastSystemError()));
      FHandles[position] = FChanges[position].Handle();
      ++FHandleCount;
    }
  } catch (const std::exception& e) {
    FHandleErrorText = e.what();
    CloseHandles();
  }
}

void TNotificationThread::CloseHandles() {
  for (int i = 1; i < FHandleCount; ++i) {
    FChanges[static_cast<size_t>(i)].Close();
    FHandles[static_cast<size_t>(i)] = -1;
  }
  FHandleCount = 1;
}

bool TNotificationThread::OwnerForcedCall() {
  std::lock_guard lock(FOwnerLock);
  return FOwner != nullptr && FOwner->FForcedCall;
}

void TNotificationThread::OwnerClearForcedCall() {
  std::lock_guard lock(FOwnerLock);
  if (FOwner != nullptr) FOwner->FForcedCall = false;
}

int TNotificationThread::OwnerNotifyInterval() {
  std::lock_guard lock(FOwnerLock);
  return FOwner != nullptr ? FOwner->FNotifyInterval.load() : 0;
}

void TNotificationThread::Execute() {
  while (!Terminated()) {
    const int signalled = platform::WaitForAny(FHandles.data(), FHandleCount, kWaitTimeoutMS);
    if (signalled == 0) break;
    for (int i = 0; i < FHandleCount; ++i) {
      if (signalled != i && !OwnerForcedCall()) continue;
      if (const int seconds = OwnerNotifyInterval(); seconds != 0) {
        // Waiting on the stop event rather than sleeping keeps Stop prompt during the delay.
        const int stop = FKillEvent->Handle();
        if (platform::WaitForAny(&stop, 1, static_cast<uint32_t>(seconds) * 1000u) == 0 || Terminated()) break;
      }
      OwnerClearForcedCall();
      FActiveFilter = FHandleFilters[static_cast<size_t>(i)];
      // Re-armed before the hand-over rather than after: the changes that caused this
      // notification are consumed, and those that come while the owner runs it signal anew.
      if (i > 0) FChanges[static_cast<size_t>(i)].Next();
      Deliver();
      break;
    }
  }
  DeliverEnd();
}

void TNotificationThread::Deliver() {
  auto self = shared_from_this();
  FDispatcher->RunOnOwnerThread([self] {
    TFolderNotificator* owner = self->FOwner;
    if (owner == nullptr || self->Terminated()) return;
    self->FDelivering = true;
    struct TReset {
      bool& Flag;
      ~TReset() { Flag = false; }
    } reset{self->FDelivering};
    owner->DoFileNotification(self->FActiveFilter);
  });
}

void TNotificationThread::DeliverEnd() {
  auto self = shared_from_this();
  FDispatcher->RunOnOwnerThread([self] {
    TFolderNotificator* owner = self->FOwner;
    if (owner != nullptr && owner->FThread == self) owner->FThread.reset();
  });
}

TFolderNotificator::TFolderNotificator(std::shared_ptr<TDispatcher> ADispatcher)
    : FDispatcher(std::move(ADispatcher)), FKillEv(std::make_shared<platform::TEvent>()) {}

TFolderNotificator::~TFolderNotificator() {
  try {
    Stop();
  } catch (...) {
    // Work of others that ran while stopping failed; a destructor has nobody to tell.
  }
}

void TFolderNotificator::SetFolder(const std::string& AValue) {
  if (AValue == FFolder) return;
  const bool running = FThread != nullptr;
  if (running) Stop();
  FFolder = AValue;
  if (running) Start();
}

void TFolderNotificator::SetOptions(TFileNotificationOptions AValue) {
  if (AValue == FOptions) return;
  const bool running = FThread != nullptr;
  if (running) Stop();
  FOptions = AValue;
  if (running) Start();
}

void TFolderNotificator::Start() {
  FKillEv->Reset();
  if (!FThread) FThread = TNotificationThread::Create(this, FKillEv, FDispatcher);
}

void TFolderNotificator::Stop() {
  if (!FThread) return;
  FThread->Terminate();
  FKillEv->Set();
  // Inside one of the thread's notifications the thread waits for us: it cannot end now.
  if (!FThread->Delivering()) {
    const uint32_t start = platform::TickCount();
    for (uint32_t elapsed = 0; FThread && elapsed < 600; elapsed = platform::TickCount() - start)
      FDispatcher->ProcessPending(std::chrono::milliseconds(600 - elapsed));
  }
  if (FThread) FThread->Detach();
  FThread.reset();
}

void TFolderNotificator::DoFileNotification(TFileNotificationOption AAction) {
  if (FOnFileNotification) FOnFileNotification(this, AAction);
}

TFileNotificator::TFileNotificator(std::shared_ptr<TDispatcher> ADispatcher) : TFolderNotificator(std::move(ADispatcher)) {}

// Stopped here, while the override still exists, not only in the base destructor.
TFileNotificator::~TFileNotificator() {
  try {
    Stop();
  } catch (...) {
    // As in the base destructor.
  }
}

void TFileNotificator::SetActive(bool AValue) {
  if (AValue == FActive) return;
  FActive = AValue;
  if (AValue)
    Start();
  else
    Stop();
}

void TFileNotificator::SetFileName(const std::string& AValue) {
  if (AValue == FFileName) return;
  const bool wasActive = FActive;
  SetActive(false);
  FFileName = AValue;
  const platform::TFileState state = platform::LookupFileState(FFileName);
  FFileExist = state.Found;
  if (state.Found) {
    FFileTime = state.WriteTime;
    FFileSize = state.Size;
    FFileAttr = state.Attributes;
  }
  const std::string folder = std::filesystem::path(FFileName).parent_path().string();
  SetFolder(folder.empty() ? "." : folder);
  SetActive(wasActive);
}

void TFileNotificator::DoFileNotification(TFileNotificationOption AAction) {
  if (!FActive || !Watching()) return;
  bool pass = FFileName.empty();
  if (!pass) {
    const platform::TFileState state = platform::LookupFileState(FFileName);
    if (state.Found != FFileExist) {
      pass = true;
    } else if (state.WriteTime != FFileTime && InOptions(Options(), foTime)) {
      FFileTime = state.WriteTime;
      pass = true;
    } else if (state.Size != FFileSize && InOptions(Options(), foSize)) {
      FFileSize = state.Size;
      pass = true;
    } else if (state.Attributes != FFileAttr && InOptions(Options(), foAttributes)) {
      FFileAttr = state.Attributes;
      pass = true;
    }
  }
  if (pass) TFolderNotificator::DoFileNotification(AAction);
}

}  // namespace velloran
