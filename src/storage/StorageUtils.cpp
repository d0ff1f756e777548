#include "StorageUtils.h"

#include <fmt/format.h>
#include <langinfo.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "PlatformText.h"

namespace velloran {

namespace {

constexpr int64_t kMSecsPerDay = 86400000;
constexpr int64_t kMinDateTimeDays = -693593;  // 1 January 1
constexpr int64_t kMaxDateTimeDays = 2958465;  // 31 December 9999
// Days from 1 March 0 (the origin of the civil calendar arithmetic below) to day 0.
constexpr int64_t kDaysBeforeDayZero = 693899;

std::string_view StorageErrorPrefix(int AKind) {
  switch (AKind) {
    case sekGetValue:
      return "TrsStorage get key value error:";
    case sekXMLParser:
      return "TrsXMLData parser error:";
    case sekSetValue:
      return "TrsStorage set key value error:";
    case sekSearchPrepare:
      return "TrsSearch prepare search error:";
    case sekSearch:
      return "TrsSearch error:";
    case sekRegData:
      return "TrsRegData error:";
    default:
      return "Storage library error:";
  }
}

[[noreturn]] void RaiseInvalidFloat(std::string_view AText) {
  throw EConvertError(fmt::format("'{}' is not a valid floating point value", AText));
}
[[noreturn]] void RaiseInvalidCurrency(std::string_view AText) {
  throw EConvertError(fmt::format("'{}' is not a valid currency value", AText));
}
[[noreturn]] void RaiseInvalidInteger(std::string_view AText) {
  throw EConvertError(fmt::format("'{}' is not a valid integer value", AText));
}
[[noreturn]] void RaiseInvalidDateTime(std::string_view AText) {
  throw EConvertError(fmt::format("'{}' is not a valid date and time", AText));
}

// The locale's decimal separator; a string because some locales use a multi-byte one.
std::string DecimalSeparator() {
  const char* point = std::localeconv()->decimal_point;
  return (point != nullptr && *point != '\0') ? std::string(point) : std::string(".");
}

std::string_view TrimSpaces(std::string_view AText) {
  while (!AText.empty() && AText.front() == ' ') AText.remove_prefix(1);
  while (!AText.empty() && AText.back() == ' ') AText.remove_suffix(1);
  return AText;
}

bool IsDigit(char AChar) { return AChar >= '0' && AChar <= '9'; }

char AsciiUpper(char AChar) { return (AChar >= 'a' && AChar <= 'z') ? static_cast<char>(AChar - ('a' - 'A')) : AChar; }

// A decimal number as TextToFloat and TextToCurrency read it, split into its parts.
struct TDecimalText {
  bool Negative = false;
  std::string Digits;        // every mantissa digit, the separator removed
  size_t IntegerDigits = 0;  // how many of Digits stand before the separator
  int64_t Exponent = 0;      // saturated at +-kExponentLimit
  static constexpr int64_t kExponentLimit = 1000000;
};

// Reads [sign] digits [separator digits] [E [sign] digits] from already trimmed text; the
// separator may be ",", "." or ASeparator. Nothing else may follow.
std::optional<TDecimalText> ScanDecimal(std::string_view AText, std::string_view ASeparator) {
  TDecimalText result;
  size_t pos = 0;
  if (pos < AText.size() && (AText[pos] == '+' || AText[pos] == '-')) {
    result.Negative = AText[pos] == '-';
    ++pos;
  }
  bool separatorSeen = false;
  while (pos < AText.size()) {
    const char c = AText[pos];
    if (IsDigit(c)) {
      result.Digits.push_back(c);
      if (!separatorSeen) ++result.IntegerDigits;
      ++pos;
    } else if (!separatorSeen && (c == ',' || c == '.')) {
      separatorSeen = true;
      ++pos;
    } else if (!separatorSeen && AText.substr(pos).starts_with(ASeparator)) {
      separatorSeen = true;
      pos += ASeparator.size();
    } else {
      break;
    }
  }
  if (result.Digits.empty()) return std::nullopt;
  if (pos < AText.size() && (AText[pos] == 'E' || AText[pos] == 'e')) {
    ++pos;
    bool negativeExponent = false;
    if (pos < AText.size() && (AText[pos] == '+' || AText[pos] == '-')) {
      negativeExponent = AText[pos] == '-';
      ++pos;
    }
    if (pos >= AText.size() || !IsDigit(AText[pos])) return std::nullopt;
    int64_t exponent = 0;
    for (; pos < AText.size() && IsDigit(AText[pos]); ++pos) {
      exponent = std::min<int64_t>(exponent * 10 + (AText[pos] - '0'), TDecimalText::kExponentLimit);
    }
    result.Exponent = negativeExponent ? -exponent : exponent;
  }
  if (pos != AText.size()) return std::nullopt;
  return result;
}

// Digits of |AValue| rounded to 15 significant digits with trailing zeros removed, and the
// decimal exponent of the first digit. AValue is finite and not zero.
std::pair<std::string, int> SignificantDigits(double AValue) {
  // "d.dddddddddddddde+XXX": 15 digits, locale-independent.
  std::array<char, 40> buffer{};
  const auto converted =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(AValue), std::chars_format::scientific, 14);
  const std::string_view text(buffer.data(), static_cast<size_t>(converted.ptr - buffer.data()));
  const size_t ePos = text.find('e');
  std::string digits;
  for (char c : text.substr(0, ePos)) {
    if (IsDigit(c)) digits.push_back(c);
  }
  int exponent = 0;
  const std::string_view exponentText = text.substr(ePos + 1);
  std::from_chars(exponentText.data() + (exponentText.front() == '+' ? 1 : 0), exponentText.data() + exponentText.size(),
                  exponent);
  // Rounding up to 1.79769313486232E308 would pass the largest double: stay below it.
  if (exponent == 308 && digits == "179769313486232") digits = "179769313486231";
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return {digits, exponent};
}

// The whole number nearest to AValue, ties to even, as a double. Exact: x - floor(x) has no
// rounding error, and values from 2^52 up are whole already.
double RoundHalfEvenToWhole(double AValue) {
  const double lower = std::floor(AValue);
  const double fraction = AValue - lower;
  if (fraction > 0.5) return lower + 1.0;
  if (fraction < 0.5) return lower;
  return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

// Checked signed range of a double that holds a whole number; -2^63 is exact, 2^63 is not
// an int64.
bool FitsInt64(double AWhole) { return AWhole >= -9223372036854775808.0 && AWhole < 9223372036854775808.0; }

// --- Calendar arithmetic (proleptic Gregorian; Howard Hinnant's days_from_civil) ---

bool IsLeapYear(int AYear) { return AYear % 4 == 0 && (AYear % 100 != 0 || AYear % 400 == 0); }

int DaysInMonth(int AYear, int AMonth) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return AMonth == 2 && IsLeapYear(AYear) ? 29 : kDays[static_cast<size_t>(AMonth - 1)];
}

// Days of AYear-AMonth-ADay since 30 December 1899.
int64_t DaysFromCivil(int AYear, int AMonth, int ADay) {
  const int64_t y = AYear - (AMonth <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t monthFromMarch = AMonth > 2 ? AMonth - 3 : AMonth + 9;
  const int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + ADay - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - kDaysBeforeDayZero;
}

void CivilFromDays(int64_t ADays, TrsDateTimeParts& AParts) {
  const int64_t z = ADays + kDaysBeforeDayZero;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  AParts.Day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  AParts.Month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  AParts.Year = static_cast<int>(yearOfEra + era * 400 + (AParts.Month <= 2 ? 1 : 0));
}

bool ValidDate(int AYear, int AMonth, int ADay) {
  return AYear >= 1 && AYear <= 9999 && AMonth >= 1 && AMonth <= 12 && ADay >= 1 && ADay <= DaysInMonth(AYear, AMonth);
}

bool ValidTime(int AHour, int AMinute, int ASecond, int AMillisecond) {
  return AHour >= 0 && AHour < 24 && AMinute >= 0 && AMinute < 60 && ASecond >= 0 && ASecond < 60 && AMillisecond >= 0 &&
         AMillisecond < 1000;
}

// Delphi's combination of a date and a time of day: the time moves away from zero.
double CombineDateTime(int64_t ADays, int64_t AMilliseconds) {
  const double time = static_cast<double>(AMilliseconds) / static_cast<double>(kMSecsPerDay);
  const double days = static_cast<double>(ADays);
  return ADays < 0 ? days - time : days + time;
}

// The locale's date and time formats as DateTimeToText writes and TextToDateTime reads them.
struct TDateTimeFormats {
  std::string Date;
  std::string Time;
};

TDateTimeFormats LocaleDateTimeFormats() {
  TDateTimeFormats formats;
  const char* date = nl_langinfo(D_FMT);
  const char* time = nl_langinfo(T_FMT);
  const std::string_view dateFormat = (date != nullptr && *date != '\0') ? date : "%m/%d/%Y";
  formats.Time = (time != nullptr && *time != '\0') ? time : "%H:%M:%S";
  // Widen two-digit years: "%y" and "%D" (= "%m/%d/%y") would lose the century.
  for (size_t i = 0; i < dateFormat.size(); ++i) {
    if (dateFormat[i] == '%' && i + 1 < dateFormat.size()) {
      const char conversion = dateFormat[++i];
      if (conversion == 'y') {
        formats.Date += "%Y";
      } else if (conversion == 'D') {
        formats.Date += "%m/%d/%Y";
      } else {
        formats.Date += '%';
        formats.Date += conversion;
      }
    } else {
      formats.Date += dateFormat[i];
    }
  }
  return formats;
}

std::string FormatTm(const std::string& AFormat, const std::tm& ATime) {
  std::string result(64, '\0');
  for (;;) {
// The format comes from the locale, so it cannot be a literal.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const size_t written = std::strftime(result.data(), result.size(), AFormat.c_str(), &ATime);
#pragma GCC diagnostic pop
    // 0 is also the length of a legitimately empty result; give up past a generous size.
    if (written > 0 || result.size() >= 4096) {
      result.resize(written);
      return result;
    }
    result.resize(result.size() * 4);
  }
}

// strptime over the whole of AText; the fields it does not set stay at their zero values.
std::optional<std::tm> ParseTm(const std::string& AText, const std::string& AFormat) {
  std::tm parts{};
  const char* end = strptime(AText.c_str(), AFormat.c_str(), &parts);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return parts;
}

uint64_t ParseUnsignedOrThrow(std::string_view ADigits, int ABase, uint64_t AMax, std::string_view AText) {
  if (ADigits.empty()) RaiseInvalidInteger(AText);
  uint64_t value = 0;
  for (char c : ADigits) {
    uint64_t digit = 0;
    if (IsDigit(c)) {
      digit = static_cast<uint64_t>(c - '0');
    } else if (ABase == 16 && AsciiUpper(c) >= 'A' && AsciiUpper(c) <= 'F') {
      digit = static_cast<uint64_t>(AsciiUpper(c) - 'A' + 10);
    } else {
      RaiseInvalidInteger(AText);
    }
    const uint64_t base = static_cast<uint64_t>(ABase);
    if (value > (AMax - digit) / base) RaiseInvalidInteger(AText);
    value = value * base + digit;
  }
  return value;
}

// Val for an integer of ABits (32 or 64) bits; the result is sign-extended to 64 bits.
int64_t ParseInteger(std::string_view AText, int ABits) {
  std::string_view rest = AText;
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  const uint64_t unsignedMax = ABits == 64 ? UINT64_MAX : UINT32_MAX;
  const uint64_t signedMax = unsignedMax >> 1;
  uint64_t magnitude = 0;
  if (rest.starts_with('$') || rest.starts_with("0x") || rest.starts_with("0X")) {
    rest.remove_prefix(rest.front() == '$' ? 1 : 2);
    magnitude = ParseUnsignedOrThrow(rest, 16, unsignedMax, AText);
  } else {
    magnitude = ParseUnsignedOrThrow(rest, 10, negative ? signedMax + 1 : signedMax, AText);
  }
  // Unsigned negation wraps as the two's complement arithmetic it stands for; the cast to
  // ABits bits then reads a hexadecimal value above the signed range as negative.
  const uint64_t bits = negative ? 0 - magnitude : magnitude;
  return ABits == 32 ? static_cast<int32_t>(static_cast<uint32_t>(bits)) : static_cast<int64_t>(bits);
}

}  // namespace

void RaiseStorageError(int AKind, const std::string& AText) {
  throw TrsException(fmt::format("{} {}", StorageErrorPrefix(AKind), AText));
}

std::string LocaleDecimalSeparator() { return DecimalSeparator(); }

std::string FloatToText(double AValue) {
  if (std::isnan(AValue)) return "NAN";
  if (std::isinf(AValue)) return AValue < 0 ? "-INF" : "INF";
  if (AValue == 0.0) return "0";
  const auto [digits, exponent] = SignificantDigits(AValue);
  const std::string separator = DecimalSeparator();
  std::string result = AValue < 0 ? "-" : "";
  if (exponent < -4 || exponent >= 15) {
    result += digits[0];
    if (digits.size() > 1) result += separator + digits.substr(1);
    result += 'E';
    result += std::to_string(exponent);
  } else if (exponent >= 0) {
    const size_t integerDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) {
      result += digits + std::string(integerDigits - digits.size(), '0');
    } else {
      result += digits.substr(0, integerDigits) + separator + digits.substr(integerDigits);
    }
  } else {
    result += "0" + separator + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  }
  return result;
}

