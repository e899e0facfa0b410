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

class TestRequest {
 public:
  TestRequest() : application(application_state) { bind(); }
  TestRequest(const TestRequest&) = delete;
  TestRequest& operator=(const TestRequest&) = delete;

  // Binds this request's objects as the object context and the slots of the thread.
  void bind() {
    context = ObjectContext{&server, &application, &session, &request, &response};
    call.reset();
    call.emplace(&context);
    bind_intrinsics(&context);
  }
  const std::string& body() const { return response.body(); }
  // The event texts so far.
  std::vector<std::string> event_texts() const {
    std::vector<std::string> texts;
    for (auto& [type, text] : events.entries()) texts.push_back(text);
    return texts;
  }

  CollectingEventLog events;
  ScopedProcessSettings settings{[this](ProcessSettings& s) { s.event_log = &events; }};
  ApplicationState application_state;
  MemoryServer server;
  MemoryApplication application;
  MemorySession session;
  MemoryRequest request;
  MemoryResponse response;
  ObjectContext context;
  std::optional<HostCall> call;  // the binding of the objects above, undone first
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SUPPORT_TEST_REQUEST_H_
