// Settings lookups in a store of 100,000 keys in 1,000 sections: creating every key, finding
// every key by its full path, and finding the keys of one section by relative names. Prints
// the median time per operation of several rounds; never fails on the figures.
#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Storage.h"

namespace {

using velloran::bench::Clock;
using velloran::bench::Median;
using velloran::bench::Seconds;

// Nanoseconds per call of AWork over APaths.
template <typename TWork>
double PerOperation(const std::vector<std::string>& APaths, TWork AWork) {
  const auto start = Clock::now();
  for (const std::string& path : APaths) AWork(path);
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / static_cast<double>(APaths.size());
}

}  // namespace

int main() {
  constexpr int kSections = 1000;
  constexpr int kKeysPerSection = 100;
  constexpr int kRounds = 7;
  std::vector<std::string> fullPaths, relativeNames;
  for (int s = 0; s < kSections; ++s) {
    for (int k = 0; k < kKeysPerSection; ++k) fullPaths.push_back(fmt::format("\\Section{:04}\\Key{:03}", s, k));
  }
  for (int k = 0; k < kKeysPerSection; ++k) relativeNames.push_back(fmt::format("Key{:03}", k));
  std::vector<std::string> shuffled = fullPaths;
  std::reverse(shuffled.begin(), shuffled.end());

  std::vector<double> create, createReversed, byPath, byPathReversed, relative, intoFirst;
  std::vector<std::string> firstSectionNew;
  for (int k = 0; k < 100; ++k) firstSectionNew.push_back(fmt::format("\\Section0000\\New{:03}", k));
  for (int round = 0; round < kRounds; ++round) {
    {
      // Each new key goes before all the others: the worst case for a sorted array.
      velloran::TrsStorage reversed;
      createReversed.push_back(PerOperation(shuffled, [&](const std::string& APath) { reversed.FindKeyItem(APath, true); }));
    }
    velloran::TrsStorage storage;
    create.push_back(PerOperation(fullPaths, [&](const std::string& APath) { storage.FindKeyItem(APath, true); }));
    byPath.push_back(PerOperation(fullPaths, [&](const std::string& APath) { storage.FindKeyItem(APath, false); }));
    byPathReversed.push_back(PerOperation(shuffled, [&](const std::string& APath) { storage.FindKeyItem(APath, false); }));
    // New keys in the first section of a full store: every key of the other sections moves.
    intoFirst.push_back(PerOperation(firstSectionNew, [&](const std::string& APath) { storage.FindKeyItem(APath, true); }));
    storage.SetRootSection("Section0500");
    relative.push_back(PerOperation(relativeNames, [&](const std::string& AName) { storage.FindKeyItem(AName, false); }));
  }
  fmt::print("store: {} keys in {} sections; median of {} rounds, per operation\n", kSections * kKeysPerSection, kSections,
             kRounds);
  fmt::print("write (create) by full path     {:8.0f} ns\n", Median(create));
  fmt::print("write (create), reversed order   {:8.0f} ns\n", Median(createReversed));
  fmt::print("new key in the first section    {:8.0f} ns\n", Median(intoFirst));
  fmt::print("read by full path, in order     {:8.0f} ns\n", Median(byPath));
  fmt::print("read by full path, reversed     {:8.0f} ns\n", Median(byPathReversed));
  fmt::print("read relative, one section      {:8.0f} ns   (goal: every lookup <= 1000 ns)\n", Median(relative));
  return 0;
}
