// A query compiled once for many records: the exact test of a parsed row, and the prefilter
// that lets a scan parse only the lines that can match. The prefilter is a set of anchors,
// literals in the log's escaped form of which every matching line holds at least one, each
// with a check of the raw value at the place it was found.
//
// Threading: a compiled query is immutable; any number of threads may use one at once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QueryParser.h"
#include "Rows.h"

namespace velloran {

struct TQueryTerm;

// Where a scan looks first. A tag anchor is "<" plus a field name and is checked against the
// value of the element it opens; a value anchor is a piece of a value and is checked against
// the value it lies in. Needles are lower-case ASCII and are searched ignoring ASCII case.
struct TQueryAnchor {
  enum TKind { akTag, akValue };
  TKind Kind = akValue;
  std::string Needle;
  int Term = -1;  // the term whose test the value must pass
};

// The request of a reply, asked for only when a reply lacks a field that a term compares;
// null when the reply has none.
using TRequestRowFn = std::function<const TrdlDataRow*()>;

class TCompiledQuery {
 public:
  // Throws EQuerySyntax for a malformed query, a bad regular expression (at its column) and a
  // comparison with something that is no number or time.
  static std::shared_ptr<const TCompiledQuery> Compile(std::string_view AText);
  ~TCompiledQuery();
  TCompiledQuery(const TCompiledQuery&) = delete;
  TCompiledQuery& operator=(const TCompiledQuery&) = delete;

  const std::string& Text() const { return FText; }
  const TQueryNode& Tree() const { return FTree; }
  // The empty query: every record matches.
  bool MatchesAll() const { return FTree.Kind == TQueryKind::qkAll; }
  // The fields the query compares, each once.
  const std::vector<std::string>& FieldNames() const { return FFieldNames; }

  // The exact test of one record. On a reply (Access-Accept, -Reject, -Challenge), a field
  // the row lacks takes the value of its request, which ARequest supplies (it may be empty).
  bool Matches(const TrdlDataRow& ARow, const TRequestRowFn& ARequest) const;
  // Whether a value of field AField would satisfy a term that does not exclude (a word, =, ~,
  // a comparison): the cells a find marks.
  bool CellMatches(std::string_view AField, std::string_view ARaw) const;

  // The prefilter; empty when every line must be parsed (not, !=, an empty query).
  const std::vector<TQueryAnchor>& Anchors() const { return FAnchors; }
  bool HasAnchors() const { return !FAnchors.empty(); }
  // Whether some anchor is a piece of a value, which a numeric character reference ("&#...;")
  // can hide: lines that hold "&#" are then parsed too.
  bool AnchorsSeeValues() const { return FAnchorsSeeValues; }
  // Whether a matching reply may hold no anchor itself because a term takes the field from
  // its request: the scan then also tests the replies of every candidate request.
  bool JoinsReplies() const { return FJoinsReplies; }
  // The check of an anchor found at ALine[AAt], in two steps for lines that may only be read
  // under a guard: where the value to test lies (reads the line, allocates nothing), then the
  // test of that value.
  enum class TAnchorPlace { apNo, apYes, apValue };
  TAnchorPlace PlaceOfAnchor(const TQueryAnchor& AAnchor, std::string_view ALine, size_t AAt, size_t& AValueBegin,
                             size_t& AValueEnd) const;
  bool AnchorValueHolds(const TQueryAnchor& AAnchor, std::string_view AValue) const;

 private:
  TCompiledQuery(std::string AText, TQueryNode ATree);
  struct TEval;
  void CompileNode(TQueryNode& ANode);
  bool Evaluate(const TQueryNode& ANode, TEval& AEval) const;
  bool TermHolds(const TQueryTerm& ATerm, TEval& AEval) const;
  std::vector<TQueryAnchor> AnchorsOf(const TQueryNode& ANode);

  std::string FText;
  TQueryNode FTree;
  std::vector<std::string> FFieldNames;
  std::vector<std::unique_ptr<TQueryTerm>> FTerms;  // in the tree's order; hidden checks after
  std::vector<const TQueryNode*> FTermNodes;
  std::vector<TQueryAnchor> FAnchors;
  bool FAnchorsSeeValues = false;
  bool FJoinsReplies = false;
};

}  // namespace velloran
