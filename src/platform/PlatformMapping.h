// Read-only windows of a file mapped into memory, and the guard that makes reading them safe
// when another process truncates the file: a read of a page with no file behind it (SIGBUS
// on POSIX) ends the guarded work with a read error instead of ending the program.
//
// Threading: a mapped file belongs to one thread; the guard is per thread and may nest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velloran::platform {

class TMappedFile {
 public:
  TMappedFile() = default;
  ~TMappedFile();
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;

  // False with LastSystemError() set.
  bool Open(const std::string& APath);
  // The file's size now; -1 with LastSystemError() set.
  int64_t Size() const;
  // The bytes [AOffset, AOffset + ALength), read ahead into memory; null with LastSystemError()
  // set. Valid until the next Map or Unmap. Read them only under RunGuarded.
  const uint8_t* Map(int64_t AOffset, size_t ALength);
  void Unmap();

 private:
  int FHandle = -1;
  void* FBase = nullptr;
  size_t FLength = 0;
};

// Runs AWork(AContext); false when it read a mapped page that no longer has file behind it.
// The work is abandoned at that read without unwinding: it must hold no object that needs a
// destructor and no lock, and leave what it writes consistent between its reads of the map.
bool RunGuarded(void (*AWork)(void*), void* AContext);

template <typename TWork>
bool RunGuarded(TWork& AWork) {
  return RunGuarded([](void* AContext) { (*static_cast<TWork*>(AContext))(); }, &AWork);
}

}  // namespace velloran::platform
