// The one reading of SQL text into tokens that the data layer's rules share:
// the translator of the application's dialect, and the judgment of which
// reads may be kept. Literals, quoted names and comments come whole, so
// nothing inside them is ever taken for a keyword, a call or a statement's end.
#ifndef OAPX1_PLATFORM_DATA_SQL_SCANNER_H_
#define OAPX1_PLATFORM_DATA_SQL_SCANNER_H_

#include <cstdint>
#include <string_view>
#include <vector>

namespace oapx1 {

// What a token is.
enum class SqlTokenKind : uint8_t {
  kSpace,        // a run of white space
  kComment,      // "-- ..." up to the line's end (not included), or "/* ... */"
  kWord,         // a keyword or a plain name; also a number run into letters ("0x1F", "1abc")
  kQuotedIdent,  // "name" or `name`, a doubled quote standing for itself
  kBracketIdent, // [name], "]]" standing for "]"
  kString,       // 'text', "''" standing for "'"
  kNString,      // N'text'
  kNumber,       // digits with an optional fraction and exponent
  kOp,           // an operator or other punctuation: one character, or a pair such as "<=" or "::"
  kSemicolon,
  kLParen,
  kRParen,
  kComma,
};

// One token: its kind and its text as written, quotes and comment marks included.
struct SqlToken {
  SqlTokenKind kind;
  std::string_view text;

  // Neither white space nor a comment.
  bool significant() const { return kind != SqlTokenKind::kSpace && kind != SqlTokenKind::kComment; }
};

// Splits `sql` into tokens, in order; together their texts are `sql` again.
// The rules are the application's dialect: names start with a letter, "_" or
// a byte of a multibyte character and go on with those, digits, "$", "@" and
// "#". A literal, quoted name or comment left open runs to the end. Never
// fails. The views point into `sql`.
std::vector<SqlToken> scan_sql(std::string_view sql);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_SQL_SCANNER_H_
