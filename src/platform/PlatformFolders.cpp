#include "PlatformFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string_view>
#include <vector>

namespace velloran::platform {

namespace {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return {};
}

std::string WithoutTrailingSeparator(std::string APath) {
  while (APath.size() > 1 && APath.back() == '/') APath.pop_back();
  return APath;
}

// $NAME when it holds an absolute path (XDG ignores relative ones), else home + AFallback.
std::string XdgFolder(const char* AName, std::string_view AFallback) {
  if (const char* value = std::getenv(AName); value != nullptr && value[0] == '/') return WithoutTrailingSeparator(value);
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : WithoutTrailingSeparator(home + std::string(AFallback));
}

std::string FirstDataDir() {
  const char* value = std::getenv("XDG_DATA_DIRS");
  std::string_view dirs = (value != nullptr && *value != '\0') ? value : "/usr/local/share:/usr/share";
  // The first absolute entry; empty or relative entries are skipped, as XDG asks.
  while (!dirs.empty()) {
    const size_t colon = dirs.find(':');
    const std::string_view entry = dirs.substr(0, colon);
    if (!entry.empty() && entry[0] == '/') return WithoutTrailingSeparator(std::string(entry));
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return "/usr/local/share";
}

// The XDG documents folder as xdg-user-dirs records it in user-dirs.dirs:
// XDG_DOCUMENTS_DIR="$HOME/Documents".
std::string DocumentsFolder() {
  const std::string home = HomeFolder();
  const std::string config = XdgFolder("XDG_CONFIG_HOME", "/.config");
  std::ifstream dirs(config + "/user-dirs.dirs");
  std::string line;
  constexpr std::string_view key = "XDG_DOCUMENTS_DIR=\"";
  while (std::getline(dirs, line)) {
    if (line.rfind(key, 0) != 0) continue;
    const size_t end = line.find('"', key.size());
    if (end == std::string::npos) break;
    std::string path = line.substr(key.size(), end - key.size());
    if (path.rfind("$HOME", 0) == 0) path = home + path.substr(5);
    if (!path.empty() && path[0] == '/') return WithoutTrailingSeparator(path);
    break;
  }
  return home.empty() ? std::string() : home + "/Documents";
}

}  // namespace

std::string SpecialFolderPath(int ACsidl) {
  switch (ACsidl) {
    case kCsidlAppData:
      return XdgFolder("XDG_CONFIG_HOME", "/.config");
    case kCsidlLocalAppData:
      return XdgFolder("XDG_DATA_HOME", "/.local/share");
    case kCsidlInternetCache:
      return XdgFolder("XDG_CACHE_HOME", "/.cache");
    case kCsidlCommonAppData:
      return FirstDataDir();
    case kCsidlProgramFiles:
      return "/usr";
    case kCsidlCommonDocuments:
    case kCsidlPersonal:
      return DocumentsFolder();
    default:
      return {};
  }
}

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return {};
  return std::string(buffer.data(), static_cast<size_t>(length));
}

}  // namespace velloran::platform
