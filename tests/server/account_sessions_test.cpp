// Account changes reach the sessions already signed in, through two real
// servers sharing one database and the real `oapx1` command run as another
// process: on both engines (PostgreSQL when OAPX1_TEST_PG names a server) and
// both session stores (a memory store per host, or one Redis server that both
// hosts share). A disabled account or a new password ends the account's
// sessions on every host; a revoked editing permission, direct or through a
// role, refuses views and saves at once. A sign-out that cannot reach the
// session store says so.

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "http_client.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/text/codepage.h"
#include "platform/web/event_log.h"
#include "server/http_server.h"
#include "support/redis_process.h"
#include "support/test_db.h"
#include "support/test_pg.h"

namespace oapx1::testing {
namespace {

constexpr std::string_view kNode = "/oa/flow/model/jiedian.asp?OAID=4";
constexpr std::string_view kSave = "/oa/flow/model/jiedian.asp?save=true&OAID=4";
// What the node page and a save without a signed-in user lead to.
constexpr std::string_view kToLogin = "/oa/login.asp";

// Runs the oapx1 command (shell words `args`, after shell words `prefix`);
// its exit status.
int oapx1_command(const std::string& args, const std::string& prefix = "") {
  const std::string command = prefix + " " + OAPX1_BINARY_DIR + "/oapx1 " + args + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Engine ("sqlite" or "postgres") and session store ("memory" or "redis").
using Setup = std::tuple<const char*, const char*>;

class AccountSessions : public ::testing::TestWithParam<Setup> {
 protected:
  void SetUp() override {
    set_event_log(&log_);
    db_.exec_file("db/sqlite/demo.sql");
    database_ = db_.url();
    if (std::string(std::get<0>(GetParam())) == "postgres") {
      pg_ = std::make_unique<PgTestSchema>("oapx1_accounts");
      if (pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
      pg_->load_demo();
      database_ = pg_->url();
    }
    redis_shared_ = std::string(std::get<1>(GetParam())) == "redis";
    if (redis_shared_) {
      if (find_redis_server().empty()) GTEST_SKIP() << "redis-server is not installed";
      redis_ = std::make_unique<RedisProcess>();
      redis_->start();
    }
    for (auto& host : hosts_) {
      ServerOptions o;
      o.port = 0;
      o.threads = 2;
      o.database = database_;
      o.docroot = OAPX1_WWW_DIR;
      o.demo_login = true;
      if (redis_) o.session_store = redis_->url();
      host = std::make_unique<HttpServer>(std::move(o));
      host->start();
    }
  }
  void TearDown() override {
    for (auto& host : hosts_) host.reset();
    redis_.reset();
    pg_.reset();
    set_event_log(nullptr);
  }

  uint16_t port(int host) const { return hosts_[host]->port(); }
  // The command's --db option for the test database, quoted for the shell.
  std::string db_option() const { return " --db '" + database_ + "'"; }
  void exec(const std::string& sql) const {
    Connection conn;
    conn.Open(Variant(database_));
    conn.execute(Variant(sql));
    conn.Close();
  }
  std::string node_name() const {
    auto conn = std::make_shared<Connection>();
    conn->Open(Variant(database_));
    Recordset rs;
    rs.Open(Variant("select JieDianName from OA_Flow_Model_JieDian where OAID=4"),
            Variant(std::static_pointer_cast<Object>(conn)), 1, 3);
    const std::string name = rs.field(0).str();
    rs.Close();
    conn->Close();
    return name;
  }
  // The session cookie of each host after `user` signs in with `password`:
  // once per host with stores of their own, once for both on Redis.
  std::vector<std::string> sign_in(const std::string& user, const std::string& password = "demo") {
    std::vector<std::string> cookies;
    for (int host = 0; host < 2; ++host) {
      if (redis_shared_ && host == 1) {
        cookies.push_back(cookies[0]);
        continue;
      }
      cookies.push_back(cookie_of(http_post(port(host), "/oa/login.asp", "username=" + user + "&password=" + password)));
    }
    return cookies;
  }
  // A view of node 4 with the session: "node" (the page), "forbidden" (403)
  // or "login" (sent to sign in).
  std::string view(int host, const std::string& cookie) {
    const ClientReply r = http_get(port(host), kNode, cookie);
    if (r.status == 403) return "forbidden";
    if (r.status == 200 && r.body.find(std::string(kToLogin)) != std::string::npos) return "login";
    return r.status == 200 && r.body.find("</form>") != std::string::npos ? "node" : "status " + std::to_string(r.status);
  }
  // A save of node 4's name with the session, told apart as view() does
  // ("saved" for the page that says so).
  std::string save(int host, const std::string& cookie, const std::string& name) {
    const ClientReply r = http_post(port(host), kSave, "JieDianName=" + name, cookie);
    if (r.status == 403) return "forbidden";
    if (r.body.find(std::string(kToLogin)) != std::string::npos) return "login";
    return gb18030_to_utf8(r.body).find("保存成功") != std::string::npos ? "saved" : "status " + std::to_string(r.status);
  }

  TestDb db_;
  std::unique_ptr<PgTestSchema> pg_;
  std::unique_ptr<RedisProcess> redis_;
  bool redis_shared_ = false;
  std::string database_;
  CollectingEventLog log_;
  std::unique_ptr<HttpServer> hosts_[2];
};

// Each change made by another process while the account's sessions are
// open (and their views kept), and what the sessions meet at once after it,
// on both hosts; admin's session, untouched, goes on.
TEST_P(AccountSessions, an_account_change_reaches_its_sessions_on_every_host) {
  struct Case {
    const char* change;
    const char* user;
    const char* command;  // the oapx1 command that makes it, else
    const char* sql;      // the statement another program runs
    const char* after;    // what a view and a save then meet
  } cases[] = {
      {"user disable", "zhangsan", "user disable zhangsan --force", nullptr, "login"},
      {"user revoke", "zhangsan", "user revoke zhangsan FLOWSET", nullptr, "forbidden"},
      {"role emptied", "admin", nullptr, "update OA_Roles set userIds=',' where OAID=1", "forbidden"},
      {"user passwd", "zhangsan", "user passwd zhangsan --password-stdin", nullptr, "login"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    exec("delete from OA_Roles");
    exec("insert into OA_Roles (OAID, RoleName, userIds) values (1, 'admins', ',1,')");
    exec("update OA_SysPower set UserList='zhangsan' where Code='FLOWSET'");
    exec("update kx_userinfor set AccountState='1'");
    const std::vector<std::string> cookies = sign_in(c.user);
    const std::vector<std::string> others = sign_in(std::string(c.user) == "admin" ? "zhangsan" : "admin");
    for (int host = 0; host < 2; ++host) {
      ASSERT_EQ(view(host, cookies[host]), "node");
      ASSERT_EQ(view(host, cookies[host]), "node");  // answered again from the kept view
    }
    const std::string before = node_name();
    if (c.command) {
      EXPECT_EQ(oapx1_command(c.command + db_option(), "echo changed-9 |"), 0);
    } else {
      exec(c.sql);
    }
    for (int host = 0; host < 2; ++host) {
      SCOPED_TRACE(host);
      EXPECT_EQ(save(host, cookies[host], "changed"), c.after);
      EXPECT_EQ(node_name(), before);
      EXPECT_EQ(view(host, cookies[host]), c.after);
      EXPECT_EQ(view(host, others[host]), "node");
    }
    if (std::string(c.after) == "login") {
      // Ended: the cookie leads nowhere even once the account is restored.
      exec("update kx_userinfor set AccountState='1'");
      EXPECT_EQ(view(0, cookies[0]), "login");
    }
  }
  // The new password signs in, and its session holds.
  const std::vector<std::string> again = sign_in("zhangsan", "changed-9");
  EXPECT_EQ(view(1, again[1]), "node");
}

// A sign-in that stores an older plain-text password hashed seals the
// session with the hash it stored: the session holds.
TEST_P(AccountSessions, a_password_hashed_at_sign_in_keeps_the_session) {
  exec("update kx_userinfor set password='plain-1' where UserName='zhangsan'");
  const std::vector<std::string> cookies = sign_in("zhangsan", "plain-1");
  for (int host = 0; host < 2; ++host) EXPECT_EQ(view(host, cookies[host]), "node");
  EXPECT_EQ(save(0, cookies[0], "kept"), "saved");
}

// While Redis is away a sign-out cannot end the session there: it says so
// (503), keeps the cookie, and the session still works once Redis is back,
// until a sign-out that reaches it.
TEST_P(AccountSessions, a_sign_out_that_cannot_reach_the_store_says_so) {
  if (!redis_shared_) GTEST_SKIP() << "a memory store is always reached";
  const std::string cookie = sign_in("zhangsan")[0];
  ASSERT_EQ(view(0, cookie), "node");
  redis_->stop();
  const ClientReply failed = http_post(port(0), "/oa/logout.asp", "", cookie);
  EXPECT_EQ(failed.status, 503);
  EXPECT_NE(gb18030_to_utf8(failed.body).find("退出没有完成"), std::string::npos);
  EXPECT_EQ(failed.header("Set-Cookie"), "");
  redis_->start();
  EXPECT_EQ(view(1, cookie), "node");
  const ClientReply done = http_post(port(1), "/oa/logout.asp", "", cookie);
  EXPECT_EQ(done.status, 303);
  EXPECT_EQ(view(0, cookie), "login");
}

INSTANTIATE_TEST_SUITE_P(EnginesAndStores, AccountSessions,
                         ::testing::Combine(::testing::Values("sqlite", "postgres"),
                                            ::testing::Values("memory", "redis")),
                         [](const ::testing::TestParamInfo<Setup>& info) {
                           return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param);
                         });

}  // namespace
}  // namespace oapx1::testing
