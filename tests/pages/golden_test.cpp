// The node settings page against the hand-transcribed golden pages, byte for byte.
#include <sstream>

#include "node_page_test_base.h"

namespace oapx1::testing {

namespace {

using GoldenPage = NodePageTest;

TEST_F(GoldenPage, node_without_a_row_shows_the_defaults) {
  request.request.add_query("OAID", "999");
  request.request.add_query("msg", "提示<1>");
  expect_golden("node_without_row.html");
}

TEST_F(GoldenPage, full_node_with_users_and_departments) {
  request.request.add_query("OAID", "7");
  expect_golden("node_full.html");
}

TEST_F(GoldenPage, delete_request_draws_the_frame_without_toolbar_and_form) {
  request.request.add_form("save", "del");
  request.request.add_form("OAID", "7");
  expect_golden("save_del.html");
  EXPECT_EQ(db.scalar("select JieDianName from OA_Flow_Model_JieDian where OAID=7"),
            "起草<1> & \"审核\"");
}

TEST_F(GoldenPage, page_after_a_save) {
  for (auto [name, value] : std::initializer_list<std::pair<const char*, const char*>>{
           {"save", "true"}, {"OAID", "7"}, {"JieDianName", "复核"}, {"BanLiType", "1"},
           {"ProcessType", "1"}, {"BanLiRenType", "3"}, {"CurrentJieDianYongHu", "lisi"},
           {"BanLiUser", "lisi"}, {"BanLiUserDis", "李四"}, {"FenFaUser", ";wangwu;"},
           {"FenFaBuMen", ";3;"}, {"iszhuanban", "on"}, {"isBoHui", "on"},
           {"youjiantixing", "on"}, {"DaiLiIsAble", "on"}}) {
    request.request.add_form(name, value);
  }
  expect_golden("after_save.html");
}

TEST_F(GoldenPage, save_of_a_node_without_a_row_says_nothing_was_saved) {
  request.request.add_form("save", "true");
  request.request.add_form("OAID", "999");
  request.request.add_form("JieDianName", "复核");
  expect_golden("save_without_row.html");
  EXPECT_EQ(db.scalar("select count(*) from OA_Flow_Model_JieDian where OAID=999"), "0");
}

TEST_F(GoldenPage, session_without_a_user_gets_the_login_script_and_the_head_block_only) {
  request.session = MemorySession();
  request.session.set_item("SystemURL", "/oa/");
  request.request.add_query("OAID", "7");
  expect_golden("no_user.html");
}

}  // namespace
}  // namespace oapx1::testing
