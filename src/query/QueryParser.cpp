#include "QueryParser.h"

#include "PlatformText.h"

namespace velloran {

namespace {

using platform::SameTextIgnoringAsciiCase;

enum class TTokenKind { tkEnd, tkOpen, tkClose, tkOperator, tkBare, tkQuoted };

struct TToken {
  TTokenKind Kind = TTokenKind::tkEnd;
  std::string Text;  // operators as written; words unquoted
  size_t At = 0;     // byte offset in the query
};

bool IsSpace(char AChar) { return AChar == ' ' || AChar == '\t' || AChar == '\r' || AChar == '\n'; }

// Bytes that end a bare word. An apostrophe opens a quote only where a token starts, so
// names such as O'Brien need no quotes.
bool EndsBareWord(char AChar) {
  return IsSpace(AChar) || AChar == '(' || AChar == ')' || AChar == '"' || AChar == '=' || AChar == '!' || AChar == '~' ||
         AChar == '<' || AChar == '>';
}

class TQueryParser {
 public:
  explicit TQueryParser(std::string_view AText) : FText(AText) { Advance(); }

  TQueryNode ParseAll() {
    if (FToken.Kind == TTokenKind::tkEnd) return TQueryNode{};
    TQueryNode node = ParseOr(0);
    if (FToken.Kind == TTokenKind::tkClose) Fail("unexpected ')'", FToken.At);
    if (FToken.Kind != TTokenKind::tkEnd) Fail("unexpected '" + FToken.Text + "'", FToken.At);
    return node;
  }

 private:
  // 1-based column in characters (UTF-8 lead bytes) of byte AAt.
  int ColumnOf(size_t AAt) const {
    int column = 1;
    for (size_t i = 0; i < AAt && i < FText.size(); ++i) column += (static_cast<unsigned char>(FText[i]) & 0xC0) != 0x80 ? 1 : 0;
    return column;
  }

  [[noreturn]] void Fail(const std::string& AReason, size_t AAt) const { throw EQuerySyntax(AReason, ColumnOf(AAt)); }

  bool IsKeyword(std::string_view AWord) const {
    return FToken.Kind == TTokenKind::tkBare && SameTextIgnoringAsciiCase(FToken.Text, AWord);
  }
  bool AtOperand() const {
    return FToken.Kind == TTokenKind::tkOpen || FToken.Kind == TTokenKind::tkQuoted ||
           (FToken.Kind == TTokenKind::tkBare && !IsKeyword("and") && !IsKeyword("or"));
  }

  void Advance() {
    size_t p = FPos;
    while (p < FText.size() && IsSpace(FText[p])) ++p;
    FToken = TToken{};
    FToken.At = p;
    if (p >= FText.size()) {
      FPos = p;
      return;
    }
    const char c = FText[p];
    if (c == '(' || c == ')') {
      FToken.Kind = c == '(' ? TTokenKind::tkOpen : TTokenKind::tkClose;
      FToken.Text.assign(1, c);
      FPos = p + 1;
    } else if (c == '"' || c == '\'') {
      ReadQuoted(p);
    } else if (c == '=' || c == '~' || c == '<' || c == '>' || c == '!') {
      ReadOperator(p);
    } else {
      size_t end = p;
      while (end < FText.size() && !EndsBareWord(FText[end])) ++end;
      FToken.Kind = TTokenKind::tkBare;
      FToken.Text.assign(FText.substr(p, end - p));
      FPos = end;
    }
  }

  // A quote ends at the next quote of its kind; two of them in a row stand for one.
  void ReadQuoted(size_t AAt) {
    const char quote = FText[AAt];
    FToken.Kind = TTokenKind::tkQuoted;
    size_t p = AAt + 1;
    for (;;) {
      if (p >= FText.size()) Fail("unclosed quote", AAt);
      if (FText[p] == quote) {
        if (p + 1 < FText.size() && FText[p + 1] == quote) {
          FToken.Text.push_back(quote);
          p += 2;
          continue;
        }
        FPos = p + 1;
        return;
      }
      FToken.Text.push_back(FText[p++]);
    }
  }

