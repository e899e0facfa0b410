// The function check the document trees ask, until the permission checks
// provide it: administrators pass; otherwise a role of the session's role list
// granted a function of that code, or the session's login name listed for the
// code directly.
#include <string>

#include "directory/tree_walk.h"
#include "host/page.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

using directory::open_recordset;

Variant Page::haspower(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    Session& session = session_object();
    if (script_equal(session.item("isAdmin"), "TRUE")) {
      result = true;
      return;
    }
    result = false;
    const std::string roles = session.item("_roleIds").str();
    Variant functions = open_recordset("select * from OA_Functions where CodeNumber='" + sql_text(id) + "'", conn);
    Recordset& f = functions.as<Recordset>();
    const int64_t function_count = f.RecordCount();
    for (int64_t k = 1; k <= function_count && !result.boolean(); ++k, f.MoveNext()) {
      const Variant function_id = f.field("OAID");
      if (script_equal(function_id, "")) continue;
      Variant grants = open_recordset(
          "select  * from OA_FunctionRole where  FunctionID=" + sql_integer(function_id), conn);
      Recordset& g = grants.as<Recordset>();
      const int64_t grant_count = g.RecordCount();
      for (int64_t n = 1; n <= grant_count; ++n, g.MoveNext()) {
        if (vb::InStr(roles, "," + g.field("RoleID").str() + ",") > 0) {
          result = true;
          break;
        }
      }
      g.Close();
    }
    f.Close();
    if (result.boolean()) return;
    Variant direct = open_recordset("select * from OA_SysPower where Code='" + sql_text(id) + "'", conn);
    Recordset& d = direct.as<Recordset>();
    const std::string users = d.RecordCount() > 0 ? d.field("UserList").str() : "";
    d.Close();
    if (vb::InStr(";" + users + ";", ";" + session.item("UserName").str() + ";") > 0) result = true;
  });
}

}  // namespace oapx1
