// Saving a node, resolving display names and failures of the node settings page.
#include "node_page_test_base.h"

namespace oapx1::testing {
namespace {

class NodeSave : public NodePageTest {};

TEST_F(NodeSave, check_boxes_store_one_when_ticked_and_zero_when_absent) {
  post({{"save", "true"}, {"OAID", "7"}, {"isgoutong", "on"}, {"isTaoHong", "yes"}});
  run();
  EXPECT_EQ(stored("isgoutong"), "1");
  EXPECT_EQ(stored("isTaoHong"), "0");  // only "on" ticks a box
  EXPECT_EQ(stored("isChaKanHenJi"), "0");
  EXPECT_EQ(stored("IsYiJianTotal"), "1");
  EXPECT_TRUE(contains("系统提示：流程流程节点设置保存成功！"));
  EXPECT_TRUE(contains(" <script LANGUAGE=\"javascript\">\r\n\t\tparent.FMain.location.reload();\r\n\t</script>\r\n\t"));
}

TEST_F(NodeSave, wait_time_is_stored_only_when_numeric_and_unposted_text_fields_keep_their_value) {
  post({{"save", "true"}, {"OAID", "7"}, {"WaitTime", "12"}});
  run();
  EXPECT_EQ(stored("WaitTime"), "12");
  EXPECT_EQ(stored("TimeUnit"), "周");
  EXPECT_EQ(stored("JieDianName"), "起草<1> & \"审核\"");

  TestRequest second;
  second.application_state.set_item("KXTDBConnectString", db.url());
  second.session.set_item("UserName", "admin");
  second.request.add_form("save", "true");
  second.request.add_form("OAID", "7");
  second.request.add_form("WaitTime", "3天");
  second.request.add_form("JieDianName", "");
  tvwortqflowjiedia page2;
  page2.I_init();
  EXPECT_EQ(stored("WaitTime"), "12");
  EXPECT_EQ(stored("JieDianName"), "");  // posted empty is saved as posted
}

TEST_F(NodeSave, proxy_flag_needs_handler_type_three) {
  post({{"save", "true"}, {"OAID", "7"}, {"BanLiRenType", "1"}, {"DaiLiIsAble", "on"}});
  run();
  EXPECT_EQ(stored("DaiLiIsAble"), "0");
  request.response.body().clear();
  request.request = MemoryRequest();
  post({{"save", "true"}, {"OAID", "7"}, {"BanLiRenType", "3"}, {"DaiLiIsAble", "on"}});
  run();
  EXPECT_EQ(stored("DaiLiIsAble"), "1");
  EXPECT_EQ(stored("BanLiRenType"), "3");
}

TEST_F(NodeSave, unknown_node_inserts_nothing_and_says_nothing_was_saved) {
  post({{"save", "true"}, {"OAID", "999"}, {"JieDianName", "新"}});
  run();
  EXPECT_EQ(db.scalar("select count(*) from OA_Flow_Model_JieDian"), "1");
  EXPECT_FALSE(contains("保存成功"));
  EXPECT_TRUE(contains("系统提示：流程节点不存在，设置未保存！"));
  EXPECT_TRUE(contains("parent.FMain.location.reload();"));
  // The defaults are shown for the missing node.
  EXPECT_TRUE(contains("<OPTION  selected  value=\"天\">天</OPTION>"));
}

TEST_F(NodeSave, chinese_text_round_trips_and_apostrophes_are_data) {
  post({{"save", "true"}, {"OAID", "7"}, {"JieDianName", "审批'节点•"}, {"FenFaUser", "o'neil"}});
  run();
  EXPECT_EQ(stored("JieDianName"), "审批'节点•");
  EXPECT_TRUE(contains("value=\"审批&#39;节点•\" class=text_120>"));
}

TEST_F(NodeSave, nothing_is_saved_for_a_session_without_a_user) {
  request.session = MemorySession();
  post({{"save", "true"}, {"OAID", "7"}, {"JieDianName", "x"}});
  run();
  EXPECT_EQ(stored("JieDianName"), "起草<1> & \"审核\"");
  EXPECT_FALSE(contains("JieDianName"));
  EXPECT_TRUE(contains("top.location.href = \"/oa/login.asp\";"));
}

class DisplayNames : public NodePageTest {
 protected:
  void set_lists(const char* users, const char* fenfa_users, const char* departments) {
    db.exec(std::string("update OA_Flow_Model_JieDian set JiaoSeUserList='") + users +
            "', FenFaUser='" + fenfa_users + "', FenFaBuMen='" + departments + "' where OAID=7");
    request.request.add_query("OAID", "7");
    run();
  }
};

TEST_F(DisplayNames, lists_with_stray_separators_resolve_in_ordernumber_order) {
  db.exec("INSERT INTO kx_userinfor (username, TureName, ordernumber) VALUES ('o''neil', '欧尼尔', 0)");
  set_lists(";;zhangsan;;o''neil;", "wangwu;;lisi", ";;3;;2;");
  EXPECT_EQ(page->BanLiUser.str(), ";zhangsan;;o'neil");  // one leading and trailing ";" dropped
  EXPECT_EQ(page->BanLiUserDis.str(), "欧尼尔,张三");
  EXPECT_EQ(page->FenFaUserDis.str(), "李四,王五");
  EXPECT_EQ(page->FenFaBuMenDis.str(), "技术部,财务部");
  EXPECT_EQ(page->FenFaUser.str(), "wangwu;;lisi");  // the stored list is left as it is
  EXPECT_EQ(page->i.to_integer(), 3);                // left at the count plus one
  EXPECT_TRUE(request.events.entries().empty());
}

TEST_F(DisplayNames, empty_lists_run_no_query) {
  set_lists(";", ";;", ";");
  EXPECT_EQ(page->BanLiUserDis.str(), "");
  EXPECT_EQ(page->FenFaUserDis.str(), "");
  EXPECT_EQ(page->FenFaBuMenDis.str(), "");
  // The last statement is still the form lookup's: no list query ran.
  EXPECT_EQ(page->sql.str(), "select ZhengWenType from OA_Flow_BiaoDan where OAID = '1'");
}

TEST_F(DisplayNames, null_handler_type_shows_type_two_and_no_users) {
  db.exec("update OA_Flow_Model_JieDian set BanLiRenType=NULL, isFirst=NULL, DaiLiIsAble=NULL where OAID=7");
  request.request.add_query("OAID", "7");
  run();
  EXPECT_EQ(page->BanLiRenType.str(), "2");
  EXPECT_EQ(page->isFirst.str(), "0");
  EXPECT_EQ(page->DaiLiIsAble.str(), "0");
  EXPECT_EQ(page->BanLiUserDis.str(), "");
  EXPECT_EQ(page->BanLiUser.str(), "");
}

TEST_F(DisplayNames, stored_entries_that_name_nothing_are_left_out_and_the_page_renders_in_full) {
  struct Case {
    const char* users;
    const char* departments;
    const char* user_names;
    const char* department_names;
  } cases[] = {
      {"", ";2;1 or 1=1;", "", "财务部"},
      {"", ";abc;", "", ""},
      {"", ";3;2.5;-1;99;", "", "技术部"},
      {";lisi;gone;", ";2;abc;3;", "李四", "技术部,财务部"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.departments);
    request.response.body().clear();
    request.request = MemoryRequest();
    set_lists("", c.users, c.departments);
    EXPECT_TRUE(request.events.entries().empty());
    EXPECT_EQ(page->FenFaUserDis.str(), c.user_names);
    EXPECT_EQ(page->FenFaBuMenDis.str(), c.department_names);
    EXPECT_TRUE(contains("</form>"));
    EXPECT_TRUE(request.body().ends_with("</SCRIPT>\r\n "));
  }
}

class PageFailures : public NodePageTest {};

TEST_F(PageFailures, oaid_that_is_not_a_whole_number_runs_no_statement) {
  post({{"save", "true"}, {"OAID", "7 or 1=1"}, {"JieDianName", "x"}});
  run();
  EXPECT_EQ(stored("JieDianName"), "起草<1> & \"审核\"");
  ASSERT_EQ(request.events.entries().size(), 1u);
  EXPECT_EQ(request.event_texts()[0],
            " 13Type mismatch: a whole number is required LINE #0 Routine : tvwortqflowjiedia.I_init");
  // Block A was written before; nothing after the trailer.
  EXPECT_TRUE(request.body().ends_with(
      " Error Type mismatch: a whole number is required LINE0 Routine : tvwortqflowjiedia.I_init"));
  EXPECT_FALSE(contains("<html>"));
}

TEST_F(PageFailures, missing_security_table_gives_one_event_and_one_trailer_and_the_page_goes_on) {
  db.exec("drop table OA_AnQuan");
  request.request.add_query("OAID", "7");
  run();
  ASSERT_EQ(request.events.entries().size(), 1u);
  EXPECT_EQ(request.event_texts()[0],
            " -2147217865no such table: OA_AnQuan LINE #0 Routine : tvwortqflowjiedia.tvdb_connI_init");
  EXPECT_TRUE(request.body().starts_with(
      " Error no such table: OA_AnQuan LINE0 Routine : tvwortqflowjiedia.tvdb_connI_init<meta"));
  EXPECT_TRUE(request.body().ends_with("</SCRIPT>\r\n "));
}

TEST_F(PageFailures, a_failing_code_table_lookup_reports_nothing) {
  db.exec("drop table OA_Flow_BiaoDan");
  request.request.add_query("OAID", "7");
  run();
  EXPECT_TRUE(request.events.entries().empty());
  EXPECT_EQ(page->ZhengWenType.str(), "");
  EXPECT_TRUE(request.body().ends_with("</SCRIPT>\r\n "));
}

}  // namespace
}  // namespace oapx1::testing
