// The general-functions include: its initialiser, and the hierarchy walks:
// the upward paths of departments and document folders, the level and the
// branch company of a department, and the removal of a document catalogue with
// everything below it. The upward walks stop at a node already on the path, so
// a parent chain that loops ends; none of them uses the C++ stack for depth.
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "directory/tree_walk.h"
#include "host/page.h"
#include "lookups/rows.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

using directory::Level;
using directory::node_key;
using directory::TreeHooks;
using directory::walk_tree;

namespace {

// One upward walk: `field` is set to `id` when it is "", then each ancestor
// read from `table` (key column `key`, parent column `parent`) is put in front
// of it with a ",". A failing level is reported by `guard` and ends the walk;
// the ancestors found so far stay in front.
template <class Guard>
void walk_up(Variant& field, const Variant& id, std::string_view table, std::string_view key,
             std::string_view parent, const Variant& conn, Guard&& guard) {
  if (script_equal(field, "")) field = id;
  // The ancestors, nearest first; written in front of the field once, at the
  // end, so that a long chain costs time in proportion to its length.
  std::vector<std::string> ancestors;
  struct WriteBack {
    Variant& field;
    std::vector<std::string>& ancestors;
    ~WriteBack() {
      if (ancestors.empty()) return;
      std::string path;
      for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) path += *it + ",";
      field = path + field.str();
    }
  } write_back{field, ancestors};
  std::unordered_set<double> visited;
  Variant current = id;
  bool more = true;
  while (more) {
    more = false;
    guard([&] {
      const Variant statement =
          "select * from " + std::string(table) + " where  " + std::string(key) + "=" +
          sql_integer(current);
      visited.insert(node_key(current));
      Variant rs = open_rows(statement, conn);
      Recordset& r = rs.as<Recordset>();
      if (r.RecordCount() > 0) {
        const Variant up = r.field(parent);
        if (Variant(up).to_integer() != 0 && !visited.count(node_key(up))) {
          ancestors.push_back(up.str());
          current = up;
          more = true;
        }
      }
      r.Close();
    });
  }
}

}  // namespace

void Page::tvtvfunctionI_init() {
  initialiser(__func__, [&] {
    departmentchildlist = "";
    departmentparentlist = "";
    folderparentlist = "";
    reqtypechildlist = "";
    for (int n = 0; n < 3; ++n) response_object().write("");
  });
}

Variant Page::departmentparent(Variant& id) {
  const std::string_view method = __func__;
  walk_up(departmentparentlist, id, "KX_Department", "DepartmentID", "ParentID", conn,
          [&](auto&& body) { report_and_leave(method, body); });
  return Variant();
}

Variant Page::folderparent(Variant& id) {
  const std::string_view method = __func__;
  walk_up(folderparentlist, id, "OA_Document_Folder", "OAID", "POAID", conn,
          [&](auto&& body) { report_and_leave(method, body); });
  return Variant();
}

Variant Page::getparentlists(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    Variant copy = id;
    departmentparent(copy);
    result = departmentparentlist;
    departmentparentlist = "";
  });
}

Variant Page::getfolderparentlists(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    Variant copy = id;
    folderparent(copy);
    result = folderparentlist;
    folderparentlist = "";
  });
}

Variant Page::departlevel(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    Variant copy = id;
    departmentparent(copy);
    result = static_cast<long long>(vb::Split(departmentparentlist.to_text(), ",").size());
    departmentparentlist = "";
  });
}

Variant Page::getfengongsi(Variant& id) {
  return reported(__func__, [&](Variant& result) {
    std::unordered_set<double> visited;
    Variant current = id;
    for (;;) {
      const Variant statement = "select * from KX_Department where  DepartmentID=" + sql_integer(current);
      visited.insert(node_key(current));
      Variant rs = open_rows(statement, conn);
      Recordset& r = rs.as<Recordset>();
      // No row, or parents that lead back to a department already passed: no
      // branch company.
      if (r.RecordCount() == 0) return;
      const Variant up = r.field("ParentID");
      if (Variant(up).to_integer() == 0) {
        result = r.field("DepartmentID");
        return;
      }
      if (visited.count(node_key(up))) return;
      r.Close();
      current = up;
    }
  });
}

Variant Page::deletedocumentfolder(Variant& id) {
  // The entries of a duty's FunList that name a catalogue: the catalogue id
  // after one of these prefixes. The entries are the bare ids.
  static constexpr std::string_view kEntryPrefixes[3] = {"", "", ""};
  auto open = [&](Level& c) {
    const std::string key = sql_integer(c.id);
    sql = "delete from KX_Catalog where KXID=" + key;
    conn.as<Connection>().execute(sql);
    sql = "select * from KX_DutyPower";
    // The level holds the duties as it will hold its child catalogues, in the
    // same recordset, so a failure here drops it with the level.
    c.rs = open_rows(sql, conn);
    Recordset& duties = c.rs.as<Recordset>();
    const int64_t duty_count = duties.RecordCount();
    for (int64_t k = 1; k <= duty_count; ++k, duties.MoveNext()) {
      std::string list = "*" + duties.field("FunList").str() + "*";
      for (std::string_view prefix : kEntryPrefixes)
        list = vb::Replace(list, "*" + std::string(prefix) + key + "*", "*");
      if (vb::Left(list, 1) == "*") list = vb::Mid(list, 2);
      if (vb::Right(list, 1) == "*") list = vb::Left(list, vb::Len(list) - 1);
      duties.set_field("FunList", list);
      duties.Update();
    }
    duties.Close();
    sql = "select * from KX_Catalog where ParentID=" + key;
    duties.Open(sql, conn, 1, 3);
    return c.rs;
  };
  auto row = [&](Level&, Recordset&, const Variant& child) {
    sql = "delete from KX_Catalog where KXID=" + sql_integer(child);
    conn.as<Connection>().execute(sql);
    return true;
  };
  walk_tree(Level{id}, TreeHooks{.child_column = "KXID", .open = open, .row = row}, piece_guard(__func__));
  return Variant();
}

}  // namespace oapx1
