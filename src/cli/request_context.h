// The request a command runs: items given on the command line, held in memory
// and bound as the object context of the calling thread.
#ifndef OAPX1_CLI_REQUEST_CONTEXT_H_
#define OAPX1_CLI_REQUEST_CONTEXT_H_

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cli/options.h"
#include "platform/web/event_log.h"
#include "platform/web/memory_intrinsics.h"
#include "platform/web/process.h"

namespace oapx1 {

// The options `oapx1 request` and `oapx1 call` share.
struct RequestOptions {
  std::string db;                                             // --db or --config, the database URL
  std::vector<std::pair<std::string, std::string>> query;     // --query NAME=VALUE
  std::vector<std::pair<std::string, std::string>> form;      // --form NAME=VALUE
  std::vector<std::pair<std::string, std::string>> session;   // --session NAME=VALUE
  std::vector<std::pair<std::string, std::string>> application;  // --application NAME=VALUE
  std::optional<DateTime> now;                                // --now
  bool utf8 = false;                                          // --utf8
};

// The flags `oapx1 request` and `oapx1 call` share, besides the common ones.
std::span<const Flag> request_flags();

// The usage of the flags of `request_flags`, the common ones first, under the
// heading "request options:".
std::string request_options_usage();

// The request options of a command line read with request_flags (which
// checked each item and --now); the database as CommandLine::database names
// it, and fails as that does.
RequestOptions request_options(const CommandLine& line);

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
