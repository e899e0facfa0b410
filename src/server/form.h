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

// The name=value pairs of a query string or an application/x-www-form-urlencoded
// body, in order, names and values percent-decoded and read as GB18030 into
// UTF-8 (the code page the pages are served in). A pair without "=" has an
// empty value; empty pairs ("a=1&&b=2") are skipped.
FormPairs parse_form(std::string_view encoded);

// True when the media type of a Content-Type value (parameters ignored,
// case-insensitive) is `type`.
bool has_media_type(std::string_view content_type, std::string_view type);


}  // namespace oapx1

#endif  // OAPX1_SERVER_FORM_H_
