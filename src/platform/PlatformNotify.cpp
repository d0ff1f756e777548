#include "PlatformNotify.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "PlatformSystem.h"

namespace velloran::platform {

TEvent::TEvent() {
  FHandle = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FHandle < 0) SetLastSystemErrorFromErrno();
}

TEvent::~TEvent() {
  if (FHandle >= 0) ::close(FHandle);
}

void TEvent::Set() {
  const uint64_t one = 1;
  // The counter cannot overflow in practice; a failed write leaves the event as it was.
  [[maybe_unused]] const ssize_t written = ::write(FHandle, &one, sizeof one);
}

void TEvent::Reset() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(FHandle, &count, sizeof count);
}

uint32_t ChangeFilterMask(uint32_t AFilter) {
  uint32_t mask = 0;
  if ((AFilter & (kNotifyChangeFileName | kNotifyChangeDirName)) != 0)
    mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  if ((AFilter & kNotifyChangeAttributes) != 0) mask |= IN_ATTRIB;
  if ((AFilter & kNotifyChangeSize) != 0) mask |= IN_MODIFY;
  if ((AFilter & kNotifyChangeLastWrite) != 0) mask |= IN_MODIFY | IN_ATTRIB;
  return mask;
}

TChangeNotification::~TChangeNotification() { Close(); }

bool TChangeNotification::Open(const std::string& AFolder, bool AWatchSubtree, uint32_t AFilter) {
  Close();
  const uint32_t mask = ChangeFilterMask(AFilter);
  if (mask == 0) {
    SetLastSystemError(EINVAL);
    return false;
  }
  FHandle = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (FHandle < 0) {
    SetLastSystemErrorFromErrno();
    return false;
  }
  // IN_ONLYDIR: like the system call it stands for, a path that is not a folder is refused.
  if (::inotify_add_watch(FHandle, AFolder.c_str(), mask | IN_ONLYDIR) < 0) {
    SetLastSystemErrorFromErrno();
    Close();
    return false;
  }
  if (AWatchSubtree) {
    std::error_code error;
    const auto options = std::filesystem::directory_options::skip_permission_denied;
    for (std::filesystem::recursive_directory_iterator it(AFolder, options, error), end; !error && it != end;
         it.increment(error)) {
      // A subfolder that vanishes or cannot be watched meanwhile is simply not watched.
      if (it->is_directory(error) && !it->is_symlink(error)) ::inotify_add_watch(FHandle, it->path().c_str(), mask | IN_ONLYDIR);
    }
  }
  return true;
}

void TChangeNotification::Next() {
  if (FHandle < 0) return;
  alignas(inotify_event) std::array<char, 4096> buffer;
  while (::read(FHandle, buffer.data(), buffer.size()) > 0) {
  }
}

void TChangeNotification::Close() {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
}

int WaitForAny(const int* AHandles, int ACount, uint32_t ATimeoutMS) {
  std::array<pollfd, 64> fds{};
  const int count = std::clamp(ACount, 0, static_cast<int>(fds.size()));
  for (int i = 0; i < count; ++i) fds[static_cast<size_t>(i)] = pollfd{AHandles[i], POLLIN, 0};
  const int ready = ::poll(fds.data(), static_cast<nfds_t>(count), static_cast<int>(ATimeoutMS));
  if (ready < 0) {
    SetLastSystemErrorFromErrno();
    return kWaitFailed;
  }
  for (int i = 0; i < count; ++i)
    if (fds[static_cast<size_t>(i)].revents != 0) return i;
  return kWaitTimeout;
}

