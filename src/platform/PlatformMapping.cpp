#include "PlatformMapping.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "PlatformSystem.h"

namespace velloran::platform {

namespace {

thread_local sigjmp_buf* tGuard = nullptr;
struct sigaction gPreviousAction {};

void OnBusError(int ASignal, siginfo_t* AInfo, void* AContext) {
  if (tGuard != nullptr) siglongjmp(*tGuard, 1);
  // Not a guarded read: behave as if this handler were not there.
  if ((gPreviousAction.sa_flags & SA_SIGINFO) != 0 && gPreviousAction.sa_sigaction != nullptr) {
    gPreviousAction.sa_sigaction(ASignal, AInfo, AContext);
    return;
  }
  if (gPreviousAction.sa_handler != SIG_IGN && gPreviousAction.sa_handler != SIG_DFL && gPreviousAction.sa_handler != nullptr) {
    gPreviousAction.sa_handler(ASignal);
    return;
  }
  signal(SIGBUS, SIG_DFL);  // the faulting read runs again and ends the program as it would have
}

void InstallHandlerOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    // SA_NODEFER: the jump out of the handler leaves SIGBUS unblocked for the next fault.
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &gPreviousAction);
  });
}

}  // namespace

TMappedFile::~TMappedFile() {
  Unmap();
  if (FHandle >= 0) ::close(FHandle);
}

bool TMappedFile::Open(const std::string& APath) {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = ::open(APath.c_str(), O_RDONLY | O_CLOEXEC);
  if (FHandle < 0) {
    SetLastSystemErrorFromErrno();
    return false;
  }
  return true;
}

int64_t TMappedFile::Size() const {
  struct stat info {};
  if (FHandle < 0 || ::fstat(FHandle, &info) != 0) {
    SetLastSystemErrorFromErrno();
    return -1;
  }
  return info.st_size;
}

const uint8_t* TMappedFile::Map(int64_t AOffset, size_t ALength) {
  Unmap();
  const auto page = static_cast<int64_t>(::sysconf(_SC_PAGESIZE));
  const int64_t start = AOffset / page * page;
  const size_t length = ALength + static_cast<size_t>(AOffset - start);
  if (length == 0) return nullptr;
  // MAP_POPULATE reads the pages in at once: a window faulted in page by page costs several
  // times the search itself.
  void* base = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, FHandle, start);
  if (base == MAP_FAILED) {
    SetLastSystemErrorFromErrno();
    return nullptr;
  }
  FBase = base;
  FLength = length;
  return static_cast<const uint8_t*>(base) + (AOffset - start);
}

void TMappedFile::Unmap() {
  if (FBase != nullptr) ::munmap(FBase, FLength);
  FBase = nullptr;
  FLength = 0;
}

bool RunGuarded(void (*AWork)(void*), void* AContext) {
  InstallHandlerOnce();
  sigjmp_buf jump;
  sigjmp_buf* const outer = tGuard;
  if (sigsetjmp(jump, 0) != 0) {
    tGuard = outer;
    return false;
  }
  tGuard = &jump;
  AWork(AContext);
  tGuard = outer;
  return true;
}

}  // namespace velloran::platform
