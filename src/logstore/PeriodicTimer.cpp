#include "PeriodicTimer.h"

#include <fmt/format.h>

#include <cerrno>
#include <utility>

#include "PlatformNotify.h"
#include "PlatformSystem.h"

namespace velloran {

TrclTimer::~TrclTimer() {
  {
    std::lock_guard lock(FLock);
    FDestroying = true;
  }
  SetEnabled(false);
}

bool TrclTimer::Enabled() const {
  std::lock_guard lock(FLock);
  return FEnabled;
}

void TrclTimer::SetEnabled(bool AValue) {
  uint32_t killId = 0;
  {
    std::lock_guard lock(FLock);
    if (AValue != FEnabled && !(AValue && FDestroying)) {
      FEnabled = AValue;
      if (AValue) {
        const int interval = fInterval;
        fTimerID = interval > 0 ? platform::TimeSetEvent(static_cast<uint32_t>(interval), [this] { DoTimer(); }) : 0;
        if (fTimerID == 0) {
          if (interval <= 0) platform::SetLastSystemError(EINVAL);
          throw ErclTimerError(
              fmt::format("TrclTimer.SetEnabled error: {}", platform::SystemErrorText(platform::LastSystemError())));
        }
      } else {
        killId = std::exchange(fTimerID, 0);
      }
    }
  }
  if (AValue) return;
  // Not under the lock: the handler that the kill waits for may be setting Enabled itself.
  if (killId != 0) platform::TimeKillEvent(killId);
  if (platform::OnTimerThread()) return;
  // A handler that stopped its own timer is no longer that timer's callback: the kill does
  // not wait for it, this does.
  std::unique_lock lock(FLock);
  FIdle.wait(lock, [&] { return FRunning == 0; });
}

void TrclTimer::DoTimer() {
  {
    std::lock_guard lock(FLock);
    if (FDestroying) return;
    ++FRunning;
  }
  struct TLeave {
    TrclTimer& Timer;
    ~TLeave() {
      std::lock_guard lock(Timer.FLock);
      --Timer.FRunning;
      Timer.FIdle.notify_all();
    }
  } leave{*this};
  if (FOnTimer) FOnTimer(this);
}

}  // namespace velloran
