// Fixed-size little-endian values in the storage's binary streams (section streams, the
// internal file's stored form). Internal to the storage library.
#pragma once

#include <istream>
#include <ostream>

namespace velloran {

template <typename T>
void WriteRaw(std::ostream& AStream, T AValue) {
  // Little-endian on every platform we build for; the formats are little-endian by definition.
  AStream.write(reinterpret_cast<const char*>(&AValue), sizeof AValue);
}

// False when the stream ends before the value's last byte.
template <typename T>
bool ReadRaw(std::istream& AStream, T& AValue) {
  AStream.read(reinterpret_cast<char*>(&AValue), sizeof AValue);
  return AStream.gcount() == static_cast<std::streamsize>(sizeof AValue);
}

}  // namespace velloran
