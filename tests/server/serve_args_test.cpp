#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <stdexcept>

#include "platform/data/db_pool.h"
#include "server/serve.h"
#include "server/web_application.h"
#include "support/test_db.h"

namespace oapx1 {
namespace {

TEST(ServeArgs, defaults_and_flags) {
  const ServerOptions defaults = parse_serve_args({});
  EXPECT_EQ(defaults.address, "127.0.0.1");
  EXPECT_EQ(defaults.port, 8080);
  EXPECT_EQ(defaults.database, "");  // resolved at start: OAPX1_DB, else sqlite:var/oa.db
  EXPECT_EQ(defaults.threads, 0);
  EXPECT_FALSE(defaults.demo_login.has_value());

  const ServerOptions o = parse_serve_args({"--listen", "0.0.0.0:9000", "--db=sqlite:/tmp/x.db",
                                            "--docroot", "/srv/www", "--threads", "3",
                                            "--demo-login", "--oa-url", "/office/", "--language", "en"});
  EXPECT_EQ(o.address, "0.0.0.0");
  EXPECT_EQ(o.port, 9000);
  EXPECT_EQ(o.database, "sqlite:/tmp/x.db");
  EXPECT_EQ(o.docroot, "/srv/www");
  EXPECT_EQ(o.threads, 3);
  EXPECT_EQ(o.demo_login, true);
  EXPECT_EQ(o.oa_url, "/office/");
  EXPECT_EQ(o.language, "en");
  EXPECT_EQ(defaults.language, "zh-CN");

  struct Listen {
    std::string arg, address;
    uint16_t port;
  } listens[] = {{"8081", "127.0.0.1", 8081},
                 {"localhost:0", "127.0.0.1", 0},
                 {"[::1]:8082", "::1", 8082},
                 {":8083", "127.0.0.1", 8083}};
  for (const auto& l : listens) {
    const ServerOptions lo = parse_serve_args({"--listen", l.arg});
    EXPECT_EQ(lo.address, l.address) << l.arg;
    EXPECT_EQ(lo.port, l.port) << l.arg;
  }
}

TEST(ServeArgs, bad_arguments_are_refused_with_a_reason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--listen", "127.0.0.1:99999"}, {"--listen", "127.0.0.1:http"}, {"--threads", "-1"},
      {"--threads"},                   {"--bogus", "1"},              {"stray"},
      {"--demo-login=maybe"},          {"--config", "/nonexistent/oapx1.conf"},
      {"--language", "fr"}};
  for (const auto& args : bad) {
    EXPECT_THROW(parse_serve_args(args), std::invalid_argument) << args[0];
  }
}

TEST(ServeArgs, config_file_is_read_and_flags_override_it) {
  const auto path = std::filesystem::temp_directory_path() / "oapx1-serve-test.conf";
  {
    std::ofstream out(path);
    out << "# demo server\n"
           "listen = 127.0.0.1:9100\n"
           "db = sqlite:/tmp/conf.db\n"
           "\n"
           "TavrinOAURL = http://oa.example/oa/\n"
           "system_url = /oa\n"
           "demo-login = off\n"
           "max-body = 4096\n";
  }
  const ServerOptions o = parse_serve_args({"--listen", "127.0.0.1:9200", "--config", path.string()});
  EXPECT_EQ(o.port, 9200);  // the flag wins, wherever it stands
  EXPECT_EQ(o.database, "sqlite:/tmp/conf.db");
  EXPECT_EQ(o.oa_url, "http://oa.example/oa/");
  EXPECT_EQ(o.system_url, "/oa");
  EXPECT_EQ(o.demo_login, false);
  EXPECT_EQ(o.body_limit, 4096u);

  {
    std::ofstream out(path);
    out << "listen = 127.0.0.1:9100\nthis line has no equals sign\n";
  }
  try {
    parse_serve_args({"--config", path.string()});
    ADD_FAILURE() << "a bad line was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(":2:"), std::string::npos) << e.what();
  }
  std::filesystem::remove(path);
}

TEST(ServeArgs, settings_of_load_limits_cookies_proxies_and_sign_in) {
  const ServerOptions defaults = parse_serve_args({});
  EXPECT_EQ(defaults.max_connections, 0u);  // from the descriptor limit
  EXPECT_EQ(defaults.db_lock_wait, std::chrono::seconds(5));
  EXPECT_EQ(defaults.statement_timeout, std::chrono::seconds(5));
  EXPECT_FALSE(defaults.secure_cookies);
  EXPECT_TRUE(defaults.trusted_proxies.empty());
  EXPECT_EQ(defaults.login_failures, 10);
  EXPECT_EQ(defaults.header_timeout, std::chrono::seconds(10));
  EXPECT_EQ(defaults.max_connections_per_address, 256u);
  EXPECT_EQ(defaults.sessions_per_account, 20u);
  EXPECT_EQ(defaults.max_sessions, 0u);  // from the memory
  EXPECT_EQ(defaults.edit_permission, "FLOWSET");

  const ServerOptions o = parse_serve_args(
      {"--page-threads", "3", "--page-queue=20", "--max-connections", "500", "--db-lock-wait", "2",
       "--secure-cookies", "true", "--trusted-proxies", "10.0.0.0/8, ::1", "--login-failures", "0",
       "--header-timeout", "3", "--body-timeout=40", "--max-connections-per-address", "0",
       "--sessions-per-account", "5", "--max-sessions=100000",
       "--edit-permission", "WFADMIN", "--db-pool", "8", "--keep-views", "off",
       "--statement-timeout", "0"});
  EXPECT_EQ(o.page_threads, 3);
  EXPECT_EQ(o.page_queue, 20u);
  EXPECT_EQ(o.max_connections, 500u);
  EXPECT_EQ(o.db_lock_wait, std::chrono::seconds(2));
  EXPECT_EQ(o.statement_timeout, std::chrono::seconds(0));
  EXPECT_TRUE(o.secure_cookies);
  EXPECT_TRUE(o.trusted_proxies.trusts("10.2.3.4"));
  EXPECT_TRUE(o.trusted_proxies.trusts("::1"));
  EXPECT_EQ(o.login_failures, 0);
  EXPECT_EQ(o.header_timeout, std::chrono::seconds(3));
  EXPECT_EQ(o.body_timeout, std::chrono::seconds(40));
  EXPECT_EQ(o.max_connections_per_address, 0u);
  EXPECT_EQ(o.sessions_per_account, 5u);
  EXPECT_EQ(o.max_sessions, 100000u);
  EXPECT_EQ(o.db_pool, 8u);
  EXPECT_EQ(defaults.db_pool, 64u);
  EXPECT_THROW(parse_serve_args({"--db-pool", "0"}), std::invalid_argument);
  EXPECT_EQ(o.edit_permission, "WFADMIN");
  EXPECT_FALSE(o.keep_views);
  EXPECT_TRUE(defaults.keep_views);

  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"--page-queue", "0"}, {"--trusted-proxies", "proxy.example"}, {"--db-lock-wait", "-1"}, {"--statement-timeout", "-1"},
           {"--secure-cookies", "maybe"}, {"--header-timeout", "0"},
           {"--sessions-per-account", "-1"}, {"--edit-permission", ""}}) {
    EXPECT_THROW(parse_serve_args(bad), std::invalid_argument) << bad[0];
  }
}

