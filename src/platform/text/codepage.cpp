#include "platform/text/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/text/ascii.h"
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
  // Per thread: an iconv descriptor keeps state between calls and is not
  // safe to share, and opening one for each conversion costs more than it.
  thread_local Converter c("GBK", "UTF-8");
  return c;
}

Converter& from_gb18030() {
  // Per thread, as to_gbk()'s.
  thread_local Converter c("UTF-8", "GB18030");
  return c;
}

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

// Trail bytes of a two-byte code that may name a character: 0x40-0xFE.
constexpr size_t kTrails = 0xFE - 0x40 + 1;
// Four-byte codes are numbered in order from 0x81 0x30 0x81 0x30; those up to
// 0x84 0x39 0xFE 0x39 cover the rest of the basic plane and are read from the
// table, those from 0x90 0x30 0x81 0x30 are the planes above it in order, and
// the ones between (and after U+10FFFF) name nothing.
constexpr uint32_t kFourBytePlain = 4 * 12600;
constexpr uint32_t kFourByteSupplementary = (0x90 - 0x81) * 12600;

// The UTF-8 bytes of one character packed into a word, first byte lowest;
// 0 for a code that names no character.
uint32_t pack_utf8(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > 4) return 0;
  uint32_t packed = 0;
  for (size_t i = utf8.size(); i-- > 0;) packed = (packed << 8) | static_cast<unsigned char>(utf8[i]);
  return packed;
}

void append_utf8_entry(std::string& out, uint32_t entry) {
  const auto lead = static_cast<unsigned char>(entry & 0xFF);
  const size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  char bytes[4];
  for (size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>((entry >> (8 * i)) & 0xFF);
  out.append(bytes, n);
}

// What GB18030 decodes to, read once from iconv so that the characters are
// exactly the converter's: the UTF-8 of every two-byte code and of the
// four-byte codes of the basic plane. Decoding then takes one table look-up
// per character, and a bad byte costs no more than a good one.
struct Gb18030Tables {
  std::vector<uint32_t> two_byte;   // (lead - 0x81) * kTrails + (trail - 0x40)
  std::vector<uint32_t> four_byte_plain;  // by the number of the code

  // The packed UTF-8 of a four-byte code, 0 when it names nothing.
  uint32_t four_byte(unsigned char b1, unsigned char b2, unsigned char b3, unsigned char b4) const {
    if (b3 < 0x81 || b3 > 0xFE || b4 < 0x30 || b4 > 0x39) return 0;
    const uint32_t number = (((b1 - 0x81) * 10u + (b2 - 0x30)) * 126u + (b3 - 0x81)) * 10u + (b4 - 0x30);
    if (number < kFourBytePlain) return four_byte_plain[number];
    if (number < kFourByteSupplementary) return 0;
    const uint32_t cp = 0x10000 + (number - kFourByteSupplementary);
    if (cp > 0x10FFFF) return 0;
    return (0xF0 | cp >> 18) | (0x80 | (cp >> 12 & 0x3F)) << 8 | (0x80 | (cp >> 6 & 0x3F)) << 16 |
           (0x80 | (cp & 0x3F)) << 24;
  }
};

// The packed UTF-8 iconv gives for exactly one whole code, 0 when it refuses it.
uint32_t decode_one(const char* code, size_t size) {
  const char* in = code;
  size_t left = size;
  std::string out;
  if (from_gb18030().convert(&in, &left, out) != 0 || left != 0) return 0;
  return pack_utf8(out);
}

const Gb18030Tables& gb18030_tables() {
  static const Gb18030Tables tables = [] {
    Gb18030Tables t;
    t.two_byte.resize(126 * kTrails);
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        const char code[] = {static_cast<char>(lead), static_cast<char>(trail)};
        t.two_byte[(lead - 0x81) * kTrails + (trail - 0x40)] = decode_one(code, 2);
      }
    }
    t.four_byte_plain.resize(kFourBytePlain);
    for (uint32_t number = 0; number < kFourBytePlain; ++number) {
      const char code[] = {static_cast<char>(0x81 + number / 12600),
                           static_cast<char>(0x30 + number / 1260 % 10),
                           static_cast<char>(0x81 + number / 10 % 126),
                           static_cast<char>(0x30 + number % 10)};
      t.four_byte_plain[number] = decode_one(code, 4);
    }
    return t;
  }();
  return tables;
}

}  // namespace

