#include "editing/models.h"

#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <utility>

#include "editing/model_transfer.h"
#include "editing/node_history.h"
#include "editing/node_save.h"
#include "editing/posted_lists.h"
#include "editing/rows.h"
#include "lookups/rows.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

using editing::joined;
using editing::value_text;

// The export's format, for the import that reads it back.
// The most characters of a form's body type.
constexpr size_t kBodyTypeCharacters = 50;

// The columns of a node the list of models reads to count and check it.
constexpr char kListedColumns[] = "j.OAID, j.MOAID, j.JieDianName, j.BanLiRenType, j.JiaoSeUserList, j.FenFaUser, j.FenFaBuMen";

std::string text(const Variant& v) { return v.is_null() ? std::string() : value_text(v); }

std::string model_missing(int64_t model) {
  return "系统提示：流程模型（" + std::to_string(model) + "）不存在，什么也没有改变！";
}

constexpr char kModelChanged[] =
    "系统提示：此流程模型在您打开之后已被修改，什么也没有改变；下面显示的是它现在的样子，请再试一次。";

// The statement of the models' rows, with their forms' names; `where` narrows it.
std::string models_sql(const std::string& where) {
  return "select h.OAID, h.ModelName, h.BiaoDanID, b.BiaoDanName from OA_Flow_Model_Header h "
         "left join OA_Flow_BiaoDan b on b.OAID=h.BiaoDanID" + where + " order by h.ModelName, h.OAID";
}

// The newest line of the history under each model that is no refusal.
std::string last_changes_sql(const std::string& where) {
  std::string refusals;
  for (std::string_view o : {kOutcomeConflict, kOutcomeBadList, kOutcomeForbidden, kOutcomeBadValue}) {
    refusals += (refusals.empty() ? "'" : ",'") + std::string(o) + "'";
  }
  return "select ModelID, UserName, TureName, ChangedAt from OAPX1_NodeHistory where OAID in "
         "(select max(OAID) from OAPX1_NodeHistory where ModelID>0" + where + " and Outcome not in (" + refusals +
         ") group by ModelID)";
}

// Fills the models' nodes, problems, last changes and versions.
void complete(const Variant& conn, std::vector<ModelSummary>& models, const std::string& node_where,
              const std::string& history_where) {
  std::map<int64_t, ModelSummary*> by_id;
  for (ModelSummary& m : models) by_id[m.id] = &m;
  DirectorySnapshot directory(conn);
  const std::vector<NodeRow> nodes = read_node_rows(
      conn, "select " + std::string(kListedColumns) +
                " from OA_Flow_Model_JieDian j left join OAPX1_NodeOrder o on o.NodeID=j.OAID" + node_where +
                " order by j.MOAID, case when o.Position is null then 1 else 0 end, o.Position, j.OAID");
  std::map<int64_t, std::vector<std::string>> ids;
  for (const NodeRow& node : nodes) {
    auto it = by_id.find(whole_number(column_value(node, "MOAID")).value_or(0));
    if (it == by_id.end()) continue;
    const std::string name = column_value(node, "JieDianName");
    it->second->nodes.push_back(name);
    ids[it->first].push_back(column_value(node, "OAID") + ":" + name);
    std::string problem = stored_node_problems(directory, node);
    if (!problem.empty()) {
      it->second->problems.push_back(
          {whole_number(column_value(node, "OAID")).value_or(0), name, std::move(problem)});
    }
  }
  Variant rows = open_rows(last_changes_sql(history_where), conn);
  Recordset& r = rows.as<Recordset>();
  for (; !r.Eof(); r.MoveNext()) {
    auto it = by_id.find(whole_number(text(r.field("ModelID"))).value_or(0));
    if (it == by_id.end()) continue;
    it->second->last_account = text(r.field("UserName"));
    it->second->last_name = text(r.field("TureName"));
    it->second->last_when = text(r.field("ChangedAt"));
  }
  r.Close();
  for (ModelSummary& m : models) m.version = row_version({{"ModelName", m.name}, {"nodes", joined(ids[m.id], ";")}});
}

std::vector<ModelSummary> read_models(const Variant& conn, std::optional<int64_t> only) {
  const std::string id = only ? std::to_string(*only) : "";
  Variant rows = open_rows(models_sql(only ? " where h.OAID=" + id : ""), conn);
  Recordset& r = rows.as<Recordset>();
  std::vector<ModelSummary> models;
  for (; !r.Eof(); r.MoveNext()) {
    ModelSummary& m = models.emplace_back();
    m.id = r.field("OAID").to_integer();
    m.name = text(r.field("ModelName"));
    m.form = text(r.field("BiaoDanName"));
  }
  r.Close();
  if (!models.empty()) {
    complete(conn, models, only ? " where j.MOAID=" + id : "", only ? " and ModelID=" + id : "");
  }
  return models;
}

