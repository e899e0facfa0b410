// Sessions shared by several hosts through a Redis server. Each test starts a
// private redis-server on a free port; the tests skip without one installed.
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
#include "server/sessions.h"
#include "support/test_db.h"

namespace oapx1 {
namespace {

using testing::cookie_of;
using testing::http_get;
namespace fs = std::filesystem;

constexpr std::string_view kPage = "/oa/flow/model/jiedian.asp";

std::string find_redis_server() {
  for (const char* p : {"/usr/bin/redis-server", "/usr/local/bin/redis-server"}) {
    if (access(p, X_OK) == 0) return p;
  }
  return "";
}

// A redis-server of the test's own, writing its append-only file to a
// temporary folder so that a restart keeps the sessions.
class RedisProcess {
 public:
  RedisProcess() : dir_(fs::temp_directory_path() / ("oapx1_redis_" + std::to_string(getpid()))) {
    fs::create_directories(dir_);
    port_ = static_cast<int>(20000 + getpid() % 20000);
  }
  ~RedisProcess() {
    stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void start() {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string port = std::to_string(port_);
      execl(find_redis_server().c_str(), "redis-server", "--port", port.c_str(), "--bind",
            "127.0.0.1", "--dir", dir_.c_str(), "--appendonly", "yes", "--appendfsync", "always",
            "--save", "", "--loglevel", "warning", static_cast<char*>(nullptr));
      _exit(127);
    }
    RedisClient probe(RedisAddress{"127.0.0.1", port_, 0}, std::chrono::milliseconds(200));
    for (int i = 0; i < 100; ++i) {
      try {
        if (probe.run({"PING"}).kind == RedisReply::Kind::kStatus) return;
      } catch (const RedisUnavailable&) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FAIL() << "redis-server did not start";
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::string url() const { return "redis://127.0.0.1:" + std::to_string(port_) + "/3"; }

 private:
  fs::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// Counts the requests of its session and states what it holds.
class CountPage : public Page {
 public:
  void I_init() override {
    bind_request_context();
    Session& session = session_object();
    if (session.item("n").is_empty()) {
      response_object().write("lost");
      session.set_item("n", Variant(0));
      return;
    }
    const int64_t n = session.item("n").to_integer() + 1;
    session.set_item("n", Variant(static_cast<long long>(n)));
    if (request_object().item("slow").str() == "1") std::this_thread::sleep_for(std::chrono::milliseconds(300));
    response_object().write(std::to_string(n));
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
  void start_host(int i) {
    ServerOptions o;
    o.port = 0;
    o.threads = 2;
    o.database = db_.url();
    o.docroot = OAPX1_WWW_DIR;
    o.demo_login = false;
    o.session_store = redis_.url();
    o.page_factory = [] { return std::make_unique<CountPage>(); };
    hosts_[i] = std::make_unique<HttpServer>(std::move(o));
    hosts_[i]->start();
  }
  std::string get(int host, const std::string& cookie, std::string_view extra = "") {
    return http_get(hosts_[host]->port(), std::string(kPage) + "?x=1" + std::string(extra), cookie).body;
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

  // Requests of one session on two hosts run one after the other: neither
  // count is lost.
  auto slow = std::async(std::launch::async, [&] { return get(0, cookie, "&slow=1"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string quick = get(1, cookie);
  const std::string slowed = slow.get();
  EXPECT_EQ(slowed + " " + quick, "6 7");

  // Redis itself restarts: requests while it is away report the session lost
  // at once (no hang, no crash); afterwards the session is back.
  redis_.stop();
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(get(1, cookie), "lost");
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
  EXPECT_FALSE(log_.entries().empty());
  redis_.start();
  EXPECT_EQ(get(0, cookie), "8");
  EXPECT_EQ(get(1, cookie), "9");
}

TEST_F(SharedSessions, the_lock_wait_is_bounded_and_a_removed_session_stays_gone) {
  SharedSessionTimes times;
  times.lock_wait = std::chrono::milliseconds(300);
  auto a = make_session_store(redis_.url(), {}, times);
  auto b = make_session_store(redis_.url(), {}, times);
  auto entry = std::make_shared<SessionEntry>();
  entry->state.set_item("UserName", Variant("lisi"));
  const std::string id = a->add(entry);

  auto held = a->find(id);  // this request never ends normally
  ASSERT_TRUE(held);
  const auto before = std::chrono::steady_clock::now();
  auto other = b->find(id);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300));
  ASSERT_TRUE(other);  // the other request goes on after the bounded wait
  EXPECT_EQ(other->state.item("UserName").str(), "lisi");
  held.reset();  // dropping the entry releases the lock
  other.reset();
  ASSERT_TRUE(b->find(id));

  b->remove(id);
  EXPECT_FALSE(a->find(id));
  a->touch(*entry);  // a request ending after the sign-out does not bring it back
  EXPECT_FALSE(b->find(id));
}

// A sign-in beyond an account's cap ends the account's oldest session (names
// in any letter case); a renewed session counts once; a session without an
// account is not counted. Both stores keep this cap.
void expect_account_cap(SessionStore& store) {
  auto signed_in = [&](const char* account) {
    auto entry = std::make_shared<SessionEntry>();
    if (*account) entry->state.set_item("UserName", Variant(account));
    return entry;
  };
  const std::string a = store.add(signed_in("lisi"));
  const std::string b = store.add(signed_in("wangwu"));
  auto c_entry = signed_in("LiSi");
  const std::string c = store.add(c_entry);
  const std::string d = store.add(signed_in("lisi"));
  const std::string e = store.add(signed_in(""));
  const std::string c2 = store.renew(c, c_entry);  // a sign-in again in the same session
  struct Case {
    const std::string& id;
    bool kept;
  } cases[] = {{a, false}, {b, true}, {c, false}, {c2, true}, {d, true}, {e, true}};
  int n = 0;
  for (const Case& x : cases) EXPECT_EQ(store.find(x.id) != nullptr, x.kept) << "session " << n++;
}

TEST_F(SharedSessions, an_account_keeps_its_newest_sessions) {
  auto store = make_session_store(redis_.url(), {}, {}, SessionLimits{2, 0});
  expect_account_cap(*store);
}

TEST(MemorySessions, an_account_keeps_its_newest_sessions) {
  MemorySessionStore store(std::chrono::steady_clock::now, SessionLimits{2, 0});
  expect_account_cap(store);
}

TEST(MemorySessions, beyond_the_total_cap_the_least_recently_used_goes) {
  MemorySessionStore store(std::chrono::steady_clock::now, SessionLimits{0, 3});
  std::vector<std::shared_ptr<SessionEntry>> entries;
  std::vector<std::string> ids;
  auto add = [&] {
    entries.push_back(std::make_shared<SessionEntry>());
    ids.push_back(store.add(entries.back()));
  };
  add(), add(), add();
  ASSERT_TRUE(store.find(ids[0]));  // used: 0, then 2, 1
  add();                            // 1 goes
  store.touch(*entries[2]);         // a request of 2 ends: 2, 3, 0
  add();                            // 0 goes
  EXPECT_EQ(store.size(), 3u);
  const bool kept[] = {false, false, true, true, true};
  for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(store.find(ids[i]) != nullptr, kept[i]) << i;
  // A session the cap dropped while its request ran is not brought back.
  store.touch(*entries[0]);
  EXPECT_FALSE(store.find(ids[0]));
}

TEST(SessionEncoding, every_item_keeps_its_type_and_value_objects_are_left_out) {
  MemorySession state;
  state.set_timeout(45);
  state.set_code_page(65001);
  state.set_item("UserName", Variant("管理员 \"x\"\n"));
  state.set_item("n", Variant(42LL));
  state.set_item("r", Variant(0.1));
  state.set_item("b", Variant(true));
  state.set_item("d", Variant(make_datetime(2024, 3, 5, 8, 9, 10)));
  state.set_item("nul", Variant::null());
  state.set_item("empty", Variant());
  state.set_item("obj", Variant::nothing());
  MemorySession back;
  ASSERT_TRUE(decode_session(encode_session(state), back));
  EXPECT_EQ(back.timeout(), 45);
  EXPECT_EQ(back.code_page(), 65001);
  EXPECT_EQ(back.items().size(), 7u);
  for (const auto& [name, value] : state.items()) {
    if (value.is_object()) continue;
    const Variant got = back.item(name);
    EXPECT_EQ(got.type(), value.type()) << name;
    EXPECT_EQ(got.str(), value.str()) << name;
  }
  EXPECT_FALSE(decode_session("20\n{not json", back));
  EXPECT_FALSE(decode_session("no minutes", back));
}

TEST(SessionStoreSetting, names_memory_or_a_redis_server) {
  EXPECT_EQ(make_session_store("memory", {})->size(), 0u);
  EXPECT_THROW(make_session_store("mysql://x", {}), std::invalid_argument);
  const RedisAddress a = parse_redis_url("redis://10.0.0.5:6380/2");
  EXPECT_EQ(a.host + ":" + std::to_string(a.port) + "/" + std::to_string(a.database), "10.0.0.5:6380/2");
  const RedisAddress d = parse_redis_url("redis://");
  EXPECT_EQ(d.host + ":" + std::to_string(d.port) + "/" + std::to_string(d.database), "127.0.0.1:6379/0");
  EXPECT_THROW(parse_redis_url("redis://h:port/1"), std::invalid_argument);
}

}  // namespace
}  // namespace oapx1
