#include "platform/data/postgres_backend.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/call/call_context.h"
#include "platform/data/postgres_libpq.h"
#include "platform/data/postgres_send_again.h"
#include "platform/data/postgres_snapshots.h"
#include "platform/data/read_result_cache.h"
#include "platform/process/process.h"
#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

using pg::ConnPtr;
using pg::counted;
using pg::ResultPtr;
using pg::sqlstate;

// Type oids of the server's built-in types that the results and parameters use.
constexpr Oid kBoolOid = 16;
constexpr Oid kInt8Oid = 20;
constexpr Oid kInt2Oid = 21;
constexpr Oid kInt4Oid = 23;
constexpr Oid kTextOid = 25;
constexpr Oid kOidOid = 26;
constexpr Oid kFloat4Oid = 700;
constexpr Oid kFloat8Oid = 701;
constexpr Oid kDateOid = 1082;
constexpr Oid kTimeOid = 1083;
constexpr Oid kTimestampOid = 1114;
constexpr Oid kTimestampTzOid = 1184;
constexpr Oid kNumericOid = 1700;

bool is_date_type(Oid type) {
  return type == kDateOid || type == kTimeOid || type == kTimestampOid || type == kTimestampTzOid;
}

Variant value_of(const char* text, int length, Oid type) {
  std::string_view s(text, static_cast<size_t>(length));
  switch (type) {
    case kBoolOid:
      return Variant(s == "t");
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid:
    case kOidOid: {
      long long v = 0;
      auto r = std::from_chars(s.data(), s.data() + s.size(), v);
      if (r.ec == std::errc() && r.ptr == s.data() + s.size()) return Variant(v);
      break;
    }
    case kFloat4Oid:
    case kFloat8Oid:
    case kNumericOid:
      return Variant(std::strtod(text, nullptr));
    default:
      if (is_date_type(type)) return date_or_text(Variant(std::string(s)));
      break;
  }
  return Variant(std::string(s));
}

enum class IntegerText : uint8_t { kInteger, kIntegral, kFraction, kNotANumber };

// Classifies a text bound to an integer parameter; an integral number in
// another form ("1.0", "1e2", " 7 ") is rewritten in place as the integer.
IntegerText integer_text(std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  const std::string_view s(text.data() + b, e - b);
  long long v = 0;
  const char* first = s.data() + (!s.empty() && s[0] == '+' ? 1 : 0);
  auto r = std::from_chars(first, s.data() + s.size(), v);
  if (!s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size()) return IntegerText::kInteger;
  if (s.empty() || s.find_first_not_of("0123456789+-.eE") != std::string_view::npos) {
    return IntegerText::kNotANumber;
  }
  const std::string number(s);
  char* end = nullptr;
  const double d = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size()) return IntegerText::kNotANumber;
  if (d == std::floor(d) && d >= -9.2e18 && d <= 9.2e18) {
    text = std::to_string(static_cast<long long>(d));
    return IntegerText::kIntegral;
  }
  return IntegerText::kFraction;
}

class PgSession;

// A server-side prepared statement; deallocated when dropped from the cache.
class Prepared {
 public:
  Prepared(PgSession* owner, std::string name) : owner_(owner), name_(std::move(name)) {}
  Prepared(Prepared&& other) noexcept
      : param_types(std::move(other.param_types)),
        owner_(std::exchange(other.owner_, nullptr)),
        name_(std::move(other.name_)) {}
  Prepared& operator=(Prepared&&) = delete;
  Prepared(const Prepared&) = delete;
  ~Prepared();
  const std::string& name() const { return name_; }

  std::vector<Oid> param_types;  // the parameter types the server settled on

 private:
  PgSession* owner_;  // null once moved from
  std::string name_;  // the statement's name on the server
};

class PgSession final : public DbSession {
 public:
  PgSession(ConnPtr conn, const std::string& url) : conn_(std::move(conn)), snapshots_(url) {
    // The version is the server's snapshot, numbered for the process: a
    // kept view read through one connection holds on any other.
    results_.share_stamps(snapshots_.source());
  }
  ~PgSession() override {
    // The server drops prepared statements with the connection.
    closing_ = true;
    cache_.clear();
  }

