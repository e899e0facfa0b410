#include "editing/posted_lists.h"

#include <set>
#include <string_view>
#include <vector>

#include "editing/posted_values.h"
#include "editing/rows.h"
#include "lookups/rows.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

using editing::joined;

// The lower-case values of `column` among the rows whose `column` is one of
// `quoted` (a list of SQL literals).
std::set<std::string> existing(const Variant& conn, const std::string& table, const std::string& column,
                               const std::string& quoted) {
  std::set<std::string> found;
  if (quoted.empty()) return found;
  Variant rows = open_rows("select " + column + " from " + table + " where " + column + " in (" + quoted + ")", conn);
  Recordset& r = rows.as<Recordset>();
  for (; !r.Eof(); r.MoveNext()) found.insert(ascii_lower(r.field(column).str()));
  r.Close();
  return found;
}

// The accounts of a posted list that the directory does not know.
std::vector<std::string> unknown_accounts(const Variant& conn, const std::string& list) {
  const std::vector<std::string> accounts = list_entries(list);
  std::string quoted;
  for (const std::string& a : accounts) quoted += (quoted.empty() ? "'" : ",'") + sql_text(Variant(a)) + "'";
  const std::set<std::string> known = existing(conn, "kx_userinfor", "UserName", quoted);
  std::vector<std::string> unknown;
  for (const std::string& a : accounts) {
    if (!known.count(ascii_lower(a))) unknown.push_back(a);
  }
  return unknown;
}

// The entries of a posted department list that are no department's id.
std::vector<std::string> bad_departments(const Variant& conn, const std::string& list) {
  const std::vector<std::string> ids = list_entries(list);
  std::vector<std::string> bad;
  std::string quoted;
  for (const std::string& id : ids) {
    if (whole_number(id)) {
      quoted += (quoted.empty() ? "" : ",") + id;
    }
  }
  const std::set<std::string> known = existing(conn, "KX_Department", "DepartMentID", quoted);
  for (const std::string& id : ids) {
    // Compared as numbers: "03" names department 3 as the page reads it.
    const std::optional<int64_t> number = whole_number(id);
    if (!number || !known.count(std::to_string(*number))) bad.push_back(id);
  }
  return bad;
}

}  // namespace

std::string check_posted_lists(const Variant& conn, const Request& posted) {
  std::vector<std::string> problems;
  // Each list under the label the form shows it with.
  auto users = [&](std::string_view item, std::string_view column) {
    const std::vector<std::string> unknown = unknown_accounts(conn, posted.item(item).str());
    if (!unknown.empty()) problems.push_back(column_label(column) + "中的帐号不存在：" + joined(unknown, "、"));
  };
  users("CurrentJieDianYongHu", "JiaoSeUserList");
  users("FenFaUser", "FenFaUser");
  const std::vector<std::string> bad = bad_departments(conn, posted.item("FenFaBuMen").str());
  if (!bad.empty()) {
    problems.push_back(column_label("FenFaBuMen") + "中的部门不存在或不是以“;”分隔的部门编号：" + joined(bad, "、"));
  }
  if (problems.empty()) return "";
  return "系统提示：" + joined(problems, "；") + "。设置未保存！";
}

}  // namespace oapx1
