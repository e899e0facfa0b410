#include "server/sign_in.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>

#include "host/page.h"
#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

// The library methods alone, on the request of a sign-in.
class SignInPage : public Page {
 public:
  void I_init() override {}
};

// Runs `body` on a library page bound to a request of its own that carries
// the given session, with its connection open as every page opens it.
template <class F>
void with_library_page(ApplicationState& state, Session& session, F&& body) {
  MemoryServer server;
  MemoryApplication application(state);
  MemoryRequest request;
  MemoryResponse response;  // the trailer of a failure is not shown to the user
  ObjectContext context{&server, &application, &session, &request, &response};
  // The thread's context is cleared however the page ends.
  struct Unbind {
    ~Unbind() {
      set_current_object_context(nullptr);
      bind_intrinsics(nullptr);
    }
  } unbind;
  set_current_object_context(&context);
  SignInPage page;
  page.bind_request_context();
  page.tvdb_connI_init();
  body(page);
  page.closedb();
}

}  // namespace

bool login_allowed(ApplicationState& application, Session& session) {
  bool allowed = true;
  with_library_page(application, session, [&](Page& page) {
    const Variant verdict = page.isallowlogin();
    allowed = !(verdict.type() == Variant::Type::kBoolean && !verdict.boolean());
  });
  return allowed;
}

void record_login_event(ApplicationState& application, Session& session, std::string_view legal,
                        std::string_view login) {
  with_library_page(application, session, [&](Page& page) {
    Variant legal_value(legal), login_value(login);
    page.savelog(legal_value, login_value);
  });
}

}  // namespace oapx1
