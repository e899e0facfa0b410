// A write transaction of one request that spans several uses of its
// connection: a check opens it and locks the row it is about, a page writes
// in it, and the outcome is recorded in it before it commits, so that the
// check, the write and the record land together or not at all, and no other
// connection, of this process or another, writes the row in between.
#ifndef OAPX1_PLATFORM_DATA_HELD_WRITE_H_
#define OAPX1_PLATFORM_DATA_HELD_WRITE_H_

#include <cstdint>
#include <functional>
#include <string_view>

#include "platform/data/db_pool.h"

namespace oapx1 {

class Connection;
class DbSession;

class HeldWrite {
 public:
  // Holds the engine connection this thread next opens (DbPool::ThreadHold):
  // while alive, the connections this thread opens one after the other on
  // one connection string are one engine connection, with the transaction
  // left open on it. Its end gives the engine connection back to the pool,
  // which rolls back a transaction still open.
  HeldWrite();
  ~HeldWrite();
  HeldWrite(const HeldWrite&) = delete;
  HeldWrite& operator=(const HeldWrite&) = delete;

  // Begins the transaction on the open connection `conn`, locking the row of
  // `table` whose key column `key` is `id` against every other writer until
  // it ends: on SQLite the database's write lock (BEGIN IMMEDIATE), on
  // PostgreSQL the row itself (SELECT ... FOR UPDATE; a missing row locks
  // nothing). The reads that follow in it see what others committed before
  // the lock was had. Waits for a lock another connection holds no longer than
  // the connection's lock wait; fails as the data layer does, with nothing
  // left open. `table` and `key` are names of the schema, not values.
  void begin(Connection& conn, std::string_view table, std::string_view key, int64_t id);
  // True while the transaction begun is open on `conn` (not yet committed or
  // rolled back, and `conn` is the engine connection it began on).
  bool open_on(Connection& conn) const;
  // Runs `body` inside the transaction open on `conn` as a step of its own
  // (a savepoint): when `body` throws, what it wrote is undone, the
  // transaction goes on as it was before the step (on PostgreSQL too, where a
  // failed statement would otherwise end it), and the failure propagates.
  // Fails with err::kProviderFailure when no transaction of this object is
  // open on `conn`.
  void step(Connection& conn, const std::function<void()>& body);
  // Commits the transaction open on `conn`. Fails as the data layer does
  // (nothing then committed: rolled back), and with err::kProviderFailure
  // when no transaction of this object is open on `conn`.
  void commit(Connection& conn);
  // Rolls back the transaction when it is open on `conn`; never throws.
  void rollback(Connection& conn) noexcept;

 private:
  DbPool::ThreadHold hold_;
  DbSession* session_ = nullptr;  // the engine connection the transaction is open on; null when none
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_HELD_WRITE_H_
