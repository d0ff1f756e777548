#include "CompiledQuery.h"

#include <re2/filtered_re2.h>
#include <re2/re2.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "CodeNames.h"
#include "DecodedText.h"
#include "Exchange.h"
#include "PlatformText.h"
#include "QueryValues.h"

namespace velloran {

using platform::SameTextIgnoringAsciiCase;

// One word or comparison of the query, with everything its test needs prepared.
struct TQueryTerm {
  TQueryKind Kind = TQueryKind::qkText;  // the positive form: = for !=, ~ for !~, present for absent
  bool Negated = false;
  std::string Field;
  TCodedAttribute Codes;
  std::string Folded;                // words and =: the value folded
  bool CodesOnly = false;            // a prefilter check of a word's code names: CodeValues alone
  std::optional<TDecimal> Number;    // = and comparisons with a number
  std::optional<TTimePoint> Time;    // = and comparisons with a time, on a time field
  std::vector<uint32_t> CodeValues;  // =: the values a code name stands for
  std::unique_ptr<RE2> Regex;        // ~
  // Words: coded attributes with the values whose names hold the word.
  std::vector<std::pair<std::string, std::vector<uint32_t>>> NamedValues;

  // The test of one value (=, ~, comparisons; a word on any value), before negation.
  bool ValueHolds(std::string_view ARaw) const;
};

namespace {

bool Contains(std::string_view AText, std::string_view ANeedle) { return AText.find(ANeedle) != std::string_view::npos; }

// The decoded text of a raw value, copied only when it holds a reference.
std::string_view DecodedView(std::string_view ARaw, std::string& AScratch) {
  if (!MayHoldReferences(ARaw)) return ARaw;
  AScratch.clear();
  AppendDecodedText(ARaw, AScratch);
  return AScratch;
}

bool EqualHolds(const TQueryTerm& ATerm, std::string_view AText) {
  if (!ATerm.CodeValues.empty()) {
    const auto code = CodeNumber(AText);
    if (code && std::find(ATerm.CodeValues.begin(), ATerm.CodeValues.end(), *code) != ATerm.CodeValues.end()) return true;
  }
  if (ATerm.CodesOnly) return false;
  if (ATerm.Time) {
    if (const auto time = ParseTime(AText)) return *time == *ATerm.Time;
  }
  if (ATerm.Number) {
    if (const auto number = ParseDecimal(AText)) return CompareDecimals(*number, *ATerm.Number) == 0;
  }
  return Folded(AText) == ATerm.Folded;
}

// <0, 0, >0; AComparable false when the value is no time (or number) to compare with.
int CompareWith(const TQueryTerm& ATerm, std::string_view AText, bool& AComparable) {
  AComparable = false;
  if (ATerm.Time) {
    const auto time = ParseTime(AText);
    if (!time) return 0;
    AComparable = true;
    return *time < *ATerm.Time ? -1 : *time > *ATerm.Time ? 1 : 0;
  }
  const auto number = ParseDecimal(AText);
  if (!number || !ATerm.Number) return 0;
  AComparable = true;
  return CompareDecimals(*number, *ATerm.Number);
}

// The kind a term tests before its negation.
TQueryKind PositiveKind(TQueryKind AKind, bool& ANegated) {
  ANegated = AKind == TQueryKind::qkNotEqual || AKind == TQueryKind::qkAbsent || AKind == TQueryKind::qkNotMatch;
  if (AKind == TQueryKind::qkNotEqual) return TQueryKind::qkEqual;
  if (AKind == TQueryKind::qkAbsent) return TQueryKind::qkPresent;
  if (AKind == TQueryKind::qkNotMatch) return TQueryKind::qkMatch;
  return AKind;
}

// The longest piece of a folded value that the log's escaped form of the value must hold
// byte for byte (ignoring ASCII case): "&" may stay bare or be a reference, ">" and quotes may
// be written either way, "<" is always "&lt;", and letters beyond ASCII fold to other bytes.
std::string EscapedPiece(std::string_view AFolded, std::string_view AAlsoSplitAt = {}) {
  std::string best, piece;
  auto close = [&] {
    if (piece.size() > best.size()) best = piece;
    piece.clear();
  };
  for (char c : AFolded) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || AAlsoSplitAt.find(c) != std::string_view::npos || c == '&' || c == '>' || c == '"' || c == '\'' ||
        c == '\r' || c == '\n') {
      close();
    } else if (c == '<') {
      piece.append("&lt;");
    } else {
      piece.push_back(c);
    }
  }
  close();
  return best;
}

