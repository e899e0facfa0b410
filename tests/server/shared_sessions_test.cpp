// Sessions shared by several hosts through a Redis server, as browsers see
// them. Each test starts a private redis-server on a free port; the tests
// skip without one installed. The store itself is tested in tests/sessions/.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "host/page.h"
#include "http_client.h"
#include "platform/kv/redis_client.h"
#include "platform/web/event_log.h"
#include "server/http_server.h"
#include "support/redis_process.h"
#include "support/test_db.h"

namespace oapx1 {
namespace {

using testing::cookie_of;
using testing::http_get;
namespace fs = std::filesystem;

constexpr std::string_view kPage = "/oa/flow/model/jiedian.asp";

// Counts the requests of its session and states what it holds; with
// `mark`, sets the item of that name instead.
class CountPage : public Page {
 public:
  void I_init() override {
    bind_request_context();
    Session& session = session_object();
    if (const std::string mark = request_object().item("mark").str(); !mark.empty()) {
      session.set_item(mark, Variant("1"));
      if (request_object().item("slow").str() == "1") std::this_thread::sleep_for(std::chrono::milliseconds(300));
      response_object().write("marked");
      return;
    }
    if (session.item("n").is_empty()) {
      response_object().write("lost");
      session.set_item("n", Variant(0));
      return;
    }
    const int64_t n = session.item("n").to_integer() + 1;
    session.set_item("n", Variant(static_cast<long long>(n)));
    if (request_object().item("slow").str() == "1") std::this_thread::sleep_for(std::chrono::milliseconds(300));
    response_object().write(std::to_string(n) + (session.item("a").is_empty() ? "" : " a"));
  }
};

class SharedSessions : public ::testing::Test {
 protected:
  void SetUp() override {
    if (find_redis_server().empty()) GTEST_SKIP() << "redis-server is not installed";
    set_event_log(&log_);
    redis_.start();
  }
  void TearDown() override {
    hosts_[0].reset();
    hosts_[1].reset();
    set_event_log(nullptr);
  }
  // Host `i` on the test database with the sessions in Redis, two
  // connection threads, serving the counting page (or, with `node_page`, the
  // node page with the demo login).
  void start_host(int i, bool node_page = false) {
    ServerOptions o;
    o.port = 0;
    o.threads = 2;
    o.database = db_.url();
    o.docroot = OAPX1_WWW_DIR;
    o.demo_login = node_page;
    o.session_store = redis_.url();
    if (!node_page) o.page_factory = [] { return std::make_unique<CountPage>(); };
    hosts_[i] = std::make_unique<HttpServer>(std::move(o));
    hosts_[i]->start();
  }
  std::string get(int host, const std::string& cookie, std::string_view extra = "") {
    return http_get(hosts_[host]->port(), std::string(kPage) + "?x=1" + std::string(extra), cookie).body;
  }

  // A host of the node page on the demo data, two connection threads;
  // returns its port.
  uint16_t start_node_host() {
    db_.exec_file("db/sqlite/demo.sql");
    start_host(0, true);
    return hosts_[0]->port();
  }

  oapx1::testing::TestDb db_;
  CollectingEventLog log_;
  RedisProcess redis_;
  std::unique_ptr<HttpServer> hosts_[2];
};

TEST_F(SharedSessions, a_session_follows_its_browser_across_hosts_and_restarts) {
  start_host(0);
  start_host(1);
  const testing::ClientReply first = http_get(hosts_[0]->port(), std::string(kPage));
  EXPECT_EQ(first.body, "lost");
  const std::string cookie = cookie_of(first);
  ASSERT_FALSE(cookie.empty());
  EXPECT_EQ(get(1, cookie), "1");
  EXPECT_EQ(get(0, cookie), "2");
  EXPECT_EQ(get(1, cookie), "3");

  // A host that goes away takes no session with it.
  hosts_[0].reset();
  EXPECT_EQ(get(1, cookie), "4");
  start_host(0);
  EXPECT_EQ(get(0, cookie), "5");

  // Requests of one session on two hosts run side by side; each keeps its
  // change: the slow one's item is applied over the quick one's count.
  auto slow = std::async(std::launch::async, [&] { return get(0, cookie, "&mark=a&slow=1"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string quick = get(1, cookie);
  const std::string slowed = slow.get();
  EXPECT_EQ(slowed + " " + quick, "marked 6");
  EXPECT_EQ(get(0, cookie), "7 a");

  // Redis itself restarts: requests while it is away report the session lost
  // at once (no hang, no crash); afterwards the session is back.
  redis_.stop();
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(get(1, cookie), "lost");
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
  EXPECT_FALSE(log_.entries().empty());
  redis_.start();
  EXPECT_EQ(get(0, cookie), "8 a");
  EXPECT_EQ(get(1, cookie), "9 a");
}

// The node page viewed again by a signed-in user, which changes nothing in
// the session, costs exactly one Redis command.
TEST_F(SharedSessions, a_node_page_view_costs_one_redis_command) {
  const uint16_t port = start_node_host();
  const std::string cookie = cookie_of(testing::http_post(port, "/oa/login.asp", "username=admin&password=demo"));
  ASSERT_FALSE(cookie.empty());
  RedisClient client(parse_redis_url(redis_.url()), std::chrono::seconds(2));
  // The first view after the sign-in stores what the page keeps in the session.
  EXPECT_EQ(http_get(port, std::string(kPage) + "?OAID=1", cookie).status, 200);
  for (int view = 0; view < 3; ++view) {
    const auto before = command_calls(client);
    const testing::ClientReply r = http_get(port, std::string(kPage) + "?OAID=1", cookie);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body.find("login.asp"), std::string::npos) << "view " << view;
    EXPECT_EQ(describe(commands_between(before, command_calls(client))), "get=1 ") << "view " << view;
  }
}

// Views answered from kept views, whose sessions the connection thread reads
// ahead on a connection of its own: while Redis is away they are told at
// once that the session is lost; once it is back they are answered again.
TEST_F(SharedSessions, kept_views_go_on_across_a_restart_of_the_store) {
  const uint16_t port = start_node_host();
  const std::string cookie = cookie_of(testing::http_post(port, "/oa/login.asp", "username=admin&password=demo"));
  ASSERT_FALSE(cookie.empty());
  auto signed_in = [&] {
    const testing::ClientReply r = http_get(port, std::string(kPage) + "?OAID=1", cookie);
    return r.status == 200 && r.body.find("login.asp") == std::string::npos;
  };
  for (int view = 0; view < 3; ++view) EXPECT_TRUE(signed_in()) << view;
  redis_.stop();
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(signed_in());
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
  redis_.start();
  for (int view = 0; view < 3; ++view) EXPECT_TRUE(signed_in()) << view;
}

}  // namespace
}  // namespace oapx1
