// The rules the host applies around the node editor, through the real server
// on both engines: posted lists are checked, a save over a node changed since
// it was shown is refused, every save is recorded, only holders of the
// editing permission may use the workflow pages, an expired session returns to
// its node, and posts are read in the character set they declare. PostgreSQL
// runs when OAPX1_TEST_PG names a server.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <ctime>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "editing/history_page.h"
#include "editing/node_history.h"
#include "platform/data/connection.h"
#include "platform/data/db_pool.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/codepage.h"
#include "node_editing_fixture.h"

namespace oapx1::testing {
namespace {

TEST_P(NodeEditing, lists_naming_unknown_entries_refuse_the_save_and_name_them) {
  const std::string cookie = sign_in("admin");
  struct Case {
    Pairs items;
    const char* named;  // what the message must name
  } cases[] = {
      {{{"JieDianName", "x"}, {"FenFaBuMen", ";abc;"}}, "abc"},
      {{{"JieDianName", "x"}, {"FenFaBuMen", ";2;99;"}}, "99"},
      {{{"JieDianName", "x"}, {"FenFaBuMen", "1,2"}}, "1,2"},
      {{{"JieDianName", "x"}, {"FenFaUser", ";lisi;nobody;"}}, "nobody"},
      {{{"JieDianName", "x"}, {"BanLiRenType", "1"}, {"CurrentJieDianYongHu", ";ghost-1;wangwu;"}}, "ghost-1"},
  };
  int refused = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    view(cookie);
    const ClientReply r = save(cookie, c.items);
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("设置未保存"), std::string::npos);
    EXPECT_NE(r.body.find(c.named), std::string::npos);
    EXPECT_EQ(r.body.find("保存成功"), std::string::npos);
    EXPECT_NE(r.body.find("</form>"), std::string::npos);  // the page shows the node as stored
    EXPECT_EQ(stored("JieDianName"), "归档");
    EXPECT_EQ(stored("FenFaBuMen"), "");
    EXPECT_EQ(scalar("select count(*) from OAPX1_NodeHistory where NodeID=4 and Outcome='bad list'"),
              std::to_string(++refused));
  }
  // Lists of existing accounts and departments are saved.
  view(cookie);
  const ClientReply ok = save(cookie, {{"JieDianName", "x"}, {"FenFaUser", ";zhouba;lisi;"}, {"FenFaBuMen", ";3;2;"}});
  EXPECT_NE(ok.body.find("保存成功"), std::string::npos);
  EXPECT_EQ(stored("FenFaUser"), ";zhouba;lisi;");
  EXPECT_EQ(stored("FenFaBuMen"), ";3;2;");
}

TEST_P(NodeEditing, a_save_over_a_node_changed_since_it_was_shown_is_refused) {
  const std::string a = sign_in("admin"), b = sign_in("zhangsan");
  view(a);
  view(b);
  // B saves first: nothing newer than what B was shown, so it lands.
  EXPECT_NE(save(b, {{"JieDianName", "乙的归档"}}).body.find("保存成功"), std::string::npos);
  // A, shown the node before B's save, is refused and shown B's values.
  const ClientReply r = save(a, {{"JieDianName", "甲的归档"}, {"isBoHui", "on"}});
  EXPECT_EQ(stored("JieDianName"), "乙的归档");
  EXPECT_NE(r.body.find("张三（zhangsan）修改"), std::string::npos);
  // It names what changed since A opened the node as the form shows it (B's
  // post left 邮件提醒 out: a null shown ticked is now "0"), and says it was
  // a conflict.
  EXPECT_NE(r.body.find("您打开之后的改动：节点名称：归档 → 乙的归档；邮件提醒：勾选 → 未勾选。"), std::string::npos)
      << r.body.substr(r.body.find("系统提示"), 400);
  EXPECT_NE(r.header("Server-Timing").find("save;desc=\"conflict\""), std::string::npos) << r.header("Server-Timing");
  EXPECT_NE(r.body.find("value=\"乙的归档\""), std::string::npos);
  EXPECT_EQ(r.body.find("保存成功"), std::string::npos);
  // What A posted is kept in the history of the refusal.
  EXPECT_EQ(scalar("select UserName from OAPX1_NodeHistory where Outcome='conflict'"), "admin");
  const std::string changes = scalar("select Changes from OAPX1_NodeHistory where Outcome='conflict'");
  EXPECT_NE(changes.find("[\"JieDianName\",\"乙的归档\",\"甲的归档\"]"), std::string::npos) << changes;
  EXPECT_NE(changes.find("[\"isBoHui\",\"0\",\"1\"]"), std::string::npos) << changes;
  // Having now been shown the current node, A's next save lands.
  EXPECT_NE(save(a, {{"JieDianName", "甲的归档"}}).body.find("保存成功"), std::string::npos);
  EXPECT_EQ(stored("JieDianName"), "甲的归档");
}