double TextToFloat(std::string_view AText) {
  const std::string_view text = TrimSpaces(AText);
  static constexpr std::pair<std::string_view, double> kNamedValues[] = {
      {"NAN", std::numeric_limits<double>::quiet_NaN()},
      {"INF", std::numeric_limits<double>::infinity()},
      {"+INF", std::numeric_limits<double>::infinity()},
      {"-INF", -std::numeric_limits<double>::infinity()},
  };
  for (const auto& [name, namedValue] : kNamedValues) {
    if (platform::SameTextIgnoringAsciiCase(text, name)) return namedValue;
  }
  const std::optional<TDecimalText> decimal = ScanDecimal(text, DecimalSeparator());
  if (!decimal) RaiseInvalidFloat(AText);
  // Rebuilt in from_chars' own syntax, which no locale changes.
  std::string plain = decimal->Negative ? "-" : "";
  plain += decimal->Digits.substr(0, decimal->IntegerDigits);
  plain += '.';
  plain += decimal->Digits.substr(decimal->IntegerDigits);
  plain += 'e';
  plain += std::to_string(decimal->Exponent);
  double value = 0;
  const auto parsed = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (parsed.ec == std::errc::result_out_of_range) {
    // Underflow or overflow: the decimal exponent of the first significant digit tells which.
    const size_t firstSignificant = decimal->Digits.find_first_not_of('0');
    const int64_t magnitude =
        static_cast<int64_t>(decimal->IntegerDigits) - static_cast<int64_t>(firstSignificant) + decimal->Exponent;
    if (magnitude > 0) RaiseInvalidFloat(AText);
    return decimal->Negative ? -0.0 : 0.0;
  }
  if (parsed.ec != std::errc() || parsed.ptr != plain.data() + plain.size()) RaiseInvalidFloat(AText);
  return value;
}

