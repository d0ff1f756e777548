// Fuzz target of the log monitor's line walk: whatever the bytes and wherever the block
// boundaries fall, activation indexes the lines that a plain split of the whole file finds
// (LineReference.h): the same count, offsets, bytes, final line CRC and open final line.
// The free function FileLastLineCRC, a second walk over the file's tail, must agree too.
//
// Input: one mode byte (LineReference.h: block size, lmoSkipEmptyLines), then the file.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "LineReference.h"
#include "LogMonitor.h"

using namespace velloran;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize == 0) return 0;
  const uint8_t mode = AData[0];
  const std::string_view file(reinterpret_cast<const char*>(AData) + 1, ASize - 1);
  const std::string path = fuzz::Scratch().File("IN261209.log");
  fuzz::WriteFile(path, file, false);
  const fuzz::TRefWalk walk = fuzz::ReferenceWalk(file, fuzz::SkipsEmptyLines(mode));

  const std::string where = fuzz::ModeText(mode);
  try {
    TrdlLogMonitor monitor;
    fuzz::ApplyMode(monitor, mode);
    monitor.SetFileName(path);
    monitor.SetActive(true);
    fuzz::CompareWithReference(monitor, walk, where, true);
  } catch (const std::exception& error) {
    fuzz::Fail(where + ": " + error.what());
  }
  // The tail it reads is 8,192 bytes: a longer file's final line may begin before it.
  if (file.size() <= 8192) {
    const uint32_t crc = FileLastLineCRC(path, fuzz::SkipsEmptyLines(mode));
    fuzz::Expect(crc == walk.LastCRC,
                 where + ": FileLastLineCRC " + std::to_string(crc) + ", expected " + std::to_string(walk.LastCRC));
  }
  return 0;
}