// Two tabs of one session: each posts back the version its page came with
// (the page's Server-Timing header), so the tab opened earlier is refused
// even though the session was since shown the newer node.
TEST_P(NodeEditing, a_tab_that_posts_the_version_it_was_shown_answers_for_that_tab) {
  const std::string cookie = sign_in("admin");
  auto shown_version = [&] {
    const std::string timing = http_get(port_, node_url("OAID=4"), cookie).header("Server-Timing");
    const size_t at = timing.find("desc=\"");
    EXPECT_EQ(timing.rfind("node;", 0), 0u) << timing;
    return at == std::string::npos ? std::string() : timing.substr(at + 6, timing.size() - at - 7);
  };
  const std::string first = shown_version(), second = shown_version();
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first, second);
  EXPECT_NE(save(cookie, {{"JieDianName", "甲的归档"}, {"OAPX1ShownVersion", second}}).body.find("保存成功"),
            std::string::npos);
  const ClientReply stale = save(cookie, {{"JieDianName", "乙的归档"}, {"OAPX1ShownVersion", first}});
  EXPECT_EQ(stale.body.find("保存成功"), std::string::npos);
  EXPECT_EQ(stored("JieDianName"), "甲的归档");
  EXPECT_NE(shown_version(), first);
}

TEST_P(NodeEditing, a_host_page_that_fails_says_so_in_the_applications_style_and_the_node_page_keeps_its_own) {
  const std::string cookie = sign_in("admin");
  struct Case {
    std::string target;
    bool host_page;  // answered by the host's failure page
  } cases[] = {
      {"/oa/flow/model/model.asp?OAID=abc", true},
      {"/oa/flow/model/jiedianlist.asp?MOAID=abc", true},
      {"/oa/flow/model/jiedian.asp?OAID=abc", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const ClientReply r = http_get(port_, c.target, cookie);
    const std::string body = gb18030_to_utf8(r.body);
    EXPECT_EQ(body.find("系统提示：页面出错") != std::string::npos, c.host_page) << body;
    if (!c.host_page) continue;
    EXPECT_EQ(r.status, 500);
    EXPECT_NE(body.find("Include/imagesV10/CSSForV10.css"), std::string::npos);
    EXPECT_EQ(body.find("Routine"), std::string::npos) << body;  // no trailer, no partial page
    EXPECT_EQ(r.header("Cache-Control"), "no-store");
  }
  EXPECT_FALSE(log_.entries().empty());  // the failures are in the event log
}

TEST_P(NodeEditing, a_database_without_the_history_table_still_refuses_a_stale_save) {
  exec("drop table OAPX1_NodeHistory");
  const std::string a = sign_in("admin"), b = sign_in("zhangsan");
  view(a);
  view(b);
  EXPECT_NE(save(b, {{"JieDianName", "乙"}}).body.find("保存成功"), std::string::npos);
  const ClientReply r = save(a, {{"JieDianName", "甲"}});
  EXPECT_NE(r.body.find("设置未保存"), std::string::npos);
  EXPECT_EQ(stored("JieDianName"), "乙");
  EXPECT_FALSE(log_.entries().empty());  // the history that could not be written is reported
}

TEST_P(NodeEditing, every_save_is_recorded_with_who_when_where_and_each_changed_column) {
  const std::string cookie = sign_in("zhangsan");
  view(cookie);
  save(cookie, {{"JieDianName", "归档二"}, {"FenFaUser", ";zhouba;"}, {"FenFaBuMen", ";3;"}, {"isBoHui", "on"}});
  EXPECT_EQ(scalar("select count(*) from OAPX1_NodeHistory"), "1");
  EXPECT_EQ(scalar("select Outcome from OAPX1_NodeHistory"), "saved");
  EXPECT_EQ(scalar("select UserName from OAPX1_NodeHistory"), "zhangsan");
  EXPECT_EQ(scalar("select TureName from OAPX1_NodeHistory"), "张三");
  EXPECT_EQ(scalar("select IPAddress from OAPX1_NodeHistory"), "127.0.0.1");
  EXPECT_NE(scalar("select ChangedAt from OAPX1_NodeHistory"), "");
  const std::string changes = scalar("select Changes from OAPX1_NodeHistory");
  for (const char* change : {"[\"JieDianName\",\"归档\",\"归档二\"]", "[\"FenFaUser\",\"\",\";zhouba;\"]",
                             "[\"FenFaBuMen\",\"\",\";3;\"]", "[\"isBoHui\",\"\",\"1\"]"}) {
    EXPECT_NE(changes.find(change), std::string::npos) << change << " in " << changes;
  }
  EXPECT_EQ(changes.find("\"MOAID\""), std::string::npos);  // unchanged columns are not listed
  // The audit log has its line.
  EXPECT_NE(scalar("select Remark from OA_Log where UserName='zhangsan' order by OAID desc").find("流程节点 4 "),
            std::string::npos);

  // A second save; the history page shows both, newest first, with display names.
  save(cookie, {{"JieDianName", "归档三"}});
  const ClientReply page = http_get(port_, "/oa/flow/model/jiedianhistory.asp?OAID=4", cookie);
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.header("Content-Type").find("gb2312"), std::string::npos);
  const std::string body = gb18030_to_utf8(page.body);
  const size_t newest = body.find("归档二 → 归档三"), oldest = body.find("归档 → 归档二");
  ASSERT_NE(newest, std::string::npos) << body;
  ASSERT_NE(oldest, std::string::npos) << body;
  EXPECT_LT(newest, oldest);
  EXPECT_NE(body.find("周八（zhouba）"), std::string::npos);
  EXPECT_NE(body.find("技术部"), std::string::npos);
  EXPECT_NE(body.find("张三（zhangsan）"), std::string::npos);
  // The node list links to it.
  const std::string list = gb18030_to_utf8(http_get(port_, "/oa/flow/model/jiedianlist.asp?MOAID=1", cookie).body);
  EXPECT_NE(list.find("jiedianhistory.asp?OAID=4"), std::string::npos);
}

