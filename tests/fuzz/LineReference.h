// What the line-walk and growth fuzz targets share: the lines of a whole file split the plain
// way (all of it in memory, one byte after another, no blocks), a scratch folder for the logs
// they write, and the comparison of a monitor with that split.
//
// The rules: the break byte is CR, or LF when the file's first 64 KiB hold LF but no CR. A
// line ends at its first break byte; that byte's run and one LF right after the run are its
// break. CR and LF bytes just before the break (or before the end of a final line without one)
// are not part of its bytes; any other LF is. A final line without a break is open: its writer
// may not be done with it.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "FileHelpers.h"
#include "LogMonitor.h"

namespace velloran::fuzz {

struct TRefLine {
  int64_t Offset = 0;
  std::string Bytes;
  bool Closed = false;
};

struct TRefWalk {
  std::vector<TRefLine> Lines;  // the lines a monitor indexes (empty ones left out when skipped)
  uint32_t LastCRC = 0;         // of the file's final line, indexed or not (0 for an empty one)
  bool LastOpen = false;        // the final line is indexed and has no CR after it
};

inline TRefWalk ReferenceWalk(std::string_view AFile, bool ASkipEmpty) {
  TRefWalk walk;
  const std::string_view head = AFile.substr(0, kLineBreakProbeSize);
  const char breakByte = head.find('\n') != std::string_view::npos && head.find('\r') == std::string_view::npos ? '\n' : '\r';
  const size_t n = AFile.size();
  size_t pos = 0;
  while (pos < n) {
    const size_t start = pos;
    size_t cr = start;
    while (cr < n && AFile[cr] != breakByte) ++cr;
    size_t last = cr;
    while (last > start && (AFile[last - 1] == '\n' || AFile[last - 1] == '\r')) --last;
    size_t next = cr;
    while (next < n && AFile[next] == breakByte) ++next;
    if (next < n && AFile[next] == '\n') ++next;
    TRefLine line{static_cast<int64_t>(start), std::string(AFile.substr(start, last - start)), cr < n};
    const bool isFinal = next >= n;
    if (isFinal) walk.LastCRC = CalcCRC32(line.Bytes.data(), line.Bytes.size());
    if (!ASkipEmpty || !line.Bytes.empty()) {
      if (isFinal) walk.LastOpen = !line.Closed;
      walk.Lines.push_back(std::move(line));
    }
    pos = next;
  }
  return walk;
}

// The mode byte that begins the inputs of both targets: bits 0-5 are the block size less one
// (1..64 bytes, so that breaks, CR runs and lines straddle block boundaries everywhere), bit 6
// asks for lmoSkipEmptyLines, bit 7 keeps the default block size (a short file in one block).
inline bool SkipsEmptyLines(uint8_t AMode) { return (AMode & 0x40) != 0; }

inline void ApplyMode(TrdlLogMonitor& AMonitor, uint8_t AMode) {
  if ((AMode & 0x80) == 0) AMonitor.SetPreferredBlockSize(static_cast<uint32_t>((AMode & 63) + 1));
  AMonitor.SetOptions(SkipsEmptyLines(AMode) ? TrdlLogMonitorOptions{lmoSkipEmptyLines} : TrdlLogMonitorOptions{0});
}

inline std::string ModeText(uint8_t AMode) {
  return "block size " + ((AMode & 0x80) != 0 ? std::string("default") : std::to_string((AMode & 63) + 1)) +
         (SkipsEmptyLines(AMode) ? ", empty lines skipped" : "");
}

// Bytes as C escapes, for the report of a difference.
inline std::string Escaped(std::string_view ABytes) {
  std::string text;
  for (const char c : ABytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      text += hex;
    }
  }
  return text;
}

[[noreturn]] inline void Fail(const std::string& AWhat) {
  std::fprintf(stderr, "difference: %s\n", AWhat.c_str());
  std::fflush(stderr);
  std::abort();
}

inline void Expect(bool ACondition, const std::string& AWhat) {
  if (!ACondition) Fail(AWhat);
}

// A folder of this process for the logs it writes, removed when the process ends normally.
class TScratchFolder {
 public:
  TScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velloran-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    FPath = pattern;
  }
  ~TScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  std::string File(std::string_view AName) const { return (FPath / AName).string(); }

 private:
  std::filesystem::path FPath;
};

inline const TScratchFolder& Scratch() {
  static const TScratchFolder folder;
  return folder;
}

// Writes (or, with AAppend, appends) ABytes and closes the file, so that the size is on record
// before the monitor looks.
inline void WriteFile(const std::string& APath, std::string_view ABytes, bool AAppend) {
  std::ofstream out(APath, std::ios::binary | (AAppend ? std::ios::app : std::ios::trunc));
  out.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
  out.close();
  if (!out) Fail("cannot write " + APath);
}

// The monitor's lines against the split: count, each item's offset (and length where it is
// recorded), each line's bytes read front to back and back to front (other blocks are then in
// the view when a line is read), and ACheckFinal: the final line's CRC and whether it is open.
inline void CompareWithReference(TrdlLogMonitor& AMonitor, const TRefWalk& AWalk, const std::string& AWhere, bool ACheckFinal) {
  if (AWalk.Lines.empty()) {
    Expect(!AMonitor.Active() && AMonitor.Count() == 0,
           AWhere + ": a file without lines left the monitor active with " + std::to_string(AMonitor.Count()) + " lines");
    return;
  }
  Expect(AMonitor.Active(), AWhere + ": inactive, yet the file has lines");
  const int count = AMonitor.Count();
  Expect(count == static_cast<int>(AWalk.Lines.size()),
         AWhere + ": " + std::to_string(count) + " lines, expected " + std::to_string(AWalk.Lines.size()));
  for (int i = 0; i < count; ++i) {
    const TRefLine& want = AWalk.Lines[static_cast<size_t>(i)];
    const TrdlLineItem item = AMonitor.Item(i);
    const std::string at = AWhere + ": line " + std::to_string(i);
    Expect(item.Offset == want.Offset,
           at + " at offset " + std::to_string(item.Offset) + ", expected " + std::to_string(want.Offset));
    Expect(item.Length == TrdlLineItem::kUnknownLength || item.Length == static_cast<int>(want.Bytes.size()),
           at + " recorded with length " + std::to_string(item.Length) + ", expected " + std::to_string(want.Bytes.size()));
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < count; ++k) {
      const int i = pass == 0 ? k : count - 1 - k;
      const std::string got = AMonitor.Get(i);
      const std::string& want = AWalk.Lines[static_cast<size_t>(i)].Bytes;
      Expect(got == want, AWhere + ": line " + std::to_string(i) + (pass == 0 ? " read forwards" : " read backwards") + " is \"" +
                              Escaped(got) + "\", expected \"" + Escaped(want) + "\"");
    }
  }
  bool refused = false;
  try {
    AMonitor.Get(count);
  } catch (const ErdlLogMonitorError&) {
    refused = true;
  }
  Expect(refused, AWhere + ": Get(Count()) did not throw");
  if (!ACheckFinal) return;
  Expect(AMonitor.LastLineOpen() == AWalk.LastOpen, AWhere + ": LastLineOpen " + (AMonitor.LastLineOpen() ? "true" : "false") +
                                                        ", expected " + (AWalk.LastOpen ? "true" : "false"));
  Expect(AMonitor.LastFileLineCRC() == AWalk.LastCRC, AWhere + ": LastFileLineCRC " + std::to_string(AMonitor.LastFileLineCRC()) +
                                                          ", expected " + std::to_string(AWalk.LastCRC));
}

}  // namespace velloran::fuzz
