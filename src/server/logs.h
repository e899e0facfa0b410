// The server's two logs: the event log (failures of pages and of the host, one
// line each with time, level and the request they belong to) and the optional
// access log (one line per answered request in the combined log format).
#ifndef OAPX1_SERVER_LOGS_H_
#define OAPX1_SERVER_LOGS_H_

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/web/event_log.h"

namespace oapx1 {

struct HttpRequest;
struct HttpReply;

// The request being answered on this thread, as log lines name it.
struct RequestLogContext {
  std::string method;  // "GET", "POST", ...
  std::string target;  // path and query, as sent
  std::string user;    // the session's UserName once known; empty for none
};

// Makes `context` the request of this thread's log lines for its lifetime.
class RequestLogScope {
 public:
  explicit RequestLogScope(RequestLogContext& context);
  ~RequestLogScope();
  RequestLogScope(const RequestLogScope&) = delete;
  RequestLogScope& operator=(const RequestLogScope&) = delete;

  // The request of this thread, or null outside one.
  static RequestLogContext* current();

 private:
  RequestLogContext* saved_;  // the scope this one hides (none in practice)
};

// One event log line, without its line end: "2026-05-06T09:07:03+0800 error
// GET /oa/flow/model/jiedian.asp?OAID=1 user=admin: TEXT". The level is
// error, warning or information by event type; outside a request the method
// and target are "-", and so is a request without a signed-in user. Control
// characters in any part become spaces, so one entry is one line.
std::string format_event_line(std::chrono::system_clock::time_point when, int type,
                              std::string_view text, const RequestLogContext* request);

// The event log of `oapx1 serve`: each entry to standard error as one
// format_event_line line (the user of the bound session when a page is
// running), and to the system log with the same request and text.
class ServerEventLog : public EventLog {
 public:
  void write(int type, std::string_view text) override;
  // Shows the number of a handled failure apart from its text:
  // "NUMBER: DESCRIPTION LINE #...". The system log gets the same text.
  void write_failure(long number, std::string_view text) override;
  // Connects to the system log again.
  void reopen() override;

 private:
  SyslogEventLog syslog_;
  std::mutex mutex_;  // keeps lines of different threads whole
};

// One access log line in the combined log format, without its line end:
// peer - user [06/May/2026:09:07:03 +0800] "GET /path HTTP/1.1" 200 1234
// "referer" "user agent". The byte count is of the body sent ("-" for none,
// and for HEAD); absent user, referer or agent print as "-"; quotes,
// backslashes and control characters in quoted fields are escaped as \" \\ \xHH.
std::string format_access_line(std::chrono::system_clock::time_point when,
                               const HttpRequest& request, const HttpReply& reply,
                               std::string_view user);

// The access log: a file opened for appending (so an outside rotation that
// truncates it goes on working), or standard output for "-".
class AccessLog {
 public:
  // Opens the log. Fails with std::runtime_error naming the file when it
  // cannot be opened for appending.
  explicit AccessLog(const std::string& target);
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  // Appends the line of one answered request and flushes it. Thread-safe;
  // never throws.
  void write(const HttpRequest& request, const HttpReply& reply, std::string_view user) noexcept;

  // Opens the file again under its name, for a rotation that moved it away;
  // nothing to do for standard output. Fails with std::runtime_error naming
  // the file (the old one stays in use) when it cannot be opened.
  void reopen();

 private:
  std::string target_;  // the file's name, or "-"
  std::FILE* file_;   // the log, or stdout
  bool owned_;        // file_ is ours to close
  std::mutex mutex_;  // keeps lines of different threads whole
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_LOGS_H_
