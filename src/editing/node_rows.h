// A workflow node's row as the editing rules read it: its columns in the
// application's spelling, its version, and what a save changes.
#ifndef OAPX1_EDITING_NODE_ROWS_H_
#define OAPX1_EDITING_NODE_ROWS_H_

#include <cstdint>
#include <optional>
#include <string>
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

// The columns whose values differ between `before` and `after` (both rows of
// one table, matched by column name).
std::vector<ColumnChange> row_changes(const NodeRow& before, const NodeRow& after);

// The node row a posted save would write over `current`: the text items the
// form carries (a text item not posted keeps its value, as the page saves
// them) and the check boxes. For the history of a refused save.
NodeRow posted_row(const NodeRow& current, const Request& posted);

// The value of `column` in `row` (matched without regard to letter case); ""
// when the row has no such column.
std::string column_value(const NodeRow& row, std::string_view column);

}  // namespace oapx1

#endif  // OAPX1_EDITING_NODE_ROWS_H_
