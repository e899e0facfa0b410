#include "editing/node_history.h"

#include <algorithm>
#include <utility>

#include <nlohmann/json.hpp>

#include "editing/posted_values.h"
#include "editing/rows.h"
#include "lookups/rows.h"
#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "platform/text/utf8.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

using editing::joined;
using editing::value_text;

namespace {

// The bytes of a digest's prefix, and of a refused line's remark.
constexpr size_t kDigestPrefixBytes = 24, kRefusedRemarkBytes = 512;

// The longest start of `text` of at most `bytes` bytes that ends between two
// characters.
std::string_view text_start(std::string_view text, size_t bytes) {
  size_t end = 0;
  for (size_t pos = 0; pos < text.size();) {
    utf8_next(text, pos);
    if (pos > bytes) break;
    end = pos;
  }
  return text.substr(0, end);
}

// Whether `value` is a digest value_digest made.
bool is_digest(std::string_view value) {
  return value.ends_with("］") && value.find("…［") != std::string_view::npos &&
         value.find(" 字节，校验 ") != std::string_view::npos;
}

}  // namespace

std::string value_digest(const std::string& value) {
  if (value.size() <= kRefusedValueBytes) return value;
  return std::string(text_start(value, kDigestPrefixBytes)) + "…［" + std::to_string(value.size()) +
         " 字节，校验 " + row_version({{"", value}}) + "］";
}

bool is_refusal(std::string_view outcome) {
  return outcome == kOutcomeConflict || outcome == kOutcomeBadList || outcome == kOutcomeForbidden ||
         outcome == kOutcomeBadValue;
}

int64_t record_history(const Variant& conn, const NodeHistoryEntry& entry) {
  // A refused post was never stored: its line says what it was, not all of it.
  const bool refused = is_refusal(entry.outcome);
  int64_t model = entry.model;
  if (model == 0 && entry.node != 0) {
    Variant found = open_rows("select MOAID from OA_Flow_Model_JieDian where OAID=" + std::to_string(entry.node), conn);
    Recordset& f = found.as<Recordset>();
    if (!f.Eof()) model = whole_number(f.field("MOAID").str()).value_or(0);
    f.Close();
  }
  auto kept = [&](const std::string& value) { return refused ? value_digest(value) : value; };
  nlohmann::json changes = nlohmann::json::array();
  for (const ColumnChange& c : entry.changes) {
    changes.push_back({c.column, kept(c.before), kept(c.after)});
  }
  Variant rows = open_rows("select * from OAPX1_NodeHistory where OAID=0", conn);
  Recordset& r = rows.as<Recordset>();
  r.AddNew();
  r.set_field("NodeID", Variant(entry.node));
  r.set_field("ModelID", Variant(model));
  r.set_field("UserName", Variant(entry.account));
  r.set_field("TureName", Variant(entry.name));
  r.set_field("IPAddress", Variant(entry.address));
  r.set_field("Outcome", Variant(entry.outcome));
  const std::string_view remark = refused ? text_start(entry.remark, kRefusedRemarkBytes) : entry.remark;
  r.set_field("Remark", Variant(std::string(remark)));
  r.set_field("Changes", Variant(changes.dump()));
  r.Update();
  const int64_t id = r.field("OAID").to_integer();
  r.Close();
  return id;
}

