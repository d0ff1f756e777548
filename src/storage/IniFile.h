// TrsIniData: the settings as INI text. Every section with keys is one "[Path]" header and
// one "Name=Value" line per key; the value's text tells its kind ("True", "-17", "0.5",
// "hex:01,02", "text:\"A$0D$0AB\"", "fxdate:2022-03-04T05:06:07.8", ...), so that a file
// loads back with the kinds it was saved with.
//
// The file is in the system's ANSI code page (the locale's narrow encoding), in UTF-8 or in
// UTF-16 of either byte order; the reader tells them apart by the byte-order mark, or by a
// leading "[" in UTF-16.
#pragma once

#include <string>
#include <vector>

#include "Storage.h"

namespace velloran {

enum TrsIniCompactOption : unsigned {
  coHexStr = 1u << 0,  // byte buffers as one unbroken run of hex digits
};
using TrsIniCompactOptions = unsigned;

class TrsIniData : public TrsStreamData {
 public:
  TrsIniData();

  TrsIniCompactOptions CompactOptions() const { return FCompactOptions; }
  void SetCompactOptions(TrsIniCompactOptions AValue) { FCompactOptions = AValue; }
  // The file around the settings, one entry a line; the line "%BODY%" marks where they go.
  const std::vector<std::string>& Template() const { return FTemplate; }
  void SetTemplate(std::vector<std::string> AValue) { FTemplate = std::move(AValue); }
  // Date-times as "fxdate:" (a fixed form any locale reads) instead of the locale's "date:".
  bool FixedDateTimeFormat() const { return FFixedDTFormat; }
  void SetFixedDateTimeFormat(bool AValue) { FFixedDTFormat = AValue; }

 protected:
  // The parser: the whole file in memory, in one pass. Lines it does not understand are
  // skipped; a malformed "curr:", "date:", "int64:" or "point:" value, or an impossible
  // "fxdate:" date, throws EConvertError with the keys read so far kept.
  void LoadFromStream(TrsMemoryStream& AStream) override;
  // The writer: the template's head, every section with keys in the storage's order, the
  // template's tail.
  void SaveToStream(TrsMemoryStream& AStream) override;

 private:
  class TWriter;
  class TParser;

  TrsIniCompactOptions FCompactOptions = 0;
  std::vector<std::string> FTemplate{"%BODY%"};
  bool FFixedDTFormat = false;
};

}  // namespace velloran
