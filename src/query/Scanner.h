// The scan behind find, filter, `velloran grep` and `export --where`: tests every record of a
// log against a compiled query on every core and yields the ascending numbers of the matching
// records. Workers read the file in large windows of their own, search the query's anchors in
// the raw bytes, and parse only the lines an anchor lets through.
//
// Threading: a scan runs on threads of its own (std::jthread). Its callbacks run on the scan's
// delivery thread, one at a time, never on the thread that started it. Destroying a scanner
// (or Cancel) stops it within milliseconds and waits for its threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CompiledQuery.h"
#include "Exchange.h"
#include "LogMonitor.h"
#include "LogSetOrder.h"
#include "RecordSource.h"

namespace velloran {

class TData;

// What a scan needs of a log, taken on the log's own thread before the scan starts: the file,
// its line break, how many records to test, and where every kGroupRecords-th record begins
// (the workers find the records between by the log store's line rules).
struct TScanTarget {
  static constexpr int64_t kGroupRecords = 256;
  std::string Path;
  TrdlLineBreak Break = TrdlLineBreak::lbCR;
  int64_t Records = 0;
  // Only the records [FirstRecord, Records) are reported: a scan of what a growing log added.
  // The scan starts one exchange window earlier (a request there may have its reply among
  // them), and GroupOffsets start another window before that (that request's own lookback).
  int64_t FirstRecord = 0;
  int64_t BaseRecord = 0;             // a multiple of kGroupRecords
  std::vector<int64_t> GroupOffsets;  // record BaseRecord + i * kGroupRecords begins here
  int64_t EndOffset = 0;              // the end of the last record's line break
  // The bytes of a worker's window (whole groups, at least one); small in tests of the edges
  // between windows.
  int64_t WindowBytes = int64_t{16} << 20;
  // A set of logs: one target per file (its own records and lines), scanned one file after
  // another, and the set's order that turns their matches into the set's record numbers.
  // Records and FirstRecord are then the set's; the fields of one file above are unused
  // but Path (the first file) and EndOffset (the bytes of every file).
  std::vector<TScanTarget> Parts;
  std::shared_ptr<const TLogSetOrder> Order;

  // The records [AFirstRecord, ARecords) of AData's open log or set (ARecords < 0: all it
  // holds now). A set's files are scanned alone: an exchange never reaches across files.
  // Throws what the log store throws for an unreadable index.
  static TScanTarget Of(TData& AData, int64_t ARecords = -1, int64_t AFirstRecord = 0);
  // Where the scan's first stretch starts: one exchange window before FirstRecord.
  int64_t ScanStartRecord() const;
};

// A worker's share of a scan: whole groups of records, about WindowBytes of the file.
struct TScanStretch {
  int64_t FirstRecord = 0, EndRecord = 0;
  int64_t Begin = 0, End = 0;  // bytes
};

// The stretches of one file's target (not of a set's), from its scan start to its end.
std::vector<TScanStretch> PlanStretches(const TScanTarget& ATarget);

struct TScanOutcome {
  int64_t Matches = 0;
  int64_t RecordsScanned = 0;  // records tested: all, unless cancelled or the file failed
  bool Cancelled = false;
  std::string Error;  // why the scan ended early ("FILE shrank while it was being searched")
  // Fields of the query that no scanned record holds (the query is valid; they never match).
  std::vector<std::string> MissingFields;
};

struct TScanCallbacks {
  // The next matches, ascending and after every earlier chunk's.
  std::function<void(std::vector<uint32_t>&& AMatches)> OnMatches;
  // Bytes of the log searched so far, of ATotal.
  std::function<void(int64_t ADone, int64_t ATotal)> OnProgress;
  // Once, last.
  std::function<void(const TScanOutcome& AOutcome)> OnFinished;
};

class TScanner {
 public:
  // AThreads 0: one worker per core.
  TScanner(std::shared_ptr<const TCompiledQuery> AQuery, TScanTarget ATarget, TScanCallbacks ACallbacks, unsigned AThreads = 0);
  ~TScanner();
  TScanner(const TScanner&) = delete;
  TScanner& operator=(const TScanner&) = delete;

  void Start();
  // Asks the scan to stop; OnFinished still comes, with Cancelled set.
  void Cancel();
  // Blocks until OnFinished has returned.
  void Wait();

  struct TState;  // the scan's shared state, defined where the scan runs

 private:
  std::shared_ptr<TState> FState;
  std::jthread FThread;
};

// The whole scan on the calling thread's behalf: every match in order (for tests, grep and
// export). Throws nothing; the outcome tells what happened.
std::vector<uint32_t> ScanAll(std::shared_ptr<const TCompiledQuery> AQuery, const TScanTarget& ATarget, TScanOutcome& AOutcome,
                              unsigned AThreads = 0);

// One record at a time tested as a scan tests it: a reply takes the fields it lacks from its
// request, found through the exchange in ASource (which must outlive the test). The reference
// scan and `velloran follow --where` use it.
class TRecordTest {
 public:
  TRecordTest(const TCompiledQuery& AQuery, TRecordSource& ASource) : FQuery(AQuery), FSource(ASource), FFinder(ASource) {}
  // Whether record ARecord, parsed into ARow, matches (an unreadable request answers for
  // nothing).
  bool Matches(int64_t ARecord, const TrdlDataRow& ARow);

 private:
  const TCompiledQuery& FQuery;
  TRecordSource& FSource;
  TExchangeFinder FFinder;
  TrdlDataRow FRequestRow;
};

// The reference: every record of ASource parsed and tested, with the exchange's request for
// replies (records whose line cannot be read never match).
std::vector<uint32_t> MatchEveryRecord(const TCompiledQuery& AQuery, TRecordSource& ASource);

}  // namespace velloran
