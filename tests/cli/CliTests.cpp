// The velloran command line is an interface scripts rely on: output bytes, messages and
// exit codes are checked here against the built program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "CliRun.h"
#include "EventLines.h"
#include "RunProgram.h"
#include "TestFiles.h"

namespace {

using ::testing::HasSubstr;
using velloran::test::TTempDir;

using TResult = velloran::test::TProgramResult;
using velloran::test::ReadAll;

using velloran::test::Quote;
using velloran::test::RunCli;

TEST(CliTest, CountAndLinePrintTheIndexedLines) {
  TTempDir dir;
  const std::string log = Quote(dir.Write("a.log", "first\r\nsec\nond\r\n\r\nlast"));
  TResult count = RunCli("count " + log, dir);
  EXPECT_EQ(count.ExitCode, 0);
  EXPECT_EQ(count.Out, "4\n");
  EXPECT_EQ(count.Err, "");

  struct TCase {
    const char* Line;
    const char* Out;
  };
  const TCase cases[] = {{"0", "first\n"}, {"1", "sec\nond\n"}, {"2", "\n"}, {"3", "last\n"}};
  for (const TCase& c : cases) {
    const TResult line = RunCli("line " + log + " " + c.Line, dir);
    EXPECT_EQ(line.ExitCode, 0) << c.Line;
    EXPECT_EQ(line.Out, c.Out) << c.Line;
  }
}

TEST(CliTest, EmptyFileHasNoLines) {
  TTempDir dir;
  const std::string log = Quote(dir.Write("empty.log", ""));
  const TResult count = RunCli("count " + log, dir);
  EXPECT_EQ(count.ExitCode, 0);
  EXPECT_EQ(count.Out, "0\n");
  const TResult line = RunCli("line " + log + " 0", dir);
  EXPECT_EQ(line.ExitCode, 1);
  EXPECT_THAT(line.Err, HasSubstr("no such line"));
}

TEST(CliTest, ErrorsNameTheFileAndTheCause) {
  TTempDir dir;
  const std::string log = dir.Write("a.log", "A\r\n");
  const std::string empty = dir.File("empty");
  std::filesystem::create_directory(empty);
  struct TCase {
    std::string Arguments;
    int ExitCode;
    std::string Message;
  };
  const TCase cases[] = {
      {"count " + Quote(dir.File("missing.log")), 1, dir.File("missing.log") + ": No such file or directory"},
      {"count " + Quote(empty), 1, empty + ": it is a folder without logs"},
      {"line " + Quote(log) + " 1", 1, "no such line " + log},
      {"line " + Quote(log) + " -1", 1, "no such line " + log},
      {"line " + Quote(log) + " x", 2, "N"},
      {"count", 2, "FILE"},
      {"frobnicate " + Quote(log), 2, ""},
      {"", 2, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Arguments);
    const TResult result = RunCli(c.Arguments, dir);
    EXPECT_EQ(result.ExitCode, c.ExitCode);
    EXPECT_EQ(result.Out, "");
    EXPECT_THAT(result.Err, HasSubstr(c.Message));
  }
}

TEST(CliTest, HelpAndVersion) {
  TTempDir dir;
  const TResult help = RunCli("--help", dir);
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_THAT(help.Out, HasSubstr("count"));
  EXPECT_THAT(help.Out, HasSubstr("line"));
  const TResult version = RunCli("--version", dir);
  EXPECT_EQ(version.ExitCode, 0);
  EXPECT_THAT(version.Out, ::testing::StartsWith("velloran "));
}

const std::string kLog = std::string(R"(<Event><A data_type="1">x</A><B data_type="0">5</B></Event>)") + "\r\n" +
                         R"(<Event><A data_type="1">y,z</A><C data_type="3">10.0.0.1</C></Event>)" + "\r\n";

TEST(CliTest, ShowAndColumnsParseRecords) {
  TTempDir dir;
  const std::string log = Quote(dir.Write("a.log", kLog));
  const TResult show = RunCli("show " + log + " 1", dir);
  EXPECT_EQ(show.ExitCode, 0);
  EXPECT_EQ(show.Out, "A=y,z\nC=10.0.0.1\n");
  const TResult columns = RunCli("columns " + log, dir);
  EXPECT_EQ(columns.ExitCode, 0);
  EXPECT_EQ(columns.Out, "A\trdtString\nB\trdtInteger\nC\trdtIPv4\n");
  EXPECT_EQ(RunCli("show " + log + " 2", dir).ExitCode, 1);
}

TEST(CliTest, ShowDecodesAndShowsTheExchangeOnlyWhenAsked) {
  TTempDir dir;
  using velloran::test::EventLine;
  const std::string log = Quote(
      dir.Write("exchange.log", velloran::test::LogOf({
                                    EventLine({{"Timestamp", "12/01/2026 00:00:00.904"},
                                               {"Class", "A"},
                                               {"User-Name", "CORP\\alice"},
                                               {"NAS-Identifier", "WLC-2"},
                                               {"NAS-IP-Address", "10.35.217.16"},
                                               {"Packet-Type", "1"}}),
                                    EventLine({{"Timestamp", "12/01/2026 00:00:01.000"}, {"Class", "B"}, {"Packet-Type", "1"}}),
                                    EventLine({{"Timestamp", "12/01/2026 00:00:01.250"},
                                               {"Class", "A"},
                                               {"NP-Policy-Name", "Wi-Fi &amp; Staff"},
                                               {"Packet-Type", "3"},
                                               {"Reason-Code", "16"}}),
                                })));
  // Without flags: exactly as the log holds it, as scripts expect.
  EXPECT_EQ(RunCli("show " + log + " 2", dir).Out,
            "Timestamp=12/01/2026 00:00:01.250\nClass=A\nNP-Policy-Name=Wi-Fi &amp; Staff\nPacket-Type=3\nReason-Code=16\n");
  const TResult decoded = RunCli("show " + log + " 2 --decode", dir);
  EXPECT_EQ(decoded.ExitCode, 0);
  EXPECT_EQ(decoded.Out,
            "Timestamp=12/01/2026 00:00:01.250\nClass=A\nNP-Policy-Name=Wi-Fi & Staff\nPacket-Type=Access-Reject (3)\n"
            "Reason-Code=16 \u2014 Credentials mismatch: unknown user name or wrong password\n");
  const std::string answer =
      "Refused: CORP\\alice from WLC-2 (10.35.217.16), policy \"Wi-Fi & Staff\", reason 16: Credentials mismatch: "
      "unknown user name or wrong password\n";
  const TResult exchange = RunCli("show " + log + " 2 --exchange", dir);
  EXPECT_EQ(exchange.ExitCode, 0);
  EXPECT_EQ(exchange.Out, answer +
                              "0\t12/01/2026 00:00:00.904\tAccess-Request (1)\n"
                              "2\t12/01/2026 00:00:01.250\tAccess-Reject (3)\t<\n");
  const TResult lone = RunCli("show " + log + " 1 --exchange", dir);
  EXPECT_THAT(lone.Out, HasSubstr("(no other record of this Class within 2,000 records)"));
}

TEST(CliTest, ExportChoosesItsFormatAndOptions) {
  TTempDir dir;
  const std::string log = Quote(dir.Write("a.log", kLog));
  const std::string csv = "A,B,C\r\nx,5,\r\n\"y,z\",,10.0.0.1\r\n";
  const std::string xml = "<Event><A>x</A><B>5</B></Event>\r\n<Event><A>y,z</A><C>10.0.0.1</C></Event>\r\n";
  struct TCase {
    std::string Out;
    std::string Options;
    std::string Bytes;
  };
  const TCase cases[] = {
      {"out.csv", "", csv},
      {"OUT.CSV", "", csv},
      {"out.xml", "", xml},
      {"out.txt", "", xml},
      {"out.txt", "--format csv", csv},
      {"out.csv", "--format xml", xml},
      {"out.csv", "--columns 'C;A' --no-header", ",x\r\n10.0.0.1,\"y,z\"\r\n"},
      {"out.csv", "--separator ';'", "A;B;C\r\nx;5;\r\ny,z;;10.0.0.1\r\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Out + " " + c.Options);
    const std::string out = dir.File(c.Out);
    const TResult result = RunCli("export " + log + " " + Quote(out) + " " + c.Options, dir);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Err, "");
    EXPECT_EQ(ReadAll(out), c.Bytes);
    std::remove(out.c_str());
  }
}

TEST(CliTest, ExportWarnsOfListedColumnsNoRecordHasAndOfReplacedCharacters) {
  TTempDir dir;
  const std::string nul(1, '\0');
  std::string hexLine = "0x";  // a NUL in a value comes from a hexadecimal line
  for (const char c : R"(<Event><A data_type="1">a)" + nul + nul + R"(</A><Packet-Type data_type="0">3</Packet-Type></Event>)")
    hexLine.append(1, "0123456789ABCDEF"[static_cast<unsigned char>(c) >> 4]).append(1, "0123456789ABCDEF"[c & 15]);
  const std::string log = Quote(dir.Write("a.log", kLog + hexLine + "\r\n"));
  const std::string out = dir.File("out.csv");
  struct TCase {
    std::string Options;
    std::string Bytes;
    std::string Err;
  };
  const std::string replacement = "\xEF\xBF\xBD";
  const TCase cases[] = {
      {"--columns 'A,Foo,packet-type,x\ty'",
       "A,Foo,packet-type,x\ty\r\nx,,,\r\n\"y,z\",,,\r\na" + replacement + replacement + ",,3,\r\n",
       "velloran: warning: no record has column \"Foo\"\nvelloran: warning: no record has column \"x\\ty\"\n"
       "velloran: warning: 2 NUL characters written as U+FFFD\n"},
      {"--columns Packet-Type --names", "Packet-Type\r\n\r\n\r\nAccess-Reject\r\n", ""},
      {"--columns A,Packet-Type --format xml",
       "<Event><A>x</A></Event>\r\n<Event><A>y,z</A></Event>\r\n<Event><A>a" + replacement + replacement +
           "</A><Packet-Type>3</Packet-Type></Event>\r\n",
       "velloran: warning: 2 characters XML cannot hold written as U+FFFD\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Options);
    const TResult result = RunCli("export " + log + " " + Quote(out) + " " + c.Options, dir);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Err, c.Err);
    EXPECT_EQ(ReadAll(out), c.Bytes);
  }
}

// Python's csv module and XML parser read the export back: the readers the files are for.
TEST(CliTest, ExportIsReadBackByPythonsCsvAndXmlReaders) {
  const char* python = "/usr/bin/python3";
  if (!std::filesystem::exists(python)) GTEST_SKIP() << "no " << python;
  TTempDir dir;
  const std::string log = dir.Write(
      "a.log",
      velloran::test::LogOf({
          velloran::test::EventLine(
              {{"User-Name", "alice"}, {"Packet-Type", "1"}, {"NP-Policy-Name", "Guest &amp; Contractors"}}),
          velloran::test::EventLine({{"Packet-Type", "3"}, {"Class", "311 1"}, {"Reason-Code", "16"}, {"Class", "311 2"}}),
          velloran::test::EventLine({{"User-Name", ""}, {"Framed-MTU", "\\."}, {"Filter-Id", "a&#13;b\tc\x01"}}),
      }));
  const std::string script = dir.Write("read.py", R"(import csv, sys, xml.etree.ElementTree as ET
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    rows = list(csv.reader(f))
print(ascii(rows[0]))
for row in rows[1:]:
    print(len(row), ascii({name: value for name, value in zip(rows[0], row) if value}))
for line in open(sys.argv[2], 'rb').read().split(b'\r\n')[:-1]:
    print(ascii([(child.tag, child.text) for child in ET.fromstring(line)]))
)");
  const std::string csv = dir.File("out.csv");
  const std::string xml = dir.File("out.xml");
  ASSERT_EQ(RunCli("export " + Quote(log) + " " + Quote(csv), dir).ExitCode, 0);
  ASSERT_EQ(RunCli("export " + Quote(log) + " " + Quote(xml), dir).ExitCode, 0);
  std::string read;
  std::FILE* pipe = ::popen((std::string(python) + " " + Quote(script) + " " + Quote(csv) + " " + Quote(xml)).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::array<char, 4096> buffer{};
  size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) read.append(buffer.data(), got);
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(read,
            "['User-Name', 'Packet-Type', 'NP-Policy-Name', 'Class', 'Reason-Code', 'Framed-MTU', 'Filter-Id']\n"
            "7 {'User-Name': 'alice', 'Packet-Type': '1', 'NP-Policy-Name': 'Guest & Contractors'}\n"
            "7 {'Packet-Type': '3', 'Class': '311 1\\n311 2', 'Reason-Code': '16'}\n"
            "7 {'Framed-MTU': '\\\\.', 'Filter-Id': 'a\\rb\\tc\\x01'}\n"
            "[('User-Name', 'alice'), ('Packet-Type', '1'), ('NP-Policy-Name', 'Guest & Contractors')]\n"
            "[('Packet-Type', '3'), ('Class', '311 1'), ('Reason-Code', '16'), ('Class', '311 2')]\n"
            "[('User-Name', None), ('Framed-MTU', '\\\\.'), ('Filter-Id', 'a\\rb\\tc\\ufffd')]\n");
}

TEST(CliTest, ExportErrors) {
  TTempDir dir;
  const std::string log = dir.Write("a.log", kLog);
  struct TCase {
    std::string Arguments;
    int ExitCode;
    std::string Message;
  };
  const TCase cases[] = {
      {"export " + Quote(log) + " " + Quote(dir.File("no/such/folder/out.csv")), 1,
       "Cannot create " + dir.File("no/such/folder/out.csv") + ": No such file or directory"},
      {"export " + Quote(dir.File("missing.log")) + " " + Quote(dir.File("out.csv")), 1, dir.File("missing.log")},
      {"export " + Quote(log) + " " + Quote(dir.File("out.csv")) + " --separator ab", 2, "one ASCII character"},
      {"export " + Quote(log) + " " + Quote(dir.File("out.csv")) + " --separator '\"'", 2, "double quote"},
      {"export " + Quote(log) + " " + Quote(log), 1, "onto itself"},
      {"show " + Quote(log) + " 0 >/dev/full", 1, "Cannot write to standard output: No space left on device"},
      {"columns " + Quote(log) + " >/dev/full", 1, "Cannot write to standard output"},
      {"export " + Quote(log) + " " + Quote(dir.File("out.csv")) + " --format json", 2, "json"},
      {"export " + Quote(log), 2, "OUT"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Arguments);
    const TResult result = RunCli(c.Arguments, dir);
    EXPECT_EQ(result.ExitCode, c.ExitCode);
    EXPECT_THAT(result.Err, HasSubstr(c.Message));
  }
  EXPECT_EQ(ReadAll(log), kLog) << "the log survives an export onto itself";
}

// velloran follow as a child process, its standard output read through a pipe.
class TFollower {
 public:
  // AOptions follow the log's name on the command line.
  explicit TFollower(const std::string& ALog, const std::vector<std::string>& AOptions = {}) {
    std::vector<std::string> arguments{VELLORAN_CLI, "follow", ALog};
    arguments.insert(arguments.end(), AOptions.begin(), AOptions.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe(fds) != 0) return;
    FPid = ::fork();
    if (FPid == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      ::execv(VELLORAN_CLI, argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    FOut = fds[0];
  }
  ~TFollower() {
    if (FPid > 0) Stop();
    if (FOut >= 0) ::close(FOut);
  }
  TFollower(const TFollower&) = delete;
  TFollower& operator=(const TFollower&) = delete;

  // Reads until the output holds AText or ATimeout passes.
  bool WaitFor(const std::string& AText, std::chrono::milliseconds ATimeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + ATimeout;
    while (Out.find(AText) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{FOut, POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(FOut, buffer, sizeof buffer);
      if (got <= 0) break;
      Out.append(buffer, static_cast<size_t>(got));
    }
    return Out.find(AText) != std::string::npos;
  }
  // Ctrl+C; returns the exit code.
  int Stop() {
    ::kill(FPid, SIGINT);
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Out;

 private:
  pid_t FPid = -1;
  int FOut = -1;
};

void AppendTo(const std::string& APath, const std::string& ABytes) {
  std::FILE* file = std::fopen(APath.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  std::fwrite(ABytes.data(), 1, ABytes.size(), file);
  std::fclose(file);
}

TEST(CliTest, IndexDirKeepsTheLineIndexBetweenRuns) {
  TTempDir dir;
  const std::string log = dir.Write("IN261209.log", "one\r\ntwo\r\nthree\r\n");
  const std::string index = dir.File("index");
  const std::string arguments = "count " + Quote(log) + " --index-dir " + Quote(index);
  EXPECT_EQ(RunCli(arguments, dir).Out, "3\n");
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(index)) files.push_back(entry.path().filename().string());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_THAT(files[0], ::testing::EndsWith("_IN261209.idx"));
  EXPECT_EQ(RunCli(arguments, dir).Out, "3\n");
  EXPECT_EQ(RunCli("line " + Quote(log) + " 2 --index-dir " + Quote(index), dir).Out, "three\n");
}

TEST(CliTest, FollowPrintsTheLogThenEachWholeLineAsItGrows) {
  TTempDir dir;
  const std::string log = dir.Write("IN261209.log", "one\r\ntwo\r\n");
  TFollower follower(log);
  ASSERT_TRUE(follower.WaitFor("one\ntwo\n"));
  AppendTo(log, "three\r\nfour, half");
  ASSERT_TRUE(follower.WaitFor("three\n"));
  AppendTo(log, " whole\r\n");
  ASSERT_TRUE(follower.WaitFor("four, half whole\n"));
  EXPECT_EQ(follower.Stop(), 130);
  EXPECT_EQ(follower.Out, "one\ntwo\nthree\nfour, half whole\n");  // the half line was held back
}

// follow --where prints what grep reports for the log as it stands: a reply that lacks the
// user's name matches through its request, whether that request was there at the start or
// came later, and a half-written line is judged only once it is whole.
TEST(CliTest, FollowWherePrintsTheLinesOfMatchingRecordsAsGrepFindsThem) {
  TTempDir dir;
  using velloran::test::EventLine;
  const std::string bob = EventLine({{"User-Name", "bob"}, {"Class", "K1"}, {"Packet-Type", "1"}});
  const std::string eve = EventLine({{"User-Name", "eve"}, {"Class", "K2"}, {"Packet-Type", "1"}});
  const std::string bobRejected = EventLine({{"Class", "K1"}, {"Packet-Type", "3"}});
  const std::string eveRejected = EventLine({{"Class", "K2"}, {"Packet-Type", "3"}});
  const std::string stranger = EventLine({{"Class", "K9"}, {"Packet-Type", "2"}});  // no request in the log
  const std::string bobAgain = EventLine({{"User-Name", "bob"}, {"Class", "K3"}, {"Packet-Type", "1"}});
  const std::string bobAccepted = EventLine({{"Class", "K3"}, {"Packet-Type", "2"}});
  const std::string log = dir.Write("IN261209.log", velloran::test::LogOf({bob, eve}));
  const std::string query = "User-Name = bob";
  TFollower follower(log, {"--where", query});
  ASSERT_TRUE(follower.WaitFor(bob + "\n"));
  // The half line already names bob: were it judged before it is whole, it would be printed twice.
  const size_t half = bobAgain.find("</User-Name>") + std::string("</User-Name>").size();
  AppendTo(log, velloran::test::LogOf({eveRejected, bobRejected, stranger}) + bobAgain.substr(0, half));
  ASSERT_TRUE(follower.WaitFor(bobRejected + "\n"));
  AppendTo(log, bobAgain.substr(half) + "\r\n" + bobAccepted + "\r\n");
  ASSERT_TRUE(follower.WaitFor(bobAccepted + "\n"));
  EXPECT_EQ(follower.Stop(), 130);
  EXPECT_EQ(follower.Out, bob + "\n" + bobRejected + "\n" + bobAgain + "\n" + bobAccepted + "\n");
  EXPECT_EQ(follower.Out, RunCli("grep " + Quote(log) + " " + Quote(query), dir).Out);
}

// --from-end prints only lines added after the start; a log replaced later is printed from
// its first line.
TEST(CliTest, FollowFromEndSkipsWhatTheLogHeldAtTheStart) {
  TTempDir dir;
  const std::string log = dir.Write("IN261209.log", "old one\r\nold two\r\n");
  TFollower follower(log, {"--from-end"});
  // Lines appended before the follower has indexed the log are old to it too: append until
  // one is printed, then every later one must be.
  int appended = 0;
  do {
    AppendTo(log, "new " + std::to_string(appended++) + "\r\n");
  } while (!follower.WaitFor("new ", std::chrono::milliseconds(200)) && appended < 50);
  AppendTo(log, "last\r\n");
  ASSERT_TRUE(follower.WaitFor("last\n"));
  ASSERT_THAT(follower.Out, ::testing::StartsWith("new "));
  std::string expected;
  for (int i = std::stoi(follower.Out.substr(4)); i < appended; ++i) expected += "new " + std::to_string(i) + "\n";
  EXPECT_EQ(follower.Out, expected + "last\n");
  dir.Write("IN261209.log", "fresh\r\n");  // truncated and rewritten, shorter than before
  ASSERT_TRUE(follower.WaitFor("fresh\n"));
  EXPECT_EQ(follower.Stop(), 130);
  EXPECT_EQ(follower.Out, expected + "last\nfresh\n");
}

TEST(CliTest, FollowRefusesABadQueryBeforeFollowing) {
  TTempDir dir;
  const std::string log = dir.Write("IN261209.log", "one\r\n");
  const TResult result = RunCli("follow " + Quote(log) + " --from-end --where " + Quote("(a"), dir);
  EXPECT_EQ(result.ExitCode, 2);
  EXPECT_EQ(result.Out, "");
  EXPECT_EQ(result.Err, "velloran: bad query: missing ')' for the '(' at column 1\n");
}

}  // namespace

TEST(CliTest, InputsThatAreNoLogAndIndexFoldersThatTakeNothingAreSaid) {
  TTempDir dir;
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    const TResult count = RunCli("count " + Quote(path), dir);
    EXPECT_EQ(count.ExitCode, 1) << path;
    EXPECT_EQ(count.Err, "velloran: Cannot open " + path + ": not a regular file\n");
  }

  // An index folder that is a file: a warning naming it, and every line counted.
  std::string lines;
  for (int i = 0; i < 4000; ++i) lines += "<Event>" + std::to_string(i) + "</Event>\r\n";
  const std::string log = dir.Write("big.log", lines);
  const std::string notAFolder = dir.Write("index-file", "x");
  const TResult count = RunCli("count " + Quote(log) + " --index-dir " + Quote(notAFolder), dir);
  EXPECT_EQ(count.ExitCode, 0);
  EXPECT_EQ(count.Out, "4000\n");
  EXPECT_THAT(count.Err, HasSubstr("velloran: warning: Cannot keep the line index of " + log + " in " + notAFolder));

  // A name with a line break is quoted once, on one line.
  const std::string odd = dir.File("two\nlines.log");
  const TResult missing = RunCli("count " + Quote(odd), dir);
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_EQ(missing.Err, "velloran: Cannot open \"" + dir.File("two\\nlines.log") + "\": No such file or directory\n");
}

namespace {

// grep's output forms, the file prefix of several logs, and grep's exit codes.
TEST(CliTest, GrepPrintsMatchingRecordsAndExitsAsGrepDoes) {
  TTempDir dir;
  using velloran::test::EventLine;
  const std::string request = EventLine({{"User-Name", "CORP\\bob"}, {"Class", "K1"}, {"Packet-Type", "1"}});
  const std::string reject = EventLine({{"Class", "K1"}, {"Packet-Type", "3"}});
  const std::string other = EventLine({{"User-Name", "eve"}, {"Class", "K2"}, {"Packet-Type", "1"}});
  const std::string monday = Quote(dir.Write("monday.log", velloran::test::LogOf({request, other, reject})));
  const std::string tuesday = Quote(dir.Write("tuesday.log", velloran::test::LogOf({other})));
  const std::string bobsRefusals = Quote("User-Name = \"corp\\bob\" and Packet-Type = Access-Reject");
  struct TCase {
    std::string Arguments;
    int ExitCode;
    std::string Out;
    std::string Err;  // a part of it
  };
  const TCase cases[] = {
      {"grep " + monday + " " + bobsRefusals, 0, reject + "\n", ""},
      {"grep --count " + monday + " " + Quote("User-Name = corp\\bob"), 0, "2\n", ""},
      {"grep --numbers " + monday + " " + Quote("Packet-Type = 1"), 0, "0\n1\n", ""},
      {"grep --show " + monday + " " + Quote("eve"), 0, "User-Name=eve\nClass=K2\nPacket-Type=1\n\n", ""},
      {"grep --count " + monday + " " + tuesday + " eve", 0,
       dir.Path().string() + "/monday.log:1\n" + dir.Path().string() + "/tuesday.log:1\n", ""},
      {"grep " + monday + " " + Quote("User-Name = nobody"), 1, "", ""},
      {"grep " + monday + " " + Quote("Fooo = 1"), 1, "", "no record so far has the field Fooo"},
      {"grep " + monday + " " + Quote("User-Name = \"bob"), 2, "", "bad query: unclosed quote at column 13"},
      {"grep " + Quote((dir.Path() / "missing.log").string()) + " eve", 2, "", "missing.log"},
      {"grep " + monday, 2, "", "QUERY"},
  };
  for (const TCase& c : cases) {
    const TResult result = RunCli(c.Arguments, dir);
    EXPECT_EQ(result.ExitCode, c.ExitCode) << c.Arguments;
    EXPECT_EQ(result.Out, c.Out) << c.Arguments;
    EXPECT_THAT(result.Err, HasSubstr(c.Err)) << c.Arguments;
  }
}

TEST(CliTest, ExportWhereWritesOnlyMatchingRecords) {
  TTempDir dir;
  using velloran::test::EventLine;
  const std::string log =
      Quote(dir.Write("w.log", velloran::test::LogOf({EventLine({{"User-Name", "a"}, {"Packet-Type", "3"}}),
                                                      EventLine({{"User-Name", "b"}, {"Packet-Type", "2"}}),
                                                      EventLine({{"User-Name", "c"}, {"Packet-Type", "3"}})})));
  const std::string out = (dir.Path() / "refusals.csv").string();
  const TResult result = RunCli("export " + log + " " + Quote(out) + " --where " + Quote("Packet-Type = Access-Reject"), dir);
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_EQ(ReadAll(out), "User-Name,Packet-Type\r\na,3\r\nc,3\r\n");
  const TResult bad = RunCli("export " + log + " " + Quote(out) + " --where " + Quote("(a"), dir);
  EXPECT_EQ(bad.ExitCode, 2);
  EXPECT_THAT(bad.Err, HasSubstr("missing ')' for the '(' at column 1"));
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------------------------
// Sets of logs

// The lines of a log, without their CR LF.
std::vector<std::string> LinesOf(const std::string& APath) {
  const std::string bytes = ReadAll(APath);
  std::vector<std::string> lines;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = bytes.find("\r\n", at);
    lines.push_back(bytes.substr(at, end - at));
    at = end == std::string::npos ? bytes.size() : end + 2;
  }
  return lines;
}

// A record's Timestamp (MM/DD/YYYY HH:MM:SS, milliseconds optional) as text that sorts by time.
std::string TimeKey(const std::string& ALine) {
  const std::string tag = "<Timestamp data_type=\"4\">";
  const size_t at = ALine.find(tag) + tag.size();
  const std::string stamp = ALine.substr(at, ALine.find('<', at) - at);
  std::string key = stamp.substr(6, 4) + stamp.substr(0, 2) + stamp.substr(3, 2) + stamp.substr(10, 9);
  return key + (stamp.size() > 19 ? stamp.substr(19) : ".000");
}

// Two servers' logs in a folder of their own (no other file there), written by the log
// generator. NPS-A's 300 records start first; NPS-B's 100 begin before NPS-A's last ones, so
// merged by time the two interleave for a stretch.
struct TTwoServers {
  explicit TTwoServers(const TTempDir& ADir) : Folder(ADir.File("logs")) {
    std::filesystem::create_directory(Folder);
    A = Generate(ADir, "logs/a.log", 2, 300, "NPS-A");
    B = Generate(ADir, "logs/b.log", 8, 100, "NPS-B");
  }
  static std::string Generate(const TTempDir& ADir, const std::string& AName, int ASeed, int ARecords,
                              const std::string& AServer) {
    const std::string path = ADir.File(AName);
    const TResult result =
        velloran::test::RunProgram(VELLORAN_GENLOG,
                                   "--seed " + std::to_string(ASeed) + " --records " + std::to_string(ARecords) + " --server " +
                                       AServer + " -o " + Quote(path),
                                   ADir);
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    return path;
  }
  // Each line of the files prefixed with its file's name and ":", as grep prints them.
  std::string Prefixed(const std::string& AFile) const {
    std::string out;
    for (const std::string& line : LinesOf(AFile)) out += AFile + ":" + line + "\n";
    return out;
  }
  // Every record of both, merged by time as grep prints them; equal times keep NPS-A's first
  // (its file starts first).
  std::string MergedByTime() const {
    std::vector<std::pair<std::string, std::string>> records;  // file, line
    for (const std::string& file : {A, B}) {
      for (const std::string& line : LinesOf(file)) records.emplace_back(file, line);
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const auto& AX, const auto& AY) { return TimeKey(AX.second) < TimeKey(AY.second); });
    std::string out;
    for (const auto& [file, line] : records) out += file + ":" + line + "\n";
    return out;
  }

  std::string Folder, A, B;
};

TEST(CliSetTest, CountOfASetIsTheTotalAndPerFileCountsEachLogInSetOrder) {
  TTempDir dir;
  const TTwoServers logs(dir);
  const std::string perFile = logs.A + ": 300\n" + logs.B + ": 100\n400\n";
  struct TCase {
    std::string Arguments;
    std::string Out;
  };
  const TCase cases[] = {
      {"count " + Quote(logs.B) + " " + Quote(logs.A), "400\n"},
      {"count --per-file " + Quote(logs.B) + " " + Quote(logs.A), perFile},  // set order: NPS-A starts first
      {"count --per-file " + Quote(logs.Folder), perFile},                   // a folder: its logs
      {"count --per-file " + Quote(logs.A), logs.A + ": 300\n300\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Arguments);
    const TResult result = RunCli(c.Arguments, dir);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Out, c.Out);
  }
}

// Several servers' records come out merged by time, each line naming its file, and the
// numbers grep gives are the set's: line and show take them with the same arguments.
TEST(CliSetTest, GrepOverTwoServersIsInTimeOrderAndItsNumbersAreTheSets) {
  TTempDir dir;
  const TTwoServers logs(dir);
  const std::string both = Quote(logs.B) + " " + Quote(logs.A);
  const TResult all = RunCli("grep " + both + " ''", dir);
  EXPECT_EQ(all.ExitCode, 0);
  ASSERT_NE(logs.MergedByTime(), logs.Prefixed(logs.A) + logs.Prefixed(logs.B)) << "the fixture's servers must interleave";
  EXPECT_EQ(all.Out, logs.MergedByTime());
  EXPECT_EQ(RunCli("grep " + Quote(logs.Folder) + " ''", dir).Out, all.Out);

  const std::string rejects = Quote("Packet-Type = Access-Reject");
  const TResult lines = RunCli("grep " + both + " " + rejects, dir);
  const TResult numbers = RunCli("grep --numbers " + both + " " + rejects, dir);
  ASSERT_EQ(numbers.ExitCode, 0);
  std::vector<std::string> matched;  // the lines grep printed, without their file's name
  for (size_t at = 0; at < lines.Out.size(); at = lines.Out.find('\n', at) + 1) {
    const size_t colon = lines.Out.find(":<Event>", at);
    matched.push_back(lines.Out.substr(colon + 1, lines.Out.find('\n', at) - colon - 1));
  }
  std::vector<std::string> asked;
  for (size_t at = 0; at < numbers.Out.size(); at = numbers.Out.find('\n', at) + 1)
    asked.push_back(numbers.Out.substr(at, numbers.Out.find('\n', at) - at));
  ASSERT_EQ(asked.size(), matched.size());
  bool fromB = false;
  for (size_t i = 0; i < asked.size(); ++i) {
    SCOPED_TRACE(asked[i]);
    EXPECT_EQ(RunCli("line " + both + " " + asked[i], dir).Out, matched[i] + "\n");
    if (fromB || matched[i].find(">NPS-B<") == std::string::npos) continue;
    fromB = true;
    // Its exchange: records of NPS-B alone, under the set's numbers, the one asked marked.
    const TResult exchange = RunCli("show " + both + " " + asked[i] + " --exchange", dir);
    EXPECT_EQ(exchange.ExitCode, 0);
    EXPECT_THAT(exchange.Out, HasSubstr("\n" + asked[i] + "\t"));
    EXPECT_THAT(exchange.Out, HasSubstr("Access-Reject (3)\t<\n"));
  }
  EXPECT_TRUE(fromB) << "no reject of NPS-B among the matches";

  const auto countOf = [](const std::string& AFile) {
    const std::string bytes = ReadAll(AFile);
    int count = 0;
    for (size_t at = bytes.find("<Packet-Type data_type=\"0\">3<"); at != std::string::npos;
         at = bytes.find("<Packet-Type", at + 1))
      count += bytes.compare(at, 29, "<Packet-Type data_type=\"0\">3<") == 0 ? 1 : 0;
    return count;
  };
  EXPECT_EQ(RunCli("grep --count " + both + " " + rejects, dir).Out,
            logs.A + ":" + std::to_string(countOf(logs.A)) + "\n" + logs.B + ":" + std::to_string(countOf(logs.B)) + "\n");
}

// --merge and --tz decide the order of two servers' records; a zone stated for both servers
// moves neither and leaves nothing to warn about.
TEST(CliSetTest, MergeAndTimeZonesDecideTheOrderOfTwoServers) {
  TTempDir dir;
  const TTwoServers logs(dir);
  const std::string merged = logs.MergedByTime();
  const std::string aThenB = logs.Prefixed(logs.A) + logs.Prefixed(logs.B);
  const std::string bThenA = logs.Prefixed(logs.B) + logs.Prefixed(logs.A);
  const std::string unstated = "no time zone is stated";
  struct TCase {
    std::string Options;
    std::string Out;
    bool Unstated;  // whether standard error says that times were merged without zones
  };
  const TCase cases[] = {
      {"", merged, true},
      {"--merge time", merged, true},
      {"--merge auto", merged, true},
      {"--merge concat", aThenB, false},
      {"--tz " + Quote(logs.B + "=+01:00"), bThenA, true},  // NPS-B's times an hour earlier in UTC
      {"--tz a.log=UTC-1", bThenA, true},                   // by its name alone: NPS-A's an hour later
      {"--tz a.log=Europe/Berlin --tz b.log=Europe/Berlin", merged, false},
      {"--tz " + Quote(logs.Folder + "=+01:00"), merged, false},  // a folder: each of its logs
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Options);
    const TResult result = RunCli("grep " + Quote(logs.A) + " " + Quote(logs.Folder) + " '' " + c.Options, dir);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Out, c.Out);
    EXPECT_EQ(result.Err.find(unstated) != std::string::npos, c.Unstated) << result.Err;
  }
}

// The set's XML export is each file's own export, record by record in the set's order (one
// record a line).
TEST(CliSetTest, ExportOfASetIsThePerFileExportsInSetOrder) {
  TTempDir dir;
  const TTwoServers logs(dir);
  const auto exported = [&](const std::string& AArguments, const std::string& AOut) {
    const TResult result = RunCli("export " + AArguments + " " + Quote(dir.File(AOut)), dir);
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    return LinesOf(dir.File(AOut));
  };
  const std::vector<std::string> a = exported(Quote(logs.A), "a.xml");
  const std::vector<std::string> b = exported(Quote(logs.B), "b.xml");
  ASSERT_EQ(a.size(), 300u);
  ASSERT_EQ(b.size(), 100u);

  // The set's order, file by file, from grep's prefixes.
  const std::string order = RunCli("grep " + Quote(logs.Folder) + " ''", dir).Out;
  std::vector<std::string> merged;
  size_t nextA = 0, nextB = 0;
  for (size_t at = 0; at < order.size(); at = order.find('\n', at) + 1)
    merged.push_back(order.compare(at, logs.A.size() + 1, logs.A + ":") == 0 ? a.at(nextA++) : b.at(nextB++));
  EXPECT_EQ(exported(Quote(logs.A) + " " + Quote(logs.B), "set.xml"), merged);

  std::vector<std::string> concatenated = a;
  concatenated.insert(concatenated.end(), b.begin(), b.end());
  EXPECT_EQ(exported(Quote(logs.B) + " " + Quote(logs.A) + " --merge concat", "concat.xml"), concatenated);
}

// A file that is no log, a missing one or a folder without logs is skipped with a message
// naming it while other logs remain, and is the error when none does; a --tz that names no
// log or no zone is bad usage, as is an OUT that is another log (OUT forgotten after a
// wildcard).
TEST(CliSetTest, WhatCannotBeReadIsSkippedAndBadSetOptionsAreUsageErrors) {
  TTempDir dir;
  const std::string log = dir.Write("a.log", velloran::test::LogOf({velloran::test::EventLine({{"User-Name", "alice"}})}));
  const std::string other = dir.Write("b.log", velloran::test::LogOf({velloran::test::EventLine({{"User-Name", "bob"}})}));
  const std::string notes = dir.Write("notes.txt", "shopping list\r\n");
  const std::string missing = dir.File("missing.log");
  const std::string empty = dir.File("empty");
  std::filesystem::create_directory(empty);
  struct TCase {
    std::string Arguments;
    int ExitCode;
    std::string Out;
    std::string Err;  // a part of it
  };
  const TCase cases[] = {
      {"count " + Quote(log) + " " + Quote(notes), 0, "1\n",
       "velloran: Skipped notes.txt: notes.txt holds no accounting events\n"},
      {"count " + Quote(missing) + " " + Quote(log), 0, "1\n", "velloran: Skipped missing.log: Cannot open " + missing},
      {"count " + Quote(empty) + " " + Quote(log), 0, "1\n", "velloran: Skipped " + empty + ": it is a folder without logs"},
      {"grep " + Quote(log) + " " + Quote(notes) + " alice", 0,
       log + ":" + velloran::test::EventLine({{"User-Name", "alice"}}) + "\n", "Skipped notes.txt"},
      {"count " + Quote(notes) + " " + Quote(missing), 1, "", "notes.txt holds no accounting events"},
      {"line " + Quote(log) + " " + Quote(other) + " 2", 1, "", "no such line in the 2 logs (line 2 asked, they have 2 lines"},
      {"count " + Quote(log) + " " + Quote(other) + " --tz a.log=Mars/Base", 2, "", "unknown time zone \"Mars/Base\""},
      {"grep " + Quote(log) + " " + Quote(other) + " alice --tz c.log=UTC", 2, "", "--tz c.log=UTC: c.log is none of the logs"},
      {"count " + Quote(log) + " --tz " + Quote(log), 2, "", "expected FILE=ZONE"},
      {"count " + Quote(log) + " --merge sideways", 2, "", "--merge"},
      {"line " + Quote(log) + " " + Quote(other), 2, "", "N = " + other},
      {"export " + Quote(log) + " " + Quote(other), 2, "", "OUT " + other + " is an existing .log file"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Arguments);
    const TResult result = RunCli(c.Arguments, dir);
    EXPECT_EQ(result.ExitCode, c.ExitCode);
    EXPECT_EQ(result.Out, c.Out);
    EXPECT_THAT(result.Err, HasSubstr(c.Err));
  }
  EXPECT_EQ(ReadAll(other), velloran::test::LogOf({velloran::test::EventLine({{"User-Name", "bob"}})}));
  EXPECT_EQ(RunCli("export " + Quote(log) + " " + Quote(other) + " " + Quote(other), dir).Err,
            "velloran: Cannot export the set of 2 logs onto " + other + ": " + other + " is one of the logs being read\n");
}

// follow of one server's files: every line of the set, then its newest file (by its times,
// wherever it stands among the arguments) as it grows, its half-written last line held back
// until it is whole.
TEST(CliSetTest, FollowPrintsTheSetThenFollowsItsNewestFile) {
  TTempDir dir;
  const auto event = [](const std::string& AStamp) {
    return velloran::test::EventLine({{"Timestamp", AStamp}, {"Computer-Name", "NPS"}, {"Class", AStamp}});
  };
  const std::string night = event("11/30/2026 23:00:00.000");
  const std::string late = event("11/30/2026 23:59:00.000");
  const std::string morning = event("12/01/2026 09:00:00.000");
  const std::string later = event("12/01/2026 09:30:00.000");
  const std::string older = dir.Write("IN261130.log", velloran::test::LogOf({night, late}));
  const std::string newest = dir.Write("IN261201.log", velloran::test::LogOf({morning}) + later.substr(0, 20));
  TFollower follower(newest, {older});
  const std::string before = night + "\n" + late + "\n" + morning + "\n";
  ASSERT_TRUE(follower.WaitFor(before));
  AppendTo(newest, later.substr(20) + "\r\n");
  ASSERT_TRUE(follower.WaitFor(later + "\n"));
  EXPECT_EQ(follower.Stop(), 130);
  EXPECT_EQ(follower.Out, before + later + "\n");
}

}  // namespace
