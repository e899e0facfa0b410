// Reading and writing UTF-8, the encoding of every text inside the program.
#ifndef OAPX1_PLATFORM_TEXT_UTF8_H_
#define OAPX1_PLATFORM_TEXT_UTF8_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace oapx1 {

// Decodes the code point starting at s[pos] and advances pos past it. Invalid
// bytes decode as themselves (one byte, one character) so nothing is lost.
char32_t utf8_next(std::string_view s, size_t& pos);
// Appends the UTF-8 form of a code point.
void utf8_append(std::string& out, char32_t c);
// True for a text that shows nothing: empty, or only spaces (also the
// ideographic and no-break spaces), tabs and line ends.
bool blank_text(std::string_view s);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_TEXT_UTF8_H_
