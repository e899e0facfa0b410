// `model import` of a model of 50 nodes (each with handlers, distribution
// users and departments by path): a new model, the same file again (nothing
// to change), and an update of every node; time per import and the peak of
// the heap one import takes (bytes above what was held before it). SQLite
// always; PostgreSQL too when OAPX1_BENCH_PG names a server.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "editing/model_transfer.h"
#include "platform/data/connection.h"
#include "platform/data/db_pool.h"

namespace {

// The heap in use and its peak since the last reset, counted by the
// replaced operator new and delete.
std::atomic<long> g_heap{0}, g_peak{0};

}  // namespace

void* operator new(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  const long now = g_heap.fetch_add(static_cast<long>(malloc_usable_size(p)), std::memory_order_relaxed) +
                   static_cast<long>(malloc_usable_size(p));
  long peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
  return p;
}
// The replaced operator new above allocates with malloc, so free is its match;
// GCC cannot see that through the replacement and warns.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  if (!p) return;
  g_heap.fetch_sub(static_cast<long>(malloc_usable_size(p)), std::memory_order_relaxed);
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
#pragma GCC diagnostic pop

namespace {

using oapx1::Connection;
using oapx1::Object;
using oapx1::Variant;

constexpr int kNodes = 50;

std::string read_source(const std::string& relative) {
  std::ifstream in(std::string(OAPX1_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The schema, 50 departments under one top, 200 accounts, and (with
// `model`) one model of kNodes nodes naming them.
void load(const std::string& url, const char* engine, bool model) {
  Connection conn;
  conn.Open(url);
  conn.execute_script(read_source(std::string("db/") + engine + "/schema.sql"));
  std::string sql = "INSERT INTO KX_Department (DepartMentID, ParentID, DepartName) VALUES (1, 0, '总部')";
  for (int d = 2; d <= 51; ++d) sql += ", (" + std::to_string(d) + ", 1, '部门" + std::to_string(d) + "')";
  sql += ";\nINSERT INTO KX_UserInfor (OAID, UserName, TureName, DepartMentID) VALUES (1, 'user1', '用户1', 2)";
  for (int u = 2; u <= 200; ++u) {
    sql += ", (" + std::to_string(u) + ", 'user" + std::to_string(u) + "', '用户" + std::to_string(u) + "', " +
           std::to_string(u % 50 + 2) + ")";
  }
  sql += ";\n";
  if (model) {
    sql +=
        "INSERT INTO OA_Flow_BiaoDan (OAID, BiaoDanName, ZhengWenType) VALUES (1, '表单', 'Word');\n"
        "INSERT INTO OA_Flow_Model_Header (OAID, BiaoDanID, ModelName) VALUES (1, 1, '五十个节点');\n";
    for (int n = 1; n <= kNodes; ++n) {
      const std::string u = std::to_string(n), v = std::to_string(n + 100), d = std::to_string(n % 50 + 2);
      sql +=
          "INSERT INTO OA_Flow_Model_JieDian (OAID, MOAID, JieDianName, BanLiType, ProcessType, TimeUnit, WaitTime,"
          " JiaoSeUserList, FenFaUser, FenFaBuMen, isBoHui, iszhuanban) VALUES (" +
          u + ", 1, '节点" + u + "', '1', '1', '天', '2', ';user" + u + ";user" + v + ";', ';user" + v + ";', ';" + d +
          ";2;', '1', '0');\n";
    }
  }
  conn.execute_script(sql);
  conn.Close();
}

std::shared_ptr<Connection> open(const std::string& url) {
  auto conn = std::make_shared<Connection>();
  conn->Open(Variant(url));
  return conn;
}

// Imports `file` once, as `oapx1 model import` does.
void import_once(const Variant& conn, const std::string& file) {
  bool applied = false;
  const oapx1::ImportActor actor{"bench", "bench", "bench"};
  oapx1::import_models(conn, file, {}, actor, oapx1::ImportMode::kApply, &applied);
  if (!applied) throw std::runtime_error("not applied");
}

enum class Kind { kNew, kUnchanged, kUpdate };

void model_import(benchmark::State& state, std::string url, std::string file, Kind kind) {
  const auto connection = open(url);
  const Variant conn(std::static_pointer_cast<Object>(connection));
  std::string changed = file;
  for (size_t at = 0; (at = changed.find("\"WaitTime\": \"2\"", at)) != std::string::npos;) changed[at += 13] = '3';
  if (kind != Kind::kNew) import_once(conn, file);
  long peak = 0;
  int run = 0;
  for (auto _ : state) {
    std::string text = file;
    if (kind == Kind::kNew) {
      state.PauseTiming();
      text.replace(text.find("\"key\": \"") + 8, 8, "new" + std::to_string(10000 + run));
      state.ResumeTiming();
    } else if (kind == Kind::kUpdate && run % 2 == 0) {
      text = changed;
    }
    ++run;
    const long before = g_heap.load();
    g_peak.store(before);
    import_once(conn, text);
    peak = std::max(peak, g_peak.load() - before);
  }
  state.counters["peak_heap_bytes"] = static_cast<double>(peak);
  state.counters["nodes"] = kNodes;
  connection->Close();
}

void register_all(const std::string& engine, const std::string& target, const std::string& file) {
  benchmark::RegisterBenchmark((engine + "/import_new_model_50_nodes").c_str(), model_import, target, file, Kind::kNew);
  benchmark::RegisterBenchmark((engine + "/import_unchanged_50_nodes").c_str(), model_import, target, file,
                               Kind::kUnchanged);
  benchmark::RegisterBenchmark((engine + "/import_update_50_nodes").c_str(), model_import, target, file, Kind::kUpdate);
}

// The model file of the source at `url`.
std::string exported(const std::string& url) {
  const auto connection = open(url);
  const std::string file = oapx1::export_model_json(Variant(std::static_pointer_cast<Object>(connection)), 1);
  connection->Close();
  return file;
}

std::string pg_url(const std::string& base, const std::string& schema) {
  return base + (base.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = (std::filesystem::temp_directory_path() / "oapx1-bench-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  load("sqlite:" + dir + "/source.db", "sqlite", true);
  load("sqlite:" + dir + "/target.db", "sqlite", false);
  register_all("sqlite", "sqlite:" + dir + "/target.db", exported("sqlite:" + dir + "/source.db"));
  std::string pg_base;
  const std::string schema = "oapx1_bench_" + std::to_string(getpid());
  if (const char* pg = std::getenv("OAPX1_BENCH_PG"); pg && *pg) {
    pg_base = pg;
    Connection admin;
    admin.Open(pg_base);
    admin.execute_script("create schema " + schema + "_a; create schema " + schema + "_b");
    admin.Close();
    load(pg_url(pg_base, schema + "_a"), "postgres", true);
    load(pg_url(pg_base, schema + "_b"), "postgres", false);
    register_all("postgres", pg_url(pg_base, schema + "_b"), exported(pg_url(pg_base, schema + "_a")));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  oapx1::DbPool::instance().clear();
  if (!pg_base.empty()) {
    Connection admin;
    admin.Open(pg_base);
    admin.execute_script("drop schema " + schema + "_a cascade; drop schema " + schema + "_b cascade");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
