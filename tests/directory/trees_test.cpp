// The option lists, outline trees and collectors over departments, request
// types and document catalogues.
#include <string>

#include "directory/tree_walk.h"
#include "lookups/rows.h"
#include "platform/script/script_error.h"
#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

class Trees : public PageFixture<> {
 protected:
  // 1 总部 > (2 技术部 > 3 开发组), (4 财务&审计部); 5 分公司; 20 and 21 are each
  // other's parent.
  Trees() {
    db.exec(
        "insert into KX_Department (DepartMentID, ParentID, DepartName) values"
        " (1, 0, '总部'), (2, 1, '技术部'), (3, 2, '开发组'), (4, 1, '财务&审计部'), (5, 0, '分公司'),"
        " (20, 21, '甲'), (21, 20, '乙');"
        "insert into KX_UserInfor (OAID, UserName, TureName, DepartMentID, IPAddress, AccountState, ordernumber)"
        " values (1, 'alice', '张三', 1, '10.0.0.1', '1', 1), (2, 'bob', '李四', 1, NULL, '1', 2),"
        " (3, 'carol', '王五', 2, '', '1', 2), (4, 'dave', '赵<六>', 4, '10.0.0.4', '1', 1),"
        " (5, 'erin', '钱七', 2, '10.0.0.9', '1', 1), (6, 'frank', '孙八', 2, '', '0', 0);"
        "insert into KX_PersonOnline (UserName) values ('carol');");
    connect();
  }
  std::string render(Variant (Page::*method)(Variant&, Variant&), Variant id) {
    request.response.body().clear();
    Variant level = 0;
    (page.get()->*method)(id, level);
    return output();
  }
};

TEST_F(Trees, department_options_in_pre_order_with_one_unit_per_level) {
  EXPECT_EQ(render(&Page::tabshowdepartmentchild, 0),
            "<OPTION value=1>|--总部</OPTION><OPTION value=2>|--|--技术部</OPTION>"
            "<OPTION value=3>|--|--|--开发组</OPTION><OPTION value=4>|--|--财务&amp;审计部</OPTION>"
            "<OPTION value=5>|--分公司</OPTION>");
  EXPECT_EQ(render(&Page::tabshowdepartmentchild, 3), "");
  // A loop of parents: each department once.
  EXPECT_EQ(render(&Page::tabshowdepartmentchild, 20), "<OPTION value=21>|--乙</OPTION>");
  db.exec("insert into KX_ReqType (ReqTypeID, ParentID, ReqTypeName) values (1, 0, '报销'), (2, 1, '差旅'), (3, 0, '请假')");
  EXPECT_EQ(render(&Page::tabshowreqtypechild, 0),
            "<OPTION value=1>|--报销</OPTION><OPTION value=2>|--|--差旅</OPTION><OPTION value=3>|--请假</OPTION>");
  EXPECT_TRUE(events().empty());
}

// The one driver of the trees: which hooks run, in which order, when a level
// fails or a row is skipped, and over a loop of parents.
TEST_F(Trees, the_walk_driver_ends_only_a_failed_level_and_visits_each_node_once) {
  using directory::Level;
  struct Case {
    int root;
    int failing;  // the node whose level fails in its opening
    int skipped;  // the node whose row the row hook skips
    const char* trace;
  };
  const Case cases[] = {
      {0, -1, -1, "open0 row1 open1 row2 open2 row3 open3 close2 close1 row4 open4 close1 close0 row5 open5 close0 "},
      {0, 2, -1, "open0 row1 open1 row2 fail2 close1 row4 open4 close1 close0 row5 open5 close0 "},
      {0, 0, -1, "fail0 "},
      {0, -1, 1, "open0 row5 open5 close0 "},
      {20, -1, -1, "open20 row21 open21 close20 "},  // 20 under 21 is not walked again
  };
  for (const Case& c : cases) {
    std::string trace;
    auto open = [&](Level& l) {
      trace += "open" + l.id.str() + " ";
      if (l.id.to_integer() == c.failing) throw ScriptError(5, "failing level");
      return open_rows(
          "select * from KX_Department where ParentID=" + l.id.str() + " order by DepartMentID", page->conn);
    };
    auto row = [&](Level&, Recordset&, const Variant& child) {
      if (child.to_integer() == c.skipped) return false;
      trace += "row" + child.str() + " ";
      return true;
    };
    auto close = [&](Level& l) { trace += "close" + l.id.str() + " "; };
    auto guard = [&](auto&& body) {
      try {
        body();
        return true;
      } catch (const ScriptError&) {
        trace.replace(trace.rfind("open"), 4, "fail");
        return false;
      }
    };
    directory::walk_tree(Level{Variant(c.root)},
                         directory::TreeHooks{.child_column = "DepartMentID", .open = open, .row = row, .close = close},
                         guard);
    EXPECT_EQ(trace, c.trace) << "root " << c.root << ", failing " << c.failing << ", skipped " << c.skipped;
  }
}

