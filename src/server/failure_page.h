// The answer of a host page that failed: a page in the application's style
// that says so, instead of what the page wrote before its failure and the
// failure's trailer. The node settings page keeps its own answer.
#ifndef OAPX1_SERVER_FAILURE_PAGE_H_
#define OAPX1_SERVER_FAILURE_PAGE_H_

#include <string>

#include "server/http_exchange.h"

namespace oapx1 {

// A 500 page in code page 936 with the application's style sheet (under
// `system_url`), telling that the page could not be shown, that nothing was
// changed, that the failure is in the server's event log, and offering to
// try again and the way to the application's start (`app_root`). Not cached.
HttpReply host_failure_page(const std::string& system_url, const std::string& app_root);

}  // namespace oapx1

#endif  // OAPX1_SERVER_FAILURE_PAGE_H_
