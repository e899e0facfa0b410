// The process-wide settings of the platform, in one place: the database the
// connection-string provider hands out, the clock, the event log, the
// database lock wait and statement limit, the accounts the login policy spares, the SMTP time-outs
// and the regional weekday names. The host sets them once at start; every request
// reads them; tests and commands change them for a scope and put them back.
#ifndef OAPX1_PLATFORM_PROCESS_PROCESS_H_
#define OAPX1_PLATFORM_PROCESS_PROCESS_H_

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/script/variant.h"

namespace oapx1 {

class EventLog;

struct ProcessSettings {
  // The database URL of the connection-string provider; "" means what
  // resolve_database("") gives.
  std::string database;
  // The present moment when fixed (the command's --now, tests); nullopt reads
  // the system clock.
  std::optional<DateTime> fixed_now;
  // Where events go (the owner keeps it alive); null means standard error.
  EventLog* event_log = nullptr;
  // The longest a statement waits for a database lock another connection
  // holds (SQLite's busy time-out), in milliseconds; the connection's command
  // time-out still applies when it is shorter. 0 leaves only the command
  // time-out. A statement that waits longer fails as any database failure.
  int database_lock_wait_ms = 5000;
  // The longest a statement runs, or waits for the database server's reply,
  // in milliseconds; the connection's command time-out still applies when it
  // is shorter. 0 leaves only the command time-out. A statement that runs
  // longer fails with kStatementTimedOut (platform/data/db_backend.h).
  int statement_limit_ms = 0;
  // The accounts the login access policy does not restrict, in lower case,
  // as the host's configuration sets them; nullopt reads the environment
  // variable OAPX1_LOGIN_EXEMPT at each check (platform/web/login_exempt.h).
  std::optional<std::vector<std::string>> login_exempt;
  // How long the SMTP transport waits to connect to a mail server, and for a
  // whole exchange with it, in milliseconds.
  long long smtp_connect_ms = 10000;
  long long smtp_total_ms = 60000;
  // The full weekday names of the server's regional settings, Sunday first.
  std::array<std::string, 7> weekday_names = {"星期日", "星期一", "星期二", "星期三",
                                              "星期四", "星期五", "星期六"};
};

// The database of a fresh installation, relative to the working folder.
inline constexpr char kDefaultDatabase[] = "sqlite:var/oa.db";

// The one resolution of the database URL every command and the server use:
// `configured` (a --db flag or a configuration file's `db`) when not empty,
// else the environment variable OAPX1_DB when set and not empty, else
// kDefaultDatabase.
std::string resolve_database(std::string_view configured);

// Asks for a secret on the controlling terminal: writes `prompt` there and
// reads one line with echo off (restored afterwards, also on failure). The
// line comes without its end. Nullopt when the process has no terminal or
// the input ends before a line.
std::optional<std::string> read_secret_from_terminal(std::string_view prompt);

// Keeps the memory a request frees in the process for the next request,
// instead of returning it to the system after each burst and faulting it in
// again: glibc trims the heap top above 128 KiB and maps large blocks afresh
// by default. Up to 128 MiB is kept, and blocks of 32 MiB and more are still
// mapped on their own. The
// server calls it at start, and the benchmarks, so that they measure what the
// server runs.
void keep_freed_memory();

// The settings in force; a snapshot that stays valid while held. Thread-safe.
std::shared_ptr<const ProcessSettings> process_settings();
// Changes the settings in force: `change` edits a copy, which then replaces
// them for every later reader. Thread-safe.
void update_process_settings(const std::function<void(ProcessSettings&)>& change);

// Changes the settings for its own lifetime, then puts back the ones in force
// when it was made (tests, one command).
class ScopedProcessSettings {
 public:
  explicit ScopedProcessSettings(const std::function<void(ProcessSettings&)>& change);
  ~ScopedProcessSettings();
  ScopedProcessSettings(const ScopedProcessSettings&) = delete;
  ScopedProcessSettings& operator=(const ScopedProcessSettings&) = delete;

 private:
  std::shared_ptr<const ProcessSettings> saved_;  // the settings to put back
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_PROCESS_PROCESS_H_