  SqlDialect dialect() const override { return SqlDialect::kPostgres; }

  DbResult run(const std::string& sql, const std::vector<DbParam>& params) override {
    // A statement run afresh each time: a watched call cannot be answered
    // again without it.
    CallWatch::unrepeatable();
    if (dependence_of(sql) == ReadDependence::kAnything) RequestReads::changed();
    return run_statement(sql, params);
  }

  std::shared_ptr<const DbResult> run_shared(const std::string& sql,
                                             const std::vector<DbParam>& params) override {
    const ReadDependence dependence = dependence_of(sql);
    if (dependence == ReadDependence::kAnything) RequestReads::changed();
    // A kept result is used for a select that reads the data alone, within
    // a request (see PgSnapshotReader), and outside any transaction of the
    // caller's own: that may hold uncommitted changes.
    const uint64_t reads = RequestReads::current();
    std::optional<int64_t> version;
    if (dependence == ReadDependence::kData && reads != 0 && PQtransactionStatus(conn_.get()) == PQTRANS_IDLE) {
      version = snapshots_.version(conn_.get(), deadline());
    }
    if (version) {
      // Built in a buffer of the connection: a hit allocates nothing.
      ReadResultCache::make_key(sql, params, key_);
      std::shared_ptr<const DbResult> hit = results_.find(key_, *version);
      send_again_.note_read(reads, key_, !hit);
      if (hit) {
        CallWatch::read_data(results_.stamp());
        return hit;
      }
      if (std::shared_ptr<const DbResult> sent_again = send_again(reads, key_, *version)) return sent_again;
    }
    PgSentRead sent;
    auto result = std::make_shared<const DbResult>(run_statement(sql, params, version ? &sent : nullptr));
    if (version && !result->columns.empty()) {
      keep(key_, *version, result);
      if (!sent.statement.empty()) send_again_.sent(key_, std::move(sent));
    } else {
      CallWatch::unrepeatable();  // a read that is not kept
    }
    return result;
  }

  std::optional<DataStamp> data_stamp() override {
    // The version a kept read would be checked against now.
    if (RequestReads::current() == 0 || PQtransactionStatus(conn_.get()) != PQTRANS_IDLE) return std::nullopt;
    const std::optional<int64_t> version = snapshots_.version(conn_.get(), deadline());
    if (!version) return std::nullopt;
    return results_.stamp_at(*version);
  }

