// The user-functions include: its initialiser, and the lookups of users,
// departments and the other directory names by key. Each runs one single-row
// statement (at most two) and returns one column of the first row found, or
// the lookup's own value when there is none.
#include <string>
#include <string_view>
#include <vector>

#include "directory/tree_walk.h"
#include "host/page.h"
#include "lookups/rows.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/components/components.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {


namespace {

constexpr std::string_view kUserById = "select * from KX_UserInfor where OAID=";
constexpr std::string_view kUserByName = "select * from KX_UserInfor where UserName='";
constexpr std::string_view kDepartmentById = "select * from KX_Department where DepartMentID=";

// The statement of a numeric key: the key must be a whole number.
std::string by_number(std::string_view statement, const Variant& key) {
  return std::string(statement) + sql_integer(key);
}
// The statement of a text key, quoted with its apostrophes doubled.
std::string by_text(std::string_view statement, const Variant& key) {
  return std::string(statement) + sql_text(key) + "'";
}

// The value of `column` in the first row of `statement`, or `none` when it
// finds no row.
Variant first_value(const Variant& statement, const Variant& conn, std::string_view column,
                    Variant none) {
  Variant rs = open_rows(statement, conn);
  Recordset& r = rs.as<Recordset>();
  Variant value = r.RecordCount() > 0 ? r.field(column) : std::move(none);
  r.Close();
  return value;
}

// A column counts as empty when it is "" or null.
bool blank(const Variant& v) { return v.is_null() || script_equal(v, ""); }

// The form of address of a user row: myField1, or TureName when it is empty.
// `shown` names the column returned when myField1 is not empty.
Variant form_of_address(const Variant& statement, const Variant& conn, std::string_view shown) {
  Variant rs = open_rows(statement, conn);
  Recordset& r = rs.as<Recordset>();
  Variant value = "";
  if (r.RecordCount() > 0) value = blank(r.field("myField1")) ? r.field("TureName") : r.field(shown);
  r.Close();
  return value;
}

}  // namespace

void Page::tvincfunctionuserI_init() {
  initialiser(__func__, [&] { response_object().write(""); });
}

Variant Page::showuserfromid(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    sql = by_number(kUserById, id);
    result = first_value(sql, conn, "UserName", "");
  });
}

Variant Page::getusername(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    sql = by_number(kUserById, id);
    result = first_value(sql, conn, "UserName", "");
  });
}

Variant Page::getusernameid(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    sql = by_number(kUserById, id);
    result = first_value(sql, conn, "TureName", "");
  });
}

Variant Page::getuserdepartid(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    sql = by_number(kUserById, id);
    result = first_value(sql, conn, "DepartMentID", 0);
  });
}

Variant Page::showuseridfromname(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    sql = by_text(kUserByName, name);
    result = first_value(sql, conn, "OAID", 0);
  });
}

Variant Page::getuserid(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    sql = by_text(kUserByName, name);
    result = first_value(sql, conn, "OAID", 0);
  });
}

Variant Page::showuserdepartmentid(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    const Variant statement = by_text(kUserByName, name);
    result = first_value(statement, conn, "DepartMentID", 0);
  });
}

Variant Page::showusername(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    // Messages the server sends itself carry the sender "800".
    if (script_equal(name, "800")) {
      result = "服务器";
      return;
    }
    sql = by_text(kUserByName, name);
    result = first_value(sql, conn, "TureName", "");
  });
}

Variant Page::shownameandmb(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    sql = by_text(kUserByName, name);
    Variant rs = open_rows(sql, conn);
    Recordset& r = rs.as<Recordset>();
    if (r.RecordCount() > 0)
      result = r.field("TureName").str() + "【" + r.field("Mobile").str() + "】";
    r.Close();
  });
}

Variant Page::shownicheng(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    sql = by_text(kUserByName, name);
    result = form_of_address(sql, conn, "myField1");
  });
}

