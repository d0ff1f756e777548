// velloran-genlog: writes a synthetic accounting log of a network policy (RADIUS) server in its
// XML form: one <Event> element per line, CR LF line ends, UTF-8, no declaration, no root.
// It feeds the tests, the benchmarks and the bundled sample, so two rules hold throughout:
//
//  * Same options, same bytes, on any machine. Every random choice comes from
//    std::mt19937_64 (whose output the C++ standard fixes) scaled by our own modulo and
//    53-bit fractions, never from the standard distributions, whose results differ between
//    standard libraries. Only +, *, / and < on doubles are used, no libm.
//  * The oddities (BOM, empty lines, hex lines, long lines, split line breaks) draw from an
//    engine of their own, so switching one on leaves the ordinary records as they were,
//    except where an oddity itself rewrites or adds a line.
//
// With --concurrency N, N sessions are in flight at once: each of N slots runs exchanges one
// after another as the single stream does, and their records are merged in Timestamp order.
// N = 1 is the single stream itself, byte for byte.
//
// Exit codes follow the velloran command: 1 for an error (named on standard error), 2 for
// bad usage.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

constexpr std::uint64_t kMiB = 1048576;
// A record only crosses a 1 MiB boundary in the padded way when at least this much room is
// left before the boundary: a filler record cannot be made shorter than about 600 bytes.
constexpr std::uint64_t kSplitMinRoom = 700;
// Fillers of natural length go first while more than this would remain for the padded one,
// so the padded filler never needs more than a couple of KB of spaces.
constexpr std::uint64_t kSplitNaturalSlack = 1800;
// Long lines land between these lengths (40 to 70 KiB), well past 32,767 bytes.
constexpr std::uint64_t kLongLineMin = 40 * 1024;
constexpr std::uint64_t kLongLineMax = 70 * 1024;
// Line buffers go back to a shared pool once written; ones grown past this (long lines) are
// freed instead, so that with many exchanges in flight the pool does not fill with 70 KiB
// buffers holding 1 KiB records.
constexpr std::size_t kSpareCapacity = 16 * 1024;
constexpr std::uint32_t kMaxConcurrency = 100000;
// --users accounts are numbered from 0 and their Calling-Station-Id holds the number in four
// bytes, so this many at most keep every account's station its own.
constexpr std::uint64_t kMaxUsers = std::uint64_t{1} << 32;

// ---------------------------------------------------------------------------------------------
// Randomness

class TRandom {
 public:
  explicit TRandom(std::uint64_t ASeed) : FEngine(ASeed) {}

  std::uint64_t Next() { return FEngine(); }
  // Plain modulo: for the small ranges used here the bias is far below anything visible,
  // and unlike std::uniform_int_distribution it is the same in every standard library.
  std::uint64_t Below(std::uint64_t AN) { return AN == 0 ? 0 : FEngine() % AN; }
  std::uint64_t Range(std::uint64_t ALow, std::uint64_t AHigh) { return ALow + Below(AHigh - ALow + 1); }
  std::uint32_t Range32(std::uint32_t ALow, std::uint32_t AHigh) { return static_cast<std::uint32_t>(Range(ALow, AHigh)); }
  // A fraction in [0, 1) from the top 53 bits; exact in IEEE double everywhere.
  double Unit() { return static_cast<double>(FEngine() >> 11) * 0x1.0p-53; }
  // Draws nothing for a zero probability, so an oddity left off leaves the stream untouched.
  bool Chance(double AP) { return AP > 0.0 && Unit() < AP; }
  template <class T>
  std::size_t Index(const T& AContainer) {
    return static_cast<std::size_t>(Below(AContainer.size()));
  }
  // Index into AWeights, each chosen in proportion to its weight; the sum must be positive.
  template <class T>
  std::size_t Weighted(const T& AWeights) {
    std::uint64_t total = 0;
    for (const auto w : AWeights) total += w;
    std::uint64_t r = Below(total);
    for (std::size_t i = 0; i < AWeights.size(); ++i) {
      if (r < AWeights[i]) return i;
      r -= AWeights[i];
    }
    return AWeights.size() - 1;
  }

 private:
  std::mt19937_64 FEngine;
};

// ---------------------------------------------------------------------------------------------
// Text helpers. Everything appends to a reused std::string, so the hot loop does not allocate
// once the buffers have grown.

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendUInt(std::string& AOut, std::uint64_t AValue) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, AValue);
  AOut.append(buf, static_cast<std::size_t>(res.ptr - buf));
}

void Append2(std::string& AOut, std::int64_t AValue) {
  AOut += static_cast<char>('0' + AValue / 10);
  AOut += static_cast<char>('0' + AValue % 10);
}

void AppendHexBytes(std::string& AOut, std::string_view ABytes) {
  for (const char c : ABytes) {
    const auto b = static_cast<unsigned char>(c);
    AOut += kHexDigits[b >> 4];
    AOut += kHexDigits[b & 0x0F];
  }
}

void AppendRandomHex(std::string& AOut, TRandom& ARandom, std::size_t AByteCount) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < AByteCount; ++i) {
    if (i % 8 == 0) bits = ARandom.Next();
    const auto b = static_cast<unsigned>(bits & 0xFF);
    bits >>= 8;
    AOut += kHexDigits[b >> 4];
    AOut += kHexDigits[b & 0x0F];
  }
}

void AppendIPv4(std::string& AOut, std::uint32_t AAddress) {
  AppendUInt(AOut, AAddress >> 24);
  AOut += '.';
  AppendUInt(AOut, (AAddress >> 16) & 0xFF);
  AOut += '.';
  AppendUInt(AOut, (AAddress >> 8) & 0xFF);
  AOut += '.';
  AppendUInt(AOut, AAddress & 0xFF);
}

std::string MacText(std::uint64_t AMac, char ASeparator, bool AUpper) {
  const char* digits = AUpper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (int i = 5; i >= 0; --i) {
    const auto b = static_cast<unsigned>((AMac >> (8 * i)) & 0xFF);
    out += digits[b >> 4];
    out += digits[b & 0x0F];
    if (i > 0 && ASeparator != '\0') out += ASeparator;
  }
  return out;
}

