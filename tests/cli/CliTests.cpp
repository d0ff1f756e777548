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

#include "EventLines.h"
#include "RunProgram.h"
#include "TestFiles.h"

namespace {

using ::testing::HasSubstr;
using velloran::test::TTempDir;

using TResult = velloran::test::TProgramResult;
using velloran::test::ReadAll;

std::string Quote(const std::string& AText) { return velloran::test::ShellQuoted(AText); }

TResult RunCli(const std::string& AArguments, const TTempDir& ADir) {
  return velloran::test::RunProgram(VELLORAN_CLI, AArguments, ADir);
}

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
  struct TCase {
    std::string Arguments;
    int ExitCode;
    std::string Message;
  };
  const TCase cases[] = {
      {"count " + Quote(dir.File("missing.log")), 1, dir.File("missing.log") + ": No such file or directory"},
      {"count " + Quote(dir.Path().string()), 1, dir.Path().string() + ": it is a folder"},
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
