// Code page 936 on the wire: the pages are written in UTF-8 and sent to the
// browser in GBK; what the browser posts back is read as GB18030 (browsers
// treat the gb2312 label as GBK and may post characters beyond it).
#ifndef OAPX1_PLATFORM_TEXT_CODEPAGE_H_
#define OAPX1_PLATFORM_TEXT_CODEPAGE_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/text/ascii.h"

namespace oapx1 {

// The UTF-8 text in GBK. A character GBK cannot encode is written as a decimal
// numeric character reference ("&#8226;"), so nothing is dropped or turned
// into "?"; an invalid UTF-8 byte becomes "&#65533;". ASCII passes unchanged.
// Never fails.
std::string utf8_to_gbk(std::string_view utf8);

// UTF-8 text turned into GBK piece by piece as it is written, into one
// buffer: the pieces written in order make exactly the bytes utf8_to_gbk
// makes of their concatenation, with no pass over the finished text. A piece
// of ASCII alone (most of a page) is copied as it is. The bytes of a
// character split between two pieces (at most three) are held until its last
// byte comes. Used by one thread at a time.
class GbkWriter {
 public:
  // Room for `reserve` bytes is set aside at once.
  explicit GbkWriter(size_t reserve = 0) { out_.reserve(reserve); }

  // Appends the GBK form of the next piece. Never fails (but for memory).
  void write(std::string_view utf8) {
    if (held_size_ == 0 && ascii_only(utf8)) {
      out_.append(utf8);
    } else {
      write_mixed(utf8);
    }
  }

  // The GBK text written so far, held bytes included (as invalid bytes: no
  // more piece can finish them); the writer is left empty.
  std::string finish();

 private:
  // Whether every byte of `s` is ASCII: this runs once for every piece.
  static bool ascii_only(std::string_view s) { return ascii_run_end(s) == s.size(); }
  // write() for a piece that is not ASCII alone, or that follows held bytes.
  void write_mixed(std::string_view utf8);

  std::string out_;       // the GBK text written so far
  char held_[4] = {};     // the first bytes of a character not yet finished
  size_t held_size_ = 0;  // how many of held_ are in use
};

// GB18030 (a superset of GBK and GB2312) bytes as UTF-8. A byte sequence that
// is not valid GB18030 becomes U+FFFD, one per bad byte. Never fails.
std::string gb18030_to_utf8(std::string_view bytes);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_TEXT_CODEPAGE_H_
