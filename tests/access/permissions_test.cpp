// Permission checks over roles, direct grants and document folders.
#include <string>

#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

class Permissions : public PageFixture<> {
 protected:
  Permissions() {
    db.exec(
        "insert into OA_Functions (OAID, CodeNumber) values (1, 'DOC'), (2, 'MAIL');"
        // User 7 is in roles 10 and 11, user 5 in role 10 only, user 15 in role 12.
        "insert into OA_Roles (OAID, userIds) values (10, ',5,7,'), (11, ',7,'), (12, ',15,');"
        "insert into OA_FunctionRole (FunctionID, RoleID) values (1, 10), (2, 11), (2, 100);"
        "insert into OA_SysPower (Code, UserList) values ('MAIL', 'wang;lisi;zhao'),"
        " ('NOFN', 'abc;lisi;xyz'), ('EMPTY', NULL);");
    connect();
    request.session.set_item("isAdmin", "");
  }
  void session(const char* key, const char* value) { request.session.set_item(key, value); }
};

TEST_F(Permissions, function_ids_by_role_lists) {
  enum Check { kHasfunid, kUserhasfunid, kHasfuniduser };
  struct Case {
    Check check;
    const char* funid;
    const char* who;  // _roleIds, _userId or the role list, by check
    bool granted;
  } cases[] = {
      {kHasfunid, "1", ",10,", true},
      {kHasfunid, "1", ",3,10,", true},
      {kHasfunid, "1", ",1,", false},   // 1 is only part of 10
      {kHasfunid, "1", "10", false},    // not enclosed in commas
      {kHasfunid, "2", ",10,", false},
      {kHasfunid, "2", ",100,", true},
      {kUserhasfunid, "1", "5", true},
      {kUserhasfunid, "1", "7", true},   // the first of its two roles is granted
      {kUserhasfunid, "2", "7", true},   // the second is
      {kUserhasfunid, "2", "5", false},
      {kUserhasfunid, "1", "1", false},  // 1 is only part of 15
      {kUserhasfunid, "1", "15", false},
      {kHasfuniduser, "1", ",10,", true},
      {kHasfuniduser, " 2 ", ",11,", true},
      {kHasfuniduser, "1", ",1,0,", false},
  };
  for (const Case& c : cases) {
    Variant funid = c.funid, who = c.who, unused;
    Variant result;
    if (c.check == kHasfunid) {
      session("_roleIds", c.who);
      result = page->hasfunid(funid);
    } else if (c.check == kUserhasfunid) {
      session("_userId", c.who);
      result = page->userhasfunid(funid, unused);
    } else {
      result = page->hasfuniduser(funid, who);
    }
    EXPECT_EQ(describe(result), c.granted ? "bool:True" : "bool:False") << c.check << " " << c.funid << " " << c.who;
  }
  EXPECT_EQ(output(), "");

  // Without an id there is no query: even a closed connection fails nothing.
  page->closedb();
  Variant empty = "", letters = "1x", unused, roles = ",10,";
  EXPECT_EQ(describe(page->hasfunid(empty)), "bool:False");
  EXPECT_EQ(describe(page->userhasfunid(empty, unused)), "bool:False");
  EXPECT_EQ(describe(page->hasfuniduser(empty, roles)), "bool:False");
  EXPECT_EQ(describe(page->hasfuniduser(letters, roles)), "bool:False");
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(events().empty());
}

TEST_F(Permissions, an_id_that_is_no_number_fails_before_any_statement) {
  Variant funid = "1 or 1=1", unused;
  session("_roleIds", ",10,");
  EXPECT_EQ(describe(page->hasfunid(funid)), "bool:False");
  EXPECT_EQ(output(), " Error Type mismatch: a number is required LINE0 Routine : tvwortqflowjiedia.hasfunid");
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(describe(page->sql), "text:select * from OA_AnQuan");  // left as the guard set it
}

TEST_F(Permissions, function_codes_by_roles_direct_grants_and_administrators) {
  struct Case {
    const char* code;
    const char* user;     // the session's UserName for haspower, the argument for userhaspower
    const char* is_admin;
    bool haspower;
    bool userhaspower;
  } cases[] = {
      {"DOC", "nobody", "", true, true},     // role 10 (session _roleIds, _userId 5)
      {"MAIL", "lisi", "", true, true},      // direct grant, middle of three names
      {"MAIL", "zhao", "", true, true},
      {"MAIL", "li", "", false, false},      // part of a listed name
      {"MAIL", "zhaoo", "", false, false},
      {"NOFN", "xyz", "", true, true},       // no function row, direct grant only
      {"NOFN", "", "", false, false},        // an empty name is no user
      {"EMPTY", "", "", false, false},
      {"NONE", "", "", false, false},
      {"NONE", "lisi", "TRUE", true, false},  // administrators pass haspower only
      {"NONE", "lisi", "true", false, false},
      {"O'X", "lisi", "", false, false},     // quoted safely: no failure
  };
  session("_roleIds", ",10,");
  session("_userId", "5");
  for (const Case& c : cases) {
    session("UserName", c.user);
    session("isAdmin", c.is_admin);
    Variant code = c.code, user = c.user;
    EXPECT_EQ(describe(page->haspower(code)), c.haspower ? "bool:True" : "bool:False") << c.code << " " << c.user;
    EXPECT_EQ(describe(page->userhaspower(code, user)), c.userhaspower ? "bool:True" : "bool:False")
        << c.code << " " << c.user;
  }
  EXPECT_EQ(describe(page->sql), "text:select * from OA_SysPower where Code='O''X'");
  EXPECT_EQ(output(), "");

  // The administrator rule runs no query.
  page->closedb();
  session("isAdmin", "TRUE");
  Variant code = "ANY";
  EXPECT_EQ(describe(page->haspower(code)), "bool:True");
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(events().empty());
}

TEST_F(Permissions, getdocpowers_walks_up_inheriting_folders_and_stops_on_loops) {
  db.exec(
      "insert into OA_ZTDocument_Folder (oaid, POAID, isjicheng, RIsALL, UserReader, WIsALL, userAll) values"
      " (1, 0, '0', '1', 'a;b', '0', 'c'),"
      " (2, 1, '1', 'x', 'x', 'x', 'x'),"
      " (3, 2, '1', NULL, NULL, NULL, NULL),"
      " (4, 3, NULL, NULL, NULL, NULL, NULL),"
      " (5, 6, '1', 'x', 'x', 'x', 'x'),"
      " (6, 5, '1', 'x', 'x', 'x', 'x'),"
      " (7, 7, '1', 'x', 'x', 'x', 'x'),"
      " (8, 99, '1', 'x', 'x', 'x', 'x'),"
      " (9, 1, '', '', 'r', NULL, 'w')");
  struct Case {
    const char* folder;
    const char* expected;
  } cases[] = {
      {"1", "text:1%a;b%0%c"}, {"2", "text:1%a;b%0%c"}, {"3", "text:1%a;b%0%c"},  // three levels
      {"4", "text:%%%"},       {"5", "text:%%%"},       {"7", "text:%%%"},        // nulls; loops
      {"8", "text:%%%"},       {"99", "text:%%%"},      {"9", "text:%r%%w"},
  };
  for (const Case& c : cases) {
    Variant folder = c.folder;
    EXPECT_EQ(describe(page->getdocpowers(folder)), c.expected) << c.folder;
  }
  EXPECT_EQ(output(), "");
  Variant bad = "1;drop table OA_Log";
  EXPECT_EQ(describe(page->getdocpowers(bad)), "empty");
  EXPECT_EQ(events().size(), 1u);
}

}  // namespace
}  // namespace oapx1::testing