  void ReadOperator(size_t AAt) {
    const char c = FText[AAt];
    const bool withEqual = AAt + 1 < FText.size() && FText[AAt + 1] == '=';
    const bool withTilde = AAt + 1 < FText.size() && FText[AAt + 1] == '~';
    FToken.Kind = TTokenKind::tkOperator;
    if (c == '!' && !withEqual && !withTilde) Fail("unexpected '!' (use != or !~)", AAt);
    size_t length = 1;
    if ((c == '!' || c == '<' || c == '>') && withEqual) length = 2;
    if (c == '!' && withTilde) length = 2;
    FToken.Text.assign(FText.substr(AAt, length));
    FPos = AAt + length;
  }

  TQueryNode Combined(TQueryKind AKind, std::vector<TQueryNode> AParts, size_t AAt) const {
    if (AParts.size() == 1) return std::move(AParts.front());
    TQueryNode node;
    node.Kind = AKind;
    node.Column = ColumnOf(AAt);
    node.Children = std::move(AParts);
    return node;
  }

  TQueryNode ParseOr(int ADepth) {
    const size_t at = FToken.At;
    std::vector<TQueryNode> parts;
    parts.push_back(ParseAnd(ADepth));
    while (IsKeyword("or")) {
      const size_t keywordAt = FToken.At;
      Advance();
      if (!AtOperand() && !IsKeyword("not")) Fail("missing term after 'or'", keywordAt);
      parts.push_back(ParseAnd(ADepth));
    }
    return Combined(TQueryKind::qkOr, std::move(parts), at);
  }

  TQueryNode ParseAnd(int ADepth) {
    const size_t at = FToken.At;
    std::vector<TQueryNode> parts;
    parts.push_back(ParseUnary(ADepth));
    for (;;) {
      if (IsKeyword("and")) {
        const size_t keywordAt = FToken.At;
        Advance();
        if (!AtOperand()) Fail("missing term after 'and'", keywordAt);
      } else if (!AtOperand()) {
        break;
      }
      parts.push_back(ParseUnary(ADepth));
    }
    return Combined(TQueryKind::qkAnd, std::move(parts), at);
  }

  TQueryNode ParseUnary(int ADepth) {
    if (ADepth > kMaxQueryDepth) Fail("nesting deeper than " + std::to_string(kMaxQueryDepth) + " levels", FToken.At);
    if (IsKeyword("not")) {
      TQueryNode node;
      node.Kind = TQueryKind::qkNot;
      node.Column = ColumnOf(FToken.At);
      const size_t keywordAt = FToken.At;
      Advance();
      if (!AtOperand() && !IsKeyword("not")) Fail("missing term after 'not'", keywordAt);
      node.Children.push_back(ParseUnary(ADepth + 1));
      return node;
    }
    if (FToken.Kind == TTokenKind::tkOpen) {
      const size_t openAt = FToken.At;
      Advance();
      if (FToken.Kind == TTokenKind::tkClose) Fail("empty parentheses", openAt);
      if (FToken.Kind == TTokenKind::tkEnd) Fail("missing ')' for the '('", openAt);
      TQueryNode inner = ParseOr(ADepth + 1);
      if (FToken.Kind != TTokenKind::tkClose) Fail("missing ')' for the '('", openAt);
      Advance();
      return inner;
    }
    if (FToken.Kind == TTokenKind::tkOperator) Fail("'" + FToken.Text + "' needs a field name before it", FToken.At);
    if (FToken.Kind == TTokenKind::tkClose) Fail("unexpected ')'", FToken.At);
    if (FToken.Kind == TTokenKind::tkEnd) Fail("missing term", FToken.At);
    if (IsKeyword("and") || IsKeyword("or")) Fail("missing term before '" + FToken.Text + "'", FToken.At);
    return ParseTerm();
  }

  TQueryNode ParseTerm() {
    TToken first = FToken;
    Advance();
    TQueryNode node;
    node.Column = ColumnOf(first.At);
    if (FToken.Kind != TTokenKind::tkOperator) {
      if (first.Text.empty()) Fail("empty phrase", first.At);
      node.Kind = TQueryKind::qkText;
      node.Value = std::move(first.Text);
      node.ValueColumn = node.Column;
      return node;
    }
    if (first.Text.empty()) Fail("empty field name", first.At);
    const TToken op = FToken;
    Advance();
    if (FToken.Kind != TTokenKind::tkBare && FToken.Kind != TTokenKind::tkQuoted)
      Fail("missing value after '" + op.Text + "'", op.At);
    node.Field = std::move(first.Text);
    node.Value = FToken.Text;
    node.ValueColumn = ColumnOf(FToken.At);
    const bool star = FToken.Kind == TTokenKind::tkBare && FToken.Text == "*";
    node.Kind = KindOf(op.Text, star);
    Advance();
    return node;
  }

