// Work that may not wait for another connection's lock before it has written.
#include "platform/data/lock_waits.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/data/connection.h"
#include "platform/data/db_pool.h"
#include "support/test_db.h"

namespace oapx1 {
namespace {

using testing::TestDb;

class LockWaits : public ::testing::Test {
 protected:
  void SetUp() override {
    DbPool::instance().clear();
    db_.exec("CREATE TABLE t_note (n INTEGER); CREATE TABLE t_other (n INTEGER);");
    holder_.Open(Variant(db_.url()));
  }
  void TearDown() override {
    holder_.Close();
    DbPool::instance().clear();
  }
  // Another connection takes the write lock and holds it.
  void hold_lock() {
    holder_.execute(Variant("BEGIN IMMEDIATE"));
    holder_.execute(Variant("INSERT INTO t_other VALUES (1)"));
  }
  void release_lock() { holder_.execute(Variant("ROLLBACK")); }

  TestDb db_;
  Connection holder_;
};

TEST_F(LockWaits, work_that_has_not_written_fails_at_once_instead_of_waiting) {
  Connection conn;
  conn.Open(Variant(db_.url()));
  hold_lock();
  {
    LockWaitsRefused scope;
    // Reads never wait for a writer.
    EXPECT_NO_THROW(conn.execute(Variant("SELECT count(*) FROM t_note")));
    EXPECT_FALSE(scope.refused());

    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(conn.execute(Variant("INSERT INTO t_note VALUES (1)")), ScriptError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(scope.refused());
    // Nothing more of the refused work runs, not even a read.
    EXPECT_THROW(conn.execute(Variant("SELECT count(*) FROM t_note")), ScriptError);
  }
  release_lock();
  conn.Close();
  EXPECT_EQ(db_.scalar("SELECT count(*) FROM t_note"), "0");
}

TEST_F(LockWaits, work_that_has_written_waits_as_usual) {
  Connection conn;
  conn.Open(Variant(db_.url()));
  conn.CommandTimeout(1);
  LockWaitsRefused scope;
  conn.execute(Variant("INSERT INTO t_note VALUES (1)"));
  hold_lock();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(conn.execute(Variant("INSERT INTO t_note VALUES (2)")), ScriptError);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_FALSE(scope.refused());
  release_lock();
  conn.execute(Variant("INSERT INTO t_note VALUES (3)"));
  conn.Close();
  EXPECT_EQ(db_.scalar("SELECT group_concat(n) FROM t_note"), "1,3");
}

}  // namespace
}  // namespace oapx1
