// What an operator reads: the shared files under any application root, the
// access log in the combined format and the one-line event log entries.
#include "server/logs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <csignal>

#include "http_client.h"
#include "server_fixture.h"
#include "server/http_server.h"
#include "support/test_db.h"

namespace oapx1 {
namespace {

namespace fs = std::filesystem;
using testing::http_get;
using testing::HttpClient;

std::string file_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(OperatorView, shared_files_and_access_log_lines_under_another_application_root) {
  testing::TestDb db;
  const std::string log = db.path() + ".access.log";
  ServerOptions o;
  o.port = 0;
  o.threads = 1;
  o.database = db.url();
  o.docroot = OAPX1_WWW_DIR;
  o.demo_login = false;
  o.app_root = "/office/";
  o.access_log = log;
  {
    HttpServer server(o);
    server.start();
    const fs::path www = OAPX1_WWW_DIR;
    for (const auto& [target, file] : std::vector<std::pair<std::string, std::string>>{
             {"/office/style.css", "style.css"},
             {"/office//Include/imagesV10/CSSForV10.css", "Include/imagesV10/CSSForV10.css"},
             {"/Office/include/js/orderby.js", "Include/js/orderby.js"},
             {"/office/flow/model/images/users.gif", "flow/model/images/users.gif"}}) {
      const auto r = http_get(server.port(), target);
      EXPECT_EQ(r.status, 200) << target;
      EXPECT_EQ(r.body, file_text(www / file)) << target;
    }
    EXPECT_EQ(http_get(server.port(), "/oa/style.css").status, 404);  // only under the root
    EXPECT_EQ(http_get(server.port(), "/style.css").status, 404);
    HttpClient client(server.port());
    client.exchange(
        "HEAD /office/style.css?v=1 HTTP/1.0\r\nReferer: http://x/\"a\"\r\nUser-Agent: "
        "Tést\tx\r\n\r\n",
        true);
    server.stop();
    server.wait();
  }
  std::istringstream lines(file_text(log));
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);) all.push_back(line);
  ASSERT_EQ(all.size(), 7u);
  const std::string stamp = R"(\[\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\])";
  EXPECT_TRUE(std::regex_match(
      all[0], std::regex(R"(127\.0\.0\.1 - - )" + stamp +
                         R"( "GET /office/style\.css HTTP/1\.1" 200 \d+ "-" "-")")))
      << all[0];
  EXPECT_TRUE(std::regex_search(all[4], std::regex(R"( "GET /oa/style\.css HTTP/1\.1" 404 \d+ )")))
      << all[4];
  // HEAD sends no body; quotes and control characters are escaped.
  EXPECT_TRUE(std::regex_search(
      all[6],
      std::regex(
          R"( "HEAD /office/style\.css\?v=1 HTTP/1\.0" 200 - "http://x/\\"a\\"" "Tést\\x09x"$)")))
      << all[6];
}

TEST(OperatorView, event_lines_carry_time_level_and_request_on_one_line) {
  const auto when = std::chrono::system_clock::now();
  const std::string stamp = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d{4} )";
  RequestLogContext request{"POST", "/oa/flow/model/jiedian.asp?OAID=1", "admin"};
  RequestLogContext anonymous{"GET", "/oa/x", ""};
  struct Case {
    int type;
    const RequestLogContext* request;
    std::string text, rest;
  } cases[] = {
      {kEventError, &request, " 13 Type mismatch LINE #2",
       "error POST /oa/flow/model/jiedian.asp?OAID=1 user=admin:  13 Type mismatch LINE #2"},
      {2, &anonymous, "two\r\nlines", "warning GET /oa/x user=-: two  lines"},
      {4, nullptr, "started", "information - - user=-: started"},
  };
  for (const Case& c : cases) {
    const std::string line = format_event_line(when, c.type, c.text, c.request);
    EXPECT_TRUE(std::regex_match(
        line, std::regex(stamp + std::regex_replace(c.rest, std::regex(R"([.?*+])"), R"(\$&)"))))
        << line;
  }
}

TEST(OperatorView, event_lines_set_the_failure_number_apart_from_its_description) {
  struct Case {
    long number;
    std::string entry, shown;
  } cases[] = {
      {13, " 13Type mismatch LINE #2 Routine : tvwortqflowjiedia.x",
       ": 13: Type mismatch LINE #2 Routine : tvwortqflowjiedia.x\n"},
      {-2147217865, " -2147217865no such table: OA_AnQuan LINE #0",
       ": -2147217865: no such table: OA_AnQuan LINE #0\n"},
      // An entry not of the failure handler's form stays as it is.
      {5, "oapx1 serve: something else", ": oapx1 serve: something else\n"},
  };
  ServerEventLog log;
  for (const Case& c : cases) {
    ::testing::internal::CaptureStderr();
    log.write_failure(c.number, c.entry);
    const std::string line = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(line.ends_with(c.shown)) << line;
  }
}

class ServedLogs : public testing::ServerFixture {};

TEST_F(ServedLogs, a_sign_in_names_its_account_and_sighup_reopens_the_access_log) {
  const fs::path file = fs::path(::testing::TempDir()) / ("oapx1-access-" + std::to_string(getpid()) + ".log");
  fs::remove(file);
  fs::remove(file.string() + ".1");
  ServerOptions o = options();
  o.access_log = file.string();
  o.handle_signals = true;
  start(o);
  sign_in("zhangsan");
  EXPECT_TRUE(std::regex_search(file_text(file), std::regex(R"( - zhangsan \[[^\]]+\] "POST /oa/login\.asp HTTP/1\.1" 303 )")))
      << file_text(file);
  // A rotation moves the file away; SIGHUP makes the server write a new one
  // and it goes on serving.
  fs::rename(file, file.string() + ".1");
  std::raise(SIGHUP);
  ASSERT_TRUE(eventually([&] {
    for (const auto& [type, text] : log_.entries()) {
      if (text.find("logs reopened") != std::string::npos) return true;
    }
    return false;
  }));
  EXPECT_EQ(http_get(port_, "/oa/style.css").status, 200);
  EXPECT_NE(file_text(file).find("GET /oa/style.css"), std::string::npos);
  EXPECT_EQ(file_text(file.string() + ".1").find("style.css"), std::string::npos);
  fs::remove(file);
  fs::remove(file.string() + ".1");
}

}  // namespace
}  // namespace oapx1