TFileState LookupFileState(const std::string& APath) {
  TFileState result;
  struct stat info {};
  if (APath.empty() || ::stat(APath.c_str(), &info) != 0) return result;
  result.Found = true;
  const bool folder = S_ISDIR(info.st_mode);
  result.Size = folder ? 0 : static_cast<int64_t>(info.st_size);
  const double seconds = static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9;
  result.WriteTime = 25569.0 + seconds / 86400.0;  // 1970-01-01 as a date-time
  if (folder) result.Attributes |= kFileAttributeDirectory;
  if ((info.st_mode & 0222) == 0) result.Attributes |= kFileAttributeReadOnly;
  const std::string name = std::filesystem::path(APath).filename().string();
  if (!name.empty() && name[0] == '.') result.Attributes |= kFileAttributeHidden;
  if (result.Attributes == 0) result.Attributes = kFileAttributeNormal;
  return result;
}

namespace {

// The one timer thread and its schedule. The thread starts with the first timer and stays
// for the life of the process.
class TTimerService {
 public:
  static TTimerService& Instance() {
    // Never destroyed: timers may still be killed from destructors of other static objects.
    static TTimerService* service = new TTimerService;
    return *service;
  }

  uint32_t Set(uint32_t APeriodMS, std::function<void()> ACallback) {
    std::lock_guard lock(FLock);
    if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
    do ++FNextId;
    while (FNextId == 0 || FTimers.count(FNextId) != 0);
    TTimer& timer = FTimers[FNextId];
    timer.Period = std::chrono::milliseconds(APeriodMS);
    timer.Due = TClock::now() + timer.Period;
    timer.Callback = std::make_shared<std::function<void()>>(std::move(ACallback));
    FChanged.notify_all();
    return FNextId;
  }

  bool Kill(uint32_t AId) {
    std::unique_lock lock(FLock);
    if (FTimers.erase(AId) == 0) return false;
    FChanged.notify_all();
    if (std::this_thread::get_id() != FThread.get_id()) FChanged.wait(lock, [&] { return FRunning != AId; });
    return true;
  }

  bool OnThread() {
    std::lock_guard lock(FLock);
    return std::this_thread::get_id() == FThread.get_id();
  }

 private:
  using TClock = std::chrono::steady_clock;
  struct TTimer {
    std::chrono::milliseconds Period{};
    TClock::time_point Due;
    std::shared_ptr<std::function<void()>> Callback;
  };

  void Run() {
    std::unique_lock lock(FLock);
    for (;;) {
      const auto next = std::min_element(FTimers.begin(), FTimers.end(),
                                         [](const auto& a, const auto& b) { return a.second.Due < b.second.Due; });
      if (next == FTimers.end()) {
        FChanged.wait(lock);
        continue;
      }
      const auto now = TClock::now();
      if (now < next->second.Due) {
        // A copy: the entry may be erased while the thread waits.
        const TClock::time_point due = next->second.Due;
        FChanged.wait_until(lock, due);
        continue;
      }
      // A callback that overran its period delays the next one instead of causing a burst.
      next->second.Due = std::max(next->second.Due + next->second.Period, now);
      FRunning = next->first;
      const auto callback = next->second.Callback;
      lock.unlock();
      try {
        (*callback)();
      } catch (const std::exception& e) {
        DebugOutput(std::string("timer callback failed: ") + e.what());
      } catch (...) {
        DebugOutput("timer callback failed");
      }
      lock.lock();
      FRunning = 0;
      FChanged.notify_all();
    }
  }

  std::mutex FLock;
  std::condition_variable FChanged;  // the schedule changed, or a callback ended
  std::map<uint32_t, TTimer> FTimers;
  uint32_t FNextId = 0;
  uint32_t FRunning = 0;  // id of the timer whose callback runs, 0 for none
  std::thread FThread;
};

}  // namespace

uint32_t TimeSetEvent(uint32_t APeriodMS, std::function<void()> ACallback) {
  if (APeriodMS == 0 || !ACallback) {
    SetLastSystemError(EINVAL);
    return 0;
  }
  return TTimerService::Instance().Set(APeriodMS, std::move(ACallback));
}

bool TimeKillEvent(uint32_t AId) { return AId != 0 && TTimerService::Instance().Kill(AId); }

bool OnTimerThread() { return TTimerService::Instance().OnThread(); }

}  // namespace velloran::platform
