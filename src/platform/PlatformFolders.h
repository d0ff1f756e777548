// Special folders (SHGetSpecialFolderLocation + SHGetPathFromIDListW) and the running
// program's path, mapped to their XDG counterparts.
#pragma once

#include <string>

namespace velloran::platform {

// The CSIDL numbers the core asks for.
inline constexpr int kCsidlAppData = 26;          // $XDG_CONFIG_HOME, default ~/.config
inline constexpr int kCsidlLocalAppData = 28;     // $XDG_DATA_HOME, default ~/.local/share
inline constexpr int kCsidlCommonAppData = 35;    // first of $XDG_DATA_DIRS, default /usr/local/share
inline constexpr int kCsidlProgramFiles = 38;     // /usr
inline constexpr int kCsidlCommonDocuments = 46;  // the XDG documents folder, default ~/Documents
inline constexpr int kCsidlPersonal = 5;          // the user's own documents: the same XDG documents folder
inline constexpr int kCsidlInternetCache = 32;    // $XDG_CACHE_HOME, default ~/.cache: what may be rebuilt

// The folder's path without a trailing separator, or empty text for an unknown number or
// when the folder cannot be named (no home directory).
std::string SpecialFolderPath(int ACsidl);

// GetModuleFileNameW(nullptr): the running executable's full path (/proc/self/exe).
std::string ExecutablePath();

}  // namespace velloran::platform
