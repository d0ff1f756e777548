// Fuzz target of the log monitor's growth steps: a log written in pieces, one growth step
// after each, ends up indexed exactly as a fresh walk of the whole file indexes it. After
// every step the lines that had their break before it are unchanged (bytes and offsets), the
// step reports just the new lines (from the replaced open line, when there was one), the
// lines collected from those reports are the monitor's lines, and all of them match a plain
// split of the file as it is now (LineReference.h). A step whose new bytes change the line
// break of the head (its first CR, or first LF) reindexes the whole file instead.
//
// Input: one mode byte (LineReference.h: block size, lmoSkipEmptyLines), then the pieces of
// the file separated by "|"; the eighth piece is the rest, "|" bytes included. The first piece is the file at
// activation; an activation that finds no line is tried again after the next piece.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FileWatch.h"
#include "LineReference.h"
#include "LogMonitor.h"

using namespace velloran;

namespace {

constexpr size_t kMaxPieces = 8;

std::vector<std::string_view> Pieces(std::string_view ABytes) {
  std::vector<std::string_view> pieces;
  while (pieces.size() + 1 < kMaxPieces) {
    const size_t bar = ABytes.find('|');
    if (bar == std::string_view::npos) break;
    pieces.push_back(ABytes.substr(0, bar));
    ABytes.remove_prefix(bar + 1);
  }
  pieces.push_back(ABytes);
  return pieces;
}

struct TLineCopy {
  int64_t Offset = 0;
  std::string Bytes;
};

std::vector<TLineCopy> LinesOf(TrdlLogMonitor& AMonitor) {
  std::vector<TLineCopy> lines;
  for (int i = 0; i < AMonitor.Count(); ++i) lines.push_back({AMonitor.Item(i).Offset, AMonitor.Get(i)});
  return lines;
}

struct TStep {
  int Start = 0;
  int Count = 0;
};

// One monitor of the log through all its pieces, with the lines its growth reports collected
// as the application collects them: from the report on, replacing what the report covers.
class TGrowingLog {
 public:
  TGrowingLog(const std::string& APath, uint8_t AMode) {
    FMonitor.SetDispatcher(FDispatcher);
    fuzz::ApplyMode(FMonitor, AMode);
    FMonitor.SetOnLogGrow([this](TrdlLogMonitor* ASender, int AStart, int ACount) {
      FSteps.push_back({AStart, ACount});
      if (ACount <= 0) return;
      fuzz::Expect(
          AStart >= 0 && static_cast<size_t>(AStart) <= FCollected.size(),
          "growth reported lines from " + std::to_string(AStart) + " with " + std::to_string(FCollected.size()) + " collected");
      FCollected.resize(static_cast<size_t>(AStart));
      for (int i = AStart; i < AStart + ACount; ++i) FCollected.push_back(ASender->Get(i));
    });
    FMonitor.SetFileName(APath);
  }

  TrdlLogMonitor& Monitor() { return FMonitor; }

  void Activate() {
    FMonitor.SetActive(true);
    FCollected.clear();
    for (const TLineCopy& line : LinesOf(FMonitor)) FCollected.push_back(line.Bytes);
  }

  void Grow(const std::string& AWhere) {
    const int countBefore = FMonitor.Count();
    const bool openBefore = FMonitor.LastLineOpen();
    const TrdlLineBreak breakBefore = FMonitor.LineBreak();
    std::vector<TLineCopy> closed = LinesOf(FMonitor);
    if (openBefore && !closed.empty()) closed.pop_back();

    FSteps.clear();
    FMonitor.ForcedGrow();
    FDispatcher->ProcessPending(std::chrono::milliseconds(0));

    fuzz::Expect(FSteps.size() == 1, AWhere + ": " + std::to_string(FSteps.size()) + " growth reports, expected 1");
    const TStep step = FSteps.front();
    const int count = FMonitor.Count();
    if (FMonitor.LineBreak() != breakBefore) {
      // The head gained its first CR (or LF): every line is another one now, reported from 0.
      fuzz::Expect(step.Start == (count > 0 ? 0 : -1) && step.Count == count,
                   AWhere + ": the line break changed, yet the report covers lines " + std::to_string(step.Start) + "+" +
                       std::to_string(step.Count) + " of " + std::to_string(count));
      CheckCollected(AWhere);
      return;
    }
    if (step.Count == 0) {
      fuzz::Expect(step.Start == -1 && count == countBefore, AWhere + ": an empty report starts at " +
                                                                 std::to_string(step.Start) + " with " + std::to_string(count) +
                                                                 " lines, " + std::to_string(countBefore) + " before");
    } else {
      const bool fromEnd = step.Start == countBefore;
      const bool fromOpenLine = openBefore && step.Start == countBefore - 1;
      fuzz::Expect((fromEnd || fromOpenLine) && step.Start + step.Count == count,
                   AWhere + ": reported lines " + std::to_string(step.Start) + "+" + std::to_string(step.Count) + " of " +
                       std::to_string(count) + ", " + std::to_string(countBefore) + " before" +
                       (openBefore ? " (the last one open)" : ""));
    }
    fuzz::Expect(count >= static_cast<int>(closed.size()), AWhere + ": lines with a break vanished");
    for (size_t i = 0; i < closed.size(); ++i) {
      const int index = static_cast<int>(i);
      const std::string got = FMonitor.Get(index);
      fuzz::Expect(FMonitor.Item(index).Offset == closed[i].Offset && got == closed[i].Bytes,
                   AWhere + ": line " + std::to_string(i) + " with a break changed from \"" + fuzz::Escaped(closed[i].Bytes) +
                       "\" at " + std::to_string(closed[i].Offset) + " to \"" + fuzz::Escaped(got) + "\" at " +
                       std::to_string(FMonitor.Item(index).Offset));
    }
    CheckCollected(AWhere);
  }