TEST_P(NodeEditing, the_workflow_pages_need_the_editing_permission) {
  const std::string lisi = sign_in("lisi");
  const char* pages[] = {"/oa/flow/model/model.asp?OAID=1", "/oa/flow/model/jiedianlist.asp?MOAID=1",
                         "/oa/flow/model/jiedian.asp?OAID=4", "/oa/flow/model/jiedianhistory.asp?OAID=4",
                         "/oa/PowerSelect.asp", "/oa/include/user/MulSeleDepart.asp", "/oa/flow/model/models.asp",
                         "/oa/flow/model/forms.asp", "/oa/flow/model/diagram.asp?MOAID=1"};
  for (const char* target : pages) {
    SCOPED_TRACE(target);
    const ClientReply r = http_get(port_, target, lisi);
    EXPECT_EQ(r.status, 403);
    EXPECT_NE(gb18030_to_utf8(r.body).find("没有流程设置权限"), std::string::npos);
    EXPECT_NE(r.header("Content-Type").find("gb2312"), std::string::npos);
  }
  const ClientReply posted = save(lisi, {{"JieDianName", "李四改的"}});
  EXPECT_EQ(posted.status, 403);
  EXPECT_EQ(stored("JieDianName"), "归档");
  EXPECT_EQ(posted.body.find("归档"), std::string::npos);  // nothing of the node is shown
  EXPECT_EQ(scalar("select Outcome from OAPX1_NodeHistory where UserName='lisi'"), "forbidden");
  // A role (admin) and a direct grant (zhangsan) both admit.
  for (const char* user : {"admin", "zhangsan"}) {
    SCOPED_TRACE(user);
    const std::string cookie = sign_in(user);
    for (const char* target : pages) EXPECT_EQ(http_get(port_, target, cookie).status, 200) << target;
  }
}

