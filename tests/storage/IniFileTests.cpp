#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "IniFile.h"
#include "IniFileTest.h"
#include "PlatformFile.h"
#include "TestFiles.h"

namespace velloran {
namespace {

using test::TTempDir;

using IniDataTest = test::TIniFileTest;

TEST_F(IniDataTest, ExampleStoreSavesToItsExactBytesAndLoadsBackWithItsKinds) {
  Storage.WriteString("\\Export\\FileName", "C:\\Temp\\out.csv");
  Storage.WriteBoolean("\\Main\\DetailsVisible", true);
  Storage.WriteInteger("\\Main\\DetailsWidth", 250);
  Storage.WriteString("\\Main\\FileName", "C:\\Logs\\IN2401.log");
  Storage.WriteString("\\Main\\ViewCaptions", "Timestamp\r\nUser-Name");

  const std::string text = SaveToText();
  EXPECT_EQ(text,
            "[Export]\r\n"
            "FileName=\"C:\\Temp\\out.csv\"\r\n"
            "\r\n"
            "[Main]\r\n"
            "DetailsVisible=True\r\n"
            "DetailsWidth=250\r\n"
            "FileName=\"C:\\Logs\\IN2401.log\"\r\n"
            "ViewCaptions=text:\"Timestamp$0D$0AUser-Name\"\r\n"
            "\r\n");
  EXPECT_EQ(text.size(), 166u);

  TrsStorage other;
  other.SetStorageData(&Ini);
  other.Load();
  EXPECT_EQ(other.GetKeyType("\\Export\\FileName"), kvString);
  EXPECT_EQ(other.GetKeyType("\\Main\\DetailsVisible"), kvBoolean);
  EXPECT_EQ(other.GetKeyType("\\Main\\DetailsWidth"), kvInteger);
  EXPECT_EQ(other.ReadString("\\Main\\FileName", ""), "C:\\Logs\\IN2401.log");
  EXPECT_EQ(other.ReadString("\\Main\\ViewCaptions", ""), "Timestamp\r\nUser-Name");
  EXPECT_EQ(other.ReadInteger("\\Main\\DetailsWidth", 0), 250);
}

TEST_F(IniDataTest, BuffersWrapIntoLinesOf76To78CharactersAndReadBack) {
  std::vector<uint8_t> bytes(60);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  Storage.WriteBuffer("\\S\\Data", bytes.data(), static_cast<int32_t>(bytes.size()));
  Storage.WriteBuffer("\\S\\Two", bytes.data(), 28);  // the last byte must not start a line alone

  const std::string text = SaveToText();
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[1].size(), 76u);
  EXPECT_EQ(lines[1].substr(0, 15), "Data=hex:00,01,");
  EXPECT_EQ(lines[1].substr(69), "14,15,\\");
  EXPECT_EQ(lines[2].size(), 78u);
  EXPECT_EQ(lines[2].substr(0, 5), "  16,");
  EXPECT_EQ(lines[2].substr(74), "2E,\\");
  EXPECT_EQ(lines[3], "  2F,30,31,32,33,34,35,36,37,38,39,3A,3B");
  // 'Two=hex:' starts 1 column further left: 23 bytes fit, the remaining 5 continue.
  EXPECT_EQ(lines[4].substr(0, 11), "Two=hex:00,");
  EXPECT_EQ(lines[5], "  17,18,19,1A,1B");

  Storage.ClearAll();
  Storage.Load();
  EXPECT_EQ(std::get<std::vector<uint8_t>>(Value("\\S\\Data").Value), bytes);
  EXPECT_EQ(std::get<std::vector<uint8_t>>(Value("\\S\\Two").Value), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 28));

  Ini.SetCompactOptions(coHexStr);
  Storage.ClearAll();
  Storage.WriteBuffer("\\S\\Data", bytes.data(), 3);
  EXPECT_EQ(SaveToText(), "[S]\r\nData=hex:000102\r\n\r\n");
}

// Every kind of value survives a save and a load in each code page.
class IniRoundTripTest : public IniDataTest, public ::testing::WithParamInterface<TrsCodePage> {};

