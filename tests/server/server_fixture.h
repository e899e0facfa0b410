// A real server on a loopback port over a fresh demo database, with the
// event log collected and a session clock the test can move on: the fixture
// of the server, resilience and sign-in tests.
#ifndef OAPX1_TESTS_SERVER_SERVER_FIXTURE_H_
#define OAPX1_TESTS_SERVER_SERVER_FIXTURE_H_

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "http_client.h"
#include "platform/web/event_log.h"
#include "server/http_server.h"
#include "support/test_db.h"

namespace oapx1::testing {

// The node settings page.
inline constexpr std::string_view kNodePage = "/oa/flow/model/jiedian.asp";

class ServerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    set_event_log(&log_);
    db_.exec_file("db/sqlite/demo.sql");
  }
  void TearDown() override {
    server_.reset();
    set_event_log(nullptr);
  }

  // Options for a server on a free port over the test database, with the
  // demo login on and the fixture's session clock.
  ServerOptions options() {
    ServerOptions o;
    o.port = 0;
    o.threads = 2;
    o.database = db_.url();
    o.docroot = OAPX1_WWW_DIR;
    o.demo_login = true;
    o.clock = [this] { return base_ + std::chrono::minutes(minutes_.load()); };
    return o;
  }
  void start(ServerOptions o) {
    server_ = std::make_unique<HttpServer>(std::move(o));
    server_->start();
    port_ = server_->port();
  }
  // Signs in as `user` (password demo); returns the session cookie.
  std::string sign_in(const std::string& user = "admin") {
    const std::string cookie =
        cookie_of(http_post(port_, "/oa/login.asp", "username=" + user + "&password=demo"));
    EXPECT_FALSE(cookie.empty());
    return cookie;
  }
  // Waits (a few seconds at most) until `done` holds.
  static bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
  }

  TestDb db_;
  CollectingEventLog log_;
  std::unique_ptr<HttpServer> server_;
  uint16_t port_ = 0;
  const std::chrono::steady_clock::time_point base_ = std::chrono::steady_clock::now();
  std::atomic<int> minutes_{0};  // how far the session clock has been moved on
};

}  // namespace oapx1::testing

#endif  // OAPX1_TESTS_SERVER_SERVER_FIXTURE_H_
