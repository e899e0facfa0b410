// The audit logs: which sign-in events savelog records under which security
// settings, and oplog's unconditional rows.
#include <string>

#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

class AuditLog : public PageFixture<> {
 protected:
  AuditLog() {
    connect();
    request.session.set_item("_LogUserName", "d'Arcy");
    request.session.set_item("_LogUserIPAddress", "10.0.0.9");
  }
  std::string log_rows() const {
    return db.scalar(
        "select coalesce(group_concat(LogType||'|'||IPAddress||'|'||UserName||'|'||Remark||'|'||IsDengLu, ';'), '')"
        " from (select * from OA_Log order by OAID)");
  }
};

TEST_F(AuditLog, savelog_follows_the_security_settings) {
  struct Case {
    const char* settings;  // the settings row's values, or nullptr for no row
    const char* legal;
    const char* login;
    const char* rows;
  } cases[] = {
      {"'1', '1'", "1", "1", "应用日志|10.0.0.9|d'Arcy|系统登陆|1"},
      {"'1', '1'", "1", "0", "应用日志|10.0.0.9|d'Arcy|系统退出|0"},
      {"'1', '1'", "1", "", "应用日志|10.0.0.9|d'Arcy|系统退出|0"},
      {"'1', '1'", "0", "1", "安全日志|10.0.0.9|d'Arcy|非法用户|1"},
      {"'1', '1'", "x", "0", "安全日志|10.0.0.9|d'Arcy|非法用户|1"},
      {"'0', '1'", "0", "1", ""},
      {"'1', '0'", "1", "1", ""},
      {"'1', '0'", "1", "0", ""},
      {"'0', '1'", "1", "1", "应用日志|10.0.0.9|d'Arcy|系统登陆|1"},
      {"NULL, NULL", "1", "1", ""},
      {nullptr, "1", "1", ""},
      {nullptr, "0", "1", ""},
  };
  for (const Case& c : cases) {
    db.exec("delete from OA_AnQuan; delete from OA_Log");
    if (c.settings) db.exec(std::string("insert into OA_AnQuan (NotValid, LoginLog) values (") + c.settings + ")");
    Variant legal = c.legal, login = c.login;
    EXPECT_EQ(describe(page->savelog(legal, login)), "empty");
    EXPECT_EQ(log_rows(), c.rows) << (c.settings ? c.settings : "no row") << " " << c.legal << "," << c.login;
    EXPECT_EQ(describe(legal), std::string("text:") + c.legal);
  }
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(events().empty());
}

TEST_F(AuditLog, oplog_always_writes_and_no_failure_is_reported) {
  db.exec("insert into OA_AnQuan (NotValid, LoginLog) values ('1', '1')");
  Variant remark = "删除了'节点'";
  EXPECT_EQ(describe(page->oplog(remark)), "empty");
  EXPECT_EQ(log_rows(), "应用日志|10.0.0.9|d'Arcy|删除了'节点'|1");
  // Without a connection nothing is written, and nothing is reported.
  page->closedb();
  Variant legal = "0", login = "1";
  page->oplog(remark);
  page->savelog(legal, login);
  EXPECT_EQ(db.scalar("select count(*) from OA_Log"), "1");
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(events().empty());
}

}  // namespace
}  // namespace oapx1::testing