std::string LowerAscii(std::string_view AText) {
  std::string text(AText);
  for (char& c : text) c = platform::AsciiLower(c);
  return text;
}

// Relative cost of the lines an anchor set lets through; a tag anchor passes every line that
// has the field.
int AnchorCost(const std::vector<TQueryAnchor>& AAnchors) {
  int cost = 0;
  for (const TQueryAnchor& anchor : AAnchors) {
    cost += anchor.Kind == TQueryAnchor::akTag ? 200 : 160 / static_cast<int>(std::min<size_t>(anchor.Needle.size(), 16));
  }
  return cost;
}

constexpr size_t kMinValueAnchor = 3;

// The extent of the value of the element whose start tag begins at ALine[ATagAt] (a "<"), by
// the parser's rules: the name runs to the next space, the value from the ">" after it to the
// next "<" (or the line's end).
struct TRawElement {
  std::string_view Name;
  size_t ValueBegin = 0;
  size_t ValueEnd = 0;
};

TRawElement RawElementAt(std::string_view ALine, size_t ATagAt) {
  TRawElement element;
  const size_t nameStart = std::min(ATagAt + 1, ALine.size());
  const size_t nameEnd = std::min(ALine.find(' ', nameStart), ALine.size());
  element.Name = ALine.substr(nameStart, nameEnd - nameStart);
  const size_t tagEnd = std::min(ALine.find('>', nameEnd), ALine.size());
  element.ValueBegin = std::min(tagEnd + 1, ALine.size());
  element.ValueEnd = std::min(ALine.find('<', element.ValueBegin), ALine.size());
  return element;
}

}  // namespace

bool TQueryTerm::ValueHolds(std::string_view ARaw) const {
  std::string scratch;
  const std::string_view text = DecodedView(ARaw, scratch);
  switch (Kind) {
    case TQueryKind::qkText:
      return Contains(velloran::Folded(text), Folded);
    case TQueryKind::qkPresent:
      return true;
    case TQueryKind::qkEqual:
      return EqualHolds(*this, text);
    case TQueryKind::qkMatch: {
      if (RE2::PartialMatch(text, *Regex)) return true;
      const std::string_view name = Codes.NameOfText(text);
      return !name.empty() && RE2::PartialMatch(name, *Regex);
    }
    default: {
      bool comparable = false;
      const int order = CompareWith(*this, text, comparable);
      if (!comparable) return false;
      if (Kind == TQueryKind::qkLess) return order < 0;
      if (Kind == TQueryKind::qkLessEqual) return order <= 0;
      if (Kind == TQueryKind::qkGreater) return order > 0;
      return order >= 0;
    }
  }
}

// What one evaluation of a row knows: the row, and its request once asked for.
struct TCompiledQuery::TEval {
  TEval(const TrdlDataRow& ARow, const TRequestRowFn& ARequestFn) : Row(ARow), RequestFn(ARequestFn) {}

  const TrdlDataRow& Row;
  const TRequestRowFn& RequestFn;
  int IsReply = -1;  // -1: not yet known
  bool RequestAsked = false;
  const TrdlDataRow* Request = nullptr;

