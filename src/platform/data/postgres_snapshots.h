// The database's version as PostgreSQL gives it, for the kept results of
// reads: the server's snapshot of the transactions committed
// (pg_current_snapshot), which differs after any commit to any table, by any
// program, and stays the same while nothing commits. Snapshots are numbered
// in the process, so that versions read through different connections
// compare. Only the PostgreSQL engine's sources include it.
#ifndef OAPX1_PLATFORM_DATA_POSTGRES_SNAPSHOTS_H_
#define OAPX1_PLATFORM_DATA_POSTGRES_SNAPSHOTS_H_

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/data/postgres_libpq.h"

namespace oapx1 {

// How a server's snapshot is read; a server before version 13 names it
// txid_current_snapshot.
inline constexpr const char* kPgSnapshotSql = "select pg_current_snapshot()::text";
inline constexpr const char* kPgOlderSnapshotSql = "select txid_current_snapshot()::text";

// The snapshots of each server met in this process, numbered: a snapshot
// other than the last one numbered for its server gets the next number, so
// that equal numbers mean equal snapshots (nothing committed in between),
// whichever connection read them. Each server also has one stamp source, so
// that the stamps of its connections' kept results compare across
// connections. Thread-safe.
class PgSnapshotNumbers {
 public:
  // The process's numbering.
  static PgSnapshotNumbers& instance();

  // The number of `snapshot` (the server's text of it) read from `server` (a
  // connection string): the number given last for that server when it is the
  // snapshot numbered then, else the process's next number. Never fails.
  int64_t number(const std::string& server, const std::string& snapshot);
  // The stamp source of `server`'s kept results: the same for every call
  // with that server, unique in the process. Never fails.
  uint64_t source(const std::string& server);

 private:
  struct Server {
    uint64_t source = 0;   // its stamp source; 0 until first asked
    std::string snapshot;  // the last snapshot numbered
    int64_t number = 0;    // its number
  };
  // The entry of `server`, made with a stamp source when new. Under mutex_.
  Server& at(const std::string& server);

  std::mutex mutex_;                                 // guards what follows
  std::unordered_map<std::string, Server> servers_;  // by connection string
  int64_t last_ = 0;                                 // the last number given
};

// One connection's reading of its server's snapshot as the version of its
// kept results. It is read once per request (RequestReads), before the
// request's first kept read, and shared with the request's other connections
// to the same server (RequestReads::note_version), so that a request sees
// every commit made before it began. Read through a statement prepared once
// per connection: it runs once per request, and the server then neither
// parses nor plans it again. Used by the connection's one thread at a time.
class PgSnapshotReader {
 public:
  // For a connection to `server` (its connection string).
  explicit PgSnapshotReader(const std::string& server);

  // The stamp source of the server's kept results (PgSnapshotNumbers::source).
  uint64_t source() const { return source_; }

  // The version for a kept read on `conn` now: the number of the server's
  // snapshot (PgSnapshotNumbers), read on `conn` unless the request under
  // way has it for this server already. None outside a request, or when the
  // server cannot tell (not asked again on this connection then). Fails
  // only with kStatementTimedOut, when the server's reply is not in by
  // `deadline` (pg::await_reply).
  std::optional<int64_t> version(PGconn* conn, pg::Deadline deadline);

 private:
  // Runs the snapshot statement on `conn`, prepared afresh when the server
  // has forgotten it (a pooler that discards statements); a failure to
  // prepare is the statement's own result. Fails as version does.
  pg::ResultPtr read(PGconn* conn, pg::Deadline deadline);

  std::string server_;                 // the connection string
  uint64_t source_;                    // the server's stamp source, also naming it to RequestReads
  const char* sql_ = kPgSnapshotSql;   // how the snapshot is read; null: it cannot be
  bool prepared_ = false;              // sql_ is prepared on the connection
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_POSTGRES_SNAPSHOTS_H_
