#include "LogTime.h"

#include <cstdio>
#include <cstring>

#include "LogData.h"
#include "PlatformSystem.h"
#include "PlatformText.h"

namespace velloran {

namespace {

bool Digits(std::string_view AText, size_t AFrom, size_t ACount, int& AValue) {
  if (AFrom + ACount > AText.size()) return false;
  AValue = 0;
  for (size_t i = AFrom; i < AFrom + ACount; ++i) {
    if (AText[i] < '0' || AText[i] > '9') return false;
    AValue = AValue * 10 + (AText[i] - '0');
  }
  return true;
}

// Days from 1970-01-01 of a civil date (Howard Hinnant's algorithm).
int64_t DaysFromCivil(int64_t AYear, int AMonth, int ADay) {
  AYear -= AMonth <= 2 ? 1 : 0;
  const int64_t era = (AYear >= 0 ? AYear : AYear - 399) / 400;
  const int64_t yearOfEra = AYear - era * 400;
  const int64_t dayOfYear = (153 * (AMonth + (AMonth > 2 ? -3 : 9)) + 2) / 5 + ADay - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The civil date of a day counted from 1970-01-01 (the inverse of DaysFromCivil).
void CivilFromDays(int64_t ADays, int64_t& AYear, int& AMonth, int& ADay) {
  ADays += 719468;
  const int64_t era = (ADays >= 0 ? ADays : ADays - 146096) / 146097;
  const int64_t dayOfEra = ADays - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  ADay = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  AMonth = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  AYear = yearOfEra + era * 400 + (AMonth <= 2 ? 1 : 0);
}

bool IsLeapYear(int AYear) { return (AYear % 4 == 0 && AYear % 100 != 0) || AYear % 400 == 0; }

int DaysInMonth(int AYear, int AMonth) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return AMonth == 2 && IsLeapYear(AYear) ? 29 : kDays[AMonth - 1];
}

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.mmm" (1 to 3 fraction digits) from AAt to the end.
bool ParseClock(std::string_view AText, size_t AAt, int64_t& AMilliseconds) {
  int hour = 0, minute = 0, second = 0, millis = 0;
  if (!Digits(AText, AAt, 2, hour) || AAt + 2 >= AText.size() || AText[AAt + 2] != ':' || !Digits(AText, AAt + 3, 2, minute))
    return false;
  size_t p = AAt + 5;
  if (p < AText.size()) {
    if (AText[p] != ':' || !Digits(AText, p + 1, 2, second)) return false;
    p += 3;
    if (p < AText.size()) {
      if (AText[p] != '.') return false;
      const size_t digits = AText.size() - p - 1;
      if (digits < 1 || digits > 3 || !Digits(AText, p + 1, digits, millis)) return false;
      for (size_t i = digits; i < 3; ++i) millis *= 10;
    }
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  AMilliseconds = ((hour * 60 + minute) * 60 + second) * int64_t{1000} + millis;
  return true;
}

std::optional<TTimePoint> Compose(int AYear, int AMonth, int ADay, std::string_view AText, size_t AClockAt) {
  if (AMonth < 1 || AMonth > 12 || ADay < 1 || ADay > DaysInMonth(AYear, AMonth)) return std::nullopt;
  int64_t clock = 0;
  if (AClockAt < AText.size() && !ParseClock(AText, AClockAt, clock)) return std::nullopt;
  return DaysFromCivil(AYear, AMonth, ADay) * 86400000 + clock;
}

bool ParseOffset(std::string_view AText, int64_t& AMinutes) {
  if (AText.empty()) {
    AMinutes = 0;
    return true;
  }
  if (AText[0] != '+' && AText[0] != '-') return false;
  const int64_t sign = AText[0] == '-' ? -1 : 1;
  AText.remove_prefix(1);
  int hours = 0, minutes = 0;
  if (AText.size() <= 2) {
    if (AText.empty() || !Digits(AText, 0, AText.size(), hours)) return false;
  } else if (AText.size() == 4) {
    if (!Digits(AText, 0, 2, hours) || !Digits(AText, 2, 2, minutes)) return false;
  } else if (AText.size() == 5 && AText[2] == ':') {
    if (!Digits(AText, 0, 2, hours) || !Digits(AText, 3, 2, minutes)) return false;
  } else {
    return false;
  }
  if (hours > 14 || minutes > 59) return false;
  AMinutes = sign * (hours * 60 + minutes);
  return true;
}

}  // namespace

std::string IsoTimeText(TTimePoint ATime, bool AMilliseconds) {
  constexpr int64_t kDay = 86400000;
  const int64_t days = ATime >= 0 ? ATime / kDay : (ATime - kDay + 1) / kDay;
  const int64_t clock = ATime - days * kDay;
  int64_t year = 0;
  int month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  char text[48];
  const int seconds = static_cast<int>(clock / 1000);
  int length = std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d", static_cast<long long>(year), month, day,
                             seconds / 3600, seconds / 60 % 60, seconds % 60);
  if (AMilliseconds)
    length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length), ".%03d", static_cast<int>(clock % 1000));
  return std::string(text, static_cast<size_t>(length));
}

