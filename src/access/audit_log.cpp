// The audit logs: sign-in events by the security settings (savelog) and free
// application events (oplog), appended to OA_Log. Both run in
// ignore-and-continue mode: logging never disturbs the page that asks for it.
#include "access/log_statement.h"
#include "host/page.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/components/components.h"

namespace oapx1 {

namespace detail {

std::string log_statement(std::string_view log_type, const Variant& remark, std::string_view flag) {
  Session& session = session_object();
  std::string statement = "insert into [OA_Log](LogType,IPAddress,UserName,Remark,IsDengLu) values('";
  statement += log_type;
  statement += "','" + sql_text(session.item("_LogUserIPAddress"));
  statement += "','" + sql_text(session.item("_LogUserName"));
  statement += "','" + sql_text(remark);
  statement += "','";
  statement += flag;
  statement += "')";
  return statement;
}

}  // namespace detail

Variant Page::savelog(Variant& legal, Variant& login) {
  Variant NotValid;
  Variant LoginLog;
  Variant settings;
  step([&] { settings = CreateObject("ADODB.Recordset"); });
  step([&] { settings.as<Recordset>().Open("select top 1 * from OA_AnQuan", conn, 1, 3); });
  if (condition([&] { return settings.as<Recordset>().RecordCount() > 0; })) {
    step([&] { NotValid = settings.as<Recordset>().field("NotValid"); });
    step([&] { LoginLog = settings.as<Recordset>().field("LoginLog"); });
  }
  step([&] { settings.as<Recordset>().Close(); });
  settings = Variant::nothing();

  auto write_row = [&](std::string_view log_type, const char* remark, std::string_view flag) {
    step([&] { conn.as<Connection>().execute(detail::log_statement(log_type, remark, flag)); });
  };
  if (!script_equal(legal, "1")) {
    // A refused user is logged only when the settings ask for it.
    if (script_equal(NotValid, "1")) write_row(detail::kSecurityLog, "非法用户", "1");
  } else if (script_equal(LoginLog, "1")) {
    if (script_equal(login, "1")) {
      write_row(detail::kApplicationLog, "系统登陆", "1");
    } else {
      write_row(detail::kApplicationLog, "系统退出", "0");
    }
  }
  return Variant();
}

Variant Page::oplog(Variant& remark) {
  step([&] { conn.as<Connection>().execute(detail::log_statement(detail::kApplicationLog, remark, "1")); });
  return Variant();
}

}  // namespace oapx1
