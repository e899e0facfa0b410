#include "editing/node_rows.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <iterator>

#include "editing/rows.h"
#include "lookups/rows.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

using editing::value_text;

// The text items of the node form and the columns they are saved in, as the
// node page saves them (a text item not posted keeps the stored value).
constexpr std::pair<const char*, const char*> kPostedTexts[] = {
    {"JieDianName", "JieDianName"}, {"BanLiType", "BanLiType"},
    {"ProcessType", "ProcessType"}, {"TimeUnit", "TimeUnit"},
    {"WaitTime", "WaitTime"},       {"FenFaUser", "FenFaUser"},
    {"FenFaBuMen", "FenFaBuMen"},   {"BanLiRenType", "BanLiRenType"},
    {"JiaoSeUserList", "CurrentJieDianYongHu"},
};
// The check boxes of the node form, saved as "1" or "0" by their own names.
constexpr const char* kPostedFlags[] = {
    "isTaoHong",     "isImportWord", "isQianMing",         "isYinZhang", "isChaKanHenJi", "isXiuDingJiLu",
    "IsRecMark",     "isWordProtect", "isYanZhengQianMing", "IsPrint",    "isLocalSave",   "youjiantixing",
    "iszhuanban",    "isgoutong",    "isFenFa",            "isBoHui",
};

// The node's columns as the application spells them: PostgreSQL reports
// unquoted names in lower case, and the history keeps one spelling.
constexpr const char* kNodeColumns[] = {
    "OAID",        "MOAID",         "JieDianName",   "BanLiType",      "ProcessType",   "TimeUnit",
    "WaitTime",    "IsYiJianTotal", "Remark",        "BanLiRenType",   "JiaoSeUserList", "DaiLiIsAble",
    "isFirst",     "FenFaUser",     "FenFaBuMen",    "isTaoHong",      "isImportWord",  "isQianMing",
    "isYinZhang",  "isChaKanHenJi", "isXiuDingJiLu", "IsRecMark",      "isWordProtect", "isYanZhengQianMing",
    "IsPrint",     "isLocalSave",   "youjiantixing", "iszhuanban",     "isgoutong",     "isFenFa",
    "isBoHui",
};

// The application's spelling of column `name`, read at `position` of the
// row: the column at the same position of kNodeColumns is tried first, since
// "select *" gives them in the table's order. Views `name` when no node
// column has that name.
std::string_view column_spelling(std::string_view name, size_t position) {
  constexpr size_t kCount = std::size(kNodeColumns);
  if (position < kCount && name == kNodeColumns[position]) return kNodeColumns[position];
  for (size_t i = 0; i < kCount; ++i) {
    const char* column = kNodeColumns[(position + i) % kCount];
    if (ascii_iequals(column, name)) return column;
  }
  return name;
}

uint64_t fnv1a(uint64_t hash, std::string_view bytes) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

constexpr uint64_t kVersionStart = 14695981039346656037ULL;

// The version so far with one more column of the row.
uint64_t version_with(uint64_t hash, std::string_view column, std::string_view value) {
  hash = fnv1a(hash, column);
  hash = fnv1a(hash, std::string_view("\x1f", 1));
  hash = fnv1a(hash, value);
  return fnv1a(hash, std::string_view("\x1e", 1));
}

std::string version_text(uint64_t hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, hash);
  return text;
}

// Calls `column(name, value)` for each column of the row `r` stands on, in
// the table's order, with the application's spelling and null read as empty.
template <typename Column>
void each_column(const Recordset& r, Column column) {
  for (int i = 0; i < r.field_count(); ++i) {
    const Variant v = r.field(i);
    const std::string name = r.field_name(i);
    // Null and empty read alike, as the page treats them.
    column(column_spelling(name, static_cast<size_t>(i)), v.is_null() ? std::string() : value_text(v));
  }
}