TEST_P(IniRoundTripTest, EveryValueKindKeepsKindAndValue) {
  Ini.SetCodePage(GetParam());
  std::vector<uint8_t> buffer(100);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 7);
  struct TCase {
    const char* Key;
    TrsKeyValue Value;
  };
  const std::vector<TCase> cases = {
      {"\\Texts\\Plain", {0, kvString, std::string("C:\\Logs\\a.log")}},
      {"\\Texts\\NonAscii", {0, kvString, std::string("Grüße, €uro – ok")}},
      {"\\Texts\\Controls", {0, kvString, std::string("a\tb$c\r\nd\x01")}},
      {"\\Texts\\Quoted", {0, kvString, std::string("\"abc\"")}},
      {"\\Texts\\OneQuote", {0, kvString, std::string("\"")}},
      {"\\Texts\\Empty", {0, kvString, std::string()}},
      {"\\Texts\\Spaces", {0, kvString, std::string("  padded  ")}},
      {"\\Texts\\LooksTrue", {0, kvString, std::string("True")}},
      {"\\Texts\\Sub\\Deep", {0, kvString, std::string("in a subsection")}},
      {"\\Values\\Buffer", {0, kvBuffer, buffer}},
      {"\\Values\\EmptyBuffer", {0, kvBuffer, std::vector<uint8_t>()}},
      {"\\Values\\Integer", {0, kvInteger, int32_t{-17}}},
      {"\\Values\\IntegerMin", {0, kvInteger, int32_t{INT32_MIN}}},
      {"\\Values\\Half", {0, kvDouble, 0.5}},
      {"\\Values\\Three", {0, kvDouble, 3.0}},
      {"\\Values\\Tiny", {0, kvDouble, 1e-7}},
      {"\\Values\\Huge", {0, kvDouble, -1.5e20}},
      {"\\Values\\Largest", {0, kvDouble, 1.7976931348623157e308}},
      {"\\Values\\Inexact", {0, kvDouble, 0.1 + 0.2}},
      {"\\Values\\MinusZero", {0, kvDouble, -0.0}},
      {"\\Values\\Currency", {0, kvCurrency, int64_t{-123456}}},
      {"\\Values\\Boolean", {0, kvBoolean, int32_t{1}}},
      {"\\Values\\False", {0, kvBoolean, int32_t{0}}},
      {"\\Values\\Point", {0, kvPoint, TrsPoint{10, -20}}},
      {"\\Values\\SmallInt64", {0, kvInt64, int64_t{5}}},
      {"\\Values\\LargeInt64", {0, kvInt64, int64_t{-5000000000}}},
      {"\\Values\\Int64Max", {0, kvInt64, INT64_MAX}},
      {"\\Values\\Int64Min", {0, kvInt64, INT64_MIN}},
      {"\\Values\\Date", {0, kvDateTime, EncodeDateTime(2024, 1, 15, 13, 45, 30, 0)}},
      {"\\Values\\Midnight", {0, kvDateTime, EncodeDateTime(2024, 2, 29, 0, 0, 0, 0)}},
      {"\\Top", {0, kvInteger, int32_t{1}}},
  };
  for (const TCase& one : cases) Storage.FindKeyItem(one.Key, true)->Value = one.Value;
  SaveToText();

  TrsStorage loaded;
  loaded.SetStorageData(&Ini);
  loaded.Load();
  EXPECT_EQ(loaded.KeyItemCount(), static_cast<int>(cases.size()));
  for (const TCase& one : cases) {
    const TrsKeyItem* key = loaded.FindKeyItem(one.Key, false);
    ASSERT_NE(key, nullptr) << one.Key;
    EXPECT_EQ(key->Value.kvType, one.Value.kvType) << one.Key;
    EXPECT_EQ(key->Value.Value, one.Value.Value) << one.Key;
    if (const double* number = std::get_if<double>(&one.Value.Value)) {
      EXPECT_EQ(std::signbit(std::get<double>(key->Value.Value)), std::signbit(*number)) << one.Key;
    }
  }
}

TEST_P(IniRoundTripTest, FixedDateTimesKeepTheirMilliseconds) {
  Ini.SetCodePage(GetParam());
  Ini.SetFixedDateTimeFormat(true);
  const double date = EncodeDateTime(2022, 3, 4, 5, 6, 7, 8);
  Storage.WriteDateTime("\\Main\\When", date);
  const std::string text = SaveToText();
  Storage.ClearAll();
  Storage.Load();
  EXPECT_EQ(Value("\\Main\\When").kvType, kvDateTime);
  EXPECT_EQ(std::get<double>(Value("\\Main\\When").Value), date);
  if (GetParam() == cpAnsi) {
    EXPECT_NE(text.find("When=fxdate:2022-03-04T05:06:07.8\r\n"), std::string::npos) << text;
  }
}