// A change to the model a posted id names, as it was shown: the id checked,
// then in the model's write transaction the model read and checked against
// the version shown, and `body(current)` run; the refusal of any step, else
// what `body` returns.
std::string change_shown_model(const Variant& conn, std::string_view model_item, std::string_view shown,
                               const std::function<std::string(const ModelSummary&)>& body) {
  int64_t model = 0;
  if (std::string refusal = check_id("流程模型编号", model_item, model); !refusal.empty()) return refusal;
  return in_model_write(conn, model, [&]() -> std::string {
    const std::optional<ModelSummary> current = read_model(conn, model);
    if (!current) return model_missing(model);
    if (is_conflict(shown, current->version)) return kModelChanged;
    return body(*current);
  });
}

// Inserts a model row and its key; its id.
int64_t insert_model(const Variant& conn, const std::string& name, int64_t form) {
  const int64_t id = next_free_id(conn, "OA_Flow_Model_Header", "OAID", "ModelID");
  Variant rows = open_rows("select * from OA_Flow_Model_Header where OAID=0", conn);
  Recordset& r = rows.as<Recordset>();
  r.AddNew();
  r.set_field("OAID", Variant(id));
  r.set_field("BiaoDanID", Variant(form));
  r.set_field("ModelName", Variant(name));
  r.Update();
  const int64_t made = r.field("OAID").to_integer();
  r.Close();
  conn.as<Connection>().execute(Variant("insert into OAPX1_Model (ModelID, ModelKey) values (" +
                                        std::to_string(made) + ",'" + sql_text(Variant(new_model_key())) + "')"));
  return made;
}

// The form of model `model`; none when the model does not exist.
std::optional<int64_t> form_of(const Variant& conn, int64_t model) {
  Variant rows = open_rows("select BiaoDanID from OA_Flow_Model_Header where OAID=" + std::to_string(model), conn);
  Recordset& r = rows.as<Recordset>();
  std::optional<int64_t> form;
  if (!r.Eof()) form = whole_number(text(r.field("BiaoDanID"))).value_or(0);
  r.Close();
  return form;
}

// Copies node `node` (every column but its id and model, nulls kept) into
// model `model`; the new id.
int64_t copy_node(const Variant& conn, const NodeRow& node, int64_t model) {
  const int64_t id = next_free_id(conn, "OA_Flow_Model_JieDian", "OAID", "NodeID");
  std::string columns;
  for (const auto& [column, value] : node) {
    if (column != "OAID" && column != "MOAID") columns += "," + column;
  }
  conn.as<Connection>().execute(Variant("insert into OA_Flow_Model_JieDian (OAID,MOAID" + columns + ") select " +
                                        std::to_string(id) + "," + std::to_string(model) + columns +
                                        " from OA_Flow_Model_JieDian where OAID=" + column_value(node, "OAID")));
  return id;
}

}  // namespace

std::vector<ModelSummary> list_models(const Variant& conn) { return read_models(conn, std::nullopt); }

