// The lookups of users, departments and the other directory names.
#include <string>

#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

class Lookups : public PageFixture<> {
 protected:
  Lookups() {
    db.exec(
        "insert into KX_UserInfor (OAID, UserName, TureName, DepartMentID, Mobile, myField1, myField2, faceImg)"
        " values (1, 'alice', '张三', 1, '138', '', 'Ali', '7'),"
        " (2, 'o''neil', 'O''Neil', 9, NULL, '先生', 'Neil', NULL),"
        " (3, 'nullname', NULL, NULL, NULL, NULL, NULL, '');"
        "insert into KX_Department (DepartMentID, ParentID, DepartName) values (1, 0, '总部');"
        "insert into KX_DutyPower (KXID, DutyName) values (1, '经理'), (2, '主管');"
        "insert into KX_Customer (KXID, UserName, TureName) values (1, 'c1', '客户甲');"
        "insert into KX_Catalog (KXID, ParentID, CatName) values (10, 0, '制度');"
        "insert into OA_Work_Plan (KXID, name) values (1, '计划');"
        "insert into KX_ReqType (ReqTypeID, ParentID, ReqTypeName) values (1, 0, '请假');");
    connect();
  }
};

using Lookup = Variant (Page::*)(Variant&);

TEST_F(Lookups, each_lookup_gives_its_column_or_its_own_no_row_value) {
  struct Case {
    const char* name;
    Lookup method;
    Variant key;
    const char* expected;
    bool stores_sql;  // the statement is left in sql
  } cases[] = {
      {"showuserfromid", &Page::showuserfromid, 1, "text:alice", true},
      {"showuserfromid", &Page::showuserfromid, 8, "text:", true},
      {"getusername", &Page::getusername, "1", "text:alice", true},
      {"getusernameid", &Page::getusernameid, 1, "text:张三", true},
      {"getusernameid", &Page::getusernameid, 3, "null", true},
      {"getuserdepartid", &Page::getuserdepartid, 1, "number:1", true},
      {"getuserdepartid", &Page::getuserdepartid, 8, "number:0", true},
      {"showuseridfromname", &Page::showuseridfromname, "o'neil", "number:2", true},
      {"getuserid", &Page::getuserid, "nobody", "number:0", true},
      {"showuserdepartmentid", &Page::showuserdepartmentid, "alice", "number:1", false},
      {"showuserdepartmentid", &Page::showuserdepartmentid, "nobody", "number:0", false},
      {"showusername", &Page::showusername, "alice", "text:张三", true},
      {"showusername", &Page::showusername, "nobody", "text:", true},
      {"showusername", &Page::showusername, "800", "text:服务器", false},
      {"shownameandmb", &Page::shownameandmb, "alice", "text:张三【138】", true},
      {"shownameandmb", &Page::shownameandmb, "o'neil", "text:O'Neil【】", true},
      {"shownameandmb", &Page::shownameandmb, "nobody", "empty", true},
      {"shownicheng", &Page::shownicheng, "alice", "text:张三", true},
      {"shownicheng", &Page::shownicheng, "o'neil", "text:先生", true},
      {"shownicheng", &Page::shownicheng, "nobody", "text:", true},
      {"userzuncheng", &Page::userzuncheng, "o'neil", "text:先生", true},
      {"usernicheng", &Page::usernicheng, "o'neil", "text:Neil", true},
      {"usernicheng", &Page::usernicheng, "alice", "text:张三", true},
      {"usernicheng", &Page::usernicheng, "nullname", "null", true},
      {"showuserimg", &Page::showuserimg, "alice", "text:7.gif", true},
      {"showuserimg", &Page::showuserimg, "o'neil", "text:1.gif", true},
      {"showuserimg", &Page::showuserimg, "nullname", "text:1.gif", true},
      {"showuserimg", &Page::showuserimg, "nobody", "text:1.gif", true},
      {"showcustomername", &Page::showcustomername, "c1", "text:客户甲", true},
      {"showcustomername", &Page::showcustomername, "nobody", "empty", true},
      {"showdepartmentname", &Page::showdepartmentname, 1, "text:总部", false},
      {"getdepartname", &Page::getdepartname, 1, "text:总部", true},
      {"getdepartname", &Page::getdepartname, 8, "text:", true},
      {"showcatlogname", &Page::showcatlogname, 10, "text:制度", true},
      {"showcatlogname", &Page::showcatlogname, 8, "text:", true},
      {"showprojectname", &Page::showprojectname, 1, "text:计划", true},
      {"showprojectname", &Page::showprojectname, 8, "text:", true},
      {"showreqtypename", &Page::showreqtypename, 1, "text:请假", true},
      {"showreqtypename", &Page::showreqtypename, 8, "empty", true},
      {"showuserdepartmentname", &Page::showuserdepartmentname, "alice", "text:总部", false},
      {"showuserdepartmentname", &Page::showuserdepartmentname, "o'neil", "text:", false},
      {"showuserdepartmentname", &Page::showuserdepartmentname, "nobody", "text:", false},
      {"getuserdepartname", &Page::getuserdepartname, 1, "text:总部", true},
      {"getuserdepartname", &Page::getuserdepartname, 8, "text:", true},
  };
  for (Case& c : cases) {
    page->sql = "before";
    EXPECT_EQ(describe((page.get()->*c.method)(c.key)), c.expected) << c.name << " " << c.key.str();
    EXPECT_EQ(page->sql.str().rfind("select", 0) == 0, c.stores_sql) << c.name << " " << page->sql.str();
  }
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(events().empty());
  Variant quoted = "o'neil";
  page->getuserid(quoted);
  EXPECT_EQ(page->sql.str(), "select * from KX_UserInfor where UserName='o''neil'");
}

