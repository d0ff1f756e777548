// Small fixtures written by the tests themselves into a fresh temporary folder.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>

namespace velloran::test {

class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velloran-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    FPath = pattern;
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::string File(std::string_view AName) const { return (FPath / AName).string(); }

  // Writes ABytes to the file AName in this folder and returns its full path.
  std::string Write(std::string_view AName, std::string_view ABytes) const {
    const std::string path = File(AName);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
    return path;
  }

 private:
  std::filesystem::path FPath;
};

inline bool RunningAsRoot() { return ::geteuid() == 0; }

// Concatenation by appending (g++ 12 misreads "literal" + std::string at -O3).
inline std::string Join(std::initializer_list<std::string_view> AParts) {
  std::string text;
  for (std::string_view part : AParts) text += part;
  return text;
}

}  // namespace velloran::test
