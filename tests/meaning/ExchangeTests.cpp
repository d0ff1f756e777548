#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "CodeNames.h"
#include "EventLines.h"
#include "Exchange.h"
#include "LogData.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::EventLine;
using ::testing::ElementsAre;

std::string Record(std::string_view AType, std::string_view AClass, test::TAttributes AMore = {},
                   std::string_view AServer = "NPS-1") {
  test::TAttributes attributes{{"Computer-Name", std::string(AServer)}};
  if (!AClass.empty()) attributes.emplace_back("Class", std::string(AClass));
  for (auto& more : AMore) attributes.push_back(std::move(more));
  attributes.emplace_back("Packet-Type", std::string(AType));
  return EventLine(attributes);
}

std::vector<int64_t> RecordsOf(const TExchange& AExchange) {
  std::vector<int64_t> records;
  for (const TExchangeMember& member : AExchange.Members) records.push_back(member.Record);
  return records;
}

// Three sessions interleaved as on a busy server, one of them with challenge rounds, plus the
// records that pair with nothing.
class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const test::TAttributes alice{{"User-Name", "CORP\\alice"}, {"NAS-Identifier", "WLC-2"}, {"NAS-IP-Address", "10.35.217.16"}};
    const std::vector<std::string> lines = {
        /* 0 */ Record("1", "A", alice),
        /* 1 */ Record("1", "B", {{"User-Name", "bob"}, {"NAS-Identifier", "Switch &amp; Co"}}),
        /* 2 */ Record("11", "A"),
        /* 3 */ Record("1", "A", alice),
        /* 4 */ Record("3", "B", {{"NP-Policy-Name", "Guests &amp; Contractors"}, {"Reason-Code", "8"}}),
        /* 5 */ Record("3", "A", {{"NP-Policy-Name", "Wi-Fi Staff"}, {"Reason-Code", "16"}}),
        /* 6 */ Record("4", "A"),
        /* 7 */ Record("2", "C", {{"NP-Policy-Name", "VPN"}}),  // its request is not in the log
        /* 8 */ Record("1", ""),                                // no Class
        /* 9 */ Record("1", "A", alice, "NPS-2"),               // same Class, another server
        /* 10 */ Record("2", "AB"),                             // a Class containing another
        /* 11 */ Record("1", "D", {{"User-Name", "dave"}}),
        /* 12 */ Record("2", "D"),
    };
    FData.Open(FDir.Write("exchange.log", test::LogOf(lines)));
    ASSERT_EQ(FData.Count(), 13);
  }

  test::TTempDir FDir;
  TData FData;
};

TEST_F(ExchangeTest, GathersTheSessionInLogOrderAndAnswersInOneLine) {
  TExchangeFinder finder(FData);
  for (const int64_t origin : {0, 2, 3, 5, 6}) {
    SCOPED_TRACE(origin);
    const TExchange exchange = finder.Find(origin);
    EXPECT_EQ(exchange.State, TExchangeState::esFound);
    EXPECT_THAT(RecordsOf(exchange), ElementsAre(0, 2, 3, 5, 6));
    EXPECT_EQ(exchange.Request, 0);
    EXPECT_EQ(exchange.Outcome, 5);
    EXPECT_EQ(exchange.Answer,
              "Refused: CORP\\alice from WLC-2 (10.35.217.16), policy \"Wi-Fi Staff\", reason 16: Credentials mismatch: "
              "unknown user name or wrong password");
  }
  const TExchange bob = finder.Find(4);
  EXPECT_THAT(RecordsOf(bob), ElementsAre(1, 4));
  EXPECT_EQ(bob.Answer,
            "Refused: bob from Switch & Co, policy \"Guests & Contractors\", reason 8: User account named in User-Name "
            "does not exist");
  EXPECT_EQ(finder.Find(11).Answer, "Granted: dave");
}

TEST_F(ExchangeTest, GoToLeadsFromRequestToItsAnswerAndBack) {
  TExchangeFinder finder(FData);
  const struct {
    int64_t Origin;
    int64_t Partner;
  } cases[] = {
      {0, 5},          // the first round's request: the final answer, past the challenge
      {3, 5}, {5, 3},  // the reject: the request just before it
      {2, 0},          // the challenge: the request it answers
      {6, 3},          // accounting: the last request before it
      {1, 4}, {4, 1}, {12, 11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Origin);
    EXPECT_EQ(finder.Find(c.Origin).Partner, c.Partner);
  }
}

TEST_F(ExchangeTest, SaysWhenNothingPairs) {
  TExchangeFinder finder(FData);
  const TExchange noClass = finder.Find(8);
  EXPECT_EQ(noClass.State, TExchangeState::esNoClass);
  EXPECT_EQ(noClass.Partner, -1);
  EXPECT_EQ(noClass.Answer, "No Class value: nothing ties this record to a request or a reply.");

  const TExchange lone = finder.Find(7);
  EXPECT_EQ(lone.State, TExchangeState::esAlone);
  EXPECT_THAT(RecordsOf(lone), ElementsAre(7));
  EXPECT_EQ(lone.Partner, -1);
  EXPECT_EQ(lone.Answer, "Granted: unknown user, policy \"VPN\" (no other record of this Class within 2,000 records)");

  EXPECT_THAT(RecordsOf(finder.Find(9)), ElementsAre(9));  // another server's Class "A"
  EXPECT_THAT(RecordsOf(finder.Find(10)), ElementsAre(10));
}

