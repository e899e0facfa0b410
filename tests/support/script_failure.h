// The failure a call raises, for tests of failure numbers and messages.
#ifndef OAPX1_TESTS_SUPPORT_SCRIPT_FAILURE_H_
#define OAPX1_TESTS_SUPPORT_SCRIPT_FAILURE_H_

#include <cstdint>
#include <string>
#include <utility>

#include "platform/script/script_error.h"

namespace oapx1::testing {

// The number a call fails with, and its message; 0 and "" when it succeeds.
template <class F>
std::pair<int32_t, std::string> failure_of(F&& f) {
  try {
    f();
  } catch (const ScriptError& e) {
    return {e.number(), e.message()};
  }
  return {0, ""};
}

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SUPPORT_SCRIPT_FAILURE_H_
