#include "editing/posted_lists.h"

#include <set>
#include <string_view>
#include <vector>

#include "editing/rows.h"
#include "lookups/rows.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

using editing::joined;

// A text item of the node form that the node page stores.
struct StoredText {
  const char* item;   // the form item
  const char* label;  // what the form calls it
  bool tab;           // free text, in which a tab is kept
};
constexpr StoredText kStoredTexts[] = {
    {"JieDianName", "节点名称", true},         {"BanLiType", "办理类型", false},
    {"ProcessType", "处理方式", false},         {"TimeUnit", "时间单位", false},
    {"WaitTime", "办理时限", false},            {"FenFaUser", "分发用户", false},
    {"FenFaBuMen", "分发部门", false},          {"BanLiRenType", "办理人类型", false},
    {"CurrentJieDianYongHu", "节点办理人", false},
};

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

bool has_control_character(std::string_view value, bool tab) {
  for (unsigned char c : value) {
    if ((c < 0x20 && !(tab && c == '\t')) || c == 0x7f) return true;
  }
  return false;
}

std::string check_posted_values(const Request& posted) {
  std::vector<std::string> fields;
  for (const StoredText& text : kStoredTexts) {
    if (has_control_character(posted.item(text.item).str(), text.tab)) {
      fields.push_back(std::string(text.label) + "（" + text.item + "）");
    }
  }
  if (fields.empty()) return "";
  return "系统提示：" + joined(fields, "、") + "中有不能保存的控制字符（如 NUL、换行），设置未保存！";
}

std::string check_posted_lists(const Variant& conn, const Request& posted) {
  std::vector<std::string> problems;
  auto users = [&](std::string_view item, std::string_view label) {
    const std::vector<std::string> unknown = unknown_accounts(conn, posted.item(item).str());
    if (!unknown.empty()) problems.push_back(std::string(label) + "中的帐号不存在：" + joined(unknown, "、"));
  };
  users("CurrentJieDianYongHu", "节点办理人");
  users("FenFaUser", "分发用户");
  const std::vector<std::string> bad = bad_departments(conn, posted.item("FenFaBuMen").str());
  if (!bad.empty()) {
    problems.push_back("分发部门中的部门不存在或不是以“;”分隔的部门编号：" + joined(bad, "、"));
  }
  if (problems.empty()) return "";
  return "系统提示：" + joined(problems, "；") + "。设置未保存！";
}

}  // namespace oapx1
