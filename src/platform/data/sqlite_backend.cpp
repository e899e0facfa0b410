#include "platform/data/sqlite_backend.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/call/call_context.h"
#include "platform/data/read_result_cache.h"
#include "platform/data/writer_gate.h"
#include "platform/process/process.h"
#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

// Fails, before anything is written, when the host's call on this thread
// promised to only read (call_may_write): such a page runs where waiting for
// the writer would hold up other connections.
void refuse_writes_of_a_reading_call() {
  if (!call_may_write()) {
    throw ScriptError(err::kProviderFailure,
                      "A page that only reads the database tried to write to it; the statement was not run.");
  }
}

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// A prepared statement of the cache with the columns it last read, so the
// column facts are gathered once per statement, not once per run.
struct CachedStmt {
  StmtPtr stmt;
  DbColumns columns;   // empty until the first run
  int reprepared = 0;  // the statement's recompile count when `columns` was taken
  bool keepable = false;  // its results may be kept while the database is unchanged
  // The tables the statement reads (one that returns rows) or writes (any
  // other), as its latest compilation named them, triggers included; every
  // table when it may touch more than it names (schema, pragmas,
  // transactions) or names none.
  std::shared_ptr<const ReadResultCache::Tables> tables;
  int tables_reprepared = 0;  // the recompile count when `tables` was taken
};

// The tables a statement names while SQLite compiles it, from the
// authorizer's reports: those it reads, those it writes, and whether it does
// anything else.
struct TableNames {
  std::vector<std::string> read, written;
  bool other = false;  // an action that is neither reading nor writing rows

  void note(int action, const char* table) {
    switch (action) {
      case SQLITE_READ:
        if (table) read.push_back(ascii_lower(table));
        break;
      case SQLITE_INSERT:
      case SQLITE_UPDATE:
      case SQLITE_DELETE:
        if (table) written.push_back(ascii_lower(table));
        break;
      case SQLITE_SELECT:
      case SQLITE_FUNCTION:
      case SQLITE_RECURSIVE:
        break;
      default:
        other = true;
    }
  }
};

