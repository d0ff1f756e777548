#include "PlatformSystem.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

namespace velloran::platform {

namespace {
thread_local uint32_t tLastError = 0;
}  // namespace

uint32_t LastSystemError() { return tLastError; }

void SetLastSystemError(uint32_t ACode) { tLastError = ACode; }

uint32_t SetLastSystemErrorFromErrno() {
  const int code = errno == ENXIO ? EIO : errno;
  tLastError = static_cast<uint32_t>(code);
  return tLastError;
}

std::string SystemErrorText(uint32_t ACode) {
  if (ACode == kErrorInvalidHandle) return "The handle is invalid.";
  // strerror_r's GNU form returns the text, which may not be the buffer passed in.
  char buffer[256];
  const char* text = strerror_r(static_cast<int>(ACode), buffer, sizeof buffer);
  return text;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

uint32_t TickCount() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

bool DebugOutputEnabled() {
  static const bool enabled = std::getenv("VELLORAN_DEBUG") != nullptr;
  return enabled;
}

void DebugOutput(std::string_view AText) {
  if (!DebugOutputEnabled()) return;
  std::cerr << AText << '\n';
}

TFileIdentity FileIdentity(const std::string& APath) {
  struct stat status {};
  if (::stat(APath.c_str(), &status) != 0) return {};
  return TFileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

bool TimeZoneExists(const std::string& AZone) {
  // The database's files; a name TZ does not know would silently read as UTC.
  if (AZone.empty() || AZone.front() == '/' || AZone.find("..") != std::string::npos) return false;
  struct stat info {};
  return ::stat(("/usr/share/zoneinfo/" + AZone).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool TimeZoneOffsetMinutes(const std::string& AZone, int64_t ALocalSeconds, int& AOffset) {
  if (!TimeZoneExists(AZone)) return false;
  static std::mutex lock;
  std::lock_guard guard(lock);
  const char* previous = std::getenv("TZ");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("TZ", (":" + AZone).c_str(), 1);
  ::tzset();
  const auto local = static_cast<time_t>(ALocalSeconds);
  struct tm fields {};
  ::gmtime_r(&local, &fields);
  fields.tm_isdst = -1;
  const time_t utc = ::mktime(&fields);
  if (previous != nullptr) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  if (utc == static_cast<time_t>(-1)) return false;
  AOffset = static_cast<int>((ALocalSeconds - static_cast<int64_t>(utc)) / 60);
  return true;
}

}  // namespace velloran::platform
