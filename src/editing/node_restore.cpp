#include "editing/node_restore.h"

#include <utility>

#include "editing/node_history.h"
#include "editing/posted_values.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

// Sets `column` of `row` (matched without regard to letter case) to `value`.
void set_column(NodeRow& row, std::string_view column, const std::string& value) {
  for (auto& [name, v] : row) {
    if (ascii_iequals(name, column)) v = value;
  }
}

// Whether a save posting row_post(target) sets `column` to its value in
// `target`: the text items (a waiting time only when it is a number, as the
// page stores it) and the check boxes do; the deputies box only with the
// handler type that allows it; the opinions setting is always "1"; the other
// columns a save keeps.
bool save_sets(const NodeRow& target, std::string_view column) {
  const std::string value = column_value(target, column);
  if (ascii_iequals(column, "WaitTime")) return is_numeric(Variant(value));
  if (ascii_iequals(column, "DaiLiIsAble")) return value != "1" || column_value(target, "BanLiRenType") == "3";
  if (ascii_iequals(column, "IsYiJianTotal")) return value == "1";
  return save_writes(column);
}

}  // namespace

RestorePlan plan_restore(const Variant& conn, int64_t node, int64_t entry) {
  RestorePlan plan;
  plan.node = node;
  plan.entry = entry;
  const std::optional<NodeRow> current = read_node_row(conn, node);
  if (!current) throw RestoreRefused("没有编号为 " + std::to_string(node) + " 的流程节点。");
  plan.current = *current;
  plan.version = row_version(plan.current);
  plan.target = plan.current;
  const std::vector<NodeHistoryEntry> lines = read_history_from(conn, node, entry);
  if (lines.empty() || lines.back().id != entry || is_refused(lines.back().outcome)) {
    throw RestoreRefused("修改记录 #" + std::to_string(entry) + " 不是此节点的一次已保存的修改，无法恢复到它。");
  }
  // Newest first: each later change undone, the line's own kept.
  for (const NodeHistoryEntry& line : lines) {
    if (line.id == entry) break;
    if (is_refused(line.outcome)) continue;
    for (const ColumnChange& c : shown_changes(line)) set_column(plan.target, c.column, c.before);
  }
  for (ColumnChange& c : row_changes(plan.current, plan.target)) {
    (save_sets(plan.target, c.column) ? plan.changes : plan.unsettable).push_back(std::move(c));
  }
  return plan;
}

std::string restored_message(int64_t entry) {
  return "系统提示：节点已恢复到修改记录 #" + std::to_string(entry) + " 之后的设置！";
}

RestoreResult restore_node(NodeEditing& editing, Session& session, const RestorePlan& plan,
                           const std::string& address, const std::function<void(MemoryRequest&)>& write_page) {
  RestoreResult result;
  std::vector<std::pair<std::string, std::string>> form = row_post(plan.target);
  form.emplace_back(kPostedVersionItem, plan.version);
  MemoryRequest posted({{"save", "true"}, {"OAID", std::to_string(plan.node)}}, std::move(form));
  result.message = check_posted_lengths(posted);
  if (!result.message.empty()) return result;
  NodeSave save(editing, session, plan.node, address);
  if (!editing.may_edit(session)) {
    save.refuse_forbidden(posted);
    result.forbidden = true;
    result.message = kForbiddenMessage;
    return result;
  }
  result.message = save.check(posted);
  if (!result.message.empty()) return result;
  save.record_as_restore(restored_message(plan.entry));
  write_page(posted);
  result.version = save.finish();
  result.restored = !save.lost();
  result.message = result.restored ? restored_message(plan.entry) : kNotStoredMessage;
  return result;
}

}  // namespace oapx1