// Leaves a statement ready for its next use, however its run ended; bound
// texts are not copied, so the bindings must go before the values do.
class StmtReset {
 public:
  explicit StmtReset(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~StmtReset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  StmtReset(const StmtReset&) = delete;
  StmtReset& operator=(const StmtReset&) = delete;

 private:
  sqlite3_stmt* stmt_;
};

constexpr int kDefaultBusySeconds = 30;

// How long a statement waits for a lock another connection holds: the
// command time-out, bounded by the process's lock wait.
int busy_milliseconds(int command_seconds) {
  int ms = std::clamp(command_seconds, 0, INT_MAX / 1000) * 1000;
  const int bound = process_settings()->database_lock_wait_ms;
  if (bound > 0) ms = std::min(ms, bound);
  return ms;
}

// How many steps of a statement's program run between looks at its time.
constexpr int kProgressSteps = 1000;

// How long a statement may run: the command time-out, bounded by the
// process's statement limit; 0 for no limit.
std::chrono::milliseconds run_limit(int command_seconds) {
  return std::chrono::milliseconds(statement_limit_ms(command_seconds));
}

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Whether a statement is a pragma (by its first word).
bool is_pragma(std::string_view sql) {
  const size_t start = sql.find_first_not_of(" \t\r\n");
  return start != std::string_view::npos && ascii_iequals(sql.substr(start, 6), "pragma");
}

bool declared_as_date(const char* decltype_text) {
  if (!decltype_text) return false;
  std::string upper(decltype_text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find("DATE") != std::string::npos || upper.find("TIME") != std::string::npos;
}

// Process-wide settings, made before SQLite's first use: no memory
// statistics, which would take a global mutex on every allocation of every
// connection.
void configure_sqlite_once() {
  static std::once_flag once;
  std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

class SqliteSession final : public DbSession {
 public:
  explicit SqliteSession(DbPtr db) : db_(std::move(db)) {
    const char* file = sqlite3_db_filename(db_.get(), "main");
    gate_ = writer_gate_for(file ? file : "");
    // Called only while SQLite compiles a statement, which a run does again
    // when the schema or a bound value calls for another plan.
    sqlite3_set_authorizer(db_.get(), &SqliteSession::authorize, this);
    sqlite3_busy_handler(db_.get(), &SqliteSession::wait_for_lock, this);
    sqlite3_progress_handler(db_.get(), kProgressSteps, &SqliteSession::over_time, this);
  }

  ~SqliteSession() override {
    // A transaction left open ends before the next writer is let in.
    if (in_gate_ && !sqlite3_get_autocommit(db_.get())) {
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    if (in_gate_) gate_->leave();
  }

  SqlDialect dialect() const override { return SqlDialect::kSqlite; }

  DbResult run(const std::string& sql, const std::vector<DbParam>& params) override {
    const size_t capacity = statement_cache_capacity();
    StmtPtr fresh;
    sqlite3_stmt* stmt = nullptr;
    CachedStmt* cached = nullptr;
    if (capacity == 0) {
      fresh = prepare(sql, 0);
      stmt = fresh.get();
    } else {
      cached = find_or_prepare(sql, capacity);
      stmt = cached->stmt.get();
    }
    // A statement run afresh each time: a watched call cannot be answered
    // again without it.
    CallWatch::unrepeatable();
    GateSettle settle(*this);
    before(stmt, cached);
    StmtReset reset(stmt);
    bind(stmt, params);
    DbResult result = read(stmt, cached);
    return result;
  }

  std::shared_ptr<const DbResult> run_shared(const std::string& sql,
                                             const std::vector<DbParam>& params) override {
    const size_t capacity = statement_cache_capacity();
    if (capacity == 0) return std::make_shared<const DbResult>(run(sql, params));
    CachedStmt* cached = find_or_prepare(sql, capacity);
    sqlite3_stmt* stmt = cached->stmt.get();
    before(stmt, cached);
    // A kept result is used when the database is at the version it was read
    // at (see data_version()), read once for the shared read transaction, or
    // for this statement alone outside any transaction, and when this
    // connection has written none of the statement's tables since. Inside a
    // transaction of the caller's own nothing is kept: it may hold
    // uncommitted changes.
    const std::optional<int64_t> version = cached->keepable ? kept_version() : std::nullopt;
    if (version) {
      // Built in a buffer of the connection: a hit allocates nothing.
      ReadResultCache::make_key(sql, params, key_);
      if (std::shared_ptr<const DbResult> hit = results_.find(key_, *version)) {
        CallWatch::read_data(results_.stamp());
        return hit;
      }
    }
    std::shared_ptr<const DbResult> result;
    {
      StmtReset reset(stmt);
      bind(stmt, params);
      result = std::make_shared<const DbResult>(read(stmt, cached));
    }
    if (version && results_.keep(key_, *version, result, cached->tables)) {
      CallWatch::read_data(results_.stamp());
    } else {
      CallWatch::unrepeatable();  // a read that is not kept
    }
    return result;
  }

  std::optional<DataStamp> data_stamp() override {
    // No read transaction is begun for it: a caller that only compares
    // stamps reads nothing, and a read that follows begins its own and looks
    // again.
    const std::optional<int64_t> version = kept_version();
    if (!version) return std::nullopt;
    return results_.stamp_at(*version);
  }

  // The version a kept result is checked against now: the shared read
  // transaction's, or the database's for a statement read on its own; none
  // inside a transaction of the caller's own.
  std::optional<int64_t> kept_version() {
    if (reading_) return snapshot_version_;
    if (sqlite3_get_autocommit(db_.get())) return data_version();
    return std::nullopt;
  }

  DbResult run_script(const std::string& sql) override {
    // A script may change anything, in transactions of its own.
    CallWatch::unrepeatable();
    refuse_writes_of_a_reading_call();
    end_read();
    forget_results();
    DbResult result;
    bool have_rows = false;
    const char* rest = sql.c_str();
    const char* end = rest + sql.size();
    while (rest < end) {
      sqlite3_stmt* raw = nullptr;
      const char* tail = nullptr;
      const int rc = sqlite3_prepare_v2(db_.get(), rest, static_cast<int>(end - rest), &raw, &tail);
      StmtPtr stmt(raw);
      if (rc != SQLITE_OK) fail(rc, true);
      rest = tail;
      if (!stmt) continue;  // only spaces or comments were left
      GateSettle settle(*this);
      if (!sqlite3_stmt_readonly(stmt.get())) enter_gate();
      DbResult one = read(stmt.get());
      result.affected += one.affected;
      if (!have_rows && !one.columns.empty()) {
        result.columns = std::move(one.columns);
        result.rows = std::move(one.rows);
        have_rows = true;
      }
    }
    return result;
  }

  const DbTable& table(const std::string& table_id) override {
    auto found = tables_.find(table_id);
    if (found != tables_.end()) return found->second;
    const size_t dot = table_id.find('.');
    const std::string schema = table_id.substr(0, dot);
    const std::string name = dot == std::string::npos ? table_id : table_id.substr(dot + 1);
    DbTable t;
    t.sql_name = quote_identifier(schema) + "." + quote_identifier(name);
    const std::string pragma =
        "PRAGMA " + quote_identifier(schema) + ".table_info(" + quote_identifier(name) + ")";
    DbResult info = run_script(pragma);
    int keys = 0;
    for (const auto& row : info.rows) {
      // cid, name, type, notnull, dflt_value, pk
      const std::string column = row[1].str();
      t.columns[column] = quote_identifier(column);
      if (row[5].is_number() && row[5].integer() > 0) {
        ++keys;
        t.key = quote_identifier(column);
      }
    }
    if (keys != 1) t.key.clear();
    return tables_.emplace(table_id, std::move(t)).first->second;
  }

  void set_command_timeout(int seconds) override {
    const int ms = busy_milliseconds(seconds);
    busy_ms_ = ms;
    run_limit_ = run_limit(seconds);
  }

  void set_shared_reads(bool on) override {
    if (!on) end_read();
    shared_reads_ = on;
  }

  bool reset_for_reuse() noexcept override {
    reading_ = false;
    snapshot_version_.reset();
    if (!sqlite3_get_autocommit(db_.get())) {
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    leave_gate_when_done();
    return sqlite3_get_autocommit(db_.get()) != 0;
  }

 private:
  // A shared read transaction is ended and a new one begun when a statement
  // comes this long after its start, so that a connection held open for long
  // still sees what others committed.
  static constexpr std::chrono::milliseconds kMaxReadSpan{100};

  CachedStmt* find_or_prepare(const std::string& sql, size_t capacity) {
    if (CachedStmt* cached = cache_.find(sql)) return cached;
    // A pragma acts as SQLite compiles it, and some do nothing inside a
    // transaction: the shared read transaction ends first, as it would
    // before any other statement that is not a read.
    if (reading_ && is_pragma(sql)) end_read();
    TableNames names;
    CachedStmt fresh;
    {
      Collecting collecting(*this, names);
      fresh.stmt = prepare(sql, SQLITE_PREPARE_PERSISTENT);
    }
    fresh.keepable = is_query(fresh.stmt.get()) && read_dependence(sql) == ReadDependence::kData;
    take_tables(fresh, names);
    return &cache_.insert(sql, std::move(fresh), capacity);
  }

  // The process's writers to this file queue at its gate (see WriterGate)
  // before SQLite's write lock, rather than poll for the lock in the busy
  // handler: a statement that may write enters it first, and the connection
  // holds it until its write transaction has ended. A writer that has waited
  // the command time-out at the gate, or whose thread holds the gate through
  // another connection, goes on to SQLite's lock and its busy handler, as do
  // writers of other processes; one whose time-out is spent at the gate
  // does not wait there again.
  void enter_gate() {
    if (!gate_ || in_gate_) return;
    const auto patience = std::chrono::milliseconds(busy_ms_);
    const auto began = std::chrono::steady_clock::now();
    in_gate_ = gate_->enter(patience);
    patience_spent_ = !in_gate_ && std::chrono::steady_clock::now() - began >= patience;
  }

  // Leaves the gate once no transaction is open; readies the time-out for
  // the next statement.
  void leave_gate_when_done() noexcept {
    patience_spent_ = false;
    if (in_gate_ && sqlite3_get_autocommit(db_.get())) {
      in_gate_ = false;
      gate_->leave();
    }
  }

  // Leaves the gate, when the write transaction has ended, as a statement's
  // run ends however it ends.
  class GateSettle {
   public:
    explicit GateSettle(SqliteSession& session) : session_(session) {}
    ~GateSettle() { session_.leave_gate_when_done(); }
    GateSettle(const GateSettle&) = delete;
    GateSettle& operator=(const GateSettle&) = delete;

   private:
    SqliteSession& session_;
  };

  static bool is_query(sqlite3_stmt* stmt) {
    return sqlite3_stmt_readonly(stmt) && sqlite3_column_count(stmt) > 0;
  }

  // Gathers the tables of the statements SQLite compiles during its lifetime.
  class Collecting {
   public:
    Collecting(SqliteSession& session, TableNames& names) : session_(session) {
      session_.collecting_ = &names;
    }
    ~Collecting() { session_.collecting_ = nullptr; }
    Collecting(const Collecting&) = delete;
    Collecting& operator=(const Collecting&) = delete;

   private:
    SqliteSession& session_;
  };

  // Waits for another connection's lock. A connection that holds its
  // process's writer gate is the one writer of this process waiting: the
  // lock is another process's, and it looks again every millisecond, so that
  // it takes the lock soon after that process lets it go instead of sleeping
  // through other writers' turns. Any other wait goes as SQLite's own busy
  // timeout does, pausing 1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50 ms and then
  // 100 ms at a time. Both up to the timeout.
  static int wait_for_lock(void* self, int count) {
    auto* session = static_cast<SqliteSession*>(self);
    const int limit = session->busy_ms_;
    // The time limit counts running, not waiting for the lock: that has a
    // bound of its own.
    session->start_clock();
    if (session->patience_spent_) return 0;
    if (session->in_gate_) {
      const auto now = std::chrono::steady_clock::now();
      if (count == 0) session->busy_since_ = now;
      if (now - session->busy_since_ >= std::chrono::milliseconds(limit)) return 0;
      sqlite3_sleep(1);
      return 1;
    }
    static constexpr int kPauses[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    static constexpr int kSteps = static_cast<int>(std::size(kPauses));
    int waited = 0;
    for (int i = 0; i < std::min(count, kSteps); ++i) waited += kPauses[i];
    if (count > kSteps) waited += (count - kSteps) * kPauses[kSteps - 1];
    const int pause = std::min(kPauses[std::min(count, kSteps - 1)], limit - waited);
    if (pause <= 0) return 0;
    sqlite3_sleep(pause);
    return 1;
  }

  static int authorize(void* self, int action, const char* table, const char*, const char*,
                       const char*) {
    if (TableNames* names = static_cast<SqliteSession*>(self)->collecting_) names->note(action, table);
    return SQLITE_OK;
  }

  // Records in `cached` the tables its latest compilation named.
  void take_tables(CachedStmt& cached, const TableNames& names) {
    cached.tables_reprepared = sqlite3_stmt_status(cached.stmt.get(), SQLITE_STMTSTATUS_REPREPARE, 0);
    const auto& named = is_query(cached.stmt.get()) ? names.read : names.written;
    cached.tables = results_.tables(named, names.other);
  }

  // Marks the tables a statement writes as written now: the kept results
  // that read them are no longer used. A statement that names no tables, or
  // may change the schema, or may cascade through foreign keys, drops every
  // kept result instead.
  void mark_written(const CachedStmt* cached) {
    int foreign_keys = 1;
    sqlite3_db_config(db_.get(), SQLITE_DBCONFIG_ENABLE_FKEY, -1, &foreign_keys);
    if (!cached || foreign_keys != 0) {
      forget_results();
      return;
    }
    results_.wrote(*cached->tables);
  }

  // Readies the connection for a statement. One that may change data ends
  // the shared read transaction, so that it runs as it would alone, and
  // marks what it writes. With shared reads, the statements that only read
  // rows share one read transaction (one snapshot, and one set of file locks
  // instead of a set per statement), begun by the first of them.
  void before(sqlite3_stmt* stmt, const CachedStmt* cached = nullptr) {
    if (!is_query(stmt)) {
      const bool writes = !sqlite3_stmt_readonly(stmt);
      if (writes) refuse_writes_of_a_reading_call();
      end_read();
      mark_written(cached);
      if (writes) enter_gate();
      return;
    }
    if (!shared_reads_) return;
    if (reading_ && std::chrono::steady_clock::now() - read_started_ > kMaxReadSpan) end_read();
    if (!reading_ && sqlite3_get_autocommit(db_.get())) begin_read();
  }

  // Begins the shared read transaction; its snapshot is taken at once by the
  // version check.
  void begin_read() {
    step_internal(begin_, "BEGIN");
    reading_ = true;
    read_started_ = std::chrono::steady_clock::now();
    snapshot_version_ = data_version();
  }

  // Ends the shared read transaction, if one is open.
  void end_read() {
    snapshot_version_.reset();
    if (!reading_) return;
    reading_ = false;
    if (!sqlite3_get_autocommit(db_.get())) step_internal(commit_, "COMMIT");
  }

  void step_internal(StmtPtr& stmt, const char* sql) {
    if (!stmt) stmt = prepare(sql, SQLITE_PREPARE_PERSISTENT);
    StmtReset reset(stmt.get());
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) fail(rc, false);
  }

  // The database's version for the kept results: PRAGMA data_version
  // changes whenever another connection (of this process or any other)
  // commits, and this connection's own changes drop the kept results as they
  // run. A result read after this check may be newer than the version it is
  // kept under, never older, so a later change still drops it. None while
  // another database is attached, which has versions of its own: nothing is
  // kept then.
  std::optional<int64_t> data_version() {
    if (!data_version_stmt_) {
      data_version_stmt_ = prepare("PRAGMA main.data_version", SQLITE_PREPARE_PERSISTENT);
    }
    sqlite3_stmt* stmt = data_version_stmt_.get();
    int64_t version = 0;
    {
      StmtReset reset(stmt);
      const int rc = sqlite3_step(stmt);
      if (rc != SQLITE_ROW) fail(rc, false);
      version = sqlite3_column_int64(stmt, 0);
    }
    if (sqlite3_db_name(db_.get(), 2) != nullptr) {
      forget_results();
      return std::nullopt;
    }
    return version;
  }

  void forget_results() { results_.forget(); }


  // Starts the running statement's time limit afresh.
  void start_clock() {
    over_time_ = false;
    if (run_limit_.count() > 0) deadline_ = std::chrono::steady_clock::now() + run_limit_;
  }

  // Called every kProgressSteps steps of a running statement: nonzero
  // interrupts it once its time limit has passed.
  static int over_time(void* self) {
    auto* session = static_cast<SqliteSession*>(self);
    if (session->run_limit_.count() <= 0 || std::chrono::steady_clock::now() < session->deadline_) return 0;
    session->over_time_ = true;
    return 1;
  }

  // The failure of `stmt`'s step: a time-out when its time limit
  // interrupted it, else as fail.
  [[noreturn]] void fail_in(sqlite3_stmt* stmt, int rc) const {
    if ((rc & 0xff) == SQLITE_INTERRUPT && over_time_) {
      const char* sql = sqlite3_sql(stmt);
      raise_statement_timeout(sql ? sql : "");
    }
    fail(rc, false);
  }

  [[noreturn]] void fail(int rc, bool preparing) const {
    std::string message = sqlite3_errmsg(db_.get());
    const int primary = rc & 0xff;
    DbErrorKind kind = DbErrorKind::kOther;
    if (primary == SQLITE_CONSTRAINT) {
      kind = DbErrorKind::kConstraint;
    } else if (starts_with(message, "no such table") || starts_with(message, "no such view")) {
      kind = DbErrorKind::kInvalidObject;
    } else if (primary == SQLITE_ERROR &&
               (preparing || starts_with(message, "no such column") ||
                message.find("syntax error") != std::string::npos)) {
      kind = DbErrorKind::kSyntax;
    }
    raise_db_error(kind, std::move(message));
  }

  StmtPtr prepare(const std::string& sql, unsigned flags) const {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size()) + 1,
                                      flags, &raw, nullptr);
    StmtPtr stmt(raw);
    if (rc != SQLITE_OK) fail(rc, true);
    if (!stmt) throw ScriptError(err::kProviderFailure, "The statement is empty.");
    return stmt;
  }

  void bind(sqlite3_stmt* stmt, const std::vector<DbParam>& params) const {
    if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(params.size())) {
      throw ScriptError(err::kProviderFailure,
                        "The statement's parameters do not match the values given.");
    }
    for (size_t i = 0; i < params.size(); ++i) {
      const DbParam& p = params[i];
      const int at = static_cast<int>(i) + 1;
      int rc = SQLITE_OK;
      switch (p.kind) {
        case DbParam::Kind::kNull:
          rc = sqlite3_bind_null(stmt, at);
          break;
        case DbParam::Kind::kInteger:
          rc = sqlite3_bind_int64(stmt, at, p.integer);
          break;
        case DbParam::Kind::kReal:
          rc = sqlite3_bind_double(stmt, at, p.real);
          break;
        case DbParam::Kind::kText:
        case DbParam::Kind::kDateTime:
          // The value outlives the run; StmtReset clears the binding first.
          rc = sqlite3_bind_text64(stmt, at, p.text.data(), p.text.size(), SQLITE_STATIC,
                                   SQLITE_UTF8);
          break;
      }
      if (rc != SQLITE_OK) fail(rc, false);
    }
  }

  DbResult read(sqlite3_stmt* stmt, CachedStmt* cached = nullptr) {
    DbResult result;
    // The first step comes before the columns are read: a cached statement
    // whose tables changed is compiled again by it, and "*" may then stand for
    // other columns, and other tables stand behind a view or trigger.
    TableNames names;
    int rc;
    start_clock();
    {
      Collecting collecting(*this, names);
      rc = sqlite3_step(stmt);
    }
    if (cached && sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_REPREPARE, 0) != cached->tables_reprepared) {
      take_tables(*cached, names);
      // What it wrote beyond the tables marked before it ran.
      if (!is_query(stmt)) mark_written(cached);
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail_in(stmt, rc);
    const int n = sqlite3_column_count(stmt);
    // A statement recompiled after a schema change gathers its columns anew.
    const int reprepared = sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_REPREPARE, 0);
    if (cached && !cached->columns.empty() && cached->reprepared == reprepared &&
        cached->columns.size() == static_cast<size_t>(n)) {
      result.columns = cached->columns;
    } else {
      result.columns = read_columns(stmt, n);
      if (cached) {
        cached->columns = result.columns;
        cached->reprepared = reprepared;
      }
    }
    for (; rc == SQLITE_ROW; rc = sqlite3_step(stmt)) {
      std::vector<Variant> row;
      row.reserve(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) row.push_back(value(stmt, i, result.columns[i].is_date));
      result.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) fail_in(stmt, rc);
    if (n == 0) result.affected = sqlite3_changes64(db_.get());
    return result;
  }

  static DbColumns read_columns(sqlite3_stmt* stmt, int n) {
    std::vector<DbColumn> columns(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      DbColumn& c = columns[static_cast<size_t>(i)];
      const char* name = sqlite3_column_name(stmt, i);
      c.name = name ? name : "";
      c.is_date = declared_as_date(sqlite3_column_decltype(stmt, i));
      const char* table = sqlite3_column_table_name(stmt, i);
      const char* schema = sqlite3_column_database_name(stmt, i);
      const char* origin = sqlite3_column_origin_name(stmt, i);
      if (table && schema && origin) {
        c.table = std::string(schema) + "." + table;
        c.origin = origin;
      }
    }
    return DbColumns(std::move(columns));
  }

  static Variant value(sqlite3_stmt* stmt, int i, bool is_date) {
    switch (sqlite3_column_type(stmt, i)) {
      case SQLITE_NULL:
        return Variant::null();
      case SQLITE_INTEGER:
        return Variant(static_cast<long long>(sqlite3_column_int64(stmt, i)));
      case SQLITE_FLOAT:
        return Variant(sqlite3_column_double(stmt, i));
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        Variant v(std::string(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
        if (is_date) return date_or_text(std::move(v));
        return v;
      }
    }
  }

  DbPtr db_;
  LruMap<CachedStmt> cache_;                         // prepared statements by their SQL
  std::unordered_map<std::string, DbTable> tables_;  // write-back facts by "db.table"
  int busy_ms_ = busy_milliseconds(kDefaultBusySeconds);  // the busy timeout in force
  std::chrono::milliseconds run_limit_ = run_limit(kDefaultBusySeconds);  // a statement's time limit
  std::chrono::steady_clock::time_point deadline_;  // when the running statement's limit passes
  bool over_time_ = false;                          // the limit interrupted the running statement
  StmtPtr data_version_stmt_;      // PRAGMA data_version, prepared once
  StmtPtr begin_, commit_;         // the shared read transaction's statements
  bool shared_reads_ = false;      // reads share one transaction per use
  bool reading_ = false;           // the shared read transaction is open
  // The database's version when the shared read transaction began; none
  // when kept results may not be used in it.
  std::optional<int64_t> snapshot_version_;
  std::chrono::steady_clock::time_point read_started_;  // when it began
  ReadResultCache results_;  // results of deterministic reads by statement and values
  std::shared_ptr<WriterGate> gate_;  // the writers' queue of the file; none in memory
  bool in_gate_ = false;              // this connection holds it
  bool patience_spent_ = false;       // the statement's time-out ran out at the gate
  std::chrono::steady_clock::time_point busy_since_;  // when its wait for SQLite's lock began
  TableNames* collecting_ = nullptr;  // where compilations report their tables
  std::string key_;  // the key of the latest kept-result lookup
};

}  // namespace

std::unique_ptr<DbSession> open_sqlite_session(const std::string& path) {
  if (path.empty()) {
    throw ScriptError(err::kProviderFailure, "The sqlite: connection string names no file.");
  }
  configure_sqlite_once();
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(
      path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  DbPtr db(raw);
  if (rc != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db.get()) : "out of memory";
    throw ScriptError(err::kProviderFailure, message + ": " + path);
  }
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(), busy_milliseconds(kDefaultBusySeconds));
  // While another connection (of any process) sets up the database's shared
  // WAL index, a new one is refused at once, without the busy timeout: it
  // tries again until the timeout has passed.
  const auto give_up = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(busy_milliseconds(kDefaultBusySeconds));
  for (std::chrono::milliseconds pause{1};; pause = std::min(pause * 2, std::chrono::milliseconds{20})) {
    char* error = nullptr;
    const int rc = sqlite3_exec(db.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, &error);
    if (rc == SQLITE_OK) break;
    std::string message = error ? error : sqlite3_errmsg(db.get());
    sqlite3_free(error);
    if ((rc & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= give_up) {
      throw ScriptError(err::kProviderFailure, message + ": " + path);
    }
    std::this_thread::sleep_for(pause);
  }
  return std::make_unique<SqliteSession>(std::move(db));
}

}  // namespace oapx1
