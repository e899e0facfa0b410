#include "platform/files/type_lib.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>

namespace oapx1 {

void secure_random_bytes(void* out, size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  while (size > 0) {
    const ssize_t n = getrandom(p, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ScriptError(err::kInternal, "The random number generator is not available");
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
}

uint32_t secure_random_below(uint32_t bound) {
  // Values at or above the largest multiple of `bound` are drawn again, so
  // every result is equally likely.
  const uint32_t limit = UINT32_MAX - UINT32_MAX % bound;
  for (;;) {
    uint32_t r;
    secure_random_bytes(&r, sizeof r);
    if (r < limit) return r % bound;
  }
}

TypeLib::TypeLib() {
  unsigned char b[16];
  secure_random_bytes(b, sizeof b);
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[39];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  guid_ = text;
}

}  // namespace oapx1
