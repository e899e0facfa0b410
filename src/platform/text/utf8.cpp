#include "platform/text/utf8.h"

namespace oapx1 {

char32_t utf8_next(std::string_view s, size_t& pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  int extra = 0;
  char32_t c = b0;
  if (b0 >= 0xC2 && b0 < 0xE0) extra = 1, c = b0 & 0x1F;
  else if (b0 >= 0xE0 && b0 < 0xF0) extra = 2, c = b0 & 0x0F;
  else if (b0 >= 0xF0 && b0 < 0xF5) extra = 3, c = b0 & 0x07;
  if (extra > 0 && pos + extra < s.size()) {
    bool ok = true;
    for (int i = 1; ok && i <= extra; ++i) {
      const auto b = static_cast<unsigned char>(s[pos + i]);
      if ((b & 0xC0) != 0x80) ok = false;
      else c = (c << 6) | (b & 0x3F);
    }
    if (ok) {
      pos += 1 + extra;
      return c;
    }
  }
  pos += 1;
  return b0;
}

void utf8_append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool blank_text(std::string_view s) {
  for (size_t pos = 0; pos < s.size();) {
    const char32_t c = utf8_next(s, pos);
    if (c != U' ' && c != U'\t' && c != U'\r' && c != U'\n' && c != U'\u3000' && c != U'\u00a0') return false;
  }
  return true;
}

}  // namespace oapx1
