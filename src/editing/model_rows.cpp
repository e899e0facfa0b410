#include "editing/model_rows.h"

#include "editing/rows.h"
#include "lookups/rows.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1::editing {

namespace {

// The portable form of a stored value of a transfer column.
Cell portable_cell(const Variant& value, CellKind kind, const DepartmentPaths& departments) {
  Cell cell;
  if (value.is_null()) return cell;
  cell.null = false;
  const std::string text = value_text(value);
  if (kind == CellKind::kText) {
    cell.text = text;
    return cell;
  }
  for (std::string& entry : list_entries(text)) {
    if (kind == CellKind::kDepartments) {
      const std::optional<int64_t> id = whole_number(entry);
      const std::string path = id ? departments.path(*id) : std::string();
      entry = path.empty() ? "#" + entry : path;
    }
    cell.entries.push_back(std::move(entry));
  }
  return cell;
}

}  // namespace

TransferDirectory::TransferDirectory(const Variant& conn) : departments(conn) {
  Variant rows = open_rows("select UserName, TureName from kx_userinfor", conn);
  Recordset& r = rows.as<Recordset>();
  for (; !r.Eof(); r.MoveNext()) {
    const std::string login = r.field("UserName").str();
    // The first account of a login (in any letter case) is the one the lookups find.
    accounts.emplace(ascii_lower(login), std::make_pair(login, r.field("TureName").str()));
  }
  r.Close();
}

const std::pair<std::string, std::string>* TransferDirectory::account(const std::string& login) const {
  const auto found = accounts.find(ascii_lower(login));
  return found == accounts.end() ? nullptr : &found->second;
}

std::vector<StoredNode> read_model_nodes(const Variant& conn, int64_t model, const DepartmentPaths& departments) {
  std::string columns = "n.OAID, n.JieDianName, o.Position";
  for (const TransferColumn& c : transfer_columns()) columns += std::string(", n.") + c.column;
  Variant rows = open_rows("select " + columns +
                               " from OA_Flow_Model_JieDian n left join OAPX1_NodeOrder o on o.NodeID=n.OAID"
                               " where n.MOAID=" +
                               std::to_string(model) +
                               " order by case when o.Position is null then 1 else 0 end, o.Position, n.OAID",
                           conn);
  Recordset& r = rows.as<Recordset>();
  std::vector<StoredNode> nodes;
  for (; !r.Eof(); r.MoveNext()) {
    StoredNode n;
    n.id = r.field("OAID").to_integer();
    const Variant position = r.field("Position");
    n.position = position.is_null() ? 0 : position.to_integer();
    const Variant name = r.field("JieDianName");
    n.node.name = name.is_null() ? "" : value_text(name);
    n.stored.emplace_back("JieDianName", n.node.name);
    for (const TransferColumn& c : transfer_columns()) {
      const Variant value = r.field(c.column);
      n.node.cells.push_back(portable_cell(value, c.kind, departments));
      n.stored.emplace_back(c.column, value.is_null() ? "" : value_text(value));
    }
    nodes.push_back(std::move(n));
  }
  r.Close();
  return nodes;
}

Variant stored_value(const Cell& cell, CellKind kind, const DepartmentPaths& departments) {
  if (cell.null) return Variant::null();
  if (kind == CellKind::kText) return Variant(cell.text);
  std::string list;
  for (const std::string& entry : cell.entries) {
    list += ";" + (kind == CellKind::kDepartments ? std::to_string(departments.ids(entry).front()) : entry);
  }
  return Variant(list.empty() ? list : list + ";");
}

std::string quoted_text(const std::string& text) { return "'" + sql_text(Variant(text)) + "'"; }

std::string first_text(const Variant& conn, const std::string& sql) {
  Variant rows = open_rows(sql, conn);
  Recordset& r = rows.as<Recordset>();
  std::string text;
  if (!r.Eof() && !r.field(0).is_null()) text = value_text(r.field(0));
  r.Close();
  return text;
}

}  // namespace oapx1::editing