  // Runs a statement; `sent`, when given, learns how it was sent (no
  // statement when it was not kept prepared).
  DbResult run_statement(const std::string& sql, const std::vector<DbParam>& params, PgSentRead* sent = nullptr) {
    std::vector<Oid> types(params.size(), 0);
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    for (size_t i = 0; i < params.size(); ++i) {
      const DbParam& p = params[i];
      switch (p.kind) {
        case DbParam::Kind::kNull:
          break;
        case DbParam::Kind::kInteger:
          texts[i] = std::to_string(p.integer);
          // A lifted literal keeps the type the server gives the literal.
          if (p.typed) types[i] = p.integer >= INT_MIN && p.integer <= INT_MAX ? kInt4Oid : kInt8Oid;
          break;
        case DbParam::Kind::kReal:
          texts[i] = p.text;
          if (p.typed) types[i] = kNumericOid;
          break;
        case DbParam::Kind::kText:
          // Untyped, as a string literal is: the server infers the type.
          texts[i] = p.text;
          break;
        case DbParam::Kind::kDateTime:
          texts[i] = p.text;
          types[i] = kTimestampOid;
          break;
      }
      if (p.kind != DbParam::Kind::kNull) values[i] = texts[i].c_str();
    }
    bool prepared_again = false;
    for (;;) {
      std::string key = sql;
      key += '\x1f';
      for (Oid t : types) {
        key += std::to_string(t);
        key += ',';
      }
      std::string name;
      const std::vector<Oid>* inferred = nullptr;
      std::vector<Oid> unnamed_types;
      if (statement_cache_capacity() > 0) {
        if (Prepared* cached = cache_.find(key)) {
          name = cached->name();
          inferred = &cached->param_types;
        } else {
          name = "oapx1_" + std::to_string(++statements_made_);
          std::vector<Oid> made = types;
          prepare(name, sql, made);
          Prepared fresh(this, name);
          fresh.param_types = describe(name, sql, made);
          Prepared& stored = cache_.insert(key, std::move(fresh), statement_cache_capacity());
          name = stored.name();
          inferred = &stored.param_types;
        }
      } else {
        std::vector<Oid> made = types;
        prepare("", sql, made);  // the unnamed statement, replaced by the next one
        unnamed_types = describe("", sql, made);
        inferred = &unnamed_types;
      }
      // A text for a number column: the original engine reads '1.0' there as
      // the number 1; the server refuses it as an integer. An integral number
      // goes as the integer, any other number makes the parameter numeric.
      bool retype = false;
      for (size_t i = 0; i < params.size() && i < inferred->size(); ++i) {
        if (params[i].kind != DbParam::Kind::kText || types[i] != 0) continue;
        const Oid t = (*inferred)[i];
        if (t != kInt2Oid && t != kInt4Oid && t != kInt8Oid) continue;
        switch (integer_text(texts[i])) {
          case IntegerText::kInteger:
            break;
          case IntegerText::kIntegral:
            values[i] = texts[i].c_str();
            break;
          case IntegerText::kFraction:
            types[i] = kNumericOid;
            retype = true;
            break;
          case IntegerText::kNotANumber:
            break;
        }
      }
      if (retype) continue;
      if (sent && !name.empty()) {
        sent->statement = key;
        sent->values.assign(values.size(), std::nullopt);
        for (size_t i = 0; i < values.size(); ++i) {
          if (values[i]) sent->values[i] = values[i];
        }
      }
      ResultPtr result = pg::exec_sent(conn_.get(),
                                       PQsendQueryPrepared(conn_.get(), name.c_str(), static_cast<int>(params.size()),
                                                           values.data(), nullptr, nullptr, 0),
                                       deadline(), sql);
      const std::string state = sqlstate(result.get());
      // A cached statement the server no longer has, or whose result shape a
      // schema change altered, is prepared again once.
      if (!prepared_again && !name.empty() && (state == "0A000" || state == "26000")) {
        prepared_again = true;
        cache_.erase(key);
        continue;
      }
      return read(std::move(result), sql);
    }
  }

  DbResult run_script(const std::string& sql) override {
    // A script may change anything.
    CallWatch::unrepeatable();
    RequestReads::changed();
    return read(exec(sql), sql);
  }

  const DbTable& table(const std::string& table_id) override {
    auto found = tables_.find(table_id);
    if (found != tables_.end()) return found->second;
    const std::vector<DbParam> oid = {DbParam::of_text(table_id)};
    DbTable t;
    DbResult names = run(
        "SELECT n.nspname, c.relname FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n "
        "ON n.oid = c.relnamespace WHERE c.oid = $1",
        oid);
    if (names.rows.empty()) throw ScriptError(err::kProviderFailure, "The table no longer exists.");
    t.sql_name = quote_identifier(names.rows[0][0].str()) + "." +
                 quote_identifier(names.rows[0][1].str());
    DbResult columns = run(
        "SELECT attnum, attname FROM pg_catalog.pg_attribute "
        "WHERE attrelid = $1 AND attnum > 0 AND NOT attisdropped",
        oid);
    for (const auto& row : columns.rows) {
      t.columns[row[0].str()] = quote_identifier(row[1].str());
    }
    DbResult keys = run(
        "SELECT a.attname FROM pg_catalog.pg_index i JOIN pg_catalog.pg_attribute a "
        "ON a.attrelid = i.indrelid AND a.attnum = ANY (i.indkey) "
        "WHERE i.indrelid = $1 AND i.indisprimary",
        oid);
    if (keys.rows.size() == 1) t.key = quote_identifier(keys.rows[0][0].str());
    return tables_.emplace(table_id, std::move(t)).first->second;
  }

