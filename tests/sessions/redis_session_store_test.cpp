// The store on a Redis server that several hosts share. Each test starts a
// private redis-server on a free port; the tests skip without one installed.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/kv/redis_client.h"
#include "platform/web/event_log.h"
#include "sessions/redis_session_store.h"
#include "sessions/session_factory.h"
#include "store_rules.h"
#include "support/redis_process.h"

namespace oapx1 {
namespace {

class RedisSessions : public ::testing::Test {
 protected:
  void SetUp() override {
    if (find_redis_server().empty()) GTEST_SKIP() << "redis-server is not installed";
    set_event_log(&log_);
    redis_.start();
  }
  void TearDown() override { set_event_log(nullptr); }

  CollectingEventLog log_;
  RedisProcess redis_;
};

TEST_F(RedisSessions, a_removed_session_stays_gone) {
  auto a = make_session_store(redis_.url(), {});
  auto b = make_session_store(redis_.url(), {});
  auto entry = std::make_shared<SessionEntry>();
  entry->state.set_item("UserName", Variant("lisi"));
  const std::string id = a->add(entry);
  auto other = b->find(id);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->state.item("UserName").str(), "lisi");

  EXPECT_TRUE(b->remove(id));
  EXPECT_FALSE(a->find(id));
  // Requests ending after the sign-out, with or without a change, do not bring it back.
  a->touch(*entry);
  other->state.set_item("n", Variant(1LL));
  b->touch(*other);
  EXPECT_FALSE(b->find(id));

  // A removal that cannot reach the server says so: the session may live on there.
  const std::string kept = a->add(std::make_shared<SessionEntry>());
  redis_.stop();
  EXPECT_FALSE(a->remove(kept));
  redis_.start();
  EXPECT_TRUE(b->find(kept));
}

// A request that changes nothing costs one GET; its expiry is restarted by a
// write at most once in the renewal time; a change is written at once.
TEST_F(RedisSessions, a_request_that_changes_nothing_reads_once_and_renews_rarely) {
  SharedSessionTimes times;
  times.renew_after = std::chrono::milliseconds(1500);
  auto store = make_session_store(redis_.url(), {}, times);
  RedisClient client(parse_redis_url(redis_.url()), std::chrono::seconds(2));
  const std::string id = store->add(std::make_shared<SessionEntry>());
  const std::string key = "oapx1:session:" + id;
  auto request = [&](bool change) {
    const auto before = command_calls(client);
    auto entry = store->find(id);
    EXPECT_TRUE(entry);
    if (!entry) return std::string();
    if (change) entry->state.set_item("x", Variant(static_cast<long long>(entry->state.items().size())));
    store->touch(*entry);
    return describe(commands_between(before, command_calls(client)));
  };
  // A session lives its time-out and the renewal time: 20 minutes and 2 seconds.
  const long long full_ms = 20 * 60 * 1000 + 2000;
  EXPECT_EQ(request(false), "get=1 ");
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(request(false), "get=1 ");
  EXPECT_LT(client.run({"PTTL", key}).integer, full_ms - 500);  // not renewed
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_EQ(request(false), "eval=1 get=2 set=1 ");  // the script's own calls count too
  EXPECT_GT(client.run({"PTTL", key}).integer, full_ms - 300);  // renewed
  EXPECT_EQ(request(false), "get=1 ");
  EXPECT_EQ(request(true), "eval=1 get=2 set=1 ");
  EXPECT_EQ(store->find(id)->state.item("x").str(), "0");
}

TEST_F(RedisSessions, an_account_keeps_its_newest_sessions) {
  auto store = make_session_store(redis_.url(), {}, {}, SessionLimits{2, 0});
  expect_account_cap(*store);
}

}  // namespace
}  // namespace oapx1
