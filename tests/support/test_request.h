// An in-memory request for tests: the five intrinsic objects bound on the
// test's thread and the event log collected, both undone at the end.
#ifndef OAPX1_TESTS_SUPPORT_TEST_REQUEST_H_
#define OAPX1_TESTS_SUPPORT_TEST_REQUEST_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/web/event_log.h"
#include "platform/web/memory_intrinsics.h"
#include "platform/web/process.h"

namespace oapx1::testing {

// What a test request holds beside the call's objects, made before them.
struct TestRequestState {
  CollectingEventLog events;
  ScopedProcessSettings settings{[this](ProcessSettings& s) { s.event_log = &events; }};
  ApplicationState application_state;
};

class TestRequest : public TestRequestState, public MemoryCall {
 public:
  TestRequest() : MemoryCall(application_state) { bind(); }

  const std::string& body() const { return response.body(); }
  // The event texts so far.
  std::vector<std::string> event_texts() const {
    std::vector<std::string> texts;
    for (auto& [type, text] : events.entries()) texts.push_back(text);
    return texts;
  }
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SUPPORT_TEST_REQUEST_H_
