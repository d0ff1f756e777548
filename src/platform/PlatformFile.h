// Files as the log store uses them: shared read-only access, size by directory lookup, and
// block "views" that are the block's bytes read into a buffer this layer owns.
//
// Why read instead of map: on a warm file, reading 1 MiB blocks into a buffer is several
// times faster than touching 1 MiB mmap views, and a mapped file that another process
// truncates kills the reader with SIGBUS, while a read merely comes back short.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velloran::platform {

// GetSystemInfo's allocation granularity: view offsets are multiples of it. 64 KiB keeps the
// log store's blocks at exactly 1 MiB.
uint32_t AllocationGranularity();

// FindFirstFileW on one path: whether an entry exists and its size. A directory is found
// with size 0, as the Windows directory search reports it.
struct TFileLookup {
  bool Found = false;
  bool IsDirectory = false;
  int64_t Size = 0;
  uint32_t Error = 0;  // why nothing was found (errno), 0 when found
};
TFileLookup LookupFile(const std::string& APath);

bool FileExists(const std::string& APath);
// Whether both paths name one existing file (the same device and inode), whatever the
// spelling, links included.
bool SameFile(const std::string& APath, const std::string& AOther);
bool FolderExists(const std::string& APath);

// CreateFileW(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING): POSIX opens
// never block writers, so the writer keeps appending while we read. Directories are refused
// with EISDIR so that every later read fails early and clearly.
class TReadOnlyFile {
 public:
  TReadOnlyFile() = default;
  ~TReadOnlyFile();
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  // False on failure, with LastSystemError() set.
  bool Open(const std::string& APath);
  void Close();
  bool IsOpen() const { return FHandle >= 0; }

  // ReadFile at a 64-bit position: reads until ALength bytes arrived or the file ends.
  // Returns the bytes read (fewer at the end of a file that was truncated meanwhile), or -1
  // with LastSystemError() set; kErrorInvalidHandle when the file is not open.
  int64_t ReadAt(int64_t AOffset, void* ABuffer, size_t ALength) const;

 private:
  int FHandle = -1;
};

// MapViewOfFile(FILE_MAP_READ) of [offset, offset + length): the bytes are read into a buffer
// that the view owns and keeps between mappings, so walking a file block by block allocates
// once. Data() stays valid until the next Map or Release.
class TBlockView {
 public:
  TBlockView() = default;
  ~TBlockView();
  TBlockView(const TBlockView&) = delete;
  TBlockView& operator=(const TBlockView&) = delete;

  // 0 on success, else the error code (also in LastSystemError()): kErrorInvalidHandle when
  // the file is not open (no mapping object), ENOMEM when the buffer cannot be had, or the
  // read's errno. A read that comes back short is a success with a smaller Size(): the file
  // shrank, and the missing bytes simply are not there.
  uint32_t Map(const TReadOnlyFile& AFile, int64_t AOffset, size_t ALength);
  void Unmap() {
    FSize = 0;
    FMapped = false;
  }
  // Gives the buffer back to the system.
  void Release();

  bool IsMapped() const { return FMapped; }
  const uint8_t* Data() const { return FBuffer; }
  size_t Size() const { return FSize; }

 private:
  uint8_t* FBuffer = nullptr;
  size_t FCapacity = 0;
  size_t FSize = 0;
  bool FMapped = false;
};

// CreateFileW(GENERIC_WRITE, CREATE_ALWAYS) behind a write buffer of its own: creates (or
// empties) a file and appends to it. Every failure throws std::system_error whose text names
// the file and the cause; once created, the file is closed by Close or the destructor.
class TOutputFile {
 public:
  explicit TOutputFile(size_t ABufferSize) : FBuffer(ABufferSize) {}
  ~TOutputFile();  // closes without throwing; call Close to learn of a failed last write
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  void Create(const std::string& APath);
  void Write(const void* AData, size_t ALength) {
    if (ALength <= FBuffer.size() - FUsed) {
      std::memcpy(FBuffer.data() + FUsed, AData, ALength);
      FUsed += ALength;
    } else {
      WriteThrough(AData, ALength);
    }
  }
  void Write(std::string_view AText) { Write(AText.data(), AText.size()); }
  void Write(char AByte) { Write(&AByte, 1); }
  // Writes what the buffer holds and closes the file.
  void Close();

