#include "editing/node_order.h"

#include <algorithm>
#include <utility>

#include "editing/node_history.h"
#include "editing/node_save.h"
#include "lookups/rows.h"
#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/data/held_write.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "platform/text/utf8.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

// The history's name for a node's place in its model's list.
constexpr char kPositionColumn[] = "序号";

// The columns a new node starts with besides its model, name and type: the
// node page's defaults for a node it shows.
constexpr std::pair<const char*, const char*> kNewNodeDefaults[] = {
    {"BanLiType", "1"},      {"ProcessType", "1"},     {"TimeUnit", "天"},         {"WaitTime", "0"},
    {"IsYiJianTotal", "1"},  {"BanLiRenType", "1"},    {"JiaoSeUserList", ""},     {"DaiLiIsAble", "0"},
    {"FenFaUser", ""},       {"FenFaBuMen", ""},       {"isTaoHong", "0"},         {"isImportWord", "0"},
    {"isQianMing", "0"},     {"isYinZhang", "0"},      {"isChaKanHenJi", "0"},     {"isXiuDingJiLu", "0"},
    {"IsRecMark", "0"},      {"isWordProtect", "0"},   {"isYanZhengQianMing", "0"}, {"IsPrint", "0"},
    {"isLocalSave", "0"},    {"youjiantixing", "0"},   {"iszhuanban", "0"},        {"isgoutong", "0"},
    {"isFenFa", "0"},        {"isBoHui", "0"},
};

// What the list refuses a change posted from another version of it with.
constexpr char kListChanged[] =
    "系统提示：节点列表在您打开之后已被修改，什么也没有改变；下面显示的是当前的列表，请再试一次。";

bool is_space_at(std::string_view text, size_t pos, size_t& length) {
  if (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' || text[pos] == '\n')) {
    length = 1;
    return true;
  }
  if (text.substr(pos, 3) == "\xE3\x80\x80") {  // U+3000, the ideographic space
    length = 3;
    return true;
  }
  return false;
}

std::string node_name(const NodeRow& node) {
  const std::string name = column_value(node, "JieDianName");
  return name.empty() ? "（未命名）" : name;
}

std::vector<int64_t> ids_of(const std::vector<NodeRow>& nodes) {
  std::vector<int64_t> ids;
  for (const NodeRow& n : nodes) ids.push_back(whole_number(column_value(n, "OAID")).value_or(0));
  return ids;
}

// The model of node `node`; 0 when there is no such node.
int64_t model_of_node(const Variant& conn, int64_t node) {
  Variant rows = open_rows("select MOAID from OA_Flow_Model_JieDian where OAID=" + std::to_string(node), conn);
  Recordset& r = rows.as<Recordset>();
  const int64_t model = r.Eof() ? 0 : whole_number(r.field("MOAID").str()).value_or(0);
  r.Close();
  return model;
}

bool model_exists(const Variant& conn, int64_t model) {
  Variant rows = open_rows("select OAID from OA_Flow_Model_Header where OAID=" + std::to_string(model), conn);
  Recordset& r = rows.as<Recordset>();
  const bool found = !r.Eof();
  r.Close();
  return found;
}

// Inserts a node of model `model` named kNewNodeName with the defaults, a
// start node when `first`; its id.
int64_t insert_node(const Variant& conn, int64_t model, bool first) {
  const int64_t id = next_free_id(conn, "OA_Flow_Model_JieDian", "OAID", "NodeID");
  Variant rows = open_rows("select * from OA_Flow_Model_JieDian where OAID=0", conn);
  Recordset& r = rows.as<Recordset>();
  r.AddNew();
  r.set_field("OAID", Variant(id));
  r.set_field("MOAID", Variant(model));
  r.set_field("JieDianName", Variant(std::string(kNewNodeName)));
  r.set_field("isFirst", Variant(std::string(first ? "1" : "0")));
  for (const auto& [column, value] : kNewNodeDefaults) r.set_field(column, Variant(std::string(value)));
  r.Update();
  const int64_t made = r.field("OAID").to_integer();
  r.Close();
  return made;
}

// A change to the node a posted id names: the id checked, then in the
// model's write transaction the model's list read in order and checked
// against the version shown, and `body(model, nodes, at)` run with the
// node's place `at`; the refusal of any step, else what `body` returns.
std::string change_in_list(const Variant& conn, std::string_view node_item, std::string_view shown,
                           const std::function<std::string(int64_t, const std::vector<NodeRow>&, size_t)>& body) {
  int64_t node = 0;
  if (std::string refusal = check_id("节点编号", node_item, node); !refusal.empty()) return refusal;
  return in_model_write(conn, model_of_node(conn, node), [&]() -> std::string {
    const int64_t model = model_of_node(conn, node);
    if (model == 0) return "系统提示：流程节点（" + std::to_string(node) + "）不存在，什么也没有改变！";
    const std::vector<NodeRow> nodes = read_model_nodes(conn, model);
    if (is_conflict(shown, node_list_version(nodes))) return kListChanged;
    const std::vector<int64_t> ids = ids_of(nodes);
    return body(model, nodes, static_cast<size_t>(std::find(ids.begin(), ids.end(), node) - ids.begin()));
  });
}

}  // namespace

