#include "server/form.h"

#include <cstdint>

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

namespace {

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The bytes as UTF-8 with each byte that starts no valid sequence replaced by
// U+FFFD.
std::string valid_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    uint32_t cp = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = length > 0 && i + length <= bytes.size();
    for (size_t k = 1; ok && k < length; ++k) {
      const auto c = static_cast<unsigned char>(bytes[i + k]);
      ok = (c & 0xC0) == 0x80;
      cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are no characters.
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && cp >= kLeast[length] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (ok) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string decode_character_references(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '&' && i + 2 < text.size() && text[i + 1] == '#') {
      size_t k = i + 2;
      const bool hex = k < text.size() && (text[k] == 'x' || text[k] == 'X');
      if (hex) ++k;
      const size_t digits = k;
      uint32_t cp = 0;
      while (k < text.size() && k - digits < 8) {
        const int d = hex ? hex_value(text[k]) : (text[k] >= '0' && text[k] <= '9' ? text[k] - '0' : -1);
        if (d < 0) break;
        cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(d);
        ++k;
      }
      if (k > digits && k < text.size() && text[k] == ';' && cp > 0 && cp <= 0x10FFFF &&
          !(cp >= 0xD800 && cp <= 0xDFFF)) {
        std::string character;
        append_utf8(character, cp);
        // Only a character the form's code page cannot hold comes as a
        // reference; any other was typed as this text.
        if (utf8_to_gbk(character).rfind("&#", 0) == 0) {
          out += character;
          i = k + 1;
          continue;
        }
      }
    }
    out += text[i++];
  }
  return out;
}

FormCharset form_charset(std::string_view content_type) {
  size_t at = content_type.find(';');
  while (at != std::string_view::npos) {
    const size_t next = content_type.find(';', at + 1);
    const std::string_view parameter = trim(content_type.substr(at + 1, next == std::string_view::npos
                                                                            ? std::string_view::npos
                                                                            : next - at - 1));
    const size_t eq = parameter.find('=');
    if (eq != std::string_view::npos && ascii_iequals(trim(parameter.substr(0, eq)), "charset")) {
      std::string_view value = trim(parameter.substr(eq + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      return ascii_iequals(value, "utf-8") || ascii_iequals(value, "utf8") ? FormCharset::kUtf8
                                                                           : FormCharset::kGb18030;
    }
    at = next;
  }
  return FormCharset::kGb18030;
}

FormPairs parse_form(std::string_view encoded, FormCharset charset) {
  const auto decode = [charset](std::string_view bytes) {
    return charset == FormCharset::kUtf8 ? valid_utf8(percent_decode(bytes, true))
                                         : decode_character_references(gb18030_to_utf8(percent_decode(bytes, true)));
  };
  FormPairs pairs;
  while (!encoded.empty()) {
    const size_t amp = encoded.find('&');
    std::string_view pair = encoded.substr(0, amp);
    encoded.remove_prefix(amp == std::string_view::npos ? encoded.size() : amp + 1);
    if (pair.empty()) continue;
    const size_t eq = pair.find('=');
    std::string_view name = pair.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
    pairs.emplace_back(decode(name), decode(value));
  }
  return pairs;
}

bool has_media_type(std::string_view content_type, std::string_view type) {
  const std::string_view media = trim(content_type.substr(0, content_type.find(';')));
  return ascii_iequals(media, type);
}

}  // namespace oapx1
