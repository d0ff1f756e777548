// The query language of find and filter: words and phrases, field comparisons, regular
// expressions, and/or/not with parentheses. Parsing turns text into a tree or an error that
// names its column; the meaning of each node lives in CompiledQuery.h.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velloran {

enum class TQueryKind {
  qkAll,           // the empty query: every record
  qkText,          // a word or "a phrase" found in some value
  qkEqual,         // Field = value
  qkNotEqual,      // Field != value
  qkPresent,       // Field = *
  qkAbsent,        // Field != *
  qkMatch,         // Field ~ "regex"
  qkNotMatch,      // Field !~ "regex"
  qkLess,          // Field < value
  qkLessEqual,     // Field <= value
  qkGreater,       // Field > value
  qkGreaterEqual,  // Field >= value
  qkAnd,
  qkOr,
  qkNot,
};

struct TQueryNode {
  TQueryKind Kind = TQueryKind::qkAll;
  std::string Field;  // comparisons only, as written
  std::string Value;  // words, phrases and the right side of comparisons, unquoted
  int Column = 1;     // 1-based character column where the node's text begins
  int ValueColumn = 1;
  std::vector<TQueryNode> Children;  // and, or: two or more; not: one
  int Term = -1;                     // words and comparisons: their place among the compiled terms
};

// A query that cannot be parsed or compiled: what() is the whole message ("unclosed quote at
// column 14"), Column() the 1-based character column it points at.
class EQuerySyntax : public std::runtime_error {
 public:
  EQuerySyntax(const std::string& AWhat, int AColumn);
  int Column() const { return FColumn; }
  // The message without " at column N".
  const std::string& Reason() const { return FReason; }

 private:
  std::string FReason;
  int FColumn;
};

// Nesting deeper than this (parentheses and "not") is refused: a pasted query cannot exhaust
// the stack.
inline constexpr int kMaxQueryDepth = 200;

// The tree of AText; a blank text gives qkAll. Throws EQuerySyntax.
TQueryNode ParseQuery(std::string_view AText);

// The tree as one line, for tests and traces: (and (= "User-Name" "bob") (text "x")).
std::string DescribeQuery(const TQueryNode& ANode);

// The field names the query compares, each once (first spelling kept, case ignored).
std::vector<std::string> QueryFieldNames(const TQueryNode& ANode);

// AValue quoted for a query when it needs it ("a b" → "\"a b\"", a"b → "\"a\"\"b\""); bare
// text that reads back as itself stays as it is.
std::string QuotedQueryValue(std::string_view AValue);

}  // namespace velloran
