// What the PostgreSQL engine's parts share of libpq: connections and results
// that free themselves, the count of round trips to the servers, and the
// SQLSTATE of a result. Only the PostgreSQL engine's sources include it.
#ifndef OAPX1_PLATFORM_DATA_POSTGRES_LIBPQ_H_
#define OAPX1_PLATFORM_DATA_POSTGRES_LIBPQ_H_

#include <libpq-fe.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

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

}  // namespace oapx1::pg

#endif  // OAPX1_PLATFORM_DATA_POSTGRES_LIBPQ_H_