// Local time of the server, in milliseconds since 1970-01-01 00:00 of the same clock; no time
// zone is involved, the log simply records wall-clock time.
std::int64_t DaysFromCivil(std::int64_t AYear, std::int64_t AMonth, std::int64_t ADay) {
  AYear -= AMonth <= 2 ? 1 : 0;
  const std::int64_t era = (AYear >= 0 ? AYear : AYear - 399) / 400;
  const std::int64_t yoe = AYear - era * 400;
  const std::int64_t doy = (153 * (AMonth + (AMonth > 2 ? -3 : 9)) + 2) / 5 + ADay - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct TCivilDate {
  std::int64_t Year;
  std::int64_t Month;
  std::int64_t Day;
};

TCivilDate CivilFromDays(std::int64_t ADays) {
  const std::int64_t z = ADays + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// MM/DD/YYYY HH:MM:SS, with .mmm when AWithMillis: the server writes Timestamp with
// milliseconds and date-time attributes (Event-Timestamp) without.
void AppendDateTime(std::string& AOut, std::int64_t AMillis, bool AWithMillis) {
  const std::int64_t msOfDay = AMillis % 86400000;
  const TCivilDate date = CivilFromDays(AMillis / 86400000);
  Append2(AOut, date.Month);
  AOut += '/';
  Append2(AOut, date.Day);
  AOut += '/';
  Append2(AOut, date.Year / 100);
  Append2(AOut, date.Year % 100);
  AOut += ' ';
  Append2(AOut, msOfDay / 3600000);
  AOut += ':';
  Append2(AOut, msOfDay / 60000 % 60);
  AOut += ':';
  Append2(AOut, msOfDay / 1000 % 60);
  if (AWithMillis) {
    const std::int64_t ms = msOfDay % 1000;
    AOut += '.';
    AOut += static_cast<char>('0' + ms / 100);
    Append2(AOut, ms % 100);
  }
}

// YYYY-MM-DDTHH:MM:SS of ASeconds (not negative) on the same clock, for the tally.
void AppendIsoDateTime(std::string& AOut, std::int64_t ASeconds) {
  const std::int64_t secondOfDay = ASeconds % 86400;
  const TCivilDate date = CivilFromDays(ASeconds / 86400);
  Append2(AOut, date.Year / 100);
  Append2(AOut, date.Year % 100);
  AOut += '-';
  Append2(AOut, date.Month);
  AOut += '-';
  Append2(AOut, date.Day);
  AOut += 'T';
  Append2(AOut, secondOfDay / 3600);
  AOut += ':';
  Append2(AOut, secondOfDay / 60 % 60);
  AOut += ':';
  Append2(AOut, secondOfDay % 60);
}

// XML text as what it stands for. The generator escapes with the predefined entities alone
// (&amp; in names), so any other reference is a fault of its own.
void AppendDecodedXml(std::string& AOut, std::string_view AText) {
  constexpr std::array<std::pair<std::string_view, char>, 5> kEntities = {
      {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}}};
  while (!AText.empty()) {
    const std::size_t amp = AText.find('&');
    AOut.append(AText.substr(0, amp));
    if (amp == std::string_view::npos) return;
    AText.remove_prefix(amp);
    const auto entity =
        std::find_if(kEntities.begin(), kEntities.end(), [&](const auto& e) { return AText.starts_with(e.first); });
    if (entity == kEntities.end()) throw std::logic_error("unexpected reference in " + std::string(AText));
    AOut += entity->second;
    AText.remove_prefix(entity->first.size());
  }
}

// ---------------------------------------------------------------------------------------------
// Elements. Each child is <Name data_type="N">value</Name>: 0 integer, 1 string, 2 octets as
// upper-case hex, 3 dotted IPv4, 4 date-time. Values given here are already XML-escaped.

void OpenTag(std::string& AOut, std::string_view AName, char AType) {
  AOut += '<';
  AOut.append(AName);
  AOut.append(" data_type=\"");
  AOut += AType;
  AOut.append("\">");
}

void CloseTag(std::string& AOut, std::string_view AName) {
  AOut.append("</");
  AOut.append(AName);
  AOut += '>';
}

// An element whose value is written as given.
void TextElement(std::string& AOut, std::string_view AName, char AType, std::string_view AValue) {
  OpenTag(AOut, AName, AType);
  AOut.append(AValue);
  CloseTag(AOut, AName);
}

void Str(std::string& AOut, std::string_view AName, std::string_view AValue) { TextElement(AOut, AName, '1', AValue); }

void Int(std::string& AOut, std::string_view AName, std::uint64_t AValue) {
  OpenTag(AOut, AName, '0');
  AppendUInt(AOut, AValue);
  CloseTag(AOut, AName);
}

void Ip(std::string& AOut, std::string_view AName, std::string_view AAddress) { TextElement(AOut, AName, '3', AAddress); }

void Octets(std::string& AOut, std::string_view AName, std::string_view ABytes) {
  OpenTag(AOut, AName, '2');
  AppendHexBytes(AOut, ABytes);
  CloseTag(AOut, AName);
}

void OctetsHex(std::string& AOut, std::string_view AName, std::string_view AHex) { TextElement(AOut, AName, '2', AHex); }

void DateTime(std::string& AOut, std::string_view AName, std::int64_t AMillis) {
  OpenTag(AOut, AName, '4');
  AppendDateTime(AOut, AMillis, false);
  CloseTag(AOut, AName);
}

// ---------------------------------------------------------------------------------------------
// The simulated site: one policy server, its RADIUS clients (access points, switches, a VPN
// gateway), their policies, and the people and devices that log on.

// The server's name (Computer-Name); --server names another, so that several servers' logs
// can be written. Set once, before anything is generated.
std::string_view ServerName = "NPS-HQ-01";
constexpr std::string_view kServerIp = "10.10.1.20";

enum class TMedium { Wireless, Wired, Mab, Vpn };

struct TNas {
  std::string_view Ip;
  std::string_view Identifier;
  std::string_view FriendlyName;  // Client-Friendly-Name, as configured on the server
  std::uint32_t Vendor;           // Client-Vendor: 0 RADIUS Standard, 9 Cisco, 14823 Aruba
  TMedium Medium;
  std::string_view CalledStation;
  bool HexSessionId;  // some clients' Acct-Session-Id is logged as octets
  std::string_view ProxyPolicy;
  std::string_view Policy;
  std::uint32_t AuthType;  // 1 PAP, 4 MS-CHAP v2, 5 EAP, 11 PEAP
  std::string_view EapName;
  std::uint32_t Vlan;
  std::uint32_t Weight;
};

// Policy and client names carry non-ASCII text and an escaped ampersand on purpose; "Wi‑Fi"
// is written with U+2011 (non-breaking hyphen), as such names get typed in real consoles.
constexpr std::array<TNas, 7> kNases = {{
    {"10.20.0.10", "WLC-HQ-01", "WLC Zentrale", 9, TMedium::Wireless, "00-1A-1E-00-11-22:CORP-WIFI", false,
     "Secure Wireless Connections", "Secure Wireless Connections", 11, "Microsoft: Secured password (EAP-MSCHAP v2)", 120, 30},
    {"10.20.0.11", "aruba-mc-02", "Contrôleur Wi‑Fi Lyon", 14823, TMedium::Wireless, "24-DE-C6-4A-10-F0:CORP-WIFI", true,
     "Use Windows authentication for all users", "Política Wi‑Fi", 11, "Microsoft: Secured password (EAP-MSCHAP v2)", 130, 20},
    {"10.20.5.22", "AP-Buero-2OG", "Zugangspunkt Büro 2", 0, TMedium::Wireless, "F0-9F-C2-77-01-A3:CORP-WIFI", true,
     "Use Windows authentication for all users", "Richtlinie für WLAN", 11, "Microsoft: Secured password (EAP-MSCHAP v2)", 140,
     10},
    {"10.30.1.3", "SW-CORE-3F", "Switch Core 3F", 9, TMedium::Wired, "00-1B-2C-3D-4E-5F", false, "Wired connections",
     "Wired 802.1X – Corp", 5, "Microsoft: Smart Card or other certificate", 200, 15},
    {"10.30.1.7", "SW-ACC-07", "Access switch 7 (Lager)", 9, TMedium::Mab, "00-1B-2C-3D-4E-07", false, "Wired connections",
     "MAC Authentication Bypass", 1, "", 30, 8},
    {"10.40.0.2", "VPN-GW-01", "VPN-Gateway Frankfurt", 0, TMedium::Vpn, "198.51.100.10", false,
     "Use Windows authentication for all users", "VPN Users &amp; Contractors", 4, "", 0, 10},
    {"10.20.0.12", "WLC-BR-02", "WLC Branch Madrid", 9, TMedium::Wireless, "00-1A-1E-00-33-44:CORP-WIFI", false,
     "Secure Wireless Connections", "Política Wi‑Fi", 11, "Microsoft: Secured password (EAP-MSCHAP v2)", 150, 7},
}};

struct TPersonName {
  std::string_view Display;
  std::string_view Account;
  std::string_view Unit;  // organisational unit in Fully-Qualifed-User-Name
};

constexpr std::array<TPersonName, 32> kPeople = {{
    {"Anna Schmidt", "aschmidt", "Users"},
    {"Jürgen Müller", "jmueller", "Staff/Zürich"},
    {"José García", "jgarcia", "Users"},
    {"Łukasz Nowak", "lnowak", "Users"},
    {"Emma Johnson", "ejohnson", "Users"},
    {"Liam O'Brien", "lobrien", "Sales"},
    {"Sophie Dubois", "sdubois", "Users"},
    {"François Lefèvre", "flefevre", "Staff/Lyon"},
    {"María Fernández", "mfernandez", "Staff/Madrid"},
    {"Noah Williams", "nwilliams", "Users"},
    {"Olivia Brown", "obrown", "Sales"},
    {"Björn Andersson", "bandersson", "Users"},
    {"Chiara Rossi", "crossi", "Users"},
    {"Mateo López", "mlopez", "Staff/Madrid"},
    {"Hannah Weber", "hweber", "Staff/Zürich"},
    {"Lucas Martin", "lmartin", "Users"},
    {"Ava Davis", "adavis", "Users"},
    {"Søren Kristensen", "skristensen", "Users"},
    {"Yuki Tanaka", "ytanaka", "R&amp;D"},
    {"Priya Patel", "ppatel", "R&amp;D"},
    {"Mehmet Yılmaz", "myilmaz", "Users"},
    {"Elena Popescu", "epopescu", "Users"},
    {"Ingrid Larsen", "ilarsen", "Users"},
    {"Pieter de Vries", "pdevries", "Sales"},
    {"Zoë Clarke", "zclarke", "Users"},
    {"Daniel Kim", "dkim", "R&amp;D"},
    {"Fatima Benali", "fbenali", "Staff/Lyon"},
    {"Jan Novák", "jnovak", "Users"},
    {"Grace Taylor", "gtaylor", "Users"},
    {"Ömer Demir", "odemir", "Users"},
    {"Ethan Wright", "ewright", "IT"},
    {"Isabel Costa", "icosta", "Users"},
}};

constexpr std::array<std::string_view, 8> kDevices = {"Printer 3F Ost",      "Printer 2F West",
                                                      "IP phone Reception",  "IP phone Lager",
                                                      "Badge reader Tor 1",  "Conference display Raum Adler",
                                                      "Label printer Lager", "Camera Hof"};

// Names that the directory does not know (Reason-Code 8).
constexpr std::array<std::string_view, 6> kStrangers = {"CORP\\olduser",   "test",          "admin",
                                                        "guest@gmail.com", "CORP\\j.smith", "user"};

constexpr std::array<std::uint32_t, 6> kOuis = {0x3C22FB, 0xF01898, 0x8C8590, 0xDCA632, 0xA483E7, 0x001A1E};

struct TIdentity {
  std::string UserName;  // as the client sent it
  std::string Sam;       // SAM-Account-Name
  std::string Fqun;      // Fully-Qualifed-User-Name
  std::vector<std::uint64_t> Macs;
};

// Account AK of --users: CORP\u0000042, its station 02-00- and the number's four bytes
// (AK < kMaxUsers), so that distinct accounts have distinct names and stations.
TIdentity SyntheticAccount(std::uint64_t AK) {
  std::string number;
  AppendUInt(number, AK);
  if (number.size() < 7) number.insert(0, 7 - number.size(), '0');
  TIdentity id;
  id.UserName.append("CORP\\u").append(number);
  id.Sam = id.UserName;
  id.Fqun.append("corp.example.com/Users/u").append(number);
  id.Macs.push_back((std::uint64_t{0x0200} << 32) | AK);
  return id;
}

struct TReason {
  std::uint32_t Code;
  std::uint32_t Weight;
};

// Why a plain reject happens: 16 wrong credentials, 48 no network policy matched, 65 dial-in
// denied on the account, 66 authentication method not enabled, 8 no such account, 22 EAP not
// processed, 23 EAP error, 49 no connection request policy matched, 262 incomplete message.
constexpr std::array<TReason, 9> kRejectReasons = {
    {{16, 36}, {48, 14}, {65, 10}, {66, 9}, {8, 10}, {22, 8}, {23, 5}, {49, 4}, {262, 4}}};
// After EAP challenge rounds only the credential and EAP failures make sense.
constexpr std::array<TReason, 4> kChallengeRejectReasons = {{{16, 60}, {22, 20}, {23, 12}, {262, 8}}};
// Acct-Terminate-Cause: 1 user request, 2 lost carrier, 4 idle timeout, 5 session timeout,
// 6 admin reset, 11 NAS reboot.
constexpr std::array<TReason, 6> kTerminateCauses = {{{1, 40}, {2, 15}, {4, 25}, {5, 10}, {6, 5}, {11, 5}}};

constexpr std::array<std::string_view, 5> kWirelessConnect = {"CONNECT 11Mbps 802.11b", "CONNECT 54Mbps 802.11g",
                                                              "CONNECT 54Mbps 802.11a", "CONNECT 144.4Mbps 802.11n",
                                                              "CONNECT 866.7Mbps 802.11ac"};

enum TKind : std::size_t { kAccept, kReject, kChallenge, kAccounting, kKindCount };
constexpr std::array<std::string_view, kKindCount> kKindNames = {"accept", "reject", "challenge", "accounting"};

// One authentication conversation or accounting session, as much as the records need.
struct TSession {
  std::size_t Nas = 0;
  const TIdentity* Who = nullptr;
  std::unique_ptr<const TIdentity> Account;  // with --users: what Who points to, moved with the session
  std::uint64_t Mac = 0;
  std::string Class;
  std::string AcctSessionId;  // the text; logged as hex octets for HexSessionId clients
  std::string_view Connect;
  std::uint32_t NasPort = 0;
  std::uint32_t VpnPeer = 0;
  std::int64_t StartMillis = 0;
  std::int64_t LastMillis = 0;  // of the previous accounting record
  std::uint32_t Interims = 0;
  std::uint64_t InOctets = 0, OutOctets = 0, InPackets = 0, OutPackets = 0;
  std::uint64_t Key = 0;  // unique among the sessions, never 0
  // An exchange in flight uses the session: no other may pick it until that one's last record
  // is written, or two exchanges in flight would share its Class (and a stop could come
  // before the interim update it follows).
  bool Busy = false;
};

// What --tally counts of a record besides its Timestamp, taken from the generator's choices
// rather than read back from the line.
struct TRecordFacts {
  std::uint32_t PacketType = 0;
  std::uint32_t Reason = 0;
};

// The records of one exchange (a whole short conversation, or one accounting exchange), each
// with its Timestamp in milliseconds and its facts, and how many of them are written.
struct TExchange {
  std::vector<std::string> Lines;
  std::vector<std::int64_t> Stamps;
  std::vector<TRecordFacts> Facts;
  // User-Name of the exchange's Access-Requests (all of one session), escaped as written: the
  // user each reply of the conversation answers. Empty for accounting exchanges.
  std::string User;
  std::size_t Next = 0;
  std::uint64_t Session = 0;  // Key of the session the exchange keeps busy; 0 for none
};

// ---------------------------------------------------------------------------------------------
// The generator: produces the records of one exchange at a time, in time order. Which
// exchanges are in flight, and in what order their records are written, is the writer's
// business; the generator only keeps their sessions apart.

class TGenerator {
 public:
  // AUsers: the number of --users accounts, 0 for the built-in directory.
  TGenerator(std::uint64_t ASeed, const std::array<std::uint32_t, kKindCount>& AMix, double ALongRate, std::uint64_t AUsers)
      : FRandom(ASeed), FOdd(ASeed ^ 0x9E3779B97F4A7C15ULL), FMix(AMix), FLongRate(ALongRate), FUsers(AUsers) {
    BuildDirectory();
    // The log opens some time on the morning of 2 March 2026; the service started a while
    // before, and that start time is what Class values carry.
    FClock = DaysFromCivil(2026, 3, 2) * 86400000 + static_cast<std::int64_t>(6 * 3600000 + FRandom.Below(3600000));
    const std::int64_t serviceStart = FClock - static_cast<std::int64_t>(3600000 + FRandom.Below(6 * 86400000));
    FClassPrefix = "311 1 ";
    FClassPrefix.append(kServerIp);
    FClassPrefix += ' ';
    AppendDateTime(FClassPrefix, serviceStart, false);
    FClassPrefix += ' ';
    FClassCounter = 1 + FRandom.Below(5000);
    FAcctCounter = FRandom.Next() & 0xFFFFFFF;
  }

  // Milliseconds of the generator's clock; before the first Step, the moment the log opens.
  std::int64_t Clock() const { return FClock; }

  // When the next exchange of a slot whose previous one ended at ANow begins. Gaps average
  // 1.5 s, so a 1 GiB file of one slot spans several days and crosses midnights.
  std::int64_t NextStart(std::int64_t ANow) { return ANow + static_cast<std::int64_t>(FRandom.Below(3000)); }

  // Fills the empty AExchange with the records of an exchange whose first record is at
  // AStart; each line ends with CR LF. Release it once all its records are written.
  void Step(TExchange& AExchange, std::int64_t AStart) {
    FExchange = &AExchange;
    FClock = AStart;
    switch (static_cast<TKind>(FRandom.Weighted(FMix))) {
      case kAccept:
        AuthConversation(0, false);
        break;
      case kReject:
        AuthConversation(0, true);
        break;
      case kChallenge:
        AuthConversation(FRandom.Range32(1, 4), FRandom.Below(100) < 20);
        break;
      case kAccounting:
      case kKindCount:
        Accounting();
        break;
    }
    FExchange = nullptr;
  }

  // AExchange is written: its session is free for other exchanges (unless forgotten in the
  // meantime) and its line buffers go back to the pool. It is left empty.
  void Release(TExchange& AExchange) {
    if (AExchange.Session != 0) {
      TSession* s = FindSession(FPending, AExchange.Session);
      if (s == nullptr) s = FindSession(FActive, AExchange.Session);
      if (s != nullptr) Unhold(*s);
    }
    for (std::string& line : AExchange.Lines) {
      if (line.capacity() <= kSpareCapacity) FSpare.push_back(std::move(line));
    }
    AExchange.Lines.clear();
    AExchange.Stamps.clear();
    AExchange.Facts.clear();
    AExchange.User.clear();
    AExchange.Next = 0;
    AExchange.Session = 0;
  }

  // An Access-Request that the server logged and never answered (a retransmission it
  // dropped): the filler used to place a line break exactly on a 1 MiB boundary. It takes
  // the Timestamp of the record it precedes (AStamp, MM/DD/YYYY HH:MM:SS.mmm) so the file
  // stays in time order. With APadTo = 0 it has its natural length; otherwise Connect-Info is
  // padded with spaces to make the line exactly APadTo bytes. Returns false when it cannot
  // be that short. AUser receives its User-Name as written.
  bool Filler(std::string& AOut, std::string& AUser, std::string_view AStamp, std::uint64_t APadTo) {
    const std::size_t nasIndex = FOdd.Below(3);  // the wireless clients
    const TNas& nas = kNases[nasIndex];
    // Either choice takes one draw, so --users leaves the oddities where they were.
    const TIdentity* who = nullptr;
    if (FUsers == 0) {
      who = &FPeople[FOdd.Index(FPeople)];
    } else {
      FFillerAccount = SyntheticAccount(FOdd.Below(FUsers));
      who = &FFillerAccount;
    }
    AUser = who->UserName;
    AOut.clear();
    AOut.append("<Event>");
    OpenTag(AOut, "Timestamp", '4');
    AOut.append(AStamp);
    CloseTag(AOut, "Timestamp");
    Str(AOut, "Computer-Name", ServerName);
    Str(AOut, "Event-Source", "IAS");
    Str(AOut, "User-Name", who->UserName);
    Ip(AOut, "NAS-IP-Address", nas.Ip);
    // Kept this short (no NAS-Identifier, no server policy names) so that a filler always
    // fits the 700 bytes of room that kSplitMinRoom promises.
    Str(AOut, "Calling-Station-Id", MacText(who->Macs[0], '-', true));
    OpenTag(AOut, "Connect-Info", '1');
    AOut.append(kWirelessConnect[FOdd.Index(kWirelessConnect)]);
    const std::size_t padAt = AOut.size();
    CloseTag(AOut, "Connect-Info");
    Ip(AOut, "Client-IP-Address", nas.Ip);
    Str(AOut, "Client-Friendly-Name", nas.FriendlyName);
    Int(AOut, "Packet-Type", 1);
    Int(AOut, "Reason-Code", 0);
    AOut.append("</Event>\r\n");
    if (APadTo == 0) return true;
    if (APadTo < AOut.size()) return false;
    AOut.insert(padAt, static_cast<std::size_t>(APadTo - AOut.size()), ' ');
    return true;
  }

 private:
  void BuildDirectory() {
    auto mac = [this](std::size_t AOuiIndex) {
      return (static_cast<std::uint64_t>(kOuis[AOuiIndex % kOuis.size()]) << 24) | (FRandom.Next() & 0xFFFFFF);
    };
    for (std::size_t i = 0; i < kPeople.size(); ++i) {
      const TPersonName& p = kPeople[i];
      TIdentity id;
      // Some clients send DOMAIN\user, others the user principal name.
      if (i % 5 == 3) {
        id.UserName.append(p.Account).append("@corp.example.com");
      } else {
        id.UserName.append("CORP\\").append(p.Account);
      }
      id.Sam.append("CORP\\").append(p.Account);
      id.Fqun.append("corp.example.com/").append(p.Unit).append("/").append(p.Display);
      id.Macs.push_back(mac(FRandom.Below(kOuis.size())));
      if (i % 3 == 0) id.Macs.push_back(mac(FRandom.Below(kOuis.size())));
      FPeople.push_back(std::move(id));
    }
    for (std::size_t i = 0; i < 10; ++i) {
      std::string host = "LAPTOP-";
      for (int k = 0; k < 4; ++k) host += "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ"[FRandom.Below(34)];
      TIdentity id;
      id.UserName.append("host/").append(host).append(".corp.example.com");
      id.Sam.append("CORP\\").append(host).append("$");
      id.Fqun.append("corp.example.com/Computers/").append(host);
      id.Macs.push_back(mac(FRandom.Below(kOuis.size())));
      FMachines.push_back(std::move(id));
    }
    for (const std::string_view device : kDevices) {
      // MAC authentication bypass: the switch sends the MAC as the user name.
      TIdentity id;
      const std::uint64_t m = mac(FRandom.Below(kOuis.size()));
      id.UserName = MacText(m, '\0', false);
      id.Sam.append("CORP\\").append(id.UserName);
      id.Fqun.append("corp.example.com/Devices/").append(device);
      id.Macs.push_back(m);
      FDevices.push_back(std::move(id));
    }
    for (const std::string_view stranger : kStrangers) {
      TIdentity id;
      id.UserName = stranger;
      id.Sam = stranger;
      id.Fqun = stranger;
      id.Macs.push_back(mac(FRandom.Below(kOuis.size())));
      FStrangers.push_back(std::move(id));
    }
  }

  // Adds a record to the exchange being generated and writes its first elements; the
  // reference holds until the next record is added. APacketType and AReason must be what the
  // caller writes into it.
  std::string& NewRecord(std::int64_t AMillis, std::uint32_t APacketType, std::uint32_t AReason) {
    std::vector<std::string>& lines = FExchange->Lines;
    if (FSpare.empty()) {
      lines.emplace_back();
    } else {
      lines.push_back(std::move(FSpare.back()));
      FSpare.pop_back();
    }
    FExchange->Stamps.push_back(AMillis);
    FExchange->Facts.push_back({APacketType, AReason});
    std::string& line = lines.back();
    line.clear();
    line.append("<Event>");
    OpenTag(line, "Timestamp", '4');
    AppendDateTime(line, AMillis, true);
    CloseTag(line, "Timestamp");
    Str(line, "Computer-Name", ServerName);
    Str(line, "Event-Source", "IAS");
    return line;
  }

  // AS outlives the exchange being generated (accepted, or started and not stopped): it stays
  // busy until that exchange is released. An exchange holds one session at most.
  void Hold(TSession& AS) {
    AS.Busy = true;
    ++FBusy;
    FExchange->Session = AS.Key;
  }

  void Unhold(TSession& AS) {
    if (!AS.Busy) return;
    AS.Busy = false;
    --FBusy;
  }

  static TSession* FindSession(std::vector<TSession>& AList, std::uint64_t AKey) {
    for (TSession& s : AList) {
      if (s.Key == AKey) return &s;
    }
    return nullptr;
  }

  // The sessions of AList no exchange in flight uses, and the index of the ANth of them. With
  // no session busy (always so with one slot) these are the plain size and index, which keeps
  // the single stream's random draws as they were.
  std::size_t IdleCount(const std::vector<TSession>& AList) const {
    if (FBusy == 0) return AList.size();
    std::size_t n = 0;
    for (const TSession& s : AList) n += s.Busy ? 0 : 1;
    return n;
  }

  std::size_t IdleIndex(const std::vector<TSession>& AList, std::size_t AN) const {
    if (FBusy == 0) return AN;
    for (std::size_t i = 0; i < AList.size(); ++i) {
      if (AList[i].Busy) continue;
      if (AN == 0) return i;
      --AN;
    }
    return AList.size();  // AN >= IdleCount(AList): callers never ask
  }

  // Ends a record; now and then (oddity engine) stretches it with one very long octet string
  // among the client's attributes, placed before the server's own attributes.
  void Finish(std::string& AOut, std::size_t AServerPartAt) {
    AOut.append("</Event>\r\n");
    if (!FOdd.Chance(FLongRate)) return;
    const std::uint64_t target = FOdd.Range(kLongLineMin, kLongLineMax);
    constexpr std::string_view name = "Chargeable-User-Identity";
    const std::size_t overhead = 2 * name.size() + 19;  // <name data_type="2"></name>
    const std::size_t hexLength = (static_cast<std::size_t>(target) - AOut.size() - overhead) & ~std::size_t{1};
    FScratch.clear();
    OpenTag(FScratch, name, '2');
    AppendRandomHex(FScratch, FOdd, hexLength / 2);
    CloseTag(FScratch, name);
    AOut.insert(AServerPartAt, FScratch);
  }

  std::string NewClass() {
    std::string c = FClassPrefix;
    AppendUInt(c, FClassCounter++);
    return c;
  }

  const TIdentity& PickIdentity(TMedium AMedium) {
    switch (AMedium) {
      case TMedium::Mab:
        return FDevices[FRandom.Index(FDevices)];
      case TMedium::Wired:
        if (FRandom.Below(100) < 60) return FMachines[FRandom.Index(FMachines)];
        break;
      case TMedium::Wireless:
        if (FRandom.Below(100) < 15) return FMachines[FRandom.Index(FMachines)];
        break;
      case TMedium::Vpn:
        break;
    }
    return FPeople[FRandom.Index(FPeople)];
  }

  // AEapOnly: challenge rounds only happen with EAP, so not on the VPN gateway or for MAB.
  TSession NewSession(bool AStranger, bool AEapOnly) {
    TSession s;
    s.Nas = FRandom.Weighted(NasWeights(AEapOnly));
    const TNas& nas = kNases[s.Nas];
    s.Who = AStranger ? &FStrangers[FRandom.Index(FStrangers)] : &PickIdentity(nas.Medium);
    s.Mac = s.Who->Macs[FRandom.Index(s.Who->Macs)];
    s.Class = NewClass();
    s.Key = ++FSessionKeys;
    // The draws above are made all the same, so that with --users only the identity changes.
    if (FUsers != 0) {
      s.Account = std::make_unique<const TIdentity>(SyntheticAccount((s.Key - 1) % FUsers));
      s.Who = s.Account.get();
      s.Mac = s.Who->Macs[0];
    }
    switch (nas.Medium) {
      case TMedium::Wireless:
        s.Connect = kWirelessConnect[FRandom.Index(kWirelessConnect)];
        s.NasPort = FRandom.Range32(1, 64);
        break;
      case TMedium::Wired:
        s.Connect = "CONNECT Ethernet 1000Mbps Full duplex";
        s.NasPort = 50100 + FRandom.Range32(1, 48);
        break;
      case TMedium::Mab:
        s.Connect = "CONNECT Ethernet 100Mbps Full duplex";
        s.NasPort = 50100 + FRandom.Range32(1, 48);
        break;
      case TMedium::Vpn:
        s.NasPort = FRandom.Range32(1, 1000);
        s.VpnPeer = (203u << 24) | (0u << 16) | (113u << 8) | FRandom.Range32(1, 254);
        break;
    }
    return s;
  }

  static std::array<std::uint32_t, kNases.size()> NasWeights(bool AEapOnly) {
    std::array<std::uint32_t, kNases.size()> w{};
    for (std::size_t i = 0; i < kNases.size(); ++i) w[i] = AEapOnly && kNases[i].EapName.empty() ? 0 : kNases[i].Weight;
    return w;
  }

  // The attributes the access point, switch or gateway put in an Access-Request.
  void AccessRequestAttributes(std::string& AOut, const TSession& AS, std::string_view AStateHex) {
    const TNas& nas = kNases[AS.Nas];
    Str(AOut, "User-Name", AS.Who->UserName);
    Ip(AOut, "NAS-IP-Address", nas.Ip);
    Str(AOut, "NAS-Identifier", nas.Identifier);
    Int(AOut, "NAS-Port", AS.NasPort);
    switch (nas.Medium) {
      case TMedium::Wireless:
        Int(AOut, "NAS-Port-Type", 19);
        Int(AOut, "Service-Type", 2);
        Int(AOut, "Framed-MTU", 1300);
        break;
      case TMedium::Wired:
        Int(AOut, "NAS-Port-Type", 15);
        Int(AOut, "Service-Type", 2);
        Int(AOut, "Framed-MTU", 1500);
        break;
      case TMedium::Mab:
        Int(AOut, "NAS-Port-Type", 15);
        Int(AOut, "Service-Type", 10);
        break;
      case TMedium::Vpn:
        Int(AOut, "NAS-Port-Type", 5);
        Int(AOut, "Service-Type", 2);
        Int(AOut, "Framed-Protocol", 1);
        break;
    }
    Str(AOut, "Called-Station-Id", nas.CalledStation);
    if (nas.Medium == TMedium::Vpn) {
      FScratch.clear();
      AppendIPv4(FScratch, AS.VpnPeer);
      Str(AOut, "Calling-Station-Id", FScratch);
      Int(AOut, "Tunnel-Type", 3);
      Int(AOut, "Tunnel-Medium-Type", 1);
      Str(AOut, "Tunnel-Client-Endpt", FScratch);
      Str(AOut, "Tunnel-Server-Endpt", nas.CalledStation);
    } else {
      Str(AOut, "Calling-Station-Id", MacText(AS.Mac, '-', true));
      Str(AOut, "Connect-Info", AS.Connect);
    }
    if (!AStateHex.empty()) OctetsHex(AOut, "State", AStateHex);
  }

  // The server's own attributes, which close every record.
  void ServerAttributes(std::string& AOut, const TSession& AS, std::uint32_t APacketType, std::uint32_t AReason,
                        bool AAuthentication) {
    const TNas& nas = kNases[AS.Nas];
    Ip(AOut, "Client-IP-Address", nas.Ip);
    Int(AOut, "Client-Vendor", nas.Vendor);
    Str(AOut, "Client-Friendly-Name", nas.FriendlyName);
    // Reason 49: no connection request policy matched, so none is named.
    Str(AOut, "Proxy-Policy-Name", AReason == 49 ? std::string_view() : nas.ProxyPolicy);
    Int(AOut, "Provider-Type", 1);
    Str(AOut, "SAM-Account-Name", AS.Who->Sam);
    Str(AOut, "Fully-Qualifed-User-Name", AS.Who->Fqun);
    Str(AOut, "Class", AS.Class);
    if (AAuthentication) {
      Int(AOut, "Authentication-Type", AReason == 66 ? 1 : nas.AuthType);
      // Reasons 48 and 49: no network policy was reached.
      Str(AOut, "NP-Policy-Name", AReason == 48 || AReason == 49 ? std::string_view() : nas.Policy);
      // The outcome of the EAP method and the health check is known once the server replies.
      if (APacketType != 1) {
        Int(AOut, "Quarantine-Update-Non-Compliant", 1);
        if (!nas.EapName.empty() && AReason != 66) Str(AOut, "EAP-Friendly-Name", nas.EapName);
      }
    }
    Int(AOut, "Packet-Type", APacketType);
    Int(AOut, "Reason-Code", AReason);
  }

  // A reply is usually logged in the same millisecond as its request, sometimes a little later.
  std::int64_t ReplyDelay() { return FRandom.Below(100) < 70 ? 0 : static_cast<std::int64_t>(FRandom.Range(1, 40)); }

  void AccessRequest(const TSession& AS, std::string_view AStateHex) {
    FExchange->User = AS.Who->UserName;
    std::string& line = NewRecord(FClock, 1, 0);
    AccessRequestAttributes(line, AS, AStateHex);
    const std::size_t serverAt = line.size();
    ServerAttributes(line, AS, 1, 0, true);
    Finish(line, serverAt);
  }

  void AccessReply(const TSession& AS, std::uint32_t APacketType, std::uint32_t AReason, std::string_view AStateHex) {
    FClock += ReplyDelay();
    const TNas& nas = kNases[AS.Nas];
    std::string& line = NewRecord(FClock, APacketType, AReason);
    if (APacketType == 11) {
      Int(line, "Session-Timeout", 30);
      OctetsHex(line, "State", AStateHex);
    } else if (APacketType == 2) {
      if (nas.Medium == TMedium::Vpn) {
        Int(line, "Framed-Protocol", 1);
        Int(line, "Service-Type", 2);
      } else {
        Int(line, "Session-Timeout", nas.Medium == TMedium::Wireless ? 28800 : 86400);
        Int(line, "Termination-Action", 1);
        Int(line, "Tunnel-Type", 13);
        Int(line, "Tunnel-Medium-Type", 6);
        FScratch.clear();
        AppendUInt(FScratch, nas.Vlan);
        Str(line, "Tunnel-Pvt-Group-ID", FScratch);
      }
    }
    const std::size_t serverAt = line.size();
    ServerAttributes(line, AS, APacketType, AReason, true);
    Finish(line, serverAt);
  }

  // Access-Request, optional Access-Challenge rounds carrying State, then Accept or Reject.
  void AuthConversation(std::uint32_t AChallengeRounds, bool AReject) {
    std::uint32_t reason = 0;
    if (AReject) {
      reason = AChallengeRounds > 0 ? kChallengeRejectReasons[FRandom.Weighted(ReasonWeights(kChallengeRejectReasons))].Code
                                    : kRejectReasons[FRandom.Weighted(ReasonWeights(kRejectReasons))].Code;
    }
    TSession s = NewSession(reason == 8, AChallengeRounds > 0);
    std::string state;
    for (std::uint32_t round = 0; round <= AChallengeRounds; ++round) {
      AccessRequest(s, state);
      if (round == AChallengeRounds) break;
      state.clear();
      AppendRandomHex(state, FRandom, FRandom.Range(20, 48));
      AccessReply(s, 11, 0, state);
      FClock += static_cast<std::int64_t>(FRandom.Range(3, 80));  // the client's next round
    }
    AccessReply(s, AReject ? 3 : 2, reason, {});
    if (!AReject) {
      Hold(s);
      Admit(std::move(s));
    }
  }

  template <std::size_t N>
  static std::array<std::uint32_t, N> ReasonWeights(const std::array<TReason, N>& AReasons) {
    std::array<std::uint32_t, N> w{};
    for (std::size_t i = 0; i < N; ++i) w[i] = AReasons[i].Weight;
    return w;
  }

  // Accepted sessions wait in FPending for their accounting start, started ones in FActive
  // for interim updates and their stop. When either is full a session is forgotten without
  // accounting or without a stop, as happens when a client loses its accounting; a busy one
  // too, whose exchange in flight is written all the same.
  void Admit(TSession&& AS) {
    constexpr std::size_t kMaxPending = 64;
    if (FPending.size() >= kMaxPending) {
      Unhold(FPending.front());
      FPending.erase(FPending.begin());
    }
    FPending.push_back(std::move(AS));
  }

  void Activate(TSession&& AS) {
    constexpr std::size_t kMaxActive = 256;
    if (FActive.size() >= kMaxActive) {
      const std::size_t victim = FRandom.Index(FActive);
      Unhold(FActive[victim]);
      FActive[victim] = std::move(FActive.back());
      FActive.pop_back();
    }
    FActive.push_back(std::move(AS));
  }

  // One Accounting-Request and its Accounting-Response: a start, an interim update or a stop.
  // Starts take a third of the steps, so that with interims and stops the number of started
  // sessions stays level instead of piling up. Only sessions no exchange in flight uses take
  // part.
  void Accounting() {
    if (IdleCount(FPending) == 0 && IdleCount(FActive) == 0) {
      Admit(NewSession(false, false));  // authenticated before the log began
    }
    const std::size_t idlePending = IdleCount(FPending);
    const std::size_t idleActive = IdleCount(FActive);
    if (idlePending != 0 && (idleActive == 0 || FRandom.Below(100) < 35)) {
      // The most recently accepted session starts first.
      const std::size_t index = IdleIndex(FPending, idlePending - 1);
      TSession s = std::move(FPending[index]);
      FPending.erase(FPending.begin() + static_cast<std::ptrdiff_t>(index));
      s.StartMillis = FClock;
      s.LastMillis = FClock;
      s.AcctSessionId.clear();
      const std::uint64_t id = FAcctCounter++;
      for (int shift = 28; shift >= 0; shift -= 4) s.AcctSessionId += kHexDigits[(id >> shift) & 0xF];
      AccountingRequest(s, 1);
      AccountingResponse(s);
      Hold(s);
      Activate(std::move(s));
      return;
    }
    const std::size_t index = IdleIndex(FActive, static_cast<std::size_t>(FRandom.Below(idleActive)));
    TSession& s = FActive[index];
    std::uint32_t status = 2;
    if (s.Interims < 3 && FRandom.Below(100) < 55) {
      status = 3;
      ++s.Interims;
    }
    const auto seconds = static_cast<std::uint64_t>(FClock - s.LastMillis) / 1000 + 1;
    s.LastMillis = FClock;
    const std::uint64_t inPackets = seconds * FRandom.Range(1, 40) + FRandom.Below(50);
    const std::uint64_t outPackets = seconds * FRandom.Range(1, 60) + FRandom.Below(50);
    s.InPackets += inPackets;
    s.OutPackets += outPackets;
    // The octet counters are 32-bit on the wire and wrap (gigawords are not modelled).
    s.InOctets = (s.InOctets + inPackets * FRandom.Range(60, 900)) & 0xFFFFFFFF;
    s.OutOctets = (s.OutOctets + outPackets * FRandom.Range(60, 1400)) & 0xFFFFFFFF;
    AccountingRequest(s, status);
    AccountingResponse(s);
    if (status == 2) {
      FActive[index] = std::move(FActive.back());
      FActive.pop_back();
    } else {
      Hold(s);
    }
  }

  void AccountingRequest(const TSession& AS, std::uint32_t AStatus) {
    const TNas& nas = kNases[AS.Nas];
    std::string& line = NewRecord(FClock, 4, 0);
    Str(line, "User-Name", AS.Who->UserName);
    Ip(line, "NAS-IP-Address", nas.Ip);
    Int(line, "NAS-Port", AS.NasPort);
    Int(line, "NAS-Port-Type", nas.Medium == TMedium::Vpn ? 5 : nas.Medium == TMedium::Wireless ? 19 : 15);
    Int(line, "Service-Type", nas.Medium == TMedium::Mab ? 10 : 2);
    if (nas.Medium == TMedium::Vpn) {
      FScratch.clear();
      AppendIPv4(FScratch, AS.VpnPeer);
      Str(line, "Calling-Station-Id", FScratch);
    } else {
      Str(line, "Called-Station-Id", nas.CalledStation);
      Str(line, "Calling-Station-Id", MacText(AS.Mac, '-', true));
    }
    if (AStatus == 1 && !AS.Connect.empty()) Str(line, "Connect-Info", AS.Connect);
    Int(line, "Acct-Status-Type", AStatus);
    if (nas.HexSessionId) {
      Octets(line, "Acct-Session-Id", AS.AcctSessionId);
    } else {
      Str(line, "Acct-Session-Id", AS.AcctSessionId);
    }
    const std::uint64_t delay = FRandom.Below(100) < 85 ? 0 : FRandom.Range(1, 5);
    Int(line, "Acct-Delay-Time", delay);
    if (AStatus != 1) {
      Int(line, "Acct-Input-Octets", AS.InOctets);
      Int(line, "Acct-Output-Octets", AS.OutOctets);
      Int(line, "Acct-Input-Packets", AS.InPackets);
      Int(line, "Acct-Output-Packets", AS.OutPackets);
      Int(line, "Acct-Session-Time", static_cast<std::uint64_t>(FClock - AS.StartMillis) / 1000);
    }
    Int(line, "Acct-Authentic", 1);
    if (AStatus == 2) Int(line, "Acct-Terminate-Cause", kTerminateCauses[FRandom.Weighted(ReasonWeights(kTerminateCauses))].Code);
    DateTime(line, "Event-Timestamp", FClock - static_cast<std::int64_t>(delay) * 1000);
    const std::size_t serverAt = line.size();
    Ip(line, "Client-IP-Address", nas.Ip);
    Int(line, "Client-Vendor", nas.Vendor);
    Str(line, "Client-Friendly-Name", nas.FriendlyName);
    Str(line, "Proxy-Policy-Name", nas.ProxyPolicy);
    Int(line, "Provider-Type", 1);
    Str(line, "Class", AS.Class);
    Int(line, "Packet-Type", 4);
    Int(line, "Reason-Code", 0);
    Finish(line, serverAt);
  }

  void AccountingResponse(const TSession& AS) {
    FClock += ReplyDelay();
    std::string& line = NewRecord(FClock, 5, 0);
    Str(line, "User-Name", AS.Who->UserName);
    Ip(line, "NAS-IP-Address", kNases[AS.Nas].Ip);
    const std::size_t serverAt = line.size();
    ServerAttributes(line, AS, 5, 0, false);
    Finish(line, serverAt);
  }

  TRandom FRandom;
  TRandom FOdd;
  std::array<std::uint32_t, kKindCount> FMix;
  double FLongRate;
  std::uint64_t FUsers;  // --users, 0: the built-in directory
  std::int64_t FClock = 0;
  std::string FClassPrefix;
  std::uint64_t FClassCounter = 0;
  std::uint64_t FAcctCounter = 0;
  std::uint64_t FSessionKeys = 0;
  std::vector<TIdentity> FPeople, FMachines, FDevices, FStrangers;
  std::vector<TSession> FPending, FActive;
  TIdentity FFillerAccount;         // the --users account of the latest filler
  std::size_t FBusy = 0;            // busy sessions in FPending and FActive
  TExchange* FExchange = nullptr;   // the exchange Step is filling
  std::vector<std::string> FSpare;  // line buffers of released exchanges, for reuse
  std::string FScratch;
};

// ---------------------------------------------------------------------------------------------
// Output: large buffered writes, and the oddities that concern the byte stream (BOM, empty
// lines, hex lines, line breaks split across 1 MiB boundaries).

class TOutput {
 public:
  explicit TOutput(const std::string& AFileName) : FName(AFileName.empty() || AFileName == "-" ? "standard output" : AFileName) {
    if (AFileName.empty() || AFileName == "-") {
      FFile = stdout;
    } else {
      FFile = std::fopen(AFileName.c_str(), "wb");
      if (FFile == nullptr) throw std::runtime_error("cannot create " + AFileName + ": " + std::strerror(errno));
      FOwned = true;
    }
    FBuffer.reserve(kFlushAt + 256 * 1024);
  }
  ~TOutput() {
    if (FOwned) std::fclose(FFile);
  }
  TOutput(const TOutput&) = delete;
  TOutput& operator=(const TOutput&) = delete;

  std::uint64_t Position() const { return FPosition; }

  void Put(std::string_view ABytes) {
    FBuffer.append(ABytes);
    FPosition += ABytes.size();
    if (FBuffer.size() >= kFlushAt) Flush();
  }

  void Close() {
    Flush();
    if (std::fflush(FFile) != 0) Fail();
    if (FOwned) {
      FOwned = false;
      if (std::fclose(FFile) != 0) Fail();
    }
  }

 private:
  static constexpr std::size_t kFlushAt = 8 * 1024 * 1024;

  void Flush() {
    if (!FBuffer.empty() && std::fwrite(FBuffer.data(), 1, FBuffer.size(), FFile) != FBuffer.size()) Fail();
    FBuffer.clear();
  }
  [[noreturn]] void Fail() { throw std::runtime_error("cannot write " + FName + ": " + std::strerror(errno)); }

  std::string FName;
  std::FILE* FFile = nullptr;
  bool FOwned = false;
  std::string FBuffer;
  std::uint64_t FPosition = 0;
};

// What the writer has written, for --tally, counted record by record as it goes.
class TTally {
 public:
  explicit TTally(std::uint64_t AIntervalSeconds) : FInterval(AIntervalSeconds) {}

  // A record written: AMillis its Timestamp, AUser the User-Name (escaped) of the
  // Access-Request it is or answers.
  void Add(std::int64_t AMillis, TRecordFacts AFacts, std::string_view AUser) {
    ++FRecords;
    ++FPacketTypes[AFacts.PacketType];
    if (AFacts.PacketType == 1) CountName(FUsers, AUser);
    if (AFacts.PacketType == 3) {
      ++FReasons[AFacts.Reason];
      CountName(FRefusedUsers, AUser);
    }
    // Timestamps are after 1970, so truncating division is the floor.
    const auto seconds = static_cast<std::uint64_t>(AMillis / 1000);
    std::array<std::uint64_t, kColumnCount>& row = FIntervals[seconds - seconds % FInterval];
    switch (AFacts.PacketType) {
      case 1:
        ++row[kRequests];
        break;
      case 2:
        ++row[kAccepts];
        break;
      case 3:
        ++row[kRejects];
        break;
      case 11:
        ++row[kChallenges];
        break;
      case 4:
      case 5:
        ++row[kAccounting];
        break;
      default:
        break;
    }
  }

  // The sections in their fixed order, each row a line of tab-separated fields.
  void Write(TOutput& AOut) const {
    std::string row = "records\t";
    AppendUInt(row, FRecords);
    row += '\n';
    AOut.Put(row);
    for (const auto& [type, count] : FPacketTypes) Row(AOut, row, "packet-type", Number(type), std::array{count});
    for (const auto& [reason, count] : FReasons) Row(AOut, row, "reason", Number(reason), std::array{count});
    for (const auto& [name, count] : FUsers) Row(AOut, row, "user", name, std::array{count});
    for (const auto& [name, count] : FRefusedUsers) Row(AOut, row, "refused-user", name, std::array{count});
    std::string start;
    for (const auto& [seconds, counts] : FIntervals) {
      start.clear();
      AppendIsoDateTime(start, static_cast<std::int64_t>(seconds));
      Row(AOut, row, "interval", start, counts);
    }
  }

 private:
  enum TColumn : std::size_t { kRequests, kAccepts, kRejects, kChallenges, kAccounting, kColumnCount };
  // std::less<> finds a name by string_view without building a string for every record.
  using TNameCounts = std::map<std::string, std::uint64_t, std::less<>>;

  void CountName(TNameCounts& ACounts, std::string_view AEscaped) {
    std::string_view name = AEscaped;
    if (AEscaped.find('&') != std::string_view::npos) {
      FDecoded.clear();
      AppendDecodedXml(FDecoded, AEscaped);
      name = FDecoded;
    }
    const auto it = ACounts.find(name);
    if (it != ACounts.end()) {
      ++it->second;
      return;
    }
    // A row holds the name between tabs; the generator never makes such a name.
    if (name.find_first_of("\t\r\n") != std::string_view::npos) {
      throw std::logic_error("user name with a tab or line break: " + std::string(name));
    }
    ACounts.emplace(name, 1);
  }

  static std::string Number(std::uint64_t AValue) {
    std::string text;
    AppendUInt(text, AValue);
    return text;
  }

  // ARow is the caller's buffer, reused from row to row.
  static void Row(TOutput& AOut, std::string& ARow, std::string_view ASection, std::string_view AKey,
                  std::span<const std::uint64_t> ACounts) {
    ARow.assign(ASection).append("\t").append(AKey);
    for (const std::uint64_t count : ACounts) {
      ARow += '\t';
      AppendUInt(ARow, count);
    }
    ARow += '\n';
    AOut.Put(ARow);
  }

  std::uint64_t FInterval;
  std::uint64_t FRecords = 0;
  std::map<std::uint32_t, std::uint64_t> FPacketTypes;
  std::map<std::uint32_t, std::uint64_t> FReasons;
  TNameCounts FUsers;
  TNameCounts FRefusedUsers;
  std::map<std::uint64_t, std::array<std::uint64_t, kColumnCount>> FIntervals;  // by start, in seconds
  std::string FDecoded;
};

struct TOptions {
  std::uint64_t Seed = 1;
  std::uint64_t SizeLimit = 0;    // 0: none
  std::uint64_t RecordLimit = 0;  // 0: none
  std::uint32_t Concurrency = 1;
  std::array<std::uint32_t, kKindCount> Mix = {45, 15, 12, 28};
  std::string OutFile;
  bool Bom = false;
  double EmptyRate = 0.0;
  double HexRate = 0.0;
  double LongRate = 0.0;
  bool SplitBreaks = false;
  std::string Server;
  std::string TallyFile;  // empty: no tally
  std::uint64_t TallyInterval = 3600;
  std::uint64_t Users = 0;  // 0: the built-in directory
};

class TWriter {
 public:
  // ATally, when not null, counts every record written.
  TWriter(const TOptions& AOptions, TGenerator& AGenerator, TOutput& AOutput, TTally* ATally)
      : FOptions(AOptions),
        FGenerator(AGenerator),
        FOutput(AOutput),
        FTally(ATally),
        FOdd(AOptions.Seed ^ 0xD1B54A32D192ED03ULL) {}

  // Each of the --concurrency slots runs one exchange after another. A heap orders the slots
  // by the Timestamp of their next record, ties going to the exchange that began first, so
  // the file stays in time order and the interleaving depends on the options alone. An
  // exchange is generated only when its first record is due, so the sessions it picks are
  // those free at that moment. With one slot this is the single stream: the same random draws
  // in the same order.
  void Run() {
    if (FOptions.Bom) FOutput.Put("\xEF\xBB\xBF");
    struct TDue {
      std::int64_t Stamp;
      std::uint64_t Serial;  // of the exchange, in the order exchanges began
      std::size_t Slot;
    };
    const auto later = [](const TDue& A, const TDue& B) { return A.Stamp != B.Stamp ? A.Stamp > B.Stamp : A.Serial > B.Serial; };
    std::vector<TExchange> slots(FOptions.Concurrency);
    std::vector<TDue> heap;
    heap.reserve(slots.size());
    std::uint64_t serial = 0;
    const std::int64_t opening = FGenerator.Clock();
    for (std::size_t i = 0; i < slots.size(); ++i) heap.push_back({FGenerator.NextStart(opening), serial++, i});
    std::make_heap(heap.begin(), heap.end(), later);
    for (;;) {
      std::pop_heap(heap.begin(), heap.end(), later);
      TDue& due = heap.back();
      TExchange& exchange = slots[due.Slot];
      if (exchange.Lines.empty()) FGenerator.Step(exchange, due.Stamp);
      const std::size_t at = exchange.Next++;
      if (!Record(exchange, at)) return;
      if (exchange.Next < exchange.Lines.size()) {
        due.Stamp = exchange.Stamps[exchange.Next];
      } else {
        const std::int64_t now = exchange.Stamps[at];
        FGenerator.Release(exchange);
        due.Stamp = FGenerator.NextStart(now);
        due.Serial = serial++;
      }
      std::push_heap(heap.begin(), heap.end(), later);
    }
  }

 private:
  // Writes record AAt of AExchange (with the fillers a split break needs before it); false once
  // a limit is reached.
  bool Record(const TExchange& AExchange, std::size_t AAt) {
    const std::string& line = AExchange.Lines[AAt];
    const std::int64_t stamp = AExchange.Stamps[AAt];
    std::string_view out = line;
    if (FOdd.Chance(FOptions.HexRate)) {
      // The whole line but its CR LF, as 0x and two upper-case hex digits per byte.
      FHex.assign("0x");
      AppendHexBytes(FHex, std::string_view(line).substr(0, line.size() - 2));
      FHex.append("\r\n");
      out = FHex;
    }
    if (FOptions.SplitBreaks && !SplitBefore(out.size(), TimestampOf(line), stamp)) return false;
    return Emit(out, stamp, AExchange.Facts[AAt], AExchange.User);
  }

  // Every generated record starts <Event><Timestamp data_type="4"> and a 23-character stamp.
  static std::string_view TimestampOf(std::string_view ALine) {
    constexpr std::string_view head = "<Event><Timestamp data_type=\"4\">";
    return ALine.substr(head.size(), 23);
  }

  // AStamp, AFacts and AUser describe the record ALine holds, for the tally.
  bool Emit(std::string_view ALine, std::int64_t AStamp, TRecordFacts AFacts, std::string_view AUser) {
    Put(ALine, AStamp, AFacts, AUser);
    if (FOdd.Chance(FOptions.EmptyRate)) FOutput.Put("\r\n");
    return !LimitReached();
  }

  void Put(std::string_view ALine, std::int64_t AStamp, TRecordFacts AFacts, std::string_view AUser) {
    FOutput.Put(ALine);
    ++FRecords;
    if (FTally != nullptr) FTally->Add(AStamp, AFacts, AUser);
  }

  bool LimitReached() const {
    return (FOptions.RecordLimit != 0 && FRecords >= FOptions.RecordLimit) ||
           (FOptions.SizeLimit != 0 && FOutput.Position() >= FOptions.SizeLimit);
  }

  // A record of ALength bytes is about to be written. If it would cross the next 1 MiB
  // boundary anywhere but exactly between its CR and LF, and there is room, fill up to the
  // boundary so that the last filler's CR is the byte before it and its LF the byte after.
  // The fillers take the record's Timestamp: AStamp as written, AMillis as a number.
  bool SplitBefore(std::uint64_t ALength, std::string_view AStamp, std::int64_t AMillis) {
    constexpr TRecordFacts kFiller = {1, 0};  // an Access-Request that stays unanswered
    const std::uint64_t pos = FOutput.Position();
    const std::uint64_t boundary = (pos / kMiB + 1) * kMiB;
    if (pos + ALength <= boundary + 1 || boundary - pos < kSplitMinRoom) return true;
    std::uint64_t need = boundary + 1 - pos;  // bytes up to and including the LF after the boundary
    for (;;) {
      FGenerator.Filler(FFill, FFillUser, AStamp, 0);
      if (need >= FFill.size() + kSplitNaturalSlack) {
        if (!Emit(FFill, AMillis, kFiller, FFillUser)) return false;
        need = boundary + 1 - FOutput.Position();
        continue;
      }
      // Empty lines after natural fillers can leave too little room; then the record just
      // crosses the boundary mid-line, which readers must handle anyway.
      if (need < kSplitMinRoom || FOutput.Position() > boundary) return true;
      if (!FGenerator.Filler(FFill, FFillUser, AStamp, need)) return true;
      // An empty line here would push the break off the boundary, so none follows a filler.
      Put(FFill, AMillis, kFiller, FFillUser);
      return !LimitReached();
    }
  }

  const TOptions& FOptions;
  TGenerator& FGenerator;
  TOutput& FOutput;
  TTally* FTally;
  TRandom FOdd;
  std::uint64_t FRecords = 0;
  std::string FHex;
  std::string FFill;
  std::string FFillUser;
};

// ---------------------------------------------------------------------------------------------
// Command line

std::uint64_t ParseSize(const std::string& AText) {
  std::uint64_t value = 0;
  const char* first = AText.data();
  const char* last = first + AText.size();
  const auto res = std::from_chars(first, last, value);
  if (res.ec != std::errc() || res.ptr == first) throw CLI::ValidationError("--size", "not a size: " + AText);
  std::uint64_t unit = 1;
  std::string_view suffix(res.ptr, static_cast<std::size_t>(last - res.ptr));
  if (!suffix.empty()) {
    switch (suffix[0]) {
      case 'k':
      case 'K':
        unit = 1024;
        break;
      case 'm':
      case 'M':
        unit = 1024 * 1024;
        break;
      case 'g':
      case 'G':
        unit = 1024 * 1024 * 1024;
        break;
      default:
        throw CLI::ValidationError("--size", "unknown unit in " + AText + " (use K, M or G)");
    }
    suffix.remove_prefix(1);
    if (suffix == "iB" || suffix == "B") suffix = {};
    if (!suffix.empty()) throw CLI::ValidationError("--size", "unknown unit in " + AText + " (use K, M or G)");
  }
  if (value == 0 || value > std::numeric_limits<std::uint64_t>::max() / unit) {
    throw CLI::ValidationError("--size", "out of range: " + AText);
  }
  return value * unit;
}

std::array<std::uint32_t, kKindCount> ParseMix(const std::string& AText) {
  std::array<std::uint32_t, kKindCount> mix{};
  std::string_view rest = AText;
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const std::size_t eq = item.find('=');
    if (eq == std::string_view::npos) throw CLI::ValidationError("--mix", "expected KIND=WEIGHT, got " + std::string(item));
    const std::string_view name = item.substr(0, eq);
    const std::string_view number = item.substr(eq + 1);
    std::size_t kind = kKindCount;
    for (std::size_t i = 0; i < kKindCount; ++i) {
      if (kKindNames[i] == name) kind = i;
    }
    if (kind == kKindCount) {
      throw CLI::ValidationError("--mix", "unknown kind " + std::string(name) + " (accept, reject, challenge, accounting)");
    }
    std::uint32_t weight = 0;
    const auto res = std::from_chars(number.data(), number.data() + number.size(), weight);
    if (res.ec != std::errc() || res.ptr != number.data() + number.size() || number.empty() || weight > 1000000) {
      throw CLI::ValidationError("--mix", "bad weight for " + std::string(name) + ": " + std::string(number));
    }
    mix[kind] = weight;
  }
  std::uint64_t total = 0;
  for (const auto w : mix) total += w;
  if (total == 0) throw CLI::ValidationError("--mix", "all weights are zero");
  return mix;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  std::string sizeText;
  std::string mixText;

  CLI::App app{
      "velloran-genlog: write a synthetic, deterministic XML accounting log of a network policy (RADIUS) server.\n"
      "One <Event> record per line, CR LF line ends, UTF-8. The same options give the same bytes on any machine.\n"
      "With neither --size nor --records, 1000 records are written."};
  app.footer(
      "Records: Access-Request (Packet-Type 1) answered by Access-Accept (2), Access-Reject (3, with its Reason-Code) "
      "or Access-Challenge (11, with State); Accounting-Request (4) answered by Accounting-Response (5). A request "
      "and its reply share the Class value, and usually the Timestamp, which never goes backwards. With --concurrency "
      "the exchanges overlap: records of other exchanges may come between a request and its reply, but no two "
      "exchanges in flight share a Class.\n"
      "The oddities (--bom, --empty-lines, --hex-lines, --long-lines, --split-breaks) are off by default and draw "
      "from a random stream of their own: the ordinary records stay the same whichever are on. The fillers that "
      "--split-breaks writes count as records for --records; where the record crossing a boundary is a long one, "
      "fillers of ordinary length come first and only the last one is padded.");
  app.add_option("--seed", options.Seed, "Seed of the random choices (default 1)");
  app.add_option("--size", sizeText,
                 "Stop after the first record that makes the output reach BYTES; K, M and G suffixes are binary "
                 "(1M = 1,048,576)")
      ->type_name("BYTES");
  app.add_option("--records", options.RecordLimit, "Stop after N records (with --size too: whichever comes first)")
      ->type_name("N")
      ->check(CLI::PositiveNumber);
  app.add_option("--concurrency", options.Concurrency,
                 "Sessions in flight at once, 1 to 100000 (default 1). Each runs its exchanges one after another "
                 "as the single stream does, and their records are interleaved in Timestamp order, as on a server N "
                 "times as busy; 1 writes the same bytes as leaving the option out")
      ->type_name("N")
      ->check(CLI::Range(std::uint32_t{1}, kMaxConcurrency));
  app.add_option("-o,--out", options.OutFile, "Output file (default, or -: standard output)")->type_name("FILE");
  app.add_option("--mix", mixText,
                 "Relative weights of the session kinds, e.g. accept=60,reject=25,challenge=5,accounting=10; kinds "
                 "left out weigh 0 (default accept=45,reject=15,challenge=12,accounting=28). accept: request and "
                 "accept; reject: request and reject with a reason code; challenge: 1-4 Access-Challenge rounds, then "
                 "accept or (1 in 5) reject; accounting: one start, interim or stop of an accepted session, as an "
                 "Accounting-Request and its Accounting-Response")
      ->type_name("KIND=W,...");
  app.add_option("--server", options.Server, "The server's name, written as every record's Computer-Name (default NPS-HQ-01)")
      ->type_name("NAME");
  app.add_flag("--bom", options.Bom, "Begin the file with a UTF-8 byte-order mark (EF BB BF)");
  app.add_option("--empty-lines", options.EmptyRate, "Probability of an empty line (CR LF) after a record")
      ->type_name("RATE")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--hex-lines", options.HexRate,
                 "Probability that a record is written as 0x and its bytes in upper-case hex (two digits per byte)")
      ->type_name("RATE")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--long-lines", options.LongRate,
                 "Probability that a record carries one very long octet-string attribute, making the line 40-70 KiB")
      ->type_name("RATE")
      ->check(CLI::Range(0.0, 1.0));
  app.add_flag("--split-breaks", options.SplitBreaks,
               "Where the next record would cross a 1 MiB boundary of the output with at least 700 bytes left before "
               "it, write a padded unanswered Access-Request (Connect-Info filled with spaces) whose CR is the last "
               "byte before the boundary and whose LF is the first after it");
  app.add_option("--users", options.Users,
                 "Replace the built-in directory (people, computers, devices, unknown names) by N synthetic accounts, "
                 "1 to 4294967296: the k-th session (counted from 0 in the order sessions start) is account k mod N, "
                 "with User-Name and SAM-Account-Name CORP\\u0000042 (the number zero-padded to 7 digits), "
                 "Fully-Qualifed-User-Name corp.example.com/Users/u0000042 and Calling-Station-Id 02-00-00-00-00-2A "
                 "(the number's four bytes; VPN sessions keep their peer's address); --split-breaks fillers take a "
                 "random account. Every other field is written as without the option. At the default --mix a session "
                 "takes about 3.6 records, so N distinct users need about 3.6 N records")
      ->type_name("N")
      ->check(CLI::Range(std::uint64_t{1}, kMaxUsers));
  CLI::Option* tallyOption =
      app.add_option("--tally", options.TallyFile,
                     "After the log, write to FILE (-: standard output) what it holds, one row of tab-separated fields a "
                     "line, in these sections: records N (fillers and hex lines included); packet-type TYPE COUNT; "
                     "reason CODE COUNT (of Access-Rejects); user NAME COUNT (User-Name of Access-Requests, entities "
                     "decoded); refused-user NAME COUNT (for each Access-Reject, the User-Name of the request it "
                     "answers); interval START REQUESTS ACCEPTS REJECTS CHALLENGES ACCOUNTING (see --tally-interval). "
                     "Rows of numbers ascend, names sort bytewise")
          ->type_name("FILE");
  app.add_option("--tally-interval", options.TallyInterval,
                 "Length of the tally's intervals (default 3600), aligned to multiples of SECONDS counted from "
                 "1970-01-01T00:00:00 of the log's clock (86400: days from midnight). A record counts in the interval "
                 "its Timestamp falls into, by Packet-Type: 1 requests, 2 accepts, 3 rejects, 11 challenges, 4 and 5 "
                 "accounting; START is written as 2026-03-02T06:00:00, and only intervals with records have a row")
      ->type_name("SECONDS")
      ->check(CLI::PositiveNumber)
      ->needs(tallyOption);

  try {
    app.parse(argc, argv);
    if (!sizeText.empty()) options.SizeLimit = ParseSize(sizeText);
    if (!mixText.empty()) options.Mix = ParseMix(mixText);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  if (options.SizeLimit == 0 && options.RecordLimit == 0) options.RecordLimit = 1000;
  if (!options.Server.empty()) ServerName = options.Server;

  try {
    TGenerator generator(options.Seed, options.Mix, options.LongRate, options.Users);
    TOutput output(options.OutFile);
    // Created before the log is written, so that a tally that cannot be written fails at once.
    std::optional<TOutput> tallyOutput;
    std::optional<TTally> tally;
    if (!options.TallyFile.empty()) {
      tallyOutput.emplace(options.TallyFile);
      tally.emplace(options.TallyInterval);
    }
    TWriter writer(options, generator, output, tally ? &*tally : nullptr);
    writer.Run();
    output.Close();
    if (tally) {
      tally->Write(*tallyOutput);
      tallyOutput->Close();
    }
  } catch (const std::exception& e) {
    std::cerr << "velloran-genlog: " << e.what() << '\n';
    return kExitError;
  }
  return 0;
}
