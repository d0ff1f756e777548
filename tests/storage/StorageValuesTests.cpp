#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "Storage.h"

namespace velloran {

void PrintTo(const TrsPoint& APoint, std::ostream* AStream) { *AStream << "(" << APoint.X << ", " << APoint.Y << ")"; }
void PrintTo(const TrsCurrency& AValue, std::ostream* AStream) { *AStream << AValue.Scaled << " units"; }
void PrintTo(const TrsVariant& AValue, std::ostream* AStream) {
  *AStream << "type " << AValue.VarType() << ": ";
  std::visit([&](const auto& AData) { *AStream << ::testing::PrintToString(AData); }, AValue.Data());
}

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAre;

static_assert(sizeof(void*) == 8, "the pointer cases assume 64-bit addresses");

constexpr const char* kKey = "\\Main\\Zoom";

TrsKeyValue Kv(uint16_t AKind, TrsKeyValue::TValue AValue = {}) { return TrsKeyValue{0, AKind, std::move(AValue)}; }
// A text value: a bare literal would pick the pointer alternative.
TrsKeyValue::TValue Text(const std::string& AText) { return AText; }
TrsKeyValue::TValue Bytes(std::vector<uint8_t> ABytes) { return ABytes; }
const void* Address(uintptr_t AValue) { return reinterpret_cast<const void*>(AValue); }

std::string CantReadMessage(const char* ATypeWord) {
  std::string message = "TrsStorage get key value error: Can't read value of key \"\\Main\\Zoom\" as ";
  message += ATypeWord;
  message += " type.";
  return message;
}

// --- conversions on read ------------------------------------------------------------------

// What a read gives: a value, the storage's "can't read" error with its type word, or the
// platform's conversion error for a text of the wrong form.
struct TCantRead {
  const char* TypeWord;
};
struct TBadText {};
template <typename T>
using TOutcome = std::variant<T, TCantRead, TBadText>;

template <typename T>
struct TReadCase {
  std::string Label;
  TrsKeyValue Stored;
  TOutcome<T> Expected;
};

// Stores each case's value under kKey as it is, reads it back with ARead, and checks the
// result; a refused read must leave the value as it was.
template <typename T, typename TRead>
void CheckReads(const std::vector<TReadCase<T>>& ACases, TRead ARead) {
  for (const TReadCase<T>& c : ACases) {
    SCOPED_TRACE(c.Label);
    TrsStorage storage;
    storage.FindKeyItem(kKey, true)->Value = c.Stored;
    storage.FindKeyItem("\\Other", true);  // the read must find its key, not the last one touched
    if (const T* expected = std::get_if<T>(&c.Expected)) {
      EXPECT_EQ(ARead(storage), *expected);
    } else if (const TCantRead* error = std::get_if<TCantRead>(&c.Expected)) {
      try {
        ARead(storage);
        ADD_FAILURE() << "read without error";
      } catch (const TrsException& AError) {
        EXPECT_EQ(AError.what(), CantReadMessage(error->TypeWord));
      }
      const TrsKeyItem* key = storage.FindKeyItem(kKey, false);
      EXPECT_EQ(key->Value.kvType, c.Stored.kvType);
      EXPECT_EQ(key->Value.Value, c.Stored.Value);
    } else {
      EXPECT_THROW(ARead(storage), EConvertError);
    }
  }
}

TEST(TypedValuesTest, ReadAsInteger) {
  CheckReads<int32_t>(
      {
          {"unknown", Kv(kvUnknown), 0},
          {"integer", Kv(kvInteger, int32_t{-7}), -7},
          {"cleared integer", Kv(kvInteger), 0},
          {"int64: its low 32 bits", Kv(kvInt64, int64_t{0x1'0000'0005}), 5},
          {"negative int64", Kv(kvInt64, int64_t{-2}), -2},
          {"text", Kv(kvString, Text("250")), 250},
          {"text that is no number", Kv(kvString, Text("abc")), TBadText{}},
          {"currency beyond int32 is refused, not wrapped", Kv(kvCurrency, int64_t{30'000'000'000'000}), TBadText{}},
          {"double 2.5", Kv(kvDouble, 2.5), 2},
          {"double 3.5", Kv(kvDouble, 3.5), 4},
          {"double -2.5", Kv(kvDouble, -2.5), -2},
          {"double 2.6", Kv(kvDouble, 2.6), 3},
          {"double beyond int32", Kv(kvDouble, 1e10), TBadText{}},
          {"date-time 1.5", Kv(kvDateTime, 1.5), 2},
          {"currency 2.5", Kv(kvCurrency, int64_t{25000}), 2},
          {"currency 3.5", Kv(kvCurrency, int64_t{35000}), 4},
          {"currency 1.2345", Kv(kvCurrency, int64_t{12345}), 1},
          {"boolean true", Kv(kvBoolean, int32_t{-1}), 1},
          {"boolean false", Kv(kvBoolean, int32_t{0}), 0},
          {"4-byte buffer", Kv(kvBuffer, Bytes({0x01, 0x02, 0x00, 0x00})), 513},
          {"4-byte buffer, negative", Kv(kvBuffer, Bytes({0xFF, 0xFF, 0xFF, 0xFF})), -1},
          {"3-byte buffer", Kv(kvBuffer, Bytes({1, 2, 3})), TCantRead{"integer"}},
          {"8-byte buffer", Kv(kvBuffer, Bytes({1, 0, 0, 0, 0, 0, 0, 0})), TCantRead{"integer"}},
          {"point", Kv(kvPoint, TrsPoint{1, 2}), TCantRead{"integer"}},
          {"pointer", Kv(kvPointer, Address(1)), TCantRead{"integer"}},
          {"unknown kind code", Kv(42, int32_t{1}), TCantRead{"integer"}},
      },
      [](TrsStorage& AStorage) { return AStorage.ReadInteger(kKey, -99); });
}

TEST(TypedValuesTest, ReadAsInt64) {
  CheckReads<int64_t>(
      {
          {"unknown", Kv(kvUnknown), 0},
          {"int64", Kv(kvInt64, int64_t{-9'000'000'000}), -9'000'000'000},
          {"text", Kv(kvString, Text("-9000000000")), -9'000'000'000},
          {"text that is no number", Kv(kvString, Text("1.5")), TBadText{}},
          {"integer, widened", Kv(kvInteger, int32_t{-5}), -5},
          {"double 2.5", Kv(kvDouble, 2.5), 2},
          {"double 3.5", Kv(kvDouble, 3.5), 4},
          {"currency 2.5", Kv(kvCurrency, int64_t{25000}), 2},
          {"currency -3.5", Kv(kvCurrency, int64_t{-35000}), -4},
          {"8-byte buffer", Kv(kvBuffer, Bytes({0, 0, 0, 0, 1, 0, 0, 0})), int64_t{1} << 32},
          {"4-byte buffer", Kv(kvBuffer, Bytes({1, 0, 0, 0})), TCantRead{"Int64"}},
          {"date-time", Kv(kvDateTime, 1.0), TCantRead{"Int64"}},
          {"boolean", Kv(kvBoolean, int32_t{-1}), TCantRead{"Int64"}},
          {"point", Kv(kvPoint, TrsPoint{}), TCantRead{"Int64"}},
          {"pointer", Kv(kvPointer, Address(1)), TCantRead{"Int64"}},
      },
      [](TrsStorage& AStorage) { return AStorage.ReadInt64(kKey, -99); });
}

TEST(TypedValuesTest, ReadAsFloat) {
  CheckReads<double>(
      {
          {"unknown", Kv(kvUnknown), 0.0},
          {"double", Kv(kvDouble, 2.25), 2.25},
          {"text with a point", Kv(kvString, Text("2.25")), 2.25},
          {"text with a comma", Kv(kvString, Text("1,5")), 1.5},
          {"text that is no number", Kv(kvString, Text("x")), TBadText{}},
          {"integer", Kv(kvInteger, int32_t{-3}), -3.0},
          {"int64", Kv(kvInt64, int64_t{1} << 40), 1099511627776.0},
          {"currency", Kv(kvCurrency, int64_t{123400}), 12.34},
          {"8-byte buffer", Kv(kvBuffer, Bytes({0, 0, 0, 0, 0, 0, 0xF8, 0x3F})), 1.5},
          {"4-byte buffer", Kv(kvBuffer, Bytes({0, 0, 0xC0, 0x3F})), TCantRead{"float"}},
          {"date-time", Kv(kvDateTime, 1.5), TCantRead{"float"}},
          {"boolean", Kv(kvBoolean, int32_t{-1}), TCantRead{"float"}},
          {"point", Kv(kvPoint, TrsPoint{}), TCantRead{"float"}},
          {"pointer", Kv(kvPointer, Address(1)), TCantRead{"float"}},
      },
      [](TrsStorage& AStorage) { return AStorage.ReadFloat(kKey, -99); });
}

TEST(TypedValuesTest, ReadAsDateTime) {
  const double leapDay = EncodeDateTime(2024, 2, 29, 13, 45, 10, 0);
  CheckReads<double>(
      {
          {"unknown", Kv(kvUnknown), 0.0},
          {"date-time", Kv(kvDateTime, leapDay), leapDay},
          {"double", Kv(kvDouble, 1.5), 1.5},
          {"text", Kv(kvString, Text(DateTimeToText(leapDay))), leapDay},
          {"text that is no date", Kv(kvString, Text("soon")), TBadText{}},
          {"integer", Kv(kvInteger, int32_t{3}), 3.0},
          {"int64", Kv(kvInt64, int64_t{45000}), 45000.0},
          {"8-byte buffer", Kv(kvBuffer, Bytes({0, 0, 0, 0, 0, 0, 0xF8, 0x3F})), 1.5},
          {"2-byte buffer", Kv(kvBuffer, Bytes({0, 0})), TCantRead{"DateTime"}},
          {"currency", Kv(kvCurrency, int64_t{10000}), TCantRead{"DateTime"}},
          {"boolean", Kv(kvBoolean, int32_t{0}), TCantRead{"DateTime"}},
          {"point", Kv(kvPoint, TrsPoint{}), TCantRead{"DateTime"}},
          {"pointer", Kv(kvPointer, Address(1)), TCantRead{"DateTime"}},
      },
      [](TrsStorage& AStorage) { return AStorage.ReadDateTime(kKey, -99); });

  TrsStorage storage;
  storage.WriteFloat(kKey, 1.5);
  EXPECT_EQ(DecodeDateTime(storage.ReadDateTime(kKey, 0)), (TrsDateTimeParts{1899, 12, 31, 12, 0, 0, 0}));
}

TEST(TypedValuesTest, ReadAsCurrency) {
  CheckReads<TrsCurrency>(
      {
          {"unknown", Kv(kvUnknown), TrsCurrency{0}},
          {"currency", Kv(kvCurrency, int64_t{-5}), TrsCurrency{-5}},
          {"double 12.34", Kv(kvDouble, 12.34), TrsCurrency{123400}},
          {"double 0.00025: ties to even", Kv(kvDouble, 0.00025), TrsCurrency{2}},
          {"text", Kv(kvString, Text("12.34")), TrsCurrency{123400}},
          {"text that is no number", Kv(kvString, Text("12 EUR")), TBadText{}},
          {"integer", Kv(kvInteger, int32_t{3}), TrsCurrency{30000}},
          {"int64", Kv(kvInt64, int64_t{-2}), TrsCurrency{-20000}},
          {"8-byte buffer: the scaled integer", Kv(kvBuffer, Bytes({0x08, 0xE2, 0x01, 0, 0, 0, 0, 0})), TrsCurrency{123400}},
          {"4-byte buffer", Kv(kvBuffer, Bytes({1, 0, 0, 0})), TCantRead{"currency"}},
          {"date-time", Kv(kvDateTime, 1.0), TCantRead{"currency"}},
          {"boolean", Kv(kvBoolean, int32_t{-1}), TCantRead{"currency"}},
          {"point", Kv(kvPoint, TrsPoint{}), TCantRead{"currency"}},
          {"pointer", Kv(kvPointer, Address(1)), TCantRead{"currency"}},
      },
      [](TrsStorage& AStorage) { return AStorage.ReadCurrency(kKey, TrsCurrency{-99}); });
}

TEST(TypedValuesTest, ReadAsBoolean) {
  CheckReads<bool>(
      {
          {"unknown", Kv(kvUnknown), false},
          {"boolean -1", Kv(kvBoolean, int32_t{-1}), true},
          {"boolean 1", Kv(kvBoolean, int32_t{1}), true},
          {"boolean 0", Kv(kvBoolean, int32_t{0}), false},
          {"integer 2", Kv(kvInteger, int32_t{2}), true},
          {"integer 0", Kv(kvInteger, int32_t{0}), false},
          {"int64 whose low 32 bits are zero", Kv(kvInt64, int64_t{1} << 40), true},
          {"double 0.5", Kv(kvDouble, 0.5), true},
          {"double 0", Kv(kvDouble, 0.0), false},
          {"currency 0.0001", Kv(kvCurrency, int64_t{1}), true},
          {"text true", Kv(kvString, Text("true")), true},
          {"text FALSE", Kv(kvString, Text("FALSE")), false},
          {"text -1", Kv(kvString, Text("-1")), true},
          {"text 1", Kv(kvString, Text("1")), true},
          {"text 0", Kv(kvString, Text("0")), false},
          {"empty text", Kv(kvString, Text("")), false},
          {"text yes", Kv(kvString, Text("yes")), TCantRead{"boolean"}},
          {"text 2", Kv(kvString, Text("2")), TCantRead{"boolean"}},
          {"buffer", Kv(kvBuffer, Bytes({1})), TCantRead{"boolean"}},
          {"date-time", Kv(kvDateTime, 1.0), TCantRead{"boolean"}},
          {"point", Kv(kvPoint, TrsPoint{1, 1}), TCantRead{"boolean"}},
          {"pointer", Kv(kvPointer, Address(1)), TCantRead{"boolean"}},
      },
      [](TrsStorage& AStorage) { return AStorage.ReadBoolean(kKey, true); });
}

std::vector<uint8_t> CountingBytes(size_t ACount) {
  std::vector<uint8_t> bytes(ACount);
  for (size_t i = 0; i < ACount; ++i) bytes[i] = static_cast<uint8_t>(i);
  return bytes;
}

TEST(TypedValuesTest, ReadAsString) {
  CheckReads<std::string>(
      {
          {"unknown", Kv(kvUnknown), ""},
          {"text",
           Kv(kvString, Text("Gr\xC3\xBC\xC3\x9F"
                             "e")),
           "Gr\xC3\xBC\xC3\x9F"
           "e"},
          {"buffer", Kv(kvBuffer, Bytes({0x41, 0xB2})), "41,B2"},
          {"empty buffer", Kv(kvBuffer, Bytes({})), ""},
          {"30-byte buffer: two lines", Kv(kvBuffer, CountingBytes(30)),
           "00,01,02,03,04,05,06,07,08,09,0A,0B,0C,0D,0E,0F,10,11,12,13,14,15,16,17,18,19,\r\n1A,1B,1C,1D"},
          {"integer", Kv(kvInteger, int32_t{-250}), "-250"},
          {"pointer: its low 32 bits", Kv(kvPointer, Address(0x1'0000'0007)), "7"},
          {"pointer: low 32 bits all set", Kv(kvPointer, Address(0xFFFF'FFFF)), "-1"},
          {"double", Kv(kvDouble, 2.5), "2.5"},
          {"currency", Kv(kvCurrency, int64_t{123400}), "12.34"},
          {"date-time", Kv(kvDateTime, 1.5), DateTimeToText(1.5)},
          {"boolean -1", Kv(kvBoolean, int32_t{-1}), "True"},
          {"boolean 1", Kv(kvBoolean, int32_t{1}), "True"},
          {"boolean 0", Kv(kvBoolean, int32_t{0}), "False"},
          {"point", Kv(kvPoint, TrsPoint{10, -20}), "10,-20"},
          {"int64", Kv(kvInt64, int64_t{-9'000'000'000}), "-9000000000"},
          {"unknown kind code", Kv(11, int32_t{1}), TCantRead{"string"}},
      },
      [](TrsStorage& AStorage) { return AStorage.ReadString(kKey, "default"); });
}

// "1," followed by ASpaces spaces and ATail.
std::string PointText(size_t ASpaces, const char* ATail) {
  std::string text = "1,";
  text.append(ASpaces, ' ');
  text += ATail;
  return text;
}

TEST(TypedValuesTest, ReadAsPoint) {
  CheckReads<TrsPoint>(
      {
          {"unknown", Kv(kvUnknown), TrsPoint{0, 0}},
          {"point", Kv(kvPoint, TrsPoint{3, -4}), TrsPoint{3, -4}},
          {"text 10,20", Kv(kvString, Text("10,20")), TrsPoint{10, 20}},
          {"text a,b", Kv(kvString, Text("a,b")), TrsPoint{0, 0}},
          {"text with a bad Y", Kv(kvString, Text("10,x")), TrsPoint{10, 0}},
          {"text with a second comma", Kv(kvString, Text("10,20,30")), TrsPoint{10, 0}},
          {"only a comma", Kv(kvString, Text(",")), TrsPoint{0, 0}},
          {"Y within 255 characters", Kv(kvString, Text(PointText(254, "5x"))), TrsPoint{1, 5}},
          {"Y beyond 255 characters", Kv(kvString, Text(PointText(255, "5"))), TrsPoint{1, 0}},
          {"text 10", Kv(kvString, Text("10")), TCantRead{"point"}},
          {"empty text", Kv(kvString, Text("")), TCantRead{"point"}},
          {"integer", Kv(kvInteger, int32_t{1}), TCantRead{"point"}},
          {"buffer", Kv(kvBuffer, Bytes({1, 0, 0, 0, 2, 0, 0, 0})), TCantRead{"point"}},
      },
      [](TrsStorage& AStorage) { return AStorage.ReadPoint(kKey); });
}

TEST(TypedValuesTest, ReadAsPointer) {
  static const int target = 0;
  CheckReads<const void*>(
      {
          {"pointer", Kv(kvPointer, static_cast<const void*>(&target)), &target},
          {"integer", Kv(kvInteger, int32_t{0x1234}), Address(0x1234)},
          {"negative integer: zero-extended", Kv(kvInteger, int32_t{-1}), Address(0xFFFF'FFFF)},
          {"empty text", Kv(kvString, Text("")), nullptr},
          {"unknown", Kv(kvUnknown), TCantRead{"pointer"}},
          {"double", Kv(kvDouble, 1.0), TCantRead{"pointer"}},
          {"int64", Kv(kvInt64, int64_t{1}), TCantRead{"pointer"}},
          {"point", Kv(kvPoint, TrsPoint{}), TCantRead{"pointer"}},
      },
      [](TrsStorage& AStorage) { return AStorage.ReadPointer(kKey, Address(99)); });

  // A text or a buffer gives the address of its stored bytes.
  TrsStorage storage;
  storage.WriteString("\\Text", "abc");
  const void* text = storage.ReadPointer("\\Text", nullptr);
  EXPECT_EQ(text, std::get<std::string>(storage.FindKeyItem("\\Text", false)->Value.Value).data());
  const uint8_t bytes[] = {7, 8};
  storage.WriteBuffer("\\Bytes", bytes, 2);
  const void* buffer = storage.ReadPointer("\\Bytes", nullptr);
  ASSERT_NE(buffer, nullptr);
  EXPECT_NE(buffer, static_cast<const void*>(bytes));
  EXPECT_EQ(std::memcmp(buffer, bytes, 2), 0);
}

TEST(TypedValuesTest, ReadAsVariant) {
  CheckReads<TrsVariant>(
      {
          {"text", Kv(kvString, Text("\xCE\xA9")), TrsVariant::Text("\xCE\xA9")},
          {"buffer: an 8-bit string of its bytes", Kv(kvBuffer, Bytes({0x41, 0x00, 0xFF})),
           TrsVariant::AnsiText(std::string("A\0\xC3\xBF", 4))},
          {"integer", Kv(kvInteger, int32_t{-3}), TrsVariant::Integer(-3)},
          {"pointer: its low 32 bits", Kv(kvPointer, Address(0x1'0000'0007)), TrsVariant::Integer(7)},
          {"double", Kv(kvDouble, 0.1), TrsVariant::Double(0.1)},
          {"currency", Kv(kvCurrency, int64_t{5}), TrsVariant::Currency(TrsCurrency{5})},
          {"date-time", Kv(kvDateTime, 1.5), TrsVariant::Date(1.5)},
          {"boolean -1", Kv(kvBoolean, int32_t{-1}), TrsVariant::Boolean(true)},
          {"int64", Kv(kvInt64, int64_t{1} << 40), TrsVariant::Int64(int64_t{1} << 40)},
          {"unknown", Kv(kvUnknown), TrsVariant()},
          {"point", Kv(kvPoint, TrsPoint{1, 2}), TrsVariant()},
          {"unknown kind code", Kv(42, int32_t{1}), TrsVariant()},
      },
      [](TrsStorage& AStorage) { return AStorage.Values(kKey); });
}

TEST(TypedValuesTest, MissingKeysGiveDefaultsAndCreateNothing) {
  TrsStorage storage;
  storage.SectionAdd("\\Main");
  for (const char* key : {"\\Main\\Missing", "\\Gone\\Missing", "Missing"}) {
    SCOPED_TRACE(key);
    static const int target = 0;
    EXPECT_EQ(storage.ReadString(key, "def"), "def");
    EXPECT_EQ(storage.ReadText(key, "def"), "def");
    EXPECT_EQ(storage.ReadInteger(key, 7), 7);
    EXPECT_EQ(storage.ReadInt64(key, -7), -7);
    EXPECT_EQ(storage.ReadFloat(key, 1.25), 1.25);
    EXPECT_EQ(storage.ReadCurrency(key, TrsCurrency{3}), TrsCurrency{3});
    EXPECT_EQ(storage.ReadDateTime(key, 2.5), 2.5);
    EXPECT_TRUE(storage.ReadBoolean(key, true));
    EXPECT_EQ(storage.ReadPoint(key), (TrsPoint{0, 0}));
    EXPECT_EQ(storage.ReadPointer(key, &target), &target);
    uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(storage.ReadBuffer(key, buffer, 4), 0);
    EXPECT_THAT(buffer, ElementsAre(9, 9, 9, 9));
    std::ostringstream out;
    EXPECT_EQ(storage.ReadStream(key, out), 0);
    EXPECT_EQ(out.str(), "");
    std::vector<TrsVariant> values{TrsVariant::Integer(1)};
    EXPECT_EQ(storage.ReadArray(key, values), 0);
    EXPECT_EQ(values.size(), 1u);
    EXPECT_TRUE(storage.Values(key).IsEmpty());
    std::vector<std::string> strings{"stale"};
    EXPECT_FALSE(storage.ReadStrings(key, strings));
    EXPECT_TRUE(strings.empty());
  }
  EXPECT_EQ(storage.KeyItemCount(), 0);
  EXPECT_EQ(storage.SectionItemCount(), 1);
}

// --- writes ---------------------------------------------------------------------------------

TEST(TypedValuesTest, WritesStoreTheirKindAndCreateTheKeyOnce) {
  struct TCase {
    const char* Label;
    std::function<void(TrsStorage&, const char*)> Write;
    TrsKeyValue Expected;
  };
  static const int target = 0;
  const TCase cases[] = {
      {"WriteString", [](TrsStorage& S, const char* K) { S.WriteString(K, "x"); }, Kv(kvString, Text("x"))},
      {"WriteText", [](TrsStorage& S, const char* K) { S.WriteText(K, ""); }, Kv(kvString, Text(""))},
      {"WriteInteger", [](TrsStorage& S, const char* K) { S.WriteInteger(K, 250); }, Kv(kvInteger, int32_t{250})},
      {"WriteInt64", [](TrsStorage& S, const char* K) { S.WriteInt64(K, -1); }, Kv(kvInt64, int64_t{-1})},
      {"WriteFloat", [](TrsStorage& S, const char* K) { S.WriteFloat(K, 0.5); }, Kv(kvDouble, 0.5)},
      {"WriteCurrency", [](TrsStorage& S, const char* K) { S.WriteCurrency(K, TrsCurrency{7}); }, Kv(kvCurrency, int64_t{7})},
      {"WriteDateTime", [](TrsStorage& S, const char* K) { S.WriteDateTime(K, 2.25); }, Kv(kvDateTime, 2.25)},
      {"WriteBoolean true", [](TrsStorage& S, const char* K) { S.WriteBoolean(K, true); }, Kv(kvBoolean, int32_t{-1})},
      {"WriteBoolean false", [](TrsStorage& S, const char* K) { S.WriteBoolean(K, false); }, Kv(kvBoolean, int32_t{0})},
      {"WritePoint",
       [](TrsStorage& S, const char* K) {
         S.WritePoint(K, {3, 4});
       },
       Kv(kvPoint, TrsPoint{3, 4})},
      {"WritePointer", [](TrsStorage& S, const char* K) { S.WritePointer(K, &target); },
       Kv(kvPointer, static_cast<const void*>(&target))},
      {"WriteBuffer",
       [](TrsStorage& S, const char* K) {
         const uint8_t bytes[] = {1, 2, 3};
         S.WriteBuffer(K, bytes, 2);
       },
       Kv(kvBuffer, Bytes({1, 2}))},
      {"WriteBuffer of a negative count", [](TrsStorage& S, const char* K) { S.WriteBuffer(K, "ab", -1); },
       Kv(kvBuffer, Bytes({}))},
      {"WriteStream: the whole content, after it was read to its end",
       [](TrsStorage& S, const char* K) {
         std::istringstream in("abc");
         std::string skipped;
         in >> skipped;
         S.WriteStream(K, in);
       },
       Kv(kvBuffer, Bytes({'a', 'b', 'c'}))},
      {"WriteArray", [](TrsStorage& S, const char* K) { S.WriteArray(K, {}); }, Kv(kvBuffer, Bytes({0, 0, 0, 0}))},
      {"SetValues", [](TrsStorage& S, const char* K) { S.SetValues(K, TrsVariant::Integer(5)); }, Kv(kvInteger, int32_t{5})},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    TrsStorage storage;
    std::vector<std::string> added;
    storage.SetOnKeyAdd([&](TrsStorage*, const std::string& AKey) { added.push_back(AKey); });
    c.Write(storage, "\\New\\Key");
    EXPECT_THAT(added, ElementsAre("Key"));
    const TrsKeyItem* key = storage.FindKeyItem("\\New\\Key", false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->Value.kvType, c.Expected.kvType);
    EXPECT_EQ(key->Value.Value, c.Expected.Value);

    // Over a value of another kind: it is replaced whole, the options stay, no key is added.
    storage.FindKeyItem("\\New\\Key", false)->Value = TrsKeyValue{0x10, kvString, std::string("old")};
    c.Write(storage, "\\NEW\\key");
    EXPECT_EQ(added.size(), 1u);
    key = storage.FindKeyItem("\\New\\Key", false);
    EXPECT_EQ(key->Value.Options, 0x10);
    EXPECT_EQ(key->Value.kvType, c.Expected.kvType);
    EXPECT_EQ(key->Value.Value, c.Expected.Value);
  }
}

TEST(TypedValuesTest, WritesToAPathThatDoesNotResolveStoreNothing) {
  TrsStorage storage;
  storage.WriteInteger("A\\\\B\\C", 1);
  storage.SetValues("A\\\\B\\C", TrsVariant::Integer(1));
  storage.WriteArray("A\\\\B\\C", {TrsVariant::Int64(1)});  // not even refused: nothing to refuse for
  EXPECT_EQ(storage.KeyItemCount(), 0);
}

TEST(TypedValuesTest, ReadBufferAndStream) {
  TrsStorage storage;
  storage.WriteString("\\Text", "AB");
  EXPECT_EQ(storage.ReadBuffer("\\Text", nullptr, 0), 4) << "the size, for the caller to allocate";
  uint8_t buffer[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(storage.ReadBuffer("\\Text", buffer, -1), 4);
  EXPECT_THAT(buffer, ElementsAre(0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE)) << "a size request copies nothing";
  EXPECT_EQ(storage.ReadBuffer("\\Text", buffer, 3), 3);
  EXPECT_THAT(buffer, ElementsAre(0x41, 0x00, 0x42, 0xEE, 0xEE, 0xEE));
  EXPECT_EQ(storage.ReadBuffer("\\Text", buffer, 6), 4);
  EXPECT_THAT(buffer, ElementsAre(0x41, 0x00, 0x42, 0x00, 0xEE, 0xEE));

  // UTF-16LE code units, a surrogate pair for a character beyond the first plane.
  storage.WriteString("\\Wide", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");  // é € 😀
  uint8_t wide[8] = {};
  EXPECT_EQ(storage.ReadBuffer("\\Wide", wide, 8), 8);
  EXPECT_THAT(wide, ElementsAre(0xE9, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE));

  const uint8_t bytes[] = {1, 2, 3};
  storage.WriteBuffer("\\Bytes", bytes, 3);
  EXPECT_EQ(storage.ReadBuffer("\\Bytes", nullptr, 0), 3);
  std::ostringstream out;
  out << "at";
  EXPECT_EQ(storage.ReadStream("\\Bytes", out), 3);
  EXPECT_EQ(out.str(), std::string("at\x01\x02\x03"));
  EXPECT_EQ(storage.ReadStream("\\Text", out), 4);
  EXPECT_EQ(out.str(), std::string("at\x01\x02\x03"
                                   "A\0B\0",
                                   9));

  storage.WriteInteger("\\Number", 5);
  EXPECT_EQ(storage.ReadBuffer("\\Number", buffer, 6), 0);
  EXPECT_EQ(storage.ReadBuffer("\\Number", nullptr, 0), 0);
  EXPECT_EQ(storage.ReadStream("\\Number", out), 0);
}

// --- equality -------------------------------------------------------------------------------

TEST(TypedValuesTest, EqualValue) {
  struct TCase {
    const char* Label;
    TrsKeyValue A;
    TrsKeyValue B;
    bool Equal;
  };
  const double halfMillisecond = 0.5 / 86'400'000;
  const TCase cases[] = {
      {"buffers 41 42 and 41", Kv(kvBuffer, Bytes({0x41, 0x42})), Kv(kvBuffer, Bytes({0x41})), false},
      {"equal buffers", Kv(kvBuffer, Bytes({0x41, 0x42})), Kv(kvBuffer, Bytes({0x41, 0x42})), true},
      {"date-times 0.5 ms apart", Kv(kvDateTime, 45000.25), Kv(kvDateTime, 45000.25 + halfMillisecond), true},
      {"date-times 1.5 ms apart", Kv(kvDateTime, 45000.25), Kv(kvDateTime, 45000.25 + 3 * halfMillisecond), false},
      {"doubles 0.5 ms apart", Kv(kvDouble, 0.25), Kv(kvDouble, 0.25 + halfMillisecond), false},
      {"0 and -0", Kv(kvDouble, 0.0), Kv(kvDouble, -0.0), true},
      {"texts differing in case", Kv(kvString, Text("Main")), Kv(kvString, Text("MAIN")), false},
      {"equal texts", Kv(kvString, Text("Main")), Kv(kvString, Text("Main")), true},
      {"cleared text and empty text", Kv(kvString), Kv(kvString, Text("")), true},
      {"integers", Kv(kvInteger, int32_t{1}), Kv(kvInteger, int32_t{2}), false},
      {"int64 differing above 32 bits", Kv(kvInt64, int64_t{1}), Kv(kvInt64, (int64_t{1} << 32) + 1), false},
      {"currencies", Kv(kvCurrency, int64_t{5}), Kv(kvCurrency, int64_t{5}), true},
      {"pointers", Kv(kvPointer, Address(0x1'0000'0000)), Kv(kvPointer, Address(0)), false},
      {"booleans -1 and 1", Kv(kvBoolean, int32_t{-1}), Kv(kvBoolean, int32_t{1}), true},
      {"booleans 0 and 1", Kv(kvBoolean, int32_t{0}), Kv(kvBoolean, int32_t{1}), false},
      {"points", Kv(kvPoint, TrsPoint{1, 2}), Kv(kvPoint, TrsPoint{1, 3}), false},
      {"integer and int64 of one number", Kv(kvInteger, int32_t{1}), Kv(kvInt64, int64_t{1}), false},
      {"double and date-time of one number", Kv(kvDouble, 1.5), Kv(kvDateTime, 1.5), false},
      {"unknown kind code", Kv(42, int32_t{1}), Kv(42, int32_t{2}), true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    TrsStorage storage;
    storage.FindKeyItem(kKey, true)->Value = c.A;
    EXPECT_EQ(storage.KeyWrapper().EqualValue(c.B), c.Equal);
    storage.FindKeyItem(kKey, true)->Value = c.B;
    EXPECT_EQ(storage.KeyWrapper().EqualValue(c.A), c.Equal) << "the other way round";
  }
}

// --- Values[] -------------------------------------------------------------------------------

TEST(TypedValuesTest, VariantsAreStoredByTheirTypeCode) {
  struct TCase {
    const char* Label;
    TrsVariant Written;
    TrsKeyValue Expected;
  };
  const TCase cases[] = {
      {"empty", TrsVariant(), Kv(kvUnknown)},
      {"null", TrsVariant::Null(), Kv(kvUnknown)},
      {"smallint", TrsVariant(varSmallint, int64_t{-5}), Kv(kvInteger, int32_t{-5})},
      {"integer", TrsVariant::Integer(70000), Kv(kvInteger, int32_t{70000})},
      {"shortint", TrsVariant(varShortInt, int64_t{-100}), Kv(kvInteger, int32_t{-100})},
      {"byte", TrsVariant(varByte, int64_t{200}), Kv(kvInteger, int32_t{200})},
      {"word", TrsVariant(varWord, int64_t{60000}), Kv(kvInteger, int32_t{60000})},
      {"long word: its 32 bits", TrsVariant(varLongWord, int64_t{4'000'000'000}), Kv(kvInteger, int32_t{-294'967'296})},
      {"single", TrsVariant(varSingle, 1.5), Kv(kvDouble, 1.5)},
      {"double", TrsVariant::Double(0.1), Kv(kvDouble, 0.1)},
      {"currency", TrsVariant::Currency(TrsCurrency{123400}), Kv(kvCurrency, int64_t{123400})},
      {"date", TrsVariant::Date(1.5), Kv(kvDateTime, 1.5)},
      {"OLE string", TrsVariant(varOleStr, std::string("a")), Kv(kvString, Text("a"))},
      {"8-bit string", TrsVariant::AnsiText("b"), Kv(kvString, Text("b"))},
      {"UTF-16 string", TrsVariant::Text("\xCE\xA9"), Kv(kvString, Text("\xCE\xA9"))},
      {"boolean true: 1", TrsVariant::Boolean(true), Kv(kvBoolean, int32_t{1})},
      {"boolean false", TrsVariant::Boolean(false), Kv(kvBoolean, int32_t{0})},
      {"int64", TrsVariant::Int64(int64_t{1} << 40), Kv(kvInt64, int64_t{1} << 40)},
      {"unsigned 64-bit: no kind for it", TrsVariant(static_cast<TrsVarType>(21), int64_t{1}), Kv(kvUnknown)},
      {"array: no kind for it", TrsVariant(static_cast<TrsVarType>(0x2000), std::string("x")), Kv(kvUnknown)},
      {"integer code carrying a double", TrsVariant(varInteger, 2.5), Kv(kvInteger, int32_t{2})},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    TrsStorage storage;
    storage.WriteString(kKey, "old value");
    storage.SetValues(kKey, c.Written);
    const TrsKeyItem* key = storage.FindKeyItem(kKey, false);
    EXPECT_EQ(key->Value.kvType, c.Expected.kvType);
    EXPECT_EQ(key->Value.Value, c.Expected.Value);
  }
}

// --- variant arrays -------------------------------------------------------------------------

TEST(TypedValuesTest, VariantArraySerialisation) {
  TrsStorage storage;
  storage.WriteArray("\\Main\\List", {TrsVariant::Integer(1), TrsVariant::Text("\xC3\xA9"), TrsVariant::Boolean(true),
                                      TrsVariant::Text("\xCE\xA9")});
  const TrsKeyItem* key = storage.FindKeyItem("\\Main\\List", false);
  EXPECT_EQ(key->Value.kvType, kvBuffer);
  EXPECT_THAT(std::get<std::vector<uint8_t>>(key->Value.Value),
              ElementsAreArray<uint8_t>({
                  0x04, 0x00, 0x00, 0x00,                                      // 4 elements
                  0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,              // integer 1
                  0x02, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xE9,        // é: one 8-bit byte
                  0x0B, 0x00, 0x00, 0x00, 0x01,                                // true
                  0x02, 0x01, 0x00, 0x00, 0x02, 0x00, 0x00, 0x80, 0xA9, 0x03,  // Ω: 2 UTF-16 bytes, bit 31
              }));
}

TEST(TypedValuesTest, VariantArrayRoundTrip) {
  const std::vector<TrsVariant> written = {
      TrsVariant(varSmallint, int64_t{-2}),
      TrsVariant::Integer(-70000),
      TrsVariant(varSingle, 1.5),
      TrsVariant::Double(0.1),
      TrsVariant::Currency(TrsCurrency{-123400}),
      TrsVariant::Date(45000.75),
      TrsVariant(varOleStr, std::string("\xC3\xBF")),  // U+00FF: the last 8-bit character
      TrsVariant::AnsiText("abc"),
      TrsVariant::Text("\xC4\x80"),  // U+0100: the first that is not
      TrsVariant::Text("x\xE2\x82\xAC\xF0\x9F\x98\x80"),
      TrsVariant::Text(""),
      TrsVariant::Boolean(false),
      TrsVariant::Boolean(true),
      TrsVariant(varByte, int64_t{255}),
  };
  TrsStorage storage;
  storage.WriteArray("\\Main\\List", written);
  std::vector<TrsVariant> read{TrsVariant::Integer(99)};
  EXPECT_EQ(storage.ReadArray("\\Main\\List", read), static_cast<int32_t>(written.size()));
  EXPECT_EQ(read, written);
  EXPECT_EQ(storage.ReadBuffer("\\Main\\List", nullptr, 0), storage.ReadBuffer("\\Main\\List", nullptr, -5));
}

TEST(TypedValuesTest, VariantArrayOfAnUnsupportedElementIsRefused) {
  // Types the format does not hold, and values too wide for their element, which would be cut.
  for (const TrsVariant& element :
       {TrsVariant::Int64(1), TrsVariant(), TrsVariant::Null(), TrsVariant(varWord, int64_t{1}),
        TrsVariant(varSmallint, int64_t{70000}), TrsVariant(varByte, int64_t{300}), TrsVariant(varSingle, 1e300)}) {
    SCOPED_TRACE(element.VarType());
    TrsStorage storage;
    const uint8_t bytes[] = {1, 2};
    storage.WriteBuffer("\\Main\\List", bytes, 2);
    try {
      storage.WriteArray("\\Main\\List", {TrsVariant::Integer(1), element});
      ADD_FAILURE() << "written";
    } catch (const TrsException& AError) {
      EXPECT_STREQ(AError.what(), "TrsStorage set key value error: Can't write value of key \"\\Main\\List\" as array type.");
    }
    EXPECT_EQ(storage.FindKeyItem("\\Main\\List", false)->Value.Value, Bytes({1, 2})) << "the old value stays";

    EXPECT_THROW(storage.WriteArray("\\Main\\New", {element}), TrsException);
    const TrsKeyItem* created = storage.FindKeyItem("\\Main\\New", false);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->Value.kvType, kvUnknown);
  }
}

TEST(TypedValuesTest, ReadArrayOfOtherValues) {
  struct TCase {
    const char* Label;
    TrsKeyValue Stored;
    bool Refused;  // else: no elements, the list untouched
  };
  const TCase cases[] = {
      {"empty buffer", Kv(kvBuffer, Bytes({})), false},
      {"text", Kv(kvString, Text("abcd")), false},
      {"integer", Kv(kvInteger, int32_t{0}), false},
      {"truncated element", Kv(kvBuffer, Bytes({1, 0, 0, 0, 3, 0, 0, 0, 1, 0})), true},
      {"fewer elements than counted", Kv(kvBuffer, Bytes({2, 0, 0, 0, 17, 0, 0, 0, 1})), true},
      {"element type the format does not hold", Kv(kvBuffer, Bytes({1, 0, 0, 0, 20, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0})), true},
      {"negative count", Kv(kvBuffer, Bytes({0xFF, 0xFF, 0xFF, 0xFF})), true},
      {"text longer than the buffer", Kv(kvBuffer, Bytes({1, 0, 0, 0, 8, 0, 0, 0, 9, 0, 0, 0, 0x41})), true},
      {"odd UTF-16 byte count", Kv(kvBuffer, Bytes({1, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0x80, 0x41})), true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    TrsStorage storage;
    storage.FindKeyItem(kKey, true)->Value = c.Stored;
    std::vector<TrsVariant> values{TrsVariant::Integer(99)};
    if (c.Refused) {
      try {
        storage.ReadArray(kKey, values);
        ADD_FAILURE() << "read";
      } catch (const TrsException& AError) {
        EXPECT_EQ(AError.what(), CantReadMessage("array"));
      }
    } else {
      EXPECT_EQ(storage.ReadArray(kKey, values), 0);
    }
    EXPECT_THAT(values, ElementsAre(TrsVariant::Integer(99)));
  }
  TrsStorage storage;
  storage.WriteArray(kKey, {});
  std::vector<TrsVariant> values{TrsVariant::Integer(99)};
  EXPECT_EQ(storage.ReadArray(kKey, values), 0);
  EXPECT_TRUE(values.empty()) << "an array of no elements is still an array";
}

// --- string lists and section values --------------------------------------------------------

// Names of the keys of the section at APath ("" for the top).
std::vector<std::string> KeysOf(const TrsStorage& AStorage, const std::string& APath) {
  std::vector<std::string> names;
  for (int i = 0; i < AStorage.KeyItemCount(); ++i) {
    const TrsKeyItem& key = AStorage.KeyItem(i);
    if (AStorage.SectionFullPath(AStorage.SectionIndexOfId(key.SectionId)) == APath) names.push_back(key.Name);
  }
  return names;
}

TEST(TypedValuesTest, WriteStringsReplacesTheWholeList) {
  TrsStorage storage;
  storage.SetRootSection("Work");
  storage.WriteString("\\Recent\\Files", "a key named like the list");
  storage.WriteStrings("\\Recent\\Files", {"a", "b", "c", "d", "e"});
  storage.WriteString("\\Recent\\FILES.ITEM8", "an item past a gap, in other letter case");
  storage.WriteString("\\Recent\\Files.Item07", "no index: a leading zero");
  storage.WriteString("\\Recent\\Other", "kept");
  storage.WriteString("\\Elsewhere\\Files.Item4", "another section's");
  storage.WriteString("Files.Item4", "the current section's");

  storage.WriteStrings("\\Recent\\Files", {"x", "y", "z"});
  EXPECT_THAT(KeysOf(storage, "Recent"),
              UnorderedElementsAre("Files.Item0", "Files.Item1", "Files.Item2", "Files.Item07", "Other"));
  EXPECT_THAT(KeysOf(storage, "Elsewhere"), ElementsAre("Files.Item4"));
  EXPECT_THAT(KeysOf(storage, "Work"), ElementsAre("Files.Item4"));
  EXPECT_EQ(storage.RootSection(), "Work");
  EXPECT_EQ(storage.SectionFullPath(storage.CurrentSectionIndex()), "Work");

  std::vector<std::string> strings{"stale"};
  EXPECT_TRUE(storage.ReadStrings("/recent/files", strings));
  EXPECT_THAT(strings, ElementsAre("x", "y", "z"));
  EXPECT_EQ(storage.RootSection(), "Work");
  EXPECT_EQ(storage.SectionFullPath(storage.CurrentSectionIndex()), "Work");

  // Relative to the current section, like any key path.
  storage.SetRootSection("Recent");
  EXPECT_TRUE(storage.ReadStrings("Files", strings));
  EXPECT_THAT(strings, ElementsAre("x", "y", "z"));
  storage.WriteStrings("Files", {});
  EXPECT_FALSE(storage.ReadStrings("Files", strings));
  EXPECT_TRUE(strings.empty());
  EXPECT_THAT(KeysOf(storage, "Recent"), UnorderedElementsAre("Files.Item07", "Other"));

  // Items are read up to the first missing index; their values as text.
  storage.WriteInteger("\\Nums\\N.Item0", 5);
  storage.WriteBoolean("\\Nums\\N.Item1", true);
  storage.WriteInteger("\\Nums\\N.Item3", 7);
  EXPECT_TRUE(storage.ReadStrings("\\Nums\\N", strings));
  EXPECT_THAT(strings, ElementsAre("5", "True"));

  storage.WriteStrings("\\Fresh\\List", {});
  EXPECT_TRUE(storage.SectionExist("\\Fresh")) << "the list's section is created like a key's";
}

TEST(TypedValuesTest, SectionValuesListsTheCurrentSection) {
  TrsStorage storage;
  storage.WriteInteger("\\Top", 1);
  storage.SetRootSection("Main");
  storage.WriteInteger("Width", 250);
  storage.WriteString("Title", "a=b\\c");
  storage.WriteBoolean("On", true);
  storage.WritePoint("Pos", {1, 2});
  storage.WriteInteger("Sub\\Deep", 1);
  storage.WriteInteger("\\Other\\X", 1);
  std::vector<std::string> lines{"stale"};
  storage.SectionValues(lines);
  EXPECT_THAT(lines, ElementsAre("On=True", "Pos=1,2", "Title=a=b\\c", "Width=250"));
  storage.SetRootSection("");
  storage.SectionValues(lines);
  EXPECT_THAT(lines, ElementsAre("Top=1"));
}

// --- the key wrapper ------------------------------------------------------------------------

TEST(TypedValuesTest, KeyWrapperWorksOnTheLastKeyResolved) {
  TrsStorage storage;
  storage.WriteInteger("\\Main\\DetailsWidth", 250);
  storage.WriteString("\\Main\\Name", "250");
  EXPECT_EQ(storage.ReadString("\\Main\\DetailsWidth", ""), "250");
  TrsKeyWrapper& key = storage.KeyWrapper();
  EXPECT_EQ(key.Name(), "DetailsWidth");
  EXPECT_EQ(key.AsInteger(), 250);
  key.SetAsString("12.5");
  EXPECT_EQ(storage.ReadFloat("\\Main\\DetailsWidth", 0), 12.5);
  EXPECT_EQ(storage.ReadInteger("\\Main\\Name", 0), 250);
  EXPECT_EQ(key.Name(), "Name");

  TrsKeyValue copy;
  storage.SetKeyOptions("\\Main\\Name", 0x21);
  storage.FindKeyItem("\\Main\\Name", false);
  key.AssignValueTo(copy);
  EXPECT_EQ(copy.Options, 0x21);
  EXPECT_EQ(copy.kvType, kvString);
  EXPECT_TRUE(key.EqualValue(copy));

  storage.FindKeyItem("\\Main\\DetailsWidth", false);
  key.AssignValue(copy);
  EXPECT_EQ(storage.GetKeyOptions("\\Main\\DetailsWidth"), 0x21);
  EXPECT_EQ(storage.ReadString("\\Main\\DetailsWidth", ""), "250");
  key.Clear();
  EXPECT_EQ(key.KeyType(), kvString) << "the kind stays";
  EXPECT_EQ(key.AsString(), "");

  TrsStorage empty;  // a wrapper on no key reads as an unknown value and ignores writes
  EXPECT_EQ(empty.KeyWrapper().AsInteger(), 0);
  EXPECT_EQ(empty.KeyWrapper().AsPointer(), nullptr);
  EXPECT_TRUE(empty.KeyWrapper().AsVariant().IsEmpty());
  empty.KeyWrapper().SetAsInteger(1);
  empty.KeyWrapper().SetAsArray({TrsVariant::Int64(1)});
  EXPECT_EQ(empty.KeyItemCount(), 0);
}

TEST(TypedValuesTest, EightBitStringsOfBuffersKeepTheirBytes) {
  // A buffer read as a variant is an 8-bit string; written back as text or into an array it
  // keeps every byte's character (Latin-1), never a replacement character.
  TrsStorage storage;
  const uint8_t bytes[] = {0x41, 0x80, 0xFF};
  storage.WriteBuffer("\\B", bytes, 3);
  storage.SetValues("\\T", storage.Values("\\B"));
  uint8_t units[6] = {};
  ASSERT_EQ(storage.ReadBuffer("\\T", units, 6), 6);
  EXPECT_EQ(std::vector<uint8_t>(units, units + 6), (std::vector<uint8_t>{0x41, 0x00, 0x80, 0x00, 0xFF, 0x00}));
  storage.WriteArray("\\A", {storage.Values("\\B")});
  std::vector<TrsVariant> read;
  ASSERT_EQ(storage.ReadArray("\\A", read), 1);
  EXPECT_EQ(read[0], storage.Values("\\B"));
}

TEST(TypedValuesTest, WriteStringsWithAKeysOwnNameAsItsPath) {
  TrsStorage storage;
  storage.SetRootSection("Recent");
  const std::string name = "AListNameLongerThanTheShortStringBuffer";
  storage.WriteStrings(name, {"a", "b", "c", "d"});
  storage.WriteString(name, "the key named exactly so");
  storage.WriteStrings(storage.KeyWrapper().Name(), {"x"});
  std::vector<std::string> keys;
  storage.KeyList(keys);
  EXPECT_EQ(keys, std::vector<std::string>{name + ".Item0"});
  EXPECT_EQ(storage.SectionItemCount(), 1) << "no section made of a dangling name";
}

}  // namespace
}  // namespace velloran