  void set_command_timeout(int seconds) override {
    seconds = std::clamp(seconds, 0, INT_MAX / 1000);
    // A statement runs no longer than the process's statement limit, and
    // the server's reply is waited for no longer than that (reply_deadline);
    // a lock another connection holds is waited for no longer than the
    // process's lock wait (0: no bound of its own).
    limit_ms_ = statement_limit_ms(seconds);
    const int timeout_ms = limit_ms_ > 0 ? limit_ms_ : seconds * 1000;
    const int lock_ms = std::max(0, process_settings()->database_lock_wait_ms);
    if (timeout_ms == timeout_ms_ && lock_ms == lock_ms_) return;
    // Settings change no data: run as they are, not as a script.
    read(exec("SET statement_timeout = " + std::to_string(timeout_ms) + "; SET lock_timeout = " +
              std::to_string(lock_ms)));
    timeout_ms_ = timeout_ms;
    lock_ms_ = lock_ms;
  }

  bool reset_for_reuse() noexcept override {
    if (PQstatus(conn_.get()) != CONNECTION_OK) return false;
    switch (PQtransactionStatus(conn_.get())) {
      case PQTRANS_IDLE:
        return true;
      case PQTRANS_INTRANS:
      case PQTRANS_INERROR: {
        // Settings made inside the transaction went with it.
        timeout_ms_ = -1;
        lock_ms_ = -1;
        try {
          ResultPtr r = exec("ROLLBACK");
          return PQresultStatus(r.get()) == PGRES_COMMAND_OK &&
                 PQtransactionStatus(conn_.get()) == PQTRANS_IDLE;
        } catch (const ScriptError&) {
          return false;  // a silent server: the connection is given up
        }
      }
      default:
        return false;
    }
  }

  bool alive() noexcept override {
    // Reads what the server sent meanwhile without waiting: a server that
    // shut down has closed the socket, and the status turns bad.
    // The first read may only take the server's farewell message; the
    // second then meets the end of the stream.
    for (int read = 0; read < 2 && PQstatus(conn_.get()) == CONNECTION_OK; ++read) {
      if (PQconsumeInput(conn_.get()) == 0) return false;
    }
    return PQstatus(conn_.get()) == CONNECTION_OK;
  }

  // Drops a prepared statement on the server; best effort, never throws.
  void deallocate(const std::string& name) noexcept {
    if (closing_ || PQstatus(conn_.get()) != CONNECTION_OK ||
        PQtransactionStatus(conn_.get()) == PQTRANS_INERROR)
      return;
    try {
      exec("DEALLOCATE " + quote_identifier(name));
    } catch (const ScriptError&) {
      // A silent server: the connection is given up, its statements with it.
    }
  }

 private:
  // The deadline of the reply to a statement sent now.
  pg::Deadline deadline() const { return pg::reply_deadline(limit_ms_); }

  // Runs `sql` (one or more statements) as it is, with no parameters; the
  // result of its last statement. Fails as pg::await_reply does.
  ResultPtr exec(const std::string& sql) {
    return pg::exec_sent(conn_.get(), PQsendQuery(conn_.get(), sql.c_str()), deadline(), sql);
  }

  // What the answer of a statement depends on (read_dependence), judged
  // once per text. Only a plain select may be kept: a with-query may carry
  // a write.
  ReadDependence dependence_of(const std::string& sql) {
    if (const ReadDependence* known = dependences_.find(sql)) return *known;
    ReadDependence dependence = read_dependence(sql);
    if (dependence != ReadDependence::kAnything) {
      size_t start = sql.find_first_not_of(" \t\r\n");
      if (start == std::string::npos || !ascii_iequals(std::string_view(sql).substr(start, 6), "select")) {
        dependence = ReadDependence::kAnything;
      }
    }
    return dependences_.insert(sql, dependence, kDependencesKept);
  }

  // Keeps `result` of the read `key` at `version`, and tells the call's
  // watches of the read.
  void keep(const std::string& key, int64_t version, const std::shared_ptr<const DbResult>& result) {
    if (results_.keep(key, version, result, every_table_)) {
      CallWatch::read_data(results_.stamp());
    } else {
      CallWatch::unrepeatable();  // a read that is not kept
    }
  }

