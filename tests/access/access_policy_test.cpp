// The login access policy: IP lists, weekdays, the daily window, the security
// log rows of refusals and the exempt accounts.
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/web/login_exempt.h"
#include "support/page_fixture.h"

namespace oapx1::testing {
namespace {

class AccessPolicy : public PageFixture<> {
 protected:
  AccessPolicy() { connect(); }
  ~AccessPolicy() override {
    set_login_exempt(std::nullopt);
    unsetenv(kLoginExemptVariable);
  }

  // Replaces the security settings: no row for nullptr, else one row with the
  // given assignments (others null).
  void settings(const char* assignments) {
    db.exec("delete from OA_AnQuan; delete from OA_Log");
    if (assignments == nullptr) return;
    db.exec("insert into OA_AnQuan (TimeOut) values (NULL)");
    if (*assignments != '\0') db.exec(std::string("update OA_AnQuan set ") + assignments);
  }
  // Runs the policy for a user at an address and a time.
  std::string decide(const char* user, const char* address, DateTime now) {
    request.session.set_item("_LogUserName", user);
    request.session.set_item("_LogUserIPAddress", address);
    set_clock(now);
    return describe(page->isallowlogin());
  }
  // The log rows as "type|address|user|remark|flag", joined by ";", oldest first.
  std::string log_rows() const {
    return db.scalar(
        "select coalesce(group_concat(LogType||'|'||IPAddress||'|'||UserName||'|'||Remark||'|'||IsDengLu, ';'), '')"
        " from (select * from OA_Log order by OAID)");
  }
};

TEST_F(AccessPolicy, each_rule_admits_or_refuses_and_logs_refusals_when_asked) {
  const DateTime monday_noon = make_datetime(2026, 12, 7, 12, 0, 0);
  const char* kWindow = "ISTime='1', SHour='8', SMinute='0', EHour='17', EMinute='30'";
  struct Case {
    const char* settings;
    const char* address;
    DateTime now;
    bool admitted;
    const char* rows;  // what the security log holds afterwards ("" for none)
  } cases[] = {
      // No settings row, or one of nulls only: everyone.
      {nullptr, "10.1.1.1", monday_noon, true, ""},
      {"", "10.1.1.1", monday_noon, true, ""},
      // Deny list: a listed prefix refuses; "192.168.1." is not a prefix of 192.168.10.x.
      {"ISIP='1', isYunXu='1', IPList='192.168.1.,10.0.'", "192.168.1.7", monday_noon, false, ""},
      {"ISIP='1', isYunXu='1', IPList='192.168.1.,10.0.'", "192.168.10.7", monday_noon, true, ""},
      {"ISIP='1', isYunXu='1', IPList='192.168.1., 10.0.'", "10.0.3.4", monday_noon, false, ""},
      // Allow list: only listed prefixes are admitted.
      {"ISIP='1', isYunXu='0', IPList='192.168.1.,10.0.'", "10.0.3.4", monday_noon, true, ""},
      {"ISIP='1', isYunXu='0', IPList='192.168.1.,10.0.'", "172.16.0.1", monday_noon, false, ""},
      {"ISIP='1', isYunXu='0', IPList=',,,'", "10.0.3.4", monday_noon, false, ""},
      {"ISIP='0', isYunXu='0', IPList=',,,'", "10.0.3.4", monday_noon, true, ""},
      // Weekdays: SM7 is Sunday.
      {"isWeek='1', SM7='0'", "10.0.3.4", make_datetime(2026, 12, 6, 12, 0, 0), false, ""},
      {"isWeek='1', SM7='0'", "10.0.3.4", monday_noon, true, ""},
      {"isWeek='1', SM1='0'", "10.0.3.4", monday_noon, false, ""},
      {"isWeek='0', SM1='0'", "10.0.3.4", monday_noon, true, ""},
      // The window includes both of its ends, to the minute.
      {kWindow, "10.0.3.4", make_datetime(2026, 12, 7, 7, 59, 59), false, ""},
      {kWindow, "10.0.3.4", make_datetime(2026, 12, 7, 8, 0, 0), true, ""},
      {kWindow, "10.0.3.4", make_datetime(2026, 12, 7, 17, 30, 59), true, ""},
      {kWindow, "10.0.3.4", make_datetime(2026, 12, 7, 17, 31, 0), false, ""},
      // A start or an end that is no time disables the window, not the other rules.
      {"ISTime='1', SHour='25', SMinute='0', EHour='1', EMinute='0'", "10.0.3.4", monday_noon, true, ""},
      {"ISTime='1', SHour='8', SMinute='0', EHour='x', EMinute='0', ISIP='1', IPList='10.', "
       "NotValid='1'",
       "10.0.3.4", monday_noon, false, "安全日志|10.0.3.4|O'Neil|非法IP地址|1"},
      // Both refusals, logged: the IP row first.
      {"ISIP='1', isYunXu='1', IPList='10.', ISTime='1', SHour='8', SMinute='0', EHour='9', "
       "EMinute='0', NotValid='1'",
       "10.0.3.4", monday_noon, false,
       "安全日志|10.0.3.4|O'Neil|非法IP地址|1;安全日志|10.0.3.4|O'Neil|非法时间|1"},
      {"isWeek='1', SM1='0', NotValid='1'", "10.0.3.4", monday_noon, false,
       "安全日志|10.0.3.4|O'Neil|非法时间|1"},
      {"isWeek='1', SM1='0', NotValid='0'", "10.0.3.4", monday_noon, false, ""},
  };
  for (const Case& c : cases) {
    settings(c.settings);
    EXPECT_EQ(decide("O'Neil", c.address, c.now), c.admitted ? "bool:True" : "bool:False")
        << (c.settings ? c.settings : "no row") << " / " << c.address;
    EXPECT_EQ(log_rows(), c.rows) << (c.settings ? c.settings : "no row");
  }
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(events().empty());
}

TEST_F(AccessPolicy, exempt_accounts_come_from_configuration_only) {
  settings("ISIP='1', isYunXu='0', IPList='192.168.', NotValid='1'");
  const DateTime now = make_datetime(2026, 12, 7, 12, 0, 0);
  // By default no account is exempt, whatever its name.
  EXPECT_EQ(decide("kw", "10.0.0.1", now), "bool:False");
  setenv(kLoginExemptVariable, "ops, Night-Shift", 1);
  EXPECT_EQ(decide("night-shift", "10.0.0.1", now), "bool:True");
  EXPECT_EQ(decide("OPS", "10.0.0.1", now), "bool:True");
  EXPECT_EQ(decide("op", "10.0.0.1", now), "bool:False");
  // The server's setting replaces the environment's.
  set_login_exempt("Boss,,");
  EXPECT_EQ(decide("boss", "10.0.0.1", now), "bool:True");
  EXPECT_EQ(decide("ops", "10.0.0.1", now), "bool:False");
  EXPECT_EQ(decide("", "10.0.0.1", now), "bool:False");
  EXPECT_EQ(log_rows(),
            "安全日志|10.0.0.1|kw|非法IP地址|1;安全日志|10.0.0.1|op|非法IP地址|1;"
            "安全日志|10.0.0.1|ops|非法IP地址|1;安全日志|10.0.0.1||非法IP地址|1");
}

}  // namespace
}  // namespace oapx1::testing