// What another program commits between two views shows on the second: the
// node's values and version, a grant revoked or given, through a role or
// directly (the permission and the version are read with the page, and kept
// reads must not outlive a change).
TEST_P(NodeEditing, changes_by_another_program_show_on_the_very_next_view) {
  const std::string admin = sign_in("admin"), zhangsan = sign_in("zhangsan");
  auto version_of = [&](const ClientReply& r) { return r.header("Server-Timing"); };
  for (int round = 0; round < 2; ++round) {  // the second round reads what the first kept
    SCOPED_TRACE(round);
    exec("update OA_Flow_Model_JieDian set JieDianName='归档' where OAID=4");
    const ClientReply before = http_get(port_, node_url("OAID=4"), admin);
    exec("update OA_Flow_Model_JieDian set JieDianName='外部改名' where OAID=4");
    const ClientReply after = http_get(port_, node_url("OAID=4"), admin);
    EXPECT_NE(gb18030_to_utf8(after.body).find("value=\"外部改名\""), std::string::npos);
    EXPECT_NE(version_of(after), version_of(before));
    EXPECT_FALSE(version_of(after).empty());

    struct Step {
      const char* sql;     // what the other program commits
      const char* cookie;  // whose view follows
      int status;          // its answer
    } steps[] = {
        {"update OA_SysPower set UserList='lisi' where Code='FLOWSET'", "zhangsan", 403},
        {"update OA_SysPower set UserList='zhangsan' where Code='FLOWSET'", "zhangsan", 200},
        {"update OA_Roles set userIds=',99,' where OAID=1", "admin", 403},
        {"update OA_Roles set userIds=',1,' where OAID=1", "admin", 200},
        {"delete from OA_FunctionRole where OAID=1", "admin", 403},
        {"insert into OA_FunctionRole (OAID, FunctionID, RoleID) values (1, 1, 1)", "admin", 200},
    };
    // Each answer is read, and may be kept, before the next change.
    EXPECT_EQ(http_get(port_, node_url("OAID=4"), zhangsan).status, 200);
    for (const Step& step : steps) {
      SCOPED_TRACE(step.sql);
      exec(step.sql);
      const std::string& cookie = std::string(step.cookie) == "admin" ? admin : zhangsan;
      EXPECT_EQ(http_get(port_, node_url("OAID=4"), cookie).status, step.status);
    }
  }
}