TEST_P(IniRoundTripTest, FilesBeginWithTheByteOrderMarkOfTheirCodePage) {
  Ini.SetCodePage(GetParam());
  Storage.WriteInteger("\\A\\B", 1);
  const std::string text = SaveToText();
  const std::string expected = GetParam() == cpUTF16le   ? std::string("\xFF\xFE[\0A\0]\0", 8)
                               : GetParam() == cpUTF16be ? std::string("\xFE\xFF\0[\0A\0]", 8)
                               : GetParam() == cpUTF8    ? std::string("\xEF\xBB\xBF[A]")
                                                         : std::string("[A]");
  EXPECT_EQ(text.substr(0, expected.size()), expected);
}

std::string CodePageName(const ::testing::TestParamInfo<TrsCodePage>& AInfo) {
  constexpr const char* kNames[] = {"Ansi", "Utf8", "Utf16be", "Utf16le"};
  return kNames[AInfo.param];
}

INSTANTIATE_TEST_SUITE_P(CodePages, IniRoundTripTest, ::testing::Values(cpAnsi, cpUTF8, cpUTF16le, cpUTF16be), CodePageName);

// What a value's text becomes when it is read.
TEST_F(IniDataTest, ValueTextsAreRecognisedByTheFirstRuleThatApplies) {
  struct TCase {
    const char* Text;
    TrsKeyValue Expected;
  };
  const std::vector<TCase> cases = {
      {"", {0, kvString, std::string()}},
      {"\"145,180\"", {0, kvString, std::string("145,180")}},
      {"\"\"", {0, kvString, std::string()}},
      {"\"", {0, kvString, std::string("\"")}},
      {"145,180", {0, kvDouble, 145.18}},
      {"-0.5", {0, kvDouble, -0.5}},
      {".5", {0, kvString, std::string(".5")}},
      {"1.2.3", {0, kvString, std::string("1.2.3")}},
      {"1e5", {0, kvString, std::string("1e5")}},
      {"-", {0, kvString, std::string("-")}},
      {"+-1", {0, kvString, std::string("+-1")}},
      {"+5", {0, kvInteger, int32_t{5}}},
      {"007", {0, kvInteger, int32_t{7}}},
      {"2147483647", {0, kvInteger, int32_t{2147483647}}},
      {"2147483648", {0, kvInt64, int64_t{2147483648}}},
      {"-2147483648", {0, kvInteger, int32_t{INT32_MIN}}},
      {"-2147483649", {0, kvInt64, int64_t{-2147483649}}},
      {"12345678901", {0, kvInt64, int64_t{12345678901}}},
      {"9223372036854775807", {0, kvInt64, INT64_MAX}},
      {"-9223372036854775808", {0, kvInt64, INT64_MIN}},
      {"9223372036854775808", {0, kvString, std::string("9223372036854775808")}},
      {"12345678901234567890", {0, kvString, std::string("12345678901234567890")}},
      {"true", {0, kvBoolean, int32_t{1}}},
      {"FALSE", {0, kvBoolean, int32_t{0}}},
      {"Truest", {0, kvString, std::string("Truest")}},
      {"text:\"A$0D$0AB\"", {0, kvString, std::string("A\r\nB")}},
      {"TEXT:a$$b\"c\"", {0, kvString, std::string("a$b\"c")}},
      {"text:\"$e9t$", {0, kvString, std::string("\xC3\xA9t$")}},
      {"text:$7F$80$FF", {0, kvString, std::string("\x7F\xC2\x80\xC3\xBF")}},  // one byte up to 7F, two after
      {"text:$G1", {0, kvString, std::string("\x01")}},
      {"text:a$0\u00E9b", {0, kvString, std::string("a\0b", 3)}},  // "é" is one character, no digit
      {"hex:0A,0b,FF", {0, kvBuffer, std::vector<uint8_t>{0x0A, 0x0B, 0xFF}}},
      {"Hex:0A0B", {0, kvBuffer, std::vector<uint8_t>{0x0A, 0x0B}}},
      {"hex:0G,01", {0, kvBuffer, std::vector<uint8_t>()}},
      {"hex:012", {0, kvBuffer, std::vector<uint8_t>()}},
      {"int64:5", {0, kvInt64, int64_t{5}}},
      {"point:10,-20", {0, kvPoint, TrsPoint{10, -20}}},
      {"curr:12.5", {0, kvCurrency, int64_t{125000}}},
      {"fxdate:2022-03-04T05:06:07.8", {0, kvDateTime, EncodeDateTime(2022, 3, 4, 5, 6, 7, 8)}},
      {"fxdate:2022-03-04T05:06:07.0000000000000000000000000", {0, kvDateTime, EncodeDateTime(2022, 3, 4, 5, 6, 7, 0)}},
      {"currency", {0, kvString, std::string("currency")}},
      {"hexagon", {0, kvString, std::string("hexagon")}},
      {"point", {0, kvString, std::string("point")}},
  };
  std::string text = "[V]\r\n";
  for (size_t i = 0; i < cases.size(); ++i) text += "K" + std::to_string(i) + "=" + cases[i].Text + "\r\n";
  LoadFromText(text);
  for (size_t i = 0; i < cases.size(); ++i) {
    const TrsKeyValue value = Value("\\V\\K" + std::to_string(i));
    EXPECT_EQ(value.kvType, cases[i].Expected.kvType) << cases[i].Text;
    EXPECT_EQ(value.Value, cases[i].Expected.Value) << cases[i].Text;
  }
}

