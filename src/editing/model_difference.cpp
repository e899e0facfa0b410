#include "editing/model_difference.h"

#include <algorithm>
#include <set>

#include "editing/posted_values.h"
#include "editing/rows.h"

namespace oapx1::editing {

namespace {

// The words of the choices of the node form's lists.
struct Choice {
  const char* column;
  const char* value;
  const char* words;
};
constexpr Choice kChoices[] = {
    {"BanLiType", "1", "办理式"},       {"BanLiType", "3", "分发式"},       {"ProcessType", "1", "并行"},
    {"ProcessType", "2", "会签"},       {"isFirst", "1", "开始节点"},       {"isFirst", "0", "中间节点"},
    {"isFirst", "3", "可结束流程节点"}, {"IsYiJianTotal", "1", "允许查看"}, {"IsYiJianTotal", "0", "不允许查看"},
};

// Whether a column is a check box of the node form ("1" ticked, "0" not).
bool is_flag(std::string_view column) {
  return column == "DaiLiIsAble" || column == "IsRecMark" || column == "IsPrint" || column == "youjiantixing" ||
         (column.starts_with("is") && column != "isFirst");
}

std::string text_words(std::string_view column, const Cell& cell) {
  if (cell.null || cell.text.empty()) return "（空）";
  for (const Choice& c : kChoices) {
    if (column == c.column && cell.text == c.value) return c.words;
  }
  if (is_flag(column) && (cell.text == "1" || cell.text == "0")) return cell.text == "1" ? "是" : "否";
  return "“" + cell.text + "”";
}

// The time limit of a node: "2 天", "不限", or "（空）".
std::string time_words(const Cell& wait, const Cell& unit) {
  if (!unit.null && unit.text == "不限") return "不限";
  if ((wait.null || wait.text.empty()) && (unit.null || unit.text.empty())) return "（空）";
  return (wait.null ? "" : wait.text) + " " + (unit.null ? "" : unit.text);
}

// An entry of a list as people know it: an account's full name, a path.
std::string entry_words(const std::string& entry, CellKind kind, const TransferDirectory& directory) {
  if (kind != CellKind::kLogins) return entry;
  const auto* account = directory.account(entry);
  return account && !account->second.empty() ? account->second : entry;
}

std::string list_words(const Cell& before, const Cell& after, CellKind kind, const TransferDirectory& directory) {
  const std::set<std::string> had(before.entries.begin(), before.entries.end());
  const std::set<std::string> has(after.entries.begin(), after.entries.end());
  std::string words;
  for (const std::string& e : after.entries) {
    if (!had.count(e)) words += " +" + entry_words(e, kind, directory);
  }
  for (const std::string& e : before.entries) {
    if (!has.count(e)) words += " −" + entry_words(e, kind, directory);
  }
  if (!words.empty()) return words;
  auto all = [&](const Cell& cell) {
    if (cell.null) return std::string("（空）");
    std::vector<std::string> names;
    for (const std::string& e : cell.entries) names.push_back(entry_words(e, kind, directory));
    return names.empty() ? std::string("（无）") : joined(names, "、");
  };
  return " " + all(before) + " → " + all(after);
}

}  // namespace

std::string node_difference(const PortableNode& before, const PortableNode& after, const TransferDirectory& directory) {
  const auto columns = transfer_columns();
  std::vector<std::string> parts;
  if (before.name != after.name) parts.push_back("节点名称 “" + before.name + "” → “" + after.name + "”");
  size_t wait = 0;
  while (std::string_view(columns[wait].column) != "WaitTime") ++wait;
  for (size_t i = 0; i < columns.size(); ++i) {
    const std::string_view column = columns[i].column;
    if (column == "WaitTime") continue;
    if (column == "TimeUnit") {
      if (before.cells[i] == after.cells[i] && before.cells[wait] == after.cells[wait]) continue;
      parts.push_back("时限 " + time_words(before.cells[wait], before.cells[i]) + " → " +
                      time_words(after.cells[wait], after.cells[i]));
      continue;
    }
    if (before.cells[i] == after.cells[i]) continue;
    const std::string caption = column_label(column);
    if (columns[i].kind == CellKind::kText) {
      parts.push_back(caption + " " + text_words(column, before.cells[i]) + " → " + text_words(column, after.cells[i]));
    } else {
      parts.push_back(caption + list_words(before.cells[i], after.cells[i], columns[i].kind, directory));
    }
  }
  return joined(parts, "; ");
}

std::vector<std::string> model_difference(const ModelStep& step, const TransferDirectory& directory) {
  const PortableModel& file = step.file;
  const std::string form = file.has_form ? "“" + file.form + "”" : "（无）";
  std::vector<std::string> lines;
  if (step.model == 0) {
    std::vector<std::string> names;
    for (const PortableNode& n : file.nodes) names.push_back(n.name);
    const std::string with_form = file.has_form ? "表单 " + form + (step.form == 0 ? "，新建" : "") : "无表单";
    lines.push_back("新建流程模型 “" + file.name + "”（" + with_form + "），" + std::to_string(file.nodes.size()) +
                    " 个节点：" + joined(names, "、"));
    return lines;
  }
  lines.push_back("流程模型 “" + step.name_before + "”");
  if (step.name_before != file.name) lines.push_back("  模型名称 “" + step.name_before + "” → “" + file.name + "”");
  const std::string form_before = step.form_before ? "“" + *step.form_before + "”" : "（无）";
  if (form_before != form) {
    lines.push_back("  表单 " + form_before + " → " + form + (file.has_form && step.form == 0 ? "（新建）" : ""));
  }
  std::vector<std::string> order_before(step.nodes.size()), order_after, kept;
  for (const NodeStep& n : step.nodes) {
    if (n.shown_position > 0) order_before[n.shown_position - 1] = n.before->name;
    if (!n.after) {
      kept.push_back(n.before->name);
    } else if (!n.before) {
      lines.push_back("  + 新节点 “" + n.after->name + "”（第 " + std::to_string(n.position) + " 步）");
    } else if (const std::string changed = node_difference(*n.before, *n.after, directory); !changed.empty()) {
      lines.push_back("  " + n.after->name + ": " + changed);
    }
  }
  std::vector<const NodeStep*> by_position;
  for (const NodeStep& n : step.nodes) by_position.push_back(&n);
  std::sort(by_position.begin(), by_position.end(), [](auto* a, auto* b) { return a->position < b->position; });
  for (const NodeStep* n : by_position) order_after.push_back(n->after ? n->after->name : n->before->name);
  std::erase(order_before, std::string());
  const bool moved = std::any_of(step.nodes.begin(), step.nodes.end(),
                                 [](const NodeStep& n) { return n.before && n.shown_position != n.position; });
  if (moved) lines.push_back("  节点顺序: " + joined(order_before, "、") + " → " + joined(order_after, "、"));
  if (!kept.empty()) lines.push_back("  保留（文件中没有，未改动）: " + joined(kept, "、"));
  if (lines.size() == 1 || (lines.size() == 2 && !kept.empty() && !moved)) lines[0] += ": 没有变化";
  return lines;
}

}  // namespace oapx1::editing
