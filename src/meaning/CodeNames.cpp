#include "CodeNames.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>

#include "PlatformText.h"

namespace velloran {

namespace {

struct TCodeEntry {
  std::string_view Attribute;
  uint32_t Value;
  std::string_view Name;
};

constexpr TCodeEntry kFileOrder[] = {
#include "CodeNamesTable.inc"
};

constexpr int CompareIgnoringAsciiCase(std::string_view A, std::string_view B) {
  const size_t n = std::min(A.size(), B.size());
  for (size_t i = 0; i < n; ++i) {
    const char a = platform::AsciiLower(A[i]);
    const char b = platform::AsciiLower(B[i]);
    if (a != b) return static_cast<unsigned char>(a) < static_cast<unsigned char>(b) ? -1 : 1;
  }
  if (A.size() == B.size()) return 0;
  return A.size() < B.size() ? -1 : 1;
}

// Sorted by attribute (ignoring case), then value, at compile time: lookups are binary
// searches over constant data.
constexpr auto kTable = [] {
  std::array<TCodeEntry, std::size(kFileOrder)> table{};
  std::copy(std::begin(kFileOrder), std::end(kFileOrder), table.begin());
  std::sort(table.begin(), table.end(), [](const TCodeEntry& A, const TCodeEntry& B) {
    const int order = CompareIgnoringAsciiCase(A.Attribute, B.Attribute);
    return order != 0 ? order < 0 : A.Value < B.Value;
  });
  return table;
}();

constexpr bool HasNoDuplicates() {
  for (size_t i = 1; i < kTable.size(); ++i) {
    if (CompareIgnoringAsciiCase(kTable[i - 1].Attribute, kTable[i].Attribute) == 0 && kTable[i - 1].Value == kTable[i].Value)
      return false;
  }
  return true;
}
static_assert(HasNoDuplicates(), "radius-codes.tsv names a value of an attribute twice");

}  // namespace

TCodedAttribute TCodedAttribute::Of(std::string_view AAttribute) {
  const auto first = std::lower_bound(kTable.begin(), kTable.end(), AAttribute, [](const TCodeEntry& A, std::string_view B) {
    return CompareIgnoringAsciiCase(A.Attribute, B) < 0;
  });
  const auto end = std::upper_bound(first, kTable.end(), AAttribute, [](std::string_view A, const TCodeEntry& B) {
    return CompareIgnoringAsciiCase(A, B.Attribute) < 0;
  });
  return {static_cast<uint32_t>(first - kTable.begin()), static_cast<uint32_t>(end - kTable.begin())};
}

std::string_view TCodedAttribute::NameOf(uint32_t AValue) const {
  const auto first = kTable.begin() + FFirst;
  const auto end = kTable.begin() + FEnd;
  const auto found = std::lower_bound(first, end, AValue, [](const TCodeEntry& A, uint32_t B) { return A.Value < B; });
  return found != end && found->Value == AValue ? found->Name : std::string_view();
}

std::string_view TCodedAttribute::NameOfText(std::string_view ARawValue) const {
  if (!HasNames()) return {};
  const auto number = CodeNumber(ARawValue);
  return number ? NameOf(*number) : std::string_view();
}

std::vector<std::pair<uint32_t, std::string_view>> TCodedAttribute::Names() const {
  std::vector<std::pair<uint32_t, std::string_view>> names;
  for (uint32_t i = FFirst; i < FEnd; ++i) names.emplace_back(kTable[i].Value, kTable[i].Name);
  return names;
}

std::vector<uint32_t> TCodedAttribute::ValuesNamed(std::string_view AName) const {
  std::vector<uint32_t> values;
  for (uint32_t i = FFirst; i < FEnd; ++i) {
    if (CompareIgnoringAsciiCase(kTable[i].Name, AName) == 0) values.push_back(kTable[i].Value);
  }
  return values;
}

std::vector<std::string_view> CodedAttributeNames() {
  std::vector<std::string_view> names;
  for (const TCodeEntry& entry : kTable) {
    if (names.empty() || CompareIgnoringAsciiCase(names.back(), entry.Attribute) != 0) names.push_back(entry.Attribute);
  }
  return names;
}

std::optional<uint32_t> CodeNumber(std::string_view ARawValue) {
  if (ARawValue.empty() || ARawValue.size() > 10) return std::nullopt;
  uint32_t value = 0;
  const char* end = ARawValue.data() + ARawValue.size();
  const auto [ptr, error] = std::from_chars(ARawValue.data(), end, value);
  if (error != std::errc() || ptr != end || ARawValue.front() == '-' || ARawValue.front() == '+') return std::nullopt;
  return value;
}

}  // namespace velloran