TEST_P(NodeEditing, a_save_after_the_session_expired_leads_back_to_its_node_through_the_login) {
  const ClientReply r = save("OAPX1SESSION=0123456789abcdef0123456789abcdef", {{"JieDianName", "x"}});
  EXPECT_EQ(stored("JieDianName"), "归档");
  const std::string next = "%2Foa%2Fflow%2Fmodel%2Fmodel.asp%3FOAID%3D1%26JieDianID%3D4";
  const std::string login = "/oa/login.asp?expired=1&next=" + next;
  EXPECT_NE(r.body.find("top.location.href = \"" + login + "\""), std::string::npos) << r.body;

  const std::string form = gb18030_to_utf8(http_get(port_, login).body);
  EXPECT_NE(form.find("设置没有保存"), std::string::npos);
  EXPECT_NE(form.find("name=\"next\" value=\"/oa/flow/model/model.asp?OAID=1&amp;JieDianID=4\""), std::string::npos);

  struct Case {
    std::string next;
    std::string location;
  } cases[] = {
      {next, "/oa/flow/model/model.asp?OAID=1&JieDianID=4"},
      {"http%3A%2F%2Fevil.example%2Foa%2F", "/oa/flow/model/models.asp"},
      {"%2F%2Fevil.example%2Foa%2F", "/oa/flow/model/models.asp"},
      {"%2Foa%2F..%2F..%2Fetc", "/oa/flow/model/models.asp"},
      {"%2Foa%2F%0D%0ASet-Cookie%3A+x", "/oa/flow/model/models.asp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.next);
    const ClientReply signed_in = http_post(port_, "/oa/login.asp", "username=admin&password=demo&next=" + c.next);
    EXPECT_EQ(signed_in.status, 303);
    EXPECT_EQ(signed_in.header("Location"), c.location);
  }
  // The model page opens the named node.
  const std::string cookie = sign_in("admin");
  const std::string model =
      gb18030_to_utf8(http_get(port_, "/oa/flow/model/model.asp?OAID=1&JieDianID=4", cookie).body);
  EXPECT_NE(model.find("src=\"jiedian.asp?OAID=4\""), std::string::npos);
}

TEST_P(NodeEditing, posts_are_read_in_their_declared_character_set) {
  const std::string cookie = sign_in("admin");
  view(cookie);
  // UTF-8, as a script or another tool posts it.
  ClientReply r = http_post(port_, node_url("save=true&OAID=4"), "JieDianName=%E5%BD%92%E6%A1%A3%E4%BA%8C", cookie,
                            "application/x-www-form-urlencoded; charset=UTF-8");
  EXPECT_EQ(stored("JieDianName"), "归档二");
  // A GBK form with an emoji, which the browser sends as a reference.
  r = save(cookie, {{"JieDianName", "归档&#128512;"}});
  EXPECT_EQ(stored("JieDianName"), "归档\xF0\x9F\x98\x80");
  // Shown again as the character (the page's code page writes it as a reference).
  EXPECT_NE(r.body.find("value=\"归档&#128512;\""), std::string::npos);
  EXPECT_EQ(r.body.find("&amp;#128512;"), std::string::npos);
}

// A check that cannot be made, the node locked by another program, refuses
// the save rather than letting it through; nothing is stored.
TEST_P(NodeEditing, a_save_whose_checks_cannot_be_made_is_refused_and_nothing_stored) {
  const std::string cookie = sign_in("admin");
  view(cookie);
  Connection other;  // its transaction ends when it closes
  other.Open(Variant(database_));
  other.execute_script(std::string(GetParam()) == "postgres"
                           ? "BEGIN; SELECT OAID FROM OA_Flow_Model_JieDian WHERE OAID = 4 FOR UPDATE"
                           : "BEGIN IMMEDIATE");
  const ClientReply r = save(cookie, {{"JieDianName", "x"}, {"FenFaUser", ";nobody;"}, {"OAPX1ShownVersion", "0"}});
  other.Close();
  EXPECT_NE(r.body.find("无法检查"), std::string::npos) << r.body;
  EXPECT_EQ(r.body.find("保存成功"), std::string::npos);
  EXPECT_EQ(stored("JieDianName") + stored("FenFaUser"), "归档");
}

TEST_P(NodeEditing, posted_text_with_control_characters_is_refused_naming_the_field) {
  const std::string cookie = sign_in("admin");
  const std::pair<Pairs, const char*> cases[] = {  // what is posted, the field the refusal names
      {{{"JieDianName", std::string("a\0b", 3)}}, "节点名称（JieDianName）"},
      {{{"JieDianName", "a\nb"}}, "节点名称（JieDianName）"},
      {{{"JieDianName", "a\tb"}, {"FenFaUser", ";lisi\t;"}}, "分发用户（FenFaUser）"},
  };
  for (const auto& [items, named] : cases) {
    SCOPED_TRACE(named);
    view(cookie);
    const ClientReply r = save(cookie, items);
    EXPECT_NE(r.body.find(named), std::string::npos) << r.body;
    EXPECT_EQ(r.body.find("保存成功"), std::string::npos);
    EXPECT_EQ(stored("JieDianName") + stored("FenFaUser"), "归档");
  }
}


// A hand-made post is held to what the form can send: each value that is
// none of its select's options, not a whole number in range, a blank name or
// a check box posted with another value is refused naming the field; nothing
// is stored and the refusal is recorded. What the form can send is stored.
TEST_P(NodeEditing, posted_values_the_form_cannot_send_are_refused_naming_the_field) {
  const std::string cookie = sign_in("admin");
  const std::pair<Pairs, const char*> refused[] = {  // what is posted, what the refusal names
      {{{"BanLiType", "9"}}, "办理方式（BanLiType）只能是 1（办理式）、3（分发式），提交的是“9”"},
      {{{"ProcessType", "zz"}}, "激活方式（ProcessType）只能是 1（并行）、2（会签）"},
      {{{"TimeUnit", "abc"}}, "时间单位（TimeUnit）只能是 不限、时、天、周、月、年"},
      {{{"WaitTime", "-5"}}, "停留时间（WaitTime）须是 0 到 9999999999 的整数，提交的是“-5”"},
      {{{"WaitTime", "1.5"}}, "停留时间（WaitTime）"},
      {{{"WaitTime", "10000000000"}}, "停留时间（WaitTime）"},
      {{{"BanLiRenType", "4"}}, "办理人类型（BanLiRenType）"},
      {{{"JieDianName", "   "}}, "节点名称（JieDianName）不能只有空格"},
      {{{"JieDianName", "\t　 "}}, "节点名称（JieDianName）不能只有空格"},
      {{{"isBoHui", "1"}}, "允许驳回（isBoHui）是复选框"},
      {{{"ProcessType", "<b>"}}, "提交的是“&lt;b&gt;”"},  // echoed as text
      {{{"BanLiType", "2"}, {"WaitTime", "x"}}, "办理方式（BanLiType）只能是 1（办理式）、3（分发式），提交的是“2”；停留时间"},
  };
  int count = 0;
  for (const auto& [items, named] : refused) {
    SCOPED_TRACE(named);
    view(cookie);
    const ClientReply r = save(cookie, items);
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find(named), std::string::npos) << r.body.substr(r.body.find("msgDis"), 600);
    EXPECT_NE(r.body.find("设置未保存"), std::string::npos);
    EXPECT_EQ(r.body.find("保存成功"), std::string::npos);
    EXPECT_NE(r.header("Server-Timing").find("save;desc=\"bad value\""), std::string::npos);
    EXPECT_EQ(stored("JieDianName") + "|" + stored("BanLiType") + "|" + stored("WaitTime") + "|" + stored("isBoHui"),
              "归档|||");
    EXPECT_EQ(scalar("select count(*) from OAPX1_NodeHistory where NodeID=4 and Outcome='bad value'"),
              std::to_string(++count));
  }
  // The edges of what the form can send are stored.
  view(cookie);
  const ClientReply ok = save(cookie, {{"JieDianName", " 归档 "}, {"BanLiType", "3"}, {"ProcessType", "2"},
                                       {"TimeUnit", "不限"}, {"WaitTime", "9999999999"}, {"BanLiRenType", "3"},
                                       {"isBoHui", "on"}});
  EXPECT_NE(ok.body.find("保存成功"), std::string::npos);
  EXPECT_EQ(stored("BanLiType") + "|" + stored("ProcessType") + "|" + stored("TimeUnit") + "|" +
                stored("WaitTime") + "|" + stored("isBoHui"),
            "3|2|不限|9999999999|1");
}