void record_change(const Variant& conn, const Actor& actor, int64_t model, int64_t node, std::string_view outcome,
                   std::string remark, std::vector<ColumnChange> changes) {
  NodeHistoryEntry entry;
  entry.node = node;
  entry.model = model;
  entry.account = actor.account;
  entry.name = actor.name;
  entry.address = actor.address;
  entry.outcome = std::string(outcome);
  entry.remark = std::move(remark);
  entry.changes = std::move(changes);
  record_history(conn, entry);
}

std::string ordered_nodes_sql(int64_t model, std::string_view columns) {
  return "select " + std::string(columns) +
         " from OA_Flow_Model_JieDian j left join OAPX1_NodeOrder o on o.NodeID=j.OAID where j.MOAID=" +
         std::to_string(model) + " order by case when o.Position is null then 1 else 0 end, o.Position, j.OAID";
}

std::vector<NodeRow> read_model_nodes(const Variant& conn, int64_t model) {
  return read_node_rows(conn, ordered_nodes_sql(model));
}

std::string node_list_version(const std::vector<NodeRow>& nodes) {
  NodeRow shown;
  for (const NodeRow& n : nodes) shown.emplace_back(column_value(n, "OAID"), column_value(n, "JieDianName"));
  return row_version(shown);
}

std::string check_name(std::string_view caption, std::string& name) {
  size_t begin = 0, end = name.size(), length = 0;
  while (begin < end && is_space_at(name, begin, length)) begin += length;
  while (end > begin) {
    if (name[end - 1] == ' ' || name[end - 1] == '\t' || name[end - 1] == '\r' || name[end - 1] == '\n') {
      --end;
    } else if (end - begin >= 3 && std::string_view(name).substr(end - 3, 3) == "\xE3\x80\x80") {
      end -= 3;
    } else {
      break;
    }
  }
  name = name.substr(begin, end - begin);
  if (name.empty()) return "系统提示：" + std::string(caption) + "不能为空，什么也没有改变！";
  size_t characters = 0;
  for (size_t pos = 0; pos < name.size(); ++characters) utf8_next(name, pos);
  if (characters > kNameCharacters) {
    return "系统提示：" + std::string(caption) + "最多 " + std::to_string(kNameCharacters) + " 个字符，提交了 " +
           std::to_string(characters) + " 个，什么也没有改变！";
  }
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) return "系统提示：" + std::string(caption) + "中有不能保存的控制字符，什么也没有改变！";
  }
  return "";
}

std::string check_id(std::string_view caption, std::string_view item, int64_t& id) {
  const std::optional<int64_t> number = whole_number(item);
  if (!number) return "系统提示：" + std::string(caption) + "“" + std::string(item) + "”不是整数，什么也没有改变！";
  id = *number;
  return "";
}

std::string in_model_write(const Variant& conn, int64_t model, const std::function<std::string()>& body) {
  Connection& c = conn.as<Connection>();
  HeldWrite write;
  write.begin(c, "OA_Flow_Model_Header", "OAID", model);
  std::string refusal;
  try {
    refusal = body();
  } catch (...) {
    write.rollback(c);
    throw;
  }
  if (refusal.empty()) {
    write.commit(c);
  } else {
    write.rollback(c);
  }
  return refusal;
}

int64_t next_free_id(const Variant& conn, std::string_view table, std::string_view key,
                     std::string_view history_column) {
  DbSession& session = conn.as<Connection>().session();
  if (session.dialect() != SqlDialect::kSqlite) {
    // The identity's own sequence, taken now: it never gives a number twice.
    const DbResult next = session.run("SELECT nextval(pg_get_serial_sequence('" + ascii_lower(table) + "', '" +
                                          ascii_lower(key) + "'))",
                                      {});
    return next.rows.at(0).at(0).to_integer();
  }
  int64_t largest = 0;
  for (const std::string& sql :
       {"select max(" + std::string(key) + ") from " + std::string(table),
        "select max(" + std::string(history_column) + ") from OAPX1_NodeHistory"}) {
    Variant rows = open_rows(sql, conn);
    Recordset& r = rows.as<Recordset>();
    if (!r.Eof() && !r.field(0).is_null()) largest = std::max(largest, r.field(0).to_integer());
    r.Close();
  }
  return largest + 1;
}