  // At `first`, the first miss of the request `reads`, the reads that
  // followed it last time go to the server with it in one round trip
  // (PgSendAgain), and are kept at `version`; the page's next reads then
  // find them. The result of `first`, or null when it was not sent again
  // (the page runs the read itself).
  std::shared_ptr<const DbResult> send_again(uint64_t reads, const std::string& first, int64_t version) {
    std::vector<PgSendAgain::Answer> answers =
        send_again_.send(reads, first, conn_.get(), deadline(), [this](const std::string& statement) {
          const Prepared* prepared = cache_.find(statement);
          return prepared ? &prepared->name() : nullptr;
        });
    std::shared_ptr<const DbResult> asked;
    for (PgSendAgain::Answer& answer : answers) {
      auto result = std::make_shared<const DbResult>(read(std::move(answer.result)));
      if (result->columns.empty()) continue;
      keep(answer.key, version, result);
      if (answer.key == first) asked = std::move(result);
    }
    return asked;
  }

  // Raises the failure of `result` of the statement `sql`: the server's
  // statement_timeout as kStatementTimedOut, any other as the data layer does.
  [[noreturn]] void fail(const PGresult* result, std::string_view sql) const {
    const std::string state = sqlstate(result);
    if (state == "57014") raise_statement_timeout(sql);  // query_canceled: only the time limit cancels
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    std::string message = primary ? primary : PQerrorMessage(conn_.get());
    DbErrorKind kind = DbErrorKind::kOther;
    if (state == "42P01") {
      kind = DbErrorKind::kInvalidObject;
    } else if (state.rfind("42", 0) == 0 && state != "42501") {
      kind = DbErrorKind::kSyntax;
    } else if (state.rfind("23", 0) == 0) {
      kind = DbErrorKind::kConstraint;
    }
    raise_db_error(kind, std::move(message));
  }

  void prepare(const std::string& name, const std::string& sql, std::vector<Oid>& types) {
    ResultPtr r = pg::exec_sent(
        conn_.get(),
        PQsendPrepare(conn_.get(), name.c_str(), sql.c_str(), static_cast<int>(types.size()), types.data()),
        deadline(), sql);
    if (PQresultStatus(r.get()) == PGRES_COMMAND_OK) return;
    // A string literal where nothing gives it a type ("select 'x'") is text,
    // as the server makes such a literal.
    if (sqlstate(r.get()) == "42P18") {
      for (Oid& t : types) {
        if (t == 0) t = kTextOid;
      }
      r = pg::exec_sent(
          conn_.get(),
          PQsendPrepare(conn_.get(), name.c_str(), sql.c_str(), static_cast<int>(types.size()), types.data()),
          deadline(), sql);
      if (PQresultStatus(r.get()) == PGRES_COMMAND_OK) return;
    }
    fail(r.get(), sql);
  }

