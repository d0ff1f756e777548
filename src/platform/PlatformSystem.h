// Process-wide services that the core borrows from the operating system: error codes and
// their texts, the calling thread's id, a tick count, debug output and a re-entrant lock.
// Each function names the Windows service it stands in for.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace velloran::platform {

// ERROR_INVALID_HANDLE: there is no file or no "mapping object" to read from (an empty file
// has none). It is the only Windows error code the core tests for by value. errno ENXIO,
// which has the same number, never comes from the calls this layer makes on regular files;
// should it come, the layer reports it as EIO so that 6 keeps one meaning.
inline constexpr uint32_t kErrorInvalidHandle = 6;

// GetLastError / SetLastError: the calling thread's last error code. Layer functions that
// fail set it (errno values, or kErrorInvalidHandle) before they return.
uint32_t LastSystemError();
void SetLastSystemError(uint32_t ACode);
// Records errno as the last error (ENXIO becomes EIO, see above) and returns the code.
uint32_t SetLastSystemErrorFromErrno();

// FormatMessageW for a system error code: strerror's text, "The handle is invalid." for 6.
std::string SystemErrorText(uint32_t ACode);

// GetCurrentThreadId: the kernel's id of the calling thread.
uint32_t CurrentThreadId();

// GetTickCount: milliseconds since an arbitrary start, wrapping at 2^32; monotonic.
uint32_t TickCount();

// What a path names: its device and inode, so that a file replaced under the same name (a
// rotated log) is told from the one that was there; 0 and 0 when nothing is found.
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};
TFileIdentity FileIdentity(const std::string& APath);

// OutputDebugStringW: to standard error when VELLORAN_DEBUG is set, nowhere otherwise.
void DebugOutput(std::string_view AText);
bool DebugOutputEnabled();

// A named zone of the system's time zone database ("Europe/Berlin"; Windows: none yet, fixed
// offsets serve there).
bool TimeZoneExists(const std::string& AZone);
// The offset from UTC, in minutes, that zone AZone had at ALocalSeconds (a local time of the
// zone, in seconds from 1970-01-01 as if it were UTC); false when the zone is unknown.
// Serialized: it borrows the process's TZ for the conversion.
bool TimeZoneOffsetMinutes(const std::string& AZone, int64_t ALocalSeconds, int& AOffset);

// A critical section: the owning thread may enter it again. Usable with std::lock_guard.
class TReentrantLock {
 public:
  void lock() { FMutex.lock(); }
  void unlock() { FMutex.unlock(); }
  bool try_lock() { return FMutex.try_lock(); }

 private:
  std::recursive_mutex FMutex;
};

}  // namespace velloran::platform
