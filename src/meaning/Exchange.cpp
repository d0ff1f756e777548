#include "Exchange.h"

#include <string.h>

#include <algorithm>
#include <string_view>

#include "CodeNames.h"
#include "DecodedText.h"
#include "LogData.h"

namespace velloran {

namespace {

constexpr std::string_view kClass = "Class";
constexpr std::string_view kComputerName = "Computer-Name";
constexpr std::string_view kPacketType = "Packet-Type";

std::string_view RawValue(const TrdlDataRow& ARow, std::string_view AName) {
  const TrdlDataRowItem* item = ARow.ItemByName(AName);
  return item != nullptr ? std::string_view(item->RawText()) : std::string_view();
}

// The decoded value of the first of ANames the row holds with a non-empty value.
std::string FirstValue(const TrdlDataRow& ARow, std::initializer_list<std::string_view> ANames) {
  for (const std::string_view name : ANames) {
    const std::string_view raw = RawValue(ARow, name);
    if (!raw.empty()) return DecodedText(raw);
  }
  return {};
}

// glibc's memmem: several times faster than a Boyer-Moore-Horspool search on these lines, whose
// Class values share long prefixes.
bool Holds(std::string_view ALine, std::string_view ANeedle) {
  return ::memmem(ALine.data(), ALine.size(), ANeedle.data(), ANeedle.size()) != nullptr;
}

// "2,000 records", "1 record".
std::string RecordsText(int64_t AValue) {
  std::string text = std::to_string(AValue);
  for (int at = static_cast<int>(text.size()) - 3; at > 0; at -= 3) text.insert(static_cast<size_t>(at), 1, ',');
  return text.append(AValue == 1 ? " record" : " records");
}

}  // namespace

struct TExchangeFinder::TKey {
  std::string Class;
  std::string Computer;
  int ServerGroup = 0;  // the source's: a set of several servers' logs never joins across them
  std::string Needle;   // ">" Class "<": the value as an element's whole text

