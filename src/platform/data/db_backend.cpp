#include "platform/data/db_backend.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <utility>

#include "platform/data/postgres_backend.h"
#include "platform/data/sqlite_backend.h"
#include "platform/process/process.h"
#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

// Reads exactly `n` digits at `pos`.
bool digits(std::string_view s, size_t& pos, size_t n, int& out) {
  if (pos + n > s.size()) return false;
  out = 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  pos += n;
  return true;
}

bool expect(std::string_view s, size_t& pos, char c) {
  if (pos < s.size() && s[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

// "HH:MM:SS" with optional fraction (dropped: dates keep whole seconds) and,
// as timestamp-with-zone texts carry it, an optional zone offset (dropped:
// the text is already the session's local time).
bool read_time(std::string_view s, size_t& pos, int& h, int& m, int& sec) {
  if (!digits(s, pos, 2, h) || !expect(s, pos, ':') || !digits(s, pos, 2, m) ||
      !expect(s, pos, ':') || !digits(s, pos, 2, sec))
    return false;
  if (expect(s, pos, '.')) {
    const size_t start = pos;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos]))) ++pos;
    if (pos == start) return false;
  }
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    int zh = 0, zm = 0;
    ++pos;
    if (!digits(s, pos, 2, zh)) return false;
    if (expect(s, pos, ':') && !digits(s, pos, 2, zm)) return false;
  }
  return true;
}

}  // namespace

Variant date_or_text(Variant value) {
  if (!value.is_text()) return value;
  const std::string_view s = value.text();
  size_t pos = 0;
  int y = 1899, mo = 12, d = 30, h = 0, mi = 0, sec = 0;
  if (s.size() >= 10 && s[4] == '-') {
    if (!digits(s, pos, 4, y) || !expect(s, pos, '-') || !digits(s, pos, 2, mo) ||
        !expect(s, pos, '-') || !digits(s, pos, 2, d))
      return value;
    if (pos < s.size() && (s[pos] == ' ' || s[pos] == 'T')) {
      ++pos;
      if (!read_time(s, pos, h, mi, sec)) return value;
    }
  } else if (!read_time(s, pos, h, mi, sec)) {
    return value;
  }
  if (pos != s.size() || !valid_civil(y, mo, d, h, mi, sec)) return value;
  return Variant(make_datetime(y, mo, d, h, mi, sec));
}

DbParam param_from_variant(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty:
    case Variant::Type::kNull:
      return DbParam::null();
    case Variant::Type::kBoolean:
      return DbParam::of_integer(v.boolean() ? 1 : 0);
    case Variant::Type::kInteger:
      return DbParam::of_integer(v.integer());
    case Variant::Type::kDouble:
      return DbParam::of_real(v.real());
    case Variant::Type::kDate:
      return DbParam::of_datetime(format_iso(v.date()));
    case Variant::Type::kText:
      return DbParam::of_text(v.text());
    case Variant::Type::kObject:
      break;
  }
  throw ScriptError(err::kTypeMismatch, "Type mismatch");
}

void raise_db_error(DbErrorKind kind, std::string message) {
  int32_t number = err::kProviderFailure;
  switch (kind) {
    case DbErrorKind::kInvalidObject:
      number = err::kInvalidObjectName;
      break;
    case DbErrorKind::kSyntax:
      number = err::kSyntaxError;
      break;
    case DbErrorKind::kConstraint:
      number = err::kConstraint;
      break;
    case DbErrorKind::kOther:
      break;
  }
  while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) {
    message.pop_back();
  }
  throw ScriptError(number, std::move(message));
}

namespace {

// The innermost StatementTimeouts of the thread; null for none.
thread_local StatementTimeouts* watching_timeouts = nullptr;

}  // namespace

StatementTimeouts::StatementTimeouts() : outer_(std::exchange(watching_timeouts, this)) {}

StatementTimeouts::~StatementTimeouts() { watching_timeouts = outer_; }

int statement_limit_ms(int command_seconds) {
  const int limit = std::max(0, process_settings()->statement_limit_ms);
  const int command = std::clamp(command_seconds, 0, INT_MAX / 1000) * 1000;
  if (limit == 0 || command == 0) return limit;
  return std::min(limit, command);
}