  void CheckCollected(const std::string& AWhere) {
    const int count = FMonitor.Count();
    fuzz::Expect(FCollected.size() == static_cast<size_t>(count), AWhere + ": " + std::to_string(FCollected.size()) +
                                                                      " lines collected from the reports, the monitor has " +
                                                                      std::to_string(count));
    for (int i = 0; i < count; ++i) {
      const std::string got = FMonitor.Get(i);
      fuzz::Expect(FCollected[static_cast<size_t>(i)] == got, AWhere + ": line " + std::to_string(i) + " collected as \"" +
                                                                  fuzz::Escaped(FCollected[static_cast<size_t>(i)]) +
                                                                  "\", the monitor has \"" + fuzz::Escaped(got) + "\"");
    }
  }

 private:
  std::shared_ptr<TLoopDispatcher> FDispatcher = std::make_shared<TLoopDispatcher>();
  std::vector<TStep> FSteps;
  std::vector<std::string> FCollected;
  TrdlLogMonitor FMonitor;  // declared last: its destructor may still report
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize == 0) return 0;
  const uint8_t mode = AData[0];
  const bool skipEmpty = fuzz::SkipsEmptyLines(mode);
  const std::vector<std::string_view> pieces = Pieces(std::string_view(reinterpret_cast<const char*>(AData) + 1, ASize - 1));
  const std::string path = fuzz::Scratch().File("IN261209.log");
  const std::string settings = fuzz::ModeText(mode);
  std::string file(pieces.front());
  fuzz::WriteFile(path, file, false);

  std::string where = settings + ", first piece";
  try {
    TGrowingLog log(path, mode);
    log.Activate();
    fuzz::CompareWithReference(log.Monitor(), fuzz::ReferenceWalk(file, skipEmpty), where, true);
    for (size_t k = 1; k < pieces.size(); ++k) {
      where = settings + ", piece " + std::to_string(k) + " appended";
      file += pieces[k];
      fuzz::WriteFile(path, pieces[k], true);
      if (log.Monitor().Active()) {
        log.Grow(where);
      } else {
        log.Activate();
      }
      fuzz::CompareWithReference(log.Monitor(), fuzz::ReferenceWalk(file, skipEmpty), where, true);
    }

    where = settings + ", fresh walk of the whole file";
    TrdlLogMonitor fresh;
    fuzz::ApplyMode(fresh, mode);
    fresh.SetFileName(path);
    fresh.SetActive(true);
    fuzz::CompareWithReference(fresh, fuzz::ReferenceWalk(file, skipEmpty), where, true);
    const std::vector<TLineCopy> grown = LinesOf(log.Monitor());
    const std::vector<TLineCopy> walked = LinesOf(fresh);
    fuzz::Expect(grown.size() == walked.size(),
                 where + ": grown " + std::to_string(grown.size()) + " lines, walked " + std::to_string(walked.size()));
    for (size_t i = 0; i < grown.size(); ++i) {
      fuzz::Expect(grown[i].Offset == walked[i].Offset && grown[i].Bytes == walked[i].Bytes,
                   where + ": line " + std::to_string(i) + " grown as \"" + fuzz::Escaped(grown[i].Bytes) + "\", walked as \"" +
                       fuzz::Escaped(walked[i].Bytes) + "\"");
    }
  } catch (const std::exception& error) {
    fuzz::Fail(where + ": " + error.what());
  }
  return 0;
}
