// The node history through the real server on both engines: it reads as the
// editor speaks (labels, lists compared as lists, a link to the node, who is
// signed in), and each line that changed the node leads back to the settings
// after it, through the editor's checks.
#include <functional>
#include <regex>
#include <string>

#include "editing/history_page.h"
#include "editing/node_history.h"
#include "node_editing_fixture.h"

namespace oapx1::testing {
namespace {

constexpr char kHistory[] = "/oa/flow/model/jiedianhistory.asp?OAID=4";

class NodeHistory : public NodeEditing {
 protected:
  // The history page (its query after OAID=4), body in UTF-8.
  std::string history(const std::string& cookie, const std::string& more = "") {
    const ClientReply r = http_get(port_, kHistory + more, cookie);
    EXPECT_EQ(r.status, 200);
    return gb18030_to_utf8(r.body);
  }
  // The key of the newest line of node 4's history with `outcome`.
  std::string line_of(const std::string& outcome) {
    return scalar("select max(OAID) from OAPX1_NodeHistory where NodeID=4 and Outcome='" + outcome + "'");
  }
};

TEST_P(NodeHistory, lines_show_the_editors_labels_lists_as_lists_and_the_way_to_the_node) {
  const std::string cookie = sign_in("zhangsan");
  view(cookie);
  save(cookie, {{"JieDianName", "归档"}, {"FenFaUser", ";zhouba;"}, {"isgoutong", "on"}});
  // The same list written another way is kept in the line byte for byte (undoing lines must
  // give back the row a tab was shown), and not shown: see the cases below.
  save(cookie, {{"JieDianName", "归档二"}, {"FenFaUser", "zhouba"}, {"isgoutong", "on"}});
  EXPECT_NE(scalar("select Changes from OAPX1_NodeHistory where OAID=" + line_of("saved")).find("FenFaUser"),
            std::string::npos);
  EXPECT_EQ(scalar("select ModelID from OAPX1_NodeHistory where OAID=" + line_of("saved")), "1");
  // Lines of older releases and of other programs.
  exec("insert into OAPX1_NodeHistory (NodeID, UserName, Outcome, Changes) values (4, 'admin', 'saved', "
       "'[[\"FenFaUser\",\";zhangsan;lisi;\",\"zhangsan;lisi\"],[\"isTaoHong\",\"1\",\"0\"],"
       "[\"isFirst\",\"0\",\"1\"]]'), (4, 'admin', 'node moved', '[]'), (4, 'admin', 'frobnicated', '[]')");
  const std::string page = history(cookie);
  struct Case {
    const char* rule;
    const char* text;
    bool shown;
  } cases[] = {
      {"a check box under the form's label", "允许沟通：未勾选 → 勾选", true},
      {"a check box unticked both times (null, then \"0\")", "允许转办：未勾选 → 未勾选", false},
      {"no raw column name", "isgoutong", false},
      {"a column the form does not show, reset by every save", "允许套红（表单不显示，每次保存时重置）：勾选 → 未勾选", true},
      {"a column the form does not show, kept by saves", "节点类型（表单不显示）：中间节点 → 开始节点", true},
      {"a save's list written another way", "周八（zhouba） → 周八（zhouba）", false},
      {"an old line's list written another way", "张三（zhangsan）、李四（lisi） → 张三（zhangsan）、李四（lisi）", false},
      {"a list that changed", "默认分发用户： → 周八（zhouba）", true},
      {"a model page's outcome in words", "移动节点", true},
      {"an unknown outcome as it is", "frobnicated", true},
      {"the link that opens the node", "href=\"jiedian.asp?OAID=4\"", true},
      {"the node in its model page", "href=\"model.asp?OAID=1&amp;JieDianID=4\"", true},
      {"the way back from a saved line", "恢复到此状态", true},
      {"who is signed in", "当前用户：<span id=\"signed-in-user\">张三（zhangsan）</span>", true},
      {"the way out", "<form method=\"post\" action=\"/oa/logout.asp\"", true},
  };
  for (const Case& c : cases) EXPECT_EQ(page.find(c.text) != std::string::npos, c.shown) << c.rule << "\n" << page;
  // A message for the page comes only from the host.
  EXPECT_EQ(history(cookie, std::string("&") + kRestoreMessageItem + "=forged").find("forged"), std::string::npos);
}

// The settings after line A, restored over a later line B, each attempt in
// turn: shown first, refused without the permission, with a list naming a
// removed account, over a change made since it was shown, and then made.
// The refused attempts' lines lie between A and now, and change nothing.
TEST_P(NodeHistory, a_restore_shows_its_difference_then_saves_through_the_editors_checks) {
  const std::string admin = sign_in("admin"), lisi = sign_in("lisi");
  view(admin);
  save(admin, {{"JieDianName", "归档一"}, {"FenFaUser", ";zhouba;"}});
  const std::string a = line_of("saved");
  save(admin, {{"JieDianName", "归档二"}, {"FenFaUser", ";wangwu;"}, {"isBoHui", "on"}});
  const std::string restore = "&restore=" + a;
  auto shown_version = [&] {
    const std::string preview = history(admin, restore);
    std::smatch m;
    EXPECT_TRUE(std::regex_search(preview, m, std::regex("name=\"OAPX1ShownVersion\" value=\"([0-9a-f]+)\"")));
    return m.size() > 1 ? m[1].str() : std::string();
  };
  struct Case {
    const char* attempt;
    const std::string* cookie;
    std::function<void()> before;  // what happens between the preview and the post
    int status;
    const char* outcome;   // of the newest line
    const char* name;      // stored afterwards
    const char* message;   // on the page that answers
  } cases[] = {
      {"without the permission", &lisi, [] {}, 403, "forbidden", "归档二",
       "当前用户：<span id=\"signed-in-user\">李四（lisi）"},
      {"a list naming a removed account", &admin,
       [&] { exec("update KX_UserInfor set UserName='zb' where UserName='zhouba'"); }, 200, "bad list", "归档二",
       "zhouba"},
      {"over a change made since it was shown", &admin,
       [&] {
         exec("update KX_UserInfor set UserName='zhouba' where UserName='zb'");
         view(admin);
         save(admin, {{"JieDianName", "归档三"}, {"FenFaUser", ";wangwu;"}, {"isBoHui", "on"}});
       },
       200, "conflict", "归档三", "您的设置未保存"},
      {"made", &admin, [] {}, 200, "restored", "归档一", "节点已恢复到修改记录 #"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attempt);
    const std::string version = shown_version();
    const std::string preview = history(admin, restore);
    EXPECT_NE(preview.find("<td>节点名称</td><td>" + stored("JieDianName") + "</td><td>归档一</td>"), std::string::npos)
        << preview;
    c.before();
    const ClientReply r = http_post(port_, kHistory + restore, "OAPX1ShownVersion=" + version, *c.cookie);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(gb18030_to_utf8(r.body).find(c.message), std::string::npos) << gb18030_to_utf8(r.body);
    EXPECT_EQ(scalar("select Outcome from OAPX1_NodeHistory where OAID=(select max(OAID) from OAPX1_NodeHistory)"),
              c.outcome);
    EXPECT_EQ(stored("JieDianName"), c.name);
  }
  // Made: every setting as it was after A, recorded as a restore of the node's model.
  EXPECT_EQ(stored("FenFaUser"), ";zhouba;");
  EXPECT_EQ(stored("isBoHui"), "0");
  EXPECT_EQ(scalar("select ModelID from OAPX1_NodeHistory where Outcome='restored'"), "1");
  EXPECT_NE(history(admin).find("已恢复"), std::string::npos);
  // The preview itself changes nothing.
  const std::string before = scalar("select count(*) from OAPX1_NodeHistory");
  history(admin, restore);
  EXPECT_EQ(scalar("select count(*) from OAPX1_NodeHistory"), before);
}

INSTANTIATE_TEST_SUITE_P(Engines, NodeHistory, ::testing::Values("sqlite", "postgres"));

}  // namespace
}  // namespace oapx1::testing
