#include "platform/web/event_log.h"

#include <syslog.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/call/call_context.h"
#include "platform/process/process.h"

namespace oapx1 {
namespace {

class StderrEventLog : public EventLog {
 public:
  void write(int type, std::string_view text) override {
    std::fprintf(stderr, "event %d: %.*s\n", type, static_cast<int>(text.size()), text.data());
  }
};

StderrEventLog g_stderr_log;

}  // namespace

void CollectingEventLog::write(int type, std::string_view text) {
  std::lock_guard<std::mutex> guard(mutex_);
  entries_.emplace_back(type, std::string(text));
}

std::vector<std::pair<int, std::string>> CollectingEventLog::entries() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return entries_;
}

void CollectingEventLog::clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  entries_.clear();
}

SyslogEventLog::SyslogEventLog() { openlog("oapx1", LOG_PID, LOG_USER); }

void SyslogEventLog::reopen() {
  closelog();
  openlog("oapx1", LOG_PID, LOG_USER);
}

void SyslogEventLog::write(int type, std::string_view text) {
  const int priority = type == kEventError ? LOG_ERR : (type == 2 ? LOG_WARNING : LOG_INFO);
  syslog(priority, "%.*s", static_cast<int>(text.size()), text.data());
}

std::string failure_text(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ScriptError& e) {
    return std::to_string(e.number()) + " " + e.what();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown failure";
  }
}

EventLog& event_log() {
  // What a call logs is not part of its output: a call that logs is not
  // answered again from its output.
  CallWatch::unrepeatable();
  EventLog* log = process_settings()->event_log;
  return log ? *log : g_stderr_log;
}

void set_event_log(EventLog* log) {
  update_process_settings([log](ProcessSettings& s) { s.event_log = log; });
}

DateTime clock_now() {
  CallWatch::unrepeatable();
  if (const auto settings = process_settings(); settings->fixed_now) return *settings->fixed_now;
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  localtime_r(&t, &tm);
  return make_datetime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                       tm.tm_sec);
}

void set_clock(std::optional<DateTime> fixed) {
  update_process_settings([fixed](ProcessSettings& s) { s.fixed_now = fixed; });
}

}  // namespace oapx1
