// A page object with a bound request context, for the tests of the page's
// library methods: the intrinsic objects live in memory, events are collected
// and the clock is freed again afterwards.
#ifndef OAPX1_TESTS_UTIL_PAGE_FIXTURE_H_
#define OAPX1_TESTS_UTIL_PAGE_FIXTURE_H_

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "host/page.h"
#include "platform/event_log.h"
#include "platform/memory_intrinsics.h"
#include "support/test_request.h"

namespace oapx1::testing {

// The library methods alone, without a page of its own.
class LibraryPage : public Page {
 public:
  void I_init() override {}
};

// A variant as "type:value", so expectations state the type too:
// "empty", "null", "text:abc", "number:42", "bool:True", "date:2026-5-6".
inline std::string describe(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty:
      return "empty";
    case Variant::Type::kNull:
      return "null";
    case Variant::Type::kBoolean:
      return "bool:" + v.to_text();
    case Variant::Type::kInteger:
    case Variant::Type::kDouble:
      return "number:" + v.to_text();
    case Variant::Type::kDate:
      return "date:" + v.to_text();
    case Variant::Type::kText:
      return "text:" + v.text();
    case Variant::Type::kObject:
      return "object";
  }
  return "?";
}

class PageTest : public ::testing::Test {
 protected:
  ~PageTest() override { set_clock(std::nullopt); }

  // What the methods wrote to the response so far.
  const std::string& output() const { return request_.body(); }
  // The event log entries so far.
  std::vector<std::pair<int, std::string>> events() const { return request_.events.entries(); }

  TestRequest request_;  // the bound intrinsic objects and the collected events
  LibraryPage page_;
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_UTIL_PAGE_FIXTURE_H_
