// The engine side of the data access stand-ins: one engine connection
// (DbSession) with its prepared-statement cache, behind one interface for
// SQLite and PostgreSQL. Connection and Recordset use only this interface.
#ifndef OAPX1_PLATFORM_DATA_DB_BACKEND_H_
#define OAPX1_PLATFORM_DATA_DB_BACKEND_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/call/call_context.h"
#include "platform/data/lru_map.h"
#include "platform/data/sql_dialect.h"
#include "platform/script/variant.h"

namespace oapx1 {

// A column of a result.
struct DbColumn {
  std::string name;  // as the engine names it
  // The table the column is read from, as the engine identifies it
  // (SQLite "db.table", PostgreSQL the table's oid); empty for an expression.
  std::string table;
  // The column of that table (SQLite its name, PostgreSQL its number).
  std::string origin;
  bool is_date = false;  // declared as a date, time or timestamp
};

// The columns of a result: shared, since a prepared statement hands the same
// set to every result it reads, with an index of the names for lookups that
// ignore ASCII letter case.
class DbColumns {
 public:
  DbColumns() = default;
  explicit DbColumns(std::vector<DbColumn> columns);

  size_t size() const { return set_ ? set_->list.size() : 0; }
  bool empty() const { return size() == 0; }
  const DbColumn& operator[](size_t i) const { return set_->list[i]; }
  // The position of the first column of that name, any letter case; -1 when none.
  int find(std::string_view name) const;

 private:
  struct Set {
    std::vector<DbColumn> list;                          // in result order
    // lower-case name -> first position
    std::unordered_map<std::string, int, detail::ViewHash, std::equal_to<>> by_lower_name;
  };
  std::shared_ptr<const Set> set_;
};

// The whole result of one statement.
struct DbResult {
  DbColumns columns;                         // empty for a statement that returns no rows
  std::vector<std::vector<Variant>> rows;    // every row, read at once
  int64_t affected = 0;                      // rows inserted, updated or deleted
};

// What writing rows back to a table needs to know about it.
struct DbTable {
  std::string sql_name;  // the table's quoted, qualified name for statements
  std::string key;       // its single key column, quoted; empty when it has none or several
  // Quoted column names by the engine's column identity (see DbColumn::origin).
  std::unordered_map<std::string, std::string> columns;
};

// One engine connection. Used by one thread at a time (the pool hands it to
// one Connection); not copyable.
class DbSession {
 public:
  virtual ~DbSession() = default;
  DbSession(const DbSession&) = delete;
  DbSession& operator=(const DbSession&) = delete;

  virtual SqlDialect dialect() const = 0;

  // Translates a statement of the application's dialect and runs it, reading
  // every row. Fails with ScriptError: the engine's message, with the number
  // for a missing table, invalid statement, violated constraint or other failure.
  DbResult query(std::string_view app_sql);
  // Like query, for a result that is only read (a recordset): the engine may
  // hand out a result it kept from an earlier run of the same statement, when
  // it can prove the database has not changed since; hence shared and const.
  std::shared_ptr<const DbResult> query_shared(std::string_view app_sql);

  // Runs SQL of the engine's dialect with `params` bound to its placeholders,
  // through the prepared-statement cache; reads every row.
  virtual DbResult run(const std::string& sql, const std::vector<DbParam>& params) = 0;
  // Like run, for a result that is only read; by default a fresh run.
  virtual std::shared_ptr<const DbResult> run_shared(const std::string& sql,
                                                     const std::vector<DbParam>& params) {
    return std::make_shared<const DbResult>(run(sql, params));
  }
  // The state of this connection's kept results as a kept read would find
  // them now, after the same look at the database's version (see
  // ReadResultCache::stamp_at); none when no read would be kept now (inside a
  // transaction of the caller's own, or an engine that keeps nothing).
  virtual std::optional<DataStamp> data_stamp() { return std::nullopt; }
  // Runs a script of several statements as it is; the rows of its first
  // statement that returns rows (SQLite) or of its last (PostgreSQL).
  virtual DbResult run_script(const std::string& sql) = 0;

  // A table's key and columns for writing rows back, by the identity in
  // DbColumn::table; read once per table and engine connection.
  virtual const DbTable& table(const std::string& table_id) = 0;

  // Statements may run (or wait for a lock) up to this many seconds.
  virtual void set_command_timeout(int seconds) = 0;

