#include "editing/model_file.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "editing/posted_lists.h"
#include "editing/posted_values.h"
#include "platform/text/utf8.h"

namespace oapx1 {

namespace {

using Json = nlohmann::ordered_json;

constexpr TransferColumn kTransferColumns[] = {
    {"BanLiType", CellKind::kText},    {"ProcessType", CellKind::kText},      {"TimeUnit", CellKind::kText},
    {"WaitTime", CellKind::kText},     {"IsYiJianTotal", CellKind::kText},    {"Remark", CellKind::kText},
    {"BanLiRenType", CellKind::kText}, {"JiaoSeUserList", CellKind::kLogins}, {"DaiLiIsAble", CellKind::kText},
    {"isFirst", CellKind::kText},      {"FenFaUser", CellKind::kLogins},      {"FenFaBuMen", CellKind::kDepartments},
    {"isTaoHong", CellKind::kText},    {"isImportWord", CellKind::kText},     {"isQianMing", CellKind::kText},
    {"isYinZhang", CellKind::kText},   {"isChaKanHenJi", CellKind::kText},    {"isXiuDingJiLu", CellKind::kText},
    {"IsRecMark", CellKind::kText},    {"isWordProtect", CellKind::kText},    {"isYanZhengQianMing", CellKind::kText},
    {"IsPrint", CellKind::kText},      {"isLocalSave", CellKind::kText},      {"youjiantixing", CellKind::kText},
    {"iszhuanban", CellKind::kText},   {"isgoutong", CellKind::kText},        {"isFenFa", CellKind::kText},
    {"isBoHui", CellKind::kText},
};

// The most characters of a text no posted item fills (a remark, a flag, a
// form's body type), of a list entry, and the most models, nodes and list
// entries a file may hold.
constexpr size_t kMostOtherChars = 2000, kMostEntryChars = 200;
constexpr size_t kMostModels = 1000, kMostNodes = 1000, kMostEntries = 10000;

[[noreturn]] void refuse(const std::string& where, const std::string& what) {
  throw TransferError((where.empty() ? "" : where + "：") + what);
}

// The characters of UTF-8 text.
size_t characters(std::string_view text) {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size(); ++count) utf8_next(text, pos);
  return count;
}

// The byte offset of the first byte that begins no UTF-8 character; npos
// when the text is UTF-8 throughout.
size_t first_invalid_utf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    const size_t at = pos;
    utf8_next(text, pos);
    if (pos == at + 1 && static_cast<unsigned char>(text[at]) >= 0x80) return at;
  }
  return std::string_view::npos;
}

// The deepest nesting of arrays and objects in JSON text, counted outside
// strings and stopping past `most`: looked at before the text is parsed.
int nesting(std::string_view text, int most) {
  int depth = 0, deepest = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size() && deepest <= most; ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

// A text value that fits: no more than `most` characters, no control
// character (a tab only where `tab`).
std::string checked_text(const Json& value, const std::string& where, size_t most, bool tab) {
  if (!value.is_string()) refuse(where, "应为文本");
  std::string text = value.get<std::string>();
  if (has_control_character(text, tab)) refuse(where, "含有不能保存的控制字符（如 NUL、换行）");
  const size_t length = characters(text);
  if (length > most) {
    refuse(where, "最多 " + std::to_string(most) + " 个字符，文件中有 " + std::to_string(length) + " 个");
  }
  return text;
}

// The members of `object` that none of `known` names, as a refusal.
void refuse_unknown_members(const Json& object, std::initializer_list<std::string_view> known,
                            const std::string& where) {
  for (const auto& [name, value] : object.items()) {
    bool found = false;
    for (std::string_view k : known) found = found || k == name;
    if (!found) refuse(where, "不认识的项 “" + name + "”");
  }
}

Cell read_cell(const Json& value, const TransferColumn& column, const std::string& where) {
  Cell cell;
  if (value.is_null()) return cell;
  cell.null = false;
  if (column.kind == CellKind::kText) {
    const size_t most = column_length(column.column);
    cell.text = checked_text(value, where, most ? most : kMostOtherChars, false);
    return cell;
  }
  if (!value.is_array()) refuse(where, "应为列表（数组）或 null");
  if (value.size() > kMostEntries) refuse(where, "列表太长");
  size_t length = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const std::string entry_where = where + " 第 " + std::to_string(i + 1) + " 项";
    std::string entry = checked_text(value[i], entry_where, kMostEntryChars, false);
    if (entry.empty() || entry.find(';') != std::string::npos) refuse(entry_where, "不能为空，也不能含有“;”");
    length += characters(entry) + 1;
    cell.entries.push_back(std::move(entry));
  }
  if (length + 1 > column_length(column.column)) refuse(where, "列表超过该项能保存的长度");
  return cell;
}

PortableNode read_node(const Json& node, const std::string& where) {
  if (!node.is_object()) refuse(where, "应为对象");
  PortableNode out;
  const auto name = node.find("name");
  if (name == node.end()) refuse(where, "缺少节点名称（name）");
  out.name = checked_text(*name, where + " name", column_length("JieDianName"), true);
  for (const auto& [member, value] : node.items()) {
    if (member == "name") continue;
    bool known = false;
    for (const TransferColumn& c : kTransferColumns) known = known || member == c.column;
    if (!known) refuse(where, "不认识的项 “" + member + "”");
  }
  for (const TransferColumn& c : kTransferColumns) {
    const auto value = node.find(c.column);
    out.cells.push_back(value == node.end() ? Cell{} : read_cell(*value, c, where + " " + c.column));
  }
  return out;
}