TEST_F(Lookups, a_key_that_is_not_a_number_fails_before_any_statement) {
  for (Lookup method : {&Page::showuserfromid, &Page::getuserdepartid, &Page::getdepartname,
                        &Page::showcatlogname, &Page::showreqtypename}) {
    Variant key = "1 or 1=1";
    page->sql = "before";
    EXPECT_EQ(describe((page.get()->*method)(key)), "empty");
    EXPECT_EQ(page->sql.str(), "before");
  }
  EXPECT_EQ(events().size(), 5u);
  EXPECT_TRUE(contains(" Error Type mismatch: a whole number is required LINE0 Routine : "
                       "tvwortqflowjiedia.getdepartname"));
}

TEST_F(Lookups, showdepartmentname_writes_zero_back_for_an_empty_or_null_id) {
  for (Variant id : {Variant(""), Variant(), Variant::null()}) {
    EXPECT_EQ(describe(page->showdepartmentname(id)), "text:");
    EXPECT_EQ(describe(id), "number:0");
  }
  db.exec("insert into KX_Department (DepartMentID, ParentID, DepartName) values (0, 0, '根')");
  Variant id = "";
  EXPECT_EQ(describe(page->showdepartmentname(id)), "text:根");
  EXPECT_TRUE(events().empty());
}

TEST_F(Lookups, showduty_joins_the_duties_found_and_stops_at_an_empty_item) {
  struct Case {
    const char* list;
    const char* expected;
    size_t events;
  } cases[] = {
      {"", "text:", 0},
      {"1*abc,2", "text:经理、主管", 0},
      {"9,2,9,1", "text:主管、经理", 0},
      {"1,,2", "text:经理", 1},
      {"2,", "text:主管", 2},
  };
  for (const Case& c : cases) {
    Variant list = c.list;
    EXPECT_EQ(describe(page->showduty(list)), c.expected) << c.list;
    EXPECT_EQ(events().size(), c.events) << c.list;
  }
  Variant list = "1*x,2*y";
  page->showduty(list);
  EXPECT_EQ(page->sql.str(), "select * from KX_DutyPower where KXID= 2");
}

TEST_F(Lookups, getxingmingfromnames_joins_full_names_and_tidies_the_separators) {
  struct Case {
    Variant list;
    const char* separator;
    const char* expected;
  } cases[] = {
      {"800,alice", ",", "text:服务器、张三"},
      {"nobody,alice", ",", "text:张三"},
      {"alice,nobody,o'neil", ",", "text:张三、O'Neil"},
      {"alice,nobody", ",", "text:张三、"},
      {";alice;;o'neil;", ";", "text:张三、O'Neil"},
      {Variant::null(), ",", "text:"},
      {"", ",", "text:"},
  };
  for (Case& c : cases) {
    Variant separator = c.separator;
    EXPECT_EQ(describe(page->getxingmingfromnames(c.list, separator)), c.expected) << c.list.str();
  }
  db.exec("update KX_UserInfor set TureName = '张三,' where OAID = 1");
  Variant list = "o'neil,alice", separator = ",";
  EXPECT_EQ(describe(page->getxingmingfromnames(list, separator)), "text:O'Neil、张三");
  EXPECT_TRUE(events().empty());
}

}  // namespace
}  // namespace oapx1::testing
