// The request a command runs: items given on the command line, held in memory
// and bound as the object context of the calling thread.
#ifndef OAPX1_CLI_REQUEST_CONTEXT_H_
#define OAPX1_CLI_REQUEST_CONTEXT_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/web/event_log.h"
#include "platform/web/memory_intrinsics.h"
#include "platform/web/process.h"

namespace oapx1 {

// The options `oapx1 request` and `oapx1 call` share.
struct RequestOptions {
  std::string db;                                             // --db, the database URL
  std::vector<std::pair<std::string, std::string>> query;     // --query NAME=VALUE
  std::vector<std::pair<std::string, std::string>> form;      // --form NAME=VALUE
  std::vector<std::pair<std::string, std::string>> session;   // --session NAME=VALUE
  std::vector<std::pair<std::string, std::string>> application;  // --application NAME=VALUE
  std::optional<DateTime> now;                                // --now
  bool utf8 = false;                                          // --utf8
};

// Takes the option at args[i] (and its value) when it is a shared request
// option; returns false when it is not one. Throws UsageError on a bad value.
bool take_request_option(const std::vector<std::string>& args, size_t& i, RequestOptions& options);

// A command-line usage error: a message for stderr and exit status 2.
struct UsageError {
  std::string message;
};

// The intrinsic objects of one command-line request, bound on this thread for
// its lifetime; process settings (database, clock, event log) applied too.
class CommandRequest {
 public:
  explicit CommandRequest(const RequestOptions& options);

  MemoryResponse& response() { return call_.response; }
  CollectingEventLog& events() { return events_; }

 private:
  CollectingEventLog events_;        // the events of the command
  ScopedProcessSettings settings_;   // database, clock and event log of the command
  ApplicationState application_state_;
  MemoryCall call_;                  // the request's objects, bound while the command runs
};

}  // namespace oapx1

#endif  // OAPX1_CLI_REQUEST_CONTEXT_H_
