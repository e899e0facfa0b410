// The list of workflow models against the node settings page, both answered
// by the host for a signed-in administrator with every view running its page:
// the list of N models (4 nodes each, one of them with a handler who does not
// exist, every model with history lines) and one view of a node. The counter
// "us/row" of the list is its time divided by its rows, to hold against the
// node page's time for one node.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <string>

#include "cli/embedded_sql.h"
#include "platform/data/connection.h"
#include "platform/data/db_pool.h"
#include "platform/web/event_log.h"
#include "platform/web/process.h"
#include "server/http_exchange.h"
#include "server/web_application.h"

namespace oapx1 {
namespace {

// A demo database with `models` models in a temporary folder, one per count.
const std::string& database_with(int models) {
  static std::map<int, std::string> made;
  auto it = made.find(models);
  if (it != made.end()) return it->second;
  std::string dir = (std::filesystem::temp_directory_path() / "oapx1-model-bench-XXXXXX").string();
  if (!mkdtemp(dir.data())) std::abort();
  const std::string url = "sqlite:" + dir + "/oa.db";
  Connection conn;
  conn.Open(url);
  conn.execute_script(embedded_sql::kSqliteSchema);
  conn.execute_script(embedded_sql::kSqliteDemo);
  std::string script = "BEGIN;";
  for (int m = 2; m <= models; ++m) {
    const std::string id = std::to_string(m);
    script += "INSERT INTO OA_Flow_Model_Header (OAID, BiaoDanID, ModelName) VALUES (" + id + ", 1, '流程" + id + "');";
    script += "INSERT INTO OA_Flow_Model_JieDian (MOAID, JieDianName, BanLiType, BanLiRenType, JiaoSeUserList, "
              "FenFaBuMen) SELECT " + id + ", JieDianName, BanLiType, BanLiRenType, "
              "CASE WHEN OAID=3 THEN ';ghost;' ELSE JiaoSeUserList END, FenFaBuMen FROM OA_Flow_Model_JieDian "
              "WHERE MOAID=1;";
    script += "INSERT INTO OAPX1_NodeHistory (NodeID, ModelID, UserName, TureName, IPAddress, Outcome, Remark, "
              "Changes) VALUES (0, " + id + ", 'admin', '陈志远', '127.0.0.1', 'model created', '', '[]');";
  }
  script += "COMMIT;";
  conn.execute_script(script);
  conn.Close();
  return made.emplace(models, url).first->second;
}

// Signs in as admin; the session cookie, "" when that failed.
std::string sign_in(WebApplication& app) {
  HttpRequest login;
  login.method = "POST";
  login.target = "/oa/login.asp";
  login.content_type = "application/x-www-form-urlencoded";
  login.body = "username=admin&password=demo";
  login.peer_address = "127.0.0.1";
  login.host = "127.0.0.1";
  HttpReply reply = app.handle(login);
  if (reply.later) {
    // The password is checked on the hashing pool; the reply comes when it is done.
    std::promise<HttpReply> done;
    reply.later([&](HttpReply::Make make) { done.set_value(make()); });
    reply = done.get_future().get();
  }
  for (const auto& [name, value] : reply.headers) {
    if (name == "Set-Cookie") return value.substr(0, value.find(';'));
  }
  return "";
}

// GETs of `target` over a database of `models` models; `rows` of them a view.
void serve(benchmark::State& state, const std::string& target, int models, int rows) {
  CollectingEventLog events;
  ScopedProcessSettings settings([&](ProcessSettings& s) { s.event_log = &events; });
  ServerOptions options;
  options.database = database_with(models);
  options.demo_login = true;
  options.docroot = OAPX1_SOURCE_DIR "/www";
  options.keep_views = false;  // every view runs its page
  WebApplication app(options);
  DbPool::instance().set_request_snapshots(true);  // as the server runs
  const std::string cookie = sign_in(app);
  if (cookie.empty()) {
    state.SkipWithError("the demo sign-in failed");
    return;
  }
  HttpRequest show;
  show.method = "GET";
  show.target = target;
  show.cookie = cookie;
  show.peer_address = "127.0.0.1";
  show.host = "127.0.0.1";
  const WebApplication::Route route = app.route(show);
  size_t bytes = 0;
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const HttpReply reply = app.handle(show, route);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (reply.status != 200) {
      state.SkipWithError("the page did not answer 200");
      return;
    }
    bytes += reply.bytes().size();
  }
  if (!events.entries().empty()) state.SkipWithError(events.entries().front().second.c_str());
  const double views = static_cast<double>(state.iterations());
  state.counters["us/row"] = seconds * 1e6 / views / rows;
  state.counters["body bytes"] = static_cast<double>(bytes) / views;
}

void BM_ModelList(benchmark::State& state) {
  const int models = static_cast<int>(state.range(0));
  serve(state, "/oa/flow/model/models.asp", models, models);
}
void BM_NodePage(benchmark::State& state) { serve(state, "/oa/flow/model/jiedian.asp?OAID=1", 1, 1); }
BENCHMARK(BM_ModelList)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NodePage)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace oapx1
