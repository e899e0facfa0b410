// Planning and applying the import of a model file (editing/model_transfer.h).
#include <algorithm>
#include <set>

#include "editing/model_difference.h"
#include "editing/model_rows.h"
#include "editing/model_transfer.h"
#include "editing/node_history.h"
#include "editing/rows.h"
#include "lookups/rows.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

namespace {

using editing::first_text;
using editing::joined;
using editing::quoted_text;
using editing::TransferDirectory;

// The file's entries, mapped, in the installation's spelling; an entry the
// installation does not know goes to `unknown` (and stays as it is).
struct Resolver {
  const TransferMap& map;
  const TransferDirectory& directory;
  std::set<std::string> unknown_logins, unknown_departments;

  void resolve(PortableNode& node) {
    const auto columns = transfer_columns();
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].kind == CellKind::kText) continue;
      std::vector<std::string> entries;
      bool mapped = false;
      for (std::string& entry : node.cells[i].entries) {
        const Mapped how = columns[i].kind == CellKind::kLogins ? login(entry) : department(entry);
        mapped = mapped || how != Mapped::kAsIs;
        if (how != Mapped::kGone) entries.push_back(std::move(entry));
      }
      // Entries the map makes the same are one entry; a list it left alone stays as it is.
      if (mapped) {
        std::vector<std::string> once;
        for (std::string& e : entries) {
          if (std::find(once.begin(), once.end(), e) == once.end()) once.push_back(std::move(e));
        }
        entries = std::move(once);
      }
      node.cells[i].entries = std::move(entries);
    }
  }
  // What the map did to an entry.
  enum class Mapped { kAsIs, kMapped, kGone };
  Mapped login(std::string& entry) {
    const auto to = map.logins.find(ascii_lower(entry));
    if (to != map.logins.end()) entry = to->second;
    if (entry.empty()) return Mapped::kGone;
    if (const auto* account = directory.account(entry))
      entry = account->first;
    else
      unknown_logins.insert(entry);
    return to != map.logins.end() ? Mapped::kMapped : Mapped::kAsIs;
  }
  Mapped department(std::string& entry) {
    const auto to = map.departments.find(entry);
    if (to != map.departments.end()) entry = to->second;
    if (entry.empty()) return Mapped::kGone;
    const size_t found = directory.departments.ids(entry).size();
    if (found != 1) unknown_departments.insert(found == 0 ? entry : entry + "（不唯一）");
    return to != map.departments.end() ? Mapped::kMapped : Mapped::kAsIs;
  }
};

// The model the file's key names now, with its name and form.
void find_target(const Variant& conn, ModelStep& step) {
  const std::string id =
      first_text(conn, "select ModelID from OAPX1_Model where ModelKey=" + quoted_text(step.file.key));
  if (id.empty()) return;
  Variant rows = open_rows(
      "select h.ModelName, f.BiaoDanName from OA_Flow_Model_Header h left join OA_Flow_BiaoDan f"
      " on f.OAID=h.BiaoDanID where h.OAID=" +
          id,
      conn);
  Recordset& r = rows.as<Recordset>();
  if (r.Eof()) {
    step.stale_key = true;
  } else {
    step.model = std::stoll(id);
    step.name_before = r.field("ModelName").str();
    if (!r.field("BiaoDanName").is_null()) step.form_before = r.field("BiaoDanName").str();
  }
  r.Close();
}

// The nodes of the step: the file's, matched by name in order with the
// model's, then the model's the file does not have.
void match_nodes(const Variant& conn, ModelStep& step, const TransferDirectory& directory) {
  std::vector<editing::StoredNode> stored;
  if (step.model != 0) stored = editing::read_model_nodes(conn, step.model, directory.departments);
  std::vector<bool> matched(stored.size());
  int64_t position = 0;
  for (const PortableNode& node : step.file.nodes) {
    NodeStep s;
    s.after = node;
    s.position = ++position;
    for (size_t j = 0; j < stored.size(); ++j) {
      if (matched[j] || stored[j].node.name != node.name) continue;
      matched[j] = true;
      s.node = stored[j].id;
      s.before = stored[j].node;
      s.stored = stored[j].stored;
      s.stored_position = stored[j].position;
      s.shown_position = static_cast<int64_t>(j) + 1;
      break;
    }
    step.nodes.push_back(std::move(s));
  }
  for (size_t j = 0; j < stored.size(); ++j) {
    if (matched[j]) continue;
    NodeStep s;
    s.node = stored[j].id;
    s.before = stored[j].node;
    s.stored = stored[j].stored;
    s.stored_position = stored[j].position;
    s.shown_position = static_cast<int64_t>(j) + 1;
    s.position = ++position;
    step.nodes.push_back(std::move(s));
  }
}

// Whether applying the step changes what people see.
bool step_changes(const ModelStep& step) {
  if (step.model == 0) return true;
  const std::optional<std::string> form = step.file.has_form ? std::optional(step.file.form) : std::nullopt;
  if (step.name_before != step.file.name || step.form_before != form) return true;
  return std::any_of(step.nodes.begin(), step.nodes.end(), [](const NodeStep& n) {
    return (n.after && (!n.before || *n.after != *n.before)) || (n.before && n.shown_position != n.position);
  });
}

}  // namespace

std::string ImportPlan::refusal() const {
  std::vector<std::string> problems;
  if (!unknown_logins.empty()) problems.push_back("本系统没有这些帐号：" + joined(unknown_logins, "、"));
  if (!unknown_departments.empty()) problems.push_back("本系统没有这些部门：" + joined(unknown_departments, "、"));
  if (problems.empty()) return "";
  return joined(problems, "；") + "。请在对照文件中为它们指定本系统的帐号或部门（或留空以去掉），什么也没有导入。";
}

ImportPlan plan_import(const Variant& conn, const std::vector<PortableModel>& models, const TransferMap& map) {
  const TransferDirectory directory(conn);
  Resolver resolver{map, directory, {}, {}};
  ImportPlan plan;
  NodeRow digest;
  for (const PortableModel& model : models) {
    ModelStep step;
    step.file = model;
    for (PortableNode& node : step.file.nodes) resolver.resolve(node);
    find_target(conn, step);
    if (step.file.has_form) {
      const std::string form = first_text(
          conn, "select OAID from OA_Flow_BiaoDan where BiaoDanName=" + quoted_text(step.file.form) + " order by OAID");
      step.form = form.empty() ? 0 : std::stoll(form);
    }
    match_nodes(conn, step, directory);
    plan.changes = plan.changes || step_changes(step);
    for (std::string& line : editing::model_difference(step, directory)) plan.lines.push_back(std::move(line));
    digest.emplace_back("model", std::to_string(step.model) + "/" + std::to_string(step.form));
    for (const NodeStep& n : step.nodes) digest.emplace_back("node", std::to_string(n.node));
    plan.models.push_back(std::move(step));
  }
  plan.unknown_logins.assign(resolver.unknown_logins.begin(), resolver.unknown_logins.end());
  plan.unknown_departments.assign(resolver.unknown_departments.begin(), resolver.unknown_departments.end());
  for (const std::string& line : plan.lines) digest.emplace_back("line", line);
  plan.digest = row_version(digest);
  return plan;
}

}  // namespace oapx1
