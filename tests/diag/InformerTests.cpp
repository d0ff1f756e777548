#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <ios>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Informer.h"
#include "PlatformFolders.h"
#include "PlatformSystem.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::TTempDir;

constexpr int64_t kMiB = 1048576;

struct TInformCall {
  TrclInformerMsgType MsgType = imtMessage;
  uint32_t MsgId = 0;
  std::string Text;

  bool operator==(const TInformCall&) const = default;
  friend std::ostream& operator<<(std::ostream& AOut, const TInformCall& ACall) {
    return AOut << "{kind " << int{ACall.MsgType} << ", id " << ACall.MsgId << ", " << ::testing::PrintToString(ACall.Text)
                << "}";
  }
};

std::string ReadAll(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string Hex(uint64_t AValue) {
  std::ostringstream out;
  out << std::hex << std::uppercase << AValue;
  return out.str();
}

// What the informer's date and time prefix holds now.
std::string NowText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::ostringstream text;  // the "C" locale, as the informer's strftime sees it here
  text << std::put_time(&local, "%x %X");
  return text.str();
}

void ReplaceAll(std::string& AText, const std::string& AFrom, const std::string& ATo) {
  for (size_t at = AText.find(AFrom); at != std::string::npos; at = AText.find(AFrom, at + ATo.size()))
    AText.replace(at, AFrom.size(), ATo);
}

// Reports "text" as AKind; a debug trace carries ADebugId and bit 0, which always reports.
void Inform(TrclInformer& AInformer, TrclInformerMsgType AKind, uint32_t ADebugId = 0) {
  switch (AKind) {
    case imtDebug:
      AInformer.InformDebug(ADebugId, "text", 0);
      break;
    case imtMessage:
      AInformer.InformMessage("text");
      break;
    case imtError:
      AInformer.InformError("text");
      break;
    case imtCriticalError:
      AInformer.InformCriticalError("text", 3);
      break;
    case imtSilentError:
      AInformer.InformSilentError("text");
      break;
  }
}

class InformerTest : public ::testing::Test {
 protected:
  static constexpr const char* kLog = "logs/sub/test.log";

  // An informer whose log lies in the test folder (below folders it has to create), without
  // the date and time prefix, recording what reaches OnInform and the message boxes.
  std::unique_ptr<TrclInformer> NewInformer(const std::string& ALogName = kLog,
                                            TrclInformerProgramKind AKind = TrclInformerProgramKind::ipkGui) {
    auto informer = std::make_unique<TrclInformer>(AKind);
    informer->SetLogFileName(FDir.File(ALogName));
    informer->SetLogDateTime(false);
    informer->SetOnInform([this](TrclInformer*, TrclInformerMsgType AMsgType, uint32_t AMsgId, const std::string& AText) {
      FInforms.push_back({AMsgType, AMsgId, AText});
    });
    informer->SetOnMessageBox([this](TrclInformer*, const TrclMessageBox& ABox) { FBoxes.push_back(ABox); });
    return informer;
  }
  std::string Log(const std::string& AName = kLog) const { return ReadAll(FDir.File(AName)); }
  bool LogExists(const std::string& AName = kLog) const { return std::filesystem::exists(FDir.File(AName)); }
  void ForgetCalls() {
    FInforms.clear();
    FBoxes.clear();
  }

  TTempDir FDir;
  std::vector<TInformCall> FInforms;
  std::vector<TrclMessageBox> FBoxes;
};

TEST(InformerDefaultsTest, DependOnTheProgramKind) {
  struct TCase {
    TrclInformerProgramKind Kind;
    uint8_t ConsoleBits;
    uint8_t MessageBits;
  };
  // Bits: imtDebug 1, imtMessage 2, imtError 4, imtCriticalError 8, imtSilentError 16.
  const TCase cases[] = {
      {TrclInformerProgramKind::ipkGui, 0x00, 0x0E},
      {TrclInformerProgramKind::ipkConsole, 0x0E, 0x00},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Kind));
    const TrclInformer informer(c.Kind);
    EXPECT_EQ(informer.ProgramKind(), c.Kind);
    EXPECT_EQ(informer.ConsoleOptions().Bits(), c.ConsoleBits);
    EXPECT_EQ(informer.MessageOptions().Bits(), c.MessageBits);
    EXPECT_EQ(informer.LogOptions().Bits(), 0x1E);
    EXPECT_EQ(informer.LogFileName(), platform::ExecutablePath() + ".log");  // the test binary has no extension
    EXPECT_TRUE(informer.ExitOnCriticalError());
    EXPECT_EQ(informer.LogFileLimitMb(), 5);
    EXPECT_EQ(informer.ErrorCount(), 0);
    EXPECT_TRUE(informer.LogDateTime());
    EXPECT_FALSE(informer.LogProcessId());
    EXPECT_FALSE(informer.LogDebugBits());
    EXPECT_TRUE(informer.LogFile_AnsiMode());
    EXPECT_FALSE(informer.LogFile_NoLockUsing());
    EXPECT_EQ(informer.DebugLevelBits(), 0);
    EXPECT_EQ(informer.ApplicationHandle(), nullptr);
  }
}

