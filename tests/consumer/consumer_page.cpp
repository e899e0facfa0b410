// A page of another project on the installed page class: it draws the pop-up
// frame around its own content and uses a library method, on an in-memory
// request. Prints the body; exits 0 when the page ran without a failure.
#include <iostream>

#include "host/page.h"
#include "platform/web/event_log.h"
#include "platform/web/memory_intrinsics.h"
#include "platform/web/process.h"

namespace {

class HelloPage : public oapx1::Page {
 public:
  void I_init() override {
    bind_request_context();
    oapx1::Variant title = "Hello";
    showpopwindow(title);
  }
  void showcontent() override {
    oapx1::Variant text = "a  b";
    oapx1::response_object().write(getlongtext(text).str());
  }
};

}  // namespace

int main() {
  oapx1::CollectingEventLog events;
  oapx1::ScopedProcessSettings settings([&](oapx1::ProcessSettings& s) { s.event_log = &events; });
  oapx1::ApplicationState state;
  oapx1::MemoryServer server;
  oapx1::MemoryApplication application(state);
  oapx1::MemorySession session;
  session.set_item("SystemURL", "/oa/");
  oapx1::MemoryRequest request;
  oapx1::MemoryResponse response;
  oapx1::ObjectContext context{&server, &application, &session, &request, &response};
  {
    oapx1::HostCall call(&context);
    HelloPage page;
    page.I_init();
    page.OnEndPage();
  }
  std::cout << response.body();
  return events.entries().empty() ? 0 : 1;
}
