#include "editing/posted_lists.h"

#include <set>
#include <string_view>
#include <vector>

#include "editing/posted_values.h"
#include "editing/rows.h"
#include "lookups/rows.h"
#include "platform/data/recordset.h"
#include "platform/web/memory_intrinsics.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

using editing::joined;

// The accounts of a posted list that the directory does not know.
std::vector<std::string> unknown_accounts(DirectoryEntries& directory, const std::string& list) {
  const std::vector<std::string> accounts = list_entries(list);
  const std::set<std::string> known = directory.known_accounts(accounts);
  std::vector<std::string> unknown;
  for (const std::string& a : accounts) {
    if (!known.count(ascii_lower(a))) unknown.push_back(a);
  }
  return unknown;
}

// The entries of a posted department list that are no department's id.
std::vector<std::string> bad_departments(DirectoryEntries& directory, const std::string& list) {
  const std::vector<std::string> ids = list_entries(list);
  std::vector<int64_t> numbers;
  for (const std::string& id : ids) {
    if (const std::optional<int64_t> number = whole_number(id)) numbers.push_back(*number);
  }
  const std::set<std::string> known = directory.known_departments(numbers);
  std::vector<std::string> bad;
  for (const std::string& id : ids) {
    // Compared as numbers: "03" names department 3 as the page reads it.
    const std::optional<int64_t> number = whole_number(id);
    if (!number || !known.count(std::to_string(*number))) bad.push_back(id);
  }
  return bad;
}

// The directory as the database holds it now, asked for the entries of each list.
class StoredDirectory : public DirectoryEntries {
 public:
  explicit StoredDirectory(const Variant& conn) : conn_(conn) {}
  std::set<std::string> known_accounts(const std::vector<std::string>& accounts) override {
    std::string quoted;
    for (const std::string& a : accounts) quoted += (quoted.empty() ? "'" : ",'") + sql_text(Variant(a)) + "'";
    return existing("kx_userinfor", "UserName", quoted);
  }
  std::set<std::string> known_departments(const std::vector<int64_t>& ids) override {
    std::string quoted;
    for (int64_t id : ids) quoted += (quoted.empty() ? "" : ",") + std::to_string(id);
    return existing("KX_Department", "DepartMentID", quoted);
  }
  std::set<std::string> disabled_accounts(const std::vector<std::string>& accounts) override {
    std::string quoted;
    for (const std::string& a : accounts) quoted += (quoted.empty() ? "'" : ",'") + sql_text(Variant(a)) + "'";
    return existing("kx_userinfor", "UserName", quoted, " and AccountState = '0'");
  }

 private:
  // The lower-case values of `column` among the rows whose `column` is one
  // of `quoted` (a list of SQL literals) and meet `also` (" and ...", or "").
  std::set<std::string> existing(const std::string& table, const std::string& column, const std::string& quoted,
                                 const std::string& also = "") {
    std::set<std::string> found;
    if (quoted.empty()) return found;
    Variant rows = open_rows(
        "select " + column + " from " + table + " where " + column + " in (" + quoted + ")" + also, conn_);
    Recordset& r = rows.as<Recordset>();
    for (; !r.Eof(); r.MoveNext()) found.insert(ascii_lower(r.field(column).str()));
    r.Close();
    return found;
  }

  const Variant& conn_;
};

// The problems of the posted lists, each a sentence without the prompt.
std::vector<std::string> list_problems(DirectoryEntries& directory, const Request& posted) {
  std::vector<std::string> problems;
  auto users = [&](std::string_view item, std::string_view label) {
    const std::vector<std::string> unknown = unknown_accounts(directory, posted.item(item).str());
    if (!unknown.empty()) problems.push_back(std::string(label) + "中的帐号不存在：" + joined(unknown, "、"));
  };
  users("CurrentJieDianYongHu", column_label("JiaoSeUserList"));
  users("FenFaUser", column_label("FenFaUser"));
  const std::vector<std::string> bad = bad_departments(directory, posted.item("FenFaBuMen").str());
  if (!bad.empty()) {
    problems.push_back(column_label("FenFaBuMen") + "中的部门不存在或不是以“;”分隔的部门编号：" + joined(bad, "、"));
  }
  return problems;
}

}  // namespace

std::string check_posted_lists(const Variant& conn, const Request& posted) {
  StoredDirectory directory(conn);
  const std::vector<std::string> problems = list_problems(directory, posted);
  if (problems.empty()) return "";
  return "系统提示：" + joined(problems, "；") + "。设置未保存！";
}

DirectorySnapshot::DirectorySnapshot(const Variant& conn) {
  Variant users = open_rows("select UserName, AccountState from kx_userinfor", conn);
  Recordset& u = users.as<Recordset>();
  for (; !u.Eof(); u.MoveNext()) {
    std::string account = ascii_lower(u.field("UserName").str());
    if (script_equal(u.field("AccountState"), "0")) disabled_.insert(account);
    accounts_.insert(std::move(account));
  }
  u.Close();
  Variant departments = open_rows("select DepartMentID from KX_Department", conn);
  Recordset& d = departments.as<Recordset>();
  for (; !d.Eof(); d.MoveNext()) departments_.insert(d.field("DepartMentID").str());
  d.Close();
}

std::set<std::string> DirectorySnapshot::known_accounts(const std::vector<std::string>& accounts) {
  std::set<std::string> found;
  for (const std::string& a : accounts) {
    std::string lower = ascii_lower(a);
    if (accounts_.count(lower)) found.insert(std::move(lower));
  }
  return found;
}

std::set<std::string> DirectorySnapshot::disabled_accounts(const std::vector<std::string>& accounts) {
  std::set<std::string> found;
  for (const std::string& a : accounts) {
    std::string lower = ascii_lower(a);
    if (disabled_.count(lower)) found.insert(std::move(lower));
  }
  return found;
}

std::set<std::string> DirectorySnapshot::known_departments(const std::vector<int64_t>& ids) {
  std::set<std::string> found;
  for (int64_t id : ids) {
    std::string text = std::to_string(id);
    if (departments_.count(text)) found.insert(std::move(text));
  }
  return found;
}

std::string stored_node_problems(DirectoryEntries& directory, const NodeRow& node) {
  // The stored lists are checked as a save of the node as it stands would post them.
  MemoryRequest as_posted({}, {{"CurrentJieDianYongHu", column_value(node, "JiaoSeUserList")},
                               {"FenFaUser", column_value(node, "FenFaUser")},
                               {"FenFaBuMen", column_value(node, "FenFaBuMen")}});
  std::vector<std::string> problems;
  const std::string chooser = column_value(node, "BanLiRenType");
  const std::vector<std::string> handlers = list_entries(column_value(node, "JiaoSeUserList"));
  if ((chooser == "1" || chooser == "3") && handlers.empty()) {
    problems.push_back("没有指定办理人");
  } else if (chooser == "1" || chooser == "3") {
    // Someone on the list must be able to take the node.
    const std::set<std::string> known = directory.known_accounts(handlers);
    if (!known.empty() && directory.disabled_accounts(handlers).size() == known.size()) {
      problems.push_back("办理人都已停用");
    }
  }
  for (std::string& p : list_problems(directory, as_posted)) problems.push_back(std::move(p));
  return joined(problems, "；");
}

std::string stored_node_problems(const Variant& conn, const NodeRow& node) {
  StoredDirectory directory(conn);
  return stored_node_problems(directory, node);
}

}  // namespace oapx1