TEST_F(IniDataTest, MalformedValuesRaiseAConversionErrorAndKeepWhatWasRead) {
  const char* const malformed[] = {"curr:12x",
                                   "date:not a date",
                                   "int64:5x",
                                   "point:10",
                                   "point:a,1",
                                   "fxdate:2022-02-30T00:00:00.0",
                                   "fxdate:2022-03-04T25:00:00.0"};
  for (const char* value : malformed) {
    try {
      LoadFromText(std::string("[A]\r\nBefore=1\r\nBad=") + value + "\r\nAfter=2\r\n");
      ADD_FAILURE() << value << " was accepted";
    } catch (const EConvertError&) {
    }
    EXPECT_EQ(Storage.ReadInteger("\\A\\Before", 0), 1) << value;
    EXPECT_FALSE(Storage.KeyExist("\\A\\After")) << value;
  }
  // A fixed date in a wrong form drops only its own key.
  LoadFromText("[A]\r\nBad=fxdate:2022/03/04T05:06:07.8\r\nShort=fxdate:2022-03-04\r\nAfter=2\r\n");
  EXPECT_FALSE(Storage.KeyExist("\\A\\Bad"));
  EXPECT_FALSE(Storage.KeyExist("\\A\\Short"));
  EXPECT_EQ(Storage.ReadInteger("\\A\\After", 0), 2);
}

TEST_F(IniDataTest, LinesOutsideSectionsCommentsAndOddHeadersAreSkipped) {
  LoadFromText(
      "Before=1\r\n"
      "  [ not at a line start\r\n"
      "[Main]\r\n"
      "; comment=1\r\n"
      "# comment=2\r\n"
      "/ comment=3\r\n"
      "\\ comment=4\r\n"
      "no equals sign\r\n"
      "Key = value\r\n"
      "  Trimmed=1  \r\n"
      "[Other] ; x\r\n"
      "StillMain=1\r\n"
      "[Main\\Sub]\r\n"
      "Deep=1\r\n"
      "Sub2\\Deeper=2\r\n"
      "[]\r\n"
      "TopKey=3\r\n"
      "[Main]\r\n"
      "Trimmed=4\r\n");
  EXPECT_FALSE(Storage.KeyExist("\\Before"));
  EXPECT_FALSE(Storage.SectionExist("\\Other"));
  EXPECT_EQ(Storage.ReadString("\\Main\\Key ", ""), " value");
  EXPECT_EQ(Storage.ReadInteger("\\Main\\StillMain", 0), 1);
  EXPECT_EQ(Storage.ReadInteger("\\Main\\Sub\\Deep", 0), 1);
  EXPECT_EQ(Storage.ReadInteger("\\Main\\Sub\\Sub2\\Deeper", 0), 2);
  EXPECT_EQ(Storage.ReadInteger("\\TopKey", 0), 3);
  EXPECT_EQ(Storage.ReadInteger("\\Main\\Trimmed", 0), 4);  // a repeated header continues its section
  Storage.SetRootSection("Main");
  EXPECT_EQ(Storage.KeyCount(), 3);
}