  bool Reply() {
    if (IsReply < 0) IsReply = IsReplyPacketType(PacketTypeOf(Row)) ? 1 : 0;
    return IsReply == 1;
  }
  // The row's values decoded and folded, made once for all the words of a query.
  bool FoldedMade = false;
  std::vector<std::string> FoldedValues;
  const std::vector<std::string>& Folded() {
    if (!FoldedMade) {
      FoldedMade = true;
      FoldedValues.resize(static_cast<size_t>(Row.Count()));
      std::string scratch;
      for (int i = 0; i < Row.Count(); ++i) {
        FoldedValues[static_cast<size_t>(i)].clear();
        AppendFolded(DecodedView(Row.Items(i)->RawText(), scratch), FoldedValues[static_cast<size_t>(i)]);
      }
    }
    return FoldedValues;
  }
  const TrdlDataRow* RequestRow() {
    if (!RequestAsked) {
      RequestAsked = true;
      Request = RequestFn ? RequestFn() : nullptr;
    }
    return Request;
  }
};

namespace {

// Whether any item of AField in ARow passes ATest; AFound tells whether the row has the field.
template <typename TTest>
bool AnyItemOf(const TrdlDataRow& ARow, std::string_view AField, bool& AFound, const TTest& ATest) {
  AFound = false;
  for (int i = 0; i < ARow.Count(); ++i) {
    const TrdlDataRowItem* item = ARow.Items(i);
    const TrdlDataColumn* column = item->Column();
    if (column == nullptr || column->ColumnName().size() != AField.size() ||
        !SameTextIgnoringAsciiCase(column->ColumnName(), AField))
      continue;
    AFound = true;
    if (ATest(item->RawText())) return true;
  }
  return false;
}

}  // namespace

TCompiledQuery::TCompiledQuery(std::string AText, TQueryNode ATree) : FText(std::move(AText)), FTree(std::move(ATree)) {}

TCompiledQuery::~TCompiledQuery() = default;

std::shared_ptr<const TCompiledQuery> TCompiledQuery::Compile(std::string_view AText) {
  std::shared_ptr<TCompiledQuery> query(new TCompiledQuery(std::string(AText), ParseQuery(AText)));
  query->FFieldNames = QueryFieldNames(query->FTree);
  query->CompileNode(query->FTree);
  if (!query->MatchesAll()) {
    query->FAnchors = query->AnchorsOf(query->FTree);
    // Each anchor is one more pass over every window: past a few dozen, parsing every line is
    // cheaper.
    constexpr size_t kMaxAnchors = 64;
    if (query->FAnchors.size() > kMaxAnchors) query->FAnchors.clear();
    for (const TQueryAnchor& anchor : query->FAnchors) {
      const TQueryTerm& term = *query->FTerms[static_cast<size_t>(anchor.Term)];
      query->FAnchorsSeeValues = query->FAnchorsSeeValues || anchor.Kind == TQueryAnchor::akValue;
      query->FJoinsReplies = query->FJoinsReplies || (term.Kind != TQueryKind::qkText && !term.CodesOnly);
    }
  }
  return query;
}