TEST_F(ExchangeTest, PartnerBeyondTheWindowIsNotFound) {
  TExchangeFinder finder(FData, 2);
  const TExchange exchange = finder.Find(5);  // window 3..7: the first request (0) is out
  EXPECT_THAT(RecordsOf(exchange), ElementsAre(3, 5, 6));
  TExchangeFinder narrow(FData, 1);
  EXPECT_EQ(narrow.Find(0).State, TExchangeState::esAlone);
  EXPECT_EQ(narrow.Find(0).Answer,
            "No answer found: CORP\\alice from WLC-2 (10.35.217.16) (no other record of this Class within 1 record)");
}

TEST_F(ExchangeTest, RequestOfReplyIsTheNearestEarlierRequestOfItsSession) {
  TExchangeFinder finder(FData);
  TrdlDataRow row;
  const struct {
    int64_t Record;
    int64_t Request;
  } cases[] = {{5, 3}, {2, 0}, {4, 1}, {12, 11}, {7, -1}, {0, -1} /* a request */, {6, -1} /* accounting */};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Record);
    ASSERT_TRUE(FData.ParseRecord(c.Record, row));
    EXPECT_EQ(finder.RequestOfReply(c.Record, row), c.Request);
  }
}

TEST(ExchangeOnABusyServerTest, EveryRecordFindsItsOwnPartnerAmongFiftyInterleavedSessions) {
  test::TTempDir dir;
  const std::string log = dir.File("busy.log");
  std::string command = VELLORAN_GENLOG;
  command.append(" --seed 11 --records 3000 --concurrency 50 -o ").append(log);
  ASSERT_EQ(std::system(command.c_str()), 0);
  TData data;
  data.Open(log);
  ASSERT_EQ(data.Count(), 3000);

  // The truth, from the log in order: a reply answers the latest request of its Class and
  // server before it; a request is answered by the first accept or reject after it.
  TrdlDataRow row;
  std::map<int64_t, uint32_t> types;
  std::map<int64_t, std::pair<std::string, std::string>> keys;
  std::map<std::pair<std::string, std::string>, int64_t> lastRequest;
  std::map<int64_t, int64_t> requestOf;
  for (int64_t i = 0; i < 3000; ++i) {
    ASSERT_TRUE(data.ParseRecord(i, row));
    types[i] = PacketTypeOf(row);
    keys[i] = {row.ValueByName("Class"), row.ValueByName("Computer-Name")};
    if (types[i] == ptAccessRequest) lastRequest[keys[i]] = i;
    if (IsReplyPacketType(types[i]) && lastRequest.count(keys[i]) != 0) requestOf[i] = lastRequest[keys[i]];
  }
  TExchangeFinder finder(data);
  int interleaved = 0;
  for (const auto& [reply, request] : requestOf) {
    SCOPED_TRACE(reply);
    if (reply - request > 1) ++interleaved;
    EXPECT_EQ(finder.Find(reply).Partner, request);
    EXPECT_EQ(finder.RequestOfReply(reply, (data.ParseRecord(reply, row), row)), request);
    if (types[reply] == ptAccessChallenge) continue;
    // From the request: the first final answer of its session after it.
    int64_t answer = request + 1;
    while (!(keys[answer] == keys[reply] && (types[answer] == ptAccessAccept || types[answer] == ptAccessReject))) ++answer;
    EXPECT_EQ(finder.Find(request).Partner, answer);
    const TExchange exchange = finder.Find(reply);
    EXPECT_TRUE(std::is_sorted(exchange.Members.begin(), exchange.Members.end(),
                               [](const TExchangeMember& A, const TExchangeMember& B) { return A.Record < B.Record; }));
    for (const TExchangeMember& member : exchange.Members) EXPECT_EQ(keys[member.Record], keys[reply]);
  }
  EXPECT_GT(interleaved, 100);  // the case is a hard one: most replies are not next to their request
}

TEST(ExchangeBadInputTest, AClassRepeatedByAMisbehavingServerIsBoundedByTheWindow) {
  test::TTempDir dir;
  std::vector<std::string> lines;
  for (int i = 0; i < 6000; ++i)
    lines.push_back(Record(i % 2 == 0 ? "1" : "3", "same", {{"Reason-Code", i == 2001 ? "99999999999" : "x"}}));
  TData data;
  data.Open(dir.Write("repeated.log", test::LogOf(lines)));
  TExchangeFinder finder(data);
  const TExchange exchange = finder.Find(3000);
  EXPECT_EQ(exchange.Members.size(), 4001u);  // ±2,000: never the whole log
  EXPECT_EQ(exchange.Members.front().Record, 1000);
  const TExchange first = finder.Find(1);  // window 0..2001: its last refusal is the outcome
  EXPECT_EQ(first.Outcome, 2001);
  EXPECT_EQ(first.Answer, "Refused: unknown user, reason 99999999999");  // past 32 bits: as written, unnamed
  EXPECT_EQ(finder.Find(0).Answer, "Refused: unknown user, reason x");
}

}  // namespace
}  // namespace velloran