std::string CurrencyToText(TrsCurrency AValue) {
  const bool negative = AValue.Scaled < 0;
  // Unsigned, so that the smallest value has a magnitude too.
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(AValue.Scaled) : static_cast<uint64_t>(AValue.Scaled);
  const uint64_t scale = static_cast<uint64_t>(TrsCurrency::kScale);
  std::string result = negative ? "-" : "";
  result += std::to_string(magnitude / scale);
  std::string decimals = fmt::format("{:04}", magnitude % scale);
  while (!decimals.empty() && decimals.back() == '0') decimals.pop_back();
  if (!decimals.empty()) result += DecimalSeparator() + decimals;
  return result;
}

TrsCurrency TextToCurrency(std::string_view AText) {
  std::optional<TDecimalText> decimal = ScanDecimal(TrimSpaces(AText), DecimalSeparator());
  if (!decimal) RaiseInvalidCurrency(AText);
  std::string& digits = decimal->Digits;
  // Leading zeros would count against the 19 digits an int64 holds.
  const size_t leadingZeros = std::min(digits.find_first_not_of('0'), digits.size());
  digits.erase(0, leadingZeros);
  // Number of digits before the point of the value times 10,000.
  const int64_t wholeDigits =
      static_cast<int64_t>(decimal->IntegerDigits) - static_cast<int64_t>(leadingZeros) + decimal->Exponent + 4;
  if (digits.empty() || wholeDigits < 0) return TrsCurrency{};  // zero, or below half a unit
  if (wholeDigits > 19) RaiseInvalidCurrency(AText);
  const size_t whole = static_cast<size_t>(wholeDigits);
  uint64_t magnitude = 0;
  for (size_t i = 0; i < whole; ++i) magnitude = magnitude * 10 + static_cast<uint64_t>(i < digits.size() ? digits[i] - '0' : 0);
  if (whole < digits.size()) {
    const std::string_view dropped = std::string_view(digits).substr(whole);
    const bool aboveHalf = dropped[0] > '5' || (dropped[0] == '5' && dropped.find_first_not_of('0', 1) != std::string_view::npos);
    const bool half = dropped[0] == '5' && !aboveHalf;
    if (aboveHalf || (half && magnitude % 2 == 1)) ++magnitude;
  }
  const uint64_t limit = static_cast<uint64_t>(INT64_MAX) + (decimal->Negative ? 1 : 0);
  // 19 digits stay below 2^64, so only the signed limit needs a check.
  if (magnitude > limit) RaiseInvalidCurrency(AText);
  return TrsCurrency{decimal->Negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude)};
}

