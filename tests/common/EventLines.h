// Event lines built from (name, value) pairs, for fixtures that need a few records of their
// own: values go in as the log holds them (already escaped).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velloran::test {

using TAttributes = std::vector<std::pair<std::string, std::string>>;

// <Event><Name data_type="1">value</Name>…</Event>; codes get data_type 0.
inline std::string EventLine(const TAttributes& AAttributes) {
  std::string line = "<Event>";
  for (const auto& [name, value] : AAttributes) {
    const bool coded = name == "Packet-Type" || name == "Reason-Code" || name == "NAS-Port-Type";
    line.append("<").append(name).append(" data_type=\"").append(coded ? "0" : "1").append("\">");
    line.append(value).append("</").append(name).append(">");
  }
  return line.append("</Event>");
}

// The lines joined by CR LF, with a final CR LF.
inline std::string LogOf(const std::vector<std::string>& ALines) {
  std::string log;
  for (const std::string& line : ALines) log.append(line).append("\r\n");
  return log;
}

}  // namespace velloran::test