TEST_F(IniDataTest, LineBreaksOfEveryKindAndAZeroCharacterEndingTheText) {
  LoadFromText(std::string_view("[A]\nLf=1\rCr=2\r\n\r\nCrLf=3\n\rTwo=4\r\r\nNul=5\0Gone=6\r\n", 47));
  EXPECT_EQ(Storage.ReadInteger("\\A\\Lf", 0), 1);
  EXPECT_EQ(Storage.ReadInteger("\\A\\Cr", 0), 2);
  EXPECT_EQ(Storage.ReadInteger("\\A\\CrLf", 0), 3);
  EXPECT_EQ(Storage.ReadInteger("\\A\\Two", 0), 4);
  EXPECT_EQ(Storage.ReadInteger("\\A\\Nul", 0), 5);
  EXPECT_FALSE(Storage.KeyExist("\\A\\Gone"));
}

TEST_F(IniDataTest, HexValuesContinueOverLinesEndingInBackslashOrComma) {
  LoadFromText(
      "[A]\r\n"
      "Data=hex:01,02,\\\r\n"
      "  03,04,\r\n"
      "  05\r\n"
      "Next=hex:0a\r\n"
      "Last=hex:FF,\r\n");
  EXPECT_EQ(std::get<std::vector<uint8_t>>(Value("\\A\\Data").Value), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(std::get<std::vector<uint8_t>>(Value("\\A\\Next").Value), std::vector<uint8_t>{0x0A});
  EXPECT_EQ(std::get<std::vector<uint8_t>>(Value("\\A\\Last").Value), std::vector<uint8_t>{0xFF});
}

TEST_F(IniDataTest, EncodingsAreToldByTheMarkOrALeadingBracket) {
  const auto utf16 = [](std::u16string_view AText, bool ABigEndian) {
    std::string bytes;
    for (char16_t unit : AText) {
      const char low = static_cast<char>(unit & 0xFF);
      const char high = static_cast<char>(unit >> 8);
      bytes += ABigEndian ? high : low;
      bytes += ABigEndian ? low : high;
    }
    return bytes;
  };
  struct TCase {
    std::string Bytes;
    bool Recognised;
  };
  const std::vector<TCase> cases = {
      {utf16(u"[A]\r\nK=\"Grüße\"\r\n", false), true},
      {utf16(u"[A]\r\nK=\"Grüße\"\r\n", true), true},
      {utf16(u"\uFEFF[A]\r\nK=\"Grüße\"\r\n", false), true},
      {utf16(u"\uFEFF[A]\r\nK=\"Grüße\"\r\n", true), true},
      {"\xEF\xBB\xBF[A]\r\nK=\"Grüße\"\r\n", true},
      {"[A]\r\nK=\"Grüße\"\r\n", true},
      // UTF-16 without a mark that does not begin with "[": read as 8-bit text, finding no header.
      {utf16(u";c\r\n[A]\r\nK=\"Grüße\"\r\n", false), false},
  };
  for (const TCase& one : cases) {
    LoadFromText(one.Bytes);
    EXPECT_EQ(Storage.ReadString("\\A\\K", "<none>"), one.Recognised ? "Grüße" : "<none>");
  }
  // Ill-formed UTF-8 becomes U+FFFD, as in a conversion: the storage holds only text that
  // every code page can write back.
  LoadFromText(
      "[A]\r\nK=\"a\xFF\xC3"
      "b\"\r\nBad\xE0\x80=1\r\n");
  EXPECT_EQ(Storage.ReadString("\\A\\K", ""), "a\uFFFD\uFFFDb");
  EXPECT_TRUE(Storage.KeyExist("\\A\\Bad\uFFFD\uFFFD"));
}

TEST_F(IniDataTest, WriterFormsOfSectionsTemplatesAndNumbers) {
  Storage.SetOptions(soSaveEmptySection);
  Storage.SectionAdd("\\S");
  EXPECT_EQ(SaveToText(), "[]\r\n[S]\r\n");

  Storage.SetOptions(0);
  Storage.WriteFloat("\\N\\Three", 3);
  Storage.WriteFloat("\\N\\Tiny", 0.00001);
  Storage.WriteFloat("\\N\\Big", 1.5e20);
  Storage.WriteInt64("\\N\\Small", 5);
  Storage.WriteInt64("\\N\\Large", 5000000000);
  Storage.WritePoint("\\N\\Point", {10, -20});
  Storage.WriteCurrency("\\N\\Money", TrsCurrency{125000});
  Ini.SetTemplate({"; head", "%BODY%", "; tail"});
  EXPECT_EQ(SaveToText(),
            "; head\r\n[N]\r\nBig=150000000000000000000.0\r\nLarge=5000000000\r\nMoney=curr:12.5\r\nPoint=point:10,-20\r\n"
            "Small=int64:5\r\nThree=3.0\r\nTiny=0.00001\r\n\r\n; tail\r\n");
  Ini.SetTemplate({"; no body mark"});
  EXPECT_EQ(SaveToText().substr(0, 20), "; no body mark\r\n[N]\r");
}

// The encryptor's holder keys (buffers with an empty name) go through the INI file too.
TEST_F(IniDataTest, EncryptedStoresRoundTripThroughTheFile) {
  const std::unique_ptr<TrsAesSivEncryptor> encryptor = TrsAesSivEncryptor::FromPassphrase("secret");
  Storage.SetEncryptor(encryptor.get());
  Storage.WriteString("\\Main\\Password", "hunter2");
  Storage.WriteInteger("\\Main\\Width", 250);
  Storage.WriteString("\\Other\\Path", "/logs/a.log");

  encryptor->SetEncryptKeys({"\\Main\\Password", "\\Other"});
  std::string text = SaveToText();
  EXPECT_EQ(text.find("hunter2"), std::string::npos) << text;
  EXPECT_EQ(text.find("/logs/a.log"), std::string::npos) << text;
  EXPECT_NE(text.find("Width=250"), std::string::npos) << text;
  EXPECT_NE(text.find("[Other]\r\n=hex:"), std::string::npos) << text;
  Storage.Load();
  EXPECT_EQ(Storage.ReadString("\\Main\\Password", ""), "hunter2");
  EXPECT_EQ(Storage.ReadString("\\Other\\Path", ""), "/logs/a.log");

  encryptor->SetEncryptAll(true);
  text = SaveToText();
  EXPECT_EQ(text.substr(0, 9), "[]\r\n=hex:");
  TrsStorage medium;  // what the file holds, read without the encryptor
  medium.SetStorageData(&Ini);
  medium.Load();
  EXPECT_EQ(medium.KeyItemCount(), 1);
  EXPECT_EQ(medium.GetKeyType("\\"), kvBuffer);
  Storage.Load();
  EXPECT_EQ(Storage.KeyItemCount(), 3);
  EXPECT_EQ(Storage.ReadInteger("\\Main\\Width", 0), 250);
  Storage.SetEncryptor(nullptr);
}

TEST_F(IniDataTest, ProgressRisesToOneHundredOnSaveAndLoad) {
  for (int i = 0; i < 250; ++i) Storage.WriteInteger("\\S" + std::to_string(i % 7) + "\\K" + std::to_string(i), i);
  std::vector<int> reported;
  Ini.SetOnProgress([&](TrsStorageData*, int APercent) { reported.push_back(APercent); });
  for (const bool saving : {true, false}) {
    reported.clear();
    if (saving) {
      Storage.Save();
    } else {
      Storage.Load();
    }
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.front(), 0);
    EXPECT_EQ(reported.back(), 100);
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
  }
  EXPECT_EQ(Storage.KeyItemCount(), 250);
}

ssize_t FailingRead(int, void*, size_t, off_t) {
  errno = EIO;
  return -1;
}

TEST_F(IniDataTest, MissingAndEmptyFilesLoadNothingAndUnreadableOnesNameTheFile) {
  Storage.WriteInteger("\\A\\B", 1);
  Storage.Load();  // no file yet
  EXPECT_EQ(Storage.KeyItemCount(), 0);
  LoadFromText("");
  EXPECT_EQ(Storage.KeyItemCount(), 0);

  const std::string path = Dir.Write("settings.ini", "[A]\r\nB=1\r\n");
  const platform::TPreadFunction previous = platform::SetPreadFunction(FailingRead);
  try {
    Storage.Load();
    ADD_FAILURE() << "a failed read was reported as success";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    EXPECT_EQ(error.code().value(), EIO);
  }
  platform::SetPreadFunction(previous);
  EXPECT_EQ(Storage.KeyItemCount(), 0);
}

}  // namespace
}  // namespace velloran
