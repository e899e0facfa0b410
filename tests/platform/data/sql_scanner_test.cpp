// The SQL scanner on its own: where each token of a text ends and what kind
// it is, literals, quoted names and comments kept whole.
#include "platform/data/sql_scanner.h"

#include <gtest/gtest.h>

#include <string>

namespace oapx1 {
namespace {

// The significant tokens of `sql`, each as KIND:TEXT, separated by spaces;
// the letters name the kinds (w word, q quoted name, b bracketed name, s
// string, n N-string, d number, o operator, ; ( ) , themselves).
std::string tokens_of(std::string_view sql) {
  std::string out, whole;
  for (const SqlToken& t : scan_sql(sql)) {
    whole += t.text;
    if (!t.significant()) continue;
    static constexpr char kLetters[] = "  wqbsndo;(),";
    if (!out.empty()) out += ' ';
    out += kLetters[static_cast<int>(t.kind)];
    out += ':';
    out += t.text;
  }
  EXPECT_EQ(whole, sql) << "the tokens do not make up the text";
  return out;
}

TEST(SqlScanner, keeps_literals_quoted_names_and_comments_whole) {
  struct Case {
    const char* sql;
    const char* tokens;
  };
  const Case cases[] = {
      {"select a,b from t;", "w:select w:a ,:, w:b w:from w:t ;:;"},
      {"'it''s' N'x' n'y'", "s:'it''s' n:N'x' n:n'y'"},
      {"\"a\"\"b\" `c` [d]]e]", "q:\"a\"\"b\" q:`c` b:[d]]e]"},
      {"a -- b ; c\nd /* e ; */ f", "w:a w:d w:f"},
      {"x@y#z$1 _a 名字", "w:x@y#z$1 w:_a w:名字"},
      {"1 2.5 .5 1e3 1e 0x1F 1abc", "d:1 d:2.5 d:.5 d:1e3 w:1e w:0x1F w:1abc"},
      {"a<=b <> c::d !< e||f - g", "w:a o:<= w:b o:<> w:c o::: w:d o:!< w:e o:|| w:f o:- w:g"},
      {"'open", "s:'open"},
      {"[open", "b:[open"},
      {"a /* open", "w:a"},
  };
  for (const Case& c : cases) EXPECT_EQ(tokens_of(c.sql), c.tokens) << c.sql;
}

}  // namespace
}  // namespace oapx1
