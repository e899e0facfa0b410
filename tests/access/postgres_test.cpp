// The statements of the access policy, the audit logs and the permission
// checks on PostgreSQL. Runs when OAPX1_TEST_PG names a server.
#include <memory>
#include <string>

#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "support/page_fixture.h"
#include "support/test_pg.h"

namespace oapx1::testing {
namespace {

class AccessOnPostgres : public PageFixture<> {
 protected:
  static void SetUpTestSuite() { pg_ = std::make_unique<PgTestSchema>("oapx1_access"); }
  static void TearDownTestSuite() { pg_.reset(); }
  void SetUp() override {
    if (pg_->url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
    request.application_state.set_item("KXTDBConnectString", pg_->url());
    connect();
  }
  static inline std::unique_ptr<PgTestSchema> pg_;
};

TEST_F(AccessOnPostgres, policy_logs_and_checks_run_on_postgres) {
  Connection& conn = page->conn.as<Connection>();
  conn.execute_script(
      "insert into OA_AnQuan (ISIP, isYunXu, IPList, NotValid, LoginLog) values ('1', '1', '10.', '1', '1');"
      "insert into OA_Functions (OAID, CodeNumber) values (1, 'DOC');"
      "insert into OA_Roles (OAID, userIds) values (10, ',5,7,');"
      "insert into OA_FunctionRole (FunctionID, RoleID) values (1, 10);"
      "insert into OA_SysPower (Code, UserList) values ('MAIL', 'wang;lisi');"
      "insert into OA_ZTDocument_Folder (oaid, POAID, isjicheng, RIsALL, UserReader, WIsALL, userAll)"
      " values (1, 0, '0', '1', 'a', '0', 'b'), (2, 1, '1', NULL, NULL, NULL, NULL),"
      " (3, 2, '1', NULL, NULL, NULL, NULL), (4, 5, '1', NULL, NULL, NULL, NULL),"
      " (5, 4, '1', NULL, NULL, NULL, NULL);");
  request.session.set_item("_LogUserName", "o'hara");
  request.session.set_item("_LogUserIPAddress", "10.1.2.3");
  EXPECT_EQ(describe(page->isallowlogin()), "bool:False");
  Variant legal = "1", login = "1", remark = "it's";
  page->savelog(legal, login);
  page->oplog(remark);

  request.session.set_item("_roleIds", ",10,");
  request.session.set_item("_userId", "7");
  request.session.set_item("UserName", "lisi");
  Variant doc = "DOC", mail = "MAIL", name = "lisi", unused, id = "1";
  EXPECT_EQ(describe(page->haspower(doc)), "bool:True");
  EXPECT_EQ(describe(page->haspower(mail)), "bool:True");
  EXPECT_EQ(describe(page->userhaspower(doc, name)), "bool:True");
  EXPECT_EQ(describe(page->userhasfunid(id, unused)), "bool:True");
  Variant folder = "3", looped = "4";
  EXPECT_EQ(describe(page->getdocpowers(folder)), "text:1%a%0%b");
  EXPECT_EQ(describe(page->getdocpowers(looped)), "text:%%%");
  EXPECT_EQ(output(), "");

  Recordset rows;
  rows.Open("select LogType, UserName, Remark, IsDengLu from OA_Log order by OAID", page->conn, 1, 3);
  std::string all;
  for (; !rows.Eof(); rows.MoveNext()) {
    all += rows.field(0).str() + "|" + rows.field(1).str() + "|" + rows.field(2).str() + "|" +
           rows.field(3).str() + ";";
  }
  rows.Close();
  EXPECT_EQ(all, "安全日志|o'hara|非法IP地址|1;应用日志|o'hara|系统登陆|1;应用日志|o'hara|it's|1;");
}

}  // namespace
}  // namespace oapx1::testing