void TCompiledQuery::CompileNode(TQueryNode& ANode) {
  for (TQueryNode& child : ANode.Children) CompileNode(child);
  if (ANode.Kind == TQueryKind::qkAll || ANode.Kind == TQueryKind::qkAnd || ANode.Kind == TQueryKind::qkOr ||
      ANode.Kind == TQueryKind::qkNot)
    return;
  auto term = std::make_unique<TQueryTerm>();
  term->Kind = PositiveKind(ANode.Kind, term->Negated);
  term->Field = ANode.Field;
  term->Codes = TCodedAttribute::Of(ANode.Field);
  term->Folded = Folded(ANode.Value);
  const bool timeField = IsTimeField(ANode.Field);
  switch (term->Kind) {
    case TQueryKind::qkText:
      for (const std::string_view attribute : CodedAttributeNames()) {
        std::vector<uint32_t> values;
        for (const auto& [value, name] : TCodedAttribute::Of(attribute).Names()) {
          if (Contains(Folded(name), term->Folded)) values.push_back(value);
        }
        if (!values.empty()) term->NamedValues.emplace_back(std::string(attribute), std::move(values));
      }
      break;
    case TQueryKind::qkEqual:
      term->CodeValues = term->Codes.ValuesNamed(ANode.Value);
      term->Number = ParseDecimal(ANode.Value);
      if (timeField) term->Time = ParseTime(ANode.Value);
      break;
    case TQueryKind::qkMatch: {
      RE2::Options options;
      options.set_case_sensitive(false);
      options.set_log_errors(false);
      term->Regex = std::make_unique<RE2>(ANode.Value, options);
      if (!term->Regex->ok()) throw EQuerySyntax("bad regular expression (" + term->Regex->error() + ")", ANode.ValueColumn);
      break;
    }
    case TQueryKind::qkPresent:
      break;
    default:
      term->Number = ParseDecimal(ANode.Value);
      term->Time = ParseTime(ANode.Value);
      if (timeField && !term->Time)
        throw EQuerySyntax("'" + ANode.Value + "' is no time (write 12/01/2026 08:00 or 2026-12-01T08:00)", ANode.ValueColumn);
      if (!term->Number && !term->Time) throw EQuerySyntax("'" + ANode.Value + "' is no number or time", ANode.ValueColumn);
      if (term->Time) term->Number.reset();
  }
  ANode.Term = static_cast<int>(FTerms.size());
  FTermNodes.push_back(&ANode);
  FTerms.push_back(std::move(term));
}

bool TCompiledQuery::Matches(const TrdlDataRow& ARow, const TRequestRowFn& ARequest) const {
  if (MatchesAll()) return true;
  TEval eval{ARow, ARequest};
  return Evaluate(FTree, eval);
}

bool TCompiledQuery::Evaluate(const TQueryNode& ANode, TEval& AEval) const {
  switch (ANode.Kind) {
    case TQueryKind::qkAll:
      return true;
    case TQueryKind::qkAnd:
      return std::all_of(ANode.Children.begin(), ANode.Children.end(), [&](const TQueryNode& C) { return Evaluate(C, AEval); });
    case TQueryKind::qkOr:
      return std::any_of(ANode.Children.begin(), ANode.Children.end(), [&](const TQueryNode& C) { return Evaluate(C, AEval); });
    case TQueryKind::qkNot:
      return !Evaluate(ANode.Children.front(), AEval);
    default:
      return TermHolds(*FTerms[static_cast<size_t>(ANode.Term)], AEval);
  }
}

bool TCompiledQuery::TermHolds(const TQueryTerm& ATerm, TEval& AEval) const {
  const auto test = [&](std::string_view ARaw) { return ATerm.ValueHolds(ARaw); };
  if (ATerm.Kind == TQueryKind::qkText) {
    const TrdlDataRow& row = AEval.Row;
    for (const std::string& value : AEval.Folded()) {
      if (Contains(value, ATerm.Folded)) return true;
    }
    for (const auto& named : ATerm.NamedValues) {
      const std::vector<uint32_t>& values = named.second;
      bool found = false;
      const bool isNamed = AnyItemOf(row, named.first, found, [&](std::string_view ARaw) {
        std::string scratch;
        const auto code = CodeNumber(DecodedView(ARaw, scratch));
        return code && std::find(values.begin(), values.end(), *code) != values.end();
      });
      if (isNamed) return true;
    }
    return false;
  }
  bool found = false;
  bool holds = AnyItemOf(AEval.Row, ATerm.Field, found, test);
  if (!found && AEval.Reply()) {
    if (const TrdlDataRow* request = AEval.RequestRow()) holds = AnyItemOf(*request, ATerm.Field, found, test);
  }
  return holds != ATerm.Negated;
}

