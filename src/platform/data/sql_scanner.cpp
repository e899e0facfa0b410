#include "platform/data/sql_scanner.h"

#include <cctype>

namespace oapx1 {
namespace {

bool is_word_start(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool is_word_char(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '$' || c == '@' || c == '#' || c >= 0x80;
}

}  // namespace

std::vector<SqlToken> scan_sql(std::string_view s) {
  using Tok = SqlTokenKind;
  std::vector<SqlToken> out;
  size_t i = 0;
  // The end of a quoted token opened at `start`, a doubled `close` standing for itself.
  auto quoted_to = [&](size_t start, char close) {
    size_t j = start + 1;
    while (j < s.size()) {
      if (s[j] == close) {
        if (j + 1 < s.size() && s[j + 1] == close) {
          j += 2;
          continue;
        }
        return j + 1;
      }
      ++j;
    }
    return s.size();
  };
  while (i < s.size()) {
    const unsigned char c = s[i];
    size_t j = i + 1;
    Tok kind;
    if (std::isspace(c)) {
      while (j < s.size() && std::isspace(static_cast<unsigned char>(s[j]))) ++j;
      kind = Tok::kSpace;
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      j = s.find('\n', i);
      j = j == std::string_view::npos ? s.size() : j;
      kind = Tok::kComment;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      j = s.find("*/", i + 2);
      j = j == std::string_view::npos ? s.size() : j + 2;
      kind = Tok::kComment;
    } else if (c == '\'') {
      j = quoted_to(i, '\'');
      kind = Tok::kString;
    } else if ((c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'') {
      j = quoted_to(i + 1, '\'');
      kind = Tok::kNString;
    } else if (c == '"' || c == '`') {
      j = quoted_to(i, static_cast<char>(c));
      kind = Tok::kQuotedIdent;
    } else if (c == '[') {
      j = quoted_to(i, ']');
      kind = Tok::kBracketIdent;
    } else if (std::isdigit(c) ||
               (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
      if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
        if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
          j = k;
          while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
        }
      }
      kind = Tok::kNumber;
      // "0x1F", "1abc": not a plain number; kept whole as a word.
      if (j < s.size() && is_word_char(static_cast<unsigned char>(s[j]))) {
        while (j < s.size() && is_word_char(static_cast<unsigned char>(s[j]))) ++j;
        kind = Tok::kWord;
      }
    } else if (is_word_start(c)) {
      while (j < s.size() && is_word_char(static_cast<unsigned char>(s[j]))) ++j;
      kind = Tok::kWord;
    } else if (c == ';') {
      kind = Tok::kSemicolon;
    } else if (c == '(') {
      kind = Tok::kLParen;
    } else if (c == ')') {
      kind = Tok::kRParen;
    } else if (c == ',') {
      kind = Tok::kComma;
    } else {
      kind = Tok::kOp;
      static constexpr std::string_view kPairs[] = {"<=", ">=", "<>", "!=", "==", "||", "::", "!<", "!>"};
      for (std::string_view p : kPairs) {
        if (s.substr(i, 2) == p) {
          j = i + 2;
          break;
        }
      }
    }
    out.push_back({kind, s.substr(i, j - i)});
    i = j;
  }
  return out;
}

}  // namespace oapx1
