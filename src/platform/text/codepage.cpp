#include "platform/text/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/text/utf8.h"


namespace oapx1 {
namespace {

// One iconv conversion descriptor per thread and direction: opening one costs
// far more than a conversion, and a descriptor is not safe to share.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts as much of [*in, *in + *left) as it can, appending to `out`.
  // Returns 0 when all was converted, else the errno that stopped it (EILSEQ
  // or EINVAL) with *in at the offending byte.
  int convert(const char** in, size_t* left, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // initial shift state
    char buffer[1024];
    while (*left > 0) {
      char* dst = buffer;
      size_t room = sizeof buffer;
      size_t rc = iconv(cd_, const_cast<char**>(in), left, &dst, &room);
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (rc == static_cast<size_t>(-1) && errno != E2BIG) return errno;
    }
    return 0;
  }

 private:
  iconv_t cd_;
};

Converter& to_gbk() {
  thread_local Converter c("GBK", "UTF-8");
  return c;
}

Converter& from_gb18030() {
  thread_local Converter c("UTF-8", "GB18030");
  return c;
}

bool is_ascii(char c) { return static_cast<unsigned char>(c) < 0x80; }

// Length of the valid UTF-8 sequence at the start of `s` and its code point;
// 0 when the bytes there are not a valid sequence.
size_t utf8_sequence(std::string_view s, char32_t& cp) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = b(0);
  size_t n;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void append_reference(std::string& out, char32_t cp) {
  out += "&#";
  out += std::to_string(static_cast<unsigned long>(cp));
  out += ';';
}


// The code page 936 bytes of every character of the basic plane, read once
// from iconv: the low 16 bits hold the bytes (first byte high), the bits above
// their count; 0 for a character the code page lacks.
const std::vector<uint32_t>& gbk_table() {
  static const std::vector<uint32_t> table = [] {
    std::vector<uint32_t> t(0x10000, 0);
    std::string out;
    for (char32_t cp = 0x80; cp < 0x10000; ++cp) {
      if (cp >= 0xD800 && cp <= 0xDFFF) continue;
      std::string utf8;
      utf8_append(utf8, cp);
      const char* in = utf8.data();
      size_t left = utf8.size();
      out.clear();
      if (to_gbk().convert(&in, &left, out) != 0 || out.empty() || out.size() > 2) continue;
      uint32_t bytes = 0;
      for (char c : out) bytes = (bytes << 8) | static_cast<unsigned char>(c);
      t[cp] = bytes | (static_cast<uint32_t>(out.size()) << 16);
    }
    return t;
  }();
  return table;
}

}  // namespace

std::string utf8_to_gbk(std::string_view utf8) {
  const std::vector<uint32_t>& table = gbk_table();
  std::string out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    // Copy the ASCII run as it is: GBK leaves ASCII unchanged. Pages are
    // mostly ASCII, so the run is measured eight bytes at a time.
    size_t end = pos;
    while (end + 8 <= utf8.size()) {
      uint64_t word;
      std::memcpy(&word, utf8.data() + end, 8);
      if (word & 0x8080808080808080ULL) break;
      end += 8;
    }
    while (end < utf8.size() && is_ascii(utf8[end])) ++end;
    out.append(utf8.data() + pos, end - pos);
    pos = end;
    if (pos == utf8.size()) break;
    char32_t cp = 0;
    const size_t n = utf8_sequence(utf8.substr(pos), cp);
    if (n == 0) {
      // Not valid UTF-8: a reference to the replacement character.
      append_reference(out, 0xFFFD);
      pos += 1;
      continue;
    }
    const uint32_t entry = cp < 0x10000 ? table[cp] : 0;
    if (entry == 0) {
      append_reference(out, cp);  // not in the code page: a numeric reference
    } else if ((entry >> 16) == 2) {
      out += static_cast<char>((entry >> 8) & 0xFF);
      out += static_cast<char>(entry & 0xFF);
    } else {
      out += static_cast<char>(entry & 0xFF);
    }
    pos += n;
  }
  return out;
}


std::string gb18030_to_utf8(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  static constexpr std::string_view kEuro = "\xE2\x82\xAC";
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = pos;
    while (end < bytes.size() && is_ascii(bytes[end])) ++end;
    out.append(bytes.data() + pos, end - pos);
    pos = end;
    if (pos == bytes.size()) break;
    // The non-ASCII run, extended over whole characters: a trail byte may lie
    // in the ASCII range (0x40-0x7E for two bytes, digits in four-byte ones).
    end = pos;
    while (end < bytes.size() && !is_ascii(bytes[end])) {
      const auto lead = static_cast<unsigned char>(bytes[end]);
      if (lead >= 0x81 && lead <= 0xFE && end + 1 < bytes.size()) {
        const auto next = static_cast<unsigned char>(bytes[end + 1]);
        end += (next >= 0x30 && next <= 0x39) ? 4 : 2;
      } else {
        end += 1;
      }
    }
    end = std::min(end, bytes.size());
    const char* in = bytes.data() + pos;
    size_t left = end - pos;
    int err = from_gb18030().convert(&in, &left, out);
    pos = end - left;
    if (err != 0) {
      // The single byte 0x80 is the euro sign in code page 936, and browsers
      // post it so; anything else that is not a character is one replacement
      // for the bad byte, and decoding goes on after it.
      out += static_cast<unsigned char>(bytes[pos]) == 0x80 ? kEuro : kReplacement;
      ++pos;
    }
  }
  return out;
}

}  // namespace oapx1
