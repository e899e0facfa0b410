#include "editing/node_restore.h"

#include <utility>
#include <vector>

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

// The node row a save of the form writes over `current` when it posts
// `posted`: posted_row, and what the node page sets besides (a waiting time
// only when it is a number; the opinions setting always "1"; the deputies
// box only with the handler type that allows it, else "0").
NodeRow saved_row(const NodeRow& current, const MemoryRequest& posted) {
  NodeRow row = posted_row(current, posted);
  if (!is_numeric(posted.item("WaitTime"))) set_column(row, "WaitTime", column_value(current, "WaitTime"));
  set_column(row, "IsYiJianTotal", "1");
  const bool deputies =
      script_equal(posted.item("BanLiRenType"), "3") && script_equal(posted.item("DaiLiIsAble"), "on");
  set_column(row, "DaiLiIsAble", deputies ? "1" : "0");
  return row;
}

// The request a restore to `target` posts: the form's items for its values,
// checked against `version`.
MemoryRequest restore_post(int64_t node, const NodeRow& target, const std::string& version) {
  std::vector<std::pair<std::string, std::string>> form = row_post(target);
  form.emplace_back(kPostedVersionItem, version);
  return MemoryRequest({{"save", "true"}, {"OAID", std::to_string(node)}}, std::move(form));
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
  if (lines.empty() || lines.back().id != entry || is_refusal(lines.back().outcome)) {
    throw RestoreRefused("修改记录 #" + std::to_string(entry) + " 不是此节点的一次已保存的修改，无法恢复到它。");
  }
  // Newest first: each later change undone, the line's own kept.
  for (const NodeHistoryEntry& line : lines) {
    if (line.id == entry) break;
    if (is_refusal(line.outcome)) continue;
    for (const ColumnChange& c : shown_changes(line)) set_column(plan.target, c.column, c.before);
  }
  // What the save will write, and where that is not the settings after the line.
  const NodeRow saved = saved_row(plan.current, restore_post(node, plan.target, plan.version));
  plan.changes = row_changes(plan.current, saved);
  std::erase_if(plan.changes, reads_the_same);
  for (ColumnChange& c : row_changes(plan.current, plan.target)) {
    if (!same_value(c.column, column_value(saved, c.column), c.after)) plan.unsettable.push_back(std::move(c));
  }
  return plan;
}

std::string restored_message(int64_t entry) {
  return "系统提示：节点已恢复到修改记录 #" + std::to_string(entry) + " 之后的设置！";
}

RestoreResult restore_node(NodeEditing& editing, Session& session, const RestorePlan& plan,
                           const std::string& address, const std::function<void(MemoryRequest&)>& write_page) {
  RestoreResult result;
  MemoryRequest posted = restore_post(plan.node, plan.target, plan.version);
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
