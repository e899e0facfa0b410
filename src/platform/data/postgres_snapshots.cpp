#include "platform/data/postgres_snapshots.h"

#include "platform/call/call_context.h"
#include "platform/data/read_result_cache.h"

namespace oapx1 {

using pg::counted;
using pg::ResultPtr;
using pg::sqlstate;

PgSnapshotNumbers& PgSnapshotNumbers::instance() {
  static PgSnapshotNumbers numbers;
  return numbers;
}

int64_t PgSnapshotNumbers::number(const std::string& server, const std::string& snapshot) {
  std::lock_guard<std::mutex> guard(mutex_);
  Server& s = at(server);
  if (s.number == 0 || s.snapshot != snapshot) {
    s.snapshot = snapshot;
    s.number = ++last_;
  }
  return s.number;
}

uint64_t PgSnapshotNumbers::source(const std::string& server) {
  std::lock_guard<std::mutex> guard(mutex_);
  return at(server).source;
}

PgSnapshotNumbers::Server& PgSnapshotNumbers::at(const std::string& server) {
  Server& s = servers_[server];
  if (s.source == 0) s.source = ReadResultCache::new_source();
  return s;
}

PgSnapshotReader::PgSnapshotReader(const std::string& server)
    : server_(server), source_(PgSnapshotNumbers::instance().source(server)) {}

std::optional<int64_t> PgSnapshotReader::version(PGconn* conn, pg::Deadline deadline) {
  if (RequestReads::current() == 0 || !sql_) return std::nullopt;
  if (const std::optional<int64_t> noted = RequestReads::noted_version(source_)) return noted;
  ResultPtr r = read(conn, deadline);
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1) {
    // A server before version 13 names it txid_current_snapshot.
    const bool older = sqlstate(r.get()) == "42883" && sql_ == kPgSnapshotSql;
    sql_ = older ? kPgOlderSnapshotSql : nullptr;
    return older ? version(conn, deadline) : std::nullopt;
  }
  const int64_t number = PgSnapshotNumbers::instance().number(server_, PQgetvalue(r.get(), 0, 0));
  RequestReads::note_version(source_, number);
  return number;
}

ResultPtr PgSnapshotReader::read(PGconn* conn, pg::Deadline deadline) {
  static constexpr const char* kName = "oapx1_snapshot";
  for (int attempt = 0;; ++attempt) {
    if (!prepared_) {
      ResultPtr prepared = pg::exec_sent(conn, PQsendPrepare(conn, kName, sql_, 0, nullptr), deadline, sql_);
      if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) return prepared;
      prepared_ = true;
    }
    ResultPtr r =
        pg::exec_sent(conn, PQsendQueryPrepared(conn, kName, 0, nullptr, nullptr, nullptr, 0), deadline, sql_);
    if (attempt > 0 || sqlstate(r.get()) != "26000") return r;
    prepared_ = false;  // invalid_sql_statement_name: prepare again
  }
}

}  // namespace oapx1
