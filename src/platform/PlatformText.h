// Text conversions that more than one subsystem needs where it writes UTF-16: the core keeps
// text as UTF-8 and converts at exactly that point.
#pragma once

#include <string>
#include <string_view>

namespace velloran::platform {

// WideCharToMultiByte's counterpart for UTF-8 input: the UTF-16LE bytes of AText. An
// ill-formed sequence becomes one U+FFFD per maximal part of it (the Unicode recommendation),
// so no input is dropped without trace.
std::string Utf8ToUtf16Le(std::string_view AText);

}  // namespace velloran::platform
