// Data access costs on the demo schema: opening a pooled connection against
// running one query, and fresh against prepared statements. SQLite always;
// PostgreSQL too when OAPX1_BENCH_PG names a server (the demo tables are
// loaded into a schema of their own, dropped at the end).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/data/db_pool.h"
#include "platform/data/recordset.h"

namespace {

using oapx1::Connection;
using oapx1::Object;
using oapx1::Recordset;
using oapx1::Variant;

std::string read_source(const std::string& relative) {
  std::ifstream in(std::string(OAPX1_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void load_demo(const std::string& url, const char* engine) {
  Connection conn;
  conn.Open(url);
  conn.execute_script(read_source(std::string("db/") + engine + "/schema.sql"));
  conn.execute_script(read_source(std::string("db/") + engine + "/demo.sql"));
}

void open_close(benchmark::State& state, std::string url) {
  for (auto _ : state) {
    Connection conn;
    conn.Open(url);
    conn.Close();
  }
}

void select_anquan(benchmark::State& state, std::string url) {
  auto conn = std::make_shared<Connection>();
  conn->Open(url);
  const Variant conn_var(std::static_pointer_cast<Object>(conn));
  for (auto _ : state) {
    Recordset rs;
    rs.Open("select * from OA_AnQuan", conn_var, 1, 3);
    benchmark::DoNotOptimize(rs.field("TimeOut"));
    rs.Close();
  }
}

// The node page's query with a changing key: each run is a new statement
// text, but one shape.
void select_node(benchmark::State& state, std::string url, size_t cache) {
  auto conn = std::make_shared<Connection>();
  conn->Open(url);
  conn->session().set_statement_cache_capacity(cache);
  const Variant conn_var(std::static_pointer_cast<Object>(conn));
  int key = 0;
  for (auto _ : state) {
    Recordset rs;
    rs.Open("select * from OA_Flow_Model_JieDian where OAID=" + std::to_string(key++ % 4 + 1),
            conn_var, 1, 3);
    benchmark::DoNotOptimize(rs.field("JieDianName"));
    rs.Close();
  }
  conn->session().set_statement_cache_capacity(oapx1::DbSession::kDefaultStatementCache);
}

void register_all(const std::string& engine, const std::string& url) {
  benchmark::RegisterBenchmark((engine + "/open_close_pooled").c_str(), open_close, url);
  benchmark::RegisterBenchmark((engine + "/select_OA_AnQuan").c_str(), select_anquan, url);
  benchmark::RegisterBenchmark((engine + "/node_query_fresh").c_str(), select_node, url, size_t{0});
  benchmark::RegisterBenchmark((engine + "/node_query_prepared").c_str(), select_node, url,
                               oapx1::DbSession::kDefaultStatementCache);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = (std::filesystem::temp_directory_path() / "oapx1-bench-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  const std::string sqlite_url = "sqlite:" + dir + "/oa.db";
  load_demo(sqlite_url, "sqlite");
  register_all("sqlite", sqlite_url);

  std::string pg_base, pg_schema;
  if (const char* pg = std::getenv("OAPX1_BENCH_PG"); pg && *pg) {
    pg_base = pg;
    pg_schema = "oapx1_bench_" + std::to_string(getpid());
    Connection admin;
    admin.Open(pg_base);
    admin.execute("create schema " + pg_schema);
    const std::string url = pg_base + (pg_base.find('?') == std::string::npos ? "?" : "&") +
                            "options=-csearch_path%3D" + pg_schema;
    load_demo(url, "postgres");
    register_all("postgres", url);
  }

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  oapx1::DbPool::instance().clear();
  if (!pg_schema.empty()) {
    Connection admin;
    admin.Open(pg_base);
    admin.execute("drop schema " + pg_schema + " cascade");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