namespace {

// The first bytes of a UTF-8 character that more bytes may still finish: a
// lead byte and only continuation bytes after it, fewer than it announces.
bool unfinished_character(std::string_view s) {
  const auto lead = static_cast<unsigned char>(s[0]);
  const size_t n = lead >= 0xC2 && lead <= 0xDF   ? 2
                   : lead >= 0xE0 && lead <= 0xEF ? 3
                   : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                  : 0;
  if (s.size() >= n) return false;
  for (size_t i = 1; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return false;
  }
  return true;
}

// Appends the GBK form of `utf8` to `out`: ASCII runs as they are, every
// other character by the table, a numeric reference for one the code page
// lacks, "&#65533;" for a byte that begins no valid character. With `more`
// (another piece follows), a character the text ends in the middle of is not
// written: returns how many bytes it has so far; else returns 0.
//
// Written through a pointer into room made up front: GBK is never longer
// than the UTF-8 it comes from (one byte for one, two for two or three), but
// for the references, before each of which the room is checked.
size_t append_gbk(std::string& out, std::string_view utf8, bool more) {
  const std::vector<uint32_t>& table = gbk_table();
  const auto* in = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t size = utf8.size();
  size_t used = out.size();
  out.resize(used + size);
  char* d = out.data() + used;
  size_t pos = 0;
  // Room for `n` bytes more than the rest of the input can need.
  auto make_room = [&](size_t n) {
    const size_t at = static_cast<size_t>(d - out.data());
    if (at + n + (size - pos) > out.size()) {
      out.resize(std::max(out.size() * 2, at + n + (size - pos)));
      d = out.data() + at;
    }
  };
  auto write_reference = [&](char32_t cp) {
    make_room(16);
    char text[16] = "&#";
    char* end = std::to_chars(text + 2, text + sizeof text - 1, static_cast<unsigned long>(cp)).ptr;
    *end++ = ';';
    const size_t n = static_cast<size_t>(end - text);
    std::memcpy(d, text, n);
    d += n;
  };
  size_t held = 0;
  while (pos < size) {
    // Copy the ASCII run as it is, eight bytes at a time: GBK leaves ASCII
    // unchanged, and pages are mostly ASCII. Copied as it is measured, not
    // measured and then copied: between two Chinese characters the run is
    // empty, and a call per character would cost more than the character.
    while (pos + 8 <= size) {
      uint64_t word;
      std::memcpy(&word, in + pos, 8);
      if (word & 0x8080808080808080ULL) break;
      std::memcpy(d, &word, 8);
      d += 8;
      pos += 8;
    }
    while (pos < size && in[pos] < 0x80) *d++ = static_cast<char>(in[pos++]);
    if (pos == size) break;
    // A three-byte character of the basic plane, the usual one (Chinese).
    const unsigned char lead = in[pos];
    if (lead >= 0xE0 && lead <= 0xEF && pos + 3 <= size && (in[pos + 1] & 0xC0) == 0x80 &&
        (in[pos + 2] & 0xC0) == 0x80) {
      const char32_t cp = (static_cast<char32_t>(lead & 0x0F) << 12) |
                          (static_cast<char32_t>(in[pos + 1] & 0x3F) << 6) | (in[pos + 2] & 0x3F);
      const uint32_t entry = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF) ? table[cp] : 0;
      if ((entry >> 16) == 2) {
        d[0] = static_cast<char>((entry >> 8) & 0xFF);
        d[1] = static_cast<char>(entry & 0xFF);
        d += 2;
        pos += 3;
        continue;
      }
    }
    char32_t cp = 0;
    const size_t n = utf8_sequence(utf8.substr(pos), cp);
    if (n == 0) {
      if (more && unfinished_character(utf8.substr(pos))) {
        held = size - pos;
        break;
      }
      // Not valid UTF-8: a reference to the replacement character.
      pos += 1;
      write_reference(0xFFFD);
      continue;
    }
    const uint32_t entry = cp < 0x10000 ? table[cp] : 0;
    pos += n;
    if (entry == 0) {
      write_reference(cp);  // not in the code page: a numeric reference
    } else if ((entry >> 16) == 2) {
      d[0] = static_cast<char>((entry >> 8) & 0xFF);
      d[1] = static_cast<char>(entry & 0xFF);
      d += 2;
    } else {
      *d++ = static_cast<char>(entry & 0xFF);
    }
  }
  out.resize(static_cast<size_t>(d - out.data()));
  return held;
}

}  // namespace

