// Internal mail and short messages between the application's users: the mail
// row with its recipients' status list, the to-do entries, the short messages
// the client pages pop up, and a user's external address.
#include <string>
#include <vector>

#include "host/page.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/components/components.h"
#include "platform/web/event_log.h"

namespace oapx1 {

void Page::sendneibuyoujian(Variant& sender, Variant& recipients, Variant& subject,
                            Variant& content) {
  report_and_leave(__func__, [&] {
    const std::vector<std::string> pieces = vb::Split(recipients.to_text(), ";");
    // Every recipient starts with three statuses of "0"; other pages move them.
    std::string status_list;
    for (const std::string& piece : pieces) {
      if (status_list.empty()) {
        status_list = "*" + piece + "-0-0-0*";
      } else {
        status_list += piece + "-0-0-0*";
      }
    }

    sql = "select * from KX_Email where KXID=0";
    Variant rs = CreateObject("adodb.recordset");
    Recordset& mail = rs.as<Recordset>();
    mail.Open(sql, conn, 1, 3);
    mail.AddNew();
    mail.set_field("EmailSubject", subject);
    mail.set_field("EmailContent", content);
    mail.set_field("EmailFrom", sender);
    mail.set_field("ImpDegree", "C");
    mail.set_field("EmailStatus", "1");
    mail.set_field("EmailDate", clock_now());
    mail.set_field("EmailTo", status_list);
    mail.Update();
    Variant mail_id = mail.field("KXID");
    mail.Close();
    rs = Variant();

    Variant time_format = "yyyy-mm-dd hh:nn";
    for (const std::string& piece : pieces) {
      if (piece.empty()) continue;
      Variant now = clock_now();
      const Variant time = lwformatdatetime(now, time_format);
      sql = "Insert OA_DaiBan_Mail(BiaoTi,EOAID,ShiJian,FaJianRen,NeiWai,ShouJianRen)  values('" +
            sql_text(subject) + "'," + sql_integer(mail_id) + ",'" + sql_text(time) + "','" +
            sql_text(sender) + "','1','" + sql_text(Variant(piece)) + "') ";
      conn.as<Connection>().execute(sql);
    }

    const Variant full_name = showusername(sender);
    // The message is markup the client pages show as it is: the name and the
    // subject, which users typed, are encoded in it.
    Variant type = "0";
    Variant message = "来自：" + html_encode(full_name.str()) + "&nbsp;主题：" +
                      html_encode(subject.str());
    Variant link_text = "点击查看详情";
    Variant url = "MessageInfoDis.asp?KXID=" + mail_id.str();
    Variant target = "detail";
    Variant id2 = "";
    myfunsendxinxi(recipients, type, message, link_text, url, target, mail_id, id2);
  });
}

void Page::myfunsendxinxi(Variant& recipients, Variant& type, Variant& message, Variant& linktext,
                          Variant& url, Variant& target, Variant& id1, Variant& id2) {
  report_and_leave(__func__, [&] {
    // A null list stays null and names no one.
    if (!recipients.is_null()) {
      recipients = vb::Replace(recipients.str(), ";", "*");
      recipients = vb::Replace(recipients.str(), ",", "*");
    }
    const std::vector<std::string> pieces = vb::Split("*" + recipients.str() + "*", "*");
    Variant rs = CreateObject("adodb.recordset");
    Variant time_format = "yyyy-mm-dd hh:nn";
    for (const std::string& piece : pieces) {
      if (piece.empty()) continue;
      Variant now = clock_now();
      const Variant time = lwformatdatetime(now, time_format);
      Recordset& row = rs.as<Recordset>();
      row.Open("select * from OA_MSG where OAID=0", conn, 1, 3);
      row.AddNew();
      row.set_field("outType", type);
      row.set_field("userName", piece);
      row.set_field("msg", message);
      row.set_field("shijian", time);
      row.set_field("url", url);
      row.set_field("target", target);
      row.set_field("LinkText", linktext);
      row.set_field("isDisplay", "0");
      row.set_field("isView", "0");
      row.set_field("ID1", id1);
      row.set_field("ID2", id2);
      row.Update();
      row.Close();
    }
  });
}

Variant Page::getemailstatus(Variant& mailid, Variant& name, Variant& index) {
  return reported(__func__, [&](Variant& result) {
    result = "";
    const std::string statement = "select * from KX_Email where KXID=" + sql_integer(mailid);
    Variant rs = CreateObject("adodb.recordset");
    Recordset& mail = rs.as<Recordset>();
    mail.Open(statement, conn, 1, 3);
    if (mail.RecordCount() > 0) {
      // A mail whose list is null has no recipients.
      std::string list = mail.field("EmailTo").str();
      if (!list.empty() && list.front() == '*') list.erase(0, 1);
      if (!list.empty() && list.back() == '*') list.pop_back();
      const std::string wanted = vb::LCase(name.str());
      for (const std::string& entry : vb::Split(list, "*")) {
        const std::vector<std::string> fields = vb::Split(entry, "-");
        if (fields.empty() || name.is_null() || vb::LCase(fields.front()) != wanted) continue;
        const int64_t at = index.to_integer();
        if (at < 0 || at >= static_cast<int64_t>(fields.size()))
          throw ScriptError(err::kSubscriptOutOfRange, "Subscript out of range");
        result = fields[static_cast<size_t>(at)];
        break;
      }
    }
    mail.Close();
  });
}

Variant Page::funuseremail(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    sql = "select * from OA_User_OtherInfor where UserName='" + sql_text(name) + "'";
    Variant rs = CreateObject("adodb.recordset");
    Recordset& user = rs.as<Recordset>();
    user.Open(sql, conn, 1, 3);
    if (user.RecordCount() > 0) {
      result = user.field("Email1");
      // An address never filled in is null: the second address stands in for
      // it as for an emptied one.
      if (result.is_null() || script_equal(result, "")) result = user.field("Email2");
    } else {
      result = "";
    }
    user.Close();
  });
}

}  // namespace oapx1
