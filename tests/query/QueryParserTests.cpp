#include <gtest/gtest.h>

#include <string>

#include "QueryParser.h"

namespace velloran {
namespace {

struct TParseCase {
  std::string Query;
  std::string Tree;  // DescribeQuery, or empty when an error is expected
  std::string Error;
};

TEST(QueryParserTest, TextToTreeOrErrorWithColumn) {
  const std::string longQuery = std::string(9990, 'a');
  const TParseCase cases[] = {
      {"", "(all)", ""},
      {"   ", "(all)", ""},
      {"alice", "(text \"alice\")", ""},
      {"\"a phrase\"", "(text \"a phrase\")", ""},
      {"'it''s'", "(text \"it's\")", ""},
      {"O'Brien", "(text \"O'Brien\")", ""},
      {"User-Name = CORP\\bob", "(= \"User-Name\" \"CORP\\bob\")", ""},
      {"User-Name=\"CORP\\bob\"", "(= \"User-Name\" \"CORP\\bob\")", ""},
      {"a != b", "(!= \"a\" \"b\")", ""},
      {"a = *", "(= \"a\" *)", ""},
      {"a != *", "(!= \"a\" *)", ""},
      {"a = \"*\"", "(= \"a\" \"*\")", ""},
      {"a ~ \"^7F\" b !~ x", "(and (~ \"a\" \"^7F\") (!~ \"b\" \"x\"))", ""},
      {"a < 1 a <= 2 a > 3 a >= 4", "(and (< \"a\" \"1\") (<= \"a\" \"2\") (> \"a\" \"3\") (>= \"a\" \"4\"))", ""},
      {"x or y and not z", "(or (text \"x\") (and (text \"y\") (not (text \"z\"))))", ""},
      {"(x OR y) AND z", "(and (or (text \"x\") (text \"y\")) (text \"z\"))", ""},
      {"not not x", "(not (not (text \"x\")))", ""},
      {"a = and", "(= \"a\" \"and\")", ""},
      {"\"and\"", "(text \"and\")", ""},
      {longQuery, "(text \"" + longQuery + "\")", ""},
      {"User-Name = \"bob", "", "unclosed quote at column 13"},
      {"(a or b", "", "missing ')' for the '(' at column 1"},
      {"a)", "", "unexpected ')' at column 2"},
      {"()", "", "empty parentheses at column 1"},
      {"= x", "", "'=' needs a field name before it at column 1"},
      {"a =", "", "missing value after '=' at column 3"},
      {"a and", "", "missing term after 'and' at column 3"},
      {"or a", "", "missing term before 'or' at column 1"},
      {"a or", "", "missing term after 'or' at column 3"},
      {"not", "", "missing term after 'not' at column 1"},
      {"a ! b", "", "unexpected '!' (use != or !~) at column 3"},
      {"\"\"", "", "empty phrase at column 1"},
      {"a = b = c", "", "unexpected '=' at column 7"},
      {"é = \"x", "", "unclosed quote at column 5"},  // columns count characters, not bytes
      {std::string(300, '('), "", "nesting deeper than 200 levels at column 202"},
  };
  for (const TParseCase& c : cases) {
    SCOPED_TRACE(c.Query.substr(0, 60));
    if (c.Error.empty()) {
      EXPECT_EQ(DescribeQuery(ParseQuery(c.Query)), c.Tree);
    } else {
      try {
        ParseQuery(c.Query);
        ADD_FAILURE() << "no error";
      } catch (const EQuerySyntax& e) {
        EXPECT_EQ(std::string(e.what()), c.Error);
      }
    }
  }
}

TEST(QueryParserTest, AThousandTermsAndQuotedValuesReadBack) {
  std::string query;
  for (int i = 0; i < 1000; ++i) query.append(i == 0 ? "" : " or ").append("f").append(std::to_string(i)).append(" = v");
  EXPECT_EQ(ParseQuery(query).Children.size(), 1000u);
  for (const std::string value : {"plain", "a b", "say \"hi\"", "*", "and", "'x", "a=b", ""}) {
    const TQueryNode node = ParseQuery("F = " + QuotedQueryValue(value));
    EXPECT_EQ(node.Value, value);
    EXPECT_EQ(node.Kind, TQueryKind::qkEqual);
  }
}

}  // namespace
}  // namespace velloran
