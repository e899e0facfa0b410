// What exporting and importing workflow models read of an installation: its
// directory (accounts, departments by path) and a model's nodes in order.
#ifndef OAPX1_EDITING_MODEL_ROWS_H_
#define OAPX1_EDITING_MODEL_ROWS_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "editing/department_paths.h"
#include "editing/model_file.h"
#include "editing/node_rows.h"
#include "platform/script/variant.h"

namespace oapx1::editing {

// The directory of one installation, read at once.
struct TransferDirectory {
  // Reads the accounts and departments of `conn`. Fails as the data layer does.
  explicit TransferDirectory(const Variant& conn);

  // The account `login` names (in any letter case): its stored login and
  // full name; nullptr when there is none.
  const std::pair<std::string, std::string>* account(const std::string& login) const;

  DepartmentPaths departments;                                          // paths and ids
  std::map<std::string, std::pair<std::string, std::string>> accounts;  // by lower-case login: login, full name
};

// One node of a model as stored.
struct StoredNode {
  int64_t id = 0;        // OA_Flow_Model_JieDian.OAID
  int64_t position = 0;  // its line of OAPX1_NodeOrder; 0 when none
  PortableNode node;     // in portable form
  NodeRow stored;        // JieDianName and the transfer columns, null as ""
};

// The nodes of model `model` in the model's order: those with a line of
// OAPX1_NodeOrder by it, then the others by id. A department id the
// directory has no path for becomes "#ID". Fails as the data layer does.
std::vector<StoredNode> read_model_nodes(const Variant& conn, int64_t model, const DepartmentPaths& departments);

// The stored text of a cell: text as it is, a list as ";a;b;" ("" for an
// empty one), logins as given and department paths as their ids (each must
// name one department); null for a null cell.
Variant stored_value(const Cell& cell, CellKind kind, const DepartmentPaths& departments);

// `text` as a SQL literal, quoted (sql_text).
std::string quoted_text(const std::string& text);

// The first column of the first row of `sql`, as text; "" when there is no
// row or it is null. Fails as the data layer does.
std::string first_text(const Variant& conn, const std::string& sql);

}  // namespace oapx1::editing

#endif  // OAPX1_EDITING_MODEL_ROWS_H_