Variant Page::userzuncheng(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    sql = by_text(kUserByName, name);
    result = form_of_address(sql, conn, "myField1");
  });
}

Variant Page::usernicheng(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    sql = by_text(kUserByName, name);
    result = form_of_address(sql, conn, "myField2");
  });
}

Variant Page::showuserimg(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    sql = by_text("select faceImg from KX_UserInfor where UserName='", name);
    Variant stem = first_value(sql, conn, "faceImg", "");
    if (blank(stem)) stem = "1";
    result = stem.str() + ".gif";
  });
}

Variant Page::showcustomername(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    sql = by_text("select * from KX_Customer where UserName='", name);
    result = first_value(sql, conn, "TureName", Variant());
  });
}

Variant Page::showdepartmentname(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    if (blank(id)) id = 0;
    const Variant statement = by_number(kDepartmentById, id);
    result = first_value(statement, conn, "DepartName", "");
  });
}

Variant Page::getdepartname(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    sql = by_number(kDepartmentById, id);
    result = first_value(sql, conn, "DepartName", "");
  });
}

Variant Page::showcatlogname(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    sql = by_number("select * from KX_Catalog where KXID=", id);
    result = first_value(sql, conn, "CatName", "");
  });
}

Variant Page::showprojectname(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    sql = by_number("select * from OA_Work_Plan where KXID=", id);
    result = first_value(sql, conn, "name", "");
  });
}

Variant Page::showreqtypename(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    sql = by_number("select * from KX_ReqType where ReqTypeID=", id);
    result = first_value(sql, conn, "ReqTypeName", Variant());
  });
}

Variant Page::showuserdepartmentname(Variant& name) {
  return reported(__func__, [&](Variant& result) {
    Variant rs = open_rows(by_text(kUserByName, name), conn);
    Recordset& r = rs.as<Recordset>();
    Variant found = "";
    if (r.RecordCount() > 0) {
      const Variant department = r.field("DepartMentID");
      r.Close();
      // The same recordset object, reopened on the user's department.
      r.Open(by_number(kDepartmentById, department), conn, 1, 3);
      if (r.RecordCount() > 0) found = r.field("DepartName");
    }
    r.Close();
    result = found;
  });
}

Variant Page::showduty(Variant& list) {
  return reported(__func__, [&](Variant& result) {
    const std::vector<std::string> items = vb::Split(list.to_text(), ",");
    result = "";
    Variant rs = CreateObject("ADODB.Recordset");
    Recordset& r = rs.as<Recordset>();
    for (const std::string& item : items) {
      // The duty id is the part before the first "*"; an empty item has none.
      const std::vector<std::string> parts = vb::Split(item, "*");
      sql = "select * from KX_DutyPower where KXID= " + sql_integer(parts.empty() ? "" : parts[0]);
      r.Open(sql, conn, 1, 3);
      if (r.RecordCount() > 0) {
        if (script_equal(result, ""))
          result = r.field("DutyName");
        else
          result = result.str() + "、" + r.field("DutyName").str();
      }
      r.Close();
    }
  });
}

Variant Page::getxingmingfromnames(Variant& list, Variant& separator) {
  return reported(__func__, [&](Variant& result) {
    result = "";
    if (!list.is_null()) {
      for (const std::string& piece : vb::Split(list.to_text(), separator.to_text())) {
        if (piece.empty()) continue;
        Variant login = piece;
        if (script_equal(result, ""))
          result = showusername(login);
        else
          result = result.str() + "、" + showusername(login).str();
      }
    }
    if (result.is_null()) return;
    while (vb::InStr(result.to_text(), "、、") > 0) result = vb::Replace(result.to_text(), "、、", "、");
    if (vb::Right(result.to_text(), 1) == ",") result = vb::Left(result.to_text(), vb::Len(result.to_text()) - 1);
  });
}

Variant Page::getuserdepartname(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    Variant department = getuserdepartid(id);
    result = getdepartname(department);
  });
}

}  // namespace oapx1