TEST_F(InformerTest, DebugTracesFollowTheEnabledBits) {
  struct TCase {
    int64_t LevelBits;
    int64_t Bit;
    bool Reported;
    bool Logged;
  };
  const TCase cases[] = {
      {5, 4, true, true},   {5, 2, false, false}, {5, 0, true, true},
      {5, -1, true, true},  {0, 0, true, false},  // reported, but imtDebug is not logged while no bit is enabled
      {0, 1, false, false},
  };
  int file = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "bits " << c.LevelBits << ", bit " << c.Bit);
    ForgetCalls();
    const std::string name = "debug" + std::to_string(++file) + ".log";
    auto informer = NewInformer(name);
    informer->SetMessageOptions({imtDebug});
    informer->SetDebugLevelBits(c.LevelBits);
    informer->InformDebug(9, "trace", c.Bit);

    EXPECT_EQ(FInforms.size(), c.Reported ? 1u : 0u);
    EXPECT_EQ(FBoxes.size(), c.Reported ? 1u : 0u);
    if (c.Reported) {
      EXPECT_EQ(FInforms[0], (TInformCall{imtDebug, 9, "trace"}));
    }
    EXPECT_EQ(Log(name), c.Logged ? "trace\r\n" : "");
  }
}

TEST_F(InformerTest, DebugLevelBitsAddAndRemoveOnlyTheDebugKind) {
  auto informer = NewInformer();
  informer->SetLogOptions({imtError});
  informer->SetDebugLevelBits(int64_t{1} << 40);
  EXPECT_EQ(informer->LogOptions(), (TrclInformerOutputOptions{imtDebug, imtError}));
  informer->SetDebugLevelBits(0);
  EXPECT_EQ(informer->LogOptions(), (TrclInformerOutputOptions{imtError}));
}

TEST_F(InformerTest, LinePrefixesAndTrimming) {
  struct TCase {
    const char* Name;
    bool ProcessId;
    bool DebugBits;
    bool DateTime;
    std::string Text;
    std::optional<int64_t> DebugBit;  // report a debug trace with this bit instead of a message
    std::string Expected;             // file content; <pid> and <date> stand for their values
  };
  const TCase cases[] = {
      {"no prefix: the trimmed text alone", false, false, false, " \t Text \x01\r\n", {}, "Text\r\n"},
      {"text ending in a break is one line", false, false, false, "Text\r\n", {}, "Text\r\n"},
      {"inner breaks stay", false, false, false, "a\r\nb\n", {}, "a\r\nb\r\n"},
      {"blank text is an empty line", false, false, false, " \r\n", {}, "\r\n"},
      {"process id", true, false, false, "Text", {}, "[pId:<pid>] Text\r\n"},
      {"debug bits of a message are 0", false, true, false, "Text", {}, "[dbg:0] Text\r\n"},
      {"debug bits in upper-case hex", false, true, false, "Text", 0x2A, "[dbg:2A] Text\r\n"},
      {"negative debug bits", false, true, false, "Text", -1, "[dbg:FFFFFFFFFFFFFFFF] Text\r\n"},
      {"date and time", false, false, true, "Text", {}, "[<date>] Text\r\n"},
      {"all three in order", true, true, true, "Text", 0x10, "[pId:<pid>][dbg:10][<date>] Text\r\n"},
      {"only the line's ends are trimmed", true, false, false, " \tText ", {}, "[pId:<pid>]  \tText\r\n"},
  };
  int file = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string name = "prefix" + std::to_string(++file) + ".log";
    auto informer = NewInformer(name);
    informer->SetLogProcessId(c.ProcessId);
    informer->SetLogDebugBits(c.DebugBits);
    informer->SetLogDateTime(c.DateTime);
    informer->SetDebugLevelBits(-1);
    const std::string before = NowText();
    if (c.DebugBit) {
      informer->InformDebug(c.Text, *c.DebugBit);
    } else {
      informer->InformMessage(c.Text);
    }
    const std::string after = NowText();

    std::string actual = Log(name);
    ReplaceAll(actual, "[" + before + "]", "[<date>]");
    ReplaceAll(actual, "[" + after + "]", "[<date>]");
    std::string expected = c.Expected;
    ReplaceAll(expected, "<pid>", Hex(static_cast<uint32_t>(::getpid())));
    EXPECT_EQ(actual, expected);
  }
}

