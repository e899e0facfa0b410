// Applying a planned import of a model file (editing/model_transfer.h).
#include <map>

#include "editing/model_rows.h"
#include "editing/model_transfer.h"
#include "editing/node_history.h"
#include "lookups/rows.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"

namespace oapx1 {

namespace {

using editing::quoted_text;
using editing::stored_value;

// Writes the plan's rows on one connection, with one directory.
class Applier {
 public:
  Applier(const Variant& conn, const ImportActor& actor) : conn_(conn), departments_(conn) {
    entry_.account = actor.account;
    entry_.name = actor.name;
    entry_.address = actor.address;
    entry_.outcome = kOutcomeImported;
  }

  void apply(const ModelStep& step) {
    entry_.remark = "从文件导入流程模型 “" + step.file.name + "”";
    const int64_t form = form_of(step);
    const int64_t model = step.model != 0 ? update_model(step, form) : add_model(step, form);
    for (const NodeStep& node : step.nodes) apply_node(model, node);
  }

 private:
  void execute(const std::string& sql) { conn_.as<Connection>().execute(Variant(sql)); }

  // Adds a row to `table` with `fields`; its key, read from `key`.
  int64_t add_row(const std::string& table, const std::string& key,
                  const std::vector<std::pair<std::string, Variant>>& fields) {
    Variant rows = open_rows("select * from " + table + " where " + key + "=0", conn_);
    Recordset& r = rows.as<Recordset>();
    r.AddNew();
    for (const auto& [name, value] : fields) r.set_field(name, value);
    r.Update();
    const int64_t id = r.field(key).to_integer();
    r.Close();
    return id;
  }

  // The form the model is to name: the one found, or one added (once per name).
  int64_t form_of(const ModelStep& step) {
    if (!step.file.has_form) return 0;
    if (step.form != 0) return step.form;
    auto [added, fresh] = forms_.try_emplace(step.file.form, 0);
    if (fresh) {
      added->second =
          add_row("OA_Flow_BiaoDan", "OAID",
                  {{"BiaoDanName", Variant(step.file.form)}, {"ZhengWenType", Variant(step.file.form_body)}});
    }
    return added->second;
  }

  static Variant form_value(int64_t form) { return form == 0 ? Variant::null() : Variant(form); }

  int64_t add_model(const ModelStep& step, int64_t form) {
    if (step.stale_key) execute("delete from OAPX1_Model where ModelKey=" + quoted_text(step.file.key));
    const int64_t model = add_row("OA_Flow_Model_Header", "OAID",
                                  {{"ModelName", Variant(step.file.name)}, {"BiaoDanID", form_value(form)}});
    execute("insert into OAPX1_Model (ModelID, ModelKey) values (" + std::to_string(model) + ", " +
            quoted_text(step.file.key) + ")");
    record(0, model, {{"ModelName", "", step.file.name}, {"BiaoDanID", "", form ? std::to_string(form) : ""}});
    return model;
  }

  int64_t update_model(const ModelStep& step, int64_t form) {
    const std::string id = std::to_string(step.model);
    const std::string before =
        editing::first_text(conn_, "select BiaoDanID from OA_Flow_Model_Header where OAID=" + id);
    const std::string after = form ? std::to_string(form) : "";
    std::vector<ColumnChange> changes;
    if (step.name_before != step.file.name) changes.push_back({"ModelName", step.name_before, step.file.name});
    const std::optional<std::string> form_name = step.file.has_form ? std::optional(step.file.form) : std::nullopt;
    if (step.form_before != form_name) changes.push_back({"BiaoDanID", before, after});
    if (changes.empty()) return step.model;
    execute("update OA_Flow_Model_Header set ModelName=" + quoted_text(step.file.name) +
            ", BiaoDanID=" + (form ? after : std::string("NULL")) + " where OAID=" + id);
    record(0, step.model, changes);
    return step.model;
  }

  // The node's name and transfer columns as the import stores them.
  NodeRow row_after(const PortableNode& node) const {
    NodeRow row{{"JieDianName", node.name}};
    const auto columns = transfer_columns();
    for (size_t i = 0; i < columns.size(); ++i) {
      const Variant value = stored_value(node.cells[i], columns[i].kind, departments_);
      row.emplace_back(columns[i].column, value.is_null() ? "" : value.str());
    }
    return row;
  }

  void apply_node(int64_t model, const NodeStep& step) {
    int64_t node = step.node;
    std::vector<ColumnChange> changes;
    if (step.after && node == 0) {
      node = add_node(model, *step.after);
      NodeRow empty = row_after(*step.after);
      for (auto& [column, value] : empty) value.clear();
      changes = row_changes(empty, row_after(*step.after));
    } else if (step.after && *step.after != *step.before) {
      update_node(node, *step.before, *step.after);
      changes = row_changes(step.stored, row_after(*step.after));
    }
    if (step.stored_position != step.position) {
      execute("delete from OAPX1_NodeOrder where NodeID=" + std::to_string(node));
      execute("insert into OAPX1_NodeOrder (NodeID, ModelID, Position) values (" + std::to_string(node) + ", " +
              std::to_string(model) + ", " + std::to_string(step.position) + ")");
    }
    if (step.shown_position != step.position) {
      changes.push_back(
          {"Position", step.shown_position ? std::to_string(step.shown_position) : "", std::to_string(step.position)});
    }
    if (!changes.empty()) record(node, model, changes);
  }

  int64_t add_node(int64_t model, const PortableNode& node) {
    std::vector<std::pair<std::string, Variant>> fields{{"MOAID", Variant(model)}, {"JieDianName", Variant(node.name)}};
    const auto columns = transfer_columns();
    for (size_t i = 0; i < columns.size(); ++i) {
      fields.emplace_back(columns[i].column, stored_value(node.cells[i], columns[i].kind, departments_));
    }
    return add_row("OA_Flow_Model_JieDian", "OAID", fields);
  }

  void update_node(int64_t node, const PortableNode& before, const PortableNode& after) {
    std::string set;
    const auto columns = transfer_columns();
    for (size_t i = 0; i < columns.size(); ++i) {
      if (before.cells[i] == after.cells[i]) continue;
      const Variant value = stored_value(after.cells[i], columns[i].kind, departments_);
      set += std::string(set.empty() ? "" : ", ") + columns[i].column + "=" +
             (value.is_null() ? std::string("NULL") : quoted_text(value.str()));
    }
    if (before.name != after.name)
      set += std::string(set.empty() ? "" : ", ") + "JieDianName=" + quoted_text(after.name);
    if (!set.empty()) execute("update OA_Flow_Model_JieDian set " + set + " where OAID=" + std::to_string(node));
  }

  void record(int64_t node, int64_t model, std::vector<ColumnChange> changes) {
    entry_.node = node;
    entry_.model = model;
    entry_.changes = std::move(changes);
    record_history(conn_, entry_);
  }

  const Variant& conn_;
  DepartmentPaths departments_;           // the directory the plan was made with
  NodeHistoryEntry entry_;                // the history line being written
  std::map<std::string, int64_t> forms_;  // the forms added, by name
};

}  // namespace

void apply_import(const Variant& conn, const ImportPlan& plan, const ImportActor& actor) {
  Applier applier(conn, actor);
  for (const ModelStep& step : plan.models) applier.apply(step);
}

}  // namespace oapx1
