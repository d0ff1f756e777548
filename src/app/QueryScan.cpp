#include "QueryScan.h"

#include <QTimer>
#include <algorithm>
#include <thread>

namespace velloran {

namespace {

// One worker fewer than cores: a worker on every core took the GUI thread's turn for up to
// 20 ms at a time (measured on two cores, a 1 GB log), one core left free kept every wait
// under 10 ms, for a scan about 1.5 times as long.
unsigned ScanThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 1 ? cores - 1 : 1;
}

}  // namespace

TQueryScan::TQueryScan(std::shared_ptr<const TCompiledQuery> AQuery, TScanTarget ATarget, QObject* AParent)
    : QObject(AParent), FQuery(std::move(AQuery)), FTarget(std::move(ATarget)) {
  FThrottle = new QTimer(this);
  FThrottle->setSingleShot(true);
  connect(FThrottle, &QTimer::timeout, this, &TQueryScan::Deliver);
}

TQueryScan::~TQueryScan() {
  // Cancels and joins: the callbacks below touch FShared and post to this object, so the
  // scanner must be gone before any other member.
  FScanner.reset();
}

void TQueryScan::Start() {
  if (FScanner != nullptr) return;
  // These run on the scanner's delivery thread.
  TScanCallbacks callbacks;
  callbacks.OnMatches = [this](std::vector<uint32_t>&& AMatches) {
    const std::lock_guard<std::mutex> lock(FShared.Lock);
    if (FShared.Matches.empty()) {
      FShared.Matches = std::move(AMatches);
    } else {
      FShared.Matches.insert(FShared.Matches.end(), AMatches.begin(), AMatches.end());
    }
    Post();
  };
  callbacks.OnProgress = [this](int64_t ADone, int64_t ATotal) {
    const std::lock_guard<std::mutex> lock(FShared.Lock);
    FShared.Done = ADone;
    FShared.Total = ATotal;
    Post();
  };
  callbacks.OnFinished = [this](const TScanOutcome& AOutcome) {
    const std::lock_guard<std::mutex> lock(FShared.Lock);
    FShared.Outcome = AOutcome;
    FShared.Finished = true;
    Post();
  };
  FScanner = std::make_unique<TScanner>(FQuery, FTarget, std::move(callbacks), ScanThreads());
  FScanner->Start();
}

// Under FShared.Lock, on the delivery thread: one wake-up at a time.
void TQueryScan::Post() {
  if (FShared.Posted) return;
  FShared.Posted = true;
  QMetaObject::invokeMethod(this, &TQueryScan::Deliver, Qt::QueuedConnection);
}

int TQueryScan::Percent() const {
  if (FDone || FTotalBytes <= 0) return FDone ? 100 : 0;
  return static_cast<int>(std::clamp<int64_t>(FDoneBytes * 100 / FTotalBytes, 0, 100));
}

void TQueryScan::Deliver() {
  if (FDone) return;
  const bool backlog = FBacklogAt < FBacklog.size();
  if (!backlog && FLastChunk.isValid() && FLastChunk.elapsed() < kMinIntervalMs) {
    // Too soon after the last chunk: come back when the interval is over, and keep Posted
    // set meanwhile so that the delivery thread queues nothing more.
    bool finished = false;
    {
      const std::lock_guard<std::mutex> lock(FShared.Lock);
      finished = FShared.Finished;
    }
    if (!finished) {
      if (!FThrottle->isActive()) FThrottle->start(static_cast<int>(kMinIntervalMs - FLastChunk.elapsed()));
      return;
    }
  }
  FThrottle->stop();
  {
    const std::lock_guard<std::mutex> lock(FShared.Lock);
    if (FBacklogAt >= FBacklog.size()) {
      FBacklog.clear();
      FBacklogAt = 0;
      FBacklog.swap(FShared.Matches);
    } else {
      FBacklog.insert(FBacklog.end(), FShared.Matches.begin(), FShared.Matches.end());
      FShared.Matches.clear();
    }
    FDoneBytes = FShared.Done;
    FTotalBytes = FShared.Total;
    if (FShared.Finished && !FFinishedArrived) {
      FFinishedArrived = true;
      FOutcome = FShared.Outcome;
    }
    FShared.Posted = false;
  }
  const size_t count = std::min(kMaxChunk, FBacklog.size() - FBacklogAt);
  if (count > 0) {
    const auto first = FBacklog.begin() + static_cast<std::ptrdiff_t>(FBacklogAt);
    const std::vector<uint32_t> chunk(first, first + static_cast<std::ptrdiff_t>(count));
    FBacklogAt += count;
    FLastChunk.start();
    emit MatchesFound(chunk);
  }
  if (FBacklogAt < FBacklog.size()) {
    // More than one chunk's worth: the rest after the events that wait.
    QMetaObject::invokeMethod(this, &TQueryScan::Deliver, Qt::QueuedConnection);
    emit ProgressChanged();
    return;
  }
  if (FFinishedArrived) {
    FDone = true;
    emit ProgressChanged();
    emit Finished();
    return;
  }
  emit ProgressChanged();
}

}  // namespace velloran
