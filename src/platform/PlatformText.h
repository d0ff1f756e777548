// Text helpers that more than one subsystem needs: comparisons that ignore the case of ASCII
// letters only (names of tags, keys and switches must not follow locale rules), the checks of
// well-formed UTF-8, and the conversions to UTF-16LE where the system writes UTF-16. The core
// keeps text as UTF-8 and converts at exactly the point that needs another form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velloran::platform {

// 'A'..'Z' become 'a'..'z'; every other byte stays as it is.
constexpr char AsciiLower(char AChar) { return (AChar >= 'A' && AChar <= 'Z') ? static_cast<char>(AChar + ('a' - 'A')) : AChar; }
// Equal when ASCII letters are compared without regard to case and every other byte exactly.
bool SameTextIgnoringAsciiCase(std::string_view A, std::string_view B);
bool StartsWithIgnoringAsciiCase(std::string_view AText, std::string_view APrefix);
bool EndsWithIgnoringAsciiCase(std::string_view AText, std::string_view ASuffix);
// Byte order after ASCII lower-casing; a prefix sorts first.
bool LessIgnoringAsciiCase(std::string_view A, std::string_view B);

// Length of the well-formed UTF-8 sequence at AText[APos] (1..4), or 0 when none starts there
// (overlong forms, surrogates and code points past U+10FFFF are not well formed).
size_t Utf8SequenceLength(std::string_view AText, size_t APos);
// Index of the first byte that does not start a well-formed sequence, or AText.size().
size_t FirstInvalidUtf8(std::string_view AText);
inline bool IsWellFormedUtf8(std::string_view AText) { return FirstInvalidUtf8(AText) == AText.size(); }
// Appends the character U+0000..U+00FF whose code is ACode as UTF-8 (one or two bytes).
void AppendLatin1(std::string& AOut, unsigned ACode);

// WideCharToMultiByte's counterpart for UTF-8 input: the UTF-16LE bytes of AText. An
// ill-formed sequence becomes one U+FFFD per maximal part of it (the Unicode recommendation),
// so no input is dropped without trace.
std::string Utf8ToUtf16Le(std::string_view AText);

}  // namespace velloran::platform
