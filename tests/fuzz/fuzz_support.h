// What the fuzz targets share: a strict UTF-8 check for the texts the
// decoders promise to give, and a failed check that stops the run.
#ifndef OAPX1_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define OAPX1_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace oapx1::fuzz {

// True when `s` is well-formed UTF-8: shortest forms only, no surrogates,
// nothing beyond U+10FFFF.
inline bool valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = b(i);
    size_t n;
    char32_t cp, min;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      n = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      n = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      n = 4, cp = lead & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((b(i + k) & 0xC0) != 0x80) return false;
      cp = cp << 6 | (b(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n;
  }
  return true;
}

// Stops the run, saying which promise was broken; libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace oapx1::fuzz

#endif  // OAPX1_TESTS_FUZZ_FUZZ_SUPPORT_H_
