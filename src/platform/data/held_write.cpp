#include "platform/data/held_write.h"

#include <string>

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/script/script_error.h"

namespace oapx1 {

HeldWrite::HeldWrite() = default;

// The pool rolls back what is still open when the hold gives the engine
// connection back: nothing to do here, and nothing that could throw.
HeldWrite::~HeldWrite() = default;

void HeldWrite::begin(Connection& conn, std::string_view table, std::string_view key, int64_t id) {
  DbSession& session = conn.session();
  if (session_) rollback(conn);
  if (session.dialect() == SqlDialect::kSqlite) {
    // The write lock is taken now, not at the first write: a check that
    // passes cannot be overtaken by another writer before the page writes.
    session.run("BEGIN IMMEDIATE", {});
    session_ = &session;
    return;
  }
  session.run("BEGIN", {});
  session_ = &session;
  try {
    session.run("SELECT 1 FROM " + std::string(table) + " WHERE " + std::string(key) + " = $1 FOR UPDATE",
                {DbParam::of_integer(id)});
  } catch (...) {
    rollback(conn);
    throw;
  }
}

namespace {

void require_open(const HeldWrite& write, Connection& conn) {
  if (!write.open_on(conn)) {
    throw ScriptError(err::kProviderFailure, "The write transaction is not open on this connection.");
  }
}

}  // namespace

bool HeldWrite::open_on(Connection& conn) const { return session_ && conn.is_open() && &conn.session() == session_; }

void HeldWrite::step(Connection& conn, const std::function<void()>& body) {
  require_open(*this, conn);
  session_->run("SAVEPOINT oapx1_step", {});
  try {
    body();
  } catch (...) {
    session_->run("ROLLBACK TO SAVEPOINT oapx1_step", {});
    session_->run("RELEASE SAVEPOINT oapx1_step", {});
    throw;
  }
  session_->run("RELEASE SAVEPOINT oapx1_step", {});
}

void HeldWrite::commit(Connection& conn) {
  require_open(*this, conn);
  try {
    session_->run("COMMIT", {});
  } catch (...) {
    rollback(conn);
    throw;
  }
  session_ = nullptr;
}

void HeldWrite::rollback(Connection& conn) noexcept {
  if (!open_on(conn)) return;
  try {
    session_->run("ROLLBACK", {});
  } catch (...) {
    // A connection that cannot roll back is reset when the pool takes it back.
  }
  session_ = nullptr;
}

}  // namespace oapx1