TEST_F(InformerTest, LogSizeIsTestedWhenTheLogIsOpened) {
  struct TCase {
    const char* Name;
    int64_t Size;  // of the existing log, whose first bytes are "old\r\n"
    int32_t LimitMb;
    bool Kept;
  };
  const TCase cases[] = {
      {"6 MiB is emptied", 6 * kMiB, 5, false},
      {"exactly 5 MiB is kept", 5 * kMiB, 5, true},
      {"one byte past the limit is emptied", 5 * kMiB + 1, 5, false},
      {"limit 0 empties any content", 5, 0, false},
      {"limit 0 keeps an empty log", 0, 0, true},
      // Taken whole, not cut to its low 32 bits (which would read 5 bytes and keep the log).
      {"4 GiB and more is emptied", 4096 * kMiB + 5, 5, false},
      // A limit of 4,096 MiB taken whole, not wrapped to 0 (which would empty the log).
      {"a limit of 4 GiB keeps a small log", 6 * kMiB, 4096, true},
  };
  int file = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string name = "size" + std::to_string(++file) + ".log";
    const std::string path = FDir.Write(name, c.Size == 0 ? "" : "old\r\n");
    std::filesystem::resize_file(path, static_cast<uintmax_t>(c.Size));  // sparse: cheap for the large case
    auto informer = NewInformer(name);
    informer->SetLogFileLimitMb(c.LimitMb);
    informer->InformMessage("new");

    if (!c.Kept) {
      ASSERT_EQ(std::filesystem::file_size(path), 5u);
      EXPECT_EQ(Log(name), "new\r\n");
      continue;
    }
    ASSERT_EQ(std::filesystem::file_size(path), static_cast<uintmax_t>(c.Size) + 5);
    const std::string bytes = Log(name);
    if (c.Size > 0) {
      EXPECT_EQ(bytes.substr(0, 5), "old\r\n");
    }
    EXPECT_EQ(bytes.substr(bytes.size() - 5), "new\r\n");
  }
}

TEST_F(InformerTest, NoLockReopensTheLogForEveryLine) {
  struct TCase {
    bool NoLock;
    bool DeleteBetween;                   // else the limit is 0, so that every opening empties the log
    std::optional<std::string> Expected;  // none: no file
  };
  const TCase cases[] = {
      // Reopened, the deleted log is created again; kept open, the line goes to the deleted file.
      {true, true, "two\r\n"},
      {false, true, std::nullopt},
      // Reopened, the size is tested for every line; kept open, the log grows past the limit.
      {true, false, "two\r\n"},
      {false, false, "one\r\ntwo\r\n"},
  };
  int file = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "no lock " << c.NoLock << ", delete " << c.DeleteBetween);
    const std::string name = "nolock" + std::to_string(++file) + ".log";
    auto informer = NewInformer(name);
    informer->SetLogFile_NoLockUsing(c.NoLock);
    if (!c.DeleteBetween) informer->SetLogFileLimitMb(0);
    informer->InformMessage("one");
    ASSERT_EQ(Log(name), "one\r\n");
    if (c.DeleteBetween) std::filesystem::remove(FDir.File(name));
    informer->InformMessage("two");

    EXPECT_EQ(LogExists(name), c.Expected.has_value());
    if (c.Expected) {
      EXPECT_EQ(Log(name), *c.Expected);
    }
  }
}

