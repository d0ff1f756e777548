// How a stored value reads for a person: the code name in a list cell ("Access-Reject"), name
// and number in the details pane ("Access-Reject (3)", "16 — Credentials mismatch: …"), and
// decoded text for everything else. The raw value stays what the log holds.
#pragma once

#include <string>
#include <string_view>

#include "CodeNames.h"
#include "PlatformText.h"

namespace velloran {

// The attribute whose names are sentences, read number first.
inline bool IsReasonCode(std::string_view AAttribute) { return platform::SameTextIgnoringAsciiCase(AAttribute, "Reason-Code"); }

// A list cell: the code name when the value has one, else the decoded text.
void AppendCellText(const TCodedAttribute& ACodes, std::string_view ARaw, std::string& AOut);

// The details pane and `show --decode`: "Access-Reject (3)", "16 — Credentials mismatch: …"
// for Reason-Code (AReasonFirst), the decoded text otherwise.
void AppendDetailText(const TCodedAttribute& ACodes, bool AReasonFirst, std::string_view ARaw, std::string& AOut);

inline std::string DetailText(std::string_view AAttribute, std::string_view ARaw) {
  std::string text;
  AppendDetailText(TCodedAttribute::Of(AAttribute), IsReasonCode(AAttribute), ARaw, text);
  return text;
}

}  // namespace velloran
