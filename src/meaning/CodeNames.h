// Names of the coded integer values of the log (Packet-Type 3 is "Access-Reject", Reason-Code
// 16 "Credentials mismatch: …"), compiled in from data/radius-codes.tsv. Every lookup is a
// binary search in a constant table: no allocation, no lock, safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace velloran {

// A coded attribute's place in the table, found once (per column, say) and then used for
// every value. Attribute names compare ignoring ASCII case, as the log's tag names do.
class TCodedAttribute {
 public:
  // No names: every value shows as its number.
  TCodedAttribute() = default;
  static TCodedAttribute Of(std::string_view AAttribute);

  bool HasNames() const { return FFirst < FEnd; }
  // The name of AValue; empty for a value the table does not name.
  std::string_view NameOf(uint32_t AValue) const;
  // The name of a value as the log writes it (decimal digits only); empty for an unnamed
  // value and for text that is not a number of at most 32 bits.
  std::string_view NameOfText(std::string_view ARawValue) const;
  // Every named value with its name, in value order.
  std::vector<std::pair<uint32_t, std::string_view>> Names() const;
  // The values whose name equals AName ignoring ASCII case (usually one, none for no name).
  std::vector<uint32_t> ValuesNamed(std::string_view AName) const;

 private:
  TCodedAttribute(uint32_t AFirst, uint32_t AEnd) : FFirst(AFirst), FEnd(AEnd) {}
  uint32_t FFirst = 0;  // [FFirst, FEnd) in the sorted table
  uint32_t FEnd = 0;
};

// The attributes that have names, each once, in the table's order (ignoring case).
std::vector<std::string_view> CodedAttributeNames();

// The value of a coded field as the log writes it: decimal digits only, at most 32 bits.
std::optional<uint32_t> CodeNumber(std::string_view ARawValue);

// One-shot lookup: empty for an unknown attribute or value.
inline std::string_view CodeName(std::string_view AAttribute, uint32_t AValue) {
  return TCodedAttribute::Of(AAttribute).NameOf(AValue);
}

// Packet-Type values that the exchange and the list treat specially.
enum TPacketType : uint32_t {
  ptAccessRequest = 1,
  ptAccessAccept = 2,
  ptAccessReject = 3,
  ptAccountingRequest = 4,
  ptAccessChallenge = 11,
};

// Access-Accept, Access-Reject and Access-Challenge: the server's answers, which carry no
// user name, station or access point of their own.
constexpr bool IsReplyPacketType(uint32_t AType) {
  return AType == ptAccessAccept || AType == ptAccessReject || AType == ptAccessChallenge;
}

}  // namespace velloran
