// The ways the system wakes a waiting thread: event objects, folder change notifications,
// waiting for any of several of them, and periodic timer events. Each function names the
// Windows service it stands in for.
//
// Handles are file descriptors: an eventfd for an event, an inotify descriptor for a change
// notification; both can be waited on together with poll.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velloran::platform {

// CreateEventW(manual reset, initially not signalled): an eventfd that stays readable from
// Set until Reset. Thread-safe: Set may come from any thread while another one waits.
class TEvent {
 public:
  TEvent();  // Valid() is false when the system refused (LastSystemError() says why)
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  bool Valid() const { return FHandle >= 0; }
  int Handle() const { return FHandle; }
  void Set();
  void Reset();

 private:
  int FHandle = -1;
};

// The filters of FindFirstChangeNotificationW (FILE_NOTIFY_CHANGE_...).
inline constexpr uint32_t kNotifyChangeFileName = 1;
inline constexpr uint32_t kNotifyChangeDirName = 2;
inline constexpr uint32_t kNotifyChangeAttributes = 4;
inline constexpr uint32_t kNotifyChangeSize = 8;
inline constexpr uint32_t kNotifyChangeLastWrite = 16;

// The nearest inotify mask for a set of filters. inotify does not tell file names from
// folder names when it is asked, so both name filters watch creation, deletion and renames
// of any entry; a size change is a write; a last-write time changes by a write or by an
// explicit time stamp (a metadata change).
uint32_t ChangeFilterMask(uint32_t AFilter);

// FindFirstChangeNotificationW / FindNextChangeNotification / FindCloseChangeNotification:
// an inotify descriptor that becomes readable when the folder sees a change that the filter
// covers. With subtree watching, every folder below that exists when the handle is opened is
// watched too (inotify is not recursive; folders created later are not).
// Used by one thread at a time.
class TChangeNotification {
 public:
  TChangeNotification() = default;
  ~TChangeNotification();
  TChangeNotification(const TChangeNotification&) = delete;
  TChangeNotification& operator=(const TChangeNotification&) = delete;

  // False with LastSystemError() set when the folder cannot be watched (it does not exist or
  // is not a folder, or the system's watch limit is reached).
  bool Open(const std::string& AFolder, bool AWatchSubtree, uint32_t AFilter);
  // Re-arms the handle: consumes the changes recorded so far. Changes that come later make
  // it readable again, as FindNextChangeNotification keeps recording between calls.
  void Next();
  void Close();
  int Handle() const { return FHandle; }

 private:
  int FHandle = -1;
};

// WaitForMultipleObjects(bWaitAll = FALSE): the position of the first ready handle (the
// lowest position when several are ready), kWaitTimeout, or kWaitFailed with
// LastSystemError() set.
inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;
int WaitForAny(const int* AHandles, int ACount, uint32_t ATimeoutMS);

// FindFirstFileW on one path with what a change notification can have changed: last-write
// time as a date-time (days since 1899-12-30, fraction = time of day, UTC), size and the
// Windows attributes (read-only when nobody may write, hidden for a leading dot, directory,
// otherwise normal).
inline constexpr uint32_t kFileAttributeReadOnly = 0x1;
inline constexpr uint32_t kFileAttributeHidden = 0x2;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeNormal = 0x80;
struct TFileState {
  bool Found = false;
  double WriteTime = 0;
  int64_t Size = 0;
  uint32_t Attributes = 0;
};
TFileState LookupFileState(const std::string& APath);

// timeSetEvent(APeriodMS, resolution 0, TIME_PERIODIC | TIME_KILL_SYNCHRONOUS): calls
// ACallback every APeriodMS milliseconds. All timers share one timer thread, as the system's
// multimedia timers do, so callbacks never overlap and a callback may kill and set timers,
// its own included. Returns the timer's id, or 0 with LastSystemError() set (EINVAL for a
// period of 0). A callback that throws is reported on the debug output; its timer goes on.
uint32_t TimeSetEvent(uint32_t APeriodMS, std::function<void()> ACallback);
// timeKillEvent with TIME_KILL_SYNCHRONOUS: afterwards the timer's callback does not run and
// will not run again. From another thread this waits for a callback that is running; from
// the timer thread (inside a callback) it does not wait. False for an unknown id.
bool TimeKillEvent(uint32_t AId);
// Whether the caller is the timer thread, that is, runs inside a timer callback.
bool OnTimerThread();

}  // namespace velloran::platform
