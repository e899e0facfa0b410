// Reads ahead on an event loop, against real servers: each read gets its own
// session however many are out, a server that stops answering holds no read
// for longer than a second, and a read's data stamp is always taken after the
// read began, even while an earlier question was out. PostgreSQL runs when
// OAPX1_TEST_PG names a server.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/data/connection.h"
#include "server/ahead_reads.h"
#include "sessions/session_factory.h"
#include "support/redis_process.h"
#include "support/test_pg.h"

namespace oapx1 {
namespace {

using namespace std::chrono_literals;

class AheadReadsTest : public ::testing::Test {
 protected:
  // Runs the loop until `n` reads have ended, five seconds at most.
  void run_until(int n) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (ended_ < n && std::chrono::steady_clock::now() < until) {
      loop_.run_for(10ms);
      loop_.restart();
    }
  }
  // A read's end, noted in `into`.
  AheadReads::Done note(std::optional<AheadRead>& into) {
    return [this, &into](std::optional<AheadRead> read) {
      into = std::move(read);
      ++ended_;
    };
  }

  boost::asio::io_context loop_{1};
  int ended_ = 0;
};

TEST_F(AheadReadsTest, each_read_gets_its_own_session_however_many_are_out) {
  if (find_redis_server().empty()) GTEST_SKIP() << "redis-server is not installed";
  RedisProcess redis;
  redis.start();
  auto store = make_session_store(redis.url(), {});
  std::vector<std::string> ids;
  for (int i = 0; i < 5; ++i) {
    auto entry = std::make_shared<SessionEntry>();
    entry->state.set_item("UserName", Variant("user" + std::to_string(i)));
    ids.push_back(store->add(entry));
  }
  ids.push_back("unknown");
  AheadReads ahead(loop_, store.as_redis(), "sqlite:unused.db");  // SQLite: no database server to ask
  ahead.connect();
  std::vector<std::optional<AheadRead>> reads(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) ahead.read(ids[i], note(reads[i]));
  run_until(static_cast<int>(ids.size()));
  for (size_t i = 0; i < ids.size(); ++i) {
    ASSERT_TRUE(reads[i]) << i;
    EXPECT_TRUE(reads[i]->session_read);
    EXPECT_FALSE(reads[i]->data);
    EXPECT_EQ(reads[i]->session ? reads[i]->session->state.item("UserName").str() : "none",
              i < 5 ? "user" + std::to_string(i) : "none");
  }
}

TEST_F(AheadReadsTest, a_store_that_does_not_answer_holds_no_read_beyond_a_second) {
  // A listening socket that nobody serves: connecting succeeds, no command is
  // ever answered.
  const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(silent, 16), 0);
  socklen_t length = sizeof address;
  ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  auto store = make_session_store("redis://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/0", {});
  AheadReads ahead(loop_, store.as_redis(), "sqlite:unused.db");
  ahead.connect();
  std::optional<AheadRead> first = AheadRead{}, second = AheadRead{};
  const auto began = std::chrono::steady_clock::now();
  ahead.read("a", note(first));
  ahead.read("b", note(second));
  run_until(2);
  EXPECT_EQ(ended_, 2);
  EXPECT_FALSE(first);
  EXPECT_FALSE(second);
  EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);
  // Meanwhile reads end at once, unread: the loop connects again in the
  // background, never waiting itself.
  std::optional<AheadRead> third = AheadRead{};
  ahead.read("c", note(third));
  EXPECT_EQ(ended_, 3);
  EXPECT_FALSE(third);
  ::close(silent);
}

TEST_F(AheadReadsTest, a_store_back_after_a_restart_is_read_ahead_again) {
  if (find_redis_server().empty()) GTEST_SKIP() << "redis-server is not installed";
  RedisProcess redis;
  redis.start();
  auto store = make_session_store(redis.url(), {});
  auto entry = std::make_shared<SessionEntry>();
  entry->state.set_item("UserName", Variant("lisi"));
  const std::string id = store->add(entry);
  AheadReads ahead(loop_, store.as_redis(), "sqlite:unused.db");
  ahead.connect();
  redis.stop();
  std::optional<AheadRead> during = AheadRead{};
  ahead.read(id, note(during));
  run_until(1);
  EXPECT_FALSE(during);
  redis.start();
  // A read a second after the last try to connect starts one in the
  // background and goes unread; once connected, reads are read ahead again.
  std::optional<AheadRead> after;
  for (int attempt = 0; attempt < 40 && !(after && after->session); ++attempt) {
    std::this_thread::sleep_for(100ms);
    loop_.poll();  // a connection made in the background is taken up here
    loop_.restart();
    const int ended = ended_;
    ahead.read(id, note(after));
    run_until(ended + 1);
  }
  ASSERT_TRUE(after && after->session);
  EXPECT_EQ(after->session->state.item("UserName").str(), "lisi");
}

TEST_F(AheadReadsTest, a_stamp_is_read_after_its_read_began_even_while_a_question_is_out) {
  testing::PgTestSchema pg("oapx1_ahead_reads");
  if (pg.url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
  pg.load_demo();
  auto store = make_session_store("memory", {});
  AheadReads ahead(loop_, store.as_redis(), pg.url());
  ahead.connect();
  std::optional<AheadRead> before, out, after;
  ahead.read("s", note(before));
  run_until(1);
  ASSERT_TRUE(before && before->data);
  EXPECT_FALSE(before->session_read);  // sessions in this process are not read ahead
  // A question goes out and is answered by the server while the loop does
  // not run; then another program commits, and a read begins.
  ahead.read("s", note(out));
  std::this_thread::sleep_for(100ms);
  Connection other;
  other.Open(Variant(pg.url()));
  other.execute(Variant("UPDATE OA_Flow_Model_JieDian SET JieDianName = 'x' WHERE OAID = 1"));
  other.Close();
  ahead.read("s", note(after));
  run_until(3);
  ASSERT_TRUE(out && out->data);
  ASSERT_TRUE(after && after->data);
  // The answer already in when the last read began predates the commit: the
  // last read waited for a question of its own.
  EXPECT_NE(after->data, before->data);
  EXPECT_NE(after->data, out->data);
}

}  // namespace
}  // namespace oapx1
