// A workflow node's row as the editing rules read it: its columns in the
// application's spelling, its version, and what a save changes.
#ifndef OAPX1_EDITING_NODE_ROWS_H_
#define OAPX1_EDITING_NODE_ROWS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/script/variant.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

// One column a save changed (or, for a refused save, would have changed).
struct ColumnChange {
  std::string column;  // the node column
  std::string before;  // its stored value ("" for null)
  std::string after;   // the value saved or posted
};

// The values of one node row (OA_Flow_Model_JieDian), column by column, in
// the table's order, null read as "".
using NodeRow = std::vector<std::pair<std::string, std::string>>;

// A cheap, stable version of a row: FNV-1a over its columns and values, in hex.
std::string row_version(const NodeRow& row);

// The row of node `node` on the open connection `conn`; nullopt when there is
// none. Fails as the data layer does.
std::optional<NodeRow> read_node_row(const Variant& conn, int64_t node);

// The node rows `statement` reads (every column of the node table, in its
// order, as "select *" gives them), each as read_node_row makes it, in the
// order read. Fails as the data layer does.
std::vector<NodeRow> read_node_rows(const Variant& conn, const std::string& statement);

// row_version of read_node_row(conn, node), read without building the row;
// "" when there is no such node. Fails as the data layer does.
std::string node_version(const Variant& conn, int64_t node);

// Whether `column` (any letter case) holds a ';'-list of accounts or
// departments: the handlers (JiaoSeUserList), the distribution users
// (FenFaUser) and departments (FenFaBuMen).
bool is_list_column(std::string_view column);

// Whether two values of `column` are the same setting: a list column's
// values when they name the same entries in the same order (";a;b;" and
// "a;b" are one list; empty entries do not count), any other column's when
// they are the same text.
bool same_value(std::string_view column, const std::string& a, const std::string& b);

// The columns whose values differ as text between `before` and `after`
// (both rows of one table, matched by column name); a list written another
// way counts, so that undoing the changes gives back the row byte for byte.
std::vector<ColumnChange> row_changes(const NodeRow& before, const NodeRow& after);

// The node row a posted save would write over `current`: the text items the
// form carries (a text item not posted keeps its value, as the page saves
// them) and the check boxes. For the history of a refused save.
NodeRow posted_row(const NodeRow& current, const Request& posted);

// The form items a node save posts to store `target`'s values, as the node
// form names them: every text item, each check box that is "1" as "on"
// (one that is not, left out, as a browser leaves it out), and the
// handlers' deputies box (DaiLiIsAble) likewise. The inverse of posted_row.
std::vector<std::pair<std::string, std::string>> row_post(const NodeRow& target);

// The value of `column` in `row` (matched without regard to letter case); ""
// when the row has no such column.
std::string column_value(const NodeRow& row, std::string_view column);

}  // namespace oapx1

#endif  // OAPX1_EDITING_NODE_ROWS_H_
