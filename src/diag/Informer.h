// TrclInformer is the program's reporting facility: a caller hands it a text of one of five
// kinds, and the informer passes it to up to four outputs, each taking only the kinds chosen
// for it: standard output, a log file, the OnInform callback and a message box.
//
// The log file is appended to line by line, each line ending with CR LF and optionally
// prefixed with the process id, the report's debug bits and the local date and time. It is
// emptied when, at the moment it is opened, it has grown past LogFileLimitMb MiB. It stays
// open from the first logged report until destruction, unless LogFile_NoLockUsing closes it
// after every line.
//
// Threading: the owner sets the properties before reports start; after that any thread may
// report. Only the log output is serialised, by a re-entrant lock that also guards the log's
// handle and first-write state. The console output, OnTextCorrect, OnInform and the message
// box run on the reporting thread without that lock, except the OnInform calls for the log's
// own errors, which run inside it (a handler that reports them to this informer's log again
// recurses).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "PlatformSystem.h"

namespace velloran {

class TrclInformer;

// The five kinds of report. The values are the bit numbers in TrclInformerOutputOptions.
enum TrclInformerMsgType : uint8_t {
  imtDebug = 0,
  imtMessage = 1,
  imtError = 2,
  imtCriticalError = 3,
  imtSilentError = 4,
};

// A set of report kinds: bit (1 << kind) set for every kind in the set.
class TrclInformerOutputOptions {
 public:
  constexpr TrclInformerOutputOptions() = default;
  // Implicit so that a braced list reads like the set it is: SetLogOptions({imtError}).
  constexpr TrclInformerOutputOptions(std::initializer_list<TrclInformerMsgType> AKinds) {
    for (const TrclInformerMsgType kind : AKinds) Include(kind);
  }

