#include "platform/web/event_log.h"

#include <syslog.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace oapx1 {
namespace {

class StderrEventLog : public EventLog {
 public:
  void write(int type, std::string_view text) override {
    std::fprintf(stderr, "event %d: %.*s\n", type, static_cast<int>(text.size()), text.data());
  }
};

StderrEventLog g_stderr_log;
std::atomic<EventLog*> g_log{nullptr};

std::mutex g_clock_mutex;
std::optional<DateTime> g_fixed_clock;

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

void SyslogEventLog::write(int type, std::string_view text) {
  const int priority = type == kEventError ? LOG_ERR : (type == 2 ? LOG_WARNING : LOG_INFO);
  syslog(priority, "%.*s", static_cast<int>(text.size()), text.data());
}

EventLog& event_log() {
  EventLog* log = g_log.load();
  return log ? *log : g_stderr_log;
}

void set_event_log(EventLog* log) { g_log.store(log); }

DateTime clock_now() {
  {
    std::lock_guard<std::mutex> guard(g_clock_mutex);
    if (g_fixed_clock) return *g_fixed_clock;
  }
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  localtime_r(&t, &tm);
  return make_datetime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                       tm.tm_sec);
}

void set_clock(std::optional<DateTime> fixed) {
  std::lock_guard<std::mutex> guard(g_clock_mutex);
  g_fixed_clock = fixed;
}

}  // namespace oapx1
