#include "platform/data/connection.h"

#include "platform/data/db_backend.h"
#include "platform/data/db_pool.h"

namespace oapx1 {

Connection::Connection() = default;

Connection::~Connection() {
  if (session_) DbPool::instance().release(connect_string_, std::move(session_));
}

void Connection::Open(const Variant& connect_string) {
  if (session_) {
    throw ScriptError(err::kObjectOpen, "Operation is not allowed when the object is open.");
  }
  std::string text = connect_string.to_text();
  std::shared_ptr<DbSession> session = DbPool::instance().acquire(text);
  try {
    session->set_command_timeout(command_timeout_);
  } catch (...) {
    DbPool::instance().release(text, std::move(session));  // counted as open until given back
    throw;
  }
  session_ = std::move(session);
  connect_string_ = std::move(text);
}

void Connection::execute(const Variant& sql) { session().query(sql.to_text()); }

void Connection::execute_script(std::string_view script) { session().run_script(std::string(script)); }

void Connection::Close() {
  if (!session_) {
    throw ScriptError(err::kObjectClosed, "Operation is not allowed when the object is closed.");
  }
  DbPool::instance().release(connect_string_, std::move(session_));
  session_.reset();
}

DbSession& Connection::session() {
  if (!session_) {
    throw ScriptError(err::kObjectClosed, "Operation is not allowed when the object is closed.");
  }
  // A CommandTimeout set after Open applies from the next statement on.
  session_->set_command_timeout(command_timeout_);
  return *session_;
}

}  // namespace oapx1
