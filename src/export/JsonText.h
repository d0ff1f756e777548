// Text as JSON string literals: what every writer of JSON in the project uses, so that any
// value of any log gives valid JSON.
#pragma once

#include <string>
#include <string_view>

namespace velloran {

// Appends AText to AOut as a JSON string with its quotes: '"' and '\' escaped, control
// characters as \n, \t, … or \u00XX, and every byte that is not part of well-formed UTF-8
// replaced by U+FFFD.
void AppendJsonString(std::string& AOut, std::string_view AText);

}  // namespace velloran