  // With `on`, the statements that only read rows share one read transaction
  // until a statement that may write, or the end of this use
  // (reset_for_reuse): one snapshot for a request's reads, and fewer locks.
  // The default reads each statement on its own; engines that cannot share
  // ignore it.
  virtual void set_shared_reads(bool /*on*/) {}

  // Readies the engine connection for its next user: ends an open
  // transaction. False when the connection is broken and must be discarded.
  virtual bool reset_for_reuse() noexcept = 0;

  // False when the engine has closed the connection since its last use (a
  // database server that restarted, say); looks without a round trip.
  virtual bool alive() noexcept { return true; }

  // Prepared statements kept; the least recently used is dropped past it.
  // 0 prepares every statement afresh (for comparison in benchmarks).
  void set_statement_cache_capacity(size_t n) { cache_capacity_ = n; }
  size_t statement_cache_capacity() const { return cache_capacity_; }
  static constexpr size_t kDefaultStatementCache = 256;

 protected:
  DbSession() = default;

 private:
  // The statement in the engine's dialect: the cached translation, or
  // `scratch` filled when the text is not kept.
  const TranslatedSql& translate(std::string_view app_sql, TranslatedSql& scratch);

  size_t cache_capacity_ = kDefaultStatementCache;
  // Translations by the application's statement text: a page runs the same
  // texts over and over (the guard's query, the lookups of one node).
  LruMap<TranslatedSql> translations_;
};

// Opens an engine connection for a connection string: "sqlite:PATH" (the file
// is created when missing) or, when built in, "postgresql://..." /
// "postgres://...". Fails with err::kProviderFailure and the engine's message
// when it refuses (kStatementTimedOut when a server is silent past the
// statement limit), or with a message naming the accepted forms for any
// other string.
std::unique_ptr<DbSession> open_db_session(const std::string& connect_string);

// The round trips this process's engine connections have made to database
// servers so far (PostgreSQL's; none in a build without it), for tests and
// benchmarks.
uint64_t server_round_trips();

// Converts a text that reads as "YYYY-MM-DD[ HH:MM:SS[.fff]]" (or "HH:MM:SS")
// to a date; any other value is returned as it is.
Variant date_or_text(Variant value);
// A value assigned to a column as a parameter to write: null and empty give
// NULL, booleans 1/0, dates their "YYYY-MM-DD HH:MM:SS" text; fails with
// err::kTypeMismatch for an object.
DbParam param_from_variant(const Variant& v);
// Raises the failure for an engine error: `kind` tells missing object,
// invalid statement, constraint or other.
enum class DbErrorKind : uint8_t { kInvalidObject, kSyntax, kConstraint, kOther };
[[noreturn]] void raise_db_error(DbErrorKind kind, std::string message);

// The number of the failure of a statement that ran out of its time limit
// (ProcessSettings::statement_limit_ms), as the data access platform numbers
// an expired command time-out.
inline constexpr int32_t kStatementTimedOut = -2147217871;
// A statement's time limit on a connection whose command time-out is
// `command_seconds` (0: none), in milliseconds: the process's statement limit,
// bounded by the command time-out; 0 when the process sets no limit.
int statement_limit_ms(int command_seconds);
// Raises that failure for the statement `sql`, after telling the thread's
// StatementTimeouts (if any) of it; the call under way cannot be answered
// again (CallWatch::unrepeatable).
[[noreturn]] void raise_statement_timeout(std::string_view sql);

// Watches the statements this thread runs while it lives: the first that ran
// out of its time limit is remembered, even when the caller catches its
// failure and goes on. Scopes nest; the innermost one is told.
class StatementTimeouts {
 public:
  StatementTimeouts();
  ~StatementTimeouts();
  StatementTimeouts(const StatementTimeouts&) = delete;
  StatementTimeouts& operator=(const StatementTimeouts&) = delete;

  // The text of the first statement that ran out of time in this scope, cut
  // to its first kTextKept bytes; nullopt when none did.
  const std::optional<std::string>& first() const { return first_; }
  static constexpr size_t kTextKept = 200;

 private:
  friend void raise_statement_timeout(std::string_view sql);
  StatementTimeouts* outer_;          // the scope this one is nested in; null for none
  std::optional<std::string> first_;  // the first statement that ran out of time
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_DB_BACKEND_H_
