// The SQLite engine connection ("sqlite:PATH").
#ifndef OAPX1_PLATFORM_DATA_SQLITE_BACKEND_H_
#define OAPX1_PLATFORM_DATA_SQLITE_BACKEND_H_

#include <memory>
#include <string>

#include "platform/data/db_backend.h"

namespace oapx1 {

// Opens (creating when missing) the database file at `path`, in WAL mode and
// with a busy timeout, so that concurrent requests wait for each other's
// writes instead of failing. Fails with err::kProviderFailure and SQLite's message.
std::unique_ptr<DbSession> open_sqlite_session(const std::string& path);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_SQLITE_BACKEND_H_
