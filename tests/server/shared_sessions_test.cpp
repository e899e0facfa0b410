// Sessions shared by several hosts through a Redis server. Each test starts a
// private redis-server on a free port; the tests skip without one installed.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <sstream>
#include <thread>

#include "host/page.h"
#include "http_client.h"
#include "redis_process.h"
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

// Calls of each command the Redis server has run, from INFO commandstats.
std::map<std::string, long long> command_calls(RedisClient& client) {
  std::map<std::string, long long> calls;
  const std::string info = client.run({"INFO", "commandstats"}).text;
  std::istringstream lines(info);
  for (std::string line; std::getline(lines, line);) {
    // cmdstat_get:calls=3,usec=...
    const size_t colon = line.find(':'), equals = line.find("calls=");
    if (line.rfind("cmdstat_", 0) != 0 || colon == std::string::npos || equals == std::string::npos) continue;
    calls[line.substr(8, colon - 8)] = std::stoll(line.substr(equals + 6));
  }
  return calls;
}

// The commands run between two readings, but for the INFO of the reading.
std::map<std::string, long long> commands_between(const std::map<std::string, long long>& before,
                                                  const std::map<std::string, long long>& after) {
  std::map<std::string, long long> run;
  for (const auto& [name, n] : after) {
    const auto it = before.find(name);
    const long long d = n - (it == before.end() ? 0 : it->second) - (name == "info" ? 1 : 0);
    if (d > 0) run[name] = d;
  }
  return run;
}

std::string describe(const std::map<std::string, long long>& commands) {
  std::string text;
  for (const auto& [name, n] : commands) text += name + "=" + std::to_string(n) + " ";
  return text;
}

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

TEST_F(SharedSessions, a_removed_session_stays_gone) {
  auto a = make_session_store(redis_.url(), {});
  auto b = make_session_store(redis_.url(), {});
  auto entry = std::make_shared<SessionEntry>();
  entry->state.set_item("UserName", Variant("lisi"));
  const std::string id = a->add(entry);
  auto other = b->find(id);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->state.item("UserName").str(), "lisi");

  b->remove(id);
  EXPECT_FALSE(a->find(id));
  // Requests ending after the sign-out, with or without a change, do not bring it back.
  a->touch(*entry);
  other->state.set_item("n", Variant(1LL));
  b->touch(*other);
  EXPECT_FALSE(b->find(id));
}

// A request that changes nothing costs one GET; its expiry is restarted by a
// write at most once in the renewal time; a change is written at once.
TEST_F(SharedSessions, a_request_that_changes_nothing_reads_once_and_renews_rarely) {
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

// A request's change applied over what another request wrote meanwhile.
TEST(SessionMerge, a_change_keeps_what_another_request_wrote_meanwhile) {
  auto text = [](int minutes, std::initializer_list<std::pair<const char*, long long>> items) {
    MemorySession s;
    s.set_timeout(minutes);
    for (const auto& [name, value] : items) s.set_item(name, Variant(value));
    return encode_session(s);
  };
  struct Case {
    const char* what;
    std::string before, mine, current, merged;
  } cases[] = {
      {"different items both kept", text(20, {{"n", 1}}), text(20, {{"n", 1}, {"a", 1}}),
       text(20, {{"n", 2}}), text(20, {{"n", 2}, {"a", 1}})},
      {"the same item: this request's value", text(20, {{"n", 1}}), text(20, {{"n", 3}}),
       text(20, {{"n", 2}}), text(20, {{"n", 3}})},
      {"names in another letter case are the same item", text(20, {{"N", 1}}), text(20, {{"N", 3}}),
       text(20, {{"n", 2}, {"b", 1}}), text(20, {{"N", 3}, {"b", 1}})},
      {"an unchanged time-out keeps the other's", text(20, {}), text(20, {{"a", 1}}), text(45, {}),
       text(45, {{"a", 1}})},
      {"a changed time-out wins", text(20, {}), text(30, {}), text(45, {}), text(30, {})},
  };
  for (const Case& c : cases) {
    MemorySession want, got;
    ASSERT_TRUE(decode_session(c.merged, want));
    const std::optional<std::string> merged = merge_session_change(c.before, c.mine, c.current);
    ASSERT_TRUE(merged) << c.what;
    ASSERT_TRUE(decode_session(*merged, got)) << c.what;
    EXPECT_EQ(got.timeout(), want.timeout()) << c.what;
    EXPECT_EQ(got.items().size(), want.items().size()) << c.what;
    for (const auto& [name, value] : want.items()) EXPECT_EQ(got.item(name).str(), value.str()) << c.what << " " << name;
  }
  EXPECT_FALSE(merge_session_change(text(20, {}), text(20, {}), "not a session"));
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
