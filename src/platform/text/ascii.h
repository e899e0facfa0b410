// Small rules on ASCII text, kept once: letter case and blank trimming. Names,
// keys, header values and class ids compare without regard to ASCII letter
// case; other bytes (UTF-8 included) compare exactly.
#ifndef OAPX1_PLATFORM_TEXT_ASCII_H_
#define OAPX1_PLATFORM_TEXT_ASCII_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace oapx1 {

// The ASCII letter `c` in lower case; any other byte unchanged.
constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The text with its ASCII letters in lower case.
inline std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

// True when the texts are equal but for ASCII letter case.
constexpr bool ascii_iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

// Orders texts as their lower-case forms would order (bytes unsigned); for
// maps keyed case-insensitively, with lookups by string_view.
struct AsciiNoCaseLess {
  using is_transparent = void;
  constexpr bool operator()(std::string_view a, std::string_view b) const {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
      const char x = ascii_lower(a[i]), y = ascii_lower(b[i]);
      if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
  }
};

// The text without the characters of `blanks` at either end (by default
// spaces and tabs).
constexpr std::string_view trim(std::string_view s, std::string_view blanks = " \t") {
  const size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// Where the run of ASCII bytes of `s` starting at `pos` ends. Pages and
// forms are mostly ASCII, so the run is measured eight bytes at a time.
inline size_t ascii_run_end(std::string_view s, size_t pos = 0) {
  while (pos + 8 <= s.size()) {
    uint64_t word;
    std::memcpy(&word, s.data() + pos, 8);
    if (word & 0x8080808080808080ULL) break;
    pos += 8;
  }
  while (pos < s.size() && static_cast<unsigned char>(s[pos]) < 0x80) ++pos;
  return pos;
}

// True for a text of 1 to `max_digits` decimal digits and nothing else: a
// key short enough for the integer columns it is compared with.
inline bool ascii_digits(std::string_view text, size_t max_digits) {
  return !text.empty() && text.size() <= max_digits &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_TEXT_ASCII_H_
