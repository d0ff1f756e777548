#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "DecodedText.h"

namespace velloran {
namespace {

TEST(DecodedTextTest, DecodesWellFormedReferencesAndKeepsMalformedOnes) {
  const struct {
    std::string_view Raw;
    std::string_view Text;
  } cases[] = {
      {"VPN Users &amp; Contractors", "VPN Users & Contractors"},
      {"&lt;&gt;&quot;&apos;&amp;", "<>\"'&"},
      {"&#65;&#x41;&#X41;&#x00041;", "AAAA"},
      {"&#233;t&#xE9;", "\xC3\xA9t\xC3\xA9"},
      {"&#x20AC;", "\xE2\x82\xAC"},
      {"&#x1F600;", "\xF0\x9F\x98\x80"},
      {"&#x10FFFF;", "\xF4\x8F\xBF\xBF"},
      {"&amp", "&amp"},                                        // no ";"
      {"&amp &lt;", "&amp <"},                                 // the next one still decodes
      {"&#xZZ;", "&#xZZ;"},                                    // bad hex digit
      {"&#12a;", "&#12a;"},                                    // bad decimal digit
      {"&#;&#x;", "&#;&#x;"},                                  // no digits
      {"&#0;&#x0;", "&#0;&#x0;"},                              // NUL is no character a reference may name
      {"&#xD800;&#57343;", "&#xD800;&#57343;"},                // surrogates
      {"&#x110000;", "&#x110000;"},                            // past U+10FFFF
      {"&#99999999999999999999;", "&#99999999999999999999;"},  // must not wrap
      {"&nbsp;&AMP;", "&nbsp;&AMP;"},                          // unknown or wrongly cased names
      {"&&amp;;", "&&;"},
      {"a&", "a&"},
      {"", ""},
      {"\xFF&#65;\xC3",
       "\xFF"
       "A\xC3"},  // invalid UTF-8 around a reference passes through
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Raw));
    EXPECT_EQ(DecodedText(c.Raw), c.Text);
  }
}

TEST(DecodedTextTest, LongValueOfThousandsOfReferencesDecodesWhole) {
  std::string raw;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    raw.append("&amp;&#x41;&bad");
    expected.append("&A&bad");
  }
  EXPECT_EQ(DecodedText(raw), expected);
  std::string ampersands(100000, '&');  // each "&" looks ahead a bounded distance only
  EXPECT_EQ(DecodedText(ampersands), ampersands);
}

}  // namespace
}  // namespace velloran
