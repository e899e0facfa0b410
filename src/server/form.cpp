#include "server/form.h"

#include "platform/text/codepage.h"

namespace oapx1 {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string percent_decode(std::string_view text, bool plus_as_space) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const int hi = hex_value(text[i + 1]), lo = hex_value(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += (plus_as_space && c == '+') ? ' ' : c;
  }
  return out;
}

FormPairs parse_form(std::string_view encoded) {
  FormPairs pairs;
  while (!encoded.empty()) {
    const size_t amp = encoded.find('&');
    std::string_view pair = encoded.substr(0, amp);
    encoded.remove_prefix(amp == std::string_view::npos ? encoded.size() : amp + 1);
    if (pair.empty()) continue;
    const size_t eq = pair.find('=');
    std::string_view name = pair.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
    pairs.emplace_back(gb18030_to_utf8(percent_decode(name, true)),
                       gb18030_to_utf8(percent_decode(value, true)));
  }
  return pairs;
}

bool has_media_type(std::string_view content_type, std::string_view type) {
  const std::string_view media = trim(content_type.substr(0, content_type.find(';')));
  return ascii_iequals(media, type);
}

}  // namespace oapx1
