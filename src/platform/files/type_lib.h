// The platform's type-library object (class id "Scriptlet.TypeLib"), whose one
// use here is a fresh unique identifier, and the cryptographic random numbers
// behind it and behind the page's random keys.
#ifndef OAPX1_PLATFORM_FILES_TYPE_LIB_H_
#define OAPX1_PLATFORM_FILES_TYPE_LIB_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/script/variant.h"

namespace oapx1 {

// Fills `size` bytes from the operating system's cryptographic generator.
// Fails with 51 when the generator cannot be read.
void secure_random_bytes(void* out, size_t size);
// A number drawn uniformly from 0 .. bound - 1 (bound > 0) with the generator
// above, without modulo bias.
uint32_t secure_random_below(uint32_t bound);

class TypeLib : public Object {
 public:
  // Draws the object's identifier: a random (version 4) UUID.
  TypeLib();
  // The identifier as "{XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX}", upper-case
  // hexadecimal; the same for every read of one object.
  const std::string& Guid() const { return guid_; }

 private:
  std::string guid_;  // the braced identifier text
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_FILES_TYPE_LIB_H_
