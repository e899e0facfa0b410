#include "host/library_page.h"

#include <exception>
#include <string>

#include "platform/script/script.h"
#include "platform/web/event_log.h"

namespace oapx1 {
namespace {

// The library methods alone: no page of its own to write.
class LibraryPage : public Page {
 public:
  void I_init() override {}
};

// Thrown when the page's connection include left no connection open.
struct NoConnection {};

}  // namespace

void run_library_page(ApplicationState& application, Session& session, bool reads_only,
                      const std::function<void(Page& page)>& body) {
  MemoryCall call(application);
  call.bind(&session, reads_only);
  LibraryPage page;
  page.bind_request_context();
  page.tvdb_connI_init();
  try {
    body(page);
  } catch (...) {
    page.closedb();
    throw;
  }
  page.closedb();
}

bool try_library_page(ApplicationState& application, Session& session, bool reads_only, std::string_view what,
                      const std::function<void(Page& page)>& body) {
  try {
    run_library_page(application, session, reads_only, [&](Page& page) {
      if (page.conn.is_empty() || page.conn.is_null()) throw NoConnection{};
      body(page);
    });
    return true;
  } catch (const NoConnection&) {
    return false;  // the connection include has reported it already
  } catch (...) {
    event_log().write(kEventError, std::string(what) + ": " + failure_text(std::current_exception()));
    return false;
  }
}

}  // namespace oapx1