// each_column of node `node`'s row; false when there is no such node.
template <typename Column>
bool each_node_column(const Variant& conn, int64_t node, Column column) {
  Variant rows = open_rows("select * from OA_Flow_Model_JieDian where OAID=" + std::to_string(node), conn);
  Recordset& r = rows.as<Recordset>();
  const bool found = !r.Eof();
  if (found) each_column(r, column);
  r.Close();
  return found;
}

}  // namespace

std::string row_version(const NodeRow& row) {
  uint64_t hash = kVersionStart;
  for (const auto& [column, value] : row) hash = version_with(hash, column, value);
  return version_text(hash);
}

std::optional<NodeRow> read_node_row(const Variant& conn, int64_t node) {
  NodeRow row;
  const bool found = each_node_column(conn, node, [&](std::string_view column, std::string value) {
    row.emplace_back(std::string(column), std::move(value));
  });
  if (!found) return std::nullopt;
  return row;
}

std::vector<NodeRow> read_node_rows(const Variant& conn, const std::string& statement) {
  Variant rows = open_rows(statement, conn);
  Recordset& r = rows.as<Recordset>();
  std::vector<NodeRow> read;
  for (; !r.Eof(); r.MoveNext()) {
    NodeRow& row = read.emplace_back();
    each_column(r, [&](std::string_view column, std::string value) {
      row.emplace_back(std::string(column), std::move(value));
    });
  }
  r.Close();
  return read;
}

std::string node_version(const Variant& conn, int64_t node) {
  uint64_t hash = kVersionStart;
  const bool found = each_node_column(conn, node, [&](std::string_view column, const std::string& value) {
    hash = version_with(hash, column, value);
  });
  return found ? version_text(hash) : std::string();
}

bool is_list_column(std::string_view column) {
  return ascii_iequals(column, "JiaoSeUserList") || ascii_iequals(column, "FenFaUser") ||
         ascii_iequals(column, "FenFaBuMen");
}

bool same_value(std::string_view column, const std::string& a, const std::string& b) {
  if (a == b) return true;
  return is_list_column(column) && list_entries(a) == list_entries(b);
}

std::vector<ColumnChange> row_changes(const NodeRow& before, const NodeRow& after) {
  std::vector<ColumnChange> changes;
  for (const auto& [column, value] : after) {
    auto old = std::find_if(before.begin(), before.end(),
                            [&](const auto& c) { return ascii_iequals(c.first, column); });
    const std::string previous = old == before.end() ? std::string() : old->second;
    // Kept as written, a list written another way included: the conflict
    // message finds the version a tab was shown by undoing lines, which
    // needs every byte. The history leaves such changes out when it shows
    // them (shown_changes).
    if (previous != value) changes.push_back({column, previous, value});
  }
  return changes;
}

NodeRow posted_row(const NodeRow& current, const Request& posted) {
  NodeRow row = current;
  auto set = [&](std::string_view column, std::string value) {
    for (auto& [name, v] : row) {
      if (ascii_iequals(name, column)) v = std::move(value);
    }
  };
  for (const auto& [column, item] : kPostedTexts) {
    const Variant value = posted.item(item);
    if (!value.is_empty()) set(column, value.str());
  }
  for (const char* flag : kPostedFlags) set(flag, script_equal(posted.item(flag), "on") ? "1" : "0");
  return row;
}

std::vector<std::pair<std::string, std::string>> row_post(const NodeRow& target) {
  std::vector<std::pair<std::string, std::string>> items;
  for (const auto& [column, item] : kPostedTexts) items.emplace_back(item, column_value(target, column));
  for (const char* flag : kPostedFlags) {
    if (column_value(target, flag) == "1") items.emplace_back(flag, "on");
  }
  if (column_value(target, "DaiLiIsAble") == "1") items.emplace_back("DaiLiIsAble", "on");
  return items;
}

std::string column_value(const NodeRow& row, std::string_view column) {
  for (const auto& [name, value] : row) {
    if (ascii_iequals(name, column)) return value;
  }
  return "";
}

}  // namespace oapx1
