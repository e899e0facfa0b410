// The PostgreSQL engine connection ("postgresql://..." or "postgres://...").
#ifndef OAPX1_PLATFORM_DATA_POSTGRES_BACKEND_H_
#define OAPX1_PLATFORM_DATA_POSTGRES_BACKEND_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/data/data_stamp_probe.h"
#include "platform/data/db_backend.h"

namespace oapx1 {

// Connects with libpq to the server a connection URL names, with UTF-8 text
// and ISO dates. Under a statement limit (ProcessSettings::statement_limit_ms)
// a server that does not answer is waited for as long (two seconds at the
// least), then fails with kStatementTimedOut. Fails with
// err::kProviderFailure and libpq's message otherwise.
std::unique_ptr<DbSession> open_postgres_session(const std::string& url);

// A probe of the server's snapshot, numbered as the sessions number it
// (their kept results' stamps); null when the server cannot be reached.
std::unique_ptr<DataStampProbe> open_postgres_stamp_probe(const std::string& url);

// The round trips the sessions (not the probes) of this process have made to
// their servers so far, for tests and benchmarks.
uint64_t postgres_round_trips();

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_POSTGRES_BACKEND_H_