TEST_F(InformerTest, LogModesWriteUtf8OrUtf16LeBytes) {
  using namespace std::string_literals;
  struct TCase {
    const char* Name;
    bool Ansi;
    std::string Text;
    std::string Bytes;
  };
  const TCase cases[] = {
      {"ANSI keeps the UTF-8 bytes", true, "A\xC3\xA9", "A\xC3\xA9\r\n"},
      {"UTF-16 of ASCII, BMP and astral characters", false, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
       "A\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE\r\0\n\0"s},
      {"UTF-16 replaces a stray byte", false, "a\xFF\x62", "a\0\xFD\xFF\x62\0\r\0\n\0"s},
      {"UTF-16 replaces a cut sequence once", false, "a\xE2\x82", "a\0\xFD\xFF\r\0\n\0"s},
      {"UTF-16 trims as ANSI does", false, " x\r\n", "x\0\r\0\n\0"s},
  };
  int file = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string name = "mode" + std::to_string(++file) + ".log";
    auto informer = NewInformer(name);
    informer->SetLogFile_AnsiMode(c.Ansi);
    informer->InformMessage(c.Text);
    EXPECT_EQ(Log(name), c.Bytes);
  }
}

TEST_F(InformerTest, ProgramConfigurationRoutesEachKind) {
  struct TCase {
    TrclInformerMsgType Kind;
    bool Logged;
    const char* Caption;  // nullptr: no message box
    int32_t ErrorCount;
  };
  const TCase cases[] = {
      {imtDebug, false, nullptr, 0},       {imtMessage, false, "Information", 0},
      {imtError, true, "Error", 1},        {imtCriticalError, true, "Critical Error", 0},
      {imtSilentError, false, nullptr, 1},
  };
  int file = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << int{c.Kind});
    ForgetCalls();
    const std::string name = "program" + std::to_string(++file) + ".log";
    auto informer = NewInformer(name);
    ConfigureForProgram(*informer);
    informer->SetLogDateTime(true);  // the program keeps the default
    informer->SetExitOnCriticalError(false);
    EXPECT_TRUE(informer->ConsoleOptions().Empty());
    EXPECT_EQ(informer->MessageOptions().Bits(), 0x0E);
    Inform(*informer, c.Kind);

    EXPECT_EQ(FInforms, (std::vector<TInformCall>{{c.Kind, 0, "text"}}));
    EXPECT_EQ(informer->ErrorCount(), c.ErrorCount);
    ASSERT_EQ(FBoxes.size(), c.Caption ? 1u : 0u);
    if (c.Caption) {
      EXPECT_EQ(FBoxes[0].Caption, c.Caption);
    }
    // A report that is not logged does not even create the log.
    ASSERT_EQ(LogExists(name), c.Logged);
    if (c.Logged) {
      EXPECT_THAT(Log(name), ::testing::MatchesRegex("\\[pId:" + Hex(static_cast<uint32_t>(::getpid())) +
                                                     "\\]\\[dbg:0\\]\\[[^]]+\\] text\r\n"));
    }
  }
}

TEST_F(InformerTest, MessageBoxesShowTheUncorrectedTextExceptForDebugTraces) {
  struct TCase {
    TrclInformerMsgType Kind;
    const char* Caption;
    TrclMessageBoxIcon Icon;
    const char* BoxText;
  };
  const TCase cases[] = {
      {imtDebug, "Debug", TrclMessageBoxIcon::mbiInformation, "7:text"},
      {imtMessage, "Information", TrclMessageBoxIcon::mbiInformation, "text"},
      {imtError, "Error", TrclMessageBoxIcon::mbiError, "text"},
      {imtCriticalError, "Critical Error", TrclMessageBoxIcon::mbiError, "text"},
      {imtSilentError, "Error", TrclMessageBoxIcon::mbiError, "text"},
  };
  int owner = 0;
  int file = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << int{c.Kind});
    ForgetCalls();
    const std::string name = "box" + std::to_string(++file) + ".log";
    auto informer = NewInformer(name);
    informer->SetMessageOptions({imtDebug, imtMessage, imtError, imtCriticalError, imtSilentError});
    informer->SetApplicationHandle(&owner);
    informer->SetExitOnCriticalError(false);
    informer->SetDebugLevelBits(1);
    informer->SetOnTextCorrect(
        [](TrclInformer*, uint32_t AMsgId, std::string& AText) { AText = std::to_string(AMsgId) + ":" + AText; });
    Inform(*informer, c.Kind, 7);
    const uint32_t id = c.Kind == imtDebug ? 7 : 0;

    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FBoxes[0].Owner, &owner);
    EXPECT_EQ(FBoxes[0].MsgType, c.Kind);
    EXPECT_EQ(FBoxes[0].Caption, c.Caption);
    EXPECT_EQ(FBoxes[0].Icon, c.Icon);
    EXPECT_EQ(FBoxes[0].Text, c.BoxText);
    // The callback always gets the text as reported, the log the corrected one.
    EXPECT_EQ(FInforms, (std::vector<TInformCall>{{c.Kind, id, "text"}}));
    EXPECT_EQ(Log(name), std::to_string(id) + ":text\r\n");
  }
}

