#include "server/node_editing.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <iterator>
#include <set>

#include <nlohmann/json.hpp>

#include "host/page.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "platform/web/event_log.h"

namespace oapx1 {
namespace {

// The library methods alone, on a request of the host's own.
class LibraryPage : public Page {
 public:
  void I_init() override {}
};

// The text of a column value as the history keeps it.
std::string value_text(const Variant& v) {
  if (v.is_date()) return format_iso(v.date());
  return v.str();
}

Variant open_rows(const std::string& sql, const Variant& conn) {
  Variant rows(std::static_pointer_cast<Object>(std::make_shared<Recordset>()));
  rows.as<Recordset>().Open(Variant(sql), conn, 1, 3);
  return rows;
}

// The entries of a ';'-separated list, without the empty ones.
std::vector<std::string> entries_of(const std::string& list) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(';', start), list.size());
    if (end > start) entries.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

bool whole_number(std::string_view s) {
  return !s.empty() && s.size() <= 18 &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

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
  const std::vector<std::string> accounts = entries_of(list);
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
  const std::vector<std::string> ids = entries_of(list);
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
    if (!whole_number(id) || !known.count(std::to_string(std::stoll(id)))) bad.push_back(id);
  }
  return bad;
}

std::string joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (const std::string& item : items) {
    if (!out.empty()) out += separator;
    out += item;
  }
  return out;
}

// The text items of the node form and the columns they are saved in, as the
// node page saves them (a text item not posted keeps the stored value).
constexpr std::pair<const char*, const char*> kPostedTexts[] = {
    {"JieDianName", "JieDianName"}, {"BanLiType", "BanLiType"},
    {"ProcessType", "ProcessType"}, {"TimeUnit", "TimeUnit"},
    {"WaitTime", "WaitTime"},       {"FenFaUser", "FenFaUser"},
    {"FenFaBuMen", "FenFaBuMen"},   {"BanLiRenType", "BanLiRenType"},
    {"JiaoSeUserList", "CurrentJieDianYongHu"},
};
// The check boxes of the node form, saved as "1" or "0" by their own names.
constexpr const char* kPostedFlags[] = {
    "isTaoHong",     "isImportWord", "isQianMing",         "isYinZhang", "isChaKanHenJi", "isXiuDingJiLu",
    "IsRecMark",     "isWordProtect", "isYanZhengQianMing", "IsPrint",    "isLocalSave",   "youjiantixing",
    "iszhuanban",    "isgoutong",    "isFenFa",            "isBoHui",
};

// The node's columns as the application spells them: PostgreSQL reports
// unquoted names in lower case, and the history keeps one spelling.
constexpr const char* kNodeColumns[] = {
    "OAID",        "MOAID",         "JieDianName",   "BanLiType",      "ProcessType",   "TimeUnit",
    "WaitTime",    "IsYiJianTotal", "Remark",        "BanLiRenType",   "JiaoSeUserList", "DaiLiIsAble",
    "isFirst",     "FenFaUser",     "FenFaBuMen",    "isTaoHong",      "isImportWord",  "isQianMing",
    "isYinZhang",  "isChaKanHenJi", "isXiuDingJiLu", "IsRecMark",      "isWordProtect", "isYanZhengQianMing",
    "IsPrint",     "isLocalSave",   "youjiantixing", "iszhuanban",     "isgoutong",     "isFenFa",
    "isBoHui",
};

// The application's spelling of column `name`, read at `position` of the
// row: the column at the same position of kNodeColumns is tried first, since
// "select *" gives them in the table's order. Views `name` when no node
// column has that name.
std::string_view column_spelling(std::string_view name, size_t position) {
  constexpr size_t kCount = std::size(kNodeColumns);
  if (position < kCount && name == kNodeColumns[position]) return kNodeColumns[position];
  for (size_t i = 0; i < kCount; ++i) {
    const char* column = kNodeColumns[(position + i) % kCount];
    if (ascii_iequals(column, name)) return column;
  }
  return name;
}

uint64_t fnv1a(uint64_t hash, std::string_view bytes) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

constexpr uint64_t kVersionStart = 14695981039346656037ULL;

// The version so far with one more column of the row.
uint64_t version_with(uint64_t hash, std::string_view column, std::string_view value) {
  hash = fnv1a(hash, column);
  hash = fnv1a(hash, std::string_view("\x1f", 1));
  hash = fnv1a(hash, value);
  return fnv1a(hash, std::string_view("\x1e", 1));
}

std::string version_text(uint64_t hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, hash);
  return text;
}

// Calls `column(name, value)` for each column of node `node`'s row, in the
// table's order, with the application's spelling and null read as empty;
// false when there is no such node.
template <typename Column>
bool each_node_column(const Variant& conn, int64_t node, Column column) {
  Variant rows = open_rows("select * from OA_Flow_Model_JieDian where OAID=" + std::to_string(node), conn);
  Recordset& r = rows.as<Recordset>();
  const bool found = !r.Eof();
  if (found) {
    for (int i = 0; i < r.field_count(); ++i) {
      const Variant v = r.field(i);
      const std::string name = r.field_name(i);
      // Null and empty read alike, as the page treats them.
      column(column_spelling(name, static_cast<size_t>(i)), v.is_null() ? std::string() : value_text(v));
    }
  }
  r.Close();
  return found;
}

}  // namespace

