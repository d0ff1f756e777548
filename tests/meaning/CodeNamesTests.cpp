#include <gtest/gtest.h>

#include <string_view>

#include "CodeNames.h"
#include "ValueText.h"

namespace velloran {
namespace {

struct TNameCase {
  std::string_view Attribute;
  std::string_view Raw;
  std::string_view Name;  // empty: shown as its number
};

TEST(CodeNamesTest, NamesKnownValuesAndNoOthers) {
  const TNameCase cases[] = {
      {"Packet-Type", "3", "Access-Reject"},
      {"packet-type", "11", "Access-Challenge"},  // tag names ignore ASCII case
      {"Reason-Code", "16", "Credentials mismatch: unknown user name or wrong password"},
      {"Reason-Code", "0", "Authenticated and authorized successfully"},
      {"NAS-Port-Type", "19", "Wireless - IEEE 802.11"},
      {"Packet-Type", "99", ""},          // unknown value
      {"User-Name", "1", ""},             // not a coded attribute
      {"Reason-Code", "", ""},            // empty
      {"Reason-Code", "16x", ""},         // not a number
      {"Reason-Code", "-16", ""},         // not a code
      {"Reason-Code", " 16", ""},         // the log writes digits only
      {"Reason-Code", "4294967312", ""},  // past 32 bits: 2^32 + 16 must not wrap to 16
      {"Reason-Code", "99999999999999999999999", ""},
      {"Packet-Type", "0003", "Access-Reject"},
  };
  for (const TNameCase& c : cases) {
    SCOPED_TRACE(std::string(c.Attribute) + "=" + std::string(c.Raw));
    EXPECT_EQ(TCodedAttribute::Of(c.Attribute).NameOfText(c.Raw), c.Name);
  }
}

TEST(CodeNamesTest, EveryAttributeOfTheTableIsFoundWithItsFirstAndLastValue) {
  // Guards the compile-time sort: a lookup must find the ends of each attribute's run.
  EXPECT_EQ(CodeName("Packet-Type", 1), "Access-Request");
  EXPECT_EQ(CodeName("Packet-Type", 45), "CoA-NAK");
  EXPECT_FALSE(TCodedAttribute::Of("Packet-Typ").HasNames());
  EXPECT_FALSE(TCodedAttribute::Of("Packet-Type-").HasNames());
  EXPECT_TRUE(TCodedAttribute::Of("Client-Vendor").HasNames());
  EXPECT_TRUE(TCodedAttribute::Of("Acct-Status-Type").HasNames());
  EXPECT_FALSE(TCodedAttribute().HasNames());
  EXPECT_EQ(TCodedAttribute().NameOf(1), "");
}

TEST(ValueTextTest, CellsShowNamesAndDetailsNameAndNumber) {
  const struct {
    std::string_view Attribute;
    std::string_view Raw;
    std::string_view Cell;
    std::string_view Detail;
  } cases[] = {
      {"Packet-Type", "3", "Access-Reject", "Access-Reject (3)"},
      {"Reason-Code", "16", "Credentials mismatch: unknown user name or wrong password",
       "16 \xE2\x80\x94 Credentials mismatch: unknown user name or wrong password"},
      {"Reason-Code", "4294967312", "4294967312", "4294967312"},  // no name: the number as written
      {"Reason-Code", "&#49;6", "16", "16"},                      // not digits as stored: shown decoded, never named
      {"NP-Policy-Name", "VPN Users &amp; Contractors", "VPN Users & Contractors", "VPN Users & Contractors"},
      {"User-Name", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Attribute) + "=" + std::string(c.Raw));
    std::string cell;
    AppendCellText(TCodedAttribute::Of(c.Attribute), c.Raw, cell);
    EXPECT_EQ(cell, c.Cell);
    EXPECT_EQ(DetailText(c.Attribute, c.Raw), c.Detail);
  }
}

}  // namespace
}  // namespace velloran
