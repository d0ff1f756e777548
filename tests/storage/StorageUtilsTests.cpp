#include <gtest/gtest.h>

#include <cctype>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "StorageUtils.h"

namespace velloran {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Switches the process locale for one test and restores the previous one afterwards, so
// tests in the same binary never see another test's locale.
class TLocaleScope {
 public:
  explicit TLocaleScope(const char* AName) {
    const char* current = std::setlocale(LC_ALL, nullptr);
    FPrevious = current != nullptr ? current : "C";
    FActive = std::setlocale(LC_ALL, AName) != nullptr;
  }
  ~TLocaleScope() { std::setlocale(LC_ALL, FPrevious.c_str()); }
  TLocaleScope(const TLocaleScope&) = delete;
  TLocaleScope& operator=(const TLocaleScope&) = delete;

  bool Active() const { return FActive; }

 private:
  std::string FPrevious;
  bool FActive = false;
};

// Tests whose expected texts are those of the "C" locale.
class InCLocale : public ::testing::Test {
 protected:
  TLocaleScope FLocale{"C"};
};

// Every digit a double needs, for failure messages.
std::string Exact(double AValue) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", AValue);
  return buffer;
}

template <typename TCall>
std::string ConvertErrorText(TCall ACall) {
  try {
    ACall();
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "(no EConvertError)";
}

// --- RaiseStorageError ---

TEST(StorageErrorTest, MessageIsThePrefixOfTheKindASpaceAndTheText) {
  const struct {
    int Kind;
    const char* Prefix;
  } kCases[] = {
      {0, "TrsStorage get key value error:"}, {1, "TrsXMLData parser error:"}, {2, "TrsStorage set key value error:"},
      {3, "TrsSearch prepare search error:"}, {4, "TrsSearch error:"},         {5, "TrsRegData error:"},
      {6, "Storage library error:"},          {-1, "Storage library error:"},  {1000, "Storage library error:"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Kind);
    try {
      RaiseStorageError(c.Kind, "x");
      ADD_FAILURE() << "no exception";
    } catch (const TrsException& e) {
      EXPECT_EQ(std::string(e.what()), std::string(c.Prefix) + " x");
    }
  }
  try {
    RaiseStorageError(sekGetValue, "Can't read value of key \"\\Main\\Zoom\" as integer type.");
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "TrsStorage get key value error: Can't read value of key \"\\Main\\Zoom\" as integer type.");
  }
}

// --- Floating point ---