TEST_F(InformerTest, MessageBoxWithoutAHandlerGoesToStandardError) {
  auto informer = NewInformer();
  informer->SetOnMessageBox(nullptr);
  informer->SetLogOptions({});
  ::testing::internal::CaptureStderr();
  informer->InformError("disk \xC3\xA9 full");
  informer->InformSilentError("not shown");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: disk \xC3\xA9 full\n");
}

TEST_F(InformerTest, ConsoleProgramWritesTheChosenKindsCorrected) {
  auto informer = NewInformer(kLog, TrclInformerProgramKind::ipkConsole);
  informer->SetDebugLevelBits(1);
  informer->SetOnTextCorrect([](TrclInformer*, uint32_t, std::string& AText) { AText = "<" + AText + ">"; });
  ::testing::internal::CaptureStdout();
  informer->InformDebug("trace", 1);
  informer->InformMessage("message");
  informer->InformError("error");
  informer->InformSilentError("silent");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "<message>\n<error>\n");
  EXPECT_TRUE(FBoxes.empty());
  EXPECT_EQ(Log(), "<trace>\r\n<message>\r\n<error>\r\n<silent>\r\n");
}

TEST_F(InformerTest, FailedConsoleWriteIsRaisedBeforeTheOtherOutputs) {
  EXPECT_EXIT(
      {
        auto informer = NewInformer(kLog, TrclInformerProgramKind::ipkConsole);
        if (std::freopen("/dev/full", "w", stdout) == nullptr) std::_Exit(1);
        try {
          informer->InformError("error");
        } catch (const std::ios_base::failure&) {
          std::_Exit(LogExists() || !FInforms.empty() || informer->ErrorCount() != 0 ? 2 : 7);
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(7), "");
}

TEST_F(InformerTest, CriticalErrorEndsTheProcessWithItsCode) {
  EXPECT_EXIT(
      {
        auto informer = NewInformer();
        informer->SetOnMessageBox(
            [](TrclInformer*, const TrclMessageBox& ABox) { std::fprintf(stderr, "box %s\n", ABox.Caption.c_str()); });
        informer->InformCriticalError("fatal", 3);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(3), "box Critical Error");
  // The child logged its report before it ended.
  EXPECT_EQ(Log(), "fatal\r\n");

  auto informer = NewInformer();
  informer->SetExitOnCriticalError(false);
  informer->InformCriticalError("survived", 3);
  EXPECT_EQ(informer->ErrorCount(), 0);  // critical errors are not counted
  EXPECT_EQ(Log(), "fatal\r\nsurvived\r\n");
}

TEST_F(InformerTest, ALogThatCannotBeOpenedIsReportedAndTriedAgain) {
  struct TCase {
    const char* Name;
    std::string LogName;
    std::string Obstacle;  // a file in place of a folder, or a folder in place of the log
    bool ObstacleIsFolder;
    std::string Error;
  };
  const TCase cases[] = {
      {"folder cannot be created", "blocker/sub/x.log", "blocker", false,
       "Could not create log directory <" + FDir.File("blocker/sub") + ">"},
      {"log cannot be opened", "taken", "taken", true,
       "Could not open log <" + FDir.File("taken") + "> with message:\r\n" + platform::SystemErrorText(EISDIR)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ForgetCalls();
    if (c.ObstacleIsFolder) {
      std::filesystem::create_directory(FDir.File(c.Obstacle));
    } else {
      FDir.Write(c.Obstacle, "");
    }
    auto informer = NewInformer(c.LogName);

    // The first logged report tries twice; the report itself still reaches the callback and
    // the message box.
    informer->InformError("first");
    EXPECT_EQ(FInforms, (std::vector<TInformCall>{{imtError, 0, c.Error}, {imtError, 0, c.Error}, {imtError, 0, "first"}}));
    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FBoxes[0].Text, "first");

    // Later reports try once each, and succeed once the obstacle is gone.
    ForgetCalls();
    informer->InformError("second");
    EXPECT_EQ(FInforms, (std::vector<TInformCall>{{imtError, 0, c.Error}, {imtError, 0, "second"}}));
    std::filesystem::remove(FDir.File(c.Obstacle));
    ForgetCalls();
    informer->InformError("third");
    EXPECT_EQ(FInforms, (std::vector<TInformCall>{{imtError, 0, "third"}}));
    EXPECT_EQ(Log(c.LogName), "third\r\n");
    EXPECT_EQ(informer->ErrorCount(), 3);
  }
}

TEST_F(InformerTest, LogErrorsGoToTheDebugOutput) {
  // A fresh process: the debug output reads VELLORAN_DEBUG once, at its first use.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  FDir.Write("blocker", "");
  EXPECT_EXIT(
      {
        ::setenv("VELLORAN_DEBUG", "1", 1);
        auto informer = NewInformer("blocker/x.log");
        informer->SetMessageOptions({});
        informer->InformError("error");
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "Could not create log directory <.*/blocker>");
}

TEST(InformerConcurrencyTest, ReportsFromManyThreadsKeepEveryLineWhole) {
  constexpr int kThreads = 4;
  constexpr int kLines = 4000;
  TTempDir dir;
  TrclInformer informer;
  informer.SetLogFileName(dir.File("threads.log"));
  informer.SetLogDateTime(false);
  informer.SetMessageOptions({});
  // Reopening for every line makes the open log's handle the shared state the lock must guard.
  informer.SetLogFile_NoLockUsing(true);

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&informer, t] {
      for (int i = 0; i < kLines; ++i) informer.InformSilentError("thread " + std::to_string(t) + " line " + std::to_string(i));
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::set<std::string> expected;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; ++i) expected.insert("thread " + std::to_string(t) + " line " + std::to_string(i));
  }
  std::set<std::string> seen;
  std::vector<std::string> odd;  // torn, foreign or repeated lines
  const std::string bytes = ReadAll(dir.File("threads.log"));
  for (size_t start = 0; start < bytes.size();) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = bytes.substr(start, end - start);
    if (expected.count(line) == 0 || !seen.insert(line).second) odd.push_back(line);
    start = end + 2;
  }
  EXPECT_THAT(odd, ::testing::IsEmpty());
  EXPECT_EQ(seen.size(), expected.size()) << "lines lost";
  EXPECT_EQ(informer.ErrorCount(), kThreads * kLines);
}

// A second party hooks in after the owner without unhooking it: it reads the handlers that are
// set and calls them from its own. Both must then run, in the order the chain gives.
TEST_F(InformerTest, HandlersReadBackCanBeChained) {
  auto informer = NewInformer();
  EXPECT_FALSE(informer->OnTextCorrect()) << "unset until someone sets it";
  informer->SetOnTextCorrect([](TrclInformer*, uint32_t, std::string& AText) { AText = "<" + AText + ">"; });

  std::vector<std::string> secondSaw;
  const TInformNotifyEvent ownersInform = informer->OnInform();
  ASSERT_TRUE(ownersInform);
  informer->SetOnInform(
      [&secondSaw, ownersInform](TrclInformer* Sender, TrclInformerMsgType AMsgType, uint32_t AMsgId, const std::string& AText) {
        secondSaw.push_back(AText);
        ownersInform(Sender, AMsgType, AMsgId, AText);
      });
  const TInformTextCorrectEvent ownersCorrect = informer->OnTextCorrect();
  informer->SetOnTextCorrect([ownersCorrect](TrclInformer* Sender, uint32_t AMsgId, std::string& AText) {
    ownersCorrect(Sender, AMsgId, AText);
    AText += "!";
  });

  informer->InformMessage("text");
  EXPECT_EQ(secondSaw, std::vector<std::string>{"text"});
  EXPECT_EQ(FInforms, std::vector<TInformCall>{(TInformCall{imtMessage, 0, "text"})}) << "the owner's handler still runs";
  EXPECT_EQ(Log(), "<text>!\r\n") << "both corrections, the owner's first";
}

}  // namespace
}  // namespace velloran
