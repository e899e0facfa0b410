#include "editing/model_transfer.h"

#include <random>

#include <nlohmann/json.hpp>

#include "editing/model_rows.h"
#include "editing/models.h"
#include "editing/node_history.h"
#include "editing/posted_lists.h"
#include "editing/posted_values.h"
#include "lookups/rows.h"
#include "platform/data/connection.h"
#include "platform/data/held_write.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1 {

namespace {

using editing::first_text;
using editing::quoted_text;

// The most bytes of a map file.
constexpr size_t kMostMapBytes = 1024 * 1024;

// The key of model `model`, given one when it has none.
std::string model_key(const Variant& conn, int64_t model) {
  const std::string id = std::to_string(model);
  std::string key = first_text(conn, "select ModelKey from OAPX1_Model where ModelID=" + id);
  if (!key.empty()) return key;
  key = new_model_key();
  Connection& c = conn.as<Connection>();
  c.execute(Variant("delete from OAPX1_Model where ModelID=" + id));
  c.execute(Variant("insert into OAPX1_Model (ModelID, ModelKey) values (" + id + ", " + quoted_text(key) + ")"));
  return key;
}

}  // namespace

PortableModel export_model(const Variant& conn, int64_t model) {
  Variant rows = open_rows(
      "select h.ModelName, h.BiaoDanID, f.BiaoDanName, f.ZhengWenType from OA_Flow_Model_Header h "
      "left join OA_Flow_BiaoDan f on f.OAID=h.BiaoDanID where h.OAID=" +
          std::to_string(model),
      conn);
  Recordset& r = rows.as<Recordset>();
  if (r.Eof()) {
    r.Close();
    throw TransferError("没有流程模型 " + std::to_string(model));
  }
  PortableModel out;
  out.name = r.field("ModelName").str();
  out.has_form = !r.field("BiaoDanName").is_null();
  out.form = r.field("BiaoDanName").str();
  out.form_body = r.field("ZhengWenType").str();
  r.Close();
  const DepartmentPaths departments(conn);
  for (editing::StoredNode& node : editing::read_model_nodes(conn, model, departments)) {
    out.nodes.push_back(std::move(node.node));
  }
  out.key = model_key(conn, model);
  return out;
}

std::string export_model_json(const Variant& conn, int64_t model) {
  const PortableModel exported = export_model(conn, model);
  return write_model_file({&exported, 1});
}

std::string deleted_model_file(const Variant& conn, int64_t model) {
  const std::string id = std::to_string(model);
  const std::string changes = first_text(conn, "select Changes from OAPX1_NodeHistory where ModelID=" + id +
                                                   " and Outcome='" + std::string(kOutcomeModelDeleted) +
                                                   "' order by OAID desc");
  if (changes.empty()) throw TransferError("the history has no deleted model " + id);
  // The line's changes: [["ModelName", name, ""], ["Export", file, ""]].
  const nlohmann::json kept = nlohmann::json::parse(changes, nullptr, false);
  if (kept.is_array()) {
    for (const nlohmann::json& change : kept) {
      if (change.is_array() && change.size() >= 2 && change[0] == "Export" && change[1].is_string()) {
        return change[1].get<std::string>();
      }
    }
  }
  throw TransferError("the history line of deleted model " + id + " keeps no model file");
}

std::vector<int64_t> all_models(const Variant& conn) {
  Variant rows = open_rows("select OAID from OA_Flow_Model_Header order by OAID", conn);
  Recordset& r = rows.as<Recordset>();
  std::vector<int64_t> models;
  for (; !r.Eof(); r.MoveNext()) models.push_back(r.field("OAID").to_integer());
  r.Close();
  return models;
}

int64_t find_model(const Variant& conn, const std::string& text) {
  auto ids = [&](const std::string& sql) {
    std::vector<int64_t> found;
    Variant rows = open_rows(sql, conn);
    Recordset& r = rows.as<Recordset>();
    for (; !r.Eof(); r.MoveNext()) found.push_back(r.field(0).to_integer());
    r.Close();
    return found;
  };
  std::vector<int64_t> found;
  if (const std::optional<int64_t> id = whole_number(text)) {
    found = ids("select OAID from OA_Flow_Model_Header where OAID=" + std::to_string(*id));
  }
  if (found.empty() && valid_model_key(text)) {
    found = ids("select h.OAID from OA_Flow_Model_Header h, OAPX1_Model k where k.ModelID=h.OAID and k.ModelKey=" +
                quoted_text(text));
  }
  if (found.empty())
    found = ids("select OAID from OA_Flow_Model_Header where ModelName=" + quoted_text(text) + " order by OAID");
  if (found.empty()) throw TransferError("没有流程模型 “" + text + "”（按编号、模型键或名称）");
  if (found.size() > 1) {
    std::string list;
    for (int64_t id : found) list += (list.empty() ? "" : "、") + std::to_string(id);
    throw TransferError("有 " + std::to_string(found.size()) + " 个流程模型名为 “" + text + "”（编号 " + list +
                        "），请用编号指定");
  }
  return found.front();
}

TransferMap read_transfer_map(std::string_view text) {
  if (text.size() > kMostMapBytes) throw TransferError("对照文件太大（最多 1 MB）");
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  TransferMap map;
  size_t number = 0;
  for (size_t start = 0; start <= text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.starts_with('#')) continue;
    const std::string where = "对照文件第 " + std::to_string(number + 1) + " 行";
    const bool department = line.starts_with("dept:");
    if (department) line.remove_prefix(5);
    const size_t comma = line.find(',');
    if (comma == std::string_view::npos) throw TransferError(where + "：应为 “旧,新” 或 “dept:旧路径,新路径”");
    const std::string from(line.substr(0, comma)), to(line.substr(comma + 1));
    if (from.empty() || has_control_character(line, false) || line.find(';') != std::string_view::npos) {
      throw TransferError(where + "：旧值不能为空，两边都不能含有“;”或控制字符");
    }
    if (department)
      map.departments[from] = to;
    else
      map.logins[ascii_lower(from)] = to;
  }
  return map;
}

ImportPlan import_models(const Variant& conn, std::string_view text, const TransferMap& map, const ImportActor& actor,
                         ImportMode mode, bool* applied, std::string_view expected) {
  *applied = false;
  const std::vector<PortableModel> models = read_model_file(text);
  if (mode == ImportMode::kDryRun) return plan_import(conn, models, map);
  // The plan is made and applied in one transaction: what it read cannot
  // change before it is written.
  Connection& c = conn.as<Connection>();
  HeldWrite write;
  write.begin(c, "OAPX1_Model", "ModelID", 0);
  try {
    ImportPlan plan = plan_import(conn, models, map);
    if (!plan.refusal().empty() || (!expected.empty() && plan.digest != expected)) {
      write.rollback(c);
      return plan;
    }
    apply_import(conn, plan, actor);
    write.commit(c);
    *applied = true;
    return plan;
  } catch (...) {
    write.rollback(c);
    throw;
  }
}

}  // namespace oapx1
