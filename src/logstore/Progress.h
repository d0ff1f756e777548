// Progress of long work (walks, exports, scans): the callback type every long operation takes,
// the exact percentage, and the rule of when to report a step, shared so that every caller
// reports alike.
#pragma once

#include <cstdint>
#include <functional>

namespace velloran {

// Progress of long work, 0..100; setting IsCanceled cancels it.
using TProgressNotifyEvent = std::function<void(void* Sender, int APercents, bool& IsCanceled)>;

// APart / AWhole x 100 rounded to the nearest integer, halves to the even neighbour; exact
// (computed in integers). AWhole must be positive and APart below 2^48.
int PercentOf(int64_t APart, int64_t AWhole);

// Reports every second percentage point at most: a step is due when the percentage has moved
// more than one point past the last one reported, so a million records cost about fifty calls.
class TProgressSteps {
 public:
  // The percentage APart of AWhole when a report is due, else -1 (the step is then skipped).
  int Due(int64_t APart, int64_t AWhole) {
    const int percents = PercentOf(APart, AWhole);
    if (percents <= FLast + 1) return -1;
    FLast = percents;
    return percents;
  }

 private:
  int FLast = 0;
};

}  // namespace velloran