void write_node_order(const Variant& conn, int64_t model, const std::vector<int64_t>& ids) {
  Connection& c = conn.as<Connection>();
  c.execute(Variant("delete from OAPX1_NodeOrder where ModelID=" + std::to_string(model)));
  for (size_t i = 0; i < ids.size(); ++i) {
    c.execute(Variant("insert into OAPX1_NodeOrder (NodeID, ModelID, Position) values (" + std::to_string(ids[i]) +
                      "," + std::to_string(model) + "," + std::to_string(i + 1) + ")"));
  }
}

ModelChange add_node(const Variant& conn, const Actor& actor, std::string_view model_item, std::string_view after,
                     std::string_view shown) {
  ModelChange change;
  int64_t model = 0, after_id = 0;
  change.refusal = check_id("流程模型编号", model_item, model);
  if (change.refusal.empty() && !after.empty()) change.refusal = check_id("节点编号", after, after_id);
  if (!change.refusal.empty()) return change;
  change.refusal = in_model_write(conn, model, [&]() -> std::string {
    if (!model_exists(conn, model)) return "系统提示：流程模型（" + std::to_string(model) + "）不存在，什么也没有改变！";
    const std::vector<NodeRow> nodes = read_model_nodes(conn, model);
    if (is_conflict(shown, node_list_version(nodes))) return kListChanged;
    std::vector<int64_t> ids = ids_of(nodes);
    auto place = ids.end();
    if (after_id != 0) {
      place = std::find(ids.begin(), ids.end(), after_id);
      if (place == ids.end()) return "系统提示：节点（" + std::to_string(after_id) + "）不在此流程模型中，什么也没有改变！";
      ++place;
    }
    const size_t position = static_cast<size_t>(place - ids.begin());
    change.id = insert_node(conn, model, ids.empty());
    ids.insert(ids.begin() + static_cast<long>(position), change.id);
    write_node_order(conn, model, ids);
    const std::string where = after_id == 0 ? "在末尾" : "在“" + node_name(nodes[position - 1]) + "”之后";
    record_change(conn, actor, model, change.id, kOutcomeNodeAdded, where + "添加节点“" + std::string(kNewNodeName) + "”",
           {{"JieDianName", "", kNewNodeName}, {kPositionColumn, "", std::to_string(position + 1)}});
    return "";
  });
  if (!change.refusal.empty()) change.id = 0;
  return change;
}

ModelChange move_node(const Variant& conn, const Actor& actor, std::string_view node_item, bool up,
                      std::string_view shown) {
  ModelChange change;
  change.refusal = change_in_list(conn, node_item, shown,
                                  [&](int64_t model, const std::vector<NodeRow>& nodes, size_t at) -> std::string {
    if (up ? at == 0 : at + 1 >= nodes.size()) {
      return "系统提示：节点“" + node_name(nodes[at]) + "”已是" + (up ? "第一个" : "最后一个") + "，什么也没有改变！";
    }
    std::vector<int64_t> ids = ids_of(nodes);
    const size_t to = up ? at - 1 : at + 1;
    std::swap(ids[at], ids[to]);
    write_node_order(conn, model, ids);
    record_change(conn, actor, model, ids[to], kOutcomeNodeMoved,
                  std::string(up ? "上移" : "下移") + "节点“" + node_name(nodes[at]) + "”",
                  {{kPositionColumn, std::to_string(at + 1), std::to_string(to + 1)}});
    return "";
  });
  return change;
}

ModelChange remove_node(const Variant& conn, const Actor& actor, std::string_view node_item, std::string_view shown) {
  ModelChange change;
  change.refusal = change_in_list(conn, node_item, shown,
                                  [&](int64_t model, const std::vector<NodeRow>& nodes, size_t at) -> std::string {
    // The line keeps every value the node had, so that it can be made again.
    std::vector<ColumnChange> changes = {{kPositionColumn, std::to_string(at + 1), ""}};
    for (const auto& [column, value] : nodes[at]) {
      if (!value.empty()) changes.push_back({column, value, ""});
    }
    std::vector<int64_t> ids = ids_of(nodes);
    const int64_t node = ids[at];
    conn.as<Connection>().execute(Variant("delete from OA_Flow_Model_JieDian where OAID=" + std::to_string(node)));
    ids.erase(ids.begin() + static_cast<long>(at));
    write_node_order(conn, model, ids);
    record_change(conn, actor, model, node, kOutcomeNodeRemoved, "删除节点“" + node_name(nodes[at]) + "”",
                  std::move(changes));
    return "";
  });
  return change;
}

}  // namespace oapx1
