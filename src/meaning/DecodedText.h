// The text a stored value means. The log escapes "&", "<" and ">" (and may escape anything
// as a numeric reference); rows keep the escaped form, and whatever shows or exports a value
// as text decodes it here.
#pragma once

#include <string>
#include <string_view>

namespace velloran {

// True when ARaw holds an "&", the only byte that can start a reference: values without one
// are their own text and need no copy.
inline bool MayHoldReferences(std::string_view ARaw) { return ARaw.find('&') != std::string_view::npos; }

// Appends the decoded text of ARaw to AOut: the five predefined entity references (&amp;
// &lt; &gt; &quot; &apos;) and numeric character references (&#65; &#x41;) become their
// characters in UTF-8. A malformed reference stays exactly as written: no ";" ("&amp"), a
// bad digit ("&#xZZ;"), no digits, code point 0, a surrogate or a code point past U+10FFFF,
// an unknown entity name. Other bytes are copied unchanged.
void AppendDecodedText(std::string_view ARaw, std::string& AOut);

// The reference that begins at ARaw[AAt] (an "&"), decoded onto AOut: the bytes it takes, or
// 0 (AOut unchanged) when it is no well-formed reference. For writers that keep references,
// such as the XML export, and must agree with AppendDecodedText on what one is.
size_t DecodeReferenceAt(std::string_view ARaw, size_t AAt, std::string& AOut);

// The same as a new string.
std::string DecodedText(std::string_view ARaw);

}  // namespace velloran