bool TCompiledQuery::CellMatches(std::string_view AField, std::string_view ARaw) const {
  for (size_t i = 0; i < FTermNodes.size(); ++i) {
    const TQueryTerm& term = *FTerms[i];
    if (term.Negated || term.Kind == TQueryKind::qkPresent) continue;
    if (term.Kind == TQueryKind::qkText) {
      if (term.ValueHolds(ARaw)) return true;
      for (const auto& [attribute, values] : term.NamedValues) {
        std::string scratch;
        const auto code = CodeNumber(DecodedView(ARaw, scratch));
        if (SameTextIgnoringAsciiCase(attribute, AField) && code &&
            std::find(values.begin(), values.end(), *code) != values.end())
          return true;
      }
    } else if (SameTextIgnoringAsciiCase(term.Field, AField) && term.ValueHolds(ARaw)) {
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// The prefilter

namespace {

// The atoms a regular expression cannot match without: the longest one that every match
// holds, else all of them when a match holds at least one; empty when there is no such set.
std::vector<std::string> RegexAtoms(const std::string& APattern) {
  re2::FilteredRE2 filter(static_cast<int>(kMinValueAnchor));
  RE2::Options options;
  options.set_case_sensitive(false);
  options.set_log_errors(false);
  int id = 0;
  if (filter.Add(APattern, options, &id) != RE2::NoError) return {};
  std::vector<std::string> atoms;
  filter.Compile(&atoms);
  std::vector<int> potential;
  filter.AllPotentials({}, &potential);
  if (!potential.empty() || atoms.empty()) return {};  // matches without any atom
  std::string best;
  for (size_t skip = 0; skip < atoms.size(); ++skip) {
    std::vector<int> others;
    for (size_t i = 0; i < atoms.size(); ++i) {
      if (i != skip) others.push_back(static_cast<int>(i));
    }
    potential.clear();
    filter.AllPotentials(others, &potential);
    if (potential.empty() && atoms[skip].size() > best.size()) best = atoms[skip];
  }
  if (!best.empty()) return {best};
  return atoms;
}

}  // namespace

std::vector<TQueryAnchor> TCompiledQuery::AnchorsOf(const TQueryNode& ANode) {
  switch (ANode.Kind) {
    case TQueryKind::qkAnd: {
      std::vector<TQueryAnchor> best;
      for (const TQueryNode& child : ANode.Children) {
        std::vector<TQueryAnchor> anchors = AnchorsOf(child);
        if (!anchors.empty() && (best.empty() || AnchorCost(anchors) < AnchorCost(best))) best = std::move(anchors);
      }
      return best;
    }
    case TQueryKind::qkOr: {
      std::vector<TQueryAnchor> all;
      for (const TQueryNode& child : ANode.Children) {
        std::vector<TQueryAnchor> anchors = AnchorsOf(child);
        if (anchors.empty()) return {};
        all.insert(all.end(), anchors.begin(), anchors.end());
      }
      return all;
    }
    case TQueryKind::qkAll:
    case TQueryKind::qkNot:
    case TQueryKind::qkNotEqual:
    case TQueryKind::qkAbsent:
    case TQueryKind::qkNotMatch:
      return {};
    default:
      break;
  }
  const int termIndex = ANode.Term;
  const TQueryTerm& term = *FTerms[static_cast<size_t>(termIndex)];
  const auto tag = [](std::string_view AField, int ATerm) {
    std::string needle = "<";
    needle.append(LowerAscii(AField));
    return TQueryAnchor{TQueryAnchor::akTag, needle, ATerm};
  };
  std::vector<TQueryAnchor> anchors;
  if (term.Kind == TQueryKind::qkText) {
    const std::string piece = EscapedPiece(term.Folded);
    if (piece.empty()) return {};
    anchors.push_back({TQueryAnchor::akValue, piece, termIndex});
    for (const auto& [attribute, values] : term.NamedValues) {
      auto check = std::make_unique<TQueryTerm>();
      check->Kind = TQueryKind::qkEqual;
      check->Field = attribute;
      check->CodesOnly = true;
      check->CodeValues = values;
      FTerms.push_back(std::move(check));
      anchors.push_back(tag(attribute, static_cast<int>(FTerms.size()) - 1));
    }
    return anchors;
  }
  std::string piece;
  if (term.Kind == TQueryKind::qkEqual && term.CodeValues.empty() && !term.Time) {
    piece = EscapedPiece(term.Number ? term.Number->Canonical() : term.Folded);
    if (term.Number && !piece.empty() && piece.front() == '-') piece.erase(0, 1);  // "-03" holds "3", not "-3"
  }
  if (term.Kind == TQueryKind::qkMatch && !term.Codes.HasNames()) {
    const std::vector<std::string> atoms = RegexAtoms(FTermNodes[static_cast<size_t>(termIndex)]->Value);
    for (const std::string& atom : atoms) {
      // Regular expressions fold case by Unicode's rules, where K and S have partners beyond
      // ASCII (the Kelvin sign, the long s).
      const std::string atomPiece = EscapedPiece(Folded(atom), "ks");
      if (atomPiece.size() < kMinValueAnchor) {
        anchors.clear();
        break;
      }
      anchors.push_back({TQueryAnchor::akValue, atomPiece, termIndex});
    }
    if (!anchors.empty()) return anchors;
  }
  if (piece.size() >= kMinValueAnchor) return {{TQueryAnchor::akValue, piece, termIndex}};
  return {tag(term.Field, termIndex)};
}

bool TCompiledQuery::AnchorValueHolds(const TQueryAnchor& AAnchor, std::string_view AValue) const {
  const TQueryTerm& term = *FTerms[static_cast<size_t>(AAnchor.Term)];
  return term.Kind == TQueryKind::qkPresent || term.ValueHolds(AValue);
}

TCompiledQuery::TAnchorPlace TCompiledQuery::PlaceOfAnchor(const TQueryAnchor& AAnchor, std::string_view ALine, size_t AAt,
                                                           size_t& AValueBegin, size_t& AValueEnd) const {
  const TQueryTerm& term = *FTerms[static_cast<size_t>(AAnchor.Term)];
  TRawElement element;
  if (AAnchor.Kind == TQueryAnchor::akTag) {
    const size_t after = AAt + AAnchor.Needle.size();
    if (after < ALine.size() && ALine[after] != ' ') return TAnchorPlace::apNo;
    element = RawElementAt(ALine, AAt);
  } else {
    // A value anchor: the element around it is the one whose "<" comes last before it.
    const void* open = AAt > 0 ? ::memrchr(ALine.data(), '<', AAt) : nullptr;
    if (open == nullptr) return TAnchorPlace::apNo;  // before the first element: no value
    const size_t tagAt = static_cast<size_t>(static_cast<const char*>(open) - ALine.data());
    const bool closeInBetween = std::memchr(ALine.data() + tagAt, '>', AAt - tagAt) != nullptr;
    // After an end tag, or inside a start tag: no value, unless the markup is odd enough that
    // only the parser can tell.
    const TAnchorPlace outside = closeInBetween ? TAnchorPlace::apYes : TAnchorPlace::apNo;
    if (tagAt + 1 < ALine.size() && ALine[tagAt + 1] == '/') return outside;
    element = RawElementAt(ALine, tagAt);
    if (element.ValueBegin > AAt) return outside;
    if (term.Kind != TQueryKind::qkText && !SameTextIgnoringAsciiCase(element.Name, term.Field)) return TAnchorPlace::apNo;
  }
  AValueBegin = element.ValueBegin;
  AValueEnd = element.ValueEnd;
  return TAnchorPlace::apValue;
}

}  // namespace velloran