  constexpr bool Contains(TrclInformerMsgType AKind) const { return (FBits & Bit(AKind)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr TrclInformerOutputOptions& Include(TrclInformerMsgType AKind) {
    FBits = static_cast<uint8_t>(FBits | Bit(AKind));
    return *this;
  }
  constexpr TrclInformerOutputOptions& Exclude(TrclInformerMsgType AKind) {
    FBits = static_cast<uint8_t>(FBits & ~Bit(AKind));
    return *this;
  }
  friend constexpr bool operator==(TrclInformerOutputOptions, TrclInformerOutputOptions) = default;

 private:
  static constexpr uint8_t Bit(TrclInformerMsgType AKind) { return static_cast<uint8_t>(1u << AKind); }

  uint8_t FBits = 0;
};

// Whether the informer serves a console program (the CLI) or a GUI program (the viewer): it
// decides the defaults of ConsoleOptions and MessageOptions.
enum class TrclInformerProgramKind { ipkGui, ipkConsole };

enum class TrclMessageBoxIcon { mbiInformation, mbiError };

// A modal message box with an OK button that the informer asks its owner to show.
struct TrclMessageBox {
  void* Owner = nullptr;  // the informer's ApplicationHandle
  TrclInformerMsgType MsgType = imtMessage;
  std::string Text;
  std::string Caption;  // "Debug", "Information", "Error" or "Critical Error"
  TrclMessageBoxIcon Icon = TrclMessageBoxIcon::mbiInformation;
};

// Called for every report with its kind, message id and uncorrected text, and for the log's
// own errors (imtError, id 0).
using TInformNotifyEvent =
    std::function<void(TrclInformer* Sender, TrclInformerMsgType AMsgType, uint32_t AMsgId, const std::string& AText)>;
// May rewrite a text before it goes to standard output, the log or a debug message box.
using TInformTextCorrectEvent = std::function<void(TrclInformer* Sender, uint32_t AMsgId, std::string& AText)>;
// Shows the box and returns when it has been closed. The core shows no windows itself: the
// viewer installs a handler that shows a real box; without a handler the informer writes
// "Caption: Text" and a line end to standard error, as the CLI wants it.
using TMessageBoxRequest = std::function<void(TrclInformer* Sender, const TrclMessageBox& ABox)>;

class TrclInformer {
 public:
  explicit TrclInformer(TrclInformerProgramKind AProgramKind = TrclInformerProgramKind::ipkGui);
  // Closes the log file if it is open.
  ~TrclInformer();
  TrclInformer(const TrclInformer&) = delete;
  TrclInformer& operator=(const TrclInformer&) = delete;

 public:  // reporting
  // Reports a debug trace when ADebugLevelBit is 0 or shares a bit with DebugLevelBits; does
  // nothing otherwise. ADebugLevelBit is the "[dbg:]" prefix of its log line.
  void InformDebug(uint32_t AMsgId, const std::string& AText, int64_t ADebugLevelBit);
  void InformDebug(const std::string& AText, int64_t ADebugLevelBit);
  void InformMessage(const std::string& AText);
  // Reports, then counts the error in ErrorCount.
  void InformError(const std::string& AText);
  void InformSilentError(const std::string& AText);
  // Reports; then, when ExitOnCriticalError is true, closes the log and ends the process with
  // exit status ACode (std::exit: atexit handlers and static destructors run; the system keeps
  // the low 8 bits of the code).
  void InformCriticalError(const std::string& AText, int ACode);

  // Each report's outputs run in this order: standard output, log, OnInform, message box.
  // Writing standard output throws std::ios_base::failure when it fails, and the later outputs
  // of that report are skipped. A log that cannot be opened raises nothing: the failure goes to
  // the debug output and OnInform, and the other outputs still get the report.

 public:  // outputs
  TrclInformerProgramKind ProgramKind() const { return FProgramKind; }

  // Kinds written to standard output: [imtMessage, imtError, imtCriticalError] in a console
  // program, else none.
  TrclInformerOutputOptions ConsoleOptions() const { return FConsoleOptions; }
  void SetConsoleOptions(TrclInformerOutputOptions AValue) { FConsoleOptions = AValue; }
  // Kinds written to the log: [imtMessage, imtError, imtCriticalError, imtSilentError], plus
  // imtDebug while DebugLevelBits is not 0.
  TrclInformerOutputOptions LogOptions() const { return FLogOptions; }
  void SetLogOptions(TrclInformerOutputOptions AValue) { FLogOptions = AValue; }
  // Kinds shown in a message box: none in a console program, else [imtMessage, imtError,
  // imtCriticalError].
  TrclInformerOutputOptions MessageOptions() const { return FMessageOptions; }
  void SetMessageOptions(TrclInformerOutputOptions AValue) { FMessageOptions = AValue; }

  // Owner window of the message boxes, opaque to the core; none by default.
  void* ApplicationHandle() const { return FApplicationHandle; }
  void SetApplicationHandle(void* AValue) { FApplicationHandle = AValue; }

  bool ExitOnCriticalError() const { return FExitOnCriticalError; }
  void SetExitOnCriticalError(bool AValue) { FExitOnCriticalError = AValue; }

  // Errors and silent errors reported so far; it only grows.
  int32_t ErrorCount() const { return FErrorCount.load(std::memory_order_relaxed); }

  // Enabled debug bits, 0 by default. Writing a value other than 0 adds imtDebug to
  // LogOptions; writing 0 removes it.
  int64_t DebugLevelBits() const { return FDebugLevelBits; }
  void SetDebugLevelBits(int64_t AValue);

  const TInformNotifyEvent& OnInform() const { return FOnInform; }
  void SetOnInform(TInformNotifyEvent AValue) { FOnInform = std::move(AValue); }
  const TInformTextCorrectEvent& OnTextCorrect() const { return FOnTextCorrect; }
  void SetOnTextCorrect(TInformTextCorrectEvent AValue) { FOnTextCorrect = std::move(AValue); }
  const TMessageBoxRequest& OnMessageBox() const { return FOnMessageBox; }
  void SetOnMessageBox(TMessageBoxRequest AValue) { FOnMessageBox = std::move(AValue); }

 public:  // the log file
  // The executable's full path with its extension replaced by ".log" (appended when it has
  // none). A new name takes effect when the log is next opened.
  const std::string& LogFileName() const { return FLogFileName; }
  void SetLogFileName(const std::string& AValue) { FLogFileName = AValue; }
  // Size limit in MiB, 5 by default. At every opening a log larger than (LogFileLimitMb << 20),
  // taken as an unsigned 32-bit number, is emptied; a log kept open grows past it meanwhile.
  int32_t LogFileLimitMb() const { return FLogFileLimitMb; }
  void SetLogFileLimitMb(int32_t AValue) { FLogFileLimitMb = AValue; }
  // True (default): the log holds the text's bytes in the locale's narrow encoding, which is
  // UTF-8 here. False: UTF-16LE code units, converted from the UTF-8 text. No byte-order mark.
  bool LogFile_AnsiMode() const { return FAnsiMode; }
  void SetLogFile_AnsiMode(bool AValue) { FAnsiMode = AValue; }
  // True: close the log after every line, so that it is reopened and its size tested again for
  // the next one. False (default): keep it open.
  bool LogFile_NoLockUsing() const { return FNoLock; }
  void SetLogFile_NoLockUsing(bool AValue) { FNoLock = AValue; }

  // Line prefixes, written in this order: "[pId:1F40]" (default off), "[dbg:2A]" (default
  // off; 0 for every kind but debug traces), "[<date> <time>]" (default on); then one space
  // when any prefix was written. Numbers are upper-case hexadecimal without leading zeros.
  bool LogProcessId() const { return FLogProcessId; }
  void SetLogProcessId(bool AValue) { FLogProcessId = AValue; }
  bool LogDebugBits() const { return FLogDebugBits; }
  void SetLogDebugBits(bool AValue) { FLogDebugBits = AValue; }
  bool LogDateTime() const { return FLogDateTime; }
  void SetLogDateTime(bool AValue) { FLogDateTime = AValue; }

 private:
  void Report(TrclInformerMsgType AMsgType, uint32_t AMsgId, const std::string& AText, int64_t ADebugBits);
  void WriteConsole(const std::string& AText);
  void WriteLog(const std::string& AText, int64_t ADebugBits);
  void ShowMessageBox(TrclInformerMsgType AMsgType, const std::string& AText);
  // The three steps below run with FLocker held.
  void OpenLog();
  void CloseLog();
  void WriteLogLine(const std::string& AText, int64_t ADebugBits);

  std::string FLogFileName;
  TrclInformerOutputOptions FConsoleOptions;
  TrclInformerOutputOptions FLogOptions;
  bool FExitOnCriticalError = true;
  int32_t FLogFileLimitMb = 5;
  int FLogHandle = -1;      // the open log's descriptor, -1 while closed
  bool FFirstWrite = true;  // no report has reached the log yet
  TrclInformerOutputOptions FMessageOptions;
  void* FApplicationHandle = nullptr;
  // Atomic because reports may come from several threads and the count is kept outside the
  // log lock.
  std::atomic<int32_t> FErrorCount{0};
  bool FLogDateTime = true;
  bool FLogProcessId = false;
  bool FAnsiMode = true;
  int64_t FDebugLevelBits = 0;
  bool FNoLock = false;
  TInformNotifyEvent FOnInform;
  TInformTextCorrectEvent FOnTextCorrect;
  platform::TReentrantLock FLocker;
  bool FLogDebugBits = false;
  TMessageBoxRequest FOnMessageBox;
  TrclInformerProgramKind FProgramKind;
};

// The program's configuration of its informer, applied at start-up: nothing to standard
// output, only errors and critical errors to the log, whose lines get the process id and debug
// bits prefixes besides the date and time. Everything else keeps its default, so messages,
// errors and critical errors still go to message boxes in the viewer.
void ConfigureForProgram(TrclInformer& AInformer);

}  // namespace velloran