namespace {

// The history lines `sql` selects, of node `node`, in its order.
std::vector<NodeHistoryEntry> read_lines(const Variant& conn, const std::string& sql, int64_t node) {
  Variant rows = open_rows(sql, conn);
  Recordset& r = rows.as<Recordset>();
  std::vector<NodeHistoryEntry> entries;
  for (; !r.Eof(); r.MoveNext()) {
    NodeHistoryEntry e;
    e.id = r.field("OAID").to_integer();
    e.node = node;
    e.model = r.field("ModelID").is_null() ? 0 : r.field("ModelID").to_integer();
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

}  // namespace

std::vector<NodeHistoryEntry> read_history(const Variant& conn, int64_t node, int limit, int64_t skip) {
  std::string sql =
      "select * from OAPX1_NodeHistory where NodeID=" + std::to_string(node) + " order by OAID desc";
  if (limit > 0) {
    sql += " limit " + std::to_string(limit) + " offset " + std::to_string(std::max<int64_t>(skip, 0));
  }
  return read_lines(conn, sql, node);
}

std::vector<NodeHistoryEntry> read_history_from(const Variant& conn, int64_t node, int64_t first) {
  return read_lines(conn,
                    "select * from OAPX1_NodeHistory where NodeID=" + std::to_string(node) +
                        " and OAID>=" + std::to_string(first) + " order by OAID desc",
                    node);
}

PrunedRecords prune_records(const std::string& database, int days) {
  PrunedRecords pruned;
  if (days <= 0) return pruned;
  Connection connection;
  connection.Open(Variant(database));
  DbSession& session = connection.session();
  // The times are the database's local time as it recorded them.
  const std::string cutoff = session.dialect() == SqlDialect::kSqlite
                                 ? "datetime('now', 'localtime', '-" + std::to_string(days) + " days')"
                                 : "localtimestamp(0) - interval '1 day' * " + std::to_string(days);
  pruned.history = session.run("delete from OAPX1_NodeHistory where ChangedAt < " + cutoff, {}).affected;
  pruned.audit = session.run("delete from OA_Log where LogTime < " + cutoff, {}).affected;
  connection.Close();
  return pruned;
}

std::optional<NodeHistoryEntry> last_saved(const Variant& conn, int64_t node) {
  // A history that cannot be read (a database not yet given the table) names
  // nobody; the refusal it explains still stands.
  Variant rows;
  try {
    rows = open_rows("select top 1 * from OAPX1_NodeHistory where NodeID=" + std::to_string(node) +
                               " and Outcome in ('" + std::string(kOutcomeSaved) + "', '" +
                         std::string(kOutcomeRestored) + "') order by OAID desc",
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
  if (!users && !departments) return column_value_words(column, value);
  // A digest of a long list is no list: shown as it is.
  if (is_digest(value)) return value;
  std::vector<std::string> shown;
  for (const std::string& entry : list_entries(value)) {
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
  if (outcome == kOutcomeBadValue) return "未保存：提交的值不合要求";
  if (outcome == kOutcomeNodeAdded) return "添加节点";
  if (outcome == kOutcomeNodeMoved) return "移动节点";
  if (outcome == kOutcomeNodeRemoved) return "删除节点";
  if (outcome == kOutcomeModelCreated) return "新建流程模型";
  if (outcome == kOutcomeModelRenamed) return "重命名流程模型";
  if (outcome == kOutcomeModelCopied) return "复制流程模型";
  if (outcome == kOutcomeModelDeleted) return "删除流程模型";
  if (outcome == kOutcomeFormCreated) return "新建表单";
  if (outcome == kOutcomeImported) return "已导入";
  if (outcome == kOutcomeRestored) return "已恢复";
  return std::string(outcome);
}

bool reads_the_same(const ColumnChange& change) {
  if (same_value(change.column, change.before, change.after)) return true;
  // A check box stored as null and then as "0" is unticked both times.
  return !is_list_column(change.column) &&
         column_value_words(change.column, change.before) == column_value_words(change.column, change.after);
}

std::vector<ColumnChange> shown_changes(const NodeHistoryEntry& entry) {
  std::vector<ColumnChange> shown;
  for (const ColumnChange& c : entry.changes) {
    if (!reads_the_same(c)) shown.push_back(c);
  }
  return shown;
}

std::string history_text(const Variant& conn, const std::vector<NodeHistoryEntry>& entries) {
  std::string out;
  for (const NodeHistoryEntry& e : entries) {
    out += "#" + std::to_string(e.id) + "  " + e.when + "  " + e.name + " (" + e.account + ")  " + e.address +
           "  " + outcome_text(e.outcome) + "\n";
    if (!e.remark.empty() && is_refusal(e.outcome)) out += "  " + e.remark + "\n";
    for (const ColumnChange& c : shown_changes(e)) {
      out += "  " + history_label(c.column) + ": " + display_value(conn, c.column, c.before) + " -> " +
             display_value(conn, c.column, c.after) + "\n";
    }
  }
  return out;
}

}  // namespace oapx1
