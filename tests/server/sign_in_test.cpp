// The host's sign-in and sign-out under the login access policy and the audit
// log, through a real server on a loopback port.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "http_client.h"
#include "platform/text/codepage.h"
#include "platform/web/event_log.h"
#include "server/http_server.h"
#include "server/login_throttle.h"
#include "server/serve.h"
#include "server/sign_in.h"
#include "server_fixture.h"
#include "support/test_db.h"

namespace oapx1 {
namespace {

using testing::ClientReply;
using testing::HttpClient;
using testing::cookie_of;
using testing::http_get;
using testing::http_post;

TEST(ClientAddress, forwarded_for_counts_only_behind_a_trusted_proxy) {
  struct Case {
    const char* peer;
    const char* forwarded_for;
    const char* trusted;
    const char* expected;
  } cases[] = {
      {"10.0.0.5", "", "", "10.0.0.5"},
      {"10.0.0.5", "1.2.3.4", "", "10.0.0.5"},                      // no proxy trusted
      {"10.0.0.5", "1.2.3.4", "10.0.0.6", "10.0.0.5"},              // not this one
      {"10.0.0.5", "1.2.3.4", "10.0.0.5", "1.2.3.4"},
      {"10.0.0.5", "9.9.9.9, 1.2.3.4", "10.0.0.5", "1.2.3.4"},      // a client's own entry is not believed
      {"10.0.0.5", "9.9.9.9, 1.2.3.4 ,10.0.0.7", "10.0.0.5, 10.0.0.7", "1.2.3.4"},
      {"10.0.0.5", "", "10.0.0.5", "10.0.0.5"},
      {"10.0.0.5", "nonsense", "10.0.0.5", "10.0.0.5"},
      {"::ffff:10.0.0.5", "::ffff:1.2.3.4", "10.0.0.5", "1.2.3.4"},
      {"::1", "", "", "::1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(client_address(c.peer, c.forwarded_for, TrustedProxies::parse(c.trusted)), c.expected)
        << c.peer << " / " << c.forwarded_for;
  }
}

TEST(ClientAddress, trusted_proxies_and_exempt_accounts_are_settings) {
  const ServerOptions o = parse_serve_args(
      {"--trusted-proxies", " 127.0.0.1, ::ffff:10.0.0.1,", "--login-exempt", "ops, Boss"});
  EXPECT_TRUE(o.trusted_proxies.trusts("127.0.0.1"));
  EXPECT_TRUE(o.trusted_proxies.trusts("10.0.0.1"));
  EXPECT_FALSE(o.trusted_proxies.trusts("10.0.0.2"));
  EXPECT_EQ(o.login_exempt, "ops, Boss");
  EXPECT_THROW(parse_serve_args({"--trusted-proxies", "127.0.0.1,proxy.internal"}), std::invalid_argument);
  EXPECT_FALSE(parse_serve_args({}).login_exempt.has_value());
}

// An account's failures from all addresses buy growing waits, never a lock:
// each wait ends, the right password then signs in from anywhere, and an
// account left alone long enough starts again with its free failures.
TEST(LoginThrottle, an_accounts_waits_grow_and_end) {
  CollectingEventLog log;
  set_event_log(&log);
  auto now = std::chrono::steady_clock::now();
  LoginThrottle throttle(3, std::chrono::seconds(60), [&] { return now; });
  const long long expected[] = {0, 0, 0, 1, 2, 4, 8, 16, 32, 60, 60};  // wait after each failure
  int address = 0;
  for (const long long wait : expected) {
    const std::string from = "192.0.2." + std::to_string(++address);
    ASSERT_EQ(throttle.refused(from, "Admin"), std::nullopt) << from;
    throttle.failed(from, "Admin");
    const auto refused = throttle.refused("203.0.113.1", "ADMIN");  // any address, any letter case
    EXPECT_EQ(refused.value_or(std::chrono::seconds(0)).count(), wait) << from;
    EXPECT_EQ(throttle.refused("203.0.113.1", "zhangsan"), std::nullopt);
    now += std::chrono::seconds(wait);
  }
  EXPECT_EQ(log.entries().size(), 8u);  // one line per wait
  // Quiet for the account's memory: the free failures again.
  throttle.failed("192.0.2.1", "admin");
  now += LoginThrottle::kAccountMemory;
  throttle.failed("192.0.2.2", "admin");
  EXPECT_EQ(throttle.refused("192.0.2.3", "admin"), std::nullopt);
  // A success clears the account's count.
  for (int i = 0; i < 3; ++i) throttle.failed("192.0.2." + std::to_string(10 + i), "admin");
  EXPECT_TRUE(throttle.refused("192.0.2.3", "admin").has_value());
  throttle.succeeded("192.0.2.3", "admin");
  throttle.failed("192.0.2.4", "admin");
  EXPECT_EQ(throttle.refused("192.0.2.3", "admin"), std::nullopt);
  set_event_log(nullptr);
}

// Correct sign-ins are limited per account and address pair: generously,
// for the window, and not for the account from elsewhere; 0 lifts the limit
// as it does for failures.
TEST(LoginThrottle, correct_sign_ins_of_a_pair_are_limited) {
  CollectingEventLog log;
  set_event_log(&log);
  auto now = std::chrono::steady_clock::now();
  struct Case {
    int max_failures;
    bool refused;  // after kMostSignIns sign-ins of the pair
  };
  for (const Case c : {Case{10, true}, Case{0, false}}) {
    LoginThrottle throttle(c.max_failures, std::chrono::seconds(60), [&] { return now; });
    for (int i = 0; i < LoginThrottle::kMostSignIns; ++i) {
      ASSERT_EQ(throttle.refused("192.0.2.1", "admin"), std::nullopt) << i;
      throttle.succeeded("192.0.2.1", "admin");
    }
    EXPECT_EQ(throttle.refused("192.0.2.1", "ADMIN").has_value(), c.refused) << c.max_failures;
    EXPECT_EQ(throttle.refused("192.0.2.2", "admin"), std::nullopt);
    EXPECT_EQ(throttle.refused("192.0.2.1", "zhangsan"), std::nullopt);
    now += std::chrono::seconds(60);
    EXPECT_EQ(throttle.refused("192.0.2.1", "admin"), std::nullopt);
  }
  EXPECT_EQ(log.entries().size(), 1u);  // the one lock-out
  set_event_log(nullptr);
}

class SignIn : public testing::ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();  // NotValid and LoginLog are "1"
    db_.exec("delete from OA_Log");
    set_clock(make_datetime(2026, 12, 7, 12, 0, 0));  // a Monday noon
  }
  void TearDown() override {
    ServerFixture::TearDown();
    set_clock(std::nullopt);
  }
  void start(const char* trusted_proxies = "") {
    ServerOptions o = options();
    o.threads = 1;
    o.clock = nullptr;
    o.trusted_proxies = TrustedProxies::parse(trusted_proxies);
    ServerFixture::start(std::move(o));
  }
  std::string log_rows() const {
    return db_.scalar(
        "select coalesce(group_concat(LogType||'|'||IPAddress||'|'||UserName||'|'||Remark||'|'||IsDengLu, "
        "';'), '') from (select * from OA_Log order by OAID)");
  }
};

TEST_F(SignIn, the_access_policy_refuses_and_the_log_records_by_the_settings) {
  const std::string refused = "系统安全设置不允许您从当前地址或在当前时间登录，请与系统管理员联系。";
  struct Case {
    const char* settings;
    const char* form;
    const char* message;  // nullptr: admitted
    const char* rows;
  } cases[] = {
      {"ISIP='1', isYunXu='1', IPList='127.0.'", "username=admin&password=demo", refused.c_str(),
       "安全日志|127.0.0.1|admin|非法IP地址|1"},
      {"ISIP='1', isYunXu='0', IPList='10.'", "username=admin&password=wrong", refused.c_str(),
       "安全日志|127.0.0.1|admin|非法IP地址|1"},
      {"ISTime='1', SHour='8', SMinute='0', EHour='11', EMinute='59'", "username=admin&password=demo",
       refused.c_str(), "安全日志|127.0.0.1|admin|非法时间|1"},
      {"NotValid='0', ISIP='1', IPList='127.'", "username=admin&password=demo", refused.c_str(), ""},
      {"ISIP='1', isYunXu='0', IPList='127.0.'", "username=admin&password=wrong", "用户名或密码不正确。",
       "安全日志|127.0.0.1|admin|非法用户|1"},
      {"NotValid='0'", "username=zhangsan&password=wrong", "用户名或密码不正确。", ""},
      {"ISTime='1', SHour='8', SMinute='0', EHour='12', EMinute='0'", "username=ADMIN&password=demo",
       nullptr, "应用日志|127.0.0.1|admin|系统登陆|1"},
      {"LoginLog='0'", "username=admin&password=demo", nullptr, ""},
  };
  start();
  for (const Case& c : cases) {
    db_.exec("delete from OA_AnQuan");
    db_.exec_file("db/sqlite/demo.sql");
    db_.exec(std::string("delete from OA_Log; update OA_AnQuan set ") + c.settings);
    const ClientReply r = http_post(port_, "/oa/login.asp", c.form);
    if (c.message) {
      EXPECT_EQ(r.status, 200) << c.settings;
      EXPECT_EQ(r.header("Set-Cookie"), "") << c.settings;
      EXPECT_NE(gb18030_to_utf8(r.body).find(std::string("<p class=\"msg\">") + c.message + "</p>"),
                std::string::npos)
          << c.settings;
    } else {
      EXPECT_EQ(r.status, 303) << c.settings;
      EXPECT_NE(cookie_of(r), "") << c.settings;
    }
    EXPECT_EQ(log_rows(), c.rows) << c.settings;
  }
  EXPECT_TRUE(log_.entries().empty());
}

TEST_F(SignIn, stored_hashes_verify_and_a_plain_text_password_is_hashed_at_its_sign_in) {
  db_.exec("update KX_UserInfor set password='demo' where UserName='lisi'");
  db_.exec("update KX_UserInfor set AccountState='0' where UserName='wangwu'");
  db_.exec("update KX_UserInfor set AccountState=NULL where UserName='zhaoliu'");
  start();
  struct Case {
    const char* form;
    int status;  // 303 admitted, 200 the form again
  } cases[] = {
      {"username=admin&password=demo", 303},  // the demo data's hash
      {"username=admin&password=Demo", 200},
      {"username=admin&password=%24argon2id%24v%3D19", 200},  // a hash typed as a password
      {"username=lisi&password=demo", 303},   // plain text, once ...
      {"username=lisi&password=demo", 303},   // ... and hashed from then on
      {"username=lisi&password=dem", 200},
      {"username=wangwu&password=demo", 200},  // disabled
      {"username=zhaoliu&password=demo", 303},  // no state: active
  };
  for (const Case& c : cases) EXPECT_EQ(http_post(port_, "/oa/login.asp", c.form).status, c.status) << c.form;
  EXPECT_TRUE(db_.scalar("select password from KX_UserInfor where UserName='lisi'").starts_with("$argon2id$v=19$"));
}

TEST_F(SignIn, sign_out_is_logged_and_ends_the_session) {
  start();
  const std::string cookie = cookie_of(http_post(port_, "/oa/login.asp", "username=zhangsan&password=demo"));
  ASSERT_FALSE(cookie.empty());
  ClientReply r = http_post(port_, "/oa/logout.asp", "", cookie);
  EXPECT_EQ(r.status, 303);
  EXPECT_EQ(r.header("Location"), "/oa/login.asp");
  EXPECT_EQ(r.header("Set-Cookie"), "OAPX1SESSION=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
  // The old cookie no longer signs anybody in, and a second sign-out logs nothing.
  r = http_get(port_, "/oa/flow/model/jiedian.asp?OAID=1", cookie);
  EXPECT_NE(gb18030_to_utf8(r.body).find("top.location.href = \"/oa/login.asp\""), std::string::npos);
  http_post(port_, "/oa/logout.asp", "", cookie);
  EXPECT_EQ(log_rows(), "应用日志|127.0.0.1|zhangsan|系统登陆|1;应用日志|127.0.0.1|zhangsan|系统退出|0");
}

// A link or an image of another site cannot sign anyone out: a GET only shows
// the button that posts the sign-out, and a post from another site is refused.
TEST_F(SignIn, only_a_post_from_the_site_signs_out) {
  start();
  const std::string cookie = sign_in("zhangsan");
  ClientReply r = http_get(port_, "/oa/logout.asp", cookie);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.header("Content-Type"), "text/html; charset=gb2312");
  EXPECT_EQ(r.header("Set-Cookie"), "");
  const std::string page = gb18030_to_utf8(r.body);
  EXPECT_NE(page.find("<form method=\"post\" action=\"/oa/logout.asp\">"), std::string::npos);
  EXPECT_NE(page.find("<button type=\"submit\">退出</button>"), std::string::npos);
  const std::string from_elsewhere =
      "POST /oa/logout.asp HTTP/1.1\r\nHost: localhost:" + std::to_string(port_) +
      "\r\nOrigin: http://evil.example\r\nCookie: " + cookie +
      "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  EXPECT_EQ(HttpClient(port_).exchange(from_elsewhere).status, 403);
  // Still signed in: the node page shows, not the way to the login page.
  r = http_get(port_, "/oa/flow/model/jiedian.asp?OAID=1", cookie);
  EXPECT_EQ(gb18030_to_utf8(r.body).find("top.location.href = \"/oa/login.asp\""), std::string::npos);
  EXPECT_EQ(log_rows(), "应用日志|127.0.0.1|zhangsan|系统登陆|1");
}

// A sign-in goes on to its next= only while that stays below the application
// root however its escapes are decoded; else to the landing page.
TEST_F(SignIn, a_next_that_resolves_outside_the_application_root_leads_to_the_landing_page) {
  start();
  const std::string landing = "/oa/flow/model/models.asp";
  struct Case {
    std::string next;
    std::string location;
  } cases[] = {
      {"/oa/flow/model/model.asp?OAID=1&JieDianID=4", "/oa/flow/model/model.asp?OAID=1&JieDianID=4"},
      {"/oa/flow/model/model.asp?back=/../x", "/oa/flow/model/model.asp?back=/../x"},  // the query is data
      {"/oa/flow/%E6%B5%81%E7%A8%8B.asp", "/oa/flow/%E6%B5%81%E7%A8%8B.asp"},
      {"/oa/%2e%2e/%2e%2e/x", landing},
      {"/oa/.%2e/x", landing},
      {"/oa/flow/%2e/x", landing},
      {"/oa/..%2f..%2fx", landing},
      {"/oa/..%5c..%5cx", landing},
      {"/oa/..\\..\\x", landing},
      {"/oa/%252e%252e/x", landing},  // escaped twice
      {"/oa/%2f%2fevil.example/", landing},
  };
  // Form-encoded, so the server's own decoding of the form leaves `next` as written.
  auto encoded = [](std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
      if (std::isalnum(c) || c == '/' || c == '.') {
        out += static_cast<char>(c);
      } else {
        out += {'%', kHex[c >> 4], kHex[c & 15]};
      }
    }
    return out;
  };
  for (const Case& c : cases) {
    const ClientReply r =
        http_post(port_, "/oa/login.asp", "username=admin&password=demo&next=" + encoded(c.next));
    EXPECT_EQ(r.status, 303) << c.next;
    EXPECT_EQ(r.header("Location"), c.location) << c.next;
  }
}

TEST_F(SignIn, a_trusted_proxy_names_the_client_to_the_policy) {
  db_.exec("update OA_AnQuan set ISIP='1', isYunXu='0', IPList='203.0.113.'");
  auto attempt = [&](const char* forwarded_for) {
    const std::string body = "username=admin&password=demo";
    return HttpClient(port_).exchange(
        "POST /oa/login.asp HTTP/1.1\r\nHost: localhost\r\nX-Forwarded-For: " + std::string(forwarded_for) +
        "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
  };
  start();
  EXPECT_EQ(attempt("203.0.113.9").status, 200);  // not from a trusted proxy: the header is ignored
  server_.reset();
  start("127.0.0.1");
  EXPECT_EQ(attempt("203.0.113.9").status, 303);
  EXPECT_EQ(attempt("203.0.113.9, 198.51.100.1").status, 200);
  EXPECT_EQ(log_rows(),
            "安全日志|127.0.0.1|admin|非法IP地址|1;应用日志|203.0.113.9|admin|系统登陆|1;"
            "安全日志|198.51.100.1|admin|非法IP地址|1");
}

}  // namespace
}  // namespace oapx1