  static TQueryKind KindOf(const std::string& AOperator, bool AStar) {
    if (AOperator == "=") return AStar ? TQueryKind::qkPresent : TQueryKind::qkEqual;
    if (AOperator == "!=") return AStar ? TQueryKind::qkAbsent : TQueryKind::qkNotEqual;
    if (AOperator == "~") return TQueryKind::qkMatch;
    if (AOperator == "!~") return TQueryKind::qkNotMatch;
    if (AOperator == "<") return TQueryKind::qkLess;
    if (AOperator == "<=") return TQueryKind::qkLessEqual;
    if (AOperator == ">") return TQueryKind::qkGreater;
    return TQueryKind::qkGreaterEqual;
  }

  std::string_view FText;
  size_t FPos = 0;
  TToken FToken;
};

std::string_view OperatorText(TQueryKind AKind) {
  switch (AKind) {
    case TQueryKind::qkEqual:
    case TQueryKind::qkPresent:
      return "=";
    case TQueryKind::qkNotEqual:
    case TQueryKind::qkAbsent:
      return "!=";
    case TQueryKind::qkMatch:
      return "~";
    case TQueryKind::qkNotMatch:
      return "!~";
    case TQueryKind::qkLess:
      return "<";
    case TQueryKind::qkLessEqual:
      return "<=";
    case TQueryKind::qkGreater:
      return ">";
    case TQueryKind::qkGreaterEqual:
      return ">=";
    default:
      return "";
  }
}

void Describe(const TQueryNode& ANode, std::string& AOut) {
  switch (ANode.Kind) {
    case TQueryKind::qkAll:
      AOut.append("(all)");
      return;
    case TQueryKind::qkText:
      AOut.append("(text \"").append(ANode.Value).append("\")");
      return;
    case TQueryKind::qkAnd:
    case TQueryKind::qkOr:
    case TQueryKind::qkNot:
      AOut.append(ANode.Kind == TQueryKind::qkAnd ? "(and" : ANode.Kind == TQueryKind::qkOr ? "(or" : "(not");
      for (const TQueryNode& child : ANode.Children) {
        AOut.push_back(' ');
        Describe(child, AOut);
      }
      AOut.push_back(')');
      return;
    case TQueryKind::qkPresent:
    case TQueryKind::qkAbsent:
      AOut.append("(").append(OperatorText(ANode.Kind)).append(" \"").append(ANode.Field).append("\" *)");
      return;
    default:
      AOut.append("(").append(OperatorText(ANode.Kind)).append(" \"").append(ANode.Field).append("\" \"");
      AOut.append(ANode.Value).append("\")");
  }
}

void CollectFields(const TQueryNode& ANode, std::vector<std::string>& AOut) {
  if (!ANode.Field.empty()) {
    bool known = false;
    for (const std::string& name : AOut) known = known || SameTextIgnoringAsciiCase(name, ANode.Field);
    if (!known) AOut.push_back(ANode.Field);
  }
  for (const TQueryNode& child : ANode.Children) CollectFields(child, AOut);
}

}  // namespace

EQuerySyntax::EQuerySyntax(const std::string& AWhat, int AColumn)
    : std::runtime_error(AWhat + " at column " + std::to_string(AColumn)), FReason(AWhat), FColumn(AColumn) {}

TQueryNode ParseQuery(std::string_view AText) { return TQueryParser(AText).ParseAll(); }

std::string DescribeQuery(const TQueryNode& ANode) {
  std::string text;
  Describe(ANode, text);
  return text;
}

std::vector<std::string> QueryFieldNames(const TQueryNode& ANode) {
  std::vector<std::string> names;
  CollectFields(ANode, names);
  return names;
}

std::string QuotedQueryValue(std::string_view AValue) {
  bool bare = !AValue.empty() && AValue.front() != '\'' && AValue != "*";
  for (char c : AValue) bare = bare && !EndsBareWord(c);
  if (bare && (SameTextIgnoringAsciiCase(AValue, "and") || SameTextIgnoringAsciiCase(AValue, "or") ||
               SameTextIgnoringAsciiCase(AValue, "not")))
    bare = false;
  if (bare) return std::string(AValue);
  std::string quoted = "\"";
  for (char c : AValue) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

}  // namespace velloran
