// The failure handler of the page class: the one place that turns a failure
// into an event log entry and an error trailer.
#include <exception>
#include <string>

#include "host/page.h"
#include "platform/call/call_context.h"
#include "platform/web/event_log.h"
#include "platform/web/failure_watch.h"
#include "platform/script/script.h"

namespace oapx1 {
namespace {

// The failure being handled, as the platform's error state would hold it.
ScriptError current_failure() {
  try {
    throw;
  } catch (const ScriptError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return ScriptError(err::kOutOfMemory, "Out of memory");
  } catch (const std::exception& e) {
    return ScriptError(err::kInternal, e.what());
  } catch (...) {
    // A thrown value of no known type still ends the method as a failure.
    return ScriptError(err::kInternal, "Internal error");
  }
}

}  // namespace

void Page::step_failed() { CallWatch::unrepeatable(); }

void Page::handle_failure(std::string_view method, bool initialiser) {
  const ScriptError e = current_failure();
  if (e.number() == err::kReserved) {
    if (initialiser) return;  // ends the running initialiser quietly
    throw e;                  // passes up to the next handler unreported
  }
  std::string routine = " Routine : ";
  routine += kPageClassName;
  routine += '.';
  routine += method;
  const std::string line = std::to_string(e.line());
  // A failure of the log or of the response itself is not handled again: it
  // passes to the caller, whose handler reports it as its own.
  FailureWatch::note();
  event_log().write_failure(e.number(),
                            " " + std::to_string(e.number()) + e.message() + " LINE #" + line + routine);
  response_object().write(" Error " + html_encode(e.message()) + " LINE" + line + routine);
}

}  // namespace oapx1
