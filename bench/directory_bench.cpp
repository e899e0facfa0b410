// The organisation directory over generated organisations of 1,000, 10,000
// and 100,000 departments (a tree of ten children per department, one active
// user each; the same shape of document catalogues): the trees and the
// collectors over the whole organisation, the upward walks along a chain of
// that many departments, and the deletion of a whole catalogue tree. Reports
// the time and the statements run per node; both should stay flat as the
// organisation grows.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "host/page.h"
#include "platform/data/connection.h"
#include "platform/data/db_pool.h"
#include "platform/data/recordset.h"
#include "platform/components/components.h"
#include "platform/web/memory_intrinsics.h"

namespace {

using oapx1::Variant;

class LibraryPage : public oapx1::Page {
 public:
  void I_init() override {}
};

// Recordsets opened, one per statement that reads.
int64_t g_statements = 0;

std::string read_file(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

// A database of n departments with their users and n catalogues, and a page
// with its connection open on it, as a signed-in administrator.
class Organisation {
 public:
  explicit Organisation(int64_t n) : n_(n) {
    // A new file each time: the connection pool keeps engine connections by URL.
    static int serial = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("oapx1_directory_bench_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
    std::filesystem::create_directories(dir_);
    url_ = "sqlite:" + (dir_ / "oa.db").string();
    std::filesystem::remove(dir_ / "oa.db");
    oapx1::Connection setup;
    setup.Open(url_);
    setup.execute_script(read_file(OAPX1_SOURCE_DIR "/db/sqlite/schema.sql"));
    const std::string count = std::to_string(n);
    setup.execute_script(
        "with recursive c(k) as (select 1 union all select k + 1 from c where k < " + count + ")"
        " insert into KX_Department (DepartMentID, ParentID, DepartName) select k, k / 10, '部门' || k from c;"
        "insert into KX_UserInfor (OAID, UserName, TureName, DepartMentID, AccountState, ordernumber, IPAddress)"
        " select DepartMentID, 'u' || DepartMentID, '用户' || DepartMentID, DepartMentID, '1', 1, '10.0.0.1'"
        " from KX_Department;"
        "insert into KX_PersonOnline (UserName) select UserName from KX_UserInfor where OAID % 7 = 0;"
        "insert into KX_DutyPower (DutyName, FunList) values ('经理', '1*2*3'), ('主管', NULL), ('职员', '5');");
    load_catalogues(setup);
    setup.Close();

    context_.server = &server_;
    context_.application = &application_;
    context_.session = &session_;
    context_.request = &request_;
    context_.response = &response_;
    oapx1::bind_intrinsics(&context_);
    state_.set_item("KXTDBConnectString", url_);
    session_.set_item("UserName", "admin");
    session_.set_item("isAdmin", "TRUE");
    page_.tvdb_connI_init();
  }
  ~Organisation() {
    oapx1::bind_intrinsics(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void load_catalogues(oapx1::Connection& conn) const {
    conn.execute_script(
        "delete from KX_Catalog;"
        "with recursive c(k) as (select 1 union all select k + 1 from c where k < " + std::to_string(n_) + ")"
        " insert into KX_Catalog (KXID, ParentID, CatName, CreateDate) select k, k / 10, '目录' || k,"
        " '2024-01-01 00:00:00' from c;");
  }
  // A chain: department k below k - 1, the bottom one n.
  void make_chain() {
    page_.conn.as<oapx1::Connection>().execute("update KX_Department set ParentID = DepartMentID - 1");
  }
  LibraryPage& page() { return page_; }
  oapx1::MemoryResponse& response() { return response_; }
  int64_t n() const { return n_; }

 private:
  int64_t n_;
  std::filesystem::path dir_;
  std::string url_;
  oapx1::MemoryServer server_;
  oapx1::ApplicationState state_;
  oapx1::MemoryApplication application_{state_};
  oapx1::MemorySession session_;
  oapx1::MemoryRequest request_;
  oapx1::MemoryResponse response_;
  oapx1::ObjectContext context_;
  LibraryPage page_;
};

void count_statements() {
  oapx1::register_component("ADODB.Recordset", [] {
    ++g_statements;
    return std::make_shared<oapx1::Recordset>();
  });
}

void report(benchmark::State& state, int64_t nodes) {
  state.counters["statements/node"] =
      static_cast<double>(g_statements) / static_cast<double>(state.iterations()) / static_cast<double>(nodes);
  state.counters["time/node"] = benchmark::Counter(static_cast<double>(nodes),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

// A renderer or collector over the whole organisation from the top (0).
template <Variant (oapx1::Page::*Method)(Variant&, Variant&)>
void BM_Tree(benchmark::State& state) {
  Organisation org(state.range(0));
  count_statements();
  g_statements = 0;
  for (auto _ : state) {
    Variant top = 0, level = 0;
    (org.page().*Method)(top, level);
    org.response().body().clear();
  }
  report(state, org.n());
}

void BM_departmentchild(benchmark::State& state) {
  Organisation org(state.range(0));
  count_statements();
  g_statements = 0;
  for (auto _ : state) {
    Variant top = 0;
    org.page().departmentchildlist = "";
    org.page().departmentchild(top);
  }
  report(state, org.n());
}

void BM_getparentlists_chain(benchmark::State& state) {
  Organisation org(state.range(0));
  org.make_chain();
  count_statements();
  g_statements = 0;
  for (auto _ : state) {
    Variant bottom = static_cast<long long>(org.n());
    benchmark::DoNotOptimize(org.page().getparentlists(bottom));
  }
  report(state, org.n());
}

void BM_deletedocumentfolder(benchmark::State& state) {
  Organisation org(state.range(0));
  count_statements();
  g_statements = 0;
  for (auto _ : state) {
    // Every catalogue below the top ones, one top catalogue at a time.
    for (int top = 1; top <= 9; ++top) {
      Variant id = top;
      org.page().deletedocumentfolder(id);
    }
    state.PauseTiming();
    org.load_catalogues(org.page().conn.as<oapx1::Connection>());
    state.ResumeTiming();
  }
  report(state, org.n());
}

}  // namespace

#define OAPX1_SIZES ->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)
BENCHMARK_TEMPLATE(BM_Tree, &oapx1::Page::tabshowdepartmentchild) OAPX1_SIZES;
BENCHMARK_TEMPLATE(BM_Tree, &oapx1::Page::listuser) OAPX1_SIZES;
BENCHMARK_TEMPLATE(BM_Tree, &oapx1::Page::tabshowdepartmentchildandusername) OAPX1_SIZES;
BENCHMARK_TEMPLATE(BM_Tree, &oapx1::Page::showdoctree) OAPX1_SIZES;
BENCHMARK_TEMPLATE(BM_Tree, &oapx1::Page::tabshowdocumentstructure) OAPX1_SIZES;
BENCHMARK(BM_departmentchild) OAPX1_SIZES;
BENCHMARK(BM_getparentlists_chain) OAPX1_SIZES;
BENCHMARK(BM_deletedocumentfolder) OAPX1_SIZES;

BENCHMARK_MAIN();