std::optional<TTimePoint> ParseTime(std::string_view AText) {
  int year = 0, month = 0, day = 0;
  if (AText.size() >= 10 && AText[2] == '/' && AText[5] == '/') {
    if (!Digits(AText, 0, 2, month) || !Digits(AText, 3, 2, day) || !Digits(AText, 6, 4, year)) return std::nullopt;
  } else if (AText.size() >= 10 && AText[4] == '-' && AText[7] == '-') {
    if (!Digits(AText, 0, 4, year) || !Digits(AText, 5, 2, month) || !Digits(AText, 8, 2, day)) return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (AText.size() == 10) return Compose(year, month, day, AText, AText.size());
  const bool iso = AText[4] == '-';
  if (AText[10] != ' ' && !(iso && AText[10] == 'T')) return std::nullopt;
  if (AText.size() == 11) return std::nullopt;
  return Compose(year, month, day, AText, 11);
}

std::string_view RawFieldText(std::string_view ALine, std::string_view AField, std::string& ADecoded) {
  if (TData::IsHexLine(ALine)) {
    ADecoded = TData::HexToText(ALine.substr(ALine.find_first_of("xX") + 1));
    ALine = ADecoded;
  }
  for (size_t at = ALine.find(AField); at != std::string_view::npos; at = ALine.find(AField, at + 1)) {
    const size_t after = at + AField.size();
    // "<Field" followed by its attributes or its end: not a longer name that starts alike.
    if (at == 0 || ALine[at - 1] != '<' || (after < ALine.size() && ALine[after] != ' ' && ALine[after] != '>')) continue;
    const size_t open = ALine.find('>', after);
    const size_t close = open == std::string_view::npos ? open : ALine.find('<', open + 1);
    if (close == std::string_view::npos) return {};
    return ALine.substr(open + 1, close - open - 1);
  }
  return {};
}

std::optional<TTimePoint> TimestampOfLine(std::string_view ALine) {
  std::string decoded;
  return ParseTime(RawFieldText(ALine, "Timestamp", decoded));
}

std::optional<TTimeZone> TTimeZone::Parse(std::string_view AText) {
  while (!AText.empty() && AText.front() == ' ') AText.remove_prefix(1);
  while (!AText.empty() && AText.back() == ' ') AText.remove_suffix(1);
  if (AText.empty()) return std::nullopt;
  TTimeZone zone;
  zone.FName.assign(AText);
  std::string_view offset = AText;
  if (platform::StartsWithIgnoringAsciiCase(offset, "UTC") || platform::StartsWithIgnoringAsciiCase(offset, "GMT")) {
    offset.remove_prefix(3);
  } else if (offset == "Z" || offset == "z") {
    offset = {};
  }
  if (ParseOffset(offset, zone.FOffsetMinutes)) return zone;
  if (!platform::TimeZoneExists(zone.FName)) return std::nullopt;
  zone.FNamed = true;
  return zone;
}

TTimePoint TTimeZone::ToUtc(TTimePoint ALocal) const {
  constexpr int64_t kMinute = 60000, kHour = 60 * kMinute;
  if (!FNamed) return ALocal - FOffsetMinutes * kMinute;
  const int64_t hour = ALocal >= 0 ? ALocal / kHour : (ALocal - kHour + 1) / kHour;
  if (hour != FCachedHour) {
    int offset = 0;
    if (!platform::TimeZoneOffsetMinutes(FName, hour * 3600, offset)) offset = 0;
    FCachedHour = hour;
    FCachedOffsetMinutes = offset;
  }
  return ALocal - FCachedOffsetMinutes * kMinute;
}

}  // namespace velloran
