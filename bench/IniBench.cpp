// Saving and loading an INI settings file of 100,000 keys in 1,000 sections, with a mix of
// value kinds like the viewer's own (texts, numbers, flags, a few buffers). Prints the median
// time and throughput of several rounds, for the whole file operation (the save includes the
// flush to disk of the atomic replacement) and for the text format alone; never fails on the
// figures.
#include <fmt/format.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "IniFile.h"
#include "PlatformFile.h"

namespace {

using velloran::bench::Clock;
using velloran::bench::Median;
using velloran::bench::Seconds;

void FillStore(velloran::TrsStorage& AStorage) {
  const std::vector<uint8_t> placement = {0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x50, 0x00, 0x00, 0x00};
  for (int s = 0; s < 1000; ++s) {
    const std::string section = fmt::format("\\Viewer{:04}\\", s);
    for (int k = 0; k < 100; ++k) {
      const std::string key = section + fmt::format("Key{:03}", k);
      switch (k % 5) {
        case 0:
          AStorage.WriteString(key, fmt::format("/var/log/radius/IN26{:04}.log", s * 100 + k));
          break;
        case 1:
          AStorage.WriteInteger(key, s * 1000 + k);
          break;
        case 2:
          AStorage.WriteBoolean(key, (k & 1) != 0);
          break;
        case 3:
          AStorage.WriteString(key, "Timestamp\r\nComputer-Name\r\nUser-Name\r\nPacket-Type\r\nReason-Code");
          break;
        default:
          AStorage.WriteBuffer(key, placement.data(), static_cast<int32_t>(placement.size()));
          break;
      }
    }
  }
}

}  // namespace

int main() {
  constexpr int kRounds = 7;
  char folder[] = "/tmp/velloran-ini-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) return 1;
  const std::string path = std::string(folder) + "/settings.ini";

  velloran::TrsIniData ini;
  ini.SetFileDir(velloran::fdCustom);
  ini.SetOptions(0);
  ini.SetFileName(path);
  velloran::TrsStorage storage;
  storage.SetStorageData(&ini);
  FillStore(storage);

  std::vector<double> save, load, format, parse;
  for (int round = 0; round < kRounds; ++round) {
    auto start = Clock::now();
    storage.Save();
    save.push_back(Seconds(start));
    start = Clock::now();
    storage.Load();
    load.push_back(Seconds(start));
  }
  const std::string text = velloran::platform::ReadWholeFile(path);
  // The format alone: the text comes from and goes to memory through the stream events.
  ini.SetOnSaveToStream([](velloran::TrsStreamData*, velloran::TrsMemoryStream&, bool& ADoStandard) { ADoStandard = false; });
  ini.SetOnLoadFromStream([&](velloran::TrsStreamData*, velloran::TrsMemoryStream& AStream, bool& ADoStandard) {
    AStream.Write(text.data(), text.size());
    ADoStandard = false;
  });
  for (int round = 0; round < kRounds; ++round) {
    auto start = Clock::now();
    storage.Save();
    format.push_back(Seconds(start));
    start = Clock::now();
    storage.Load();
    parse.push_back(Seconds(start));
  }
  if (std::getenv("KEEP")) std::rename(path.c_str(), "/tmp/bench.ini");
  std::remove(path.c_str());
  ::rmdir(folder);

  const double megabytes = static_cast<double>(text.size()) / 1e6;
  fmt::print("INI file: {} keys in 1000 sections, {:.2f} MB; median of {} rounds\n", storage.KeyItemCount(), megabytes, kRounds);
  const auto line = [&](const char* AName, const std::vector<double>& ATimes) {
    fmt::print("  {:<34} {:8.1f} ms  {:7.1f} MB/s\n", AName, Median(ATimes) * 1e3, megabytes / Median(ATimes));
  };
  line("save to the file (flushed to disk)", save);
  line("load from the file", load);
  line("save, the text format alone", format);
  line("load, the text format alone", parse);
  return 0;
}
