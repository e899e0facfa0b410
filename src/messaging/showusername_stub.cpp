// The full name of a login name, as the directory lookups give it. Internal
// mail signs its short messages with it.
#include "host/page.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/components.h"

namespace oapx1 {

Variant Page::showusername(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    // The server's own account has no user row.
    if (script_equal(name, "800")) {
      result = "服务器";
      return;
    }
    sql = "select * from KX_UserInfor where UserName='" + sql_text(name) + "'";
    Variant rs = CreateObject("adodb.recordset");
    Recordset& user = rs.as<Recordset>();
    user.Open(sql, conn, 1, 3);
    if (user.RecordCount() > 0) {
      result = user.field("TureName");
    } else {
      result = "";
    }
    user.Close();
  });
}

}  // namespace oapx1
