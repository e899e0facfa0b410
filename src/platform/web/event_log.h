// The application event log the failure handler writes to, and the clock the
// page reads "now" from. Both are process settings (platform/process/process.h),
// so the server can log to syslog while commands and tests collect entries and
// fix the time.
#ifndef OAPX1_PLATFORM_WEB_EVENT_LOG_H_
#define OAPX1_PLATFORM_WEB_EVENT_LOG_H_

#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/script/variant.h"

namespace oapx1 {

// Event type of an error entry.
inline constexpr int kEventError = 1;
// Event type of a warning entry.
inline constexpr int kEventWarning = 2;
// Event type of an information entry.
inline constexpr int kEventInformation = 4;

class EventLog {
 public:
  virtual ~EventLog() = default;
  // Records one entry. Called concurrently from every request thread.
  virtual void write(int type, std::string_view text) = 0;
  // Records the error entry of a handled failure whose number is `number`:
  // `text` is the entry as write() would take it, beginning with a space and
  // the number. A log read by people may set the number apart; the default
  // records the entry as it is.
  virtual void write_failure(long /*number*/, std::string_view text) { write(kEventError, text); }
  // Reopens what the log writes to (after a log rotation); the default has
  // nothing to reopen.
  virtual void reopen() {}
};

// Keeps entries in memory, for commands and tests.
class CollectingEventLog : public EventLog {
 public:
  void write(int type, std::string_view text) override;
  // The entries so far, oldest first.
  std::vector<std::pair<int, std::string>> entries() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<int, std::string>> entries_;  // (type, text)
};

// Writes entries to the system log (facility user, identity "oapx1").
class SyslogEventLog : public EventLog {
 public:
  SyslogEventLog();
  void write(int type, std::string_view text) override;
  // Closes the connection to the system log and opens it again.
  void reopen() override;
};

// The process's event log (process settings); until one is set, entries go
// to standard error.
EventLog& event_log();

// A failure as an event line names it: "NUMBER DESCRIPTION" for a script
// failure, the description for any other exception, "unknown failure" else.
std::string failure_text(std::exception_ptr failure);
// Sets the process's event log; the caller keeps it alive. Null restores the default.
void set_event_log(EventLog* log);

// The present local date and time, or the fixed time when one is set.
DateTime clock_now();
// Fixes the clock at a time (commands' --now, tests), or frees it with nullopt.
void set_clock(std::optional<DateTime> fixed);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_WEB_EVENT_LOG_H_
