#include "platform/connection.h"

namespace oapx1 {

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::Open(const Variant&) { throw ScriptError(err::kProviderFailure, "not built yet"); }
void Connection::execute(const Variant&) { throw ScriptError(err::kObjectClosed, "not built yet"); }
void Connection::Close() { throw ScriptError(err::kObjectClosed, "not built yet"); }
DbSession& Connection::session() { throw ScriptError(err::kObjectClosed, "not built yet"); }

}  // namespace oapx1
