#include "Informer.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <ios>
#include <iostream>
#include <mutex>
#include <string_view>

#include "PlatformFolders.h"
#include "PlatformText.h"

namespace velloran {

namespace {

std::string DefaultLogFileName() {
  std::filesystem::path path(platform::ExecutablePath());
  path.replace_extension(".log");
  return path.string();
}

// Blanks and control characters: every byte up to the space. They are all ASCII, so trimming
// bytes never cuts a UTF-8 sequence.
bool IsBlankOrControl(char AChar) { return static_cast<unsigned char>(AChar) <= 0x20; }

std::string_view Trimmed(std::string_view AText) {
  while (!AText.empty() && IsBlankOrControl(AText.front())) AText.remove_prefix(1);
  while (!AText.empty() && IsBlankOrControl(AText.back())) AText.remove_suffix(1);
  return AText;
}

// The system's short date and long time format is, on this platform, strftime's "%x %X" under
// the process locale (its LC_TIME, as the program set it with setlocale). This is our choice
// of format; in the "C" locale it reads "03/05/22 14:07:31".
std::string LocalDateTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char buffer[128];
  // Two-digit years are what such locales choose for their short date.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
  const size_t length = std::strftime(buffer, sizeof buffer, "%x %X", &local);
#pragma GCC diagnostic pop
  return std::string(buffer, length);
}

std::string LastErrorText() {
  platform::SetLastSystemErrorFromErrno();
  return platform::SystemErrorText(platform::LastSystemError());
}

// Writes all of ABytes, going on after interrupted and partial writes. A failed write is
// dropped: the log is best effort, and the other outputs still carry the report.
void WriteAll(int AHandle, std::string_view ABytes) {
  while (!ABytes.empty()) {
    const ssize_t written = ::write(AHandle, ABytes.data(), ABytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    ABytes.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace

TrclInformer::TrclInformer(TrclInformerProgramKind AProgramKind)
    : FLogFileName(DefaultLogFileName()),
      FLogOptions{imtMessage, imtError, imtCriticalError, imtSilentError},
      FProgramKind(AProgramKind) {
  if (AProgramKind == TrclInformerProgramKind::ipkConsole) {
    FConsoleOptions = {imtMessage, imtError, imtCriticalError};
  } else {
    FMessageOptions = {imtMessage, imtError, imtCriticalError};
  }
}

TrclInformer::~TrclInformer() {
  std::lock_guard guard(FLocker);
  CloseLog();
}

// --- reporting ---------------------------------------------------------------------------

void TrclInformer::InformDebug(uint32_t AMsgId, const std::string& AText, int64_t ADebugLevelBit) {
  if (ADebugLevelBit != 0 && (ADebugLevelBit & FDebugLevelBits) == 0) return;
  Report(imtDebug, AMsgId, AText, ADebugLevelBit);
}

void TrclInformer::InformDebug(const std::string& AText, int64_t ADebugLevelBit) { InformDebug(0, AText, ADebugLevelBit); }

void TrclInformer::InformMessage(const std::string& AText) { Report(imtMessage, 0, AText, 0); }

void TrclInformer::InformError(const std::string& AText) {
  Report(imtError, 0, AText, 0);
  FErrorCount.fetch_add(1, std::memory_order_relaxed);
}

void TrclInformer::InformSilentError(const std::string& AText) {
  Report(imtSilentError, 0, AText, 0);
  FErrorCount.fetch_add(1, std::memory_order_relaxed);
}

void TrclInformer::InformCriticalError(const std::string& AText, int ACode) {
  Report(imtCriticalError, 0, AText, 0);
  if (!FExitOnCriticalError) return;
  {
    std::lock_guard guard(FLocker);
    CloseLog();
  }
  std::exit(ACode);
}

void TrclInformer::Report(TrclInformerMsgType AMsgType, uint32_t AMsgId, const std::string& AText, int64_t ADebugBits) {
  std::string corrected = AText;
  if (FOnTextCorrect) FOnTextCorrect(this, AMsgId, corrected);
  if (FConsoleOptions.Contains(AMsgType)) WriteConsole(corrected);
  if (FLogOptions.Contains(AMsgType)) WriteLog(corrected, ADebugBits);
  if (FOnInform) FOnInform(this, AMsgType, AMsgId, AText);
  // A debug box shows what the log shows; the other boxes show the text as reported.
  if (FMessageOptions.Contains(AMsgType)) ShowMessageBox(AMsgType, AMsgType == imtDebug ? corrected : AText);
}

void TrclInformer::WriteConsole(const std::string& AText) {
  // Flushed per report so that a failure belongs to the report that met it, and so that the
  // line stands in order with what the program writes to standard error.
  std::cout << AText << '\n';
  std::cout.flush();
  if (!std::cout) {
    std::cout.clear();  // the next report tries again
    throw std::ios_base::failure("Could not write to the standard output");
  }
}

void TrclInformer::ShowMessageBox(TrclInformerMsgType AMsgType, const std::string& AText) {
  TrclMessageBox box;
  box.Owner = FApplicationHandle;
  box.MsgType = AMsgType;
  box.Text = AText;
  switch (AMsgType) {
    case imtDebug:
      box.Caption = "Debug";
      box.Icon = TrclMessageBoxIcon::mbiInformation;
      break;
    case imtMessage:
      box.Caption = "Information";
      box.Icon = TrclMessageBoxIcon::mbiInformation;
      break;
    case imtCriticalError:
      box.Caption = "Critical Error";
      box.Icon = TrclMessageBoxIcon::mbiError;
      break;
    case imtError:
    case imtSilentError:
      box.Caption = "Error";
      box.Icon = TrclMessageBoxIcon::mbiError;
      break;
  }
  if (FOnMessageBox) {
    FOnMessageBox(this, box);
  } else {
    std::cerr << box.Caption << ": " << box.Text << '\n';
  }
}

// --- settings ----------------------------------------------------------------------------

void TrclInformer::SetDebugLevelBits(int64_t AValue) {
  FDebugLevelBits = AValue;
  if (AValue != 0) {
    FLogOptions.Include(imtDebug);
  } else {
    FLogOptions.Exclude(imtDebug);
  }
}

// --- the log file ------------------------------------------------------------------------

void TrclInformer::WriteLog(const std::string& AText, int64_t ADebugBits) {
  std::lock_guard guard(FLocker);
  // A failed first opening is tried again at once below, so both failures are reported.
  if (FFirstWrite) {
    OpenLog();
    FFirstWrite = false;
  }
  if (FLogHandle < 0) OpenLog();
  if (FLogHandle < 0) return;
  WriteLogLine(AText, ADebugBits);
  if (FNoLock) CloseLog();
}

void TrclInformer::OpenLog() {
  std::string error;
  CloseLog();

  // A name without a folder lives in the current folder, which needs no creating.
  const std::filesystem::path folder = std::filesystem::path(FLogFileName).parent_path();
  if (!folder.empty()) {
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) error = fmt::format("Could not create log directory <{}>", folder.string());
  }

  // Other processes may read the log meanwhile (POSIX opens share). O_APPEND keeps every line
  // at the end, also when someone else appends to the same file.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
  if (error.empty()) {
    FLogHandle = ::open(FLogFileName.c_str(), kFlags, 0666);
    if (FLogHandle < 0) error = fmt::format("Could not open log <{}> with message:\r\n{}", FLogFileName, LastErrorText());
  }

  if (error.empty()) {
    const off_t size = ::lseek(FLogHandle, 0, SEEK_END);
    // Size and limit are compared in full, not cut to 32 bits: cut, a log of 4 GiB and more
    // would seem small and never be emptied, and a limit of 4,096 MiB or more would wrap and
    // empty every log at opening.
    const uint64_t limit = static_cast<uint64_t>(static_cast<uint32_t>(FLogFileLimitMb)) << 20;
    if (size < 0) {
      error = fmt::format("Could check log <{}> size with message:\r\n{}", FLogFileName, LastErrorText());
    } else if (static_cast<uint64_t>(size) > limit) {
      CloseLog();
      FLogHandle = ::open(FLogFileName.c_str(), kFlags | O_TRUNC, 0666);
      if (FLogHandle < 0) error = fmt::format("Could not open log <{}> with message:\r\n{}", FLogFileName, LastErrorText());
    }
  }

  if (error.empty()) return;
  platform::DebugOutput(error);
  if (FOnInform) FOnInform(this, imtError, 0, error);
}

void TrclInformer::CloseLog() {
  if (FLogHandle < 0) return;
  ::close(FLogHandle);
  FLogHandle = -1;
}

void TrclInformer::WriteLogLine(const std::string& AText, int64_t ADebugBits) {
  std::string line;
  // getpid stands for GetCurrentProcessId.
  if (FLogProcessId) line += fmt::format("[pId:{:X}]", static_cast<uint32_t>(::getpid()));
  // Negative bits print as their 64-bit two's complement.
  if (FLogDebugBits) line += fmt::format("[dbg:{:X}]", static_cast<uint64_t>(ADebugBits));
  if (FLogDateTime) {
    // Appended piece by piece: "[" + text + "]" trips a false -Wrestrict of g++ 12 at -O3.
    line += '[';
    line += LocalDateTimeText();
    line += ']';
  }
  if (!line.empty()) line += ' ';
  line += AText;

  std::string bytes(Trimmed(line));
  bytes += "\r\n";
  WriteAll(FLogHandle, FAnsiMode ? bytes : platform::Utf8ToUtf16Le(bytes));
}

void ConfigureForProgram(TrclInformer& AInformer) {
  AInformer.SetConsoleOptions({});
  AInformer.SetLogOptions({imtError, imtCriticalError});
  AInformer.SetLogProcessId(true);
  AInformer.SetLogDebugBits(true);
}

}  // namespace velloran