  // The parameter types of a prepared statement: `given` where the caller
  // fixed them, else what the server inferred (asked only then) of the
  // statement `sql` prepared as `name`.
  std::vector<Oid> describe(const std::string& name, const std::string& sql, const std::vector<Oid>& given) {
    if (std::find(given.begin(), given.end(), Oid{0}) == given.end()) return given;
    ResultPtr r = pg::exec_sent(conn_.get(), PQsendDescribePrepared(conn_.get(), name.c_str()), deadline(), sql);
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) fail(r.get(), sql);
    std::vector<Oid> out(given.size(), 0);
    for (int i = 0; i < PQnparams(r.get()) && static_cast<size_t>(i) < out.size(); ++i) {
      out[static_cast<size_t>(i)] = PQparamtype(r.get(), i);
    }
    return out;
  }

  // The rows of `result` of the statement `sql`; fails as fail does.
  DbResult read(ResultPtr result, std::string_view sql = {}) const {
    DbResult out;
    switch (PQresultStatus(result.get())) {
      case PGRES_COMMAND_OK:
        break;
      case PGRES_TUPLES_OK: {
        const int n = PQnfields(result.get());
        std::vector<Oid> types(static_cast<size_t>(n));
        std::vector<DbColumn> columns(static_cast<size_t>(n));
        for (int c = 0; c < n; ++c) {
          DbColumn& col = columns[static_cast<size_t>(c)];
          col.name = PQfname(result.get(), c);
          types[static_cast<size_t>(c)] = PQftype(result.get(), c);
          col.is_date = is_date_type(types[static_cast<size_t>(c)]);
          const Oid table = PQftable(result.get(), c);
          const int number = PQftablecol(result.get(), c);
          if (table != InvalidOid && number > 0) {
            col.table = std::to_string(table);
            col.origin = std::to_string(number);
          }
        }
        out.columns = DbColumns(std::move(columns));
        const int rows = PQntuples(result.get());
        out.rows.reserve(static_cast<size_t>(rows));
        for (int r = 0; r < rows; ++r) {
          std::vector<Variant> row;
          row.reserve(static_cast<size_t>(n));
          for (int c = 0; c < n; ++c) {
            if (PQgetisnull(result.get(), r, c)) {
              row.push_back(Variant::null());
            } else {
              row.push_back(value_of(PQgetvalue(result.get(), r, c),
                                     PQgetlength(result.get(), r, c),
                                     types[static_cast<size_t>(c)]));
            }
          }
          out.rows.push_back(std::move(row));
        }
        break;
      }
      default:
        fail(result.get(), sql);
    }
    const char* affected = PQcmdTuples(result.get());
    out.affected = affected && *affected ? std::atoll(affected) : 0;
    return out;
  }

  ConnPtr conn_;                                     // the server connection; closed last
  bool closing_ = false;                             // being destroyed: skip deallocations
  LruMap<Prepared> cache_;                           // prepared statements by text and types
  std::unordered_map<std::string, DbTable> tables_;  // write-back facts by table oid
  uint64_t statements_made_ = 0;                     // numbers the prepared statements' names
  int timeout_ms_ = -1;                              // statement_timeout in force; -1 unknown
  int limit_ms_ = statement_limit_ms(0);             // a statement's time limit; 0: none
  int lock_ms_ = -1;                                 // lock_timeout in force; -1 unknown

  static constexpr size_t kDependencesKept = 512;
  LruMap<ReadDependence> dependences_;  // read_dependence by statement text
  PgSnapshotReader snapshots_;          // the version of the kept results
  ReadResultCache results_;             // results of reads that depend on the data alone
  // Every table: a kept result is dropped by a new snapshot, not by table.
  std::shared_ptr<const ReadResultCache::Tables> every_table_ = results_.tables({}, true);
  std::string key_;         // the key of the latest kept-result lookup
  PgSendAgain send_again_;  // which kept reads follow which, and how each was sent
};

Prepared::~Prepared() {
  if (owner_) owner_->deallocate(name_);
}

// Reads the server's snapshot on a connection of its own in non-blocking
// mode, through a statement prepared when it connected.
class PgStampProbe final : public DataStampProbe {
 public:
  static constexpr const char* kName = "oapx1_probe";

  PgStampProbe(ConnPtr conn, std::string url) : conn_(std::move(conn)), url_(std::move(url)) {}

  int socket() const override { return PQsocket(conn_.get()); }

  bool ask() override {
    snapshot_.reset();
    failed_ = false;
    if (PQsendQueryPrepared(conn_.get(), kName, 0, nullptr, nullptr, nullptr, 0) != 1) return false;
    return flush() >= 0;
  }

  int flush() override { return PQflush(conn_.get()); }

