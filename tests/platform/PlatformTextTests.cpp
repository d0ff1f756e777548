// The shared text helpers: ASCII-only case folding, well-formed UTF-8, and the UTF-16LE bytes
// the system writes.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "PlatformText.h"

namespace velloran::platform {
namespace {

TEST(PlatformTextTest, AsciiCaseComparisonsFoldAsciiLettersOnly) {
  struct TCase {
    std::string_view A, B;
    bool Same, Less, Greater;
  };
  const TCase cases[] = {
      {"Packet-Type", "PACKET-type", true, false, false},
      {"", "", true, false, false},
      {"abc", "abd", false, true, false},
      {"ABC", "abd", false, true, false},
      {"ab", "abc", false, true, false},  // a prefix sorts first
      {"[", "a", false, true, false},     // '[' (0x5B) after 'Z' but before 'a'
      {"_", "A", false, true, false},     // 'A' folds to 'a' (0x61), after '_' (0x5F)
      // Letters outside ASCII are compared exactly: no locale folding.
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", false, false, true},
      {"\xC3\xA9", "\xC3\xA9", true, false, false},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(SameTextIgnoringAsciiCase(c.A, c.B), c.Same) << c.A << " / " << c.B;
    EXPECT_EQ(LessIgnoringAsciiCase(c.A, c.B), c.Less) << c.A << " < " << c.B;
    EXPECT_EQ(LessIgnoringAsciiCase(c.B, c.A), c.Greater) << c.B << " < " << c.A;
  }
  EXPECT_TRUE(StartsWithIgnoringAsciiCase("<EVENT><Timestamp", "<Event>"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase("<Even", "<Event>"));
  EXPECT_TRUE(EndsWithIgnoringAsciiCase("out.CSV", ".csv"));
  EXPECT_FALSE(EndsWithIgnoringAsciiCase("csv", ".csv"));
}

TEST(PlatformTextTest, Utf8SequencesAreWellFormedOrNot) {
  struct TCase {
    std::string Text;
    size_t FirstLength;   // Utf8SequenceLength at 0
    size_t FirstInvalid;  // FirstInvalidUtf8
  };
  const std::string ascii40(40, 'a');
  const TCase cases[] = {
      {"a", 1, 1},
      {"\xC3\xA9", 2, 2},
      {"\xE2\x82\xAC", 3, 3},
      {"\xF0\x9F\x98\x80", 4, 4},
      {"\xC0\xAF", 0, 0},          // overlong
      {"\xE0\x80\xAF", 0, 0},      // overlong
      {"\xED\xA0\x80", 0, 0},      // surrogate
      {"\xF4\x90\x80\x80", 0, 0},  // past U+10FFFF
      {"\xC3", 0, 0},              // cut short
      {"\x80", 0, 0},              // lone continuation
      {ascii40 + "\xFF", 1, 40},   // past the 32-byte ASCII stride
      {ascii40 + "\xC3\xA9", 1, 42},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Utf8SequenceLength(c.Text, 0), c.FirstLength) << testing::PrintToString(c.Text);
    EXPECT_EQ(FirstInvalidUtf8(c.Text), c.FirstInvalid) << testing::PrintToString(c.Text);
    EXPECT_EQ(IsWellFormedUtf8(c.Text), c.FirstInvalid == c.Text.size()) << testing::PrintToString(c.Text);
  }
}

TEST(PlatformTextTest, Latin1CodesBecomeOneOrTwoBytes) {
  struct TCase {
    unsigned Code;
    std::string Utf8;
  };
  const TCase cases[] = {{0, std::string(1, '\0')}, {0x41, "A"},        {0x7F, "\x7F"},
                         {0x80, "\xC2\x80"},        {0xE9, "\xC3\xA9"}, {0xFF, "\xC3\xBF"}};
  for (const TCase& c : cases) {
    std::string out = "x";
    AppendLatin1(out, c.Code);
    EXPECT_EQ(out, "x" + c.Utf8) << c.Code;
  }
}

TEST(PlatformTextTest, Utf16LeBytesReplaceEachMaximalBadPart) {
  struct TCase {
    std::string Utf8;
    std::string Utf16Le;
  };
  const std::string fffd("\xFD\xFF", 2);
  const TCase cases[] = {
      {"", ""},
      {"A", std::string("A\0", 2)},
      {"\xC3\xA9", std::string("\xE9\0", 2)},
      {"\xE2\x82\xAC", std::string("\xAC\x20", 2)},
      {"\xF0\x9F\x98\x80", std::string("\x3D\xD8\x00\xDE", 4)},  // a surrogate pair
      {"\xFF", fffd},
      {"\xE2\x82", fffd},  // one maximal part, one U+FFFD
      {"\xE2\x82"
       "A",
       fffd + std::string("A\0", 2)},
      {"\xED\xA0\x80", fffd + fffd + fffd},  // a surrogate's bytes each stand alone
  };
  for (const TCase& c : cases) EXPECT_EQ(Utf8ToUtf16Le(c.Utf8), c.Utf16Le) << testing::PrintToString(c.Utf8);
}

}  // namespace
}  // namespace velloran::platform