void raise_statement_timeout(std::string_view sql) {
  if (watching_timeouts && !watching_timeouts->first_) {
    // Cut where a character begins, not inside one.
    size_t cut = std::min(sql.size(), StatementTimeouts::kTextKept);
    while (cut < sql.size() && cut > 0 && (static_cast<unsigned char>(sql[cut]) & 0xC0) == 0x80) --cut;
    watching_timeouts->first_ = std::string(sql.substr(0, cut));
  }
  // What the call gave without the statement's rows is not kept.
  CallWatch::unrepeatable();
  throw ScriptError(kStatementTimedOut, "Query timeout expired");
}

DbColumns::DbColumns(std::vector<DbColumn> columns) {
  auto set = std::make_shared<Set>();
  set->list = std::move(columns);
  for (size_t i = 0; i < set->list.size(); ++i)
    set->by_lower_name.emplace(ascii_lower(set->list[i].name), static_cast<int>(i));
  set_ = std::move(set);
}

int DbColumns::find(std::string_view name) const {
  if (!set_) return -1;
  // Column names are short: lowered in place, without an allocation.
  char buffer[64];
  std::string lowered;
  std::string_view key;
  if (name.size() <= sizeof buffer) {
    for (size_t i = 0; i < name.size(); ++i) buffer[i] = ascii_lower(name[i]);
    key = std::string_view(buffer, name.size());
  } else {
    lowered = ascii_lower(name);
    key = lowered;
  }
  auto it = set_->by_lower_name.find(key);
  return it == set_->by_lower_name.end() ? -1 : it->second;
}

const TranslatedSql& DbSession::translate(std::string_view app_sql, TranslatedSql& scratch) {
  // Both engines limit the parameters of one statement; a statement with
  // more literals than that (a huge "in" list) runs with its literals in place.
  constexpr size_t kMaxLiftedLiterals = 32766;
  constexpr size_t kMaxCachedText = 4096;
  if (const TranslatedSql* cached = translations_.find(app_sql)) return *cached;
  TranslatedSql t = translate_sql(app_sql, dialect());
  if (t.params.size() > kMaxLiftedLiterals) t = translate_sql(app_sql, dialect(), false);
  // One statement at a time: names the page places in its SQL unquoted cannot
  // append statements of their own. Scripts go through run_script.
  if (t.multiple_statements) {
    throw ScriptError(err::kSyntaxError, "Only one statement can be run at a time; the text holds several.");
  }
  if (app_sql.size() > kMaxCachedText || cache_capacity_ == 0) {
    scratch = std::move(t);
    return scratch;
  }
  return translations_.insert(std::string(app_sql), std::move(t), kDefaultStatementCache);
}

DbResult DbSession::query(std::string_view app_sql) {
  TranslatedSql scratch;
  const TranslatedSql& t = translate(app_sql, scratch);
  return run(t.text, t.params);
}

std::shared_ptr<const DbResult> DbSession::query_shared(std::string_view app_sql) {
  TranslatedSql scratch;
  const TranslatedSql& t = translate(app_sql, scratch);
  return run_shared(t.text, t.params);
}

uint64_t server_round_trips() {
#ifdef OAPX1_WITH_POSTGRES
  return postgres_round_trips();
#else
  return 0;
#endif
}

bool DataStampProbe::asks_server(const std::string& database) {
#ifdef OAPX1_WITH_POSTGRES
  return database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0;
#else
  (void)database;
  return false;
#endif
}

std::unique_ptr<DataStampProbe> DataStampProbe::open(const std::string& database) {
#ifdef OAPX1_WITH_POSTGRES
  if (asks_server(database)) return open_postgres_stamp_probe(database);
#endif
  (void)database;
  return nullptr;
}

std::unique_ptr<DbSession> open_db_session(const std::string& connect_string) {
  constexpr std::string_view kSqlite = "sqlite:";
  if (connect_string.compare(0, kSqlite.size(), kSqlite) == 0) {
    return open_sqlite_session(connect_string.substr(kSqlite.size()));
  }
  if (connect_string.rfind("postgresql://", 0) == 0 || connect_string.rfind("postgres://", 0) == 0) {
#ifdef OAPX1_WITH_POSTGRES
    return open_postgres_session(connect_string);
#else
    throw ScriptError(err::kProviderFailure,
                      "PostgreSQL connection strings are not supported by this build");
#endif
  }
  // The string itself is not repeated: it may carry a password, and the
  // message reaches the page.
  throw ScriptError(err::kProviderFailure,
                    "Unsupported connection string: expected sqlite:PATH or postgresql://...");
}

}  // namespace oapx1
