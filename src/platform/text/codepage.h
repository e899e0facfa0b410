// Code page 936 on the wire: the pages are written in UTF-8 and sent to the
// browser in GBK; what the browser posts back is read as GB18030 (browsers
// treat the gb2312 label as GBK and may post characters beyond it).
#ifndef OAPX1_PLATFORM_TEXT_CODEPAGE_H_
#define OAPX1_PLATFORM_TEXT_CODEPAGE_H_

#include <string>
#include <string_view>

namespace oapx1 {

// The UTF-8 text in GBK. A character GBK cannot encode is written as a decimal
// numeric character reference ("&#8226;"), so nothing is dropped or turned
// into "?"; an invalid UTF-8 byte becomes "&#65533;". ASCII passes unchanged.
// Never fails.
std::string utf8_to_gbk(std::string_view utf8);

// GB18030 (a superset of GBK and GB2312) bytes as UTF-8. A byte sequence that
// is not valid GB18030 becomes U+FFFD, one per bad byte. Never fails.
std::string gb18030_to_utf8(std::string_view bytes);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_TEXT_CODEPAGE_H_
