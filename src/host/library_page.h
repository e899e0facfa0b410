// Pages of the library methods alone, on requests of the host's own: the host
// reads and records what it checks around a page (a permission, a node's row,
// the audit log) with the same methods and connection rules the pages use.
#ifndef OAPX1_HOST_LIBRARY_PAGE_H_
#define OAPX1_HOST_LIBRARY_PAGE_H_

#include <functional>

#include "host/page.h"
#include "platform/web/memory_intrinsics.h"

namespace oapx1 {

// Runs `body(page)` on a page of the library methods alone, bound to a
// request of its own that carries `session` (`reads_only` as
// ObjectContext::reads_only), with the connection open as every page opens
// it, and closes the connection afterwards, also when `body` throws. What the
// page writes (the trailer of a failure) goes nowhere. Throws what opening
// the connection or `body` throws.
void run_library_page(ApplicationState& application, Session& session, bool reads_only,
                      const std::function<void(Page& page)>& body);

// run_library_page that fails quietly: false, with the failure written to the
// event log under `what`, when the connection could not be opened or `body`
// threw; true when it ran.
bool try_library_page(ApplicationState& application, Session& session, bool reads_only, std::string_view what,
                      const std::function<void(Page& page)>& body);

}  // namespace oapx1

#endif  // OAPX1_HOST_LIBRARY_PAGE_H_