PortableModel read_model(const Json& model, const std::string& where) {
  if (!model.is_object()) refuse(where, "应为对象");
  refuse_unknown_members(model, {"key", "name", "form", "nodes"}, where);
  PortableModel out;
  const auto key = model.find("key");
  if (key == model.end() || !key->is_string() || !valid_model_key(key->get<std::string>())) {
    refuse(where, "模型键（key）应为 1 到 64 个字母、数字、“-”或“_”");
  }
  out.key = key->get<std::string>();
  const auto name = model.find("name");
  if (name == model.end()) refuse(where, "缺少模型名称（name）");
  out.name = checked_text(*name, where + " name", column_length("JieDianName"), true);
  const auto form = model.find("form");
  if (form != model.end() && !form->is_null()) {
    if (!form->is_object()) refuse(where + " form", "应为对象或 null");
    refuse_unknown_members(*form, {"name", "body"}, where + " form");
    out.has_form = true;
    out.form = checked_text(form->value("name", Json()), where + " form name", column_length("JieDianName"), true);
    const Json body = form->value("body", Json(""));
    out.form_body = body.is_null() ? "" : checked_text(body, where + " form body", kMostOtherChars, false);
  }
  const auto nodes = model.find("nodes");
  if (nodes == model.end() || !nodes->is_array()) refuse(where, "节点（nodes）应为列表");
  if (nodes->size() > kMostNodes) refuse(where, "节点太多（最多 " + std::to_string(kMostNodes) + " 个）");
  for (size_t i = 0; i < nodes->size(); ++i) {
    out.nodes.push_back(read_node((*nodes)[i], where + " 节点 " + std::to_string(i + 1)));
  }
  return out;
}

// The document of a file's text, after the checks made before parsing.
Json parse_document(std::string_view text) {
  if (text.size() > kMostModelFileBytes) {
    refuse("", "文件太大（最多 " + std::to_string(kMostModelFileBytes / (1024 * 1024)) + " MB）");
  }
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (const size_t bad = first_invalid_utf8(text); bad != std::string_view::npos) {
    refuse("", "文件不是 UTF-8 编码（第 " + std::to_string(bad + 1) + " 字节；GBK 等编码的文件请先转换为 UTF-8）");
  }
  if (nesting(text, kMostModelFileDepth) > kMostModelFileDepth) refuse("", "文件嵌套太深，不是流程模型文件");
  try {
    return Json::parse(text);
  } catch (const Json::exception& e) {
    refuse("", std::string("不是有效的 JSON：") + e.what());
  }
}

}  // namespace

std::span<const TransferColumn> transfer_columns() { return kTransferColumns; }

bool valid_model_key(std::string_view key) {
  if (key.empty() || key.size() > 64) return false;
  for (char c : key) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

std::vector<PortableModel> read_model_file(std::string_view text) {
  const Json document = parse_document(text);
  if (!document.is_object()) refuse("", "不是流程模型文件（应为 JSON 对象）");
  if (document.value("format", Json()) != kModelFileFormat) {
    refuse("", std::string("不是流程模型文件（format 应为 “") + kModelFileFormat + "”）");
  }
  const Json version = document.value("version", Json());
  if (!version.is_number_integer() || version.get<int64_t>() != kModelFileVersion) {
    refuse("",
           "文件格式版本 " + version.dump() + " 不能读取（本程序读写版本 " + std::to_string(kModelFileVersion) + "）");
  }
  refuse_unknown_members(document, {"format", "version", "models"}, "");
  const auto models = document.find("models");
  if (models == document.end() || !models->is_array()) refuse("", "模型（models）应为列表");
  if (models->size() > kMostModels) refuse("", "模型太多（最多 " + std::to_string(kMostModels) + " 个）");
  std::vector<PortableModel> out;
  std::set<std::string> keys;
  for (size_t i = 0; i < models->size(); ++i) {
    out.push_back(read_model((*models)[i], "模型 " + std::to_string(i + 1)));
    if (!keys.insert(out.back().key).second) refuse("模型 " + std::to_string(i + 1), "模型键重复：" + out.back().key);
  }
  return out;
}

std::string write_model_file(std::span<const PortableModel> models) {
  Json document = {{"format", kModelFileFormat}, {"version", kModelFileVersion}, {"models", Json::array()}};
  for (const PortableModel& model : models) {
    Json nodes = Json::array();
    for (const PortableNode& node : model.nodes) {
      Json out = {{"name", node.name}};
      for (size_t i = 0; i < std::size(kTransferColumns); ++i) {
        const Cell& cell = node.cells[i];
        if (cell.null)
          out[kTransferColumns[i].column] = nullptr;
        else if (kTransferColumns[i].kind == CellKind::kText)
          out[kTransferColumns[i].column] = cell.text;
        else
          out[kTransferColumns[i].column] = cell.entries;
      }
      nodes.push_back(std::move(out));
    }
    const Json form = model.has_form ? Json{{"name", model.form}, {"body", model.form_body}} : Json();
    document["models"].push_back(
        {{"key", model.key}, {"name", model.name}, {"form", form}, {"nodes", std::move(nodes)}});
  }
  return document.dump(2, ' ', false) + "\n";
}

}  // namespace oapx1
