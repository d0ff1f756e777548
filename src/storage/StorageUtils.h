// The settings storage's error routine and the value conversions its typed reads and writes
// share: numbers, currency and date-times to and from text in the process locale, rounding
// to integers, the text of a byte buffer, and UTF-8 / UTF-16 conversion. Each conversion
// names the Windows or Delphi routine it stands in for.
//
// Locale: "the process locale" is the C library's global locale, the one setlocale sets (the
// programs call setlocale(LC_ALL, "") at start-up; without that call it is "C"). LC_NUMERIC
// gives the decimal separator, LC_TIME the date and time formats. What one of these
// functions writes, the matching reader reads back under the same locale; text written under
// one locale may not read under another.
//
// Threading: the functions hold no state of their own and may run on any thread, as long as
// no thread changes the process locale meanwhile (setlocale itself is not thread-safe).
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velloran {

// The storage library's own error: raised only through RaiseStorageError.
class TrsException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Kinds of RaiseStorageError; each selects the message prefix shown beside it.
enum TrsStorageErrorKind : int {
  sekGetValue = 0,       // "TrsStorage get key value error:"
  sekXMLParser = 1,      // "TrsXMLData parser error:"
  sekSetValue = 2,       // "TrsStorage set key value error:"
  sekSearchPrepare = 3,  // "TrsSearch prepare search error:"
  sekSearch = 4,         // "TrsSearch error:"
  sekRegData = 5,        // "TrsRegData error:"
  // any other kind: "Storage library error:"
};

// Throws TrsException whose message is the prefix of AKind, one space, and AText.
[[noreturn]] void RaiseStorageError(int AKind, const std::string& AText);

// EConvertError: text that is not a number, currency value or date-time in the expected
// form, an impossible date or time, or a number outside the range of its target type.
// Distinct from TrsException: the storage lets it propagate unchanged.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// --- Floating point -----------------------------------------------------------------------

// FloatToStr: 15 significant digits, trailing zeros dropped, the locale's decimal separator
// and no thousands separators. Fixed notation while the decimal exponent e of the rounded
// value (1.5 has e = 0, 0.001 has e = -3) lies in -4 <= e < 15, the rule of printf's "%.15g";
// otherwise scientific: mantissa, "E", "-" for a negative exponent, the exponent without
// leading zeros ("1.5E20", "1E-5", "-2.5E-300"). Zero, including -0, is "0"; NaN and the
// infinities are "NAN", "INF" and "-INF". The largest doubles, whose 15-digit rounding
// 1.79769313486232E308 would read back as an overflow, are written as 1.79769313486231E308.
//
// Round trip under one locale: TextToFloat(FloatToText(x)) == x for every x that is the
// nearest normal double to a decimal of at most 15 significant digits (whatever a user or a
// settings file writes); for any other x it gives the double nearest to x's 15-digit
// rounding, which writes the same text again.
std::string FloatToText(double AValue);

// The locale's decimal separator (LC_NUMERIC), "." when it names none.
std::string LocaleDecimalSeparator();

// StrToFloat: the text after separator normalisation (",", "." and the locale's separator
// all stand for the decimal separator). Accepted: leading and trailing spaces, an optional
// "+" or "-", decimal digits with at most one separator and at least one digit, an optional
// exponent ("E" or "e", an optional sign, at least one digit); also "NAN", "INF", "+INF" and
// "-INF" in any letter case, so that FloatToText's texts read back. Not accepted: thousands
// separators, hexadecimal, "infinity". A magnitude too small for a double gives zero of the
// text's sign; one too large throws. Throws EConvertError "'<text>' is not a valid floating
// point value".
double TextToFloat(std::string_view AText);

// --- Currency ------------------------------------------------------------------------------

// Delphi's Currency: a fixed-point number, a 64-bit integer count of 1/10,000 units.
struct TrsCurrency {
  static constexpr int64_t kScale = 10000;

  int64_t Scaled = 0;  // the value times 10,000

  friend constexpr auto operator<=>(const TrsCurrency&, const TrsCurrency&) = default;
};

// CurrToStr: "-" when negative, the integer part, then the locale's separator and up to four
// decimals with trailing zeros dropped (no separator for a whole number); never an exponent
// or thousands separators. 123400 units give "12.34", -1 gives "-0.0001".
std::string CurrencyToText(TrsCurrency AValue);

// StrToCurr: the syntax of TextToFloat (normalised separators, spaces around, an exponent),
// except NAN and INF. The decimal value is taken exactly and rounded to the nearest 1/10,000,
// ties to even ("0.00025" gives 2 units, "0.00035" gives 4). Throws EConvertError "'<text>' is
// not a valid currency value" for other text and for values outside the currency range.
TrsCurrency TextToCurrency(std::string_view AText);

// Assigning a Double to a Currency: AValue times 10,000 (one double multiplication) rounded
// to the nearest integer, ties to even; so 12.34 gives 123400 and 0.00025, whose product is
// exactly 2.5, gives 2. Throws EConvertError for NaN, infinities and values out of range.
TrsCurrency CurrencyFromDouble(double AValue);
// The nearest double to the currency value.
double CurrencyToDouble(TrsCurrency AValue);
// Assigning an integer to a Currency: AValue times 10,000; throws EConvertError when that
// leaves the currency range (beyond about 9.2e14).
TrsCurrency CurrencyFromInt64(int64_t AValue);
// Round of a Currency: the whole number nearest to the value, ties to even (2.5 gives 2,
// 3.5 gives 4, -2.5 gives -2).
int64_t CurrencyRound(TrsCurrency AValue);

// --- Date and time -------------------------------------------------------------------------

// TDateTime: days since 30 December 1899 00:00 as a double, the fraction being the time of
// day. Dates are proleptic Gregorian. Before 30 December 1899 the whole part is negative and
// the fraction still counts forward from midnight: -1.25 is 29 December 1899 06:00, and
// -0.25 is 30 December 1899 06:00 like 0.25. Valid dates lie in the years 1 to 9999,
// -693593 (1 January 1) to 2958465 (31 December 9999) days.
struct TrsDateTimeParts {
  int Year = 1899;
  int Month = 12;  // 1..12
  int Day = 30;    // 1..31
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;

  friend bool operator==(const TrsDateTimeParts&, const TrsDateTimeParts&) = default;
};

// EncodeDate + EncodeTime (with Delphi's sign rule for negative dates above). Throws
// EConvertError "Invalid argument to date encode" for a year outside 1..9999, a month
// outside 1..12 or a day outside the month, "Invalid argument to time encode" for an hour
// above 23, a minute or second above 59 or a millisecond above 999, or any negative part.
double EncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond, int AMillisecond);

