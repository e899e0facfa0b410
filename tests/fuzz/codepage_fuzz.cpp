// Code page 936 both ways: any bytes read as GB18030 give well-formed UTF-8,
// and what the GBK writer gives reads back without a replacement character
// (it writes only GBK, and a reference for what GBK cannot hold).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/text/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace oapx1;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string utf8 = gb18030_to_utf8(bytes);
  if (!fuzz::valid_utf8(utf8)) fuzz::fail("GB18030 decoding gave malformed UTF-8");
  for (const std::string_view text : {std::string_view(utf8), bytes}) {
    // The bytes themselves too: the writer meets malformed UTF-8 as well.
    const std::string gbk = utf8_to_gbk(text);
    const std::string back = gb18030_to_utf8(gbk);
    if (!fuzz::valid_utf8(back)) fuzz::fail("GB18030 decoding of written GBK gave malformed UTF-8");
    if (back.find("\xEF\xBF\xBD") != std::string::npos) {
      fuzz::fail("the GBK writer wrote bytes that do not read back");
    }
  }
  return 0;
}