TEST(ServeArgs, help_lists_every_setting_it_takes_and_only_those) {
  const std::string help = serve_usage();
  const std::regex line(R"(\n  ([a-z-]+) [^\n]*)");
  std::set<std::string> listed;
  for (auto it = std::sregex_iterator(help.begin(), help.end(), line); it != std::sregex_iterator(); ++it) {
    listed.insert((*it)[1]);
  }
  for (const char* name : {"listen", "db", "session-store", "docroot", "app-root", "oa-url", "system-url",
                           "demo-login", "login-exempt", "login-failures", "trusted-proxies",
                           "secure-cookies", "access-log", "language", "threads", "page-threads",
                           "page-queue", "max-connections", "max-header", "max-body", "read-timeout",
                           "write-timeout", "db-lock-wait", "statement-timeout", "db-pool"}) {
    EXPECT_EQ(listed.count(name), 1u) << name;
  }
  for (const std::string& name : listed) {
    ServerOptions scratch;
    try {
      apply_serve_setting(scratch, name, "");
    } catch (const UnknownSetting&) {
      ADD_FAILURE() << "the help lists " << name << ", which serve does not take";
    } catch (const std::invalid_argument&) {
    }
  }
  EXPECT_EQ(help.find("see docs/serve.md)"), std::string::npos);
}

// The pool bound reaches the process's connection pool when the server is made.
TEST(ServeArgs, the_db_pool_setting_bounds_the_connection_pool) {
  DbPool& pool = DbPool::instance();
  const size_t was = pool.max_open();
  oapx1::testing::TestDb db;
  ServerOptions o = parse_serve_args({"--db-pool", "3"});
  o.database = db.url();
  o.demo_login = false;
  { WebApplication app(o); }
  EXPECT_EQ(pool.max_open(), 3u);
  pool.set_limits(was, pool.open_wait());
}

}  // namespace
}  // namespace oapx1