  // The key of a parsed row of server group AGroup; an empty Class when it has none.
  static TKey Of(const TrdlDataRow& ARow, int AGroup) {
    TKey key{std::string(RawValue(ARow, kClass)), std::string(RawValue(ARow, kComputerName)), AGroup, {}};
    key.Needle.append(1, '>').append(key.Class).append(1, '<');
    return key;
  }
  // Whether a raw line may belong: it holds the Class text, or hides its text as hex.
  bool MayHold(std::string_view ALine) const { return Holds(ALine, Needle) || TData::IsHexLine(ALine); }
};

uint32_t PacketTypeOf(const TrdlDataRow& ARow) {
  const auto number = CodeNumber(RawValue(ARow, kPacketType));
  return number ? *number : 0;
}

bool TExchangeFinder::SameKey(int64_t ARecord, const TKey& AKey, uint32_t& APacketType) {
  if (FSource.ServerGroupOf(ARecord) != AKey.ServerGroup || !FSource.ParseRecord(ARecord, FRow)) return false;
  const TrdlDataRowItem* klass = FRow.ItemByName(kClass);
  if (klass == nullptr || klass->RawText() != AKey.Class || RawValue(FRow, kComputerName) != AKey.Computer) return false;
  APacketType = PacketTypeOf(FRow);
  return true;
}

TExchange TExchangeFinder::Find(int64_t ARecord) {
  TExchange result;
  result.Origin = ARecord;
  if (!FSource.ParseRecord(ARecord, FRow)) return result;
  const TKey key = TKey::Of(FRow, FSource.ServerGroupOf(ARecord));
  if (key.Class.empty()) {
    result.Answer = "No Class value: nothing ties this record to a request or a reply.";
    return result;
  }
  const int64_t first = std::max<int64_t>(0, ARecord - FWindow);
  const int64_t last = std::min<int64_t>(FSource.RecordCount() - 1, ARecord + FWindow);
  for (int64_t i = first; i <= last; ++i) {
    uint32_t packetType = 0;
    if (i != ARecord && !key.MayHold(FSource.RawRecord(i))) continue;
    if (!SameKey(i, key, packetType) && i != ARecord) continue;
    result.Members.push_back({i, packetType});
  }
  result.State = result.Members.size() > 1 ? TExchangeState::esFound : TExchangeState::esAlone;
  DescribeOutcome(result);
  return result;
}

int64_t TExchangeFinder::RequestOfReply(int64_t AReply, const TrdlDataRow& AReplyRow) {
  if (!IsReplyPacketType(PacketTypeOf(AReplyRow))) return -1;
  const TKey key = TKey::Of(AReplyRow, FSource.ServerGroupOf(AReply));
  if (key.Class.empty()) return -1;
  const int64_t first = std::max<int64_t>(0, AReply - FWindow);
  for (int64_t i = std::min(AReply, FSource.RecordCount()) - 1; i >= first; --i) {
    if (!key.MayHold(FSource.RawRecord(i))) continue;
    uint32_t packetType = 0;
    if (SameKey(i, key, packetType) && packetType == ptAccessRequest) return i;
  }
  return -1;
}

namespace {

bool IsFinal(uint32_t AType) { return AType == ptAccessAccept || AType == ptAccessReject; }

// The first Access-Request, and the last accept or reject (else the last challenge).
void FindRequestAndOutcome(TExchange& AExchange) {
  int64_t challenge = -1;
  for (const TExchangeMember& member : AExchange.Members) {
    if (member.PacketType == ptAccessRequest && AExchange.Request < 0) AExchange.Request = member.Record;
    if (IsFinal(member.PacketType)) AExchange.Outcome = member.Record;
    if (member.PacketType == ptAccessChallenge) challenge = member.Record;
  }
  if (AExchange.Outcome < 0) AExchange.Outcome = challenge;
}

// Go to: from a request to the first final reply after it (else its first challenge); from
// anything else to the nearest request before it (else the first request of the exchange).
void FindPartner(TExchange& AExchange) {
  const auto& members = AExchange.Members;
  const auto originAt =
      std::find_if(members.begin(), members.end(), [&](const TExchangeMember& m) { return m.Record == AExchange.Origin; });
  if (originAt == members.end()) return;
  if (originAt->PacketType == ptAccessRequest) {
    const auto final = std::find_if(originAt + 1, members.end(), [](const TExchangeMember& m) { return IsFinal(m.PacketType); });
    const auto challenge =
        std::find_if(originAt + 1, members.end(), [](const TExchangeMember& m) { return m.PacketType == ptAccessChallenge; });
    if (final != members.end()) {
      AExchange.Partner = final->Record;
    } else if (challenge != members.end()) {
      AExchange.Partner = challenge->Record;
    }
    return;
  }
  const auto request = std::find_if(std::make_reverse_iterator(originAt), members.rend(),
                                    [](const TExchangeMember& m) { return m.PacketType == ptAccessRequest; });
  AExchange.Partner = request != members.rend() ? request->Record : AExchange.Request;
}

}  // namespace

void TExchangeFinder::DescribeOutcome(TExchange& AExchange) {
  FindRequestAndOutcome(AExchange);
  FindPartner(AExchange);
  ComposeAnswer(AExchange);
}

// Who and from where come from the request; what and why from the outcome.
void TExchangeFinder::ComposeAnswer(TExchange& AExchange) {
  std::string user;
  std::string accessPoint;
  std::string address;
  const int64_t whoRecord = AExchange.Request >= 0 ? AExchange.Request : AExchange.Origin;
  if (FSource.ParseRecord(whoRecord, FRow)) {
    user = FirstValue(FRow, {"User-Name", "SAM-Account-Name", "Fully-Qualifed-User-Name"});
    accessPoint = FirstValue(FRow, {"NAS-Identifier", "Client-Friendly-Name"});
    address = FirstValue(FRow, {"NAS-IP-Address", "Client-IP-Address"});
  }
  std::string outcome = "No answer found";
  std::string policy;
  std::string reason;
  if (AExchange.Outcome >= 0 && FSource.ParseRecord(AExchange.Outcome, FRow)) {
    const uint32_t type = PacketTypeOf(FRow);
    outcome = type == ptAccessAccept ? "Granted" : type == ptAccessReject ? "Refused" : "Challenged, no final answer";
    if (user.empty()) user = FirstValue(FRow, {"User-Name", "SAM-Account-Name", "Fully-Qualifed-User-Name"});
    policy = FirstValue(FRow, {"NP-Policy-Name", "Proxy-Policy-Name"});
    const std::string_view code = RawValue(FRow, "Reason-Code");
    if (type == ptAccessReject && !code.empty()) {
      reason.append("reason ").append(DecodedText(code));
      const std::string_view text = TCodedAttribute::Of("Reason-Code").NameOfText(code);
      if (!text.empty()) reason.append(": ").append(text);
    }
  }

  std::string& answer = AExchange.Answer;
  answer = outcome;
  answer.append(": ").append(user.empty() ? "unknown user" : user);
  if (!accessPoint.empty() || !address.empty()) {
    answer.append(" from ").append(accessPoint.empty() ? address : accessPoint);
    if (!accessPoint.empty() && !address.empty()) answer.append(" (").append(address).append(")");
  }
  if (!policy.empty()) answer.append(", policy \"").append(policy).append("\"");
  if (!reason.empty()) answer.append(", ").append(reason);
  if (AExchange.State == TExchangeState::esAlone) {
    answer.append(" (no other record of this Class within ").append(RecordsText(FWindow)).append(")");
  } else if (AExchange.Request < 0) {
    answer.append(" (no request within ").append(RecordsText(FWindow)).append(")");
  }
}

}  // namespace velloran