TrsCurrency CurrencyFromDouble(double AValue) {
  const double scaled = RoundHalfEvenToWhole(AValue * static_cast<double>(TrsCurrency::kScale));
  if (!std::isfinite(scaled) || !FitsInt64(scaled)) {
    throw EConvertError(fmt::format("'{}' is out of the currency range", FloatToText(AValue)));
  }
  return TrsCurrency{static_cast<int64_t>(scaled)};
}

double CurrencyToDouble(TrsCurrency AValue) {
  return static_cast<double>(AValue.Scaled) / static_cast<double>(TrsCurrency::kScale);
}

TrsCurrency CurrencyFromInt64(int64_t AValue) {
  if (AValue > INT64_MAX / TrsCurrency::kScale || AValue < INT64_MIN / TrsCurrency::kScale) {
    throw EConvertError(fmt::format("'{}' is out of the currency range", AValue));
  }
  return TrsCurrency{AValue * TrsCurrency::kScale};
}

int64_t CurrencyRound(TrsCurrency AValue) {
  // C++ division truncates toward zero, so the remainder carries the value's sign.
  int64_t whole = AValue.Scaled / TrsCurrency::kScale;
  const int64_t remainder = AValue.Scaled % TrsCurrency::kScale;
  const int64_t twice = 2 * (remainder < 0 ? -remainder : remainder);
  if (twice > TrsCurrency::kScale || (twice == TrsCurrency::kScale && whole % 2 != 0)) whole += remainder < 0 ? -1 : 1;
  return whole;
}

double EncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond, int AMillisecond) {
  if (!ValidDate(AYear, AMonth, ADay)) throw EConvertError("Invalid argument to date encode");
  if (!ValidTime(AHour, AMinute, ASecond, AMillisecond)) throw EConvertError("Invalid argument to time encode");
  const int64_t milliseconds = ((int64_t{AHour} * 60 + AMinute) * 60 + ASecond) * 1000 + AMillisecond;
  return CombineDateTime(DaysFromCivil(AYear, AMonth, ADay), milliseconds);
}

TrsDateTimeParts DecodeDateTime(double AValue) {
  // Also refuses NaN, and keeps the conversions below in range.
  if (!(AValue > static_cast<double>(kMinDateTimeDays - 1) && AValue < static_cast<double>(kMaxDateTimeDays + 1))) {
    throw EConvertError(fmt::format("'{}' is not a valid date and time value", FloatToText(AValue)));
  }
  // The whole part is the day, toward zero; the fraction's magnitude is the time (both exact).
  const double wholeDays = std::trunc(AValue);
  int64_t days = static_cast<int64_t>(wholeDays);
  int64_t time = RoundHalfEven64(std::fabs(AValue - wholeDays) * static_cast<double>(kMSecsPerDay));
  if (time == kMSecsPerDay) {
    // Rounded up to the next midnight: the next calendar day, whatever the sign.
    ++days;
    time = 0;
  }
  if (days < kMinDateTimeDays || days > kMaxDateTimeDays) {
    throw EConvertError(fmt::format("'{}' is not a valid date and time value", FloatToText(AValue)));
  }
  TrsDateTimeParts parts;
  CivilFromDays(days, parts);
  parts.Millisecond = static_cast<int>(time % 1000);
  time /= 1000;
  parts.Second = static_cast<int>(time % 60);
  time /= 60;
  parts.Minute = static_cast<int>(time % 60);
  parts.Hour = static_cast<int>(time / 60);
  return parts;
}

std::string DateTimeToText(double AValue) {
  const TrsDateTimeParts parts = DecodeDateTime(AValue);
  std::tm fields{};
  fields.tm_year = parts.Year - 1900;
  fields.tm_mon = parts.Month - 1;
  fields.tm_mday = parts.Day;
  fields.tm_hour = parts.Hour;
  fields.tm_min = parts.Minute;
  fields.tm_sec = parts.Second;
  // Some locales' formats name the weekday; 30 December 1899 was a Saturday (6).
  const int64_t days = DaysFromCivil(parts.Year, parts.Month, parts.Day);
  fields.tm_wday = static_cast<int>(((days + 6) % 7 + 7) % 7);
  fields.tm_yday = static_cast<int>(days - DaysFromCivil(parts.Year, 1, 1));
  const TDateTimeFormats formats = LocaleDateTimeFormats();
  std::string result = FormatTm(formats.Date, fields);
  if (parts.Hour != 0 || parts.Minute != 0 || parts.Second != 0) result += ' ' + FormatTm(formats.Time, fields);
  return result;
}

