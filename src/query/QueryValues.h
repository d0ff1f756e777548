// How query values compare with the log's: text without regard to letter case, decimal numbers
// by their value, and the log's timestamps in time order. Pure functions, safe on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "LogTime.h"

namespace velloran {

// AText with letters of the Latin, Greek and Cyrillic scripts in lower case (UTF-8 in and out;
// bytes that are no valid UTF-8 pass unchanged). ASCII letters map to ASCII letters and no
// other byte becomes ASCII, so a search of the ASCII bytes of a folded needle, ignoring ASCII
// case, finds every place the folded text could match.
void AppendFolded(std::string_view AText, std::string& AOut);
std::string Folded(std::string_view AText);

// A decimal number as written: optional sign, digits, optional fraction ("+03.50"), nothing
// else (no spaces, no exponent). Held as sign and digit strings, so that any length compares
// exactly.
struct TDecimal {
  bool Negative = false;
  std::string Whole;     // no leading zeros; empty for zero
  std::string Fraction;  // no trailing zeros
  bool IsZero() const { return Whole.empty() && Fraction.empty(); }
  // "3", "3.5", "-12": the shortest text of the value, whose digits every written form holds.
  std::string Canonical() const;
};
std::optional<TDecimal> ParseDecimal(std::string_view AText);
// <0, 0, >0.
int CompareDecimals(const TDecimal& A, const TDecimal& B);

// Whether AField holds times (Timestamp, Event-Timestamp), ignoring case.
bool IsTimeField(std::string_view AField);

}  // namespace velloran