// DecodeDate + DecodeTime: the time of day is rounded to the nearest millisecond, and one
// that rounds up to 24:00 gives midnight of the next calendar day (also before day 0, where
// that day is the whole part plus one). Throws EConvertError for NaN, infinities and values
// outside the valid dates.
TrsDateTimeParts DecodeDateTime(double AValue);

// DateTimeToStr: the date in the locale's date format (LC_TIME's d_fmt), then, unless the
// time is 00:00:00, one space and the time in its time format (t_fmt). Milliseconds are not
// written (a text round trip drops them). A two-digit year in the locale's format ("%y", as
// in "C": "%m/%d/%y") is written with four digits ("%Y"), so that every year reads back.
// Throws EConvertError for values that DecodeDateTime refuses.
std::string DateTimeToText(double AValue);

// StrToDateTime: leading and trailing spaces ignored; then the formats DateTimeToText writes,
// tried in turn: date and time, date only (midnight), time only (on day 0, 30 December 1899).
// Years are read as written, with all their digits ("99" is the year 99). Throws
// EConvertError "'<text>' is not a valid date and time" for text that none of them matches
// and for impossible dates such as 30 February.
double TextToDateTime(std::string_view AText);

// --- Integers ------------------------------------------------------------------------------

// StrToInt / StrToInt64 (the rules of Pascal's Val): leading spaces are skipped, trailing
// spaces or any other trailing character are refused; an optional "+" or "-"; then decimal
// digits, or hexadecimal digits (either case) after "$", "0x" or "0X". A decimal value must
// fit the signed range; a hexadecimal one may use the whole unsigned range and is taken as
// two's complement ("$FFFFFFFF" is -1 as int32, 4294967295 as int64), and "-" negates it.
// Throws EConvertError "'<text>' is not a valid integer value".
int32_t TextToInteger(std::string_view AText);
int64_t TextToInt64(std::string_view AText);

// Round: the nearest integer, ties to even (2.5 gives 2, 3.5 gives 4, -2.5 gives -2),
// independent of the floating-point rounding mode. Throws EConvertError for NaN, infinities
// and results outside the target type.
int32_t RoundHalfEven(double AValue);
int64_t RoundHalfEven64(double AValue);

// --- Bytes and UTF-16 ------------------------------------------------------------------------

// The text of a byte buffer: each byte as two upper-case hex digits, separated by ","; after
// every 26th byte (a line of 78 characters ending in ",") a CR LF follows when at least two
// more bytes remain, so the last line holds 2 to 27 bytes and never a single byte after a
// break. No separator after the last byte; no bytes give empty text.
std::string BufferToHexText(const void* ABuffer, size_t ACount);

// MultiByteToWideChar(CP_UTF8): each ill-formed UTF-8 sequence (a maximal ill-formed
// subpart, as Unicode recommends) becomes one U+FFFD. NUL bytes are kept.
std::u16string Utf8ToUtf16(std::string_view AText);
// WideCharToMultiByte(CP_UTF8): each unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view AText);
// The UTF-16LE bytes of UTF-8 text, and back (a last odd byte is ignored): the form texts take
// in section streams and encrypted values.
std::string Utf16LeBytes(std::string_view AText);
std::string TextOfUtf16LeBytes(std::string_view ABytes);

// --- The ANSI code page ----------------------------------------------------------------------

// The system's "ANSI code page" is the narrow encoding of the process locale (LC_CTYPE's
// codeset). The plain "C"/"POSIX" locale names 7-bit ASCII, in which every non-ASCII
// character of a setting would be lost; there, as in a UTF-8 locale, the code page is UTF-8.
bool AnsiCodePageIsUtf8();
// WideCharToMultiByte(CP_ACP) of UTF-8 text: a character the code page cannot represent
// becomes the converter's substitution character.
std::string Utf8ToAnsi(std::string_view AText);
// MultiByteToWideChar(CP_ACP), giving UTF-8; a byte sequence that is no character of the
// code page becomes U+FFFD.
std::string AnsiToUtf8(std::string_view AText);

// --- LZRW1-KH --------------------------------------------------------------------------------

// LZRW1-KH coding of one chunk of at most 32,782 bytes: a flag byte (40h: compressed, 80h:
// stored because compression would not make it smaller), then 16-bit big-endian command
// words, each announcing 16 items: a literal byte, a back reference (12-bit distance below
// 4,096, 3 to 18 bytes) or a run (16 to 4,110 copies of one byte).
std::string Lzrw1khCompress(std::string_view AChunk);
// Decodes one chunk, appending to AOutput; false for a chunk that does not decode (an
// unknown flag, a reference before the chunk's start, a command cut short, or output beyond
// ALimit bytes). Never reads or writes outside the buffers.
bool Lzrw1khDecompress(std::string_view AChunk, std::string& AOutput, size_t ALimit);

}  // namespace velloran
