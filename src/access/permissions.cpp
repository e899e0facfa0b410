// Permission checks: whether the current user may use a function (through
// roles, direct grants or as administrator), and the grants of a document
// folder, inherited up its parents.
#include <set>
#include <string>
#include <string_view>

#include "host/page.h"
#include "lookups/rows.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"

namespace oapx1 {
namespace {

// The grants of a function to roles, by a function id that must be a number.
std::string function_role_statement(const Variant& funid) {
  return "select  * from OA_FunctionRole where  FunctionID=" + sql_number(funid);
}

// True when one of the grant rows names a role of the comma-enclosed role list.
bool any_role_in(Recordset& grants, const Variant& role_list) {
  const std::string roles = role_list.str();
  for (int64_t n = 1; n <= grants.RecordCount(); ++n) {
    if (vb::InStr(roles, "," + grants.field("RoleID").str() + ",") > 0) return true;
    grants.MoveNext();
  }
  return false;
}

// The statement of the direct grants of a function code.
std::string direct_grants_statement(const Variant& code) {
  return "select * from OA_SysPower where Code='" + sql_text(code) + "'";
}

// True when the ';'-separated user list of the first row names the login
// name. An empty name is no user, whatever the list holds.
bool user_listed(Recordset& grants, const Variant& username) {
  const std::string list = grants.RecordCount() > 0 ? grants.field("UserList").str() : "";
  const std::string name = username.str();
  return !name.empty() && vb::InStr(";" + list + ";", ";" + name + ";") > 0;
}

}  // namespace

Variant Page::hasfunid(Variant& funid) {
  return reported(__func__, [&](Variant& result) {
    result = false;
    if (script_equal(funid, "")) return;
    Variant grants = open_rows(function_role_statement(funid), conn);
    if (any_role_in(grants.as<Recordset>(), session_object().item("_roleIds"))) result = true;
    grants.as<Recordset>().Close();
  });
}

Variant Page::hasfuniduser(Variant& funid, Variant& rolelist) {
  return reported(__func__, [&](Variant& result) {
    result = false;
    if (!is_numeric(funid) || script_equal(funid, "")) return;
    Variant grants = open_rows(function_role_statement(funid), conn);
    if (any_role_in(grants.as<Recordset>(), rolelist)) result = true;
    grants.as<Recordset>().Close();
  });
}

Variant Page::userhasfunid(Variant& funid, Variant& /*unused*/) {
  return reported(__func__, [&](Variant& result) {
    result = false;
    if (script_equal(funid, "")) return;
    // The roles whose member list holds the session's user id, as ",r1,r2,".
    Variant roles = open_rows("select * from OA_Roles where userIds like '%," +
                                  sql_text(session_object().item("_userId")) + ",%'",
                              conn);
    Recordset& r = roles.as<Recordset>();
    std::string role_list;
    for (int64_t n = 1; n <= r.RecordCount(); ++n) {
      role_list += (role_list.empty() ? "," : "") + r.field("OAID").str() + ",";
      r.MoveNext();
    }
    r.Close();
    Variant grants = open_rows(function_role_statement(funid), conn);
    if (any_role_in(grants.as<Recordset>(), Variant(role_list))) result = true;
    grants.as<Recordset>().Close();
  });
}

Variant Page::userhaspower(Variant& code, Variant& username) {
  return reported(__func__, [&](Variant& result) {
    result = false;
    sql = "select * from OA_Functions where CodeNumber='" + sql_text(code) + "'";
    Variant functions = open_rows(sql.str(), conn);
    Recordset& f = functions.as<Recordset>();
    if (f.RecordCount() > 0) {
      Variant id = f.field("OAID");
      result = userhasfunid(id, username);
    }
    f.Close();
    if (script_equal(result, true)) return;
    sql = direct_grants_statement(code);
    Variant grants = open_rows(sql.str(), conn);
    const bool listed = user_listed(grants.as<Recordset>(), username);
    grants.as<Recordset>().Close();
    if (listed) result = true;
  });
}

Variant Page::haspower(Variant& code) {
  return reported(__func__, [&](Variant& result) {
    if (script_equal(session_object().item("isAdmin"), "TRUE")) {
      result = true;
      return;
    }
    result = false;
    Variant functions = open_rows("select * from OA_Functions where CodeNumber='" + sql_text(code) + "'", conn);
    Recordset& f = functions.as<Recordset>();
    for (int64_t n = 1; n <= f.RecordCount(); ++n) {
      Variant id = f.field("OAID");
      result = hasfunid(id);
      if (script_equal(result, true)) break;
      f.MoveNext();
    }
    f.Close();
    if (script_equal(result, true)) return;
    Variant grants = open_rows(direct_grants_statement(code), conn);
    const bool listed = user_listed(grants.as<Recordset>(), session_object().item("UserName"));
    grants.as<Recordset>().Close();
    if (listed) result = true;
  });
}

Variant Page::getdocpowers(Variant& folderid) {
  return reported(__func__, [&](Variant& result) {
    // Up the parents while folders inherit. A folder met a second time closes
    // a loop in the data: the walk ends as if the folder did not exist.
    std::set<std::string> visited;
    Variant id = folderid;
    for (;;) {
      Variant folder = open_rows("select * from OA_ZTDocument_Folder where oaid=" + sql_number(id), conn);
      Recordset& r = folder.as<Recordset>();
      if (r.RecordCount() == 0 || !visited.insert(r.field("oaid").str()).second) {
        result = "%%%";
        r.Close();
        return;
      }
      if (!script_equal(r.field("isjicheng"), "1")) {
        result = r.field("RIsALL").str() + "%" + r.field("UserReader").str() + "%" +
                 r.field("WIsALL").str() + "%" + r.field("userAll").str();
        r.Close();
        return;
      }
      id = r.field("POAID");
      r.Close();
    }
  });
}

}  // namespace oapx1
