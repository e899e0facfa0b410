// The queue of writers to one database file: they pass in the order they came,
// one at a time, and the SQLite connections of the process wait there for the
// writer before them.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/data/db_backend.h"
#include "platform/data/sqlite_backend.h"
#include "platform/data/writer_gate.h"
#include "support/test_db.h"

namespace oapx1 {
namespace {

using namespace std::chrono_literals;
using testing::TestDb;

constexpr auto kLongPatience = std::chrono::milliseconds(60'000);

// Waits until `ready` holds, failing the test when it has not within a generous bound.
void wait_until(const std::function<bool()>& ready) {
  const auto give_up = std::chrono::steady_clock::now() + 20s;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > give_up) {
      ADD_FAILURE() << "waited too long";
      return;
    }
    std::this_thread::sleep_for(1ms);
  }
}

TEST(WriterGate, writers_pass_in_the_order_they_came_and_no_newcomer_overtakes) {
  WriterGate gate;
  ASSERT_TRUE(gate.enter(kLongPatience));
  std::mutex mutex;
  std::vector<int> order;
  std::vector<std::thread> writers;
  constexpr int kWriters = 6;
  for (int i = 0; i < kWriters; ++i) {
    writers.emplace_back([&, i] {
      EXPECT_TRUE(gate.enter(kLongPatience));
      {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(i);
      }
      gate.leave();
    });
    // The next one comes only once this one waits.
    wait_until([&] { return gate.waiting() == static_cast<size_t>(i + 1); });
  }
  gate.leave();
  // A writer arriving now queues behind those waiting.
  std::thread late([&] {
    EXPECT_TRUE(gate.enter(kLongPatience));
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(kWriters);
    gate.leave();
  });
  for (auto& w : writers) w.join();
  late.join();
  std::vector<int> expected;
  for (int i = 0; i <= kWriters; ++i) expected.push_back(i);
  // The late writer may only come last.
  EXPECT_EQ(order, expected);
  EXPECT_FALSE(gate.held());
}

TEST(WriterGate, a_writer_out_of_patience_leaves_the_queue_and_the_next_is_served) {
  WriterGate gate;
  ASSERT_TRUE(gate.enter(kLongPatience));
  std::thread hasty([&] { EXPECT_FALSE(gate.enter(5ms)); });
  hasty.join();
  EXPECT_EQ(gate.waiting(), 0u);
  bool served = false;
  std::thread patient([&] {
    served = gate.enter(kLongPatience);
    gate.leave();
  });
  wait_until([&] { return gate.waiting() == 1; });
  gate.leave();
  patient.join();
  EXPECT_TRUE(served);
  EXPECT_FALSE(gate.held());
}

TEST(WriterGate, a_thread_holding_the_gate_is_not_made_to_wait_for_itself) {
  WriterGate gate;
  ASSERT_TRUE(gate.enter(kLongPatience));
  // Through a second connection of the same thread: refused at once, still held.
  EXPECT_FALSE(gate.enter(kLongPatience));
  EXPECT_TRUE(gate.held());
  gate.leave();
  EXPECT_FALSE(gate.held());
}

TEST(WriterGate, every_name_of_a_file_has_one_gate_and_a_database_in_memory_none) {
  TestDb db(false);
  const std::string path = db.path();
  const std::string roundabout = path.substr(0, path.rfind('/')) + "/./oa.db";
  EXPECT_EQ(writer_gate_for(path), writer_gate_for(roundabout));
  EXPECT_EQ(writer_gate_for(""), nullptr);
}

TEST(WriterGate, a_sqlite_writer_waits_at_the_gate_for_the_transaction_before_it_to_end) {
  TestDb db(false);
  db.exec("create table t (x integer)");
  const std::shared_ptr<WriterGate> gate = writer_gate_for(db.path());
  std::unique_ptr<DbSession> first = open_sqlite_session(db.path());
  std::unique_ptr<DbSession> second = open_sqlite_session(db.path());
  first->run_script("begin immediate; insert into t values (1)");
  EXPECT_TRUE(gate->held());
  std::thread writer([&] { second->run_script("insert into t values (2)"); });
  // It queues at the gate, not in SQLite's busy handler, ...
  wait_until([&] { return gate->waiting() == 1; });
  EXPECT_EQ(db.scalar("select count(*) from t"), "0");
  // ... and writes as soon as the transaction before it has committed.
  first->run_script("commit");
  writer.join();
  EXPECT_EQ(db.scalar("select group_concat(x) from (select x from t order by x)"), "1,2");
  EXPECT_FALSE(gate->held());
}

TEST(WriterGate, a_sqlite_writer_without_patience_fails_at_once_as_before) {
  TestDb db(false);
  db.exec("create table t (x integer)");
  std::unique_ptr<DbSession> first = open_sqlite_session(db.path());
  std::unique_ptr<DbSession> second = open_sqlite_session(db.path());
  first->run_script("begin immediate");
  second->set_command_timeout(0);
  std::thread writer([&] { EXPECT_THROW(second->run_script("insert into t values (2)"), ScriptError); });
  writer.join();
  // A failed write in a transaction of its own leaves nothing held.
  first->run_script("rollback");
  EXPECT_FALSE(writer_gate_for(db.path())->held());
  second->run_script("insert into t values (3)");
  EXPECT_EQ(db.scalar("select x from t"), "3");
}

}  // namespace
}  // namespace oapx1
