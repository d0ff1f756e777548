// The exchange a record belongs to: the request, the challenge rounds, the final accept or
// reject and the accounting of one session. The server ties them by writing the same Class
// value from the same server (Computer-Name); replies sit near their requests, with other
// sessions interleaved between them, so the records are looked for within a window of
// records around the one asked about.
//
// Threading: a finder reads its source on the source's thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RecordSource.h"
#include "Rows.h"

namespace velloran {

enum class TExchangeState {
  esNoClass,  // the record has no Class value: nothing ties it to other records
  esAlone,    // no other record of its Class and server lies within the window
  esFound,
};

struct TExchangeMember {
  int64_t Record = -1;
  uint32_t PacketType = 0;  // 0 when the record has none or it is not a number
};

struct TExchange {
  TExchangeState State = TExchangeState::esNoClass;
  int64_t Origin = -1;
  std::vector<TExchangeMember> Members;  // in log order, the origin among them
  int64_t Request = -1;                  // the first Access-Request, or -1
  int64_t Outcome = -1;                  // the last Access-Accept or Access-Reject, else the last Access-Challenge
  // The record "Go to" leads to from the origin: the reply that answers a request, the
  // request a reply or an accounting record belongs to; -1 when there is none.
  int64_t Partner = -1;
  // One line that answers "what happened": outcome, user, access point, policy, reason.
  std::string Answer;
};

class TExchangeFinder {
 public:
  static constexpr int64_t kDefaultWindow = 2000;

  // Reads ASource, which must outlive the finder.
  explicit TExchangeFinder(TRecordSource& ASource, int64_t AWindow = kDefaultWindow) : FSource(ASource), FWindow(AWindow) {}

  // The exchange of record ARecord (0 <= ARecord < RecordCount()). Reads at most 2 × window
  // + 1 records and parses only those whose raw line holds the origin's Class text.
  TExchange Find(int64_t ARecord);

  // The Access-Request that reply AReply (already parsed into AReplyRow) answers: the nearest
  // earlier record of its Class and server that is an Access-Request within the window;
  // -1 for a record that is no reply or has no such request.
  int64_t RequestOfReply(int64_t AReply, const TrdlDataRow& AReplyRow);

  int64_t Window() const { return FWindow; }

 private:
  struct TKey;
  bool SameKey(int64_t ARecord, const TKey& AKey, uint32_t& APacketType);
  void DescribeOutcome(TExchange& AExchange);
  void ComposeAnswer(TExchange& AExchange);

  TRecordSource& FSource;
  int64_t FWindow;
  TrdlDataRow FRow;  // scratch row of candidates
};

// The Packet-Type of a parsed row; 0 when missing or not a number.
uint32_t PacketTypeOf(const TrdlDataRow& ARow);

}  // namespace velloran
