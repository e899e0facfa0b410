// Form and cookie decoding: percent-decoding, query strings and form bodies
// (read as GB18030 into UTF-8), and picking a cookie out of a Cookie header.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "server/form.h"
#include "server/http_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace oapx1;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const bool plus : {false, true}) {
    if (percent_decode(text, plus).size() > text.size()) fuzz::fail("percent-decoding grew the text");
  }
  for (const auto& [name, value] : parse_form(text)) {
    if (!fuzz::valid_utf8(name) || !fuzz::valid_utf8(value)) fuzz::fail("a form pair is not UTF-8");
  }
  // The first line names the cookie, the rest is the header.
  const size_t newline = text.find('\n');
  const std::string_view name = newline == std::string_view::npos ? kSessionCookie : text.substr(0, newline);
  const std::string_view header = newline == std::string_view::npos ? text : text.substr(newline + 1);
  if (cookie_value(header, name).size() > header.size()) fuzz::fail("a cookie longer than its header");
  (void)has_media_type(header, name);
  return 0;
}
