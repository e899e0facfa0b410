// Decoding of what a browser sends in a URL and a posted form.
#ifndef OAPX1_SERVER_FORM_H_
#define OAPX1_SERVER_FORM_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text/ascii.h"

namespace oapx1 {

using FormPairs = std::vector<std::pair<std::string, std::string>>;

// The text with its %XX escapes replaced by their bytes; with `plus_as_space`
// a '+' is a space (form encoding). A '%' not followed by two hex digits stays
// as it is. The bytes are returned undecoded (no character set applied).
std::string percent_decode(std::string_view text, bool plus_as_space);

// The character set of a form's bytes.
enum class FormCharset {
  kGb18030,  // the code page the pages are served in: what their forms post
  kUtf8,     // what a client that says so (charset=utf-8) posts
};

// The character set of a posted body by its Content-Type: UTF-8 when its
// charset parameter names UTF-8 (letter case ignored), else GB18030.
FormCharset form_charset(std::string_view content_type);

// The name=value pairs of a query string or an application/x-www-form-urlencoded
// body, in order, names and values percent-decoded and read in `charset` into
// UTF-8. Read as GB18030, a numeric character reference ("&#128512;",
// "&#x1F600;") of a character GBK cannot hold becomes that character: it is
// how a browser posts such a character in a GBK form. Read as UTF-8, an
// invalid byte becomes U+FFFD. A pair without "=" has an empty value; empty
// pairs ("a=1&&b=2") are skipped.
FormPairs parse_form(std::string_view encoded, FormCharset charset = FormCharset::kGb18030);

// The UTF-8 text with each numeric character reference of a character that
// GBK cannot encode replaced by the character; references of characters GBK
// holds, of no character (0, surrogates, beyond U+10FFFF) or without their
// ";" stay as they are (a browser would have sent those characters as bytes).
std::string decode_character_references(std::string_view text);

// True when the media type of a Content-Type value (parameters ignored,
// case-insensitive) is `type`.
bool has_media_type(std::string_view content_type, std::string_view type);


}  // namespace oapx1

#endif  // OAPX1_SERVER_FORM_H_