TEST_F(Trees, listuser_writes_users_before_sub_departments) {
  EXPECT_EQ(render(&Page::listuser, 1),
            "<OPTION VALUE='10.0.0.1'>|&nbsp;&nbsp;*张三</OPTION> "
            "<OPTION VALUE='NONE'>|&nbsp;&nbsp;*李四</OPTION> "
            "<OPTION value='NONE'>|&nbsp;&nbsp;技术部</OPTION>"
            "<OPTION VALUE='NONE'>|&nbsp;&nbsp;|&nbsp;&nbsp;*王五</OPTION> "
            "<OPTION VALUE='10.0.0.9'>|&nbsp;&nbsp;|&nbsp;&nbsp;*钱七</OPTION> "
            "<OPTION VALUE='NONE'>|&nbsp;&nbsp;|&nbsp;&nbsp;*孙八</OPTION> "
            "<OPTION value='NONE'>|&nbsp;&nbsp;|&nbsp;&nbsp;开发组</OPTION>"
            "<OPTION value='NONE'>|&nbsp;&nbsp;财务&amp;审计部</OPTION>"
            "<OPTION VALUE='10.0.0.4'>|&nbsp;&nbsp;|&nbsp;&nbsp;*赵&lt;六&gt;</OPTION> ");
}

TEST_F(Trees, user_tree_shows_active_users_by_order_with_on_line_users_in_blue) {
  EXPECT_EQ(render(&Page::tabshowdepartmentchildandusername, 2),
            "<nobr><img src='images/blank.gif'><img align=middle src='images/tree_Dot.gif'>&nbsp;"
            "<A class=Topic id='Toperin'   style='cursor: hand'  onclick=Javascript:OpenSmallWindows("
            "'ShortMsg.asp?TrueName=钱七&UserName=erin') title='账号：erin IP地址：10.0.0.9'>"
            "<font color=gray>钱七</a></nobr><BR>"
            "<nobr><img src='images/blank.gif'><img align=middle src='images/tree_Dot.gif'>&nbsp;"
            "<A class=Topic id='Topcarol'   style='cursor: hand'  onclick=Javascript:OpenSmallWindows("
            "'ShortMsg.asp?TrueName=王五&UserName=carol') title='账号：carol IP地址：' >"
            "<font color=blue>王五</font></a></nobr><BR>"
            "<nobr><img src='images/blank.gif'><img align=middle src='images/tree_OFolder.gif' id=Out3i "
            "style='CURSOR: hand' class=Outline>&nbsp;<A class=Outline id=Out3t>开发组</a></nobr><br>"
            "<div id=Out3s style='DISPLAY: '></div>");
  EXPECT_EQ(page->sql.str(), "select * from KX_Department where ParentID=3");
  EXPECT_TRUE(events().empty());
}

TEST_F(Trees, collectors_list_descendants_in_pre_order_once_each) {
  struct Case {
    Variant before;
    Variant id;
    const char* expected;
  } cases[] = {
      {"", 1, "text:1,2,3,4"},
      {"", 3, "number:3"},
      {"1,2,3,4", 5, "text:1,2,3,4"},   // not cleared; no start id when not ""
      {"1,2,3,4", 2, "text:1,2,3,4,3"},
      {"", 20, "text:20,21"},           // a loop of parents ends
  };
  for (Case& c : cases) {
    page->departmentchildlist = c.before;
    page->departmentchild(c.id);
    EXPECT_EQ(describe(page->departmentchildlist), c.expected) << c.id.str();
  }
  db.exec("insert into KX_ReqType (ReqTypeID, ParentID, ReqTypeName) values (1, 0, 'a'), (2, 1, 'b'), (3, 2, 'c'), (4, 1, 'd')");
  page->reqtypechildlist = "";
  Variant id = 1;
  page->reqtypechild(id);
  EXPECT_EQ(describe(page->reqtypechildlist), "text:1,2,3,4");
  EXPECT_TRUE(events().empty());
}

