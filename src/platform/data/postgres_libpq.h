// What the PostgreSQL engine's parts share of libpq: connections and results
// that free themselves, the count of round trips to the servers, the SQLSTATE
// of a result, and waiting for a reply no longer than a statement's limit. Only the PostgreSQL engine's sources include it.
#ifndef OAPX1_PLATFORM_DATA_POSTGRES_LIBPQ_H_
#define OAPX1_PLATFORM_DATA_POSTGRES_LIBPQ_H_

#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/data/db_backend.h"

namespace oapx1::pg {

struct ConnCloser {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct ResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
// A server connection, closed when dropped.
using ConnPtr = std::unique_ptr<PGconn, ConnCloser>;
// A result, cleared when dropped; null for none.
using ResultPtr = std::unique_ptr<PGresult, ResultClearer>;

// The round trips the sessions (not the probes) have made to their servers,
// for tests and benchmarks (postgres_round_trips()).
inline std::atomic<uint64_t> round_trips{0};

// `result`, which took one round trip to the server, counted as such.
inline ResultPtr counted(PGresult* result) {
  round_trips.fetch_add(1, std::memory_order_relaxed);
  return ResultPtr(result);
}

// The SQLSTATE of a failed result; "" for none (a null result, or a success).
inline std::string sqlstate(const PGresult* result) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return state ? state : "";
}

// When a reply stops being waited for.
using Deadline = std::chrono::steady_clock::time_point;

// The deadline of a reply to a statement sent now with the time limit
// `limit_ms` (0: none): the limit and a second's grace, in which a server that
// answers reports its own time-out first; the far future for no limit.
inline Deadline reply_deadline(int limit_ms) {
  if (limit_ms <= 0) return Deadline::max();
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms) + std::chrono::seconds(1);
}

// Waits until the next result of what was sent on `conn` can be taken
// without blocking, or the connection broke (PQgetResult then reports it).
// Past `deadline` the server is taken as silent: the connection is given up
// (its socket shut, so that libpq sees it broken and every later use fails at
// once) and the failure kStatementTimedOut is raised for `sql`.
inline void await_reply(PGconn* conn, Deadline deadline, std::string_view sql) {
  while (PQisBusy(conn) && PQstatus(conn) == CONNECTION_OK) {
    int wait_ms = -1;
    if (deadline != Deadline::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        shutdown(PQsocket(conn), SHUT_RDWR);
        PQconsumeInput(conn);
        raise_statement_timeout(sql);
      }
      wait_ms = static_cast<int>(std::min<long long>(left.count(), INT_MAX));
    }
    pollfd socket{PQsocket(conn), POLLIN, 0};
    const int ready = poll(&socket, 1, wait_ms);
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0 && PQconsumeInput(conn) == 0) return;
  }
}

// The next result of what was sent on `conn`, waited for as await_reply
// does; null once all are in.
inline ResultPtr next_result(PGconn* conn, Deadline deadline, std::string_view sql) {
  await_reply(conn, deadline, sql);
  return ResultPtr(PQgetResult(conn));
}

// The result of a command a PQsend function sent on `conn` (`sent` is what it
// returned), as its blocking form would give it: the last result, counted as
// a round trip; null when nothing could be sent (PQerrorMessage tells why).
// Fails as await_reply does.
inline ResultPtr exec_sent(PGconn* conn, int sent, Deadline deadline, std::string_view sql) {
  ResultPtr last;
  if (sent == 1) {
    while (ResultPtr r = next_result(conn, deadline, sql)) {
      const ExecStatusType status = PQresultStatus(r.get());
      last = std::move(r);
      if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) break;
      if (PQstatus(conn) == CONNECTION_BAD) break;
    }
  }
  round_trips.fetch_add(1, std::memory_order_relaxed);
  return last;
}

}  // namespace oapx1::pg

#endif  // OAPX1_PLATFORM_DATA_POSTGRES_LIBPQ_H_