// What a user may not save cannot fill the history: a post longer than its
// column is refused before anything is recorded, and a refused post within
// the lengths leaves a line of a few hundred bytes.
TEST_P(NodeEditing, refused_floods_leave_the_history_and_its_page_small) {
  const std::string lisi = sign_in("lisi");
  const std::string name(900 * 1024, 'x');
  std::string users;
  while (users.size() < 60000) users += ";lisi";
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(save(lisi, {{"JieDianName", name}}).status, 403);
    EXPECT_EQ(save(lisi, {{"FenFaUser", users}}).status, 403);
  }
  EXPECT_EQ(scalar("select count(*) from OAPX1_NodeHistory where NodeID=4"), "20");
  EXPECT_LT(std::stoi(scalar("select max(length(Changes) + length(Remark)) from OAPX1_NodeHistory")), 600);
  EXPECT_NE(scalar("select Changes from OAPX1_NodeHistory").find(std::to_string(users.size()) + " 字节"),
            std::string::npos);
  const ClientReply page = http_get(port_, "/oa/flow/model/jiedianhistory.asp?OAID=4", sign_in("admin"));
  EXPECT_LT(page.body.size(), 64u * 1024);
}

TEST_P(NodeEditing, a_value_longer_than_its_column_is_refused_naming_the_field) {
  const std::string cookie = sign_in("admin");
  const std::pair<const char*, size_t> cases[] = {{"JieDianName", 201}, {"WaitTime", 51}, {"FenFaUser", 65536}};
  for (const auto& [item, length] : cases) {
    SCOPED_TRACE(item);
    view(cookie);
    std::string value;
    for (size_t i = 0; i < length; ++i) value += "归";
    const ClientReply r = save(cookie, {{item, value}});
    EXPECT_NE(r.body.find("（" + std::string(item) + "）最多 " + std::to_string(length - 1) + " 个字符，提交了 " +
                          std::to_string(length) + " 个"), std::string::npos);
    EXPECT_NE(r.body.find("</form>"), std::string::npos);  // the node as stored
    EXPECT_EQ(stored("JieDianName"), "归档");
    EXPECT_EQ(scalar("select count(*) from OAPX1_NodeHistory"), "0");
  }
  view(cookie);
  EXPECT_NE(save(cookie, {{"JieDianName", std::string(200, 'n')}}).body.find("保存成功"), std::string::npos);
}

