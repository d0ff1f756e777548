// The value one settings key holds: the kind word that names what the value is (the numbers
// section streams store), and the value itself in the alternative that kind uses.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace velloran {

// Value kinds; the numbers are stored in section streams and returned by GetKeyType.
enum TrsKeyValueKind : uint16_t {
  kvUnknown = 0,
  kvString = 1,
  kvBuffer = 2,
  kvInteger = 3,
  kvDouble = 4,
  kvCurrency = 5,
  kvDateTime = 6,
  kvBoolean = 7,
  kvPoint = 8,
  kvInt64 = 9,
  kvPointer = 10,
};

struct TrsPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TrsPoint&, const TrsPoint&) = default;
};

// One key's value: the caller's options word, the kind, and the value the kind names.
// Integer and Boolean live in the int32 alternative, Double and DateTime in double,
// Currency (1/10,000 units) and Int64 in int64.
struct TrsKeyValue {
  using TValue = std::variant<std::monostate, int32_t, int64_t, double, TrsPoint, const void*, std::string, std::vector<uint8_t>>;

  uint16_t Options = 0;
  uint16_t kvType = kvUnknown;
  TValue Value;

  // Releases the value, keeping the kind word.
  void Clear() { Value = std::monostate{}; }
};

}  // namespace velloran
