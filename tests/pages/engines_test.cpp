// The golden pages on PostgreSQL: the page's SQL, written for the original
// engine, must give the same bytes on both engines. Runs when OAPX1_TEST_PG
// names a server (scripts/pg-test-server starts a throwaway one).

#include <cstdlib>
#include <memory>

#include "node_page_test_base.h"
#include "support/test_pg.h"
#include "platform/data/connection.h"

namespace oapx1::testing {
namespace {

class GoldenOnPostgres : public NodePageTest {
 protected:
  static void SetUpTestSuite() { pg_ = std::make_unique<PgTestSchema>("oapx1_pages"); }
  static void TearDownTestSuite() { pg_.reset(); }

  void SetUp() override {
    if (pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
    Connection conn;
    conn.Open(pg_->url());
    conn.execute_script(
        "truncate kx_userinfor, KX_Department, OA_Flow_Model_Header, OA_Flow_BiaoDan, "
        "OA_Flow_Model_JieDian;");
    conn.execute_script(read_source_file("tests/golden/fixture.sql"));
    request.application_state.set_item("KXTDBConnectString", pg_->url());
  }


  static inline std::unique_ptr<PgTestSchema> pg_;  // this program's schema
};

TEST_F(GoldenOnPostgres, node_without_a_row_and_full_node) {
  request.request.add_query("OAID", "999");
  request.request.add_query("msg", "提示<1>");
  expect_golden("node_without_row.html");
  request.response.body().clear();
  request.request = MemoryRequest();
  request.request.add_query("OAID", "7");
  expect_golden("node_full.html");
}

TEST_F(GoldenOnPostgres, page_after_a_save) {
  post({{"save", "true"}, {"OAID", "7"}, {"JieDianName", "复核"}, {"BanLiType", "1"},
        {"ProcessType", "1"}, {"BanLiRenType", "3"}, {"CurrentJieDianYongHu", "lisi"},
        {"BanLiUser", "lisi"}, {"BanLiUserDis", "李四"}, {"FenFaUser", ";wangwu;"},
        {"FenFaBuMen", ";3;"}, {"iszhuanban", "on"}, {"isBoHui", "on"},
        {"youjiantixing", "on"}, {"DaiLiIsAble", "on"}});
  expect_golden("after_save.html");
}

}  // namespace
}  // namespace oapx1::testing
