// The user and department pickers and the workflow model pages: what they
// offer, how they encode it, and that they show nothing without a user.
#include <functional>
#include <string>

#include "pages/flowmodel/flow_model_pages.h"
#include "pages/pickers/picker_pages.h"
#include "platform/data/connection.h"
#include "platform/script/script.h"
#include "support/page_fixture.h"
#include "support/test_pg.h"

namespace oapx1::testing {
namespace {

// A small directory whose names need encoding: a department under another,
// users in display order that differs from their keys.
const char kDirectory[] =
      "insert into KX_Department (DepartMentID, ParentID, DepartName, ordernumber) values "
      "(1, 0, '总部', 2), (2, 0, 'R&D <\"研发\">', 1), (3, 2, '测试''组', 1);"
      "insert into KX_UserInfor (OAID, UserName, TureName, DepartMentID, AccountState, ordernumber) values "
      "(1, 'zhang', '张三', 2, '1', 2), (2, 'li', '李<四>', 2, NULL, 1), (3, 'off', '停用', 2, '0', 3), "
      "(4, 'o''neil', '王\"五', 3, '1', 4);";

void seed_directory(const TestDb& db) { db.exec(kDirectory); }

// Users whose names hold the characters a LIKE pattern would read as
// wildcards or its escape.
const char kWildcardUsers[] =
    "insert into KX_UserInfor (OAID, UserName, TureName, DepartMentID, AccountState, ordernumber) values "
    "(5, 'pct', '满100%送', 1, '1', 5), (6, 'a_b', '下划线', 1, '1', 6), (7, 'c\\d', '反斜', 1, '1', 7);";

// A search text is matched as typed: "%", "_" and "\" find only the names
// that hold them. `search` runs the search for the hexadecimal code units and
// gives the accounts offered, joined by ",".
void expect_searches_match_wildcards_literally(const std::function<std::string(const char*)>& search) {
  const struct {
    const char* hex;
    const char* accounts;
  } cases[] = {
      {"0025", "pct"},                  // %
      {"005f", "a_b"},                  // _
      {"005c", "c\\d"},                 // backslash
      {"0031003000300025", "pct"},      // 100%
      {"0025005f", ""},                 // %_ stands in no name
      {"005f0069", ""},                 // _i: in no name, though "li" fits the wildcard
      {"0027", "o'neil"},               // the apostrophe as before
  };
  for (const auto& c : cases) EXPECT_EQ(search(c.hex), c.accounts) << c.hex;
}

// The values of the options in a list of users, joined by ","; the note of an
// empty list has none.
std::string offered_accounts(const std::string& options) {
  std::string accounts;
  const std::string open = "<option value=\"";
  for (size_t at = options.find(open); at != std::string::npos; at = options.find(open, at + 1)) {
    const size_t start = at + open.size();
    const std::string value = options.substr(start, options.find('"', start) - start);
    accounts += (accounts.empty() ? "" : ",") + vb::Replace(value, "&#39;", "'");
  }
  return accounts;
}

class UserPicker : public PageFixture<UserPickerPage> {
 protected:
  void SetUp() override { seed_directory(db); }
};

TEST_F(UserPicker, tree_levels_list_sub_departments_in_order_encoded_with_expandable_marks) {
  const std::string& top = run();
  const size_t rd = top.find("<li role=\"treeitem\" tabindex=\"-1\" data-id=\"2\" data-name=\"R&amp;D &lt;&quot;研发&quot;&gt;\" "
                             "aria-expanded=\"false\"><span class=\"node\">R&amp;D &lt;&quot;研发&quot;&gt;</span></li>");
  const size_t hq = top.find("<li role=\"treeitem\" tabindex=\"-1\" data-id=\"1\" data-name=\"总部\"><span class=\"node\">总部</span></li>");
  ASSERT_NE(rd, std::string::npos) << top;
  ASSERT_NE(hq, std::string::npos);
  EXPECT_LT(rd, hq);  // by ordernumber
  EXPECT_EQ(top.find("测试"), std::string::npos);  // deeper levels wait until opened

  request.request.add_query("part", "depts");
  request.request.add_query("parent", "2");
  request.response.body().clear();
  EXPECT_EQ(run(), "<li role=\"treeitem\" tabindex=\"-1\" data-id=\"3\" data-name=\"测试&#39;组\">"
                   "<span class=\"node\">测试&#39;组</span></li>\r\n");
}

TEST_F(UserPicker, users_of_a_department_or_a_search_come_in_display_order_without_disabled_accounts) {
  struct Case {
    const char* item;
    const char* value;
    std::string expected;
  } cases[] = {
      {"dept", "2",
       "<option value=\"li\" data-name=\"李&lt;四&gt;\">李&lt;四&gt;（li，R&amp;D &lt;&quot;研发&quot;&gt;）</option>\r\n"
       "<option value=\"zhang\" data-name=\"张三\">张三（zhang，R&amp;D &lt;&quot;研发&quot;&gt;）</option>\r\n"},
      // "五" and "'": a full name and an account with an apostrophe.
      {"qx", "4e94", "<option value=\"o&#39;neil\" data-name=\"王&quot;五\">王&quot;五（o&#39;neil，测试&#39;组）</option>\r\n"},
      {"qx", "0027", "<option value=\"o&#39;neil\" data-name=\"王&quot;五\">王&quot;五（o&#39;neil，测试&#39;组）</option>\r\n"},
      {"qx", "505c", "<option disabled value=\"\">没有找到用户</option>\r\n"},  // 停: switched off
      {"qx", "zz", ""},  // not a search text: nothing is looked up
  };
  for (const Case& c : cases) {
    request.request = MemoryRequest();
    request.request.add_query("part", "users");
    request.request.add_query(c.item, c.value);
    request.response.body().clear();
    EXPECT_EQ(run(), c.expected) << c.item << "=" << c.value;
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(UserPicker, search_matches_wildcard_characters_literally) {
  db.exec(kWildcardUsers);
  expect_searches_match_wildcards_literally([&](const char* hex) {
    request.request = MemoryRequest();
    request.request.add_query("part", "users");
    request.request.add_query("qx", hex);
    request.response.body().clear();
    return offered_accounts(run());
  });
  EXPECT_TRUE(events().empty());
}

TEST_F(UserPicker, a_long_list_stops_at_the_limit_with_a_note) {
  std::string rows = "insert into KX_UserInfor (OAID, UserName, TureName, DepartMentID, ordernumber) values ";
  for (int n = 0; n <= kPickerListLimit; ++n) {
    rows += (n ? ", (" : "(") + std::to_string(100 + n) + ", 'u" + std::to_string(n) + "', '员工', 1, " +
            std::to_string(n) + ")";
  }
  db.exec(rows);
  request.request.add_query("part", "users");
  request.request.add_query("dept", "1");
  const std::string& out = run();
  size_t options = 0;
  for (size_t at = out.find("<option value=\"u"); at != std::string::npos; at = out.find("<option value=\"u", at + 1)) ++options;
  EXPECT_EQ(options, static_cast<size_t>(kPickerListLimit));
  EXPECT_NE(out.find("<option disabled value=\"\">…… 仅列出前 200 人"), std::string::npos);
}

TEST_F(UserPicker, field_value_preselects_users_in_the_order_given_once_each) {
  request.request.add_query("FieldValue", "-li-gone-li-zhang-");
  const std::string& out = run();
  EXPECT_NE(out.find("<select id=\"chosen\" multiple size=\"6\">\r\n"
                     "<option value=\"li\" data-name=\"李&lt;四&gt;\">李&lt;四&gt;</option>\r\n"
                     "<option value=\"gone\" data-name=\"gone\">gone</option>\r\n"
                     "<option value=\"zhang\" data-name=\"张三\">张三</option>\r\n</select>"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("<script src=\"/oa/Include/js/picker.js\"></script>"), std::string::npos);
}

// Text as the shared script sends it in `cx`: UTF-16 code units in hexadecimal.
std::string hex_units(std::string_view ascii) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : ascii) out += std::string("00") + digits[c >> 4] + digits[c & 15];
  return out;
}

// The <option> values of the chosen list, joined by ",".
std::string chosen_values(const std::string& page) {
  const size_t open = page.find("<select id=\"chosen\"");
  const size_t close = page.find("</select>", open);
  return offered_accounts(page.substr(open, close - open));
}

TEST_F(UserPicker, cx_preselects_the_field_as_it_stands_over_field_value) {
  db.exec("insert into KX_UserInfor (OAID, UserName, TureName, DepartMentID, ordernumber) values "
          "(9, 'li-ming', '李明', 1, 9)");
  const struct {
    std::string cx;
    const char* chosen;
  } cases[] = {
      {hex_units(";li-ming;zhang;"), "li-ming,zhang"},  // "-" inside an account
      {hex_units("zhang;li;zhang"), "zhang,li"},         // the field's order, once each
      {"", ""},                                          // an empty field chooses nothing
      {"zz", "li,zhang"},                                // not hexadecimal: FieldValue stands
  };
  for (const auto& c : cases) {
    request.request = MemoryRequest();
    request.request.add_query("FieldValue", "-li-zhang-");
    request.request.add_query("cx", c.cx);
    request.response.body().clear();
    EXPECT_EQ(chosen_values(run()), c.chosen) << c.cx;
  }
  request.request = MemoryRequest();
  request.request.add_query("cx", hex_units("li-ming"));
  request.response.body().clear();
  EXPECT_NE(run().find("<option value=\"li-ming\" data-name=\"李明\">李明</option>"), std::string::npos)
      << output();
}

TEST_F(UserPicker, without_a_user_only_the_login_script_is_written) {
  request.session.set_item("UserName", "");
  for (const char* part : {"", "depts", "users"}) {
    request.request = MemoryRequest();
    request.request.add_query("part", part);
    request.request.add_query("dept", "2");
    request.response.body().clear();
    EXPECT_EQ(run(), " <script language=javascript>\r\n\t\ttop.location.href = \"/oa/login.asp\";\r\n\t</script>\r\n\t")
        << part;
  }
}

TEST(PickerSearch, hexadecimal_code_units_decode_to_utf8) {
  const struct {
    const char* hex;
    std::optional<std::string> text;
  } cases[] = {
      {"", ""},
      {"0061005A", "aZ"},
      {"5f204e09", "张三"},
      {"d83dde00", "\xF0\x9F\x98\x80"},  // a surrogate pair
      {"d83d0061", "\xEF\xBF\xBD" "a"},  // a lone surrogate
      {"006", std::nullopt},
      {"00g1", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(decode_picker_search(c.hex), c.text) << c.hex;
}

class DepartmentPicker : public PageFixture<DepartmentPickerPage> {
 protected:
  void SetUp() override { seed_directory(db); }
};

TEST_F(DepartmentPicker, answers_ids_and_names_separated_by_semicolons) {
  const std::string& out = run();
  EXPECT_NE(out.find("data-kind=\"departments\" data-value-separator=\";\" data-text-separator=\";\""),
            std::string::npos);
  EXPECT_NE(out.find("data-id=\"2\""), std::string::npos);
  EXPECT_EQ(out.find("<option"), std::string::npos);  // nothing chosen yet
}

TEST_F(DepartmentPicker, cx_preselects_departments_in_the_field_order_by_name) {
  request.request.add_query("cx", hex_units(";3;;1;x;3;99;"));
  const std::string& out = run();
  EXPECT_NE(out.find("<select id=\"chosen\" multiple size=\"6\">\r\n"
                     "<option value=\"3\" data-name=\"测试&#39;组\">测试&#39;组</option>\r\n"
                     "<option value=\"1\" data-name=\"总部\">总部</option>\r\n"
                     "<option value=\"99\" data-name=\"99\">99</option>\r\n</select>"),
            std::string::npos)
      << out;
  EXPECT_TRUE(events().empty());
}

class FlowModel : public PageFixture<FlowModelPage> {
 protected:
  void SetUp() override {
    db.exec(
        "insert into OA_Flow_BiaoDan (OAID, BiaoDanName) values (5, '稿纸');"
        "insert into OA_Flow_Model_Header (OAID, BiaoDanID, ModelName) values (2, 5, '收<文>');"
        "insert into OA_Flow_Model_JieDian (OAID, MOAID, JieDianName, BanLiType, isFirst) values "
        "(9, 2, '归档', '3', '3'), (7, 2, '拟<稿>', '1', '1'), (8, 2, NULL, NULL, NULL), (6, 1, '别的', '1', '1');");
  }
};

TEST_F(FlowModel, frames_the_node_list_as_fmain_and_opens_the_first_node) {
  request.request.add_query("OAID", "2");
  const std::string& out = run();
  EXPECT_NE(out.find("<h1>收&lt;文&gt;</h1>表单：稿纸"), std::string::npos) << out;
  EXPECT_NE(out.find("<iframe name=\"FMain\" id=\"FMain\" title=\"流程节点\" src=\"jiedianlist.asp?MOAID=2\">"),
            std::string::npos);
  EXPECT_NE(out.find("<iframe name=\"FJieDian\" id=\"FJieDian\" title=\"流程节点信息\" src=\"jiedian.asp?OAID=7\">"),
            std::string::npos);
}

TEST_F(FlowModel, a_node_given_opens_when_it_belongs_to_the_model) {
  const struct {
    const char* model;
    const char* item;
    const char* node;
    const char* opened;
  } cases[] = {
      {"2", "JieDianID", "9", "jiedian.asp?OAID=9"},
      {"2", "node", "8", "jiedian.asp?OAID=8"},
      {"2", "JieDianID", "6", "jiedian.asp?OAID=7"},    // a node of another model: the first
      {"2", "JieDianID", "9 or 1=1", "jiedian.asp?OAID=7"},  // not a node number: the first
      {"", "JieDianID", "9", "jiedian.asp?OAID=9"},     // the node names its model
  };
  for (const auto& c : cases) {
    request.request = MemoryRequest();
    if (*c.model) request.request.add_query("OAID", c.model);
    request.request.add_query(c.item, c.node);
    request.response.body().clear();
    const std::string& out = run();
    EXPECT_NE(out.find("title=\"流程节点信息\" src=\"" + std::string(c.opened) + "\">"), std::string::npos)
        << c.model << " " << c.item << "=" << c.node << "\n" << out;
    EXPECT_NE(out.find("<h1>收&lt;文&gt;</h1>"), std::string::npos);
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(FlowModel, a_model_that_does_not_exist_is_named_in_the_message_cell) {
  for (const auto& [item, value] : {std::pair{"OAID", "999"}, std::pair{"JieDianID", "999"}}) {
    request.request = MemoryRequest();
    request.request.add_query(item, value);
    request.response.body().clear();
    const std::string& out = run();
    EXPECT_EQ(out.find("<iframe"), std::string::npos) << out;
    EXPECT_NE(out.find(std::string("<div id=\"msgDis\" role=\"alert\"><font color=666666>系统提示：流程模型") +
                       (std::string(item) == "OAID" ? "（999）" : "") + "不存在！</font></div>"),
              std::string::npos)
        << out;
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(FlowModel, node_list_shows_the_model_nodes_in_order_each_opening_the_node_frame) {
  FlowNodeListPage list;
  request.request.add_query("MOAID", "2");
  list.I_init();
  const std::string& out = output();
  const size_t first = out.find("<tr data-node=\"7\"><td>1</td><td><a href=\"jiedian.asp?OAID=7\" target=\"FJieDian\">拟&lt;稿&gt;</a>"
                                "</td><td>办理式</td><td>开始节点</td><td><a href=\"jiedianhistory.asp?OAID=7\" target=\"FJieDian\">记录</a></td><td class=\"act\">");
  const size_t second = out.find("<tr data-node=\"8\"><td>2</td><td><a href=\"jiedian.asp?OAID=8\" target=\"FJieDian\">（未命名）</a>"
                                 "</td><td></td><td>中间节点</td><td><a href=\"jiedianhistory.asp?OAID=8\" target=\"FJieDian\">记录</a></td><td class=\"act\">");
  const size_t third = out.find("<tr data-node=\"9\"><td>3</td><td><a href=\"jiedian.asp?OAID=9\" target=\"FJieDian\">归档</a>"
                                "</td><td>分发式</td><td>可结束流程节点</td><td><a href=\"jiedianhistory.asp?OAID=9\" target=\"FJieDian\">记录</a></td><td class=\"act\">");
  EXPECT_NE(first, std::string::npos) << out;
  EXPECT_NE(second, std::string::npos) << out;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  EXPECT_NE(third, std::string::npos);
  EXPECT_EQ(out.find("别的"), std::string::npos);
  // The shared script that guards unsaved edits of the node frame.
  EXPECT_NE(out.find("<script src=\"/oa/Include/js/orderby.js\"></script>"), std::string::npos);
}

TEST_F(FlowModel, a_model_id_that_is_not_a_number_is_reported_before_any_statement) {
  request.request.add_query("OAID", "1 or 1=1");
  const std::string& out = run();
  EXPECT_EQ(out.find("<iframe"), std::string::npos);
  ASSERT_EQ(events().size(), 1u);
  EXPECT_NE(out.find("Routine : tvwortqflowjiedia.I_init"), std::string::npos);
}

class PickerOnPostgres : public PageFixture<UserPickerPage> {
 protected:
  static void SetUpTestSuite() { pg_ = std::make_unique<PgTestSchema>("oapx1_pickers"); }
  static void TearDownTestSuite() { pg_.reset(); }
  void SetUp() override {
    if (pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
    Connection conn;
    conn.Open(pg_->url());
    conn.execute_script("truncate kx_userinfor, KX_Department;");
    conn.execute_script(kDirectory);
    request.application_state.set_item("KXTDBConnectString", pg_->url());
  }
  static inline std::unique_ptr<PgTestSchema> pg_;  // this program's schema
};

TEST_F(PickerOnPostgres, tree_level_users_and_search_read_the_same_as_on_sqlite) {
  const struct {
    const char* name;
    const char* value;
    const char* expected;
  } cases[] = {
      {"parent", "0", "<li role=\"treeitem\" tabindex=\"-1\" data-id=\"2\" data-name=\"R&amp;D &lt;&quot;研发&quot;&gt;\" aria-expanded=\"false\">"},
      {"dept", "2", "<option value=\"li\" data-name=\"李&lt;四&gt;\">李&lt;四&gt;（li，R&amp;D &lt;&quot;研发&quot;&gt;）</option>\r\n"
                    "<option value=\"zhang\""},
      {"qx", "0027", "<option value=\"o&#39;neil\""},
  };
  for (const auto& c : cases) {
    request.request = MemoryRequest();
    request.request.add_query("part", std::string(c.name) == "parent" ? "depts" : "users");
    request.request.add_query(c.name, c.value);
    request.response.body().clear();
    EXPECT_EQ(run().rfind(c.expected, 0), 0u) << c.name << ": " << output();
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(PickerOnPostgres, search_matches_wildcard_characters_literally) {
  Connection conn;
  conn.Open(pg_->url());
  conn.execute_script(kWildcardUsers);
  expect_searches_match_wildcards_literally([&](const char* hex) {
    request.request = MemoryRequest();
    request.request.add_query("part", "users");
    request.request.add_query("qx", hex);
    request.response.body().clear();
    return offered_accounts(run());
  });
  EXPECT_TRUE(events().empty());
}

}  // namespace
}  // namespace oapx1::testing
