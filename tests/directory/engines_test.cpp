// The directory's statements on PostgreSQL. Runs when OAPX1_TEST_PG names a
// server (scripts/pg-test-server starts a throwaway one).
#include <memory>

#include "platform/data/connection.h"
#include "support/page_fixture.h"
#include "support/test_pg.h"

namespace oapx1::testing {
namespace {

class DirectoryOnPostgres : public PageFixture<> {
 protected:
  static void SetUpTestSuite() { pg_ = std::make_unique<PgTestSchema>("oapx1_directory"); }
  static void TearDownTestSuite() { pg_.reset(); }

  void SetUp() override {
    if (pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
    Connection conn;
    conn.Open(pg_->url());
    conn.execute_script(
        "truncate KX_Department, KX_UserInfor, KX_PersonOnline, KX_Catalog, KX_DutyPower;"
        "insert into KX_Department (DepartMentID, ParentID, DepartName) values"
        " (1, 0, '总部'), (2, 1, '技术部'), (3, 2, '开发组');"
        "insert into KX_UserInfor (OAID, UserName, TureName, DepartMentID, IPAddress, AccountState, ordernumber)"
        " values (1, 'carol', '王五', 2, '', '1', 2), (2, 'erin', '钱七', 2, NULL, '1', 1);"
        "insert into KX_PersonOnline (UserName) values ('carol');"
        "insert into KX_Catalog (KXID, ParentID, CatName, CreateDate) values"
        " (10, 0, 'a', '2024-01-01'), (11, 10, 'b', '2024-01-02'), (12, 11, 'c', '2024-01-03');"
        "insert into KX_DutyPower (KXID, DutyName, FunList) values (1, '经理', '11*x'), (2, '主管', NULL);");
    request.application_state.set_item("KXTDBConnectString", pg_->url());
    connect();
  }

  static inline std::unique_ptr<PgTestSchema> pg_;  // this program's schema
};

TEST_F(DirectoryOnPostgres, lookups_trees_and_walks_give_the_same_results) {
  Variant zero = 0, level = 0, two = 2, three = 3, ten = 10, duties = "1*a,2";
  page->tabshowdepartmentchild(zero, level);
  EXPECT_EQ(output(),
            "<OPTION value=1>|--总部</OPTION><OPTION value=2>|--|--技术部</OPTION>"
            "<OPTION value=3>|--|--|--开发组</OPTION>");
  request.response.body().clear();
  page->listuser(two, level);
  EXPECT_EQ(output(),
            "<OPTION VALUE='NONE'>|&nbsp;&nbsp;*王五</OPTION> <OPTION VALUE='NONE'>|&nbsp;&nbsp;*钱七</OPTION> "
            "<OPTION value='NONE'>|&nbsp;&nbsp;开发组</OPTION>");
  request.response.body().clear();
  page->tabshowdepartmentchildandusername(two, level);
  EXPECT_LT(output().find("钱七</a>"), output().find("<font color=blue>王五</font>"));
  EXPECT_EQ(describe(page->getparentlists(three)), "text:1,2,3");
  EXPECT_EQ(describe(page->getfengongsi(three)), "number:1");
  EXPECT_EQ(describe(page->showduty(duties)), "text:经理、主管");
  page->deletedocumentfolder(ten);
  Variant cat = 12, user = "carol";
  EXPECT_EQ(describe(page->showcatlogname(cat)), "text:");
  EXPECT_EQ(describe(page->showuserdepartmentname(user)), "text:技术部");
  EXPECT_TRUE(events().empty()) << request.event_texts().front();
}

}  // namespace
}  // namespace oapx1::testing