double TextToDateTime(std::string_view AText) {
  const std::string text(TrimSpaces(AText));
  const TDateTimeFormats formats = LocaleDateTimeFormats();
  std::optional<std::tm> parts = ParseTm(text, formats.Date + " " + formats.Time);
  bool hasDate = true;
  bool hasTime = true;
  if (!parts) {
    parts = ParseTm(text, formats.Date);
    hasTime = false;
  }
  if (!parts) {
    parts = ParseTm(text, formats.Time);
    hasDate = false;
    hasTime = true;
  }
  if (!parts) RaiseInvalidDateTime(AText);
  int64_t days = 0;
  if (hasDate) {
    const int year = parts->tm_year + 1900;
    const int month = parts->tm_mon + 1;
    if (!ValidDate(year, month, parts->tm_mday)) RaiseInvalidDateTime(AText);
    days = DaysFromCivil(year, month, parts->tm_mday);
  }
  int64_t milliseconds = 0;
  if (hasTime) {
    // strptime accepts a leap second (60); Delphi does not.
    if (!ValidTime(parts->tm_hour, parts->tm_min, parts->tm_sec, 0)) RaiseInvalidDateTime(AText);
    milliseconds = ((int64_t{parts->tm_hour} * 60 + parts->tm_min) * 60 + parts->tm_sec) * 1000;
  }
  return CombineDateTime(days, milliseconds);
}

int32_t TextToInteger(std::string_view AText) { return static_cast<int32_t>(ParseInteger(AText, 32)); }

int64_t TextToInt64(std::string_view AText) { return ParseInteger(AText, 64); }

int32_t RoundHalfEven(double AValue) {
  const double whole = RoundHalfEvenToWhole(AValue);
  if (!(whole >= -2147483648.0 && whole <= 2147483647.0)) {
    throw EConvertError(fmt::format("'{}' is out of the integer range", FloatToText(AValue)));
  }
  return static_cast<int32_t>(whole);
}

int64_t RoundHalfEven64(double AValue) {
  const double whole = RoundHalfEvenToWhole(AValue);
  if (!FitsInt64(whole)) throw EConvertError(fmt::format("'{}' is out of the integer range", FloatToText(AValue)));
  return static_cast<int64_t>(whole);
}

std::string BufferToHexText(const void* ABuffer, size_t ACount) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  static constexpr size_t kBytesPerLine = 26;
  const auto* bytes = static_cast<const uint8_t*>(ABuffer);
  std::string result;
  result.reserve(ACount * 3 + ACount / kBytesPerLine * 2);
  for (size_t i = 0; i < ACount; ++i) {
    result += kHexDigits[bytes[i] >> 4];
    result += kHexDigits[bytes[i] & 0x0F];
    const size_t written = i + 1;
    if (written == ACount) break;
    result += ',';
    if (written % kBytesPerLine == 0 && ACount - written >= 2) result += "\r\n";
  }
  return result;
}

std::u16string Utf8ToUtf16(std::string_view AText) {
  if (AText.empty()) return {};
  if (AText.size() > static_cast<size_t>(INT32_MAX)) throw std::length_error("Utf8ToUtf16: text too long");
  // One UTF-16 unit per UTF-8 byte at most.
  std::u16string result(AText.size(), u'\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(result.data(), static_cast<int32_t>(result.size()), &length, AText.data(),
                       static_cast<int32_t>(AText.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) throw std::runtime_error(fmt::format("Utf8ToUtf16: {}", u_errorName(status)));
  result.resize(static_cast<size_t>(length));
  return result;
}

std::string Utf16ToUtf8(std::u16string_view AText) {
  if (AText.empty()) return {};
  if (AText.size() > static_cast<size_t>(INT32_MAX / 3)) throw std::length_error("Utf16ToUtf8: text too long");
  // Three UTF-8 bytes per UTF-16 unit at most (a pair of units gives four).
  std::string result(AText.size() * 3, '\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(result.data(), static_cast<int32_t>(result.size()), &length, AText.data(),
                     static_cast<int32_t>(AText.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) throw std::runtime_error(fmt::format("Utf16ToUtf8: {}", u_errorName(status)));
  result.resize(static_cast<size_t>(length));
  return result;
}

}  // namespace velloran

namespace velloran {

// The platform's conversion replaces ill-formed sequences exactly as Utf8ToUtf16 does, and
// needs no UTF-16 string in between.
std::string Utf16LeBytes(std::string_view AText) { return platform::Utf8ToUtf16Le(AText); }

std::string TextOfUtf16LeBytes(std::string_view ABytes) {
  std::u16string units(ABytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] =
        static_cast<char16_t>(static_cast<unsigned char>(ABytes[2 * i]) | (static_cast<unsigned char>(ABytes[2 * i + 1]) << 8));
  }
  return Utf16ToUtf8(units);
}

}  // namespace velloran

