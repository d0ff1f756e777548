#include "ValueText.h"

#include "DecodedText.h"

namespace velloran {

void AppendCellText(const TCodedAttribute& ACodes, std::string_view ARaw, std::string& AOut) {
  const std::string_view name = ACodes.NameOfText(ARaw);
  if (!name.empty()) {
    AOut.append(name);
  } else if (MayHoldReferences(ARaw)) {
    AppendDecodedText(ARaw, AOut);
  } else {
    AOut.append(ARaw);
  }
}

void AppendDetailText(const TCodedAttribute& ACodes, bool AReasonFirst, std::string_view ARaw, std::string& AOut) {
  const std::string_view name = ACodes.NameOfText(ARaw);
  if (name.empty()) {
    AppendDecodedText(ARaw, AOut);
  } else if (AReasonFirst) {
    AOut.append(ARaw).append(" \xE2\x80\x94 ").append(name);  // an em dash
  } else {
    AOut.append(name).append(" (").append(ARaw).append(")");
  }
}

}  // namespace velloran