  Answer receive(DataStamp& stamp) override {
    if (PQconsumeInput(conn_.get()) == 0) return Answer::kBroken;
    while (!PQisBusy(conn_.get())) {
      ResultPtr r(PQgetResult(conn_.get()));
      if (!r) {  // the question's results are all in
        if (failed_ || !snapshot_) return Answer::kBroken;
        PgSnapshotNumbers& numbers = PgSnapshotNumbers::instance();
        stamp = DataStamp{numbers.source(url_), static_cast<uint64_t>(numbers.number(url_, *snapshot_))};
        return Answer::kStamp;
      }
      if (PQresultStatus(r.get()) == PGRES_TUPLES_OK && PQntuples(r.get()) == 1) {
        snapshot_ = PQgetvalue(r.get(), 0, 0);
      } else {
        failed_ = true;
      }
    }
    return Answer::kNotYet;
  }

 private:
  ConnPtr conn_;
  std::string url_;
  std::optional<std::string> snapshot_;  // the answer's snapshot, once read
  bool failed_ = false;                  // the answer was an error
};

}  // namespace

uint64_t postgres_round_trips() { return pg::round_trips.load(std::memory_order_relaxed); }

std::unique_ptr<DataStampProbe> open_postgres_stamp_probe(const std::string& url) {
  // A server that does not answer is given up on after two seconds, unless
  // the connection string says otherwise.
  const char* keywords[] = {"connect_timeout", "dbname", nullptr};
  const char* values[] = {"2", url.c_str(), nullptr};
  ConnPtr conn(PQconnectdbParams(keywords, values, 1));
  if (!conn || PQstatus(conn.get()) != CONNECTION_OK) return nullptr;
  PQsetNoticeProcessor(conn.get(), [](void*, const char*) {}, nullptr);
  for (const char* sql : {kPgSnapshotSql, kPgOlderSnapshotSql}) {
    ResultPtr prepared(PQprepare(conn.get(), PgStampProbe::kName, sql, 0, nullptr));
    if (PQresultStatus(prepared.get()) == PGRES_COMMAND_OK) {
      if (PQsetnonblocking(conn.get(), 1) != 0) return nullptr;
      return std::make_unique<PgStampProbe>(std::move(conn), url);
    }
    if (sqlstate(prepared.get()) != "42883") break;  // not a server without the newer name
  }
  return nullptr;
}

std::unique_ptr<DbSession> open_postgres_session(const std::string& url) {
  // Under a statement limit, a server that does not answer is given up on
  // after as long (two seconds at the least), unless the connection string
  // says otherwise.
  const int limit_ms = statement_limit_ms(0);
  const std::string connect_seconds = std::to_string(std::max(2, (limit_ms + 999) / 1000));
  const char* keywords[] = {"connect_timeout", "dbname", nullptr};
  const char* values[] = {connect_seconds.c_str(), url.c_str(), nullptr};
  const auto start = std::chrono::steady_clock::now();
  ConnPtr conn(limit_ms > 0 ? PQconnectdbParams(keywords, values, 1) : PQconnectdb(url.c_str()));
  if (!conn) throw ScriptError(err::kProviderFailure, "out of memory");
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    // A server that let the whole connect time-out pass without answering
    // is silent, as a statement that waits past its limit.
    if (limit_ms > 0 && std::chrono::steady_clock::now() - start >= std::chrono::seconds(std::stoi(connect_seconds))) {
      raise_statement_timeout("(connecting to the database server)");
    }
    std::string message = PQerrorMessage(conn.get());
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    throw ScriptError(err::kProviderFailure, message);
  }
  // Notices ("table exists, skipping") are not the page's business.
  PQsetNoticeProcessor(conn.get(), [](void*, const char*) {}, nullptr);
  if (PQsetClientEncoding(conn.get(), "UTF8") != 0) {
    throw ScriptError(err::kProviderFailure, PQerrorMessage(conn.get()));
  }
  const char* date_style = "SET DateStyle = 'ISO, YMD'";
  const pg::Deadline deadline = pg::reply_deadline(limit_ms);
  ResultPtr r;
  if (PQsendQuery(conn.get(), date_style) == 1) {
    r = pg::next_result(conn.get(), deadline, date_style);
    while (pg::next_result(conn.get(), deadline, date_style)) {
    }
  }
  if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
    throw ScriptError(err::kProviderFailure, PQerrorMessage(conn.get()));
  }
  return std::make_unique<PgSession>(std::move(conn), url);
}

}  // namespace oapx1