// --- the ANSI code page and LZRW1-KH ---------------------------------------------------------

namespace velloran {

namespace {

std::string LocaleCodeset() {
  const char* codeset = ::nl_langinfo(CODESET);
  return codeset != nullptr ? std::string(codeset) : std::string();
}

bool IsUtf8OrAscii(const std::string& ACodeset) {
  // glibc names ASCII "ANSI_X3.4-1968"; see AnsiCodePageIsUtf8 for why it counts as UTF-8.
  static constexpr std::string_view kNames[] = {"UTF-8", "utf8", "UTF8", "ANSI_X3.4-1968", "ASCII", "US-ASCII"};
  return ACodeset.empty() || std::find(std::begin(kNames), std::end(kNames), ACodeset) != std::end(kNames);
}

// A converter of the locale's codeset, closed when it leaves scope.
class TAnsiConverter {
 public:
  TAnsiConverter() {
    UErrorCode status = U_ZERO_ERROR;
    FConverter = ucnv_open(LocaleCodeset().c_str(), &status);
    if (U_FAILURE(status)) FConverter = nullptr;
  }
  ~TAnsiConverter() {
    if (FConverter != nullptr) ucnv_close(FConverter);
  }
  TAnsiConverter(const TAnsiConverter&) = delete;
  TAnsiConverter& operator=(const TAnsiConverter&) = delete;
  UConverter* Get() const { return FConverter; }

