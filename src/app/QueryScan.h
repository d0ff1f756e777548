// A scan of the open log for a query, its results handed to the GUI thread in chunks: the
// matches of a filter or a find arrive as signals while the window goes on answering.
//
// Threading: created, used and destroyed on the GUI thread; the signals are emitted there.
// The scanner's delivery thread only stores what it brings under a lock and posts one
// wake-up; the GUI thread then takes everything stored at once, so that a fast scan cannot
// flood the event loop. The scan leaves one core to the GUI thread. Destroying a scan cancels
// it and waits for the scanner's threads; a wake-up still queued dies with the object.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "CompiledQuery.h"
#include "Scanner.h"

class QTimer;

namespace velloran {

class TQueryScan : public QObject {
  Q_OBJECT
 public:
  TQueryScan(std::shared_ptr<const TCompiledQuery> AQuery, TScanTarget ATarget, QObject* AParent = nullptr);
  ~TQueryScan() override;
  TQueryScan(const TQueryScan&) = delete;
  TQueryScan& operator=(const TQueryScan&) = delete;

  // Connect first: nothing arrives before the event loop runs, yet a scan of a small log
  // may be over by then.
  void Start();

  const std::shared_ptr<const TCompiledQuery>& Query() const { return FQuery; }
  // Whether Finished was emitted; the outcome is valid from then on.
  bool Done() const { return FDone; }
  const TScanOutcome& Outcome() const { return FOutcome; }
  // Percent of the log's bytes searched (100 once done).
  int Percent() const;

  // At most this many matches per signal: the list inserts them in one step, and a step must
  // stay well below a frame.
  static constexpr size_t kMaxChunk = 100000;
  // After the first chunk, which shows at once, chunks come at most this often: each one
  // makes the list lay its rows out again.
  static constexpr int kMinIntervalMs = 40;

 signals:
  // The next matches, ascending and after every earlier chunk's.
  void MatchesFound(const std::vector<uint32_t>& AMatches);
  void ProgressChanged();
  // Once, after the last MatchesFound.
  void Finished();

 private:
  // What the delivery thread hands over; guarded by Lock.
  struct TShared {
    std::mutex Lock;
    std::vector<uint32_t> Matches;
    int64_t Done = 0;
    int64_t Total = 0;
    bool Finished = false;
    TScanOutcome Outcome;
    bool Posted = false;  // a wake-up is queued or the throttle timer runs
  };
  void Post();
  void Deliver();

  std::shared_ptr<const TCompiledQuery> FQuery;
  TScanTarget FTarget;
  TShared FShared;
  // Matches taken from FShared but not yet emitted (beyond kMaxChunk), from FBacklogAt on.
  std::vector<uint32_t> FBacklog;
  size_t FBacklogAt = 0;
  int64_t FDoneBytes = 0;
  int64_t FTotalBytes = 0;
  bool FFinishedArrived = false;
  bool FDone = false;
  TScanOutcome FOutcome;
  QElapsedTimer FLastChunk;
  QTimer* FThrottle = nullptr;
  // Last member: destroyed first, so that no callback outlives what it touches.
  std::unique_ptr<TScanner> FScanner;
};

}  // namespace velloran