class DocumentTrees : public Trees {
 protected:
  // 10 制度 > (11 财务 > 13 薪酬), (12 人事), newest first: 12 before 11.
  DocumentTrees() {
    request.session.set_item("UserName", "alice");
    db.exec(
        "insert into KX_Catalog (KXID, ParentID, CatName, CreateDate) values"
        " (10, 0, '制度', '2024-01-01 00:00:00'), (11, 10, '财务', '2024-01-02 00:00:00'),"
        " (12, 10, '人事', '2024-01-03 00:00:00'), (13, 11, '薪酬', '2024-01-04 00:00:00');"
        "insert into OA_Document (OAID, CatNumber, DocSubject, UpdateDate) values"
        " (100, 10, '旧', '2024-01-01 00:00:00'), (101, 10, '新''文', '2024-02-01 00:00:00');"
        "insert into OA_Functions (OAID, CodeNumber) values (50, 'CHKDOS10');"
        "insert into OA_FunctionRole (FunctionID, RoleID) values (50, 7);");
  }
};

TEST_F(DocumentTrees, document_structure_follows_the_catalogue_checks_both_ways) {
  const std::string documents =
      "<nobr><img src='images/blank.gif'><img align=middle src='images/tree_Dot.gif'>&nbsp;<A class=Topic "
      "id='Top101'  title='新&#39;文'   style='cursor: hand'    onclick=Javascript:OpenDocDetail("
      "'OA_DocDisplay.asp?OAID=101')>新&#39;文</a></nobr><BR>"
      "<nobr><img src='images/blank.gif'><img align=middle src='images/tree_Dot.gif'>&nbsp;<A class=Topic "
      "id='Top100'  title='旧'   style='cursor: hand'    onclick=Javascript:OpenDocDetail("
      "'OA_DocDisplay.asp?OAID=100')>旧</a></nobr><BR>";
  // The sub-catalogues 12 and 11; 13 stays hidden, as nothing is granted on 11.
  const std::string catalogues =
      "<nobr><img src='images/blank.gif'><img align=middle src='images/tree_OFolder.gif' id=Out12i "
      "style='CURSOR: hand' class=Outline>&nbsp;<A class=Outline href='OA_DocumentList.asp?CatNumber=12' "
      "id=Out12t target='detail'  title='人事' >人事</a></nobr><br><div id=Out12s style='DISPLAY: '></div>"
      "<nobr><img src='images/blank.gif'><img align=middle src='images/tree_OFolder.gif' id=Out11i "
      "style='CURSOR: hand' class=Outline>&nbsp;<A class=Outline href='OA_DocumentList.asp?CatNumber=11' "
      "id=Out11t target='detail'  title='财务' >财务</a></nobr><br><div id=Out11s style='DISPLAY: '></div>";
  struct Case {
    const char* roles;       // the session's role ids
    const char* direct;      // the code granted to alice directly
    std::string expected;
  } cases[] = {
      {",7,", "", documents + catalogues},   // documents through a role, hence the folders too
      {",3,", "CHKDOP10", catalogues},       // folders only
      {",3,", "CHKDOS11", ""},               // nothing on 10
  };
  for (const Case& c : cases) {
    request.session.set_item("_roleIds", c.roles);
    db.exec("delete from OA_SysPower");
    db.exec(std::string("insert into OA_SysPower (Code, UserList) values ('") + c.direct + "', 'bob;alice;x')");
    EXPECT_EQ(render(&Page::tabshowdocumentstructure, 10), c.expected) << c.roles << c.direct;
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(DocumentTrees, doc_tree_hides_a_catalogue_but_keeps_its_permitted_children) {
  db.exec("insert into OA_SysPower (Code, UserList) values ('CHKDOP12', 'alice'), ('CHKDOP13', 'alice')");
  EXPECT_EQ(render(&Page::showdoctree, 10),
            "<nobr>&nbsp;&nbsp;&nbsp;<img align=middle src='images/tree_OFolder.gif' id=Out12i "
            "style='CURSOR: hand' class=Outline>&nbsp;<A class=Outline  id=Out12t  title='人事' >人事</a>"
            "<INPUT type=radio id=tree name=tree  onclick=\" javascript:ClickS(12,'人事')\"   value=12>"
            "</nobr><br><div id=Out12s style='DISPLAY: '></div>"
            "<div id=Out11s style='DISPLAY: '>"
            "<nobr>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;<img align=middle src='images/tree_OFolder.gif' "
            "id=Out13i style='CURSOR: hand' class=Outline>&nbsp;<A class=Outline  id=Out13t  title='薪酬' >"
            "薪酬</a><INPUT type=radio id=tree name=tree  onclick=\" javascript:ClickS(13,'薪酬')\"   "
            "value=13></nobr><br><div id=Out13s style='DISPLAY: '></div></div>");
  request.session.set_item("isAdmin", "TRUE");
  EXPECT_EQ(render(&Page::showdoctree, 13), "");
  EXPECT_TRUE(events().empty());
}

}  // namespace
}  // namespace oapx1::testing
