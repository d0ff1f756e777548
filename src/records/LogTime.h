// The times a log holds: its Timestamp values read as points in time, found in a raw line
// without parsing the rest of it, and the time zone a log's local times may be stated in
// (servers write their local time without a zone). Pure functions, safe on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velloran {

// A point in time as milliseconds counted in a proleptic calendar from 1970-01-01 (no time
// zone unless one is applied: the log's times and a query's are the same local time).
using TTimePoint = int64_t;

// The log's form "MM/DD/YYYY HH:MM:SS.mmm" (seconds and milliseconds optional, time optional),
// or ISO 8601 "YYYY-MM-DDTHH:MM:SS.mmm" (a space may replace the T; the same parts optional).
// Empty for anything else, and for an impossible date or time (02/30, 25:00).
std::optional<TTimePoint> ParseTime(std::string_view AText);

// ATime as ISO 8601 text without a zone, "2026-03-02T06:20:33" (".872" added with
// AMilliseconds): the form scripts and databases read whatever their date style.
std::string IsoTimeText(TTimePoint ATime, bool AMilliseconds = false);

// The text of the first element AField of an event line as the log holds it (entities stay),
// a view into ALine, or into ADecoded for a hexadecimal line; empty when it has none.
std::string_view RawFieldText(std::string_view ALine, std::string_view AField, std::string& ADecoded);

// The Timestamp of an event line as the log holds it (hexadecimal lines too); empty when the
// line has none or it is no time.
std::optional<TTimePoint> TimestampOfLine(std::string_view ALine);

// The zone a log's times are in: a fixed offset ("UTC", "Z", "+02:00", "UTC-5", "+0530") or a
// named zone of the system's time zone database ("Europe/Berlin"), whose offset follows
// daylight saving time.
class TTimeZone {
 public:
  // Empty for text that names no zone.
  static std::optional<TTimeZone> Parse(std::string_view AText);
  // ALocal, a time of this zone, as UTC.
  TTimePoint ToUtc(TTimePoint ALocal) const;
  const std::string& Name() const { return FName; }

 private:
  std::string FName;
  bool FNamed = false;
  int64_t FOffsetMinutes = 0;  // fixed zones: local = UTC + offset
  // Named zones: the offset of the last hour converted (offsets change on whole hours).
  mutable int64_t FCachedHour = INT64_MIN;
  mutable int64_t FCachedOffsetMinutes = 0;
};

}  // namespace velloran