std::optional<ModelSummary> read_model(const Variant& conn, int64_t model) {
  std::vector<ModelSummary> found = read_models(conn, model);
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

std::string model_version(const ModelSummary& model) { return model.version; }

std::vector<FormSummary> list_forms(const Variant& conn) {
  Variant rows = open_rows(
      "select b.OAID, b.BiaoDanName, b.ZhengWenType, (select count(*) from OA_Flow_Model_Header h "
      "where h.BiaoDanID=b.OAID) as Models from OA_Flow_BiaoDan b order by b.BiaoDanName, b.OAID",
      conn);
  Recordset& r = rows.as<Recordset>();
  std::vector<FormSummary> forms;
  for (; !r.Eof(); r.MoveNext()) {
    forms.push_back({r.field("OAID").to_integer(), text(r.field("BiaoDanName")), text(r.field("ZhengWenType")),
                     r.field("Models").to_integer()});
  }
  r.Close();
  return forms;
}

ModelChange create_form(const Variant& conn, const Actor& actor, std::string name, std::string body_type) {
  ModelChange change;
  change.refusal = check_name("表单名称", name);
  if (change.refusal.empty() && !body_type.empty()) change.refusal = check_name("正文类型", body_type);
  if (change.refusal.empty() && body_type.size() > kBodyTypeCharacters) {
    change.refusal = "系统提示：正文类型最多 " + std::to_string(kBodyTypeCharacters) + " 个字符，什么也没有改变！";
  }
  if (!change.refusal.empty()) return change;
  if (body_type.empty()) body_type = "Word";
  change.refusal = in_model_write(conn, 0, [&]() -> std::string {
    Variant rows = open_rows("select * from OA_Flow_BiaoDan where OAID=0", conn);
    Recordset& r = rows.as<Recordset>();
    r.AddNew();
    r.set_field("BiaoDanName", Variant(name));
    r.set_field("ZhengWenType", Variant(body_type));
    r.Update();
    change.id = r.field("OAID").to_integer();
    r.Close();
    record_change(conn, actor, 0, 0, kOutcomeFormCreated, "新建表单“" + name + "”", {{"BiaoDanName", "", name}});
    return "";
  });
  return change;
}

ModelChange create_model(const Variant& conn, const Actor& actor, std::string name, std::string_view form_item) {
  ModelChange change;
  int64_t form = 0;
  change.refusal = check_name("流程模型名称", name);
  if (change.refusal.empty()) change.refusal = check_id("表单编号", form_item, form);
  if (!change.refusal.empty()) return change;
  change.refusal = in_model_write(conn, 0, [&]() -> std::string {
    Variant rows = open_rows("select OAID from OA_Flow_BiaoDan where OAID=" + std::to_string(form), conn);
    Recordset& r = rows.as<Recordset>();
    const bool exists = !r.Eof();
    r.Close();
    if (!exists) return "系统提示：表单（" + std::to_string(form) + "）不存在，什么也没有改变！";
    change.id = insert_model(conn, name, form);
    record_change(conn, actor, change.id, 0, kOutcomeModelCreated, "新建流程模型“" + name + "”",
           {{"ModelName", "", name}, {"BiaoDanID", "", std::to_string(form)}});
    return "";
  });
  if (!change.refusal.empty()) change.id = 0;
  return change;
}

ModelChange rename_model(const Variant& conn, const Actor& actor, std::string_view model_item, std::string name,
                         std::string_view shown) {
  ModelChange change;
  change.refusal = check_name("流程模型名称", name);
  if (!change.refusal.empty()) return change;
  change.refusal = change_shown_model(conn, model_item, shown, [&](const ModelSummary& current) -> std::string {
    change.id = current.id;
    if (current.name == name) return "";
    conn.as<Connection>().execute(Variant("update OA_Flow_Model_Header set ModelName='" + sql_text(Variant(name)) +
                                          "' where OAID=" + std::to_string(current.id)));
    record_change(conn, actor, current.id, 0, kOutcomeModelRenamed,
                  "流程模型“" + current.name + "”改名为“" + name + "”", {{"ModelName", current.name, name}});
    return "";
  });
  if (!change.refusal.empty()) change.id = 0;
  return change;
}

ModelChange copy_model(const Variant& conn, const Actor& actor, std::string_view model_item, std::string name) {
  ModelChange change;
  int64_t model = 0;
  change.refusal = check_id("流程模型编号", model_item, model);
  if (change.refusal.empty()) change.refusal = check_name("流程模型名称", name);
  if (!change.refusal.empty()) return change;
  change.refusal = in_model_write(conn, model, [&]() -> std::string {
    const std::optional<int64_t> form = form_of(conn, model);
    if (!form) return model_missing(model);
    change.id = insert_model(conn, name, *form);
    std::vector<int64_t> ids;
    for (const NodeRow& node : read_model_nodes(conn, model)) ids.push_back(copy_node(conn, node, change.id));
    write_node_order(conn, change.id, ids);
    record_change(conn, actor, change.id, 0, kOutcomeModelCopied,
           "复制流程模型（" + std::to_string(model) + "）为“" + name + "”，共 " + std::to_string(ids.size()) + " 个节点",
           {{"ModelName", "", name}, {"BiaoDanID", "", std::to_string(*form)}});
    return "";
  });
  if (!change.refusal.empty()) change.id = 0;
  return change;
}

ModelChange delete_model(const Variant& conn, const Actor& actor, std::string_view model_item,
                         std::string_view shown) {
  ModelChange change;
  change.refusal = change_shown_model(conn, model_item, shown, [&](const ModelSummary& current) -> std::string {
    const std::string exported = export_model_json(conn, current.id);
    const std::string id = std::to_string(current.id);
    Connection& c = conn.as<Connection>();
    c.execute(Variant("delete from OAPX1_NodeOrder where ModelID=" + id));
    c.execute(Variant("delete from OA_Flow_Model_JieDian where MOAID=" + id));
    c.execute(Variant("delete from OAPX1_Model where ModelID=" + id));
    c.execute(Variant("delete from OA_Flow_Model_Header where OAID=" + id));
    record_change(conn, actor, current.id, 0, kOutcomeModelDeleted,
                  "删除流程模型“" + current.name + "”及其 " + std::to_string(current.nodes.size()) + " 个节点" +
                      (current.nodes.empty() ? "" : "：" + joined(current.nodes, "、")),
                  {{"ModelName", current.name, ""}, {"Export", exported, ""}});
    return "";
  });
  return change;
}

std::string new_model_key() {
  // Straight from the system's random source: keys of two installations must not meet.
  std::random_device random;
  auto draw = [&random] { return (static_cast<uint64_t>(random()) << 32) | random(); };
  const uint64_t high = draw(), low = draw();
  char key[40];
  std::snprintf(key, sizeof key, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xffff), static_cast<unsigned>(high & 0xffff),
                static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xffffffffffffULL));
  return key;
}

}  // namespace oapx1
