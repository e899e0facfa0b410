// The store a setting names, reached as the Redis store it is when it is one.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/kv/redis_client.h"
#include "sessions/session_factory.h"

namespace oapx1 {
namespace {

TEST(SessionStoreSetting, names_memory_or_a_redis_server) {
  EXPECT_EQ(make_session_store("memory", {})->size(), 0u);
  EXPECT_THROW(make_session_store("mysql://x", {}), std::invalid_argument);
  const RedisAddress a = parse_redis_url("redis://10.0.0.5:6380/2");
  EXPECT_EQ(a.host + ":" + std::to_string(a.port) + "/" + std::to_string(a.database), "10.0.0.5:6380/2");
  const RedisAddress d = parse_redis_url("redis://");
  EXPECT_EQ(d.host + ":" + std::to_string(d.port) + "/" + std::to_string(d.database), "127.0.0.1:6379/0");
  EXPECT_THROW(parse_redis_url("redis://h:port/1"), std::invalid_argument);
}

// Only a store on a Redis server is reached as one (the connection threads
// read its sessions ahead, at the address the setting names); making it
// connects to nothing yet.
TEST(SessionStoreSetting, only_a_redis_store_is_reached_as_one) {
  EXPECT_EQ(make_session_store("memory", {}).as_redis(), nullptr);
  EXPECT_EQ(make_session_store("", {}).as_redis(), nullptr);
  const ConfiguredSessionStore shared = make_session_store("redis://127.0.0.1:6380/2", {});
  ASSERT_NE(shared.as_redis(), nullptr);
  EXPECT_EQ(static_cast<SessionStore*>(shared.as_redis()), &*shared);
  const RedisAddress& a = shared.as_redis()->address();
  EXPECT_EQ(a.host + ":" + std::to_string(a.port) + "/" + std::to_string(a.database), "127.0.0.1:6380/2");
}

}  // namespace
}  // namespace oapx1
