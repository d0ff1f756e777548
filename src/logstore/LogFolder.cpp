#include "LogFolder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "PlatformFolders.h"
#include "PlatformText.h"

namespace velloran {

namespace {

namespace fs = std::filesystem;
using platform::SameTextIgnoringAsciiCase;

bool IsDigit(char AChar) { return AChar >= '0' && AChar <= '9'; }

// A log name cut at its last run of digits: Letters, Digits, Rest (up to the extension),
// Extension (with its dot).
struct TLogName {
  std::string_view Letters, Digits, Rest, Extension;

  explicit TLogName(std::string_view AName) {
    const size_t dot = AName.rfind('.');
    const std::string_view stem = dot == std::string_view::npos || dot == 0 ? AName : AName.substr(0, dot);
    Extension = AName.substr(stem.size());
    size_t end = stem.size();
    while (end > 0 && !IsDigit(stem[end - 1])) --end;
    size_t begin = end;
    while (begin > 0 && IsDigit(stem[begin - 1])) --begin;
    Letters = stem.substr(0, begin);
    Digits = stem.substr(begin, end - begin);
    Rest = stem.substr(end);
  }

  // The server's dated names: a daily and a monthly log never continue one another.
  bool Dated() const { return SameTextIgnoringAsciiCase(Letters, "IN") && (Digits.size() == 4 || Digits.size() == 6); }
};

// -1, 0, 1: runs of digits as numbers (leading zeros do not count, then the longer run).
int CompareCounters(std::string_view A, std::string_view B) {
  const auto significant = [](std::string_view ADigits) {
    const size_t first = ADigits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view() : ADigits.substr(first);
  };
  const std::string_view a = significant(A), b = significant(B);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (const int order = a.compare(b); order != 0) return order < 0 ? -1 : 1;
  if (A.size() != B.size()) return A.size() < B.size() ? -1 : 1;
  return 0;
}

}  // namespace

bool ContinuesLog(std::string_view ACurrent, std::string_view ACandidate) {
  const TLogName current(ACurrent), candidate(ACandidate);
  if (!SameTextIgnoringAsciiCase(current.Extension, candidate.Extension)) return false;
  if (current.Digits.empty()) {
    // radius.log goes on as radius1.log, radius2.log...: the same letters and a counter.
    return !candidate.Digits.empty() && candidate.Rest.empty() && SameTextIgnoringAsciiCase(candidate.Letters, current.Rest);
  }
  if (!SameTextIgnoringAsciiCase(current.Letters, candidate.Letters) || !SameTextIgnoringAsciiCase(current.Rest, candidate.Rest))
    return false;
  if ((current.Dated() || candidate.Dated()) && current.Digits.size() != candidate.Digits.size()) return false;
  return CompareCounters(current.Digits, candidate.Digits) < 0;
}

std::string NewestLogAfter(const std::string& ACurrentPath) {
  const fs::path current(ACurrentPath);
  const std::string currentName = current.filename().string();
  fs::path folder = current.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  fs::directory_iterator it(folder, error);
  std::string newest;
  for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    // The newest so far is continued by a candidate only when the candidate also continues
    // the current log: both later than it, the later of the two wins.
    if (!ContinuesLog(currentName, name) || (!newest.empty() && !ContinuesLog(newest, name))) continue;
    std::error_code typeError;
    if (it->is_regular_file(typeError)) newest = name;
  }
  return newest.empty() ? std::string() : (folder / newest).string();
}

std::vector<std::string> LogsInFolder(const std::string& AFolder) {
  std::vector<std::string> scheme, other;
  for (const fs::directory_entry& entry : fs::directory_iterator(AFolder)) {
    std::error_code typeError;
    if (!entry.is_regular_file(typeError)) continue;
    const std::string name = entry.path().filename().string();
    const TLogName parts(name);
    if (!SameTextIgnoringAsciiCase(parts.Extension, ".log")) continue;
    const bool server =
        parts.Rest.empty() && !parts.Digits.empty() && (parts.Dated() || SameTextIgnoringAsciiCase(parts.Letters, "iaslog"));
    (server ? scheme : other).push_back(name);
  }
  std::vector<std::string>& names = scheme.empty() ? other : scheme;
  std::sort(names.begin(), names.end(), [](const std::string& A, const std::string& B) {
    const TLogName a(A), b(B);
    if (!SameTextIgnoringAsciiCase(a.Letters, b.Letters)) return A < B;
    const int counters = CompareCounters(a.Digits, b.Digits);
    return counters != 0 ? counters < 0 : A < B;
  });
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back((fs::path(AFolder) / name).string());
  return paths;
}

std::string IndexCacheFolder(const std::string& AFolder) {
  if (!AFolder.empty()) return AFolder;
  const std::string cache = platform::SpecialFolderPath(platform::kCsidlInternetCache);
  return cache.empty() ? std::string() : cache + "/velloran-viewer/index";
}

int TrimIndexCache(const std::string& AFolder, uint64_t AMaxBytes, const std::string& AKeep) {
  struct TIndexFile {
    fs::path Path;
    uint64_t Size = 0;
    fs::file_time_type Written;
  };
  std::vector<TIndexFile> files;
  uint64_t total = 0;
  std::error_code error;
  fs::directory_iterator it(AFolder, error);
  for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
    std::error_code fileError;
    if (!platform::EndsWithIgnoringAsciiCase(it->path().filename().string(), ".idx") || !it->is_regular_file(fileError)) continue;
    const uint64_t size = it->file_size(fileError);
    const fs::file_time_type written = it->last_write_time(fileError);
    if (fileError) continue;
    files.push_back(TIndexFile{it->path(), size, written});
    total += size;
  }
  std::sort(files.begin(), files.end(), [](const TIndexFile& A, const TIndexFile& B) { return A.Written < B.Written; });
  std::error_code keepError;
  int removed = 0;
  for (const TIndexFile& file : files) {
    if (total <= AMaxBytes) break;
    if (!AKeep.empty() && fs::equivalent(file.Path, AKeep, keepError)) continue;
    std::error_code removeError;
    if (!fs::remove(file.Path, removeError)) continue;
    total -= file.Size;
    ++removed;
  }
  return removed;
}

}  // namespace velloran