std::string utf8_to_gbk(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  append_gbk(out, utf8, false);
  return out;
}

void GbkWriter::write_mixed(std::string_view utf8) {
  size_t from = 0;
  if (held_size_ != 0) {
    // The held bytes and as many of this piece as the character can still
    // need, read as one text would read them.
    const size_t take = std::min(utf8.size(), sizeof held_ - held_size_);
    char joined[sizeof held_];
    std::memcpy(joined, held_, held_size_);
    std::memcpy(joined + held_size_, utf8.data(), take);
    const size_t joined_size = held_size_ + take;
    const size_t left = append_gbk(out_, std::string_view(joined, joined_size), true);
    const size_t used = joined_size - left;
    if (used < held_size_) {
      // Still unfinished: the piece was shorter than the character's rest.
      std::memmove(held_, joined + used, left);
      held_size_ = left;
      return;
    }
    // A character left unfinished that began inside this piece is read again
    // from the piece.
    from = used - held_size_;
    held_size_ = 0;
  }
  const std::string_view rest = utf8.substr(from);
  const size_t left = append_gbk(out_, rest, true);
  std::memcpy(held_, rest.data() + rest.size() - left, left);
  held_size_ = left;
}

std::string GbkWriter::finish() {
  append_gbk(out_, std::string_view(held_, held_size_), false);
  held_size_ = 0;
  std::string out = std::move(out_);
  out_.clear();
  return out;
}

std::string gb18030_to_utf8(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  static constexpr std::string_view kEuro = "\xE2\x82\xAC";
  const Gb18030Tables& tables = gb18030_tables();
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t end = ascii_run_end(bytes, pos);
    out.append(bytes.data() + pos, end - pos);
    pos = end;
    if (pos == bytes.size()) break;
    // One character, or one replacement for its first byte; either way the
    // next look starts after what was taken, so every byte is read once.
    uint32_t entry = 0;
    size_t length = 1;
    const unsigned char lead = byte(pos);
    if (lead >= 0x81 && lead <= 0xFE && pos + 1 < bytes.size()) {
      const unsigned char second = byte(pos + 1);
      if (second >= 0x40 && second <= 0xFE) {
        entry = tables.two_byte[(lead - 0x81) * kTrails + (second - 0x40)];
        length = 2;
      } else if (second >= 0x30 && second <= 0x39 && pos + 3 < bytes.size()) {
        entry = tables.four_byte(lead, second, byte(pos + 2), byte(pos + 3));
        length = 4;
      }
    }
    if (entry != 0) {
      append_utf8_entry(out, entry);
      pos += length;
    } else {
      // The single byte 0x80 is the euro sign in code page 936, and browsers
      // post it so; anything else that is not a character is one replacement
      // for the bad byte, and decoding goes on after it.
      out += lead == 0x80 ? kEuro : kReplacement;
      pos += 1;
    }
  }
  return out;
}

}  // namespace oapx1
