// One request of the node settings page in process: a show and a save of a
// demo node, with the time and the heap allocations per request; and a show
// as the HTTP host answers it (session, editing permission, the version sent
// with the page, the conversion to code page 936), without the sockets.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "cli/embedded_sql.h"
#include "pages/flownode/node_settings_page.h"
#include "platform/data/connection.h"
#include "platform/data/db_pool.h"
#include "platform/web/event_log.h"
#include "platform/web/process.h"
#include "platform/web/memory_intrinsics.h"
#include "server/http_exchange.h"
#include "server/web_application.h"

namespace {

std::atomic<long> g_allocations{0};

}  // namespace

void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
// The replaced operator new above allocates with malloc, so free is its match;
// GCC cannot see that through the replacement and warns.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace oapx1 {
namespace {

// A demo database in a temporary folder, created once for the process.
const std::string& demo_database() {
  static const std::string url = [] {
    std::string dir = (std::filesystem::temp_directory_path() / "oapx1-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) std::abort();
    const std::string u = "sqlite:" + dir + "/oa.db";
    Connection conn;
    conn.Open(u);
    conn.execute_script(embedded_sql::kSqliteSchema);
    conn.execute_script(embedded_sql::kSqliteDemo);
    conn.Close();
    return u;
  }();
  return url;
}

void run_request(benchmark::State& state, bool save) {
  ApplicationState application_state;
  application_state.set_item("KXTDBConnectString", demo_database());
  application_state.set_item("TavrinOAURL", "/oa/");
  // As the server runs: one read snapshot per request.
  DbPool::instance().set_request_snapshots(true);
  CollectingEventLog events;
  ScopedProcessSettings settings([&](ProcessSettings& s) { s.event_log = &events; });
  size_t bytes = 0;
  long allocations = 0;
  for (auto _ : state) {
    MemoryServer server;
    MemoryApplication application(application_state);
    MemorySession session;
    session.set_item("UserName", "admin");
    session.set_item("SystemURL", "/oa/");
    MemoryRequest request;
    if (save) {
      for (auto [name, value] : {std::pair{"save", "true"}, {"OAID", "1"}, {"JieDianName", "拟稿"},
                                 {"BanLiType", "1"}, {"ProcessType", "1"}, {"BanLiRenType", "3"},
                                 {"CurrentJieDianYongHu", "zhangsan;lisi"}, {"iszhuanban", "on"},
                                 {"youjiantixing", "on"}, {"isFenFa", "on"}}) {
        request.add_form(name, value);
      }
    } else {
      request.add_query("OAID", "1");
    }
    MemoryResponse response;
    ObjectContext context{&server, &application, &session, &request, &response};
    HostCall call(&context);
    const long before = g_allocations.load(std::memory_order_relaxed);
    {
      tvwortqflowjiedia page;
      page.I_init();
      page.OnEndPage();
    }
    allocations += g_allocations.load(std::memory_order_relaxed) - before;
    bytes += response.body().size();
  }
  if (!events.entries().empty()) state.SkipWithError(events.entries().front().second.c_str());
  state.counters["allocs/request"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.counters["body bytes"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}

void BM_ShowNode(benchmark::State& state) { run_request(state, false); }
void BM_SaveNode(benchmark::State& state) { run_request(state, true); }
BENCHMARK(BM_ShowNode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaveNode)->Unit(benchmark::kMicrosecond);

// A GET of the node page by a signed-in administrator, answered by the host.
void BM_ServeShowNode(benchmark::State& state) {
  CollectingEventLog events;
  ScopedProcessSettings settings([&](ProcessSettings& s) { s.event_log = &events; });
  ServerOptions options;
  options.database = demo_database();
  options.demo_login = true;
  options.docroot = OAPX1_SOURCE_DIR "/www";
  // With the argument 0 every view runs the page, as a view whose data changed does.
  options.keep_views = state.range(0) != 0;
  state.SetLabel(options.keep_views ? "views kept" : "every view runs the page");
  WebApplication app(options);
  DbPool::instance().set_request_snapshots(true);  // as the server runs
  HttpRequest login;
  login.method = "POST";
  login.target = "/oa/login.asp";
  login.content_type = "application/x-www-form-urlencoded";
  login.body = "username=admin&password=demo";
  login.peer_address = "127.0.0.1";
  login.host = "127.0.0.1";
  std::string cookie;
  for (const auto& [name, value] : app.handle(login).headers) {
    if (name == "Set-Cookie") cookie = value.substr(0, value.find(';'));
  }
  if (cookie.empty()) {
    state.SkipWithError("the demo sign-in failed");
    return;
  }
  HttpRequest show;
  show.method = "GET";
  show.target = "/oa/flow/model/jiedian.asp?OAID=1";
  show.cookie = cookie;
  show.peer_address = "127.0.0.1";
  show.host = "127.0.0.1";
  const WebApplication::Route route = app.route(show);
  size_t bytes = 0;
  long allocations = 0;
  for (auto _ : state) {
    const long before = g_allocations.load(std::memory_order_relaxed);
    const HttpReply reply = app.handle(show, route);
    allocations += g_allocations.load(std::memory_order_relaxed) - before;
    if (reply.status != 200) {
      state.SkipWithError("the node page did not answer 200");
      return;
    }
    bytes += reply.bytes().size();
  }
  if (!events.entries().empty()) state.SkipWithError(events.entries().front().second.c_str());
  state.counters["allocs/request"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.counters["body bytes"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ServeShowNode)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace oapx1