std::string row_version(const NodeRow& row) {
  uint64_t hash = kVersionStart;
  for (const auto& [column, value] : row) hash = version_with(hash, column, value);
  return version_text(hash);
}

std::optional<NodeRow> read_node_row(const Variant& conn, int64_t node) {
  NodeRow row;
  const bool found = each_node_column(conn, node, [&](std::string_view column, std::string value) {
    row.emplace_back(std::string(column), std::move(value));
  });
  if (!found) return std::nullopt;
  return row;
}

std::string node_version(const Variant& conn, int64_t node) {
  uint64_t hash = kVersionStart;
  const bool found = each_node_column(conn, node, [&](std::string_view column, const std::string& value) {
    hash = version_with(hash, column, value);
  });
  return found ? version_text(hash) : std::string();
}

std::vector<ColumnChange> row_changes(const NodeRow& before, const NodeRow& after) {
  std::vector<ColumnChange> changes;
  for (const auto& [column, value] : after) {
    auto old = std::find_if(before.begin(), before.end(),
                            [&](const auto& c) { return ascii_iequals(c.first, column); });
    const std::string previous = old == before.end() ? std::string() : old->second;
    if (previous != value) changes.push_back({column, previous, value});
  }
  return changes;
}

NodeRow posted_row(const NodeRow& current, const Request& posted) {
  NodeRow row = current;
  auto set = [&](std::string_view column, std::string value) {
    for (auto& [name, v] : row) {
      if (ascii_iequals(name, column)) v = std::move(value);
    }
  };
  for (const auto& [column, item] : kPostedTexts) {
    const Variant value = posted.item(item);
    if (!value.is_empty()) set(column, value.str());
  }
  for (const char* flag : kPostedFlags) set(flag, script_equal(posted.item(flag), "on") ? "1" : "0");
  return row;
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

int64_t record_history(const Variant& conn, const NodeHistoryEntry& entry) {
  nlohmann::json changes = nlohmann::json::array();
  for (const ColumnChange& c : entry.changes) changes.push_back({c.column, c.before, c.after});
  Variant rows = open_rows("select * from OAPX1_NodeHistory where OAID=0", conn);
  Recordset& r = rows.as<Recordset>();
  r.AddNew();
  r.set_field("NodeID", Variant(entry.node));
  r.set_field("UserName", Variant(entry.account));
  r.set_field("TureName", Variant(entry.name));
  r.set_field("IPAddress", Variant(entry.address));
  r.set_field("Outcome", Variant(entry.outcome));
  r.set_field("Remark", Variant(entry.remark));
  r.set_field("Changes", Variant(changes.dump()));
  r.Update();
  const int64_t id = r.field("OAID").to_integer();
  r.Close();
  return id;
}

std::vector<NodeHistoryEntry> read_history(const Variant& conn, int64_t node, int limit) {
  std::string sql = limit > 0 ? "select top " + std::to_string(limit) + " * " : std::string("select * ");
  sql += "from OAPX1_NodeHistory where NodeID=" + std::to_string(node) + " order by OAID desc";
  Variant rows = open_rows(sql, conn);
  Recordset& r = rows.as<Recordset>();
  std::vector<NodeHistoryEntry> entries;
  for (; !r.Eof(); r.MoveNext()) {
    NodeHistoryEntry e;
    e.id = r.field("OAID").to_integer();
    e.node = node;
    e.when = value_text(r.field("ChangedAt"));
    e.account = r.field("UserName").str();
    e.name = r.field("TureName").str();
    e.address = r.field("IPAddress").str();
    e.outcome = r.field("Outcome").str();
    e.remark = r.field("Remark").str();
    const nlohmann::json changes = nlohmann::json::parse(r.field("Changes").str(), nullptr, false);
    if (changes.is_array()) {
      for (const auto& c : changes) {
        if (c.is_array() && c.size() == 3 && c[0].is_string() && c[1].is_string() && c[2].is_string()) {
          e.changes.push_back({c[0].get<std::string>(), c[1].get<std::string>(), c[2].get<std::string>()});
        }
      }
    }
    entries.push_back(std::move(e));
  }
  r.Close();
  return entries;
}

std::optional<NodeHistoryEntry> last_saved(const Variant& conn, int64_t node) {
  // A history that cannot be read (a database not yet given the table) names
  // nobody; the refusal it explains still stands.
  Variant rows;
  try {
    rows = open_rows("select top 1 * from OAPX1_NodeHistory where NodeID=" + std::to_string(node) +
                               " and Outcome='" + std::string(kOutcomeSaved) + "' order by OAID desc",
                     conn);
  } catch (const ScriptError&) {
    return std::nullopt;
  }
  Recordset& r = rows.as<Recordset>();
  std::optional<NodeHistoryEntry> entry;
  if (!r.Eof()) {
    entry.emplace();
    entry->id = r.field("OAID").to_integer();
    entry->node = node;
    entry->when = value_text(r.field("ChangedAt"));
    entry->account = r.field("UserName").str();
    entry->name = r.field("TureName").str();
  }
  r.Close();
  return entry;
}

std::string full_name(const Variant& conn, const std::string& account) {
  if (account.empty()) return "";
  Variant rows = open_rows("select TureName from kx_userinfor where UserName='" + sql_text(Variant(account)) + "'", conn);
  Recordset& r = rows.as<Recordset>();
  std::string name = r.Eof() ? "" : r.field("TureName").str();
  r.Close();
  return name;
}

std::string display_value(const Variant& conn, std::string_view column, const std::string& value) {
  const bool users = ascii_iequals(column, "JiaoSeUserList") || ascii_iequals(column, "FenFaUser");
  const bool departments = ascii_iequals(column, "FenFaBuMen");
  if (!users && !departments) return value;
  std::vector<std::string> shown;
  for (const std::string& entry : entries_of(value)) {
    std::string name;
    if (users) {
      name = full_name(conn, entry);
      if (!name.empty()) name += "（" + entry + "）";
    } else if (whole_number(entry)) {
      Variant rows = open_rows("select DepartName from KX_Department where DepartMentID=" + entry, conn);
      Recordset& r = rows.as<Recordset>();
      if (!r.Eof()) name = r.field("DepartName").str();
      r.Close();
    }
    shown.push_back(name.empty() ? entry + "（不存在）" : name);
  }
  return joined(shown, "、");
}

std::string outcome_text(std::string_view outcome) {
  if (outcome == kOutcomeSaved) return "已保存";
  if (outcome == kOutcomeConflict) return "未保存：节点已被他人修改";
  if (outcome == kOutcomeBadList) return "未保存：用户或部门列表有误";
  if (outcome == kOutcomeForbidden) return "未保存：没有流程设置权限";
  return std::string(outcome);
}

namespace {

// Runs `body(page)` on a library page bound to `session`, with the request's
// connection open as every page opens it; false when that failed (logged to
// the event log).
bool on_library_page(ApplicationState& application, Session& session, bool reads_only,
                     const std::function<void(Page& page)>& body) {
  try {
    MemoryCall call(application);
    call.bind(&session, reads_only);
    LibraryPage page;
    page.bind_request_context();
    page.tvdb_connI_init();
    if (page.conn.is_empty() || page.conn.is_null()) return false;
    try {
      body(page);
    } catch (...) {
      page.closedb();
      throw;
    }
    page.closedb();
    return true;
  } catch (...) {
    event_log().write(kEventError, "oapx1 serve: node editing: " + failure_text(std::current_exception()));
    return false;
  }
}

}  // namespace

bool with_library_connection(ApplicationState& application, Session& session, bool reads_only,
                             const std::function<void(const Variant& conn)>& body) {
  return on_library_page(application, session, reads_only, [&](Page& page) { body(page.conn); });
}

bool user_may_edit(ApplicationState& application, const Session& session, const std::string& permission,
                   std::optional<int64_t> node, std::string* version) {
  if (version) version->clear();
  const std::string account = session.item("UserName").str();
  if (account.empty()) return false;
  // The library's role check reads the user's id from the session; the
  // host's sessions hold the account only, so a session of the check's own
  // carries both. The id, the check and the node's row are read on one page.
  MemorySession check;
  check.set_item("UserName", Variant(account));
  bool allowed = false;
  on_library_page(application, check, true, [&](Page& page) {
    Variant rows =
        open_rows("select OAID from kx_userinfor where UserName='" + sql_text(Variant(account)) + "'", page.conn);
    Recordset& r = rows.as<Recordset>();
    if (!r.Eof()) check.set_item("_userId", r.field("OAID"));
    r.Close();
    Variant code(permission), user(account);
    allowed = script_equal(page.userhaspower(code, user), true);
    if (!allowed || !node || !version) return;
    try {
      *version = node_version(page.conn, *node);
    } catch (...) {
      event_log().write(kEventError, "oapx1 serve: node editing: " + failure_text(std::current_exception()));
    }
  });
  return allowed;
}

void audit_node_save(ApplicationState& application, Session& session, const std::string& remark) {
  MemoryCall call(application);
  call.bind(&session, false);
  LibraryPage page;
  page.bind_request_context();
  page.tvdb_connI_init();
  Variant text(remark);
  page.oplog(text);
  page.closedb();
}

std::string history_text(const Variant& conn, const std::vector<NodeHistoryEntry>& entries) {
  std::string out;
  for (const NodeHistoryEntry& e : entries) {
    out += e.when + "  " + e.name + " (" + e.account + ")  " + e.address + "  " + outcome_text(e.outcome) + "\n";
    if (!e.remark.empty() && e.outcome != kOutcomeSaved) out += "  " + e.remark + "\n";
    for (const ColumnChange& c : e.changes) {
      out += "  " + c.column + ": " + display_value(conn, c.column, c.before) + " -> " +
             display_value(conn, c.column, c.after) + "\n";
    }
  }
  return out;
}

}  // namespace oapx1
