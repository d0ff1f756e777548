// What happened in a log at a glance: records by Packet-Type, refusals by Reason-Code, the
// most frequent values of the fields administrators ask about (among requests and among
// refusals, whose user and station come from the request they answer), and the traffic per
// interval of time. One pass over the log, or over the records a query picked, on every core.
//
// Threading: ComputeStatistics runs workers of its own and returns when they are done. Its
// progress callback runs on a worker, one call at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "Scanner.h"
#include "ValueCounts.h"

namespace velloran {

// The fields whose values are ranked, in the order the statistics list them.
inline constexpr std::array<std::string_view, 7> kRankedFields = {
    "User-Name",      "Calling-Station-Id", "Called-Station-Id", "NAS-IP-Address", "Client-Friendly-Name",
    "NP-Policy-Name", "Authentication-Type"};

// The most frequent values of one field.
struct TRankedValues {
  std::string Field;
  std::vector<TValueCount> Requests;  // among Access-Requests
  std::vector<TValueCount> Refusals;  // among Access-Rejects, fields they lack taken from their request
  int64_t DistinctRequests = 0;
  int64_t DistinctRefusals = 0;
};

// Records of one interval by what they are.
struct TTraffic {
  int64_t Requests = 0;    // Access-Request
  int64_t Accepts = 0;     // Access-Accept
  int64_t Refusals = 0;    // Access-Reject
  int64_t Challenges = 0;  // Access-Challenge
  int64_t Accounting = 0;  // Accounting-Request and Accounting-Response
  int64_t Other = 0;       // any other Packet-Type, or none
  int64_t Total() const { return Requests + Accepts + Refusals + Challenges + Accounting + Other; }
  TTraffic& operator+=(const TTraffic& AOther);
};

struct TTimeInterval {
  int64_t Start = 0;  // seconds from 1970-01-01 00:00, in the log's own local time
  TTraffic Traffic;
};

struct TCodeCount {
  uint32_t Code = 0;
  int64_t Count = 0;
  std::string_view Name;  // the code's name; empty for an unnamed code
};

struct TLogStatistics {
  int64_t Records = 0;                  // the records counted: all, or those asked for
  std::vector<TCodeCount> PacketTypes;  // ascending code
  int64_t WithoutPacketType = 0;        // no Packet-Type, or not a number
  int64_t Requests = 0, Refusals = 0;
  std::vector<TCodeCount> RefusalReasons;  // Reason-Code of the refusals: by count, descending, then code
  int64_t RefusalsWithoutReason = 0;
  std::vector<TRankedValues> Ranked;  // kRankedFields, in order

  int64_t IntervalSeconds = 0;        // the width of the series' intervals (0: no record has a time)
  bool IntervalWidened = false;       // the width asked for would have made more than kMaxIntervals
  std::vector<TTimeInterval> Series;  // every interval from the first record's to the last's, empty ones too
  int64_t WithoutTime = 0;            // records without a Timestamp that reads as a time

  bool Cancelled = false;
  std::string Error;  // why the pass ended early, naming the file
};

struct TStatisticsOptions {
  size_t TopCount = 10;
  int64_t IntervalSeconds = 0;  // 0: chosen for about 200 intervals
  // Only these records of the target, ascending (a filter's matches); null: every record.
  const std::vector<uint32_t>* Records = nullptr;
  unsigned Threads = 0;                                           // 0: one per core
  std::function<void(int64_t ADone, int64_t ATotal)> OnProgress;  // bytes read of the target's
  int64_t WindowBytes = int64_t{4} << 20;                         // a worker's read
};

// Round widths of time, in seconds: what intervals and a chart's time labels are spaced by.
inline constexpr int64_t kRoundIntervalSeconds[] = {
    1,    2,     5,     10,    15,    30,        60,        120,        300,        600,        900,         1800,        3600,
    7200, 10800, 21600, 43200, 86400, 2 * 86400, 7 * 86400, 14 * 86400, 28 * 86400, 91 * 86400, 365 * 86400, 3650 * 86400};

inline constexpr int64_t kMaxIntervals = 10000;
inline constexpr int64_t kWantedIntervals = 200;

// The statistics of ATarget's records (all of them: a target of a growth is not taken).
// Throws nothing; Error and Cancelled tell how it ended.
TLogStatistics ComputeStatistics(const TScanTarget& ATarget, const TStatisticsOptions& AOptions, std::stop_token AStop = {});

// The width of intervals for times from AFirst to ALast (seconds): a round width (1 s, 5 s,
// 1 min, 15 min, 1 h, 1 day, …) that is a multiple of AUnit and gives about kWantedIntervals,
// never more than kMaxIntervals.
int64_t ChooseIntervalSeconds(int64_t AFirst, int64_t ALast, int64_t AUnit = 1);

// "90", "30s", "5m", "2h", "1d" as seconds; empty for anything else, zero, or more than a day.
std::optional<int64_t> ParseIntervalText(std::string_view AText);
// "30s", "5m", "2h", "1d", "7d", "90s".
std::string IntervalText(int64_t ASeconds);

}  // namespace velloran