TEST_P(NodeEditing, the_history_page_shows_fifty_lines_a_page_with_links_between_them) {
  for (int i = 1; i <= 120; ++i) {
    exec("insert into OAPX1_NodeHistory (NodeID, UserName, Outcome) values (4, 'u" + std::to_string(i) + "', 'saved')");
  }
  const std::string cookie = sign_in("admin");
  const std::tuple<const char*, const char*, int, bool, bool> cases[] = {
      // query, the newest line shown, lines, a newer link, an older link
      {"", "（u120）", 50, false, true}, {"&page=2", "（u70）", 50, true, true},
      {"&page=3", "（u20）", 20, true, false}, {"&page=x", "（u120）", 50, false, true}};
  for (const auto& [query, first, lines, newer, older] : cases) {
    SCOPED_TRACE(query);
    const std::string body = gb18030_to_utf8(
        http_get(port_, std::string("/oa/flow/model/jiedianhistory.asp?OAID=4") + query, cookie).body);
    int shown = 0;
    for (size_t at = body.find("<tr id=\"line-"); at != std::string::npos; at = body.find("<tr id=\"line-", at + 1)) {
      ++shown;
    }
    EXPECT_EQ(shown, lines);
    EXPECT_EQ(body.find("（u"), body.find(first));
    EXPECT_EQ(body.find("较新的记录") != std::string::npos, newer);
    EXPECT_EQ(body.find("较早的记录") != std::string::npos, older);
  }
}

