#include "FileHelpers.h"

#include <fmt/format.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <limits>

#include "PlatformFile.h"
#include "PlatformFolders.h"
#include "PlatformSystem.h"
#include "PlatformText.h"

namespace velloran {

namespace {
constexpr int kCsidlApp = 256;  // our own number for the program's folder
}  // namespace

uint32_t CalcCRC32(const void* ABytes, size_t ALength) {
  // zlib's crc32 is this very CRC; it takes the length in pieces that fit its uInt.
  uLong crc = crc32(0L, Z_NULL, 0);
  const auto* bytes = static_cast<const Bytef*>(ABytes);
  while (ALength > 0) {
    const auto piece = static_cast<uInt>(std::min<size_t>(ALength, std::numeric_limits<uInt>::max()));
    crc = crc32(crc, bytes, piece);
    bytes += piece;
    ALength -= piece;
  }
  return static_cast<uint32_t>(crc);
}

int64_t FileSizeOf(const std::string& APath) {
  const platform::TFileLookup lookup = platform::LookupFile(APath);
  return lookup.Found ? lookup.Size : 0;
}

int FolderTokenToCSIDL(std::string_view AToken) {
  std::string token(AToken);
  // Lower-casing ASCII only: tokens are ASCII words, and locale rules must not apply.
  std::transform(token.begin(), token.end(), token.begin(), platform::AsciiLower);
  if (token.size() > 2 && token.front() == '{' && token.back() == '}') token = token.substr(1, token.size() - 2);
  if (token == "userappdata") return platform::kCsidlAppData;
  if (token == "commonappdata") return platform::kCsidlCommonAppData;
  if (token == "app") return kCsidlApp;
  if (token == "localappdata") return platform::kCsidlLocalAppData;
  if (token == "commondocuments") return platform::kCsidlCommonDocuments;
  if (token == "programfiles") return platform::kCsidlProgramFiles;
  return -1;
}

std::string FolderFromToken(std::string_view AToken) {
  const int csidl = FolderTokenToCSIDL(AToken);
  if (csidl < 0) return {};
  if (csidl == kCsidlApp) {
    const std::string exe = platform::ExecutablePath();
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
  }
  return platform::SpecialFolderPath(csidl);
}

std::string PathWithDelimiter(std::string_view APath) {
  const auto isTrimmed = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!APath.empty() && isTrimmed(APath.front())) APath.remove_prefix(1);
  while (!APath.empty() && isTrimmed(APath.back())) APath.remove_suffix(1);
  std::string result(APath);
  if (!result.empty() && result.back() != '/') result.push_back('/');
  return result;
}

bool FolderIsWritable(const std::string& AFolder) {
  if (!platform::FolderExists(AFolder)) return false;
  // Any start will do; the clock and the process id spread concurrent probes apart.
  int number = static_cast<int>((platform::TickCount() ^ static_cast<uint32_t>(::getpid())) % 32768u);
  std::string probe;
  do {
    probe = PathWithDelimiter(AFolder) + fmt::format("xqz_{}.tmp", number++);
  } while (platform::LookupFile(probe).Found);
  return platform::ProbeCreateDeleteOnClose(probe);
}

}  // namespace velloran
