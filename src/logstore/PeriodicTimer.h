// TrclTimer: a periodic timer whose OnTimer runs on the timer thread, never on the owner's
// thread; a handler that must act on the owner's data hands its work over (TDispatcher).
//
// Threading: Enabled may be set from the owner thread and from OnTimer itself (a handler
// may stop its timer and start it again). Turning the timer off, and freeing it, are
// synchronous: afterwards OnTimer neither runs nor starts, except that a handler which is
// running while the owner turns the timer off may start it again. Set OnTimer while the timer
// is off. Turning it off from the owner thread waits for a running OnTimer, so that handler
// must not wait for the owner thread meanwhile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

namespace velloran {

class TrclTimer;
using TrclTimerEvent = std::function<void(TrclTimer* Sender)>;

// Raised when the system refuses to start the timer.
class ErclTimerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TrclTimer {
 public:
  TrclTimer() = default;
  ~TrclTimer();
  TrclTimer(const TrclTimer&) = delete;
  TrclTimer& operator=(const TrclTimer&) = delete;

  bool Enabled() const;
  // Only a change acts. True starts a periodic system timer with the period Interval; when
  // the system refuses, throws "TrclTimer.SetEnabled error: <reason>" and Enabled stays true
  // (turning it off and on again retries). False stops the timer.
  void SetEnabled(bool AValue);
  // Period in milliseconds, default 1000. A running timer keeps its period until it is
  // started again.
  int Interval() const { return fInterval; }
  void SetInterval(int AValue) { fInterval = AValue; }
  void SetOnTimer(TrclTimerEvent AValue) { FOnTimer = std::move(AValue); }
  // Free text for the owner.
  const std::string& TagStr() const { return FTagStr; }
  void SetTagStr(const std::string& AValue) { FTagStr = AValue; }

 private:
  void DoTimer();

  mutable std::mutex FLock;       // guards fTimerID, FEnabled, FDestroying, FRunning
  std::condition_variable FIdle;  // a handler returned
  uint32_t fTimerID = 0;          // the running system timer, 0 when stopped
  std::atomic<int> fInterval{1000};
  TrclTimerEvent FOnTimer;
  bool FEnabled = false;
  bool FDestroying = false;  // the destructor runs: a handler may not start the timer again
  int FRunning = 0;          // handlers running (at most one, on the timer thread)
  std::string FTagStr;
};

}  // namespace velloran