TEST_F(InCLocale, FloatToTextWritesTheShortestGeneralForm) {
  const struct {
    double Value;
    const char* Text;
  } kCases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {1.0, "1"},
      {100.0, "100"},
      {0.5, "0.5"},
      {-2.5, "-2.5"},
      {12345.678, "12345.678"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {0.1 + 0.2, "0.3"},
      {123456789012345.0, "123456789012345"},  // 15 integer digits: still fixed
      {1e15, "1E15"},                          // 16: exponent form
      {9999999999999999.0, "1E16"},            // rounding carries into a new digit
      {999999999999999.4, "999999999999999"},
      {1.5e20, "1.5E20"},
      {0.0001, "0.0001"},
      {0.00012345, "0.00012345"},
      {0.00001, "1E-5"},
      {1.5e-7, "1.5E-7"},
      {-2.5e-300, "-2.5E-300"},
      {DBL_MAX, "1.79769313486231E308"},  // not ...232, which reads back as an overflow
      {-DBL_MAX, "-1.79769313486231E308"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
      {kNaN, "NAN"},
      {kInf, "INF"},
      {-kInf, "-INF"},
  };
  for (const auto& c : kCases) EXPECT_EQ(FloatToText(c.Value), c.Text) << Exact(c.Value);
}

TEST_F(InCLocale, TextToFloatTakesEitherSeparatorAndTheWrittenForms) {
  const struct {
    const char* Text;
    double Value;
  } kCases[] = {
      {"1.5", 1.5},     {"1,5", 1.5},     {"  -1,5  ", -1.5}, {"+1.5", 1.5},
      {"-.5", -0.5},    {"5.", 5.0},      {"007", 7.0},       {"1e3", 1000.0},
      {"1E+3", 1000.0}, {"1,5E2", 150.0}, {"2.5e-3", 0.0025}, {"1.79769313486231E308", 1.79769313486231e308},
      {"INF", kInf},    {"-inf", -kInf},  {"+Inf", kInf},
  };
  for (const auto& c : kCases) EXPECT_EQ(TextToFloat(c.Text), c.Value) << c.Text;
  EXPECT_TRUE(std::isnan(TextToFloat("nan")));
  // Too small for a double: zero with the text's sign.
  EXPECT_EQ(TextToFloat("1e-400"), 0.0);
  EXPECT_TRUE(std::signbit(TextToFloat("-1e-400")));
  EXPECT_EQ(TextToFloat("0.0000000000e999999999999999999999"), 0.0);
}

TEST_F(InCLocale, TextToFloatRefusesMalformedText) {
  for (const char* text : {"",   " ",   "abc",   ".",    "-",   "+-1",   "1.2.3",  "1,2.3",    "1 000",  "1.5x", "1e",
                           "e5", "1e+", "1e5.5", "0x10", "$10", "1e400", "-1e400", "infinity", "nan(1)", "\t1"}) {
    EXPECT_THROW(TextToFloat(text), EConvertError) << '"' << text << '"';
  }
  EXPECT_EQ(ConvertErrorText([] { TextToFloat(" abc"); }), "' abc' is not a valid floating point value");
}

// --- Currency ---

TEST_F(InCLocale, CurrencyToTextTrimsTrailingZeros) {
  const struct {
    int64_t Scaled;
    const char* Text;
  } kCases[] = {
      {123400, "12.34"},
      {-1, "-0.0001"},
      {5, "0.0005"},
      {0, "0"},
      {125000, "12.5"},
      {10000000, "1000"},
      {-10000, "-1"},
      {INT64_MAX, "922337203685477.5807"},
      {INT64_MIN, "-922337203685477.5808"},
  };
  for (const auto& c : kCases) EXPECT_EQ(CurrencyToText(TrsCurrency{c.Scaled}), c.Text);
}

TEST_F(InCLocale, TextToCurrencyRoundsTheExactDecimalToEven) {
  const struct {
    const char* Text;
    std::optional<int64_t> Scaled;  // none: EConvertError
  } kCases[] = {
      {"12.34", 123400},
      {"12,34", 123400},
      {" -0.0001 ", -1},
      {"+1", 10000},
      {"0.00005", 0},  // half a unit: ties to the even 0
      {"0.00015", 2},
      {"0.00025", 2},
      {"0.00035", 4},
      {"-0.00015", -2},
      {"0.000051", 1},  // above the tie
      {"0.000049999", 0},
      {"0.0000000001", 0},
      {"-0", 0},
      {"1E2", 1000000},
      {"2.5e-4", 2},
      {"000000000000000000000012.5", 125000},
      {"922337203685477.5807", INT64_MAX},
      {"-922337203685477.5808", INT64_MIN},
      {"922337203685477.5808", std::nullopt},
      {"922337203685477.58075", std::nullopt},  // rounds up past the largest value
      {"1e15", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"abc", std::nullopt},
      {"", std::nullopt},
      {"1..2", std::nullopt},
      {"1,2,3", std::nullopt},
      {"$5", std::nullopt},
      {"NAN", std::nullopt},
      {"INF", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Text);
    if (c.Scaled) {
      EXPECT_EQ(TextToCurrency(c.Text).Scaled, *c.Scaled);
    } else {
      EXPECT_THROW(TextToCurrency(c.Text), EConvertError);
    }
  }
  EXPECT_EQ(ConvertErrorText([] { TextToCurrency("abc"); }), "'abc' is not a valid currency value");
}

TEST(CurrencyTest, FromDoubleRoundsTheScaledProductToEven) {
  const struct {
    double Value;
    int64_t Scaled;
  } kCases[] = {
      {12.34, 123400},
      {-0.0001, -1},
      {0.00025, 2},  // 0.00025 * 10000 is exactly 2.5 as a double
      {0.00035, 4},
      {-0.00025, -2},
      {0.12345, 1234},
      {2.00025, 20002},
      {1.00005, 10001},  // the product is 10000.500000000002: no tie
      {9e14, 9000000000000000000},
  };
  for (const auto& c : kCases) EXPECT_EQ(CurrencyFromDouble(c.Value).Scaled, c.Scaled) << c.Value;
  for (double value : {kNaN, kInf, -kInf, 1e15, -1e15}) EXPECT_THROW(CurrencyFromDouble(value), EConvertError) << value;
  EXPECT_EQ(CurrencyToDouble(TrsCurrency{123400}), 12.34);
  EXPECT_EQ(CurrencyToDouble(TrsCurrency{-1}), -0.0001);
}

TEST(CurrencyTest, WholeNumbers) {
  const struct {
    int64_t Scaled;
    int64_t Rounded;
  } kCases[] = {
      {25000, 2},
      {35000, 4},
      {-25000, -2},
      {-35000, -4},
      {25001, 3},
      {-25001, -3},
      {4999, 0},
      {-4999, 0},
      {5000, 0},
      {15000, 2},
      {0, 0},
      {-1, 0},
      {INT64_MAX, 922337203685478},
      {INT64_MIN, -922337203685478},
  };
  for (const auto& c : kCases) EXPECT_EQ(CurrencyRound(TrsCurrency{c.Scaled}), c.Rounded) << c.Scaled;

  EXPECT_EQ(CurrencyFromInt64(5).Scaled, 50000);
  EXPECT_EQ(CurrencyFromInt64(-922337203685477).Scaled, -9223372036854770000);
  EXPECT_EQ(CurrencyFromInt64(922337203685477).Scaled, 9223372036854770000);
  EXPECT_THROW(CurrencyFromInt64(922337203685478), EConvertError);
  EXPECT_THROW(CurrencyFromInt64(-922337203685478), EConvertError);
}

// --- Date and time ---

struct TDateCase {
  TrsDateTimeParts Parts;
  double Value;
};

const TDateCase kDateCases[] = {
    {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
    {{1899, 12, 31, 12, 0, 0, 0}, 1.5},
    {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // before day 0 the time still counts forward
    {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
    {{1900, 3, 1, 0, 0, 0, 0}, 61.0},  // 1900 has no 29 February
    {{1970, 1, 1, 0, 0, 0, 0}, 25569.0},
    {{2000, 2, 29, 0, 0, 0, 0}, 36585.0},
    {{2022, 3, 4, 5, 6, 7, 800}, 44624.0 + (((5 * 60 + 6) * 60 + 7) * 1000 + 800) / 86400000.0},
    {{1600, 2, 29, 18, 0, 0, 0}, -109512.75},
    {{1, 1, 1, 0, 0, 0, 0}, -693593.0},
    {{9999, 12, 31, 23, 59, 59, 999}, 2958465.0 + 86399999.0 / 86400000.0},
};

TEST(DateTimeTest, EncodeAndDecode) {
  for (const TDateCase& c : kDateCases) {
    const TrsDateTimeParts& p = c.Parts;
    SCOPED_TRACE(Exact(c.Value));
    EXPECT_EQ(EncodeDateTime(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond), c.Value);
    EXPECT_EQ(DecodeDateTime(c.Value), p);
  }
}

TEST(DateTimeTest, EncodeRefusesImpossibleDatesAndTimes) {
  const struct {
    int Year, Month, Day, Hour, Minute, Second, Millisecond;
    const char* Message;
  } kCases[] = {
      {0, 1, 1, 0, 0, 0, 0, "Invalid argument to date encode"},
      {10000, 1, 1, 0, 0, 0, 0, "Invalid argument to date encode"},
      {2000, 0, 1, 0, 0, 0, 0, "Invalid argument to date encode"},
      {2000, 13, 1, 0, 0, 0, 0, "Invalid argument to date encode"},
      {2000, 1, 0, 0, 0, 0, 0, "Invalid argument to date encode"},
      {2000, 2, 30, 0, 0, 0, 0, "Invalid argument to date encode"},
      {1900, 2, 29, 0, 0, 0, 0, "Invalid argument to date encode"},
      {2100, 2, 29, 0, 0, 0, 0, "Invalid argument to date encode"},
      {2000, 4, 31, 0, 0, 0, 0, "Invalid argument to date encode"},
      {2000, 1, 1, 24, 0, 0, 0, "Invalid argument to time encode"},
      {2000, 1, 1, 0, 60, 0, 0, "Invalid argument to time encode"},
      {2000, 1, 1, 0, 0, 60, 0, "Invalid argument to time encode"},
      {2000, 1, 1, 0, 0, 0, 1000, "Invalid argument to time encode"},
      {2000, 1, 1, -1, 0, 0, 0, "Invalid argument to time encode"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ConvertErrorText([&] { EncodeDateTime(c.Year, c.Month, c.Day, c.Hour, c.Minute, c.Second, c.Millisecond); }),
              c.Message)
        << c.Year << "-" << c.Month << "-" << c.Day << " " << c.Hour << ":" << c.Minute << ":" << c.Second << "."
        << c.Millisecond;
  }
}

TEST(DateTimeTest, DecodeRoundsToTheNearestMillisecond) {
  constexpr double kMs = 1.0 / 86400000.0;
  const struct {
    double Value;
    TrsDateTimeParts Parts;
  } kCases[] = {
      {1.5 + 0.4 * kMs, {1899, 12, 31, 12, 0, 0, 0}},
      {1.5 + 0.6 * kMs, {1899, 12, 31, 12, 0, 0, 1}},
      {1.0 - 0.4 * kMs, {1899, 12, 31, 0, 0, 0, 0}},  // carries into the next day
      {-0.25, {1899, 12, 30, 6, 0, 0, 0}},
      // 29 December 1899, a fraction of a millisecond before its end: the next day is day 0,
      // not day -2 as rounding the signed value would give.
      {-(1.0 + 86399999.6 * kMs), {1899, 12, 30, 0, 0, 0, 0}},
  };
  for (const auto& c : kCases) EXPECT_EQ(DecodeDateTime(c.Value), c.Parts) << Exact(c.Value);

  for (double value : {-693594.0, 2958466.0, 2958465.0 + (86400000.0 - 0.2) / 86400000.0, kNaN, kInf, -kInf, 1e300}) {
    EXPECT_THROW(DecodeDateTime(value), EConvertError) << Exact(value);
  }
}

TEST_F(InCLocale, DateTimeTextUsesFourDigitYearsAndLeavesOutMidnight) {
  EXPECT_EQ(DateTimeToText(EncodeDateTime(2022, 3, 4, 5, 6, 7, 800)), "03/04/2022 05:06:07");
  EXPECT_EQ(DateTimeToText(1.5), "12/31/1899 12:00:00");
  EXPECT_EQ(DateTimeToText(0.5), "12/30/1899 12:00:00");
  EXPECT_EQ(DateTimeToText(-1.25), "12/29/1899 06:00:00");
  EXPECT_EQ(DateTimeToText(36585.0), "02/29/2000");
  EXPECT_EQ(DateTimeToText(EncodeDateTime(2000, 2, 29, 0, 0, 0, 500)), "02/29/2000") << "milliseconds do not count";
  EXPECT_EQ(DateTimeToText(-693593.0), "01/01/1");
  EXPECT_THROW(DateTimeToText(kNaN), EConvertError);
}

TEST_F(InCLocale, TextToDateTimeReadsDateAndTimeDateOnlyOrTimeOnly) {
  const struct {
    const char* Text;
    std::optional<double> Value;  // none: EConvertError
  } kCases[] = {
      {"12/31/1899 12:00:00", 1.5},
      {"  12/31/1899 12:00:00  ", 1.5},
      {"12/31/1899", 1.0},
      {"12:00:00", 0.5},
      {"12/29/1899 06:00:00", -1.25},
      {"02/29/2000", 36585.0},
      {"1/2/2022", 44563.0},
      {"12/31/99", -657435.0},  // the year as written
      {"02/30/2000", std::nullopt},
      {"02/29/1900", std::nullopt},
      {"13/01/2000", std::nullopt},
      {"12/31/1899 24:00:00", std::nullopt},
      {"12/31/1899 12:00:60", std::nullopt},
      {"12/31/1899 12:00:00 x", std::nullopt},
      {"12/31/1899 12:00", std::nullopt},
      {"abc", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Text);
    if (c.Value) {
      EXPECT_EQ(TextToDateTime(c.Text), *c.Value);
    } else {
      EXPECT_THROW(TextToDateTime(c.Text), EConvertError);
    }
  }
  EXPECT_EQ(ConvertErrorText([] { TextToDateTime("abc"); }), "'abc' is not a valid date and time");
}

// --- Round trips under each installed locale ---

class LocaleRoundTripTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!FLocale.Active()) GTEST_SKIP() << "locale \"" << GetParam() << "\" is not installed";
  }
  TLocaleScope FLocale{GetParam()};
};

TEST_P(LocaleRoundTripTest, FloatText) {
  // Every value that is the nearest double to a decimal of at most 15 digits comes back
  // exactly.
  for (double value : {0.1,
                       -0.1,
                       1.5,
                       -2.5,
                       123456789012345.0,
                       999999999999999.0,
                       1e15,
                       1.5e20,
                       1e-5,
                       0.0001,
                       1.23456789012345e-5,
                       -2.5e-300,
                       3.14159265358979,
                       1e308,
                       1.79769313486231e308,
                       2.2250738585072e-308,
                       std::numeric_limits<double>::denorm_min(),
                       0.0,
                       kInf,
                       -kInf}) {
    EXPECT_EQ(TextToFloat(FloatToText(value)), value) << Exact(value) + " -> " + FloatToText(value);
  }
  // Any other value comes back as the value of its text, which writes the same text again.
  for (double value : {0.1 + 0.2, 1.0 / 3.0, 3.141592653589793e100, DBL_MAX, -DBL_MAX, DBL_MIN, std::nextafter(1.0, 2.0),
                       -2.0 / 3.0 * 1e-7, 9007199254740993.0}) {
    const std::string text = FloatToText(value);
    EXPECT_EQ(FloatToText(TextToFloat(text)), text) << Exact(value);
  }
  EXPECT_TRUE(std::isnan(TextToFloat(FloatToText(kNaN))));
}

TEST_P(LocaleRoundTripTest, CurrencyText) {
  for (int64_t scaled : {int64_t{0}, int64_t{-1}, int64_t{123400}, int64_t{125000}, int64_t{-10000}, INT64_MAX, INT64_MIN}) {
    EXPECT_EQ(TextToCurrency(CurrencyToText(TrsCurrency{scaled})).Scaled, scaled) << CurrencyToText(TrsCurrency{scaled});
  }
}

TEST_P(LocaleRoundTripTest, DateTimeTextKeepsEverythingButMilliseconds) {
  const struct {
    TrsDateTimeParts Parts;
  } kCases[] = {
      {{2022, 3, 4, 5, 6, 7, 0}},  {{2022, 3, 4, 17, 6, 7, 0}}, {{1899, 12, 30, 12, 0, 0, 0}},   {{1899, 12, 29, 6, 0, 0, 0}},
      {{2000, 2, 29, 0, 0, 0, 0}}, {{1, 1, 1, 0, 0, 1, 0}},     {{9999, 12, 31, 23, 59, 59, 0}}, {{2022, 3, 4, 5, 6, 7, 999}},
  };
  for (const auto& c : kCases) {
    const TrsDateTimeParts& p = c.Parts;
    const std::string text = DateTimeToText(EncodeDateTime(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond));
    EXPECT_EQ(TextToDateTime(text), EncodeDateTime(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, 0)) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Locales, LocaleRoundTripTest,
                         ::testing::Values("C", "C.UTF-8", "", "de_DE.UTF-8", "en_US.UTF-8", "fr_FR.UTF-8"),
                         [](const ::testing::TestParamInfo<const char*>& AInfo) {
                           std::string name = *AInfo.param == '\0' ? "Environment" : AInfo.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST(CommaLocaleTest, WritesCommaAndReadsBothSeparators) {
  TLocaleScope locale("de_DE.UTF-8");
  if (!locale.Active()) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  EXPECT_EQ(FloatToText(1.5), "1,5");
  EXPECT_EQ(FloatToText(-1.5e20), "-1,5E20");
  EXPECT_EQ(FloatToText(1e15), "1E15");
  EXPECT_EQ(TextToFloat("1,5"), 1.5);
  EXPECT_EQ(TextToFloat("1.5"), 1.5);
  EXPECT_THROW(TextToFloat("1.000,5"), EConvertError) << "no thousands separators";
  EXPECT_EQ(CurrencyToText(TrsCurrency{123400}), "12,34");
  EXPECT_EQ(TextToCurrency("12.34").Scaled, 123400);
  EXPECT_EQ(DateTimeToText(EncodeDateTime(2022, 3, 4, 5, 6, 7, 0)), "04.03.2022 05:06:07");
  EXPECT_EQ(TextToDateTime("04.03.2022"), 44624.0);
}

// --- Integers ---

TEST(IntegerTextTest, SignDecimalAndHexadecimalForms) {
  const struct {
    const char* Text;
    std::optional<int32_t> Int32;  // none: EConvertError
    std::optional<int64_t> Int64;
  } kCases[] = {
      {"0", 0, 0},
      {"123", 123, 123},
      {"-123", -123, -123},
      {"+7", 7, 7},
      {"   42", 42, 42},  // leading spaces are skipped
      {"000000000000000000000012", 12, 12},
      {"$FF", 255, 255},
      {"$ff", 255, 255},
      {"0x1f", 31, 31},
      {"0XfF", 255, 255},
      {"-$10", -16, -16},
      {"-$FFFFFFFF", 1, -4294967295LL},
      {"$7FFFFFFF", INT32_MAX, INT32_MAX},
      {"$80000000", INT32_MIN, 0x80000000LL},
      {"$FFFFFFFF", -1, 0xFFFFFFFFLL},  // two's complement of the target's width
      {"$100000000", std::nullopt, 0x100000000LL},
      {"$FFFFFFFFFFFFFFFF", std::nullopt, -1},
      {"$10000000000000000", std::nullopt, std::nullopt},
      {"2147483647", INT32_MAX, INT32_MAX},
      {"-2147483648", INT32_MIN, INT32_MIN},
      {"2147483648", std::nullopt, 2147483648LL},
      {"-2147483649", std::nullopt, -2147483649LL},
      {"9223372036854775807", std::nullopt, INT64_MAX},
      {"-9223372036854775808", std::nullopt, INT64_MIN},
      {"9223372036854775808", std::nullopt, std::nullopt},
      {"99999999999999999999999", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
      {" ", std::nullopt, std::nullopt},
      {"-", std::nullopt, std::nullopt},
      {"$", std::nullopt, std::nullopt},
      {"0x", std::nullopt, std::nullopt},
      {"x10", std::nullopt, std::nullopt},
      {"$G", std::nullopt, std::nullopt},
      {"42 ", std::nullopt, std::nullopt},  // trailing spaces are not
      {"\t42", std::nullopt, std::nullopt},
      {"- 5", std::nullopt, std::nullopt},
      {"12a", std::nullopt, std::nullopt},
      {"1 2", std::nullopt, std::nullopt},
      {"1.0", std::nullopt, std::nullopt},
      {"1e3", std::nullopt, std::nullopt},
      {"abc", std::nullopt, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("\"") + c.Text + "\"");
    if (c.Int32) {
      EXPECT_EQ(TextToInteger(c.Text), *c.Int32);
    } else {
      EXPECT_THROW(TextToInteger(c.Text), EConvertError);
    }
    if (c.Int64) {
      EXPECT_EQ(TextToInt64(c.Text), *c.Int64);
    } else {
      EXPECT_THROW(TextToInt64(c.Text), EConvertError);
    }
  }
  EXPECT_EQ(ConvertErrorText([] { TextToInteger("abc"); }), "'abc' is not a valid integer value");
}

TEST(RoundHalfEvenTest, TiesGoToEven) {
  const struct {
    double Value;
    std::optional<int32_t> Int32;  // none: EConvertError
    std::optional<int64_t> Int64;
  } kCases[] = {
      {2.5, 2, 2},
      {3.5, 4, 4},
      {-2.5, -2, -2},
      {-3.5, -4, -4},
      {0.5, 0, 0},
      {-0.5, 0, 0},
      {1.5, 2, 2},
      {2.4999999999999996, 2, 2},
      {2.5000000000000004, 3, 3},
      {0.49999999999999994, 0, 0},                             // floor(x + 0.5) would give 1
      {4503599627370497.0, std::nullopt, 4503599627370497LL},  // 2^52 + 1: x + 0.5 is not exact
      {2147483647.49, INT32_MAX, INT32_MAX},
      {2147483647.5, std::nullopt, 2147483648LL},
      {-2147483648.5, INT32_MIN, INT32_MIN},
      {-2147483649.0, std::nullopt, -2147483649LL},
      {-9223372036854775808.0, std::nullopt, INT64_MIN},
      {9223372036854775808.0, std::nullopt, std::nullopt},
      {kNaN, std::nullopt, std::nullopt},
      {kInf, std::nullopt, std::nullopt},
      {-kInf, std::nullopt, std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Exact(c.Value));
    if (c.Int32) {
      EXPECT_EQ(RoundHalfEven(c.Value), *c.Int32);
    } else {
      EXPECT_THROW(RoundHalfEven(c.Value), EConvertError);
    }
    if (c.Int64) {
      EXPECT_EQ(RoundHalfEven64(c.Value), *c.Int64);
    } else {
      EXPECT_THROW(RoundHalfEven64(c.Value), EConvertError);
    }
  }
}

// --- Byte buffers ---

TEST(BufferHexTextTest, PairsSeparatedByCommas) {
  EXPECT_EQ(BufferToHexText(nullptr, 0), "");
  const uint8_t bytes[] = {0x01, 0xAB, 0xFF, 0x00, 0x5c};
  EXPECT_EQ(BufferToHexText(bytes, 1), "01");
  EXPECT_EQ(BufferToHexText(bytes, 5), "01,AB,FF,00,5C");
}

TEST(BufferHexTextTest, BreaksAfterEvery26thByteWhenTwoOrMoreFollow) {
  const struct {
    size_t Count;
    std::vector<size_t> LinePairs;
  } kCases[] = {
      {26, {26}}, {27, {27}}, {28, {26, 2}}, {30, {26, 4}}, {52, {26, 26}}, {53, {26, 27}}, {54, {26, 26, 2}}, {79, {26, 26, 27}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.Count);
    std::vector<uint8_t> bytes(c.Count);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    const std::string text = BufferToHexText(bytes.data(), bytes.size());

    std::vector<std::string> lines;
    for (size_t start = 0;;) {
      const size_t end = text.find("\r\n", start);
      lines.push_back(text.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 2;
    }
    ASSERT_EQ(lines.size(), c.LinePairs.size()) << text;
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
      const bool last = i + 1 == lines.size();
      EXPECT_EQ(lines[i].size(), c.LinePairs[i] * 3 - (last ? 1 : 0)) << lines[i];
      if (!last) {
        EXPECT_EQ(lines[i].back(), ',');
      }
      joined += lines[i];
    }
    std::string expected;
    for (uint8_t byte : bytes) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02X", byte);
      if (!expected.empty()) expected += ',';
      expected += pair;
    }
    EXPECT_EQ(joined, expected);
  }
}

// --- UTF-8 and UTF-16 ---

TEST(UtfConversionTest, Utf8ToUtf16ReplacesEachIllFormedSubpart) {
  const struct {
    std::string Utf8;
    std::u16string Utf16;
  } kCases[] = {
      {"", u""},
      {"A", u"A"},
      {"\xC3\xA4", u"\u00E4"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\xC3", u"\uFFFD"},  // truncated
      {"a\xC3"
       "b",
       u"a\uFFFDb"},
      {"\xF0\x9F\x98", u"\uFFFD"},                        // one truncated sequence, one replacement
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\x80", u"\uFFFD"},
      {"\xFF"
       "A",
       u"\uFFFDA"},
      {"\xE0\x80", u"\uFFFD\uFFFD"},  // overlong lead, then a stray continuation
      {"\xE2\x82"
       "A",
       u"\uFFFDA"},                         // cut short by the next character
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},  // the last code point: a surrogate pair
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Utf8ToUtf16(c.Utf8), c.Utf16) << c.Utf8;
    // Section streams and encrypted values hold the same units as bytes, low byte first.
    std::string bytes;
    for (char16_t unit : c.Utf16) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
    EXPECT_EQ(Utf16LeBytes(c.Utf8), bytes) << c.Utf8;
  }
}

TEST(UtfConversionTest, Utf16ToUtf8ReplacesUnpairedSurrogates) {
  const struct {
    std::u16string Utf16;
    std::string Utf8;
  } kCases[] = {
      {u"", ""},
      {u"A\u00E4\u20AC", "A\xC3\xA4\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::u16string{0xD83D, u'A'},
       "\xEF\xBF\xBD"
       "A"},
      {std::u16string{u'A', 0xD83D}, "A\xEF\xBF\xBD"},
      {std::u16string{0xDE00}, "\xEF\xBF\xBD"},
      {std::u16string{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // a pair in the wrong order
  };
  for (const auto& c : kCases) EXPECT_EQ(Utf16ToUtf8(c.Utf16), c.Utf8);
  const std::string text =
      "Stra\xC3\x9F"
      "e \xF0\x9F\x98\x80 \xE2\x82\xAC";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
}

}  // namespace
}  // namespace velloran