 private:
  UConverter* FConverter = nullptr;
};

}  // namespace

bool AnsiCodePageIsUtf8() { return IsUtf8OrAscii(LocaleCodeset()); }

std::string Utf8ToAnsi(std::string_view AText) {
  if (AnsiCodePageIsUtf8()) return std::string(AText);
  const TAnsiConverter converter;
  if (converter.Get() == nullptr) return std::string(AText);
  const std::u16string units = Utf8ToUtf16(AText);
  std::string bytes(units.size() * static_cast<size_t>(ucnv_getMaxCharSize(converter.Get())) + 1, '\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = ucnv_fromUChars(converter.Get(), bytes.data(), static_cast<int32_t>(bytes.size()), units.data(),
                                         static_cast<int32_t>(units.size()), &status);
  if (U_FAILURE(status)) return std::string(AText);
  bytes.resize(static_cast<size_t>(length));
  return bytes;
}

std::string AnsiToUtf8(std::string_view AText) {
  if (AnsiCodePageIsUtf8()) return std::string(AText);
  const TAnsiConverter converter;
  if (converter.Get() == nullptr) return std::string(AText);
  std::u16string units(AText.size() * 2 + 1, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = ucnv_toUChars(converter.Get(), units.data(), static_cast<int32_t>(units.size()), AText.data(),
                                       static_cast<int32_t>(AText.size()), &status);
  if (U_FAILURE(status)) return std::string(AText);
  units.resize(static_cast<size_t>(length));
  return Utf16ToUtf8(units);
}

namespace {

constexpr uint8_t kFlagCompressed = 0x40;
constexpr uint8_t kFlagStored = 0x80;
constexpr size_t kMaxMatchDistance = 4096;
constexpr size_t kMaxMatch = 18;
constexpr size_t kMinRun = 16;
constexpr size_t kMaxRun = 0xFFF;

// The match finder: one slot per 12-bit hash of three bytes, holding their last position.
bool FindMatch(const uint8_t* ASource, size_t AAt, size_t ASize, std::array<int32_t, 4096>& AHash, size_t& ALength,
               size_t& APosition) {
  const unsigned mixed = ((((unsigned{ASource[AAt]} << 4) ^ ASource[AAt + 1]) << 4) ^ ASource[AAt + 2]);
  const size_t slot = ((40543u * mixed) >> 4) & 0x0FFF;
  bool found = false;
  const int32_t previous = AHash[slot];
  if (previous != -1 && AAt - static_cast<size_t>(previous) < kMaxMatchDistance) {
    APosition = static_cast<size_t>(previous);
    ALength = 0;
    while (ALength < kMaxMatch && AAt + ALength < ASize && ASource[AAt + ALength] == ASource[APosition + ALength]) ++ALength;
    found = ALength >= 3;
  }
  AHash[slot] = static_cast<int32_t>(AAt);
  return found;
}

}  // namespace

std::string Lzrw1khCompress(std::string_view AChunk) {
  const size_t size = AChunk.size();
  // The match finder hashes up to two bytes past the last one; they are zeros here and never
  // become part of a match.
  std::vector<uint8_t> source(AChunk.begin(), AChunk.end());
  source.resize(size + 16, 0);
  std::vector<uint8_t> dest(size + 32, 0);
  std::array<int32_t, 4096> hash;
  hash.fill(-1);
  dest[0] = kFlagCompressed;
  size_t x = 0;
  size_t y = 3;
  size_t commandAt = 1;
  unsigned bit = 0;
  uint32_t command = 0;
  while (x < size && y <= size) {
    if (bit > 15) {
      dest[commandAt] = static_cast<uint8_t>(command >> 8);
      dest[commandAt + 1] = static_cast<uint8_t>(command);
      commandAt = y;
      bit = 0;
      y += 2;
    }
    size_t length = 1;
    while (length < kMaxRun && x + length < size && source[x] == source[x + length]) ++length;
    size_t position = 0;
    if (length >= kMinRun) {
      dest[y] = 0;
      dest[y + 1] = static_cast<uint8_t>((length - kMinRun) >> 8);
      dest[y + 2] = static_cast<uint8_t>(length - kMinRun);
      dest[y + 3] = source[x];
      y += 4;
      x += length;
      command = (command << 1) + 1;
    } else if (FindMatch(source.data(), x, size, hash, length, position)) {
      const size_t key = ((x - position) << 4) + (length - 3);
      dest[y] = static_cast<uint8_t>(key >> 8);
      dest[y + 1] = static_cast<uint8_t>(key);
      y += 2;
      x += length;
      command = (command << 1) + 1;
    } else {
      dest[y] = source[x];
      ++y;
      ++x;
      command <<= 1;
    }
    ++bit;
  }
  command <<= (16 - bit);
  dest[commandAt] = static_cast<uint8_t>(command >> 8);
  dest[commandAt + 1] = static_cast<uint8_t>(command);
  if (y > size) {
    dest[0] = kFlagStored;
    std::copy(AChunk.begin(), AChunk.end(), dest.begin() + 1);
    y = size + 1;
  }
  return std::string(reinterpret_cast<const char*>(dest.data()), y);
}

bool Lzrw1khDecompress(std::string_view AChunk, std::string& AOutput, size_t ALimit) {
  const auto* source = reinterpret_cast<const uint8_t*>(AChunk.data());
  const size_t size = AChunk.size();
  if (size == 0) return false;
  if (source[0] == kFlagStored) {
    if (size - 1 > ALimit) return false;
    AOutput.append(AChunk.substr(1));
    return true;
  }
  if (source[0] != kFlagCompressed || size < 3) return false;
  const size_t start = AOutput.size();
  const auto produced = [&] { return AOutput.size() - start; };
  size_t x = 3;
  unsigned command = (unsigned{source[1]} << 8) | source[2];
  int bit = 16;
  while (x < size) {
    if (bit == 0) {
      if (x + 2 > size) return false;
      command = (unsigned{source[x]} << 8) | source[x + 1];
      bit = 16;
      x += 2;
      if (x >= size) break;  // a command word with no items after it ends the chunk
    }
    if ((command & 0x8000) == 0) {
      if (produced() + 1 > ALimit) return false;
      AOutput += static_cast<char>(source[x]);
      ++x;
    } else {
      if (x + 2 > size) return false;
      const size_t distance = (size_t{source[x]} << 4) | (source[x + 1] >> 4);
      if (distance == 0) {
        if (x + 4 > size) return false;
        const size_t count = ((size_t{source[x + 1]} << 8) | source[x + 2]) + kMinRun;
        if (produced() + count > ALimit) return false;
        AOutput.append(count, static_cast<char>(source[x + 3]));
        x += 4;
      } else {
        const size_t count = (source[x + 1] & 0x0F) + 3u;
        if (distance > produced() || produced() + count > ALimit) return false;
        // Byte by byte: a reference may overlap the bytes it produces.
        for (size_t k = 0; k < count; ++k) AOutput += AOutput[AOutput.size() - distance];
        x += 2;
      }
    }
    command = (command << 1) & 0xFFFF;
    --bit;
  }
  return true;
}

}  // namespace velloran