// A local time `days` days before now, as the databases record times.
std::string days_ago(int days) {
  const std::time_t then = std::time(nullptr) - days * 86400L;
  std::tm local{};
  localtime_r(&then, &local);
  char text[20];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

TEST_P(NodeEditing, lines_older_than_the_days_kept_are_pruned_daily_and_on_demand) {
  auto add_lines = [&](int age) {
    exec("insert into OAPX1_NodeHistory (NodeID, Outcome, ChangedAt) values (4, 'saved', '" + days_ago(age) + "')");
    exec("insert into OA_Log (Remark, LogTime) values ('x', '" + days_ago(age) + "')");
  };
  for (int age : {0, 10, 40}) add_lines(age);
  const int logs = std::stoi(scalar("select count(*) from OA_Log"));
  // days kept, lines removed from each table
  for (const auto& [days, removed] : {std::pair{0, 0}, {30, 1}, {5, 1}}) {
    const PrunedRecords pruned = prune_records(database_, days);
    EXPECT_EQ(pruned.history, removed) << days;
    EXPECT_EQ(pruned.audit, removed) << days;
  }
  EXPECT_EQ(scalar("select count(*) from OAPX1_NodeHistory"), "1");
  EXPECT_EQ(std::stoi(scalar("select count(*) from OA_Log")), logs - 2);
  // The server prunes when it starts, with the setting.
  add_lines(40);
  server_.reset();
  ServerOptions o = options();
  o.database = database_;
  o.retention_days = 30;
  start(std::move(o));
  EXPECT_TRUE(eventually([&] { return scalar("select count(*) from OAPX1_NodeHistory") == "1"; }));
}

INSTANTIATE_TEST_SUITE_P(Engines, NodeEditing, ::testing::Values("sqlite", "postgres"));

// Hosts in processes of their own over one database (a SQLite file, or a
// PostgreSQL server), forked before this process starts any thread.
class NodeSavesAcrossHosts : public NodeEditing {
 protected:
  void SetUp() override {
    if (!open_database("oapx1_hosts")) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
    // No engine connection of this process may be shared with a host.
    DbPool::instance().clear();
    for (uint16_t& port : ports_) port = fork_host();
  }
  void TearDown() override {
    for (pid_t pid : hosts_) kill(pid, SIGKILL);
    for (pid_t pid : hosts_) waitpid(pid, nullptr, 0);
    NodeEditing::TearDown();
  }

  // Forks a host serving the database until it is killed; its port (0 when
  // it could not start).
  uint16_t fork_host() {
    int ready[2];
    if (pipe(ready) != 0) return 0;
    if (const pid_t pid = fork(); pid != 0) {
      hosts_.push_back(pid);
      close(ready[1]);  // a host that dies unstarted ends the read
      uint16_t port = 0;
      const bool started = read(ready[0], &port, sizeof port) == sizeof port;
      close(ready[0]);
      return started ? port : 0;
    }
    ServerOptions o = options();
    o.database = database_;
    start(std::move(o));
    if (write(ready[1], &port_, sizeof port_) == sizeof port_) pause();
    _exit(0);
  }

  std::vector<pid_t> hosts_;
  uint16_t ports_[2] = {};
};

// Two users shown one version of a node save it at the same moment through
// two hosts: exactly one save lands, the other is refused as a conflict, and
// the history's saved lines are the node's changes, one per landed save.
TEST_P(NodeSavesAcrossHosts, exactly_one_of_two_concurrent_saves_of_one_version_lands) {
  ASSERT_TRUE(ports_[0] && ports_[1]);
  const std::string cookies[2] = {cookie_of(http_post(ports_[0], "/oa/login.asp", "username=admin&password=demo")),
                                  cookie_of(http_post(ports_[1], "/oa/login.asp", "username=admin&password=demo"))};
  constexpr int kRounds = 100;
  int landed[3] = {};  // rounds by how many saves were reported saved
  for (int round = 0; round < kRounds; ++round) {
    const std::string names[2] = {"甲" + std::to_string(round), "乙" + std::to_string(round)};
    for (int h = 0; h < 2; ++h) http_get(ports_[h], node_url("OAID=3"), cookies[h]);
    bool saved[2] = {};
    std::latch go(2);
    auto post = [&](int h) {
      go.arrive_and_wait();
      saved[h] = gb18030_to_utf8(http_post(ports_[h], node_url("save=true&OAID=3"),
                                           gbk_form({{"JieDianName", names[h]}}), cookies[h])
                                     .body)
                     .find("保存成功") != std::string::npos;
    };
    std::thread a(post, 0), b(post, 1);
    a.join();
    b.join();
    ++landed[saved[0] + saved[1]];
    EXPECT_EQ(stored("JieDianName", 3), names[saved[0] ? 0 : 1]) << round;
  }
  EXPECT_EQ(landed[1], kRounds) << "both saved in " << landed[2] << " rounds, neither in " << landed[0];
  EXPECT_EQ(scalar("select count(*) from OAPX1_NodeHistory where NodeID=3 and Outcome='saved'"),
            std::to_string(landed[1] + 2 * landed[2]));
}

INSTANTIATE_TEST_SUITE_P(Engines, NodeSavesAcrossHosts, ::testing::Values("sqlite", "postgres"));

}  // namespace
}  // namespace oapx1::testing
