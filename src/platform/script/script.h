// The scripting platform's string builtins and the one place for the text rules
// that page code relies on: character counting over UTF-8, HTML encoding and
// SQL literal quoting.
#ifndef OAPX1_PLATFORM_SCRIPT_SCRIPT_H_
#define OAPX1_PLATFORM_SCRIPT_SCRIPT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/script/variant.h"
#include "platform/text/utf8.h"

namespace oapx1 {

// The string builtins of the scripting platform. Positions and lengths count
// characters, not bytes; positions are 1-based.
namespace vb {
int64_t Len(std::string_view s);
std::string Left(std::string_view s, int64_t n);
std::string Right(std::string_view s, int64_t n);
// Characters from `start` on, `length` of them or all when absent.
std::string Mid(std::string_view s, int64_t start, std::optional<int64_t> length = std::nullopt);
// Position of `find` in `s` searching from `start`; 0 when absent. An empty
// `find` is found at `start`.
int64_t InStr(std::string_view s, std::string_view find, int64_t start = 1);
// Every occurrence of `find` replaced, left to right, case-sensitively; an
// empty `find` leaves the text unchanged.
std::string Replace(std::string_view s, std::string_view find, std::string_view with);
// Pieces between the delimiters; an empty text gives no pieces at all.
std::vector<std::string> Split(std::string_view s, std::string_view delim);
// Leading and trailing spaces removed (spaces only, as the platform does).
std::string Trim(std::string_view s);
std::string LTrim(std::string_view s);
std::string RTrim(std::string_view s);
std::string LCase(std::string_view s);
std::string UCase(std::string_view s);
}  // namespace vb

// The markup encoding for values from the request or the database: & < > " '
// become &amp; &lt; &gt; &quot; &#39;, nothing else changes.
std::string html_encode(std::string_view s);
// The web server's own encoder, as its pages call it: & < > " only.
std::string server_html_encode(std::string_view s);
// The entity the markup encodings put for the byte `c` (&amp; &lt; &gt;
// &quot;, and &#39; for ' when `apostrophe`), or an empty view for a byte
// they keep. For passes that encode while rewriting other bytes.
inline std::string_view markup_entity(char c, bool apostrophe) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return apostrophe ? "&#39;" : std::string_view();
    default: return {};
  }
}
// A value for the inside of a script string literal (quoted with ' or "),
// before the markup encoding of the attribute or element it stands in: \ ' "
// become \\ \' \", line breaks \n and \r, "<" \x3C (no "</script>" can end
// the element); nothing else changes. html_encode(script_string(v)) is what a
// handler attribute holds.
std::string script_string(std::string_view s);
// A value for the query part of a URL written into a page: every ASCII byte
// other than a letter, a digit or one of - _ . ~ becomes %XX; other bytes
// (the UTF-8 of Chinese text) stay as they are, as the application's links
// carry them. No space, quote or markup character remains.
std::string url_query_text(std::string_view s);

// The text of a value for use between apostrophes in SQL: apostrophes doubled,
// null and empty give "".
std::string sql_text(const Variant& v);
// The text of a value for use between apostrophes in a LIKE pattern that
// matches the value itself: \ % _ each preceded by \, then as sql_text. The
// pattern must be followed by escape '\', which both engines understand.
std::string sql_like_text(const Variant& v);
// The text of a value placed bare in SQL, which must read as a number (sign,
// digits, decimals); anything else fails with 13 and no statement is built.
std::string sql_number(const Variant& v);
// As sql_number, for values that must be whole numbers (keys).
std::string sql_integer(const Variant& v);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_SCRIPT_SCRIPT_H_