 private:
  void Flush();
  void WriteThrough(const void* AData, size_t ALength);
  [[noreturn]] void Fail(const char* AWhat, int AError);

  std::vector<char> FBuffer;
  size_t FUsed = 0;
  int FHandle = -1;
  std::string FPath;
};

// CreateFileW(OPEN_ALWAYS or OPEN_EXISTING, GENERIC_READ [| GENERIC_WRITE], FILE_SHARE_READ |
// FILE_SHARE_WRITE) with a file position of its own, as SetFilePointer, ReadFile and
// WriteFile see it: the paged index file of the log store. Reads go through the pread seam,
// writes through the write seam. Directories are refused with EISDIR.
class TReadWriteFile {
 public:
  TReadWriteFile() = default;
  ~TReadWriteFile();
  TReadWriteFile(const TReadWriteFile&) = delete;
  TReadWriteFile& operator=(const TReadWriteFile&) = delete;

  // ACreate: create the file when missing (OPEN_ALWAYS); AReadOnly: open for reading only.
  // False on failure, with LastSystemError() set (ENOENT for a missing file without ACreate).
  bool Open(const std::string& APath, bool ACreate, bool AReadOnly);
  void Close();
  bool IsOpen() const { return FHandle >= 0; }

  // SetFilePointer(FILE_BEGIN): the position reached, or -1 with LastSystemError() set.
  int64_t Seek(int64_t AOffset);
  // ReadFile at the position: reads until ALength bytes arrived or the file ends, and moves
  // the position past them. The bytes read, or -1 with LastSystemError() set.
  int64_t Read(void* ABuffer, size_t ALength);
  // WriteFile at the position: writes until all bytes are written or a write takes none,
  // and moves the position past them. The bytes written, or -1 with LastSystemError() set.
  int64_t Write(const void* ABuffer, size_t ALength);
  // FlushFileBuffers: the written data reach the disk before it returns (fdatasync: the
  // file's size goes with them, its times need not). False with LastSystemError() set.
  bool Sync();
  // LockFileEx(LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY) of the whole file as an
  // advisory flock: every open of the file, in this process or another, that asks for it
  // after this one is refused until Close. False with LastSystemError() set: EWOULDBLOCK
  // when another open holds it.
  bool TryLockExclusive();

 private:
  int FHandle = -1;
  int64_t FPosition = 0;
};

// The positioned read that every file read goes through (pread by default). Tests substitute
// it to reach the error paths of its callers; returns the function it replaces.
using TPreadFunction = ssize_t (*)(int AHandle, void* ABuffer, size_t ALength, off_t AOffset);
TPreadFunction SetPreadFunction(TPreadFunction AFunction);

// The write that every file write goes through (write by default); substitutable like pread.
using TWriteFunction = ssize_t (*)(int AHandle, const void* ABuffer, size_t ALength);
TWriteFunction SetWriteFunction(TWriteFunction AFunction);

// The sync of TReadWriteFile::Sync (fdatasync by default); substitutable like pread, so that
// tests see when data reach the disk and what a failing disk does to the callers.
using TSyncFunction = int (*)(int AHandle);
TSyncFunction SetSyncFunction(TSyncFunction AFunction);

// CreateFileW(GENERIC_READ, FILE_SHARE_READ) and ReadFile of the whole file. Throws
// std::system_error "Cannot read PATH" with the cause.
std::string ReadWholeFile(const std::string& APath);

// Replaces the content of APath with AData so that the file is, at every moment, either
// the old content or the new: the bytes go to a temporary file in the same folder, are
// flushed to disk, and the temporary file is renamed over APath. A symbolic link is followed,
// so the link stays; the old file's permissions are kept (a new file gets 0666 less the
// umask). Throws std::system_error "Cannot write PATH" with the cause, the old file intact and
// the temporary file removed.
void ReplaceFileContents(const std::string& APath, std::string_view AData);

// ForceDirectories: creates every missing folder of APath, from the top down. Failures are
// not reported: the caller learns of them when it uses the folder.
void ForceFolders(const std::string& APath);

// CreateFileW(OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE) then CloseHandle: creates APath for
// reading and writing and removes it again. False when it cannot be created.
bool ProbeCreateDeleteOnClose(const std::string& APath);

}  // namespace velloran::platform
